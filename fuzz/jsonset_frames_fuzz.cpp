// Random small JSON image sets, written into a fresh folder, read through the facade and written through
// the set, inside a scratch tree of this process:
//   set/       the set: its description and the TIFF files the input makes (with our TIFF writer), and
//              links: L to outside/victim.txt, D to outside/, I to set/sub/, F to outside/shared.tif
//   outside/   victim.txt, which no write may touch, and shared.tif, a TIFF that reads may reach
// Frame names are built from a small alphabet ("a.tif", "sub", "..", "/", the links, ...). Each file named
// gets a TIFF that agrees with the set or differs in one property, bytes that are no TIFF, or nothing.
// Checked: a frame reads back exactly when every file agrees with the set, and then with each file's own
// pixels (two reads into buffers prefilled differently give the same bytes); a frame written through the
// set reads back as written; nothing outside set/ changes. Inputs whose names would reach beyond the
// scratch tree are not run: a fault must never reach files of the machine.
//
// Input bytes: width, height, depth (bits 8/16/32, components 1-3, float), frames and links, then per
// frame a file count and per file its name tokens and content, then whether to write.

#include <imagefile/IoImageFile.h>
#include <jsonset/JsonFileDevice.h>

#include <support/FuzzBytes.h>
#include <support/FuzzRequire.h>
#include <support/FuzzScratchDir.h>
#include <support/JsonSets.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ZanTest::FrameFile;
using ZanTest::fuzzRequire;

const FrameFile shared{3, 2, 8, 1, false, 0, 99};
const char* const victimText = "not part of any set";

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Tree {
    fs::path root, set, outside;
    std::map<fs::path, std::string> snapshot; // everything outside set/, with its bytes or link target

    Tree() : root(fs::canonical(ZanTest::fuzzScratchDirectory())) {
        set = root / "set";
        outside = root / "outside";
        fs::create_directory(outside);
        std::ofstream(outside / "victim.txt") << victimText;
        ZanTest::writeFrameFile((outside / "shared.tif").string(), shared);
        snapshot = take();
    }

    std::map<fs::path, std::string> take() const {
        std::map<fs::path, std::string> entries;
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
             ++it) {
            if (it->path() == set) {
                it.disable_recursion_pending();
                continue;
            }
            entries[it->path()] = it->is_symlink()        ? "link " + fs::read_symlink(it->path()).string()
                                  : it->is_regular_file() ? fileBytes(it->path())
                                                          : "folder";
        }
        return entries;
    }

    void reset(unsigned links) const {
        std::error_code ignored;
        fs::remove_all(set, ignored);
        fs::create_directories(set / "sub");
        if (links & 1)
            fs::create_symlink(outside / "victim.txt", set / "L");
        if (links & 2)
            fs::create_directory_symlink(outside, set / "D");
        if (links & 4)
            fs::create_directory_symlink(set / "sub", set / "I");
        if (links & 8)
            fs::create_symlink(outside / "shared.tif", set / "F");
    }

    // Nothing outside set/ changed, and nothing was added there.
    void check() const { fuzzRequire(take() == snapshot); }
};

// p with the links that exist followed, or nullopt when that leads beyond the scratch tree.
std::optional<fs::path> resolved(const fs::path& root, const fs::path& p) {
    std::error_code error;
    const fs::path r = fs::weakly_canonical(p, error);
    if (error)
        return std::nullopt;
    const fs::path inside = r.lexically_relative(root);
    if (inside.empty() || *inside.begin() == "..")
        return std::nullopt;
    return r;
}

bool inside(const fs::path& folder, const fs::path& p) {
    const fs::path rest = p.lexically_relative(folder);
    return !rest.empty() && *rest.begin() != "..";
}

const char* const alphabet[] = {"a.tif", "b.tif", "sub",     "..",         "/",          "L", "D",
                                "I",     "F",     "outside", "shared.tif", "victim.txt", ".", "c.tif"};

std::string nameFrom(ZanTest::FuzzBytes& in, const fs::path& root) {
    const long tokens = in.range(1, 3);
    std::string name;
    for (long t = 0; t < tokens; ++t) {
        const std::string token = alphabet[in.next() % std::size(alphabet)];
        // A leading "/" roots the name at the scratch tree, never at the machine's root.
        if (t == 0 && token == "/")
            name = root.string();
        else
            name += (t == 0 ? "" : "/") + token;
    }
    return name;
}

struct Frame {
    std::vector<std::string> names;
};

bool sameGeometry(const FrameFile& a, const FrameFile& b) {
    return a.width == b.width && a.height == b.height && a.bits == b.bits && a.components == b.components &&
           a.isFloat == b.isFloat;
}

