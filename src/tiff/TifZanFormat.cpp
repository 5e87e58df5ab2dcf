// The private-tag TIFF format: frames spread over consecutive directories, and the metadata documents,
// acquisition times and custom data of its named blobs.

#include <tiff/detail/TifZanFormat.h>

#include <io/IoFileDevice.h>
#include <io/detail/LittleEndian.h>
#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace Zan {

namespace {

using json = nlohmann::json;
using ZanFormat = TifFileDevice::ZanFormat;

// Counts of -3 (TIFF_VARIABLE2) are 32-bit: libtiff drops a blob of more than 65,535 bytes read through a
// 16-bit count. Single values are not passed with a count, or libtiff would find no way to read them.
const TIFFFieldInfo privateTags[] = {
    {ZanAcqTimeTag, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, const_cast<char*>("ZANAcqTime")},
    {ZanCalibrationTag, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, const_cast<char*>("ZANCalibration")},
    {ZanAspectTag, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, const_cast<char*>("ZANAspect")},
    {ZanCompPlanesTag, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, const_cast<char*>("ZANCompPlanes")},
    {ZanPositionTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("ZANPosition")},
    {ZanDataTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ZANData")},
    {ZanDataSeqTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("ZANDataSeq")},
    {ZanVariantTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("ZANVariant")},
    {ZanVariantSeqTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("ZANVariantSeq")},
    {34412, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("TIF_CZ_LSMINFO")},
    {34413, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
     const_cast<char*>("TIF_CZ_LSMINFODATA")},
    {34414, 1, 1, TIFF_BYTE, FIELD_CUSTOM, 1, 0, const_cast<char*>("TIF_CZ_LSMINFOHACK")},
    {40961, 1, 1, TIFF_SHORT, FIELD_CUSTOM, 1, 0, const_cast<char*>("EXIFTAG_COLORSPACE")},
    {33560, 1, 1, TIFF_LONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("TIF_SIS_INFO")},
};

TIFFExtendProc previousExtender = nullptr;

// Called by libtiff whenever a handle starts a directory, which forgets the fields merged before.
void extendTags(TIFF* tif) {
    if (isDeviceHandle(tif))
        TIFFMergeFieldInfo(tif, privateTags, sizeof privateTags / sizeof privateTags[0]);
    if (previousExtender)
        previousExtender(tif);
}

std::runtime_error unusable(const std::string& what) {
    return std::runtime_error("TifFileDevice::ZanFormat: " + what);
}

// The values of a private tag of the current directory, read as its field definition says: with a 32-bit
// or a 16-bit count, or (count 0 here) as one value. The field is the registered one, or the one libtiff
// made up for a tag it did not know, which takes 32-bit counts and the file's own type.
struct TagValues {
    const void* data = nullptr;
    std::uint64_t count = 0;
    int elementBytes = 0;
    TIFFDataType type = TIFF_NOTYPE;
};

bool readTagValues(TIFF* tif, std::uint32_t tag, TagValues& values) {
    const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field)
        return false;
    values.type = TIFFFieldDataType(field);
    values.elementBytes = TIFFFieldSetGetSize(field);
    void* data = nullptr;
    switch (TIFFFieldSetGetCountSize(field)) {
    case 4: {
        std::uint32_t count = 0;
        if (TIFFGetField(tif, tag, &count, &data) != 1)
            return false;
        values.count = count;
        break;
    }
    case 2: {
        std::uint16_t count = 0;
        if (TIFFGetField(tif, tag, &count, &data) != 1)
            return false;
        values.count = count;
        break;
    }
    default:
        return true;
    }
    values.data = data;
    return data != nullptr || values.count == 0;
}

// A blob's bytes; empty when the directory has none. A tag of wider elements is no blob of ours.
ByteVector readBlob(TIFF* tif, std::uint32_t tag) {
    TagValues values;
    if (!readTagValues(tif, tag, values) || values.elementBytes != 1 || values.count == 0 || !values.data)
        return {};
    const auto* bytes = static_cast<const char*>(values.data);
    return ByteVector(bytes, bytes + values.count);
}

// Directories per frame: 1 unless the tag holds a count from 1 to 65535 (fractions truncated, below 1
// meaning 1). Anything else would map frames onto other frames' directories.
std::uint16_t readCompPlanes(TIFF* tif) {
    TagValues values;
    if (!readTagValues(tif, ZanCompPlanesTag, values))
        return 1;
    double planes = 0.0;
    if (values.count == 0 && values.type == TIFF_DOUBLE) {
        if (TIFFGetField(tif, ZanCompPlanesTag, &planes) != 1)
            return 1;
    } else if (values.count != 0 && values.type == TIFF_DOUBLE && values.elementBytes == 8) {
        planes = *static_cast<const double*>(values.data);
    } else {
        return 1;
    }
    if (!std::isfinite(planes) || planes < 0.0 || planes >= 65536.0) {
        std::ostringstream text;
        text << "plane count " << planes << " is not a number from 0 to 65535";
        throw unusable(text.str());
    }
    const auto whole = static_cast<std::uint32_t>(planes);
    return whole == 0 ? 1 : static_cast<std::uint16_t>(whole);
}

std::string geometryText(const TifFileDevice::Fields& f, bool halfFloat) {
    return std::to_string(f.width) + " x " + std::to_string(f.height) + " pixels of " +
           std::to_string(f.samplesPerPixel) + " samples of " +
           std::to_string(halfFloat ? 16 : f.bitsPerSample) + " bits (format " +
           std::to_string(f.sampleFormat) + ", photometric " + std::to_string(f.photometric) + ", planar " +
           std::to_string(f.planarConfig) + ")";
}

// Directories that agree in these fields decode into the same caller layout; how they store their pixels
// (strips or tiles, rows per strip, compression) and their sample maximum may differ.
bool sameGeometry(const TifFileDevice::Fields& a, const TifFileDevice::Fields& b) {
    return a.width == b.width && a.height == b.height && a.bitsPerSample == b.bitsPerSample &&
           a.sampleFormat == b.sampleFormat && a.samplesPerPixel == b.samplesPerPixel &&
           a.planarConfig == b.planarConfig && a.photometric == b.photometric;
}

// Reads a blob's layout; every length is checked against what is left before it is used.
class BlobReader {
public:
    BlobReader(const ByteVector& blob, const char* tag)
        : bytes_(reinterpret_cast<const unsigned char*>(blob.data())), size_(blob.size()), tag_(tag) {}

