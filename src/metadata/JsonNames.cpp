#include <metadata/JsonBridge.h>

#include <cstdio>

namespace Zan {
namespace JsonMetadata {

std::string makeJsonItemName(const std::string& name, const std::string& suffix) {
    std::string key;
    key.reserve(name.size() + 1 + suffix.size());
    key.append(name).append(1, '_').append(suffix);
    return key;
}

std::string makeVariantItemName(const std::string& key, std::string& suffix) {
    const std::string::size_type p = key.rfind('_');
    if (p == std::string::npos) {
        suffix = key;
        return key;
    }
    suffix = key.substr(p + 1);
    return key.substr(0, p);
}

std::string makeJsonArrayNameFromIndex(unsigned index) {
    char text[24];
    std::snprintf(text, sizeof text, "i%010u", index);
    return text;
}

std::string chunkName(const std::string& prefix, unsigned index) {
    return prefix + std::to_string(index) + "!";
}

std::string chunkName(const std::string& prefix, const std::string& name) {
    return prefix + name + "!";
}

std::string chunkName(const std::string& prefix, const std::string& name, unsigned index) {
    return prefix + name + std::to_string(index) + "!";
}

} // namespace JsonMetadata
} // namespace Zan
