// Operations of the chunked device: misuse and its messages, names the map cannot list, when the map is
// stored, checked writes, mappings and reserved chunks.

#include "ChunkedTestSupport.h"

#include <io/Exception.h>
#include <io/IoMapping.h>
#include <io/IoMemoryDevice.h>
#include <qpx/detail/QpxChunkedDeviceImpl.h>

#include <support/MappingCounter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

using namespace chunked_test;

namespace {

constexpr Zan::IoDevice::OpenMode Read = Zan::IoDevice::Read;
constexpr Zan::IoDevice::OpenMode Write = Zan::IoDevice::Write;
constexpr Zan::IoDevice::OpenMode Append = Zan::IoDevice::Append;
constexpr Zan::IoDevice::OpenMode Update = Zan::IoDevice::Update;

template <typename Exception>
void expectFailure(const std::function<void()>& operation, const std::string& message) {
    try {
        operation();
        ADD_FAILURE() << "no exception, expected \"" << message << "\"";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception type with \"" << e.what() << "\"";
    }
}

// A small file made by our writer: two chunks and a map.
Bytes smallFile() {
    auto device = memoryDevice();
    device->open(Write, 3, nullptr);
    device->storeChunk("ImageAttributesLV!", "attributes", 10);
    device->storeChunk("ImageTextInfoLV!", "text", 4);
    device->close();
    return contents(*device);
}

} // namespace

TEST(ChunkedDevice, MisuseIsReportedWithItsMessage) {
    const Bytes file = smallFile();
    auto closed = memoryDevice(file);
    auto reader = memoryDevice(file);
    ASSERT_TRUE(reader->open(Read, 1, nullptr));
    auto writer = memoryDevice();
    ASSERT_TRUE(writer->open(Write, 3, nullptr));
    char buffer[8];
    const std::string notOpen = "device is not open", notReadible = "device is not readible",
                      notWritable = "device is not writable";

    for (Chunked* device : {closed.get()}) {
        expectFailure<std::logic_error>([&] { device->chunkNames(); }, notOpen);
        expectFailure<std::logic_error>([&] { device->hasChunk("ImageTextInfoLV!", nullptr); }, notOpen);
        expectFailure<std::logic_error>([&] { device->loadChunk("ImageTextInfoLV!"); }, notOpen);
        expectFailure<std::logic_error>([&] { device->chunkDataOffset("ImageTextInfoLV!"); }, notOpen);
        expectFailure<std::logic_error>([&] { device->mapChunkData("ImageTextInfoLV!", nullptr); }, notOpen);
        expectFailure<std::logic_error>([&] { device->setChunkIntoMap("A!", 0, 1); }, notOpen);
        expectFailure<std::logic_error>([&] { device->removeChunkFromMap("A!"); }, notOpen);
        expectFailure<std::logic_error>([&] { device->clearChunkMap(); }, notOpen);
        expectFailure<std::logic_error>([&] { device->nextChunk(0, nullptr); }, notReadible);
        expectFailure<std::logic_error>([&] { device->readChunk(0, nullptr); }, notReadible);
        expectFailure<std::logic_error>([&] { device->loadChunkMap(); }, notReadible);
        expectFailure<std::logic_error>([&] { device->newChunk(); }, notWritable);
        expectFailure<std::logic_error>([&] { device->storeChunkMap(); }, notWritable);
    }
    expectFailure<std::logic_error>([&] { reader->newChunk(); }, notWritable);
    expectFailure<std::logic_error>([&] { reader->storeChunk("A!", "a", 1); }, notWritable);
    expectFailure<std::logic_error>([&] { reader->writeChunk(4096, "A!", "a", 1); }, notWritable);
    expectFailure<std::logic_error>([&] { reader->storeChunkMap(); }, notWritable);
    EXPECT_FALSE(reader->isChunkMapOk()); // a failed store leaves the map not ok
    expectFailure<std::logic_error>([&] { writer->nextChunk(0, nullptr); }, notReadible);
    expectFailure<std::logic_error>([&] { writer->readChunk(0, nullptr, buffer, sizeof buffer); },
                                    notReadible);

    expectFailure<std::invalid_argument>([&] { closed->writeChunk(4096, "A!", "a", 0); }, "size is zero");
    expectFailure<std::invalid_argument>([&] { writer->storeChunk("A!", "a", 0); }, "size is zero");
    for (long start : {100L, 4095L, -4096L})
        expectFailure<std::logic_error>([&] { writer->writeChunk(start, "A!", "a", 1); },
                                        "chunkStart is not properly aligned");
    EXPECT_THROW(writer->writeChunk(4096, "A!", nullptr, ~0UL), std::invalid_argument);

    expectFailure<std::runtime_error>([&] { reader->chunkDataOffset("ImageDataSeq|0!"); }, "no such chunk");
    EXPECT_EQ(reader->mapChunkData("ImageDataSeq|0!", nullptr), nullptr);
    EXPECT_TRUE(reader->loadChunk("ImageDataSeq|0!").empty());
    long size = 99;
    EXPECT_FALSE(reader->hasChunk("ImageDataSeq|0!", &size));
    EXPECT_EQ(size, 99);
}

