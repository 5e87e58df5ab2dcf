#include <legacy/CVkLiteVariantW.h>

#include <io/StringConversions.h>
#include <legacy/CVkAlloc.h>
#include <legacy/CVkByteArray.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/detail/LiteVariantFormat.h>

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace ZanLegacy {
namespace {

using namespace LiteVariant;

constexpr int kFail = -9;
constexpr int kBadArgument = -4;
constexpr int kNoMemory = -3;
constexpr unsigned long kAlign = 16;
constexpr std::uint64_t kFirstBlock = 4096;
constexpr std::uint32_t kOffsetSlots = 32;
constexpr std::uint32_t kLevelRecords = 8;

static_assert(std::endian::native == std::endian::little, "values are copied in their stored byte order");

// nameLen of a stored name: its units and the 0 unit, or kMaxNameLen units without one.
std::size_t storedNameLen(const std::u16string& name) {
    return name.empty() ? 0 : std::min<std::size_t>(name.size() + 1, kMaxNameLen);
}

std::size_t storedNameBytes(const std::u16string& name) {
    return 2 * storedNameLen(name);
}

} // namespace

CVkLiteVariantW::CVkLiteVariantW()
    : m_buffer(nullptr), m_allocated(0), m_used(0), m_level(-1), m_levelCapacity(0), m_levels(nullptr) {}

CVkLiteVariantW::~CVkLiteVariantW() {
    release();
    CVkAlloc::Free(m_buffer);
}

void CVkLiteVariantW::release() {
    for (std::int32_t i = 0; i <= m_level; ++i)
        CVkAlloc::Free(m_levels[i].offsets);
    CVkAlloc::Free(m_levels);
    m_levels = nullptr;
    m_levelCapacity = 0;
    m_level = -1;
}

int CVkLiteVariantW::Reserve(std::size_t n) {
    if (n > std::numeric_limits<std::uint64_t>::max() - m_used)
        return kNoMemory;
    const std::uint64_t needed = m_used + n;
    if (needed <= m_allocated)
        return 0;
    std::uint64_t target = m_allocated ? m_allocated : kFirstBlock;
    while (target < needed)
        target = target > std::numeric_limits<std::uint64_t>::max() / 2 ? needed : target * 2;
    void* p = CVkAlloc::ReAlloc(m_buffer, target, CVkAlloc::kZeroFill, kAlign);
    if (!p)
        return kNoMemory;
    m_buffer = static_cast<unsigned char*>(p);
    m_allocated = target;
    return 0;
}

int CVkLiteVariantW::registerChild() {
    if (m_level < 0)
        return 0;
    SLevel& level = m_levels[m_level];
    if (level.count == std::numeric_limits<std::uint32_t>::max())
        return kFail; // the stored count has 32 bits
    if (level.count == level.capacity) {
        // Doubling keeps levels with many children linear to write.
        const std::uint64_t grown = std::uint64_t(level.capacity) + std::max(level.capacity, kOffsetSlots);
        const std::uint32_t capacity = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(grown, std::numeric_limits<std::uint32_t>::max()));
        void* p = CVkAlloc::ReAlloc(level.offsets, std::uint64_t(capacity) * 8, CVkAlloc::kZeroFill, kAlign);
        if (!p)
            return kNoMemory;
        level.offsets = static_cast<std::uint64_t*>(p);
        level.capacity = capacity;
    }
    level.offsets[level.count++] = m_used - level.start;
    return 0;
}

void CVkLiteVariantW::putName(const std::u16string& name) {
    unsigned char* p = m_buffer + m_used;
    const std::size_t nameLen = storedNameLen(name);
    p[1] = static_cast<unsigned char>(nameLen);
    for (std::size_t i = 0; i < name.size(); ++i)
        storeLE16(p + 2 + 2 * i, name[i]);
    if (nameLen > name.size())
        storeLE16(p + 2 + 2 * name.size(), 0);
    m_used += 2 + storedNameBytes(name);
}

int CVkLiteVariantW::LevelBegin(const wchar_t* name) {
    return levelBegin(StoredName(name));
}

