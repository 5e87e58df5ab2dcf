#include <legacy/CVkStringA.h>
#include <legacy/CVkStringW.h>

#include <support/DecimalCommaLocale.h>

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <strings.h>
#include <vector>

using ZanLegacy::CVkStringA;
using ZanLegacy::CVkStringW;
using ZanLegacy::zan_wcsicmp;

namespace {

std::wstring text(const CVkStringW& s) {
    return std::wstring(s.GetString(), s.GetLength());
}

std::string text(const CVkStringA& s) {
    return std::string(s.GetString(), s.GetLength());
}

template <class T>
std::wstring num(T v) {
    return std::to_wstring(v);
}

} // namespace

TEST(CVkString, CopiesShareOneBufferUntilWritten) {
    CVkStringW a, b;
    const wchar_t* empty = a.GetString();
    EXPECT_EQ(b.GetString(), empty);
    EXPECT_EQ(a.GetBufferLength(), 15u);

    a += L'x';
    EXPECT_NE(a.GetString(), empty);
    EXPECT_EQ(a.GetBufferLength(), 15u);
    EXPECT_EQ(b.GetString(), empty);
    EXPECT_EQ(text(b), L"");

    CVkStringW c(a);
    EXPECT_EQ(c.GetString(), a.GetString());
    c += L"y";
    EXPECT_NE(c.GetString(), a.GetString());
    EXPECT_EQ(text(a), L"x");
    EXPECT_EQ(text(c), L"xy");

    const wchar_t* before = a.GetString();
    {
        CVkStringW d(a);
        CVkStringW e;
        e = d;
        EXPECT_EQ(e.GetString(), before);
    }
    EXPECT_EQ(a.GetString(), before);
    EXPECT_EQ(text(a), L"x");

    // Self-assignment and assignment from a sharing copy change nothing.
    CVkStringW& self = a;
    a = self;
    CVkStringW f(a);
    a = f;
    EXPECT_EQ(a.GetString(), before);
    a = a.GetString();
    EXPECT_EQ(a.GetString(), before);

    // Left and Right of at least the whole length share too.
    EXPECT_EQ(c.Left(5).GetString(), c.GetString());
    EXPECT_EQ(c.Right(2).GetString(), c.GetString());

    CVkStringA n1, n2("abc");
    CVkStringA n3(n2);
    EXPECT_EQ(n3.GetString(), n2.GetString());
    n3.MakeUpper();
    EXPECT_EQ(text(n2), "abc");
    EXPECT_EQ(text(n3), "ABC");
}

TEST(CVkString, CapacityGrowsByDoublingAndEmptyKeepsIt) {
    CVkStringW s;
    std::vector<unsigned long> seen;
    for (int i = 0; i < 100; ++i) {
        s += L'a';
        if (seen.empty() || seen.back() != s.GetBufferLength())
            seen.push_back(s.GetBufferLength());
    }
    EXPECT_EQ(seen, (std::vector<unsigned long>{15, 31, 63, 127}));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(s.GetString()) % 16, 0u);

    s.Empty();
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetBufferLength(), 127u);
    s.Reset();
    EXPECT_EQ(s.GetBufferLength(), 15u);
    EXPECT_TRUE(s.IsEmpty());

    struct Case {
        unsigned long reserve, capacity;
    };
    for (const Case& c : {Case{1, 15}, Case{14, 15}, Case{15, 15}, Case{16, 31}, Case{40, 63}, Case{64, 127}})
        EXPECT_EQ(CVkStringA(c.reserve).GetBufferLength(), c.capacity) << c.reserve;
    CVkStringA grown(15);
    grown.Preallocate(16);
    EXPECT_EQ(grown.GetBufferLength(), 31u);
    grown.Preallocate(32);
    EXPECT_EQ(grown.GetBufferLength(), 63u);
    grown.Preallocate(10); // never shrinks
    EXPECT_EQ(grown.GetBufferLength(), 63u);
    CVkStringW copyOfLarge(s);
    copyOfLarge.Preallocate(200);
    EXPECT_EQ(copyOfLarge.GetBufferLength(), 255u);
    EXPECT_EQ(s.GetBufferLength(), 15u);

    // A copy that is emptied keeps the capacity it had reached.
    CVkStringW big(L"0123456789abcdefghij");
    CVkStringW shared(big);
    shared.Empty();
    EXPECT_EQ(shared.GetBufferLength(), 31u);
    EXPECT_EQ(text(big), L"0123456789abcdefghij");
}

