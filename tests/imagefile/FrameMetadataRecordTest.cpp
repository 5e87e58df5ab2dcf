#include <imagefile/IoImageFile.h>
#include <metadata/JsonBridge.h>

#include <gtest/gtest.h>

#include <cmath>

using nlohmann::json;
using Zan::IoImageFile;

namespace {

using Time = IoImageFile::FrameTime;
using Position = IoImageFile::FramePosition;
using Channel = IoImageFile::ChannelFrameMetadata;
using Frame = IoImageFile::FrameMetadata;

void expectTime(const Time& t, double relative, double day, int timer) {
    EXPECT_EQ(t.relativeTimeMs, relative);
    EXPECT_EQ(t.absoluteJulianDayNumber, day);
    EXPECT_EQ(t.timerSourceHardware, timer);
}

TEST(FrameMetadataRecord, TimeAndPositionReadWithFixedDefaults) {
    struct TimeCase {
        const char* text;
        double relative, day;
        int timer;
    };
    const TimeCase times[] = {
        {R"({"relativeTimeMs": 12.5, "absoluteJulianDayNumber": 2459000.5, "timerSourceHardware": "NIDAQ"})",
         12.5, 2459000.5, 1},
        {R"({"timerSourceHardware": "x"})", 0.0, 0.0, 1}, // any text names the hardware timer
        {R"({"timerSourceHardware": ""})", 0.0, 0.0, 0},
        {R"({"relativeTimeMs": 3})", 3.0, 0.0, 0},
        {R"({})", 0.0, 0.0, 0},
    };
    for (const TimeCase& c : times) {
        SCOPED_TRACE(c.text);
        Time t{99.0, 98.0, 1}; // absent keys read as 0, not as what the record held
        nlohmann::adl_serializer<Time>::from_json(json::parse(c.text), t);
        expectTime(t, c.relative, c.day, c.timer);
    }

    struct PositionCase {
        const char* text;
        std::array<double, 3> stage;
    };
    const PositionCase positions[] = {
        {R"({"stagePositionUm": [1.5, 2.5, 3.5, 4.5]})", {1.5, 2.5, 3.5}},
        {R"({"stagePositionUm": [1.5, 2.5]})", {1.5, 2.5, 0.0}},
        {R"({"stagePositionUm": {"0": 7}})", {7.0, 0.0, 0.0}},
        {R"({})", {0.0, 0.0, 0.0}},
    };
    for (const PositionCase& c : positions) {
        SCOPED_TRACE(c.text);
        Position p{{9.0, 9.0, 9.0}};
        nlohmann::adl_serializer<Position>::from_json(json::parse(c.text), p);
        EXPECT_EQ(p.stagePositionUm, c.stage);
    }
}

TEST(FrameMetadataRecord, Writers) {
    EXPECT_EQ(json(Time{1.0, 2.0, 0}),
              json::parse(R"({"relativeTimeMs": 1.0, "absoluteJulianDayNumber": 2.0})"));
    EXPECT_EQ(
        json(Time{1.0, 2.0, 7}),
        json::parse(
            R"({"relativeTimeMs": 1.0, "absoluteJulianDayNumber": 2.0, "timerSourceHardware": "NIDAQ"})"));
    EXPECT_TRUE(json(Time{1.0, 2.0, 0})["relativeTimeMs"].is_number_float());
    EXPECT_EQ(json(Position{{1.0, 2.0, 3.0}}), json::parse(R"({"stagePositionUm": [1.0, 2.0, 3.0]})"));
    EXPECT_EQ(json(Frame{}), json::parse(R"({"channels": []})"));
    EXPECT_EQ(json(Frame{{Channel{}}}), json::parse(R"({"channels": [{"time": {"relativeTimeMs": 0.0,
        "absoluteJulianDayNumber": 0.0}, "position": {"stagePositionUm": [0.0, 0.0, 0.0]}}]})"));
}

