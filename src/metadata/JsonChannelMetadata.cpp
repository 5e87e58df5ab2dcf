#include <metadata/JsonBridge.h>
#include <metadata/detail/ChannelModality.h>
#include <metadata/detail/CheckedReads.h>

#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

namespace Zan {
namespace JsonMetadata {

namespace {

using detail::member;
const auto key = detail::keyPointer;

const json::json_pointer kVoxelsX{"/voxelCount/0"};
const json::json_pointer kVoxelsY{"/voxelCount/1"};
const json::json_pointer kCalibrationX{"/axesCalibration/0"};
const json::json_pointer kCalibrationY{"/axesCalibration/1"};
const json::json_pointer kCalibratedX{"/axesCalibrated/0"};
const json::json_pointer kCalibratedY{"/axesCalibrated/1"};
const json::json_pointer kXYUse{"/pDeviceSetting_dic/m_iXYUse0_i32"};
const json::json_pointer kXOrientation{"/pDeviceSetting_dic/m_iXOrientation0_i32"};
const json::json_pointer kYOrientation{"/pDeviceSetting_dic/m_iYOrientation0_i32"};

// A list item of a legacy list: under its position key, or under "a" and the plain position. A negative
// index from a file (a sample index) is no position: it must not wrap onto a far item's name.
json listItem(const json& list, std::int32_t n) {
    if (n < 0)
        return nullptr;
    return jgetnotnull(list, {makeJsonItemName(makeJsonArrayNameFromIndex(static_cast<unsigned>(n)), "dic"),
                              makeJsonItemName("a" + std::to_string(n), "dic")});
}

double littleEndianDouble(const unsigned char* p) {
    std::uint64_t bits = 0;
    for (int k = 7; k >= 0; --k)
        bits = (bits << 8) | p[k];
    return std::bit_cast<double>(bits);
}

// The sample's 2 x 2 camera-to-stage matrix replaces the global one; any other size, or no stored data,
// leaves it.
void readCameraMatrix(json& volume, const json& sample) {
    const json* matrix = member(sample, "matCameraToStage_dic");
    if (!matrix)
        return;
    const std::uint32_t columns = detail::readUint32(*matrix, key("Columns_u32"), 0);
    const std::uint32_t rows = detail::readUint32(*matrix, key("Rows_u32"), 0);
    const json* data = member(*matrix, "Data_bar");
    // An empty byte array is stored as null (or not at all): no data rather than a broken document.
    if (!data || data->is_null())
        return;
    const std::vector<unsigned char> bytes = decodeBase64(*data); // type error 302 for a non-text
    if (columns != 2 || rows != 2 || bytes.size() != 32)
        return;
    json values = json::array();
    for (int k = 0; k < 4; ++k)
        values.push_back(littleEndianDouble(bytes.data() + 8 * k));
    volume["cameraTransformationMatrix"] = std::move(values);
}

// The 2 x 3 map from pixel to stage coordinates with the image centre at the origin, written only for a
// sample whose stage axes are in use and an image calibrated in x and y.
void writePixelToStage(json& volume, const json& sample) {
    const json* camera = member(volume, "cameraTransformationMatrix");
    if (!camera)
        return;
    double c[4];
    for (std::size_t k = 0; k < 4; ++k)
        c[k] = camera->at(k).get<double>(); // a shorter matrix fails instead of being read past its end
    const double nx = detail::readDouble(volume, kVoxelsX, 0.0);
    const double ny = detail::readDouble(volume, kVoxelsY, 0.0);
    const double kx = detail::readDouble(volume, kCalibrationX, 0.0);
    const double ky = detail::readDouble(volume, kCalibrationY, 0.0);
    const bool calibratedX = detail::readBool(volume, kCalibratedX, false);
    const bool calibratedY = detail::readBool(volume, kCalibratedY, false);
    if (!sample.is_object())
        return;
    const std::int32_t use = detail::readInt32(sample, kXYUse, 0);
    if (use == 0 || !calibratedX || !calibratedY)
        return;
    const double ox = detail::readDouble(sample, kXOrientation, 0.0);
    const double oy = detail::readDouble(sample, kYOrientation, 0.0);
    const double a = kx * ox * c[0];
    const double b = ky * ox * c[1];
    const double cc = kx * oy * c[2];
    const double d = ky * oy * c[3];
    volume["pixelToStageTransformationMatrix"] =
        json::array({a, b, -0.5 * (a * nx + b * ny), cc, d, -0.5 * (cc * nx + d * ny)});
}

void readMicroscope(json& microscope, const json& plane, const json& sample) {
    jcpy(microscope, "pinholeDiameterUm", plane, "dPinholeDiameter_dbl", condPositiveReal);
    if (const json* objective = member(sample, "pObjectiveSetting_dic"); objective && !objective->is_null()) {
        jcpy(microscope, "objectiveMagnification", *objective, "dObjectiveMag_dbl", condPositiveReal);
        jcpy(microscope, "objectiveNumericalAperture", *objective, "dObjectiveNA_dbl", condPositiveReal);
        jcpy(microscope, "immersionRefractiveIndex", *objective, "dRefractIndex_dbl", condPositiveReal);
    }
}

// The mask wins over the legacy code; a code counts only as the unsigned number it is stored as.
void readModality(json& microscope, const json& plane, std::int32_t componentCount) {
    json& flags = microscope["modalityFlags"] = json::array();
    if (const json* mask = member(plane, "uiModalityMask_u64"); mask && !mask->is_null())
        translateModalityFlags(flags, jsonToUint64(*mask), componentCount);
    else if (const json* code = member(plane, "eModality_u32"); code && code->is_number_unsigned())
        translateModalityFlags(flags, legacyModalityMask(code->get<std::uint64_t>()), componentCount);
}

struct Ranges {
    const std::vector<float>& minima;
    const std::vector<float>& maxima;
    std::size_t offset = 0;

