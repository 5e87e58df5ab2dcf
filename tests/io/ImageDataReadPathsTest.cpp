// Every read path of the image-data device, on every kind of in-memory test device, against the table of
// expected pixels computed from the stored samples by a plain model of each layout.

#include <support/ImageDataReadPaths.h>
#include <support/ImageDataTestDevices.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;

namespace ZanTest {
void PrintTo(const Geometry& g, std::ostream* os) {
    *os << g.name;
}
} // namespace ZanTest

namespace {

struct Kind {
    const char* name;
    Layout layout;
    int threads;
};

const Kind kKinds[] = {
    {"memory", {Storage::Memory}, -1},         {"memory_1thread", {Storage::Memory}, 1},
    {"memory_4threads", {Storage::Memory}, 4}, {"striped", {Storage::Striped, 5}, -1},
    {"tiled", {Storage::Tiled, 5, 8, 8}, -1},  {"neither", {Storage::Neither}, -1},
};

void PrintTo(const Kind& k, std::ostream* os) {
    *os << k.name;
}

class ReadPaths : public testing::TestWithParam<std::tuple<Geometry, Kind>> {
protected:
    const Geometry& geometry() const { return std::get<0>(GetParam()); }
    const Kind& kind() const { return std::get<1>(GetParam()); }

    std::unique_ptr<TestImageDevice> makeDevice(bool filled) const {
        auto device = std::make_unique<TestImageDevice>(geometry(), kind().layout);
        if (filled)
            device->fill(
                [&](long p, long x, long y, long c) { return patternSample(geometry(), p, x, y, c); });
        device->setPropertyInt(IoImageDataDevice::Threads, kind().threads);
        return device;
    }
};

TEST_P(ReadPaths, MatchTheModelAndStayInsideTheirBuffers) {
    auto device = makeDevice(true);
    device->open(IoImageDataDevice::Read);
    const TestImageDevice& stored = *device;
    expectReadPathsMatch(
        *device, {geometry(), [&](long p, long x, long y, long c) { return stored.sample(p, x, y, c); }},
        FrameDevice::Test);
}

TEST_P(ReadPaths, SetPackedImageRoundTripsThroughPackedImage) {
    const auto source = makeDevice(true);
    source->open(IoImageDataDevice::Read);
    const long stride = source->packedLineSize(1) + 7;
    std::vector<char> packed(static_cast<size_t>(stride * geometry().height));
    source->packedImage(packed.data(), stride);

    auto target = makeDevice(false);
    target->open(IoImageDataDevice::Write);
    target->setPackedImage(packed.data(), stride);
    for (long p = 0; p < geometry().planes; ++p)
        for (long y = 0; y < geometry().height; ++y)
            for (long x = 0; x < geometry().width; ++x)
                for (long c = 0; c < geometry().components; ++c)
                    ASSERT_EQ(target->sample(p, x, y, c), source->sample(p, x, y, c))
                        << p << " " << x << " " << y << " " << c;
}

std::string caseName(const testing::TestParamInfo<std::tuple<Geometry, Kind>>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(AllDevices, ReadPaths,
                         testing::Combine(testing::ValuesIn(readPathGeometries(FrameDevice::Test)),
                                          testing::ValuesIn(kKinds)),
                         caseName);

} // namespace
