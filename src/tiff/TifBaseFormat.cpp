// The plain TIFF format: tags of the directory, geometry, directory selection, writing and the metadata
// documents derived from the tags. The read side (pixel conversion) is in TifPixelConversion.cpp.

#include <tiff/detail/TifFileDeviceImpl.h>

#include <imagefile/IoImageFile.h>
#include <io/IoFileDevice.h>
#include <metadata/JsonBridge.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace Zan {

namespace {

// Tags that libtiff delivers as 16-bit numbers land in 16-bit variables first.
std::uint32_t defaulted16(TIFF* tif, ttag_t tag, const char* message) {
    std::uint16_t value = 0;
    if (TIFFGetField(tif, tag, &value) != 1 && TIFFGetFieldDefaulted(tif, tag, &value) != 1)
        throw std::runtime_error(message);
    return value;
}

std::uint32_t required32(TIFF* tif, ttag_t tag, const char* message) {
    std::uint32_t value = 0;
    if (TIFFGetField(tif, tag, &value) != 1)
        throw std::runtime_error(message);
    return value;
}

std::runtime_error unusable(const std::string& what) {
    return std::runtime_error("TifFileDevice: " + what);
}

std::invalid_argument badAttribute(const std::string& what) {
    return std::invalid_argument("TifFileDevice::setAttributes: " + what);
}

// Swaps the first and third sample of every pixel: blue, green, red in memory to red, green, blue in the
// file.
void swapRedAndBlue(char* row, std::uint64_t pixels, unsigned sampleBytes, unsigned samplesPerPixel) {
    const std::uint64_t pixelBytes = std::uint64_t(sampleBytes) * samplesPerPixel;
    char sample[4];
    for (std::uint64_t i = 0; i < pixels; ++i, row += pixelBytes) {
        std::memcpy(sample, row, sampleBytes);
        std::memcpy(row, row + 2 * sampleBytes, sampleBytes);
        std::memcpy(row + 2 * sampleBytes, sample, sampleBytes);
    }
}

} // namespace

TifFileDevice::BaseFormat::BaseFormat(TIFF* handle) : tif(handle) {
    // A file being read keeps its size: every strip and tile is checked against it.
    if (tif && !isWritableHandle(tif))
        if (IoDevice* device = byteDevice()) {
            const long size = device->size();
            fileBytes = size < 0 ? 0 : static_cast<std::uint64_t>(size);
        }
}

TifFileDevice::BaseFormat::~BaseFormat() = default;

IoDevice* TifFileDevice::BaseFormat::byteDevice() const {
    return static_cast<IoDevice*>(TIFFClientdata(tif));
}

bool TifFileDevice::BaseFormat::isWritableHandle(TIFF* tif) {
    const auto* device = static_cast<const IoDevice*>(TIFFClientdata(tif));
    return device && (device->openMode() & (IoDevice::Write | IoDevice::Append | IoDevice::Update)) != 0;
}

std::unique_ptr<TifFileDevice::BaseFormat> TifFileDevice::BaseFormat::create(TIFF* tif) {
    auto format = std::make_unique<BaseFormat>(tif);
    if (isWritableHandle(tif)) {
        format->writable = true;
        return format;
    }
    format->fields = format->readDirectoryFields(&format->halfFloat);
    format->directory = format->fields;
    format->directoryCount = 1;
    return format;
}

