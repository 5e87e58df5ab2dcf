// The set device's description: opening, access, cached parts, writing back, frame entries, loop indexes.

#include <jsonset/JsonFileDevice.h>

#include <support/Expect.h>
#include <support/FileText.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using Zan::IoDevice;
using Zan::JsonFileDevice;
using json = nlohmann::json;

const json attributes4 = {{"widthPx", 8},
                          {"heightPx", 4},
                          {"componentCount", 1},
                          {"bitsPerComponentInMemory", 8},
                          {"bitsPerComponentSignificant", 8},
                          {"sequenceCount", 4}};

class JsonFileDeviceTest : public ::testing::Test {
protected:
    // A description holding doc, opened with mode.
    std::unique_ptr<JsonFileDevice> openSet(const json& doc, IoDevice::OpenMode mode = IoDevice::Read) {
        ZanTest::writeFileText(path, doc.dump());
        auto set = std::make_unique<JsonFileDevice>(path);
        EXPECT_TRUE(set->open(mode, 3, nullptr));
        return set;
    }

    ZanTest::TempDir dir;
    std::string path = dir.file("set.json");
};

TEST_F(JsonFileDeviceTest, NameTest) {
    for (const char* name : {"set.json", "A.JSON", "dir.tif/set.Json"})
        EXPECT_TRUE(JsonFileDevice::isAcceptableFilename(std::string(name))) << name;
    for (const char* name : {"a.json.tif", "set.json.bak", "set.jsonx", "json", ""})
        EXPECT_FALSE(JsonFileDevice::isAcceptableFilename(std::string(name))) << name;
    EXPECT_TRUE(JsonFileDevice::isAcceptableFilename(std::wstring(L"\u00e9t\u00e9.JSON")));
    EXPECT_FALSE(JsonFileDevice::isAcceptableFilename(std::wstring(L"json")));
}

