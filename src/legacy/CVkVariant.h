#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkByteArray.h>
#include <legacy/CVkListVariant.h>
#include <legacy/CVkStringW.h>
#include <legacy/CVkVariantData.h>
#include <legacy/CVkVariantRunType.h>

#include <concepts>
#include <initializer_list>

namespace ZanLegacy {

class CVkVariant;

// The shared node without a value that failed lookups and refused list operations return. No public
// operation changes it: its type change cannot be enabled, it cannot be renamed or made a list.
ZAN_EXPORT CVkVariant& undefVariant();

// Set at library load to the result of CVkVariant::RegisterRuntypes().
ZAN_EXPORT extern int countOfRegisteredRuntypes;

// A node of the legacy metadata tree: a name and a value of one kind (CVkVariantData), where a list
// value makes it an inner node owning its members. Copies are deep. Nothing throws of its own:
// refused operations print an "Error: ..." diagnostic (VkPrintDiagnostic) and leave the node as it
// was. The type-change guard: a node changes its kind, loses its value, or (as a record-typed list)
// has members added, inserted, deleted or cleared only after EnableTypeChange(true).
// Threads: one thread at a time per tree; list steps hold CVkListVariant::recursiveMutex(), the
// registry its own lock, always taken after the list lock.
class ZAN_EXPORT CVkVariant {
public:
    // Readers of stored trees refuse nesting deeper than this, so that code walking a tree
    // recursively stays far from the stack's limit.
    static constexpr int kMaxNestingDepth = 1000;

    // Construction. All but the copy constructor validate the name (ValidateName) and leave type
    // change off; the default constructor makes a node without a value and with an empty name.
    CVkVariant();
    CVkVariant(const int& value, const CVkStringW& name);
    CVkVariant(const unsigned int& value, const CVkStringW& name);
    CVkVariant(const long& value, const CVkStringW& name);
    CVkVariant(const unsigned long& value, const CVkStringW& name);
    CVkVariant(const double& value, const CVkStringW& name);
    CVkVariant(const bool& value, const CVkStringW& name);
    CVkVariant(void* const& value, const CVkStringW& name);
    // Strings: UTF-8 text is converted to wide (bytes that are not UTF-8 are dropped).
    CVkVariant(char* const& value, const CVkStringW& name);
    CVkVariant(wchar_t* const& value, const CVkStringW& name);
    CVkVariant(const char* value, const CVkStringW& name);
    CVkVariant(const wchar_t* value, const CVkStringW& name);
    CVkVariant(const CVkStringW& value, const CVkStringW& name);
    CVkVariant(const CVkByteArray& value, const CVkStringW& name);
    // A plain list holding copies of the members.
    CVkVariant(const CVkListVariant& value, const CVkStringW& name);
    // The defaults of the registered sample of rt; no value when rt is "unknown" or not registered.
    CVkVariant(const CVkVariantRunType& rt, const CVkStringW& name);
    // Deep copy; name (unvalidated) and type-change flag are copied.
    CVkVariant(const CVkVariant& other);
    ~CVkVariant();

    // Names.
    const CVkStringW& GetName() const { return m_name; }
    // Stores the name and validates it; returns ValidateName's result.
    int SetName(const CVkStringW& name);
    // An empty name becomes "no_name"; a first character other than an ASCII letter or '_', and a
    // further character other than an ASCII letter, digit, '-', '.' or '_', becomes '_'. Returns 1
    // when the name was changed, else 0.
    static int ValidateName(CVkStringW& name);

    // Value and kind.
    const CVkVariantRunType& GetRunType() const;
    CVkVariantData* GetData() { return m_data.get(); }
    const CVkVariantData* GetData() const { return m_data.get(); }
    void* GetValueVoidPtr();
    int Write(CVkStringW& text) const;
    int Read(const CVkStringW& text);
    int Read(const wchar_t* text);

    // The type-change guard. EnableTypeChange returns the previous flag.
    bool EnableTypeChange(bool enable);
    bool IsEnabledTypeChange() const { return m_typeChangeEnabled; }
    void MakeNull();