TifFileDevice::Fields TifFileDevice::BaseFormat::readDirectoryFields(bool* halfFloat) const {
    Fields f;
    f.width = required32(tif, TIFFTAG_IMAGEWIDTH, "missing IMAGEWIDTH tag");
    f.height = required32(tif, TIFFTAG_IMAGELENGTH, "missing IMAGELENGTH tag");
    f.bitsPerSample = defaulted16(tif, TIFFTAG_BITSPERSAMPLE, "missing BITSPERSAMPLE tag");
    f.samplesPerPixel = defaulted16(tif, TIFFTAG_SAMPLESPERPIXEL, "missing SAMPLESPERPIXEL tag");
    f.planarConfig = defaulted16(tif, TIFFTAG_PLANARCONFIG, "missing PLANARCONFIG tag");
    f.photometric = defaulted16(tif, TIFFTAG_PHOTOMETRIC, "missing PHOTOMETRIC tag");
    f.sampleFormat = defaulted16(tif, TIFFTAG_SAMPLEFORMAT, "missing SAMPLEFORMAT tag");
    f.compression = defaulted16(tif, TIFFTAG_COMPRESSION, "missing COMPRESSION tag");
    bool half = false;
    if (f.sampleFormat == SAMPLEFORMAT_IEEEFP) {
        // The device hands floats out as 32-bit samples: 16-bit ones are widened exactly, other widths
        // would be read as something they are not.
        if (f.bitsPerSample == 16)
            half = true;
        else if (f.bitsPerSample != 32)
            throw unusable("floating-point samples of " + std::to_string(f.bitsPerSample) +
                           " bits are not supported");
        f.bitsPerSample = 32;
    }
    // Samples are handed out in bytes, 16-bit or 32-bit words: other depths have no element to go to.
    if (f.bitsPerSample == 0 || f.bitsPerSample > 32)
        throw unusable("samples of " + std::to_string(f.bitsPerSample) + " bits are not supported");
    std::uint32_t tileWidth = 0;
    if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) == 1) {
        f.tileWidth = tileWidth;
        f.tileLength = required32(tif, TIFFTAG_TILELENGTH, "missing TILELENGTH tag");
        if (f.tileWidth == 0 || f.tileLength == 0)
            throw unusable("tiles of " + std::to_string(f.tileWidth) + " x " + std::to_string(f.tileLength) +
                           " pixels");
    } else {
        std::uint32_t rows = 0;
        if (TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rows) != 1 &&
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows) != 1)
            throw std::runtime_error("missing ROWSPERSTRIP tag");
        // libtiff's "one strip" value, and anything else beyond the image, is one strip of all rows.
        f.rowsPerStrip = rows == 0 || rows > f.height ? f.height : rows;
    }
    std::uint16_t maxSample = 0;
    if (TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &maxSample) == 1)
        f.maxSampleValue = maxSample;

    if (f.width == 0 || f.height == 0)
        throw unusable("image of " + std::to_string(f.width) + " x " + std::to_string(f.height) + " pixels");
    if (f.samplesPerPixel == 0)
        throw unusable("image of 0 samples per pixel");
    // Colour pixels take three samples; fewer would be read past the end of every line.
    if (f.photometric == PHOTOMETRIC_RGB && f.samplesPerPixel < 3)
        throw unusable("RGB image of " + std::to_string(f.samplesPerPixel) + " samples per pixel");
    f.isRgb = f.photometric > 1;
    f.useRgba = f.photometric > 3;
    *halfFloat = half;
    return f;
}

void TifFileDevice::BaseFormat::updateColourFlags() {
    fields.isRgb = fields.photometric > 1;
    fields.useRgba = fields.photometric > 3;
}

// ---- Geometry

bool TifFileDevice::BaseFormat::isTiled(long* tileWidth, long* tileHeight) const {
    if (tileWidth)
        *tileWidth = fields.tileWidth;
    if (tileHeight)
        *tileHeight = fields.tileLength;
    return std::uint64_t(fields.tileWidth) * fields.tileLength != 0;
}

bool TifFileDevice::BaseFormat::isStriped(long* rowsPerStrip) const {
    if (rowsPerStrip)
        *rowsPerStrip = fields.rowsPerStrip;
    return fields.rowsPerStrip != 0;
}

IoImageDataDevice::DataFormat TifFileDevice::BaseFormat::dataFormat() const {
    return fields.sampleFormat == SAMPLEFORMAT_IEEEFP ? IoImageDataDevice::FloatingPoint
                                                      : IoImageDataDevice::UnsignedInteger;
}

IoImageDataDevice::Interpretation TifFileDevice::BaseFormat::interpretation() const {
    return fields.isRgb ? IoImageDataDevice::Colour : IoImageDataDevice::Plain;
}

long TifFileDevice::BaseFormat::width() const {
    return fields.width;
}

long TifFileDevice::BaseFormat::height() const {
    return fields.height;
}

long TifFileDevice::BaseFormat::bitsPerComponentUsed() const {
    const std::uint32_t bits = fields.bitsPerSample;
    if (fields.useRgba || bits <= 8)
        return 8;
    // Signed samples are handed out sign-extended: every bit of the element is part of the value, and
    // masking it to fewer bits would lose the sign.
    if (fields.sampleFormat == SAMPLEFORMAT_INT && fields.photometric != PHOTOMETRIC_PALETTE)
        return bitsPerComponentStored();
    if (bits > 16 || fields.maxSampleValue == 0)
        return bits;
    const std::uint32_t m = fields.maxSampleValue & ((1u << bits) - 1);
    const long used = std::bit_width(m);
    // A maximum that names fewer than 9 bits (or none) would have callers size 16-bit samples as bytes.
    return used >= 9 && used <= 16 ? used : bits;
}

