// Writes the seed corpus of the TIFF fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/tiff_open_fuzz build/rel/tests/test_tiff --gtest_filter='TifFuzzSeeds.*'
// The seeds are small fixtures written with libtiff, one per kind of the fixture table, a file written by
// the device itself, and files with the private tags: frames of two directories with their documents as
// binary or XML variants, times and custom data.

#include "TifTestSupport.h"
#include <support/TiffPrivateTagFiles.h>

#include <support/ExperimentDocs.h>
#include <support/RawMetadataFixtures.h>

#include <support/FuzzSeeds.h>
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

    const nlohmann::json experiment = level(TimeLevel, timePars(2, 100.0));
    const nlohmann::json text = {{"TextInfoItem_4_str", "Ann"}};
    const nlohmann::json metadata = {
        {"sPicturePlanes_dic",
         {{"uiCount_u32", 1},
          {"sPlaneNew_dic", {{positionKey(0), {{"uiCompCount_u32", 2}, {"sDescription_str", "c0"}}}}}}}};
    const nlohmann::json note = {{"sNote_str", "n"}};
    for (bool xml : {false, true}) {
        PrivateTiff file;
        file.page = spec(PHOTOMETRIC_MINISBLACK, xml ? 8 : 16, 1, PLANARCONFIG_CONTIG,
                         xml ? COMPRESSION_NONE : COMPRESSION_LZW, xml);
        file.directories = 4;
        file.compPlanes = 2.0;
        const auto document = [xml](const nlohmann::json& part, const char* root) {
            return xml ? xmlVariantBytes(part, root) : liteVariantBytes(part, root);
        };
        const Zan::ByteVector frameDocuments =
            sequenceBlob({{u"MetadataTiffV1_0", {{0, document(metadata, kMetadataRoot)}}}});
        const Zan::ByteVector times = doubleBytes({0.0, 100.0});
        if (xml) {
            file.variant = namedBlob({{u"ExperimentTiffV1_0", document(experiment, kExperimentRoot)},
                                      {u"TextInfoTiffV1_0", document(text, kTextInfoRoot)}});
            file.variantSeq = frameDocuments;
            file.data = namedBlob({{u"AcqTimesCache", times}});
            file.dataSeq = sequenceBlob({{u"Tiles", {{1, textBytes("t")}}}});
        } else {
            file.data = namedBlob({{u"ExperimentTiffV1_0", document(experiment, kExperimentRoot)},
                                   {u"TextInfoTiffV1_0", document(text, kTextInfoRoot)},
                                   {u"AcqTimesCache", times}});
            file.dataSeq = frameDocuments;
            file.variant = namedBlob({{u"Notes", xmlVariantBytes(note, "Notes")}});
            file.variantSeq = sequenceBlob({{u"Stage", {{1, xmlVariantBytes(note, "Stage")}}}});
        }
        writeBytes(
            (dir / (xml ? "private-xml-2x2-gray8-tiles" : "private-lite-2x2-gray16-strips-lzw")).string(),
            writePrivateTiff(file));
    }
}

// Seeds of the writer's fuzz target, documents the image set hands the device for a frame file:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/tiff_write_fuzz build/rel/tests/test_tiff
//   --gtest_filter='TifWriteFuzzSeeds.*'
TEST(TifWriteFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const auto attributes = [](long width, long height, long components, long bits, long significant,
                               const char* type, const char* compression, long tile) {
        nlohmann::json a = {{"widthPx", width},
                            {"heightPx", height},
                            {"componentCount", components},
                            {"bitsPerComponentInMemory", bits},
                            {"bitsPerComponentSignificant", significant},
                            {"pixelDataType", type},
                            {"compressionType", compression}};
        if (tile)
            a["tileWidthPx"] = a["tileHeightPx"] = tile;
        return a;
    };
    const nlohmann::json oneColourChannel = {{"channels", {{{"volume", {{"componentCount", 3}}}}}}};
    const nlohmann::json twoChannels = {
        {"channels", {{{"volume", {{"componentCount", 3}}}}, {{"volume", {{"componentCount", 3}}}}}}};
    const struct {
        const char* name;
        nlohmann::json document;
    } seeds[] = {
        {"gray8-strips", {{"attributes", attributes(37, 23, 1, 8, 8, "unsigned", "none", 0)}}},
        {"gray12in16-tiles-lzw", {{"attributes", attributes(37, 23, 1, 16, 12, "unsigned", "lossless", 16)}}},
        {"rgb8-strips-lossy", {{"attributes", attributes(9, 7, 3, 8, 8, "unsigned", "lossy", 0)}}},
        {"rgb16-tiles-one-channel",
         {{"attributes", attributes(40, 20, 3, 16, 16, "unsigned", "none", 16)},
          {"metadata", oneColourChannel}}},
        {"three-components8-two-channels",
         {{"attributes", attributes(9, 7, 3, 8, 8, "unsigned", "none", 0)}, {"metadata", twoChannels}}},
        {"uint32-tiles", {{"attributes", attributes(33, 17, 1, 32, 32, "unsigned", "lossless", 16)}}},
        {"float32-strips", {{"attributes", attributes(9, 7, 1, 32, 32, "float", "none", 0)}}},
        {"four-components16-strips", {{"attributes", attributes(9, 7, 4, 16, 10, "unsigned", "none", 0)}}},
    };
    for (const auto& seed : seeds)
        saveSeed(dir, seed.name, seed.document.dump());
}
