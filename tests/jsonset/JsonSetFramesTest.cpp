// Frames of a set: written through the device, one TIFF per frame or per component, and read back.

#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <support/Expect.h>
#include <support/FileText.h>
#include <support/JsonSets.h>
#include <support/TempDir.h>

#include <tiff/TifFileDevice.h>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <filesystem>
#include <fstream>

namespace {

using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::JsonFileDevice;
using ZanTest::FileLayout;
using ZanTest::SetGeometry;
using json = nlohmann::json;

struct LayoutCase {
    const char* name;
    SetGeometry geometry;
    FileLayout layout;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class JsonSetRoundTrip : public ::testing::TestWithParam<LayoutCase> {};

// Every frame is written and read back byte for byte, with the description that names its files.
TEST_P(JsonSetRoundTrip, FramesAndDescriptionComeBack) {
    const SetGeometry& g = GetParam().geometry;
    const FileLayout layout = GetParam().layout;
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    {
        JsonFileDevice set(path);
        ZanTest::writeSet(set, g, layout);
    }

    const json doc = json::parse(ZanTest::readFileText(path));
    EXPECT_EQ(doc["attributes"], ZanTest::setAttributes(g));
    ASSERT_EQ(doc["frames"].size(), static_cast<std::size_t>(g.frames));
    // Nothing but what the writer gave and the frames' names is stored.
    EXPECT_EQ(doc.size(), 2u);

    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    ASSERT_EQ(set.sequenceCount(), static_cast<unsigned>(g.frames));
    const bool perComponent = layout == FileLayout::PerComponent && g.components > 1;
    for (long f = 0; f < g.frames; ++f) {
        const json files = set.frameRef(static_cast<unsigned>(f));
        ASSERT_EQ(files.size(), perComponent ? static_cast<std::size_t>(g.components) : 1u);
        for (std::size_t c = 0; c < files.size(); ++c) {
            const std::string expected =
                layout == FileLayout::PerFrame
                    ? ZanTest::perFrameName(f)
                    : JsonFileDevice::Impl::frameFileName(static_cast<unsigned>(f), static_cast<long>(c),
                                                          g.frames, g.components);
            EXPECT_EQ(files[c], expected);
            EXPECT_TRUE(std::filesystem::exists(dir.file(expected)));
        }

        const auto frame = set.imageData(static_cast<unsigned>(f));
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        EXPECT_EQ(frame->width(), g.width);
        EXPECT_EQ(frame->height(), g.height);
        EXPECT_EQ(frame->bitsPerComponentStored(), g.bits);
        EXPECT_EQ(frame->channels(), g.components);
        EXPECT_EQ(frame->planes(), perComponent ? g.components : 1);
        std::vector<char> pixels(static_cast<std::size_t>(ZanTest::setLineBytes(g) * g.height), 0);
        frame->packedImage(pixels.data(), ZanTest::setLineBytes(g));
        EXPECT_EQ(pixels, ZanTest::setFrame(g, f)) << "frame " << f;
        frame->close();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, JsonSetRoundTrip,
    ::testing::Values(LayoutCase{"gray8_perComponent", {13, 7, 8, 1, 3}, FileLayout::PerComponent},
                      LayoutCase{"gray16_perFrame", {9, 5, 16, 1, 2}, FileLayout::PerFrame},
                      LayoutCase{"rgb8_perFrame", {11, 6, 8, 3, 2}, FileLayout::PerFrame},
                      LayoutCase{"rgb16_perComponent", {10, 4, 16, 3, 2}, FileLayout::PerComponent},
                      LayoutCase{"four16_perFrame", {6, 3, 16, 4, 1}, FileLayout::PerFrame},
                      LayoutCase{"ten8_perComponent", {5, 3, 8, 10, 1}, FileLayout::PerComponent}),
    [](const auto& info) { return std::string(info.param.name); });

// A colour frame in one file is stored red, green, blue, as TIFF readers expect, while the frame device
// takes and hands out blue, green, red.
TEST(JsonSetFrames, ColourFramesAreStoredRedGreenBlue) {
    ZanTest::TempDir dir;
    const SetGeometry g{4, 2, 8, 3, 1};
    {
        JsonFileDevice set(dir.file("set.json"));
        ZanTest::writeSet(set, g, FileLayout::PerFrame);
    }
    TIFF* tif = TIFFOpen(dir.file(ZanTest::perFrameName(0)).c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint16_t photometric = 0;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
    std::vector<unsigned char> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), 0, 0), 1);
    TIFFClose(tif);
    const std::vector<char> written = ZanTest::setFrame(g, 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(row[static_cast<std::size_t>(c)],
                  static_cast<unsigned char>(written[static_cast<std::size_t>(2 - c)]));
}

TEST(JsonSetFrames, GeneratedNamesAreWrittenBackWithTheDescription) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    {
        JsonFileDevice set(path);
        ASSERT_TRUE(set.open(IoDevice::Write, 3, nullptr));
        set.setAttributes(ZanTest::setAttributes({4, 4, 8, 3, 5}));
        set.flush();
        // Only naming the files, nothing else changes the document.
        const auto frame = set.imageData(0);
        EXPECT_EQ(frame->openMode(), 0u);
        EXPECT_EQ(dynamic_cast<JsonFileDevice::ImageDataN*>(frame.get()) != nullptr, true);
        set.flush();
        EXPECT_EQ(json::parse(ZanTest::readFileText(path))["frames"][0]["files"],
                  json({"seq001_c1.tif", "seq001_c2.tif", "seq001_c3.tif"}));
    }
    {
        JsonFileDevice set(path);
        ASSERT_TRUE(set.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
        set.setAttributes(ZanTest::setAttributes({4, 4, 8, 1, 12000}));
        const auto frame = set.imageData(9);
        EXPECT_EQ(dynamic_cast<JsonFileDevice::ImageData*>(frame.get()) != nullptr, true);
        EXPECT_EQ(set.frameRef(9), json({"seq0010_c1.tif"}));
        EXPECT_THROW(set.imageData(12000), std::runtime_error);
    }
}

TEST(JsonSetFrames, FramesThatCannotBeReadAreRefused) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    json attributes = ZanTest::setAttributes({4, 4, 8, 3, 4});
    std::ofstream(path) << json({{"attributes", attributes},
                                 {"frames",
                                  {{{"files", {"a.tif", "b.tif"}}}, json::object(), {{"files", {7}}}}}})
                               .dump();
    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(set.imageData(0), std::runtime_error,
                         "JsonFileDevice: unexpected number of files for frame #0");
    ZAN_EXPECT_THROW_MSG(set.imageData(1), std::runtime_error, "JsonFileDevice: files missing for frame #1");
    EXPECT_THROW(set.imageData(2), json::type_error);
    ZAN_EXPECT_THROW_MSG(set.imageData(3), std::runtime_error, "JsonFileDevice: seqIndex out of range");

