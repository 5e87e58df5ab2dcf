#pragma once

// For fuzz targets that hand their input to the library as a file: a directory of this process, made on
// first use and removed with everything in it when the process ends.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace ZanTest {

inline const std::filesystem::path& fuzzScratchDirectory() {
    static const struct Directory {
        std::filesystem::path path;
        Directory() {
            char pattern[] = "/tmp/zan-fuzz-XXXXXX";
            if (!::mkdtemp(pattern))
                std::abort();
            path = pattern;
        }
        ~Directory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } directory;
    return directory.path;
}

} // namespace ZanTest
