#include <legacy/CVkVariant.h>

#include <legacy/CVkStringUtils.h>
#include <legacy/VkDiagnostics.h>
#include <legacy/detail/VkVariantDetail.h>

#include <cstdarg>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace ZanLegacy {

int countOfRegisteredRuntypes = 0;

namespace {

using RunTypeMap = std::map<CVkVariantRunType, std::pair<CVkVariant, std::uint32_t>>;

RunTypeMap& runtypeMap() {
    static RunTypeMap map;
    return map;
}

std::uint32_t g_runTypeMapIndex = 0;
bool g_knownTypesRegistered = false;

// Never destroyed, like the list lock.
std::recursive_mutex& runtypeRecursiveMutex() {
    static std::recursive_mutex* const mutex = new std::recursive_mutex;
    return *mutex;
}

// The registry copies and compares samples, which takes the list lock; taking that lock first here
// keeps one order (list, then registry) for every thread.
struct RegistryLock {
    std::lock_guard<std::recursive_mutex> list{CVkListVariant::recursiveMutex()};
    std::lock_guard<std::recursive_mutex> registry{runtypeRecursiveMutex()};
};

// Gives template's run types and member names to node, which has the same structure.
void relabel(CVkVariant& node, const CVkVariant& templ) {
    if (node.GetData())
        node.GetData()->SetRunType(templ.GetRunType());
    const int count = node.GetCount();
    for (int i = 0; i < count; ++i) {
        CVkVariant& member = *node.IndexPtr(i);
        const CVkVariant& model = *templ.IndexPtr(i);
        relabel(member, model);
        member.SetName(model.GetName());
    }
}

// Puts into the members of templ the values of node's members of the same names and kinds.
void fillFrom(CVkVariant& templ, const CVkVariant& node) {
    const int count = templ.GetCount();
    for (int i = 0; i < count; ++i) {
        CVkVariant& target = *templ.IndexPtr(i);
        const int j = node.IndexOf(target.GetName());
        if (j < 0)
            continue;
        const CVkVariant& source = *node.IndexPtr(j);
        if (target.GetCount() >= 1 && source.GetCount() >= 1)
            fillFrom(target, source);
        else if (target.GetRunType() == source.GetRunType())
            target = source;
    }
}

// The given nodes, up to the first without a value or a null pointer.
std::vector<const CVkVariant*> collect(const CVkVariant* first, va_list args) {
    std::vector<const CVkVariant*> nodes;
    for (const CVkVariant* node = first; node && node->GetData(); node = va_arg(args, const CVkVariant*))
        nodes.push_back(node);
    return nodes;
}

CVkVariant structOf(const CVkStringW& name, const std::vector<const CVkVariant*>& members) {
    if (members.empty())
        return CVkVariant(CVkVariantDataCVkListVariant::GetOrigRunType(), name);
    CVkVariant node;
    for (const CVkVariant* member : members)
        node.Append(*member);
    node.SetName(name);
    return node;
}

} // namespace

int CVkVariant::RegisterRunType(const CVkVariant& sample) {
    RegistryLock lock;
    CVkStringA name;
    CVkStringUtils::WtoUTF8(sample.GetName().GetString(), name);
    const CVkVariantRunType rt(name);
    RunTypeMap& map = runtypeMap();
    if (auto it = map.find(rt); it != map.end()) {
        const CVkVariant& stored = it->second.first;
        bool same = stored.GetCount() == sample.GetCount();
        if (same && stored.GetCount() < 0) {
            same = stored.GetRunType() == sample.GetRunType();
        } else {
            for (int i = 0; same && i < stored.GetCount(); ++i)
                same = CompareStructure(*stored.IndexPtr(i), *sample.IndexPtr(i), false) == 0;
        }
        if (!same) {
            VkPrintDiagnostic(L"Error: same Runtype already registered with different definition!");
            return -9;
        }
        return 0;
    }
    auto placed = map.emplace(std::piecewise_construct, std::forward_as_tuple(rt),
                              std::forward_as_tuple(sample, g_runTypeMapIndex++));
    CVkVariant& stored = placed.first->second.first;
    if (stored.m_data)
        stored.m_data->SetRunType(rt);
    return 0;
}