TEST(CVkString, SharedEmptyBufferIsNeverWritten) {
    const wchar_t* emptyW = CVkStringW().GetString();
    const char* emptyA = CVkStringA().GetString();
    {
        CVkStringW w;
        w.Empty();
        w.MakeUpper();
        w.TrimLeft();
        w.SetAt(0, L'x');
        w.Format(L"%d", 123456);
        w += L"written";
        w.Reset();
        CVkStringW w2(0ul);
        w2.AddChar(L'z');
        CVkStringA a;
        a.Empty();
        a.Insert("abc", 0, -1);
        a.Replace("a", "b");
        a.Delete(0, 1);
        a += 'q';
    }
    CVkStringW w;
    EXPECT_EQ(w.GetString(), emptyW);
    EXPECT_EQ(w.GetLength(), 0u);
    EXPECT_EQ(emptyW[0], L'\0');
    EXPECT_EQ(w.GetBufferLength(), 15u);
    CVkStringA a;
    EXPECT_EQ(a.GetString(), emptyA);
    EXPECT_EQ(emptyA[0], '\0');
}

TEST(CVkString, WideOperationsTable) {
    struct Case {
        const wchar_t* input;
        std::function<std::wstring(CVkStringW&)> op;
        std::wstring expected;
        const char* what;
    };
    const Case cases[] = {
        // access
        {L"abc", [](CVkStringW& s) { return std::wstring(1, s.GetAt(3)) + s[9] + s.GetAt(1); },
         std::wstring(2, 0) + L"b", "GetAt past end"},
        {L"", [](CVkStringW& s) { return num(int(s.GetLastChar())); }, L"0", "GetLastChar of empty"},
        {L"abc", [](CVkStringW& s) { return std::wstring(1, s.GetLastChar()); }, L"c", "GetLastChar"},
        // search
        {L"banana", [](CVkStringW& s) { return num(s.ReverseFind(L'a', -1)); }, L"5", "ReverseFind last"},
        {L"banana", [](CVkStringW& s) { return num(s.ReverseFind(L'n', 3)); }, L"2", "ReverseFind from 3"},
        {L"banana", [](CVkStringW& s) { return num(s.ReverseFind(L'a', 6)); }, L"-1",
         "ReverseFind start past end"},
        {L"", [](CVkStringW& s) { return num(s.ReverseFind(L'a', -1)); }, L"-1", "ReverseFind empty"},
        {L"bAnana", [](CVkStringW& s) { return num(s.ReverseFindNoCase(L'A', 2)); }, L"1",
         "ReverseFindNoCase"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L'a', 6)); }, L"-1", "Find char at length"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L'n')); }, L"2", "Find char"},
        {L"baNana", [](CVkStringW& s) { return num(s.FindNoCase(L'n', 0)); }, L"2", "FindNoCase char"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L"na", 3)); }, L"4", "Find text from 3"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L"")); }, L"-1", "Find empty text"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L"na", -1)); }, L"-1", "Find negative start"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L"nas", 0)); }, L"-1", "Find not there"},
        {L"banana", [](CVkStringW& s) { return num(s.Find(L"ana", 4)); }, L"-1", "Find cannot fit"},
        {L"baNAna", [](CVkStringW& s) { return num(s.FindNoCase(L"na", 0)); }, L"2", "FindNoCase text"},
        {L"banana", [](CVkStringW& s) { return num(s.FindOneOf(L"xn", 0)); }, L"2", "FindOneOf"},
        {L"banana", [](CVkStringW& s) { return num(s.FindOneOf(L"b", 1)); }, L"-1", "FindOneOf none"},
        {L"banana", [](CVkStringW& s) { return num(s.Count(L'a')); }, L"3", "Count"},
        // substrings
        {L"abcd", [](CVkStringW& s) { return text(s.Mid(1, -1)); }, L"bcd", "Mid rest"},
        {L"abcd", [](CVkStringW& s) { return text(s.Mid(4, 1)); }, L"", "Mid at end"},
        {L"abcd", [](CVkStringW& s) { return text(s.Mid(2, 10)); }, L"cd", "Mid too long"},
        {L"abcd", [](CVkStringW& s) { return text(s.Mid(1, 0)); }, L"", "Mid zero"},
        {L"abcd", [](CVkStringW& s) { return text(s.Mid(1, 2)); }, L"bc", "Mid"},
        {L"abcd", [](CVkStringW& s) { return text(s.Left(2)) + L"|" + text(s.Right(2)); }, L"ab|cd",
         "Left Right"},
        // editing
        {L"abc",
         [](CVkStringW& s) {
             const auto r = num(s.SetAt(1, L'\0'));
             return r + text(s) + num(s.GetLength());
         },
         L"0a1", "SetAt NUL truncates"},
        {L"abc",
         [](CVkStringW& s) {
             const auto r = num(s.SetAt(3, L'x'));
             return r + text(s);
         },
         L"-6abc", "SetAt past end"},
        {L"abc",
         [](CVkStringW& s) {
             const auto r = num(s.SetAt(0, L'X'));
             return r + text(s);
         },
         L"0Xbc", "SetAt"},
        {L"abcd", [](CVkStringW& s) { return text(s.Delete(1, 10)); }, L"a", "Delete too long"},
        {L"abcd", [](CVkStringW& s) { return text(s.Delete(9, 1)); }, L"", "Delete past end"},
        {L"abcd", [](CVkStringW& s) { return text(s.Delete(1, 2)); }, L"ad", "Delete"},
        {L"abcd", [](CVkStringW& s) { return text(s.Delete(1, -1)); }, L"a", "Delete negative"},
        {L"abcd", [](CVkStringW& s) { return text(s.DeleteRight(9)); }, L"abcd", "DeleteRight too many"},
        {L"abcd", [](CVkStringW& s) { return text(s.DeleteRight(1)); }, L"abc", "DeleteRight"},
        {L"abcd", [](CVkStringW& s) { return text(s.DeleteLeft(2)); }, L"cd", "DeleteLeft"},
        {L"abcd", [](CVkStringW& s) { return s.TruncateAt(2), text(s); }, L"ab", "TruncateAt"},
        {L"abcd", [](CVkStringW& s) { return s.TruncateAt(4), text(s); }, L"abcd", "TruncateAt length"},
        {L"  a b  ", [](CVkStringW& s) { return text(s.TrimLeft(nullptr)); }, L"a b  ", "TrimLeft default"},
        {L"  a b  ", [](CVkStringW& s) { return text(s.TrimRight()); }, L"  a b", "TrimRight default"},
        {L"  a b  ", [](CVkStringW& s) { return text(s.Trim()); }, L"a b", "Trim default"},
        {L"\ta\t", [](CVkStringW& s) { return text(s.Trim()); }, L"\ta\t", "Trim leaves tabs"},
        {L"  a  ", [](CVkStringW& s) { return text(s.Trim(L"")); }, L"  a  ", "Trim empty set"},
        {L"xyaxy", [](CVkStringW& s) { return text(s.Trim(L"yx")); }, L"a", "Trim set"},
        {L"   ", [](CVkStringW& s) { return text(s.TrimLeft()); }, L"", "TrimLeft all"},
        {L"banana",
         [](CVkStringW& s) {
             const auto r = num(s.Remove(L'a'));
             return r + text(s);
         },
         L"3bnn", "Remove"},
        {L"abc", [](CVkStringW& s) { return text(s.Insert(L"XY", 1, 1)); }, L"aXbc", "Insert count 1"},
        {L"abc", [](CVkStringW& s) { return text(s.Insert(L"XY", 4, -1)); }, L"abc", "Insert past end"},
        {L"abc", [](CVkStringW& s) { return text(s.Insert(L"XY", 3, -1)); }, L"abcXY", "Insert at end"},
        {L"abc", [](CVkStringW& s) { return text(s.Insert(L"XY", 0, 7)); }, L"XYabc", "Insert count too big"},
        {L"abcd", [](CVkStringW& s) { return s.ReplaceAt(1, 2, L"XY"), text(s); }, L"aXYd",
         "ReplaceAt same length"},
        {L"abcd", [](CVkStringW& s) { return s.ReplaceAt(1, 2, L"Z"), text(s); }, L"aZd",
         "ReplaceAt shorter"},
        {L"abcd", [](CVkStringW& s) { return s.ReplaceAt(1, 1, L"XYZ"), text(s); }, L"aXYZcd",
         "ReplaceAt longer"},
        {L"abcd", [](CVkStringW& s) { return s.ReplaceAt(3, 2, L"Z"), text(s); }, L"abcd",
         "ReplaceAt past end"},
        {L"abcd", [](CVkStringW& s) { return s.ReplaceAt(-1, 1, L"Z"), text(s); }, L"abcd",
         "ReplaceAt negative"},
        {L"abcd", [](CVkStringW& s) { return s.ReplaceAt(1, 0, L"Z"), text(s); }, L"abcd", "ReplaceAt zero"},
        {L"", [](CVkStringW& s) { return text(s.EndInSlash()); }, L"\\", "EndInSlash empty"},
        {L"a\\", [](CVkStringW& s) { return text(s.EndInSlash()); }, L"a\\", "EndInSlash present"},
        {L"a", [](CVkStringW& s) { return text(s.EndInSlash()); }, L"a\\", "EndInSlash"},
        {L"aBc\u00c9", [](CVkStringW& s) { return text(s.MakeUpper()) + text(CVkStringW(s).MakeLower()); },
         L"ABC\u00c9abc\u00c9", "case"},
        // appending
        {L"ab",
         [](CVkStringW& s) { return text(s.AddChars(L"cdef", 2).AddChars(L"gh", -1).AddChars(nullptr, 3)); },
         L"abcdgh", "AddChars"},
        {L"ab", [](CVkStringW& s) { return text(s.AddChars(L"cd", 0)); }, L"ab", "AddChars zero"},
        {L"n=", [](CVkStringW& s) { return text(s.AddInt(-42)); }, L"n=-42", "AddInt"},
        {L"x=", [](CVkStringW& s) { return text(s.AddDouble(2.5, 3)); }, L"x=2.500", "AddDouble"},
        {L"a", [](CVkStringW& s) { return text(s.AddString("\xC3\xA9").AddChar('!')); }, L"a\u00e9!",
         "AddString narrow"},
        // replacement
        {L"aaaa",
         [](CVkStringW& s) {
             const auto r = num(s.Replace(L"aa", L"b"));
             return r + text(s);
         },
         L"2bb", "Replace"},
        {L"xyz",
         [](CVkStringW& s) {
             const auto r = num(s.Replace(L"aa", L"b"));
             return r + text(s);
         },
         L"0xyz", "Replace none"},
        {L"xyz",
         [](CVkStringW& s) {
             const auto r = num(s.Replace(L"", L"b"));
             return r + text(s);
         },
         L"0xyz", "Replace empty"},
        {L"a.b.c",
         [](CVkStringW& s) {
             const auto r = num(s.Replace(L".", L""));
             return r + text(s);
         },
         L"2abc", "Replace by nothing"},
        {L"bAnAna",
         [](CVkStringW& s) {
             const auto r = num(s.ReplaceNoCase(L"a", L"o"));
             return r + text(s);
         },
         L"3bonono", "ReplaceNoCase"},
        // comparison
        {L"abc",
         [](CVkStringW& s) {
             return num(s.Compare(L"abd")) + num(s.Compare(L"abc")) + num(s.Compare(L"ab"));
         },
         L"-101", "Compare"},
        {L"abc", [](CVkStringW& s) { return num(s.CompareNoCase(L"ABC")); }, L"0", "CompareNoCase"},
        {L"abc", [](CVkStringW& s) { return num(s.Compare(nullptr)); }, L"1", "Compare null"},
    };
    for (const Case& c : cases) {
        CVkStringW s(c.input);
        EXPECT_EQ(c.op(s), c.expected) << c.what;
    }
    EXPECT_EQ(zan_wcsicmp(L"ABC", L"abc"), 0);
    EXPECT_LT(zan_wcsicmp(L"abc", L"abd"), 0);
    EXPECT_EQ(zan_wcsicmp(L"abc", L"ab"), 'c');
}

