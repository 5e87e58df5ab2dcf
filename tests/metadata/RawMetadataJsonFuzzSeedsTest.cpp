// Writes the seed corpus of the raw-metadata JSON fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/raw_metadata_json_fuzz build/rel/tests/test_metadata
//   --gtest_filter='RawMetadataJsonFuzzSeeds.*'
// Each seed is a raw-metadata document as a caller hands it over: the documents the channel tests build,
// one holding every suffix, one as split and merge leave counts and positions, and four parts to compose.

#include "ChannelDocuments.h"

#include <support/FuzzSeeds.h>

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

TEST(RawMetadataJsonFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const json everySuffix = {
        {"Attributes_dic",
         {{"b_bol", true},
          {"i_i32", -7},
          {"u_u32", -1},
          {"l_i64", -9000000000LL},
          {"ul_u64", ~0ULL},
          {"d_dbl", -0.25},
          {"s_str", "\u00c5ngstr\u00f6m"},
          {"bytes_bar", "AAEC/w=="},
          {"nullBytes_bar", nullptr},
          {"Nested_dic", {{"i0000000000_dic", {{"z_dbl", 1e-300}}}, {"Empty_dic", json::object()}}},
          {"skipped_abc", 1}}},
        {"TextInfo_dic", {{"TextInfoItem_4_str", "A. Author"}, {"TextInfoItem_13_str", "Plan Apo 60x"}}}};
    const json tile = {{"Attributes_dic",
                        {{"uiWidth_u32", 512},
                         {"uiHeight_u32", 256},
                         {"uiComp_u32", 1},
                         {"uiBpcInMemory_i32", 16},
                         {"uiBpcSignificant_i32", 12},
                         {"uiSequenceCount_u32", 3},
                         {"uiWidthBytes_u32", 1024},
                         {"ePixelType_i32", 0},
                         {"eCompression_i32", 0},
                         {"dCompressionParam_dbl", 0.0}}},
                       {"Experiment_dic",
                        {{"eType_u32", 4u},
                         {"uiNextLevelCount_u32", 0},
                         {"uLoopPars_dic",
                          {{"i0000000000_dic",
                            {{"uiCount_u32", 3u},
                             {"dZLow_dbl", 1.5},
                             {"dZHigh_dbl", 4.5},
                             {"dZStep_dbl", 1.5},
                             {"bAbsolute_bol", true}}}}}}}};
    const json parts = json::array({{{"SVkImageAttributes_dic", {{"uiWidth_u32", 4}}}},
                                    {{"SVkExperiment_dic", json::object()}},
                                    nullptr,
                                    {{"SVkImageTextInfo_dic", {{"TextInfoItem_0_str", "id"}}}}});
    const std::pair<const char*, json> seeds[] = {
        {"fluorescence", channel_docs::gfpRaw()},
        {"brightfield", channel_docs::brightfieldRaw()},
        {"attributes-only", channel_docs::rawDocument(nullptr, 3)},
        {"every-suffix", everySuffix},
        {"tile", tile},
        {"parts", parts},
    };
    for (const auto& [name, doc] : seeds)
        saveSeed(dir, name, doc.dump());
}

} // namespace
