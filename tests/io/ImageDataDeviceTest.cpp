// The image-data device's own state, its helpers, its errors, and the behaviours that the read-path table
// does not show: interpretation order, masking, downsampling picks, access order, abort.

#include <support/ImageDataTestDevices.h>

#include <io/Exception.h>

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;
using Zan::Rectangle;
using Points = std::vector<IoImageDataDevice::Coordinates>;

namespace {

template <typename E, typename F>
std::string errorOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other exception: ") + e.what();
    }
    return "no error";
}

Geometry gray(long width, long height, long bitsUsed, long bitsStored, long planes = 1, long components = 1) {
    return {"test", width, height, bitsUsed, bitsStored, components, planes};
}

std::unique_ptr<TestImageDevice> openDevice(const Geometry& g, const Layout& layout = {},
                                            IoImageDataDevice::OpenMode mode = IoImageDataDevice::Read) {
    auto device = std::make_unique<TestImageDevice>(g, layout);
    device->open(mode);
    return device;
}

} // namespace

TEST(ImageDataDevice, StartsClosedWithDefaultPropertiesAndNoAbortFlag) {
    TestImageDevice device(gray(4, 4, 8, 8), {});
    EXPECT_EQ(device.openMode(), IoImageDataDevice::NotOpen);
    EXPECT_EQ(device.abortFlag(), nullptr);
    EXPECT_EQ(device.propertyInt(IoImageDataDevice::Reserved), 0);
    EXPECT_EQ(device.propertyInt(IoImageDataDevice::Threads), -1);
    EXPECT_EQ(device.propertyInt(IoImageDataDevice::StopOnError), 0);
    EXPECT_EQ(
        errorOf<std::logic_error>([&] { device.propertyInt(static_cast<IoImageDataDevice::Property>(4)); }),
        "IoImageDataDevice::propertyInt: no such property");
    device.setPropertyInt(IoImageDataDevice::Threads, 3);
    EXPECT_EQ(device.propertyInt(IoImageDataDevice::Threads), 3);
}

TEST(ImageDataDevice, OpenKeepsEveryBitAndCloseTwiceFails) {
    TestImageDevice device(gray(4, 4, 8, 8), {});
    EXPECT_TRUE(device.open(0x15));
    EXPECT_EQ(device.openMode(), 0x15u);
    device.close();
    EXPECT_EQ(device.openMode(), IoImageDataDevice::NotOpen);
    EXPECT_EQ(errorOf<std::logic_error>([&] { device.close(); }), "IoImageDataDevice::close: already closed");
}

TEST(ImageDataDevice, SizeHelpers) {
    TestImageDevice device(gray(3, 2, 8, 8, 2), {});
    const std::pair<long, long> bytes[] = {{1, 1},  {8, 1},  {9, 2},  {12, 2}, {16, 2}, {17, 4},
                                           {24, 4}, {32, 4}, {33, 8}, {64, 8}, {65, 0}};
    for (auto [bits, expected] : bytes)
        EXPECT_EQ(device.bytesPerComponent(bits), expected) << bits;
    EXPECT_EQ(device.channels(), 2);
    EXPECT_EQ(device.packedLineSize(4), 8); // 6 rounded up
    EXPECT_EQ(device.packedLineSize(1), 6);
    EXPECT_EQ(device.align(5, 4), 8);
    EXPECT_EQ(device.align(8, 4), 8);
    // An alignment below 1 counts as 1 instead of dividing by zero.
    EXPECT_EQ(device.align(5, 0), 5);
    EXPECT_EQ(device.align(5, -3), 5);
    EXPECT_EQ(device.packedLineSize(0), 6);
    // Sizes from a file that cannot be rounded up are refused instead of wrapping around.
    const long huge = std::numeric_limits<long>::max() - 2;
    EXPECT_EQ(errorOf<std::runtime_error>([&] { device.align(huge, 8); }),
              "IoImageDataDevice: line size out of range (" + std::to_string(huge) + " aligned to 8)");
    EXPECT_EQ(device.align(huge, 1), huge);
}

