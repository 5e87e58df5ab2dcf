#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include "support/Expect.h"
#include "support/ExperimentDocs.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>

using namespace Zan::JsonMetadata;
using namespace ZanTest;

namespace {

// Every frame of the given loop counts, frame k decoded as a mixed-radix number (last loop fastest).
FrameTable framesOf(const std::vector<std::uint32_t>& counts) {
    std::uint64_t total = 1;
    for (std::uint32_t c : counts)
        total *= c;
    FrameTable table;
    for (std::uint64_t k = 0; k < total; ++k) {
        std::vector<std::uint32_t> row(counts.size());
        std::uint64_t rest = k;
        for (std::size_t i = counts.size(); i-- > 0;) {
            row[i] = static_cast<std::uint32_t>(rest % counts[i]);
            rest /= counts[i];
        }
        table.push_back(row);
    }
    return table;
}

json attributesOf(std::uint64_t sequenceCount) {
    return {{"sequenceCount", sequenceCount}};
}

// A level whose sub-levels are stored under the given keys, with the given stored count.
json levelWithKeys(std::uint32_t type, const json& pars, std::int64_t storedCount,
                   const std::vector<std::pair<std::string, json>>& subs) {
    json dic = level(type, pars);
    dic["uiNextLevelCount_u32"] = storedCount;
    for (const auto& [key, sub] : subs)
        dic["ppNextLevelEx_dic"][key] = sub;
    return dic;
}

json pointRecord(double x, double y, const json& extra = json::object()) {
    json p = {{"dPosX_dbl", x}, {"dPosY_dbl", y}};
    p.update(extra);
    return p;
}

struct ExperimentCase {
    const char* name;
    json experimentDic;
    const char* document;              // JSON text of the experiment document
    std::vector<std::uint32_t> counts; // the frame table is every frame of these counts
};

TEST(Experiment, LoopsNestedInSeveralOrders) {
    const json threePoints = legacyList({pointRecord(1, 1), pointRecord(2, 2), pointRecord(3, 3)}, "dic");
    // Named list entries ("a" + position) beyond ten: their key order is not the list's order.
    json namedXs = json::object(), namedYs = json::object();
    for (int i = 0; i < 12; ++i) {
        namedXs["a" + std::to_string(i) + "_dbl"] = i;
        namedYs["a" + std::to_string(i) + "_dbl"] = -i;
    }
    json twelvePoints = json::array();
    for (int i = 0; i < 12; ++i)
        twelvePoints.push_back({{"stagePositionUm", {double(i), double(-i), 0.0}}});

    const std::vector<ExperimentCase> cases = {
        {"time > xy > z",
         level(TimeLevel, timePars(2), {level(XYPosLevel, xyPars({{1, 2}, {3, 4}}), {level(ZStackLevel, zPars(3, 0, 4, 2, 2))})}),
         R"([{"type":"TimeLoop","count":2,"nestingLevel":0,
               "parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}},
             {"type":"XYPosLoop","count":2,"nestingLevel":1,
               "parameters":{"points":[{"stagePositionUm":[1.0,2.0,0.0]},{"stagePositionUm":[3.0,4.0,0.0]}],
                             "isSettingZ":false}},
             {"type":"ZStackLoop","count":3,"nestingLevel":2,
               "parameters":{"homeIndex":1,"stepUm":2.0,"bottomToTop":true}}])",
         {2, 2, 3}},
        {"z > time",
         level(ZStackLevel, zPars(2, 0, 1, 1, 0), {level(TimeLevel, timePars(3, 50))}),
         R"([{"type":"ZStackLoop","count":2,"nestingLevel":0,"parameters":{"homeIndex":0,"stepUm":1.0,"bottomToTop":true}},
             {"type":"TimeLoop","count":3,"nestingLevel":1,
               "parameters":{"startMs":0.0,"periodMs":50.0,"durationMs":0.0}}])",
         {2, 3}},
        {"spectral level is transparent",
         level(TimeLevel, timePars(2),
               {level(SpectLevel, {{"pPlanes_dic", {{"uiCount_u32", 3}}}}, {level(ZStackLevel, zPars(2, 0, 1, 1, 0))})}),
         R"([{"type":"TimeLoop","count":2,"nestingLevel":0,"parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}},
             {"type":"ZStackLoop","count":2,"nestingLevel":1,"parameters":{"homeIndex":0,"stepUm":1.0,"bottomToTop":true}}])",
         {2, 2}},
        {"spectral count from the list itself", level(SpectLevel, countPars(4), {level(XYDiscrLevel, countPars(2))}),
         R"([{"type":"XYDiscrLoop","count":2,"nestingLevel":0}])", {2}},
        {"count 0 hides the sub-levels", level(TimeLevel, timePars(0), {level(ZStackLevel, zPars(3, 0, 2, 1, 0))}),
         "null", {}},
        {"unknown type hides the sub-levels", level(UnknownLevel, countPars(3), {level(TimeLevel, timePars(2))}),
         "null", {}},
        {"type beyond the table", level(11, countPars(3), {level(TimeLevel, timePars(2))}), "null", {}},
        {"loops without parameters of their own",
         level(CustomLevel, countPars(2), {level(PolarLevel, countPars(3), {level(ZAccurateLevel, countPars(2))})}),
         R"([{"type":"CustomLoop","count":2,"nestingLevel":0},{"type":"PolarLoop","count":3,"nestingLevel":1},
             {"type":"ZStackLoopAccurate","count":2,"nestingLevel":2}])",
         {2, 3, 2}},
        {"larger sibling of the same type wins; another type at that level is dropped",
         level(TimeLevel, timePars(2),
               {level(XYPosLevel, xyPars({{0, 0}, {1, 0}, {2, 0}, {3, 0}})),
                level(XYPosLevel, xyPars({{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}})),
                level(TimeLevel, timePars(5))}),
         R"([{"type":"TimeLoop","count":2,"nestingLevel":0,"parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}},
             {"type":"XYPosLoop","count":6,"nestingLevel":1,"parameters":{"isSettingZ":false,"points":[
               {"stagePositionUm":[0.0,1.0,0.0]},{"stagePositionUm":[1.0,1.0,0.0]},{"stagePositionUm":[2.0,1.0,0.0]},
               {"stagePositionUm":[3.0,1.0,0.0]},{"stagePositionUm":[4.0,1.0,0.0]},{"stagePositionUm":[5.0,1.0,0.0]}]}}])",
         {2, 6}},
        {"a branch back at a shallower level is dropped",
         level(TimeLevel, timePars(2),
               {level(XYDiscrLevel, countPars(2), {level(ZAccurateLevel, countPars(3))}), level(CustomLevel, countPars(4))}),
         R"([{"type":"TimeLoop","count":2,"nestingLevel":0,"parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}},
             {"type":"XYDiscrLoop","count":2,"nestingLevel":1},{"type":"ZStackLoopAccurate","count":3,"nestingLevel":2}])",
         {2, 2, 3}},
        {"stored sub-level count picks members 0 .. n-1",
         levelWithKeys(CustomLevel, countPars(2), 2,
                       {{positionKey(0), level(PolarLevel, countPars(3))}, {positionKey(2), level(XYDiscrLevel, countPars(5))}}),
         R"([{"type":"CustomLoop","count":2,"nestingLevel":0},{"type":"PolarLoop","count":3,"nestingLevel":1}])", {2, 3}},
        {"no stored sub-level count visits every member",
         levelWithKeys(CustomLevel, countPars(2), 0,
                       {{"first_dic", level(PolarLevel, countPars(3))}, {"second_dic", level(XYDiscrLevel, countPars(5))}}),
         R"([{"type":"CustomLoop","count":2,"nestingLevel":0},{"type":"PolarLoop","count":3,"nestingLevel":1}])", {2, 3}},
        {"xy records, relative, with names and focus offsets",
         level(XYPosLevel, {{"bRelativeXY_bol", true}, {"dReferenceX_dbl", 1.0}, {"dReferenceY_dbl", 2.0},
                            {"Points_dic", legacyList({pointRecord(10, 20, {{"dPosZ_dbl", 7.0}, {"pPosName_str", "A1"}}),
                                                       pointRecord(30, 40, {{"dPFSOffset_dbl", -1.0}, {"pPosName_str", ""}}),
                                                       pointRecord(50, 60, {{"dPFSOffset_dbl", 12.5}})},
                                                      "dic")}}),
         R"([{"type":"XYPosLoop","count":3,"nestingLevel":0,"parameters":{"isSettingZ":false,"points":[
               {"stagePositionUm":[11.0,22.0,0.0],"pfsOffset":0.0,"name":"A1"},
               {"stagePositionUm":[31.0,42.0,0.0]},
               {"stagePositionUm":[51.0,62.0,0.0],"pfsOffset":12.5}]}}])",
         {3}},
        {"xy lists, relative, with z, focus offsets and names",
         level(XYPosLevel, {{"bRelativeXY_bol", true}, {"dReferenceX_dbl", 1.0}, {"dReferenceY_dbl", 2.0}, {"bUseZ_bol", true},
                            {"dPosX_dic", legacyList({10, 30, 50}, "dbl")}, {"dPosY_dic", legacyList({20, 40}, "dbl")},
                            {"dPosZ_dic", legacyList({5}, "dbl")}, {"dPFSOffset_dic", legacyList({-1.0, 3.0}, "dbl")},
                            {"pPosName_dic", legacyList({"", "B"}, "str")}}),
         R"([{"type":"XYPosLoop","count":3,"nestingLevel":0,"parameters":{"isSettingZ":true,"points":[
               {"stagePositionUm":[11.0,22.0,5.0]},
               {"stagePositionUm":[31.0,42.0,0.0],"pfsOffset":3.0,"name":"B"},
               {"stagePositionUm":[51.0,2.0,0.0]}]}}])",
         {3}},
        {"xy validity bytes", [&] {
             json l = level(XYPosLevel, {{"Points_dic", threePoints}});
             l["pItemValid_bar"] = "AQA="; // bytes 1, 0
             return l;
         }(),
         R"([{"type":"XYPosLoop","count":1,"nestingLevel":0,"parameters":{"isSettingZ":false,"points":[
               {"stagePositionUm":[1.0,1.0,0.0],"pfsOffset":0.0}]}}])",
         {1}},
        {"xy validity flags", [&] {
             json l = level(XYPosLevel, {{"Points_dic", threePoints}});
             l["pItemValid_dic"] = legacyList({false, true}, "bol");
             return l;
         }(),
         R"([{"type":"XYPosLoop","count":1,"nestingLevel":0,"parameters":{"isSettingZ":false,"points":[
               {"stagePositionUm":[2.0,2.0,0.0],"pfsOffset":0.0}]}}])",
         {1}},
        {"xy with no valid point ends the branch", [&] {
             json l = level(XYPosLevel, {{"Points_dic", threePoints}}, {level(TimeLevel, timePars(2))});
             l["pItemValid_bar"] = "AAAA"; // bytes 0, 0, 0
             return l;
         }(),
         "null", {}},
        {"xy named list entries in list order", level(XYPosLevel, {{"dPosX_dic", namedXs}, {"dPosY_dic", namedYs}}),
         nullptr, {12}},
        {"ne time periods", level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(3, 10), timePars(5, 20)}, "dic")},
                                                {"pPeriodValid_dic", legacyList({true, true}, "bol")}}),
         R"([{"type":"NETimeLoop","count":8,"nestingLevel":0,"parameters":{"periods":[
               {"count":3,"startMs":0.0,"periodMs":10.0,"durationMs":0.0},
               {"count":5,"startMs":0.0,"periodMs":20.0,"durationMs":0.0}]}}])",
         {8}},
        {"ne time period marked invalid", level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(3, 10), timePars(5, 20)}, "dic")},
                                                              {"pPeriodValid_bar", "AAE="}}), // bytes 0, 1
         R"([{"type":"NETimeLoop","count":5,"nestingLevel":0,"parameters":{"periods":[
               {"count":5,"startMs":0.0,"periodMs":20.0,"durationMs":0.0}]}}])",
         {5}},
        {"ne time without validity", level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(3, 10)}, "dic")}}), "null", {}},
        {"time period differences not below 0",
         level(TimeLevel, {{"uiCount_u32", 2}, {"dMinPeriodDiff_dbl", -1.0}, {"dMaxPeriodDiff_dbl", 4.0}, {"dAvgPeriodDiff_dbl", "x"}}),
         R"([{"type":"TimeLoop","count":2,"nestingLevel":0,"parameters":{"periodDiff":{"max":4.0}}}])", {2}},
        {"parameters stored on the list itself", [] {
             json l = level(TimeLevel, {});
             l["uLoopPars_dic"] = timePars(2);
             return l;
         }(),
         R"([{"type":"TimeLoop","count":2,"nestingLevel":0,"parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}}])",
         {2}},
        {"level without parameters ends the branch", [] {
             json l = level(TimeLevel, timePars(2), {level(ZStackLevel, zPars(2, 0, 1, 1, 0))});
             l.erase("uLoopPars_dic");
             return l;
         }(),
         "null", {}},
    };
    for (const ExperimentCase& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTable table;
        const json doc = experiment(rawWith(c.experimentDic), attributesOf(1), table);
        if (c.document) {
            EXPECT_EQ(doc, json::parse(c.document));
        } else { // the named-entries case: points in position order
            ASSERT_TRUE(doc.is_array());
            EXPECT_EQ(doc[0]["parameters"]["points"], twelvePoints);
        }
        EXPECT_EQ(table, c.counts.empty() ? FrameTable(1) : framesOf(c.counts));
    }
}

