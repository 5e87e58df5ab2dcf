// One behaviour table run against all three byte devices: file, growable buffer and fixed memory.

#include <io/IoFileDevice.h>
#include <io/IoMemoryBuffer.h>
#include <io/IoMemoryDevice.h>
#include <support/Expect.h>
#include <support/TempDir.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

using Zan::IoBaseDevice;
using Zan::IoDevice;

namespace {

using Bytes = std::vector<char>;

// A device under test over some initial bytes, and a way to look at what it holds afterwards.
class Subject {
public:
    virtual ~Subject() = default;
    virtual IoBaseDevice& device() = 0;
    virtual Bytes contents() = 0;
};

class FileSubject : public Subject {
public:
    explicit FileSubject(const Bytes& initial) : path_(dir_.file("device.bin")), device_(path_) {
        std::ofstream(path_, std::ios::binary).write(initial.data(), static_cast<long>(initial.size()));
    }
    IoBaseDevice& device() override { return device_; }
    Bytes contents() override {
        if (device_.isOpen())
            device_.flush();
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

private:
    ZanTest::TempDir dir_;
    std::string path_;
    Zan::IoFileDevice device_;
};

class BufferSubject : public Subject {
public:
    explicit BufferSubject(const Bytes& initial) : device_(initial.size(), initial.data()) {}
    IoBaseDevice& device() override { return device_; }
    Bytes contents() override { return Bytes(device_.data(), device_.data() + device_.size()); }

private:
    Zan::IoMemoryBuffer device_;
};

class MemorySubject : public Subject {
public:
    explicit MemorySubject(const Bytes& initial)
        : memory_(initial), device_(memory_.data(), memory_.size()) {}
    IoBaseDevice& device() override { return device_; }
    Bytes contents() override { return memory_; }

private:
    Bytes memory_;
    Zan::IoMemoryDevice device_;
};

struct Kind {
    const char* name;
    std::function<std::unique_ptr<Subject>(const Bytes&)> make;
    bool grows;        // writes past the end extend the device
    bool truncates;    // mode 2 empties the device
    bool appends;      // modes 4 and 0x104 are accepted
    bool systemErrors; // seek refusals are system errors (the file) rather than invalid arguments
};

const Kind kKinds[] = {
    {"File", [](const Bytes& b) { return std::make_unique<FileSubject>(b); }, true, true, true, true},
    {"Buffer", [](const Bytes& b) { return std::make_unique<BufferSubject>(b); }, true, true, true, false},
    {"Memory", [](const Bytes& b) { return std::make_unique<MemorySubject>(b); }, false, false, false, false},
};

const Bytes kAbcdefgh{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};

class ByteDevice : public ::testing::TestWithParam<Kind> {
protected:
    std::unique_ptr<Subject> make(const Bytes& initial = kAbcdefgh) { return GetParam().make(initial); }
};

Bytes readAll(IoDevice& device, unsigned long n) {
    Bytes out(n);
    out.resize(device.readData(out.data(), n));
    return out;
}

TEST_P(ByteDevice, OpenModesAcceptedAndRefused) {
    const IoDevice::OpenMode accepted[] = {0x1, 0x2, 0x4, 0x101, 0x102, 0x104};
    for (IoDevice::OpenMode mode : accepted) {
        auto subject = make();
        IoBaseDevice& device = subject->device();
        if (!GetParam().appends && (mode & IoDevice::Append)) {
            ZAN_EXPECT_THROW_MSG(device.open(mode), std::logic_error, "illegal mode");
            EXPECT_FALSE(device.isOpen());
            continue;
        }
        ASSERT_TRUE(device.open(mode)) << std::hex << mode;
        EXPECT_EQ(device.openMode(), mode);
        EXPECT_EQ(device.isReadible(), (mode & 0x101) != 0);
        EXPECT_EQ(device.isWritable(), (mode & 0x106) != 0);
        EXPECT_EQ(device.isTruncated(), (mode & 0x2) != 0);
        EXPECT_FALSE(device.isSequential());
        ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read), std::logic_error, "already open");
        EXPECT_EQ(device.openMode(), mode);
        device.close();
        EXPECT_EQ(device.openMode(), 0u);
        EXPECT_FALSE(device.isOpen());
        EXPECT_TRUE(device.open(IoDevice::Read)) << "a closed device opens again";
    }
    const IoDevice::OpenMode refused[] = {0x0, 0x3, 0x8, 0x10, 0x11, 0x12, 0x100, 0x110, 0x111, 0x103, 0x200};
    for (IoDevice::OpenMode mode : refused) {
        auto subject = make();
        EXPECT_FALSE(subject->device().open(mode)) << std::hex << mode;
        EXPECT_FALSE(subject->device().isOpen());
        EXPECT_EQ(subject->contents(), kAbcdefgh) << "a refused open leaves the data alone";
    }
}

