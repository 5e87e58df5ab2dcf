#pragma once

#include <io/IoBaseDevice.h>

#include <string>

namespace Zan {

// Byte device over a named file: buffered stdio with 64-bit positions, and memory mapping. This is the
// library's only door to the file system for byte data.
//
// Thread safety: one thread at a time. Memory handed out by map() may be read from several threads while
// the device is not used otherwise.
class ZAN_EXPORT IoFileDevice : public IoBaseDevice {
public:
    class Impl;

    IoFileDevice();
    explicit IoFileDevice(const std::wstring& name);
    // The name is UTF-8; invalid UTF-8 throws std::range_error.
    explicit IoFileDevice(const std::string& name);
    explicit IoFileDevice(const char* name) : IoFileDevice(std::string(name)) {}
    explicit IoFileDevice(const wchar_t* name) : IoFileDevice(std::wstring(name)) {}
    // Closes the stream (silently) and releases the mappings still listed.
    ~IoFileDevice() override;

    std::wstring fileName() const;
    std::string fileNameUtf8() const;
    void setFileName(const std::wstring& name);
    void setFileName(const std::string& name);
    // The stream's file descriptor.
    int handle() const;
    // Flushes the stream; std::system_error on failure.
    int flush();
    // Status-change time of the open file as a Julian day.
    double fileCreationTime() const;

    OpenMode openMode() const override;
    bool atEnd() const override;
    // Flushes and closes the stream; a failure of either throws std::system_error (the device is closed
    // all the same).
    void close() override;
    bool open(OpenMode m) override;
    long pos() const override;
    void seek(long offset, Origin origin) override;
    long size() override;
    unsigned long readData(void* buffer, unsigned long n) override;
    unsigned long writeData(const void* buffer, unsigned long n) override;
    // Null when the system refuses the mapping or [position, position + length) is not inside the file.
    void* map(long position, unsigned long length) override;
    void unmap(void* address) override;

private:
    Impl* d() const;
};

} // namespace Zan
