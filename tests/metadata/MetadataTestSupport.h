#pragma once

// Helpers shared by the metadata tests.

#include <nlohmann/json.hpp>

#include <functional>

namespace metadata_test {

// The id of the JSON library's exception that f raises (302 for a type error, 403 for a missing key,
// ...), or 0 when it raises none.
inline int jsonErrorId(const std::function<void()>& f) {
    try {
        f();
    } catch (const nlohmann::json::exception& e) {
        return e.id;
    }
    return 0;
}

} // namespace metadata_test
