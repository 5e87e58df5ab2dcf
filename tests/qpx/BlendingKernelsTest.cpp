// The overlap weighting of tile frames: the ramps of every band and sample type, the samples a kernel must
// leave alone (other pixels, row padding), the dispatch on the bit depth, and the arguments refused before
// a sample changes.

#include <qpx/detail/QpxTileConversions.h>

#include "support/Expect.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

// One packed frame of width x height pixels of components samples, rows padded by padSamples samples. The
// pixels hold value, the padding a sentinel that no kernel may change.
template <typename T>
struct Frame {
    Frame(long w, long h, long c, long padSamples, T value, T padValue = T(7))
        : width(w), height(h), components(c), stride(w * c + padSamples),
          samples(static_cast<std::size_t>(stride * h), padValue) {
        for (long y = 0; y < h; ++y)
            for (long i = 0; i < w * c; ++i)
                samples[y * stride + i] = value;
    }
    long lineSize() const { return stride * static_cast<long>(sizeof(T)); }
    T* data() { return samples.data(); }
    T& at(long x, long y, long c) { return samples[y * stride + x * components + c]; }

    long width, height, components, stride;
    std::vector<T> samples;
};

// Every sample of f against expected(x, y) and the padding against its sentinel.
template <typename T, typename Expected>
void expectFrame(Frame<T>& f, Expected expected, T padValue = T(7)) {
    for (long y = 0; y < f.height; ++y) {
        for (long x = 0; x < f.width; ++x)
            for (long c = 0; c < f.components; ++c)
                ASSERT_EQ(f.at(x, y, c), expected(x, y))
                    << "pixel " << x << ", row " << y << ", component " << c;
        for (long s = f.width * f.components; s < f.stride; ++s)
            ASSERT_EQ(f.samples[y * f.stride + s], padValue) << "padding of row " << y;
    }
}

enum class Band { Left, Right, Top, Bottom };

// Each band of a 9 x 6 frame of 2 components, weighted alone: the band follows rising (falling for the
// right and bottom bands), every other sample keeps value.
template <typename T>
void expectRamps(long bits, T value, const std::vector<T>& rising) {
    const long o = static_cast<long>(rising.size());
    const std::vector<T> falling(rising.rbegin(), rising.rend());
    for (Band band : {Band::Left, Band::Right, Band::Top, Band::Bottom}) {
        SCOPED_TRACE(::testing::Message()
                     << "bits " << bits << ", overlap " << o << ", band " << static_cast<int>(band));
        Frame<T> f(9, 6, 2, 3, value);
        const bool x = band == Band::Left || band == Band::Right;
        if (x)
            Zan::blendingX(f.data(), bits, f.lineSize(), f.width, f.height, f.components, o,
                           band == Band::Left, band == Band::Right);
        else
            Zan::blendingY(f.data(), bits, f.lineSize(), f.width, f.height, f.components, o,
                           band == Band::Top, band == Band::Bottom);
        expectFrame(f, [&](long px, long py) {
            switch (band) {
            case Band::Left:
                return px < o ? rising[px] : value;
            case Band::Right:
                return px >= f.width - o ? falling[px - (f.width - o)] : value;
            case Band::Top:
                return py < o ? rising[py] : value;
            default:
                return py >= f.height - o ? falling[py - (f.height - o)] : value;
            }
        });
    }
}

} // namespace

TEST(BlendingKernels, BandRampsOfEachSampleType) {
    using u8 = unsigned char;
    using u16 = unsigned short;
    expectRamps<u8>(8, 255, {0, 85, 170, 255}); // truncated, never rounded to nearest
    expectRamps<u8>(8, 255, {0, 127, 255});
    expectRamps<u8>(8, 255, {0, 255}); // overlap 2: the outer pixel 0, the inner kept
    expectRamps<u16>(16, 65535, {0, 21845, 43690, 65535});
    expectRamps<u16>(12, 4095, {0, 1365, 2730, 4095});
    expectRamps<float>(32, 1.0f, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}); // fractions kept
    expectRamps<float>(32, -2.0f, {-0.0f, -1.0f, -2.0f});           // negative samples weighted alike
}

TEST(BlendingKernels, BandsThatMeetAreWeightedTwiceFirstBandFirst) {
    // Height 3 with overlap 2 from both sides: the outer rows become 0, the middle one is weighted by 1
    // twice.
    Frame<unsigned char> rows(4, 3, 1, 0, 200);
    Zan::blendingY(rows.data(), 8, rows.lineSize(), 4, 3, 1, 2, true, true);
    expectFrame(rows, [](long, long y) { return static_cast<unsigned char>(y == 1 ? 200 : 0); });

    // Width 4 with overlap 3: left 0, 0.5, 1; then right 1, 0.5, 0 from pixel 1 on, each truncated.
    Frame<unsigned char> columns(4, 2, 1, 1, 255);
    Zan::blendingX(columns.data(), 8, columns.lineSize(), 4, 2, 1, 3, true, true);
    const unsigned char expected[] = {0, 127, 127, 0};
    expectFrame(columns, [&](long x, long) { return expected[x]; });
}

