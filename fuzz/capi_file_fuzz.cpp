// Opens arbitrary bytes through the C interface as a C client does. The first byte picks the kind of file
// (even: a native ".qpx" name, odd: a ".tif" name), the rest is the file. Every function is called on the
// handle: loop coordinates and types (with a short type buffer), every document as a text, and the first
// and last frames fetched into a picture the interface initialises, into the same picture reused, and into
// one made too small. The interface must turn every failure into its result and never write past a
// picture. Frames whose pictures would exceed a few MiB are not fetched (their geometry is asked through
// the handle, which is the class library's device), so that the run stays far below the fuzzer's memory
// limit; coordinates, whatever the loops declare, cost nothing.

#include <capi/QpxReadSdk.h>

#include <support/FuzzCapi.h>

#include <legacy/VkDiagnostics.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void text(char* document) {
    Zan_FileFreeString(document);
}

void fetch(Zan_FileHandle file, unsigned seq) {
    if (ZanTest::capiSmallFrame(file, seq)) {
        Zan_Picture picture{};
        if (Zan_FileGetImageData(file, seq, &picture) == 0) {
            if (!picture.imageData || picture.size < picture.widthBytes * picture.height)
                std::abort();
            // The same picture again: its buffer is reused.
            const void* buffer = picture.imageData;
            if (Zan_FileGetImageData(file, seq, &picture) != 0 || picture.imageData != buffer)
                std::abort();
        }
        Zan_DestroyPicture(&picture);
    }
    // A picture too small for most frames is refused, never written past.
    Zan_Picture tiny{};
    Zan_InitPicture(&tiny, 3, 2, 8, 1);
    Zan_FileGetImageData(file, seq, &tiny);
    Zan_DestroyPicture(&tiny);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Opening a damaged file may already read metadata whose legacy readers complain; the interface
    // drops those lines itself, this only keeps the harness's own device calls quiet.
    const ZanLegacy::CVkDiagnosticCapture quiet;
    std::string path;
    Zan_FileHandle file = ZanTest::openCapiInput(data, size, path);
    if (!file)
        return 0;
    {
        text(Zan_FileGetAttributes(file));
        text(Zan_FileGetMetadata(file));
        text(Zan_FileGetTextinfo(file));
        text(Zan_FileGetExperiment(file));
        const size_t coords = Zan_FileGetCoordSize(file);
        for (unsigned coord = 0; coord <= coords && coord < 8; ++coord) {
            char type[5];
            (void)Zan_FileGetCoordInfo(file, coord, type, sizeof type);
            (void)Zan_FileGetCoordInfo(file, coord, nullptr, 0);
        }
        const unsigned frames = Zan_FileGetSeqCount(file);
        for (unsigned seq : {0u, frames - 1, frames}) {
            text(Zan_FileGetFrameMetadata(file, seq));
            std::vector<unsigned> at(coords + 1);
            const size_t n = Zan_FileGetCoordsFromSeqIndex(file, seq, at.data(), at.size());
            if (seq < frames && n > at.size())
                std::abort();
            unsigned found = 0;
            (void)Zan_FileGetSeqIndexFromCoords(file, at.data(), n, &found);
            if (frames > 0 && seq <= frames)
                fetch(file, seq);
        }
    }
    Zan_FileClose(file);
    return 0;
}
