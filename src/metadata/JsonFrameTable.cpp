#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/ExperimentLoops.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace Zan {
namespace JsonMetadata {

void buildFrameTable(const json& experiment, const json& attributes, FrameTable& table,
                     std::uint64_t maxFrames) {
    FrameTable frames;
    if (!experiment.is_array() || experiment.empty()) {
        frames.resize(1);
        table.swap(frames);
        return;
    }

    // The counts come from the file: their product is checked before it can wrap or size anything.
    std::vector<std::uint32_t> counts;
    counts.reserve(experiment.size());
    std::uint64_t product = 1;
    for (const json& loop : experiment) {
        const std::uint32_t count = detail::u32Member(loop, "count", 0);
        if (count == 0)
            throw std::runtime_error("Frame table: experiment loop " + std::to_string(counts.size()) +
                                     " has no iterations");
        if (count > maxFrames / product)
            throw std::runtime_error("Frame table: the experiment loops give more than " +
                                     std::to_string(maxFrames) + " frames");
        product *= count;
        counts.push_back(count);
    }

    if (!attributes.is_object())
        (void)attributes.value("sequenceCount", 0); // the library's type error 306
    const auto hint = attributes.find("sequenceCount");
    // A capacity hint only, and never more than the frames the loops give.
    if (hint != attributes.end())
        frames.reserve(static_cast<std::size_t>(std::min(jsonToUint64(*hint), product)));

    // An odometer, the last loop fastest: each frame is a copy of the running coordinates.
    std::vector<std::uint32_t> coordinates(counts.size(), 0);
    for (std::uint64_t frame = 0; frame < product; ++frame) {
        frames.push_back(coordinates);
        for (std::size_t i = counts.size(); i-- > 0;) {
            if (++coordinates[i] < counts[i])
                break;
            coordinates[i] = 0;
        }
    }
    table.swap(frames);
}

} // namespace JsonMetadata
} // namespace Zan
