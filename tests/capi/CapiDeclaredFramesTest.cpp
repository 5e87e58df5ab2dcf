// Frame counts a few kilobytes of file can declare: native files and private-tag TIFFs whose experiment
// loops give up to the frame cap and beyond it, read through the class library and the C interface; and
// files that store several frames without describing loops, each of whose frames must be reachable.

#include <capi/QpxReadSdk.h>

#include <support/NativeFiles.h>
#include <support/RawMetadataFixtures.h>
#include <support/TempDir.h>
#include <support/TiffPrivateTagFiles.h>

#include <qpx/QpxFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using ZanTest::NativeGeometry;
using ZanTest::TempDir;

const NativeGeometry gray8{"gray8", 8, 4, 8, 8, 1};

// One experiment level per count, outermost first: time loops, with a Z stack innermost where asked.
json nest(const std::vector<std::uint32_t>& counts, bool zInnermost) {
    using namespace ZanTest;
    json inner;
    for (std::size_t i = counts.size(); i-- > 0;) {
        const bool z = zInnermost && i + 1 == counts.size();
        const json pars = z ? zPars(counts[i], 0, 10, 0, 5, 2) : timePars(counts[i], 250.0);
        inner = inner.is_null() ? level(z ? ZStackLevel : TimeLevel, pars)
                                : level(TimeLevel, pars, {inner});
    }
    return inner;
}

// A native file of the given experiment (no loops when null) storing frames 0 .. stored - 1.
std::string nativeFile(const TempDir& dir, const std::string& name, const json& experimentDic,
                       std::uint32_t declared, std::uint32_t stored) {
    const std::string path = dir.file(name);
    Zan::QpxFileDevice file(path);
    EXPECT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
    json raw = ZanTest::nativeRaw(gray8, declared);
    // Without loops: a time level of no iterations, which describes none.
    raw["Experiment_dic"] =
        experimentDic.is_null() ? ZanTest::level(ZanTest::TimeLevel, ZanTest::timePars(0)) : experimentDic;
    file.setRawMetadata(raw);
    for (std::uint32_t f = 0; f < stored; ++f) {
        const auto frame = file.imageData(f);
        EXPECT_TRUE(frame->open(Zan::IoImageDataDevice::Write));
        ZanTest::writeNativeFrame(*frame, gray8, f);
        frame->close();
    }
    file.close();
    return path;
}

