// Differential fuzz target of the C interface's frame reads, over the input format of capi_file_fuzz (one
// byte for the kind of file, then the file). Each of the first frames is fetched into a picture the
// interface sizes, then read again into that picture prefilled with two different byte patterns:
//   - the reads agree on success or failure, and a failed fetch leaves the empty picture empty;
//   - after a success the three results are equal, so that no byte of a result comes from the picture's
//     old contents or from memory nobody wrote;
//   - for a TIFF of one directory whose samples are handed out as libtiff decodes them (8, 16 or 32 bits;
//     grey, white-is-zero or RGB; contiguous or separate; strips or tiles) the result is also libtiff's own
//     decode of the same strips or tiles, packed as the interface packs frames.
// Frames whose pictures, strips or tiles would exceed a few MiB are skipped.

#include <support/FuzzCapi.h>
#include <support/FuzzRequire.h>
#include <support/TiffFixtures.h>

#include <legacy/VkDiagnostics.h>

#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using ZanTest::fuzzRequire;
using Bytes = std::vector<unsigned char>;

constexpr unsigned maxFrames = 4;

Bytes contents(const Zan_Picture& picture) {
    const auto* bytes = static_cast<const unsigned char*>(picture.imageData);
    return Bytes(bytes, bytes + picture.size);
}

struct TiffHandleCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// The frame of a TIFF of one directory as libtiff decodes it, packed into rows of widthBytes bytes (padding
// zero), its pixels blue, green, red for RGB; none for files outside the layouts above. A file libtiff
// cannot decode here, although the interface read it, is a finding.
std::optional<Bytes> libtiffFrame(const std::string& path, const Zan_Picture& picture) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, ZanTest::quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ZanTest::quietHandler, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(ZanTest::kFuzzPictureBytes));
    const std::unique_ptr<TIFF, TiffHandleCloser> handle(TIFFOpenExt(path.c_str(), "rm", options));
    TIFFOpenOptionsFree(options);
    TIFF* tif = handle.get();
    if (!tif || TIFFNumberOfDirectories(tif) != 1)
        return std::nullopt;
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0, tileWidth = 0, tileLength = 0;
    std::uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, format = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1 || photometric > PHOTOMETRIC_RGB ||
        (bits != 8 && bits != 16 && bits != 32) || (format == SAMPLEFORMAT_IEEEFP && bits != 32) ||
        (photometric == PHOTOMETRIC_RGB && samples < 3) || samples == 0)
        return std::nullopt;
    const bool rgb = photometric == PHOTOMETRIC_RGB, separate = planar == PLANARCONFIG_SEPARATE;
    const unsigned components = rgb ? 3 : samples, sampleBytes = bits / 8;
    fuzzRequire(picture.width == width && picture.height == height && picture.components == components);
    fuzzRequire(picture.widthBytes >= std::size_t(width) * components * sampleBytes);
    const bool tiled = TIFFIsTiled(tif) != 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        tileWidth = width;
        tileLength = rowsPerStrip == 0 || rowsPerStrip > height ? height : rowsPerStrip;
    }
    // libtiff's zlib path writes every byte of a Deflate block it reports decoded (its libdeflate path may
    // not, for a stream longer than the block).
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE)
        TIFFSetField(tif, TIFFTAG_DEFLATE_SUBCODEC, DEFLATE_SUBCODEC_ZLIB);
    const std::uint64_t blockBytes = tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    const std::uint64_t rowBytes = tiled ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif);
    if (tileWidth == 0 || tileLength == 0 || blockBytes == 0 || blockBytes > ZanTest::kFuzzPictureBytes)
        return std::nullopt;

    Bytes frame(picture.size, 0);
    Bytes block(static_cast<std::size_t>(blockBytes));
    // Sample k of a pixel (of sample plane k for separate planes) goes to component k, the colour samples of
    // RGB pixels reversed; RGB's further samples are dropped.
    const unsigned planes = separate ? samples : 1, perPixel = separate ? 1 : samples;
    for (unsigned s = 0; s < planes; ++s)
        for (std::uint32_t y = 0; y < height; y += tileLength)
            for (std::uint32_t x = 0; x < width; x += tileWidth) {
                const auto plane = static_cast<std::uint16_t>(s);
                const tmsize_t n =
                    tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, plane), block.data(),
                                                static_cast<tmsize_t>(block.size()))
                          : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, plane), block.data(),
                                                 static_cast<tmsize_t>(block.size()));
                fuzzRequire(n > 0);
                for (std::uint32_t r = 0; r < tileLength && y + r < height; ++r)
                    for (std::uint32_t c = 0; c < tileWidth && x + c < width; ++c)
                        for (unsigned k = 0; k < perPixel; ++k) {
                            const unsigned sample = separate ? s : k;
                            if (rgb && sample >= 3)
                                continue;
                            const unsigned component = rgb ? 2 - sample : sample;
                            const std::uint64_t from =
                                r * rowBytes + (std::uint64_t(c) * perPixel + k) * sampleBytes;
                            fuzzRequire(from + sampleBytes <= static_cast<std::uint64_t>(n));
                            unsigned char* to =
                                &frame[(y + r) * picture.widthBytes +
                                       (std::size_t(x + c) * components + component) * sampleBytes];
                            for (unsigned b = 0; b < sampleBytes; ++b)
                                to[b] = photometric == PHOTOMETRIC_MINISWHITE
                                            ? static_cast<unsigned char>(~block[from + b])
                                            : block[from + b];
                        }
            }
    return frame;
}

void readFrame(Zan_FileHandle file, const std::string& path, bool tiff, unsigned seq) {
    if (!ZanTest::capiSmallFrame(file, seq))
        return;
    Zan_Picture picture{};
    const int first = Zan_FileGetImageData(file, seq, &picture);
    if (first != 0) {
        fuzzRequire(!picture.imageData && picture.size == 0);
        return;
    }
    const Bytes zeroFilled = contents(picture);
    std::memset(picture.imageData, 0xA5, picture.size);
    fuzzRequire(Zan_FileGetImageData(file, seq, &picture) == 0);
    const Bytes a = contents(picture);
    std::memset(picture.imageData, 0x5A, picture.size);
    fuzzRequire(Zan_FileGetImageData(file, seq, &picture) == 0);
    fuzzRequire(contents(picture) == a && a == zeroFilled);
    if (tiff && seq == 0)
        if (const std::optional<Bytes> reference = libtiffFrame(path, picture))
            fuzzRequire(*reference == a);
    Zan_DestroyPicture(&picture);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ZanLegacy::CVkDiagnosticCapture quiet;
    std::string path;
    Zan_FileHandle file = ZanTest::openCapiInput(data, size, path);
    if (!file)
        return 0;
    const unsigned frames = Zan_FileGetSeqCount(file);
    for (unsigned seq = 0; seq < frames && seq < maxFrames; ++seq)
        readFrame(file, path, (data[0] & 1) != 0, seq);
    Zan_FileClose(file);
    return 0;
}