TEST(CVkString, NarrowOperationsTable) {
    struct Case {
        const char* input;
        std::function<std::string(CVkStringA&)> op;
        std::string expected;
        const char* what;
    };
    const Case cases[] = {
        {"banana", [](CVkStringA& s) { return std::to_string(s.Find("na", 3)); }, "4", "Find text"},
        {"banana", [](CVkStringA& s) { return std::to_string(s.Find("na", 9)); }, "-1", "Find past end"},
        {"abcd", [](CVkStringA& s) { return text(s.Mid(2, 10)); }, "cd", "Mid"},
        {"abcd", [](CVkStringA& s) { return text(s.DeleteLeft(9)); }, "", "DeleteLeft all"},
        {"abcd", [](CVkStringA& s) { return s.ReplaceAt(1, 2, "XY"), text(s); }, "aXYd", "ReplaceAt"},
        {"abc", [](CVkStringA& s) { return std::to_string(s.CompareNoCase("ABD")); },
         std::to_string(strcasecmp("abc", "abd")), "CompareNoCase raw"},
        {"aaaa",
         [](CVkStringA& s) {
             const auto r = std::to_string(s.Replace("aa", "b"));
             return r + text(s);
         },
         "2bb", "Replace"},
        {"a", [](CVkStringA& s) { return text(s.AddString(L"\u20ac").AddChar(L'\u00e9')); },
         "a\xE2\x82\xAC\xC3\xA9", "wide appended as UTF-8"},
        {"x=", [](CVkStringA& s) { return text(s.AddDouble(-0.125, 2)); }, "x=-0.12", "AddDouble"},
    };
    for (const Case& c : cases) {
        CVkStringA s(c.input);
        EXPECT_EQ(c.op(s), c.expected) << c.what;
    }
}

