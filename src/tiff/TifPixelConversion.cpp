// The read side of the plain TIFF format: strips and tiles decoded by libtiff and converted into the
// caller's pixel layout (bytes, 16-bit or 32-bit words per component, colour pixels blue, green, red).

#include <tiff/detail/TifFileDeviceImpl.h>

#include <io/detail/RowCopy.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace Zan {

namespace {

using detail::loadSample;
using detail::storeSample;

// Bits [bit, bit + bits) of a line, most significant bit first, touching only the bytes that hold them.
inline std::uint32_t packedSample(const unsigned char* line, std::uint64_t bit, unsigned bits) {
    const unsigned char* p = line + bit / 8;
    const unsigned skip = static_cast<unsigned>(bit % 8);
    const unsigned span = (skip + bits + 7) / 8;
    std::uint64_t word = 0;
    for (unsigned i = 0; i < span; ++i)
        word = word << 8 | p[i];
    return static_cast<std::uint32_t>(word >> (span * 8 - skip - bits)) & ((std::uint32_t(1) << bits) - 1);
}

template <typename T>
void unpackPacked(T* out, const unsigned char* in, unsigned count, unsigned bits, bool expand) {
    constexpr unsigned width = sizeof(T) * 8;
    const unsigned shift = width - bits;
    const std::uint32_t fill = (std::uint32_t(1) << shift) - 1;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint32_t v = packedSample(in, std::uint64_t(i) * bits, bits);
        storeSample<T>(reinterpret_cast<char*>(out + i), static_cast<T>(expand ? v << shift | fill : v));
    }
}

unsigned elementBytes(unsigned bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
}

// Pixel x's samples at in + x * span elements become three elements, the third sample first.
template <typename T>
void reverseColour(char* out, const char* in, unsigned width, unsigned span) {
    constexpr unsigned size = sizeof(T);
    for (unsigned x = 0; x < width; ++x, out += 3 * size, in += span * size) {
        const T first = loadSample<T>(in), second = loadSample<T>(in + size),
                third = loadSample<T>(in + 2 * size);
        storeSample<T>(out, third);
        storeSample<T>(out + size, second);
        storeSample<T>(out + 2 * size, first);
    }
}

void reverseColour(unsigned size, char* out, const char* in, unsigned width, unsigned span) {
    if (size == 1)
        reverseColour<std::uint8_t>(out, in, width, span);
    else if (size == 2)
        reverseColour<std::uint16_t>(out, in, width, span);
    else
        reverseColour<std::uint32_t>(out, in, width, span);
}

// The palette index of pixel x of a line of bits-deep indexes (2, 4, 8 or 16).
inline unsigned paletteIndex(const unsigned char* line, unsigned x, unsigned bits) {
    if (bits == 8)
        return line[x];
    if (bits == 16)
        return loadSample<std::uint16_t>(reinterpret_cast<const char*>(line) + 2 * x);
    return packedSample(line, std::uint64_t(x) * bits, bits);
}

std::string tooLarge(const char* what, std::uint64_t bytes) {
    return std::string("TifFileDevice: ") + what + " of " + std::to_string(bytes) +
           " bytes exceeds the limit of " + std::to_string(TifFileDevice::BaseFormat::maxBlockBytes) +
           " bytes";
}

void clearRows(char* dst, unsigned long stride, std::uint64_t rowBytes, std::uint64_t rows) {
    for (std::uint64_t r = 0; r < rows; ++r)
        std::memset(dst + r * stride, 0, rowBytes);
}

// Elements of a line that hold bits-wide two's-complement samples (24-bit ones in their high three bytes,
// as unpackLine leaves them) become the same values in the element's width.
template <typename T>
void signExtend(char* line, unsigned count, unsigned bits) {
    using S = std::make_signed_t<T>;
    const unsigned shift = unsigned(sizeof(T)) * 8 - bits;
    for (unsigned i = 0; i < count; ++i) {
        char* at = line + std::size_t(i) * sizeof(T);
        const T v = loadSample<T>(at);
        const S value =
            bits == 24 ? static_cast<S>(v) >> shift : static_cast<S>(static_cast<T>(v << shift)) >> shift;
        storeSample<T>(at, static_cast<T>(value));
    }
}

