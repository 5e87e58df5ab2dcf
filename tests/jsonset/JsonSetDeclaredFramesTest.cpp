// Frame counts a short description can declare: sequence counts and loops up to the frame cap and beyond
// it, XY loops with fewer points than positions; and sets whose loops give no frame while they store
// frame entries, each of which must be reachable.

#include <jsonset/JsonFileDevice.h>

#include <support/Expect.h>
#include <support/FileText.h>
#include <support/JsonSets.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Zan::IoDevice;
using Zan::JsonFileDevice;
using json = nlohmann::json;

json attributesOf(long long frames) {
    return {{"widthPx", 8},
            {"heightPx", 4},
            {"componentCount", 1},
            {"bitsPerComponentInMemory", 8},
            {"bitsPerComponentSignificant", 8},
            {"sequenceCount", frames}};
}

struct Declared {
    const char* name;
    long long sequenceCount;
    json experiment; // null: the default time loop over the sequence count
    std::vector<unsigned> last; // coordinates of the last frame; empty when the description is refused
};

class JsonSetDeclaredFrames : public testing::TestWithParam<Declared> {};

TEST_P(JsonSetDeclaredFrames, CountsAndCoordinatesComeFromTheCounts) {
    const Declared& c = GetParam();
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    json doc = {{"attributes", attributesOf(c.sequenceCount)}};
    if (!c.experiment.is_null())
        doc["experiment"] = c.experiment;
    ZanTest::writeFileText(path, doc.dump());
    ASSERT_LT(std::filesystem::file_size(path), 64u * 1024);

    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    if (c.last.empty()) {
        EXPECT_THROW(set.sequenceCount(), std::runtime_error);
        return;
    }
    ASSERT_EQ(set.sequenceCount(), static_cast<unsigned long long>(c.sequenceCount));
    const unsigned last = static_cast<unsigned>(c.sequenceCount - 1);
    EXPECT_EQ(set.loopIndexes(last), c.last);
    unsigned seq = 0;
    ASSERT_TRUE(set.sequenceIndex(c.last, &seq));
    EXPECT_EQ(seq, last);
    EXPECT_THROW(set.loopIndexes(last + 1), std::out_of_range);
    // The experiment document holds what the description stores, not a point per declared position.
    EXPECT_LT(set.experiment().dump().size(), 4096u);
    EXPECT_TRUE(set.metadata().is_object());
    // No frame is stored: its metadata and pixels fail cleanly.
    ZAN_EXPECT_THROW_MSG(set.frameMetadata(last, ""), std::runtime_error, "JsonFileDevice: seqIndex out of range");
    EXPECT_THROW(set.imageData(last), std::exception);
}

const json twoPoints = {{"points",
                         {{{"stagePositionUm", {1.0, 2.0, 0.0}}}, {{"stagePositionUm", {3.0, 4.0, 0.0}}}}}};

INSTANTIATE_TEST_SUITE_P(
    Hostile, JsonSetDeclaredFrames,
    testing::Values(
        Declared{"default_loop_at_the_cap", 100000000, nullptr, {99999999}},
        Declared{"xy_loop_of_the_cap_with_two_points", 100000000,
                 json::array({{{"type", "XYPosLoop"}, {"count", 100000000}, {"parameters", twoPoints}}}),
                 {99999999}},
        Declared{"xy_loop_without_points", 1000000,
                 json::array({{{"type", "XYPosLoop"}, {"count", 1000000}}}), {999999}},
        Declared{"time_by_z", 60000000,
                 json::array({{{"type", "TimeLoop"}, {"count", 60000}}, {{"type", "ZStackLoop"}, {"count", 1000}}}),
                 {59999, 999}},
        Declared{"loops_of_one", 1,
                 json::array({{{"type", "TimeLoop"}, {"count", 1}}, {{"type", "ZStackLoop"}, {"count", 1}}}),
                 {0, 0}},
        Declared{"beyond_the_cap", 100000001, nullptr, {}},
        Declared{"loops_beyond_the_cap", 100000000,
                 json::array({{{"type", "TimeLoop"}, {"count", 100000}}, {{"type", "ZStackLoop"}, {"count", 1001}}}),
                 {}}),
    [](const testing::TestParamInfo<Declared>& info) { return std::string(info.param.name); });

TEST(JsonSetDeclaredFrames, XyLoopsWithFewerPointsThanPositions) {
    ZanTest::TempDir dir;
    const ZanTest::SetGeometry g{8, 4, 8, 1, 3};
    JsonFileDevice writer(dir.file("set.json"));
    ZanTest::writeSet(writer, g, ZanTest::FileLayout::PerFrame,
                      json::array({{{"type", "XYPosLoop"}, {"count", 3}, {"parameters", twoPoints}}}));
    JsonFileDevice set(dir.file("set.json"));
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    ASSERT_EQ(set.sequenceCount(), 3u);
    const auto position = [&](unsigned f) {
        return set.frameMetadata(f, "")["channels"][0]["position"]["stagePositionUm"];
    };
    EXPECT_EQ(position(1), json({3.0, 4.0, 0.0}));
    // The third position has no point: the frame is still there, at the stage's origin.
    EXPECT_EQ(position(2), json({0.0, 0.0, 0.0}));
    EXPECT_EQ(set.loopIndexes(2), std::vector<unsigned>{2});
}

TEST(JsonSetStoredFramesWithoutLoops, EveryFrameEntryIsAFrame) {
    ZanTest::TempDir dir;
    const ZanTest::SetGeometry g{8, 4, 8, 1, 3};
    const std::string path = dir.file("set.json");
    {
        JsonFileDevice writer(path);
        ZanTest::writeSet(writer, g, ZanTest::FileLayout::PerFrame);
    }
    // The description then loses its sequence count: its loops give no frame.
    json doc = json::parse(ZanTest::readFileText(path));
    doc["attributes"]["sequenceCount"] = 0;
    doc.erase("experiment");
    ZanTest::writeFileText(path, doc.dump());

    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    ASSERT_EQ(set.sequenceCount(), 3u);
    for (unsigned f = 0; f < 3; ++f) {
        EXPECT_TRUE(set.loopIndexes(f).empty());
        const auto frame = set.imageData(f);
        ASSERT_TRUE(frame->open(Zan::IoImageDataDevice::Read));
        std::vector<char> pixels(static_cast<std::size_t>(ZanTest::setLineBytes(g) * g.height));
        frame->packedImage(pixels.data(), ZanTest::setLineBytes(g));
        EXPECT_EQ(pixels, ZanTest::setFrame(g, f)) << "frame " << f;
    }
    unsigned seq = 9;
    EXPECT_TRUE(set.sequenceIndex({}, &seq));
    EXPECT_EQ(seq, 0u);
}

} // namespace
