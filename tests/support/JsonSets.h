#pragma once

// JSON image sets for tests and fuzz seeds, written through our own set device: the attributes of a
// geometry, the pattern every frame holds, and a whole set (description and TIFF frames).
//
//   ZanTest::SetGeometry g{64, 32, 16, 3, 4};
//   Zan::JsonFileDevice set(dir.file("set.json"));
//   ZanTest::writeSet(set, g, ZanTest::FileLayout::PerComponent);   // opens with Write, writes, closes

#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <jsonset/JsonFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

struct SetGeometry {
    long width;
    long height;
    long bits; // 8 or 16
    long components;
    long frames;
};

enum class FileLayout {
    PerComponent, // the generated names: one file per frame and component
    PerFrame,     // one file per frame, named frameNNN.tif
};

inline long setSampleBytes(const SetGeometry& g) {
    return g.bits <= 8 ? 1 : 2;
}
inline long setLineBytes(const SetGeometry& g) {
    return g.width * g.components * setSampleBytes(g);
}

// The attributes document a writer gives (the rest is defaulted).
inline nlohmann::json setAttributes(const SetGeometry& g) {
    return {{"widthPx", g.width},
            {"heightPx", g.height},
            {"componentCount", g.components},
            {"bitsPerComponentInMemory", g.bits},
            {"bitsPerComponentSignificant", g.bits},
            {"sequenceCount", g.frames}};
}

// Component c of pixel (x, y) of frame f: every component of a pixel distinct.
inline std::uint64_t setSample(const SetGeometry& g, long f, long x, long y, long c) {
    return static_cast<std::uint64_t>(x * 5 + y * 71 + c * 40 + f * 13 + 1) & ((1u << g.bits) - 1);
}

// Frame f packed: rows of setLineBytes.
inline std::vector<char> setFrame(const SetGeometry& g, long f) {
    const long s = setSampleBytes(g), line = setLineBytes(g);
    std::vector<char> pixels(static_cast<std::size_t>(line * g.height));
    for (long y = 0; y < g.height; ++y)
        for (long x = 0; x < g.width; ++x)
            for (long c = 0; c < g.components; ++c) {
                const std::uint64_t v = setSample(g, f, x, y, c);
                std::memcpy(pixels.data() + y * line + (x * g.components + c) * s, &v,
                            static_cast<size_t>(s));
            }
    return pixels;
}

inline std::string perFrameName(long f) {
    std::string digits = std::to_string(f);
    return "frame" + std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits + ".tif";
}

// Writes frame f's pattern through the frame device of a set (or of any image file that writes frames).
inline void writeSetFrame(Zan::IoImageFileDevice& set, const SetGeometry& g, long f) {
    const auto frame = set.imageData(static_cast<unsigned>(f));
    if (!frame->open(Zan::IoImageDataDevice::Write))
        throw std::runtime_error("writeSetFrame: cannot open frame " + std::to_string(f));
    const std::vector<char> pixels = setFrame(g, f);
    frame->setPackedImage(pixels.data(), setLineBytes(g));
    frame->close();
}

// Creates the set of an unopened device: attributes, then every frame's pattern; closes it. Any image file
// that writes through the interface (a TIFF, a set through the facade) is written the same way; only a set
// names its frame files.
// An experiment, when given, replaces the default time loop over all frames.
inline void writeSet(Zan::IoImageFileDevice& set, const SetGeometry& g,
                     FileLayout layout = FileLayout::PerComponent,
                     const nlohmann::json& experiment = nullptr) {
    if (!set.open(Zan::IoDevice::Write, 3, nullptr))
        throw std::runtime_error("writeSet: cannot create the description");
    set.setAttributes(setAttributes(g));
    if (!experiment.is_null())
        set.setExperiment(experiment);
    for (long f = 0; f < g.frames; ++f) {
        if (layout == FileLayout::PerFrame)
            dynamic_cast<Zan::JsonFileDevice&>(set).setFrameRef(static_cast<unsigned>(f), {perFrameName(f)});
        writeSetFrame(set, g, f);
    }
    set.close();
}

// A TIFF of one frame written with our TIFF device, for sets whose frame files are made one by one (and
// may disagree with each other or with the set).
struct FrameFile {
    long width;
    long height;
    long bits; // 8, 16 or 32
    long components;
    bool isFloat = false;
    long tile = 0; // tiles of tile x tile pixels when above 0 (and below the size), else strips
    long seed = 0; // picks the pixels
};

// The attributes document of a frame file.
inline nlohmann::json frameFileAttributes(const FrameFile& f) {
    return {{"widthPx", f.width},
            {"heightPx", f.height},
            {"componentCount", f.components},
            {"bitsPerComponentInMemory", f.bits},
            {"bitsPerComponentSignificant", f.bits},
            {"pixelDataType", f.isFloat ? "float" : "unsigned"},
            {"tileWidthPx", f.tile},
            {"tileHeightPx", f.tile},
            {"sequenceCount", 1}};
}

inline long frameFileLineBytes(const FrameFile& f) {
    return f.width * f.components * (f.bits / 8);
}

// The file's pixels, packed: every sample distinct enough that a mix-up of files, planes or rows shows.
inline std::vector<char> frameFilePixels(const FrameFile& f) {
    const long bytes = f.bits / 8, line = frameFileLineBytes(f);
    std::vector<char> pixels(static_cast<std::size_t>(line * f.height));
    for (long y = 0; y < f.height; ++y)
        for (long x = 0; x < f.width; ++x)
            for (long c = 0; c < f.components; ++c) {
                const std::uint64_t v =
                    static_cast<std::uint64_t>(x * 5 + y * 71 + c * 40 + f.seed * 13 + 1) *
                    (bytes > 1 ? 257u : 1u);
                std::memcpy(pixels.data() + y * line + (x * f.components + c) * bytes, &v,
                            static_cast<size_t>(bytes));
            }
    return pixels;
}

// Writes the frame file at path (creating or replacing it) and returns its pixels.
inline std::vector<char> writeFrameFile(const std::string& path, const FrameFile& f) {
    Zan::TifFileDevice tiff(path);
    if (!tiff.open(Zan::IoDevice::Write, 3, nullptr))
        throw std::runtime_error("writeFrameFile: cannot create " + path);
    tiff.setAttributes(frameFileAttributes(f));
    const auto frame = tiff.imageData(0);
    if (!frame->open(Zan::IoImageDataDevice::Write))
        throw std::runtime_error("writeFrameFile: cannot write " + path);
    std::vector<char> pixels = frameFilePixels(f);
    frame->setPackedImage(pixels.data(), frameFileLineBytes(f));
    frame->close();
    tiff.close();
    return pixels;
}

// The packed frame of files of one geometry, each holding some of its components in order (one file may
// hold all of them): the components of a pixel from file 0, then from file 1, ...
inline std::vector<char> interleavedFrameFiles(const std::vector<FrameFile>& files) {
    const FrameFile& f = files.front();
    const long bytes = f.bits / 8;
    long channels = 0;
    for (const FrameFile& file : files)
        channels += file.components;
    std::vector<char> packed(static_cast<std::size_t>(f.width * f.height * channels * bytes));
    long first = 0;
    for (const FrameFile& file : files) {
        const std::vector<char> pixels = frameFilePixels(file);
        for (long i = 0; i < f.width * f.height; ++i)
            std::memcpy(packed.data() + (i * channels + first) * bytes,
                        pixels.data() + i * file.components * bytes,
                        static_cast<std::size_t>(file.components * bytes));
        first += file.components;
    }
    return packed;
}

} // namespace ZanTest
