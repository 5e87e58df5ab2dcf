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

void requireObject(const json& o) {
    if (!o.is_object())
        throw json::type_error::create(306, std::string("cannot use value() with ") + o.type_name(), &o);
}

const json& memberOrNull(const json& o, const std::string& key) {
    static const json null;
    const json* m = member(o, key);
    return m ? *m : null;
}

const json* pointee(const json& doc, const json::json_pointer& ptr) {
    requireObject(doc);
    return doc.contains(ptr) ? &doc.at(ptr) : nullptr;
}

bool withinNesting(const json& value) {
    if (!value.is_structured())
        return true;
    std::vector<std::pair<const json*, std::size_t>> pending{{&value, 1}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (depth > maxJsonNesting)
            return false;
        for (const auto& child : *node)
            if (child.is_structured())
                pending.emplace_back(&child, depth + 1);
    }
    return true;
}

void checkNesting(const json& value, const char* what) {
    if (!withinNesting(value))
        throw std::runtime_error(std::string(what) + ": nested deeper than " +
                                 std::to_string(maxJsonNesting) + " levels");
}

void checkMemberNesting(const json& doc, const char* key, const char* builder) {
    if (const json* part = member(doc, key))
        checkNesting(*part, (std::string(builder) + ": " + key).c_str());
}

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
