// The C interface read through its C client (CapiClient.c) and compared with what the class library reads
// from the same native and TIFF files.

#include "CapiClient.h"

#include <support/DamagedTiffs.h>
#include <support/NativeFiles.h>
#include <support/TempDir.h>
#include <support/TiffFixtures.h>
#include <support/TiffPrivateTagFiles.h>

#include <io/IoFileDevice.h>
#include <io/StringConversions.h>
#include <legacy/VkDiagnostics.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using nlohmann::json;
using Zan::IoImageDataDevice;
using Zan::IoImageFileDevice;
using ZanTest::NativeGeometry;
using ZanTest::TempDir;

std::wstring wide(const std::string& name) {
    return Zan::StringConversions::utf8_to_wstring(name);
}

void expectClean(const CapiReport& report) {
    EXPECT_GT(report.checks, 0);
    EXPECT_EQ(report.failures, 0) << report.text;
}

// A text from the interface, released.
std::string taken(char* text) {
    if (!text)
        return "(null)";
    std::string copy(text);
    Zan_FileFreeString(text);
    return copy;
}

// The C interface's text of a class-library document: null for the wrong kind.
std::string expectedText(const json& document, json::value_t kind) {
    return document.type() == kind ? document.dump(2) : "(null)";
}

// The pixel bytes of rows of widthBytes bytes, without the padding at their ends (which no one writes).
std::vector<unsigned char> pixelBytes(const void* rows, std::size_t widthBytes, std::size_t pixelRowBytes,
                                      std::size_t height) {
    std::vector<unsigned char> pixels;
    for (std::size_t y = 0; y < height; ++y) {
        const auto* row = static_cast<const unsigned char*>(rows) + y * widthBytes;
        pixels.insert(pixels.end(), row, row + pixelRowBytes);
    }
    return pixels;
}

long sampleBytes(long bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
}

std::size_t pixelRowBytes(const CapiExpected& expected, long storedBits) {
    return expected.width * expected.components * static_cast<std::size_t>(sampleBytes(storedBits));
}

// Frame f as the class library packs it, rows aligned to 4 bytes, without their padding.
std::vector<unsigned char> packedFrame(IoImageFileDevice& file, unsigned f) {
    const auto frame = file.imageData(f);
    frame->open(IoImageDataDevice::Read);
    const long line = frame->packedLineSize(4);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(line * frame->height()));
    frame->packedImage(bytes.data(), line);
    return pixelBytes(
        bytes.data(), static_cast<std::size_t>(line),
        static_cast<std::size_t>(frame->width() * frame->channels() * frame->bytesPerComponent()),
        static_cast<std::size_t>(frame->height()));
}

// Runs the C client over a file and compares every document and the last frame with the class library.
void readAndCompare(IoImageFileDevice& reference, const std::string& path, const CapiExpected& expected,
                    long storedBits) {
    CapiReport report{};
    Zan_Picture last{};
    const std::wstring wideName = wide(path);
    capiReadFile(&report, path.c_str(), wideName.c_str(), &expected, &last);
    expectClean(report);
    ASSERT_TRUE(reference.open(Zan::IoDevice::Read, 3, nullptr));
    if (last.imageData) {
        EXPECT_EQ(
            pixelBytes(last.imageData, last.widthBytes, pixelRowBytes(expected, storedBits), last.height),
            packedFrame(reference, expected.frames - 1));
    }
    Zan_DestroyPicture(&last);

    Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(taken(Zan_FileGetAttributes(file)),
              expectedText(reference.attributes(), json::value_t::object));
    EXPECT_EQ(taken(Zan_FileGetMetadata(file)), expectedText(reference.metadata(), json::value_t::object));
    EXPECT_EQ(taken(Zan_FileGetTextinfo(file)), expectedText(reference.textInfo(), json::value_t::object));
    EXPECT_EQ(taken(Zan_FileGetExperiment(file)), expectedText(reference.experiment(), json::value_t::array));
    for (unsigned f = 0; f < expected.frames; ++f)
        EXPECT_EQ(taken(Zan_FileGetFrameMetadata(file, f)),
                  expectedText(reference.frameMetadata(f, ""), json::value_t::object));
    Zan_FileClose(file);
    reference.close();
}

// ---- Native files

struct NativeCase {
    NativeGeometry geometry;
    unsigned pictureBits; // what a picture sized for the frame says
};

void PrintTo(const NativeCase& c, std::ostream* out) {
    *out << c.geometry.name;
}

class CapiNativeFile : public ::testing::TestWithParam<NativeCase> {};