TEST(Experiment, ZStackHomeIndexStepAndDevice) {
    struct Case {
        int kind;
        bool inverted;
        double step, low, high, home;
        std::uint64_t count;
        std::int64_t homeIndex;
        double stepUm;
    };
    const Case cases[] = {
        {2, false, 0.0, 0, 8, 2, 5, 1, 2.0},   // |ceil((2 - 0.1) / 2)|
        {0, false, 0.0, 0, 8, 2, 5, 2, 2.0},   // the middle plane
        {6, false, 0.0, 0, 8, 2, 5, 3, 2.0},   // from the high end
        {3, true, 0.0, 0, 8, 2, 5, 3, 2.0},    // inverted: from the high end
        {7, true, 0.0, 0, 8, 2, 5, 1, 2.0},    // inverted: from the low end
        {2, false, -1.0, 0, 8, 2, 5, 1, -1.0}, // no positive step: the ratio last * d / range
        {2, false, 0.5, 0, 8, 100, 5, 4, 0.5}, // home far outside the stack: the last plane
        {2, false, -1.0, 3, 3, 3, 5, 0, -1.0}, // zero range: no finite ratio
        {2, false, 0.0, 0, 8, 2, 1, 0, 0.0},   // a single plane keeps step 0
        {9, false, 1.0, 0, 8, 2, 4, 1, 1.0},   // other kinds: (count - 1) / 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " step " << c.step << " home " << c.home);
        FrameTable table;
        const json doc = experiment(
            rawWith(level(ZStackLevel, zPars(c.count, c.low, c.high, c.step, c.home, c.kind, c.inverted))),
            attributesOf(1), table);
        ASSERT_TRUE(doc.is_array());
        const json& p = doc[0]["parameters"];
        EXPECT_EQ(p["homeIndex"], c.homeIndex);
        EXPECT_EQ(p["stepUm"].get<double>(), c.stepUm);
        EXPECT_EQ(p["bottomToTop"], c.kind <= 3);
        EXPECT_FALSE(p.contains("deviceName"));
    }

    // The device name of experiments from the acquisition, or of those written through the record type.
    json pars = zPars(2, 0, 1, 1, 0);
    FrameTable table;
    pars["sZDevice_str"] = "Piezo";
    EXPECT_EQ(
        experiment(rawWith(level(ZStackLevel, pars)), attributesOf(2), table)[0]["parameters"]["deviceName"],
        "Piezo");
    pars["wsZDevice_str"] = "Ti ZDrive";
    EXPECT_EQ(
        experiment(rawWith(level(ZStackLevel, pars)), attributesOf(2), table)[0]["parameters"]["deviceName"],
        "Ti ZDrive");
    pars["wsZDevice_str"] = "";
    EXPECT_EQ(
        experiment(rawWith(level(ZStackLevel, pars)), attributesOf(2), table)[0]["parameters"]["deviceName"],
        "Piezo");
}

