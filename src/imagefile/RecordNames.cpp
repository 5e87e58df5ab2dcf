#include <imagefile/detail/RecordNames.h>

#include <array>
#include <cstdio>
#include <string_view>

namespace Zan {
namespace detail {

namespace {

template <std::size_t N>
std::string nameOf(const std::array<std::string_view, N>& names, int code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N)
        code = 0;
    return std::string(names[static_cast<std::size_t>(code)]);
}

template <std::size_t N>
int codeOf(const std::array<std::string_view, N>& names, const std::string& name) {
    for (std::size_t i = 1; i < N; ++i)
        if (names[i] == name)
            return static_cast<int>(i);
    return 0;
}

constexpr std::array<std::string_view, 2> pixelDataFormats{"unsigned", "float"};
constexpr std::array<std::string_view, 2> axisInterpretations{"distance", "time"};
constexpr std::array<std::string_view, 3> compressionTypes{"none", "lossless", "lossy"};
constexpr std::array<std::string_view, 5> loopTypes{"unknown", "XYPosLoop", "TimeLoop", "NETimeLoop",
                                                    "ZStackLoop"};

} // namespace

std::string convertPixelDataFormat(int code) { return nameOf(pixelDataFormats, code); }
std::string convertAxisInterpretation(int code) { return nameOf(axisInterpretations, code); }
std::string convertCompressionType(int code) { return nameOf(compressionTypes, code); }
std::string convertExperimentLoopType(int code) { return nameOf(loopTypes, code); }

std::string convertColorRGB(std::uint32_t colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour & 0xFFu, (colour >> 8) & 0xFFu,
                  (colour >> 16) & 0xFFu);
    return text;
}

int pixelDataFormatFromName(const std::string& name) { return codeOf(pixelDataFormats, name); }
int axisInterpretationFromName(const std::string& name) { return codeOf(axisInterpretations, name); }
int compressionTypeFromName(const std::string& name) { return codeOf(compressionTypes, name); }
int experimentLoopTypeFromName(const std::string& name) { return codeOf(loopTypes, name); }

} // namespace detail
} // namespace Zan
