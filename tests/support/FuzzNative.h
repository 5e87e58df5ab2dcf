#pragma once

// For the fuzz targets of native files: the guard that lets the library's documented failures pass, and
// the bound on whole frame tables.

#include <support/FuzzFrameTable.h>

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace ZanTest {

// Runs f; the library's own errors (runtime and logic errors, the JSON library's) are expected, anything
// else passes on as a finding.
template <typename F>
void fuzzGuarded(F&& f) {
    try {
        f();
    } catch (const std::runtime_error&) {
    } catch (const std::logic_error&) {
    } catch (const nlohmann::json::exception&) {
    }
}

} // namespace ZanTest
