// Opens arbitrary bytes as a JSON image set's description, as a reader of the set does: the document and
// its parts with their defaults, the loop-index table, frame entries and the metadata of the first and last
// frame with the typed records the facade reads from them, and the frame devices of those frames
// (constructed, never opened: names from the input must not make the target read arbitrary files). The
// library's own errors are expected; anything else, a crash or a table that does not match the sequence count
// is a finding. The frame cap is kept small so that every run stays fast.

#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <support/FuzzFrameTable.h>
#include <support/FuzzScratchDir.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

using json = nlohmann::json;

// A record read from a document as the facade reads it; a document it cannot read fails with the
// library's errors, and the run goes on.
template <typename Record>
void decode(const json& document) {
    try {
        (void)document.get<Record>();
    } catch (const json::exception&) {
    } catch (const std::runtime_error&) {
    }
}

void run(Zan::JsonFileDevice::Impl& set) {
    (void)set.contents();
    (void)set.rawMetadata();
    (void)set.textInfo();
    (void)set.allFrameFilenames();
    (void)set.attributes();
    (void)set.experiment();
    const unsigned frames = set.sequenceCount();
    // Coordinates are computed from the counts; only the whole table costs what the counts say.
    if (frames <= ZanTest::kFuzzTableFrames) {
        const auto table = set.allLoopIndexes();
        if (table.size() != frames || (frames > 0 && table.back() != set.loopIndexes(frames - 1)))
            std::abort();
    }
    // The records the facade reads from the parts.
    decode<Zan::IoImageFile::Attributes>(set.attributes());
    decode<std::vector<Zan::IoImageFile::ExperimentLoop>>(set.experiment());
    decode<Zan::IoImageFile::TextInfo>(set.textInfo());
    decode<Zan::IoImageFile::Metadata>(set.metadata());
    for (unsigned frame : {0u, frames - 1}) {
        if (frame >= frames)
            continue;
        // Frames without loop indexes all answer to the empty tuple, which names the first.
        unsigned found = frames;
        const std::vector<unsigned> coordinates = set.loopIndexes(frame);
        if (!set.sequenceIndex(coordinates, &found) || found != (coordinates.empty() ? 0 : frame))
            std::abort();
        decode<Zan::IoImageFile::FrameMetadata>(set.frameMetadata(frame, ""));
        (void)set.frameRef(frame);
        (void)set.imageData(frame);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    const std::string path = (ZanTest::fuzzScratchDirectory() / "set.json").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Zan::JsonFileDevice::Impl set(std::wstring(path.begin(), path.end()));
    if (!set.open(Zan::IoDevice::Read))
        std::abort();
    try {
        run(set);
    } catch (const json::exception&) {
    } catch (const std::runtime_error&) {
    }
    return 0;
}