TEST(ChunkedDevice, ReadsOfAChunkByPosition) {
    const Bytes file = smallFile();
    auto device = memoryDevice(file);
    ASSERT_TRUE(device->open(Read, 1, nullptr));
    long pos = 0, size = 0;
    ASSERT_TRUE(device->hasChunkInMap("ImageAttributesLV!", &pos, &size));
    EXPECT_EQ(pos, 4096);
    EXPECT_EQ(size, 10);
    std::string name;
    char head[4] = {};
    EXPECT_EQ(device->readChunk(pos, &name, head, sizeof head), 4u);
    EXPECT_EQ(name, "ImageAttributesLV!");
    EXPECT_EQ(std::string(head, 4), "attr");
    EXPECT_EQ(device->readChunk(pos, nullptr, nullptr, 100), 0u);
    // No chunk at a position: no data and no name.
    for (long bad : {-1L, 1L, 4097L, static_cast<long>(file.size()), 1L << 60}) {
        name = "stale";
        EXPECT_TRUE(device->readChunk(bad, &name).empty());
        EXPECT_EQ(name, "");
        EXPECT_EQ(device->readChunk(bad, &name, head, sizeof head), 0u);
        EXPECT_FALSE(device->nextChunk(bad, nullptr));
    }
    EXPECT_EQ(device->chunkDataOffset("ImageAttributesLV!"), 4096 + 16 + 4096 - 16 - 10);
    EXPECT_EQ(device->chunkType(""), 0);
    EXPECT_EQ(device->chunkType("ImageAttributesLV!"), 1);
    EXPECT_EQ(device->chunkType(mapSignature), 1);
    EXPECT_EQ(device->chunkType(fileSignature), 2);
    EXPECT_EQ(device->chunkType("QPX FILEMAP SIGNATURE NAME 0001!"), 3);
}

TEST(ChunkedDevice, NamesTheMapCannotListAreRefused) {
    const Bytes file = smallFile();
    auto device = memoryDevice(file);
    ASSERT_TRUE(device->open(Read | Update, 3, nullptr));
    const std::string refused[] = {"NoBang", "Two!Bangs!", "!Lead!", std::string("Zero\0Byte!", 10),
                                   "",       mapSignature};
    for (const auto& name : refused) {
        SCOPED_TRACE(name);
        EXPECT_THROW(device->storeChunk(name, "x", 1), std::invalid_argument);
        EXPECT_THROW(device->setChunkIntoMap(name, 4096, 1), std::invalid_argument);
    }
    EXPECT_TRUE(sameBytes(contents(*device), file));
    EXPECT_EQ(device->chunkNames().size(), 2u);
    for (const std::string name : {"!", "\xC3\xA9t\xC3\xA9!", "CustomData|a b|c!"})
        EXPECT_NO_THROW(device->storeChunk(name, "y", 1));
    device->close();
    auto reread = memoryDevice(contents(*device));
    ASSERT_TRUE(reread->open(Read, 1, nullptr));
    EXPECT_EQ(reread->chunkNames().size(), 5u);
    EXPECT_EQ(reread->loadChunk("\xC3\xA9t\xC3\xA9!").size(), 1u);
}

