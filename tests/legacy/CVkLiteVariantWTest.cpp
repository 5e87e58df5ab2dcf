#include "LiteVariantTestSupport.h"
#include <support/LiteVariantWalk.h>

#include <gtest/gtest.h>

#include <string>

using namespace lite_test;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;
namespace lv = ZanLegacy::LiteVariant;

namespace {

// Names of the children of the root level, in index order.
std::vector<std::u16string> indexedNames(const Bytes& b) {
    lv::ItemView root;
    EXPECT_TRUE(lv::ParseItem(b.data(), 0, b.size(), root));
    std::vector<std::u16string> names;
    for (std::uint32_t i = 0; i < root.count; ++i) {
        lv::ItemView child;
        EXPECT_TRUE(lv::ParseItem(b.data(), lv::loadLE64(&b[root.index + 8 * i]), root.index, child));
        names.push_back(lv::NameOf(b.data(), child));
    }
    return names;
}

} // namespace

TEST(CVkLiteVariantW, ExampleDocumentIsByteExactAndTheWriterIsEmptyAfterwards) {
    CVkLiteVariantW w;
    ASSERT_EQ(w.LevelBegin(L"a"), 0);
    ASSERT_EQ(w.Set(5, L"x"), 0);
    CVkLiteVariantR r;
    ASSERT_EQ(w.Finalize(r, 0), 0);
    EXPECT_EQ(bytesOf(r), exampleDocument());

    CVkLiteVariantR again;
    ASSERT_EQ(w.Finalize(again, 0), 0);
    EXPECT_EQ(again.GetData(), nullptr);
    EXPECT_EQ(w.LevelBegin(L"a"), 0); // reusable: the top is empty again
}

TEST(CVkLiteVariantW, EmptyLevelsEndAtTheirIndex) {
    EXPECT_EQ(written([](CVkLiteVariantW& w) { w.LevelBegin(L"ab"); }),
              (Bytes{0x0B, 3, 'a', 0, 'b', 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0}));
    const Bytes unnamed{0x0B, 0, 0, 0, 0, 0, 14, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(written([](CVkLiteVariantW& w) { w.LevelBegin(nullptr); }), unnamed);
    EXPECT_EQ(written([](CVkLiteVariantW& w) { w.LevelBegin(L""); }), unnamed);
}

TEST(CVkLiteVariantW, ChildrenKeepTheirOrderWhileTheIndexIsSortedByName) {
    const Bytes b = written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"r");
        w.Set(1, L"b");
        w.Set(2, L"a");
        w.Set(3, L"ab");
        w.Set(4, nullptr);
        w.Set(5, L"B"); // upper case sorts first: the order is by code unit
    });
    EXPECT_EQ(indexedNames(b), (std::vector<std::u16string>{u"", u"B", u"a", u"ab", u"b"}));
    CVkLiteVariantR r;
    load(r, b);
    std::wstring walked;
    ASSERT_EQ(lite_walk::walkAll(r, walked), 0);
    EXPECT_EQ(walked, L"level 'r' 5\n  i32 'b' 1\n  i32 'a' 2\n  i32 'ab' 3\n  i32 '' 4\n  i32 'B' 5\n");
}

TEST(CVkLiteVariantW, NameLengthsCountUnitsAndNamesBeyond255UnitsAreCutOnACodePoint) {
    struct Case {
        std::wstring name;
        unsigned nameLen;
        std::u16string stored;
    };
    const std::wstring smiley = L"\U0001F600";
    const Case cases[] = {
        {L"x", 2, u"x"},
        {smiley, 3, u"\U0001F600"},
        {std::wstring(300, L'n'), 255, std::u16string(254, u'n')},
        {std::wstring(254, L'n'), 255, std::u16string(254, u'n')},
        // 255 units fill nameLen without the 0 unit: kept whole, as readers take such a name.
        {std::wstring(255, L'n'), 255, std::u16string(255, u'n')},
        {std::wstring(253, L'n') + smiley, 255, std::u16string(253, u'n') + u"\U0001F600"},
        // Longer names are cut to 254 units; a pair that the cut would split goes whole.
        {std::wstring(256, L'n'), 255, std::u16string(254, u'n')},
        {std::wstring(253, L'n') + smiley + L"x", 254, std::u16string(253, u'n')},
        {std::wstring(252, L'n') + smiley + L"xy", 255, std::u16string(252, u'n') + u"\U0001F600"},
    };
    for (const Case& c : cases) {
        const Bytes b = written([&](CVkLiteVariantW& w) {
            w.LevelBegin(nullptr);
            w.Set(true, c.name.c_str());
        });
        lv::ItemView child;
        ASSERT_TRUE(lv::ParseItem(b.data(), 14, b.size(), child));
        EXPECT_EQ(child.nameLen, c.nameLen) << c.name.size();
        EXPECT_EQ(lv::NameOf(b.data(), child), c.stored);
        EXPECT_EQ(lv::loadLE64(&b[b.size() - 8]), 14u); // the index still points at it
    }
}

