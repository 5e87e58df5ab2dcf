#pragma once

// For the fuzz targets of the C interface: an input is one byte naming the kind of file (even: a native
// ".qpx" name, odd: a ".tif" name) followed by the file, which is written to a scratch file and opened by
// name as a C client does. The handle is the class library's device, which the targets ask, before they
// fetch a frame, whether its pictures and blocks stay small, so that a run stays far below the fuzzer's
// memory limit.

#include <capi/QpxReadSdk.h>

#include <support/FuzzScratchDir.h>

#include <io/IoImageDataDevice.h>
#include <io/IoImageFileDevice.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <fstream>
#include <string>

namespace ZanTest {

// The most bytes a picture, or a strip or tile the frame is decoded from, may take in a run.
constexpr std::size_t kFuzzPictureBytes = std::size_t(16) << 20;

// The scratch file holding the input's file, named for its kind; empty for an empty input.
inline std::string writeCapiInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return {};
    const std::string path = (fuzzScratchDirectory() / ((data[0] & 1) ? "input.tif" : "input.qpx")).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    return path;
}

// The input's file opened through the C interface (inputs above 1 MiB are not), or null; path receives the
// scratch file's name. Callers hold a diagnostics capture around it: opening may read damaged metadata.
inline Zan_FileHandle openCapiInput(const std::uint8_t* data, std::size_t size, std::string& path) {
    if (size < 1 || size > (1u << 20))
        return nullptr;
    path = writeCapiInput(data, size);
    return Zan_FileOpenForReadUtf8(path.c_str());
}

inline Zan::IoImageFileDevice& capiDevice(Zan_FileHandle file) {
    return *reinterpret_cast<Zan::IoImageFileDevice*>(file);
}

// True when a picture the interface sizes for the frame stays small, and so do the strips or tiles it is
// decoded from (a file may declare tiles far larger than its frame).
inline bool capiSmallFrame(Zan_FileHandle file, unsigned seq) {
    try {
        const auto frame = capiDevice(file).imageData(seq);
        const long w = frame->width(), h = frame->height(), channels = frame->channels();
        const long bits = std::max(frame->bitsPerComponentUsed(), frame->bitsPerComponentStored());
        if (w < 0 || h < 0 || channels < 0 || bits < 0 || bits > 64 || w > (1L << 24) || h > (1L << 24) ||
            channels > 1024)
            return false;
        long tileW = 0, tileH = 0, rows = 0;
        const bool tiled = frame->isTiled(&tileW, &tileH), striped = !tiled && frame->isStriped(&rows);
        const std::uint64_t pixels =
            tiled     ? std::uint64_t(std::max(tileW, 0L)) * std::uint64_t(std::max(tileH, 0L))
            : striped ? std::uint64_t(w) * std::uint64_t(std::max(rows, 0L))
                      : 0;
        return std::uint64_t(w) * std::uint64_t(channels) * 8 * std::uint64_t(h) <= kFuzzPictureBytes &&
               pixels <= kFuzzPictureBytes && pixels * std::uint64_t(channels) * 8 <= kFuzzPictureBytes;
    } catch (const std::exception&) {
        return true; // the interface fails the same way
    }
}

} // namespace ZanTest
