// Frame set and add operations of the native device: the sample-wise sum, whole frames and rectangles set
// and summed on raw and compressed files and read back through a new device, the row layouts of the
// rectangle operations, refused sizes, and a failing store of a compressed frame.

#include "QpxFileTestSupport.h"

#include <support/Expect.h>

#include <qpx/detail/QpxFrameWrites.h>

#include <gtest/gtest.h>

#include <io/IoFileDevice.h>
#include <qpx/QpxChunkedDevice.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

using namespace native_test;
using chunked_test::sameBytes;
using chunked_test::TempDir;
using Zan::ByteVector;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::Rectangle;

using namespace std::string_literals;

constexpr IoDevice::OpenMode ReadUpdate = IoDevice::Read | IoDevice::Update;

template <typename T>
Bytes bytesOf(std::initializer_list<T> samples) {
    Bytes out(samples.size() * sizeof(T), '\0');
    std::memcpy(out.data(), std::data(samples), out.size());
    return out;
}

ByteVector vectorOf(const Bytes& bytes) {
    return ByteVector(bytes.begin(), bytes.end());
}

// ---- The sum.

TEST(FrameAddData, SumsSampleBySample) {
    struct Case {
        const char* what;
        long bits, rowBytes, rows;
        Bytes dst, src, expected;
    };
    Bytes ramp8(1003, '\0'), step8(1003, '\0'), sum8(1003, '\0');
    for (int i = 0; i < 1003; ++i) {
        ramp8[i] = static_cast<char>(i * 7);
        step8[i] = static_cast<char>(i * 13);
        sum8[i] = static_cast<char>(i * 20);
    }
    // Two rows of 6 bytes, a float at the start of each, 'x' behind it.
    const auto floatsAt = [](std::initializer_list<float> values) {
        Bytes b(12, 'x');
        std::memcpy(b.data(), std::data(values), 4);
        std::memcpy(b.data() + 6, std::data(values) + 1, 4);
        return b;
    };
    const Case cases[] = {
        {"8-bit wraps", 8, 4, 1, "\x64\xFF\x00\x07"s, "\xC8\x01\x00\xFA"s, "\x2C\x00\x00\x01"s},
        {"1 bit is 8-bit", 1, 2, 2, "\x01\x02\x03\x04"s, "\xFF\xFF\x01\x01"s, "\x00\x01\x04\x05"s},
        {"8-bit, a long run", 8, 1003, 1, ramp8, step8, sum8},
        {"16-bit wraps", 16, 4, 1, bytesOf<std::uint16_t>({0x2000, 0xFFFF}),
         bytesOf<std::uint16_t>({0xF000, 2}), bytesOf<std::uint16_t>({0x1000, 1})},
        {"12 bits are 16-bit", 12, 2, 1, bytesOf<std::uint16_t>({0x0FFF}), bytesOf<std::uint16_t>({0x0FFF}),
         bytesOf<std::uint16_t>({0x1FFE})},
        {"32-bit floats", 32, 8, 1, bytesOf<float>({1.5f, -1.0f}), bytesOf<float>({2.25f, 0.5f}),
         bytesOf<float>({3.75f, -0.5f})},
        {"24 bits are floats", 24, 4, 1, bytesOf<float>({1e30f}), bytesOf<float>({1e30f}),
         bytesOf<float>({2e30f})},
        // Rows of 5 bytes: two samples, the fifth byte left alone; the second row starts at an odd address.
        {"16-bit rows with a spare byte", 16, 5, 2, "\x01\x00\x02\x00\x09\x03\x00\x04\x00\x09"s,
         "\xFF\xFF\x01\x00\x07\x01\x00\x01\x00\x07"s, "\x00\x00\x03\x00\x09\x04\x00\x05\x00\x09"s},
        {"float rows of 6 bytes", 32, 6, 2, floatsAt({1, 2}), floatsAt({10, 20}), floatsAt({11, 22})},
        {"rows shorter than a sample", 32, 3, 2, "abcdef"s, "ABCDEF"s, "abcdef"s},
        {"no rows", 8, 4, 0, "abcd"s, "ABCD"s, "abcd"s},
        {"negative rows", 8, 4, -1, "abcd"s, "ABCD"s, "abcd"s},
        {"negative row size", 8, -4, 1, "abcd"s, "ABCD"s, "abcd"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes dst = c.dst;
        Zan::addData(c.src.data(), dst.data(), c.bits, c.rowBytes, c.rows);
        EXPECT_TRUE(sameBytes(dst, c.expected));
    }
}

TEST(FrameAddData, WiderSamplesAreRefusedBeforeAnythingChanges) {
    for (const long rows : {1L, 0L}) {
        Bytes dst(16, 'd');
        const Bytes src(16, 's');
        ZAN_EXPECT_THROW_MSG(Zan::addData(src.data(), dst.data(), 64, 16, rows), std::logic_error,
                             "copyComponentToplane: unsupported bitdepth for conversion");
        ZAN_EXPECT_THROW_MSG(Zan::addData(src.data(), dst.data(), 33, 16, rows), std::logic_error,
                             "copyComponentToplane: unsupported bitdepth for conversion");
        EXPECT_EQ(dst, Bytes(16, 'd'));
    }
}

// ---- Frames of files.

long pixelBytes(const NativeGeometry& g) {
    return ZanTest::nativeSampleBytes(g.bitsStored) * g.components;
}

// The rectangle r of a plane (rows of the frame's line size) as rows of rowBytes bytes, the bytes behind
// the pixels of each row filled with fill.
Bytes cut(const NativeGeometry& g, const ByteVector& plane, const Rectangle& r, long rowBytes, char fill) {
    const long line = ZanTest::nativeLineBytes(g), pixel = pixelBytes(g);
    Bytes out(static_cast<std::size_t>(rowBytes * r.height), fill);
    for (long i = 0; i < r.height; ++i)
        std::memcpy(out.data() + i * rowBytes, plane.data() + (r.y + i) * line + r.x * pixel,
                    static_cast<std::size_t>(r.width * pixel));
    return out;
}

// Pastes rows of rowBytes bytes into the rectangle r of a plane.
void paste(const NativeGeometry& g, ByteVector& plane, const Rectangle& r, const Bytes& rows, long rowBytes) {
    const long line = ZanTest::nativeLineBytes(g), pixel = pixelBytes(g);
    for (long i = 0; i < r.height; ++i)
        std::memcpy(plane.data() + (r.y + i) * line + r.x * pixel, rows.data() + i * rowBytes,
                    static_cast<std::size_t>(r.width * pixel));
}

long alignedRow(const NativeGeometry& g, long width) {
    return (width * pixelBytes(g) + 3) / 4 * 4;
}

// A plane of g with every sample equal to value (the sample's bits, of its stored size), padding zero.
ByteVector filledPlane(const NativeGeometry& g, std::uint64_t value) {
    const long s = ZanTest::nativeSampleBytes(g.bitsStored), line = ZanTest::nativeLineBytes(g);
    ByteVector plane(static_cast<std::size_t>(line * g.height), 0);
    for (long y = 0; y < g.height; ++y)
        for (long k = 0; k < g.width * g.components; ++k)
            std::memcpy(plane.data() + y * line + k * s, &value, static_cast<std::size_t>(s));
    return plane;
}

Bytes text(const ByteVector& bytes) {
    return Bytes(bytes.data(), bytes.size());
}

// Frame f of a file's bytes, read whole by a new device with rows of the plane's size; padding zero.
Bytes storedFrame(const Bytes& file, unsigned f) {
    QpxFileDevice device(file.size(), file.data());
    EXPECT_TRUE(device.open(IoDevice::Read, 3, nullptr));
    auto frame = device.imageData(f);
    if (!frame->open(IoImageDataDevice::Read))
        return "no frame";
    const long line = frame->packedLineSize(4);
    Bytes out(static_cast<std::size_t>(line * frame->height()), '\0');
    frame->packedImage(out.data(), line);
    return out;
}

// A native file of g with frames frames held in memory, opened for update.
std::unique_ptr<QpxFileDevice> updatable(const NativeGeometry& g, unsigned frames) {
    const Bytes bytes = nativeFileBytes(g, frames);
    auto file = std::make_unique<QpxFileDevice>(bytes.size(), bytes.data());
    EXPECT_TRUE(file->open(ReadUpdate, 3, nullptr));
    return file;
}

// The bytes of a file opened by updatable, after closing it (which stores the chunk map).
Bytes closedBytes(QpxFileDevice& file) {
    file.close();
    return chunked_test::contents(file.chunkedDevice());
}

const NativeGeometry geometries[] = {
    {"gray8", 13, 7, 8, 8, 1},
    {"gray12in16", 13, 7, 12, 16, 1},
    {"float32", 13, 7, 32, 32, 1},
    {"rgb16", 13, 7, 16, 16, 3},
    {"gray8_zlib", 13, 7, 8, 8, 1, true},
    {"gray12in16_zlib", 13, 7, 12, 16, 1, true},
    {"float32_zlib", 13, 7, 32, 32, 1, true},
    {"rgb16_zlib", 13, 7, 16, 16, 3, true},
};

class QpxFrameWrites : public ::testing::TestWithParam<NativeGeometry> {};

// Whole frames and rectangles set, tiles summed into a zeroed frame as the merge does, and frames that
// have no chunk yet, on a file on disk read back by a new device.
TEST_P(QpxFrameWrites, WritesReadBackThroughANewDevice) {
    const NativeGeometry& g = GetParam();
    TempDir dir(std::string("framewrites-") + g.name);
    const auto path = dir / "file.qpx";
    {
        QpxFileDevice file(path.string());
        ZanTest::writeNativeFile(file, g, 3);
    }
    const long line = ZanTest::nativeLineBytes(g);
    std::vector<ByteVector> expected = {ZanTest::nativePlane(g, 7), ZanTest::nativePlane(g, 1),
                                        ZanTest::nativePlane(g, 2), ZanTest::nativePlane(g, 8),
                                        filledPlane(g, 0)};
    {
        QpxFileDevice file(path.string());
        ASSERT_TRUE(file.open(ReadUpdate, 3, nullptr));
        // Frame 0: a whole new frame, from rows whose padding holds garbage.
        ASSERT_TRUE(
            file.setImageData(vectorOf(cut(g, expected[0], {0, 0, g.width, g.height}, line, '\xEE')), 0));
        // Frame 1: tiles of another frame's pixels summed into a zeroed frame; rows of odd widths.
        const ByteVector source = ZanTest::nativePlane(g, 9);
        ASSERT_TRUE(file.setImageData(filledPlane(g, 0), 1));
        for (const Rectangle& r :
             std::initializer_list<Rectangle>{{0, 0, 3, 7}, {3, 0, 10, 4}, {3, 4, 10, 3}}) {
            const long row = r.width * pixelBytes(g);
            ASSERT_TRUE(file.addImageDataRect(vectorOf(cut(g, source, r, row, 0)), 1, r));
        }
        expected[1] = source;
        // Frame 2: a rectangle set; the pixels around it stay, compressed or not.
        const Rectangle r{2, 3, 5, 3};
        const Bytes rows = cut(g, ZanTest::nativePlane(g, 5), r, alignedRow(g, r.width), '\xEE');
        ASSERT_TRUE(file.setImageDataRect(vectorOf(rows), 2, r));
        paste(g, expected[2], r, rows, alignedRow(g, r.width));
        // Frames 3 and 4 have no chunk: an add sets them, a rectangle add from its unrounded rows.
        ASSERT_TRUE(file.addImageData(expected[3], 3));
        const Rectangle s{4, 1, 3, 2};
        const Bytes tight = cut(g, ZanTest::nativePlane(g, 6), s, s.width * pixelBytes(g), 0);
        ASSERT_TRUE(file.addImageDataRect(vectorOf(tight), 4, s));
        paste(g, expected[4], s, tight, s.width * pixelBytes(g));
        file.close();
    }
    const Bytes bytes = chunked_test::readFile(path);
    for (unsigned f = 0; f < expected.size(); ++f) {
        SCOPED_TRACE(f);
        EXPECT_TRUE(sameBytes(storedFrame(bytes, f), text(expected[f])));
    }
}

// Sums wrap in 8 and 16 bits and are float sums in 32 bits, whole frames and rectangles alike.
TEST_P(QpxFrameWrites, SumsOfWholeFramesAndRectangles) {
    const NativeGeometry& g = GetParam();
    struct Sum {
        std::uint64_t stored, added, result;
    };
    const auto bitsOf = [](float v) {
        std::uint32_t b;
        std::memcpy(&b, &v, 4);
        return std::uint64_t{b};
    };
    // 12 significant bits: the sum is stored as it is and masked when read.
    const Sum sum = g.bitsStored == 8  ? Sum{100, 200, 44}
                    : g.bitsUsed == 16 ? Sum{0x2000, 0xF000, 0x1000}
                    : g.bitsUsed == 12 ? Sum{0x0800, 0x0F00, 0x1700}
                                       : Sum{bitsOf(1.5f), bitsOf(2.25f), bitsOf(3.75f)};
    auto file = updatable(g, 2);
    const long line = ZanTest::nativeLineBytes(g);
    for (unsigned f = 0; f < 2; ++f)
        ASSERT_TRUE(file->setImageData(filledPlane(g, sum.stored), f));
    ASSERT_TRUE(file->addImageData(filledPlane(g, sum.added), 0));
    const Rectangle r{1, 2, 5, 4};
    const long row = r.width * pixelBytes(g);
    ASSERT_TRUE(file->addImageDataRect(vectorOf(cut(g, filledPlane(g, sum.added), r, row, 0)), 1, r));
    const Bytes bytes = closedBytes(*file);

    ByteVector inRect = filledPlane(g, sum.stored);
    paste(g, inRect, r, cut(g, filledPlane(g, sum.result), r, line, 0), line);
    const ByteVector whole = filledPlane(g, sum.result);
    const auto masked = [&](ByteVector plane) {
        if (g.bitsUsed == 12)
            for (std::size_t i = 1; i < plane.size(); i += 2)
                plane[i] = static_cast<char>(plane[i] & 0x0F);
        return text(plane);
    };
    EXPECT_TRUE(sameBytes(storedFrame(bytes, 0), masked(whole)));
    EXPECT_TRUE(sameBytes(storedFrame(bytes, 1), masked(inRect)));
}

// An add to a frame without a chunk is the set of the same data, down to every byte of the file.
TEST_P(QpxFrameWrites, AddToAMissingFrameIsASet) {
    const NativeGeometry& g = GetParam();
    const ByteVector plane = ZanTest::nativePlane(g, 4);
    const Rectangle r{1, 1, 4, 3};
    const ByteVector rows = vectorOf(cut(g, plane, r, alignedRow(g, r.width), 0));
    auto set = updatable(g, 1);
    auto add = updatable(g, 1);
    ASSERT_TRUE(set->setImageData(plane, 1));
    ASSERT_TRUE(add->addImageData(plane, 1));
    // A width of 4 pixels has rows that need no rounding: both layouts are the same.
    ASSERT_TRUE(set->setImageDataRect(rows, 2, r));
    ASSERT_TRUE(add->addImageDataRect(rows, 2, r));
    EXPECT_TRUE(sameBytes(closedBytes(*add), closedBytes(*set)));
}

INSTANTIATE_TEST_SUITE_P(All, QpxFrameWrites, ::testing::ValuesIn(geometries),
                         [](const auto& info) { return std::string(info.param.name); });

// A rectangle 3 pixels of one byte wide: the set reads rows of 4 bytes, the add rows of 3; any other
// size is refused and leaves the frame, or the missing chunk, as it was.
TEST(QpxFrameWriteSizes, DataMustHoldExactlyTheRows) {
    for (const bool lossless : {false, true}) {
        SCOPED_TRACE(lossless);
        const NativeGeometry g{"gray8", 7, 5, 8, 8, 1, lossless};
        const Rectangle r{2, 1, 3, 2};
        auto file = updatable(g, 1);
        // Frame 0 as a new device reads it from the file's bytes, the chunk map stored.
        const auto stored = [&] {
            file->close();
            const Bytes frame = storedFrame(chunked_test::contents(file->chunkedDevice()), 0);
            EXPECT_TRUE(file->open(ReadUpdate, 3, nullptr));
            return frame;
        };
        struct Case {
            const char* what;
            bool (QpxFileDevice::*write)(const ByteVector&, unsigned, const Rectangle&);
            std::size_t size;
            bool accepted;
        };
        const Case cases[] = {
            {"set, rows of 4", &QpxFileDevice::setImageDataRect, 8, true},
            {"set, rows of 3", &QpxFileDevice::setImageDataRect, 6, false},
            {"set, a byte short", &QpxFileDevice::setImageDataRect, 7, false},
            {"add, rows of 3", &QpxFileDevice::addImageDataRect, 6, true},
            {"add, rows of 4", &QpxFileDevice::addImageDataRect, 8, false},
            {"add, a byte short", &QpxFileDevice::addImageDataRect, 5, false},
            {"add, a byte more", &QpxFileDevice::addImageDataRect, 7, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            const Bytes before = stored();
            EXPECT_EQ(((*file).*c.write)(ByteVector(c.size, 1), 0, r), c.accepted);
            if (!c.accepted) {
                EXPECT_EQ(stored(), before);
            }
        }
        // Nothing reaches a frame that has no chunk yet, not even a reserved chunk.
        for (const std::size_t size : {6, 7, 9})
            EXPECT_FALSE(file->setImageDataRect(ByteVector(size, 1), 5, r));
        for (const std::size_t size : {5, 7, 8})
            EXPECT_FALSE(file->addImageDataRect(ByteVector(size, 1), 5, r));
        EXPECT_FALSE(file->chunkedDevice().hasChunk("ImageDataSeq|5!", nullptr));
        const long line = ZanTest::nativeLineBytes(g);
        for (const std::size_t size : {line * 5 - 1, line * 5 + 1, 0L}) {
            EXPECT_FALSE(file->setImageData(ByteVector(size, 1), 0));
            EXPECT_FALSE(file->addImageData(ByteVector(size, 1), 0));
            EXPECT_FALSE(file->addImageData(ByteVector(size, 1), 6));
        }
        EXPECT_FALSE(file->chunkedDevice().hasChunk("ImageDataSeq|6!", nullptr));
        // The set wrote 1s into the rectangle (rows of 4 bytes, the fourth byte of each being padding), the
        // add 1 more into each.
        ByteVector want = ZanTest::nativePlane(g, 0);
        for (long y = 1; y < 3; ++y)
            for (long x = 2; x < 5; ++x)
                want[y * line + x] = 2;
        EXPECT_TRUE(sameBytes(storedFrame(closedBytes(*file), 0), text(want)));
    }
}

// The rows of a rectangle added to a frame without a chunk are the add's own, rounded to nothing.
TEST(QpxFrameWriteSizes, AddToAMissingFrameTakesUnroundedRows) {
    for (const bool lossless : {false, true}) {
        SCOPED_TRACE(lossless);
        const NativeGeometry g{"gray8", 6, 3, 8, 8, 1, lossless};
        auto file = updatable(g, 1);
        ASSERT_TRUE(file->addImageDataRect(vectorOf("\x01\x02\x03\x04\x05\x06"s), 1, {1, 1, 3, 2}));
        EXPECT_EQ(storedFrame(closedBytes(*file), 1),
                  Bytes(8, '\0') + "\x00\x01\x02\x03\x00\x00\x00\x00"s + "\x00\x04\x05\x06\x00\x00\x00\x00"s);
    }
}

TEST(QpxFrameWriteSizes, Refusals) {
    const NativeGeometry g{"gray8", 6, 3, 8, 8, 1};
    const Bytes bytes = nativeFileBytes(g, 1);
    QpxFileDevice unbound, file(bytes.size(), bytes.data());
    const ByteVector plane = filledPlane(g, 3);
    for (QpxFileDevice* device : {&unbound, &file}) {
        ZAN_EXPECT_THROW_MSG(device->setImageData(plane, 0), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(device->addImageData(plane, 0), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(device->setImageDataRect(plane, 0, {}), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(device->addImageDataRect(plane, 0, {}), std::logic_error, "device is not open");
    }
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(file.setImageData(plane, 0), std::logic_error, "device is not writable");
    ZAN_EXPECT_THROW_MSG(file.addImageData(plane, 0), std::logic_error, "device is not writable");
    ZAN_EXPECT_THROW_MSG(file.setImageDataRect(plane, 0, {}), std::logic_error, "device is not writable");
    ZAN_EXPECT_THROW_MSG(file.addImageDataRect(plane, 0, {}), std::logic_error, "device is not writable");
    file.close();

    ASSERT_TRUE(file.open(ReadUpdate, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(file.setImageDataRect({}, 0, {0, 0, -1, -4}), std::invalid_argument,
                         "QpxFileDevice::setImageDataRect: rectangle (0, 0, -1, -4) has a negative size");
    ZAN_EXPECT_THROW_MSG(file.addImageDataRect({}, 0, {1, 2, 3, -1}), std::invalid_argument,
                         "QpxFileDevice::addImageDataRect: rectangle (1, 2, 3, -1) has a negative size");
    // An add reads the rectangle first, so it must lie inside the frame.
    EXPECT_THROW(file.addImageDataRect(ByteVector(6, 1), 0, {5, 0, 2, 3}), std::invalid_argument);
    // An empty rectangle writes nothing and succeeds.
    EXPECT_TRUE(file.addImageDataRect({}, 0, {2, 2, 0, 0}));
    EXPECT_TRUE(file.setImageDataRect({}, 0, {2, 2, 0, 5}));
    EXPECT_TRUE(sameBytes(storedFrame(closedBytes(file), 0), text(ZanTest::nativePlane(g, 0))));
}

// A frame without rows has nothing to set or sum, whatever its rows' padding or width: rows of a terabyte
// each are never allocated.
TEST(QpxFrameWriteSizes, FramesWithoutRows) {
    for (const long width : {3L, 1L << 40})
        for (const bool lossless : {false, true}) {
            SCOPED_TRACE(std::to_string(width) + (lossless ? " lossless" : " raw"));
            auto file = updatable({"gray8", width, 0, 8, 8, 1, lossless}, 1);
            EXPECT_TRUE(file->setImageData({}, 0));
            EXPECT_TRUE(file->addImageData({}, 0));
            EXPECT_TRUE(file->addImageData({}, 1));
            const long frameWidth = file->imageData(0)->width();
            EXPECT_TRUE(file->addImageDataRect({}, 0, {0, 0, frameWidth, 0}));
            EXPECT_THROW(file->addImageDataRect({}, 0, {0, 0, frameWidth + 1, 0}), std::invalid_argument);
            EXPECT_FALSE(file->addImageData(ByteVector(4, 1), 0));
        }
}

// A growable buffer whose writes can be made to fail, as on a full disk.
class FailingBuffer : public Zan::IoMemoryBuffer {
public:
    using IoMemoryBuffer::IoMemoryBuffer;
    unsigned long writeData(const void* buffer, unsigned long n) override {
        return failing ? 0 : IoMemoryBuffer::writeData(buffer, n);
    }
    bool failing = false;
};

// A compressed frame is stored when its frame device closes: a failure there is the operation's.
TEST(QpxFrameWriteSizes, AFailedStoreOfACompressedFrameIsReported) {
    const NativeGeometry g{"gray16_zlib", 9, 4, 16, 16, 1, true};
    const Bytes bytes = nativeFileBytes(g, 1);
    auto owned = std::make_unique<FailingBuffer>(bytes.size(), bytes.data());
    FailingBuffer& buffer = *owned;
    QpxFileDevice file(std::make_unique<QpxFileDevice::Impl>(std::move(owned)));
    ASSERT_TRUE(file.open(ReadUpdate, 3, nullptr));
    const ByteVector plane = filledPlane(g, 5);
    const long row = 2 * 2;
    buffer.failing = true;
    EXPECT_FALSE(file.setImageData(plane, 0));
    EXPECT_FALSE(file.addImageData(plane, 0));
    EXPECT_FALSE(file.setImageDataRect(ByteVector(row * 2, 1), 0, {1, 1, 2, 2}));
    EXPECT_FALSE(file.addImageDataRect(ByteVector(row * 2, 1), 0, {1, 1, 2, 2}));
    EXPECT_FALSE(file.addImageData(plane, 1));
    buffer.failing = false;
    // The frame still reads as it was written first.
    auto frame = file.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    Bytes out(static_cast<std::size_t>(ZanTest::nativeLineBytes(g) * g.height), '\0');
    frame->packedImage(out.data(), ZanTest::nativeLineBytes(g));
    EXPECT_TRUE(sameBytes(out, text(ZanTest::nativePlane(g, 0))));
}

} // namespace

// Rectangles inside a frame, touching its right edge, reaching beyond it and starting left of it, set and
// summed on raw frames with and without row padding and on compressed ones (whose adds take different
// paths). A set writes the part inside the frame; a sum needs all of its rectangle inside and refuses
// any other before anything is read or written.
TEST(QpxFrameWriteRectangles, AreCheckedBeforeAnyPath) {
    const NativeGeometry frames[] = {
        {"raw_unpadded", 8, 4, 8, 8, 1},
        {"raw_padded", 7, 4, 8, 8, 1},
        {"compressed", 8, 4, 8, 8, 1, true},
        {"raw_unpadded_wide", 100, 4, 8, 8, 1},
    };
    struct Place {
        const char* name;
        bool inside;
        Rectangle (*of)(long width);
    };
    const Place places[] = {
        {"inside", true,
         [](long) {
             return Rectangle{1, 1, 3, 2};
         }},
        {"touching_the_right_edge", true,
         [](long w) {
             return Rectangle{w - 3, 0, 3, 4};
         }},
        {"beyond_the_right_edge", false,
         [](long w) {
             return Rectangle{w - 2, 0, 4, 4};
         }},
        {"far_beyond_the_right_edge", false,
         [](long w) {
             return Rectangle{w - 10, 0, 50, 4};
         }},
        {"negative_origin", false,
         [](long) {
             return Rectangle{-10, 0, 12, 1};
         }},
    };
    for (const NativeGeometry& g : frames)
        for (const Place& place : places)
            for (const bool add : {false, true}) {
                const Rectangle r = place.of(g.width);
                SCOPED_TRACE(std::string(g.name) + " " + place.name + (add ? " add" : " set"));
                const long line = ZanTest::nativeLineBytes(g);
                const long row = add ? r.width : alignedRow(g, r.width);
                ByteVector data(static_cast<std::size_t>(row * r.height), 0);
                for (long i = 0; i < r.height; ++i)
                    for (long j = 0; j < r.width; ++j)
                        data[static_cast<std::size_t>(i * row + j)] = static_cast<char>(31 * i + 7 * j + 1);
                ByteVector expected = ZanTest::nativePlane(g, 0);
                if (add && !place.inside) {
                    auto file = updatable(g, 1);
                    EXPECT_THROW(file->addImageDataRect(data, 0, r), std::invalid_argument);
                    EXPECT_TRUE(sameBytes(storedFrame(closedBytes(*file), 0), text(expected)));
                    continue;
                }
                for (long i = 0; i < r.height; ++i)
                    for (long j = 0; j < r.width; ++j) {
                        const long x = r.x + j, y = r.y + i;
                        if (x < 0 || y < 0 || x >= g.width || y >= g.height)
                            continue;
                        char& sample = expected[static_cast<std::size_t>(y * line + x)];
                        const char value = data[static_cast<std::size_t>(i * row + j)];
                        sample = add ? static_cast<char>(sample + value) : value;
                    }
                auto file = updatable(g, 1);
                EXPECT_TRUE(add ? file->addImageDataRect(data, 0, r) : file->setImageDataRect(data, 0, r));
                EXPECT_TRUE(sameBytes(storedFrame(closedBytes(*file), 0), text(expected)));
            }
}

// An existing file opened for update with each set of open options, then given a new chunk and a new
// frame: either the writes are refused before anything reaches the file, or the closed file opens again
// with every old chunk and every new one. A file whose map cannot be read refuses appends whatever the
// options.
TEST(QpxUpdateOpens, NeverLoseTheChunkMap) {
    const NativeGeometry g{"gray8", 13, 7, 8, 8, 1};
    TempDir dir("updateopens");
    const auto path = dir / "file.qpx";
    const Bytes original = nativeFileBytes(g, 2);
    Bytes damagedMap = original;
    damagedMap[damagedMap.size() - 1] ^= 0x40; // the trailer's map position points nowhere
    struct Case {
        const char* name;
        const Bytes* file;
        unsigned options;
        bool written;
    };
    const Case cases[] = {
        {"options_0", &original, 0, false},
        {"option_1_load", &original, 1, false},
        {"option_2_store", &original, 2, true},
        {"options_3", &original, 3, true},
        {"damaged_map_option_2", &damagedMap, 2, false},
    };
    const ByteVector custom(24, 'c');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        chunked_test::writeFile(path, *c.file);
        std::vector<std::string> before;
        {
            Zan::QpxFileDevice::ChunkedDevice listing(std::make_unique<Zan::IoFileDevice>(path.string()));
            if (listing.open(IoDevice::Read, 1, nullptr))
                before = listing.chunkNames();
        }
        {
            QpxFileDevice file(path.string());
            file.open(ReadUpdate, c.options, nullptr);
            const auto succeeds = [](auto&& write) {
                try {
                    return write();
                } catch (const std::exception&) {
                    return false;
                }
            };
            EXPECT_EQ(succeeds([&] {
                          file.setChunkedData("CustomData|New!", custom);
                          return true;
                      }),
                      c.written);
            EXPECT_EQ(succeeds([&] { return file.setImageData(filledPlane(g, 9), 2); }), c.written);
            file.close();
        }
        const Bytes after = chunked_test::readFile(path);
        if (!c.written) {
            // Nothing was appended; a map loaded from the file may have been stored again behind it.
            EXPECT_EQ(after.substr(0, c.file->size()), *c.file);
            if (c.file == &damagedMap) {
                EXPECT_EQ(after, *c.file);
            }
            continue;
        }
        QpxFileDevice reread(after.size(), after.data());
        int err = -1;
        ASSERT_TRUE(reread.open(IoDevice::Read, 3, &err));
        EXPECT_EQ(err, 0);
        std::vector<std::string> names = reread.chunkedDevice().chunkNames();
        for (const std::string& name : before)
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
        EXPECT_EQ(names.size(), before.size() + 2);
        EXPECT_EQ(text(reread.chunkedData("CustomData|New!")), text(custom));
        EXPECT_TRUE(sameBytes(storedFrame(after, 0), text(ZanTest::nativePlane(g, 0))));
        EXPECT_TRUE(sameBytes(storedFrame(after, 2), text(filledPlane(g, 9))));
    }
}
