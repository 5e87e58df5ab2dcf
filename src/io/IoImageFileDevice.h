#pragma once

#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// One image file (or image set) of any format: the native container, TIFF and JSON-described sets implement
// it; the facade and the C interface work through it. It maps sequence indexes to indexes in the nested
// experiment loops, hands the metadata documents out and takes them in as JSON values, and creates the
// per-frame image-data devices.
//
// Sequence indexes, counts and loop indexes are unsigned 32-bit. Loop index i belongs to element i of the
// experiment document's array of loops. Getters return copies; a device may load documents on first request
// and cache them, which is why they are not const.
//
// Failures: operations that need an open device throw std::logic_error while it is closed; an operation that
// a format does not support throws a standard exception with that format's message. A sequence index at or
// beyond sequenceCount() is the caller's error.
//
// Thread safety: a device and the image-data devices made from it are used by one thread at a time.
class ZAN_EXPORT IoImageFileDevice {
public:
    // Bit set given to open; formats without a table of chunks ignore it.
    using OpenOptions = std::uint32_t;
    static constexpr OpenOptions LoadChunkMap = 0x1;  // when opening, unless the mode truncates
    static constexpr OpenOptions StoreChunkMap = 0x2; // when closing a device opened for writing

    IoImageFileDevice() = default;
    IoImageFileDevice(const IoImageFileDevice&) = delete;
    IoImageFileDevice& operator=(const IoImageFileDevice&) = delete;

    // The order of these operations is the interface's layout; keep it.
    // Releases the device and whatever it owns (byte device, caches).
    virtual ~IoImageFileDevice();
    // mode is a byte-device mode (Read; Write to create or truncate; Update and Append where the format
    // supports them). Returns false on failure and may leave a format-specific reason in *errorCode when it
    // is not null. Opening an open device throws std::logic_error.
    virtual bool open(IoDevice::OpenMode mode, OpenOptions options, int* errorCode) = 0;
    virtual void close() = 0;
    // 0 while closed.
    virtual IoDevice::OpenMode openMode() const = 0;
    // UTF-8; empty when the device works on memory.
    virtual std::string filename() const = 0;
    virtual unsigned sequenceCount() = 0;
    // True, with *sequenceIndex set, when the loop indexes name a frame.
    virtual bool sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) = 0;
    virtual std::vector<unsigned> loopIndexes(unsigned sequenceIndex) = 0;
    // Loop indexes of every frame, in sequence order.
    virtual std::vector<std::vector<unsigned>> allLoopIndexes() = 0;
    virtual nlohmann::json rawMetadata() = 0;
    virtual nlohmann::json attributes() = 0;
    virtual void setAttributes(const nlohmann::json& attributes) = 0;
    virtual nlohmann::json metadata() = 0;
    virtual void setMetadata(const nlohmann::json& metadata) = 0;
    // The frame's document, or the part of it that the JSON pointer selects; an empty pointer selects all.
    virtual nlohmann::json frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) = 0;
    virtual void setFrameMetadata(unsigned sequenceIndex, const nlohmann::json& frameMetadata) = 0;
    // An array of loops.
    virtual nlohmann::json experiment() = 0;
    virtual void setExperiment(const nlohmann::json& experiment) = 0;
    virtual nlohmann::json textInfo() = 0;
    virtual void setTextInfo(const nlohmann::json& textInfo) = 0;
    // The frame's pixel device, owned by the caller, who opens it with its own mode. It reads and writes
    // through this device, so it must not outlive it.
    virtual std::unique_ptr<IoImageDataDevice> imageData(unsigned sequenceIndex) = 0;
    // Named custom data of the file, and of one frame.
    virtual nlohmann::json customMetadata(const std::string& name) = 0;
    virtual nlohmann::json customMetadata(const std::string& name, unsigned sequenceIndex) = 0;
};

} // namespace Zan
