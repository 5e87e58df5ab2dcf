#include <qpx/QpxImageData.h>

#include <io/IoMemoryBuffer.h>
#include <io/ParallelFor.h>
#include <io/detail/CheckedSize.h>
#include <io/detail/RowCopy.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/detail/QpxFrameGeometry.h>
#include <qpx/detail/QpxFrameInflate.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

namespace Zan {

using ImageData = QpxFileDevice::ImageData;

namespace {

constexpr const char* owner = "QpxFileDevice::ImageData";

std::string message(const char* operation, const std::string& text) {
    return std::string(owner) + "::" + operation + ": " + text;
}

// No deflate stream inflates to more than 1032 bytes per byte of input: a plane larger than that cannot
// come out of the chunk and is refused before its buffer is allocated.
constexpr unsigned long maxInflateRatio = 1032;
// Worker threads cost tens of microseconds each; a copy gets one for every this many bytes at most.
constexpr long minBytesPerThread = 1L << 20;
// Positioned reads of contiguous rows take up to this much at a time, looking at the abort flag between.
constexpr long maxPlaneRunBytes = 64L << 20;
// Reads of a mapped frame at least this large go through positioned reads when their rows are contiguous.
constexpr long minPositionedRunBytes = 64L << 10;

// A rectangle's clipped ranges can be computed without overflow whatever the caller passed.
using Wide = __int128;

} // namespace

// The part of a rectangle that lies inside the plane: frame rows [firstRow, endRow), bytes bytes of each
// from byte frameOffset of the row; the caller's row of firstRow begins callerOffset bytes into its buffer.
struct ImageData::Span {
    long firstRow = 0, endRow = 0;
    long frameOffset = 0;
    long callerOffset = 0;
    long bytes = 0;
};

ImageData::ImageData(ChunkedDevice& parent, const std::string& frameChunkName, long width, long height,
                     long bitsPerComponentUsed, long bitsPerComponentStored, long componentsPerPixel,
                     Interpretation interpretation, DataFormat dataFormat, Compression compression,
                     int zlibLevel)
    : parent_(parent), frameChunkName_(frameChunkName), width_(width), height_(height),
      bitsUsed_(bitsPerComponentUsed), bitsStored_(bitsPerComponentStored), components_(componentsPerPixel),
      dataFormat_(dataFormat), interpretation_(interpretation), compression_(compression),
      zlibLevel_(zlibLevel) {
    // Pixels must have bytes: no components, or samples wider than 64 bits, leave nothing to address.
    if (width < 0 || height < 0 || componentsPerPixel < 1 || bitsPerComponentStored < 0 ||
        bitsPerComponentStored > 64 || bitsPerComponentUsed < 0)
        throw std::runtime_error(std::string(owner) + ": no frame has " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels of " + std::to_string(componentsPerPixel) +
                                 " components of " + std::to_string(bitsPerComponentStored) + " bits");
    pixelBytes_ =
        detail::checkedProduct(bytesPerComponent(bitsPerComponentStored), componentsPerPixel, owner);
    lineBytes_ =
        detail::frameRowBytes(width, bitsPerComponentStored, componentsPerPixel, lineAlignment_, owner);
    planeSize_ = detail::checkedProduct(lineBytes_, height, owner);
    // The chunk of a raw frame holds the prefix and the plane, and must still fit in a file.
    if (planeSize_ > std::numeric_limits<long>::max() / 2)
        throw std::runtime_error(std::string(owner) + ": a plane of " + std::to_string(planeSize_) +
                                 " bytes does not fit in a file");
}

ImageData::~ImageData() {
    if (openMode() == NotOpen)
        return;
    try {
        close();
    } catch (...) {
        // A destructor cannot report; an explicit close does.
    }
}

// ---- Open and close

bool ImageData::open(OpenMode mode) {
    if (openMode() != NotOpen)
        throw std::logic_error(message("open", "already open"));
    if ((mode & Write) != 0 && !parent_.isWritable())
        throw std::logic_error(message("open", "write access denied"));
    if ((mode & Read) != 0 && !parent_.isReadible())
        throw std::logic_error(message("open", "read access denied"));
    if ((mode & (Read | Write)) == Read && !parent_.hasChunk(frameChunkName_, nullptr))
        return false;
    changed_ = false;
    plane_ = nullptr;
    planeOffset_ = mappedOffset_ = -1;
    if (compression_ == None)
        return openRaw(mode);
    openCompressed(mode);
    return IoImageDataDevice::open(mode & ~Mapped);
}

void ImageData::requireChunkHolds(unsigned long dataBytes, bool wholePlane) const {
    const auto needed = static_cast<unsigned long>(prefixBytes + (wholePlane ? planeSize_ : 0));
    if (dataBytes >= needed)
        return;
    throw std::runtime_error(
        message("open", "chunk \"" + frameChunkName_ + "\" holds " + std::to_string(dataBytes) +
                            " data bytes, fewer than the " + std::to_string(needed) +
                            (wholePlane ? " of its prefix and plane" : " of its prefix")));
}

unsigned long ImageData::heldBytes(unsigned long headerBytes) {
    long listed = -1;
    parent_.hasChunk(frameChunkName_, &listed);
    return listed < 0 ? headerBytes : std::min(headerBytes, static_cast<unsigned long>(listed));
}

bool ImageData::openRaw(OpenMode mode) {
    if ((mode & Write) != 0 && !parent_.hasChunk(frameChunkName_, nullptr))
        parent_.storeChunk(frameChunkName_, nullptr, static_cast<unsigned long>(planeSize_ + prefixBytes));
    // A file is mapped only when it can be read. A growable memory buffer is not mapped while it can be
    // written: its bytes move when another chunk is appended, and the mapping would point at freed memory.
    IoDevice* bytes = parent_.device();
    const bool mappable = (mode & Map) != 0 && (mode & NoMap) == 0 && parent_.isReadible() &&
                          !(parent_.isWritable() && dynamic_cast<IoMemoryBuffer*>(bytes));
    if (mappable) {
        unsigned long size = 0;
        IoMapping mapping(*bytes, parent_.mapChunkData(frameChunkName_, &size));
        if (mapping) {
            requireChunkHolds(heldBytes(size), true);
            mappedOffset_ = parent_.chunkDataOffset(frameChunkName_) + prefixBytes;
            mapping_ = std::move(mapping);
            plane_ = static_cast<char*>(mapping_.get()) + prefixBytes;
            return IoImageDataDevice::open(mode | Mapped);
        }
    }
    unsigned long size = 0;
    const long dataOffset = parent_.chunkDataOffset(frameChunkName_, &size);
    requireChunkHolds(heldBytes(size), true);
    planeOffset_ = dataOffset + prefixBytes;
    return IoImageDataDevice::open(mode & ~Mapped);
}

void ImageData::openCompressed(OpenMode mode) {
    planeBuffer_.clear();
    if ((mode & Read) == 0 || !parent_.hasChunk(frameChunkName_, nullptr)) {
        // Nothing to read (a frame being written anew): a zero plane.
        planeBuffer_.resize(static_cast<std::size_t>(planeSize_), 0);
        plane_ = planeBuffer_.data();
        return;
    }
    // Every byte is inflated into, so the buffer is not cleared first.
    auto inflateFrom = [this](const char* data, unsigned long size) {
        requireChunkHolds(size, false);
        const unsigned long streamBytes = size - prefixBytes;
        if (static_cast<unsigned long>(planeSize_) / maxInflateRatio > streamBytes)
            detail::throwInflateFailed();
        planeBuffer_.resize(static_cast<std::size_t>(planeSize_));
        try {
            zUncompress(data + prefixBytes, streamBytes);
        } catch (...) {
            // The pages that the failed decoding committed go at once, not with the device.
            detail::LazyPlaneBuffer().swap(planeBuffer_);
            throw;
        }
    };
    bool inflated = false;
    if ((mode & Map) != 0 && (mode & NoMap) == 0) {
        unsigned long size = 0;
        IoMapping mapping(*parent_.device(), parent_.mapChunkData(frameChunkName_, &size));
        if (mapping) {
            inflateFrom(static_cast<const char*>(mapping.get()), heldBytes(size));
            mapping.reset();
            inflated = true;
        }
    }
    if (!inflated) {
        // The chunk's data come into a buffer of the plane buffer's kind: a stored (level 0) frame is as
        // large as its plane, and faulting in a fresh buffer page by page costs many times the read.
        unsigned long size = 0;
        const long at = parent_.chunkDataOffset(frameChunkName_, &size);
        detail::PlaneBuffer chunk(heldBytes(size));
        // A short read leaves only the bytes that came, which then do not decode.
        chunk.resize(parent_.readChunkData(at, chunk.data(), chunk.size()));
        inflateFrom(chunk.data(), chunk.size());
    }
    plane_ = planeBuffer_.data();
}

void ImageData::zUncompress(const char* source, unsigned long count) {
    detail::inflateFrame(source, count, planeBuffer_.data(), planeBuffer_.size(),
                         [this] { throwIfAborted(); });
}

void ImageData::close() {
    if (openMode() == NotOpen)
        throw std::logic_error(message("close", "already closed"));
    if (compression_ != None) {
        if (!planeBuffer_.empty() && changed_)
            storeCompressed();
        planeBuffer_.clear();
    }
    plane_ = nullptr;
    planeOffset_ = mappedOffset_ = -1;
    std::exception_ptr failure;
    try {
        mapping_.reset();
    } catch (...) {
        failure = std::current_exception();
    }
    IoImageDataDevice::close();
    if (failure)
        std::rethrow_exception(failure);
}

void ImageData::storeCompressed() {
    const uLong bound = compressBound(static_cast<uLong>(planeBuffer_.size()));
    ByteVector chunk(static_cast<std::size_t>(bound) + prefixBytes);
    uLongf length = bound;
    if (compress2(reinterpret_cast<Bytef*>(chunk.data() + prefixBytes), &length,
                  reinterpret_cast<const Bytef*>(planeBuffer_.data()),
                  static_cast<uLong>(planeBuffer_.size()), zlibLevel_) != Z_OK)
        throw std::runtime_error("zlib compress2 failed");
    std::memset(chunk.data(), 0, prefixBytes);
    parent_.storeChunk(frameChunkName_, chunk.data(), static_cast<unsigned long>(prefixBytes + length));
}

// ---- Geometry

const void* ImageData::memoryMappedPlane() const {
    if (openMode() == NotOpen)
        throw std::logic_error(message("memoryMappedPlane", "not open"));
    return (openMode() & Mapped) != 0 ? plane_ : nullptr;
}

bool ImageData::isTiled(long*, long*) const {
    return false;
}

bool ImageData::isStriped(long* rowsPerStrip) const {
    if (rowsPerStrip)
        *rowsPerStrip = 1;
    return true;
}

IoImageDataDevice::Interpretation ImageData::interpretation() const {
    return interpretation_;
}
IoImageDataDevice::DataFormat ImageData::dataFormat() const {
    return dataFormat_;
}
long ImageData::width() const {
    return width_;
}
long ImageData::height() const {
    return height_;
}
long ImageData::bitsPerComponentUsed() const {
    return bitsUsed_;
}
long ImageData::bitsPerComponentStored() const {
    return bitsStored_;
}
long ImageData::componentsPerPixel() const {
    return components_;
}
long ImageData::lineAlignment() const {
    return lineAlignment_;
}
long ImageData::planes() const {
    return 1;
}
long ImageData::currentPlane() const {
    return 0;
}
void ImageData::setCurrentPlane(long plane) {
    if (plane != 0)
        throw std::out_of_range(
            message("setCurrentPlane", "plane " + std::to_string(plane) + " of a frame that has one plane"));
}

long ImageData::currentTileX() const {
    throw std::logic_error("Illegal call");
}
long ImageData::currentTileY() const {
    throw std::logic_error("Illegal call");
}
void ImageData::setCurrentTile(long, long) {
    throw std::logic_error("Illegal call");
}
void ImageData::readCurrentTile(void*, long) {
    throw std::logic_error("Illegal call");
}
void ImageData::writeCurrentTile(const void*, long) {
    throw std::logic_error("Illegal call");
}

long ImageData::currentStrip() const {
    return strip_;
}
void ImageData::setCurrentStrip(long row) {
    strip_ = row;
}

long ImageData::checkedStrip(const char* operation) const {
    if (strip_ < 0 || strip_ >= height_)
        throw std::out_of_range(message(operation, "row " + std::to_string(strip_) + " outside the " +
                                                       std::to_string(height_) + " rows of the frame"));
    return strip_;
}

// ---- Pixel copies

unsigned short ImageData::sampleMask() const {
    // Only 2-byte samples are masked; masking pairs of other samples would mix neighbours.
    unsigned short mask = 0;
    if (bytesPerComponent() != 2 || !shouldFix16bitDataOverflow(&mask))
        return 0;
    return mask;
}

long ImageData::copyThreads(long bytes) const {
    const int requested = propertyInt(Threads);
    if (requested == 0 || requested == 1)
        return requested;
    long threads = requested > 0 ? requested : static_cast<long>(std::thread::hardware_concurrency());
    return std::clamp(bytes / minBytesPerThread, 1L, std::max(threads, 1L));
}

ImageData::Span ImageData::clip(long stride, const Rectangle& r) const {
    Span s;
    const Wide x0 = std::max<Wide>(r.x, 0), y0 = std::max<Wide>(r.y, 0);
    const Wide x1 = std::min<Wide>(Wide(r.x) + r.width, width_);
    const Wide y1 = std::min<Wide>(Wide(r.y) + r.height, height_);
    if (stride <= 0 || x1 <= x0 || y1 <= y0)
        return s;
    const Wide callerOffset = (x0 - r.x) * pixelBytes_;
    if (callerOffset >= stride)
        return s;
    // A caller's first row that no buffer can reach is the caller's error, not a wrap-around.
    const Wide firstRowAt = (y0 - r.y) * stride + callerOffset;
    if (firstRowAt > std::numeric_limits<long>::max())
        throw std::invalid_argument(std::string(owner) + ": rectangle rows lie beyond any buffer");
    const Wide bytes = (x1 - x0) * pixelBytes_;
    s.firstRow = static_cast<long>(y0);
    s.endRow = static_cast<long>(y1);
    s.frameOffset = static_cast<long>(x0 * pixelBytes_);
    s.callerOffset = static_cast<long>(firstRowAt);
    s.bytes = static_cast<long>(std::min<Wide>(bytes, stride - callerOffset));
    return s;
}

void ImageData::transferRows(char* buffer, long stride, const Rectangle& r, bool toFile) {
    const Span s = clip(stride, r);
    if (s.bytes <= 0)
        return;
    char* caller = buffer + s.callerOffset;
    const long rows = s.endRow - s.firstRow;
    const unsigned short mask = sampleMask();
    // Rows that follow each other in the file and in the caller's buffer are read from a mapped frame by
    // positioned reads: the system copies them out of the page cache without the TLB misses that a copy out
    // of the mapping's 4 KiB pages pays, which made such copies two to four times slower than pread.
    const bool runs = !toFile && s.bytes == lineBytes_ && stride == lineBytes_ &&
                      rows * s.bytes >= minPositionedRunBytes && mappedOffset_ >= 0;
    if (plane_ && !runs) {
        char* frame = plane_ + s.firstRow * lineBytes_ + s.frameOffset;
        const long threads = copyThreads(rows * s.bytes);
        ParallelFor(
            0L, rows,
            [&, this](long i) {
                throwIfAborted();
                char* f = frame + i * lineBytes_;
                char* c = caller + i * stride;
                if (toFile)
                    detail::copyRowMasked(f, c, s.bytes, mask);
                else
                    detail::copyRowMasked(c, f, s.bytes, mask);
            },
            static_cast<int>(threads));
        return;
    }
    const long planeAt = runs ? mappedOffset_ : planeOffset_;
    if (planeAt < 0)
        return;
    const long fileStart = planeAt + s.firstRow * lineBytes_ + s.frameOffset;
    // Contiguous rows go to the file in runs, one call each. Positioned writes store the caller's bytes as
    // they are.
    if (toFile) {
        readRowRuns(
            [this](long at, void* data, unsigned long n) { return parent_.writeChunkData(at, data, n); },
            fileStart, lineBytes_, caller, stride, s.bytes, rows,
            message("writeCurrentPlane", "could not write all data"));
        return;
    }
    readRowRuns([this](long at, void* data, unsigned long n) { return parent_.readChunkData(at, data, n); },
                fileStart, lineBytes_, caller, stride, s.bytes, rows,
                message("readCurrentPlane", "could not read all data"), maxPlaneRunBytes);
    if (mask != 0)
        for (long i = 0; i < rows; ++i)
            detail::copyRowMasked(caller + i * stride, caller + i * stride, s.bytes, mask);
}

void ImageData::readCurrentPlane(void* dst, long stride) {
    readCurrentPlaneRect(dst, stride, {0, 0, width_, height_});
}

void ImageData::writeCurrentPlane(const void* src, long stride) {
    writeCurrentPlaneRect(src, stride, {0, 0, width_, height_});
}

void ImageData::readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) {
    if ((openMode() & Read) == 0)
        throw std::logic_error(message("readCurrentPlane", "not readible"));
    transferRows(static_cast<char*>(dst), stride, r, false);
}