// unpackLine for the samples of a directory: depths below a byte are scaled to the byte for unsigned
// samples; signed samples keep their values, sign-extended to the element.
bool unpackSamples(void* dst, unsigned long dstStride, const void* src, unsigned long srcStride,
                   unsigned long line, const TifFileDevice::Fields& f, unsigned count,
                   const std::function<void(const char*)>& report) {
    const unsigned bits = f.bitsPerSample;
    const bool isSigned = f.sampleFormat == SAMPLEFORMAT_INT;
    if (!unpackLine(dst, dstStride, src, srcStride, line, bits, count, bits <= 8 && !isSigned, report))
        return false;
    if (isSigned && bits != 8 && bits != 16 && bits != 32) {
        char* out = static_cast<char*>(dst) + line * dstStride;
        if (bits < 8)
            signExtend<std::uint8_t>(out, count, bits);
        else if (bits < 16)
            signExtend<std::uint16_t>(out, count, bits);
        else
            signExtend<std::uint32_t>(out, count, bits);
    }
    return true;
}

// Whole rows of rowBytes among n decoded bytes, at most rows; a short decode is reported.
unsigned wholeRows(const TifFileDevice::BaseFormat& format, std::uint64_t n, std::uint64_t rowBytes,
                   unsigned rows, const char* operation) {
    if (n >= std::uint64_t(rows) * rowBytes)
        return rows;
    format.runtimeError(std::string(operation) + ": " + std::to_string(n) + " of " +
                        std::to_string(std::uint64_t(rows) * rowBytes) + " bytes");
    return static_cast<unsigned>(n / rowBytes);
}

} // namespace

float halfToFloat(std::uint16_t half) {
    const std::uint32_t sign = std::uint32_t(half & 0x8000u) << 16;
    const std::uint32_t exponent = (half >> 10) & 0x1Fu;
    std::uint32_t mantissa = half & 0x3FFu;
    std::uint32_t bits = 0;
    if (exponent == 0x1F) {
        bits = sign | 0x7F800000u | mantissa << 13;
    } else if (exponent != 0) {
        bits = sign | (exponent + 112) << 23 | mantissa << 13;
    } else if (mantissa != 0) {
        // Subnormal: normalise the mantissa.
        std::uint32_t e = 113;
        while ((mantissa & 0x400u) == 0) {
            mantissa <<= 1;
            --e;
        }
        bits = sign | e << 23 | (mantissa & 0x3FFu) << 13;
    } else {
        bits = sign;
    }
    return std::bit_cast<float>(bits);
}

bool unpackLine(void* dst, unsigned long dstStride, const void* src, unsigned long srcStride,
                unsigned long line, unsigned bitsPerSample, unsigned count, bool expand,
                const std::function<void(const char*)>& report) {
    // Line offsets are plain byte offsets, whatever the depth: a 12-bit line of 3 pixels is 5 bytes long.
    const auto* in = static_cast<const unsigned char*>(src) + line * srcStride;
    char* out = static_cast<char*>(dst) + line * dstStride;
    switch (bitsPerSample) {
    case 1:
        for (unsigned i = 0; i < count; ++i)
            out[i] = static_cast<char>((in[i / 8] >> (7 - i % 8)) & 1 ? 0xFF : 0);
        return true;
    case 2:
    case 4:
    case 6:
        unpackPacked(reinterpret_cast<std::uint8_t*>(out), in, count, bitsPerSample, expand);
        return true;
    case 8:
        std::memcpy(out, in, count);
        return true;
    case 10:
    case 12:
    case 14:
        unpackPacked(reinterpret_cast<std::uint16_t*>(out), in, count, bitsPerSample, expand);
        return true;
    case 16:
        std::memcpy(out, in, std::size_t(count) * 2);
        return true;
    case 24:
        for (unsigned i = 0; i < count; ++i, in += 3, out += 4) {
            const char bytes[4] = {
                static_cast<char>(expand ? in[0] : 0), static_cast<char>(expand ? in[1] : in[0]),
                static_cast<char>(expand ? in[2] : in[1]), static_cast<char>(expand ? 0xFF : in[2])};
            std::memcpy(out, bytes, 4);
        }
        return true;
    case 32:
        std::memcpy(out, in, std::size_t(count) * 4);
        return true;
    default:
        // Nothing is written: a caller that went on would hand out whatever its line held.
        if (report)
            report("unexpected bits per sample");
        return false;
    }
}

