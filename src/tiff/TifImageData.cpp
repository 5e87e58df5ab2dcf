// The frame image-data device of the TIFF device: cursors over the parent's format and raw reads and writes
// through its slots.

#include <tiff/detail/TifFileDeviceImpl.h>

#include <stdexcept>

namespace Zan {

namespace {

constexpr const char* illegalCall = "Illegal call";

std::string name(const char* operation) {
    return std::string("TifFileDevice::ImageData::") + operation;
}

} // namespace

TifFileDevice::ImageData::ImageData(std::weak_ptr<BaseFormat> format, unsigned seqIndex)
    : format_(std::move(format)), seqIndex_(seqIndex) {}

TifFileDevice::ImageData::~ImageData() = default;

std::shared_ptr<TifFileDevice::BaseFormat> TifFileDevice::ImageData::format() const {
    // The parent's format ends with its close; a frame device used after that must not reach it.
    auto format = format_.lock();
    if (!format)
        throw std::logic_error("TifFileDevice::ImageData: the file is closed");
    return format;
}

bool TifFileDevice::ImageData::isTiled(long* tileWidth, long* tileHeight) const {
    return format()->isTiled(tileWidth, tileHeight);
}

bool TifFileDevice::ImageData::isStriped(long* rowsPerStrip) const {
    return format()->isStriped(rowsPerStrip);
}

IoImageDataDevice::Interpretation TifFileDevice::ImageData::interpretation() const {
    return format()->interpretation();
}

IoImageDataDevice::DataFormat TifFileDevice::ImageData::dataFormat() const {
    return format()->dataFormat();
}

long TifFileDevice::ImageData::width() const {
    return format()->width();
}

long TifFileDevice::ImageData::height() const {
    return format()->height();
}

long TifFileDevice::ImageData::bitsPerComponentUsed() const {
    return format()->bitsPerComponentUsed();
}

long TifFileDevice::ImageData::bitsPerComponentStored() const {
    return format()->bitsPerComponentStored();
}

long TifFileDevice::ImageData::componentsPerPixel() const {
    return format()->componentsPerPixel();
}

long TifFileDevice::ImageData::planes() const {
    return format()->planes();
}

long TifFileDevice::ImageData::currentTileX() const {
    if (!isTiled(nullptr, nullptr))
        throw std::logic_error(illegalCall);
    return tileX_;
}

long TifFileDevice::ImageData::currentTileY() const {
    if (!isTiled(nullptr, nullptr))
        throw std::logic_error(illegalCall);
    return tileY_;
}

void TifFileDevice::ImageData::setCurrentTile(long x, long y) {
    long tileWidth = 0, tileHeight = 0;
    if (!isTiled(&tileWidth, &tileHeight))
        throw std::logic_error(illegalCall);
    tileX_ = x / tileWidth * tileWidth;
    tileY_ = y / tileHeight * tileHeight;
}

long TifFileDevice::ImageData::currentStrip() const {
    if (!isStriped(nullptr))
        throw std::logic_error(illegalCall);
    return stripRow_;
}

void TifFileDevice::ImageData::setCurrentStrip(long row) {
    long rowsPerStrip = 0;
    if (!isStriped(&rowsPerStrip))
        throw std::logic_error(illegalCall);
    stripRow_ = row / rowsPerStrip * rowsPerStrip;
}

unsigned TifFileDevice::ImageData::checkedPlane(const BaseFormat& format) const {
    if (plane_ < 0 || plane_ >= format.planes())
        throw std::invalid_argument("TifFileDevice::ImageData: plane " + std::to_string(plane_) + " of " +
                                    std::to_string(format.planes()));
    return static_cast<unsigned>(plane_);
}

// Cursors and strides become unsigned slot arguments: what would wrap is refused here.
namespace {
unsigned checkedPosition(long value, long limit, const char* what) {
    if (value < 0 || value >= limit)
        throw std::invalid_argument("TifFileDevice::ImageData: " + std::string(what) + " " +
                                    std::to_string(value) + " outside the frame's " + std::to_string(limit));
    return static_cast<unsigned>(value);
}

unsigned long checkedStride(long stride) {
    if (stride < 1)
        throw std::invalid_argument("TifFileDevice::ImageData: line stride " + std::to_string(stride));
    return static_cast<unsigned long>(stride);
}
} // namespace

std::shared_ptr<TifFileDevice::BaseFormat>
TifFileDevice::ImageData::readingFormat(const char* operation) const {
    if ((openMode() & Read) == 0)
        throw std::logic_error(name(operation) + ": not radible");
    auto f = format();
    f->setStopOnError(propertyInt(StopOnError) != 0);
    return f;
}

std::shared_ptr<TifFileDevice::BaseFormat>
TifFileDevice::ImageData::writingFormat(const char* operation) const {
    if ((openMode() & Write) == 0)
        throw std::logic_error(name(operation) + ": not writable");
    return format();
}

void TifFileDevice::ImageData::readCurrentPlane(void* dst, long stride) {
    auto f = readingFormat("readCurrentPlane");
    f->readPlane(seqIndex_, checkedPlane(*f), dst, checkedStride(stride));
}

void TifFileDevice::ImageData::readCurrentTile(void* dst, long stride) {
    auto f = readingFormat("readCurrentTile");
    if (!f->isTiled(nullptr, nullptr))
        throw std::logic_error(illegalCall);
    f->readTile(seqIndex_, checkedPlane(*f), checkedPosition(tileX_, f->width(), "column"),
                checkedPosition(tileY_, f->height(), "row"), dst, checkedStride(stride));
}

void TifFileDevice::ImageData::readCurrentStrip(void* dst, long stride) {
    auto f = readingFormat("readCurrentStrip");
    if (!f->isStriped(nullptr))
        throw std::logic_error(illegalCall);
    f->readStrip(seqIndex_, checkedPlane(*f), checkedPosition(stripRow_, f->height(), "row"), dst,
                 checkedStride(stride));
}

void TifFileDevice::ImageData::writeCurrentPlane(const void* src, long stride) {
    auto f = writingFormat("writeCurrentPlane");
    f->writePlane(seqIndex_, checkedPlane(*f), src, checkedStride(stride));
}

void TifFileDevice::ImageData::writeCurrentTile(const void* src, long stride) {
    auto f = writingFormat("writeCurrentTile");
    if (!f->isTiled(nullptr, nullptr))
        throw std::logic_error(illegalCall);
    f->writeTile(seqIndex_, checkedPlane(*f), checkedPosition(tileX_, f->width(), "column"),
                 checkedPosition(tileY_, f->height(), "row"), src, checkedStride(stride));
}

void TifFileDevice::ImageData::writeCurrentStrip(const void* src, long stride) {
    auto f = writingFormat("writeCurrentStrip");
    if (!f->isStriped(nullptr))
        throw std::logic_error(illegalCall);
    f->writeStrip(seqIndex_, checkedPlane(*f), checkedPosition(stripRow_, f->height(), "row"), src,
                  checkedStride(stride));
}

void TifFileDevice::ImageData::readCurrentPlaneRect(void*, long, const Rectangle&) {
    throw std::logic_error(name("readCurrentPlane") + ": not implemented");
}

void TifFileDevice::ImageData::writeCurrentPlaneRect(const void*, long, const Rectangle&) {
    throw std::logic_error(name("writeCurrentPlane") + ": not implemented");
}

} // namespace Zan
