// Copy, move and delete of whole JSON image sets: the description and the frame files it names.
//
// Every name is checked before any file is touched: a name from a description is trusted only to name a
// file inside the description's directory (or below it), so a damaged or hostile description can never
// make these operations copy over, move away or delete a file outside its set.

#include <jsonset/detail/JsonFileDeviceImpl.h>

#include <io/StringConversions.h>

#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

namespace Zan {

namespace {

namespace fs = std::filesystem;

// The directory a description's frame names are relative to.
fs::path setDirectory(const std::string& description) {
    const fs::path parent = fs::path(description).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// True when dir / name stays inside dir: name is relative, does not climb out, names no directory, and the
// directory that holds the file is dir itself or lies below it once symbolic links are followed.
bool confinedTo(const fs::path& dir, const fs::path& name) {
    if (name.has_root_name() || name.has_root_directory() || !name.has_filename() || *name.begin() == ".." ||
        name.filename() == "." || name.filename() == "..")
        return false;
    std::error_code error;
    // A frame is a file: a name of a directory is not one a set could have written.
    if (fs::is_directory(dir / name, error))
        return false;
    const fs::path base = fs::weakly_canonical(dir, error);
    if (error)
        return false;
    const fs::path holder = fs::weakly_canonical((dir / name).parent_path(), error);
    if (error)
        return false;
    const fs::path inside = holder.lexically_relative(base);
    return !inside.empty() && *inside.begin() != "..";
}

// The frame names of the set, each once, in stored order and normalised, without the description's own
// name; nullopt when a name leads outside the set (as seen from either directory) or the description is
// not a readable document. A description that does not open names no frames.
std::optional<std::vector<fs::path>> frameNames(const std::string& description, const std::string* target) {
    std::vector<std::string> stored;
    try {
        JsonFileDevice::Impl device(StringConversions::utf8_to_wstring(description));
        if (device.open(IoDevice::Read))
            stored = device.allFrameFilenames();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const fs::path own = fs::path(description).filename();
    std::vector<fs::path> names;
    std::set<fs::path> seen;
    for (const std::string& text : stored) {
        const fs::path name = fs::path(text).lexically_normal();
        if (!confinedTo(setDirectory(description), name) ||
            (target && !confinedTo(setDirectory(*target), name)))
            return std::nullopt;
        if (name != own && seen.insert(name).second)
            names.push_back(name);
    }
    return names;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

bool copyOne(const fs::path& from, const fs::path& to, fs::copy_options options) {
    std::error_code error;
    const bool copied = fs::copy_file(from, to, options, error);
    return copied && !error;
}

} // namespace

bool JsonFileDevice::Impl::copyFile(const std::string& from, const std::string& to, bool overwrite) const {
    const auto names = frameNames(from, &to);
    if (!names)
        return false;
    const fs::path fromDir = setDirectory(from), toDir = setDirectory(to);
    // A file cannot be copied onto itself; that is found before anything is copied.
    if (sameFile(from, to))
        return false;
    for (const fs::path& name : *names)
        if (sameFile(fromDir / name, toDir / name))
            return false;
    const auto options = overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::skip_existing;
    for (const fs::path& name : *names)
        if (!copyOne(fromDir / name, toDir / name, options))
            return false;
    return copyOne(from, to, options);
}

bool JsonFileDevice::Impl::moveFile(const std::string& from, const std::string& to) const {
    const auto names = frameNames(from, &to);
    if (!names)
        return false;
    if (sameFile(from, to))
        return true;
    const fs::path fromDir = setDirectory(from), toDir = setDirectory(to);

    // Everything is copied before anything is removed, so a move that fails leaves the source set whole.
    // Files that stay where they are (the set moves within its directory) are neither copied nor removed.
    std::vector<fs::path> moved, created;
    const auto undo = [&] {
        std::error_code ignored;
        for (const fs::path& path : created)
            fs::remove(path, ignored);
        return false;
    };
    const auto copy = [&](const fs::path& source, const fs::path& target) {
        std::error_code error;
        const bool existed = fs::exists(target, error);
        if (!copyOne(source, target, fs::copy_options::overwrite_existing))
            return false;
        moved.push_back(source);
        if (!existed)
            created.push_back(target);
        return true;
    };
    for (const fs::path& name : *names)
        if (!sameFile(fromDir / name, toDir / name) && !copy(fromDir / name, toDir / name))
            return undo();
    if (!copy(from, to))
        return undo();

    std::error_code error;
    for (const fs::path& source : moved)
        if (fs::remove(source, error), error)
            return false;
    return true;
}

bool JsonFileDevice::Impl::deleteFile(const std::string& name) const {
    const auto names = frameNames(name, nullptr);
    if (!names)
        return false;
    const fs::path dir = setDirectory(name);
    std::error_code error;
    for (const fs::path& frame : *names)
        if (fs::remove(dir / frame, error), error)
            return false;
    fs::remove(name, error);
    return !error;
}

} // namespace Zan
