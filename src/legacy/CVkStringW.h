#pragma once

#include <legacy/CVkStringT.h>

namespace ZanLegacy {

// Copy-on-write wide (UTF-32) string of the legacy library; see CVkStringT.
using CVkStringW = CVkStringT<wchar_t>;

} // namespace ZanLegacy
