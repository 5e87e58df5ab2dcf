#pragma once

// One conformance table over every image-file device: the native container (raw and compressed frames),
// TIFF, private-tag TIFF and JSON image sets, each directly and through the facade. Every case writes a
// small sample file with our own writers, then checks open modes and their refusals, the sequence count and
// loop indexes both ways, the kind and keys of every document, every frame's pixels whole and by rectangle,
// close twice, a closed device and bad indexes. Where a device differs on purpose, capabilitiesOf says so:
// the one place.
//
// A test program includes this header in one source file and instantiates the suite with its rows:
//
//   INSTANTIATE_TEST_SUITE_P(Native, ImageFileConformance,
//                            conformanceCases({ImageFileKind::Native}, Route::Direct), conformanceCaseName);

#include <support/Expect.h>
#include <support/ImageDataReadPaths.h>
#include <support/JsonSets.h>
#include <support/NativeFiles.h>
#include <support/RawMetadataFixtures.h>
#include <support/TempDir.h>
#include <support/TiffFixtures.h>
#include <support/TiffPrivateTagFiles.h>
#include <support/ZStackFiles.h>

#include <imagefile/IoImageFile.h>
#include <io/IoDevice.h>
#include <io/IoImageFileDevice.h>
#include <jsonset/JsonFileDevice.h>
#include <qpx/QpxFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

// Every kind of file the table runs over.
enum class ImageFileKind { Native, NativeLossless, Tiff, PrivateTagTiff, JsonSet, JsonSetPerFrame };

enum class Route { Direct, Facade };

// Where a device differs from the others on purpose: the one place that says so.
struct ImageFileCapabilities {
    // The modes that open the sample file; every other mode of kModes is refused.
    std::vector<Zan::IoDevice::OpenMode> opens;
    // How a refused mode is refused: this std::logic_error, or open returns false when empty.
    std::string refusedModeError;
    // Opening an open device: this std::logic_error, or it closes and opens again when empty.
    std::string reopenError;
    // A successful open stores 0 through its code argument; else the code is left as it was.
    bool storesOpenCode = false;
    // The std::logic_error of every query on a device that is not open; of imageData when it differs.
    std::string closedError;
    std::string closedFrameError;
    // The setters that a device open for writing takes; the others refuse with a std::logic_error. The
    // sample files of the kinds that take setAttributes are written through the interface (setAttributes,
    // then each frame's device); the others come from the device's own writer (native raw metadata) or
    // from elsewhere (read only).
    std::set<std::string> setters = {"setAttributes", "setMetadata", "setExperiment", "setTextInfo",
                                     "setFrameMetadata"};
    // The members of the raw-metadata document; empty: it is null.
    std::vector<std::string> rawKeys;
    // Raw and custom metadata are reached (the facade offers neither).
    bool rawAndCustom = true;
    // frameMetadata's JSON pointer selects a part of the frame's document; else the whole is returned.
    bool framePointer = true;
    // Documents ("experiment", "textInfo", "frameMetadata") that the sample leaves null, where the others
    // hand out objects (an array of loops for the experiment); the facade's records of them are empty.
    std::set<std::string> nullDocuments;
    // A second close is quiet; else it throws closedError.
    bool closeTwice = true;
    // The frame devices handed out, with their own differences (ImageDataReadPaths.h).
    FrameDevice frames = FrameDevice::Test;
};

