#include <qpx/QpxFileConversions.h>
#include <qpx/detail/QpxTileConversions.h>

#include <io/detail/CheckedSize.h>
#include <metadata/JsonBridge.h>
#include <qpx/QpxChunkedDevice.h>
#include <qpx/QpxImageData.h>
#include <qpx/detail/QpxFrameGeometry.h>
#include <qpx/detail/QpxFrameWrites.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

namespace Zan {

using nlohmann::json;

namespace {

using Grid = Vector3d<long>;
namespace fs = std::filesystem;

constexpr IoDevice::OpenMode readMode = IoDevice::Read;
constexpr IoDevice::OpenMode createMode = IoDevice::Write | IoDevice::Update;
constexpr IoImageFileDevice::OpenOptions openOptions = 3;
constexpr long customBytesPerFrame = 8;
// Names of frame chunks begin with it.
constexpr const char* frameChunkPrefix = "ImageDataSeq|";
const std::string zLoopName = "ZStackLoop";
// Overlap and padding beyond any 32-bit image size describe nothing; refusing them keeps the box sums
// far from overflowing.
constexpr long maxBand = 1L << 32;

std::unique_ptr<QpxFileDevice> openFile(const std::string& name, IoDevice::OpenMode mode) {
    auto device = std::make_unique<QpxFileDevice>(name);
    if (!device->open(mode, openOptions, nullptr))
        return nullptr;
    return device;
}

using detail::componentBytes;

long integerOf(const json& document, const char* key) {
    return detail::integerMember(document, key);
}

// The Z-stack count of an experiment document, 0 without a Z-stack loop.
long zCountOf(const json& experiment, int zPosition) {
    return zPosition < 0 ? 0 : integerOf(experiment.at(static_cast<std::size_t>(zPosition)), "count");
}

long tileCount(const Grid& pieces) {
    long n = 0;
    if (__builtin_mul_overflow(pieces.x, pieces.y, &n) || __builtin_mul_overflow(n, pieces.z, &n))
        return -1;
    return n;
}

// Pieces of at least 1, overlap and padding from 0 on, and no overlap of 1: a ramp needs two pixels.
bool validParameters(const Grid& pieces, const Grid& overlap, const Grid& padding) {
    for (const auto& [n, o, p] :
         {std::tuple{pieces.x, overlap.x, padding.x}, std::tuple{pieces.y, overlap.y, padding.y},
          std::tuple{pieces.z, overlap.z, padding.z}})
        if (n < 1 || o < 0 || o == 1 || o > maxBand || p < 0 || p > maxBand)
            return false;
    return tileCount(pieces) > 0;
}

// Both names given, the file's native, and a valid grid.
bool acceptedArguments(const char* file, const char* tileBase, const Grid& pieces, const Grid& overlap,
                       const Grid& padding) {
    return file && tileBase && QpxFileDevice::isAcceptableFilename(std::string(file)) &&
           validParameters(pieces, overlap, padding);
}

// Every axis has pixels and its last piece starts inside the image, so no tile box is empty.
bool piecesFit(const Grid& full, const Grid& pieces, const Grid& size) {
    for (const auto& [f, n, s] : {std::tuple{full.x, pieces.x, size.x}, std::tuple{full.y, pieces.y, size.y},
                                  std::tuple{full.z, pieces.z, size.z}})
        if (f < 1 || f > maxBand || n > f || s * (n - 1) >= f)
            return false;
    return true;
}

// Calls visit(index, tile number) for every tile in visiting order: z outermost, then x, then y. The tile
// number counts from 1 in that order.
template <typename Visit>
bool forEachTile(const Grid& pieces, Visit&& visit) {
    for (long z = 0; z < pieces.z; ++z)
        for (long x = 0; x < pieces.x; ++x)
            for (long y = 0; y < pieces.y; ++y)
                if (!visit(Grid{x, y, z}, y + 1 + (z * pieces.x + x) * pieces.y))
                    return false;
    return true;
}

struct Box {
    Grid start, end, size;
};

Box boxOf(const Grid& full, const Grid& overlap, const Grid& padding, const Grid& piece, const Grid& index) {
    Box b;
    dstParameters(full, overlap, padding, piece, index, b.start, b.end, b.size);
    return b;
}

// A weighted band fits in the tile it lies in, along every axis: the weights of a band wider than its tile
// would never reach 1.
bool bandsFit(const Grid& full, const Grid& pieces, const Grid& overlap, const Grid& padding,
              const Grid& piece) {
    for (long i = 0; i < std::max({pieces.x, pieces.y, pieces.z}); ++i) {
        const Grid index{std::min(i, pieces.x - 1), std::min(i, pieces.y - 1), std::min(i, pieces.z - 1)};
        const Box b = boxOf(full, overlap, padding, piece, index);
        for (const auto& [n, o, s] :
             {std::tuple{pieces.x, overlap.x, b.size.x}, std::tuple{pieces.y, overlap.y, b.size.y},
              std::tuple{pieces.z, overlap.z, b.size.z}})
            if (n > 1 && o > s)
                return false;
    }
    return true;
}

bool weightsBands(const Grid& pieces, const Grid& overlap) {
    return (pieces.x > 1 && overlap.x > 0) || (pieces.y > 1 && overlap.y > 0) ||
           (pieces.z > 1 && overlap.z > 0);
}

// Two names of one file: the same file on disk, or the same path once made absolute and normal.
bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error) && !error)
        return true;
    const auto normal = [](const std::string& name) {
        std::error_code e;
        const fs::path absolute = fs::absolute(name, e);
        return (e ? fs::path(name) : absolute).lexically_normal();
    };
    return normal(a) == normal(b);
}

