// The overlap weighting of tile frames against memcpy in the same run (support/AgainstMemcpy.h): the
// reported time is the kernel's, "memcpy_ratio" its time over that of a memcpy of the bytes it touches.
//   Multiplication: the Z factor over a whole 4096 x 4096 frame of 8-bit, 16-bit or float samples; memcpy
//   of the frame.
//   BandsY, BandsX: both bands of 256 rows or pixels of a 4096 x 4096 16-bit frame; memcpy of the bytes of
//   the two bands (the X bands are strided, a short run in every row).
// The kernels take a worker for every MiB a pass touches, at most as many as the hardware reports; memcpy
// runs on one thread.

#include <qpx/detail/QpxTileConversions.h>

#include <support/AgainstMemcpy.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr long kSize = 4096;
constexpr long kOverlap = 256;

long sampleBytes(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
}

// A frame of varied samples; floats hold small integers, as a converted tile does.
std::vector<std::uint32_t> frame(long bits) {
    const long line = kSize * sampleBytes(bits);
    std::vector<std::uint32_t> words(static_cast<size_t>(line * kSize / 4));
    for (size_t i = 0; i < words.size(); ++i) {
        const auto v = static_cast<std::uint32_t>(i * 2654435761u >> 20);
        if (bits > 16) {
            const float f = static_cast<float>(v & 0xFFF);
            std::memcpy(&words[i], &f, 4);
        } else {
            words[i] = v * 0x00010001u;
        }
    }
    return words;
}

void Multiplication(benchmark::State& state) {
    const long bits = state.range(0), line = kSize * sampleBytes(bits);
    std::vector<std::uint32_t> f = frame(bits);
    // A factor of 1 keeps the samples as they are from one iteration to the next.
    ZanTest::againstMemcpy(state, line * kSize,
                           [&] { Zan::multipication(f.data(), bits, line, kSize, 1.0f); });
    state.SetBytesProcessed(state.iterations() * line * kSize);
}

void BandsY(benchmark::State& state) {
    const long line = kSize * 2;
    std::vector<std::uint32_t> f = frame(16);
    ZanTest::againstMemcpy(state, 2 * kOverlap * line, [&] {
        Zan::blendingY(f.data(), 16, line, kSize, kSize, 1, kOverlap, true, true);
    });
    state.SetBytesProcessed(state.iterations() * 2 * kOverlap * line);
}

void BandsX(benchmark::State& state) {
    const long line = kSize * 2;
    std::vector<std::uint32_t> f = frame(16);
    ZanTest::againstMemcpy(state, 2 * kOverlap * 2 * kSize, [&] {
        Zan::blendingX(f.data(), 16, line, kSize, kSize, 1, kOverlap, true, true);
    });
    state.SetBytesProcessed(state.iterations() * 2 * kOverlap * 2 * kSize);
}

} // namespace

BENCHMARK(Multiplication)
    ->ArgName("bits")
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BandsY)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BandsX)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
