// The image file facade: device choice by name, typed records over each kind, open state, the facade
// without a device, and the whole-file operations.

#include <imagefile/IoImageFile.h>
#include <jsonset/JsonFileDevice.h>
#include <qpx/QpxFileDevice.h>
#include <tiff/TifFileDevice.h>

#include <support/Expect.h>
#include <support/FileText.h>
#include <support/JsonSets.h>
#include <support/NativeFiles.h>
#include <support/TempDir.h>
#include <support/TiffFixtures.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Zan::IoDevice;
using Zan::IoImageDataDevice;
using Zan::IoImageFile;

template <typename Device>
bool holds(const std::unique_ptr<Zan::IoImageFileDevice>& device) {
    return dynamic_cast<Device*>(device.get()) != nullptr;
}

TEST(IoImageFileFacade, DeviceChoiceByName) {
    EXPECT_TRUE(holds<Zan::QpxFileDevice>(IoImageFile::createIoImageFileDevice(std::string("a.QPX"))));
    EXPECT_TRUE(holds<Zan::TifFileDevice>(IoImageFile::createIoImageFileDevice(std::string("a.tiff"))));
    EXPECT_TRUE(holds<Zan::TifFileDevice>(IoImageFile::createIoImageFileDevice(std::wstring(L"a.stk"))));
    EXPECT_TRUE(holds<Zan::JsonFileDevice>(IoImageFile::createIoImageFileDevice(std::string("a.json"))));
    EXPECT_TRUE(
        holds<Zan::JsonFileDevice>(IoImageFile::createIoImageFileDevice(std::wstring(L"\u00e9.Json"))));
    // The last "." decides: a native name never reaches the other tests.
    EXPECT_TRUE(holds<Zan::QpxFileDevice>(IoImageFile::createIoImageFileDevice(std::string("a.json.qpx"))));
    for (const char* name : {"a.png", "noextension", ""})
        EXPECT_EQ(IoImageFile::createIoImageFileDevice(std::string(name)), nullptr) << name;

    IoImageFile file(std::string("x.tif"));
    EXPECT_TRUE(file.isValid());
    EXPECT_FALSE(file.isNull());
    EXPECT_EQ(file.openMode(), 0u);
    EXPECT_EQ(file.filename(), "x.tif");
}

TEST(IoImageFileFacade, WithoutADeviceOpenFailsAndEveryOtherMemberIsRefused) {
    IoImageFile none(std::string("image.png"));
    EXPECT_TRUE(none.isNull());
    EXPECT_FALSE(none.isValid());
    int error = 1234;
    EXPECT_FALSE(none.open(IoDevice::Read, 3, &error));
    EXPECT_EQ(error, 1234);
    EXPECT_TRUE(IoImageFile(std::unique_ptr<Zan::IoImageFileDevice>()).isNull());

    const std::vector<std::function<void()>> members{
        [&] { none.close(); },
        [&] { none.openMode(); },
        [&] { none.filename(); },
        [&] { none.sequenceCount(); },
        [&] { none.sequenceIndex({0}, nullptr); },
        [&] { none.loopIndexes(0); },
        [&] { none.allLoopIndexes(); },
        [&] { none.imageData(0); },
        [&] { none.isOpen(); },
        [&] { none.isOpenForRead(); },
        [&] { none.isOpenForWrite(); },
        [&] { none.attributes(); },
        [&] { none.metadata(); },
        [&] { none.frameMetadata(0); },
        [&] { none.experiment(); },
        [&] { none.textInfo(); },
        [&] { none.setAttributes({}); },
        [&] { none.setMetadata({}); },
        [&] { none.setFrameMetadata(0, {}); },
        [&] { none.setExperiment({}); },
        [&] { none.setTextInfo({}); },
    };
    for (std::size_t i = 0; i < members.size(); ++i)
        EXPECT_EQ(ZanTest::messageOf<std::logic_error>(members[i]), "IoImageFile: no device")
            << "member " << i;
}