    // Assignment. A value of the node's own kind is stored in place; another kind replaces the value
    // only with type change on. The name and the flag of the node assigned to never change. The
    // source may be a member of this node or contain it.
    CVkVariant& operator=(const CVkVariant& source);
    CVkVariant& operator=(const int& value);
    CVkVariant& operator=(const unsigned int& value);
    CVkVariant& operator=(const long& value);
    CVkVariant& operator=(const unsigned long& value);
    CVkVariant& operator=(const double& value);
    CVkVariant& operator=(const bool& value);
    CVkVariant& operator=(void* const& value);
    CVkVariant& operator=(const CVkStringW& value);
    CVkVariant& operator=(const wchar_t* value);
    CVkVariant& operator=(const char* value);
    CVkVariant& operator=(const CVkByteArray& value);
    CVkVariant& operator=(const CVkListVariant& value);

    // Node comparison: values only, names ignored; two nodes without a value are equal.
    bool operator==(const CVkVariant& other) const;
    bool operator!=(const CVkVariant& other) const;

    // Comparison with plain values through the getters; != is the exact negation, so it is true
    // whenever the conversion fails.
    bool operator==(const int& value) const;
    bool operator==(const unsigned int& value) const;
    bool operator==(const long& value) const;
    bool operator==(const unsigned long& value) const;
    bool operator==(const double& value) const;
    bool operator==(const bool& value) const;
    bool operator==(void* const& value) const;
    bool operator==(const CVkStringW& value) const;
    bool operator==(const wchar_t* value) const;
    bool operator==(const char* value) const;
    bool operator==(const CVkByteArray& value) const;
    bool operator==(const CVkListVariant& value) const;
    bool operator!=(const int& value) const;
    bool operator!=(const unsigned int& value) const;
    bool operator!=(const long& value) const;
    bool operator!=(const unsigned long& value) const;
    bool operator!=(const double& value) const;
    bool operator!=(const bool& value) const;
    bool operator!=(void* const& value) const;
    bool operator!=(const CVkStringW& value) const;
    bool operator!=(const wchar_t* value) const;
    bool operator!=(const char* value) const;
    bool operator!=(const CVkByteArray& value) const;
    bool operator!=(const CVkListVariant& value) const;

    // Typed getters: ok (may be null) is set to true, and to false on failure, when the result is the
    // failure value (-1, 0, 0.0, false, null, empty). Doubles convert to integers truncated toward
    // zero and saturated at the target's range; a NaN gives 0.
    int GetVk_int32(bool* ok = nullptr) const;
    unsigned int GetVk_uint32(bool* ok = nullptr) const;
    long GetVk_int64(bool* ok = nullptr) const;
    unsigned long GetVk_uint64(bool* ok = nullptr) const;
    double GetDouble(bool* ok = nullptr) const;
    bool GetBool(bool* ok = nullptr) const;
    void* GetVoidPtr(bool* ok = nullptr) const;
    CVkStringW GetCVkStringW(bool* ok = nullptr) const;
    CVkByteArray GetCVkByteArray(bool* ok = nullptr) const;

    // List access. Counts are -1 for a node that is not a list.
    int GetCount() const;
    const CVkListVariant& GetCVkListVariant(bool* ok = nullptr) const;
    CVkVariant* IndexPtr(int i);
    const CVkVariant* IndexPtr(int i) const;
    // Member i, or the undefined variant (also for an index beyond the int range).
    CVkVariant& operator[](unsigned long i);
    const CVkVariant& operator[](unsigned long i) const;
    // Other integer types, so that v[0] is not ambiguous with the name lookup; a negative index gives
    // the undefined variant.
    template <std::integral I>
    CVkVariant& operator[](I i) {
        // A negative index goes on as one beyond the int range: refused like any other bad index.
        if constexpr (std::is_signed_v<I>)
            if (i < 0)
                return (*this)[~0UL];
        return (*this)[static_cast<unsigned long>(i)];
    }
    template <std::integral I>
    const CVkVariant& operator[](I i) const {
        if constexpr (std::is_signed_v<I>)
            if (i < 0)
                return (*this)[~0UL];
        return (*this)[static_cast<unsigned long>(i)];
    }
    CVkVariant* SearchFixedOneLevel(const wchar_t* name);
    const CVkVariant* SearchFixedOneLevel(const wchar_t* name) const;
    CVkVariant& operator[](const wchar_t* name);
    const CVkVariant& operator[](const wchar_t* name) const;
    // Name paths ended by a null pointer: SearchFixed looks each name up among the direct members,
    // Search in the whole subtree, breadth-first, starting with the current node itself.
    CVkVariant* SearchFixed(const wchar_t* name, ...);
    const CVkVariant* SearchFixed(const wchar_t* name, ...) const;
    CVkVariant* Search(const wchar_t* name, ...);
    const CVkVariant* Search(const wchar_t* name, ...) const;
    // Index of the first member of that name; -1 for a node that is not a list, -9 when none.
    int IndexOf(const CVkStringW& name) const;
    bool Member(const CVkVariant& v) const;

