// A frame opens only when its files agree with each other and with the set's attributes: a caller that
// sizes its buffer from the attributes is never overrun, and frames that agree read back pixel for pixel.

#include <imagefile/IoImageFile.h>
#include <jsonset/JsonFileDevice.h>

#include <support/Expect.h>
#include <support/JsonSets.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using Zan::IoDevice;
using Zan::IoImageDataDevice;
using ZanTest::FrameFile;
using json = nlohmann::json;

// What a frame's file is: a TIFF written with our writer, no file, or a file that is not a TIFF.
struct Part {
    std::optional<FrameFile> tiff;
    bool present = true;
};
const Part missing{std::nullopt, false};
const Part notTiff{std::nullopt, true};

// Writes a set of one frame with the attributes of set whose files are parts (named c1.tif, c2.tif, ...)
// and returns the description's path.
std::string writeOneFrameSet(const ZanTest::TempDir& dir, const FrameFile& set,
                             const std::vector<Part>& parts) {
    json names = json::array();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string name = "c" + std::to_string(i + 1) + ".tif";
        names.push_back(name);
        if (parts[i].tiff)
            ZanTest::writeFrameFile(dir.file(name), *parts[i].tiff);
        else if (parts[i].present)
            std::ofstream(dir.file(name)) << "not a TIFF, but long enough to be read as a header";
    }
    const std::string path = dir.file("set.json");
    std::ofstream(path)
        << json({{"attributes", ZanTest::frameFileAttributes(set)}, {"frames", {{{"files", names}}}}}).dump();
    return path;
}

// Frames of a 4 x 4 set of two 8-bit components (the buffer a caller sizes from the attributes is 32
// bytes), stored one file per component or in one file, whose files say otherwise: the frame does not
// open, and says which file holds what.
TEST(JsonSetFrameChecks, FramesThatDisagreeDoNotOpen) {
    const FrameFile set{4, 4, 8, 2}, plane{4, 4, 8, 1};
    const std::string says = ", the set's attributes say ";
    const struct {
        const char* what;
        FrameFile set;
        std::vector<Part> parts;
        std::string message; // empty: open returns false
    } cases[] = {
        {"second file larger",
         set,
         {{plane}, {FrameFile{600, 600, 8, 1}}},
         "c2.tif holds 600 x 600 pixels" + says + "4 x 4 pixels"},
        {"first file smaller",
         set,
         {{FrameFile{2, 4, 8, 1}}, {plane}},
         "c1.tif holds 2 x 4 pixels" + says + "4 x 4 pixels"},
        {"second file deeper",
         set,
         {{plane}, {FrameFile{4, 4, 16, 1}}},
         "c2.tif holds 16 bits per sample" + says + "8"},
        {"second file of three components",
         set,
         {{plane}, {FrameFile{4, 4, 8, 3}}},
         "c2.tif holds 3 components" + says + "1 (one component per file)"},
        {"second file of floats",
         FrameFile{4, 4, 32, 2},
         {{FrameFile{4, 4, 32, 1}}, {FrameFile{4, 4, 32, 1, true}}},
         "c2.tif holds floating-point samples" + says + "unsigned samples"},
        {"second file missing", set, {{plane}, missing}, ""},
        {"second file not a TIFF", set, {{plane}, notTiff}, ""},
        {"one file larger",
         set,
         {{FrameFile{600, 600, 8, 2}}},
         "c1.tif holds 600 x 600 pixels" + says + "4 x 4 pixels"},
        {"one file deeper", set, {{FrameFile{4, 4, 16, 2}}}, "c1.tif holds 16 bits per sample" + says + "8"},
        {"one file of three components",
         set,
         {{FrameFile{4, 4, 8, 3}}},
         "c1.tif holds 3 components" + says + "2"},
        {"one file of floats",
         FrameFile{4, 4, 32, 1},
         {{FrameFile{4, 4, 32, 1, true}}},
         "c1.tif holds floating-point samples" + says + "unsigned samples"},
        {"one file missing", set, {missing}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZanTest::TempDir dir;
        Zan::IoImageFile file(writeOneFrameSet(dir, c.set, c.parts));
        ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
        const auto frame = file.imageData(0);
        if (c.message.empty())
            EXPECT_FALSE(frame->open(IoImageDataDevice::Read));
        else
            ZAN_EXPECT_THROW_MSG(frame->open(IoImageDataDevice::Read), std::runtime_error,
                                 "JsonFileDevice::ImageData::open: " + (dir.path() / c.message).string());
        EXPECT_EQ(frame->openMode(), 0u);
        // What a caller of the refused frame would have read into.
        std::vector<char> buffer(static_cast<std::size_t>(c.set.width * c.set.height * c.set.components * 4));
        EXPECT_THROW(frame->packedImage(buffer.data(), c.set.width * c.set.components), std::logic_error);
    }
}

// Frames whose files agree read back pixel for pixel, files of one frame stored differently (strips in
// one, tiles in the other) included.
TEST(JsonSetFrameChecks, FramesThatAgreeReadBack) {
    const struct {
        const char* what;
        FrameFile set;
        std::vector<FrameFile> files;
    } cases[] = {
        {"strips and tiles", {32, 32, 16, 2}, {{32, 32, 16, 1, false, 0, 1}, {32, 32, 16, 1, false, 16, 2}}},
        {"three files",
         {5, 3, 8, 3},
         {{5, 3, 8, 1, false, 0, 3}, {5, 3, 8, 1, false, 0, 4}, {5, 3, 8, 1, false, 0, 5}}},
        {"one file of colour", {7, 5, 8, 3}, {{7, 5, 8, 3, false, 0, 6}}},
        {"one file of floats", {6, 2, 32, 1, true}, {{6, 2, 32, 1, true, 0, 7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZanTest::TempDir dir;
        std::vector<Part> parts;
        for (const FrameFile& f : c.files)
            parts.push_back({f});
        Zan::IoImageFile file(writeOneFrameSet(dir, c.set, parts));
        ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
        const auto a = file.attributes();
        const long stride = a.widthPx * a.componentCount * a.bitsPerComponentInMemory / 8;
        const auto frame = file.imageData(0);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
        std::vector<char> pixels(static_cast<std::size_t>(stride * a.heightPx));
        frame->packedImage(pixels.data(), stride);
        EXPECT_EQ(pixels, ZanTest::interleavedFrameFiles(c.files));
        frame->close();
    }
}

} // namespace