    std::uint32_t u32(const char* what) {
        need(4, what);
        const std::uint32_t value = detail::loadLE32(bytes_ + pos_);
        pos_ += 4;
        return value;
    }

    // n UTF-16 units, each contributing its low byte.
    std::string name(std::uint32_t units) {
        need(2 * std::uint64_t(units), "name");
        std::string text(units, '\0');
        for (std::uint32_t i = 0; i < units; ++i)
            text[i] = static_cast<char>(bytes_[pos_ + 2 * std::uint64_t(i)]);
        pos_ += 2 * std::uint64_t(units);
        return text;
    }

    // A u32 size and a u32 offset: the range of a value, which must lie inside the blob.
    ZanFormat::ValueRange valueRange(const std::string& name, const char* sizeWhat, const char* offsetWhat) {
        const std::uint32_t size = u32(sizeWhat);
        const std::uint32_t offset = u32(offsetWhat);
        if (std::uint64_t(offset) + size > size_)
            throw unusable(std::string(tag_) + " entry " + std::to_string(entry_) + " (\"" + name +
                           "\"): value of " + std::to_string(size) + " bytes at offset " +
                           std::to_string(offset) + " runs past the blob's " + std::to_string(size_) +
                           " bytes");
        return {offset, size};
    }

    void startEntry(std::uint32_t index) { entry_ = index; }

private:
    void need(std::uint64_t bytes, const char* what) const {
        if (bytes > size_ - pos_)
            throw unusable(std::string(tag_) + " entry " + std::to_string(entry_) + ": " + what + " of " +
                           std::to_string(bytes) + " bytes at offset " + std::to_string(pos_) +
                           " runs past the blob's " + std::to_string(size_) + " bytes");
    }

