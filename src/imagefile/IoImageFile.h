#pragma once

// The image file facade and the typed metadata records. Records are plain value types; their JSON codecs
// are specialisations of nlohmann::adl_serializer, so `doc.get<IoImageFile::Attributes>()` and
// `json doc = record` work.

#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <io/IoImageFileDevice.h>
#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
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

    // The attributes document: geometry, pixel format, frame count, tiling and compression. Fields are
    // in the alphabetical order of their JSON keys.
    struct Attributes {
        std::int64_t bitsPerComponentInMemory = 0;
        std::int64_t bitsPerComponentSignificant = 0;
        std::int64_t componentCount = 0;
        double compressionLevel = 0.0;
        CompressionType compressionType = NoCompression;
        std::int64_t heightPx = 0;
        PixelDataFormat pixelDataType = Unsigned;
        std::int64_t sequenceCount = 0;
        std::int64_t tileHeightPx = 0; // 0 when the frames are not tiled
        std::int64_t tileWidthPx = 0;
        std::int64_t widthBytes = 0; // bytes per image row
        std::int64_t widthPx = 0;
    };

    // The text-information document: fifteen UTF-8 strings, each under the JSON key of its name.
    struct TextInfo {
        std::string imageId;
        std::string type;
        std::string group;
        std::string sampleId;
        std::string author;
        std::string description;
        std::string capturing;
        std::string sampling;
        std::string location;
        std::string date;
        std::string conclusion;
        std::string info1;
        std::string info2;
        std::string optics;
        std::string appVersion;
    };

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

    // Acquisition time of one channel of a frame.
    struct FrameTime {
        double relativeTimeMs = 0.0;          // since the start of the acquisition
        double absoluteJulianDayNumber = 0.0; // Julian day number with fraction
        std::int32_t timerSourceHardware = 0; // 1: from the hardware timer ("NIDAQ" in JSON)
    };
    // Stage position of one channel of a frame.
    struct FramePosition {
        std::array<double, 3> stagePositionUm{0.0, 0.0, 0.0}; // x, y, z in micrometres
    };
    struct ChannelFrameMetadata {
        FrameTime time;
        FramePosition position;
    };
    // The frame metadata document: one entry per channel, in channel order.
    struct FrameMetadata {
        std::vector<ChannelFrameMetadata> channels;
    };

    // ======== end of frame metadata records ========


    // ======== Experiment loop record ========

    // One loop of the experiment document; the experiment is a vector of them, outermost first. Loop types
    // without a code of their own ("XYDiscrLoop", "CustomLoop", ...) read as UnknownLoop.
    struct ExperimentLoop {
        ExperimentLoopType type = UnknownLoop;
        std::int32_t count = 0;
        std::int32_t nestingLevel = 0;
        nlohmann::json parameters; // type-specific, carried unchanged; null in a new record
    };

    // ======== end of experiment loop record ========


    // ======== Facade ========

    // One image file of any supported kind, chosen by its name: the native container (".qpx"), TIFF
    // (".tif", ".tiff", ".stk") or a JSON-described image set (".json"), tested in that order. The facade
    // owns its device; it adds no state of its own, and device failures pass through it unchanged.
    //
    // A facade may hold no device (no kind accepts the name, or none was given): then open returns false,
    // isNull is true, and every other member throws std::logic_error "IoImageFile: no device".
    //
    // Thread safety: a facade and its device are used by one thread at a time; the static operations
    // share nothing.

    // The device of the first kind whose name test accepts the name, constructed but not opened; null
    // when none does.
    static std::unique_ptr<IoImageFileDevice> createIoImageFileDevice(const std::string& name);
    static std::unique_ptr<IoImageFileDevice> createIoImageFileDevice(const std::wstring& name);

    explicit IoImageFile(std::unique_ptr<IoImageFileDevice>&& device);
    explicit IoImageFile(const std::string& name);
    explicit IoImageFile(const char* name) : IoImageFile(std::string(name)) {}
    explicit IoImageFile(const std::wstring& name);
    IoImageFile(const IoImageFile&) = delete;
    IoImageFile& operator=(const IoImageFile&) = delete;
    virtual ~IoImageFile();

    bool isNull() const { return !device_; }
    bool isValid() const { return static_cast<bool>(device_); }

    // ---- Forwards to the device.
    // Without a device: false, and errorCode is left as it was.
    bool open(IoDevice::OpenMode mode, IoImageFileDevice::OpenOptions options, int* errorCode);
    void close();
    IoDevice::OpenMode openMode() const;
    std::string filename() const;
    unsigned sequenceCount();
    bool sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex);
    std::vector<unsigned> loopIndexes(unsigned sequenceIndex);
    std::vector<std::vector<unsigned>> allLoopIndexes();
    // The caller owns the frame device; it must not outlive this facade.
    std::unique_ptr<IoImageDataDevice> imageData(unsigned sequenceIndex);

    // ---- Open state: any mode; the Read bit; the Write, Append or Update bit.
    bool isOpen() const;
    bool isOpenForRead() const;
    bool isOpenForWrite() const;

    // ---- Typed metadata: the device's documents through the record codecs, whole or not at all.
    Attributes attributes();
    Metadata metadata();
    FrameMetadata frameMetadata(unsigned sequenceIndex);
    std::vector<ExperimentLoop> experiment();
    TextInfo textInfo();
    void setAttributes(const Attributes& attributes);
    void setMetadata(const Metadata& metadata);
    void setFrameMetadata(unsigned sequenceIndex, const FrameMetadata& frameMetadata);
    void setExperiment(const std::vector<ExperimentLoop>& experiment);
    void setTextInfo(const TextInfo& textInfo);

    // ---- Whole files. The kind is the first whose test accepts the name (both names for copy and move);
    // none throws std::runtime_error "Unsupported format!" or "Unsupported format or from/to differ!"
    // before anything is touched. A kind whose images span several files does the work itself; for the
    // others the file system does. Failures of the work are reported as false.
    static bool deleteFile(const std::string& name);
    static bool copyFile(const std::string& from, const std::string& to, bool overwrite);
    static bool moveFile(const std::string& from, const std::string& to);

