#include <qpx/detail/QpxTileConversions.h>

#include <io/ParallelFor.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Zan {

namespace {

// Workers cost tens of microseconds each to start: a pass hands its rows to one for every this many bytes
// it touches, at most as many as the hardware reports; a smaller pass runs on the caller's thread. The
// result does not depend on the count: every row is one worker's alone.
constexpr long minBytesPerThread = 1L << 20;

int threadsFor(long rows, long bytesPerRow) {
    long bytes = 0;
    if (__builtin_mul_overflow(rows, bytesPerRow, &bytes))
        bytes = std::numeric_limits<long>::max();
    const long hardware = std::max(1L, static_cast<long>(std::thread::hardware_concurrency()));
    return static_cast<int>(std::clamp(bytes / minBytesPerThread, 1L, hardware));
}

[[noreturn]] void refuse(const char* function, const std::string& what) {
    throw std::invalid_argument(std::string(function) + ": " + what);
}

void requireNotNegative(const char* function, const char* name, long value) {
    if (value < 0)
        refuse(function, std::string(name) + " is negative (" + std::to_string(value) + ")");
}

// The checks that keep a kernel inside the caller's rows: rows of samplesPerRow samples must fit lineSize,
// lineSize must be a whole number of samples (a row starts at sample r * lineSize / sizeof(T)), and the
// buffer must hold aligned samples when there is anything to touch.
template <typename T>
void checkFrame(const char* function, const T* buffer, long lineSize, long rows, long samplesPerRow) {
    requireNotNegative(function, "line size", lineSize);
    requireNotNegative(function, "row count", rows);
    long rowBytes = 0;
    if (__builtin_mul_overflow(samplesPerRow, static_cast<long>(sizeof(T)), &rowBytes) || rowBytes > lineSize)
        refuse(function, "rows of " + std::to_string(samplesPerRow) + " samples of " +
                             std::to_string(sizeof(T)) + " bytes exceed the line size " +
                             std::to_string(lineSize));
    if (lineSize % static_cast<long>(sizeof(T)) != 0)
        refuse(function, "line size " + std::to_string(lineSize) + " is not a multiple of the sample size " +
                             std::to_string(sizeof(T)));
    long frameBytes = 0;
    if (__builtin_mul_overflow(rows, lineSize, &frameBytes))
        refuse(function, "frame of " + std::to_string(rows) + " rows of " + std::to_string(lineSize) +
                             " bytes is too large");
    if (frameBytes == 0)
        return;
    if (!buffer)
        refuse(function, "no buffer");
    if (reinterpret_cast<std::uintptr_t>(buffer) % alignof(T) != 0)
        refuse(function, "buffer is not aligned to its samples");
}

// The frame of a band kernel, and its band when one is weighted. extent is the frame's size along the
// band's axis.
template <typename T>
long checkBands(const char* function, const T* buffer, long lineSize, long width, long height,
                long components, long overlap, bool weighted, long extent) {
    requireNotNegative(function, "width", width);
    requireNotNegative(function, "height", height);
    requireNotNegative(function, "component count", components);
    requireNotNegative(function, "overlap", overlap);
    long samplesPerRow = 0;
    if (__builtin_mul_overflow(width, components, &samplesPerRow))
        refuse(function, "rows of " + std::to_string(width) + " pixels of " + std::to_string(components) +
                             " components are too large");
    checkFrame(function, buffer, lineSize, height, samplesPerRow);
    if (weighted && overlap == 1)
        refuse(function, "an overlap of 1 gives no ramp");
    if (weighted && overlap > extent)
        refuse(function, "overlap " + std::to_string(overlap) + " is wider than the frame (" +
                             std::to_string(extent) + ")");
    return samplesPerRow;
}

template <typename T>
T* rowOf(T* buffer, long lineSize, long row) {
    return buffer + row * (lineSize / static_cast<long>(sizeof(T)));
}

// Integer samples are truncated toward zero through a signed 32-bit integer: the values lie in the sample's
// range, so the result is the same, and x86 converts to signed integers in one vector instruction where
// unsigned targets take several.
template <typename T, typename Real>
T truncated(Real value) {
    if constexpr (std::numeric_limits<T>::is_integer)
        return static_cast<T>(static_cast<std::int32_t>(value));
    else
        return static_cast<T>(value);
}

// One sample weighted by a band ramp: in double precision, integers truncated toward zero. Weights lie in
// [0, 1], so an integer result stays in the sample's range.
template <typename T>
T weighted(T sample, double weight) {
    return truncated<T>(static_cast<double>(sample) * weight);
}

// The weights of a band of n rows or pixels: position i gets i / (n - 1) rising, (n - 1 - i) / (n - 1)
// falling, each the quotient of the two integers in double precision. Computed once per pass, not per row.
std::vector<double> ramp(long n, bool rising) {
    std::vector<double> weights(static_cast<std::size_t>(n));
    const double d = static_cast<double>(n - 1);
    for (long i = 0; i < n; ++i)
        weights[i] = static_cast<double>(rising ? i : n - 1 - i) / d;
    return weights;
}

// The row loops take everything by value and restrict: stores of 8-bit samples could alias anything else
// the loop reads, and would keep it from being vectorised.

// n samples weighted alike.
template <typename T>
void weightSamples(T* __restrict row, long n, double weight) {
    for (long s = 0; s < n; ++s)
        row[s] = weighted(row[s], weight);
}

// The first pixels pixels of a row, components samples each, pixel p weighted by weights[p].
template <typename T>
void weightPixels(T* __restrict row, long components, long pixels, const double* __restrict weights) {
    if (components == 1) {
        for (long p = 0; p < pixels; ++p)
            row[p] = weighted(row[p], weights[p]);
        return;
    }
    for (long p = 0; p < pixels; ++p)
        weightSamples(row + p * components, components, weights[p]);
}

// Integer samples scaled by a factor in [0, 1] stay in range; only other factors (NaN included) need the
// saturation that keeps the conversion defined, and it costs more than the product.
template <typename T, bool Saturate>
void scaleSamples(T* __restrict row, long n, float factor) {
    for (long s = 0; s < n; ++s) {
        if constexpr (std::numeric_limits<T>::is_integer) {
            float p = static_cast<float>(row[s]) * factor;
            if constexpr (Saturate) {
                constexpr float top = static_cast<float>(std::numeric_limits<T>::max());
                p = p > 0.0f ? p : 0.0f;
                p = p < top ? p : top;
            }
            row[s] = truncated<T>(p);
        } else {
            row[s] = row[s] * factor;
        }
    }
}

// The dispatch on the bit depth shared by the three kernels.
template <typename Call>
void dispatch(const char* function, long bitsPerComponent, void* buffer, Call call) {
    if (bitsPerComponent <= 8)
        call(static_cast<unsigned char*>(buffer));
    else if (bitsPerComponent <= 16)
        call(static_cast<unsigned short*>(buffer));
    else if (bitsPerComponent <= 32)
        call(static_cast<float*>(buffer));
    else
        throw std::logic_error(std::string(function) + ": unsupported bitdepth for conversion");
}

} // namespace

