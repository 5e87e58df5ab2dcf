// Reading one 32 MiB chunk of a container file (page cache warm) by readChunkData and by mapChunkData
// and a copy out of the mapping, each beside pread of the same bytes into the same buffer in the same
// run. The counter "vs_pread" is the method's time over pread's; the goal is at most 1.1.
// BM_LoadSmallChunk loads a 200-byte metadata chunk by name, as a frame device does for every frame, into a
// new vector or (IntoVector) into the caller's; BM_PreadSmallChunk is the floor, a pread of the same bytes.
// BM_FrameRows reads a 2048 x 2048 16-bit frame of the chunk by positioned reads, one per row (0) or in
// runs of contiguous rows (1), as a frame device that does not map does; vs_pread as above.

#include <io/IoFileDevice.h>
#include <io/IoMapping.h>
#include <qpx/QpxChunkedDevice.h>

#include <support/ImageDataTestDevices.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Chunked = Zan::QpxFileDevice::ChunkedDevice;
using Clock = std::chrono::steady_clock;

constexpr unsigned long chunkSize = 32UL << 20;
const std::string chunkName = "ImageDataSeq|0!";

struct Fixture {
    std::filesystem::path path;
    long offset = 0;
    char* buffer = nullptr;

    Fixture() {
        path =
            std::filesystem::temp_directory_path() / ("chunked_bench_" + std::to_string(::getpid()) + ".qpx");
        std::vector<char> data(chunkSize);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 7);
        Chunked device(std::make_unique<Zan::IoFileDevice>(path.string()));
        if (!device.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
            throw std::runtime_error("cannot create " + path.string());
        device.storeChunk(chunkName, data.data(), data.size());
        offset = device.chunkDataOffset(chunkName);
        device.close();
        // Same alignment relative to the file offset as any destination a caller would pick.
        buffer = static_cast<char*>(std::aligned_alloc(4096, chunkSize));
    }
    ~Fixture() {
        std::free(buffer);
        std::filesystem::remove(path);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double preadOnce(int fd, unsigned long bytes) {
    Fixture& f = fixture();
    const auto start = Clock::now();
    unsigned long done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd, f.buffer + done, bytes - done, f.offset + static_cast<long>(done));
        if (n <= 0)
            throw std::runtime_error("pread failed");
        done += static_cast<unsigned long>(n);
    }
    benchmark::DoNotOptimize(f.buffer);
    return seconds(Clock::now() - start);
}

template <typename Method>
void compareWithPread(benchmark::State& state, unsigned long bytes, Method&& method) {
    Fixture& f = fixture();
    Chunked device(std::make_unique<Zan::IoFileDevice>(f.path.string()));
    if (!device.open(Zan::IoDevice::Read, 1, nullptr))
        throw std::runtime_error("cannot open " + f.path.string());
    const int fd = ::open(f.path.c_str(), O_RDONLY);
    double methodTime = 0, preadTime = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        method(device);
        const double t = seconds(Clock::now() - start);
        methodTime += t;
        preadTime += preadOnce(fd, bytes);
        state.SetIterationTime(t);
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["vs_pread"] = methodTime / preadTime;
}

void BM_ReadChunkData(benchmark::State& state) {
    compareWithPread(state, chunkSize, [](Chunked& device) {
        Fixture& f = fixture();
        if (device.readChunkData(f.offset, f.buffer, chunkSize) != chunkSize)
            throw std::runtime_error("short read");
        benchmark::DoNotOptimize(f.buffer);
    });
}

void BM_MapChunkData(benchmark::State& state) {
    compareWithPread(state, chunkSize, [](Chunked& device) {
        Fixture& f = fixture();
        unsigned long size = 0;
        const Zan::IoMapping mapped(*device.device(), device.mapChunkData(chunkName, &size));
        if (!mapped || size != chunkSize)
            throw std::runtime_error("mapping failed");
        std::memcpy(f.buffer, mapped.get(), size);
        benchmark::DoNotOptimize(f.buffer);
    });
}

// A file of 64 metadata-sized chunks, loaded by name one after another.
struct SmallChunks {
    std::filesystem::path path;
    std::vector<std::string> names;

