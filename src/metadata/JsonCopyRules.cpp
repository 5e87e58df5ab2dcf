#include <metadata/JsonBridgeCore.h>
#include <metadata/detail/CheckedReads.h>

#include <cmath>
#include <limits>

namespace Zan {
namespace JsonMetadata {

namespace {

// A double converted to an integer type without undefined behaviour: NaN gives 0, values beyond the range
// give its nearest end.
template <typename T>
T saturate(double v) {
    if (std::isnan(v))
        return 0;
    if (v <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (v >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

template <typename T>
T jsonToInteger(const json& value) {
    switch (value.type()) {
    case json::value_t::number_float:
        return saturate<T>(value.get<double>());
    case json::value_t::number_integer:
        return static_cast<T>(value.get<std::int64_t>());
    case json::value_t::number_unsigned:
        return static_cast<T>(value.get<std::uint64_t>());
    default:
        // Booleans convert; everything else raises the library's type error 302.
        return value.get<T>();
    }
}

} // namespace

std::int64_t jsonToInt64(const json& value) {
    return jsonToInteger<std::int64_t>(value);
}
std::uint64_t jsonToUint64(const json& value) {
    return jsonToInteger<std::uint64_t>(value);
}
std::int32_t jsonToInt32(const json& value) {
    return jsonToInteger<std::int32_t>(value);
}
std::uint32_t jsonToUint32(const json& value) {
    return jsonToInteger<std::uint32_t>(value);
}

bool condAlways(const json&) {
    return true;
}
bool condNonZeroUnsigned(const json& value) {
    return jsonToUint32(value) != 0;
}
bool condPositiveSigned(const json& value) {
    return jsonToInt32(value) > 0;
}
bool condPositiveReal(const json& value) {
    return value.get<double>() > 0.0;
}
bool condNonEmptyText(const json& value) {
    // get<std::string> rather than a reference: a non-string must raise type error 302, as the other
    // conditions do.
    if (value.is_string())
        return !value.get_ref<const std::string&>().empty();
    return !value.get<std::string>().empty();
}

json xfCopy(const json& value) {
    return value;
}
json xfDoubled(const json& value) {
    return 2.0 * value.get<double>();
}
json xfAxisName(const json& value) {
    return jsonToInt32(value) == 2 ? "time" : "distance";
}
json xfTimerName(const json&) {
    return "NIDAQ";
}
json xfPositiveOrZero(const json& value) {
    if (value.get<double>() > 0.0)
        return value;
    return 0.0;
}

bool jcpy(json& dst, const std::string& dstKey, const json& src, const std::string& srcKey,
          JsonCondition condition, JsonTransform transform) {
    if (!src.is_object())
        return false;
    const auto it = src.find(srcKey);
    if (it == src.end() || (condition && !condition(*it)))
        return false;
    dst[dstKey] = transform ? transform(*it) : *it;
    return true;
}

void jcpyarray(json& dst, const std::string& dstKey, const json& src, const std::vector<std::string>& srcKeys,
               const json& fallback, JsonCondition condition, JsonTransform transform) {
    json array = json::array();
    for (const std::string& key : srcKeys) {
        const json* value = &fallback;
        if (src.is_object()) {
            const auto it = src.find(key);
            if (it != src.end() && (!condition || condition(*it)))
                value = &*it;
        }
        array.push_back(transform ? transform(*value) : *value);
    }
    dst[dstKey] = std::move(array);
}

void jcpyarray(json& dst, const std::string& dstKey, const json& src,
               const std::vector<std::string>& srcKeys) {
    json array = json::array();
    if (src.is_object())
        for (const std::string& key : srcKeys) {
            const auto it = src.find(key);
            if (it != src.end())
                array.push_back(*it);
        }
    dst[dstKey] = std::move(array);
}

json jgetnotnull(const json& src, const std::vector<std::string>& keys) {
    if (!src.is_object())
        return nullptr;
    for (const std::string& key : keys) {
        const auto it = src.find(key);
        if (it != src.end())
            return *it;
    }
    return nullptr;
}

} // namespace JsonMetadata
} // namespace Zan
