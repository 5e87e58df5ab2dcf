#pragma once

// For fuzz targets that check what the library returns, not only that it survives: a failed check aborts,
// which libFuzzer records as a finding with the input that caused it.

#include <cstdlib>
#include <string>

namespace ZanTest {

inline void fuzzRequire(bool condition) {
    if (!condition)
        std::abort();
}

// The metadata bridge's one message of its own.
inline const std::string kCannotParseAttributes = "Cannot parse image attributes";

} // namespace ZanTest