// ---- Loading

bool TifFileDevice::BaseFormat::sizeBuffer(std::uint64_t bytes, const char* what) {
    if (bytes == 0 || bytes > maxBlockBytes) {
        runtimeError(tooLarge(what, bytes));
        return false;
    }
    if (buffer.size() != bytes)
        buffer.resize(static_cast<std::size_t>(bytes));
    return true;
}

bool TifFileDevice::BaseFormat::blockInFile(bool tile, unsigned block, std::uint64_t decodedBytes) const {
    const std::uint64_t offset = TIFFGetStrileOffset(tif, block), count = TIFFGetStrileByteCount(tif, block);
    const bool inFile = count != 0 && offset <= fileBytes && count <= fileBytes - offset;
    // Uncompressed blocks are their pixels: fewer bytes cannot decode.
    const bool whole = directory.compression != COMPRESSION_NONE || count >= decodedBytes;
    if (inFile && whole)
        return true;
    runtimeError(std::string(tile ? "TIFFReadEncodedTile: tile " : "TIFFReadEncodedStrip: strip ") +
                 std::to_string(block) + " of " + std::to_string(count) + " bytes at offset " +
                 std::to_string(offset) +
                 (inFile ? " holds fewer than its " + std::to_string(decodedBytes) + " bytes"
                         : " lies beyond the file's " + std::to_string(fileBytes) + " bytes"));
    return false;
}

tmsize_t TifFileDevice::BaseFormat::decodeBlock(bool tile, unsigned block, void* dst, std::uint64_t size,
                                                std::uint64_t decodedBytes) {
    const auto decode = [&] {
        return tile ? TIFFReadEncodedTile(tif, block, dst, static_cast<tmsize_t>(size))
                    : TIFFReadEncodedStrip(tif, block, dst, static_cast<tmsize_t>(size));
    };
    const bool deflate =
        directory.compression == COMPRESSION_ADOBE_DEFLATE || directory.compression == COMPRESSION_DEFLATE;
    if (!deflate || decodedBytes == 0 || decodedBytes > size)
        return decode();
    // With libdeflate, libtiff takes a Deflate stream longer than its block for a whole block, although it
    // stops writing before a match or a stored block that would run past the block's end. The block's last
    // byte tells: left as it was, it may not have been written, and the block is decoded again through
    // zlib, which fills it (a byte that only happened to be equal to the marker costs a second decode).
    auto* last = static_cast<unsigned char*>(dst) + decodedBytes - 1;
    blockMarker = blockMarker * 1103515245u + 12345u;
    const auto marker = static_cast<unsigned char>(blockMarker >> 24);
    *last = marker;
    tmsize_t n = decode();
    if (n <= 0 || static_cast<std::uint64_t>(n) != decodedBytes || *last != marker)
        return n;
    int subcodec = DEFLATE_SUBCODEC_ZLIB;
    if (TIFFGetField(tif, TIFFTAG_DEFLATE_SUBCODEC, &subcodec) != 1 || subcodec == DEFLATE_SUBCODEC_ZLIB)
        return n;
    TIFFSetField(tif, TIFFTAG_DEFLATE_SUBCODEC, DEFLATE_SUBCODEC_ZLIB);
    n = decode();
    TIFFSetField(tif, TIFFTAG_DEFLATE_SUBCODEC, subcodec);
    return n;
}

unsigned long TifFileDevice::BaseFormat::loadCurrentStrip(unsigned strip, std::uint64_t decodedBytes) {
    if (!sizeBuffer(TIFFStripSize64(tif), "strip"))
        return 0;
    const tmsize_t n = decodeBlock(false, strip, buffer.data(), buffer.size(), decodedBytes);
    if (n <= 0) {
        runtimeError("TIFFReadEncodedStrip failed");
        return 0;
    }
    return static_cast<unsigned long>(n);
}

unsigned long TifFileDevice::BaseFormat::loadCurrentTile(unsigned tile) {
    if (!sizeBuffer(TIFFTileSize64(tif), "tile"))
        return 0;
    const tmsize_t n = decodeBlock(true, tile, buffer.data(), buffer.size(), buffer.size());
    if (n <= 0) {
        runtimeError("TIFFReadEncodedTile failed");
        return 0;
    }
    return static_cast<unsigned long>(n);
}

