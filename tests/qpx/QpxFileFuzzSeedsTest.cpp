// Writes the seed corpus of the native-file fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/qpx_file_fuzz build/rel/tests/test_qpx
//   --gtest_filter='QpxFileFuzzSeeds.*'
// The seeds are small native files written by our devices: raw and compressed frames, one and three
// components, version 2 and 3, nested loops, frame times and component ranges.

#include "QpxFileTestSupport.h"

#include <support/RawMetadataFixtures.h>

#include <qpx/QpxImageData.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

using namespace native_test;
using Zan::IoDevice;
using Zan::IoImageDataDevice;

// A file written on a memory buffer by fill, its bytes.
Bytes written(const std::function<void(QpxFileDevice&)>& fill) {
    QpxFileDevice file(std::make_unique<QpxFileDevice::Impl>(std::make_unique<Zan::IoMemoryBuffer>()));
    EXPECT_TRUE(file.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
    fill(file);
    file.close();
    const auto* buffer = dynamic_cast<const Zan::IoMemoryBuffer*>(file.chunkedDevice().device());
    return Bytes(buffer->data(), static_cast<std::size_t>(buffer->size()));
}

void frames(QpxFileDevice& file, const NativeGeometry& g, unsigned count) {
    file.setRawMetadata(ZanTest::nativeRaw(g, count));
    for (unsigned f = 0; f < count; ++f) {
        auto frame = file.imageData(f);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Write));
        ZanTest::writeNativeFrame(*frame, g, f);
        frame->close();
    }
}

TEST(QpxFileFuzzSeeds, Write) {
    const char* target = std::getenv("ZAN_WRITE_FUZZ_SEEDS");
    if (!target)
        GTEST_SKIP() << "set ZAN_WRITE_FUZZ_SEEDS to a directory to write the seeds";
    const std::filesystem::path dir(target);
    std::filesystem::create_directories(dir);
    const auto save = [&](const char* name, const Bytes& bytes) {
        chunked_test::writeFile(dir / name, bytes);
    };
    save("gray8-raw-2f.qpx", written([](QpxFileDevice& f) { frames(f, {"g", 13, 5, 8, 8, 1}, 2); }));
    save("gray12-zlib-1f.qpx", written([](QpxFileDevice& f) { frames(f, {"g", 9, 4, 12, 16, 1, true}, 1); }));
    save("rgb8-raw-1f.qpx", written([](QpxFileDevice& f) { frames(f, {"c", 5, 3, 8, 8, 3}, 1); }));
    save("float32-zlib-1f.qpx", written([](QpxFileDevice& f) {
             frames(f, {"f", 4, 4, 32, 32, 1, true}, 1);
         }));
    save("caches.qpx", written([](QpxFileDevice& f) {
             frames(f, {"g", 4, 2, 16, 16, 1}, 2);
             const float ranges[] = {1, 9, 2, 8};
             const double times[] = {0.5, 100.25};
             f.setChunkedData("CustomData|FloatRangeCache!",
                              Zan::ByteVector(reinterpret_cast<const char*>(ranges),
                                              reinterpret_cast<const char*>(ranges) + sizeof ranges));
             f.setChunkedData("CustomData|AcqTimesCache!",
                              Zan::ByteVector(reinterpret_cast<const char*>(times),
                                              reinterpret_cast<const char*>(times) + sizeof times));
             f.setChunkedData("CustomDataVar|camera!",
                              ZanTest::xmlVariantBytes({{"dGain_dbl", 2.5}}, "Camera"));
         }));
    save("two-loops.qpx", written([](QpxFileDevice& f) {
             using namespace ZanTest;
             nlohmann::json raw = nativeRaw({"g", 2, 2, 8, 8, 1}, 6);
             raw["Experiment_dic"] =
                 level(TimeLevel, timePars(2), {level(ZStackLevel, zPars(3, 0, 2, 1, 1))});
             f.setRawMetadata(raw);
         }));
    save("version2.qpx", version2File({"v2", 6, 3, 8, 8, 1}, 1));
}

} // namespace
