// Opens arbitrary bytes as a JSON image set's description, as a reader of the set does: the document and
// its parts with their defaults, the loop-index table, frame entries and the metadata of the first and last
// frame, and the frame devices of those frames (constructed, never opened: names from the input must not
// make the target read arbitrary files). The library's own errors are expected; anything else, a crash or a
// table that does not match the sequence count is a finding. The frame cap is kept small so that every run
// stays fast.

#include <jsonset/detail/JsonFileDeviceImpl.h>

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

// The description file of this process, in a directory of its own that goes when the process ends.
const std::string& descriptionPath() {
    static const struct Directory {
        std::string path;
        Directory() {
            char pattern[] = "/tmp/jsonset-fuzz-XXXXXX";
            if (!::mkdtemp(pattern))
                std::abort();
            path = pattern;
        }
        ~Directory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } directory;
    static const std::string path = directory.path + "/set.json";
    return path;
}

void run(Zan::JsonFileDevice::Impl& set) {
    (void)set.contents();
    (void)set.rawMetadata();
    (void)set.textInfo();
    (void)set.allFrameFilenames();
    (void)set.attributes();
    (void)set.experiment();
    const unsigned frames = set.sequenceCount();
    const auto table = set.allLoopIndexes();
    if (table.size() != frames)
        std::abort();
    (void)set.metadata();
    for (unsigned frame : {0u, frames - 1}) {
        if (frame >= frames)
            continue;
        unsigned found = frames;
        if (!set.sequenceIndex(set.loopIndexes(frame), &found) || found != frame)
            std::abort();
        (void)set.frameMetadata(frame, "");
        (void)set.frameRef(frame);
        (void)set.imageData(frame);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    const std::string& path = descriptionPath();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Zan::JsonFileDevice::Impl set(std::wstring(path.begin(), path.end()));
    set.maxFrames = 4096;
    if (!set.open(Zan::IoDevice::Read))
        std::abort();
    try {
        run(set);
    } catch (const json::exception&) {
    } catch (const std::runtime_error&) {
    }
    return 0;
}
