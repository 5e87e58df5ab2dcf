// The native frame device over a chunked device: every read path of the image-data interface on raw
// frames (mapped and by positioned reads) and compressed ones, over memory and over a file; writes by
// plane, rectangle and strip; the frame chunk's layout; masking; and the checks that keep damaged chunks,
// rectangles and rows from reaching bytes a frame does not own.

#include "ChunkedTestSupport.h"

#include <support/Expect.h>
#include <support/ImageDataReadPaths.h>
#include <support/NativeFiles.h>

#include <io/Exception.h>
#include <io/IoMemoryBuffer.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFrameInflate.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace chunked_test;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using ImageData = Zan::QpxFileDevice::ImageData;
using ZanTest::Geometry;

const std::string frameName = "ImageDataSeq|0!";

// A memory buffer that counts its reads, to see how many calls a frame read makes.
class CountingBuffer : public Zan::IoMemoryBuffer {
public:
    using IoMemoryBuffer::IoMemoryBuffer;
    unsigned long readData(void* buffer, unsigned long n) override {
        ++reads;
        return IoMemoryBuffer::readData(buffer, n);
    }
    long reads = 0;
};

// A chunked device over a memory buffer or a file, reopened as the tests need. Frames are made with the
// geometry of a read-path case.
class FrameStore {
public:
    explicit FrameStore(bool onFile) : dir_("frames") {
        if (onFile) {
            device_ = fileDevice(dir_ / "frames.qpx");
        } else {
            auto buffer = std::make_unique<CountingBuffer>();
            buffer_ = buffer.get();
            device_ = std::make_unique<Chunked>(std::move(buffer));
        }
        reopen(IoDevice::Write | IoDevice::Update);
    }
    Chunked& chunked() { return *device_; }
    CountingBuffer* buffer() { return buffer_; }
    void reopen(IoDevice::OpenMode mode) {
        if (device_->isOpen())
            device_->close();
        ASSERT_TRUE(device_->open(mode, (mode & IoDevice::Write) ? 2 : 3, nullptr));
    }
    std::unique_ptr<ImageData> frame(const Geometry& g, ImageData::Compression compression, int level = 0,
                                     const std::string& name = frameName) {
        return std::make_unique<ImageData>(
            *device_, name, g.width, g.height, g.bitsUsed, g.bitsStored, g.components,
            static_cast<IoImageDataDevice::Interpretation>(g.interpretation),
            static_cast<IoImageDataDevice::DataFormat>(g.format), compression, level);
    }

private:
    TempDir dir_;
    std::unique_ptr<Chunked> device_;
    CountingBuffer* buffer_ = nullptr;
};

long lineBytesOf(const Geometry& g) {
    return (g.width * ZanTest::bytesOf(g.bitsStored) * g.components + 3) / 4 * 4;
}

// The frame of a geometry in the plane layout, sample (x, y, c) = sample(x, y, c).
Bytes planeOf(const Geometry& g, const std::function<std::uint64_t(long, long, long)>& sample) {
    const long s = ZanTest::bytesOf(g.bitsStored), line = lineBytesOf(g);
    Bytes plane(static_cast<std::size_t>(line * g.height), '\0');
    for (long y = 0; y < g.height; ++y)
        for (long x = 0; x < g.width; ++x)
            for (long c = 0; c < g.components; ++c) {
                const std::uint64_t v = sample(x, y, c);
                std::memcpy(plane.data() + y * line + (x * g.components + c) * s, &v, static_cast<size_t>(s));
            }
    return plane;
}

Bytes patternPlane(const Geometry& g) {
    return planeOf(g, [&](long x, long y, long c) { return ZanTest::patternSample(g, 0, x, y, c); });
}

// Row padding is not read: it stays as the buffer was, zero unless told otherwise.
Bytes readPlane(IoImageDataDevice& frame, long stride, char fill = '\0') {
    Bytes out(static_cast<std::size_t>(stride * frame.height()), fill);
    frame.readCurrentPlane(out.data(), stride);
    return out;
}

// Writes plane into a new frame (whole, through writeCurrentPlane) and closes it.
void store(FrameStore& files, const Geometry& g, ImageData::Compression compression, const Bytes& plane,
           const std::string& name = frameName) {
    auto frame = files.frame(g, compression, 0, name);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Write));
    frame->writeCurrentPlane(plane.data(), lineBytesOf(g));
    frame->close();
}

// ---- Every read path on every way a frame is held.

struct Holding {
    const char* name;
    bool onFile;
    ImageData::Compression compression;
    IoImageDataDevice::OpenMode mode;
    bool mapped;
};

const Holding holdings[] = {
    {"memory_raw_mapped", false, ImageData::None, 0x5, true},
    {"memory_raw_positioned", false, ImageData::None, 0x1, false},
    {"memory_lossless", false, ImageData::Lossless, 0x5, false},
    {"file_raw_mapped", true, ImageData::None, 0x5, true},
    {"file_raw_nomap", true, ImageData::None, 0xD, false},
    {"file_lossless_loaded", true, ImageData::Lossless, 0x1, false},
};

using ReadPathCase = std::tuple<Geometry, Holding>;

class FrameReadPaths : public ::testing::TestWithParam<ReadPathCase> {};

