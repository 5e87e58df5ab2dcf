#pragma once

// Part of the JSON metadata bridge; include <metadata/JsonBridge.h>.
//
// The experiment document (the nested acquisition loops of a file) with its frame table, the global
// metadata document and the per-frame metadata document. All are pure functions of their arguments: no
// state, no locks, any thread.

#include <metadata/JsonBridgeCore.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Zan {
namespace JsonMetadata {

// One entry per frame, in frame order: the frame's index in every loop of the experiment document,
// outermost loop first.
using FrameTable = std::vector<std::vector<std::uint32_t>>;

// A frame table never holds more frames than this. The loop counts come from the file, and their product
// decides how much memory the table takes (some 60 bytes per frame for up to four loops): a larger product
// is refused with std::runtime_error before anything is allocated.
constexpr std::uint64_t maxFrameTableFrames = 100'000'000;

// The experiment document of the raw-metadata document: an array of loops {"type", "count",
// "nestingLevel", "parameters"}, outermost first, or null when no loop qualifies. Replaces the content of
// frameTable with the coordinates of every frame (the last loop varying fastest); without loops the table
// is one empty coordinate vector. Of attributes only "sequenceCount" is read, as a reservation hint.
// Throws std::runtime_error "Cannot parse image attributes" when raw has an "Experiment_dic" but no
// "Attributes_dic", and std::runtime_error when the loops give more than maxFrameTableFrames frames; the
// JSON library's type errors for values of the wrong kind. frameTable is left as it was when it throws.
ZAN_EXPORT json experiment(const json& raw, const json& attributes, FrameTable& frameTable);

// The global metadata document: "contents", "loops", "microscope", "position", "time" and "volume", each
// an object or null. experiment is the experiment document, textInfo the text-info document (either may
// be null), defaultJulianDay the acquisition day reported when the file stores no valid one.
// Throws std::runtime_error "Cannot parse image attributes" without an "Attributes_dic", and
// "globalMetadata: <what>: nested deeper than 256 levels" for a part it reads (Attributes_dic,
// Metadata_dic, experiment, textInfo) nested deeper; members of the wrong JSON kind raise the library's
// type error 302.
ZAN_EXPORT json globalMetadata(const json& raw, const json& experiment, const json& textInfo,
                               double defaultJulianDay);

// The metadata document of one frame: every channel of the channel metadata document with the frame's
// "time" (from relativeTimeMs when it is finite, else the global time) and "position" (the global stage
// position moved by the frame's multi-point and Z-stack coordinates). coordinates is the frame's entry of
// the frame table. A coordinate, loop or point that the documents do not hold leaves the position as it
// was. A non-empty jsonPointer selects a part of the document: a member or element that the document
// lacks gives null (the document is not grown to reach it); tokens that cannot address anything raise the
// JSON library's parse and out-of-range errors, as its pointer access does.
ZAN_EXPORT json frameMetadata(const json& global, const json& channelMetadata, const json& experiment,
                              double relativeTimeMs, const std::vector<std::uint32_t>& coordinates,
                              const std::string& jsonPointer);

} // namespace JsonMetadata
} // namespace Zan
