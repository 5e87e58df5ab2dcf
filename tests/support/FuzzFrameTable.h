#pragma once

// For fuzz targets of image files: the frame table is the one size that a file's loop counts decide rather
// than its bytes (the library caps it at 100 million frames), so targets skip what builds it for inputs
// whose experiment describes more frames than a run can afford.

#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include <algorithm>
#include <cstdint>

namespace ZanTest {

// True when the experiment of the raw-metadata document describes at most maxFrames frames (or none),
// computed without building the table.
inline bool smallFrameTable(const nlohmann::json& raw, std::uint64_t maxFrames = std::uint64_t(1) << 16) {
    if (!raw.is_object() || !raw.contains("Experiment_dic"))
        return true;
    nlohmann::json loops;
    Zan::JsonMetadata::loadExperimentLoop(0, loops, raw.at("Experiment_dic"));
    std::uint64_t frames = 1;
    for (const nlohmann::json& loop : loops) {
        const std::uint64_t count = loop.value("count", std::uint64_t{0});
        if (count != 0 && frames > maxFrames / count)
            return false;
        frames *= std::max<std::uint64_t>(count, 1);
    }
    return true;
}

} // namespace ZanTest
