#include <legacy/CVkVariant.h>

#include <legacy/VkDiagnostics.h>
#include <legacy/detail/VkVariantDetail.h>

#include <climits>
#include <cstdarg>
#include <deque>

namespace ZanLegacy {

namespace {

const CVkListVariant& undefList() {
    static const CVkListVariant s_UndefCVkListVariant;
    return s_UndefCVkListVariant;
}

constexpr const wchar_t* kNotAnArray = L"Error: invalid variant type for array operation.";

// Breadth-first search of name in the subtree of root, root itself first.
const CVkVariant* searchSubtree(const CVkVariant* root, const wchar_t* name) {
    std::deque<const CVkVariant*> queue{root};
    while (!queue.empty()) {
        const CVkVariant* node = queue.front();
        queue.pop_front();
        if (node->GetName().Equals(name))
            return node;
        const int count = node->GetCount();
        for (int i = 0; i < count; ++i)
            queue.push_back(node->IndexPtr(i));
    }
    return nullptr;
}

const CVkVariant* followPath(const CVkVariant* node, bool fixed, const wchar_t* name, va_list args) {
    if (!name)
        return nullptr;
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    while (name) {
        node = fixed ? node->SearchFixedOneLevel(name) : searchSubtree(node, name);
        if (!node)
            return nullptr;
        name = va_arg(args, const wchar_t*);
    }
    return node;
}

} // namespace

// Access and search.

int CVkVariant::GetCount() const {
    const CVkVariantDataCVkListVariant* list = asList();
    return list ? list->GetList().GetCount() : -1;
}

const CVkListVariant& CVkVariant::GetCVkListVariant(bool* ok) const {
    const CVkVariantDataCVkListVariant* list = asList();
    if (ok)
        *ok = list != nullptr;
    return list ? list->GetList() : undefList();
}

CVkVariant* CVkVariant::IndexPtr(int i) {
    CVkVariantDataCVkListVariant* list = asList();
    if (!list) {
        VkPrintDiagnostic(L"Error: invalid variant runtype for array operation.");
        return nullptr;
    }
    return list->GetList().GetAt(i);
}

const CVkVariant* CVkVariant::IndexPtr(int i) const {
    return const_cast<CVkVariant*>(this)->IndexPtr(i);
}

CVkVariant& CVkVariant::operator[](unsigned long i) {
    // An index beyond the int range must not wrap around to a valid member.
    CVkVariant* member = IndexPtr(i > static_cast<unsigned long>(INT_MAX) ? -1 : static_cast<int>(i));
    return member ? *member : undefVariant();
}

const CVkVariant& CVkVariant::operator[](unsigned long i) const {
    return const_cast<CVkVariant&>(*this)[i];
}

CVkVariant* CVkVariant::SearchFixedOneLevel(const wchar_t* name) {
    CVkVariantDataCVkListVariant* list = asList();
    if (!list || !name)
        return nullptr;
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    for (const auto& member : list->GetList().m_members)
        if (member->m_name.Equals(name))
            return member.get();
    return nullptr;
}

const CVkVariant* CVkVariant::SearchFixedOneLevel(const wchar_t* name) const {
    return const_cast<CVkVariant*>(this)->SearchFixedOneLevel(name);
}

CVkVariant& CVkVariant::operator[](const wchar_t* name) {
    CVkVariant* member = SearchFixedOneLevel(name);
    return member ? *member : undefVariant();
}

const CVkVariant& CVkVariant::operator[](const wchar_t* name) const {
    return const_cast<CVkVariant&>(*this)[name];
}

CVkVariant* CVkVariant::SearchFixed(const wchar_t* name, ...) {
    va_list args;
    va_start(args, name);
    const CVkVariant* found = followPath(this, true, name, args);
    va_end(args);
    return const_cast<CVkVariant*>(found);
}

const CVkVariant* CVkVariant::SearchFixed(const wchar_t* name, ...) const {
    va_list args;
    va_start(args, name);
    const CVkVariant* found = followPath(this, true, name, args);
    va_end(args);
    return found;
}

CVkVariant* CVkVariant::Search(const wchar_t* name, ...) {
    va_list args;
    va_start(args, name);
    const CVkVariant* found = followPath(this, false, name, args);
    va_end(args);
    return const_cast<CVkVariant*>(found);
}

const CVkVariant* CVkVariant::Search(const wchar_t* name, ...) const {
    va_list args;
    va_start(args, name);
    const CVkVariant* found = followPath(this, false, name, args);
    va_end(args);
    return found;
}

int CVkVariant::IndexOf(const CVkStringW& name) const {
    const CVkVariantDataCVkListVariant* list = asList();
    if (!list)
        return -1;
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    const auto& members = list->GetList().m_members;
    for (std::size_t i = 0; i < members.size(); ++i)
        if (members[i]->m_name.Equals(name))
            return static_cast<int>(i);
    return -9;
}

bool CVkVariant::Member(const CVkVariant& v) const {
    const CVkVariantDataCVkListVariant* list = asList();
    if (!list) {
        VkPrintDiagnostic(kNotAnArray);
        return false;
    }
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    for (const auto& member : list->GetList().m_members)
        if (*member == v)
            return true;
    return false;
}

// Editing.

bool CVkVariant::prepareList(bool forAppend) {
    const auto refuse = [&] {
        if (forAppend)
            detail::VkPrintFormatted(256, L"Error: invalid variant type (%hs) for array operation.",
                                     GetRunType().GetName().GetString());
        else
            VkPrintDiagnostic(kNotAnArray);
        return false;
    };
    // The shared undefined variant never becomes a list.
    if (isUndef())
        return refuse();
    CVkVariantDataCVkListVariant* list = asList();
    const CVkVariantRunType& plain = CVkVariantDataCVkListVariant::GetOrigRunType();
    if (!m_data) {
        m_data = std::make_unique<CVkVariantDataCVkListVariant>();
    } else if (!m_typeChangeEnabled) {
        if (!list || list->GetRunType() != plain)
            return refuse();
    } else if (list) {
        list->SetRunType(plain);
    } else {
        m_data = std::make_unique<CVkVariantDataCVkListVariant>();
    }
    return true;
}

CVkVariant& CVkVariant::Append(const CVkVariant& item) {
    // Copied before this node changes: item may be this node or one of its members.
    const CVkVariant copy(item);
    if (!prepareList(true))
        return undefVariant();
    return asList()->GetList().Append(copy);
}

CVkVariant& CVkVariant::Insert(const CVkVariant& item, int index) {
    const CVkVariant copy(item);
    if (prepareList(false))
        asList()->GetList().Insert(copy, index);
    return undefVariant();
}

int CVkVariant::SetOrAppend(const CVkStringW& name, const CVkVariant& value) {
    const int i = IndexOf(name);
    if (i < 0) {
        CVkVariant& added = Append(value);
        if (&added != &undefVariant())
            added.SetName(name);
        return i;
    }
    *IndexPtr(i) = value;
    return i;
}

int CVkVariant::Delete(unsigned int index) {
    const CVkVariantRunType& plain = CVkVariantDataCVkListVariant::GetOrigRunType();
    const bool isPlain = GetRunType() == plain;
    if (!m_typeChangeEnabled && !isPlain) {
        VkPrintDiagnostic(L"Error: can't delete member in this runtype.");
        return 0;
    }
    const int i = static_cast<int>(index);
    const int count = asList() ? GetCount() : 0;
    if (!(i < count)) {
        VkPrintDiagnostic(L"Error: invalid index to delete!");
        return 0;
    }
    if (!isPlain && m_data)
        m_data->SetRunType(plain);
    if (i < 0)
        return 0;
    return asList()->GetList().Delete(i) ? 1 : 0;
}

void CVkVariant::ClearList() {
    const CVkVariantRunType& plain = CVkVariantDataCVkListVariant::GetOrigRunType();
    if (GetRunType() != plain) {
        if (!m_typeChangeEnabled) {
            VkPrintDiagnostic(L"Error: can't ClearList in this runtype.");
            return;
        }
        SetRunType(plain);
        return;
    }
    asList()->GetList().Clear();
}

} // namespace ZanLegacy
