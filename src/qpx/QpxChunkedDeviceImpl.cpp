#include <qpx/detail/QpxChunkedDeviceImpl.h>

#include <io/IoFileDevice.h>
#include <io/IoMemoryBuffer.h>
#include <io/detail/LittleEndian.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace Zan {

namespace {

using Impl = QpxFileDevice::ChunkedDevice::Impl;

constexpr long headerSize = 16;
constexpr long signatureChunkSize = 112;
constexpr long trailerSize = 40;
// Room that a chunk's size arithmetic may need beyond name and data; keeps every sum below LONG_MAX.
constexpr long sizeSlack = 3 * Impl::chunkAlignment;
// A file of the oldest format begins with this JPEG 2000 signature box.
constexpr unsigned char oldestFormatBox[8] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};

long roundUp(long x) {
    return (x + Impl::chunkAlignment - 1) / Impl::chunkAlignment * Impl::chunkAlignment;
}

// Zero bytes after a name of n bytes so that a chunk with d data bytes ends on a multiple of 4096, with
// at least 20 of them. The caller has checked that n + d leaves room for the sums.
long namePadding(long n, long d) {
    const long used = n + d + 36;
    return roundUp(used) - used + 20;
}

using detail::loadLE32;
using detail::loadLE64;
using detail::storeLE32;
using detail::storeLE64;

void encodeHeader(unsigned char* p, const Impl::ChunkHeader& header) {
    storeLE32(p, header.magic);
    storeLE32(p + 4, header.nameLength);
    storeLE64(p + 8, header.dataLength);
}

[[noreturn]] void throwNotWritten() {
    throw std::runtime_error("Could not write all data");
}
[[noreturn]] void throwBadHeader() {
    throw std::runtime_error("error reading chunk header");
}

// A name that the map can list: the map text ends each name at its first "!", a name field ends at its
// first zero byte, and the map's own signature ends the list.
void checkListableName(const std::string& name) {
    if (name.empty() || name.back() != '!' || name.find('!') != name.size() - 1 ||
        name.find('\0') != std::string::npos || name == Impl::mapSignature)
        throw std::invalid_argument("chunk name \"" + name.substr(0, name.find('\0')) +
                                    "\" cannot be listed in the chunk map: it must end with \"!\" and hold "
                                    "no other \"!\" and no zero byte");
}

// Parses "Ver<major>.<minor>" as formatted extraction does, without comparing the letters or the dot.
// False when no major number can be read.
bool parseVersion(const std::string& text, std::array<int, 2>& version) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    char c = 0;
    int major = 0, minor = 0;
    if (!(in >> c >> c >> c >> major))
        return false;
    in >> c >> minor; // a missing minor number counts as 0
    version = {major, in ? minor : 0};
    return true;
}

} // namespace

Impl::Impl(std::unique_ptr<IoDevice> byteDevice) : device(std::move(byteDevice)) {}

Impl::~Impl() {
    try {
        close();
    } catch (...) {
        // A destructor cannot report; an explicit close does.
    }
}

bool Impl::isOpen() const {
    return device && device->openMode() != IoDevice::NotOpen;
}
bool Impl::isReadible() const {
    return device && (device->openMode() & (IoDevice::Read | IoDevice::Update)) != 0;
}
bool Impl::isWritable() const {
    return device && (device->openMode() & (IoDevice::Write | IoDevice::Append | IoDevice::Update)) != 0;
}
bool Impl::isTruncated() const {
    return device && (device->openMode() & IoDevice::Write) != 0;
}

void Impl::checkOpen() const {
    if (!isOpen())
        throw std::logic_error("device is not open");
}
void Impl::checkReadable() const {
    if (!isReadible())
        throw std::logic_error("device is not readible");
}
void Impl::checkWritable() const {
    if (!isWritable())
        throw std::logic_error("device is not writable");
}

long Impl::deviceSize() {
    if (knownSize < 0)
        knownSize = device->size();
    return knownSize;
}

void Impl::write(const void* data, unsigned long n) {
    knownSize = -1;
    if (device->writeData(data, n) != n)
        throwNotWritten();
}

