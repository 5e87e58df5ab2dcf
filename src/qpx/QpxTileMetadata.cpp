#include <qpx/detail/QpxTileConversions.h>

#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/ExperimentLoops.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zan {

using nlohmann::json;

namespace {

using JsonMetadata::detail::i32Member;
using JsonMetadata::detail::requireNumber;
using JsonMetadata::detail::u32Member;

constexpr std::uint32_t kZStackType = 4;
constexpr std::int32_t kFromTopStack = 4; // stack types from 4 on are defined downward from the last plane

[[noreturn]] void refuse(const char* function, const std::string& what) {
    throw std::invalid_argument(std::string(function) + ": " + what);
}

// Tiles describe a non-empty range of source planes whose count the loop stores in 32 bits.
void checkPlaneRange(const char* function, long low, long high) {
    if (low < 0 || high <= low || high - low > static_cast<long>(UINT32_MAX))
        refuse(function, "no plane range [" + std::to_string(low) + ", " + std::to_string(high) + ")");
}

void check32(const char* function, const char* name, long value, long least) {
    if (value < least || value > static_cast<long>(UINT32_MAX))
        refuse(function, std::string(name) + " " + std::to_string(value) + " is out of range");
}

const json* memberOf(const json& dic, const char* key) {
    const auto it = dic.find(key);
    return it == dic.end() ? nullptr : &*it;
}

// A depth as the attributes document reports it: the "_u32" member when it is not 0, else the "_i32" one
// when it is above 0, else 0. A part that stores neither raises the library's type error 302 for null.
long storedDepth(const json& a, const char* u32Key, const char* i32Key) {
    const json* u = memberOf(a, u32Key);
    const json* i = memberOf(a, i32Key);
    if (!u && !i)
        requireNumber(json());
    if (u) {
        requireNumber(*u);
        if (const std::uint32_t v = JsonMetadata::jsonToUint32(*u); v != 0)
            return v;
    }
    if (i) {
        requireNumber(*i);
        if (const std::int32_t v = JsonMetadata::jsonToInt32(*i); v > 0)
            return v;
    }
    return 0;
}

// Sets a depth member, and its other-width twin when the part stores one: the attributes document takes
// the "_u32" member over the "_i32" one.
void setDepth(json& a, const char* u32Key, const char* i32Key, std::int32_t value) {
    a[i32Key] = value;
    if (a.contains(u32Key))
        a[u32Key] = static_cast<std::uint32_t>(value);
}

// Depth first from level without recursion: a legacy tree may nest as deep as its file says. A level that
// rewrite changes (it says so) ends the descent on its branch; otherwise every sub-level that the
// experiment reader visits is searched. Only loop parameters change on the way, never the lists of levels,
// so the pointers held stay valid.
template <typename Rewrite>
void rewriteLoops(json& level, Rewrite&& rewrite) {
    std::vector<json*> pending{&level};
    while (!pending.empty()) {
        json* current = pending.back();
        pending.pop_back();
        if (rewrite(*current))
            continue;
        const std::vector<const json*> children = JsonMetadata::subLevels(*current);
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending.push_back(const_cast<json*>(*child)); // members of *current, which is ours to change
    }
}

// The loop parameters of level when it is a Z-stack loop, else null. A level that is not an object raises
// the JSON library's type error 306.
json* zStackParameters(json& level) {
    if (!level.is_object())
        (void)level.value("eType_u32", 0); // the library's type error 306
    if (u32Member(level, "eType_u32", 0) != kZStackType)
        return nullptr;
    // Where the experiment reader takes the parameters from, so that the file reads back what was written.
    return const_cast<json*>(JsonMetadata::loopParameters(level)); // a member of level, which is ours
}

// The step between planes: the stored one, else the one the stack's range and count give.
double zStep(const json& pars) {
    const double step = pars.value("dZStep_dbl", 0.0);
    const std::uint32_t count = u32Member(pars, "uiCount_u32", 0);
    if (step == 0.0 && static_cast<std::int32_t>(count) >= 2)
        return std::fabs(pars.value("dZHigh_dbl", 0.0) - pars.value("dZLow_dbl", 0.0)) /
               static_cast<double>(static_cast<std::int32_t>(count) - 1);
    return step;
}

} // namespace

