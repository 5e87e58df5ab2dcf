// Splits arbitrary bytes, written as a native file, into tiles and merges the tiles back; then merges the
// bytes themselves as the only tile of a grid of one. The first input byte picks the grid (2 x 1 x 1 or
// 1 x 2 x 2 pieces, overlap or padding, samples kept or converted to floats); the rest is the file. Only
// a false result, the library's documented exceptions, the JSON library's and the file system's errors may
// come out; a crash, a hang, any other exception or an allocation beyond what the file allows is a finding.
// Inputs whose loops describe more than 4,096 frames are skipped: the frame table is the one size that the
// loop counts decide rather than the bytes.

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

// Whether the bytes open and their loops describe at most 4,096 frames.
bool fewFrames(const std::uint8_t* data, std::size_t size) {
    bool few = false;
    fuzzGuarded([&] {
        Zan::QpxFileDevice file(size, data);
        few = file.open(Zan::IoDevice::Read, 3, nullptr) && ZanTest::smallFrameTable(file.rawMetadata(), 4096);
    });
    return few;
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
    if (!fewFrames(data, size))
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
            Zan::mergeImage(dir.file("merged.qpx").c_str(), base.c_str(), pieces, overlap,
                            (choice & 2) ? Grid{} : padding, toFloat);
    });
    fuzzGuarded([&] {
        Zan::mergeImage(dir.file("alone.qpx").c_str(), lone.c_str(), {1, 1, 1}, {}, {}, toFloat);
    });
    std::cout.rdbuf(out);
    return 0;
}
