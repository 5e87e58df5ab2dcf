// Where the frame names of a JSON image set lead, for reading and for changing files.

#include <jsonset/detail/JsonSetPaths.h>

#include <system_error>

namespace Zan::detail {

namespace fs = std::filesystem;

fs::path setFolder(const std::string& description) {
    const fs::path parent = fs::path(description).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

std::string writeRefusal(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (status.type() == fs::file_type::symlink)
        return "is a symbolic link";
    if (status.type() == fs::file_type::directory)
        return "is a folder";
    return {};
}

namespace {

// Why name may not be changed inside the folder of description; empty when it may.
std::string confinementRefusal(const std::string& description, const fs::path& name) {
    if (name.empty())
        return "is empty";
    if (name.has_root_name() || name.has_root_directory())
        return "is absolute";
    // Refused wherever it stands: behind a link to a folder, "a/.." is not where it seems to be.
    for (const fs::path& part : name)
        if (part == "..")
            return "climbs out of the set's folder";
    const fs::path normal = name.lexically_normal();
    if (!normal.has_filename() || normal.filename() == ".")
        return "names no file";
    const fs::path folder = setFolder(description), inFolder = folder / normal;
    std::error_code error;
    if (fs::is_directory(inFolder, error))
        return "is a folder";
    // With every link on the way followed, the file's folder must be the set's folder or lie below it.
    const fs::path base = fs::weakly_canonical(folder, error);
    if (error)
        return "cannot be resolved: " + error.message();
    const fs::path holder = fs::weakly_canonical(inFolder.parent_path(), error);
    if (error)
        return "cannot be resolved: " + error.message();
    const fs::path inside = holder.lexically_relative(base);
    if (inside.empty() || *inside.begin() == "..")
        return "leads out of the set's folder through a symbolic link";
    return {};
}

} // namespace

FrameLocation locateFrame(const std::string& description, const std::string& name, FrameUse use) {
    const fs::path frame(name);
    FrameLocation location;
    location.path = frame.has_root_directory() ? frame : fs::path(description).replace_filename(frame);
    if (use == FrameUse::Read)
        return location;
    location.refusal = confinementRefusal(description, frame);
    if (!location.refusal.empty() || use != FrameUse::Write)
        return location;
    location.refusal = writeRefusal(location.path);
    // A frame written over the description would lose the set, and the description written back the frame.
    std::error_code frameError, descriptionError;
    const fs::path file = fs::weakly_canonical(location.path, frameError),
                   own = fs::weakly_canonical(fs::path(description), descriptionError);
    if (location.refusal.empty() && !frameError && !descriptionError && file == own)
        location.refusal = "is the set's description";
    return location;
}

} // namespace Zan::detail