bool TifFileDevice::BaseFormat::rgbaBlocksInFile(bool tile, unsigned x, unsigned y, unsigned rows) const {
    // The colour planes and an alpha plane are what libtiff's RGBA interface reads.
    const unsigned planes =
        directory.planarConfig == PLANARCONFIG_SEPARATE ? std::min(directory.samplesPerPixel, 4u) : 1;
    for (unsigned s = 0; s < planes; ++s) {
        const auto sample = static_cast<std::uint16_t>(s);
        if (!(tile ? blockInFile(true, TIFFComputeTile(tif, x, y, 0, sample), TIFFTileSize64(tif))
                   : blockInFile(false, TIFFComputeStrip(tif, y, sample), TIFFVStripSize64(tif, rows))))
            return false;
    }
    return true;
}

// libtiff's RGBA reads are told to stop at the first failure: going on, they hand out whatever their
// buffers held for the blocks they could not decode.
bool TifFileDevice::BaseFormat::loadCurrentStripRGBA(unsigned row) {
    const Fields& f = directory;
    if (!rgbaBlocksInFile(false, 0, row, std::min(f.rowsPerStrip, f.height - row)) ||
        !sizeBuffer(std::uint64_t(f.width) * f.rowsPerStrip * 4, "RGBA strip"))
        return false;
    auto* raster = reinterpret_cast<std::uint32_t*>(buffer.data());
    if (f.height <= f.rowsPerStrip && TIFFReadRGBAImage(tif, f.width, f.height, raster, 1) == 0) {
        runtimeError("TIFFReadRGBAImage failed");
        return false;
    }
    if (TIFFReadRGBAStripExt(tif, row, raster, 1) == 0) {
        runtimeError("TIFFReadRGBAStrip failed");
        return false;
    }
    return true;
}

bool TifFileDevice::BaseFormat::loadCurrentTileRGBA(unsigned x, unsigned y) {
    const Fields& f = directory;
    if (!rgbaBlocksInFile(true, x, y, f.tileLength) ||
        !sizeBuffer(std::uint64_t(f.tileWidth) * f.tileLength * 4, "RGBA tile"))
        return false;
    auto* raster = reinterpret_cast<std::uint32_t*>(buffer.data());
    if (f.width <= f.tileWidth && f.height <= f.tileLength &&
        TIFFReadRGBAImage(tif, f.width, f.height, raster, 1) == 0) {
        runtimeError("TIFFReadRGBAImage failed");
        return false;
    }
    if (TIFFReadRGBATileExt(tif, x, y, raster, 1) == 0) {
        runtimeError("TIFFReadRGBATile failed");
        return false;
    }
    return true;
}

// ---- Reading strips, tiles and planes

void TifFileDevice::BaseFormat::requireInside(const Fields& f, unsigned x, unsigned y, unsigned short plane,
                                              const char* operation) const {
    if (x >= f.width || y >= f.height || plane >= planes())
        throw std::invalid_argument("TifFileDevice::BaseFormat::" + std::string(operation) + ": pixel (" +
                                    std::to_string(x) + ", " + std::to_string(y) + ") of plane " +
                                    std::to_string(plane) + " outside the image of " +
                                    std::to_string(f.width) + " x " + std::to_string(f.height) +
                                    " pixels and " + std::to_string(planes()) + " planes");
}

std::uint64_t TifFileDevice::BaseFormat::pixelBytes() const {
    return std::uint64_t(componentsPerPixel()) * bitsPerComponentStored() / 8;
}

void TifFileDevice::BaseFormat::clearPixels(void* dst, unsigned long stride, unsigned columns,
                                            unsigned rows) const {
    clearRows(static_cast<char*>(dst), stride, columns * pixelBytes(), rows);
}

unsigned short TifFileDevice::BaseFormat::samplePlane(unsigned short plane) const {
    // Every colour plane of a palette image looks its colour up from the one plane of indexes.
    return directory.photometric == PHOTOMETRIC_PALETTE ? 0 : plane;
}

