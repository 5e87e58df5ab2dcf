// The JSON image-set device's implementation: opening, the description document with its cached parts,
// writing it back, frame entries and the loop-index table.

#include <jsonset/detail/JsonFileDeviceImpl.h>
#include <jsonset/detail/JsonSetPaths.h>

#include <io/StringConversions.h>
#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/ExperimentLoops.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace Zan {

namespace {

using json = nlohmann::json;

constexpr IoDevice::OpenMode anyAccess =
    IoDevice::Read | IoDevice::Write | IoDevice::Append | IoDevice::Update;
constexpr IoDevice::OpenMode readAccess = IoDevice::Read | IoDevice::Update;
constexpr IoDevice::OpenMode writeAccess = IoDevice::Write | IoDevice::Append | IoDevice::Update;

// Values a caller stores are written into the description; one nested deeper than the device reads back
// would make the set unreadable, so it is refused at the door.
void checkStorable(const json& value, const char* what) {
    JsonMetadata::detail::checkNesting(value, what);
}

} // namespace

IoDevice::OpenMode toFileOpenMode(IoImageDataDevice::OpenMode mode) {
    return (mode & IoImageDataDevice::Write) ? IoDevice::Write : IoDevice::Read;
}

JsonFileDevice::Impl::Impl(std::wstring fileName) : fileName_(std::move(fileName)) {}

JsonFileDevice::Impl::Impl(unsigned long, const void*) {
    throw std::logic_error("JsonFileDevice::Impl::Impl construction from memory not supported");
}

JsonFileDevice::Impl::~Impl() {
    try {
        close();
    } catch (...) {
        // A destructor reports nothing; flush and close report a failed write to whoever calls them.
    }
}

std::string JsonFileDevice::Impl::filename() const {
    return StringConversions::wstring_to_utf8(fileName_);
}

void JsonFileDevice::Impl::resetCaches() {
    document_ = {};
    attributes_ = {};
    metadata_ = {};
    experiment_ = {};
    textInfo_ = {};
    framesLoaded_ = false;
    frames_ = JsonMetadata::FrameCoordinates();
}

bool JsonFileDevice::Impl::open(IoDevice::OpenMode mode) {
    // Reopening an open device must not drop its pending changes.
    if (mode_ != IoDevice::NotOpen)
        close();
    mode_ = IoDevice::NotOpen;
    std::ios::openmode streamMode{};
    switch (mode) {
    case IoDevice::Read:
        streamMode = std::ios::in | std::ios::binary;
        break;
    case IoDevice::Write:
        streamMode = std::ios::out | std::ios::trunc | std::ios::binary;
        if (fileName_.empty()) {
            // A set built in memory only: there is nothing to open and nothing to write back.
            resetCaches();
            dirty_ = 0;
            mode_ = mode;
            return true;
        }
        break;
    case IoDevice::Read | IoDevice::Update:
        streamMode = std::ios::in | std::ios::out | std::ios::binary;
        break;
    case IoDevice::Write | IoDevice::Update:
        streamMode = std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary;
        break;
    case IoDevice::Update:
        streamMode = std::ios::in | std::ios::out | std::ios::app | std::ios::ate | std::ios::binary;
        break;
    default:
        throw std::logic_error("JsonFileDevice: Unrecognized open mode");
    }
    // The description is written where it is named, never through a symbolic link.
    if ((mode & writeAccess) && !detail::writeRefusal(filename()).empty())
        return false;
    try {
        std::fstream stream(filename(), streamMode);
        if (!stream.is_open())
            return false;
        if (stream_.is_open())
            stream_.close();
        stream_ = std::move(stream);
    } catch (const std::runtime_error&) {
        return false;
    }
    // What an earlier opening cached belongs to the file as it was then: a truncating open must not
    // write the old document back, and a reopened file is read afresh.
    resetCaches();
    dirty_ = 0;
    mode_ = mode;
    return true;
}

void JsonFileDevice::Impl::close() {
    // The device is closed whatever the write-back does; its failure is reported afterwards.
    struct Closer {
        Impl& impl;
        ~Closer() {
            impl.mode_ = IoDevice::NotOpen;
            if (impl.stream_.is_open())
                impl.stream_.close();
        }
    } closer{*this};
    flush();
}