TEST(ChunkedDevice, MapIsStoredOnCloseOnlyWhenItIsTheFilesOwn) {
    const Bytes file = smallFile();
    TempDir dir("store");
    struct Case {
        const char* what;
        unsigned options;
        bool loadExplicitly;
        bool stored;
    };
    const Case cases[] = {
        {"option 0x2 alone: the map is loaded for the one stored on close", 2, false, true},
        {"option 0x2 after an explicit load", 2, true, true},
        {"options 0x3", 3, false, true},
        {"option 0x1 alone", 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "s.qpx", file);
        auto device = fileDevice(dir / "s.qpx");
        ASSERT_TRUE(device->open(Read | Update, c.options, nullptr));
        if (c.loadExplicitly) {
            ASSERT_TRUE(device->loadChunkMap());
        }
        device->close();
        const Bytes after = readFile(dir / "s.qpx");
        EXPECT_EQ(after.size(), file.size() + (c.stored ? 4096 : 0));
        EXPECT_EQ(after.substr(0, file.size()), file);
        ASSERT_TRUE(device->open(Read, 1, nullptr));
        EXPECT_EQ(device->chunkNames(), (std::vector<std::string>{"ImageAttributesLV!", "ImageTextInfoLV!"}));
        device->close();
    }
}

TEST(ChunkedDevice, FailedStoreOnCloseIsReportedAndTheDeviceStillCloses) {
    Bytes file = smallFile();
    // Fixed memory that holds the file exactly: there is no room for another map.
    auto openFull = [&file] {
        auto device =
            std::make_unique<Chunked>(std::make_unique<Zan::IoMemoryDevice>(file.data(), file.size()));
        EXPECT_TRUE(device->open(Read | Update, 3, nullptr));
        return device;
    };
    auto device = openFull();
    expectFailure<std::runtime_error>([&] { device->close(); }, "Could not write all data");
    EXPECT_FALSE(device->isOpen());
    EXPECT_FALSE(device->isChunkMapOk());
    EXPECT_NO_THROW(device->close());
    // The destructor cannot report and stays silent.
    EXPECT_NO_THROW(openFull().reset());
}

// A growable buffer over a disk that fills up: nothing is written at or past the cap.
class CappedBuffer : public Zan::IoMemoryBuffer {
public:
    explicit CappedBuffer(long cap) : cap_(cap) {}
    unsigned long writeData(const void* buffer, unsigned long n) override {
        const long at = pos();
        if (at >= cap_)
            return 0;
        return IoMemoryBuffer::writeData(buffer,
                                         std::min<unsigned long>(n, static_cast<unsigned long>(cap_ - at)));
    }

private:
    long cap_;
};