void ImageData::writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) {
    if ((openMode() & Write) == 0)
        throw std::logic_error(message("writeCurrentPlane", "not writable"));
    changed_ = true;
    transferRows(const_cast<char*>(static_cast<const char*>(src)), stride, r, true);
}

void ImageData::readCurrentStrip(void* dst, long count) {
    if ((openMode() & Read) == 0)
        throw std::logic_error(message("readCurrentStrip", "not readible"));
    const long row = checkedStrip("readCurrentStrip");
    const long n = std::min(count, lineBytes_);
    if (n <= 0)
        return;
    char* out = static_cast<char*>(dst);
    const unsigned short mask = sampleMask();
    if (plane_) {
        detail::copyRowMasked(out, plane_ + row * lineBytes_, n, mask);
        return;
    }
    if (planeOffset_ < 0)
        return;
    if (parent_.readChunkData(planeOffset_ + row * lineBytes_, out, static_cast<unsigned long>(n)) !=
        static_cast<unsigned long>(n))
        throw std::runtime_error(message("readCurrentStrip", "could not read all data"));
    detail::copyRowMasked(out, out, mask != 0 ? n : 0, mask);
}

void ImageData::writeCurrentStrip(const void* src, long count) {
    if ((openMode() & Write) == 0)
        throw std::logic_error(message("writeCurrentStrip", "not writable"));
    changed_ = true;
    const long row = checkedStrip("writeCurrentStrip");
    const long n = std::min(count, lineBytes_);
    if (n <= 0)
        return;
    const char* in = static_cast<const char*>(src);
    if (plane_) {
        detail::copyRowMasked(plane_ + row * lineBytes_, in, n, sampleMask());
        return;
    }
    if (planeOffset_ >= 0 &&
        parent_.writeChunkData(planeOffset_ + row * lineBytes_, in, static_cast<unsigned long>(n)) !=
            static_cast<unsigned long>(n))
        throw std::runtime_error(message("writeCurrentStrip", "could not write all data"));
}

} // namespace Zan
