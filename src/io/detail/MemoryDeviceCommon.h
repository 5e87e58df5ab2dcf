#pragma once

// Position arithmetic shared by the two memory devices (internal).

#include <io/IoDevice.h>

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>

namespace Zan {
namespace detail {

inline bool hasReadAccess(IoDevice::OpenMode mode) {
    return (mode & (IoDevice::Read | IoDevice::Update)) != 0;
}
inline bool hasWriteAccess(IoDevice::OpenMode mode) {
    return (mode & (IoDevice::Write | IoDevice::Append | IoDevice::Update)) != 0;
}

// Target of a seek; written so that no sum can overflow.
inline long memorySeekTarget(long position, long size, long offset, IoDevice::Origin origin) {
    long base;
    switch (origin) {
    case IoDevice::Begin:
        base = 0;
        break;
    case IoDevice::Current:
        base = position;
        break;
    case IoDevice::End:
        base = size;
        break;
    default:
        throw std::invalid_argument("origin is incorrect");
    }
    if (offset < -base)
        throw std::invalid_argument("pos points before origin");
    if (offset > std::numeric_limits<long>::max() - base)
        throw std::invalid_argument("IoMemoryDevice::seek: position overflows");
    return base + offset;
}

// Copies up to n bytes at position out of [data, data + size); sets atEnd when the end is hit.
inline unsigned long memoryRead(const char* data, long size, long& position, bool& atEnd, void* buffer,
                                unsigned long n) {
    if (position >= size) {
        atEnd = true;
        return 0;
    }
    const auto available = static_cast<unsigned long>(size - position);
    unsigned long count = n;
    if (n > available) {
        count = available;
        atEnd = true;
    }
    // memmove: the destination may be the device's own memory, handed out by map.
    if (count)
        std::memmove(buffer, data + position, count);
    position += static_cast<long>(count);
    return count;
}

inline void checkMemoryMap(long size, long position, unsigned long length) {
    if (position < 0 || position > size || length > static_cast<unsigned long>(size - position))
        throw std::logic_error("cannot map beyond end");
}

// Whether address lies in [data, data + size); any pointers may be compared.
inline bool liesWithin(const char* data, unsigned long size, const void* address) {
    const char* p = static_cast<const char*>(address);
    return data && size && std::less_equal<const char*>()(data, p) &&
           std::less<const char*>()(p, data + size);
}

inline void checkMemoryUnmap(const char* data, long size, const void* address) {
    if (size <= 0 || !liesWithin(data, static_cast<unsigned long>(size), address))
        throw std::logic_error("invalid address");
}

} // namespace detail
} // namespace Zan
