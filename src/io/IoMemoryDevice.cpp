#include <io/IoMemoryDevice.h>
#include <io/detail/MemoryDeviceCommon.h>

#include <algorithm>
#include <cstring>

namespace Zan {

class ZAN_HIDDEN IoMemoryDevice::Impl : public IoBaseDevice::Impl {
public:
    bool open(OpenMode m) override {
        if (mode != NotOpen)
            throw std::logic_error("already open");
        atEnd = false;
        switch (m) {
        case Read:
        case Read | Update:
        case Write:
        case Write | Update:
            position = 0;
            break;
        case Append:
        case Append | Update:
            throw std::logic_error("illegal mode");
        default:
            return false;
        }
        mode = m;
        return true;
    }

    void checkOpen() const {
        if (mode == NotOpen)
            throw std::logic_error("device is not open");
    }

    char* data = nullptr;
    bool atEnd = false;
    long size = 0;
    long position = 0;
};

IoMemoryDevice::IoMemoryDevice() : IoBaseDevice(std::make_unique<Impl>()) {}

IoMemoryDevice::IoMemoryDevice(void* data, unsigned long size) : IoMemoryDevice() {
    setData(data, size);
}

IoMemoryDevice::~IoMemoryDevice() = default;

IoMemoryDevice::Impl* IoMemoryDevice::d() const {
    return static_cast<Impl*>(baseImpl());
}

void IoMemoryDevice::setData(void* data, unsigned long size) {
    Impl* impl = d();
    impl->data = static_cast<char*>(data);
    impl->size =
        data ? static_cast<long>(std::min<unsigned long>(size, std::numeric_limits<long>::max())) : 0;
    impl->atEnd = false;
}

void* IoMemoryDevice::data() {
    return d()->data;
}
const void* IoMemoryDevice::data() const {
    return d()->data;
}
long IoMemoryDevice::size() {
    return d()->size;
}
long IoMemoryDevice::size() const {
    return d()->size;
}

bool IoMemoryDevice::atEnd() const {
    d()->checkOpen();
    return d()->atEnd;
}

long IoMemoryDevice::pos() const {
    d()->checkOpen();
    return d()->position;
}

void IoMemoryDevice::seek(long offset, Origin origin) {
    Impl* impl = d();
    impl->atEnd = false;
    impl->checkOpen();
    impl->position = detail::memorySeekTarget(impl->position, impl->size, offset, origin);
}

unsigned long IoMemoryDevice::readData(void* buffer, unsigned long n) {
    Impl* impl = d();
    impl->atEnd = false;
    if (!detail::hasReadAccess(impl->mode))
        throw std::logic_error("device is not open for read");
    return detail::memoryRead(impl->data, impl->size, impl->position, impl->atEnd, buffer, n);
}

unsigned long IoMemoryDevice::writeData(const void* buffer, unsigned long n) {
    Impl* impl = d();
    impl->atEnd = false;
    if (!detail::hasWriteAccess(impl->mode))
        throw std::logic_error("device is not open for write");
    if (impl->position >= impl->size)
        return 0;
    const unsigned long count = std::min(n, static_cast<unsigned long>(impl->size - impl->position));
    // memmove: the source may be this memory itself (a chunk copied within the device).
    if (count)
        std::memmove(impl->data + impl->position, buffer, count);
    impl->position += static_cast<long>(count);
    return count;
}

void* IoMemoryDevice::map(long position, unsigned long length) {
    Impl* impl = d();
    if (!detail::hasReadAccess(impl->mode))
        throw std::logic_error("device is not open for read");
    detail::checkMemoryMap(impl->size, position, length);
    return impl->data + position;
}

void IoMemoryDevice::unmap(void* address) {
    Impl* impl = d();
    if (!detail::hasReadAccess(impl->mode))
        throw std::logic_error("device is not open for read");
    detail::checkMemoryUnmap(impl->data, impl->size, address);
}

} // namespace Zan
