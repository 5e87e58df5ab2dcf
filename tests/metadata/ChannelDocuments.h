#pragma once

// Raw-metadata pieces for the channel tests, built by hand under the legacy key scheme: spectra, filters,
// light paths, planes, sample settings and the global metadata document that a file of them would have.

#include <legacy/Base64Coder.h>
#include <metadata/JsonBridge.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace channel_docs {

using json = nlohmann::json;
using Zan::JsonMetadata::makeJsonArrayNameFromIndex;
using Zan::JsonMetadata::makeJsonItemName;

struct Pt {
    double wavelength;
    std::uint32_t type;
    double transmission = 1.0;
};

// Key of the n-th unnamed item of a legacy list.
inline std::string item(int n) {
    return makeJsonItemName(makeJsonArrayNameFromIndex(n), "dic");
}

// A spectrum record; its points are named Point0, Point1, ... as the legacy list names them.
inline json spectrum(std::initializer_list<Pt> points, bool curve = false) {
    json list = json::object();
    int n = 0;
    for (const Pt& p : points)
        list["Point" + std::to_string(n++) + "_dic"] = {
            {"eType_u32", p.type}, {"dWavelength_dbl", p.wavelength}, {"dTValue_dbl", p.transmission}};
    return {{"bPoints_bol", curve}, {"uiCount_u32", n}, {"pPoint_dic", list}};
}

// A filter of a light path; a null spectrum is left out.
inline json filter(std::uint32_t placement, const json& excitation, const json& emission) {
    json f = {{"m_ePlacement_u32", placement}, {"m_sName_str", "filter"}};
    if (!excitation.is_null())
        f["m_ExcitationSpectrum_dic"] = excitation;
    if (!emission.is_null())
        f["m_EmissionSpectrum_dic"] = emission;
    return f;
}

inline json path(std::initializer_list<json> filters) {
    json list = json::object();
    int n = 0;
    for (const json& f : filters)
        list[item(n++)] = f;
    return {{"m_sDescr_str", "path"}, {"m_uiCount_u32", n}, {"m_pFilter_dic", list}};
}

inline json probe(const json& excitation, const json& emission) {
    json p = {{"m_sName_str", "probe"}};
    if (!excitation.is_null())
        p["m_ExcitationSpectrum_dic"] = excitation;
    if (!emission.is_null())
        p["m_EmissionSpectrum_dic"] = emission;
    return p;
}

// Base64 of the 8-byte little-endian doubles of a matrix, as a stored byte array.
inline std::string matrixBytes(std::initializer_list<double> values) {
    std::vector<unsigned char> bytes;
    for (double v : values) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        for (int k = 0; k < 8; ++k)
            bytes.push_back(static_cast<unsigned char>(bits >> (8 * k)));
    }
    ZanLegacy::Base64Coder coder;
    coder.Encode(bytes.data(), bytes.size());
    unsigned n = 0;
    const unsigned char* text = coder.EncodedBuffer(&n);
    return std::string(reinterpret_cast<const char*>(text), n);
}

// A sample setting with a 2 x 2 camera-to-stage matrix, stage axes in use and an objective.
inline json sample(std::initializer_list<double> camera, int xyUse = 1) {
    return {
        {"matCameraToStage_dic", {{"Columns_u32", 2}, {"Rows_u32", 2}, {"Data_bar", matrixBytes(camera)}}},
        {"pDeviceSetting_dic",
         {{"m_iXYUse0_i32", xyUse}, {"m_iXOrientation0_i32", 1}, {"m_iYOrientation0_i32", -1}}},
        {"pObjectiveSetting_dic",
         {{"dObjectiveMag_dbl", 60.0}, {"dObjectiveNA_dbl", 1.4}, {"dRefractIndex_dbl", 1.515}}}};
}

