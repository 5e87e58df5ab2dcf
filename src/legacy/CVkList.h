#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringW.h>

#include <cstdarg>
#include <mutex>

namespace ZanLegacy {

enum EVkKeyType : int {
    eVkKeyNone = 0,
    eVkKeyInt = 1,
    eVkKeyString = 2,
};

// Doubly linked list of untyped data pointers that it does not own, each node optionally keyed by an
// integer or a string. Misuse prints an "Error: ..." diagnostic and returns null, false or -9; nothing
// throws. Every walk or change of the node chain holds the list's own recursive mutex, so callbacks of
// ForEach, FirstThat and LastThat may call back into the same list; GetCount, GetFirst, GetLast and the
// key-type accessors do not lock.
class ZAN_EXPORT CVkList {
public:
    class ZAN_EXPORT CVkKey {
    public:
        CVkKey();
        CVkKey(int key);
        CVkKey(const wchar_t* key);

        EVkKeyType GetKeyType() const { return m_type; }
        int GetIntKey() const { return m_intKey; }
        const CVkStringW& GetStringKey() const { return m_stringKey; }
        // Copies the other key's value when both are of the same type.
        void SetKey(const CVkKey& other);
        bool operator==(const CVkKey& other) const;

    private:
        EVkKeyType m_type;
        int m_intKey;
        CVkStringW m_stringKey;
    };

    class ZAN_EXPORT CVkNode {
    public:
        // A node that still belongs to a list is detached first.
        ~CVkNode();
        CVkNode(const CVkNode&) = delete;
        CVkNode& operator=(const CVkNode&) = delete;

        CVkKey& GetNodeKey() { return m_key; }
        void SetNodeKey(const CVkKey& key);
        CVkNode* GetNext() const { return m_next; }
        CVkNode* GetPrevious() const { return m_previous; }
        // The number of nodes before this one; -9 when it belongs to no list.
        int IndexOf() const;

    private:
        friend class CVkList;
        CVkNode(const CVkKey& key, void* data);

        CVkKey m_key;
        void* m_data;
        CVkNode* m_next;
        CVkNode* m_previous;
        CVkList* m_list;
    };

    CVkList(EVkKeyType type = eVkKeyNone);
    CVkList(unsigned int n, void** items);
    // Unkeyed list of the arguments up to the first null pointer.
    CVkList(void* first, ...);
    CVkList(const CVkList& other);
    CVkList& operator=(const CVkList& other);
    virtual ~CVkList();

    void Clear();
    unsigned int GetCount() const { return m_count; }
    EVkKeyType GetKeyType() const { return m_keyType; }
    CVkNode* GetFirst() const { return m_first; }
    CVkNode* GetLast() const { return m_last; }
    void SetKeyType(EVkKeyType type) { m_keyType = type; }

    CVkNode* GetNth(unsigned int n);
    void* operator[](unsigned int n);
    void* GetData(CVkNode* node);

    CVkNode* Append(void* data);
    CVkNode* Append(CVkKey& key, void* data);
    CVkNode* Insert(CVkNode* before, void* data);
    CVkNode* Insert(void* data);
    CVkNode* Insert(unsigned int index, void* data);
    // The caller owns the detached node.
    CVkNode* DetachNode(CVkNode* node);
    bool DeleteNode(CVkNode* node);

    CVkNode* Find(const CVkKey& key);
    CVkNode* Find(void* data);
    int IndexOf(void* data);

    // Reorders the data pointers with qsort; cmp receives pointers to two data pointers. Nodes and keys
    // stay where they are.
    void Sort(int (*cmp)(void*, void*));
    void ForEach(int (*fn)(void*));
    void* FirstThat(int (*fn)(void*));
    void* LastThat(int (*fn)(void*));

protected:
    // Appends first and the further arguments up to the first null pointer.
    void AppendAll(void* first, va_list rest);

private:
    // Takes over other's key type and appends a node for each of its nodes.
    void Set(const CVkList& other);
    CVkNode* link(CVkNode* node, CVkNode* before);

