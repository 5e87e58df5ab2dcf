#pragma once

#include <io/ZanExport.h>

#include <cstdint>

namespace Zan {

// Abstract random-access byte device: files and memory blocks are interchangeable below the image-file
// devices. A device has no locks; one thread uses it at a time.
class ZAN_EXPORT IoDevice {
public:
    // Bit set. The accepted modes are Read, Write, Append and each of them with Update.
    using OpenMode = std::uint32_t;
    static constexpr OpenMode NotOpen = 0x0;
    static constexpr OpenMode Read = 0x1;
    static constexpr OpenMode Write = 0x2; // truncates what was there
    static constexpr OpenMode Append = 0x4;
    static constexpr OpenMode Text = 0x10; // accepted by no device
    static constexpr OpenMode Update = 0x100;

    // Values equal SEEK_SET, SEEK_CUR and SEEK_END.
    enum Origin : int { Begin = 0, Current = 1, End = 2 };

    virtual ~IoDevice();
    virtual OpenMode openMode() const = 0;
    virtual bool atEnd() const = 0;
    virtual void close() = 0;
    virtual bool open(OpenMode mode) = 0;
    virtual long pos() const = 0;
    virtual void seek(long offset, Origin origin) = 0;
    virtual long size() = 0;
    virtual unsigned long readData(void* buffer, unsigned long n) = 0;
    virtual unsigned long writeData(const void* buffer, unsigned long n) = 0;
    virtual void* map(long position, unsigned long length) = 0;
    virtual void unmap(void* address) = 0;
};

} // namespace Zan