int CVkVariant::RegisterKnownTypes() {
    CVkVariant unknown;
    unknown.SetName(L"unknown");
    RegisterRunType(unknown);
    RegisterRunType(CVkVariant(0, L"vk_int32"));
    RegisterRunType(CVkVariant(0u, L"vk_uint32"));
    RegisterRunType(CVkVariant(0L, L"vk_int64"));
    RegisterRunType(CVkVariant(0UL, L"vk_uint64"));
    RegisterRunType(CVkVariant(0.0, L"double"));
    RegisterRunType(CVkVariant(false, L"bool"));
    RegisterRunType(CVkVariant(static_cast<void*>(nullptr), L"voidPtr"));
    RegisterRunType(CVkVariant(CVkStringW(), L"CVkStringW"));
    RegisterRunType(CVkVariant(CVkByteArray(), L"CVkByteArray"));
    RegisterRunType(CVkVariant(CVkListVariant(), L"CVkListVariant"));
    return 0;
}

const CVkVariant& CVkVariant::GetRunTypeSample(const CVkVariantRunType& rt) {
    static const CVkVariant sRetVar;
    RegistryLock lock;
    if (!g_knownTypesRegistered) {
        g_knownTypesRegistered = true;
        RegisterKnownTypes();
    }
    const RunTypeMap& map = runtypeMap();
    if (auto it = map.find(rt); it != map.end())
        return it->second.first;
    detail::VkPrintFormatted(512, L"Error: CVkVariant::GetRunTypeSample(), can't find: '%hs' runtype!",
                             rt.GetName().GetString());
    return sRetVar;
}

unsigned int CVkVariant::GetRunTypeIndex(const CVkVariantRunType& rt, bool printError) {
    RegistryLock lock;
    const RunTypeMap& map = runtypeMap();
    if (auto it = map.find(rt); it != map.end())
        return it->second.second;
    if (printError)
        detail::VkPrintFormatted(512, L"Error: CVkVariant::GetRunTypeIndex(), can't find: '%hs' runtype!",
                                 rt.GetName().GetString());
    return 0xFFFFFFFFu;
}

int CVkVariant::CompareStructure(const CVkVariant& a, const CVkVariant& b, bool recursive) {
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    const int count = a.GetCount();
    if (count != b.GetCount())
        return -1;
    if (count < 0 || !recursive)
        return a.GetRunType() == b.GetRunType() ? 0 : -1;
    for (int i = 0; i < count; ++i)
        if (CompareStructure(*a.IndexPtr(i), *b.IndexPtr(i), true) != 0)
            return -1;
    return 0;
}

int CVkVariant::SetRunType(const CVkVariantRunType& rt) {
    if (GetRunType() == rt)
        return 0;
    if (!m_typeChangeEnabled)
        return -9;
    const CVkVariant templ(rt, CVkStringW());
    if (!templ.m_data)
        return -4;
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    if (CompareStructure(*this, templ, true) != 0)
        *this = templ;
    else
        relabel(*this, templ);
    return 0;
}

int CVkVariant::SetRunTypeCompatible(const CVkVariantRunType& rt) {
    if (GetRunType() == rt)
        return 0;
    if (!m_typeChangeEnabled)
        return -9;
    CVkVariant templ(rt, CVkStringW());
    if (!templ.m_data)
        return -4;
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    if (CompareStructure(*this, templ, true) != 0) {
        fillFrom(templ, *this);
        *this = templ;
    } else {
        relabel(*this, templ);
    }
    return 0;
}

CVkVariant CVkVariant::CreateStruct(const CVkStringW& name, std::initializer_list<CVkVariant> members) {
    std::vector<const CVkVariant*> pointers;
    for (const CVkVariant& member : members)
        pointers.push_back(&member);
    return structOf(name, pointers);
}

CVkVariant CVkVariant::CreateStruct(const CVkStringW& name, const CVkVariant* first, ...) {
    va_list args;
    va_start(args, first);
    const std::vector<const CVkVariant*> members = collect(first, args);
    va_end(args);
    return structOf(name, members);
}

CVkVariant CVkVariant::CreateStructNamed(const CVkVariantRunType& rt, const CVkStringW& name,
                                         const CVkVariant* first, ...) {
    va_list args;
    va_start(args, first);
    const std::vector<const CVkVariant*> members = collect(first, args);
    va_end(args);
    CVkVariant result(rt, name);
    for (const CVkVariant* member : members)
        result[member->GetName().GetString()] = *member;
    return result;
}

} // namespace ZanLegacy