// Picture metadata holding the planes (as "sPlaneNew_dic") and sample settings given.
inline json pictureMetadata(const std::vector<json>& planes, const std::vector<json>& samples) {
    json planeList = json::object();
    for (std::size_t n = 0; n < planes.size(); ++n)
        planeList[item(static_cast<int>(n))] = planes[n];
    json sampleList = json::object();
    for (std::size_t n = 0; n < samples.size(); ++n)
        sampleList[item(static_cast<int>(n))] = samples[n];
    return {
        {"sPicturePlanes_dic",
         {{"uiCount_u32", planes.size()}, {"sPlaneNew_dic", planeList}, {"sSampleSetting_dic", sampleList}}}};
}

inline json rawDocument(const json& picture, std::uint32_t components = 1) {
    json raw = {{"Attributes_dic", {{"uiWidth_u32", 100}, {"uiHeight_u32", 50}, {"uiComp_u32", components}}}};
    if (!picture.is_null())
        raw["Metadata_dic"] = picture;
    return raw;
}

// The global metadata document of a calibrated 100 x 50 image in a time loop.
inline json globalDocument() {
    return {{"contents", {{"frameCount", 4}}},
            {"loops", {{"TimeLoop", 0}}},
            {"microscope",
             {{"objectiveName", "Plan Apo 20x"},
              {"objectiveMagnification", 20.0},
              {"objectiveNumericalAperture", 0.75},
              {"zoomMagnification", 1.5}}},
            {"position", {{"stagePositionUm", {1.0, 2.0, 3.0}}}},
            {"time", {{"relativeTimeMs", 0.0}, {"absoluteJulianDayNumber", 2460000.5}}},
            {"volume",
             {{"voxelCount", {100, 50, 1}},
              {"bitsPerComponentInMemory", 16},
              {"bitsPerComponentSignificant", 12},
              {"componentDataType", "unsigned"},
              {"axesInterpretation", {"distance", "distance", "distance"}},
              {"axesCalibrated", {true, true, false}},
              {"axesCalibration", {0.5, 0.5, 1.0}},
              {"cameraTransformationMatrix", {1.0, 0.0, 0.0, 1.0}}}}};
}

// A confocal GFP plane seen through sample 0, whose stage axes are in use.
inline json gfpPlane() {
    return {{"uiCompCount_u32", 1},
            {"uiSampleIndex_u32", 0},
            {"sDescription_str", "GFP"},
            {"uiColor_u32", 65280},
            {"dPinholeDiameter_dbl", 30.0},
            {"uiModalityMask_u64", 0x201},
            {"pFluorescentProbe_dic", probe(spectrum({{488, 4}}), spectrum({{500, 2}, {550, 3}}))}};
}

inline json gfpRaw() {
    return rawDocument(pictureMetadata({gfpPlane()}, {sample({0.0, 1.0, -1.0, 0.0})}));
}

// One colour plane of a transmitted-light camera, without sample settings of its own.
inline json brightfieldRaw() {
    const json plane = {{"uiCompCount_u32", 3},
                        {"sDescription_str", "Brightfield"},
                        {"uiColor_u32", 16777215},
                        {"eModality_u32", 1u}};
    return rawDocument(pictureMetadata({plane}, {}), 3);
}

// Every modality name, in the order in which a mask's names are listed.
inline const json& allModalityNames() {
    static const json names = {"fluorescence",
                               "brightfield",
                               "phaseContrast",
                               "diContrast",
                               "camera",
                               "laserScanConfocal",
                               "spinningDiskConfocal",
                               "sweptFieldConfocalSlit",
                               "sweptFieldConfocalPinhole",
                               "multiphoton",
                               "spectral",
                               "vaasIF",
                               "vaasNF",
                               "dsdConfocal",
                               "RCM",
                               "VCS",
                               "sora",
                               "liveSR",
                               "SIM",
                               "aux",
                               "TIRF",
                               "pmt",
                               "iSIM",
                               "transmitDetector",
                               "nonDescannedDetector",
                               "virtualFilter",
                               "gaasp",
                               "remainder"};
    return names;
}

} // namespace channel_docs
