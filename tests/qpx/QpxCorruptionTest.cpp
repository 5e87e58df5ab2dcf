// Native files written by our devices, then damaged one thing at a time: frame chunks and metadata
// chunks. Each case names what must fail and how; nothing may crash, read past a chunk or report a
// partial frame as whole.

#include "QpxFileTestSupport.h"

#include <support/Expect.h>

#include <io/Exception.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFrameInflate.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

namespace {

using namespace native_test;
using chunked_test::getLe;
using chunked_test::putLe;
using nlohmann::json;
using Zan::IoDevice;
using Zan::IoImageDataDevice;

const NativeGeometry raw16{"gray16", 8, 4, 16, 16, 1}; // plane 64 bytes
const NativeGeometry zlib16{"gray16_zlib", 8, 4, 16, 16, 1, true};

// Positions of the chunks of a file, and where their data begin.
struct Chunks {
    Bytes& bytes;
    long position(const std::string& name) const {
        auto chunked = chunked_test::memoryDevice(bytes);
        chunked->open(IoDevice::Read, 1, nullptr);
        long pos = -1;
        chunked->hasChunkInMap(name, &pos, nullptr);
        return pos;
    }
    long data(const std::string& name) const {
        const long pos = position(name);
        return pos + 16 + static_cast<long>(getLe(bytes, static_cast<std::size_t>(pos) + 4, 4));
    }
    // The size field of the name's entry in the chunk map (the last copy of the name in the file).
    std::size_t mapSize(const std::string& name) const { return bytes.rfind(name) + name.size() + 8; }
};

std::string readMessage(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Opens frame 1 with mode and reads it whole; the failure's message, or "" when it read.
std::string frameOneMessage(QpxFileDevice& file, IoImageDataDevice::OpenMode mode) {
    return readMessage([&] {
        auto frame = file.imageData(1);
        if (!frame->open(mode))
            throw std::runtime_error("no frame");
        Bytes out(64, '\0');
        frame->packedImage(out.data(), 16);
    });
}

struct Damage {
    const char* name;
    const NativeGeometry* geometry;
    std::function<void(Chunks&)> apply;
    std::function<void(QpxFileDevice&)> check;
};

const std::string frame1 = "ImageDataSeq|1!";
const std::string badHeader = "error reading chunk header";
const std::string inflateFailed = "QPX ImageData: zlib uncompress failed";

// Frame 1 fails the same way mapped and by positioned reads; frame 0 still reads.
std::function<void(QpxFileDevice&)> frameOneFails(const std::string& message) {
    return [message](QpxFileDevice& file) {
        EXPECT_EQ(frameOneMessage(file, 0x5), message);
        EXPECT_EQ(frameOneMessage(file, 0x1), message);
        auto frame = file.imageData(0);
        ASSERT_TRUE(frame->open(IoImageDataDevice::Read));
    };
}

const std::string shortRaw(long held) {
    return "QpxFileDevice::ImageData::open: chunk \"ImageDataSeq|1!\" holds " + std::to_string(held) +
           " data bytes, fewer than the 72 of its prefix and plane";
}

const Damage damages[] = {
    {"frame_magic", &raw16, [](Chunks& c) { c.bytes[c.position(frame1)] ^= 1; }, frameOneFails(badHeader)},
    {"frame_length_past_end", &raw16,
     [](Chunks& c) { putLe(c.bytes, c.position(frame1) + 8, 1ull << 40, 8); }, frameOneFails(badHeader)},
    {"frame_header_short", &raw16, [](Chunks& c) { putLe(c.bytes, c.position(frame1) + 8, 40, 8); },
     frameOneFails(shortRaw(40))},
    {"frame_map_size_short", &raw16, [](Chunks& c) { putLe(c.bytes, c.mapSize(frame1), 71, 8); },
     frameOneFails(shortRaw(71))},
    {"zlib_frame_magic", &zlib16, [](Chunks& c) { c.bytes[c.position(frame1)] ^= 1; },
     frameOneFails(badHeader)},
    {"zlib_stream_damaged", &zlib16, [](Chunks& c) { c.bytes[c.data(frame1) + 12] ^= 0x40; },
     frameOneFails(inflateFailed)},
    {"zlib_stream_cut", &zlib16,
     [](Chunks& c) {
         const long pos = c.position(frame1);
         putLe(c.bytes, pos + 8, getLe(c.bytes, pos + 8, 8) - 5, 8);
         putLe(c.bytes, c.mapSize(frame1), getLe(c.bytes, c.mapSize(frame1), 8) - 5, 8);
     },
     frameOneFails(inflateFailed)},
    {"zlib_checksum", &zlib16,
     [](Chunks& c) { c.bytes[c.data(frame1) + getLe(c.bytes, c.position(frame1) + 8, 8) - 1] ^= 1; },
     frameOneFails(inflateFailed)},
    // Sizes one byte too large: the stream is followed by the first byte of the next chunk.
    {"zlib_trailing_byte", &zlib16,
     [](Chunks& c) {
         const long pos = c.position(frame1);
         putLe(c.bytes, pos + 8, getLe(c.bytes, pos + 8, 8) + 1, 8);
         putLe(c.bytes, c.mapSize(frame1), getLe(c.bytes, c.mapSize(frame1), 8) + 1, 8);
     },
     frameOneFails(inflateFailed)},
    {"zlib_prefix_cut", &zlib16,
     [](Chunks& c) {
         putLe(c.bytes, c.position(frame1) + 8, 5, 8);
         putLe(c.bytes, c.mapSize(frame1), 5, 8);
     },
     frameOneFails(
         "QpxFileDevice::ImageData::open: chunk \"ImageDataSeq|1!\" holds 5 data bytes, fewer than the "
         "8 of its prefix")},
    {"attributes_magic", &raw16, [](Chunks& c) { c.bytes[c.position("ImageAttributesLV!")] ^= 1; },
     [](QpxFileDevice& file) {
         ZAN_EXPECT_THROW_MSG(file.attributes(), std::runtime_error, "Cannot parse image attributes");
         ZAN_EXPECT_THROW_MSG(file.imageData(0), std::runtime_error, "Cannot parse image attributes");
     }},
    {"attributes_data", &raw16,
     [](Chunks& c) { c.bytes.replace(c.data("ImageAttributesLV!"), 16, Bytes(16, '\xFF')); },
     [](QpxFileDevice& file) {
         ZAN_EXPECT_THROW_MSG(file.attributes(), std::runtime_error, "Cannot parse image attributes");
     }},
    {"experiment_data", &raw16,
     [](Chunks& c) { c.bytes.replace(c.data("ImageMetadataLV!"), 16, Bytes(16, '\xFF')); },
     [](QpxFileDevice& file) {
         // Without an experiment each frame the file stores is still a frame, and reads.
         EXPECT_TRUE(file.experiment().is_null());
         EXPECT_EQ(file.sequenceCount(), 2u);
         EXPECT_TRUE(file.loopIndexes(1).empty());
         EXPECT_EQ(frameOneMessage(file, 0x5), "");
     }},
    {"text_info_data", &raw16,
     [](Chunks& c) { c.bytes.replace(c.data("ImageTextInfoLV!"), 16, Bytes(16, '\xFF')); },
     [](QpxFileDevice& file) {
         EXPECT_TRUE(file.textInfo().is_null());
         EXPECT_EQ(file.attributes()["widthPx"], 8);
     }},
    {"picture_metadata_data", &raw16,
     [](Chunks& c) { c.bytes.replace(c.data("ImageMetadataSeqLV|0!"), 16, Bytes(16, '\xFF')); },
     [](QpxFileDevice& file) {
         EXPECT_EQ(file.metadata()["/contents/channelCount"_json_pointer], 1);
         EXPECT_EQ(frameOneMessage(file, 0x1), "");
     }},
};

class QpxCorruption : public ::testing::TestWithParam<Damage> {};

TEST_P(QpxCorruption, FailsAsExpected) {
    const Damage& d = GetParam();
    Bytes bytes = nativeFileBytes(*d.geometry, 2);
    Chunks chunks{bytes};
    d.apply(chunks);
    QpxFileDevice file(bytes.size(), bytes.data());
    ASSERT_TRUE(file.open(IoDevice::Read, 3, nullptr));
    d.check(file);
}

INSTANTIATE_TEST_SUITE_P(All, QpxCorruption, ::testing::ValuesIn(damages),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Damaged streams meet the same error from both decoders.

using Zan::detail::FrameInflate;

Bytes zlibStream(const Bytes& data, int level) {
    Bytes out(compressBound(data.size()), '\0');
    uLongf n = out.size();
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(data.data()),
                  data.size(), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(n);
    return out;
}

// A zlib header of method byte cmf and flag bits flags, with its check bits right.
void setHeader(Bytes& stream, unsigned cmf, unsigned flags) {
    stream[0] = static_cast<char>(cmf);
    stream[1] = static_cast<char>(flags + (31 - (cmf * 256 + flags) % 31) % 31);
}

// The message of decoding stream into size bytes one way, or "" with the bytes in decoded.
std::string decodeMessage(const Bytes& stream, std::size_t size, FrameInflate way, Bytes& decoded) {
    decoded.assign(size, '\0');
    return readMessage([&] {
        Zan::detail::inflateFrame(
            stream.data(), stream.size(), size ? decoded.data() : nullptr, size, [] {}, way);
    });
}

TEST(QpxCorruptionStreams, BothDecodersRefuseAlike) {
    Bytes plane(90000, '\0'); // more than one 64 KiB zlib step
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<char>((i * 7 + i / 300 * 131) & 0xFF);
    struct Case {
        const char* name;
        std::function<void(Bytes& stream, std::size_t& size)> damage;
        bool decodes = false;
    };
    const Case cases[] = {
        {"intact", [](Bytes&, std::size_t&) {}, true},
        {"cut_by_one", [](Bytes& s, std::size_t&) { s.pop_back(); }},
        {"cut_before_checksum", [](Bytes& s, std::size_t&) { s.resize(s.size() - 4); }},
        {"cut_in_half", [](Bytes& s, std::size_t&) { s.resize(s.size() / 2); }},
        {"empty", [](Bytes& s, std::size_t&) { s.clear(); }},
        {"plane_one_byte_smaller", [](Bytes&, std::size_t& n) { --n; }},
        {"plane_one_byte_larger", [](Bytes&, std::size_t& n) { ++n; }},
        {"no_plane", [](Bytes&, std::size_t& n) { n = 0; }},
        {"bad_checksum", [](Bytes& s, std::size_t&) { s.back() ^= 0x10; }},
        {"trailing_zero", [](Bytes& s, std::size_t&) { s.push_back('\0'); }},
        {"trailing_stream", [](Bytes& s, std::size_t&) { s += zlibStream("", 6); }},
        {"data_damaged", [](Bytes& s, std::size_t&) { s[s.size() / 2] ^= 0x24; }},
        {"header_check", [](Bytes& s, std::size_t&) { s[1] ^= 0x01; }},
        {"not_deflate", [](Bytes& s, std::size_t&) { setHeader(s, 0x79, 0x80); }},
        {"window_too_large", [](Bytes& s, std::size_t&) { setHeader(s, 0x88, 0x80); }},
        {"preset_dictionary", [](Bytes& s, std::size_t&) { setHeader(s, 0x78, 0xA0); }},
    };
    for (const int level : {0, 1, 6, 9}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " at level " + std::to_string(level));
            Bytes stream = zlibStream(plane, level);
            std::size_t size = plane.size();
            c.damage(stream, size);
            Bytes once, steps;
            const std::string message = decodeMessage(stream, size, FrameInflate::OneCall, once);
            EXPECT_EQ(decodeMessage(stream, size, FrameInflate::Steps, steps), message);
            EXPECT_EQ(message, c.decodes ? "" : inflateFailed);
            if (c.decodes) {
                EXPECT_EQ(once, plane);
                EXPECT_EQ(steps, plane);
            }
        }
    }
    // An empty plane comes only from a stream of nothing.
    for (const FrameInflate way : {FrameInflate::OneCall, FrameInflate::Steps}) {
        Bytes out;
        EXPECT_EQ(decodeMessage(zlibStream("", 6), 0, way, out), "");
        EXPECT_EQ(decodeMessage(zlibStream("x", 6), 0, way, out), inflateFailed);
    }
}

// The abort flag is looked at after a single decoding call as well as before it.
TEST(QpxCorruptionStreams, AbortAfterOneCall) {
    const Bytes plane(1000, 'a');
    const Bytes stream = zlibStream(plane, 6);
    Bytes out(plane.size(), '\0');
    int looks = 0;
    EXPECT_THROW(Zan::detail::inflateFrame(
                     stream.data(), stream.size(), out.data(), out.size(),
                     [&] {
                         if (++looks == 2)
                             throw Zan::Exception::Aborted();
                     },
                     FrameInflate::OneCall),
                 Zan::Exception::Aborted);
    EXPECT_EQ(looks, 2);
}

// Planes up to the one-call limit decode in one call (the flag looked at twice); larger ones in steps, the
// flag looked at before each, so an abort stops such a decode part way.
TEST(QpxCorruptionStreams, LargePlanesDecodeInStepsThatSeeTheAbortFlag) {
    for (const std::size_t size : {Zan::detail::maxOneCallInflateBytes, Zan::detail::maxOneCallInflateBytes + 1}) {
        SCOPED_TRACE(size);
        const Bytes plane(size, 'a');
        const Bytes stream = zlibStream(plane, 1);
        Bytes out(size, '\0');
        int looks = 0;
        Zan::detail::inflateFrame(stream.data(), stream.size(), out.data(), out.size(), [&] { ++looks; });
        EXPECT_TRUE(out == plane);
        if (size > Zan::detail::maxOneCallInflateBytes) {
            EXPECT_GT(looks, 2);
            looks = 0;
            EXPECT_THROW(Zan::detail::inflateFrame(stream.data(), stream.size(), out.data(), out.size(), [&] {
                if (++looks == 3)
                    throw Zan::Exception::Aborted();
            }),
                         Zan::Exception::Aborted);
            EXPECT_EQ(looks, 3);
        } else {
            EXPECT_EQ(looks, 2);
        }
    }
}

// Attributes that promise more than a frame chunk holds: the frames are refused, not read past.
TEST(QpxCorruptionAttributes, GeometryBeyondTheChunks) {
    for (const NativeGeometry* g : {&raw16, &zlib16}) {
        SCOPED_TRACE(g->name);
        const Bytes bytes = nativeFileBytes(*g, 2);
        QpxFileDevice file(std::make_unique<QpxFileDevice::Impl>(
            std::make_unique<Zan::IoMemoryBuffer>(bytes.size(), bytes.data())));
        ASSERT_TRUE(file.open(IoDevice::Read | IoDevice::Update, 3, nullptr));
        json raw = ZanTest::nativeRaw(*g, 2);
        raw["Attributes_dic"]["uiWidth_u32"] = 1u << 20;
        raw["Attributes_dic"]["uiHeight_u32"] = 1u << 20;
        ASSERT_TRUE(file.setRawMetadata(raw));
        file.close();
        const auto* buffer = dynamic_cast<const Zan::IoMemoryBuffer*>(file.chunkedDevice().device());
        const Bytes damaged(buffer->data(), static_cast<std::size_t>(buffer->size()));
        QpxFileDevice fresh(damaged.size(), damaged.data());
        ASSERT_TRUE(fresh.open(IoDevice::Read, 1, nullptr));
        const std::string message = frameOneMessage(fresh, 0x1);
        EXPECT_EQ(message, g->lossless
                               ? inflateFailed
                               : "QpxFileDevice::ImageData::open: chunk \"ImageDataSeq|1!\" holds 72 data "
                                 "bytes, fewer than the 2199023255560 of its prefix and plane");
    }
}

} // namespace
