#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/ExperimentLoops.h>


#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Zan {
namespace JsonMetadata {

namespace {

using detail::condNumber;
using detail::memberOrNull;
using detail::u32Member;

// Loop type names by the legacy "eType_u32".
constexpr std::array<const char*, 11> loopTypeNames{
    "Unknown",   "TimeLoop",   "XYPosLoop",  "XYDiscrLoop", "ZStackLoop",        "PolarLoop",
    "SpectLoop", "CustomLoop", "NETimeLoop", "ManTimeLoop", "ZStackLoopAccurate"};
enum LegacyLoopType : std::uint32_t {
    UnknownType = 0,
    TimeType = 1,
    XYPosType = 2,
    ZStackType = 4,
    SpectType = 6,
    NETimeType = 8,
    LastType = 10
};

const json::json_pointer spectPlanesCount("/pPlanes_dic/uiCount_u32");

// The position of a legacy list item keyed by it: the unnamed-item form "i" + 10 digits, or the form "a" +
// decimal digits that named list entries carry. iForm tells which.
bool listPosition(const std::string& key, std::uint64_t& position, bool& iForm) {
    const std::string::size_type end = std::min(key.rfind('_'), key.size());
    if (end < 2 || end > 11 || (key[0] != 'i' && key[0] != 'a'))
        return false;
    iForm = key[0] == 'i';
    if (iForm && end != 11)
        return false;
    position = 0;
    for (std::string::size_type i = 1; i < end; ++i) {
        if (key[i] < '0' || key[i] > '9')
            return false;
        position = position * 10 + static_cast<std::uint64_t>(key[i] - '0');
    }
    return true;
}

// The members of a legacy list in list order. Keys order the unnamed-item form correctly, but not the
// "a" + decimal form beyond ten entries (a10 sorts before a2), so a list keyed only by positions is put in
// position order; any other list keeps key order. An absent (null) list is empty; a list of another kind
// raises the library's type error 302.
std::vector<const json*> listItems(const json& list) {
    std::vector<const json*> items;
    if (list.is_null())
        return items;
    if (!list.is_object())
        throw json::type_error::create(302, std::string("type must be object, but is ") + list.type_name(),
                                       &list);
    std::vector<std::pair<std::uint64_t, const json*>> positioned;
    positioned.reserve(list.size());
    bool allPositioned = true;
    for (auto it = list.begin(); it != list.end(); ++it) {
        std::uint64_t position = 0;
        bool iForm = false;
        allPositioned = allPositioned && listPosition(it.key(), position, iForm);
        positioned.emplace_back(position, &*it);
    }
    const auto byPosition = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (allPositioned && !std::is_sorted(positioned.begin(), positioned.end(), byPosition))
        std::stable_sort(positioned.begin(), positioned.end(), byPosition);
    items.reserve(positioned.size());
    for (const auto& entry : positioned)
        items.push_back(entry.second);
    return items;
}

// Which items of a list a level marks valid: the bytes of "<name>_bar" (non-zero is valid), else the
// booleans of the list "<name>_dic", else no mask at all. An empty byte array reads as a null "_bar" from
// XML variants and as no "_bar" at all from binary ones: both are no mask.
class ValidityMask {
public:
    ValidityMask(const json& dic, const std::string& name) {
        const std::string barKey = makeJsonItemName(name, "bar");
        const std::string dicKey = makeJsonItemName(name, "dic");
        if (!memberOrNull(dic, barKey).is_null()) {
            present_ = true;
            bytes_ = decodeBase64(dic.at(barKey));
        } else if (dic.contains(dicKey)) {
            present_ = true;
            flags_ = listItems(dic.at(dicKey));
            fromFlags_ = true;
        }
    }
    bool present() const { return present_; }
    // Item i is valid only when the mask has an entry for it that is set.
    bool valid(std::size_t i) const {
        if (fromFlags_)
            return i < flags_.size() && flags_[i]->get<bool>();
        return i < bytes_.size() && bytes_[i] != 0;
    }

private:
    bool present_ = false;
    bool fromFlags_ = false;
    std::vector<unsigned char> bytes_;
    std::vector<const json*> flags_;
};

std::uint32_t clampedCount(std::uint64_t n) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
}

bool notBelowZero(const json& value) {
    return value.is_number() && value.get<double>() >= 0.0;
}

json zStackParameters(const json& pars, std::uint32_t& count) {
    count = u32Member(pars, "uiCount_u32", 0);
    const double low = pars.value("dZLow_dbl", 0.0);
    const double high = pars.value("dZHigh_dbl", 0.0);
    double step = pars.value("dZStep_dbl", 0.0);
    const double home = pars.value("dZHome_dbl", 0.0);
    const bool inverted = pars.value("bZInverted_bol", false);
    const std::int32_t kind = detail::i32Member(pars, "iType_i32", 0);

    // In 64 bits and doubles: a count from the file of 2^31 or more must not turn the arithmetic negative.
    const std::int64_t last = static_cast<std::int64_t>(count) - 1;
    const double dLow = std::fabs(low - home);
    const double dHigh = std::fabs(high - home);
    const double range = std::fabs(high - low);
    if (step == 0.0 && count > 1)
        step = range / static_cast<double>(last);

    double h = 0.0;
    double d = 0.0;
    bool fromDistance = true;
    switch (kind) {
    case 2:
    case 3:
        d = inverted ? dHigh : dLow;
        break;
    case 6:
    case 7:
        d = inverted ? dLow : dHigh;
        break;
    default:
        fromDistance = false;
        h = static_cast<double>(last / 2);
    }
    if (fromDistance)
        h = step > 0.0 ? std::fabs(std::ceil((d - 0.05 * step) / step))
                       : std::trunc(static_cast<double>(last) * d / range);
    // A zero range or a NaN from the file gives no usable ratio; the plane is always one of the loop's.
    std::int64_t homeIndex = 0;
    if (std::isfinite(h))
        homeIndex = static_cast<std::int64_t>(
            std::clamp(h, 0.0, static_cast<double>(std::max<std::int64_t>(last, 0))));

    json parameters = {{"homeIndex", homeIndex}, {"stepUm", step}, {"bottomToTop", kind <= 3}};
    // "wsZDevice" in experiments from the acquisition, "sZDevice" in those written through the record type.
    if (!jcpy(parameters, "deviceName", pars, "wsZDevice_str", condNonEmptyText))
        jcpy(parameters, "deviceName", pars, "sZDevice_str", condNonEmptyText);
    return parameters;
}

std::vector<double> numberList(const json& pars, const char* key) {
    std::vector<double> numbers;
    for (const json* item : listItems(memberOrNull(pars, key)))
        numbers.push_back(item->get<double>());
    return numbers;
}

json xyPointsParameters(const json& levelDic, const json& pars, std::uint32_t& count) {
    const bool useZ = pars.value("bUseZ_bol", false);
    double refX = 0.0;
    double refY = 0.0;
    if (pars.value("bRelativeXY_bol", false)) {
        refX = pars.value("dReferenceX_dbl", 0.0);
        refY = pars.value("dReferenceY_dbl", 0.0);
    }

    json points = json::array();
    if (pars.contains("Points_dic")) {
        for (const json* p : listItems(pars.at("Points_dic"))) {
            json point = {{"stagePositionUm",
                           {p->value("dPosX_dbl", 0.0) + refX, p->value("dPosY_dbl", 0.0) + refY,
                            useZ ? p->value("dPosZ_dbl", 0.0) : 0.0}}};
            const double pfs = p->value("dPFSOffset_dbl", 0.0);
            if (pfs >= 0.0)
                point["pfsOffset"] = pfs;
            jcpy(point, "name", *p, "pPosName_str", condNonEmptyText);
            points.push_back(std::move(point));
        }
    } else {
        const std::vector<double> xs = numberList(pars, "dPosX_dic");
        const std::vector<double> ys = numberList(pars, "dPosY_dic");
        const std::vector<double> zs = useZ ? numberList(pars, "dPosZ_dic") : std::vector<double>();
        const std::vector<double> pfs = numberList(pars, "dPFSOffset_dic");
        const std::vector<const json*> names = listItems(memberOrNull(pars, "pPosName_dic"));
        for (std::size_t i = 0; i < xs.size(); ++i) {
            json point = {
                {"stagePositionUm",
                 {xs[i] + refX, (i < ys.size() ? ys[i] : 0.0) + refY, i < zs.size() ? zs[i] : 0.0}}};
            if (i < pfs.size() && pfs[i] >= 0.0)
                point["pfsOffset"] = pfs[i];
            if (i < names.size() && condNonEmptyText(*names[i]))
                point["name"] = *names[i];
            points.push_back(std::move(point));
        }
    }

    json parameters;
    if (points.empty())
        return parameters;
    const ValidityMask mask(levelDic, "pItemValid");
    json retained;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (!mask.present() || mask.valid(i))
            retained.push_back(std::move(points[i]));
    count = clampedCount(retained.size());
    parameters["points"] = std::move(retained);
    parameters["isSettingZ"] = useZ;
    return parameters;
}

json neTimeParameters(const json& pars, std::uint32_t& count) {
    const ValidityMask mask(pars, "pPeriodValid");
    const std::vector<const json*> items = listItems(memberOrNull(pars, "pPeriod_dic"));
    std::uint64_t total = 0;
    json periods;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!mask.valid(i))
            continue;
        std::uint32_t c = 0;
        json period = readTimePeriod(*items[i], &c);
        if (!period.is_object())
            continue;
        period["count"] = c;
        periods.push_back(std::move(period));
        total += c;
    }
    json parameters;
    if (!periods.is_null())
        parameters["periods"] = std::move(periods);
    // The frame table refuses what a saturated sum stands for; it must not wrap to a small count.
    count = clampedCount(total);
    return parameters;
}

} // namespace

