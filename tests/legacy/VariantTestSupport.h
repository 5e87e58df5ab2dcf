#pragma once

#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <functional>
#include <string>

namespace varianttest {

// The diagnostics that f prints.
inline std::string Diag(const std::function<void()>& f) {
    ZanLegacy::CVkDiagnosticCapture capture;
    f();
    return capture.Text();
}

inline std::string U8(const ZanLegacy::CVkStringW& s) {
    return s.GetUtf8();
}

inline std::string RunTypeOf(const ZanLegacy::CVkVariant& v) {
    return v.GetRunType().GetName().GetString();
}

inline ZanLegacy::CVkByteArray Bytes(std::initializer_list<unsigned char> bytes) {
    const std::basic_string<unsigned char> b(bytes);
    return ZanLegacy::CVkByteArray(b.data(), static_cast<unsigned long>(b.size()), 16);
}

// A plain list named name holding the members.
inline ZanLegacy::CVkVariant List(const wchar_t* name, std::initializer_list<ZanLegacy::CVkVariant> members) {
    return ZanLegacy::CVkVariant::CreateStruct(name, members);
}

} // namespace varianttest