TEST_P(FrameReadPaths, MatchTheModel) {
    const auto& [g, h] = GetParam();
    FrameStore files(h.onFile);
    store(files, g, h.compression, patternPlane(g));
    files.reopen(IoDevice::Read);
    auto frame = files.frame(g, h.compression);
    ASSERT_TRUE(frame->open(h.mode));
    EXPECT_EQ(frame->memoryMappedPlane() != nullptr, h.mapped);
    EXPECT_EQ((frame->openMode() & ImageData::Mapped) != 0, h.mapped);
    ZanTest::expectReadPathsMatch(
        *frame,
        {g, [g = g](long p, long x, long y, long c) { return ZanTest::patternSample(g, p, x, y, c); }},
        ZanTest::FrameDevice::Native);
    frame->close();
}

INSTANTIATE_TEST_SUITE_P(
    All, FrameReadPaths,
    ::testing::Combine(::testing::ValuesIn(ZanTest::readPathGeometries(ZanTest::FrameDevice::Native)),
                       ::testing::ValuesIn(holdings)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// ---- Writes by plane, rectangle and strip, read back whole.

const Geometry rgb16{"rgb16", 21, 9, 16, 16, 3, 1};
const Geometry gray8{"gray8", 13, 7, 8, 8, 1, 1};
const Geometry gray12{"gray12", 10, 6, 12, 16, 1, 1};

struct WriteWay {
    const char* name;
    bool onFile;
    ImageData::Compression compression;
    IoImageDataDevice::OpenMode mode;
};

const WriteWay writeWays[] = {
    {"file_raw_mapped", true, ImageData::None, 0x6},
    {"file_raw_positioned", true, ImageData::None, 0x2},
    {"memory_raw", false, ImageData::None, 0x6},
    {"memory_lossless", false, ImageData::Lossless, 0x2},
};

class FrameWrites : public ::testing::TestWithParam<WriteWay> {};

// Four rectangles and a band of strips make the whole frame; nothing outside the rectangles is touched, so
// the frame reads back exactly.
TEST_P(FrameWrites, RectanglesAndStripsReadBackWhole) {
    const WriteWay& w = GetParam();
    FrameStore files(w.onFile);
    const Geometry& g = rgb16;
    const Bytes plane = patternPlane(g);
    const long line = lineBytesOf(g), px = 6;
    {
        auto frame = files.frame(g, w.compression);
        ASSERT_TRUE(frame->open(w.mode));
        EXPECT_EQ((frame->openMode() & ImageData::Mapped) != 0, w.onFile && (w.mode & 0x4));
        // Caller rows wider than the rectangles: the bytes past each rectangle's width are not the frame's.
        const long stride = line + 10;
        Bytes wide(static_cast<std::size_t>(stride * g.height), '\x77');
        for (long y = 0; y < g.height; ++y)
            std::memcpy(wide.data() + y * stride, plane.data() + y * line, static_cast<size_t>(line));
        const Zan::Rectangle quadrants[] = {{0, 0, 8, 4}, {8, 0, 13, 4}, {0, 4, 8, 3}, {8, 4, 13, 3}};
        for (const Zan::Rectangle& r : quadrants)
            frame->writeCurrentPlaneRect(wide.data() + r.y * stride + r.x * px, stride, r);
        for (long y = 7; y < g.height; ++y) {
            frame->setCurrentStrip(y);
            frame->writeCurrentStrip(plane.data() + y * line, line);
        }
        frame->close();
    }
    files.reopen(IoDevice::Read);
    auto frame = files.frame(g, w.compression);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    EXPECT_TRUE(sameBytes(readPlane(*frame, line), plane));
}

INSTANTIATE_TEST_SUITE_P(All, FrameWrites, ::testing::ValuesIn(writeWays),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The frame chunk.

TEST(FrameChunk, RawFrameIsReservedAndReadsZeros) {
    FrameStore files(false);
    auto frame = files.frame(gray8, ImageData::None);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read | IoImageDataDevice::Write));
    long size = 0;
    ASSERT_TRUE(files.chunked().hasChunk(frameName, &size));
    EXPECT_EQ(size, 16 * 7 + 8);
    EXPECT_TRUE(sameBytes(readPlane(*frame, 13, '\x5A'), Bytes(13 * 7, '\0')));
}

TEST(FrameChunk, CompressedFrameIsStoredOnlyWhenWritten) {
    FrameStore files(false);
    const Bytes plane = patternPlane(rgb16);
    {
        auto frame = files.frame(rgb16, ImageData::Lossless);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Write));
        frame->close();
        EXPECT_FALSE(files.chunked().hasChunk(frameName, nullptr));
    }
    for (int level : {0, 6}) {
        SCOPED_TRACE(level);
        store(files, rgb16, ImageData::Lossless, plane); // level 0
        auto frame = files.frame(rgb16, ImageData::Lossless, level);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read | IoImageDataDevice::Write));
        frame->writeCurrentPlane(plane.data(), lineBytesOf(rgb16));
        frame->close();
        const Zan::ByteVector chunk = files.chunked().loadChunk(frameName);
        ASSERT_GT(chunk.size(), 8u);
        EXPECT_EQ(Bytes(chunk.data(), 8), Bytes(8, '\0'));
        Bytes inflated(plane.size() + 16, '\0');
        uLongf length = inflated.size();
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                             reinterpret_cast<const Bytef*>(chunk.data() + 8), chunk.size() - 8),
                  Z_OK);
        inflated.resize(length);
        EXPECT_TRUE(sameBytes(inflated, plane));
        // Level 0 stores blocks as they are, level 6 compresses the pattern.
        EXPECT_EQ(chunk.size() > plane.size(), level == 0);
    }
}

