// Every read path of the image-data device, on every kind of test device, against one table of expected
// pixels computed from the stored samples by a plain model of each layout.

#include "io/ImageDataTestDevices.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;
using Zan::Rectangle;
using Sample = TestImageDevice::Sample;
using Points = std::vector<IoImageDataDevice::Coordinates>;

namespace ZanTest {
void PrintTo(const Geometry& g, std::ostream* os) {
    *os << g.name;
}
} // namespace ZanTest

namespace {

// 37 x 23 does not divide into the 8 x 8 tiles or the 5-row strips; alignment 4 pads most lines.
const Geometry kGeometries[] = {
    {"gray8", 37, 23, 8, 8, 1, 1},
    {"gray12in16", 37, 23, 12, 16, 1, 1},
    {"gray8in16", 37, 23, 8, 16, 1, 1},
    {"uint32", 37, 23, 32, 32, 1, 1},
    {"float32_2planes", 37, 23, 32, 32, 1, 2, 4, IoImageDataDevice::Plain, IoImageDataDevice::FloatingPoint},
    {"rgb8_interleaved_colour", 37, 23, 8, 8, 3, 1, 4, IoImageDataDevice::Colour},
    {"rgb12_interleaved", 37, 23, 12, 16, 3, 1},
    {"rgb16_planar_plain", 37, 23, 16, 16, 1, 3},
    {"rgb12in16_planar", 37, 23, 12, 16, 1, 3},
    {"rgb8_planar_colour", 37, 23, 8, 8, 1, 3, 1, IoImageDataDevice::Colour},
    {"two_planes_colour", 37, 23, 8, 8, 1, 2, 4, IoImageDataDevice::Colour},
    {"four_planes_colouralpha", 37, 23, 16, 16, 1, 4, 8, IoImageDataDevice::ColourAlpha},
    {"two_planes_of_rgb8", 37, 23, 8, 8, 3, 2},
};

struct Kind {
    const char* name;
    Layout layout;
    int threads;
};

const Kind kKinds[] = {
    {"memory", {Storage::Memory}, -1},         {"memory_1thread", {Storage::Memory}, 1},
    {"memory_4threads", {Storage::Memory}, 4}, {"striped", {Storage::Striped, 5}, -1},
    {"tiled", {Storage::Tiled, 5, 8, 8}, -1},  {"neither", {Storage::Neither}, -1},
};

void PrintTo(const Kind& k, std::ostream* os) {
    *os << k.name;
}

struct Downsample {
    long dstW, dstH, x, y, w, h;
};
// One to one; steps of 3 (tile band); a sub-rectangle; steps of 9 and 11, above the tile size (one tile per
// sampled pixel); a sub-rectangle of that.
const Downsample kDownsamples[] = {
    {37, 23, 0, 0, 37, 23}, {10, 7, 0, 0, 10, 7}, {10, 7, 2, 1, 6, 5}, {4, 2, 0, 0, 4, 2}, {4, 2, 1, 1, 3, 1},
};

const Rectangle kRects[] = {{0, 0, 37, 23}, {3, 4, 10, 6}, {36, 22, 1, 1}, {8, 0, 16, 23}};

// Unsorted, with a repeat, the corners and points in several strips and tiles.
const Points kPoints = {{5, 9}, {2, 1},   {7, 1},  {0, 0},  {36, 22},
                        {5, 9}, {20, 15}, {36, 0}, {0, 22}, {17, 8}};

long bytesOf(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
}

Sample valueOf(const Geometry& g, long p, long x, long y, long c) {
    if (g.format == IoImageDataDevice::FloatingPoint)
        return std::bit_cast<std::uint32_t>(static_cast<float>(x) + 0.25f * y + 100.0f * p + 1000.0f * c);
    const Sample v = x * 7 + y * 131 + p * 1009 + c * 17 + 3;
    return g.bitsUsed >= 64 ? v : v & ((Sample(1) << g.bitsUsed) - 1);
}

// The packed component of plane p: reversed for the colour interpretations where that names a plane.
long packedComponent(const Geometry& g, long p) {
    const long r = g.interpretation == 1 ? 2 - p : g.interpretation == 2 ? 3 - p : p;
    return r >= 0 && r < g.planes ? r : p;
}

void put(char* at, Sample v, long bytes) {
    std::memcpy(at, &v, static_cast<size_t>(bytes));
}

void putFloat(char* at, const Geometry& g, Sample v) {
    const float f = g.format == IoImageDataDevice::FloatingPoint
                        ? std::bit_cast<float>(static_cast<std::uint32_t>(v))
                        : static_cast<float>(v);
    std::memcpy(at, &f, sizeof f);
}

long sourceColumn(const Geometry& g, const Downsample& d, long j) {
    return g.width * (d.x + j) / d.dstW + (g.width / d.dstW) / 2;
}
long sourceRow(const Geometry& g, const Downsample& d, long i) {
    return g.height * (d.y + i) / d.dstH + (g.height / d.dstH) / 2;
}

struct ReadPath {
    std::string name;
    long bytes;
    std::function<void(TestImageDevice&, char*)> run;
    // Writes the expected bytes into a buffer that holds the sentinel everywhere.
    std::function<void(const TestImageDevice&, char*)> expect;
    // Downsampled and scattered reads need memory, strips or tiles; without them dst stays untouched.
    bool needsRandomAccess = false;
    std::string error;
};

std::vector<ReadPath> readPaths(const Geometry& g) {
    const long S = bytesOf(g.bitsStored), cpp = g.components, P = g.planes, C = cpp * P, W = g.width,
               H = g.height, ps = S * cpp;
    const long last = P - 1;
    std::vector<ReadPath> paths;
    auto add = [&](std::string name, long bytes, std::function<void(TestImageDevice&, char*)> run,
                   std::function<void(const TestImageDevice&, char*)> expect, bool needsRandomAccess = false,
                   std::string error = {}) {
        paths.push_back(
            {std::move(name), bytes, std::move(run), std::move(expect), needsRandomAccess, std::move(error)});
    };

    const long packedStride = W * S * C + 5;
    add(
        "packedImage", H * packedStride, [=](TestImageDevice& d, char* b) { d.packedImage(b, packedStride); },
        [=](const TestImageDevice& d, char* b) {
            for (long y = 0; y < H; ++y)
                for (long x = 0; x < W; ++x)
                    for (long p = 0; p < P; ++p)
                        for (long k = 0; k < cpp; ++k)
                            put(b + y * packedStride + (x * C + packedComponent(g, p) * cpp + k) * S,
                                d.sample(p, x, y, k), S);
        });

    const long planarStride = W * S + 3;
    add(
        "planarImage", C * H * planarStride,
        [=](TestImageDevice& d, char* b) { d.planarImage(b, planarStride); },
        [=](const TestImageDevice& d, char* b) {
            for (long p = 0; p < P; ++p)
                for (long k = 0; k < cpp; ++k)
                    for (long y = 0; y < H; ++y)
                        for (long x = 0; x < W; ++x)
                            put(b + ((p * cpp + k) * H + y) * planarStride + x * S, d.sample(p, x, y, k), S);
        });

    const long floatStride = W * C * 4 + 8;
    add(
        "packedImageToFloat", H * floatStride,
        [=](TestImageDevice& d, char* b) { d.packedImageToFloat(reinterpret_cast<float*>(b), floatStride); },
        [=](const TestImageDevice& d, char* b) {
            for (long y = 0; y < H; ++y)
                for (long x = 0; x < W; ++x)
                    for (long p = 0; p < P; ++p)
                        for (long k = 0; k < cpp; ++k)
                            putFloat(b + y * floatStride + (x * C + packedComponent(g, p) * cpp + k) * 4, g,
                                     d.sample(p, x, y, k));
        });

    const std::string multiPlane =
        "IoImageDataDevice::packedImageRect: not implemented for multiple plane images";
    for (const Rectangle& r : kRects) {
        const std::string at = "(" + std::to_string(r.x) + "," + std::to_string(r.y) + "," +
                               std::to_string(r.width) + "," + std::to_string(r.height) + ")";
        const long stride = r.width * ps + 5, fstride = r.width * cpp * 4 + 8;
        add(
            "packedImageRect" + at, r.height * stride,
            [=](TestImageDevice& d, char* b) { d.packedImageRect(b, stride, r); },
            [=](const TestImageDevice& d, char* b) {
                for (long i = 0; i < r.height; ++i)
                    for (long j = 0; j < r.width; ++j)
                        for (long k = 0; k < cpp; ++k)
                            put(b + i * stride + (j * cpp + k) * S, d.sample(0, r.x + j, r.y + i, k), S);
            },
            false, P == 1 ? "" : multiPlane);
        add(
            "packedImageRectToFloat" + at, r.height * fstride,
            [=](TestImageDevice& d, char* b) {
                d.packedImageRectToFloat(reinterpret_cast<float*>(b), fstride, r);
            },
            [=](const TestImageDevice& d, char* b) {
                for (long i = 0; i < r.height; ++i)
                    for (long j = 0; j < r.width; ++j)
                        for (long k = 0; k < cpp; ++k)
                            putFloat(b + i * fstride + (j * cpp + k) * 4, g,
                                     d.sample(0, r.x + j, r.y + i, k));
            },
            false, P == 1 ? "" : multiPlane);
    }

    for (const Downsample& s : kDownsamples) {
        const std::string at = "(" + std::to_string(s.dstW) + "x" + std::to_string(s.dstH) + "," +
                               std::to_string(s.x) + "," + std::to_string(s.y) + "," + std::to_string(s.w) +
                               "," + std::to_string(s.h) + ")";
        // Calls every sampled pixel's samples: f(j, i, plane, component, value).
        auto eachSampled = [=](const TestImageDevice& d,
                               const std::function<void(long, long, long, long, Sample)>& f) {
            for (long i = 0; i < s.h; ++i)
                for (long j = 0; j < s.w; ++j)
                    for (long p = 0; p < P; ++p)
                        for (long k = 0; k < cpp; ++k)
                            f(j, i, p, k, d.sample(p, sourceColumn(g, s, j), sourceRow(g, s, i), k));
        };
        const long one = s.w * ps + 3, packed = s.w * S * C + 3, planar = s.w * S + 3;
        add(
            "readCurrentDownsampledRect" + at, s.h * one,
            [=](TestImageDevice& d, char* b) {
                d.setCurrentPlane(last);
                d.readCurrentDownsampledRect(s.dstW, s.dstH, s.x, s.y, s.w, s.h, b, one);
            },
            [=](const TestImageDevice& d, char* b) {
                eachSampled(d, [&](long j, long i, long p, long k, Sample v) {
                    if (p == last)
                        put(b + i * one + (j * cpp + k) * S, v, S);
                });
            },
            true);
        add(
            "packedDownsampledRect" + at, s.h * packed,
            [=](TestImageDevice& d, char* b) {
                d.packedDownsampledRect(s.dstW, s.dstH, s.x, s.y, s.w, s.h, b, packed);
            },
            [=](const TestImageDevice& d, char* b) {
                eachSampled(d, [&](long j, long i, long p, long k, Sample v) {
                    put(b + i * packed + (j * C + packedComponent(g, p) * cpp + k) * S, v, S);
                });
            },
            true);
        add(
            "planarDownsampledRect" + at, C * H * planar,
            [=](TestImageDevice& d, char* b) {
                d.planarDownsampledRect(s.dstW, s.dstH, s.x, s.y, s.w, s.h, b, planar);
            },
            [=](const TestImageDevice& d, char* b) {
                eachSampled(d, [&](long j, long i, long p, long k, Sample v) {
                    put(b + ((p * cpp + k) * H + i) * planar + j * S, v, S);
                });
            },
            true);
    }

    const long n = static_cast<long>(kPoints.size());
    add(
        "readCurrentPixels", n * ps,
        [=](TestImageDevice& d, char* b) {
            d.setCurrentPlane(last);
            d.readCurrentPixels(kPoints, b, n * ps);
        },
        [=](const TestImageDevice& d, char* b) {
            for (long q = 0; q < n; ++q)
                for (long k = 0; k < cpp; ++k)
                    put(b + (q * cpp + k) * S, d.sample(last, kPoints[q].x, kPoints[q].y, k), S);
        },
        true);
    add(
        "packedPixels", n * S * C,
        [=](TestImageDevice& d, char* b) { d.packedPixels(kPoints, b, n * S * C); },
        [=](const TestImageDevice& d, char* b) {
            for (long q = 0; q < n; ++q)
                for (long p = 0; p < P; ++p)
                    for (long k = 0; k < cpp; ++k)
                        put(b + (q * C + packedComponent(g, p) * cpp + k) * S,
                            d.sample(p, kPoints[q].x, kPoints[q].y, k), S);
        },
        true);
    add(
        "planarPixels", n * S * C,
        [=](TestImageDevice& d, char* b) { d.planarPixels(kPoints, b, n * S * C); },
        [=](const TestImageDevice& d, char* b) {
            for (long p = 0; p < P; ++p)
                for (long k = 0; k < cpp; ++k)
                    for (long q = 0; q < n; ++q)
                        put(b + ((p * cpp + k) * n + q) * S, d.sample(p, kPoints[q].x, kPoints[q].y, k), S);
        },
        true);
    return paths;
}

constexpr size_t kCanary = 64;
constexpr char kSentinel = static_cast<char>(0xA5);

class ReadPaths : public testing::TestWithParam<std::tuple<Geometry, Kind>> {
protected:
    const Geometry& geometry() const { return std::get<0>(GetParam()); }
    const Kind& kind() const { return std::get<1>(GetParam()); }

