// Codecs of the global and channel metadata records. Readers update the record they are given; an absent
// key keeps the field. Integers from a document go through the bridge's checked conversions, so a huge
// or negative number never reaches an undefined cast.

#include <imagefile/IoImageFile.h>
#include <imagefile/detail/RecordNames.h>
#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <cstdlib>
#include <string>

namespace {

using json = nlohmann::json;
using Zan::IoImageFile;
using Zan::JsonMetadata::jsonToInt32;
using Zan::JsonMetadata::jsonToUint32;
namespace reads = Zan::JsonMetadata::detail;

json::json_pointer key(const std::string& name) {
    return json::json_pointer("/" + name);
}

// An element of a per-axis array, "/name/k".
json::json_pointer element(const char* name, std::size_t k) {
    return json::json_pointer("/" + std::string(name) + "/" + std::to_string(k));
}

std::int64_t readInt64(const json& j, const json::json_pointer& ptr, std::int64_t fallback) {
    return reads::pointeeOr<std::int64_t>(j, ptr, fallback);
}

std::string readString(const json& j, const json::json_pointer& ptr, const std::string& fallback) {
    return reads::pointeeOr<std::string>(j, ptr, fallback);
}

// One colour byte of a colour text, read as strtoul reads base-16 digits; false when the pair starts
// past the end of the text or holds no digit.
bool colourByte(const std::string& text, std::size_t start, unsigned long& value) {
    if (start >= text.size())
        return false;
    const std::string pair = text.substr(start, 2);
    char* end = nullptr;
    value = std::strtoul(pair.c_str(), &end, 16);
    return end != pair.c_str();
}

// "#rrggbb", "0xrrggbb" or "rrggbb"; a text that does not hold three pairs gives 0.
std::uint32_t colourFromText(const std::string& text) {
    std::size_t start = 0;
    if (text.rfind("#", 0) == 0)
        start = 1;
    else if (text.rfind("0x", 0) == 0)
        start = 2;
    unsigned long red = 0;
    unsigned long green = 0;
    unsigned long blue = 0;
    if (!colourByte(text, start, red) || !colourByte(text, start + 2, green) ||
        !colourByte(text, start + 4, blue))
        return 0;
    return static_cast<std::uint32_t>(red | (green << 8) | (blue << 16));
}

template <typename Array, typename Read>
void readAxes(const char* name, Array& axes, Read read) {
    for (std::size_t k = 0; k < axes.size(); ++k)
        axes[k] = read(element(name, k), axes[k]);
}

// A matrix is replaced only by an array of exactly its size.
template <std::size_t N>
void readMatrix(const json& j, const char* name, std::array<double, N>& matrix) {
    const json* m = reads::member(j, name);
    if (!m || !m->is_array() || m->size() != N)
        return;
    std::array<double, N> values;
    for (std::size_t k = 0; k < N; ++k)
        values[k] = (*m)[k].get<double>();
    matrix = values;
}

template <typename Array, typename Convert>
json axesArray(const Array& axes, Convert convert) {
    json a = json::array();
    for (const auto& v : axes)
        a.push_back(convert(v));
    return a;
}

template <typename Array>
json plainArray(const Array& values) {
    return axesArray(values, [](const auto& v) { return v; });
}

} // namespace

