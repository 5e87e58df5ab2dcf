// The raw metadata of a tile: the Z-stack loop found and selected by, the loop and the attributes rewritten
// for a tile, and the rewritten document read back through the bridge as a device reads a tile file.

#include <qpx/detail/QpxFrameGeometry.h>
#include <qpx/detail/QpxTileConversions.h>

#include <metadata/JsonBridge.h>

#include "support/Expect.h"
#include "support/ExperimentDocs.h"
#include "support/RawMetadataFixtures.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

using namespace ZanTest;
using Frames = std::vector<std::vector<unsigned>>;

namespace {

// The parameters of a level, where the experiment reader takes them.
json& parsOf(json& level) {
    json& pars = level["uLoopPars_dic"];
    return pars.contains(positionKey(0)) ? pars[positionKey(0)] : pars;
}

json& subLevel(json& level, int i) {
    return level["ppNextLevelEx_dic"][positionKey(i)];
}

// Attributes of an uncompressed image as a file stores them, depths in the "_i32" form.
json attributesDic(std::uint32_t width, std::uint32_t components, std::int32_t bits,
                   std::int32_t significant) {
    return {{"uiWidth_u32", width},
            {"uiHeight_u32", 480},
            {"uiComp_u32", components},
            {"uiBpcInMemory_i32", bits},
            {"uiBpcSignificant_i32", significant},
            {"uiSequenceCount_u32", 10},
            {"uiWidthBytes_u32", 0},
            {"ePixelType_i32", 0},
            {"eCompression_i32", 2},
            {"dCompressionParam_dbl", 0.0}};
}

template <typename F>
std::string typeErrorOf(F&& f) {
    return ZanTest::messageOf<json::type_error>(f);
}

} // namespace

TEST(TileMetadata, ExperimentLoopPosition) {
    const json time = {{"type", "TimeLoop"}, {"count", 3}};
    const json z = {{"type", "ZStackLoop"}, {"count", 5}};
    struct Case {
        json experiment;
        int position;
    };
    for (const Case& c :
         {Case{nullptr, -1}, Case{json::array(), -1}, Case{{time, z}, 1}, Case{{z, time, z}, 0},
          Case{{{{"count", 1}}, {{"type", 4}}, z}, 2}, // no type, or not a name: no match
          Case{{{{"type", "ZStackLoopAccurate"}}, time}, -1}})
        EXPECT_EQ(Zan::experimentLoopPosition(c.experiment, "ZStackLoop"), c.position) << c.experiment;
    EXPECT_EQ(Zan::experimentLoopPosition({time, z}, "TimeLoop"), 0);

    EXPECT_EQ(typeErrorOf([] { Zan::experimentLoopPosition(json::object(), "ZStackLoop"); }),
              "[json.exception.type_error.304] cannot use at() with object");
    EXPECT_EQ(typeErrorOf([] { Zan::experimentLoopPosition("ZStackLoop", "ZStackLoop"); }),
              "[json.exception.type_error.304] cannot use at() with string");
    EXPECT_EQ(typeErrorOf([] { Zan::experimentLoopPosition(json::array({1}), "ZStackLoop"); }),
              "[json.exception.type_error.305] cannot use operator[] with a string argument with number");
}

TEST(TileMetadata, SelectLoopIndexesKeepsFrameOrder) {
    const Frames frames = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}};
    EXPECT_EQ(Zan::selectLoopIndexes(frames, 1, 1, 3), (Frames{{0, 1}, {0, 2}, {1, 1}, {1, 2}}));
    EXPECT_EQ(Zan::selectLoopIndexes(frames, 0, 1, 2), (Frames{{1, 0}, {1, 1}, {1, 2}}));
    EXPECT_EQ(Zan::selectLoopIndexes(frames, 1, 2, 2), Frames());
    EXPECT_EQ(Zan::selectLoopIndexes(Frames(), 7, 0, 9), Frames());
    ZAN_EXPECT_THROW_MSG(Zan::selectLoopIndexes(frames, 2, 0, 1), std::out_of_range,
                         "vector::_M_range_check: __n (which is 2) >= this->size() (which is 2)");
    EXPECT_THROW(Zan::selectLoopIndexes(frames, -1, 0, 1), std::out_of_range);
}

