#pragma once

#include <memory>
#include <type_traits>
#include <vector>

namespace Zan {
namespace detail {

// Allocator whose value-less construction leaves the element uninitialised, so resizing a byte vector
// before filling it from a file or a decoder costs no memset.
template <typename T, typename A = std::allocator<T>>
class default_init_allocator : public A {
    using traits = std::allocator_traits<A>;

public:
    template <typename U>
    struct rebind {
        using other = default_init_allocator<U, typename traits::template rebind_alloc<U>>;
    };

    using A::A;
    default_init_allocator() = default;
    template <typename U, typename B>
    default_init_allocator(const default_init_allocator<U, B>& other) noexcept : A(other) {}

    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        traits::construct(static_cast<A&>(*this), p, std::forward<Args>(args)...);
    }
};

} // namespace detail

// Byte vector for chunk payloads, frame data and custom data.
using ByteVector = std::vector<char, detail::default_init_allocator<char>>;

} // namespace Zan