TEST(ImageDataDevice, Fix16bitOverflowMaskOnlyBetween9And15UsedBits) {
    const std::pair<long, unsigned short> masked[] = {{9, 0x01FF}, {12, 0x0FFF}, {14, 0x3FFF}, {15, 0x7FFF}};
    for (auto [bits, expected] : masked) {
        TestImageDevice device(gray(2, 2, bits, 16), {});
        unsigned short mask = 0;
        EXPECT_TRUE(device.shouldFix16bitDataOverflow(&mask));
        EXPECT_EQ(mask, expected) << bits;
        EXPECT_TRUE(device.shouldFix16bitDataOverflow(nullptr));
    }
    for (long bits : {8L, 16L}) {
        TestImageDevice device(gray(2, 2, bits, 16), {});
        unsigned short mask = 0x1234;
        EXPECT_FALSE(device.shouldFix16bitDataOverflow(&mask));
        EXPECT_EQ(mask, 0x1234);
    }
}

// Planes hold 10, 20, 30 (and 40) at every pixel; packed pixels must come out in the interpretation's order,
// always a permutation of the planes, and planar blocks always in plane order.
TEST(ImageDataDevice, InterpretationOrdersPackedComponentsButNotPlanarBlocks) {
    struct Case {
        long planes;
        int interpretation;
        std::vector<int> packed;
    };
    const Case cases[] = {
        {3, IoImageDataDevice::Plain, {10, 20, 30}},
        {3, IoImageDataDevice::Colour, {30, 20, 10}},
        {4, IoImageDataDevice::ColourAlpha, {40, 30, 20, 10}},
        // Reversal only where the reversed index names a plane: no sample lands outside the pixel.
        {2, IoImageDataDevice::Colour, {10, 20}},
        {4, IoImageDataDevice::Colour, {30, 20, 10, 40}},
        {3, IoImageDataDevice::ColourAlpha, {10, 30, 20}},
        {3, 7, {10, 20, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.planes << " planes, interpretation " << c.interpretation);
        Geometry g = gray(2, 2, 8, 8, c.planes);
        g.interpretation = c.interpretation;
        for (Storage storage : {Storage::Memory, Storage::Striped}) {
            auto device = openDevice(g, {storage});
            device->fill([](long p, long, long, long) { return 10 * (p + 1); });
            std::vector<unsigned char> packed(2 * 2 * c.planes + 1, 0xA5);
            device->packedImage(packed.data(), 2 * c.planes);
            std::vector<unsigned char> pixels(1 * c.planes + 1, 0xA5);
            device->packedPixels({{1, 1}}, pixels.data(), c.planes);
            std::vector<unsigned char> scaled(1 * c.planes + 1, 0xA5);
            device->packedDownsampledRect(1, 1, 0, 0, 1, 1, scaled.data(), c.planes);
            for (long k = 0; k < c.planes; ++k) {
                EXPECT_EQ(packed[k], c.packed[k]) << k;
                EXPECT_EQ(packed[3 * c.planes + k], c.packed[k]) << k;
                EXPECT_EQ(pixels[k], c.packed[k]) << k;
                EXPECT_EQ(scaled[k], c.packed[k]) << k;
            }
            EXPECT_EQ(packed.back(), 0xA5);
            std::vector<unsigned char> planar(2 * 2 * c.planes);
            device->planarImage(planar.data(), 2);
            for (long k = 0; k < c.planes; ++k)
                EXPECT_EQ(planar[k * 4], 10 * (k + 1));
        }
    }
}

TEST(ImageDataDevice, FloatCopiesConvertUnsignedValuesAndKeepFloats) {
    auto bytes = openDevice(gray(2, 1, 8, 8));
    bytes->setSample(0, 0, 0, 0, 0);
    bytes->setSample(0, 1, 0, 0, 255);
    float out[2] = {-1, -1};
    bytes->packedImageToFloat(out, sizeof out);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 255.0f); // no normalisation

    // 32 used bits of unsigned samples are values to convert, not floats to copy.
    auto wide = openDevice(gray(1, 1, 32, 32));
    wide->setSample(0, 0, 0, 0, 3000000000u);
    wide->packedImageToFloat(out, sizeof(float));
    EXPECT_EQ(out[0], 3e9f);
    wide->packedImageRectToFloat(out, sizeof(float), {0, 0, 1, 1});
    EXPECT_EQ(out[0], 3e9f);

    Geometry g = gray(1, 1, 32, 32);
    g.format = IoImageDataDevice::FloatingPoint;
    auto floats = openDevice(g);
    floats->setSample(0, 0, 0, 0, std::bit_cast<std::uint32_t>(-2.5f));
    floats->packedImageToFloat(out, sizeof(float));
    EXPECT_EQ(out[0], -2.5f);
}