TEST(TileMetadata, AlignAndLineSize) {
    EXPECT_EQ(Zan::align(0, 4), 0);
    EXPECT_EQ(Zan::align(1, 4), 4);
    EXPECT_EQ(Zan::align(8, 4), 8);
    EXPECT_EQ(Zan::align(9, 1), 9);
    EXPECT_EQ(Zan::lineSize(1001, 32, 3, 4), 12012);
    EXPECT_EQ(Zan::lineSize(1001, 8, 3, 4), 3004);
    EXPECT_EQ(Zan::lineSize(3, 12, 1, 4), 8); // 36 bits are 5 bytes, aligned to 8
    EXPECT_EQ(Zan::lineSize(3, 1, 1, 1), 1);

    EXPECT_THROW(Zan::align(5, 0), std::invalid_argument);
    EXPECT_THROW(Zan::align(-1, 4), std::invalid_argument);
    EXPECT_THROW(Zan::align(LONG_MAX, 4), std::overflow_error);
    EXPECT_THROW(Zan::lineSize(-1, 8, 1, 4), std::invalid_argument);
    EXPECT_THROW(Zan::lineSize(LONG_MAX / 4, 8, 1, 4), std::overflow_error);
    EXPECT_THROW(Zan::lineSize(1 << 30, 1 << 30, 1 << 30, 4), std::overflow_error);
}

// Planes [4, 8) of a stack of 11 planes from 10.0 to 20.0, in the form the bridge reads from files
// (parameters under "i0000000000_dic") and with the parameters stored in "uLoopPars_dic" itself.
TEST(TileMetadata, ZStackLevelDescribesThePlanesOfTheTile) {
    struct Case {
        int stackType;
        double step;
        int type;
        double low, high, stepOut;
    };
    for (const Case& c : {Case{0, 0.0, 0, 14.0, 17.0, 1.0}, Case{3, 0.0, 0, 14.0, 17.0, 1.0},
                          Case{5, 0.0, 4, 16.0, 13.0, 1.0}, Case{4, 0.0, 4, 16.0, 13.0, 1.0},
                          Case{0, 0.5, 0, 12.0, 13.5, 0.5}}) { // a stored step is used as it is
        for (bool listed : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "stack type " << c.stackType << ", step " << c.step
                                              << (listed ? ", listed" : ", bare"));
            json pars = zPars(11, 10.0, 20.0, c.step, 15.0, c.stackType, true);
            pars["wsZDevice_str"] = "Ti ZDrive";
            json z = level(ZStackLevel, pars);
            if (!listed)
                z["uLoopPars_dic"] = pars;
            const json before = z;

            ASSERT_TRUE(Zan::changeExperimentLevel(z, "ZStackLoop", 4, 8));
            json expected = pars;
            expected.update({{"uiCount_u32", 4u},
                             {"dZLow_dbl", c.low},
                             {"dZHigh_dbl", c.high},
                             {"dZStep_dbl", c.stepOut},
                             {"iType_i32", c.type},
                             {"bAbsolute_bol", true}});
            EXPECT_EQ(parsOf(z), expected);
            // Nothing but the parameters changes.
            json rest = z, restBefore = before;
            rest.erase("uLoopPars_dic");
            restBefore.erase("uLoopPars_dic");
            EXPECT_EQ(rest, restBefore);
            if (listed) {
                EXPECT_EQ(z["uLoopPars_dic"].size(), 1u);
            }
        }
    }
}

