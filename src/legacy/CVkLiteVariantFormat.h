#pragma once

#include <cstdint>

// Item codes and limits of the binary variant format: the values CVkLiteVariantR::GetCurrentType returns
// and Read takes, and the bounds of names and nesting that the reader and writer keep.
namespace ZanLegacy::LiteVariant {

enum ItemType : std::uint8_t {
    kBool = 1,
    kInt32 = 2,
    kUInt32 = 3,
    kInt64 = 4,
    kUInt64 = 5,
    kDouble = 6,
    kPointer = 7,
    kString = 8,
    kBytes = 9,
    kLevelOld = 10, // offsets counted from the start of the buffer
    kLevel = 11,    // offsets counted from the level item itself
};

constexpr unsigned kMaxNameLen = 255;   // name units stored, a terminating unit included when it fits
constexpr unsigned kMaxNameUnits = 254; // name units a longer name is cut to, before its terminating unit
constexpr unsigned kMaxDepth = 256;     // levels a reader enters at most

} // namespace ZanLegacy::LiteVariant