inline ImageFileCapabilities capabilitiesOf(ImageFileKind kind, Route route) {
    using Zan::IoDevice;
    ImageFileCapabilities c;
    switch (kind) {
    case ImageFileKind::Native:
    case ImageFileKind::NativeLossless:
        // The byte device's modes, but for Append: the signature cannot be read back without Update.
        c.opens = {IoDevice::Read, IoDevice::Write, IoDevice::Read | IoDevice::Update,
                   IoDevice::Write | IoDevice::Update, IoDevice::Append | IoDevice::Update};
        c.reopenError = "already open";
        c.storesOpenCode = true;
        c.closedError = "device is not open";
        // The file is written through raw metadata and frames only.
        c.setters = {};
        c.rawKeys = {"Attributes_dic", "Experiment_dic", "Metadata_dic", "TextInfo_dic"};
        c.frames = FrameDevice::Native;
        break;
    case ImageFileKind::Tiff:
    case ImageFileKind::PrivateTagTiff:
        c.opens = {IoDevice::Read, IoDevice::Write, IoDevice::Append};
        c.reopenError = "already open";
        c.closedError = "device is not open";
        c.frames = FrameDevice::Tiff;
        c.closeTwice = false;
        // A frame's geometry and colour; a new file is a plain TIFF of one frame.
        c.setters = {"setAttributes", "setMetadata"};
        if (kind == ImageFileKind::PrivateTagTiff) {
            // Read only: its documents come from the private blobs, which the device never writes.
            c.rawKeys = {"Attributes_dic", "Experiment_dic", "Metadata_dic", "TextInfo_dic"};
        } else {
            // One frame of no loops, described by its tags alone.
            c.rawKeys = {"Attributes_dic"};
            c.nullDocuments = {"experiment", "textInfo", "frameMetadata"};
        }
        break;
    case ImageFileKind::JsonSet:
    case ImageFileKind::JsonSetPerFrame:
        c.opens = {IoDevice::Read, IoDevice::Write, IoDevice::Read | IoDevice::Update,
                   IoDevice::Write | IoDevice::Update, IoDevice::Update};
        c.refusedModeError = "JsonFileDevice: Unrecognized open mode";
        c.closedError = "JsonFileDevice: not open for reading";
        // A frame device is handed out for writing as well.
        c.closedFrameError = "JsonFileDevice: not open";
        // The sample sets store no raw metadata and no text information, which have no defaults.
        c.nullDocuments = {"textInfo"};
        c.framePointer = false;
        c.frames = FrameDevice::JsonSet;
        break;
    }
    if (c.closedFrameError.empty())
        c.closedFrameError = c.closedError;
    if (route == Route::Facade) {
        // The facade reaches the documents through the typed records and has no raw or custom metadata;
        // the adapter below selects a frame document's part itself.
        c.rawAndCustom = false;
        c.rawKeys.clear();
        c.framePointer = true;
    }
    return c;
}

// The modes tried on every device: the accepted byte-device modes and a few that no device takes.
inline const std::vector<Zan::IoDevice::OpenMode>& conformanceModes() {
    using Zan::IoDevice;
    static const std::vector<IoDevice::OpenMode> modes = {
        IoDevice::Read,
        IoDevice::Write,
        IoDevice::Append,
        IoDevice::Read | IoDevice::Update,
        IoDevice::Write | IoDevice::Update,
        IoDevice::Append | IoDevice::Update,
        IoDevice::Update,
        IoDevice::NotOpen,
        IoDevice::Read | IoDevice::Write,
        IoDevice::Read | IoDevice::Text,
    };
    return modes;
}

// The facade as an image-file device: the documents go through the typed records both ways, so the table
// checks that the records carry what each device hands out.
class FacadeDevice : public Zan::IoImageFileDevice {
public:
    explicit FacadeDevice(const std::string& name) : file_(name) {}

    bool open(Zan::IoDevice::OpenMode mode, OpenOptions options, int* error) override {
        return file_.open(mode, options, error);
    }
    void close() override { file_.close(); }
    Zan::IoDevice::OpenMode openMode() const override { return file_.openMode(); }
    std::string filename() const override { return file_.filename(); }
    unsigned sequenceCount() override { return file_.sequenceCount(); }
    bool sequenceIndex(const std::vector<unsigned>& indexes, unsigned* seq) override {
        return file_.sequenceIndex(indexes, seq);
    }
    std::vector<unsigned> loopIndexes(unsigned seq) override { return file_.loopIndexes(seq); }
    std::vector<std::vector<unsigned>> allLoopIndexes() override { return file_.allLoopIndexes(); }
    nlohmann::json rawMetadata() override { return nullptr; }
    nlohmann::json attributes() override { return file_.attributes(); }
    void setAttributes(const nlohmann::json& j) override {
        file_.setAttributes(j.get<Zan::IoImageFile::Attributes>());
    }
    nlohmann::json metadata() override { return file_.metadata(); }
    void setMetadata(const nlohmann::json& j) override {
        file_.setMetadata(j.get<Zan::IoImageFile::Metadata>());
    }
    nlohmann::json frameMetadata(unsigned seq, const std::string& pointer) override {
        const nlohmann::json whole = file_.frameMetadata(seq);
        return pointer.empty() ? whole : whole.at(nlohmann::json::json_pointer(pointer));
    }
    void setFrameMetadata(unsigned seq, const nlohmann::json& j) override {
        file_.setFrameMetadata(seq, j.get<Zan::IoImageFile::FrameMetadata>());
    }
    nlohmann::json experiment() override { return file_.experiment(); }
    void setExperiment(const nlohmann::json& j) override {
        file_.setExperiment(j.get<std::vector<Zan::IoImageFile::ExperimentLoop>>());
    }
    nlohmann::json textInfo() override { return file_.textInfo(); }
    void setTextInfo(const nlohmann::json& j) override {
        file_.setTextInfo(j.get<Zan::IoImageFile::TextInfo>());
    }
    std::unique_ptr<Zan::IoImageDataDevice> imageData(unsigned seq) override { return file_.imageData(seq); }
    nlohmann::json customMetadata(const std::string&) override { return nullptr; }
    nlohmann::json customMetadata(const std::string&, unsigned) override { return nullptr; }

private:
    Zan::IoImageFile file_;
};

