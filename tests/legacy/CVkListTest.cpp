#include <legacy/CVkList.h>
#include <legacy/VkDiagnostics.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ZanLegacy::CVkDiagnosticCapture;
using ZanLegacy::CVkList;
using ZanLegacy::CVkList_specI;
using ZanLegacy::CVkStringW;
using Key = ZanLegacy::CVkList::CVkKey;
using Node = ZanLegacy::CVkList::CVkNode;

namespace {

int a = 1, b = 2, c = 3, x = 9;

std::vector<void*> items(CVkList& list) {
    std::vector<void*> out;
    for (Node* n = list.GetFirst(); n; n = n->GetNext())
        out.push_back(list.GetData(n));
    return out;
}

int byValue(void* l, void* r) {
    return **static_cast<int**>(l) - **static_cast<int**>(r);
}

} // namespace

TEST(CVkList, ConstructionAndIndexedInsertion) {
    EXPECT_EQ(CVkList(nullptr).GetCount(), 0u);
    CVkList two(&a, &b, nullptr);
    EXPECT_EQ(items(two), (std::vector<void*>{&a, &b}));
    void* array[] = {&c, &a};
    CVkList fromArray(2, array);
    EXPECT_EQ(items(fromArray), (std::vector<void*>{&c, &a}));

    CVkDiagnosticCapture capture;
    two.Insert(2u, &c); // index == count appends
    EXPECT_EQ(items(two), (std::vector<void*>{&a, &b, &c}));
    EXPECT_EQ(capture.Text(), "");
    two.Insert(5u, &x); // beyond the count: message, then at the front
    EXPECT_EQ(capture.Text(), "Error: Invalid index in CVkList::GetNth()");
    EXPECT_EQ(items(two), (std::vector<void*>{&x, &a, &b, &c}));
    two.Insert(two.GetNth(2), &x);
    EXPECT_EQ(items(two), (std::vector<void*>{&x, &a, &x, &b, &c}));
    EXPECT_EQ(two[1], &a);
    EXPECT_EQ(two.IndexOf(&b), 3);
    EXPECT_EQ(two.IndexOf(&capture), -9);
    EXPECT_EQ(two.GetNth(4)->IndexOf(), 4);
    EXPECT_EQ(two.GetLast()->GetPrevious()->GetPrevious(), two.GetNth(2));
    EXPECT_EQ(CVkList().GetNth(0), nullptr);
    EXPECT_EQ(capture.Text(), "Error: Invalid index in CVkList::GetNth()"); // an empty list is silent
}

TEST(CVkList, KeyedListsAndTheirMessages) {
    CVkDiagnosticCapture capture;
    CVkList ints(ZanLegacy::eVkKeyInt);
    EXPECT_EQ(ints.Append(&a), nullptr);
    EXPECT_EQ(capture.Text(), "Error: Need a key for the object to append!");
    capture.Clear();
    EXPECT_EQ(ints.Insert(&a), nullptr);
    EXPECT_EQ(capture.Text(), "Error: Need a key for the object to insert.");
    capture.Clear();

    Key seven(7), eight(8);
    Node* node = ints.Append(seven, &a);
    ASSERT_NE(node, nullptr);
    ints.Append(eight, &b);
    EXPECT_EQ(ints.Find(Key(7)), node);
    EXPECT_EQ(ints.Find(Key(6)), nullptr);
    EXPECT_EQ(capture.Text(), "");

    EXPECT_EQ(ints.Find(Key(L"a")), nullptr);
    EXPECT_EQ(capture.Text(), "Error: This list is not keyed on the type of this key."
                              "Error: Key type mismatch."
                              "Error: Key type mismatch.");
    capture.Clear();

    CVkList strings(ZanLegacy::eVkKeyString);
    Key alpha(L"alpha"), beta(L"beta");
    strings.Append(alpha, &a);
    Node* betaNode = strings.Append(beta, &b);
    EXPECT_EQ(strings.Find(Key(L"beta")), betaNode);
    betaNode->SetNodeKey(Key(L"gamma"));
    EXPECT_EQ(strings.Find(Key(L"gamma")), betaNode);
    betaNode->SetNodeKey(Key(3));
    EXPECT_EQ(capture.Text(), "Error: Key type mismatch.");
    capture.Clear();
    EXPECT_FALSE(Key() == Key());
    EXPECT_EQ(capture.Text(), "Error: Bad key type.");
    capture.Clear();

    // Sorting moves the data, not the keys.
    CVkList sorted(ZanLegacy::eVkKeyInt);
    Key k1(1), k2(2), k3(3);
    sorted.Append(k1, &c);
    sorted.Append(k2, &a);
    sorted.Append(k3, &b);
    sorted.Sort(byValue);
    EXPECT_EQ(items(sorted), (std::vector<void*>{&a, &b, &c}));
    std::vector<int> keys;
    for (Node* n = sorted.GetFirst(); n; n = n->GetNext())
        keys.push_back(n->GetNodeKey().GetIntKey());
    EXPECT_EQ(keys, (std::vector<int>{1, 2, 3}));
}

