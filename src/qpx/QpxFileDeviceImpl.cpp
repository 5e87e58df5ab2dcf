#include <qpx/detail/QpxFileDeviceImpl.h>

#include <io/IoFileDevice.h>
#include <io/detail/LittleEndian.h>
#include <legacy/CVkLiteVariantR.h>
#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>
#include <metadata/detail/RawMetadataBlocks.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFrameGeometry.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace Zan {

namespace {

using Impl = QpxFileDevice::Impl;
using json = nlohmann::json;

// The metadata chunks of each format version, in the order they are loaded: attributes, experiment, text
// info, picture metadata of frame 0.
struct MetadataChunks {
    const char* attributes;
    const char* experiment;
    const char* textInfo;
    const char* pictureMetadataPrefix;
};
constexpr MetadataChunks xmlChunks{"ImageAttributes!", "ImageMetadata!", "ImageTextInfo!",
                                   "ImageMetadataSeq|"};
constexpr MetadataChunks liteChunks{"ImageAttributesLV!", "ImageMetadataLV!", "ImageTextInfoLV!",
                                    "ImageMetadataSeqLV|"};

// Component ranges are kept for at most this many components; a file claiming more gets none, rather than
// vectors sized by a number nothing bounds.
constexpr std::int64_t maxRangeComponents = 1 << 16;

std::int64_t integerOf(const json& document, const char* key) {
    return detail::integerMember(document, key);
}

float floatAt(const ByteVector& bytes, std::size_t offset) {
    return std::bit_cast<float>(
        detail::loadLE32(reinterpret_cast<const unsigned char*>(bytes.data()) + offset));
}

} // namespace

Impl::Impl(std::unique_ptr<IoDevice> device) : chunked(std::move(device)) {}

Impl::~Impl() = default;

void Impl::checkOpen() const {
    if (!chunked.isOpen())
        throw std::logic_error("device is not open");
}

void Impl::checkWritable() const {
    if (!chunked.isWritable())
        throw std::logic_error("device is not writable");
}

// ---- Open and close

bool Impl::open(IoDevice::OpenMode mode, OpenOptions options, int* err) {
    if (!chunked.open(mode, options, err))
        return false;
    const int major = chunked.version()[0];
    if (major == 2 || major == 3)
        return true;
    // The byte device is closed directly: the chunked device's close would append a chunk map to a file
    // that this device does not read.
    try {
        chunked.device()->close();
    } catch (...) {
        // The open has failed already; its code says why.
    }
    if (err)
        *err = QpxFileDevice::UnsupportedVersion;
    return false;
}

void Impl::close() {
    chunked.close();
}

IoDevice::OpenMode Impl::openMode() const {
    const IoDevice* device = std::as_const(chunked).device();
    return device ? device->openMode() : IoDevice::NotOpen;
}

std::string Impl::filename() const {
    const auto* file = dynamic_cast<const IoFileDevice*>(std::as_const(chunked).device());
    return file ? file->fileNameUtf8() : std::string();
}

// ---- Documents

const json& Impl::rawDocument() {
    if (rawMetadataValid)
        return rawMetadataDocument;
    const int major = chunked.version()[0];
    if (major == 2 || major == 3) {
        const MetadataChunks& names = major == 2 ? xmlChunks : liteChunks;
        const ByteVector attributes = chunked.loadChunk(names.attributes);
        const ByteVector experiment = chunked.loadChunk(names.experiment);
        const ByteVector textInfo = chunked.loadChunk(names.textInfo);
        const ByteVector picture =
            chunked.loadChunk(JsonMetadata::chunkName(names.pictureMetadataPrefix, 0u));
        rawMetadataDocument =
            major == 2
                ? JsonMetadata::readRawMetadataFromVariants(attributes, experiment, picture, textInfo)
                : JsonMetadata::readRawMetadataFromLiteVariants(attributes, experiment, picture, textInfo);
    }
    rawMetadataValid = true;
    return rawMetadataDocument;
}

const json& Impl::attributesDoc() {
    if (!attributesValid) {
        attributesDocument = JsonMetadata::attributes(rawDocument());
        attributesValid = true;
    }
    return attributesDocument;
}

const json& Impl::textInfoDoc() {
    if (!textInfoValid) {
        textInfoDocument = JsonMetadata::textInfo(rawDocument());
        textInfoValid = true;
    }
    return textInfoDocument;
}

