#pragma once

// Modality flags of a channel (not installed): the names of a plane's modality bits.

#include <metadata/JsonBridgeCore.h>

#include <cstdint>

namespace Zan {
namespace JsonMetadata {
// Appends to flags the names of the modality bits of mask, in the fixed order of the name table. A mask
// with neither the fluorescence nor the brightfield bit gives one name only: "brightfield" for a
// three-component channel, else "fluorescence".
void translateModalityFlags(json& flags, std::uint64_t mask, std::int32_t componentCount);

// The modality mask of a legacy modality code ("eModality_u32"); unknown codes give fluorescence camera.
std::uint64_t legacyModalityMask(std::uint64_t code);

} // namespace JsonMetadata
} // namespace Zan
