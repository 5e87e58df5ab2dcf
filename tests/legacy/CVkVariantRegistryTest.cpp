#include "VariantTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using namespace ZanLegacy;
using varianttest::Diag;
using varianttest::List;
using varianttest::RunTypeOf;
using varianttest::U8;

namespace {

// The point record of the legacy metadata; registering it again with the same members is harmless.
const CVkVariantRunType& ipoint() {
    static const CVkVariantRunType rt = [] {
        EXPECT_EQ(CVkVariant::RegisterRunType(List(L"RVkIPoint", {CVkVariant(0, L"x"), CVkVariant(0, L"y")})),
                  0);
        return CVkVariantRunType("RVkIPoint");
    }();
    return rt;
}

CVkVariant withTypeChange(CVkVariant v) {
    v.EnableTypeChange(true);
    return v;
}

} // namespace

TEST(CVkVariantRegistry, BasicSamples) {
    struct Case {
        const char* name;
        const char* runType;
    };
    const Case cases[] = {{"vk_int32", "vk_int32"},
                          {"vk_uint32", "vk_uint32"},
                          {"vk_int64", "vk_int64"},
                          {"vk_uint64", "vk_uint64"},
                          {"double", "double"},
                          {"bool", "bool"},
                          {"voidPtr", "voidPtr"},
                          {"CVkStringW", "CVkStringW"},
                          {"CVkByteArray", "CVkByteArray"},
                          {"CVkListVariant", "CVkListVariant"},
                          {"unknown", "unknown"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Diag([&] {
                      const CVkVariant v(CVkVariantRunType(c.name), L"n");
                      EXPECT_EQ(RunTypeOf(v), c.runType);
                      EXPECT_EQ(v.GetCVkStringW() == CVkStringW(L"") || v.GetVk_int32() == 0, true);
                      EXPECT_NE(CVkVariant::GetRunTypeIndex(c.name, false), 0xFFFFFFFFu);
                  }),
                  "");
    }
    EXPECT_EQ(CVkVariant(CVkVariantRunType("CVkListVariant"), L"l").GetCount(), 0);
    EXPECT_EQ(CVkVariant(CVkVariantRunType("unknown"), L"u").GetData(), nullptr);
}

TEST(CVkVariantRegistry, RegisteringAndLookingUp) {
    const CVkVariant sample = List(L"RegTest.Rec", {CVkVariant(1, L"a"), CVkVariant(L"s", L"b")});
    EXPECT_EQ(RunTypeOf(sample), "CVkListVariant");
    EXPECT_EQ(CVkVariant::RegisterRunType(sample), 0);
    const unsigned index = CVkVariant::GetRunTypeIndex("RegTest.Rec", true);
    EXPECT_EQ(CVkVariant::RegisterRunType(sample), 0);
    EXPECT_EQ(CVkVariant::GetRunTypeIndex("RegTest.Rec", true), index);
    // Another kind of member under the same name: refused, the first definition stays.
    EXPECT_EQ(Diag([&] {
                  EXPECT_EQ(CVkVariant::RegisterRunType(
                                List(L"RegTest.Rec", {CVkVariant(1, L"a"), CVkVariant(2.0, L"b")})),
                            -9);
              }),
              "Error: same Runtype already registered with different definition!");
    EXPECT_EQ(Diag([&] {
                  EXPECT_EQ(CVkVariant::RegisterRunType(List(L"RegTest.Rec", {CVkVariant(1, L"a")})), -9);
              }),
              "Error: same Runtype already registered with different definition!");
    // Other member names with the same kinds are the same structure.
    EXPECT_EQ(
        CVkVariant::RegisterRunType(List(L"RegTest.Rec", {CVkVariant(5, L"p"), CVkVariant(L"q", L"q")})), 0);

    const CVkVariant& stored = CVkVariant::GetRunTypeSample("RegTest.Rec");
    EXPECT_EQ(RunTypeOf(stored), "RegTest.Rec");
    EXPECT_EQ(stored[L"a"].GetVk_int32(), 1);
    // Nodes made from the run type take the sample's members and defaults.
    const CVkVariant made(CVkVariantRunType("RegTest.Rec"), L"made");
    EXPECT_EQ(RunTypeOf(made), "RegTest.Rec");
    EXPECT_TRUE(made == stored);
    EXPECT_TRUE(made[L"b"] == L"s");

    EXPECT_EQ(Diag([&] {
                  const CVkVariant& none = CVkVariant::GetRunTypeSample("RegTest.Missing");
                  EXPECT_EQ(none.GetData(), nullptr);
              }),
              "Error: CVkVariant::GetRunTypeSample(), can't find: 'RegTest.Missing' runtype!");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(CVkVariant::GetRunTypeIndex("RegTest.Missing", false), 0xFFFFFFFFu); }),
              "");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(CVkVariant::GetRunTypeIndex("RegTest.Missing", true), 0xFFFFFFFFu); }),
              "Error: CVkVariant::GetRunTypeIndex(), can't find: 'RegTest.Missing' runtype!");
    EXPECT_EQ(
        Diag([&] { EXPECT_EQ(CVkVariant(CVkVariantRunType("RegTest.Missing"), L"n").GetData(), nullptr); }),
        "Error: CVkVariant::GetRunTypeSample(), can't find: 'RegTest.Missing' runtype!");
    // A scalar sample under another name keeps its kind.
    EXPECT_EQ(Diag([&] { EXPECT_EQ(CVkVariant::RegisterRunType(CVkVariant(3, L"RegTest.Scalar")), 0); }),
              "Error: CVkVariantData::SetRunType(), can't set runtype!");
    EXPECT_EQ(RunTypeOf(CVkVariant::GetRunTypeSample("RegTest.Scalar")), "vk_int32");
}