const json& Impl::experimentDoc() {
    if (!experimentValid) {
        const json& raw = rawDocument();
        experimentDocument = JsonMetadata::experimentDocument(raw);
        experimentValid = true;
    }
    return experimentDocument;
}

const json& Impl::globalMetadataDoc() {
    if (!globalMetadataValid) {
        double day = 0.0;
        if (const auto* file = dynamic_cast<const IoFileDevice*>(std::as_const(chunked).device()))
            day = file->fileCreationTime();
        const json& text = textInfoDoc();
        const json& loops = experimentDoc();
        globalMetadataDocument = JsonMetadata::globalMetadata(rawDocument(), loops, text, day);
        globalMetadataValid = true;
    }
    return globalMetadataDocument;
}

const json& Impl::metadataDoc() {
    if (!metadataValid) {
        loadComponentRanges();
        const json& global = globalMetadataDoc();
        metadataDocument = JsonMetadata::metadata(rawDocument(), global, componentMinima, componentMaxima);
        metadataValid = true;
    }
    return metadataDocument;
}

void Impl::loadComponentRanges() {
    if (componentRangesValid)
        return;
    const json attributes = attributesDoc();
    std::int64_t frames = integerOf(attributes, "sequenceCount");
    const std::int64_t components = integerOf(attributes, "componentCount");
    if (frames == 0)
        frames = 1;
    if (components <= 0 || components > maxRangeComponents || frames < 0) {
        componentRangesValid = true;
        return;
    }
    componentMinima.resize(static_cast<std::size_t>(components), 0.0f);
    componentMaxima.resize(static_cast<std::size_t>(components), 0.0f);
    const auto holdsEveryFrame = [frames](const ByteVector& bytes) {
        return !bytes.empty() && static_cast<std::int64_t>(bytes.size() / 8) == frames;
    };
    // Folds one (minimum, maximum) pair per frame into component c. The fold starts from the widest range
    // a float holds, so that any frame's values replace it; a NaN replaces nothing.
    const auto fold = [&](std::size_t c, const ByteVector& bytes) {
        float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
        for (std::size_t f = 0; f < static_cast<std::size_t>(frames); ++f) {
            const float frameMin = floatAt(bytes, 8 * f), frameMax = floatAt(bytes, 8 * f + 4);
            if (frameMin < lo)
                lo = frameMin;
            if (frameMax > hi)
                hi = frameMax;
        }
        componentMinima[c] = lo;
        componentMaxima[c] = hi;
    };
    bool perComponent = true;
    for (std::int64_t c = 0; c < components && perComponent; ++c) {
        const ByteVector bytes = customData("FloatCompRangeCache" + std::to_string(c));
        perComponent = holdsEveryFrame(bytes);
        if (perComponent)
            fold(static_cast<std::size_t>(c), bytes);
    }
    if (!perComponent) {
        const ByteVector bytes = customData("FloatRangeCache");
        if (holdsEveryFrame(bytes))
            for (std::int64_t c = 0; c < components; ++c)
                fold(static_cast<std::size_t>(c), bytes);
    }
    componentRangesValid = true;
}

void Impl::loadFrameTimes() {
    if (frameTimesValid)
        return;
    const ByteVector bytes = customData("AcqTimesCache");
    const std::size_t stored = bytes.size() / 8;
    frameTimes.clear();
    frameTimes.reserve(stored);
    for (std::size_t i = 0; i < stored; ++i)
        frameTimes.push_back(std::bit_cast<double>(
            detail::loadLE64(reinterpret_cast<const unsigned char*>(bytes.data()) + 8 * i)));
    frameTimesValid = true;
}

json Impl::rawMatadata() {
    checkOpen();
    return rawDocument();
}

json Impl::attributes() {
    checkOpen();
    return attributesDoc();
}

json Impl::textInfo() {
    checkOpen();
    return textInfoDoc();
}

json Impl::experiment() {
    checkOpen();
    return experimentDoc();
}

json Impl::metadata() {
    checkOpen();
    return metadataDoc();
}

// ---- Frame addressing

