// Splits arbitrary bytes, written as a native file, into tiles and merges the tiles back; then merges the
// bytes themselves as the only tile of a grid of one. The first input byte picks the grid (2 x 1 x 1 or
// 1 x 2 x 2 pieces, overlap or padding, samples kept or converted to floats); the rest is the file. Only
// a false result, the library's documented exceptions, the JSON library's and the file system's errors may
// come out; a crash, a hang, any other exception or an allocation beyond what the file allows is a finding.
// Inputs whose loops describe more than 4,096 frames are skipped: the frame table is the one size that the
// loop counts decide rather than the bytes.

#include <qpx/QpxFileConversions.h>
#include <qpx/QpxFileDevice.h>

#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

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

template <typename F>
void guarded(F&& f) {
    try {
        f();
    } catch (const std::runtime_error&) {
    } catch (const std::logic_error&) {
    } catch (const json::exception&) {
    }
}

// The frames the experiment of the bytes describes, read without building the table; false when the bytes
// do not open or their loops describe too many.
bool fewFrames(const std::uint8_t* data, std::size_t size) {
    bool few = false;
    guarded([&] {
        Zan::QpxFileDevice file(size, data);
        if (!file.open(Zan::IoDevice::Read, 3, nullptr))
            return;
        const json raw = file.rawMetadata();
        std::uint64_t frames = 1;
        if (raw.is_object() && raw.contains("Experiment_dic")) {
            json loops;
            Zan::JsonMetadata::loadExperimentLoop(0, loops, raw.at("Experiment_dic"));
            for (const json& loop : loops) {
                const std::uint64_t count = std::max<std::uint64_t>(loop.value("count", std::uint64_t{0}), 1);
                if (frames > 4096 / count)
                    return;
                frames *= count;
            }
        }
        few = true;
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
    guarded([&] {
        if (Zan::splitImage(source.c_str(), base.c_str(), pieces, overlap, padding, toFloat))
            Zan::mergeImage(dir.file("merged.qpx").c_str(), base.c_str(), pieces, overlap,
                            (choice & 2) ? Grid{} : padding, toFloat);
    });
    guarded([&] {
        Zan::mergeImage(dir.file("alone.qpx").c_str(), lone.c_str(), {1, 1, 1}, {}, {}, toFloat);
    });
    std::cout.rdbuf(out);
    return 0;
}
