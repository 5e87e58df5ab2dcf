#include "VariantTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ZanLegacy;
using varianttest::Diag;
using varianttest::List;
using varianttest::RunTypeOf;
using varianttest::U8;

namespace {

// A record type of two int32 members, registered once for these tests.
const CVkVariantRunType& pairType() {
    static const CVkVariantRunType rt = [] {
        CVkVariant::RegisterRunType(List(L"ListTest.Pair", {CVkVariant(0, L"x"), CVkVariant(0, L"y")}));
        return CVkVariantRunType("ListTest.Pair");
    }();
    return rt;
}

std::vector<int> values(const CVkVariant& list) {
    std::vector<int> out;
    for (int i = 0; i < list.GetCount(); ++i)
        out.push_back(list[i].GetVk_int32());
    return out;
}

} // namespace

TEST(CVkVariantList, AccessByIndexAndName) {
    const CVkVariant l = List(L"l", {CVkVariant(1, L"a"), CVkVariant(2, L"b"), CVkVariant(3, L"a")});
    const CVkVariant i(1, L"i");
    EXPECT_EQ(i.GetCount(), -1);
    EXPECT_EQ(List(L"e", {}).GetCount(), 0);
    EXPECT_EQ(l.GetCount(), 3);
    EXPECT_EQ(l[2].GetVk_int32(), 3);
    EXPECT_EQ(l[2u].GetVk_int32(), 3);
    EXPECT_EQ(l[2ul].GetVk_int32(), 3);
    EXPECT_EQ(Diag([&] {
                  EXPECT_EQ(&l[5], &undefVariant());
                  EXPECT_EQ(&l[-1], &undefVariant());
                  EXPECT_EQ(&l[4294967296ul], &undefVariant()); // does not wrap to member 0
                  EXPECT_EQ(&l[0xFFFFFFFFul], &undefVariant());
                  EXPECT_EQ(l.IndexPtr(3), nullptr);
              }),
              "");
    // Any index of a node that is not a list, a negative one too, is refused with the message.
    for (const long index : {0L, -1L}) {
        EXPECT_EQ(Diag([&] { EXPECT_EQ(&i[index], &undefVariant()); }),
                  "Error: invalid variant runtype for array operation.");
    }
    EXPECT_EQ(l[L"a"].GetVk_int32(), 1);
    EXPECT_EQ(&l[L"zz"], &undefVariant());
    EXPECT_EQ(i.SearchFixedOneLevel(L"a"), nullptr);
    EXPECT_EQ(l.IndexOf(L"b"), 1);
    EXPECT_EQ(l.IndexOf(L"zz"), -9);
    EXPECT_EQ(List(L"e", {}).IndexOf(L"a"), -9);
    EXPECT_EQ(i.IndexOf(L"a"), -1);
    bool ok = false;
    EXPECT_EQ(l.GetCVkListVariant(&ok).GetCount(), 3);
    EXPECT_TRUE(ok);
    EXPECT_EQ(i.GetCVkListVariant(&ok).GetCount(), 0);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(l.Member(CVkVariant(2, L"other")));
    EXPECT_FALSE(l.Member(CVkVariant(2u, L"b")));
    EXPECT_EQ(Diag([&] { EXPECT_FALSE(i.Member(i)); }), "Error: invalid variant type for array operation.");
}

TEST(CVkVariantList, SearchIsBreadthFirstAndSearchFixedOneLevelPerStep) {
    // root { a { deep { t = 1 } }, b { t = 2 } }
    const CVkVariant root = List(
        L"root", {List(L"a", {List(L"deep", {CVkVariant(1, L"t")})}), List(L"b", {CVkVariant(2, L"t")})});
    EXPECT_EQ(root.Search(L"t", nullptr)->GetVk_int32(), 2);
    EXPECT_EQ(root.Search(L"root", nullptr), &root);
    EXPECT_EQ(root.Search(L"a", L"t", nullptr)->GetVk_int32(), 1);
    EXPECT_EQ(root.Search(L"deep", L"deep", L"t", nullptr)->GetVk_int32(), 1);
    EXPECT_EQ(root.Search(L"zz", nullptr), nullptr);
    EXPECT_EQ(root.Search(nullptr), nullptr);
    EXPECT_EQ(root.SearchFixed(L"t", nullptr), nullptr);
    EXPECT_EQ(root.SearchFixed(L"b", L"t", nullptr)->GetVk_int32(), 2);
    EXPECT_EQ(root.SearchFixed(L"a", L"t", nullptr), nullptr);
    EXPECT_EQ(root.SearchFixed(nullptr), nullptr);
    CVkVariant editable(root);
    *editable.SearchFixed(L"a", L"deep", L"t", nullptr) = 9;
    EXPECT_EQ(editable.Search(L"deep", L"t", nullptr)->GetVk_int32(), 9);
}

