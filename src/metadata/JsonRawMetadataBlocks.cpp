// The raw-metadata document of a file: its four metadata blocks read into one document, and the
// document written back as four binary variant blocks.

#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/RawMetadataBlocks.h>

#include <legacy/CVkAlloc.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/CVkSerializerXMLString.h>
#include <legacy/CVkVariant.h>

#include <array>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

namespace Zan {
namespace JsonMetadata {

namespace {

using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkVariant;

// Null, or an object or array without members.
bool isEmpty(const json& part) {
    return part.is_null() || ((part.is_object() || part.is_array()) && part.empty());
}

// The first element of a converted block (its one wrapped root structure); null when there is none or
// it holds nothing, so that an empty level is a missing part rather than a null one. Not copied.
const json* unwrapped(const json& block) {
    if (isEmpty(block))
        return nullptr;
    const json& first = block.is_object() || block.is_array() ? block.front() : block;
    return isEmpty(first) ? nullptr : &first;
}

constexpr const char* kPartKeys[4] = {"Attributes_dic", "Experiment_dic", "Metadata_dic", "TextInfo_dic"};

// The document of four unwrapped parts (null where a part is missing).
json composeParts(const std::array<const json*, 4>& parts) {
    if (!parts[0])
        detail::throwCannotParseAttributes();
    json raw;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (parts[i])
            raw[kPartKeys[i]] = *parts[i];
    return raw;
}

using Converter = json (*)(const ByteVector&);

json readRawMetadata(Converter convert, const ByteVector& attributes, const ByteVector& experiment,
                     const ByteVector& metadata, const ByteVector& textInfo) {
    const std::array<json, 4> blocks{convert(attributes), convert(experiment), convert(metadata),
                                     convert(textInfo)};
    std::array<const json*, 4> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        parts[i] = unwrapped(blocks[i]);
        // XML trees may nest deeper than binary blocks, and than documents are taken anywhere else: such
        // a block cannot be read, as one too deep for the binary reader cannot.
        if (parts[i] && !detail::withinNesting(*parts[i]))
            parts[i] = nullptr;
    }
    return composeParts(parts);
}

// A part's key, the root level of its block and the reader the block goes to.
struct PartBlock {
    const char* key;
    const char* wrapper;
    CVkLiteVariantR& out;
};

// The four parts in their order.
std::array<PartBlock, 4> partBlocks(CVkLiteVariantR& attributes, CVkLiteVariantR& experiment,
                                    CVkLiteVariantR& metadata, CVkLiteVariantR& textInfo) {
    return {{{kPartKeys[0], "SVkImageAttributes", attributes},
             {kPartKeys[1], "SVkExperiment", experiment},
             {kPartKeys[2], "SVkPictureMetadata", metadata},
             {kPartKeys[3], "SVkImageTextInfo", textInfo}}};
}

// The block of one part: a level named wrapper holding the part's members. The part is measured before it
// is copied under its wrapper, as the copy recurses.
void writePart(const json& part, const char* key, const char* wrapper, CVkLiteVariantR& out) {
    detail::checkNesting(part, (std::string("writeRawMetadataToLiteVariants: ") + key).c_str());
    json level;
    level[wrapper] = part;
    ZanLegacy::CVkLiteVariantW writer;
    makeCVkLiteVariantWFromJson(writer, level);
    if (writer.Finalize(out, 0) != 0)
        throw std::bad_alloc();
}

// Whether a block's root level holds at least one item.
bool holdsItems(CVkLiteVariantR& block) {
    std::uint32_t count = 0;
    const bool entered = block.GetSize() != 0 && block.CurrentLevelBegin(&count) == 0;
    block.Reset();
    return entered && count != 0;
}

} // namespace

json jsonFromSerializedVariant(const ByteVector& bytes) {
    // The loader takes a 32-bit length: a larger block would be read as a cut-off prefix.
    if (bytes.empty() || bytes.size() > UINT_MAX)
        return nullptr;
    try {
        const CVkVariant params = CVkVariant::CreateStruct(
            L"params",
            {CVkVariant(const_cast<void*>(static_cast<const void*>(bytes.data())), L"rawStringUTF8"),
             CVkVariant(static_cast<unsigned int>(bytes.size()), L"rawStringLen")});
        CVkVariant root;
        root.EnableTypeChange(true);
        if (ZanLegacy::CVkSerializerXMLString().Load(root, params) != 0)
            return nullptr;
        json out;
        makeJsonFromCVkVariant(out, root);
        return out;
    } catch (...) {
        return nullptr;
    }
}

json jsonFromLiteVariant(const ByteVector& bytes) {
    if (bytes.empty())
        return nullptr;
    try {
        CVkLiteVariantR reader;
        void* block = ZanLegacy::CVkAlloc::Alloc(0, bytes.size(), 16);
        if (!block)
            return nullptr;
        std::memcpy(block, bytes.data(), bytes.size());
        reader.SetPointer(block, bytes.size(), bytes.size());
        json out;
        makeJsonFromCVkLiteVariantR(out, reader);
        return out;
    } catch (...) {
        return nullptr;
    }
}

json composeRawMetadata(const json& attributes, const json& experiment, const json& metadata,
                        const json& textInfo) {
    const std::array<const json*, 4> blocks{&attributes, &experiment, &metadata, &textInfo};
    std::array<const json*, 4> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        parts[i] = unwrapped(*blocks[i]);
        if (parts[i])
            detail::checkNesting(*parts[i], (std::string("composeRawMetadata: ") + kPartKeys[i]).c_str());
    }
    return composeParts(parts);
}

json readRawMetadataFromVariants(const ByteVector& attributes, const ByteVector& experiment,
                                 const ByteVector& metadata, const ByteVector& textInfo) {
    return readRawMetadata(jsonFromSerializedVariant, attributes, experiment, metadata, textInfo);
}

json readRawMetadataFromLiteVariants(const ByteVector& attributes, const ByteVector& experiment,
                                     const ByteVector& metadata, const ByteVector& textInfo) {
    return readRawMetadata(jsonFromLiteVariant, attributes, experiment, metadata, textInfo);
}

void writeRawMetadataToLiteVariants(const json& raw, CVkLiteVariantR& attributes, CVkLiteVariantR& experiment,
                                    CVkLiteVariantR& metadata, CVkLiteVariantR& textInfo) {
    const std::array<PartBlock, 4> parts = partBlocks(attributes, experiment, metadata, textInfo);
    if (!raw.is_object())
        return;
    for (const PartBlock& part : parts)
        if (const json* value = detail::member(raw, part.key))
            writePart(*value, part.key, part.wrapper, part.out);
}

namespace detail {

void buildRawMetadataBlocks(const json& raw, CVkLiteVariantR& attributes, CVkLiteVariantR& experiment,
                            CVkLiteVariantR& metadata, CVkLiteVariantR& textInfo) {
    const std::array<PartBlock, 4> parts = partBlocks(attributes, experiment, metadata, textInfo);
    for (const PartBlock& part : parts) {
        part.out.Clear();
        const json& value = memberOrNull(raw, part.key);
        if (raw.is_object() && (value.is_object() || value.is_null()))
            writePart(value.is_null() ? json::object() : value, part.key, part.wrapper, part.out);
    }
    // Attributes that read back as none would leave a file that cannot be opened.
    if (!holdsItems(attributes))
        attributes.Clear();
}

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
