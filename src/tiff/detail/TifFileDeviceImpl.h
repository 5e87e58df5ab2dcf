#pragma once

// Internals of the TIFF device: the implementation object, the format object of one opened TIFF with its
// pixel conversion, and the frame image-data device.

#include <tiff/TifFileDevice.h>

#include <io/DefaultInitAllocator.h>
#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <metadata/detail/FrameCoordinates.h>

#include <nlohmann/json.hpp>

#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// Closes a libtiff handle; the byte device under it is closed by its owner.
struct TiffHandleCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffHandleCloser>;

// Tag values of one directory. Tags that libtiff delivers as 16-bit numbers are fetched into 16-bit
// variables and widened into these members.
struct ZAN_HIDDEN TifFileDevice::Fields {
    bool tagsPending = false; // the tags of a write are not yet applied to the handle
    bool isRgb = false;       // photometric above 1: presented as three colour components
    bool useRgba = false;     // photometric above 3: decoded through libtiff's RGBA interface
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerSample = 0;  // 32 for every floating-point file (16-bit ones are widened)
    std::uint32_t maxSampleValue = 0; // 0 when absent
    std::uint32_t sampleFormat = 0;   // 1 unsigned integer, 3 IEEE float
    std::uint32_t samplesPerPixel = 0;
    std::uint32_t planarConfig = 0; // 1 contiguous, 2 separate
    std::uint32_t photometric = 0;
    std::uint32_t tileWidth = 0;    // 0 when striped
    std::uint32_t tileLength = 0;   // 0 when striped
    std::uint32_t rowsPerStrip = 0; // 0 when tiled; never above height
    std::uint32_t compression = 0;
};

// The format object of one opened TIFF: the tags of its directory, the directory cursor, the strip or tile
// buffer, the palette and the loop-index table. Its virtual operations are the seam a format with more
// frames than directories overrides; readCurrentStrip, readCurrentTile and readCurrentImage are the pixel
// conversion such a format reuses after it has chosen its directory.
class ZAN_HIDDEN TifFileDevice::BaseFormat {
public:
    using json = nlohmann::json;
    // The most bytes one strip, tile or RGBA raster may decode into: larger blocks are reported, not
    // allocated. A legitimate block is a fraction of the frame that holds it.
    static constexpr std::uint64_t maxBlockBytes = std::uint64_t(1) << 30;

    // For a writable byte device an empty format awaiting setAttributes; otherwise the current directory's
    // tags, or std::runtime_error naming the tag or value that cannot be used.
    static std::unique_ptr<BaseFormat> create(TIFF* tif);
    explicit BaseFormat(TIFF* tif);
    BaseFormat(const BaseFormat&) = delete;
    BaseFormat& operator=(const BaseFormat&) = delete;
    virtual ~BaseFormat();

