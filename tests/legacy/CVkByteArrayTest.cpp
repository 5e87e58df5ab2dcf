#include <legacy/CVkByteArray.h>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

using ZanLegacy::CVkByteArray;

namespace {

constexpr auto kStart = CVkByteArray::eOpWriteAtStart;
constexpr auto kAppend = CVkByteArray::eOpAppend;
constexpr auto kExact = CVkByteArray::eAllocExact;
constexpr auto kNever = CVkByteArray::eAllocNever;
constexpr auto kSteps = CVkByteArray::eAllocIncrement;

std::string content(const CVkByteArray& a) {
    return a.GetSize() ? std::string(reinterpret_cast<const char*>(a.GetData()), a.GetSize()) : std::string();
}

} // namespace

TEST(CVkByteArray, NewArrayHasNoBlock) {
    CVkByteArray a;
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetAllocated(), 0u);
    EXPECT_EQ(a.GetCurrentOffsetPtr(), nullptr);
    EXPECT_EQ(a.GetCurrentOffset(), 0u);
    EXPECT_EQ(a.SetCurrentOffsetPtr(nullptr), -4);
}

TEST(CVkByteArray, ExactGrowthAppendAndOverwrite) {
    CVkByteArray a;
    EXPECT_EQ(a.SetData("0123456789", 10, kStart, kExact), 0);
    EXPECT_EQ(a.SetData("abcde", 5, kAppend, kExact), 0);
    EXPECT_EQ(a.GetSize(), 15u);
    EXPECT_EQ(a.GetAllocated(), 15u);
    EXPECT_EQ(content(a), "0123456789abcde");
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.GetData()) % 16, 0u);
    EXPECT_EQ(a.SetData("WXYZ", 4, kStart, kExact), 0);
    EXPECT_EQ(content(a), "WXYZ");
    EXPECT_EQ(a.GetAllocated(), 15u);
    // Nothing to copy leaves the size alone.
    EXPECT_EQ(a.SetData(nullptr, 3, kStart, kExact), 0);
    EXPECT_EQ(a.SetData("x", 0, kStart, kExact), 0);
    EXPECT_EQ(a.GetSize(), 4u);
}

TEST(CVkByteArray, PoliciesAndPartialCopies) {
    CVkByteArray never;
    EXPECT_EQ(never.SetData("0123456789", 10, kAppend, kNever), -9);
    EXPECT_EQ(never.GetSize(), 0u);
    EXPECT_EQ(never.SetData(nullptr, 10, kAppend, kNever), 0); // reserving without growth is no failure

    CVkByteArray partial;
    partial.SetData(nullptr, 8, kStart, kExact);
    partial.SetData("abcdef", 6, kStart, kExact);
    EXPECT_EQ(partial.SetData("0123456789", 10, kAppend, kNever), -8);
    EXPECT_EQ(partial.GetSize(), 8u);
    EXPECT_EQ(content(partial), "abcdef01");
    EXPECT_EQ(partial.SetData("z", 1, kAppend, kNever), -9);
    EXPECT_EQ(content(partial), "abcdef01");

    CVkByteArray steps; // increment 1024
    EXPECT_EQ(steps.SetData("a", 1, kAppend, kSteps), 0);
    EXPECT_EQ(steps.GetAllocated(), 1024u);
    const std::vector<char> big(3000, 'b');
    EXPECT_EQ(steps.SetData(big.data(), big.size(), kAppend, kSteps), 0);
    EXPECT_EQ(steps.GetAllocated(), 3072u); // k = (3000 - 1023) / 1024 + 1 = 2 more steps
    EXPECT_EQ(steps.GetSize(), 3001u);

    CVkByteArray reserve;
    EXPECT_EQ(reserve.SetData(nullptr, 100, kStart, kExact), 0);
    EXPECT_EQ(reserve.GetAllocated(), 100u);
    EXPECT_EQ(reserve.GetSize(), 0u);
}

TEST(CVkByteArray, OverflowingRequestsFailWithoutTouchingTheArray) {
    constexpr unsigned long kMax = std::numeric_limits<unsigned long>::max();
    CVkByteArray a(16);
    a.SetData("abcd", 4, kStart, kExact);
    // start + n and allocated + k * increment would wrap around.
    EXPECT_EQ(a.SetData(nullptr, kMax - 1, kAppend, kExact), -3);
    EXPECT_EQ(a.SetData(nullptr, kMax, kAppend, kSteps), -3);
    CVkByteArray huge(kMax);
    huge.SetData("a", 1, kStart, kExact);
    EXPECT_EQ(huge.SetData(nullptr, 10, kAppend, kSteps), -3);
    // Too large to allocate at all.
    EXPECT_EQ(a.SetData(nullptr, kMax / 2 + 1, kStart, kExact), -3);
    EXPECT_EQ(content(a), "abcd");
    EXPECT_EQ(a.GetAllocated(), 4u);
    // With data, a failed growth copies what fits or nothing.
    CVkByteArray full;
    EXPECT_EQ(full.SetData("x", kMax, kAppend, kExact), -9);
    EXPECT_EQ(full.GetData(), nullptr);
}