TEST(CVkString, ComparisonOperatorsAndConcatenation) {
    const CVkStringW abc(L"abc"), abd(L"abd");
    EXPECT_TRUE(abc == CVkStringW(L"abc"));
    EXPECT_TRUE(abc == L"abc");
    EXPECT_TRUE(L"abc" == abc);
    EXPECT_TRUE(abc == "abc");
    EXPECT_TRUE(abc != abd);
    EXPECT_TRUE(abc < abd && abc <= abd && abd > abc && abd >= abc);
    EXPECT_TRUE(abc < L"abd" && L"abb" < abc && abc <= L"abc" && L"abc" <= abc);
    EXPECT_TRUE(abd > L"abc" && L"abe" > abd && abd >= L"abd" && L"abd" >= abd);
    EXPECT_FALSE(abc < abc);
    EXPECT_TRUE(abc.Equals("abc") && abc.Less("abd") && abc.LessEqual("abc"));
    EXPECT_TRUE(CVkStringW(L"\u00e9").Equals("\xC3\xA9"));
    EXPECT_TRUE(CVkStringA("\xC3\xA9") == L"\u00e9");

    EXPECT_EQ(text(abc + abd), L"abcabd");
    EXPECT_EQ(text(abc + L"!"), L"abc!");
    EXPECT_EQ(text(L"<" + abc), L"<abc");
    EXPECT_EQ(text(abc + L'.'), L"abc.");
    EXPECT_EQ(text(L'.' + abc), L".abc");
    const CVkStringW sum = CVkStringW(L"0123456789") + CVkStringW(L"0123456789");
    EXPECT_EQ(sum.GetBufferLength(), 31u); // reserved for both parts at once
}

