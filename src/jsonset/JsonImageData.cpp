// Frames of a JSON image set: choosing and naming a frame's TIFF files, and the frame devices over one
// file (ImageData) and over one file per component (ImageDataN).

#include <jsonset/detail/JsonFileDeviceImpl.h>
#include <jsonset/detail/JsonSetPaths.h>

#include <imagefile/IoImageFile.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>

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
    // Writing a frame truncates its file: a set open for reading only keeps its frames as they are.
    const bool writable = (mode_ & (IoDevice::Write | IoDevice::Append | IoDevice::Update)) != 0;
    const std::string description = filename();
    if (n == 1)
        return std::make_unique<ImageData>(ImageData::SetFile{description, (*files)[0].get<std::string>()},
                                           json(attributes), json(metadata), writable);
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
        parts.push_back(
            std::make_shared<ImageData>(ImageData::SetFile{description, name.get<std::string>(), true},
                                        attributesDocument, metadataDocument, writable));
    return std::make_unique<ImageDataN>(std::move(parts));
}

// ---- One file

JsonFileDevice::ImageData::ImageData(const std::string& path, const json& attributes, const json& metadata,
                                     bool writable)
    : path_(path), file_(path), attributes_(attributes), metadata_(metadata), writable_(writable) {}

JsonFileDevice::ImageData::ImageData(const SetFile& file, const json& attributes, const json& metadata,
                                     bool writable)
    : ImageData(detail::locateFrame(file.description, file.name, detail::FrameUse::Read).path.string(),
                attributes, metadata, writable) {
    setFile_ = file;
}

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

void JsonFileDevice::ImageData::checkWritable() const {
    if (!writable_)
        throw std::logic_error("JsonFileDevice::ImageData::open: write access denied");
    if (!setFile_)
        return;
    const auto location = detail::locateFrame(setFile_->description, setFile_->name, detail::FrameUse::Write);
    if (!location.allowed())
        throw std::runtime_error("JsonFileDevice::ImageData::open: frame file \"" + setFile_->name + "\" " +
                                 location.refusal + "; it is not written");
}

