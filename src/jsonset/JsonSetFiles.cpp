// Copy, move and delete of whole JSON image sets: the description and the frame files it names.
//
// Every name is checked before any file is touched: a name from a description is trusted only to name a
// file inside the description's directory (or below it), so a damaged or hostile description can never
// make these operations copy over, move away or delete a file outside its set. No file is written through
// a symbolic link: a link at a target is refused, when the names are checked and again just before the
// copy.

#include <jsonset/detail/JsonFileDeviceImpl.h>
#include <jsonset/detail/JsonSetPaths.h>

#include <io/StringConversions.h>

#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

namespace Zan {

namespace {

namespace fs = std::filesystem;
using detail::FrameUse;
using detail::locateFrame;

// A frame file of the set and, for a copy or move, where it goes.
struct SetFile {
    fs::path source, target;
};

// The frame files of the set, each once, in stored order, without the description itself; nullopt when a
// name may not be changed in the set's folder (or, given a target description, written in the target's)
// or the description is not a readable document. A description that does not open names no frames.
std::optional<std::vector<SetFile>> frameFiles(const std::string& description, const std::string* target) {
    std::vector<std::string> stored;
    try {
        JsonFileDevice::Impl device(StringConversions::utf8_to_wstring(description));
        if (device.open(IoDevice::Read))
            stored = device.allFrameFilenames();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const fs::path own = fs::path(description).filename();
    std::vector<SetFile> files;
    std::set<fs::path> seen;
    for (const std::string& text : stored) {
        const auto source = locateFrame(description, text, FrameUse::Change);
        if (!source.allowed())
            return std::nullopt;
        // The description goes with the set anyway, and after its frames.
        const fs::path name = fs::path(text).lexically_normal();
        if (name == own || !seen.insert(name).second)
            continue;
        SetFile file{source.path, {}};
        if (target) {
            const auto written = locateFrame(*target, text, FrameUse::Write);
            if (!written.allowed())
                return std::nullopt;
            file.target = written.path;
        }
        files.push_back(std::move(file));
    }
    return files;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

bool writable(const fs::path& target) {
    return detail::writeRefusal(target).empty();
}

bool copyOne(const fs::path& from, const fs::path& to, fs::copy_options options) {
    // Looked at again just before the write: a link planted since the names were checked is not followed.
    if (!writable(to))
        return false;
    std::error_code error;
    const bool copied = fs::copy_file(from, to, options, error);
    return copied && !error;
}

} // namespace

bool JsonFileDevice::Impl::copyFile(const std::string& from, const std::string& to, bool overwrite) const {
    const auto files = frameFiles(from, &to);
    if (!files || !writable(to))
        return false;
    // A file cannot be copied onto itself; that is found before anything is copied.
    if (sameFile(from, to))
        return false;
    for (const SetFile& file : *files)
        if (sameFile(file.source, file.target))
            return false;
    const auto options = overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::skip_existing;
    for (const SetFile& file : *files)
        if (!copyOne(file.source, file.target, options))
            return false;
    return copyOne(from, to, options);
}

bool JsonFileDevice::Impl::moveFile(const std::string& from, const std::string& to) const {
    const auto files = frameFiles(from, &to);
    if (!files)
        return false;
    if (sameFile(from, to))
        return true;
    if (!writable(to))
        return false;

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
    for (const SetFile& file : *files)
        if (!sameFile(file.source, file.target) && !copy(file.source, file.target))
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
    const auto files = frameFiles(name, nullptr);
    if (!files)
        return false;
    std::error_code error;
    for (const SetFile& file : *files)
        if (fs::remove(file.source, error), error)
            return false;
    fs::remove(name, error);
    return !error;
}

} // namespace Zan
