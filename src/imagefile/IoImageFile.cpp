// The image file facade: device choice by name, forwards, typed records and whole-file operations.

#include <imagefile/IoImageFile.h>

#include <io/IoFile.h>
#include <jsonset/JsonFileDevice.h>
#include <qpx/QpxFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace Zan {

namespace {

// The device kinds in the order their name tests are tried.
enum class Kind { None, Native, Tiff, JsonSet };

template <typename Name>
Kind kindOf(const Name& name) {
    if (QpxFileDevice::isAcceptableFilename(name))
        return Kind::Native;
    if (TifFileDevice::isAcceptableFilename(name))
        return Kind::Tiff;
    if (JsonFileDevice::isAcceptableFilename(name))
        return Kind::JsonSet;
    return Kind::None;
}

// The first kind that accepts both names; a kind accepting only one of them is not tried further.
Kind kindOf(const std::string& from, const std::string& to) {
    if (QpxFileDevice::isAcceptableFilename(from) && QpxFileDevice::isAcceptableFilename(to))
        return Kind::Native;
    if (TifFileDevice::isAcceptableFilename(from) && TifFileDevice::isAcceptableFilename(to))
        return Kind::Tiff;
    if (JsonFileDevice::isAcceptableFilename(from) && JsonFileDevice::isAcceptableFilename(to))
        return Kind::JsonSet;
    return Kind::None;
}

// A device of the kind over the name; with no name, one bound to no file.
template <typename... Name>
std::unique_ptr<IoImageFileDevice> makeDevice(Kind kind, const Name&... name) {
    switch (kind) {
    case Kind::Native:
        return std::make_unique<QpxFileDevice>(name...);
    case Kind::Tiff:
        return std::make_unique<TifFileDevice>(name...);
    case Kind::JsonSet:
        return std::make_unique<JsonFileDevice>(name...);
    case Kind::None:
        break;
    }
    return nullptr;
}

// The work of a whole-file operation: the kind's own when its images span several files, else the file
// system's. onFiles(IoFile&) and onFileSystem() return the result.
template <typename OnFiles, typename OnFileSystem>
bool wholeFileOperation(Kind kind, OnFiles onFiles, OnFileSystem onFileSystem) {
    const std::unique_ptr<IoImageFileDevice> device = makeDevice(kind);
    if (const auto* files = dynamic_cast<const IoFile*>(device.get()))
        return onFiles(*files);
    return onFileSystem();
}

} // namespace

std::unique_ptr<IoImageFileDevice> IoImageFile::createIoImageFileDevice(const std::string& name) {
    return makeDevice(kindOf(name), name);
}

std::unique_ptr<IoImageFileDevice> IoImageFile::createIoImageFileDevice(const std::wstring& name) {
    return makeDevice(kindOf(name), name);
}

IoImageFile::IoImageFile(std::unique_ptr<IoImageFileDevice>&& device) : device_(std::move(device)) {}

IoImageFile::IoImageFile(const std::string& name) : device_(createIoImageFileDevice(name)) {}

IoImageFile::IoImageFile(const std::wstring& name) : device_(createIoImageFileDevice(name)) {}

IoImageFile::~IoImageFile() = default;

IoImageFileDevice& IoImageFile::device() const {
    if (!device_)
        throw std::logic_error("IoImageFile: no device");
    return *device_;
}

bool IoImageFile::open(IoDevice::OpenMode mode, IoImageFileDevice::OpenOptions options, int* errorCode) {
    return device_ && device_->open(mode, options, errorCode);
}

void IoImageFile::close() {
    device().close();
}

IoDevice::OpenMode IoImageFile::openMode() const {
    return device().openMode();
}

std::string IoImageFile::filename() const {
    return device().filename();
}

unsigned IoImageFile::sequenceCount() {
    return device().sequenceCount();
}

bool IoImageFile::sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) {
    return device().sequenceIndex(loopIndexes, sequenceIndex);
}

std::vector<unsigned> IoImageFile::loopIndexes(unsigned sequenceIndex) {
    return device().loopIndexes(sequenceIndex);
}