TEST(CVkVariantRegistry, NestedRecordsCopyTheirSamples) {
    ipoint();
    CVkVariant::RegisterRunType(List(L"RegTest.Line", {CVkVariant(ipoint(), L"from"),
                                                       CVkVariant(ipoint(), L"to"), CVkVariant(1.5, L"w")}));
    CVkVariant line(CVkVariantRunType("RegTest.Line"), L"line");
    EXPECT_EQ(RunTypeOf(line[L"from"]), "RVkIPoint");
    line[L"from"][L"x"] = 4;
    EXPECT_EQ(line[L"to"][L"x"].GetVk_int32(), 0);
    const CVkVariant copy(line);
    EXPECT_EQ(RunTypeOf(copy[L"to"]), "RVkIPoint");
    EXPECT_EQ(copy[L"from"][L"x"].GetVk_int32(), 4);
    EXPECT_EQ(CVkVariant::CompareStructure(line, CVkVariant(CVkVariantRunType("RegTest.Line"), L"z"), true),
              0);
    EXPECT_EQ(CVkVariant::CompareStructure(line, List(L"l", {CVkVariant(1, L"a")}), true), -1);
}

TEST(CVkVariantRegistry, UnregisteredRecordTypeCopiesAsPlainList) {
    CVkVariant v = List(L"v", {CVkVariant(1, L"a"), List(L"inner", {CVkVariant(2, L"b")})});
    v.GetData()->SetRunType("RegTest.NeverRegistered");
    v[L"inner"].GetData()->SetRunType("RegTest.NeverRegistered");
    const CVkVariant copy(v);
    EXPECT_EQ(RunTypeOf(copy), "CVkListVariant");
    EXPECT_EQ(RunTypeOf(copy[L"inner"]), "CVkListVariant");
    EXPECT_EQ(copy[L"inner"][L"b"].GetVk_int32(), 2);
    std::unique_ptr<CVkVariantData> clone;
    EXPECT_EQ(Diag([&] { clone.reset(v.GetData()->Clone()); }),
              "Error: CVkVariant::GetRunTypeSample(), can't find: 'RegTest.NeverRegistered' runtype!");
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetRunType(), CVkVariantDataCVkListVariant::GetOrigRunType());
}