bool TifFileDevice::BaseFormat::decodesInPlace(unsigned long stride) const {
    const std::uint32_t bits = directory.bitsPerSample, photometric = directory.photometric;
    const bool plainSamples =
        photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
        (photometric == PHOTOMETRIC_RGB && directory.planarConfig == PLANARCONFIG_SEPARATE);
    return plainSamples && !halfFloat && (bits == 8 || bits == 16 || bits == 32) &&
           stride == TIFFScanlineSize64(tif);
}

unsigned TifFileDevice::BaseFormat::convertStrip(char* dst, unsigned long stride, unsigned row, unsigned rows,
                                                 unsigned short plane) {
    const Fields& f = directory;
    if (f.useRgba) {
        if (!loadCurrentStripRGBA(row))
            return 0;
        currentDataRGB(dst, stride, buffer.data(), std::uint64_t(f.width) * 4, f.width, rows);
        return rows;
    }
    const std::uint64_t scanline = TIFFScanlineSize64(tif), decodedBytes = TIFFVStripSize64(tif, rows);
    const unsigned strip = TIFFComputeStrip(tif, row, samplePlane(plane));
    if (scanline == 0 || !blockInFile(false, strip, decodedBytes))
        return 0;
    if (decodesInPlace(stride)) {
        // The samples need no conversion: libtiff decodes straight into the caller's rows.
        const tmsize_t n = decodeBlock(false, strip, dst, rows * scanline, decodedBytes);
        if (n <= 0) {
            runtimeError("TIFFReadEncodedStrip failed");
            return 0;
        }
        const unsigned produced =
            wholeRows(*this, static_cast<std::uint64_t>(n), scanline, rows, "TIFFReadEncodedStrip");
        if (f.photometric == PHOTOMETRIC_MINISWHITE) {
            auto* bytes = reinterpret_cast<unsigned char*>(dst);
            for (std::uint64_t i = 0; i < produced * scanline; ++i)
                bytes[i] = static_cast<unsigned char>(~bytes[i]);
        }
        return produced;
    }
    const unsigned long n = loadCurrentStrip(strip, decodedBytes);
    if (n == 0)
        return 0;
    // A strip that decoded short converts its whole rows only.
    const unsigned produced = wholeRows(*this, n, scanline, rows, "TIFFReadEncodedStrip");
    return produced != 0 && currentData(dst, stride, buffer.data(), n, scanline, f.width, produced, plane)
               ? produced
               : 0;
}

unsigned TifFileDevice::BaseFormat::convertTile(char* dst, unsigned long stride, unsigned x, unsigned y,
                                                unsigned columns, unsigned rows, unsigned short plane) {
    const Fields& f = directory;
    if (f.useRgba) {
        if (!loadCurrentTileRGBA(x, y))
            return 0;
        // The raster is a whole tile, its top row last.
        const std::uint64_t rasterStride = std::uint64_t(f.tileWidth) * 4;
        currentDataRGB(dst, stride, buffer.data() + (f.tileLength - rows) * rasterStride, rasterStride,
                       columns, rows);
        return rows;
    }
    const std::uint64_t rowBytes = TIFFTileRowSize64(tif);
    const unsigned tile = TIFFComputeTile(tif, x, y, 0, samplePlane(plane));
    if (rowBytes == 0 || !blockInFile(true, tile, TIFFTileSize64(tif)))
        return 0;
    const unsigned long n = loadCurrentTile(tile);
    if (n == 0)
        return 0;
    const unsigned produced = wholeRows(*this, n, rowBytes, rows, "TIFFReadEncodedTile");
    return produced != 0 && currentData(dst, stride, buffer.data(), n, rowBytes, columns, produced, plane)
               ? produced
               : 0;
}

void TifFileDevice::BaseFormat::readCurrentStrip(void* dst, unsigned long stride, unsigned row,
                                                 unsigned short plane) {
    const Fields& f = directory;
    requireInside(f, 0, row, plane, "readCurrentStrip");
    const unsigned rows = std::min(f.height - row, f.rowsPerStrip);
    char* out = static_cast<char*>(dst);
    // Rows the strip does not produce are zero, whatever a failed decode left in them.
    const unsigned produced = rows == 0 ? 0 : convertStrip(out, stride, row, rows, plane);
    clearPixels(out + std::uint64_t(produced) * stride, stride, f.width, rows - produced);
}

