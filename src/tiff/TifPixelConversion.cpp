// The read side of the plain TIFF format: strips and tiles decoded by libtiff and converted into the
// caller's pixel layout (bytes, 16-bit or 32-bit words per component, colour pixels blue, green, red).

#include <tiff/detail/TifFileDeviceImpl.h>

#include <io/detail/RowCopy.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

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

void unpackLine(void* dst, unsigned long dstStride, const void* src, unsigned long srcStride,
                unsigned long line, unsigned bitsPerSample, unsigned count, bool expand,
                const std::function<void(const char*)>& report) {
    // Line offsets are plain byte offsets, whatever the depth: a 12-bit line of 3 pixels is 5 bytes long.
    const auto* in = static_cast<const unsigned char*>(src) + line * srcStride;
    char* out = static_cast<char*>(dst) + line * dstStride;
    switch (bitsPerSample) {
    case 1:
        for (unsigned i = 0; i < count; ++i)
            out[i] = static_cast<char>((in[i / 8] >> (7 - i % 8)) & 1 ? 0xFF : 0);
        return;
    case 2:
    case 4:
    case 6:
        unpackPacked(reinterpret_cast<std::uint8_t*>(out), in, count, bitsPerSample, expand);
        return;
    case 8:
        std::memcpy(out, in, count);
        return;
    case 10:
    case 12:
    case 14:
        unpackPacked(reinterpret_cast<std::uint16_t*>(out), in, count, bitsPerSample, expand);
        return;
    case 16:
        std::memcpy(out, in, std::size_t(count) * 2);
        return;
    case 24:
        for (unsigned i = 0; i < count; ++i, in += 3, out += 4) {
            const char bytes[4] = {
                static_cast<char>(expand ? in[0] : 0), static_cast<char>(expand ? in[1] : in[0]),
                static_cast<char>(expand ? in[2] : in[1]), static_cast<char>(expand ? 0xFF : in[2])};
            std::memcpy(out, bytes, 4);
        }
        return;
    case 32:
        std::memcpy(out, in, std::size_t(count) * 4);
        return;
    default:
        if (bitsPerSample < 32 && report)
            report("unexpected bits per sample");
        return;
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

unsigned long TifFileDevice::BaseFormat::loadCurrentStrip(unsigned strip) {
    if (!sizeBuffer(TIFFStripSize64(tif), "strip"))
        return 0;
    const tmsize_t n = TIFFReadEncodedStrip(tif, strip, buffer.data(), static_cast<tmsize_t>(buffer.size()));
    if (n <= 0) {
        runtimeError("TIFFReadEncodedStrip failed");
        return 0;
    }
    return static_cast<unsigned long>(n);
}

unsigned long TifFileDevice::BaseFormat::loadCurrentTile(unsigned tile) {
    if (!sizeBuffer(TIFFTileSize64(tif), "tile"))
        return 0;
    const tmsize_t n = TIFFReadEncodedTile(tif, tile, buffer.data(), static_cast<tmsize_t>(buffer.size()));
    if (n <= 0) {
        runtimeError("TIFFReadEncodedTile failed");
        return 0;
    }
    return static_cast<unsigned long>(n);
}

bool TifFileDevice::BaseFormat::loadCurrentStripRGBA(unsigned row) {
    if (!sizeBuffer(std::uint64_t(fields.width) * fields.rowsPerStrip * 4, "RGBA strip"))
        return false;
    auto* raster = reinterpret_cast<std::uint32_t*>(buffer.data());
    if (fields.height <= fields.rowsPerStrip &&
        TIFFReadRGBAImage(tif, fields.width, fields.height, raster, 0) == 0) {
        runtimeError("TIFFReadRGBAImage failed");
        return false;
    }
    if (TIFFReadRGBAStripExt(tif, row, raster, stopOnError) == 0) {
        runtimeError("TIFFReadRGBAStrip failed");
        return false;
    }
    return true;
}

bool TifFileDevice::BaseFormat::loadCurrentTileRGBA(unsigned x, unsigned y) {
    if (!sizeBuffer(std::uint64_t(fields.tileWidth) * fields.tileLength * 4, "RGBA tile"))
        return false;
    auto* raster = reinterpret_cast<std::uint32_t*>(buffer.data());
    if (fields.width <= fields.tileWidth && fields.height <= fields.tileLength &&
        TIFFReadRGBAImage(tif, fields.width, fields.height, raster, 0) == 0) {
        runtimeError("TIFFReadRGBAImage failed");
        return false;
    }
    if (TIFFReadRGBATileExt(tif, x, y, raster, stopOnError) == 0) {
        runtimeError("TIFFReadRGBATile failed");
        return false;
    }
    return true;
}

// ---- Reading strips, tiles and planes

void TifFileDevice::BaseFormat::requireInside(unsigned x, unsigned y, unsigned short plane,
                                              const char* operation) const {
    if (x >= fields.width || y >= fields.height || plane >= planes())
        throw std::invalid_argument("TifFileDevice::BaseFormat::" + std::string(operation) + ": pixel (" +
                                    std::to_string(x) + ", " + std::to_string(y) + ") of plane " +
                                    std::to_string(plane) + " outside the image of " +
                                    std::to_string(fields.width) + " x " + std::to_string(fields.height) +
                                    " pixels and " + std::to_string(planes()) + " planes");
}

unsigned short TifFileDevice::BaseFormat::samplePlane(unsigned short plane) const {
    // Every colour plane of a palette image looks its colour up from the one plane of indexes.
    return fields.photometric == PHOTOMETRIC_PALETTE ? 0 : plane;
}

bool TifFileDevice::BaseFormat::decodesInPlace(unsigned long stride) const {
    const std::uint32_t bits = fields.bitsPerSample, photometric = fields.photometric;
    const bool plainSamples =
        photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
        (photometric == PHOTOMETRIC_RGB && fields.planarConfig == PLANARCONFIG_SEPARATE);
    return plainSamples && !halfFloat && (bits == 8 || bits == 16 || bits == 32) &&
           stride == TIFFScanlineSize64(tif);
}

void TifFileDevice::BaseFormat::readCurrentStrip(void* dst, unsigned long stride, unsigned row,
                                                 unsigned short plane) {
    requireInside(0, row, plane, "readCurrentStrip");
    unsigned rows = std::min(fields.height - row, fields.rowsPerStrip);
    if (rows == 0)
        return;
    if (fields.useRgba) {
        if (loadCurrentStripRGBA(row))
            currentDataRGB(dst, stride, buffer.data(), std::uint64_t(fields.width) * 4, fields.width, rows);
        return;
    }
    const std::uint64_t scanline = TIFFScanlineSize64(tif);
    const unsigned strip = TIFFComputeStrip(tif, row, samplePlane(plane));
    if (decodesInPlace(stride)) {
        // The samples need no conversion: libtiff decodes straight into the caller's rows.
        const std::uint64_t bytes = rows * scanline;
        const tmsize_t n = TIFFReadEncodedStrip(tif, strip, dst, static_cast<tmsize_t>(bytes));
        if (n <= 0) {
            runtimeError("TIFFReadEncodedStrip failed");
            return;
        }
        if (static_cast<std::uint64_t>(n) < bytes)
            runtimeError("TIFFReadEncodedStrip: " + std::to_string(n) + " of " + std::to_string(bytes) +
                         " bytes");
        if (fields.photometric == PHOTOMETRIC_MINISWHITE) {
            auto* bytesOut = static_cast<unsigned char*>(dst);
            for (tmsize_t i = 0; i < n; ++i)
                bytesOut[i] = static_cast<unsigned char>(~bytesOut[i]);
        }
        return;
    }
    const unsigned long n = loadCurrentStrip(strip);
    if (n == 0 || scanline == 0)
        return;
    // A strip that decoded short converts its whole rows only.
    if (n / scanline < rows) {
        runtimeError("TIFFReadEncodedStrip: " + std::to_string(n) + " of " + std::to_string(rows * scanline) +
                     " bytes");
        rows = static_cast<unsigned>(n / scanline);
        if (rows == 0)
            return;
    }
    currentData(dst, stride, buffer.data(), n, scanline, fields.width, rows, plane);
}

void TifFileDevice::BaseFormat::readCurrentTile(void* dst, unsigned long stride, unsigned x, unsigned y,
                                                unsigned short plane) {
    requireInside(x, y, plane, "readCurrentTile");
    const unsigned columns = std::min(fields.width - x, fields.tileWidth);
    unsigned rows = std::min(fields.tileLength, fields.height - y);
    if (columns == 0 || rows == 0)
        return;
    if (fields.useRgba) {
        // The raster is a whole tile, its top row last.
        const std::uint64_t rasterStride = std::uint64_t(fields.tileWidth) * 4;
        if (loadCurrentTileRGBA(x, y))
            currentDataRGB(dst, stride, buffer.data() + (fields.tileLength - rows) * rasterStride,
                           rasterStride, columns, rows);
        return;
    }
    const unsigned long n = loadCurrentTile(TIFFComputeTile(tif, x, y, 0, samplePlane(plane)));
    const std::uint64_t rowBytes = TIFFTileRowSize64(tif);
    if (n == 0 || rowBytes == 0)
        return;
    if (n / rowBytes < rows) {
        runtimeError("TIFFReadEncodedTile: " + std::to_string(n) + " of " + std::to_string(rows * rowBytes) +
                     " bytes");
        rows = static_cast<unsigned>(n / rowBytes);
        if (rows == 0)
            return;
    }
    currentData(dst, stride, buffer.data(), n, rowBytes, columns, rows, plane);
}

void TifFileDevice::BaseFormat::readCurrentImage(void* dst, unsigned long stride, unsigned short plane) {
    char* out = static_cast<char*>(dst);
    const unsigned long rows = height(), columns = width();
    long rowsPerStrip = 0, tileWidth = 0, tileHeight = 0;
    if (isStriped(&rowsPerStrip)) {
        for (unsigned long row = 0; row < rows; row += rowsPerStrip)
            readCurrentStrip(out + row * stride, stride, static_cast<unsigned>(row), plane);
    } else if (isTiled(&tileWidth, &tileHeight)) {
        const unsigned long pixelBytes = componentsPerPixel() * bitsPerComponentStored() / 8;
        for (unsigned long y = 0; y < rows; y += tileHeight)
            for (unsigned long x = 0; x < columns; x += tileWidth)
                readCurrentTile(out + y * stride + x * pixelBytes, stride, static_cast<unsigned>(x),
                                static_cast<unsigned>(y), plane);
    } else if (fields.useRgba) {
        if (!sizeBuffer(std::uint64_t(fields.width) * fields.height * 4, "RGBA image"))
            return;
        if (TIFFReadRGBAImage(tif, fields.width, fields.height,
                              reinterpret_cast<std::uint32_t*>(buffer.data()), 0) != 1) {
            runtimeError("TIFFReadRGBAImage failed");
            return;
        }
        currentDataRGB(dst, stride, buffer.data(), std::uint64_t(fields.width) * 4, fields.width,
                       fields.height);
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
    if (fields.photometric != PHOTOMETRIC_PALETTE)
        return;
    const std::uint32_t bits = fields.bitsPerSample;
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

void TifFileDevice::BaseFormat::currentData(void* dst, unsigned long dstStride, void* src,
                                            unsigned long srcSize, unsigned long srcStride, unsigned width,
                                            unsigned rows, unsigned short plane) {
    if (!dst || dstStride == 0)
        throw std::invalid_argument("TifFileDevice::BaseFormat::currentData got null dst argument");
    if (!src || srcSize == 0 || width == 0 || rows == 0 || std::uint64_t(srcStride) * rows > srcSize)
        throw std::invalid_argument("TifFileDevice::BaseFormat::currentData got null src argument");
    checkPaletteLoaded();
    const std::uint32_t photometric = fields.photometric, planar = fields.planarConfig,
                        spp = fields.samplesPerPixel;
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
    const std::uint32_t bits = fields.bitsPerSample;
    const bool expand = bits <= 8;
    const std::function<void(const char*)> report = [this](const char* message) { runtimeError(message); };
    const auto* in = static_cast<const unsigned char*>(src);
    char* out = static_cast<char*>(dst);

    if (photometric == PHOTOMETRIC_RGB) {
        if (planar == PLANARCONFIG_SEPARATE) {
            for (unsigned r = 0; r < rows; ++r)
                unpackLine(dst, dstStride, src, srcStride, r, bits, width, expand, report);
        } else if (planar == PLANARCONFIG_CONTIG) {
            const unsigned size = elementBytes(bits);
            for (unsigned r = 0; r < rows; ++r) {
                if (bits > 32) {
                    runtimeError("unexpected bits per sample (RGB contig)");
                    continue;
                }
                const char* samples = reinterpret_cast<const char*>(in) + std::uint64_t(r) * srcStride;
                if (bits != 8 && bits != 16 && bits != 32) {
                    line.resize(std::size_t(spp) * width * size);
                    unpackLine(line.data(), 0, samples, 0, 0, bits, spp * width, expand, report);
                    samples = line.data();
                }
                reverseColour(size, out + std::uint64_t(r) * dstStride, samples, width, spp);
            }
        }
        return;
    }
    if (photometric == PHOTOMETRIC_PALETTE) {
        if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE) {
            runtimeError("unknown planarconfig");
            return;
        }
        if (bits > 16)
            return;
        const bool indexed = bits == 2 || bits == 4 || bits == 8 || bits == 16;
        const std::size_t entryBytes = bits <= 8 ? 3 : 6;
        // Without its colour map (reported when it was looked for) a palette image converts nothing.
        if (!indexed || palette.size() != (std::size_t(1) << bits) * entryBytes) {
            if (!indexed)
                for (unsigned r = 0; r < rows; ++r)
                    runtimeError("unexpected bits per sample (palette)");
            return;
        }
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
        return;
    }
    const unsigned count = planar == PLANARCONFIG_CONTIG ? width * spp : width;
    if (bits == 8 || bits == 16 || bits == 32) {
        // Whole samples: each row is a copy.
        const std::size_t rowBytes = std::size_t(count) * (bits / 8);
        for (unsigned r = 0; r < rows; ++r)
            std::memcpy(out + std::uint64_t(r) * dstStride, in + std::uint64_t(r) * srcStride, rowBytes);
        return;
    }
    for (unsigned r = 0; r < rows; ++r)
        unpackLine(dst, dstStride, src, srcStride, r, bits, count, expand, report);
}

} // namespace Zan
