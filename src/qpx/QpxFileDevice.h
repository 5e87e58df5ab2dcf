#pragma once

#include <io/DefaultInitAllocator.h>
#include <io/IoImageFileDevice.h>
#include <io/Rectangle.h>
#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// Image-file device of native chunked container files (extension ".qpx"), format versions 2 and 3. The
// container layer is QpxFileDevice::ChunkedDevice (<qpx/QpxChunkedDevice.h>), the per-frame pixel device
// QpxFileDevice::ImageData (<qpx/QpxImageData.h>).
//
// Opening reads only the signature and the chunk map. The metadata chunks are read on the first request of
// any document, turned into the JSON documents by the metadata bridge and kept for the device's life:
// across close and a later open as well, and across setRawMetadata, whose chunks only documents derived
// after it see. The getters return copies. Frames are addressed by their sequence index. Their loop indexes
// are computed from the experiment's loop counts (no table is stored, whatever the counts declare), and a
// file whose experiment has no loop presents each frame it stores, without loop indexes.
//
// Writing covers raw chunks (setChunkedData), the raw metadata of version 3 files (setRawMetadata) and
// frames (through ImageData, or set and summed whole or by rectangle from byte vectors); the five metadata
// setters of the interface refuse. Reading the metadata needs a readable device, so a file that is being
// written is opened with IoDevice::Write | IoDevice::Update.
//
// Thread safety: none inside; a device, its caches and the frame devices made from it are used by one
// thread at a time, and the frame devices must be destroyed before the device.
class ZAN_EXPORT QpxFileDevice : public IoImageFileDevice {
public:
    class ChunkedDevice;
    class ImageData;
    class Impl;

    // Codes that a failed open stores through its int* argument (the chunked device's open and the native
    // image-file device's open alike); 0 when the open succeeded.
    static constexpr int OpenSucceeded = 0;
    static constexpr int OldestFormat = 100;        // the file begins with the oldest format's JPEG 2000 box
    static constexpr int UnsupportedVersion = 101;  // a format version the device does not read
    static constexpr int BadSignature = 102;        // short, damaged or foreign signature chunk
    static constexpr int SignatureNotWritten = 103; // the signature chunk of a new file was not written whole
    static constexpr int ChunkMapUnreadable = -200; // no readable chunk map at the end; the file stays open

    // Over a named file (UTF-8 or wide), which is not touched until open.
    explicit QpxFileDevice(const std::wstring& fileName);
    explicit QpxFileDevice(const std::string& fileName);
    // Over a copy of a whole native file held in memory.
    QpxFileDevice(std::size_t size, const void* data);
    // Unbound: open returns false, everything that needs an open device throws "device is not open".
    QpxFileDevice();
    explicit QpxFileDevice(std::unique_ptr<Impl> impl);
    ~QpxFileDevice() override;

    // True when the text from the name's last "." on is ".qpx" in any case; false without a ".".
    static bool isAcceptableFilename(const std::string& fileName);
    static bool isAcceptableFilename(const std::wstring& fileName);

    // ---- IoImageFileDevice. Operations other than open, close, openMode, filename and the setters throw
    // std::logic_error "device is not open" while the device is closed.

    // Codes through err: those of ChunkedDevice::open, and UnsupportedVersion (the device is then closed).
    bool open(IoDevice::OpenMode mode, OpenOptions options, int* err) override;
    // Closes the container (which stores the chunk map first when writable and asked to); caches stay.
    void close() override;
    IoDevice::OpenMode openMode() const override;
    // The file's UTF-8 name; empty for a device over memory.
    std::string filename() const override;
    unsigned sequenceCount() override;
    bool sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) override;
    // An index at or beyond sequenceCount() throws std::out_of_range.
    std::vector<unsigned> loopIndexes(unsigned sequenceIndex) override;
    // The whole table, built on request; std::runtime_error beyond 100,000,000 frames.
    std::vector<std::vector<unsigned>> allLoopIndexes() override;
    nlohmann::json rawMetadata() override;
    nlohmann::json attributes() override;
    void setAttributes(const nlohmann::json& attributes) override;
    nlohmann::json metadata() override;
    void setMetadata(const nlohmann::json& metadata) override;
    // An index at or beyond sequenceCount() throws std::out_of_range.
    nlohmann::json frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) override;
    void setFrameMetadata(unsigned sequenceIndex, const nlohmann::json& frameMetadata) override;
    nlohmann::json experiment() override;
    void setExperiment(const nlohmann::json& experiment) override;
    nlohmann::json textInfo() override;
    void setTextInfo(const nlohmann::json& textInfo) override;
    // A closed QpxFileDevice::ImageData over the chunk "ImageDataSeq|" index "!" (which need not exist).
    // Frames of lossy compression are refused with std::runtime_error.
    std::unique_ptr<IoImageDataDevice> imageData(unsigned sequenceIndex) override;
    // The custom-metadata chunks "CustomDataVar|" name "!" and "CustomDataVarSeq|" name index "!" as JSON;
    // null when absent or unreadable. An empty name throws std::invalid_argument "name is empty".
    nlohmann::json customMetadata(const std::string& name) override;
    nlohmann::json customMetadata(const std::string& name, unsigned sequenceIndex) override;

    // ---- Beyond the interface.
    ChunkedDevice& chunkedDevice();
    const ChunkedDevice& chunkedDevice() const;
    // The data of the chunk of exactly that name; empty when there is none.
    ByteVector chunkedData(const std::string& name);
    // Appends a chunk of exactly that name (the map then points at it); empty data throws
    // std::invalid_argument "size is zero".
    void setChunkedData(const std::string& name, const ByteVector& data);
    // Stores the four metadata parts of a version 3 file as new chunks and returns true; other versions
    // write nothing and return false. Documents already derived keep their values on this device.
    bool setRawMetadata(const nlohmann::json& raw);

    // Frame writes from byte vectors of packed rows (pixel after pixel, component after component, in the
    // stored sample type). Each opens the frame device of frame seq, writes and closes it, which stores a
    // compressed frame; a failure of that store makes the operation return false. A closed device throws
    // std::logic_error "device is not open", a read-only one "device is not writable". data must hold
    // exactly the rows the operation describes, else the result is false and nothing is written.
    //
    // The whole frame: height() rows of the frame's stored row size (width() pixels rounded up to 4 bytes).
    bool setImageData(const ByteVector& data, unsigned seq);
    // Sums data into the whole frame, sample by sample: 8- and 16-bit samples wrap around, 32-bit ones are
    // added as floats. Rows as for setImageData. A frame that has no chunk yet is set instead.
    bool addImageData(const ByteVector& data, unsigned seq);
    // A rectangle: rect.height rows of rect.width pixels rounded up to 4 bytes. The part of it inside the
    // frame is written; the pixels around it keep their values. A negative size throws
    // std::invalid_argument.
    bool setImageDataRect(const ByteVector& data, unsigned seq, const Rectangle& rect);
    // Sums data into a rectangle that lies inside the frame (else std::invalid_argument): rect.height rows
    // of exactly rect.width pixels, not rounded. A frame that has no chunk yet gets the rectangle set from
    // these rows.
    bool addImageDataRect(const ByteVector& data, unsigned seq, const Rectangle& rect);

private:
    std::unique_ptr<Impl> d_;
};

} // namespace Zan