const char* loopTypeName(std::uint32_t type) {
    return type < loopTypeNames.size() ? loopTypeNames[type] : nullptr;
}

const json* loopParameters(const json& levelDic) {
    const auto it = levelDic.find("uLoopPars_dic");
    if (it == levelDic.end())
        return nullptr;
    const json* pars = &*it;
    if (pars->is_object()) {
        const auto first = pars->find(makeJsonItemName(makeJsonArrayNameFromIndex(0), "dic"));
        if (first != pars->end())
            pars = &*first;
    }
    return pars->is_null() ? nullptr : pars;
}

namespace {

void appendLoop(json& loops, json loop, int level) {
    if (loops.is_null() || loops.empty() || detail::i32Member(loops.back(), "nestingLevel", 0) < level) {
        loop["nestingLevel"] = level;
        loops.push_back(std::move(loop));
        return;
    }
    json& last = loops.back();
    if (detail::i32Member(last, "nestingLevel", 0) == level && last.value("type", "") == loop.at("type") &&
        u32Member(last, "count", 0) < u32Member(loop, "count", 0)) {
        loop["nestingLevel"] = level;
        last = std::move(loop);
    }
}

// Handles one level: appends its loop when it qualifies. Returns whether its sub-levels are visited, and
// at which level.
bool visitLevel(int level, json& loops, const json& levelDic, int& subLevel) {
    const std::uint32_t t = u32Member(levelDic, "eType_u32", 0);
    if (t > LastType)
        return false;
    const json* pars = loopParameters(levelDic);
    if (!pars)
        return false;

    std::uint32_t count = 0;
    json parameters;
    switch (t) {
    case TimeType:
        parameters = readTimePeriod(*pars, &count);
        break;
    case XYPosType:
        parameters = xyPointsParameters(levelDic, *pars, count);
        break;
    case ZStackType:
        parameters = zStackParameters(*pars, count);
        break;
    case SpectType: {
        const json* planes = detail::pointee(*pars, spectPlanesCount);
        count = planes ? jsonToUint32(*planes) : 0;
        if (count == 0)
            count = u32Member(*pars, "uiCount_u32", 0);
        break;
    }
    case NETimeType:
        parameters = neTimeParameters(*pars, count);
        break;
    default:
        count = u32Member(*pars, "uiCount_u32", 0);
    }
    if (count == 0 || t == UnknownType)
        return false;
    if (t == SpectType) {
        // Spectral loops are transparent: their sub-levels take their place.
        subLevel = level;
        return true;
    }
    json loop = {{"type", loopTypeName(t)}, {"count", count}};
    if (parameters.is_object())
        loop["parameters"] = std::move(parameters);
    appendLoop(loops, std::move(loop), level);
    subLevel = level + 1;
    return true;
}

} // namespace

