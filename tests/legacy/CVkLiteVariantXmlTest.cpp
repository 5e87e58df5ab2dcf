#include "LiteVariantTestSupport.h"
#include <support/LiteVariantWalk.h>

#include <legacy/VkDiagnostics.h>

#include <gtest/gtest.h>

#include <string>

using namespace lite_test;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;
using ZanLegacy::CVkStringW;

namespace {

std::wstring xmlOf(const Bytes& b) {
    CVkLiteVariantR r;
    load(r, b);
    CVkStringW out;
    EXPECT_EQ(r.LiteVariantToXML(out), 0);
    return out.GetString();
}

} // namespace

TEST(CVkLiteVariantXml, RecordLevelsPrintTheirRunTypeAndNeverTheRunTypeItem) {
    const Bytes b = written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"rec");
        w.Set(L"SVkFoo", L"__m_runType");
        w.Set(1, L"a");
        w.LevelBegin(L"list");
        w.Set(0.5, L"d");
        w.LevelEnd();
        w.Set(L"late", L"__m_runType"); // not the first child: not a run type, and still not printed
    });
    EXPECT_EQ(xmlOf(b),
              L"<rec runtype=\"SVkFoo\"><a runtype=\"vk_int32\" value=\"1\"/>"
              L"<list runtype=\"CVkListVariant\"><d runtype=\"double\" value=\"0.500000000000000\"/>"
              L"</list></rec>");
}

TEST(CVkLiteVariantXml, ValueTextsOfEveryKind) {
    const Bytes b = written([](CVkLiteVariantW& w) {
        w.LevelBegin(nullptr);
        w.Set(true, L"b");
        w.Set(-2147483647 - 1, L"i");
        w.Set(4294967295u, L"u");
        w.Set(-9223372036854775807L - 1, L"l");
        w.Set(18446744073709551615UL, L"ul");
        w.Set(-2.25, L"d");
        w.Set(reinterpret_cast<void*>(std::uintptr_t(0x1234)), L"p");
        w.Set(static_cast<void*>(nullptr), L"p0");
        w.Set(L"t\U0001F600", L"s");
        w.Set("\x01\x02\x03", std::size_t(3), L"y");
        w.Set(nullptr, std::size_t(0), L"e");
        w.Set(false, nullptr);
    });
    EXPECT_EQ(xmlOf(b), L"<no_name runtype=\"CVkListVariant\">"
                        L"<b runtype=\"bool\" value=\"true\"/>"
                        L"<i runtype=\"vk_int32\" value=\"-2147483648\"/>"
                        L"<u runtype=\"vk_uint32\" value=\"4294967295\"/>"
                        L"<l runtype=\"vk_int64\" value=\"-9223372036854775808\"/>"
                        L"<ul runtype=\"vk_uint64\" value=\"18446744073709551615\"/>"
                        L"<d runtype=\"double\" value=\"-2.250000000000000\"/>"
                        L"<p runtype=\"voidPtr\" value=\"0x1234\"/>"
                        L"<p0 runtype=\"voidPtr\" value=\"(nil)\"/>"
                        L"<s runtype=\"CVkStringW\" value=\"t\U0001F600\"/>"
                        L"<y runtype=\"CVkByteArray\" value=\"AQID\"/>"
                        L"<e runtype=\"CVkByteArray\" value=\"\"/>"
                        L"<no_name runtype=\"bool\" value=\"false\"/>"
                        L"</no_name>");
}

