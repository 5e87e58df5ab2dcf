#pragma once

// TIFF files written with libtiff itself, for tests, benchmarks and fuzz seeds: a fixture is described by
// its properties (photometric, depth, samples, planar configuration, strips or tiles, compression) and
// named after them; its samples follow a pattern, and expectedSample says what the TIFF device must hand
// out for each of them.

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

struct TiffSpec {
    std::uint32_t width = 37;
    std::uint32_t height = 23;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t bits = 8;
    std::uint16_t samples = 1;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t rowsPerStrip = 5; // 0: no ROWSPERSTRIP tag, one strip
    std::uint32_t tileWidth = 0;    // tiles when both are set
    std::uint32_t tileLength = 0;
    int maxSampleValue = -1;  // -1: no MAXSAMPLEVALUE tag
    unsigned paletteSeed = 0; // chooses the colour map of a palette image
    // Sample s of pixel (x, y) as stored, before packing; the default follows a pattern.
    std::function<std::uint64_t(unsigned s, std::uint32_t x, std::uint32_t y)> sample;

    bool tiled() const { return tileWidth != 0 && tileLength != 0; }
};

inline std::uint64_t sampleMask(unsigned bits) {
    return bits >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << bits) - 1;
}

// The stored value of a sample: the fixture's own pattern, or one that spreads over the whole depth. 16-bit
// float patterns stay finite (exponent below 31).
inline std::uint64_t storedSample(const TiffSpec& spec, unsigned s, std::uint32_t x, std::uint32_t y) {
    if (spec.sample)
        return spec.sample(s, x, y) & sampleMask(spec.bits);
    if (spec.sampleFormat == SAMPLEFORMAT_IEEEFP) {
        const float value =
            static_cast<float>(x) + 0.25f * static_cast<float>(y) + 100.0f * static_cast<float>(s);
        if (spec.bits == 16)
            return (x * 613u + y * 97u + s * 2000u) & 0x7BFFu;
        std::uint32_t bits32 = 0;
        std::memcpy(&bits32, &value, 4);
        return bits32;
    }
    const std::uint64_t v = x * 7u + y * 131u + s * 1009u + 3u;
    const std::uint64_t spread = v * 2654435761u >> 7;
    return (spec.bits <= 8 ? v : spread ^ v) & sampleMask(spec.bits);
}

// Colour map entry i: red, green and blue as 16-bit values; seed picks one of several maps.
inline std::uint16_t colourMap(unsigned channel, std::uint32_t i, unsigned seed = 0) {
    return static_cast<std::uint16_t>((i * (channel * 2 + 37u) + channel * 1000u + 11u + seed * 7u) * 257u);
}

inline std::string compressionName(std::uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return "none";
    case COMPRESSION_LZW:
        return "lzw";
    case COMPRESSION_ADOBE_DEFLATE:
        return "deflate";
    default:
        return "c" + std::to_string(compression);
    }
}

// "rgb-16b-planar-tiles-lzw", "palette-4b-strips-none", ...
inline std::string fixtureName(const TiffSpec& spec) {
    std::string kind;
    switch (spec.photometric) {
    case PHOTOMETRIC_MINISWHITE:
        kind = "white";
        break;
    case PHOTOMETRIC_MINISBLACK:
        kind = spec.sampleFormat == SAMPLEFORMAT_IEEEFP ? "float"
               : spec.sampleFormat == SAMPLEFORMAT_INT  ? "int"
                                                        : "gray";
        break;
    case PHOTOMETRIC_RGB:
        kind = spec.samples == 4 ? "rgba" : "rgb";
        if (spec.sampleFormat == SAMPLEFORMAT_INT)
            kind += "int";
        break;
    case PHOTOMETRIC_PALETTE:
        kind = "palette";
        break;
    case PHOTOMETRIC_SEPARATED:
        kind = "cmyk";
        break;
    default:
        kind = "photometric" + std::to_string(spec.photometric);
    }
    std::string name = kind + "-" + std::to_string(spec.bits) + "b";
    if (spec.photometric <= PHOTOMETRIC_MINISBLACK && spec.samples > 1)
        name += "-" + std::to_string(spec.samples) + "s";
    if (spec.planar == PLANARCONFIG_SEPARATE)
        name += "-planar";
    if (spec.maxSampleValue >= 0)
        name += "-max" + std::to_string(spec.maxSampleValue);
    name += spec.tiled() ? "-tiles" : "-strips";
    return name + "-" + compressionName(spec.compression);
}

// Packs samples most significant bit first (16-, 32- and 64-bit samples in the machine's order, which is
// the order libtiff writes the file in).
class BitWriter {
public:
    explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
    void put(std::uint64_t value, unsigned bits) {
        if (bits == 16 || bits == 32 || bits == 64) {
            const std::size_t at = out_.size();
            out_.resize(at + bits / 8);
            std::memcpy(out_.data() + at, &value, bits / 8); // little endian
            return;
        }
        if (bits == 24) {
            for (int i = 0; i < 3; ++i)
                out_.push_back(static_cast<unsigned char>(value >> (8 * i)));
            return;
        }
        for (unsigned i = bits; i-- > 0;) {
            if (bit_ == 0)
                out_.push_back(0);
            if ((value >> i) & 1)
                out_.back() |= static_cast<unsigned char>(0x80 >> bit_);
            bit_ = (bit_ + 1) % 8;
        }
    }
    // Lines begin on a byte.
    void endLine() { bit_ = 0; }

private:
    std::vector<unsigned char>& out_;
    unsigned bit_ = 0;
};

