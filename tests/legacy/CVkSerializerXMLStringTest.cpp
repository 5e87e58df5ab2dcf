#include <legacy/CVkSerializerXMLString.h>
#include <legacy/CVkStringA.h>
#include <legacy/CVkStringW.h>
#include <legacy/CVkVariant.h>
#include <legacy/CVkXMLAPI.h>
#include <legacy/VkDiagnostics.h>

#include "VariantTestSupport.h"

#include <support/DecimalCommaLocale.h>
#include <support/FuzzSeeds.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

using varianttest::RunTypeOf;
using ZanLegacy::CVkByteArray;
using ZanLegacy::CVkDiagnosticCapture;
using ZanLegacy::CVkSerializerXMLString;
using ZanLegacy::CVkStringA;
using ZanLegacy::CVkStringW;
using ZanLegacy::CVkVariant;
using ZanLegacy::CVkVariantRunType;
using ZanLegacy::CVkXMLAPI;

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">";
const std::string kTail = "</variant>";

std::string document(const std::string& inner) {
    return kHead + inner + kTail;
}

std::wstring text(const CVkStringW& s) {
    return std::wstring(s.GetString(), s.GetLength());
}

CVkVariant pointerParameter(const void* p, const wchar_t* name) {
    return CVkVariant(const_cast<void*>(p), name);
}

std::string saveUtf8(const CVkVariant& v) {
    CVkStringA out("left over");
    CVkVariant params = CVkVariant::CreateStruct(L"params", {pointerParameter(&out, L"stringUTF8")});
    EXPECT_EQ(CVkSerializerXMLString().Save(params, v), 0);
    return std::string(out.GetString(), out.GetLength());
}

std::wstring saveWide(const CVkVariant& v) {
    CVkStringW out(L"left over");
    CVkVariant params = CVkVariant::CreateStruct(L"params", {pointerParameter(&out, L"string")});
    EXPECT_EQ(CVkSerializerXMLString().Save(params, v), 0);
    return text(out);
}

int loadUtf8(CVkVariant& out, const std::string& xml) {
    const CVkVariant params = CVkVariant::CreateStruct(
        L"params", {pointerParameter(xml.data(), L"rawStringUTF8"),
                    CVkVariant(static_cast<unsigned int>(xml.size()), L"rawStringLen")});
    return CVkSerializerXMLString().Load(out, params);
}

int loadWide(CVkVariant& out, const std::wstring& xml) {
    const CVkStringW wide(xml.c_str());
    const CVkVariant params = CVkVariant::CreateStruct(L"params", {pointerParameter(&wide, L"string")});
    return CVkSerializerXMLString().Load(out, params);
}

} // namespace

TEST(CVkSerializerXMLString, ExactTextOfSmallTrees) {
    const CVkVariant plain = CVkVariant::CreateStruct(
        L"root", {CVkVariant(5, L"i"), CVkVariant(0.1, L"d"), CVkVariant(CVkStringW(L"x<y&z"), L"s")});
    const std::string inner = "<root runtype=\"CVkListVariant\"><i runtype=\"vk_int32\" value=\"5\"/>"
                              "<d runtype=\"double\" value=\"0.1\"/>"
                              "<s runtype=\"CVkStringW\" value=\"x&#x003C;y&#x0026;z\"/></root>";
    EXPECT_EQ(saveUtf8(plain), document(inner));
    EXPECT_EQ(saveWide(plain), L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><variant version=\"1.0\">" +
                                   std::wstring(inner.begin(), inner.end()) + L"</variant>");

    // Every kind's value text; doubles with 15 significant digits, byte arrays in Base64 unescaped.
    const unsigned char bytes[] = {0xFB, 0xFF, 0x01};
    CVkVariant point(CVkVariantRunType("RVkIPoint"), L"p");
    point[L"y"] = -3;
    const CVkVariant kinds = CVkVariant::CreateStruct(
        L"k", {CVkVariant(-7, L"a"), CVkVariant(4294967295u, L"b"), CVkVariant(-9000000000000000000l, L"c"),
               CVkVariant(std::numeric_limits<unsigned long>::max(), L"e"), CVkVariant(1.0 / 3, L"f"),
               CVkVariant(1e20, L"g"), CVkVariant(123456789012345678.0, L"h"), CVkVariant(true, L"t"),
               CVkVariant(CVkByteArray(bytes, 3, 16), L"ba"), CVkVariant(CVkByteArray(), L"none"),
               CVkVariant(), CVkVariant::CreateStruct(L"empty", std::initializer_list<CVkVariant>{}), point});
    EXPECT_EQ(
        saveUtf8(kinds),
        document("<k runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"-7\"/>"
                 "<b runtype=\"vk_uint32\" value=\"4294967295\"/>"
                 "<c runtype=\"vk_int64\" value=\"-9000000000000000000\"/>"
                 "<e runtype=\"vk_uint64\" value=\"18446744073709551615\"/>"
                 "<f runtype=\"double\" value=\"0.333333333333333\"/><g runtype=\"double\" value=\"1e+20\"/>"
                 "<h runtype=\"double\" value=\"1.23456789012346e+17\"/><t runtype=\"bool\" value=\"true\"/>"
                 "<ba runtype=\"CVkByteArray\" value=\"+/8B\"/><none runtype=\"CVkByteArray\" value=\"\"/>"
                 "<no_name runtype=\"unknown\" value=\"\"/><empty runtype=\"CVkListVariant\"></empty>"
                 "<p runtype=\"RVkIPoint\"><x runtype=\"vk_int32\" value=\"0\"/>"
                 "<y runtype=\"vk_int32\" value=\"-3\"/></p></k>"));
}

