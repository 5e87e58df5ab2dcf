// Reads arbitrary JSON text as the documents that callers hand to the bridge rather than documents read
// from a file: a raw-metadata document written as the four binary variant blocks (as a native device
// stores its metadata and split and merge store their rewritten tiles) and as a variant tree, composed from
// parts, and the attributes and text-info documents derived from it; and the same text as the documents
// that the record readers take. Only the documented failures may come out: std::runtime_error and the
// JSON library's own errors. Blocks that were written must read back, refused at most for an attributes
// part that holds nothing; records must read back as they were written.

#include <support/FuzzRequire.h>
#include <support/FuzzJsonInput.h>

#include <imagefile/IoImageFile.h>
#include <metadata/JsonBridge.h>

#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Zan::IoImageFile;
using Zan::JsonMetadata::json;
using ZanLegacy::CVkLiteVariantR;

using ZanTest::kCannotParseAttributes;
using ZanTest::fuzzRequire;

// Null, or a container without members: what a composed document never holds as a part.
bool isEmpty(const json& part) {
    return part.is_null() || (part.is_structured() && part.empty());
}

Zan::ByteVector bytesOf(const CVkLiteVariantR& r) {
    return r.GetData() ? Zan::ByteVector(r.GetData(), r.GetData() + r.GetSize()) : Zan::ByteVector();
}

// A record read from doc, written, and read again writes the same document.
template <typename Record>
void roundTrip(const json& doc) {
    Record first;
    nlohmann::adl_serializer<Record>::from_json(doc, first);
    const json written = first;
    Record again;
    nlohmann::adl_serializer<Record>::from_json(written, again);
    fuzzRequire(json(again) == written);
}

// The refusal of a part nested deeper than the builders take: "<builder>: <part>: nested deeper than 256
// levels".
bool nestingRefusal(const std::runtime_error& e) {
    const std::string text = e.what(), tail = ": nested deeper than 256 levels";
    return text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs f; the JSON library's errors, "Cannot parse image attributes" and the nesting refusal are the
// documented failures.
template <typename F>
void documented(F&& f) {
    try {
        f();
    } catch (const json::exception&) {
    } catch (const std::runtime_error& e) {
        fuzzRequire(e.what() == kCannotParseAttributes || nestingRefusal(e));
    }
}

// The derived documents of raw, and the records read from them and from raw itself.
void derive(const json& raw) {
    documented([&] {
        const json attributes = Zan::JsonMetadata::attributes(raw);
        fuzzRequire(attributes.is_object());
        roundTrip<IoImageFile::Attributes>(attributes);
    });
    documented([&] {
        const json text = Zan::JsonMetadata::textInfo(raw);
        fuzzRequire(text.is_null() || (text.is_object() && !text.empty()));
        roundTrip<IoImageFile::TextInfo>(text);
    });
    documented([&] { Zan::JsonMetadata::isCompressionLossLess(raw); });
    documented([&] { roundTrip<IoImageFile::Attributes>(raw); });
    documented([&] { roundTrip<IoImageFile::TextInfo>(raw); });
    documented([&] { roundTrip<IoImageFile::FrameMetadata>(raw); });
    // Loop parameters nested too deep for the JSON library's recursive copies are refused.
    ZanTest::swallowing<json::exception, std::runtime_error>(
        [&] { roundTrip<std::vector<IoImageFile::ExperimentLoop>>(raw); });
}

void compose(const json& doc) {
    const json& part = doc.is_array() && doc.size() == 4 ? doc : json();
    json raw;
    try {
        raw = part.is_null() ? Zan::JsonMetadata::composeRawMetadata(doc, doc, doc, doc)
                             : Zan::JsonMetadata::composeRawMetadata(part[0], part[1], part[2], part[3]);
    } catch (const std::runtime_error& e) {
        fuzzRequire(e.what() == kCannotParseAttributes || nestingRefusal(e));
        return;
    }
    fuzzRequire(raw.is_object() && raw.contains("Attributes_dic"));
    for (const auto& [key, value] : raw.items())
        fuzzRequire(!isEmpty(value));
}

void writeTree(const json& doc) {
    ZanLegacy::CVkVariant tree = ZanLegacy::CVkVariant::CreateStruct(L"R", {});
    tree.EnableTypeChange(true);
    ZanTest::swallowing<json::exception, std::runtime_error>([&] {
        Zan::JsonMetadata::makeCVkVariantFromJson(tree, doc);
        json back;
        Zan::JsonMetadata::makeJsonFromCVkVariant(back, tree);
        fuzzRequire(back.is_object() && back.size() == 1);
    });
}

void writeBlocks(const json& raw) {
    CVkLiteVariantR out[4];
    try {
        Zan::JsonMetadata::writeRawMetadataToLiteVariants(raw, out[0], out[1], out[2], out[3]);
    } catch (const json::exception&) {
        return;
    } catch (const std::runtime_error&) {
        return; // nested deeper than a reader enters, or holding what the binary form cannot store
    }
    json back;
    try {
        back = Zan::JsonMetadata::readRawMetadataFromLiteVariants(bytesOf(out[0]), bytesOf(out[1]),
                                                                  bytesOf(out[2]), bytesOf(out[3]));
    } catch (const std::runtime_error& e) {
        fuzzRequire(e.what() == kCannotParseAttributes);
        return;
    }
    // Every part that came back was in the document.
    for (const auto& [key, part] : back.items())
        fuzzRequire(raw.contains(key));
    derive(back);
}

void run(const json& doc) {
    derive(doc);
    compose(doc);
    writeTree(doc);
    writeBlocks(doc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ZanLegacy::CVkDiagnosticCapture quiet;
    // Deep enough to reach the nesting limits of both legacy forms.
    return ZanTest::runOnJsonInput<>(data, size, run, 1100);
}