// No tile of the grid is the file named other.
bool tilesAvoid(const std::string& tileBase, const Grid& pieces, const std::string& other) {
    return forEachTile(pieces, [&](const Grid& index, long) {
        return !sameFile(partialFileName(tileBase, index, false), other);
    });
}

// Standard output's flags and fill as they were when the guard was made, restored when it goes: the
// progress lines set them for their own numbers.
class CoutState {
public:
    CoutState() : flags_(std::cout.flags()), fill_(std::cout.fill()) {}
    CoutState(const CoutState&) = delete;
    CoutState& operator=(const CoutState&) = delete;
    ~CoutState() {
        std::cout.flags(flags_);
        std::cout.fill(fill_);
    }

private:
    std::ios::fmtflags flags_;
    char fill_;
};

void printHeader(const char* action, const std::string& name, const char* relation, long tiles,
                 const Grid& pieces, const Grid& overlap, const Grid& padding, bool toFloat) {
    std::cout << action << name << relation << tiles << " [" << pieces.x << "x" << pieces.y << "x" << pieces.z
              << "] pieces: " << std::endl;
    std::cout << "   overlap: [" << overlap.x << "x" << overlap.y << "x" << overlap.z << "]" << std::endl;
    std::cout << "   padding: [" << padding.x << "x" << padding.y << "x" << padding.z << "]" << std::endl;
    std::cout << "   convert to float: " << std::boolalpha << toFloat << std::endl;
    std::cout << std::endl;
}

void printTile(const char* action, long number, long tiles, const std::string& name) {
    std::cout << action << std::setfill('0') << std::setw(tiles > 99 ? 3 : 2) << number << "/" << tiles
              << ") " << name << std::endl;
}

// Files written beside their targets and renamed over them only once all of them are complete. Until
// commit, and whatever leaves the scope, the temporaries go and every target keeps what it held (or
// stays absent).
class StagedFiles {
public:
    StagedFiles() = default;
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;
    ~StagedFiles() {
        for (const auto& file : files_)
            if (!file.temporary.empty()) {
                std::error_code ignored;
                fs::remove(file.temporary, ignored);
            }
    }
    // The name to write target's bytes to: in target's folder, so that the rename stays on its file system.
    std::string stage(const std::string& target) {
        // Unique among the processes and the calls that may stage the same target at once.
        static const unsigned long process = std::random_device{}();
        static std::atomic<unsigned long> counter{0};
        const std::string temporary =
            target + ".partial-" + std::to_string(process) + "-" + std::to_string(counter.fetch_add(1));
        files_.push_back({target, temporary});
        return temporary;
    }
    // Renames every temporary over its target; false (and the temporaries not yet renamed removed) when a
    // rename fails.
    bool commit() {
        for (auto& file : files_) {
            std::error_code error;
            fs::rename(file.temporary, file.target, error);
            if (error)
                return false;
            file.temporary.clear();
        }
        return true;
    }

private:
    struct File {
        std::string target, temporary;
    };
    std::vector<File> files_;
};

// Bytes of a row of width pixels of frame's components and planes in samples of bits bits, rounded up to
// alignment.
long rowBytes(const IoImageDataDevice& frame, long width, long bits, long alignment) {
    return detail::frameRowBytes(width, bits, frame.channels(), alignment, "splitImage");
}

// Reads rect of an open frame into buffer, rows line bytes apart, as floats or in the stored samples.
void readRect(IoImageDataDevice& frame, ByteVector& buffer, long line, const Rectangle& rect, bool toFloat) {
    if (toFloat)
        frame.packedImageRectToFloat(reinterpret_cast<float*>(buffer.data()), line, rect);
    else
        frame.packedImageRect(buffer.data(), line, rect);
}

// Rows of a band of a frame that is copied band by band: as many as fit in bandBytes, at least minRows and
// one, at most rows. Bands small enough for the cache keep every pass over the pixels out of memory and
// need no frame-sized buffer, whose pages a first touch faults in one by one.
long bandRows(long line, long rows, long minRows, long bandBytes = copyBandBytes) {
    return std::clamp(std::max(bandBytes / std::max(line, 1L), minRows), 1L, std::max(rows, 1L));
}

// ---- Merged extents

// The split's box sizes along one axis for a full extent: those of tiles 0 .. n - 1.
bool extentsMatch(const std::vector<long>& extents, long full, long overlap, long padding) {
    const long n = static_cast<long>(extents.size());
    const long piece = pieceSize(full, n);
    for (long i = 0; i < n; ++i) {
        const Box b = boxOf({full, 1, 1}, {overlap, 0, 0}, {padding, 0, 0}, {piece, 1, 1}, {i, 0, 0});
        if (extents[i] >= 0 && extents[i] != b.size.x)
            return false;
    }
    return true;
}

// The merged extent from the tiles' extents along one axis (-1 for a tile that did not open): every tile
// but the last gives up its overlap with the tiles after it and its padding. That sum is the split's extent
// except where padding clipped at the far border meets a short last piece; then the extent is taken whose
// split boxes have the tiles' extents: the first tile's own (it reached the border), or the one that the
// first tile's piece and the last tile give.
long mergedExtent(const std::vector<long>& extents, long overlap, long padding) {
    const long n = static_cast<long>(extents.size());
    long total = 0;
    for (long i = n - 1; i >= 0; --i) {
        if (extents[i] < 0)
            continue;
        long e = extents[i], cut = 0;
        if (i < n - 1) {
            e -= std::min(overlap, total);
            cut = i > 0 ? std::min(2 * padding, total) : std::min(padding, total);
        } else {
            cut = n > 1 ? padding : 0;
        }
        total += e - cut;
    }
    if (padding == 0 || n < 2 || extents[0] < 0 || extentsMatch(extents, total, overlap, padding))
        return total;
    std::vector<long> candidates{extents[0]};
    const long piece = extents[0] - overlap - padding;
    if (piece > 0 && extents[n - 1] >= 0)
        candidates.push_back(std::max(piece * (n - 1) - padding, 0L) + extents[n - 1]);
    for (const long full : candidates)
        if (extentsMatch(extents, full, overlap, padding))
            return full;
    return total;
}