TEST(CVkVariantList, AppendAndInsert) {
    CVkVariant n;
    CVkVariant& first = n.Append(CVkVariant(1, L"a"));
    EXPECT_EQ(RunTypeOf(n), "CVkListVariant");
    EXPECT_EQ(&first, n.IndexPtr(0));
    // References stay valid across many appends.
    std::vector<CVkVariant*> refs{&first};
    for (int i = 1; i < 10000; ++i)
        refs.push_back(&n.Append(CVkVariant(i + 1, L"m")));
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(refs[i]->GetVk_int32(), i + 1);
    EXPECT_EQ(n.GetCount(), 10000);

    CVkVariant l = List(L"l", {CVkVariant(1, L"a"), CVkVariant(2, L"b")});
    EXPECT_EQ(&l.Insert(CVkVariant(0, L"z"), 0), &undefVariant());
    l.Insert(CVkVariant(9, L"end"), l.GetCount());
    l.Insert(CVkVariant(5, L"mid"), 2);
    EXPECT_EQ(values(l), (std::vector<int>{0, 1, 5, 2, 9}));
    EXPECT_EQ(Diag([&] {
                  l.Insert(CVkVariant(7, L"x"), l.GetCount() + 1);
                  l.Insert(CVkVariant(7, L"x"), -1);
              }),
              "");
    EXPECT_EQ(l.GetCount(), 5);

    // A scalar refuses with the guard off and becomes a list with it on.
    CVkVariant s(1, L"s");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(&s.Append(CVkVariant(1, L"a")), &undefVariant()); }),
              "Error: invalid variant type (vk_int32) for array operation.");
    EXPECT_EQ(Diag([&] { s.Insert(CVkVariant(1, L"a"), 0); }),
              "Error: invalid variant type for array operation.");
    s.EnableTypeChange(true);
    s.Append(CVkVariant(2, L"a"));
    EXPECT_EQ(values(s), (std::vector<int>{2}));
    // Members keep their names and flags as given.
    CVkVariant flagged(3, L"");
    flagged.EnableTypeChange(true);
    CVkVariant& added = s.Append(flagged);
    EXPECT_EQ(U8(added.GetName()), "no_name");
    EXPECT_TRUE(added.IsEnabledTypeChange());
}

TEST(CVkVariantList, RecordTypedListsAreEditedOnlyWithTypeChange) {
    CVkVariant rec(pairType(), L"p");
    EXPECT_EQ(RunTypeOf(rec), "ListTest.Pair");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(&rec.Append(CVkVariant(1, L"z")), &undefVariant()); }),
              "Error: invalid variant type (ListTest.Pair) for array operation.");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(rec.Delete(0), 0); }), "Error: can't delete member in this runtype.");
    EXPECT_EQ(Diag([&] { rec.ClearList(); }), "Error: can't ClearList in this runtype.");
    EXPECT_EQ(rec.GetCount(), 2);
    // Assigning a plain list does not fit a record.
    EXPECT_EQ(Diag([&] { rec = CVkListVariant(); }), "Error: can't do assignment, type change not enabled");

    CVkVariant appended(rec);
    appended.EnableTypeChange(true);
    appended.Append(CVkVariant(1, L"z"));
    EXPECT_EQ(RunTypeOf(appended), "CVkListVariant");
    EXPECT_EQ(appended.GetCount(), 3);

    CVkVariant deleted(rec);
    deleted.EnableTypeChange(true);
    EXPECT_EQ(deleted.Delete(1), 1);
    EXPECT_EQ(RunTypeOf(deleted), "CVkListVariant");
    EXPECT_EQ(deleted.GetCount(), 1);

    CVkVariant cleared(rec);
    cleared.EnableTypeChange(true);
    cleared.ClearList();
    EXPECT_EQ(RunTypeOf(cleared), "CVkListVariant");
    EXPECT_EQ(cleared.GetCount(), 0);

    CVkVariant scalar(4, L"s");
    scalar.EnableTypeChange(true);
    scalar.ClearList();
    EXPECT_EQ(RunTypeOf(scalar), "CVkListVariant");
    EXPECT_EQ(scalar.GetCount(), 0);
}

TEST(CVkVariantList, DeleteClearAndSetOrAppend) {
    CVkVariant l = List(L"l", {CVkVariant(1, L"a"), CVkVariant(2, L"b"), CVkVariant(3, L"c")});
    EXPECT_EQ(Diag([&] { EXPECT_EQ(l.Delete(3), 0); }), "Error: invalid index to delete!");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(l.Delete(0xFFFFFFFFu), 0); }), "");
    CVkVariant& kept = l[2];
    EXPECT_EQ(l.Delete(1), 1);
    EXPECT_EQ(values(l), (std::vector<int>{1, 3}));
    EXPECT_EQ(kept.GetVk_int32(), 3);
    EXPECT_EQ(Diag([&] { EXPECT_EQ(List(L"e", {}).Delete(0), 0); }), "Error: invalid index to delete!");
    EXPECT_EQ(Diag([&] { EXPECT_EQ(CVkVariant(1, L"i").Delete(0), 0); }),
              "Error: can't delete member in this runtype.");

    EXPECT_EQ(l.SetOrAppend(L"new name", CVkVariant(7, L"ignored")), -9);
    EXPECT_EQ(U8(l[2].GetName()), "new_name");
    EXPECT_EQ(l[2].GetVk_int32(), 7);
    EXPECT_EQ(l.SetOrAppend(L"c", CVkVariant(8, L"other")), 1);
    EXPECT_EQ(U8(l[1].GetName()), "c");
    EXPECT_EQ(l[1].GetVk_int32(), 8);
    EXPECT_EQ(Diag([&] { l.SetOrAppend(L"c", CVkVariant(L"s", L"x")); }),
              "Error: can't do assignment from type: CVkStringW to: vk_int32, type change not enabled!");
    CVkVariant none;
    EXPECT_EQ(none.SetOrAppend(L"a", CVkVariant(1, L"x")), -1);
    EXPECT_EQ(none.GetCount(), 1);

    l.ClearList();
    EXPECT_EQ(l.GetCount(), 0);
    EXPECT_EQ(RunTypeOf(l), "CVkListVariant");
}
