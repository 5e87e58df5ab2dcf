#include <io/IoImageDataDevice.h>

#include <io/DefaultInitAllocator.h>
#include <io/Exception.h>
#include <io/ParallelFor.h>
#include <io/detail/CheckedSize.h>
#include <io/detail/PlaneInterleave.h>
#include <io/detail/RowCopy.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace Zan {

namespace {

std::string name(const char* operation) {
    return std::string("IoImageDataDevice::") + operation;
}

void requireRead(const IoImageDataDevice& device, const char* operation) {
    if ((device.openMode() & IoImageDataDevice::Read) == 0)
        throw std::logic_error(name(operation) + ": not readible");
}

void requireWrite(const IoImageDataDevice& device) {
    if ((device.openMode() & IoImageDataDevice::Write) == 0)
        throw std::logic_error("IoImageDataDevice::readImage: not writable");
}

constexpr const char* owner = "IoImageDataDevice";
// Results from this size on are written with stores that bypass the cache.
constexpr long streamingBytes = 8L << 20;

// Products of sizes that come from a file: refuse what does not fit rather than wrap around.
long product(long a, long b) {
    return detail::checkedProduct(a, b, owner);
}

long pixelSize(const IoImageDataDevice& device) {
    return product(device.bytesPerComponent(), device.componentsPerPixel());
}

long planeLineSize(const IoImageDataDevice& device) {
    return device.align(product(device.width(), pixelSize(device)), device.lineAlignment());
}

// What sizes the buffers of a copy. The multi-plane copies size theirs from one plane and read every plane
// into them, so every plane must have plane 0's.
struct PlaneGeometry {
    long width, height, bitsStored, components, alignment;
    int format;
    bool operator==(const PlaneGeometry&) const = default;