// One sample file and what it holds.
struct ImageFileRow {
    const char* name;
    ImageFileKind kind;
    const char* fileName;
    long width, height, bitsUsed, bitsStored, components, frames;
    // Writes the sample file at path; device is the unopened device of the case over it (direct or through
    // the facade), which the kinds that write through the interface use.
    std::function<void(Zan::IoImageFileDevice& device, const std::string& path)> write;
    // The stored component c of pixel (x, y) of frame f, as the frame devices hand it out.
    std::function<Sample(unsigned f, long x, long y, long c)> sample;
    // Loops of the experiment, outermost first; their counts multiply to frames.
    std::size_t loops = 1;
};

inline std::unique_ptr<Zan::IoImageFileDevice> directDevice(ImageFileKind kind, const std::string& path) {
    switch (kind) {
    case ImageFileKind::Native:
    case ImageFileKind::NativeLossless:
        return std::make_unique<Zan::QpxFileDevice>(path);
    case ImageFileKind::Tiff:
    case ImageFileKind::PrivateTagTiff:
        return std::make_unique<Zan::TifFileDevice>(path);
    case ImageFileKind::JsonSet:
    case ImageFileKind::JsonSetPerFrame:
        return std::make_unique<Zan::JsonFileDevice>(path);
    }
    return nullptr;
}

inline ImageFileRow nativeRow(const char* name, ImageFileKind kind, const NativeGeometry& g,
                              std::uint32_t frames) {
    return {name,
            kind,
            "image.qpx",
            g.width,
            g.height,
            g.bitsUsed,
            g.bitsStored,
            g.components,
            frames,
            [g, frames](Zan::IoImageFileDevice&, const std::string& path) {
                Zan::QpxFileDevice file(path);
                writeNativeFile(file, g, frames);
            },
            [g](unsigned f, long x, long y, long c) { return nativeSample(g, f, x, y, c); }};
}

inline ImageFileRow setRow(const char* name, ImageFileKind kind, const char* fileName, const SetGeometry& g,
                           FileLayout layout, const nlohmann::json& experiment = nullptr) {
    return {name,
            kind,
            fileName,
            g.width,
            g.height,
            g.bits,
            g.bits,
            g.components,
            g.frames,
            [g, layout, experiment](Zan::IoImageFileDevice& device, const std::string& path) {
                // Only a set names its frame files: through the facade, the set itself writes them.
                if (layout == FileLayout::PerFrame) {
                    Zan::JsonFileDevice set(path);
                    writeSet(set, g, layout, experiment);
                } else {
                    writeSet(device, g, layout, experiment);
                }
            },
            [g](unsigned f, long x, long y, long c) { return setSample(g, f, x, y, c); },
            experiment.is_null() ? 1 : experiment.size()};
}

