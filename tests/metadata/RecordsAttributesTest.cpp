// The attributes and text-info records and their JSON codecs.

#include "MetadataTestSupport.h"

#include <imagefile/IoImageFile.h>
#include <metadata/JsonBridge.h>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using Zan::IoImageFile;
using json = nlohmann::json;
using metadata_test::jsonErrorId;

namespace {

IoImageFile::Attributes sampleAttributes() {
    IoImageFile::Attributes a;
    a.bitsPerComponentInMemory = 16;
    a.bitsPerComponentSignificant = 12;
    a.componentCount = 3;
    a.compressionLevel = 0.75;
    a.compressionType = IoImageFile::Lossy;
    a.heightPx = 480;
    a.pixelDataType = IoImageFile::Float;
    a.sequenceCount = 1LL << 40;
    a.tileHeightPx = 256;
    a.tileWidthPx = 128;
    a.widthBytes = -1;
    a.widthPx = 640;
    return a;
}

bool same(const IoImageFile::Attributes& a, const IoImageFile::Attributes& b) {
    return json(a) == json(b);
}

TEST(AttributesRecord, WritesEveryKeyAndReadsBack) {
    const json zero = IoImageFile::Attributes{};
    EXPECT_EQ(zero, (json{{"bitsPerComponentInMemory", 0},
                          {"bitsPerComponentSignificant", 0},
                          {"componentCount", 0},
                          {"compressionLevel", 0.0},
                          {"compressionType", "none"},
                          {"heightPx", 0},
                          {"pixelDataType", "unsigned"},
                          {"sequenceCount", 0},
                          {"tileHeightPx", 0},
                          {"tileWidthPx", 0},
                          {"widthBytes", 0},
                          {"widthPx", 0}}));
    EXPECT_TRUE(zero["compressionLevel"].is_number_float());
    EXPECT_TRUE(zero["widthPx"].is_number_integer());

    const json written = sampleAttributes();
    EXPECT_EQ(written["compressionType"], "lossy");
    EXPECT_EQ(written["pixelDataType"], "float");
    const auto back = written.get<IoImageFile::Attributes>();
    EXPECT_TRUE(same(back, sampleAttributes()));
    EXPECT_EQ(back.sequenceCount, 1LL << 40);
    EXPECT_EQ(back.compressionType, IoImageFile::Lossy);

    json j = {{"stale", 1}};
    nlohmann::adl_serializer<IoImageFile::Attributes>::to_json(j, sampleAttributes());
    EXPECT_EQ(j, written); // replaced, not merged
}

// The document the bridge derives omits the tile and compression keys; a record from the facade starts at
// zero, so those fields end as 0 and "none".
TEST(AttributesRecord, ReadsTheDerivedDocument) {
    const json raw = {{"Attributes_dic",
                       {{"uiWidth_u32", 640},
                        {"uiHeight_u32", 480},
                        {"uiComp_u32", 1},
                        {"uiBpcInMemory_u32", 16},
                        {"uiBpcSignificant_u32", 12},
                        {"uiSequenceCount_u32", 10},
                        {"eCompression_i32", 1},
                        {"dCompressionParam_dbl", 0.5}}}};
    IoImageFile::Attributes a;
    nlohmann::adl_serializer<IoImageFile::Attributes>::from_json(Zan::JsonMetadata::attributes(raw), a);
    EXPECT_EQ(a.widthPx, 640);
    EXPECT_EQ(a.heightPx, 480);
    EXPECT_EQ(a.componentCount, 1);
    EXPECT_EQ(a.bitsPerComponentInMemory, 16);
    EXPECT_EQ(a.bitsPerComponentSignificant, 12);
    EXPECT_EQ(a.sequenceCount, 10);
    EXPECT_EQ(a.compressionType, IoImageFile::Lossy);
    EXPECT_EQ(a.compressionLevel, 0.5);
    EXPECT_EQ(a.pixelDataType, IoImageFile::Unsigned);
    EXPECT_EQ(a.tileWidthPx, 0);
    EXPECT_EQ(a.widthBytes, 0);
}

TEST(AttributesRecord, AbsentKeysKeepFieldsAndNamesAreExact) {
    IoImageFile::Attributes a = sampleAttributes();
    nlohmann::adl_serializer<IoImageFile::Attributes>::from_json(json::object(), a);
    EXPECT_TRUE(same(a, sampleAttributes()));

    struct Case {
        const char* key;
        const char* name;
        const char* readsBackAs;
    };
    const Case cases[] = {{"compressionType", "lossless", "lossless"},
                          {"compressionType", "lossy", "lossy"},
                          {"compressionType", "LOSSLESS", "none"},
                          {"compressionType", "none", "none"},
                          {"compressionType", "", "none"},
                          {"pixelDataType", "float", "float"},
                          {"pixelDataType", "Float", "unsigned"},
                          {"pixelDataType", "signed", "unsigned"}};
    for (const Case& c : cases) {
        IoImageFile::Attributes r = sampleAttributes();
        nlohmann::adl_serializer<IoImageFile::Attributes>::from_json({{c.key, c.name}}, r);
        EXPECT_EQ(json(r)[c.key], c.readsBackAs) << c.key << " " << c.name;
    }
}

TEST(AttributesRecord, Failures) {
    IoImageFile::Attributes a = sampleAttributes();
    EXPECT_EQ(
        jsonErrorId([&] { nlohmann::adl_serializer<IoImageFile::Attributes>::from_json(json::array(), a); }),
        306);
    EXPECT_TRUE(same(a, sampleAttributes()));
    // Fields before the failing key are updated, the later ones are not.
    const json wrong = {{"bitsPerComponentInMemory", 1}, {"heightPx", "tall"}, {"widthPx", 2}};
    EXPECT_EQ(jsonErrorId([&] { nlohmann::adl_serializer<IoImageFile::Attributes>::from_json(wrong, a); }),
              302);
    EXPECT_EQ(a.bitsPerComponentInMemory, 1);
    EXPECT_EQ(a.widthPx, 640);
    for (const json& bad : {json{{"compressionType", 1}}, json{{"compressionLevel", "x"}},
                            json{{"widthPx", true}}, json{{"tileWidthPx", nullptr}}})
        EXPECT_EQ(jsonErrorId([&] { bad.get<IoImageFile::Attributes>(); }), 302) << bad.dump();
}

// Sizes stored as floating-point numbers convert without undefined behaviour.
TEST(AttributesRecord, FloatingPointSizes) {
    const auto a = json{{"widthPx", 640.9},
                        {"heightPx", 1e300},
                        {"componentCount", -1e300},
                        {"sequenceCount", std::numeric_limits<double>::quiet_NaN()}}
                       .get<IoImageFile::Attributes>();
    EXPECT_EQ(a.widthPx, 640);
    EXPECT_EQ(a.heightPx, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(a.componentCount, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(a.sequenceCount, 0);
}

TEST(TextInfoRecord, ReadAndWrite) {
    IoImageFile::TextInfo t;
    t.imageId = "id";
    t.author = "Ann \u00c5berg";
    t.appVersion = "3.1";
    const json written = t;
    EXPECT_EQ(written.size(), 15u);
    EXPECT_EQ(written["author"], "Ann \u00c5berg");
    EXPECT_EQ(written["optics"], "");
    const auto back = written.get<IoImageFile::TextInfo>();
    EXPECT_EQ(json(back), written);

    // Keys the document lacks empty their strings; a document that is not an object changes nothing.
    IoImageFile::TextInfo r = t;
    nlohmann::adl_serializer<IoImageFile::TextInfo>::from_json(json::array({1}), r);
    EXPECT_EQ(json(r), written);
    nlohmann::adl_serializer<IoImageFile::TextInfo>::from_json({{"optics", "60x"}}, r);
    IoImageFile::TextInfo expected;
    expected.optics = "60x";
    EXPECT_EQ(json(r), json(expected));
    nlohmann::adl_serializer<IoImageFile::TextInfo>::from_json(json::object(), r);
    EXPECT_EQ(json(r), json(IoImageFile::TextInfo{}));

    // The text-info document of the bridge reads straight in.
    const json document =
        Zan::JsonMetadata::textInfo({{"TextInfo_dic", {{"TextInfoItem_13_str", "Plan Apo"}}}});
    EXPECT_EQ(document.get<IoImageFile::TextInfo>().optics, "Plan Apo");

    r = t;
    EXPECT_EQ(
        jsonErrorId([&] {
            nlohmann::adl_serializer<IoImageFile::TextInfo>::from_json({{"imageId", "new"}, {"type", 1}}, r);
        }),
        302);
    EXPECT_EQ(r.imageId, "new");
    EXPECT_EQ(r.author, "Ann \u00c5berg");
}

} // namespace
