#pragma once

// For fuzz targets of image files: the whole frame table (allLoopIndexes) is the one size that a file's loop
// counts decide rather than its bytes (the library caps it at 100 million frames). A frame's coordinates
// are computed from the counts and cost nothing, so targets ask for the whole table only where it is small.

#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include <algorithm>
#include <cstdint>

namespace ZanTest {

// The most frames whose whole table a fuzz target asks for.
inline constexpr unsigned kFuzzTableFrames = 1u << 16;

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
