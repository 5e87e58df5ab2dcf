#include "VariantTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace ZanLegacy;
using varianttest::Bytes;
using varianttest::Diag;
using varianttest::List;
using varianttest::RunTypeOf;
using varianttest::U8;

TEST(CVkVariantNode, NameRules) {
    struct Case {
        const wchar_t* in;
        const char* out;
        int changed;
    };
    const Case cases[] = {
        {L"", "no_name", 1}, {L"1st value", "_st_value", 1}, {L"a.b-c_d9", "a.b-c_d9", 0}, {L"-x", "_x", 1},
        {L"_9", "_9", 0},    {L"caf\u00e9", "caf_", 1},      {L"a<b\"c", "a_b_c", 1},      {L"Z", "Z", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        CVkStringW name(c.in);
        EXPECT_EQ(CVkVariant::ValidateName(name), c.changed);
        EXPECT_EQ(U8(name), c.out);
        EXPECT_EQ(U8(CVkVariant(5, c.in).GetName()), c.out);
        CVkVariant v;
        EXPECT_EQ(v.SetName(c.in), c.changed);
        EXPECT_EQ(U8(v.GetName()), c.out);
    }
    // Default construction and copies keep the name as it is.
    EXPECT_EQ(U8(CVkVariant().GetName()), "");
    EXPECT_EQ(U8(CVkVariant(CVkVariant()).GetName()), "");
}

// Each assignment overload: with the guard off its own message and the value kept; with the guard on
// the new kind.
TEST(CVkVariantNode, AssignmentGuardPerOverload) {
    int target = 0;
    struct Case {
        const char* label;
        std::function<void(CVkVariant&)> assign;
        const char* message;
        const char* runType;
        bool onInt; // assigned to an int32 node (else to a plain list)
    };
    const char* other = "Error: can't do assignment, type change not enabled";
    const std::vector<Case> cases = {
        {"int", [](CVkVariant& v) { v = 2; },
         "Error: CVkVariant::operator=, can't do assignment - type change not enabled", "vk_int32", false},
        {"uint", [](CVkVariant& v) { v = 2u; }, other, "vk_uint32", true},
        {"long", [](CVkVariant& v) { v = 2L; }, "Error: can't do assignment, type change not enabled.",
         "vk_int64", true},
        {"ulong", [](CVkVariant& v) { v = 2UL; }, other, "vk_uint64", true},
        {"double", [](CVkVariant& v) { v = 2.5; }, other, "double", true},
        {"bool", [](CVkVariant& v) { v = true; }, other, "bool", true},
        {"voidPtr", [&](CVkVariant& v) { v = static_cast<void*>(&target); }, other, "voidPtr", true},
        {"CVkStringW", [](CVkVariant& v) { v = CVkStringW(L"s"); }, other, "CVkStringW", true},
        {"wide_literal", [](CVkVariant& v) { v = L"s"; }, other, "CVkStringW", true},
        {"narrow_literal", [](CVkVariant& v) { v = "s"; }, other, "CVkStringW", true},
        {"CVkByteArray", [](CVkVariant& v) { v = Bytes({1}); }, other, "CVkByteArray", true},
        {"CVkListVariant", [](CVkVariant& v) { v = CVkListVariant(); }, other, "CVkListVariant", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const CVkVariant original = c.onInt ? CVkVariant(7, L"t") : List(L"t", {CVkVariant(1, L"a")});
        CVkVariant v(original);
        EXPECT_EQ(Diag([&] { c.assign(v); }), c.message);
        EXPECT_TRUE(v == original);
        EXPECT_FALSE(v.EnableTypeChange(true));
        EXPECT_EQ(Diag([&] { c.assign(v); }), "");
        EXPECT_EQ(RunTypeOf(v), c.runType);
        EXPECT_EQ(U8(v.GetName()), "t");
        EXPECT_TRUE(v.IsEnabledTypeChange());
    }
}

TEST(CVkVariantNode, AssignmentOfTheSameKindNeedsNoGuard) {
    CVkVariant i(7, L"i");
    i = 9;
    EXPECT_EQ(i.GetVk_int32(), 9);
    CVkVariant s(L"a", L"s");
    s = L"literal";
    EXPECT_TRUE(s == L"literal");
    s = "narrow";
    EXPECT_TRUE(s == "narrow");
    CVkVariant d(1.0, L"d");
    d = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(d.GetDouble()));
    // With type change on a NaN replacing another kind stays NaN too.
    CVkVariant n;
    n.EnableTypeChange(true);
    n = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(n.GetDouble()));
    CVkVariant l = List(L"l", {CVkVariant(1, L"a")});
    l = List(L"x", {CVkVariant(2, L"b"), CVkVariant(3, L"c")}).GetCVkListVariant();
    EXPECT_EQ(l.GetCount(), 2);
}

