#include <legacy/CVkStringTokenizer.h>
#include <legacy/CVkStringUtils.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ZanLegacy::CVkStringA;
using ZanLegacy::CVkStringTokenizer;
using ZanLegacy::CVkStringUtils;
using ZanLegacy::CVkStringW;

namespace {

std::vector<std::wstring> tokens(const wchar_t* text, const wchar_t* delimiters) {
    CVkStringTokenizer tokenizer(text, delimiters);
    std::vector<std::wstring> out;
    while (tokenizer.HasMoreTokens())
        out.emplace_back(tokenizer.GetNextToken().GetString());
    return out;
}

} // namespace

TEST(CVkStringTokenizer, EmptyAndTrailingTokens) {
    using V = std::vector<std::wstring>;
    EXPECT_EQ(tokens(L"a,,b", L","), (V{L"a", L"", L"b"}));
    EXPECT_EQ(tokens(L"a,", L","), (V{L"a"}));
    EXPECT_EQ(tokens(L",a", L","), (V{L"", L"a"}));
    EXPECT_EQ(tokens(L"a b;c", L" ;"), (V{L"a", L"b", L"c"}));
    EXPECT_EQ(tokens(L"", L","), V{});
    EXPECT_EQ(tokens(L"abc", L""), (V{L"abc"}));

    CVkStringTokenizer doubled(L"a,,b", L",");
    EXPECT_EQ(doubled.Size(), 3);
    doubled.GetNextToken();
    EXPECT_EQ(doubled.GetPosition(), 2u);
    EXPECT_EQ(std::wstring(doubled.GetToken(2).GetString()), L"b"); // independent of the position
    EXPECT_EQ(std::wstring(doubled.GetToken(1).GetString()), L"");

    CVkStringTokenizer trailing(L"a,", L",");
    EXPECT_EQ(trailing.Size(), 2);
    EXPECT_TRUE(trailing.GetToken(1).IsEmpty());
    EXPECT_EQ(std::wstring(trailing.GetToken(0).GetString()), L"a");

    CVkStringTokenizer two(L"a,b", L",");
    EXPECT_TRUE(two.GetToken(-1).IsEmpty());
    EXPECT_TRUE(two.GetToken(5).IsEmpty());
    EXPECT_EQ(CVkStringTokenizer(L"", L",").Size(), 0);
    EXPECT_FALSE(CVkStringTokenizer(L"", L",").HasMoreTokens());
}

TEST(CVkStringUtils, LengthCopyAndNumbers) {
    EXPECT_EQ(CVkStringUtils::GetWStringLen(L"abc"), 3u);
    EXPECT_EQ(CVkStringUtils::GetWStringLen(nullptr), 0u);
    wchar_t dst[8] = L"#######";
    const wchar_t* src = L"abcdef";
    EXPECT_EQ(CVkStringUtils::WStringCopy(dst, src, 3), src + 3);
    EXPECT_STREQ(dst, L"abc");
    const wchar_t* xy = L"xy";
    EXPECT_EQ(CVkStringUtils::WStringCopy(dst, xy, 5), xy + 2);
    EXPECT_STREQ(dst, L"xy");
    EXPECT_EQ(CVkStringUtils::WStringCopy(dst, src, 0), src);
    EXPECT_STREQ(dst, L"");
    EXPECT_EQ(CVkStringUtils::WStringCopy(dst, src, -4), src);
    CVkStringUtils::Initialize();
    CVkStringUtils::Uninitialize();

    int i = 5;
    unsigned int u = 5;
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringA("12x"), i));
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringA("x"), i));
    EXPECT_EQ(i, 0);
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringA("-3"), i));
    EXPECT_EQ(i, -3);
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringA("42"), u));
    EXPECT_EQ(u, 42u);
    i = 5;
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringW(L"x"), i));
    EXPECT_EQ(i, 5); // nothing matched: kept
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringW(L" 17 apples"), i));
    EXPECT_EQ(i, 17);
    EXPECT_TRUE(CVkStringUtils::ToNumber(CVkStringW(L"99d"), u));
    EXPECT_EQ(u, 99u);
}

TEST(CVkStringUtils, Utf8CoderWithInvalidInput) {
    struct Encode {
        std::wstring wide;
        std::string utf8;
        bool ok;
    };
    const Encode encodes[] = {
        {L"a\u00e9", "a\xC3\xA9", true},
        {L"\u20ac", "\xE2\x82\xAC", true},
        {L"\U0001F600", "\xF0\x9F\x98\x80", true},
        {L"\xD800", "\xED\xA0\x80", true}, // surrogates are encoded like any value
        {std::wstring(L"a") + wchar_t(0x110000) + L"b", "a!b", false},
        {L"", "", true},
    };
    for (const Encode& e : encodes) {
        CVkStringA out("old");
        EXPECT_EQ(CVkStringUtils::WtoUTF8(e.wide.c_str(), out), e.ok);
        EXPECT_EQ(std::string(out.GetString()), e.utf8);
    }

    struct Decode {
        std::string utf8;
        std::wstring wide;
        bool ok;
    };
    const Decode decodes[] = {
        {"\xC3\xA9", L"\u00e9", true},
        {"x\xE2\x82\xAC\xF0\x9F\x98\x80", L"x\u20ac\U0001F600", true},
        {"\xA9", L"", false}, // stray continuation byte
        {"a\xA9\xA9z", L"az", false},
        {"\xC3z", L"z", false},                 // cut short by an ASCII byte: the pending bits are dropped
        {"\xE2\x82\xC3\xA9", L"\u00e9", false}, // cut short by a new lead byte
        {"ab\xE2\x82", L"ab", false},           // cut short by the end
        {"a\xF8\xFF"
         "b",
         L"ab", true}, // 0xF8 to 0xFF are dropped
        {"", L"", true},
    };
    for (const Decode& d : decodes) {
        CVkStringW out(L"old");
        EXPECT_EQ(CVkStringUtils::UTF8toW(d.utf8.c_str(), out), d.ok) << d.utf8;
        EXPECT_EQ(std::wstring(out.GetString()), d.wide) << d.utf8;
    }

    CVkStringW out;
    EXPECT_TRUE(CVkStringUtils::UTF8toWn("abc\xC3\xA9", out, 3));
    EXPECT_EQ(std::wstring(out.GetString()), L"abc");
    EXPECT_FALSE(CVkStringUtils::UTF8toWn("abc\xC3\xA9", out, 4)); // the limit cuts the sequence
    EXPECT_EQ(std::wstring(out.GetString()), L"abc");
    EXPECT_TRUE(CVkStringUtils::UTF8toWn("abc", out, 0));
    EXPECT_TRUE(out.IsEmpty());
}
