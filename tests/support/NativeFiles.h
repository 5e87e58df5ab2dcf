#pragma once

// Native image files for tests, fuzz seeds and benchmarks, written by our own devices: a raw-metadata
// document for a frame geometry, the pattern every frame holds, and a whole file (metadata and frames)
// written through QpxFileDevice and its frame devices.
//
//   ZanTest::NativeGeometry g{"gray16", 64, 32, 16, 16, 1};
//   Zan::QpxFileDevice file(path);
//   ZanTest::writeNativeFile(file, g, 3);   // opens with Write | Update, writes, closes

#include <support/ExperimentDocs.h>

#include <io/DefaultInitAllocator.h>
#include <io/IoDevice.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace ZanTest {

struct NativeGeometry {
    const char* name;
    long width;
    long height;
    long bitsUsed;
    long bitsStored;
    long components;
    bool lossless = false; // frames zlib-compressed
};

inline long nativeSampleBytes(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
}
inline long nativeLineBytes(const NativeGeometry& g) {
    return (g.width * nativeSampleBytes(g.bitsStored) * g.components + 3) / 4 * 4;
}

// Sample c of pixel (x, y) of frame f, inside the used bits (a float for 32 bits).
inline std::uint64_t nativeSample(const NativeGeometry& g, long f, long x, long y, long c) {
    if (g.bitsUsed == 32) {
        const float v = static_cast<float>(x) - 0.5f * static_cast<float>(y) + 100.0f * c + 1000.0f * f;
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }
    const std::uint64_t v = x * 3 + y * 257 + c * 19 + f * 101 + 1;
    return g.bitsUsed >= 64 ? v : v & ((std::uint64_t(1) << g.bitsUsed) - 1);
}

// Frame f in the plane layout: rows of nativeLineBytes, padding zero.
inline Zan::ByteVector nativePlane(const NativeGeometry& g, long f) {
    const long s = nativeSampleBytes(g.bitsStored), line = nativeLineBytes(g);
    Zan::ByteVector plane(static_cast<std::size_t>(line * g.height), 0);
    for (long y = 0; y < g.height; ++y)
        for (long x = 0; x < g.width; ++x)
            for (long c = 0; c < g.components; ++c) {
                const std::uint64_t v = nativeSample(g, f, x, y, c);
                std::memcpy(plane.data() + y * line + (x * g.components + c) * s, &v, static_cast<size_t>(s));
            }
    return plane;
}

// A raw-metadata document with all four parts: the geometry's attributes, a time loop of frames frames,
// one channel of the geometry's components and a text-info author.
inline nlohmann::json nativeRaw(const NativeGeometry& g, std::uint32_t frames) {
    nlohmann::json attributes = {{"uiWidth_u32", g.width},
                                 {"uiWidthBytes_u32", nativeLineBytes(g)},
                                 {"uiHeight_u32", g.height},
                                 {"uiComp_u32", g.components},
                                 {"uiBpcInMemory_u32", g.bitsStored},
                                 {"uiBpcSignificant_u32", g.bitsUsed},
                                 {"uiSequenceCount_u32", frames},
                                 {"eCompression_i32", g.lossless ? 0 : 2},
                                 {"dCompressionParam_dbl", 0.0}};
    nlohmann::json planes = {
        {"uiCount_u32", 1},
        {"sPlaneNew_dic",
         {{positionKey(0), {{"uiCompCount_u32", g.components}, {"sDescription_str", "channel 0"}}}}}};
    return {{"Attributes_dic", attributes},
            {"Experiment_dic", level(TimeLevel, timePars(frames))},
            {"Metadata_dic", {{"sPicturePlanes_dic", planes}}},
            {"TextInfo_dic", {{"TextInfoItem_4_str", "Ann"}}}};
}

// Writes frame f's pattern into an open frame device.
inline void writeNativeFrame(Zan::IoImageDataDevice& frame, const NativeGeometry& g, long f) {
    const Zan::ByteVector plane = nativePlane(g, f);
    frame.writeCurrentPlane(plane.data(), nativeLineBytes(g));
}

// Creates the file of an unopened device: raw metadata, then every frame's pattern; closes it.
inline void writeNativeFile(Zan::QpxFileDevice& file, const NativeGeometry& g, std::uint32_t frames) {
    if (!file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
        throw std::runtime_error("writeNativeFile: cannot create the file");
    file.setRawMetadata(nativeRaw(g, frames));
    for (std::uint32_t f = 0; f < frames; ++f) {
        const auto frame = file.imageData(f);
        if (!frame->open(Zan::IoImageDataDevice::Write))
            throw std::runtime_error("writeNativeFile: cannot open frame " + std::to_string(f));
        writeNativeFrame(*frame, g, f);
        frame->close();
    }
    file.close();
}

} // namespace ZanTest