// Three frames of one 8-bit directory each, with an experiment, text information and frame-0 metadata in
// the private blobs.
inline PrivateTiff privateTagSample() {
    PrivateTiff file;
    file.directories = 3;
    file.compPlanes = 1.0;
    const nlohmann::json metadata = {
        {"sPicturePlanes_dic",
         {{"uiCount_u32", 1},
          {"sPlaneNew_dic",
           {{positionKey(0), {{"uiCompCount_u32", 1}, {"sDescription_str", "channel 0"}}}}}}}};
    file.data = namedBlob(
        {{u"ExperimentTiffV1_0", liteVariantBytes(level(TimeLevel, timePars(3, 250.0)), kExperimentRoot)},
         {u"TextInfoTiffV1_0", liteVariantBytes({{"TextInfoItem_4_str", "Ann"}}, kTextInfoRoot)},
         {u"AcqTimesCache", doubleBytes({0.0, 250.0, 500.0})}});
    file.dataSeq = sequenceBlob({{u"MetadataTiffV1_0", {{0, liteVariantBytes(metadata, kMetadataRoot)}}}});
    return file;
}

inline const std::vector<ImageFileRow>& conformanceRows() {
    static const std::vector<ImageFileRow> rows = [] {
        // Two time points of three Z planes each.
        static constexpr NativeGeometry timeZ{"gray8", 37, 23, 8, 8, 1};
        const PrivateTiff privateTag = privateTagSample();
        return std::vector<ImageFileRow>{
            nativeRow("native_rgb16", ImageFileKind::Native, {"rgb16", 37, 23, 16, 16, 3}, 3),
            {"native_time_z_gray8", ImageFileKind::Native, "image.qpx", 37, 23, 8, 8, 1, 6,
             [](Zan::IoImageFileDevice&, const std::string& path) {
                 writeZStackFile(path, timeZ, {ZStackLayout::TimeAround, 2, 3, 0, false});
             },
             [](unsigned f, long x, long y, long c) { return nativeSample(timeZ, f, x, y, c); }, 2},
            nativeRow("native_lossless_gray12", ImageFileKind::NativeLossless,
                      {"gray12", 37, 23, 12, 16, 1, true}, 2),
            setRow("tiff_rgb8", ImageFileKind::Tiff, "image.tif", {37, 23, 8, 3, 1},
                   FileLayout::PerComponent),
            {"private_tag_tiff_gray8", ImageFileKind::PrivateTagTiff, "private.tif", 37, 23, 8, 8, 1, 3,
             [privateTag](Zan::IoImageFileDevice&, const std::string& path) {
                 writeBytes(path, writePrivateTiff(privateTag));
             },
             [privateTag](unsigned f, long x, long y, long c) {
                 return expectedSample(pageOf(privateTag, f), 0, x, y, c, {});
             }},
            setRow("json_set_time_z_rgb16", ImageFileKind::JsonSet, "set.json", {37, 23, 16, 3, 4},
                   FileLayout::PerComponent,
                   {{{"type", "TimeLoop"},
                     {"count", 2},
                     {"nestingLevel", 0},
                     {"parameters", {{"periodMs", 500.0}}}},
                    {{"type", "ZStackLoop"}, {"count", 2}, {"nestingLevel", 1}, {"parameters", nullptr}}}),
            setRow("json_set_per_frame_rgb8", ImageFileKind::JsonSetPerFrame, "set.json", {37, 23, 8, 3, 2},
                   FileLayout::PerFrame),
        };
    }();
    return rows;
}

struct ConformanceCase {
    const ImageFileRow* row;
    Route route;
};

inline std::vector<ConformanceCase> conformanceCases(const std::vector<ImageFileKind>& kinds, Route route) {
    std::vector<ConformanceCase> cases;
    for (const ImageFileRow& row : conformanceRows())
        for (ImageFileKind kind : kinds)
            if (row.kind == kind)
                cases.push_back({&row, route});
    return cases;
}

inline std::string conformanceCaseName(const testing::TestParamInfo<ConformanceCase>& info) {
    return std::string(info.param.route == Route::Facade ? "facade_" : "") + info.param.row->name;
}

inline void PrintTo(const ConformanceCase& c, std::ostream* os) {
    *os << (c.route == Route::Facade ? "facade " : "") << c.row->name;
}

class ImageFileConformance : public testing::TestWithParam<ConformanceCase> {
protected:
    const ImageFileRow& row() const { return *GetParam().row; }
    ImageFileCapabilities caps() const { return capabilitiesOf(row().kind, GetParam().route); }
    std::string path() const { return dir_.file(row().fileName); }
    const std::filesystem::path& dir() const { return dir_.path(); }