void Impl::writeZeros(unsigned long n) {
    static const char zeros[chunkAlignment] = {};
    while (n > 0) {
        const unsigned long step = std::min<unsigned long>(n, sizeof zeros);
        write(zeros, step);
        n -= step;
    }
}

Impl::HeaderState Impl::readHeader(long pos, ChunkHeader& header) {
    const long fileSize = deviceSize();
    if (pos < 0 || pos > fileSize - headerSize)
        return HeaderState::Invalid;
    // Update mode always seeks: the stream must be positioned between a write and a read.
    if ((device->openMode() & IoDevice::Update) != 0 || device->pos() != pos)
        device->seek(pos, IoDevice::Begin);
    unsigned char raw[headerSize];
    if (device->readData(raw, headerSize) != headerSize)
        return HeaderState::Invalid;
    header = {loadLE32(raw), loadLE32(raw + 4), loadLE64(raw + 8)};
    if (header.magic != chunkMagic || header.nameLength == 0)
        return HeaderState::Invalid;
    const auto room = static_cast<std::uint64_t>(fileSize - pos - headerSize);
    if (header.nameLength > room || header.dataLength > room - header.nameLength)
        return HeaderState::PastEnd;
    return HeaderState::Valid;
}

void Impl::readName(long pos, const ChunkHeader& header, std::string* name) {
    const long dataOffset = pos + headerSize + static_cast<long>(header.nameLength);
    if (!name) {
        device->seek(dataOffset, IoDevice::Begin);
        return;
    }
    // A name is short and its padding up to 4 KiB long: read blocks up to the first zero byte, then skip
    // what is left. The header was checked against the device's size, so the field lies in the file.
    constexpr std::size_t block = 256;
    std::string field;
    std::size_t left = header.nameLength;
    while (left > 0) {
        const std::size_t at = field.size(), n = std::min(block, left);
        field.resize(at + n);
        const std::size_t got = device->readData(field.data() + at, n);
        field.resize(at + got);
        left -= got;
        if (got < n || std::memchr(field.data() + at, '\0', got))
            break;
    }
    *name = field.substr(0, field.find('\0'));
    if (left > 0)
        device->seek(dataOffset, IoDevice::Begin);
}

bool Impl::enterChunk(long pos, std::string* name, ChunkHeader& header) {
    checkReadable();
    if (name)
        name->clear();
    const HeaderState state = readHeader(pos, header);
    if (state == HeaderState::Invalid)
        return false;
    if (state == HeaderState::PastEnd)
        throwBadHeader();
    readName(pos, header, name);
    return true;
}

Impl::ChunkHeader Impl::namedChunkHeader(const SVkChunkMapItem& item) {
    ChunkHeader header;
    if (readHeader(item.position, header) != HeaderState::Valid)
        throwBadHeader();
    return header;
}

void Impl::writeSignature() {
    unsigned char chunk[signatureChunkSize] = {};
    encodeHeader(chunk, {chunkMagic, 32, 64});
    std::memcpy(chunk + headerSize, fileSignature.data(), fileSignature.size());
    const std::string text = "Ver" + std::to_string(version[0]) + "." + std::to_string(version[1]);
    std::memcpy(chunk + 48, text.data(), std::min<std::size_t>(text.size(), 64));
    write(chunk, sizeof chunk);
}

int Impl::checkSignature() {
    unsigned char chunk[signatureChunkSize] = {};
    // A device opened only for appending cannot show its signature, which then counts as missing.
    const unsigned long got = isReadible() ? device->readData(chunk, sizeof chunk) : 0;
    if (got < sizeof chunk || loadLE32(chunk) != chunkMagic)
        return got >= sizeof oldestFormatBox &&
                       std::memcmp(chunk, oldestFormatBox, sizeof oldestFormatBox) == 0
                   ? QpxFileDevice::OldestFormat
                   : QpxFileDevice::BadSignature;
    if (loadLE32(chunk + 4) != 32 || loadLE64(chunk + 8) != 64 ||
        std::memcmp(chunk + headerSize, fileSignature.data(), fileSignature.size()) != 0)
        return QpxFileDevice::BadSignature;
    const char* text = reinterpret_cast<const char*>(chunk + 48);
    std::array<int, 2> fileVersion{};
    if (!parseVersion(std::string(text, strnlen(text, 64)), fileVersion))
        return QpxFileDevice::BadSignature;
    version = fileVersion;
    return version[0] < 1 ? QpxFileDevice::BadSignature : QpxFileDevice::OpenSucceeded;
}

