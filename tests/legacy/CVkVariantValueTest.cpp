#include "VariantTestSupport.h"
#include <support/DecimalCommaLocale.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace ZanLegacy;
using varianttest::Bytes;
using varianttest::Diag;
using varianttest::List;
using varianttest::RunTypeOf;
using varianttest::U8;

namespace {

struct KindCase {
    const char* label;
    std::function<CVkVariant()> make;
    const char* runType;
    int writeResult;
    const char* text; // the Write text, when writeResult is 1
};

const std::vector<KindCase>& kindCases() {
    static const std::vector<KindCase> cases = {
        {"int32", [] { return CVkVariant(-7, L"v"); }, "vk_int32", 1, "-7"},
        {"uint32", [] { return CVkVariant(4000000000u, L"v"); }, "vk_uint32", 1, "4000000000"},
        {"int64", [] { return CVkVariant(-1099511627776L, L"v"); }, "vk_int64", 1, "-1099511627776"},
        {"uint64", [] { return CVkVariant(18446744073709551615UL, L"v"); }, "vk_uint64", 1,
         "18446744073709551615"},
        {"double", [] { return CVkVariant(0.1, L"v"); }, "double", 1, "0.100000000000000"},
        {"negative_double", [] { return CVkVariant(-2.5, L"v"); }, "double", 1, "-2.500000000000000"},
        {"bool", [] { return CVkVariant(true, L"v"); }, "bool", 1, "true"},
        {"voidPtr", [] { return CVkVariant(reinterpret_cast<void*>(0x1234), L"v"); }, "voidPtr", 1, "0x1234"},
        {"string", [] { return CVkVariant(L"a b\u00e9", L"v"); }, "CVkStringW", 1, "a b\xC3\xA9"},
        {"narrow_string", [] { return CVkVariant("caf\xC3\xA9", L"v"); }, "CVkStringW", 1, "caf\xC3\xA9"},
        {"bytes",
         [] {
             return CVkVariant(Bytes({1, 2, 3}), L"v");
         },
         "CVkByteArray", 1, "AQID"},
        {"empty_bytes", [] { return CVkVariant(CVkByteArray(), L"v"); }, "CVkByteArray", 0, ""},
        {"list",
         [] {
             return CVkVariant(
                 List(L"l", {CVkVariant(1, L"i"), CVkVariant(L"a b", L"s")}).GetCVkListVariant(), L"v");
         },
         "CVkListVariant", 1, "1 a b"},
        {"nested_list",
         [] {
             return List(L"v", {CVkVariant(1, L"a"), List(L"e", {}),
                                List(L"n", {CVkVariant(2, L"b"), CVkVariant(3, L"c")}), CVkVariant(),
                                CVkVariant(4, L"d")});
         },
         "CVkListVariant", 1, "1  2 3  4"},
        {"no_value", [] { return CVkVariant(); }, "unknown", 0, ""},
    };
    return cases;
}

} // namespace

// Construction, text written, text read back into a node of the same run type, copying and comparison.
TEST(CVkVariantValues, EveryKindWritesReadsCopiesAndCompares) {
    for (const KindCase& c : kindCases()) {
        SCOPED_TRACE(c.label);
        const std::string printed = Diag([&] {
            const CVkVariant v = c.make();
            EXPECT_EQ(RunTypeOf(v), c.runType);
            CVkStringW text(L"untouched");
            EXPECT_EQ(v.Write(text), c.writeResult);
            EXPECT_EQ(U8(text), c.writeResult ? c.text : "untouched");

            const CVkVariant copy(v);
            EXPECT_TRUE(copy == v);
            EXPECT_FALSE(copy != v);
            EXPECT_EQ(RunTypeOf(copy), c.runType);

            if (c.writeResult == 1 && !v.GetData()->IsArray()) {
                CVkVariant back(v.GetRunType(), L"back");
                EXPECT_EQ(RunTypeOf(back), c.runType);
                EXPECT_EQ(back.Read(text), 1);
                EXPECT_TRUE(back == v);
                // Another kind is never equal, whatever the value.
                EXPECT_FALSE(v == CVkVariant(CVkListVariant(), L"l"));
            }
        });
        EXPECT_EQ(printed, "");
    }
}

