#pragma once

// Metadata blocks for fixtures, made from raw-metadata JSON by our own writers: a part of the document as
// the binary variant bytes of a version 3 file (or the XML variant text of a version 2 file), and the four
// blocks of a whole document in the order the readers take them.
//
//   const auto blocks = ZanTest::liteVariantBlocks(raw);
//   json back = Zan::JsonMetadata::readRawMetadataFromLiteVariants(blocks.attributes, blocks.experiment,
//                                                                   blocks.metadata, blocks.textInfo);

#include <metadata/JsonBridge.h>

#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/CVkSerializerXMLString.h>
#include <legacy/CVkStringA.h>
#include <legacy/CVkVariant.h>

#include <stdexcept>
#include <string>

namespace ZanTest {

// The chunk roots of the four parts.
inline constexpr const char* kAttributesRoot = "SVkImageAttributes";
inline constexpr const char* kExperimentRoot = "SVkExperiment";
inline constexpr const char* kMetadataRoot = "SVkPictureMetadata";
inline constexpr const char* kTextInfoRoot = "SVkImageTextInfo";

// The four blocks of a document; a block is empty where the document has no such part.
struct RawMetadataBlocks {
    Zan::ByteVector attributes, experiment, metadata, textInfo;
};

inline Zan::ByteVector bytesOf(const ZanLegacy::CVkLiteVariantR& reader) {
    const unsigned char* data = reader.GetData();
    return data ? Zan::ByteVector(data, data + reader.GetSize()) : Zan::ByteVector();
}

// The binary variant bytes of one part, stored under a root level named root (a chunk of a version 3
// file holds "Attributes_dic" under "SVkImageAttributes", and so on).
inline Zan::ByteVector liteVariantBytes(const nlohmann::json& part,
                                        const std::string& root = kAttributesRoot) {
    nlohmann::json wrapper;
    wrapper[root] = part;
    ZanLegacy::CVkLiteVariantW writer;
    Zan::JsonMetadata::makeCVkLiteVariantWFromJson(writer, wrapper);
    ZanLegacy::CVkLiteVariantR reader;
    if (writer.Finalize(reader, 0) != 0)
        throw std::runtime_error("liteVariantBytes: the writer did not finish");
    return bytesOf(reader);
}

// The blocks of a whole document, written as the native device stores them.
inline RawMetadataBlocks liteVariantBlocks(const nlohmann::json& raw) {
    ZanLegacy::CVkLiteVariantR a, e, m, t;
    Zan::JsonMetadata::writeRawMetadataToLiteVariants(raw, a, e, m, t);
    return {bytesOf(a), bytesOf(e), bytesOf(m), bytesOf(t)};
}

// The XML variant text (UTF-8) of one part under a root element named root, as a version 2 file stores
// it: the part made a variant tree and saved.
inline Zan::ByteVector xmlVariantBytes(const nlohmann::json& part,
                                       const std::string& root = kAttributesRoot) {
    nlohmann::json wrapper;
    wrapper[root] = part;
    ZanLegacy::CVkVariant tree;
    tree.EnableTypeChange(true);
    Zan::JsonMetadata::makeCVkVariantFromJson(tree, wrapper);
    ZanLegacy::CVkStringA text;
    ZanLegacy::CVkVariant params = ZanLegacy::CVkVariant::CreateStruct(
        L"params", {ZanLegacy::CVkVariant(static_cast<void*>(&text), L"stringUTF8")});
    if (tree.GetCount() != 1 || ZanLegacy::CVkSerializerXMLString().Save(params, tree[0]) != 0)
        throw std::runtime_error("xmlVariantBytes: the part did not save");
    return Zan::ByteVector(text.GetString(), text.GetString() + text.GetLength());
}

inline RawMetadataBlocks xmlVariantBlocks(const nlohmann::json& raw) {
    const auto block = [&](const char* key, const char* root) {
        return raw.contains(key) ? xmlVariantBytes(raw[key], root) : Zan::ByteVector();
    };
    return {block("Attributes_dic", kAttributesRoot), block("Experiment_dic", kExperimentRoot),
            block("Metadata_dic", kMetadataRoot), block("TextInfo_dic", kTextInfoRoot)};
}

// The document of four blocks, read as the native device reads a version 3 or version 2 file.
inline nlohmann::json readLiteVariantBlocks(const RawMetadataBlocks& b) {
    return Zan::JsonMetadata::readRawMetadataFromLiteVariants(b.attributes, b.experiment, b.metadata,
                                                              b.textInfo);
}

inline nlohmann::json readXmlVariantBlocks(const RawMetadataBlocks& b) {
    return Zan::JsonMetadata::readRawMetadataFromVariants(b.attributes, b.experiment, b.metadata, b.textInfo);
}

} // namespace ZanTest
