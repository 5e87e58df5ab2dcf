#include <legacy/CVkStringUtils.h>

#include <io/detail/Utf8.h>
#include <legacy/detail/VkFormat.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace ZanLegacy {

unsigned long CVkStringUtils::GetWStringLen(const wchar_t* text) {
    return text ? std::wcslen(text) : 0;
}

const wchar_t* CVkStringUtils::WStringCopy(wchar_t* dst, const wchar_t* src, int n) {
    if (!dst)
        return src;
    int i = 0;
    if (src)
        for (; i < n && src[i]; ++i)
            dst[i] = src[i];
    dst[i] = 0;
    return src ? src + i : src;
}

void CVkStringUtils::Initialize() {}

void CVkStringUtils::Uninitialize() {}

bool CVkStringUtils::ToNumber(CVkStringW text, unsigned int& value) {
    detail::ScopedCLocale cLocale;
    std::swscanf(text.GetString(), L"%ud", &value);
    return true;
}

bool CVkStringUtils::ToNumber(CVkStringW text, int& value) {
    detail::ScopedCLocale cLocale;
    std::swscanf(text.GetString(), L"%d", &value);
    return true;
}

bool CVkStringUtils::ToNumber(CVkStringA text, unsigned int& value) {
    detail::ScopedCLocale cLocale;
    value = static_cast<unsigned int>(std::strtol(text.GetString(), nullptr, 10));
    return true;
}

bool CVkStringUtils::ToNumber(CVkStringA text, int& value) {
    detail::ScopedCLocale cLocale;
    value = static_cast<int>(std::strtol(text.GetString(), nullptr, 10));
    return true;
}

bool CVkStringUtils::WtoUTF8(const wchar_t* text, CVkStringA& out) {
    std::string bytes;
    bool ok = true;
    for (const wchar_t* p = text; p && *p; ++p) {
        const auto c = static_cast<std::uint32_t>(*p);
        if (c <= 0x10FFFF) {
            Zan::detail::appendUtf8(bytes, c);
        } else {
            bytes.push_back('!');
            ok = false;
        }
    }
    out.Empty();
    out.AddChars(bytes.c_str(), -1);
    return ok;
}

bool CVkStringUtils::UTF8toW(const char* text, CVkStringW& out) {
    return UTF8toWn(text, out, UINT_MAX);
}

bool CVkStringUtils::UTF8toWn(const char* text, CVkStringW& out, unsigned int n) {
    std::wstring chars;
    bool ok = true;
    std::uint32_t pending = 0;
    int expected = 0;
    // A sequence cut short (by a new lead byte, an ASCII byte or the end) is dropped rather than
    // folded into the next character.
    const auto dropPending = [&] {
        if (expected > 0)
            ok = false;
        pending = 0;
        expected = 0;
    };
    unsigned int i = 0;
    for (; text && i < n && text[i]; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            dropPending();
            chars.push_back(static_cast<wchar_t>(b));
        } else if ((b & 0xC0) == 0x80) {
            if (--expected < 0) {
                expected = 0;
                ok = false;
                continue;
            }
            pending = (pending << 6) | (b & 0x3F);
            if (expected == 0) {
                chars.push_back(static_cast<wchar_t>(pending));
                pending = 0;
            }
        } else if ((b & 0xE0) == 0xC0) {
            dropPending();
            pending = b & 0x1F;
            expected = 1;
        } else if ((b & 0xF0) == 0xE0) {
            dropPending();
            pending = b & 0x0F;
            expected = 2;
        } else if ((b & 0xF8) == 0xF0) {
            dropPending();
            pending = b & 0x07;
            expected = 3;
        }
        // 0xF8 to 0xFF are dropped.
    }
    dropPending();
    out.Empty();
    out.AddChars(chars.c_str(), -1);
    return ok;
}

} // namespace ZanLegacy
