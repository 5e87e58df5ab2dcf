// The C interface's frame fetch, each beside its floors in the same run (page cache warm):
//   BM_CapiFrame/<side>: Zan_FileGetImageData of a raw 16-bit frame of a native file into one reused
//     picture. Counter "vs_packedImage": against the class library reading the same frame with a new frame
//     device each time (as the interface does) through packedImage; counter "vs_pread": against pread of
//     the frame's bytes. All three write into the picture's buffer (so alignment and destination pages are
//     the same) and take turns at going first.
// Goals for 4096 x 4096: within 1.05 of packedImage, within 1.10 of pread.
// Linked to the shared libraries, as C clients are.

#include <support/NativeFiles.h>
#include <support/PreadFloor.h>

#include <capi/QpxReadSdk.h>
#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::QpxFileDevice;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct FrameFile {
    std::filesystem::path path;
    ZanTest::NativeGeometry geometry;
    long planeOffset = 0;

    explicit FrameFile(long side)
        : path(std::filesystem::temp_directory_path() /
               ("capi_bench_" + std::to_string(::getpid()) + "_" + std::to_string(side) + ".qpx")),
          geometry{"frame", side, side, 16, 16, 1} {
        {
            QpxFileDevice file(path.string());
            ZanTest::writeNativeFile(file, geometry, 1);
        }
        QpxFileDevice file(path.string());
        if (!file.open(IoDevice::Read, 3, nullptr))
            throw std::runtime_error("cannot open " + path.string());
        planeOffset =
            file.chunkedDevice().chunkDataOffset("ImageDataSeq|0!") + QpxFileDevice::ImageData::prefixBytes;
    }
    ~FrameFile() { std::filesystem::remove(path); }
    long lineBytes() const { return ZanTest::nativeLineBytes(geometry); }
    long planeBytes() const { return lineBytes() * geometry.height; }
};

double packedImageOnce(QpxFileDevice& file, char* buffer, long line) {
    const auto start = Clock::now();
    const auto frame = file.imageData(0);
    if (!frame->open(IoImageDataDevice::Read))
        throw std::runtime_error("no frame");
    frame->packedImage(buffer, line);
    frame->close();
    benchmark::DoNotOptimize(buffer);
    return seconds(start);
}

void BM_CapiFrame(benchmark::State& state) {
    const FrameFile f(state.range(0));
    Zan_FileHandle handle = Zan_FileOpenForReadUtf8(f.path.c_str());
    if (!handle)
        throw std::runtime_error("cannot open " + f.path.string());
    Zan_Picture picture{};
    if (Zan_FileGetImageData(handle, 0, &picture) != 0 ||
        picture.size != static_cast<std::size_t>(f.planeBytes()))
        throw std::runtime_error("no picture");
    // All three write into the picture's buffer: the same destination pages and alignment for each.
    char* const buffer = static_cast<char*>(picture.imageData);
    QpxFileDevice file(f.path.string());
    if (!file.open(IoDevice::Read, 3, nullptr))
        throw std::runtime_error("cannot open " + f.path.string());
    const int fd = ::open(f.path.c_str(), O_RDONLY);

    double capi = 0, packed = 0, pread = 0;
    const auto fetch = [&] {
        const auto start = Clock::now();
        if (Zan_FileGetImageData(handle, 0, &picture) != 0)
            throw std::runtime_error("frame fetch failed");
        const double t = seconds(start);
        benchmark::DoNotOptimize(picture.imageData);
        return t;
    };
    // The three take turns at going first: each read is slowed or sped by the one before it (what it left
    // in the caches), so a fixed order would favour one of them.
    long turn = 0;
    for (auto _ : state) {
        for (long k = 0; k < 3; ++k)
            switch ((turn + k) % 3) {
            case 0: {
                const double t = fetch();
                capi += t;
                state.SetIterationTime(t);
                break;
            }
            case 1:
                packed += packedImageOnce(file, buffer, f.lineBytes());
                break;
            default:
                pread += ZanTest::preadSeconds(fd, buffer, f.planeBytes(), f.planeOffset);
            }
        ++turn;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * f.planeBytes());
    state.counters["vs_packedImage"] = capi / packed;
    state.counters["vs_pread"] = capi / pread;
    state.counters["buffer_page_offset"] =
        static_cast<double>(reinterpret_cast<std::uintptr_t>(buffer) % 4096);
    state.counters["file_page_offset"] = static_cast<double>(f.planeOffset % 4096);
    ::close(fd);
    Zan_DestroyPicture(&picture);
    Zan_FileClose(handle);
}
BENCHMARK(BM_CapiFrame)->Arg(4096)->ArgName("side")->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
