// Whole variant trees in the binary variant format: the writer's Set(CVkVariant) and the reader's
// GetCurrentValue(CVkVariant) and Get(name, CVkVariant).
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/detail/LiteVariantFormat.h>

#include <legacy/CVkAlloc.h>
#include <legacy/CVkVariant.h>

#include <cstring>
#include <string>

namespace ZanLegacy {
namespace {

using namespace LiteVariant;

constexpr int kFail = -9;
// Names the record type of the level that holds it, as its first child.
constexpr wchar_t kRunTypeItem[] = L"__m_runType";
constexpr int kMaxLevels = static_cast<int>(kMaxDepth) < CVkVariant::kMaxNestingDepth
                               ? static_cast<int>(kMaxDepth)
                               : CVkVariant::kMaxNestingDepth;

// The item type of each value kind.
struct SValueKind {
    const char* runType;
    std::uint8_t type;
};
constexpr SValueKind kValueKinds[] = {
    {"bool", kBool},       {"vk_int32", kInt32},    {"vk_uint32", kUInt32},
    {"vk_int64", kInt64},  {"vk_uint64", kUInt64},  {"double", kDouble},
    {"voidPtr", kPointer}, {"CVkStringW", kString}, {"CVkByteArray", kBytes},
};

std::uint8_t valueTypeOf(const CVkVariant& v) {
    const char* rt = v.GetRunType().GetName().GetString();
    for (const SValueKind& kind : kValueKinds)
        if (rt && std::strcmp(rt, kind.runType) == 0)
            return kind.type;
    return 0;
}

bool named(const wchar_t* name) {
    return name && *name;
}

// Levels that writing v under a name (named or not) opens, or more than room when that exceeds room.
// Looks no deeper than room, so a tree of any depth is measured without deep recursion.
int levelsOf(const CVkVariant& v, bool isNamed, int room) {
    const int count = v.GetCount();
    if (count < 0)
        return valueTypeOf(v) == 0 && isNamed ? 1 : 0;
    if (room <= 0)
        return 1;
    int deepest = 0;
    for (int i = 0; i < count; ++i) {
        const CVkVariant& e = *v.IndexPtr(i);
        const int levels = levelsOf(e, !e.GetName().IsEmpty(), room - 1);
        if (levels > room - 1)
            return room + 1;
        if (levels > deepest)
            deepest = levels;
    }
    return deepest + 1;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Writing

CVkLiteVariantW::SMark CVkLiteVariantW::mark() const {
    return {m_used, m_level, m_level >= 0 ? m_levels[m_level].count : 0u};
}

void CVkLiteVariantW::rollBack(const SMark& m) {
    while (m_level > m.level) {
        CVkAlloc::Free(m_levels[m_level].offsets);
        m_levels[m_level] = SLevel{};
        --m_level;
    }
    if (m_level < 0)
        release();
    else
        m_levels[m_level].count = m.count;
    m_used = m.used;
}

int CVkLiteVariantW::Set(const CVkVariant& v, const wchar_t* name) {
    const wchar_t* own = v.GetName().GetString();
    const wchar_t* under = name ? name : (own ? own : L"");
    // A reader enters so many levels at most: a deeper tree would be written but never read back.
    const int room = kMaxLevels - (m_level + 1);
    if (levelsOf(v, named(under), room) > room)
        return kFail;
    const SMark before = mark();
    try {
        if (int r = writeTree(v, under)) {
            rollBack(before);
            return r;
        }
    } catch (...) {
        rollBack(before); // a name or text that has no UTF-16 form
        throw;
    }
    return 0;
}

int CVkLiteVariantW::writeTree(const CVkVariant& v, const wchar_t* name) {
    const int count = v.GetCount();
    if (count < 0) {
        switch (valueTypeOf(v)) {
        case kBool:
            return Set(v.GetBool(), name);
        case kInt32:
            return Set(v.GetVk_int32(), name);
        case kUInt32:
            return Set(v.GetVk_uint32(), name);
        case kInt64:
            return Set(v.GetVk_int64(), name);
        case kUInt64:
            return Set(v.GetVk_uint64(), name);
        case kDouble:
            return Set(v.GetDouble(), name);
        case kPointer:
            return Set(v.GetVoidPtr(), name);
        case kString: {
            const CVkStringW text = v.GetCVkStringW();
            return Set(text.GetString() ? text.GetString() : L"", name);
        }
        case kBytes:
            return Set(v.GetCVkByteArray(), name);
        default:
            // No value: an empty level keeps the name; without one there is nothing to keep.
            if (!named(name))
                return 0;
            if (int r = LevelBegin(name))
                return r;
            return LevelEnd();
        }
    }
    if (int r = LevelBegin(name))
        return r;
    const CVkVariantRunType& rt = v.GetRunType();
    if (rt != CVkVariantRunType("CVkListVariant")) {
        const CVkStringW typeName(rt.GetName().GetString());
        if (int r = Set(typeName.GetString(), kRunTypeItem))
            return r;
    }
    for (int i = 0; i < count; ++i) {
        const CVkVariant& e = *v.IndexPtr(i);
        if (int r = writeTree(e, e.GetName().GetString()))
            return r;
    }
    return LevelEnd();
}

// ---------------------------------------------------------------------------------------------------------
// Reading

int CVkLiteVariantR::GetCurrentValue(CVkVariant& v) {
    if (!IsNextValue() || &v == &undefVariant())
        return kFail;
    const std::size_t at = m_CurrentOffset;
    const std::int32_t level = m_level;
    // Built aside, so that a damaged buffer leaves v as it was.
    CVkVariant tree;
    if (int r = fillCurrent(tree)) {
        while (m_level > level)
            LevelEnd();
        m_CurrentOffset = at;
        return r;
    }
    const bool typeChange = v.EnableTypeChange(true);
    v.MakeNull();
    v.SetName(tree.GetName());
    v = tree;
    v.EnableTypeChange(typeChange);
    return 0;
}

int CVkLiteVariantR::Get(const wchar_t* name, CVkVariant& v) {
    std::size_t offset = 0;
    if (int r = Find(name, offset))
        return r;
    m_CurrentOffset = offset;
    return GetCurrentValue(v);
}

int CVkLiteVariantR::fillCurrent(CVkVariant& v) {
    Item item;
    if (!currentConverted(item))
        return kFail;
    const bool typeChange = v.EnableTypeChange(true);
    v.MakeNull();
    v.SetName(GetCurrentName());
    switch (item.type) {
    case kBool:
        v = GetCurrentValue(false);
        break;
    case kInt32:
        v = GetCurrentValue(0);
        break;
    case kUInt32:
        v = GetCurrentValue(0u);
        break;
    case kInt64:
        v = GetCurrentValue(0L);
        break;
    case kUInt64:
        v = GetCurrentValue(0UL);
        break;
    case kDouble:
        v = GetCurrentValue(0.0);
        break;
    case kPointer:
        v = GetCurrentValue(static_cast<void*>(nullptr));
        break;
    case kString: {
        CVkStringW text;
        v = GetCurrentValueCVkStringW(text, L"");
        break;
    }
    case kBytes: {
        CVkByteArray bytes;
        if (int r = GetCurrentValue(bytes))
            return r;
        v = bytes;
        break;
    }
    default: {
        // A level (an old-form one that cannot be converted, or one nested too deep, is refused here).
        if (int r = CurrentLevelBegin())
            return r;
        // An empty level is an empty list.
        v = CVkListVariant();
        CVkStringW runType;
        Item first;
        if (IsNextValue() && current(first) && first.type == kString &&
            GetCurrentName() == CVkStringW(kRunTypeItem)) {
            GetCurrentValueCVkStringW(runType, L"");
            if (int r = NextValue())
                return r;
        }
        // IsNextValue holds up to the index even when the item there is damaged: the failed fill or step
        // ends the walk.
        while (IsNextValue()) {
            CVkVariant& member = v.Append(CVkVariant());
            if (int r = fillCurrent(member))
                return r;
            if (int r = NextValue())
                return r;
        }
        if (!runType.IsEmpty()) {
            // Only a registered record type: a list is never turned into a single value.
            const CVkVariantRunType rt(CVkStringA(runType.GetString()));
            if (CVkVariant::GetRunTypeIndex(rt, false) != 0xFFFFFFFFu &&
                CVkVariant::GetRunTypeSample(rt).GetCount() >= 0)
                v.SetRunTypeCompatible(rt);
        }
        LevelEnd();
        break;
    }
    }
    v.EnableTypeChange(typeChange);
    return 0;
}

} // namespace ZanLegacy
