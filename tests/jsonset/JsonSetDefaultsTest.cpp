// Defaults for what a set's description leaves out.

#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <support/Expect.h>

#include <gtest/gtest.h>

#include <limits>

namespace {

using Impl = Zan::JsonFileDevice::Impl;
using json = nlohmann::json;
constexpr std::uint64_t maxFrames = Zan::JsonMetadata::maxFrameTableFrames;

json attributes16() {
    return {{"widthPx", 100},
            {"heightPx", 50},
            {"componentCount", 1},
            {"bitsPerComponentInMemory", 16},
            {"bitsPerComponentSignificant", 12},
            {"sequenceCount", 4}};
}

TEST(JsonSetDefaults, MissingAttributeKeysAreFilledAndPresentOnesKept) {
    json a = attributes16();
    Impl::fixMissingAttributes(a);
    EXPECT_EQ(a["compressionType"], "none");
    EXPECT_TRUE(a["compressionLevel"].is_number_float());
    EXPECT_EQ(a["compressionLevel"], 0.0);
    EXPECT_EQ(a["pixelDataType"], "unsigned");
    EXPECT_TRUE(a["tileWidthPx"].is_number_integer());
    EXPECT_EQ(a["tileWidthPx"], 0);
    EXPECT_EQ(a["tileHeightPx"], 0);
    EXPECT_EQ(a["widthBytes"], 200);

    json kept = attributes16();
    kept["widthBytes"] = 256;
    kept["compressionType"] = 7; // present keys stay, whatever their value
    Impl::fixMissingAttributes(kept);
    EXPECT_EQ(kept["widthBytes"], 256);
    EXPECT_EQ(kept["compressionType"], 7);
}

TEST(JsonSetDefaults, LineSizeCountsStoredComponentsAsTheFramesDeviceDoesIn64Bits) {
    struct Case {
        long long bits, components, width, expected;
    };
    for (const Case& c : {Case{12, 3, 1000, 6000}, Case{8, 1, 7, 7}, Case{24, 1, 10, 40}, Case{32, 4, 3, 48},
                          Case{0, 3, 10, 0},
                          // Beyond 32 bits: a row of four billion 16-bit pixels still fits.
                          Case{16, 1, 4'000'000'000LL, 8'000'000'000LL}}) {
        json a = {
            {"bitsPerComponentInMemory", c.bits}, {"componentCount", c.components}, {"widthPx", c.width}};
        Impl::fixMissingAttributes(a);
        EXPECT_EQ(a["widthBytes"], c.expected) << c.bits << " bits, " << c.components << " x " << c.width;
    }
    json huge = {{"bitsPerComponentInMemory", 64},
                 {"componentCount", 65535},
                 {"widthPx", std::numeric_limits<std::int64_t>::max() / 4}};
    EXPECT_THROW(Impl::fixMissingAttributes(huge), std::runtime_error);
    json negative = {{"bitsPerComponentInMemory", 8}, {"componentCount", -3}, {"widthPx", 10}};
    EXPECT_THROW(Impl::fixMissingAttributes(negative), std::runtime_error);
    // A missing source key is the library's type error.
    json missing = {{"bitsPerComponentInMemory", 8}, {"componentCount", 1}};
    EXPECT_THROW(Impl::fixMissingAttributes(missing), json::type_error);
}

TEST(JsonSetDefaults, DefaultExperimentIsOneTimeLoopOverEveryFrame) {
    json a = attributes16();
    Impl::fixMissingAttributes(a);
    const json expected = json::parse(R"([{"count": 4, "nestingLevel": 0, "type": "TimeLoop",
        "parameters": {"durationMs": 4000.0, "periodDiff": [1000.0, 1000.0, 1000.0], "periodMs": 1000.0,
                       "startMs": 0}}])");
    EXPECT_EQ(Impl::defaultExperiment(a, maxFrames), expected);
}

