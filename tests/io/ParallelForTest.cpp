#include <io/Exception.h>
#include <io/ParallelFor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Slices = std::vector<std::pair<long, long>>;

// Runs the loop and returns the contiguous runs of indexes that one thread handled, in index order.
Slices slicesOf(long begin, long end, int threads, bool* callerOnly = nullptr) {
    std::vector<std::thread::id> owner(static_cast<size_t>(end - begin));
    Zan::ParallelFor(
        begin, end, [&](long i) { owner[static_cast<size_t>(i - begin)] = std::this_thread::get_id(); },
        threads);
    Slices slices;
    bool allCaller = true;
    for (long i = begin; i < end; ++i) {
        const auto& id = owner[static_cast<size_t>(i - begin)];
        allCaller = allCaller && id == std::this_thread::get_id();
        if (slices.empty() || owner[static_cast<size_t>(i - 1 - begin)] != id)
            slices.push_back({i, i + 1});
        else
            slices.back().second = i + 1;
    }
    if (callerOnly)
        *callerOnly = allCaller;
    return slices;
}

TEST(ParallelFor, SlicesTheRange) {
    struct Case {
        long begin, end;
        int threads;
        Slices expected;
    };
    const Case cases[] = {
        {0, 10, 4, {{0, 3}, {3, 6}, {6, 9}, {9, 10}}},
        {0, 3, 8, {{0, 1}, {1, 2}, {2, 3}}},
        {0, 100, 8, {{0, 13}, {13, 26}, {26, 39}, {39, 52}, {52, 65}, {65, 78}, {78, 91}, {91, 100}}},
        // round(3 / 2) = 2 covers the whole range with the first slice.
        {5, 7, 2, {{5, 7}}},
        // Slices of round(11 / 2) = 6 leave nothing for a last worker.
        {0, 10, 2, {{0, 6}, {6, 10}}},
        // round(6 / 3) = 2: two slices of 2, then one worker for the remaining 1.
        {0, 5, 3, {{0, 2}, {2, 4}, {4, 5}}},
        // round(5 / 4) = 1: three single slices, then the last worker takes the rest.
        {0, 4, 4, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}},
        {-4, 2, 3, {{-4, -2}, {-2, 0}, {0, 2}}},
    };
    for (const Case& c : cases) {
        bool callerOnly = true;
        EXPECT_EQ(slicesOf(c.begin, c.end, c.threads, &callerOnly), c.expected)
            << "[" << c.begin << ", " << c.end << ") on " << c.threads;
        EXPECT_FALSE(callerOnly) << "the caller does no share of the work";
    }
}

TEST(ParallelFor, RunsOnTheCallerInOrder) {
    for (int threads : {0, 1}) {
        std::vector<int> order;
        const std::thread::id caller = std::this_thread::get_id();
        Zan::ParallelFor(
            0, 6,
            [&](int i) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                order.push_back(i);
            },
            threads);
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
        bool callerOnly = false;
        slicesOf(0, 50, threads, &callerOnly);
        EXPECT_TRUE(callerOnly);
    }
}

TEST(ParallelFor, EmptyRangeCallsNothing) {
    for (int threads : {-1, 0, 1, 4}) {
        int calls = 0;
        Zan::ParallelFor(
            3, 3, [&](int) { ++calls; }, threads);
        Zan::ParallelFor(
            5, 3, [&](int) { ++calls; }, threads);
        EXPECT_EQ(calls, 0);
    }
}

TEST(ParallelFor, HardwareConcurrencyVisitsEveryIndexOnce) {
    std::vector<std::atomic<int>> visits(1000);
    Zan::ParallelFor<long>(
        0, 1000, [&](long i) { visits[static_cast<size_t>(i)]++; }, -1);
    for (const auto& v : visits)
        ASSERT_EQ(v.load(), 1);
}

TEST(ParallelFor, WorkerExceptionReachesTheCallerAfterAllJoined) {
    std::atomic<int> visited{0};
    try {
        Zan::ParallelFor(
            0, 40,
            [&](int i) {
                if (i == 11)
                    throw Zan::Exception::Aborted();
                ++visited;
            },
            4);
        ADD_FAILURE() << "the worker's exception was lost";
    } catch (const Zan::Exception::Aborted& e) {
        EXPECT_STREQ(e.what(), "aborted");
    }
    // Slices of 10: the failing slice [10, 20) stops after 10; the other three finish.
    EXPECT_EQ(visited.load(), 31);
}

TEST(ParallelFor, SerialExceptionStopsAtOnce) {
    std::vector<int> seen;
    EXPECT_THROW(Zan::ParallelFor(
                     0, 10,
                     [&](int i) {
                         if (i == 3)
                             throw std::runtime_error("stop");
                         seen.push_back(i);
                     },
                     1),
                 std::runtime_error);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
}

TEST(ParallelFor, AbortedIsARuntimeError) {
    const Zan::Exception::Aborted aborted;
    const std::runtime_error& base = aborted;
    EXPECT_STREQ(base.what(), "aborted");
}

} // namespace