    explicit PlaneGeometry(const IoImageDataDevice& device)
        : width(device.width()), height(device.height()), bitsStored(device.bitsPerComponentStored()),
          components(device.componentsPerPixel()), alignment(device.lineAlignment()),
          format(device.dataFormat()) {}
    std::string text() const {
        return std::to_string(width) + " x " + std::to_string(height) + " pixels of " +
               std::to_string(components) + " x " + std::to_string(bitsStored) + " bits" +
               (format == IoImageDataDevice::FloatingPoint ? " (floating point)" : "") +
               ", lines aligned to " + std::to_string(alignment);
    }
};

// Refuses a frame whose planes differ in geometry before a buffer is sized: no format can then make a
// multi-plane copy write past one, or hand out bytes it never read. Leaves plane 0 current.
void requireUniformPlanes(IoImageDataDevice& device, const char* operation) {
    const long planeCount = device.planes();
    if (planeCount < 2)
        return;
    device.setCurrentPlane(0);
    const PlaneGeometry first(device);
    for (long p = 1; p < planeCount; ++p) {
        device.setCurrentPlane(p);
        const PlaneGeometry other(device);
        if (!(other == first))
            throw std::runtime_error(name(operation) + ": plane " + std::to_string(p) + " holds " +
                                     other.text() + ", plane 0 " + first.text());
    }
    device.setCurrentPlane(0);
}

// The current plane's bytes with the plane line size as stride: the format's own memory when it offers the
// plane there, else a copy in one buffer that serves every plane of the call.
class PlaneSource {
public:
    explicit PlaneSource(IoImageDataDevice& device) : device_(device), lineSize_(planeLineSize(device)) {}
    long lineSize() const { return lineSize_; }
    const char* current() {
        if (const void* plane = device_.memoryMappedPlane())
            return static_cast<const char*>(plane);
        if (!buffer_)
            buffer_ = std::make_unique<ByteVector>(static_cast<size_t>(product(device_.height(), lineSize_)));
        device_.readCurrentPlane(buffer_->data(), lineSize_);
        return buffer_->data();
    }

private:
    IoImageDataDevice& device_;
    long lineSize_;
    std::unique_ptr<ByteVector> buffer_;
};

// Sample width of the copy routines; wider samples are refused by name of the routine.
long sampleBytes(long bits, const char* routine) {
    if (bits <= 8)
        return 1;
    if (bits <= 16)
        return 2;
    if (bits <= 32)
        return 4;
    throw std::logic_error(std::string(routine) + ": unsupported bitdepth for conversion");
}

constexpr const char* toComponent = "copyPlaneToComponent";
constexpr const char* toPlane = "copyComponentToPlane";

// Component of a packed pixel that plane p fills. The colour interpretations reverse the plane order, but
// only where the reversed index still names a plane, so the mapping stays a permutation of the planes.
long componentOfPlane(long plane, long planes, int interpretation) {
    long reversed = plane;
    if (interpretation == IoImageDataDevice::Colour)
        reversed = 2 - plane;
    else if (interpretation == IoImageDataDevice::ColourAlpha)
        reversed = 3 - plane;
    return reversed >= 0 && reversed < planes ? reversed : plane;
}

using detail::loadSample;
using detail::storeSample;

// Where the samples of pixel x lie in a line, counted in samples: first + x * step, then perPixel samples.
struct Walk {
    long first;
    long step;
};

template <typename S, typename D>
void copyLines(const char* src, long srcStride, Walk s, char* dst, long dstStride, Walk d, long perPixel,
               long count, long height) {
    constexpr long inSize = sizeof(S), outSize = sizeof(D);
    const bool contiguous = std::is_same_v<S, D> && s.step == perPixel && d.step == perPixel;
    for (long line = 0; line < height; ++line) {
        const char* in = src + line * srcStride + s.first * inSize;
        char* out = dst + line * dstStride + d.first * outSize;
        if (contiguous) {
            std::memcpy(out, in, static_cast<size_t>(count * perPixel * inSize));
        } else if (perPixel == 1) {
            for (long x = 0; x < count; ++x, in += s.step * inSize, out += d.step * outSize)
                storeSample<D>(out, static_cast<D>(loadSample<S>(in)));
        } else {
            for (long x = 0; x < count; ++x, in += s.step * inSize, out += d.step * outSize)
                for (long k = 0; k < perPixel; ++k)
                    storeSample<D>(out + k * outSize, static_cast<D>(loadSample<S>(in + k * inSize)));
        }
    }
}

// Copies count pixels of perPixel samples per line, for height lines; Target void keeps the sample type,
// float converts unsigned samples to their value as a float.
template <typename Target>
void copySamples(const char* routine, long bits, const void* src, long srcStride, Walk s, void* dst,
                 long dstStride, Walk d, long perPixel, long count, long height) {
    const long bytes = sampleBytes(bits, routine);
    if (count < 1 || height < 1)
        return;
    auto run = [&](auto sample) {
        using S = decltype(sample);
        using D = std::conditional_t<std::is_void_v<Target>, S, Target>;
        copyLines<S, D>(static_cast<const char*>(src), srcStride, s, static_cast<char*>(dst), dstStride, d,
                        perPixel, count, height);
    };
    if (bytes == 1)
        run(std::uint8_t{});
    else if (bytes == 2)
        run(std::uint16_t{});
    else
        run(std::uint32_t{});
}

// Destination line [x * n + c + k] = source line [x * perPixel + k], k < perPixel (perPixel 1: one sample
// per source pixel).
void copyPlaneToComponent(long c, long n, long bits, const void* src, long srcStride, void* dst,
                          long dstStride, long width, long height, long perPixel = 1) {
    copySamples<void>(toComponent, bits, src, srcStride, {0, perPixel}, dst, dstStride, {c, n}, perPixel,
                      width, height);
}

// Destination line [x * perPixel + k] = source line [x * n + c + k].
void copyComponentToPlane(long c, long n, long bits, const void* src, long srcStride, void* dst,
                          long dstStride, long width, long height, long perPixel = 1) {
    copySamples<void>(toPlane, bits, src, srcStride, {c, n}, dst, dstStride, {0, perPixel}, perPixel, width,
                      height);
}

// Destination line [i] = source sample i as a float, i < count; with c, n and perPixel as in
// copyPlaneToComponent it also interleaves.
void copyPlaneToComponentFloat(long bits, const void* src, long srcStride, float* dst, long dstStride,
                               long count, long height, long c = 0, long n = 1, long perPixel = 1) {
    copySamples<float>(toComponent, bits, src, srcStride, {0, perPixel}, dst, dstStride, {c, n}, perPixel,
                       count, height);
}

void copyPixel(char* dst, const char* src, long size) {
    std::memcpy(dst, src, static_cast<size_t>(size));
}

// The scaled reads copy samples of up to 4 bytes; wider ones are refused instead of leaving dst unwritten.
void requireScalableBits(const IoImageDataDevice& device, const char* operation) {
    if (device.bitsPerComponentStored() > 32)
        throw std::logic_error(name(operation) + ": unsupported bitdepth " +
                               std::to_string(device.bitsPerComponentStored()));
}

// Floating-point frames are handed out as they are, which a float destination holds only for 32-bit samples.
void requireFloat32(const IoImageDataDevice& device, const char* operation) {
    if (device.bitsPerComponentStored() != 32)
        throw std::logic_error(name(operation) + ": unsupported floating-point bitdepth " +
                               std::to_string(device.bitsPerComponentStored()));
}

void requireInsideFrame(const IoImageDataDevice& device, const Rectangle& r, const char* operation) {
    const long w = device.width(), h = device.height();
    if (r.x < 0 || r.y < 0 || r.width < 0 || r.height < 0 || r.x > w || r.y > h || r.width > w - r.x ||
        r.height > h - r.y)
        throw std::invalid_argument(name(operation) + ": rectangle (" + std::to_string(r.x) + ", " +
                                    std::to_string(r.y) + ", " + std::to_string(r.width) + ", " +
                                    std::to_string(r.height) + ") outside the frame " + std::to_string(w) +
                                    " x " + std::to_string(h));
}

void requireDownsampleArguments(const IoImageDataDevice& device, long dstW, long dstH, long x, long y, long w,
                                long h) {
    if (dstW < 1 || dstH < 1 || device.width() < dstW || device.height() < dstH || x < 0 || y < 0 || w < 0 ||
        h < 0 || x > dstW || y > dstH || w > dstW - x || h > dstH - y)
        throw std::invalid_argument("IoImageDataDevice::readCurrentDownsampledRect: wrong dst size");
}

void requireDestinationSize(long needed, long dstSize, const char* operation) {
    if (needed > dstSize)
        throw std::invalid_argument(name(operation) + ": size too small");
}

// total * k / parts without overflow of the intermediate product.
void requirePointsInside(const IoImageDataDevice& device,
                         const std::vector<IoImageDataDevice::Coordinates>& points) {
    const long w = device.width(), h = device.height();
    for (const IoImageDataDevice::Coordinates& p : points)
        if (p.x < 0 || p.y < 0 || p.x >= w || p.y >= h)
            throw std::invalid_argument(
                "IoImageDataDevice::readCurrentPixels: point (" + std::to_string(p.x) + ", " +
                std::to_string(p.y) + ") outside the frame " + std::to_string(w) + " x " + std::to_string(h));
}

long scaled(long total, long k, long parts) {
    return static_cast<long>(static_cast<__int128>(total) * k / parts);
}

long requirePositive(long value, const char* operation, const char* what) {
    if (value < 1)
        throw std::runtime_error(name(operation) + ": " + what + " " + std::to_string(value) + " below 1");
    return value;
}

// The strip, tile or band of tiles that a loop over rows or points read last, so that each is read once per
// change of the format's cursor however many rows or points fall in it.
class BlockCache {
public:
    explicit BlockCache(long bytes) : buffer_(static_cast<size_t>(bytes)) {}
    // The buffer, filled by load(buffer) first when it holds a block other than key.
    template <typename Load>
    const char* get(const std::array<long, 2>& key, Load&& load) {
        if (!loaded_ || key != key_) {
            load(buffer_.data());
            key_ = key;
            loaded_ = true;
        }
        return buffer_.data();
    }

private:
    ByteVector buffer_;
    std::array<long, 2> key_{};
    bool loaded_ = false;
};

// Rows of a striped plane read strip by strip; lines are the plane line size apart.
class StripRows {
public:
    StripRows(IoImageDataDevice& device, long rowsPerStrip, long lineSize, const char* operation)
        : device_(device), rowsPerStrip_(requirePositive(rowsPerStrip, operation, "rows per strip")),
          lineSize_(lineSize),
          // Rows per strip come from the file; no strip holds more rows than the frame.
          cache_(product(std::min(rowsPerStrip_, device.height()), lineSize)) {}
    const char* row(long y) {
        device_.setCurrentStrip(y);
        const char* strip = cache_.get({device_.currentStrip(), 0},
                                       [&](char* buffer) { device_.readCurrentStrip(buffer, lineSize_); });
        return strip + (y % rowsPerStrip_) * lineSize_;
    }

private:
    IoImageDataDevice& device_;
    long rowsPerStrip_, lineSize_;
    BlockCache cache_;
};

// Tile geometry of a tiled plane, checked; lines of a tile are lineSize apart.
struct TileShape {
    TileShape(const IoImageDataDevice& device, long tileWidth, long tileHeight, long pixelSize,
              const char* operation)
        : width(requirePositive(tileWidth, operation, "tile width")),
          height(requirePositive(tileHeight, operation, "tile height")), pixelSize(pixelSize),
          lineSize(device.align(product(width, pixelSize), device.lineAlignment())) {}
    long width, height, pixelSize, lineSize;
};

// Pixels of a tiled plane read tile by tile.
class TilePixels {
public:
    TilePixels(IoImageDataDevice& device, const TileShape& shape)
        : device_(device), shape_(shape), cache_(product(shape.height, shape.lineSize)) {}
    const char* pixel(long x, long y) {
        device_.setCurrentTile(x, y);
        const char* tile = cache_.get({device_.currentTileX(), device_.currentTileY()}, [&](char* buffer) {
            device_.readCurrentTile(buffer, shape_.lineSize);
        });
        return tile + (y % shape_.height) * shape_.lineSize + (x % shape_.width) * shape_.pixelSize;
    }

private:
    IoImageDataDevice& device_;
    TileShape shape_;
    BlockCache cache_;
};

// Rows of every plane, band after band, for the multi-plane packed copy: read where they lie in memory,
// read strip by strip or tile row by tile row, or read as rectangles. A band fits the cache, so that it is
// interleaved into the destination in one pass over the destination's memory.
class PlaneBands {
public:
    // Null when the format offers none of these accesses, its planes do not share one, or its bands would
    // be large. The planes' geometry must agree (requireUniformPlanes) before a band is made.
    static std::unique_ptr<PlaneBands> make(IoImageDataDevice& device, const char* operation) {
        const long planeCount = device.planes(), pixel = pixelSize(device), lineSize = planeLineSize(device);
        auto bands = std::unique_ptr<PlaneBands>(new PlaneBands(device, planeCount));
        // Every plane is read with one band layout: planes read in different ways (strips of other sizes,
        // say) are read plane by plane instead, each into a buffer of its own size.
        device.setCurrentPlane(0);
        const Access access = accessOf(device);
        for (long p = 1; p < planeCount; ++p) {
            device.setCurrentPlane(p);
            if (accessOf(device) != access)
                return nullptr;
        }
        bands->kind_ = access.kind;
        switch (access.kind) {
        case Kind::Memory:
        case Kind::Rectangles:
            bands->rows_ = std::max(1L, cacheBudget / product(planeCount, std::max(1L, lineSize)));
            bands->lineSize_ = lineSize;
            break;
        case Kind::Strips:
            bands->rows_ =
                std::min(requirePositive(access.rows, operation, "rows per strip"), device.height());
            bands->lineSize_ = lineSize;
            break;
        case Kind::Tiles: {
            const TileShape tile(device, access.tileWidth, access.rows, pixel, operation);
            bands->tileWidth_ = tile.width;
            bands->rows_ = tile.height;
            // Whole tiles across, the last one reaching beyond the frame, plus what a format pads them with.
            const long across = (device.width() + tile.width - 1) / tile.width;
            bands->lineSize_ =
                product(across, product(tile.width, pixel)) + (tile.lineSize - tile.width * pixel);
            break;
        }
        }
        bands->planeBytes_ = bands->kind_ == Kind::Memory ? 0 : product(bands->rows_, bands->lineSize_);
        if (product(bands->planeBytes_, planeCount) > maxBandBytes)
            return nullptr;
        // Zeroed: a format that leaves part of a strip or tile unwritten hands out zeros there, never what
        // the heap held.
        bands->scratch_.assign(static_cast<size_t>(bands->planeBytes_ * planeCount), 0);
        return bands;
    }

