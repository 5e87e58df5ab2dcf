#pragma once

// Raw-metadata documents with legacy experiment trees, built the way the bridge reads them from a file:
// every level is {"eType_u32", "uLoopPars_dic": {"i0000000000_dic": parameters}, "uiNextLevelCount_u32",
// "ppNextLevelEx_dic": {"i0000000000_dic": sub-level, ...}}.

#include <metadata/JsonBridge.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace ZanTest {

using nlohmann::json;

// Legacy loop types ("eType_u32").
enum LegacyLoop : std::uint32_t {
    UnknownLevel = 0,
    TimeLevel = 1,
    XYPosLevel = 2,
    XYDiscrLevel = 3,
    ZStackLevel = 4,
    PolarLevel = 5,
    SpectLevel = 6,
    CustomLevel = 7,
    NETimeLevel = 8,
    ManTimeLevel = 9,
    ZAccurateLevel = 10
};

inline std::string positionKey(int i, const char* suffix = "dic") {
    return Zan::JsonMetadata::makeJsonItemName(Zan::JsonMetadata::makeJsonArrayNameFromIndex(i), suffix);
}

// A legacy list of the given members, keyed by position.
inline json legacyList(const std::vector<json>& members, const char* suffix) {
    json list = json::object();
    for (std::size_t i = 0; i < members.size(); ++i)
        list[positionKey(static_cast<int>(i), suffix)] = members[i];
    return list;
}

inline json level(std::uint32_t type, const json& parameters, const std::vector<json>& subLevels = {}) {
    json dic = {{"eType_u32", type},
                {"uLoopPars_dic", {{positionKey(0), parameters}}},
                {"uiNextLevelCount_u32", static_cast<std::uint32_t>(subLevels.size())}};
    if (!subLevels.empty())
        dic["ppNextLevelEx_dic"] = legacyList(subLevels, "dic");
    return dic;
}

inline json countPars(std::uint64_t count) {
    return {{"uiCount_u32", count}};
}

inline json timePars(std::uint64_t count, double periodMs = 100.0) {
    return {{"uiCount_u32", count}, {"dStart_dbl", 0.0}, {"dPeriod_dbl", periodMs}, {"dDuration_dbl", 0.0}};
}

inline json zPars(std::uint64_t count, double low, double high, double step, double home, int kind = 0,
                  bool inverted = false) {
    return {{"uiCount_u32", count}, {"dZLow_dbl", low},  {"dZHigh_dbl", high},        {"dZStep_dbl", step},
            {"dZHome_dbl", home},   {"iType_i32", kind}, {"bZInverted_bol", inverted}};
}

// Points in the parallel-list form, x and y only.
inline json xyPars(const std::vector<std::pair<double, double>>& points) {
    std::vector<json> xs, ys;
    for (const auto& p : points) {
        xs.push_back(p.first);
        ys.push_back(p.second);
    }
    return {{"uiCount_u32", points.size()},
            {"dPosX_dic", legacyList(xs, "dbl")},
            {"dPosY_dic", legacyList(ys, "dbl")}};
}

inline json rawWith(const json& experimentDic, std::uint64_t sequenceCount = 1) {
    return {{"Attributes_dic",
             {{"uiWidth_u32", 64}, {"uiHeight_u32", 32}, {"uiSequenceCount_u32", sequenceCount}}},
            {"Experiment_dic", experimentDic}};
}

} // namespace ZanTest