    const unsigned char* bytes_;
    std::uint64_t size_;
    std::uint64_t pos_ = 0;
    const char* tag_;
    std::uint32_t entry_ = 0;
};

// Entries of a blob: u32 count, then per entry its name and what readValue(reader, name) reads. Of two
// entries of the same name the first is kept. Every entry takes at least 8 bytes, so the loop ends with the
// blob whatever the count says.
template <typename Value, typename ReadValue>
std::map<std::string, Value> parseEntries(const ByteVector& blob, const char* tag, ReadValue readValue) {
    std::map<std::string, Value> entries;
    if (blob.empty())
        return entries;
    BlobReader in(blob, tag);
    const std::uint32_t count = in.u32("entry count");
    for (std::uint32_t i = 0; i < count; ++i) {
        in.startEntry(i);
        std::string name = in.name(in.u32("name length"));
        Value value = readValue(in, name);
        entries.emplace(std::move(name), std::move(value));
    }
    return entries;
}

template <typename Map>
const typename Map::mapped_type* find(const Map& map, const typename Map::key_type& key) {
    const auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
}

} // namespace

void TifFileDevice::ZanFormat::RegisterCustomTags() {
    static std::once_flag once;
    std::call_once(once, [] { previousExtender = TIFFSetTagExtender(extendTags); });
}

// ---- Recognising the variant

std::unique_ptr<TifFileDevice::ZanFormat> TifFileDevice::ZanFormat::create(TIFF* tif) {
    if (isWritableHandle(tif))
        return nullptr;
    std::uint32_t width0 = 0, height0 = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width0);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height0);
    // The frames' directories all have the first one's size; the blobs are in the last of them. A file
    // whose directories differ in size is one frame of the first directory.
    std::uint32_t count = 1;
    bool sameSize = true;
    // 65535 is the "no directory selected" value, so that many directories at most are counted.
    while (count < 0xFFFF && TIFFReadDirectory(tif) == 1) {
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        if (width != width0 || height != height0) {
            sameSize = false;
            break;
        }
        ++count;
    }
    // The walk may have ended on a directory libtiff could not read: the chosen one is loaded afresh.
    const std::uint32_t selected = sameSize ? count - 1 : 0;
    if (TIFFSetDirectory(tif, static_cast<tdir_t>(selected)) != 1)
        throw unusable("directory " + std::to_string(selected) + " cannot be read");
    ByteVector data = readBlob(tif, ZanDataTag), dataSeq = readBlob(tif, ZanDataSeqTag),
               variant = readBlob(tif, ZanVariantTag), variantSeq = readBlob(tif, ZanVariantSeqTag);
    if (data.empty() && dataSeq.empty() && variant.empty() && variantSeq.empty()) {
        // A plain TIFF: its fields and pixels both come from the first directory.
        if (selected != 0 && TIFFSetDirectory(tif, 0) != 1)
            throw unusable("directory 0 cannot be read");
        return nullptr;
    }
    const std::uint16_t compPlanes = readCompPlanes(tif);
    return std::make_unique<ZanFormat>(tif, static_cast<std::uint16_t>(sameSize ? count : 0), compPlanes,
                                       std::move(data), std::move(variant), std::move(dataSeq),
                                       std::move(variantSeq));
}

TifFileDevice::ZanFormat::ZanFormat(TIFF* handle, std::uint16_t directories, std::uint16_t planes,
                                    ByteVector dataBlob, ByteVector variantBlob, ByteVector dataSeqBlob,
                                    ByteVector variantSeqBlob)
    : BaseFormat(handle), compPlanes(planes == 0 ? 1 : planes),
      frames(static_cast<std::uint16_t>(directories / compPlanes == 0 ? 1 : directories / compPlanes)),
      data{std::move(dataBlob)}, variant{std::move(variantBlob)}, dataSeq{std::move(dataSeqBlob)},
      variantSeq{std::move(variantSeqBlob)} {
    fields = readDirectoryFields(&halfFloat);
    directory = fields;
    directoryCount = directories;
    currentDirectory = directories;
    loadedDirectory = directories == 0 ? 0 : directories - 1u;
    dataEntries = parseNamedEntries(data.bytes, "ZANData");
    variantEntries = parseNamedEntries(variant.bytes, "ZANVariant");
    dataSeqEntries = parseSequenceEntries(dataSeq.bytes, "ZANDataSeq");
    variantSeqEntries = parseSequenceEntries(variantSeq.bytes, "ZANVariantSeq");
}

TifFileDevice::ZanFormat::~ZanFormat() = default;

ZanFormat::NamedEntries TifFileDevice::ZanFormat::parseNamedEntries(const ByteVector& blob, const char* tag) {
    return parseEntries<ValueRange>(blob, tag, [](BlobReader& in, const std::string& name) {
        return in.valueRange(name, "value size", "value offset");
    });
}