// Reads frame f into two buffers prefilled differently; the bytes when both reads succeed alike.
template <typename Set>
std::optional<std::vector<char>> readFrame(Set& set, unsigned f, long stride, long height) {
    std::vector<char> first(static_cast<std::size_t>(stride * height), 0), second(first.size(), '\xFF');
    try {
        for (std::vector<char>* buffer : {&first, &second}) {
            const auto frame = set.imageData(f);
            if (!frame->open(Zan::IoImageDataDevice::Read))
                return std::nullopt;
            frame->packedImage(buffer->data(), stride);
            frame->close();
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    fuzzRequire(first == second);
    return first;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 512)
        return 0;
    static const Tree tree;
    ZanTest::FuzzBytes in(data, size);

    // The set.
    FrameFile set{in.range(1, 20), in.range(1, 20), 8, 1};
    const unsigned depth = in.next();
    set.bits = (depth % 3 == 0) ? 8 : (depth % 3 == 1 ? 16 : 32);
    set.components = 1 + static_cast<long>(depth / 3 % 3);
    set.isFloat = set.bits == 32 && depth / 9 % 2 == 1;
    const unsigned layout = in.next();
    const long frameCount = 1 + static_cast<long>(layout % 3);
    tree.reset(layout >> 2);
    const fs::path root = tree.root, description = tree.set / "set.json";

    // The frames' files, written as the input says; the model keeps what each file holds.
    std::map<fs::path, FrameFile> written{{tree.outside / "shared.tif", shared}};
    std::vector<Frame> frames(static_cast<std::size_t>(frameCount));
    for (Frame& frame : frames) {
        const unsigned count = in.next();
        const long files = count % 4 == 0   ? 1
                           : count % 4 == 1 ? set.components
                                            : static_cast<long>(count / 4 % 5);
        for (long i = 0; i < files; ++i) {
            const std::string name = nameFrom(in, root);
            const fs::path path = fs::path(name).is_absolute() ? fs::path(name) : tree.set / name;
            const auto target = resolved(root, path);
            if (!target)
                return 0;
            frame.names.push_back(name);
            const unsigned content = in.next();
            if (!inside(tree.set, *target) || content % 16 == 15)
                continue; // nothing written: whatever is there stays
            FrameFile file = set;
            file.components = files == 1 ? set.components : 1;
            file.seed = static_cast<long>(content);
            switch (content % 16) {
            case 8:
                file.width += 1;
                break;
            case 9:
                file.height = file.height > 1 ? file.height - 1 : 2;
                break;
            case 10:
                file.bits = file.bits == 8 ? 16 : 8, file.isFloat = false;
                break;
            case 11:
                file.components = file.components % 3 + 1;
                break;
            case 12:
                file.bits = 32, file.isFloat = !set.isFloat;
                break;
            default:
                break;
            }
            bool tiff = false;
            if (content % 16 == 13 || content % 16 == 14) {
                std::ofstream(path) << "no TIFF here";
            } else {
                try {
                    ZanTest::writeFrameFile(path.string(), file);
                    tiff = true;
                } catch (const std::exception&) {
                    // A name the file system does not take (a folder on the way that is a file, say).
                }
            }
            // A path the file system cannot follow changed nothing.
            std::error_code error;
            if (fs::is_regular_file(path, error)) {
                written.erase(*target);
                if (tiff)
                    written[*target] = file;
            }
        }
    }
    {
        Zan::JsonFileDevice writer(description.string());
        fuzzRequire(writer.open(Zan::IoDevice::Write, 3, nullptr));
        nlohmann::json attributes = ZanTest::frameFileAttributes(set);
        attributes["sequenceCount"] = frameCount;
        writer.setAttributes(attributes);
        for (std::size_t f = 0; f < frames.size(); ++f)
            writer.setFrameRef(static_cast<unsigned>(f), frames[f].names);
        writer.close();
    }

    // Every frame reads back exactly when each of its files agrees with the set.
    const long bytes = set.bits / 8, stride = set.width * set.components * bytes;
    {
        Zan::IoImageFile file(description.string());
        fuzzRequire(file.open(Zan::IoDevice::Read, 3, nullptr));
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const std::vector<std::string>& names = frames[f].names;
            const long n = static_cast<long>(names.size());
            if (n == 0 || (n != 1 && n != set.components)) {
                bool refused = false;
                try {
                    (void)file.imageData(static_cast<unsigned>(f));
                } catch (const std::runtime_error&) {
                    refused = true;
                }
                fuzzRequire(refused);
                continue;
            }
            std::vector<FrameFile> holds;
            bool agrees = true;
            for (const std::string& name : names) {
                const fs::path path = fs::path(name).is_absolute() ? fs::path(name) : tree.set / name;
                std::error_code error;
                const auto target = resolved(root, path);
                const auto it = target ? written.find(*target) : written.end();
                FrameFile expected = set;
                expected.components = n == 1 ? set.components : 1;
                if (!fs::is_regular_file(path, error) || it == written.end() ||
                    !sameGeometry(it->second, expected)) {
                    agrees = false;
                    break;
                }
                holds.push_back(it->second);
            }
            const auto pixels = readFrame(file, static_cast<unsigned>(f), stride, set.height);
            fuzzRequire(pixels.has_value() == agrees);
            if (pixels)
                fuzzRequire(*pixels == ZanTest::interleavedFrameFiles(holds));
        }
        file.close();
    }
    tree.check();

    // Frames written through the set read back as written, or are refused; nothing outside changes.
    if (in.next() % 2 == 0) {
        Zan::JsonFileDevice device(description.string());
        fuzzRequire(device.open(Zan::IoDevice::Read | Zan::IoDevice::Update, 3, nullptr));
        FrameFile fresh = set;
        fresh.seed = 77;
        const std::vector<char> pixels = ZanTest::frameFilePixels(fresh);
        for (std::size_t f = 0; f < frames.size(); ++f) {
            try {
                const auto frame = device.imageData(static_cast<unsigned>(f));
                if (!frame->open(Zan::IoImageDataDevice::Write))
                    continue;
                frame->setPackedImage(pixels.data(), stride);
                frame->close();
            } catch (const std::exception&) {
                continue;
            }
            const auto back = readFrame(device, static_cast<unsigned>(f), stride, set.height);
            fuzzRequire(back && *back == pixels);
        }
        device.close();
        tree.check();
    }
    return 0;
}
