#include <imagefile/IoImageFile.h>

#include "../metadata/ChannelDocuments.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using json = nlohmann::json;
using Zan::IoImageFile;

namespace {

int errorId(const std::function<void()>& f) {
    try {
        f();
    } catch (const json::exception& e) {
        return e.id;
    }
    return 0;
}

IoImageFile::ChannelMetadata fullChannel() {
    IoImageFile::ChannelMetadata c;
    c.channel = {"GFP", 2, 0x00563412u, 488.0, 525.0};
    c.loops = {{"TimeLoop", 0}, {"ZStackLoop", 1}};
    c.microscope.objectiveName = "Plan Apo 60x Oil";
    c.microscope.objectiveMagnification = 60.0;
    c.microscope.objectiveNumericalAperture = 1.4;
    c.microscope.projectiveMagnification = 1.5;
    c.microscope.zoomMagnification = 2.0;
    c.microscope.immersionRefractiveIndex = 1.515;
    c.microscope.pinholeDiameterUm = 30.0;
    c.microscope.modalityFlags = {"fluorescence", "laserScanConfocal"};
    IoImageFile::VolumeInfo& v = c.volume;
    v.axesCalibrated = {true, true, false};
    v.axesCalibration = {0.1625, 0.1625, 0.5};
    v.axesInterpretation = {IoImageFile::Distance, IoImageFile::Time, IoImageFile::Distance};
    v.voxelCount = {2048, 1, 21};
    v.bitsPerComponentInMemory = 32;
    v.bitsPerComponentSignificant = 32;
    v.componentCount = 1;
    v.componentDataFormat = IoImageFile::Float;
    v.cameraTransformationMatrix = {0.0, 1.0, -1.0, 0.0};
    v.pixelToStageTransformationMatrix = {0.0, 0.5, -12.5, 0.5, 0.0, -25.0};
    return c;
}

TEST(ChannelMetadataRecords, WrittenAndReadBack) {
    IoImageFile::Metadata record;
    record.frameCount = 84;
    record.channels = {fullChannel(), IoImageFile::ChannelMetadata()};
    record.channels[1].channel.colorRGB = 0xAB00FF80u; // the highest byte is not kept
    const json written = record;

    const json expectedFirst = {{"channel",
                                 {{"name", "GFP"},
                                  {"index", 2},
                                  {"colorRGB", "#123456"},
                                  {"excitationLambdaNm", 488.0},
                                  {"emissionLambdaNm", 525.0}}},
                                {"loops", {{"TimeLoop", 0}, {"ZStackLoop", 1}}},
                                {"microscope",
                                 {{"objectiveName", "Plan Apo 60x Oil"},
                                  {"objectiveMagnification", 60.0},
                                  {"objectiveNumericalAperture", 1.4},
                                  {"projectiveMagnification", 1.5},
                                  {"zoomMagnification", 2.0},
                                  {"immersionRefractiveIndex", 1.515},
                                  {"pinholeDiameterUm", 30.0},
                                  {"modalityFlags", {"fluorescence", "laserScanConfocal"}}}},
                                {"volume",
                                 {{"axesCalibrated", {true, true, false}},
                                  {"axesCalibration", {0.1625, 0.1625, 0.5}},
                                  {"axesInterpretation", {"distance", "time", "distance"}},
                                  {"voxelCount", {2048, 1, 21}},
                                  {"bitsPerComponentInMemory", 32},
                                  {"bitsPerComponentSignificant", 32},
                                  {"componentCount", 1},
                                  {"componentDataFormat", "float"},
                                  {"cameraTransformationMatrix", {0.0, 1.0, -1.0, 0.0}},
                                  {"pixelToStageTransformationMatrix", {0.0, 0.5, -12.5, 0.5, 0.0, -25.0}}}}};
    EXPECT_EQ(written["contents"], json({{"frameCount", 84}, {"channelCount", 2}}));
    EXPECT_EQ(written["channels"][0], expectedFirst) << written["channels"][0].dump(2);
    EXPECT_EQ(written["channels"][1]["channel"]["colorRGB"], "#80ff00");
    EXPECT_TRUE(written["channels"][0]["channel"]["index"].is_number_integer());
    EXPECT_TRUE(written["channels"][0]["volume"]["axesCalibration"][0].is_number_float());
    EXPECT_EQ(written["channels"][1]["loops"], json::object());
    EXPECT_EQ(written["channels"][1]["microscope"]["modalityFlags"], json::array());

    const IoImageFile::Metadata back = written.get<IoImageFile::Metadata>();
    EXPECT_EQ(json(back), written);
    EXPECT_EQ(back.channels[1].channel.colorRGB, 0x00FF80u);
    EXPECT_EQ(back.channels[0].volume.componentDataFormat, IoImageFile::Float);

    IoImageFile::Metadata empty;
    EXPECT_EQ(json(empty),
              json({{"contents", {{"frameCount", 0}, {"channelCount", 0}}}, {"channels", json::array()}}));
}

TEST(ChannelMetadataRecords, ColourTextsAndNumbers) {
    struct Case {
        json colour;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"#ff8000", 33023},
        {"ff8000", 33023},
        {"#FF8000", 33023},
        {"0xff8000", 33023},
        {"#563412", 0x123456},
        {"#ff80", 0},
        {"", 0},
        {"#", 0},
        {"#zz8000", 0},
        {"0Xff8000", 0x80ff00}, // read from character 0: the pairs 0X, ff and 80
        {"# f 8 0", 0x00080f},  // strtoul skips leading blanks and accepts a sign
        {"#+f+8+0", 0x00080f},
        {"#ff8000ee", 33023},
        {255, 255},
        {0x1FF0000ull, 0x1FF0000u}, // kept as stored; the writer drops the highest byte
        {4294967296ull + 5, 5},     // integers convert modulo 2^32
        {-1, 0xFFFFFFFFu},
        {300.7, 300},
        // Floating values beyond the range saturate instead of reaching an undefined cast.
        {1e300, 0xFFFFFFFFu},
        {-1e300, 0},
        {-2.5, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const Case& c : cases) {
        IoImageFile::ChannelInfo info;
        json document = {{"colorRGB", c.colour}};
        nlohmann::adl_serializer<IoImageFile::ChannelInfo>::from_json(document, info);
        EXPECT_EQ(info.colorRGB, c.expected) << c.colour.dump();
    }
    // Kinds that are no colour leave it, as does an absent member; a new channel is written as white.
    for (const json& kept : {json(), json(true), json::array({1}), json::object()}) {
        IoImageFile::ChannelInfo info;
        info.colorRGB = 0x123456;
        nlohmann::adl_serializer<IoImageFile::ChannelInfo>::from_json({{"colorRGB", kept}}, info);
        EXPECT_EQ(info.colorRGB, 0x123456u) << kept.dump();
    }
    IoImageFile::ChannelInfo info;
    nlohmann::adl_serializer<IoImageFile::ChannelInfo>::from_json(json::object(), info);
    EXPECT_EQ(json(info)["colorRGB"], "#ffffff");
}

TEST(ChannelMetadataRecords, ReadsTheChannelMetadataDocument) {
    using namespace channel_docs;
    json global = globalDocument();
    global["volume"]["componentDataType"] = "float";
    global["volume"]["bitsPerComponentSignificant"] = 32;
    const json plane = {{"uiCompCount_u32", 1},
                        {"sDescription_str", "DAPI"},
                        {"uiColor_u32", 16711680},
                        {"uiModalityMask_u64", 0x101},
                        {"pFluorescentProbe_dic", probe(spectrum({{405, 4}}), spectrum({{450, 4}}))}};
    const json document =
        Zan::JsonMetadata::metadata(rawDocument(pictureMetadata({plane}, {})), global, {0.0f}, {1.0f});
    const IoImageFile::Metadata record = document.get<IoImageFile::Metadata>();
    EXPECT_EQ(record.frameCount, 4);
    ASSERT_EQ(record.channels.size(), 1u);
    const IoImageFile::ChannelMetadata& c = record.channels[0];
    EXPECT_EQ(c.channel.name, "DAPI");
    EXPECT_EQ(c.channel.colorRGB, 16711680u);
    EXPECT_EQ(c.channel.excitationLambdaNm, 405.0);
    EXPECT_EQ(c.channel.emissionLambdaNm, 450.0);
    EXPECT_EQ(c.loops, (std::map<std::string, std::int32_t>{{"TimeLoop", 0}}));
    EXPECT_EQ(c.microscope.objectiveMagnification, 20.0);
    EXPECT_EQ(c.microscope.projectiveMagnification, 1.0); // not in the document: the default
    EXPECT_EQ(c.microscope.pinholeDiameterUm, 1.0);
    EXPECT_EQ(c.microscope.modalityFlags, (std::set<std::string>{"camera", "fluorescence"}));
    // The document names the sample type "componentDataType": a float image reads back as float.
    EXPECT_EQ(c.volume.componentDataFormat, IoImageFile::Float);
    EXPECT_EQ(c.volume.voxelCount, (std::array<std::int64_t, 3>{100, 50, 1}));
    EXPECT_EQ(c.volume.axesCalibrated, (std::array<bool, 3>{true, true, false}));
    EXPECT_EQ(c.volume.componentCount, 1);
    EXPECT_EQ(c.volume.bitsPerComponentSignificant, 32);

    // The record's own key wins where both are present.
    IoImageFile::VolumeInfo v;
    nlohmann::adl_serializer<IoImageFile::VolumeInfo>::from_json(
        {{"componentDataFormat", "unsigned"}, {"componentDataType", "float"}}, v);
    EXPECT_EQ(v.componentDataFormat, IoImageFile::Unsigned);
    nlohmann::adl_serializer<IoImageFile::VolumeInfo>::from_json({{"componentDataType", "Float"}}, v);
    EXPECT_EQ(v.componentDataFormat, IoImageFile::Unsigned);
}

TEST(ChannelMetadataRecords, PartialAndOddDocuments) {
    IoImageFile::Metadata m;
    m.frameCount = 7;
    nlohmann::adl_serializer<IoImageFile::Metadata>::from_json({{"channels", json::array()}}, m);
    EXPECT_EQ(m.frameCount, 1);
    EXPECT_TRUE(m.channels.empty());
    nlohmann::adl_serializer<IoImageFile::Metadata>::from_json(
        {{"contents", {{"frameCount", 3}}}, {"channels", {{"a", 1}}}}, m);
    EXPECT_EQ(m.frameCount, 3);
    EXPECT_TRUE(m.channels.empty());
    // Elements that are not objects append default channels behind the ones already there.
    nlohmann::adl_serializer<IoImageFile::Metadata>::from_json({{"channels", {"x", 5}}}, m);
    ASSERT_EQ(m.channels.size(), 2u);
    EXPECT_EQ(m.channels[0].channel.colorRGB, 0xFFFFFFFFu);
    EXPECT_EQ(m.channels[0].volume.cameraTransformationMatrix, (std::array<double, 4>{1, 0, 0, 1}));

    IoImageFile::VolumeInfo v;
    nlohmann::adl_serializer<IoImageFile::VolumeInfo>::from_json(
        {{"cameraTransformationMatrix", {1, 2, 3, 4, 5, 6}},
         {"pixelToStageTransformationMatrix", {1, 2, 3, 4}},
         {"axesCalibrated", {true}},
         {"axesCalibration", 5},
         {"axesInterpretation", {"time", "Time"}},
         {"voxelCount", {{"0", 8}, {"2", 9}}}},
        v);
    EXPECT_EQ(v.cameraTransformationMatrix, (std::array<double, 4>{1, 0, 0, 1}));
    EXPECT_EQ(v.pixelToStageTransformationMatrix, (std::array<double, 6>{1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(v.axesCalibrated, (std::array<bool, 3>{true, false, false}));
    EXPECT_EQ(v.axesCalibration, (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(v.axesInterpretation, (std::array<IoImageFile::AxisInterpretation, 3>{
                                        IoImageFile::Time, IoImageFile::Distance, IoImageFile::Distance}));
    EXPECT_EQ(v.voxelCount, (std::array<std::int64_t, 3>{8, 0, 9}));

    IoImageFile::MicroscopeInfo mi;
    mi.modalityFlags = {"SIM"};
    nlohmann::adl_serializer<IoImageFile::MicroscopeInfo>::from_json(
        {{"modalityFlags", {"camera", "camera", "TIRF"}}}, mi);
    EXPECT_EQ(json(mi)["modalityFlags"], json({"SIM", "TIRF", "camera"}));
    nlohmann::adl_serializer<IoImageFile::MicroscopeInfo>::from_json({{"modalityFlags", "aux"}}, mi);
    nlohmann::adl_serializer<IoImageFile::MicroscopeInfo>::from_json({{"modalityFlags", nullptr}}, mi);
    EXPECT_EQ(mi.modalityFlags.size(), 4u);
    EXPECT_EQ(mi.zoomMagnification, 1.0);

    IoImageFile::ChannelMetadata c;
    nlohmann::adl_serializer<IoImageFile::ChannelMetadata>::from_json(
        {{"loops", {{"TimeLoop", 0}, {"ZStackLoop", 1}}}}, c);
    EXPECT_EQ(json(c)["loops"], json({{"TimeLoop", 0}, {"ZStackLoop", 1}}));
    nlohmann::adl_serializer<IoImageFile::ChannelMetadata>::from_json({{"loops", {5, 1e300}}}, c);
    EXPECT_EQ(c.loops, (std::map<std::string, std::int32_t>{
                           {"0", 5}, {"1", std::numeric_limits<std::int32_t>::max()}}));
}

TEST(ChannelMetadataRecords, WrongKindsFailWithTheLibrarysErrors) {
    struct Case {
        const char* what;
        json document;
        int id;
    };
    const Case cases[] = {
        {"document not an object", json::array(), 306},
        {"channel not an object", {{"channels", {{{"channel", 5}}}}}, 306},
        {"microscope not an object", {{"channels", {{{"microscope", "x"}}}}}, 306},
        {"volume not an object", {{"channels", {{{"volume", json::array()}}}}}, 306},
        {"index as text", {{"channels", {{{"channel", {{"index", "1"}}}}}}}, 302},
        {"name as number", {{"channels", {{{"channel", {{"name", 1}}}}}}}, 302},
        {"calibrated flag as number", {{"channels", {{{"volume", {{"axesCalibrated", {1}}}}}}}}, 302},
        {"modality flag as number",
         {{"channels", {{{"microscope", {{"modalityFlags", {"camera", 3}}}}}}}},
         302},
        {"matrix element as text",
         {{"channels", {{{"volume", {{"cameraTransformationMatrix", {1, 0, "0", 1}}}}}}}},
         302},
        {"loop position as text", {{"channels", {{{"loops", {{"TimeLoop", "0"}}}}}}}, 302},
        {"frame count as text", {{"contents", {{"frameCount", "4"}}}}, 302},
    };
    for (const Case& c : cases) {
        IoImageFile::Metadata m;
        EXPECT_EQ(errorId([&] { nlohmann::adl_serializer<IoImageFile::Metadata>::from_json(c.document, m); }),
                  c.id)
            << c.what;
    }
    // Channels read completely before the failing one stay; the failing one is dropped.
    IoImageFile::Metadata m;
    EXPECT_EQ(errorId([&] {
                  nlohmann::adl_serializer<IoImageFile::Metadata>::from_json(
                      {{"channels", {{{"channel", {{"name", "a"}}}}, {{"channel", {{"name", 2}}}}}}}, m);
              }),
              302);
    ASSERT_EQ(m.channels.size(), 1u);
    EXPECT_EQ(m.channels[0].channel.name, "a");
}

} // namespace
