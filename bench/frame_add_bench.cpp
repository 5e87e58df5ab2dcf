// The frame sums against memcpy in the same run (support/AgainstMemcpy.h): the reported time is the
// operation's, "memcpy_ratio" its time over that of a memcpy of the bytes it sums.
//   AddData: the sample-wise sum over a whole 4096 x 4096 frame of 8-bit, 16-bit or float samples; memcpy
//   of the frame. The sum reads two buffers and writes one, the copy reads one and writes one.
//   AddImageDataRect: the merge's step, a 2048 x 2048 tile of 16-bit samples summed into a 4096 x 4096
//   frame of a native file on disk, raw or compressed (the compressed frame is inflated and appended whole
//   on every call); memcpy of the tile.

#include <qpx/QpxFileDevice.h>
#include <qpx/detail/QpxFrameWrites.h>

#include <support/AgainstMemcpy.h>
#include <support/NativeFiles.h>
#include <support/TempDir.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr long kSize = 4096;
constexpr long kTile = 2048;

long sampleBytes(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
}

void AddData(benchmark::State& state) {
    const long bits = state.range(0), line = kSize * sampleBytes(bits);
    // Zero floats, so that the sums stay put over the iterations; integers wrap.
    std::vector<char> dst(static_cast<size_t>(line * kSize), 0), src(dst.size(), bits > 16 ? 0 : 3);
    ZanTest::againstMemcpy(state, line * kSize,
                           [&] { Zan::addData(src.data(), dst.data(), bits, line, kSize); });
    state.SetBytesProcessed(state.iterations() * line * kSize);
}

void AddImageDataRect(benchmark::State& state) {
    const bool lossless = state.range(0) != 0;
    const ZanTest::NativeGeometry g{"gray16", kSize, kSize, 16, 16, 1, lossless};
    ZanTest::TempDir dir;
    auto file = std::make_unique<Zan::QpxFileDevice>(dir.file("merged.qpx"));
    ZanTest::writeNativeFile(*file, g, 1);
    if (!file->open(Zan::IoDevice::Read | Zan::IoDevice::Update, 3, nullptr)) {
        state.SkipWithError("cannot reopen the file");
        return;
    }
    const long row = kTile * 2;
    const Zan::ByteVector tile(static_cast<size_t>(row * kTile), 1);
    const Zan::Rectangle rect{kSize / 4, kSize / 4, kTile, kTile};
    ZanTest::againstMemcpy(state, row * kTile, [&] {
        if (!file->addImageDataRect(tile, 0, rect))
            state.SkipWithError("addImageDataRect failed");
    });
    state.SetBytesProcessed(state.iterations() * row * kTile);
}

} // namespace

BENCHMARK(AddData)->Arg(8)->Arg(16)->Arg(32)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(AddImageDataRect)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);
// Every call appends the compressed frame (32 MiB at level 0) to the file: a few calls only.
BENCHMARK(AddImageDataRect)->Arg(1)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
