#include <io/IoBaseDevice.h>

#include <stdexcept>

namespace Zan {

IoDevice::~IoDevice() = default;

IoBaseDevice::Impl::~Impl() = default;

void IoBaseDevice::Impl::close() {
    mode = NotOpen;
}

bool IoBaseDevice::Impl::open(OpenMode m) {
    if (mode != NotOpen)
        throw std::logic_error("already open");
    mode = m;
    return m != NotOpen;
}

IoBaseDevice::IoBaseDevice() : d_(std::make_unique<Impl>()) {}
IoBaseDevice::IoBaseDevice(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {
    if (!d_)
        d_ = std::make_unique<Impl>();
}
IoBaseDevice::~IoBaseDevice() = default;

IoDevice::OpenMode IoBaseDevice::openMode() const {
    return d_->mode;
}
void IoBaseDevice::close() {
    d_->close();
}
bool IoBaseDevice::open(OpenMode m) {
    return d_->open(m);
}

bool IoBaseDevice::getChar(char* c) {
    char byte = 0;
    const bool ok = readData(&byte, 1) == 1;
    if (c)
        *c = ok ? byte : 0;
    return ok;
}

bool IoBaseDevice::putChar(char c) {
    return writeData(&c, 1) == 1;
}

void IoBaseDevice::setOpenMode(OpenMode m) {
    d_->mode = m;
}

} // namespace Zan
