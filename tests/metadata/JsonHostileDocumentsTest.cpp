// Documents from damaged or hostile files: every member the experiment, global and frame metadata builders
// read, of the wrong JSON kind or out of range. Each gives the library's documented exception or a sound
// document; none crashes, allocates without bound or recurses with the file's nesting.

#include <metadata/JsonBridge.h>

#include <legacy/CVkLiteVariantR.h>

#include "support/ExperimentDocs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

using namespace Zan::JsonMetadata;
using namespace ZanTest;

namespace {

// What a call must give: a document (compared exactly), the library's type error of an id, or
// std::runtime_error.
struct Outcome {
    enum Kind { Document, TypeError, Runtime } kind;
    int id = 0;
    json document;
};
Outcome gives(const char* documentText) {
    return {Outcome::Document, 0, json::parse(documentText)};
}
Outcome typeError(int id) {
    return {Outcome::TypeError, id, {}};
}
Outcome runtimeError() {
    return {Outcome::Runtime, 0, {}};
}

void expectOutcome(const std::function<json()>& call, const Outcome& expected) {
    try {
        const json doc = call();
        EXPECT_EQ(expected.kind, Outcome::Document) << "gave " << doc.dump();
        if (expected.kind == Outcome::Document) {
            EXPECT_EQ(doc, expected.document);
        }
    } catch (const json::type_error& e) {
        EXPECT_EQ(expected.kind, Outcome::TypeError) << e.what();
        EXPECT_EQ(e.id, expected.id) << e.what();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(expected.kind, Outcome::Runtime) << e.what();
    }
}

json with(json dic, const json::json_pointer& at, const json& value) {
    dic[at] = value;
    return dic;
}

const json::json_pointer pars("/uLoopPars_dic/i0000000000_dic");

json::json_pointer pointerTo(const std::string& member) {
    return json::json_pointer(pars.to_string() + "/" + member);
}

// Nested legacy levels: depth spectral levels, each transparent, around one Z stack.
json deepLevels(int depth) {
    json inner = level(ZStackLevel, zPars(2, 0, 1, 1, 0));
    for (int i = 0; i < depth; ++i) {
        json outer = level(SpectLevel, countPars(2));
        outer["uiNextLevelCount_u32"] = 1;
        outer["ppNextLevelEx_dic"][positionKey(0)] = std::move(inner);
        inner = std::move(outer);
    }
    return inner;
}

json deepValue(int depth) {
    json v = 1;
    for (int i = 0; i < depth; ++i) {
        json outer = json::object();
        outer["a"] = std::move(v);
        v = std::move(outer);
    }
    return v;
}

TEST(HostileDocuments, Experiment) {
    const json time2 = level(TimeLevel, timePars(2));
    const json xy =
        level(XYPosLevel, {{"Points_dic", legacyList({{{"dPosX_dbl", 1.0}}, {{"dPosX_dbl", 2.0}}}, "dic")}});
    const json xyLists = level(XYPosLevel, xyPars({{1, 2}, {3, 4}}));
    const json z = level(ZStackLevel, zPars(2, 0, 1, 1, 0));
    const json ne =
        level(NETimeLevel, {{"pPeriod_dic", legacyList({timePars(3)}, "dic")}, {"pPeriodValid_bar", "AQ=="}});
    const char* timeDoc = R"([{"type":"TimeLoop","count":2,"nestingLevel":0,
                              "parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}}])";
    struct Case {
        const char* name;
        json experimentDic;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"experiment is a number", 5, typeError(306)},
        {"experiment is an array", json::array({time2}), typeError(306)},
        {"experiment is null", nullptr, typeError(306)},
        {"eType_u32 is a string", with(time2, json::json_pointer("/eType_u32"), "1"), typeError(302)},
        {"eType_u32 is 2^32 + 1", with(time2, json::json_pointer("/eType_u32"), 4294967297ULL),
         gives(timeDoc)},
        {"uLoopPars_dic is a number", with(time2, json::json_pointer("/uLoopPars_dic"), 5), typeError(306)},
        {"loop parameters are a string", with(time2, pars, "x"), typeError(306)},
        {"loop parameters are null", with(time2, pars, nullptr), gives("null")},
        {"count is a string", with(time2, pointerTo("uiCount_u32"), "2"), typeError(302)},
        {"count is an object", with(time2, pointerTo("uiCount_u32"), deepValue(3)), typeError(302)},
        {"count is 1e300", with(time2, pointerTo("uiCount_u32"), 1e300), runtimeError()},
        {"count is 2^32", with(time2, pointerTo("uiCount_u32"), 4294967296ULL), gives("null")},
        {"count is NaN", with(time2, pointerTo("uiCount_u32"), std::nan("")), gives("null")},
        {"count is -2", with(time2, pointerTo("uiCount_u32"), -2), runtimeError()},
        {"sub-level count is a string", with(time2, json::json_pointer("/uiNextLevelCount_u32"), "1"),
         typeError(302)},
        {"sub-level count 2^31 - 1 over one member",
         [&] {
             json l = time2;
             l["uiNextLevelCount_u32"] = std::numeric_limits<std::int32_t>::max();
             l["ppNextLevelEx_dic"][positionKey(0)] = level(CustomLevel, countPars(3));
             return l;
         }(),
         gives(R"([{"type":"TimeLoop","count":2,"nestingLevel":0,
                    "parameters":{"startMs":0.0,"periodMs":100.0,"durationMs":0.0}},
                   {"type":"CustomLoop","count":3,"nestingLevel":1}])")},
        {"sub-levels are a number", with(time2, json::json_pointer("/ppNextLevelEx_dic"), 3), typeError(302)},
        {"sub-levels are a number, with a stored count",
         with(with(time2, json::json_pointer("/ppNextLevelEx_dic"), 3),
              json::json_pointer("/uiNextLevelCount_u32"), 1),
         typeError(302)},
        {"a sub-level is a number",
         with(time2, json::json_pointer("/ppNextLevelEx_dic/" + positionKey(0)), 7), typeError(306)},
        {"z step is a string", with(z, pointerTo("dZStep_dbl"), "1"), typeError(302)},
        {"z home is an object", with(z, pointerTo("dZHome_dbl"), deepValue(2)), typeError(302)},
        {"z inversion is a number", with(z, pointerTo("bZInverted_bol"), 1), typeError(302)},
        {"z kind is a string", with(z, pointerTo("iType_i32"), "2"), typeError(302)},
        {"z device is a number", with(z, pointerTo("wsZDevice_str"), 1), typeError(302)},
        {"z values beyond every range",
         with(with(with(z, pointerTo("dZHigh_dbl"), 1e308), pointerTo("dZLow_dbl"), -1e308),
              pointerTo("iType_i32"), 2),
         gives(R"([{"type":"ZStackLoop","count":2,"nestingLevel":0,
                    "parameters":{"homeIndex":1,"stepUm":1.0,"bottomToTop":true}}])")},
        {"xy use-z flag is a string", with(xy, pointerTo("bUseZ_bol"), "yes"), typeError(302)},
        {"xy relative flag is a number", with(xy, pointerTo("bRelativeXY_bol"), 1), typeError(302)},
        {"xy point records are an array", with(xy, pointerTo("Points_dic"), json::array({1})),
         typeError(302)},
        {"an xy point is a number", with(xy, pointerTo("Points_dic/" + positionKey(1)), 4), typeError(306)},
        {"an xy point name is a number",
         with(xy, pointerTo("Points_dic/" + positionKey(1) + "/pPosName_str"), 4), typeError(302)},
        {"an x list entry is a string", with(xyLists, pointerTo("dPosX_dic/" + positionKey(1, "dbl")), "3"),
         typeError(302)},
        {"the y list is a string", with(xyLists, pointerTo("dPosY_dic"), "2,4"), typeError(302)},
        {"a name list entry is a number", with(xyLists, pointerTo("pPosName_dic"), legacyList({1}, "str")),
         typeError(302)},
        {"xy validity bytes are a number", with(xy, json::json_pointer("/pItemValid_bar"), 1),
         typeError(302)},
        {"xy validity flag is a number",
         with(xy, json::json_pointer("/pItemValid_dic"), legacyList({1}, "bol")), typeError(302)},
        {"xy lists shorter than the stored count",
         with(with(xyLists, pointerTo("uiCount_u32"), 5), pointerTo("dPosY_dic"), legacyList({2.0}, "dbl")),
         gives(R"([{"type":"XYPosLoop","count":2,"nestingLevel":0,"parameters":{"isSettingZ":false,"points":[
                    {"stagePositionUm":[1.0,2.0,0.0]},{"stagePositionUm":[3.0,0.0,0.0]}]}}])")},
        {"xy validity shorter than the points", with(xy, json::json_pointer("/pItemValid_bar"), "AQ=="),
         gives(R"([{"type":"XYPosLoop","count":1,"nestingLevel":0,"parameters":{"isSettingZ":false,"points":[
                    {"stagePositionUm":[1.0,0.0,0.0],"pfsOffset":0.0}]}}])")},
        {"xy validity bytes empty", with(xy, json::json_pointer("/pItemValid_bar"), ""), gives("null")},
        {"a ne period is a string", with(ne, pointerTo("pPeriod_dic/" + positionKey(0)), "p"),
         typeError(306)},
        {"ne validity bytes are an object", with(ne, pointerTo("pPeriodValid_bar"), json::object()),
         typeError(302)},
        {"ne validity flag is a string",
         [&] {
             json l = ne;
             l[pars].erase("pPeriodValid_bar");
             l[pars]["pPeriodValid_dic"] = legacyList({"true"}, "bol");
             return l;
         }(),
         typeError(302)},
        {"time start is a string", with(time2, pointerTo("dStart_dbl"), "0"), typeError(302)},
        {"time period is an object", with(time2, pointerTo("dPeriod_dbl"), deepValue(100)), typeError(302)},
        {"spectral planes are a number",
         level(SpectLevel, {{"pPlanes_dic", 3}, {"uiCount_u32", 2}}, {level(CustomLevel, countPars(2))}),
         gives(R"([{"type":"CustomLoop","count":2,"nestingLevel":0}])")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectOutcome(
            [&] {
                FrameTable table;
                json doc = experiment(rawWith(c.experimentDic), json::object(), table);
                std::uint64_t frames = 1;
                if (doc.is_array())
                    for (const json& loop : doc)
                        frames *= loop["count"].get<std::uint64_t>();
                EXPECT_EQ(table.size(), frames);
                return doc;
            },
            c.outcome);
    }
}