TEST_P(ByteDevice, TruncatingOpen) {
    auto subject = make();
    ASSERT_TRUE(subject->device().open(IoDevice::Write | IoDevice::Update));
    EXPECT_EQ(subject->device().pos(), 0);
    if (GetParam().truncates) {
        EXPECT_EQ(subject->device().size(), 0);
        EXPECT_TRUE(subject->contents().empty());
        // The old bytes must not come back through a gap left after truncation.
        subject->device().seek(5, IoDevice::Begin);
        EXPECT_EQ(subject->device().writeData("xyz", 3), 3u);
        EXPECT_EQ(subject->contents(), (Bytes{0, 0, 0, 0, 0, 'x', 'y', 'z'}));
    } else {
        EXPECT_EQ(subject->contents(), kAbcdefgh) << "fixed memory keeps its bytes";
    }
}

TEST_P(ByteDevice, SeekOriginsAndRefusals) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read));
    struct Step {
        long offset;
        IoDevice::Origin origin;
        long expected;
    };
    const Step steps[] = {{3, IoDevice::Begin, 3},  {2, IoDevice::Current, 5},    {-1, IoDevice::Current, 4},
                          {0, IoDevice::End, 8},    {-40 + 38, IoDevice::End, 6}, {-8, IoDevice::End, 0},
                          {20, IoDevice::Begin, 20}};
    for (const Step& step : steps) {
        device.seek(step.offset, step.origin);
        EXPECT_EQ(device.pos(), step.expected) << step.offset << " from " << step.origin;
    }
    EXPECT_EQ(device.size(), 8);
    EXPECT_EQ(device.pos(), 20) << "size() leaves the position where it was";

    device.seek(2, IoDevice::Begin);
    if (GetParam().systemErrors) {
        EXPECT_THROW(device.seek(-1, IoDevice::Begin), std::system_error);
        EXPECT_THROW(device.seek(0, static_cast<IoDevice::Origin>(3)), std::system_error);
    } else {
        ZAN_EXPECT_THROW_MSG(device.seek(-1, IoDevice::Begin), std::invalid_argument,
                             "pos points before origin");
        ZAN_EXPECT_THROW_MSG(device.seek(-9, IoDevice::End), std::invalid_argument,
                             "pos points before origin");
        ZAN_EXPECT_THROW_MSG(device.seek(0, static_cast<IoDevice::Origin>(3)), std::invalid_argument,
                             "origin is incorrect");
    }
    EXPECT_EQ(device.pos(), 2) << "a refused seek leaves the position";
}

TEST_P(ByteDevice, ReadsUpToTheEnd) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read));
    EXPECT_EQ(readAll(device, 3), (Bytes{'a', 'b', 'c'}));
    EXPECT_FALSE(device.atEnd());
    device.seek(7, IoDevice::Begin);
    EXPECT_EQ(readAll(device, 10), (Bytes{'h'}));
    EXPECT_TRUE(device.atEnd());
    EXPECT_EQ(device.pos(), 8);
    EXPECT_EQ(readAll(device, 1), Bytes{});
    char c = 'x';
    EXPECT_FALSE(device.getChar(&c));
    EXPECT_EQ(c, 0);
    device.seek(0, IoDevice::Begin);
    EXPECT_FALSE(device.atEnd()) << "a seek clears the end flag";
    EXPECT_TRUE(device.getChar(&c));
    EXPECT_EQ(c, 'a');
    EXPECT_TRUE(device.getChar(nullptr));
    device.seek(100, IoDevice::Begin);
    EXPECT_EQ(readAll(device, 4), Bytes{}) << "a read past the end returns nothing";
}