    std::unique_ptr<Zan::IoImageFileDevice> device() const {
        if (GetParam().route == Route::Facade)
            return std::make_unique<FacadeDevice>(path());
        return directDevice(row().kind, path());
    }

    // The sample file, written anew, and a device over it opened for reading.
    std::unique_ptr<Zan::IoImageFileDevice> writeAndOpen() const {
        writeSample();
        auto d = device();
        if (!d->open(Zan::IoDevice::Read, 3, nullptr))
            throw std::runtime_error(std::string("the sample does not open: ") + row().name);
        return d;
    }

    // What a reader finds in the file: frame count, attributes and the pixels of every frame.
    struct Snapshot {
        unsigned frames = 0;
        nlohmann::json attributes;
        std::vector<std::vector<char>> pixels;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const {
        auto d = device();
        if (!d->open(Zan::IoDevice::Read, 3, nullptr))
            return {};
        Snapshot s{d->sequenceCount(), d->attributes(), {}};
        for (unsigned seq = 0; seq < s.frames; ++seq) {
            const auto frame = d->imageData(seq);
            if (!frame->open(Zan::IoImageDataDevice::Read))
                return s;
            const long stride = frame->packedLineSize(1);
            s.pixels.emplace_back(static_cast<std::size_t>(stride * frame->height()));
            frame->packedImage(s.pixels.back().data(), stride);
            frame->close();
        }
        return s;
    }

    void writeSample() const {
        std::filesystem::remove_all(dir_.path());
        std::filesystem::create_directory(dir_.path());
        auto writer = device();
        row().write(*writer, path());
    }

private:
    TempDir dir_;
};

// ---- Open modes and their refusals.

TEST_P(ImageFileConformance, OpenModesAndTheirRefusals) {
    const ImageFileCapabilities c = caps();
    writeSample();
    const Snapshot written = snapshot();
    for (const Zan::IoDevice::OpenMode mode : conformanceModes()) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        writeSample();
        auto d = device();
        const bool accepted = std::find(c.opens.begin(), c.opens.end(), mode) != c.opens.end();
        if (accepted || c.refusedModeError.empty()) {
            EXPECT_EQ(d->open(mode, 3, nullptr), accepted);
        } else {
            ZAN_EXPECT_THROW_MSG(d->open(mode, 3, nullptr), std::logic_error, c.refusedModeError);
        }
        EXPECT_EQ(d->openMode(), accepted ? mode : Zan::IoDevice::NotOpen);
        if (!accepted)
            continue;
        d->close();
        // Opening without truncation and closing loses nothing.
        if (!(mode & Zan::IoDevice::Write)) {
            EXPECT_EQ(snapshot(), written);
        }
    }
    // An open device.
    auto d = writeAndOpen();
    if (c.reopenError.empty()) {
        EXPECT_TRUE(d->open(Zan::IoDevice::Read, 3, nullptr));
        EXPECT_EQ(d->sequenceCount(), static_cast<unsigned>(row().frames));
    } else {
        ZAN_EXPECT_THROW_MSG(d->open(Zan::IoDevice::Read, 3, nullptr), std::logic_error, c.reopenError);
    }
    EXPECT_EQ(d->openMode(), Zan::IoDevice::Read);
    d->close();
    int code = 1234;
    ASSERT_TRUE(d->open(Zan::IoDevice::Read, 3, &code));
    EXPECT_EQ(code, c.storesOpenCode ? 0 : 1234);
    // A file that does not exist opens for reading nowhere, and no code tells more.
    std::filesystem::remove_all(std::filesystem::path(path()).parent_path());
    code = 1234;
    EXPECT_FALSE(device()->open(Zan::IoDevice::Read, 3, &code));
    EXPECT_EQ(code, 1234);
}

// ---- Sequence count and loop indexes, both ways.