TEST(CVkVariantValues, ReadKeepsOrResetsAsEachKindDoes) {
    CVkVariant i(7, L"i");
    EXPECT_EQ(i.Read(L"abc"), 1);
    EXPECT_EQ(i.GetVk_int32(), 7);
    EXPECT_EQ(i.Read(L"  12xyz"), 1);
    EXPECT_EQ(i.GetVk_int32(), 12);
    CVkVariant d(7.0, L"d");
    d.Read(L"abc");
    EXPECT_EQ(d.GetDouble(), 0.0);
    d.Read(L"1e3");
    EXPECT_EQ(d.GetDouble(), 1000.0);
    CVkVariant b(true, L"b");
    b.Read(L"TRUE");
    EXPECT_FALSE(b.GetBool());
    b.Read(L"true");
    EXPECT_TRUE(b.GetBool());
    CVkVariant bytes(Bytes({9, 9, 9, 9}), L"a");
    bytes.Read(L"");
    EXPECT_EQ(bytes.GetCVkByteArray().GetSize(), 4u);
    bytes.Read(L"AQI=");
    EXPECT_TRUE(bytes == Bytes({1, 2}));
    CVkVariant list(CVkListVariant(), L"l");
    EXPECT_EQ(list.Read(L"1"), 0);
    EXPECT_EQ(CVkVariant().Read(L"1"), 0);
}

TEST(CVkVariantValues, NumberTextIgnoresTheProcessLocale) {
    ZanTest::DecimalCommaLocale locale;
    if (!locale.active())
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    CVkStringW text;
    CVkVariant(0.5, L"d").Write(text);
    CVkVariant d(0.0, L"d");
    d.Read(L"2.25");
    const double fromString = CVkVariant(L"1.5", L"s").GetDouble();
    locale.restore();
    EXPECT_EQ(U8(text), "0.500000000000000");
    EXPECT_EQ(d.GetDouble(), 2.25);
    EXPECT_EQ(fromString, 1.5);
}

TEST(CVkVariantValues, AlmostEqualIsRelativeAndHandlesInfinities) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(AlmostEqual(1.0, 1.0 + 2.220446049250313e-16, 3));
    EXPECT_TRUE(AlmostEqual(0.0, 1e-310, 3));
    EXPECT_FALSE(AlmostEqual(1.0, 1.001, 3));
    EXPECT_TRUE(AlmostEqual(1e300, 1e300 * (1 + 4e-16), 3));
    EXPECT_TRUE(AlmostEqual(inf, inf, 3));
    EXPECT_FALSE(AlmostEqual(inf, -inf, 3));
    EXPECT_FALSE(AlmostEqual(nan, nan, 3));
    EXPECT_FALSE(AlmostEqual(nan, 1.0, 3));
    EXPECT_TRUE(CVkVariant(inf, L"a") == CVkVariant(inf, L"b"));
    EXPECT_TRUE(CVkVariant(0.3, L"a") == 0.1 + 0.2);
}