// Extents of the tiles along one axis (the tile at i there and 0 on the other axes), -1 where a tile does
// not open; extentOf reads one from an open tile.
template <typename ExtentOf>
std::vector<long> axisExtents(const std::string& tileBase, long pieces, Grid axis, ExtentOf&& extentOf) {
    std::vector<long> extents(static_cast<std::size_t>(std::max(pieces, 0L)), -1);
    for (long i = pieces - 1; i >= 0; --i) {
        auto tile =
            openFile(partialFileName(tileBase, {axis.x * i, axis.y * i, axis.z * i}, false), readMode);
        if (tile)
            extents[static_cast<std::size_t>(i)] = extentOf(*tile);
    }
    return extents;
}

// ---- Tiles that fit together

// What the merge needs to know of a tile before it writes anything.
struct TileShape {
    json loops;
    int zPosition = -1;
    long width = 0, height = 0, planes = 0;
    long components = 0, bits = 0;
};

// Every frame opens for reading: its chunk is there, a raw frame's header and size hold its plane, a
// compressed frame's stream decodes to exactly the plane. A frame that does not is an error the merge
// finds before it writes anything.
bool framesOpen(QpxFileDevice& tile) {
    const unsigned frames = tile.sequenceCount();
    for (unsigned seq = 0; seq < frames; ++seq) {
        try {
            const auto frame = tile.imageData(seq);
            if (!frame || !frame->open(IoImageDataDevice::Read))
                return false;
        } catch (const std::runtime_error&) {
            return false;
        }
    }
    return true;
}

// The tile's shape, or false when it has no Z stack with planes, no frame 0 geometry or a frame that does
// not open.
bool shapeOf(QpxFileDevice& tile, TileShape& shape) {
    const json attributes = tile.attributes();
    shape.loops = tile.experiment();
    shape.zPosition = experimentLoopPosition(shape.loops, zLoopName);
    shape.planes = zCountOf(shape.loops, shape.zPosition);
    shape.width = integerOf(attributes, "widthPx");
    shape.height = integerOf(attributes, "heightPx");
    if (shape.planes < 1 || tile.sequenceCount() < 1)
        return false;
    try {
        const auto frame = tile.imageData(0);
        shape.components = frame->channels();
        shape.bits = frame->bitsPerComponentStored();
    } catch (const std::runtime_error&) {
        return false;
    }
    return framesOpen(tile);
}

// Tiles of one image: the same loops but for the Z stack's count, the same components and, unless they
// are read as floats, the same samples, which a sum of overlapping tiles needs to be at most 32 bits wide.
bool sameImage(const TileShape& a, const TileShape& b, bool toFloat, bool sums) {
    if (a.zPosition != b.zPosition || a.loops.size() != b.loops.size() || a.components != b.components)
        return false;
    if (!toFloat && (a.bits != b.bits || (sums && a.bits > 32)))
        return false;
    for (std::size_t i = 0; i < a.loops.size(); ++i)
        if (static_cast<int>(i) != a.zPosition &&
            (a.loops[i].value("type", json()) != b.loops[i].value("type", json()) ||
             integerOf(a.loops[i], "count") != integerOf(b.loops[i], "count")))
            return false;
    return true;
}

// Every tile is there, opens, has a Z stack, stores frames that all open, belongs to the image of the first
// tile and has the size of its box in the merged image; none is the merged file.
bool tilesFit(const std::string& tileBase, const std::string& merged, const Grid& full, const Grid& pieces,
              const Grid& overlap, const Grid& padding, const Grid& piece, bool toFloat) {
    const bool sums = weightsBands(pieces, overlap);
    TileShape first;
    return forEachTile(pieces, [&](const Grid& index, long) {
        const std::string name = partialFileName(tileBase, index, false);
        TileShape shape;
        try {
            if (sameFile(name, merged))
                return false;
            const auto tile = openFile(name, readMode);
            if (!tile || !shapeOf(*tile, shape))
                return false;
        } catch (const std::runtime_error&) {
            return false;
        } catch (const json::exception&) {
            return false;
        }
        if (index.x == 0 && index.y == 0 && index.z == 0)
            first = shape;
        const Box b = boxOf(full, overlap, padding, piece, index);
        return sameImage(first, shape, toFloat, sums) && shape.width == b.size.x &&
               shape.height == b.size.y && shape.planes == b.size.z;
    });
}

// ---- Merged frames

// The weight that the split gave position u of a tile box of boxSize positions along one axis: the ramp of
// each overlap band on a side that faces a neighbour, the near side first.
double splitWeight(long u, long boxSize, long overlap, bool nearSide, bool farSide) {
    double w = 1.0;
    if (overlap < 2)
        return w;
    const auto ramp = static_cast<double>(overlap - 1);
    if (nearSide && u < overlap)
        w *= static_cast<double>(u) / ramp;
    if (farSide && u >= boxSize - overlap)
        w *= static_cast<double>(boxSize - 1 - u) / ramp;
    return w;
}