long TifFileDevice::BaseFormat::bitsPerComponentStored() const {
    const std::uint32_t bits = fields.bitsPerSample;
    if (fields.useRgba || bits <= 8)
        return 8;
    if (bits <= 16)
        return 16;
    if (bits <= 32)
        return 32;
    return 0;
}

long TifFileDevice::BaseFormat::componentsPerPixel() const {
    if (fields.useRgba)
        return 3;
    if (fields.planarConfig == PLANARCONFIG_SEPARATE)
        return 1;
    if (fields.isRgb)
        return 3;
    return fields.samplesPerPixel;
}

long TifFileDevice::BaseFormat::planes() const {
    if (fields.useRgba || fields.planarConfig != PLANARCONFIG_SEPARATE)
        return 1;
    if (fields.isRgb)
        return 3;
    return fields.samplesPerPixel;
}

// ---- Frame slots

void TifFileDevice::BaseFormat::readPlane(unsigned seqIndex, unsigned plane, void* dst,
                                          unsigned long stride) {
    setCurrentDirectory(seqIndex);
    readCurrentImage(dst, stride, static_cast<unsigned short>(plane));
}

void TifFileDevice::BaseFormat::readTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y, void* dst,
                                         unsigned long stride) {
    setCurrentDirectory(seqIndex);
    readCurrentTile(dst, stride, x, y, static_cast<unsigned short>(plane));
}

void TifFileDevice::BaseFormat::readStrip(unsigned seqIndex, unsigned plane, unsigned row, void* dst,
                                          unsigned long stride) {
    setCurrentDirectory(seqIndex);
    readCurrentStrip(dst, stride, row, static_cast<unsigned short>(plane));
}

void TifFileDevice::BaseFormat::writePlane(unsigned seqIndex, unsigned plane, const void* src,
                                           unsigned long stride) {
    setCurrentDirectory(seqIndex);
    writeCurrentImage(src, stride, static_cast<unsigned short>(plane));
}

void TifFileDevice::BaseFormat::writeTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y,
                                          const void* src, unsigned long stride) {
    setCurrentDirectory(seqIndex);
    writeCurrentTile(src, stride, x, y, static_cast<unsigned short>(plane));
}

void TifFileDevice::BaseFormat::writeStrip(unsigned seqIndex, unsigned plane, unsigned row, const void* src,
                                           unsigned long stride) {
    setCurrentDirectory(seqIndex);
    writeCurrentStrip(src, stride, row, static_cast<unsigned short>(plane));
}

void TifFileDevice::BaseFormat::setCurrentDirectory(unsigned seqIndex) {
    // The last 16-bit value means "none selected", so 65535 directories at most.
    if (seqIndex >= 0xFFFF)
        throw std::out_of_range("TifFileDevice::setCurrentDirectory: directory " + std::to_string(seqIndex) +
                                " beyond the last one a TIFF can hold");
    const auto d = static_cast<std::uint16_t>(seqIndex);
    if (d == currentDirectory)
        return;
    if (d < directoryCount) {
        if (TIFFSetDirectory(tif, d) != 1)
            throw std::runtime_error("TifFileDevice::setCurrentDirectory: directory " + std::to_string(d) +
                                     " cannot be read");
        currentDirectory = d;
        return;
    }
    if (!writable)
        throw std::out_of_range("TifFileDevice::setCurrentDirectory: directory " + std::to_string(d) +
                                " of a file of " + std::to_string(directoryCount));
    if (d != directoryCount)
        throw std::logic_error("TifFileDevice::setCurrentDirectory: must be set sequentially when writing");
    if (d != 0) {
        if (TIFFWriteDirectory(tif) != 1)
            throw std::runtime_error("TifFileDevice::setCurrentDirectory: directory " +
                                     std::to_string(d - 1) + " could not be written");
        // The new directory starts without tags; it gets those of the frame before it.
        fields.tagsPending = true;
        applyPendingTags();
    }
    currentDirectory = d;
    directoryCount = static_cast<std::uint16_t>(d + 1);
}

void TifFileDevice::BaseFormat::runtimeError(const std::string& message) const {
    if (stopOnError)
        throw std::runtime_error(message);
}

// ---- Writing