TEST_P(CapiNativeFile, ClientReadsWhatTheClassLibraryReads) {
    const NativeGeometry& g = GetParam().geometry;
    TempDir dir;
    const std::string path = dir.file(std::string(g.name) + ".qpx");
    constexpr unsigned frames = 3;
    Zan::QpxFileDevice writer(path);
    ZanTest::writeNativeFile(writer, g, frames);

    const CapiExpected expected{static_cast<unsigned>(g.width),
                                static_cast<unsigned>(g.height),
                                GetParam().pictureBits,
                                static_cast<unsigned>(g.components),
                                static_cast<std::size_t>(ZanTest::nativeLineBytes(g)),
                                frames,
                                1,
                                "TimeLoop",
                                1};
    Zan::QpxFileDevice reference(path);
    readAndCompare(reference, path, expected, g.bitsStored);

    // The pixels are the ones written, whatever the class library does.
    Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
    Zan_Picture picture{};
    ASSERT_EQ(Zan_FileGetImageData(file, 1, &picture), 0);
    const Zan::ByteVector plane = ZanTest::nativePlane(g, 1);
    ASSERT_EQ(picture.size, plane.size());
    const std::size_t rowBytes = pixelRowBytes(expected, g.bitsStored);
    EXPECT_EQ(pixelBytes(picture.imageData, picture.widthBytes, rowBytes, picture.height),
              pixelBytes(plane.data(), picture.widthBytes, rowBytes, picture.height));
    // Row padding, which frame reads do not write, holds zeros rather than whatever the heap held.
    const auto* bytes = static_cast<const unsigned char*>(picture.imageData);
    for (std::size_t row = 0; row < picture.height; ++row)
        for (std::size_t i = rowBytes; i < picture.widthBytes; ++i)
            EXPECT_EQ(bytes[row * picture.widthBytes + i], 0) << "row " << row << " byte " << i;
    Zan_DestroyPicture(&picture);
    Zan_FileClose(file);
}

TEST_P(CapiNativeFile, FailureResults) {
    const NativeGeometry& g = GetParam().geometry;
    TempDir dir;
    const std::string path = dir.file("file.qpx");
    Zan::QpxFileDevice writer(path);
    ZanTest::writeNativeFile(writer, g, 2);
    const CapiExpected expected{static_cast<unsigned>(g.width),
                                static_cast<unsigned>(g.height),
                                GetParam().pictureBits,
                                static_cast<unsigned>(g.components),
                                static_cast<std::size_t>(ZanTest::nativeLineBytes(g)),
                                2,
                                1,
                                "TimeLoop",
                                1};
    CapiReport report{};
    capiFailuresOnFile(&report, path.c_str(), &expected);
    expectClean(report);
}

// A 3-pixel-wide 8-bit frame takes rows of 4 bytes. Frames whose significant bits take fewer bytes than
// the stored ones get pictures of the stored depth: the frame is handed out as stored.
INSTANTIATE_TEST_SUITE_P(Geometries, CapiNativeFile,
                         ::testing::Values(NativeCase{{"gray8_3px", 3, 5, 8, 8, 1}, 8},
                                           NativeCase{{"gray16", 37, 11, 16, 16, 1}, 16},
                                           NativeCase{{"gray12_in16", 9, 4, 12, 16, 1}, 12},
                                           NativeCase{{"gray8_in16", 5, 3, 8, 16, 1}, 16},
                                           NativeCase{{"rgb8", 7, 3, 8, 8, 3}, 8},
                                           NativeCase{{"float32", 6, 4, 32, 32, 2}, 32},
                                           NativeCase{{"gray16_zlib", 33, 9, 16, 16, 1, true}, 16}),
                         [](const auto& info) { return std::string(info.param.geometry.name); });

// ---- TIFF files

struct TiffCase {
    ZanTest::TiffSpec spec;
    unsigned components;
};

ZanTest::TiffSpec tiffSpec(std::uint32_t width, std::uint16_t bits, std::uint16_t samples,
                           std::uint16_t photometric, std::uint16_t planar = PLANARCONFIG_CONTIG,
                           std::uint32_t tile = 0) {
    ZanTest::TiffSpec spec;
    spec.width = width;
    spec.height = 7;
    spec.bits = bits;
    spec.samples = samples;
    spec.photometric = photometric;
    spec.planar = planar;
    spec.tileWidth = spec.tileLength = tile;
    return spec;
}

void PrintTo(const TiffCase& c, std::ostream* out) {
    *out << ZanTest::fixtureName(c.spec);
}

class CapiTiffFile : public ::testing::TestWithParam<TiffCase> {};

