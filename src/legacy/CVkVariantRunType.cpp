#include <legacy/CVkVariantRunType.h>

#include <legacy/CVkStringUtils.h>
#include <legacy/VkDiagnostics.h>
#include <legacy/detail/VkVariantDetail.h>

#include <cstdarg>
#include <cstring>

namespace ZanLegacy {

CVkVariantRunType::CVkVariantRunType() : name("unknown") {}
CVkVariantRunType::CVkVariantRunType(const CVkStringA& n) : name(n) {}
CVkVariantRunType::CVkVariantRunType(const char* n) : name(n) {}
CVkVariantRunType::CVkVariantRunType(const CVkVariantRunType& other) : name(other.name) {}
CVkVariantRunType& CVkVariantRunType::operator=(const CVkVariantRunType& other) {
    name = other.name;
    return *this;
}
CVkVariantRunType::~CVkVariantRunType() = default;

bool CVkVariantRunType::operator==(const CVkVariantRunType& other) const {
    return std::strcmp(name.GetString(), other.name.GetString()) == 0;
}
bool CVkVariantRunType::operator!=(const CVkVariantRunType& other) const {
    return !(*this == other);
}
bool CVkVariantRunType::operator<(const CVkVariantRunType& other) const {
    return std::strcmp(name.GetString(), other.name.GetString()) < 0;
}

const CVkVariantRunType& CVkVariantRunType::GetUnknown() {
    static const CVkVariantRunType unknown;
    return unknown;
}

namespace detail {

void VkPrintFormatted(std::size_t bufferChars, const wchar_t* format, ...) {
    CVkStringW text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    if (bufferChars > 0 && text.GetLength() > bufferChars - 1)
        text.TruncateAt(bufferChars - 1);
    VkPrintDiagnostic(text.GetString());
}

CVkStringW VkWideName(const CVkStringA& name) {
    CVkStringW wide;
    CVkStringUtils::UTF8toW(name.GetString(), wide);
    return wide;
}

} // namespace detail
} // namespace ZanLegacy