int CVkLiteVariantW::levelBegin(const std::u16string& rawName) {
    if (m_level < 0 && m_used != 0)
        return kFail; // one document, one root
    if (m_level + 1 >= std::numeric_limits<std::int32_t>::max())
        return kFail;
    const std::u16string name = StoredName(rawName);
    const std::size_t header = 14 + storedNameBytes(name);
    if (int r = Reserve(header))
        return r;
    const std::uint32_t depth = static_cast<std::uint32_t>(m_level + 1);
    if (depth >= m_levelCapacity) {
        const std::uint32_t capacity = (depth / kLevelRecords + 1) * kLevelRecords;
        void* p = CVkAlloc::ReAlloc(m_levels, std::uint64_t(capacity) * sizeof(SLevel), CVkAlloc::kZeroFill,
                                    kAlign);
        if (!p)
            return kNoMemory;
        m_levels = static_cast<SLevel*>(p);
        m_levelCapacity = capacity;
    }
    auto* offsets =
        static_cast<std::uint64_t*>(CVkAlloc::Alloc(CVkAlloc::kZeroFill, kOffsetSlots * 8, kAlign));
    if (!offsets)
        return kNoMemory;
    if (int r = registerChild()) {
        CVkAlloc::Free(offsets);
        return r;
    }
    m_levels[depth] = SLevel{offsets, m_used, 0, kOffsetSlots};
    m_level = static_cast<std::int32_t>(depth);
    m_buffer[m_used] = kLevel;
    putName(name);
    std::memset(m_buffer + m_used, 0, 12); // count and index offset, filled when the level closes
    m_used += 12;
    return 0;
}

int CVkLiteVariantW::LevelEnd() {
    if (m_level < 0)
        return kFail;
    SLevel& level = m_levels[m_level];
    if (int r = Reserve(8 * std::size_t(level.count)))
        return r;
    unsigned char* item = m_buffer + level.start;
    const std::size_t countAt = 2 + 2 * std::size_t(item[1]);
    storeLE32(item + countAt, level.count);
    storeLE64(item + countAt + 4, m_used - level.start);
    std::stable_sort(level.offsets, level.offsets + level.count, [item](std::uint64_t a, std::uint64_t b) {
        return CompareStoredNames(item + a + 2, item[a + 1], item + b + 2, item[b + 1]) < 0;
    });
    for (std::uint32_t i = 0; i < level.count; ++i, m_used += 8)
        storeLE64(m_buffer + m_used, level.offsets[i]);
    CVkAlloc::Free(level.offsets);
    level = SLevel{};
    if (--m_level < 0)
        release();
    return 0;
}

int CVkLiteVariantW::Write(std::uint8_t type, const wchar_t* name, const void* value, std::size_t size) {
    return write(type, StoredName(name), value, size);
}

int CVkLiteVariantW::write(std::uint8_t type, const std::u16string& rawName, const void* value,
                           std::size_t size) {
    if (type < kBool || type > kBytes)
        return kBadArgument; // levels are opened with LevelBegin
    if (size && !value)
        return kBadArgument;
    if (const std::size_t fixed = FixedValueSize(type); fixed && size != fixed)
        return kBadArgument;
    if (type == kString) {
        // UTF-16 units whose only 0 unit is the last one: anything else would not read back.
        const auto* units = static_cast<const unsigned char*>(value);
        if (size < 2 || size % 2)
            return kBadArgument;
        for (std::size_t i = 0; i + 2 < size; i += 2)
            if (units[i] == 0 && units[i + 1] == 0)
                return kBadArgument;
        if (units[size - 2] != 0 || units[size - 1] != 0)
            return kBadArgument;
    }
    const std::u16string name = StoredName(rawName);
    const std::size_t header = 2 + storedNameBytes(name);
    const std::size_t countBytes = type == kBytes ? 8 : 0;
    if (size > std::numeric_limits<std::size_t>::max() - header - countBytes)
        return kNoMemory;
    if (int r = Reserve(header + countBytes + size))
        return r;
    if (int r = registerChild())
        return r;
    m_buffer[m_used] = type;
    putName(name);
    if (type == kBytes) {
        storeLE64(m_buffer + m_used, size);
        m_used += 8;
    }
    if (size)
        std::memcpy(m_buffer + m_used, value, size);
    m_used += size;
    return 0;
}

int CVkLiteVariantW::Set(bool value, const wchar_t* name) {
    const unsigned char byte = value ? 1 : 0;
    return Write(kBool, name, &byte, 1);
}