void TifFileDevice::BaseFormat::setAttributes(const json& attributes) {
    if (!writable)
        throw std::logic_error("TifFileDevice::setAttributes: not open for writing");
    const auto a = attributes.get<IoImageFile::Attributes>();
    constexpr std::int64_t maxSize = std::numeric_limits<std::uint32_t>::max();
    if (a.widthPx < 1 || a.widthPx > maxSize || a.heightPx < 1 || a.heightPx > maxSize)
        throw badAttribute("image of " + std::to_string(a.widthPx) + " x " + std::to_string(a.heightPx) +
                           " pixels");
    if (a.componentCount < 1 || a.componentCount > 0xFFFF)
        throw badAttribute(std::to_string(a.componentCount) + " components");
    // Samples are written as they lie in memory, so only whole bytes, words and double words can be.
    const bool isFloat = a.pixelDataType == IoImageFile::Float;
    const std::int64_t bits = a.bitsPerComponentInMemory;
    if (isFloat ? bits != 32 : bits != 8 && bits != 16 && bits != 32)
        throw badAttribute(std::string(isFloat ? "floating-point" : "unsigned") + " samples of " +
                           std::to_string(bits) + " bits");

    Fields f;
    f.width = static_cast<std::uint32_t>(a.widthPx);
    f.height = static_cast<std::uint32_t>(a.heightPx);
    f.bitsPerSample = static_cast<std::uint32_t>(bits);
    if (isFloat) {
        f.sampleFormat = SAMPLEFORMAT_IEEEFP;
    } else {
        f.sampleFormat = SAMPLEFORMAT_UINT;
        // MAXSAMPLEVALUE is a 16-bit tag: wider maxima are not written.
        const std::int64_t significant = a.bitsPerComponentSignificant;
        f.maxSampleValue = significant >= 1 && significant <= 16 ? (1u << significant) - 1 : 0;
    }
    f.samplesPerPixel = static_cast<std::uint32_t>(a.componentCount);
    f.planarConfig = PLANARCONFIG_CONTIG;
    f.photometric = a.componentCount == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    f.compression = a.compressionType == IoImageFile::NoCompression ? COMPRESSION_NONE : COMPRESSION_LZW;
    if (a.tileWidthPx >= 1 && a.tileWidthPx < a.widthPx && a.tileHeightPx >= 1 &&
        a.tileHeightPx < a.heightPx) {
        f.tileWidth = static_cast<std::uint32_t>(a.tileWidthPx);
        f.tileLength = static_cast<std::uint32_t>(a.tileHeightPx);
    } else {
        f.rowsPerStrip = 1;
    }
    f.tagsPending = true;
    fields = f;
    updateColourFlags();
}

void TifFileDevice::BaseFormat::setMetadata(const json& metadata) {
    if (!writable)
        throw std::logic_error("TifFileDevice::setMetadata: not open for writing");
    const auto m = metadata.get<IoImageFile::Metadata>();
    const std::uint32_t photometric =
        fields.samplesPerPixel == 3 && m.channels.size() == 1 && m.channels.front().volume.componentCount == 3
            ? PHOTOMETRIC_RGB
            : PHOTOMETRIC_MINISBLACK;
    if (photometric != fields.photometric) {
        fields.photometric = photometric;
        fields.tagsPending = true;
        updateColourFlags();
    }
}

void TifFileDevice::BaseFormat::applyPendingTags() {
    if (!fields.tagsPending)
        return;
    Fields& f = fields;
    const bool set = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, f.width) == 1 &&
                     TIFFSetField(tif, TIFFTAG_IMAGELENGTH, f.height) == 1 &&
                     TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bitsPerSample) == 1 &&
                     TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.samplesPerPixel) == 1 &&
                     TIFFSetField(tif, TIFFTAG_PLANARCONFIG, f.planarConfig) == 1 &&
                     TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.photometric) == 1 &&
                     TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, f.sampleFormat) == 1 &&
                     TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression) == 1;
    if (!set)
        return;
    if (f.maxSampleValue != 0)
        TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, f.maxSampleValue);
    if (f.tileWidth == 0 || f.tileLength == 0) {
        if (f.rowsPerStrip == 0) {
            f.tagsPending = false;
            return;
        }
        f.rowsPerStrip = TIFFDefaultStripSize(tif, f.rowsPerStrip);
        if (TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, f.rowsPerStrip) == 1)
            f.tagsPending = false;
        return;
    }
    TIFFDefaultTileSize(tif, &f.tileWidth, &f.tileLength);
    if (TIFFSetField(tif, TIFFTAG_TILEWIDTH, f.tileWidth) == 1 &&
        TIFFSetField(tif, TIFFTAG_TILELENGTH, f.tileLength) == 1)
        f.tagsPending = false;
}