TEST(CVkVariantNode, NodeAssignment) {
    // Same run type: the value is copied, the name stays.
    CVkVariant b(1, L"b");
    b = CVkVariant(2, L"a");
    EXPECT_EQ(b.GetVk_int32(), 2);
    EXPECT_EQ(U8(b.GetName()), "b");
    // Another run type with the guard off.
    EXPECT_EQ(Diag([&] { b = CVkVariant(L"x", L"a"); }),
              "Error: can't do assignment from type: CVkStringW to: vk_int32, type change not enabled!");
    CVkVariant none;
    EXPECT_EQ(Diag([&] { none = CVkVariant(1, L"a"); }),
              "Error: can't do assignment from type: vk_int32 to: unknown, type change not enabled!");
    EXPECT_EQ(Diag([&] { b = CVkVariant(); }), "Error: can't do assignment, type change not enabled!");
    EXPECT_EQ(b.GetVk_int32(), 2);
    EXPECT_EQ(Diag([&] { none = CVkVariant(); }), "");
    // With the guard on.
    b.EnableTypeChange(true);
    b = CVkVariant(L"x", L"a");
    EXPECT_TRUE(b == L"x");
    EXPECT_EQ(U8(b.GetName()), "b");
    EXPECT_TRUE(b.IsEnabledTypeChange());
    b = CVkVariant();
    EXPECT_EQ(RunTypeOf(b), "unknown");
    // MakeNull follows the guard.
    CVkVariant m(1, L"m");
    EXPECT_EQ(Diag([&] { m.MakeNull(); }), "Error: CVkVariant::MakeNull()), type change not enabled!");
    EXPECT_EQ(m.GetVk_int32(), 1);
    m.EnableTypeChange(true);
    m.MakeNull();
    EXPECT_EQ(m.GetData(), nullptr);
    // Names are not compared, run types are.
    EXPECT_TRUE(CVkVariant(3, L"a") == CVkVariant(3, L"b"));
    EXPECT_FALSE(CVkVariant(3, L"a") == CVkVariant(3u, L"a"));
    EXPECT_TRUE(CVkVariant() == CVkVariant());
    EXPECT_FALSE(CVkVariant() == CVkVariant(0, L"z"));
}

TEST(CVkVariantNode, AssignmentFromAndIntoOwnMembers) {
    // p = p[0]: the member is copied before the list it lives in goes.
    CVkVariant p =
        List(L"p", {List(L"inner", {CVkVariant(1, L"a"), CVkVariant(2, L"b")}), CVkVariant(3, L"c")});
    p = p[0];
    EXPECT_EQ(U8(p.GetName()), "p");
    ASSERT_EQ(p.GetCount(), 2);
    EXPECT_EQ(p[1].GetVk_int32(), 2);
    // p[0] = p: the member takes a copy of the whole list as it was.
    CVkVariant q = List(L"q", {List(L"inner", {CVkVariant(1, L"a")}), CVkVariant(3, L"c")});
    q[0] = q;
    ASSERT_EQ(q.GetCount(), 2);
    ASSERT_EQ(q[0].GetCount(), 2);
    EXPECT_EQ(q[0][0].GetCount(), 1);
    EXPECT_EQ(q[0][1].GetVk_int32(), 3);
    // With type change, a scalar member replacing its list.
    CVkVariant r = List(L"r", {CVkVariant(5, L"a")});
    r.EnableTypeChange(true);
    r = r[0];
    EXPECT_EQ(r.GetVk_int32(), 5);
    // Appending a node to itself and setting a member from the node.
    CVkVariant s = List(L"s", {CVkVariant(1, L"a")});
    s.Append(s);
    ASSERT_EQ(s.GetCount(), 2);
    EXPECT_EQ(s[1].GetCount(), 1);
    s.SetOrAppend(L"s", s);
    EXPECT_EQ(s[1].GetCount(), 2);
}

TEST(CVkVariantNode, UndefinedVariantCannotBeChanged) {
    CVkVariant& u = undefVariant();
    CVkVariant list = List(L"l", {CVkVariant(1, L"a")});
    CVkVariant& missing = list[L"nothing"];
    ASSERT_EQ(&missing, &u);
    Diag([&] {
        EXPECT_FALSE(missing.EnableTypeChange(true));
        missing = 5;
        missing = CVkVariant(L"x", L"y");
        EXPECT_EQ(missing.SetName(L"renamed"), 0);
        EXPECT_EQ(&missing.Append(CVkVariant(1, L"a")), &u);
        missing.Insert(CVkVariant(1, L"a"), 0);
        missing.MakeNull();
        EXPECT_EQ(missing.SetRunType("vk_int32"), -9);
        EXPECT_EQ(missing.Delete(0), 0);
        missing.ClearList();
        missing.Read(L"1");
        list[5] = 3;
        list[L"x"][L"y"] = 1.0;
    });
    EXPECT_EQ(u.GetData(), nullptr);
    EXPECT_FALSE(u.IsEnabledTypeChange());
    EXPECT_EQ(U8(u.GetName()), "");
    EXPECT_EQ(u.GetCount(), -1);
    EXPECT_EQ(Diag([&] { missing.Append(CVkVariant(1, L"a")); }),
              "Error: invalid variant type (unknown) for array operation.");
}

TEST(CVkVariantNode, DeepTreesCopyCompareWriteAndDestroyWithoutRecursion) {
    constexpr int depth = 100000;
    CVkVariant root(CVkListVariant(), L"root");
    CVkVariant* leaf = &root;
    for (int i = 0; i < depth; ++i)
        leaf = &leaf->Append(CVkVariant(CVkListVariant(), L"n"));
    leaf->Append(CVkVariant(42, L"x"));
    const CVkVariant copy(root);
    EXPECT_TRUE(copy == root);
    const CVkVariant* deepest = &copy;
    while (deepest->GetCount() == 1 && deepest->IndexPtr(0)->GetCount() >= 0)
        deepest = deepest->IndexPtr(0);
    EXPECT_EQ(deepest->IndexPtr(0)->GetVk_int32(), 42);
    CVkStringW text;
    EXPECT_EQ(copy.Write(text), 1);
    EXPECT_EQ(U8(text), "42");
    CVkVariant other(root);
    (*leaf)[0] = 43;
    EXPECT_FALSE(other == root);
    other = root;
    EXPECT_TRUE(other == root);
}