std::uint64_t Impl::storedFrameCount() {
    static const std::string prefix = "ImageDataSeq|";
    std::uint64_t highest = 0;
    bool any = false;
    for (const std::string& name : chunked.chunkNames()) {
        if (name.size() < prefix.size() + 2 || name.compare(0, prefix.size(), prefix) != 0 || name.back() != '!')
            continue;
        const char* first = name.data() + prefix.size();
        const char* last = name.data() + name.size() - 1;
        // Only the names the device itself looks frames up by: decimal, without leading zeros.
        if (*first == '0' && last - first > 1)
            continue;
        std::uint32_t index = 0;
        const auto [end, error] = std::from_chars(first, last, index);
        if (error != std::errc() || end != last)
            continue;
        highest = std::max<std::uint64_t>(highest, index);
        any = true;
    }
    std::uint64_t frames = any ? highest + 1 : 0;
    const std::int64_t declared = integerOf(attributesDoc(), "sequenceCount");
    if (declared > 0)
        frames = std::min(frames, static_cast<std::uint64_t>(declared));
    if (frames > JsonMetadata::maxFrameTableFrames)
        throw std::runtime_error("QpxFileDevice: the file stores frames up to " + std::to_string(frames) +
                                 ", more than the " + std::to_string(JsonMetadata::maxFrameTableFrames) +
                                 " a sequence may hold");
    return std::max<std::uint64_t>(frames, 1);
}

const JsonMetadata::FrameCoordinates& Impl::frames() {
    if (!frameCoordinatesValid) {
        const json& loops = experimentDoc();
        frameCoordinates = JsonMetadata::FrameCoordinates::ofExperiment(loops);
        // A file that stores several frames without describing loops has each of them reachable.
        if (!frameCoordinates.hasLoops())
            frameCoordinates = JsonMetadata::FrameCoordinates(storedFrameCount());
        frameCoordinatesValid = true;
    }
    return frameCoordinates;
}

std::uint32_t Impl::frameCount() {
    checkOpen();
    return static_cast<std::uint32_t>(frames().frameCount());
}

Impl::FrameTable Impl::allLoopIndexes() {
    checkOpen();
    FrameTable table;
    frames().fillTable(table);
    return table;
}

void Impl::checkFrame(std::uint32_t seq, const char* operation) {
    const std::uint64_t count = frames().frameCount();
    if (seq >= count)
        throw std::out_of_range(std::string("QpxFileDevice::") + operation + ": frame " + std::to_string(seq) +
                                " of a sequence of " + std::to_string(count));
}

std::vector<std::uint32_t> Impl::loopIndexes(std::uint32_t seq) {
    checkOpen();
    checkFrame(seq, "loopIndexes");
    return frames().coordinates(seq);
}

bool Impl::sequenceIndex(const std::vector<std::uint32_t>& indexes, std::uint32_t* seq) {
    checkOpen();
    std::uint64_t frame = 0;
    if (!frames().frameOf(indexes, &frame))
        return false;
    if (seq)
        *seq = static_cast<std::uint32_t>(frame);
    return true;
}

json Impl::frameMetadata(std::uint32_t seq, const std::string& jsonPointer) {
    checkOpen();
    const json& loops = experimentDoc();
    checkFrame(seq, "frameMetadata");
    const std::vector<std::uint32_t> coordinates = frames().coordinates(seq);
    loadFrameTimes();
    const double time = seq < frameTimes.size() ? frameTimes[seq] : std::numeric_limits<double>::quiet_NaN();
    const json& global = globalMetadataDoc();
    const json& channels = metadataDoc();
    return JsonMetadata::frameMetadata(global, channels, loops, time, coordinates, jsonPointer);
}

// ---- Frames

std::unique_ptr<IoImageDataDevice> Impl::imageData(std::uint32_t seq) {
    return frameDevice(seq);
}