void TifFileDevice::BaseFormat::writeCurrentImage(const void* src, unsigned long stride,
                                                  unsigned short plane) {
    const char* in = static_cast<const char*>(src);
    const unsigned long rows = height(), columns = width();
    long rowsPerStrip = 0, tileWidth = 0, tileHeight = 0;
    if (isStriped(&rowsPerStrip)) {
        for (unsigned long row = 0; row < rows; row += rowsPerStrip)
            writeCurrentStrip(in + row * stride, stride, static_cast<unsigned>(row), plane);
    } else if (isTiled(&tileWidth, &tileHeight)) {
        const unsigned long pixelBytes = componentsPerPixel() * bitsPerComponentStored() / 8;
        for (unsigned long y = 0; y < rows; y += tileHeight)
            for (unsigned long x = 0; x < columns; x += tileWidth)
                writeCurrentTile(in + y * stride + x * pixelBytes, stride, static_cast<unsigned>(x),
                                 static_cast<unsigned>(y), plane);
    }
}

void TifFileDevice::BaseFormat::encodeBlock(bool tile, unsigned block, unsigned long bytes,
                                            const char* operation) {
    // A colour frame comes blue, green, red; the file holds red, green, blue.
    if (fields.photometric == PHOTOMETRIC_RGB && fields.planarConfig == PLANARCONFIG_CONTIG &&
        fields.samplesPerPixel >= 3) {
        const unsigned sampleBytes = fields.bitsPerSample / 8;
        swapRedAndBlue(buffer.data(), bytes / (std::uint64_t(sampleBytes) * fields.samplesPerPixel),
                       sampleBytes, fields.samplesPerPixel);
    }
    const tmsize_t written =
        tile ? TIFFWriteEncodedTile(tif, block, buffer.data(), static_cast<tmsize_t>(bytes))
             : TIFFWriteEncodedStrip(tif, block, buffer.data(), static_cast<tmsize_t>(bytes));
    // A pixel write that fails loses the frame: it is never dropped.
    if (written < 1)
        throw std::runtime_error(operation + std::string(" failed"));
}

void TifFileDevice::BaseFormat::writeCurrentStrip(const void* src, unsigned long stride, unsigned row,
                                                  unsigned short plane) {
    requireInside(fields, 0, row, plane, "writeCurrentStrip");
    const std::uint64_t scanline = TIFFScanlineSize64(tif);
    const std::uint64_t rows = std::min<std::uint64_t>(fields.rowsPerStrip, fields.height - row);
    const std::uint64_t bytes = rows * scanline;
    if (scanline == 0 || !sizeBuffer(bytes, "strip"))
        throw std::runtime_error("TIFFWriteEncodedStrip failed");
    const std::uint64_t copied = std::min<std::uint64_t>(scanline, stride);
    const char* in = static_cast<const char*>(src);
    for (std::uint64_t i = 0; i < rows; ++i) {
        char* out = buffer.data() + i * scanline;
        std::memcpy(out, in + i * stride, copied);
        std::memset(out + copied, 0, scanline - copied);
    }
    encodeBlock(false, TIFFComputeStrip(tif, row, plane), bytes, "TIFFWriteEncodedStrip");
}

void TifFileDevice::BaseFormat::writeCurrentTile(const void* src, unsigned long stride, unsigned x,
                                                 unsigned y, unsigned short plane) {
    requireInside(fields, x, y, plane, "writeCurrentTile");
    const std::uint64_t tileBytes = TIFFTileSize64(tif), rowBytes = TIFFTileRowSize64(tif);
    if (tileBytes == 0 || rowBytes == 0 || !sizeBuffer(tileBytes, "tile"))
        throw std::runtime_error("TIFFWriteEncodedTile failed");
    const std::uint64_t rows = std::min<std::uint64_t>(fields.tileLength, fields.height - y);
    const std::uint64_t pixels = std::min<std::uint64_t>(fields.tileWidth, fields.width - x);
    const std::uint64_t copied = std::min<std::uint64_t>(
        {pixels * componentsPerPixel() * bitsPerComponentStored() / 8, rowBytes, stride});
    // What lies beyond the image's right and bottom edges is written as zeros.
    std::memset(buffer.data(), 0, tileBytes);
    const char* in = static_cast<const char*>(src);
    for (std::uint64_t i = 0; i < rows; ++i)
        std::memcpy(buffer.data() + i * rowBytes, in + i * stride, copied);
    encodeBlock(true, TIFFComputeTile(tif, x, y, 0, plane), tileBytes, "TIFFWriteEncodedTile");
}

