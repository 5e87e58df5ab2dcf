// Frames of a JSON image set: choosing and naming a frame's TIFF files, and the frame devices over one
// file (ImageData) and over one file per component (ImageDataN).

#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <imagefile/IoImageFile.h>

#include <stdexcept>
#include <string>

namespace Zan {

using json = nlohmann::json;

std::unique_ptr<IoImageDataDevice> JsonFileDevice::Impl::imageData(unsigned seqIndex) {
    checkOpen();
    json& frame = cachedFrame(seqIndex);
    IoImageFile::Attributes attributes = countedAttributes(cachedAttributes(), maxFrames);
    auto metadata = cachedGlobalMetadata().get<IoImageFile::Metadata>();

    if (!frame.is_object())
        frame = json::object();
    auto files = frame.find("files");
    if (files == frame.end() || !files->is_array()) {
        if (!(mode_ & (IoDevice::Write | IoDevice::Append)))
            throw std::runtime_error("JsonFileDevice: files missing for frame #" + std::to_string(seqIndex));
        json names = json::array();
        for (std::int64_t c = 0; c < attributes.componentCount; ++c)
            names.push_back(frameFileName(seqIndex, c, attributes.sequenceCount, attributes.componentCount));
        frame["files"] = std::move(names);
        // The names are part of the set now: they are written back with the description.
        dirty_ = 1;
        files = frame.find("files");
    }

    const std::size_t n = files->size();
    if (n == 0)
        throw std::runtime_error("JsonFileDevice: no files for frame #" + std::to_string(seqIndex));
    attributes.sequenceCount = 1;
    attributes.widthBytes = 0;
    metadata.frameCount = 1;
    if (n == 1)
        return std::make_unique<ImageData>(absoluteFramePath((*files)[0].get<std::string>()),
                                           json(attributes), json(metadata));
    if (n != static_cast<std::size_t>(attributes.componentCount))
        throw std::runtime_error("JsonFileDevice: unexpected number of files for frame #" +
                                 std::to_string(seqIndex));
    // Each file holds one component: one channel of one component.
    attributes.componentCount = 1;
    if (metadata.channels.size() > 1)
        metadata.channels.resize(1);
    const json attributesDocument = attributes, metadataDocument = metadata;
    std::vector<std::shared_ptr<ImageData>> parts;
    parts.reserve(n);
    for (const json& name : *files)
        parts.push_back(std::make_shared<ImageData>(absoluteFramePath(name.get<std::string>()),
                                                    attributesDocument, metadataDocument));
    return std::make_unique<ImageDataN>(std::move(parts));
}

// ---- One file

JsonFileDevice::ImageData::ImageData(const std::string& path, const json& attributes, const json& metadata)
    : file_(path), attributes_(attributes), metadata_(metadata) {}

JsonFileDevice::ImageData::~ImageData() = default;

void JsonFileDevice::ImageData::closeFile() noexcept {
    inner_.reset();
    try {
        if (file_.openMode() != IoDevice::NotOpen)
            file_.close();
    } catch (...) {
        // Only after another failure, which is the one reported.
    }
    IoImageDataDevice::open(NotOpen);
}

bool JsonFileDevice::ImageData::open(OpenMode mode) {
    if (!IoImageDataDevice::open(mode))
        return false;
    // A failed open leaves neither this device nor the file open.
    try {
        if (!file_.open(toFileOpenMode(mode),
                        IoImageFileDevice::LoadChunkMap | IoImageFileDevice::StoreChunkMap, nullptr)) {
            closeFile();
            return false;
        }
        if (mode & Write) {
            if (!attributes_.is_null())
                file_.setAttributes(attributes_);
            if (!metadata_.is_null())
                file_.setMetadata(metadata_);
        }
        inner_ = file_.imageData(0);
        if (!inner_->open(mode)) {
            closeFile();
            return false;
        }
    } catch (...) {
        closeFile();
        throw;
    }
    return IoImageDataDevice::open(inner_->openMode());
}

void JsonFileDevice::ImageData::close() {
    IoImageDataDevice::close();
    if (inner_ && inner_->openMode() != NotOpen)
        inner_->close();
    file_.close();
}

IoImageDataDevice& JsonFileDevice::ImageData::inner() const {
    if (!inner_)
        throw std::logic_error("JsonFileDevice::ImageData::idd imageDataDevice not available");
    // What the caller set on this device governs the reads of the file's own frame device.
    inner_->setPropertyInt(StopOnError, propertyInt(StopOnError));
    inner_->setPropertyInt(Threads, propertyInt(Threads));
    inner_->setAbortFlag(abortFlag());
    return *inner_;
}

const void* JsonFileDevice::ImageData::memoryMappedPlane() const {
    return inner().memoryMappedPlane();
}
bool JsonFileDevice::ImageData::isTiled(long* w, long* h) const {
    return inner().isTiled(w, h);
}
bool JsonFileDevice::ImageData::isStriped(long* rows) const {
    return inner().isStriped(rows);
}
IoImageDataDevice::Interpretation JsonFileDevice::ImageData::interpretation() const {
    return inner().interpretation();
}
IoImageDataDevice::DataFormat JsonFileDevice::ImageData::dataFormat() const {
    return inner().dataFormat();
}
long JsonFileDevice::ImageData::width() const {
    return inner().width();
}
long JsonFileDevice::ImageData::height() const {
    return inner().height();
}
long JsonFileDevice::ImageData::bitsPerComponentUsed() const {
    return inner().bitsPerComponentUsed();
}
long JsonFileDevice::ImageData::bitsPerComponentStored() const {
    return inner().bitsPerComponentStored();
}
long JsonFileDevice::ImageData::componentsPerPixel() const {
    return inner().componentsPerPixel();
}
long JsonFileDevice::ImageData::lineAlignment() const {
    return inner().lineAlignment();
}
long JsonFileDevice::ImageData::planes() const {
    return inner().planes();
}
long JsonFileDevice::ImageData::currentPlane() const {
    return inner().currentPlane();
}
void JsonFileDevice::ImageData::setCurrentPlane(long plane) {
    inner().setCurrentPlane(plane);
}
long JsonFileDevice::ImageData::currentTileX() const {
    return inner().currentTileX();
}
long JsonFileDevice::ImageData::currentTileY() const {
    return inner().currentTileY();
}
void JsonFileDevice::ImageData::setCurrentTile(long x, long y) {
    inner().setCurrentTile(x, y);
}
long JsonFileDevice::ImageData::currentStrip() const {
    return inner().currentStrip();
}
void JsonFileDevice::ImageData::setCurrentStrip(long y) {
    inner().setCurrentStrip(y);
}
void JsonFileDevice::ImageData::readCurrentPlane(void* dst, long stride) {
    inner().readCurrentPlane(dst, stride);
}
void JsonFileDevice::ImageData::readCurrentTile(void* dst, long stride) {
    inner().readCurrentTile(dst, stride);
}
void JsonFileDevice::ImageData::readCurrentStrip(void* dst, long stride) {
    inner().readCurrentStrip(dst, stride);
}
void JsonFileDevice::ImageData::writeCurrentPlane(const void* src, long stride) {
    inner().writeCurrentPlane(src, stride);
}
void JsonFileDevice::ImageData::writeCurrentTile(const void* src, long stride) {
    inner().writeCurrentTile(src, stride);
}
void JsonFileDevice::ImageData::writeCurrentStrip(const void* src, long stride) {
    inner().writeCurrentStrip(src, stride);
}

void JsonFileDevice::ImageData::readCurrentPlaneRect(void*, long, const Rectangle&) {
    throw std::logic_error("JsonFileDevice::ImageData::readCurrentPlane: not implemented");
}

void JsonFileDevice::ImageData::writeCurrentPlaneRect(const void*, long, const Rectangle&) {
    throw std::logic_error("JsonFileDevice::ImageData::writeCurrentPlane: not implemented");
}

// ---- One file per component

JsonFileDevice::ImageDataN::ImageDataN(std::vector<std::shared_ptr<ImageData>> parts)
    : parts_(std::move(parts)) {
    if (parts_.empty())
        throw std::invalid_argument("JsonFileDevice::ImageDataN: a frame needs at least one file");
}

JsonFileDevice::ImageDataN::~ImageDataN() = default;

bool JsonFileDevice::ImageDataN::open(OpenMode mode) {
    if (!IoImageDataDevice::open(mode))
        return false;
    // A failed open leaves none of the files open.
    std::size_t opened = 0;
    const auto closeOpened = [&] {
        for (std::size_t i = 0; i < opened; ++i)
            try {
                parts_[i]->close();
            } catch (...) {
                // Only after another failure, which is the one reported.
            }
        IoImageDataDevice::open(NotOpen);
    };
    try {
        for (; opened < parts_.size(); ++opened)
            if (!parts_[opened]->open(mode)) {
                closeOpened();
                return false;
            }
    } catch (...) {
        closeOpened();
        throw;
    }
    return IoImageDataDevice::open(parts_.front()->openMode());
}

void JsonFileDevice::ImageDataN::close() {
    IoImageDataDevice::close();
    // Every file is closed, so that each writes what it holds; the first failure is reported.
    std::exception_ptr failure;
    for (const auto& p : parts_)
        try {
            if (p->openMode() != NotOpen)
                p->close();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    if (failure)
        std::rethrow_exception(failure);
}

JsonFileDevice::ImageData& JsonFileDevice::ImageDataN::part() const {
    if (plane_ < 0 || static_cast<std::size_t>(plane_) >= parts_.size())
        throw std::out_of_range("JsonFileDevice::ImageDataN: plane " + std::to_string(plane_) +
                                " of a frame of " + std::to_string(parts_.size()) + " planes");
    ImageData& p = *parts_[static_cast<std::size_t>(plane_)];
    p.setPropertyInt(StopOnError, propertyInt(StopOnError));
    p.setPropertyInt(Threads, propertyInt(Threads));
    p.setAbortFlag(abortFlag());
    return p;
}

const void* JsonFileDevice::ImageDataN::memoryMappedPlane() const {
    return part().memoryMappedPlane();
}
bool JsonFileDevice::ImageDataN::isTiled(long* w, long* h) const {
    return part().isTiled(w, h);
}
bool JsonFileDevice::ImageDataN::isStriped(long* rows) const {
    return part().isStriped(rows);
}
IoImageDataDevice::Interpretation JsonFileDevice::ImageDataN::interpretation() const {
    return part().interpretation();
}
IoImageDataDevice::DataFormat JsonFileDevice::ImageDataN::dataFormat() const {
    return part().dataFormat();
}
long JsonFileDevice::ImageDataN::width() const {
    return part().width();
}
long JsonFileDevice::ImageDataN::height() const {
    return part().height();
}
long JsonFileDevice::ImageDataN::bitsPerComponentUsed() const {
    return part().bitsPerComponentUsed();
}
long JsonFileDevice::ImageDataN::bitsPerComponentStored() const {
    return part().bitsPerComponentStored();
}
long JsonFileDevice::ImageDataN::componentsPerPixel() const {
    return part().componentsPerPixel();
}
long JsonFileDevice::ImageDataN::lineAlignment() const {
    return part().lineAlignment();
}
long JsonFileDevice::ImageDataN::planes() const {
    return static_cast<long>(parts_.size());
}
long JsonFileDevice::ImageDataN::currentPlane() const {
    return plane_;
}
void JsonFileDevice::ImageDataN::setCurrentPlane(long plane) {
    plane_ = plane;
}
long JsonFileDevice::ImageDataN::currentTileX() const {
    return part().currentTileX();
}
long JsonFileDevice::ImageDataN::currentTileY() const {
    return part().currentTileY();
}
void JsonFileDevice::ImageDataN::setCurrentTile(long x, long y) {
    part().setCurrentTile(x, y);
}
long JsonFileDevice::ImageDataN::currentStrip() const {
    return part().currentStrip();
}
void JsonFileDevice::ImageDataN::setCurrentStrip(long y) {
    part().setCurrentStrip(y);
}
void JsonFileDevice::ImageDataN::readCurrentPlane(void* dst, long stride) {
    part().readCurrentPlane(dst, stride);
}
void JsonFileDevice::ImageDataN::readCurrentTile(void* dst, long stride) {
    part().readCurrentTile(dst, stride);
}
void JsonFileDevice::ImageDataN::readCurrentStrip(void* dst, long stride) {
    part().readCurrentStrip(dst, stride);
}
void JsonFileDevice::ImageDataN::writeCurrentPlane(const void* src, long stride) {
    part().writeCurrentPlane(src, stride);
}
void JsonFileDevice::ImageDataN::writeCurrentTile(const void* src, long stride) {
    part().writeCurrentTile(src, stride);
}
void JsonFileDevice::ImageDataN::writeCurrentStrip(const void* src, long stride) {
    part().writeCurrentStrip(src, stride);
}
void JsonFileDevice::ImageDataN::readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) {
    part().readCurrentPlaneRect(dst, stride, r);
}
void JsonFileDevice::ImageDataN::writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) {
    part().writeCurrentPlaneRect(src, stride, r);
}

} // namespace Zan
