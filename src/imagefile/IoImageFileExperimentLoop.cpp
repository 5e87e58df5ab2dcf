#include <imagefile/IoImageFile.h>
#include <imagefile/detail/RecordNames.h>
#include <metadata/detail/CheckedReads.h>

namespace nlohmann {

namespace {
using Zan::IoImageFile;
using Zan::JsonMetadata::detail::i32Member;
} // namespace

void adl_serializer<IoImageFile::ExperimentLoop>::from_json(const json& j, IoImageFile::ExperimentLoop& r) {
    const std::string type = j.value("type", Zan::detail::convertExperimentLoopType(r.type));
    r.type = static_cast<IoImageFile::ExperimentLoopType>(Zan::detail::experimentLoopTypeFromName(type));
    r.count = i32Member(j, "count", r.count);
    r.nestingLevel = i32Member(j, "nestingLevel", r.nestingLevel);
    const auto parameters = j.find("parameters");
    if (parameters == j.end()) {
        r.parameters = json::object();
        return;
    }
    Zan::JsonMetadata::detail::checkNesting(*parameters, "ExperimentLoop: parameters");
    r.parameters = *parameters;
}

void adl_serializer<IoImageFile::ExperimentLoop>::to_json(json& j, const IoImageFile::ExperimentLoop& r) {
    j = {{"type", Zan::detail::convertExperimentLoopType(r.type)},
         {"count", r.count},
         {"nestingLevel", r.nestingLevel},
         {"parameters", r.parameters}};
}

void adl_serializer<std::vector<IoImageFile::ExperimentLoop>>::from_json(
    const json& j, std::vector<IoImageFile::ExperimentLoop>& r) {
    r.reserve(r.size() + j.size());
    // Indexing rather than iterating: a non-empty value that is not an array raises the library's type
    // error 305, while null and an empty object simply hold no loops.
    for (std::size_t i = 0; i < j.size(); ++i) {
        IoImageFile::ExperimentLoop loop;
        adl_serializer<IoImageFile::ExperimentLoop>::from_json(j[i], loop);
        r.push_back(std::move(loop));
    }
}

void adl_serializer<std::vector<IoImageFile::ExperimentLoop>>::to_json(
    json& j, const std::vector<IoImageFile::ExperimentLoop>& r) {
    json loops = json::array();
    for (const IoImageFile::ExperimentLoop& loop : r)
        loops.push_back(loop);
    j = std::move(loops);
}

} // namespace nlohmann
