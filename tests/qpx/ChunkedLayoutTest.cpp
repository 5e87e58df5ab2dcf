// Byte-exact layouts of container files made by the chunked device, against layouts computed by hand.

#include "ChunkedTestSupport.h"

#include <gtest/gtest.h>

#include <array>

using namespace chunked_test;

namespace {

constexpr Zan::IoDevice::OpenMode Read = Zan::IoDevice::Read;
constexpr Zan::IoDevice::OpenMode Write = Zan::IoDevice::Write;
constexpr Zan::IoDevice::OpenMode Update = Zan::IoDevice::Update;

std::string pattern(std::size_t n, int seed = 1) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed * 17) % 251);
    return s;
}

void expectEmptyCreatedFile(const Bytes& file) {
    ASSERT_EQ(file.size(), 8192u);
    // Signature chunk: header, name, "Ver3.0" and zero bytes up to 112, then zero bytes up to 4096.
    EXPECT_EQ(getLe(file, 0, 4), magic);
    EXPECT_EQ(getLe(file, 4, 4), 32u);
    EXPECT_EQ(getLe(file, 8, 8), 64u);
    EXPECT_EQ(file.substr(16, 32), fileSignature);
    EXPECT_EQ(file.substr(48, 64), "Ver3.0" + zeros(58));
    EXPECT_EQ(file.substr(112, 4096 - 112), zeros(4096 - 112));
    // Map chunk at 4096: name padding exactly 20, D = 4028, the chunk ends at 8192.
    EXPECT_EQ(getLe(file, 4096, 4), magic);
    EXPECT_EQ(getLe(file, 4100, 4), 52u);
    EXPECT_EQ(getLe(file, 4104, 8), 4028u);
    EXPECT_EQ(file.substr(4112, 52), mapSignature + zeros(20));
    EXPECT_EQ(file.substr(4164, 40), mapSignature + le64(4096));
    EXPECT_EQ(file.substr(4204, 3948), zeros(3948));
    EXPECT_EQ(file.substr(8192 - 40), mapSignature + le64(4096));
    Layout layout;
    layout.signature().map({});
    EXPECT_TRUE(sameBytes(file, layout.bytes));
}

} // namespace

TEST(ChunkedLayout, EmptyCreatedFileInMemoryAndOnDisk) {
    auto memory = memoryDevice();
    int err = -1;
    ASSERT_TRUE(memory->open(Write, 3, &err));
    EXPECT_EQ(err, 0);
    memory->close();
    expectEmptyCreatedFile(contents(*memory));

    TempDir dir("empty");
    for (auto mode : {Write, Write | Update}) {
        auto file = fileDevice(dir / "empty.qpx");
        ASSERT_TRUE(file->open(mode, 3, nullptr));
        file->close();
        expectEmptyCreatedFile(readFile(dir / "empty.qpx"));
    }
}