TEST(TileMetadata, ChangeExperimentFindsTheLoopsTheReaderReads) {
    const json z = level(ZStackLevel, zPars(11, 0.0, 10.0, 0.0, 5.0));
    const auto rewritten = [](json& level) { return parsOf(level).value("uiCount_u32", 0u) == 3u; };

    // Nested under a time loop, whose parameters stay as they were.
    json tree = level(TimeLevel, timePars(4), {z});
    const json time = parsOf(tree);
    Zan::changeExperiment(tree, "ZStackLoop", 2, 5);
    EXPECT_TRUE(rewritten(subLevel(tree, 0)));
    EXPECT_EQ(parsOf(tree), time);

    // Every sibling branch is searched, also after one was rewritten; below a rewritten level nothing is.
    tree =
        level(XYPosLevel, xyPars({{0, 0}, {1, 1}}),
              {level(ZStackLevel, zPars(11, 0.0, 10.0, 0.0, 5.0), {z}), level(TimeLevel, timePars(2), {z})});
    Zan::changeExperiment(tree, "ZStackLoop", 2, 5);
    EXPECT_TRUE(rewritten(subLevel(tree, 0)));
    EXPECT_FALSE(rewritten(subLevel(subLevel(tree, 0), 0)));
    EXPECT_TRUE(rewritten(subLevel(subLevel(tree, 1), 0)));

    // Types beyond the table are no loop, but their sub-levels are searched; "ZStackLoopAccurate" is another
    // loop than "ZStackLoop".
    json accurate = level(ZAccurateLevel, zPars(11, 0.0, 10.0, 0.0, 5.0));
    tree = level(11, countPars(2), {accurate, z});
    EXPECT_FALSE(Zan::changeExperimentLevel(tree, "ZStackLoop", 2, 5));
    Zan::changeExperiment(tree, "ZStackLoop", 2, 5);
    EXPECT_FALSE(rewritten(subLevel(tree, 0)));
    EXPECT_TRUE(rewritten(subLevel(tree, 1)));

    // Sub-levels without a stored count are visited by the reader, and so by the rewriting.
    for (const json& storedCount : {json(), json(0)}) {
        tree = level(TimeLevel, timePars(4), {z});
        if (storedCount.is_null())
            tree.erase("uiNextLevelCount_u32");
        else
            tree["uiNextLevelCount_u32"] = storedCount;
        json raw = {{"Experiment_dic", tree}};
        Zan::changeRawMetadataExperiment(raw, "ZStackLoop", 2, 5);
        EXPECT_TRUE(rewritten(subLevel(raw["Experiment_dic"], 0))) << storedCount;
    }

    // A loop of the name but another type is found and left as it is; a level without parameters is no loop.
    json t = level(TimeLevel, timePars(4));
    const json tBefore = t;
    EXPECT_TRUE(Zan::changeExperimentLevel(t, "TimeLoop", 2, 5));
    EXPECT_EQ(t, tBefore);
    for (const json& pars : {json(), json::object({{positionKey(0), nullptr}})}) {
        json bare = {{"eType_u32", 4}, {"uLoopPars_dic", pars}};
        const json bareBefore = bare;
        EXPECT_FALSE(Zan::changeExperimentLevel(bare, "ZStackLoop", 2, 5));
        EXPECT_EQ(bare, bareBefore);
    }
}

TEST(TileMetadata, ExperimentRefusalsChangeNothing) {
    const json raw =
        rawWith(level(TimeLevel, timePars(4), {level(ZStackLevel, zPars(11, 0.0, 10.0, 0.0, 5.0))}));
    using Call = std::function<void(json&)>;
    for (const auto& range : std::vector<std::pair<long, long>>{{-1, 3}, {3, 3}, {4, 3}, {0, 1L << 33}}) {
        const long low = range.first, high = range.second;
        SCOPED_TRACE(::testing::Message() << "[" << low << ", " << high << ")");
        for (const Call& call :
             {Call([&](json& r) { Zan::changeRawMetadataExperiment(r, "ZStackLoop", low, high); }),
              Call([&](json& r) { Zan::changeExperiment(r["Experiment_dic"], "ZStackLoop", low, high); }),
              Call([&](json& r) {
                  Zan::changeExperimentLevel(subLevel(r["Experiment_dic"], 0), "ZStackLoop", low, high);
              })}) {
            json copy = raw;
            EXPECT_THROW(call(copy), std::invalid_argument);
            EXPECT_EQ(copy, raw);
        }
    }
    // Documents without an experiment come back as they were.
    for (const json& other : {json(), json::array({1}), json{{"Attributes_dic", {{"uiWidth_u32", 4}}}}}) {
        json copy = other;
        Zan::changeRawMetadataExperiment(copy, "ZStackLoop", 0, 2);
        EXPECT_EQ(copy, other);
    }
    // A level that is not an object, at the top or nested.
    EXPECT_EQ(typeErrorOf([] {
                  json bad = json::array({1});
                  Zan::changeExperimentLevel(bad, "ZStackLoop", 0, 2);
              }),
              "[json.exception.type_error.306] cannot use value() with array");
    EXPECT_EQ(typeErrorOf([] {
                  json bad = {{"Experiment_dic", level(TimeLevel, timePars(2))}};
                  bad["Experiment_dic"]["ppNextLevelEx_dic"][positionKey(0)] = 5;
                  bad["Experiment_dic"]["uiNextLevelCount_u32"] = 1;
                  Zan::changeRawMetadataExperiment(bad, "ZStackLoop", 0, 2);
              }),
              "[json.exception.type_error.306] cannot use value() with number");
}