TEST(BlendingKernels, NoWeightedBandLeavesTheFrameAlone) {
    const auto unchanged = [](long, long) { return static_cast<unsigned short>(999); };
    for (long overlap : {0L, 1L, 20L}) { // without a weighted band no overlap is refused
        Frame<unsigned short> f(5, 4, 3, 2, 999);
        Zan::blendingX(f.data(), 16, f.lineSize(), 5, 4, 3, overlap, false, false);
        Zan::blendingY(f.data(), 16, f.lineSize(), 5, 4, 3, overlap, false, false);
        expectFrame(f, unchanged);
    }
    Frame<unsigned short> f(5, 4, 3, 2, 999);
    Zan::blendingX(f.data(), 16, f.lineSize(), 5, 4, 3, 0, true, true);
    Zan::blendingY(f.data(), 16, f.lineSize(), 5, 4, 3, 0, true, true);
    expectFrame(f, unchanged);
}

TEST(BlendingKernels, MultiplicationScalesWholeLinesAndSaturates) {
    // Every sample of a line is scaled, its padding included.
    Frame<unsigned char> bytes(3, 2, 1, 1, 255, 255);
    Zan::multipication(bytes.data(), 8, bytes.lineSize(), 2, 0.5f);
    expectFrame(
        bytes, [](long, long) { return static_cast<unsigned char>(127); }, static_cast<unsigned char>(127));

    Frame<float> floats(3, 2, 2, 0, -2.0f);
    Zan::multipication(floats.data(), 32, floats.lineSize(), 2, 0.5f);
    expectFrame(floats, [](long, long) { return -1.0f; });

    // Only the lines asked for.
    Frame<unsigned short> words(2, 3, 1, 0, 1000);
    Zan::multipication(words.data(), 16, words.lineSize(), 2, 0.25f);
    expectFrame(words, [](long, long y) { return static_cast<unsigned short>(y < 2 ? 250 : 1000); });

    // Factors outside [0, 1] saturate at the sample's range instead of wrapping.
    struct Case {
        float factor;
        unsigned char byteResult;
        unsigned short wordResult;
    };
    for (const Case& c : {Case{2.0f, 255, 65535}, Case{-1.0f, 0, 0}, Case{std::nanf(""), 0, 0},
                          Case{std::numeric_limits<float>::infinity(), 255, 65535}}) {
        SCOPED_TRACE(c.factor);
        Frame<unsigned char> b(2, 1, 1, 0, 200);
        Zan::multipication(b.data(), 8, b.lineSize(), 1, c.factor);
        expectFrame(b, [&](long, long) { return c.byteResult; });
        Frame<unsigned short> w(2, 1, 1, 0, 40000);
        Zan::multipication(w.data(), 16, w.lineSize(), 1, c.factor);
        expectFrame(w, [&](long, long) { return c.wordResult; });
    }
}