ZanFormat::SequenceEntries TifFileDevice::ZanFormat::parseSequenceEntries(const ByteVector& blob,
                                                                          const char* tag) {
    using Items = std::map<std::uint32_t, ValueRange>;
    return parseEntries<Items>(blob, tag, [](BlobReader& in, const std::string& name) {
        Items items;
        const std::uint32_t count = in.u32("item count");
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t index = in.u32("item index");
            items.emplace(index, in.valueRange(name, "item size", "item offset"));
        }
        return items;
    });
}

ByteVector TifFileDevice::ZanFormat::Blob::value(const ValueRange& range) const {
    // Ranges were checked against the blob when it was parsed.
    const char* begin = bytes.data() + range.offset;
    return ByteVector(begin, begin + range.size);
}

// ---- Frames, planes and directories

long TifFileDevice::ZanFormat::planes() const {
    return long(compPlanes) * BaseFormat::planes();
}

int TifFileDevice::ZanFormat::selectDirectory(unsigned seqIndex, unsigned plane) {
    if (seqIndex >= frames)
        throw std::out_of_range("TifFileDevice::ZanFormat: frame " + std::to_string(seqIndex) +
                                " of a file of " + std::to_string(frames) + " frames");
    const long perDirectory = BaseFormat::planes();
    if (plane >= static_cast<unsigned long>(planes()))
        throw std::out_of_range("TifFileDevice::ZanFormat: plane " + std::to_string(plane) +
                                " of frames of " + std::to_string(planes()) + " planes");
    const std::uint64_t index = std::uint64_t(compPlanes) * seqIndex + plane / perDirectory;
    // With directories of different sizes only the first one is read.
    const std::uint64_t directories = directoryCount == 0 ? 1 : directoryCount;
    if (index >= directories)
        throw std::out_of_range("TifFileDevice::ZanFormat: frame " + std::to_string(seqIndex) + ", plane " +
                                std::to_string(plane) + " is directory " + std::to_string(index) +
                                " of a file of " + std::to_string(directories) + " directories");
    const int samplePlane = static_cast<int>(plane % perDirectory);
    if (index == currentDirectory)
        return samplePlane;
    // Until the new directory is known to be usable none counts as selected.
    currentDirectory = 0xFFFF;
    const std::string name = "TifFileDevice::ZanFormat: directory " + std::to_string(index);
    // The next directory is read on from the loaded one; libtiff finds any other by walking the chain from
    // the first, which would make reading a long sequence frame by frame quadratic.
    const bool next = loadedDirectory != noDirectory && index == loadedDirectory + 1;
    loadedDirectory = noDirectory;
    if ((next ? TIFFReadDirectory(tif) : TIFFSetDirectory(tif, static_cast<tdir_t>(index))) != 1) {
        runtimeError(name + " cannot be read");
        return -1;
    }
    loadedDirectory = static_cast<std::uint32_t>(index);
    Fields own;
    bool ownHalfFloat = false;
    try {
        own = readDirectoryFields(&ownHalfFloat);
    } catch (const std::runtime_error& e) {
        runtimeError(name + ": " + e.what());
        return -1;
    }
    // The frame is handed out in the geometry of the directory it was read from; another geometry would be
    // decoded into the wrong bytes. Its strips or tiles are the directory's own.
    if (!sameGeometry(own, fields) || ownHalfFloat != halfFloat) {
        runtimeError(name + " holds " + geometryText(own, ownHalfFloat) + ", not " +
                     geometryText(fields, halfFloat));
        return -1;
    }
    directory = own;
    // Each directory has its own colour map and blocks.
    palette.clear();
    forgetRegionBlock();
    currentDirectory = static_cast<std::uint16_t>(index);
    return samplePlane;
}

// A read of a directory that cannot be selected writes zeros where its pixels would go (under
// stop-on-error the selection has thrown).
void TifFileDevice::ZanFormat::readPlane(unsigned seqIndex, unsigned plane, void* dst, unsigned long stride) {
    const int samplePlane = selectDirectory(seqIndex, plane);
    if (samplePlane < 0)
        clearPixels(dst, stride, fields.width, fields.height);
    else
        readCurrentImage(dst, stride, static_cast<unsigned short>(samplePlane));
}

