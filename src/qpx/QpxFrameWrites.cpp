#include <qpx/detail/QpxFrameWrites.h>

#include <io/detail/CheckedSize.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFileDeviceImpl.h>
#include <qpx/detail/QpxFrameGeometry.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

namespace Zan {

namespace {

using Impl = QpxFileDevice::Impl;
using ImageData = QpxFileDevice::ImageData;

// Rows summed at a time: as many as fit in this many bytes, at least one.
constexpr long sumBandBytes = 4L << 20;
// A positioned transfer costs about as much as copying this many bytes twice.
constexpr long wholeRowGapBytes = 16L << 10;

// n samples of dst += src. Samples go through memcpy, so neither buffer needs their alignment; the
// compiler turns the copies into plain (vector) loads and stores. Integer sums wrap in the sample type.
template <typename T>
void addSamples(const char* __restrict src, char* __restrict dst, long n) {
    for (long i = 0; i < n; ++i) {
        T a, b;
        std::memcpy(&a, dst + i * static_cast<long>(sizeof(T)), sizeof(T));
        std::memcpy(&b, src + i * static_cast<long>(sizeof(T)), sizeof(T));
        a = static_cast<T>(a + b);
        std::memcpy(dst + i * static_cast<long>(sizeof(T)), &a, sizeof(T));
    }
}

template <typename T>
void addRows(const char* src, char* dst, long rowBytes, long rows) {
    const long size = static_cast<long>(sizeof(T));
    const long samples = rowBytes / size;
    if (samples == 0)
        return;
    // Rows without a partial sample at their end are one run of samples.
    if (samples * size == rowBytes) {
        addSamples<T>(src, dst, samples * rows);
        return;
    }
    for (long r = 0; r < rows; ++r)
        addSamples<T>(src + r * rowBytes, dst + r * rowBytes, samples);
}

// Bytes of a row of width pixels of the frame, all planes interleaved, rounded up to the frame's line
// alignment or not.
long rowBytesOf(const IoImageDataDevice& frame, long width, bool aligned) {
    return detail::frameRowBytes(width, frame.bitsPerComponentStored(), frame.channels(),
                                 aligned ? frame.lineAlignment() : 1, "QpxFileDevice");
}

std::string describe(const Rectangle& r) {
    return "(" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.width) + ", " +
           std::to_string(r.height) + ")";
}

// The one check of a rectangle, made before any path is chosen: a negative size is refused always, and a
// sum needs the rectangle inside the frame, since it reads every pixel it adds to. A set writes the part
// inside the frame, as the frame device clips.
void checkRectangle(const Rectangle& r, const IoImageDataDevice& frame, bool add, const char* operation) {
    if (r.width < 0 || r.height < 0)
        throw std::invalid_argument("QpxFileDevice::" + std::string(operation) + ": rectangle " +
                                    describe(r) + " has a negative size");
    const long w = frame.width(), h = frame.height();
    if (add && (r.x < 0 || r.y < 0 || r.x > w || r.y > h || r.width > w - r.x || r.height > h - r.y))
        throw std::invalid_argument("QpxFileDevice::" + std::string(operation) + ": rectangle " +
                                    describe(r) + " outside the frame " + std::to_string(w) + " x " +
                                    std::to_string(h));
}

// Closes a frame device, which stores a written compressed frame; false when that fails.
bool closeStored(IoImageDataDevice& frame) {
    try {
        frame.close();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void addData(const void* src, void* dst, long bitsPerComponentStored, long rowBytes, long rows) {
    if (bitsPerComponentStored > 32)
        throw std::logic_error("copyComponentToplane: unsupported bitdepth for conversion");
    if (rows < 1 || rowBytes < 1)
        return;
    long total = 0;
    if (__builtin_mul_overflow(rowBytes, rows, &total))
        throw std::invalid_argument("addData: " + std::to_string(rows) + " rows of " +
                                    std::to_string(rowBytes) + " bytes exceed any buffer");
    const auto* s = static_cast<const char*>(src);
    auto* d = static_cast<char*>(dst);
    if (bitsPerComponentStored <= 8)
        addRows<unsigned char>(s, d, rowBytes, rows);
    else if (bitsPerComponentStored <= 16)
        addRows<unsigned short>(s, d, rowBytes, rows);
    else
        addRows<float>(s, d, rowBytes, rows);
}

bool Impl::writeFrame(const ByteVector& data, std::uint32_t seq, const Rectangle* rect, bool alignedRows,
                      bool add, const char* operation) {
    checkOpen();
    checkWritable();
    const std::unique_ptr<ImageData> frame = frameDevice(seq);
    if (!frame)
        return false;
    if (rect)
        checkRectangle(*rect, *frame, add, operation);
    // A frame that has nothing stored yet is summed into nothing: it is set, from rows laid out as the
    // caller laid them out for the add.
    const bool stored = chunked.hasChunk(frame->frameChunkName(), nullptr);
    add = add && stored;
    const Rectangle area = rect ? *rect : Rectangle{0, 0, frame->width(), frame->height()};
    const long row = rowBytesOf(*frame, area.width, alignedRows);
    const long size = detail::checkedProduct(row, area.height, "QpxFileDevice");
    // Checked before the frame is opened: a refused call leaves no trace, not even a reserved chunk.
    if (data.size() != static_cast<unsigned long>(size))
        return false;
    // A rectangle written into a stored compressed frame starts from that frame, so that the pixels around
    // it stay: a compressed frame opened for writing alone starts from zeros and is stored whole.
    const bool keepAround = add || (rect && stored && chunked.isReadible());
    if (!frame->open(keepAround ? IoImageDataDevice::Read | IoImageDataDevice::Write
                                : IoImageDataDevice::Write))
        return false;
    frame->setCurrentPlane(0);
    if (!add) {
        frame->writeCurrentPlaneRect(data.data(), row, area);
        return closeStored(*frame);
    }
    // A rectangle without rows adds nothing; its rows may still be wider than any buffer (a frame of no
    // rows holds no bytes that would bound its width).
    if (area.height < 1)
        return closeStored(*frame);
    // The sum goes band by band through a buffer that stays in the cache: a frame-sized buffer would cost a
    // page fault per 4 KiB and a trip through memory for every byte. A raw frame whose rows have no padding
    // and are not much wider than the rectangle is read and written in whole rows: one positioned transfer a
    // band rather than one a row, which costs more than the bytes beside the rectangle; those go back as
    // they were read. Rows with padding get it zeroed; every other byte is read from the frame.
    const long frameRow = rowBytesOf(*frame, frame->width(), false);
    const bool wholeRows = frame->compression() == ImageData::None && area.width < frame->width() &&
                           frameRow == frame->lineBytes() && frameRow - row <= wholeRowGapBytes;
    const long step = wholeRows ? frameRow : row;
    const long skip = wholeRows ? rowBytesOf(*frame, area.x, false) : 0;
    const long bandRows = std::clamp(sumBandBytes / std::max(step, 1L), 1L, area.height);
    ByteVector sum(static_cast<std::size_t>(detail::checkedProduct(step, bandRows, "QpxFileDevice")));
    if (step != rowBytesOf(*frame, wholeRows ? frame->width() : area.width, false))
        std::fill(sum.begin(), sum.end(), char{0});
    const long bits = frame->bitsPerComponentStored();
    for (long first = 0; first < area.height; first += bandRows) {
        const long rows = std::min(bandRows, area.height - first);
        const Rectangle band = wholeRows ? Rectangle{0, area.y + first, frame->width(), rows}
                                         : Rectangle{area.x, area.y + first, area.width, rows};
        frame->packedImageRect(sum.data(), step, band);
        if (wholeRows)
            for (long r = 0; r < rows; ++r)
                addData(data.data() + (first + r) * row, sum.data() + r * step + skip, bits, row, 1);
        else
            addData(data.data() + first * row, sum.data(), bits, row, rows);
        frame->setCurrentPlane(0);
        frame->writeCurrentPlaneRect(sum.data(), step, band);
    }
    return closeStored(*frame);
}

bool Impl::setImageData(const ByteVector& data, std::uint32_t seq) {
    return writeFrame(data, seq, nullptr, true, false, "setImageData");
}

bool Impl::addImageData(const ByteVector& data, std::uint32_t seq) {
    return writeFrame(data, seq, nullptr, true, true, "addImageData");
}

bool Impl::setImageDataRect(const ByteVector& data, std::uint32_t seq, const Rectangle& rect) {
    return writeFrame(data, seq, &rect, true, false, "setImageDataRect");
}

bool Impl::addImageDataRect(const ByteVector& data, std::uint32_t seq, const Rectangle& rect) {
    return writeFrame(data, seq, &rect, false, true, "addImageDataRect");
}

} // namespace Zan