TEST(CVkLiteVariantW, MisuseIsRefusedAndChangesNothing) {
    CVkLiteVariantW w;
    EXPECT_EQ(w.LevelEnd(), -9);
    ASSERT_EQ(w.LevelBegin(L"a"), 0);
    ASSERT_EQ(w.Set(5, L"x"), 0);
    EXPECT_EQ(w.Set(static_cast<const wchar_t*>(nullptr), L"s"), -9);
    EXPECT_EQ(w.Write(11, L"l", nullptr, 0), -4);
    EXPECT_EQ(w.Write(0, L"l", nullptr, 0), -4);
    const int five = 5;
    EXPECT_EQ(w.Write(2, L"i", &five, 8), -4);
    EXPECT_EQ(w.Write(8, L"s", u"ab", 4), -4);   // no 0 unit at the end
    EXPECT_EQ(w.Write(8, L"s", u"a\0b", 6), -4); // a 0 unit before the end
    EXPECT_EQ(w.Write(9, L"b", nullptr, 3), -4);
    EXPECT_THROW(w.Set(1, L"\xD800"), std::range_error);
    ASSERT_EQ(w.LevelEnd(), 0);
    EXPECT_EQ(w.LevelBegin(L"second"), -9);
    EXPECT_EQ(w.LevelEnd(), -9);
    CVkLiteVariantR r;
    ASSERT_EQ(w.Finalize(r, 0), 0);
    EXPECT_EQ(bytesOf(r), exampleDocument());

    // A value at the top leaves no room for a root level after it.
    CVkLiteVariantW top;
    EXPECT_EQ(top.Set(1, L"x"), 0);
    EXPECT_EQ(top.LevelBegin(L"a"), -9);
}

TEST(CVkLiteVariantW, FinalizeClosesOpenLevelsInnermostFirst) {
    const auto fill = [](CVkLiteVariantW& w, bool close) {
        w.LevelBegin(L"a");
        w.LevelBegin(L"b");
        w.Set(1.5, L"x");
        if (close) {
            w.LevelEnd();
            w.LevelEnd();
        }
    };
    EXPECT_EQ(written([&](CVkLiteVariantW& w) { fill(w, false); }),
              written([&](CVkLiteVariantW& w) { fill(w, true); }));
}

TEST(CVkLiteVariantW, AppendCopiesALevelByteForByteUnderAnotherParent) {
    const Bytes source = written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"src");
        w.Set(1, L"before");
        w.LevelBegin(L"inner");
        w.Set(L"text", L"s");
        w.LevelBegin(L"deeper");
        w.Set(7u, L"u");
        w.LevelEnd();
        w.LevelEnd();
    });
    CVkLiteVariantR src;
    load(src, source);
    ASSERT_EQ(src.LevelBegin(L"\\src\\inner"), 0);
    src.LevelEnd(); // cursor back on the level item
    const std::size_t at = src.GetCurrentOffset();
    const Bytes level(source.begin() + at, source.end() - 16);

    const Bytes copy = written([&](CVkLiteVariantW& w) {
        w.LevelBegin(L"dst");
        w.Set(2L, L"first");
        w.LevelBegin(L"nest");
        EXPECT_EQ(w.Append(src), 0);
    });
    EXPECT_NE(std::search(copy.begin(), copy.end(), level.begin(), level.end()), copy.end());
    CVkLiteVariantR r;
    load(r, copy);
    EXPECT_EQ(r.Get(L"\\dst\\nest\\inner\\deeper\\u", 0u), 7u);
    CVkLiteVariantR empty;
    CVkLiteVariantW w;
    EXPECT_EQ(w.Append(empty), -9);
}

TEST(CVkLiteVariantW, CompressedEnvelopeInflatesToThePlainBuffer) {
    const auto fill = [](CVkLiteVariantW& w) {
        w.LevelBegin(L"doc");
        w.Set(L"a text value that is long enough to be worth compressing", L"t");
        w.Set(3.25, L"d");
    };
    const Bytes plain = written(fill);
    ASSERT_GT(plain.size(), 100u);
    const Bytes packed = written(fill, 1);
    ASSERT_GT(packed.size(), 12u);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 4), (Bytes{'L', 'V', '0', 'Z'}));
    EXPECT_EQ(lv::loadLE64(&packed[4]), plain.size());
    EXPECT_EQ(packed[12], 0x78); // a zlib stream follows the header
    CVkLiteVariantR r;
    load(r, packed);
    EXPECT_EQ(r.GetCurrentType(), 11);
    EXPECT_EQ(bytesOf(r), plain);
}

TEST(CVkLiteVariantW, CompareItemsIsTheIndexOrder) {
    const unsigned char a[] = {2, 2, 'a', 0, 0, 0};
    const unsigned char ab[] = {2, 3, 'a', 0, 'b', 0, 0, 0};
    const unsigned char none[] = {2, 0};
    const unsigned char high[] = {2, 2, 0x00, 0xD8, 0, 0};
    const unsigned char* pa = a;
    const unsigned char* pab = ab;
    const unsigned char* pnone = none;
    const unsigned char* phigh = high;
    EXPECT_EQ(CVkLiteVariantW::CompareItems(&pa, &pab), -1);
    EXPECT_EQ(CVkLiteVariantW::CompareItems(&pab, &pa), 1);
    EXPECT_EQ(CVkLiteVariantW::CompareItems(&pnone, &pa), -1);
    EXPECT_EQ(CVkLiteVariantW::CompareItems(&pa, &pa), 0);
    EXPECT_EQ(CVkLiteVariantW::CompareItems(&pab, &phigh), -1); // units compare unsigned
}
