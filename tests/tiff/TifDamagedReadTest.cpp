// Damaged TIFF files (cut strips and tiles, blocks beyond the end of the file, failed Deflate and LZW blocks,
// a frame far larger than the file) read through the facade: with stop-on-error every read fails; without
// it every read path hands out the pixels that decode and zeros for the rest, whatever the destination held.

#include <support/DamagedTiffs.h>
#include <support/ImageDataReadPaths.h>
#include <support/TempDir.h>

#include <imagefile/IoImageFile.h>
#include <tiff/TifFileDevice.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;

namespace ZanTest {
void PrintTo(const DamagedTiff& d, std::ostream* out) {
    *out << d.name;
}
} // namespace ZanTest

namespace {

class DamagedTiffReads : public testing::TestWithParam<DamagedTiff> {};

TEST_P(DamagedTiffReads, FailUnderStopOnErrorAndHandOutZerosForWhatCannotBeDecoded) {
    const DamagedTiff& d = GetParam();
    ASSERT_TRUE(std::find(d.damaged.begin(), d.damaged.end(), true) != d.damaged.end());
    TempDir dir;
    const std::string path = dir.file("damaged.tif");
    writeBytes(path, d.bytes);
    Zan::IoImageFile file(path);
    ASSERT_TRUE(file.open(Zan::IoDevice::Read, 0, nullptr));
    auto frame = file.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    ASSERT_EQ(frame->width(), d.spec.width);
    ASSERT_EQ(frame->planes(), 1);

    const long stride = frame->packedLineSize(1);
    std::vector<unsigned char> packed(static_cast<std::size_t>(stride * frame->height()));
    frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
    EXPECT_THROW(frame->packedImage(packed.data(), stride), std::runtime_error);

    frame->setPropertyInt(IoImageDataDevice::StopOnError, 0);
    const std::vector<unsigned char> expected = expectedFrame(d, static_cast<std::size_t>(stride));
    for (unsigned char fill : {0xA5, 0x5A}) {
        std::fill(packed.begin(), packed.end(), fill);
        frame->packedImage(packed.data(), stride);
        EXPECT_TRUE(packed == expected) << "prefilled with " << int(fill);
    }
    const TiffLayout layout = presentedLayout(d.spec);
    const Geometry geometry{"damaged",
                            d.spec.width,
                            d.spec.height,
                            frame->bitsPerComponentUsed(),
                            frame->bitsPerComponentStored(),
                            layout.components,
                            1,
                            1,
                            frame->interpretation()};
    const long sampleBytes = frame->bytesPerComponent();
    expectReadPathsMatch(*frame,
                         {geometry,
                          [&](long, long x, long y, long c) {
                              Sample v = 0;
                              std::memcpy(&v,
                                          &expected[y * stride + (x * layout.components + c) * sampleBytes],
                                          static_cast<std::size_t>(sampleBytes));
                              return v;
                          }},
                         FrameDevice::Tiff);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedTiffReads, testing::ValuesIn(damagedTiffs()),
                         [](const testing::TestParamInfo<DamagedTiff>& info) { return info.param.name; });

// A Deflate strip whose stream holds more than the strip's rows (as some writers leave a short last strip)
// is the strip's rows: libtiff with libdeflate takes it for a whole strip but may leave the strip unwritten
// (here all of it: one stored block longer than the strip), which must not reach the caller.
TEST(DamagedTiffReads, ADeflateStreamLongerThanItsStripReadsAsTheStripsRows) {
    TiffSpec spec;
    spec.width = spec.height = 64;
    spec.bits = 16;
    spec.rowsPerStrip = 8;
    spec.compression = COMPRESSION_ADOBE_DEFLATE;
    const FlatTiff flat = flatTiff(spec);
    std::vector<std::vector<char>> blocks;
    for (std::size_t i = 0; i < flat.offsets.size(); ++i)
        blocks.emplace_back(flat.bytes.begin() + long(flat.offsets[i]),
                            flat.bytes.begin() + long(flat.offsets[i] + flat.counts[i]));
    // Strip 2 stored (level 0) with 100 bytes more than its rows.
    const std::vector<unsigned char> rows = encodeBlock(spec, 0, 0, 16, 64, 8, 128);
    std::vector<unsigned char> longer(rows);
    longer.resize(rows.size() + 100, 0x77);
    uLongf size = compressBound(static_cast<uLong>(longer.size()));
    std::vector<char> stored(size);
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(stored.data()), &size, longer.data(),
                        static_cast<uLong>(longer.size()), 0),
              Z_OK);
    stored.resize(size);
    blocks[2] = stored;
    FlatDirectory d;
    d.width = d.height = 64;
    d.bits = 16;
    d.rowsPerStrip = 8;
    d.compression = COMPRESSION_ADOBE_DEFLATE;
    const std::vector<char> bytes = layOutTiff(d, blocks).bytes;

    Zan::TifFileDevice device(bytes.size(), bytes.data());
    ASSERT_TRUE(device.open(Zan::IoDevice::Read, 0, nullptr));
    auto frame = device.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
    const DamagedTiff whole{"whole", spec, bytes, std::vector<bool>(8, false)};
    for (unsigned char fill : {0x00, 0xA5, 0x5A}) {
        std::vector<unsigned char> packed(128 * 64, fill);
        frame->packedImage(packed.data(), 128);
        EXPECT_TRUE(packed == expectedFrame(whole, 128)) << "prefilled with " << int(fill);
        // Strip by strip, into a buffer of each pattern: a strip read alone takes the same way.
        std::vector<unsigned char> strip(128 * 8, fill);
        frame->setCurrentStrip(16);
        frame->readCurrentStrip(strip.data(), 128);
        EXPECT_TRUE(std::equal(strip.begin(), strip.end(), packed.begin() + 16 * 128));
    }
}

} // namespace
