#include <imagefile/IoImageFile.h>
#include <metadata/JsonBridge.h>

#include "support/ExperimentDocs.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

using nlohmann::json;
using Zan::IoImageFile;
using Loop = IoImageFile::ExperimentLoop;
using Loops = std::vector<Loop>;

namespace {

Loops read(const json& doc) {
    Loops loops;
    nlohmann::adl_serializer<Loops>::from_json(doc, loops);
    return loops;
}

TEST(ExperimentLoopRecord, TypesByName) {
    struct Case {
        const char* name;
        IoImageFile::ExperimentLoopType type;
        const char* written;
    };
    const Case cases[] = {
        {"XYPosLoop", IoImageFile::XYPosLoop, "XYPosLoop"},
        {"TimeLoop", IoImageFile::TimeLoop, "TimeLoop"},
        {"NETimeLoop", IoImageFile::NETimeLoop, "NETimeLoop"},
        {"ZStackLoop", IoImageFile::ZStackLoop, "ZStackLoop"},
        {"XYDiscrLoop", IoImageFile::UnknownLoop, "unknown"},
        {"CustomLoop", IoImageFile::UnknownLoop, "unknown"},
        {"ZStackLoopAccurate", IoImageFile::UnknownLoop, "unknown"},
        {"timeloop", IoImageFile::UnknownLoop, "unknown"},
        {"", IoImageFile::UnknownLoop, "unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const json doc = {
            {"type", c.name}, {"count", 7}, {"nestingLevel", 2}, {"parameters", {{"any", {1, 2}}}}};
        const Loop loop = doc.get<Loop>();
        EXPECT_EQ(loop.type, c.type);
        EXPECT_EQ(loop.count, 7);
        EXPECT_EQ(loop.nestingLevel, 2);
        json expected = doc;
        expected["type"] = c.written; // everything else passes through unchanged
        EXPECT_EQ(json(loop), expected);
    }
}

TEST(ExperimentLoopRecord, DefaultsAndAbsentKeys) {
    EXPECT_EQ(json(Loop{}),
              json::parse(R"({"type": "unknown", "count": 0, "nestingLevel": 0, "parameters": null})"));

    Loop loop{IoImageFile::ZStackLoop, 5, 3, {{"stepUm", 1.0}}};
    nlohmann::adl_serializer<Loop>::from_json(json::object(), loop);
    EXPECT_EQ(loop.type, IoImageFile::ZStackLoop); // the current type's name is the default
    EXPECT_EQ(loop.count, 5);
    EXPECT_EQ(loop.nestingLevel, 3);
    EXPECT_EQ(loop.parameters, json::object()); // absent parameters read as an empty object
    EXPECT_EQ(json(loop)["parameters"], json::object());

    nlohmann::adl_serializer<Loop>::from_json({{"parameters", nullptr}, {"count", true}}, loop);
    EXPECT_EQ(loop.parameters, json());
    EXPECT_EQ(loop.count, 1); // a boolean reads as 0 or 1
    // Counts beyond 32 bits do not reach an undefined conversion.
    nlohmann::adl_serializer<Loop>::from_json({{"count", 1e300}, {"nestingLevel", -1e300}}, loop);
    EXPECT_EQ(loop.count, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(loop.nestingLevel, std::numeric_limits<std::int32_t>::min());
}

// The experiment document that the bridge builds, through the records and back.
TEST(ExperimentLoopRecord, RoundTripOfABuiltExperiment) {
    using namespace ZanTest;
    Zan::JsonMetadata::FrameTable table;
    const json doc = Zan::JsonMetadata::experiment(
        rawWith(
            level(TimeLevel, timePars(2),
                  {level(XYPosLevel, xyPars({{1, 2}, {3, 4}}),
                         {level(CustomLevel, countPars(2), {level(ZStackLevel, zPars(3, 0, 2, 1, 1))})})})),
        json::object(), table);
    ASSERT_EQ(doc.size(), 4u);
    const Loops loops = doc.get<Loops>();
    ASSERT_EQ(loops.size(), 4u);
    EXPECT_EQ(loops[0].type, IoImageFile::TimeLoop);
    EXPECT_EQ(loops[1].type, IoImageFile::XYPosLoop);
    EXPECT_EQ(loops[2].type, IoImageFile::UnknownLoop);
    EXPECT_EQ(loops[3].type, IoImageFile::ZStackLoop);
    EXPECT_EQ(loops[3].nestingLevel, 3);
    json expected = doc;
    expected[2]["type"] = "unknown";
    expected[2]["parameters"] = json::object();
    EXPECT_EQ(json(loops), expected);
    EXPECT_EQ(json(json(loops).get<Loops>()), expected);

    // Null parameters survive a write and a read.
    const Loops withNull = {Loop{IoImageFile::TimeLoop, 2, 0, nullptr}, Loop{}};
    EXPECT_EQ(read(json(withNull))[0].parameters, json());
    EXPECT_EQ(json(read(json(withNull))), json(withNull));
    EXPECT_EQ(json(Loops{}), json::array());
}

TEST(ExperimentLoopRecord, ExperimentDocumentsOfEveryKind) {
    for (const char* text : {"[]", "null", "{}"})
        EXPECT_TRUE(read(json::parse(text)).empty()) << text;
    for (const char* text : {R"({"a": {"type": "TimeLoop"}})", R"("TimeLoop")", "3", "true"}) {
        try {
            read(json::parse(text));
            ADD_FAILURE() << text << ": nothing thrown";
        } catch (const json::type_error& e) {
            EXPECT_EQ(e.id, 305) << text;
        }
    }

    // Loops already in the vector stay in front; a failing element keeps those read before it.
    struct Case {
        const char* badLoop;
        int id;
    };
    const Case cases[] = {
        {"5", 306}, {R"({"type": 4})", 302}, {R"({"count": "2"})", 302}, {R"({"nestingLevel": [1]})", 302}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badLoop);
        Loops loops = {Loop{IoImageFile::ZStackLoop, 9, 0, nullptr}};
        try {
            nlohmann::adl_serializer<Loops>::from_json(
                json::parse(std::string(R"([{"type": "TimeLoop", "count": 2}, )") + c.badLoop + ", {}]"),
                loops);
            ADD_FAILURE() << "nothing thrown";
        } catch (const json::type_error& e) {
            EXPECT_EQ(e.id, c.id) << e.what();
        }
        ASSERT_EQ(loops.size(), 2u);
        EXPECT_EQ(loops[0].count, 9);
        EXPECT_EQ(loops[1].type, IoImageFile::TimeLoop);
    }
}

TEST(ExperimentLoopRecord, DeeplyNestedParametersAreRefused) {
    json deep = 1;
    for (int i = 0; i < 100000; ++i) {
        json outer = json::array();
        outer.push_back(std::move(deep));
        deep = std::move(outer);
    }
    json doc = json::object();
    doc["type"] = "TimeLoop";
    doc["parameters"] = std::move(deep);
    Loop loop;
    EXPECT_THROW(nlohmann::adl_serializer<Loop>::from_json(doc, loop), std::runtime_error);
    EXPECT_EQ(loop.parameters, json());

    json shallow = 1;
    for (int i = 0; i < 200; ++i)
        shallow = json::array({std::move(shallow)});
    nlohmann::adl_serializer<Loop>::from_json({{"parameters", shallow}}, loop);
    EXPECT_EQ(loop.parameters, shallow);
}

} // namespace
