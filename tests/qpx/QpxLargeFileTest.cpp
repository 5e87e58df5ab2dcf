// A native file larger than 4 GiB, kept cheap: a reserved custom chunk of just over 4 GiB that the file
// system stores as a hole, with frames written behind it. Its far frames must open, read and be rewritten
// correctly, mapped and by positioned reads, raw and compressed. Skipped where the file system refuses a
// sparse file of that size.

#include "QpxFileTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace native_test;
using Zan::IoDevice;
using Zan::IoImageDataDevice;

constexpr unsigned long holeBytes = (1UL << 32) + 12345;

Bytes patternOf(const NativeGeometry& g, long f) {
    const Zan::ByteVector plane = ZanTest::nativePlane(g, f);
    return Bytes(plane.data(), plane.size());
}

Bytes frameBytes(QpxFileDevice& file, unsigned f, IoImageDataDevice::OpenMode mode) {
    auto frame = file.imageData(f);
    EXPECT_TRUE(frame->open(mode));
    EXPECT_EQ(frame->memoryMappedPlane() != nullptr,
              (mode & 0x4) != 0 && !file.attributes().contains("compressionType"));
    Bytes out(static_cast<std::size_t>(frame->packedLineSize(4) * frame->height()), '\0');
    frame->packedImage(out.data(), frame->packedLineSize(4));
    return out;
}

void writeFrame(QpxFileDevice& file, const NativeGeometry& g, unsigned f, long pattern,
                IoImageDataDevice::OpenMode mode) {
    auto frame = file.imageData(f);
    ASSERT_TRUE(frame->open(mode));
    ZanTest::writeNativeFrame(*frame, g, pattern);
    frame->close();
}

class QpxLargeFile : public ::testing::TestWithParam<NativeGeometry> {};

TEST_P(QpxLargeFile, FarFramesReadAndWrite) {
    const NativeGeometry& g = GetParam();
    chunked_test::TempDir dir(std::string("large-") + g.name);
    const auto path = dir / "large.qpx";
    {
        QpxFileDevice file(path.string());
        ASSERT_TRUE(file.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
        file.setRawMetadata(ZanTest::nativeRaw(g, 3));
        writeFrame(file, g, 0, 0, IoImageDataDevice::Write);
        try {
            file.chunkedDevice().storeChunk("CustomData|hole!", nullptr, holeBytes);
        } catch (const std::exception& e) {
            GTEST_SKIP() << "no sparse file of 4 GiB here: " << e.what();
        }
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || status.st_blocks * 512L > (64L << 20))
            GTEST_SKIP() << "the file system does not keep the hole sparse";
        writeFrame(file, g, 1, 1, IoImageDataDevice::Write);
        writeFrame(file, g, 2, 2, IoImageDataDevice::Write);
        EXPECT_GT(file.chunkedDevice().chunkDataOffset("ImageDataSeq|2!"), 1L << 32);
        file.close();
    }
    {
        QpxFileDevice file(path.string());
        ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
        for (unsigned f = 0; f < 3; ++f)
            for (const IoImageDataDevice::OpenMode mode : {0x1u, 0x5u})
                EXPECT_EQ(frameBytes(file, f, mode), patternOf(g, f)) << f << " " << mode;
    }
    {
        // Far frames rewritten in place (raw) or appended (compressed), mapped and by positioned writes.
        QpxFileDevice file(path.string());
        ASSERT_TRUE(file.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
        writeFrame(file, g, 1, 7, IoImageDataDevice::Read | IoImageDataDevice::Write);
        writeFrame(file, g, 2, 8, IoImageDataDevice::Read | IoImageDataDevice::Write | 0x4);
        file.close();
    }
    QpxFileDevice file(path.string());
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    for (const IoImageDataDevice::OpenMode mode : {0x1u, 0x5u}) {
        EXPECT_EQ(frameBytes(file, 0, mode), patternOf(g, 0));
        EXPECT_EQ(frameBytes(file, 1, mode), patternOf(g, 7));
        EXPECT_EQ(frameBytes(file, 2, mode), patternOf(g, 8));
    }
}

INSTANTIATE_TEST_SUITE_P(All, QpxLargeFile,
                         ::testing::Values(NativeGeometry{"raw", 300, 20, 16, 16, 1},
                                           NativeGeometry{"zlib", 300, 20, 16, 16, 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
