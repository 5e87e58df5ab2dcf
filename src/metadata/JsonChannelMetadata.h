#pragma once

// Part of the JSON metadata bridge; include <metadata/JsonBridge.h>.

#include <metadata/JsonBridge.h>

namespace Zan {
namespace JsonMetadata {

} // namespace JsonMetadata
} // namespace Zan