    long lineSize() const { return lineSize_; }
    const char* plane(long p) const {
        return kind_ == Kind::Memory ? direct_[p] : scratch_.data() + p * planeBytes_;
    }

    // Loads rows [y, y + n) of every plane with n = min(band rows, height - y) and returns n; -1 when the
    // format turns out not to read rectangles (nothing has been loaded then).
    long load(long y) {
        const long n = std::min(rows_, device_.height() - y);
        for (long p = 0; p < planes_; ++p) {
            device_.setCurrentPlane(p);
            char* out = scratch_.data() + p * planeBytes_;
            switch (kind_) {
            case Kind::Memory: {
                const char* plane = static_cast<const char*>(device_.memoryMappedPlane());
                if (!plane)
                    throw std::logic_error(name("packedImage") + ": plane " + std::to_string(p) +
                                           " is no longer in memory");
                direct_[p] = plane + y * lineSize_;
                break;
            }
            case Kind::Strips:
                device_.setCurrentStrip(y);
                device_.readCurrentStrip(out, lineSize_);
                break;
            case Kind::Tiles:
                for (long x = 0; x < device_.width(); x += tileWidth_) {
                    device_.setCurrentTile(x, y);
                    device_.readCurrentTile(out + x * pixelSize(device_), lineSize_);
                }
                break;
            case Kind::Rectangles:
                try {
                    device_.readCurrentPlaneRect(out, lineSize_, {0, y, device_.width(), n});
                } catch (const std::logic_error&) {
                    // Formats may leave rectangle reads out; they are then read plane by plane. Nothing has
                    // reached the destination before the first band is complete.
                    if (y == 0)
                        return -1;
                    throw;
                }
                break;
            }
        }
        return n;
    }

private:
    enum class Kind { Memory, Strips, Tiles, Rectangles };
    // How a plane is read; rows are the rows per strip or the tile height.
    struct Access {
        Kind kind = Kind::Memory;
        long rows = 0, tileWidth = 0;
        bool operator==(const Access&) const = default;
    };
    static Access accessOf(const IoImageDataDevice& device) {
        Access access;
        long tileWidth = 0, tileHeight = 0;
        if (device.memoryMappedPlane())
            access.kind = Kind::Memory;
        else if (device.isStriped(&access.rows))
            access.kind = Kind::Strips;
        else if (device.isTiled(&tileWidth, &tileHeight))
            access = {Kind::Tiles, tileHeight, tileWidth};
        else
            access = {Kind::Rectangles, 0, 0};
        return access;
    }
    // Bytes of one band of every plane that interleaving keeps in the cache, and the most a band may take
    // (a format's strips or tiles may be far larger than that).
    static constexpr long cacheBudget = 256L << 10;
    static constexpr long maxBandBytes = 64L << 20;

