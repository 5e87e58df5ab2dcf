// Variant trees written into binary variant buffers and read back from them.
#include "LiteVariantTestSupport.h"
#include "VariantTestSupport.h"
#include <support/LiteVariantWalk.h>

#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/CVkVariant.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>

using lite_test::Bytes;
using varianttest::RunTypeOf;
using ZanLegacy::CVkByteArray;
using ZanLegacy::CVkListVariant;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;
using ZanLegacy::CVkStringW;
using ZanLegacy::CVkVariant;
using ZanLegacy::CVkVariantRunType;

namespace {

const char* const kTimeLoops = "RVkExperiment.RVkExpNETimeLoop";

Bytes bytesOfTree(const CVkVariant& v, int mode = 0) {
    return lite_test::written([&](CVkLiteVariantW& w) { ASSERT_EQ(w.Set(v, nullptr), 0); }, mode);
}

// Reads the tree of the item at offset 0.
int readTree(const Bytes& bytes, CVkVariant& out) {
    CVkLiteVariantR r;
    lite_test::load(r, bytes);
    return r.GetCurrentValue(out);
}

std::wstring traceOf(const CVkVariant& v) {
    CVkStringW text;
    CVkVariant::Trace(text, v);
    return text.GetString();
}

// The path of the first node where a and b differ (member by member, in order: the variant's own
// comparison pairs members by name, which repeated names defeat); empty when they are the same.
std::wstring firstDifference(const CVkVariant& a, const CVkVariant& b, const std::wstring& path = L"") {
    const std::wstring here = path + L"/" + a.GetName().GetString();
    if (!(a.GetName() == b.GetName()) || a.GetRunType() != b.GetRunType() || a.GetCount() != b.GetCount())
        return here;
    if (a.GetCount() < 0)
        return a == b ? L"" : here;
    for (int i = 0; i < a.GetCount(); ++i)
        if (std::wstring d = firstDifference(*a.IndexPtr(i), *b.IndexPtr(i), here); !d.empty())
            return d;
    return L"";
}

// Same names, run types, structure and values.
void expectSameTree(const CVkVariant& a, const CVkVariant& b) {
    EXPECT_EQ(firstDifference(a, b), L"");
    EXPECT_EQ(traceOf(a), traceOf(b));
}

// What a tree reads back as: a null variant is stored as an empty level.
void nullsAsEmptyLists(CVkVariant& v) {
    if (v.GetCount() < 0 && v.GetRunType() == CVkVariantRunType::GetUnknown()) {
        const bool typeChange = v.EnableTypeChange(true);
        v = CVkListVariant();
        v.EnableTypeChange(typeChange);
    }
    for (int i = 0; i < v.GetCount(); ++i)
        nullsAsEmptyLists(*v.IndexPtr(i));
}

std::wstring walkText(const Bytes& bytes) {
    CVkLiteVariantR r;
    lite_test::load(r, bytes);
    std::wstring text;
    EXPECT_EQ(lite_walk::walkAll(r, text), 0);
    return text;
}

// A record with nested record members, lists of records and one value of every kind beside it.
CVkVariant sampleTree() {
    CVkVariant root = varianttest::List(L"root", {});
    root.Append(CVkVariant(true, L"b"));
    root.Append(CVkVariant(std::numeric_limits<int>::min(), L"i32"));
    root.Append(CVkVariant(std::numeric_limits<unsigned int>::max(), L"u32"));
    root.Append(CVkVariant(std::numeric_limits<long>::min(), L"i64"));
    root.Append(CVkVariant(std::numeric_limits<unsigned long>::max(), L"u64"));
    root.Append(CVkVariant(0.1, L"d"));
    root.Append(CVkVariant(-std::numeric_limits<double>::infinity(), L"inf"));
    root.Append(CVkVariant(reinterpret_cast<void*>(std::uintptr_t(0xDEADBEEFCAFEF00Dull)), L"p"));
    root.Append(CVkVariant(L"x<y&z \u00e9\U0001F600", L"s"));
    root.Append(CVkVariant(L"", L"empty"));
    root.Append(CVkVariant(varianttest::Bytes({0, 1, 0xFF}), L"bytes"));
    root.Append(CVkVariant(CVkByteArray(), L"noBytes"));

    CVkVariant loops(CVkVariantRunType(kTimeLoops), L"loops");
    loops[L"uiCount"] = 2u;
    loops[L"sAutoFocusBeforePeriod"][L"dStep"] = 2.5;
    loops[L"sAutoFocusBeforePeriod"][L"sZDrive"] = L"Ti ZDrive";
    loops[L"sAutoFocusBeforePeriod"][L"aFocusPlane"].Append(CVkVariant(1.25, L"z0"));
    for (int i = 0; i < 2; ++i) {
        CVkVariant period(CVkVariantRunType("RVkExperiment.RVkExpTimeLoop"), i ? L"i1" : L"i0");
        period[L"dPeriod"] = 100.0 * (i + 1);
        period[L"wsPhaseName"] = L"phase";
        period[L"sAutoFocusBeforeCapture"][L"eType"] = 3u;
        loops[L"pPeriod"].Append(period);
    }
    root.Append(loops);
    root.Append(varianttest::List(L"plain", {CVkVariant(1, L"one"), varianttest::List(L"inner", {})}));
    return root;
}

} // namespace

