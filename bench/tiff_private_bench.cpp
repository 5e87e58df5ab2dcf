// Every frame of a private-tag TIFF read in order through the TIFF device, against libtiff reading the same
// directories one after the other in the same run. Each iteration times libtiff stepping from directory 0
// through the last and decoding each one's strips into a frame buffer (a handle of its own, opened once),
// then the device handing out every frame and reading it with packedImage; "libtiff_ratio" is the sum of
// device times over the sum of libtiff times; items are frames.
//   File: 1000 or 4000 directories of 64 x 64 grey of 8 bits, one directory per frame, the blobs in the
//   last. Goal: the ratio stays flat as the count grows (frames are found by reading on from the directory
//   loaded before, not by walking the chain from the first), within 2.
// Files are written once per process into the temporary directory.

#include <support/AgainstMemcpy.h>
#include <support/TiffPrivateTagFiles.h>

#include <tiff/TifFileDevice.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSize = 64;

const std::string& fixture(unsigned directories) {
    static std::map<unsigned, std::string> files;
    auto& path = files[directories];
    if (path.empty()) {
        ZanTest::PrivateTiff file;
        file.page.width = file.page.height = kSize;
        file.page.rowsPerStrip = 16;
        file.directories = directories;
        file.data = ZanTest::namedBlob({{u"Custom", ZanTest::textBytes("bench")}});
        path = (std::filesystem::temp_directory_path() /
                ("zanfile-bench-private-" + std::to_string(directories) + ".tif"))
                   .string();
        ZanTest::writeBytes(path, ZanTest::writePrivateTiff(file));
    }
    return path;
}

void readDirectoryWithLibtiff(TIFF* tif, std::vector<char>& out) {
    const tmsize_t size = TIFFStripSize(tif);
    std::size_t at = 0;
    for (std::uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(tif, s, out.data() + at, size);
        if (n > 0)
            at += static_cast<std::size_t>(n);
    }
}

void SequentialFrames(benchmark::State& state) {
    const auto directories = static_cast<unsigned>(state.range(0));
    const std::string& path = fixture(directories);
    TIFF* tif = ZanTest::openTiff(path, "rm");
    Zan::TifFileDevice device(path);
    if (!tif || !device.open(Zan::IoDevice::Read, 0, nullptr)) {
        state.SkipWithError("cannot open the fixture");
        return;
    }
    std::vector<char> reference(kSize * kSize), dst(kSize * kSize);
    ZanTest::againstReference(
        state, "libtiff_ratio",
        [&] {
            TIFFSetDirectory(tif, 0);
            do
                readDirectoryWithLibtiff(tif, reference);
            while (TIFFReadDirectory(tif) == 1);
        },
        [&] {
            for (unsigned f = 0; f < directories; ++f) {
                auto frame = device.imageData(f);
                frame->open(Zan::IoImageDataDevice::Read);
                frame->packedImage(dst.data(), kSize);
            }
        });
    state.SetItemsProcessed(state.iterations() * directories);
    device.close();
    TIFFClose(tif);
}

} // namespace

BENCHMARK(SequentialFrames)
    ->ArgName("directories")
    ->Arg(1000)
    ->Arg(4000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
