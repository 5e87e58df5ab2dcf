#include <qpx/QpxFileDevice.h>

#include <io/IoFileDevice.h>
#include <io/IoMemoryBuffer.h>
#include <io/detail/FileExtension.h>
#include <qpx/detail/QpxFileDeviceImpl.h>

#include <stdexcept>

namespace Zan {

QpxFileDevice::QpxFileDevice(const std::wstring& fileName)
    : d_(std::make_unique<Impl>(std::make_unique<IoFileDevice>(fileName))) {}
QpxFileDevice::QpxFileDevice(const std::string& fileName)
    : d_(std::make_unique<Impl>(std::make_unique<IoFileDevice>(fileName))) {}
QpxFileDevice::QpxFileDevice(std::size_t size, const void* data)
    : d_(std::make_unique<Impl>(std::make_unique<IoMemoryBuffer>(size, data))) {}
QpxFileDevice::QpxFileDevice() : d_(std::make_unique<Impl>()) {}
QpxFileDevice::QpxFileDevice(std::unique_ptr<Impl> impl)
    : d_(impl ? std::move(impl) : std::make_unique<Impl>()) {}
QpxFileDevice::~QpxFileDevice() = default;

bool QpxFileDevice::isAcceptableFilename(const std::string& fileName) {
    return detail::hasExtension(fileName, {".qpx"});
}
bool QpxFileDevice::isAcceptableFilename(const std::wstring& fileName) {
    return detail::hasExtension(fileName, {".qpx"});
}

bool QpxFileDevice::open(IoDevice::OpenMode mode, OpenOptions options, int* err) {
    return d_->open(mode, options, err);
}
void QpxFileDevice::close() {
    d_->close();
}
IoDevice::OpenMode QpxFileDevice::openMode() const {
    return d_->openMode();
}
std::string QpxFileDevice::filename() const {
    return d_->filename();
}
unsigned QpxFileDevice::sequenceCount() {
    return d_->frameCount();
}
bool QpxFileDevice::sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) {
    return d_->sequenceIndex(loopIndexes, sequenceIndex);
}
std::vector<unsigned> QpxFileDevice::loopIndexes(unsigned sequenceIndex) {
    return d_->loopIndexes(sequenceIndex);
}
std::vector<std::vector<unsigned>> QpxFileDevice::allLoopIndexes() {
    return d_->allLoopIndexes();
}
nlohmann::json QpxFileDevice::rawMetadata() {
    return d_->rawMatadata();
}
nlohmann::json QpxFileDevice::attributes() {
    return d_->attributes();
}
void QpxFileDevice::setAttributes(const nlohmann::json&) {
    throw std::logic_error("QpxFileDevice::setAttributed not implemented");
}
nlohmann::json QpxFileDevice::metadata() {
    return d_->metadata();
}
void QpxFileDevice::setMetadata(const nlohmann::json&) {
    throw std::logic_error("QpxFileDevice::setMetadata not implemented");
}
nlohmann::json QpxFileDevice::frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) {
    return d_->frameMetadata(sequenceIndex, jsonPointer);
}
void QpxFileDevice::setFrameMetadata(unsigned, const nlohmann::json&) {
    throw std::logic_error("QpxFileDevice::setFrameMetadata not implemented");
}
nlohmann::json QpxFileDevice::experiment() {
    return d_->experiment();
}
void QpxFileDevice::setExperiment(const nlohmann::json&) {
    throw std::logic_error("QpxFileDevice::setExperiment not implemented");
}
nlohmann::json QpxFileDevice::textInfo() {
    return d_->textInfo();
}
void QpxFileDevice::setTextInfo(const nlohmann::json&) {
    throw std::logic_error("QpxFileDevice::setTextInfo not implemented");
}
std::unique_ptr<IoImageDataDevice> QpxFileDevice::imageData(unsigned sequenceIndex) {
    return d_->imageData(sequenceIndex);
}
nlohmann::json QpxFileDevice::customMetadata(const std::string& name) {
    return d_->customMetadata(name);
}
nlohmann::json QpxFileDevice::customMetadata(const std::string& name, unsigned sequenceIndex) {
    return d_->customMetadata(name, sequenceIndex);
}

QpxFileDevice::ChunkedDevice& QpxFileDevice::chunkedDevice() {
    return d_->chunked;
}
const QpxFileDevice::ChunkedDevice& QpxFileDevice::chunkedDevice() const {
    return d_->chunked;
}
ByteVector QpxFileDevice::chunkedData(const std::string& name) {
    return d_->chunkedData(name);
}
void QpxFileDevice::setChunkedData(const std::string& name, const ByteVector& data) {
    d_->setChunkedData(name, data);
}
bool QpxFileDevice::setRawMetadata(const nlohmann::json& raw) {
    return d_->setRawMetadata(raw);
}
bool QpxFileDevice::setImageData(const ByteVector& data, unsigned seq) {
    return d_->setImageData(data, seq);
}
bool QpxFileDevice::addImageData(const ByteVector& data, unsigned seq) {
    return d_->addImageData(data, seq);
}
bool QpxFileDevice::setImageDataRect(const ByteVector& data, unsigned seq, const Rectangle& rect) {
    return d_->setImageDataRect(data, seq, rect);
}
bool QpxFileDevice::addImageDataRect(const ByteVector& data, unsigned seq, const Rectangle& rect) {
    return d_->addImageDataRect(data, seq, rect);
}

} // namespace Zan