TEST(TileMetadata, AttributesDescribeTheTile) {
    // 8 bits, 3 components, 1001 pixels wide: to float gives rows of 12012 bytes, else 3004.
    json raw = {{"Attributes_dic", attributesDic(1001, 3, 8, 8)}};
    json toFloat = raw;
    Zan::changeRawMetadataAttributes(toFloat, 7, 1001, 500, true);
    json expected = raw["Attributes_dic"];
    expected.update({{"ePixelType_i32", 2},
                     {"uiBpcInMemory_i32", 32},
                     {"uiBpcSignificant_i32", 32},
                     {"uiSequenceCount_u32", 7u},
                     {"uiWidth_u32", 1001u},
                     {"uiHeight_u32", 500u},
                     {"uiWidthBytes_u32", 12012}});
    EXPECT_EQ(toFloat["Attributes_dic"], expected);

    json same = raw;
    Zan::changeRawMetadataAttributes(same, 7, 1001, 500, false);
    expected = raw["Attributes_dic"];
    expected.update({{"uiSequenceCount_u32", 7u}, {"uiHeight_u32", 500u}, {"uiWidthBytes_u32", 3004}});
    EXPECT_EQ(same["Attributes_dic"], expected);

    // Depths stored in the "_u32" form: the row size comes from them, to float rewrites them (they are what
    // the attributes document reads), and no member is inserted as null.
    json u32 = {{"Attributes_dic",
                 {{"uiWidth_u32", 640},
                  {"uiHeight_u32", 480},
                  {"uiComp_u32", 1},
                  {"uiBpcInMemory_u32", 16},
                  {"uiBpcSignificant_u32", 12},
                  {"uiTileWidth_u32", 256},
                  {"uiTileHeight_u32", 256}}}};
    json tile = u32;
    Zan::changeRawMetadataAttributes(tile, 3, 101, 50, false);
    expected = u32["Attributes_dic"];
    expected.update({{"uiWidth_u32", 101u},
                     {"uiHeight_u32", 50u},
                     {"uiSequenceCount_u32", 3u},
                     {"uiWidthBytes_u32", 204},
                     {"uiTileWidth_u32", 101u}, // a tile is stored whole
                     {"uiTileHeight_u32", 50u}});
    EXPECT_EQ(tile["Attributes_dic"], expected);
    tile = u32;
    Zan::changeRawMetadataAttributes(tile, 3, 101, 50, true);
    EXPECT_EQ(tile["Attributes_dic"]["uiBpcInMemory_u32"], 32u);
    EXPECT_EQ(tile["Attributes_dic"]["uiBpcSignificant_u32"], 32u);
    EXPECT_EQ(tile["Attributes_dic"]["uiWidthBytes_u32"], 404);

    // A "_u32" depth of 0 gives way to the "_i32" one, as in the attributes document.
    json mixed = {
        {"Attributes_dic", {{"uiComp_u32", 2}, {"uiBpcInMemory_u32", 0}, {"uiBpcInMemory_i32", 16}}}};
    Zan::changeRawMetadataAttributes(mixed, 1, 3, 1, false);
    EXPECT_EQ(mixed["Attributes_dic"]["uiWidthBytes_u32"], 12);
    EXPECT_FALSE(mixed["Attributes_dic"].contains("uiTileWidth_u32"));
}