TEST_P(ImageFileConformance, SequenceCountAndLoopIndexesBothWays) {
    auto d = writeAndOpen();
    const unsigned count = d->sequenceCount();
    ASSERT_EQ(count, static_cast<unsigned>(row().frames));
    const auto all = d->allLoopIndexes();
    ASSERT_EQ(all.size(), count);
    // A file of one frame may have no loops at all.
    const nlohmann::json loops = d->experiment().is_null() ? nlohmann::json::array() : d->experiment();
    ASSERT_TRUE(loops.is_array());
    for (unsigned seq = 0; seq < count; ++seq) {
        SCOPED_TRACE("frame " + std::to_string(seq));
        const std::vector<unsigned> indexes = d->loopIndexes(seq);
        EXPECT_EQ(indexes, all[seq]);
        EXPECT_EQ(indexes.size(), loops.size());
        unsigned back = UINT_MAX;
        EXPECT_TRUE(d->sequenceIndex(indexes, &back));
        EXPECT_EQ(back, seq);
        EXPECT_TRUE(d->sequenceIndex(indexes, nullptr));
    }
    // Keys that name no frame leave the index as it was.
    std::vector<unsigned> beyond = all.back(), longer = all.back();
    if (!beyond.empty())
        beyond.back() += 1;
    longer.push_back(0);
    for (const auto& key : {beyond, longer, std::vector<unsigned>{}}) {
        const bool names = std::find(all.begin(), all.end(), key) != all.end();
        unsigned seq = 77;
        EXPECT_EQ(d->sequenceIndex(key, &seq), names) << testing::PrintToString(key);
        EXPECT_EQ(seq,
                  names ? static_cast<unsigned>(std::find(all.begin(), all.end(), key) - all.begin()) : 77u);
    }
}

// ---- Every document's kind and keys.

TEST_P(ImageFileConformance, DocumentsHaveTheirKindsAndKeys) {
    const ImageFileCapabilities c = caps();
    auto d = writeAndOpen();
    const nlohmann::json a = d->attributes();
    ASSERT_TRUE(a.is_object()) << a;
    EXPECT_EQ(a.value("widthPx", -1), row().width);
    EXPECT_EQ(a.value("heightPx", -1), row().height);
    EXPECT_EQ(a.value("componentCount", -1), row().components);
    EXPECT_EQ(a.value("bitsPerComponentInMemory", -1), row().bitsStored);
    EXPECT_EQ(a.value("bitsPerComponentSignificant", -1), row().bitsUsed);
    EXPECT_EQ(a.value("sequenceCount", -1), row().frames);

    if (c.rawAndCustom) {
        const nlohmann::json raw = d->rawMetadata();
        if (c.rawKeys.empty()) {
            EXPECT_TRUE(raw.is_null()) << raw;
        } else {
            ASSERT_TRUE(raw.is_object()) << raw;
            for (const std::string& key : c.rawKeys)
                EXPECT_TRUE(raw.contains(key) && raw[key].is_object()) << key;
        }
        EXPECT_TRUE(d->customMetadata("NoSuchEntry").is_null());
        EXPECT_TRUE(d->customMetadata("NoSuchEntry", 0).is_null());
    }

    // A document the sample leaves null; through the facade, its empty record.
    const bool facade = GetParam().route == Route::Facade;
    const auto isNull = [&](const char* name) { return c.nullDocuments.count(name) != 0; };
    const auto expectNull = [&](const char* name, const nlohmann::json& doc, const nlohmann::json& empty) {
        EXPECT_EQ(doc, facade ? empty : nlohmann::json()) << name;
    };

    const nlohmann::json loops = d->experiment();
    if (isNull("experiment")) {
        expectNull("experiment", loops, nlohmann::json::array());
        EXPECT_EQ(row().frames, 1);
    } else {
        ASSERT_TRUE(loops.is_array()) << loops;
        ASSERT_EQ(loops.size(), row().loops);
        long product = 1;
        for (const nlohmann::json& loop : loops) {
            ASSERT_TRUE(loop.is_object()) << loop;
            EXPECT_TRUE(loop.contains("type") && loop["type"].is_string()) << loop;
            ASSERT_TRUE(loop.contains("count") && loop["count"].is_number_integer()) << loop;
            product *= loop["count"].get<long>();
        }
        EXPECT_EQ(product, row().frames);
    }

    const nlohmann::json m = d->metadata();
    ASSERT_TRUE(m.is_object()) << m;
    const auto channelCount = m.value(nlohmann::json::json_pointer("/contents/channelCount"), 0);
    EXPECT_GE(channelCount, 1) << m;
    ASSERT_TRUE(m.contains("channels") && m["channels"].is_array()) << m;
    EXPECT_EQ(m["channels"].size(), static_cast<std::size_t>(channelCount));

    if (isNull("textInfo"))
        expectNull("textInfo", d->textInfo(), Zan::IoImageFile::TextInfo{});
    else
        EXPECT_TRUE(d->textInfo().is_object()) << d->textInfo();

    for (unsigned seq = 0; seq < d->sequenceCount(); ++seq) {
        SCOPED_TRACE("frame " + std::to_string(seq));
        const nlohmann::json frame = d->frameMetadata(seq, "");
        if (isNull("frameMetadata")) {
            expectNull("frameMetadata", frame, Zan::IoImageFile::FrameMetadata{});
            continue;
        }
        ASSERT_TRUE(frame.is_object()) << frame;
        ASSERT_TRUE(frame.contains("channels") && frame["channels"].is_array()) << frame;
        EXPECT_EQ(frame["channels"].size(), static_cast<std::size_t>(channelCount));
        for (const nlohmann::json& channel : frame["channels"])
            EXPECT_TRUE(channel.contains("time") && channel.contains("position")) << channel;
        EXPECT_EQ(d->frameMetadata(seq, "/channels"), c.framePointer ? frame["channels"] : frame);
    }
}

