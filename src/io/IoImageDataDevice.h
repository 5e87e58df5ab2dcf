#pragma once

#include <io/Rectangle.h>
#include <io/ZanExport.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Zan {

// Per-frame pixel device. An image-file device creates one for a frame and hands it to the caller, who owns
// it. A format implements the raw operations (geometry, the plane/tile/strip cursor, raw reads and writes);
// the packed, planar, float, downsampled and scattered-pixel operations are built here, once, on top of them.
//
// Layout words used below:
//   - bytes per component follow bitsPerComponentStored(): up to 8 bits 1, up to 16 bits 2, up to 32 bits 4,
//     up to 64 bits 8, more 0;
//   - pixel size = bytesPerComponent() * componentsPerPixel();
//   - plane line size = align(width() * pixel size, lineAlignment());
//   - every buffer is a pointer and a line stride in bytes: line r starts at pointer + r * stride.
//
// Thread safety: one thread at a time uses a device. The downsampled and scattered-pixel reads may run the
// plane-in-memory case on worker threads (see Threads); those only read the memory memoryMappedPlane()
// returned and write disjoint parts of the destination. The abort flag is the only thing another thread may
// touch during a call: it is read atomically, so the owner should set it through std::atomic_ref<bool> too.
class ZAN_EXPORT IoImageDataDevice {
public:
    // Bit set; the native frame device uses further bits of its own.
    using OpenMode = std::uint32_t;
    static constexpr OpenMode NotOpen = 0x0;
    static constexpr OpenMode Read = 0x1;
    static constexpr OpenMode Write = 0x2;

    // How planes map to the components of a packed pixel: with Colour plane p becomes component 2 - p, with
    // ColourAlpha 3 - p; with any other value plane p stays component p. The reversal applies only to planes
    // whose reversed index names a plane of the frame, so a packed pixel is always a permutation of planes.
    enum Interpretation : int { Plain = 0, Colour = 1, ColourAlpha = 2 };

    enum DataFormat : int { UnsignedInteger = 0, FloatingPoint = 1 };

    // Keys of the integer property map. Defaults: Reserved 0, Threads -1, StopOnError 0.
    enum Property : int {
        Reserved = 1,
        Threads = 2, // workers of the parallel reads: -1 the hardware concurrency, 0 and 1 the caller only
        StopOnError = 3, // TIFF frame devices throw what they cannot decode, instead of reading it as zero
    };

    struct Coordinates {
        std::int64_t x = 0;
        std::int64_t y = 0;
        friend bool operator==(const Coordinates&, const Coordinates&) = default;
    };

    IoImageDataDevice(const IoImageDataDevice&) = delete;
    IoImageDataDevice& operator=(const IoImageDataDevice&) = delete;

