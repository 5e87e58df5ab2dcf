// The JSON form of variant trees and binary variants, both ways.

#include "../legacy/LiteVariantTestSupport.h"
#include "MetadataTestSupport.h"
#include "support/RawMetadataFixtures.h"

#include <metadata/JsonBridge.h>

#include <legacy/CVkVariant.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Zan::JsonMetadata;
using metadata_test::jsonErrorId;
using ZanLegacy::CVkByteArray;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;
using ZanLegacy::CVkStringW;
using ZanLegacy::CVkVariant;

namespace {

CVkVariant list(const wchar_t* name, std::initializer_list<CVkVariant> members) {
    return CVkVariant::CreateStruct(name, members);
}

json fromTree(const CVkVariant& root) {
    json out;
    makeJsonFromCVkVariant(out, root);
    return out;
}

json fromBytes(const Zan::ByteVector& bytes) {
    CVkLiteVariantR reader;
    lite_test::load(reader, lite_test::Bytes(bytes.begin(), bytes.end()));
    json out;
    makeJsonFromCVkLiteVariantR(out, reader);
    return out;
}

json fromWriter(const std::function<void(CVkLiteVariantW&)>& fill) {
    const lite_test::Bytes b = lite_test::written(fill);
    return fromBytes(Zan::ByteVector(b.begin(), b.end()));
}

// A chain of n objects, each the only member of the one before.
json nested(int n) {
    json inner = {{"v_i32", 1}};
    for (int i = 1; i < n; ++i)
        inner = json{{"l_dic", inner}};
    return inner;
}

TEST(RawMetadataFromTree, KeysByNameSuffixAndPosition) {
    CVkVariant unnamed = list(L"", {CVkVariant(1.5, L"c")});
    unnamed.SetName(L""); // stored as "no_name"
    CVkVariant none;
    none.SetName(L"gone");
    const CVkVariant root =
        list(L"root",
             {CVkVariant(5, L"a"), CVkVariant(L"x", L"b"), unnamed, none,
              CVkVariant(static_cast<void*>(&none), L"pointer"), list(L"emptyList", {}),
              CVkVariant(CVkByteArray(), L"noBytes"), CVkVariant(7, L"a"), CVkVariant(true, L"t"),
              CVkVariant(4000000000u, L"u"), CVkVariant(-5L, L"l"), CVkVariant(~0UL, L"ul"),
              CVkVariant(L"gr\u00fc\u00df \U0001F600", L"s"),
              CVkVariant(CVkByteArray("\x01\x02\x03", 3, 16), L"bytes"), list(L"", {CVkVariant(2, L"")})});
    const json expected = {{"root_dic",
                            {{"a_i32", 7}, // the later member of the same key wins
                             {"b_str", "x"},
                             {"i0000000002_dic", {{"c_dbl", 1.5}}},
                             {"noBytes_bar", nullptr},
                             {"t_bol", true},
                             {"u_u32", 4000000000u},
                             {"l_i64", -5},
                             {"ul_u64", ~0ULL},
                             {"s_str", "gr\u00fc\u00df \U0001F600"},
                             {"bytes_bar", "AQID"},
                             {"i0000000014_dic", {{"i0000000000_i32", 2}}}}}};
    EXPECT_EQ(fromTree(root), expected);
    EXPECT_TRUE(fromTree(root)["root_dic"]["u_u32"].is_number_unsigned());
    EXPECT_TRUE(fromTree(root)["root_dic"]["a_i32"].is_number_integer());
}

TEST(RawMetadataFromTree, Roots) {
    json out = {{"kept", 1}};
    makeJsonFromCVkVariant(out, CVkVariant());       // no value
    makeJsonFromCVkVariant(out, CVkVariant(3, L"")); // "no_name" is a name for the root
    EXPECT_EQ(out, (json{{"kept", 1}, {"no_name_i32", 3}}));
    EXPECT_EQ(fromTree(list(L"empty", {})), (json{{"empty_", nullptr}}));
    EXPECT_EQ(fromTree(CVkVariant(2.5, L"d")), (json{{"d_dbl", 2.5}}));
}

TEST(RawMetadataFromTree, TreesTooDeepForTheStackAreRefused) {
    CVkVariant deep = list(L"l", {});
    CVkVariant* inner = &deep;
    for (int i = 0; i < CVkVariant::kMaxNestingDepth; ++i)
        inner = &inner->Append(list(L"l", {}));
    inner->Append(CVkVariant(1, L"v"));
    json out;
    EXPECT_THROW(makeJsonFromCVkVariant(out, deep), std::runtime_error);
    EXPECT_TRUE(out.is_null());
}

TEST(RawMetadataToTree, MembersBySuffix) {
    CVkVariant out;
    out.EnableTypeChange(true);
    makeCVkVariantFromJson(out, {{"b_bol", true},
                                 {"u_u32", -1},
                                 {"i_i32", true},
                                 {"l_i64", 2.9},
                                 {"ul_u64", 5},
                                 {"d_dbl", 3},
                                 {"s_str", "\u00e9t\u00e9"},
                                 {"bytes_bar", "AQID"},
                                 {"x_dbl", 1.5},
                                 {"x_i32", 2}, // the same name: the later key replaces the member
                                 {"skipped_abc", 1},
                                 {"nothing_dic", 1},
                                 {"Struct", {{"c_dbl", 0.5}}}});
    EXPECT_EQ(out.GetCount(), 10);
    EXPECT_EQ(out[L"b"].GetBool(), true);
    EXPECT_EQ(out[L"u"].GetVk_uint32(), 4294967295u);
    EXPECT_EQ(out[L"i"].GetVk_int32(), 1);
    EXPECT_EQ(out[L"l"].GetVk_int64(), 2);
    EXPECT_EQ(out[L"ul"].GetVk_uint64(), 5u);
    EXPECT_EQ(out[L"d"].GetDouble(), 3.0);
    EXPECT_EQ(out[L"s"].GetCVkStringW().GetUtf8(), "\u00e9t\u00e9");
    EXPECT_EQ(out[L"bytes"].GetCVkByteArray(), CVkByteArray("\x01\x02\x03", 3, 16));
    EXPECT_EQ(out[L"x"].GetRunType(), ZanLegacy::CVkVariantRunType("vk_int32"));
    EXPECT_EQ(out[L"x"].GetVk_int32(), 2);
    EXPECT_EQ(out[L"Struct"][L"c"].GetDouble(), 0.5);
    EXPECT_EQ(out.IndexOf(L"skipped"), -9);
}

TEST(RawMetadataToLegacy, ErrorsOfTheJsonLibraryPassOn) {
    struct Case {
        json in;
        int id;
    };
    const Case cases[] = {{{{"x_bol", 1}}, 302},
                          {{{"x_u32", "1"}}, 302},
                          {{{"x_str", 1}}, 302},
                          {{{"x_dbl", true}}, 302},
                          {{{"x_i64", false}}, 302},
                          {{{"x_bar", 5}}, 302},
                          {json::array({1, 2}), 207},
                          {"text", 207},
                          {{{"a_dic", json::array({1})}}, 207}};
    for (const Case& c : cases) {
        CVkVariant tree;
        EXPECT_EQ(jsonErrorId([&] { makeCVkVariantFromJson(tree, c.in); }), c.id) << c.in.dump();
        CVkLiteVariantW writer;
        writer.LevelBegin(L"root");
        EXPECT_EQ(jsonErrorId([&] { makeCVkLiteVariantWFromJson(writer, c.in); }), c.id) << c.in.dump();
    }
    CVkVariant untouched;
    makeCVkVariantFromJson(untouched, nullptr);
    EXPECT_EQ(untouched.GetData(), nullptr);
}

// Every suffix through our writer and reader: the values come back with their kinds.
TEST(RawMetadataBinary, RoundTripOfEverySuffix) {
    const json part = {{"b_bol", true},
                       {"f_bol", false},
                       {"i_i32", -7},
                       {"u_u32", 4000000000u},
                       {"m_u32", -1}, // an unsigned value given as -1
                       {"l_i64", -9000000000LL},
                       {"ul_u64", ~0ULL},
                       {"mu_u64", -1},
                       {"d_dbl", -0.25},
                       {"s_str", "\u00c5ngstr\u00f6m \u00b5m \U0001F52C"},
                       {"e_str", ""},
                       {"bytes_bar", "AAEC/w=="},
                       {"a\\b_i32", 3},
                       {"Nested_dic", {{"i0000000000_dic", {{"z_dbl", 1e-300}}}, {"k_u32", 1}}},
                       {"Empty_dic", json::object()},
                       {"noBytes_bar", ""},
                       {"nullBytes_bar", nullptr}};
    json expected = part;
    expected["m_u32"] = 4294967295u;
    expected["mu_u64"] = ~0ULL;
    expected.erase("Empty_dic");
    expected["Empty_"] = nullptr; // an empty level keeps its name without a form
    expected.erase("noBytes_bar");
    expected.erase("nullBytes_bar");
    expected["noBytes_"] = nullptr;
    expected["nullBytes_"] = nullptr;
    const json back = fromBytes(ZanTest::liteVariantBytes(part, "Root"));
    EXPECT_EQ(back, (json{{"Root_dic", expected}}));
    EXPECT_TRUE(back["Root_dic"]["u_u32"].is_number_unsigned());
    EXPECT_TRUE(back["Root_dic"]["i_i32"].is_number_integer());
    EXPECT_TRUE(back["Root_dic"]["d_dbl"].is_number_float());
}

TEST(RawMetadataBinary, ItemsWithoutJsonFormAndUnnamedItems) {
    const json back = fromWriter([](CVkLiteVariantW& w) {
        w.LevelBegin(L"r");
        w.Set(1, nullptr);
        w.Set(reinterpret_cast<void*>(std::uintptr_t(0x1234)), L"p");
        w.Set(2, L"no_name");
        w.Set(3, nullptr);
        w.LevelBegin(nullptr);
        w.Set(4, L"x");
        w.LevelEnd();
    });
    EXPECT_EQ(back, (json{{"r_dic",
                           {{"i0000000000_i32", 1},
                            {"p_", nullptr}, // pointers have no JSON form
                            {"no_name_i32", 2},
                            {"i0000000003_i32", 3},
                            {"i0000000004_dic", {{"x_i32", 4}}}}}}));
}

// A level is read as it stands at the cursor: a name beginning with a backslash is no path, and a
// level whose name an earlier sibling shares is still itself.
TEST(RawMetadataBinary, LevelNamesAreNotPaths) {
    const json back = fromWriter([](CVkLiteVariantW& w) {
        const struct {
            const wchar_t* level;
            const wchar_t* member;
            int value;
        } levels[] = {{L"\\r", L"v", 1}, {L"\\", L"v", 2}, {L"twin", L"first", 3}, {L"twin", L"second", 4}};
        w.LevelBegin(L"r");
        for (const auto& l : levels) {
            w.LevelBegin(l.level);
            w.Set(l.value, l.member);
            w.LevelEnd();
        }
    });
    EXPECT_EQ(
        back,
        (json{
            {"r_dic",
             {{"\\r_dic", {{"v_i32", 1}}}, {"\\_dic", {{"v_i32", 2}}}, {"twin_dic", {{"second_i32", 4}}}}}}));
}

TEST(RawMetadataBinary, OldFormBuffersAreRead) {
    const Zan::ByteVector current =
        ZanTest::liteVariantBytes({{"a_i32", 1}, {"In_dic", {{"b_str", "x"}}}}, "R");
    lite_test::Bytes old(current.begin(), current.end());
    lite_test::toOldForm(old);
    ASSERT_NE(old, lite_test::Bytes(current.begin(), current.end()));
    EXPECT_EQ(fromBytes(Zan::ByteVector(old.begin(), old.end())), fromBytes(current));
}

TEST(RawMetadataBinary, EmptyAndDamagedReaders) {
    json out = {{"kept", 1}};
    makeJsonFromCVkLiteVariantR(out, CVkLiteVariantR());
    EXPECT_EQ(out, (json{{"kept", 1}}));

    const Zan::ByteVector bytes = ZanTest::liteVariantBytes({{"a_i32", 1}, {"b_i32", 2}}, "R");
    // A root cut short is no item at all.
    EXPECT_EQ(fromBytes(Zan::ByteVector(bytes.begin(), bytes.end() - 1)), (json{{"_", nullptr}}));
    // A count that claims one member more than the level holds ends the walk where its items end.
    lite_test::Bytes more(bytes.begin(), bytes.end());
    ZanLegacy::LiteVariant::ItemView root;
    ASSERT_TRUE(ZanLegacy::LiteVariant::ParseItem(more.data(), 0, more.size(), root));
    lite_test::put32(more, root.value, root.count + 1);
    more.resize(more.size() + 8);
    EXPECT_EQ(fromBytes(Zan::ByteVector(more.begin(), more.end())),
              (json{{"R_dic", {{"a_i32", 1}, {"b_i32", 2}, {"i0000000002_", nullptr}}}}));
}

// A reader enters 256 levels; a document nested deeper is refused before anything is written, rather
// than written into bytes that would read back without their inner levels.
TEST(RawMetadataBinary, NestingLimit) {
    const json deepest = nested(256); // with the root: 256 levels
    EXPECT_EQ(fromBytes(ZanTest::liteVariantBytes(deepest, "R")), (json{{"R_dic", deepest}}));

    CVkLiteVariantW writer;
    EXPECT_THROW(makeCVkLiteVariantWFromJson(writer, json{{"R", nested(257)}}), std::runtime_error);
    CVkLiteVariantR reader;
    writer.Finalize(reader, 0);
    EXPECT_EQ(reader.GetSize(), 0u);

    CVkVariant tree;
    EXPECT_THROW(makeCVkVariantFromJson(tree, nested(CVkVariant::kMaxNestingDepth + 2)), std::runtime_error);
    EXPECT_EQ(tree.GetData(), nullptr);
}

TEST(RawMetadataBase64, EncodeAndDecode) {
    EXPECT_TRUE(encodeBase64(nullptr, 3).is_null());
    EXPECT_TRUE(encodeBase64("abc", 0).is_null());
    EXPECT_EQ(encodeBase64("\xff\x00\x10", 3), "/wAQ");
    EXPECT_EQ(encodeBase64("ab", 2), "YWI=");
    const std::string all = [] {
        std::string s;
        for (int i = 0; i < 256; ++i)
            s += static_cast<char>(i);
        return s;
    }();
    const std::vector<unsigned char> back = decodeBase64(encodeBase64(all.data(), all.size()));
    EXPECT_EQ(std::string(back.begin(), back.end()), all);
    EXPECT_TRUE(decodeBase64("").empty());
    EXPECT_EQ(jsonErrorId([] { decodeBase64(nullptr); }), 302);
    EXPECT_EQ(jsonErrorId([] { decodeBase64(json::array()); }), 302);
}

} // namespace