template <typename T>
void multipication(T* buffer, long lineSize, long lines, float factor) {
    checkFrame("multipication", buffer, lineSize, lines, 0);
    const long samples = lineSize / static_cast<long>(sizeof(T));
    const auto pass = [=](auto scale) {
        ParallelFor(
            0L, lines, [=](long r) { scale(rowOf(buffer, lineSize, r), samples, factor); },
            threadsFor(lines, lineSize));
    };
    if (factor >= 0.0f && factor <= 1.0f)
        pass(scaleSamples<T, false>);
    else
        pass(scaleSamples<T, true>);
}

template <typename T>
void blendingY(T* buffer, long lineSize, long width, long height, long components, long overlap, bool top,
               bool bottom) {
    const long samples =
        checkBands("blendingY", buffer, lineSize, width, height, components, overlap, top || bottom, height);
    const auto pass = [=](long firstRow, bool rising) {
        const std::vector<double> weights = ramp(overlap, rising);
        const double* w = weights.data();
        ParallelFor(
            0L, overlap, [=](long i) { weightSamples(rowOf(buffer, lineSize, firstRow + i), samples, w[i]); },
            threadsFor(overlap, samples * static_cast<long>(sizeof(T))));
    };
    if (top)
        pass(0, true);
    if (bottom)
        pass(height - overlap, false);
}

template <typename T>
void blendingX(T* buffer, long lineSize, long width, long height, long components, long overlap, bool left,
               bool right) {
    checkBands("blendingX", buffer, lineSize, width, height, components, overlap, left || right, width);
    const auto pass = [=](long firstPixel, bool rising) {
        const std::vector<double> weights = ramp(overlap, rising);
        const double* w = weights.data();
        ParallelFor(
            0L, height,
            [=](long r) {
                weightPixels(rowOf(buffer, lineSize, r) + firstPixel * components, components, overlap, w);
            },
            threadsFor(height, overlap * components * static_cast<long>(sizeof(T))));
    };
    if (left)
        pass(0, true);
    if (right)
        pass(width - overlap, false);
}

template void multipication<unsigned char>(unsigned char*, long, long, float);
template void multipication<unsigned short>(unsigned short*, long, long, float);
template void multipication<float>(float*, long, long, float);
template void blendingY<unsigned char>(unsigned char*, long, long, long, long, long, bool, bool);
template void blendingY<unsigned short>(unsigned short*, long, long, long, long, long, bool, bool);
template void blendingY<float>(float*, long, long, long, long, long, bool, bool);
template void blendingX<unsigned char>(unsigned char*, long, long, long, long, long, bool, bool);
template void blendingX<unsigned short>(unsigned short*, long, long, long, long, long, bool, bool);
template void blendingX<float>(float*, long, long, long, long, long, bool, bool);

void multipication(void* buffer, long bitsPerComponent, long lineSize, long lines, float factor) {
    dispatch("multipication", bitsPerComponent, buffer,
             [&](auto* samples) { multipication(samples, lineSize, lines, factor); });
}

void blendingY(void* buffer, long bitsPerComponent, long lineSize, long width, long height, long components,
               long overlap, bool top, bool bottom) {
    dispatch("blendingY", bitsPerComponent, buffer, [&](auto* samples) {
        blendingY(samples, lineSize, width, height, components, overlap, top, bottom);
    });
}

void blendingX(void* buffer, long bitsPerComponent, long lineSize, long width, long height, long components,
               long overlap, bool left, bool right) {
    dispatch("blendingX", bitsPerComponent, buffer, [&](auto* samples) {
        blendingX(samples, lineSize, width, height, components, overlap, left, right);
    });
}

} // namespace Zan
