#pragma once

// For benchmarks: the floor of a read from a file, pread of bytes bytes at offset into buffer (looping over
// short reads), timed in seconds.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <stdexcept>

#include <unistd.h>

namespace ZanTest {

inline double preadSeconds(int fd, char* buffer, long bytes, long offset) {
    const auto start = std::chrono::steady_clock::now();
    for (long done = 0; done < bytes;) {
        const ssize_t n = ::pread(fd, buffer + done, static_cast<std::size_t>(bytes - done), offset + done);
        if (n <= 0)
            throw std::runtime_error("pread failed");
        done += n;
    }
    benchmark::DoNotOptimize(buffer);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace ZanTest