// For every position of the merged extent along one axis, the sum of the weights that the split gave it in
// the tiles the merge takes it from. Without padding the ramps of two neighbours add up to one. With
// overlap and padding together the split weighted the bands at the padded edges, while the merge takes
// each tile from behind its padding: there the sum is not one, and the merge divides by it.
std::vector<double> weightSums(long full, long pieces, long overlap, long padding) {
    std::vector<double> sums(static_cast<std::size_t>(full), 0.0);
    const long piece = pieceSize(full, pieces);
    for (long i = 0; i < pieces; ++i) {
        const Box to = boxOf({full, 1, 1}, {overlap, 0, 0}, {0, 0, 0}, {piece, 1, 1}, {i, 0, 0});
        const Box from = boxOf({full, 1, 1}, {overlap, 0, 0}, {padding, 0, 0}, {piece, 1, 1}, {i, 0, 0});
        for (long x = to.start.x; x < to.end.x; ++x)
            sums[static_cast<std::size_t>(x)] +=
                splitWeight(x - from.start.x, from.size.x, overlap, i > 0, i < pieces - 1);
    }
    return sums;
}

// One tile while the merge reads from it: the open file, its custom data (tiles at x = 0, y = 0 only), its
// box in the merged image and the split's box of it, padding included.
struct MergeTile {
    Grid index;
    std::unique_ptr<QpxFileDevice> file;
    std::vector<ByteVector> custom;
    Box to, from;
};

// Samples of the sum of a band, divided by the weights the split applied, as the merged samples: integers
// rounded to nearest and kept inside their range.
template <typename T>
void storeNormalised(const std::vector<float>& sums, char* band, long line, long rows, long width,
                     long channels, const std::vector<double>& wx, const double* wy, double wz) {
    for (long r = 0; r < rows; ++r) {
        const float* in = sums.data() + r * width * channels;
        char* out = band + r * line;
        for (long x = 0; x < width; ++x) {
            const double w = wx[static_cast<std::size_t>(x)] * wy[r] * wz;
            for (long c = 0; c < channels; ++c) {
                double v = in[x * channels + c];
                if (w > 0)
                    v /= w;
                T sample;
                if constexpr (std::is_floating_point_v<T>) {
                    sample = static_cast<T>(v);
                } else {
                    const double top = static_cast<double>(std::numeric_limits<T>::max());
                    sample = static_cast<T>(std::isnan(v) ? 0.0 : std::clamp(std::nearbyint(v), 0.0, top));
                }
                std::memcpy(out + (x * channels + c) * static_cast<long>(sizeof(T)), &sample, sizeof(T));
            }
        }
    }
}

// What the merge of the frames needs throughout.
struct MergeContext {
    Grid full, pieces, overlap, padding, piece;
    bool toFloat = false;
    // Tiles overlap, so that the merge sums them; else each merged pixel is one tile's.
    bool sums = false;
    int zPosition = 0;
    // Weight sums along each axis; empty when every axis sums to one (no axis with overlap and padding).
    std::vector<double> wx, wy, wz;
    std::vector<std::string> customKeys;
    std::vector<ByteVector> mergedCustom;
};

// Builds merged frame seq (coordinates coordinates, Z plane plane) once from every tile that covers it, band
// of rows by band of rows, and stores it once. False when a tile lacks the frame or it does not open.
bool mergeFrame(MergeContext& m, QpxFileDevice& out, unsigned seq, const std::vector<unsigned>& coordinates,
                long plane, const std::vector<MergeTile*>& covering, ByteVector& band, ByteVector& scratch,
                std::vector<float>& sums) {
    struct Source {
        const MergeTile* tile;
        std::unique_ptr<IoImageDataDevice> data;
    };
    std::vector<Source> sources;
    for (MergeTile* tile : covering) {
        std::vector<unsigned> own = coordinates;
        own[static_cast<std::size_t>(m.zPosition)] = static_cast<unsigned>(plane - tile->from.start.z);
        unsigned t = 0;
        if (!tile->file->sequenceIndex(own, &t))
            return false;
        auto data = tile->file->imageData(t);
        if (!data || !data->open(IoImageDataDevice::Read))
            return false;
        if (tile->index.x == 0 && tile->index.y == 0)
            synchronizeCustomMetadata(tile->custom, t, m.mergedCustom, seq, customBytesPerFrame);
        sources.push_back({tile, std::move(data)});
    }
    const auto frame = out.imageData(seq);
    if (!frame || !frame->open(IoImageDataDevice::Write))
        return false;
    const bool normalise = !m.wx.empty();
    const long bits = frame->bitsPerComponentStored(), channels = frame->channels();
    const long sample = componentBytes(bits);
    const long width = m.full.x, height = m.full.y;
    const long line = rowBytes(*frame, width, bits, frame->lineAlignment());
    const long rows = bandRows(normalise ? width * channels * 4 : line, height, 1);
    band.resize(static_cast<std::size_t>(detail::checkedProduct(line, std::min(rows, height), "mergeImage")));
    if (normalise)
        sums.resize(static_cast<std::size_t>(
            detail::checkedProduct(width * channels, std::min(rows, height), "mergeImage")));
    frame->setCurrentPlane(0);
    for (long first = 0; first < height; first += rows) {
        const long n = std::min(rows, height - first);
        if (normalise)
            std::fill(sums.begin(), sums.end(), 0.0f);
        else
            std::fill(band.begin(), band.end(), char{0});
        for (const Source& s : sources) {
            const Box& to = s.tile->to;
            const long top = std::max(to.start.y, first), bottom = std::min(to.end.y, first + n);
            if (top >= bottom || to.size.x < 1)
                continue;
            // The rows of the tile's part of the band, read from behind its padding.
            const Rectangle rect{to.start.x - s.tile->from.start.x, top - s.tile->from.start.y, to.size.x,
                                 bottom - top};
            if (normalise) {
                const long tileLine = to.size.x * channels * 4;
                scratch.resize(
                    static_cast<std::size_t>(detail::checkedProduct(tileLine, rect.height, "mergeImage")));
                s.data->packedImageRectToFloat(reinterpret_cast<float*>(scratch.data()), tileLine, rect);
                for (long r = 0; r < rect.height; ++r) {
                    const float* in = reinterpret_cast<const float*>(scratch.data() + r * tileLine);
                    float* sum = sums.data() + (top - first + r) * width * channels + to.start.x * channels;
                    for (long k = 0; k < to.size.x * channels; ++k)
                        sum[k] += in[k];
                }
            } else if (!m.sums) {
                // Tiles that do not overlap are copied into their place.
                char* place = band.data() + (top - first) * line + to.start.x * channels * sample;
                if (m.toFloat)
                    s.data->packedImageRectToFloat(reinterpret_cast<float*>(place), line, rect);
                else
                    s.data->packedImageRect(place, line, rect);
            } else {
                const long tileLine = rowBytes(*s.data, to.size.x, bits, 1);
                scratch.resize(
                    static_cast<std::size_t>(detail::checkedProduct(tileLine, rect.height, "mergeImage")));
                readRect(*s.data, scratch, tileLine, rect, m.toFloat);
                for (long r = 0; r < rect.height; ++r)
                    addData(scratch.data() + r * tileLine,
                            band.data() + (top - first + r) * line + to.start.x * channels * sample, bits,
                            tileLine, 1);
            }
        }
        if (normalise) {
            const double wz = m.wz[static_cast<std::size_t>(plane)];
            const double* wy = m.wy.data() + first;
            if (bits <= 8)
                storeNormalised<unsigned char>(sums, band.data(), line, n, width, channels, m.wx, wy, wz);
            else if (bits <= 16)
                storeNormalised<unsigned short>(sums, band.data(), line, n, width, channels, m.wx, wy, wz);
            else
                storeNormalised<float>(sums, band.data(), line, n, width, channels, m.wx, wy, wz);
        }
        frame->writeCurrentPlaneRect(band.data(), line, {0, first, width, n});
    }
    // A compressed frame is stored here, once, as one chunk.
    frame->close();
    return true;
}

} // namespace

