#pragma once

// Name tables of the record enumerations, shared by the record codecs (not installed).

#include <cstdint>
#include <string>

namespace Zan {
namespace detail {

// Code to JSON name; a code outside a table gives the name of code 0.
std::string convertPixelDataFormat(int code);
std::string convertAxisInterpretation(int code);
std::string convertCompressionType(int code);
std::string convertExperimentLoopType(int code);
// "#rrggbb" of a colour holding red in its lowest byte; the highest byte is ignored.
std::string convertColorRGB(std::uint32_t colour);

// JSON name to code: exact, case-sensitive; any other text gives 0.
int pixelDataFormatFromName(const std::string& name);
int axisInterpretationFromName(const std::string& name);
int compressionTypeFromName(const std::string& name);
int experimentLoopTypeFromName(const std::string& name);

} // namespace detail
} // namespace Zan