    PlaneBands(IoImageDataDevice& device, long planes)
        : device_(device), planes_(planes), direct_(static_cast<size_t>(planes)) {}

    IoImageDataDevice& device_;
    long planes_;
    // Planes in memory are read where they are; the other kinds load into scratch_.
    std::vector<const char*> direct_;
    Kind kind_ = Kind::Memory;
    long rows_ = 1, lineSize_ = 0, planeBytes_ = 0, tileWidth_ = 1;
    ByteVector scratch_;
};

} // namespace

IoImageDataDevice::IoImageDataDevice() : properties_{{Reserved, 0}, {Threads, -1}, {StopOnError, 0}} {}

IoImageDataDevice::~IoImageDataDevice() = default;

bool IoImageDataDevice::open(OpenMode mode) {
    mode_ = mode;
    return true;
}

void IoImageDataDevice::close() {
    if (mode_ == NotOpen)
        throw std::logic_error("IoImageDataDevice::close: already closed");
    mode_ = NotOpen;
}

bool IoImageDataDevice::shouldFix16bitDataOverflow(unsigned short* mask) const {
    const long bits = bitsPerComponentUsed();
    if (bits <= 8 || bits >= 16)
        return false;
    if (mask)
        *mask = static_cast<unsigned short>((1u << bits) - 1);
    return true;
}

