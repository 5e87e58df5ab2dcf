#include <imagefile/IoImageFile.h>

namespace nlohmann {

namespace {

using Zan::IoImageFile;

const json::json_pointer relativeTimePointer("/relativeTimeMs");
const json::json_pointer dayPointer("/absoluteJulianDayNumber");
const json::json_pointer timerPointer("/timerSourceHardware");
const json::json_pointer stagePointers[3] = {json::json_pointer("/stagePositionUm/0"),
                                             json::json_pointer("/stagePositionUm/1"),
                                             json::json_pointer("/stagePositionUm/2")};

} // namespace

void adl_serializer<IoImageFile::FrameTime>::from_json(const json& j, IoImageFile::FrameTime& r) {
    r.relativeTimeMs = j.value(relativeTimePointer, 0.0);
    r.absoluteJulianDayNumber = j.value(dayPointer, 0.0);
    // Any text names a hardware timer; only the empty one (or none) does not.
    r.timerSourceHardware = j.value(timerPointer, std::string()).empty() ? 0 : 1;
}

void adl_serializer<IoImageFile::FrameTime>::to_json(json& j, const IoImageFile::FrameTime& r) {
    j = {{"relativeTimeMs", r.relativeTimeMs}, {"absoluteJulianDayNumber", r.absoluteJulianDayNumber}};
    if (r.timerSourceHardware != 0)
        j["timerSourceHardware"] = "NIDAQ";
}

void adl_serializer<IoImageFile::FramePosition>::from_json(const json& j, IoImageFile::FramePosition& r) {
    for (std::size_t i = 0; i < 3; ++i)
        r.stagePositionUm[i] = j.value(stagePointers[i], 0.0);
}

void adl_serializer<IoImageFile::FramePosition>::to_json(json& j, const IoImageFile::FramePosition& r) {
    j = {{"stagePositionUm", r.stagePositionUm}};
}

void adl_serializer<IoImageFile::ChannelFrameMetadata>::from_json(const json& j,
                                                                  IoImageFile::ChannelFrameMetadata& r) {
    if (!j.is_object()) {
        r = IoImageFile::ChannelFrameMetadata();
        return;
    }
    if (const auto time = j.find("time"); time != j.end()) {
        IoImageFile::FrameTime t;
        adl_serializer<IoImageFile::FrameTime>::from_json(*time, t);
        r.time = t;
    }
    if (const auto position = j.find("position"); position != j.end()) {
        IoImageFile::FramePosition p;
        adl_serializer<IoImageFile::FramePosition>::from_json(*position, p);
        r.position = p;
    }
}

void adl_serializer<IoImageFile::ChannelFrameMetadata>::to_json(json& j,
                                                                const IoImageFile::ChannelFrameMetadata& r) {
    j = {{"time", r.time}, {"position", r.position}};
}

void adl_serializer<IoImageFile::FrameMetadata>::from_json(const json& j, IoImageFile::FrameMetadata& r) {
    if (!j.is_object())
        return;
    const auto channels = j.find("channels");
    if (channels == j.end() || !channels->is_array())
        return;
    r.channels.reserve(r.channels.size() + channels->size());
    for (const json& element : *channels) {
        IoImageFile::ChannelFrameMetadata channel;
        adl_serializer<IoImageFile::ChannelFrameMetadata>::from_json(element, channel);
        r.channels.push_back(channel);
    }
}

void adl_serializer<IoImageFile::FrameMetadata>::to_json(json& j, const IoImageFile::FrameMetadata& r) {
    json channels = json::array();
    for (const IoImageFile::ChannelFrameMetadata& channel : r.channels)
        channels.push_back(channel);
    j = {{"channels", std::move(channels)}};
}

} // namespace nlohmann
