#pragma once

// In-memory image-data devices for tests and benchmarks: the same frame held whole in memory, in strips, in
// tiles, or behind plain plane reads only, with any number of planes. They are strict about what the shared
// pixel code asks of them (cursor inside the frame, strides wide enough, operations their storage offers) and
// count their raw reads, so tests can see both wrong requests and needless re-reads.

#include <io/IoImageDataDevice.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZanTest {

enum class Storage { Memory, Striped, Tiled, Neither };

inline const char* storageName(Storage s) {
    switch (s) {
    case Storage::Memory:
        return "memory";
    case Storage::Striped:
        return "striped";
    case Storage::Tiled:
        return "tiled";
    case Storage::Neither:
        return "neither";
    }
    return "?";
}

struct Geometry {
    const char* name;
    long width;
    long height;
    long bitsUsed;
    long bitsStored;
    long components;
    long planes;
    long alignment = 4;
    int interpretation = Zan::IoImageDataDevice::Plain;
    int format = Zan::IoImageDataDevice::UnsignedInteger;
};

struct Layout {
    Storage storage = Storage::Memory;
    long rowsPerStrip = 5;
    long tileWidth = 8;
    long tileHeight = 8;
};

class TestImageDevice : public Zan::IoImageDataDevice {
public:
    using Sample = std::uint64_t;

    TestImageDevice(const Geometry& g, const Layout& layout) : g_(g), layout_(layout) {
        sampleBytes_ = bytesPerComponent();
        pixelBytes_ = sampleBytes_ * g.components;
        lineBytes_ = g.width * pixelBytes_;
        lineSize_ = align(lineBytes_, g.alignment);
        // Line padding holds a marker that no reader may hand out as pixels.
        planes_.assign(static_cast<size_t>(g.planes),
                       std::vector<char>(static_cast<size_t>(lineSize_ * g.height), static_cast<char>(0xEE)));
    }

    // ---- Test access to the stored samples.
    void fill(const std::function<Sample(long plane, long x, long y, long component)>& f) {
        for (long p = 0; p < g_.planes; ++p)
            for (long y = 0; y < g_.height; ++y)
                for (long x = 0; x < g_.width; ++x)
                    for (long c = 0; c < g_.components; ++c)
                        setSample(p, x, y, c, f(p, x, y, c));
    }
    Sample sample(long p, long x, long y, long c) const {
        Sample v = 0;
        std::memcpy(&v, at(p, x, y, c), static_cast<size_t>(sampleBytes_)); // little endian
        return v;
    }
    void setSample(long p, long x, long y, long c, Sample v) {
        std::memcpy(at(p, x, y, c), &v, static_cast<size_t>(sampleBytes_));
    }
    long planeLineSize() const { return lineSize_; }
    char* planeData(long p) { return planes_[p].data(); }

    // Raw reads made so far, and a hook run before each of them.
    long planeReads = 0, tileReads = 0, stripReads = 0, rectReads = 0;
    std::function<void()> beforeRead;
    // Buffer and stride of the last plane or rectangle read or write, to see whose buffer the format got.
    const void* lastBuffer = nullptr;
    long lastStride = 0;

    // ---- The device.
    const void* memoryMappedPlane() const override {
        return layout_.storage == Storage::Memory ? planes_[plane_].data() : nullptr;
    }
    bool isTiled(long* tileWidth, long* tileHeight) const override {
        if (layout_.storage != Storage::Tiled)
            return false;
        if (tileWidth)
            *tileWidth = layout_.tileWidth;
        if (tileHeight)
            *tileHeight = layout_.tileHeight;
        return true;
    }
    bool isStriped(long* rowsPerStrip) const override {
        if (layout_.storage != Storage::Striped)
            return false;
        if (rowsPerStrip)
            *rowsPerStrip = layout_.rowsPerStrip;
        return true;
    }
    Interpretation interpretation() const override { return static_cast<Interpretation>(g_.interpretation); }
    DataFormat dataFormat() const override { return static_cast<DataFormat>(g_.format); }
    long width() const override { return g_.width; }
    long height() const override { return g_.height; }
    long bitsPerComponentUsed() const override { return g_.bitsUsed; }
    long bitsPerComponentStored() const override { return g_.bitsStored; }
    long componentsPerPixel() const override { return g_.components; }
    long lineAlignment() const override { return g_.alignment; }
    long planes() const override { return g_.planes; }
    long currentPlane() const override { return plane_; }
    void setCurrentPlane(long plane) override {
        require(plane >= 0 && plane < g_.planes, "plane " + std::to_string(plane) + " out of range");
        plane_ = plane;
    }
    long currentTileX() const override { return tileX_; }
    long currentTileY() const override { return tileY_; }
    void setCurrentTile(long x, long y) override {
        requireStorage(Storage::Tiled, "tiles");
        requirePixel(x, y);
        tileX_ = x / layout_.tileWidth;
        tileY_ = y / layout_.tileHeight;
    }
    long currentStrip() const override { return strip_; }
    void setCurrentStrip(long y) override {
        requireStorage(Storage::Striped, "strips");
        requirePixel(0, y);
        strip_ = y / layout_.rowsPerStrip;
    }

