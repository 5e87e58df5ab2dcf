#pragma once

// Reads of legacy-keyed members for the document builders and the records (not installed): the checked
// conversions of JSON numbers, the copy-rule conditions and transforms, and the member-or-default reads.
// Integers go through the checked conversions, so no value from a file reaches an undefined conversion;
// values of the wrong kind raise the JSON library's type errors, as its own lookups do.

#include <metadata/JsonBridgeCore.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace Zan {
namespace JsonMetadata {

// ---- Checked conversions of JSON numbers: integers convert modulo 2^N as the library does,
// floating-point values saturate at the target's range and NaN gives 0. Booleans convert; values of other
// kinds raise the library's type error 302.
std::int64_t jsonToInt64(const json& value);
std::uint64_t jsonToUint64(const json& value);
std::int32_t jsonToInt32(const json& value);
std::uint32_t jsonToUint32(const json& value);

// ---- Conditions of the copy rules. Numbers are read with the conversions above (booleans count as
// numbers); a value of another kind raises type error 302.
bool condAlways(const json& value);
bool condNonZeroUnsigned(const json& value); // as unsigned 32-bit, not 0
bool condPositiveSigned(const json& value);  // as signed 32-bit, above 0
bool condPositiveReal(const json& value);    // as double, above 0.0 (NaN is not)
bool condNonEmptyText(const json& value);    // a string of at least one character

// ---- Transforms of the copy rules.
json xfCopy(const json& value);
json xfDoubled(const json& value);        // 2 * value, as a double
json xfAxisName(const json& value);       // "time" for 2, else "distance"
json xfTimerName(const json& value);      // "NIDAQ"
json xfPositiveOrZero(const json& value); // value when above 0.0, else 0.0

namespace detail {

// The bridge's one error of its own: std::runtime_error "Cannot parse image attributes".
[[noreturn]] void throwCannotParseAttributes();

// Raises the library's type error 302 "type must be number, but is ..." unless value is a JSON number.
void requireNumber(const json& value);

// Copy-rule conditions that also check the kind: a number (booleans are not), a boolean, a number above
// 0.0 (NaN is not), an integer above 0 as signed 32-bit. Values of another kind raise type error 302.
bool condNumber(const json& value);
bool condBoolean(const json& value);
bool condPositiveNumber(const json& value);
bool condPositiveInteger(const json& value);

// ---- Member-or-default reads. Like json::value, a container that is not an object raises the library's
// type error 306 ("cannot use value() with ..."); an absent member, or a pointer that does not resolve,
// gives the default.

// Type error 306 unless o is an object.
void requireObject(const json& o);

// The member key of o, or nullptr when o is not an object or lacks it (never raises).
inline const json* member(const json& o, const std::string& key) {
    if (!o.is_object())
        return nullptr;
    const auto it = o.find(key);
    return it == o.end() ? nullptr : &*it;
}

// The member key of o, or a null value when o is not an object or lacks it (never raises).
const json& memberOrNull(const json& o, const std::string& key);

// The value that ptr addresses in doc, or nullptr when it does not resolve; type error 306 when doc is not
// an object.
const json* pointee(const json& doc, const json::json_pointer& ptr);

// The pointer to the member key of an object.
inline json::json_pointer keyPointer(const std::string& key) {
    return json::json_pointer("/" + key);
}

// value read as T: integers through the checked conversions, everything else as the library reads it.
template <class T>
T valueAs(const json& value) {
    if constexpr (std::is_same_v<T, std::int64_t>)
        return jsonToInt64(value);
    else if constexpr (std::is_same_v<T, std::uint64_t>)
        return jsonToUint64(value);
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return jsonToInt32(value);
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return jsonToUint32(value);
    else
        return value.template get<T>();
}

// dic's member key as T, or fallback when dic lacks it; type error 306 when dic is not an object.
template <class T>
T memberOr(const json& dic, const std::string& key, T fallback) {
    requireObject(dic);
    const auto it = dic.find(key);
    return it == dic.end() ? fallback : valueAs<T>(*it);
}

// What ptr addresses in doc as T, or fallback when it does not resolve; type error 306 when doc is not an
// object.
template <class T>
T pointeeOr(const json& doc, const json::json_pointer& ptr, T fallback) {
    const json* v = pointee(doc, ptr);
    return v ? valueAs<T>(*v) : fallback;
}

// The reads the builders use most, by name.
inline std::uint32_t u32Member(const json& dic, const std::string& key, std::uint32_t fallback) {
    return memberOr<std::uint32_t>(dic, key, fallback);
}
inline std::int32_t i32Member(const json& dic, const std::string& key, std::int32_t fallback) {
    return memberOr<std::int32_t>(dic, key, fallback);
}
inline double readDouble(const json& o, const json::json_pointer& ptr, double fallback) {
    return pointeeOr<double>(o, ptr, fallback);
}
inline bool readBool(const json& o, const json::json_pointer& ptr, bool fallback) {
    return pointeeOr<bool>(o, ptr, fallback);
}
inline std::int32_t readInt32(const json& o, const json::json_pointer& ptr, std::int32_t fallback) {
    return pointeeOr<std::int32_t>(o, ptr, fallback);
}
inline std::uint32_t readUint32(const json& o, const json::json_pointer& ptr, std::uint32_t fallback) {
    return pointeeOr<std::uint32_t>(o, ptr, fallback);
}

// ---- Nesting.

// Nesting bound for JSON values copied from documents that a caller or a file supplied. The JSON library
// copies, compares and prints values recursively, so a value nested tens of thousands of levels deep would
// overflow the stack there; the documents of this library are a few levels deep, and the legacy trees
// themselves stop at 256.
constexpr std::size_t maxJsonNesting = 256;

// Whether value holds containers nested at most maxJsonNesting deep (a scalar is). Walks without
// recursion.
bool withinNesting(const json& value);

// Throws std::runtime_error "<what>: nested deeper than 256 levels" unless withinNesting(value).
void checkNesting(const json& value, const char* what);

// checkNesting of doc's member key, when doc is an object holding it, as "<builder>: <key>". The document
// builders check so the parts they read from a caller's document before they copy or walk them.
void checkMemberNesting(const json& doc, const char* key, const char* builder);

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