TEST(CVkString, TextInsideItsOwnBufferCanBeAddedBack) {
    CVkStringW s(L"0123456789abcde"); // 15 characters: the next append must grow the block
    ASSERT_EQ(s.GetBufferLength(), 15u);
    s.AddString(s.GetString());
    EXPECT_EQ(text(s), L"0123456789abcde0123456789abcde");

    CVkStringW t(L"abc");
    t += t;
    EXPECT_EQ(text(t), L"abcabc");
    t.AddChars(t.GetString() + 4, 2);
    EXPECT_EQ(text(t), L"abcabcbc");
    t = t.GetString() + 3;
    EXPECT_EQ(text(t), L"abcbc");
    t.Insert(t.GetString(), 1, -1);
    EXPECT_EQ(text(t), L"aabcbcbcbc");
    t.ReplaceAt(0, 2, t.GetString() + 2);
    EXPECT_EQ(text(t), L"bcbcbcbcbcbcbcbc");
    t.Format(L"%s!%d", t.GetString(), 1);
    EXPECT_EQ(text(t), L"bcbcbcbcbcbcbcbc!1");

    CVkStringA a("0123456789abcde");
    a.Insert(a.GetString() + 10, 15, -1);
    EXPECT_EQ(text(a), "0123456789abcdeabcde");
    a.Trim(a.GetString() + 15); // the set itself lies in the trimmed text
    EXPECT_EQ(text(a), "0123456789");
}

