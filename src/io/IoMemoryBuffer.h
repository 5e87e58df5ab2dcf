#pragma once

#include <io/DefaultInitAllocator.h>
#include <io/IoBaseDevice.h>

namespace Zan {

// Byte device over a growable buffer that it owns. Writes past the end grow it; a gap reads as zeros.
// Thread safety: one thread at a time.
class ZAN_EXPORT IoMemoryBuffer : public IoBaseDevice {
public:
    class Impl;
    using Vector = ByteVector;

    IoMemoryBuffer();
    // Holds a copy of size bytes from data (none when data is null).
    explicit IoMemoryBuffer(unsigned long size, const void* data = nullptr);
    // Holds a copy of the vector's bytes; the vector keeps them.
    explicit IoMemoryBuffer(Vector&& data);
    ~IoMemoryBuffer() override;

    void setData(unsigned long size, const void* data);
    void setData(const Vector& data);
    void setData(Vector&& data);
    char* data();
    const char* data() const;
    // Allowed while closed.
    long size() override;
    long size() const;

    bool atEnd() const override;
    long pos() const override;
    void seek(long offset, Origin origin) override;
    unsigned long readData(void* buffer, unsigned long n) override;
    unsigned long writeData(const void* buffer, unsigned long n) override;
    // Points into the buffer; valid until it grows or its data are replaced.
    void* map(long position, unsigned long length) override;
    void unmap(void* address) override;

private:
    Impl* d() const;
};

} // namespace Zan
