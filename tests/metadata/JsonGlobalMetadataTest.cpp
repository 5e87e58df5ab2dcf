#include <metadata/JsonBridge.h>

#include "support/DecimalCommaLocale.h"
#include "support/Expect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

using namespace Zan::JsonMetadata;

namespace {

constexpr double defaultDay = 2450000.5;

json fullRaw() {
    return json::parse(R"({
        "Attributes_dic": {"uiWidth_u32": 640, "uiHeight_u32": 480, "uiSequenceCount_u32": 10,
                           "uiBpcInMemory_i32": 8, "uiBpcInMemory_u32": 16, "uiBpcSignificant_u32": 12},
        "Metadata_dic": {"ePictureXAxis_i32": 0, "ePictureYAxis_i32": 2, "bCalibrated_bol": true,
                         "dCalibration_dbl": 0.1625,
                         "dStgLgCT11_dbl": 1.0, "dStgLgCT12_dbl": 0.25, "dStgLgCT21_dbl": -0.25, "dStgLgCT22_dbl": 1.0,
                         "wsObjectiveName_str": "Plan Apo 60x Oil", "dObjectiveMag_dbl": 60.0,
                         "dObjectiveNA_dbl": 1.4, "dProjectiveMag_dbl": 1.5, "dZoom_dbl": 0.0,
                         "dRefractIndex1_dbl": 1.0, "dRefractIndex2_dbl": 1.515, "dPinholeRadius_dbl": 25.0,
                         "dTimeMSec_dbl": 1234.5, "eTimeSource_i32": 1, "dTimeAbsolute_dbl": 2459000.5,
                         "dXPos_dbl": 100.0, "dYPos_dbl": 200.0, "dZPos_dbl": 300.0}
    })");
}

json threeLoops() {
    return json::parse(R"([{"type":"TimeLoop","count":3,"nestingLevel":0},
                           {"type":"XYPosLoop","count":2,"nestingLevel":1},
                           {"type":"ZStackLoop","count":21,"nestingLevel":2,
                            "parameters":{"homeIndex":10,"stepUm":-0.5,"bottomToTop":true}}])");
}

TEST(GlobalMetadata, FullDocument) {
    EXPECT_EQ(globalMetadata(fullRaw(), threeLoops(), json(), defaultDay), json::parse(R"({
        "contents": {"frameCount": 10},
        "loops": {"TimeLoop": 0, "XYPosLoop": 1, "ZStackLoop": 2},
        "microscope": {"objectiveName": "Plan Apo 60x Oil", "objectiveMagnification": 60.0,
                       "objectiveNumericalAperture": 1.4, "projectiveMagnification": 1.5,
                       "immersionRefractiveIndex": 1.515, "pinholeDiameterUm": 50.0},
        "position": {"stagePositionUm": [100.0, 200.0, 300.0]},
        "time": {"relativeTimeMs": 1234.5, "timerSourceHardware": "NIDAQ", "absoluteJulianDayNumber": 2459000.5},
        "volume": {"voxelCount": [640, 480, 21], "bitsPerComponentInMemory": 16, "bitsPerComponentSignificant": 12,
                   "componentDataType": "unsigned", "axesInterpretation": ["distance", "time", "distance"],
                   "axesCalibrated": [true, true, true], "axesCalibration": [0.1625, 0.1625, 0.5],
                   "cameraTransformationMatrix": [1.0, 0.25, -0.25, 1.0]}
    })"));
}