namespace nlohmann {

void adl_serializer<IoImageFile::ChannelInfo>::from_json(const json& j, IoImageFile::ChannelInfo& r) {
    r.name = readString(j, key("name"), r.name);
    r.index = readInt64(j, key("index"), r.index);
    r.excitationLambdaNm = reads::readDouble(j, key("excitationLambdaNm"), r.excitationLambdaNm);
    r.emissionLambdaNm = reads::readDouble(j, key("emissionLambdaNm"), r.emissionLambdaNm);
    const json* colour = reads::member(j, "colorRGB");
    if (!colour)
        return; // a channel without a colour keeps the one it has
    if (colour->is_string())
        r.colorRGB = colourFromText(colour->get_ref<const std::string&>());
    else if (colour->is_number())
        r.colorRGB = jsonToUint32(*colour);
}

void adl_serializer<IoImageFile::ChannelInfo>::to_json(json& j, const IoImageFile::ChannelInfo& r) {
    j = {{"name", r.name},
         {"index", r.index},
         {"colorRGB", Zan::detail::convertColorRGB(r.colorRGB)},
         {"excitationLambdaNm", r.excitationLambdaNm},
         {"emissionLambdaNm", r.emissionLambdaNm}};
}

void adl_serializer<IoImageFile::MicroscopeInfo>::from_json(const json& j, IoImageFile::MicroscopeInfo& r) {
    r.objectiveName = readString(j, key("objectiveName"), r.objectiveName);
    const auto real = [&j](const char* name, double& field) {
        field = reads::readDouble(j, key(name), field);
    };
    real("objectiveMagnification", r.objectiveMagnification);
    real("objectiveNumericalAperture", r.objectiveNumericalAperture);
    real("projectiveMagnification", r.projectiveMagnification);
    real("zoomMagnification", r.zoomMagnification);
    real("immersionRefractiveIndex", r.immersionRefractiveIndex);
    real("pinholeDiameterUm", r.pinholeDiameterUm);
    // An array of names, a single name, or null for none; an absent member adds nothing.
    if (const json* flags = reads::member(j, "modalityFlags"))
        for (const json& flag : *flags)
            r.modalityFlags.insert(flag.get<std::string>());
}

void adl_serializer<IoImageFile::MicroscopeInfo>::to_json(json& j, const IoImageFile::MicroscopeInfo& r) {
    j = {{"objectiveName", r.objectiveName},
         {"objectiveMagnification", r.objectiveMagnification},
         {"objectiveNumericalAperture", r.objectiveNumericalAperture},
         {"projectiveMagnification", r.projectiveMagnification},
         {"zoomMagnification", r.zoomMagnification},
         {"immersionRefractiveIndex", r.immersionRefractiveIndex},
         {"pinholeDiameterUm", r.pinholeDiameterUm},
         {"modalityFlags", plainArray(r.modalityFlags)}};
}

void adl_serializer<IoImageFile::VolumeInfo>::from_json(const json& j, IoImageFile::VolumeInfo& r) {
    readAxes("axesCalibrated", r.axesCalibrated,
             [&j](const json::json_pointer& p, bool v) { return reads::readBool(j, p, v); });
    readAxes("axesCalibration", r.axesCalibration,
             [&j](const json::json_pointer& p, double v) { return reads::readDouble(j, p, v); });
    readAxes("axesInterpretation", r.axesInterpretation,
             [&j](const json::json_pointer& p, IoImageFile::AxisInterpretation v) {
                 return static_cast<IoImageFile::AxisInterpretation>(Zan::detail::axisInterpretationFromName(
                     readString(j, p, Zan::detail::convertAxisInterpretation(v))));
             });
    readAxes("voxelCount", r.voxelCount,
             [&j](const json::json_pointer& p, std::int64_t v) { return readInt64(j, p, v); });
    r.bitsPerComponentInMemory = readInt64(j, key("bitsPerComponentInMemory"), r.bitsPerComponentInMemory);
    r.bitsPerComponentSignificant =
        readInt64(j, key("bitsPerComponentSignificant"), r.bitsPerComponentSignificant);
    r.componentCount = readInt64(j, key("componentCount"), r.componentCount);
    // Records write "componentDataFormat"; the channel metadata document says "componentDataType". Both
    // are read, so a float image does not come back as unsigned.
    const std::string current = Zan::detail::convertPixelDataFormat(r.componentDataFormat);
    const std::string format =
        readString(j, key("componentDataFormat"), readString(j, key("componentDataType"), current));
    r.componentDataFormat =
        static_cast<IoImageFile::PixelDataFormat>(Zan::detail::pixelDataFormatFromName(format));
    readMatrix(j, "cameraTransformationMatrix", r.cameraTransformationMatrix);
    readMatrix(j, "pixelToStageTransformationMatrix", r.pixelToStageTransformationMatrix);
}

void adl_serializer<IoImageFile::VolumeInfo>::to_json(json& j, const IoImageFile::VolumeInfo& r) {
    j = {{"axesCalibrated", plainArray(r.axesCalibrated)},
         {"axesCalibration", plainArray(r.axesCalibration)},
         {"axesInterpretation",
          axesArray(r.axesInterpretation, [](int v) { return Zan::detail::convertAxisInterpretation(v); })},
         {"voxelCount", plainArray(r.voxelCount)},
         {"bitsPerComponentInMemory", r.bitsPerComponentInMemory},
         {"bitsPerComponentSignificant", r.bitsPerComponentSignificant},
         {"componentCount", r.componentCount},
         {"componentDataFormat", Zan::detail::convertPixelDataFormat(r.componentDataFormat)},
         {"cameraTransformationMatrix", plainArray(r.cameraTransformationMatrix)},
         {"pixelToStageTransformationMatrix", plainArray(r.pixelToStageTransformationMatrix)}};
}

void adl_serializer<IoImageFile::ChannelMetadata>::from_json(const json& j, IoImageFile::ChannelMetadata& r) {
    if (!j.is_object())
        return;
    // Each present part is read into a fresh record and replaces the field whole.
    if (const json* v = reads::member(j, "channel"))
        r.channel = v->get<IoImageFile::ChannelInfo>();
    if (const json* v = reads::member(j, "loops")) {
        std::map<std::string, std::int32_t> loops;
        for (const auto& item : v->items())
            loops[item.key()] = jsonToInt32(item.value());
        r.loops = std::move(loops);
    }
    if (const json* v = reads::member(j, "microscope"))
        r.microscope = v->get<IoImageFile::MicroscopeInfo>();
    if (const json* v = reads::member(j, "volume"))
        r.volume = v->get<IoImageFile::VolumeInfo>();
}

void adl_serializer<IoImageFile::ChannelMetadata>::to_json(json& j, const IoImageFile::ChannelMetadata& r) {
    json loops = json::object();
    for (const auto& [name, position] : r.loops)
        loops[name] = position;
    j = {{"channel", r.channel},
         {"loops", std::move(loops)},
         {"microscope", r.microscope},
         {"volume", r.volume}};
}

void adl_serializer<IoImageFile::Metadata>::from_json(const json& j, IoImageFile::Metadata& r) {
    r.frameCount = readInt64(j, json::json_pointer("/contents/frameCount"), 1);
    const json* channels = reads::member(j, "channels");
    if (!channels || !channels->is_array())
        return;
    for (const json& element : *channels)
        r.channels.push_back(element.get<IoImageFile::ChannelMetadata>());
}

void adl_serializer<IoImageFile::Metadata>::to_json(json& j, const IoImageFile::Metadata& r) {
    j = {{"contents", {{"frameCount", r.frameCount}, {"channelCount", r.channels.size()}}},
         {"channels", r.channels}};
}

} // namespace nlohmann