int experimentLoopPosition(const json& experiment, const std::string& loopType) {
    if (experiment.is_null())
        return -1;
    if (!experiment.is_array())
        (void)experiment.at(0); // the library's type error 304
    for (std::size_t i = 0; i < experiment.size() && i <= static_cast<std::size_t>(INT_MAX); ++i) {
        const json& loop = experiment[i];
        if (!loop.is_object())
            (void)loop["type"]; // the library's type error 305
        const json* type = memberOf(loop, "type");
        if (type && type->is_string() && type->get_ref<const std::string&>() == loopType)
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::vector<unsigned>> selectLoopIndexes(const std::vector<std::vector<unsigned>>& frames,
                                                     int position, long low, long high) {
    std::vector<std::vector<unsigned>> selected;
    for (const std::vector<unsigned>& frame : frames) {
        const long v = frame.at(static_cast<std::size_t>(position));
        if (low <= v && v < high)
            selected.push_back(frame);
    }
    return selected;
}

void changeRawMetadataAttributes(json& raw, long frameCount, long width, long height, bool toFloat) {
    static const char* const function = "changeRawMetadataAttributes";
    if (!raw.is_object() || !raw.contains("Attributes_dic"))
        return;
    check32(function, "frame count", frameCount, 0);
    check32(function, "width", width, 1);
    check32(function, "height", height, 1);
    json& a = raw["Attributes_dic"];
    if (!a.is_object())
        throw json::type_error::create(302, std::string("type must be object, but is ") + a.type_name(), &a);

    // Everything is read and checked before the first member changes.
    const json* compValue = memberOf(a, "uiComp_u32");
    requireNumber(compValue ? *compValue : json());
    const long components = JsonMetadata::jsonToUint32(*compValue);
    const long bits = toFloat ? 32 : storedDepth(a, "uiBpcInMemory_u32", "uiBpcInMemory_i32");
    const long rowBytes = lineSize(width, bits, components, 4);
    if (rowBytes > static_cast<long>(UINT32_MAX))
        throw std::runtime_error(std::string(function) + ": rows of " + std::to_string(rowBytes) +
                                 " bytes do not fit the attributes");

    if (toFloat) {
        a["ePixelType_i32"] = 2;
        setDepth(a, "uiBpcInMemory_u32", "uiBpcInMemory_i32", 32);
        setDepth(a, "uiBpcSignificant_u32", "uiBpcSignificant_i32", 32);
    }
    a["uiSequenceCount_u32"] = static_cast<std::uint32_t>(frameCount);
    a["uiWidth_u32"] = static_cast<std::uint32_t>(width);
    a["uiHeight_u32"] = static_cast<std::uint32_t>(height);
    a["uiWidthBytes_u32"] = rowBytes;
    // A tile is stored whole: a tile size of the source would describe a tiling the tile does not have.
    if (a.contains("uiTileWidth_u32"))
        a["uiTileWidth_u32"] = static_cast<std::uint32_t>(width);
    if (a.contains("uiTileHeight_u32"))
        a["uiTileHeight_u32"] = static_cast<std::uint32_t>(height);
}

void changeRawMetadataExperiment(json& raw, const std::string& loopName, long low, long high) {
    checkPlaneRange("changeRawMetadataExperiment", low, high);
    if (raw.is_object() && raw.contains("Experiment_dic"))
        changeExperiment(raw["Experiment_dic"], loopName, low, high);
}

void changeExperiment(json& level, const std::string& loopName, long low, long high) {
    checkPlaneRange("changeExperiment", low, high);
    rewriteLoops(level, [&](json& current) { return changeExperimentLevel(current, loopName, low, high); });
}

bool changeExperimentLevel(json& level, const std::string& loopName, long low, long high) {
    checkPlaneRange("changeExperimentLevel", low, high);
    if (!level.is_object())
        (void)level.value("eType_u32", 0); // the library's type error 306
    const std::uint32_t type = u32Member(level, "eType_u32", 0);
    const char* name = JsonMetadata::loopTypeName(type);
    if (!name || loopName != name || !JsonMetadata::loopParameters(level))
        return false;
    json* found = zStackParameters(level);
    if (!found)
        return true;

    json pars = *found;
    const double zLow = pars.value("dZLow_dbl", 0.0);
    const double zHigh = pars.value("dZHigh_dbl", 0.0);
    const double step = zStep(pars);
    const std::int32_t stackType = i32Member(pars, "iType_i32", 0);

    const double first = static_cast<double>(low) * step;
    const double last = static_cast<double>(high - 1) * step;
    pars["uiCount_u32"] = static_cast<std::uint32_t>(high - low);
    pars["bAbsolute_bol"] = true;
    // The step is kept: a tile of one plane could not derive it from its own range.
    pars["dZStep_dbl"] = step;
    if (stackType < kFromTopStack) {
        pars["iType_i32"] = 0;
        pars["dZLow_dbl"] = zLow + first;
        pars["dZHigh_dbl"] = zLow + last;
    } else {
        pars["iType_i32"] = kFromTopStack;
        pars["dZLow_dbl"] = zHigh - first;
        pars["dZHigh_dbl"] = zHigh - last;
    }
    *found = std::move(pars);
    return true;
}

void changeRawMetadataPlaneCount(json& raw, long planes) {
    checkPlaneRange("changeRawMetadataPlaneCount", 0, planes);
    if (!raw.is_object() || !raw.contains("Experiment_dic"))
        return;
    rewriteLoops(raw["Experiment_dic"], [planes](json& level) {
        json* found = zStackParameters(level);
        if (!found)
            return false;
        json pars = *found;
        const double step = zStep(pars);
        const double first = pars.value("dZLow_dbl", 0.0);
        // A tile's first plane is its "dZLow_dbl"; stacks from type 4 on run downward from it.
        const double span = static_cast<double>(planes - 1) * step;
        const bool downward = i32Member(pars, "iType_i32", 0) >= kFromTopStack;
        pars["uiCount_u32"] = static_cast<std::uint32_t>(planes);
        pars["bAbsolute_bol"] = true;
        pars["dZStep_dbl"] = step;
        pars["dZHigh_dbl"] = downward ? first - span : first + span;
        *found = std::move(pars);
        return true;
    });
}

long align(long value, long alignment) {
    if (value < 0 || alignment < 1)
        refuse("align", "cannot align " + std::to_string(value) + " to " + std::to_string(alignment));
    long padded = 0;
    if (__builtin_add_overflow(value, alignment - 1, &padded))
        throw std::overflow_error("align: " + std::to_string(value) + " aligned to " +
                                  std::to_string(alignment) + " is too large");
    return padded / alignment * alignment;
}

long lineSize(long width, long bitsPerComponent, long components, long alignment) {
    if (width < 0 || bitsPerComponent < 0 || components < 0)
        refuse("lineSize", "negative row geometry " + std::to_string(width) + " x " +
                               std::to_string(bitsPerComponent) + " x " + std::to_string(components));
    long bits = 0;
    if (__builtin_mul_overflow(width, bitsPerComponent, &bits) ||
        __builtin_mul_overflow(bits, components, &bits) || bits > LONG_MAX - 7)
        throw std::overflow_error("lineSize: rows of " + std::to_string(width) + " pixels of " +
                                  std::to_string(components) + " x " + std::to_string(bitsPerComponent) +
                                  " bits are too large");
    return align((bits + 7) / 8, alignment);
}

} // namespace Zan
