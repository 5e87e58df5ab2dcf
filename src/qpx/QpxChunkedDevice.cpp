#include <qpx/QpxChunkedDevice.h>
#include <qpx/detail/QpxChunkedDeviceImpl.h>

namespace Zan {

using ChunkedDevice = QpxFileDevice::ChunkedDevice;

ChunkedDevice::ChunkedDevice(std::unique_ptr<IoDevice> device)
    : d_(std::make_unique<Impl>(std::move(device))) {}
ChunkedDevice::ChunkedDevice() : d_(std::make_unique<Impl>()) {}
ChunkedDevice::ChunkedDevice(std::unique_ptr<Impl> impl)
    : d_(impl ? std::move(impl) : std::make_unique<Impl>()) {}
ChunkedDevice::~ChunkedDevice() = default;

bool ChunkedDevice::isOpen() const {
    return d_->isOpen();
}
bool ChunkedDevice::isReadible() const {
    return d_->isReadible();
}
bool ChunkedDevice::isWritable() const {
    return d_->isWritable();
}
bool ChunkedDevice::isTruncated() const {
    return d_->isTruncated();
}
bool ChunkedDevice::isSequential() const {
    return false;
}
bool ChunkedDevice::isChunkMapOk() const {
    return d_->chunkMapOk;
}
IoDevice* ChunkedDevice::device() {
    d_->knownSize = -1;
    return d_->device.get();
}
const IoDevice* ChunkedDevice::device() const {
    return d_->device.get();
}
std::array<int, 2> ChunkedDevice::version() const {
    return d_->version;
}
void ChunkedDevice::setVersion(const std::array<int, 2>& version) {
    d_->version = version;
}

bool ChunkedDevice::open(IoDevice::OpenMode mode, OpenOptions options, int* err) {
    return d_->open(mode, options, err);
}
void ChunkedDevice::close() {
    d_->close();
}
long ChunkedDevice::newChunk() {
    return d_->newChunk();
}
unsigned long ChunkedDevice::writeChunk(long chunkStart, const std::string& name, const void* data,
                                        unsigned long size) {
    return d_->writeChunk(chunkStart, name, data, size);
}
unsigned long ChunkedDevice::storeChunk(const std::string& name, const void* data, unsigned long size) {
    return d_->storeChunk(name, data, size);
}
bool ChunkedDevice::nextChunk(long pos, long* next) {
    return d_->nextChunk(pos, next);
}
unsigned long ChunkedDevice::readChunk(long pos, std::string* name, void* buffer, unsigned long maxSize) {
    return d_->readChunk(pos, name, buffer, maxSize);
}
ByteVector ChunkedDevice::readChunk(long pos, std::string* name) {
    return d_->readChunk(pos, name);
}
ByteVector ChunkedDevice::loadChunk(const std::string& name) {
    return d_->loadChunk(name);
}
bool ChunkedDevice::loadChunk(const std::string& name, ByteVector& data) {
    return d_->loadChunk(name, data);
}
unsigned long ChunkedDevice::readChunkData(const std::string& name, void* buffer, unsigned long maxSize) {
    return d_->readChunkData(name, buffer, maxSize);
}
bool ChunkedDevice::hasChunk(const std::string& name, long* size) const {
    return d_->hasChunkInMap(name, nullptr, size);
}
bool ChunkedDevice::hasChunkInMap(const std::string& name, long* pos, long* size) {
    return d_->hasChunkInMap(name, pos, size);
}
long ChunkedDevice::chunkDataOffset(const std::string& name) {
    return d_->chunkDataOffset(name);
}
long ChunkedDevice::chunkDataOffset(const std::string& name, unsigned long* dataSize) {
    return d_->chunkDataOffset(name, dataSize);
}
void* ChunkedDevice::mapChunkData(const std::string& name, unsigned long* size) {
    return d_->mapChunkData(name, size);
}
void ChunkedDevice::unmapChunkData(void* address) {
    d_->unmapChunkData(address);
}
unsigned long ChunkedDevice::readChunkData(long pos, void* buffer, unsigned long count) {
    return d_->readChunkData(pos, buffer, count);
}
unsigned long ChunkedDevice::writeChunkData(long pos, const void* buffer, unsigned long count) {
    return d_->writeChunkData(pos, buffer, count);
}
bool ChunkedDevice::setChunkIntoMap(const std::string& name, long pos, long size) {
    return d_->setChunkIntoMap(name, pos, size);
}
bool ChunkedDevice::removeChunkFromMap(const std::string& name) {
    return d_->removeChunkFromMap(name);
}
bool ChunkedDevice::clearChunkMap() {
    return d_->clearChunkMap();
}
bool ChunkedDevice::loadChunkMap() {
    return d_->loadChunkMap();
}
bool ChunkedDevice::storeChunkMap() {
    return d_->storeChunkMap();
}
std::vector<std::string> ChunkedDevice::chunkNames() const {
    return d_->chunkNames();
}
int ChunkedDevice::chunkType(const std::string& name) const {
    return d_->chunkType(name);
}

} // namespace Zan