TEST_P(CapiTiffFile, ClientReadsWhatTheClassLibraryReads) {
    const ZanTest::TiffSpec& spec = GetParam().spec;
    TempDir dir;
    const std::string path = dir.file(ZanTest::fixtureName(spec) + ".tif");
    ZanTest::writeTiff(path, spec);
    const long bits = spec.bits;
    const CapiExpected expected{
        spec.width,
        spec.height,
        static_cast<unsigned>(bits),
        GetParam().components,
        static_cast<std::size_t>((spec.width * sampleBytes(bits) * GetParam().components + 3) / 4 * 4),
        1,
        0,
        "",
        0};
    Zan::TifFileDevice reference(path);
    readAndCompare(reference, path, expected, bits);
    CapiReport report{};
    capiFailuresOnFile(&report, path.c_str(), &expected);
    expectClean(report);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CapiTiffFile,
    ::testing::Values(TiffCase{tiffSpec(3, 8, 1, PHOTOMETRIC_MINISBLACK), 1},
                      TiffCase{tiffSpec(37, 16, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 16), 1},
                      TiffCase{tiffSpec(10, 8, 3, PHOTOMETRIC_RGB), 3},
                      TiffCase{tiffSpec(9, 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE), 3}),
    [](const auto& info) {
        std::string name = ZanTest::fixtureName(info.param.spec);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// ---- Names and arguments

TEST(CapiNames, ExtensionsInAnyCaseChooseTheDevice) {
    TempDir dir;
    const NativeGeometry g{"gray8", 4, 2, 8, 8, 1};
    Zan::QpxFileDevice writer(dir.file("a.qpx"));
    ZanTest::writeNativeFile(writer, g, 1);
    ZanTest::writeTiff(dir.file("a.tif"), tiffSpec(4, 8, 1, PHOTOMETRIC_MINISBLACK));
    const auto copy = [&](const char* from, const char* to) {
        std::filesystem::copy_file(dir.file(from), dir.file(to));
    };
    copy("a.qpx", "UPPER.QPX");
    copy("a.qpx", "Mixed.QpX");
    copy("a.tif", "UPPER.TIF");
    copy("a.tif", "b.tiff");
    for (const char* name : {"a.qpx", "UPPER.QPX", "Mixed.QpX", "a.tif", "UPPER.TIF", "b.tiff"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        Zan_FileHandle narrow = Zan_FileOpenForReadUtf8(path.c_str());
        Zan_FileHandle wideOpen = Zan_FileOpenForRead(wide(path).c_str());
        EXPECT_EQ(Zan_FileGetSeqCount(narrow), 1u);
        EXPECT_EQ(Zan_FileGetSeqCount(wideOpen), 1u);
        Zan_FileClose(narrow);
        Zan_FileClose(wideOpen);
    }
    // Existing files under names that neither device takes, a native file under a TIFF name and missing
    // files of both kinds.
    copy("a.qpx", "a.json");
    copy("a.qpx", "noextension");
    copy("a.qpx", "native.tif");
    copy("a.tif", "tiff.qpx");
    std::vector<std::string> names;
    for (const char* name : {"a.json", "noextension", "native.tif", "tiff.qpx", "missing.qpx", "missing.tif",
                             "", "a.", "dir.qpx/"})
        names.push_back(dir.file(name));
    names.push_back("");
    std::vector<std::wstring> wideNames;
    std::vector<const char*> narrowPointers;
    std::vector<const wchar_t*> widePointers;
    for (const std::string& name : names)
        wideNames.push_back(wide(name));
    for (std::size_t i = 0; i < names.size(); ++i) {
        narrowPointers.push_back(names[i].c_str());
        widePointers.push_back(wideNames[i].c_str());
    }
    CapiReport report{};
    capiRefuseNames(&report, narrowPointers.data(), widePointers.data(), names.size());
    expectClean(report);
}

TEST(CapiNames, NonAsciiNamesOpenByBothKinds) {
    TempDir dir;
    const std::string path = dir.file("\xc3\xa9t\xc3\xa9 \xe6\x97\xa5.qpx");
    Zan::QpxFileDevice writer(path);
    ZanTest::writeNativeFile(writer, NativeGeometry{"gray8", 4, 2, 8, 8, 1}, 2);
    Zan_FileHandle narrow = Zan_FileOpenForReadUtf8(path.c_str());
    Zan_FileHandle wideOpen = Zan_FileOpenForRead(wide(path).c_str());
    EXPECT_EQ(Zan_FileGetSeqCount(narrow), 2u);
    EXPECT_EQ(Zan_FileGetSeqCount(wideOpen), 2u);
    Zan_FileClose(narrow);
    Zan_FileClose(wideOpen);
}

TEST(CapiArguments, NullArgumentsGiveTheFailureResults) {
    CapiReport report{};
    capiNullArguments(&report);
    expectClean(report);
}

TEST(CapiPictures, InitialisationSizesRowsAndRefusesOverflow) {
    CapiReport report{};
    capiInitPictures(&report);
    expectClean(report);
}

TEST(CapiPictures, RowBytesByDepthAlignmentAndLimits) {
    struct Case {
        unsigned width, bits, components, alignment;
        std::size_t bytes;
    };
    for (const Case& c :
         std::vector<Case>{{3, 8, 1, 4, 4},
                           {3, 8, 1, 1, 3},
                           {3, 8, 1, 8, 8},
                           {5, 12, 1, 4, 12},
                           {5, 16, 3, 2, 30},
                           {5, 17, 1, 4, 20},
                           {5, 64, 1, 4, 40},
                           {5, 0, 1, 4, 0},
                           {5, 65, 1, 4, 0},
                           {5, 8, 1, 0, 0},
                           {0xFFFFFFFFu, 64, 0xFFFFFFFFu, 4, 0},
                           {0xFFFFFFFFu, 64, 0x1FFFFFFFu, 4, 0xFFFFFFF7E0000008ull - 0xE0000000ull}}) {
        SCOPED_TRACE(std::to_string(c.width) + " " + std::to_string(c.bits) + " " +
                     std::to_string(c.components) + " " + std::to_string(c.alignment));
        EXPECT_EQ(calcWidthBytes(c.width, c.bits, c.components, c.alignment), c.bytes);
    }
}

// ---- Damaged files and diagnostics

// Standard output of this process while body runs.
template <typename Body>
std::string standardOutputOf(Body&& body) {
    std::fflush(stdout);
    char name[] = "/tmp/capi-stdout-XXXXXX";
    const int capture = ::mkstemp(name);
    const int saved = ::dup(1);
    ::dup2(capture, 1);
    body();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::string text;
    ::lseek(capture, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = ::read(capture, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(capture);
    ::unlink(name);
    return text;
}

// A version 2 native file whose attributes chunk holds damaged XML, which the legacy layer reports.
void writeDamagedMetadataFile(const std::string& path) {
    Zan::QpxFileDevice::ChunkedDevice chunked(std::make_unique<Zan::IoFileDevice>(path));
    chunked.setVersion({2, 0});
    ASSERT_TRUE(chunked.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
    // Declarations are refused, and said so.
    const std::string damaged = "<!DOCTYPE variant SYSTEM \"file:///etc/passwd\"><variant version=\"1.0\"/>";
    chunked.storeChunk("ImageAttributes!", damaged.data(), damaged.size());
    chunked.storeChunk("ImageMetadata!", damaged.data(), damaged.size());
    chunked.close();
}

// Every query of a file that opens but whose metadata cannot be read.
void queryEverything(Zan_FileHandle file) {
    char type[8] = "";
    unsigned coords[1] = {0};
    unsigned index = 0;
    Zan_Picture picture{};
    EXPECT_EQ(Zan_FileGetCoordSize(file), 0u);
    EXPECT_EQ(Zan_FileGetCoordInfo(file, 0, type, sizeof type), 0u);
    EXPECT_EQ(Zan_FileGetSeqCount(file), 0u);
    EXPECT_EQ(Zan_FileGetSeqIndexFromCoords(file, coords, 1, &index), 0);
    EXPECT_EQ(Zan_FileGetCoordsFromSeqIndex(file, 0, coords, 1), 0u);
    EXPECT_EQ(taken(Zan_FileGetAttributes(file)), "(null)");
    EXPECT_EQ(taken(Zan_FileGetMetadata(file)), "(null)");
    EXPECT_EQ(taken(Zan_FileGetFrameMetadata(file, 0)), "(null)");
    EXPECT_EQ(taken(Zan_FileGetTextinfo(file)), "(null)");
    EXPECT_EQ(taken(Zan_FileGetExperiment(file)), "(null)");
    EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), -9);
    Zan_DestroyPicture(&picture);
}

TEST(CapiDamagedFiles, DamagedMetadataFailsQuietly) {
    TempDir dir;
    const std::string path = dir.file("damaged.qpx");
    writeDamagedMetadataFile(path);
    {
        // The class library itself reports the damage through the legacy diagnostics.
        ZanLegacy::CVkDiagnosticCapture diagnostics;
        Zan::QpxFileDevice device(path);
        ASSERT_TRUE(device.open(Zan::IoDevice::Read, 3, nullptr));
        EXPECT_ANY_THROW(device.attributes());
        ASSERT_NE(diagnostics.Text(), "");
    }
    const std::string printed = standardOutputOf([&] {
        Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
        ASSERT_NE(file, nullptr);
        queryEverything(file);
        Zan_FileClose(file);
    });
    EXPECT_EQ(printed, "");
}

TEST(CapiDamagedFiles, OtherThreadsKeepTheirDiagnostics) {
    TempDir dir;
    const std::string path = dir.file("damaged.qpx");
    writeDamagedMetadataFile(path);
    constexpr int lines = 200;
    const std::string printed = standardOutputOf([&] {
        std::thread other([&] {
            for (int i = 0; i < lines; ++i)
                ZanLegacy::VkPrintDiagnostic(L"other thread\n");
        });
        for (int i = 0; i < 20; ++i) {
            Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
            EXPECT_EQ(taken(Zan_FileGetAttributes(file)), "(null)");
            Zan_FileClose(file);
        }
        other.join();
    });
    std::string expected;
    for (int i = 0; i < lines; ++i)
        expected += "other thread\n";
    EXPECT_EQ(printed, expected);
}

TEST(CapiDamagedFiles, TruncatedAndForeignFilesOpenNothing) {
    TempDir dir;
    const NativeGeometry g{"gray16", 64, 16, 16, 16, 1};
    Zan::QpxFileDevice writer(dir.file("whole.qpx"));
    ZanTest::writeNativeFile(writer, g, 2);
    const std::vector<char> whole = ZanTest::readBytes(dir.file("whole.qpx"));
    ZanTest::writeTiff(dir.file("whole.tif"), tiffSpec(64, 16, 1, PHOTOMETRIC_MINISBLACK));
    const std::vector<char> tiff = ZanTest::readBytes(dir.file("whole.tif"));
    // Native files lose their chunk map with their tail, TIFFs written by libtiff their directory.
    const std::vector<std::pair<std::string, std::vector<char>>> files = {
        {"empty.qpx", {}},
        {"empty.tif", {}},
        {"header.qpx", {whole.begin(), whole.begin() + 64}},
        {"half.qpx", {whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)}},
        {"notail.qpx", {whole.begin(), whole.end() - 40}},
        {"half.tif", {tiff.begin(), tiff.begin() + static_cast<long>(tiff.size() / 2)}},
        {"header.tif", {tiff.begin(), tiff.begin() + 8}},
        {"text.qpx", {'h', 'e', 'l', 'l', 'o'}},
    };
    const std::string printed = standardOutputOf([&] {
        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(name);
            ZanTest::writeBytes(dir.file(name), bytes);
            Zan_FileHandle file = Zan_FileOpenForReadUtf8(dir.file(name).c_str());
            EXPECT_EQ(file, nullptr);
            Zan_FileClose(file);
        }
    });
    EXPECT_EQ(printed, "");
}

// A C client's record before a fetch: empty, with whatever its other fields held.
Zan_Picture emptyRecord() {
    Zan_Picture picture{};
    picture.width = 77;
    picture.height = 5;
    picture.bitsPerComponent = 3;
    picture.components = 9;
    picture.widthBytes = 11;
    return picture;
}

void expectEmptyRecord(const Zan_Picture& picture) {
    const Zan_Picture before = emptyRecord();
    EXPECT_EQ(picture.imageData, nullptr);
    EXPECT_EQ(picture.size, 0u);
    EXPECT_EQ(picture.width, before.width);
    EXPECT_EQ(picture.height, before.height);
    EXPECT_EQ(picture.bitsPerComponent, before.bitsPerComponent);
    EXPECT_EQ(picture.components, before.components);
    EXPECT_EQ(picture.widthBytes, before.widthBytes);
}

TEST(CapiDamagedFiles, DamagedTiffFramesFailAndAnEmptyPictureStaysEmpty) {
    TempDir dir;
    std::vector<ZanTest::DamagedTiff> files = ZanTest::damagedTiffs();
    // 60000 x 60000 pixels in some 200 bytes: refused, not handed out as 3.6 GB of zeros.
    ZanTest::FlatDirectory huge;
    huge.width = huge.height = huge.rowsPerStrip = 60000;
    ZanTest::DamagedTiff absurd{
        "absurd_60000", {}, ZanTest::layOutTiff(huge, {std::vector<char>(50, 7)}).bytes, {true}};
    absurd.spec.width = absurd.spec.height = 60000;
    files.push_back(absurd);
    for (const ZanTest::DamagedTiff& d : files) {
        SCOPED_TRACE(d.name);
        const std::string path = dir.file(d.name + ".tif");
        ZanTest::writeBytes(path, d.bytes);
        Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
        ASSERT_NE(file, nullptr);
        Zan_Picture picture = emptyRecord();
        EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), -9);
        expectEmptyRecord(picture);
        // Nor does a picture made for the frame get zeros where pixels could not be read, and success.
        const ZanTest::TiffLayout layout = ZanTest::presentedLayout(d.spec);
        Zan_Picture sized{};
        if (d.spec.width < 10000) {
            ASSERT_GT(Zan_InitPicture(&sized, d.spec.width, d.spec.height,
                                      static_cast<unsigned>(layout.bitsStored),
                                      static_cast<unsigned>(layout.components)),
                      0u);
            EXPECT_EQ(Zan_FileGetImageData(file, 0, &sized), -9);
            Zan_DestroyPicture(&sized);
        }
        Zan_FileClose(file);
    }
}

