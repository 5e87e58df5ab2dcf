#include "ChannelDocuments.h"

#include <imagefile/IoImageFile.h>
#include <support/Expect.h>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>

using namespace channel_docs;
using Zan::JsonMetadata::metadata;

namespace {

const std::vector<float> noRanges;

TEST(ChannelMetadataDocument, FluorescenceChannel) {
    const json document = metadata(gfpRaw(), globalDocument(), {0.0f}, {4095.0f});
    json volume = globalDocument()["volume"];
    volume["componentCount"] = 1;
    volume["componentMinima"] = {0.0};
    volume["componentMaxima"] = {4095.0};
    volume["cameraTransformationMatrix"] = {0.0, 1.0, -1.0, 0.0};
    // Calibration 0.5 in x and y, orientations 1 and -1, image centre at the origin.
    volume["pixelToStageTransformationMatrix"] = {0.0, 0.5, -12.5, 0.5, -0.0, -25.0};
    const json expected = {{"contents", {{"frameCount", 4}, {"channelCount", 1}}},
                           {"channels",
                            {{{"channel",
                               {{"index", 0},
                                {"name", "GFP"},
                                {"colorRGB", 65280},
                                {"emissionLambdaNm", 525.0},
                                {"excitationLambdaNm", 488.0}}},
                              {"loops", {{"TimeLoop", 0}}},
                              {"microscope",
                               {{"objectiveName", "Plan Apo 20x"},
                                {"objectiveMagnification", 60.0},
                                {"objectiveNumericalAperture", 1.4},
                                {"zoomMagnification", 1.5},
                                {"immersionRefractiveIndex", 1.515},
                                {"pinholeDiameterUm", 30.0},
                                {"modalityFlags", {"fluorescence", "laserScanConfocal"}}}},
                              {"volume", volume}}}}};
    EXPECT_EQ(document, expected) << document.dump(2);
}

TEST(ChannelMetadataDocument, BrightfieldColourChannel) {
    const json document = metadata(brightfieldRaw(), globalDocument(), {0, 0, 0}, {255, 255, 255});
    json volume = globalDocument()["volume"];
    volume["componentCount"] = 3;
    volume["componentMinima"] = {0.0, 0.0, 0.0};
    volume["componentMaxima"] = {255.0, 255.0, 255.0};
    json microscope = globalDocument()["microscope"];
    microscope["modalityFlags"] = {"brightfield", "camera"};
    const json expected = {{"contents", {{"frameCount", 4}, {"channelCount", 1}}},
                           {"channels",
                            {{{"channel",
                               {{"index", 0},
                                {"name", "Brightfield"},
                                {"colorRGB", 16777215},
                                {"emissionLambdaNm", 420.0},
                                {"excitationLambdaNm", 420.0}}},
                              {"loops", {{"TimeLoop", 0}}},
                              {"microscope", microscope},
                              {"volume", volume}}}}};
    EXPECT_EQ(document, expected) << document.dump(2);
}

TEST(ChannelMetadataDocument, AttributesOnlyFile) {
    struct Case {
        std::uint32_t components;
        const char* name;
    };
    for (const Case& c : {Case{3, "RGB"}, Case{1, "Mono"}, Case{4, "Mono"}}) {
        const json document =
            metadata(rawDocument(nullptr, c.components), globalDocument(), noRanges, noRanges);
        json volume = globalDocument()["volume"];
        volume["componentCount"] = c.components;
        const json expected = {{"contents", {{"frameCount", 4}, {"channelCount", 1}}},
                               {"channels",
                                {{{"channel", {{"index", 0}, {"name", c.name}, {"colorRGB", 16777215}}},
                                  {"loops", {{"TimeLoop", 0}}},
                                  {"volume", volume}}}}};
        EXPECT_EQ(document, expected) << c.components;
    }
    // Without a global document the channel still says what it is.
    EXPECT_EQ(metadata(rawDocument(nullptr, 1), nullptr, noRanges, noRanges),
              json({{"contents", {{"channelCount", 1}}},
                    {"channels",
                     {{{"channel", {{"index", 0}, {"name", "Mono"}, {"colorRGB", 16777215}}},
                       {"volume", {{"componentCount", 1}}}}}}}));

    ZAN_EXPECT_THROW_MSG(metadata(rawDocument(nullptr, 0), globalDocument(), noRanges, noRanges),
                         std::runtime_error, "Wrong component count");
    ZAN_EXPECT_THROW_MSG(metadata({{"Attributes_dic", json::object()}}, globalDocument(), noRanges, noRanges),
                         std::runtime_error, "Wrong component count");
    ZAN_EXPECT_THROW_MSG(
        metadata({{"Attributes_dic", {{"uiComp_u32", -1e300}}}}, nullptr, noRanges, noRanges),
        std::runtime_error, "Wrong component count");
    for (const json& raw :
         {json(), json::object(), json::array({1}), json({{"TextInfo_dic", json::object()}})})
        ZAN_EXPECT_THROW_MSG(metadata(raw, globalDocument(), noRanges, noRanges), std::runtime_error,
                             "Cannot parse image attributes");
}

TEST(ChannelMetadataDocument, NoPlanesGiveNoChannels) {
    const json onlyContents = {{"contents", {{"frameCount", 4}}}};
    EXPECT_EQ(metadata(rawDocument(json::object()), globalDocument(), noRanges, noRanges), onlyContents);
    json none = pictureMetadata({gfpPlane()}, {});
    none["sPicturePlanes_dic"]["uiCount_u32"] = 0;
    EXPECT_EQ(metadata(rawDocument(none), globalDocument(), noRanges, noRanges), onlyContents);
    none["sPicturePlanes_dic"].erase("uiCount_u32");
    EXPECT_EQ(metadata(rawDocument(none), globalDocument(), noRanges, noRanges), onlyContents);
    // A count beyond the signed range is negative: no channels rather than a runaway loop.
    none["sPicturePlanes_dic"]["uiCount_u32"] = 4294967295u;
    EXPECT_EQ(metadata(rawDocument(none), globalDocument(), noRanges, noRanges), onlyContents);
    EXPECT_TRUE(metadata(rawDocument(json::object()), nullptr, noRanges, noRanges).is_null());
}

TEST(ChannelMetadataDocument, ComponentRangesFollowTheChannels) {
    json mono = gfpPlane();
    json colour = gfpPlane();
    colour["uiCompCount_u32"] = 3;
    const json raw = rawDocument(pictureMetadata({mono, colour, mono}, {}));
    const auto ranges = [&raw](std::vector<float> minima, std::vector<float> maxima) {
        const json document = metadata(raw, globalDocument(), minima, maxima);
        json out = json::array();
        for (const json& channel : document["channels"])
            out.push_back(channel["volume"].value("componentMinima", json()));
        return out;
    };
    EXPECT_EQ(ranges({0, 1, 2, 3, 4}, {9, 9, 9, 9, 9}), json({{0.0}, {1.0, 2.0, 3.0}, {4.0}}));
    EXPECT_EQ(ranges({0, 1, 2, 3}, {9, 9, 9, 9}), json({{0.0}, {1.0, 2.0, 3.0}, nullptr}));
    EXPECT_EQ(ranges({0, 1, 2, 3, 4}, {9, 9, 9, 9}), json({nullptr, nullptr, nullptr}));
    // A channel that does not fit keeps the position for the next one.
    EXPECT_EQ(ranges({7}, {9}), json({{7.0}, nullptr, nullptr}));
    json first = colour;
    const json misfit = rawDocument(pictureMetadata({colour, mono}, {}));
    const json document = metadata(misfit, globalDocument(), {5, 6}, {9, 9});
    EXPECT_FALSE(document["channels"][0]["volume"].contains("componentMinima"));
    EXPECT_EQ(document["channels"][1]["volume"]["componentMinima"], json({5.0}));
    EXPECT_EQ(document["channels"][1]["volume"]["componentMaxima"], json({9.0}));
    // A plane without components takes no range.
    json empty = gfpPlane();
    empty["uiCompCount_u32"] = 0;
    const json zero = metadata(rawDocument(pictureMetadata({empty, mono}, {})), globalDocument(), {5}, {9});
    EXPECT_FALSE(zero["channels"][0]["volume"].contains("componentMinima"));
    EXPECT_EQ(zero["channels"][1]["volume"]["componentMinima"], json({5.0}));
}

TEST(ChannelMetadataDocument, ListItemsAndSampleSettings) {
    json plane = gfpPlane();
    plane.erase("uiSampleIndex_u32"); // defaults to sample 1, not 0
    json picture = pictureMetadata({plane}, {sample({2, 0, 0, 2}), sample({3, 0, 0, 3})});
    const auto camera = [](const json& picture) {
        return metadata(rawDocument(picture), globalDocument(), noRanges,
                        noRanges)["channels"][0]["volume"]["cameraTransformationMatrix"];
    };
    EXPECT_EQ(camera(picture), json({3.0, 0.0, 0.0, 3.0}));

    // Short keys a0_dic, a1_dic are read the same; the zero-padded key wins where both exist.
    json shortKeys = picture;
    json& planes = shortKeys["sPicturePlanes_dic"];
    planes["sPlaneNew_dic"] = {{"a0_dic", plane}};
    planes["sSampleSetting_dic"] = {{"a1_dic", sample({4, 0, 0, 4})}};
    EXPECT_EQ(camera(shortKeys), json({4.0, 0.0, 0.0, 4.0}));
    planes["sSampleSetting_dic"][item(1)] = sample({5, 0, 0, 5});
    EXPECT_EQ(camera(shortKeys), json({5.0, 0.0, 0.0, 5.0}));

    // A stored sample index of 2^32 - 1 reads as -1: no sample, not the item of that position.
    json wrapped = picture;
    wrapped["sPicturePlanes_dic"]["sPlaneNew_dic"][item(0)]["uiSampleIndex_u32"] = 4294967295u;
    wrapped["sPicturePlanes_dic"]["sSampleSetting_dic"]["i4294967295_dic"] = sample({6, 0, 0, 6});
    EXPECT_EQ(camera(wrapped), globalDocument()["volume"]["cameraTransformationMatrix"]);

    // "sPlaneNew_dic" hides "sPlane_dic", even a longer one.
    json older = picture;
    older["sPicturePlanes_dic"]["sPlane_dic"] = {{item(0), plane}, {item(1), plane}};
    older["sPicturePlanes_dic"]["uiCount_u32"] = 1;
    json oldPlane = plane;
    oldPlane["sDescription_str"] = "old";
    older["sPicturePlanes_dic"]["sPlane_dic"][item(0)] = oldPlane;
    EXPECT_EQ(
        metadata(rawDocument(older), globalDocument(), noRanges, noRanges)["channels"][0]["channel"]["name"],
        "GFP");
    older["sPicturePlanes_dic"].erase("sPlaneNew_dic");
    EXPECT_EQ(
        metadata(rawDocument(older), globalDocument(), noRanges, noRanges)["channels"][0]["channel"]["name"],
        "old");

    // A plane that neither key finds fails the document.
    json missing = picture;
    missing["sPicturePlanes_dic"]["uiCount_u32"] = 2;
    EXPECT_THROW(metadata(rawDocument(missing), globalDocument(), noRanges, noRanges), json::type_error);
}

TEST(ChannelMetadataDocument, CameraMatrixSizesAndStoredData) {
    const json globalCamera = globalDocument()["volume"]["cameraTransformationMatrix"];
    struct Case {
        const char* matrix;
        json mat;
        json expected;
    };
    const Case cases[] = {
        {"2 x 2",
         {{"Columns_u32", 2}, {"Rows_u32", 2}, {"Data_bar", matrixBytes({1, 2, 3, 4})}},
         {1.0, 2.0, 3.0, 4.0}},
        {"3 x 3",
         {{"Columns_u32", 3}, {"Rows_u32", 3}, {"Data_bar", matrixBytes({1, 2, 3, 4, 5, 6, 7, 8, 9})}},
         globalCamera},
        {"2 x 2 of 3 doubles",
         {{"Columns_u32", 2}, {"Rows_u32", 2}, {"Data_bar", matrixBytes({1, 2, 3})}},
         globalCamera},
        {"2 x 2 of 5 doubles",
         {{"Columns_u32", 2}, {"Rows_u32", 2}, {"Data_bar", matrixBytes({1, 2, 3, 4, 5})}},
         globalCamera},
        {"no size", {{"Data_bar", matrixBytes({1, 2, 3, 4})}}, globalCamera},
        // An empty stored byte array has no data member, or a null one: the global matrix stays.
        {"no data", {{"Columns_u32", 2}, {"Rows_u32", 2}}, globalCamera},
        {"null data", {{"Columns_u32", 2}, {"Rows_u32", 2}, {"Data_bar", nullptr}}, globalCamera},
        {"empty data", {{"Columns_u32", 2}, {"Rows_u32", 2}, {"Data_bar", ""}}, globalCamera},
    };
    for (const Case& c : cases) {
        json s = sample({});
        s["matCameraToStage_dic"] = c.mat;
        const json raw = rawDocument(pictureMetadata({gfpPlane()}, {s}));
        const json volume = metadata(raw, globalDocument(), noRanges, noRanges)["channels"][0]["volume"];
        EXPECT_EQ(volume["cameraTransformationMatrix"], c.expected) << c.matrix;
    }
    json s = sample({});
    s["matCameraToStage_dic"]["Data_bar"] = 5;
    EXPECT_THROW(
        metadata(rawDocument(pictureMetadata({gfpPlane()}, {s})), globalDocument(), noRanges, noRanges),
        json::type_error);
}

TEST(ChannelMetadataDocument, PixelToStageMatrix) {
    json global = globalDocument();
    global["volume"]["cameraTransformationMatrix"] = {1.0, 0.0, 0.0, 1.0};
    json s = sample({});
    s.erase("matCameraToStage_dic");
    s["pDeviceSetting_dic"]["m_iYOrientation0_i32"] = 1;
    const auto pixelToStage = [](const json& global, const json& s) {
        const json raw = rawDocument(pictureMetadata({gfpPlane()}, {s}));
        return metadata(raw, global, noRanges, noRanges)["channels"][0]["volume"].value(
            "pixelToStageTransformationMatrix", json());
    };
    EXPECT_EQ(pixelToStage(global, s), json({0.5, 0.0, -25.0, 0.0, 0.5, -12.5}));

    json unused = s;
    unused["pDeviceSetting_dic"]["m_iXYUse0_i32"] = 0;
    EXPECT_TRUE(pixelToStage(global, unused).is_null());
    json uncalibrated = global;
    uncalibrated["volume"]["axesCalibrated"] = {true, false, false};
    EXPECT_TRUE(pixelToStage(uncalibrated, s).is_null());
    json noCamera = global;
    noCamera["volume"].erase("cameraTransformationMatrix");
    EXPECT_TRUE(pixelToStage(noCamera, s).is_null());
    // A plane without a sample setting gets no map.
    EXPECT_TRUE(metadata(rawDocument(pictureMetadata({gfpPlane()}, {})), global, noRanges,
                         noRanges)["channels"][0]["volume"]
                    .value("pixelToStageTransformationMatrix", json())
                    .is_null());
    // A camera matrix shorter than four elements is an error, not a read past its end.
    json shortCamera = global;
    shortCamera["volume"]["cameraTransformationMatrix"] = {1.0, 0.0};
    EXPECT_THROW(pixelToStage(shortCamera, s), json::out_of_range);
}

TEST(ChannelMetadataDocument, MicroscopeAndModality) {
    const auto microscope = [](const json& plane, const json& s) {
        return metadata(rawDocument(pictureMetadata({plane}, {s})), globalDocument(), noRanges,
                        noRanges)["channels"][0]["microscope"];
    };
    json s = sample({1, 0, 0, 1});
    s["pObjectiveSetting_dic"]["dObjectiveNA_dbl"] = 0.0; // not positive: the global aperture stays
    json plane = gfpPlane();
    plane["dPinholeDiameter_dbl"] = -1.0;
    const json m = microscope(plane, s);
    EXPECT_EQ(m["objectiveNumericalAperture"], 0.75);
    EXPECT_EQ(m["objectiveMagnification"], 60.0);
    EXPECT_FALSE(m.contains("pinholeDiameterUm"));

    struct Case {
        const char* modality;
        std::optional<json> mask; // absent when empty
        std::optional<json> code;
        std::uint32_t components;
        json flags;
    };
    const Case cases[] = {
        {"mask wins over the code", 0x3, 1u, 1, {"fluorescence", "brightfield"}},
        {"null mask: the code", json(), 2u, 1, {"fluorescence", "laserScanConfocal"}},
        {"code only", {}, 12u, 3, {"brightfield"}},
        {"unknown code", {}, 99u, 1, {"fluorescence", "camera"}},
        {"signed code is ignored", {}, 2, 1, json::array()},
        {"floating code is ignored", {}, 2.0, 1, json::array()},
        {"text code is ignored", {}, "2", 1, json::array()},
        {"neither", {}, {}, 1, json::array()},
        {"mask from a float", 513.0, {}, 1, {"fluorescence", "laserScanConfocal"}},
        {"mask beyond 64 bits saturates", 1e300, {}, 1, allModalityNames()},
    };
    for (const Case& c : cases) {
        json p = gfpPlane();
        p.erase("uiModalityMask_u64");
        p["uiCompCount_u32"] = c.components;
        if (c.mask)
            p["uiModalityMask_u64"] = *c.mask;
        if (c.code)
            p["eModality_u32"] = *c.code;
        EXPECT_EQ(microscope(p, s)["modalityFlags"], c.flags) << c.modality;
    }
    json bad = gfpPlane();
    bad["uiModalityMask_u64"] = "0x201";
    EXPECT_THROW(microscope(bad, s), json::type_error);
}

// Every member of a valid pair of documents replaced by every wrong kind: the builder either gives a
// document or raises the documented errors, and what it gives reads as a metadata record.
TEST(ChannelMetadataDocument, HostileDocuments) {
    const double inf = std::numeric_limits<double>::infinity();
    const json kinds[] = {nullptr, true,          -1,       4294967296ull,  1e300,     -1e300, inf, "text",
                          "",      json::array(), {1, "a"}, json::object(), {{"a", 1}}};
    const auto run = [](const json& raw, const json& global) {
        try {
            const json document = metadata(raw, global, {0, 1, 2, 3}, {9, 9, 9, 9});
            const json written = document.get<Zan::IoImageFile::Metadata>();
            EXPECT_EQ(written.get<Zan::IoImageFile::Metadata>().channels.size(), written["channels"].size());
        } catch (const std::runtime_error&) {
        } catch (const json::exception&) {
        }
    };
    const auto everyMember = [&kinds](const json& document, const std::function<void(const json&)>& use) {
        const json flat = document.flatten();
        std::vector<std::string> pointers{""};
        for (const auto& [leaf, value] : flat.items()) {
            // Every container on the way to the leaf too.
            for (std::size_t p = leaf.find('/', 1); p != std::string::npos; p = leaf.find('/', p + 1))
                pointers.push_back(leaf.substr(0, p));
            pointers.push_back(leaf);
        }
        for (const std::string& pointer : pointers)
            for (const json& kind : kinds) {
                json changed = document;
                changed[json::json_pointer(pointer)] = kind;
                use(changed);
            }
    };
    json raw = gfpRaw();
    raw["Metadata_dic"]["sPicturePlanes_dic"]["sPlaneNew_dic"][item(1)] =
        brightfieldRaw()["Metadata_dic"]["sPicturePlanes_dic"]["sPlaneNew_dic"][item(0)];
    raw["Metadata_dic"]["sPicturePlanes_dic"]["sPlaneNew_dic"][item(1)]["pFilterPath_dic"] =
        path({filter(3, spectrum({{405, 4}, {488, 4}}), spectrum({{500, 2}, {540, 3}})),
              filter(6, spectrum({{640, 4}}), spectrum({{700, 1}}))});
    raw["Metadata_dic"]["sPicturePlanes_dic"]["uiCount_u32"] = 2;
    const json global = globalDocument();
    everyMember(raw, [&](const json& changed) { run(changed, global); });
    everyMember(global, [&](const json& changed) { run(raw, changed); });
    everyMember(rawDocument(nullptr), [&](const json& changed) { run(changed, global); });
}

} // namespace
