// Pixel copies of the image-data device against memcpy of the same bytes in the same run. Each iteration
// times a memcpy, then the operation; the reported time is the operation's and "memcpy_ratio" is the sum of
// operation times over the sum of memcpy times.
//   PackedCopy: packedImage of a 4096 x 4096 16-bit frame of 1 or 3 planes; memcpy of the frame's bytes.
//   The single-plane copy should stay within 1.2 of memcpy: the caller's buffer goes straight to the format.
//   Downsample: 16384 x 16384 16-bit plane read as 1024 x 1024; memcpy of the 2 MiB result.
// Thread counts 1 and -1 (hardware concurrency) for each.

#include <support/AgainstMemcpy.h>
#include <support/ImageDataTestDevices.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

using ZanTest::againstMemcpy;
using ZanTest::Geometry;
using ZanTest::Layout;
using ZanTest::Storage;
using ZanTest::TestImageDevice;

namespace {

// Devices are large; build each once per process.
TestImageDevice& device(long size, long planes, Storage storage) {
    static std::map<std::tuple<long, long, Storage>, std::unique_ptr<TestImageDevice>> devices;
    auto& slot = devices[{size, planes, storage}];
    if (!slot) {
        const Geometry g{"bench", size, size, 16, 16, 1, planes};
        slot = std::make_unique<TestImageDevice>(g, Layout{storage, 16, 256, 256});
        for (long p = 0; p < planes; ++p) {
            auto* samples = reinterpret_cast<std::uint16_t*>(slot->planeData(p));
            for (long i = 0; i < size * size; ++i)
                samples[i] = static_cast<std::uint16_t>(i * 2654435761u >> 20);
        }
        slot->open(TestImageDevice::Read);
    }
    return *slot;
}

void PackedCopy(benchmark::State& state) {
    const long size = 4096, planes = state.range(0);
    TestImageDevice& d = device(size, planes, static_cast<Storage>(state.range(2)));
    d.setPropertyInt(TestImageDevice::Threads, static_cast<int>(state.range(1)));
    const long stride = d.packedLineSize(1);
    std::vector<char> dst(static_cast<size_t>(stride * size), 0);
    againstMemcpy(state, stride * size, [&] { d.packedImage(dst.data(), stride); });
    state.SetBytesProcessed(state.iterations() * stride * size);
}

void Downsample(benchmark::State& state) {
    const long size = 16384, out = 1024;
    TestImageDevice& d = device(size, 1, static_cast<Storage>(state.range(0)));
    d.setPropertyInt(TestImageDevice::Threads, static_cast<int>(state.range(1)));
    std::vector<char> dst(static_cast<size_t>(out * out * 2), 0);
    d.setCurrentPlane(0);
    againstMemcpy(state, out * out * 2,
                  [&] { d.readCurrentDownsampledRect(out, out, 0, 0, out, out, dst.data(), out * 2); });
}

} // namespace

// Storage: 0 planes in memory, 3 plain plane reads only (multi-plane copies then read each plane into a
// temporary first).
BENCHMARK(PackedCopy)
    ->ArgNames({"planes", "threads", "storage"})
    ->ArgsProduct({{1, 3},
                   {1, -1},
                   {static_cast<long>(Storage::Memory), static_cast<long>(Storage::Neither)}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Storage: 0 plane in memory, 1 strips of 16 rows, 2 tiles of 256 x 256 (strips and tiles are read in the
// calling thread whatever the count).
BENCHMARK(Downsample)
    ->ArgNames({"storage", "threads"})
    ->ArgsProduct({{static_cast<long>(Storage::Memory), static_cast<long>(Storage::Striped),
                    static_cast<long>(Storage::Tiled)},
                   {1, -1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