int IoImageDataDevice::propertyInt(Property key) const {
    const auto it = properties_.find(key);
    if (it == properties_.end())
        throw std::logic_error("IoImageDataDevice::propertyInt: no such property");
    return it->second;
}

void IoImageDataDevice::setPropertyInt(Property key, int value) {
    properties_[key] = value;
}

long IoImageDataDevice::bytesPerComponent(long bits) const {
    if (bits <= 8)
        return 1;
    if (bits <= 16)
        return 2;
    if (bits <= 32)
        return 4;
    if (bits <= 64)
        return 8;
    return 0;
}

long IoImageDataDevice::align(long value, long alignment) const {
    // Both may come from a file: refuse a rounded size that does not fit rather than wrap around.
    return detail::checkedAlign(value, alignment, owner);
}

long IoImageDataDevice::packedLineSize(long alignment) const {
    return align(product(product(width(), bytesPerComponent()), channels()), alignment);
}

void IoImageDataDevice::throwIfAborted() const {
    if (abortFlag_ && std::atomic_ref<bool>(*abortFlag_).load(std::memory_order_relaxed))
        throw Exception::Aborted();
}

void IoImageDataDevice::readRowRuns(const ReadAt& readAt, long fileStart, long fileStride, void* dst,
                                    long dstStride, long rowBytes, long rows,
                                    const std::string& shortReadMessage, long maxRunBytes) const {
    if (rows <= 0 || rowBytes <= 0)
        return;
    // With fixed strides either every row follows the one before it in the file and in dst, or none does.
    const bool contiguous = fileStride == rowBytes && dstStride == rowBytes;
    const long rowsPerRun = contiguous ? std::max(1L, maxRunBytes / rowBytes) : 1;
    long offset = 0;
    if (fileStart < 0 || __builtin_add_overflow(fileStart, product(rows - 1, fileStride), &offset) ||
        __builtin_add_overflow(offset, rowBytes, &offset))
        throw std::runtime_error(std::string(owner) + "::readRowRuns: rows at " + std::to_string(fileStart) +
                                 " with stride " + std::to_string(fileStride) + " lie beyond any file");
    char* out = static_cast<char*>(dst);
    for (long row = 0; row < rows; row += rowsPerRun) {
        throwIfAborted();
        const long count = std::min(rowsPerRun, rows - row);
        const auto bytes = static_cast<unsigned long>(count * rowBytes);
        if (readAt(fileStart + row * fileStride, out + row * dstStride, bytes) != bytes)
            throw std::runtime_error(shortReadMessage);
    }
}

// ---- Whole-frame and rectangle copies

void IoImageDataDevice::packedImage(void* dst, long stride) {
    requireRead(*this, "readImage");
    const long planeCount = planes();
    if (planeCount == 1) {
        // The caller's buffer goes straight to the format: no temporary, no second copy.
        setCurrentPlane(0);
        readCurrentPlane(dst, stride);
        return;
    }
    requireUniformPlanes(*this, "packedImage");
    const long bits = bitsPerComponentStored(), components = componentsPerPixel(), all = channels();
    const long bytes = sampleBytes(bits, toComponent), rows = height(), columns = width();
    const int interp = interpretation();
    char* out = static_cast<char*>(dst);
    // Band by band, so that the destination is written once; plane by plane where the format offers no
    // bands.
    if (auto bands = PlaneBands::make(*this, "packedImage")) {
        std::vector<const char*> byComponent(static_cast<size_t>(planeCount));
        // A frame well beyond the cache is written past it, as memcpy does.
        const bool streaming = product(rows, stride) >= streamingBytes;
        for (long y = 0; y < rows;) {
            throwIfAborted();
            const long n = bands->load(y);
            if (n < 0)
                break;
            for (long p = 0; p < planeCount; ++p) {
                const long component = componentOfPlane(p, planeCount, interp);
                if (components == 1)
                    byComponent[component] = bands->plane(p);
                else
                    copyPlaneToComponent(component * components, all, bits, bands->plane(p),
                                         bands->lineSize(), out + y * stride, stride, columns, n, components);
            }
            if (components == 1)
                detail::interleavePlanes(byComponent.data(), planeCount, bands->lineSize(), out + y * stride,
                                         stride, columns, n, bytes, streaming);
            y += n;
            if (y >= rows)
                return;
        }
    }
    PlaneSource source(*this);
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        copyPlaneToComponent(componentOfPlane(p, planeCount, interp) * components, all, bits,
                             source.current(), source.lineSize(), dst, stride, columns, rows, components);
    }
}

