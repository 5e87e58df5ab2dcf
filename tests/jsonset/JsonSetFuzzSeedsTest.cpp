// Writes the seed corpora of the set fuzz targets when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/jsonset_description_fuzz build/rel/tests/test_jsonset
//   --gtest_filter='JsonSetFuzzSeeds.*' ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/jsonset_files_fuzz
//   build/rel/tests/test_jsonset --gtest_filter='JsonSetFilesFuzzSeeds.*'
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/jsonset_frames_fuzz build/rel/tests/test_jsonset
//   --gtest_filter='JsonSetFramesFuzzSeeds.*'
// The seeds are descriptions written by the set device: sets of each file layout, and a set with every
// part and per-frame metadata; for the whole-set operations, sets whose frames are named in each way a
// description can name them, among them names that lead outside the set; for the frames target, inputs
// (in its byte layout) of sets that agree, disagree, and name frames outside the set and through links.

#include <jsonset/JsonFileDevice.h>

#include <support/FileText.h>
#include <support/FuzzSeeds.h>
#include <support/JsonSets.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace {

using ZanTest::FileLayout;

TEST(JsonSetFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(seeds);
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    const struct {
        const char* name;
        ZanTest::SetGeometry geometry;
        FileLayout layout;
    } sets[] = {{"gray8-per-component", {4, 3, 8, 1, 3}, FileLayout::PerComponent},
                {"rgb16-per-component", {4, 3, 16, 3, 2}, FileLayout::PerComponent},
                {"rgb8-per-frame", {4, 3, 8, 3, 2}, FileLayout::PerFrame}};
    for (const auto& s : sets) {
        Zan::JsonFileDevice set(path);
        ZanTest::writeSet(set, s.geometry, s.layout);
        saveSeed(seeds, std::string(s.name) + ".json", ZanTest::readFileText(path));
    }

    Zan::JsonFileDevice set(path);
    ASSERT_TRUE(set.open(Zan::IoDevice::Write, 3, nullptr));
    set.setAttributes(ZanTest::setAttributes({4, 3, 16, 2, 6}));
    set.setExperiment(nlohmann::json::parse(R"([
        {"type": "XYPosLoop", "count": 2, "parameters": {"points": [{"stagePositionUm": [1.5, 2.5, 3.5]}]}},
        {"type": "ZStackLoop", "count": 3, "nestingLevel": 1}])"));
    set.setTextInfo({{"author", "seed"}, {"description", "every part"}});
    set.setMetadata({{"contents", {{"channelCount", 2}, {"frameCount", 6}}},
                     {"channels", {{{"channel", {{"name", "a"}}}}, {{"channel", {{"name", "b"}}}}}}});
    set.setFrameMetadata(1, {{"channels",
                              {{{"time", {{"relativeTimeMs", 5.0}}}},
                               {{"position", {{"stagePositionUm", {1.0, 2.0, 3.0}}}}}}}});
    set.setFrameRef(5, {"frame5.tif"});
    set.close();
    saveSeed(seeds, "every-part.json", ZanTest::readFileText(path));
}

TEST(JsonSetFilesFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(seeds);
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    {
        Zan::JsonFileDevice set(path);
        ZanTest::writeSet(set, {4, 3, 8, 2, 2}, FileLayout::PerComponent);
    }
    saveSeed(seeds, "generated-names.json", ZanTest::readFileText(path));
    const struct {
        const char* seed;
        std::vector<std::vector<std::string>> frames;
    } named[] = {{"plain", {{"a.tif"}, {"b.tif"}}},
                 {"below-and-repeated", {{"sub/a.tif"}, {"sub/./a.tif"}, {"a.tif"}, {"set.json"}}},
                 {"climbing", {{"a.tif"}, {"../outside/victim.tif"}}},
                 {"absolute", {{"/tmp/outside/victim.tif"}}},
                 {"through-link", {{"link/victim.tif"}, {"link"}}},
                 {"dots", {{"."}, {".."}, {"sub/.."}}}};
    for (const auto& n : named) {
        Zan::JsonFileDevice set(path);
        ASSERT_TRUE(set.open(Zan::IoDevice::Write, 3, nullptr));
        set.setAttributes(ZanTest::setAttributes({4, 3, 8, 1, static_cast<long>(n.frames.size())}));
        for (std::size_t f = 0; f < n.frames.size(); ++f)
            set.setFrameRef(static_cast<unsigned>(f), n.frames[f]);
        set.close();
        saveSeed(seeds, std::string(n.seed) + ".json", ZanTest::readFileText(path));
    }
}

TEST(JsonSetFramesFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(seeds);
    // Width, height, depth, frames and links; per frame a file count, per file its name tokens and content;
    // whether to write.
    const struct {
        const char* name;
        std::vector<unsigned char> bytes;
    } inputs[] = {
        {"agreeing-per-component-and-per-frame", {3, 2, 4, 61, 1, 0, 0, 0, 0, 1, 1, 0, 0, 13, 2, 0}},
        {"outside-through-names-and-links", {2, 1, 0, 62, 0, 2, 3, 9, 11, 0, 0, 0, 5, 0, 0, 1, 6, 10, 0, 0}},
        {"disagreeing-size-and-depth", {3, 3, 3, 1, 1, 0, 0, 0, 0, 1, 8, 0, 0, 13, 10, 0}},
        {"through-an-inside-link", {3, 3, 0, 16, 0, 1, 7, 0, 0, 0}},
        {"rooted-and-climbing", {2, 1, 0, 1, 0, 2, 4, 9, 10, 0, 0, 2, 2, 3, 0, 0, 0}},
    };
    for (const auto& input : inputs)
        saveSeed(seeds, input.name, input.bytes.data(), input.bytes.size());
}

} // namespace