// Every value kind and the record types, nested ones and those inside plain lists included, survive the
// trip through the buffer, plain and compressed, and the trip back gives the same bytes.
TEST(CVkLiteVariantTree, RoundTripKeepsRecordTypesAndEveryValueKind) {
    const CVkVariant tree = sampleTree();
    ASSERT_EQ(RunTypeOf(tree[L"loops"][L"pPeriod"][L"i1"]), "RVkExperiment.RVkExpTimeLoop");
    const Bytes plain = bytesOfTree(tree);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        CVkVariant back;
        ASSERT_EQ(readTree(bytesOfTree(tree, mode), back), 0);
        expectSameTree(back, tree);
        EXPECT_EQ(RunTypeOf(back[L"loops"]), kTimeLoops);
        EXPECT_EQ(RunTypeOf(back[L"loops"][L"sAutoFocusBeforePeriod"]), "RVkExperiment.RVkExpAutoFocus");
        EXPECT_EQ(RunTypeOf(back[L"loops"][L"pPeriod"]), "CVkListVariant");
        EXPECT_EQ(RunTypeOf(back[L"loops"][L"pPeriod"][L"i1"]), "RVkExperiment.RVkExpTimeLoop");
        EXPECT_EQ(back[L"loops"][L"pPeriod"][L"i1"][L"dPeriod"].GetDouble(), 200.0);
        EXPECT_EQ(back[L"d"].GetDouble(), 0.1);
        EXPECT_EQ(back[L"p"].GetVoidPtr(), reinterpret_cast<void*>(std::uintptr_t(0xDEADBEEFCAFEF00Dull)));
        EXPECT_EQ(back.Search(L"__m_runType", nullptr), nullptr);
        EXPECT_EQ(bytesOfTree(back), plain);
    }
}

