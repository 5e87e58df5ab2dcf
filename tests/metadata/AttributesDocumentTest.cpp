// The attributes and text-info documents derived from the raw-metadata document.

#include "MetadataTestSupport.h"
#include "support/Expect.h"

#include <metadata/JsonBridge.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Zan::JsonMetadata;
using metadata_test::jsonErrorId;

namespace {

json raw640x480(const json& extra) {
    json a = {{"uiWidth_u32", 640},      {"uiHeight_u32", 480},        {"uiComp_u32", 1},
              {"uiBpcInMemory_u32", 16}, {"uiBpcSignificant_u32", 12}, {"uiSequenceCount_u32", 10},
              {"eCompression_i32", 2}};
    a.update(extra);
    return {{"Attributes_dic", a}};
}

const json kBase = {{"widthPx", 640},
                    {"heightPx", 480},
                    {"componentCount", 1},
                    {"bitsPerComponentInMemory", 16},
                    {"bitsPerComponentSignificant", 12},
                    {"sequenceCount", 10},
                    {"pixelDataType", "unsigned"}};

TEST(AttributesDocument, Cases) {
    struct Case {
        const char* what;
        json extra;   // members added to or replacing those of the 640 x 480 attributes
        json changes; // keys of the expected document that differ from kBase (null removes one)
    };
    const Case cases[] = {
        {"plain", json::object(), json::object()},
        {"row bytes", {{"uiWidthBytes_u32", 1280}}, {{"widthBytes", 1280}}},
        {"zero members are left out", {{"uiSequenceCount_u32", 0}}, {{"sequenceCount", nullptr}}},
        {"float pixels",
         {{"uiBpcSignificant_u32", 32}},
         {{"bitsPerComponentSignificant", 32}, {"pixelDataType", "float"}}},
        {"float from the signed member",
         {{"uiBpcSignificant_i32", 32}, {"uiBpcSignificant_u32", 0}},
         {{"bitsPerComponentSignificant", 32}, {"pixelDataType", "float"}}},
        {"the unsigned member replaces the signed one",
         {{"uiBpcInMemory_i32", 8}, {"uiBpcSignificant_i32", -1}},
         json::object()},
        {"only the significant depth decides",
         {{"uiBpcInMemory_u32", 32}},
         {{"bitsPerComponentInMemory", 32}}},
        {"tile smaller than the image",
         {{"uiTileWidth_u32", 256}, {"uiTileHeight_u32", 256}},
         {{"tileWidthPx", 256}, {"tileHeightPx", 256}}},
        {"tile of the whole image", {{"uiTileWidth_u32", 640}, {"uiTileHeight_u32", 480}}, json::object()},
        {"no tile", {{"uiTileWidth_u32", 0}, {"uiTileHeight_u32", 0}}, json::object()},
        {"tile of the whole width", {{"uiTileWidth_u32", 640}, {"uiTileHeight_u32", 0}}, json::object()},
        {"tile of part of the height",
         {{"uiTileHeight_u32", 100}},
         {{"tileWidthPx", 0}, {"tileHeightPx", 100}}},
        {"lossless",
         {{"eCompression_i32", 0}, {"dCompressionParam_dbl", 1}},
         {{"compressionType", "lossless"}, {"compressionLevel", 1}}},
        {"lossy",
         {{"eCompression_i32", 1}, {"dCompressionParam_dbl", 0.5}},
         {{"compressionType", "lossy"}, {"compressionLevel", 0.5}}},
        {"unknown compression", {{"eCompression_i32", -1}, {"dCompressionParam_dbl", 0.5}}, json::object()},
    };
    for (const Case& c : cases) {
        json expected = kBase;
        for (const auto& [key, value] : c.changes.items())
            if (value.is_null())
                expected.erase(key);
            else
                expected[key] = value;
        const json document = attributes(raw640x480(c.extra));
        EXPECT_EQ(document, expected) << c.what;
        if (document.contains("tileWidthPx")) {
            EXPECT_TRUE(document["tileWidthPx"].is_number_unsigned()) << c.what;
        }
    }
    // A missing compression member reads as 0: lossless.
    json a = raw640x480(json::object());
    a["Attributes_dic"].erase("eCompression_i32");
    a["Attributes_dic"]["dCompressionParam_dbl"] = 2.0;
    EXPECT_EQ(attributes(a)["compressionType"], "lossless");
}

TEST(AttributesDocument, Failures) {
    for (const json& raw : {json(), json::object(), json::array({1}), json{{"Metadata_dic", {{"x_i32", 1}}}}})
        ZAN_EXPECT_THROW_MSG(attributes(raw), std::runtime_error, "Cannot parse image attributes");
    // Nothing copied: the document is still null when the pixel type is decided.
    EXPECT_EQ(jsonErrorId([] { attributes({{"Attributes_dic", {{"uiWidth_u32", 0}}}}); }), 306);
    EXPECT_EQ(jsonErrorId([] { attributes({{"Attributes_dic", nullptr}}); }), 306);
    json lossless = raw640x480({{"eCompression_i32", 0}});
    EXPECT_EQ(jsonErrorId([&] { attributes(lossless); }), 403);
    EXPECT_EQ(jsonErrorId([] { attributes(raw640x480({{"uiHeight_u32", "480"}})); }), 302);
    EXPECT_EQ(jsonErrorId([] { attributes(raw640x480({{"uiTileWidth_u32", "x"}})); }), 302);
}

TEST(AttributesDocument, IsCompressionLossLess) {
    EXPECT_TRUE(isCompressionLossLess({{"compressionType", "lossless"}}));
    EXPECT_FALSE(isCompressionLossLess({{"compressionType", "lossy"}}));
    EXPECT_FALSE(isCompressionLossLess({{"widthPx", 1}}));
    EXPECT_FALSE(isCompressionLossLess(nullptr));
    EXPECT_EQ(jsonErrorId([] { isCompressionLossLess({{"compressionType", 1}}); }), 302);
}

TEST(TextInfoDocument, CopiesTheNonEmptyItems) {
    json items;
    for (int i = 0; i < 15; ++i)
        items["TextInfoItem_" + std::to_string(i) + "_str"] = "t" + std::to_string(i);
    items["Other_str"] = "ignored";
    EXPECT_EQ(textInfo({{"TextInfo_dic", items}}), (json{{"imageId", "t0"},
                                                         {"type", "t1"},
                                                         {"group", "t2"},
                                                         {"sampleId", "t3"},
                                                         {"author", "t4"},
                                                         {"description", "t5"},
                                                         {"capturing", "t6"},
                                                         {"sampling", "t7"},
                                                         {"location", "t8"},
                                                         {"date", "t9"},
                                                         {"conclusion", "t10"},
                                                         {"info1", "t11"},
                                                         {"info2", "t12"},
                                                         {"optics", "t13"},
                                                         {"appVersion", "t14"}}));
    EXPECT_EQ(textInfo({{"TextInfo_dic", {{"TextInfoItem_4_str", "Ann"}, {"TextInfoItem_5_str", ""}}}}),
              (json{{"author", "Ann"}}));
}

TEST(TextInfoDocument, NothingToReportIsNull) {
    json empty;
    for (int i = 0; i < 15; ++i)
        empty["TextInfoItem_" + std::to_string(i) + "_str"] = "";
    for (const json& raw : {json(), json::array(), json{{"Attributes_dic", {{"x_i32", 1}}}},
                            json{{"TextInfo_dic", empty}}, json{{"TextInfo_dic", nullptr}}})
        EXPECT_TRUE(textInfo(raw).is_null()) << raw.dump();
    EXPECT_EQ(jsonErrorId([] { textInfo({{"TextInfo_dic", {{"TextInfoItem_0_str", 3}}}}); }), 302);
}

} // namespace