// A private-tag TIFF of the given directories (one plane per frame) whose blob holds the experiment.
std::string privateTiff(const TempDir& dir, const std::string& name, const json& experimentDic,
                        unsigned directories) {
    ZanTest::PrivateTiff file;
    file.page.width = 8;
    file.page.height = 4;
    file.directories = directories;
    file.compPlanes = 1.0;
    if (experimentDic.is_null())
        file.data = ZanTest::namedBlob({{u"Custom", ZanTest::textBytes("x")}});
    else
        file.data = ZanTest::namedBlob(
            {{u"ExperimentTiffV1_0", ZanTest::liteVariantBytes(experimentDic, ZanTest::kExperimentRoot)}});
    const std::vector<char> bytes = ZanTest::writePrivateTiff(file);
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::unique_ptr<Zan::IoImageFileDevice> opened(const std::string& path) {
    std::unique_ptr<Zan::IoImageFileDevice> device;
    if (Zan::QpxFileDevice::isAcceptableFilename(path))
        device = std::make_unique<Zan::QpxFileDevice>(path);
    else
        device = std::make_unique<Zan::TifFileDevice>(path);
    EXPECT_TRUE(device->open(Zan::IoDevice::Read, 3, nullptr)) << path;
    return device;
}

std::string taken(char* text) {
    const std::string copy = text ? text : "(null)";
    Zan_FileFreeString(text);
    return copy;
}

struct Declared {
    const char* name;
    bool tiff;
    std::vector<std::uint32_t> counts;
    bool zInnermost;
    bool accepted; // the loops give at most the frame cap
};

class DeclaredFrames : public testing::TestWithParam<Declared> {};

TEST_P(DeclaredFrames, CountsCoordinatesAndMetadataComeFromTheCounts) {
    const Declared& c = GetParam();
    TempDir dir;
    const json experimentDic = nest(c.counts, c.zInnermost);
    const std::string path = c.tiff ? privateTiff(dir, "declared.tif", experimentDic, 2)
                                    : nativeFile(dir, "declared.qpx", experimentDic, 1, 1);
    ASSERT_LT(std::filesystem::file_size(path), 64u * 1024);

    std::uint64_t frames = 1;
    std::vector<unsigned> last;
    for (std::uint32_t count : c.counts) {
        frames *= count;
        last.push_back(count - 1);
    }
    const auto device = opened(path);
    Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
    ASSERT_NE(file, nullptr);
    if (!c.accepted) {
        EXPECT_THROW(device->sequenceCount(), std::runtime_error);
        EXPECT_THROW(device->loopIndexes(0), std::runtime_error);
        EXPECT_EQ(Zan_FileGetSeqCount(file), 0u);
        EXPECT_EQ(Zan_FileGetCoordSize(file), 0u);
        unsigned coords[8] = {};
        EXPECT_EQ(Zan_FileGetCoordsFromSeqIndex(file, 0, coords, 8), 0u);
        Zan_FileClose(file);
        return;
    }

    ASSERT_EQ(device->sequenceCount(), frames);
    const unsigned lastFrame = static_cast<unsigned>(frames - 1);
    EXPECT_EQ(device->loopIndexes(lastFrame), last);
    unsigned seq = 0;
    ASSERT_TRUE(device->sequenceIndex(last, &seq));
    EXPECT_EQ(seq, lastFrame);
    EXPECT_THROW(device->loopIndexes(lastFrame + 1), std::out_of_range);

    // Frame metadata follow the coordinates: the last frame lies where frame count(Z) - 1 lies, the last
    // plane of the first stack.
    const json frameMetadata = device->frameMetadata(lastFrame, "");
    EXPECT_TRUE(frameMetadata.is_object());
    if (c.zInnermost && c.counts.back() > 1) {
        EXPECT_EQ(frameMetadata, device->frameMetadata(c.counts.back() - 1, ""));
        EXPECT_NE(frameMetadata, device->frameMetadata(0, ""));
    }

    // The C interface answers the same.
    EXPECT_EQ(Zan_FileGetSeqCount(file), frames);
    EXPECT_EQ(Zan_FileGetCoordSize(file), c.counts.size());
    std::vector<unsigned> coords(c.counts.size() + 1, 77);
    EXPECT_EQ(Zan_FileGetCoordsFromSeqIndex(file, lastFrame, coords.data(), coords.size()), c.counts.size());
    coords.pop_back();
    EXPECT_EQ(coords, last);
    seq = 0;
    EXPECT_EQ(Zan_FileGetSeqIndexFromCoords(file, last.data(), last.size(), &seq), 1);
    EXPECT_EQ(seq, lastFrame);
    EXPECT_EQ(json::parse(taken(Zan_FileGetFrameMetadata(file, lastFrame))), frameMetadata);

    // Frame 0 is stored and reads; the last one is not, and fails cleanly.
    Zan_Picture picture = {};
    EXPECT_EQ(Zan_FileGetImageData(file, 0, &picture), 0);
    Zan_DestroyPicture(&picture);
    if (frames > 2) {
        EXPECT_EQ(Zan_FileGetImageData(file, lastFrame, &picture), -9);
        Zan_DestroyPicture(&picture);
        const auto frame = device->imageData(lastFrame);
        frame->setPropertyInt(Zan::IoImageDataDevice::StopOnError, 1);
        bool read = false;
        try {
            read = frame->open(Zan::IoImageDataDevice::Read);
            if (read) {
                std::vector<char> out(64);
                frame->packedImage(out.data(), 8);
            }
        } catch (const std::exception&) {
            read = false;
        }
        EXPECT_FALSE(read);
    }
    Zan_FileClose(file);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, DeclaredFrames,
    testing::Values(Declared{"native_time_by_z", false, {60000, 1000}, true, true},
                    Declared{"native_at_the_cap", false, {10000, 100, 100}, true, true},
                    Declared{"native_one_huge_loop", false, {100000000}, false, true},
                    Declared{"native_loops_of_one", false, {1, 1, 1}, true, true},
                    Declared{"native_beyond_the_cap", false, {100001, 1000}, true, false},
                    Declared{"native_beyond_32_bits", false, {65536, 65536}, false, false},
                    Declared{"tiff_ten_million", true, {10000000}, false, true},
                    Declared{"tiff_at_the_cap", true, {10000, 10000}, true, true},
                    Declared{"tiff_loops_of_one", true, {1, 1}, false, true},
                    Declared{"tiff_beyond_the_cap", true, {100000001}, false, false}),
    [](const testing::TestParamInfo<Declared>& info) { return std::string(info.param.name); });

// The packed bytes of frame f through the C interface, padding dropped.
std::vector<unsigned char> capiFrame(Zan_FileHandle file, unsigned f, std::size_t rowBytes) {
    Zan_Picture picture = {};
    EXPECT_EQ(Zan_FileGetImageData(file, f, &picture), 0) << "frame " << f;
    std::vector<unsigned char> pixels;
    for (unsigned y = 0; picture.imageData && y < picture.height; ++y) {
        const auto* row = static_cast<const unsigned char*>(picture.imageData) + y * picture.widthBytes;
        pixels.insert(pixels.end(), row, row + rowBytes);
    }
    Zan_DestroyPicture(&picture);
    return pixels;
}

TEST(StoredFramesWithoutLoops, NativeFilesPresentEveryStoredFrame) {
    TempDir dir;
    // Three frames stored; the attributes declare three, more, or none.
    for (std::uint32_t declared : {3u, 10u, 0u}) {
        const std::string path = nativeFile(dir, "loopless" + std::to_string(declared) + ".qpx", nullptr,
                                            declared, 3);
        const auto device = opened(path);
        EXPECT_TRUE(device->experiment().is_null());
        ASSERT_EQ(device->sequenceCount(), 3u) << declared;
        Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(Zan_FileGetSeqCount(file), 3u);
        EXPECT_EQ(Zan_FileGetCoordSize(file), 0u);
        for (unsigned f = 0; f < 3; ++f) {
            EXPECT_TRUE(device->loopIndexes(f).empty());
            const Zan::ByteVector plane = ZanTest::nativePlane(gray8, f);
            std::vector<unsigned char> pixels(plane.begin(), plane.end());
            EXPECT_EQ(capiFrame(file, f, 8), pixels) << "frame " << f;
            const auto frame = device->imageData(f);
            ASSERT_TRUE(frame->open(Zan::IoImageDataDevice::Read));
            std::vector<unsigned char> read(pixels.size());
            frame->packedImage(read.data(), 8);
            EXPECT_EQ(read, pixels);
        }
        Zan_FileClose(file);
    }

    // A file that declares fewer frames than it stores presents those it declares.
    const auto fewer = opened(nativeFile(dir, "fewer.qpx", nullptr, 2, 3));
    EXPECT_EQ(fewer->sequenceCount(), 2u);
    // Nothing stored: the one frame of a file without loops.
    const auto none = opened(nativeFile(dir, "none.qpx", nullptr, 5, 0));
    EXPECT_EQ(none->sequenceCount(), 1u);
}

TEST(StoredFramesWithoutLoops, PrivateTagTiffsPresentEveryDirectoryGroup) {
    TempDir dir;
    const std::string path = privateTiff(dir, "loopless.tif", nullptr, 3);
    const auto device = opened(path);
    ASSERT_EQ(device->sequenceCount(), 3u);
    Zan_FileHandle file = Zan_FileOpenForReadUtf8(path.c_str());
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(Zan_FileGetSeqCount(file), 3u);
    ZanTest::PrivateTiff spec;
    spec.page.width = 8;
    spec.page.height = 4;
    for (unsigned f = 0; f < 3; ++f) {
        const ZanTest::TiffSpec page = ZanTest::pageOf(spec, f);
        std::vector<unsigned char> pixels;
        for (std::uint32_t y = 0; y < 4; ++y)
            for (std::uint32_t x = 0; x < 8; ++x)
                pixels.push_back(static_cast<unsigned char>(ZanTest::storedSample(page, 0, x, y)));
        EXPECT_EQ(capiFrame(file, f, 8), pixels) << "frame " << f;
    }
    Zan_Picture picture = {};
    EXPECT_EQ(Zan_FileGetImageData(file, 3, &picture), -9);
    Zan_DestroyPicture(&picture);
    Zan_FileClose(file);
}

} // namespace