bool Impl::open(IoDevice::OpenMode mode, OpenOptions openOptions, int* err) {
    knownSize = -1;
    mappedFile = false;
    if (!device || !device->open(mode))
        return false;
    options = static_cast<int>(openOptions);
    chunkMapOwned = false;
    const bool truncated = (mode & IoDevice::Write) != 0;
    int code = QpxFileDevice::OpenSucceeded;
    try {
        if (truncated) {
            // A new file: whatever the map held belongs to another file.
            chunkMap.clear();
            chunkMapDirty = false;
            try {
                writeSignature();
                chunkMapOwned = true;
            } catch (const std::runtime_error&) {
                code = QpxFileDevice::SignatureNotWritten;
            }
        } else {
            if (isReadible())
                device->seek(0, IoDevice::Begin);
            code = checkSignature();
        }
    } catch (...) {
        try {
            device->close();
        } catch (...) {
        }
        throw;
    }
    if (code != QpxFileDevice::OpenSucceeded) {
        try {
            device->close();
        } catch (...) {
            // The open has failed already; its code says why.
        }
        if (err)
            *err = code;
        return false;
    }
    bool result = true;
    if (!truncated && (options & IoImageFileDevice::LoadChunkMap) != 0 && !loadChunkMap()) {
        result = false;
        code = QpxFileDevice::ChunkMapUnreadable;
    } else if (!truncated && isWritable() && isReadible() &&
               (options & IoImageFileDevice::StoreChunkMap) != 0 &&
               (options & IoImageFileDevice::LoadChunkMap) == 0) {
        // The map stored on close must list the file's chunks as well as the new ones. One that cannot be
        // read is not held, and appends are then refused.
        loadChunkMap();
    }
    if (err)
        *err = code;
    return result;
}

