// Writes the seed corpus of the tile metadata fuzz target when ZAN_WRITE_FUZZ_SEEDS names a directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/tile_metadata_fuzz build/rel/tests/test_qpx
//   --gtest_filter='TileMetadataFuzzSeeds.*'
// Each seed is a raw-metadata document with the tile arguments the target reads.

#include "support/ExperimentDocs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace ZanTest;

TEST(TileMetadataFuzzSeeds, Write) {
    const char* target = std::getenv("ZAN_WRITE_FUZZ_SEEDS");
    if (!target)
        GTEST_SKIP() << "set ZAN_WRITE_FUZZ_SEEDS to a directory to write the seeds";
    const std::filesystem::path dir(target);
    std::filesystem::create_directories(dir);
    const auto write = [&](const std::string& name, json raw, const json& arguments) {
        raw["Attributes_dic"].update({{"uiComp_u32", 1},
                                      {"uiBpcInMemory_i32", 16},
                                      {"uiBpcSignificant_i32", 12},
                                      {"eCompression_i32", 2},
                                      {"uiTileWidth_u32", 32}});
        raw.update(arguments);
        std::ofstream(dir / name) << raw.dump();
    };
    const json z = level(ZStackLevel, zPars(11, 10.0, 20.0, 0.0, 15.0));
    write("time-z", rawWith(level(TimeLevel, timePars(3), {z}), 33),
          {{"low", 4}, {"high", 8}, {"width", 20}, {"height", 10}, {"frames", 12}});
    json bare = level(ZStackLevel, json::object());
    bare["uLoopPars_dic"] = zPars(5, 0.0, 4.0, 0.5, 2.0, 6, true);
    write("bare-z-to-float", rawWith(bare, 5),
          {{"low", 1}, {"high", 3}, {"width", 3}, {"height", 3}, {"frames", 2}, {"toFloat", true}});
    json siblings = level(XYPosLevel, xyPars({{0, 0}, {1, 1}}), {z, level(11, countPars(2), {z})});
    siblings.erase("uiNextLevelCount_u32");
    write("siblings", rawWith(siblings, 22), {{"low", 0}, {"high", 2}});
    json u32 = rawWith(z, 11);
    u32["Attributes_dic"].update({{"uiBpcInMemory_u32", 8}, {"uiBpcSignificant_u32", 8}});
    write("u32-depths", u32, {{"low", 10}, {"high", 11}, {"width", 1001}, {"height", 1}, {"toFloat", true}});
}
