#pragma once

// The core of the JSON metadata bridge, which every part of it builds on: the JSON type, the names of
// metadata items and chunks, and the copy rules with which the public documents are filled from
// legacy-keyed values. All functions are stateless, take no locks and may be called from any thread on
// their own arguments. Callers include <metadata/JsonBridge.h>, which holds the whole bridge.

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

// ---- Copy rules.

// A condition tells whether a value is copied; a transform gives what is stored. Both may raise the JSON
// library's errors for a value of the wrong kind, and those pass on to the caller of the rule.
using JsonCondition = bool (*)(const json&);
using JsonTransform = json (*)(const json&);

// dst[dstKey] := transform(src[srcKey]) when src is an object holding srcKey and condition holds on it
// (dst becomes an object if it was null); returns whether it copied. A null condition always holds, a null
// transform copies the value unchanged.
ZAN_EXPORT bool jcpy(json& dst, const std::string& dstKey, const json& src, const std::string& srcKey,
                     JsonCondition condition = nullptr, JsonTransform transform = nullptr);
// dst[dstKey] := one element per key: transform(src[key]) where present and accepted, else
// transform(fallback). Null condition and transform as for jcpy.
ZAN_EXPORT void jcpyarray(json& dst, const std::string& dstKey, const json& src,
                          const std::vector<std::string>& srcKeys, const json& fallback,
                          JsonCondition condition, JsonTransform transform);
// dst[dstKey] := copies of the members of src that srcKeys name, in order; absent keys add nothing.
ZAN_EXPORT void jcpyarray(json& dst, const std::string& dstKey, const json& src,
                          const std::vector<std::string>& srcKeys);
// Copy of src[k] for the first key k that src holds (null members included); null when none.
ZAN_EXPORT json jgetnotnull(const json& src, const std::vector<std::string>& keys);

} // namespace JsonMetadata
} // namespace Zan