    // List editing. Plain lists can always be edited; record-typed lists and scalars only with type
    // change on, and then they become plain lists. A node without a value becomes a plain list.
    CVkVariant& Append(const CVkVariant& item);
    // Returns the undefined variant in every case.
    CVkVariant& Insert(const CVkVariant& item, int index);
    int SetOrAppend(const CVkStringW& name, const CVkVariant& value);
    int Delete(unsigned int index);
    void ClearList();

    // The run-type registry: process-wide, entries are never removed or replaced.
    // 0 when registered (or registered already with the same structure), -9 for another structure.
    static int RegisterRunType(const CVkVariant& sample);
    // Registers the eleven basic samples; 0. The first GetRunTypeSample does it.
    static int RegisterKnownTypes();
    // Registers the record types of the legacy metadata (defined with them).
    static int RegisterRuntypes();
    static const CVkVariant& GetRunTypeSample(const CVkVariantRunType& rt);
    // The registration's sequence number, or 0xFFFFFFFF when rt is not registered.
    static unsigned int GetRunTypeIndex(const CVkVariantRunType& rt, bool printError);
    // 0 when a and b have the same counts and run types (members too when recursive), else -1.
    static int CompareStructure(const CVkVariant& a, const CVkVariant& b, bool recursive);
    // 0, -9 (type change off) or -4 (rt not registered).
    int SetRunType(const CVkVariantRunType& rt);
    // As SetRunType, but members whose names and kinds match the record keep their values.
    int SetRunTypeCompatible(const CVkVariantRunType& rt);
    // A plain list named name holding copies of the members; the variadic form takes pointers up to
    // one to a node without a value (or a null pointer).
    static CVkVariant CreateStruct(const CVkStringW& name, std::initializer_list<CVkVariant> members);
    static CVkVariant CreateStruct(const CVkStringW& name, const CVkVariant* first, ...);
    // A record of type rt with the given members' values put in by name.
    static CVkVariant CreateStructNamed(const CVkVariantRunType& rt, const CVkStringW& name,
                                        const CVkVariant* first, ...);

    // Text dump: "<variant version=\"1.0\">", one line per node, "</variant>", lines ending in CR LF.
    static void Trace(const CVkVariant& v);
    static CVkStringW& Trace(CVkStringW& out, const CVkVariant& v);
    // A negative level makes the whole dump, a level of 0 or more the lines of v at that indent;
    // print prints each part as it is made, out (may be null) receives the text appended.
    static void TraceLow(CVkStringW* out, const CVkVariant& v, bool print, int level);

    // Builds and discards a small sample tree.
    static void DebugVisualizersTest();

private:
    friend class CVkListVariant;
    friend class CVkVariantDataCVkListVariant;

    bool isUndef() const;
    CVkVariantDataCVkListVariant* asList() const;
    // Stores value in place when the node holds that kind, else replaces the value when type change
    // is on, else prints refusal.
    template <class T>
    CVkVariant& assignValue(const T& value, const wchar_t* refusal);
    // Makes the node a list that may take members (Append and Insert); false, with message printed,
    // when the guard refuses.
    bool prepareList(bool forAppend);

    std::unique_ptr<CVkVariantData> m_data;
    CVkStringW m_name;
    bool m_typeChangeEnabled = false;
};

} // namespace ZanLegacy
