#pragma once

#include <cstdint>

namespace Zan {

// A pixel rectangle.
struct Rectangle {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;

    friend bool operator==(const Rectangle&, const Rectangle&) = default;
};

} // namespace Zan
