#pragma once

// Helpers of the container tests: little-endian fields, a hand layout of container files written from
// the format's rules alone, and devices over memory buffers and temporary files.

#include <io/IoFileDevice.h>
#include <io/IoMemoryBuffer.h>
#include <qpx/QpxChunkedDevice.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace chunked_test {

using Chunked = Zan::QpxFileDevice::ChunkedDevice;
using Bytes = std::string;

inline constexpr std::uint32_t magic = 0x0ABECEDA;
inline const std::string fileSignature = "QPX FILE SIGNATURE CHUNK NAME01!";
inline const std::string mapSignature = "QPX CHUNK MAP SIGNATURE 0000001!";

inline std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}
inline std::string le64(std::uint64_t v) {
    return le32(static_cast<std::uint32_t>(v)) + le32(static_cast<std::uint32_t>(v >> 32));
}
inline std::uint64_t getLe(const Bytes& b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b.at(at + i));
    return v;
}
inline void putLe(Bytes& b, std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b.at(at + i) = static_cast<char>(v >> (8 * i));
}
inline std::string zeros(std::size_t n) {
    return std::string(n, '\0');
}
inline long roundUp4096(long x) {
    return (x + 4095) / 4096 * 4096;
}

// Byte strings compared with a short report: sizes and the first offset that differs.
inline ::testing::AssertionResult sameBytes(const Bytes& actual, const Bytes& expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(actual.begin(), actual.begin() + std::min(actual.size(), expected.size()),
                                    expected.begin());
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at offset " << (diff.first - actual.begin());
}

// A container file put together by hand, piece by piece, as another program would write it.
struct Layout {
    Bytes bytes;

    // The 112-byte signature chunk with the given version text.
    Layout& signature(const std::string& versionText = "Ver3.0") {
        bytes +=
            le32(magic) + le32(32) + le64(64) + fileSignature + versionText + zeros(64 - versionText.size());
        return *this;
    }
    void padTo4096() {
        bytes.resize(static_cast<std::size_t>(roundUp4096(static_cast<long>(bytes.size()))), '\0');
    }
    // Appends a chunk on the next multiple of 4096 with the name padding of the format; returns its position.
    long chunk(const std::string& name, const std::string& data) {
        padTo4096();
        const long pos = static_cast<long>(bytes.size());
        const long used = static_cast<long>(name.size() + data.size()) + 36;
        const long pad = roundUp4096(used) - used + 20;
        bytes += le32(magic) + le32(static_cast<std::uint32_t>(name.size() + pad)) + le64(data.size()) +
                 name + zeros(static_cast<std::size_t>(pad)) + data;
        return pos;
    }
    // Appends a chunk map listing the entries in the order given; returns its position.
    long map(const std::vector<std::tuple<std::string, std::int64_t, std::int64_t>>& entries) {
        padTo4096();
        const long mapPos = static_cast<long>(bytes.size());
        std::string data;
        for (const auto& [name, pos, size] : entries)
            data += name + le64(static_cast<std::uint64_t>(pos)) + le64(static_cast<std::uint64_t>(size));
        data += mapSignature + le64(mapPos);
        const long used = static_cast<long>(data.size()) + 108;
        data += zeros(static_cast<std::size_t>(roundUp4096(used) - used)) + mapSignature + le64(mapPos);
        bytes += le32(magic) + le32(52) + le64(data.size()) + mapSignature + zeros(20) + data;
        return mapPos;
    }
};

// A chunked device over a memory buffer holding a copy of bytes.
inline std::unique_ptr<Chunked> memoryDevice(const Bytes& bytes = {}) {
    return std::make_unique<Chunked>(std::make_unique<Zan::IoMemoryBuffer>(bytes.size(), bytes.data()));
}
// The bytes of a device made by memoryDevice.
inline Bytes contents(const Chunked& device) {
    const auto* buffer = dynamic_cast<const Zan::IoMemoryBuffer*>(device.device());
    return Bytes(buffer->data(), static_cast<std::size_t>(buffer->size()));
}

inline Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory for one test, removed with the object.
struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name) {
        const char* root = std::getenv("ZAN_TEST_TMP");
        path = (root ? std::filesystem::path(root) : std::filesystem::temp_directory_path()) /
               ("qpx-" + name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path operator/(const std::string& file) const { return path / file; }
};

inline std::unique_ptr<Chunked> fileDevice(const std::filesystem::path& path) {
    return std::make_unique<Chunked>(std::make_unique<Zan::IoFileDevice>(path.string()));
}

} // namespace chunked_test
