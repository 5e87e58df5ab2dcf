#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <stdexcept>

namespace Zan {
namespace JsonMetadata {

namespace {

// A member read as a number of the given width, 0 when absent; a document that is not an object raises
// the library's type error 306.
std::uint32_t uint32Of(const json& document, const char* key) {
    return detail::u32Member(document, key, 0);
}

std::int32_t int32Of(const json& document, const char* key) {
    return detail::i32Member(document, key, 0);
}

} // namespace

json attributes(const json& raw) {
    if (!raw.is_object() || !raw.contains("Attributes_dic"))
        detail::throwCannotParseAttributes();
    detail::checkMemberNesting(raw, "Attributes_dic", "attributes");
    const json& a = raw["Attributes_dic"];

    json result;
    jcpy(result, "widthPx", a, "uiWidth_u32", condNonZeroUnsigned);
    jcpy(result, "widthBytes", a, "uiWidthBytes_u32", condNonZeroUnsigned);
    jcpy(result, "heightPx", a, "uiHeight_u32", condNonZeroUnsigned);
    jcpy(result, "componentCount", a, "uiComp_u32", condNonZeroUnsigned);
    jcpy(result, "bitsPerComponentInMemory", a, "uiBpcInMemory_i32", condPositiveSigned);
    jcpy(result, "bitsPerComponentInMemory", a, "uiBpcInMemory_u32", condNonZeroUnsigned);
    jcpy(result, "bitsPerComponentSignificant", a, "uiBpcSignificant_i32", condPositiveSigned);
    jcpy(result, "bitsPerComponentSignificant", a, "uiBpcSignificant_u32", condNonZeroUnsigned);
    jcpy(result, "sequenceCount", a, "uiSequenceCount_u32", condNonZeroUnsigned);

    // Only the significant depth decides: 32 significant bits are float samples.
    result["pixelDataType"] = uint32Of(result, "bitsPerComponentSignificant") == 32 ? "float" : "unsigned";

    // Tile keys only when the tile is smaller than the image.
    const std::uint32_t tw = uint32Of(a, "uiTileWidth_u32");
    const std::uint32_t th = uint32Of(a, "uiTileHeight_u32");
    const bool wholeWidth = tw == 0 || tw == uint32Of(result, "widthPx");
    const bool wholeHeight = th == 0 || th == uint32Of(result, "heightPx");
    if (!(wholeWidth && wholeHeight)) {
        result["tileWidthPx"] = tw;
        result["tileHeightPx"] = th;
    }

    const std::int32_t compression = int32Of(a, "eCompression_i32");
    if (compression == 0 || compression == 1) {
        result["compressionType"] = compression == 0 ? "lossless" : "lossy";
        result["compressionLevel"] = a.at("dCompressionParam_dbl");
    }
    return result;
}

bool isCompressionLossLess(const json& attributes) {
    if (!attributes.is_object() || !attributes.contains("compressionType"))
        return false;
    return attributes["compressionType"].get<std::string>() == "lossless";
}

} // namespace JsonMetadata
} // namespace Zan