void IoImageDataDevice::setPackedImage(const void* src, long stride) {
    requireWrite(*this);
    const long planeCount = planes();
    if (planeCount == 1) {
        setCurrentPlane(0);
        writeCurrentPlane(src, stride);
        return;
    }
    requireUniformPlanes(*this, "setPackedImage");
    const long bits = bitsPerComponentStored(), components = componentsPerPixel(), all = channels();
    sampleBytes(bits, toPlane);
    const long lineSize = planeLineSize(*this);
    // Zeroed so that line padding reaches the file as zeros, not as whatever the heap held.
    std::vector<char> buffer(static_cast<size_t>(product(height(), lineSize)));
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        copyComponentToPlane(componentOfPlane(p, planeCount, interpretation()) * components, all, bits, src,
                             stride, buffer.data(), lineSize, width(), height(), components);
        writeCurrentPlane(buffer.data(), lineSize);
    }
}

void IoImageDataDevice::packedImageToFloat(float* dst, long stride) {
    requireRead(*this, "readImage");
    requireUniformPlanes(*this, "packedImageToFloat");
    if (dataFormat() == FloatingPoint) {
        requireFloat32(*this, "packedImageToFloat");
        packedImage(dst, stride);
        return;
    }
    const long bits = bitsPerComponentStored(), components = componentsPerPixel(), planeCount = planes();
    sampleBytes(bits, toComponent);
    PlaneSource source(*this);
    if (planeCount == 1) {
        setCurrentPlane(0);
        copyPlaneToComponentFloat(bits, source.current(), source.lineSize(), dst, stride,
                                  product(width(), components), height());
        return;
    }
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        copyPlaneToComponentFloat(bits, source.current(), source.lineSize(), dst, stride, width(), height(),
                                  componentOfPlane(p, planeCount, interpretation()) * components, channels(),
                                  components);
    }
}

void IoImageDataDevice::packedImageRect(void* dst, long stride, const Rectangle& r) {
    requireRead(*this, "readImage");
    if (planes() != 1)
        throw std::logic_error(
            "IoImageDataDevice::packedImageRect: not implemented for multiple plane images");
    requireInsideFrame(*this, r, "packedImageRect");
    setCurrentPlane(0);
    readCurrentPlaneRect(dst, stride, r);
}

void IoImageDataDevice::packedImageRectToFloat(float* dst, long stride, const Rectangle& r) {
    requireRead(*this, "readImage");
    if (planes() != 1)
        throw std::logic_error(
            "IoImageDataDevice::packedImageRect: not implemented for multiple plane images");
    requireInsideFrame(*this, r, "packedImageRectToFloat");
    if (dataFormat() == FloatingPoint) {
        requireFloat32(*this, "packedImageRectToFloat");
        packedImageRect(dst, stride, r);
        return;
    }
    const long bits = bitsPerComponentStored();
    sampleBytes(bits, toComponent);
    const long lineSize = align(product(r.width, pixelSize(*this)), lineAlignment());
    ByteVector buffer(static_cast<size_t>(product(r.height, lineSize)));
    setCurrentPlane(0);
    readCurrentPlaneRect(buffer.data(), lineSize, r);
    copyPlaneToComponentFloat(bits, buffer.data(), lineSize, dst, stride,
                              product(r.width, componentsPerPixel()), r.height);
}

void IoImageDataDevice::planarImage(void* dst, long stride) {
    requireRead(*this, "readImage");
    requireUniformPlanes(*this, "planarImage");
    const long planeCount = planes(), components = componentsPerPixel(), rows = height();
    char* out = static_cast<char*>(dst);
    if (components == 1) {
        for (long p = 0; p < planeCount; ++p) {
            setCurrentPlane(p);
            readCurrentPlane(out + p * rows * stride, stride);
        }
        return;
    }
    const long bits = bitsPerComponentStored();
    sampleBytes(bits, toPlane);
    PlaneSource source(*this);
    // Blocks in storage order: every component of plane 0, then of plane 1; no interpretation applies.
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        const char* plane = source.current();
        for (long c = 0; c < components; ++c)
            copyComponentToPlane(c, components, bits, plane, source.lineSize(),
                                 out + (p * components + c) * rows * stride, stride, width(), rows);
    }
}

// ---- Downsampled reads

