#include <io/detail/PlaneInterleave.h>

#include <io/detail/RowCopy.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#define ZAN_INTERLEAVE_SIMD 1
#endif

namespace Zan::detail {

namespace {

template <typename T>
void interleaveScalar(const char* const* planes, long count, char* out, long first, long width) {
    for (long x = first; x < width; ++x)
        for (long k = 0; k < count; ++k)
            storeSample<T>(out + (x * count + k) * long(sizeof(T)),
                           loadSample<T>(planes[k] + x * long(sizeof(T))));
}

void interleaveScalar(const char* const* planes, long count, char* out, long first, long width,
                      long sampleBytes) {
    if (sampleBytes == 1)
        interleaveScalar<std::uint8_t>(planes, count, out, first, width);
    else if (sampleBytes == 2)
        interleaveScalar<std::uint16_t>(planes, count, out, first, width);
    else
        interleaveScalar<std::uint32_t>(planes, count, out, first, width);
}

#ifdef ZAN_INTERLEAVE_SIMD

// Unpacking of samples of S bytes (SSE2, part of every x86-64).
template <int S>
__m128i unpackLow(__m128i a, __m128i b) {
    if constexpr (S == 1)
        return _mm_unpacklo_epi8(a, b);
    else if constexpr (S == 2)
        return _mm_unpacklo_epi16(a, b);
    else if constexpr (S == 4)
        return _mm_unpacklo_epi32(a, b);
    else
        return _mm_unpacklo_epi64(a, b);
}

template <int S>
__m128i unpackHigh(__m128i a, __m128i b) {
    if constexpr (S == 1)
        return _mm_unpackhi_epi8(a, b);
    else if constexpr (S == 2)
        return _mm_unpackhi_epi16(a, b);
    else if constexpr (S == 4)
        return _mm_unpackhi_epi32(a, b);
    else
        return _mm_unpackhi_epi64(a, b);
}

inline __m128i load(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Stores that bypass the cache need 16-byte alignment; rows that lack it take ordinary stores.
inline void store(char* p, __m128i v, bool stream) {
    if (stream)
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int S>
void interleave2(const char* const* in, char* out, long blocks, bool stream) {
    for (long b = 0; b < blocks; ++b, out += 32) {
        const __m128i a = load(in[0] + b * 16), c = load(in[1] + b * 16);
        store(out, unpackLow<S>(a, c), stream);
        store(out + 16, unpackHigh<S>(a, c), stream);
    }
}

template <int S>
void interleave4(const char* const* in, char* out, long blocks, bool stream) {
    for (long b = 0; b < blocks; ++b, out += 64) {
        const __m128i p0 = load(in[0] + b * 16), p1 = load(in[1] + b * 16), p2 = load(in[2] + b * 16),
                      p3 = load(in[3] + b * 16);
        const __m128i low01 = unpackLow<S>(p0, p1), high01 = unpackHigh<S>(p0, p1);
        const __m128i low23 = unpackLow<S>(p2, p3), high23 = unpackHigh<S>(p2, p3);
        store(out, unpackLow<2 * S>(low01, low23), stream);
        store(out + 16, unpackHigh<2 * S>(low01, low23), stream);
        store(out + 32, unpackLow<2 * S>(high01, high23), stream);
        store(out + 48, unpackHigh<2 * S>(high01, high23), stream);
    }
}

// Three planes: in a block of three output vectors every sample of a plane has a lane of its own (3 and the
// lanes per vector share no factor), so one shuffle per plane puts all of its samples in place and masks
// pick each output vector's share.
struct ThreeWay {
    std::array<std::array<std::uint8_t, 16>, 3> shuffle{};
    std::array<std::array<std::array<std::uint8_t, 16>, 3>, 3> select{}; // [output][plane]
    explicit ThreeWay(long sampleBytes) {
        const long lanes = 16 / sampleBytes;
        for (long q = 0; q < 3; ++q)
            for (long k = 0; k < lanes; ++k) {
                const long at = 3 * k + q, lane = at % lanes, output = at / lanes;
                for (long byte = 0; byte < sampleBytes; ++byte) {
                    shuffle[q][lane * sampleBytes + byte] = static_cast<std::uint8_t>(k * sampleBytes + byte);
                    select[output][q][lane * sampleBytes + byte] = 0xFF;
                }
            }
    }
};

inline __m128i tableOf(const std::array<std::uint8_t, 16>& bytes) {
    return load(reinterpret_cast<const char*>(bytes.data()));
}

inline __m128i pick(__m128i p0, __m128i p1, __m128i p2, __m128i m0, __m128i m1, __m128i m2) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(p0, m0), _mm_and_si128(p1, m1)), _mm_and_si128(p2, m2));
}

// Loops over planes and outputs are written out: kept as loops, the vectors would live on the stack.
__attribute__((target("ssse3"))) void interleave3(const char* const* in, char* out, long blocks, bool stream,
                                                  const ThreeWay& t) {
    const __m128i shuffle0 = tableOf(t.shuffle[0]), shuffle1 = tableOf(t.shuffle[1]),
                  shuffle2 = tableOf(t.shuffle[2]);
    const __m128i s00 = tableOf(t.select[0][0]), s01 = tableOf(t.select[0][1]), s02 = tableOf(t.select[0][2]);
    const __m128i s10 = tableOf(t.select[1][0]), s11 = tableOf(t.select[1][1]), s12 = tableOf(t.select[1][2]);
    const __m128i s20 = tableOf(t.select[2][0]), s21 = tableOf(t.select[2][1]), s22 = tableOf(t.select[2][2]);
    const char *in0 = in[0], *in1 = in[1], *in2 = in[2];
    for (long b = 0; b < blocks; ++b, out += 48) {
        const __m128i p0 = _mm_shuffle_epi8(load(in0 + b * 16), shuffle0);
        const __m128i p1 = _mm_shuffle_epi8(load(in1 + b * 16), shuffle1);
        const __m128i p2 = _mm_shuffle_epi8(load(in2 + b * 16), shuffle2);
        store(out, pick(p0, p1, p2, s00, s01, s02), stream);
        store(out + 16, pick(p0, p1, p2, s10, s11, s12), stream);
        store(out + 32, pick(p0, p1, p2, s20, s21, s22), stream);
    }
}

// The same in 32-byte vectors: each 16-byte half makes one block of three, which a lane exchange puts in
// order.
__attribute__((target("avx2"), always_inline)) inline __m256i
wideTable(const std::array<std::uint8_t, 16>& bytes) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data())));
}