TEST(CVkList, DetachingDeletingAndForeignNodes) {
    CVkDiagnosticCapture capture;
    CVkList list(&a, &b, &c, nullptr);
    CVkList other(&x, nullptr);
    Node* middle = list.GetNth(1);
    EXPECT_EQ(list.DetachNode(middle), middle);
    EXPECT_EQ(items(list), (std::vector<void*>{&a, &c}));
    EXPECT_EQ(list.DetachNode(middle), nullptr);
    EXPECT_EQ(capture.Text(), "Error: Detaching node which is not from this list.");
    capture.Clear();
    EXPECT_EQ(middle->IndexOf(), -9);
    EXPECT_EQ(capture.Text(), "Node doesn't belong to a list in IndexOf()");
    capture.Clear();
    delete middle;
    EXPECT_EQ(list.DetachNode(nullptr), nullptr);
    EXPECT_EQ(capture.Text(), "Error: Detaching NULL CVkNode.");
    capture.Clear();
    EXPECT_EQ(list.Insert(other.GetFirst(), &b), nullptr);
    EXPECT_EQ(capture.Text(), "Error: Can't insert before a node from another list.");
    EXPECT_EQ(list.GetData(other.GetFirst()), nullptr);
    EXPECT_FALSE(list.DeleteNode(other.GetFirst()));
    EXPECT_TRUE(list.DeleteNode(list.GetFirst()));
    EXPECT_EQ(items(list), (std::vector<void*>{&c}));
    delete list.GetFirst(); // a node destroyed while in its list leaves it first
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(list.GetFirst(), nullptr);
    EXPECT_EQ(list.GetLast(), nullptr);
}

TEST(CVkList, CopiesShareDataAndSelfAssignmentKeepsTheList) {
    CVkList strings(ZanLegacy::eVkKeyString);
    Key k(L"k");
    strings.Append(k, &a);
    strings.Append(k, &b);
    CVkList copy(strings);
    EXPECT_EQ(copy.GetKeyType(), ZanLegacy::eVkKeyString);
    EXPECT_EQ(items(copy), items(strings));
    EXPECT_NE(copy.GetFirst(), strings.GetFirst());
    copy.Clear();
    EXPECT_EQ(items(strings), (std::vector<void*>{&a, &b}));
    EXPECT_EQ(a, 1);

    CVkList& self = strings;
    strings = self;
    EXPECT_EQ(items(strings), (std::vector<void*>{&a, &b}));
    EXPECT_EQ(strings.GetFirst()->GetNodeKey().GetStringKey(), L"k");
    copy = strings;
    EXPECT_EQ(items(copy), (std::vector<void*>{&a, &b}));
}

TEST(CVkList, CallbacksAndTheTypedList) {
    CVkList_specI<int> typed;
    typed.Append(&c);
    typed.Append(&a);
    typed.Insert(&b);
    EXPECT_EQ(typed[0], &b);
    EXPECT_EQ(typed.IndexOf(&a), 2);
    typed.Sort([](int** l, int** r) { return **l - **r; });
    EXPECT_EQ(typed[0], &a);
    EXPECT_EQ(typed[2], &c);
    static int sum;
    sum = 0;
    typed.ForEach([](int* p) { return sum += *p; });
    EXPECT_EQ(sum, 6);
    EXPECT_EQ(typed.FirstThat([](int* p) { return int(*p > 1); }), &b);
    EXPECT_EQ(typed.LastThat([](int* p) { return int(*p < 3); }), &b);
    EXPECT_EQ(typed.FirstThat([](int* p) { return int(*p > 5); }), nullptr);

    // A callback may call back into the same list.
    static CVkList* outer;
    CVkList plain(&a, &b, nullptr);
    outer = &plain;
    EXPECT_EQ(plain.FirstThat([](void* p) { return int(outer->IndexOf(p) == 1); }), &b);

    // The typed list is built from its arguments up to the first null pointer, as the plain one is.
    CVkList_specI<int> listed(&c, &a, nullptr);
    EXPECT_EQ(listed.GetCount(), 2u);
    EXPECT_EQ(listed[0], &c);
    EXPECT_EQ(listed[1], &a);
    EXPECT_EQ(CVkList_specI<int>(static_cast<int*>(nullptr)).GetCount(), 0u);

    CVkList_specI<CVkStringW> names;
    CVkStringW first(L"first");
    names.Append(&first);
    EXPECT_EQ(names.GetData(names.GetFirst()), &first);
}
