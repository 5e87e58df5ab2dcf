#pragma once

// The read paths of the image-data device as one table over every frame device: every packed, planar, float,
// rectangle, downsampled and scattered-pixel read is run on the device and compared, byte for byte and with a
// canary behind the buffer, with what a plain model of the layouts computes from the frame's samples. A new
// frame device gets the whole table by joining FrameDevice, writing a frame of one of
// readPathGeometries(device) (the samples of patternSample, say) and calling expectReadPathsMatch on it.

#include <support/ImageDataTestDevices.h>

#include <io/IoImageDataDevice.h>
#include <io/Rectangle.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

using Sample = std::uint64_t;
using Points = std::vector<Zan::IoImageDataDevice::Coordinates>;

// What the frame holds: its geometry and the stored sample of (plane, x, y, component), as the bits of an
// integer or of a 32-bit float.
struct FrameModel {
    Geometry geometry;
    std::function<Sample(long plane, long x, long y, long component)> sample;
};

// 37 x 23 does not divide into 8 x 8 tiles or 5-row strips; alignment 4 pads most lines.
inline const std::vector<Geometry>& readPathGeometries() {
    static const std::vector<Geometry> geometries = {
        {"gray8", 37, 23, 8, 8, 1, 1},
        {"gray12in16", 37, 23, 12, 16, 1, 1},
        {"gray8in16", 37, 23, 8, 16, 1, 1},
        {"uint32", 37, 23, 32, 32, 1, 1},
        {"float32_2planes", 37, 23, 32, 32, 1, 2, 4, Zan::IoImageDataDevice::Plain,
         Zan::IoImageDataDevice::FloatingPoint},
        {"rgb8_interleaved_colour", 37, 23, 8, 8, 3, 1, 4, Zan::IoImageDataDevice::Colour},
        {"rgb12_interleaved", 37, 23, 12, 16, 3, 1},
        {"rgb16_planar_plain", 37, 23, 16, 16, 1, 3},
        {"rgb12in16_planar", 37, 23, 12, 16, 1, 3},
        {"rgb8_planar_colour", 37, 23, 8, 8, 1, 3, 1, Zan::IoImageDataDevice::Colour},
        {"two_planes_colour", 37, 23, 8, 8, 1, 2, 4, Zan::IoImageDataDevice::Colour},
        {"four_planes_colouralpha", 37, 23, 16, 16, 1, 4, 8, Zan::IoImageDataDevice::ColourAlpha},
        {"two_planes_of_rgb8", 37, 23, 8, 8, 3, 2},
    };
    return geometries;
}

// Every implementation of the image-data device that the table runs over.
enum class FrameDevice {
    Test,    // the in-memory test devices (tests/io): whole plane, strips, tiles, plane reads only
    Native,  // the native frame device (tests/qpx): raw mapped, raw positioned, compressed
    Tiff,    // the TIFF frame device, of plain and private-tag files (tests/tiff)
    JsonSet, // the JSON-set frame devices over one TIFF per frame or per component (tests/jsonset)
};

// Where a frame device differs from the others on purpose: the one place that says so.
struct DeviceDifferences {
    // The std::logic_error that rectangle reads of a single-plane frame throw; empty where they work.
    std::string rectError;
    // A frame holds a single plane (of interleaved components); the geometries of several are left out.
    bool singlePlane = false;
    // A frame of several planes is one file per component: planes of one plain component each, or a single
    // plane of interleaved components; the geometries of other layouts are left out.
    bool planesAreComponentFiles = false;
};

inline DeviceDifferences differencesOf(FrameDevice device) {
    switch (device) {
    case FrameDevice::Test:
        return {};
    case FrameDevice::Native:
        return {{}, true};
    case FrameDevice::Tiff:
        // libtiff reads whole strips, tiles or images; the device offers no rectangles of them.
        return {"TifFileDevice::ImageData::readCurrentPlane: not implemented", false};
    case FrameDevice::JsonSet:
        // Its frames are TIFF frames, so it has no rectangles either; a frame of several component files
        // presents one plane per file, each of the plain interpretation its TIFF file gives.
        return {"JsonFileDevice::ImageData::readCurrentPlane: not implemented", false, true};
    }
    return {};
}