TEST(ChunkedLayout, NamePaddingEndsEveryChunkOnAMultipleOf4096) {
    struct Case {
        std::string name;
        std::size_t dataSize;
        std::uint32_t nameLength;
        std::size_t chunkBytes;
    };
    const std::string ten = "Custom|ab!";
    const Case cases[] = {
        {"A", 1, 4079, 4096},                           // pad 4078
        {ten, 4060 - ten.size(), 10 + 20, 4096},        // n + d = 4060: pad 20
        {ten, 4061 - ten.size(), 10 + 4115, 8192},      // n + d = 4061: pad 4115
        {"ImageDataSeq|0!", 8 + 4096, 15 + 4057, 8192}, // 15 + 4104 + 36 = 4155 -> 8192
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " with " + std::to_string(c.dataSize) + " data bytes");
        const std::string data = pattern(c.dataSize);
        for (bool reserve : {false, true}) {
            auto device = memoryDevice();
            ASSERT_TRUE(device->open(Write | Update, 0, nullptr));
            const long pos = device->newChunk();
            ASSERT_EQ(pos, 4096);
            ASSERT_EQ(device->writeChunk(pos, c.name, reserve ? nullptr : data.data(), data.size()),
                      data.size());
            const Bytes file = contents(*device);
            ASSERT_EQ(file.size(), 4096 + c.chunkBytes);
            EXPECT_EQ(getLe(file, 4096, 4), magic);
            EXPECT_EQ(getLe(file, 4100, 4), c.nameLength);
            EXPECT_EQ(getLe(file, 4104, 8), c.dataSize);
            EXPECT_EQ(file.substr(4112, c.nameLength), c.name + zeros(c.nameLength - c.name.size()));
            EXPECT_TRUE(sameBytes(file.substr(4112 + c.nameLength), reserve ? zeros(c.dataSize) : data));
            long next = 0;
            EXPECT_TRUE(device->nextChunk(pos, &next));
            EXPECT_EQ(next, static_cast<long>(4096 + c.chunkBytes));
            EXPECT_EQ(device->newChunk(), next);
            Layout layout;
            layout.signature();
            layout.chunk(c.name, reserve ? zeros(c.dataSize) : data);
            EXPECT_TRUE(sameBytes(file, layout.bytes));
        }
    }
}

TEST(ChunkedLayout, MapListsNamesDescendingWhileChunkNamesGoesByPosition) {
    auto device = memoryDevice();
    ASSERT_TRUE(device->open(Write, 3, nullptr));
    const std::string text = pattern(300, 1), attributes = pattern(5000, 2), metadata = pattern(20, 3);
    device->storeChunk("ImageTextInfoLV!", text.data(), text.size());
    device->storeChunk("ImageAttributesLV!", attributes.data(), attributes.size());
    device->storeChunk("ImageMetadataLV!", metadata.data(), metadata.size());
    EXPECT_EQ(device->chunkNames(),
              (std::vector<std::string>{"ImageTextInfoLV!", "ImageAttributesLV!", "ImageMetadataLV!"}));
    device->close();

    Layout layout;
    layout.signature();
    const long t = layout.chunk("ImageTextInfoLV!", text);
    const long a = layout.chunk("ImageAttributesLV!", attributes);
    const long m = layout.chunk("ImageMetadataLV!", metadata);
    EXPECT_EQ(t, 4096);
    EXPECT_EQ(a, 8192);
    EXPECT_EQ(m, 16384);
    layout.map({{"ImageTextInfoLV!", t, 300}, {"ImageMetadataLV!", m, 20}, {"ImageAttributesLV!", a, 5000}});
    EXPECT_TRUE(sameBytes(contents(*device), layout.bytes));

    auto reread = memoryDevice(layout.bytes);
    ASSERT_TRUE(reread->open(Read, 1, nullptr));
    EXPECT_EQ(reread->chunkNames(),
              (std::vector<std::string>{"ImageTextInfoLV!", "ImageAttributesLV!", "ImageMetadataLV!"}));
    const auto loaded = reread->loadChunk("ImageAttributesLV!");
    EXPECT_TRUE(sameBytes(std::string(loaded.begin(), loaded.end()), attributes));
}

TEST(ChunkedLayout, NameStoredTwiceKeepsOneEntryAndBothChunks) {
    auto device = memoryDevice();
    ASSERT_TRUE(device->open(Write | Update, 3, nullptr));
    device->storeChunk("ImageTextInfoLV!", "first", 5);
    device->storeChunk("ImageTextInfoLV!", "second", 6);
    device->close();

    Layout layout;
    layout.signature();
    const long first = layout.chunk("ImageTextInfoLV!", "first");
    const long second = layout.chunk("ImageTextInfoLV!", "second");
    layout.map({{"ImageTextInfoLV!", second, 6}});
    EXPECT_TRUE(sameBytes(contents(*device), layout.bytes));

    auto reread = memoryDevice(layout.bytes);
    ASSERT_TRUE(reread->open(Read, 1, nullptr));
    EXPECT_EQ(reread->chunkNames(), std::vector<std::string>{"ImageTextInfoLV!"});
    const auto now = reread->loadChunk("ImageTextInfoLV!");
    EXPECT_EQ(std::string(now.begin(), now.end()), "second");
    std::string name;
    const auto old = reread->readChunk(first, &name);
    EXPECT_EQ(name, "ImageTextInfoLV!");
    EXPECT_EQ(std::string(old.begin(), old.end()), "first");
}

