#include <metadata/JsonBridge.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

using namespace Zan::JsonMetadata;

namespace {

constexpr double startDay = 2459000.5;

json global() {
    return json::parse(R"({"loops": {"XYPosLoop": 0, "ZStackLoop": 1},
                           "time": {"relativeTimeMs": 5.0, "absoluteJulianDayNumber": 2459000.5,
                                    "timerSourceHardware": "NIDAQ"},
                           "position": {"stagePositionUm": [1.0, 2.0, 100.0]}})");
}

json channels() {
    return json::parse(R"({"channels": [{"name": "DAPI"}, {"name": "GFP", "time": {"stale": true}}],
                           "contents": {"channelCount": 2, "frameCount": 10}})");
}

json loops(bool settingZ = false, int homeIndex = 2, double stepUm = 0.5) {
    return {
        {{"type", "XYPosLoop"},
         {"count", 2},
         {"parameters",
          {{"points", {{{"stagePositionUm", {10.0, 20.0, 5.0}}}, {{"stagePositionUm", {30.0, 40.0, 50.0}}}}},
           {"isSettingZ", settingZ}}}},
        {{"type", "ZStackLoop"},
         {"count", 5},
         {"parameters", {{"homeIndex", homeIndex}, {"stepUm", stepUm}}}}};
}

json stageOf(const json& doc, std::size_t channel = 0) {
    return doc["channels"][channel]["position"]["stagePositionUm"];
}

TEST(FrameMetadata, TimeOfTheFrame) {
    const json doc = frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "");
    ASSERT_EQ(doc["channels"].size(), 2u);
    for (const json& channel : doc["channels"]) {
        EXPECT_EQ(channel["time"]["relativeTimeMs"], 1000.0);
        EXPECT_EQ(channel["time"]["absoluteJulianDayNumber"], startDay + 1000.0 / 86400000.0);
    }
    EXPECT_EQ(doc["channels"][0]["name"], "DAPI");
    EXPECT_EQ(doc["channels"][1]["time"]["stale"], true); // time members are set, not the object replaced
    EXPECT_EQ(doc["contents"], channels()["contents"]);

    // Without a frame time every channel takes the global time whole.
    for (double t :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        const json untimed = frameMetadata(global(), channels(), loops(), t, {0, 2}, "");
        for (const json& channel : untimed["channels"])
            EXPECT_EQ(channel["time"], global()["time"]) << t;
        EXPECT_EQ(frameMetadata(global(), channels(), loops(), t, {0, 2}, "/channels/1/time"), global()["time"]);
    }
}

