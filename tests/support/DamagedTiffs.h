#pragma once

// Damaged TIFF files for the tests of failing frame reads. The blocks (strips or tiles) of a fixture that
// libtiff wrote are laid out again behind their directory, so that cutting the file's tail cuts blocks, not
// the directory; each damaged file says which of its blocks cannot be decoded, and expectedFrame gives the
// frame a quiet read hands out (zeros in those blocks).

#include <support/TempDir.h>
#include <support/TiffFixtures.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ZanTest {

// A single-directory TIFF whose directory comes right after the header and whose blocks follow it.
struct FlatTiff {
    std::vector<char> bytes;
    std::vector<std::uint64_t> offsets, counts; // of each block
    std::size_t offsetsAt = 0, countsAt = 0;    // where the u32 arrays of offsets and byte counts lie
};

struct FlatDirectory {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    std::uint32_t rowsPerStrip = 0, tileWidth = 0, tileLength = 0; // tiles when tileWidth is set
};

inline FlatTiff layOutTiff(const FlatDirectory& d, const std::vector<std::vector<char>>& blocks) {
    const bool tiled = d.tileWidth != 0;
    const auto n = static_cast<std::uint32_t>(blocks.size());
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    constexpr std::uint16_t SHORT = 3, LONG = 4;
    std::vector<Entry> entries = {{256, LONG, 1, d.width},
                                  {257, LONG, 1, d.height},
                                  {258, SHORT, 1, d.bits},
                                  {259, SHORT, 1, d.compression},
                                  {262, SHORT, 1, d.photometric}};
    if (!tiled)
        entries.push_back({273, LONG, n, 0});
    entries.push_back({277, SHORT, 1, d.samples});
    if (!tiled) {
        entries.push_back({278, LONG, 1, d.rowsPerStrip});
        entries.push_back({279, LONG, n, 0});
    }
    entries.push_back({284, SHORT, 1, d.planar});
    if (tiled) {
        entries.push_back({322, LONG, 1, d.tileWidth});
        entries.push_back({323, LONG, 1, d.tileLength});
        entries.push_back({324, LONG, n, 0});
        entries.push_back({325, LONG, n, 0});
    }
    entries.push_back({339, SHORT, 1, d.sampleFormat});

    FlatTiff out;
    const std::size_t ifdEnd = 8 + 2 + 12 * entries.size() + 4;
    // Arrays of more than one value lie behind the directory, then the blocks.
    const std::size_t arrays = n > 1 ? ifdEnd : 0;
    out.offsetsAt = n > 1 ? arrays : 0;
    out.countsAt = n > 1 ? arrays + 4 * n : 0;
    std::uint64_t at = n > 1 ? arrays + 8 * n : ifdEnd;
    for (const auto& block : blocks) {
        out.offsets.push_back(at);
        out.counts.push_back(block.size());
        at += block.size();
    }
    std::vector<char>& b = out.bytes;
    auto put16 = [&](std::uint16_t v) { b.insert(b.end(), {char(v & 0xFF), char(v >> 8)}); };
    auto put32 = [&](std::uint64_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<char>(v >> (8 * i)));
    };
    b = {'I', 'I', 42, 0};
    put32(8);
    put16(static_cast<std::uint16_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Entry e = entries[i];
        const bool offsets = e.tag == 273 || e.tag == 324, counts = e.tag == 279 || e.tag == 325;
        if (offsets || counts) {
            if (n > 1)
                e.value = static_cast<std::uint32_t>(offsets ? out.offsetsAt : out.countsAt);
            else
                e.value = static_cast<std::uint32_t>(offsets ? out.offsets[0] : out.counts[0]);
            // A single value lies in the entry itself.
            if (n == 1)
                (offsets ? out.offsetsAt : out.countsAt) = 8 + 2 + 12 * i + 8;
        }
        put16(e.tag);
        put16(e.type);
        put32(e.count);
        if (e.type == SHORT && e.count == 1) {
            put16(static_cast<std::uint16_t>(e.value));
            put16(0);
        } else {
            put32(e.value);
        }
    }
    put32(0);
    if (n > 1) {
        for (std::uint64_t o : out.offsets)
            put32(o);
        for (std::uint64_t c : out.counts)
            put32(c);
    }
    for (const auto& block : blocks)
        b.insert(b.end(), block.begin(), block.end());
    return out;
}

