#pragma once

#include <io/ZanExport.h>

#include <string>

namespace Zan {

// Conversions between UTF-8 (narrow strings), UTF-32 (wide strings) and UTF-16 (binary variants).
// Strict: truncated or overlong sequences, surrogates and code points above U+10FFFF throw std::range_error
// ("wstring_convert::to_bytes" towards UTF-8, "wstring_convert::from_bytes" from UTF-8); nothing is
// returned partly converted. No byte-order mark is written or consumed. Stateless and thread-safe.
namespace StringConversions {

ZAN_EXPORT std::string wstring_to_utf8(const std::wstring& text);
ZAN_EXPORT std::wstring utf8_to_wstring(const std::string& text);
ZAN_EXPORT std::wstring utf16_to_wstring(const std::u16string& text);
ZAN_EXPORT std::u16string wstring_to_utf16(const std::wstring& text);

} // namespace StringConversions
} // namespace Zan
