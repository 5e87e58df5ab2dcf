#include <io/IoMemoryBuffer.h>
#include <io/detail/MemoryDeviceCommon.h>

#include <cstring>
#include <new>

namespace Zan {

class ZAN_HIDDEN IoMemoryBuffer::Impl : public IoBaseDevice::Impl {
public:
    bool open(OpenMode m) override {
        if (mode != NotOpen)
            throw std::logic_error("already open");
        atEnd = false;
        switch (m) {
        case Read:
        case Read | Update:
            position = 0, origin = 0;
            break;
        case Write:
        case Write | Update:
            data.clear();
            position = 0, origin = 0;
            break;
        case Append:
        case Append | Update:
            origin = static_cast<long>(data.size());
            position = 0;
            break;
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

    Vector data;
    bool atEnd = false;
    long origin = 0;
    long position = 0;
};

IoMemoryBuffer::IoMemoryBuffer() : IoBaseDevice(std::make_unique<Impl>()) {}

IoMemoryBuffer::IoMemoryBuffer(unsigned long size, const void* data) : IoMemoryBuffer() {
    setData(size, data);
}

IoMemoryBuffer::IoMemoryBuffer(Vector&& data) : IoMemoryBuffer() {
    setData(data);
}

IoMemoryBuffer::~IoMemoryBuffer() = default;

IoMemoryBuffer::Impl* IoMemoryBuffer::d() const {
    return static_cast<Impl*>(baseImpl());
}

void IoMemoryBuffer::setData(unsigned long size, const void* data) {
    Impl* impl = d();
    const char* source = static_cast<const char*>(data);
    const char* const oldData = impl->data.data();
    const unsigned long oldSize = impl->data.size();
    if (size && detail::liesWithin(oldData, oldSize, source)) {
        // A part of the buffer's own bytes: move it to the front before the buffer shrinks to it.
        const auto offset = static_cast<unsigned long>(source - oldData);
        if (size > oldSize - offset)
            throw std::invalid_argument("IoMemoryBuffer::setData: source runs past the buffer's end");
        std::memmove(impl->data.data(), source, size);
        impl->data.resize(size);
        impl->atEnd = false;
        return;
    }
    impl->data.resize(size);
    if (source && size)
        std::memcpy(impl->data.data(), source, size);
    impl->atEnd = false;
}

void IoMemoryBuffer::setData(const Vector& data) {
    d()->data = data;
    d()->atEnd = false;
}

void IoMemoryBuffer::setData(Vector&& data) {
    // Copies, as the lvalue overload does: the caller's vector keeps its bytes.
    setData(static_cast<const Vector&>(data));
}

char* IoMemoryBuffer::data() {
    return d()->data.data();
}
const char* IoMemoryBuffer::data() const {
    return d()->data.data();
}
long IoMemoryBuffer::size() {
    return static_cast<long>(d()->data.size());
}
long IoMemoryBuffer::size() const {
    return static_cast<long>(d()->data.size());
}

bool IoMemoryBuffer::atEnd() const {
    d()->checkOpen();
    return d()->atEnd;
}

long IoMemoryBuffer::pos() const {
    d()->checkOpen();
    return d()->position;
}

void IoMemoryBuffer::seek(long offset, Origin origin) {
    Impl* impl = d();
    impl->atEnd = false;
    impl->checkOpen();
    impl->position = detail::memorySeekTarget(impl->position, size(), offset, origin);
}

unsigned long IoMemoryBuffer::readData(void* buffer, unsigned long n) {
    Impl* impl = d();
    impl->atEnd = false;
    if (!detail::hasReadAccess(impl->mode))
        throw std::logic_error("device is not open for read");
    return detail::memoryRead(impl->data.data(), size(), impl->position, impl->atEnd, buffer, n);
}

unsigned long IoMemoryBuffer::writeData(const void* buffer, unsigned long n) {
    Impl* impl = d();
    impl->atEnd = false;
    if (!detail::hasWriteAccess(impl->mode))
        throw std::logic_error("device is not open for write");
    // Appending writes land at the end, as a file opened for appending does: the bytes appended
    // earlier in the same session are never overwritten.
    if (impl->mode & Append)
        impl->position = static_cast<long>(impl->data.size());
    else if (impl->position < impl->origin)
        impl->position = impl->origin;
    const auto position = static_cast<unsigned long>(impl->position);
    if (n > impl->data.max_size() || position > impl->data.max_size() - n)
        throw std::bad_alloc();
    const unsigned long end = position + n;
    const unsigned long oldSize = impl->data.size();
    // The source may be the buffer's own bytes (from map or data()), which growing moves.
    const char* source = static_cast<const char*>(buffer);
    const char* const oldData = impl->data.data();
    const bool own = n && detail::liesWithin(oldData, oldSize, source);
    const unsigned long sourceOffset = own ? static_cast<unsigned long>(source - oldData) : 0;
    if (end > oldSize) {
        impl->data.resize(end);
        // The gap between the old end and the position reads as zeros.
        if (position > oldSize)
            std::memset(impl->data.data() + oldSize, 0, position - oldSize);
        if (own)
            source = impl->data.data() + sourceOffset;
    }
    if (n)
        std::memmove(impl->data.data() + position, source, n);
    impl->position = static_cast<long>(end);
    return n;
}

void* IoMemoryBuffer::map(long position, unsigned long length) {
    Impl* impl = d();
    if (!detail::hasReadAccess(impl->mode))
        throw std::logic_error("device is not open for read");
    detail::checkMemoryMap(size(), position, length);
    return impl->data.data() + position;
}

void IoMemoryBuffer::unmap(void* address) {
    Impl* impl = d();
    if (!detail::hasReadAccess(impl->mode))
        throw std::logic_error("device is not open for read");
    detail::checkMemoryUnmap(impl->data.data(), size(), address);
}

} // namespace Zan
