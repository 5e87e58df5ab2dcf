#pragma once

#include <io/IoImageFileDevice.h>
#include <io/ZanExport.h>

#include <memory>
#include <string>
#include <vector>

namespace Zan {

// Image-file device of TIFF files (".tif", ".tiff", ".stk") over libtiff. libtiff never touches a file
// itself: it reads, writes and seeks through this device's byte device, a file device for a name or a
// memory buffer holding a copy of a memory block.
//
// Reading: a plain TIFF is one frame (its first directory) whose metadata documents are derived from its
// tags. A TIFF that carries this system's private tags is a sequence of frames, each of one or more
// directories, with the experiment, text information, metadata, acquisition times and custom data stored
// in its private blobs; it is read only. Its frames' loop indexes are computed from the experiment's loop
// counts; without loops each frame its directories hold is presented, without loop indexes. Strips and tiles of 1 to 32 bits per sample, white-is-zero,
// palettes, RGB (handed out blue, green, red in memory) and, for other photometric interpretations, libtiff's
// RGBA interface are supported; 16-bit floating-point samples are handed out as 32-bit floats, signed
// integer samples sign-extended to their byte, 16-bit or 32-bit element (reported as unsigned samples of
// which every bit of the element is significant). Writing: setAttributes (and optionally setMetadata)
// describe one frame of 8, 16 or 32 bits per sample, in strips or tiles, uncompressed or LZW; imageData(0)
// then writes its pixels. Colour pixels are taken in blue, green, red order and stored red, green, blue, so
// a written file reads back as it was written.
//
// Failures: operations other than open, openMode and filename throw std::logic_error "device is not open"
// while the device is closed; a file whose tags cannot be used throws std::runtime_error from open (the
// device then stays closed). Pixel failures (a strip or tile the file does not hold whole, one that fails
// to decode, a depth without a conversion) throw std::runtime_error when the frame device's stop-on-error
// property is set (see IoImageDataDevice::StopOnError); without it the read goes on, and every pixel it
// could not produce is zero, whatever the destination held. A failed pixel write always throws. libtiff's
// own messages are dropped for this device's handles; other users of libtiff in the process keep their
// handlers. The one process-wide trace is a libtiff tag extender, installed at the first open: it declares
// the private tags on this device's handles only and hands every handle on to the extender installed before
// it.
//
// Private-tag files: a frame beyond the file's frames, or a plane whose directory is beyond its last
// directory, throws std::out_of_range on reading; a directory that stores its pixels otherwise than the one
// the frame geometry is reported from (strips or tiles, rows per strip, compression) is read through its own
// strips or tiles, and one of another geometry (size, depth, samples, sample format, colour type, planar
// configuration) is a pixel failure that names it; blobs whose entries run past their end and plane counts
// that are no count from 0 to 65535 make open throw std::runtime_error.
//
// Thread safety: a device and the frame devices it hands out are used by one thread at a time. Frame
// devices must not be used after the device is closed or destroyed (they then throw std::logic_error).
class ZAN_EXPORT TifFileDevice : public IoImageFileDevice {
public:
    class Impl;
    struct Fields;
    class BaseFormat;
    class ZanFormat;
    class ImageData;

    // No byte device: open returns false.
    TifFileDevice();
    explicit TifFileDevice(std::unique_ptr<Impl> impl);
    explicit TifFileDevice(const std::wstring& fileName);
    // The name is UTF-8.
    explicit TifFileDevice(const std::string& fileName);
    explicit TifFileDevice(const char* fileName) : TifFileDevice(std::string(fileName)) {}
    // A copy of size bytes at data.
    TifFileDevice(unsigned long size, const void* data);
    ~TifFileDevice() override;

    // True when the name ends in ".tif", ".tiff" or ".stk" (any case) after its last "."; a name without
    // any "." is refused.
    static bool isAcceptableFilename(const std::string& fileName);
    static bool isAcceptableFilename(const std::wstring& fileName);

    // Modes Read, Write (create or truncate) and Append; any other mode, a byte device that does not open
    // or bytes that are not a TIFF return false. options and errorCode are not used.
    bool open(IoDevice::OpenMode mode, OpenOptions options, int* errorCode) override;
    // Writes a directory being written; a failure to do so throws std::runtime_error after closing.
    void close() override;
    IoDevice::OpenMode openMode() const override;
    std::string filename() const override;
    unsigned sequenceCount() override;
    bool sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) override;
    std::vector<unsigned> loopIndexes(unsigned sequenceIndex) override;
    std::vector<std::vector<unsigned>> allLoopIndexes() override;
    nlohmann::json rawMetadata() override;
    nlohmann::json attributes() override;
    // For writing: geometry, depth, tiling and compression of the frame to write. Depths other than 8, 16
    // and 32 bits (32 only for floating point) and sizes that a TIFF cannot hold throw
    // std::invalid_argument.
    void setAttributes(const nlohmann::json& attributes) override;
    nlohmann::json metadata() override;
    // For writing: a three-component frame of one channel becomes an RGB image.
    void setMetadata(const nlohmann::json& metadata) override;
    nlohmann::json frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) override;
    // Not supported: std::logic_error "TifFileDevice::setFrameMetadata not implemented".
    void setFrameMetadata(unsigned sequenceIndex, const nlohmann::json& frameMetadata) override;
    nlohmann::json experiment() override;
    // Not supported: std::logic_error "TifFileDevice::setExperiment not implemented".
    void setExperiment(const nlohmann::json& experiment) override;
    nlohmann::json textInfo() override;
    // Not supported: std::logic_error "TifFileDevice::setTextInfo not implemented".
    void setTextInfo(const nlohmann::json& textInfo) override;
    std::unique_ptr<IoImageDataDevice> imageData(unsigned sequenceIndex) override;
    nlohmann::json customMetadata(const std::string& name) override;
    nlohmann::json customMetadata(const std::string& name, unsigned sequenceIndex) override;

private:
    std::unique_ptr<Impl> d_;
};

} // namespace Zan
