#include <io/StringConversions.h>

#include "support/Expect.h"
#include "support/FuzzSeeds.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace Zan::StringConversions;

namespace {

template <typename F>
std::string rangeErrorOf(F&& f) {
    return ZanTest::messageOf<std::range_error>(f);
}

} // namespace

TEST(StringConversions, RoundTripsAcrossAllThreeEncodings) {
    struct Case {
        std::wstring wide;
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {L"", "", u""},
        {L"abc", "abc", u"abc"},
        {L"\u00e9", "\xC3\xA9", u"\u00e9"},
        {L"\u20ac", "\xE2\x82\xAC", u"\u20ac"},
        {L"\U0001F600", "\xF0\x9F\x98\x80", std::u16string{char16_t(0xD83D), char16_t(0xDE00)}},
        {L"\U0010FFFF", "\xF4\x8F\xBF\xBF", std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}},
        {std::wstring(1, L'\0') + L"x", std::string(1, '\0') + "x", std::u16string(1, u'\0') + u"x"},
        // A byte-order mark is an ordinary character: neither written nor consumed.
        {L"\ufeffa",
         "\xEF\xBB\xBF"
         "a",
         u"\ufeffa"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wstring_to_utf8(c.wide), c.utf8);
        EXPECT_EQ(utf8_to_wstring(c.utf8), c.wide);
        EXPECT_EQ(wstring_to_utf16(c.wide), c.utf16);
        EXPECT_EQ(utf16_to_wstring(c.utf16), c.wide);
    }
    EXPECT_EQ(utf8_to_wstring("\xF0\x9F\x98\x80").size(), 1u);
}

TEST(StringConversions, RefusesInvalidUtf8) {
    const std::string bad[] = {
        "\xC3",             // truncated two-byte sequence
        "a\xE2\x82",        // truncated three-byte sequence
        "\xF0\x9F\x98",     // truncated four-byte sequence
        "\x80",             // lone continuation byte
        "\xC0\xAF",         // overlong '/'
        "\xE0\x80\xAF",     // overlong
        "\xED\xA0\x80",     // encoded surrogate D800
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xC3\x28",         // bad continuation
        "\xFF",
    };
    for (const std::string& text : bad) {
        EXPECT_EQ(rangeErrorOf([&] { utf8_to_wstring(text); }), "wstring_convert::from_bytes") << text;
    }
}

TEST(StringConversions, RefusesUnencodableWideAndUtf16) {
    const std::wstring badWide[] = {std::wstring(1, wchar_t(0x110000)), std::wstring(1, wchar_t(0xD800)),
                                    L"ok" + std::wstring(1, wchar_t(0xDFFF))};
    for (const std::wstring& text : badWide) {
        EXPECT_EQ(rangeErrorOf([&] { wstring_to_utf8(text); }), "wstring_convert::to_bytes");
        EXPECT_EQ(rangeErrorOf([&] { wstring_to_utf16(text); }), "wstring_convert::to_bytes");
    }
    const std::u16string badUtf16[] = {std::u16string{char16_t(0xD800)},
                                       std::u16string{char16_t(0xDE00), char16_t(0xD83D)},
                                       std::u16string{u'a', char16_t(0xD83D), u'b'}};
    for (const std::u16string& text : badUtf16)
        EXPECT_EQ(rangeErrorOf([&] { utf16_to_wstring(text); }), "wstring_convert::to_bytes");
}

// Seeds of string_conversions_fuzz: one text in UTF-8, in UTF-16 units and as wide characters, and bytes that
// each decoder refuses.
TEST(StringConversionsFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const std::wstring text = L"caf\u00e9 \u20ac \U0001F600 \U0010FFFF";
    saveSeed(dir, "utf8", wstring_to_utf8(text));
    const std::u16string units = wstring_to_utf16(text);
    saveSeed(dir, "utf16", units.data(), units.size() * sizeof(char16_t));
    saveSeed(dir, "wide", text.data(), text.size() * sizeof(wchar_t));
    const std::u16string lone{u'a', char16_t(0xD83D), u'b', u'c'};
    saveSeed(dir, "lone-surrogate", lone.data(), lone.size() * sizeof(char16_t));
    saveSeed(dir, "truncated-utf8", "ab\xE2\x82");
}