TEST(ChunkedLayout, EntryOfUnknownSizeTakesItFromTheHeaderAndIsStoredAsUnknown) {
    Layout layout;
    layout.signature();
    const long pos = layout.chunk("ImageMetadataLV!", "0123456789");
    layout.map({{"ImageMetadataLV!", pos, pos}}); // position = size: unknown
    const std::string entry = "ImageMetadataLV!" + le64(4096);

    for (bool askSize : {false, true}) {
        SCOPED_TRACE(askSize ? "size asked before the store" : "size never asked");
        auto device = memoryDevice(layout.bytes);
        ASSERT_TRUE(device->open(Read | Update, 3, nullptr));
        long at = 0, size = 0;
        ASSERT_TRUE(device->hasChunkInMap("ImageMetadataLV!", &at, nullptr));
        EXPECT_EQ(at, 4096);
        if (askSize) {
            EXPECT_TRUE(device->hasChunk("ImageMetadataLV!", &size));
            EXPECT_EQ(size, 10);
        }
        device->close();
        // The new map is the last chunk; its first entry follows its header and name field.
        const Bytes file = contents(*device);
        const long mapPos = static_cast<long>(getLe(file, file.size() - 8, 8));
        EXPECT_EQ(file.substr(mapPos + 68, entry.size() + 8), entry + le64(askSize ? 10 : 4096));
    }

    auto device = memoryDevice(layout.bytes);
    ASSERT_TRUE(device->open(Read, 1, nullptr));
    long size = 0;
    EXPECT_TRUE(device->hasChunkInMap("ImageMetadataLV!", nullptr, &size));
    EXPECT_EQ(size, 10);
}

TEST(ChunkedLayout, DuplicateNameInAStoredMapKeepsTheFirstEntry) {
    Layout layout;
    layout.signature();
    const long first = layout.chunk("A!", "one");
    const long second = layout.chunk("A!", "other");
    layout.map({{"B!", second, 5}, {"A!", first, 3}, {"A!", second, 5}});
    auto device = memoryDevice(layout.bytes);
    ASSERT_TRUE(device->open(Read | Update, 3, nullptr));
    long pos = 0, size = 0;
    ASSERT_TRUE(device->hasChunkInMap("A!", &pos, &size));
    EXPECT_EQ(pos, first);
    EXPECT_EQ(size, 3);
    device->close();
    // Stored again, the name is listed once.
    const Bytes file = contents(*device);
    const long mapPos = static_cast<long>(getLe(file, file.size() - 8, 8));
    EXPECT_EQ(file.substr(mapPos + 68, 2 * 18 + 40),
              "B!" + le64(second) + le64(5) + "A!" + le64(first) + le64(3) + mapSignature + le64(mapPos));
}

TEST(ChunkedLayout, VersionTextOfTheSignatureChunk) {
    auto device = memoryDevice();
    device->setVersion({2, 17});
    ASSERT_TRUE(device->open(Write, 0, nullptr));
    device->close();
    const Bytes file = contents(*device);
    ASSERT_EQ(file.size(), 112u);
    EXPECT_EQ(file.substr(48), "Ver2.17" + zeros(57));

    auto reread = memoryDevice(file);
    ASSERT_TRUE(reread->open(Read, 0, nullptr));
    EXPECT_EQ(reread->version(), (std::array<int, 2>{2, 17}));
}

