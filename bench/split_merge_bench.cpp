// Split and merge of a large native image beside the floor of the same run: one read and one write of all
// its pixels through the native device.
//   Raw: one 16384 x 16384 frame of 16-bit samples (512 MiB) in a Z stack of one plane, cut into 2 x 2 x 1
//   tiles, without overlap or with bands of 256 pixels.
//   Compressed: one 4096 x 4096 frame of 16-bit samples, zlib frames (as our writer stores them), cut into
//   3 x 3 x 1 tiles, without overlap or with bands of 64 pixels; the merged file's size is reported beside
//   the source's (source_MB, merged_MB).
//   Reference (timed in every iteration first): open the source, read its frame with packedImage into a
//   buffer touched before, then create a native file of the same kind and store the buffer as its frame,
//   closing it.
//   SplitImage: splitImage of the source into the tiles.
//   MergeImage, MergeCompressed: mergeImage of the tiles (written once beforehand by a split) into a merged
//   file.
// The reported (manual) time is the operation's; "ratio" is the sum of operation times over the sum of
// reference times. Standard output is silenced while an operation runs. The files live in a temporary
// directory (about 2.7 GiB).

#include <qpx/QpxFileConversions.h>
#include <qpx/QpxFileDevice.h>

#include <support/NativeFiles.h>
#include <support/TempDir.h>
#include <support/ZStackFiles.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using Grid = Zan::Vector3d<long>;

constexpr long kSize = 16384;
const Grid kPieces{2, 2, 1};
constexpr long kCompressedSize = 4096;
const Grid kCompressedPieces{3, 3, 1};

// A source, written once for the whole run, and the files made from it.
struct Files {
    ZanTest::NativeGeometry g;
    ZanTest::TempDir dir;
    std::string source = dir.file("source.qpx");
    std::string copy = dir.file("copy.qpx");
    std::string merged = dir.file("merged.qpx");
    std::string tiles = dir.file("tiles/part_");
    Zan::ByteVector pixels; // the reference's buffer, touched before it is timed

    explicit Files(const ZanTest::NativeGeometry& geometry) : g(geometry) {
        // The pattern frame by frame would take a minute at this size: a ramp is written instead.
        Zan::QpxFileDevice file(source);
        if (!file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
            throw std::runtime_error("cannot create the source");
        file.setRawMetadata(ZanTest::zStackRaw(g, {ZanTest::ZStackLayout::ZOnly, 1, 1}));
        file.setImageData(
            ZanTest::patternBytes(static_cast<std::size_t>(ZanTest::nativeLineBytes(g) * g.height), 5), 0);
        file.close();
        pixels.assign(static_cast<std::size_t>(bytes()), 0);
    }
    long bytes() const { return ZanTest::nativeLineBytes(g) * g.height; }
};

Files& rawFiles() {
    static Files f({"gray16", kSize, kSize, 16, 16, 1});
    return f;
}

Files& compressedFiles() {
    static Files f({"gray16_zlib", kCompressedSize, kCompressedSize, 16, 16, 1, true});
    return f;
}

// One read and one write of every pixel through the native device, through a buffer that was touched
// before (the operations keep theirs across tiles and frames).
double referenceSeconds(Files& f) {
    Zan::ByteVector& pixels = f.pixels;
    const auto start = Clock::now();
    {
        Zan::QpxFileDevice in(f.source);
        if (!in.open(Zan::IoDevice::Read, 3, nullptr))
            throw std::runtime_error("cannot open the source");
        const auto frame = in.imageData(0);
        frame->open(Zan::IoImageDataDevice::Read);
        frame->packedImage(pixels.data(), frame->packedLineSize(frame->lineAlignment()));
    }
    Zan::QpxFileDevice out(f.copy);
    if (!out.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
        throw std::runtime_error("cannot create the copy");
    out.setRawMetadata(ZanTest::zStackRaw(f.g, {ZanTest::ZStackLayout::ZOnly, 1, 1}));
    out.setImageData(pixels, 0);
    out.close();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Op>
void againstReference(benchmark::State& state, Files& f, Op op) {
    double opSeconds = 0, referenceTotal = 0;
    for (auto _ : state) {
        referenceTotal += referenceSeconds(f);
        std::ostringstream silenced;
        std::streambuf* old = std::cout.rdbuf(silenced.rdbuf());
        const auto start = Clock::now();
        const bool ok = op();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::cout.rdbuf(old);
        if (!ok) {
            state.SkipWithError("the operation failed");
            return;
        }
        opSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["ratio"] = opSeconds / referenceTotal;
    state.counters["reference_ms"] = 1e3 * referenceTotal / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * f.bytes());
}

Grid overlapOf(const benchmark::State& state) {
    return {state.range(0), state.range(0), 0};
}

void SplitImage(benchmark::State& state) {
    Files& f = rawFiles();
    const Grid overlap = overlapOf(state);
    againstReference(state, f, [&] {
        return Zan::splitImage(f.source.c_str(), f.tiles.c_str(), kPieces, overlap, {}, false);
    });
}

// Merges of tiles split once beforehand from f's source.
void merge(benchmark::State& state, Files& f, const Grid& pieces) {
    const Grid overlap = overlapOf(state);
    std::ostringstream silenced;
    std::streambuf* old = std::cout.rdbuf(silenced.rdbuf());
    const bool split = Zan::splitImage(f.source.c_str(), f.tiles.c_str(), pieces, overlap, {}, false);
    std::cout.rdbuf(old);
    if (!split) {
        state.SkipWithError("the split failed");
        return;
    }
    againstReference(state, f, [&] {
        return Zan::mergeImage(f.merged.c_str(), f.tiles.c_str(), pieces, overlap, {}, false);
    });
    state.counters["source_MB"] = static_cast<double>(std::filesystem::file_size(f.source)) / 1e6;
    state.counters["merged_MB"] = static_cast<double>(std::filesystem::file_size(f.merged)) / 1e6;
}

void MergeImage(benchmark::State& state) {
    merge(state, rawFiles(), kPieces);
}

void MergeCompressed(benchmark::State& state) {
    merge(state, compressedFiles(), kCompressedPieces);
}

} // namespace

BENCHMARK(SplitImage)->Arg(0)->Arg(256)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(MergeImage)->Arg(0)->Arg(256)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(MergeCompressed)->Arg(0)->Arg(64)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
