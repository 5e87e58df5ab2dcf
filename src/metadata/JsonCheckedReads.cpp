#include <metadata/detail/CheckedReads.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace Zan {
namespace JsonMetadata {
namespace detail {

void throwCannotParseAttributes() {
    throw std::runtime_error("Cannot parse image attributes");
}

void requireNumber(const json& value) {
    if (!value.is_number())
        throw json::type_error::create(302, std::string("type must be number, but is ") + value.type_name(),
                                       &value);
}

bool condNumber(const json& value) {
    requireNumber(value);
    return true;
}

bool condBoolean(const json& value) {
    (void)value.get<bool>(); // type error 302 for anything but a boolean
    return true;
}

bool condPositiveNumber(const json& value) {
    requireNumber(value);
    return value.get<double>() > 0.0;
}

bool condPositiveInteger(const json& value) {
    requireNumber(value);
    return jsonToInt32(value) > 0;
}

std::uint32_t u32Member(const json& dic, const std::string& key, std::uint32_t fallback) {
    if (!dic.is_object())
        return dic.value(key, fallback); // raises the library's type error 306
    const auto it = dic.find(key);
    return it == dic.end() ? fallback : jsonToUint32(*it);
}

std::int32_t i32Member(const json& dic, const std::string& key, std::int32_t fallback) {
    if (!dic.is_object())
        return dic.value(key, fallback);
    const auto it = dic.find(key);
    return it == dic.end() ? fallback : jsonToInt32(*it);
}

const json* pointee(const json& doc, const json::json_pointer& ptr) {
    if (!doc.is_object())
        (void)doc.value(ptr, 0); // raises the library's type error 306
    if (!doc.contains(ptr))
        return nullptr;
    return &doc.at(ptr);
}

void checkNesting(const json& value, const char* what) {
    if (!value.is_structured())
        return;
    std::vector<std::pair<const json*, std::size_t>> pending{{&value, 1}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (depth > maxJsonNesting)
            throw std::runtime_error(std::string(what) + ": nested deeper than " +
                                     std::to_string(maxJsonNesting) + " levels");
        for (const auto& child : *node)
            if (child.is_structured())
                pending.emplace_back(&child, depth + 1);
    }
}

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
