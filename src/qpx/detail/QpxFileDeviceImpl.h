#pragma once

#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileDevice.h>

#include <io/Rectangle.h>
#include <metadata/detail/FrameCoordinates.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// State and behaviour of the native image-file device; the public class forwards every operation here.
// Documents and tables are derived on first demand and kept for the object's life: no operation clears a
// flag, a document or a table.
class ZAN_HIDDEN QpxFileDevice::Impl {
public:
    using json = nlohmann::json;
    using FrameTable = std::vector<std::vector<std::uint32_t>>;

    // Without a byte device the chunked device is unbound.
    explicit Impl(std::unique_ptr<IoDevice> device = nullptr);
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // The order of these operations is the implementation's layout; keep it.
    virtual ~Impl();
    virtual bool open(IoDevice::OpenMode mode, OpenOptions options, int* err);
    virtual void close();
    virtual IoDevice::OpenMode openMode() const;
    virtual std::string filename() const;
    virtual bool sequenceIndex(const std::vector<std::uint32_t>& indexes, std::uint32_t* seq);
    virtual std::vector<std::uint32_t> loopIndexes(std::uint32_t seq);
    virtual FrameTable allLoopIndexes();
    virtual json rawMatadata();
    virtual json attributes();
    virtual ByteVector customData(const std::string& name);
    virtual ByteVector customData(const std::string& name, std::uint32_t seq);
    virtual json customMetadata(const std::string& name);
    virtual json customMetadata(const std::string& name, std::uint32_t seq);
    virtual json experiment();
    virtual json frameMetadata(std::uint32_t seq, const std::string& jsonPointer);
    virtual std::unique_ptr<IoImageDataDevice> imageData(std::uint32_t seq);
    virtual json metadata();
    virtual json textInfo();
    virtual ByteVector chunkedData(const std::string& name);
    virtual void setChunkedData(const std::string& name, const ByteVector& data);
    virtual bool setRawMetadata(const json& raw);
    // Whole frames and rectangles written or summed from byte vectors (QpxFrameWrites.cpp); see the
    // public operations of the same names.
    virtual bool setImageData(const ByteVector& data, std::uint32_t seq);
    virtual bool addImageData(const ByteVector& data, std::uint32_t seq);
    virtual bool setImageDataRect(const ByteVector& data, std::uint32_t seq, const Rectangle& rect);
    virtual bool addImageDataRect(const ByteVector& data, std::uint32_t seq, const Rectangle& rect);

    // The frame device that imageData hands out, as what it is: the frame writes reach its compression, row
    // size and chunk name through it.
    std::unique_ptr<ImageData> frameDevice(std::uint32_t seq);

    // The number of frames, derived if need be (no table is built).
    std::uint32_t frameCount();

    ChunkedDevice chunked;
    bool attributesValid = false;
    bool globalMetadataValid = false;
    bool metadataValid = false;
    bool experimentValid = false;
    bool rawMetadataValid = false;
    bool textInfoValid = false;
    bool componentRangesValid = false;
    json attributesDocument;
    json globalMetadataDocument;
    json metadataDocument;
    json experimentDocument;
    json rawMetadataDocument;
    json textInfoDocument;
    // The frames and their coordinates: from the experiment's loop counts, or without loops one frame per
    // frame chunk the file stores (at least one).
    JsonMetadata::FrameCoordinates frameCoordinates;
    bool frameCoordinatesValid = false;
    // The stored acquisition times, as many as the file holds; frames beyond them have none.
    std::vector<double> frameTimes;
    bool frameTimesValid = false;
    std::vector<float> componentMinima;
    std::vector<float> componentMaxima;

private:
    void checkOpen() const;
    void checkWritable() const;
    const json& rawDocument();
    const json& attributesDoc();
    const json& textInfoDoc();
    const json& experimentDoc();
    const json& globalMetadataDoc();
    const json& metadataDoc();
    void loadFrameTimes();
    void loadComponentRanges();
    const JsonMetadata::FrameCoordinates& frames();
    // Frames of a file whose experiment has no loop: up to the highest frame chunk it stores, within its
    // attributes' sequence count when that is set.
    std::uint64_t storedFrameCount();
    void checkFrame(std::uint32_t seq, const char* operation);
    // The path of the four frame writes: the whole frame (rect null) or a rectangle, from rows rounded up
    // to the frame's line alignment or not, set or summed into what the frame holds.
    bool writeFrame(const ByteVector& data, std::uint32_t seq, const Rectangle* rect, bool alignedRows,
                    bool add, const char* operation);
};

} // namespace Zan