TEST(CapiDamagedFiles, NativeFramesFailBeforeAPictureIsMadeForThem) {
    TempDir dir;
    // Attributes of 100000 x 100000 pixels in a file of no frame: the frame does not open, and nothing is
    // allocated for it.
    const std::string hugePath = dir.file("huge.qpx");
    {
        Zan::QpxFileDevice writer(hugePath);
        ASSERT_TRUE(writer.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
        writer.setRawMetadata(ZanTest::nativeRaw(NativeGeometry{"huge", 100000, 100000, 16, 16, 1}, 1));
        writer.close();
    }
    ASSERT_LT(std::filesystem::file_size(hugePath), 64u << 10);
    Zan_FileHandle file = Zan_FileOpenForReadUtf8(hugePath.c_str());
    ASSERT_NE(file, nullptr);
    Zan_Picture picture = emptyRecord();
    EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), -9);
    expectEmptyRecord(picture);
    Zan_FileClose(file);

    // A compressed frame whose stream is damaged fails; the frames beside it read.
    const NativeGeometry g{"gray16_zlib", 33, 9, 16, 16, 1, true};
    const std::string path = dir.file("zlib.qpx");
    Zan::QpxFileDevice writer(path);
    ZanTest::writeNativeFile(writer, g, 3);
    unsigned long size = 0;
    long at = 0;
    {
        Zan::QpxFileDevice::ChunkedDevice chunked(std::make_unique<Zan::IoFileDevice>(path));
        ASSERT_TRUE(chunked.open(Zan::IoDevice::Read, 3, nullptr));
        at = chunked.chunkDataOffset("ImageDataSeq|1!", &size);
        chunked.close();
    }
    ASSERT_GT(size, 24u);
    std::vector<char> bytes = ZanTest::readBytes(path);
    for (unsigned long i = 10; i < 20; ++i)
        bytes[static_cast<std::size_t>(at) + i] ^= static_cast<char>(0xFF);
    ZanTest::writeBytes(path, bytes);
    file = Zan_FileOpenForReadUtf8(path.c_str());
    ASSERT_NE(file, nullptr);
    for (unsigned f = 0; f < 3; ++f) {
        SCOPED_TRACE(f);
        picture = emptyRecord();
        EXPECT_EQ(Zan_FileGetImageData(file, f, &picture), f == 1 ? -9 : 0);
        if (f == 1)
            expectEmptyRecord(picture);
        Zan_DestroyPicture(&picture);
    }
    Zan_FileClose(file);
}

