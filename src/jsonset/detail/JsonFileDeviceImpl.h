#pragma once

// Internals of the JSON image-set device: the implementation object with its caches and defaults, and the
// two frame image-data devices over TIFF files.

#include <jsonset/JsonFileDevice.h>

#include <imagefile/IoImageFile.h>
#include <io/DefaultInitAllocator.h>
#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <metadata/JsonExperiment.h>
#include <metadata/detail/FrameCoordinates.h>
#include <tiff/TifFileDevice.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Zan {

// The byte-device mode a frame's TIFF file is opened with: Write (create or truncate) for a frame device
// opened with its write bit, else Read.
IoDevice::OpenMode toFileOpenMode(IoImageDataDevice::OpenMode mode);

class ZAN_HIDDEN JsonFileDevice::Impl {
public:
    using json = nlohmann::json;
    using LoopIndexTable = std::vector<std::vector<unsigned>>;

    // The most components a set's frame may have: a TIFF holds at most 65535 samples per pixel, and the
    // components of a frame stored one per file name as many files.
    static constexpr std::int64_t maxComponents = 0xFFFF;

    Impl() = default;
    explicit Impl(std::wstring fileName);
    Impl(unsigned long size, const void* data);
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    // Closes; a failure to write the document back is not reported here.
    ~Impl();

    bool open(IoDevice::OpenMode mode);
    void close();
    void flush();
    IoDevice::OpenMode openMode() const { return mode_; }
    std::string filename() const;

    unsigned sequenceCount();
    bool sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* seqIndex);
    std::vector<unsigned> loopIndexes(unsigned seqIndex);
    LoopIndexTable allLoopIndexes();
    json rawMetadata();
    json attributes();
    void setAttributes(const json& value);
    json metadata();
    void setMetadata(const json& value);
    json frameMetadata(unsigned seqIndex, const std::string& jsonPointer);
    void setFrameMetadata(unsigned seqIndex, const json& value);
    json experiment();
    void setExperiment(const json& value);
    json textInfo();
    void setTextInfo(const json& value);
    std::unique_ptr<IoImageDataDevice> imageData(unsigned seqIndex);
    ByteVector customData(const std::string& name);
    ByteVector customData(const std::string& name, unsigned seqIndex);

    json contents();
    json frameRef(unsigned seqIndex);
    void setFrameRef(unsigned seqIndex, const json& files);
    std::vector<std::string> allFrameFilenames();

    bool copyFile(const std::string& from, const std::string& to, bool overwrite) const;
    bool moveFile(const std::string& from, const std::string& to) const;
    bool deleteFile(const std::string& name) const;

    // ---- Access checks: std::logic_error unless the open mode has one of the bits.
    void checkOpen() const;        // Read, Write, Append, Update
    void checkReadAccess() const;  // Read, Update
    void checkWriteAccess() const; // Write, Append, Update

    // ---- Caches. Each part is built once from the document (and defaults) and then returned from here.
    // The document: parsed on first use when a file is open for reading, else an empty object.
    json& cachedJson();
    // The "attributes" object with its missing keys filled; std::runtime_error when there is none.
    const json& cachedAttributes();
    // The stored "metadata" object, else the default built from the experiment and the attributes.
    const json& cachedGlobalMetadata();
    // The stored non-empty "experiment" array with its missing members filled, else the default.
    const json& cachedExperiment();
    // The stored "textInfo" object, else null.
    const json& cachedTextInfo();
    // The frames and their loop indexes, from the attributes and the experiment: computed from the loop
    // counts, never stored. An experiment that gives no frame (a loop of count 0, a sequence count of 0)
    // leaves one frame, without coordinates, per frame entry the description stores.
    const JsonMetadata::FrameCoordinates& cachedFrames();
    // The frame's entry inside the document. A writable device creates missing entries (as empty
    // objects) up to seqIndex, as far as the set's sequence count reaches; otherwise an index beyond the
    // entries throws std::runtime_error "JsonFileDevice: seqIndex out of range".
    json& cachedFrame(unsigned seqIndex);
    // A frame file's path: unrooted paths relative to the description file's directory.
    std::string absoluteFramePath(const std::string& path) const;

    // ---- Defaults for what a description leaves out (they read nothing but their arguments).
    // The attributes as a record, refused with std::runtime_error when the component count lies outside
    // [0, maxComponents] or the sequence count outside [0, maxFrames]: both size what the defaults build.
    static IoImageFile::Attributes countedAttributes(const json& attributes, std::uint64_t maxFrames);
    // Fills the attribute keys that are absent; the line size from the depth, components and width.
    static void fixMissingAttributes(json& attributes);
    // One time loop over every frame.
    static json defaultExperiment(const json& attributes, std::uint64_t maxFrames);
    // Gives each stored loop a nesting level and default "jsonParameters" when it has none. Loop counts
    // must lie in [0, maxFrames]. A default point list holds at most maxPoints points (the device passes
    // the frames its description stores), so a declared count alone never sizes a document.
    static void fixMissingExperiment(json& experiment, std::uint64_t maxFrames,
                                     std::uint64_t maxPoints = std::numeric_limits<std::uint64_t>::max());
    static json defaultTimeLapseLoopParameters(int count, double periodMs);
    static json defaultZStackLoopParameters(int homeIndex, double stepUm);
    static json defaultMPointLoopParameters(int count);
    // One channel per component, or one colour channel for three components.
    static json defaultGlobalMetadata(const json& attributes, const json& experiment,
                                      std::uint64_t maxFrames);
    // The frame's time and position derived from its loop indexes: {"position": {"stagePositionUm"},
    // "time": {"relativeTimeMs"}}.
    static json defaultFrameValues(const json& experiment, const std::vector<unsigned>& loopIndexes);
    // The generated name of component component of frame seqIndex in a set of sequenceCount frames of
    // componentCount components.
    static std::string frameFileName(unsigned seqIndex, std::int64_t component, std::int64_t sequenceCount,
                                     std::int64_t componentCount);

    // The most frames a set may describe; lowered by the fuzz target to keep its runs small.
    std::uint64_t maxFrames = JsonMetadata::maxFrameTableFrames;