// ---- Every frame, whole and by rectangle, against the pixels written.

TEST_P(ImageFileConformance, EveryFrameWholeAndByRectangle) {
    const ImageFileCapabilities c = caps();
    auto d = writeAndOpen();
    for (unsigned seq = 0; seq < d->sequenceCount(); ++seq) {
        SCOPED_TRACE("frame " + std::to_string(seq));
        const auto frame = d->imageData(seq);
        ASSERT_TRUE(frame->open(Zan::IoImageDataDevice::Read));
        frame->setPropertyInt(Zan::IoImageDataDevice::StopOnError, 1);
        EXPECT_EQ(frame->width(), row().width);
        EXPECT_EQ(frame->height(), row().height);
        EXPECT_EQ(frame->bitsPerComponentStored(), row().bitsStored);
        const long cpp = frame->componentsPerPixel();
        ASSERT_EQ(frame->channels(), row().components);
        const Geometry g{row().name,
                         row().width,
                         row().height,
                         frame->bitsPerComponentUsed(),
                         row().bitsStored,
                         cpp,
                         frame->planes(),
                         frame->lineAlignment(),
                         frame->interpretation(),
                         frame->dataFormat()};
        const ImageFileRow& r = row();
        expectReadPathsMatch(
            *frame, {g, [&](long p, long x, long y, long k) { return r.sample(seq, x, y, p * cpp + k); }},
            c.frames, [](const ReadPath& path) { return path.name.rfind("packedImage", 0) == 0; });
        frame->close();
    }
}

// ---- Writing: the setters a device writes with take documents on a new file; every setter refuses on a
// closed device and on one open for reading.

TEST_P(ImageFileConformance, SettersWriteOrRefuse) {
    const ImageFileCapabilities c = caps();
    auto d = writeAndOpen();
    const nlohmann::json loops = d->experiment();
    const std::vector<std::pair<std::string, nlohmann::json>> documents = {
        {"setAttributes", d->attributes()},
        {"setMetadata", d->metadata()},
        {"setExperiment", loops.is_array() ? loops : nlohmann::json::array()},
        {"setTextInfo", Zan::IoImageFile::TextInfo{}},
        {"setFrameMetadata", d->frameMetadata(0, "")},
    };
    const auto set = [](Zan::IoImageFileDevice& device, const std::string& setter,
                        const nlohmann::json& doc) {
        if (setter == "setAttributes")
            device.setAttributes(doc);
        else if (setter == "setMetadata")
            device.setMetadata(doc);
        else if (setter == "setExperiment")
            device.setExperiment(doc);
        else if (setter == "setTextInfo")
            device.setTextInfo(doc);
        else
            device.setFrameMetadata(0, doc);
    };
    d->close();
    for (const Zan::IoDevice::OpenMode mode : {Zan::IoDevice::NotOpen, Zan::IoDevice::Read}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        if (mode != Zan::IoDevice::NotOpen) {
            ASSERT_TRUE(d->open(mode, 3, nullptr));
        }
        for (const auto& [setter, doc] : documents)
            EXPECT_THROW(set(*d, setter, doc), std::logic_error) << setter;
    }
    d->close();
    d.reset();

    std::filesystem::remove_all(dir());
    std::filesystem::create_directory(dir());
    auto created = device();
    ASSERT_TRUE(created->open(Zan::IoDevice::Write, 3, nullptr));
    for (const auto& [setter, doc] : documents) {
        if (c.setters.count(setter))
            EXPECT_NO_THROW(set(*created, setter, doc)) << setter;
        else
            EXPECT_THROW(set(*created, setter, doc), std::logic_error) << setter;
    }
}