    std::unique_ptr<TestImageDevice> makeDevice(bool filled) const {
        auto device = std::make_unique<TestImageDevice>(geometry(), kind().layout);
        if (filled)
            device->fill([&](long p, long x, long y, long c) { return valueOf(geometry(), p, x, y, c); });
        device->setPropertyInt(IoImageDataDevice::Threads, kind().threads);
        return device;
    }
};

TEST_P(ReadPaths, MatchTheModelAndStayInsideTheirBuffers) {
    auto device = makeDevice(true);
    device->open(IoImageDataDevice::Read);
    for (const ReadPath& path : readPaths(geometry())) {
        SCOPED_TRACE(path.name);
        // The canary past the end catches writes beyond the buffer in every build.
        std::vector<char> actual(static_cast<size_t>(path.bytes) + kCanary, kSentinel);
        std::vector<char> expected = actual;
        if (!path.error.empty()) {
            try {
                path.run(*device, actual.data());
                ADD_FAILURE() << "no error";
            } catch (const std::logic_error& e) {
                EXPECT_EQ(e.what(), path.error);
            }
        } else {
            path.run(*device, actual.data());
            if (!(path.needsRandomAccess && kind().layout.storage == Storage::Neither))
                path.expect(*device, expected.data());
        }
        EXPECT_TRUE(actual == expected);
    }
}

TEST_P(ReadPaths, SetPackedImageRoundTripsThroughPackedImage) {
    const auto source = makeDevice(true);
    source->open(IoImageDataDevice::Read);
    const long stride = source->packedLineSize(1) + 7;
    std::vector<char> packed(static_cast<size_t>(stride * geometry().height));
    source->packedImage(packed.data(), stride);

    auto target = makeDevice(false);
    target->open(IoImageDataDevice::Write);
    target->setPackedImage(packed.data(), stride);
    for (long p = 0; p < geometry().planes; ++p)
        for (long y = 0; y < geometry().height; ++y)
            for (long x = 0; x < geometry().width; ++x)
                for (long c = 0; c < geometry().components; ++c)
                    ASSERT_EQ(target->sample(p, x, y, c), source->sample(p, x, y, c))
                        << p << " " << x << " " << y << " " << c;
}

std::string caseName(const testing::TestParamInfo<std::tuple<Geometry, Kind>>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(AllDevices, ReadPaths,
                         testing::Combine(testing::ValuesIn(kGeometries), testing::ValuesIn(kKinds)),
                         caseName);

} // namespace