// Read and write keeps the pixels outside a rewritten rectangle; write alone starts from zeros.
TEST(FrameChunk, CompressedRectangleRewrite) {
    for (const IoImageDataDevice::OpenMode mode : {0x3u, 0x2u}) {
        SCOPED_TRACE(mode);
        FrameStore files(false);
        const Bytes plane = patternPlane(gray8);
        store(files, gray8, ImageData::Lossless, plane);
        {
            auto frame = files.frame(gray8, ImageData::Lossless);
            ASSERT_TRUE(frame->open(mode));
            const Bytes ones(12, '\x01');
            frame->writeCurrentPlaneRect(ones.data(), 4, {2, 1, 4, 3});
            frame->close();
        }
        Bytes expected = mode == 0x3 ? plane : Bytes(plane.size(), '\0');
        for (long y = 1; y < 4; ++y)
            std::memset(expected.data() + y * 16 + 2, 1, 4);
        auto frame = files.frame(gray8, ImageData::Lossless);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        EXPECT_TRUE(sameBytes(readPlane(*frame, 16), expected));
    }
}

// Damaged frame chunks are refused when the frame opens: never a partial frame read as whole.
TEST(FrameChunk, DamagedChunksAreRefusedOnOpen) {
    const Geometry& g = gray8; // plane 112 bytes
    const Bytes plane = patternPlane(g);
    const auto zlibOf = [](const Bytes& data, int level = 6) {
        Bytes out(compressBound(data.size()), '\0');
        uLongf n = out.size();
        compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(data.data()),
                  data.size(), level);
        out.resize(n);
        return out;
    };
    const std::string inflateFailed = "QPX ImageData: zlib uncompress failed";
    struct Case {
        const char* name;
        ImageData::Compression compression;
        Bytes chunk;
        std::string error;
    };
    const Bytes stream = zlibOf(plane);
    Bytes flipped = stream, badChecksum = stream;
    flipped[flipped.size() / 2] ^= 0x55;
    badChecksum.back() ^= 0x01;
    const Case cases[] = {
        {"raw_short_by_one", ImageData::None, zeros(8) + plane.substr(1),
         "QpxFileDevice::ImageData::open: chunk \"ImageDataSeq|0!\" holds 119 data bytes, fewer than the 120 "
         "of "
         "its prefix and plane"},
        {"raw_prefix_only", ImageData::None, zeros(8),
         "QpxFileDevice::ImageData::open: chunk \"ImageDataSeq|0!\" holds 8 data bytes, fewer than the 120 "
         "of "
         "its prefix and plane"},
        {"compressed_short_prefix", ImageData::Lossless, zeros(5),
         "QpxFileDevice::ImageData::open: chunk \"ImageDataSeq|0!\" holds 5 data bytes, fewer than the 8 of "
         "its prefix"},
        {"compressed_prefix_only", ImageData::Lossless, zeros(8), inflateFailed},
        {"stream_truncated", ImageData::Lossless, zeros(8) + stream.substr(0, stream.size() - 6),
         inflateFailed},
        {"stream_damaged", ImageData::Lossless, zeros(8) + flipped, inflateFailed},
        {"stream_ends_early", ImageData::Lossless, zeros(8) + zlibOf(plane.substr(0, 100)), inflateFailed},
        {"stream_too_long", ImageData::Lossless, zeros(8) + zlibOf(plane + "x"), inflateFailed},
        {"stream_bad_checksum", ImageData::Lossless, zeros(8) + badChecksum, inflateFailed},
        {"stream_then_a_byte", ImageData::Lossless, zeros(8) + stream + zeros(1), inflateFailed},
        {"not_zlib", ImageData::Lossless, zeros(8) + plane, inflateFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const IoImageDataDevice::OpenMode mode : {0x1u, 0x5u, 0x3u}) {
            SCOPED_TRACE(mode);
            FrameStore files(true);
            files.chunked().storeChunk(frameName, c.chunk.data(), c.chunk.size());
            auto frame = files.frame(g, c.compression);
            ZAN_EXPECT_THROW_MSG(frame->open(mode), std::runtime_error, c.error);
            EXPECT_EQ(frame->openMode(), 0u);
        }
    }
}

// A plane no stream of the chunk's size can inflate to is refused before its buffer is allocated.
TEST(FrameChunk, ImpossiblePlaneIsRefusedBeforeAllocation) {
    FrameStore files(false);
    files.chunked().storeChunk(frameName, zeros(40).data(), 40);
    auto frame = std::make_unique<ImageData>(files.chunked(), frameName, 1L << 20, 1L << 20, 16, 16, 1,
                                             IoImageDataDevice::Plain, IoImageDataDevice::UnsignedInteger,
                                             ImageData::Lossless, 0);
    ZAN_EXPECT_THROW_MSG(frame->open(IoImageDataDevice::Read), std::runtime_error,
                         "QPX ImageData: zlib uncompress failed");
}

