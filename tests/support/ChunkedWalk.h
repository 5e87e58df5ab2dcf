#pragma once

// Reads everything that an open chunked device offers, as a careful client would: the chunks walked from
// the start of the file, then every name of the map by each way of reaching it. A damaged file may make
// single operations fail with std::runtime_error or std::logic_error; such a failure ends only that
// operation. Anything else (std::bad_alloc, a crash) escapes, which is what the callers look for.

#include <io/IoMapping.h>
#include <qpx/QpxChunkedDevice.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace chunked_walk {

struct Summary {
    long walked = 0;   // chunks found by nextChunk from offset 0
    long named = 0;    // names in the map
    long failures = 0; // operations that refused the data
};

template <typename Operation>
void attempt(Summary& summary, Operation&& operation) {
    try {
        operation();
    } catch (const std::runtime_error&) {
        ++summary.failures;
    } catch (const std::logic_error&) {
        ++summary.failures;
    }
}

inline Summary walk(Zan::QpxFileDevice::ChunkedDevice& device) {
    Summary summary;
    if (!device.isOpen())
        return summary;
    attempt(summary, [&] {
        long pos = 0, next = 0;
        // Positions grow strictly, so the walk ends.
        while (device.nextChunk(pos, &next)) {
            std::string name;
            char head[64];
            device.readChunk(pos, &name, head, sizeof head);
            const auto data = device.readChunk(pos, &name);
            ++summary.walked;
            if (next <= pos)
                throw std::logic_error("walk does not advance");
            pos = next;
        }
    });
    std::vector<std::string> names;
    attempt(summary, [&] { names = device.chunkNames(); });
    summary.named = static_cast<long>(names.size());
    for (const auto& name : names) {
        attempt(summary, [&] {
            long pos = 0, size = 0;
            device.hasChunkInMap(name, &pos, &size);
            device.hasChunk(name, &size);
        });
        attempt(summary, [&] { device.loadChunk(name); });
        attempt(summary, [&] { device.chunkDataOffset(name); });
        attempt(summary, [&] {
            unsigned long size = 0;
            const Zan::IoMapping mapped(*device.device(), device.mapChunkData(name, &size));
            if (mapped) {
                volatile char sink = size ? static_cast<const char*>(mapped.get())[size - 1] : 0;
                (void)sink;
            }
        });
    }
    return summary;
}

} // namespace chunked_walk