TEST(CVkSerializerXMLString, EscapingOfAttributeValues) {
    struct Case {
        const wchar_t* value;
        const wchar_t* escaped;
    };
    const Case cases[] = {
        {L"a<b>c", L"a&#x003C;b>c"},
        {L"\"q\"", L"&#x0022;q&#x0022;"},
        {L"\r\n", L"&#x000d;&#x000a;"},
        {L"a\tb", L"a&#x0009;b"},                 // a literal TAB would come back as a blank
        {L"x&", L"x&#x0026;"},                    // an ampersand at the end like any other
        {L"&#65;", L"&#x0026;#65;"},              // always escaped, even before a number sign
        {L"&#x003C;", L"&#x0026;#x0026;#x003C;"}, // the texts that unescaping replaces come back unchanged
        {L"\x01\x1f", L"\U000F0001\U000F001F"},
        {L"caf\u00e9 \U0001F600", L"caf\u00e9 \U0001F600"},
        {L"\xFFFE", L"\xFFFD"}, // XML cannot carry it at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.value)));
        CVkStringW value(c.value);
        CVkXMLAPI::ValidateXML_AttValue(value);
        EXPECT_EQ(text(value), c.escaped);
    }

    // Unescaping after the parser has decoded the references.
    const Case decoded[] = {
        {L"\U000F0001\U000F0009\U000F000A", L"\x01\U000F0009\U000F000A"},
        {L"&#x003C;&#x0022;&#x000d;&#x000a;&#x0026;", L"<\"\r\n&"},
        {L"&#x0026;#x003C;", L"&#x003C;"},
        {L"no ampersand #x003C;", L"no ampersand #x003C;"},
    };
    for (const Case& c : decoded) {
        CVkStringW value(c.value);
        CVkXMLAPI::RevalidateXML_AttValue(value);
        EXPECT_EQ(text(value), c.escaped);
    }
}

TEST(CVkSerializerXMLString, StringsLoadBackEqualInBothForms) {
    const wchar_t* strings[] = {L"a<b\"c\"&d>e",
                                L"\r\n\r",
                                L"\ttab\t",
                                L"ends with &",
                                L"&#65;&amp;&#x41;",
                                L"&#x003C;&#x0022;&#x000d;&#x000a;&#x0026;",
                                L"&#x0026;#x0026;",
                                L"\x01\x02\x1f",
                                L"  two  blanks  ",
                                L"caf\u00e9 \u20ac \U0001F600",
                                L""};
    for (const wchar_t* s : strings) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(s)));
        const CVkVariant tree = CVkVariant::CreateStruct(L"r", {CVkVariant(CVkStringW(s), L"s")});
        CVkVariant fromUtf8, fromWide;
        ASSERT_EQ(loadUtf8(fromUtf8, saveUtf8(tree)), 0);
        ASSERT_EQ(loadWide(fromWide, saveWide(tree)), 0);
        EXPECT_EQ(text(fromUtf8[L"s"].GetCVkStringW()), s);
        EXPECT_EQ(text(fromWide[L"s"].GetCVkStringW()), s);
    }
}

