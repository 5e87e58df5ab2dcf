// The TIFF device as a whole: names, open and close, the documents of a plain TIFF, geometry rules, the
// frame device's cursors and errors, damaged files with stop-on-error on and off, and libtiff's messages.

#include "TifTestSupport.h"

#include <support/Expect.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace ZanTest;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::TifFileDevice;
using json = nlohmann::json;

namespace {

std::vector<char> fixtureBytes(const TiffSpec& spec) {
    TempDir dir;
    const std::string path = dir.file("f.tif");
    writeTiff(path, spec);
    return readBytes(path);
}

struct Opened {
    std::vector<char> bytes;
    std::unique_ptr<TifFileDevice> device;
    std::unique_ptr<IoImageDataDevice> frame;
};

Opened openFixture(const TiffSpec& spec) {
    Opened o{fixtureBytes(spec), nullptr, nullptr};
    o.device = std::make_unique<TifFileDevice>(o.bytes.size(), o.bytes.data());
    if (!o.device->open(IoDevice::Read, 0, nullptr))
        throw std::runtime_error("fixture does not open");
    o.frame = o.device->imageData(0);
    o.frame->open(IoImageDataDevice::Read);
    return o;
}

TEST(TifDevice, NamesAreAcceptedByTheTextAfterTheirLastDot) {
    const struct {
        const char* name;
        bool accepted;
    } names[] = {{"scan.TIF", true},     {"scan.Tiff", true},  {"stack.STK", true},      {"a/b.tif", true},
                 {"scan.tif.gz", false}, {"scan.tifx", false}, {"dir.tif/name.x", false}};
    for (const auto& n : names) {
        EXPECT_EQ(TifFileDevice::isAcceptableFilename(std::string(n.name)), n.accepted) << n.name;
        const std::string narrow(n.name);
        EXPECT_EQ(TifFileDevice::isAcceptableFilename(std::wstring(narrow.begin(), narrow.end())),
                  n.accepted);
    }
    EXPECT_FALSE(TifFileDevice::isAcceptableFilename(std::wstring(L"scan.t\u0130f")));
    // A name without "." is refused rather than raising out_of_range: the devices' name tests are asked in
    // turn, and one that throws would hide the next.
    EXPECT_FALSE(TifFileDevice::isAcceptableFilename(std::string("scan")));
    EXPECT_FALSE(TifFileDevice::isAcceptableFilename(std::wstring(L"scan")));
}

TEST(TifDevice, AClosedDeviceRefusesWhatNeedsAnOpenFile) {
    TifFileDevice device;
    EXPECT_FALSE(device.open(IoDevice::Read, 0, nullptr));
    EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
    EXPECT_EQ(device.filename(), "");
    const std::vector<std::function<void()>> needOpen = {
        [&] { device.close(); },
        [&] { device.sequenceCount(); },
        [&] { device.sequenceIndex({}, nullptr); },
        [&] { device.loopIndexes(0); },
        [&] { device.allLoopIndexes(); },
        [&] { device.rawMetadata(); },
        [&] { device.attributes(); },
        [&] { device.setAttributes(json::object()); },
        [&] { device.metadata(); },
        [&] { device.setMetadata(json::object()); },
        [&] { device.frameMetadata(0, ""); },
        [&] { device.experiment(); },
        [&] { device.textInfo(); },
        [&] { device.imageData(0); },
        [&] { device.customMetadata("x"); },
        [&] { device.customMetadata("x", 0); },
    };
    for (const auto& call : needOpen)
        ZAN_EXPECT_THROW_MSG(call(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.setTextInfo(json()), std::logic_error,
                         "TifFileDevice::setTextInfo not implemented");
    ZAN_EXPECT_THROW_MSG(device.setExperiment(json()), std::logic_error,
                         "TifFileDevice::setExperiment not implemented");
    ZAN_EXPECT_THROW_MSG(device.setFrameMetadata(0, json()), std::logic_error,
                         "TifFileDevice::setFrameMetadata not implemented");
}

TEST(TifDevice, OpenTakesReadWriteAndAppendOnlyAndLeavesNothingOpenWhenItFails) {
    TempDir dir;
    const std::string path = dir.file("modes.tif");
    writeTiff(path, TiffSpec{});
    TifFileDevice device(path);
    EXPECT_FALSE(device.open(IoDevice::Read | IoDevice::Update, 0, nullptr));
    EXPECT_FALSE(device.open(IoDevice::Write | IoDevice::Update, 0, nullptr));
    EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
    int code = 77;
    ASSERT_TRUE(device.open(IoDevice::Read, 3, &code));
    EXPECT_EQ(code, 77);
    EXPECT_EQ(device.openMode(), IoDevice::Read);
    EXPECT_EQ(device.filename(), path);
    ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read, 0, nullptr), std::logic_error, "already open");
    device.close();
    EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
    ZAN_EXPECT_THROW_MSG(device.close(), std::logic_error, "device is not open");
    ASSERT_TRUE(device.open(IoDevice::Read, 0, nullptr));