void TifFileDevice::BaseFormat::readCurrentTile(void* dst, unsigned long stride, unsigned x, unsigned y,
                                                unsigned short plane) {
    const Fields& f = directory;
    requireInside(f, x, y, plane, "readCurrentTile");
    const unsigned columns = std::min(f.width - x, f.tileWidth);
    const unsigned rows = std::min(f.tileLength, f.height - y);
    char* out = static_cast<char*>(dst);
    const unsigned produced =
        columns == 0 || rows == 0 ? 0 : convertTile(out, stride, x, y, columns, rows, plane);
    clearPixels(out + std::uint64_t(produced) * stride, stride, columns, rows - produced);
}

void TifFileDevice::BaseFormat::readCurrentImage(void* dst, unsigned long stride, unsigned short plane) {
    const Fields& f = directory;
    char* out = static_cast<char*>(dst);
    if (f.rowsPerStrip != 0) {
        for (std::uint64_t row = 0; row < f.height; row += f.rowsPerStrip)
            readCurrentStrip(out + row * stride, stride, static_cast<unsigned>(row), plane);
    } else if (f.tileWidth != 0 && f.tileLength != 0) {
        const std::uint64_t pixel = pixelBytes();
        for (std::uint64_t y = 0; y < f.height; y += f.tileLength)
            for (std::uint64_t x = 0; x < f.width; x += f.tileWidth)
                readCurrentTile(out + y * stride + x * pixel, stride, static_cast<unsigned>(x),
                                static_cast<unsigned>(y), plane);
    } else {
        // Neither strips nor tiles: only libtiff's RGBA interface could decode the image.
        if (!f.useRgba)
            runtimeError("TifFileDevice: a directory of neither strips nor tiles");
        else if (sizeBuffer(std::uint64_t(f.width) * f.height * 4, "RGBA image")) {
            if (TIFFReadRGBAImage(tif, f.width, f.height, reinterpret_cast<std::uint32_t*>(buffer.data()),
                                  1) == 1) {
                currentDataRGB(dst, stride, buffer.data(), std::uint64_t(f.width) * 4, f.width, f.height);
                return;
            }
            runtimeError("TIFFReadRGBAImage failed");
        }
        clearPixels(dst, stride, f.width, f.height);
    }
}

const char* TifFileDevice::BaseFormat::regionBlockAt(unsigned x, unsigned y, unsigned short plane,
                                                     std::uint64_t* blockStride) {
    // The block's pixels inside the image, so that the buffer is no larger than the frame, whatever size
    // the file gives its tiles.
    const Fields& f = directory;
    const bool striped = f.rowsPerStrip != 0;
    const unsigned columns = striped ? f.width : std::min(f.tileWidth, f.width - x);
    const unsigned rows = std::min(striped ? f.rowsPerStrip : f.tileLength, f.height - y);
    *blockStride = columns * pixelBytes();
    if (regionBlockValid && regionX == x && regionY == y && regionPlane == plane)
        return regionBlock.data();
    regionBlockValid = false;
    regionBlock.resize(static_cast<std::size_t>(*blockStride * rows));
    if (striped)
        readCurrentStrip(regionBlock.data(), *blockStride, y, plane);
    else
        readCurrentTile(regionBlock.data(), *blockStride, x, y, plane);
    regionBlockValid = true;
    regionX = x;
    regionY = y;
    regionPlane = plane;
    return regionBlock.data();
}