TEST(CVkSerializerXMLString, RecordsFillMemberByMember) {
    // A camera setting that names only some members, one with a foreign run type, one unknown member
    // with a subtree, and a nested record given in part.
    const std::string xml = document(
        "<cam runtype=\"RVkCameraSetting\"><dExposure runtype=\"double\" value=\"12.5\"/>"
        "<dGain runtype=\"CVkStringW\" value=\"2.25\"/>"
        "<sCameraName runtype=\"CVkStringW\" value=\"Cam&#x0026;1\"/>"
        "<unknownMember runtype=\"RVkIPoint\"><x runtype=\"vk_int32\" value=\"9\"/>"
        "<deeper runtype=\"CVkListVariant\"><z runtype=\"vk_int32\" value=\"1\"/></deeper></unknownMember>"
        "<rcCamChipSrc runtype=\"RVkIRect\"><right runtype=\"vk_int32\" value=\"640\"/>"
        "<extra runtype=\"vk_int32\" value=\"5\"/></rcCamChipSrc></cam>");
    CVkVariant out;
    ASSERT_EQ(loadUtf8(out, xml), 0);
    EXPECT_EQ(RunTypeOf(out), "RVkCameraSetting");
    EXPECT_EQ(text(out.GetName()), L"cam");
    EXPECT_EQ(out.GetCount(), 28);
    EXPECT_EQ(out[L"dExposure"].GetDouble(), 12.5);
    EXPECT_EQ(RunTypeOf(out[L"dGain"]), "double");
    EXPECT_EQ(out[L"dGain"].GetDouble(), 2.25);
    EXPECT_EQ(out[L"dGamma"].GetDouble(), 1.0); // absent: the registered default
    EXPECT_EQ(text(out[L"sCameraName"].GetCVkStringW()), L"Cam&1");
    EXPECT_EQ(out.SearchFixedOneLevel(L"unknownMember"), nullptr);
    const CVkVariant& chip = out[L"rcCamChipSrc"];
    EXPECT_EQ(RunTypeOf(chip), "RVkIRect");
    EXPECT_EQ(chip.GetCount(), 4);
    EXPECT_EQ(chip[L"right"].GetVk_int32(), 640);
    EXPECT_EQ(chip[L"left"].GetVk_int32(), 0);
    EXPECT_FALSE(out.IsEnabledTypeChange());

    // Saved and loaded again: the same values, member for member.
    CVkVariant again;
    ASSERT_EQ(loadUtf8(again, saveUtf8(out)), 0);
    EXPECT_TRUE(again == out);
    EXPECT_EQ(saveUtf8(again), saveUtf8(out));
}

TEST(CVkSerializerXMLString, ListsEnteredAgainAreFilledByName) {
    // The second element of the same list member finds the elements of the first one by name.
    CVkVariant out;
    ASSERT_EQ(
        loadUtf8(out, document("<p runtype=\"RVkOpticalFilterPath\">"
                               "<m_pFilter runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"1\"/>"
                               "<a runtype=\"vk_int32\" value=\"4\"/></m_pFilter>"
                               "<m_pFilter runtype=\"CVkListVariant\"><a runtype=\"CVkStringW\" value=\"2\"/>"
                               "<b runtype=\"vk_int32\" value=\"3\"/></m_pFilter></p>")),
        0);
    const CVkVariant& filters = out[L"m_pFilter"];
    ASSERT_EQ(filters.GetCount(), 3);
    EXPECT_EQ(filters[0].GetVk_int32(), 2);
    EXPECT_EQ(RunTypeOf(filters[0]), "vk_int32");
    EXPECT_EQ(filters[1].GetVk_int32(), 4);
    EXPECT_EQ(text(filters[2].GetName()), L"b");
}

