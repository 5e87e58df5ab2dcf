// Damaged container files: mutations of a valid file made by our writer each fail cleanly, with the open
// code or the exception the damage calls for, and never crash, hang or allocate what the file claims.

#include "ChunkedTestSupport.h"
#include <support/ChunkedWalk.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace chunked_test;

namespace {

constexpr std::uint64_t huge = 1ULL << 63;

struct Valid {
    Bytes bytes;
    long mapPos = 0, attributesPos = 0, framePos = 0;
    // Offset of the position field of the named entry in the map.
    std::size_t entry(const std::string& name) const {
        return bytes.find(name, static_cast<std::size_t>(mapPos) + 68) + name.size();
    }
};

const Valid& valid() {
    static const Valid file = [] {
        auto device = memoryDevice();
        device->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr);
        device->storeChunk("ImageAttributesLV!", std::string(100, 'a').data(), 100);
        device->storeChunk("ImageDataSeq|0!", nullptr, 5000);
        device->storeChunk("CustomData|X!", "xyz", 3);
        device->storeChunk("ImageTextInfoLV!", "first text", 10);
        device->storeChunk("ImageTextInfoLV!", "the second text here", 20);
        Valid v;
        device->hasChunkInMap("ImageAttributesLV!", &v.attributesPos, nullptr);
        device->hasChunkInMap("ImageDataSeq|0!", &v.framePos, nullptr);
        device->close();
        v.bytes = contents(*device);
        v.mapPos = static_cast<long>(getLe(v.bytes, v.bytes.size() - 8, 8));
        return v;
    }();
    return file;
}

// Opens bytes for reading with the map, then reads everything there is; returns the open code.
int openAndWalk(const Bytes& bytes, const std::function<void(Chunked&)>& check = {}) {
    auto device = memoryDevice(bytes);
    int err = 12345;
    bool opened = false;
    EXPECT_NO_THROW(opened = device->open(Zan::IoDevice::Read, 1, &err));
    EXPECT_EQ(opened, err == 0);
    chunked_walk::walk(*device);
    if (check && device->isOpen())
        check(*device);
    return err;
}

void expectBadHeader(Chunked& device, const std::string& name, long pos) {
    auto message = [](const std::function<void()>& operation) -> std::string {
        try {
            operation();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no exception";
    };
    const std::string bad = "error reading chunk header";
    EXPECT_EQ(message([&] { device.loadChunk(name); }), bad);
    EXPECT_EQ(message([&] { device.chunkDataOffset(name); }), bad);
    EXPECT_EQ(message([&] { device.mapChunkData(name, nullptr); }), bad);
    EXPECT_EQ(message([&] { device.readChunk(pos, nullptr); }), bad);
    char buffer[8];
    EXPECT_EQ(message([&] { device.readChunk(pos, nullptr, buffer, sizeof buffer); }), bad);
    EXPECT_FALSE(device.nextChunk(pos, nullptr));
}

} // namespace

TEST(ChunkedCorruption, ValidFileReadsWhole) {
    const Valid& v = valid();
    auto device = memoryDevice(v.bytes);
    ASSERT_TRUE(device->open(Zan::IoDevice::Read, 1, nullptr));
    const auto summary = chunked_walk::walk(*device);
    EXPECT_EQ(summary.walked, 7); // signature, five chunks, map
    EXPECT_EQ(summary.named, 4);
    EXPECT_EQ(summary.failures, 0);
}

TEST(ChunkedCorruption, TruncatedFiles) {
    const Valid& v = valid();
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < 300; ++n)
        lengths.push_back(n);
    for (std::size_t n = 300; n < v.bytes.size(); n += 97)
        lengths.push_back(n);
    for (long boundary = 4096; boundary < static_cast<long>(v.bytes.size()); boundary += 4096)
        for (long n : {boundary - 1, boundary, boundary + 1, boundary + 16, boundary + 68})
            lengths.push_back(static_cast<std::size_t>(n));
    for (std::size_t n = v.bytes.size() - 48; n < v.bytes.size(); ++n)
        lengths.push_back(n);
    for (std::size_t n : lengths) {
        SCOPED_TRACE("truncated to " + std::to_string(n) + " bytes");
        EXPECT_EQ(openAndWalk(v.bytes.substr(0, n)), n < 112 ? 102 : -200);
    }
}

