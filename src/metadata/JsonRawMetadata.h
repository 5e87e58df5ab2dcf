#pragma once

// Part of the JSON metadata bridge; include <metadata/JsonBridge.h>.
//
// The raw-metadata document mirrors the legacy variant trees of a file: an object with the parts
// "Attributes_dic", "Experiment_dic", "Metadata_dic" and "TextInfo_dic". Inside a part every legacy item
// is one member keyed name + "_" + type suffix: "bol", "i32", "u32", "i64", "u64", "dbl", "str", "bar"
// (bytes as Base64 text) and "dic" (a list, structure or level, as an object). Unnamed items are keyed
// by their position ("i" + 10 digits). Null variants, pointers and empty containers have no JSON form.

#include <io/DefaultInitAllocator.h>
#include <metadata/JsonBridgeCore.h>

#include <cstdint>
#include <vector>

namespace ZanLegacy {
class CVkVariant;
class CVkLiteVariantR;
class CVkLiteVariantW;
} // namespace ZanLegacy

namespace Zan {
namespace JsonMetadata {

// ---- Converters between the legacy forms and the JSON form of one tree.

// out[key of root] := the converted root; out is untouched when the root holds no value or is unnamed.
// Trees nested deeper than CVkVariant::kMaxNestingDepth raise std::runtime_error.
ZAN_EXPORT void makeJsonFromCVkVariant(json& out, const ZanLegacy::CVkVariant& root);
// Adds or replaces one member of out per member of in (objects become structures, the rest typed values
// by suffix; other suffixes are skipped; a "bar" member holding null is an empty byte array). Values of
// the wrong JSON kind raise the library's type error 302, a non-object where members are expected its
// invalid-iterator error 207; objects nested deeper than CVkVariant::kMaxNestingDepth raise
// std::runtime_error before anything is converted. A string or a name holding a NUL, which the legacy
// forms would end there, raises std::runtime_error naming the key's path.
ZAN_EXPORT void makeCVkVariantFromJson(ZanLegacy::CVkVariant& out, const json& in);
// out[key of the item at the reader's cursor] := the converted item; out is untouched when the reader
// holds no bytes. The cursor moves while the item is read and stands on the item again afterwards.
// A level that cannot be entered (damaged, or nested deeper than a reader enters), or whose items are not
// exactly the count it states, raises std::runtime_error and leaves out untouched: no item is lost
// silently.
ZAN_EXPORT void makeJsonFromCVkLiteVariantR(json& out, const ZanLegacy::CVkLiteVariantR& reader);
// Writes one binary item or level per member of in; nothing for a null in. Errors as for
// makeCVkVariantFromJson, except that the nesting limit is the 256 levels a reader enters; a name longer
// than the 255 UTF-16 units an item stores, and a step the writer refuses (a second level at the top),
// also raise std::runtime_error naming the key's path. Names of up to 255 units are stored exactly.
ZAN_EXPORT void makeCVkLiteVariantWFromJson(ZanLegacy::CVkLiteVariantW& writer, const json& in);

// Base64 text of the bytes as a JSON string; null for no data or size 0.
ZAN_EXPORT json encodeBase64(const void* data, std::uint64_t size);
// The bytes of a Base64 JSON string (lenient: characters outside the alphabet are read as the legacy
// coder reads them). A value that is not a string raises the library's type error 302.
ZAN_EXPORT std::vector<unsigned char> decodeBase64(const json& text);

// ---- Reading, composing and writing the raw-metadata document.

// The JSON form of an XML variant serialisation (UTF-8), or null when it cannot be read. Never throws.
ZAN_EXPORT json jsonFromSerializedVariant(const ByteVector& bytes);
// The JSON form of the root item of a binary variant serialisation, or null (also for an empty block).
// Never throws.
ZAN_EXPORT json jsonFromLiteVariant(const ByteVector& bytes);

// The raw-metadata document of four converted blocks. Each is unwrapped to its first element (an
// object's first member in key order, an array's first element). attributes that are empty, or unwrap
// to null or an empty container, raise std::runtime_error "Cannot parse image attributes"; such other
// parts are left out. A part nested deeper than 256 levels raises std::runtime_error
// "composeRawMetadata: <key>: nested deeper than 256 levels".
ZAN_EXPORT json composeRawMetadata(const json& attributes, const json& experiment, const json& metadata,
                                   const json& textInfo);
// The raw-metadata document of four blocks (empty when a chunk is absent): XML variants (version 2
// files) or binary variants (version 3 files). A block that cannot be read is a missing part: so is a
// binary block with a damaged level and an XML one nested deeper than 256 levels, as no binary block is.
ZAN_EXPORT json readRawMetadataFromVariants(const ByteVector& attributes, const ByteVector& experiment,
                                            const ByteVector& metadata, const ByteVector& textInfo);
ZAN_EXPORT json readRawMetadataFromLiteVariants(const ByteVector& attributes, const ByteVector& experiment,
                                                const ByteVector& metadata, const ByteVector& textInfo);
// Fills each reader with the binary serialisation of its part of raw, wrapped in a level named
// "SVkImageAttributes", "SVkExperiment", "SVkPictureMetadata" or "SVkImageTextInfo"; the reader of a
// part that raw lacks is left as it was. Converter errors pass on, with the earlier parts written.
ZAN_EXPORT void writeRawMetadataToLiteVariants(const json& raw, ZanLegacy::CVkLiteVariantR& attributes,
                                               ZanLegacy::CVkLiteVariantR& experiment,
                                               ZanLegacy::CVkLiteVariantR& metadata,
                                               ZanLegacy::CVkLiteVariantR& textInfo);

// ---- Documents derived from the raw-metadata document.

// Geometry, pixel format, frame count and compression from "Attributes_dic". No such part raises
// std::runtime_error "Cannot parse image attributes"; a part without any size, count or depth, or a
// compressed one without "dCompressionParam_dbl", raises the library's error (306, 403). A part nested
// deeper than 256 levels raises std::runtime_error "attributes: Attributes_dic: nested deeper than 256
// levels"; every document builder refuses such parts of what it reads in the same words.
ZAN_EXPORT json attributes(const json& raw);
// True when attributes is an object whose "compressionType" is "lossless".
ZAN_EXPORT bool isCompressionLossLess(const json& attributes);
// The free-text fields of "TextInfo_dic" that are not empty; null when there are none.
ZAN_EXPORT json textInfo(const json& raw);

} // namespace JsonMetadata
} // namespace Zan