// Strips and tiles are those of the frame's geometry: a directory that stores its pixels otherwise is read
// through its own.
void TifFileDevice::ZanFormat::readTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y, void* dst,
                                        unsigned long stride) {
    requireInside(fields, x, y, 0, "readTile");
    const int samplePlane = selectDirectory(seqIndex, plane);
    const unsigned columns = std::min(fields.tileWidth, fields.width - x);
    const unsigned rows = std::min(fields.tileLength, fields.height - y);
    if (samplePlane < 0)
        clearPixels(dst, stride, columns, rows);
    else if (directory.rowsPerStrip == 0 && directory.tileWidth == fields.tileWidth &&
             directory.tileLength == fields.tileLength)
        readCurrentTile(dst, stride, x, y, static_cast<unsigned short>(samplePlane));
    else
        readCurrentRegion(dst, stride, x, y, columns, rows, static_cast<unsigned short>(samplePlane));
}

void TifFileDevice::ZanFormat::readStrip(unsigned seqIndex, unsigned plane, unsigned row, void* dst,
                                         unsigned long stride) {
    requireInside(fields, 0, row, 0, "readStrip");
    const int samplePlane = selectDirectory(seqIndex, plane);
    const unsigned rows = std::min(fields.rowsPerStrip, fields.height - row);
    if (samplePlane < 0)
        clearPixels(dst, stride, fields.width, rows);
    else if (directory.rowsPerStrip == fields.rowsPerStrip)
        readCurrentStrip(dst, stride, row, static_cast<unsigned short>(samplePlane));
    else
        readCurrentRegion(dst, stride, 0, row, fields.width, rows, static_cast<unsigned short>(samplePlane));
}

void TifFileDevice::ZanFormat::writePlane(unsigned, unsigned, const void*, unsigned long) {
    throw std::logic_error("ZanFormat::writePlane not implemented");
}

void TifFileDevice::ZanFormat::writeTile(unsigned, unsigned, unsigned, unsigned, const void*, unsigned long) {
    throw std::logic_error("ZanFormat::writeTile not implemented");
}

void TifFileDevice::ZanFormat::writeStrip(unsigned, unsigned, unsigned, const void*, unsigned long) {
    throw std::logic_error("ZanFormat::writeStrip not implemented");
}

// ---- Metadata documents

json TifFileDevice::ZanFormat::namedDocument(const std::string& name) const {
    if (const ValueRange* range = find(dataEntries, name))
        return JsonMetadata::jsonFromLiteVariant(data.value(*range));
    if (const ValueRange* range = find(variantEntries, name))
        return JsonMetadata::jsonFromSerializedVariant(variant.value(*range));
    return nullptr;
}

const json& TifFileDevice::ZanFormat::cachedRawMetadata() {
    if (rawDoc.valid)
        return rawDoc.value;
    const json attributes = makeAttributes(frames);
    const json experiment = namedDocument("ExperimentTiffV1_0");
    const json textInfo = namedDocument("TextInfoTiffV1_0");
    // The global metadata are those of frame 0; a blob without them has none.
    json metadata;
    const std::string name = "MetadataTiffV1_0";
    if (const auto* items = find(dataSeqEntries, name)) {
        if (!items->empty() && items->begin()->first == 0)
            metadata = JsonMetadata::jsonFromLiteVariant(dataSeq.value(items->begin()->second));
    } else if (const auto* xmlItems = find(variantSeqEntries, name)) {
        if (!xmlItems->empty() && xmlItems->begin()->first == 0)
            metadata = JsonMetadata::jsonFromSerializedVariant(variantSeq.value(xmlItems->begin()->second));
    }
    rawDoc.value =
        JsonMetadata::composeRawMetadata(json::array({attributes}), experiment, metadata, textInfo);
    rawDoc.valid = true;
    return rawDoc.value;
}

const json& TifFileDevice::ZanFormat::cachedAttributes() {
    if (!attributesDoc.valid) {
        attributesDoc.value = attributesOf(cachedRawMetadata());
        attributesDoc.valid = true;
    }
    return attributesDoc.value;
}

const json& TifFileDevice::ZanFormat::cachedTextInfo() {
    if (!textInfoDoc.valid) {
        textInfoDoc.value = JsonMetadata::textInfo(cachedRawMetadata());
        textInfoDoc.valid = true;
    }
    return textInfoDoc.value;
}

const json& TifFileDevice::ZanFormat::cachedExperiment() {
    if (!experimentDoc.valid) {
        const json& raw = cachedRawMetadata();
        experimentDoc.value = JsonMetadata::experimentDocument(raw);
        experimentDoc.valid = true;
    }
    return experimentDoc.value;
}