// Bytes of rows [y0, y0 + rows) of pixels [x0, x0 + columns) as libtiff expects them for a strip or tile;
// sample plane s of a separate image, all samples of a contiguous one (s ignored). Pixels beyond the image
// are zero; each row is padded to rowBytes.
inline std::vector<unsigned char> encodeBlock(const TiffSpec& spec, unsigned s, std::uint32_t x0,
                                              std::uint32_t y0, std::uint32_t columns, std::uint32_t rows,
                                              std::size_t rowBytes) {
    std::vector<unsigned char> bytes;
    bytes.reserve(rowBytes * rows);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::size_t start = bytes.size();
        BitWriter writer(bytes);
        const std::uint32_t y = y0 + r;
        for (std::uint32_t c = 0; c < columns; ++c) {
            const std::uint32_t x = x0 + c;
            const bool inside = x < spec.width && y < spec.height;
            if (spec.planar == PLANARCONFIG_SEPARATE) {
                writer.put(inside ? storedSample(spec, s, x, y) : 0, spec.bits);
            } else {
                for (unsigned k = 0; k < spec.samples; ++k)
                    writer.put(inside ? storedSample(spec, k, x, y) : 0, spec.bits);
            }
        }
        writer.endLine();
        bytes.resize(start + rowBytes, 0);
    }
    return bytes;
}

inline int quietHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// A libtiff handle over path in mode ("r", "rm", "w", ...) with libtiff's messages dropped; null when
// libtiff cannot open it.
inline TIFF* openTiff(const std::string& path, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quietHandler, nullptr);
    TIFF* tif = TIFFOpenExt(path.c_str(), mode, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

// A handle for writing path; std::runtime_error when it fails.
inline TIFF* createTiff(const std::string& path) {
    TIFF* tif = openTiff(path, "w");
    if (!tif)
        throw std::runtime_error("cannot create " + path);
    return tif;
}

// The tags and the strips or tiles of the fixture, in the directory being written (the caller writes the
// directory and closes the handle); std::runtime_error when libtiff refuses something.
inline void writeTiffPage(TIFF* tif, const TiffSpec& spec) {
    auto fail = [&](const std::string& what) { throw std::runtime_error(fixtureName(spec) + ": " + what); };
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, spec.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, spec.planar);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spec.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, spec.sampleFormat);
    if (TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.compression) != 1)
        fail("compression");
    if (spec.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    const unsigned colourSamples = spec.photometric == PHOTOMETRIC_RGB         ? 3
                                   : spec.photometric == PHOTOMETRIC_SEPARATED ? 4
                                                                               : 1;
    if (spec.samples > colourSamples) {
        const std::vector<std::uint16_t> extra(spec.samples - colourSamples, EXTRASAMPLE_UNASSALPHA);
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(extra.size()), extra.data());
    }
    if (spec.maxSampleValue >= 0)
        TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, spec.maxSampleValue);
    if (spec.photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t n = std::size_t(1) << spec.bits;
        std::vector<std::uint16_t> r(n), g(n), b(n);
        for (std::size_t i = 0; i < n; ++i) {
            r[i] = colourMap(0, static_cast<std::uint32_t>(i), spec.paletteSeed);
            g[i] = colourMap(1, static_cast<std::uint32_t>(i), spec.paletteSeed);
            b[i] = colourMap(2, static_cast<std::uint32_t>(i), spec.paletteSeed);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    const unsigned planes = spec.planar == PLANARCONFIG_SEPARATE ? spec.samples : 1;
    if (spec.tiled()) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, spec.tileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, spec.tileLength);
        const std::size_t rowBytes = static_cast<std::size_t>(TIFFTileRowSize64(tif));
        for (unsigned s = 0; s < planes; ++s)
            for (std::uint32_t y = 0; y < spec.height; y += spec.tileLength)
                for (std::uint32_t x = 0; x < spec.width; x += spec.tileWidth) {
                    auto block = encodeBlock(spec, s, x, y, spec.tileWidth, spec.tileLength, rowBytes);
                    if (TIFFWriteEncodedTile(tif,
                                             TIFFComputeTile(tif, x, y, 0, static_cast<std::uint16_t>(s)),
                                             block.data(), static_cast<tmsize_t>(block.size())) < 0)
                        fail("tile");
                }
    } else {
        const std::uint32_t rps = spec.rowsPerStrip == 0 ? spec.height : spec.rowsPerStrip;
        if (spec.rowsPerStrip != 0)
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, spec.rowsPerStrip);
        const std::size_t rowBytes = static_cast<std::size_t>(TIFFScanlineSize64(tif));
        for (unsigned s = 0; s < planes; ++s)
            for (std::uint32_t y = 0; y < spec.height; y += rps) {
                const std::uint32_t rows = std::min(rps, spec.height - y);
                auto block = encodeBlock(spec, s, 0, y, spec.width, rows, rowBytes);
                if (TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y, static_cast<std::uint16_t>(s)),
                                          block.data(), static_cast<tmsize_t>(block.size())) < 0)
                    fail("strip");
            }
    }
}

