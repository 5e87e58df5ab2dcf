// Building the experiment document and its frame table of 1,000, 10,000 and 100,000 frames (time, XY and Z
// loops), beside the floor of the same run: filling a reserved table with copies of one coordinate vector.
// The counter "per_frame" is the time per frame; "vs_floor" is experiment's time over the floor's, which
// must stay flat as the frame count grows (linear time).

#include <metadata/JsonBridge.h>

#include <support/ExperimentDocs.h>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using Zan::JsonMetadata::FrameTable;
using Zan::JsonMetadata::json;
using Clock = std::chrono::steady_clock;

// Loop counts (time, points, planes) for each frame count.
struct Shape {
    std::uint64_t time, points, planes;
};
Shape shapeOf(std::int64_t frames) {
    switch (frames) {
    case 1000:
        return {10, 10, 10};
    case 10000:
        return {10, 10, 100};
    default:
        return {100, 10, 100};
    }
}

json rawOf(const Shape& s) {
    using namespace ZanTest;
    std::vector<std::pair<double, double>> points;
    for (std::uint64_t i = 0; i < s.points; ++i)
        points.emplace_back(100.0 * static_cast<double>(i), 50.0);
    return rawWith(
        level(TimeLevel, timePars(s.time),
              {level(XYPosLevel, xyPars(points), {level(ZStackLevel, zPars(s.planes, 0, 10, 0.1, 5, 2))})}),
        s.time * s.points * s.planes);
}

double floorSeconds(std::size_t frames) {
    const auto start = Clock::now();
    FrameTable table;
    table.reserve(frames);
    const std::vector<std::uint32_t> coordinates = {1, 2, 3};
    for (std::size_t i = 0; i < frames; ++i)
        table.push_back(coordinates);
    benchmark::DoNotOptimize(table.data());
    table = FrameTable();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ExperimentAndFrameTable(benchmark::State& state) {
    const Shape shape = shapeOf(state.range(0));
    const json raw = rawOf(shape);
    const json attributes = {{"sequenceCount", state.range(0)}};
    double experimentTime = 0.0, floorTime = 0.0;
    for (auto _ : state) {
        // Both timings include freeing the table, so neither runs on memory the other still holds.
        const auto start = Clock::now();
        {
            FrameTable table;
            json doc = Zan::JsonMetadata::experiment(raw, attributes, table);
            benchmark::DoNotOptimize(doc);
            benchmark::DoNotOptimize(table.data());
            if (table.size() != static_cast<std::size_t>(state.range(0)))
                state.SkipWithError("wrong frame count");
        }
        experimentTime += std::chrono::duration<double>(Clock::now() - start).count();
        state.PauseTiming();
        floorTime += floorSeconds(static_cast<std::size_t>(state.range(0)));
        state.ResumeTiming();
    }
    state.counters["per_frame"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["vs_floor"] = experimentTime / floorTime;
}
BENCHMARK(BM_ExperimentAndFrameTable)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
