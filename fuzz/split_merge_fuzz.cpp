// Splits arbitrary bytes, written as a native file, into tiles and merges the tiles back; then merges the
// bytes themselves as the only tile of a grid of one. The first input byte picks the grid (2 x 1 x 1 or
// 1 x 2 x 2 pieces, overlap or padding, samples kept or converted to floats); the rest is the file. Only
// a false result, the library's documented exceptions, the JSON library's and the file system's errors may
// come out; a crash, a hang, any other exception or an allocation beyond what the file allows is a finding.
// Inputs whose frames hold more than 64 MiB are skipped: the merged planes are sizes that the metadata
// decide rather than the bytes. Loops that declare more frames than the file stores cost nothing: the
// split refuses them before it builds their table, and the merge before it reads past the stored ones.

#include <qpx/QpxFileConversions.h>
#include <qpx/QpxFileDevice.h>

#include <support/FuzzNative.h>
#include <support/TempDir.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using json = nlohmann::json;
using Grid = Zan::Vector3d<long>;

using ZanTest::fuzzGuarded;

constexpr std::uint64_t maxPlaneBytes = 64u << 20;

// Whether a frame of the file, as a tile or a merged frame, holds at most maxPlaneBytes: samples counted as
// at least 4 bytes (the float conversion) and a few pixels more each way (the padding of a grid).
bool smallPlanes(Zan::QpxFileDevice& file) {
    if (file.sequenceCount() == 0)
        return true;
    const auto frame = file.imageData(0);
    if (!frame)
        return true;
    std::uint64_t bytes = 1;
    for (const long factor : {std::max(frame->bytesPerComponent(), 4L), frame->channels(), frame->width() + 4,
                              frame->height() + 4})
        if (factor < 0 || __builtin_mul_overflow(bytes, static_cast<std::uint64_t>(factor), &bytes))
            return false;
    return bytes <= maxPlaneBytes;
}

// Whether the bytes open and their frames are small.
bool affordable(const std::uint8_t* data, std::size_t size) {
    bool small = false;
    fuzzGuarded([&] {
        Zan::QpxFileDevice file(size, data);
        small = file.open(Zan::IoDevice::Read, 3, nullptr) &&
                smallPlanes(file);
    });
    return small;
}

const ZanTest::TempDir& scratch() {
    static const ZanTest::TempDir dir;
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t choice = data[0];
    ++data;
    --size;
    if (!affordable(data, size))
        return 0;
    const ZanTest::TempDir& dir = scratch();
    const std::string source = dir.file("source.qpx");
    const std::string base = dir.file("tiles/t_");
    const std::string lone = dir.file("lone_");
    std::ofstream(source, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::ofstream(lone + "x0_y0_z0.qpx", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    const Grid pieces = (choice & 1) ? Grid{1, 2, 2} : Grid{2, 1, 1};
    const Grid overlap = (choice & 2) ? Grid{2, 2, 2} : Grid{};
    const Grid padding = (choice & 4) ? Grid{1, 1, 1} : Grid{};
    const bool toFloat = (choice & 8) != 0;
    std::ostringstream silenced;
    std::streambuf* out = std::cout.rdbuf(silenced.rdbuf());
    fuzzGuarded([&] {
        if (Zan::splitImage(source.c_str(), base.c_str(), pieces, overlap, padding, toFloat))
            Zan::mergeImage(dir.file("merged.qpx").c_str(), base.c_str(), pieces, overlap, padding, toFloat);
    });
    fuzzGuarded([&] {
        Zan::mergeImage(dir.file("alone.qpx").c_str(), lone.c_str(), {1, 1, 1}, {}, {}, toFloat);
    });
    std::cout.rdbuf(out);
    return 0;
}
