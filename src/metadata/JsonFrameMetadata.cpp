#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace Zan {
namespace JsonMetadata {

namespace {

using detail::pointee;

const json::json_pointer xyLoopPointer("/loops/XYPosLoop");
const json::json_pointer zLoopPointer("/loops/ZStackLoop");
const json::json_pointer dayPointer("/time/absoluteJulianDayNumber");
const json::json_pointer relativeTimePointer("/time/relativeTimeMs");
const json::json_pointer pointsPointer("/parameters/points");
const json::json_pointer settingZPointer("/parameters/isSettingZ");
const json::json_pointer homeIndexPointer("/parameters/homeIndex");
const json::json_pointer stepPointer("/parameters/stepUm");
const json::json_pointer stageZPointer("/position/stagePositionUm/2");

constexpr double msPerDay = 86400000.0;

std::int32_t loopIndex(const json& global, const json::json_pointer& ptr) {
    const json* index = pointee(global, ptr);
    return index ? jsonToInt32(*index) : -1;
}

// The loop of the experiment at index and the frame's coordinate in it, when the documents hold both and
// the coordinate lies inside the loop.
struct FrameInLoop {
    const json* loop = nullptr;
    std::uint32_t coordinate = 0;
};

std::optional<FrameInLoop> frameInLoop(const json& experiment, std::int32_t index,
                                       const std::vector<std::uint32_t>& coordinates) {
    if (index < 0 || !experiment.is_array())
        return std::nullopt;
    const auto i = static_cast<std::size_t>(index);
    if (i >= experiment.size() || i >= coordinates.size())
        return std::nullopt;
    const json& loop = experiment[i];
    if (coordinates[i] >= detail::u32Member(loop, "count", 0))
        return std::nullopt;
    return FrameInLoop{&loop, coordinates[i]};
}

// The stage position of the frame's point of the multi-point loop: x and y, and z when the points set it.
struct PointPosition {
    double x = 0.0, y = 0.0, z = 0.0;
    bool settingZ = false;
};

std::optional<PointPosition> pointPosition(const std::optional<FrameInLoop>& frame) {
    if (!frame)
        return std::nullopt;
    const json& loop = *frame->loop;
    const json* points = pointee(loop, pointsPointer);
    if (!points || !points->is_array() || frame->coordinate >= points->size())
        return std::nullopt;
    const json& point = (*points)[frame->coordinate];
    PointPosition position;
    position.settingZ = loop.value(settingZPointer, false);
    const auto s = point.is_object() ? point.find("stagePositionUm") : point.end();
    if (s == point.end() || !s->is_array() || s->size() < (position.settingZ ? 3u : 2u))
        return std::nullopt;
    position.x = (*s)[0].get<double>();
    position.y = (*s)[1].get<double>();
    if (position.settingZ)
        position.z = (*s)[2].get<double>();
    return position;
}

// How far the frame's plane of the Z stack lies from the home plane, in micrometres.
std::optional<double> zOffset(const std::optional<FrameInLoop>& frame) {
    if (!frame)
        return std::nullopt;
    const json& loop = *frame->loop;
    const json* home = pointee(loop, homeIndexPointer);
    const std::int64_t homeIndex = home ? jsonToInt32(*home) : 0;
    const double step = loop.value(stepPointer, 1.0);
    // In 64 bits: plane and home index come from documents and may lie far apart.
    return static_cast<double>(static_cast<std::int64_t>(frame->coordinate) - homeIndex) * step;
}

// Sets one axis of a channel's stage position, creating what is missing; axes before it that were never
// set read 0, not null.
void setStageAxis(json& channel, std::size_t axis, double value) {
    json& stage = channel["position"]["stagePositionUm"];
    if (stage.is_null())
        stage = json::array();
    while (stage.is_array() && stage.size() <= axis)
        stage.push_back(0.0);
    stage[axis] = value;
}

// A copy of a member that a caller supplied, or nullopt when absent.
std::optional<json> checkedCopy(const json& doc, const char* key, const char* what) {
    if (!doc.is_object())
        return std::nullopt;
    const auto it = doc.find(key);
    if (it == doc.end())
        return std::nullopt;
    detail::checkNesting(*it, what);
    return *it;
}

// Parses an array index as the JSON library's pointer access does, raising its errors.
std::size_t arrayIndex(const std::string& token) {
    if (token.size() > 1 && token[0] == '0')
        throw json::parse_error::create(106, 0, "array index '" + token + "' must not begin with '0'",
                                        nullptr);
    if (token.size() > 1 && !(token[0] >= '1' && token[0] <= '9'))
        throw json::parse_error::create(109, 0, "array index '" + token + "' is not a number", nullptr);
    std::uint64_t index = 0;
    const char* end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(token.data(), end, index);
    if (token.empty() || ec != std::errc() || ptr != end)
        throw json::out_of_range::create(404, "unresolved reference token '" + token + "'", nullptr);
    return static_cast<std::size_t>(index);
}

std::vector<std::string> pointerTokens(const json::json_pointer& ptr) {
    std::vector<std::string> tokens;
    const std::string text = ptr.to_string();
    std::size_t start = 1;
    while (start <= text.size()) {
        const std::size_t slash = std::min(text.find('/', start), text.size());
        std::string token = text.substr(start, slash - start);
        for (std::size_t p = 0; (p = token.find('~', p)) != std::string::npos; ++p)
            token.replace(p, 2, token[p + 1] == '1' ? "/" : "~");
        tokens.push_back(std::move(token));
        start = slash + 1;
    }
    return tokens;
}

// The value at pointer in doc, as the library's unchecked access on a modifiable document gives it: a
// missing member or element is null, and the library's errors for tokens that no access could resolve.
// Resolved without that access, which would first grow an array to whatever index the pointer names.
json valueAt(const json& doc, const std::string& pointer) {
    const json::json_pointer ptr(pointer);
    const json* node = &doc;
    for (const std::string& token : pointerTokens(ptr)) {
        if (node && node->is_null())
            node = nullptr;
        if (!node) {
            // The access would have created a container here: an array for a numeric token, else an object.
            const bool numeric =
                std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (numeric)
                (void)arrayIndex(token);
            continue;
        }
        if (node->is_object()) {
            const auto it = node->find(token);
            node = it == node->end() ? nullptr : &*it;
        } else if (node->is_array()) {
            if (token == "-") {
                node = nullptr;
                continue;
            }
            const std::size_t index = arrayIndex(token);
            node = index < node->size() ? &(*node)[index] : nullptr;
        } else {
            throw json::out_of_range::create(404, "unresolved reference token '" + token + "'", node);
        }
    }
    return node ? *node : json();
}

} // namespace

json frameMetadata(const json& global, const json& channelMetadata, const json& experiment,
                   double relativeTimeMs, const std::vector<std::uint32_t>& coordinates,
                   const std::string& jsonPointer) {
    const std::int32_t xy = loopIndex(global, xyLoopPointer);
    const std::int32_t z = loopIndex(global, zLoopPointer);

    json result;
    if (std::optional<json> channels = checkedCopy(channelMetadata, "channels", "frameMetadata: channels")) {
        const bool timed = std::isfinite(relativeTimeMs);
        const double day = timed ? global.value(dayPointer, 0.0) + relativeTimeMs / msPerDay : 0.0;
        const std::optional<json> globalTime = checkedCopy(global, "time", "frameMetadata: time");
        const std::optional<json> globalPosition = checkedCopy(global, "position", "frameMetadata: position");
        const std::optional<PointPosition> point = pointPosition(frameInLoop(experiment, xy, coordinates));
        const std::optional<double> dz = zOffset(frameInLoop(experiment, z, coordinates));

        for (json& channel : *channels) {
            if (timed) {
                channel[relativeTimePointer] = relativeTimeMs;
                channel[dayPointer] = day;
            } else if (globalTime) {
                channel["time"] = *globalTime;
            }
            if (globalPosition)
                channel["position"] = *globalPosition;
            if (point) {
                setStageAxis(channel, 0, point->x);
                setStageAxis(channel, 1, point->y);
                if (point->settingZ)
                    setStageAxis(channel, 2, point->z);
            }
            // After the point: the offset adds to the point's z where the points set it.
            if (dz) {
                const double z0 = channel.is_object() && channel.contains(stageZPointer)
                                      ? channel.at(stageZPointer).get<double>()
                                      : 0.0;
                setStageAxis(channel, 2, z0 + *dz);
            }
        }
        result["channels"] = std::move(*channels);
    }
    if (std::optional<json> contents = checkedCopy(channelMetadata, "contents", "frameMetadata: contents"))
        result["contents"] = std::move(*contents);

    if (jsonPointer.empty())
        return result;
    return valueAt(result, jsonPointer);
}

} // namespace JsonMetadata
} // namespace Zan
