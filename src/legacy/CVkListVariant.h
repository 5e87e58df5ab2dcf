#pragma once

#include <io/ZanExport.h>

#include <memory>
#include <mutex>
#include <vector>

namespace ZanLegacy {

class CVkVariant;
class CVkVariantData;

// The members of a list variant: an ordered sequence of nodes that the list owns. A member enters as a
// copy of the given node (name and type-change flag kept) and is destroyed when it leaves or the list
// is destroyed. Members live at stable addresses, so a pointer or reference to one stays valid until
// that member is deleted, whatever is appended or inserted around it. Copies are deep; copying,
// comparing and destroying trees walk them without recursion, so their depth is not limited by the
// stack. Every walk and change of every list in the process holds recursiveMutex().
class ZAN_EXPORT CVkListVariant {
public:
    CVkListVariant();
    CVkListVariant(const CVkListVariant& other);
    CVkListVariant& operator=(const CVkListVariant& other);
    ~CVkListVariant();

    // Replaces the members by copies of source's members. Source may be this list, a member of it or
    // a list that contains this one: the copies are made before anything is destroyed.
    void SetValue(const CVkListVariant& source);

    int GetCount() const;
    // Member i, or null when i is out of range.
    CVkVariant* GetAt(int i);
    const CVkVariant* GetAt(int i) const;

    // Adds a copy of item at the end and returns it.
    CVkVariant& Append(const CVkVariant& item);
    // Inserts a copy of item before position index (index == GetCount() appends); returns the new
    // member, or null (nothing inserted) when index is out of range.
    CVkVariant* Insert(const CVkVariant& item, int index);
    // Destroys member index and closes the gap; false when index is out of range.
    bool Delete(int index);
    // Destroys all members.
    void Clear();

    // The one lock of all variant lists. Recursive: copies and comparisons of nested lists take it
    // again. Never destroyed, so trees held by other static objects can still be destroyed at exit.
    static std::recursive_mutex& recursiveMutex();

private:
    friend class CVkVariant;
    friend class CVkVariantDataCVkListVariant;
    using Members = std::vector<std::unique_ptr<CVkVariant>>;

    // Deep copy of a value, walking nested lists with a work list instead of recursion. A list whose
    // run type is neither plain nor registered copies as a plain list. Holds the list lock.
    static std::unique_ptr<CVkVariantData> copyData(const CVkVariantData& source);
    // Appends deep copies of source's members to target, which must not be reachable from source.
    static void copyMembers(const CVkListVariant& source, CVkListVariant& target);
    // Destroys the members and their subtrees without recursion.
    static void destroyMembers(Members& members);

    Members m_members;
};

} // namespace ZanLegacy
