#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace Zan {
namespace JsonMetadata {

namespace {

using detail::condBoolean;
using detail::condNumber;
using detail::condPositiveInteger;
using detail::condPositiveNumber;

const json::json_pointer stepPointer("/parameters/stepUm");

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The magnification that an optics text names: the first match of \d+(\.\d+)?x, case-insensitive, without
// its x (Plan Apo 60x Oil gives 60). Scanned by hand rather than with std::regex, whose matcher recurses
// per character and so runs out of stack on long digit runs, and converted without the C locale, which
// may want a decimal comma.
std::optional<double> magnificationIn(const std::string& text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        if (!isDigit(text[i])) {
            ++i;
            continue;
        }
        // A match can only start at the first digit of a run: from any later digit it would end the same.
        const std::size_t start = i;
        std::size_t end = start;
        while (end < n && isDigit(text[end]))
            ++end;
        std::size_t numberEnd = std::string::npos;
        if (end < n && (text[end] == 'x' || text[end] == 'X')) {
            numberEnd = end;
        } else if (end + 1 < n && text[end] == '.' && isDigit(text[end + 1])) {
            std::size_t fraction = end + 1;
            while (fraction < n && isDigit(text[fraction]))
                ++fraction;
            if (fraction < n && (text[fraction] == 'x' || text[fraction] == 'X'))
                numberEnd = fraction;
        }
        if (numberEnd != std::string::npos) {
            double value = 0.0;
            const auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + numberEnd, value);
            if (ec != std::errc() || ptr != text.data() + numberEnd)
                return std::nullopt; // more digits than a double holds
            return value;
        }
        i = end;
    }
    return std::nullopt;
}

// A usable calibration or acquisition day: finite and above 0.
bool positiveFinite(double v) {
    return std::isfinite(v) && v > 0.0;
}

void fillMicroscope(json& microscope, const json& m, const json& textInfo) {
    jcpy(microscope, "objectiveName", m, "wsObjectiveName_str", condNonEmptyText);
    if (!jcpy(microscope, "objectiveMagnification", m, "dObjectiveMag_dbl", condPositiveNumber) &&
        textInfo.is_object()) {
        if (const std::optional<double> mag = magnificationIn(textInfo.value("optics", std::string())))
            microscope["objectiveMagnification"] = *mag;
    }
    jcpy(microscope, "objectiveNumericalAperture", m, "dObjectiveNA_dbl", condPositiveNumber);
    jcpy(microscope, "projectiveMagnification", m, "dProjectiveMag_dbl", condPositiveNumber);
    jcpy(microscope, "zoomMagnification", m, "dZoom_dbl", condPositiveNumber);
    // The second immersion index counts only where the first is known.
    if (jcpy(microscope, "immersionRefractiveIndex", m, "dRefractIndex1_dbl", condPositiveNumber))
        jcpy(microscope, "immersionRefractiveIndex", m, "dRefractIndex2_dbl", condPositiveNumber);
    jcpy(microscope, "pinholeDiameterUm", m, "dPinholeRadius_dbl", condPositiveNumber, xfDoubled);
}

void fillTimeAndPosition(json& time, json& position, const json& m, double defaultJulianDay) {
    jcpy(time, "relativeTimeMs", m, "dTimeMSec_dbl", condNumber);
    jcpy(time, "timerSourceHardware", m, "eTimeSource_i32", condPositiveInteger, xfTimerName);
    jcpy(time, "absoluteJulianDayNumber", m, "dTimeAbsolute_dbl", condNumber);
    // Picture metadata without any time member read as time 0, as a file without picture metadata does,
    // rather than failing the whole document. A day of 0, below or not finite is no date.
    if (time.is_null())
        time["relativeTimeMs"] = 0.0;
    const double day = time.value("absoluteJulianDayNumber", 0.0);
    if (!positiveFinite(day))
        time["absoluteJulianDayNumber"] = defaultJulianDay;
    jcpyarray(position, "stagePositionUm", m, {"dXPos_dbl", "dYPos_dbl", "dZPos_dbl"}, 0.0, condNumber,
              xfCopy);
}

} // namespace

