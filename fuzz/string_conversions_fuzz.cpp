// Feeds arbitrary bytes to the strict text conversions, as UTF-8 and as UTF-16 units. Text that one of them
// accepts must come back unchanged through the others; text that it refuses must be refused with
// std::range_error and nothing else.

#include <support/FuzzRequire.h>

#include <io/StringConversions.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

using namespace Zan::StringConversions;
using ZanTest::fuzzRequire;

// Every wide text that a decoder returned holds scalar values only, so it converts both ways.
void requireRoundTrips(const std::wstring& wide) {
    const std::string utf8 = wstring_to_utf8(wide);
    fuzzRequire(utf8_to_wstring(utf8) == wide);
    const std::u16string utf16 = wstring_to_utf16(wide);
    fuzzRequire(utf16_to_wstring(utf16) == wide);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        const std::wstring wide = utf8_to_wstring(bytes);
        fuzzRequire(wstring_to_utf8(wide) == bytes);
        requireRoundTrips(wide);
    } catch (const std::range_error&) {
    }

    std::u16string units(size / 2, u'\0');
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    try {
        const std::wstring wide = utf16_to_wstring(units);
        fuzzRequire(wstring_to_utf16(wide) == units);
        requireRoundTrips(wide);
    } catch (const std::range_error&) {
    }

    // Bytes read as wide characters may hold any value, surrogates and values above U+10FFFF included.
    std::wstring raw(size / sizeof(wchar_t), L'\0');
    if (!raw.empty())
        std::memcpy(raw.data(), data, raw.size() * sizeof(wchar_t));
    try {
        const std::string utf8 = wstring_to_utf8(raw);
        fuzzRequire(utf8_to_wstring(utf8) == raw);
        fuzzRequire(utf16_to_wstring(wstring_to_utf16(raw)) == raw);
    } catch (const std::range_error&) {
        bool refusedToo = false;
        try {
            wstring_to_utf16(raw);
        } catch (const std::range_error&) {
            refusedToo = true;
        }
        fuzzRequire(refusedToo);
    }
    return 0;
}
