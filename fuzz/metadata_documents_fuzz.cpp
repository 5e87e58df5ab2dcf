// Arbitrary bytes as the four metadata blocks of a native file (binary or XML variants, the layout of the
// metadata-blocks target) go the whole way a device takes them: the raw-metadata document, then the
// attributes, text-info, experiment (with its frame table), global metadata, channel metadata and frame 0's
// frame metadata documents, and every typed record read from them. Only the library's documented failures
// may come out: std::runtime_error and the JSON library's own errors. Anything else escapes and is a finding,
// as is a crash or a runaway allocation.

#include <support/MetadataBlocksFuzzInput.h>

#include <imagefile/IoImageFile.h>
#include <legacy/VkDiagnostics.h>
#include <metadata/JsonBridge.h>
#include <metadata/detail/ExperimentLoops.h>

#include <cmath>
#include <stdexcept>

namespace {

using Zan::IoImageFile;
using Zan::JsonMetadata::json;

// The frame table a fuzzer may ask for stays far below its memory limit.
constexpr std::uint64_t kMaxFrames = 1u << 16;

template <typename Record>
void readRecord(const json& doc) {
    try {
        Record record{};
        nlohmann::adl_serializer<Record>::from_json(doc, record);
        const json written = record;
        (void)written;
    } catch (const json::exception&) {
    }
}

void documents(const json& raw) {
    namespace jm = Zan::JsonMetadata;
    const json attributes = jm::attributes(raw);
    readRecord<IoImageFile::Attributes>(attributes);
    const json textInfo = jm::textInfo(raw);
    readRecord<IoImageFile::TextInfo>(textInfo);
    jm::FrameTable table;
    const json experiment = jm::experiment(raw, attributes, table, kMaxFrames);
    readRecord<std::vector<IoImageFile::ExperimentLoop>>(experiment);
    const json global = jm::globalMetadata(raw, experiment, textInfo, 2459000.5);
    const json channels = jm::metadata(raw, global, {0.0f, 1.0f}, {255.0f, 65535.0f});
    readRecord<IoImageFile::Metadata>(channels);
    const std::vector<std::uint32_t> first = table.empty() ? std::vector<std::uint32_t>() : table.front();
    const json frame = jm::frameMetadata(global, channels, experiment, NAN, first, "");
    readRecord<IoImageFile::FrameMetadata>(frame);
    jm::frameMetadata(global, channels, experiment, 12.5, first, "/channels/0/time");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 14))
        return 0;
    metadata_fuzz::Input in;
    if (!metadata_fuzz::decode(data, size, in))
        return 0;
    const ZanLegacy::CVkDiagnosticCapture quiet;
    const auto& b = in.blocks;
    try {
        const json raw = in.xml ? Zan::JsonMetadata::readRawMetadataFromVariants(b[0], b[1], b[2], b[3])
                                : Zan::JsonMetadata::readRawMetadataFromLiteVariants(b[0], b[1], b[2], b[3]);
        documents(raw);
    } catch (const std::runtime_error&) {
    } catch (const json::exception&) {
    }
    return 0;
}
