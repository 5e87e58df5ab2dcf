#include "LiteVariantTestSupport.h"
#include <support/LiteVariantWalk.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>

using namespace lite_test;
using ZanLegacy::CVkByteArray;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantRHolder;
using ZanLegacy::CVkLiteVariantW;
using ZanLegacy::CVkRefLiteVariantR;
using ZanLegacy::CVkStringW;

namespace {

std::wstring walked(CVkLiteVariantR& r) {
    std::wstring text;
    EXPECT_EQ(lite_walk::walkAll(r, text), 0);
    return text;
}

} // namespace

TEST(CVkLiteVariantR, ExampleDocumentByName) {
    CVkLiteVariantR r;
    load(r, exampleDocument());
    std::uint32_t count = 0;
    ASSERT_EQ(r.LevelBegin(L"a", &count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(r.GetLevel(), 0);
    EXPECT_EQ(r.Get(L"x", 7), 5);
    EXPECT_EQ(r.Get(L"y", 7), 7);
    EXPECT_EQ(r.GetCurrentOffset(), 28u); // after x, at the index
    EXPECT_FALSE(r.IsNextValue());
    EXPECT_EQ(r.NextValue(), -9);
    EXPECT_EQ(r.LevelEnd(), 0);
    EXPECT_EQ(r.GetCurrentOffset(), 0u);
    EXPECT_EQ(r.LevelEnd(), 0); // at the top: nothing happens
    EXPECT_EQ(r.GetLevel(), -1);
    EXPECT_EQ(walked(r), L"level 'a' 1\n  i32 'x' 5\n");
}

TEST(CVkLiteVariantR, TypedGettersAcceptTheirTypesAndReturnDefaultsOtherwise) {
    CVkLiteVariantR r;
    load(r, everyKind());
    ASSERT_EQ(r.LevelBegin(L"v"), 0);
    EXPECT_EQ(r.Get(L"b", false), true);
    EXPECT_EQ(r.Get(L"i", 0), -2);
    EXPECT_EQ(r.Get(L"i", 0u), 0xFFFFFFFEu); // 2 and 3 read each other
    EXPECT_EQ(r.Get(L"u", 0), -2);
    EXPECT_EQ(r.Get(L"l", 0L), -4L);
    EXPECT_EQ(r.Get(L"ul", 0L), -16L); // so do 4 and 5
    EXPECT_EQ(r.Get(L"l", 0UL), 0xFFFFFFFFFFFFFFFCUL);
    EXPECT_EQ(r.Get(L"d", 0.0), 0.5);
    EXPECT_EQ(r.Get(L"p", static_cast<void*>(nullptr)), reinterpret_cast<void*>(std::uintptr_t(0x1234)));
    EXPECT_EQ(r.Get(L"i", 7L), 7L); // no conversion between widths
    EXPECT_EQ(r.Get(L"d", 7), 7);
    EXPECT_EQ(r.Get(L"s", 1.5), 1.5);
    EXPECT_EQ(r.Get(L"sub", true), true);

    CVkStringW text;
    EXPECT_STREQ(r.GetCVkStringW(text, L"s", L"def").GetString(), L"h\U0001F600llo");
    EXPECT_STREQ(r.GetCVkStringW(text, L"i", L"def").GetString(), L"def");
    EXPECT_STREQ(r.GetCVkStringW(text, L"missing", L"def").GetString(), L"def");
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(r.GetStringIntoBuffer(buffer, 7, L"s", L""), 0);
    EXPECT_EQ(std::wstring(buffer, 8), std::wstring(L"h\U0001F600llo\0\0#", 8));
    const char16_t* units = r.Get(L"s", static_cast<const char16_t*>(nullptr));
    ASSERT_NE(units, nullptr);
    char16_t first[3];
    std::memcpy(first, units, sizeof first); // not aligned in the buffer
    EXPECT_EQ(std::u16string(first, 3), u"h\U0001F600");
    EXPECT_THROW(r.GetCVkStringW(text, L"s", nullptr), std::logic_error);
    EXPECT_THROW(r.Get(static_cast<const wchar_t*>(nullptr), 1), std::logic_error);

    CVkByteArray bytes;
    EXPECT_EQ(r.Get(L"bytes", bytes), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.GetData()), bytes.GetSize()), "\x01\x02\x03");
    EXPECT_EQ(r.Get(L"none", bytes), 0);
    EXPECT_EQ(bytes.GetData(), nullptr);
    EXPECT_EQ(r.Get(L"i", bytes), -9);
    unsigned char two[2] = {0, 0};
    EXPECT_EQ(r.Get(L"bytes", two, 2), 0);
    EXPECT_EQ(two[1], 2);
    std::size_t n = 0;
    const auto* inside = static_cast<const unsigned char*>(r.Get(L"bytes", &n));
    ASSERT_NE(inside, nullptr);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(inside[2], 3);
    EXPECT_EQ(r.Get(L"s", &n), nullptr);

    // The current-item getters: int reads the bits of an unsigned item, long refuses unsigned 64 bits.
    std::size_t at = 0;
    ASSERT_EQ(r.Find(L"u", at), 0);
    r.SetCurrentOffset(at);
    EXPECT_EQ(r.GetCurrentValue(0), -2);
    EXPECT_EQ(r.GetCurrentValue(true), true);
    ASSERT_EQ(r.Find(L"ul", at), 0);
    r.SetCurrentOffset(at);
    EXPECT_EQ(r.GetCurrentValue(3L), 3L);
    EXPECT_EQ(r.GetCurrentValue(0UL), 0xFFFFFFFFFFFFFFF0UL);
    std::uint64_t raw = 0;
    EXPECT_EQ(r.ReadCurrentValue(&raw, 8), 0);
    EXPECT_EQ(raw, 0xFFFFFFFFFFFFFFF0u);
    ASSERT_EQ(r.Find(L"i", at), 0);
    r.SetCurrentOffset(at);
    raw = 0;
    EXPECT_EQ(r.ReadCurrentValue(&raw, 8), 0); // never more than the value holds
    EXPECT_EQ(raw, 0xFFFFFFFEu);

    // Strings and byte arrays read as a pointer into the buffer; a buffer too small for one is refused
    // untouched instead of overrun.
    ASSERT_EQ(r.Find(L"bytes", at), 0);
    r.SetCurrentOffset(at);
    const void* pointer = nullptr;
    EXPECT_EQ(r.ReadCurrentValue(&pointer, 0), 0);
    EXPECT_EQ(pointer, inside);
    unsigned char small[7] = {9, 9, 9, 9, 9, 9, 9};
    for (std::size_t size : {2u, 3u, 5u, 6u, 7u})
        EXPECT_EQ(r.ReadCurrentValue(small, size), -9) << size;
    EXPECT_EQ(std::count(std::begin(small), std::end(small), 9), 7);
}

