#pragma once

#include <clocale>
#include <cstdarg>
#include <cstddef>
#include <locale.h>
#include <string>

// Internal helpers of the legacy library: printf-style formatting and the "C" locale guard.
namespace ZanLegacy::detail {

// Makes the calling thread use the "C" locale while it lives, so that number text does not depend on
// the process locale. Other threads are not affected.
class ScopedCLocale {
public:
    ScopedCLocale();
    ~ScopedCLocale();
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t m_previous;
};

// Appends the printf-style formatting of format to out. Conversions are parsed here:
// numbers are printed in the "C" locale, text arguments are converted between UTF-8 and UTF-32 as the
// width of each argument requires (see CVkStringT::Format). Returns false, with out unchanged, for an
// invalid or refused conversion (%n, positional arguments) or text that cannot be converted.
template <class Ch>
bool VkFormat(std::basic_string<Ch>& out, const Ch* format, va_list args);

// The length of the longest prefix of text[0, n) that is at most max bytes long and does not end
// inside a UTF-8 sequence.
std::size_t Utf8Prefix(const char* text, std::size_t n, std::size_t max);

} // namespace ZanLegacy::detail
