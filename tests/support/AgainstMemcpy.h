#pragma once

// For benchmarks: times an operation beside a memcpy of a given number of bytes in the same run. Each
// iteration times a memcpy, then the operation; the reported (manual) time is the operation's and the
// counter "memcpy_ratio" is the sum of operation times over the sum of memcpy times. Register the
// benchmark with UseManualTime().

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace ZanTest {

template <typename Op>
void againstMemcpy(benchmark::State& state, long bytes, Op op) {
    using Clock = std::chrono::steady_clock;
    std::vector<char> from(static_cast<size_t>(bytes), 1), to(static_cast<size_t>(bytes), 0);
    double opSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        op();
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        copySeconds += std::chrono::duration<double>(t1 - t0).count();
        const double seconds = std::chrono::duration<double>(t2 - t1).count();
        opSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["memcpy_ratio"] = opSeconds / copySeconds;
}

} // namespace ZanTest
