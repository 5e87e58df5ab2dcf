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



// ---- global and channel metadata codecs



// ---- frame metadata codecs



// ---- experiment loop codecs



} // namespace nlohmann
