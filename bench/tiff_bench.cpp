// Frames of the TIFF device against libtiff reading the same file in the same run. Each iteration times
// libtiff decoding every strip or tile of the frame, back to back, into one frame-sized buffer (a handle of
// its own, opened once, "rm": read(2) as the device does), then the device's packedImage of the frame into a
// buffer of the same size; "libtiff_ratio" is the sum of device times over the sum of libtiff times.
//   Frame: 4096 x 4096 grey of 8 or 16 bits, strips of 16 rows or tiles of 256 x 256, uncompressed or
//   Deflate. Goals: uncompressed within 1.10, Deflate within 1.03.
//   Planar: 4096 x 4096 RGB of 16 bits stored one plane per component (strips of 16 rows), which the
//   device interleaves band by band.
// Files are written once per process into the temporary directory.

#include <support/AgainstMemcpy.h>
#include <support/TiffFixtures.h>

#include <tiff/TifFileDevice.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using ZanTest::TiffSpec;

namespace {

constexpr std::uint32_t kSize = 4096;

TiffSpec specOf(std::uint16_t bits, bool tiles, std::uint16_t compression, bool planar) {
    TiffSpec spec;
    spec.width = spec.height = kSize;
    spec.bits = bits;
    spec.compression = compression;
    spec.rowsPerStrip = 16;
    if (tiles)
        spec.tileWidth = spec.tileLength = 256;
    if (planar) {
        spec.photometric = PHOTOMETRIC_RGB;
        spec.samples = 3;
        spec.planar = PLANARCONFIG_SEPARATE;
    }
    // Smooth content, so that Deflate has something to do but does not degenerate.
    spec.sample = [](unsigned s, std::uint32_t x, std::uint32_t y) -> std::uint64_t {
        return (x / 3 + y / 5 + s * 1000 + ((x * y) >> 9)) & 0xFFFF;
    };
    return spec;
}

const std::string& fixture(const TiffSpec& spec) {
    static std::map<std::string, std::string> files;
    const std::string name = ZanTest::fixtureName(spec);
    auto& path = files[name];
    if (path.empty()) {
        path = (std::filesystem::temp_directory_path() / ("zanfile-bench-" + name + ".tif")).string();
        ZanTest::writeTiff(path, spec);
    }
    return path;
}

// libtiff's own reading of every strip or tile into one buffer.
void readWithLibtiff(TIFF* tif, std::vector<char>& out) {
    const bool tiled = TIFFIsTiled(tif);
    const std::uint32_t blocks = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const tmsize_t blockSize = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    std::size_t at = 0;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const tmsize_t n = tiled ? TIFFReadEncodedTile(tif, b, out.data() + at, blockSize)
                                 : TIFFReadEncodedStrip(tif, b, out.data() + at, blockSize);
        if (n > 0)
            at += static_cast<std::size_t>(n);
    }
}

void Frame(benchmark::State& state, bool planar) {
    const auto bits = static_cast<std::uint16_t>(planar ? 16 : state.range(0));
    const bool tiles = !planar && state.range(1) != 0;
    const auto compression = static_cast<std::uint16_t>(planar           ? COMPRESSION_NONE
                                                        : state.range(2) ? COMPRESSION_ADOBE_DEFLATE
                                                                         : COMPRESSION_NONE);
    const std::string& path = fixture(specOf(bits, tiles, compression, planar));

    TIFF* tif = ZanTest::openTiff(path, "rm");
    Zan::TifFileDevice device(path);
    if (!tif || !device.open(Zan::IoDevice::Read, 0, nullptr)) {
        state.SkipWithError("cannot open the fixture");
        return;
    }
    auto frame = device.imageData(0);
    frame->open(Zan::IoImageDataDevice::Read);
    const long stride = frame->packedLineSize(1);
    const std::size_t bytes = static_cast<std::size_t>(stride) * kSize;
    // Tiles may reach beyond the frame; libtiff's buffer holds whole tiles.
    std::vector<char> reference(bytes + (tiles ? static_cast<std::size_t>(TIFFTileSize(tif)) * 16 : 0), 0);
    std::vector<char> dst(bytes, 0);

    ZanTest::againstReference(
        state, "libtiff_ratio", [&] { readWithLibtiff(tif, reference); },
        [&] { frame->packedImage(dst.data(), stride); });
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes));
    frame.reset();
    device.close();
    TIFFClose(tif);
}

void GreyFrame(benchmark::State& state) {
    Frame(state, false);
}

void PlanarRgbFrame(benchmark::State& state) {
    Frame(state, true);
}

} // namespace

BENCHMARK(GreyFrame)
    ->ArgNames({"bits", "tiles", "deflate"})
    ->ArgsProduct({{8, 16}, {0, 1}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PlanarRgbFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