void TifFileDevice::BaseFormat::readCurrentRegion(void* dst, unsigned long stride, unsigned x, unsigned y,
                                                  unsigned columns, unsigned rows, unsigned short plane) {
    const Fields& f = directory;
    requireInside(f, x, y, plane, "readCurrentRegion");
    columns = std::min(columns, f.width - x);
    rows = std::min(rows, f.height - y);
    const bool striped = f.rowsPerStrip != 0;
    if (!striped && (f.tileWidth == 0 || f.tileLength == 0)) {
        runtimeError("TifFileDevice: a directory of neither strips nor tiles");
        clearPixels(dst, stride, columns, rows);
        return;
    }
    const std::uint64_t blockWidth = striped ? f.width : f.tileWidth;
    const std::uint64_t blockHeight = striped ? f.rowsPerStrip : f.tileLength;
    const std::uint64_t pixel = pixelBytes();
    const std::uint64_t right = std::uint64_t(x) + columns, bottom = std::uint64_t(y) + rows;
    char* out = static_cast<char*>(dst);
    // Block by block, the part of each that lies in the region; a block read leaves every byte of its
    // pixels written (or zero), so nothing of the block buffer's old contents is copied.
    for (std::uint64_t by = y / blockHeight * blockHeight; by < bottom; by += blockHeight)
        for (std::uint64_t bx = striped ? 0 : x / blockWidth * blockWidth; bx < right; bx += blockWidth) {
            const std::uint64_t x0 = std::max<std::uint64_t>(x, bx), x1 = std::min(right, bx + blockWidth);
            const std::uint64_t y0 = std::max<std::uint64_t>(y, by), y1 = std::min(bottom, by + blockHeight);
            std::uint64_t blockStride = 0;
            const char* block =
                regionBlockAt(static_cast<unsigned>(bx), static_cast<unsigned>(by), plane, &blockStride);
            char* at = out + (y0 - y) * stride + (x0 - x) * pixel;
            for (std::uint64_t row = y0; row < y1; ++row)
                std::memcpy(at + (row - y0) * stride, block + (row - by) * blockStride + (x0 - bx) * pixel,
                            (x1 - x0) * pixel);
        }
}

// ---- Conversion

void TifFileDevice::BaseFormat::currentDataRGB(void* dst, unsigned long dstStride, const void* src,
                                               unsigned long srcStride, unsigned width, unsigned rows) {
    // libtiff fills RGBA rasters bottom-up: output row r is raster row rows - 1 - r.
    const auto* in = static_cast<const unsigned char*>(src);
    auto* out = static_cast<unsigned char*>(dst);
    for (unsigned r = 0; r < rows; ++r)
        RGBAtoBGR(out + std::uint64_t(r) * dstStride, in + std::uint64_t(rows - 1 - r) * srcStride, width);
}

void TifFileDevice::BaseFormat::checkPaletteLoaded() {
    if (directory.photometric != PHOTOMETRIC_PALETTE)
        return;
    const std::uint32_t bits = directory.bitsPerSample;
    if (bits > 16) {
        runtimeError("unsupported bitdepth");
        return;
    }
    const std::size_t entries = std::size_t(1) << bits, entryBytes = bits <= 8 ? 3 : 6;
    if (palette.size() == entries * entryBytes)
        return;
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || !red || !green || !blue) {
        runtimeError("missing colormap");
        return;
    }
    palette.resize(entries * entryBytes);
    for (std::size_t i = 0; i < entries; ++i) {
        if (bits <= 8) {
            palette[3 * i] = static_cast<char>(blue[i] >> 8);
            palette[3 * i + 1] = static_cast<char>(green[i] >> 8);
            palette[3 * i + 2] = static_cast<char>(red[i] >> 8);
        } else {
            const std::uint16_t entry[3] = {blue[i], green[i], red[i]};
            std::memcpy(palette.data() + 6 * i, entry, 6);
        }
    }
}