TEST(ChunkedCorruption, MutationsOfAValidFile) {
    const Valid& v = valid();
    const std::size_t size = v.bytes.size();
    const std::size_t a = static_cast<std::size_t>(v.attributesPos), m = static_cast<std::size_t>(v.mapPos);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> mutate;
        int code;
        std::function<void(Chunked&)> check;
    };
    auto put = [](std::size_t at, std::uint64_t value, int width) {
        return [=](Bytes& b) { putLe(b, at, value, width); };
    };
    auto noNames = [](Chunked& d) { EXPECT_TRUE(d.chunkNames().empty()); };
    auto attributesUnreadable = [&](Chunked& d) {
        expectBadHeader(d, "ImageAttributesLV!", v.attributesPos);
    };
    const Case cases[] = {
        // Signature chunk.
        {"signature magic", [](Bytes& b) { b[0] ^= 1; }, 102, {}},
        {"signature name length", put(4, 0xFFFFFFFF, 4), 102, {}},
        {"signature data length", put(8, huge, 8), 102, {}},
        {"signature name", [](Bytes& b) { b[20] = 'x'; }, 102, {}},
        {"major version 0", [](Bytes& b) { b[51] = '0'; }, 102, {}},
        {"oldest format box",
         [](Bytes& b) { b.replace(0, 8, "\x00\x00\x00\x0C\x6A\x50\x20\x20", 8); },
         100,
         {}},
        // Trailer and the map position M.
        {"trailer text", [=](Bytes& b) { b[size - 40] ^= 1; }, -200, {}},
        {"M past the end", put(size - 8, size + 4096, 8), -200, {}},
        {"M at the last 16 bytes", put(size - 8, size - 16, 8), -200, {}},
        {"M huge", put(size - 8, huge + 4096, 8), -200, {}},
        {"M all ones", put(size - 8, ~0ULL, 8), -200, {}},
        {"M into the middle of a chunk", put(size - 8, a + 100, 8), -200, {}},
        {"M just past the map's header", put(size - 8, m + 16, 8), -200, {}},
        {"M at the signature chunk", put(size - 8, 0, 8), 0, noNames},
        {"M at a chunk without entries", put(size - 8, a, 8), 0, noNames},
        // The map chunk's header.
        {"map magic", [=](Bytes& b) { b[m] ^= 0x40; }, -200, {}},
        {"map name length 0", put(m + 4, 0, 4), -200, {}},
        {"map name length huge", put(m + 4, 0xFFFFFFF0, 4), -200, {}},
        {"map data length 0", put(m + 8, 0, 8), -200, {}},
        {"map data length one past the end", put(m + 8, size - m - 68 + 1, 8), -200, {}},
        {"map data length huge", put(m + 8, huge - 1, 8), -200, {}},
        {"map data length all ones", put(m + 8, ~0ULL, 8), -200, {}},
        // Map entries.
        {"entry position past the end", put(v.entry("CustomData|X!"), size, 8), -200, {}},
        {"entry position negative", put(v.entry("CustomData|X!"), ~0ULL - 4095, 8), -200, {}},
        {"entry size past the end", put(v.entry("CustomData|X!") + 8, size, 8), -200, {}},
        {"entry size huge", put(v.entry("CustomData|X!") + 8, huge - 1, 8), -200, {}},
        {"entry size negative", put(v.entry("CustomData|X!") + 8, ~0ULL - 4, 8), -200, {}},
        {"entry position into the middle of a chunk", put(v.entry("ImageAttributesLV!"), a + 100, 8), 0,
         [](Chunked& d) {
             EXPECT_TRUE(d.loadChunk("ImageAttributesLV!").empty());
             EXPECT_THROW(d.chunkDataOffset("ImageAttributesLV!"), std::runtime_error);
             EXPECT_THROW(d.mapChunkData("ImageAttributesLV!", nullptr), std::runtime_error);
         }},
        {"entry name loses its \"!\"", [&](Bytes& b) { b[v.entry("ImageTextInfoLV!") - 1] = '?'; }, 0,
         [](Chunked& d) {
             EXPECT_FALSE(d.hasChunk("ImageTextInfoLV!", nullptr));
             EXPECT_FALSE(d.hasChunk("ImageDataSeq|0!", nullptr)); // swallowed into the damaged name
             EXPECT_TRUE(d.hasChunk("CustomData|X!", nullptr));
         }},
        {"entry cut off by the map's signature",
         [&](Bytes& b) { b.replace(m + 68, 32, mapSignature); },
         0,
         {}},
        // Headers of listed chunks.
        {"chunk data length past the end", put(a + 8, size, 8), 0, attributesUnreadable},
        {"chunk data length huge", put(a + 8, huge + 1, 8), 0, attributesUnreadable},
        {"chunk name length past the end", put(a + 4, size, 4), 0, attributesUnreadable},
        {"chunk name length all ones", put(a + 4, 0xFFFFFFFF, 4), 0, attributesUnreadable},
        {"chunk name length 0", put(a + 4, 0, 4), 0,
         [](Chunked& d) {
             EXPECT_TRUE(d.loadChunk("ImageAttributesLV!").empty());
             EXPECT_THROW(d.chunkDataOffset("ImageAttributesLV!"), std::runtime_error);
         }},
        {"chunk magic", [=](Bytes& b) { b[a + 3] = 0; }, 0,
         [&](Chunked& d) {
             EXPECT_TRUE(d.loadChunk("ImageAttributesLV!").empty());
             EXPECT_FALSE(d.nextChunk(v.attributesPos, nullptr));
             long size = 0;
             EXPECT_TRUE(d.hasChunk("ImageAttributesLV!", &size));
             EXPECT_EQ(size, 100); // the size the map gives
         }},
        {"unknown size over a header that lies",
         [&](Bytes& b) {
             putLe(b, v.entry("ImageDataSeq|0!") + 8, static_cast<std::uint64_t>(v.framePos), 8);
             putLe(b, static_cast<std::size_t>(v.framePos) + 8, huge, 8);
         },
         0,
         [&](Chunked& d) {
             long size = 0;
             EXPECT_TRUE(d.hasChunk("ImageDataSeq|0!", &size));
             EXPECT_EQ(size, -1);
             expectBadHeader(d, "ImageDataSeq|0!", v.framePos);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = v.bytes;
        c.mutate(bytes);
        ASSERT_NE(bytes, v.bytes);
        EXPECT_EQ(openAndWalk(bytes, c.check), c.code);
    }
}