TEST(GlobalMetadata, AttributesOnly) {
    const json raw = {
        {"Attributes_dic", {{"uiWidth_u32", 64}, {"uiHeight_u32", 32}, {"uiSequenceCount_u32", 0}}}};
    EXPECT_EQ(globalMetadata(raw, threeLoops(), json(), defaultDay), json::parse(R"({
        "contents": {"frameCount": 0},
        "loops": {"TimeLoop": 0, "XYPosLoop": 1, "ZStackLoop": 2},
        "microscope": null,
        "position": {"stagePositionUm": [0.0, 0.0, 0.0]},
        "time": {"relativeTimeMs": 0.0, "absoluteJulianDayNumber": 2450000.5},
        "volume": {"voxelCount": [64, 32, 1], "componentDataType": "unsigned",
                   "axesInterpretation": ["distance", "distance", "distance"],
                   "axesCalibrated": [false, false, false], "axesCalibration": [1.0, 1.0, 1.0]}
    })"));
    EXPECT_EQ(
        globalMetadata({{"Attributes_dic", json::object()}}, json(), json(), 0.0)["volume"]["voxelCount"],
        json({1, 1, 1}));

    ZAN_EXPECT_THROW_MSG(globalMetadata({{"Metadata_dic", json::object()}}, json(), json(), 0.0),
                         std::runtime_error, "Cannot parse image attributes");
    ZAN_EXPECT_THROW_MSG(globalMetadata(json::array(), json(), json(), 0.0), std::runtime_error,
                         "Cannot parse image attributes");
}

// One change to the full document, and the values it must give.
struct Variation {
    const char* name;
    std::function<void(json& raw, json& experiment, json& textInfo)> change;
    std::vector<std::pair<const char*, json>> expected; // JSON pointer, value (a missing member: "absent")
};

