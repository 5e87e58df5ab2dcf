#pragma once

// The raw-metadata document as the four binary variant blocks of a native file, built for storing (not
// installed).

#include <metadata/JsonBridgeCore.h>

namespace ZanLegacy {
class CVkLiteVariantR;
} // namespace ZanLegacy

namespace Zan {
namespace JsonMetadata {
namespace detail {

// Fills each reader with the block of its part of raw, as writeRawMetadataToLiteVariants does, except that
// every reader is given a block: a part that raw lacks or holds as null becomes an empty root level, which
// reads back as an absent part and, stored, replaces an older block of that part. All four are built
// before this returns, so a caller stores nothing of a document that fails. A reader is left empty (size
// 0) where no block can stand for the part: raw is not an object, the attributes part would read back as
// no attributes (absent, null, or holding no item), or another part is a value that is neither an object
// nor null. The converter's errors pass on.
void buildRawMetadataBlocks(const json& raw, ZanLegacy::CVkLiteVariantR& attributes,
                            ZanLegacy::CVkLiteVariantR& experiment, ZanLegacy::CVkLiteVariantR& metadata,
                            ZanLegacy::CVkLiteVariantR& textInfo);

} // namespace detail
} // namespace JsonMetadata
} // namespace Zan
