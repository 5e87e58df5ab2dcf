// Defaults that stand in for what a set's description leaves out. They go into the device's caches only,
// never into the description file.

#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

namespace Zan {

namespace {

using json = nlohmann::json;

// Loop type names by ExperimentLoop type code.
constexpr std::array<const char*, 5> _loopName{"unknown", "XYPosLoop", "TimeLoop", "NETimeLoop",
                                               "ZStackLoop"};

// Channel colours, red in the lowest byte.
constexpr std::array<std::uint32_t, 6> _rgbColor{0xFF0000, 0x00FF00, 0x0000FF, 0x00FFFF, 0xFF00FF, 0xFFFF00};

// Bytes of one stored component, as the TIFF frame device counts them.
std::int64_t storedComponentBytes(std::int64_t bits) {
    if (bits < 1)
        return 0;
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : bits <= 64 ? 8 : 0;
}

const json* member(const json& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::string typeOf(const json& loop) {
    const json* type = member(loop, "type");
    return type && type->is_string() ? type->get<std::string>() : std::string();
}

std::string zeroFilled(std::uint64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

} // namespace

IoImageFile::Attributes JsonFileDevice::Impl::countedAttributes(const json& attributes,
                                                                std::uint64_t maxFrames) {
    const auto a = attributes.get<IoImageFile::Attributes>();
    if (a.componentCount < 0 || a.componentCount > maxComponents)
        throw std::runtime_error("JsonFileDevice: componentCount " + std::to_string(a.componentCount) +
                                 " outside [0, " + std::to_string(maxComponents) + "]");
    if (a.sequenceCount < 0 || static_cast<std::uint64_t>(a.sequenceCount) > maxFrames)
        throw std::runtime_error("JsonFileDevice: sequenceCount " + std::to_string(a.sequenceCount) +
                                 " outside [0, " + std::to_string(maxFrames) + "]");
    return a;
}

void JsonFileDevice::Impl::fixMissingAttributes(json& attributes) {
    const auto fill = [&](const char* key, json value) {
        if (!attributes.contains(key))
            attributes[key] = std::move(value);
    };
    fill("compressionType", "none");
    fill("compressionLevel", 0.0);
    fill("pixelDataType", "unsigned");
    fill("tileWidthPx", 0);
    fill("tileHeightPx", 0);
    if (attributes.contains("widthBytes"))
        return;
    // A missing source key reads as null, which the checked reads refuse with the library's type error.
    const std::int64_t bits = JsonMetadata::jsonToInt64(attributes["bitsPerComponentInMemory"]);
    const std::int64_t components = JsonMetadata::jsonToInt64(attributes["componentCount"]);
    const std::int64_t width = JsonMetadata::jsonToInt64(attributes["widthPx"]);
    // The frames' device aligns its lines to single bytes, so the line is the plain product.
    std::int64_t pixelBytes = 0, lineBytes = 0;
    if (components < 0 || width < 0 ||
        __builtin_mul_overflow(storedComponentBytes(bits), components, &pixelBytes) ||
        __builtin_mul_overflow(pixelBytes, width, &lineBytes))
        throw std::runtime_error("JsonFileDevice: no line size for " + std::to_string(width) + " pixels of " +
                                 std::to_string(components) + " components of " + std::to_string(bits) +
                                 " bits");
    attributes["widthBytes"] = lineBytes;
}

json JsonFileDevice::Impl::defaultExperiment(const json& attributes, std::uint64_t maxFrames) {
    const IoImageFile::Attributes a = countedAttributes(attributes, maxFrames);
    IoImageFile::ExperimentLoop loop;
    loop.type = IoImageFile::TimeLoop;
    loop.count = static_cast<std::int32_t>(a.sequenceCount);
    loop.nestingLevel = 0;
    loop.parameters = defaultTimeLapseLoopParameters(loop.count, 1000.0);
    return std::vector<IoImageFile::ExperimentLoop>{loop};
}

void JsonFileDevice::Impl::fixMissingExperiment(json& experiment, std::uint64_t maxFrames,
                                                std::uint64_t maxPoints) {
    int counter = 0;
    for (std::size_t k = 0; k < experiment.size(); ++k) {
        json& loop = experiment[k];
        if (!loop.contains("nestingLevel"))
            loop["nestingLevel"] = counter++;
        if (loop.contains("jsonParameters"))
            continue;
        const std::string type = typeOf(loop);
        if (type != "TimeLoop" && type != "NETimeLoop" && type != "ZStackLoop" && type != "XYPosLoop")
            continue;
        // A missing count reads as null and raises the library's type error.
        const auto count = loop.find("count");
        const std::int32_t n = JsonMetadata::jsonToInt32(count == loop.end() ? json() : *count);
        if (type == "ZStackLoop") {
            loop["jsonParameters"] = defaultZStackLoopParameters(n / 2, 1.0);
        } else if (type == "XYPosLoop") {
            // One point per iteration, but never more than the set holds frames for.
            if (n < 0 || static_cast<std::uint64_t>(n) > maxFrames)
                throw std::runtime_error("JsonFileDevice: experiment loop " + std::to_string(k) + " counts " +
                                         std::to_string(n) + " positions, outside [0, " +
                                         std::to_string(maxFrames) + "]");
            loop["jsonParameters"] =
                defaultMPointLoopParameters(static_cast<int>(std::min<std::uint64_t>(n, maxPoints)));
        } else {
            loop["jsonParameters"] = defaultTimeLapseLoopParameters(n, 1.0);
        }
    }
}

json JsonFileDevice::Impl::defaultTimeLapseLoopParameters(int count, double periodMs) {
    return {{"startMs", 0},
            {"periodMs", periodMs},
            {"durationMs", count * periodMs},
            {"periodDiff", {periodMs, periodMs, periodMs}}};
}

json JsonFileDevice::Impl::defaultZStackLoopParameters(int homeIndex, double stepUm) {
    return {{"bottomToTop", true}, {"deviceName", "ZDrive"}, {"homeIndex", homeIndex}, {"stepUm", stepUm}};
}

json JsonFileDevice::Impl::defaultMPointLoopParameters(int count) {
    json points = json::array();
    for (int i = 0; i < count; ++i)
        points.push_back({{"name", "#" + std::to_string(i + 1)},
                          {"pfsOffset", 0},
                          {"stagePositionUm", {10.0 * i, 10.0 * i, 0.0}}});
    return {{"isSettingZ", false}, {"points", std::move(points)}};
}

json JsonFileDevice::Impl::defaultGlobalMetadata(const json& attributes, const json& experiment,
                                                 std::uint64_t maxFrames) {
    const IoImageFile::Attributes a = countedAttributes(attributes, maxFrames);

    const auto loops = experiment.get<std::vector<IoImageFile::ExperimentLoop>>();
    std::map<std::string, std::int32_t> loopPositions;
    // The product is checked as it grows: counts from a file must not wrap it onto the sequence count.
    std::uint64_t product = 1;
    bool matches = true;
    for (std::size_t k = 0; k < loops.size(); ++k) {
        loopPositions[_loopName[loops[k].type]] = static_cast<std::int32_t>(k);
        const std::int64_t count = loops[k].count;
        if (count < 0 || (count > 0 && product > maxFrames / static_cast<std::uint64_t>(count)))
            matches = false;
        else
            product *= static_cast<std::uint64_t>(count);
    }
    if (!matches || product != static_cast<std::uint64_t>(a.sequenceCount))
        throw std::runtime_error("JsonFileDevice: seqCount differs from count derived from experiment loops");

    IoImageFile::Metadata m;
    m.frameCount = a.sequenceCount;
    const bool colour = a.componentCount == 3;
    m.channels.resize(colour ? 1 : static_cast<std::size_t>(a.componentCount));
    if (m.channels.empty())
        return m;
    IoImageFile::ChannelMetadata& first = m.channels.front();
    first.loops = loopPositions;
    first.volume.voxelCount = {a.widthPx, a.heightPx, 1};
    first.volume.bitsPerComponentInMemory = a.bitsPerComponentInMemory;
    first.volume.bitsPerComponentSignificant = a.bitsPerComponentSignificant;
    first.volume.componentCount = colour ? 3 : 1;
    if (colour) {
        first.channel.name = "rgb";
        first.channel.colorRGB = 0xFFFFFF;
        return m;
    }
    for (std::size_t i = 0; i < m.channels.size(); ++i) {
        if (i > 0)
            m.channels[i] = first;
        m.channels[i].channel.name = "ch" + std::to_string(i);
        m.channels[i].channel.colorRGB = _rgbColor[i % _rgbColor.size()];
    }
    return m;
}

json JsonFileDevice::Impl::defaultFrameValues(const json& experiment,
                                              const std::vector<unsigned>& loopIndexes) {
    double timeMs = 0.0;
    std::array<double, 3> position{0.0, 0.0, 0.0};
    const std::size_t loops =
        std::min<std::size_t>(experiment.is_array() ? experiment.size() : 0, loopIndexes.size());
    for (std::size_t k = 0; k < loops; ++k) {
        const json& loop = experiment[k];
        const std::string type = typeOf(loop);
        const json* parameters = member(loop, "parameters");
        const unsigned index = loopIndexes[k];
        double period = 1.0;
        if (type == "TimeLoop") {
            const json* stored = parameters ? member(*parameters, "periodMs") : nullptr;
            if (stored && stored->is_number())
                period = stored->get<double>();
        } else if (type == "NETimeLoop") {
            period = 1000.0;
        } else if (type == "ZStackLoop") {
            period = 10.0;
        } else if (type == "XYPosLoop") {
            period = 100.0;
            const json* points = parameters ? member(*parameters, "points") : nullptr;
            if (points && points->is_array() && points->size() > index) {
                const json* stage = member((*points)[index], "stagePositionUm");
                if (stage && stage->is_array())
                    for (std::size_t i = 0; i < std::min<std::size_t>(3, stage->size()); ++i)
                        if ((*stage)[i].is_number())
                            position[i] = (*stage)[i].get<double>();
            }
        }
        timeMs += index * period;
    }
    return {{"position", {{"stagePositionUm", position}}}, {"time", {{"relativeTimeMs", timeMs}}}};
}

std::string JsonFileDevice::Impl::frameFileName(unsigned seqIndex, std::int64_t component,
                                                std::int64_t sequenceCount, std::int64_t componentCount) {
    // Minimum widths; longer numbers are written in full. The counts are range-checked by the caller.
    const int sequenceWidth =
        std::max(3, static_cast<int>(std::log10(static_cast<double>(sequenceCount) + 1.0)));
    const int componentWidth = static_cast<int>(std::log10(static_cast<double>(componentCount) + 1.0));
    return "seq" + zeroFilled(std::uint64_t(seqIndex) + 1, sequenceWidth) + "_c" +
           zeroFilled(static_cast<std::uint64_t>(component) + 1, componentWidth) + ".tif";
}

} // namespace Zan