TEST(BlendingKernels, BitDepthSelectsTheSampleType) {
    // Four bytes 0xFF scaled by one half read as bytes, as 16-bit or as one float sample.
    const auto scaledBytes = [](long bits) {
        alignas(4) unsigned char b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        Zan::multipication(b, bits, 4, 1, 0.5f);
        return std::vector<unsigned char>(b, b + 4);
    };
    const std::vector<unsigned char> asBytes = {0x7F, 0x7F, 0x7F, 0x7F};
    const std::vector<unsigned char> asWords = {0xFF, 0x7F, 0xFF, 0x7F}; // 65535 / 2 = 0x7FFF, little-endian
    for (long bits : {0L, 1L, 8L})
        EXPECT_EQ(scaledBytes(bits), asBytes) << bits;
    for (long bits : {9L, 16L})
        EXPECT_EQ(scaledBytes(bits), asWords) << bits;
    for (long bits : {17L, 32L}) {
        alignas(4) float f = 3.0f;
        Zan::multipication(&f, bits, 4, 1, 0.5f);
        EXPECT_EQ(f, 1.5f) << bits;
    }

    // More than 32 bits: refused before the buffer is touched.
    alignas(8) unsigned char b[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    const std::vector<unsigned char> before(b, b + 8);
    ZAN_EXPECT_THROW_MSG(Zan::multipication(b, 33, 8, 1, 0.0f), std::logic_error,
                         "multipication: unsupported bitdepth for conversion");
    ZAN_EXPECT_THROW_MSG(Zan::blendingY(b, 64, 8, 1, 1, 1, 0, true, true), std::logic_error,
                         "blendingY: unsupported bitdepth for conversion");
    ZAN_EXPECT_THROW_MSG(Zan::blendingX(b, 33, 8, 1, 1, 1, 0, true, true), std::logic_error,
                         "blendingX: unsupported bitdepth for conversion");
    EXPECT_EQ(std::vector<unsigned char>(b, b + 8), before);
}

TEST(BlendingKernels, RefusesArgumentsThatLeaveTheFrameOrGiveNoRamp) {
    // A 4 x 3 frame of 2 components, 16-bit, rows of 8 samples (16 bytes); each call must throw
    // std::invalid_argument and leave every byte as it was.
    alignas(8) unsigned char storage[3 * 16 + 8];
    unsigned char* frame = storage;
    using Call = std::function<void()>;
    struct Case {
        const char* what;
        Call call;
    };
    const Case cases[] = {
        {"left band of overlap 1", [&] { Zan::blendingX(frame, 16, 16, 4, 3, 2, 1, true, false); }},
        {"bottom band of overlap 1", [&] { Zan::blendingY(frame, 16, 16, 4, 3, 2, 1, false, true); }},
        {"band wider than the frame", [&] { Zan::blendingX(frame, 16, 16, 4, 3, 2, 5, false, true); }},
        {"band taller than the frame", [&] { Zan::blendingY(frame, 16, 16, 4, 3, 2, 4, true, false); }},
        {"negative width", [&] { Zan::blendingX(frame, 16, 16, -4, 3, 2, 2, true, false); }},
        {"negative height", [&] { Zan::blendingY(frame, 16, 16, 4, -3, 2, 2, true, false); }},
        {"negative components", [&] { Zan::blendingX(frame, 16, 16, 4, 3, -2, 2, true, false); }},
        {"negative overlap", [&] { Zan::blendingY(frame, 16, 16, 4, 3, 2, -2, true, true); }},
        {"negative line size", [&] { Zan::blendingX(frame, 16, -16, 4, 3, 2, 2, true, false); }},
        {"rows wider than the line", [&] { Zan::blendingY(frame, 16, 14, 4, 3, 2, 2, true, false); }},
        {"pixel count overflows", [&] { Zan::blendingX(frame, 16, 16, LONG_MAX, 3, 2, 2, true, false); }},
        {"line not whole samples", [&] { Zan::blendingX(frame, 32, 6, 1, 3, 1, 0, true, false); }},
        {"misaligned samples", [&] { Zan::blendingY(frame + 1, 16, 16, 4, 3, 2, 2, true, false); }},
        {"no buffer", [&] { Zan::blendingX(nullptr, 16, 16, 4, 3, 2, 2, true, false); }},
        {"negative line count", [&] { Zan::multipication(frame, 8, 16, -1, 0.5f); }},
        {"frame size overflows", [&] { Zan::multipication(frame, 8, 16, LONG_MAX, 0.5f); }},
        {"line of half a sample", [&] { Zan::multipication(frame, 16, 15, 3, 0.5f); }},
        {"no buffer to scale", [&] { Zan::multipication(nullptr, 32, 16, 3, 0.5f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(storage, 0xAB, sizeof storage);
        EXPECT_THROW(c.call(), std::invalid_argument);
        for (unsigned char byte : storage)
            ASSERT_EQ(byte, 0xAB);
    }
    // The bounds themselves are accepted: a band as wide as the frame, an empty frame without a buffer.
    EXPECT_NO_THROW(Zan::blendingX(frame, 16, 16, 4, 3, 2, 4, true, true));
    EXPECT_NO_THROW(Zan::blendingY(frame, 16, 16, 4, 3, 2, 3, true, true));
    EXPECT_NO_THROW(Zan::multipication(nullptr, 16, 16, 0, 0.5f));
}

TEST(BlendingKernels, EveryRowOfALargeFrameIsWeighted) {
    // Enough rows for several workers: each row and each pixel column gets its own weight (the quotient is
    // taken before the product).
    Frame<unsigned short> f(700, 900, 1, 4, 60000);
    Zan::blendingY(f.data(), 16, f.lineSize(), f.width, f.height, 1, 900, true, false);
    expectFrame(f, [](long, long y) { return static_cast<unsigned short>(60000.0 * (y / 899.0)); });

    Frame<unsigned short> g(700, 900, 1, 4, 60000);
    Zan::blendingX(g.data(), 16, g.lineSize(), g.width, g.height, 1, 700, false, true);
    expectFrame(g, [](long x, long) { return static_cast<unsigned short>(60000.0 * ((699 - x) / 699.0)); });
}