TEST(Experiment, WithoutExperimentOrAttributes) {
    FrameTable table = {{7, 7}, {8, 8}};
    EXPECT_EQ(experiment(json::object(), json(), table), json());
    EXPECT_EQ(table, FrameTable(1));
    table = {{7}};
    EXPECT_EQ(experiment(json(), json(), table), json());
    EXPECT_EQ(table, FrameTable(1));

    json raw = rawWith(level(TimeLevel, timePars(2)));
    raw.erase("Attributes_dic");
    table = {{7}};
    ZAN_EXPECT_THROW_MSG(experiment(raw, attributesOf(2), table), std::runtime_error,
                         "Cannot parse image attributes");
    EXPECT_EQ(table, FrameTable({{7}}));
}

TEST(FrameTable, OdometerOrderReservationAndReplacement) {
    const json twoByThree =
        rawWith(level(TimeLevel, timePars(2), {level(XYPosLevel, xyPars({{0, 0}, {1, 1}, {2, 2}}))}));
    const FrameTable six = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}};
    // The stored sequence count is a reservation hint only, and never reserves beyond the loops' frames.
    for (std::uint64_t sequenceCount : {std::uint64_t{10}, std::uint64_t{4}, std::uint64_t{1} << 40}) {
        FrameTable table = {{9, 9, 9}, {9}};
        experiment(twoByThree, attributesOf(sequenceCount), table);
        EXPECT_EQ(table, six) << sequenceCount; // replaced, not appended to
        if (sequenceCount > 6) {
            EXPECT_EQ(table.capacity(), 6u);
        }
    }
    FrameTable table;
    experiment(twoByThree, json::object(), table);
    EXPECT_EQ(table, six);

    experiment(rawWith(level(TimeLevel, timePars(1))), attributesOf(5), table);
    EXPECT_EQ(table, FrameTable({{0}}));

    // Attributes of the wrong kind raise the library's errors.
    for (const json& attributes : {json(), json(3)})
        EXPECT_THROW(experiment(twoByThree, attributes, table), json::type_error);
    EXPECT_THROW(experiment(twoByThree, json{{"sequenceCount", "6"}}, table), json::type_error);
}