TEST(CVkLiteVariantR, StoredBoolOtherThanOneReadsTrueAndLoneSurrogatesReadAsReplacement) {
    Bytes b = written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"r");
        w.Set(false, L"b");
        w.Set(L"aXb", L"s");
    });
    b[18 + 6] = 2; // the bool's value byte, after the root's header and the bool's name
    ASSERT_EQ(b[18 + 6 - 4], 'b');
    const std::size_t x = std::find(b.begin(), b.end(), 'X') - b.begin();
    b[x] = 0x00, b[x + 1] = 0xDC; // a low surrogate alone
    CVkLiteVariantR r;
    load(r, b);
    EXPECT_TRUE(r.Get(L"\\r\\b", false));
    CVkStringW text;
    EXPECT_STREQ(r.GetCVkStringW(text, L"\\r\\s", L"").GetString(), L"a\xFFFD"
                                                                    L"b");
}

TEST(CVkLiteVariantR, PathsAndTheIndexFindItemsFromAnyPosition) {
    const Bytes b = written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"root");
        for (int i = 0; i < 40; ++i)
            w.Set(i, (L"k" + std::to_wstring((i * 17) % 40)).c_str());
        w.LevelBegin(L"sub");
        w.Set(L"found", L"leaf");
        w.LevelEnd();
        w.Set(1, nullptr);
        w.Set(2, L"\U0001F600");
        w.Set(3, L"\xFFFF");
    });
    CVkLiteVariantR r;
    load(r, b);
    CVkStringW text;
    EXPECT_EQ(r.Get(L"leaf", -1), -1); // at the top only the item at the cursor is tried
    EXPECT_STREQ(r.GetCVkStringW(text, L"\\root\\sub\\leaf", L"").GetString(), L"found");
    EXPECT_EQ(r.GetLevel(), 1);
    EXPECT_STREQ(r.GetCVkStringW(text, L"\\root\\sub\\leaf", L"").GetString(), L"found");
    EXPECT_EQ(r.Get(L"\\root\\nothing\\leaf", 5), 5);
    ASSERT_EQ(r.LevelBegin(L"\\root"), 0);
    for (int i : {39, 0, 20, 7, 38, 1, 13})
        EXPECT_EQ(r.Get((L"k" + std::to_wstring((i * 17) % 40)).c_str(), -1), i);
    EXPECT_EQ(r.Get(L"", 0), 1);
    EXPECT_EQ(r.Get(L"\U0001F600", 0), 2);
    EXPECT_EQ(r.Get(L"\xFFFF", 0), 3);
    EXPECT_EQ(r.Get(L"k", -1), -1);        // a prefix of stored names
    EXPECT_EQ(r.Get(L"k400", -1), -1);     // longer than any
    EXPECT_EQ(r.Get(L"\x110000", -1), -1); // no UTF-16 form: simply not there

    // A failed lookup leaves the cursor where it was.
    r.FirstValue();
    const auto before = r.GetCurrentOffset();
    std::size_t at = 0;
    EXPECT_EQ(r.Find(L"absent", at), -9);
    EXPECT_EQ(r.GetCurrentOffset(), before);
    EXPECT_TRUE(r.IsValueSet(L"k5"));
    EXPECT_FALSE(r.IsValueSet(L"k55"));
}