void JsonFileDevice::Impl::flush() {
    if (!dirty_ || fileName_.empty() || !stream_.is_open() || !(mode_ & writeAccess)) {
        dirty_ = 0;
        return;
    }
    dirty_ = 0;
    // The text is made before the file is cut: a document that cannot be printed leaves the file as it was.
    const std::string text = document_.value.dump(2, ' ', false);
    if (const std::string refusal = detail::writeRefusal(filename()); !refusal.empty())
        throw std::runtime_error("JsonFileDevice::flush: " + filename() + " " + refusal +
                                 "; the description is not written through it");
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::path(filename()), 0, error);
    if (error)
        throw std::runtime_error("JsonFileDevice::flush: cannot truncate " + filename() + ": " +
                                 error.message());
    stream_.clear();
    stream_.seekp(0);
    stream_.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream_.flush();
    if (!stream_)
        throw std::runtime_error("JsonFileDevice::flush: cannot write " + filename());
}

void JsonFileDevice::Impl::checkOpen() const {
    if (!(mode_ & anyAccess))
        throw std::logic_error("JsonFileDevice: not open");
}

void JsonFileDevice::Impl::checkReadAccess() const {
    if (!(mode_ & readAccess))
        throw std::logic_error("JsonFileDevice: not open for reading");
}

void JsonFileDevice::Impl::checkWriteAccess() const {
    if (!(mode_ & writeAccess))
        throw std::logic_error("JsonFileDevice: not open for writing");
}

// ---- Document and cached parts

json& JsonFileDevice::Impl::cachedJson() {
    if (document_.loaded)
        return document_.value;
    json document = json::object();
    if (stream_.is_open() && !(mode_ & IoDevice::Write)) {
        stream_.clear();
        stream_.seekg(0);
        document = json::parse(stream_);
        // Deeper documents would overflow the stack in the JSON library's recursive copies and prints.
        JsonMetadata::detail::checkNesting(document, "JsonFileDevice: description");
        // Parsing reads to the end of the file; the stream must stay usable for writing back.
        stream_.clear();
    }
    document_.value = std::move(document);
    document_.loaded = true;
    return document_.value;
}

const json& JsonFileDevice::Impl::cachedAttributes() {
    if (attributes_.loaded)
        return attributes_.value;
    const json& document = cachedJson();
    const auto stored = document.find("attributes");
    if (stored == document.end() || !stored->is_object())
        throw std::runtime_error("JsonFileDevice: object attributes missing");
    json attributes = *stored;
    fixMissingAttributes(attributes);
    attributes_.value = std::move(attributes);
    attributes_.loaded = true;
    return attributes_.value;
}

const json& JsonFileDevice::Impl::cachedExperiment() {
    if (experiment_.loaded)
        return experiment_.value;
    const json& document = cachedJson();
    const auto stored = document.find("experiment");
    json experiment;
    if (stored != document.end() && stored->is_array() && !stored->empty()) {
        experiment = *stored;
        fixMissingExperiment(experiment, maxFrames, storedFrameEntries());
    } else {
        experiment = defaultExperiment(cachedAttributes(), maxFrames);
    }
    experiment_.value = std::move(experiment);
    experiment_.loaded = true;
    return experiment_.value;
}

const json& JsonFileDevice::Impl::cachedGlobalMetadata() {
    if (metadata_.loaded)
        return metadata_.value;
    const json& document = cachedJson();
    const auto stored = document.find("metadata");
    json metadata;
    if (stored != document.end() && stored->is_object()) {
        metadata = *stored;
    } else {
        const json& experiment = cachedExperiment();
        metadata = defaultGlobalMetadata(cachedAttributes(), experiment, maxFrames);
    }
    metadata_.value = std::move(metadata);
    metadata_.loaded = true;
    return metadata_.value;
}

const json& JsonFileDevice::Impl::cachedTextInfo() {
    if (textInfo_.loaded)
        return textInfo_.value;
    const json& document = cachedJson();
    const auto stored = document.find("textInfo");
    textInfo_.value = stored != document.end() && stored->is_object() ? *stored : json();
    textInfo_.loaded = true;
    return textInfo_.value;
}

