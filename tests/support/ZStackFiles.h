#pragma once

// Native files with a Z stack for the split and merge tests and benchmarks, written by our own devices:
// frames of the NativeFiles.h pattern for every plane of a Z-stack loop, alone or nested with a time or
// XY loop, and chunks beside the metadata and frames that a split copies (per-frame custom data, a cache,
// a variant, picture metadata of another frame).
//
//   ZanTest::ZStackLayout layout{ZanTest::ZStackLayout::TimeAround, 2, 5};
//   ZanTest::writeZStackFile(path, {"gray16", 13, 11, 16, 16, 1}, layout);

#include <support/ExperimentDocs.h>
#include <support/NativeFiles.h>

#include <io/DefaultInitAllocator.h>
#include <io/IoDevice.h>
#include <qpx/QpxFileDevice.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

struct ZStackLayout {
    enum Loops {
        ZOnly,      // the Z stack alone
        TimeAround, // a time loop of outer points, the Z stack inside it
        XYAround,   // an XY loop of outer points, the Z stack inside it
        ZAroundTime // the Z stack outside, a time loop of outer points inside it
    };
    Loops loops = ZOnly;
    long outer = 1; // points of the other loop
    long planes = 1;
    long stackType = 0; // "iType_i32": from 4 on the stack runs downward from its high end
    bool chunks = true; // custom data and other chunks besides the metadata and frames

    long frames() const { return loops == ZOnly ? planes : outer * planes; }
};

// Planes from 10.0 to 20.0 µm, the step left for the reader to derive.
inline nlohmann::json zStackPars(const ZStackLayout& l) {
    return zPars(static_cast<std::uint64_t>(l.planes), 10.0, 20.0, 0.0, 15.0, static_cast<int>(l.stackType));
}

inline nlohmann::json zStackExperiment(const ZStackLayout& l) {
    const auto outer = static_cast<std::uint64_t>(l.outer);
    const nlohmann::json z = level(ZStackLevel, zStackPars(l));
    switch (l.loops) {
    case ZStackLayout::TimeAround:
        return level(TimeLevel, timePars(outer), {z});
    case ZStackLayout::XYAround: {
        std::vector<std::pair<double, double>> points;
        for (long i = 0; i < l.outer; ++i)
            points.emplace_back(100.0 * i, -50.0 * i);
        return level(XYPosLevel, xyPars(points), {z});
    }
    case ZStackLayout::ZAroundTime:
        return level(ZStackLevel, zStackPars(l), {level(TimeLevel, timePars(outer))});
    default:
        return z;
    }
}

inline nlohmann::json zStackRaw(const NativeGeometry& g, const ZStackLayout& l) {
    nlohmann::json raw = nativeRaw(g, static_cast<std::uint32_t>(l.frames()));
    raw["Experiment_dic"] = zStackExperiment(l);
    return raw;
}

// bytes bytes of a recognisable pattern that starts from seed.
inline Zan::ByteVector patternBytes(std::size_t bytes, unsigned seed) {
    Zan::ByteVector data(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<char>(seed + 7 * i);
    return data;
}

// Creates the file: raw metadata, every frame's pattern and, with l.chunks, "CustomData|X!" (8 bytes per
// frame), "CustomData|AcqTimesCache!", "CustomDataVar|X!" and "ImageMetadataSeqLV|1!".
inline void writeZStackFile(const std::string& path, const NativeGeometry& g, const ZStackLayout& l) {
    Zan::QpxFileDevice file(path);
    if (!file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
        throw std::runtime_error("writeZStackFile: cannot create " + path);
    file.setRawMetadata(zStackRaw(g, l));
    for (long f = 0; f < l.frames(); ++f)
        file.setImageData(nativePlane(g, f), static_cast<unsigned>(f));
    if (l.chunks) {
        const auto frames = static_cast<std::size_t>(l.frames());
        file.setChunkedData("CustomData|X!", patternBytes(8 * frames, 1));
        file.setChunkedData("CustomData|AcqTimesCache!", patternBytes(8 * frames, 2));
        file.setChunkedData("CustomDataVar|X!", patternBytes(40, 3));
        file.setChunkedData("ImageMetadataSeqLV|1!", patternBytes(24, 4));
    }
    file.close();
}

} // namespace ZanTest
