#pragma once

#include <io/ZanExport.h>

#include <string>

namespace Zan {

// Whole-file operations of an image that spans several files (a description and the files it names). A
// device kind whose images do implements it beside IoImageFileDevice; the facade finds it by a cross-cast.
// The operations work on their arguments only, never on the file the device is bound to, and report every
// failure as false.
//
// Devices are destroyed through IoImageFileDevice, never through this interface: its destructor is
// protected and not virtual.
class ZAN_EXPORT IoFile {
public:
    // The order of these operations is the interface's layout; keep it.
    // overwrite false leaves an existing target alone (and the copy fails).
    virtual bool copyFile(const std::string& from, const std::string& to, bool overwrite) const = 0;
    virtual bool moveFile(const std::string& from, const std::string& to) const = 0;
    virtual bool deleteFile(const std::string& name) const = 0;

protected:
    IoFile() = default;
    IoFile(const IoFile&) = default;
    IoFile& operator=(const IoFile&) = default;
    ~IoFile() = default;
};

} // namespace Zan
