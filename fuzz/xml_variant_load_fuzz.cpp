// Feeds arbitrary bytes to the XML variant loader. It may accept or refuse them (0 or -9, nothing
// else); what it accepts must save, load again and save to the same text. The same bytes, taken four at a
// time as wide characters (any value, surrogates and values beyond Unicode included), go through the wide
// loader, which may accept or refuse them too.
#include <legacy/CVkSerializerXMLString.h>
#include <legacy/CVkStringA.h>
#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ZanLegacy::CVkSerializerXMLString;
using ZanLegacy::CVkStringA;
using ZanLegacy::CVkVariant;

int load(CVkVariant& out, const char* data, std::size_t size) {
    const CVkVariant params = CVkVariant::CreateStruct(
        L"params", {CVkVariant(const_cast<void*>(static_cast<const void*>(data)), L"rawStringUTF8"),
                    CVkVariant(static_cast<unsigned int>(size), L"rawStringLen")});
    return CVkSerializerXMLString().Load(out, params);
}

int loadWide(CVkVariant& out, const std::vector<wchar_t>& text) {
    const CVkVariant params = CVkVariant::CreateStruct(
        L"params", {CVkVariant(const_cast<void*>(static_cast<const void*>(text.data())), L"rawString"),
                    CVkVariant(static_cast<unsigned int>(text.size()), L"rawStringLen")});
    return CVkSerializerXMLString().Load(out, params);
}

std::string save(const CVkVariant& v) {
    CVkStringA text;
    CVkVariant params =
        CVkVariant::CreateStruct(L"params", {CVkVariant(static_cast<void*>(&text), L"stringUTF8")});
    if (CVkSerializerXMLString().Save(params, v) != 0)
        std::abort();
    return std::string(text.GetString(), text.GetLength());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    const ZanLegacy::CVkDiagnosticCapture quiet;
    std::vector<wchar_t> wide(size / sizeof(wchar_t) + 1, L'\0');
    std::memcpy(wide.data(), data, size / sizeof(wchar_t) * sizeof(wchar_t));
    CVkVariant fromWide;
    const int wideResult = loadWide(fromWide, wide);
    if (wideResult != 0 && wideResult != -9)
        std::abort();

    CVkVariant out;
    const int result = load(out, reinterpret_cast<const char*>(data), size);
    if (result != 0 && result != -9)
        std::abort();
    if (result != 0)
        return 0;
    const std::string first = save(out);
    CVkVariant again;
    if (load(again, first.data(), first.size()) != 0 || save(again) != first)
        std::abort();
    return 0;
}
