#include <legacy/CVkLiteVariantR.h>

#include <io/StringConversions.h>
#include <legacy/CVkAlloc.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/detail/LiteVariantFormat.h>

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanLegacy {
namespace {

using namespace LiteVariant;

constexpr int kFail = -9;
constexpr int kNoMemory = -3;
constexpr unsigned long kAlign = 16;
constexpr std::uint32_t kStackSlots = 8;

static_assert(std::endian::native == std::endian::little, "values are copied in their stored byte order");

void requireText(const wchar_t* text, const char* what) {
    if (!text)
        throw std::logic_error(std::string("CVkLiteVariantR: null ") + what);
}

bool isLevel(std::uint8_t type) {
    return type == kLevel || type == kLevelOld;
}

// The stored text of a string item, without its 0 unit.
std::wstring stringValue(const unsigned char* data, const ItemView& item) {
    return Utf16ToWide(data + item.value, (item.end - item.value) / 2 - 1);
}

std::wstring nameValue(const unsigned char* data, const ItemView& item) {
    return Utf16ToWide(data + item.pos + 2, NameUnits(data, item));
}

int copyIntoBuffer(const std::wstring& text, wchar_t* buffer, int len) {
    if (!buffer || len <= 0)
        return kFail;
    const std::size_t n = std::min<std::size_t>(text.size(), std::size_t(len));
    std::copy_n(text.data(), n, buffer);
    std::fill(buffer + n, buffer + len, L'\0');
    return 0;
}

// A number read by name into a copy of the default, which is returned whatever the outcome.
template <class T>
T readOr(CVkLiteVariantR& r, std::uint8_t type, const wchar_t* name, T def) {
    r.Read(type, name, &def, sizeof def);
    return def;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Construction and buffer

CVkLiteVariantR::CVkLiteVariantR() : m_level(-1), m_levelCapacity(0), m_levelStack(nullptr) {}

CVkLiteVariantR::CVkLiteVariantR(const CVkLiteVariantR& other)
    : CVkByteArray(other), m_level(-1), m_levelCapacity(0), m_levelStack(nullptr) {
    copyStateFrom(other);
}

CVkLiteVariantR& CVkLiteVariantR::operator=(const CVkLiteVariantR& other) {
    if (&other != this) {
        CVkByteArray::operator=(other);
        freeLevels();
        copyStateFrom(other);
    }
    return *this;
}

CVkByteArray& CVkLiteVariantR::operator=(const CVkByteArray& other) {
    if (&other != this) {
        CVkByteArray::operator=(other);
        freeLevels();
    }
    return *this;
}

CVkLiteVariantR::~CVkLiteVariantR() {
    freeLevels();
}

int CVkLiteVariantR::copyStateFrom(const CVkLiteVariantR& other) {
    m_CurrentOffset = other.m_CurrentOffset;
    if (other.m_level < 0 || !other.m_levelStack)
        return 0;
    void* p = CVkAlloc::Alloc(0, std::uint64_t(other.m_levelCapacity) * 8, kAlign);
    if (!p) {
        m_CurrentOffset = 0;
        return kNoMemory;
    }
    m_levelStack = static_cast<std::uint64_t*>(p);
    std::memcpy(m_levelStack, other.m_levelStack, std::size_t(other.m_levelCapacity) * 8);
    m_levelCapacity = other.m_levelCapacity;
    m_level = other.m_level;
    return 0;
}

void CVkLiteVariantR::freeLevels() {
    CVkAlloc::Free(m_levelStack);
    m_levelStack = nullptr;
    m_levelCapacity = 0;
    m_level = -1;
}

int CVkLiteVariantR::SetPointer(void* data, std::size_t size, std::size_t allocated) {
    FreeData();
    freeLevels();
    if (data) {
        m_pData = static_cast<unsigned char*>(data);
        m_Size = size;
        m_Allocated = std::max(size, allocated);
    }
    m_CurrentOffset = 0;
    return 0;
}

int CVkLiteVariantR::Clear() {
    FreeData();
    freeLevels();
    return 0;
}

int CVkLiteVariantR::Reset() {
    freeLevels();
    m_CurrentOffset = 0;
    return 0;
}

int CVkLiteVariantR::Decompress() {
    if (!m_pData || m_Size <= kEnvelopeHeader || std::memcmp(m_pData, kEnvelopeMagic, 4) != 0)
        return 0;
    const std::uint64_t stored = loadLE64(m_pData + 4);
    if (stored == 0)
        return 0;
    const std::uint64_t packed = m_Size - kEnvelopeHeader;
    if (stored > kMaxInflatedSize || stored / kMaxDeflateRatio > packed)
        return kFail; // more than the stream can hold
    auto* out = static_cast<unsigned char*>(CVkAlloc::Alloc(0, stored, kAlign));
    if (!out)
        return kNoMemory;
    uLongf produced = static_cast<uLongf>(stored);
    const int r = uncompress(out, &produced, m_pData + kEnvelopeHeader, static_cast<uLong>(packed));
    if (r != Z_OK || produced != stored) {
        CVkAlloc::Free(out);
        return kFail;
    }
    FreeData();
    freeLevels();
    m_pData = out;
    m_Size = stored;
    m_Allocated = stored;
    m_CurrentOffset = 0;
    return 0;
}

int CVkLiteVariantR::ConvertLV31toLV32() {
    return m_pData ? OffsetIndicesToRelative(m_pData, m_Size, 0) : 0;
}

// ---------------------------------------------------------------------------------------------------------
// The current item

std::size_t CVkLiteVariantR::itemLimit() const {
    if (!m_pData)
        return 0;
    const std::size_t size = std::min(m_Size, m_Allocated);
    if (m_level < 0)
        return size;
    Item level;
    if (!ParseItem(m_pData, m_levelStack[m_level], size, level) || level.type != kLevel)
        return 0;
    return level.index;
}

bool CVkLiteVariantR::peek(Item& item) const {
    const std::size_t limit = itemLimit();
    return m_CurrentOffset < limit && ParseItem(m_pData, m_CurrentOffset, limit, item);
}

bool CVkLiteVariantR::current(Item& item, bool inflate) {
    if (!m_pData)
        return false;
    if (inflate && m_CurrentOffset < m_Size && m_pData[m_CurrentOffset] == kEnvelopeMagic[0])
        Decompress();
    return peek(item);
}

bool CVkLiteVariantR::currentConverted(Item& item) {
    if (!current(item))
        return false;
    if (item.type == kLevelOld) {
        ConvertLV31toLV32();
        return current(item);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Navigation

bool CVkLiteVariantR::IsNextValue() {
    const auto room = [this] { return m_pData && m_CurrentOffset < m_Size && m_Size - m_CurrentOffset >= 5; };
    if (!room())
        return false;
    // The inflated buffer is a new one: its own room decides.
    if (m_pData[m_CurrentOffset] == kEnvelopeMagic[0] && Decompress() == 0 && !room())
        return false;
    return m_CurrentOffset < itemLimit();
}

int CVkLiteVariantR::FirstValue() {
    if (m_level < 0) {
        m_CurrentOffset = 0;
        return 0;
    }
    const std::uint64_t start = m_levelStack[m_level];
    if (m_pData && start + 1 < m_Size)
        m_CurrentOffset = start + 14 + 2 * std::size_t(m_pData[start + 1]);
    return 0;
}

int CVkLiteVariantR::NextValue() {
    Item item;
    if (!IsNextValue() || !currentConverted(item))
        return kFail;
    m_CurrentOffset = item.end;
    return 0;
}

int CVkLiteVariantR::CurrentLevelBegin(std::uint32_t* count) {
    Item item;
    if (!currentConverted(item) || item.type != kLevel)
        return kFail;
    if (m_level + 1 >= static_cast<std::int32_t>(kMaxDepth))
        return kFail;
    const std::uint32_t needed = static_cast<std::uint32_t>(m_level + 2);
    if (needed > m_levelCapacity) {
        const std::uint32_t capacity = (needed + kStackSlots - 1) / kStackSlots * kStackSlots;
        void* p = CVkAlloc::ReAlloc(m_levelStack, std::uint64_t(capacity) * 8, 0, kAlign);
        if (!p)
            return kNoMemory;
        m_levelStack = static_cast<std::uint64_t*>(p);
        m_levelCapacity = capacity;
    }
    m_levelStack[++m_level] = item.pos;
    if (count)
        *count = item.count;
    m_CurrentOffset = item.children;
    return 0;
}

int CVkLiteVariantR::LevelBegin(const wchar_t* name, std::uint32_t* count) {
    std::size_t offset = 0;
    if (int r = Find(name, offset))
        return r;
    m_CurrentOffset = offset;
    return CurrentLevelBegin(count);
}

int CVkLiteVariantR::LevelEnd() {
    if (m_level < 0)
        return 0;
    m_CurrentOffset = m_levelStack[m_level];
    if (--m_level < 0)
        freeLevels();
    return 0;
}

std::uint8_t CVkLiteVariantR::GetCurrentType() {
    Item item;
    return current(item) ? item.type : 0;
}

int CVkLiteVariantR::GetCurrentName(wchar_t* buffer, unsigned len) {
    Item item;
    if (!buffer || len == 0 || !current(item))
        return kFail;
    const std::wstring name = nameValue(m_pData, item);
    const std::size_t n = std::min<std::size_t>(name.size(), len);
    std::copy_n(name.data(), n, buffer);
    buffer[n] = L'\0';
    return 0;
}

CVkStringW CVkLiteVariantR::GetCurrentName() {
    CVkStringW out;
    Item item;
    if (current(item))
        out = nameValue(m_pData, item);
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// Values

int CVkLiteVariantR::ReadCurrentValue(void* out, std::size_t size) {
    Item item;
    if (!out || !current(item))
        return kFail;
    const unsigned char* value = m_pData + item.value;
    if (size != 1 && size != 4 && size != 8 && (item.type == kString || item.type == kBytes)) {
        // The pointer form: size 0 means "out is a pointer"; a smaller buffer cannot hold one.
        if (size != 0 && size < sizeof(void*))
            return kFail;
        const void* p = item.type == kString ? value : value + 8;
        std::memcpy(out, &p, sizeof p);
        return 0;
    }
    // Never more than the value holds, whatever the caller asks for.
    std::memcpy(out, value, std::min(size, item.end - item.value));
    return 0;
}

bool CVkLiteVariantR::GetCurrentValue(bool def) {
    Item item;
    return current(item) && item.type == kBool ? m_pData[item.value] != 0 : def;
}

int CVkLiteVariantR::GetCurrentValue(int def) {
    Item item;
    if (current(item) && (item.type == kInt32 || item.type == kUInt32))
        return static_cast<int>(loadLE32(m_pData + item.value));
    return def;
}

unsigned int CVkLiteVariantR::GetCurrentValue(unsigned int def) {
    return static_cast<unsigned int>(GetCurrentValue(static_cast<int>(def)));
}

long CVkLiteVariantR::GetCurrentValue(long def) {
    Item item;
    return current(item) && item.type == kInt64 ? static_cast<long>(loadLE64(m_pData + item.value)) : def;
}

unsigned long CVkLiteVariantR::GetCurrentValue(unsigned long def) {
    Item item;
    return current(item) && item.type == kUInt64 ? loadLE64(m_pData + item.value) : def;
}

double CVkLiteVariantR::GetCurrentValue(double def) {
    Item item;
    return current(item) && item.type == kDouble ? std::bit_cast<double>(loadLE64(m_pData + item.value))
                                                 : def;
}

void* CVkLiteVariantR::GetCurrentValue(void* def) {
    Item item;
    if (current(item) && item.type == kPointer)
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(loadLE64(m_pData + item.value)));
    return def;
}

const char16_t* CVkLiteVariantR::GetCurrentValue(const char16_t* def) {
    Item item;
    if (current(item) && item.type == kString)
        return reinterpret_cast<const char16_t*>(m_pData + item.value);
    return def;
}

CVkStringW& CVkLiteVariantR::GetCurrentValueCVkStringW(CVkStringW& out, const wchar_t* def) {
    requireText(def, "default string");
    Item item;
    if (current(item) && item.type == kString)
        out = stringValue(m_pData, item);
    else
        out = def;
    return out;
}

int CVkLiteVariantR::GetCurrentValueIntoBuffer(wchar_t* buffer, int len, const wchar_t* def) {
    requireText(def, "default string");
    Item item;
    return copyIntoBuffer(
        current(item) && item.type == kString ? stringValue(m_pData, item) : std::wstring(def), buffer, len);
}

int CVkLiteVariantR::GetCurrentValue(CVkByteArray& out) {
    Item item;
    if (!current(item) || item.type != kBytes)
        return kFail;
    const std::uint64_t n = loadLE64(m_pData + item.value);
    if (n == 0) {
        out.FreeData();
        return 0;
    }
    const unsigned char* bytes = m_pData + item.value + 8;
    if (&out == static_cast<CVkByteArray*>(this)) {
        const std::vector<unsigned char> copy(bytes, bytes + n);
        return out.SetData(copy.data(), n, eOpWriteAtStart, eAllocExact);
    }
    return out.SetData(bytes, n, eOpWriteAtStart, eAllocExact);
}

int CVkLiteVariantR::GetCurrentValue(void* buffer, std::size_t size) {
    Item item;
    if (!current(item) || item.type != kBytes)
        return kFail;
    const std::size_t n = std::min<std::uint64_t>(loadLE64(m_pData + item.value), size);
    if (n && !buffer)
        return kFail;
    if (n)
        std::memcpy(buffer, m_pData + item.value + 8, n);
    return 0;
}

void* CVkLiteVariantR::GetCurrentValue(std::size_t* size) {
    Item item;
    if (!current(item) || item.type != kBytes)
        return nullptr;
    if (size)
        *size = loadLE64(m_pData + item.value);
    return m_pData + item.value + 8;
}

// ---------------------------------------------------------------------------------------------------------
// Lookup by name

int CVkLiteVariantR::Find(const wchar_t* name, std::size_t& offset) {
    requireText(name, "name");
    std::wstring rest(name);
    if (!rest.empty() && rest[0] == L'\\') {
        Reset();
        rest.erase(0, 1);
        // Enter each part before a backslash; an empty part ends the walk and the rest is the name.
        while (!rest.empty() && rest[0] != L'\\') {
            const std::size_t slash = rest.find(L'\\');
            if (slash == std::wstring::npos)
                break;
            if (LevelBegin(rest.substr(0, slash).c_str()) != 0)
                return kFail;
            rest.erase(0, slash + 1);
        }
    }
    std::u16string units;
    try {
        units = Zan::StringConversions::wstring_to_utf16(rest);
    } catch (const std::range_error&) {
        return kFail; // no stored name can equal it
    }
    return findIn(units, offset);
}

int CVkLiteVariantR::findIn(const std::u16string& name, std::size_t& offset) {
    Item item;
    if (IsNextValue() && current(item) &&
        CompareWithName(m_pData + item.pos + 2, item.nameLen, name.data(), name.size()) == 0) {
        offset = item.pos;
        return 0;
    }
    if (m_level < 0)
        return kFail;
    Item level;
    if (!ParseItem(m_pData, m_levelStack[m_level], m_Size, level) || level.type != kLevel || level.count == 0)
        return kFail;
    const std::uint32_t last = level.count - 1;
    std::uint32_t lo = 0, hi = last;
    // A sorted index needs about 2 log2(count) steps; the cap ends the search of an unsorted one.
    for (int step = 0; step < 128; ++step) {
        if (lo >= hi && lo != last)
            return kFail;
        const std::uint32_t mid = static_cast<std::uint32_t>((std::uint64_t(lo) + hi) / 2);
        if (mid > last)
            return kFail;
        const std::uint64_t entry = loadLE64(m_pData + level.index + 8 * std::size_t(mid));
        if (entry < level.children - level.pos || entry >= level.index - level.pos)
            return kFail;
        Item child;
        if (!ParseItem(m_pData, level.pos + entry, level.index, child))
            return kFail;
        const int c = CompareWithName(m_pData + child.pos + 2, child.nameLen, name.data(), name.size());
        if (c == 0) {
            offset = child.pos;
            return 0;
        }
        if (c < 0) {
            lo = lo == mid ? mid + 1 : mid;
        } else {
            if (hi == mid)
                return kFail;
            hi = mid;
        }
    }
    return kFail;
}

bool CVkLiteVariantR::IsValueSet(const wchar_t* name) {
    std::size_t offset = 0;
    return Find(name, offset) == 0;
}

int CVkLiteVariantR::Read(std::uint8_t type, const wchar_t* name, void* out, std::size_t size) {
    std::size_t offset = 0;
    if (Find(name, offset) != 0)
        return kFail;
    m_CurrentOffset = offset;
    Item item;
    if (!current(item))
        return kFail;
    const std::uint8_t stored = item.type;
    const bool accepted = stored == type || (stored == kUInt32 && type == kInt32) ||
                          (stored == kInt32 && type == kUInt32) || (stored == kUInt64 && type == kInt64) ||
                          (stored == kInt64 && type == kUInt64);
    if (!accepted)
        return kFail;
    ReadCurrentValue(out, size);
    NextValue();
    return 0;
}

bool CVkLiteVariantR::Get(const wchar_t* name, bool def) {
    unsigned char byte = def ? 1 : 0;
    Read(kBool, name, &byte, 1);
    return byte != 0;
}

int CVkLiteVariantR::Get(const wchar_t* name, int def) {
    return readOr(*this, kInt32, name, def);
}

unsigned int CVkLiteVariantR::Get(const wchar_t* name, unsigned int def) {
    return readOr(*this, kUInt32, name, def);
}

long CVkLiteVariantR::Get(const wchar_t* name, long def) {
    return readOr(*this, kInt64, name, def);
}

unsigned long CVkLiteVariantR::Get(const wchar_t* name, unsigned long def) {
    return readOr(*this, kUInt64, name, def);
}

double CVkLiteVariantR::Get(const wchar_t* name, double def) {
    return readOr(*this, kDouble, name, def);
}

void* CVkLiteVariantR::Get(const wchar_t* name, void* def) {
    std::uint64_t number = reinterpret_cast<std::uintptr_t>(def);
    Read(kPointer, name, &number, sizeof number);
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(number));
}

const char16_t* CVkLiteVariantR::Get(const wchar_t* name, const char16_t* def) {
    Read(kString, name, &def, 0);
    return def;
}

CVkStringW& CVkLiteVariantR::GetCVkStringW(CVkStringW& out, const wchar_t* name, const wchar_t* def) {
    requireText(def, "default string");
    std::size_t offset = 0;
    if (Find(name, offset) != 0) {
        out = def;
        return out;
    }
    m_CurrentOffset = offset;
    GetCurrentValueCVkStringW(out, def);
    if (GetCurrentType() == kString)
        NextValue();
    return out;
}

int CVkLiteVariantR::GetStringIntoBuffer(wchar_t* buffer, int len, const wchar_t* name, const wchar_t* def) {
    requireText(def, "default string");
    std::size_t offset = 0;
    if (Find(name, offset) != 0)
        return copyIntoBuffer(def, buffer, len);
    m_CurrentOffset = offset;
    const int r = GetCurrentValueIntoBuffer(buffer, len, def);
    if (GetCurrentType() == kString)
        NextValue();
    return r;
}

int CVkLiteVariantR::Get(const wchar_t* name, CVkByteArray& out) {
    std::size_t offset = 0;
    if (Find(name, offset) != 0)
        return kFail;
    m_CurrentOffset = offset;
    const int r = GetCurrentValue(out);
    if (r != kFail)
        NextValue();
    return r;
}

int CVkLiteVariantR::Get(const wchar_t* name, void* buffer, std::size_t size) {
    std::size_t offset = 0;
    if (Find(name, offset) != 0)
        return kFail;
    m_CurrentOffset = offset;
    const int r = GetCurrentValue(buffer, size);
    if (r == 0)
        NextValue();
    return r;
}

void* CVkLiteVariantR::Get(const wchar_t* name, std::size_t* size) {
    std::size_t offset = 0;
    if (Find(name, offset) != 0)
        return nullptr;
    m_CurrentOffset = offset;
    void* p = GetCurrentValue(size);
    if (p)
        NextValue();
    return p;
}

// ---------------------------------------------------------------------------------------------------------
// Copying and editing

int CVkLiteVariantR::ExtractCurrent(CVkLiteVariantR& out) {
    Item item;
    if (!current(item))
        return kFail;
    const std::size_t n = item.end - item.pos;
    void* copy = CVkAlloc::Alloc(0, n, kAlign);
    if (!copy)
        return kNoMemory;
    std::memcpy(copy, m_pData + item.pos, n);
    // Old-form offsets count from the start of the buffer, so only a root stands on its own; it is
    // converted in the copy, and this reader keeps its bytes.
    if (item.type == kLevelOld &&
        (item.pos != 0 || OffsetIndicesToRelative(static_cast<unsigned char*>(copy), n, 0) != 0)) {
        CVkAlloc::Free(copy);
        return kFail;
    }
    out.SetPointer(copy, n, n);
    return 0;
}

int CVkLiteVariantR::Extract(const wchar_t* name, CVkLiteVariantR& out) {
    std::size_t offset = 0;
    if (Find(name, offset) != 0)
        return kFail;
    m_CurrentOffset = offset;
    if (int r = ExtractCurrent(out))
        return r;
    NextValue();
    return 0;
}

int CVkLiteVariantR::writeCurrentValue(CVkLiteVariantW& w, const Item& item) {
    const std::u16string name = NameOf(m_pData, item);
    const unsigned char* value = m_pData + item.value;
    if (item.type == kBytes)
        return w.write(kBytes, name, value + 8, loadLE64(value));
    return w.write(item.type, name, value, item.end - item.value);
}

int CVkLiteVariantR::rebuildLevel(CVkLiteVariantW& w, CVkLiteVariantR& src, CVkLiteVariantR* with,
                                  const wchar_t* path) {
    const std::wstring target(path);
    const std::size_t slash = target.find(L'\\');
    while (src.IsNextValue()) {
        Item item;
        if (!src.current(item))
            return kFail;
        const std::wstring name = nameValue(src.m_pData, item);
        int r;
        if (name == target) {
            r = with ? w.Append(*with) : 0;
        } else if (slash != std::wstring::npos && isLevel(item.type) && name == target.substr(0, slash)) {
            if ((r = src.CurrentLevelBegin()) != 0)
                return r;
            if (w.levelBegin(NameOf(src.m_pData, item)) != 0) {
                src.LevelEnd();
                return kFail;
            }
            r = rebuildLevel(w, src, with, target.c_str() + slash + 1);
            src.LevelEnd();
            const int closed = w.LevelEnd();
            r = r ? r : closed;
        } else {
            r = w.Append(src);
        }
        if (r)
            return r;
        if ((r = src.NextValue()) != 0)
            return r;
    }
    return 0;
}

int CVkLiteVariantR::MergeLevelEx(CVkLiteVariantW& w, CVkLiteVariantR& src, CVkLiteVariantR& with,
                                  const wchar_t* path) {
    requireText(path, "path");
    return rebuildLevel(w, src, &with, path);
}

int CVkLiteVariantR::RemoveLevelEx(CVkLiteVariantW& w, CVkLiteVariantR& src, const wchar_t* path) {
    requireText(path, "path");
    return rebuildLevel(w, src, nullptr, path);
}

// Copies the whole buffer into a new writer, replacing (with) or dropping (no with) the item at path,
// and takes the result over.
int CVkLiteVariantR::rebuildAt(const wchar_t* path, CVkLiteVariantR* with) {
    requireText(path, "path");
    if (path[0] != L'\\')
        return kFail;
    Reset();
    CVkLiteVariantW w;
    const int r = rebuildLevel(w, *this, with, path + 1);
    Reset();
    return r ? r : w.Finalize(*this, 0);
}

int CVkLiteVariantR::Replace(const wchar_t* path, CVkLiteVariantR& with) {
    return rebuildAt(path, &with);
}

int CVkLiteVariantR::Remove(const wchar_t* path) {
    return rebuildAt(path, nullptr);
}

int CVkLiteVariantR::MergeLevel(CVkLiteVariantW& w, CVkLiteVariantR& a, CVkLiteVariantR& b) {
    while (a.IsNextValue()) {
        Item item;
        if (!a.currentConverted(item))
            return kFail;
        int r;
        if (item.type <= kBytes) {
            r = a.writeCurrentValue(w, item);
        } else {
            const std::u16string name = NameOf(a.m_pData, item);
            std::size_t offset = 0;
            bool both = false;
            if (item.type == kLevel && b.findIn(name, offset) == 0) {
                b.m_CurrentOffset = offset;
                both = b.CurrentLevelBegin() == 0;
            }
            if (both) {
                if ((r = a.CurrentLevelBegin()) != 0) {
                    b.LevelEnd();
                    return r;
                }
                if (w.levelBegin(name) != 0) {
                    a.LevelEnd();
                    b.LevelEnd();
                    return kFail;
                }
                r = MergeLevel(w, a, b);
                a.LevelEnd();
                b.LevelEnd();
                const int closed = w.LevelEnd();
                r = r ? r : closed;
            } else {
                r = w.Append(a);
            }
        }
        if (r)
            return r;
        if ((r = a.NextValue()) != 0)
            return r;
    }
    a.FirstValue();
    b.FirstValue();
    while (b.IsNextValue()) {
        Item item;
        if (!b.currentConverted(item))
            return kFail;
        const std::u16string name = NameOf(b.m_pData, item);
        std::size_t offset = 0;
        if (!name.empty() && a.findIn(name, offset) != 0) {
            const int r = item.type <= kBytes ? b.writeCurrentValue(w, item) : w.Append(b);
            if (r)
                return r;
        }
        if (int r = b.NextValue())
            return r;
    }
    return 0;
}

int CVkLiteVariantR::Merge(CVkLiteVariantR& other) {
    Reset();
    other.Reset();
    Item root;
    if (!currentConverted(root) || root.type != kLevel)
        return kFail;
    const std::u16string name = NameOf(m_pData, root);
    std::size_t offset = 0;
    int r = kFail;
    if (other.findIn(name, offset) == 0) {
        other.m_CurrentOffset = offset;
        if (other.CurrentLevelBegin() == 0 && CurrentLevelBegin() == 0) {
            CVkLiteVariantW w;
            r = w.levelBegin(name);
            if (r == 0)
                r = MergeLevel(w, *this, other);
            Reset();
            other.Reset();
            return r ? r : w.Finalize(*this, 0);
        }
    }
    Reset();
    other.Reset();
    return r;
}

// ---------------------------------------------------------------------------------------------------------
// Reference-counted reader and its holder

CVkRefLiteVariantR::CVkRefLiteVariantR() : m_refCount(0) {}

CVkRefLiteVariantR::CVkRefLiteVariantR(const CVkRefLiteVariantR& other)
    : CVkByteArray(other), CVkLiteVariantR(other), m_refCount(0) {}

CVkRefLiteVariantR::CVkRefLiteVariantR(const CVkLiteVariantR& other)
    : CVkByteArray(other), CVkLiteVariantR(other), m_refCount(0) {}

CVkRefLiteVariantR::~CVkRefLiteVariantR() = default;

std::uint32_t CVkRefLiteVariantR::AddRef() {
    return ++m_refCount;
}

std::uint32_t CVkRefLiteVariantR::Release() {
    if (m_refCount == 0 || --m_refCount == 0) {
        delete this;
        return 0;
    }
    return m_refCount;
}

bool CVkRefLiteVariantR::IsReferencedNonUniquely() const {
    return m_refCount > 1;
}

CVkLiteVariantRHolder::CVkLiteVariantRHolder() : m_reader(nullptr) {}

CVkLiteVariantRHolder::CVkLiteVariantRHolder(const CVkLiteVariantRHolder& other) : m_reader(other.m_reader) {
    if (m_reader)
        m_reader->AddRef();
}

CVkLiteVariantRHolder& CVkLiteVariantRHolder::operator=(const CVkLiteVariantRHolder& other) {
    if (other.m_reader)
        other.m_reader->AddRef();
    CVkRefLiteVariantR* old = m_reader;
    m_reader = other.m_reader;
    if (old)
        old->Release();
    return *this;
}

CVkLiteVariantRHolder::~CVkLiteVariantRHolder() {
    if (m_reader)
        m_reader->Release();
}

bool CVkLiteVariantRHolder::MakeNotNull() {
    if (!m_reader) {
        m_reader = new (std::nothrow) CVkRefLiteVariantR();
        if (!m_reader)
            return false;
        m_reader->AddRef();
    }
    return true;
}

bool CVkLiteVariantRHolder::MakeNotNullAndUnique() {
    if (m_reader && m_reader->IsReferencedNonUniquely()) {
        m_reader->Release();
        m_reader = nullptr;
    }
    return MakeNotNull();
}

} // namespace ZanLegacy
