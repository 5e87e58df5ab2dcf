#pragma once

// Reads everything a binary variant reader offers, as a careful client would: every item of every level
// with the getter of its type, and a lookup of every name through the level's index. The text it builds
// describes the items one a line, so that two buffers with the same content give the same text whatever
// their form (old or new levels, compressed or not). Used by the tests and the reader's fuzz target.

#include <legacy/CVkByteArray.h>
#include <legacy/CVkLiteVariantR.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lite_walk {

inline std::wstring hexBytes(const unsigned char* p, std::size_t n) {
    std::wstring out;
    wchar_t digits[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::swprintf(digits, 4, L"%02x", p[i]);
        out += digits;
    }
    return out;
}

// One line of the description: indentation, a kind, the name and the value text.
inline std::wstring line(int depth, const wchar_t* kind, const std::wstring& name,
                         const std::wstring& value) {
    return std::wstring(2 * depth, L' ') + kind + L" '" + name + L"' " + value + L"\n";
}

inline const wchar_t* kindOf(std::uint8_t type) {
    static const wchar_t* const kinds[] = {L"?",   L"bool", L"i32", L"u32",   L"i64",   L"u64",
                                           L"f64", L"ptr",  L"str", L"bytes", L"level", L"level"};
    return type < 12 ? kinds[type] : L"?";
}

inline std::wstring doubleText(double v) {
    return std::to_wstring(std::bit_cast<std::uint64_t>(v));
}

// Walks from the cursor to the end of the current level (or of the buffer). Returns 0, or the first
// failure of a step (a damaged item stops the walk there).
inline int walk(ZanLegacy::CVkLiteVariantR& r, std::wstring& out, int depth = 0) {
    std::vector<std::wstring> names;
    while (r.IsNextValue()) {
        const std::uint8_t type = r.GetCurrentType();
        if (type == 0)
            return -9;
        const std::wstring name = r.GetCurrentName().GetString();
        names.push_back(name);
        std::wstring value;
        switch (type) {
        case 1:
            value = r.GetCurrentValue(false) ? L"true" : L"false";
            break;
        case 2:
            value = std::to_wstring(r.GetCurrentValue(-1));
            break;
        case 3:
            value = std::to_wstring(r.GetCurrentValue(0u));
            break;
        case 4:
            value = std::to_wstring(r.GetCurrentValue(-1L));
            break;
        case 5:
            value = std::to_wstring(r.GetCurrentValue(0UL));
            break;
        case 6:
            value = doubleText(r.GetCurrentValue(0.0));
            break;
        case 7:
            value = std::to_wstring(
                reinterpret_cast<std::uintptr_t>(r.GetCurrentValue(static_cast<void*>(nullptr))));
            break;
        case 8: {
            ZanLegacy::CVkStringW text;
            value = r.GetCurrentValueCVkStringW(text, L"").GetString();
            break;
        }
        case 9: {
            ZanLegacy::CVkByteArray bytes;
            if (r.GetCurrentValue(bytes) != 0)
                return -9;
            value = hexBytes(bytes.GetData(), bytes.GetSize());
            break;
        }
        default: {
            std::uint32_t count = 0;
            if (int rc = r.CurrentLevelBegin(&count))
                return rc;
            out += line(depth, L"level", name, std::to_wstring(count));
            const int rc = walk(r, out, depth + 1);
            r.LevelEnd();
            if (rc)
                return rc;
            break;
        }
        }
        if (type < 10)
            out += line(depth, kindOf(type), name, value);
        if (int rc = r.NextValue())
            return rc;
    }
    // Every child is in its level's index. The cursor now stands at the index, so each lookup searches it.
    if (depth > 0) {
        for (const std::wstring& name : names) {
            std::size_t offset = 0;
            if (!name.empty() && name[0] == L'\\')
                continue; // such a lookup is a path from the root
            if (r.Find(name.c_str(), offset) != 0)
                return -9;
        }
    }
    return 0;
}

// The whole buffer from its start.
inline int walkAll(ZanLegacy::CVkLiteVariantR& r, std::wstring& out) {
    r.Reset();
    out.clear();
    const int rc = walk(r, out);
    r.Reset();
    return rc;
}

} // namespace lite_walk
