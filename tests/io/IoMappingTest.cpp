// The mapping holder: whatever happens between map and unmap, no mapping is left behind unless it was
// handed on.

#include <io/IoMapping.h>

#include <support/MappingCounter.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

using Zan::IoDevice;
using Zan::IoMapping;
using ZanTest::MappingCounter;

namespace {

TEST(IoMapping, AThrowBetweenMapAndUnmapLeavesNoMapping) {
    MappingCounter buffer(64, nullptr);
    ASSERT_TRUE(buffer.open(IoDevice::Read | IoDevice::Update));
    try {
        IoMapping mapping = IoMapping::map(buffer, 8, 16);
        ASSERT_TRUE(mapping);
        EXPECT_EQ(buffer.liveMappings(), 1);
        throw std::runtime_error("inflating failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(buffer.liveMappings(), 0);
}

TEST(IoMapping, MovesOwnershipAndReleaseHandsTheAddressOn) {
    MappingCounter buffer(64, nullptr);
    ASSERT_TRUE(buffer.open(IoDevice::Read));
    IoMapping first = IoMapping::map(buffer, 0, 8);
    void* const address = first.get();
    IoMapping second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), address);
    EXPECT_EQ(second.device(), &buffer);
    EXPECT_EQ(buffer.liveMappings(), 1);

    // Assigning over a holder unmaps what it held.
    second = IoMapping::map(buffer, 16, 8);
    EXPECT_EQ(buffer.liveMappings(), 1);
    second = IoMapping();
    EXPECT_EQ(buffer.liveMappings(), 0);

    void* handed = nullptr;
    {
        IoMapping held(buffer, buffer.map(4, 4));
        handed = held.release();
        EXPECT_FALSE(held);
    }
    EXPECT_EQ(buffer.liveMappings(), 1) << "a released mapping belongs to the caller";
    buffer.unmap(handed);
    EXPECT_EQ(buffer.liveMappings(), 0);
}

TEST(IoMapping, RefusedMappingIsEmptyAndUnmapFailuresAreReportedByResetOnly) {
    MappingCounter buffer(64, nullptr);
    ASSERT_TRUE(buffer.open(IoDevice::Read));
    EXPECT_THROW(IoMapping::map(buffer, 60, 8), std::logic_error) << "the device's own refusal passes";
    IoMapping empty(buffer, nullptr);
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.device(), nullptr);
    EXPECT_NO_THROW(empty.reset());

    IoMapping mapping = IoMapping::map(buffer, 0, 8);
    buffer.close(); // a memory buffer no longer unmaps once closed
    EXPECT_THROW(mapping.reset(), std::logic_error);
    EXPECT_FALSE(mapping);
    {
        ASSERT_TRUE(buffer.open(IoDevice::Read));
        IoMapping quiet = IoMapping::map(buffer, 0, 8);
        buffer.close();
        // The destructor drops the failure instead of throwing.
    }
}

} // namespace
