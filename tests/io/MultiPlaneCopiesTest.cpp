// The multi-plane copies over frames whose planes are separate devices, as an image set stores a frame one
// file per component: each plane brings its own geometry and its own strips or tiles. Planes of another
// geometry are refused before any buffer is sized; planes read in other ways are each read their own way.

#include <support/Expect.h>
#include <support/ImageDataTestDevices.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;
using Sample = TestImageDevice::Sample;

namespace {

// Plane p is device p; the cursor of the frame is its own.
class PlaneDevices : public IoImageDataDevice {
public:
    explicit PlaneDevices(std::vector<std::unique_ptr<TestImageDevice>> planes) : planes_(std::move(planes)) {
        for (auto& p : planes_)
            p->open(Read | Write);
        open(Read | Write);
    }
    TestImageDevice& plane(long p) { return *planes_[static_cast<size_t>(p)]; }

    const void* memoryMappedPlane() const override { return current().memoryMappedPlane(); }
    bool isTiled(long* w, long* h) const override { return current().isTiled(w, h); }
    bool isStriped(long* rows) const override { return current().isStriped(rows); }
    Interpretation interpretation() const override { return current().interpretation(); }
    DataFormat dataFormat() const override { return current().dataFormat(); }
    long width() const override { return current().width(); }
    long height() const override { return current().height(); }
    long bitsPerComponentUsed() const override { return current().bitsPerComponentUsed(); }
    long bitsPerComponentStored() const override { return current().bitsPerComponentStored(); }
    long componentsPerPixel() const override { return current().componentsPerPixel(); }
    long lineAlignment() const override { return current().lineAlignment(); }
    long planes() const override { return static_cast<long>(planes_.size()); }
    long currentPlane() const override { return plane_; }
    void setCurrentPlane(long plane) override { plane_ = plane; }
    long currentTileX() const override { return current().currentTileX(); }
    long currentTileY() const override { return current().currentTileY(); }
    void setCurrentTile(long x, long y) override { current().setCurrentTile(x, y); }
    long currentStrip() const override { return current().currentStrip(); }
    void setCurrentStrip(long y) override { current().setCurrentStrip(y); }
    void readCurrentPlane(void* dst, long stride) override { current().readCurrentPlane(dst, stride); }
    void readCurrentTile(void* dst, long stride) override { current().readCurrentTile(dst, stride); }
    void readCurrentStrip(void* dst, long stride) override { current().readCurrentStrip(dst, stride); }
    void writeCurrentPlane(const void* src, long stride) override {
        current().writeCurrentPlane(src, stride);
    }
    void writeCurrentTile(const void* src, long stride) override { current().writeCurrentTile(src, stride); }
    void writeCurrentStrip(const void* src, long stride) override {
        current().writeCurrentStrip(src, stride);
    }
    void readCurrentPlaneRect(void* dst, long stride, const Zan::Rectangle& r) override {
        current().readCurrentPlaneRect(dst, stride, r);
    }
    void writeCurrentPlaneRect(const void* src, long stride, const Zan::Rectangle& r) override {
        current().writeCurrentPlaneRect(src, stride, r);
    }

private:
    TestImageDevice& current() const { return *planes_.at(static_cast<size_t>(plane_)); }