private:
    struct Cached {
        bool loaded = false;
        json value;
    };

    void resetCaches();
    // The setters: checks write access and the value's nesting (what names it in the message), stores a
    // copy under key of the document (or of the frame's entry) and marks the document changed.
    void storePart(const char* key, const json& value, Cached& cache, const char* what);
    void storeFrameMember(unsigned seqIndex, const char* key, const json& value, const char* what);
    // The frame index beyond which a writable device refuses to create entries.
    std::uint64_t frameEntryLimit();
    // The number of entries of the description's "frames" array.
    std::uint64_t storedFrameEntries();

    std::uint32_t dirty_ = 0;
    IoDevice::OpenMode mode_ = IoDevice::NotOpen;
    std::wstring fileName_;
    std::fstream stream_;
    Cached document_;
    Cached attributes_;
    Cached metadata_;
    Cached experiment_;
    Cached textInfo_;
    bool framesLoaded_ = false;
    JsonMetadata::FrameCoordinates frames_;
};

namespace detail {

// A frame device that presents another: every geometry, cursor and pixel operation goes to the device
// that target() names. What the caller sets on this device (stop-on-error, thread count, abort flag) is
// passed on when the presented device is opened and before each pixel transfer; the getters change
// nothing.
class ZAN_HIDDEN ForwardingImageData : public IoImageDataDevice {
public:
    const void* memoryMappedPlane() const override;
    bool isTiled(long* tileWidth, long* tileHeight) const override;
    bool isStriped(long* rowsPerStrip) const override;
    Interpretation interpretation() const override;
    DataFormat dataFormat() const override;
    long width() const override;
    long height() const override;
    long bitsPerComponentUsed() const override;
    long bitsPerComponentStored() const override;
    long componentsPerPixel() const override;
    long lineAlignment() const override;
    long planes() const override;
    long currentPlane() const override;
    void setCurrentPlane(long plane) override;
    long currentTileX() const override;
    long currentTileY() const override;
    void setCurrentTile(long x, long y) override;
    long currentStrip() const override;
    void setCurrentStrip(long y) override;
    void readCurrentPlane(void* dst, long stride) override;
    void readCurrentTile(void* dst, long stride) override;
    void readCurrentStrip(void* dst, long stride) override;
    void writeCurrentPlane(const void* src, long stride) override;
    void writeCurrentTile(const void* src, long stride) override;
    void writeCurrentStrip(const void* src, long stride) override;
    void readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) override;
    void writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) override;

