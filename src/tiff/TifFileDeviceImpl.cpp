#include <tiff/detail/TifFileDeviceImpl.h>
#include <tiff/detail/TifZanFormat.h>

#include <io/IoBaseDevice.h>
#include <io/IoFileDevice.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <stdexcept>

namespace Zan {

namespace {

// Client procedures: libtiff reaches the byte device only through these. They run inside libtiff's C
// frames, so no exception may leave them: a failure becomes the result libtiff tests for.
IoDevice* deviceOf(thandle_t handle) {
    return static_cast<IoDevice*>(handle);
}

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size) {
    if (size <= 0)
        return 0;
    try {
        return static_cast<tmsize_t>(deviceOf(handle)->readData(buffer, static_cast<unsigned long>(size)));
    } catch (...) {
        return -1;
    }
}

tmsize_t writeProc(thandle_t handle, void* buffer, tmsize_t size) {
    if (size <= 0)
        return 0;
    try {
        return static_cast<tmsize_t>(deviceOf(handle)->writeData(buffer, static_cast<unsigned long>(size)));
    } catch (...) {
        return -1;
    }
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    // Offsets come from the file: one that does not fit a signed position is refused, not wrapped.
    if (offset > static_cast<toff_t>(LONG_MAX) || whence < 0 || whence > 2)
        return static_cast<toff_t>(-1);
    try {
        IoDevice* device = deviceOf(handle);
        device->seek(static_cast<long>(offset), static_cast<IoDevice::Origin>(whence));
        const long pos = device->pos();
        return pos < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(pos);
    } catch (...) {
        return static_cast<toff_t>(-1);
    }
}

// The owner closes the byte device after TIFFClose, where its failures can be reported.
int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    try {
        const long size = deviceOf(handle)->size();
        return size < 0 ? 0 : static_cast<toff_t>(size);
    } catch (...) {
        return 0;
    }
}

// The mode string asks libtiff not to map; should it ask anyway, there is no mapping.
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages for our handles are dropped here; returning non-zero keeps them from the process-wide
// handlers too.
int dropMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Opens a libtiff handle over the byte device with message handlers of its own.
TIFF* openHandle(IoDevice* device, const char* mode) {
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), dropMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), dropMessage, nullptr);
    // No count a file declares (of a tag's values, of strips) makes libtiff allocate more than one strip or
    // tile may take.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                        static_cast<tmsize_t>(TifFileDevice::BaseFormat::maxBlockBytes));
    return TIFFClientOpenExt("", mode, device, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                             unmapProc, options.get());
}

void closeQuietly(IoDevice& device) {
    try {
        device.close();
    } catch (...) {
    }
}

} // namespace

bool isDeviceHandle(TIFF* tif) {
    return TIFFGetReadProc(tif) == readProc;
}

TifFileDevice::Impl::Impl(std::unique_ptr<IoDevice> d) : device(std::move(d)) {}

TifFileDevice::Impl::~Impl() {
    formatObject.reset();
    tif.reset();
    if (device && device->openMode() != IoDevice::NotOpen)
        closeQuietly(*device);
}

bool TifFileDevice::Impl::open(IoDevice::OpenMode mode) {
    if (!device)
        return false;
    if (formatObject)
        throw std::logic_error("already open");
    // libtiff reads back what it writes (a second directory is linked to the first through the file), and
    // appending means reading the directories already there: both need a byte device open for reading too.
    // Append itself must not be the byte device's mode, or every write would land at the end of the file.
    const char* tiffMode = nullptr;
    IoDevice::OpenMode byteMode = mode;
    switch (mode) {
    case IoDevice::Read:
        tiffMode = "rm";
        break;
    case IoDevice::Write:
        tiffMode = "wm";
        byteMode = IoDevice::Write | IoDevice::Update;
        break;
    case IoDevice::Append:
        tiffMode = "am";
        byteMode = IoDevice::Read | IoDevice::Update;
        break;
    default:
        return false;
    }
    if (!device->open(byteMode))
        return false;
    ZanFormat::RegisterCustomTags();
    TiffHandle handle(openHandle(device.get(), tiffMode));
    if (!handle) {
        closeQuietly(*device);
        return false;
    }
    // A format that cannot be made leaves nothing open behind it.
    try {
        // A file with the private blobs is read as their frames; any other as a plain TIFF.
        formatObject = ZanFormat::create(handle.get());
        if (!formatObject)
            formatObject = BaseFormat::create(handle.get());
    } catch (...) {
        handle.reset();
        closeQuietly(*device);
        throw;
    }
    tif = std::move(handle);
    openedMode = mode;
    return true;
}

void TifFileDevice::Impl::close() {
    format();
    const auto* base = dynamic_cast<const IoBaseDevice*>(device.get());
    const bool writable = base && base->isWritable();
    // TIFFClose writes the directory being written but cannot report a failure; a flush first can.
    const bool flushed = !writable || TIFFFlush(tif.get()) == 1;
    formatObject.reset();
    tif.reset();
    openedMode = IoDevice::NotOpen;
    device->close();
    if (!flushed)
        throw std::runtime_error("TifFileDevice::close: the directory could not be written");
}

IoDevice::OpenMode TifFileDevice::Impl::openMode() const {
    return formatObject ? openedMode : IoDevice::NotOpen;
}

std::string TifFileDevice::Impl::filename() const {
    if (const auto* file = dynamic_cast<const IoFileDevice*>(device.get()))
        return file->fileNameUtf8();
    return {};
}

TifFileDevice::BaseFormat& TifFileDevice::Impl::format() const {
    if (!formatObject)
        throw std::logic_error("device is not open");
    return *formatObject;
}

unsigned TifFileDevice::Impl::sequenceCount() {
    return static_cast<unsigned>(format().frameCoordinates().frameCount());
}

bool TifFileDevice::Impl::sequenceIndex(const std::vector<unsigned>& coords, unsigned* seqIndex) {
    std::uint64_t frame = 0;
    if (!format().frameCoordinates().frameOf(coords, &frame))
        return false;
    if (seqIndex)
        *seqIndex = static_cast<unsigned>(frame);
    return true;
}

std::vector<unsigned> TifFileDevice::Impl::loopIndexes(unsigned seqIndex) {
    const JsonMetadata::FrameCoordinates& frames = format().frameCoordinates();
    if (seqIndex >= frames.frameCount())
        throw std::out_of_range("TifFileDevice::loopIndexes: sequence index " + std::to_string(seqIndex) +
                                " of " + std::to_string(frames.frameCount()) + " frames");
    return frames.coordinates(seqIndex);
}

std::vector<std::vector<unsigned>> TifFileDevice::Impl::allLoopIndexes() {
    std::vector<std::vector<unsigned>> table;
    format().frameCoordinates().fillTable(table);
    return table;
}

std::unique_ptr<IoImageDataDevice> TifFileDevice::Impl::imageData(unsigned seqIndex) {
    format().applyPendingTags();
    return std::make_unique<ImageData>(formatObject, seqIndex);
}

ByteVector TifFileDevice::Impl::customData(const std::string& name) {
    return format().customData(name);
}

ByteVector TifFileDevice::Impl::customData(const std::string& name, unsigned seqIndex) {
    return format().customData(name, seqIndex);
}

} // namespace Zan
