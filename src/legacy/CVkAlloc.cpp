#include <legacy/CVkAlloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ZanLegacy {
namespace {

constexpr unsigned long kHeader = 16;

// Requests above this cannot be satisfied by any allocator; refusing them early also keeps the size
// arithmetic below from wrapping.
constexpr unsigned long kLargestRequest =
    static_cast<unsigned long>(std::numeric_limits<std::ptrdiff_t>::max());

unsigned long effectiveAlignment(unsigned long align) {
    if (align <= kHeader)
        return kHeader;
    if ((align & (align - 1)) == 0)
        return align;
    unsigned long a = kHeader;
    while (a < align) {
        if (a > kLargestRequest / 2)
            return 0;
        a <<= 1;
    }
    return a;
}

std::uint64_t* header(const void* p) {
    return reinterpret_cast<std::uint64_t*>(static_cast<char*>(const_cast<void*>(p)) - kHeader);
}

} // namespace

void* CVkAlloc::Alloc(unsigned int flags, unsigned long size, unsigned long align) {
    if (size == 0)
        return nullptr;
    const unsigned long a = effectiveAlignment(align);
    if (a == 0 || size > kLargestRequest - a)
        return nullptr;
    void* raw = std::malloc(size + a);
    if (!raw)
        return nullptr;
    const std::uintptr_t r = reinterpret_cast<std::uintptr_t>(raw);
    std::uintptr_t address = (r + a - 1) & ~static_cast<std::uintptr_t>(a - 1);
    if (address == r)
        address = r + a;
    void* p = reinterpret_cast<void*>(address);
    header(p)[0] = r;
    header(p)[1] = size;
    if (flags & kZeroFill)
        std::memset(p, 0, size);
    return p;
}

void CVkAlloc::Free(void* p) {
    if (p)
        std::free(reinterpret_cast<void*>(static_cast<std::uintptr_t>(header(p)[0])));
}

void CVkAlloc::FreeAndSetNull(void** pp) {
    if (pp && *pp) {
        Free(*pp);
        *pp = nullptr;
    }
}

unsigned long CVkAlloc::Size(const void* p, unsigned long) {
    return p ? header(p)[1] : 0;
}

void* CVkAlloc::ReAlloc(void* p, unsigned long size, unsigned int flags, unsigned long align) {
    if (!p)
        return Alloc(flags, size, align);
    if (size == 0) {
        Free(p);
        return nullptr;
    }
    // The new bytes are zeroed below only where the block grew; the copied part is overwritten anyway.
    void* q = Alloc(flags & ~kZeroFill, size, align);
    if (!q)
        return nullptr;
    const unsigned long oldSize = Size(p);
    const unsigned long kept = oldSize < size ? oldSize : size;
    std::memcpy(q, p, kept);
    if ((flags & kZeroFill) && size > oldSize)
        std::memset(static_cast<char*>(q) + oldSize, 0, size - oldSize);
    Free(p);
    return q;
}

bool CVkAlloc::IsBadPtr(const void* p, unsigned long size) {
    return Size(p) != size;
}

bool CVkAlloc::CheckAllMemory() {
    return true;
}

bool CVkAlloc::CheckAllMemoryInAllHeaps() {
    return true;
}

} // namespace ZanLegacy
