#pragma once

// A scratch directory for one test, removed with everything in it when the test ends.

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace ZanTest {

class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("zanfile-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace ZanTest
