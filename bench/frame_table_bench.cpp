// Two costs of declared frame counts.
//
// BM_OpenCountAndLastFrame: a native file of a few kilobytes and a JSON-set description whose loops
// declare 10^3 to 10^8 frames (one frame stored), opened, asked for the sequence count and for the
// coordinates of the last frame and back. Coordinates follow from the loop counts, so the time must not
// grow with the count; "peak_rss_growth_MiB" is how far the process's peak resident memory rose during the
// benchmark (run the 10^8 case alone, --benchmark_filter=.../100000000, to read it against a fresh
// baseline).
//
// BM_ExperimentAndFrameTable: the whole table, as the experiment document's table argument and
// allLoopIndexes build it, of 1,000, 10,000 and 100,000 frames (time, XY and Z loops), beside the floor of
// the same run: filling a reserved table with copies of one coordinate vector. "per_frame" is the time per
// frame; "vs_floor" is experiment's time over the floor's, which must stay flat as the frame count grows.

#include <jsonset/JsonFileDevice.h>
#include <metadata/JsonBridge.h>
#include <qpx/QpxFileDevice.h>

#include <support/ExperimentDocs.h>
#include <support/FileText.h>
#include <support/NativeFiles.h>
#include <support/TempDir.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>

#include <sys/resource.h>

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

// Time (outer) by Z (inner) counts of a declared frame count.
std::pair<std::uint32_t, std::uint32_t> timeByZ(std::int64_t frames) {
    const std::uint32_t z = frames >= 1000 ? 1000 : 1;
    return {static_cast<std::uint32_t>(frames / z), z};
}

// A native file whose loops declare the frames, storing frame 0 only.
const Zan::ByteVector& nativeFile(std::int64_t frames) {
    static std::map<std::int64_t, Zan::ByteVector> files;
    Zan::ByteVector& bytes = files[frames];
    if (!bytes.empty())
        return bytes;
    using namespace ZanTest;
    const NativeGeometry g{"gray8", 8, 4, 8, 8, 1};
    const auto [t, z] = timeByZ(frames);
    json raw = nativeRaw(g, 1);
    raw["Experiment_dic"] = level(TimeLevel, timePars(t), {level(ZStackLevel, zPars(z, 0, 10, 0, 5, 2))});
    const TempDir dir;
    const std::string path = dir.file("declared.qpx");
    {
        Zan::QpxFileDevice file(path);
        file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr);
        file.setRawMetadata(raw);
        const auto frame = file.imageData(0);
        frame->open(Zan::IoImageDataDevice::Write);
        writeNativeFrame(*frame, g, 0);
        frame->close();
        file.close();
    }
    const std::string text = readFileText(path);
    bytes.assign(text.begin(), text.end());
    return bytes;
}

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Open, sequence count, the last frame's coordinates and the frame they name.
void countAndLastFrame(Zan::IoImageFileDevice& file, benchmark::State& state) {
    const unsigned frames = file.sequenceCount();
    if (frames != static_cast<unsigned>(state.range(0)))
        state.SkipWithError("wrong frame count");
    const std::vector<unsigned> last = file.loopIndexes(frames - 1);
    unsigned seq = 0;
    if (!file.sequenceIndex(last, &seq) || seq != frames - 1)
        state.SkipWithError("the last frame's coordinates lead elsewhere");
}

void BM_OpenCountAndLastFrame_Native(benchmark::State& state) {
    const Zan::ByteVector& bytes = nativeFile(state.range(0));
    const long baseline = peakRssKiB();
    for (auto _ : state) {
        Zan::QpxFileDevice file(bytes.size(), bytes.data());
        if (!file.open(Zan::IoDevice::Read, 3, nullptr))
            state.SkipWithError("no open");
        countAndLastFrame(file, state);
    }
    state.counters["file_KiB"] = static_cast<double>(bytes.size()) / 1024.0;
    state.counters["peak_rss_growth_MiB"] = static_cast<double>(peakRssKiB() - baseline) / 1024.0;
}

void BM_OpenCountAndLastFrame_JsonSet(benchmark::State& state) {
    const ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    const auto [t, z] = timeByZ(state.range(0));
    const json doc = {{"attributes",
                       {{"widthPx", 8},
                        {"heightPx", 4},
                        {"componentCount", 1},
                        {"bitsPerComponentInMemory", 8},
                        {"bitsPerComponentSignificant", 8},
                        {"sequenceCount", state.range(0)}}},
                      {"experiment",
                       {{{"type", "XYPosLoop"}, {"count", t}}, {{"type", "ZStackLoop"}, {"count", z}}}}};
    ZanTest::writeFileText(path, doc.dump());
    const long baseline = peakRssKiB();
    for (auto _ : state) {
        Zan::JsonFileDevice set(path);
        if (!set.open(Zan::IoDevice::Read, 3, nullptr))
            state.SkipWithError("no open");
        countAndLastFrame(set, state);
    }
    state.counters["peak_rss_growth_MiB"] = static_cast<double>(peakRssKiB() - baseline) / 1024.0;
}

BENCHMARK(BM_OpenCountAndLastFrame_Native)
    ->RangeMultiplier(10)
    ->Range(1000, 100000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCountAndLastFrame_JsonSet)
    ->RangeMultiplier(10)
    ->Range(1000, 100000000)
    ->Unit(benchmark::kMicrosecond);

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