void Impl::close() {
    if (!device)
        return;
    std::exception_ptr failure;
    if (isWritable() && (options & IoImageFileDevice::StoreChunkMap) != 0 && chunkMapOwned) {
        try {
            if (!storeChunkMap())
                throwNotWritten();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    try {
        device->close();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

long Impl::newChunk() {
    checkWritable();
    // An existing file ends in its chunk map: a chunk appended after it hides the map, and the file opens
    // again only when a map that lists its chunks is stored behind the new ones on close.
    if (!isTruncated() && (options & IoImageFileDevice::StoreChunkMap) == 0)
        throw std::logic_error("cannot append a chunk to an existing file whose chunk map is not stored on "
                               "close (open option 2): the file would lose its map");
    if (!isTruncated() && !chunkMapOwned)
        throw std::runtime_error("cannot append a chunk to an existing file whose chunk map could not be "
                                 "read: a new map would hide its chunks");
    device->seek(0, IoDevice::End);
    const long end = deviceSize();
    const long start = roundUp(end);
    writeZeros(static_cast<unsigned long>(start - end));
    return start;
}

unsigned long Impl::writeChunk(long chunkStart, const std::string& name, const void* data,
                               unsigned long size) {
    if (size == 0)
        throw std::invalid_argument("size is zero");
    checkWritable();
    if (chunkStart < 0 || chunkStart % chunkAlignment != 0)
        throw std::logic_error("chunkStart is not properly aligned");
    // Every sum below must stay inside a signed 64-bit position and the name field inside 32 bits.
    constexpr long maxLong = std::numeric_limits<long>::max();
    const bool nameFits = name.size() <= std::numeric_limits<std::uint32_t>::max() - 2 * chunkAlignment;
    const long n = nameFits ? static_cast<long>(name.size()) : 0;
    if (!nameFits || chunkStart > maxLong - sizeSlack - n ||
        size > static_cast<unsigned long>(maxLong - sizeSlack - n - chunkStart))
        throw std::invalid_argument("chunk \"" + name + "\" of " + std::to_string(size) +
                                    " bytes does not fit in a file at " + std::to_string(chunkStart));
    const long d = static_cast<long>(size);
    const long pad = namePadding(n, d);
    if (device->pos() != chunkStart)
        device->seek(chunkStart, IoDevice::Begin);
    unsigned char header[headerSize];
    encodeHeader(header, {chunkMagic, static_cast<std::uint32_t>(n + pad), size});
    write(header, sizeof header);
    write(name.data(), name.size());
    if (data) {
        writeZeros(static_cast<unsigned long>(pad));
        write(data, size);
    } else {
        // Reserve: one zero byte at the chunk's last position makes the file reach its end.
        device->seek(pad + d - 1, IoDevice::Current);
        writeZeros(1);
    }
    // A device that appends whatever the position says has put the chunk elsewhere.
    if ((device->openMode() & IoDevice::Append) != 0 &&
        device->pos() != chunkStart + headerSize + n + pad + d)
        throwNotWritten();
    return size;
}

unsigned long Impl::storeChunk(const std::string& name, const void* data, unsigned long size) {
    if (size == 0)
        throw std::invalid_argument("size is zero");
    checkListableName(name);
    const long pos = newChunk();
    if (writeChunk(pos, name, data, size) != size)
        throwNotWritten();
    setChunkIntoMap(name, pos, static_cast<long>(size));
    return size;
}

bool Impl::nextChunk(long pos, long* next) {
    checkReadable();
    ChunkHeader header;
    if (readHeader(pos, header) != HeaderState::Valid)
        return false;
    if (next)
        *next = roundUp(pos + headerSize + static_cast<long>(header.nameLength) +
                        static_cast<long>(header.dataLength));
    return true;
}

unsigned long Impl::readChunk(long pos, std::string* name, void* buffer, unsigned long maxSize) {
    ChunkHeader header;
    if (!enterChunk(pos, name, header) || !buffer)
        return 0;
    afterHeader(pos, header);
    return device->readData(buffer, std::min<std::uint64_t>(header.dataLength, maxSize));
}

ByteVector Impl::readChunk(long pos, std::string* name) {
    ByteVector data;
    readChunkInto(pos, name, data);
    return data;
}

bool Impl::readChunkInto(long pos, std::string* name, ByteVector& data) {
    ChunkHeader header;
    if (!enterChunk(pos, name, header)) {
        data.clear();
        return false;
    }
    // A short read leaves only the bytes that came, never bytes the file did not hold.
    afterHeader(pos, header);
    data.resize(header.dataLength);
    data.resize(device->readData(data.data(), data.size()));
    return true;
}

ByteVector Impl::loadChunk(const std::string& name) {
    ByteVector data;
    loadChunk(name, data);
    return data;
}

bool Impl::loadChunk(const std::string& name, ByteVector& data) {
    long pos = 0;
    if (!hasChunkInMap(name, &pos, nullptr)) {
        data.clear();
        return false;
    }
    return readChunkInto(pos, nullptr, data);
}

unsigned long Impl::readChunkData(const std::string& name, void* buffer, unsigned long maxSize) {
    long pos = 0;
    if (!hasChunkInMap(name, &pos, nullptr))
        return 0;
    return readChunk(pos, nullptr, buffer, maxSize);
}

bool Impl::hasChunkInMap(const std::string& name, long* pos, long* size) {
    checkOpen();
    const auto it = chunkMap.find(name);
    if (it == chunkMap.end())
        return false;
    SVkChunkMapItem& item = it->second;
    if (pos)
        *pos = item.position;
    if (size) {
        ChunkHeader header;
        if (item.dataSize < 0 && isReadible() && readHeader(item.position, header) == HeaderState::Valid)
            item.dataSize = static_cast<long>(header.dataLength);
        *size = item.dataSize;
    }
    return true;
}

long Impl::chunkDataOffset(const std::string& name, unsigned long* dataSize) {
    checkOpen();
    const auto it = chunkMap.find(name);
    if (it == chunkMap.end())
        throw std::runtime_error("no such chunk");
    const ChunkHeader header = namedChunkHeader(it->second);
    if (dataSize)
        *dataSize = header.dataLength;
    return it->second.position + headerSize + static_cast<long>(header.nameLength);
}

void* Impl::mapChunkData(const std::string& name, unsigned long* size) {
    checkOpen();
    const auto it = chunkMap.find(name);
    if (it == chunkMap.end())
        return nullptr;
    const ChunkHeader header = namedChunkHeader(it->second);
    if (size)
        *size = header.dataLength;
    // Writes through the mapping go to the file's pages, which stdio's buffer does not see.
    if (isWritable() && dynamic_cast<IoFileDevice*>(device.get()))
        mappedFile = true;
    // The header was checked to lie inside the device, so the mapping does too.
    return device->map(it->second.position + headerSize + static_cast<long>(header.nameLength),
                       header.dataLength);
}

void Impl::unmapChunkData(void* address) {
    if (!device)
        throw std::logic_error("device is not open");
    device->unmap(address);
}

// Flushing a stream writes what it holds for the file and drops what it had read ahead, which may be older
// than what a mapping has written since.
void Impl::dropBufferedBytes() {
    if (mappedFile)
        static_cast<IoFileDevice*>(device.get())->flush();
}

void Impl::afterHeader(long pos, const ChunkHeader& header) {
    if (!mappedFile)
        return;
    dropBufferedBytes();
    device->seek(pos + headerSize + static_cast<long>(header.nameLength), IoDevice::Begin);
}

unsigned long Impl::readChunkData(long pos, void* buffer, unsigned long count) {
    if (!device)
        throw std::logic_error("device is not open");
    dropBufferedBytes();
    device->seek(pos, IoDevice::Begin);
    return device->readData(buffer, count);
}

unsigned long Impl::writeChunkData(long pos, const void* buffer, unsigned long count) {
    if (!device)
        throw std::logic_error("device is not open");
    knownSize = -1;
    device->seek(pos, IoDevice::Begin);
    const unsigned long written = device->writeData(buffer, count);
    // A mapping sees the bytes once they have left the stream's buffer.
    dropBufferedBytes();
    // A device that appends whatever the position says has not written at pos.
    if ((device->openMode() & IoDevice::Append) != 0 && device->pos() != pos + static_cast<long>(written))
        return 0;
    return written;
}

bool Impl::setChunkIntoMap(const std::string& name, long pos, long size) {
    checkOpen();
    checkListableName(name);
    const auto [it, inserted] = chunkMap.try_emplace(name, SVkChunkMapItem{pos, size});
    if (inserted) {
        chunkMapDirty = true;
    } else if (it->second.position != pos || it->second.dataSize != size) {
        it->second = {pos, size};
        chunkMapDirty = true;
    }
    chunkMapOk = true;
    return true;
}

bool Impl::removeChunkFromMap(const std::string& name) {
    checkOpen();
    if (chunkMap.erase(name) == 0)
        return false;
    chunkMapOk = true;
    chunkMapDirty = true;
    return true;
}

bool Impl::clearChunkMap() {
    checkOpen();
    if (!chunkMap.empty())
        chunkMapDirty = true;
    chunkMap.clear();
    chunkMapOk = true;
    return true;
}

bool Impl::loadChunkMap() {
    chunkMap.clear();
    if (!device) {
        chunkMapOk = false;
        throw std::logic_error("device is not readible");
    }
    if (isTruncated()) {
        // The file is being written anew and has no map yet.
        chunkMapOk = false;
        chunkMapDirty = false;
        chunkMapOwned = true;
        return true;
    }
    chunkMapOk = false;
    chunkMapOwned = false;
    checkReadable();

    const long fileSize = deviceSize();
    if (fileSize < trailerSize)
        return false;
    device->seek(-trailerSize, IoDevice::End);
    unsigned char trailer[trailerSize];
    if (device->readData(trailer, trailerSize) != trailerSize ||
        std::memcmp(trailer, mapSignature.data(), mapSignature.size()) != 0)
        return false;
    const std::uint64_t mapPosition = loadLE64(trailer + mapSignature.size());
    if (mapPosition > static_cast<std::uint64_t>(fileSize))
        return false;
    ChunkHeader header;
    if (readHeader(static_cast<long>(mapPosition), header) != HeaderState::Valid)
        return false;
    std::string name;
    readName(static_cast<long>(mapPosition), header, &name);
    ByteVector data(header.dataLength);
    if (device->readData(data.data(), data.size()) != data.size() || name.empty() || data.empty())
        return false;

    // Entries: name up to and including its "!", then position and size, signed 64-bit each.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t end = data.size();
    std::size_t at = 0;
    while (at < end) {
        const void* bang = std::memchr(bytes + at, '!', end - at);
        if (!bang)
            break;
        const std::size_t nameEnd = static_cast<const unsigned char*>(bang) - bytes + 1;
        std::string entry(data.data() + at, nameEnd - at);
        if (entry == mapSignature || end - nameEnd < 16)
            break;
        SVkChunkMapItem item{static_cast<long>(loadLE64(bytes + nameEnd)),
                             static_cast<long>(loadLE64(bytes + nameEnd + 8))};
        if (item.position == item.dataSize)
            item.dataSize = -1;
        // An entry must point at a header inside the file, and a known size must fit behind it.
        if (item.position < 0 || item.position > fileSize - headerSize || item.dataSize < -1 ||
            item.dataSize > fileSize - item.position - headerSize) {
            chunkMap.clear();
            return false;
        }
        chunkMap.try_emplace(std::move(entry), item); // the first entry of a name wins
        at = nameEnd + 16;
    }
    chunkMapOk = true;
    chunkMapDirty = false;
    chunkMapOwned = true;
    return true;
}

bool Impl::storeChunkMap() {
    chunkMapOk = false;
    checkWritable();
    device->seek(0, IoDevice::End);
    const long end = deviceSize();
    const long mapPosition = roundUp(end);
    writeZeros(static_cast<unsigned long>(mapPosition - end));

    IoMemoryBuffer buffer(64 * chunkMap.size());
    if (!buffer.open(IoDevice::Write))
        throw std::runtime_error("could not open memory buffer");
    unsigned char number[8];
    auto put = [&buffer](const void* p, unsigned long n) {
        if (buffer.writeData(p, n) != n)
            throwNotWritten();
    };
    auto putSignature = [&] {
        put(mapSignature.data(), mapSignature.size());
        storeLE64(number, static_cast<std::uint64_t>(mapPosition));
        put(number, sizeof number);
    };
    for (auto it = chunkMap.rbegin(); it != chunkMap.rend(); ++it) {
        put(it->first.data(), it->first.size());
        storeLE64(number, static_cast<std::uint64_t>(it->second.position));
        put(number, sizeof number);
        // An unknown size is written as the position, which is how the map marks it.
        storeLE64(number, static_cast<std::uint64_t>(it->second.dataSize < 0 ? it->second.position
                                                                             : it->second.dataSize));
        put(number, sizeof number);
    }
    putSignature();
    const long used = buffer.size() + 108;
    const long padding = roundUp(used) - used;
    std::vector<char> zeros(static_cast<std::size_t>(padding), '\0');
    put(zeros.data(), zeros.size());
    putSignature();

    const auto size = static_cast<unsigned long>(buffer.size());
    if (writeChunk(mapPosition, std::string(mapSignature), buffer.data(), size) == size) {
        chunkMapOk = true;
        chunkMapDirty = false;
    }
    return chunkMapOk;
}

std::vector<std::string> Impl::chunkNames() const {
    checkOpen();
    std::vector<std::pair<long, const std::string*>> byPosition;
    byPosition.reserve(chunkMap.size());
    for (const auto& [name, item] : chunkMap)
        byPosition.emplace_back(item.position, &name);
    // Stable: names that share a position keep their byte-wise order.
    std::stable_sort(byPosition.begin(), byPosition.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    names.reserve(byPosition.size());
    for (const auto& entry : byPosition)
        names.push_back(*entry.second);
    return names;
}

int Impl::chunkType(const std::string& name) const {
    if (name.empty())
        return 0;
    if (name == fileSignature)
        return 2;
    if (name == fileMapSignature)
        return 3;
    return 1;
}

} // namespace Zan
