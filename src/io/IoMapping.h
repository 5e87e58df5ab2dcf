#pragma once

#include <io/IoDevice.h>

#include <utility>

namespace Zan {

// Owns one mapping of a byte device (an address that IoDevice::map handed out) and unmaps it when it goes,
// so that code which can throw between map and unmap cannot leave the mapping behind. Move-only; release()
// hands the address on to a caller who unmaps it. The device must outlive the holder.
//
// Thread safety: as the device's own mappings; one thread at a time owns a holder.
class IoMapping {
public:
    IoMapping() = default;
    // Takes over address, a mapping of device (null: an empty holder).
    IoMapping(IoDevice& device, void* address) noexcept
        : device_(address ? &device : nullptr), address_(address) {}
    // Maps length bytes at position; empty when the device refuses the mapping.
    static IoMapping map(IoDevice& device, long position, unsigned long length) {
        return IoMapping(device, device.map(position, length));
    }
    IoMapping(IoMapping&& other) noexcept
        : device_(std::exchange(other.device_, nullptr)), address_(std::exchange(other.address_, nullptr)) {}
    IoMapping& operator=(IoMapping&& other) noexcept {
        if (this != &other) {
            unmapQuietly();
            device_ = std::exchange(other.device_, nullptr);
            address_ = std::exchange(other.address_, nullptr);
        }
        return *this;
    }
    IoMapping(const IoMapping&) = delete;
    IoMapping& operator=(const IoMapping&) = delete;
    // A failure to unmap cannot be reported here and is dropped; call reset() to see it.
    ~IoMapping() { unmapQuietly(); }

    void* get() const { return address_; }
    IoDevice* device() const { return device_; }
    explicit operator bool() const { return address_ != nullptr; }

    // Gives up ownership: the caller now unmaps the address through the device.
    void* release() noexcept {
        device_ = nullptr;
        return std::exchange(address_, nullptr);
    }
    // Unmaps now; the device's failure (std::logic_error "invalid address", say) is thrown, and the holder
    // is empty either way.
    void reset() {
        IoDevice* device = std::exchange(device_, nullptr);
        if (void* address = std::exchange(address_, nullptr))
            device->unmap(address);
    }

private:
    void unmapQuietly() noexcept {
        try {
            reset();
        } catch (...) {
        }
    }

    IoDevice* device_ = nullptr;
    void* address_ = nullptr;
};

} // namespace Zan
