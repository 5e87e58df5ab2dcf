// The native image-file device: files written by our devices read back frame by frame and document by
// document, version 2 and 3 files, the open codes, the caches and the chunks a first read needs, frame
// addressing, frame times and component ranges, and damaged frame and metadata chunks.

#include "QpxFileTestSupport.h"

#include <support/Expect.h>
#include <support/RawMetadataFixtures.h>

#include <io/IoFileDevice.h>
#include <qpx/QpxImageData.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace {

using namespace native_test;
using chunked_test::sameBytes;
using chunked_test::TempDir;
using nlohmann::json;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using ImageData = Zan::QpxFileDevice::ImageData;

constexpr IoDevice::OpenMode ReadUpdate = IoDevice::Read | IoDevice::Update;

std::unique_ptr<QpxFileDevice> openedFromMemory(const Bytes& bytes) {
    auto device = std::make_unique<QpxFileDevice>(bytes.size(), bytes.data());
    int err = -1;
    EXPECT_TRUE(device->open(IoDevice::Read, 3, &err));
    EXPECT_EQ(err, 0);
    return device;
}

// Frame f read whole with packedImage, rows of the plane's size; padding left zero.
Bytes packedFrame(QpxFileDevice& file, unsigned f, IoImageDataDevice::OpenMode mode) {
    auto frame = file.imageData(f);
    EXPECT_TRUE(frame->open(mode));
    const long line = frame->packedLineSize(4);
    Bytes out(static_cast<std::size_t>(line * frame->height()), '\0');
    frame->packedImage(out.data(), line);
    return out;
}

// ---- The file-name test.

TEST(QpxFileName, ExtensionTest) {
    const std::pair<std::string, bool> cases[] = {
        {"image.qpx", true},         {"IMAGE.QPX", true},      {"a.QpX", true},       {".qpx", true},
        {"/data/run.1/x.qpx", true}, {"image.qpx.bak", false}, {"image.qpxx", false}, {"image.tif", false},
        {"/data.qpx/image", false},  {"image", false},         {"", false},           {"qpx", false}};
    for (const auto& [name, accepted] : cases) {
        EXPECT_EQ(QpxFileDevice::isAcceptableFilename(name), accepted) << name;
        EXPECT_EQ(QpxFileDevice::isAcceptableFilename(std::wstring(name.begin(), name.end())), accepted)
            << name;
    }
    EXPECT_FALSE(QpxFileDevice::isAcceptableFilename(std::wstring(L"image.\u0151px")));
}

// ---- Round trips: every frame byte for byte, whole and by rectangle.

const NativeGeometry geometries[] = {
    {"gray8", 29, 11, 8, 8, 1},
    {"gray12in16", 29, 11, 12, 16, 1},
    {"gray16", 29, 11, 16, 16, 1},
    {"float32", 29, 11, 32, 32, 1},
    {"rgb8", 29, 11, 8, 8, 3},
    {"rgb16", 29, 11, 16, 16, 3},
    {"gray8_zlib", 29, 11, 8, 8, 1, true},
    {"gray12in16_zlib", 29, 11, 12, 16, 1, true},
    {"float32_zlib", 29, 11, 32, 32, 1, true},
    {"rgb16_zlib", 29, 11, 16, 16, 3, true},
};

class QpxRoundTrip : public ::testing::TestWithParam<NativeGeometry> {};

