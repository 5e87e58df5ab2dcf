// Writes the seed corpus of the channel metadata fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/channel_metadata_fuzz build/rel/tests/test_metadata
//   --gtest_filter='ChannelFuzzSeeds.*'
// Each seed is one of the documents the channel tests build, with the global document and ranges.

#include "ChannelDocuments.h"

#include <support/FuzzSeeds.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace channel_docs;

TEST(ChannelFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const auto write = [&dir](const char* name, const json& raw, std::vector<float> minima = {},
                              std::vector<float> maxima = {}) {
        const json seed = {
            {"raw", raw}, {"global", globalDocument()}, {"minima", minima}, {"maxima", maxima}};
        saveSeed(dir, name, seed.dump());
    };
    write("fluorescence", gfpRaw(), {0}, {4095});
    write("brightfield", brightfieldRaw(), {0, 0, 0}, {255, 255, 255});
    write("attributes-only", rawDocument(nullptr, 3));

    json plane = gfpPlane();
    plane.erase("pFluorescentProbe_dic");
    plane["pFilterPath_dic"] =
        path({filter(3, spectrum({{405, 4}, {488, 4}, {561, 4}}), spectrum({{500, 2}, {540, 3}})),
              filter(4, spectrum({{450, 2}, {490, 3}}), spectrum({{500, 2}, {550, 3}})),
              filter(6, spectrum({{640, 4}}), spectrum({{700, 1}}))});
    plane["eModality_u32"] = 5u;
    json curve = gfpPlane();
    curve["pFluorescentProbe_dic"] = probe(
        spectrum({{470, 1, 0.1}, {480, 1, 0.9}, {490, 1, 1.0}, {500, 1, 0.2}}, true), spectrum({{510, 4}}));
    json shortKeys = pictureMetadata({}, {});
    shortKeys["sPicturePlanes_dic"]["uiCount_u32"] = 2;
    shortKeys["sPicturePlanes_dic"]["sPlane_dic"] = {{"a0_dic", plane}, {"a1_dic", curve}};
    shortKeys["sPicturePlanes_dic"]["sSampleSetting_dic"] = {{"a1_dic", sample({1, 0, 0, 1})}};
    write("filters-and-curves", rawDocument(pictureMetadata({plane, curve}, {sample({0, 1, 1, 0})})), {0, 1},
          {2, 3});
    write("short-keys", rawDocument(shortKeys));
}
