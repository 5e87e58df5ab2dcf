#include <legacy/CVkAlloc.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

using ZanLegacy::CVkAlloc;

namespace {

std::uintptr_t address(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

} // namespace

TEST(CVkAlloc, BlocksAreAlignedAndCarryTheirHeader) {
    struct Case {
        unsigned long align;
        unsigned long expected;
    };
    const Case cases[] = {{0, 16}, {1, 16}, {16, 16}, {24, 32}, {64, 64}, {100, 128}, {4096, 4096}};
    for (const Case& c : cases) {
        void* p = CVkAlloc::Alloc(0, 100, c.align);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(address(p) % c.expected, 0u) << "align " << c.align;
        EXPECT_EQ(CVkAlloc::Size(p), 100u);
        // Header: the raw address lies before the block, within one alignment unit plus the header.
        const auto* header = reinterpret_cast<const std::uint64_t*>(static_cast<char*>(p) - 16);
        EXPECT_EQ(header[1], 100u);
        EXPECT_LT(header[0], address(p));
        EXPECT_LE(address(p) - header[0], c.expected);
        EXPECT_FALSE(CVkAlloc::IsBadPtr(p, 100));
        EXPECT_TRUE(CVkAlloc::IsBadPtr(p, 99));
        CVkAlloc::Free(p);
    }
}

TEST(CVkAlloc, ZeroSizesNullAndFlags) {
    EXPECT_EQ(CVkAlloc::Alloc(0, 0, 16), nullptr);
    EXPECT_EQ(CVkAlloc::Size(nullptr), 0u);
    CVkAlloc::Free(nullptr);
    void* none = nullptr;
    CVkAlloc::FreeAndSetNull(&none);
    CVkAlloc::FreeAndSetNull(nullptr);

    auto* zeroed = static_cast<unsigned char*>(CVkAlloc::Alloc(CVkAlloc::kZeroFill, 64, 16));
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(zeroed[i], 0);
    void* p = zeroed;
    CVkAlloc::FreeAndSetNull(&p);
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(CVkAlloc::CheckAllMemory());
    EXPECT_TRUE(CVkAlloc::CheckAllMemoryInAllHeaps());
}

TEST(CVkAlloc, ReAllocMovesAndKeepsContent) {
    auto* p = static_cast<unsigned char*>(CVkAlloc::Alloc(0, 20, 16));
    for (int i = 0; i < 20; ++i)
        p[i] = static_cast<unsigned char>(i + 1);
    auto* grown = static_cast<unsigned char*>(CVkAlloc::ReAlloc(p, 50, CVkAlloc::kZeroFill, 16));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(CVkAlloc::Size(grown), 50u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(grown[i], i + 1);
    for (int i = 20; i < 50; ++i)
        EXPECT_EQ(grown[i], 0);

    auto* shrunk = static_cast<unsigned char*>(CVkAlloc::ReAlloc(grown, 10, 0, 16));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_NE(shrunk, grown);
    EXPECT_EQ(CVkAlloc::Size(shrunk), 10u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(shrunk[i], i + 1);

    EXPECT_EQ(CVkAlloc::ReAlloc(shrunk, 0, 0, 16), nullptr); // frees
    void* fresh = CVkAlloc::ReAlloc(nullptr, 8, 0, 16);
    EXPECT_EQ(CVkAlloc::Size(fresh), 8u);
    CVkAlloc::Free(fresh);
    EXPECT_EQ(CVkAlloc::ReAlloc(nullptr, 0, 0, 16), nullptr);
}

TEST(CVkAlloc, RequestsThatCannotBeRepresentedFail) {
    constexpr unsigned long kMax = std::numeric_limits<unsigned long>::max();
    // size + alignment would wrap around.
    EXPECT_EQ(CVkAlloc::Alloc(0, kMax, 16), nullptr);
    EXPECT_EQ(CVkAlloc::Alloc(0, kMax - 8, 16), nullptr);
    // An alignment whose next power of two does not exist.
    EXPECT_EQ(CVkAlloc::Alloc(0, 16, kMax), nullptr);
    // A failed ReAlloc leaves the old block alone.
    auto* p = static_cast<unsigned char*>(CVkAlloc::Alloc(0, 4, 16));
    std::memcpy(p, "abc", 4);
    EXPECT_EQ(CVkAlloc::ReAlloc(p, kMax, 0, 16), nullptr);
    EXPECT_STREQ(reinterpret_cast<char*>(p), "abc");
    EXPECT_EQ(CVkAlloc::Size(p), 4u);
    CVkAlloc::Free(p);
}
