// Property target of split and merge: the input bytes choose a small native source (size, depth, components,
// raw or zlib frames, the loops around its Z stack) that our writer makes, and a grid (pieces, overlap and
// padding along each axis, samples kept or converted to floats). Every split the library accepts is merged
// back with the same grid, which must succeed and give back the source's size, frames and pixels: exactly
// where one tile holds a position alone, up to the truncation of the weighted tiles (divided by the weights
// the split applied there) in the bands. A split that is refused, or fails, leaves the folder as it was.

#include <qpx/QpxFileConversions.h>
#include <qpx/QpxFileDevice.h>
#include <qpx/detail/QpxTileConversions.h>

#include <support/FuzzRequire.h>
#include <support/TempDir.h>
#include <support/ZStackFiles.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Grid = Zan::Vector3d<long>;
using ZanTest::fuzzRequire;

// Takes small numbers from the input, zeros once it is used up.
class Choices {
public:
    Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    long pick(long low, long high) {
        const std::uint8_t b = at_ < size_ ? data_[at_++] : 0;
        return low + b % (high - low + 1);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::set<std::string> filesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// One axis of the grid: for a position, the tiles whose split box holds it and the sum of the weights the
// split gave it in the tiles the merge takes it from (their boxes without padding).
struct Axis {
    long full, pieces, overlap, padding;

    void boxes(long i, long& start, long& end, long padded) const {
        const Grid f{full, 1, 1}, o{overlap, 0, 0}, p{padded, 0, 0}, s{Zan::pieceSize(full, pieces), 1, 1};
        Grid b, e, n;
        Zan::dstParameters(f, o, p, s, Grid{i, 0, 0}, b, e, n);
        start = b.x;
        end = e.x;
    }
    long touched(long x) const {
        long n = 0;
        for (long i = 0; i < pieces; ++i) {
            long start = 0, end = 0;
            boxes(i, start, end, padding);
            n += x >= start && x < end;
        }
        return n;
    }
    double weight(long x) const {
        double sum = 0;
        for (long i = 0; i < pieces; ++i) {
            long to = 0, toEnd = 0, from = 0, fromEnd = 0;
            boxes(i, to, toEnd, 0);
            boxes(i, from, fromEnd, padding);
            if (x < to || x >= toEnd)
                continue;
            double w = 1;
            const long u = x - from, size = fromEnd - from;
            if (overlap > 1 && pieces > 1) {
                if (i > 0 && u < overlap)
                    w *= static_cast<double>(u) / static_cast<double>(overlap - 1);
                if (i < pieces - 1 && u >= size - overlap)
                    w *= static_cast<double>(size - 1 - u) / static_cast<double>(overlap - 1);
            }
            sum += w;
        }
        return sum;
    }
};

// Frame seq as floats (one per sample) or, for samples wider than 32 bits, as its packed bytes.
std::vector<float> floats(Zan::QpxFileDevice& file, unsigned seq) {
    const auto frame = file.imageData(seq);
    fuzzRequire(frame->open(Zan::IoImageDataDevice::Read));
    const long samples = frame->width() * frame->channels();
    std::vector<float> plane(static_cast<std::size_t>(samples * frame->height()));
    frame->packedImageRectToFloat(plane.data(), samples * 4, {0, 0, frame->width(), frame->height()});
    return plane;
}
std::string bytes(Zan::QpxFileDevice& file, unsigned seq) {
    const auto frame = file.imageData(seq);
    fuzzRequire(frame->open(Zan::IoImageDataDevice::Read));
    const long line = frame->packedLineSize(4);
    std::string plane(static_cast<std::size_t>(line * frame->height()), '\0');
    frame->packedImage(plane.data(), line);
    return plane;
}

const ZanTest::TempDir& scratch() {
    static const ZanTest::TempDir dir;
    return dir;
}

struct Depth {
    long used, stored;
};
constexpr Depth depths[] = {{8, 8}, {12, 16}, {16, 16}, {32, 32}, {64, 64}};
constexpr long overlaps[] = {0, 2, 3, 4, 6};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Choices c(data, size);
    const Depth depth = depths[c.pick(0, 4)];
    const ZanTest::NativeGeometry g{"g",          c.pick(1, 24),          c.pick(1, 24),    depth.used,
                                    depth.stored, c.pick(0, 1) ? 3L : 1L, c.pick(0, 1) == 1};
    ZanTest::ZStackLayout layout{static_cast<ZanTest::ZStackLayout::Loops>(c.pick(0, 3)), c.pick(1, 3),
                                 c.pick(1, 6)};
    const Grid pieces{c.pick(1, 4), c.pick(1, 4), c.pick(1, 3)};
    const Grid overlap{overlaps[c.pick(0, 4)], overlaps[c.pick(0, 4)], overlaps[c.pick(0, 4)]};
    const Grid padding{c.pick(0, 3), c.pick(0, 3), c.pick(0, 2)};
    const bool toFloat = c.pick(0, 1) == 1;

    const fs::path dir = scratch().path();
    for (const auto& entry : fs::directory_iterator(dir))
        fs::remove_all(entry.path());
    const std::string source = (dir / "s.qpx").string(), base = (dir / "t_").string();
    const std::string merged = (dir / "m.qpx").string();
    ZanTest::writeZStackFile(source, g, layout);
    const std::set<std::string> before = filesIn(dir);

    std::ostringstream silenced;
    std::streambuf* out = std::cout.rdbuf(silenced.rdbuf());
    bool split = false;
    try {
        split = Zan::splitImage(source.c_str(), base.c_str(), pieces, overlap, padding, toFloat);
    } catch (const std::logic_error&) {
        // Samples the float conversion does not take.
    }
    if (!split) {
        std::cout.rdbuf(out);
        fuzzRequire(filesIn(dir) == before);
        return 0;
    }
    const bool mergedBack = Zan::mergeImage(merged.c_str(), base.c_str(), pieces, overlap, padding, toFloat);
    std::cout.rdbuf(out);
    fuzzRequire(mergedBack);

    Zan::QpxFileDevice in(source), back(merged);
    fuzzRequire(in.open(Zan::IoDevice::Read, 3, nullptr) && back.open(Zan::IoDevice::Read, 3, nullptr));
    fuzzRequire(back.attributes()["widthPx"] == g.width && back.attributes()["heightPx"] == g.height);
    fuzzRequire(back.allLoopIndexes() == in.allLoopIndexes());
    const int zAt = Zan::experimentLoopPosition(in.experiment(), "ZStackLoop");
    const Axis ax{g.width, pieces.x, overlap.x, padding.x}, ay{g.height, pieces.y, overlap.y, padding.y},
        az{layout.planes, pieces.z, overlap.z, padding.z};
    for (unsigned f = 0; f < in.sequenceCount(); ++f) {
        if (depth.stored > 32 && !toFloat) {
            // Such samples split only where nothing is weighted: each merged pixel is one tile's.
            fuzzRequire(bytes(back, f) == bytes(in, f));
            continue;
        }
        const long plane = in.loopIndexes(f)[static_cast<std::size_t>(zAt)];
        const std::vector<float> want = floats(in, f), got = floats(back, f);
        fuzzRequire(want.size() == got.size());
        for (long y = 0; y < g.height; ++y)
            for (long x = 0; x < g.width; ++x) {
                const long touched = ax.touched(x) * ay.touched(y) * az.touched(plane);
                const double w = ax.weight(x) * ay.weight(y) * az.weight(plane);
                for (long k = 0; k < g.components; ++k) {
                    const auto i = static_cast<std::size_t>((y * g.width + x) * g.components + k);
                    const double a = want[i], b = got[i];
                    if (touched == 1) {
                        fuzzRequire(a == b || (std::isnan(a) && std::isnan(b)));
                    } else if (w > 0) {
                        const double slack = toFloat || depth.stored == 32
                                                 ? 1e-3 * std::fabs(a) / w + 1e-2
                                                 : 3.0 * static_cast<double>(touched) / w + 1.0;
                        fuzzRequire(std::fabs(a - b) <= slack);
                    }
                }
            }
    }
    return 0;
}