TEST(ImageDataDevice, SinglePlaneCopiesHandTheCallersBufferToTheFormat) {
    auto device = openDevice(gray(5, 3, 16, 16), {}, IoImageDataDevice::Read | IoImageDataDevice::Write);
    std::vector<char> buffer(3 * 16);
    device->packedImage(buffer.data(), 16);
    EXPECT_EQ(device->lastBuffer, buffer.data());
    EXPECT_EQ(device->lastStride, 16);
    device->packedImageRect(buffer.data() + 2, 12, {1, 1, 4, 2});
    EXPECT_EQ(device->lastBuffer, buffer.data() + 2);
    EXPECT_EQ(device->lastStride, 12);
    device->setPackedImage(buffer.data() + 4, 14);
    EXPECT_EQ(device->lastBuffer, buffer.data() + 4);
    EXPECT_EQ(device->planeReads, 1);
    EXPECT_EQ(device->rectReads, 1);
}

// 12 used bits in 16-bit storage with stray high bits: only the in-memory downsampled read clears them.
TEST(ImageDataDevice, TwelveBitMaskAppliesToTheInMemoryDownsampledReadOnly) {
    const Geometry g = gray(4, 2, 12, 16);
    for (Storage storage : {Storage::Memory, Storage::Striped, Storage::Tiled}) {
        SCOPED_TRACE(storageName(storage));
        auto device = openDevice(g, {storage, 1, 2, 2});
        device->fill([](long, long x, long y, long) { return 0xF000 | (x + 4 * y); });
        std::uint16_t scaled[8] = {};
        device->readCurrentDownsampledRect(4, 2, 0, 0, 4, 2, scaled, 8);
        std::uint16_t pixels[2] = {};
        device->readCurrentPixels({{1, 0}, {3, 1}}, pixels, sizeof pixels);
        std::uint16_t raw[8] = {};
        device->packedImage(raw, 8);
        const std::uint16_t high = storage == Storage::Memory ? 0 : 0xF000;
        for (long i = 0; i < 8; ++i) {
            EXPECT_EQ(scaled[i], high | i) << i;
            EXPECT_EQ(raw[i], 0xF000 | i) << i;
        }
        EXPECT_EQ(pixels[0], 0xF000 | 1);
        EXPECT_EQ(pixels[1], 0xF000 | 7);
    }
}

