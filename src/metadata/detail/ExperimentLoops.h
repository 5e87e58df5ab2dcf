#pragma once

// Steps of Zan::JsonMetadata::experiment, reachable by the devices and tests of the library (not
// installed).

#include <metadata/JsonBridge.h>

#include <cstdint>
#include <vector>

namespace Zan {
namespace JsonMetadata {

// Appends to loops the loop that one legacy experiment level describes and, depth first, those of its
// sub-levels. levelDic is the level's dictionary ("eType_u32", "uLoopPars_dic", "uiNextLevelCount_u32",
// "ppNextLevelEx_dic"); level its nesting level. The walk keeps its own stack, so no depth of the legacy
// tree can exhaust the thread's stack.
void loadExperimentLoop(int level, json& loops, const json& levelDic);

// The two steps of the walk that say where a level keeps its data; whoever rewrites a level in place (the
// tiles of a split) takes the same members, so that the walk reads back what was written.
// The experiment document's name of a legacy loop type ("eType_u32"), or nullptr for a type above 10.
const char* loopTypeName(std::uint32_t type);
// The loop parameters of a level: the first unnamed member of "uLoopPars_dic", else the list itself; null
// when the level has none or they are null.
const json* loopParameters(const json& levelDic);
// The sub-level dictionaries of a level, in visiting order. With a stored count n only the unnamed members
// 0 .. n-1 count; they are picked from the members present, so a count from the file costs nothing beyond
// the members it names. Without a count (or below 1) every member of "ppNextLevelEx_dic" counts.
std::vector<const json*> subLevels(const json& levelDic);

// One time-period object {"startMs", "periodMs", "durationMs", "periodDiff"} of a legacy time loop, or
// null when its "uiCount_u32" is 0; otherwise stores that count through count.
json readTimePeriod(const json& periodDic, std::uint32_t* count);

// experiment() with a frame cap of the caller's choosing (the fuzz targets keep theirs small).
json experiment(const json& raw, const json& attributes, FrameTable& frameTable, std::uint64_t maxFrames);

// The experiment document alone, as experiment() returns it: no frame table is built, so devices get
// their frames' coordinates from FrameCoordinates::ofExperiment of the result. Throws as experiment() does
// for a raw document with an "Experiment_dic" but no "Attributes_dic".
json experimentDocument(const json& raw);

// Replaces table with the coordinates of every frame of the experiment document (one empty vector when it
// holds no loop). Throws std::runtime_error when a loop count is 0 or the product of the counts exceeds
// maxFrames, before the table is touched. The table is reserved for exactly the frames the loops give;
// attributes' "sequenceCount" is only checked to be a number.
void buildFrameTable(const json& experiment, const json& attributes, FrameTable& table,
                     std::uint64_t maxFrames = maxFrameTableFrames);

} // namespace JsonMetadata
} // namespace Zan
