#pragma once

// The frames of a sequence and their coordinates in the experiment loops (not installed).
//
// Coordinates follow from the loop counts by mixed radix, the outermost loop most significant and the last
// loop fastest, so no device stores a table whose size the file declares: a frame's coordinates, and the
// frame of a coordinate tuple, cost time in proportion to the number of loops. Only callers that ask for
// the whole table (the experiment's table argument, a device's allLoopIndexes) build one, under the cap.

#include <metadata/JsonExperiment.h>

#include <cstdint>
#include <vector>

namespace Zan {
namespace JsonMetadata {

class FrameCoordinates {
public:
    // A sequence of frames with no coordinates (no loops): one frame unless the file stores more.
    explicit FrameCoordinates(std::uint64_t frames = 1) : frames_(frames) {}

    // The loops of an experiment document (an array of loops with "count", or null / empty for none).
    // Throws std::runtime_error when a count is 0 or the counts give more than maxFrames frames.
    static FrameCoordinates ofExperiment(const json& experiment, std::uint64_t maxFrames = maxFrameTableFrames);
    // Loops of the given counts, outermost first; the same refusals.
    static FrameCoordinates ofCounts(const std::vector<std::uint32_t>& counts,
                                     std::uint64_t maxFrames = maxFrameTableFrames);

    bool hasLoops() const { return !counts_.empty(); }
    const std::vector<std::uint32_t>& counts() const { return counts_; }
    std::uint64_t frameCount() const { return frames_; }

    // Coordinates of a frame below frameCount() (std::out_of_range otherwise): one index per loop, empty
    // without loops.
    std::vector<std::uint32_t> coordinates(std::uint64_t frame) const;
    // The frame whose coordinates are exactly these (one index per loop, each inside its loop); without
    // loops the empty tuple is the first frame. False when no frame has them.
    bool frameOf(const std::vector<std::uint32_t>& coordinates, std::uint64_t* frame) const;
    // Replaces table with the coordinates of every frame, in frame order. Throws std::runtime_error before
    // anything is allocated when there are more than maxFrames frames.
    void fillTable(FrameTable& table, std::uint64_t maxFrames = maxFrameTableFrames) const;

private:
    std::vector<std::uint32_t> counts_;
    std::uint64_t frames_ = 1;
};

} // namespace JsonMetadata
} // namespace Zan