private:
    // The device, or std::logic_error "IoImageFile: no device".
    IoImageFileDevice& device() const;

    std::unique_ptr<IoImageFileDevice> device_;

    // ======== end of facade ========
};

} // namespace Zan

// ======== Record codecs ========
namespace nlohmann {

// ---- attributes and text-info codecs

// Reading updates the record: a key the document lacks keeps the attributes field as it was, and empties
// the text-info string. An enumeration name outside its table reads as code 0. The library's errors pass
// on (306 for an attributes document that is not an object, 302 for a member of the wrong kind); a
// text-info document that is not an object changes nothing. Writing always gives every key.
template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::Attributes> {
    static void from_json(const json& j, Zan::IoImageFile::Attributes& r);
    static void to_json(json& j, const Zan::IoImageFile::Attributes& r);
};

template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::TextInfo> {
    static void from_json(const json& j, Zan::IoImageFile::TextInfo& r);
    static void to_json(json& j, const Zan::IoImageFile::TextInfo& r);
};

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

// Readers update the record they are given: an absent key leaves a field, except the time and position
// readers, whose absent keys read as 0. Errors of the JSON library pass to the caller.
template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::FrameTime> {
    static void from_json(const json& j, Zan::IoImageFile::FrameTime& r);
    static void to_json(json& j, const Zan::IoImageFile::FrameTime& r);
};
template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::FramePosition> {
    static void from_json(const json& j, Zan::IoImageFile::FramePosition& r);
    static void to_json(json& j, const Zan::IoImageFile::FramePosition& r);
};
template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::ChannelFrameMetadata> {
    static void from_json(const json& j, Zan::IoImageFile::ChannelFrameMetadata& r);
    static void to_json(json& j, const Zan::IoImageFile::ChannelFrameMetadata& r);
};
// Reading appends the document's channels after those the record holds; anything but an object with a
// "channels" array leaves the record as it is.
template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::FrameMetadata> {
    static void from_json(const json& j, Zan::IoImageFile::FrameMetadata& r);
    static void to_json(json& j, const Zan::IoImageFile::FrameMetadata& r);
};

// ---- experiment loop codecs

// A loop's "parameters" may be any JSON value; one nested deeper than 256 levels is refused with
// std::runtime_error.
template <>
struct ZAN_EXPORT adl_serializer<Zan::IoImageFile::ExperimentLoop> {
    static void from_json(const json& j, Zan::IoImageFile::ExperimentLoop& r);
    static void to_json(json& j, const Zan::IoImageFile::ExperimentLoop& r);
};
// Reading appends one loop per element of an array; null and an empty object append nothing; any other
// value raises the JSON library's type error 305.
template <>
struct ZAN_EXPORT adl_serializer<std::vector<Zan::IoImageFile::ExperimentLoop>> {
    static void from_json(const json& j, std::vector<Zan::IoImageFile::ExperimentLoop>& r);
    static void to_json(json& j, const std::vector<Zan::IoImageFile::ExperimentLoop>& r);
};

} // namespace nlohmann
