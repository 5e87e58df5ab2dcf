// Reading one 16-bit frame of a native file through packedImage (page cache warm), each beside its floors in
// the same run:
//   BM_RawFrame/<side>/<mode>/<threads>: a raw frame, mode 1 by positioned reads, 5 mapped; the floor is
//     pread of the same plane bytes into a buffer of the same alignment. Counter "vs_pread".
//   BM_ZlibFrame/<side>/<level>/<mode>/<threads>: a compressed frame written at zlib level 0 (what the device
//     writes), 1 or 6, mode 1 loading the chunk, 5 decoding from a mapping; the floors are zlib's uncompress
//     and libdeflate_zlib_decompress of the same stream from memory into a buffer of the same size.
//     Counters "vs_uncompress", "vs_libdeflate" and "libdeflate_vs_uncompress" (the two floors' ratio).
//   threads is the frame device's worker count for copies out of memory (-1: the hardware's).
//   BM_ZlibFrameReopened/<side>/<level>: as BM_ZlibFrame mapped, one thread, one frame device reopened.
//   BM_OpenAndFrameTable: opening a file of 100,000 frames (100 time points x 10 positions x 100 planes),
//     reading its attributes and its frame table, on a new device each time. Reported in milliseconds.
// Goals: raw within 1.10 of pread, compressed within 1.05 of libdeflate (itself at most 0.6 of uncompress
// at levels 1 and 6), the open under 50 ms.

#include <support/NativeFiles.h>
#include <support/PreadFloor.h>

#include <io/IoMemoryBuffer.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::QpxFileDevice;
using ImageData = QpxFileDevice::ImageData;

const std::string frameName = "ImageDataSeq|0!";

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t n)
        : data(static_cast<char*>(std::aligned_alloc(4096, (n + 4095) / 4096 * 4096))) {}
    ~AlignedBuffer() { std::free(data); }
    char* data;
};

// A file of one frame: raw (level < 0) or compressed at the given zlib level.
struct FrameFile {
    std::filesystem::path path;
    ZanTest::NativeGeometry geometry;
    long planeOffset = 0;   // file offset of the raw plane
    Zan::ByteVector stream; // the compressed frame's zlib stream

    FrameFile(long side, int level)
        : path(std::filesystem::temp_directory_path() /
               ("qpx_frame_bench_" + std::to_string(::getpid()) + "_" + std::to_string(side) + "_" +
                std::to_string(level) + ".qpx")),
          geometry{"frame", side, side, 16, 16, 1, level >= 0} {
        QpxFileDevice file(path.string());
        if (!file.open(IoDevice::Write | IoDevice::Update, 3, nullptr))
            throw std::runtime_error("cannot create " + path.string());
        file.setRawMetadata(ZanTest::nativeRaw(geometry, 1));
        ImageData frame(file.chunkedDevice(), frameName, side, side, 16, 16, 1, IoImageDataDevice::Plain,
                        IoImageDataDevice::UnsignedInteger,
                        level >= 0 ? ImageData::Lossless : ImageData::None, std::max(level, 0));
        frame.open(IoImageDataDevice::Write);
        ZanTest::writeNativeFrame(frame, geometry, 0);
        frame.close();
        planeOffset = file.chunkedDevice().chunkDataOffset(frameName) + ImageData::prefixBytes;
        const Zan::ByteVector chunk = file.chunkedData(frameName);
        stream.assign(chunk.begin() + ImageData::prefixBytes, chunk.end());
        file.close();
    }
    ~FrameFile() { std::filesystem::remove(path); }
    long planeBytes() const { return ZanTest::nativeLineBytes(geometry) * geometry.height; }
};

FrameFile& frameFile(long side, int level) {
    static std::map<std::pair<long, int>, std::unique_ptr<FrameFile>> files;
    auto& file = files[{side, level}];
    if (!file)
        file = std::make_unique<FrameFile>(side, level);
    return *file;
}

double uncompressOnce(const Zan::ByteVector& stream, char* buffer, long bytes) {
    const auto start = Clock::now();
    uLongf length = static_cast<uLongf>(bytes);
    if (uncompress(reinterpret_cast<Bytef*>(buffer), &length, reinterpret_cast<const Bytef*>(stream.data()),
                   static_cast<uLong>(stream.size())) != Z_OK ||
        length != static_cast<uLongf>(bytes))
        throw std::runtime_error("uncompress failed");
    benchmark::DoNotOptimize(buffer);
    return seconds(start);
}

// The bare call: its decompressor is made once, outside the timing.
double libdeflateOnce(const Zan::ByteVector& stream, char* buffer, long bytes) {
    static libdeflate_decompressor* const d = libdeflate_alloc_decompressor();
    const auto start = Clock::now();
    if (libdeflate_zlib_decompress(d, stream.data(), stream.size(), buffer, static_cast<std::size_t>(bytes),
                                   nullptr) != LIBDEFLATE_SUCCESS)
        throw std::runtime_error("libdeflate_zlib_decompress failed");
    benchmark::DoNotOptimize(buffer);
    return seconds(start);
}

// A floor of a read: its counter's name and one timed run into the buffer, in seconds.
using Floor = std::pair<const char*, std::function<double(char*, long)>>;