TEST(JsonSetDefaults, StoredLoopsGainNestingLevelAndParameters) {
    json experiment = json::parse(R"([
        {"type": "ZStackLoop", "count": 7},
        {"type": "NETimeLoop", "count": 5, "nestingLevel": 0},
        {"type": "XYPosLoop", "count": 3},
        {"type": "CustomLoop", "count": 2},
        {"type": "TimeLoop", "count": 2, "jsonParameters": "mine", "parameters": {"periodMs": 9}}])");
    Impl::fixMissingExperiment(experiment, maxFrames);
    EXPECT_EQ(experiment[0]["nestingLevel"], 0);
    EXPECT_EQ(experiment[0]["jsonParameters"],
              json::parse(R"({"bottomToTop": true, "deviceName": "ZDrive", "homeIndex": 3, "stepUm": 1.0})"));
    EXPECT_EQ(experiment[1]["nestingLevel"], 0);
    EXPECT_EQ(experiment[1]["jsonParameters"]["periodMs"], 1.0);
    EXPECT_EQ(experiment[1]["jsonParameters"]["durationMs"], 5.0);
    // The counter counts only the loops that lacked a level.
    EXPECT_EQ(experiment[2]["nestingLevel"], 1);
    const json& third = experiment[2]["jsonParameters"]["points"][2];
    EXPECT_EQ(third["name"], "#3");
    EXPECT_EQ(third["stagePositionUm"], json({20.0, 20.0, 0.0}));
    EXPECT_EQ(third["pfsOffset"], 0);
    EXPECT_EQ(experiment[2]["jsonParameters"]["isSettingZ"], false);
    EXPECT_EQ(experiment[3]["nestingLevel"], 2);
    EXPECT_FALSE(experiment[3].contains("jsonParameters"));
    EXPECT_EQ(experiment[4]["jsonParameters"], "mine");
    EXPECT_EQ(experiment[4]["parameters"], json({{"periodMs", 9}}));

    EXPECT_EQ(Impl::defaultMPointLoopParameters(0)["points"], json::array());
    json noCount = json::parse(R"([{"type": "TimeLoop"}])");
    EXPECT_THROW(Impl::fixMissingExperiment(noCount, maxFrames), json::type_error);
}

TEST(JsonSetDefaults, PositionCountsAreCheckedBeforeTheyListPoints) {
    for (const char* count : {"-1", "2147483647", "1e300"}) {
        json experiment = json::parse(std::string(R"([{"type": "XYPosLoop", "count": )") + count + "}]");
        EXPECT_THROW(Impl::fixMissingExperiment(experiment, maxFrames), std::runtime_error) << count;
    }
}

TEST(JsonSetDefaults, GlobalMetadataHasOneChannelPerComponentOrOneColourChannel) {
    json a = attributes16();
    a["componentCount"] = 8;
    a["sequenceCount"] = 6;
    const json experiment =
        json::parse(R"([{"type": "XYPosLoop", "count": 2}, {"type": "ZStackLoop", "count": 3}])");
    const auto m = Impl::defaultGlobalMetadata(a, experiment, maxFrames).get<Zan::IoImageFile::Metadata>();
    ASSERT_EQ(m.channels.size(), 8u);
    EXPECT_EQ(m.frameCount, 6);
    const std::uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x00FFFF,
                                     0xFF00FF, 0xFFFF00, 0xFF0000, 0x00FF00};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(m.channels[i].channel.name, "ch" + std::to_string(i));
        EXPECT_EQ(m.channels[i].channel.colorRGB, colours[i]);
        EXPECT_EQ(m.channels[i].loops,
                  (std::map<std::string, std::int32_t>{{"XYPosLoop", 0}, {"ZStackLoop", 1}}));
        EXPECT_EQ(m.channels[i].volume.voxelCount, (std::array<std::int64_t, 3>{100, 50, 1}));
        EXPECT_EQ(m.channels[i].volume.bitsPerComponentSignificant, 12);
        EXPECT_EQ(m.channels[i].volume.componentCount, 1);
    }

    a["componentCount"] = 3;
    const auto rgb = Impl::defaultGlobalMetadata(a, experiment, maxFrames).get<Zan::IoImageFile::Metadata>();
    ASSERT_EQ(rgb.channels.size(), 1u);
    EXPECT_EQ(rgb.channels[0].channel.name, "rgb");
    EXPECT_EQ(rgb.channels[0].channel.colorRGB, 0xFFFFFFu);
    EXPECT_EQ(rgb.channels[0].volume.componentCount, 3);

    a["componentCount"] = 0;
    EXPECT_TRUE(Impl::defaultGlobalMetadata(a, experiment, maxFrames)["channels"].empty());
}