    // ---- Virtual operations. Their order is the interface's layout; keep it.
    virtual ~IoImageDataDevice();
    // Stores every bit of the mode and returns true. Overrides call it as their last step.
    virtual bool open(OpenMode mode);
    // Throws std::logic_error "IoImageDataDevice::close: already closed" when closed.
    virtual void close();
    // True exactly when 8 < bitsPerComponentUsed() < 16; then *mask (when not null) = (1 << bits) - 1.
    virtual bool shouldFix16bitDataOverflow(unsigned short* mask) const;
    // The current plane when all of it is addressable with the plane line size as stride, else null. The
    // memory of each plane stays valid while the device is open and not written, whichever plane is current:
    // the multi-plane packed copy reads the planes side by side.
    virtual const void* memoryMappedPlane() const = 0;
    virtual bool isTiled(long* tileWidth, long* tileHeight) const = 0;
    virtual bool isStriped(long* rowsPerStrip) const = 0;
    virtual Interpretation interpretation() const = 0;
    virtual DataFormat dataFormat() const = 0;
    virtual long width() const = 0;
    virtual long height() const = 0;
    virtual long bitsPerComponentUsed() const = 0;
    virtual long bitsPerComponentStored() const = 0;
    virtual long componentsPerPixel() const = 0;
    virtual long lineAlignment() const = 0;
    virtual long planes() const = 0;
    virtual long currentPlane() const = 0;
    virtual void setCurrentPlane(long plane) = 0;
    // The getters identify the current tile and change exactly when another tile becomes current.
    virtual long currentTileX() const = 0;
    virtual long currentTileY() const = 0;
    // Makes current the tile holding pixel (x, y).
    virtual void setCurrentTile(long x, long y) = 0;
    virtual long currentStrip() const = 0;
    // Makes current the strip holding row y.
    virtual void setCurrentStrip(long y) = 0;
    // Raw copies of the current plane, tile or strip. Tile lines hold the tile width in pixels, strip lines
    // the image width; implementations write no more than that per line.
    virtual void readCurrentPlane(void* dst, long stride) = 0;
    virtual void readCurrentTile(void* dst, long stride) = 0;
    virtual void readCurrentStrip(void* dst, long stride) = 0;
    virtual void writeCurrentPlane(const void* src, long stride) = 0;
    virtual void writeCurrentTile(const void* src, long stride) = 0;
    virtual void writeCurrentStrip(const void* src, long stride) = 0;
    // Line i of the rectangle at dst + i * stride.
    virtual void readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) = 0;
    virtual void writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) = 0;

    // ---- State.
    OpenMode openMode() const { return mode_; }
    // Throws std::logic_error "IoImageDataDevice::propertyInt: no such property" for a missing key.
    int propertyInt(Property key) const;
    void setPropertyInt(Property key, int value);
    // A caller-owned flag; while it is true, long reads stop with Zan::Exception::Aborted before their next
    // line or point. Null (the default) means never. The device does not own it.
    void setAbortFlag(bool* flag) { abortFlag_ = flag; }
    bool* abortFlag() const { return abortFlag_; }

    // ---- Geometry helpers.
    long bytesPerComponent() const { return bytesPerComponent(bitsPerComponentStored()); }
    long bytesPerComponent(long bits) const;
    // Rounds value up to a multiple of alignment; an alignment below 1 counts as 1.
    long align(long value, long alignment) const;
    long channels() const { return componentsPerPixel() * planes(); }
    // One line of the frame with all planes interleaved.
    long packedLineSize(long alignment) const;

    // ---- Whole-frame and rectangle copies. Reads need the Read bit ("IoImageDataDevice::readImage: not
    // readible"), the write needs the Write bit ("IoImageDataDevice::readImage: not writable"). They move the
    // cursors and leave them wherever their last step put them. The copies of several planes (these, the
    // downsampled and the scattered-pixel ones) refuse a frame whose planes differ in size, stored depth,
    // components, line alignment or sample format with std::runtime_error naming both planes.

    // height() lines of width() * channels() samples; plane p is component p (see Interpretation).
    void packedImage(void* dst, long stride);
    void setPackedImage(const void* src, long stride);
    // As packedImage, every sample as a float (no normalisation); floating-point frames are copied as they
    // are. stride is in bytes.
    void packedImageToFloat(float* dst, long stride);
    // Single-plane frames only; r must lie inside the frame.
    void packedImageRect(void* dst, long stride, const Rectangle& r);
    void packedImageRectToFloat(float* dst, long stride, const Rectangle& r);
    // One block per component (plane-major): block k at dst + k * height() * stride, height() lines of
    // width() samples.
    void planarImage(void* dst, long stride);

    // ---- Downsampled reads: the rectangle (x, y, w, h) of the frame scaled to dstW x dstH (never enlarged),
    // nearest neighbour with a centring half step; h lines of w pixels, line i at dst + i * dstStride.
    // A plane in memory is read on worker threads and 16-bit samples are masked to their used bits; strips
    // and tiles are read in the calling thread, each at most once per change. A plane that is neither in
    // memory, striped nor tiled leaves dst untouched.
    void readCurrentDownsampledRect(long dstW, long dstH, long x, long y, long w, long h, void* dst,
                                    long dstStride);
    void packedDownsampledRect(long dstW, long dstH, long x, long y, long w, long h, void* dst,
                               long dstStride);
    // Block k at dst + k * height() * dstStride (the frame's full height), each h lines of w samples.
    void planarDownsampledRect(long dstW, long dstH, long x, long y, long w, long h, void* dst,
                               long dstStride);

    // ---- Scattered pixels of the current plane: the pixel of points[k] at dst + k * pixel size. Points must
    // lie inside the frame; dstSize is the byte size of dst.
    void readCurrentPixels(const std::vector<Coordinates>& points, void* dst, long dstSize);
    // Sample of plane p at index k * channels() + component of plane p.
    void packedPixels(const std::vector<Coordinates>& points, void* dst, long dstSize);
    // Block k (one per component) at dst + k * points.size() * bytesPerComponent(), one sample per point.
    void planarPixels(const std::vector<Coordinates>& points, void* dst, long dstSize);

protected:
    // Closed, no abort flag, default properties.
    IoImageDataDevice();

    // Throws Zan::Exception::Aborted while the abort flag is set; for the long loops of frame devices.
    void throwIfAborted() const;

    // Reads count bytes at a file offset into buffer and returns how many it read.
    using ReadAt = std::function<unsigned long(long offset, void* buffer, unsigned long count)>;
    // The most that readRowRuns asks of readAt in one call (unless a single row is longer).
    static constexpr long maxRowRunBytes = 4L << 20;
    // Reads rows rows of rowBytes bytes each: row r from file offset fileStart + r * fileStride into
    // dst + r * dstStride. Rows that follow each other both in the file and in dst are read together, up to
    // maxRunBytes per readAt call and at least one row; the abort flag is checked before each call. A call
    // that returns fewer bytes than asked throws std::runtime_error with shortReadMessage; the rows before it
    // stay read. Offsets that do not fit in a long throw std::runtime_error.
    void readRowRuns(const ReadAt& readAt, long fileStart, long fileStride, void* dst, long dstStride,
                     long rowBytes, long rows, const std::string& shortReadMessage,
                     long maxRunBytes = maxRowRunBytes) const;

private:
    bool downsampleCurrentPlane(long dstW, long dstH, long x, long y, long w, long h, char* dst,
                                long dstStride);
    bool readCurrentPlanePixels(const std::vector<Coordinates>& points, char* dst);

    OpenMode mode_ = NotOpen;
    bool* abortFlag_ = nullptr;
    std::map<Property, int> properties_;
};

} // namespace Zan
