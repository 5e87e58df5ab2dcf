#pragma once

// What libtiff itself sees in a file the TIFF device wrote.

#include <support/TiffFixtures.h>

#include <tiff/TifFileDevice.h>
#include <tiff/detail/TifFileDeviceImpl.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

inline TIFF* openQuietly(const std::string& path) {
    TIFF* tif = openTiff(path, "r");
    if (!tif)
        throw std::runtime_error("libtiff cannot open " + path);
    return tif;
}

struct TiffTags {
    long tileWidth = 0, tileLength = 0, rowsPerStrip = 0;
    int photometric = -1, compression = -1, sampleFormat = -1;
    std::vector<unsigned char> firstPixel; // the bytes of pixel (0, 0) as stored
};

inline TiffTags readTags(const std::string& path) {
    TIFF* tif = openQuietly(path);
    TiffTags tags;
    std::uint32_t v32 = 0;
    std::uint16_t v16 = 0;
    if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &v32) == 1)
        tags.tileWidth = v32;
    if (TIFFGetField(tif, TIFFTAG_TILELENGTH, &v32) == 1)
        tags.tileLength = v32;
    if (!TIFFIsTiled(tif) && TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &v32) == 1)
        tags.rowsPerStrip = v32;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &v16) == 1)
        tags.photometric = v16;
    if (TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &v16) == 1)
        tags.compression = v16;
    if (TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &v16) == 1)
        tags.sampleFormat = v16;
    const tmsize_t size = TIFFIsTiled(tif) ? TIFFTileSize(tif) : TIFFStripSize(tif);
    std::vector<unsigned char> block(static_cast<size_t>(size));
    const tmsize_t n = TIFFIsTiled(tif) ? TIFFReadEncodedTile(tif, 0, block.data(), size)
                                        : TIFFReadEncodedStrip(tif, 0, block.data(), size);
    if (n > 0)
        tags.firstPixel.assign(block.begin(), block.begin() + std::min<tmsize_t>(n, 16));
    TIFFClose(tif);
    return tags;
}

// The strips of every directory of a striped file, decoded one after the other.
inline std::vector<std::vector<char>> readPages(const std::string& path) {
    TIFF* tif = openQuietly(path);
    std::vector<std::vector<char>> pages;
    do {
        std::vector<char> page;
        const tmsize_t size = TIFFStripSize(tif);
        std::vector<char> strip(static_cast<size_t>(size));
        for (std::uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
            const tmsize_t n = TIFFReadEncodedStrip(tif, s, strip.data(), size);
            if (n > 0)
                page.insert(page.end(), strip.begin(), strip.begin() + n);
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif) == 1);
    TIFFClose(tif);
    return pages;
}

} // namespace ZanTest
