#pragma once

#include <qpx/QpxChunkedDevice.h>

#include <map>
#include <string_view>

namespace Zan {

// State and behaviour of the chunked device; the public class forwards every operation here.
class ZAN_HIDDEN QpxFileDevice::ChunkedDevice::Impl {
public:
    // The first 16 bytes of every chunk, little-endian in the file.
    struct ChunkHeader {
        std::uint32_t magic = 0;
        std::uint32_t nameLength = 0;
        std::uint64_t dataLength = 0;
    };
    struct SVkChunkMapItem {
        long position = 0;
        long dataSize = -1; // -1 while unknown
    };

    static constexpr std::uint32_t chunkMagic = 0x0ABECEDA;
    static constexpr long chunkAlignment = 4096;
    static constexpr std::string_view fileSignature = "QPX FILE SIGNATURE CHUNK NAME01!";
    static constexpr std::string_view mapSignature = "QPX CHUNK MAP SIGNATURE 0000001!";
    static constexpr std::string_view fileMapSignature = "QPX FILEMAP SIGNATURE NAME 0001!";

    Impl() = default;
    explicit Impl(std::unique_ptr<IoDevice> device);
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    virtual ~Impl();

    bool isOpen() const;
    bool isReadible() const;
    bool isWritable() const;
    bool isTruncated() const;

    bool open(IoDevice::OpenMode mode, OpenOptions openOptions, int* err);
    void close();
    long newChunk();
    unsigned long writeChunk(long chunkStart, const std::string& name, const void* data, unsigned long size);
    unsigned long storeChunk(const std::string& name, const void* data, unsigned long size);
    bool nextChunk(long pos, long* next);
    unsigned long readChunk(long pos, std::string* name, void* buffer, unsigned long maxSize);
    ByteVector readChunk(long pos, std::string* name);
    ByteVector loadChunk(const std::string& name);
    bool loadChunk(const std::string& name, ByteVector& data);
    unsigned long readChunkData(const std::string& name, void* buffer, unsigned long maxSize);
    bool hasChunkInMap(const std::string& name, long* pos, long* size);
    long chunkDataOffset(const std::string& name, unsigned long* dataSize = nullptr);
    void* mapChunkData(const std::string& name, unsigned long* size);
    void unmapChunkData(void* address);
    unsigned long readChunkData(long pos, void* buffer, unsigned long count);
    unsigned long writeChunkData(long pos, const void* buffer, unsigned long count);
    bool setChunkIntoMap(const std::string& name, long pos, long size);
    bool removeChunkFromMap(const std::string& name);
    bool clearChunkMap();
    bool loadChunkMap();
    bool storeChunkMap();
    std::vector<std::string> chunkNames() const;
    int chunkType(const std::string& name) const;

    std::unique_ptr<IoDevice> device;
    int options = 0;
    std::map<std::string, SVkChunkMapItem> chunkMap;
    bool chunkMapOk = true;
    bool chunkMapDirty = false;
    std::array<int, 2> version{3, 0};
    // The map in memory is the file's own: loaded from it, or begun empty with a file this device
    // created. Only such a map may be stored on close, or it would hide the chunks the file lists.
    bool chunkMapOwned = false;
    // The byte device's size as this device last saw it, -1 when unknown: every chunk lookup checks
    // against it, and only writes (this device's own, or any made through device()) change it.
    long knownSize = -1;
    // A mapping of a writable file has been handed out during this open: its bytes and those that stdio
    // buffers are then kept in step (pending writes flushed, buffered reads dropped) around every
    // positioned transfer of chunk data.
    bool mappedFile = false;

private:
    enum class HeaderState { Invalid, PastEnd, Valid };
    long deviceSize();
    HeaderState readHeader(long pos, ChunkHeader& header);
    // Reads the name field of the chunk at pos into name, or skips it when name is null; the device then
    // stands at the data offset.
    void readName(long pos, const ChunkHeader& header, std::string* name);
    // Header and name of the chunk at pos, the device left at its data: false for an invalid header (name
    // cleared), "error reading chunk header" for one that runs past the end.
    bool enterChunk(long pos, std::string* name, ChunkHeader& header);
    bool readChunkInto(long pos, std::string* name, ByteVector& data);
    // Header and name of the chunk that the named map entry points at; throws when it is unreadable.
    ChunkHeader namedChunkHeader(const SVkChunkMapItem& item);
    int checkSignature();
    void writeSignature();
    void write(const void* data, unsigned long n);
    void writeZeros(unsigned long n);
    void checkOpen() const;
    void checkReadable() const;
    void checkWritable() const;
    void dropBufferedBytes();
    // With a mapped file, the data of the chunk whose header was just read are read afresh.
    void afterHeader(long pos, const ChunkHeader& header);
};

} // namespace Zan