// The record type is the first child in storage order of a record's level, and only there; the value
// kinds get their own item types.
TEST(CVkLiteVariantTree, RunTypeItemOnlyInRecordLevels) {
    const std::wstring text = walkText(bytesOfTree(sampleTree()));
    EXPECT_NE(text.find(L"level 'loops' 10\n    str '__m_runType' RVkExperiment.RVkExpNETimeLoop\n"),
              std::wstring::npos);
    EXPECT_NE(text.find(L"level 'i1' 19\n        str '__m_runType' RVkExperiment.RVkExpTimeLoop\n"),
              std::wstring::npos);
    EXPECT_NE(text.find(L"level 'plain' 2\n    i32 'one' 1\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"level 'pPeriod' 2\n      level 'i0'"), std::wstring::npos);
    EXPECT_NE(text.find(L"  ptr 'p' " + std::to_wstring(0xDEADBEEFCAFEF00Dull) + L"\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"  u64 'u64' 18446744073709551615\n"), std::wstring::npos);
    std::size_t count = 0;
    for (std::size_t at = text.find(L"__m_runType"); at != std::wstring::npos;
         at = text.find(L"__m_runType", at + 1))
        ++count;
    EXPECT_EQ(count, 9u); // loops and both periods, each with its two auto-focus records
}

// A plain list is exactly the document of a level holding its members.
TEST(CVkLiteVariantTree, PlainListIsAPlainLevel) {
    EXPECT_EQ(bytesOfTree(varianttest::List(L"a", {CVkVariant(5, L"x")})), lite_test::exampleDocument());
    // A name given to Set replaces the tree's own.
    const Bytes renamed = lite_test::written(
        [](CVkLiteVariantW& w) { w.Set(varianttest::List(L"other", {CVkVariant(5, L"x")}), L"a"); });
    EXPECT_EQ(renamed, lite_test::exampleDocument());
}

TEST(CVkLiteVariantTree, NullVariantsNamedAndUnnamed) {
    CVkVariant named;
    named.SetName(L"n");
    const Bytes level = bytesOfTree(named);
    EXPECT_EQ(level, lite_test::written([](CVkLiteVariantW& w) { w.LevelBegin(L"n"); }));
    CVkVariant back(7, L"old");
    ASSERT_EQ(readTree(level, back), 0);
    EXPECT_EQ(back.GetName(), L"n");
    EXPECT_EQ(back.GetCount(), 0);
    EXPECT_EQ(RunTypeOf(back), "CVkListVariant");

    EXPECT_TRUE(bytesOfTree(CVkVariant()).empty());

    // As members: the unnamed one leaves no trace, the named one is an empty list.
    CVkVariant list = varianttest::List(L"l", {CVkVariant(1, L"a")});
    list.Append(CVkVariant());
    list.Append(named);
    ASSERT_EQ(list.GetCount(), 3);
    CVkVariant read;
    ASSERT_EQ(readTree(bytesOfTree(list), read), 0);
    ASSERT_EQ(read.GetCount(), 2);
    EXPECT_EQ(read[1].GetName(), L"n");
    EXPECT_EQ(read[1].GetCount(), 0);
}

// Items of other writers: unnamed ones take the default name, an unregistered record type or one that
// names a value kind leaves a plain list, a registered one fills missing members with their defaults.
TEST(CVkLiteVariantTree, ForeignLevels) {
    struct Case {
        const wchar_t* runType;
        const char* expected;
        int count;
    };
    for (const Case& c : {Case{L"RVkIPoint", "RVkIPoint", 2}, Case{L"NoSuchRecord", "CVkListVariant", 1},
                          Case{L"vk_int32", "CVkListVariant", 1}, Case{L"", "CVkListVariant", 1}}) {
        SCOPED_TRACE(c.expected);
        const Bytes bytes = lite_test::written([&](CVkLiteVariantW& w) {
            w.LevelBegin(nullptr);
            w.Set(c.runType, L"__m_runType");
            w.Set(4, L"x");
        });
        CVkVariant back;
        ASSERT_EQ(readTree(bytes, back), 0);
        EXPECT_EQ(back.GetName(), L"no_name");
        EXPECT_EQ(RunTypeOf(back), c.expected);
        ASSERT_EQ(back.GetCount(), c.count);
        EXPECT_EQ(back[L"x"].GetVk_int32(), 4);
        if (c.count == 2) {
            EXPECT_EQ(back[L"y"].GetVk_int32(), 0);
        }
    }
    // Only the first child names the record type.
    const Bytes late = lite_test::written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"r");
        w.Set(4, L"x");
        w.Set(L"RVkIPoint", L"__m_runType");
    });
    CVkVariant back;
    ASSERT_EQ(readTree(late, back), 0);
    EXPECT_EQ(RunTypeOf(back), "CVkListVariant");
    EXPECT_EQ(back.GetCount(), 2);
}

// The cursor stays on the item; the type-change flag of the target is kept; Get finds by name.
TEST(CVkLiteVariantTree, CursorTargetAndLookup) {
    CVkLiteVariantR r;
    lite_test::load(r, bytesOfTree(sampleTree()));
    ASSERT_EQ(r.CurrentLevelBegin(), 0);

    CVkVariant v(7, L"keep");
    ASSERT_FALSE(v.IsEnabledTypeChange());
    EXPECT_EQ(r.Get(L"nothing", v), -9);
    EXPECT_EQ(v.GetName(), L"keep");
    EXPECT_EQ(v.GetVk_int32(), 7);
    EXPECT_EQ(r.GetCurrentName(), L"b"); // the cursor did not move

    ASSERT_EQ(r.Get(L"loops", v), 0);
    EXPECT_EQ(v.GetName(), L"loops");
    EXPECT_EQ(RunTypeOf(v), kTimeLoops);
    EXPECT_FALSE(v.IsEnabledTypeChange());
    EXPECT_EQ(r.GetCurrentName(), L"loops");
    EXPECT_EQ(r.GetLevel(), 0);

    CVkVariant value;
    value.EnableTypeChange(true);
    ASSERT_EQ(r.Get(L"s", value), 0);
    EXPECT_EQ(value.GetCVkStringW(), L"x<y&z \u00e9\U0001F600");
    EXPECT_TRUE(value.IsEnabledTypeChange());

    // At the end of the level there is no item: v stays as it was.
    while (r.NextValue() == 0) {
    }
    EXPECT_EQ(r.GetCurrentValue(value), -9);
    EXPECT_EQ(value.GetCVkStringW(), L"x<y&z \u00e9\U0001F600");
    CVkLiteVariantR empty;
    EXPECT_EQ(empty.GetCurrentValue(value), -9);
}

// The reader enters 256 levels at most, so the writer refuses deeper trees instead of writing them.
TEST(CVkLiteVariantTree, NestingDepthIsCapped) {
    const auto nested = [](int levels) {
        CVkVariant root = varianttest::List(L"l", {});
        CVkVariant* at = &root;
        for (int i = 1; i < levels; ++i)
            at = &at->Append(varianttest::List(L"l", {}));
        at->Append(CVkVariant(1, L"leaf"));
        return root;
    };
    const CVkVariant deepest = nested(256);
    CVkVariant back;
    ASSERT_EQ(readTree(bytesOfTree(deepest), back), 0);
    expectSameTree(back, deepest);

    for (int levels : {257, 3 * CVkVariant::kMaxNestingDepth}) {
        CVkLiteVariantW w;
        EXPECT_EQ(w.Set(nested(levels), nullptr), -9);
        CVkLiteVariantR r;
        w.Finalize(r, 0);
        EXPECT_EQ(r.GetSize(), 0u);
    }
    // A named null variant at the bottom is a level too, an unnamed one is not.
    for (const wchar_t* name : {L"none", L""}) {
        CVkVariant withNull = nested(256);
        CVkVariant* bottom = &withNull;
        while (bottom->IndexPtr(0)->GetCount() >= 0)
            bottom = bottom->IndexPtr(0);
        CVkVariant none;
        if (*name)
            none.SetName(name);
        bottom->Append(none);
        EXPECT_EQ(CVkLiteVariantW().Set(withNull, nullptr), *name ? -9 : 0);
    }
    // Levels already open count.
    CVkLiteVariantW inside;
    inside.LevelBegin(L"root");
    EXPECT_EQ(inside.Set(nested(256), nullptr), -9);
    EXPECT_EQ(inside.Set(nested(255), nullptr), 0);

    // A buffer nested deeper than the reader enters is refused whole.
    const Bytes tooDeep = lite_test::written([](CVkLiteVariantW& w) {
        for (int i = 0; i < 257; ++i)
            w.LevelBegin(L"l");
    });
    CVkVariant kept(3, L"kept");
    EXPECT_EQ(readTree(tooDeep, kept), -9);
    EXPECT_EQ(kept.GetVk_int32(), 3);
}

// A tree the writer cannot take leaves what was written before untouched.
TEST(CVkLiteVariantTree, FailedSetWritesNothing) {
    const auto start = [](CVkLiteVariantW& w) {
        w.LevelBegin(L"a");
        w.Set(5, L"x");
    };
    CVkVariant bad = varianttest::List(L"bad", {CVkVariant(1, L"first")});
    bad.Append(CVkVariant(L"\xD800", L"lone")); // a surrogate has no UTF-16 form of its own
    const Bytes after = lite_test::written([&](CVkLiteVariantW& w) {
        start(w);
        EXPECT_THROW(w.Set(bad, nullptr), std::range_error);
    });
    EXPECT_EQ(after, lite_test::exampleDocument());

    // A second item at the top of a document.
    const Bytes second = lite_test::written([&](CVkLiteVariantW& w) {
        start(w);
        w.LevelEnd();
        EXPECT_EQ(w.Set(varianttest::List(L"b", {CVkVariant(1, L"y")}), nullptr), -9);
        CVkVariant none;
        none.SetName(L"n");
        EXPECT_EQ(w.Set(none, nullptr), -9);
    });
    EXPECT_EQ(second, lite_test::exampleDocument());
}

// Damaged buffers: every single-byte change and every truncation of a written tree reads as a tree or
// as -9 with the target unchanged, and whatever is read writes back.
TEST(CVkLiteVariantTree, DamagedBuffersFailCleanly) {
    const Bytes good = bytesOfTree(
        varianttest::List(L"r", {CVkVariant(1, L"a"), CVkVariant(CVkVariantRunType("RVkIPoint"), L"pt"),
                                 CVkVariant(L"s", L"s"), varianttest::List(L"l", {CVkVariant(2.0, L"d")})}));
    const auto check = [](const Bytes& bytes) {
        CVkVariant v(9, L"target");
        const int rc = readTree(bytes, v);
        ASSERT_TRUE(rc == 0 || rc == -9) << rc;
        if (rc != 0) {
            EXPECT_EQ(v.GetName(), L"target");
            EXPECT_EQ(v.GetVk_int32(), 9);
            return;
        }
        CVkLiteVariantW w;
        EXPECT_EQ(w.Set(v, nullptr), 0);
    };
    int failed = 0;
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (unsigned char change : {0x00, 0x01, 0x80, 0xFF}) {
            Bytes bad = good;
            bad[i] ^= change;
            check(bad);
        }
        Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(i));
        check(cut);
        CVkVariant v;
        failed += readTree(cut, v) != 0;
    }
    EXPECT_EQ(failed, int(good.size())); // no proper prefix holds the tree

    // A damaged child inside a level: the walk stops there rather than standing on it.
    Bytes bad = good;
    CVkLiteVariantR r;
    lite_test::load(r, bad);
    ASSERT_EQ(r.CurrentLevelBegin(), 0);
    r.NextValue();
    bad[r.GetCurrentOffset()] = 0;
    CVkVariant v;
    EXPECT_EQ(readTree(bad, v), -9);
}