TEST(CVkLiteVariantR, NameOf255UnitsWithoutTerminatorIsFoundByThoseUnits) {
    // Other writers may store 255 name units and no 0 unit.
    Bytes b{0x0B, 0};
    b.insert(b.end(), 12, 0);
    const std::size_t child = b.size();
    b.push_back(2);
    b.push_back(255);
    for (int i = 0; i < 255; ++i) {
        b.push_back('q');
        b.push_back(0);
    }
    b.insert(b.end(), {42, 0, 0, 0});
    put32(b, 2, 1);
    put64(b, 6, b.size());
    b.resize(b.size() + 8);
    put64(b, b.size() - 8, child);
    CVkLiteVariantR r;
    load(r, b);
    ASSERT_EQ(r.LevelBegin(L""), 0);
    r.SetCurrentOffset(b.size()); // force the index search
    EXPECT_EQ(r.Get(std::wstring(255, L'q').c_str(), 0), 42);
    r.FirstValue();
    EXPECT_EQ(r.GetCurrentName().GetLength(), 255u);
    wchar_t shortName[5];
    EXPECT_EQ(r.GetCurrentName(shortName, 4), 0);
    EXPECT_STREQ(shortName, L"qqqq");
    EXPECT_EQ(r.GetCurrentName(nullptr, 4), -9);
}

TEST(CVkLiteVariantR, OldFormIsConvertedOnFirstEntryOrSkip) {
    const Bytes modern = everyKind();
    Bytes old = modern;
    toOldForm(old);
    ASSERT_EQ(old[0], 10);
    ASSERT_NE(old, modern);

    CVkLiteVariantR entered;
    load(entered, old);
    EXPECT_EQ(entered.GetCurrentType(), 10);
    EXPECT_EQ(entered.Get(L"\\v\\sub\\leaf", 0), 9);
    EXPECT_EQ(bytesOf(entered), modern); // both levels converted in one pass

    CVkLiteVariantR skipped;
    load(skipped, old);
    EXPECT_EQ(skipped.NextValue(), 0);
    EXPECT_EQ(skipped.GetCurrentOffset(), old.size());
    EXPECT_EQ(bytesOf(skipped), modern);

    CVkLiteVariantR plain;
    load(plain, modern);
    EXPECT_EQ(walked(skipped), walked(plain));

    // Appending an old-form root converts a private copy; the source keeps its bytes.
    CVkLiteVariantR source;
    load(source, old);
    const Bytes copy = written([&](CVkLiteVariantW& w) {
        w.LevelBegin(L"outer");
        EXPECT_EQ(w.Append(source), 0);
    });
    EXPECT_EQ(bytesOf(source), old);
    CVkLiteVariantR back;
    load(back, copy);
    EXPECT_EQ(back.Get(L"\\outer\\v\\sub\\leaf", 0), 9);

    // So does extracting it: the extract holds the converted root.
    CVkLiteVariantR extracted;
    ASSERT_EQ(source.ExtractCurrent(extracted), 0);
    EXPECT_EQ(bytesOf(source), old);
    EXPECT_EQ(bytesOf(extracted), modern);
}

