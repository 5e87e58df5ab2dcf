// Feeds arbitrary bytes to the XML variant loader. It may accept or refuse them (0 or -9, nothing
// else); what it accepts must save, load again and save to the same text.
#include <legacy/CVkSerializerXMLString.h>
#include <legacy/CVkStringA.h>
#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <cstdint>
#include <cstdlib>
#include <string>

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