TEST(FrameTable, LoopCountsAreCheckedBeforeAnythingIsAllocated) {
    const std::string tooMany = "Frame table: the experiment loops give more than 100000000 frames";
    struct Case {
        const char* name;
        json experimentDic;
    };
    const std::uint64_t max32 = std::numeric_limits<std::uint32_t>::max();
    const Case cases[] = {
        {"product just above the cap",
         level(TimeLevel, timePars(10000), {level(CustomLevel, countPars(10001))})},
        {"one count of 2^31", level(TimeLevel, timePars(std::uint64_t{1} << 31))},
        {"one count of 2^32 - 1", level(CustomLevel, countPars(max32))},
        {"product beyond 64 bits",
         level(CustomLevel, countPars(max32),
               {level(PolarLevel, countPars(max32), {level(XYDiscrLevel, countPars(max32))})})},
        {"a count of -1 read as unsigned", level(CustomLevel, {{"uiCount_u32", -1}})},
        {"a count of 1e300", level(CustomLevel, {{"uiCount_u32", 1e300}})},
        {"ne time counts that sum beyond 32 bits",
         level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(max32), timePars(max32)}, "dic")},
                             {"pPeriodValid_bar", "AQE="}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTable table = {{7}};
        ZAN_EXPECT_THROW_MSG(experiment(rawWith(c.experimentDic), attributesOf(1), table), std::runtime_error,
                             tooMany);
        EXPECT_EQ(table, FrameTable({{7}}));
    }

    // Counts of 2^31 or more stay positive in the document.
    json loops;
    loadExperimentLoop(
        0, loops, level(TimeLevel, timePars(std::uint64_t{1} << 31), {level(CustomLevel, countPars(max32))}));
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_EQ(loops[0]["count"].get<std::uint64_t>(), std::uint64_t{1} << 31);
    EXPECT_EQ(loops[1]["count"].get<std::uint64_t>(), max32);

    // The cap is a parameter of the table builder; a loop of no iterations has no frames to address.
    FrameTable table;
    const json loopsOf6 = json::parse(R"([{"type":"TimeLoop","count":2},{"type":"ZStackLoop","count":3}])");
    buildFrameTable(loopsOf6, attributesOf(6), table, 6);
    EXPECT_EQ(table.size(), 6u);
    EXPECT_THROW(buildFrameTable(loopsOf6, attributesOf(6), table, 5), std::runtime_error);
    ZAN_EXPECT_THROW_MSG(buildFrameTable(json::parse(R"([{"count":2},{"count":0}])"), attributesOf(6), table),
                         std::runtime_error, "Frame table: experiment loop 1 has no iterations");
    EXPECT_EQ(table.size(), 6u);
}

} // namespace
