#pragma once

// For the fuzz targets of native files: the guard that lets the library's documented failures pass, and
// the frame count of an experiment, which the loop counts decide rather than the input's bytes.

#include <metadata/detail/ExperimentLoops.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace ZanTest {

// Runs f; the library's own errors (runtime and logic errors, the JSON library's) are expected, anything
// else passes on as a finding.
template <typename F>
void fuzzGuarded(F&& f) {
    try {
        f();
    } catch (const std::runtime_error&) {
    } catch (const std::logic_error&) {
    } catch (const nlohmann::json::exception&) {
    }
}

// Whether the experiment of a raw-metadata document describes at most limit frames, counted without
// building the frame table.
inline bool fewLoopFrames(const nlohmann::json& raw, std::uint64_t limit) {
    if (!raw.is_object() || !raw.contains("Experiment_dic"))
        return true;
    nlohmann::json loops;
    Zan::JsonMetadata::loadExperimentLoop(0, loops, raw.at("Experiment_dic"));
    std::uint64_t frames = 1;
    for (const nlohmann::json& loop : loops) {
        const std::uint64_t count = std::max<std::uint64_t>(loop.value("count", std::uint64_t{0}), 1);
        if (frames > limit / count)
            return false;
        frames *= count;
    }
    return true;
}

} // namespace ZanTest
