#pragma once

// Where the frame names of a JSON image set lead (internal). One function decides it for the frame devices
// and for copy, move and delete alike: reads follow a name wherever it leads; whatever changes a file takes
// only names that stay inside the set's folder, and writes never go through a symbolic link.

#include <filesystem>
#include <string>

namespace Zan::detail {

enum class FrameUse {
    Read,   // the file is read: a rooted name as it is, any other beside the description
    Change, // the source of a copy or move, a file removed: the name must stay inside the set's folder
    Write,  // a file written (a frame opened for writing, the target of a copy or move): as Change, and
            // the file itself must be neither a symbolic link nor the description
};

struct FrameLocation {
    std::filesystem::path path; // where the name leads
    std::string refusal;        // why the use is refused; empty when it is allowed
    bool allowed() const { return refusal.empty(); }
};

// Where frame name of the set whose description file is description leads, and whether use may go there.
// Change and Write refuse names that are empty or rooted, contain "..", name a folder, or lead out of
// the set's folder through a symbolic link on the way.
FrameLocation locateFrame(const std::string& description, const std::string& name, FrameUse use);

// The folder of the set whose description file is description: its parent, "." when it has none.
std::filesystem::path setFolder(const std::string& description);

// Why a file may not be written at path (it is a symbolic link or a folder); empty when it may.
std::string writeRefusal(const std::filesystem::path& path);

} // namespace Zan::detail