TEST(CVkLiteVariantR, EnvelopeIsInflatedOnTheFirstRead) {
    const Bytes plain = everyKind();
    const Bytes packed = written(
        [](CVkLiteVariantW& w) {
            CVkLiteVariantR source;
            load(source, everyKind());
            w.Append(source);
        },
        1);
    using Read = std::function<void(CVkLiteVariantR&)>;
    const Read reads[] = {
        [](CVkLiteVariantR& r) { EXPECT_EQ(r.GetCurrentType(), 11); },
        [](CVkLiteVariantR& r) { EXPECT_STREQ(r.GetCurrentName().GetString(), L"v"); },
        [](CVkLiteVariantR& r) { EXPECT_TRUE(r.IsNextValue()); },
    };
    for (const Read& read : reads) {
        CVkLiteVariantR r;
        load(r, packed);
        read(r);
        EXPECT_EQ(bytesOf(r), plain);
        EXPECT_EQ(r.GetCurrentOffset(), 0u);
    }

    // Not an envelope: too short, or a stored size of 0.
    for (Bytes b : {Bytes{'L', 'V', '0', 'Z', 1, 0, 0, 0, 0, 0, 0, 0}, Bytes(packed)}) {
        if (b.size() > 12)
            put64(b, 4, 0);
        CVkLiteVariantR r;
        load(r, b);
        EXPECT_EQ(r.Decompress(), 0);
        EXPECT_EQ(bytesOf(r), b);
    }
}

TEST(CVkLiteVariantR, BadEnvelopesFailAndLeaveTheBufferAlone) {
    const Bytes packed = written(
        [](CVkLiteVariantW& w) {
            w.LevelBegin(L"d");
            w.Set(std::wstring(500, L'z').c_str(), L"s");
        },
        1);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> mutate;
    };
    const Case cases[] = {
        {"damaged stream", [](Bytes& b) { b[b.size() / 2] ^= 0x55; }},
        {"stream cut short", [](Bytes& b) { b.resize(b.size() - 6); }},
        {"stored size too small", [](Bytes& b) { put64(b, 4, ZanLegacy::LiteVariant::loadLE64(&b[4]) - 1); }},
        {"stored size too large", [](Bytes& b) { put64(b, 4, ZanLegacy::LiteVariant::loadLE64(&b[4]) + 1); }},
        {"more than deflate can hold", [](Bytes& b) { put64(b, 4, (b.size() - 12) * 1033); }},
        {"absurd size", [](Bytes& b) { put64(b, 4, ~0ull); }},
    };
    for (const Case& c : cases) {
        Bytes b = packed;
        c.mutate(b);
        CVkLiteVariantR r;
        load(r, b);
        EXPECT_EQ(r.Decompress(), -9) << c.what;
        EXPECT_EQ(bytesOf(r), b) << c.what;
        EXPECT_EQ(r.GetCurrentType(), 0) << c.what;
        EXPECT_EQ(r.NextValue(), -9) << c.what;
    }
}

