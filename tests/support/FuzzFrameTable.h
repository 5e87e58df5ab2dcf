#pragma once

// For fuzz targets of image files: the whole frame table (allLoopIndexes) is the one size that a file's loop
// counts decide rather than its bytes (the library caps it at 100 million frames). A frame's coordinates
// are computed from the counts and cost nothing, so targets ask for the whole table only where it is small.

#include <cstdint>

namespace ZanTest {

// The most frames whose whole table a fuzz target asks for.
inline constexpr unsigned kFuzzTableFrames = 1u << 16;

} // namespace ZanTest
