// Opens arbitrary bytes as a native image file from memory, asks for every document and reads every frame
// whose chunk the file holds, every way there is: raw and compressed, mapped and by positioned reads, whole,
// by rectangle and by strip, each into a destination of exactly the rows it reaches; then sums and sets the
// first frame, whole and by rectangle, on a writable copy. Only a false
// open, the library's documented exceptions and the JSON library's errors may come
// out; a crash, a hang, any other exception or an allocation beyond what the file allows is a finding.
// Coordinates are computed from the loop counts and checked to lead back to their frame; the whole frame
// table, whose size the counts decide rather than the file's bytes, is asked for only where it is small.

#include <support/FuzzFrameTable.h>
#include <support/FuzzRequire.h>

#include <legacy/VkDiagnostics.h>
#include <metadata/JsonBridge.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>

#include <support/FuzzNative.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using json = nlohmann::json;
using Zan::IoImageDataDevice;

using ZanTest::fuzzGuarded;

// Rows, counted from the rectangle's top row, that a read of r into a destination reaches in a frame of
// height rows: none when r misses the frame.
long rowsReached(const Zan::Rectangle& r, long height) {
    const long end = std::min(r.y + r.height, height), start = std::max(r.y, 0L);
    return end > start ? end - r.y : 0;
}

// A destination of exactly the rows a read reaches, at least one byte: a frame of very wide rows but none
// of them costs nothing, and a read that writes beyond its rows is caught by the sanitizer.
std::vector<char> destination(long stride, long rows) {
    return std::vector<char>(static_cast<std::size_t>(std::max(stride * rows, 1L)));
}

void readFrame(Zan::QpxFileDevice& file, unsigned seq) {
    for (const IoImageDataDevice::OpenMode mode : {0x1u, 0x5u}) {
        fuzzGuarded([&] {
            const auto frame = file.imageData(seq);
            if (!frame->open(mode))
                return;
            // The frame opened, so its plane lies in the chunk (raw) or was inflated from it: line * h bytes
            // bound every destination below.
            const long line = frame->packedLineSize(4);
            const long w = frame->width(), h = frame->height();
            std::vector<char> plane = destination(line, h);
            frame->packedImage(plane.data(), line);
            const Zan::Rectangle middle{w / 3, h / 3, w / 2, h / 2};
            std::vector<char> part = destination(line, rowsReached(middle, h));
            frame->packedImageRect(part.data(), line, middle);
            const Zan::Rectangle around{-1, h - 2, w + 5, 9};
            std::vector<char> edge = destination(line, rowsReached(around, h));
            frame->readCurrentPlaneRect(edge.data(), line, around);
            if (h > 0) {
                frame->setCurrentStrip(h - 1);
                frame->readCurrentStrip(plane.data(), line);
                const long dw = std::max(w / 4, 1L), dh = std::max(h / 4, 1L);
                const long dline = (dw * (line / std::max(w, 1L)) + 3) / 4 * 4;
                std::vector<char> small = destination(std::max(dline, 4L), dh);
                frame->packedDownsampledRect(dw, dh, 0, 0, dw, dh, small.data(), std::max(dline, 4L));
            }
            frame->close();
        });
    }
}

// Sums into and sets frame 0 of a writable copy of the bytes, with data of the sizes the frame asks for.
// Only a frame that opened for reading is written: its plane is bounded by the file's bytes.
void writeFrame(const std::uint8_t* data, std::size_t size) {
    Zan::QpxFileDevice file(size, data);
    fuzzGuarded([&] {
        if (!file.open(Zan::IoDevice::Read | Zan::IoDevice::Update, 3, nullptr))
            return;
        long line = 0, w = 0, h = 0, pixel = 0;
        {
            const auto frame = file.imageData(0);
            if (!frame->open(IoImageDataDevice::Read))
                return;
            line = frame->packedLineSize(4);
            w = frame->width();
            h = frame->height();
            pixel = frame->packedLineSize(1) / std::max(w, 1L);
        }
        const Zan::ByteVector plane(static_cast<std::size_t>(line * h), 3);
        fuzzGuarded([&] { file.addImageData(plane, 0); });
        const Zan::Rectangle r{w / 3, h / 3, w / 2, h / 2};
        fuzzGuarded([&] { file.addImageDataRect(Zan::ByteVector(r.width * pixel * r.height, 5), 0, r); });
        fuzzGuarded([&] {
            file.setImageDataRect(Zan::ByteVector((r.width * pixel + 3) / 4 * 4 * r.height, 7), 0, r);
        });
        fuzzGuarded([&] { file.setImageData(plane, 0); });
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The legacy readers' complaints about damaged metadata are expected here.
    const ZanLegacy::CVkDiagnosticCapture quiet;
    Zan::QpxFileDevice file(size, data);
    int err = 0;
    fuzzGuarded([&] { file.open(Zan::IoDevice::Read, 3, &err); });
    if (file.openMode() == 0)
        return 0;
    json raw;
    fuzzGuarded([&] { raw = file.rawMetadata(); });
    fuzzGuarded([&] { file.attributes(); });
    fuzzGuarded([&] { file.textInfo(); });
    fuzzGuarded([&] { file.customMetadata("camera"); });
    fuzzGuarded([&] { file.customMetadata("camera", 0); });
    unsigned frames = 0;
    fuzzGuarded([&] { file.experiment(); });
    fuzzGuarded([&] { frames = file.sequenceCount(); });
    fuzzGuarded([&] { file.metadata(); });
    fuzzGuarded([&] {
        if (frames == 0)
            return;
        const std::vector<unsigned> last = file.loopIndexes(frames - 1);
        unsigned seq = 0;
        // Frames without loop indexes all answer to the empty tuple, which names the first.
        ZanTest::fuzzRequire(file.sequenceIndex(last, &seq) && seq == (last.empty() ? 0 : frames - 1));
        if (frames <= ZanTest::kFuzzTableFrames) {
            const auto table = file.allLoopIndexes();
            ZanTest::fuzzRequire(table.size() == frames && table.back() == last);
        }
    });
    fuzzGuarded([&] { file.frameMetadata(0, ""); });
    fuzzGuarded([&] { file.frameMetadata(frames - 1, "/channels/0/time"); });
    // Every frame the file holds a chunk for: a frame without one only makes a read-only open return false.
    const std::string prefix = "ImageDataSeq|";
    std::vector<std::string> names;
    fuzzGuarded([&] { names = file.chunkedDevice().chunkNames(); });
    for (const std::string& name : names) {
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 || name.back() != '!')
            continue;
        const char* const end = name.data() + name.size() - 1;
        unsigned seq = 0;
        const auto [stop, error] = std::from_chars(name.data() + prefix.size(), end, seq);
        if (error == std::errc() && stop == end && seq < frames)
            readFrame(file, seq);
    }
    writeFrame(data, size);
    return 0;
}
