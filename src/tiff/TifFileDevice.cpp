#include <tiff/TifFileDevice.h>

#include <tiff/detail/TifFileDeviceImpl.h>

#include <io/IoFileDevice.h>
#include <io/IoMemoryBuffer.h>
#include <io/detail/FileExtension.h>

#include <stdexcept>

namespace Zan {

TifFileDevice::TifFileDevice() : d_(std::make_unique<Impl>()) {}

TifFileDevice::TifFileDevice(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}

TifFileDevice::TifFileDevice(const std::wstring& fileName)
    : d_(std::make_unique<Impl>(std::make_unique<IoFileDevice>(fileName))) {}

TifFileDevice::TifFileDevice(const std::string& fileName)
    : d_(std::make_unique<Impl>(std::make_unique<IoFileDevice>(fileName))) {}

TifFileDevice::TifFileDevice(unsigned long size, const void* data)
    : d_(std::make_unique<Impl>(std::make_unique<IoMemoryBuffer>(size, data))) {}

TifFileDevice::~TifFileDevice() = default;

bool TifFileDevice::isAcceptableFilename(const std::string& fileName) {
    return detail::hasExtension(fileName, {".tiff", ".tif", ".stk"});
}

bool TifFileDevice::isAcceptableFilename(const std::wstring& fileName) {
    return detail::hasExtension(fileName, {".tiff", ".tif", ".stk"});
}

bool TifFileDevice::open(IoDevice::OpenMode mode, OpenOptions, int*) {
    return d_->open(mode);
}

void TifFileDevice::close() {
    d_->close();
}

IoDevice::OpenMode TifFileDevice::openMode() const {
    return d_->openMode();
}

std::string TifFileDevice::filename() const {
    return d_->filename();
}

unsigned TifFileDevice::sequenceCount() {
    return d_->sequenceCount();
}

bool TifFileDevice::sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) {
    return d_->sequenceIndex(loopIndexes, sequenceIndex);
}

std::vector<unsigned> TifFileDevice::loopIndexes(unsigned sequenceIndex) {
    return d_->loopIndexes(sequenceIndex);
}

std::vector<std::vector<unsigned>> TifFileDevice::allLoopIndexes() {
    return d_->allLoopIndexes();
}

nlohmann::json TifFileDevice::rawMetadata() {
    return d_->format().rawMetadata();
}

nlohmann::json TifFileDevice::attributes() {
    return d_->format().attributes();
}

void TifFileDevice::setAttributes(const nlohmann::json& attributes) {
    d_->format().setAttributes(attributes);
}

nlohmann::json TifFileDevice::metadata() {
    return d_->format().metadata();
}

void TifFileDevice::setMetadata(const nlohmann::json& metadata) {
    d_->format().setMetadata(metadata);
}

nlohmann::json TifFileDevice::frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) {
    return d_->format().frameMetadata(sequenceIndex, jsonPointer);
}

void TifFileDevice::setFrameMetadata(unsigned, const nlohmann::json&) {
    throw std::logic_error("TifFileDevice::setFrameMetadata not implemented");
}

nlohmann::json TifFileDevice::experiment() {
    return d_->format().experiment();
}

void TifFileDevice::setExperiment(const nlohmann::json&) {
    throw std::logic_error("TifFileDevice::setExperiment not implemented");
}

nlohmann::json TifFileDevice::textInfo() {
    return d_->format().textInfo();
}

void TifFileDevice::setTextInfo(const nlohmann::json&) {
    throw std::logic_error("TifFileDevice::setTextInfo not implemented");
}

std::unique_ptr<IoImageDataDevice> TifFileDevice::imageData(unsigned sequenceIndex) {
    return d_->imageData(sequenceIndex);
}

nlohmann::json TifFileDevice::customMetadata(const std::string& name) {
    return d_->format().customMetadata(name);
}

nlohmann::json TifFileDevice::customMetadata(const std::string& name, unsigned sequenceIndex) {
    return d_->format().customMetadata(name, sequenceIndex);
}

} // namespace Zan
