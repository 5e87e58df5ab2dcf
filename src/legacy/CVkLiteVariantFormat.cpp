#include <legacy/detail/LiteVariantFormat.h>

#include <io/StringConversions.h>

#include <unordered_set>
#include <utility>
#include <vector>

namespace ZanLegacy::LiteVariant {

std::size_t FixedValueSize(std::uint8_t type) {
    switch (type) {
    case kBool:
        return 1;
    case kInt32:
    case kUInt32:
        return 4;
    case kInt64:
    case kUInt64:
    case kDouble:
    case kPointer:
        return 8;
    default:
        return 0;
    }
}

bool ParseItem(const unsigned char* data, std::size_t pos, std::size_t limit, ItemView& out) {
    if (!data || pos >= limit || limit - pos < 2)
        return false;
    const std::uint8_t type = data[pos];
    if (type < kBool || type > kLevel)
        return false;
    const std::uint8_t nameLen = data[pos + 1];
    const std::size_t room = limit - pos;
    const std::size_t header = 2 + 2 * std::size_t(nameLen);
    if (room < header)
        return false;
    out = ItemView{};
    out.pos = pos;
    out.type = type;
    out.nameLen = nameLen;
    out.value = pos + header;
    const std::size_t valueRoom = room - header;

    if (const std::size_t fixed = FixedValueSize(type)) {
        if (valueRoom < fixed)
            return false;
        out.end = out.value + fixed;
        return true;
    }
    if (type == kString) {
        for (std::size_t at = out.value; limit - at >= 2; at += 2) {
            if (data[at] == 0 && data[at + 1] == 0) {
                out.end = at + 2;
                return true;
            }
        }
        return false; // not terminated inside its bounds
    }
    if (type == kBytes) {
        if (valueRoom < 8)
            return false;
        const std::uint64_t n = loadLE64(data + out.value);
        if (n > valueRoom - 8)
            return false;
        out.end = out.value + 8 + n;
        return true;
    }

    // Levels: count and index offset follow the name; the index must start past this header.
    if (valueRoom < 12)
        return false;
    out.count = loadLE32(data + out.value);
    const std::uint64_t stored = loadLE64(data + out.value + 4);
    out.children = out.value + 12;
    std::uint64_t index;
    if (type == kLevel) {
        if (stored > room)
            return false;
        index = pos + stored;
    } else {
        if (stored > limit)
            return false;
        index = stored;
    }
    if (index < out.children)
        return false;
    if (std::uint64_t(out.count) > (limit - index) / 8)
        return false;
    out.index = static_cast<std::size_t>(index);
    out.end = out.index + 8 * std::size_t(out.count);
    return true;
}

std::size_t NameUnits(const unsigned char* data, const ItemView& item) {
    std::size_t n = 0;
    while (n < item.nameLen && loadLE16(data + item.pos + 2 + 2 * n) != 0)
        ++n;
    return n;
}

std::u16string NameOf(const unsigned char* data, const ItemView& item) {
    const std::size_t n = NameUnits(data, item);
    std::u16string name(n, u'\0');
    for (std::size_t i = 0; i < n; ++i)
        name[i] = loadLE16(data + item.pos + 2 + 2 * i);
    return name;
}

int CompareStoredNames(const unsigned char* a, unsigned aLen, const unsigned char* b, unsigned bLen) {
    const unsigned m = aLen < bLen ? aLen : bLen;
    for (unsigned i = 0; i < m; ++i) {
        const char16_t x = loadLE16(a + 2 * i), y = loadLE16(b + 2 * i);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return aLen == bLen ? 0 : (aLen < bLen ? -1 : 1);
}

int CompareWithName(const unsigned char* stored, unsigned nameLen, const char16_t* name, std::size_t k) {
    const std::size_t m = nameLen < k ? nameLen : k;
    for (std::size_t i = 0; i < m; ++i) {
        const char16_t x = loadLE16(stored + 2 * i);
        if (x != name[i])
            return x < name[i] ? -1 : 1;
    }
    if (nameLen == k)
        return 0; // stored without its 0 unit
    if (nameLen == k + 1 && loadLE16(stored + 2 * k) == 0)
        return 0;
    return nameLen > k ? 1 : -1;
}

namespace {

template <class UnitAt>
std::wstring decodeUtf16(std::size_t count, UnitAt unitAt) {
    std::wstring out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const char32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
                ++i;
                continue;
            }
        }
        out.push_back(u >= 0xD800 && u <= 0xDFFF ? L'\xFFFD' : static_cast<wchar_t>(u));
    }
    return out;
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

} // namespace

std::wstring Utf16ToWide(const unsigned char* units, std::size_t count) {
    return decodeUtf16(count, [units](std::size_t i) { return loadLE16(units + 2 * i); });
}

std::wstring Utf16ToWide(const std::u16string& text) {
    return decodeUtf16(text.size(), [&text](std::size_t i) { return text[i]; });
}

std::u16string StoredName(std::u16string name) {
    // 255 units fill nameLen without the 0 unit and are kept whole; only a longer name is cut.
    if (name.size() > kMaxNameLen) {
        std::size_t cut = kMaxNameUnits;
        if (isHighSurrogate(name[cut - 1]))
            --cut; // keep the pair whole: drop its first half too
        name.resize(cut);
    }
    return name;
}

std::u16string StoredName(const wchar_t* name) {
    if (!name || !*name)
        return {};
    return StoredName(Zan::StringConversions::wstring_to_utf16(name));
}

} // namespace ZanLegacy::LiteVariant

namespace ZanLegacy {

namespace {

using namespace LiteVariant;

// The writes of a conversion, collected from the unchanged bytes before any of them is made.
struct ConversionPlan {
    const unsigned char* data;
    std::size_t size;
    std::vector<std::pair<std::size_t, std::uint64_t>> writes;
    std::vector<std::size_t> levels;
    std::unordered_set<std::size_t> seen;

    bool plan(std::size_t pos, std::size_t limit, unsigned depth) {
        ItemView level;
        if (depth >= kMaxDepth || !ParseItem(data, pos, limit, level) || level.type != kLevelOld)
            return false;
        if (!seen.insert(pos).second)
            return false; // reached twice: a cycle or a shared child
        // Index regions of a sound tree do not overlap, so more entries than fit in the buffer means
        // overlapping levels; refusing them keeps the work linear.
        if (writes.size() + level.count + 1 > size / 8 + 1)
            return false;
        levels.push_back(pos);
        writes.emplace_back(level.value + 4, level.index - pos);
        for (std::uint32_t i = 0; i < level.count; ++i) {
            const std::size_t entry = level.index + 8 * std::size_t(i);
            const std::uint64_t child = loadLE64(data + entry);
            if (child < level.children || child >= level.index)
                return false;
            ItemView item;
            if (!ParseItem(data, child, level.index, item))
                return false;
            writes.emplace_back(entry, child - pos);
            if (item.type == kLevelOld && !plan(child, level.index, depth + 1))
                return false;
        }
        return true;
    }
};

} // namespace

int OffsetIndicesToRelative(unsigned char* data, std::size_t size, std::size_t pos) {
    if (!data || pos >= size || data[pos] != kLevelOld)
        return 0;
    ConversionPlan plan{data, size, {}, {}, {}};
    if (!plan.plan(pos, size, 0))
        return -9;
    for (const auto& [at, value] : plan.writes)
        storeLE64(data + at, value);
    for (std::size_t at : plan.levels)
        data[at] = kLevel;
    return 0;
}

} // namespace ZanLegacy
