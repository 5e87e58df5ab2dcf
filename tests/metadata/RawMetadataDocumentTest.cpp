// The raw-metadata document: four blocks read and composed, and written back.

#include "../legacy/LiteVariantTestSupport.h"
#include "support/Expect.h"
#include "support/ExperimentDocs.h"
#include "support/RawMetadataFixtures.h"

#include <metadata/JsonBridge.h>

#include <gtest/gtest.h>

#include <string>

using namespace Zan::JsonMetadata;
using ZanLegacy::CVkLiteVariantR;
using ZanTest::RawMetadataBlocks;

namespace {

Zan::ByteVector bytes(const std::string& s) {
    return Zan::ByteVector(s.begin(), s.end());
}

// A document as a version 3 file holds it: every part, nested levels, unnamed entries, a byte block and
// text outside ASCII.
json sampleRaw() {
    return {
        {"Attributes_dic",
         {{"uiWidth_u32", 640},
          {"uiWidthBytes_u32", 1280},
          {"uiHeight_u32", 480},
          {"uiComp_u32", 1},
          {"uiBpcInMemory_u32", 16},
          {"uiBpcSignificant_u32", 12},
          {"uiSequenceCount_u32", 10},
          {"eCompression_i32", 2},
          {"dCompressionParam_dbl", 0.0},
          {"__m_runType_str", "SVkImageAttributes"}}},
        {"Experiment_dic",
         {{"eType_u32", 4},
          {"uLoopPars_dic", {{"i0000000000_dic", {{"uiCount_u32", 10}, {"dZStep_dbl", 0.5}}}}},
          {"uiNextLevelCount_u32", 0}}},
        {"Metadata_dic",
         {{"sPicturePlanes_dic",
           {{"uiCount_u32", 1},
            {"sPlaneNew_dic", {{"a0_dic", {{"sDescription_str", "\u00b5-Kanal 1"}, {"uiColor_u32", 255}}}}}}},
          {"pCameraMatrix_bar", "AAECAwQF"},
          {"dObjectiveMag_dbl", 60.0},
          {"bAbsolute_bol", true},
          {"lTime_i64", -3},
          {"ulStamp_u64", 18446744073709551615ULL}}},
        {"TextInfo_dic", {{"TextInfoItem_4_str", "A. Author"}, {"TextInfoItem_13_str", "Plan Apo 60x"}}}};
}

TEST(RawMetadataDocument, ComposeUnwrapsEachPart) {
    EXPECT_EQ(composeRawMetadata({{"SVkImageAttributes_dic", {{"x_i32", 1}}}}, nullptr, json::object(),
                                 json::array()),
              (json{{"Attributes_dic", {{"x_i32", 1}}}}));
    // An object gives its first member in key order, an array its first element.
    EXPECT_EQ(composeRawMetadata({{"b", 2}, {"a", {{"x", 1}}}}, json::array({3, 4}), {{"m", 5}}, "text"),
              (json{{"Attributes_dic", {{"x", 1}}},
                    {"Experiment_dic", 3},
                    {"Metadata_dic", 5},
                    {"TextInfo_dic", "text"}}));
    for (const json& attributes : {json(), json::object(), json::array()})
        ZAN_EXPECT_THROW_MSG(composeRawMetadata(attributes, nullptr, nullptr, nullptr), std::runtime_error,
                             "Cannot parse image attributes");
}

// An empty level reads as a member without a form ("SVkExperiment_": null); as a part it is absent, not
// a null part that every later document would have to read.
TEST(RawMetadataDocument, PartsThatUnwrapToNothingAreAbsent) {
    const json emptyLevel = {{"SVkExperiment_", nullptr}};
    EXPECT_EQ(composeRawMetadata({{"A_dic", {{"x_i32", 1}}}}, emptyLevel, {{"M_dic", json::object()}},
                                 {{"T", json::array()}}),
              (json{{"Attributes_dic", {{"x_i32", 1}}}}));
    ZAN_EXPECT_THROW_MSG(composeRawMetadata({{"SVkImageAttributes_", nullptr}}, nullptr, nullptr, nullptr),
                         std::runtime_error, "Cannot parse image attributes");

    const RawMetadataBlocks blocks{ZanTest::liteVariantBytes({{"uiWidth_u32", 4}, {"eCompression_i32", 2}}),
                                   ZanTest::liteVariantBytes(json::object(), ZanTest::kExperimentRoot),
                                   {},
                                   {}};
    const json raw = ZanTest::readLiteVariantBlocks(blocks);
    EXPECT_FALSE(raw.contains("Experiment_dic"));
    EXPECT_NO_THROW(attributes(raw));
    EXPECT_TRUE(textInfo(raw).is_null());
}

TEST(RawMetadataDocument, BinaryBlocksRoundTrip) {
    const json raw = sampleRaw();
    const RawMetadataBlocks blocks = ZanTest::liteVariantBlocks(raw);
    EXPECT_EQ(jsonFromLiteVariant(blocks.textInfo), (json{{"SVkImageTextInfo_dic", raw["TextInfo_dic"]}}));
    EXPECT_EQ(ZanTest::readLiteVariantBlocks(blocks), raw);
    // Written again, the blocks are the same bytes.
    const RawMetadataBlocks again = ZanTest::liteVariantBlocks(ZanTest::readLiteVariantBlocks(blocks));
    EXPECT_EQ(again.attributes, blocks.attributes);
    EXPECT_EQ(again.experiment, blocks.experiment);
    EXPECT_EQ(again.metadata, blocks.metadata);
    EXPECT_EQ(again.textInfo, blocks.textInfo);
}

// Version 2 files hold the same trees as XML variants: the same documents come out.
TEST(RawMetadataDocument, XmlBlocksGiveTheSameDocuments) {
    const json raw = sampleRaw();
    const RawMetadataBlocks xml = ZanTest::xmlVariantBlocks(raw);
    const json fromXml = ZanTest::readXmlVariantBlocks(xml);
    EXPECT_EQ(fromXml, raw);
    EXPECT_EQ(attributes(fromXml),
              attributes(ZanTest::readLiteVariantBlocks(ZanTest::liteVariantBlocks(raw))));
    EXPECT_EQ(textInfo(fromXml), (json{{"author", "A. Author"}, {"optics", "Plan Apo 60x"}}));

    // An empty byte array of a tree is a null "bar" member; it writes back as an empty byte array.
    const json withEmptyBytes = {{"Attributes_dic", {{"uiWidth_u32", 4}, {"pNone_bar", nullptr}}}};
    const json back = ZanTest::readLiteVariantBlocks(ZanTest::liteVariantBlocks(withEmptyBytes));
    EXPECT_EQ(back, (json{{"Attributes_dic", {{"uiWidth_u32", 4}, {"pNone_", nullptr}}}}));
}

// An empty validity mask is a null "bar" member from XML variants and a member without a form from binary
// ones: both routes give the same experiment, as if no byte mask were stored.
TEST(RawMetadataDocument, EmptyValidityMasksGiveTheSameExperimentOnBothRoutes) {
    using namespace ZanTest;
    json periods = level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(3), timePars(5)}, "dic")},
                                       {"pPeriodValid_bar", ""},
                                       {"pPeriodValid_dic", legacyList({true, false}, "bol")}});
    json points = level(XYPosLevel, xyPars({{1, 2}, {3, 4}}), {periods});
    points["pItemValid_bar"] = "";
    const json raw = rawWith(points, 6);
    const json fromXml = readXmlVariantBlocks(xmlVariantBlocks(raw));
    const json fromBinary = readLiteVariantBlocks(liteVariantBlocks(raw));
    EXPECT_TRUE(fromXml["Experiment_dic"]["pItemValid_bar"].is_null());
    EXPECT_FALSE(fromBinary["Experiment_dic"].contains("pItemValid_bar"));
    FrameTable xmlFrames, binaryFrames;
    const json experimentDoc = experiment(fromXml, json::object(), xmlFrames);
    EXPECT_EQ(experimentDoc, experiment(fromBinary, json::object(), binaryFrames));
    EXPECT_EQ(xmlFrames, binaryFrames);
    // Every point stays; the periods follow the list of flags.
    EXPECT_EQ(experimentDoc, json::parse(R"([
        {"type":"XYPosLoop","count":2,"nestingLevel":0,"parameters":{"isSettingZ":false,"points":[
            {"stagePositionUm":[1.0,2.0,0.0]},{"stagePositionUm":[3.0,4.0,0.0]}]}},
        {"type":"NETimeLoop","count":3,"nestingLevel":1,"parameters":{"periods":[
            {"count":3,"startMs":0.0,"periodMs":100.0,"durationMs":0.0}]}}])"));
}

