// Copy, move and delete of whole sets, and the refusal of frame names that lead outside a set.

#include <jsonset/JsonFileDevice.h>

#include <support/FileText.h>
#include <support/JsonSets.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::JsonFileDevice;
using ZanTest::FileLayout;
using ZanTest::SetGeometry;
using json = nlohmann::json;

const SetGeometry geometry{5, 3, 8, 2, 2};
const std::vector<std::string> frameFiles{"seq001_c1.tif", "seq001_c2.tif", "seq002_c1.tif", "seq002_c2.tif"};

// Every frame of the set at path reads back as written.
void expectReadable(const std::string& path) {
    JsonFileDevice set(path);
    ASSERT_TRUE(set.open(IoDevice::Read, 3, nullptr)) << path;
    ASSERT_EQ(set.sequenceCount(), static_cast<unsigned>(geometry.frames));
    for (long f = 0; f < geometry.frames; ++f) {
        const auto frame = set.imageData(static_cast<unsigned>(f));
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        std::vector<char> pixels(static_cast<std::size_t>(ZanTest::setLineBytes(geometry) * geometry.height));
        frame->packedImage(pixels.data(), ZanTest::setLineBytes(geometry));
        EXPECT_EQ(pixels, ZanTest::setFrame(geometry, f));
    }
}

class JsonSetFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(source);
        fs::create_directory(target);
        JsonFileDevice set(from);
        ZanTest::writeSet(set, geometry, FileLayout::PerComponent);
    }

    // The files of a set in dir, description first.
    std::vector<fs::path> setFiles(const fs::path& dir, const std::string& description = "set.json") const {
        std::vector<fs::path> files{dir / description};
        for (const std::string& name : frameFiles)
            files.push_back(dir / name);
        return files;
    }

    JsonFileDevice device; // unnamed and never opened, as the facade uses it
    ZanTest::TempDir dir;
    fs::path source = dir.path() / "source", target = dir.path() / "target";
    std::string from = (source / "set.json").string(), to = (target / "set.json").string();
};

TEST_F(JsonSetFilesTest, CopyTakesEveryFrameFile) {
    ASSERT_TRUE(device.copyFile(from, to, false));
    for (const fs::path& file : setFiles(source))
        EXPECT_EQ(ZanTest::readFileText(file), ZanTest::readFileText(target / file.filename())) << file;
    expectReadable(from);
    expectReadable(to);
}

TEST_F(JsonSetFilesTest, CopyWithoutOverwriteStopsAtTheFirstExistingFile) {
    std::ofstream(target / "seq001_c1.tif") << "mine";
    EXPECT_FALSE(device.copyFile(from, to, false));
    EXPECT_EQ(ZanTest::readFileText(target / "seq001_c1.tif"), "mine");
    EXPECT_FALSE(fs::exists(target / "seq001_c2.tif"));
    EXPECT_FALSE(fs::exists(to));

    ASSERT_TRUE(device.copyFile(from, to, true));
    expectReadable(to);
    // Onto itself: refused before anything is touched.
    EXPECT_FALSE(device.copyFile(from, from, true));
    expectReadable(from);
}

TEST_F(JsonSetFilesTest, MoveTakesEveryFrameFile) {
    ASSERT_TRUE(device.moveFile(from, to));
    for (const fs::path& file : setFiles(source))
        EXPECT_FALSE(fs::exists(file)) << file;
    expectReadable(to);
    // Within one directory the frames stay where they are.
    const std::string renamed = (target / "renamed.json").string();
    ASSERT_TRUE(device.moveFile(to, renamed));
    EXPECT_FALSE(fs::exists(to));
    expectReadable(renamed);
    EXPECT_TRUE(device.moveFile(renamed, renamed));
    expectReadable(renamed);
}

TEST_F(JsonSetFilesTest, AMoveThatFailsLeavesTheSourceWhole) {
    // The third frame file cannot be written at the target.
    fs::create_directory(target / "seq002_c1.tif");
    EXPECT_FALSE(device.moveFile(from, to));
    for (const fs::path& file : setFiles(source))
        EXPECT_TRUE(fs::exists(file)) << file;
    expectReadable(from);
    // The copies made before the failure are taken away again.
    EXPECT_FALSE(fs::exists(target / "seq001_c1.tif"));
    EXPECT_FALSE(fs::exists(to));
}

TEST_F(JsonSetFilesTest, DeleteRemovesEveryFrameFile) {
    ASSERT_TRUE(device.deleteFile(from));
    for (const fs::path& file : setFiles(source))
        EXPECT_FALSE(fs::exists(file)) << file;
    // A set that is not there is deleted already; so is a description whose frames are gone.
    EXPECT_TRUE(device.deleteFile(from));
}