TEST(FrameChunk, GeometryThatOverflowsIsRefused) {
    FrameStore files(false);
    const auto make = [&](long w, long h, long bits, long comps) {
        return ImageData(files.chunked(), frameName, w, h, bits, bits, comps, IoImageDataDevice::Plain,
                         IoImageDataDevice::UnsignedInteger, ImageData::None, 0);
    };
    EXPECT_THROW(make(1L << 40, 1L << 30, 16, 1), std::runtime_error);
    EXPECT_THROW(make(4294967295L, 1, 64, 4294967295L), std::runtime_error);
    EXPECT_THROW(make(-1, 4, 8, 1), std::runtime_error);
    // Pixels without bytes.
    EXPECT_THROW(make(4, 4, 8, 0), std::runtime_error);
    EXPECT_THROW(make(4, 4, 65, 1), std::runtime_error);
    EXPECT_EQ(make(0, 0, 8, 1).planeSize(), 0);
}

// ---- Both decoders of a compressed frame: one libdeflate call and zlib's stepped inflate.

// Frames of every sample size, and one of random bytes that no level can shrink; all above the 64 KiB of
// one zlib step, with row padding in the 8-bit one.
const Geometry decodedGeometries[] = {
    {"noise", 257, 300, 8, 8, 1, 1},
    {"gray8", 301, 250, 8, 8, 1, 1},
    {"gray12", 200, 190, 12, 16, 1, 1},
    {"gray16", 256, 160, 16, 16, 1, 1},
    {"rgb16", 90, 100, 16, 16, 3, 1},
    {"float32", 120, 150, 32, 32, 1, 1, 4, IoImageDataDevice::Plain, IoImageDataDevice::FloatingPoint},
};

Bytes decodedPlane(const Geometry& g) {
    if (std::string(g.name) != "noise")
        return patternPlane(g);
    std::mt19937 random(23);
    return planeOf(g, [&](long, long, long) { return random() & 0xFF; });
}

using DecodeCase = std::tuple<Geometry, int>;

class FrameDecoders : public ::testing::TestWithParam<DecodeCase> {};

// The stream our writer stores at each level decodes to the same plane through both decoders and the
// device.
TEST_P(FrameDecoders, GiveTheSameBytes) {
    const auto& [g, level] = GetParam();
    const Bytes plane = decodedPlane(g);
    FrameStore files(false);
    {
        auto frame = files.frame(g, ImageData::Lossless, level);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Write));
        frame->writeCurrentPlane(plane.data(), lineBytesOf(g));
        frame->close();
    }
    const Zan::ByteVector chunk = files.chunked().loadChunk(frameName);
    ASSERT_GT(chunk.size(), 8u);
    const auto decoded = [&](Zan::detail::FrameInflate way) {
        Bytes out(plane.size(), '\x5A');
        Zan::detail::inflateFrame(
            chunk.data() + 8, chunk.size() - 8, out.data(), out.size(), [] {}, way);
        return out;
    };
    EXPECT_TRUE(sameBytes(decoded(Zan::detail::FrameInflate::OneCall), plane));
    EXPECT_TRUE(sameBytes(decoded(Zan::detail::FrameInflate::Steps), plane));
    auto frame = files.frame(g, ImageData::Lossless);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read | 0x4));
    EXPECT_TRUE(sameBytes(readPlane(*frame, lineBytesOf(g)), plane));
}

INSTANTIATE_TEST_SUITE_P(All, FrameDecoders,
                         ::testing::Combine(::testing::ValuesIn(decodedGeometries), ::testing::Range(0, 10)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_level" +
                                    std::to_string(std::get<1>(info.param));
                         });

// ---- Geometry and interface details.

TEST(FrameGeometry, LineBytesAndPixelOffsets) {
    FrameStore files(false);
    struct Case {
        long width, bits, components, lineBytes;
    } cases[] = {{3, 8, 1, 4}, {3, 16, 3, 20}, {5, 32, 1, 20}, {1, 12, 1, 4}, {2, 64, 1, 16}, {3, 0, 1, 4}};
    for (const Case& c : cases) {
        const ImageData frame(files.chunked(), frameName, c.width, 2, c.bits, c.bits, c.components,
                              IoImageDataDevice::Plain, IoImageDataDevice::UnsignedInteger, ImageData::None,
                              0);
        EXPECT_EQ(frame.lineBytes(), c.lineBytes);
        EXPECT_EQ(frame.planeSize(), 2 * c.lineBytes);
    }
    // Rectangle x = 2 of a 16-bit, 3-component frame starts 12 bytes into the row.
    const Geometry g{"rgb16_3", 3, 2, 16, 16, 3, 1};
    store(files, g, ImageData::None, planeOf(g, [](long x, long y, long c) { return 100 * y + 10 * x + c; }));
    auto frame = files.frame(g, ImageData::None);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    std::uint16_t pixel[3] = {};
    frame->readCurrentPlaneRect(pixel, 6, {2, 1, 1, 1});
    EXPECT_EQ(pixel[0], 120);
    EXPECT_EQ(pixel[2], 122);
}

