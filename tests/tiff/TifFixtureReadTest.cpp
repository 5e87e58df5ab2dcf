// One table of TIFF files written by libtiff, over photometric interpretation, depth, samples, planar
// configuration, strips and tiles and compression: each is opened from memory, its attributes checked, and
// every read path of its frame device compared, pixel for pixel, with what the file holds.

#include <support/ImageDataReadPaths.h>
#include <support/TempDir.h>
#include <support/TiffFixtures.h>

#include <tiff/TifFileDevice.h>
#include <tiff/detail/TifFileDeviceImpl.h>

#include <gtest/gtest.h>

#include <bit>
#include <ostream>
#include <string>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;
using Zan::TifFileDevice;

namespace ZanTest {
void PrintTo(const TiffSpec& spec, std::ostream* os) {
    *os << fixtureName(spec);
}
} // namespace ZanTest

namespace {

TiffSpec kind(std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples = 1,
              std::uint16_t planar = PLANARCONFIG_CONTIG, std::uint16_t format = SAMPLEFORMAT_UINT) {
    TiffSpec spec;
    spec.photometric = photometric;
    spec.bits = bits;
    spec.samples = samples;
    spec.planar = planar;
    spec.sampleFormat = format;
    return spec;
}

std::vector<TiffSpec> kinds() {
    std::vector<TiffSpec> result;
    for (std::uint16_t bits : {1, 2, 4, 6, 8, 10, 12, 14, 16, 24, 32})
        result.push_back(kind(PHOTOMETRIC_MINISBLACK, bits));
    result.push_back(kind(PHOTOMETRIC_MINISBLACK, 8, 2));
    result.push_back(kind(PHOTOMETRIC_MINISBLACK, 16, 2, PLANARCONFIG_SEPARATE));
    for (std::uint16_t bits : {1, 8, 16})
        result.push_back(kind(PHOTOMETRIC_MINISWHITE, bits));
    result.push_back(kind(PHOTOMETRIC_MINISBLACK, 32, 1, PLANARCONFIG_CONTIG, SAMPLEFORMAT_IEEEFP));
    result.push_back(kind(PHOTOMETRIC_MINISBLACK, 16, 1, PLANARCONFIG_CONTIG, SAMPLEFORMAT_IEEEFP));
    result.push_back(kind(PHOTOMETRIC_MINISBLACK, 32, 2, PLANARCONFIG_SEPARATE, SAMPLEFORMAT_IEEEFP));
    // Signed samples keep their values, sign-extended to their element.
    for (std::uint16_t bits : {4, 8, 12, 16, 24, 32})
        result.push_back(kind(PHOTOMETRIC_MINISBLACK, bits, 1, PLANARCONFIG_CONTIG, SAMPLEFORMAT_INT));
    result.push_back(kind(PHOTOMETRIC_RGB, 12, 3, PLANARCONFIG_CONTIG, SAMPLEFORMAT_INT));
    result.push_back(kind(PHOTOMETRIC_RGB, 10, 3, PLANARCONFIG_SEPARATE, SAMPLEFORMAT_INT));
    for (std::uint16_t bits : {4, 8, 12, 16, 32})
        result.push_back(kind(PHOTOMETRIC_RGB, bits, 3));
    for (std::uint16_t bits : {8, 16})
        result.push_back(kind(PHOTOMETRIC_RGB, bits, 3, PLANARCONFIG_SEPARATE));
    result.push_back(kind(PHOTOMETRIC_RGB, 8, 4));
    for (std::uint16_t bits : {2, 4, 8, 16})
        result.push_back(kind(PHOTOMETRIC_PALETTE, bits));
    result.push_back(kind(PHOTOMETRIC_PALETTE, 8, 1, PLANARCONFIG_SEPARATE));
    result.push_back(kind(PHOTOMETRIC_SEPARATED, 8, 4));
    return result;
}

std::vector<TiffSpec> fixtures() {
    std::vector<TiffSpec> result;
    for (TiffSpec spec : kinds())
        for (bool tiles : {false, true})
            for (std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
                spec.tileWidth = spec.tileLength = tiles ? 16 : 0;
                spec.compression = compression;
                result.push_back(spec);
            }
    return result;
}

// Signed samples fill their element: all of its bits are significant.
long expectedUsedBits(const TiffSpec& spec) {
    const TiffLayout layout = presentedLayout(spec);
    if (layout.rgba || spec.bits <= 8)
        return 8;
    if (spec.sampleFormat == SAMPLEFORMAT_INT)
        return layout.bitsStored;
    return spec.sampleFormat == SAMPLEFORMAT_IEEEFP ? 32 : spec.bits;
}

class TiffFixtures : public testing::TestWithParam<TiffSpec> {};

TEST_P(TiffFixtures, ReadEveryPixelByEveryPath) {
    const TiffSpec& spec = GetParam();
    TempDir dir;
    const std::string path = dir.file("fixture.tif");
    writeTiff(path, spec);
    const std::vector<char> bytes = readBytes(path);

    TifFileDevice device(bytes.size(), bytes.data());
    ASSERT_TRUE(device.open(Zan::IoDevice::Read, 0, nullptr));
    EXPECT_EQ(device.sequenceCount(), 1u);

    const TiffLayout layout = presentedLayout(spec);
    const nlohmann::json attributes = device.attributes();
    EXPECT_EQ(attributes["widthPx"], spec.width);
    EXPECT_EQ(attributes["heightPx"], spec.height);
    EXPECT_EQ(attributes["componentCount"], layout.components * layout.planes);
    EXPECT_EQ(attributes["bitsPerComponentInMemory"], layout.bitsStored);
    EXPECT_EQ(attributes["bitsPerComponentSignificant"], expectedUsedBits(spec));
    EXPECT_EQ(attributes["pixelDataType"], spec.sampleFormat == SAMPLEFORMAT_IEEEFP ? "float" : "unsigned");
    EXPECT_EQ(attributes.contains("compressionType"), spec.compression != COMPRESSION_NONE);
    EXPECT_EQ(attributes["tileHeightPx"], spec.tiled() ? spec.tileLength : spec.rowsPerStrip);

    auto frame = device.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    EXPECT_EQ(frame->componentsPerPixel(), layout.components);
    EXPECT_EQ(frame->planes(), layout.planes);
    EXPECT_EQ(frame->interpretation(), layout.colour ? IoImageDataDevice::Colour : IoImageDataDevice::Plain);
    // Decoding problems would pass unnoticed with stop-on-error off.
    frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);

    const Geometry geometry{"tiff",
                            spec.width,
                            spec.height,
                            frame->bitsPerComponentUsed(),
                            frame->bitsPerComponentStored(),
                            layout.components,
                            layout.planes,
                            1,
                            frame->interpretation(),
                            frame->dataFormat()};
    const auto widen = [](std::uint16_t half) {
        return std::bit_cast<std::uint32_t>(Zan::halfToFloat(half));
    };
    expectReadPathsMatch(
        *frame,
        {geometry, [&](long p, long x, long y, long c) { return expectedSample(spec, p, x, y, c, widen); }},
        FrameDevice::Tiff);
}

INSTANTIATE_TEST_SUITE_P(Table, TiffFixtures, testing::ValuesIn(fixtures()),
                         [](const testing::TestParamInfo<TiffSpec>& info) {
                             std::string name = fixtureName(info.param);
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