// The fixture's blocks as libtiff encoded them, laid out behind their directory.
inline FlatTiff flatTiff(const TiffSpec& spec) {
    TempDir dir;
    const std::string path = dir.file("blocks.tif");
    writeTiff(path, spec);
    TIFF* tif = openTiff(path, "r");
    if (!tif)
        throw std::runtime_error("flatTiff: libtiff cannot read " + path);
    const bool tiled = TIFFIsTiled(tif) != 0;
    const std::uint32_t n = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::vector<std::vector<char>> blocks;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::vector<char> block(static_cast<std::size_t>(TIFFGetStrileByteCount(tif, i)));
        const tmsize_t size = static_cast<tmsize_t>(block.size());
        if ((tiled ? TIFFReadRawTile(tif, i, block.data(), size)
                   : TIFFReadRawStrip(tif, i, block.data(), size)) != size)
            throw std::runtime_error("flatTiff: block " + std::to_string(i));
        blocks.push_back(std::move(block));
    }
    TIFFClose(tif);
    FlatDirectory d;
    d.width = spec.width;
    d.height = spec.height;
    d.bits = spec.bits;
    d.samples = spec.samples;
    d.photometric = spec.photometric;
    d.planar = spec.planar;
    d.sampleFormat = spec.sampleFormat;
    d.compression = spec.compression;
    d.rowsPerStrip = spec.rowsPerStrip == 0 ? spec.height : spec.rowsPerStrip;
    d.tileWidth = spec.tileWidth;
    d.tileLength = spec.tileLength;
    return layOutTiff(d, blocks);
}

struct DamagedTiff {
    std::string name;
    TiffSpec spec; // what the blocks that still decode hold
    std::vector<char> bytes;
    std::vector<bool> damaged; // per block
};

