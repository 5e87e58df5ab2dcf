// The plane buffer's allocator: blocks small and large (below, at and above the sizes where it changes how
// it allocates) hold all their bytes, keep them when the vector grows across those sizes, and go back the
// way they came (the sanitizer build sees a mismatched release).

#include <io/PlaneBuffer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

namespace {

using Zan::detail::PlaneBuffer;

constexpr std::size_t MiB = std::size_t(1) << 20;

void fill(PlaneBuffer& buffer, std::size_t from) {
    for (std::size_t i = from; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>(i * 13 % 251);
}

bool holds(const PlaneBuffer& buffer) {
    for (std::size_t i = 0; i < buffer.size(); ++i)
        if (buffer[i] != static_cast<char>(i * 13 % 251))
            return false;
    return true;
}

TEST(PlaneBuffer, BlocksOfEverySizeHoldTheirBytes) {
    for (const std::size_t size : {std::size_t(0), std::size_t(1), 2 * MiB - 1, 2 * MiB, 2 * MiB + 4097,
                                   32 * MiB - 1, 32 * MiB, 33 * MiB + 5}) {
        SCOPED_TRACE(size);
        PlaneBuffer zeros(size, 0);
        EXPECT_EQ(zeros.size(), size);
        EXPECT_EQ(std::count(zeros.begin(), zeros.end(), 0), static_cast<long>(size));
        PlaneBuffer buffer(size);
        fill(buffer, 0);
        EXPECT_TRUE(holds(buffer));
    }
}

TEST(PlaneBuffer, GrowingAcrossTheSizesKeepsTheBytes) {
    PlaneBuffer buffer;
    std::size_t filled = 0;
    for (const std::size_t size : {MiB, 3 * MiB, 40 * MiB}) {
        buffer.resize(size);
        fill(buffer, filled);
        filled = size;
        EXPECT_TRUE(holds(buffer));
    }
    buffer.resize(MiB);
    buffer.shrink_to_fit();
    EXPECT_TRUE(holds(buffer));
}

// A plane freed on a thread comes back, pages and all, for the next plane of about its size there: its
// bytes are still in it (a fresh mapping would read zeros).
TEST(PlaneBuffer, AThreadReusesItsFreedPlane) {
    {
        PlaneBuffer first(40 * MiB);
        fill(first, 0);
    }
    PlaneBuffer next(36 * MiB);
    EXPECT_EQ(next[next.size() - 1], static_cast<char>((next.size() - 1) * 13 % 251));
    PlaneBuffer other(36 * MiB, 0); // nothing kept for a second one: value-initialised all the same
    EXPECT_EQ(std::count(other.begin(), other.end(), 0), static_cast<long>(other.size()));
}

} // namespace