TEST(CVkSerializerXMLString, DocumentElementAndRootKinds) {
    struct Case {
        std::string xml;
        int result;
        std::string runType; // of the output afterwards
        std::string diagnostics;
    };
    const std::string invalid = "Error: structure of the data inside XML not valid";
    const Case cases[] = {
        {"<Variant VERSION=\"1.0\"><r runtype=\"vk_int32\" value=\"4\"/></Variant>", 0, "vk_int32", ""},
        {"<variant version=\"2.0\"><r runtype=\"vk_int32\" value=\"4\"/></variant>", -9, "unknown", invalid},
        {"<variant><r runtype=\"vk_int32\" value=\"4\"/></variant>", -9, "unknown", invalid},
        {"<other version=\"1.0\"><r runtype=\"vk_int32\" value=\"4\"/></other>", -9, "unknown", invalid},
        {document(""), 0, "double", ""}, // nothing inside: the output is left as it was
        {document("<r value=\"text\"/>"), 0, "CVkStringW", ""},
        {document("<r runtype=\"unknown\" value=\"1\"/>"), 0, "unknown", ""},
        {document("<r runtype=\"NoSuchType\"><a runtype=\"vk_int32\" value=\"1\"/></r>"), 0, "CVkListVariant",
         ""},
        {document("<r runtype=\"RVkDPoint\"/><after runtype=\"vk_int32\" value=\"1\"/>"), 0, "RVkDPoint", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        CVkDiagnosticCapture diagnostics;
        CVkVariant out(2.5, L"before");
        EXPECT_EQ(loadUtf8(out, c.xml), c.result);
        EXPECT_EQ(RunTypeOf(out), c.runType);
        EXPECT_EQ(diagnostics.Text(), c.diagnostics);
        EXPECT_FALSE(out.IsEnabledTypeChange());
    }
    CVkVariant kept(1, L"kept");
    kept.EnableTypeChange(true);
    ASSERT_EQ(loadUtf8(kept, document("<r runtype=\"bool\" value=\"true\"/>")), 0);
    EXPECT_TRUE(kept.IsEnabledTypeChange());
    EXPECT_EQ(kept.GetBool(), true);
    EXPECT_EQ(text(kept.GetName()), L"r");
}

TEST(CVkSerializerXMLString, RefusesDeclarationsDamageAndDeepNesting) {
    std::string deep, deepEnd;
    for (int i = 0; i < CVkVariant::kMaxNestingDepth; ++i) {
        deep += "<l runtype=\"CVkListVariant\">";
        deepEnd += "</l>";
    }
    const std::string tooDeep = "Error: XML variant data nested deeper than 1000 elements";
    const std::string declarations =
        "Error: document type and entity declarations are not accepted in XML variant data";
    struct Case {
        std::string xml;
        std::string diagnostics;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?><!DOCTYPE variant [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
         "<variant version=\"1.0\"><r value=\"&b;\"/></variant>",
         declarations},
        {"<!DOCTYPE variant SYSTEM \"file:///etc/passwd\"><variant version=\"1.0\"/>", declarations},
        {document(
             "<r runtype=\"CVkListVariant\"><a runtype=\"RVkIPoint\"><x runtype=\"vk_int32\" value=\"1\"/>"),
         ""}, // cut short inside records
        // cut short inside an element that has no place in the record: the nodes made for it go too
        {document("<r runtype=\"RVkIPoint\"><z runtype=\"RVkDRect\"><w runtype=\"CVkListVariant\">"
                  "<q runtype=\"vk_int32\" value=\"1\"/>"),
         ""},
        {document("<r runtype=\"CVkListVariant\"><a value=\"&undefined;\"/></r>"), ""}, // unknown entity
        {document("<r runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"1\"></b></r>"), ""},
        {document("<r runtype=\"RVkIPoint\"><x runtype=\"vk_int32\" value=\"1\"/></r>") + "<second/>", ""},
        {std::string("\xFF\xFE<") + "variant/>", ""},
        {document(deep + "<l runtype=\"CVkListVariant\"></l>" + deepEnd), tooDeep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml.substr(0, 120));
        CVkDiagnosticCapture diagnostics;
        CVkVariant out;
        EXPECT_EQ(loadUtf8(out, c.xml), -9);
        EXPECT_EQ(diagnostics.Text(), c.diagnostics);
        EXPECT_FALSE(out.IsEnabledTypeChange());
    }
    // The deepest nesting allowed loads.
    CVkVariant out;
    ASSERT_EQ(loadUtf8(out, document(deep + deepEnd)), 0);
    const CVkVariant* node = &out;
    int depth = 1;
    while (node->GetCount() == 1) {
        node = node->IndexPtr(0);
        ++depth;
    }
    EXPECT_EQ(depth, CVkVariant::kMaxNestingDepth);
}

TEST(CVkSerializerXMLString, ParametersChooseTheText) {
    CVkSerializerXMLString serializer;
    const std::string utf8 = document("<a runtype=\"vk_int32\" value=\"1\"/>");
    const CVkStringA utf8String(utf8.c_str());
    const std::wstring wide = L"<variant version=\"1.0\"><b runtype=\"vk_int32\" value=\"2\"/></variant>";
    const CVkStringW wideString(wide.c_str());
    const auto load = [&](std::initializer_list<CVkVariant> params, const wchar_t* expectName) {
        CVkVariant out;
        const int result = serializer.Load(out, CVkVariant::CreateStruct(L"params", params));
        if (expectName) {
            EXPECT_EQ(text(out.GetName()), expectName);
        }
        return result;
    };
    const CVkVariant length(static_cast<unsigned int>(utf8.size()), L"rawStringLen");
    EXPECT_EQ(load({pointerParameter(utf8.data(), L"rawStringUTF8"), length}, L"a"), 0);
    EXPECT_EQ(
        load({pointerParameter(&utf8String, L"stringUTF8"), pointerParameter(&wideString, L"string")}, L"b"),
        0);
    EXPECT_EQ(load({pointerParameter(wide.c_str(), L"rawString"), length}, L"b"), 0);
    EXPECT_EQ(load({pointerParameter(&utf8String, L"stringUTF8")}, L"a"), 0);
    // The parameters may sit anywhere below the root.
    EXPECT_EQ(
        load({CVkVariant::CreateStruct(L"inner", {pointerParameter(&utf8String, L"stringUTF8")})}, L"a"), 0);
    EXPECT_EQ(load({pointerParameter(wide.c_str(), L"rawString")}, nullptr), -9);
    EXPECT_EQ(load({pointerParameter(utf8.data(), L"rawStringUTF8")}, nullptr), -9);
    EXPECT_EQ(load({CVkVariant(1, L"other")}, nullptr), -4);
    EXPECT_EQ(load({CVkVariant(1, L"string")}, nullptr), -4); // not a pointer
    EXPECT_EQ(load({pointerParameter(nullptr, L"string")}, nullptr), -4);

    CVkVariant none = CVkVariant::CreateStruct(L"params", {CVkVariant(1, L"other")});
    EXPECT_EQ(serializer.Save(none, CVkVariant(1, L"v")), -4);
    CVkStringA a("old");
    CVkStringW w(L"old");
    CVkVariant both = CVkVariant::CreateStruct(
        L"params", {pointerParameter(&a, L"stringUTF8"), pointerParameter(&w, L"string")});
    EXPECT_EQ(serializer.Save(both, CVkVariant(1, L"v")), 0);
    EXPECT_EQ(std::string(a.GetString()), "old");
    EXPECT_EQ(text(w).substr(0, 2), L"\xFEFF<");
}

TEST(CVkSerializerXMLString, NamesAreValidatedBeforeWriting) {
    CVkVariant unnamed;
    unnamed.Append(CVkVariant(1, L"a"));
    unnamed.Append(CVkVariant());
    EXPECT_EQ(saveUtf8(unnamed),
              document("<no_name runtype=\"CVkListVariant\"><a runtype=\"vk_int32\" value=\"1\"/>"
                       "<no_name runtype=\"unknown\" value=\"\"/></no_name>"));
}

// Trees built in code may be nested far deeper than a document may be: saving them must not run out of
// stack, and the text is what the loader then refuses.
TEST(CVkSerializerXMLString, DeepTreesSaveWithoutRecursion) {
    constexpr int depth = 100000;
    CVkVariant root = CVkVariant::CreateStruct(L"r", std::initializer_list<CVkVariant>{});
    CVkVariant* leaf = &root;
    for (int i = 1; i < depth; ++i)
        leaf = &leaf->Append(CVkVariant::CreateStruct(L"n", std::initializer_list<CVkVariant>{}));
    leaf->Append(CVkVariant(1, L"i"));
    std::string inner = "<r runtype=\"CVkListVariant\">";
    for (int i = 1; i < depth; ++i)
        inner += "<n runtype=\"CVkListVariant\">";
    inner += "<i runtype=\"vk_int32\" value=\"1\"/>";
    for (int i = 1; i < depth; ++i)
        inner += "</n>";
    inner += "</r>";
    const std::string xml = saveUtf8(root);
    EXPECT_TRUE(xml == document(inner));
    EXPECT_TRUE(saveWide(root) ==
                L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><variant version=\"1.0\">" +
                    std::wstring(inner.begin(), inner.end()) + L"</variant>");
    CVkDiagnosticCapture quiet;
    CVkVariant out;
    EXPECT_EQ(loadUtf8(out, xml), -9);
}

TEST(CVkSerializerXMLString, NumberTextIgnoresTheProcessLocale) {
    ZanTest::DecimalCommaLocale decimalComma;
    if (!decimalComma.active())
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    const std::string xml = saveUtf8(CVkVariant::CreateStruct(L"r", {CVkVariant(2.5, L"d")}));
    CVkVariant out;
    const int result =
        loadUtf8(out, document("<r runtype=\"CVkListVariant\"><d runtype=\"double\" value=\"0.75\"/></r>"));
    decimalComma.restore();
    EXPECT_EQ(xml, document("<r runtype=\"CVkListVariant\"><d runtype=\"double\" value=\"2.5\"/></r>"));
    ASSERT_EQ(result, 0);
    EXPECT_EQ(out[L"d"].GetDouble(), 0.75);
}

TEST(CVkSerializerXMLString, SaveLoadSaveOfALargeRandomTreeGivesTheSameText) {
    varianttest::RandomTree random(20261210);
    CVkVariant tree = random.make(6);
    for (int i = 0; i < 200; ++i)
        tree.Append(random.make(5));
    const std::string first = saveUtf8(tree);
    ASSERT_GT(first.size(), 100000u);
    CVkVariant loaded;
    ASSERT_EQ(loadUtf8(loaded, first), 0);
    EXPECT_EQ(saveUtf8(loaded), first);

    const std::wstring wide = saveWide(tree);
    CVkVariant loadedWide;
    ASSERT_EQ(loadWide(loadedWide, wide), 0);
    EXPECT_EQ(saveWide(loadedWide), wide);
}

TEST(CVkSerializerXMLString, ThreadsLoadingDamagedDocumentsEachCaptureTheirOwnLines) {
    // One kind of damage per thread, each with its own diagnostic line.
    const std::string wrongVersion =
        "<variant version=\"2.0\"><r runtype=\"vk_int32\" value=\"4\"/></variant>";
    const std::string withDeclarations = "<!DOCTYPE variant SYSTEM \"x\"><variant version=\"1.0\"/>";
    const std::string invalid = "Error: structure of the data inside XML not valid";
    const std::string declarations =
        "Error: document type and entity declarations are not accepted in XML variant data";
    constexpr int kLoads = 200;
    std::string captured[2];
    int failures[2] = {0, 0};
    auto run = [&](int k, const std::string& xml) {
        CVkDiagnosticCapture capture;
        for (int i = 0; i < kLoads; ++i) {
            CVkVariant out;
            failures[k] += loadUtf8(out, xml) == -9;
        }
        captured[k] = capture.Text();
    };
    testing::internal::CaptureStdout();
    std::thread first(run, 0, wrongVersion), second(run, 1, withDeclarations);
    first.join();
    second.join();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a captured thread prints nothing";
    std::string expected[2];
    for (int i = 0; i < kLoads; ++i) {
        expected[0] += invalid;
        expected[1] += declarations;
    }
    EXPECT_EQ(failures[0], kLoads);
    EXPECT_EQ(failures[1], kLoads);
    EXPECT_EQ(captured[0], expected[0]);
    EXPECT_EQ(captured[1], expected[1]);
}

TEST(CVkSerializerXMLString, ACaptureOnOneThreadLeavesOtherThreadsPrinting) {
    testing::internal::CaptureStdout();
    CVkDiagnosticCapture mine;
    std::thread other([] {
        CVkVariant out;
        loadUtf8(out, "<variant><r runtype=\"vk_int32\" value=\"4\"/></variant>");
    });
    other.join();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: structure of the data inside XML not valid");
    EXPECT_EQ(mine.Text(), "");
}

// Seeds of the wide pass of the XML loader's fuzz target: saved wide documents, as the characters lie in
// memory. Written when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/xml_variant_load_fuzz build/release/tests/test_legacy
//   --gtest_filter='CVkSerializerXMLStringFuzzSeeds.*'
TEST(CVkSerializerXMLStringFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const auto save = [&](const char* name, const CVkVariant& v) {
        const std::wstring xml = saveWide(v);
        saveSeed(dir, name, xml.data(), xml.size() * sizeof(wchar_t));
    };
    const unsigned char bytes[] = {1, 2, 0xFA};
    save("wide-plain-list",
         CVkVariant::CreateStruct(L"root", {CVkVariant(5, L"i"), CVkVariant(0.1, L"d"),
                                            CVkVariant(CVkStringW(L"x<y&z\t\"\r\n\u00e9"), L"s"),
                                            CVkVariant(CVkByteArray(bytes, 3, 16), L"b")}));
    CVkVariant point(CVkVariantRunType("RVkIPoint"), L"pt");
    point[L"y"] = -3;
    save("wide-record", point);
}
