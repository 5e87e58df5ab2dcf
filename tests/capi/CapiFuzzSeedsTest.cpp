// Writes the seed corpus of the C-interface fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/capi_file_fuzz build/rel/tests/test_capi
//   --gtest_filter='CapiFuzzSeeds.*'
// A seed is one byte naming the kind of file (0 native, 1 TIFF) followed by a file our writers made: native
// files raw and compressed, of one and of several frames, and TIFFs in strips, tiles and separate planes.

#include <support/FileText.h>
#include <support/FuzzSeeds.h>
#include <support/NativeFiles.h>
#include <support/TempDir.h>
#include <support/TiffFixtures.h>

#include <qpx/QpxFileDevice.h>

#include <gtest/gtest.h>

#include <string>

namespace {

void saveFile(const std::filesystem::path& seeds, const std::string& name, char kind,
              const std::string& path) {
    saveSeed(seeds, name, std::string(1, kind) + ZanTest::readFileText(path));
}

TEST(CapiFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(seeds);
    ZanTest::TempDir dir;
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

} // namespace