std::vector<std::vector<unsigned>> IoImageFile::allLoopIndexes() {
    return device().allLoopIndexes();
}

std::unique_ptr<IoImageDataDevice> IoImageFile::imageData(unsigned sequenceIndex) {
    return device().imageData(sequenceIndex);
}

bool IoImageFile::isOpen() const {
    return openMode() != IoDevice::NotOpen;
}

bool IoImageFile::isOpenForRead() const {
    return (openMode() & IoDevice::Read) != 0;
}

bool IoImageFile::isOpenForWrite() const {
    return (openMode() & (IoDevice::Write | IoDevice::Append | IoDevice::Update)) != 0;
}

IoImageFile::Attributes IoImageFile::attributes() {
    Attributes record;
    nlohmann::adl_serializer<Attributes>::from_json(device().attributes(), record);
    return record;
}

IoImageFile::Metadata IoImageFile::metadata() {
    Metadata record;
    nlohmann::adl_serializer<Metadata>::from_json(device().metadata(), record);
    return record;
}

IoImageFile::FrameMetadata IoImageFile::frameMetadata(unsigned sequenceIndex) {
    FrameMetadata record;
    nlohmann::adl_serializer<FrameMetadata>::from_json(device().frameMetadata(sequenceIndex, std::string()),
                                                       record);
    return record;
}

std::vector<IoImageFile::ExperimentLoop> IoImageFile::experiment() {
    std::vector<ExperimentLoop> loops;
    nlohmann::adl_serializer<std::vector<ExperimentLoop>>::from_json(device().experiment(), loops);
    return loops;
}

IoImageFile::TextInfo IoImageFile::textInfo() {
    TextInfo record;
    nlohmann::adl_serializer<TextInfo>::from_json(device().textInfo(), record);
    return record;
}

void IoImageFile::setAttributes(const Attributes& attributes) {
    device().setAttributes(nlohmann::json(attributes));
}

void IoImageFile::setMetadata(const Metadata& metadata) {
    device().setMetadata(nlohmann::json(metadata));
}

void IoImageFile::setFrameMetadata(unsigned sequenceIndex, const FrameMetadata& frameMetadata) {
    device().setFrameMetadata(sequenceIndex, nlohmann::json(frameMetadata));
}

void IoImageFile::setExperiment(const std::vector<ExperimentLoop>& experiment) {
    device().setExperiment(nlohmann::json(experiment));
}

void IoImageFile::setTextInfo(const TextInfo& textInfo) {
    device().setTextInfo(nlohmann::json(textInfo));
}

bool IoImageFile::deleteFile(const std::string& name) {
    const Kind kind = kindOf(name);
    if (kind == Kind::None)
        throw std::runtime_error("Unsupported format!");
    return wholeFileOperation(
        kind, [&](const IoFile& files) { return files.deleteFile(name); },
        [&] {
            // A file that is not there counts as deleted.
            std::error_code error;
            std::filesystem::remove(name, error);
            return !error;
        });
}

bool IoImageFile::copyFile(const std::string& from, const std::string& to, bool overwrite) {
    const Kind kind = kindOf(from, to);
    if (kind == Kind::None)
        throw std::runtime_error("Unsupported format or from/to differ!");
    return wholeFileOperation(
        kind, [&](const IoFile& files) { return files.copyFile(from, to, overwrite); },
        [&] {
            std::error_code error;
            const bool copied =
                std::filesystem::copy_file(from, to,
                                           overwrite ? std::filesystem::copy_options::overwrite_existing
                                                     : std::filesystem::copy_options::skip_existing,
                                           error);
            return copied && !error;
        });
}

bool IoImageFile::moveFile(const std::string& from, const std::string& to) {
    const Kind kind = kindOf(from, to);
    if (kind == Kind::None)
        throw std::runtime_error("Unsupported format or from/to differ!");
    return wholeFileOperation(
        kind, [&](const IoFile& files) { return files.moveFile(from, to); },
        [&] {
            std::error_code error;
            std::filesystem::rename(from, to, error);
            return !error;
        });
}

} // namespace Zan