// The geometries of readPathGeometries() that the device can hold.
inline std::vector<Geometry> readPathGeometries(FrameDevice device) {
    std::vector<Geometry> out;
    const DeviceDifferences differences = differencesOf(device);
    for (const Geometry& g : readPathGeometries())
        if (g.planes == 1 || (!differences.singlePlane && !differences.planesAreComponentFiles) ||
            (differences.planesAreComponentFiles && g.components == 1 &&
             g.interpretation == Zan::IoImageDataDevice::Plain))
            out.push_back(g);
    return out;
}

struct Downsample {
    long dstW, dstH, x, y, w, h;
};

// The cases below need frames of at least 37 x 23 pixels.
// One to one; steps of 3 (tile band); a sub-rectangle; steps of 9 and 11, above the tile size (one tile per
// sampled pixel); a sub-rectangle of that.
inline std::vector<Downsample> downsampleCases(const Geometry& g) {
    return {{g.width, g.height, 0, 0, g.width, g.height},
            {10, 7, 0, 0, 10, 7},
            {10, 7, 2, 1, 6, 5},
            {4, 2, 0, 0, 4, 2},
            {4, 2, 1, 1, 3, 1}};
}

// The whole frame, an inner rectangle, the last pixel and a band of whole columns.
inline std::vector<Zan::Rectangle> rectangleCases(const Geometry& g) {
    return {
        {0, 0, g.width, g.height}, {3, 4, 10, 6}, {g.width - 1, g.height - 1, 1, 1}, {8, 0, 16, g.height}};
}

// Unsorted, with a repeat, the corners and points in several strips and tiles.
inline Points pointCases(const Geometry& g) {
    const long r = g.width - 1, b = g.height - 1;
    return {{5, 9}, {2, 1}, {7, 1}, {0, 0}, {r, b}, {5, 9}, {20, 15}, {r, 0}, {0, b}, {17, 8}};
}

inline long bytesOf(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
}

inline Sample patternSample(const Geometry& g, long p, long x, long y, long c) {
    if (g.format == Zan::IoImageDataDevice::FloatingPoint)
        return std::bit_cast<std::uint32_t>(static_cast<float>(x) + 0.25f * y + 100.0f * p + 1000.0f * c);
    const Sample v = x * 7 + y * 131 + p * 1009 + c * 17 + 3;
    return g.bitsUsed >= 64 ? v : v & ((Sample(1) << g.bitsUsed) - 1);
}

// The packed component of plane p: reversed for the colour interpretations where that names a plane.
inline long packedComponent(const Geometry& g, long p) {
    const long r = g.interpretation == 1 ? 2 - p : g.interpretation == 2 ? 3 - p : p;
    return r >= 0 && r < g.planes ? r : p;
}

inline void put(char* at, Sample v, long bytes) {
    std::memcpy(at, &v, static_cast<size_t>(bytes));
}

inline void putFloat(char* at, const Geometry& g, Sample v) {
    const float f = g.format == Zan::IoImageDataDevice::FloatingPoint
                        ? std::bit_cast<float>(static_cast<std::uint32_t>(v))
                        : static_cast<float>(v);
    std::memcpy(at, &f, sizeof f);
}

inline long sourceColumn(const Geometry& g, const Downsample& d, long j) {
    return g.width * (d.x + j) / d.dstW + (g.width / d.dstW) / 2;
}
inline long sourceRow(const Geometry& g, const Downsample& d, long i) {
    return g.height * (d.y + i) / d.dstH + (g.height / d.dstH) / 2;
}

struct ReadPath {
    std::string name;
    long bytes;
    std::function<void(Zan::IoImageDataDevice&, char*)> run;
    // Writes the expected bytes into a buffer that holds the sentinel everywhere.
    std::function<void(const FrameModel&, char*)> expect;
    // Downsampled and scattered reads need memory, strips or tiles; without them dst stays untouched.
    bool needsRandomAccess = false;
    std::string error;
};

