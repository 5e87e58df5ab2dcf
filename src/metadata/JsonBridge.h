#pragma once

// The JSON metadata bridge: names of metadata items and chunks, the raw-metadata document that mirrors the
// legacy variant trees of a file, and the public documents derived from it. All functions are stateless,
// take no locks and may be called from any thread on their own arguments.

#include <metadata/JsonBridgeCore.h>      // the JSON type, names and copy rules
#include <metadata/JsonChannelMetadata.h> // filter spectra, wavelengths, modality flags, channel metadata
#include <metadata/JsonExperiment.h>      // experiment and frame table, global and frame metadata
#include <metadata/JsonRawMetadata.h>     // raw-metadata document, reading and writing, attributes, text info