TEST(TileMetadata, AttributeRefusalsChangeNothing) {
    const json raw = {{"Attributes_dic", attributesDic(640, 1, 16, 12)}};
    const auto unchangedAfter = [&](const json& source, const std::function<void(json&)>& call) {
        json copy = source;
        call(copy);
        EXPECT_EQ(copy, source);
    };
    const std::string nullNumber = "[json.exception.type_error.302] type must be number, but is null";
    for (const char* key : {"uiComp_u32", "uiBpcInMemory_i32"}) {
        json missing = raw;
        missing["Attributes_dic"].erase(key);
        unchangedAfter(missing, [&](json& r) {
            EXPECT_EQ(typeErrorOf([&] { Zan::changeRawMetadataAttributes(r, 1, 10, 10, false); }),
                      nullNumber);
        });
    }
    json huge = raw;
    huge["Attributes_dic"]["uiBpcInMemory_i32"] = 1 << 30;
    unchangedAfter(huge, [](json& r) {
        EXPECT_THROW(Zan::changeRawMetadataAttributes(r, 1, 100, 10, false), std::runtime_error);
    });
    huge["Attributes_dic"]["uiComp_u32"] = 4000000000u;
    unchangedAfter(huge, [](json& r) {
        EXPECT_THROW(Zan::changeRawMetadataAttributes(r, 1, 4000000000L, 10, false), std::overflow_error);
    });
    struct Sizes {
        long frames, width, height;
    };
    for (const Sizes& s : {Sizes{-1, 10, 10}, Sizes{1, 0, 10}, Sizes{1, 10, 0}, Sizes{1, 1L << 32, 10},
                           Sizes{1L << 32, 10, 10}, Sizes{1, 10, -5}})
        unchangedAfter(raw, [&](json& r) {
            EXPECT_THROW(Zan::changeRawMetadataAttributes(r, s.frames, s.width, s.height, false),
                         std::invalid_argument);
        });
    // Documents without attributes are left alone, whatever the arguments.
    for (const json& other : {json(), json::array({1}), json{{"Experiment_dic", json::object()}}})
        unchangedAfter(other, [](json& r) { Zan::changeRawMetadataAttributes(r, -1, -1, -1, true); });
    EXPECT_EQ(typeErrorOf([] {
                  json bad = {{"Attributes_dic", "text"}};
                  Zan::changeRawMetadataAttributes(bad, 1, 1, 1, false);
              }),
              "[json.exception.type_error.302] type must be object, but is string");
}

