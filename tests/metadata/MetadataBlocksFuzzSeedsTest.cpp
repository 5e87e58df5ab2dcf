// Writes the seed corpus of the metadata-blocks fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/metadata_blocks_fuzz build/rel/tests/test_metadata
//   --gtest_filter='MetadataBlocksFuzzSeeds.*'
// Each seed is four blocks made by our writers, in the target's input layout.

#include "support/RawMetadataFixtures.h"
#include <support/MetadataBlocksFuzzInput.h>

#include "../legacy/LiteVariantTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using ZanTest::RawMetadataBlocks;
using json = nlohmann::json;

namespace {

json seedDocument() {
    return {
        {"Attributes_dic",
         {{"uiWidth_u32", 64},
          {"uiWidthBytes_u32", 128},
          {"uiHeight_u32", 32},
          {"uiComp_u32", 1},
          {"uiBpcInMemory_i32", 16},
          {"uiBpcSignificant_u32", 12},
          {"uiSequenceCount_u32", 4},
          {"uiTileWidth_u32", 16},
          {"uiTileHeight_u32", 16},
          {"eCompression_i32", 0},
          {"dCompressionParam_dbl", 1.0}}},
        {"Experiment_dic",
         {{"eType_u32", 4},
          {"uLoopPars_dic",
           {{"i0000000000_dic", {{"uiCount_u32", 4}, {"dZStep_dbl", 0.5}, {"bAbsolute_bol", true}}}}},
          {"uiNextLevelCount_u32", 0}}},
        {"Metadata_dic",
         {{"sPicturePlanes_dic", {{"sPlaneNew_dic", {{"a0_dic", {{"sDescription_str", "\u00b5 Kanal"}}}}}}},
          {"pCameraMatrix_bar", "AAECAwQF"},
          {"lTime_i64", -3},
          {"ulStamp_u64", 7}}},
        {"TextInfo_dic", {{"TextInfoItem_4_str", "Ann"}, {"TextInfoItem_13_str", "60x"}}}};
}

TEST(MetadataBlocksFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const auto save = [&](const char* name, const metadata_fuzz::Input& in) {
        const std::string bytes = metadata_fuzz::encode(in);
        saveSeed(dir, name, bytes.data(), bytes.size());
    };
    const json raw = seedDocument();
    const RawMetadataBlocks lite = ZanTest::liteVariantBlocks(raw);
    save("binary-all-parts", metadata_fuzz::inputOf(false, lite));
    save("xml-all-parts", metadata_fuzz::inputOf(true, ZanTest::xmlVariantBlocks(raw)));
    save("binary-attributes-only",
         metadata_fuzz::inputOf(false, RawMetadataBlocks{lite.attributes, {}, {}, {}}));

    // The attributes block in the compressed envelope and in the old level form.
    ZanLegacy::CVkLiteVariantR reader;
    lite_test::load(reader, lite_test::Bytes(lite.attributes.begin(), lite.attributes.end()));
    ZanLegacy::CVkLiteVariantW writer;
    ASSERT_EQ(writer.Append(reader), 0);
    ZanLegacy::CVkLiteVariantR packed;
    ASSERT_EQ(writer.Finalize(packed, 1), 0);
    save("binary-compressed",
         metadata_fuzz::inputOf(false, RawMetadataBlocks{ZanTest::bytesOf(packed), lite.experiment, {}, {}}));
    lite_test::Bytes old(lite.experiment.begin(), lite.experiment.end());
    lite_test::toOldForm(old);
    save("binary-old-form",
         metadata_fuzz::inputOf(
             false, RawMetadataBlocks{lite.attributes, Zan::ByteVector(old.begin(), old.end()), {}, {}}));

    // Unnamed items and items without a JSON form.
    const lite_test::Bytes odd = lite_test::written([](ZanLegacy::CVkLiteVariantW& w) {
        w.LevelBegin(L"SVkPictureMetadata");
        w.Set(1, nullptr);
        w.Set(reinterpret_cast<void*>(std::uintptr_t(8)), L"p");
        w.Set(nullptr, std::size_t(0), L"none");
        w.LevelBegin(L"\\empty");
        w.LevelEnd();
        w.LevelBegin(nullptr);
        w.Set(L"x", L"s");
    });
    save("binary-odd-items",
         metadata_fuzz::inputOf(
             false, RawMetadataBlocks{lite.attributes, {}, Zan::ByteVector(odd.begin(), odd.end()), {}}));
}

} // namespace
