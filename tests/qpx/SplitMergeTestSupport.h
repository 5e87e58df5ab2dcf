#pragma once

// Helpers of the split and merge tests: standard output captured while a split or a merge runs, the
// pixels and chunks of a native file read back through a new device, and the tile grid's file names.

#include <support/NativeFiles.h>
#include <support/TempDir.h>
#include <support/ZStackFiles.h>

#include <io/DefaultInitAllocator.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxFileConversions.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/QpxImageData.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace split_test {

using Grid = Zan::Vector3d<long>;
using Zan::ByteVector;
using Zan::QpxFileDevice;
using ZanTest::NativeGeometry;
using ZanTest::ZStackLayout;

// Standard output while it lives; the stream's buffer, flags and fill are restored afterwards.
class CoutCapture {
public:
    CoutCapture() : old_(std::cout.rdbuf(out_.rdbuf())), flags_(std::cout.flags()), fill_(std::cout.fill()) {}
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;
    ~CoutCapture() {
        std::cout.rdbuf(old_);
        std::cout.flags(flags_);
        std::cout.fill(fill_);
    }
    std::string text() const { return out_.str(); }

private:
    std::ostringstream out_;
    std::streambuf* old_;
    std::ios::fmtflags flags_;
    char fill_;
};

// A call's result, what it printed and the flags it left on standard output.
struct Outcome {
    bool result;
    std::string output;
    bool boolalpha;
    char fill;
};

template <typename Call>
Outcome captured(Call&& call) {
    CoutCapture capture;
    const bool result = call();
    return {result, capture.text(), (std::cout.flags() & std::ios::boolalpha) != 0, std::cout.fill()};
}

inline Outcome split(const std::string& source, const std::string& base, const Grid& pieces,
                     const Grid& overlap = {}, const Grid& padding = {}, bool toFloat = false) {
    return captured(
        [&] { return Zan::splitImage(source.c_str(), base.c_str(), pieces, overlap, padding, toFloat); });
}

inline Outcome merge(const std::string& merged, const std::string& base, const Grid& pieces,
                     const Grid& overlap = {}, const Grid& padding = {}, bool toFloat = false) {
    return captured(
        [&] { return Zan::mergeImage(merged.c_str(), base.c_str(), pieces, overlap, padding, toFloat); });
}

inline std::unique_ptr<QpxFileDevice> openForReading(const std::string& path) {
    auto file = std::make_unique<QpxFileDevice>(path);
    if (!file->open(Zan::IoDevice::Read, 3, nullptr))
        ADD_FAILURE() << "cannot open " << path;
    return file;
}

// Frame seq packed, rows of the frame's own stored size; empty when the frame does not open.
inline ByteVector framePixels(QpxFileDevice& file, unsigned seq) {
    const auto frame = file.imageData(seq);
    if (!frame->open(Zan::IoImageDataDevice::Read))
        return {};
    const long line = frame->packedLineSize(frame->lineAlignment());
    ByteVector plane(static_cast<std::size_t>(line * frame->height()), 0);
    frame->packedImage(plane.data(), line);
    return plane;
}

// Frame seq as floats, one per sample, rows of width x channels samples.
inline std::vector<float> frameFloats(QpxFileDevice& file, unsigned seq) {
    const auto frame = file.imageData(seq);
    if (!frame->open(Zan::IoImageDataDevice::Read))
        return {};
    const long samples = frame->width() * frame->channels();
    std::vector<float> plane(static_cast<std::size_t>(samples * frame->height()));
    frame->packedImageRectToFloat(plane.data(), samples * 4, {0, 0, frame->width(), frame->height()});
    return plane;
}

// The files of a directory, by name.
inline std::set<std::string> filesIn(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        names.insert(std::filesystem::relative(entry.path(), dir).string());
    return names;
}

} // namespace split_test
