#pragma once

// Decoding of a compressed native frame (internal): one zlib stream that must decode to exactly the plane.

#include <cstddef>
#include <functional>

namespace Zan::detail {

// How the stream is decoded. Auto takes one libdeflate call for planes up to maxOneCallInflateBytes and
// zlib's streaming inflate in steps above that, so that the abort flag is still looked at while a very
// large frame decodes. The two give the same bytes and the same errors; tests run both.
enum class FrameInflate { Auto, OneCall, Steps };

constexpr std::size_t maxOneCallInflateBytes = std::size_t(64) << 20;

// Decodes the zlib stream source[0, count) into out[0, size). The stream must decode to exactly size bytes,
// pass its checksum and end at the last byte of the source; anything else throws std::runtime_error
// "QPX ImageData: zlib uncompress failed", and out is then undefined. checkAbort runs before and after a
// single call and before every step, and may throw to stop the decoding. out may be null when size is 0.
void inflateFrame(const char* source, std::size_t count, char* out, std::size_t size,
                  const std::function<void()>& checkAbort, FrameInflate way = FrameInflate::Auto);

// The error of a stream that cannot be the plane.
[[noreturn]] void throwInflateFailed();

} // namespace Zan::detail