bool IoImageDataDevice::downsampleCurrentPlane(long dstW, long dstH, long x, long y, long w, long h,
                                               char* dst, long dstStride) {
    const char* operation = "readCurrentDownsampledRect";
    const int threads = propertyInt(Threads);
    const long srcW = width(), srcH = height();
    const long sampleSize = bytesPerComponent(), components = componentsPerPixel();
    const long size = pixelSize(*this), lineSize = planeLineSize(*this);
    if (w == 0 || h == 0)
        return true;

    const long halfStepX = (srcW / dstW) / 2, halfStepY = (srcH / dstH) / 2;
    auto sourceRow = [&](long i) { return scaled(srcH, y + i, dstH) + halfStepY; };
    std::vector<long> sourceColumn(static_cast<size_t>(w));
    for (long j = 0; j < w; ++j)
        sourceColumn[j] = scaled(srcW, x + j, dstW) + halfStepX;
    // Byte offsets of the sampled pixels within the line that is read, relative to origin.
    std::vector<long> columns(static_cast<size_t>(w));
    auto setColumns = [&](long origin) {
        for (long j = 0; j < w; ++j)
            columns[j] = (sourceColumn[j] - origin) * size;
    };

    if (const char* plane = static_cast<const char*>(memoryMappedPlane())) {
        unsigned short mask = 0;
        if (!shouldFix16bitDataOverflow(&mask) || sampleSize != 2)
            mask = 0;
        setColumns(0);
        ParallelFor(
            0L, h,
            [&](long i) {
                throwIfAborted();
                detail::quickScaleLine(dst + i * dstStride, plane + sourceRow(i) * lineSize, columns.data(),
                                       w, sampleSize, components, mask);
            },
            threads);
        return true;
    }

    long rowsPerStrip = 0;
    if (isStriped(&rowsPerStrip)) {
        StripRows strips(*this, rowsPerStrip, lineSize, operation);
        setColumns(0);
        for (long i = 0; i < h; ++i) {
            throwIfAborted();
            detail::quickScaleLine(dst + i * dstStride, strips.row(sourceRow(i)), columns.data(), w,
                                   sampleSize, components, 0);
        }
        return true;
    }

    long tileW = 0, tileH = 0;
    if (isTiled(&tileW, &tileH)) {
        const TileShape tile(*this, tileW, tileH, size, operation);
        if (srcW / dstW > tile.width && srcH / dstH > tile.height) {
            // Every sampled pixel lies in a tile of its own: read just those.
            TilePixels tiles(*this, tile);
            for (long i = 0; i < h; ++i) {
                throwIfAborted();
                const long row = sourceRow(i);
                char* out = dst + i * dstStride;
                for (long j = 0; j < w; ++j)
                    copyPixel(out + j * size, tiles.pixel(sourceColumn[j], row), size);
            }
            return true;
        }
        // A band of whole tile columns covering the sampled columns, one tile row high.
        const long bandStart = sourceColumn.front() / tile.width * tile.width;
        const long bandEnd = (sourceColumn.back() / tile.width + 1) * tile.width;
        const long bandLineSize = product(bandEnd - bandStart, size);
        // The last tile's lines end exactly at the band's end; the slack absorbs a format that pads them.
        BlockCache band(product(tile.height, bandLineSize) + (tile.lineSize - tile.width * size));
        setColumns(bandStart);
        for (long i = 0; i < h; ++i) {
            throwIfAborted();
            const long row = sourceRow(i);
            setCurrentTile(bandStart, row);
            const char* lines = band.get({currentTileY(), 0}, [&](char* buffer) {
                for (long tx = bandStart; tx < bandEnd; tx += tile.width) {
                    setCurrentTile(tx, row);
                    readCurrentTile(buffer + (tx - bandStart) * size, bandLineSize);
                }
            });
            detail::quickScaleLine(dst + i * dstStride, lines + (row % tile.height) * bandLineSize,
                                   columns.data(), w, sampleSize, components, 0);
        }
        return true;
    }
    return false;
}

void IoImageDataDevice::readCurrentDownsampledRect(long dstW, long dstH, long x, long y, long w, long h,
                                                   void* dst, long dstStride) {
    requireRead(*this, "readCurrentDownsampledRect");
    requireDownsampleArguments(*this, dstW, dstH, x, y, w, h);
    requireScalableBits(*this, "readCurrentDownsampledRect");
    downsampleCurrentPlane(dstW, dstH, x, y, w, h, static_cast<char*>(dst), dstStride);
}

void IoImageDataDevice::packedDownsampledRect(long dstW, long dstH, long x, long y, long w, long h, void* dst,
                                              long dstStride) {
    requireRead(*this, "packedDownsampledRect");
    requireUniformPlanes(*this, "packedDownsampledRect");
    const long planeCount = planes();
    if (planeCount == 1) {
        setCurrentPlane(0);
        readCurrentDownsampledRect(dstW, dstH, x, y, w, h, dst, dstStride);
        return;
    }
    requireDownsampleArguments(*this, dstW, dstH, x, y, w, h);
    const long bits = bitsPerComponentStored(), components = componentsPerPixel();
    sampleBytes(bits, toComponent);
    const long tempStride = align(product(w, pixelSize(*this)), lineAlignment());
    ByteVector temp(static_cast<size_t>(product(h, tempStride)));
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        // A plane that offers no access leaves its components of dst as they were.
        if (downsampleCurrentPlane(dstW, dstH, x, y, w, h, temp.data(), tempStride))
            copyPlaneToComponent(componentOfPlane(p, planeCount, interpretation()) * components, channels(),
                                 bits, temp.data(), tempStride, dst, dstStride, w, h, components);
    }
}

void IoImageDataDevice::planarDownsampledRect(long dstW, long dstH, long x, long y, long w, long h, void* dst,
                                              long dstStride) {
    requireRead(*this, "planarDownsampledRect");
    requireUniformPlanes(*this, "planarDownsampledRect");
    const long planeCount = planes(), components = componentsPerPixel(), rows = height();
    char* out = static_cast<char*>(dst);
    if (components == 1) {
        for (long p = 0; p < planeCount; ++p) {
            setCurrentPlane(p);
            readCurrentDownsampledRect(dstW, dstH, x, y, w, h, out + p * rows * dstStride, dstStride);
        }
        return;
    }
    requireDownsampleArguments(*this, dstW, dstH, x, y, w, h);
    const long bits = bitsPerComponentStored();
    sampleBytes(bits, toPlane);
    const long tempStride = align(product(w, pixelSize(*this)), lineAlignment());
    ByteVector temp(static_cast<size_t>(product(h, tempStride)));
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        if (!downsampleCurrentPlane(dstW, dstH, x, y, w, h, temp.data(), tempStride))
            continue;
        for (long c = 0; c < components; ++c)
            copyComponentToPlane(c, components, bits, temp.data(), tempStride,
                                 out + (p * components + c) * rows * dstStride, dstStride, w, h);
    }
}