    const std::string junk = "II*\0 this is not a TIFF directory at all";
    TifFileDevice notTiff(junk.size(), junk.data());
    EXPECT_FALSE(notTiff.open(IoDevice::Read, 0, nullptr));
    EXPECT_FALSE(notTiff.open(IoDevice::Read, 0, nullptr)); // the byte device was closed again
    TifFileDevice missing(dir.file("missing.tif"));
    EXPECT_FALSE(missing.open(IoDevice::Read, 0, nullptr));
}

TEST(TifDevice, FilesOfUnusableTagsAreRefusedAndReleased) {
    TiffSpec doubles;
    doubles.bits = 64;
    doubles.sampleFormat = SAMPLEFORMAT_IEEEFP;
    TiffSpec longs;
    longs.bits = 64;
    TiffSpec twoSampleRgb;
    twoSampleRgb.photometric = PHOTOMETRIC_RGB;
    twoSampleRgb.samples = 2;
    const struct {
        TiffSpec spec;
        const char* message;
    } cases[] = {{doubles, "TifFileDevice: floating-point samples of 64 bits are not supported"},
                 // Integers have no element to be handed out in either.
                 {longs, "TifFileDevice: samples of 64 bits are not supported"},
                 {twoSampleRgb, "TifFileDevice: RGB image of 2 samples per pixel"}};
    for (const auto& c : cases) {
        const std::vector<char> bytes = fixtureBytes(c.spec);
        TifFileDevice device(bytes.size(), bytes.data());
        ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read, 0, nullptr), std::runtime_error, c.message);
        EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
        // The byte device was closed: a second attempt fails the same way, not with "already open".
        ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read, 0, nullptr), std::runtime_error, c.message);
    }
}