    // ---- Virtual operations; their order is the seam's layout.
    virtual bool isTiled(long* tileWidth, long* tileHeight) const;
    virtual bool isStriped(long* rowsPerStrip) const;
    virtual IoImageDataDevice::DataFormat dataFormat() const;
    virtual IoImageDataDevice::Interpretation interpretation() const;
    virtual long width() const;
    virtual long height() const;
    virtual long bitsPerComponentUsed() const;
    virtual long bitsPerComponentStored() const;
    virtual long componentsPerPixel() const;
    virtual long planes() const;
    virtual void readPlane(unsigned seqIndex, unsigned plane, void* dst, unsigned long stride);
    virtual void readTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y, void* dst,
                          unsigned long stride);
    virtual void readStrip(unsigned seqIndex, unsigned plane, unsigned row, void* dst, unsigned long stride);
    virtual void writePlane(unsigned seqIndex, unsigned plane, const void* src, unsigned long stride);
    virtual void writeTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y, const void* src,
                           unsigned long stride);
    virtual void writeStrip(unsigned seqIndex, unsigned plane, unsigned row, const void* src,
                            unsigned long stride);
    // The frames and their coordinates: one frame without coordinates for a plain TIFF.
    virtual const JsonMetadata::FrameCoordinates& frameCoordinates();
    virtual json attributes();
    virtual void setAttributes(const json& attributes);
    virtual ByteVector customData(const std::string& name);
    virtual ByteVector customData(const std::string& name, unsigned seqIndex);
    virtual json customMetadata(const std::string& name);
    virtual json customMetadata(const std::string& name, unsigned seqIndex);
    virtual json experiment();
    virtual json frameMetadata(unsigned seqIndex, const std::string& jsonPointer);
    virtual json metadata();
    virtual void setMetadata(const json& metadata);
    virtual json rawMetadata();
    virtual json textInfo();

    // ---- Shared with other formats.
    // Selects directory seqIndex before a read or write: reads may select any directory the format knows,
    // writes also the next one (which finishes the directory being written and starts a new one with the
    // same tags). Anything else throws std::logic_error; an index above 65535 never wraps.
    void setCurrentDirectory(unsigned seqIndex);
    // The legacy attributes object of the geometry operations.
    json makeAttributes(unsigned sequenceCount) const;
    // Throws std::runtime_error(message) when stop-on-error is set; otherwise returns.
    void runtimeError(const std::string& message) const;
    // Applies tags made pending by setAttributes or setMetadata to the handle's current directory.
    void applyPendingTags();
    void setStopOnError(bool stop) { stopOnError = stop; }
    const Fields& tagFields() const { return fields; }
    // The byte device libtiff works on.
    IoDevice* byteDevice() const;
    // True when a format over the handle is made for writing: its byte device was opened to write.
    static bool isWritableHandle(TIFF* tif);

    // ---- Pixel conversion (reads of the selected directory, with its own strips or tiles). dst receives the
    // strip's first row or the tile's top-left pixel; rows are stride bytes apart, components as
    // componentsPerPixel() and bitsPerComponentStored() say, colour pixels blue, green, red. Every pixel byte
    // of the strip, tile, region or plane is written: a pixel that cannot be decoded is reported (thrown
    // under stop-on-error) and, when the read goes on, written as zero.
    void readCurrentStrip(void* dst, unsigned long stride, unsigned row, unsigned short plane);
    void readCurrentTile(void* dst, unsigned long stride, unsigned x, unsigned y, unsigned short plane);
    void readCurrentImage(void* dst, unsigned long stride, unsigned short plane);
    // Pixels [x, x + columns) of rows [y, y + rows), read through whichever strips or tiles of the selected
    // directory hold them; dst receives pixel (x, y).
    void readCurrentRegion(void* dst, unsigned long stride, unsigned x, unsigned y, unsigned columns,
                           unsigned rows, unsigned short plane);
    // Converts rows x width pixels of decoded data of srcSize bytes, rows srcStride bytes apart; false after
    // a reported failure, when no row is converted.
    bool currentData(void* dst, unsigned long dstStride, void* src, unsigned long srcSize,
                     unsigned long srcStride, unsigned width, unsigned rows, unsigned short plane);
    // RGBA raster rows, bottom-up as libtiff fills them (raster row rows - 1 is the top row), to blue,
    // green, red rows.
    void currentDataRGB(void* dst, unsigned long dstStride, const void* src, unsigned long srcStride,
                        unsigned width, unsigned rows);
    void checkPaletteLoaded();

    // ---- Writing of the selected directory.
    void writeCurrentImage(const void* src, unsigned long stride, unsigned short plane);
    void writeCurrentStrip(const void* src, unsigned long stride, unsigned row, unsigned short plane);
    void writeCurrentTile(const void* src, unsigned long stride, unsigned x, unsigned y,
                          unsigned short plane);

