// Damaged TIFF files (cut strips and tiles, blocks beyond the end of the file, failed Deflate and LZW blocks,
// a frame far larger than the file) read through the facade: with stop-on-error every read fails; without
// it every read path hands out the pixels that decode and zeros for the rest, whatever the destination held.

#include <support/DamagedTiffs.h>
#include <support/ImageDataReadPaths.h>
#include <support/TempDir.h>

#include <imagefile/IoImageFile.h>

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

} // namespace