TEST(CVkLiteVariantR, ExtractReplaceRemoveAndMerge) {
    CVkLiteVariantR r;
    load(r, everyKind());
    CVkLiteVariantR sub;
    ASSERT_EQ(r.LevelBegin(L"v"), 0);
    ASSERT_EQ(r.Extract(L"sub", sub), 0);
    EXPECT_EQ(walked(sub), L"level 'sub' 1\n  i32 'leaf' 9\n");
    EXPECT_EQ(r.Extract(L"missing", sub), -9);

    CVkLiteVariantR with;
    load(with, written([](CVkLiteVariantW& w) {
             w.LevelBegin(L"leaf");
             w.Set(L"now a level", L"t");
         }));
    EXPECT_EQ(r.Replace(L"v\\sub\\leaf", with), -9); // a path begins with a backslash
    ASSERT_EQ(r.Replace(L"\\v\\sub\\leaf", with), 0);
    CVkStringW text;
    EXPECT_STREQ(r.GetCVkStringW(text, L"\\v\\sub\\leaf\\t", L"").GetString(), L"now a level");
    EXPECT_EQ(r.Get(L"\\v\\i", 0), -2);

    ASSERT_EQ(r.Remove(L"\\v\\i"), 0);
    EXPECT_EQ(r.Get(L"\\v\\i", 0), 0);
    EXPECT_EQ(r.Get(L"\\v\\l", 0L), -4L);
    EXPECT_TRUE(r.IsValueSet(L"\\v\\sub\\leaf\\t"));

    CVkLiteVariantR mine, theirs;
    load(mine, written([](CVkLiteVariantW& w) {
             w.LevelBegin(L"m");
             w.Set(1, L"both");
             w.LevelBegin(L"lvl");
             w.Set(1, L"x");
         }));
    load(theirs, written([](CVkLiteVariantW& w) {
             w.LevelBegin(L"m");
             w.Set(2, L"both");
             w.Set(3, L"only");
             w.LevelBegin(L"lvl");
             w.Set(2, L"x");
             w.Set(4, L"y");
         }));
    ASSERT_EQ(mine.Merge(theirs), 0);
    EXPECT_EQ(
        walked(mine),
        L"level 'm' 3\n  i32 'both' 1\n  level 'lvl' 2\n    i32 'x' 1\n    i32 'y' 4\n  i32 'only' 3\n");
    CVkLiteVariantR other;
    load(other, exampleDocument());
    EXPECT_EQ(mine.Merge(other), -9); // no root of that name there
}

TEST(CVkLiteVariantR, CopiesAndSharedReaders) {
    CVkLiteVariantR r;
    load(r, everyKind());
    ASSERT_EQ(r.LevelBegin(L"v"), 0);
    ASSERT_EQ(r.LevelBegin(L"sub"), 0);
    CVkLiteVariantR copy(r);
    EXPECT_EQ(copy.GetLevel(), 1);
    EXPECT_EQ(copy.Get(L"leaf", 0), 9);
    copy = r;
    EXPECT_EQ(copy.Get(L"leaf", 0), 9);

    CVkLiteVariantRHolder a;
    EXPECT_FALSE(a.IsNotNull());
    ASSERT_TRUE(a.MakeNotNull());
    CVkRefLiteVariantR* first = a.Get();
    load(*first, exampleDocument());
    {
        CVkLiteVariantRHolder b(a);
        EXPECT_EQ(b.Get(), first);
        EXPECT_TRUE(first->IsReferencedNonUniquely());
        ASSERT_TRUE(b.MakeNotNullAndUnique());
        EXPECT_NE(b.Get(), first);
        EXPECT_EQ(b.Get()->GetSize(), 0u);
    }
    EXPECT_FALSE(first->IsReferencedNonUniquely());
    ASSERT_TRUE(a.MakeNotNullAndUnique());
    EXPECT_EQ(a.Get(), first); // held only here: kept
    CVkLiteVariantRHolder c;
    c = a;
    c = CVkLiteVariantRHolder();
    EXPECT_EQ(a.Get()->Get(L"\\a\\x", 0), 5);
    CVkRefLiteVariantR* loose = new CVkRefLiteVariantR(r);
    EXPECT_EQ(loose->Release(), 0u); // count 0: destroyed
}

