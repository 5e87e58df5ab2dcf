// Feeds arbitrary streams to both decoders of compressed native frames: the first three bytes give the plane
// size (below 16 MiB), the rest is the stream. The two must agree: both refuse with the same message, or
// both decode the same bytes.
#include <qpx/detail/QpxFrameInflate.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The message of a refusal, or "" when the stream decoded into out.
std::string decode(const char* stream, std::size_t count, std::vector<char>& out,
                   Zan::detail::FrameInflate way) {
    try {
        Zan::detail::inflateFrame(
            stream, count, out.data(), out.size(), [] {}, way);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > (1u << 20))
        return 0;
    const std::size_t plane = data[0] | std::size_t(data[1]) << 8 | std::size_t(data[2]) << 16;
    // No deflate stream decodes to more than 1032 bytes a byte; the device refuses such planes before it
    // allocates them.
    if (plane / 1032 > size)
        return 0;
    const char* stream = reinterpret_cast<const char*>(data) + 3;
    std::vector<char> once(plane), steps(plane);
    const std::string a = decode(stream, size - 3, once, Zan::detail::FrameInflate::OneCall);
    const std::string b = decode(stream, size - 3, steps, Zan::detail::FrameInflate::Steps);
    if (a != b || (a.empty() && once != steps))
        std::abort();
    return 0;
}
