// Scans arbitrary text as the flat XML form of binary variants (each input byte one character, so that
// markup, digits and quotation marks are easy to reach), then walks and prints what it built and scans
// that print again. The scanner must stay inside its text and refuse what does not fit.

#include <support/LiteVariantWalk.h>

#include <legacy/CVkLiteVariantR.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 14))
        return 0;
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i)
        text.push_back(data[i] == 0 ? L' ' : static_cast<wchar_t>(data[i]));
    ZanLegacy::CVkStringW input(text.c_str());
    ZanLegacy::CVkLiteVariantR r;
    if (r.LiteVariantFromXML(input) != 0)
        return 0;
    std::wstring walked;
    lite_walk::walkAll(r, walked);
    ZanLegacy::CVkStringW printed;
    r.LiteVariantToXML(printed);
    ZanLegacy::CVkLiteVariantR back;
    back.LiteVariantFromXML(printed);
    return 0;
}