json globalMetadata(const json& raw, const json& experiment, const json& textInfo, double defaultJulianDay) {
    if (!raw.is_object() || !raw.contains("Attributes_dic"))
        detail::throwCannotParseAttributes();
    detail::checkMemberNesting(raw, "Attributes_dic", "globalMetadata");
    detail::checkMemberNesting(raw, "Metadata_dic", "globalMetadata");
    detail::checkNesting(experiment, "globalMetadata: experiment");
    detail::checkNesting(textInfo, "globalMetadata: textInfo");
    const json& a = raw.at("Attributes_dic");

    json contents, loops, microscope, position, time, volume;
    jcpy(contents, "frameCount", a, "uiSequenceCount_u32", condNumber);

    std::int64_t index = 0;
    for (const json& loop : experiment) {
        const std::string name = loop.value("type", std::string());
        if (!name.empty())
            loops[name] = index;
        ++index;
    }

    jcpyarray(volume, "voxelCount", a, {"uiWidth_u32", "uiHeight_u32", ""}, 1, condNumber, xfCopy);
    jcpy(volume, "bitsPerComponentInMemory", a, "uiBpcInMemory_i32", condNumber);
    jcpy(volume, "bitsPerComponentInMemory", a, "uiBpcInMemory_u32", condNumber);
    jcpy(volume, "bitsPerComponentSignificant", a, "uiBpcSignificant_i32", condNumber);
    jcpy(volume, "bitsPerComponentSignificant", a, "uiBpcSignificant_u32", condNumber);
    const bool isFloat = detail::u32Member(volume, "bitsPerComponentSignificant", 0) == 32;
    volume["componentDataType"] = isFloat ? "float" : "unsigned";

    if (!raw.contains("Metadata_dic")) {
        volume["axesInterpretation"] = {"distance", "distance", "distance"};
        volume["axesCalibrated"] = {false, false, false};
        volume["axesCalibration"] = {1.0, 1.0, 1.0};
        position["stagePositionUm"] = {0.0, 0.0, 0.0};
        time["relativeTimeMs"] = 0.0;
        time["absoluteJulianDayNumber"] = defaultJulianDay;
    } else {
        const json& m = raw.at("Metadata_dic");
        jcpyarray(volume, "axesInterpretation", m, {"ePictureXAxis_i32", "ePictureYAxis_i32", ""}, 0,
                  condAlways, xfAxisName);
        jcpyarray(volume, "axesCalibrated", m, {"bCalibrated_bol", "bCalibrated_bol", ""}, false, condBoolean,
                  xfCopy);
        jcpyarray(volume, "axesCalibration", m, {"dCalibration_dbl", "dCalibration_dbl", ""}, 0.0, condNumber,
                  xfPositiveOrZero);

        json& calibration = volume["axesCalibration"];
        if (loops.is_object()) {
            const std::int32_t z = detail::i32Member(loops, "ZStackLoop", -1);
            if (z >= 0) {
                const json& zLoop = experiment.at(static_cast<std::size_t>(z));
                calibration[2] = std::fabs(zLoop.value(stepPointer, 0.0));
                volume["voxelCount"][2] = detail::u32Member(zLoop, "count", 1);
            }
            volume["axesCalibrated"][2] = positiveFinite(calibration[2].get<double>());
        }
        // An axis without a usable calibration (none, 0, negative, not finite) reports 1 unit per pixel.
        for (json& c : calibration)
            if (!positiveFinite(c.get<double>()))
                c = 1.0;

        jcpyarray(volume, "cameraTransformationMatrix", m,
                  {"dStgLgCT11_dbl", "dStgLgCT12_dbl", "dStgLgCT21_dbl", "dStgLgCT22_dbl"}, 0.0, condNumber,
                  xfCopy);
        fillMicroscope(microscope, m, textInfo);
        fillTimeAndPosition(time, position, m, defaultJulianDay);
    }

    return {{"contents", contents}, {"loops", loops}, {"microscope", microscope},
            {"position", position}, {"time", time},   {"volume", volume}};
}

} // namespace JsonMetadata
} // namespace Zan
