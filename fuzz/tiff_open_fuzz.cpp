// Opens arbitrary bytes as a TIFF through a memory buffer, asks for every document (of a file with private
// tags also the frame documents and custom metadata of its blobs) and reads every frame by plane, by strip
// or tile, downsampled and by scattered pixels, with stop-on-error off and on. Frames whose buffers would
// exceed a few MiB are left unread and only the first frames of a long sequence are read, so
// that the run stays far below the fuzzer's memory limit; the device itself refuses strips and tiles above
// its own limit, and frame coordinates cost nothing whatever the loops declare.

#include <support/FuzzRequire.h>

#include <legacy/VkDiagnostics.h>
#include <tiff/TifFileDevice.h>

#include <io/IoImageDataDevice.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr long maxFrameBytes = 16L << 20;
constexpr unsigned maxFrames = 16;

bool small(Zan::IoImageDataDevice& frame) {
    const long w = frame.width(), h = frame.height(), channels = frame.channels();
    if (w < 1 || h < 1 || w > maxFrameBytes || h > maxFrameBytes || channels > 64)
        return false;
    long tileW = 0, tileH = 0, rows = 0;
    const long block = frame.isTiled(&tileW, &tileH) ? tileW * tileH : frame.isStriped(&rows) ? w * rows : 0;
    return w * h * channels * 4 <= maxFrameBytes && block >= 0 && block <= maxFrameBytes / 16;
}

void readFrame(Zan::IoImageDataDevice& frame, int stopOnError) {
    frame.setPropertyInt(Zan::IoImageDataDevice::StopOnError, stopOnError);
    const long stride = frame.packedLineSize(1);
    std::vector<char> packed(static_cast<size_t>(stride * frame.height()));
    frame.packedImage(packed.data(), stride);
    const long dstW = std::max(1L, frame.width() / 3), dstH = std::max(1L, frame.height() / 3);
    std::vector<char> scaled(static_cast<size_t>(dstW * dstH * frame.channels() * 4));
    frame.packedDownsampledRect(dstW, dstH, 0, 0, dstW, dstH, scaled.data(),
                                dstW * frame.channels() * frame.bytesPerComponent());
    const std::vector<Zan::IoImageDataDevice::Coordinates> points = {
        {0, 0}, {frame.width() - 1, frame.height() - 1}, {frame.width() / 2, frame.height() / 2}};
    std::vector<char> pixels(static_cast<size_t>(points.size() * frame.channels() * 4));
    frame.packedPixels(points, pixels.data(), static_cast<long>(pixels.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The legacy readers' complaints about damaged metadata blobs are expected here.
    const ZanLegacy::CVkDiagnosticCapture quiet;
    Zan::TifFileDevice device(size, data);
    try {
        if (!device.open(Zan::IoDevice::Read, 0, nullptr))
            return 0;
    } catch (const std::runtime_error&) {
        return 0; // tags the device cannot use
    }
    try {
        device.rawMetadata();
        device.attributes();
        device.textInfo();
        device.customMetadata("Notes");
        device.customMetadata("Stage", 1);
    } catch (const std::exception&) {
        // A document the bridge refuses is an error, not a crash.
    }
    try {
        device.metadata();
        device.experiment();
    } catch (const std::exception&) {
    }
    unsigned frames = 0;
    try {
        // The frames come from the experiment of a private-tag file, which may be refused.
        const unsigned count = device.sequenceCount();
        frames = std::min(count, maxFrames);
        // The last frame's coordinates, computed from the counts, lead back to it (frames without loop
        // indexes all answer to the empty tuple, which names the first).
        unsigned seq = 0;
        if (count > 0) {
            const std::vector<unsigned> last = device.loopIndexes(count - 1);
            ZanTest::fuzzRequire(device.sequenceIndex(last, &seq) && seq == (last.empty() ? 0 : count - 1));
        }
    } catch (const std::exception&) {
    }
    for (unsigned seq = 0; seq < frames; ++seq) {
        try {
            device.frameMetadata(seq, "");
        } catch (const std::exception&) {
        }
        auto frame = device.imageData(seq);
        frame->open(Zan::IoImageDataDevice::Read);
        if (!small(*frame))
            continue;
        for (int stop : {0, 1}) {
            try {
                readFrame(*frame, stop);
            } catch (const std::runtime_error&) {
                if (stop == 0)
                    std::abort(); // without stop-on-error, decoding failures are dropped
            } catch (const std::logic_error&) {
                // Depths the shared copies cannot convert.
            }
        }
    }
    device.close();
    return 0;
}