protected:
    // The tags of the handle's current directory, or std::runtime_error naming the tag or value that cannot
    // be used; *halfFloat tells whether its floats are 16-bit ones (widened on reading).
    Fields readDirectoryFields(bool* halfFloat) const;
    // The public attributes document of a raw-metadata document of this format.
    json attributesOf(const json& rawMetadata) const;
    // Decodes one strip (of decodedBytes bytes) or tile into buffer; the byte count, 0 after a reported
    // failure.
    unsigned long loadCurrentStrip(unsigned strip, std::uint64_t decodedBytes);
    unsigned long loadCurrentTile(unsigned tile);
    // libtiff's decode of strip or tile `block` into dst (size bytes, of which the block fills decodedBytes);
    // its result.
    tmsize_t decodeBlock(bool tile, unsigned block, void* dst, std::uint64_t size,
                         std::uint64_t decodedBytes);
    // RGBA raster of the strip that begins at row, or of the tile at (x, y), into buffer; false after a
    // reported failure.
    bool loadCurrentStripRGBA(unsigned row);
    bool loadCurrentTileRGBA(unsigned x, unsigned y);
    // Sizes buffer for a block of bytes bytes, or reports what and returns false when it is too large.
    bool sizeBuffer(std::uint64_t bytes, const char* what);
    // True when the stored bytes of strip or tile `block` lie inside the file, and hold all decodedBytes of
    // an uncompressed block; otherwise reports which block and returns false. Nothing is allocated for a
    // block the file does not hold.
    bool blockInFile(bool tile, unsigned block, std::uint64_t decodedBytes) const;
    // True when a strip decodes straight into a destination with rows stride bytes apart.
    bool decodesInPlace(unsigned long stride) const;
    // The TIFF sample plane whose strips or tiles hold plane; palette planes share the one index plane.
    unsigned short samplePlane(unsigned short plane) const;
    void requireInside(const Fields& f, unsigned x, unsigned y, unsigned short plane,
                       const char* operation) const;
    // Bytes of one pixel of the frame as handed out.
    std::uint64_t pixelBytes() const;
    // Zeroes rows lines of columns pixels: what a quiet failure leaves of a read.
    void clearPixels(void* dst, unsigned long stride, unsigned columns, unsigned rows) const;
    // Forgets the block readCurrentRegion keeps: the selected directory changes.
    void forgetRegionBlock() { regionBlockValid = false; }
    // Writes the rows of a block in buffer that the caller prepared; failures always throw.
    void encodeBlock(bool tile, unsigned block, unsigned long bytes, const char* operation);

    TIFF* tif;
    // The geometry the frame is reported in (and, for writing, the tags written).
    Fields fields;
    // The tags of the directory libtiff has loaded, whose strips or tiles are decoded: a plain TIFF's are its
    // fields; a directory of a private-tag frame has the frame's geometry but may store its pixels otherwise.
    Fields directory;
    // Bytes of the file being read (0 for writing): strips and tiles are checked against it.
    std::uint64_t fileBytes = 0;
    std::uint16_t directoryCount = 0;
    std::uint16_t currentDirectory = 0xFFFF;
    bool writable = false;
    // The file stores 16-bit floats: they are widened to 32-bit floats after decoding.
    bool halfFloat = false;
    ByteVector buffer;
    ByteVector palette;
    // Scratch lines of the conversion: widened floats, unpacked colour samples.
    ByteVector widened;
    ByteVector line;
    JsonMetadata::FrameCoordinates coordinates;
    bool stopOnError = false;
    // Chooses the marker decodeBlock puts at the end of a Deflate block.
    std::uint32_t blockMarker = 0x2545F491;

private:
    void updateColourFlags();
    // Rows of the strip at row, or of the tile at (x, y), converted into dst; the number of whole rows
    // produced (the rest are the caller's to clear).
    unsigned convertStrip(char* dst, unsigned long stride, unsigned row, unsigned rows, unsigned short plane);
    unsigned convertTile(char* dst, unsigned long stride, unsigned x, unsigned y, unsigned columns,
                         unsigned rows, unsigned short plane);
    // The strips or tiles holding a strip's rows or a tile of the selected directory, for the RGBA interface.
    bool rgbaBlocksInFile(bool tile, unsigned x, unsigned y, unsigned rows) const;
    // The pixels of the strip or tile of the selected directory at (x, y) of sample plane `plane`, converted
    // (or zero where they could not be) and kept for the next region read that needs them; rows
    // *blockStride bytes apart.
    const char* regionBlockAt(unsigned x, unsigned y, unsigned short plane, std::uint64_t* blockStride);

    // The block readCurrentRegion read last.
    ByteVector regionBlock;
    bool regionBlockValid = false;
    unsigned regionX = 0, regionY = 0;
    unsigned short regionPlane = 0;
};

// State of the device; the public class forwards every operation here.
class ZAN_HIDDEN TifFileDevice::Impl {
public:
    using json = nlohmann::json;

    Impl() = default;
    explicit Impl(std::unique_ptr<IoDevice> device);
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    virtual ~Impl();

