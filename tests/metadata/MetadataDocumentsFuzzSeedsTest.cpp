// Writes the seed corpus of the metadata-documents fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/metadata_documents_fuzz build/rel/tests/test_metadata
//   --gtest_filter='MetadataDocumentsFuzzSeeds.*'
// Each seed holds the documents the channel and experiment tests build, as binary and as XML blocks.

#include "ChannelDocuments.h"

#include <support/ExperimentDocs.h>
#include <support/FuzzSeeds.h>
#include <support/MetadataBlocksFuzzInput.h>
#include <support/RawMetadataFixtures.h>

#include <gtest/gtest.h>

namespace {

using namespace ZanTest;
using nlohmann::json;

TEST(MetadataDocumentsFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    json full = channel_docs::gfpRaw();
    full["Experiment_dic"] = rawWith(
        level(TimeLevel, timePars(2),
              {level(XYPosLevel, xyPars({{1, 2}, {3, 4}}), {level(ZStackLevel, zPars(2, 0, 4, 0, 2, 2))})}),
        8)["Experiment_dic"];
    full["TextInfo_dic"] = {{"wsOptics_str", "Plan Apo 60x Oil"}};
    const std::pair<const char*, json> documents[] = {
        {"fluorescence-time-xy-z", full},
        {"brightfield", channel_docs::brightfieldRaw()},
        {"attributes-only", channel_docs::rawDocument(nullptr, 3)},
    };
    for (const auto& [name, raw] : documents) {
        saveSeed(dir, std::string(name) + ".lv",
                 metadata_fuzz::encode(metadata_fuzz::inputOf(false, liteVariantBlocks(raw))));
        saveSeed(dir, std::string(name) + ".xml",
                 metadata_fuzz::encode(metadata_fuzz::inputOf(true, xmlVariantBlocks(raw))));
    }
}

} // namespace
