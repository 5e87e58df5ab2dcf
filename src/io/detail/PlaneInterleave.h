#pragma once

// Interleaving of planes into packed pixels (internal): the inner loop of the multi-plane packed copy.

namespace Zan::detail {

// Line r of the result at dst + r * dstStride holds, for each of width pixels, the sample of every plane in
// turn: planes[0], planes[1], ... planes[count - 1]. Line r of plane k lies at planes[k] + r * srcStride.
// sampleBytes is 1, 2 or 4. Planes of more than one component are not handled here. streaming writes the
// result past the cache, for results far larger than it that nobody reads soon.
void interleavePlanes(const char* const* planes, long count, long srcStride, char* dst, long dstStride,
                      long width, long rows, long sampleBytes, bool streaming = false);

} // namespace Zan::detail
