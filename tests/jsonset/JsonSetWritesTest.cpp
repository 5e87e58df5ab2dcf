// Writes of a set stay inside its folder: frame files opened for writing, the description, and the
// targets of copy and move never lead out of it by name or through a symbolic link. Reads may follow the
// names a description gives.

#include <jsonset/JsonFileDevice.h>
#include <jsonset/detail/JsonSetPaths.h>

#include <support/Expect.h>
#include <support/FileText.h>
#include <support/JsonSets.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::JsonFileDevice;
using ZanTest::FrameFile;
using json = nlohmann::json;

const std::string precious = "precious, not part of any set";

// set/ holds the set; outside/ a file no write may touch, and a TIFF that reads may reach.
class JsonSetWrites : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(set);
        fs::create_directories(outside);
        std::ofstream(victim) << precious;
        ZanTest::writeFrameFile((outside / "shared.tif").string(), frame);
        fs::create_symlink(victim, set / "link.tif");
        fs::create_directory_symlink(outside, set / "out");
        fs::create_directory(set / "sub");
    }

    // A set of one frame of the files names.
    void describe(const json& names) const {
        std::ofstream(description) << json({{"attributes", ZanTest::frameFileAttributes(frame)},
                                            {"frames", {{{"files", names}}}}})
                                          .dump();
    }

    void expectUntouched() const { EXPECT_EQ(ZanTest::readFileText(victim), precious); }

    ZanTest::TempDir dir;
    fs::path set = dir.path() / "set", outside = dir.path() / "outside", victim = outside / "victim.txt";
    std::string description = (set / "set.json").string();
    FrameFile frame{4, 3, 8, 1};
};