// ---- Metadata documents

nlohmann::json TifFileDevice::BaseFormat::makeAttributes(unsigned sequenceCount) const {
    const std::uint64_t components = std::uint64_t(componentsPerPixel()) * planes();
    const std::uint64_t sampleBytes = (bitsPerComponentStored() + 7) / 8;
    const std::uint64_t lineBytes = std::uint64_t(width()) * components * sampleBytes;
    json a;
    a["uiWidth_u32"] = static_cast<std::uint64_t>(width());
    a["uiWidthBytes_u32"] = (lineBytes + 3) / 4 * 4;
    a["uiHeight_u32"] = static_cast<std::uint64_t>(height());
    a["uiComp_u32"] = components;
    a["uiBpcInMemory_u32"] = static_cast<std::uint64_t>(bitsPerComponentStored());
    a["uiBpcSignificant_u32"] = static_cast<std::uint64_t>(bitsPerComponentUsed());
    a["uiSequenceCount_u32"] = sequenceCount;
    // Legacy codes: 0 lossless, 1 lossy, anything else none. An uncompressed file reports no compression;
    // JPEG is the one lossy scheme libtiff decodes here.
    const bool lossy = fields.compression == COMPRESSION_JPEG || fields.compression == COMPRESSION_OJPEG;
    a["eCompression_i32"] = fields.compression == COMPRESSION_NONE ? 2 : lossy ? 1 : 0;
    a["dCompressionParam_dbl"] = 1.0;
    long tileWidth = 0, tileHeight = 0, rowsPerStrip = 0;
    if (isTiled(&tileWidth, &tileHeight)) {
        a["uiTileWidth_u32"] = static_cast<std::uint64_t>(tileWidth);
        a["uiTileHeight_u32"] = static_cast<std::uint64_t>(tileHeight);
    } else if (isStriped(&rowsPerStrip)) {
        a["uiTileWidth_u32"] = static_cast<std::uint64_t>(width());
        a["uiTileHeight_u32"] = static_cast<std::uint64_t>(rowsPerStrip);
    }
    return a;
}

const JsonMetadata::FrameCoordinates& TifFileDevice::BaseFormat::frameCoordinates() {
    return coordinates;
}

nlohmann::json TifFileDevice::BaseFormat::rawMetadata() {
    return JsonMetadata::composeRawMetadata(json::array({makeAttributes(1)}), nullptr, nullptr, nullptr);
}

nlohmann::json TifFileDevice::BaseFormat::attributesOf(const json& raw) const {
    json result = JsonMetadata::attributes(raw);
    // The sample format decides, not the depth: 32-bit integers are not floats.
    result["pixelDataType"] = dataFormat() == IoImageDataDevice::FloatingPoint ? "float" : "unsigned";
    return result;
}

nlohmann::json TifFileDevice::BaseFormat::attributes() {
    return attributesOf(rawMetadata());
}

nlohmann::json TifFileDevice::BaseFormat::metadata() {
    const auto* file = dynamic_cast<const IoFileDevice*>(byteDevice());
    const double day = file ? file->fileCreationTime() : 0.0;
    const json raw = rawMetadata();
    const json global = JsonMetadata::globalMetadata(raw, nullptr, nullptr, day);
    return JsonMetadata::metadata(raw, global, {}, {});
}

ByteVector TifFileDevice::BaseFormat::customData(const std::string&) {
    return {};
}

ByteVector TifFileDevice::BaseFormat::customData(const std::string&, unsigned) {
    return {};
}

nlohmann::json TifFileDevice::BaseFormat::customMetadata(const std::string&) {
    return nullptr;
}

nlohmann::json TifFileDevice::BaseFormat::customMetadata(const std::string&, unsigned) {
    return nullptr;
}

nlohmann::json TifFileDevice::BaseFormat::experiment() {
    return nullptr;
}

nlohmann::json TifFileDevice::BaseFormat::frameMetadata(unsigned, const std::string&) {
    return nullptr;
}

nlohmann::json TifFileDevice::BaseFormat::textInfo() {
    return nullptr;
}

} // namespace Zan
