#include <legacy/CVkByteArray.h>

#include <legacy/CVkAlloc.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace ZanLegacy {
namespace {

constexpr unsigned long kAlignment = 16;
constexpr unsigned long kMax = std::numeric_limits<unsigned long>::max();

} // namespace

CVkByteArray::CVkByteArray() {
    Init(1024);
}

CVkByteArray::CVkByteArray(unsigned long increment) {
    Init(increment);
}

CVkByteArray::CVkByteArray(const void* data, unsigned long n, unsigned long increment) {
    Init(increment);
    SetData(data, n, eOpWriteAtStart, eAllocExact);
}

CVkByteArray::CVkByteArray(const CVkByteArray& other) {
    Init(other.m_Increment);
    SetData(other.GetData(), other.GetSize(), eOpWriteAtStart, eAllocExact);
}

CVkByteArray::~CVkByteArray() {
    FreeData();
}

void CVkByteArray::Init(unsigned long increment) {
    m_pData = nullptr;
    m_CurrentOffset = 0;
    m_Size = 0;
    m_Allocated = 0;
    m_Increment = increment ? increment : 1;
}

CVkByteArray& CVkByteArray::operator=(const CVkByteArray& other) {
    if (&other != this) {
        FreeData();
        SetData(other.GetData(), other.GetSize(), eOpWriteAtStart, eAllocExact);
    }
    return *this;
}

bool CVkByteArray::operator==(const CVkByteArray& other) const {
    const unsigned long n = GetSize();
    if (n != other.GetSize())
        return false;
    return n == 0 || std::memcmp(GetData(), other.GetData(), n) == 0;
}

bool CVkByteArray::operator!=(const CVkByteArray& other) const {
    return !(*this == other);
}

int CVkByteArray::SetData(const void* data, unsigned long n, EVkByteArrayModeOp op,
                          EVkByteArrayModeAlloc alloc) {
    const unsigned long start = op == eOpAppend ? m_Size : 0;
    unsigned long room = m_Allocated - start;
    // The source may be this array's own bytes (a part of it written again, or appended to itself):
    // its position is kept as an offset, because growing moves the block.
    const auto source = reinterpret_cast<std::uintptr_t>(data);
    const auto base = reinterpret_cast<std::uintptr_t>(m_pData);
    const bool own = data && m_pData && source >= base && source - base < m_Allocated;
    const unsigned long ownOffset = own ? static_cast<unsigned long>(source - base) : 0;
    if (own && n > m_Allocated - ownOffset)
        return kBadArgument; // the source runs past this array's block
    if (room >= n) {
        if (!data || n == 0)
            return kOk;
        std::memmove(m_pData + start, data, n);
        m_Size = start + n;
        return kOk;
    }

    // A request whose end cannot be represented is treated like a failed reallocation.
    bool grown = false;
    unsigned long target = 0;
    if (alloc == eAllocExact) {
        if (n <= kMax - start)
            target = start + n;
    } else if (alloc == eAllocIncrement) {
        const unsigned long k = (n - room) / m_Increment + 1;
        if (k <= kMax / m_Increment && k * m_Increment <= kMax - m_Allocated)
            target = m_Allocated + k * m_Increment;
    }
    if (target != 0) {
        if (void* p = CVkAlloc::ReAlloc(m_pData, target, 0, kAlignment)) {
            m_pData = static_cast<unsigned char*>(p);
            m_Allocated = target;
            grown = true;
        }
    }

    if (!data)
        return grown || alloc == eAllocNever ? kOk : kAllocFailed;
    if (own)
        data = m_pData + ownOffset;
    room = m_Allocated - start;
    if (room >= n) {
        std::memmove(m_pData + start, data, n);
        m_Size = start + n;
        return kOk;
    }
    if (room == 0)
        return kNothingCopied;
    std::memmove(m_pData + start, data, room);
    m_Size = m_Allocated;
    return kPartlyCopied;
}

bool CVkByteArray::FreeData() {
    CVkAlloc::Free(m_pData);
    Init(m_Increment);
    return true;
}

bool CVkByteArray::SetIncrement(unsigned long increment) {
    m_Increment = increment ? increment : 1;
    return true;
}

int CVkByteArray::SetCurrentOffset(unsigned long offset) {
    if (offset > m_Allocated)
        return kBadArgument;
    m_CurrentOffset = offset;
    return kOk;
}

int CVkByteArray::SetCurrentOffsetPtr(void* p) {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    const auto base = reinterpret_cast<std::uintptr_t>(m_pData);
    if (!p || !m_pData || address < base)
        return kBadArgument;
    return SetCurrentOffset(address - base);
}

unsigned long CVkByteArray::GetCurrentOffset() const {
    return m_CurrentOffset > m_Allocated ? 0 : m_CurrentOffset;
}

unsigned char* CVkByteArray::GetCurrentOffsetPtr() const {
    return m_pData ? m_pData + GetCurrentOffset() : nullptr;
}

unsigned char* CVkByteArray::GetData() const {
    return m_pData;
}

unsigned char* CVkByteArray::GetData(unsigned long n) {
    if (n >= 1 && n <= m_Allocated)
        m_Size = n;
    return m_pData;
}

unsigned long CVkByteArray::GetSize() const {
    return m_Size;
}

void CVkByteArray::SetSize(unsigned long n) {
    if (n <= m_Allocated)
        m_Size = n;
}

unsigned long CVkByteArray::GetAllocated() const {
    return m_Allocated;
}

} // namespace ZanLegacy