// A tile of planes [4, 8) of a time-lapse of Z stacks, cut to 100 x 50 pixels, written into metadata blocks
// and read back as a device reads a tile file: its documents describe the tile, not the source.
TEST(TileMetadata, TileDocumentsReadBackThroughTheBridge) {
    struct Case {
        const char* name;
        bool u32Depths;
        bool toFloat;
        int stackType;
    };
    for (const Case& c :
         {Case{"i32 depths", false, false, 0}, Case{"i32 depths to float", false, true, 0},
          Case{"u32 depths to float", true, true, 0}, Case{"downward stack", true, false, 5}}) {
        SCOPED_TRACE(c.name);
        json raw = rawWith(level(TimeLevel, timePars(3),
                                 {level(ZStackLevel, zPars(11, 10.0, 20.0, 0.0, 15.0, c.stackType))}),
                           33);
        raw["Attributes_dic"] = attributesDic(640, 1, 16, 12);
        raw["Attributes_dic"].update(
            {{"uiSequenceCount_u32", 33}, {"uiTileWidth_u32", 128}, {"uiTileHeight_u32", 128}});
        if (c.u32Depths) {
            raw["Attributes_dic"].erase("uiBpcInMemory_i32");
            raw["Attributes_dic"].erase("uiBpcSignificant_i32");
            raw["Attributes_dic"].update({{"uiBpcInMemory_u32", 16}, {"uiBpcSignificant_u32", 12}});
        }
        raw["TextInfo_dic"] = {{"TextInfoItem_4_str", "A. Author"}};

        Zan::JsonMetadata::FrameTable table;
        const json sourceAttributes = Zan::JsonMetadata::attributes(raw);
        const json sourceLoops = Zan::JsonMetadata::experiment(raw, sourceAttributes, table);
        const int zPos = Zan::experimentLoopPosition(sourceLoops, "ZStackLoop");
        ASSERT_EQ(zPos, 1);
        const Frames frames = Zan::selectLoopIndexes(table, zPos, 4, 8);
        ASSERT_EQ(frames.size(), 12u);

        Zan::changeRawMetadataExperiment(raw, "ZStackLoop", 4, 8);
        Zan::changeRawMetadataAttributes(raw, static_cast<long>(frames.size()), 100, 50, c.toFloat);
        for (const json& back :
             {readLiteVariantBlocks(liteVariantBlocks(raw)), readXmlVariantBlocks(xmlVariantBlocks(raw))}) {
            const json attributes = Zan::JsonMetadata::attributes(back);
            EXPECT_EQ(attributes["widthPx"], 100);
            EXPECT_EQ(attributes["heightPx"], 50);
            EXPECT_EQ(attributes["sequenceCount"], 12);
            EXPECT_EQ(attributes["widthBytes"], c.toFloat ? 400 : 200);
            EXPECT_EQ(attributes["bitsPerComponentInMemory"], c.toFloat ? 32 : 16);
            EXPECT_EQ(attributes["bitsPerComponentSignificant"], c.toFloat ? 32 : 12);
            EXPECT_EQ(attributes["pixelDataType"], c.toFloat ? "float" : "unsigned");
            EXPECT_FALSE(attributes.contains("tileWidthPx"));

            Zan::JsonMetadata::FrameTable tileTable;
            const json loops = Zan::JsonMetadata::experiment(back, attributes, tileTable);
            ASSERT_EQ(loops.size(), 2u);
            EXPECT_EQ(loops[0]["count"], 3);
            EXPECT_EQ(loops[1]["type"], "ZStackLoop");
            EXPECT_EQ(loops[1]["count"], 4);
            EXPECT_EQ(loops[1]["parameters"]["stepUm"], 1.0);
            EXPECT_EQ(loops[1]["parameters"]["bottomToTop"], c.stackType < 4);
            EXPECT_EQ(tileTable.size(), 12u);
            const json& z =
                back["Experiment_dic"]["ppNextLevelEx_dic"][positionKey(0)]["uLoopPars_dic"][positionKey(0)];
            EXPECT_EQ(z["dZLow_dbl"], c.stackType < 4 ? 14.0 : 16.0);
            EXPECT_EQ(z["dZHigh_dbl"], c.stackType < 4 ? 17.0 : 13.0);
            EXPECT_EQ(Zan::JsonMetadata::textInfo(back), Zan::JsonMetadata::textInfo(raw));
        }
    }
}

// The one reader of the attributes' integers that the device, the frame writes and split and merge share:
// whole numbers stored as floats read as the integers they are, anything else as 0.
TEST(AttributeIntegers, WholeNumbersOfEitherKind) {
    const nlohmann::json attributes = {{"int", 10},    {"float", 10.0},  {"fraction", 10.5},
                                       {"text", "10"}, {"negative", -3}, {"huge", UINT64_MAX},
                                       {"nan", NAN},   {"big", 1e19},    {"null", nullptr}};
    const std::pair<const char*, long> cases[] = {
        {"int", 10}, {"float", 10}, {"fraction", 0}, {"text", 0}, {"negative", -3},
        {"huge", 0}, {"nan", 0},    {"big", 0},      {"null", 0}, {"absent", 0}};
    for (const auto& [key, value] : cases)
        EXPECT_EQ(Zan::detail::integerMember(attributes, key), value) << key;
    EXPECT_EQ(Zan::detail::integerMember(nlohmann::json::array({1}), "int"), 0);
}