TEST(ChunkedDevice, EveryWriteOfAChunkIsChecked) {
    // "Name!" with 100 data bytes at 4096: header to 4112, name to 4117, 3975 padding bytes, data 8092-8192.
    const std::string data(100, 'd');
    struct Case {
        const char* what;
        long cap;
        bool reserve;
    };
    const Case cases[] = {
        {"padding up to the chunk", 200, false},  {"header", 4096 + 8, false}, {"name", 4096 + 16 + 2, false},
        {"name padding", 4096 + 21 + 100, false}, {"data", 8191, false},       {"reserving byte", 8191, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Chunked device(std::make_unique<CappedBuffer>(c.cap));
        ASSERT_TRUE(device.open(Write | Update, 3, nullptr));
        expectFailure<std::runtime_error>(
            [&] { device.storeChunk("Name!", c.reserve ? nullptr : data.data(), data.size()); },
            "Could not write all data");
        EXPECT_FALSE(device.hasChunk("Name!", nullptr));
        EXPECT_LE(device.device()->size(), c.cap);
        // Nor is there room for the map.
        expectFailure<std::runtime_error>([&] { device.close(); }, "Could not write all data");
        EXPECT_FALSE(device.isOpen());
    }
    for (bool reserve : {false, true}) {
        Chunked device(std::make_unique<CappedBuffer>(8192));
        ASSERT_TRUE(device.open(Write | Update, 0, nullptr));
        EXPECT_EQ(device.storeChunk("Name!", reserve ? nullptr : data.data(), data.size()), data.size());
        EXPECT_EQ(device.device()->size(), 8192);
    }
}

// A file that another program cuts short while it is read: large reads come back short.
class ShrinkingBuffer : public Zan::IoMemoryBuffer {
public:
    using IoMemoryBuffer::IoMemoryBuffer;
    unsigned long readData(void* buffer, unsigned long n) override {
        return IoMemoryBuffer::readData(buffer, n > 5000 ? n / 2 : n);
    }
};

TEST(ChunkedDevice, ShortReadGivesOnlyTheBytesRead) {
    auto writer = memoryDevice();
    ASSERT_TRUE(writer->open(Write, 3, nullptr));
    const std::string data(10000, 'z');
    writer->storeChunk("CustomData|Big!", data.data(), data.size());
    writer->close();
    const Bytes file = contents(*writer);
    Chunked device(std::make_unique<ShrinkingBuffer>(file.size(), file.data()));
    ASSERT_TRUE(device.open(Read, 1, nullptr));
    EXPECT_EQ(device.loadChunk("CustomData|Big!").size(), 5000u);
}

TEST(ChunkedDevice, AThrowWhileAChunkIsMappedLeavesNoMapping) {
    auto owned = std::make_unique<ZanTest::MappingCounter>();
    const ZanTest::MappingCounter& buffer = *owned;
    Chunked device(std::move(owned));
    ASSERT_TRUE(device.open(Write | Update, 3, nullptr));
    const std::string frame(300, 'f');
    device.storeChunk("ImageDataSeq|0!", frame.data(), frame.size());
    try {
        unsigned long size = 0;
        const Zan::IoMapping mapped(*device.device(), device.mapChunkData("ImageDataSeq|0!", &size));
        ASSERT_TRUE(mapped);
        EXPECT_EQ(std::string(static_cast<const char*>(mapped.get()), size), frame);
        EXPECT_EQ(buffer.liveMappings(), 1);
        throw Zan::Exception::Aborted();
    } catch (const Zan::Exception::Aborted&) {
    }
    EXPECT_EQ(buffer.liveMappings(), 0);
}

TEST(ChunkedDevice, MappedChunkDataReadsAndWritesTheFile) {
    TempDir dir("map");
    auto device = fileDevice(dir / "m.qpx");
    ASSERT_TRUE(device->open(Write | Update, 3, nullptr));
    const std::string frame = "0123456789abcdef";
    device->storeChunk("ImageDataSeq|0!", nullptr, 5000);
    device->storeChunk("ImageDataSeq|1!", frame.data(), frame.size());
    unsigned long size = 0;
    auto* reserved = static_cast<char*>(device->mapChunkData("ImageDataSeq|0!", &size));
    ASSERT_NE(reserved, nullptr);
    ASSERT_EQ(size, 5000u);
    EXPECT_EQ(std::string(reserved, size), zeros(5000));
    std::memcpy(reserved + 4990, "written!!!", 10);
    device->unmapChunkData(reserved);
    auto* mapped = static_cast<const char*>(device->mapChunkData("ImageDataSeq|1!", &size));
    ASSERT_NE(mapped, nullptr);
    EXPECT_EQ(std::string(mapped, size), frame);
    device->close();
    device->unmapChunkData(const_cast<char*>(mapped)); // a file mapping outlives the open stream
    EXPECT_THROW(device->unmapChunkData(const_cast<char*>(mapped)), std::logic_error);

    ASSERT_TRUE(device->open(Read, 1, nullptr));
    const auto loaded = device->loadChunk("ImageDataSeq|0!");
    EXPECT_EQ(std::string(loaded.end() - 10, loaded.end()), "written!!!");
    char row[4];
    EXPECT_EQ(device->readChunkData(device->chunkDataOffset("ImageDataSeq|1!") + 12, row, 4), 4u);
    EXPECT_EQ(std::string(row, 4), "cdef");
}

TEST(ChunkedDevice, AppendModeRefusesWritesThatWouldLandElsewhere) {
    TempDir dir("appendwrite");
    writeFile(dir / "a.qpx", smallFile());
    auto device = fileDevice(dir / "a.qpx");
    ASSERT_TRUE(device->open(Append | Update, 3, nullptr));
    EXPECT_EQ(device->storeChunk("CustomData|A!", "abc", 3), 3u);
    EXPECT_THROW(device->storeChunk("CustomData|B!", nullptr, 100), std::runtime_error);
    const long offset = device->chunkDataOffset("ImageTextInfoLV!");
    EXPECT_EQ(device->writeChunkData(offset, "TEXT", 4), 0u);
    device->close();
    ASSERT_TRUE(device->open(Read, 1, nullptr));
    const auto text = device->loadChunk("ImageTextInfoLV!");
    EXPECT_EQ(std::string(text.begin(), text.end()), "text");
    const auto added = device->loadChunk("CustomData|A!");
    EXPECT_EQ(std::string(added.begin(), added.end()), "abc");
}

TEST(ChunkedDevice, MapEditsInMemory) {
    auto device = memoryDevice(smallFile());
    ASSERT_TRUE(device->open(Read, 1, nullptr));
    EXPECT_TRUE(device->setChunkIntoMap("CustomData|Q!", 8192, -1));
    EXPECT_TRUE(device->setChunkIntoMap("CustomData|P!", 8192, 4));
    long size = 0;
    EXPECT_TRUE(device->hasChunk("CustomData|Q!", &size));
    EXPECT_EQ(size, 4); // read from the header at 8192
    EXPECT_EQ(device->chunkNames(), (std::vector<std::string>{"ImageAttributesLV!", "CustomData|P!",
                                                              "CustomData|Q!", "ImageTextInfoLV!"}));
    EXPECT_TRUE(device->removeChunkFromMap("CustomData|P!"));
    EXPECT_FALSE(device->removeChunkFromMap("CustomData|P!"));
    EXPECT_TRUE(device->clearChunkMap());
    EXPECT_TRUE(device->chunkNames().empty());
    EXPECT_TRUE(device->isChunkMapOk());
    EXPECT_TRUE(device->loadChunkMap());
    EXPECT_EQ(device->chunkNames().size(), 2u);

    // A file being written anew has no map to load.
    auto created = memoryDevice();
    ASSERT_TRUE(created->open(Write | Update, 0, nullptr));
    created->storeChunk("CustomData|A!", "a", 1);
    EXPECT_TRUE(created->loadChunkMap());
    EXPECT_TRUE(created->chunkNames().empty());
    EXPECT_FALSE(created->isChunkMapOk());
}

TEST(ChunkedDevice, AdoptsAnImplementation) {
    Chunked adopted(std::make_unique<Chunked::Impl>(std::make_unique<Zan::IoMemoryBuffer>()));
    ASSERT_TRUE(adopted.open(Write, 3, nullptr));
    EXPECT_TRUE(adopted.isTruncated());
    EXPECT_FALSE(adopted.isSequential());
    adopted.close();
    EXPECT_EQ(contents(adopted).size(), 8192u);
    Chunked empty(std::unique_ptr<Chunked::Impl>{});
    EXPECT_FALSE(empty.open(Read, 1, nullptr));
}
