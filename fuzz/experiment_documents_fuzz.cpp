// Reads arbitrary JSON text as a raw-metadata document the way a device does: the experiment document and
// its frame table, the global metadata, the metadata of the first and last frame (whole and through the
// pointer that the input names), and the typed loop and frame records written back and read again. Besides
// the raw parts the input may carry "attributes", "textInfo", "metadata" (channel metadata), "t" (the frame
// time) and "pointer". The library's own errors are expected; anything else, a crash, a table that does
// not match its loops or a record that does not read back as written is a finding.

#include <imagefile/IoImageFile.h>
#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include <support/FuzzJsonInput.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

using Zan::IoImageFile;
using Zan::JsonMetadata::FrameTable;
using Zan::JsonMetadata::json;

const json& member(const json& doc, const char* key) {
    static const json null;
    if (!doc.is_object())
        return null;
    const auto it = doc.find(key);
    return it == doc.end() ? null : *it;
}

// Every row has one coordinate per loop, inside the loop's count, in odometer order.
void checkTable(const json& loops, const FrameTable& table) {
    if (!loops.is_array()) {
        if (table.size() != 1 || !table[0].empty())
            std::abort();
        return;
    }
    std::uint64_t frames = 1;
    for (const json& loop : loops)
        frames *= loop.at("count").get<std::uint64_t>();
    if (table.size() != frames)
        std::abort();
    for (std::size_t k = 0; k < table.size(); ++k) {
        if (table[k].size() != loops.size())
            std::abort();
        for (std::size_t i = 0; i < loops.size(); ++i)
            if (table[k][i] >= loops[i]["count"].get<std::uint64_t>())
                std::abort();
        if (k > 0 && !(table[k - 1] < table[k]))
            std::abort();
    }
}

template <typename Record>
void roundTrip(const json& doc) {
    const Record first = doc.get<Record>();
    const json written = first;
    const json again = written.get<Record>();
    if (again.dump() != written.dump()) // as text: a NaN that a position computes equals itself there
        std::abort();
}

void run(const json& raw) {
    const json& attributes = member(raw, "attributes");
    FrameTable table;
    json loops;
    if (raw.is_object() && raw.contains("Experiment_dic") && raw.contains("Attributes_dic")) {
        // The pieces of experiment(), with a cap on the table that stays below the fuzzer's memory limit.
        Zan::JsonMetadata::loadExperimentLoop(0, loops, raw.at("Experiment_dic"));
        Zan::JsonMetadata::buildFrameTable(loops, attributes, table, 1u << 16);
    } else {
        loops = Zan::JsonMetadata::experiment(raw, attributes, table);
    }
    checkTable(loops, table);
    roundTrip<std::vector<IoImageFile::ExperimentLoop>>(loops);

    const json global = Zan::JsonMetadata::globalMetadata(raw, loops, member(raw, "textInfo"), 2451545.0);
    const json& t = member(raw, "t");
    const double time = t.is_number() ? t.get<double>() : 0.0;
    const json& pointer = member(raw, "pointer");
    for (const auto& coordinates : {table.front(), table.back()}) {
        const json frame =
            Zan::JsonMetadata::frameMetadata(global, member(raw, "metadata"), loops, time, coordinates, "");
        roundTrip<IoImageFile::FrameMetadata>(frame);
        if (pointer.is_string())
            Zan::JsonMetadata::frameMetadata(global, member(raw, "metadata"), loops, time, coordinates,
                                             pointer.get<std::string>());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return ZanTest::runOnJsonInput<json::exception, std::runtime_error>(data, size, run);
}
