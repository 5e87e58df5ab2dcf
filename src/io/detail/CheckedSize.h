#pragma once

// Size arithmetic on values that may come from a file (internal): a result that does not fit is refused
// with std::runtime_error instead of wrapping around. owner begins the message ("IoImageDataDevice", say).

#include <stdexcept>
#include <string>

namespace Zan::detail {

// a * b for sizes that must not be negative.
inline long checkedProduct(long a, long b, const char* owner) {
    long result = 0;
    if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &result))
        throw std::runtime_error(std::string(owner) + ": buffer size out of range (" + std::to_string(a) +
                                 " x " + std::to_string(b) + ")");
    return result;
}

// value rounded up to a multiple of alignment; an alignment below 1 counts as 1.
inline long checkedAlign(long value, long alignment, const char* owner) {
    if (alignment < 1)
        alignment = 1;
    long rounded = 0;
    if (__builtin_add_overflow(value, alignment - 1, &rounded))
        throw std::runtime_error(std::string(owner) + ": line size out of range (" + std::to_string(value) +
                                 " aligned to " + std::to_string(alignment) + ")");
    return alignment * (rounded / alignment);
}

} // namespace Zan::detail
