#pragma once

// The keys of the text-info document, in the order of the legacy items TextInfoItem_0 to
// TextInfoItem_14 that they come from (not installed).

#include <array>
#include <string_view>

namespace Zan {
namespace detail {

inline constexpr std::array<std::string_view, 15> kTextInfoKeys{
    "imageId",  "type", "group",      "sampleId", "author", "description", "capturing", "sampling",
    "location", "date", "conclusion", "info1",    "info2",  "optics",      "appVersion"};

} // namespace detail
} // namespace Zan
