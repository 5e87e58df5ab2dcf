#pragma once

#include <legacy/CVkStringT.h>

namespace ZanLegacy {

// Copy-on-write narrow (UTF-8) string of the legacy library; see CVkStringT.
using CVkStringA = CVkStringT<char>;

} // namespace ZanLegacy
