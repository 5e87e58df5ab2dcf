#pragma once

// Split of a native image into overlapping tile files and merge of such tiles back into one image.
//
// splitImage cuts every frame of a native file (".qpx") with a Z-stack loop into a grid of pieces.x x
// pieces.y x pieces.z boxes (columns, rows, Z-stack planes) and writes each box as a complete native file
// named base + "x" + X + "_y" + Y + "_z" + Z + ".qpx". Neighbouring tiles share an overlap band, weighted
// with a linear ramp so that, without padding, the weights of the tiles covering a position add up to one;
// padding widens every tile on both sides, clipped at the image border. mergeImage adds such tiles back
// into one native file. Both print a header and one line per tile on standard output and give its flags
// and fill character back as they found them.
//
// Both return false, before anything is printed or written, for arguments that describe no valid grid:
// pieces below 1, a negative overlap or padding, an overlap of 1 (a ramp needs two pixels), a band wider
// than the tile it lies in, pieces that would start beyond the image, a source without a Z-stack loop or
// with no planes, an output name that is one of the inputs. The merge also refuses tiles that are missing,
// do not open, hold a frame that does not open (a damaged stream or header), or do not fit together as a
// split writes them. Both write beside their outputs and rename over them only when everything is written:
// a false result or an exception (of the devices, of the JSON library or of the file system, which reach
// the caller) leaves every output file as it was, or absent.
//
// Thread safety: each call uses its own devices, but both write to standard output without a lock and
// change its flags.

#include <io/ZanExport.h>

#include <functional>

namespace Zan {

// Three components: x image columns, y image rows, z Z-stack planes.
template <typename T>
struct Vector3d {
    T x{};
    T y{};
    T z{};

    // {fn(x, other.x), fn(y, other.y), fn(z, other.z)}; an empty fn throws std::bad_function_call.
    Vector3d interaction(const Vector3d& other, std::function<T(const T&, const T&)> fn) const {
        return {fn(x, other.x), fn(y, other.y), fn(z, other.z)};
    }
};

// Writes the tiles of the native file source. toFloat stores every tile with 32-bit float samples, so that
// the weighted bands keep their fractions. True when every frame of every tile was written; false when the
// arguments are refused, the source does not open, a source frame has no pixels or a tile cannot be
// written.
ZAN_EXPORT bool splitImage(const char* source, const char* tileBase, const Vector3d<long>& pieces,
                           const Vector3d<long>& overlap, const Vector3d<long>& padding, bool toFloat);

// Writes the native file merged from the tiles that splitImage wrote with the same base and parameters.
// The merged image has the split source's size and frames; its metadata are the first tile's, rewritten to
// that size and Z range. Each merged frame is built once from every tile that covers it and stored once.
// Where an axis has both overlap and padding, the split weighted the bands at the tiles' padded edges
// while the merge takes each tile from behind its padding: there the sum is divided by the sum of the
// weights the split applied (integers rounded to nearest). True when the merged file was written; false
// when the arguments or the tiles are refused or the merged file cannot be written.
ZAN_EXPORT bool mergeImage(const char* merged, const char* tileBase, const Vector3d<long>& pieces,
                           const Vector3d<long>& overlap, const Vector3d<long>& padding, bool toFloat);

} // namespace Zan
