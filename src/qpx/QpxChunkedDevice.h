#pragma once

#include <io/DefaultInitAllocator.h>
#include <io/IoDevice.h>
#include <io/IoImageFileDevice.h>
#include <qpx/QpxFileDevice.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// Chunked container under a native image file: a signature and version chunk at offset 0, named chunks
// that each begin on a multiple of 4096, and a chunk map at the end that lists them by name. The device
// owns its byte device (a file or a memory buffer) and knows nothing of what the chunks hold.
//
// Nothing read from the byte device is trusted: every length, position and count is checked against the
// device's size before it is used or allocated.
//
// Thread safety: one thread at a time; every operation moves the byte device's position. Memory handed
// out by mapChunkData may be read from several threads while the device is not used otherwise. Once a
// writable file has been mapped, positioned transfers of chunk data flush the stream's buffer, so that
// they and the mappings see each other's bytes.
class ZAN_EXPORT QpxFileDevice::ChunkedDevice {
public:
    class Impl;
    // IoImageFileDevice::LoadChunkMap loads the chunk map on open (not when truncating),
    // IoImageFileDevice::StoreChunkMap stores it on close when writable. An existing file opened for
    // writing with StoreChunkMap alone has its map loaded on open too, so that the map stored on close
    // lists the file's chunks.
    using OpenOptions = IoImageFileDevice::OpenOptions;

    // Takes the byte device, not yet opened.
    explicit ChunkedDevice(std::unique_ptr<IoDevice> device);
    // No byte device: open returns false, chunk operations report "device is not open".
    ChunkedDevice();
    explicit ChunkedDevice(std::unique_ptr<Impl> impl);
    ChunkedDevice(const ChunkedDevice&) = delete;
    ChunkedDevice& operator=(const ChunkedDevice&) = delete;
    // Closes as close() does, dropping any failure, then destroys the byte device.
    virtual ~ChunkedDevice();

    bool isOpen() const;
    bool isReadible() const;
    bool isWritable() const;
    bool isTruncated() const;
    bool isSequential() const;
    bool isChunkMapOk() const;
    // The byte device. Writing through it is allowed; the chunked device then asks it for its size again.
    IoDevice* device();
    const IoDevice* device() const;
    std::array<int, 2> version() const;
    // The version written by the next open with truncation.
    void setVersion(const std::array<int, 2>& version);

    // Opens the byte device in mode. With truncation writes the signature chunk, else checks it and,
    // with LoadChunkMap, loads the chunk map. On failure returns false and stores through err (when not
    // null) QpxFileDevice::OldestFormat, BadSignature, SignatureNotWritten or ChunkMapUnreadable (the byte
    // device then stays open); a byte device that does not open leaves err alone.
    bool open(IoDevice::OpenMode mode, OpenOptions options, int* err);
    // With StoreChunkMap on a writable device whose map was loaded, or whose file this device created,
    // appends the chunk map; then closes the byte device. A failure is thrown after the byte device
    // has been closed.
    void close();

    // Position for a new chunk at the end of the file (the file is padded up to it). A chunk appended to an
    // existing file hides its map until a new one is stored: without StoreChunkMap this throws
    // std::logic_error, and when the file's map could not be loaded std::runtime_error, before anything is
    // written (a file this device created may always grow).
    long newChunk();
    // Writes a chunk at chunkStart (a multiple of 4096). A null data pointer reserves the data area.
    unsigned long writeChunk(long chunkStart, const std::string& name, const void* data, unsigned long size);
    // Appends a chunk and points the map's entry for name at it. The name must end with "!" and hold
    // no other "!" and no zero byte (std::invalid_argument otherwise).
    unsigned long storeChunk(const std::string& name, const void* data, unsigned long size);
    // True when a valid chunk stands at pos; next receives the position after it.
    bool nextChunk(long pos, long* next);
    // Reads the chunk at pos: its name and up to maxSize data bytes; returns the data bytes read.
    // A chunk that runs past the end of the device raises std::runtime_error "error reading chunk header".
    unsigned long readChunk(long pos, std::string* name, void* buffer, unsigned long maxSize);
    ByteVector readChunk(long pos, std::string* name);
    // Data of the named chunk; empty when the map has no such name.
    ByteVector loadChunk(const std::string& name);
    // As loadChunk, into the caller's vector (whose capacity is reused); false, with data emptied, when the
    // map has no such name or the chunk's header is not valid.
    bool loadChunk(const std::string& name, ByteVector& data);
    // Up to maxSize data bytes of the named chunk into buffer; returns the bytes read (0 when the map has no
    // such name). hasChunk gives the size.
    unsigned long readChunkData(const std::string& name, void* buffer, unsigned long maxSize);
    bool hasChunk(const std::string& name, long* size) const;
    // Size -1 stands for a size not yet known; it is then read from the chunk's header.
    bool hasChunkInMap(const std::string& name, long* pos, long* size);
    long chunkDataOffset(const std::string& name);
    // As above; dataSize (when not null) receives the data size that the chunk's header gives.
    long chunkDataOffset(const std::string& name, unsigned long* dataSize);
    // The named chunk's data mapped into memory (null when the name is not in the map). A memory
    // buffer's mapping points into its vector and moves when the buffer grows: release it before
    // writing further chunks.
    void* mapChunkData(const std::string& name, unsigned long* size);
    void unmapChunkData(void* address);
    // Positioned transfers at pos from the beginning; they return the byte device's count.
    unsigned long readChunkData(long pos, void* buffer, unsigned long count);
    unsigned long writeChunkData(long pos, const void* buffer, unsigned long count);
    bool setChunkIntoMap(const std::string& name, long pos, long size);
    bool removeChunkFromMap(const std::string& name);
    bool clearChunkMap();
    bool loadChunkMap();
    bool storeChunkMap();
    // Names in the map by ascending chunk position.
    std::vector<std::string> chunkNames() const;
    // 0 empty name, 2 the signature chunk, 3 the file map signature, 1 any other name.
    int chunkType(const std::string& name) const;

private:
    std::unique_ptr<Impl> d_;
};

} // namespace Zan
