#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringA.h>
#include <legacy/CVkStringW.h>

namespace ZanLegacy {

// Static helpers around the legacy strings: wide length and copy, number parsing (never reports
// failure) and a lenient hand-written UTF-8 coder that, unlike the strict conversions, always produces
// output and only flags what it could not represent. Thread-safe.
class ZAN_EXPORT CVkStringUtils {
public:
    static unsigned long GetWStringLen(const wchar_t* text);
    // Copies until the terminator or n characters and always writes a terminator after them (only the
    // terminator when n <= 0); returns where copying stopped in src.
    static const wchar_t* WStringCopy(wchar_t* dst, const wchar_t* src, int n);
    static void Initialize();
    static void Uninitialize();

    // Decimal text; the target keeps its value when nothing matches (wide) or becomes 0 (narrow).
    // Always true.
    static bool ToNumber(CVkStringW text, unsigned int& value);
    static bool ToNumber(CVkStringW text, int& value);
    static bool ToNumber(CVkStringA text, unsigned int& value);
    static bool ToNumber(CVkStringA text, int& value);

    // UTF-8 encoding; a character above U+10FFFF becomes '!' and makes the result false.
    static bool WtoUTF8(const wchar_t* text, CVkStringA& out);
    // UTF-8 decoding; false when a stray continuation byte or a cut-short sequence was dropped.
    static bool UTF8toW(const char* text, CVkStringW& out);
    // The same over at most the first n bytes.
    static bool UTF8toWn(const char* text, CVkStringW& out, unsigned int n);
};

} // namespace ZanLegacy
