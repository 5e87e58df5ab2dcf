#include "VariantTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

using namespace ZanLegacy;
using varianttest::Bytes;
using varianttest::Diag;
using varianttest::List;
using varianttest::U8;

namespace {

constexpr unsigned kU32Max = 0xFFFFFFFFu;
constexpr unsigned long kU64Max = 0xFFFFFFFFFFFFFFFFul;
constexpr long kI64Max = LONG_MAX;

struct GetterRow {
    const char* label;
    std::function<CVkVariant()> make;
    int i32;
    unsigned u32;
    long i64;
    unsigned long u64;
    double dbl; // NaN: expect NaN
    bool b;
    std::array<bool, 6> ok; // int32, uint32, int64, uint64, double, bool
    const char* messages;
};

const char* kAllFail = "Can't convert to vk_int32!Can't convert to vk_uint32!Can't convert to vk_int64!"
                       "Can't convert to vk_uint64!Can't convert to double!Can't convert to bool!";
constexpr std::array<bool, 6> kOk = {true, true, true, true, true, true};
constexpr std::array<bool, 6> kNone = {false, false, false, false, false, false};

const std::vector<GetterRow>& rows() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    static const std::vector<GetterRow> table = {
        {"int32_minus_one", [] { return CVkVariant(-1, L"v"); }, -1, kU32Max, -1, kU64Max, -1.0, true, kOk,
         ""},
        {"uint32_max", [] { return CVkVariant(kU32Max, L"v"); }, -1, kU32Max, 4294967295L, 4294967295UL,
         4294967295.0, true, kOk, ""},
        {"int64_low_bits", [] { return CVkVariant(4294967301L, L"v"); }, 5, 5u, 4294967301L, 4294967301UL,
         4294967301.0, true, kOk, ""},
        {"uint64_max", [] { return CVkVariant(kU64Max, L"v"); }, -1, kU32Max, -1, kU64Max,
         18446744073709551615.0, true, kOk, ""},
        {"double_truncates", [] { return CVkVariant(-2.7, L"v"); }, -2, 0xFFFFFFFEu, -2, kU64Max - 1, -2.7,
         true, kOk, ""},
        {"double_saturates", [] { return CVkVariant(1e30, L"v"); }, INT_MAX, kU32Max, kI64Max, kU64Max, 1e30,
         true, kOk, ""},
        {"double_negative_saturates", [] { return CVkVariant(-1e30, L"v"); }, INT_MIN, 0u, LONG_MIN,
         static_cast<unsigned long>(LONG_MIN), -1e30, true, kOk, ""},
        {"double_above_2p63", [] { return CVkVariant(1e19, L"v"); }, INT_MAX, kU32Max, kI64Max,
         10000000000000000000UL, 1e19, true, kOk, ""},
        {"double_nan", [] { return CVkVariant(std::numeric_limits<double>::quiet_NaN(), L"v"); }, 0, 0u, 0,
         0UL, nan, true, kOk, ""},
        {"bool", [] { return CVkVariant(true, L"v"); }, 1, 1u, 1, 1UL, 1.0, true, kOk, ""},
        {"voidPtr",
         [] { return CVkVariant(reinterpret_cast<void*>(0x100000002), L"v"); },
         2,
         2u,
         0x100000002L,
         0x100000002UL,
         0.0,
         true,
         {true, true, true, true, false, true},
         "Can't convert to double!"},
        {"string_number", [] { return CVkVariant(L"42", L"v"); }, 42, 42u, 42, 42UL, 42.0, false, kOk, ""},
        {"string_not_a_number", [] { return CVkVariant(L"x", L"v"); }, 0, 0u, 0, 0UL, 0.0, false, kOk, ""},
        {"string_true", [] { return CVkVariant(L"true", L"v"); }, 0, 0u, 0, 0UL, 0.0, true, kOk, ""},
        {"string_True", [] { return CVkVariant(L"True", L"v"); }, 0, 0u, 0, 0UL, 0.0, false, kOk, ""},
        {"bytes_3",
         [] {
             return CVkVariant(Bytes({1, 2, 3}), L"v");
         },
         -1,
         0u,
         -1,
         0UL,
         0.0,
         true,
         {false, false, false, false, false, true},
         ""},
        {"bytes_8",
         [] {
             return CVkVariant(Bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x3F}), L"v");
         },
         0, 0u, 0x3FF8000000000000L, 0x3FF8000000000000UL, 1.5, false, kOk, ""},
        {"bytes_empty", [] { return CVkVariant(CVkByteArray(), L"v"); }, -1, 0u, -1, 0UL, 0.0, false, kNone,
         ""},
        {"list", [] { return List(L"v", {CVkVariant(1, L"a")}); }, -1, 0u, -1, 0UL, 0.0, false, kNone,
         kAllFail},
        {"no_value", [] { return CVkVariant(); }, -1, 0u, -1, 0UL, 0.0, false, kNone, kAllFail},
    };
    return table;
}

} // namespace