TEST_F(JsonFileDeviceTest, ConstructionAndOpenModes) {
    ZAN_EXPECT_THROW_MSG(JsonFileDevice(4, "abcd"), std::logic_error,
                         "JsonFileDevice::Impl::Impl construction from memory not supported");
    EXPECT_THROW(JsonFileDevice(std::string("\xff.json")), std::range_error);

    JsonFileDevice missing(dir.file("missing.json"));
    EXPECT_FALSE(missing.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(missing.openMode(), 0u);
    ZAN_EXPECT_THROW_MSG(missing.open(IoDevice::Append, 3, nullptr), std::logic_error,
                         "JsonFileDevice: Unrecognized open mode");
    EXPECT_EQ(missing.filename(), dir.file("missing.json"));

    // Write on an unnamed device opens without a file; other modes have nothing to open.
    JsonFileDevice unnamed;
    EXPECT_FALSE(unnamed.open(IoDevice::Read, 3, nullptr));
    ASSERT_TRUE(unnamed.open(IoDevice::Write, 3, nullptr));
    unnamed.setAttributes(attributes4);
    unnamed.flush();
    EXPECT_EQ(unnamed.openMode(), IoDevice::Write);
    unnamed.close();
    EXPECT_EQ(unnamed.openMode(), 0u);
}

TEST_F(JsonFileDeviceTest, AccessChecksFollowTheOpenMode) {
    JsonFileDevice closed(path);
    ZAN_EXPECT_THROW_MSG(closed.attributes(), std::logic_error, "JsonFileDevice: not open for reading");
    ZAN_EXPECT_THROW_MSG(closed.imageData(0), std::logic_error, "JsonFileDevice: not open");
    ZAN_EXPECT_THROW_MSG(closed.setTextInfo(json::object()), std::logic_error,
                         "JsonFileDevice: not open for writing");

    auto reader = openSet({{"attributes", attributes4}});
    EXPECT_NO_THROW(reader->attributes());
    ZAN_EXPECT_THROW_MSG(reader->setAttributes(attributes4), std::logic_error,
                         "JsonFileDevice: not open for writing");
    EXPECT_TRUE(reader->customMetadata("x").is_null());
    EXPECT_TRUE(reader->customMetadata("x", 0).is_null());
    reader.reset();

    JsonFileDevice writer(path);
    ASSERT_TRUE(writer.open(IoDevice::Write, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(writer.attributes(), std::logic_error, "JsonFileDevice: not open for reading");
    for (IoDevice::OpenMode both : {IoDevice::Read | IoDevice::Update, IoDevice::Update}) {
        auto set = openSet({{"attributes", attributes4}}, both);
        EXPECT_NO_THROW(set->attributes());
        EXPECT_NO_THROW(set->setTextInfo({{"author", "me"}}));
    }
}

TEST_F(JsonFileDeviceTest, MissingPartsGetDefaultsThatAreNeverWritten) {
    auto set = openSet({{"attributes", attributes4}, {"experiment", json::array()}, {"custom", {1, 2}}},
                       IoDevice::Read | IoDevice::Update);
    const json experiment = set->experiment();
    ASSERT_EQ(experiment.size(), 1u);
    EXPECT_EQ(experiment[0]["type"], "TimeLoop");
    EXPECT_EQ(experiment[0]["count"], 4);
    EXPECT_EQ(set->allLoopIndexes(), (std::vector<std::vector<unsigned>>{{0}, {1}, {2}, {3}}));
    EXPECT_EQ(set->sequenceCount(), 4u);
    EXPECT_EQ(set->metadata()["channels"][0]["channel"]["name"], "ch0");
    EXPECT_EQ(set->attributes()["widthBytes"], 8);
    EXPECT_TRUE(set->textInfo().is_null());
    EXPECT_TRUE(set->rawMetadata().is_null());

    set->setTextInfo({{"author", "Ann"}});
    set->close();
    const json written = json::parse(ZanTest::readFileText(path));
    EXPECT_EQ(written, json({{"attributes", attributes4},
                             {"experiment", json::array()},
                             {"custom", {1, 2}},
                             {"textInfo", {{"author", "Ann"}}}}));
}

TEST_F(JsonFileDeviceTest, AttributesAreRequired) {
    for (const json& doc : {json::object(), json({{"attributes", {1, 2}}})}) {
        auto set = openSet(doc);
        ZAN_EXPECT_THROW_MSG(set->attributes(), std::runtime_error,
                             "JsonFileDevice: object attributes missing");
        ZAN_EXPECT_THROW_MSG(set->sequenceCount(), std::runtime_error,
                             "JsonFileDevice: object attributes missing");
    }
}

TEST_F(JsonFileDeviceTest, StoredPartsAreReturnedAndSettersInvalidateOnlyTheirOwn) {
    const json metadata = {{"contents", {{"channelCount", 0}, {"frameCount", 6}}},
                           {"channels", json::array()}};
    auto set = openSet(
        {{"attributes",
          {{"widthPx", 2},
           {"heightPx", 2},
           {"componentCount", 1},
           {"bitsPerComponentInMemory", 8},
           {"sequenceCount", 6}}},
         {"experiment", {{{"type", "XYPosLoop"}, {"count", 2}}, {{"type", "ZStackLoop"}, {"count", 3}}}},
         {"metadata", metadata},
         {"rawMetadata", "raw"},
         {"textInfo", {{"author", "Bo"}}}},
        IoDevice::Read | IoDevice::Update);
    EXPECT_EQ(set->allLoopIndexes(),
              (std::vector<std::vector<unsigned>>{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}}));
    unsigned index = 99;
    EXPECT_TRUE(set->sequenceIndex({1, 0}, &index));
    EXPECT_EQ(index, 3u);
    EXPECT_TRUE(set->sequenceIndex({1, 2}, nullptr));
    index = 99;
    EXPECT_FALSE(set->sequenceIndex({2, 0}, &index));
    EXPECT_FALSE(set->sequenceIndex({1}, &index));
    EXPECT_EQ(index, 99u);
    EXPECT_EQ(set->loopIndexes(4), (std::vector<unsigned>{1, 1}));
    EXPECT_THROW(set->loopIndexes(6), std::out_of_range);
    EXPECT_EQ(set->metadata(), metadata);
    EXPECT_EQ(set->rawMetadata(), "raw");
    EXPECT_EQ(set->textInfo()["author"], "Bo");
    EXPECT_EQ(set->experiment()[1]["jsonParameters"]["homeIndex"], 1);

    // The table stays; the experiment is read again.
    set->setExperiment({{{"type", "TimeLoop"}, {"count", 6}}});
    EXPECT_EQ(set->experiment()[0]["type"], "TimeLoop");
    EXPECT_EQ(set->allLoopIndexes().size(), 6u);
    EXPECT_EQ(set->allLoopIndexes()[5], (std::vector<unsigned>{1, 2}));
    set->setAttributes({{"widthPx", 3}, {"componentCount", 1}, {"bitsPerComponentInMemory", 8}});
    EXPECT_EQ(set->attributes()["widthBytes"], 3);
    EXPECT_EQ(set->contents()["attributes"]["widthPx"], 3);
}

TEST_F(JsonFileDeviceTest, LoopCountsMustMultiplyToTheSequenceCount) {
    const std::string differs = "JsonFileDevice: LoopIndex count differs from SequenceCount";
    struct Case {
        json experiment;
        long long sequenceCount;
    };
    for (const Case& c :
         {Case{{{{"count", 2}}, {{"count", 3}}}, 5},
          // Negative counts whose product matches start no walk.
          Case{{{{"count", -2}}, {{"count", -3}}}, 6},
          // Neither do products that wrap 32 bits.
          Case{{{{"count", 65536}}, {{"count", 65536}}}, 0}, Case{{{{"count", 0}}, {{"count", 3}}}, 3}}) {
        json attributes = attributes4;
        attributes["sequenceCount"] = c.sequenceCount;
        auto set = openSet({{"attributes", attributes}, {"experiment", c.experiment}});
        EXPECT_EQ(ZanTest::messageOf<std::runtime_error>([&] { set->sequenceCount(); }), differs)
            << c.experiment;
    }
    // A set of no frames has an empty table.
    json empty = attributes4;
    empty["sequenceCount"] = 0;
    auto set = openSet({{"attributes", empty}});
    EXPECT_EQ(set->sequenceCount(), 0u);
    EXPECT_THROW(set->loopIndexes(0), std::out_of_range);
}

TEST_F(JsonFileDeviceTest, WritingBackFollowsTheModeAndTheChanges) {
    // Write, no change: the file exists and is empty.
    {
        JsonFileDevice set(path);
        ASSERT_TRUE(set.open(IoDevice::Write, 3, nullptr));
        set.close();
        EXPECT_EQ(ZanTest::readFileText(path), "");
    }
    // Write | Update on an old file: the old content is not read, the new document is written as printed.
    ZanTest::writeFileText(path, R"({"old": true, "attributes": {"widthPx": 1}})");
    {
        JsonFileDevice set(path);
        ASSERT_TRUE(set.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
        EXPECT_EQ(set.contents(), json::object());
        set.setAttributes({{"widthPx", 2}, {"name", "\u00e9"}});
        set.close();
        EXPECT_EQ(ZanTest::readFileText(path),
                  json({{"attributes", {{"widthPx", 2}, {"name", "\u00e9"}}}}).dump(2));
    }
    // Update (append): the whole file is rewritten, not appended to.
    {
        JsonFileDevice set(path);
        ASSERT_TRUE(set.open(IoDevice::Update, 3, nullptr));
        set.setTextInfo({{"author", "Cy"}});
    } // the destructor writes
    EXPECT_EQ(json::parse(ZanTest::readFileText(path))["textInfo"]["author"], "Cy");
    EXPECT_EQ(json::parse(ZanTest::readFileText(path))["attributes"]["widthPx"], 2);
}

TEST_F(JsonFileDeviceTest, ReopeningReadsTheFileAfreshAndKeepsPendingChanges) {
    JsonFileDevice set(path);
    ZanTest::writeFileText(path,
                           json({{"attributes", attributes4}, {"textInfo", {{"author", "old"}}}}).dump());
    ASSERT_TRUE(set.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
    set.setTextInfo({{"author", "new"}});
    // Reopening an open device writes what it holds first.
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(set.textInfo()["author"], "new");
    set.close();

    // A truncating reopen starts from an empty document and never writes the old one back.
    ASSERT_TRUE(set.open(IoDevice::Write, 3, nullptr));
    set.close();
    EXPECT_EQ(ZanTest::readFileText(path), "");
    ZanTest::writeFileText(path,
                           json({{"attributes", attributes4}, {"textInfo", {{"author", "other"}}}}).dump());
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(set.textInfo()["author"], "other");
}

TEST_F(JsonFileDeviceTest, AFailedWriteBackIsReportedByCloseAndFlushOnly) {
    ZanTest::writeFileText(path, json({{"attributes", attributes4}}).dump());
    const std::string moved = dir.file("moved.json");
    const auto openChanged = [&](JsonFileDevice& set) {
        ASSERT_TRUE(set.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
        set.setTextInfo({{"author", "x"}});
        // The description's name no longer leads to the file: it cannot be cut and rewritten.
        std::filesystem::rename(path, moved);
    };
    {
        JsonFileDevice set(path);
        openChanged(set);
        EXPECT_THROW(set.flush(), std::runtime_error);
        std::filesystem::rename(moved, path);
    }
    {
        JsonFileDevice set(path);
        openChanged(set);
        EXPECT_THROW(set.close(), std::runtime_error);
        EXPECT_EQ(set.openMode(), 0u);
        std::filesystem::rename(moved, path);
    }
    {
        JsonFileDevice set(path);
        openChanged(set);
    } // the destructor stays silent
    EXPECT_EQ(json::parse(ZanTest::readFileText(moved)), json({{"attributes", attributes4}}));
}

TEST_F(JsonFileDeviceTest, DamagedDescriptionsFailWithTheLibrarysErrors) {
    ZanTest::writeFileText(path, "{\"attributes\": ");
    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    EXPECT_THROW(set.attributes(), json::parse_error);
    // Nesting deeper than the library copies safely is refused.
    ZanTest::writeFileText(path, "{\"rawMetadata\": " + std::string(300, '[') + std::string(300, ']') + "}");
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    EXPECT_THROW(set.rawMetadata(), std::runtime_error);
    ZanTest::writeFileText(
        path, R"({"attributes": {"widthPx": "wide", "componentCount": 1, "bitsPerComponentInMemory": 8}})");
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    EXPECT_THROW(set.attributes(), json::type_error);
}

TEST_F(JsonFileDeviceTest, FrameEntries) {
    json doc = {{"attributes", attributes4}, {"frames", {{{"files", {"a.tif"}}}, 7}}};
    auto reader = openSet(doc);
    EXPECT_EQ(reader->frameRef(0), json({"a.tif"}));
    EXPECT_TRUE(reader->frameRef(1).is_null());
    ZAN_EXPECT_THROW_MSG(reader->frameRef(2), std::runtime_error, "JsonFileDevice: seqIndex out of range");
    EXPECT_EQ(reader->allFrameFilenames(), std::vector<std::string>{"a.tif"});
    reader.reset();

    // A writable device creates entries up to the sequence count, and writes them back.
    auto writer = openSet(doc, IoDevice::Read | IoDevice::Update);
    EXPECT_TRUE(writer->frameRef(3).is_null());
    ZAN_EXPECT_THROW_MSG(writer->frameRef(4), std::runtime_error, "JsonFileDevice: seqIndex out of range");
    ZAN_EXPECT_THROW_MSG(writer->setFrameRef(4000000000u, {"x.tif"}), std::runtime_error,
                         "JsonFileDevice: seqIndex out of range");
    writer->setFrameRef(2, {"c.tif"});
    writer->close();
    const json frames = json::parse(ZanTest::readFileText(path))["frames"];
    EXPECT_EQ(frames, json({{{"files", {"a.tif"}}}, 7, {{"files", {"c.tif"}}}, json::object()}));
}

TEST_F(JsonFileDeviceTest, FrameMetadataTakesTheFramesTimesAndPositions) {
    const json time = {{"relativeTimeMs", 12.5}}, position = {{"stagePositionUm", {1.0, 2.0, 3.0}}};
    json attributes = attributes4;
    attributes["componentCount"] = 2;
    attributes["sequenceCount"] = 3;
    auto set = openSet({{"attributes", attributes},
                        {"frames",
                         {{{"metadata", {{"channels", {{{"time", time}}, {{"position", position}}}}}}},
                          {{"metadata", {{"channels", {{{"time", time}}}}}}},
                          json::object()}}});
    const json global = set->metadata();
    const json first = set->frameMetadata(0, "");
    EXPECT_EQ(first["channels"][0]["time"], time);
    EXPECT_FALSE(first["channels"][0].contains("position"));
    EXPECT_EQ(first["channels"][1]["position"], position);
    EXPECT_EQ(first["channels"][1]["channel"], global["channels"][1]["channel"]);
    EXPECT_EQ(set->frameMetadata(0, "/channels/0"), first);
    // Another channel count: the global metadata as it is.
    EXPECT_EQ(set->frameMetadata(1, ""), global);
    // No stored metadata: times and positions from the loops, in every channel.
    const json third = set->frameMetadata(2, "");
    for (const json& channel : third["channels"]) {
        EXPECT_EQ(channel["time"]["relativeTimeMs"], 2000.0);
        EXPECT_EQ(channel["position"]["stagePositionUm"], json({0.0, 0.0, 0.0}));
    }
    auto writer = openSet({{"attributes", attributes}}, IoDevice::Read | IoDevice::Update);
    writer->setFrameMetadata(1, {{"channels", {{{"time", time}}, {{"time", time}}}}});
    EXPECT_EQ(writer->frameMetadata(1, "")["channels"][1]["time"], time);
}

} // namespace