// ---- Scattered pixels

bool IoImageDataDevice::readCurrentPlanePixels(const std::vector<Coordinates>& points, char* dst) {
    const char* operation = "readCurrentPixels";
    const int threads = propertyInt(Threads);
    const long count = static_cast<long>(points.size());
    const long size = pixelSize(*this), lineSize = planeLineSize(*this);
    if (count == 0)
        return true;
    // Visit the points row by row so that consecutive ones share strips and tiles; results keep their slots.
    std::vector<long> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0L);
    std::sort(order.begin(), order.end(), [&](long a, long b) {
        return points[a].y != points[b].y ? points[a].y < points[b].y : points[a].x < points[b].x;
    });

    if (const char* plane = static_cast<const char*>(memoryMappedPlane())) {
        ParallelFor(
            0L, count,
            [&](long s) {
                throwIfAborted();
                const long k = order[s];
                copyPixel(dst + k * size, plane + points[k].y * lineSize + points[k].x * size, size);
            },
            threads);
        return true;
    }

    long rowsPerStrip = 0;
    if (isStriped(&rowsPerStrip)) {
        StripRows strips(*this, rowsPerStrip, lineSize, operation);
        for (const long k : order) {
            throwIfAborted();
            copyPixel(dst + k * size, strips.row(points[k].y) + points[k].x * size, size);
        }
        return true;
    }

    long tileW = 0, tileH = 0;
    if (isTiled(&tileW, &tileH)) {
        TilePixels tiles(*this, TileShape(*this, tileW, tileH, size, operation));
        for (const long k : order) {
            throwIfAborted();
            copyPixel(dst + k * size, tiles.pixel(points[k].x, points[k].y), size);
        }
        return true;
    }
    return false;
}

void IoImageDataDevice::readCurrentPixels(const std::vector<Coordinates>& points, void* dst, long dstSize) {
    requireRead(*this, "readCurrentPixels");
    requireScalableBits(*this, "readCurrentPixels");
    requireDestinationSize(product(pixelSize(*this), static_cast<long>(points.size())), dstSize,
                           "readCurrentPixels");
    requirePointsInside(*this, points);
    readCurrentPlanePixels(points, static_cast<char*>(dst));
}

void IoImageDataDevice::packedPixels(const std::vector<Coordinates>& points, void* dst, long dstSize) {
    requireRead(*this, "packedPixels");
    requireUniformPlanes(*this, "packedPixels");
    const long planeCount = planes();
    if (planeCount == 1) {
        setCurrentPlane(0);
        readCurrentPixels(points, dst, dstSize);
        return;
    }
    const long bits = bitsPerComponentStored(), components = componentsPerPixel();
    sampleBytes(bits, toComponent);
    const long count = static_cast<long>(points.size()), tempSize = product(count, pixelSize(*this));
    requireDestinationSize(product(tempSize, planeCount), dstSize, "packedPixels");
    requirePointsInside(*this, points);
    ByteVector temp(static_cast<size_t>(tempSize));
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        if (readCurrentPlanePixels(points, temp.data()))
            copyPlaneToComponent(componentOfPlane(p, planeCount, interpretation()) * components, channels(),
                                 bits, temp.data(), 0, dst, 0, count, 1, components);
    }
}

void IoImageDataDevice::planarPixels(const std::vector<Coordinates>& points, void* dst, long dstSize) {
    requireRead(*this, "planarPixels");
    requireUniformPlanes(*this, "planarPixels");
    const long planeCount = planes(), components = componentsPerPixel();
    const long count = static_cast<long>(points.size());
    char* out = static_cast<char*>(dst);
    if (components == 1) {
        requireScalableBits(*this, "readCurrentPixels");
        // Blocks lie count samples apart; each plane may fill only what is left after its block's start.
        const long blockSize = product(count, bytesPerComponent());
        requireDestinationSize(product(blockSize, planeCount), dstSize, "planarPixels");
        for (long p = 0; p < planeCount; ++p) {
            setCurrentPlane(p);
            readCurrentPixels(points, out + p * blockSize, dstSize - p * blockSize);
        }
        return;
    }
    const long bits = bitsPerComponentStored();
    sampleBytes(bits, toPlane);
    const long blockSize = product(count, bytesPerComponent()), tempSize = product(count, pixelSize(*this));
    requireDestinationSize(product(blockSize, channels()), dstSize, "planarPixels");
    requirePointsInside(*this, points);
    ByteVector temp(static_cast<size_t>(tempSize));
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        if (!readCurrentPlanePixels(points, temp.data()))
            continue;
        for (long c = 0; c < components; ++c)
            copyComponentToPlane(c, components, bits, temp.data(), 0, out + (p * components + c) * blockSize,
                                 0, count, 1);
    }
}

} // namespace Zan
