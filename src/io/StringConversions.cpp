#include <io/StringConversions.h>

#include <io/detail/Utf8.h>

#include <cstdint>
#include <stdexcept>

namespace Zan {
namespace StringConversions {
namespace {

const char* const kToBytes = "wstring_convert::to_bytes";
const char* const kFromBytes = "wstring_convert::from_bytes";

bool isScalarValue(std::uint32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

void appendUtf16(std::u16string& out, std::uint32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at text[i], advancing i; refuses overlong forms, surrogates, values above
// U+10FFFF and sequences cut short.
std::uint32_t decodeUtf8(const std::string& text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length;
    std::uint32_t c;
    std::uint32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        throw std::range_error(kFromBytes);
    }
    if (text.size() - i < length)
        throw std::range_error(kFromBytes);
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned next = byte(i + k);
        if ((next & 0xC0) != 0x80)
            throw std::range_error(kFromBytes);
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || !isScalarValue(c))
        throw std::range_error(kFromBytes);
    i += length;
    return c;
}

} // namespace

std::string wstring_to_utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        const auto c = static_cast<std::uint32_t>(w);
        if (!isScalarValue(c))
            throw std::range_error(kToBytes);
        detail::appendUtf8(out, c);
    }
    return out;
}

std::wstring utf8_to_wstring(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(static_cast<wchar_t>(decodeUtf8(text, i)));
    return out;
}

std::wstring utf16_to_wstring(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                throw std::range_error(kToBytes);
            const std::uint32_t low = text[++i];
            out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            throw std::range_error(kToBytes);
        } else {
            out.push_back(static_cast<wchar_t>(unit));
        }
    }
    return out;
}

std::u16string wstring_to_utf16(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        const auto c = static_cast<std::uint32_t>(w);
        if (!isScalarValue(c))
            throw std::range_error(kToBytes);
        appendUtf16(out, c);
    }
    return out;
}

} // namespace StringConversions
} // namespace Zan