// ---- Private-tag TIFF files whose directories differ from the one the frames' geometry comes from

std::vector<unsigned char> expectedGray(const ZanTest::TiffSpec& spec) {
    std::vector<unsigned char> pixels;
    for (std::uint32_t y = 0; y < spec.height; ++y)
        for (std::uint32_t x = 0; x < spec.width; ++x)
            pixels.push_back(static_cast<unsigned char>(ZanTest::expectedSample(spec, 0, x, y, 0, {})));
    return pixels;
}

// A frame of two directories, one a plane: the blobs' directory (the second) gives the frame's geometry.
TEST(CapiPrivateTagFiles, DirectoriesStoredOtherwiseReadRightAndDirectoriesOfAnotherGeometryFail) {
    TempDir dir;
    const struct {
        const char* name;
        std::function<void(unsigned, ZanTest::TiffSpec&)> vary;
        int result;
    } cases[] = {
        {"rows_per_strip_4_then_2", [](unsigned d, ZanTest::TiffSpec& s) { s.rowsPerStrip = d == 0 ? 4 : 2; },
         0},
        {"striped_then_tiled",
         [](unsigned d, ZanTest::TiffSpec& s) { s.tileWidth = s.tileLength = d == 0 ? 0 : 16; }, 0},
        {"16_bits_then_8", [](unsigned d, ZanTest::TiffSpec& s) { s.bits = d == 0 ? 16 : 8; }, -9},
        {"rgb_then_grey",
         [](unsigned d, ZanTest::TiffSpec& s) {
             if (d == 0) {
                 s.photometric = PHOTOMETRIC_RGB;
                 s.samples = 3;
             }
         },
         -9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZanTest::PrivateTiff tiff;
        tiff.directories = 2;
        tiff.compPlanes = 2.0;
        tiff.vary = c.vary;
        tiff.data = ZanTest::namedBlob({{u"Custom", ZanTest::textBytes("x")}});
        const std::string path = dir.file(std::string(c.name) + ".tif");
        ZanTest::writeBytes(path, ZanTest::writePrivateTiff(tiff));
        Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
        ASSERT_NE(file, nullptr);
        Zan_Picture picture = emptyRecord();
        ASSERT_EQ(Zan_FileGetImageData(file, 0, &picture), c.result);
        if (c.result == 0) {
            ASSERT_EQ(picture.components, 2u);
            // The planes interleaved: the first directory's sample, then the second's.
            const std::vector<unsigned char> first = expectedGray(ZanTest::pageOf(tiff, 0)),
                                             second = expectedGray(ZanTest::pageOf(tiff, 1));
            std::vector<unsigned char> expected;
            for (std::size_t i = 0; i < first.size(); ++i)
                expected.insert(expected.end(), {first[i], second[i]});
            EXPECT_EQ(pixelBytes(picture.imageData, picture.widthBytes, 2 * picture.width, picture.height),
                      expected);
        } else {
            expectEmptyRecord(picture);
        }
        Zan_DestroyPicture(&picture);
        Zan_FileClose(file);
    }
}

// ---- Pictures reused

TEST(CapiPictures, AReadDefinesEveryByteOfThePictureAndPicturesOfAnotherSizeAreRefused) {
    TempDir dir;
    const ZanTest::TiffSpec narrow = tiffSpec(3, 8, 1, PHOTOMETRIC_MINISBLACK);
    const ZanTest::TiffSpec wider = tiffSpec(5, 8, 1, PHOTOMETRIC_MINISBLACK);
    ZanTest::writeTiff(dir.file("narrow.tif"), narrow);
    ZanTest::writeTiff(dir.file("wider.tif"), wider);
    Zan_FileHandle first = Zan_FileOpenForReadUtf8(dir.file("narrow.tif").c_str());
    Zan_FileHandle second = Zan_FileOpenForReadUtf8(dir.file("wider.tif").c_str());
    Zan_Picture picture{};
    ASSERT_EQ(Zan_FileGetImageData(first, 0, &picture), 0);
    ASSERT_EQ(picture.widthBytes, 4u);
    // Whatever the reused picture held, the read leaves the frame's pixels and zero padding.
    std::memset(picture.imageData, 0xA5, picture.size);
    ASSERT_EQ(Zan_FileGetImageData(first, 0, &picture), 0);
    std::vector<unsigned char> rows;
    for (const unsigned char p : expectedGray(narrow)) {
        rows.push_back(p);
        if (rows.size() % 4 == 3)
            rows.push_back(0);
    }
    const auto* bytes = static_cast<const unsigned char*>(picture.imageData);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + picture.size), rows);
    // The picture of the narrow page is no picture of the wider one, however large its buffer.
    std::memset(picture.imageData, 0xA5, picture.size);
    EXPECT_EQ(Zan_FileGetImageData(second, 0, &picture), -9);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + picture.size),
              std::vector<unsigned char>(picture.size, 0xA5));
    Zan_DestroyPicture(&picture);
    Zan_FileClose(first);
    Zan_FileClose(second);
}

