// The raw-metadata document of a file: its four metadata blocks read into one document, and the
// document written back as four binary variant blocks.

#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <legacy/CVkAlloc.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/CVkSerializerXMLString.h>
#include <legacy/CVkVariant.h>

#include <array>
#include <climits>
#include <cstring>
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
// it holds nothing, so that an empty level is a missing part rather than a null one.
json unwrapped(const json& block) {
    if (isEmpty(block))
        return nullptr;
    json first = block.is_object() || block.is_array() ? block.front() : block;
    return isEmpty(first) ? json() : first;
}

using Converter = json (*)(const ByteVector&);

json readRawMetadata(Converter convert, const ByteVector& attributes, const ByteVector& experiment,
                     const ByteVector& metadata, const ByteVector& textInfo) {
    const json a = convert(attributes), e = convert(experiment), m = convert(metadata), t = convert(textInfo);
    return composeRawMetadata(a, e, m, t);
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
    json raw;
    raw["Attributes_dic"] = unwrapped(attributes);
    if (raw["Attributes_dic"].is_null())
        detail::throwCannotParseAttributes();
    const std::array<std::pair<const char*, const json*>, 3> parts{
        {{"Experiment_dic", &experiment}, {"Metadata_dic", &metadata}, {"TextInfo_dic", &textInfo}}};
    for (const auto& [key, part] : parts) {
        json value = unwrapped(*part);
        if (!value.is_null())
            raw[key] = std::move(value);
    }
    return raw;
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
    const struct {
        const char* key;
        const char* wrapper;
        CVkLiteVariantR& out;
    } parts[] = {{"Attributes_dic", "SVkImageAttributes", attributes},
                 {"Experiment_dic", "SVkExperiment", experiment},
                 {"Metadata_dic", "SVkPictureMetadata", metadata},
                 {"TextInfo_dic", "SVkImageTextInfo", textInfo}};
    if (!raw.is_object())
        return;
    for (const auto& part : parts) {
        const auto it = raw.find(part.key);
        if (it == raw.end())
            continue;
        json wrapper;
        wrapper[part.wrapper] = *it;
        ZanLegacy::CVkLiteVariantW writer;
        makeCVkLiteVariantWFromJson(writer, wrapper);
        writer.Finalize(part.out, 0);
    }
}

} // namespace JsonMetadata
} // namespace Zan