// ---- A file open for reading keeps its pixels: its frame devices refuse to write, at open or at the write.

TEST_P(ImageFileConformance, AFileOpenForReadingKeepsItsFrames) {
    writeSample();
    const Snapshot written = snapshot();
    {
        auto d = device();
        ASSERT_TRUE(d->open(Zan::IoDevice::Read, 3, nullptr));
        const auto frame = d->imageData(0);
        try {
            if (frame->open(Zan::IoImageDataDevice::Write)) {
                const long stride = frame->packedLineSize(1);
                const std::vector<char> zeros(static_cast<std::size_t>(stride * frame->height()));
                EXPECT_THROW(frame->setPackedImage(zeros.data(), stride), std::exception);
                frame->close();
            }
        } catch (const std::logic_error&) {
        }
    }
    EXPECT_EQ(snapshot(), written);
}

// ---- Close twice, and what a closed device answers.

TEST_P(ImageFileConformance, CloseTwiceAndQueriesOfAClosedDevice) {
    const ImageFileCapabilities c = caps();
    writeSample();
    auto opened = device();
    ASSERT_TRUE(opened->open(Zan::IoDevice::Read, 3, nullptr));
    opened->close();
    if (c.closeTwice)
        EXPECT_NO_THROW(opened->close());
    else
        ZAN_EXPECT_THROW_MSG(opened->close(), std::logic_error, c.closedError);
    for (const auto& d : {device(), std::move(opened)}) {
        EXPECT_EQ(d->openMode(), Zan::IoDevice::NotOpen);
        EXPECT_EQ(d->filename(), path());
        std::vector<std::function<void()>> queries{
            [&] { d->sequenceCount(); },      [&] { d->sequenceIndex({0}, nullptr); },
            [&] { d->loopIndexes(0); },       [&] { d->allLoopIndexes(); },
            [&] { d->attributes(); },         [&] { d->metadata(); },
            [&] { d->frameMetadata(0, ""); }, [&] { d->experiment(); },
            [&] { d->textInfo(); },
        };
        if (c.rawAndCustom) {
            queries.push_back([&] { d->rawMetadata(); });
            queries.push_back([&] { d->customMetadata("Entry"); });
            queries.push_back([&] { d->customMetadata("Entry", 0); });
        }
        for (std::size_t i = 0; i < queries.size(); ++i)
            EXPECT_EQ(messageOf<std::logic_error>(queries[i]), c.closedError) << "query " << i;
        EXPECT_EQ(messageOf<std::logic_error>([&] { d->imageData(0); }), c.closedFrameError);
    }
}

// ---- Bad indexes.

TEST_P(ImageFileConformance, BadIndexesAreRefused) {
    auto d = writeAndOpen();
    const unsigned count = d->sequenceCount();
    for (const unsigned seq : {count, count + 1, UINT_MAX}) {
        SCOPED_TRACE("frame " + std::to_string(seq));
        EXPECT_THROW(d->loopIndexes(seq), std::out_of_range);
        // A document that the file leaves null is null for every index.
        if (caps().nullDocuments.count("frameMetadata"))
            EXPECT_NO_THROW(d->frameMetadata(seq, ""));
        else
            EXPECT_THROW(d->frameMetadata(seq, ""), std::exception);
        // No frame device hands out another frame's pixels, nor made-up ones: it is refused, does not open
        // for reading, or its read fails.
        try {
            const auto frame = d->imageData(seq);
            if (frame->open(Zan::IoImageDataDevice::Read)) {
                frame->setPropertyInt(Zan::IoImageDataDevice::StopOnError, 1);
                const long stride = frame->packedLineSize(1);
                std::vector<char> pixels(static_cast<std::size_t>(stride * frame->height()));
                EXPECT_THROW(frame->packedImage(pixels.data(), stride), std::exception);
            }
        } catch (const std::exception&) {
        }
    }
    EXPECT_EQ(d->sequenceCount(), count);
}

} // namespace ZanTest