// Writes the fixture to path with libtiff; std::runtime_error when libtiff refuses something.
inline void writeTiff(const std::string& path, const TiffSpec& spec) {
    TIFF* tif = createTiff(path);
    try {
        writeTiffPage(tif, spec);
        if (TIFFWriteDirectory(tif) != 1)
            throw std::runtime_error(fixtureName(spec) + ": directory");
    } catch (...) {
        TIFFClose(tif);
        throw;
    }
    TIFFClose(tif);
}

inline std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Layout the device presents for a fixture.
struct TiffLayout {
    long components;
    long planes;
    long bitsStored;
    bool colour;
    bool rgba;
};

inline TiffLayout presentedLayout(const TiffSpec& spec) {
    const bool rgba = spec.photometric > PHOTOMETRIC_PALETTE;
    const bool colour = spec.photometric > PHOTOMETRIC_MINISBLACK;
    const long bits = spec.sampleFormat == SAMPLEFORMAT_IEEEFP ? 32 : spec.bits;
    const long stored = rgba || bits <= 8 ? 8 : bits <= 16 ? 16 : 32;
    if (rgba)
        return {3, 1, 8, true, true};
    if (spec.planar == PLANARCONFIG_SEPARATE)
        return {1, colour ? 3 : long(spec.samples), stored, colour, false};
    return {colour ? 3 : long(spec.samples), 1, stored, colour, false};
}

// Depths below 8 bits are scaled to the byte; 24-bit samples come in the high bytes of 32.
inline std::uint64_t expandedSample(const TiffSpec& spec, std::uint64_t v) {
    switch (spec.bits) {
    case 1:
        return v ? 255 : 0;
    case 2:
    case 4:
    case 6:
        return v << (8 - spec.bits) | ((1u << (8 - spec.bits)) - 1);
    case 24:
        return v << 8;
    default:
        return v;
    }
}

// A signed sample of bits bits as the two's-complement value of the element it is handed out in.
inline std::uint64_t signExtended(std::uint64_t v, unsigned bits, long elementBits) {
    const std::uint64_t element = sampleMask(static_cast<unsigned>(elementBits));
    return (v >> (bits - 1)) & 1 ? (v | ~sampleMask(bits)) & element : v;
}

// What the device hands out for component k of pixel (x, y) of plane p: colour pixels blue, green, red;
// palette entries the high bytes of the colour map (8-bit indexes) or the whole words (16-bit);
// white-is-zero complemented; CMYK through libtiff's RGBA conversion; signed samples sign-extended, never
// scaled.
inline std::uint64_t expectedSample(const TiffSpec& spec, long p, long x, long y, long k,
                                    const std::function<std::uint32_t(std::uint16_t)>& widenHalf) {
    const auto ux = static_cast<std::uint32_t>(x), uy = static_cast<std::uint32_t>(y);
    const TiffLayout layout = presentedLayout(spec);
    if (layout.rgba) {
        // libtiff: k' = 255 - K, channel = k' * (255 - ink) / 255.
        const std::uint64_t black = 255 - storedSample(spec, 3, ux, uy);
        const unsigned ink = static_cast<unsigned>(2 - k); // blue first
        return black * (255 - storedSample(spec, ink, ux, uy)) / 255;
    }
    if (spec.photometric == PHOTOMETRIC_PALETTE) {
        const auto index = static_cast<std::uint32_t>(storedSample(spec, 0, ux, uy));
        const unsigned channel =
            spec.planar == PLANARCONFIG_SEPARATE ? static_cast<unsigned>(p) : static_cast<unsigned>(2 - k);
        const std::uint16_t entry = colourMap(channel, index, spec.paletteSeed);
        return spec.bits <= 8 ? entry >> 8 : entry;
    }
    unsigned s = 0;
    if (spec.planar == PLANARCONFIG_SEPARATE)
        s = static_cast<unsigned>(p);
    else
        s = static_cast<unsigned>(layout.colour ? 2 - k : k);
    std::uint64_t v = storedSample(spec, s, ux, uy);
    if (spec.sampleFormat == SAMPLEFORMAT_IEEEFP)
        return spec.bits == 16 ? widenHalf(static_cast<std::uint16_t>(v)) : v;
    if (spec.sampleFormat == SAMPLEFORMAT_INT)
        return signExtended(v, spec.bits, layout.bitsStored);
    if (spec.photometric == PHOTOMETRIC_MINISWHITE)
        v = ~v & sampleMask(spec.bits);
    return expandedSample(spec, v);
}

} // namespace ZanTest
