// Writes the seed corpus of the experiment documents fuzz target when ZAN_WRITE_FUZZ_SEEDS names a
// directory:
//   ZAN_WRITE_FUZZ_SEEDS=fuzz/corpus/experiment_documents_fuzz build/rel/tests/test_metadata
//   --gtest_filter='ExperimentFuzzSeeds.*'
// Each seed is a raw-metadata document with the extra members the target reads.

#include "support/ExperimentDocs.h"

#include <support/FuzzSeeds.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace ZanTest;

TEST(ExperimentFuzzSeeds, Write) {
    ZAN_SEED_DIRECTORY_OR_SKIP(dir);
    const json metadata =
        json::parse(R"({"channels": [{"name": "DAPI"}, {"name": "GFP"}], "contents": {"channelCount": 2}})");
    const auto write = [&](const std::string& name, json raw) {
        raw["Metadata_dic"] = {
            {"dCalibration_dbl", 0.1625}, {"bCalibrated_bol", true}, {"dTimeAbsolute_dbl", 2459000.5},
            {"dXPos_dbl", 1.0},           {"dYPos_dbl", 2.0},        {"dZPos_dbl", 3.0},
            {"dObjectiveMag_dbl", 0.0}};
        raw["attributes"] = {{"sequenceCount", 8}};
        raw["textInfo"] = {{"optics", "Plan Apo 60x Oil"}};
        raw["metadata"] = metadata;
        raw["t"] = 250.0;
        raw["pointer"] = "/channels/0/position";
        saveSeed(dir, name, raw.dump());
    };
    write("time-xy-z", rawWith(level(TimeLevel, timePars(2),
                                     {level(XYPosLevel, xyPars({{1, 2}, {3, 4}}),
                                            {level(ZStackLevel, zPars(2, 0, 4, 0, 2, 2))})})));
    json xy =
        level(XYPosLevel,
              {{"bUseZ_bol", true},
               {"bRelativeXY_bol", true},
               {"dReferenceX_dbl", 1.0},
               {"Points_dic", legacyList({{{"dPosX_dbl", 1.0}, {"dPosZ_dbl", 4.0}, {"pPosName_str", "A"}},
                                          {{"dPosX_dbl", 2.0}, {"dPFSOffset_dbl", 1.5}}},
                                         "dic")}});
    xy["pItemValid_bar"] = "AQE=";
    write("xy-records", rawWith(level(SpectLevel, {{"pPlanes_dic", {{"uiCount_u32", 2}}}}, {xy})));
    json ne = level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(3, 10), timePars(5, 20)}, "dic")},
                                  {"pPeriodValid_dic", legacyList({true, false}, "bol")}});
    write("ne-time-z", rawWith(level(ZStackLevel, zPars(3, 0, 2, 1, 1, 6, true), {ne})));
    json siblings = level(CustomLevel, countPars(2),
                          {level(XYDiscrLevel, countPars(2)), level(XYDiscrLevel, countPars(3))});
    siblings["uiNextLevelCount_u32"] = 0;
    write("siblings", rawWith(siblings));
    write("attributes-only", {{"Attributes_dic", {{"uiWidth_u32", 4}, {"uiHeight_u32", 4}}}});
}