TEST(FrameGeometry, InterfaceAnswers) {
    FrameStore files(false);
    ImageData frame(files.chunked(), frameName, 5, 4, 12, 16, 3, IoImageDataDevice::Colour,
                    IoImageDataDevice::UnsignedInteger, ImageData::None, 0);
    long a = -7, b = -8;
    EXPECT_FALSE(frame.isTiled(&a, &b));
    EXPECT_EQ(a, -7);
    EXPECT_EQ(b, -8);
    EXPECT_TRUE(frame.isStriped(nullptr));
    EXPECT_TRUE(frame.isStriped(&a));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(frame.interpretation(), IoImageDataDevice::Colour);
    EXPECT_EQ(frame.lineAlignment(), 4);
    EXPECT_EQ(frame.planes(), 1);
    frame.setCurrentPlane(0);
    EXPECT_THROW(frame.setCurrentPlane(1), std::out_of_range);
    frame.setCurrentStrip(42);
    EXPECT_EQ(frame.currentStrip(), 42);
    char buffer[64] = {};
    ZAN_EXPECT_THROW_MSG(frame.currentTileX(), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(frame.currentTileY(), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(frame.setCurrentTile(0, 0), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(frame.readCurrentTile(buffer, 8), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(frame.writeCurrentTile(buffer, 8), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(frame.memoryMappedPlane(), std::logic_error,
                         "QpxFileDevice::ImageData::memoryMappedPlane: not open");
}

TEST(FrameOpen, ModesAndRefusals) {
    FrameStore files(false);
    const std::string prefix = "QpxFileDevice::ImageData::";
    {
        // A missing frame opened read-only: false, still closed, silent destruction.
        auto frame = files.frame(gray8, ImageData::None);
        EXPECT_FALSE(frame->open(IoImageDataDevice::Read));
        ZAN_EXPECT_THROW_MSG(frame->memoryMappedPlane(), std::logic_error,
                             prefix + "memoryMappedPlane: not open");
        ZAN_EXPECT_THROW_MSG(frame->close(), std::logic_error, prefix + "close: already closed");
    }
    store(files, gray8, ImageData::None, patternPlane(gray8));
    store(files, gray8, ImageData::Lossless, patternPlane(gray8), "ImageDataSeq|1!");
    char row[16] = {};
    for (const auto compression : {ImageData::None, ImageData::Lossless}) {
        auto frame = files.frame(gray8, compression, 0, compression ? "ImageDataSeq|1!" : frameName);
        // Neither read nor write: true, and the device stays closed.
        EXPECT_TRUE(frame->open(0));
        EXPECT_EQ(frame->openMode(), 0u);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        ZAN_EXPECT_THROW_MSG(frame->open(IoImageDataDevice::Read), std::logic_error,
                             prefix + "open: already open");
        ZAN_EXPECT_THROW_MSG(frame->writeCurrentPlane(row, 16), std::logic_error,
                             prefix + "writeCurrentPlane: not writable");
        ZAN_EXPECT_THROW_MSG(frame->writeCurrentStrip(row, 16), std::logic_error,
                             prefix + "writeCurrentStrip: not writable");
        frame->close();
        ASSERT_TRUE(frame->open(IoImageDataDevice::Write | 0x4));
        ZAN_EXPECT_THROW_MSG(frame->readCurrentPlaneRect(row, 16, {0, 0, 1, 1}), std::logic_error,
                             prefix + "readCurrentPlane: not readible");
        ZAN_EXPECT_THROW_MSG(frame->readCurrentStrip(row, 16), std::logic_error,
                             prefix + "readCurrentStrip: not readible");
        frame->close();
    }
    files.reopen(IoDevice::Read);
    ZAN_EXPECT_THROW_MSG(files.frame(gray8, ImageData::None)->open(IoImageDataDevice::Write),
                         std::logic_error, prefix + "open: write access denied");
    files.reopen(IoDevice::Write);
    ZAN_EXPECT_THROW_MSG(files.frame(gray8, ImageData::None)->open(IoImageDataDevice::Read), std::logic_error,
                         prefix + "open: read access denied");
}

// A growable memory buffer that can be written is not mapped: appending a chunk moves its bytes.
TEST(FrameOpen, WritableMemoryBufferIsNotMapped) {
    FrameStore files(false);
    auto first = files.frame(gray8, ImageData::None);
    ASSERT_TRUE(first->open(IoImageDataDevice::Read | IoImageDataDevice::Write | 0x4));
    EXPECT_EQ(first->memoryMappedPlane(), nullptr);
    auto second = files.frame(gray8, ImageData::None, 0, "ImageDataSeq|1!");
    ASSERT_TRUE(second->open(IoImageDataDevice::Write | 0x4)); // appends a chunk of its own
    const Bytes plane = patternPlane(gray8);
    first->writeCurrentPlane(plane.data(), 16);
    EXPECT_TRUE(sameBytes(readPlane(*first, 16), plane));
}

// ---- Masking of 9 to 15 significant bits in 16-bit samples.

TEST(FrameMasking, TwelveBitSamples) {
    const Geometry& g = gray12;
    const Bytes dirty = planeOf(g, [](long x, long y, long) { return 0xF000u | (x * 16 + y); });
    const Bytes clean = planeOf(g, [](long x, long y, long) { return std::uint64_t(x * 16 + y); });
    for (const auto& [name, mode, keepsHighBits] :
         {std::tuple{"mapped", 0x6u, false}, std::tuple{"positioned", 0x2u, true}}) {
        SCOPED_TRACE(name);
        FrameStore files(true);
        {
            auto frame = files.frame(g, ImageData::None);
            ASSERT_TRUE(frame->open(mode));
            frame->writeCurrentPlane(dirty.data(), 20);
            frame->close();
        }
        // Positioned writes store the caller's bytes; in-memory writes store them masked.
        const Zan::ByteVector chunk = files.chunked().loadChunk(frameName);
        EXPECT_EQ(Bytes(chunk.data() + 8, chunk.size() - 8) == dirty, keepsHighBits);
        for (const IoImageDataDevice::OpenMode read : {0x1u, 0x5u}) {
            auto frame = files.frame(g, ImageData::None);
            ASSERT_TRUE(frame->open(read));
            EXPECT_TRUE(sameBytes(readPlane(*frame, 20), clean));
            Bytes row(20, '\0');
            frame->setCurrentStrip(3);
            frame->readCurrentStrip(row.data(), 20);
            EXPECT_TRUE(sameBytes(row, clean.substr(60, 20)));
        }
    }
    // 8 and 16 significant bits are never masked.
    for (const long used : {8L, 16L}) {
        FrameStore files(false);
        const Geometry full{"gray16", 10, 6, used, 16, 1, 1};
        store(files, full, ImageData::None, dirty);
        auto frame = files.frame(full, ImageData::None);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        EXPECT_TRUE(sameBytes(readPlane(*frame, 20), dirty));
    }
}

// ---- Clipping: rectangles, strips and columns reach only the frame's own bytes.

TEST(FrameClipping, RectanglesAreCutToThePlane) {
    for (const bool mapped : {true, false}) {
        SCOPED_TRACE(mapped);
        FrameStore files(true);
        const Geometry& g = gray8; // 13 x 7, rows of 16 bytes
        const Bytes plane = patternPlane(g);
        store(files, g, ImageData::None, plane);
        auto frame = files.frame(g, ImageData::None);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read | (mapped ? 0x4 : 0)));
        struct Case {
            Zan::Rectangle r;
            long stride;
        } cases[] = {{{10, 5, 8, 8}, 8}, {{-2, -3, 6, 5}, 6}, {{12, 6, 1, 1}, 1}, {{0, 0, 0, 5}, 4},
                     {{0, 0, 5, 0}, 5},  {{20, 2, 3, 3}, 3},  {{3, 1, 4, 2}, 2}};
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << c.r.x << "," << c.r.y << "," << c.r.width << "," << c.r.height);
            const std::size_t rows = static_cast<std::size_t>(std::max<long>(c.r.height, 0));
            Bytes actual(rows * static_cast<std::size_t>(c.stride) + 32, '\x5A');
            Bytes expected = actual;
            for (long i = 0; i < c.r.height; ++i)
                for (long j = 0; j < c.r.width && j < c.stride; ++j) {
                    const long x = c.r.x + j, y = c.r.y + i;
                    if (x >= 0 && y >= 0 && x < g.width && y < g.height)
                        expected[static_cast<std::size_t>(i * c.stride + j)] =
                            plane[static_cast<std::size_t>(y * 16 + x)];
                }
            frame->readCurrentPlaneRect(actual.data(), c.stride, c.r);
            EXPECT_TRUE(sameBytes(actual, expected));
        }
        for (const long row : {-1L, 7L}) {
            char buffer[16];
            frame->setCurrentStrip(row);
            EXPECT_THROW(frame->readCurrentStrip(buffer, 16), std::out_of_range);
        }
    }
}

TEST(FrameClipping, WritesStayInsideTheirRectangle) {
    for (const WriteWay& w : writeWays) {
        SCOPED_TRACE(w.name);
        FrameStore files(w.onFile);
        const Geometry& g = gray8;
        const Bytes plane = patternPlane(g);
        store(files, g, w.compression, plane);
        {
            auto frame = files.frame(g, w.compression);
            ASSERT_TRUE(frame->open(w.mode | IoImageDataDevice::Read));
            // A rectangle of 3 pixels in rows of 8 bytes, and one reaching past the right and lower edges.
            const Bytes ones(64, '\x01');
            frame->writeCurrentPlaneRect(ones.data(), 8, {4, 2, 3, 2});
            frame->writeCurrentPlaneRect(ones.data(), 8, {11, 5, 8, 8});
            frame->setCurrentStrip(9);
            EXPECT_THROW(frame->writeCurrentStrip(ones.data(), 16), std::out_of_range);
            frame->close();
        }
        Bytes expected = plane;
        for (long y : {2, 3})
            std::memset(expected.data() + y * 16 + 4, 1, 3);
        for (long y : {5, 6})
            std::memset(expected.data() + y * 16 + 11, 1, 2);
        files.reopen(IoDevice::Read);
        auto frame = files.frame(g, w.compression);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        EXPECT_TRUE(sameBytes(readPlane(*frame, 16), expected));
    }
}

// ---- Positioned reads in runs; worker threads; the abort flag.

TEST(FrameCopies, PositionedReadsGoInRunsOfRows) {
    FrameStore files(false);
    const Geometry g{"gray16", 64, 40, 16, 16, 1, 1};
    store(files, g, ImageData::None, patternPlane(g));
    files.reopen(IoDevice::Read);
    auto frame = files.frame(g, ImageData::None);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    files.buffer()->reads = 0;
    EXPECT_TRUE(sameBytes(readPlane(*frame, 128), patternPlane(g)));
    EXPECT_EQ(files.buffer()->reads, 1);
    // A rectangle narrower than the rows reads row by row.
    files.buffer()->reads = 0;
    Bytes part(10 * 20, '\0');
    frame->readCurrentPlaneRect(part.data(), 20, {5, 3, 10, 10});
    EXPECT_EQ(files.buffer()->reads, 10);
}

// Large reads of contiguous rows of a mapped frame go through positioned reads, which see what was written
// through the mapping and are masked alike.
TEST(FrameCopies, MappedFramesReadLargeRunsByPositionedReads) {
    const Geometry g{"gray12_large", 256, 200, 12, 16, 1, 1}; // 100 KiB
    const Bytes dirty = planeOf(g, [](long x, long y, long) { return 0xF000u | ((x + y) & 0xFFF); });
    const Bytes clean = planeOf(g, [](long x, long y, long) { return std::uint64_t((x + y) & 0xFFF); });
    FrameStore files(true);
    {
        auto frame = files.frame(g, ImageData::None);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read | IoImageDataDevice::Write | 0x4));
        ASSERT_NE(frame->memoryMappedPlane(), nullptr);
        frame->writeCurrentPlane(dirty.data(), 512);
        EXPECT_TRUE(sameBytes(readPlane(*frame, 512), clean));
        // Unmasked bytes through the mapping, as another writer may leave them.
        std::memcpy(const_cast<void*>(frame->memoryMappedPlane()), dirty.data(), dirty.size());
        EXPECT_TRUE(sameBytes(readPlane(*frame, 512), clean));
    }
    FrameStore memory(false);
    store(memory, g, ImageData::None, clean);
    memory.reopen(IoDevice::Read);
    auto frame = memory.frame(g, ImageData::None);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read | 0x4));
    ASSERT_NE(frame->memoryMappedPlane(), nullptr);
    memory.buffer()->reads = 0;
    EXPECT_TRUE(sameBytes(readPlane(*frame, 512), clean));
    EXPECT_EQ(memory.buffer()->reads, 1);
    // A rectangle of part of each row is copied out of the mapping.
    Bytes part(10 * 20, '\0');
    frame->readCurrentPlaneRect(part.data(), 20, {5, 3, 10, 10});
    EXPECT_EQ(memory.buffer()->reads, 1);
}

