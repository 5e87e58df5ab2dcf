// Coordinates computed from loop counts against the table that the experiment document fills.

#include <metadata/JsonBridge.h>
#include <metadata/detail/FrameCoordinates.h>

#include "support/Expect.h"
#include "support/ExperimentDocs.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

using namespace Zan::JsonMetadata;
using namespace ZanTest;

namespace {

// A random nest of time, Z and custom levels (XY counts follow their points, so they are left out), of
// at most 4 levels and at most 2,000 frames.
json randomNest(std::mt19937& random, std::vector<std::uint32_t>& counts) {
    const std::uint32_t types[] = {TimeLevel, ZStackLevel, CustomLevel, ManTimeLevel};
    const int depth = std::uniform_int_distribution<int>(1, 4)(random);
    counts.clear();
    std::uint64_t frames = 1;
    for (int i = 0; i < depth; ++i) {
        const std::uint32_t count = std::uniform_int_distribution<std::uint32_t>(1, 9)(random);
        if (frames * count > 2000)
            break;
        frames *= count;
        counts.push_back(count);
    }
    json inner;
    for (std::size_t i = counts.size(); i-- > 0;) {
        const std::uint32_t type = types[std::uniform_int_distribution<int>(0, 3)(random)];
        const json pars = type == TimeLevel ? timePars(counts[i]) : type == ZStackLevel
                                                                        ? zPars(counts[i], 0, 10, 1, 5)
                                                                        : countPars(counts[i]);
        inner = inner.is_null() ? level(type, pars) : level(type, pars, {inner});
    }
    return inner;
}

TEST(FrameCoordinates, AgreeWithTheTableOfRandomNests) {
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint32_t> counts;
        const json raw = rawWith(randomNest(random, counts));
        FrameTable table;
        const json loops = experiment(raw, {{"sequenceCount", 1}}, table);
        const FrameCoordinates frames = FrameCoordinates::ofExperiment(loops);
        ASSERT_EQ(frames.counts(), counts) << raw.dump();
        ASSERT_EQ(frames.frameCount(), table.size());
        for (std::uint64_t f = 0; f < table.size(); ++f) {
            ASSERT_EQ(frames.coordinates(f), table[f]) << "frame " << f << " of " << raw.dump();
            std::uint64_t back = ~0ull;
            ASSERT_TRUE(frames.frameOf(table[f], &back));
            ASSERT_EQ(back, f);
        }
        FrameTable filled = {{7}};
        frames.fillTable(filled);
        EXPECT_EQ(filled, table);
    }
}

TEST(FrameCoordinates, TuplesThatNameNoFrame) {
    const FrameCoordinates frames = FrameCoordinates::ofCounts({2, 3});
    std::uint64_t frame = 99;
    for (const std::vector<std::uint32_t>& key :
         std::vector<std::vector<std::uint32_t>>{{}, {1}, {2, 0}, {1, 3}, {0, 1, 0}, {0xFFFFFFFF, 0}})
        EXPECT_FALSE(frames.frameOf(key, &frame));
    EXPECT_EQ(frame, 99u);
    EXPECT_TRUE(frames.frameOf({1, 2}, nullptr));
    ZAN_EXPECT_THROW_MSG(frames.coordinates(6), std::out_of_range, "FrameCoordinates: frame 6 of a sequence of 6");

    // Frames without loops: each has no coordinates, and the empty tuple names the first.
    const FrameCoordinates stored(5);
    EXPECT_EQ(stored.coordinates(4), std::vector<std::uint32_t>{});
    EXPECT_TRUE(stored.frameOf({}, &frame));
    EXPECT_EQ(frame, 0u);
    EXPECT_FALSE(stored.frameOf({0}, &frame));
    EXPECT_FALSE(FrameCoordinates(0).frameOf({}, &frame));
}

TEST(FrameCoordinates, DeclaredCountsCostNothingAndTablesAreCapped) {
    // The last frame of the cap, and of the widest loops a cap of 2^64 lets through, without a table.
    const FrameCoordinates capped = FrameCoordinates::ofCounts({10000, 100, 100});
    EXPECT_EQ(capped.frameCount(), maxFrameTableFrames);
    EXPECT_EQ(capped.coordinates(maxFrameTableFrames - 1), (std::vector<std::uint32_t>{9999, 99, 99}));
    std::uint64_t frame = 0;
    ASSERT_TRUE(capped.frameOf({5000, 1, 2}, &frame));
    EXPECT_EQ(frame, 50'000'102u);

    const FrameCoordinates wide = FrameCoordinates::ofCounts({0xFFFFFFFF, 0xFFFFFFFF}, ~0ull);
    EXPECT_EQ(wide.coordinates(wide.frameCount() - 1), (std::vector<std::uint32_t>{0xFFFFFFFE, 0xFFFFFFFE}));

    // Asking for the whole table beyond the cap is refused before anything is allocated.
    FrameTable table = {{7}};
    ZAN_EXPECT_THROW_MSG(wide.fillTable(table), std::runtime_error,
                         "Frame table: the experiment loops give more than 100000000 frames");
    EXPECT_EQ(table, FrameTable({{7}}));
    ZAN_EXPECT_THROW_MSG(FrameCoordinates::ofCounts({100001, 1000}), std::runtime_error,
                         "Frame table: the experiment loops give more than 100000000 frames");
    ZAN_EXPECT_THROW_MSG(FrameCoordinates::ofCounts({3, 0}), std::runtime_error,
                         "Frame table: experiment loop 1 has no iterations");
}

} // namespace