TEST(RawMetadataDocument, BlocksThatCannotBeRead) {
    const Zan::ByteVector attributesXml = ZanTest::xmlVariantBytes({{"uiWidth_u32", 4}});
    for (const Zan::ByteVector& bad :
         {Zan::ByteVector(), bytes("not xml"), bytes("<variant version=\"1.0\">")}) {
        EXPECT_TRUE(jsonFromSerializedVariant(bad).is_null());
        ZAN_EXPECT_THROW_MSG(readRawMetadataFromVariants(bad, attributesXml, {}, {}), std::runtime_error,
                             "Cannot parse image attributes");
        EXPECT_EQ(readRawMetadataFromVariants(attributesXml, bad, bad, bad),
                  (json{{"Attributes_dic", {{"uiWidth_u32", 4}}}}));
    }
    const Zan::ByteVector attributesLite = ZanTest::liteVariantBytes({{"uiWidth_u32", 4}});
    for (const Zan::ByteVector& bad : {Zan::ByteVector(), bytes("not a variant"), attributesXml}) {
        ZAN_EXPECT_THROW_MSG(readRawMetadataFromLiteVariants(bad, attributesLite, {}, {}), std::runtime_error,
                             "Cannot parse image attributes");
        EXPECT_EQ(readRawMetadataFromLiteVariants(attributesLite, bad, bad, bad),
                  (json{{"Attributes_dic", {{"uiWidth_u32", 4}}}}));
    }
    EXPECT_TRUE(jsonFromLiteVariant({}).is_null());

    // XML trees may nest deeper than binary blocks can: a part deeper than 256 levels is no part, so that
    // no document read can fail to be written again.
    const auto nested = [](int depth) {
        json part = {{"v_i32", 1}};
        for (int i = 1; i < depth; ++i)
            part = json{{"l_dic", std::move(part)}};
        return part;
    };
    const Zan::ByteVector deepest = ZanTest::xmlVariantBytes(nested(256), ZanTest::kTextInfoRoot);
    EXPECT_EQ(readRawMetadataFromVariants(attributesXml, {}, {}, deepest)["TextInfo_dic"], nested(256));
    const Zan::ByteVector tooDeep = ZanTest::xmlVariantBytes(nested(257), ZanTest::kTextInfoRoot);
    EXPECT_FALSE(jsonFromSerializedVariant(tooDeep).is_null());
    EXPECT_EQ(readRawMetadataFromVariants(attributesXml, {}, {}, tooDeep),
              (json{{"Attributes_dic", {{"uiWidth_u32", 4}}}}));
    ZAN_EXPECT_THROW_MSG(readRawMetadataFromVariants(ZanTest::xmlVariantBytes(nested(300)), {}, {}, {}),
                         std::runtime_error, "Cannot parse image attributes");
}