TEST(CVkVariantGetters, ConversionMatrix) {
    for (const GetterRow& r : rows()) {
        SCOPED_TRACE(r.label);
        const CVkVariant v = r.make();
        std::array<bool, 6> ok{};
        int i32 = 0;
        unsigned u32 = 0;
        long i64 = 0;
        unsigned long u64 = 0;
        double dbl = 0;
        bool b = false;
        const std::string printed = Diag([&] {
            i32 = v.GetVk_int32(&ok[0]);
            u32 = v.GetVk_uint32(&ok[1]);
            i64 = v.GetVk_int64(&ok[2]);
            u64 = v.GetVk_uint64(&ok[3]);
            dbl = v.GetDouble(&ok[4]);
            b = v.GetBool(&ok[5]);
        });
        EXPECT_EQ(i32, r.i32);
        EXPECT_EQ(u32, r.u32);
        EXPECT_EQ(i64, r.i64);
        EXPECT_EQ(u64, r.u64);
        if (std::isnan(r.dbl))
            EXPECT_TRUE(std::isnan(dbl));
        else
            EXPECT_EQ(dbl, r.dbl);
        EXPECT_EQ(b, r.b);
        EXPECT_EQ(ok, r.ok);
        EXPECT_EQ(printed, r.messages);
        // The comparisons follow the getters.
        Diag([&] {
            EXPECT_EQ(v == r.i32, r.ok[0]);
            EXPECT_EQ(v != r.i32, !r.ok[0]);
            EXPECT_EQ(v == r.u64, r.ok[3]);
            EXPECT_EQ(v == r.b, r.ok[5]);
        });
    }
}

TEST(CVkVariantGetters, PointersStringsAndByteArrays) {
    int x = 0;
    bool ok = false;
    EXPECT_EQ(CVkVariant(static_cast<void*>(&x), L"p").GetVoidPtr(&ok), &x);
    EXPECT_TRUE(ok);
    const CVkVariant bytes(Bytes({7, 8}), L"b");
    EXPECT_EQ(bytes.GetVoidPtr(&ok), bytes.GetCVkByteArray().GetData() ? bytes.GetVoidPtr() : nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(bytes.GetVoidPtr())[1], 8);
    EXPECT_EQ(Diag([&] { EXPECT_EQ(CVkVariant(1, L"i").GetVoidPtr(&ok), nullptr); }),
              "Can't convert to void*!");
    EXPECT_FALSE(ok);

    EXPECT_EQ(U8(CVkVariant(12, L"i").GetCVkStringW(&ok)), "12");
    EXPECT_TRUE(ok);
    EXPECT_EQ(U8(CVkVariant().GetCVkStringW(&ok)), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(U8(CVkVariant(CVkByteArray(), L"b").GetCVkStringW(&ok)), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(U8(List(L"l", {CVkVariant(1, L"a"), CVkVariant(L"z", L"b")}).GetCVkStringW(&ok)), "1 z");
    EXPECT_TRUE(ok);

    EXPECT_TRUE(bytes.GetCVkByteArray(&ok) == Bytes({7, 8}));
    EXPECT_TRUE(ok);
    const CVkByteArray fromInt = CVkVariant(0x01020304, L"i").GetCVkByteArray(&ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(fromInt == Bytes({4, 3, 2, 1}));
    EXPECT_EQ(Diag([&] { EXPECT_EQ(CVkVariant(1u, L"u").GetCVkByteArray(&ok).GetSize(), 0u); }),
              "Can't convert to CVkByteArray!");
    EXPECT_FALSE(ok);
}

TEST(CVkVariantGetters, ComparisonsWithPlainValues) {
    const CVkVariant s(L"5x", L"s");
    EXPECT_TRUE(s == 5);
    EXPECT_TRUE(s == L"5x");
    EXPECT_TRUE(s == "5x");
    EXPECT_TRUE(s != L"5");
    EXPECT_TRUE(s == CVkStringW(L"5x"));
    const CVkVariant list = List(L"l", {CVkVariant(1, L"a"), CVkVariant(2, L"b")});
    EXPECT_EQ(Diag([&] { EXPECT_TRUE(list != 5); }), "Can't convert to vk_int32!");
    EXPECT_TRUE(CVkVariant(0.3, L"d") == 0.1 + 0.2);
    EXPECT_TRUE(CVkVariant(0.3, L"d") != 0.31);
    EXPECT_TRUE(CVkVariant(7, L"i") == 7.0);
    EXPECT_TRUE(CVkVariant(3000000000u, L"u") == 3000000000u);
    EXPECT_TRUE(CVkVariant(-5L, L"l") == -5L);
    EXPECT_TRUE(CVkVariant(Bytes({1, 2}), L"b") == Bytes({1, 2}));
    EXPECT_TRUE(CVkVariant(Bytes({1, 2}), L"b") != Bytes({1, 3}));

    // Lists compare with a plain list of members, by name.
    const CVkVariant ba = List(L"x", {CVkVariant(2, L"b"), CVkVariant(1, L"a")});
    EXPECT_TRUE(list == ba.GetCVkListVariant());
    CVkVariant record(list);
    record.GetData()->SetRunType("Rec");
    EXPECT_TRUE(record != ba.GetCVkListVariant());
    EXPECT_EQ(Diag([&] { EXPECT_FALSE(CVkVariant(1, L"i") == ba.GetCVkListVariant()); }),
              "Error: invalid variant type for array operation.");
}
