#pragma once

// The image file facade and the typed metadata records. Records are plain value types; their JSON codecs
// are specialisations of nlohmann::adl_serializer, so `doc.get<IoImageFile::Attributes>()` and
// `json doc = record` work.

#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace Zan {

class ZAN_EXPORT IoImageFile {
public:
    // ---- Record enumerations (codes as stored; JSON carries their names).
    enum PixelDataFormat : std::int32_t { Unsigned = 0, Float = 1 };
    enum AxisInterpretation : std::int32_t { Distance = 0, Time = 1 };
    enum CompressionType : std::int32_t { NoCompression = 0, Lossless = 1, Lossy = 2 };
    enum ExperimentLoopType : std::int32_t {
        UnknownLoop = 0,
        XYPosLoop = 1,
        TimeLoop = 2,
        NETimeLoop = 3,
        ZStackLoop = 4
    };

    // ======== Attributes and text-info records ========



    // ======== end of attributes and text-info records ========


    // ======== Global and channel metadata records ========

    // What a channel is: its name, position, colour (red in the lowest byte) and wavelengths.
    struct ChannelInfo {
        std::string name;
        std::int64_t index = 0;
        std::uint32_t colorRGB = 0xFFFFFFFFu;
        double excitationLambdaNm = 0.0;
        double emissionLambdaNm = 0.0;
    };

    // Optics of a channel; modalityFlags holds the modality names of the channel.
    struct MicroscopeInfo {
        std::string objectiveName;
        double objectiveMagnification = 1.0;
        double objectiveNumericalAperture = 1.0;
        double projectiveMagnification = 1.0;
        double zoomMagnification = 1.0;
        double immersionRefractiveIndex = 1.0;
        double pinholeDiameterUm = 1.0;
        std::set<std::string> modalityFlags;
    };

    // Geometry and calibration of a channel's volume; per-axis arrays are x, y, z.
    struct VolumeInfo {
        std::array<bool, 3> axesCalibrated{};
        std::array<double, 3> axesCalibration{};
        std::array<AxisInterpretation, 3> axesInterpretation{Distance, Distance, Distance};
        std::array<std::int64_t, 3> voxelCount{};
        std::int64_t bitsPerComponentInMemory = 0;
        std::int64_t bitsPerComponentSignificant = 0;
        std::int64_t componentCount = 0;
        PixelDataFormat componentDataFormat = Unsigned;
        // Camera to stage, row by row.
        std::array<double, 4> cameraTransformationMatrix{1.0, 0.0, 0.0, 1.0};
        // The two rows of the affine map from pixel to stage coordinates.
        std::array<double, 6> pixelToStageTransformationMatrix{1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
    };

    struct ChannelMetadata {
        ChannelInfo channel;
        // Loop type name to the loop's position in the experiment.
        std::map<std::string, std::int32_t> loops;
        MicroscopeInfo microscope;
        VolumeInfo volume;
    };

    // The metadata document: frame count and the channels in channel order.
    struct Metadata {
        std::int64_t frameCount = 0;
        std::vector<ChannelMetadata> channels;
    };

    // ======== end of global and channel metadata records ========


    // ======== Frame metadata records ========



    // ======== end of frame metadata records ========


    // ======== Experiment loop record ========



    // ======== end of experiment loop record ========


    // ======== Facade ========



    // ======== end of facade ========
};

} // namespace Zan

// ======== Record codecs ========
namespace nlohmann {

// ---- attributes and text-info codecs



// ---- global and channel metadata codecs

template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::ChannelInfo> {
    static void from_json(const json& j, Zan::IoImageFile::ChannelInfo& r);
    static void to_json(json& j, const Zan::IoImageFile::ChannelInfo& r);
};

template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::MicroscopeInfo> {
    static void from_json(const json& j, Zan::IoImageFile::MicroscopeInfo& r);
    static void to_json(json& j, const Zan::IoImageFile::MicroscopeInfo& r);
};

template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::VolumeInfo> {
    static void from_json(const json& j, Zan::IoImageFile::VolumeInfo& r);
    static void to_json(json& j, const Zan::IoImageFile::VolumeInfo& r);
};

template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::ChannelMetadata> {
    static void from_json(const json& j, Zan::IoImageFile::ChannelMetadata& r);
    static void to_json(json& j, const Zan::IoImageFile::ChannelMetadata& r);
};

template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::Metadata> {
    static void from_json(const json& j, Zan::IoImageFile::Metadata& r);
    static void to_json(json& j, const Zan::IoImageFile::Metadata& r);
};

// ---- frame metadata codecs



// ---- experiment loop codecs



} // namespace nlohmann
