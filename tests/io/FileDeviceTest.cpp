// What only the file device does: names, creation, stream failures, page-aligned mappings, file times.

#include <io/IoFileDevice.h>
#include <support/Expect.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using Zan::IoDevice;
using Zan::IoFileDevice;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(FileDevice, NamesInBothWidths) {
    IoFileDevice device(std::string("caf\xC3\xA9.qpx"));
    EXPECT_EQ(device.fileName(), L"caf\u00e9.qpx");
    EXPECT_EQ(device.fileNameUtf8(), "caf\xC3\xA9.qpx");
    device.setFileName(std::wstring(L"\U0001F600"));
    EXPECT_EQ(device.fileNameUtf8(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(IoFileDevice().fileName(), L"");

    ZAN_EXPECT_THROW_MSG(IoFileDevice(std::string("\xC3")), std::range_error, "wstring_convert::from_bytes");
    ZAN_EXPECT_THROW_MSG(device.setFileName(std::string("a\xFF")), std::range_error,
                         "wstring_convert::from_bytes");
    device.setFileName(std::wstring(1, wchar_t(0xD800)));
    ZAN_EXPECT_THROW_MSG(device.fileNameUtf8(), std::range_error, "wstring_convert::to_bytes");
    ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read), std::range_error, "wstring_convert::to_bytes");
    EXPECT_FALSE(device.isOpen());
}

TEST(FileDevice, MissingFilesAndCreation) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("new \xC3\xA9.bin");
    IoFileDevice device(path);
    EXPECT_FALSE(device.open(IoDevice::Read));
    EXPECT_FALSE(device.open(IoDevice::Read | IoDevice::Update));
    EXPECT_FALSE(device.isOpen());
    ASSERT_TRUE(device.open(IoDevice::Write));
    EXPECT_EQ(device.writeData("hello", 5), 5u);
    device.close();
    EXPECT_EQ(slurp(path), "hello");
    EXPECT_FALSE(IoFileDevice(dir.file("no/such/dir/x")).open(IoDevice::Write));
}

