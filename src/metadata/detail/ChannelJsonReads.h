#pragma once

// Lookups with defaults for the channel document builders (not installed). They behave as the JSON
// library's value(): a container that is not an object raises its type error 306, a member that is absent
// (or a pointer that does not resolve) gives the default. Integers go through the checked conversions, so
// no number from a file reaches an undefined cast.

#include <metadata/JsonBridge.h>

#include <cstdint>

namespace Zan {
namespace JsonMetadata {
namespace detail {

// The member key of o, or null when o is not an object or lacks it.
inline const json* member(const json& o, const std::string& key) {
    if (!o.is_object())
        return nullptr;
    const auto it = o.find(key);
    return it == o.end() ? nullptr : &*it;
}

// The pointer to the member key of an object.
inline json::json_pointer keyPointer(const std::string& key) {
    return json::json_pointer("/" + key);
}

// What ptr names inside the object o, or null when it does not resolve; type error 306 when o is not an
// object.
inline const json* resolve(const json& o, const json::json_pointer& ptr) {
    if (!o.is_object())
        throw json::type_error::create(306, "cannot use value() with " + std::string(o.type_name()), &o);
    return o.contains(ptr) ? &o.at(ptr) : nullptr;
}

inline double readDouble(const json& o, const json::json_pointer& ptr, double fallback) {
    const json* v = resolve(o, ptr);
    return v ? v->get<double>() : fallback;
}

inline bool readBool(const json& o, const json::json_pointer& ptr, bool fallback) {
    const json* v = resolve(o, ptr);
    return v ? v->get<bool>() : fallback;
}

inline std::int32_t readInt32(const json& o, const json::json_pointer& ptr, std::int32_t fallback) {
    const json* v = resolve(o, ptr);
    return v ? jsonToInt32(*v) : fallback;
}

inline std::uint32_t readUint32(const json& o, const json::json_pointer& ptr, std::uint32_t fallback) {
    const json* v = resolve(o, ptr);
    return v ? jsonToUint32(*v) : fallback;
}

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