TEST(FrameCopies, ThreadCountsGiveTheSameBytes) {
    const Geometry g{"rgb16_big", 700, 800, 16, 16, 3, 1}; // above a megabyte: several workers
    FrameStore files(false);
    const Bytes plane = patternPlane(g);
    store(files, g, ImageData::Lossless, plane);
    for (const int threads : {-1, 0, 1, 3}) {
        SCOPED_TRACE(threads);
        auto frame = files.frame(g, ImageData::Lossless);
        frame->setPropertyInt(IoImageDataDevice::Threads, threads);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        EXPECT_TRUE(sameBytes(readPlane(*frame, lineBytesOf(g)), plane));
    }
}

TEST(FrameCopies, AbortFlagStopsInflateAndCopies) {
    const Geometry g{"gray16_big", 1024, 600, 16, 16, 1, 1};
    FrameStore files(false);
    store(files, g, ImageData::Lossless, patternPlane(g));
    bool abort = true;
    auto frame = files.frame(g, ImageData::Lossless);
    frame->setAbortFlag(&abort);
    EXPECT_THROW(frame->open(IoImageDataDevice::Read), Zan::Exception::Aborted);
    EXPECT_EQ(frame->openMode(), 0u);
    abort = false;
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    abort = true;
    Bytes out(static_cast<std::size_t>(lineBytesOf(g) * g.height), '\0');
    for (const int threads : {1, 4}) {
        frame->setPropertyInt(IoImageDataDevice::Threads, threads);
        EXPECT_THROW(frame->readCurrentPlane(out.data(), lineBytesOf(g)), Zan::Exception::Aborted);
    }
}

} // namespace