__attribute__((target("avx2"), always_inline)) inline __m256i wideLoad(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"), always_inline)) inline void wideStore(char* p, __m256i v, bool stream) {
    if (stream)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

__attribute__((target("avx2"))) long interleave3Wide(const char* const* in, char* out, long blocks,
                                                     bool stream, const ThreeWay& t) {
    const __m256i shuffle0 = wideTable(t.shuffle[0]), shuffle1 = wideTable(t.shuffle[1]),
                  shuffle2 = wideTable(t.shuffle[2]);
    const __m256i take10 = wideTable(t.select[0][1]), take20 = wideTable(t.select[0][2]);
    const __m256i take11 = wideTable(t.select[1][1]), take21 = wideTable(t.select[1][2]);
    const __m256i take12 = wideTable(t.select[2][1]), take22 = wideTable(t.select[2][2]);
    const bool aligned = stream && reinterpret_cast<std::uintptr_t>(out) % 32 == 0;
    const char *in0 = in[0], *in1 = in[1], *in2 = in[2];
    const long pairs = blocks / 2;
    for (long b = 0; b < pairs; ++b, out += 96) {
        const __m256i p0 = _mm256_shuffle_epi8(wideLoad(in0 + b * 32), shuffle0);
        const __m256i p1 = _mm256_shuffle_epi8(wideLoad(in1 + b * 32), shuffle1);
        const __m256i p2 = _mm256_shuffle_epi8(wideLoad(in2 + b * 32), shuffle2);
        const __m256i v0 = _mm256_blendv_epi8(_mm256_blendv_epi8(p0, p1, take10), p2, take20);
        const __m256i v1 = _mm256_blendv_epi8(_mm256_blendv_epi8(p0, p1, take11), p2, take21);
        const __m256i v2 = _mm256_blendv_epi8(_mm256_blendv_epi8(p0, p1, take12), p2, take22);
        wideStore(out, _mm256_permute2x128_si256(v0, v1, 0x20), aligned);
        wideStore(out + 32, _mm256_permute2x128_si256(v2, v0, 0x30), aligned);
        wideStore(out + 64, _mm256_permute2x128_si256(v1, v2, 0x31), aligned);
    }
    return pairs * 2;
}

bool hasSsse3() {
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}

bool hasAvx2() {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}

template <int S>
bool interleaveRowSimd(const char* const* in, long count, char* out, long blocks, bool stream) {
    switch (count) {
    case 2:
        interleave2<S>(in, out, blocks, stream);
        return true;
    case 3: {
        if (!hasSsse3())
            return false;
        static const ThreeWay tables(S);
        long done = 0;
        if (hasAvx2())
            done = interleave3Wide(in, out, blocks, stream, tables);
        const char* rest[3] = {in[0] + done * 16, in[1] + done * 16, in[2] + done * 16};
        interleave3(rest, out + done * 48, blocks - done, stream, tables);
        return true;
    }
    case 4:
        interleave4<S>(in, out, blocks, stream);
        return true;
    default:
        return false;
    }
}

#endif

} // namespace

void interleavePlanes(const char* const* planes, long count, long srcStride, char* dst, long dstStride,
                      long width, long rows, long sampleBytes, bool streaming) {
    std::vector<const char*> lines(static_cast<size_t>(count));
    const long lanes = 16 / sampleBytes, blocks = width / lanes;
    for (long r = 0; r < rows; ++r) {
        for (long k = 0; k < count; ++k)
            lines[k] = planes[k] + r * srcStride;
        char* out = dst + r * dstStride;
        long done = 0;
#ifdef ZAN_INTERLEAVE_SIMD
        const bool stream = streaming && reinterpret_cast<std::uintptr_t>(out) % 16 == 0;
        const bool simd = sampleBytes == 1   ? interleaveRowSimd<1>(lines.data(), count, out, blocks, stream)
                          : sampleBytes == 2 ? interleaveRowSimd<2>(lines.data(), count, out, blocks, stream)
                                             : interleaveRowSimd<4>(lines.data(), count, out, blocks, stream);
        if (simd)
            done = blocks * lanes;
#endif
        interleaveScalar(lines.data(), count, out, done, width, sampleBytes);
    }
#ifdef ZAN_INTERLEAVE_SIMD
    if (streaming)
        _mm_sfence();
#endif
}

} // namespace Zan::detail