TEST_P(QpxRoundTrip, FramesReadBackByteForByte) {
    const NativeGeometry& g = GetParam();
    constexpr unsigned frames = 3;
    TempDir dir(std::string("roundtrip-") + g.name);
    const auto path = dir / "file.qpx";
    {
        QpxFileDevice file(path.string());
        ZanTest::writeNativeFile(file, g, frames);
    }
    const Bytes bytes = chunked_test::readFile(path);
    QpxFileDevice onFile(path.string());
    ASSERT_TRUE(onFile.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(onFile.filename(), path.string());
    const auto inMemory = openedFromMemory(bytes);
    EXPECT_EQ(inMemory->filename(), "");

    const long line = ZanTest::nativeLineBytes(g),
               pixel = ZanTest::nativeSampleBytes(g.bitsStored) * g.components;
    for (QpxFileDevice* file : {&onFile, inMemory.get()}) {
        const json a = file->attributes();
        EXPECT_EQ(a["widthPx"], g.width);
        EXPECT_EQ(a["heightPx"], g.height);
        EXPECT_EQ(a["componentCount"], g.components);
        EXPECT_EQ(a["bitsPerComponentInMemory"], g.bitsStored);
        EXPECT_EQ(a["bitsPerComponentSignificant"], g.bitsUsed);
        EXPECT_EQ(a.value("compressionType", ""), g.lossless ? "lossless" : "");
        ASSERT_EQ(file->sequenceCount(), frames);
        for (unsigned f = 0; f < frames; ++f) {
            SCOPED_TRACE(f);
            const Zan::ByteVector stored = ZanTest::nativePlane(g, f);
            const Bytes plane(stored.data(), stored.size());
            for (const IoImageDataDevice::OpenMode mode : {0x1u, 0x5u}) {
                EXPECT_TRUE(sameBytes(packedFrame(*file, f, mode), plane));
                auto frame = file->imageData(f);
                ASSERT_TRUE(frame->open(mode));
                EXPECT_EQ(frame->memoryMappedPlane() != nullptr, mode == 0x5 && !g.lossless);
                const Zan::Rectangle r{3, 2, 17, 6};
                const long stride = r.width * pixel;
                Bytes rect(static_cast<std::size_t>(stride * r.height), '\x5A');
                frame->packedImageRect(rect.data(), stride, r);
                for (long i = 0; i < r.height; ++i)
                    EXPECT_EQ(rect.substr(i * stride, stride),
                              plane.substr((r.y + i) * line + r.x * pixel, stride));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, QpxRoundTrip, ::testing::ValuesIn(geometries),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Documents of a version 3 file, and of the same metadata in a version 2 file.

const NativeGeometry rgb8{"rgb8", 6, 4, 8, 8, 3};

TEST(QpxDocuments, Version3AndVersion2Files) {
    const json raw = ZanTest::nativeRaw(rgb8, 2);
    const Bytes v3 = nativeFileBytes(rgb8, 2);
    const Bytes v2 = version2File(rgb8, 2);
    const auto three = openedFromMemory(v3);
    const auto two = openedFromMemory(v2);
    EXPECT_EQ(three->chunkedDevice().version()[0], 3);
    EXPECT_EQ(two->chunkedDevice().version()[0], 2);
    for (QpxFileDevice* file : {three.get(), two.get()}) {
        SCOPED_TRACE(file->chunkedDevice().version()[0]);
        EXPECT_EQ(file->rawMetadata()["Attributes_dic"]["uiWidth_u32"], 6);
        EXPECT_EQ(file->attributes(), three->attributes());
        const json loops = file->experiment();
        ASSERT_TRUE(loops.is_array());
        ASSERT_EQ(loops.size(), 1u);
        EXPECT_EQ(loops[0]["type"], "TimeLoop");
        EXPECT_EQ(loops[0]["count"], 2);
        EXPECT_EQ(file->allLoopIndexes(), (std::vector<std::vector<unsigned>>{{0}, {1}}));
        EXPECT_EQ(file->loopIndexes(1), std::vector<unsigned>{1});
        EXPECT_EQ(file->textInfo()["author"], "Ann");
        EXPECT_EQ(file->metadata()["/contents/channelCount"_json_pointer], 1);
        EXPECT_TRUE(file->frameMetadata(1, "")["channels"].is_array());
        EXPECT_EQ(file->frameMetadata(1, "/channels/0/channel/name"), "channel 0");
        // Three components of one channel: a colour frame.
        EXPECT_EQ(file->imageData(0)->interpretation(), IoImageDataDevice::Colour);
        const Zan::ByteVector plane = ZanTest::nativePlane(rgb8, 1);
        EXPECT_TRUE(sameBytes(packedFrame(*file, 1, 0x5), Bytes(plane.data(), plane.size())));
    }
}

// The raw metadata are written to version 3 files only; documents derived before a write keep their values.
TEST(QpxDocuments, RawMetadataWrites) {
    TempDir dir("rawwrite");
    const auto path = dir / "file.qpx";
    {
        QpxFileDevice file(path.string());
        ZanTest::writeNativeFile(file, rgb8, 1);
    }
    QpxFileDevice file(path.string());
    ZAN_EXPECT_THROW_MSG(file.setRawMetadata(json::object()), std::logic_error, "device is not open");
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(file.setRawMetadata(json::object()), std::logic_error, "device is not writable");
    ZAN_EXPECT_THROW_MSG(file.setChunkedData("X!", Zan::ByteVector(1)), std::logic_error,
                         "device is not writable");
    file.close();
    ASSERT_TRUE(file.open(ReadUpdate, 3, nullptr));
    const json first = file.attributes();
    json raw = ZanTest::nativeRaw(rgb8, 1);
    raw["Attributes_dic"]["uiWidth_u32"] = 12;
    const std::size_t before = file.chunkedDevice().chunkNames().size();
    ASSERT_TRUE(file.setRawMetadata(raw));
    EXPECT_EQ(file.attributes(), first);
    ASSERT_TRUE(file.setRawMetadata(raw));
    EXPECT_EQ(file.chunkedDevice().chunkNames().size(), before);
    file.close();
    // Eight chunks were appended, the map lists the last four; a new device reads them.
    const Bytes bytes = chunked_test::readFile(path);
    auto chunked = chunked_test::memoryDevice(bytes);
    ASSERT_TRUE(chunked->open(IoDevice::Read, 1, nullptr));
    long pos = 0, next = 0, metadataChunks = 0;
    while (chunked->nextChunk(pos, &next)) {
        std::string name;
        char head[1];
        chunked->readChunk(pos, &name, head, 0);
        metadataChunks += name.find("LV") != std::string::npos;
        pos = next;
    }
    EXPECT_EQ(metadataChunks, 12);
    EXPECT_EQ(openedFromMemory(bytes)->attributes()["widthPx"], 12);

    const Bytes v2 = version2File(rgb8, 1);
    TempDir dir2("rawwrite2");
    chunked_test::writeFile(dir2 / "v2.qpx", v2);
    QpxFileDevice old((dir2 / "v2.qpx").string());
    ASSERT_TRUE(old.open(ReadUpdate, 3, nullptr));
    EXPECT_FALSE(old.setRawMetadata(raw));
    old.close();
    EXPECT_EQ(chunked_test::readFile(dir2 / "v2.qpx").size(),
              v2.size() + 4096); // the map stored on close only
}

TEST(QpxDocuments, SettersAlwaysRefuse) {
    const Bytes bytes = nativeFileBytes(rgb8, 1);
    QpxFileDevice unbound;
    QpxFileDevice closed(bytes.size(), bytes.data());
    const auto open = openedFromMemory(bytes);
    for (QpxFileDevice* file : {&unbound, &closed, open.get()}) {
        ZAN_EXPECT_THROW_MSG(file->setAttributes({}), std::logic_error,
                             "QpxFileDevice::setAttributed not implemented");
        ZAN_EXPECT_THROW_MSG(file->setMetadata({}), std::logic_error,
                             "QpxFileDevice::setMetadata not implemented");
        ZAN_EXPECT_THROW_MSG(file->setFrameMetadata(0, {}), std::logic_error,
                             "QpxFileDevice::setFrameMetadata not implemented");
        ZAN_EXPECT_THROW_MSG(file->setExperiment({}), std::logic_error,
                             "QpxFileDevice::setExperiment not implemented");
        ZAN_EXPECT_THROW_MSG(file->setTextInfo({}), std::logic_error,
                             "QpxFileDevice::setTextInfo not implemented");
        ZAN_EXPECT_THROW_MSG(file->customMetadata(""), std::invalid_argument, "name is empty");
        ZAN_EXPECT_THROW_MSG(file->customMetadata("", 1), std::invalid_argument, "name is empty");
    }
    for (QpxFileDevice* file : {&unbound, &closed}) {
        ZAN_EXPECT_THROW_MSG(file->attributes(), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(file->sequenceCount(), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(file->imageData(0), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(file->customMetadata("x"), std::logic_error, "device is not open");
        ZAN_EXPECT_THROW_MSG(file->chunkedData("x!"), std::logic_error, "device is not open");
        EXPECT_EQ(file->openMode(), 0u);
    }
    EXPECT_FALSE(unbound.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(unbound.filename(), "");
}

TEST(QpxDocuments, CustomEntries) {
    TempDir dir("custom");
    const auto path = dir / "file.qpx";
    {
        QpxFileDevice file(path.string());
        ZanTest::writeNativeFile(file, rgb8, 2);
        ASSERT_TRUE(file.open(ReadUpdate, 3, nullptr));
        const Zan::ByteVector xml = ZanTest::xmlVariantBytes({{"dGain_dbl", 2.5}}, "Camera");
        file.setChunkedData("CustomDataVar|camera!", xml);
        file.setChunkedData("CustomDataVarSeq|camera1!", xml);
        file.setChunkedData("CustomData|blob!", Zan::ByteVector{'a', 'b'});
        file.close();
    }
    QpxFileDevice file(path.string());
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(file.customMetadata("camera")["Camera_dic"]["dGain_dbl"], 2.5);
    EXPECT_EQ(file.customMetadata("camera", 1), file.customMetadata("camera"));
    EXPECT_TRUE(file.customMetadata("camera", 0).is_null());
    EXPECT_TRUE(file.customMetadata("absent").is_null());
    EXPECT_EQ(file.chunkedData("CustomData|blob!"), (Zan::ByteVector{'a', 'b'}));
    EXPECT_TRUE(file.chunkedData("CustomData|none!").empty());
}

// ---- Open codes.

TEST(QpxOpen, Codes) {
    const Bytes good = nativeFileBytes(rgb8, 1);
    const auto withVersion = [&](const std::string& text) {
        Bytes b = good;
        b.replace(48, 64, text + Bytes(64 - text.size(), '\0'));
        return b;
    };
    struct Case {
        const char* name;
        Bytes bytes;
        bool opens;
        int code;
        bool staysOpen;
    };
    Bytes noMap = good;
    noMap[noMap.size() - 20] ^= 1;
    const Case cases[] = {
        {"version3", good, true, 0, true},
        {"version2", version2File(rgb8, 1), true, 0, true},
        {"version3.7", withVersion("Ver3.7"), true, 0, true},
        {"version1", withVersion("Ver1.0"), false, QpxFileDevice::UnsupportedVersion, false},
        {"version4", withVersion("Ver4.0"), false, QpxFileDevice::UnsupportedVersion, false},
        {"oldest", Bytes("\x00\x00\x00\x0C\x6A\x50\x20\x20", 8) + Bytes(200, 'j'), false,
         QpxFileDevice::OldestFormat, false},
        {"empty", "", false, QpxFileDevice::BadSignature, false},
        {"no_map", noMap, false, QpxFileDevice::ChunkMapUnreadable, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(std::string("open-") + c.name);
        const auto path = dir / "file.qpx";
        chunked_test::writeFile(path, c.bytes);
        QpxFileDevice file(path.string());
        int err = 12345;
        EXPECT_EQ(file.open(ReadUpdate, 3, &err), c.opens);
        EXPECT_EQ(err, c.code);
        EXPECT_EQ(file.openMode() != 0, c.staysOpen);
        file.close();
        // A file that is refused is left as it was found; a file that opens gets a new map on close.
        if (!c.staysOpen) {
            EXPECT_TRUE(sameBytes(chunked_test::readFile(path), c.bytes));
        }
    }
    // A file created anew carries version 3.
    TempDir dir("open-new");
    QpxFileDevice file((dir / "new.qpx").string());
    int err = -1;
    ASSERT_TRUE(file.open(IoDevice::Write | IoDevice::Update, 3, &err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(file.chunkedDevice().version()[0], 3);
}

// ---- Caches and the chunks a first read needs.

TEST(QpxCaches, FrameZeroReadsOnlyItsChunksOnce) {
    const Bytes bytes = nativeFileBytes({"gray16", 40, 30, 16, 16, 1}, 4);
    RecordingBuffer* buffer = nullptr;
    const auto file = recordedDevice(bytes, buffer);
    ASSERT_TRUE(file->open(IoDevice::Read, 3, nullptr));
    const std::size_t afterOpen = buffer->reads.size();
    EXPECT_EQ(chunksRead(*file, *buffer), std::vector<std::string>{}); // open reads signature and map only
    file->attributes();
    packedFrame(*file, 0, IoImageDataDevice::Read);
    // The metadata chunks in the order they are loaded, then the frame.
    EXPECT_EQ(chunksRead(*file, *buffer, afterOpen),
              (std::vector<std::string>{"ImageAttributesLV!", "ImageMetadataLV!", "ImageTextInfoLV!",
                                        "ImageMetadataSeqLV|0!", "ImageDataSeq|0!"}));
    const std::size_t afterFirst = buffer->reads.size();
    file->attributes();
    file->metadata();
    file->experiment();
    file->textInfo();
    file->rawMetadata();
    file->sequenceCount();
    packedFrame(*file, 0, IoImageDataDevice::Read);
    EXPECT_EQ(chunksRead(*file, *buffer, afterFirst), std::vector<std::string>{"ImageDataSeq|0!"});
}

// Caches outlive close and a later open, even of a changed file.
TEST(QpxCaches, KeptAcrossReopen) {
    TempDir dir("reopen");
    const auto path = dir / "file.qpx";
    {
        QpxFileDevice writer(path.string());
        ZanTest::writeNativeFile(writer, rgb8, 1);
    }
    QpxFileDevice file(path.string());
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    const json first = file.attributes();
    file.close();
    {
        QpxFileDevice writer(path.string());
        ZanTest::writeNativeFile(writer, {"other", 3, 3, 8, 8, 1}, 1);
    }
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(file.attributes(), first);
}

// ---- Frame addressing.

Bytes twoLoopFile() {
    using namespace ZanTest;
    json raw = nativeRaw({"gray8", 4, 2, 8, 8, 1}, 6);
    raw["Experiment_dic"] = level(TimeLevel, timePars(2), {level(ZStackLevel, zPars(3, 0, 2, 1, 1))});
    QpxFileDevice file(std::make_unique<QpxFileDevice::Impl>(std::make_unique<Zan::IoMemoryBuffer>()));
    EXPECT_TRUE(file.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
    file.setRawMetadata(raw);
    file.close();
    const auto* buffer = dynamic_cast<const Zan::IoMemoryBuffer*>(file.chunkedDevice().device());
    return Bytes(buffer->data(), static_cast<std::size_t>(buffer->size()));
}

TEST(QpxAddressing, SequenceIndexAndLoopIndexes) {
    const auto file = openedFromMemory(twoLoopFile());
    ASSERT_EQ(file->sequenceCount(), 6u);
    EXPECT_EQ(file->loopIndexes(4), (std::vector<unsigned>{1, 1}));
    ZAN_EXPECT_THROW_MSG(file->loopIndexes(6), std::out_of_range,
                         "QpxFileDevice::loopIndexes: frame 6 of a sequence of 6");
    ZAN_EXPECT_THROW_MSG(file->frameMetadata(6, ""), std::out_of_range,
                         "QpxFileDevice::frameMetadata: frame 6 of a sequence of 6");
    for (unsigned f = 0; f < 6; ++f) {
        unsigned seq = 99;
        EXPECT_TRUE(file->sequenceIndex(file->loopIndexes(f), &seq));
        EXPECT_EQ(seq, f);
    }
    const std::vector<std::vector<unsigned>> misses = {{1}, {0, 1, 0}, {2, 0}, {1, 3}, {}};
    for (const auto& key : misses) {
        unsigned seq = 99;
        EXPECT_FALSE(file->sequenceIndex(key, &seq));
        EXPECT_EQ(seq, 99u);
    }
    EXPECT_TRUE(file->sequenceIndex({1, 2}, nullptr));

}

// ---- Frame times and component ranges from the custom cache entries.

// A file of frames frames (4 by default) of 3 components with the given custom entries.
std::unique_ptr<QpxFileDevice>
withCustomData(const std::vector<std::pair<std::string, Zan::ByteVector>>& entries,
               std::uint32_t frames = 4) {
    auto file = std::make_unique<QpxFileDevice>(
        std::make_unique<QpxFileDevice::Impl>(std::make_unique<Zan::IoMemoryBuffer>()));
    EXPECT_TRUE(file->open(IoDevice::Write | IoDevice::Update, 3, nullptr));
    file->setRawMetadata(ZanTest::nativeRaw({"rgb8", 4, 2, 8, 8, 3}, frames));
    for (const auto& [name, data] : entries)
        file->setChunkedData("CustomData|" + name + "!", data);
    return file;
}

template <typename T>
Zan::ByteVector bytesOfValues(const std::vector<T>& values) {
    Zan::ByteVector bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST(QpxCacheEntries, FrameTimes) {
    // A frame without a time of its own has the file's time.
    const auto timeOf = [](QpxFileDevice& file, unsigned f) {
        return file.frameMetadata(f, "/channels/0/time");
    };
    const auto without = withCustomData({});
    const json fileTime = without->metadata().is_object() ? timeOf(*without, 0) : json();
    for (unsigned f = 0; f < 4; ++f)
        EXPECT_EQ(timeOf(*without, f), fileTime);
    Zan::ByteVector times = bytesOfValues<double>({10.0, 20.0});
    times.resize(20, '\0'); // a remainder of 4 bytes is ignored
    const auto with = withCustomData({{"AcqTimesCache", times}});
    EXPECT_EQ(timeOf(*with, 0)["relativeTimeMs"], 10.0);
    EXPECT_EQ(timeOf(*with, 1)["relativeTimeMs"], 20.0);
    EXPECT_EQ(timeOf(*with, 2), fileTime);
    EXPECT_EQ(timeOf(*with, 3), fileTime);
}

TEST(QpxCacheEntries, ComponentRanges) {
    const auto ranges = [](QpxFileDevice& file) {
        const json volume = file.metadata()["channels"][0]["volume"];
        return std::pair{volume.value("componentMinima", json()), volume.value("componentMaxima", json())};
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Pairs (minimum, maximum) per frame, 4 frames.
    const auto perFrame = bytesOfValues<float>({1, 5, -2, 3, nan, nan, 0, 9});
    const auto overall = bytesOfValues<float>({7, 8, 6, 9, 7, 7, 7, 7});
    const auto negative = bytesOfValues<float>({-9, -5, -8, -4, -7, -6, -9, -3});
    {
        const auto file = withCustomData({{"FloatCompRangeCache0", perFrame},
                                          {"FloatCompRangeCache1", negative},
                                          {"FloatCompRangeCache2", perFrame}});
        const auto [lo, hi] = ranges(*file);
        EXPECT_EQ(lo, json({-2.0, -9.0, -2.0}));
        // Maxima fold from the lowest float: all-negative maxima stay negative.
        EXPECT_EQ(hi, json({9.0, -3.0, 9.0}));
    }
    {
        // Component 2 has no entry: the overall entry decides all three.
        const auto file = withCustomData({{"FloatCompRangeCache0", perFrame},
                                          {"FloatCompRangeCache1", negative},
                                          {"FloatRangeCache", overall}});
        const auto [lo, hi] = ranges(*file);
        EXPECT_EQ(lo, json({6.0, 6.0, 6.0}));
        EXPECT_EQ(hi, json({9.0, 9.0, 9.0}));
    }
    {
        // Without it, components 0 and 1 keep their ranges and component 2 holds zeros.
        const auto file =
            withCustomData({{"FloatCompRangeCache0", perFrame}, {"FloatCompRangeCache1", negative}});
        const auto [lo, hi] = ranges(*file);
        EXPECT_EQ(lo, json({-2.0, -9.0, 0.0}));
        EXPECT_EQ(hi, json({9.0, -3.0, 0.0}));
    }
    {
        // An entry of the wrong size counts as missing.
        const auto file = withCustomData({{"FloatRangeCache", bytesOfValues<float>({1, 2})}});
        const auto [lo, hi] = ranges(*file);
        EXPECT_EQ(lo, json({0.0, 0.0, 0.0}));
    }
    {
        // A sequence count of 0 counts as one frame: each entry holds one pair.
        const auto file = withCustomData({{"FloatCompRangeCache0", bytesOfValues<float>({1, 5})},
                                          {"FloatRangeCache", bytesOfValues<float>({2, 4})}},
                                         0);
        const auto [lo, hi] = ranges(*file);
        EXPECT_EQ(lo, json({2.0, 2.0, 2.0}));
        EXPECT_EQ(hi, json({4.0, 4.0, 4.0}));
    }
}

// ---- Compression and interpretation handed to the frame devices.

// A device over a new memory file holding raw metadata only.
std::unique_ptr<QpxFileDevice> metadataOnly(const json& raw) {
    auto file = std::make_unique<QpxFileDevice>(
        std::make_unique<QpxFileDevice::Impl>(std::make_unique<Zan::IoMemoryBuffer>()));
    EXPECT_TRUE(file->open(IoDevice::Write | IoDevice::Update, 3, nullptr));
    file->setRawMetadata(raw);
    return file;
}

TEST(QpxFrames, CompressionAndInterpretation) {
    json raw = ZanTest::nativeRaw({"rgb8", 4, 2, 8, 8, 3, true}, 1);
    {
        const auto file = metadataOnly(raw);
        const auto frame = file->imageData(7);
        const auto& native = dynamic_cast<const ImageData&>(*frame);
        EXPECT_EQ(native.compression(), ImageData::Lossless);
        EXPECT_EQ(native.zlibLevel(), 0);
        EXPECT_EQ(native.frameChunkName(), "ImageDataSeq|7!");
        EXPECT_EQ(native.interpretation(), IoImageDataDevice::Colour);
        EXPECT_EQ(native.dataFormat(), IoImageDataDevice::UnsignedInteger);
    }
    const auto interpretationWith = [&](const json& planes) {
        json r = raw;
        r["Metadata_dic"]["sPicturePlanes_dic"] = planes;
        return metadataOnly(r)->imageData(0)->interpretation();
    };
    const json plane = {{"uiCompCount_u32", 1}};
    EXPECT_EQ(interpretationWith({{"uiCount_u32", 3},
                                  {"sPlaneNew_dic",
                                   {{ZanTest::positionKey(0), plane},
                                    {ZanTest::positionKey(1), plane},
                                    {ZanTest::positionKey(2), plane}}}}),
              IoImageDataDevice::Plain);
    // No channel count at all.
    EXPECT_EQ(interpretationWith({{"uiCount_u32", 0}}), IoImageDataDevice::Plain);
    // The channel count as the metadata document gives it: three components are colour for one channel,
    // and also when the count cannot be read at all.
    const std::pair<json, IoImageDataDevice::Interpretation> documents[] = {
        {json::array(), IoImageDataDevice::Colour},
        {{{"contents", {{"channelCount", "one"}}}}, IoImageDataDevice::Colour},
        {{{"contents", {{"channelCount", 1}}}}, IoImageDataDevice::Colour},
        {{{"contents", {{"channelCount", 3}}}}, IoImageDataDevice::Plain},
        {{{"contents", json::object()}}, IoImageDataDevice::Plain},
    };
    for (const auto& [document, expected] : documents) {
        SCOPED_TRACE(document.dump());
        QpxFileDevice::Impl impl(std::make_unique<Zan::IoMemoryBuffer>());
        ASSERT_TRUE(impl.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
        impl.setRawMetadata(raw);
        impl.metadataValid = true;
        impl.metadataDocument = document;
        EXPECT_EQ(impl.imageData(0)->interpretation(), expected);
    }

    raw["Attributes_dic"]["eCompression_i32"] = 2;
    EXPECT_EQ(dynamic_cast<const ImageData&>(*metadataOnly(raw)->imageData(0)).compression(),
              ImageData::None);
    raw["Attributes_dic"]["uiBpcSignificant_u32"] = 32;
    raw["Attributes_dic"]["uiBpcInMemory_u32"] = 32;
    EXPECT_EQ(metadataOnly(raw)->imageData(0)->dataFormat(), IoImageDataDevice::FloatingPoint);
    // A frame whose pixels have no components is refused (the fuzz target once read such a frame's empty
    // strips through a null row).
    json none = ZanTest::nativeRaw({"none", 4, 2, 8, 8, 1}, 1);
    none["Attributes_dic"]["uiComp_u32"] = 0;
    EXPECT_THROW(metadataOnly(none)->imageData(0), std::runtime_error);
    // Lossy frames are no zlib streams: refused, not read as raw bytes.
    raw["Attributes_dic"]["eCompression_i32"] = 1;
    ZAN_EXPECT_THROW_MSG(
        metadataOnly(raw)->imageData(0), std::runtime_error,
        "QpxFileDevice::imageData: frame 0 is lossy compressed, which this device cannot decode");
}

} // namespace