// rectError as in DeviceDifferences.
inline std::vector<ReadPath> readPaths(const Geometry& g, const std::string& rectError = {}) {
    const std::vector<Downsample> kDownsamples = downsampleCases(g);
    const std::vector<Zan::Rectangle> kRects = rectangleCases(g);
    const Points kPoints = pointCases(g);
    const long S = bytesOf(g.bitsStored), cpp = g.components, P = g.planes, C = cpp * P, W = g.width,
               H = g.height, ps = S * cpp;
    const long last = P - 1;
    std::vector<ReadPath> paths;
    auto add = [&](std::string name, long bytes, std::function<void(Zan::IoImageDataDevice&, char*)> run,
                   std::function<void(const FrameModel&, char*)> expect, bool needsRandomAccess = false,
                   std::string error = {}) {
        paths.push_back(
            {std::move(name), bytes, std::move(run), std::move(expect), needsRandomAccess, std::move(error)});
    };

    const long packedStride = W * S * C + 5;
    add(
        "packedImage", H * packedStride,
        [=](Zan::IoImageDataDevice& d, char* b) { d.packedImage(b, packedStride); },
        [=](const FrameModel& d, char* b) {
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
        [=](Zan::IoImageDataDevice& d, char* b) { d.planarImage(b, planarStride); },
        [=](const FrameModel& d, char* b) {
            for (long p = 0; p < P; ++p)
                for (long k = 0; k < cpp; ++k)
                    for (long y = 0; y < H; ++y)
                        for (long x = 0; x < W; ++x)
                            put(b + ((p * cpp + k) * H + y) * planarStride + x * S, d.sample(p, x, y, k), S);
        });

    const long floatStride = W * C * 4 + 8;
    add(
        "packedImageToFloat", H * floatStride,
        [=](Zan::IoImageDataDevice& d, char* b) {
            d.packedImageToFloat(reinterpret_cast<float*>(b), floatStride);
        },
        [=](const FrameModel& d, char* b) {
            for (long y = 0; y < H; ++y)
                for (long x = 0; x < W; ++x)
                    for (long p = 0; p < P; ++p)
                        for (long k = 0; k < cpp; ++k)
                            putFloat(b + y * floatStride + (x * C + packedComponent(g, p) * cpp + k) * 4, g,
                                     d.sample(p, x, y, k));
        });

    const std::string multiPlane =
        "IoImageDataDevice::packedImageRect: not implemented for multiple plane images";
    for (const Zan::Rectangle& r : kRects) {
        const std::string at = "(" + std::to_string(r.x) + "," + std::to_string(r.y) + "," +
                               std::to_string(r.width) + "," + std::to_string(r.height) + ")";
        const long stride = r.width * ps + 5, fstride = r.width * cpp * 4 + 8;
        add(
            "packedImageRect" + at, r.height * stride,
            [=](Zan::IoImageDataDevice& d, char* b) { d.packedImageRect(b, stride, r); },
            [=](const FrameModel& d, char* b) {
                for (long i = 0; i < r.height; ++i)
                    for (long j = 0; j < r.width; ++j)
                        for (long k = 0; k < cpp; ++k)
                            put(b + i * stride + (j * cpp + k) * S, d.sample(0, r.x + j, r.y + i, k), S);
            },
            false, P == 1 ? rectError : multiPlane);
        add(
            "packedImageRectToFloat" + at, r.height * fstride,
            [=](Zan::IoImageDataDevice& d, char* b) {
                d.packedImageRectToFloat(reinterpret_cast<float*>(b), fstride, r);
            },
            [=](const FrameModel& d, char* b) {
                for (long i = 0; i < r.height; ++i)
                    for (long j = 0; j < r.width; ++j)
                        for (long k = 0; k < cpp; ++k)
                            putFloat(b + i * fstride + (j * cpp + k) * 4, g,
                                     d.sample(0, r.x + j, r.y + i, k));
            },
            false, P == 1 ? rectError : multiPlane);
    }

    for (const Downsample& s : kDownsamples) {
        const std::string at = "(" + std::to_string(s.dstW) + "x" + std::to_string(s.dstH) + "," +
                               std::to_string(s.x) + "," + std::to_string(s.y) + "," + std::to_string(s.w) +
                               "," + std::to_string(s.h) + ")";
        // Calls every sampled pixel's samples: f(j, i, plane, component, value).
        auto eachSampled = [=](const FrameModel& d,
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
            [=](Zan::IoImageDataDevice& d, char* b) {
                d.setCurrentPlane(last);
                d.readCurrentDownsampledRect(s.dstW, s.dstH, s.x, s.y, s.w, s.h, b, one);
            },
            [=](const FrameModel& d, char* b) {
                eachSampled(d, [&](long j, long i, long p, long k, Sample v) {
                    if (p == last)
                        put(b + i * one + (j * cpp + k) * S, v, S);
                });
            },
            true);
        add(
            "packedDownsampledRect" + at, s.h * packed,
            [=](Zan::IoImageDataDevice& d, char* b) {
                d.packedDownsampledRect(s.dstW, s.dstH, s.x, s.y, s.w, s.h, b, packed);
            },
            [=](const FrameModel& d, char* b) {
                eachSampled(d, [&](long j, long i, long p, long k, Sample v) {
                    put(b + i * packed + (j * C + packedComponent(g, p) * cpp + k) * S, v, S);
                });
            },
            true);
        add(
            "planarDownsampledRect" + at, C * H * planar,
            [=](Zan::IoImageDataDevice& d, char* b) {
                d.planarDownsampledRect(s.dstW, s.dstH, s.x, s.y, s.w, s.h, b, planar);
            },
            [=](const FrameModel& d, char* b) {
                eachSampled(d, [&](long j, long i, long p, long k, Sample v) {
                    put(b + ((p * cpp + k) * H + i) * planar + j * S, v, S);
                });
            },
            true);
    }

    const long n = static_cast<long>(kPoints.size());
    add(
        "readCurrentPixels", n * ps,
        [=](Zan::IoImageDataDevice& d, char* b) {
            d.setCurrentPlane(last);
            d.readCurrentPixels(kPoints, b, n * ps);
        },
        [=](const FrameModel& d, char* b) {
            for (long q = 0; q < n; ++q)
                for (long k = 0; k < cpp; ++k)
                    put(b + (q * cpp + k) * S, d.sample(last, kPoints[q].x, kPoints[q].y, k), S);
        },
        true);
    add(
        "packedPixels", n * S * C,
        [=](Zan::IoImageDataDevice& d, char* b) { d.packedPixels(kPoints, b, n * S * C); },
        [=](const FrameModel& d, char* b) {
            for (long q = 0; q < n; ++q)
                for (long p = 0; p < P; ++p)
                    for (long k = 0; k < cpp; ++k)
                        put(b + (q * C + packedComponent(g, p) * cpp + k) * S,
                            d.sample(p, kPoints[q].x, kPoints[q].y, k), S);
        },
        true);
    add(
        "planarPixels", n * S * C,
        [=](Zan::IoImageDataDevice& d, char* b) { d.planarPixels(kPoints, b, n * S * C); },
        [=](const FrameModel& d, char* b) {
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

// Runs every read path (or those that select takes) on the open device, an implementation of kind, and
// reports each mismatch as a test failure. A device whose planes are neither in memory, striped nor tiled
// must leave the destination of the downsampled and scattered reads untouched.
inline void expectReadPathsMatch(Zan::IoImageDataDevice& device, const FrameModel& model, FrameDevice kind,
                                 const std::function<bool(const ReadPath&)>& select = {}) {
    const bool randomAccess =
        device.memoryMappedPlane() || device.isStriped(nullptr) || device.isTiled(nullptr, nullptr);
    for (const ReadPath& path : readPaths(model.geometry, differencesOf(kind).rectError)) {
        if (select && !select(path))
            continue;
        SCOPED_TRACE(path.name);
        // The canary past the end catches writes beyond the buffer in every build.
        std::vector<char> actual(static_cast<size_t>(path.bytes) + kCanary, kSentinel);
        std::vector<char> expected = actual;
        if (!path.error.empty()) {
            try {
                path.run(device, actual.data());
                ADD_FAILURE() << "no error";
            } catch (const std::logic_error& e) {
                EXPECT_EQ(e.what(), path.error);
            }
        } else {
            path.run(device, actual.data());
            if (!path.needsRandomAccess || randomAccess)
                path.expect(model, expected.data());
        }
        EXPECT_TRUE(actual == expected);
    }
}

} // namespace ZanTest