    std::vector<std::unique_ptr<TestImageDevice>> planes_;
    long plane_ = 0;
};

struct PlaneSpec {
    Geometry geometry;
    Layout layout;
};

std::unique_ptr<PlaneDevices> frameOf(const std::vector<PlaneSpec>& specs) {
    std::vector<std::unique_ptr<TestImageDevice>> planes;
    for (const PlaneSpec& s : specs) {
        Geometry g = s.geometry;
        g.planes = 1;
        planes.push_back(std::make_unique<TestImageDevice>(g, s.layout));
    }
    return std::make_unique<PlaneDevices>(std::move(planes));
}

Geometry plane(long width, long height, long bits, long components = 1, long alignment = 4,
               int format = IoImageDataDevice::UnsignedInteger) {
    return {"plane", width, height, bits, bits, components, 1, alignment, IoImageDataDevice::Plain, format};
}

const Layout strips5{Storage::Striped, 5}, strips7{Storage::Striped, 7}, strips3{Storage::Striped, 3};
const Layout tiles8{Storage::Tiled, 1, 8, 8}, tiles16x4{Storage::Tiled, 1, 16, 4};
const Layout memory{Storage::Memory}, neither{Storage::Neither};

// A second plane of another size, depth, component count, line alignment or sample type: every copy that
// reads or writes several planes refuses the frame, naming both planes, before it touches a buffer sized
// from plane 0 (the buffers here are exactly that large, so a copy that went on would be caught).
TEST(MultiPlaneCopies, PlanesOfAnotherGeometryAreRefusedByEveryCopy) {
    const Geometry first = plane(4, 4, 8);
    const struct {
        const char* what;
        Geometry second;
        Layout layout;
        std::string holds;
    } cases[] = {
        {"size", plane(600, 600, 8), strips7, "600 x 600 pixels of 1 x 8 bits, lines aligned to 4"},
        {"depth", plane(4, 4, 16), strips5, "4 x 4 pixels of 1 x 16 bits, lines aligned to 4"},
        {"components", plane(4, 4, 8, 2), memory, "4 x 4 pixels of 2 x 8 bits, lines aligned to 4"},
        {"alignment", plane(4, 4, 8, 1, 64), neither, "4 x 4 pixels of 1 x 8 bits, lines aligned to 64"},
        {"sample type", plane(4, 4, 8, 1, 4, IoImageDataDevice::FloatingPoint), strips5,
         "4 x 4 pixels of 1 x 8 bits (floating point), lines aligned to 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto frame = frameOf({{first, strips5}, {c.second, c.layout}});
        std::vector<char> out(4 * 4 * 2), planar(4 * 4 * 2), pixels(2 * 2);
        std::vector<float> floats(4 * 4 * 2);
        const std::vector<IoImageDataDevice::Coordinates> points{{1, 1}, {3, 2}};
        const struct {
            const char* operation;
            std::function<void()> call;
        } copies[] = {
            {"packedImage", [&] { frame->packedImage(out.data(), 8); }},
            {"setPackedImage", [&] { frame->setPackedImage(out.data(), 8); }},
            {"packedImageToFloat", [&] { frame->packedImageToFloat(floats.data(), 32); }},
            {"planarImage", [&] { frame->planarImage(planar.data(), 4); }},
            {"packedDownsampledRect", [&] { frame->packedDownsampledRect(2, 2, 0, 0, 2, 2, out.data(), 4); }},
            {"planarDownsampledRect",
             [&] { frame->planarDownsampledRect(2, 2, 0, 0, 2, 2, planar.data(), 2); }},
            {"packedPixels", [&] { frame->packedPixels(points, pixels.data(), 4); }},
            {"planarPixels", [&] { frame->planarPixels(points, pixels.data(), 4); }},
        };
        for (const auto& copy : copies)
            EXPECT_EQ(messageOf<std::runtime_error>(copy.call),
                      std::string("IoImageDataDevice::") + copy.operation + ": plane 1 holds " + c.holds +
                          ", plane 0 4 x 4 pixels of 1 x 8 bits, lines aligned to 4")
                << copy.operation;
        EXPECT_EQ(frame->plane(1).stripReads + frame->plane(1).tileReads + frame->plane(1).rectReads +
                      frame->plane(1).planeReads,
                  0);
    }
}

// Planes of one geometry whose strips, tiles or memory differ are each read with their own: the result is
// the frame, whatever mix of accesses its planes offer.
TEST(MultiPlaneCopies, PlanesReadInDifferentWaysGiveTheFrame) {
    const struct {
        const char* what;
        std::vector<Layout> layouts;
        long bits;
    } cases[] = {
        {"strips of 5 and 7 rows", {strips5, strips7}, 8},
        {"strips and tiles", {strips5, tiles8, strips3}, 16},
        {"memory and strips", {memory, strips3}, 8},
        {"tiles of two sizes", {tiles8, tiles16x4}, 16},
        {"plane reads only and strips", {neither, strips7, memory}, 8},
    };
    const long width = 37, height = 23;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const long planeCount = static_cast<long>(c.layouts.size()), bytes = c.bits / 8;
        std::vector<PlaneSpec> specs;
        for (const Layout& layout : c.layouts)
            specs.push_back({plane(width, height, c.bits), layout});
        auto frame = frameOf(specs);
        const auto sample = [&](long p, long x, long y) {
            return static_cast<Sample>((x * 7 + y * 131 + p * 59 + 3) & ((1L << c.bits) - 1));
        };
        for (long p = 0; p < planeCount; ++p)
            frame->plane(p).fill([&](long, long x, long y, long) { return sample(p, x, y); });

        const long stride = width * planeCount * bytes;
        std::vector<char> packed(static_cast<size_t>(stride * height));
        std::vector<float> floats(static_cast<size_t>(width * planeCount * height));
        std::vector<char> planar(static_cast<size_t>(width * bytes * height * planeCount));
        frame->packedImage(packed.data(), stride);
        frame->packedImageToFloat(floats.data(), width * planeCount * static_cast<long>(sizeof(float)));
        frame->planarImage(planar.data(), width * bytes);
        for (long y = 0; y < height; ++y)
            for (long x = 0; x < width; ++x)
                for (long p = 0; p < planeCount; ++p) {
                    Sample got = 0, block = 0;
                    std::memcpy(&got, packed.data() + y * stride + (x * planeCount + p) * bytes,
                                static_cast<size_t>(bytes));
                    std::memcpy(&block, planar.data() + ((p * height + y) * width + x) * bytes,
                                static_cast<size_t>(bytes));
                    ASSERT_EQ(got, sample(p, x, y)) << x << ", " << y << ", plane " << p;
                    ASSERT_EQ(block, sample(p, x, y)) << x << ", " << y << ", plane " << p;
                    ASSERT_EQ(floats[static_cast<size_t>((y * width + x) * planeCount + p)],
                              static_cast<float>(sample(p, x, y)));
                }
    }
}

// A strip read that fills only its first row (a damaged strip read without stop-on-error, say) leaves the
// other rows as the band held them: zeros, never what the heap held before.
class FirstRowOfEachStrip : public TestImageDevice {
public:
    using TestImageDevice::TestImageDevice;
    void readCurrentStrip(void* dst, long) override {
        const long first = currentStrip() * 5;
        std::memcpy(dst, planeData(0) + first * planeLineSize(), static_cast<size_t>(width()));
    }
};

TEST(MultiPlaneCopies, RowsAFormatLeavesUnreadReachTheCallerAsZeros) {
    const long width = 37, height = 23, stride = width * 2;
    std::vector<std::unique_ptr<TestImageDevice>> planes;
    for (int p = 0; p < 2; ++p)
        planes.push_back(std::make_unique<FirstRowOfEachStrip>(plane(width, height, 8), strips5));
    PlaneDevices frame(std::move(planes));
    for (long p = 0; p < 2; ++p)
        frame.plane(p).fill([](long, long, long, long) { return 0x77; });
    // Heap blocks of the scratch's size that hold something else.
    for (int i = 0; i < 4; ++i) {
        std::vector<char> dirty(static_cast<size_t>(5 * 40 * 2), static_cast<char>(0x5A));
        asm volatile("" : : "r"(dirty.data()) : "memory");
    }
    std::vector<unsigned char> out(static_cast<size_t>(stride * height), 0xEE);
    frame.packedImage(out.data(), stride);
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < stride; ++x)
            ASSERT_EQ(out[static_cast<size_t>(y * stride + x)], y % 5 == 0 ? 0x77 : 0) << x << ", " << y;
}

} // namespace
