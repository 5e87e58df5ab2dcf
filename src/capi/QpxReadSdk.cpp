#include <capi/QpxReadSdk.h>

#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <io/IoImageFileDevice.h>
#include <legacy/VkDiagnostics.h>
#include <qpx/QpxFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Clients allocate pictures themselves: the layout must never move.
static_assert(offsetof(Zan_Picture, width) == 0 && offsetof(Zan_Picture, height) == 4 &&
              offsetof(Zan_Picture, bitsPerComponent) == 8 && offsetof(Zan_Picture, components) == 12 &&
              offsetof(Zan_Picture, widthBytes) == 16 && offsetof(Zan_Picture, size) == 24 &&
              offsetof(Zan_Picture, imageData) == 32 && sizeof(Zan_Picture) == 40);

namespace {

using nlohmann::json;
using Zan::IoImageDataDevice;
using Zan::IoImageFileDevice;

enum class Catches { Standard, Everything };

// The boundary between C callers and the class library: exceptions become the function's failure value,
// and legacy diagnostics printed on this thread meanwhile are collected and dropped (other threads print
// as before). Every exported function body is one call of this.
template <Catches catches = Catches::Standard, typename Result, typename Body>
Result boundary(Result failure, Body&& body) noexcept {
    ZanLegacy::CVkDiagnosticCapture dropped;
    if constexpr (catches == Catches::Everything) {
        try {
            return body();
        } catch (...) {
            return failure;
        }
    } else {
        try {
            return body();
        } catch (const std::exception&) {
            return failure;
        }
    }
}

// For functions without a result.
template <typename Body>
void boundary(Body&& body) noexcept {
    boundary(false, [&] {
        body();
        return true;
    });
}

IoImageFileDevice* fileDevice(Zan_FileHandle file) {
    return reinterpret_cast<IoImageFileDevice*>(file);
}

template <typename Name>
Zan_FileHandle openForRead(const Name& name) {
    std::unique_ptr<IoImageFileDevice> device;
    if (Zan::QpxFileDevice::isAcceptableFilename(name))
        device = std::make_unique<Zan::QpxFileDevice>(name);
    else if (Zan::TifFileDevice::isAcceptableFilename(name))
        device = std::make_unique<Zan::TifFileDevice>(name);
    else
        throw std::runtime_error("unrecognized file format");
    int ignoredCode = 0;
    if (!device->open(Zan::IoDevice::Read, IoImageFileDevice::LoadChunkMap | IoImageFileDevice::StoreChunkMap,
                      &ignoredCode))
        return nullptr;
    return reinterpret_cast<Zan_FileHandle>(device.release());
}

// The document as a text for Zan_FileFreeString, or null when it is not of the expected kind.
char* documentText(const json& document, json::value_t kind) {
    if (document.type() != kind)
        return nullptr;
    // Invalid UTF-8 throws rather than passing damaged text on.
    const std::string text = document.dump(2, ' ', false, json::error_handler_t::strict);
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A document getter as a C function body.
template <typename Get>
char* documentOf(Zan_FileHandle file, json::value_t kind, Get&& get) {
    return boundary(static_cast<char*>(nullptr), [&]() -> char* {
        if (!file)
            return nullptr;
        return documentText(get(*fileDevice(file)), kind);
    });
}

// The member at pointer, or null when the document has none there.
const json* memberAt(const json& document, const std::string& pointer) {
    const json::json_pointer at(pointer);
    return document.contains(at) ? &document.at(at) : nullptr;
}

// A count as an unsigned 32-bit number; 0 for anything else (a negative, fractional or oversized value
// read from a file is no count).
unsigned countOf(const json* value) {
    if (!value || !value->is_number_integer())
        return 0;
    if (value->is_number_unsigned()) {
        const auto n = value->get<std::uint64_t>();
        return n <= std::numeric_limits<unsigned>::max() ? static_cast<unsigned>(n) : 0;
    }
    const auto n = value->get<std::int64_t>();
    return n >= 0 && n <= std::numeric_limits<unsigned>::max() ? static_cast<unsigned>(n) : 0;
}

constexpr unsigned bytesPerComponent[] = {0, 1, 2, 4, 4, 8, 8, 8, 8};
constexpr unsigned maxBits = 64;

unsigned componentBytes(unsigned bits) {
    return bits <= maxBits ? bytesPerComponent[(bits + 7) / 8] : 0;
}

// A frame's geometry value as the picture's unsigned field; a value that does not fit is a damaged frame.
unsigned pictureField(long value, const char* what) {
    if (value < 0 || static_cast<unsigned long>(value) > std::numeric_limits<unsigned>::max())
        throw std::range_error(std::string("frame ") + what + " out of range: " + std::to_string(value));
    return static_cast<unsigned>(value);
}

// A picture for the frame holds rows of its packed line size: the significant bits name the depth unless
// they take another number of bytes than the stored ones, which the frame is written with.
unsigned pictureBits(const IoImageDataDevice& frame) {
    const unsigned used = pictureField(frame.bitsPerComponentUsed(), "significant bits");
    const unsigned stored = pictureField(frame.bitsPerComponentStored(), "stored bits");
    return componentBytes(used) == componentBytes(stored) ? used : stored;
}

// What a picture of the frame records.
struct FrameShape {
    unsigned width, height, bits, components;
    size_t lineBytes;     // the packed line size, aligned to 4 bytes
    size_t pixelRowBytes; // the bytes of a line's pixels, before its padding
};

FrameShape shapeOf(const IoImageDataDevice& frame) {
    FrameShape shape{pictureField(frame.width(), "width"),
                     pictureField(frame.height(), "height"),
                     pictureBits(frame),
                     pictureField(frame.channels(), "channel count"),
                     0,
                     0};
    const long lineBytes = frame.packedLineSize(4);
    const long sampleBytes = frame.bytesPerComponent();
    if (lineBytes < 1 || sampleBytes < 1)
        throw std::range_error("frame without pixel bytes");
    shape.lineBytes = static_cast<size_t>(lineBytes);
    shape.pixelRowBytes = size_t{shape.width} * shape.components * static_cast<size_t>(sampleBytes);
    return shape;
}

// True when the picture records the frame's layout and holds a buffer for all of it: a picture of another
// frame would get rows laid out with a stride it does not record.
bool recordsFrame(const Zan_Picture& picture, const FrameShape& shape) {
    size_t frameBytes = 0;
    return picture.imageData && picture.width == shape.width && picture.height == shape.height &&
           picture.components == shape.components &&
           componentBytes(picture.bitsPerComponent) == componentBytes(shape.bits) &&
           picture.widthBytes == shape.lineBytes &&
           !__builtin_mul_overflow(shape.lineBytes, size_t{shape.height}, &frameBytes) &&
           picture.size >= frameBytes;
}

// The padding at the end of each row, which frame reads do not write, is zero: every byte of a picture
// that a read filled is defined by the frame.
void clearPadding(const Zan_Picture& picture, const FrameShape& shape) {
    if (shape.pixelRowBytes >= shape.lineBytes)
        return;
    auto* rows = static_cast<unsigned char*>(picture.imageData);
    for (size_t y = 0; y < shape.height; ++y)
        std::memset(rows + y * shape.lineBytes + shape.pixelRowBytes, 0,
                    shape.lineBytes - shape.pixelRowBytes);
}

} // namespace

extern "C" {

Zan_FileHandle Zan_FileOpenForRead(const wchar_t* fileName) {
    return boundary(static_cast<Zan_FileHandle>(nullptr), [&]() -> Zan_FileHandle {
        if (!fileName)
            return nullptr;
        return openForRead(std::wstring(fileName));
    });
}

Zan_FileHandle Zan_FileOpenForReadUtf8(const char* fileName) {
    return boundary(static_cast<Zan_FileHandle>(nullptr), [&]() -> Zan_FileHandle {
        if (!fileName)
            return nullptr;
        return openForRead(std::string(fileName));
    });
}

void Zan_FileClose(Zan_FileHandle file) {
    boundary([&] { delete fileDevice(file); });
}

size_t Zan_FileGetCoordSize(Zan_FileHandle file) {
    return boundary(size_t{0}, [&]() -> size_t {
        if (!file)
            return 0;
        return fileDevice(file)->loopIndexes(0).size();
    });
}

unsigned Zan_FileGetCoordInfo(Zan_FileHandle file, unsigned coord, char* type, size_t maxTypeSize) {
    return boundary(0u, [&]() -> unsigned {
        if (!file)
            return 0;
        const json experiment = fileDevice(file)->experiment();
        const std::string loop = "/" + std::to_string(coord);
        if (type) {
            const json* name = memberAt(experiment, loop + "/type");
            if (name && name->is_string())
                std::strncpy(type, name->get_ref<const std::string&>().c_str(), maxTypeSize);
        }
        return countOf(memberAt(experiment, loop + "/count"));
    });
}

unsigned Zan_FileGetSeqCount(Zan_FileHandle file) {
    return boundary(0u, [&]() -> unsigned { return file ? fileDevice(file)->sequenceCount() : 0; });
}

int Zan_FileGetSeqIndexFromCoords(Zan_FileHandle file, const unsigned* coords, size_t coordCount,
                                  unsigned* seqIndex) {
    return boundary(0, [&]() -> int {
        if (!file || (!coords && coordCount != 0))
            return 0;
        const std::vector<unsigned> indexes(coords, coords + coordCount);
        return fileDevice(file)->sequenceIndex(indexes, seqIndex) ? 1 : 0;
    });
}

size_t Zan_FileGetCoordsFromSeqIndex(Zan_FileHandle file, unsigned seqIndex, unsigned* coords,
                                     size_t maxCount) {
    return boundary(size_t{0}, [&]() -> size_t {
        if (!file || seqIndex >= fileDevice(file)->sequenceCount())
            return 0;
        const std::vector<unsigned> indexes = fileDevice(file)->loopIndexes(seqIndex);
        if (!coords)
            return indexes.size();
        const size_t n = std::min(indexes.size(), maxCount);
        std::copy_n(indexes.begin(), n, coords);
        return n;
    });
}

char* Zan_FileGetAttributes(Zan_FileHandle file) {
    return documentOf(file, json::value_t::object, [](IoImageFileDevice& d) { return d.attributes(); });
}

char* Zan_FileGetMetadata(Zan_FileHandle file) {
    return documentOf(file, json::value_t::object, [](IoImageFileDevice& d) { return d.metadata(); });
}

char* Zan_FileGetFrameMetadata(Zan_FileHandle file, unsigned seqIndex) {
    return documentOf(file, json::value_t::object, [&](IoImageFileDevice& d) {
        return seqIndex < d.sequenceCount() ? d.frameMetadata(seqIndex, "") : json();
    });
}

char* Zan_FileGetTextinfo(Zan_FileHandle file) {
    return documentOf(file, json::value_t::object, [](IoImageFileDevice& d) { return d.textInfo(); });
}

char* Zan_FileGetExperiment(Zan_FileHandle file) {
    return documentOf(file, json::value_t::array, [](IoImageFileDevice& d) { return d.experiment(); });
}

int Zan_FileGetImageData(Zan_FileHandle file, unsigned seqIndex, Zan_Picture* picture) {
    constexpr int badArgument = -4, failed = -9;
    return boundary<Catches::Everything>(failed, [&]() -> int {
        if (!file || !picture)
            return badArgument;
        IoImageFileDevice& device = *fileDevice(file);
        if (seqIndex >= device.sequenceCount())
            return failed;
        const std::unique_ptr<IoImageDataDevice> frame = device.imageData(seqIndex);
        // The frame is opened before anything is allocated for it: a frame its file does not hold fails here.
        if (!frame || !frame->open(IoImageDataDevice::Read))
            return failed;
        // A pixel that cannot be decoded fails the call: what it reports read is the file's pixels.
        frame->setPropertyInt(IoImageDataDevice::StopOnError, 1);
        const FrameShape shape = shapeOf(*frame);
        const Zan_Picture before = *picture;
        const bool empty = !picture->imageData && picture->size == 0;
        if (empty) {
            if (Zan_InitPicture(picture, shape.width, shape.height, shape.bits, shape.components) == 0) {
                *picture = before;
                return failed;
            }
        }
        if (!recordsFrame(*picture, shape)) {
            if (empty) {
                std::free(picture->imageData);
                *picture = before;
            }
            return failed;
        }
        try {
            frame->packedImage(picture->imageData, static_cast<long>(shape.lineBytes));
        } catch (...) {
            // A picture made for this read goes with it: the caller's empty record stays empty.
            if (empty) {
                std::free(picture->imageData);
                *picture = before;
            }
            throw;
        }
        clearPadding(*picture, shape);
        return 0;
    });
}

void Zan_FileFreeString(char* text) {
    boundary([&] { delete[] text; });
}

size_t Zan_InitPicture(Zan_Picture* picture, unsigned width, unsigned height, unsigned bitsPerComponent,
                       unsigned components) {
    return boundary(size_t{0}, [&]() -> size_t {
        if (!picture)
            return 0;
        picture->width = width;
        picture->height = height;
        picture->bitsPerComponent = bitsPerComponent;
        picture->components = components;
        picture->widthBytes = calcWidthBytes(width, bitsPerComponent, components, 4);
        // A refusal leaves the record empty: no pixels, or more than a size can count, or no memory.
        picture->size = 0;
        picture->imageData = nullptr;
        size_t size = 0;
        if (__builtin_mul_overflow(picture->widthBytes, height, &size) || size == 0)
            return 0;
        // Zeroed: frame reads fill the pixels of each row, not its padding.
        picture->imageData = std::calloc(size, 1);
        if (!picture->imageData)
            return 0;
        picture->size = size;
        return size;
    });
}

void Zan_DestroyPicture(Zan_Picture* picture) {
    boundary([&] {
        if (!picture)
            return;
        std::free(picture->imageData);
        // Empty again, so that a reused record is initialised anew instead of written through freed memory.
        picture->imageData = nullptr;
        picture->size = 0;
    });
}

} // extern "C"

size_t calcWidthBytes(unsigned width, unsigned bits, unsigned components, unsigned alignment) {
    if (alignment == 0 || bits > maxBits)
        return 0;
    size_t bytes = 0;
    if (__builtin_mul_overflow(size_t{width} * componentBytes(bits), size_t{components}, &bytes) ||
        bytes > std::numeric_limits<size_t>::max() - (alignment - 1))
        return 0;
    return (bytes + alignment - 1) / alignment * alignment;
}