TEST(GlobalMetadata, Variations) {
    const json absent = "absent";
    const auto metadata = [](const char* key, json value) {
        return [key, value](json& raw, json&, json&) { raw["Metadata_dic"][key] = value; };
    };
    const auto without = [](std::vector<const char*> keys) {
        return [keys](json& raw, json&, json&) {
            for (const char* key : keys)
                raw["Metadata_dic"].erase(key);
        };
    };
    const auto noZ = [](json&, json& experiment, json&) { experiment.erase(2); };
    const auto both = [](auto a, auto b) {
        return [a, b](json& raw, json& experiment, json& textInfo) {
            a(raw, experiment, textInfo);
            b(raw, experiment, textInfo);
        };
    };
    const auto optics = [](std::string text) {
        return [text](json& raw, json&, json& textInfo) {
            raw["Metadata_dic"]["dObjectiveMag_dbl"] = 0.0;
            textInfo = {{"optics", text}};
        };
    };
    const std::vector<Variation> cases = {
        {"no z stack",
         noZ,
         {{"/volume/axesCalibration", {0.1625, 0.1625, 1.0}},
          {"/volume/axesCalibrated", {true, true, false}},
          {"/volume/voxelCount", {640, 480, 1}}}},
        {"no calibration",
         metadata("dCalibration_dbl", 0.0),
         {{"/volume/axesCalibration", {1.0, 1.0, 0.5}}, {"/volume/axesCalibrated", {true, true, true}}}},
        {"z step of NaN",
         [](json&, json& experiment, json&) { experiment[2]["parameters"]["stepUm"] = NAN; },
         {{"/volume/axesCalibration/2", 1.0}, {"/volume/axesCalibrated/2", false}}},
        {"z loop without step or count",
         [](json&, json& experiment, json&) {
             experiment[2] = {{"type", "ZStackLoop"}};
         },
         {{"/volume/axesCalibration/2", 1.0},
          {"/volume/axesCalibrated/2", false},
          {"/volume/voxelCount/2", 1}}},
        {"no experiment",
         [](json&, json& experiment, json&) { experiment = nullptr; },
         {{"/loops", nullptr}, {"/volume/axesCalibrated/2", false}, {"/volume/voxelCount/2", 1}}},
        {"empty experiment",
         [](json&, json& experiment, json&) { experiment = json::array(); },
         {{"/loops", nullptr}, {"/volume/axesCalibrated/2", false}}},
        {"two time loops",
         [](json&, json& experiment, json&) {
             experiment[2] = {{"type", "TimeLoop"}};
         },
         {{"/loops", {{"TimeLoop", 2}, {"XYPosLoop", 1}}}}},
        {"float samples",
         [](json& raw, json&, json&) { raw["Attributes_dic"]["uiBpcSignificant_u32"] = 32; },
         {{"/volume/componentDataType", "float"}}},
        {"unsigned member replaces signed, zero included",
         [](json& raw, json&, json&) {
             raw["Attributes_dic"]["uiBpcSignificant_i32"] = 32;
             raw["Attributes_dic"]["uiBpcSignificant_u32"] = 0;
         },
         {{"/volume/componentDataType", "unsigned"}, {"/volume/bitsPerComponentSignificant", 0}}},
        {"x axis of time",
         both(metadata("ePictureXAxis_i32", 2), metadata("ePictureYAxis_i32", 1)),
         {{"/volume/axesInterpretation", {"time", "distance", "distance"}}}},
        {"magnification from the optics text",
         optics("20X Plan"),
         {{"/microscope/objectiveMagnification", 20.0}}},
        {"magnification with a fraction",
         optics("Plan Apo 1.2.5x"),
         {{"/microscope/objectiveMagnification", 2.5}}},
        {"optics text without a magnification",
         optics("Plan Fluor 40 Oil"),
         {{"/microscope/objectiveMagnification", absent}}},
        {"optics digits beyond a double",
         optics(std::string(400, '9') + "x"),
         {{"/microscope/objectiveMagnification", absent}}},
        {"optics text of 200000 digits",
         optics(std::string(200000, '7')),
         {{"/microscope/objectiveMagnification", absent}}},
        {"first immersion index unknown",
         metadata("dRefractIndex1_dbl", 0.0),
         {{"/microscope/immersionRefractiveIndex", absent}}},
        {"second immersion index unknown",
         metadata("dRefractIndex2_dbl", -1.0),
         {{"/microscope/immersionRefractiveIndex", 1.0}}},
        {"no pinhole, no name",
         both(metadata("dPinholeRadius_dbl", 0.0), metadata("wsObjectiveName_str", "")),
         {{"/microscope/pinholeDiameterUm", absent}, {"/microscope/objectiveName", absent}}},
        {"no absolute time",
         metadata("dTimeAbsolute_dbl", 0.0),
         {{"/time/absoluteJulianDayNumber", defaultDay}}},
        {"absolute time of NaN",
         metadata("dTimeAbsolute_dbl", NAN),
         {{"/time/absoluteJulianDayNumber", defaultDay}}},
        {"software timer", metadata("eTimeSource_i32", 0), {{"/time/timerSourceHardware", absent}}},
        {"no time members at all",
         without({"dTimeMSec_dbl", "eTimeSource_i32", "dTimeAbsolute_dbl"}),
         {{"/time", {{"relativeTimeMs", 0.0}, {"absoluteJulianDayNumber", defaultDay}}}}},
        {"only a relative time",
         without({"eTimeSource_i32", "dTimeAbsolute_dbl"}),
         {{"/time", {{"relativeTimeMs", 1234.5}, {"absoluteJulianDayNumber", defaultDay}}}}},
        {"no stage or camera members",
         without({"dXPos_dbl", "dYPos_dbl", "dZPos_dbl", "dStgLgCT11_dbl", "dStgLgCT12_dbl", "dStgLgCT21_dbl",
                  "dStgLgCT22_dbl"}),
         {{"/position/stagePositionUm", {0.0, 0.0, 0.0}},
          {"/volume/cameraTransformationMatrix", {0.0, 0.0, 0.0, 0.0}}}},
    };
    for (const Variation& c : cases) {
        SCOPED_TRACE(c.name);
        json raw = fullRaw(), experiment = threeLoops(), textInfo;
        c.change(raw, experiment, textInfo);
        const json doc = globalMetadata(raw, experiment, textInfo, defaultDay);
        for (const auto& [pointer, value] : c.expected) {
            const json::json_pointer ptr(pointer);
            if (value == absent)
                EXPECT_FALSE(doc.contains(ptr)) << pointer;
            else
                EXPECT_EQ(doc.contains(ptr) ? doc.at(ptr) : json("missing"), value) << pointer;
        }
    }
}