// A band of rows holding the first rows of the rectangle holds the whole top band, the one holding the
// last rows the whole bottom band, so each is weighted with its rows' own indexes in the tile.
void copyWeighted(IoImageDataDevice& from, IoImageDataDevice& to, ByteVector& buffer, const Rectangle& rect,
                  long bits, bool toFloat, const std::vector<float>& factors, const Vector3d<long>& overlap,
                  const Faces& faces, long bandBytes) {
    const long line = rowBytes(from, rect.width, bits, from.lineAlignment());
    const long channels = from.channels();
    const long height = rect.height;
    const long edge = (faces.top || faces.bottom) ? overlap.y : 0;
    const long rows = bandRows(line, height, 2 * edge, bandBytes);
    buffer.resize(
        static_cast<std::size_t>(detail::checkedProduct(line, std::min(rows + edge, height), "splitImage")));
    to.setCurrentPlane(0);
    for (long first = 0; first < height;) {
        long end = std::min(first + rows, height);
        if (height - end < edge)
            end = height;
        const long n = end - first;
        readRect(from, buffer, line, {rect.x, rect.y + first, rect.width, n}, toFloat);
        for (const float factor : factors)
            multipication(buffer.data(), bits, line, n, factor);
        // Only bands that are weighted reach the kernels: samples wider than 32 bits can be split with
        // an overlap along an axis of one piece, where nothing is weighted.
        const bool top = faces.top && first == 0, bottom = faces.bottom && end == height;
        if (overlap.y != 0 && (top || bottom))
            blendingY(buffer.data(), bits, line, rect.width, n, channels, overlap.y, top, bottom);
        if (overlap.x != 0 && (faces.left || faces.right))
            blendingX(buffer.data(), bits, line, rect.width, n, channels, overlap.x, faces.left, faces.right);
        to.writeCurrentPlaneRect(buffer.data(), line, {0, first, rect.width, n});
        first = end;
    }
}

// ---- Geometry and names

long pieceSize(long extent, long count) {
    if (count < 1 || extent < 1)
        return 0;
    return extent / count + (extent % count != 0 ? 1 : 0);
}

Vector3d<long> pieceSize(const Vector3d<long>& extent, const Vector3d<long>& pieces) {
    return extent.interaction(pieces, [](const long& f, const long& n) { return pieceSize(f, n); });
}

std::string partialFileName(const std::string& base, Vector3d<long> index, bool createDirectories) {
    if (createDirectories) {
        const fs::path parent = fs::path(base).parent_path();
        if (!parent.empty()) {
            const fs::file_type type = fs::status(parent).type();
            if (type == fs::file_type::not_found || type == fs::file_type::none)
                fs::create_directories(parent);
        }
    }
    return base + "x" + std::to_string(index.x) + "_y" + std::to_string(index.y) + "_z" +
           std::to_string(index.z) + ".qpx";
}

// ---- Chunks and custom data

const std::vector<std::string>& tileSkipList() {
    static const std::vector<std::string> list{"ImageAttributesLV!", "ImageMetadataLV!", "ImageTextInfoLV!",
                                               "ImageMetadataSeqLV|0!", frameChunkPrefix};
    return list;
}

