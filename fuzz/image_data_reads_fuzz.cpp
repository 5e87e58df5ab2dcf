// Runs the shared pixel reads and writes of the image-data device over frames of arbitrary geometry and
// storage (whole plane in memory, strips, tiles, plain plane reads) with arbitrary rectangles, scales and
// points. Every destination is exactly as large as the operation's layout needs, so a write past it or a
// read past the frame is a sanitizer report. Refusals (std::exception) are fine.
#include <support/FuzzBytes.h>
#include <support/ImageDataTestDevices.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

namespace {

using Buffer = std::vector<char>;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ZanTest;
    using Zan::IoImageDataDevice;
    FuzzBytes in(data, size);

    Geometry g{"fuzz", 0, 0, 0, 0, 0, 0};
    g.width = in.range(1, 40);
    g.height = in.range(1, 40);
    g.bitsStored = in.range(1, 64);
    g.bitsUsed = in.range(1, g.bitsStored);
    g.components = in.range(1, 5);
    g.planes = in.range(1, 5);
    g.alignment = in.range(-1, 9);
    g.interpretation = static_cast<int>(in.range(0, 3));
    g.format = static_cast<int>(in.range(0, 1));
    Layout layout;
    layout.storage = static_cast<Storage>(in.range(0, 3));
    layout.rowsPerStrip = in.range(1, 50);
    layout.tileWidth = in.range(1, 20);
    layout.tileHeight = in.range(1, 20);

    TestImageDevice device(g, layout);
    device.fill([](long p, long x, long y, long c) {
        return static_cast<TestImageDevice::Sample>(0x0123456789ABCDEFull * (p + 1) + x * 7 + y * 131 + c);
    });
    device.setPropertyInt(IoImageDataDevice::Threads, static_cast<int>(in.range(-1, 3)));
    device.open(in.next() % 8 == 0 ? IoImageDataDevice::Write
                                   : IoImageDataDevice::Read | IoImageDataDevice::Write);

    const long bpc = device.bytesPerComponent();
    const long pixel = bpc * g.components;
    const long channels = g.components * g.planes;
    const unsigned operation = in.next() % 12;
    try {
        switch (operation) {
        case 0: {
            const long stride = device.packedLineSize(in.range(1, 8));
            Buffer dst(static_cast<size_t>(stride * g.height));
            device.packedImage(dst.data(), stride);
            break;
        }
        case 1: {
            const long stride = device.packedLineSize(1);
            Buffer src(static_cast<size_t>(stride * g.height), 7);
            device.setPackedImage(src.data(), stride);
            break;
        }
        case 2: {
            const long stride = g.width * channels * static_cast<long>(sizeof(float));
            std::vector<float> dst(static_cast<size_t>(g.width * channels * g.height));
            device.packedImageToFloat(dst.data(), stride);
            break;
        }
        case 3:
        case 4: {
            Zan::Rectangle r{in.range(-2, g.width), in.range(-2, g.height), in.range(-1, g.width),
                             in.range(-1, g.height)};
            const long w = std::max(0L, static_cast<long>(r.width)),
                       h = std::max(0L, static_cast<long>(r.height));
            if (operation == 3) {
                Buffer dst(static_cast<size_t>(w * pixel * h));
                device.packedImageRect(dst.data(), w * pixel, r);
            } else {
                std::vector<float> dst(static_cast<size_t>(w * g.components * h));
                device.packedImageRectToFloat(dst.data(), w * g.components * static_cast<long>(sizeof(float)),
                                              r);
            }
            break;
        }
        case 5: {
            const long stride = g.width * bpc;
            Buffer dst(static_cast<size_t>(channels * g.height * stride));
            device.planarImage(dst.data(), stride);
            break;
        }
        case 6:
        case 7:
        case 8: {
            const long dstW = in.range(-1, g.width + 1), dstH = in.range(-1, g.height + 1);
            const long x = in.range(-1, dstW), y = in.range(-1, dstH);
            const long w = in.range(-1, dstW - x + 1), h = in.range(-1, dstH - y + 1);
            const long cw = std::max(0L, w), ch = std::max(0L, h);
            if (operation == 6) {
                Buffer dst(static_cast<size_t>(ch * cw * pixel));
                device.readCurrentDownsampledRect(dstW, dstH, x, y, w, h, dst.data(), cw * pixel);
            } else if (operation == 7) {
                Buffer dst(static_cast<size_t>(ch * cw * pixel * g.planes));
                device.packedDownsampledRect(dstW, dstH, x, y, w, h, dst.data(), cw * pixel * g.planes);
            } else {
                // Blocks lie the frame's full height apart.
                Buffer dst(static_cast<size_t>(channels * g.height * cw * bpc));
                device.planarDownsampledRect(dstW, dstH, x, y, w, h, dst.data(), cw * bpc);
            }
            break;
        }
        default: {
            std::vector<IoImageDataDevice::Coordinates> points(static_cast<size_t>(in.range(0, 12)));
            for (auto& p : points)
                p = {in.range(-1, g.width), in.range(-1, g.height)};
            const long needed = static_cast<long>(points.size()) * pixel * (operation == 9 ? 1 : g.planes);
            const long dstSize = std::max(0L, needed - in.range(0, 2));
            Buffer dst(static_cast<size_t>(dstSize));
            if (operation == 9)
                device.readCurrentPixels(points, dst.data(), dstSize);
            else if (operation == 10)
                device.packedPixels(points, dst.data(), dstSize);
            else
                device.planarPixels(points, dst.data(), dstSize);
            break;
        }
        }
    } catch (const std::exception&) {
    }
    return 0;
}