    // The next count components' ranges, when they are all there; a channel that does not fit leaves
    // the position for the next one.
    void write(json& volume, std::int32_t count) {
        if (count <= 0 || minima.size() != maxima.size() ||
            offset + static_cast<std::size_t>(count) > minima.size())
            return;
        json lo = json::array();
        json hi = json::array();
        for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
            lo.push_back(static_cast<double>(minima[offset + k]));
            hi.push_back(static_cast<double>(maxima[offset + k]));
        }
        volume["componentMinima"] = std::move(lo);
        volume["componentMaxima"] = std::move(hi);
        offset += static_cast<std::size_t>(count);
    }
};

json planeChannel(std::int32_t n, const json& planes, const json& samples, const json& global,
                  Ranges& ranges) {
    const json plane = listItem(planes, n);
    const std::int32_t sampleIndex = detail::readInt32(plane, key("uiSampleIndex_u32"), 1);
    const json sample = listItem(samples, sampleIndex);

    json info = {{"index", n}};
    jcpy(info, "name", plane, "sDescription_str");
    jcpy(info, "colorRGB", plane, "uiColor_u32");
    readWavelengths(info, plane, static_cast<std::uint32_t>(n));

    json channel = {{"channel", std::move(info)}};
    jcpy(channel, "loops", global, "loops");
    jcpy(channel, "volume", global, "volume");
    json& volume = channel["volume"];
    const std::int32_t componentCount = detail::readInt32(plane, key("uiCompCount_u32"), 1);
    volume["componentCount"] = componentCount;
    ranges.write(volume, componentCount);
    readCameraMatrix(volume, sample);
    writePixelToStage(volume, sample);

    jcpy(channel, "microscope", global, "microscope");
    json& microscope = channel["microscope"];
    if (microscope.is_null())
        microscope = json::object();
    readMicroscope(microscope, plane, sample);
    readModality(microscope, plane, componentCount);
    return channel;
}

// A file without picture metadata: one channel of the attributes' component count.
json attributesChannel(const json& raw, const json& global) {
    const json* attributes = member(raw, "Attributes_dic");
    if (!attributes)
        detail::throwCannotParseAttributes();
    const std::int32_t comp = detail::readInt32(*attributes, key("uiComp_u32"), 0);
    if (comp < 1)
        throw std::runtime_error("Wrong component count");
    json channel = {
        {"channel", {{"index", 0}, {"name", comp == 3 ? "RGB" : "Mono"}, {"colorRGB", 16777215}}}};
    jcpy(channel, "loops", global, "loops");
    jcpy(channel, "volume", global, "volume");
    channel["volume"]["componentCount"] = comp;
    return channel;
}

} // namespace

json metadata(const json& raw, const json& global, const std::vector<float>& minima,
              const std::vector<float>& maxima) {
    // Parts of the caller's documents are copied into the result, which the JSON library does recursively.
    detail::checkMemberNesting(raw, "Attributes_dic", "metadata");
    detail::checkMemberNesting(raw, "Metadata_dic", "metadata");
    detail::checkNesting(global, "metadata: global");
    json result;
    jcpy(result, "contents", global, "contents");
    const json* pictureMetadata = member(raw, "Metadata_dic");
    if (!pictureMetadata) {
        json channel = attributesChannel(raw, global);
        result["contents"]["channelCount"] = 1;
        result["channels"] = json::array({std::move(channel)});
        return result;
    }
    const json* planesInfo = member(*pictureMetadata, "sPicturePlanes_dic");
    if (!planesInfo)
        return result;
    const auto count = static_cast<std::int32_t>(detail::readUint32(*planesInfo, key("uiCount_u32"), 0));
    const json planes = jgetnotnull(*planesInfo, {"sPlaneNew_dic", "sPlane_dic"});
    const json samples = jgetnotnull(*planesInfo, {"sSampleSetting_dic"});
    Ranges ranges{minima, maxima};
    json channels = json::array();
    for (std::int32_t n = 0; n < count; ++n)
        channels.push_back(planeChannel(n, planes, samples, global, ranges));
    if (!channels.empty()) {
        result["contents"]["channelCount"] = static_cast<std::int64_t>(channels.size());
        result["channels"] = std::move(channels);
    }
    return result;
}

} // namespace JsonMetadata
} // namespace Zan
