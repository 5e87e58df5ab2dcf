#pragma once

// The read-only format of TIFF files that carry this system's private tags: frames of one or more
// consecutive directories (component planes), and named blobs holding the experiment, the text
// information, the global metadata, the acquisition times and any further custom data.

#include <tiff/detail/TifFileDeviceImpl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// The private tags. The blob tags take 32-bit counts: with 16-bit ones libtiff drops a blob of more than
// 65,535 bytes.
enum TifPrivateTag : std::uint32_t {
    ZanAcqTimeTag = 65325,
    ZanCalibrationTag = 65326,
    ZanAspectTag = 65327,
    ZanCompPlanesTag = 65328,
    ZanPositionTag = 65329,
    ZanDataTag = 65330,
    ZanDataSeqTag = 65331,
    ZanVariantTag = 65332,
    ZanVariantSeqTag = 65333,
};

class ZAN_HIDDEN TifFileDevice::ZanFormat : public TifFileDevice::BaseFormat {
public:
    // Bytes [offset, offset + size) of a blob; always inside it.
    struct ValueRange {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
    };
    // A named entry blob: u32 entry count, then per entry u32 name length n, n UTF-16LE units, u32 size,
    // u32 offset from the blob's first byte. A name keeps the low byte of each unit; of two entries of the
    // same name the first is kept.
    using NamedEntries = std::map<std::string, ValueRange>;
    // A per-sequence blob: u32 entry count, then per entry u32 n, the name, u32 item count k and k items of
    // {u32 sequence index, u32 size, u32 offset}. Repeated names and repeated indexes keep the first.
    using SequenceEntries = std::map<std::string, std::map<std::uint32_t, ValueRange>>;

    // Makes libtiff keep the private tags of every directory read through this device's handles (a tag
    // extender installed once per process, which chains to whatever extender was there before and
    // registers the tags only on handles over a byte device of ours).
    static void RegisterCustomTags();

    // The format of a file with private blobs, read only; null for a writable handle or a file without
    // blobs (then the handle's current directory is the first). Throws std::runtime_error for tags that
    // cannot be used: a missing required tag, a plane count that is not a number from 0 to 65,535, a blob
    // whose entries run past its end.
    static std::unique_ptr<ZanFormat> create(TIFF* tif);

    // The blobs are taken as read from the directory that holds them, which is the handle's current one.
    // directoryCount is the number of directories of the file's frames (the blobs are in the last), or 0
    // when they differ in size from the first (the blobs are in the first, the only one read).
    ZanFormat(TIFF* tif, std::uint16_t directoryCount, std::uint16_t compPlanes, ByteVector data,
              ByteVector variant, ByteVector dataSeq, ByteVector variantSeq);
    ~ZanFormat() override;

    // The blob parsers; std::runtime_error names the blob (tag) and entry whose layout runs past its end.
    static NamedEntries parseNamedEntries(const ByteVector& blob, const char* tag);
    static SequenceEntries parseSequenceEntries(const ByteVector& blob, const char* tag);

    long planes() const override;
    // Frame seqIndex, plane p: the directory compPlanes * seqIndex + p / (planes of one directory), its
    // sample plane p % (planes of one directory). A frame, plane or directory beyond the file throws
    // std::out_of_range; a directory of another geometry than the one reported is a reported failure (zeros
    // when the read goes on), one that stores its pixels otherwise is read through its own strips or tiles.
    void readPlane(unsigned seqIndex, unsigned plane, void* dst, unsigned long stride) override;
    void readTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y, void* dst,
                  unsigned long stride) override;
    void readStrip(unsigned seqIndex, unsigned plane, unsigned row, void* dst, unsigned long stride) override;
    // Always std::logic_error: the format is read only.
    void writePlane(unsigned seqIndex, unsigned plane, const void* src, unsigned long stride) override;
    void writeTile(unsigned seqIndex, unsigned plane, unsigned x, unsigned y, const void* src,
                   unsigned long stride) override;
    void writeStrip(unsigned seqIndex, unsigned plane, unsigned row, const void* src,
                    unsigned long stride) override;
    // From the experiment's loop counts; without loops, one frame per group of component-plane
    // directories the file stores.
    const JsonMetadata::FrameCoordinates& frameCoordinates() override;
    json attributes() override;
    ByteVector customData(const std::string& name) override;
    ByteVector customData(const std::string& name, unsigned seqIndex) override;
    json customMetadata(const std::string& name) override;
    json customMetadata(const std::string& name, unsigned seqIndex) override;
    json experiment() override;
    json frameMetadata(unsigned seqIndex, const std::string& jsonPointer) override;
    json metadata() override;
    json rawMetadata() override;
    json textInfo() override;

    std::uint16_t frameCount() const { return frames; }
    std::uint16_t componentPlanes() const { return compPlanes; }

private:
    // The bytes of one of the four blobs.
    struct Blob {
        ByteVector bytes;
        ByteVector value(const ValueRange& range) const;
    };

    // Selects the directory of frame seqIndex, plane `plane`, and takes its fields for decoding; returns the
    // sample plane to read from it, or -1 after a reported failure (a directory that cannot be read or is of
    // another geometry).
    int selectDirectory(unsigned seqIndex, unsigned plane);
    // The decoded entry of a named blob: binary variants (lite) or XML variants; null when absent.
    json namedDocument(const std::string& name) const;

    const json& cachedRawMetadata();
    const json& cachedAttributes();
    const json& cachedExperiment();
    const json& cachedTextInfo();
    const json& cachedGlobalMetadata();
    const json& cachedMetadata();
    const std::vector<double>& cachedFrameTimes();

    static constexpr std::uint32_t noDirectory = 0xFFFFFFFF;

    std::uint16_t compPlanes;
    // Frames the directories hold (at least one).
    std::uint16_t frames;
    bool coordinatesValid = false;
    // The directory libtiff has loaded, noDirectory after a failed selection.
    std::uint32_t loadedDirectory = noDirectory;
    Blob data, variant, dataSeq, variantSeq;
    NamedEntries dataEntries, variantEntries;
    SequenceEntries dataSeqEntries, variantSeqEntries;

    // A document derived on first request and kept; a failed derivation is tried again next time.
    struct Cached {
        bool valid = false;
        json value;
    };
    Cached rawDoc, attributesDoc, experimentDoc, textInfoDoc, globalDoc, metadataDoc;
    std::vector<double> frameTimes;
};

// True when the handle works on a byte device through this system's client procedures.
bool isDeviceHandle(TIFF* tif);

} // namespace Zan
