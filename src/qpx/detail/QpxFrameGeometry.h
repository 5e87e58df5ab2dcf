#pragma once

// Row sizes of native frames and the integers of an attributes document (internal). The native device, its
// frame writes, the split and the merge all take them from here, so that they agree on every frame.

#include <io/detail/CheckedSize.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace Zan::detail {

// Bytes of one sample of bits-bit components: 1 up to 8 bits, 2 up to 16, 4 up to 32, 8 up to 64, else 0.
inline long componentBytes(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : bits <= 64 ? 8 : 0;
}

// Bytes of a row of width pixels of channels samples of bits bits each, rounded up to alignment (1 leaves
// it as it is). A negative count or a size beyond a long throws std::runtime_error beginning with owner.
inline long frameRowBytes(long width, long bits, long channels, long alignment, const char* owner) {
    const long bytes = checkedProduct(checkedProduct(width, componentBytes(bits), owner), channels, owner);
    return checkedAlign(bytes, alignment, owner);
}

// The integer member key of a document: an integer within the range of long, or a floating-point value
// that is a whole number within it (10.0 reads as 10). Anything else, and an absent member, reads as 0.
inline long integerMember(const nlohmann::json& document, const char* key) {
    if (!document.is_object())
        return 0;
    const auto it = document.find(key);
    if (it == document.end())
        return 0;
    if (it->is_number_unsigned()) {
        const auto v = it->get<nlohmann::json::number_unsigned_t>();
        return v <= static_cast<unsigned long>(std::numeric_limits<long>::max()) ? static_cast<long>(v) : 0;
    }
    if (it->is_number_integer())
        return it->get<long>();
    if (it->is_number_float()) {
        const double v = it->get<double>();
        // 2^63 is exact as a double; every whole number below it converts.
        if (std::isfinite(v) && v == std::trunc(v) && v >= -9223372036854775808.0 &&
            v < 9223372036854775808.0)
            return static_cast<long>(v);
    }
    return 0;
}

} // namespace Zan::detail