// Built and handed over by moves only: the JSON library copies recursively.
TEST(HostileDocuments, DeepExperimentTreeIsWalkedWithoutRecursion) {
    json raw = rawWith(nullptr);
    raw["Experiment_dic"] = deepLevels(50000);
    FrameTable table;
    const json doc = experiment(raw, json::object(), table);
    EXPECT_EQ(doc, json::parse(R"([{"type":"ZStackLoop","count":2,"nestingLevel":0,
                                    "parameters":{"homeIndex":0,"stepUm":1.0,"bottomToTop":true}}])"));
    EXPECT_EQ(table, FrameTable({{0}, {1}}));
}

// A caller's document nested a million levels deep would overflow the stack wherever the JSON library
// copies or compares it. Every builder refuses such a document, in the part it reads, with one error.
TEST(HostileDocuments, DeepDocumentsAreRefusedByEveryBuilder) {
    // Built and handed over by moves only.
    const auto deep = [] {
        json v = 1;
        for (int i = 0; i < 1000000; ++i) {
            json outer = json::array();
            outer.push_back(std::move(v));
            v = std::move(outer);
        }
        return v;
    };
    const json attributesPart = {{"uiWidth_u32", 4},
                                 {"uiHeight_u32", 2},
                                 {"uiComp_u32", 1},
                                 {"uiBpcSignificant_u32", 8},
                                 {"eCompression_i32", 2}};
    const json plane = {{"uiCompCount_u32", 1}, {"uiSampleIndex_u32", 0}};
    const json pictures = {
        {"sPicturePlanes_dic", {{"uiCount_u32", 1}, {"sPlaneNew_dic", {{"a0_dic", plane}}}}}};
    const json raw = {{"Attributes_dic", attributesPart}, {"Metadata_dic", pictures}};
    const json global = globalMetadata(raw, nullptr, nullptr, 1.0);
    const json channels = metadata(raw, global, {}, {});
    struct Case {
        const char* what; // the start of the message
        std::function<void(json)> call;
    };
    const auto withPart = [&](const char* key, const json::json_pointer& at) {
        return [=](json d) {
            json r = raw;
            r[key][at] = std::move(d);
            return r;
        };
    };
    const json::json_pointer nameAt("/sPicturePlanes_dic/sPlaneNew_dic/a0_dic/sDescription_str");
    const std::vector<Case> cases = {
        {"attributes: Attributes_dic",
         [&](json d) {
             attributes(
                 withPart("Attributes_dic", json::json_pointer("/dCompressionParam_dbl"))(std::move(d)));
         }},
        {"textInfo: TextInfo_dic",
         [&](json d) {
             json r = raw;
             r["TextInfo_dic"]["TextInfoItem_0_str"] = std::move(d);
             textInfo(r);
         }},
        {"globalMetadata: Attributes_dic",
         [&](json d) {
             globalMetadata(withPart("Attributes_dic", json::json_pointer("/x_dic"))(std::move(d)), nullptr,
                            nullptr, 1.0);
         }},
        {"globalMetadata: Metadata_dic",
         [&](json d) {
             globalMetadata(withPart("Metadata_dic", nameAt)(std::move(d)), nullptr, nullptr, 1.0);
         }},
        {"globalMetadata: experiment", [&](json d) { globalMetadata(raw, d, nullptr, 1.0); }},
        {"globalMetadata: textInfo",
         [&](json d) {
             json t;
             t["optics"] = std::move(d);
             globalMetadata(raw, nullptr, t, 1.0);
         }},
        {"metadata: Metadata_dic",
         [&](json d) { metadata(withPart("Metadata_dic", nameAt)(std::move(d)), global, {}, {}); }},
        {"metadata: Attributes_dic",
         [&](json d) {
             metadata(withPart("Attributes_dic", json::json_pointer("/x_dic"))(std::move(d)), global, {}, {});
         }},
        {"metadata: global",
         [&](json d) {
             json g = global;
             g["volume"]["x"] = std::move(d);
             metadata(raw, g, {}, {});
         }},
        {"composeRawMetadata: TextInfo_dic",
         [&](json d) {
             json t;
             t["SVkImageTextInfo_dic"] = std::move(d);
             composeRawMetadata({{"SVkImageAttributes_dic", attributesPart}}, nullptr, nullptr, t);
         }},
        {"writeRawMetadataToLiteVariants: TextInfo_dic",
         [&](json d) {
             json r = raw;
             r["TextInfo_dic"] = std::move(d);
             ZanLegacy::CVkLiteVariantR blocks[4];
             writeRawMetadataToLiteVariants(r, blocks[0], blocks[1], blocks[2], blocks[3]);
         }},
        {"frameMetadata: channels",
         [&](json d) {
             json c = channels;
             c["channels"][0]["x"] = std::move(d);
             frameMetadata(global, c, nullptr, 0.0, {}, "");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.call(deep());
            ADD_FAILURE() << "not refused";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), std::string(c.what) + ": nested deeper than 256 levels");
        }
    }
}

} // namespace
