#include <qpx/detail/QpxFileDeviceImpl.h>

#include <io/IoFileDevice.h>
#include <io/detail/LittleEndian.h>
#include <legacy/CVkLiteVariantR.h>
#include <metadata/JsonBridge.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFrameGeometry.h>

#include <algorithm>
#include <bit>
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
        experimentDocument = JsonMetadata::experiment(raw, attributesDoc(), frameTable);
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
    if (!frameTimes.empty())
        return;
    const ByteVector bytes = customData("AcqTimesCache");
    const std::size_t stored = bytes.size() / 8;
    frameTimes.reserve(std::max(stored, frameTable.size()));
    for (std::size_t i = 0; i < stored; ++i)
        frameTimes.push_back(std::bit_cast<double>(
            detail::loadLE64(reinterpret_cast<const unsigned char*>(bytes.data()) + 8 * i)));
    if (frameTimes.size() < frameTable.size())
        frameTimes.resize(frameTable.size(), std::numeric_limits<double>::quiet_NaN());
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

std::uint32_t Impl::frameCount() {
    checkOpen();
    experimentDoc();
    return static_cast<std::uint32_t>(frameTable.size());
}

Impl::FrameTable Impl::allLoopIndexes() {
    checkOpen();
    experimentDoc();
    return frameTable;
}

const std::vector<std::uint32_t>& Impl::frameEntry(std::uint32_t seq, const char* operation) {
    if (seq >= frameTable.size())
        throw std::out_of_range(std::string("QpxFileDevice::") + operation + ": frame " +
                                std::to_string(seq) + " of a sequence of " +
                                std::to_string(frameTable.size()));
    return frameTable[seq];
}

std::vector<std::uint32_t> Impl::loopIndexes(std::uint32_t seq) {
    checkOpen();
    experimentDoc();
    if (frameTable.empty())
        return {};
    return frameEntry(seq, "loopIndexes");
}

bool Impl::sequenceIndex(const std::vector<std::uint32_t>& indexes, std::uint32_t* seq) {
    checkOpen();
    experimentDoc();
    if (frameTable.empty()) {
        if (seq)
            *seq = 0;
        return true;
    }
    // The table is in frame order, the last loop varying fastest: ascending in this order.
    const auto before = [](const std::vector<std::uint32_t>& entry, const std::vector<std::uint32_t>& key) {
        const std::size_t n = std::min(entry.size(), key.size());
        for (std::size_t i = 0; i < n; ++i)
            if (entry[i] != key[i])
                return entry[i] < key[i];
        return false;
    };
    const auto it = std::lower_bound(frameTable.begin(), frameTable.end(), indexes, before);
    if (it == frameTable.end() || *it != indexes)
        return false;
    if (seq)
        *seq = static_cast<std::uint32_t>(it - frameTable.begin());
    return true;
}

json Impl::frameMetadata(std::uint32_t seq, const std::string& jsonPointer) {
    checkOpen();
    const json& loops = experimentDoc();
    const std::vector<std::uint32_t>& entry = frameEntry(seq, "frameMetadata");
    loadFrameTimes();
    const json& global = globalMetadataDoc();
    const json& channels = metadataDoc();
    return JsonMetadata::frameMetadata(global, channels, loops, frameTimes[seq], entry, jsonPointer);
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
    ZanLegacy::CVkLiteVariantR attributes, experiment, picture, text;
    JsonMetadata::writeRawMetadataToLiteVariants(raw, attributes, experiment, picture, text);
    const auto store = [this](const char* name, ZanLegacy::CVkLiteVariantR& holder) {
        chunked.storeChunk(name, holder.GetData(0), holder.GetSize());
    };
    store(liteChunks.attributes, attributes);
    store(liteChunks.experiment, experiment);
    store(liteChunks.textInfo, text);
    store("ImageMetadataSeqLV|0!", picture);
    return true;
}

} // namespace Zan