// ---- Reads after writes: two devices of one raw frame, each mapped or by positioned transfers, see
// every byte either wrote, whether or not the plane is a whole number of pages (a partial page shares the
// buffered page of the chunk's header).

struct ReadAfterWrite {
    const char* name;
    IoImageDataDevice::OpenMode writer, reader;
};

TEST(FrameCoherence, ReadsAfterWritesSeeTheWrittenBytes) {
    constexpr IoImageDataDevice::OpenMode rw = IoImageDataDevice::Read | IoImageDataDevice::Write;
    constexpr IoImageDataDevice::OpenMode map = ImageData::Map;
    const ReadAfterWrite ways[] = {
        {"mapped_writer_mapped_reader", rw | map, IoImageDataDevice::Read | map},
        {"mapped_writer_positioned_reader", rw | map, IoImageDataDevice::Read},
        {"positioned_writer_mapped_reader", rw, IoImageDataDevice::Read | map},
        {"positioned_writer_positioned_reader", rw, IoImageDataDevice::Read},
    };
    const Geometry geometries[] = {
        {"gray16_1023_rows", 256, 1023, 16, 16, 1, 1}, // 523,776 bytes: not whole pages
        {"gray16_whole_pages", 256, 200, 16, 16, 1, 1},
        {"gray8_small", 37, 29, 8, 8, 1, 1}, // below the size that reads in positioned runs
    };
    for (const Geometry& g : geometries)
        for (const ReadAfterWrite& w : ways)
            for (const bool readFirst : {false, true}) {
                SCOPED_TRACE(std::string(g.name) + " " + w.name + (readFirst ? " read first" : ""));
                const long line = lineBytesOf(g);
                const Bytes before =
                    planeOf(g, [](long x, long y, long) { return std::uint64_t(x + 3 * y); });
                Bytes after = planeOf(g, [](long x, long y, long) { return std::uint64_t(7 * x + y + 11); });
                const Zan::Rectangle rect{3, 5, 9, 7};
                const Bytes patch(static_cast<std::size_t>(line * rect.height), '\x5a');
                for (long y = 0; y < rect.height; ++y)
                    std::memset(after.data() + (rect.y + y) * line + rect.x * ZanTest::bytesOf(g.bitsStored),
                                0x5a, static_cast<std::size_t>(rect.width * ZanTest::bytesOf(g.bitsStored)));
                FrameStore files(true);
                store(files, g, ImageData::None, before);
                files.reopen(IoDevice::Read | IoDevice::Update);
                auto writer = files.frame(g, ImageData::None);
                auto reader = files.frame(g, ImageData::None);
                ASSERT_TRUE(writer->open(w.writer));
                ASSERT_TRUE(reader->open(w.reader));
                EXPECT_EQ(writer->memoryMappedPlane() != nullptr, (w.writer & map) != 0);
                // The open read the chunk's header, whose page stdio keeps in its buffer; reads of the old
                // bytes leave others there.
                if (readFirst) {
                    EXPECT_TRUE(sameBytes(readPlane(*writer, line), before));
                    EXPECT_TRUE(sameBytes(readPlane(*reader, line), before));
                }
                const Bytes whole =
                    planeOf(g, [](long x, long y, long) { return std::uint64_t(7 * x + y + 11); });
                writer->writeCurrentPlane(whole.data(), line);
                writer->writeCurrentPlaneRect(patch.data(), line, rect);
                EXPECT_TRUE(sameBytes(readPlane(*writer, line), after));
                EXPECT_TRUE(sameBytes(readPlane(*reader, line), after));
                Bytes row(static_cast<std::size_t>(line), '\0');
                reader->setCurrentStrip(rect.y);
                reader->readCurrentStrip(row.data(), line);
                EXPECT_TRUE(sameBytes(row, after.substr(static_cast<std::size_t>(rect.y * line), line)));
                writer->close();
                EXPECT_TRUE(sameBytes(readPlane(*reader, line), after));
                reader->close();
                files.reopen(IoDevice::Read);
                auto fresh = files.frame(g, ImageData::None);
                ASSERT_TRUE(fresh->open(IoImageDataDevice::Read));
                EXPECT_TRUE(sameBytes(readPlane(*fresh, line), after));
            }
}

