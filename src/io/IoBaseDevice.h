#pragma once

#include <io/IoDevice.h>

#include <memory>

namespace Zan {

// Common base of the byte devices: keeps the open mode in an implementation object that each concrete
// device extends with its own state.
class ZAN_EXPORT IoBaseDevice : public IoDevice {
public:
    class ZAN_EXPORT Impl {
    public:
        Impl() = default;
        Impl(const Impl&) = delete;
        Impl& operator=(const Impl&) = delete;
        virtual ~Impl();
        // Sets the mode to 0.
        virtual void close();
        // Throws std::logic_error "already open" when a mode is set; else stores it.
        virtual bool open(OpenMode m);

        OpenMode mode = NotOpen;
    };

    IoBaseDevice();
    explicit IoBaseDevice(std::unique_ptr<Impl> impl);
    IoBaseDevice(const IoBaseDevice&) = delete;
    IoBaseDevice& operator=(const IoBaseDevice&) = delete;
    ~IoBaseDevice() override;

    OpenMode openMode() const override;
    void close() override;
    bool open(OpenMode m) override;

    bool isOpen() const { return openMode() != NotOpen; }
    bool isReadible() const { return (openMode() & (Read | Update)) != 0; }
    bool isWritable() const { return (openMode() & (Write | Append | Update)) != 0; }
    bool isTruncated() const { return (openMode() & Write) != 0; }
    bool isSequential() const { return false; }

    // One byte through readData; *c is 0 when nothing was read.
    bool getChar(char* c);
    bool putChar(char c);
    // Stores the mode without opening or closing anything.
    void setOpenMode(OpenMode m);

protected:
    Impl* baseImpl() const { return d_.get(); }

private:
    std::unique_ptr<Impl> d_;
};

} // namespace Zan
