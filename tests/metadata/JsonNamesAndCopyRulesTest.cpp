#include "MetadataTestSupport.h"

#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <imagefile/detail/RecordNames.h>

#include <gtest/gtest.h>

#include <limits>

using namespace Zan::JsonMetadata;
using metadata_test::jsonErrorId;

namespace {

TEST(JsonNames, SplitsAtTheLastUnderscore) {
    struct Case {
        const char* key;
        const char* name;
        const char* suffix;
    };
    const Case cases[] = {{"uiWidth_u32", "uiWidth", "u32"},
                          {"__m_runType_str", "__m_runType", "str"},
                          {"i0000000004_dic", "i0000000004", "dic"},
                          {"SVkImageAttributes", "SVkImageAttributes", "SVkImageAttributes"},
                          {"abc_", "abc", ""},
                          {"_str", "", "str"}};
    for (const Case& c : cases) {
        std::string suffix = "stale";
        EXPECT_EQ(makeVariantItemName(c.key, suffix), c.name) << c.key;
        EXPECT_EQ(suffix, c.suffix) << c.key;
        if (std::string(c.key).find('_') != std::string::npos) {
            EXPECT_EQ(makeJsonItemName(c.name, c.suffix), c.key);
        }
    }
    EXPECT_EQ(makeJsonItemName("", ""), "_");
}

TEST(JsonNames, PositionNamesAndChunkNames) {
    EXPECT_EQ(makeJsonArrayNameFromIndex(0), "i0000000000");
    EXPECT_EQ(makeJsonArrayNameFromIndex(3), "i0000000003");
    EXPECT_EQ(makeJsonArrayNameFromIndex(std::numeric_limits<int>::max()), "i2147483647");
    EXPECT_EQ(makeJsonArrayNameFromIndex(4294967295u), "i4294967295");
    EXPECT_LT(makeJsonArrayNameFromIndex(9), makeJsonArrayNameFromIndex(10));
    EXPECT_EQ(chunkName("ImageDataSeq|", 7u), "ImageDataSeq|7!");
    EXPECT_EQ(chunkName("ImageDataSeq|", 4294967295u), "ImageDataSeq|4294967295!");
    EXPECT_EQ(chunkName("CustomData|", std::string("Foo")), "CustomData|Foo!");
    // A name ending in digits collides with another name's per-frame chunk.
    EXPECT_EQ(chunkName("CustomDataSeq|", "Foo1", 2u), chunkName("CustomDataSeq|", "Foo", 12u));
}

TEST(JsonCopyRules, ConditionsAndTransforms) {
    EXPECT_TRUE(condNonZeroUnsigned(json(1)));
    EXPECT_FALSE(condNonZeroUnsigned(json(0)));
    EXPECT_TRUE(condNonZeroUnsigned(json(true)));
    EXPECT_FALSE(condNonZeroUnsigned(json(4294967296ULL))); // low 32 bits are 0
    EXPECT_FALSE(condPositiveSigned(json(-3)));
    EXPECT_TRUE(condPositiveSigned(json(2.5)));
    EXPECT_FALSE(condPositiveReal(json(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(condPositiveReal(json(0.1)));
    EXPECT_TRUE(condNonEmptyText(json("x")));
    EXPECT_FALSE(condNonEmptyText(json("")));
    EXPECT_EQ(jsonErrorId([] { condNonEmptyText(json(1)); }), 302);
    EXPECT_EQ(jsonErrorId([] { condNonZeroUnsigned(json("1")); }), 302);
    EXPECT_EQ(jsonErrorId([] { condPositiveReal(json::object()); }), 302);

    EXPECT_EQ(xfDoubled(json(3)), json(6.0));
    EXPECT_TRUE(xfDoubled(json(3)).is_number_float());
    EXPECT_EQ(xfAxisName(json(2)), "time");
    EXPECT_EQ(xfAxisName(json(1)), "distance");
    EXPECT_EQ(xfTimerName(json(nullptr)), "NIDAQ");
    EXPECT_EQ(xfPositiveOrZero(json(5)), json(5));
    EXPECT_EQ(xfPositiveOrZero(json(-5)), json(0.0));
}

TEST(JsonCopyRules, NumbersFromFilesNeverConvertUndefined) {
    EXPECT_EQ(jsonToInt32(json(1e300)), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(jsonToInt32(json(-1e300)), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(jsonToUint32(json(-1.5)), 0u);
    EXPECT_EQ(jsonToUint32(json(-1)), 4294967295u);
    EXPECT_EQ(jsonToInt64(json(std::numeric_limits<double>::quiet_NaN())), 0);
    EXPECT_EQ(jsonToUint64(json(std::numeric_limits<double>::infinity())),
              std::numeric_limits<std::uint64_t>::max());
}

TEST(JsonCopyRules, Copies) {
    const json src = {{"w", 5}, {"a", nullptr}, {"b", 3}};
    json dst;
    EXPECT_FALSE(jcpy(dst, "x", json::array(), "w"));
    EXPECT_TRUE(dst.is_null());
    EXPECT_FALSE(jcpy(dst, "x", src, "missing"));
    EXPECT_TRUE(jcpy(dst, "x", src, "w", condPositiveSigned, xfDoubled));
    EXPECT_EQ(dst, json({{"x", 10.0}}));
    EXPECT_FALSE(jcpy(dst, "y", json({{"w", 0}}), "w", condNonZeroUnsigned));

    jcpyarray(dst, "size", src, {"w", "h", ""}, json(1), condAlways, xfCopy);
    EXPECT_EQ(dst["size"], json({5, 1, 1}));
    jcpyarray(dst, "plain", src, {"b", "h", "w"});
    EXPECT_EQ(dst["plain"], json({3, 5}));

    EXPECT_TRUE(jgetnotnull(src, {"a", "b"}).is_null());
    EXPECT_EQ(jgetnotnull(src, {"h", "b"}), json(3));
    EXPECT_TRUE(jgetnotnull(json(5), {"b"}).is_null());
}

TEST(RecordNames, TablesBothWays) {
    using namespace Zan::detail;
    EXPECT_EQ(convertCompressionType(1), "lossless");
    EXPECT_EQ(convertCompressionType(7), "none");
    EXPECT_EQ(compressionTypeFromName("lossy"), 2);
    EXPECT_EQ(compressionTypeFromName("LOSSLESS"), 0);
    EXPECT_EQ(pixelDataFormatFromName("float"), 1);
    EXPECT_EQ(pixelDataFormatFromName(""), 0);
    EXPECT_EQ(axisInterpretationFromName("time"), 1);
    EXPECT_EQ(experimentLoopTypeFromName("NETimeLoop"), 3);
    EXPECT_EQ(experimentLoopTypeFromName("ZStackLoopAccurate"), 0);
    EXPECT_EQ(convertExperimentLoopType(0), "unknown");
    EXPECT_EQ(convertColorRGB(255), "#ff0000");
    EXPECT_EQ(convertColorRGB(16711680), "#0000ff");
    EXPECT_EQ(convertColorRGB(86 | 52 << 8 | 18 << 16), "#563412");
    EXPECT_EQ(convertColorRGB(0xFF000000u), "#000000");
}

} // namespace
