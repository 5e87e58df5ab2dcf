#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/TextInfoKeys.h>

namespace Zan {
namespace JsonMetadata {

json textInfo(const json& raw) {
    json result;
    if (!raw.is_object())
        return result;
    const auto part = raw.find("TextInfo_dic");
    if (part == raw.end())
        return result;
    detail::checkMemberNesting(raw, "TextInfo_dic", "textInfo");
    for (std::size_t i = 0; i < Zan::detail::kTextInfoKeys.size(); ++i)
        jcpy(result, std::string(Zan::detail::kTextInfoKeys[i]), *part,
             "TextInfoItem_" + std::to_string(i) + "_str", condNonEmptyText, xfCopy);
    return result;
}

} // namespace JsonMetadata
} // namespace Zan