TEST(CVkByteArray, OwnBytesAsSource) {
    // Appending an array to itself grows the block, which moves it: the bytes must be taken from
    // the new block, not from the freed one.
    CVkByteArray a;
    a.SetData("abcd", 4, kStart, kExact);
    EXPECT_EQ(a.SetData(a.GetData(), 4, kAppend, kExact), 0);
    EXPECT_EQ(content(a), "abcdabcd");
    CVkByteArray steps(2);
    steps.SetData("xyz", 3, kStart, kExact);
    EXPECT_EQ(steps.SetData(steps.GetData() + 1, 2, kAppend, kSteps), 0);
    EXPECT_EQ(content(steps), "xyzyz");
    // Overlapping parts of the same block, without growth.
    EXPECT_EQ(a.SetData(a.GetData() + 2, 6, kStart, kExact), 0);
    EXPECT_EQ(content(a), "cdabcd");
    // A source inside the block that runs past its end is refused before anything changes.
    EXPECT_EQ(a.SetData(a.GetData() + 4, 5, kAppend, kExact), -4);
    EXPECT_EQ(content(a), "cdabcd");
    EXPECT_EQ(a.GetAllocated(), 8u);
}

TEST(CVkByteArray, OffsetsSizesAndDeclaredFill) {
    CVkByteArray a;
    a.SetData(nullptr, 32, kStart, kExact);
    EXPECT_EQ(a.SetCurrentOffset(32), 0);
    EXPECT_EQ(a.GetCurrentOffset(), 32u);
    EXPECT_EQ(a.SetCurrentOffset(33), -4);
    EXPECT_EQ(a.GetCurrentOffset(), 32u);
    EXPECT_EQ(a.SetCurrentOffsetPtr(a.GetData() + 5), 0);
    EXPECT_EQ(a.GetCurrentOffsetPtr(), a.GetData() + 5);
    EXPECT_EQ(a.SetCurrentOffsetPtr(a.GetData() - 1), -4);
    EXPECT_EQ(a.SetCurrentOffsetPtr(a.GetData() + 33), -4);

    std::memcpy(a.GetData(), "filled", 6);
    a.GetData(6);
    EXPECT_EQ(content(a), "filled");
    a.GetData(0);
    a.GetData(33);
    EXPECT_EQ(a.GetSize(), 6u);
    a.SetSize(33);
    EXPECT_EQ(a.GetSize(), 6u);
    a.SetSize(2);
    EXPECT_EQ(content(a), "fi");

    a.SetIncrement(0);
    EXPECT_TRUE(a.FreeData());
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetAllocated(), 0u);
    EXPECT_EQ(a.GetCurrentOffset(), 0u);
    a.SetData("q", 1, kAppend, kSteps);
    EXPECT_EQ(a.GetAllocated(), 2u); // increment 0 became 1 and survived FreeData: (1 - 0) / 1 + 1 steps
    EXPECT_EQ(CVkByteArray(0).SetData("ab", 2, kAppend, kSteps), 0);
}

TEST(CVkByteArray, CopiesAssignmentAndEquality) {
    CVkByteArray a("hello", 5, 7);
    EXPECT_EQ(a.GetAllocated(), 5u);
    a.SetCurrentOffset(3);
    CVkByteArray b(a);
    EXPECT_EQ(content(b), "hello");
    EXPECT_EQ(b.GetCurrentOffset(), 0u);
    EXPECT_NE(b.GetData(), a.GetData());
    EXPECT_TRUE(a == b);

    CVkByteArray c(64);
    c.SetData(nullptr, 100, kStart, kExact);
    c.SetData("hello", 5, kStart, kExact);
    EXPECT_TRUE(a == c); // allocation, increment and offset do not matter
    c.SetData("!", 1, kAppend, kExact);
    EXPECT_TRUE(a != c);

    CVkByteArray& self = c;
    c = self;
    EXPECT_EQ(content(c), "hello!");
    c = a;
    EXPECT_EQ(content(c), "hello");
    EXPECT_EQ(c.GetAllocated(), 5u);
    CVkByteArray empty;
    c = empty;
    EXPECT_EQ(c.GetData(), nullptr);
    EXPECT_TRUE(c == empty);
}