// Runs packedImage of the frame in mode against each floor, all into the same aligned buffer; sets the
// counter of each floor to the ratio of the read to it and returns the floors' summed times.
// With reopened set, one frame device is opened and closed again each time (its plane buffer stays
// allocated); otherwise each read makes a new frame device, as a client reading frame after frame does.
std::vector<double> compare(benchmark::State& state, FrameFile& f, IoImageDataDevice::OpenMode mode,
                            int threads, const std::vector<Floor>& floors, bool reopened = false) {
    QpxFileDevice file(f.path.string());
    if (!file.open(IoDevice::Read, 3, nullptr))
        throw std::runtime_error("cannot open " + f.path.string());
    const long line = ZanTest::nativeLineBytes(f.geometry), bytes = f.planeBytes();
    AlignedBuffer buffer(static_cast<std::size_t>(bytes));
    double method = 0;
    std::vector<double> base(floors.size(), 0.0);
    std::unique_ptr<IoImageDataDevice> kept = file.imageData(0);
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto made = reopened ? nullptr : file.imageData(0);
        IoImageDataDevice* frame = reopened ? kept.get() : made.get();
        frame->setPropertyInt(IoImageDataDevice::Threads, threads);
        if (!frame->open(mode))
            throw std::runtime_error("no frame");
        frame->packedImage(buffer.data, line);
        frame->close();
        const double t = seconds(start);
        benchmark::DoNotOptimize(buffer.data);
        method += t;
        for (std::size_t i = 0; i < floors.size(); ++i)
            base[i] += floors[i].second(buffer.data, bytes);
        state.SetIterationTime(t);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
    for (std::size_t i = 0; i < floors.size(); ++i)
        state.counters[floors[i].first] = method / base[i];
    return base;
}

// A compressed frame against zlib's and libdeflate's whole-stream calls.
void compareZlib(benchmark::State& state, long side, int level, IoImageDataDevice::OpenMode mode, int threads,
                 bool reopened) {
    FrameFile& f = frameFile(side, level);
    const std::vector<double> base =
        compare(state, f, mode, threads,
                {{"vs_uncompress", [&](char* b, long n) { return uncompressOnce(f.stream, b, n); }},
                 {"vs_libdeflate", [&](char* b, long n) { return libdeflateOnce(f.stream, b, n); }}},
                reopened);
    state.counters["libdeflate_vs_uncompress"] = base[1] / base[0];
}

void BM_RawFrame(benchmark::State& state) {
    FrameFile& f = frameFile(state.range(0), -1);
    const int fd = ::open(f.path.c_str(), O_RDONLY);
    compare(state, f, static_cast<IoImageDataDevice::OpenMode>(state.range(1)),
            static_cast<int>(state.range(2)),
            {{"vs_pread", [&](char* buffer, long bytes) {
                  return ZanTest::preadSeconds(fd, buffer, bytes, f.planeOffset);
              }}});
    ::close(fd);
}
BENCHMARK(BM_RawFrame)
    ->ArgsProduct({{2048, 4096}, {1, 5}, {-1, 1}})
    ->ArgNames({"side", "mode", "threads"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ZlibFrame(benchmark::State& state) {
    compareZlib(state, state.range(0), static_cast<int>(state.range(1)),
                static_cast<IoImageDataDevice::OpenMode>(state.range(2)), static_cast<int>(state.range(3)),
                false);
}
BENCHMARK(BM_ZlibFrame)
    ->ArgsProduct({{2048, 4096}, {0, 1, 6}, {1, 5}, {-1, 1}})
    ->ArgNames({"side", "level", "mode", "threads"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One frame device reopened: the steady state without a new plane buffer for every read.
void BM_ZlibFrameReopened(benchmark::State& state) {
    compareZlib(state, state.range(0), static_cast<int>(state.range(1)), 0x5, 1, true);
}
BENCHMARK(BM_ZlibFrameReopened)
    ->ArgsProduct({{2048, 4096}, {0, 1, 6}})
    ->ArgNames({"side", "level"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A file of 100,000 frames' metadata (no frame chunks: opening reads none).
struct TableFile {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("qpx_table_bench_" + std::to_string(::getpid()) + ".qpx");
    TableFile() {
        using namespace ZanTest;
        nlohmann::json raw = nativeRaw({"gray16", 2048, 2048, 16, 16, 1}, 100000);
        std::vector<std::pair<double, double>> points;
        for (int i = 0; i < 10; ++i)
            points.emplace_back(100.0 * i, 50.0);
        raw["Experiment_dic"] =
            level(TimeLevel, timePars(100),
                  {level(XYPosLevel, xyPars(points), {level(ZStackLevel, zPars(100, 0, 10, 0.1, 5))})});
        QpxFileDevice file(path.string());
        if (!file.open(IoDevice::Write | IoDevice::Update, 3, nullptr))
            throw std::runtime_error("cannot create " + path.string());
        file.setRawMetadata(raw);
        file.close();
    }
    ~TableFile() { std::filesystem::remove(path); }
};

void BM_OpenAndFrameTable(benchmark::State& state) {
    static TableFile f;
    for (auto _ : state) {
        QpxFileDevice file(f.path.string());
        if (!file.open(IoDevice::Read, 3, nullptr))
            throw std::runtime_error("cannot open");
        benchmark::DoNotOptimize(file.attributes());
        const auto table = file.allLoopIndexes();
        if (table.size() != 100000)
            throw std::runtime_error("wrong frame count");
        benchmark::DoNotOptimize(table.data());
    }
}
BENCHMARK(BM_OpenAndFrameTable)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
