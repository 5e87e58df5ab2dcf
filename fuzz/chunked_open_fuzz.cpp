// Opens arbitrary bytes as a container file through a memory buffer, loading the chunk map, and reads
// every chunk by every way there is. A file that opens cleanly must also take an appended chunk and a
// new map, and reopen with both. Inputs are never larger than the fuzzer's max_len, and the device only
// allocates what the input holds, so no limit of its own is needed here.

#include <support/ChunkedWalk.h>
#include <support/FuzzRequire.h>

#include <io/IoMemoryBuffer.h>
#include <qpx/QpxChunkedDevice.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace {

using Chunked = Zan::QpxFileDevice::ChunkedDevice;

std::unique_ptr<Chunked> over(const void* data, std::size_t size) {
    return std::make_unique<Chunked>(std::make_unique<Zan::IoMemoryBuffer>(size, data));
}

std::map<std::string, long> positions(Chunked& device) {
    std::map<std::string, long> result;
    for (const auto& name : device.chunkNames()) {
        long pos = 0;
        device.hasChunkInMap(name, &pos, nullptr);
        result[name] = pos;
    }
    return result;
}

using ZanTest::fuzzRequire;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto reader = over(data, size);
    int err = 0;
    const bool opened = reader->open(Zan::IoDevice::Read, 1, &err);
    chunked_walk::walk(*reader);
    if (!opened)
        return 0;

    // Append a chunk, store the map on close, and find everything again.
    auto writer = over(data, size);
    fuzzRequire(writer->open(Zan::IoDevice::Read | Zan::IoDevice::Update, 3, &err));
    const std::string name = "CustomData|fuzz!", payload = "appended";
    writer->storeChunk(name, payload.data(), payload.size());
    const auto expected = positions(*writer);
    writer->close();
    const auto* buffer = static_cast<const Zan::IoMemoryBuffer*>(writer->device());
    auto reopened = over(buffer->data(), static_cast<std::size_t>(buffer->size()));
    fuzzRequire(reopened->open(Zan::IoDevice::Read, 1, &err));
    fuzzRequire(positions(*reopened) == expected);
    const auto loaded = reopened->loadChunk(name);
    fuzzRequire(std::string(loaded.begin(), loaded.end()) == payload);
    return 0;
}