void sortChunks(const std::vector<std::string>& chunkNames, const std::vector<std::string>& skipList,
                std::vector<std::string>& customKeys, std::vector<std::string>& otherChunks) {
    static const char* const positionKeys[] = {"X", "Y", "Z", "Z1", "Z2"};
    for (const std::string& name : chunkNames) {
        if (std::any_of(skipList.begin(), skipList.end(),
                        [&](const std::string& skip) { return name.find(skip) != std::string::npos; }))
            continue;
        if (name.find("CustomData|") == std::string::npos) {
            otherChunks.push_back(name);
            continue;
        }
        const std::size_t bar = name.find('|');
        const std::size_t bang = name.find('!', bar + 1);
        const std::string key =
            name.substr(bar + 1, bang == std::string::npos ? std::string::npos : bang - bar - 1);
        if (std::find(std::begin(positionKeys), std::end(positionKeys), key) != std::end(positionKeys))
            customKeys.push_back(key);
        else
            otherChunks.push_back(name);
    }
}

std::vector<ByteVector> fillCustomMetadata(std::unique_ptr<QpxFileDevice>& device,
                                           const std::vector<std::string>& customKeys) {
    std::vector<ByteVector> buffers;
    buffers.reserve(customKeys.size());
    for (const std::string& key : customKeys)
        buffers.push_back(device->chunkedData(JsonMetadata::chunkName("CustomData|", key)));
    return buffers;
}

std::vector<ByteVector> allocCustomMetadata(const std::vector<std::string>& customKeys, long frames,
                                            long bytesPerFrame) {
    long size = 0;
    if (frames < 0 || bytesPerFrame < 0 || __builtin_mul_overflow(frames, bytesPerFrame, &size))
        throw std::invalid_argument("allocCustomMetadata: no buffer holds " + std::to_string(frames) +
                                    " frames of " + std::to_string(bytesPerFrame) + " bytes");
    // Zeros, so that frames which no source frame fills never carry uninitialised memory into a file.
    return std::vector<ByteVector>(customKeys.size(), ByteVector(static_cast<std::size_t>(size), 0));
}

void synchronizeCustomMetadata(const std::vector<ByteVector>& source, long sourceFrame,
                               std::vector<ByteVector>& destination, long destinationFrame,
                               long bytesPerFrame) {
    const auto holds = [bytesPerFrame](const ByteVector& buffer, long frame) {
        long end = 0;
        return frame >= 0 && bytesPerFrame > 0 && !__builtin_mul_overflow(frame + 1, bytesPerFrame, &end) &&
               static_cast<unsigned long>(end) <= buffer.size();
    };
    for (std::size_t i = 0; i < std::min(source.size(), destination.size()); ++i)
        if (holds(source[i], sourceFrame) && holds(destination[i], destinationFrame))
            std::memcpy(destination[i].data() + destinationFrame * bytesPerFrame,
                        source[i].data() + sourceFrame * bytesPerFrame,
                        static_cast<std::size_t>(bytesPerFrame));
}

void storeCustomMetadata(std::unique_ptr<QpxFileDevice>& device, const std::vector<std::string>& customKeys,
                         const std::vector<ByteVector>& buffers) {
    for (std::size_t i = 0; i < std::min(customKeys.size(), buffers.size()); ++i)
        if (!buffers[i].empty())
            device->setChunkedData(JsonMetadata::chunkName("CustomData|", customKeys[i]), buffers[i]);
}

void storeUninterprettedChunks(std::unique_ptr<QpxFileDevice>& from, std::unique_ptr<QpxFileDevice>& to,
                               const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const ByteVector data = from->chunkedData(name);
        if (!data.empty())
            to->setChunkedData(name, data);
    }
}

// ---- Steps of the merge

void determineMergedParametersX(const std::string& tileBase, long pieces, long overlap, long padding,
                                long& width) {
    const auto widthOf = [](QpxFileDevice& tile) { return integerOf(tile.attributes(), "widthPx"); };
    width = mergedExtent(axisExtents(tileBase, pieces, {1, 0, 0}, widthOf), overlap, padding);
}

void determineMergedParametersY(const std::string& tileBase, long pieces, long overlap, long padding,
                                long& height) {
    const auto heightOf = [](QpxFileDevice& tile) { return integerOf(tile.attributes(), "heightPx"); };
    height = mergedExtent(axisExtents(tileBase, pieces, {0, 1, 0}, heightOf), overlap, padding);
}

void determineMergedParametersZ(const std::string& tileBase, long pieces, long overlap, long padding,
                                long& planes, long& frames) {
    // Tiles of one image have the same frames per plane (the merge checks it): the first tile's count.
    long perPlane = 0;
    const auto planesOf = [&perPlane](QpxFileDevice& tile) -> long {
        const json loops = tile.experiment();
        const long count = zCountOf(loops, experimentLoopPosition(loops, zLoopName));
        if (count < 1)
            return -1;
        perPlane = tile.sequenceCount() / count;
        return count;
    };
    planes = mergedExtent(axisExtents(tileBase, pieces, {0, 0, 1}, planesOf), overlap, padding);
    frames = perPlane * planes;
}

void determineGlobalParameters(const std::string& tileBase, const std::vector<std::string>& skipList,
                               std::vector<std::string>& customKeys, std::vector<std::string>& otherChunks,
                               int& zLoopPosition, json& rawMetadata) {
    auto tile = openFile(partialFileName(tileBase, {0, 0, 0}, false), readMode);
    if (!tile)
        return;
    zLoopPosition = experimentLoopPosition(tile->experiment(), zLoopName);
    rawMetadata = tile->rawMetadata();
    sortChunks(tile->chunkedDevice().chunkNames(), skipList, customKeys, otherChunks);
    tile->close();
}