// The document that the frame metadata builder gives, through the record and back.
TEST(FrameMetadataRecord, RoundTripOfABuiltDocument) {
    const json global = json::parse(R"({"loops": {"ZStackLoop": 0},
        "time": {"relativeTimeMs": 0.0, "absoluteJulianDayNumber": 2459000.5, "timerSourceHardware": "NIDAQ"},
        "position": {"stagePositionUm": [1.0, 2.0, 3.0]}})");
    const json channels = json::parse(R"({"channels": [{"name": "DAPI"}, {"name": "GFP"}], "contents": {}})");
    const json loops =
        json::parse(R"([{"type": "ZStackLoop", "count": 3, "parameters": {"homeIndex": 1, "stepUm": 2.0}}])");
    for (double t : {250.0, std::nan("")}) {
        SCOPED_TRACE(t);
        const json doc = Zan::JsonMetadata::frameMetadata(global, channels, loops, t, {2}, "");
        const Frame frame = doc.get<Frame>();
        ASSERT_EQ(frame.channels.size(), 2u);
        for (const Channel& c : frame.channels) {
            if (std::isnan(t))
                expectTime(c.time, 0.0, 2459000.5, 1);
            else
                expectTime(c.time, 250.0, 2459000.5 + 250.0 / 86400000.0, 0);
            EXPECT_EQ(c.position.stagePositionUm, (std::array<double, 3>{1.0, 2.0, 5.0}));
        }
        // Written back: the channels' time and position as the document gave them; names and contents are
        // not part of the record.
        json expected = json::array();
        for (const json& c : doc["channels"])
            expected.push_back({{"time", c["time"]}, {"position", c["position"]}});
        EXPECT_EQ(json(frame)["channels"], expected);
        EXPECT_EQ(json(frame).get<Frame>().channels.size(), 2u);
    }
}

TEST(FrameMetadataRecord, ReaderAppendsAndIgnoresWhatIsNotAFrameDocument) {
    Frame frame;
    frame.channels.push_back(Channel{Time{1.0, 1.0, 1}, Position{{1.0, 1.0, 1.0}}});
    for (const char* text :
         {R"([1, 2])", R"("channels")", R"(null)", R"({"contents": {}})", R"({"channels": {}})"}) {
        json(text).get_to(frame);                                             // a string value...
        nlohmann::adl_serializer<Frame>::from_json(json::parse(text), frame); // ...and the parsed document
        EXPECT_EQ(frame.channels.size(), 1u) << text;
    }
    nlohmann::adl_serializer<Frame>::from_json(
        json::parse(
            R"({"channels": [5, {"time": {"relativeTimeMs": 2.0}}, {"position": {"stagePositionUm": [4]}}]})"),
        frame);
    ASSERT_EQ(frame.channels.size(), 4u);
    expectTime(frame.channels[0].time, 1.0, 1.0, 1); // kept in front
    expectTime(frame.channels[1].time, 0.0, 0.0, 0); // a number: all defaults
    expectTime(frame.channels[2].time, 2.0, 0.0, 0);
    EXPECT_EQ(frame.channels[3].position.stagePositionUm, (std::array<double, 3>{4.0, 0.0, 0.0}));

    // A channel element that is not an object resets a record read alone; absent members keep their fields.
    Channel c{Time{5.0, 5.0, 1}, Position{{5.0, 5.0, 5.0}}};
    nlohmann::adl_serializer<Channel>::from_json(json::parse(R"({"position": {}})"), c);
    expectTime(c.time, 5.0, 5.0, 1);
    EXPECT_EQ(c.position.stagePositionUm, (std::array<double, 3>{0.0, 0.0, 0.0}));
    nlohmann::adl_serializer<Channel>::from_json(json("x"), c);
    expectTime(c.time, 0.0, 0.0, 0);
}

TEST(FrameMetadataRecord, MembersOfTheWrongKindFailAfterTheChannelsBefore) {
    struct Case {
        const char* badChannel;
        int id;
    };
    const Case cases[] = {
        {R"({"time": 5})", 306},
        {R"({"position": [1, 2, 3]})", 306},
        {R"({"time": {"relativeTimeMs": "1"}})", 302},
        {R"({"time": {"absoluteJulianDayNumber": null}})", 302},
        {R"({"time": {"timerSourceHardware": true}})", 302},
        {R"({"position": {"stagePositionUm": ["1", 2, 3]}})", 302},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badChannel);
        const json doc = json::parse(std::string(R"({"channels": [{}, )") + c.badChannel + R"(, {}]})");
        Frame frame;
        try {
            nlohmann::adl_serializer<Frame>::from_json(doc, frame);
            ADD_FAILURE() << "nothing thrown";
        } catch (const json::type_error& e) {
            EXPECT_EQ(e.id, c.id) << e.what();
        }
        EXPECT_EQ(frame.channels.size(), 1u);
    }
}

} // namespace