const JsonMetadata::FrameCoordinates& JsonFileDevice::Impl::cachedFrames() {
    if (framesLoaded_)
        return frames_;
    const json& attributes = cachedAttributes();
    const json& experiment = cachedExperiment();
    const IoImageFile::Attributes a = countedAttributes(attributes, maxFrames);
    const auto loops = experiment.get<std::vector<IoImageFile::ExperimentLoop>>();

    // Counts come from the description: each must be positive and their product is checked as it grows,
    // so negative counts that multiply to the sequence count, or a product that wraps, are refused.
    std::vector<std::uint32_t> counts;
    counts.reserve(loops.size());
    std::uint64_t product = 1;
    bool fits = true, empty = false;
    for (const IoImageFile::ExperimentLoop& loop : loops) {
        if (loop.count < 0 ||
            (loop.count > 0 && product > maxFrames / static_cast<std::uint64_t>(loop.count)))
            fits = false;
        else if (loop.count == 0)
            empty = true;
        else
            product *= static_cast<std::uint64_t>(loop.count);
        counts.push_back(static_cast<std::uint32_t>(std::max(loop.count, 0)));
    }
    if (empty)
        product = 0;
    if (!fits || product != static_cast<std::uint64_t>(a.sequenceCount))
        throw std::runtime_error("JsonFileDevice: LoopIndex count differs from SequenceCount");

    // A set whose loops give no frame still has each frame entry it stores reachable.
    frames_ = product > 0 ? JsonMetadata::FrameCoordinates::ofCounts(counts, maxFrames)
                          : JsonMetadata::FrameCoordinates(storedFrameEntries());
    framesLoaded_ = true;
    return frames_;
}

std::uint64_t JsonFileDevice::Impl::storedFrameEntries() {
    const json& document = cachedJson();
    const auto frames = document.is_object() ? document.find("frames") : document.end();
    return frames != document.end() && frames->is_array() ? frames->size() : 0;
}

std::uint64_t JsonFileDevice::Impl::frameEntryLimit() {
    // Entries are created up to the set's sequence count; before the set has attributes, up to the most
    // frames a set may hold. Either way a stray index never appends billions of entries.
    const json& document = cachedJson();
    const auto stored = document.find("attributes");
    if (stored == document.end() || !stored->is_object())
        return maxFrames;
    const auto a = stored->get<IoImageFile::Attributes>();
    return static_cast<std::uint64_t>(
        std::clamp<std::int64_t>(a.sequenceCount, 0, static_cast<std::int64_t>(maxFrames)));
}

json& JsonFileDevice::Impl::cachedFrame(unsigned seqIndex) {
    json& document = cachedJson();
    const auto frames = document.find("frames");
    if (frames != document.end() && frames->is_array() && frames->size() > seqIndex)
        return (*frames)[seqIndex];
    if (!(mode_ & writeAccess) || seqIndex >= frameEntryLimit())
        throw std::runtime_error("JsonFileDevice: seqIndex out of range");
    json& entries = document["frames"];
    if (!entries.is_array())
        entries = json::array();
    while (entries.size() <= seqIndex)
        entries.push_back(json::object());
    dirty_ = 1;
    return entries[seqIndex];
}

std::string JsonFileDevice::Impl::absoluteFramePath(const std::string& path) const {
    return detail::locateFrame(filename(), path, detail::FrameUse::Read).path.string();
}

// ---- Operations of the interface

unsigned JsonFileDevice::Impl::sequenceCount() {
    checkReadAccess();
    return static_cast<unsigned>(cachedFrames().frameCount());
}

bool JsonFileDevice::Impl::sequenceIndex(const std::vector<unsigned>& coordinates, unsigned* seqIndex) {
    checkReadAccess();
    std::uint64_t frame = 0;
    if (!cachedFrames().frameOf(coordinates, &frame))
        return false;
    if (seqIndex)
        *seqIndex = static_cast<unsigned>(frame);
    return true;
}

std::vector<unsigned> JsonFileDevice::Impl::loopIndexes(unsigned seqIndex) {
    checkReadAccess();
    const JsonMetadata::FrameCoordinates& frames = cachedFrames();
    if (seqIndex >= frames.frameCount())
        throw std::out_of_range("JsonFileDevice::loopIndexes: frame " + std::to_string(seqIndex) +
                                " of a set of " + std::to_string(frames.frameCount()) + " frames");
    return frames.coordinates(seqIndex);
}

JsonFileDevice::Impl::LoopIndexTable JsonFileDevice::Impl::allLoopIndexes() {
    checkReadAccess();
    LoopIndexTable table;
    cachedFrames().fillTable(table, maxFrames);
    return table;
}

json JsonFileDevice::Impl::rawMetadata() {
    checkReadAccess();
    const json& document = cachedJson();
    if (!document.is_object())
        return json();
    const auto raw = document.find("rawMetadata");
    return raw == document.end() ? json() : *raw;
}

json JsonFileDevice::Impl::attributes() {
    checkReadAccess();
    return cachedAttributes();
}

json JsonFileDevice::Impl::metadata() {
    checkReadAccess();
    return cachedGlobalMetadata();
}

json JsonFileDevice::Impl::experiment() {
    checkReadAccess();
    return cachedExperiment();
}

json JsonFileDevice::Impl::textInfo() {
    checkReadAccess();
    return cachedTextInfo();
}