// Names that are absolute, climb with "..", or pass through a link to a file or to a folder: a frame
// device of a set open for update refuses to open them for writing, and the file they name keeps its
// bytes; a frame stored one file per component is refused before any of its files is cut.
TEST_F(JsonSetWrites, FrameFilesOutsideTheFolderAreNotWritten) {
    const std::string good = "good.tif";
    const struct {
        std::string name, refusal;
    } cases[] = {
        {"../outside/victim.txt", "climbs out of the set's folder"},
        {"sub/../../outside/victim.txt", "climbs out of the set's folder"},
        {victim.string(), "is absolute"},
        {"link.tif", "is a symbolic link"},
        {"out/victim.txt", "leads out of the set's folder through a symbolic link"},
        {"sub", "is a folder"},
        {"set.json", "is the set's description"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZanTest::writeFrameFile((set / good).string(), frame);
        const std::string goodBytes = ZanTest::readFileText(set / good);
        const std::string expected = "JsonFileDevice::ImageData::open: frame file \"" + c.name + "\" " +
                                     c.refusal + "; it is not written";
        for (const json& names : {json{c.name}, json{good, c.name}}) {
            FrameFile stored = frame;
            stored.components = static_cast<long>(names.size());
            std::ofstream(description) << json({{"attributes", ZanTest::frameFileAttributes(stored)},
                                                {"frames", {{{"files", names}}}}})
                                              .dump();
            JsonFileDevice device(description);
            ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
            const auto data = device.imageData(0);
            ZAN_EXPECT_THROW_MSG(data->open(IoImageDataDevice::Write), std::runtime_error, expected);
            EXPECT_EQ(data->openMode(), 0u);
            device.close();
            expectUntouched();
            EXPECT_EQ(ZanTest::readFileText(set / good), goodBytes);
        }
    }
    // Two components in one file would leave neither.
    FrameFile two = frame;
    two.components = 2;
    std::ofstream(description) << json({{"attributes", ZanTest::frameFileAttributes(two)},
                                        {"frames", {{{"files", {"good.tif", "./good.tif"}}}}}})
                                      .dump();
    JsonFileDevice device(description);
    ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(device.imageData(0)->open(IoImageDataDevice::Write), std::runtime_error,
                         "JsonFileDevice::ImageDataN::open: " + (set / "./good.tif").string() +
                             " holds two components of the frame; it is not written");
}

// Reads follow the names: a frame outside the folder, named by "..", by an absolute name or through a
// link to a folder, reads back.
TEST_F(JsonSetWrites, FramesNamedOutsideTheFolderAreRead) {
    const std::vector<char> expected = ZanTest::frameFilePixels(frame);
    for (const std::string& name : {std::string("../outside/shared.tif"), (outside / "shared.tif").string(),
                                    std::string("out/shared.tif")}) {
        SCOPED_TRACE(name);
        describe({name});
        JsonFileDevice device(description);
        ASSERT_TRUE(device.open(IoDevice::Read, 3, nullptr));
        const auto data = device.imageData(0);
        ASSERT_TRUE(data->open(IoImageDataDevice::Read));
        std::vector<char> pixels(expected.size());
        data->packedImage(pixels.data(), ZanTest::frameFileLineBytes(frame));
        EXPECT_EQ(pixels, expected);
    }
}

// A description that is a link is read, never written through: it does not open for writing, and a link
// planted in its place while it is open is not written through when the changes are.
TEST_F(JsonSetWrites, TheDescriptionIsNotWrittenThroughALink) {
    describe({"good.tif"});
    const fs::path linked = set / "linked.json";
    fs::create_symlink(description, linked);
    for (IoDevice::OpenMode mode : {IoDevice::Write, IoDevice::Read | IoDevice::Update, IoDevice::Update,
                                    IoDevice::Write | IoDevice::Update}) {
        JsonFileDevice device(linked.string());
        EXPECT_FALSE(device.open(mode, 3, nullptr)) << mode;
    }
    JsonFileDevice reader(linked.string());
    ASSERT_TRUE(reader.open(IoDevice::Read, 3, nullptr));
    EXPECT_EQ(reader.frameRef(0), json({"good.tif"}));

    const std::string before = ZanTest::readFileText(description);
    JsonFileDevice device(description);
    ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
    device.setTextInfo({{"author", "me"}});
    fs::rename(description, (set / "moved.json").string());
    fs::create_symlink(victim, description);
    ZAN_EXPECT_THROW_MSG(device.close(), std::runtime_error,
                         "JsonFileDevice::flush: " + description +
                             " is a symbolic link; the description is not written through it");
    expectUntouched();
    EXPECT_EQ(ZanTest::readFileText(set / "moved.json"), before);
}

// The one rule for names, as copy, move, delete and the frame devices see it.
TEST_F(JsonSetWrites, WhereANameLeads) {
    using Zan::detail::FrameUse;
    using Zan::detail::locateFrame;
    const struct {
        std::string name;
        std::string change, write; // refusals
    } cases[] = {
        {"a.tif", "", ""},
        {"sub/./a.tif", "", ""},
        {"link.tif", "", "is a symbolic link"},
        {"", "is empty", "is empty"},
        {"/a.tif", "is absolute", "is absolute"},
        {"sub/../a.tif", "climbs out of the set's folder", "climbs out of the set's folder"},
        {"sub/", "names no file", "names no file"},
        {".", "names no file", "names no file"},
        {"sub", "is a folder", "is a folder"},
        {"set.json", "", "is the set's description"},
        {"out/new.tif", "leads out of the set's folder through a symbolic link",
         "leads out of the set's folder through a symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(locateFrame(description, c.name, FrameUse::Read).refusal, "");
        EXPECT_EQ(locateFrame(description, c.name, FrameUse::Change).refusal, c.change);
        EXPECT_EQ(locateFrame(description, c.name, FrameUse::Write).refusal, c.write);
    }
    EXPECT_EQ(locateFrame(description, "sub/a.tif", FrameUse::Write).path, set / "sub/a.tif");
    EXPECT_EQ(locateFrame(description, "/x/a.tif", FrameUse::Read).path, fs::path("/x/a.tif"));
    EXPECT_EQ(locateFrame("set.json", "a.tif", FrameUse::Read).path, fs::path("a.tif"));
}

} // namespace
