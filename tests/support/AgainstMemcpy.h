#pragma once

// For benchmarks: times an operation beside a reference doing the same work in the same run (the physical
// floor: a memcpy of the same bytes, or libtiff reading the same strips). Each iteration times the
// reference, then the operation; the reported (manual) time is the operation's and the counter named
// `counter` is the sum of operation times over the sum of reference times. Register the benchmark with
// UseManualTime().

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace ZanTest {

template <typename Reference, typename Op>
void againstReference(benchmark::State& state, const char* counter, Reference reference, Op op) {
    using Clock = std::chrono::steady_clock;
    double opSeconds = 0, referenceSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        reference();
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        op();
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        referenceSeconds += std::chrono::duration<double>(t1 - t0).count();
        const double seconds = std::chrono::duration<double>(t2 - t1).count();
        opSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters[counter] = opSeconds / referenceSeconds;
}

// The reference is a memcpy of bytes bytes; the counter "memcpy_ratio".
template <typename Op>
void againstMemcpy(benchmark::State& state, long bytes, Op op) {
    std::vector<char> from(static_cast<size_t>(bytes), 1), to(static_cast<size_t>(bytes), 0);
    againstReference(
        state, "memcpy_ratio", [&] { std::memcpy(to.data(), from.data(), to.size()); }, op);
}

} // namespace ZanTest