    SmallChunks() {
        path = std::filesystem::temp_directory_path() /
               ("chunked_bench_small_" + std::to_string(::getpid()) + ".qpx");
        const std::vector<char> data(200, 'm');
        Chunked device(std::make_unique<Zan::IoFileDevice>(path.string()));
        if (!device.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
            throw std::runtime_error("cannot create " + path.string());
        for (int i = 0; i < 64; ++i) {
            names.push_back("ImageMetadataSeqLV|" + std::to_string(i) + "!");
            device.storeChunk(names.back(), data.data(), data.size());
        }
        device.close();
    }
    ~SmallChunks() { std::filesystem::remove(path); }
};

SmallChunks& smallChunks() {
    static SmallChunks s;
    return s;
}

// intoVector: the caller's vector is reused from one load to the next.
void loadSmallChunks(benchmark::State& state, bool intoVector) {
    SmallChunks& s = smallChunks();
    Chunked device(std::make_unique<Zan::IoFileDevice>(s.path.string()));
    if (!device.open(Zan::IoDevice::Read, 1, nullptr))
        throw std::runtime_error("cannot open " + s.path.string());
    std::size_t i = 0;
    Zan::ByteVector data;
    for (auto _ : state) {
        const std::string& name = s.names[i++ % s.names.size()];
        if (intoVector)
            device.loadChunk(name, data);
        else
            data = device.loadChunk(name);
        if (data.size() != 200)
            throw std::runtime_error("short chunk");
        benchmark::DoNotOptimize(data.data());
    }
}

void BM_LoadSmallChunk(benchmark::State& state) {
    loadSmallChunks(state, false);
}

void BM_LoadSmallChunkIntoVector(benchmark::State& state) {
    loadSmallChunks(state, true);
}

// The floor: one pread of the same 200 bytes, their offset known.
void BM_PreadSmallChunk(benchmark::State& state) {
    SmallChunks& s = smallChunks();
    std::vector<long> offsets;
    {
        Chunked device(std::make_unique<Zan::IoFileDevice>(s.path.string()));
        if (!device.open(Zan::IoDevice::Read, 1, nullptr))
            throw std::runtime_error("cannot open " + s.path.string());
        for (const std::string& name : s.names)
            offsets.push_back(device.chunkDataOffset(name));
    }
    const int fd = ::open(s.path.c_str(), O_RDONLY);
    char buffer[200];
    std::size_t i = 0;
    for (auto _ : state) {
        if (::pread(fd, buffer, sizeof buffer, offsets[i++ % offsets.size()]) != sizeof buffer)
            throw std::runtime_error("pread failed");
        benchmark::DoNotOptimize(buffer);
    }
    ::close(fd);
}

// A frame device's view of the helper that reads runs of rows.
class RowRunReader : public ZanTest::TestImageDevice {
public:
    RowRunReader() : TestImageDevice({"frame", 1, 1, 8, 8, 1, 1}, {}) {}
    using IoImageDataDevice::readRowRuns;
};

void BM_FrameRows(benchmark::State& state) {
    constexpr long rowBytes = 2048 * 2, rows = 2048;
    static_assert(rowBytes * rows <= static_cast<long>(chunkSize));
    const bool runs = state.range(0) != 0;
    RowRunReader reader;
    compareWithPread(state, rowBytes * rows, [&](Chunked& device) {
        Fixture& f = fixture();
        auto readAt = [&](long offset, void* buffer, unsigned long count) {
            return device.readChunkData(offset, buffer, count);
        };
        if (runs) {
            reader.readRowRuns(readAt, f.offset, rowBytes, f.buffer, rowBytes, rowBytes, rows, "short read");
        } else {
            for (long r = 0; r < rows; ++r)
                if (readAt(f.offset + r * rowBytes, f.buffer + r * rowBytes, rowBytes) != rowBytes)
                    throw std::runtime_error("short read");
        }
        benchmark::DoNotOptimize(f.buffer);
    });
}

} // namespace

BENCHMARK(BM_FrameRows)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSmallChunk);
BENCHMARK(BM_LoadSmallChunkIntoVector);
BENCHMARK(BM_PreadSmallChunk);
BENCHMARK(BM_ReadChunkData)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapChunkData)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