    unsigned int m_count;
    CVkNode* m_first;
    CVkNode* m_last;
    EVkKeyType m_keyType;
    mutable std::recursive_mutex m_mutex;
};

// Typed face of CVkList: the same operations with T* in place of untyped pointers.
template <class T>
class CVkList_specI : public CVkList {
public:
    CVkList_specI(EVkKeyType type = eVkKeyNone) : CVkList(type) {}
    CVkList_specI(unsigned int n, T** items) : CVkList(n, reinterpret_cast<void**>(items)) {}
    // Unkeyed list of the arguments up to the first null pointer.
    CVkList_specI(T* first, ...) {
        va_list rest;
        va_start(rest, first);
        AppendAll(first, rest);
        va_end(rest);
    }
    CVkList_specI(const CVkList_specI& other) : CVkList(other) {}
    CVkList_specI& operator=(const CVkList_specI& other) {
        CVkList::operator=(other);
        return *this;
    }

    T* operator[](unsigned int n) { return static_cast<T*>(CVkList::operator[](n)); }
    T* GetData(CVkNode* node) { return static_cast<T*>(CVkList::GetData(node)); }
    CVkNode* Append(T* data) { return CVkList::Append(data); }
    CVkNode* Append(CVkKey& key, T* data) { return CVkList::Append(key, data); }
    CVkNode* Insert(CVkNode* before, T* data) { return CVkList::Insert(before, data); }
    CVkNode* Insert(T* data) { return CVkList::Insert(data); }
    CVkNode* Insert(unsigned int index, T* data) { return CVkList::Insert(index, data); }
    CVkNode* Find(const CVkKey& key) { return CVkList::Find(key); }
    CVkNode* Find(T* data) { return CVkList::Find(data); }
    int IndexOf(T* data) { return CVkList::IndexOf(data); }
    void Sort(int (*cmp)(T**, T**)) { SortAs(cmp); }
    void ForEach(int (*fn)(T*)) { ForEachAs(fn); }
    T* FirstThat(int (*fn)(T*)) { return static_cast<T*>(FirstThatAs(fn)); }
    T* LastThat(int (*fn)(T*)) { return static_cast<T*>(LastThatAs(fn)); }

private:
    // The typed callbacks are reached through a thread-local slot, so no function is ever called
    // through a pointer of another type.
    static thread_local int (*s_cmp)(T**, T**);
    static thread_local int (*s_fn)(T*);
    static int cmpThunk(void* a, void* b) { return s_cmp(static_cast<T**>(a), static_cast<T**>(b)); }
    static int fnThunk(void* p) { return s_fn(static_cast<T*>(p)); }
    template <class F, class G>
    auto withCallback(F*& slot, F* value, G&& run) {
        F* saved = slot;
        slot = value;
        struct Restore {
            F*& slot;
            F* saved;
            ~Restore() { slot = saved; }
        } restore{slot, saved};
        return run();
    }
    void SortAs(int (*cmp)(T**, T**)) {
        withCallback(s_cmp, cmp, [&] {
            CVkList::Sort(cmpThunk);
            return 0;
        });
    }
    void ForEachAs(int (*fn)(T*)) {
        withCallback(s_fn, fn, [&] {
            CVkList::ForEach(fnThunk);
            return 0;
        });
    }
    void* FirstThatAs(int (*fn)(T*)) {
        return withCallback(s_fn, fn, [&] { return CVkList::FirstThat(fnThunk); });
    }
    void* LastThatAs(int (*fn)(T*)) {
        return withCallback(s_fn, fn, [&] { return CVkList::LastThat(fnThunk); });
    }

    std::recursive_mutex m_specMutex; // the typed list's own lock; its operations do not take it
};

template <class T>
thread_local int (*CVkList_specI<T>::s_cmp)(T**, T**) = nullptr;
template <class T>
thread_local int (*CVkList_specI<T>::s_fn)(T*) = nullptr;

} // namespace ZanLegacy