// ---- Exceptions and document kinds, through a device that does what a test tells it

struct Scripted : IoImageFileDevice {
    json document = json::object();
    json experimentDocument = json::array();
    std::vector<unsigned> coords = {0};
    unsigned frames = 1;
    int throwing = 0; // 0 nothing, 1 standard exceptions, 2 something else

    void maybeThrow() const {
        if (throwing == 1)
            throw std::runtime_error("scripted");
        if (throwing == 2)
            throw 42;
    }
    bool open(Zan::IoDevice::OpenMode, OpenOptions, int*) override { return true; }
    void close() override {}
    Zan::IoDevice::OpenMode openMode() const override { return Zan::IoDevice::Read; }
    std::string filename() const override { return {}; }
    unsigned sequenceCount() override {
        maybeThrow();
        return frames;
    }
    bool sequenceIndex(const std::vector<unsigned>&, unsigned*) override {
        maybeThrow();
        return true;
    }
    std::vector<unsigned> loopIndexes(unsigned) override {
        maybeThrow();
        return coords;
    }
    std::vector<std::vector<unsigned>> allLoopIndexes() override { return {coords}; }
    json rawMetadata() override { return document; }
    json attributes() override {
        maybeThrow();
        return document;
    }
    void setAttributes(const json&) override {}
    json metadata() override {
        maybeThrow();
        return document;
    }
    void setMetadata(const json&) override {}
    json frameMetadata(unsigned, const std::string&) override {
        maybeThrow();
        return document;
    }
    void setFrameMetadata(unsigned, const json&) override {}
    json experiment() override {
        maybeThrow();
        return experimentDocument;
    }
    void setExperiment(const json&) override {}
    json textInfo() override {
        maybeThrow();
        return document;
    }
    void setTextInfo(const json&) override {}
    std::unique_ptr<IoImageDataDevice> imageData(unsigned) override {
        maybeThrow();
        return nullptr;
    }
    json customMetadata(const std::string&) override { return nullptr; }
    json customMetadata(const std::string&, unsigned) override { return nullptr; }
};

