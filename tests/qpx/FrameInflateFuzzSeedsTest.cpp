// Writes the seed corpus of the frame decoder fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/frame_inflate_fuzz build/rel/tests/test_qpx
//   --gtest_filter='FrameInflateFuzzSeeds.*'
// Each seed is a plane size (three bytes, little-endian) and the stream our frame device stores for that
// plane at a level.

#include "ChunkedTestSupport.h"

#include <support/FuzzSeeds.h>

#include <qpx/QpxImageData.h>

#include <gtest/gtest.h>

#include <string>

using namespace chunked_test;
using ImageData = Zan::QpxFileDevice::ImageData;

TEST(FrameInflateFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const std::string name = "ImageDataSeq|0!";
    for (const int level : {0, 1, 6, 9}) {
        for (const long width : {3L, 64L}) {
            auto device = memoryDevice();
            ASSERT_TRUE(device->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
            ImageData frame(*device, name, width, 20, 16, 16, 1, Zan::IoImageDataDevice::Plain,
                            Zan::IoImageDataDevice::UnsignedInteger, ImageData::Lossless, level);
            ASSERT_TRUE(frame.open(Zan::IoImageDataDevice::Write));
            Bytes plane(static_cast<std::size_t>(frame.planeSize()), '\0');
            for (std::size_t i = 0; i < plane.size(); ++i)
                plane[i] = static_cast<char>(i * 7 % 251);
            frame.writeCurrentPlane(plane.data(), frame.lineBytes());
            frame.close();
            const Zan::ByteVector chunk = device->loadChunk(name);
            const auto size = static_cast<unsigned long>(plane.size());
            const Bytes seed =
                Bytes{char(size & 0xFF), char(size >> 8 & 0xFF), char(size >> 16 & 0xFF)} +
                Bytes(chunk.data() + ImageData::prefixBytes, chunk.size() - ImageData::prefixBytes);
            saveSeed(dir, "level" + std::to_string(level) + "_" + std::to_string(width) + "x20", seed);
        }
    }
}
