// Writes the seed corpus of the TIFF fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/tiff_open_fuzz build/rel/tests/test_tiff --gtest_filter='TifFuzzSeeds.*'
// The seeds are small fixtures written with libtiff, one per kind of the fixture table, and a file written
// by the device itself.

#include "TifTestSupport.h"

#include <support/TempDir.h>

#include <io/IoMemoryBuffer.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace ZanTest;

TEST(TifFuzzSeeds, Write) {
    const char* target = std::getenv("ZAN_WRITE_FUZZ_SEEDS");
    if (!target)
        GTEST_SKIP() << "set ZAN_WRITE_FUZZ_SEEDS to a directory to write the seeds";
    const std::filesystem::path dir(target);
    std::filesystem::create_directories(dir);
    auto spec = [](std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples, std::uint16_t planar,
                   std::uint16_t compression, bool tiles, std::uint16_t format = SAMPLEFORMAT_UINT) {
        TiffSpec s;
        s.width = 9;
        s.height = 7;
        s.rowsPerStrip = 3;
        s.photometric = photometric;
        s.bits = bits;
        s.samples = samples;
        s.planar = planar;
        s.compression = compression;
        s.sampleFormat = format;
        if (tiles)
            s.tileWidth = s.tileLength = 16;
        return s;
    };
    const TiffSpec seeds[] = {
        spec(PHOTOMETRIC_MINISBLACK, 8, 1, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false),
        spec(PHOTOMETRIC_MINISBLACK, 12, 1, PLANARCONFIG_CONTIG, COMPRESSION_LZW, true),
        spec(PHOTOMETRIC_MINISWHITE, 1, 1, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false),
        spec(PHOTOMETRIC_MINISBLACK, 16, 1, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false,
             SAMPLEFORMAT_IEEEFP),
        spec(PHOTOMETRIC_RGB, 8, 3, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE, false),
        spec(PHOTOMETRIC_RGB, 16, 3, PLANARCONFIG_SEPARATE, COMPRESSION_NONE, true),
        spec(PHOTOMETRIC_PALETTE, 4, 1, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false),
        spec(PHOTOMETRIC_PALETTE, 8, 1, PLANARCONFIG_SEPARATE, COMPRESSION_LZW, true),
        spec(PHOTOMETRIC_SEPARATED, 8, 4, PLANARCONFIG_CONTIG, COMPRESSION_NONE, false),
        spec(PHOTOMETRIC_SEPARATED, 8, 4, PLANARCONFIG_CONTIG, COMPRESSION_NONE, true),
    };
    for (const TiffSpec& s : seeds)
        writeTiff((dir / fixtureName(s)).string(), s);

    auto buffer = std::make_unique<Zan::IoMemoryBuffer>();
    Zan::IoMemoryBuffer* bytes = buffer.get();
    Zan::TifFileDevice writer(std::make_unique<Zan::TifFileDevice::Impl>(std::move(buffer)));
    ASSERT_TRUE(writer.open(Zan::IoDevice::Write, 0, nullptr));
    writer.setAttributes({{"widthPx", 9},
                          {"heightPx", 7},
                          {"componentCount", 3},
                          {"bitsPerComponentInMemory", 16},
                          {"bitsPerComponentSignificant", 12},
                          {"compressionType", "lossless"},
                          {"tileWidthPx", 4},
                          {"tileHeightPx", 4}});
    auto data = writer.imageData(0);
    data->open(Zan::IoImageDataDevice::Write);
    std::vector<char> frame(9 * 7 * 6, 3);
    data->writeCurrentPlane(frame.data(), 9 * 6);
    data.reset();
    writer.close();
    writeBytes((dir / "device-rgb-12in16-tiles-lzw").string(),
               std::vector<char>(bytes->data(), bytes->data() + bytes->size()));
}