// The same writing session over a memory buffer and over a real file gives the same bytes, and every
// way of reading a chunk gives back what was written.
TEST(ChunkedLayout, RoundTripThroughMemoryAndFile) {
    const std::vector<std::pair<std::string, std::string>> chunks = {
        {"ImageAttributesLV!", pattern(1, 1)},       {"ImageMetadataLV!", pattern(4060 - 16, 2)},
        {"ImageTextInfoLV!", pattern(4061 - 16, 3)}, {"CustomData|Z!", pattern(70000, 4)},
        {"ImageMetadataSeqLV|0!", pattern(9, 5)},
    };
    const std::string frame = pattern(3 * 4096 + 5, 6);
    auto write = [&](Chunked& device) {
        ASSERT_TRUE(device.open(Write | Update, 3, nullptr));
        for (const auto& [name, data] : chunks)
            device.storeChunk(name, data.data(), data.size());
        // A reserved frame filled in afterwards by positioned writes.
        device.storeChunk("ImageDataSeq|0!", nullptr, frame.size());
        const long offset = device.chunkDataOffset("ImageDataSeq|0!");
        ASSERT_EQ(device.writeChunkData(offset + 7, frame.data() + 7, frame.size() - 7), frame.size() - 7);
        ASSERT_EQ(device.writeChunkData(offset, frame.data(), 7), 7u);
        device.close();
    };
    auto memory = memoryDevice();
    write(*memory);
    TempDir dir("roundtrip");
    auto file = fileDevice(dir / "round.qpx");
    write(*file);
    const Bytes bytes = readFile(dir / "round.qpx");
    ASSERT_TRUE(sameBytes(bytes, contents(*memory)));

    auto all = chunks;
    all.emplace_back("ImageDataSeq|0!", frame);
    for (auto mode : {Read, Read | Update}) {
        ASSERT_TRUE(file->open(mode, mode == Read ? 1 : 3, nullptr));
        for (const auto& [name, data] : all) {
            SCOPED_TRACE(name);
            const auto loaded = file->loadChunk(name);
            EXPECT_TRUE(sameBytes(std::string(loaded.begin(), loaded.end()), data));
            unsigned long size = 0;
            void* mapped = file->mapChunkData(name, &size);
            ASSERT_NE(mapped, nullptr);
            EXPECT_TRUE(sameBytes(std::string(static_cast<const char*>(mapped), size), data));
            file->unmapChunkData(mapped);
            std::string read(data.size(), '\0');
            EXPECT_EQ(file->readChunkData(file->chunkDataOffset(name), read.data(), read.size()),
                      data.size());
            EXPECT_TRUE(sameBytes(read, data));
        }
        // Walking from the start meets the signature chunk, every chunk and the map, in file order.
        std::vector<std::string> walked;
        long pos = 0, next = 0;
        std::string name;
        while (file->nextChunk(pos, &next)) {
            file->readChunk(pos, &name, nullptr, 0);
            walked.push_back(name);
            pos = next;
        }
        EXPECT_EQ(pos, static_cast<long>(bytes.size()));
        std::vector<std::string> expected{fileSignature};
        for (const auto& chunk : all)
            expected.push_back(chunk.first);
        expected.push_back(mapSignature);
        EXPECT_EQ(walked, expected);
        file->close();
        EXPECT_EQ(readFile(dir / "round.qpx").size(), bytes.size() + (mode == Read ? 0 : 4096));
    }
}

