#include "ChannelDocuments.h"

#include <metadata/detail/ChannelModality.h>

#include <gtest/gtest.h>

using namespace Zan::JsonMetadata;

namespace {

json flagsOf(std::uint64_t mask, std::int32_t components = 1) {
    json flags = json::array();
    translateModalityFlags(flags, mask, components);
    return flags;
}

TEST(ModalityFlags, MasksToNamesInTableOrder) {
    struct Case {
        std::uint64_t mask;
        std::int32_t components;
        json names;
    };
    const Case cases[] = {
        {0x0, 3, {"brightfield"}},
        {0x0, 1, {"fluorescence"}},
        {0x0, 4, {"fluorescence"}},
        {0x2200, 1, {"fluorescence"}}, // neither bit 0 nor bit 1: the other bits are not looked at
        {0x2200, 3, {"brightfield"}},
        {0x3, 1, {"fluorescence", "brightfield"}},
        {0x2041, 1, {"fluorescence", "dsdConfocal", "RCM"}},
        {0x1 | 0x4 | 0x8 | 0x80000, 1, {"fluorescence"}}, // bits without names
        {0x1 | 0xFFFFFFFF80000000ull, 1, {"fluorescence"}},
        {0x102, 3, {"brightfield", "camera"}},
        {0x40008001, 1, {"fluorescence", "sora", "iSIM"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(flagsOf(c.mask, c.components), c.names) << std::hex << c.mask;

    EXPECT_EQ(flagsOf(~0ull), channel_docs::allModalityNames());

    // Names are appended to what the array holds.
    json flags = {"earlier"};
    translateModalityFlags(flags, 0x100, 1);
    EXPECT_EQ(flags, json({"earlier", "fluorescence"}));
}

TEST(ModalityFlags, LegacyCodesToNames) {
    struct Case {
        std::uint64_t code;
        json names;
    };
    const Case cases[] = {
        {1, {"brightfield", "camera"}},
        {2, {"fluorescence", "laserScanConfocal"}},
        {3, {"fluorescence", "spinningDiskConfocal"}},
        {4, {"fluorescence", "sweptFieldConfocalSlit"}},
        {5, {"fluorescence", "laserScanConfocal", "multiphoton"}},
        {6, {"fluorescence", "phaseContrast"}},
        {7, {"fluorescence", "diContrast"}},
        {8, {"fluorescence", "laserScanConfocal", "spectral"}},
        {9, {"fluorescence", "laserScanConfocal", "vaasNF"}},
        {10, {"fluorescence", "laserScanConfocal", "vaasIF"}},
        {11, {"fluorescence", "laserScanConfocal", "vaasNF"}},
        {12, {"fluorescence"}},
        {0, {"fluorescence", "camera"}},
        {13, {"fluorescence", "camera"}},
        {4294967297ull, {"fluorescence", "camera"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(flagsOf(legacyModalityMask(c.code)), c.names) << "code " << c.code;
    EXPECT_EQ(flagsOf(legacyModalityMask(12), 3), json({"brightfield"}));
}

} // namespace