TEST(CVkLiteVariantXml, PrintThenScanGivesTheSameItems) {
    const Bytes b = written([](CVkLiteVariantW& w) {
        w.LevelBegin(L"root");
        w.Set(L"SVkRecord", L"__m_runType");
        w.Set(false, L"b");
        w.Set(-7, L"i");
        w.Set(7u, L"u");
        w.Set(-1L << 40, L"l");
        w.Set(1UL << 63, L"ul");
        w.Set(0.5, L"d");
        w.Set(reinterpret_cast<void*>(std::uintptr_t(0xBEEF)), L"p");
        w.Set(L"plain text", L"s");
        w.Set(L"", L"empty");
        w.Set("\xFF\x00\x10", std::size_t(3), L"y");
        w.LevelBegin(L"inner");
        w.LevelBegin(L"emptyLevel");
        w.LevelEnd();
        w.Set(3, L"x");
        w.Set(4, L"two words"); // a blank is no markup: the name runs up to the runtype attribute
        w.LevelBegin(L"a level");
        w.Set(5, L"y");
    });
    CVkLiteVariantR r;
    load(r, b);
    CVkStringW text;
    ASSERT_EQ(r.LiteVariantToXML(text), 0);
    CVkLiteVariantR back;
    ASSERT_EQ(back.LiteVariantFromXML(text), 0);
    std::wstring expected, got;
    ASSERT_EQ(lite_walk::walkAll(r, expected), 0);
    ASSERT_EQ(lite_walk::walkAll(back, got), 0);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(bytesOf(back), b);

    // Inside a "variant" element with a declaration and line breaks; what follows it is ignored.
    CVkStringW wrapped(L"<?xml version=\"1.0\"?>\n<variant version=\"1.0\">\n");
    wrapped += text;
    wrapped += L"\n</variant><junk";
    CVkLiteVariantR again;
    ASSERT_EQ(again.LiteVariantFromXML(wrapped), 0);
    EXPECT_EQ(bytesOf(again), b);
}

TEST(CVkLiteVariantXml, MalformedTextFailsAndLeavesTheReaderAlone) {
    const wchar_t* const cases[] = {
        L"<a runtype=\"vk_int32\" value=\"1\"",
        L"<a runtype=\"vk_int32\" value=\"1\">",
        L"<a runtype=\"vk_int32\" value=\"1",
        L"<a runtype=\"vk_int32",
        L"<a",
        L"<",
        L"< runtype=\"bool\" value=\"true\"/>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"2147483648\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\" 1\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_uint32\" value=\"-1\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_uint32\" value=\"4294967296\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_int64\" value=\"9223372036854775808\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_uint64\" value=\"18446744073709551616\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"\x0661\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"double\" value=\"1.5x\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"double\" value=\"1e999\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"voidPtr\" value=\"0xZZ\"/></r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"SVkUnknown\" value=\"1\"/></r>",
        L"<r runtype=\"CVkListVariant\"></r></r>",
        L"<r runtype=\"CVkListVariant\"></r><s runtype=\"CVkListVariant\"></s>",
        L"<r runtype=\"CVkListVariant\">text</r>",
        L"<r runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"1\"/></r",
        L"<?xml",
    };
    for (const wchar_t* text : cases) {
        CVkLiteVariantR r;
        load(r, exampleDocument());
        CVkStringW input(text);
        EXPECT_EQ(r.LiteVariantFromXML(input), -9) << CVkStringW(text).GetUtf8();
        EXPECT_EQ(bytesOf(r), exampleDocument());
    }
}

TEST(CVkLiteVariantXml, TracePrintsTheTextAndKeepsTheCursor) {
    CVkLiteVariantR r;
    load(r, exampleDocument());
    ZanLegacy::CVkDiagnosticCapture capture;
    EXPECT_EQ(r.Trace(), 0);
    EXPECT_EQ(capture.Text(), "<a runtype=\"CVkListVariant\"><x runtype=\"vk_int32\" value=\"5\"/></a>");
    EXPECT_EQ(r.GetCurrentOffset(), 0u);
}

// Writes the seed corpus of the flat XML fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/lite_variant_xml_fuzz build/release/tests/test_legacy
//   --gtest_filter='CVkLiteVariantXmlFuzzSeeds.*'
TEST(CVkLiteVariantXmlFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const auto save = [&](const char* name, const Bytes& b) {
        CVkLiteVariantR r;
        load(r, b);
        CVkStringW text;
        r.LiteVariantToXML(text);
        const std::string utf8 = text.GetUtf8();
        saveSeed(dir, name, utf8.data(), utf8.size());
    };
    save("example", exampleDocument());
    save("kinds", everyKind());
}