protected:
    // The presented device; throws when there is none to present.
    virtual IoImageDataDevice& target() const = 0;
    // Gives device this device's stop-on-error, thread count and abort flag.
    void passPropertiesTo(IoImageDataDevice& device) const;

private:
    // The presented device, with this device's properties, for a pixel transfer.
    IoImageDataDevice& transferTarget();
};

} // namespace detail

// The frame of one TIFF file: the TIFF device's frame 0, written with the set's attributes and metadata.
class ZAN_HIDDEN JsonFileDevice::ImageData : public detail::ForwardingImageData {
public:
    using json = nlohmann::json;

    // A file that a set's description names: name as stored, read where it leads and written only inside
    // the set's folder (detail::locateFrame). component: the file holds one component of its frame.
    struct SetFile {
        std::string description;
        std::string name;
        bool component = false;
    };

    // Touches no file. A frame of a set that is not open for writing does not open for writing either.
    // The file at path is read and written as named.
    ImageData(const std::string& path, const json& attributes, const json& metadata, bool writable = true);
    ImageData(const SetFile& file, const json& attributes, const json& metadata, bool writable);
    ~ImageData() override;

    // Opens the TIFF file (Write creates or truncates it and sets its attributes and metadata) and its
    // frame device. A failure returns false or throws, and leaves this device and the file closed. Write
    // throws std::logic_error when the set is not writable and std::runtime_error when the set's folder
    // does not take the file. A file whose size, depth, components or sample type differ from the
    // attributes throws std::runtime_error naming the file and both values.
    bool open(OpenMode mode) override;
    // Throws as open(Write) would for a file that may not be written; touches no file.
    void checkWritable() const;
    // Where the file is read from.
    const std::string& path() const { return path_; }
    void close() override;
    // Not supported: std::logic_error.
    void readCurrentPlaneRect(void* dst, long stride, const Rectangle& r) override;
    void writeCurrentPlaneRect(const void* src, long stride, const Rectangle& r) override;

protected:
    // The frame device of the open file; std::logic_error before a successful open.
    IoImageDataDevice& target() const override;

private:
    void closeFile() noexcept;
    void checkAgainstAttributes() const;

    std::string path_;
    std::optional<SetFile> setFile_;
    TifFileDevice file_;
    json attributes_;
    json metadata_;
    bool writable_;
    // Declared after the file: it is destroyed first, ending its use of the file.
    std::unique_ptr<IoImageDataDevice> inner_;
};

// The frame of one TIFF file per component: plane p is part p.
class ZAN_HIDDEN JsonFileDevice::ImageDataN : public detail::ForwardingImageData {
public:
    // parts must not be empty.
    explicit ImageDataN(std::vector<std::shared_ptr<ImageData>> parts);
    ~ImageDataN() override;

    // Opens every part; when one fails the parts opened before it are closed again. A write checks that
    // every part may be written before any file is opened.
    bool open(OpenMode mode) override;
    // Closes every part (the first failure is thrown after all are closed) and this device.
    void close() override;
    long planes() const override;
    long currentPlane() const override;
    // Stored as it is; operations on a plane outside the parts throw std::out_of_range.
    void setCurrentPlane(long plane) override;

protected:
    // The part of the current plane.
    IoImageDataDevice& target() const override;

private:
    long plane_ = 0;
    std::vector<std::shared_ptr<ImageData>> parts_;
};

} // namespace Zan