void JsonFileDevice::Impl::storePart(const char* key, const json& value, Cached& cache, const char* what) {
    checkWriteAccess();
    checkStorable(value, what);
    json& document = cachedJson();
    if (!document.is_object())
        document = json::object();
    document[key] = value;
    // Only this part is built again; what was derived from it before stays as it was.
    cache = {};
    dirty_ = 1;
}

void JsonFileDevice::Impl::setAttributes(const json& value) {
    storePart("attributes", value, attributes_, "JsonFileDevice::setAttributes: attributes");
}

void JsonFileDevice::Impl::setMetadata(const json& value) {
    storePart("metadata", value, metadata_, "JsonFileDevice::setMetadata: metadata");
}

void JsonFileDevice::Impl::setExperiment(const json& value) {
    storePart("experiment", value, experiment_, "JsonFileDevice::setExperiment: experiment");
}

void JsonFileDevice::Impl::setTextInfo(const json& value) {
    storePart("textInfo", value, textInfo_, "JsonFileDevice::setTextInfo: text info");
}

void JsonFileDevice::Impl::storeFrameMember(unsigned seqIndex, const char* key, const json& value,
                                            const char* what) {
    checkWriteAccess();
    checkStorable(value, what);
    json& entry = cachedFrame(seqIndex);
    if (!entry.is_object())
        entry = json::object();
    entry[key] = value;
    dirty_ = 1;
}

json JsonFileDevice::Impl::frameMetadata(unsigned seqIndex, const std::string&) {
    checkReadAccess();
    const json entry = cachedFrame(seqIndex);
    const json* stored = nullptr;
    if (entry.is_object()) {
        const auto it = entry.find("metadata");
        if (it != entry.end() && it->is_object())
            stored = &*it;
    }
    // Times and positions of a frame without stored metadata follow from its place in the loops.
    const json values = stored ? json() : defaultFrameValues(cachedExperiment(), loopIndexes(seqIndex));
    json result = cachedGlobalMetadata();
    const auto channels = result.is_object() ? result.find("channels") : result.end();
    if (!stored) {
        // Every channel shares them.
        if (result.is_object() && channels != result.end() && channels->is_array())
            for (json& channel : *channels)
                if (channel.is_object()) {
                    channel["time"] = values["time"];
                    channel["position"] = values["position"];
                }
        return result;
    }
    const auto storedChannels = stored->find("channels");
    if (channels == result.end() || !channels->is_array() || storedChannels == stored->end() ||
        !storedChannels->is_array() || storedChannels->size() != channels->size())
        return result;
    for (std::size_t i = 0; i < channels->size(); ++i) {
        const json& from = (*storedChannels)[i];
        json& to = (*channels)[i];
        if (!from.is_object() || !to.is_object())
            continue;
        for (const char* key : {"time", "position"})
            if (const auto it = from.find(key); it != from.end())
                to[key] = *it;
    }
    return result;
}

void JsonFileDevice::Impl::setFrameMetadata(unsigned seqIndex, const json& value) {
    storeFrameMember(seqIndex, "metadata", value, "JsonFileDevice::setFrameMetadata: frame metadata");
}

json JsonFileDevice::Impl::contents() {
    checkReadAccess();
    return cachedJson();
}

json JsonFileDevice::Impl::frameRef(unsigned seqIndex) {
    checkReadAccess();
    const json& entry = cachedFrame(seqIndex);
    if (!entry.is_object())
        return json();
    const auto files = entry.find("files");
    return files == entry.end() ? json() : *files;
}

void JsonFileDevice::Impl::setFrameRef(unsigned seqIndex, const json& files) {
    storeFrameMember(seqIndex, "files", files, "JsonFileDevice::setFrameRef: files");
}

std::vector<std::string> JsonFileDevice::Impl::allFrameFilenames() {
    std::vector<std::string> names;
    const json& document = cachedJson();
    const auto frames = document.find("frames");
    if (frames == document.end() || !frames->is_array())
        return names;
    for (const json& entry : *frames) {
        if (!entry.is_object())
            continue;
        const auto files = entry.find("files");
        if (files == entry.end() || !files->is_array())
            continue;
        for (const json& name : *files)
            if (name.is_string())
                names.push_back(name.get<std::string>());
    }
    return names;
}

ByteVector JsonFileDevice::Impl::customData(const std::string&) {
    checkReadAccess();
    return {};
}

ByteVector JsonFileDevice::Impl::customData(const std::string&, unsigned) {
    checkReadAccess();
    return {};
}

} // namespace Zan
