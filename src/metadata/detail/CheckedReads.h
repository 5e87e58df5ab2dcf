#pragma once

// Reads of legacy-keyed members for the document builders (not installed). Integers go through the
// checked conversions of the bridge, so no value from a file reaches an undefined conversion; values of
// the wrong kind raise the JSON library's type errors, as its own lookups do.

#include <metadata/JsonBridge.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Zan {
namespace JsonMetadata {
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

// dic's member key as a 32-bit integer, or fallback when dic lacks it. Like json::value, a dic that is not
// an object raises type error 306.
std::uint32_t u32Member(const json& dic, const std::string& key, std::uint32_t fallback);
std::int32_t i32Member(const json& dic, const std::string& key, std::int32_t fallback);

// The value that ptr addresses in doc, or nullptr when it does not resolve. Like json::value with a
// pointer, a doc that is not an object raises type error 306.
const json* pointee(const json& doc, const json::json_pointer& ptr);

// Nesting bound for JSON values copied from documents that a caller or a file supplied. The JSON library
// copies, compares and prints values recursively, so a value nested tens of thousands of levels deep would
// overflow the stack there; the documents of this library are a few levels deep, and the legacy trees
// themselves stop at 256.
constexpr std::size_t maxJsonNesting = 256;

// Throws std::runtime_error "<what>: nested deeper than 256 levels" when value holds containers nested
// deeper than maxJsonNesting. Walks without recursion.
void checkNesting(const json& value, const char* what);

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
