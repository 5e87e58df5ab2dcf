#include <legacy/CVkList.h>

#include <legacy/VkDiagnostics.h>

#include <cstdarg>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace ZanLegacy {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// qsort wants a comparison of const pointers; the caller's comparison is reached through this slot so
// that it is called with its own type.
thread_local int (*t_compare)(void*, void*) = nullptr;

int compareThunk(const void* a, const void* b) {
    return t_compare(const_cast<void*>(a), const_cast<void*>(b));
}

} // namespace

// ---- keys ----

CVkList::CVkKey::CVkKey() : m_type(eVkKeyNone), m_intKey(0) {}

CVkList::CVkKey::CVkKey(int key) : m_type(eVkKeyInt), m_intKey(key) {}

CVkList::CVkKey::CVkKey(const wchar_t* key) : m_type(eVkKeyString), m_intKey(0), m_stringKey(key) {}

void CVkList::CVkKey::SetKey(const CVkKey& other) {
    if (m_type != other.m_type) {
        VkPrintDiagnostic(L"Error: Key type mismatch.");
        return;
    }
    switch (m_type) {
    case eVkKeyNone:
        break;
    case eVkKeyInt:
        m_intKey = other.m_intKey;
        break;
    case eVkKeyString:
        m_stringKey = other.m_stringKey;
        break;
    default:
        VkPrintDiagnostic(L"Error: Bad key type.");
        break;
    }
}

bool CVkList::CVkKey::operator==(const CVkKey& other) const {
    if (m_type != other.m_type) {
        VkPrintDiagnostic(L"Error: Key type mismatch.");
        return false;
    }
    switch (m_type) {
    case eVkKeyInt:
        return m_intKey == other.m_intKey;
    case eVkKeyString:
        return m_stringKey == other.m_stringKey;
    default:
        VkPrintDiagnostic(L"Error: Bad key type.");
        return false;
    }
}

// ---- nodes ----

CVkList::CVkNode::CVkNode(const CVkKey& key, void* data)
    : m_key(key), m_data(data), m_next(nullptr), m_previous(nullptr), m_list(nullptr) {}

CVkList::CVkNode::~CVkNode() {
    if (m_list)
        m_list->DetachNode(this);
}

void CVkList::CVkNode::SetNodeKey(const CVkKey& key) {
    m_key.SetKey(key);
}

int CVkList::CVkNode::IndexOf() const {
    CVkList* list = m_list;
    if (!list) {
        VkPrintDiagnostic(L"Node doesn't belong to a list in IndexOf()");
        return -9;
    }
    Lock lock(list->m_mutex);
    int index = 0;
    for (const CVkNode* n = m_previous; n; n = n->m_previous)
        ++index;
    return index;
}

// ---- list ----

CVkList::CVkList(EVkKeyType type) : m_count(0), m_first(nullptr), m_last(nullptr), m_keyType(type) {}

CVkList::CVkList(unsigned int n, void** items) : CVkList(eVkKeyNone) {
    for (unsigned int i = 0; items && i < n; ++i)
        Append(items[i]);
}

CVkList::CVkList(void* first, ...) : CVkList(eVkKeyNone) {
    va_list rest;
    va_start(rest, first);
    AppendAll(first, rest);
    va_end(rest);
}

void CVkList::AppendAll(void* first, va_list rest) {
    for (void* item = first; item; item = va_arg(rest, void*))
        Append(item);
}

CVkList::CVkList(const CVkList& other) : CVkList(eVkKeyNone) {
    Set(other);
}

CVkList& CVkList::operator=(const CVkList& other) {
    if (&other == this)
        return *this;
    Lock lock(m_mutex);
    Clear();
    Set(other);
    return *this;
}

CVkList::~CVkList() {
    Clear();
}

void CVkList::Set(const CVkList& other) {
    // The source's nodes are read under its lock alone, then appended under this list's lock, so two
    // lists copied into each other from two threads cannot deadlock.
    std::vector<std::pair<CVkKey, void*>> nodes;
    EVkKeyType type;
    {
        Lock source(other.m_mutex);
        type = other.m_keyType;
        nodes.reserve(other.m_count);
        for (CVkNode* n = other.m_first; n; n = n->m_next)
            nodes.emplace_back(n->m_key, n->m_data);
    }
    Lock lock(m_mutex);
    m_keyType = type;
    for (auto& [key, data] : nodes)
        Append(key, data);
    if (m_count != nodes.size())
        VkPrintDiagnostic(L"Logic error!");
}

void CVkList::Clear() {
    Lock lock(m_mutex);
    for (CVkNode* n = m_first; n;) {
        CVkNode* next = n->m_next;
        n->m_list = nullptr;
        delete n;
        n = next;
    }
    m_first = m_last = nullptr;
    m_count = 0;
}

CVkList::CVkNode* CVkList::GetNth(unsigned int n) {
    Lock lock(m_mutex);
    if (m_count == 0)
        return nullptr;
    if (n >= m_count) {
        VkPrintDiagnostic(L"Error: Invalid index in CVkList::GetNth()");
        return nullptr;
    }
    CVkNode* node = m_first;
    while (n--)
        node = node->m_next;
    return node;
}

void* CVkList::operator[](unsigned int n) {
    CVkNode* node = GetNth(n);
    return node ? node->m_data : nullptr;
}