TEST(FileDevice, OperationsOfAClosedDevice) {
    IoFileDevice device;
    ZAN_EXPECT_THROW_MSG(device.size(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.flush(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.handle(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.fileCreationTime(), std::logic_error, "device is not open");
    // A mode set without a stream must not reach a null stream.
    device.setOpenMode(IoDevice::Read | IoDevice::Update);
    char c;
    ZAN_EXPECT_THROW_MSG(device.readData(&c, 1), std::logic_error, "device is not open for read");
    ZAN_EXPECT_THROW_MSG(device.writeData(&c, 1), std::logic_error, "device is not open for write");
    ZAN_EXPECT_THROW_MSG(device.pos(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.map(0, 1), std::logic_error, "device is not open for read");
}

TEST(FileDevice, CloseReportsAFailedFlush) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    IoFileDevice device(std::string("/dev/full"));
    ASSERT_TRUE(device.open(IoDevice::Write));
    EXPECT_EQ(device.writeData("x", 1), 1u) << "the byte waits in the stream's buffer";
    try {
        device.close();
        ADD_FAILURE() << "close must report that the data never reached the file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOSPC);
    }
    EXPECT_FALSE(device.isOpen()) << "closed all the same";
}

TEST(FileDevice, FailedTransfersNameTheFileTheOffsetAndTheByteCount) {
    // A directory opens as a stream but cannot be read; /dev/full takes no bytes.
    const auto messageOf = [](auto&& transfer) -> std::string {
        try {
            transfer();
        } catch (const std::system_error& e) {
            return e.what();
        }
        return "no error";
    };
    ZanTest::TempDir dir;
    IoFileDevice directory(dir.path().string());
    ASSERT_TRUE(directory.open(IoDevice::Read));
    {
        char byte[16];
        EXPECT_EQ(messageOf([&] { directory.readData(byte, sizeof byte); }),
                  "IoFileDevice::readData: 16 bytes at offset 0 of \"" + dir.path().string() +
                      "\" (0 done): " + std::generic_category().message(EISDIR));
    }
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    IoFileDevice full(std::string("/dev/full"));
    ASSERT_TRUE(full.open(IoDevice::Write));
    const std::string block(1 << 20, 'b'); // larger than the stream's buffer: written at once
    EXPECT_EQ(messageOf([&] { full.writeData(block.data(), block.size()); }),
              "IoFileDevice::writeData: 1048576 bytes at offset 0 of \"/dev/full\" (0 done): " +
                  std::generic_category().message(ENOSPC));
    full.writeData("x", 1);
    EXPECT_EQ(messageOf([&] { full.close(); }).find("IoFileDevice::close: flush failed for \"/dev/full\""),
              0u);
}

TEST(FileDevice, DestructorStaysSilentOnAFailedFlush) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    auto device = std::make_unique<IoFileDevice>(std::string("/dev/full"));
    ASSERT_TRUE(device->open(IoDevice::Write));
    device->writeData("x", 1);
    EXPECT_NO_THROW(device.reset());
}

TEST(FileDevice, MappingIsPageAligned) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("map.bin");
    std::string bytes(10000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    spit(path, bytes);
    IoFileDevice device(path);
    ASSERT_TRUE(device.open(IoDevice::Read));
    const long page = sysconf(_SC_PAGESIZE);
    const long positions[] = {0, 100, page - 1, page, page + 5, 9990};
    for (long position : positions) {
        char* p = static_cast<char*>(device.map(position, 10));
        ASSERT_NE(p, nullptr) << position;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % page, static_cast<std::uintptr_t>(position % page));
        EXPECT_EQ(std::string(p, 10), bytes.substr(position, 10));
        ZAN_EXPECT_THROW_MSG(device.unmap(p + 1), std::logic_error, "invalid address");
        device.unmap(p);
        ZAN_EXPECT_THROW_MSG(device.unmap(p), std::logic_error, "invalid address"); // released once only
    }
    EXPECT_EQ(device.map(9991, 10), nullptr) << "would reach past the end of the file";
    EXPECT_EQ(device.map(0, 0), nullptr) << "the system maps no empty range";
}

TEST(FileDevice, MappingSeesPendingWritesAndWritesThrough) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("rw.bin");
    IoFileDevice device(path);
    ASSERT_TRUE(device.open(IoDevice::Write | IoDevice::Update));
    const std::string bytes(5000, 'q');
    ASSERT_EQ(device.writeData(bytes.data(), bytes.size()), bytes.size());
    char* p = static_cast<char*>(device.map(4096, 10));
    ASSERT_NE(p, nullptr) << "writes still in the stream's buffer are flushed before mapping";
    EXPECT_EQ(std::string(p, 10), std::string(10, 'q'));
    std::memcpy(p, "0123456789", 10);
    device.close();
    device.unmap(p); // mappings outlive the stream
    EXPECT_EQ(slurp(path).substr(4096, 10), "0123456789");

    ASSERT_TRUE(device.open(IoDevice::Append));
    ZAN_EXPECT_THROW_MSG(device.map(0, 1), std::logic_error, "device is not open for read");
}

TEST(FileDevice, StatusChangeTimeAsJulianDay) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("t.bin");
    spit(path, "t");
    IoFileDevice device(path);
    ASSERT_TRUE(device.open(IoDevice::Read));
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_DOUBLE_EQ(device.fileCreationTime(), status.st_ctim.tv_sec / 86400.0 + 2440587.5);
    const double now = static_cast<double>(std::time(nullptr)) / 86400.0 + 2440587.5;
    EXPECT_NEAR(device.fileCreationTime(), now, 60.0 / 86400.0);
    EXPECT_GE(device.handle(), 0);
    EXPECT_EQ(device.flush(), 0);
}

TEST(FileDevice, AlternatingReadsAndWritesOnOneStream) {
    ZanTest::TempDir dir;
    const std::string path = dir.file("alt.bin");
    spit(path, "0123456789");
    IoFileDevice device(path);
    ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update));
    char buffer[3] = {};
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(device.readData(buffer, 2), 2u);
        ASSERT_EQ(device.writeData("ab", 2), 2u);
    }
    device.close();
    EXPECT_EQ(slurp(path), "01ab45ab89ab");
}

} // namespace
