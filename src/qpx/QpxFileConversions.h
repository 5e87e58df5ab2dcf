#pragma once

// Split of a native image into overlapping tile files and merge of such tiles back into one image.
//
// The exported entry points are Zan::splitImage and Zan::mergeImage. The other functions declared here
// are the steps they share: the weighting of overlap bands in a frame buffer and the rewriting of a raw-
// metadata document for a tile. They are internal to the library (not exported from the shared library)
// and declared here so that the split, the merge and their tests see one contract.
//
// Every function here is stateless and works only on its arguments: JSON values and buffers that the
// caller owns. The kernels use worker threads for the rows of one call; the caller must not touch the
// buffer from other threads until the call returns.

#include <io/ZanExport.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace Zan {

// ---- Tile geometry and the split and merge entry points: Zan::Vector3d, Zan::splitImage,
// ---- Zan::mergeImage and the steps they share (tile boxes, tile file names, chunk sorting, custom data).
// (Declared here once the native image-file device they work through is available.)

// ---- Overlap blending kernels.
//
// The buffer is one frame in packed layout: rows lineSize bytes apart, each row width pixels of
// components interleaved samples followed by padding. The sample type follows the bits per component: up
// to 8 unsigned 8-bit, up to 16 unsigned 16-bit, up to 32 32-bit float; more than 32 raises
// std::logic_error "<function>: unsupported bitdepth for conversion" before the buffer is touched.
//
// Arguments that would read or write outside the buffer's rows, or that give no ramp, raise
// std::invalid_argument before any sample changes: negative sizes, a row wider than lineSize, a lineSize
// that is not a whole number of samples, a null or misaligned buffer with rows to process, and, for a band
// that is weighted, an overlap of 1 (a ramp needs two pixels) or wider than the frame along its axis.

// Multiplies every sample of lines rows, the padding of each row included, by factor. Integer samples are
// multiplied in single precision and truncated; products outside the sample's range (factors outside
// [0, 1]) saturate, NaN gives 0.
void multipication(void* buffer, long bitsPerComponent, long lineSize, long lines, float factor);

// Weights the first overlap rows (top) and/or the last overlap rows (bottom) with a linear ramp: top row i
// by i / (overlap - 1), bottom row height - overlap + i by (overlap - 1 - i) / (overlap - 1). The top
// band is done before the bottom one, so rows in both are weighted twice.
void blendingY(void* buffer, long bitsPerComponent, long lineSize, long width, long height, long components,
               long overlap, bool top, bool bottom);

// Weights the first overlap pixels (left) and/or the last overlap pixels (right) of every row, every
// component of a pixel alike, with the ramp of blendingY along the row. Left before right.
void blendingX(void* buffer, long bitsPerComponent, long lineSize, long width, long height, long components,
               long overlap, bool left, bool right);

// The kernels of one sample type (unsigned char, unsigned short or float), with the same arguments less
// the bit depth.
template <typename T>
void multipication(T* buffer, long lineSize, long lines, float factor);
template <typename T>
void blendingY(T* buffer, long lineSize, long width, long height, long components, long overlap, bool top,
               bool bottom);
template <typename T>
void blendingX(T* buffer, long lineSize, long width, long height, long components, long overlap, bool left,
               bool right);

extern template void multipication<unsigned char>(unsigned char*, long, long, float);
extern template void multipication<unsigned short>(unsigned short*, long, long, float);
extern template void multipication<float>(float*, long, long, float);
extern template void blendingY<unsigned char>(unsigned char*, long, long, long, long, long, bool, bool);
extern template void blendingY<unsigned short>(unsigned short*, long, long, long, long, long, bool, bool);
extern template void blendingY<float>(float*, long, long, long, long, long, bool, bool);
extern template void blendingX<unsigned char>(unsigned char*, long, long, long, long, long, bool, bool);
extern template void blendingX<unsigned short>(unsigned short*, long, long, long, long, long, bool, bool);
extern template void blendingX<float>(float*, long, long, long, long, long, bool, bool);

// ---- Raw metadata of a tile.
//
// A tile file receives the source's raw-metadata document rewritten to describe the tile: its size, frame
// count, sample format and the planes of its Z stack. Only the members named below change; everything else
// is kept. Loop names are those of the experiment document ("ZStackLoop", "TimeLoop", ...); low and high
// are plane indexes of the source, high exclusive.

// Index of the first loop of the experiment document whose "type" is loopType, or -1 (also for a null
// document). A document that is neither null nor an array raises the JSON library's type error 304, an
// element that is not an object its type error 305.
int experimentLoopPosition(const nlohmann::json& experiment, const std::string& loopType);

// Copies, in frame order, of the frame coordinates whose coordinate at position lies in [low, high). A
// vector without that position (which a negative position never is) raises std::out_of_range.
std::vector<std::vector<unsigned>> selectLoopIndexes(const std::vector<std::vector<unsigned>>& frames,
                                                     int position, long low, long high);

// Rewrites "Attributes_dic" for a tile of frameCount frames of width x height pixels: the frame count,
// the size, a tile size ("uiTileWidth_u32", "uiTileHeight_u32") where the source has one, the row size
// ("uiWidthBytes_u32", from whichever depth members the document stores) and, with toFloat, a 32-bit
// float sample format. A document that is not an object or has no "Attributes_dic" is left alone.
// Sizes outside 32 bits, a negative frame count or an empty frame raise std::invalid_argument; a document
// without the component count or any depth raises the JSON library's type error 302, and one whose row
// size does not fit 32 bits std::runtime_error. Nothing is changed when it throws.
void changeRawMetadataAttributes(nlohmann::json& raw, long frameCount, long width, long height, bool toFloat);

// Rewrites the first loop named loopName on every branch of "Experiment_dic" (see changeExperiment).
void changeRawMetadataExperiment(nlohmann::json& raw, const std::string& loopName, long low, long high);

// Depth first from level: a level that changeExperimentLevel rewrites ends the descent on its branch;
// otherwise every sub-level that the experiment reader visits is searched.
void changeExperiment(nlohmann::json& level, const std::string& loopName, long low, long high);

// Rewrites the loop parameters of level when its type is loopName, and says so. A Z stack then describes
// planes [low, high) of the source stack: their count, the absolute positions of its first and last plane
// and the step between them. Parameters are rewritten where the experiment reader takes them (the first
// unnamed member of "uLoopPars_dic" when there is one). low < 0 or high <= low raise std::invalid_argument
// before anything is read; a level that is not an object raises the JSON library's type error 306.
bool changeExperimentLevel(nlohmann::json& level, const std::string& loopName, long low, long high);

// value rounded up to a multiple of alignment. A negative value or an alignment below 1 raises
// std::invalid_argument, a result beyond the range of long std::overflow_error.
long align(long value, long alignment);

// Bytes of a row of width pixels of components samples of bitsPerComponent bits, rounded up to whole bytes
// and then to alignment. Errors as for align; a negative size also raises std::invalid_argument.
long lineSize(long width, long bitsPerComponent, long components, long alignment);

} // namespace Zan
