// Arbitrary bytes as the description of a JSON image set that is then copied, moved and deleted as a whole,
// inside a scratch tree of this process:
//   set/       the description, the frame files it names by plain file names, a link "link" to outside/
//   target/    where the set is copied and moved to
//   outside/   one file that no set may touch
// The frame names come from the input, so they decide which files the operations touch. Whatever they
// say, nothing outside set/ and target/ may change, and no operation may throw. Inputs naming a file
// beyond the scratch tree are not run (the unit tests cover those names): a fault must never reach files
// of the machine.

#include <jsonset/JsonFileDevice.h>

#include <support/FuzzScratchDir.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string victimText = "not part of any set";

struct Tree {
    fs::path root, set, target, outside, victim;

    Tree() : root(ZanTest::fuzzScratchDirectory()) {
        set = root / "set";
        target = root / "target";
        outside = root / "outside";
        victim = outside / "victim.tif";
        fs::create_directory(outside);
        std::ofstream(victim) << victimText;
    }

    // set/ and target/ as a run starts: empty but for the link.
    void reset() {
        std::error_code ignored;
        fs::remove_all(set, ignored);
        fs::remove_all(target, ignored);
        fs::create_directory(set);
        fs::create_directory(target);
        fs::create_directory_symlink(outside, set / "link");
    }

    // Only the untouchable file is outside the two directories, as it was.
    void check() const {
        std::size_t entries = 0;
        for (const auto& entry : fs::directory_iterator(root)) {
            (void)entry;
            ++entries;
        }
        std::size_t outsideEntries = 0;
        for (const auto& entry : fs::directory_iterator(outside)) {
            (void)entry;
            ++outsideEntries;
        }
        std::ifstream in(victim);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (entries != 3 || outsideEntries != 1 || text != victimText)
            std::abort();
    }
};

// True when p, with the links that exist followed, lies inside the scratch tree.
bool insideTree(const fs::path& root, const fs::path& p) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(p, error);
    if (error)
        return false;
    const fs::path inside = resolved.lexically_relative(root);
    return !inside.empty() && *inside.begin() != "..";
}

// Creates the frame files the description names by plain file names, so that the operations get past
// them. False when a name would reach beyond the scratch tree from either directory: such inputs are not
// run, so that a fault found here can never touch a file of the machine. Names that leave set/ or target/
// for another place inside the tree are run, and must be refused.
bool prepare(const Tree& tree, const std::string& description) {
    std::vector<std::string> names;
    {
        Zan::JsonFileDevice set(description);
        try {
            if (set.open(Zan::IoDevice::Read, 3, nullptr))
                names = set.allFrameFilenames();
        } catch (const std::exception&) {
            return true; // not a document: the operations must refuse it
        }
    }
    const fs::path root = fs::canonical(tree.root);
    int created = 0;
    for (const std::string& name : names) {
        if (!insideTree(root, tree.set / name) || !insideTree(root, tree.target / name))
            return false;
        const fs::path path(name);
        if (created == 16 || name.empty() || name == "." || name == ".." || name == "link" ||
            path.has_parent_path())
            continue;
        std::ofstream(tree.set / path) << name;
        ++created;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    static Tree tree;
    tree.reset();
    const std::string from = (tree.set / "set.json").string(), to = (tree.target / "set.json").string();
    std::ofstream(from, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!prepare(tree, from))
        return 0;

    // Unnamed and never opened, as the facade uses it.
    const Zan::JsonFileDevice device;
    (void)device.copyFile(from, to, false);
    (void)device.copyFile(from, to, true);
    tree.check();
    (void)device.deleteFile(to);
    tree.check();
    (void)device.moveFile(from, to);
    tree.check();
    (void)device.moveFile(to, from);
    (void)device.deleteFile(from);
    tree.check();
    return 0;
}
