#pragma once

#include <algorithm>
#include <cmath>
#include <exception>
#include <thread>
#include <vector>

namespace Zan {

// Runs f(i) for every i in [begin, end).
//
// threads < 0 means the hardware concurrency. With a count of 0 or 1 (or a negative count on a machine
// that reports one core) the calling thread runs every index in order. Otherwise the range is cut into
// contiguous slices of max(1, round((n + 1) / threads)) indexes; threads - 1 workers take a slice each
// while indexes remain, and one more worker takes what is left. The caller only joins them, in the order
// they were started. No pool is kept: threads cost tens of microseconds each, so callers use this only for
// work well above that.
//
// An exception thrown by f on the calling thread stops the loop at once. One thrown on a worker ends that
// worker's slice; the others finish, and after all are joined the exception of the earliest-started
// worker that failed is rethrown in the caller. f must be safe to run concurrently for different indexes.
template <typename Index, typename Body>
void ParallelFor(Index begin, Index end, Body&& f, int threads) {
    if (threads < 0) {
        const unsigned hardware = std::thread::hardware_concurrency();
        threads = hardware == 0 ? -1 : static_cast<int>(std::min<unsigned>(hardware, 1u << 16));
    }
    if (threads == 0 || threads == 1) {
        for (Index i = begin; i < end; ++i)
            f(i);
        return;
    }
    if (!(begin < end))
        return;

    struct Slice {
        Index from;
        Index to;
        std::exception_ptr error;
    };
    std::vector<Slice> slices;
    if (threads < 0) {
        // The machine reports no concurrency: one worker takes the whole range.
        slices.push_back({begin, end, nullptr});
    } else {
        const double n = static_cast<double>(end - begin);
        Index length = static_cast<Index>(std::round((n + 1.0) / threads));
        if (length < 1)
            length = 1;
        Index start = begin;
        int started = 0;
        for (; started < threads - 1 && start < end; ++started) {
            const Index stop = (end - start <= length) ? end : static_cast<Index>(start + length);
            slices.push_back({start, stop, nullptr});
            start = stop;
        }
        if (start < end)
            slices.push_back({start, end, nullptr});
    }

    std::vector<std::thread> workers;
    workers.reserve(slices.size());
    std::exception_ptr startError;
    for (Slice& slice : slices) {
        try {
            workers.emplace_back([&slice, &f] {
                try {
                    for (Index i = slice.from; i < slice.to; ++i)
                        f(i);
                } catch (...) {
                    slice.error = std::current_exception();
                }
            });
        } catch (...) {
            startError = std::current_exception();
            break;
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    if (startError)
        std::rethrow_exception(startError);
    for (const Slice& slice : slices)
        if (slice.error)
            std::rethrow_exception(slice.error);
}

} // namespace Zan
