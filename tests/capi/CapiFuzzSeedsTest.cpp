// Writes the seed corpora of the C-interface fuzz targets when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/capi_file_fuzz build/rel/tests/test_capi
//   --gtest_filter='CapiFuzzSeeds.*'
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/capi_pixels_fuzz build/rel/tests/test_capi
//   --gtest_filter='CapiPixelsFuzzSeeds.*'
// A seed is one byte naming the kind of file (0 native, 1 TIFF) followed by a file our writers made: native
// files raw and compressed, of one and of several frames, and TIFFs in strips, tiles and separate planes;
// for the frame reads also TIFFs of many sample layouts, damaged ones and private-tag files whose
// directories differ.

#include <support/DamagedTiffs.h>
#include <support/FileText.h>
#include <support/FuzzSeeds.h>
#include <support/NativeFiles.h>
#include <support/TempDir.h>
#include <support/TiffFixtures.h>
#include <support/TiffPrivateTagFiles.h>

#include <qpx/QpxFileDevice.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

void saveFile(const std::filesystem::path& seeds, const std::string& name, char kind,
              const std::string& path) {
    saveSeed(seeds, name, std::string(1, kind) + ZanTest::readFileText(path));
}

void saveTiff(const std::filesystem::path& seeds, const std::string& name, const std::vector<char>& bytes) {
    saveSeed(seeds, name + ".tif", std::string(1, '\1') + std::string(bytes.begin(), bytes.end()));
}

// Native files raw and compressed, of one and of several frames.
void saveNatives(const std::filesystem::path& seeds, const ZanTest::TempDir& dir) {
    const struct {
        ZanTest::NativeGeometry geometry;
        std::uint32_t frames;
    } natives[] = {{{"gray8-3px", 3, 5, 8, 8, 1}, 2},
                   {{"gray12-in16", 9, 4, 12, 16, 1}, 1},
                   {{"rgb8", 7, 3, 8, 8, 3}, 1},
                   {{"gray16-zlib", 33, 9, 16, 16, 1, true}, 3}};
    for (const auto& n : natives) {
        const std::string path = dir.file(std::string(n.geometry.name) + ".qpx");
        Zan::QpxFileDevice file(path);
        ZanTest::writeNativeFile(file, n.geometry, n.frames);
        saveFile(seeds, std::string(n.geometry.name) + ".qpx", '\0', path);
    }
}

TEST(CapiFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(seeds);
    ZanTest::TempDir dir;
    saveNatives(seeds, dir);

    ZanTest::TiffSpec gray;
    gray.width = 5;
    gray.height = 4;
    ZanTest::TiffSpec tiled = gray;
    tiled.bits = 16;
    tiled.tileWidth = tiled.tileLength = 16;
    ZanTest::TiffSpec planar = gray;
    planar.samples = 3;
    planar.photometric = PHOTOMETRIC_RGB;
    planar.planar = PLANARCONFIG_SEPARATE;
    for (const ZanTest::TiffSpec& spec : {gray, tiled, planar}) {
        const std::string path = dir.file(ZanTest::fixtureName(spec) + ".tif");
        ZanTest::writeTiff(path, spec);
        saveFile(seeds, ZanTest::fixtureName(spec) + ".tif", '\1', path);
    }
}

TEST(CapiPixelsFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(seeds);
    ZanTest::TempDir dir;
    saveNatives(seeds, dir);
    // Sample layouts, each small: whole samples that libtiff's decode is compared with, and the converted
    // ones.
    const auto spec = [](std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples,
                         std::uint16_t planar, std::uint16_t format, std::uint32_t tile,
                         std::uint16_t compression) {
        ZanTest::TiffSpec s;
        s.width = 9;
        s.height = 7;
        s.rowsPerStrip = 3;
        s.photometric = photometric;
        s.bits = bits;
        s.samples = samples;
        s.planar = planar;
        s.sampleFormat = format;
        s.tileWidth = s.tileLength = tile;
        s.compression = compression;
        return s;
    };
    constexpr std::uint16_t contig = PLANARCONFIG_CONTIG, separate = PLANARCONFIG_SEPARATE;
    constexpr std::uint16_t uint = SAMPLEFORMAT_UINT;
    for (const ZanTest::TiffSpec& s : {
             spec(PHOTOMETRIC_MINISBLACK, 8, 1, contig, uint, 0, COMPRESSION_NONE),
             spec(PHOTOMETRIC_MINISBLACK, 16, 1, contig, uint, 16, COMPRESSION_LZW),
             spec(PHOTOMETRIC_MINISBLACK, 16, 2, separate, SAMPLEFORMAT_INT, 0, COMPRESSION_ADOBE_DEFLATE),
             spec(PHOTOMETRIC_MINISBLACK, 32, 1, contig, SAMPLEFORMAT_IEEEFP, 16, COMPRESSION_NONE),
             spec(PHOTOMETRIC_MINISWHITE, 8, 1, contig, uint, 0, COMPRESSION_LZW),
             spec(PHOTOMETRIC_RGB, 8, 3, contig, uint, 0, COMPRESSION_ADOBE_DEFLATE),
             spec(PHOTOMETRIC_RGB, 16, 3, separate, uint, 16, COMPRESSION_NONE),
             spec(PHOTOMETRIC_RGB, 8, 4, contig, uint, 0, COMPRESSION_NONE),
             spec(PHOTOMETRIC_MINISBLACK, 12, 1, contig, SAMPLEFORMAT_INT, 0, COMPRESSION_NONE),
             spec(PHOTOMETRIC_MINISBLACK, 4, 1, contig, uint, 16, COMPRESSION_NONE),
             spec(PHOTOMETRIC_RGB, 5, 3, contig, uint, 0, COMPRESSION_NONE),
             spec(PHOTOMETRIC_PALETTE, 8, 1, contig, uint, 0, COMPRESSION_NONE),
             spec(PHOTOMETRIC_SEPARATED, 8, 4, contig, uint, 0, COMPRESSION_NONE),
         }) {
        const std::string path = dir.file("layout.tif");
        ZanTest::writeTiff(path, s);
        saveTiff(seeds, ZanTest::fixtureName(s), ZanTest::readBytes(path));
    }
    for (const ZanTest::DamagedTiff& d : ZanTest::damagedTiffs())
        saveTiff(seeds, "damaged-" + d.name, d.bytes);
    // Frames of two directories (planes) that store their pixels otherwise, or are of another depth.
    const std::pair<const char*, std::function<void(unsigned, ZanTest::TiffSpec&)>> private_[] = {
        {"strips-then-tiles",
         [](unsigned d, ZanTest::TiffSpec& s) { s.tileWidth = s.tileLength = d == 0 ? 0 : 16; }},
        {"16-then-8-bits", [](unsigned d, ZanTest::TiffSpec& s) { s.bits = d == 0 ? 16 : 8; }},
    };
    for (const auto& [name, vary] : private_) {
        ZanTest::PrivateTiff file;
        file.page.width = 9;
        file.page.height = 7;
        file.directories = 2;
        file.compPlanes = 2.0;
        file.vary = vary;
        file.data = ZanTest::namedBlob({{u"Custom", ZanTest::textBytes("x")}});
        saveTiff(seeds, std::string("private-") + name, ZanTest::writePrivateTiff(file));
    }
}

} // namespace
