#include <metadata/detail/ChannelModality.h>

#include <array>
#include <utility>

namespace Zan {
namespace JsonMetadata {
namespace {

// In output order, which is not the bit order. Bits 2, 3, 19 and 31 and above have no name.
constexpr std::array<std::pair<std::uint64_t, const char*>, 28> kModalityNames{{
    {0x1, "fluorescence"},
    {0x2, "brightfield"},
    {0x10, "phaseContrast"},
    {0x20, "diContrast"},
    {0x100, "camera"},
    {0x200, "laserScanConfocal"},
    {0x400, "spinningDiskConfocal"},
    {0x800, "sweptFieldConfocalSlit"},
    {0x1000, "sweptFieldConfocalPinhole"},
    {0x10000, "multiphoton"},
    {0x200000, "spectral"},
    {0x400000, "vaasIF"},
    {0x800000, "vaasNF"},
    {0x2000, "dsdConfocal"},
    {0x40, "RCM"},
    {0x80, "VCS"},
    {0x40000000, "sora"},
    {0x40000, "liveSR"},
    {0x4000, "SIM"},
    {0x20000000, "aux"},
    {0x20000, "TIRF"},
    {0x100000, "pmt"},
    {0x8000, "iSIM"},
    {0x1000000, "transmitDetector"},
    {0x2000000, "nonDescannedDetector"},
    {0x4000000, "virtualFilter"},
    {0x8000000, "gaasp"},
    {0x10000000, "remainder"},
}};

// Legacy codes 1 to 12.
constexpr std::array<std::uint64_t, 12> kLegacyMasks{0x102, 0x201,    0x401,    0x801,    0x10201,  0x11,
                                                     0x21,  0x200201, 0x800201, 0x400201, 0x800201, 0x2000};

} // namespace

void translateModalityFlags(json& flags, std::uint64_t mask, std::int32_t componentCount) {
    if ((mask & 0x3) == 0) {
        flags.push_back(componentCount == 3 ? "brightfield" : "fluorescence");
        return;
    }
    for (const auto& [bit, name] : kModalityNames)
        if (mask & bit)
            flags.push_back(name);
}

std::uint64_t legacyModalityMask(std::uint64_t code) {
    if (code >= 1 && code <= kLegacyMasks.size())
        return kLegacyMasks[code - 1];
    return 0x101;
}

} // namespace JsonMetadata
} // namespace Zan