TEST(CVkVariantRegistry, SetRunType) {
    const CVkVariant ab = List(L"l", {CVkVariant(3, L"a"), CVkVariant(4, L"b")});
    CVkVariant off(ab);
    EXPECT_EQ(Diag([&] { EXPECT_EQ(off.SetRunType(ipoint()), -9); }), "");
    EXPECT_TRUE(off == ab);
    CVkVariant same(ab);
    EXPECT_EQ(same.SetRunType("CVkListVariant"), 0);

    // The same structure: relabelled, values kept, names from the record.
    CVkVariant relabelled = withTypeChange(ab);
    EXPECT_EQ(relabelled.SetRunType(ipoint()), 0);
    EXPECT_EQ(RunTypeOf(relabelled), "RVkIPoint");
    EXPECT_EQ(relabelled[L"x"].GetVk_int32(), 3);
    EXPECT_EQ(relabelled[L"y"].GetVk_int32(), 4);
    EXPECT_EQ(U8(relabelled.GetName()), "l");
    // Another structure: the record's defaults.
    CVkVariant replaced = withTypeChange(List(L"l", {CVkVariant(2.5, L"x")}));
    EXPECT_EQ(replaced.SetRunType(ipoint()), 0);
    EXPECT_EQ(replaced.GetCount(), 2);
    EXPECT_EQ(replaced[L"x"].GetVk_int32(), 0);
    EXPECT_EQ(replaced[L"y"].GetVk_int32(), 0);
    // Not registered, or no value.
    CVkVariant missing = withTypeChange(ab);
    EXPECT_EQ(Diag([&] { EXPECT_EQ(missing.SetRunType("RegTest.Missing2"), -4); }),
              "Error: CVkVariant::GetRunTypeSample(), can't find: 'RegTest.Missing2' runtype!");
    EXPECT_EQ(missing.SetRunType("unknown"), -4);
    EXPECT_TRUE(missing == ab);
    // Scalars change kind through the sample.
    CVkVariant scalar = withTypeChange(CVkVariant(3, L"s"));
    EXPECT_EQ(scalar.SetRunType("double"), 0);
    EXPECT_EQ(RunTypeOf(scalar), "double");
    EXPECT_EQ(scalar.GetDouble(), 0.0);
}

TEST(CVkVariantRegistry, SetRunTypeCompatibleKeepsMatchingMembers) {
    CVkVariant y = withTypeChange(List(L"l", {CVkVariant(5, L"y")}));
    EXPECT_EQ(y.SetRunTypeCompatible(ipoint()), 0);
    EXPECT_EQ(RunTypeOf(y), "RVkIPoint");
    EXPECT_EQ(y[L"x"].GetVk_int32(), 0);
    EXPECT_EQ(y[L"y"].GetVk_int32(), 5);
    CVkVariant yz = withTypeChange(List(L"l", {CVkVariant(5, L"y"), CVkVariant(1, L"z")}));
    EXPECT_EQ(yz.SetRunTypeCompatible(ipoint()), 0);
    EXPECT_EQ(yz[L"x"].GetVk_int32(), 5);
    EXPECT_EQ(yz[L"y"].GetVk_int32(), 1);
    // A member of another kind keeps the default; members the record lacks are dropped.
    CVkVariant mixed =
        withTypeChange(List(L"l", {CVkVariant(2.0, L"x"), CVkVariant(6, L"y"), CVkVariant(7, L"q")}));
    EXPECT_EQ(mixed.SetRunTypeCompatible(ipoint()), 0);
    EXPECT_EQ(mixed.GetCount(), 2);
    EXPECT_EQ(mixed[L"x"].GetVk_int32(), 0);
    EXPECT_EQ(mixed[L"y"].GetVk_int32(), 6);
    // Nested records are filled by the same rule.
    CVkVariant::RegisterRunType(List(L"RegTest.Box", {CVkVariant(ipoint(), L"p"), CVkVariant(0u, L"n")}));
    CVkVariant box = withTypeChange(
        List(L"b", {List(L"p", {CVkVariant(8, L"y"), CVkVariant(1, L"w")}), CVkVariant(L"s", L"n")}));
    EXPECT_EQ(box.SetRunTypeCompatible("RegTest.Box"), 0);
    EXPECT_EQ(RunTypeOf(box[L"p"]), "RVkIPoint");
    EXPECT_EQ(box[L"p"][L"y"].GetVk_int32(), 8);
    EXPECT_EQ(box[L"p"][L"x"].GetVk_int32(), 0);
    EXPECT_EQ(RunTypeOf(box[L"n"]), "vk_uint32");
    CVkVariant off(y);
    off.EnableTypeChange(false);
    EXPECT_EQ(off.SetRunTypeCompatible("RegTest.Box"), -9);
}

