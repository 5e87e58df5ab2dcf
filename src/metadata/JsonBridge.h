#pragma once

// The JSON metadata bridge: names of metadata items and chunks, the raw-metadata document that mirrors the
// legacy variant trees of a file, and the public documents derived from it. All functions are stateless,
// take no locks and may be called from any thread on their own arguments.

#include <io/DefaultInitAllocator.h>
#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace Zan {
namespace JsonMetadata {

using json = nlohmann::json;

// ---- Names.

// name + "_" + suffix: the key of a legacy item in the raw-metadata document.
ZAN_EXPORT std::string makeJsonItemName(const std::string& name, const std::string& suffix);
// Splits a key at its last "_": returns the name and stores the suffix. A key without "_" is both.
ZAN_EXPORT std::string makeVariantItemName(const std::string& key, std::string& suffix);
// "i" + the position in decimal, zero-filled to 10 digits: the key of an unnamed item.
ZAN_EXPORT std::string makeJsonArrayNameFromIndex(unsigned index);
// prefix + index + "!", prefix + name + "!", prefix + name + index + "!".
ZAN_EXPORT std::string chunkName(const std::string& prefix, unsigned index);
ZAN_EXPORT std::string chunkName(const std::string& prefix, const std::string& name);
ZAN_EXPORT std::string chunkName(const std::string& prefix, const std::string& name, unsigned index);

// ---- Copy rules with which the public documents are filled from legacy-keyed values.

using JsonCondition = bool (*)(const json&);
using JsonTransform = json (*)(const json&);

// Conditions. Numbers are read with the JSON library's conversions (booleans count as numbers); a value
// of another kind raises its type error 302.
ZAN_EXPORT bool condAlways(const json& value);
ZAN_EXPORT bool condNonZeroUnsigned(const json& value); // as unsigned 32-bit, not 0
ZAN_EXPORT bool condPositiveSigned(const json& value);  // as signed 32-bit, above 0
ZAN_EXPORT bool condPositiveReal(const json& value);    // as double, above 0.0 (NaN is not)
ZAN_EXPORT bool condNonEmptyText(const json& value);    // a string of at least one character

// Transforms.
ZAN_EXPORT json xfCopy(const json& value);
ZAN_EXPORT json xfDoubled(const json& value);       // 2 * value, as a double
ZAN_EXPORT json xfAxisName(const json& value);      // "time" for 2, else "distance"
ZAN_EXPORT json xfTimerName(const json& value);     // "NIDAQ"
ZAN_EXPORT json xfPositiveOrZero(const json& value); // value when above 0.0, else 0.0

// dst[dstKey] := transform(src[srcKey]) when src is an object holding srcKey and condition holds on it.
ZAN_EXPORT bool jcpy(json& dst, const std::string& dstKey, const json& src, const std::string& srcKey,
                     JsonCondition condition = condAlways, JsonTransform transform = xfCopy);
// dst[dstKey] := one element per key: transform(src[key]) where present and accepted, else
// transform(fallback).
ZAN_EXPORT void jcpyarray(json& dst, const std::string& dstKey, const json& src,
                          const std::vector<std::string>& srcKeys, const json& fallback,
                          JsonCondition condition, JsonTransform transform);
// dst[dstKey] := copies of the members of src that srcKeys name, in order; absent keys add nothing.
ZAN_EXPORT void jcpyarray(json& dst, const std::string& dstKey, const json& src,
                          const std::vector<std::string>& srcKeys);
// Copy of src[k] for the first key k that src holds (null members included); null when none.
ZAN_EXPORT json jgetnotnull(const json& src, const std::vector<std::string>& keys);

// Checked reads of JSON numbers for the document builders: integers convert modulo 2^N as the library
// does, floating-point values saturate at the target's range and NaN gives 0, so no value from a file
// reaches an undefined conversion. Values of other kinds raise the library's type error 302.
ZAN_EXPORT std::int64_t jsonToInt64(const json& value);
ZAN_EXPORT std::uint64_t jsonToUint64(const json& value);
ZAN_EXPORT std::int32_t jsonToInt32(const json& value);
ZAN_EXPORT std::uint32_t jsonToUint32(const json& value);

} // namespace JsonMetadata
} // namespace Zan

// The parts of the bridge, each in a header of its own.
#include <metadata/JsonRawMetadata.h>     // raw-metadata document, reading and writing, attributes, text info
#include <metadata/JsonExperiment.h>      // experiment and frame table, global and frame metadata
#include <metadata/JsonChannelMetadata.h> // filter spectra, wavelengths, modality flags, channel metadata
