// File-device read throughput beside the physical floor, in the same run:
//  - readData in 1 MiB blocks against pread(2) of the same blocks into the same buffer;
//  - map + copy out against read(2) of the whole file and against memcpy from memory.
// Counters report the ratios (library time / floor time); the goal is at most 1.1 against read(2).
// The file lives in the page cache after the first pass, so this measures the library's overhead.

#include <io/IoFileDevice.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kFileSize = 256u << 20;
constexpr std::size_t kBlock = 1u << 20;

struct AlignedFree {
    void operator()(char* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<char, AlignedFree>;

AlignedBuffer alignedBuffer(std::size_t size) {
    return AlignedBuffer(static_cast<char*>(std::aligned_alloc(4096, size)));
}

const std::string& testFile() {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "zanfile-bench-read.bin").string();
        if (!std::filesystem::exists(p) || std::filesystem::file_size(p) != kFileSize) {
            Zan::IoFileDevice out(p);
            out.open(Zan::IoDevice::Write);
            std::vector<char> block(kBlock);
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<char>(i * 31 + 7);
            for (std::size_t done = 0; done < kFileSize; done += kBlock)
                out.writeData(block.data(), block.size());
            out.close();
        }
        return p;
    }();
    return path;
}

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ReadBlocks(benchmark::State& state) {
    Zan::IoFileDevice device(testFile());
    device.open(Zan::IoDevice::Read);
    const int fd = ::open(testFile().c_str(), O_RDONLY);
    AlignedBuffer buffer = alignedBuffer(kBlock);
    double library = 0, plain = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        device.seek(0, Zan::IoDevice::Begin);
        for (std::size_t done = 0; done < kFileSize; done += kBlock)
            benchmark::DoNotOptimize(device.readData(buffer.get(), kBlock));
        library += seconds(start);

        start = Clock::now();
        for (std::size_t done = 0; done < kFileSize; done += kBlock)
            benchmark::DoNotOptimize(::pread(fd, buffer.get(), kBlock, static_cast<off_t>(done)));
        plain += seconds(start);
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize * 2));
    state.counters["library_GBps"] = state.iterations() * kFileSize / library / 1e9;
    state.counters["pread_GBps"] = state.iterations() * kFileSize / plain / 1e9;
    state.counters["ratio_to_pread"] = library / plain;
}
BENCHMARK(BM_ReadBlocks)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MapAndCopy(benchmark::State& state) {
    Zan::IoFileDevice device(testFile());
    device.open(Zan::IoDevice::Read);
    const int fd = ::open(testFile().c_str(), O_RDONLY);
    AlignedBuffer target = alignedBuffer(kFileSize);
    AlignedBuffer source = alignedBuffer(kFileSize);
    ::pread(fd, source.get(), kFileSize, 0);
    std::memset(target.get(), 0, kFileSize);
    double mapped = 0, readCall = 0, copy = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        void* p = device.map(0, kFileSize);
        std::memcpy(target.get(), p, kFileSize);
        device.unmap(p);
        mapped += seconds(start);

        start = Clock::now();
        for (std::size_t done = 0; done < kFileSize;) {
            const ssize_t n = ::pread(fd, target.get() + done, kFileSize - done, static_cast<off_t>(done));
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        readCall += seconds(start);

        start = Clock::now();
        std::memcpy(target.get(), source.get(), kFileSize);
        benchmark::ClobberMemory();
        copy += seconds(start);
    }
    ::close(fd);
    state.counters["map_GBps"] = state.iterations() * kFileSize / mapped / 1e9;
    state.counters["ratio_to_read"] = mapped / readCall;
    state.counters["ratio_to_memcpy"] = mapped / copy;
}
BENCHMARK(BM_MapAndCopy)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
