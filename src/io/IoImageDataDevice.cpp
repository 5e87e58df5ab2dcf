#include <io/IoImageDataDevice.h>

#include <io/DefaultInitAllocator.h>
#include <io/Exception.h>
#include <io/ParallelFor.h>

#include <algorithm>
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

// Products of sizes that come from a file: refuse what does not fit rather than wrap around.
long product(long a, long b) {
    long result = 0;
    if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &result))
        throw std::runtime_error("IoImageDataDevice: buffer size out of range (" + std::to_string(a) + " x " +
                                 std::to_string(b) + ")");
    return result;
}

long pixelSize(const IoImageDataDevice& device) {
    return product(device.bytesPerComponent(), device.componentsPerPixel());
}

long planeLineSize(const IoImageDataDevice& device) {
    return device.align(product(device.width(), pixelSize(device)), device.lineAlignment());
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

template <typename T>
T load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void store(char* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

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
                store<D>(out, static_cast<D>(load<S>(in)));
        } else {
            for (long x = 0; x < count; ++x, in += s.step * inSize, out += d.step * outSize)
                for (long k = 0; k < perPixel; ++k)
                    store<D>(out + k * outSize, static_cast<D>(load<S>(in + k * inSize)));
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

// Fixed-size pixel copies compile to plain moves; the sizes below cover 1 to 4 components of 1, 2 or 4 bytes.
template <long Size>
void gatherPixels(char* dst, const char* line, const long* columns, long count) {
    for (long j = 0; j < count; ++j, dst += Size)
        std::memcpy(dst, line + columns[j], Size);
}

// Writes count pixels to dst, pixel j from line + columns[j] (byte offsets). A non-zero mask is ANDed into
// 2-byte samples.
void quickScaleLine(char* dst, const char* line, const long* columns, long count, long sampleSize,
                    long components, unsigned short mask) {
    const long size = sampleSize * components;
    if (mask != 0 && sampleSize == 2) {
        for (long j = 0; j < count; ++j)
            for (long k = 0; k < components; ++k, dst += 2)
                store<std::uint16_t>(dst, load<std::uint16_t>(line + columns[j] + 2 * k) & mask);
        return;
    }
    switch (size) {
    case 1:
        return gatherPixels<1>(dst, line, columns, count);
    case 2:
        return gatherPixels<2>(dst, line, columns, count);
    case 3:
        return gatherPixels<3>(dst, line, columns, count);
    case 4:
        return gatherPixels<4>(dst, line, columns, count);
    case 6:
        return gatherPixels<6>(dst, line, columns, count);
    case 8:
        return gatherPixels<8>(dst, line, columns, count);
    case 12:
        return gatherPixels<12>(dst, line, columns, count);
    case 16:
        return gatherPixels<16>(dst, line, columns, count);
    default:
        for (long j = 0; j < count; ++j, dst += size)
            std::memcpy(dst, line + columns[j], static_cast<size_t>(size));
    }
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
    if (alignment < 1)
        alignment = 1;
    // Both may come from a file: refuse a rounded size that does not fit rather than wrap around.
    long rounded = 0;
    if (__builtin_add_overflow(value, alignment - 1, &rounded))
        throw std::runtime_error("IoImageDataDevice: line size out of range (" + std::to_string(value) +
                                 " aligned to " + std::to_string(alignment) + ")");
    return alignment * (rounded / alignment);
}

long IoImageDataDevice::packedLineSize(long alignment) const {
    return align(product(product(width(), bytesPerComponent()), channels()), alignment);
}

void IoImageDataDevice::throwIfAborted() const {
    if (abortFlag_ && std::atomic_ref<bool>(*abortFlag_).load(std::memory_order_relaxed))
        throw Exception::Aborted();
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
    const long bits = bitsPerComponentStored(), components = componentsPerPixel(), all = channels();
    sampleBytes(bits, toComponent);
    PlaneSource source(*this);
    for (long p = 0; p < planeCount; ++p) {
        setCurrentPlane(p);
        copyPlaneToComponent(componentOfPlane(p, planeCount, interpretation()) * components, all, bits,
                             source.current(), source.lineSize(), dst, stride, width(), height(), components);
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
                quickScaleLine(dst + i * dstStride, plane + sourceRow(i) * lineSize, columns.data(), w,
                               sampleSize, components, mask);
            },
            threads);
        return true;
    }

    long rowsPerStrip = 0;
    if (isStriped(&rowsPerStrip)) {
        requirePositive(rowsPerStrip, operation, "rows per strip");
        // Rows per strip come from the file; no strip holds more rows than the frame.
        ByteVector strip(static_cast<size_t>(product(std::min(rowsPerStrip, srcH), lineSize)));
        setColumns(0);
        bool loaded = false;
        long loadedStrip = 0;
        for (long i = 0; i < h; ++i) {
            throwIfAborted();
            const long row = sourceRow(i);
            setCurrentStrip(row);
            if (!loaded || currentStrip() != loadedStrip) {
                readCurrentStrip(strip.data(), lineSize);
                loadedStrip = currentStrip();
                loaded = true;
            }
            quickScaleLine(dst + i * dstStride, strip.data() + (row % rowsPerStrip) * lineSize,
                           columns.data(), w, sampleSize, components, 0);
        }
        return true;
    }

    long tileW = 0, tileH = 0;
    if (isTiled(&tileW, &tileH)) {
        requirePositive(tileW, operation, "tile width");
        requirePositive(tileH, operation, "tile height");
        const long tileLineSize = align(product(tileW, size), lineAlignment());
        if (srcW / dstW > tileW && srcH / dstH > tileH) {
            // Every sampled pixel lies in a tile of its own: read just those.
            ByteVector tile(static_cast<size_t>(product(tileH, tileLineSize)));
            bool loaded = false;
            long loadedX = 0, loadedY = 0;
            for (long i = 0; i < h; ++i) {
                throwIfAborted();
                const long row = sourceRow(i);
                char* out = dst + i * dstStride;
                for (long j = 0; j < w; ++j) {
                    const long column = sourceColumn[j];
                    setCurrentTile(column, row);
                    if (!loaded || currentTileX() != loadedX || currentTileY() != loadedY) {
                        readCurrentTile(tile.data(), tileLineSize);
                        loadedX = currentTileX();
                        loadedY = currentTileY();
                        loaded = true;
                    }
                    copyPixel(out + j * size,
                              tile.data() + (row % tileH) * tileLineSize + (column % tileW) * size, size);
                }
            }
            return true;
        }
        // A band of whole tile columns covering the sampled columns, one tile row high.
        const long bandStart = sourceColumn.front() / tileW * tileW;
        const long bandEnd = (sourceColumn.back() / tileW + 1) * tileW;
        const long bandLineSize = product(bandEnd - bandStart, size);
        // The last tile's lines end exactly at the band's end; the slack absorbs a format that pads them.
        ByteVector band(static_cast<size_t>(product(tileH, bandLineSize) + (tileLineSize - tileW * size)));
        setColumns(bandStart);
        bool loaded = false;
        long loadedRow = 0;
        for (long i = 0; i < h; ++i) {
            throwIfAborted();
            const long row = sourceRow(i);
            setCurrentTile(bandStart, row);
            if (!loaded || currentTileY() != loadedRow) {
                for (long tx = bandStart; tx < bandEnd; tx += tileW) {
                    setCurrentTile(tx, row);
                    readCurrentTile(band.data() + (tx - bandStart) * size, bandLineSize);
                }
                loadedRow = currentTileY();
                loaded = true;
            }
            quickScaleLine(dst + i * dstStride, band.data() + (row % tileH) * bandLineSize, columns.data(), w,
                           sampleSize, components, 0);
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
        requirePositive(rowsPerStrip, operation, "rows per strip");
        ByteVector strip(static_cast<size_t>(product(std::min(rowsPerStrip, height()), lineSize)));
        bool loaded = false;
        long loadedStrip = 0;
        for (const long k : order) {
            throwIfAborted();
            const Coordinates& p = points[k];
            setCurrentStrip(p.y);
            if (!loaded || currentStrip() != loadedStrip) {
                readCurrentStrip(strip.data(), lineSize);
                loadedStrip = currentStrip();
                loaded = true;
            }
            copyPixel(dst + k * size, strip.data() + (p.y % rowsPerStrip) * lineSize + p.x * size, size);
        }
        return true;
    }

    long tileW = 0, tileH = 0;
    if (isTiled(&tileW, &tileH)) {
        requirePositive(tileW, operation, "tile width");
        requirePositive(tileH, operation, "tile height");
        const long tileLineSize = align(product(tileW, size), lineAlignment());
        ByteVector tile(static_cast<size_t>(product(tileH, tileLineSize)));
        bool loaded = false;
        long loadedX = 0, loadedY = 0;
        for (const long k : order) {
            throwIfAborted();
            const Coordinates& p = points[k];
            setCurrentTile(p.x, p.y);
            if (!loaded || currentTileX() != loadedX || currentTileY() != loadedY) {
                readCurrentTile(tile.data(), tileLineSize);
                loadedX = currentTileX();
                loadedY = currentTileY();
                loaded = true;
            }
            copyPixel(dst + k * size, tile.data() + (p.y % tileH) * tileLineSize + (p.x % tileW) * size,
                      size);
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