// ---- Memory of a damaged compressed frame.

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool addressSanitized = true;
#else
constexpr bool addressSanitized = false;
#endif
#else
constexpr bool addressSanitized = false;
#endif

// Frames whose attributes declare planes of 512 MiB (decoded in steps) and 48 MiB (in one call), whose
// stream (of a megabyte, enough for such planes to be plausible) stops after a megabyte of output: the open
// fails having committed memory for what it decoded, not for the declared plane. Measured in a child
// process, whose peak is its own.
TEST(FrameMemory, DamagedStreamCostsWhatItDecodes) {
    std::string plain(1 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : plain)
        c = static_cast<char>(random());
    uLongf length = compressBound(static_cast<uLong>(plain.size()));
    std::string chunk(8 + length, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(chunk.data() + 8), &length,
                        reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()), 1),
              Z_OK);
    chunk.resize(8 + length);
    const auto peakKiB = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<long>(usage.ru_maxrss);
    };
    for (const Geometry& g : {Geometry{"gray8_512MiB", 32768, 16384, 8, 8, 1, 1},
                              Geometry{"gray8_48MiB", 8192, 6144, 8, 8, 1, 1}}) {
        SCOPED_TRACE(g.name);
        FrameStore files(false);
        files.chunked().storeChunk(frameName, chunk.data(), chunk.size());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const long before = peakKiB();
            auto frame = files.frame(g, ImageData::Lossless);
            bool refused = false;
            try {
                frame->open(IoImageDataDevice::Read);
            } catch (const std::runtime_error&) {
                refused = true;
            }
            // The address sanitizer poisons a shadow byte for every 8 bytes allocated.
            const long shadowKiB = addressSanitized ? g.width * g.height / 8 / 1024 : 0;
            _exit(!refused ? 2 : peakKiB() - before > (16L << 10) + shadowKiB ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0)
            << "1: more memory committed than decoded; 2: the open did not fail";
    }
}