bool TifFileDevice::BaseFormat::currentData(void* dst, unsigned long dstStride, void* src,
                                            unsigned long srcSize, unsigned long srcStride, unsigned width,
                                            unsigned rows, unsigned short plane) {
    if (!dst || dstStride == 0)
        throw std::invalid_argument("TifFileDevice::BaseFormat::currentData got null dst argument");
    if (!src || srcSize == 0 || width == 0 || rows == 0 || std::uint64_t(srcStride) * rows > srcSize)
        throw std::invalid_argument("TifFileDevice::BaseFormat::currentData got null src argument");
    checkPaletteLoaded();
    const Fields& f = directory;
    const std::uint32_t photometric = f.photometric, planar = f.planarConfig, spp = f.samplesPerPixel;
    if (photometric == PHOTOMETRIC_MINISWHITE) {
        auto* bytes = static_cast<unsigned char*>(src);
        for (unsigned long i = 0; i < srcSize; ++i)
            bytes[i] = static_cast<unsigned char>(~bytes[i]);
    }
    if (halfFloat) {
        // 16-bit floats become the 32-bit floats the device hands out.
        const unsigned long halves = srcStride / 2;
        widened.resize(std::size_t(rows) * halves * 4);
        for (unsigned r = 0; r < rows; ++r) {
            const char* in = static_cast<const char*>(src) + std::uint64_t(r) * srcStride;
            char* out = widened.data() + std::uint64_t(r) * halves * 4;
            for (unsigned long i = 0; i < halves; ++i)
                storeSample<float>(out + 4 * i, halfToFloat(loadSample<std::uint16_t>(in + 2 * i)));
        }
        src = widened.data();
        srcStride = halves * 4;
        srcSize = rows * srcStride;
    }
    const std::uint32_t bits = f.bitsPerSample;
    const std::function<void(const char*)> report = [this](const char* message) { runtimeError(message); };
    const auto* in = static_cast<const unsigned char*>(src);
    char* out = static_cast<char*>(dst);

    if (photometric == PHOTOMETRIC_RGB) {
        if (planar == PLANARCONFIG_SEPARATE) {
            for (unsigned r = 0; r < rows; ++r)
                if (!unpackSamples(dst, dstStride, src, srcStride, r, f, width, report))
                    return false;
            return true;
        }
        if (planar != PLANARCONFIG_CONTIG) {
            runtimeError("unknown planarconfig");
            return false;
        }
        if (bits > 32) {
            runtimeError("unexpected bits per sample (RGB contig)");
            return false;
        }
        const unsigned size = elementBytes(bits);
        for (unsigned r = 0; r < rows; ++r) {
            const char* samples = reinterpret_cast<const char*>(in) + std::uint64_t(r) * srcStride;
            if (bits != 8 && bits != 16 && bits != 32) {
                line.resize(std::size_t(spp) * width * size);
                if (!unpackSamples(line.data(), 0, samples, 0, 0, f, spp * width, report))
                    return false;
                samples = line.data();
            }
            reverseColour(size, out + std::uint64_t(r) * dstStride, samples, width, spp);
        }
        return true;
    }
    if (photometric == PHOTOMETRIC_PALETTE) {
        if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE) {
            runtimeError("unknown planarconfig");
            return false;
        }
        // Deeper indexes were reported when the colour map was looked for.
        if (bits > 16)
            return false;
        const bool indexed = bits == 2 || bits == 4 || bits == 8 || bits == 16;
        if (!indexed) {
            for (unsigned r = 0; r < rows; ++r)
                runtimeError("unexpected bits per sample (palette)");
            return false;
        }
        // Without its colour map (reported when it was looked for) a palette image converts nothing.
        const std::size_t entryBytes = bits <= 8 ? 3 : 6;
        if (palette.size() != (std::size_t(1) << bits) * entryBytes)
            return false;
        const unsigned elementSize = bits <= 8 ? 1 : 2;
        for (unsigned r = 0; r < rows; ++r) {
            const unsigned char* indexes = in + std::uint64_t(r) * srcStride;
            char* pixels = out + std::uint64_t(r) * dstStride;
            if (planar == PLANARCONFIG_CONTIG) {
                for (unsigned x = 0; x < width; ++x)
                    std::memcpy(pixels + std::uint64_t(x) * entryBytes,
                                palette.data() + std::size_t(paletteIndex(indexes, x, bits)) * entryBytes,
                                entryBytes);
            } else {
                // Colour planes in the order of RGB planes (red first), so that a packed copy of a palette
                // image is the same whichever planar configuration it was stored in.
                const std::size_t element = 2 - std::min<unsigned short>(plane, 2);
                for (unsigned x = 0; x < width; ++x)
                    std::memcpy(pixels + std::uint64_t(x) * elementSize,
                                palette.data() + std::size_t(paletteIndex(indexes, x, bits)) * entryBytes +
                                    element * elementSize,
                                elementSize);
            }
        }
        return true;
    }
    const unsigned count = planar == PLANARCONFIG_CONTIG ? width * spp : width;
    if (bits == 8 || bits == 16 || bits == 32) {
        // Whole samples: each row is a copy.
        const std::size_t rowBytes = std::size_t(count) * (bits / 8);
        for (unsigned r = 0; r < rows; ++r)
            std::memcpy(out + std::uint64_t(r) * dstStride, in + std::uint64_t(r) * srcStride, rowBytes);
        return true;
    }
    for (unsigned r = 0; r < rows; ++r)
        if (!unpackSamples(dst, dstStride, src, srcStride, r, f, count, report))
            return false;
    return true;
}

} // namespace Zan
