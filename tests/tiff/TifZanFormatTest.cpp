// TIFF files with the private tags: frames of several directories, the documents, times and custom data of
// the blobs (as binary or XML variants, blobs of more than 65,535 bytes), the frame and directory counts,
// damaged blobs and plane counts, directories of other layouts and colour maps, and the fallback of files
// without blobs to the plain format.

#include "TifTestSupport.h"
#include <support/TiffPrivateTagFiles.h>

#include <support/Expect.h>
#include <support/ExperimentDocs.h>
#include <support/ImageDataReadPaths.h>
#include <support/RawMetadataFixtures.h>

#include <io/IoMemoryBuffer.h>
#include <metadata/JsonBridge.h>
#include <tiff/TifFileDevice.h>
#include <tiff/detail/TifZanFormat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

using namespace ZanTest;
using Zan::ByteVector;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::TifFileDevice;
using json = nlohmann::json;
using ZanFormat = Zan::TifFileDevice::ZanFormat;

namespace {

// A device over the bytes, opened for reading, with its implementation object at hand for customData.
struct Opened {
    TifFileDevice::Impl* impl = nullptr;
    std::unique_ptr<TifFileDevice> device;
};

Opened openBytes(const std::vector<char>& bytes) {
    auto impl = std::make_unique<TifFileDevice::Impl>(
        std::make_unique<Zan::IoMemoryBuffer>(bytes.size(), bytes.data()));
    Opened o{impl.get(), std::make_unique<TifFileDevice>(std::move(impl))};
    if (!o.device->open(IoDevice::Read, 0, nullptr))
        throw std::runtime_error("the file does not open");
    return o;
}

const ZanFormat* zanFormat(const Opened& o) {
    return dynamic_cast<const ZanFormat*>(&o.impl->format());
}

std::uint32_t widenHalf(std::uint16_t half) {
    return std::bit_cast<std::uint32_t>(Zan::halfToFloat(half));
}

// The pixels of every plane of frame f, compared by every read path with directories compPlanes * f + p;
// planes whose directory is `foreign` (of another geometry than the frame's) read as zeros, with
// stop-on-error off.
void expectFramePixels(TifFileDevice& device, const PrivateTiff& file, unsigned f, unsigned compPlanes,
                       const std::function<bool(unsigned directory)>& foreign = {}) {
    SCOPED_TRACE("frame " + std::to_string(f));
    auto frame = device.imageData(f);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    frame->setPropertyInt(IoImageDataDevice::StopOnError, foreign ? 0 : 1);
    // The frame's geometry is that of the directory holding the blobs.
    const TiffSpec frameSpec =
        pageOf(file, file.blobDirectory < 0 ? file.directories - 1 : unsigned(file.blobDirectory));
    const TiffLayout layout = presentedLayout(frameSpec);
    ASSERT_EQ(frame->planes(), long(compPlanes) * layout.planes);
    const Geometry geometry{"private",
                            frameSpec.width,
                            frameSpec.height,
                            frame->bitsPerComponentUsed(),
                            frame->bitsPerComponentStored(),
                            layout.components,
                            frame->planes(),
                            1,
                            frame->interpretation(),
                            frame->dataFormat()};
    expectReadPathsMatch(*frame,
                         {geometry,
                          [&](long p, long x, long y, long c) -> Sample {
                              const unsigned d = f * compPlanes + unsigned(p / layout.planes);
                              if (foreign && foreign(d))
                                  return 0;
                              return expectedSample(pageOf(file, d), p % layout.planes, x, y, c, widenHalf);
                          }},
                         FrameDevice::Tiff);
}

// ---- A whole file: documents, times, custom data and pixels.

const json experimentPart = level(TimeLevel, timePars(2, 250.0));
const json textPart = {{"TextInfoItem_4_str", "Ann"}, {"TextInfoItem_0_str", "scan of the day"}};
const json metadataPart = {
    {"sPicturePlanes_dic",
     {{"uiCount_u32", 1},
      {"sPlaneNew_dic", {{positionKey(0), {{"uiCompCount_u32", 3}, {"sDescription_str", "channel 0"}}}}}}}};
const json notesPart = {{"sNote_str", "first"}};
const json stagePart = {{"dX_dbl", 1.5}};

ByteVector bigValue() {
    ByteVector value(70'000);
    for (std::size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<char>(i * 31 % 251);
    return value;
}

struct Storage {
    const char* name;
    bool xml; // the documents as XML variants in ZANVariant, else binary variants in ZANData
    TiffSpec page;
};

TiffSpec page(std::uint16_t bits, bool tiles, std::uint16_t compression) {
    TiffSpec spec;
    spec.bits = bits;
    spec.compression = compression;
    if (tiles)
        spec.tileWidth = spec.tileLength = 16;
    return spec;
}

PrivateTiff wholeFile(const Storage& storage) {
    PrivateTiff file;
    file.page = storage.page;
    file.directories = 6;
    file.compPlanes = 3.0;
    const ByteVector times = doubleBytes({0.0, 250.0});
    if (storage.xml) {
        file.variant = namedBlob({{u"ExperimentTiffV1_0", xmlVariantBytes(experimentPart, kExperimentRoot)},
                                  {u"TextInfoTiffV1_0", xmlVariantBytes(textPart, kTextInfoRoot)},
                                  {u"Notes", xmlVariantBytes(notesPart, "Notes")}});
        file.variantSeq =
            sequenceBlob({{u"MetadataTiffV1_0", {{0, xmlVariantBytes(metadataPart, kMetadataRoot)}}},
                          {u"Stage", {{1, xmlVariantBytes(stagePart, "Stage")}}}});
        file.data = namedBlob({{u"AcqTimesCache", times}, {u"Custom", bigValue()}});
        file.dataSeq = sequenceBlob({{u"FrameBytes", {{1, textBytes("one")}}}});
    } else {
        file.data = namedBlob({{u"ExperimentTiffV1_0", liteVariantBytes(experimentPart, kExperimentRoot)},
                               {u"TextInfoTiffV1_0", liteVariantBytes(textPart, kTextInfoRoot)},
                               {u"AcqTimesCache", times},
                               {u"Custom", bigValue()}});
        file.dataSeq =
            sequenceBlob({{u"MetadataTiffV1_0", {{0, liteVariantBytes(metadataPart, kMetadataRoot)}}},
                          {u"FrameBytes", {{1, textBytes("one")}}}});
        file.variant = namedBlob({{u"Notes", xmlVariantBytes(notesPart, "Notes")}});
        file.variantSeq = sequenceBlob({{u"Stage", {{1, xmlVariantBytes(stagePart, "Stage")}}}});
    }
    return file;
}

class PrivateTagFiles : public testing::TestWithParam<Storage> {};

TEST_P(PrivateTagFiles, EveryDocumentTimeCustomEntryAndPixel) {
    const PrivateTiff file = wholeFile(GetParam());
    const std::vector<char> bytes = writePrivateTiff(file);
    ASSERT_GT(file.data.size(), 65'535u);
    const Opened o = openBytes(bytes);
    TifFileDevice& device = *o.device;
    ASSERT_NE(zanFormat(o), nullptr);
    EXPECT_EQ(zanFormat(o)->frameCount(), 2);
    EXPECT_EQ(zanFormat(o)->componentPlanes(), 3);

    // Raw metadata: the attributes of two frames of three planes, the parts as stored.
    const json raw = device.rawMetadata();
    const json& a = raw["Attributes_dic"];
    EXPECT_EQ(a["uiWidth_u32"], file.page.width);
    EXPECT_EQ(a["uiHeight_u32"], file.page.height);
    EXPECT_EQ(a["uiComp_u32"], 3);
    EXPECT_EQ(a["uiSequenceCount_u32"], 2);
    EXPECT_EQ(raw["Experiment_dic"], experimentPart);
    EXPECT_EQ(raw["TextInfo_dic"], textPart);
    EXPECT_EQ(raw["Metadata_dic"], metadataPart);

    // The public documents are those of the raw document.
    json attributes = Zan::JsonMetadata::attributes(raw);
    attributes["pixelDataType"] = "unsigned";
    EXPECT_EQ(device.attributes(), attributes);
    EXPECT_EQ(device.attributes()["componentCount"], 3);
    EXPECT_EQ(device.attributes()["sequenceCount"], 2);
    const json loops = device.experiment();
    ASSERT_TRUE(loops.is_array());
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_EQ(loops[0]["type"], "TimeLoop");
    EXPECT_EQ(loops[0]["count"], 2);
    EXPECT_EQ(device.sequenceCount(), 2u);
    EXPECT_EQ(device.allLoopIndexes(), (std::vector<std::vector<unsigned>>{{0}, {1}}));
    unsigned seq = 9;
    EXPECT_TRUE(device.sequenceIndex({1}, &seq));
    EXPECT_EQ(seq, 1u);
    EXPECT_EQ(device.textInfo()["author"], "Ann");
    EXPECT_EQ(device.textInfo(), Zan::JsonMetadata::textInfo(raw));
    const json global = Zan::JsonMetadata::globalMetadata(raw, loops, device.textInfo(), 0.0);
    EXPECT_EQ(device.metadata(), Zan::JsonMetadata::metadata(raw, global, {}, {}));
    EXPECT_EQ(device.metadata()["/contents/channelCount"_json_pointer], 1);

    // Frame metadata with the stored acquisition times.
    for (unsigned f = 0; f < 2; ++f)
        EXPECT_EQ(device.frameMetadata(f, ""),
                  Zan::JsonMetadata::frameMetadata(global, device.metadata(), loops, f * 250.0, {f}, ""));
    EXPECT_EQ(device.frameMetadata(1, "/channels/0/time/relativeTimeMs"), 250.0);
    EXPECT_EQ(device.frameMetadata(0, "/channels/0/channel/name"), "channel 0");
    EXPECT_THROW(device.frameMetadata(2, ""), std::out_of_range);

    // Custom data and metadata; the large value keeps its tail.
    EXPECT_EQ(o.impl->customData("Custom"), bigValue());
    EXPECT_EQ(o.impl->customData("FrameBytes", 1), textBytes("one"));
    EXPECT_TRUE(o.impl->customData("FrameBytes", 0).empty());
    EXPECT_TRUE(o.impl->customData("Missing").empty());
    const json notes = device.customMetadata("Notes");
    EXPECT_FALSE(notes.is_null());
    EXPECT_EQ(notes, Zan::JsonMetadata::jsonFromSerializedVariant(xmlVariantBytes(notesPart, "Notes")));
    EXPECT_EQ(device.customMetadata("Stage", 1),
              Zan::JsonMetadata::jsonFromSerializedVariant(xmlVariantBytes(stagePart, "Stage")));
    EXPECT_TRUE(device.customMetadata("Stage", 0).is_null());
    EXPECT_TRUE(device.customMetadata("Missing").is_null());

    for (unsigned f = 0; f < 2; ++f)
        expectFramePixels(device, file, f, 3);

    // Read only, whatever mode the frame device is opened in.
    auto frame = device.imageData(0);
    frame->open(IoImageDataDevice::Write);
    std::vector<char> pixels(std::size_t(file.page.width) * file.page.height * 4);
    ZAN_EXPECT_THROW_MSG(frame->writeCurrentPlane(pixels.data(), file.page.width * 4), std::logic_error,
                         "ZanFormat::writePlane not implemented");
}

INSTANTIATE_TEST_SUITE_P(Table, PrivateTagFiles,
                         testing::Values(Storage{"lite_gray16_strips_lzw", false,
                                                 page(16, false, COMPRESSION_LZW)},
                                         Storage{"xml_gray8_tiles", true, page(8, true, COMPRESSION_NONE)}),
                         [](const testing::TestParamInfo<Storage>& info) { return info.param.name; });

// ---- Frames, planes and directories.

TEST(PrivateTagFrames, FramesAreWholeGroupsOfDirectories) {
    const struct {
        unsigned directories;
        std::optional<double> compPlanes;
        unsigned frames, planes;
    } cases[] = {
        {6, 3.0, 2, 3}, {7, 3.0, 2, 3}, {2, 3.0, 1, 3}, {3, std::nullopt, 3, 1},
        {3, 0.0, 3, 1}, {3, 0.5, 3, 1}, {8, 3.9, 2, 3}, {4, 65535.0, 1, 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.directories) + " directories, planes " +
                     (c.compPlanes ? std::to_string(*c.compPlanes) : "absent"));
        PrivateTiff file;
        file.page.width = 5;
        file.page.height = 3;
        file.directories = c.directories;
        file.compPlanes = c.compPlanes;
        file.data = namedBlob({{u"Custom", textBytes("x")}});
        const Opened o = openBytes(writePrivateTiff(file));
        ASSERT_NE(zanFormat(o), nullptr);
        EXPECT_EQ(zanFormat(o)->frameCount(), c.frames);
        EXPECT_EQ(o.device->rawMetadata()["Attributes_dic"]["uiSequenceCount_u32"], c.frames);
        auto last = o.device->imageData(c.frames - 1);
        last->open(IoImageDataDevice::Read);
        EXPECT_EQ(last->planes(), long(c.planes));
        // The last plane of the last frame, read into a pattern of directory compPlanes * frame + plane, or
        // refused where that directory is beyond the file.
        const unsigned directory = (c.frames - 1) * c.planes + c.planes - 1;
        last->setCurrentPlane(c.planes - 1);
        std::vector<char> plane(15, '\x5A');
        if (directory < c.directories) {
            last->readCurrentPlane(plane.data(), 5);
            EXPECT_EQ(static_cast<unsigned char>(plane[0]),
                      expectedSample(pageOf(file, directory), 0, 0, 0, 0, {}));
        } else {
            EXPECT_THROW(last->readCurrentPlane(plane.data(), 5), std::out_of_range);
        }
        // A frame beyond the file's frames is refused, not read from another frame's directories.
        auto beyond = o.device->imageData(c.frames);
        beyond->open(IoImageDataDevice::Read);
        EXPECT_THROW(beyond->readCurrentPlane(plane.data(), 5), std::out_of_range);
    }
}

TEST(PrivateTagFrames, DirectoriesOfSeveralSamplePlanesGiveEachOfThemAPlane) {
    PrivateTiff file;
    file.page.photometric = PHOTOMETRIC_RGB;
    file.page.samples = 3;
    file.page.planar = PLANARCONFIG_SEPARATE;
    file.directories = 4;
    file.compPlanes = 2.0;
    file.data = namedBlob({{u"Custom", textBytes("x")}});
    const Opened o = openBytes(writePrivateTiff(file));
    // Frame 1, plane 4 is sample plane 1 of directory 3.
    for (unsigned f = 0; f < 2; ++f)
        expectFramePixels(*o.device, file, f, 2);
}

TEST(PrivateTagFrames, PlaneCountsThatAreNoCountAreRefused) {
    for (double planes : {std::nan(""), std::numeric_limits<double>::infinity(), -1.0, 65536.0, 1e300}) {
        SCOPED_TRACE(planes);
        PrivateTiff file;
        file.directories = 2;
        file.compPlanes = planes;
        file.data = namedBlob({{u"Custom", textBytes("x")}});
        const std::vector<char> bytes = writePrivateTiff(file);
        TifFileDevice device(bytes.size(), bytes.data());
        EXPECT_THROW(device.open(IoDevice::Read, 0, nullptr), std::runtime_error);
        EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
    }
}

TEST(PrivateTagFrames, DirectoriesOfAnotherSizeLeaveOneFrameOfTheFirst) {
    PrivateTiff file;
    file.directories = 3;
    file.compPlanes = 2.0;
    file.blobDirectory = 0;
    file.vary = [](unsigned d, TiffSpec& spec) {
        if (d == 1)
            spec.width += 1;
    };
    file.data = namedBlob({{u"Custom", textBytes("first")}});
    const Opened o = openBytes(writePrivateTiff(file));
    ASSERT_NE(zanFormat(o), nullptr);
    EXPECT_EQ(zanFormat(o)->frameCount(), 1);
    EXPECT_EQ(o.impl->customData("Custom"), textBytes("first"));
    auto frame = o.device->imageData(0);
    frame->open(IoImageDataDevice::Read);
    EXPECT_EQ(frame->width(), file.page.width);
    std::vector<char> plane(std::size_t(file.page.width) * file.page.height);
    frame->readCurrentPlane(plane.data(), file.page.width);
    EXPECT_EQ(static_cast<unsigned char>(plane[1]), expectedSample(pageOf(file, 0), 0, 1, 0, 0, {}));
    // Only the first directory is read: directory 1 differs in size.
    frame->setCurrentPlane(1);
    EXPECT_THROW(frame->readCurrentPlane(plane.data(), file.page.width), std::out_of_range);
}

// Directories of one file that differ from the one holding the blobs (the last, whose geometry the frames
// are reported in): in how they store their pixels, or in their geometry.
struct DirectoryVariation {
    const char* name;
    unsigned directories;
    unsigned compPlanes;
    std::function<void(TiffSpec&)> page;
    std::function<void(unsigned d, TiffSpec&)> vary;
    // Directories of another geometry than the frames': their frames' reads fail.
    std::vector<unsigned> foreign;
};

void PrintTo(const DirectoryVariation& v, std::ostream* out) {
    *out << v.name;
}

PrivateTiff variedFile(const DirectoryVariation& v) {
    PrivateTiff file;
    if (v.page)
        v.page(file.page);
    file.directories = v.directories;
    if (v.compPlanes != 1)
        file.compPlanes = v.compPlanes;
    file.vary = v.vary;
    file.data = namedBlob({{u"Custom", textBytes("x")}});
    return file;
}

void tiles(TiffSpec& spec, std::uint32_t size) {
    spec.tileWidth = spec.tileLength = size;
}

const DirectoryVariation variations[] = {
    // Storage only: every frame reads its own directories' pixels, by every path.
    {"rows_per_strip_4_then_2",
     3,
     1,
     [](TiffSpec& s) { s.rowsPerStrip = 2; },
     [](unsigned d, TiffSpec& s) { s.rowsPerStrip = d == 0 ? 4 : 2; },
     {}},
    {"rows_per_strip_2_then_7",
     2,
     1,
     {},
     [](unsigned d, TiffSpec& s) { s.rowsPerStrip = d == 0 ? 2 : 7; },
     {}},
    {"tiled_then_striped", 2, 1, {}, [](unsigned d, TiffSpec& s) { tiles(s, d == 0 ? 16 : 0); }, {}},
    {"striped_then_tiled", 2, 1, {}, [](unsigned d, TiffSpec& s) { tiles(s, d == 0 ? 0 : 16); }, {}},
    {"tiles_32_then_16", 2, 1, {}, [](unsigned d, TiffSpec& s) { tiles(s, d == 0 ? 32 : 16); }, {}},
    {"compressions",
     3,
     1,
     {},
     [](unsigned d, TiffSpec& s) {
         s.compression = d == 0 ? COMPRESSION_LZW : d == 1 ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE;
     },
     {}},
    {"rgb16_tiled_then_striped",
     2,
     1,
     [](TiffSpec& s) {
         s.photometric = PHOTOMETRIC_RGB;
         s.samples = 3;
         s.bits = 16;
     },
     [](unsigned d, TiffSpec& s) { tiles(s, d == 0 ? 16 : 0); },
     {}},
    {"two_planes_in_strips_and_tiles",
     4,
     2,
     [](TiffSpec& s) { s.bits = 16; },
     [](unsigned d, TiffSpec& s) {
         if (d % 2 == 0)
             tiles(s, 16);
         else
             s.rowsPerStrip = 3;
         s.compression = d < 2 ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE;
     },
     {}},
    // Geometry: the frames of the directories that differ fail, and read as zeros without stop-on-error.
    {"16_bits_then_8", 2, 1, {}, [](unsigned d, TiffSpec& s) { s.bits = d == 0 ? 16 : 8; }, {0}},
    {"rgb_then_grey",
     2,
     1,
     {},
     [](unsigned d, TiffSpec& s) {
         if (d == 0) {
             s.photometric = PHOTOMETRIC_RGB;
             s.samples = 3;
         }
     },
     {0}},
    {"contiguous_then_separate_rgb",
     2,
     1,
     [](TiffSpec& s) {
         s.photometric = PHOTOMETRIC_RGB;
         s.samples = 3;
     },
     [](unsigned d, TiffSpec& s) { s.planar = d == 0 ? PLANARCONFIG_CONTIG : PLANARCONFIG_SEPARATE; },
     {0}},
    {"float_then_unsigned",
     2,
     1,
     [](TiffSpec& s) { s.bits = 32; },
     [](unsigned d, TiffSpec& s) { s.sampleFormat = d == 0 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT; },
     {0}},
    {"white_is_zero_then_black_is_zero",
     2,
     1,
     {},
     [](unsigned d, TiffSpec& s) {
         s.photometric = d == 0 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
     },
     {0}},
    // Two planes a frame whose first planes are of another depth: the multi-plane copies get zeros for
    // them, never what their scratch held.
    {"two_planes_8_and_16_bits",
     4,
     2,
     {},
     [](unsigned d, TiffSpec& s) { s.bits = d % 2 == 0 ? 8 : 16; },
     {0, 2}},
};

class PrivateTagDirectories : public testing::TestWithParam<DirectoryVariation> {};

TEST_P(PrivateTagDirectories, FramesReadTheirOwnStorageAndRefuseAnotherGeometry) {
    const DirectoryVariation& v = GetParam();
    const PrivateTiff file = variedFile(v);
    const Opened o = openBytes(writePrivateTiff(file));
    ASSERT_NE(zanFormat(o), nullptr);
    const unsigned frames = v.directories / v.compPlanes;
    ASSERT_EQ(zanFormat(o)->frameCount(), frames);
    const auto foreign = [&](unsigned d) {
        return std::find(v.foreign.begin(), v.foreign.end(), d) != v.foreign.end();
    };
    for (unsigned f = 0; f < frames; ++f) {
        bool anyForeign = false;
        for (unsigned p = 0; p < v.compPlanes; ++p)
            anyForeign = anyForeign || foreign(f * v.compPlanes + p);
        if (!anyForeign) {
            expectFramePixels(*o.device, file, f, v.compPlanes);
            continue;
        }
        // Under stop-on-error every read of the frame fails, naming the directory.
        auto frame = o.device->imageData(f);
        frame->open(IoImageDataDevice::Read);
        frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
        const long line = frame->packedLineSize(1);
        std::vector<char> packed(static_cast<std::size_t>(line * frame->height()));
        const std::string message =
            messageOf<std::runtime_error>([&] { frame->packedImage(packed.data(), line); });
        EXPECT_EQ(message.rfind("TifFileDevice::ZanFormat: directory " + std::to_string(f * v.compPlanes), 0),
                  0u)
            << message;
        expectFramePixels(*o.device, file, f, v.compPlanes, foreign);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PrivateTagDirectories, testing::ValuesIn(variations),
                         [](const testing::TestParamInfo<DirectoryVariation>& info) {
                             return info.param.name;
                         });

TEST(PrivateTagFrames, ADirectoryOfAnotherGeometryIsNamedWithBothGeometries) {
    const Opened o = openBytes(writePrivateTiff(variedFile(variations[8])));
    auto frame = o.device->imageData(0);
    frame->open(IoImageDataDevice::Read);
    EXPECT_EQ(frame->bitsPerComponentStored(), 8);
    frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
    std::vector<char> plane(37 * 23);
    ZAN_EXPECT_THROW_MSG(frame->readCurrentPlane(plane.data(), 37), std::runtime_error,
                         "TifFileDevice::ZanFormat: directory 0 holds 37 x 23 pixels of 1 samples of 16 bits "
                         "(format 1, photometric 1, planar 1), not 37 x 23 pixels of 1 samples of 8 bits "
                         "(format 1, photometric 1, planar 1)");
}

TEST(PrivateTagFrames, EachDirectoryIsLookedUpInItsOwnColourMap) {
    PrivateTiff file;
    file.page.photometric = PHOTOMETRIC_PALETTE;
    file.page.bits = 8;
    file.directories = 3;
    file.vary = [](unsigned d, TiffSpec& spec) { spec.paletteSeed = d; };
    file.data = namedBlob({{u"Custom", textBytes("x")}});
    const Opened o = openBytes(writePrivateTiff(file));
    // Frames 2, 0, 1: the palette of the directory read before does not stay.
    for (unsigned f : {2u, 0u, 1u})
        expectFramePixels(*o.device, file, f, 1);
}

// ---- Files without blobs.

TEST(PrivateTagFallback, APlainMultiPageTiffReadsItsFirstDirectory) {
    PrivateTiff file; // no blobs at all
    file.directories = 3;
    file.vary = [](unsigned d, TiffSpec& spec) {
        if (d == 2)
            spec.bits = 16;
    };
    const Opened o = openBytes(writePrivateTiff(file));
    EXPECT_EQ(zanFormat(o), nullptr);
    EXPECT_EQ(o.device->sequenceCount(), 1u);
    EXPECT_TRUE(o.device->experiment().is_null());
    EXPECT_EQ(o.device->attributes()["bitsPerComponentInMemory"], 8);
    auto frame = o.device->imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
    const Geometry geometry{"plain", file.page.width, file.page.height, 8, 8, 1, 1, 1};
    expectReadPathsMatch(*frame,
                         {geometry, [&](long p, long x, long y,
                                        long c) { return expectedSample(pageOf(file, 0), p, x, y, c, {}); }},
                         FrameDevice::Tiff);
}

// ---- Blob layouts.

TEST(PrivateTagBlobs, NamesRepeatsAndEmptyItemLists) {
    const ByteVector named =
        namedBlob({{u"A\u0142", textBytes("first")}, {u"AB", textBytes("second")}, {u"", {}}});
    const auto entries = ZanFormat::parseNamedEntries(named, "ZANData");
    ASSERT_EQ(entries.size(), 2u);
    // 0x0142 keeps its low byte 0x42 ("B"): both names read "AB", and the first entry stays.
    const auto& ab = entries.at("AB");
    EXPECT_EQ(std::string(named.data() + ab.offset, ab.size), "first");
    EXPECT_EQ(entries.at("").size, 0u);

    const ByteVector seq =
        sequenceBlob({{u"S", {{3, textBytes("three")}, {3, textBytes("again")}, {1, textBytes("one")}}},
                      {u"S", {{7, textBytes("dropped")}}},
                      {u"Empty", {}}});
    const auto items = ZanFormat::parseSequenceEntries(seq, "ZANDataSeq");
    ASSERT_EQ(items.size(), 2u);
    ASSERT_EQ(items.at("S").size(), 2u);
    const auto& three = items.at("S").at(3);
    EXPECT_EQ(std::string(seq.data() + three.offset, three.size), "three");
    EXPECT_TRUE(items.at("Empty").empty());
    EXPECT_TRUE(ZanFormat::parseNamedEntries({}, "ZANData").empty());
}

// Little-endian u32 at offset of a blob.
void put32(ByteVector& blob, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        blob[offset + i] = static_cast<char>(v >> (8 * i));
}

TEST(PrivateTagBlobs, LayoutsThatRunPastTheBlobAreRefused) {
    // Named blob of one entry "ab" = 2 units: count at 0, n at 4, name at 8, size at 12, offset at 16, value
    // at 20. Sequence blob of "ab" with one item: k at 12, index at 16, size at 20, offset at 24, value
    // at 28.
    const ByteVector named = namedBlob({{u"ab", textBytes("value")}});
    const ByteVector seq = sequenceBlob({{u"ab", {{0, textBytes("value")}}}});
    const auto mutated = [](ByteVector blob, std::size_t offset, std::uint32_t v) {
        put32(blob, offset, v);
        return blob;
    };
    const std::string prefix = "TifFileDevice::ZanFormat: ";
    const struct {
        const char* what;
        bool sequence;
        ByteVector blob;
        std::string message;
    } cases[] = {
        {"short count", false, ByteVector(3),
         "ZANData entry 0: entry count of 4 bytes at offset 0 runs past the blob's 3 bytes"},
        {"count beyond entries", false, mutated(named, 0, 2),
         "ZANData entry 1: name of 3940074220 bytes at offset 24 runs past the blob's 25 bytes"},
        {"name past the end", false, mutated(named, 4, 0x7FFFFFFF),
         "ZANData entry 0: name of 4294967294 bytes at offset 8 runs past the blob's 25 bytes"},
        {"name of 2^32 - 1 units", false, mutated(named, 4, 0xFFFFFFFF),
         "ZANData entry 0: name of 8589934590 bytes at offset 8 runs past the blob's 25 bytes"},
        {"value past the end", false, mutated(named, 12, 6),
         "ZANData entry 0 (\"ab\"): value of 6 bytes at offset 20 runs past the blob's 25 bytes"},
        {"offset and size wrap in 32 bits", false, mutated(mutated(named, 12, 0xFFFFFFFF), 16, 0x10),
         "ZANData entry 0 (\"ab\"): value of 4294967295 bytes at offset 16 runs past the blob's 25 bytes"},
        {"items past the end", true, mutated(seq, 12, 0x20000000),
         "ZANDataSeq entry 0: item size of 4 bytes at offset 32 runs past the blob's 33 bytes"},
        {"item value past the end", true, mutated(seq, 24, 29),
         "ZANDataSeq entry 0 (\"ab\"): value of 5 bytes at offset 29 runs past the blob's 33 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = messageOf<std::runtime_error>([&] {
            if (c.sequence)
                ZanFormat::parseSequenceEntries(c.blob, "ZANDataSeq");
            else
                ZanFormat::parseNamedEntries(c.blob, "ZANData");
        });
        EXPECT_EQ(message, prefix + c.message);
    }

    // The open of a file with such a blob fails and leaves the device closed.
    PrivateTiff file;
    file.variantSeq = mutated(seq, 24, 29);
    const std::vector<char> bytes = writePrivateTiff(file);
    TifFileDevice device(bytes.size(), bytes.data());
    ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read, 0, nullptr), std::runtime_error,
                         prefix +
                             "ZANVariantSeq entry 0 (\"ab\"): value of 5 bytes at offset 29 runs past the "
                             "blob's 33 bytes");
    EXPECT_EQ(device.openMode(), IoDevice::NotOpen);
}

// ---- Which blob answers which question.

TEST(PrivateTagLookups, MetadataOfFrameZeroOnlyAndCustomLookupsInTheirOwnBlobs) {
    PrivateTiff file;
    // Metadata of frames 1 and 2 only: no metadata part, and the XML blob's frame 0 is not consulted.
    file.dataSeq = sequenceBlob({{u"MetadataTiffV1_0",
                                  {{1, liteVariantBytes(metadataPart, kMetadataRoot)},
                                   {2, liteVariantBytes(metadataPart, kMetadataRoot)}}},
                                 {u"Both", {{0, textBytes("data")}}}});
    file.variantSeq =
        sequenceBlob({{u"MetadataTiffV1_0", {{0, xmlVariantBytes(metadataPart, kMetadataRoot)}}},
                      {u"Both", {{0, xmlVariantBytes(notesPart, "Notes")}}}});
    file.data = namedBlob({{u"AcqTimesCache", ByteVector(20, 0)}, {u"One", textBytes("data")}});
    file.variant = namedBlob({{u"Two", xmlVariantBytes(notesPart, "Notes")}});
    const Opened o = openBytes(writePrivateTiff(file));
    EXPECT_FALSE(o.device->rawMetadata().contains("Metadata_dic"));
    EXPECT_EQ(o.impl->customData("Both", 0), textBytes("data"));
    EXPECT_EQ(o.device->customMetadata("Both", 0),
              Zan::JsonMetadata::jsonFromSerializedVariant(xmlVariantBytes(notesPart, "Notes")));
    EXPECT_EQ(o.impl->customData("One"), textBytes("data"));
    EXPECT_TRUE(o.device->customMetadata("One").is_null());
    EXPECT_TRUE(o.impl->customData("Two").empty());
    EXPECT_FALSE(o.device->customMetadata("Two").is_null());
}

TEST(PrivateTagLookups, FramesBeyondTheStoredTimesHaveNone) {
    PrivateTiff file;
    file.directories = 3;
    // 20 bytes: two times, the remainder ignored.
    ByteVector times = doubleBytes({5.0, 7.5});
    times.resize(20, 1);
    file.data = namedBlob(
        {{u"AcqTimesCache", times},
         {u"ExperimentTiffV1_0", liteVariantBytes(level(TimeLevel, timePars(3)), kExperimentRoot)}});
    file.dataSeq =
        sequenceBlob({{u"MetadataTiffV1_0", {{0, liteVariantBytes(metadataPart, kMetadataRoot)}}}});
    const Opened o = openBytes(writePrivateTiff(file));
    ASSERT_EQ(o.device->sequenceCount(), 3u);
    EXPECT_EQ(o.device->frameMetadata(1, "/channels/0/time/relativeTimeMs"), 7.5);
    const json third = o.device->frameMetadata(2, "");
    ASSERT_TRUE(third["channels"].is_array());
    // No stored time: the frame has the global time of the file, not another frame's.
    EXPECT_EQ(third["/channels/0/time/relativeTimeMs"_json_pointer], 0.0);
}

// ---- libtiff's other users.

TEST(PrivateTagRegistration, OnlyThisDevicesHandlesLearnThePrivateTags) {
    PrivateTiff file;
    file.data = namedBlob({{u"Custom", textBytes("x")}});
    const std::vector<char> bytes = writePrivateTiff(file);
    const Opened o = openBytes(bytes);
    ASSERT_NE(zanFormat(o), nullptr);
    TempDir dir;
    const std::string path = dir.file("other.tif");
    writeBytes(path, bytes);
    TIFF* tif = openQuietly(path);
    const TIFFField* field = TIFFFindField(tif, Zan::ZanDataTag, TIFF_ANY);
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(TIFFFieldIsAnonymous(field)) << "a handle of another user of libtiff got our tag definitions";
    TIFFClose(tif);
}

} // namespace
