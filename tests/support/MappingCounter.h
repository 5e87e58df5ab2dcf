#pragma once

// A memory buffer that counts the mappings it has handed out and not yet had back, so that tests can see
// a mapping left behind. unmap of an address it did not hand out fails as the buffer's own does.

#include <io/IoMemoryBuffer.h>

#include <set>

namespace ZanTest {

class MappingCounter : public Zan::IoMemoryBuffer {
public:
    using IoMemoryBuffer::IoMemoryBuffer;

    void* map(long position, unsigned long length) override {
        void* address = IoMemoryBuffer::map(position, length);
        if (address)
            live_.insert(address);
        return address;
    }
    void unmap(void* address) override {
        IoMemoryBuffer::unmap(address);
        if (const auto it = live_.find(address); it != live_.end())
            live_.erase(it);
    }
    long liveMappings() const { return static_cast<long>(live_.size()); }

private:
    std::multiset<void*> live_;
};

} // namespace ZanTest