// A large random tree of every kind, records included, round trips plain and compressed.
TEST(CVkLiteVariantTree, LargeRandomTreeRoundTrip) {
    varianttest::RandomTree random(20261211);
    CVkVariant tree = random.make(6);
    for (int i = 0; i < 200; ++i)
        tree.Append(random.make(5));
    for (std::uintptr_t p : {std::uintptr_t(0), std::uintptr_t(16), ~std::uintptr_t(0)})
        tree.Append(CVkVariant(reinterpret_cast<void*>(p), L"ptr"));
    const Bytes plain = bytesOfTree(tree);
    ASSERT_GT(plain.size(), 100000u);
    CVkVariant expected = tree;
    nullsAsEmptyLists(expected);
    ASSERT_NE(traceOf(expected), traceOf(tree)); // it has null variants
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        const Bytes bytes = bytesOfTree(tree, mode);
        if (mode == 1) {
            EXPECT_LT(bytes.size(), plain.size());
        }
        CVkVariant back;
        ASSERT_EQ(readTree(bytes, back), 0);
        expectSameTree(back, expected);
        EXPECT_EQ(bytesOfTree(back), plain);
    }
}

// A small tree with records for the binary variant fuzz target.
TEST(CVkLiteVariantTreeFuzzSeeds, Write) {
    const std::filesystem::path dir = seedDirectory();
    if (dir.empty())
        GTEST_SKIP() << "set ZAN_WRITE_FUZZ_SEEDS to a directory to write the seeds";
    CVkVariant none;
    none.SetName(L"none");
    CVkVariant point(CVkVariantRunType("RVkIPoint"), L"pt");
    point[L"x"] = 3;
    CVkVariant rect(CVkVariantRunType("RVkIRect"), L"rc");
    const Bytes tree = bytesOfTree(varianttest::List(L"tree", {point, rect, none, CVkVariant(L"t", L"s")}));
    saveSeed(dir, "records", tree.data(), tree.size());
}
