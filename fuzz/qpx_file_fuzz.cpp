// Opens arbitrary bytes as a native image file from memory, asks for every document and reads the first
// frames every way there is: raw and compressed, mapped and by positioned reads, whole, by rectangle and
// by strip. Only a false open, the library's documented exceptions and the JSON library's errors may come
// out; a crash, a hang, any other exception or an allocation beyond what the file allows is a finding.
// The frame table is the one size that the file's loop counts decide rather than its bytes (the library
// caps it at 100 million frames); inputs whose loops describe more than 65,536 frames skip the table.

#include <support/FuzzFrameTable.h>

#include <legacy/VkDiagnostics.h>
#include <metadata/JsonBridge.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace {

using json = nlohmann::json;
using Zan::IoImageDataDevice;

template <typename F>
void guarded(F&& f) {
    try {
        f();
    } catch (const std::runtime_error&) {
    } catch (const std::logic_error&) {
    } catch (const json::exception&) {
    }
}

void readFrame(Zan::QpxFileDevice& file, unsigned seq) {
    for (const IoImageDataDevice::OpenMode mode : {0x1u, 0x5u}) {
        guarded([&] {
            const auto frame = file.imageData(seq);
            if (!frame->open(mode))
                return;
            // The frame opened, so its plane lies in the chunk (raw) or was inflated from it.
            const long line = frame->packedLineSize(4);
            // At least one byte: a frame of zero-byte pixels still gets a real destination.
            std::vector<char> plane(static_cast<std::size_t>(std::max(line * frame->height(), 1L)));
            frame->packedImage(plane.data(), line);
            const long w = frame->width(), h = frame->height();
            frame->packedImageRect(plane.data(), line, {w / 3, h / 3, w / 2, h / 2});
            frame->readCurrentPlaneRect(plane.data(), line, {-1, h - 2, w + 5, 9});
            frame->setCurrentStrip(h - 1);
            frame->readCurrentStrip(plane.data(), line);
            frame->packedDownsampledRect(std::max(w / 4, 1L), std::max(h / 4, 1L), 0, 0, std::max(w / 4, 1L),
                                         std::max(h / 4, 1L), plane.data(), line);
            frame->close();
        });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The legacy readers' complaints about damaged metadata are expected here.
    const ZanLegacy::CVkDiagnosticCapture quiet;
    Zan::QpxFileDevice file(size, data);
    int err = 0;
    guarded([&] { file.open(Zan::IoDevice::Read, 3, &err); });
    if (file.openMode() == 0)
        return 0;
    json raw;
    guarded([&] { raw = file.rawMetadata(); });
    guarded([&] { file.attributes(); });
    guarded([&] { file.textInfo(); });
    guarded([&] { file.customMetadata("camera"); });
    guarded([&] { file.customMetadata("camera", 0); });
    bool table = false;
    guarded([&] { table = ZanTest::smallFrameTable(raw); });
    // Every frame device derives the metadata documents, and with them the frame table.
    if (!table)
        return 0;
    unsigned frames = 1;
    {
        guarded([&] { file.experiment(); });
        guarded([&] { frames = file.sequenceCount(); });
        guarded([&] { file.metadata(); });
        guarded([&] {
            unsigned seq = 0;
            file.sequenceIndex(file.loopIndexes(frames - 1), &seq);
            file.allLoopIndexes();
        });
        guarded([&] { file.frameMetadata(0, ""); });
        guarded([&] { file.frameMetadata(frames - 1, "/channels/0/time"); });
    }
    for (unsigned seq = 0; seq < std::min(frames, 3u); ++seq)
        readFrame(file, seq);
    return 0;
}
