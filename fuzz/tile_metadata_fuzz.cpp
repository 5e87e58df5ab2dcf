// Rewrites arbitrary JSON text, read as a raw-metadata document, for a tile the way a split does: the Z-stack
// loop found in its experiment document, the frames of a plane range selected, the loop and the attributes
// rewritten, and the rewritten document read back. Besides the raw parts the input may carry "low", "high",
// "width", "height", "frames" (integers) and "toFloat" (a boolean). The library's own errors are expected;
// anything else, a crash, or rewritten attributes that do not read back as the tile's size and format is a
// finding. Values nested deeper than the legacy trees can be are dropped from the input.

#include <qpx/detail/QpxTileConversions.h>

#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include <support/FuzzJsonInput.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

using Zan::JsonMetadata::FrameTable;
using Zan::JsonMetadata::json;

long integerOf(const json& doc, const char* key, long fallback) {
    const auto it = doc.is_object() ? doc.find(key) : doc.end();
    return it != doc.end() && it->is_number_integer() ? it->get<long>() : fallback;
}

void run(const json& raw) {
    const long low = integerOf(raw, "low", 0), high = integerOf(raw, "high", 1);
    const long width = integerOf(raw, "width", 4), height = integerOf(raw, "height", 4);
    const long frames = integerOf(raw, "frames", 1);
    const bool toFloat = raw.is_object() && raw.value("toFloat", false);

    if (raw.is_object() && raw.contains("Experiment_dic") && raw.contains("Attributes_dic")) {
        // The pieces of experiment(), with a cap on the table that stays below the fuzzer's memory limit.
        json loops;
        FrameTable table;
        Zan::JsonMetadata::loadExperimentLoop(0, loops, raw.at("Experiment_dic"));
        Zan::JsonMetadata::buildFrameTable(loops, json(), table, 1u << 16);
        const int zPos = Zan::experimentLoopPosition(loops, "ZStackLoop");
        if (zPos >= 0)
            for (const auto& frame : Zan::selectLoopIndexes(table, zPos, low, high))
                if (frame[zPos] < low || frame[zPos] >= high)
                    std::abort();
    }

    json tile = raw;
    Zan::changeRawMetadataExperiment(tile, "ZStackLoop", low, high);
    Zan::changeRawMetadataAttributes(tile, frames, width, height, toFloat);
    if (!tile.is_object() || !tile.contains("Attributes_dic"))
        return;
    const json attributes = Zan::JsonMetadata::attributes(tile);
    if (attributes.value("widthPx", json()) != width || attributes.value("heightPx", json()) != height)
        std::abort();
    if (toFloat && (attributes.value("bitsPerComponentInMemory", json()) != 32 ||
                    attributes.value("pixelDataType", json()) != "float"))
        std::abort();
    if (attributes.contains("tileWidthPx"))
        std::abort(); // a tile is stored whole
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return ZanTest::runOnJsonInput<json::exception, std::invalid_argument, std::out_of_range,
                                   std::runtime_error>(data, size, run, 256);
}