// ---- Split

bool splitImage(const char* source, const char* tileBase, const Vector3d<long>& pieces,
                const Vector3d<long>& overlap, const Vector3d<long>& padding, bool toFloat) {
    if (!acceptedArguments(source, tileBase, pieces, overlap, padding))
        return false;
    const std::string sourceName(source), base(tileBase);
    auto src = openFile(sourceName, readMode);
    if (!src)
        return false;

    // Everything that could refuse the grid is checked before anything is printed or written.
    const json attributes = src->attributes();
    const json loops = src->experiment();
    const int zPosition = experimentLoopPosition(loops, zLoopName);
    const Grid full{integerOf(attributes, "widthPx"), integerOf(attributes, "heightPx"),
                    zCountOf(loops, zPosition)};
    const Grid piece = pieceSize(full, pieces);
    if (zPosition < 0 || !piecesFit(full, pieces, piece) || !bandsFit(full, pieces, overlap, padding, piece))
        return false;
    const long bits = toFloat ? 32 : src->imageData(0)->bitsPerComponentStored();
    if ((weightsBands(pieces, overlap) && bits > 32) || !tilesAvoid(base, pieces, sourceName))
        return false;
    // Every frame needs a chunk of its own: loops that declare more frames than the file stores cannot be
    // split, and are refused before their frame table is built.
    const std::vector<std::string> chunkNames = src->chunkedDevice().chunkNames();
    const auto storedFrames = std::count_if(chunkNames.begin(), chunkNames.end(), [](const std::string& name) {
        return name.compare(0, std::strlen(frameChunkPrefix), frameChunkPrefix) == 0;
    });
    if (static_cast<std::uint64_t>(src->sequenceCount()) > static_cast<std::uint64_t>(storedFrames))
        return false;

    const CoutState coutState;
    const long tiles = tileCount(pieces);
    printHeader("Splitting file ", sourceName, " in ", tiles, pieces, overlap, padding, toFloat);

    std::vector<std::string> customKeys, otherChunks;
    sortChunks(chunkNames, tileSkipList(), customKeys, otherChunks);
    const std::vector<ByteVector> sourceCustom = fillCustomMetadata(src, customKeys);
    const std::vector<std::vector<unsigned>> allFrames = src->allLoopIndexes();
    const json sourceRaw = src->rawMetadata();

    // Tiles are written beside their names and take them only once every tile is complete: a split that
    // fails leaves no tile of its own behind, and the files it would replace as they were.
    StagedFiles staged;
    ByteVector buffer; // one for every frame of every tile
    std::vector<std::vector<unsigned>> frames;
    json raw;
    const bool written = forEachTile(pieces, [&](const Grid& index, long number) {
        if (index.x == 0 && index.y == 0) {
            const Box slab = boxOf(full, overlap, padding, piece, {0, 0, index.z});
            frames = selectLoopIndexes(allFrames, zPosition, slab.start.z, slab.end.z);
            raw = sourceRaw;
            changeRawMetadataExperiment(raw, zLoopName, slab.start.z, slab.end.z);
        }
        const std::string name = partialFileName(base, index, true);
        printTile("Creating file (", number, tiles, name);
        auto tile = openFile(staged.stage(name), createMode);
        if (!tile)
            return false;
        const Box b = boxOf(full, overlap, padding, piece, index);
        const Rectangle rect{b.start.x, b.start.y, b.size.x, b.size.y};
        const long count = static_cast<long>(frames.size());
        json tileRaw = raw;
        changeRawMetadataAttributes(tileRaw, count, b.size.x, b.size.y, toFloat);
        tile->setRawMetadata(tileRaw);
        std::vector<ByteVector> tileCustom = allocCustomMetadata(customKeys, count, customBytesPerFrame);
        for (long k = 0; k < count; ++k) {
            unsigned seq = 0;
            if (!src->sequenceIndex(frames[k], &seq))
                return false;
            const auto data = src->imageData(seq);
            // A source frame without pixels would leave a tile frame that no merge can read.
            if (!data || !data->open(IoImageDataDevice::Read))
                return false;
            {
                std::vector<float> factors;
                if (overlap.z != 0) {
                    const long zi = static_cast<long>(frames[k][zPosition]) - b.start.z;
                    const float ramp = static_cast<float>(overlap.z - 1);
                    if (index.z > 0 && zi < overlap.z)
                        factors.push_back(static_cast<float>(zi) / ramp);
                    if (index.z < pieces.z - 1 && zi >= b.size.z - overlap.z)
                        factors.push_back(static_cast<float>(b.size.z - zi - 1) / ramp);
                }
                const auto out = tile->imageData(static_cast<unsigned>(k));
                if (!out || !out->open(IoImageDataDevice::Write))
                    return false;
                copyWeighted(*data, *out, buffer, rect, bits, toFloat, factors, overlap,
                             {index.x > 0, index.x<pieces.x - 1, index.y> 0, index.y < pieces.y - 1});
                out->close();
            }
            synchronizeCustomMetadata(sourceCustom, seq, tileCustom, k, customBytesPerFrame);
        }
        storeCustomMetadata(tile, customKeys, tileCustom);
        storeUninterprettedChunks(src, tile, otherChunks);
        tile->close();
        return true;
    });
    src->close();
    return written && staged.commit();
}

// ---- Merge