TEST_P(ByteDevice, WritesInPlaceAndPastTheEnd) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update));
    device.seek(2, IoDevice::Begin);
    EXPECT_EQ(device.writeData("XY", 2), 2u);
    EXPECT_EQ(device.pos(), 4);
    EXPECT_TRUE(device.putChar('Z'));
    EXPECT_EQ(readAll(device, 1), Bytes{'f'}) << "a read right after a write continues after it";
    EXPECT_EQ(subject->contents(), (Bytes{'a', 'b', 'X', 'Y', 'Z', 'f', 'g', 'h'}));

    device.seek(12, IoDevice::Begin);
    if (GetParam().grows) {
        EXPECT_EQ(device.writeData("END", 3), 3u);
        EXPECT_EQ(device.size(), 15);
        const Bytes expected{'a', 'b', 'X', 'Y', 'Z', 'f', 'g', 'h', 0, 0, 0, 0, 'E', 'N', 'D'};
        EXPECT_EQ(subject->contents(), expected) << "the gap reads as zeros";
        device.seek(0, IoDevice::Begin);
        EXPECT_EQ(readAll(device, 100), expected);
    } else {
        EXPECT_EQ(device.writeData("END", 3), 0u) << "fixed memory never grows";
        EXPECT_FALSE(device.putChar('!'));
        device.seek(6, IoDevice::Begin);
        EXPECT_EQ(device.writeData("123456", 6), 2u) << "a write is cut at the end of the memory";
        EXPECT_EQ(subject->contents(), (Bytes{'a', 'b', 'X', 'Y', 'Z', 'f', '1', '2'}));
    }
}

// A chunk copied within one device: the source is the device's own mapped bytes, overlapping the target or
// about to move when a buffer grows.
TEST_P(ByteDevice, WritesFromItsOwnMappedBytes) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update));
    const char* mapped = static_cast<const char*>(device.map(0, 8));
    ASSERT_NE(mapped, nullptr);
    device.seek(2, IoDevice::Begin);
    EXPECT_EQ(device.writeData(mapped, 6), 6u);
    EXPECT_EQ(subject->contents(), (Bytes{'a', 'b', 'a', 'b', 'c', 'd', 'e', 'f'}));
    device.unmap(const_cast<char*>(mapped));
    if (!GetParam().grows)
        return;
    mapped = static_cast<const char*>(device.map(0, 8));
    ASSERT_NE(mapped, nullptr);
    device.seek(0, IoDevice::End);
    // Large enough that a growing buffer must move its bytes before it copies them.
    Bytes expected = subject->contents();
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(device.writeData(mapped, 8), 8u);
        expected.insert(expected.end(), {'a', 'b', 'a', 'b', 'c', 'd', 'e', 'f'});
        if (!GetParam().systemErrors) // a buffer's bytes, and so its mapping, move as it grows
            mapped = static_cast<const char*>(device.map(0, 8));
    }
    EXPECT_EQ(subject->contents(), expected);
    device.unmap(const_cast<char*>(mapped));
}

TEST_P(ByteDevice, AppendWritesAtTheEnd) {
    if (!GetParam().appends)
        GTEST_SKIP() << "fixed memory cannot append";
    for (IoDevice::OpenMode mode : {IoDevice::Append, IoDevice::Append | IoDevice::Update}) {
        auto subject = make(Bytes{'a', 'b', 'c'});
        IoBaseDevice& device = subject->device();
        ASSERT_TRUE(device.open(mode));
        // A buffer starts appending at position 0; a file stream opened for appending alone may start at its
        // end.
        if (!GetParam().systemErrors) {
            EXPECT_EQ(device.pos(), 0) << std::hex << mode;
        }
        EXPECT_TRUE(device.putChar('d'));
        EXPECT_EQ(device.pos(), 4);
        device.seek(0, IoDevice::Begin);
        EXPECT_EQ(device.writeData("e", 1), 1u);
        EXPECT_EQ(subject->contents(), (Bytes{'a', 'b', 'c', 'd', 'e'})) << "append never overwrites";
    }
}

TEST_P(ByteDevice, DirectionAndClosedChecks) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    char buffer[4];
    ZAN_EXPECT_THROW_MSG(device.readData(buffer, 1), std::logic_error, "device is not open for read");
    ZAN_EXPECT_THROW_MSG(device.writeData(buffer, 1), std::logic_error, "device is not open for write");
    ZAN_EXPECT_THROW_MSG(device.pos(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.atEnd(), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.seek(0, IoDevice::Begin), std::logic_error, "device is not open");
    ZAN_EXPECT_THROW_MSG(device.map(0, 1), std::logic_error, "device is not open for read");

    ASSERT_TRUE(device.open(IoDevice::Read));
    ZAN_EXPECT_THROW_MSG(device.writeData(buffer, 1), std::logic_error, "device is not open for write");
    device.close();
    device.close(); // closing a closed device does nothing
    const IoDevice::OpenMode writeOnly = GetParam().appends ? IoDevice::Append : IoDevice::Write;
    ASSERT_TRUE(device.open(writeOnly));
    ZAN_EXPECT_THROW_MSG(device.readData(buffer, 1), std::logic_error, "device is not open for read");
    ZAN_EXPECT_THROW_MSG(device.map(0, 1), std::logic_error, "device is not open for read");
}