void* CVkList::GetData(CVkNode* node) {
    return node && node->m_list == this ? node->m_data : nullptr;
}

// Links a new node before `before`, or at the end when before is null.
CVkList::CVkNode* CVkList::link(CVkNode* node, CVkNode* before) {
    if (!node)
        return nullptr;
    node->m_list = this;
    if (!before) {
        node->m_previous = m_last;
        if (m_last)
            m_last->m_next = node;
        else
            m_first = node;
        m_last = node;
    } else {
        node->m_previous = before->m_previous;
        node->m_next = before;
        if (before->m_previous)
            before->m_previous->m_next = node;
        else
            m_first = node;
        before->m_previous = node;
    }
    ++m_count;
    return node;
}

CVkList::CVkNode* CVkList::Append(void* data) {
    Lock lock(m_mutex);
    if (m_keyType != eVkKeyNone) {
        VkPrintDiagnostic(L"Error: Need a key for the object to append!");
        return nullptr;
    }
    return link(new (std::nothrow) CVkNode(CVkKey(), data), nullptr);
}

CVkList::CVkNode* CVkList::Append(CVkKey& key, void* data) {
    Lock lock(m_mutex);
    return link(new (std::nothrow) CVkNode(key, data), nullptr);
}

CVkList::CVkNode* CVkList::Insert(CVkNode* before, void* data) {
    Lock lock(m_mutex);
    if (m_keyType != eVkKeyNone) {
        VkPrintDiagnostic(L"Error: Need a key for the object to insert.");
        return nullptr;
    }
    if (before && before->m_list != this) {
        VkPrintDiagnostic(L"Error: Can't insert before a node from another list.");
        return nullptr;
    }
    CVkNode* node = new (std::nothrow) CVkNode(CVkKey(), data);
    if (!before) {
        if (!m_first)
            return link(node, nullptr);
        return link(node, m_first);
    }
    return link(node, before);
}

CVkList::CVkNode* CVkList::Insert(void* data) {
    return Insert(static_cast<CVkNode*>(nullptr), data);
}

CVkList::CVkNode* CVkList::Insert(unsigned int index, void* data) {
    Lock lock(m_mutex);
    if (index == m_count)
        return Append(data);
    return Insert(GetNth(index), data);
}

CVkList::CVkNode* CVkList::DetachNode(CVkNode* node) {
    if (!node) {
        VkPrintDiagnostic(L"Error: Detaching NULL CVkNode.");
        return nullptr;
    }
    Lock lock(m_mutex);
    if (node->m_list != this) {
        VkPrintDiagnostic(L"Error: Detaching node which is not from this list.");
        return nullptr;
    }
    if (node->m_previous)
        node->m_previous->m_next = node->m_next;
    else
        m_first = node->m_next;
    if (node->m_next)
        node->m_next->m_previous = node->m_previous;
    else
        m_last = node->m_previous;
    node->m_next = node->m_previous = nullptr;
    node->m_list = nullptr;
    --m_count;
    return node;
}

bool CVkList::DeleteNode(CVkNode* node) {
    CVkNode* detached = DetachNode(node);
    delete detached;
    return detached != nullptr;
}

CVkList::CVkNode* CVkList::Find(const CVkKey& key) {
    Lock lock(m_mutex);
    if (m_keyType != key.GetKeyType())
        VkPrintDiagnostic(L"Error: This list is not keyed on the type of this key.");
    for (CVkNode* n = m_first; n; n = n->m_next)
        if (n->m_key == key)
            return n;
    return nullptr;
}

CVkList::CVkNode* CVkList::Find(void* data) {
    Lock lock(m_mutex);
    for (CVkNode* n = m_first; n; n = n->m_next)
        if (n->m_data == data)
            return n;
    return nullptr;
}

int CVkList::IndexOf(void* data) {
    Lock lock(m_mutex);
    int index = 0;
    for (CVkNode* n = m_first; n; n = n->m_next, ++index)
        if (n->m_data == data)
            return index;
    return -9;
}

void CVkList::Sort(int (*cmp)(void*, void*)) {
    if (!cmp)
        return;
    Lock lock(m_mutex);
    std::vector<void*> items;
    items.reserve(m_count);
    for (CVkNode* n = m_first; n; n = n->m_next)
        items.push_back(n->m_data);
    if (items.size() > 1) {
        int (*saved)(void*, void*) = t_compare;
        t_compare = cmp;
        std::qsort(items.data(), items.size(), sizeof(void*), compareThunk);
        t_compare = saved;
    }
    std::size_t i = 0;
    for (CVkNode* n = m_first; n; n = n->m_next)
        n->m_data = items[i++];
}

void CVkList::ForEach(int (*fn)(void*)) {
    Lock lock(m_mutex);
    for (CVkNode* n = m_first; fn && n; n = n->m_next)
        fn(n->m_data);
}

void* CVkList::FirstThat(int (*fn)(void*)) {
    Lock lock(m_mutex);
    for (CVkNode* n = m_first; fn && n; n = n->m_next)
        if (fn(n->m_data))
            return n->m_data;
    return nullptr;
}

void* CVkList::LastThat(int (*fn)(void*)) {
    Lock lock(m_mutex);
    for (CVkNode* n = m_last; fn && n; n = n->m_previous)
        if (fn(n->m_data))
            return n->m_data;
    return nullptr;
}

} // namespace ZanLegacy