TEST(JsonSetDefaults, GlobalMetadataRefusesCountsThatDoNotMultiplyToTheSequenceCount) {
    json a = attributes16();
    const auto messageFor = [&](const char* experiment, long long sequenceCount, long long components) {
        a["sequenceCount"] = sequenceCount;
        a["componentCount"] = components;
        return ZanTest::messageOf<std::runtime_error>(
            [&] { Impl::defaultGlobalMetadata(a, json::parse(experiment), maxFrames); });
    };
    const std::string differs = "JsonFileDevice: seqCount differs from count derived from experiment loops";
    EXPECT_EQ(messageFor(R"([{"type": "XYPosLoop", "count": 2}, {"type": "ZStackLoop", "count": 3}])", 5, 1),
              differs);
    // Negative counts whose product is the sequence count, and products that wrap, are refused as well.
    EXPECT_EQ(messageFor(R"([{"type": "TimeLoop", "count": -2}, {"type": "ZStackLoop", "count": -3}])", 6, 1),
              differs);
    EXPECT_EQ(messageFor(R"([{"count": 65536}, {"count": 65536}])", 0, 1), differs);
    // Counts that size the channels and the frames are range-checked first.
    EXPECT_EQ(messageFor(R"([{"count": 1}])", 1, 70000),
              "JsonFileDevice: componentCount 70000 outside [0, 65535]");
    EXPECT_EQ(messageFor(R"([{"count": 1}])", -1, 1),
              "JsonFileDevice: sequenceCount -1 outside [0, 100000000]");
}

TEST(JsonSetDefaults, FrameValuesFollowTheLoopIndexes) {
    const json experiment = json::parse(R"([
        {"type": "TimeLoop", "parameters": {"periodMs": 250.0}},
        {"type": "XYPosLoop", "parameters": {"points": [{"stagePositionUm": [1, 2, 3, 4]},
                                                        {"stagePositionUm": [5.5, 6.5]}]}},
        {"type": "ZStackLoop"}, {"type": "NETimeLoop"}, {"type": "Other"}])");
    const json values = Impl::defaultFrameValues(experiment, {2, 1, 3, 1, 4});
    EXPECT_EQ(values["time"]["relativeTimeMs"], 2 * 250.0 + 100.0 + 3 * 10.0 + 1000.0 + 4.0);
    EXPECT_EQ(values["position"]["stagePositionUm"], json({5.5, 6.5, 0.0}));
    // An index beyond the stored points keeps the origin.
    EXPECT_EQ(Impl::defaultFrameValues(experiment, {0, 2})["position"]["stagePositionUm"],
              json({0.0, 0.0, 0.0}));
    EXPECT_EQ(
        Impl::defaultFrameValues(json::parse(R"([{"type": "TimeLoop"}])"), {3})["time"]["relativeTimeMs"],
        3.0);
}

TEST(JsonSetDefaults, FrameFileNamesAreZeroFilledToMinimumWidths) {
    struct Case {
        unsigned frame;
        long long component, sequenceCount, componentCount;
        const char* name;
    };
    for (const Case& c : {Case{0, 0, 5, 3, "seq001_c1.tif"}, Case{0, 2, 5, 3, "seq001_c3.tif"},
                          Case{9, 0, 12000, 1, "seq0010_c1.tif"}, Case{0, 9, 5, 10, "seq001_c10.tif"},
                          Case{0, 0, 5, 10, "seq001_c1.tif"}, Case{0, 0, 9998, 99, "seq001_c01.tif"},
                          Case{0, 0, 9999, 1, "seq0001_c1.tif"}, Case{12344, 0, 20, 1, "seq12345_c1.tif"}})
        EXPECT_EQ(Impl::frameFileName(c.frame, c.component, c.sequenceCount, c.componentCount), c.name);
}

} // namespace