std::vector<const json*> subLevels(const json& levelDic) {
    const std::int32_t n = detail::i32Member(levelDic, "uiNextLevelCount_u32", 0);
    const auto it = levelDic.find("ppNextLevelEx_dic");
    if (it == levelDic.end())
        return {};
    if (n < 1)
        return listItems(*it);
    if (!it->is_object())
        return listItems(*it); // empty when null, else the library's type error
    std::vector<const json*> levels;
    for (auto member = it->begin(); member != it->end(); ++member) {
        std::uint64_t position = 0;
        bool iForm = false;
        const std::string& key = member.key();
        if (listPosition(key, position, iForm) && iForm && position < static_cast<std::uint64_t>(n) &&
            key.size() == 15 && key.compare(11, 4, "_dic") == 0)
            levels.push_back(&*member); // i-keys sort in position order
    }
    return levels;
}

json readTimePeriod(const json& periodDic, std::uint32_t* count) {
    const std::uint32_t c = u32Member(periodDic, "uiCount_u32", 0);
    if (c == 0)
        return nullptr;
    *count = c;
    json period = json::object();
    jcpy(period, "startMs", periodDic, "dStart_dbl", condNumber);
    jcpy(period, "periodMs", periodDic, "dPeriod_dbl", condNumber);
    jcpy(period, "durationMs", periodDic, "dDuration_dbl", condNumber);
    json diff;
    jcpy(diff, "min", periodDic, "dMinPeriodDiff_dbl", notBelowZero);
    jcpy(diff, "max", periodDic, "dMaxPeriodDiff_dbl", notBelowZero);
    jcpy(diff, "avg", periodDic, "dAvgPeriodDiff_dbl", notBelowZero);
    if (!diff.is_null())
        period["periodDiff"] = std::move(diff);
    return period;
}