TEST(CVkVariantValues, DataRunTypesAndCopiesBetweenKinds) {
    CVkVariantDataVk_int32 i(3);
    EXPECT_EQ(Diag([&] { EXPECT_EQ(i.SetRunType(CVkVariantDataVk_int32::GetClassRunType()), -9); }), "");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(i.SetRunType("double"), -9); }),
              "Error: CVkVariantData::SetRunType(), can't set runtype!");
    EXPECT_STREQ(CVkVariantRunType().GetName().GetString(), "unknown");
    EXPECT_TRUE(CVkVariantRunType("a") < CVkVariantRunType("b"));
    EXPECT_TRUE(CVkVariantRunType("B") < CVkVariantRunType("a"));

    struct CopyCase {
        std::function<CVkVariantData*()> make;
        const char* message;
    };
    const std::vector<CopyCase> cases = {
        {[] { return new CVkVariantDataVk_int32(1); },
         "Error: CVkVariantDataVk_int32::GetValueCopy(), incompatible types!"},
        {[] { return new CVkVariantDataVk_uint32(1); },
         "Error: CVkVariantDataVk_uint32::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataVk_int64(1); },
         "Error: CVkVariantDataVk_int64::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataVk_uint64(1); },
         "Error: CVkVariantDataVk_uint64::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataDouble(1); },
         "Error: CVkVariantDataDouble::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataBool(true); },
         "Error: CVkVariantDataBool::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataVoidPtr(nullptr); },
         "Error: CVkVariantVoidPtr::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataCVkStringW(CVkStringW(L"s")); },
         "Error: CVkVariantCVkStringW::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataCVkByteArray(Bytes({1})); },
         "Error: CVkVariantCVkByteAray::GetValueCopy, incompatible types!"},
        {[] { return new CVkVariantDataCVkListVariant(); },
         "Error: CVkVariantDataCVkListVariant::GetValueCopy, can't get to this type of data!"},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.message);
        std::unique_ptr<CVkVariantData> source(c.make());
        std::unique_ptr<CVkVariantData> same(source->Clone());
        source->GetValueCopy(*same);
        EXPECT_TRUE(same->Eq(*source));
        // Into another kind: the message, and the target keeps its value.
        const bool list = source->IsArray();
        std::unique_ptr<CVkVariantData> other(list
                                                  ? static_cast<CVkVariantData*>(new CVkVariantDataBool(true))
                                                  : new CVkVariantDataCVkListVariant());
        EXPECT_EQ(Diag([&] { source->GetValueCopy(*other); }), c.message);
        if (list) {
            EXPECT_TRUE(static_cast<CVkVariantDataBool&>(*other).GetValue());
        }
    }

    // Lists of different run types are different kinds too: a plain list does not copy into a record.
    CVkVariant point(CVkVariantRunType("RVkIPoint"), L"p");
    CVkVariant plain = List(L"l", {CVkVariant(7, L"x")});
    EXPECT_EQ(Diag([&] { plain.GetData()->GetValueCopy(*point.GetData()); }),
              "Error: CVkVariantDataCVkListVariant::GetValueCopy, can't get to this type of data!");
    EXPECT_EQ(point.GetCount(), 2);
    EXPECT_EQ(point[L"x"].GetVk_int32(), 0);
    EXPECT_EQ(RunTypeOf(point), "RVkIPoint");
}

TEST(CVkVariantValues, ListsCompareByMemberNameOrByPositionForNoName) {
    const CVkVariant ab = List(L"x", {CVkVariant(1, L"a"), CVkVariant(2, L"b")});
    const CVkVariant ba = List(L"y", {CVkVariant(2, L"b"), CVkVariant(1, L"a")});
    EXPECT_TRUE(ab == ba);
    const CVkVariant p12 = List(L"x", {CVkVariant(1, L""), CVkVariant(2, L"")});
    const CVkVariant p21 = List(L"x", {CVkVariant(2, L""), CVkVariant(1, L"")});
    EXPECT_EQ(U8(p12[0].GetName()), "no_name");
    EXPECT_FALSE(p12 == p21);
    EXPECT_TRUE(p12 == CVkVariant(p12));
    EXPECT_FALSE(ab == List(L"x", {CVkVariant(1, L"a"), CVkVariant(2, L"c")}));
    EXPECT_FALSE(ab == List(L"x", {CVkVariant(1, L"a")}));
    CVkVariant typed(ab);
    typed.GetData()->SetRunType("Other");
    EXPECT_FALSE(typed == ab);
    // Nested members are compared too.
    EXPECT_FALSE(List(L"r", {ab}) == List(L"r", {List(L"x", {CVkVariant(1, L"a"), CVkVariant(3, L"b")})}));
    CVkVariant baAsX(ba);
    baAsX.SetName(L"x");
    EXPECT_TRUE(List(L"r", {ab, CVkVariant()}) == List(L"r", {baAsX, CVkVariant()}));
    EXPECT_FALSE(List(L"r", {ab, CVkVariant()}) == List(L"r", {ba, CVkVariant()}));
}
