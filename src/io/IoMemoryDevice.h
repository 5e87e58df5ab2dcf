#pragma once

#include <io/IoBaseDevice.h>

namespace Zan {

// Byte device over fixed memory that the caller owns; it never grows, and a short write count tells the
// caller that the memory is full. Thread safety: one thread at a time.
class ZAN_EXPORT IoMemoryDevice : public IoBaseDevice {
public:
    class Impl;

    IoMemoryDevice();
    IoMemoryDevice(void* data, unsigned long size);
    ~IoMemoryDevice() override;

    void setData(void* data, unsigned long size);
    void* data();
    const void* data() const;
    // Allowed while closed.
    long size() override;
    long size() const;

    bool atEnd() const override;
    long pos() const override;
    void seek(long offset, Origin origin) override;
    unsigned long readData(void* buffer, unsigned long n) override;
    unsigned long writeData(const void* buffer, unsigned long n) override;
    void* map(long position, unsigned long length) override;
    void unmap(void* address) override;

private:
    Impl* d() const;
};

} // namespace Zan