void loadExperimentLoop(int level, json& loops, const json& levelDic) {
    // Depth first with an explicit stack: the legacy tree may nest as deep as the file says.
    std::vector<std::pair<int, const json*>> pending{{level, &levelDic}};
    while (!pending.empty()) {
        const auto [current, dic] = pending.back();
        pending.pop_back();
        int subLevel = 0;
        if (!visitLevel(current, loops, *dic, subLevel))
            continue;
        const std::vector<const json*> children = subLevels(*dic);
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending.emplace_back(subLevel, *child);
    }
}

json experiment(const json& raw, const json& attributes, FrameTable& frameTable) {
    return experiment(raw, attributes, frameTable, maxFrameTableFrames);
}

json experimentDocument(const json& raw) {
    if (!raw.is_object() || !raw.contains("Experiment_dic"))
        return nullptr;
    if (!raw.contains("Attributes_dic"))
        detail::throwCannotParseAttributes();
    json loops;
    loadExperimentLoop(0, loops, raw.at("Experiment_dic"));
    return loops;
}

json experiment(const json& raw, const json& attributes, FrameTable& frameTable, std::uint64_t maxFrames) {
    json loops = experimentDocument(raw);
    if (loops.is_null()) {
        frameTable.assign(1, {});
        return loops;
    }
    buildFrameTable(loops, attributes, frameTable, maxFrames);
    return loops;
}

} // namespace JsonMetadata
} // namespace Zan
