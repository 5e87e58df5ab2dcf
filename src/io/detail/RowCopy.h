#pragma once

// Copies of pixel rows shared by the image-data devices (internal): unaligned sample loads and stores, the
// row copy that masks 16-bit samples to their used bits, and one output line of a downsampled read.

#include <cstdint>
#include <cstring>

namespace Zan::detail {

template <typename T>
T loadSample(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void storeSample(char* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

// Copies bytes bytes of a row; with a non-zero mask, bytes / 2 16-bit samples each ANDed with it (an odd
// last byte is not copied). dst may equal src, which masks the row in place.
inline void copyRowMasked(char* dst, const char* src, long bytes, std::uint16_t mask) {
    if (mask == 0) {
        if (dst != src && bytes > 0)
            std::memmove(dst, src, static_cast<std::size_t>(bytes));
        return;
    }
    for (long i = 0; i + 1 < bytes; i += 2)
        storeSample<std::uint16_t>(dst + i, loadSample<std::uint16_t>(src + i) & mask);
}

// Fixed-size pixel copies compile to plain moves; the sizes below cover 1 to 4 components of 1, 2 or 4 bytes.
template <long Size>
void gatherPixels(char* dst, const char* line, const long* columns, long count) {
    for (long j = 0; j < count; ++j, dst += Size)
        std::memcpy(dst, line + columns[j], Size);
}

// One output line of a downsampled read: count pixels to dst, pixel j from line + columns[j] (the column
// table, in byte offsets). A non-zero mask is ANDed into 2-byte samples.
inline void quickScaleLine(char* dst, const char* line, const long* columns, long count, long sampleSize,
                           long components, std::uint16_t mask) {
    const long size = sampleSize * components;
    if (mask != 0 && sampleSize == 2) {
        for (long j = 0; j < count; ++j, dst += size)
            copyRowMasked(dst, line + columns[j], size, mask);
        return;
    }
    switch (size) {
    case 1:
        return gatherPixels<1>(dst, line, columns, count);
    case 2:
        return gatherPixels<2>(dst, line, columns, count);
    case 3:
        return gatherPixels<3>(dst, line, columns, count);
    case 4:
        return gatherPixels<4>(dst, line, columns, count);
    case 6:
        return gatherPixels<6>(dst, line, columns, count);
    case 8:
        return gatherPixels<8>(dst, line, columns, count);
    case 12:
        return gatherPixels<12>(dst, line, columns, count);
    case 16:
        return gatherPixels<16>(dst, line, columns, count);
    default:
        for (long j = 0; j < count; ++j, dst += size)
            std::memcpy(dst, line + columns[j], static_cast<std::size_t>(size));
    }
}

} // namespace Zan::detail
