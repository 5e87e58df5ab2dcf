// Writes the seed corpus of the container fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/chunked_open_fuzz build/release/tests/test_qpx
//   --gtest_filter='ChunkedFuzzSeeds.*'
// The seeds are small files made by our writer, or laid out by hand where the writer cannot make them.

#include "ChunkedTestSupport.h"

#include <support/FuzzSeeds.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>

using namespace chunked_test;

TEST(ChunkedFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    auto written = [&](const std::string& file, const std::function<void(Chunked&)>& fill,
                       const std::array<int, 2>& version = {3, 0}) {
        auto device = memoryDevice();
        device->setVersion(version);
        ASSERT_TRUE(device->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
        fill(*device);
        device->close();
        writeFile(dir / file, contents(*device));
    };
    written("empty.qpx", [](Chunked&) {});
    written("metadata.qpx", [](Chunked& d) {
        d.storeChunk("ImageAttributesLV!", "attributes", 10);
        d.storeChunk("ImageMetadataLV!", "metadata", 8);
        d.storeChunk("ImageTextInfoLV!", "text", 4);
        d.storeChunk("ImageMetadataSeqLV|0!", "frame 0", 7);
    });
    written("frames.qpx", [](Chunked& d) {
        d.storeChunk("ImageDataSeq|0!", nullptr, 300);
        d.storeChunk("ImageDataSeq|1!", std::string(4061 - 15, 'p').data(), 4061 - 15);
        d.storeChunk("ImageTextInfoLV!", "old", 3);
        d.storeChunk("ImageTextInfoLV!", "new", 3);
    });
    written("version2.qpx", [](Chunked& d) { d.storeChunk("ImageAttributes!", "<xml/>", 6); }, {2, 0});

    Layout unusual;
    unusual.signature();
    const long first = unusual.chunk("A!", "one");
    const long second = unusual.chunk("B!", "two");
    unusual.map({{"B!", second, second}, {"A!", first, 3}, {"A!", second, 3}});
    writeFile(dir / "unknown-size-and-duplicate.qpx", unusual.bytes);
}