std::unique_ptr<QpxFileDevice::ImageData> Impl::frameDevice(std::uint32_t seq) {
    checkOpen();
    const std::string name = JsonMetadata::chunkName("ImageDataSeq|", seq);
    const json attributes = attributesDoc();
    const std::int64_t width = integerOf(attributes, "widthPx");
    const std::int64_t height = integerOf(attributes, "heightPx");
    const std::int64_t components = integerOf(attributes, "componentCount");
    const std::int64_t stored = integerOf(attributes, "bitsPerComponentInMemory");
    const std::int64_t used = integerOf(attributes, "bitsPerComponentSignificant");

    auto compression = ImageData::None;
    if (attributes.contains("compressionType")) {
        const std::string& type = attributes["compressionType"].get_ref<const std::string&>();
        if (type == "lossless")
            compression = ImageData::Lossless;
        else if (type == "lossy")
            // Such frames are no zlib streams; read as raw bytes they would be garbage.
            throw std::runtime_error("QpxFileDevice::imageData: frame " + std::to_string(seq) +
                                     " is lossy compressed, which this device cannot decode");
    }

    // Three components of one channel are a colour image.
    auto interpretation = IoImageDataDevice::Plain;
    const json& document = metadataDoc();
    const json::json_pointer channelCount("/contents/channelCount");
    if (!document.is_object()) {
        interpretation = components == 3 ? IoImageDataDevice::Colour : IoImageDataDevice::Plain;
    } else if (document.contains(channelCount)) {
        try {
            const auto channels = document.at(channelCount).get<std::int64_t>();
            interpretation =
                components == 3 && channels == 1 ? IoImageDataDevice::Colour : IoImageDataDevice::Plain;
        } catch (const json::exception&) {
            interpretation = components == 3 ? IoImageDataDevice::Colour : IoImageDataDevice::Plain;
        }
    }
    const auto format = used == 32 ? IoImageDataDevice::FloatingPoint : IoImageDataDevice::UnsignedInteger;
    return std::make_unique<ImageData>(chunked, name, width, height, used, stored, components, interpretation,
                                       format, compression, 0);
}

// ---- Chunks and custom data

ByteVector Impl::customData(const std::string& name) {
    if (name.empty())
        throw std::invalid_argument("name is empty");
    checkOpen();
    return chunked.loadChunk(JsonMetadata::chunkName("CustomData|", name));
}

ByteVector Impl::customData(const std::string& name, std::uint32_t seq) {
    if (name.empty())
        throw std::invalid_argument("name is empty");
    checkOpen();
    return chunked.loadChunk(JsonMetadata::chunkName("CustomDataSeq|", name, seq));
}

json Impl::customMetadata(const std::string& name) {
    if (name.empty())
        throw std::invalid_argument("name is empty");
    checkOpen();
    const ByteVector bytes = chunked.loadChunk(JsonMetadata::chunkName("CustomDataVar|", name));
    return bytes.empty() ? json() : JsonMetadata::jsonFromSerializedVariant(bytes);
}

json Impl::customMetadata(const std::string& name, std::uint32_t seq) {
    if (name.empty())
        throw std::invalid_argument("name is empty");
    checkOpen();
    const ByteVector bytes = chunked.loadChunk(JsonMetadata::chunkName("CustomDataVarSeq|", name, seq));
    return bytes.empty() ? json() : JsonMetadata::jsonFromSerializedVariant(bytes);
}

ByteVector Impl::chunkedData(const std::string& name) {
    checkOpen();
    return chunked.loadChunk(name);
}

void Impl::setChunkedData(const std::string& name, const ByteVector& data) {
    checkOpen();
    checkWritable();
    chunked.storeChunk(name, data.data(), data.size());
}

bool Impl::setRawMetadata(const json& raw) {
    checkOpen();
    checkWritable();
    if (chunked.version()[0] != 3)
        return false;
    // Every block is built and checked before the first is stored, so that a document that cannot be
    // stored leaves the file as it was. An absent part is stored as an empty level, which replaces an
    // older chunk of that part and reads back as absent.
    ZanLegacy::CVkLiteVariantR attributes, experiment, picture, text;
    JsonMetadata::detail::buildRawMetadataBlocks(raw, attributes, experiment, picture, text);
    const struct {
        const char* chunk;
        const char* part;
        ZanLegacy::CVkLiteVariantR& block;
    } blocks[] = {{liteChunks.attributes, "the attributes part \"Attributes_dic\"", attributes},
                  {liteChunks.experiment, "the experiment part \"Experiment_dic\"", experiment},
                  {liteChunks.textInfo, "the text-info part \"TextInfo_dic\"", text},
                  {"ImageMetadataSeqLV|0!", "the picture-metadata part \"Metadata_dic\"", picture}};
    for (const auto& b : blocks)
        if (b.block.GetSize() == 0)
            throw std::invalid_argument(std::string("size is zero: ") + b.part +
                                        " of the raw metadata holds nothing to store as " + b.chunk);
    for (const auto& b : blocks)
        chunked.storeChunk(b.chunk, b.block.GetData(0), b.block.GetSize());
    return true;
}

} // namespace Zan