TEST_F(JsonSetFilesTest, DeletingADescriptionThatCannotBeOpenedRemovesOnlyIt) {
    // A link to no file: the description does not open, so it names no frames.
    const fs::path dangling = source / "dangling.json";
    fs::create_symlink(source / "gone.json", dangling);
    ASSERT_TRUE(device.deleteFile(dangling.string()));
    EXPECT_FALSE(fs::is_symlink(dangling));
    for (const fs::path& file : setFiles(source))
        EXPECT_TRUE(fs::exists(file)) << file;
}

TEST_F(JsonSetFilesTest, ADescriptionThatIsNotJsonIsNeitherCopiedMovedNorDeleted) {
    const fs::path other = source / "other.tif";
    std::ofstream(other) << "frame";
    std::ofstream(from) << R"({"frames": [{"files": ["other.tif"]}], )";
    EXPECT_FALSE(device.copyFile(from, to, true));
    EXPECT_FALSE(device.moveFile(from, to));
    EXPECT_FALSE(device.deleteFile(from));
    EXPECT_TRUE(fs::exists(from));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::is_empty(target));
}

// A damaged or hostile description names files outside its set: nothing is touched, not even the set's
// own files, and every operation reports false.
TEST_F(JsonSetFilesTest, NamesOutsideTheSetAreRefusedBeforeAnythingIsTouched) {
    const fs::path outside = dir.path() / "outside";
    fs::create_directory(outside);
    const fs::path victim = outside / "victim.tif";
    std::ofstream(victim) << "precious";
    fs::create_directory_symlink(outside, source / "link");
    fs::create_directory(source / "sub");

    for (const std::string& name :
         {std::string("../outside/victim.tif"), victim.string(), std::string("sub/../../outside/victim.tif"),
          std::string("link/victim.tif"), std::string("."), std::string("sub"), std::string("sub/..")}) {
        json doc;
        {
            std::ifstream in(from);
            doc = json::parse(in);
        }
        // The hostile name comes last: the set's own files come before it.
        doc["frames"].push_back({{"files", {name}}});
        const std::string hostile = (source / "hostile.json").string();
        std::ofstream(hostile) << doc.dump();

        EXPECT_FALSE(device.deleteFile(hostile)) << name;
        EXPECT_FALSE(device.copyFile(hostile, to, true)) << name;
        EXPECT_FALSE(device.moveFile(hostile, to)) << name;
        EXPECT_EQ(ZanTest::readFileText(victim), "precious") << name;
        for (const fs::path& file : setFiles(source, "hostile.json"))
            EXPECT_TRUE(fs::exists(file)) << name << ": " << file;
        EXPECT_TRUE(fs::is_directory(source / "sub"));
        EXPECT_TRUE(fs::is_empty(target)) << name;
    }
}

// A link planted in the target folder at the name of a frame file or of the description: copy with
// overwrite and move refuse before anything is written, and the file the link leads to keeps its bytes.
TEST_F(JsonSetFilesTest, WritesOntoAPlantedLinkAreRefused) {
    const fs::path outside = dir.path() / "outside", victim = outside / "victim.tif";
    fs::create_directory(outside);
    std::ofstream(victim) << "precious";
    for (const std::string planted : {"seq002_c1.tif", "set.json"}) {
        SCOPED_TRACE(planted);
        fs::remove_all(target);
        fs::create_directory(target);
        fs::create_symlink(victim, target / planted);
        EXPECT_FALSE(device.copyFile(from, to, true));
        EXPECT_FALSE(device.moveFile(from, to));
        EXPECT_EQ(ZanTest::readFileText(victim), "precious");
        EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
        expectReadable(from);
    }
}

TEST_F(JsonSetFilesTest, NamesBelowTheSetAndRepeatedNamesAreFine) {
    fs::create_directory(source / "tiles");
    fs::create_directory(target / "tiles");
    std::ofstream(source / "tiles" / "extra.tif") << "extra";
    json doc;
    {
        std::ifstream in(from);
        doc = json::parse(in);
    }
    doc["frames"].push_back({{"files", {"tiles/./extra.tif"}}});
    doc["frames"].push_back({{"files", {"tiles/extra.tif"}}});
    doc["frames"].push_back({{"files", {"set.json"}}});
    std::ofstream(from) << doc.dump();

    ASSERT_TRUE(device.copyFile(from, to, false));
    EXPECT_EQ(ZanTest::readFileText(target / "tiles" / "extra.tif"), "extra");
    ASSERT_TRUE(device.deleteFile(from));
    EXPECT_FALSE(fs::exists(source / "tiles" / "extra.tif"));
    EXPECT_TRUE(fs::is_directory(source / "tiles"));
}

} // namespace