    // A frame of no files in a set of no components has nothing to read.
    attributes["componentCount"] = 0;
    std::ofstream(path)
        << json({{"attributes", attributes}, {"frames", {{{"files", json::array()}}}}}).dump();
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(set.imageData(0), std::runtime_error, "JsonFileDevice: no files for frame #0");

    // A frame file that is not there: the frame device does not open and stays closed.
    attributes["componentCount"] = 1;
    std::ofstream(path) << json({{"attributes", attributes}, {"frames", {{{"files", {"gone.tif"}}}}}}).dump();
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    const auto frame = set.imageData(0);
    EXPECT_FALSE(frame->open(IoImageDataDevice::Read));
    EXPECT_EQ(frame->openMode(), 0u);
}

TEST(JsonSetFrames, FrameDevicesCheckTheirState) {
    ZanTest::TempDir dir;
    const SetGeometry g{6, 4, 8, 3, 1};
    const std::string path = dir.file("set.json");
    {
        JsonFileDevice set(path);
        ZanTest::writeSet(set, g, FileLayout::PerComponent);
    }
    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));

    JsonFileDevice::ImageData single(dir.file("seq001_c1.tif"), json(), json());
    ZAN_EXPECT_THROW_MSG(single.width(), std::logic_error,
                         "JsonFileDevice::ImageData::idd imageDataDevice not available");
    ASSERT_TRUE(single.open(IoImageDataDevice::Read));
    EXPECT_EQ(single.width(), 6);
    ZAN_EXPECT_THROW_MSG(single.packedImageRect(nullptr, 0, {0, 0, 1, 1}), std::logic_error,
                         "JsonFileDevice::ImageData::readCurrentPlane: not implemented");
    single.close();
    EXPECT_THROW(single.close(), std::logic_error);

    const auto frame = set.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    // Plane 2 is the third file.
    frame->setCurrentPlane(2);
    std::vector<unsigned char> plane(static_cast<std::size_t>(g.width * g.height));
    frame->readCurrentPlane(plane.data(), g.width);
    const std::vector<char> packed = ZanTest::setFrame(g, 0);
    for (std::size_t i = 0; i < plane.size(); ++i)
        ASSERT_EQ(plane[i], static_cast<unsigned char>(packed[i * 3 + 2])) << i;
    ZAN_EXPECT_THROW_MSG(frame->writeCurrentPlaneRect(plane.data(), 1, {0, 0, 1, 1}), std::logic_error,
                         "JsonFileDevice::ImageData::writeCurrentPlane: not implemented");
    for (long outside : {-1L, 3L}) {
        frame->setCurrentPlane(outside);
        EXPECT_EQ(frame->currentPlane(), outside);
        EXPECT_THROW(frame->readCurrentPlane(plane.data(), g.width), std::out_of_range);
        EXPECT_THROW(frame->width(), std::out_of_range);
    }
    frame->close();
    EXPECT_EQ(frame->openMode(), 0u);

    // When one part does not open, none stays open.
    std::filesystem::remove(dir.file("seq001_c3.tif"));
    const auto broken = set.imageData(0);
    EXPECT_FALSE(broken->open(IoImageDataDevice::Read));
    EXPECT_EQ(broken->openMode(), 0u);
}

TEST(JsonSetFrames, FramePathsAreRelativeToTheDescription) {
    ZanTest::TempDir dir;
    JsonFileDevice::Impl named(L"/data/set.json");
    EXPECT_EQ(named.absoluteFramePath("tiles/seq001.tif"), "/data/tiles/seq001.tif");
    EXPECT_EQ(named.absoluteFramePath("/elsewhere/a.tif"), "/elsewhere/a.tif");
    JsonFileDevice::Impl unrooted(L"set.json");
    EXPECT_EQ(unrooted.absoluteFramePath("tiles/seq001.tif"), "tiles/seq001.tif");
    EXPECT_EQ(Zan::toFileOpenMode(IoImageDataDevice::Write | IoImageDataDevice::Read), IoDevice::Write);
    EXPECT_EQ(Zan::toFileOpenMode(IoImageDataDevice::Read), IoDevice::Read);
}

} // namespace
