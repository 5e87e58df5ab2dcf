#include <qpx/detail/QpxFrameInflate.h>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

namespace Zan::detail {

void throwInflateFailed() {
    throw std::runtime_error("QPX ImageData: zlib uncompress failed");
}

namespace {

// zlib is fed at most this much input and output per call, which bounds the time between two looks at the
// abort flag.
constexpr std::size_t inflateStep = 65536;

// Ends an inflate stream however the inflate loop is left.
struct InflateStream {
    z_stream stream{};
    bool live = false;
    ~InflateStream() {
        if (live)
            inflateEnd(&stream);
    }
};

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

void inflateInSteps(const char* source, std::size_t count, char* out, std::size_t size,
                    const std::function<void()>& checkAbort) {
    // An empty plane inflates into a scratch byte, so that a stream holding anything at all is refused.
    char scratch = 0;
    std::size_t outLeft = size == 0 ? 1 : size;
    std::size_t inLeft = count;
    InflateStream z;
    if (inflateInit(&z.stream) != Z_OK)
        throwInflateFailed();
    z.live = true;
    z.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(source));
    z.stream.next_out = reinterpret_cast<Bytef*>(size == 0 ? &scratch : out);
    int result = Z_OK;
    do {
        checkAbort();
        if (z.stream.avail_out == 0) {
            const auto step = static_cast<uInt>(std::min(outLeft, inflateStep));
            z.stream.avail_out = step;
            outLeft -= step;
        }
        if (z.stream.avail_in == 0) {
            const auto step = static_cast<uInt>(std::min(inLeft, inflateStep));
            z.stream.avail_in = step;
            inLeft -= step;
        }
        result = inflate(&z.stream, Z_NO_FLUSH);
    } while (result == Z_OK);
    // A stream that ends early, would go on past the plane, or is followed by bytes that belong to no
    // stream is as damaged as one that does not decode.
    if (result != Z_STREAM_END || z.stream.total_out != size || z.stream.avail_in != 0 || inLeft != 0)
        throwInflateFailed();
}

void inflateInOneCall(const char* source, std::size_t count, char* out, std::size_t size,
                      const std::function<void()>& checkAbort) {
    checkAbort();
    // One decompressor per call: they are small, and none is shared between threads.
    const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> d(libdeflate_alloc_decompressor());
    if (!d)
        throw std::bad_alloc();
    char scratch = 0;
    std::size_t used = 0;
    // Without an output count libdeflate refuses a stream that decodes to more or fewer than size bytes.
    if (libdeflate_zlib_decompress_ex(d.get(), source, count, out ? out : &scratch, size, &used, nullptr) !=
            LIBDEFLATE_SUCCESS ||
        used != count)
        throwInflateFailed();
    checkAbort();
}

} // namespace

void inflateFrame(const char* source, std::size_t count, char* out, std::size_t size,
                  const std::function<void()>& checkAbort, FrameInflate way) {
    if (way == FrameInflate::Auto)
        way = size <= maxOneCallInflateBytes ? FrameInflate::OneCall : FrameInflate::Steps;
    if (way == FrameInflate::OneCall)
        inflateInOneCall(source, count, out, size, checkAbort);
    else
        inflateInSteps(source, count, out, size, checkAbort);
}

} // namespace Zan::detail