int CVkLiteVariantW::Set(int value, const wchar_t* name) {
    return Write(kInt32, name, &value, 4);
}

int CVkLiteVariantW::Set(unsigned int value, const wchar_t* name) {
    return Write(kUInt32, name, &value, 4);
}

int CVkLiteVariantW::Set(long value, const wchar_t* name) {
    return Write(kInt64, name, &value, 8);
}

int CVkLiteVariantW::Set(unsigned long value, const wchar_t* name) {
    return Write(kUInt64, name, &value, 8);
}

int CVkLiteVariantW::Set(double value, const wchar_t* name) {
    return Write(kDouble, name, &value, 8);
}

int CVkLiteVariantW::Set(void* value, const wchar_t* name) {
    const std::uint64_t number = reinterpret_cast<std::uintptr_t>(value);
    return Write(kPointer, name, &number, 8);
}

int CVkLiteVariantW::Set(const wchar_t* value, const wchar_t* name) {
    if (!value)
        return kFail;
    const std::u16string units = Zan::StringConversions::wstring_to_utf16(value);
    std::vector<unsigned char> bytes(2 * (units.size() + 1), 0);
    for (std::size_t i = 0; i < units.size(); ++i)
        storeLE16(bytes.data() + 2 * i, units[i]);
    return Write(kString, name, bytes.data(), bytes.size());
}

int CVkLiteVariantW::Set(const CVkByteArray& value, const wchar_t* name) {
    return Write(kBytes, name, value.GetData(), value.GetSize());
}

int CVkLiteVariantW::Set(const void* data, const std::size_t& size, const wchar_t* name) {
    return Write(kBytes, name, data, size);
}

int CVkLiteVariantW::Append(const CVkLiteVariantR& source) {
    ItemView item;
    if (!source.peek(item))
        return kFail;
    const unsigned char* from = source.GetData() + item.pos;
    std::vector<unsigned char> converted;
    if (item.type == kLevelOld) {
        // Old-form offsets count from the start of the buffer: convert a private copy first.
        converted.assign(source.GetData(), source.GetData() + source.GetSize());
        if (OffsetIndicesToRelative(converted.data(), converted.size(), 0) != 0)
            return kFail;
        ItemView again;
        if (!ParseItem(converted.data(), item.pos, source.itemLimit(), again) || again.type != kLevel)
            return kFail;
        item = again;
        from = converted.data() + item.pos;
    }
    const std::size_t n = item.end - item.pos;
    if (int r = Reserve(n))
        return r;
    if (int r = registerChild())
        return r;
    std::memcpy(m_buffer + m_used, from, n);
    m_used += n;
    return 0;
}

int CVkLiteVariantW::Finalize(CVkLiteVariantR& reader, int mode) {
    while (m_level >= 0)
        if (int r = LevelEnd())
            return r;
    if (mode == 1 && m_used != 0) {
        const uLong bound = compressBound(static_cast<uLong>(m_used));
        const std::uint64_t capacity = kEnvelopeHeader + std::uint64_t(bound);
        auto* packed = static_cast<unsigned char*>(CVkAlloc::Alloc(0, capacity, kAlign));
        if (!packed)
            return kNoMemory;
        std::memcpy(packed, kEnvelopeMagic, 4);
        storeLE64(packed + 4, m_used);
        uLongf packedSize = bound;
        if (compress2(packed + kEnvelopeHeader, &packedSize, m_buffer, static_cast<uLong>(m_used),
                      kZlibLevel) != Z_OK) {
            CVkAlloc::Free(packed);
            return kFail;
        }
        CVkAlloc::Free(m_buffer);
        m_buffer = packed;
        m_used = kEnvelopeHeader + packedSize;
        m_allocated = capacity;
    }
    reader.SetPointer(m_buffer, m_used, m_allocated);
    m_buffer = nullptr;
    m_used = 0;
    m_allocated = 0;
    release();
    return 0;
}

int CVkLiteVariantW::CompareItems(const void* a, const void* b) {
    const auto* x = *static_cast<const unsigned char* const*>(a);
    const auto* y = *static_cast<const unsigned char* const*>(b);
    return CompareStoredNames(x + 2, x[1], y + 2, y[1]);
}

} // namespace ZanLegacy