TEST(ChunkedLayout, NamesOfEveryLengthReadBackWithTheirData) {
    // Names shorter and longer than one read block, and a name field with no zero byte at all (the whole
    // field is the name), as another program may write it.
    Layout layout;
    layout.signature();
    std::vector<std::pair<std::string, long>> chunks;
    for (std::size_t n : {1u, 255u, 256u, 257u, 600u, 4000u}) {
        const std::string name = std::string(n - 1, 'n') + "!";
        chunks.emplace_back(name, layout.chunk(name, "data of " + std::to_string(n)));
    }
    layout.padTo4096();
    const long bare = static_cast<long>(layout.bytes.size());
    const std::string fieldName(300, 'f');
    layout.bytes += le32(magic) + le32(300) + le64(4) + fieldName + "abcd";
    auto device = memoryDevice(layout.bytes);
    ASSERT_TRUE(device->open(Zan::IoDevice::Read, 0, nullptr));
    for (const auto& [name, pos] : chunks) {
        SCOPED_TRACE(name.size());
        std::string read;
        const auto data = device->readChunk(pos, &read);
        EXPECT_EQ(read, name);
        EXPECT_EQ(std::string(data.begin(), data.end()), "data of " + std::to_string(name.size()));
        char buffer[64] = {};
        EXPECT_EQ(device->readChunk(pos, nullptr, buffer, sizeof buffer), data.size());
        EXPECT_EQ(std::string(buffer), "data of " + std::to_string(name.size()));
    }
    std::string read;
    const auto data = device->readChunk(bare, &read);
    EXPECT_EQ(read, fieldName);
    EXPECT_EQ(std::string(data.begin(), data.end()), "abcd");
}

TEST(ChunkedLayout, ChunksLoadIntoTheCallersBuffers) {
    auto device = memoryDevice();
    ASSERT_TRUE(device->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
    const std::string text = "text info", attributes(5000, 'a');
    device->storeChunk("ImageTextInfoLV!", text.data(), text.size());
    device->storeChunk("ImageAttributesLV!", attributes.data(), attributes.size());

    Zan::ByteVector data(10, 'x');
    ASSERT_TRUE(device->loadChunk("ImageAttributesLV!", data));
    EXPECT_EQ(std::string(data.begin(), data.end()), attributes);
    const char* const reused = data.data();
    ASSERT_TRUE(device->loadChunk("ImageTextInfoLV!", data));
    EXPECT_EQ(std::string(data.begin(), data.end()), text);
    EXPECT_EQ(data.data(), reused) << "a smaller chunk fits in the vector's storage";
    EXPECT_FALSE(device->loadChunk("NoSuchChunk!", data));
    EXPECT_TRUE(data.empty());

    char buffer[16] = {};
    EXPECT_EQ(device->readChunkData("ImageTextInfoLV!", buffer, sizeof buffer), text.size());
    EXPECT_EQ(std::string(buffer), text);
    EXPECT_EQ(device->readChunkData("ImageAttributesLV!", buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "aaaa");
    EXPECT_EQ(device->readChunkData("NoSuchChunk!", buffer, sizeof buffer), 0u);
}

TEST(ChunkedLayout, ChunksWrittenAfterALookupAreFound) {
    // The device remembers the byte device's size between lookups; its own writes and writes through
    // device() must not leave it behind.
    auto device = memoryDevice();
    ASSERT_TRUE(device->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
    device->storeChunk("First!", "1", 1);
    EXPECT_EQ(device->loadChunk("First!").size(), 1u);
    device->storeChunk("Second!", "22", 2);
    EXPECT_EQ(device->loadChunk("Second!").size(), 2u);

    const long pos = device->newChunk();
    EXPECT_EQ(device->loadChunk("First!").size(), 1u);
    Layout raw;
    const std::string third = "333";
    raw.chunk("Third!", third);
    Zan::IoDevice* bytes = device->device();
    bytes->seek(pos, Zan::IoDevice::Begin);
    ASSERT_EQ(bytes->writeData(raw.bytes.data(), raw.bytes.size()), raw.bytes.size());
    device->setChunkIntoMap("Third!", pos, 3);
    const auto loaded = device->loadChunk("Third!");
    EXPECT_EQ(std::string(loaded.begin(), loaded.end()), third);
}
