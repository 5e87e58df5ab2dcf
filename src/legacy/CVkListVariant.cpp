#include <legacy/CVkListVariant.h>

#include <legacy/CVkVariant.h>

#include <utility>

namespace ZanLegacy {

std::recursive_mutex& CVkListVariant::recursiveMutex() {
    static std::recursive_mutex* const mutex = new std::recursive_mutex;
    return *mutex;
}

CVkListVariant::CVkListVariant() = default;

CVkListVariant::CVkListVariant(const CVkListVariant& other) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    copyMembers(other, *this);
}

CVkListVariant& CVkListVariant::operator=(const CVkListVariant& other) {
    SetValue(other);
    return *this;
}

CVkListVariant::~CVkListVariant() {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    destroyMembers(m_members);
}

void CVkListVariant::SetValue(const CVkListVariant& source) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    // Copy first: source may be a member of this list or contain it.
    CVkListVariant copy;
    copyMembers(source, copy);
    std::swap(m_members, copy.m_members);
}

int CVkListVariant::GetCount() const {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    return static_cast<int>(m_members.size());
}

CVkVariant* CVkListVariant::GetAt(int i) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    if (i < 0 || static_cast<std::size_t>(i) >= m_members.size())
        return nullptr;
    return m_members[static_cast<std::size_t>(i)].get();
}

const CVkVariant* CVkListVariant::GetAt(int i) const {
    return const_cast<CVkListVariant*>(this)->GetAt(i);
}

CVkVariant& CVkListVariant::Append(const CVkVariant& item) {
    auto member = std::make_unique<CVkVariant>(item);
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    m_members.push_back(std::move(member));
    return *m_members.back();
}

CVkVariant* CVkListVariant::Insert(const CVkVariant& item, int index) {
    auto member = std::make_unique<CVkVariant>(item);
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    if (index < 0 || static_cast<std::size_t>(index) > m_members.size())
        return nullptr;
    return m_members.insert(m_members.begin() + index, std::move(member))->get();
}

bool CVkListVariant::Delete(int index) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    if (index < 0 || static_cast<std::size_t>(index) >= m_members.size())
        return false;
    Members gone;
    gone.push_back(std::move(m_members[static_cast<std::size_t>(index)]));
    m_members.erase(m_members.begin() + index);
    destroyMembers(gone);
    return true;
}

void CVkListVariant::Clear() {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    Members gone;
    std::swap(gone, m_members);
    destroyMembers(gone);
}

void CVkListVariant::destroyMembers(Members& members) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    Members work;
    std::swap(work, members);
    // Each node's members are moved to the work list before the node dies, so no destructor ever
    // has members of its own to destroy: the depth of the tree does not reach the stack.
    while (!work.empty()) {
        std::unique_ptr<CVkVariant> node = std::move(work.back());
        work.pop_back();
        if (auto* list = dynamic_cast<CVkVariantDataCVkListVariant*>(node->m_data.get())) {
            for (auto& member : list->GetList().m_members)
                work.push_back(std::move(member));
            list->GetList().m_members.clear();
        }
    }
}

namespace {

struct CopyJob {
    const CVkListVariant* source;
    CVkListVariant* target;
};

} // namespace

// One node's value without its members; a list's members are left to the caller's work list.
static std::unique_ptr<CVkVariantData> copyShallow(const CVkVariantData& source, std::vector<CopyJob>& jobs,
                                                   CVkListVariant*& listOut,
                                                   const CVkListVariant*& sourceList) {
    listOut = nullptr;
    sourceList = nullptr;
    if (const auto* list = dynamic_cast<const CVkVariantDataCVkListVariant*>(&source)) {
        const CVkVariantRunType& rt = list->GetRunType();
        const bool keep = rt == CVkVariantDataCVkListVariant::GetOrigRunType() ||
                          CVkVariant::GetRunTypeIndex(rt, false) != 0xFFFFFFFFu;
        auto copy = keep ? std::make_unique<CVkVariantDataCVkListVariant>(rt)
                         : std::make_unique<CVkVariantDataCVkListVariant>();
        listOut = &copy->GetList();
        sourceList = &list->GetList();
        jobs.push_back({sourceList, listOut});
        return copy;
    }
    std::unique_ptr<CVkVariantData> copy(source.Clone());
    if (copy)
        source.GetValueCopy(*copy);
    return copy;
}

std::unique_ptr<CVkVariantData> CVkListVariant::copyData(const CVkVariantData& source) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    std::vector<CopyJob> jobs;
    CVkListVariant* target = nullptr;
    const CVkListVariant* from = nullptr;
    auto copy = copyShallow(source, jobs, target, from);
    if (target) {
        jobs.clear();
        copyMembers(*from, *target);
    }
    return copy;
}

void CVkListVariant::copyMembers(const CVkListVariant& source, CVkListVariant& target) {
    std::lock_guard<std::recursive_mutex> lock(recursiveMutex());
    std::vector<CopyJob> jobs{{&source, &target}};
    CVkListVariant* unusedTarget = nullptr;
    const CVkListVariant* unusedSource = nullptr;
    while (!jobs.empty()) {
        const CopyJob job = jobs.back();
        jobs.pop_back();
        for (const auto& member : job.source->m_members) {
            auto node = std::make_unique<CVkVariant>();
            node->m_name = member->m_name;
            node->m_typeChangeEnabled = member->m_typeChangeEnabled;
            if (member->m_data)
                node->m_data = copyShallow(*member->m_data, jobs, unusedTarget, unusedSource);
            job.target->m_members.push_back(std::move(node));
        }
    }
}

} // namespace ZanLegacy
