#pragma once

#include <io/DefaultInitAllocator.h>

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

namespace Zan {
namespace detail {

// Blocks of a few megabytes and more are 2 MiB aligned, asked to be backed by huge pages where the system
// offers them, and faulted in at once: page by page, the first touch of a freshly mapped 32 MiB plane costs
// several times its decoding. A thread keeps up to two freed blocks of 32 to 64 MiB for its next planes.
// Smaller blocks come from operator new. Internal to the library.
void* allocatePlane(std::size_t bytes);
void freePlane(void* block, std::size_t bytes) noexcept;

template <typename T>
struct plane_allocator {
    using value_type = T;
    plane_allocator() = default;
    template <typename U>
    plane_allocator(const plane_allocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(allocatePlane(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { freePlane(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const plane_allocator<U>&) const noexcept {
        return true;
    }
};

// Byte vector of a whole plane held in memory (a decoded compressed frame).
using PlaneBuffer = std::vector<char, default_init_allocator<char, plane_allocator<char>>>;

} // namespace detail
} // namespace Zan