const json& TifFileDevice::ZanFormat::cachedGlobalMetadata() {
    if (!globalDoc.valid) {
        const auto* file = dynamic_cast<const IoFileDevice*>(byteDevice());
        const double day = file ? file->fileCreationTime() : 0.0;
        const json& text = cachedTextInfo();
        const json& loops = cachedExperiment();
        globalDoc.value = JsonMetadata::globalMetadata(cachedRawMetadata(), loops, text, day);
        globalDoc.valid = true;
    }
    return globalDoc.value;
}

const json& TifFileDevice::ZanFormat::cachedMetadata() {
    if (!metadataDoc.valid) {
        const json& global = cachedGlobalMetadata();
        metadataDoc.value = JsonMetadata::metadata(cachedRawMetadata(), global, {}, {});
        metadataDoc.valid = true;
    }
    return metadataDoc.value;
}

const JsonMetadata::FrameCoordinates& TifFileDevice::ZanFormat::frameCoordinates() {
    if (!coordinatesValid) {
        coordinates = JsonMetadata::FrameCoordinates::ofExperiment(cachedExperiment());
        // Directories of a file that describes no loops are each reachable as a frame.
        if (!coordinates.hasLoops())
            coordinates = JsonMetadata::FrameCoordinates(frames);
        coordinatesValid = true;
    }
    return coordinates;
}

const std::vector<double>& TifFileDevice::ZanFormat::cachedFrameTimes() {
    if (frameTimes.empty()) {
        const ByteVector bytes = customData("AcqTimesCache");
        const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
        frameTimes.reserve(bytes.size() / 8);
        for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8)
            frameTimes.push_back(std::bit_cast<double>(detail::loadLE64(in + i)));
    }
    return frameTimes;
}

json TifFileDevice::ZanFormat::rawMetadata() {
    return cachedRawMetadata();
}

json TifFileDevice::ZanFormat::attributes() {
    return cachedAttributes();
}

json TifFileDevice::ZanFormat::experiment() {
    return cachedExperiment();
}

json TifFileDevice::ZanFormat::textInfo() {
    return cachedTextInfo();
}

json TifFileDevice::ZanFormat::metadata() {
    return cachedMetadata();
}

json TifFileDevice::ZanFormat::frameMetadata(unsigned seqIndex, const std::string& jsonPointer) {
    const json& loops = cachedExperiment();
    const JsonMetadata::FrameCoordinates& sequence = frameCoordinates();
    if (seqIndex >= sequence.frameCount())
        throw std::out_of_range("TifFileDevice::ZanFormat::frameMetadata: frame " + std::to_string(seqIndex) +
                                " of a sequence of " + std::to_string(sequence.frameCount()));
    // Frames beyond the stored acquisition times have none.
    const std::vector<double>& times = cachedFrameTimes();
    const double time = seqIndex < times.size() ? times[seqIndex] : std::numeric_limits<double>::quiet_NaN();
    const json& global = cachedGlobalMetadata();
    const json& channels = cachedMetadata();
    return JsonMetadata::frameMetadata(global, channels, loops, time, sequence.coordinates(seqIndex),
                                       jsonPointer);
}

// ---- Custom data

ByteVector TifFileDevice::ZanFormat::customData(const std::string& name) {
    const ValueRange* range = find(dataEntries, name);
    return range ? data.value(*range) : ByteVector();
}

ByteVector TifFileDevice::ZanFormat::customData(const std::string& name, unsigned seqIndex) {
    const auto* items = find(dataSeqEntries, name);
    const ValueRange* range = items ? find(*items, seqIndex) : nullptr;
    return range ? dataSeq.value(*range) : ByteVector();
}

json TifFileDevice::ZanFormat::customMetadata(const std::string& name) {
    const ValueRange* range = find(variantEntries, name);
    return range ? JsonMetadata::jsonFromSerializedVariant(variant.value(*range)) : json();
}

json TifFileDevice::ZanFormat::customMetadata(const std::string& name, unsigned seqIndex) {
    const auto* items = find(variantSeqEntries, name);
    const ValueRange* range = items ? find(*items, seqIndex) : nullptr;
    return range ? JsonMetadata::jsonFromSerializedVariant(variantSeq.value(*range)) : json();
}

} // namespace Zan