Zan_FileHandle handleOf(Scripted& device) {
    return reinterpret_cast<Zan_FileHandle>(static_cast<IoImageFileDevice*>(&device));
}

TEST(CapiBoundary, ExceptionsBecomeFailureResults) {
    for (int throwing : {1, 2}) {
        SCOPED_TRACE(throwing);
        Scripted device;
        device.throwing = throwing;
        Zan_FileHandle file = handleOf(device);
        Zan_Picture picture{};
        // Only the frame fetch stands between C callers and exceptions that are not standard ones.
        EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), -9);
        EXPECT_EQ(picture.imageData, nullptr);
        if (throwing == 2)
            continue;
        char type[4] = "abc";
        unsigned coords[1] = {5};
        EXPECT_EQ(Zan_FileGetCoordSize(file), 0u);
        EXPECT_EQ(Zan_FileGetCoordInfo(file, 0, type, sizeof type), 0u);
        EXPECT_STREQ(type, "abc");
        EXPECT_EQ(Zan_FileGetSeqCount(file), 0u);
        EXPECT_EQ(Zan_FileGetSeqIndexFromCoords(file, coords, 1, nullptr), 0);
        EXPECT_EQ(Zan_FileGetCoordsFromSeqIndex(file, 0, coords, 1), 0u);
        EXPECT_EQ(coords[0], 5u);
        EXPECT_EQ(Zan_FileGetAttributes(file), nullptr);
        EXPECT_EQ(Zan_FileGetMetadata(file), nullptr);
        EXPECT_EQ(Zan_FileGetFrameMetadata(file, 0), nullptr);
        EXPECT_EQ(Zan_FileGetTextinfo(file), nullptr);
        EXPECT_EQ(Zan_FileGetExperiment(file), nullptr);
    }
}