// 1000 x 1000 read as 100 x 100: output pixel (j, i) is source pixel (10 j + 5, 10 i + 5) on every access,
// and strips and tiles are read only when the next sampled pixel needs another one.
TEST(ImageDataDevice, DownsamplingPicksTheCentredSourcePixelOnEveryAccess) {
    struct Case {
        const char* name;
        Layout layout;
        long stripReads, tileReads;
    };
    const Case cases[] = {
        {"memory", {Storage::Memory}, 0, 0},
        {"striped", {Storage::Striped, 16}, 63, 0},         // rows 5, 15, ... 995 lie in 63 strips
        {"tile band", {Storage::Tiled, 1, 64, 64}, 0, 256}, // 16 tile rows of a 16-tile band
        {"tile per pixel", {Storage::Tiled, 1, 8, 8}, 0, 10000},
    };
    const Geometry g = {"xy", 1000, 1000, 16, 16, 2, 1};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = openDevice(g, c.layout);
        device->fill([](long, long x, long y, long k) { return k == 0 ? x : y; });
        std::vector<std::uint16_t> out(100 * 100 * 2);
        device->readCurrentDownsampledRect(100, 100, 0, 0, 100, 100, out.data(), 100 * 4);
        long wrong = 0;
        for (long i = 0; i < 100; ++i)
            for (long j = 0; j < 100; ++j)
                wrong += out[(i * 100 + j) * 2] != 10 * j + 5 || out[(i * 100 + j) * 2 + 1] != 10 * i + 5;
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(device->stripReads, c.stripReads);
        EXPECT_EQ(device->tileReads, c.tileReads);
    }
}

TEST(ImageDataDevice, OneToOneDownsamplingCopiesTheFrame) {
    auto device = openDevice(gray(7, 5, 8, 8), {Storage::Tiled, 1, 4, 4});
    device->fill([](long, long x, long y, long) { return x + 10 * y; });
    unsigned char out[35];
    device->readCurrentDownsampledRect(7, 5, 0, 0, 7, 5, out, 7);
    for (long i = 0; i < 35; ++i)
        EXPECT_EQ(out[i], i % 7 + 10 * (i / 7));
}

// Results keep the caller's slots; the reads go row by row, so points in one strip share its single read.
TEST(ImageDataDevice, ScatteredPixelsKeepTheirSlotsAndAreReadRowByRow) {
    auto device = openDevice(gray(10, 10, 16, 16), {Storage::Striped, 1});
    device->fill([](long, long x, long y, long) { return 100 * y + x; });
    std::vector<long> stripsRead;
    device->beforeRead = [&] { stripsRead.push_back(device->currentStrip()); };
    std::uint16_t out[3] = {};
    device->readCurrentPixels({{5, 9}, {2, 1}, {7, 1}}, out, sizeof out);
    EXPECT_EQ(out[0], 905);
    EXPECT_EQ(out[1], 102);
    EXPECT_EQ(out[2], 107);
    EXPECT_EQ(stripsRead, (std::vector<long>{1, 9}));
}

// A strip cache holds no more rows than the frame, however many rows per strip the format reports.
TEST(ImageDataDevice, StripCacheIsBoundedByTheFrameHeight) {
    auto device = openDevice(gray(6, 4, 8, 8), {Storage::Striped, 1L << 40});
    device->fill([](long, long x, long y, long) { return 10 * y + x; });
    unsigned char scaled[24];
    device->readCurrentDownsampledRect(6, 4, 0, 0, 6, 4, scaled, 6);
    EXPECT_EQ(scaled[23], 35);
    unsigned char pixel = 0;
    device->readCurrentPixels({{4, 2}}, &pixel, 1);
    EXPECT_EQ(pixel, 24);
    EXPECT_EQ(device->stripReads, 2);
}

TEST(ImageDataDevice, AbortFlagStopsLongReadsOnEveryAccess) {
    const Geometry g = gray(40, 40, 8, 8);
    const Layout layouts[] = {{Storage::Memory}, {Storage::Striped, 4}, {Storage::Tiled, 1, 8, 8}};
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(storageName(layout.storage));
        auto device = openDevice(g, layout);
        device->setPropertyInt(IoImageDataDevice::Threads, 4);
        bool abort = false;
        device->setAbortFlag(&abort);
        std::vector<unsigned char> out(40 * 40);
        device->readCurrentDownsampledRect(20, 20, 0, 0, 20, 20, out.data(), 20);
        abort = true;
        EXPECT_THROW(device->readCurrentDownsampledRect(20, 20, 0, 0, 20, 20, out.data(), 20),
                     Zan::Exception::Aborted);
        EXPECT_THROW(device->readCurrentPixels({{1, 1}, {30, 30}}, out.data(), 2), Zan::Exception::Aborted);
        EXPECT_THROW(device->packedDownsampledRect(20, 20, 0, 0, 20, 20, out.data(), 20),
                     Zan::Exception::Aborted);
        EXPECT_THROW(device->planarPixels({{1, 1}}, out.data(), 1), Zan::Exception::Aborted);
        device->setAbortFlag(nullptr);
        device->readCurrentPixels({{1, 1}}, out.data(), 1);
    }
}

