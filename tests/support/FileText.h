#pragma once

// Whole files as text, for tests that compare what a writer left on disk.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ZanTest {

// Every byte of the file; empty when it cannot be read.
inline std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces the file's content with text.
inline void writeFileText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace ZanTest