TEST(GlobalMetadata, OpticsMagnificationIgnoresTheNumericLocale) {
    ZanTest::DecimalCommaLocale locale;
    if (!locale.active())
        GTEST_SKIP() << "no locale with a decimal comma installed";
    json raw = fullRaw();
    raw["Metadata_dic"].erase("dObjectiveMag_dbl");
    const json doc = globalMetadata(raw, json(), {{"optics", "CFI Plan 10.5x"}}, defaultDay);
    EXPECT_EQ(doc["microscope"]["objectiveMagnification"], 10.5);
}

// Members of the wrong kind fail with the library's type errors, never with a document that carries them.
TEST(GlobalMetadata, MembersOfTheWrongKind) {
    struct Case {
        const char* name;
        std::function<void(json& raw, json& experiment, json& textInfo)> change;
        int id;
    };
    const auto attribute = [](const char* key, json value) {
        return [key, value](json& raw, json&, json&) { raw["Attributes_dic"][key] = value; };
    };
    const auto metadata = [](const char* key, json value) {
        return [key, value](json& raw, json&, json&) { raw["Metadata_dic"][key] = value; };
    };
    const json deep = json::parse(std::string(200, '[') + std::string(200, ']'));
    const std::vector<Case> cases = {
        {"sequence count is a string", attribute("uiSequenceCount_u32", "10"), 302},
        {"width is an object", attribute("uiWidth_u32", {{"a", 1}}), 302},
        {"bits are a boolean", attribute("uiBpcInMemory_u32", true), 302},
        {"calibrated flag is a number", metadata("bCalibrated_bol", 1), 302},
        {"calibration is a string", metadata("dCalibration_dbl", "0.1"), 302},
        {"calibration is a boolean", metadata("dCalibration_dbl", true), 302},
        {"axis is a string", metadata("ePictureYAxis_i32", "time"), 302},
        {"camera matrix element is deeply nested", metadata("dStgLgCT12_dbl", deep), 302},
        {"objective name is a number", metadata("wsObjectiveName_str", 60), 302},
        {"magnification is a string", metadata("dObjectiveMag_dbl", "60"), 302},
        {"optics is a number",
         [](json& raw, json&, json& textInfo) {
             raw["Metadata_dic"].erase("dObjectiveMag_dbl");
             textInfo = {{"optics", 60}};
         },
         302},
        {"pinhole is null", metadata("dPinholeRadius_dbl", nullptr), 302},
        {"relative time is a string", metadata("dTimeMSec_dbl", "0"), 302},
        {"timer source is a string", metadata("eTimeSource_i32", "NIDAQ"), 302},
        {"absolute time is an array", metadata("dTimeAbsolute_dbl", json::array({1})), 302},
        {"stage x is an array", metadata("dXPos_dbl", deep), 302},
        {"a loop is a number", [](json&, json& experiment, json&) { experiment[1] = 4; }, 306},
        {"a loop type is a number", [](json&, json& experiment, json&) { experiment[1]["type"] = 4; }, 302},
        {"z loop step is a string",
         [](json&, json& experiment, json&) { experiment[2]["parameters"]["stepUm"] = "0.5"; }, 302},
        {"z loop count is a string", [](json&, json& experiment, json&) { experiment[2]["count"] = "21"; },
         302},
        {"experiment is an object naming a z stack",
         [](json&, json& experiment, json&) {
             experiment = {{"a", {{"type", "ZStackLoop"}}}};
         },
         304},
        {"experiment is a number", [](json&, json& experiment, json&) { experiment = 3; }, 306},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json raw = fullRaw(), experiment = threeLoops(), textInfo;
        c.change(raw, experiment, textInfo);
        try {
            const json doc = globalMetadata(raw, experiment, textInfo, defaultDay);
            ADD_FAILURE() << "gave " << doc.dump();
        } catch (const json::type_error& e) {
            EXPECT_EQ(e.id, c.id) << e.what();
        }
    }
}

} // namespace
