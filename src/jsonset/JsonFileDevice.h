#pragma once

#include <io/IoFile.h>
#include <io/IoImageFileDevice.h>
#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace Zan {

// Image-file device of an image set described by one JSON document (the description file, ".json") whose
// frames are TIFF files: one file per frame holding every component, or one file per frame and component.
//
// The description is one object; every member is optional and members it does not know are written back
// unchanged:
//   "attributes"  the attributes document (required for every question about frames);
//   "experiment"  a non-empty array of loops; "metadata" the global metadata; "textInfo"; "rawMetadata";
//   "frames"      one object per frame: "files" (array of TIFF names, relative to the description's
//                 directory unless absolute) and "metadata" (the frame's "channels" with "time" and
//                 "position").
// What the description leaves out is answered from defaults (a time loop over all frames, one channel per
// component or one colour channel); the defaults are never written into the file. Loop indexes are
// computed from the loop counts, whatever they declare; loops that give no frame (a sequence count of 0)
// leave each stored frame entry a frame without loop indexes.
//
// The document is read on the first request after open, kept for the device's life, and rewritten whole,
// only when it holds changes, by flush, close and destruction. Opening discards what an earlier opening
// had cached. Writing it back reports failures from flush and close; the destructor stays silent.
//
// Modes of open: Read, Write (truncates; an unnamed device opens without a file), Read | Update,
// Write | Update (truncates) and Update (appends); any other throws std::logic_error. Read access is given
// by Read and Update, write access by Write, Append and Update.
//
// A frame device opens only when every file of the frame agrees with the attributes (size, bits in
// memory, components, sample type; each file of a frame stored one component per file holds one
// component): what a caller sizes from attributes() is what a frame delivers.
//
// Reads follow the frame names wherever they lead. Writes stay inside the description's folder: a frame
// file is opened for writing, and copied or moved onto, only when its name is relative, has no "..",
// leads out of the folder through no symbolic link and is no link itself; the description is not opened
// for writing, nor written back, through a symbolic link. The IoFile operations copy, move and delete a
// set with the frame files its description names; a name they may not touch is refused before anything
// is touched, so a damaged description can never make them touch a file outside its set.
//
// Thread safety: a device and the frame devices it hands out are used by one thread at a time; the IoFile
// operations share nothing and may run on any thread.
class ZAN_EXPORT JsonFileDevice : public IoImageFileDevice, public IoFile {
public:
    class Impl;
    class ImageData;
    class ImageDataN;

    // Unnamed: only Write opens it, without a file.
    JsonFileDevice();
    // The name is UTF-8; invalid UTF-8 throws std::range_error.
    explicit JsonFileDevice(const std::string& fileName);
    explicit JsonFileDevice(const char* fileName) : JsonFileDevice(std::string(fileName)) {}
    explicit JsonFileDevice(const std::wstring& fileName);
    // Not supported: std::logic_error.
    JsonFileDevice(unsigned long size, const void* data);
    explicit JsonFileDevice(std::unique_ptr<Impl> impl);
    // Closes, writing pending changes; failures are not reported here.
    ~JsonFileDevice() override;

    // True when the text from the name's last "." on is ".json" in any case; false without a ".".
    static bool isAcceptableFilename(const std::string& fileName);
    static bool isAcceptableFilename(const std::wstring& fileName);

    // ---- IoImageFileDevice. Operations that need access throw std::logic_error "JsonFileDevice: not
    // open", "... not open for reading" or "... not open for writing".

    // false when the file does not open; options and errorCode are not used. Opening an open device
    // closes it first (writing its pending changes).
    bool open(IoDevice::OpenMode mode, OpenOptions options, int* errorCode) override;
    // Writes pending changes and closes; a failed write throws std::runtime_error after closing.
    void close() override;
    IoDevice::OpenMode openMode() const override;
    std::string filename() const override;
    unsigned sequenceCount() override;
    bool sequenceIndex(const std::vector<unsigned>& loopIndexes, unsigned* sequenceIndex) override;
    // An index at or beyond sequenceCount() throws std::out_of_range.
    std::vector<unsigned> loopIndexes(unsigned sequenceIndex) override;
    std::vector<std::vector<unsigned>> allLoopIndexes() override;
    nlohmann::json rawMetadata() override;
    nlohmann::json attributes() override;
    void setAttributes(const nlohmann::json& attributes) override;
    nlohmann::json metadata() override;
    void setMetadata(const nlohmann::json& metadata) override;
    // The global metadata with the frame's stored "time" and "position" in each channel; a frame without
    // stored metadata gets times and positions derived from its loop indexes. The pointer is not used.
    nlohmann::json frameMetadata(unsigned sequenceIndex, const std::string& jsonPointer) override;
    void setFrameMetadata(unsigned sequenceIndex, const nlohmann::json& frameMetadata) override;
    nlohmann::json experiment() override;
    void setExperiment(const nlohmann::json& experiment) override;
    nlohmann::json textInfo() override;
    void setTextInfo(const nlohmann::json& textInfo) override;
    // An unopened device over the frame's file (ImageData) or its per-component files (ImageDataN). A
    // writable set names a frame without files "seq<frame>_c<component>.tif" and records the names.
    std::unique_ptr<IoImageDataDevice> imageData(unsigned sequenceIndex) override;
    // Sets hold no custom metadata: null.
    nlohmann::json customMetadata(const std::string& name) override;
    nlohmann::json customMetadata(const std::string& name, unsigned sequenceIndex) override;

    // ---- IoFile.
    bool copyFile(const std::string& from, const std::string& to, bool overwrite) const override;
    bool moveFile(const std::string& from, const std::string& to) const override;
    bool deleteFile(const std::string& name) const override;

    // ---- Beyond the interfaces.
    // The whole description document; needs read access.
    nlohmann::json contents();
    // Writes pending changes now; a failed write throws std::runtime_error.
    void flush();
    // The frame's "files", or null; needs read access. A writable device creates missing frame entries.
    nlohmann::json frameRef(unsigned sequenceIndex);
    // Stores files as the frame's "files"; needs write access.
    void setFrameRef(unsigned sequenceIndex, const nlohmann::json& files);
    // Every stored frame file name, frame after frame, as stored.
    std::vector<std::string> allFrameFilenames();

private:
    std::unique_ptr<Impl> d_;
};

} // namespace Zan
