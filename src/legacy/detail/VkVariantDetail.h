#pragma once

#include <legacy/CVkStringW.h>

#include <cstddef>

// Internal helpers shared by the variant sources.
namespace ZanLegacy::detail {

// Formats the diagnostic into a buffer of bufferChars wide characters (so at most bufferChars - 1 are
// kept) and prints it.
void VkPrintFormatted(std::size_t bufferChars, const wchar_t* format, ...);

// The run-type name as wide text.
CVkStringW VkWideName(const CVkStringA& name);

} // namespace ZanLegacy::detail