// What a file of each kind answers through the facade.
struct Expected {
    long width, height, components, frames;
    std::size_t loops; // each a time loop over every frame
    std::size_t channels;
    std::size_t frameChannels; // channels of the last frame's record
    std::string author;
};

void expectRecords(IoImageFile& file, const Expected& e) {
    SCOPED_TRACE(file.filename());
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr)) << file.filename();
    EXPECT_TRUE(file.isOpen());
    EXPECT_TRUE(file.isOpenForRead());
    EXPECT_FALSE(file.isOpenForWrite());
    const IoImageFile::Attributes a = file.attributes();
    EXPECT_EQ(a.widthPx, e.width);
    EXPECT_EQ(a.heightPx, e.height);
    EXPECT_EQ(a.componentCount, e.components);
    EXPECT_EQ(a.sequenceCount, e.frames);
    ASSERT_EQ(file.sequenceCount(), static_cast<unsigned>(e.frames));
    const auto loops = file.experiment();
    ASSERT_EQ(loops.size(), e.loops);
    for (const auto& loop : loops) {
        EXPECT_EQ(loop.type, IoImageFile::TimeLoop);
        EXPECT_EQ(loop.count, e.frames);
    }
    EXPECT_EQ(file.metadata().channels.size(), e.channels);
    EXPECT_EQ(file.frameMetadata(e.frames - 1).channels.size(), e.frameChannels);
    EXPECT_EQ(file.textInfo().author, e.author);
    EXPECT_EQ(file.loopIndexes(0), file.allLoopIndexes().front());
    unsigned index = 99;
    EXPECT_TRUE(file.sequenceIndex(file.allLoopIndexes().back(), &index));
    EXPECT_EQ(index, static_cast<unsigned>(e.frames - 1));

    const auto frame = file.imageData(0);
    ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    EXPECT_EQ(frame->width(), e.width);
    EXPECT_EQ(frame->channels(), e.components);
    frame->close();
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.isOpenForRead());
    EXPECT_FALSE(file.isOpenForWrite());
}

TEST(IoImageFileFacade, OpensEachKindByNameAndReturnsItsRecords) {
    ZanTest::TempDir dir;
    const ZanTest::NativeGeometry native{"gray16", 16, 8, 16, 16, 1};
    {
        Zan::QpxFileDevice file(dir.file("image.qpx"));
        ZanTest::writeNativeFile(file, native, 3);
    }
    ZanTest::writeTiff(dir.file("image.tif"), ZanTest::TiffSpec{});
    {
        Zan::JsonFileDevice set(dir.file("set.json"));
        ZanTest::writeSet(set, {6, 4, 8, 2, 5}, ZanTest::FileLayout::PerComponent);
    }

    IoImageFile qpx(dir.file("image.qpx"));
    expectRecords(qpx, {16, 8, 1, 3, 1, 1, 1, "Ann"});
    IoImageFile tif(std::wstring(fs::path(dir.file("image.tif")).wstring()));
    expectRecords(tif, {37, 23, 1, 1, 0, 1, 0, ""});
    IoImageFile json(dir.file("set.json"));
    expectRecords(json, {6, 4, 2, 5, 1, 2, 2, ""});
}

