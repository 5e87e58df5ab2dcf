// The JSON form of variant trees and binary variants, both ways.

#include "../legacy/LiteVariantTestSupport.h"
#include "MetadataTestSupport.h"
#include "support/Expect.h"
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

// What the legacy forms cannot hold is refused, with the key's path in the message, rather than stored
// cut short: a NUL ends a string or a name there, and the binary form keeps 255 UTF-16 units of a name.
// A name that fits is stored exactly, so keys that agree in their first 254 units stay apart.
TEST(RawMetadataToLegacy, WhatTheFormsCannotHoldIsRefusedByKey) {
    const std::string n254(254, 'n');
    const json fits = {{n254 + "a_i32", 1}, // 255 units: the whole of nameLen, no 0 unit
                       {n254 + "b_i32", 2}, // equal to the first in its first 254 units
                       {n254 + "_i32", 3},  // the 254 units themselves
                       {"s_str", "a"},
                       {std::string(127, 'p') + "\U0001F52C" + std::string(126, 'q') + "_str", "pair"}};
    const json back = fromBytes(ZanTest::liteVariantBytes(fits, "R"));
    EXPECT_EQ(back, (json{{"R_dic", fits}}));

    struct Case {
        const char* what;
        json part;
        std::string binaryMessage;
        std::string treeMessage; // empty: the tree stores it
    };
    const std::string nul("a\0b", 3);
    const Case cases[] = {
        {"a string with a NUL",
         {{"L_dic", {{"s_str", nul}}}},
         "makeCVkLiteVariantWFromJson: \"R/L_dic/s_str\" holds a string with a NUL character, which cannot "
         "be stored",
         "makeCVkVariantFromJson: \"R/L_dic/s_str\" holds a string with a NUL character, which cannot be "
         "stored"},
        {"a name with a NUL",
         {{nul + "_i32", 1}},
         "makeCVkLiteVariantWFromJson: \"R/a", // the rest of the key follows the NUL
         "makeCVkVariantFromJson: \"R/a"},
        {"a name of 256 units",
         {{std::string(256, 'n') + "_i32", 1}},
         "makeCVkLiteVariantWFromJson: \"R/" + std::string(256, 'n') +
             "_i32\" has a name of 256 UTF-16 units; at most 255 can be stored",
         ""},
        {"a level name of 300 units",
         {{std::string(300, 'l') + "_dic", {{"x_i32", 1}}}},
         "has a name of 300 UTF-16 units; at most 255 can be stored",
         ""},
        {"255 units and a pair: 257 units",
         {{std::string(255, 'n') + "\U0001F52C_i32", 1}},
         "has a name of 257 UTF-16 units",
         ""},
    };
    const auto message = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return {};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const json wrapper = {{"R", c.part}};
        CVkLiteVariantW writer;
        const std::string binary = message([&] { makeCVkLiteVariantWFromJson(writer, wrapper); });
        EXPECT_NE(binary.find(c.binaryMessage), std::string::npos) << binary;
        CVkVariant tree;
        tree.EnableTypeChange(true);
        const std::string fromTree = message([&] { makeCVkVariantFromJson(tree, wrapper); });
        if (!c.treeMessage.empty()) {
            EXPECT_NE(fromTree.find(c.treeMessage), std::string::npos) << fromTree;
        } else {
            EXPECT_EQ(fromTree, "");
        }
        // As a part of a document, refused before its block is written.
        CVkLiteVariantR a, e, m, t;
        EXPECT_THROW(writeRawMetadataToLiteVariants(
                         {{"Attributes_dic", {{"x_i32", 1}}}, {"TextInfo_dic", c.part}}, a, e, m, t),
                     std::runtime_error);
        EXPECT_EQ(t.GetSize(), 0u);
    }
}

// A writer step that fails is refused too: a binary block holds one level at its top.
TEST(RawMetadataToLegacy, ASecondTopLevelIsRefused) {
    CVkLiteVariantW writer;
    try {
        makeCVkLiteVariantWFromJson(writer, {{"A", {{"x_i32", 1}}}, {"B", {{"y_i32", 2}}}});
        ADD_FAILURE() << "a second top-level level was written";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "makeCVkLiteVariantWFromJson: \"B\" could not be written: the binary form holds "
                     "a single level at its top");
    }
}

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
}

// A level's count decides where the level ends and its next sibling starts. One that disagrees with the
// items the level holds is refused, with the block, rather than read with items lost and reported as read.
TEST(RawMetadataBinary, LevelsWhoseCountDisagreesWithTheirItemsAreRefused) {
    // R { a { x_i32 1 }, b_i32 2 }: the nested level comes first.
    const Zan::ByteVector sound = ZanTest::liteVariantBytes({{"a_dic", {{"x_i32", 1}}}, {"b_i32", 2}}, "R");
    const lite_test::Bytes base(sound.begin(), sound.end());
    namespace lv = ZanLegacy::LiteVariant;
    lv::ItemView root, inner;
    ASSERT_TRUE(lv::ParseItem(base.data(), 0, base.size(), root));
    ASSERT_TRUE(lv::ParseItem(base.data(), root.children, root.index, inner));
    ASSERT_EQ(inner.type, lv::kLevel);
    EXPECT_EQ(fromBytes(sound), (json{{"R_dic", {{"a_dic", {{"x_i32", 1}}}, {"b_i32", 2}}}}));

    const struct {
        const char* what;
        std::size_t countAt;
        std::uint32_t count;
        std::size_t grow; // zero bytes appended, so that the larger index still fits the buffer
    } cases[] = {
        {"nested count too small", inner.value, 0, 0},
        {"nested count too large", inner.value, 2, 0},
        {"root count too small", root.value, 1, 0},
        {"root count too large", root.value, 3, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lite_test::Bytes damaged = base;
        lite_test::put32(damaged, c.countAt, c.count);
        damaged.resize(damaged.size() + c.grow);
        const Zan::ByteVector block(damaged.begin(), damaged.end());
        EXPECT_TRUE(jsonFromLiteVariant(block).is_null());
        CVkLiteVariantR reader;
        lite_test::load(reader, damaged);
        json out = {{"kept", 1}};
        EXPECT_THROW(makeJsonFromCVkLiteVariantR(out, reader), std::runtime_error);
        EXPECT_EQ(out, (json{{"kept", 1}}));
        // The reader is left at the top, on the root again.
        EXPECT_EQ(reader.GetCurrentType(), lv::kLevel);
        EXPECT_EQ(reader.GetCurrentName().GetString(), std::wstring(L"R"));
        // As the attributes part, the block gives no document at all.
        ZAN_EXPECT_THROW_MSG(readRawMetadataFromLiteVariants(block, {}, {}, {}), std::runtime_error,
                             "Cannot parse image attributes");
    }
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