TEST(CVkString, FailedGrowthKeepsTheText) {
    CVkStringA a("keep");
    a.Preallocate(std::numeric_limits<unsigned long>::max());
    EXPECT_EQ(text(a), "keep");
    EXPECT_EQ(a.GetBufferLength(), 15u);
    CVkStringW w(L"keep");
    w.Preallocate(-1);
    EXPECT_EQ(text(w), L"keep");
    CVkStringW huge(std::numeric_limits<unsigned long>::max());
    EXPECT_TRUE(huge.IsEmpty());
    huge += L"still usable";
    EXPECT_EQ(text(huge), L"still usable");
}

TEST(CVkString, ConversionsBetweenWidths) {
    const CVkStringA utf8(L"\u00e9\u20ac\U0001F600");
    EXPECT_EQ(text(utf8), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(text(CVkStringW(utf8.GetString())), L"\u00e9\u20ac\U0001F600");
    EXPECT_EQ(CVkStringW(L"\u00e9x").GetUtf8(), "\xC3\xA9x");
    EXPECT_EQ(text(CVkStringA::Utf8FromUtf16(L"\u20ac")), "\xE2\x82\xAC");

    CVkStringW w(L"keep");
    EXPECT_THROW(w += "\xC3", std::range_error);
    EXPECT_THROW(w = "\xFF", std::range_error);
    EXPECT_THROW(w.AddChar('\xA9'), std::range_error);
    EXPECT_THROW((void)w.Equals("\x80"), std::range_error);
    EXPECT_EQ(text(w), L"keep");
    CVkStringA a("keep");
    EXPECT_THROW(a += L"\xD800", std::range_error);
    EXPECT_THROW(a = L"\x110000", std::range_error);
    EXPECT_EQ(text(a), "keep");
    EXPECT_THROW(CVkStringW(static_cast<const char*>(nullptr)), std::logic_error);
    EXPECT_THROW(CVkStringA(static_cast<const wchar_t*>(nullptr)), std::logic_error);
    EXPECT_THROW(CVkStringW(L"\xDC00").GetUtf8(), std::range_error);
    // Own-width null text is empty text.
    EXPECT_TRUE(CVkStringW(static_cast<const wchar_t*>(nullptr)).IsEmpty());

    CVkStringW assigned;
    assigned = std::wstring(L"std");
    EXPECT_EQ(text(assigned), L"std");
    assigned = 'c';
    EXPECT_EQ(text(assigned), L"c");
    assigned = L'w';
    EXPECT_EQ(text(assigned), L"w");
}

TEST(CVkString, CopyToBufferLimitsAndNeverCutsUtf8) {
    wchar_t wbuf[8];
    char abuf[8];
    const CVkStringW w(L"abcd");
    EXPECT_EQ(w.CopyToBufferW(wbuf, 3), 2);
    EXPECT_STREQ(wbuf, L"ab");
    EXPECT_EQ(w.CopyToBufferA(abuf, 3), 2);
    EXPECT_STREQ(abuf, "ab");
    EXPECT_EQ(w.CopyToBufferW(wbuf, 8), 4);
    EXPECT_STREQ(wbuf, L"abcd");

    // Sizes <= 0 and null buffers write nothing.
    wbuf[0] = L'#';
    abuf[0] = '#';
    EXPECT_EQ(w.CopyToBufferW(wbuf, 0), 0);
    EXPECT_EQ(w.CopyToBufferW(wbuf, -5), 0);
    EXPECT_EQ(w.CopyToBufferA(abuf, -1), 0);
    EXPECT_EQ(w.CopyToBufferA(nullptr, 4), 0);
    EXPECT_EQ(CVkStringA("abc").CopyToBufferA(abuf, 0ul), 0u);
    EXPECT_EQ(wbuf[0], L'#');
    EXPECT_EQ(abuf[0], '#');

    // "a" + e-acute (2 bytes) + euro sign (3 bytes): a cut may only fall between sequences.
    const CVkStringW accented(L"a\u00e9\u20ac");
    struct Case {
        int size;
        const char* expected;
    };
    for (const Case& c : {Case{1, ""}, Case{2, "a"}, Case{3, "a"}, Case{4, "a\xC3\xA9"}, Case{6, "a\xC3\xA9"},
                          Case{7, "a\xC3\xA9\xE2\x82\xAC"}}) {
        EXPECT_EQ(accented.CopyToBufferA(abuf, c.size), int(std::strlen(c.expected))) << c.size;
        EXPECT_STREQ(abuf, c.expected) << c.size;
        EXPECT_EQ(CVkStringA(accented.GetString()).CopyToBufferA(abuf, c.size), std::strlen(c.expected));
        EXPECT_STREQ(abuf, c.expected) << c.size;
    }
    EXPECT_EQ(CVkStringA("a\xC3\xA9").CopyToBufferW(wbuf, 8ul), 2u);
    EXPECT_STREQ(wbuf, L"a\u00e9");
}

TEST(CVkString, WideFormat) {
    struct Case {
        std::function<int(CVkStringW&)> op;
        int result;
        std::wstring expected;
        const char* what;
    };
    const Case cases[] = {
        {[](CVkStringW& s) {
             return s.Format(L"%s|%S|%c|%hs|%ls|%C|%C|%hc", L"wide", "narrow", L'w', "\xC3\xA9", L"l", L'n',
                             L'\u20ac', 'h');
         },
         0, L"wide|narrow|w|\u00e9|l|n|\u20ac|h", "text widths"},
        {[](CVkStringW& s) { return s.Format(L"%%s %%c %%"); }, 0, L"%s %c %", "escaped percent stays plain"},
        {[](CVkStringW& s) { return s.Format(L"[%5s|%-5s|%.2s|%*s]", L"ab", L"cd", L"xyz", 3, L"q"); }, 0,
         L"[   ab|cd   |xy|  q]", "width and precision"},
        {[](CVkStringW& s) {
             return s.Format(L"%d %i %u %x %X %o %ld %lld %hd %zu", -5, 7, 4000000000u, 255, 255, 8, -6L,
                             -7LL, 70000, std::size_t(9));
         },
         0, L"-5 7 4000000000 ff FF 10 -6 -7 4464 9", "integers"},
        {[](CVkStringW& s) { return s.Format(L"%+05d|%-4d|%#x|% d", 42, 7, 255, 3); }, 0,
         L"+0042|7   |0xff| 3", "flags"},
        {[](CVkStringW& s) { return s.Format(L"%.3f %e %g %G %.1f", 2.5, 1234.5, 0.0001, 1e20, -0.25); }, 0,
         L"2.500 1.234500e+03 0.0001 1E+20 -0.2", "floats"},
        {[](CVkStringW& s) { return s.Format(L"%Lf", 1.5L); }, 0, L"1.500000", "long double"},
        {[](CVkStringW& s) { return s.Format(L"%s", static_cast<const wchar_t*>(nullptr)); }, 0, L"(null)",
         "null text"},
        {[](CVkStringW& s) { return s.Format(L"%d%n", 1, static_cast<int*>(nullptr)); }, -9, L"",
         "refuses %n"},
        {[](CVkStringW& s) { return s.Format(L"%y", 1); }, -9, L"", "unknown conversion"},
        {[](CVkStringW& s) { return s.Format(L"abc%"); }, -9, L"", "dangling percent"},
        {[](CVkStringW& s) { return s.Format(L"%1$d", 1); }, -9, L"", "positional"},
        {[](CVkStringW& s) { return s.Format(L"%S", "\xC3"); }, -9, L"", "narrow argument not UTF-8"},
        {[](CVkStringW& s) { return s.Format(L"%99999999999d", 1); }, -9, L"", "width overflows"},
        {[](CVkStringW& s) { return s.AppendFormat(L"%d", 5); }, 0, L"old5", "AppendFormat"},
        {[](CVkStringW& s) { return s.AppendFormat(L"%S", "\xFF"); }, -9, L"old",
         "failed AppendFormat keeps text"},
    };
    for (const Case& c : cases) {
        CVkStringW s(L"old");
        EXPECT_EQ(c.op(s), c.result) << c.what;
        EXPECT_EQ(text(s), c.expected) << c.what;
    }

    // A result longer than the capacity of a default string.
    CVkStringW longText;
    const std::wstring hundred(100, L'z');
    EXPECT_EQ(longText.Format(L"%s", hundred.c_str()), 0);
    EXPECT_EQ(text(longText), hundred);
    EXPECT_EQ(longText.GetBufferLength(), 127u);
}

TEST(CVkString, NarrowFormat) {
    CVkStringA s;
    EXPECT_EQ(s.Format("%s|%ls|%c|%lc|%S|%C", "n", L"w\u00e9", 'c', L'\u20ac', L"S", L'C'), 0);
    EXPECT_EQ(text(s), "n|w\xC3\xA9|c|\xE2\x82\xAC|S|C");
    EXPECT_EQ(s.Format("%.1s|%.3ls|%.2s", "\xC3\xA9", L"a\u00e9b", "ab"),
              0); // precision never splits a sequence
    EXPECT_EQ(text(s), "|a\xC3\xA9|ab");
    EXPECT_EQ(s.Format("%ls", L"\xD800"), -9);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.Format("%5.1f|%u", 3.14159, 12u), 0);
    EXPECT_EQ(text(s), "  3.1|12");
}

TEST(CVkString, NumberTextIgnoresTheProcessLocale) {
    ZanTest::DecimalCommaLocale locale;
    if (!locale.active())
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    CVkStringW w;
    w.Format(L"%.2f %g", 2.5, 0.75);
    CVkStringA a;
    a.AddDouble(1.25, 2);
    locale.restore();
    EXPECT_EQ(text(w), L"2.50 0.75");
    EXPECT_EQ(text(a), "1.25");
}