TEST(IoImageFileFacade, RecordsAreWrittenThroughTheDevice) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("set.json");
    {
        IoImageFile file(path);
        ASSERT_TRUE(file.open(IoDevice::Write | IoDevice::Update, 3, nullptr));
        EXPECT_FALSE(file.isOpenForRead());
        EXPECT_TRUE(file.isOpenForWrite());
        IoImageFile::Attributes a;
        a.widthPx = 3;
        a.heightPx = 2;
        a.componentCount = 1;
        a.bitsPerComponentInMemory = 8;
        a.bitsPerComponentSignificant = 8;
        a.sequenceCount = 6;
        file.setAttributes(a);
        IoImageFile::ExperimentLoop z, t;
        z.type = IoImageFile::ZStackLoop;
        z.count = 3;
        t.type = IoImageFile::TimeLoop;
        t.count = 2;
        t.nestingLevel = 1;
        file.setExperiment({t, z});
        IoImageFile::TextInfo info;
        info.author = "Dee";
        file.setTextInfo(info);
        IoImageFile::Metadata m;
        m.frameCount = 6;
        m.channels.resize(1);
        m.channels[0].channel.name = "only";
        file.setMetadata(m);
        IoImageFile::FrameMetadata frame;
        frame.channels.resize(1);
        frame.channels[0].time.relativeTimeMs = 42.0;
        file.setFrameMetadata(4, frame);
    }
    IoImageFile file(path);
    ASSERT_TRUE(file.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
    EXPECT_TRUE(file.isOpenForRead());
    EXPECT_TRUE(file.isOpenForWrite());
    EXPECT_EQ(file.attributes().widthPx, 3);
    EXPECT_EQ(file.experiment()[1].type, IoImageFile::ZStackLoop);
    EXPECT_EQ(file.loopIndexes(4), (std::vector<unsigned>{1, 1}));
    EXPECT_EQ(file.textInfo().author, "Dee");
    EXPECT_EQ(file.metadata().channels[0].channel.name, "only");
    EXPECT_EQ(file.frameMetadata(4).channels[0].time.relativeTimeMs, 42.0);
}

TEST(IoImageFileFacade, WholeFileOperationsPickTheKindByName) {
    ZAN_EXPECT_THROW_MSG(IoImageFile::deleteFile("a.png"), std::runtime_error, "Unsupported format!");
    ZAN_EXPECT_THROW_MSG(IoImageFile::deleteFile("noextension"), std::runtime_error, "Unsupported format!");
    ZAN_EXPECT_THROW_MSG(IoImageFile::copyFile("a.qpx", "a.tif", true), std::runtime_error,
                         "Unsupported format or from/to differ!");
    ZAN_EXPECT_THROW_MSG(IoImageFile::moveFile("a.json", "a.qpx"), std::runtime_error,
                         "Unsupported format or from/to differ!");

    ZanTest::TempDir dir;
    const std::string a = dir.file("a.qpx"), b = dir.file("b.qpx");
    EXPECT_TRUE(IoImageFile::deleteFile(a)); // not there: deleted already
    std::ofstream(a) << "first";
    std::ofstream(b) << "second";
    EXPECT_FALSE(IoImageFile::copyFile(a, b, false));
    EXPECT_EQ(ZanTest::readFileText(b), "second");
    EXPECT_TRUE(IoImageFile::copyFile(a, b, true));
    EXPECT_EQ(ZanTest::readFileText(b), "first");
    EXPECT_TRUE(IoImageFile::moveFile(a, dir.file("c.QPX")));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(IoImageFile::moveFile(a, b));
    EXPECT_TRUE(IoImageFile::deleteFile(b));
    EXPECT_FALSE(fs::exists(b));

    // Sets go to the set device's own operations: their frame files travel with them.
    fs::create_directory(dir.path() / "copy");
    {
        Zan::JsonFileDevice set(dir.file("set.json"));
        ZanTest::writeSet(set, {4, 2, 8, 1, 2}, ZanTest::FileLayout::PerComponent);
    }
    const std::string copy = (dir.path() / "copy" / "set.json").string();
    ASSERT_TRUE(IoImageFile::copyFile(dir.file("set.json"), copy, false));
    EXPECT_TRUE(fs::exists(dir.path() / "copy" / "seq002_c1.tif"));
    ASSERT_TRUE(IoImageFile::deleteFile(copy));
    EXPECT_FALSE(fs::exists(dir.path() / "copy" / "seq001_c1.tif"));
    EXPECT_TRUE(fs::exists(dir.file("seq001_c1.tif")));
}

} // namespace
