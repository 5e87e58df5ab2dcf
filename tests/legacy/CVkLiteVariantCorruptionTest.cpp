// Damaged buffers made by mutating what our writer wrote: every one must read as a failure (-9), never
// as a read outside the buffer (the sanitizer build runs these too). Also writes the seed corpus of the
// reader's fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/lite_variant_fuzz build/release/tests/test_legacy
//   --gtest_filter='CVkLiteVariantFuzzSeeds.*'

#include "LiteVariantTestSupport.h"
#include <support/LiteVariantWalk.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace lite_test;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;
namespace lv = ZanLegacy::LiteVariant;

namespace {

// doc { n: i32, b: bytes, inner { u: u64, deep { f: bool } }, s: string }
Bytes document() {
    return written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"doc");
        w.Set(1, L"n");
        w.Set("xyz", std::size_t(3), L"b");
        w.LevelBegin(L"inner");
        w.Set(2UL, L"u");
        w.LevelBegin(L"deep");
        w.Set(true, L"f");
        w.LevelEnd();
        w.LevelEnd();
        w.Set(L"last", L"s");
    });
}

// Where things are in a buffer of that shape, in the new form.
struct Layout {
    lv::ItemView root, n, b, inner, u, deep, s;

    explicit Layout(const Bytes& d) {
        const unsigned char* p = d.data();
        EXPECT_TRUE(lv::ParseItem(p, 0, d.size(), root));
        EXPECT_TRUE(lv::ParseItem(p, root.children, root.index, n));
        EXPECT_TRUE(lv::ParseItem(p, n.end, root.index, b));
        EXPECT_TRUE(lv::ParseItem(p, b.end, root.index, inner));
        EXPECT_TRUE(lv::ParseItem(p, inner.children, inner.index, u));
        EXPECT_TRUE(lv::ParseItem(p, u.end, inner.index, deep));
        EXPECT_TRUE(lv::ParseItem(p, inner.end, root.index, s));
    }
};

std::size_t indexOffsetField(const lv::ItemView& level) {
    return level.value + 4;
}

struct Corruption {
    const char* what;
    bool oldForm;
    std::function<void(Bytes&, const Layout&)> mutate;
};

} // namespace

