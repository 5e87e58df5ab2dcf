#pragma once

// Seed files for the fuzz targets are written by our own code: the `*FuzzSeeds.Write` tests run only when
// ZAN_WRITE_FUZZ_SEEDS names a directory.

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// The directory named by ZAN_WRITE_FUZZ_SEEDS, created; empty when the variable is not set.
inline std::filesystem::path seedDirectory() {
    const char* target = std::getenv("ZAN_WRITE_FUZZ_SEEDS");
    if (!target)
        return {};
    std::filesystem::create_directories(target);
    return target;
}

inline void saveSeed(const std::filesystem::path& dir, const std::string& name, const void* data, std::size_t size) {
    std::ofstream(dir / name, std::ios::binary).write(static_cast<const char*>(data), std::streamsize(size));
}

inline void saveSeed(const std::filesystem::path& dir, const std::string& name, std::string_view text) {
    saveSeed(dir, name, text.data(), text.size());
}

// First statement of a seed-writing test: skips it unless seeds are asked for.
#define ZAN_SEED_DIRECTORY_OR_SKIP(dir)                                                                     \
    const std::filesystem::path dir = seedDirectory();                                                      \
    if (dir.empty())                                                                                        \
    GTEST_SKIP() << "set ZAN_WRITE_FUZZ_SEEDS to a directory to write the seeds"