TEST_P(ByteDevice, MapAndUnmap) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read));
    char* whole = static_cast<char*>(device.map(0, 8));
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(Bytes(whole, whole + 8), kAbcdefgh);
    char* tail = static_cast<char*>(device.map(5, 3));
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(Bytes(tail, tail + 3), (Bytes{'f', 'g', 'h'}));
    ZAN_EXPECT_THROW_MSG(device.map(-1, 1), std::logic_error,
                         GetParam().systemErrors ? "device is not open for read" : "cannot map beyond end");
    ZAN_EXPECT_THROW_MSG(device.unmap(tail + 3), std::logic_error, "invalid address");
    device.unmap(tail);
    device.unmap(whole);
}

TEST_P(ByteDevice, MapBeyondTheEndIsRefused) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read));
    if (GetParam().systemErrors) {
        // A mapping past the file's end would fault on access; the file device refuses it.
        EXPECT_EQ(device.map(1, 8), nullptr);
        EXPECT_EQ(device.map(4096, 1), nullptr);
    } else {
        ZAN_EXPECT_THROW_MSG(device.map(1, 8), std::logic_error, "cannot map beyond end");
        ZAN_EXPECT_THROW_MSG(device.map(9, 0), std::logic_error, "cannot map beyond end");
        ZAN_EXPECT_THROW_MSG(device.map(2, ~0ul), std::logic_error, "cannot map beyond end");
    }
}

TEST_P(ByteDevice, HugePositionsCannotOverflow) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    ASSERT_TRUE(device.open(IoDevice::Read | IoDevice::Update));
    char buffer[4];
    if (!GetParam().systemErrors) {
        device.seek(std::numeric_limits<long>::max(), IoDevice::Begin);
        EXPECT_EQ(device.readData(buffer, 4), 0u);
        EXPECT_THROW(device.seek(1, IoDevice::Current), std::invalid_argument);
        if (GetParam().grows)
            EXPECT_THROW(device.writeData(buffer, ~0ul), std::bad_alloc);
        else
            EXPECT_EQ(device.writeData(buffer, ~0ul), 0u);
        EXPECT_EQ(subject->contents(), kAbcdefgh);
    }
    device.seek(0, IoDevice::Begin);
    EXPECT_EQ(device.readData(buffer, 4), 4u);
}

TEST_P(ByteDevice, SetOpenModeOnlyStoresTheMode) {
    auto subject = make();
    IoBaseDevice& device = subject->device();
    device.setOpenMode(IoDevice::Read);
    EXPECT_TRUE(device.isOpen());
    EXPECT_TRUE(device.isReadible());
    ZAN_EXPECT_THROW_MSG(device.open(IoDevice::Read), std::logic_error, "already open");
}

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

INSTANTIATE_TEST_SUITE_P(AllDevices, ByteDevice, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) { return info.param.name; });

} // namespace

TEST(MemoryBuffer, SetDataCopiesEvenFromItsOwnBytes) {
    Zan::IoMemoryBuffer::Vector source{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    Zan::IoMemoryBuffer buffer(std::move(source));
    EXPECT_EQ(source.size(), 8u) << "the vector keeps its bytes";
    ASSERT_TRUE(buffer.open(IoDevice::Read));
    char byte = 0;
    buffer.seek(0, IoDevice::End);
    EXPECT_FALSE(buffer.getChar(&byte));
    EXPECT_TRUE(buffer.atEnd());
    // A tail of its own bytes becomes the whole buffer.
    buffer.setData(3, buffer.data() + 5);
    EXPECT_FALSE(buffer.atEnd());
    EXPECT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), (Bytes{'f', 'g', 'h'}));
    buffer.setData(buffer.size(), buffer.data());
    EXPECT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), (Bytes{'f', 'g', 'h'}));
    ZAN_EXPECT_THROW_MSG(buffer.setData(3, buffer.data() + 1), std::invalid_argument,
                         "IoMemoryBuffer::setData: source runs past the buffer's end");
    buffer.setData(source);
    EXPECT_EQ(buffer.size(), 8);
    buffer.setData(2, nullptr);
    EXPECT_EQ(buffer.size(), 2);
    EXPECT_EQ(buffer.data()[1], 'b') << "no data: the kept bytes stay";
}
