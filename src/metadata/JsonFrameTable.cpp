#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/ExperimentLoops.h>
#include <metadata/detail/FrameCoordinates.h>

#include <stdexcept>
#include <string>

namespace Zan {
namespace JsonMetadata {

namespace {

[[noreturn]] void throwTooManyFrames(std::uint64_t maxFrames) {
    throw std::runtime_error("Frame table: the experiment loops give more than " + std::to_string(maxFrames) +
                             " frames");
}

} // namespace

FrameCoordinates FrameCoordinates::ofCounts(const std::vector<std::uint32_t>& counts, std::uint64_t maxFrames) {
    // The counts come from the file: their product is checked before it can wrap.
    std::uint64_t product = 1;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] == 0)
            throw std::runtime_error("Frame table: experiment loop " + std::to_string(i) + " has no iterations");
        if (counts[i] > maxFrames / product)
            throwTooManyFrames(maxFrames);
        product *= counts[i];
    }
    FrameCoordinates frames(product);
    frames.counts_ = counts;
    return frames;
}

FrameCoordinates FrameCoordinates::ofExperiment(const json& experiment, std::uint64_t maxFrames) {
    if (!experiment.is_array() || experiment.empty())
        return FrameCoordinates();
    std::vector<std::uint32_t> counts;
    counts.reserve(experiment.size());
    for (const json& loop : experiment)
        counts.push_back(detail::u32Member(loop, "count", 0));
    return ofCounts(counts, maxFrames);
}

std::vector<std::uint32_t> FrameCoordinates::coordinates(std::uint64_t frame) const {
    if (frame >= frames_)
        throw std::out_of_range("FrameCoordinates: frame " + std::to_string(frame) + " of a sequence of " +
                                std::to_string(frames_));
    // Mixed radix, the last loop the lowest digit.
    std::vector<std::uint32_t> coordinates(counts_.size(), 0);
    for (std::size_t i = counts_.size(); i-- > 0;) {
        coordinates[i] = static_cast<std::uint32_t>(frame % counts_[i]);
        frame /= counts_[i];
    }
    return coordinates;
}

bool FrameCoordinates::frameOf(const std::vector<std::uint32_t>& coordinates, std::uint64_t* frame) const {
    if (coordinates.size() != counts_.size() || frames_ == 0)
        return false;
    std::uint64_t index = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        if (coordinates[i] >= counts_[i])
            return false;
        index = index * counts_[i] + coordinates[i];
    }
    if (frame)
        *frame = index;
    return true;
}

void FrameCoordinates::fillTable(FrameTable& table, std::uint64_t maxFrames) const {
    if (frames_ > maxFrames)
        throwTooManyFrames(maxFrames);
    FrameTable frames;
    frames.reserve(static_cast<std::size_t>(frames_));
    // An odometer, the last loop fastest: each frame is a copy of the running coordinates.
    std::vector<std::uint32_t> running(counts_.size(), 0);
    for (std::uint64_t frame = 0; frame < frames_; ++frame) {
        frames.push_back(running);
        for (std::size_t i = counts_.size(); i-- > 0;) {
            if (++running[i] < counts_[i])
                break;
            running[i] = 0;
        }
    }
    table.swap(frames);
}

void buildFrameTable(const json& experiment, const json& attributes, FrameTable& table,
                     std::uint64_t maxFrames) {
    const FrameCoordinates frames = FrameCoordinates::ofExperiment(experiment, maxFrames);
    if (frames.hasLoops()) {
        // The sequence count was once a reservation hint; the loops decide the size, but a document of the
        // wrong kind is still refused as before.
        if (!attributes.is_object())
            (void)attributes.value("sequenceCount", 0); // the library's type error 306
        const auto hint = attributes.find("sequenceCount");
        if (hint != attributes.end())
            (void)jsonToUint64(*hint);
    }
    frames.fillTable(table, maxFrames);
}

} // namespace JsonMetadata
} // namespace Zan