// The flag belongs to the caller and may be set from another thread while a read runs.
TEST(ImageDataDevice, AbortFlagSetByAnotherThreadIsSeen) {
    auto device = openDevice(gray(8, 64, 8, 8), {Storage::Striped, 1});
    bool abort = false;
    device->setAbortFlag(&abort);
    device->beforeRead = [&] { std::thread([&] { std::atomic_ref<bool>(abort).store(true); }).join(); };
    std::vector<unsigned char> out(64 * 8);
    EXPECT_THROW(device->readCurrentDownsampledRect(8, 64, 0, 0, 8, 64, out.data(), 8),
                 Zan::Exception::Aborted);
    EXPECT_EQ(device->stripReads, 1);
}

TEST(ImageDataDevice, ErrorMessages) {
    const Geometry single = gray(10, 8, 16, 16), triple = gray(10, 8, 16, 16, 3);
    Geometry interleaved64 = gray(4, 4, 64, 64, 1, 3), float16 = gray(4, 4, 16, 16);
    float16.format = IoImageDataDevice::FloatingPoint;
    auto readOnly = openDevice(single, {Storage::Memory});
    auto writeOnly = openDevice(single, {Storage::Memory}, IoImageDataDevice::Write);
    auto planes = openDevice(triple, {Storage::Memory});
    auto planes64 = openDevice(gray(4, 4, 64, 64, 2), {Storage::Memory},
                               IoImageDataDevice::Read | IoImageDataDevice::Write);
    auto wide = openDevice(interleaved64, {Storage::Memory});
    auto half = openDevice(float16, {Storage::Memory});
    std::vector<char> buffer(4096);
    char* b = buffer.data();
    float* f = reinterpret_cast<float*>(b);
    const Points ten(10, {1, 1});
    const std::string readImage = "IoImageDataDevice::readImage: not readible";
    const std::string wrongSize = "IoImageDataDevice::readCurrentDownsampledRect: wrong dst size";
    const std::string tooSmall = "IoImageDataDevice::readCurrentPixels: size too small";
    struct Case {
        const char* what;
        std::function<void()> call;
        std::string message;
    };
    const Case logic[] = {
        {"packedImage", [&] { writeOnly->packedImage(b, 20); }, readImage},
        {"packedImageToFloat", [&] { writeOnly->packedImageToFloat(f, 40); }, readImage},
        {"packedImageRect",
         [&] {
             writeOnly->packedImageRect(b, 20, {0, 0, 1, 1});
         },
         readImage},
        {"packedImageRectToFloat",
         [&] {
             writeOnly->packedImageRectToFloat(f, 40, {0, 0, 1, 1});
         },
         readImage},
        {"planarImage", [&] { writeOnly->planarImage(b, 20); }, readImage},
        {"setPackedImage", [&] { readOnly->setPackedImage(b, 20); },
         "IoImageDataDevice::readImage: not writable"},
        {"readCurrentDownsampledRect", [&] { writeOnly->readCurrentDownsampledRect(1, 1, 0, 0, 1, 1, b, 2); },
         "IoImageDataDevice::readCurrentDownsampledRect: not readible"},
        {"packedDownsampledRect", [&] { writeOnly->packedDownsampledRect(1, 1, 0, 0, 1, 1, b, 2); },
         "IoImageDataDevice::packedDownsampledRect: not readible"},
        {"planarDownsampledRect", [&] { writeOnly->planarDownsampledRect(1, 1, 0, 0, 1, 1, b, 2); },
         "IoImageDataDevice::planarDownsampledRect: not readible"},
        {"readCurrentPixels", [&] { writeOnly->readCurrentPixels({}, b, 0); },
         "IoImageDataDevice::readCurrentPixels: not readible"},
        {"packedPixels", [&] { writeOnly->packedPixels({}, b, 0); },
         "IoImageDataDevice::packedPixels: not readible"},
        {"planarPixels", [&] { writeOnly->planarPixels({}, b, 0); },
         "IoImageDataDevice::planarPixels: not readible"},
        {"rect of planes",
         [&] {
             planes->packedImageRect(b, 20, {0, 0, 1, 1});
         },
         "IoImageDataDevice::packedImageRect: not implemented for multiple plane images"},
        {"float rect of planes",
         [&] {
             planes->packedImageRectToFloat(f, 40, {0, 0, 1, 1});
         },
         "IoImageDataDevice::packedImageRect: not implemented for multiple plane images"},
        // Samples wider than 32 bits: the copies name their routine, the scaled reads refuse instead of
        // returning an untouched buffer.
        {"packed 64-bit planes", [&] { planes64->packedImage(b, 64); },
         "copyPlaneToComponent: unsupported bitdepth for conversion"},
        {"float of 64-bit planes", [&] { planes64->packedImageToFloat(f, 64); },
         "copyPlaneToComponent: unsupported bitdepth for conversion"},
        {"set 64-bit planes", [&] { planes64->setPackedImage(b, 64); },
         "copyComponentToPlane: unsupported bitdepth for conversion"},
        {"planar 64-bit components", [&] { wide->planarImage(b, 32); },
         "copyComponentToPlane: unsupported bitdepth for conversion"},
        {"packed pixels of 64-bit planes",
         [&] {
             planes64->packedPixels({{0, 0}}, b, 16);
         },
         "copyPlaneToComponent: unsupported bitdepth for conversion"},
        {"planar pixels of 64-bit components",
         [&] {
             wide->planarPixels({{0, 0}}, b, 24);
         },
         "copyComponentToPlane: unsupported bitdepth for conversion"},
        {"downsampled 64-bit", [&] { wide->readCurrentDownsampledRect(1, 1, 0, 0, 1, 1, b, 24); },
         "IoImageDataDevice::readCurrentDownsampledRect: unsupported bitdepth 64"},
        {"pixels 64-bit",
         [&] {
             wide->readCurrentPixels({{0, 0}}, b, 24);
         },
         "IoImageDataDevice::readCurrentPixels: unsupported bitdepth 64"},
        {"half floats", [&] { half->packedImageToFloat(f, 16); },
         "IoImageDataDevice::packedImageToFloat: unsupported floating-point bitdepth 16"},
        {"half float rect",
         [&] {
             half->packedImageRectToFloat(f, 16, {0, 0, 1, 1});
         },
         "IoImageDataDevice::packedImageRectToFloat: unsupported floating-point bitdepth 16"},
    };
    for (const Case& c : logic)
        EXPECT_EQ(errorOf<std::logic_error>(c.call), c.message) << c.what;

    const Case arguments[] = {
        {"dstW above width", [&] { readOnly->readCurrentDownsampledRect(11, 8, 0, 0, 1, 1, b, 2); },
         wrongSize},
        {"dstH above height", [&] { readOnly->readCurrentDownsampledRect(10, 9, 0, 0, 1, 1, b, 2); },
         wrongSize},
        {"x + w beyond dstW", [&] { readOnly->readCurrentDownsampledRect(5, 4, 1, 0, 5, 1, b, 10); },
         wrongSize},
        {"y + h beyond dstH", [&] { readOnly->readCurrentDownsampledRect(5, 4, 0, 2, 1, 3, b, 10); },
         wrongSize},
        // Below 1 or negative: refused instead of dividing by zero or writing before dst.
        {"dstW 0", [&] { readOnly->readCurrentDownsampledRect(0, 4, 0, 0, 0, 1, b, 10); }, wrongSize},
        {"dstH 0", [&] { readOnly->readCurrentDownsampledRect(5, 0, 0, 0, 1, 0, b, 10); }, wrongSize},
        {"x negative", [&] { readOnly->readCurrentDownsampledRect(5, 4, -1, 0, 2, 1, b, 10); }, wrongSize},
        {"h negative", [&] { readOnly->readCurrentDownsampledRect(5, 4, 0, 0, 2, -1, b, 10); }, wrongSize},
        {"packed, wrong size", [&] { planes->packedDownsampledRect(0, 4, 0, 0, 0, 1, b, 10); }, wrongSize},
        {"planar, wrong size", [&] { wide->planarDownsampledRect(5, 4, 0, 0, 1, 1, b, 10); }, wrongSize},
        {"ten 2-byte pixels in 19 bytes", [&] { readOnly->readCurrentPixels(ten, b, 19); }, tooSmall},
        {"packed pixels", [&] { planes->packedPixels(ten, b, 59); },
         "IoImageDataDevice::packedPixels: size too small"},
        {"planar pixels", [&] { planes->planarPixels(ten, b, 59); },
         "IoImageDataDevice::planarPixels: size too small"},
        {"point right of the frame",
         [&] {
             readOnly->readCurrentPixels({{10, 0}}, b, 2);
         },
         "IoImageDataDevice::readCurrentPixels: point (10, 0) outside the frame 10 x 8"},
        {"point above the frame",
         [&] {
             planes->packedPixels({{0, 0}, {3, -1}}, b, 12);
         },
         "IoImageDataDevice::readCurrentPixels: point (3, -1) outside the frame 10 x 8"},
        {"rect beyond the frame",
         [&] {
             readOnly->packedImageRect(b, 20, {5, 0, 6, 1});
         },
         "IoImageDataDevice::packedImageRect: rectangle (5, 0, 6, 1) outside the frame 10 x 8"},
        {"rect before the frame",
         [&] {
             readOnly->packedImageRectToFloat(f, 40, {0, -1, 1, 1});
         },
         "IoImageDataDevice::packedImageRectToFloat: rectangle (0, -1, 1, 1) outside the frame 10 x 8"},
    };
    for (const Case& c : arguments)
        EXPECT_EQ(errorOf<std::invalid_argument>(c.call), c.message) << c.what;

    std::vector<char> exact(20, 'x');
    readOnly->readCurrentPixels(ten, exact.data(), 20);
    EXPECT_NE(exact[19], 'x');
    // Nothing was read for any refused call.
    EXPECT_EQ(readOnly->rectReads, 0);
}

TEST(ImageDataDevice, BadStripAndTileSizesFromTheFormatAreRefused) {
    const Layout layouts[] = {{Storage::Striped, 0}, {Storage::Tiled, 1, 0, 8}, {Storage::Tiled, 1, 8, -2}};
    const char* messages[] = {"rows per strip 0 below 1", "tile width 0 below 1", "tile height -2 below 1"};
    for (int i = 0; i < 3; ++i) {
        auto device = openDevice(gray(8, 8, 8, 8), layouts[i]);
        unsigned char out[64];
        EXPECT_EQ(errorOf<std::runtime_error>(
                      [&] { device->readCurrentDownsampledRect(8, 8, 0, 0, 8, 8, out, 8); }),
                  std::string("IoImageDataDevice::readCurrentDownsampledRect: ") + messages[i]);
        EXPECT_EQ(errorOf<std::runtime_error>([&] {
                      device->readCurrentPixels({{1, 1}}, out, 1);
                  }),
                  std::string("IoImageDataDevice::readCurrentPixels: ") + messages[i]);
    }
}