TEST(TifDevice, DamagedHeadersAndDirectoriesMakeOpenFailAndLeaveNothingOpen) {
    const std::vector<char> good = fixtureBytes(TiffSpec{});
    ASSERT_EQ(std::string(good.data(), 2), "II");
    std::uint32_t ifd = 0;
    std::memcpy(&ifd, good.data() + 4, 4);
    const auto put32 = [](std::vector<char>& b, std::size_t at, std::uint32_t v) {
        std::memcpy(&b[at], &v, 4);
    };
    const struct {
        const char* what;
        std::function<void(std::vector<char>&)> mutate;
    } cases[] = {
        {"byte order", [](std::vector<char>& b) { b[0] = b[1] = 'X'; }},
        {"version", [](std::vector<char>& b) { b[2] = b[3] = 0; }},
        {"first directory past the end",
         [&](std::vector<char>& b) { put32(b, 4, static_cast<std::uint32_t>(b.size() + 100)); }},
        {"first directory at 0", [&](std::vector<char>& b) { put32(b, 4, 0); }},
        {"entries past the end",
         [&](std::vector<char>& b) { b[ifd] = b[ifd + 1] = static_cast<char>(0xFF); }},
        {"only the header", [](std::vector<char>& b) { b.resize(8); }},
        {"empty", [](std::vector<char>& b) { b.clear(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> bytes = good;
        c.mutate(bytes);
        TifFileDevice device(bytes.size(), bytes.data());
        EXPECT_FALSE(device.open(IoDevice::Read, 0, nullptr));
        EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
        EXPECT_FALSE(device.open(IoDevice::Read, 0, nullptr)); // not "already open"
    }
}

TEST(TifDevice, APlainTiffIsOneFrameWithDocumentsFromItsTags) {
    TempDir dir;
    const std::string path = dir.file("plain.tif");
    TiffSpec spec;
    spec.bits = 16;
    spec.rowsPerStrip = 1000; // beyond the image: one strip of all rows
    writeTiff(path, spec);
    TifFileDevice device(path);
    ASSERT_TRUE(device.open(IoDevice::Read, 0, nullptr));
    EXPECT_EQ(device.sequenceCount(), 1u);
    EXPECT_EQ(device.allLoopIndexes(), std::vector<std::vector<unsigned>>{{}});
    EXPECT_TRUE(device.loopIndexes(0).empty());
    EXPECT_THROW(device.loopIndexes(1), std::out_of_range);
    unsigned index = 9;
    EXPECT_TRUE(device.sequenceIndex({}, &index));
    EXPECT_EQ(index, 0u);
    EXPECT_FALSE(device.sequenceIndex({0}, &index));
    for (const json& nothing : {device.experiment(), device.textInfo(), device.frameMetadata(0, ""),
                                device.customMetadata("a"), device.customMetadata("a", 0)})
        EXPECT_TRUE(nothing.is_null());

    const json raw = device.rawMetadata();
    EXPECT_EQ(raw["Attributes_dic"]["uiWidthBytes_u32"], 76); // 37 x 2 bytes, rounded up to 4
    EXPECT_EQ(raw["Attributes_dic"]["uiTileHeight_u32"], 23);
    const json attributes = device.attributes();
    EXPECT_EQ(attributes["sequenceCount"], 1);
    EXPECT_FALSE(attributes.contains("compressionType"));
    EXPECT_FALSE(attributes.contains("tileHeightPx")); // one strip over the whole image
    const json metadata = device.metadata();
    EXPECT_EQ(metadata["contents"]["channelCount"], 1);
    EXPECT_EQ(metadata.value(json::json_pointer("/channels/0/volume/bitsPerComponentInMemory"), json()), 16);

    auto frame = device.imageData(0);
    long rows = 0;
    EXPECT_TRUE(frame->isStriped(&rows));
    EXPECT_EQ(rows, 23);
}

TEST(TifDevice, DepthsAndLayoutsAreReportedByTheirRules) {
    auto with = [](std::uint16_t bits, int max, std::uint16_t format = SAMPLEFORMAT_UINT) {
        TiffSpec s;
        s.bits = bits;
        s.maxSampleValue = max;
        s.sampleFormat = format;
        return s;
    };
    TiffSpec noRowsPerStrip;
    noRowsPerStrip.rowsPerStrip = 0;
    const struct {
        const char* what;
        TiffSpec spec;
        long stored, used, rowsPerStrip;
    } cases[] = {
        {"12 bits, maximum 4095", with(12, 4095), 16, 12, 5},
        {"16 bits, maximum 4095", with(16, 4095), 16, 12, 5},
        {"16 bits, no maximum", with(16, -1), 16, 16, 5},
        // Maxima that name no depth from 9 to 16 bits fall back to the stored depth.
        {"12 bits, maximum 4096", with(12, 4096), 16, 12, 5},
        {"16 bits, maximum 255", with(16, 255), 16, 16, 5},
        {"16-bit floats", with(16, -1, SAMPLEFORMAT_IEEEFP), 32, 32, 5},
        {"no ROWSPERSTRIP", noRowsPerStrip, 8, 8, 23},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Opened o = openFixture(c.spec);
        EXPECT_EQ(o.frame->bitsPerComponentStored(), c.stored);
        EXPECT_EQ(o.frame->bitsPerComponentUsed(), c.used);
        long rows = 0;
        EXPECT_TRUE(o.frame->isStriped(&rows));
        EXPECT_EQ(rows, c.rowsPerStrip);
        EXPECT_EQ(o.device->attributes()["bitsPerComponentSignificant"], c.used);
    }
    TiffSpec uint32 = with(32, -1);
    EXPECT_EQ(openFixture(uint32).device->attributes()["pixelDataType"], "unsigned");
}

TEST(TifDevice, FrameCursorsFollowStripsAndTiles) {
    TiffSpec striped;
    striped.width = 300;
    striped.height = 40;
    striped.rowsPerStrip = 16;
    Opened s = openFixture(striped);
    s.frame->setCurrentStrip(37);
    EXPECT_EQ(s.frame->currentStrip(), 32);
    s.frame->setCurrentStrip(15);
    EXPECT_EQ(s.frame->currentStrip(), 0);
    ZAN_EXPECT_THROW_MSG(s.frame->setCurrentTile(0, 0), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(s.frame->currentTileX(), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(s.frame->readCurrentTile(nullptr, 1), std::logic_error, "Illegal call");
    EXPECT_EQ(s.frame->lineAlignment(), 1);
    EXPECT_EQ(s.frame->memoryMappedPlane(), nullptr);

    TiffSpec tiled = striped;
    tiled.tileWidth = tiled.tileLength = 256;
    Opened t = openFixture(tiled);
    t.frame->setCurrentTile(300, 10);
    EXPECT_EQ(t.frame->currentTileX(), 256);
    EXPECT_EQ(t.frame->currentTileY(), 0);
    ZAN_EXPECT_THROW_MSG(t.frame->currentStrip(), std::logic_error, "Illegal call");
    ZAN_EXPECT_THROW_MSG(t.frame->setCurrentStrip(0), std::logic_error, "Illegal call");
    // A cursor beyond the frame is refused rather than wrapped into an unsigned position.
    std::vector<char> tile(256 * 256);
    t.frame->setCurrentTile(600, 10);
    EXPECT_THROW(t.frame->readCurrentTile(tile.data(), 256), std::invalid_argument);
    t.frame->setCurrentTile(-300, 0);
    EXPECT_THROW(t.frame->readCurrentTile(tile.data(), 256), std::invalid_argument);
    t.frame->setCurrentTile(0, 0);
    t.frame->setCurrentPlane(1);
    EXPECT_THROW(t.frame->readCurrentTile(tile.data(), 256), std::invalid_argument);
}

TEST(TifDevice, FrameReadsAndWritesCheckTheirModeAndRectanglesAreNotImplemented) {
    Opened o = openFixture(TiffSpec{});
    auto closed = o.device->imageData(0);
    std::vector<char> buffer(37 * 23);
    const std::string prefix = "TifFileDevice::ImageData::";
    ZAN_EXPECT_THROW_MSG(closed->readCurrentPlane(buffer.data(), 37), std::logic_error,
                         prefix + "readCurrentPlane: not radible");
    ZAN_EXPECT_THROW_MSG(closed->readCurrentStrip(buffer.data(), 37), std::logic_error,
                         prefix + "readCurrentStrip: not radible");
    ZAN_EXPECT_THROW_MSG(closed->readCurrentTile(buffer.data(), 37), std::logic_error,
                         prefix + "readCurrentTile: not radible");
    ZAN_EXPECT_THROW_MSG(o.frame->writeCurrentPlane(buffer.data(), 37), std::logic_error,
                         prefix + "writeCurrentPlane: not writable");
    ZAN_EXPECT_THROW_MSG(o.frame->writeCurrentStrip(buffer.data(), 37), std::logic_error,
                         prefix + "writeCurrentStrip: not writable");
    ZAN_EXPECT_THROW_MSG(o.frame->writeCurrentTile(buffer.data(), 37), std::logic_error,
                         prefix + "writeCurrentTile: not writable");
    ZAN_EXPECT_THROW_MSG(o.frame->readCurrentPlaneRect(buffer.data(), 37, {0, 0, 1, 1}), std::logic_error,
                         prefix + "readCurrentPlane: not implemented");
    ZAN_EXPECT_THROW_MSG(o.frame->writeCurrentPlaneRect(buffer.data(), 37, {0, 0, 1, 1}), std::logic_error,
                         prefix + "writeCurrentPlane: not implemented");
    // Frames of this read-only file have one directory.
    auto beyond = o.device->imageData(1);
    beyond->open(IoImageDataDevice::Read);
    EXPECT_THROW(beyond->readCurrentPlane(buffer.data(), 37), std::out_of_range);
    auto far = o.device->imageData(65536);
    far->open(IoImageDataDevice::Read);
    EXPECT_THROW(far->readCurrentPlane(buffer.data(), 37), std::out_of_range);

    // Used after its file was closed, a frame device says so instead of reaching a freed format.
    o.device->close();
    ZAN_EXPECT_THROW_MSG(o.frame->width(), std::logic_error,
                         prefix.substr(0, prefix.size() - 2) + ": the file is closed");
    ZAN_EXPECT_THROW_MSG(o.frame->readCurrentPlane(buffer.data(), 37), std::logic_error,
                         "TifFileDevice::ImageData: the file is closed");
}

// Offset of the first strip's data of a file with one strip per 5 rows.
std::uint64_t firstStripOffset(const std::vector<char>& bytes) {
    TempDir dir;
    const std::string path = dir.file("o.tif");
    writeBytes(path, bytes);
    TIFF* tif = openQuietly(path);
    const std::uint64_t offset = TIFFGetStrileOffset(tif, 0);
    TIFFClose(tif);
    return offset;
}

// Reads the whole plane into a buffer of sentinels, with stop-on-error as given.
std::vector<char> readWith(IoImageDataDevice& frame, int stopOnError, long bytes, long stride) {
    std::vector<char> out(static_cast<size_t>(bytes), static_cast<char>(0xA5));
    frame.setPropertyInt(IoImageDataDevice::StopOnError, stopOnError);
    frame.readCurrentPlane(out.data(), stride);
    return out;
}

TEST(TifDevice, AStripThatFailsToDecodeIsZeroOrThrowsWithStopOnError) {
    TiffSpec spec;
    spec.compression = COMPRESSION_ADOBE_DEFLATE;
    std::vector<char> bytes = fixtureBytes(spec);
    const std::uint64_t damaged = firstStripOffset(bytes);
    for (int i = 0; i < 8; ++i)
        bytes[damaged + i] = static_cast<char>(0xFF); // the zlib header and the first block
    TifFileDevice device(bytes.size(), bytes.data());
    ASSERT_TRUE(device.open(IoDevice::Read, 0, nullptr));
    auto frame = device.imageData(0);
    frame->open(IoImageDataDevice::Read);
    ZAN_EXPECT_THROW_MSG(readWith(*frame, 1, 37 * 23, 37), std::runtime_error, "TIFFReadEncodedStrip failed");
    const std::vector<char> out = readWith(*frame, 0, 37 * 23, 37);
    // The first strip's rows are zero, whatever the caller had there; the rest are read.
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 5 * 37, [](char c) { return c == 0; }));
    for (long y = 5; y < 23; ++y)
        for (long x = 0; x < 37; ++x)
            ASSERT_EQ(static_cast<unsigned char>(out[y * 37 + x]), storedSample(spec, 0, x, y))
                << x << " " << y;
}

TEST(TifDevice, DepthsWithoutAConversionAreReportedAndReadAsZeros) {
    TiffSpec fiveBits;
    fiveBits.bits = 5;
    TiffSpec fiveBitRgb = fiveBits;
    fiveBitRgb.photometric = PHOTOMETRIC_RGB;
    fiveBitRgb.samples = 3;
    TiffSpec sixBitPalette;
    sixBitPalette.photometric = PHOTOMETRIC_PALETTE;
    sixBitPalette.bits = 6;
    const struct {
        TiffSpec spec;
        long bytes, stride;
        const char* message;
    } cases[] = {{fiveBits, 37 * 23, 37, "unexpected bits per sample"},
                 {fiveBitRgb, 37 * 23 * 3, 37 * 3, "unexpected bits per sample"},
                 {sixBitPalette, 37 * 23 * 3, 37 * 3, "unexpected bits per sample (palette)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(fixtureName(c.spec));
        Opened o = openFixture(c.spec);
        ZAN_EXPECT_THROW_MSG(readWith(*o.frame, 1, c.bytes, c.stride), std::runtime_error, c.message);
        // Not the caller's bytes, nor a scratch line's: zeros.
        const std::vector<char> quiet = readWith(*o.frame, 0, c.bytes, c.stride);
        EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](char b) { return b == 0; }));
    }
}

int processWideErrors = 0;
void countError(const char*, const char*, va_list) {
    ++processWideErrors;
}

TEST(TifDevice, LibtiffMessagesOfOurHandlesAreDroppedAndOtherUsersKeepTheirHandlers) {
    TiffSpec spec;
    spec.compression = COMPRESSION_ADOBE_DEFLATE;
    std::vector<char> bytes = fixtureBytes(spec);
    const std::uint64_t damaged = firstStripOffset(bytes);
    for (int i = 0; i < 8; ++i)
        bytes[damaged + i] = static_cast<char>(0xFF);

    const TIFFErrorHandler before = TIFFSetErrorHandler(countError);
    TempDir dir;
    const std::string captured = dir.file("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(2);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    {
        TifFileDevice device(bytes.size(), bytes.data());
        ASSERT_TRUE(device.open(IoDevice::Read, 0, nullptr));
        auto frame = device.imageData(0);
        frame->open(IoImageDataDevice::Read);
        readWith(*frame, 0, 37 * 23, 37);
        const std::string junk = "MM\0*\0\0\0\x08\0\x01\x01\x00";
        TifFileDevice notTiff(junk.size(), junk.data());
        notTiff.open(IoDevice::Read, 0, nullptr);
    }
    std::fflush(stderr);
    dup2(saved, 2);
    ::close(saved);
    ::close(file);
    EXPECT_EQ(readBytes(captured).size(), 0u);
    EXPECT_EQ(processWideErrors, 0);
    // Our opens left the process-wide handler as it was.
    EXPECT_EQ(TIFFSetErrorHandler(before), countError);
}

TEST(TifPixelConversion, PackedLinesStartAtByteOffsetsWhateverTheirDepth) {
    // Two lines of three 12-bit samples, 5 bytes each: 0x123 0x456 0x789 | 0xABC 0xDEF 0x012.
    const std::vector<unsigned char> packed = {0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF, 0x01, 0x20};
    std::vector<std::uint16_t> out(6, 0);
    for (unsigned long line : {0ul, 1ul})
        Zan::unpackLine(out.data(), 6, packed.data(), 5, line, 12, 3, false, nullptr);
    EXPECT_EQ(out, (std::vector<std::uint16_t>{0x123, 0x456, 0x789, 0xABC, 0xDEF, 0x012}));

    const std::vector<unsigned char> twoBits = {0b10011100};
    std::vector<unsigned char> bytes(4);
    Zan::unpackLine(bytes.data(), 0, twoBits.data(), 0, 0, 2, 4, true, nullptr);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{191, 127, 255, 63}));
    std::string reported;
    Zan::unpackLine(bytes.data(), 0, twoBits.data(), 0, 0, 5, 1, false, [&](const char* m) { reported = m; });
    EXPECT_EQ(reported, "unexpected bits per sample");
}

