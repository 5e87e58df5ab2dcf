// Writing single-frame TIFFs from an attributes document, in strips and tiles, and reading them back: every
// pixel, the attributes, the tags libtiff sees and the file bytes themselves.

#include "TifTestSupport.h"

#include <support/Expect.h>
#include <support/TempDir.h>

#include <io/IoMemoryBuffer.h>
#include <io/IoMemoryDevice.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace ZanTest;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::TifFileDevice;
using json = nlohmann::json;

namespace {

struct WriteCase {
    const char* name;
    long width, height, components, bits, significant;
    bool isFloat;
    const char* compression; // "none", "lossless", "lossy"
    long tileWidth, tileHeight;
    // What the written file reports.
    long tiffTileWidth, tiffTileLength;
};

const WriteCase kWrites[] = {
    {"gray8-strips", 37, 23, 1, 8, 8, false, "none", 0, 0, 0, 0},
    {"gray12in16-tiles-lzw", 37, 23, 1, 16, 12, false, "lossless", 16, 16, 16, 16},
    {"gray16-tiles-rounded-up", 150, 120, 1, 16, 16, false, "none", 100, 100, 112, 112},
    {"gray8-tile-as-wide-as-the-image-strips", 37, 23, 1, 8, 8, false, "none", 37, 8, 0, 0},
    {"rgb8-strips-lossy-is-lzw", 37, 23, 3, 8, 8, false, "lossy", 0, 0, 0, 0},
    {"rgb16-tiles", 37, 23, 3, 16, 16, false, "none", 16, 16, 16, 16},
    {"uint32-tiles", 37, 23, 1, 32, 32, false, "lossless", 16, 16, 16, 16},
    {"float32-strips", 37, 23, 1, 32, 32, true, "none", 0, 0, 0, 0},
    {"four-components8-strips", 37, 23, 4, 8, 8, false, "none", 0, 0, 0, 0},
};

json attributesOf(const WriteCase& c) {
    json a = {{"widthPx", c.width},
              {"heightPx", c.height},
              {"componentCount", c.components},
              {"bitsPerComponentInMemory", c.bits},
              {"bitsPerComponentSignificant", c.significant},
              {"pixelDataType", c.isFloat ? "float" : "unsigned"},
              {"compressionType", c.compression}};
    if (c.tileWidth)
        a["tileWidthPx"] = c.tileWidth, a["tileHeightPx"] = c.tileHeight;
    return a;
}

// Packed frame bytes with a pattern in every sample (samples masked to the significant bits).
std::vector<char> packedFrame(const WriteCase& c) {
    const long bytes = c.bits / 8, count = c.width * c.height * c.components;
    std::vector<char> frame(static_cast<size_t>(count * bytes));
    for (long i = 0; i < count; ++i) {
        std::uint64_t v = (static_cast<std::uint64_t>(i) * 2654435761u) >> 3;
        if (c.isFloat) {
            const float f = static_cast<float>(i % 1000) * 0.5f - 17.0f;
            std::memcpy(&v, &f, 4);
        } else if (c.significant < 64) {
            v &= (std::uint64_t(1) << c.significant) - 1;
        }
        std::memcpy(frame.data() + i * bytes, &v, static_cast<size_t>(bytes));
    }
    return frame;
}

void writeFrame(TifFileDevice& device, const json& attributes, const std::vector<char>& frame, long stride) {
    ASSERT_TRUE(device.open(IoDevice::Write, 0, nullptr));
    device.setAttributes(attributes);
    auto data = device.imageData(0);
    ASSERT_TRUE(data->open(IoImageDataDevice::Write));
    data->setPackedImage(frame.data(), stride);
    data.reset();
    device.close();
}

class Writes : public testing::TestWithParam<WriteCase> {};

TEST_P(Writes, ReadBackAsWritten) {
    const WriteCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("written.tif"), again = dir.file("again.tif");
    const std::vector<char> frame = packedFrame(c);
    const long stride = c.width * c.components * c.bits / 8;
    TifFileDevice writer(path);
    writeFrame(writer, attributesOf(c), frame, stride);
    // Nothing of the heap reaches the file: the same frame written again gives the same bytes.
    TifFileDevice second(again);
    writeFrame(second, attributesOf(c), frame, stride);
    EXPECT_TRUE(readBytes(path) == readBytes(again));

    TifFileDevice reader(path);
    ASSERT_TRUE(reader.open(IoDevice::Read, 0, nullptr));
    const json a = reader.attributes();
    EXPECT_EQ(a["widthPx"], c.width);
    EXPECT_EQ(a["heightPx"], c.height);
    EXPECT_EQ(a["componentCount"], c.components);
    EXPECT_EQ(a["bitsPerComponentInMemory"], c.bits);
    EXPECT_EQ(a["bitsPerComponentSignificant"], c.significant);
    EXPECT_EQ(a["pixelDataType"], c.isFloat ? "float" : "unsigned");
    if (std::string(c.compression) == "none")
        EXPECT_FALSE(a.contains("compressionType"));
    else
        EXPECT_EQ(a["compressionType"], "lossless");
    auto data = reader.imageData(0);
    ASSERT_TRUE(data->open(IoImageDataDevice::Read));
    data->setPropertyInt(IoImageDataDevice::StopOnError, 1);
    EXPECT_EQ(data->interpretation(),
              c.components == 3 ? IoImageDataDevice::Colour : IoImageDataDevice::Plain);
    std::vector<char> back(frame.size() + 16, 'x');
    data->packedImage(back.data(), stride);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), back.begin()));
    EXPECT_EQ(back[frame.size()], 'x');
    data.reset();
    reader.close();

    const TiffTags tags = readTags(path);
    EXPECT_EQ(tags.tileWidth, c.tiffTileWidth);
    EXPECT_EQ(tags.tileLength, c.tiffTileLength);
    EXPECT_EQ(tags.rowsPerStrip, c.tiffTileWidth ? 0 : 1);
    EXPECT_EQ(tags.photometric, c.components == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(tags.compression, std::string(c.compression) == "none" ? COMPRESSION_NONE : COMPRESSION_LZW);
    EXPECT_EQ(tags.sampleFormat, c.isFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    if (c.components == 3) {
        // Memory holds blue, green, red; the file red, green, blue.
        const long s = c.bits / 8;
        EXPECT_EQ(std::memcmp(tags.firstPixel.data(), frame.data() + 2 * s, static_cast<size_t>(s)), 0);
        EXPECT_EQ(std::memcmp(tags.firstPixel.data() + 2 * s, frame.data(), static_cast<size_t>(s)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(RoundTrip, Writes, testing::ValuesIn(kWrites),
                         [](const testing::TestParamInfo<WriteCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

TEST(TifWrite, AThreeComponentChannelIsRgbOnlyWhenTheMetadataSaySo) {
    TempDir dir;
    const WriteCase c = kWrites[4];
    for (int channels : {1, 2}) {
        const std::string path = dir.file("meta" + std::to_string(channels) + ".tif");
        TifFileDevice writer(path);
        ASSERT_TRUE(writer.open(IoDevice::Write, 0, nullptr));
        writer.setAttributes(attributesOf(c));
        json metadata = {{"channels", json::array()}};
        for (int i = 0; i < channels; ++i)
            metadata["channels"].push_back({{"volume", {{"componentCount", 3}}}});
        writer.setMetadata(metadata);
        auto data = writer.imageData(0);
        ASSERT_TRUE(data->open(IoImageDataDevice::Write));
        const std::vector<char> frame = packedFrame(c);
        data->writeCurrentPlane(frame.data(), c.width * 3);
        data.reset();
        writer.close();
        EXPECT_EQ(readTags(path).photometric, channels == 1 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    }
}

TEST(TifWrite, FramesAreWrittenInOrderEachWithTheTagsOfTheFirst) {
    TempDir dir;
    const std::string path = dir.file("pages.tif");
    const WriteCase c = kWrites[0];
    std::vector<char> frame = packedFrame(c);
    frame.push_back(0); // the second frame starts one byte later
    TifFileDevice writer(path);
    ASSERT_TRUE(writer.open(IoDevice::Write, 0, nullptr));
    writer.setAttributes(attributesOf(c));
    for (unsigned page : {0u, 1u}) {
        auto data = writer.imageData(page);
        ASSERT_TRUE(data->open(IoImageDataDevice::Write));
        data->writeCurrentPlane(frame.data() + page, c.width);
    }
    auto skipping = writer.imageData(3);
    skipping->open(IoImageDataDevice::Write);
    ZAN_EXPECT_THROW_MSG(skipping->writeCurrentPlane(frame.data(), c.width), std::logic_error,
                         "TifFileDevice::setCurrentDirectory: must be set sequentially when writing");
    skipping.reset();
    writer.close();

    const auto pages = readPages(path);
    ASSERT_EQ(pages.size(), 2u);
    for (unsigned page : {0u, 1u})
        EXPECT_TRUE(std::equal(pages[page].begin(), pages[page].end(), frame.begin() + page)) << page;
}

TEST(TifWrite, AttributesATiffCannotHoldAreRefused) {
    TempDir dir;
    TifFileDevice writer(dir.file("refused.tif"));
    ASSERT_TRUE(writer.open(IoDevice::Write, 0, nullptr));
    const json base = attributesOf(kWrites[0]);
    const struct {
        const char* key;
        json value;
        const char* message;
    } cases[] = {
        {"bitsPerComponentInMemory", 12, "TifFileDevice::setAttributes: unsigned samples of 12 bits"},
        {"bitsPerComponentInMemory", 1, "TifFileDevice::setAttributes: unsigned samples of 1 bits"},
        {"pixelDataType", "float", "TifFileDevice::setAttributes: floating-point samples of 8 bits"},
        {"widthPx", 0, "TifFileDevice::setAttributes: image of 0 x 23 pixels"},
        {"heightPx", 5000000000L, "TifFileDevice::setAttributes: image of 37 x 5000000000 pixels"},
        {"componentCount", 70000, "TifFileDevice::setAttributes: 70000 components"},
    };
    for (const auto& c : cases) {
        json a = base;
        a[c.key] = c.value;
        ZAN_EXPECT_THROW_MSG(writer.setAttributes(a), std::invalid_argument, c.message);
    }
    writer.close();
}

TEST(TifWrite, AFailedPixelWriteThrowsWhateverStopOnErrorSays) {
    // Fixed memory too small for the frame: libtiff's strip write fails part way.
    std::vector<char> memory(600);
    auto device = std::make_unique<Zan::IoMemoryDevice>(memory.data(), memory.size());
    TifFileDevice writer(std::make_unique<TifFileDevice::Impl>(std::move(device)));
    ASSERT_TRUE(writer.open(IoDevice::Write, 0, nullptr));
    writer.setAttributes(attributesOf(kWrites[0]));
    auto data = writer.imageData(0);
    ASSERT_TRUE(data->open(IoImageDataDevice::Write));
    const std::vector<char> frame = packedFrame(kWrites[0]);
    ZAN_EXPECT_THROW_MSG(data->writeCurrentPlane(frame.data(), 37), std::runtime_error,
                         "TIFFWriteEncodedStrip failed");
    data.reset();
    EXPECT_THROW(writer.close(), std::runtime_error);
    EXPECT_EQ(writer.openMode(), IoDevice::NotOpen);
}

TEST(TifWrite, AMemoryBufferHoldsTheWrittenFile) {
    auto buffer = std::make_unique<Zan::IoMemoryBuffer>();
    Zan::IoMemoryBuffer* bytes = buffer.get();
    TifFileDevice writer(std::make_unique<TifFileDevice::Impl>(std::move(buffer)));
    const std::vector<char> frame = packedFrame(kWrites[5]);
    writeFrame(writer, attributesOf(kWrites[5]), frame, 37 * 6);
    TifFileDevice reader(static_cast<unsigned long>(bytes->size()), bytes->data());
    ASSERT_TRUE(reader.open(IoDevice::Read, 0, nullptr));
    auto data = reader.imageData(0);
    data->open(IoImageDataDevice::Read);
    std::vector<char> back(frame.size());
    data->packedImage(back.data(), 37 * 6);
    EXPECT_TRUE(back == frame);
}

} // namespace

namespace {

TEST(TifWrite, AppendingAddsADirectoryAfterThoseInTheFile) {
    TempDir dir;
    const std::string path = dir.file("appended.tif");
    const WriteCase c = kWrites[0];
    std::vector<char> frame = packedFrame(c);
    frame.push_back(0); // the second frame starts one byte later
    TifFileDevice first(path);
    writeFrame(first, attributesOf(c), frame, c.width);
    TifFileDevice appender(path);
    ASSERT_TRUE(appender.open(IoDevice::Append, 0, nullptr));
    EXPECT_EQ(appender.openMode(), IoDevice::Append);
    appender.setAttributes(attributesOf(c));
    auto data = appender.imageData(0);
    ASSERT_TRUE(data->open(IoImageDataDevice::Write));
    data->writeCurrentPlane(frame.data() + 1, c.width);
    data.reset();
    appender.close();

    const auto pages = readPages(path);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(std::equal(pages[0].begin(), pages[0].end(), frame.begin()));
    EXPECT_TRUE(std::equal(pages[1].begin(), pages[1].end(), frame.begin() + 1));
}

} // namespace
