// Reads arbitrary bytes as JSON text holding a raw-metadata document, a global metadata document and
// component ranges ({"raw", "global", "minima", "maxima"}; any other value is taken as the raw document), the
// way a device hands them to the channel builders: the channel metadata document, its record written and
// read back to the same document, the record readers on the input itself, and the spectrum and wavelength
// rules on every object of the input. Only std::runtime_error and the JSON library's errors may come out.

#include <imagefile/IoImageFile.h>
#include <metadata/JsonBridge.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

using json = nlohmann::json;
using namespace Zan::JsonMetadata;

constexpr int kMaxDepth = 48;
constexpr std::size_t kMaxRanges = 256;

std::string text(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

template <typename F>
void guarded(F f) {
    try {
        f();
    } catch (const std::runtime_error&) {
    } catch (const json::exception&) {
    }
}

std::vector<float> ranges(const json& input, const char* key) {
    std::vector<float> out;
    if (!input.is_object() || !input.contains(key) || !input[key].is_array())
        return out;
    for (const json& v : input[key]) {
        if (out.size() == kMaxRanges)
            break;
        out.push_back(v.is_number() ? static_cast<float>(v.get<double>()) : 0.0f);
    }
    return out;
}

// The document's record, written and read back, must write the same document again.
void recordRoundTrip(const json& document) {
    const json written = document.get<Zan::IoImageFile::Metadata>();
    const json again = written.get<Zan::IoImageFile::Metadata>();
    if (text(again) != text(written))
        std::abort();
}

void rulesOnEveryObject(const json& node, int depth) {
    if (depth > kMaxDepth || !node.is_structured())
        return;
    if (node.is_object()) {
        guarded([&] {
            json channel;
            readWavelengths(channel, node, static_cast<std::uint32_t>(depth % 4));
        });
        guarded([&] { closestExcitationWavelength(meanEmissionWavelength(node), node); });
        guarded([&] {
            OpticalFilterSpectrum s;
            s.loadFromJson(node);
            s.singleWavelength();
            OpticalFilterSpectrum t = s;
            t.combine(s);
            OpticalFilterSpectrum shifted;
            shifted.combine(s);
            shifted.combine(t);
            shifted.singleWavelength();
        });
    }
    for (const json& child : node)
        rulesOnEveryObject(child, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    // Deeper values than any metadata holds are dropped, so the library's recursive copies stay shallow.
    const json input = json::parse(
        data, data + size, [](int depth, json::parse_event_t, json&) { return depth <= kMaxDepth; }, false);
    if (input.is_discarded())
        return 0;
    const bool wrapped = input.is_object() && input.contains("raw");
    const json& raw = wrapped ? input["raw"] : input;
    const json global = wrapped ? input.value("global", json()) : json();
    const std::vector<float> minima = ranges(input, "minima");
    const std::vector<float> maxima = ranges(input, "maxima");

    guarded([&] { recordRoundTrip(metadata(raw, global, minima, maxima)); });
    guarded([&] { recordRoundTrip(input); });
    rulesOnEveryObject(input, 0);
    return 0;
}
