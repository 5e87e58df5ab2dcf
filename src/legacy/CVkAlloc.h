#pragma once

#include <io/ZanExport.h>

namespace ZanLegacy {

// Aligned blocks that remember their requested size. The 16 bytes just before every block hold the
// address the system allocator returned (at -16) and the requested size (at -8). Blocks from here are
// released only through Free or ReAlloc. All operations are static and thread-safe.
class ZAN_EXPORT CVkAlloc {
public:
    // Flag: fill the new bytes with zero. No other flag has an effect.
    static constexpr unsigned int kZeroFill = 8;

    // A block of size bytes aligned to max(16, align rounded up to a power of two); null when size is 0,
    // when the request cannot be represented or when the system allocator fails.
    static void* Alloc(unsigned int flags, unsigned long size, unsigned long align);
    static void Free(void* p);
    static void FreeAndSetNull(void** pp);
    // The requested size stored in the header; 0 for null. The second argument has no effect.
    static unsigned long Size(const void* p, unsigned long = 0);
    // Moves the content to a new block (never in place); size 0 frees p and returns null. On failure
    // p is left untouched and null is returned.
    static void* ReAlloc(void* p, unsigned long size, unsigned int flags, unsigned long align);
    static bool IsBadPtr(const void* p, unsigned long size);
    static bool CheckAllMemory();
    static bool CheckAllMemoryInAllHeaps();
};

} // namespace ZanLegacy