inline void put32At(std::vector<char>& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// Blocks that do not lie wholly inside the file, and those listed, are damaged.
inline DamagedTiff damagedTiff(std::string name, const TiffSpec& spec, const FlatTiff& flat,
                               std::vector<char> bytes, const std::vector<std::size_t>& broken = {}) {
    DamagedTiff d{std::move(name), spec, std::move(bytes), {}};
    for (std::size_t i = 0; i < flat.offsets.size(); ++i) {
        bool listed = false;
        for (std::size_t b : broken)
            listed = listed || b == i;
        d.damaged.push_back(listed || flat.offsets[i] + flat.counts[i] > d.bytes.size());
    }
    return d;
}

// 64 x 64 16-bit grey frames (and one 8-bit RGB frame) with cut strips and tiles, a strip offset past the
// end, failed Deflate and LZW blocks, and a frame of 1500 x 1000 pixels in some 200 bytes.
inline std::vector<DamagedTiff> damagedTiffs() {
    TiffSpec gray;
    gray.width = gray.height = 64;
    gray.bits = 16;
    gray.rowsPerStrip = 8;
    TiffSpec tiled = gray;
    tiled.tileWidth = tiled.tileLength = 16;
    TiffSpec deflate = gray;
    deflate.compression = COMPRESSION_ADOBE_DEFLATE;
    TiffSpec lzwTiles = tiled;
    lzwTiles.compression = COMPRESSION_LZW;
    TiffSpec rgb = gray;
    rgb.bits = 8;
    rgb.photometric = PHOTOMETRIC_RGB;
    rgb.samples = 3;
    rgb.compression = COMPRESSION_ADOBE_DEFLATE;

    std::vector<DamagedTiff> out;
    const FlatTiff strips = flatTiff(gray);
    out.push_back(damagedTiff("cut_strips", gray, strips,
                              {strips.bytes.begin(), strips.bytes.begin() + long(strips.offsets[5] + 300)}));
    const FlatTiff tiles = flatTiff(tiled);
    out.push_back(damagedTiff("cut_tiles", tiled, tiles,
                              {tiles.bytes.begin(), tiles.bytes.begin() + long(tiles.offsets[9] + 100)}));
    std::vector<char> beyond = strips.bytes;
    put32At(beyond, strips.offsetsAt + 4 * 2, static_cast<std::uint32_t>(beyond.size() + 1000));
    out.push_back(damagedTiff("strip_offset_past_the_end", gray, strips, beyond, {2}));
    std::vector<char> longCount = strips.bytes;
    put32At(longCount, strips.countsAt + 4 * 7, static_cast<std::uint32_t>(strips.counts[7] + 1));
    out.push_back(damagedTiff("last_strip_count_past_the_end", gray, strips, longCount, {7}));

    // A damaged zlib header, and LZW codes that name no table entry.
    const FlatTiff zipped = flatTiff(deflate);
    std::vector<char> badZip = zipped.bytes;
    badZip[zipped.offsets[3]] = badZip[zipped.offsets[3] + 1] = static_cast<char>(0xFF);
    out.push_back(damagedTiff("failed_deflate_strip", deflate, zipped, badZip, {3}));
    const FlatTiff lzw = flatTiff(lzwTiles);
    std::vector<char> badLzw = lzw.bytes;
    for (std::uint64_t i = 0; i < lzw.counts[5]; ++i)
        badLzw[lzw.offsets[5] + i] = static_cast<char>(0xFF);
    out.push_back(damagedTiff("failed_lzw_tile", lzwTiles, lzw, badLzw, {5}));
    const FlatTiff colour = flatTiff(rgb);
    std::vector<char> badColour = colour.bytes;
    badColour[colour.offsets[1]] = badColour[colour.offsets[1] + 1] = static_cast<char>(0xFF);
    out.push_back(damagedTiff("failed_deflate_rgb_strip", rgb, colour, badColour, {1}));

    // One strip of 1.5 MB claimed by 50 bytes of data (libtiff chops it into strips of a few rows).
    FlatDirectory huge;
    huge.width = 1500;
    huge.height = 1000;
    huge.rowsPerStrip = huge.height;
    TiffSpec hugeSpec;
    hugeSpec.width = huge.width;
    hugeSpec.height = huge.height;
    hugeSpec.rowsPerStrip = 0;
    const FlatTiff absurd = layOutTiff(huge, {std::vector<char>(50, 7)});
    DamagedTiff d{"absurd_dimensions", hugeSpec, absurd.bytes, {true}};
    out.push_back(d);
    return out;
}

// The frame a quiet read of the file hands out, packed with rows stride bytes apart (padding zero): zeros
// in every damaged block. Files of one plane of contiguous samples only.
inline std::vector<unsigned char> expectedFrame(const DamagedTiff& d, std::size_t stride) {
    const TiffSpec& spec = d.spec;
    const TiffLayout layout = presentedLayout(spec);
    const std::size_t sampleBytes = static_cast<std::size_t>(layout.bitsStored / 8);
    std::vector<unsigned char> frame(stride * spec.height, 0);
    const std::uint32_t across = spec.tiled() ? (spec.width + spec.tileWidth - 1) / spec.tileWidth : 1;
    for (std::uint32_t y = 0; y < spec.height; ++y)
        for (std::uint32_t x = 0; x < spec.width; ++x) {
            const std::size_t block = spec.tiled() ? (y / spec.tileLength) * across + x / spec.tileWidth
                                      : spec.rowsPerStrip == 0 ? 0
                                                               : y / spec.rowsPerStrip;
            if (d.damaged[block])
                continue;
            for (long k = 0; k < layout.components; ++k) {
                const std::uint64_t v = expectedSample(spec, 0, x, y, k, {});
                std::memcpy(&frame[y * stride + (x * layout.components + std::size_t(k)) * sampleBytes], &v,
                            sampleBytes);
            }
        }
    return frame;
}

} // namespace ZanTest
