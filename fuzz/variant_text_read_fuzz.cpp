// Reads arbitrary text into a variant of each kind and converts it with every getter, and parses it with
// the number helpers of both widths. A value written as text must read back to the same value (doubles
// aside: their text keeps 15 decimals).
#include <legacy/CVkStringA.h>
#include <legacy/CVkStringUtils.h>
#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace ZanLegacy;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 14) || size == 0)
        return 0;
    static const char* const kinds[] = {"vk_int32", "vk_uint32", "vk_int64",   "vk_uint64",   "double",
                                        "bool",     "voidPtr",   "CVkStringW", "CVkByteArray"};
    const char* kind = kinds[data[0] % 9];
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    CVkStringW text;
    CVkStringUtils::UTF8toW(bytes.c_str(), text);

    int i = 0;
    unsigned int u = 0;
    CVkStringUtils::ToNumber(text, i);
    CVkStringUtils::ToNumber(text, u);
    const CVkStringA narrow(bytes.c_str());
    CVkStringUtils::ToNumber(narrow, i);
    CVkStringUtils::ToNumber(narrow, u);

    CVkDiagnosticCapture quiet;
    CVkVariant v(CVkVariantRunType(kind), L"v");
    const CVkVariant& readBack = v;
    v.Read(text);
    const CVkVariant s(text, L"s");
    for (const CVkVariant* node : {&readBack, &s}) {
        node->GetVk_int32();
        node->GetVk_uint32();
        node->GetVk_int64();
        node->GetVk_uint64();
        node->GetDouble();
        node->GetBool();
        node->GetVoidPtr();
        node->GetCVkByteArray();
    }
    CVkStringW written;
    if (v.Write(written) == 1 && std::string(kind) != "double") {
        CVkVariant back(CVkVariantRunType(kind), L"back");
        back.Read(written);
        if (back != v)
            std::abort();
    }
    CVkStringW dump;
    CVkVariant::Trace(dump, CVkVariant::CreateStruct(L"r", {v, s}));
    return 0;
}