TEST(CVkLiteVariantCorruption, EveryMutationReadsAsFailure) {
    const Corruption cases[] = {
        {"root count past the buffer", false,
         [](Bytes& d, const Layout& l) { put32(d, l.root.value, 0xFFFFFFFF); }},
        {"root index past the buffer", false,
         [](Bytes& d, const Layout& l) { put64(d, indexOffsetField(l.root), d.size()); }},
        {"root index inside its header", false,
         [](Bytes& d, const Layout& l) { put64(d, indexOffsetField(l.root), 5); }},
        {"root index offset wraps", false,
         [](Bytes& d, const Layout& l) { put64(d, indexOffsetField(l.root), ~0ull - 3); }},
        {"buffer cut by one byte", false, [](Bytes& d, const Layout&) { d.pop_back(); }},
        {"buffer cut inside the root header", false, [](Bytes& d, const Layout&) { d.resize(9); }},
        {"name longer than its level", false, [](Bytes& d, const Layout& l) { d[l.s.pos + 1] = 250; }},
        {"string without its 0 unit", false, [](Bytes& d, const Layout& l) { d[l.s.end - 2] = 'x'; }},
        {"byte count past the level", false,
         [](Bytes& d, const Layout& l) { put64(d, l.b.value, 1ull << 40); }},
        {"byte count wraps", false, [](Bytes& d, const Layout& l) { put64(d, l.b.value, ~0ull); }},
        {"type code 0", false, [](Bytes& d, const Layout& l) { d[l.n.pos] = 0; }},
        {"type code 12", false, [](Bytes& d, const Layout& l) { d[l.n.pos] = 12; }},
        {"type code 76 inside", false, [](Bytes& d, const Layout& l) { d[l.u.pos] = 'L'; }},
        {"index entry at the index", false,
         [](Bytes& d, const Layout& l) { put64(d, l.root.index, l.root.index); }},
        {"index entry inside the header", false,
         [](Bytes& d, const Layout& l) { put64(d, l.root.index, 3); }},
        {"index entry far away", false,
         [](Bytes& d, const Layout& l) { put64(d, l.root.index + 8, 1ull << 62); }},
        {"index entry on a child's middle", false,
         [](Bytes& d, const Layout& l) { put64(d, l.root.index, l.b.value + 3); }},
        {"nested level reaches past its parent", false,
         [](Bytes& d, const Layout& l) {
             put64(d, indexOffsetField(l.inner), l.inner.index - l.inner.pos + 8);
         }},
        {"nested count past its parent", false,
         [](Bytes& d, const Layout& l) { put32(d, l.deep.value, 1000); }},
        // A count that disagrees with the items the level holds, yet fits inside its parent: the level's
        // extent, and so where its next sibling starts, comes out wrong.
        {"nested count too small", false,
         [](Bytes& d, const Layout& l) { put32(d, l.inner.value, l.inner.count - 1); }},
        {"nested count too large", false,
         [](Bytes& d, const Layout& l) { put32(d, l.inner.value, l.inner.count + 1); }},
        {"old form: entry at its own level", true,
         [](Bytes& d, const Layout& l) { put64(d, l.inner.index, l.inner.pos); }},
        {"old form: entry at the root", true, [](Bytes& d, const Layout& l) { put64(d, l.deep.index, 0); }},
        {"old form: entry past the index", true,
         [](Bytes& d, const Layout& l) { put64(d, l.inner.index, l.inner.index + 1); }},
        {"old form: index before the header", true,
         [](Bytes& d, const Layout& l) { put64(d, indexOffsetField(l.inner), l.inner.pos); }},
        {"old form: index past the parent", true,
         [](Bytes& d, const Layout& l) { put64(d, indexOffsetField(l.deep), l.inner.index); }},
        {"old form: level listed twice", true,
         [](Bytes& d, const Layout& l) {
             // Both entries of the root that are not inner point at inner: the same level reached again.
             for (std::uint32_t i = 0; i < l.root.count; ++i)
                 put64(d, l.root.index + 8 * i, l.inner.pos);
         }},
    };
    const Bytes plain = document();
    const Layout layout(plain);
    Bytes old = plain;
    toOldForm(old);
    for (const Bytes& sound : {plain, old}) {
        CVkLiteVariantR r;
        load(r, sound);
        std::wstring text;
        ASSERT_EQ(lite_walk::walkAll(r, text), 0);
    }
    for (const Corruption& c : cases) {
        Bytes damaged = c.oldForm ? old : plain;
        c.mutate(damaged, layout);
        CVkLiteVariantR r;
        load(r, damaged);
        std::wstring text;
        EXPECT_EQ(lite_walk::walkAll(r, text), -9) << c.what;
        if (c.oldForm) {
            EXPECT_EQ(bytesOf(r), damaged) << c.what << ": the refused conversion changed bytes";
        }
        // The path lookups and getters stay inside the buffer too.
        r.Get(L"\\doc\\inner\\deep\\f", false);
        r.Get(L"\\doc\\s", static_cast<const char16_t*>(nullptr));
        r.Get(L"\\doc\\b", static_cast<std::size_t*>(nullptr));
        r.Merge(r);
    }
}

TEST(CVkLiteVariantCorruption, NestingIsCappedAt256Levels) {
    const auto nested = [](int depth) {
        return written([depth](CVkLiteVariantW& w) {
            for (int i = 0; i < depth; ++i)
                w.LevelBegin(L"l");
            w.Set(1, L"x");
        });
    };
    CVkLiteVariantR r;
    load(r, nested(256));
    std::wstring text;
    EXPECT_EQ(lite_walk::walkAll(r, text), 0);
    load(r, nested(300));
    EXPECT_EQ(lite_walk::walkAll(r, text), -9);
    Bytes old = nested(300);
    toOldForm(old);
    load(r, old);
    EXPECT_EQ(r.ConvertLV31toLV32(), -9);
    EXPECT_EQ(bytesOf(r), old);
}

TEST(CVkLiteVariantFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const auto save = [&](const char* name, const Bytes& b) { saveSeed(dir, name, b.data(), b.size()); };
    save("example", exampleDocument());
    save("document", document());
    Bytes old = document();
    toOldForm(old);
    save("old-form", old);
    save("packed", written(
                       [](CVkLiteVariantW& w) {
                           w.LevelBegin(L"packed");
                           w.Set(0.25, L"d");
                           w.Set(L"text text text text", L"t");
                           w.LevelBegin(L"__runs");
                           w.Set(L"SVkRecord", L"__m_runType");
                           w.Set(-1L, L"v");
                       },
                       1));
}
