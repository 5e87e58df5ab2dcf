#pragma once

#include <io/DefaultInitAllocator.h>
#include <io/IoImageDataDevice.h>
#include <io/IoMapping.h>
#include <io/PlaneBuffer.h>
#include <qpx/QpxFileDevice.h>

#include <string>

namespace Zan {

// Pixel device of one frame of a native image file. The frame chunk ("ImageDataSeq|" index "!") holds an
// 8-byte prefix (zeros), then either the plane itself, height rows of lineBytes() bytes (a raw frame), or
// one zlib stream that inflates to exactly that plane (a compressed frame). Rows are padded to 4 bytes.
//
// A raw frame is read and written in place: through a mapping of the file (open mode Map without NoMap;
// the mode then reports Mapped) or by positioned reads and writes of the chunk. A compressed frame is
// inflated into a buffer on open and, when written, deflated into a new chunk on close.
//
// Nothing from the file is trusted: open checks the chunk against the plane it must hold, rectangles,
// strips and columns are clipped to the plane, and a stream that does not inflate to exactly the plane is
// an error. Destruction closes an open device; a failure there is dropped, so call close() to see it.
//
// Thread safety: one thread at a time uses a device. Rectangle copies of a plane in memory run on worker
// threads of their own (property Threads). The frame device reads and writes through the chunked device
// of its file, which must stay open and alive while the frame device is used; two frame devices of one
// file share its file position, so they must not be used from two threads at once.
class ZAN_EXPORT QpxFileDevice::ImageData : public IoImageDataDevice {
public:
    // Open-mode bits of this device besides Read and Write.
    static constexpr OpenMode Map = 0x4;     // map a raw frame into memory...
    static constexpr OpenMode NoMap = 0x8;   // ...unless this bit is set too
    static constexpr OpenMode Mapped = 0x10; // reported while the plane is a mapping of the file

    enum Compression : int { None = 0, Lossless = 1 };

    // Bytes before the plane (or the zlib stream) in a frame chunk.
    static constexpr long prefixBytes = 8;

    // Touches neither the file nor the chunk. A geometry whose rows or plane do not fit in 64 bits, a
    // negative size, no components or samples of more than 64 bits throw std::runtime_error.
    ImageData(ChunkedDevice& parent, const std::string& frameChunkName, long width, long height,
              long bitsPerComponentUsed, long bitsPerComponentStored, long componentsPerPixel,
              Interpretation interpretation, DataFormat dataFormat, Compression compression, int zlibLevel);
    ~ImageData() override;

    // Read, Write (a raw frame without a chunk gets one reserved, reading as zeros; a compressed frame
    // opened without Read starts from a zero plane), Map and NoMap. A read-only open of a frame without a
    // chunk returns false. A chunk too small for the prefix (and, raw, the plane) or a compressed stream
    // that does not inflate to exactly the plane, fails its checksum or does not end with the chunk throws
    // std::runtime_error.
    bool open(OpenMode mode) override;
    // A written compressed frame is stored as a new chunk here; a failure to do so throws and leaves the
    // device open.
    void close() override;
    // The plane while it is a mapping of the file, else null.
    const void* memoryMappedPlane() const override;
    bool isTiled(long* tileWidth, long* tileHeight) const override;
    // One row per strip.
    bool isStriped(long* rowsPerStrip) const override;
    Interpretation interpretation() const override;
    DataFormat dataFormat() const override;
    long width() const override;
    long height() const override;
    long bitsPerComponentUsed() const override;
    long bitsPerComponentStored() const override;
    long componentsPerPixel() const override;
    long lineAlignment() const override;
    long planes() const override;
    long currentPlane() const override;
    void setCurrentPlane(long plane) override;
    // Tiles: std::logic_error "Illegal call".
    long currentTileX() const override;
    long currentTileY() const override;
    void setCurrentTile(long x, long y) override;
    long currentStrip() const override;
    // Stored as given; reads and writes refuse a row outside the frame.
    void setCurrentStrip(long row) override;
    void readCurrentPlane(void* dst, long stride) override;
    void readCurrentTile(void* dst, long stride) override;
    // min(count, lineBytes()) bytes of the current row.
    void readCurrentStrip(void* dst, long count) override;
    void writeCurrentPlane(const void* src, long stride) override;
    void writeCurrentTile(const void* src, long stride) override;
    void writeCurrentStrip(const void* src, long count) override;
    // The part of r that lies inside the plane, row i of r at dst + i * stride and column j of r at byte
    // j * pixel bytes of that row; at most stride bytes a row. Row padding is neither read nor written.
    void readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) override;
    void writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) override;

    // Bytes of one stored row and of the plane.
    long lineBytes() const { return lineBytes_; }
    long planeSize() const { return planeSize_; }
    Compression compression() const { return compression_; }
    int zlibLevel() const { return zlibLevel_; }
    const std::string& frameChunkName() const { return frameChunkName_; }

private:
    struct Span;
    Span clip(long stride, const Rectangle& r) const;
    // Data bytes of the frame chunk: the smaller of its header's size and the chunk map's.
    unsigned long heldBytes(unsigned long headerBytes);
    void requireChunkHolds(unsigned long dataBytes, bool wholePlane) const;
    bool openRaw(OpenMode mode);
    void openCompressed(OpenMode mode);
    // Inflates the frame's zlib stream of count bytes into the plane buffer, watching the abort flag.
    void zUncompress(const char* source, unsigned long count);
    void storeCompressed();
    unsigned short sampleMask() const;
    long copyThreads(long bytes) const;
    long checkedStrip(const char* operation) const;
    void transferRows(char* buffer, long stride, const Rectangle& r, bool toFile);

    ChunkedDevice& parent_;
    std::string frameChunkName_;
    long width_, height_, bitsUsed_, bitsStored_, components_;
    long strip_ = 0;
    long lineAlignment_ = 4;
    DataFormat dataFormat_;
    Interpretation interpretation_;
    Compression compression_;
    int zlibLevel_;
    long planeOffset_ = -1;
    long mappedOffset_ = -1; // file offset of a mapped plane, for the reads that take positioned transfers
    IoMapping mapping_;
    char* plane_ = nullptr;
    detail::LazyPlaneBuffer planeBuffer_; // pages committed as the decoded bytes arrive
    bool changed_ = false;
    long pixelBytes_ = 0, lineBytes_ = 0, planeSize_ = 0;
};

} // namespace Zan
