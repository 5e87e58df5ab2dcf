#pragma once

// The image file facade and the typed metadata records. Records are plain value types; their JSON codecs
// are specialisations of nlohmann::adl_serializer, so `doc.get<IoImageFile::Attributes>()` and
// `json doc = record` work.

#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
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



// ---- frame metadata codecs



// ---- experiment loop codecs



} // namespace nlohmann