TEST(FrameMetadata, PositionOfTheFrame) {
    struct Case {
        const char* name;
        json experiment;
        std::vector<std::uint32_t> coordinates;
        json stage;
    };
    const std::vector<Case> cases = {
        {"first point, first plane", loops(), {0, 0}, {10.0, 20.0, 99.0}},
        {"second point, home plane", loops(), {1, 2}, {30.0, 40.0, 100.0}},
        {"points that set z, plane 3 above home 0", loops(true, 0, 1.0), {1, 3}, {30.0, 40.0, 53.0}},
        {"plane below home with a negative step", loops(false, 4, -2.0), {0, 1}, {10.0, 20.0, 106.0}},
        // Documents that do not hold what the coordinates address leave the position as it was.
        {"coordinates missing", loops(), {}, {1.0, 2.0, 100.0}},
        {"coordinate of the z loop missing", loops(), {1}, {30.0, 40.0, 100.0}},
        {"coordinates beyond the counts", loops(), {2, 5}, {1.0, 2.0, 100.0}},
        {"fewer points than the count",
         [] {
             json e = loops();
             e[0]["parameters"]["points"].erase(1);
             return e;
         }(),
         {1, 2},
         {1.0, 2.0, 100.0}},
        {"points not an array",
         [] {
             json e = loops();
             e[0]["parameters"]["points"] = {{"a", 1}};
             return e;
         }(),
         {0, 2},
         {1.0, 2.0, 100.0}},
        {"a point without its three coordinates",
         [] {
             json e = loops(true);
             e[0]["parameters"]["points"][0]["stagePositionUm"] = {7.0, 8.0};
             return e;
         }(),
         {0, 2},
         {1.0, 2.0, 100.0}},
        {"loops beyond the experiment", json::array(), {0, 2}, {1.0, 2.0, 100.0}},
        {"no experiment", nullptr, {0, 2}, {1.0, 2.0, 100.0}},
        {"experiment not an array", json::object(), {0, 2}, {1.0, 2.0, 100.0}},
        {"home index far from the plane",
         loops(false, std::numeric_limits<std::int32_t>::min(), 1.0),
         {0, 0},
         {10.0, 20.0, 2147483748.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const json doc = frameMetadata(global(), channels(), c.experiment, 0.0, c.coordinates, "");
        EXPECT_EQ(stageOf(doc, 0), c.stage);
        EXPECT_EQ(stageOf(doc, 1), c.stage);
    }

    // Without a global position the moved axes are created; the others read 0.
    json bare = global();
    bare.erase("position");
    bare["loops"].erase("XYPosLoop");
    EXPECT_EQ(stageOf(frameMetadata(bare, channels(), loops(), 0.0, {0, 4}, "")), json({0.0, 0.0, 1.0}));
}

TEST(FrameMetadata, ThroughJsonPointers) {
    const json whole = frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "");
    EXPECT_EQ(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "/channels/0/time"),
              whole["channels"][0]["time"]);
    EXPECT_EQ(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2},
                            "/channels/1/position/stagePositionUm/2"),
              100.0);
    EXPECT_EQ(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "/missing"), json());
    EXPECT_EQ(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "/channels/7"), json());
    EXPECT_THROW(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "/channels/first"),
                 json::parse_error);
    EXPECT_THROW(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "/contents/channelCount/a"),
                 json::out_of_range);
    EXPECT_THROW(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "channels"), json::parse_error);

    // Resolved as the library's access on a modifiable document resolves it, error for error.
    const auto outcome = [](const std::function<json()>& f) {
        try {
            return f().dump();
        } catch (const json::exception& e) {
            return std::string(e.what());
        }
    };
    for (const char* pointer :
         {"/channels/1/name", "/channels/-", "/channels/01", "/channels/x", "/channels/12x",
          "/channels/0/name/a", "/missing/01", "/missing/0/x", "/missing/-/a", "/missing/", "/a~1b/c~0d",
          "/contents/channelCount/0", "/channels/99999999999999999999999", "/"}) {
        SCOPED_TRACE(pointer);
        json copy = whole;
        EXPECT_EQ(outcome([&] {
                      return frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, pointer);
                  }),
                  outcome([&] { return copy[json::json_pointer(pointer)]; }));
    }
    // An element far beyond the end is null, without growing the document to it on the way.
    EXPECT_EQ(frameMetadata(global(), channels(), loops(), 1000.0, {0, 2}, "/channels/4000000000/time"),
              json());

    // Nothing to report: null, whatever the pointer asks for.
    EXPECT_EQ(frameMetadata(global(), json::object(), loops(), 1000.0, {0, 2}, ""), json());
    EXPECT_EQ(frameMetadata(global(), json(), loops(), 1000.0, {0, 2}, "/channels"), json());
    const json onlyContents =
        frameMetadata(global(), {{"contents", {{"channelCount", 0}}}}, loops(), 0.0, {}, "");
    EXPECT_EQ(onlyContents, json({{"contents", {{"channelCount", 0}}}}));
}

TEST(FrameMetadata, DocumentsOfTheWrongKind) {
    struct Case {
        const char* name;
        json global, channels, experiment;
        std::function<bool(const std::exception&)> expected;
    };
    const auto typeError = [](int id) {
        return [id](const std::exception& e) {
            const auto* t = dynamic_cast<const json::type_error*>(&e);
            return t && t->id == id;
        };
    };
    const auto runtimeError = [](const std::exception& e) {
        return dynamic_cast<const std::runtime_error*>(&e);
    };
    json deep = 1;
    for (int i = 0; i < 300; ++i)
        deep = json::array({std::move(deep)});
    json deepChannels = channels();
    deepChannels["channels"][0]["extra"] = deep;
    json deepGlobal = global();
    deepGlobal["time"]["extra"] = deep;
    json loopIndexText = global();
    loopIndexText["loops"]["ZStackLoop"] = "1";
    json dayText = global();
    dayText["time"]["absoluteJulianDayNumber"] = "2459000.5";
    json zText = global();
    zText["position"]["stagePositionUm"][2] = "100";
    json pointText = loops();
    pointText[0]["parameters"]["points"][0]["stagePositionUm"][0] = "10";
    json homeText = loops();
    homeText[1]["parameters"]["homeIndex"] = "2";
    json loopNumber = loops();
    loopNumber[1] = 5;
    const std::vector<Case> cases = {
        {"global is null", nullptr, channels(), loops(), typeError(306)},
        {"global is an array", json::array(), channels(), loops(), typeError(306)},
        {"loop index is a string", loopIndexText, channels(), loops(), typeError(302)},
        {"start day is a string", dayText, channels(), loops(), typeError(302)},
        {"stage z is a string", zText, channels(), loops(), typeError(302)},
        {"point coordinate is a string", global(), channels(), pointText, typeError(302)},
        {"home index is a string", global(), channels(), homeText, typeError(302)},
        {"z loop is a number", global(), channels(), loopNumber, typeError(306)},
        {"channels nested 300 levels deep", global(), deepChannels, loops(), runtimeError},
        {"global time nested 300 levels deep", deepGlobal, channels(), loops(), runtimeError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            const json doc = frameMetadata(c.global, c.channels, c.experiment, 0.0, {0, 2}, "");
            ADD_FAILURE() << "gave " << doc.dump();
        } catch (const std::exception& e) {
            EXPECT_TRUE(c.expected(e)) << e.what();
        }
    }
}

} // namespace
