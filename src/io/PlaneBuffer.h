#pragma once

#include <io/DefaultInitAllocator.h>

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

namespace Zan {
namespace detail {

// Blocks of a few megabytes and more are 2 MiB aligned, asked to be backed by huge pages where the system
// offers them, and faulted in at once (unless populate is false): page by page, the first touch of a
// freshly mapped 32 MiB plane costs several times its decoding. A thread keeps up to two freed blocks of
// 32 to 64 MiB for its next planes. Smaller blocks come from operator new. Internal to the library.
void* allocatePlane(std::size_t bytes, bool populate = true);
void freePlane(void* block, std::size_t bytes) noexcept;

template <typename T, bool Populate = true>
struct plane_allocator {
    using value_type = T;
    plane_allocator() = default;
    template <typename U>
    struct rebind {
        using other = plane_allocator<U, Populate>;
    };
    template <typename U>
    plane_allocator(const plane_allocator<U, Populate>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(allocatePlane(n * sizeof(T), Populate));
    }
    void deallocate(T* p, std::size_t n) noexcept { freePlane(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const plane_allocator<U, Populate>&) const noexcept {
        return true;
    }
};

// Byte vector of a whole plane held in memory (a decoded compressed frame).
using PlaneBuffer = std::vector<char, default_init_allocator<char, plane_allocator<char>>>;
// Byte vector of a plane whose pages are committed only as they are first written: a frame being decoded
// from a stream that may prove damaged long before the plane is full.
using LazyPlaneBuffer = std::vector<char, default_init_allocator<char, plane_allocator<char, false>>>;

} // namespace detail
} // namespace Zan