    void readCurrentPlane(void* dst, long stride) override {
        ++planeReads;
        hook();
        transfer(static_cast<char*>(dst), stride, {0, 0, g_.width, g_.height}, true);
    }
    void writeCurrentPlane(const void* src, long stride) override {
        transfer(const_cast<char*>(static_cast<const char*>(src)), stride, {0, 0, g_.width, g_.height},
                 false);
    }
    void readCurrentTile(void* dst, long stride) override {
        requireStorage(Storage::Tiled, "tiles");
        ++tileReads;
        hook();
        tileTransfer(static_cast<char*>(dst), stride, true);
    }
    void writeCurrentTile(const void* src, long stride) override {
        requireStorage(Storage::Tiled, "tiles");
        tileTransfer(const_cast<char*>(static_cast<const char*>(src)), stride, false);
    }
    void readCurrentStrip(void* dst, long stride) override {
        requireStorage(Storage::Striped, "strips");
        ++stripReads;
        hook();
        transfer(static_cast<char*>(dst), stride, stripRect(), true);
    }
    void writeCurrentStrip(const void* src, long stride) override {
        requireStorage(Storage::Striped, "strips");
        transfer(const_cast<char*>(static_cast<const char*>(src)), stride, stripRect(), false);
    }
    void readCurrentPlaneRect(void* dst, long stride, const Zan::Rectangle& r) override {
        ++rectReads;
        hook();
        requireRect(r);
        transfer(static_cast<char*>(dst), stride, r, true);
    }
    void writeCurrentPlaneRect(const void* src, long stride, const Zan::Rectangle& r) override {
        requireRect(r);
        transfer(const_cast<char*>(static_cast<const char*>(src)), stride, r, false);
    }

private:
    static void require(bool ok, const std::string& what) {
        if (!ok)
            throw std::logic_error("TestImageDevice: " + what);
    }
    void requireStorage(Storage s, const char* what) const {
        require(layout_.storage == s, std::string("no ") + what + " in " + storageName(layout_.storage));
    }
    void requirePixel(long x, long y) const {
        require(x >= 0 && y >= 0 && x < g_.width && y < g_.height,
                "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside the frame");
    }
    void requireRect(const Zan::Rectangle& r) const {
        require(r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0 && r.x + r.width <= g_.width &&
                    r.y + r.height <= g_.height,
                "rectangle outside the frame");
    }
    void hook() {
        if (beforeRead)
            beforeRead();
    }
    char* at(long p, long x, long y, long c) {
        return planes_[p].data() + y * lineSize_ + x * pixelBytes_ + c * sampleBytes_;
    }
    const char* at(long p, long x, long y, long c) const {
        return planes_[p].data() + y * lineSize_ + x * pixelBytes_ + c * sampleBytes_;
    }
    Zan::Rectangle stripRect() const {
        const long first = strip_ * layout_.rowsPerStrip;
        return {0, first, g_.width, std::min(layout_.rowsPerStrip, g_.height - first)};
    }
    // Copies r between the plane and a buffer of r.height lines of r.width pixels; line padding stays put.
    void transfer(char* buffer, long stride, const Zan::Rectangle& r, bool toBuffer) {
        lastBuffer = buffer;
        lastStride = stride;
        const long bytes = r.width * pixelBytes_;
        require(stride >= bytes, "stride " + std::to_string(stride) + " below " + std::to_string(bytes));
        if (bytes == 0 || r.height == 0)
            return;
        char* plane = planes_[plane_].data();
        if (toBuffer && stride == bytes && bytes == lineSize_ && r.x == 0) {
            std::memcpy(buffer, plane + r.y * lineSize_, static_cast<size_t>(r.height * lineSize_));
            return;
        }
        for (long i = 0; i < r.height; ++i) {
            char* line = plane + (r.y + i) * lineSize_ + r.x * pixelBytes_;
            if (toBuffer)
                std::memcpy(buffer + i * stride, line, static_cast<size_t>(bytes));
            else
                std::memcpy(line, buffer + i * stride, static_cast<size_t>(bytes));
        }
    }
    // A whole tile of tileWidth x tileHeight pixels; the part beyond the frame reads as zeros.
    void tileTransfer(char* buffer, long stride, bool toBuffer) {
        const long tileBytes = layout_.tileWidth * pixelBytes_;
        require(stride >= tileBytes,
                "tile stride " + std::to_string(stride) + " below " + std::to_string(tileBytes));
        const long x0 = tileX_ * layout_.tileWidth, y0 = tileY_ * layout_.tileHeight;
        const long inside = std::min(layout_.tileWidth, g_.width - x0) * pixelBytes_;
        for (long i = 0; i < layout_.tileHeight; ++i) {
            char* out = buffer + i * stride;
            const bool inFrame = y0 + i < g_.height;
            char* line = inFrame ? planes_[plane_].data() + (y0 + i) * lineSize_ + x0 * pixelBytes_ : nullptr;
            if (!toBuffer) {
                if (inFrame)
                    std::memcpy(line, out, static_cast<size_t>(inside));
                continue;
            }
            std::memset(out, 0, static_cast<size_t>(tileBytes));
            if (inFrame)
                std::memcpy(out, line, static_cast<size_t>(inside));
        }
    }

    Geometry g_;
    Layout layout_;
    long sampleBytes_ = 0, pixelBytes_ = 0, lineBytes_ = 0, lineSize_ = 0;
    std::vector<std::vector<char>> planes_;
    long plane_ = 0, tileX_ = 0, tileY_ = 0, strip_ = 0;
};

} // namespace ZanTest