bool mergeImage(const char* merged, const char* tileBase, const Vector3d<long>& pieces,
                const Vector3d<long>& overlap, const Vector3d<long>& padding, bool toFloat) {
    if (!acceptedArguments(merged, tileBase, pieces, overlap, padding))
        return false;
    const std::string mergedName(merged), base(tileBase);

    MergeContext m;
    long frames = 0;
    determineMergedParametersZ(base, pieces.z, overlap.z, padding.z, m.full.z, frames);
    determineMergedParametersY(base, pieces.y, overlap.y, padding.y, m.full.y);
    determineMergedParametersX(base, pieces.x, overlap.x, padding.x, m.full.x);
    m.pieces = pieces;
    m.overlap = overlap;
    m.padding = padding;
    m.toFloat = toFloat;
    m.sums = weightsBands(pieces, overlap);
    m.piece = pieceSize(m.full, pieces);
    // Every tile and each of its frames opens before anything is printed or written.
    if (frames < 1 || !piecesFit(m.full, pieces, m.piece) ||
        !tilesFit(base, mergedName, m.full, pieces, overlap, padding, m.piece, toFloat))
        return false;

    const CoutState coutState;
    const long tiles = tileCount(pieces);
    printHeader("Merging file ", mergedName, " from ", tiles, pieces, overlap, padding, toFloat);

    std::vector<std::string> otherChunks;
    json raw;
    determineGlobalParameters(base, tileSkipList(), m.customKeys, otherChunks, m.zPosition, raw);
    if ((pieces.x > 1 && overlap.x > 0 && padding.x > 0) ||
        (pieces.y > 1 && overlap.y > 0 && padding.y > 0) ||
        (pieces.z > 1 && overlap.z > 0 && padding.z > 0)) {
        m.wx = weightSums(m.full.x, pieces.x, overlap.x, padding.x);
        m.wy = weightSums(m.full.y, pieces.y, overlap.y, padding.y);
        m.wz = weightSums(m.full.z, pieces.z, overlap.z, padding.z);
    }

    // The merged image goes to a file beside the target, which it replaces only once it is complete.
    StagedFiles staged;
    auto out = std::make_unique<QpxFileDevice>(staged.stage(mergedName));
    if (!out->open(createMode, openOptions, nullptr))
        return false;
    changeRawMetadataPlaneCount(raw, m.full.z);
    changeRawMetadataAttributes(raw, frames, m.full.x, m.full.y, toFloat);
    if (!out->setRawMetadata(raw))
        return false;
    m.mergedCustom = allocCustomMetadata(m.customKeys, frames, customBytesPerFrame);

    // The merged frames of each plane, in frame order.
    const std::vector<std::vector<unsigned>> allFrames = out->allLoopIndexes();
    std::vector<std::vector<std::size_t>> byPlane(static_cast<std::size_t>(m.full.z));
    for (std::size_t i = 0; i < allFrames.size(); ++i) {
        const long z = allFrames[i].at(static_cast<std::size_t>(m.zPosition));
        if (z < m.full.z)
            byPlane[static_cast<std::size_t>(z)].push_back(i);
    }

    // Planes are merged in order, with the tiles of the Z slabs that cover the plane open: each opens once,
    // when its first plane comes, and closes after its last.
    std::map<long, std::vector<MergeTile>> open;
    long nextSlab = 0;
    ByteVector band, scratch;
    std::vector<float> sums;
    std::vector<MergeTile*> covering;
    for (long plane = 0; plane < m.full.z; ++plane) {
        for (auto it = open.begin(); it != open.end();)
            it = it->second.front().to.end.z <= plane ? open.erase(it) : std::next(it);
        for (; nextSlab < pieces.z; ++nextSlab) {
            const Box slab = boxOf(m.full, overlap, {0, 0, 0}, m.piece, {0, 0, nextSlab});
            if (slab.start.z > plane)
                break;
            std::vector<MergeTile>& slabTiles = open[nextSlab];
            for (long x = 0; x < pieces.x; ++x)
                for (long y = 0; y < pieces.y; ++y) {
                    const Grid index{x, y, nextSlab};
                    const std::string name = partialFileName(base, index, false);
                    printTile("Adding file (", y + 1 + (nextSlab * pieces.x + x) * pieces.y, tiles, name);
                    MergeTile tile{index,
                                   openFile(name, readMode),
                                   {},
                                   boxOf(m.full, overlap, {0, 0, 0}, m.piece, index),
                                   boxOf(m.full, overlap, padding, m.piece, index)};
                    if (!tile.file)
                        return false;
                    if (x == 0 && y == 0)
                        tile.custom = fillCustomMetadata(tile.file, m.customKeys);
                    slabTiles.push_back(std::move(tile));
                }
        }
        covering.clear();
        for (auto& [slab, slabTiles] : open)
            if (slabTiles.front().to.start.z <= plane && plane < slabTiles.front().to.end.z)
                for (MergeTile& tile : slabTiles)
                    covering.push_back(&tile);
        for (const std::size_t i : byPlane[static_cast<std::size_t>(plane)]) {
            unsigned seq = 0;
            if (!out->sequenceIndex(allFrames[i], &seq))
                continue;
            if (!mergeFrame(m, *out, seq, allFrames[i], plane, covering, band, scratch, sums))
                return false;
        }
    }
    storeCustomMetadata(out, m.customKeys, m.mergedCustom);
    // The other chunks come from the last tile, as every tile holds the same.
    auto last = openFile(partialFileName(base, {pieces.x - 1, pieces.y - 1, pieces.z - 1}, false), readMode);
    if (!last)
        return false;
    storeUninterprettedChunks(last, out, otherChunks);
    last.reset();
    open.clear();
    out->close();
    out.reset();
    return staged.commit();
}

} // namespace Zan
