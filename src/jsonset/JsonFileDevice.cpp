#include <jsonset/JsonFileDevice.h>
#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <io/StringConversions.h>
#include <io/detail/FileExtension.h>

namespace Zan {

using json = nlohmann::json;

JsonFileDevice::JsonFileDevice() : d_(std::make_unique<Impl>()) {}

JsonFileDevice::JsonFileDevice(const std::string& fileName)
    : d_(std::make_unique<Impl>(StringConversions::utf8_to_wstring(fileName))) {}

JsonFileDevice::JsonFileDevice(const std::wstring& fileName) : d_(std::make_unique<Impl>(fileName)) {}

JsonFileDevice::JsonFileDevice(unsigned long size, const void* data)
    : d_(std::make_unique<Impl>(size, data)) {}

JsonFileDevice::JsonFileDevice(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}

// The implementation's destructor closes, writing pending changes.
JsonFileDevice::~JsonFileDevice() = default;

bool JsonFileDevice::isAcceptableFilename(const std::string& fileName) {
    return detail::hasExtension(fileName, {".json"});
}

bool JsonFileDevice::isAcceptableFilename(const std::wstring& fileName) {
    return detail::hasExtension(fileName, {".json"});
}

bool JsonFileDevice::open(IoDevice::OpenMode mode, OpenOptions, int*) {
    return d_->open(mode);
}

void JsonFileDevice::close() {
    d_->close();
}

IoDevice::OpenMode JsonFileDevice::openMode() const {
    return d_->openMode();
}

std::string JsonFileDevice::filename() const {
    return d_->filename();
}

unsigned JsonFileDevice::sequenceCount() {
    return d_->sequenceCount();
}

bool JsonFileDevice::sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) {
    return d_->sequenceIndex(loopIndexes, sequenceIndex);
}

std::vector<unsigned> JsonFileDevice::loopIndexes(unsigned sequenceIndex) {
    return d_->loopIndexes(sequenceIndex);
}

std::vector<std::vector<unsigned>> JsonFileDevice::allLoopIndexes() {
    return d_->allLoopIndexes();
}

json JsonFileDevice::rawMetadata() {
    return d_->rawMetadata();
}

json JsonFileDevice::attributes() {
    return d_->attributes();
}

void JsonFileDevice::setAttributes(const json& attributes) {
    d_->setAttributes(attributes);
}

json JsonFileDevice::metadata() {
    return d_->metadata();
}

void JsonFileDevice::setMetadata(const json& metadata) {
    d_->setMetadata(metadata);
}

json JsonFileDevice::frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) {
    return d_->frameMetadata(sequenceIndex, jsonPointer);
}

void JsonFileDevice::setFrameMetadata(unsigned sequenceIndex, const json& frameMetadata) {
    d_->setFrameMetadata(sequenceIndex, frameMetadata);
}

json JsonFileDevice::experiment() {
    return d_->experiment();
}

void JsonFileDevice::setExperiment(const json& experiment) {
    d_->setExperiment(experiment);
}

json JsonFileDevice::textInfo() {
    return d_->textInfo();
}

void JsonFileDevice::setTextInfo(const json& textInfo) {
    d_->setTextInfo(textInfo);
}

std::unique_ptr<IoImageDataDevice> JsonFileDevice::imageData(unsigned sequenceIndex) {
    return d_->imageData(sequenceIndex);
}

json JsonFileDevice::customMetadata(const std::string& name) {
    d_->checkReadAccess();
    return json();
}

json JsonFileDevice::customMetadata(const std::string& name, unsigned sequenceIndex) {
    d_->checkReadAccess();
    return json();
}

bool JsonFileDevice::copyFile(const std::string& from, const std::string& to, bool overwrite) const {
    return d_->copyFile(from, to, overwrite);
}

bool JsonFileDevice::moveFile(const std::string& from, const std::string& to) const {
    return d_->moveFile(from, to);
}

bool JsonFileDevice::deleteFile(const std::string& name) const {
    return d_->deleteFile(name);
}

json JsonFileDevice::contents() {
    return d_->contents();
}

void JsonFileDevice::flush() {
    d_->flush();
}

json JsonFileDevice::frameRef(unsigned sequenceIndex) {
    return d_->frameRef(sequenceIndex);
}

void JsonFileDevice::setFrameRef(unsigned sequenceIndex, const json& files) {
    d_->setFrameRef(sequenceIndex, files);
}

std::vector<std::string> JsonFileDevice::allFrameFilenames() {
    return d_->allFrameFilenames();
}

} // namespace Zan