TEST(CapiBoundary, DocumentsOfTheWrongKindOrWithInvalidUtf8AreRefused) {
    Scripted device;
    Zan_FileHandle file = handleOf(device);
    device.document = json::array({1, 2});
    device.experimentDocument = json::object({{"type", "TimeLoop"}});
    EXPECT_EQ(Zan_FileGetAttributes(file), nullptr);
    EXPECT_EQ(Zan_FileGetMetadata(file), nullptr);
    EXPECT_EQ(Zan_FileGetTextinfo(file), nullptr);
    EXPECT_EQ(Zan_FileGetFrameMetadata(file, 0), nullptr);
    EXPECT_EQ(Zan_FileGetExperiment(file), nullptr);

    device.document = {{"name", "bad \xff byte"}};
    device.experimentDocument = json::array({{{"type", "\xc3"}}});
    EXPECT_EQ(Zan_FileGetAttributes(file), nullptr);
    EXPECT_EQ(Zan_FileGetExperiment(file), nullptr);

    // Valid UTF-8 passes through unescaped, keys in sorted order, indentation 2.
    device.document = {{"z", "\xc3\xa9t\xc3\xa9"}, {"a", {{"b", 1}}}};
    EXPECT_EQ(taken(Zan_FileGetAttributes(file)),
              "{\n  \"a\": {\n    \"b\": 1\n  },\n  \"z\": \"\xc3\xa9t\xc3\xa9\"\n}");
    device.experimentDocument = json::array();
    EXPECT_EQ(taken(Zan_FileGetExperiment(file)), "[]");
}

TEST(CapiBoundary, LoopCountsAndTypesAreReadOnlyWhenUsable) {
    Scripted device;
    Zan_FileHandle file = handleOf(device);
    device.experimentDocument = json::array({{{"type", 7}, {"count", 4}},
                                             {{"type", "ZStackLoop"}, {"count", -1}},
                                             {{"type", "TimeLoop"}, {"count", 2.5}},
                                             {{"type", "XYPosLoop"}, {"count", 5000000000ull}},
                                             {{"count", 4294967295ull}},
                                             json::array({1})});
    struct Case {
        unsigned coord;
        const char* type; // what the buffer holds afterwards
        unsigned count;
    };
    for (const Case& c : std::vector<Case>{{0, "keep", 4},
                                           {1, "ZStackLo", 0},
                                           {2, "TimeLoop", 0},
                                           {3, "XYPosLoo", 0},
                                           {4, "keep", 4294967295u},
                                           {5, "keep", 0},
                                           {6, "keep", 0}}) {
        SCOPED_TRACE(c.coord);
        char type[9] = "keep";
        EXPECT_EQ(Zan_FileGetCoordInfo(file, c.coord, type, 8), c.count);
        EXPECT_STREQ(type, c.type);
    }
}

TEST(CapiBoundary, FramesThatCannotBePicturedAreRefused) {
    Scripted device;
    Zan_FileHandle file = handleOf(device);
    Zan_Picture picture{};
    // No frame device at all.
    EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), -9);
    EXPECT_EQ(picture.imageData, nullptr);
    device.frames = 0;
    EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), -9);
    EXPECT_EQ(Zan_FileGetCoordsFromSeqIndex(file, 0, nullptr, 0), 0u);
}

} // namespace