    bool open(IoDevice::OpenMode mode);
    void close();
    // The mode given to open while open, else 0.
    IoDevice::OpenMode openMode() const;
    std::string filename() const;
    // The format; std::logic_error "device is not open" while closed.
    BaseFormat& format() const;
    unsigned sequenceCount();
    bool sequenceIndex(const std::vector<unsigned>& coords, unsigned* seqIndex);
    std::vector<unsigned> loopIndexes(unsigned seqIndex);
    std::vector<std::vector<unsigned>> allLoopIndexes();
    std::unique_ptr<IoImageDataDevice> imageData(unsigned seqIndex);
    ByteVector customData(const std::string& name);
    ByteVector customData(const std::string& name, unsigned seqIndex);

    std::unique_ptr<IoDevice> device;
    TiffHandle tif;
    // Shared with the frame devices, which hold it weakly: a frame device outliving the file finds it gone.
    std::shared_ptr<BaseFormat> formatObject;
    // The mode open was given (the byte device may have been opened with Update added).
    IoDevice::OpenMode openedMode = IoDevice::NotOpen;
};

// The frame image-data device: geometry from the parent's format, the plane, strip and tile cursors, and
// raw reads and writes through the format's slots.
class ZAN_HIDDEN TifFileDevice::ImageData : public IoImageDataDevice {
public:
    ImageData(std::weak_ptr<BaseFormat> format, unsigned seqIndex);
    ~ImageData() override;

    const void* memoryMappedPlane() const override { return nullptr; }
    bool isTiled(long* tileWidth, long* tileHeight) const override;
    bool isStriped(long* rowsPerStrip) const override;
    Interpretation interpretation() const override;
    DataFormat dataFormat() const override;
    long width() const override;
    long height() const override;
    long bitsPerComponentUsed() const override;
    long bitsPerComponentStored() const override;
    long componentsPerPixel() const override;
    long lineAlignment() const override { return 1; }
    long planes() const override;
    long currentPlane() const override { return plane_; }
    void setCurrentPlane(long plane) override { plane_ = plane; }
    long currentTileX() const override;
    long currentTileY() const override;
    void setCurrentTile(long x, long y) override;
    long currentStrip() const override;
    void setCurrentStrip(long row) override;
    void readCurrentPlane(void* dst, long stride) override;
    void readCurrentTile(void* dst, long stride) override;
    void readCurrentStrip(void* dst, long stride) override;
    void writeCurrentPlane(const void* src, long stride) override;
    void writeCurrentTile(const void* src, long stride) override;
    void writeCurrentStrip(const void* src, long stride) override;
    void readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) override;
    void writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) override;

private:
    std::shared_ptr<BaseFormat> format() const;
    // The format with stop-on-error taken from the property map, after the mode check of a read.
    std::shared_ptr<BaseFormat> readingFormat(const char* operation) const;
    std::shared_ptr<BaseFormat> writingFormat(const char* operation) const;
    // The cursor values handed to the format's slots, checked against the frame.
    unsigned checkedPlane(const BaseFormat& format) const;

    std::weak_ptr<BaseFormat> format_;
    unsigned seqIndex_;
    long plane_ = 0;
    long stripRow_ = 0;
    long tileX_ = 0;
    long tileY_ = 0;
};

// Pixel conversion helpers.
// Converts count packed samples of line `line` (src + line * srcStride, most significant bit first) into
// elements at dst + line * dstStride: bytes up to 8 bits, 16-bit words for 9 to 16, four bytes for 17 to
// 32; expand scales depths below 8 bits to the full byte. Reads no byte beyond the line's last sample byte.
// Depths without a conversion write nothing, are reported through report (when set) and return false.
bool unpackLine(void* dst, unsigned long dstStride, const void* src, unsigned long srcStride,
                unsigned long line, unsigned bitsPerSample, unsigned count, bool expand,
                const std::function<void(const char*)>& report);
// count RGBA pixels (red, green, blue, alpha) to blue, green, red; alpha is dropped.
template <typename T>
void RGBAtoBGR(T* dst, const T* src, unsigned long count) {
    for (unsigned long i = 0; i < count; ++i, dst += 3, src += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}
// IEEE half to single precision, exactly (subnormals, infinities and NaN included).
float halfToFloat(std::uint16_t half);

} // namespace Zan