// A random tree written plainly and compressed reads back with the same items, and every child is found
// through the index.
TEST(CVkLiteVariantR, LargeRandomTreeRoundTrip) {
    std::mt19937 random(1234);
    const std::wstring alphabet = L"abcAB_\U0001F600\x00E9";
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::wstring expected;
    std::function<std::size_t(CVkLiteVariantW&, int)> fill = [&](CVkLiteVariantW& w, int depth) {
        const std::size_t children = depth == 0 ? 3000 : pick(depth < 3 ? 40 : 4);
        for (std::size_t i = 0; i < children; ++i) {
            std::wstring name;
            for (std::size_t k = pick(6); k > 0; --k)
                name += alphabet[pick(alphabet.size())];
            const int kind = depth < 4 && pick(10) == 0 ? 10 : static_cast<int>(pick(9)) + 1;
            std::wstring value;
            switch (kind) {
            case 1: {
                const bool v = pick(2);
                w.Set(v, name.c_str());
                value = v ? L"true" : L"false";
                break;
            }
            case 2: {
                const int v = static_cast<int>(random());
                w.Set(v, name.c_str());
                value = std::to_wstring(v);
                break;
            }
            case 3: {
                const unsigned v = random();
                w.Set(v, name.c_str());
                value = std::to_wstring(v);
                break;
            }
            case 4: {
                const long v = static_cast<long>(random()) << 20;
                w.Set(v, name.c_str());
                value = std::to_wstring(v);
                break;
            }
            case 5: {
                const unsigned long v = random() * 3ul << 30;
                w.Set(v, name.c_str());
                value = std::to_wstring(v);
                break;
            }
            case 6: {
                const double v = random() / 7.0;
                w.Set(v, name.c_str());
                value = lite_walk::doubleText(v);
                break;
            }
            case 7: {
                const std::uintptr_t v = random();
                w.Set(reinterpret_cast<void*>(v), name.c_str());
                value = std::to_wstring(v);
                break;
            }
            case 8: {
                std::wstring v;
                for (std::size_t k = pick(30); k > 0; --k)
                    v += alphabet[pick(alphabet.size())];
                w.Set(v.c_str(), name.c_str());
                value = v;
                break;
            }
            case 9: {
                Bytes v(pick(50));
                for (auto& c : v)
                    c = static_cast<unsigned char>(random());
                w.Set(v.data(), v.size(), name.c_str());
                value = lite_walk::hexBytes(v.data(), v.size());
                break;
            }
            default: {
                w.LevelBegin(name.c_str());
                std::wstring inner;
                std::swap(inner, expected);
                const std::size_t count = fill(w, depth + 1);
                w.LevelEnd();
                std::swap(inner, expected);
                expected += lite_walk::line(depth + 1, L"level", name, std::to_wstring(count)) + inner;
                continue;
            }
            }
            expected +=
                lite_walk::line(depth + 1, lite_walk::kindOf(static_cast<std::uint8_t>(kind)), name, value);
        }
        return children;
    };
    CVkLiteVariantW w;
    ASSERT_EQ(w.LevelBegin(L"root"), 0);
    fill(w, 0);
    expected = lite_walk::line(0, L"level", L"root", L"3000") + expected;
    CVkLiteVariantR plain;
    ASSERT_EQ(w.Finalize(plain, 0), 0);
    EXPECT_EQ(walked(plain), expected);

    CVkLiteVariantR packed;
    load(packed, written([&](CVkLiteVariantW& again) { again.Append(plain); }, 1));
    EXPECT_LT(packed.GetSize(), plain.GetSize());
    EXPECT_EQ(walked(packed), expected);
    EXPECT_EQ(bytesOf(packed), bytesOf(plain));
}

// Found by the fuzz target: the room test must apply to the inflated buffer, not to the envelope.
TEST(CVkLiteVariantR, InflatedBufferTooShortForAnItemEndsTheWalk) {
    const Bytes packed = written([](CVkLiteVariantW& w) { w.Set(false, nullptr); }, 1);
    ASSERT_EQ(written([](CVkLiteVariantW& w) { w.Set(false, nullptr); }), (Bytes{1, 0, 0}));
    CVkLiteVariantR r;
    load(r, packed);
    EXPECT_FALSE(r.IsNextValue());
    EXPECT_EQ(bytesOf(r), (Bytes{1, 0, 0}));
}