namespace {

std::string pixels(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

std::string sampleType(bool isFloat) {
    return isFloat ? "floating-point samples" : "unsigned samples";
}

} // namespace

void JsonFileDevice::ImageData::checkAgainstAttributes() const {
    const auto a = attributes_.get<IoImageFile::Attributes>();
    const IoImageDataDevice& frame = *inner_;
    const auto refuse = [&](const std::string& holds, const std::string& says) {
        throw std::runtime_error("JsonFileDevice::ImageData::open: " + path_ + " holds " + holds +
                                 ", the set's attributes say " + says);
    };
    if (frame.width() != a.widthPx || frame.height() != a.heightPx)
        refuse(pixels(frame.width(), frame.height()), pixels(a.widthPx, a.heightPx));
    if (frame.bitsPerComponentStored() != a.bitsPerComponentInMemory)
        refuse(std::to_string(frame.bitsPerComponentStored()) + " bits per sample",
               std::to_string(a.bitsPerComponentInMemory));
    const bool isFloat = frame.dataFormat() == FloatingPoint;
    if (isFloat != (a.pixelDataType == IoImageFile::Float))
        refuse(sampleType(isFloat), sampleType(!isFloat));
    const long planes = frame.planes(), channels = frame.channels();
    if (channels != a.componentCount)
        refuse(std::to_string(channels) + " components" +
                   (planes > 1 ? " in " + std::to_string(planes) + " planes" : std::string()),
               std::to_string(a.componentCount) +
                   (setFile_ && setFile_->component ? " (one component per file)" : std::string()));
}

bool JsonFileDevice::ImageData::open(OpenMode mode) {
    if (mode & Write)
        checkWritable();
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
        passPropertiesTo(*inner_);
        if (!inner_->open(mode)) {
            closeFile();
            return false;
        }
        if (!attributes_.is_null())
            checkAgainstAttributes();
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

IoImageDataDevice& JsonFileDevice::ImageData::target() const {
    if (!inner_)
        throw std::logic_error("JsonFileDevice::ImageData::idd imageDataDevice not available");
    return *inner_;
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
    // No file is cut before every file is known to be writable, and once: two parts writing one file
    // would leave neither.
    if (mode & Write) {
        std::set<std::filesystem::path> files;
        for (const auto& p : parts_) {
            p->checkWritable();
            std::error_code error;
            std::filesystem::path file = std::filesystem::weakly_canonical(p->path(), error);
            if (error)
                file = p->path();
            if (!files.insert(file).second)
                throw std::runtime_error("JsonFileDevice::ImageDataN::open: " + p->path() +
                                         " holds two components of the frame; it is not written");
        }
    }
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
        for (; opened < parts_.size(); ++opened) {
            passPropertiesTo(*parts_[opened]);
            if (!parts_[opened]->open(mode)) {
                closeOpened();
                return false;
            }
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

IoImageDataDevice& JsonFileDevice::ImageDataN::target() const {
    if (plane_ < 0 || static_cast<std::size_t>(plane_) >= parts_.size())
        throw std::out_of_range("JsonFileDevice::ImageDataN: plane " + std::to_string(plane_) +
                                " of a frame of " + std::to_string(parts_.size()) + " planes");
    return *parts_[static_cast<std::size_t>(plane_)];
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

// ---- Forwarding

namespace detail {

void ForwardingImageData::passPropertiesTo(IoImageDataDevice& device) const {
    // What the caller set on this device governs the reads of the presented one.
    device.setPropertyInt(StopOnError, propertyInt(StopOnError));
    device.setPropertyInt(Threads, propertyInt(Threads));
    device.setAbortFlag(abortFlag());
}

IoImageDataDevice& ForwardingImageData::transferTarget() {
    // The setters are not virtual: what the caller set after open is passed on here.
    IoImageDataDevice& device = target();
    passPropertiesTo(device);
    return device;
}

const void* ForwardingImageData::memoryMappedPlane() const {
    return target().memoryMappedPlane();
}
bool ForwardingImageData::isTiled(long* w, long* h) const {
    return target().isTiled(w, h);
}
bool ForwardingImageData::isStriped(long* rows) const {
    return target().isStriped(rows);
}
IoImageDataDevice::Interpretation ForwardingImageData::interpretation() const {
    return target().interpretation();
}
IoImageDataDevice::DataFormat ForwardingImageData::dataFormat() const {
    return target().dataFormat();
}
long ForwardingImageData::width() const {
    return target().width();
}
long ForwardingImageData::height() const {
    return target().height();
}
long ForwardingImageData::bitsPerComponentUsed() const {
    return target().bitsPerComponentUsed();
}
long ForwardingImageData::bitsPerComponentStored() const {
    return target().bitsPerComponentStored();
}
long ForwardingImageData::componentsPerPixel() const {
    return target().componentsPerPixel();
}
long ForwardingImageData::lineAlignment() const {
    return target().lineAlignment();
}
long ForwardingImageData::planes() const {
    return target().planes();
}
long ForwardingImageData::currentPlane() const {
    return target().currentPlane();
}
void ForwardingImageData::setCurrentPlane(long plane) {
    target().setCurrentPlane(plane);
}
long ForwardingImageData::currentTileX() const {
    return target().currentTileX();
}
long ForwardingImageData::currentTileY() const {
    return target().currentTileY();
}
void ForwardingImageData::setCurrentTile(long x, long y) {
    target().setCurrentTile(x, y);
}
long ForwardingImageData::currentStrip() const {
    return target().currentStrip();
}
void ForwardingImageData::setCurrentStrip(long y) {
    target().setCurrentStrip(y);
}
void ForwardingImageData::readCurrentPlane(void* dst, long stride) {
    transferTarget().readCurrentPlane(dst, stride);
}
void ForwardingImageData::readCurrentTile(void* dst, long stride) {
    transferTarget().readCurrentTile(dst, stride);
}
void ForwardingImageData::readCurrentStrip(void* dst, long stride) {
    transferTarget().readCurrentStrip(dst, stride);
}
void ForwardingImageData::writeCurrentPlane(const void* src, long stride) {
    transferTarget().writeCurrentPlane(src, stride);
}
void ForwardingImageData::writeCurrentTile(const void* src, long stride) {
    transferTarget().writeCurrentTile(src, stride);
}
void ForwardingImageData::writeCurrentStrip(const void* src, long stride) {
    transferTarget().writeCurrentStrip(src, stride);
}
void ForwardingImageData::readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) {
    transferTarget().readCurrentPlaneRect(dst, stride, r);
}
void ForwardingImageData::writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) {
    transferTarget().writeCurrentPlaneRect(src, stride, r);
}

} // namespace detail

} // namespace Zan
