// Writes the seed corpus of the split and merge fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/split_merge_fuzz build/rel/tests/test_qpx
//   --gtest_filter='SplitMergeFuzzSeeds.*'
// Each seed is the byte that picks the grid, then a small native file with a Z stack written by our device.

#include "SplitMergeTestSupport.h"

#include <support/FuzzSeeds.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace split_test;

TEST(SplitMergeFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    ZanTest::TempDir scratch;
    const auto save = [&](const char* name, char choice, const NativeGeometry& g,
                          const ZStackLayout& layout) {
        const std::string path = scratch.file(name);
        ZanTest::writeZStackFile(path, g, layout);
        std::ifstream in(path, std::ios::binary);
        std::string bytes(1, choice);
        bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        saveSeed(dir, name, bytes);
    };
    save("gray8-raw-z3", 0, {"g", 6, 4, 8, 8, 1}, {ZStackLayout::ZOnly, 1, 3, 0, false});
    save("gray16-zlib-time-z4-overlap", 3, {"g", 7, 6, 16, 16, 1, true}, {ZStackLayout::TimeAround, 2, 4});
    save("rgb8-raw-xy-z2-padding", 4, {"c", 5, 4, 8, 8, 3}, {ZStackLayout::XYAround, 2, 2});
    save("gray12-raw-z-time-float", 10, {"g", 6, 6, 12, 16, 1}, {ZStackLayout::ZAroundTime, 2, 4, 5});
}

} // namespace