TEST(RawMetadataDocument, WritingLeavesReadersOfMissingPartsAlone) {
    const lite_test::Bytes before = lite_test::exampleDocument();
    CVkLiteVariantR a, e, m, t;
    for (CVkLiteVariantR* r : {&a, &e, &m, &t})
        lite_test::load(*r, before);
    writeRawMetadataToLiteVariants({{"Attributes_dic", {{"uiWidth_u32", 4}}}}, a, e, m, t);
    EXPECT_EQ(jsonFromLiteVariant(ZanTest::bytesOf(a)),
              (json{{"SVkImageAttributes_dic", {{"uiWidth_u32", 4}}}}));
    for (CVkLiteVariantR* r : {&e, &m, &t})
        EXPECT_EQ(lite_test::bytesOf(*r), before);
    writeRawMetadataToLiteVariants(json::array(), a, e, m, t);
    EXPECT_EQ(lite_test::bytesOf(e), before);
}

// Split and merge leave counts as signed or unsigned integers, positions as doubles and flags as
// booleans; the writer takes them all.
TEST(RawMetadataDocument, WriterAcceptsNumbersOfEveryKind) {
    const json raw = {{"Attributes_dic",
                       {{"uiWidth_u32", std::int64_t(64)},
                        {"uiHeight_u32", std::uint64_t(32)},
                        {"uiBpcInMemory_i32", 16u},
                        {"uiComp_u32", 1.0},
                        {"uiSequenceCount_u32", true}}},
                      {"Experiment_dic", {{"dZLow_dbl", -2}, {"dZHigh_dbl", 3u}, {"bAbsolute_bol", false}}}};
    const json back = ZanTest::readLiteVariantBlocks(ZanTest::liteVariantBlocks(raw));
    EXPECT_EQ(back["Attributes_dic"], (json{{"uiWidth_u32", 64},
                                            {"uiHeight_u32", 32},
                                            {"uiBpcInMemory_i32", 16},
                                            {"uiComp_u32", 1},
                                            {"uiSequenceCount_u32", 1}}));
    EXPECT_TRUE(back["Attributes_dic"]["uiWidth_u32"].is_number_unsigned());
    EXPECT_EQ(back["Experiment_dic"],
              (json{{"dZLow_dbl", -2.0}, {"dZHigh_dbl", 3.0}, {"bAbsolute_bol", false}}));
    EXPECT_TRUE(back["Experiment_dic"]["dZLow_dbl"].is_number_float());
}

} // namespace
