#pragma once

// Helpers of the native image-file device tests: files written by our devices, opened from a path or
// from memory, and a memory buffer that records which bytes were read.

#include "ChunkedTestSupport.h"

#include <support/NativeFiles.h>
#include <support/RawMetadataFixtures.h>

#include <io/IoMemoryBuffer.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFileDeviceImpl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace native_test {

using chunked_test::Bytes;
using Zan::QpxFileDevice;
using ZanTest::NativeGeometry;

// The bytes of a native file written by writeNativeFile.
inline Bytes nativeFileBytes(const NativeGeometry& g, std::uint32_t frames) {
    chunked_test::TempDir dir(std::string("native-") + g.name);
    const auto path = dir / "file.qpx";
    QpxFileDevice file(path.string());
    ZanTest::writeNativeFile(file, g, frames);
    return chunked_test::readFile(path);
}

// A memory buffer that records the offset and length of every read.
class RecordingBuffer : public Zan::IoMemoryBuffer {
public:
    using IoMemoryBuffer::IoMemoryBuffer;
    unsigned long readData(void* buffer, unsigned long n) override {
        reads.emplace_back(pos(), n);
        return IoMemoryBuffer::readData(buffer, n);
    }
    std::vector<std::pair<long, unsigned long>> reads;
};

// A device over a copy of bytes whose reads are recorded.
inline std::unique_ptr<QpxFileDevice> recordedDevice(const Bytes& bytes, RecordingBuffer*& buffer) {
    auto recording = std::make_unique<RecordingBuffer>(bytes.size(), bytes.data());
    buffer = recording.get();
    return std::make_unique<QpxFileDevice>(std::make_unique<QpxFileDevice::Impl>(std::move(recording)));
}

// Names of the chunks that reads from firstRead on touched, in the order first touched; reads of the
// signature and of the chunk map are left out.
inline std::vector<std::string> chunksRead(QpxFileDevice& device, RecordingBuffer& buffer,
                                           std::size_t firstRead = 0) {
    std::map<long, std::string> byPosition = {{0, ""}};
    for (const std::string& name : device.chunkedDevice().chunkNames()) {
        long pos = 0;
        device.chunkedDevice().hasChunkInMap(name, &pos, nullptr);
        byPosition[pos] = name;
    }
    const Bytes tail(buffer.data() + buffer.size() - 8, 8);
    byPosition[static_cast<long>(chunked_test::getLe(tail, 0, 8))] = "";
    std::vector<std::string> names;
    for (std::size_t i = firstRead; i < buffer.reads.size(); ++i) {
        const std::string& name = std::prev(byPosition.upper_bound(buffer.reads[i].first))->second;
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

// A version 2 file: the metadata as XML variants under the old chunk names, frames as a version 3 file
// has them.
inline Bytes version2File(const NativeGeometry& g, unsigned frames) {
    auto chunked = chunked_test::memoryDevice();
    chunked->setVersion({2, 0});
    if (!chunked->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
        throw std::runtime_error("version2File: cannot create the file");
    const ZanTest::RawMetadataBlocks b = ZanTest::xmlVariantBlocks(ZanTest::nativeRaw(g, frames));
    chunked->storeChunk("ImageAttributes!", b.attributes.data(), b.attributes.size());
    chunked->storeChunk("ImageMetadata!", b.experiment.data(), b.experiment.size());
    chunked->storeChunk("ImageTextInfo!", b.textInfo.data(), b.textInfo.size());
    chunked->storeChunk("ImageMetadataSeq|0!", b.metadata.data(), b.metadata.size());
    for (unsigned f = 0; f < frames; ++f) {
        Zan::QpxFileDevice::ImageData frame(
            *chunked, "ImageDataSeq|" + std::to_string(f) + "!", g.width, g.height, g.bitsUsed, g.bitsStored,
            g.components, Zan::IoImageDataDevice::Plain, Zan::IoImageDataDevice::UnsignedInteger,
            Zan::QpxFileDevice::ImageData::None, 0);
        frame.open(Zan::IoImageDataDevice::Write);
        ZanTest::writeNativeFrame(frame, g, f);
        frame.close();
    }
    chunked->close();
    return chunked_test::contents(*chunked);
}

} // namespace native_test
