#pragma once

// The steps that the split of a native image into tile files and the merge of the tiles share (internal):
// the tile geometry, tile file names, the sorting and copying of chunks and per-frame custom data, the
// weighting of overlap bands in a frame buffer and the rewriting of a raw-metadata document for a tile or
// a merged image. The entry points are Zan::splitImage and Zan::mergeImage (<qpx/QpxFileConversions.h>).
//
// The kernels and the metadata functions are stateless and work only on their arguments: JSON values and
// buffers that the caller owns. The kernels use worker threads for the rows of one call (one for every MiB
// a pass touches, at most as many as the hardware reports); the caller must
// not touch the buffer from other threads until the call returns. The file steps use the devices they are
// given from the caller's thread.

#include <io/DefaultInitAllocator.h>
#include <io/IoImageDataDevice.h>
#include <io/Rectangle.h>
#include <qpx/QpxFileConversions.h>
#include <qpx/QpxFileDevice.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace Zan {

// ---- Tile geometry.

// Pieces of extent items in count pieces: the integer ceiling of extent / count (0 for a count below 1).
long pieceSize(long extent, long count);
Vector3d<long> pieceSize(const Vector3d<long>& extent, const Vector3d<long>& pieces);

// The box of tile index, componentwise: its piece [pieceSize * index, + pieceSize), the overlap band after
// it and padding on both sides, clipped to [0, full). end is exclusive; size = end - start.
template <typename T>
void dstParameters(const Vector3d<T>& full, const Vector3d<T>& overlap, const Vector3d<T>& padding,
                   const Vector3d<T>& pieceSize, const Vector3d<T>& index, Vector3d<T>& start,
                   Vector3d<T>& end, Vector3d<T>& size) {
    const auto box = [](T f, T o, T p, T s, T i, T& b, T& e, T& n) {
        b = std::max<T>(s * i, 0);
        e = std::min<T>(f, b + s + o + p);
        b = std::max<T>(b - p, 0);
        n = e - b;
    };
    box(full.x, overlap.x, padding.x, pieceSize.x, index.x, start.x, end.x, size.x);
    box(full.y, overlap.y, padding.y, pieceSize.y, index.y, start.y, end.y, size.y);
    box(full.z, overlap.z, padding.z, pieceSize.z, index.z, start.z, end.z, size.z);
}

// base + "x" + index.x + "_y" + index.y + "_z" + index.z + ".qpx". With createDirectories the base's
// parent directory is created first when it does not exist (a base without one creates nothing).
std::string partialFileName(const std::string& base, Vector3d<long> index, bool createDirectories);

// ---- Pixels of a tile.

// Which bands of a tile face a neighbour, and so are weighted.
struct Faces {
    bool left, right, top, bottom;
};

// Rows go through a buffer of about this many bytes at a time.
constexpr long copyBandBytes = 4L << 20;

// Copies rect of the open frame from into the open frame to, whose plane rect's size fills, band of rows
// by band of rows through buffer (resized as needed; rows of rect.width pixels of bits-bit samples, as
// floats with toFloat, rounded up to from's line alignment). Each band is weighted as the tile's faces ask:
// multiplied by each of factors (the Z ramp), then the top and bottom bands of overlap.y rows, then the
// left and right bands of overlap.x pixels of every row, as blendingY and blendingX weight a whole frame.
void copyWeighted(IoImageDataDevice& from, IoImageDataDevice& to, ByteVector& buffer, const Rectangle& rect,
                  long bits, bool toFloat, const std::vector<float>& factors, const Vector3d<long>& overlap,
                  const Faces& faces, long bandBytes = copyBandBytes);

// ---- Chunks and custom data.

// The chunks that a tile or a merged file writes anew rather than copies: metadata and frames.
const std::vector<std::string>& tileSkipList();

// For each chunk name in order: one that holds any skip-list text is dropped; a "CustomData|" chunk whose
// key (the text after the first "|" up to the first "!") is "X", "Y", "Z", "Z1" or "Z2" appends the key to
// customKeys; any other name is appended to otherChunks.
void sortChunks(const std::vector<std::string>& chunkNames, const std::vector<std::string>& skipList,
                std::vector<std::string>& customKeys, std::vector<std::string>& otherChunks);

// The data of the chunk "CustomData|" key "!" for each key, empty where the device has none.
std::vector<ByteVector> fillCustomMetadata(std::unique_ptr<QpxFileDevice>& device,
                                           const std::vector<std::string>& customKeys);
// One zero-filled buffer of frames * bytesPerFrame bytes for each key. Negative sizes or a product beyond
// any buffer throw std::invalid_argument.
std::vector<ByteVector> allocCustomMetadata(const std::vector<std::string>& customKeys, long frames,
                                            long bytesPerFrame);
// For each key i, the bytesPerFrame bytes of frame sourceFrame in source[i] to frame destinationFrame in
// destination[i]. A frame that either buffer does not hold whole is left alone (the destination keeps its
// bytes), so a short entry in a file never reads or writes beyond its buffer.
void synchronizeCustomMetadata(const std::vector<ByteVector>& source, long sourceFrame,
                               std::vector<ByteVector>& destination, long destinationFrame,
                               long bytesPerFrame);
// Stores each key's non-empty buffer as the chunk "CustomData|" key "!".
void storeCustomMetadata(std::unique_ptr<QpxFileDevice>& device, const std::vector<std::string>& customKeys,
                         const std::vector<ByteVector>& buffers);
// Copies each named chunk that from holds, with its data unchanged, into to.
void storeUninterprettedChunks(std::unique_ptr<QpxFileDevice>& from, std::unique_ptr<QpxFileDevice>& to,
                               const std::vector<std::string>& names);

// ---- Steps of the merge. Tiles are named by partialFileName(tileBase, index, false) and opened for
// reading; a tile that does not open is skipped.

// The merged width from the widths of tiles {i, 0, 0}: every tile but the last gives up its overlap with
// the tiles after it and its padding. Where padding makes that sum miss the split's extent (a short last
// piece), the extent whose split boxes have the tiles' widths is taken.
void determineMergedParametersX(const std::string& tileBase, long pieces, long overlap, long padding,
                                long& width);
// The same along y, from the heights of tiles {0, i, 0}.
void determineMergedParametersY(const std::string& tileBase, long pieces, long overlap, long padding,
                                long& height);
// The same along z, from the Z-stack counts of tiles {0, 0, i}; frames is the merged frame count, the
// frames per plane of the tiles times planes.
void determineMergedParametersZ(const std::string& tileBase, long pieces, long overlap, long padding,
                                long& planes, long& frames);
// From tile {0, 0, 0} when it opens: the position of its Z-stack loop, its raw metadata and its chunks
// sorted by sortChunks; otherwise the outputs keep their values.
void determineGlobalParameters(const std::string& tileBase, const std::vector<std::string>& skipList,
                               std::vector<std::string>& customKeys, std::vector<std::string>& otherChunks,
                               int& zLoopPosition, nlohmann::json& rawMetadata);

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

// Rewrites, on every branch of "Experiment_dic", the first loop named "ZStackLoop" of a document that
// describes planes from its own first plane on (as a tile's does) to describe planes planes from that
// plane: their count, the position of the last one (from the first, the step and the stack's direction)
// and the step. Used for the merged image, whose Z range the tiles' ranges together give. planes below 1
// raise std::invalid_argument.
void changeRawMetadataPlaneCount(nlohmann::json& raw, long planes);

} // namespace Zan