TEST(TifPixelConversion, ConversionRefusesMissingBuffersAndSourcesShorterThanTheirRows) {
    // The checks come before the handle is touched: a format without one serves.
    TifFileDevice::BaseFormat format(nullptr);
    char dst[64] = {};
    char src[30] = {};
    const std::string noDst = "TifFileDevice::BaseFormat::currentData got null dst argument";
    const std::string noSrc = "TifFileDevice::BaseFormat::currentData got null src argument";
    const struct {
        const char* what;
        void* dst;
        unsigned long dstStride;
        void* src;
        unsigned long srcSize, srcStride;
        unsigned width, rows;
        const std::string& message;
    } cases[] = {
        {"no destination", nullptr, 10, src, 30, 10, 10, 3, noDst},
        {"destination stride 0", dst, 0, src, 30, 10, 10, 3, noDst},
        {"no source", dst, 10, nullptr, 30, 10, 10, 3, noSrc},
        {"source of 0 bytes", dst, 10, src, 0, 10, 10, 3, noSrc},
        {"width 0", dst, 10, src, 30, 10, 0, 3, noSrc},
        {"no rows", dst, 10, src, 30, 10, 10, 0, noSrc},
        {"source one byte short of its rows", dst, 10, src, 29, 10, 10, 3, noSrc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZAN_EXPECT_THROW_MSG(
            format.currentData(c.dst, c.dstStride, c.src, c.srcSize, c.srcStride, c.width, c.rows, 0),
            std::invalid_argument, c.message);
    }
}

TEST(TifPixelConversion, HalfFloatsWidenExactly) {
    const struct {
        std::uint16_t half;
        float value;
    } cases[] = {
        {0x3C00, 1.0f}, {0xC000, -2.0f},           {0x7BFF, 65504.0f}, {0x0001, 5.9604644775390625e-8f},
        {0x0000, 0.0f}, {0x3555, 0.333251953125f}, {0x7C00, INFINITY}};
    for (const auto& c : cases)
        EXPECT_EQ(Zan::halfToFloat(c.half), c.value) << std::hex << c.half;
    EXPECT_TRUE(std::isnan(Zan::halfToFloat(0x7E00)));
    EXPECT_TRUE(std::signbit(Zan::halfToFloat(0x8000)));
}

} // namespace