TEST(CVkVariantRegistry, CreateStructForms) {
    const CVkVariant empty = CVkVariant::CreateStruct(L"1 empty", {});
    EXPECT_EQ(RunTypeOf(empty), "CVkListVariant");
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(U8(empty.GetName()), "__empty");
    const CVkVariant a(1, L"a"), b(L"t", L"b"), end;
    const CVkVariant variadic = CVkVariant::CreateStruct(L"v", &a, &b, &end);
    EXPECT_TRUE(variadic == CVkVariant::CreateStruct(L"w", {a, b}));
    EXPECT_EQ(CVkVariant::CreateStruct(L"v", &end).GetCount(), 0);
    EXPECT_EQ(CVkVariant::CreateStruct(L"v", &a, nullptr).GetCount(), 1);

    const CVkVariant y(9, L"y"), wrong(1, L"nope");
    const CVkVariant named = CVkVariant::CreateStructNamed(ipoint(), L"pt", &y, &end);
    EXPECT_EQ(RunTypeOf(named), "RVkIPoint");
    EXPECT_EQ(named[L"y"].GetVk_int32(), 9);
    EXPECT_EQ(named[L"x"].GetVk_int32(), 0);
    EXPECT_EQ(Diag([&] { CVkVariant::CreateStructNamed(ipoint(), L"pt", &wrong, &end); }),
              "Error: can't do assignment from type: vk_int32 to: unknown, type change not enabled!");
    CVkVariant::DebugVisualizersTest();
}

// Registering takes the registry lock while copying; copying record types looks the registry up
// while holding the list lock. Both orders at once must not deadlock.
TEST(CVkVariantRegistry, RegisteringWhileCopyingRecords) {
    const CVkVariant record(ipoint(), L"p");
    std::atomic<bool> done{false};
    std::thread copier([&] {
        while (!done) {
            const CVkVariant copy(List(L"l", {record, record}));
            EXPECT_EQ(RunTypeOf(copy[0]), "RVkIPoint");
        }
    });
    for (int i = 0; i < 300; ++i)
        CVkVariant::RegisterRunType(List((L"RegTest.Thread" + std::to_wstring(i)).c_str(), {record}));
    done = true;
    copier.join();
}

TEST(CVkVariantTrace, DumpIsByteExact) {
    const CVkVariant small = List(L"root", {CVkVariant(1, L"a")});
    CVkStringW out(L"old");
    EXPECT_EQ(U8(CVkVariant::Trace(out, small)), "<variant version=\"1.0\">\r\n"
                                                 "<root runtype=\"CVkListVariant\">\r\n"
                                                 " <a runtype=\"vk_int32\" value=\"1\"/>\r\n"
                                                 "</root>\r\n"
                                                 "</variant>\r\n");
    CVkVariant tree = List(L"t", {List(L"e", {}), CVkVariant(), List(L"n", {CVkVariant(L"x<\"y", L"s")}),
                                  CVkVariant(0.5, L"d")});
    tree[1].SetName(L"nil");
    const std::string expected = "<variant version=\"1.0\">\r\n"
                                 "<t runtype=\"CVkListVariant\">\r\n"
                                 " <e runtype=\"CVkListVariant\">\r\n"
                                 " </e>\r\n"
                                 " <nil runtype=\"unknown\" value=\"\"/>\r\n"
                                 " <n runtype=\"CVkListVariant\">\r\n"
                                 "  <s runtype=\"CVkStringW\" value=\"x<\"y\"/>\r\n"
                                 " </n>\r\n"
                                 " <d runtype=\"double\" value=\"0.500000000000000\"/>\r\n"
                                 "</t>\r\n"
                                 "</variant>\r\n";
    EXPECT_EQ(U8(CVkVariant::Trace(out, tree)), expected);
    EXPECT_EQ(Diag([&] { CVkVariant::Trace(tree); }), expected);
    CVkStringW lines(L">");
    EXPECT_EQ(
        Diag([&] { CVkVariant::TraceLow(&lines, tree[2], true, 2); }),
        "  <n runtype=\"CVkListVariant\">\r\n   <s runtype=\"CVkStringW\" value=\"x<\"y\"/>\r\n  </n>\r\n");
    EXPECT_EQ(
        U8(lines),
        ">  <n runtype=\"CVkListVariant\">\r\n   <s runtype=\"CVkStringW\" value=\"x<\"y\"/>\r\n  </n>\r\n");
}
