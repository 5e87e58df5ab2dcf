// Reads arbitrary bytes as the four metadata blocks of a native file, binary or XML variants, into the
// raw-metadata document and derives the attributes and text-info documents from it. Only the documented
// failures may come out. The document is then written back as binary blocks, which must read back as the
// same document, apart from what has no form in the blocks (members without a value, empty levels and
// byte arrays keep only their names); a document the writer refuses (an XML name longer than a binary
// item stores) writes nothing.

#include <support/FuzzRequire.h>
#include <support/MetadataBlocksFuzzInput.h>

#include <metadata/JsonBridge.h>

#include <legacy/CVkLiteVariantR.h>
#include <legacy/VkDiagnostics.h>

#include <stdexcept>
#include <string>

namespace {

using Zan::JsonMetadata::json;
using ZanLegacy::CVkLiteVariantR;

using ZanTest::kCannotParseAttributes;
using ZanTest::fuzzRequire;

bool startsWith(const char* text, const char* prefix) {
    return std::string(text).rfind(prefix, 0) == 0;
}

// What a level holding the members of value reads back as after a write: null when it holds no item.
// Members with a suffix of no kind are not written; a nested level without items and an empty byte
// array read back as the name followed by "_", without a value.
json afterWrite(const json& value) {
    json out;
    for (const auto& [key, member] : value.items()) {
        std::string suffix;
        const std::string name = Zan::JsonMetadata::makeVariantItemName(key, suffix);
        if (member.is_object()) {
            json inner = afterWrite(member);
            if (inner.is_null())
                out[name + "_"] = nullptr;
            else
                out[name + "_dic"] = std::move(inner);
        } else if (suffix == "bar") {
            const bool empty = member.is_null() || Zan::JsonMetadata::decodeBase64(member).empty();
            out[empty ? name + "_" : key] = empty ? json() : member;
        } else if (!member.is_null() &&
                   (suffix == "bol" || suffix == "i32" || suffix == "u32" || suffix == "i64" ||
                    suffix == "u64" || suffix == "dbl" || suffix == "str")) {
            out[key] = member;
        }
    }
    return out;
}

// The document that writing raw and reading it back gives: parts that are no object, or whose level
// would hold no item, are absent.
json afterWriteDocument(const json& raw) {
    json out = json::object();
    for (const auto& [key, part] : raw.items())
        if (part.is_object())
            if (json inner = afterWrite(part); !inner.is_null())
                out[key] = std::move(inner);
    return out;
}

Zan::ByteVector bytesOf(const CVkLiteVariantR& r) {
    return r.GetData() ? Zan::ByteVector(r.GetData(), r.GetData() + r.GetSize()) : Zan::ByteVector();
}

void derive(const json& raw) {
    try {
        Zan::JsonMetadata::attributes(raw);
    } catch (const json::exception& e) {
        fuzzRequire(e.id == 302 || e.id == 306 || e.id == 403);
    }
    try {
        Zan::JsonMetadata::textInfo(raw);
    } catch (const json::type_error& e) {
        fuzzRequire(e.id == 302);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Metadata blocks are small; the bound keeps what an inflated block turns into far below the limits.
    if (size > (1u << 14))
        return 0;
    metadata_fuzz::Input in;
    if (!metadata_fuzz::decode(data, size, in))
        return 0;
    const ZanLegacy::CVkDiagnosticCapture quiet;
    const auto& b = in.blocks;
    json raw;
    try {
        raw = in.xml ? Zan::JsonMetadata::readRawMetadataFromVariants(b[0], b[1], b[2], b[3])
                     : Zan::JsonMetadata::readRawMetadataFromLiteVariants(b[0], b[1], b[2], b[3]);
    } catch (const std::runtime_error& e) {
        fuzzRequire(e.what() == kCannotParseAttributes);
        return 0;
    }
    fuzzRequire(raw.is_object() && raw.contains("Attributes_dic"));
    derive(raw);

    CVkLiteVariantR out[4];
    try {
        Zan::JsonMetadata::writeRawMetadataToLiteVariants(raw, out[0], out[1], out[2], out[3]);
    } catch (const std::runtime_error& e) {
        // Only trees from XML hold names longer than a binary item stores: refused, never cut.
        fuzzRequire(in.xml && startsWith(e.what(), "makeCVkLiteVariantWFromJson: "));
        return 0;
    }
    json back;
    bool refused = false;
    try {
        back = Zan::JsonMetadata::readRawMetadataFromLiteVariants(bytesOf(out[0]), bytesOf(out[1]),
                                                                  bytesOf(out[2]), bytesOf(out[3]));
    } catch (const std::runtime_error& e) {
        fuzzRequire(e.what() == kCannotParseAttributes);
        refused = true;
    }
    const json expected = afterWriteDocument(raw);
    if (!expected.contains("Attributes_dic")) {
        fuzzRequire(refused);
        return 0;
    }
    fuzzRequire(!refused);
    // Printed, so that a NaN compares equal to itself.
    fuzzRequire(back.dump() == expected.dump());
    derive(back);
    return 0;
}
