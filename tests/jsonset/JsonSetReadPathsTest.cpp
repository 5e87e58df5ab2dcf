// Every read path of the JSON-set frame devices (one TIFF file per frame, one per component), against the
// table of expected pixels: the frame is written through the set from the same samples and read back.

#include <support/ImageDataReadPaths.h>
#include <support/TempDir.h>

#include <jsonset/JsonFileDevice.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ZanTest;
using Zan::IoDevice;
using Zan::IoImageDataDevice;

namespace {

class JsonSetReadPaths : public testing::TestWithParam<Geometry> {};

TEST_P(JsonSetReadPaths, MatchTheModelAndStayInsideTheirBuffers) {
    const Geometry& g = GetParam();
    const bool isFloat = g.format == IoImageDataDevice::FloatingPoint;
    const long channels = g.components * g.planes, bytes = bytesOf(g.bitsStored);
    const auto sample = [&](long p, long x, long y, long c) { return patternSample(g, p, x, y, c); };
    TempDir dir;
    const std::string path = dir.file("set.json");
    {
        Zan::JsonFileDevice set(path);
        ASSERT_TRUE(set.open(IoDevice::Write, 3, nullptr));
        set.setAttributes({{"widthPx", g.width},
                           {"heightPx", g.height},
                           {"componentCount", channels},
                           {"bitsPerComponentInMemory", g.bitsStored},
                           {"bitsPerComponentSignificant", g.bitsUsed},
                           {"pixelDataType", isFloat ? "float" : "unsigned"},
                           {"sequenceCount", 1}});
        // Interleaved components share one file; planes are one file per component.
        if (g.planes == 1)
            set.setFrameRef(0, {"frame.tif"});
        const long stride = g.width * channels * bytes;
        std::vector<char> packed(static_cast<size_t>(stride * g.height));
        for (long y = 0; y < g.height; ++y)
            for (long x = 0; x < g.width; ++x)
                for (long p = 0; p < g.planes; ++p)
                    for (long k = 0; k < g.components; ++k)
                        put(packed.data() + y * stride + (x * channels + p * g.components + k) * bytes,
                            sample(p, x, y, k), bytes);
        const auto frame = set.imageData(0);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Write));
        frame->setPackedImage(packed.data(), stride);
        frame->close();
        set.close();
    }
    Zan::JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr));
    const auto frame = set.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
    ASSERT_EQ(frame->planes(), g.planes);
    ASSERT_EQ(frame->componentsPerPixel(), g.components);
    expectReadPathsMatch(*frame, {g, sample}, FrameDevice::JsonSet);
    frame->close();
}

INSTANTIATE_TEST_SUITE_P(Table, JsonSetReadPaths, testing::ValuesIn(readPathGeometries(FrameDevice::JsonSet)),
                         [](const testing::TestParamInfo<Geometry>& info) { return info.param.name; });

} // namespace
