// Split of native files into tile files and merge of the tiles: round trips that give back the source
// byte for byte (raw and compressed, 8, 12 and 16 bits, one and three components, Z stacks alone and
// nested with time and XY loops, padding), blended overlap bands, the tiles' and the merged file's
// metadata read back through the device, the standard output and the tile names.

#include "SplitMergeTestSupport.h"

#include <qpx/detail/QpxTileConversions.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace split_test;
using nlohmann::json;
using ZanTest::TempDir;

// The Z-stack parameters of a native file's raw metadata, where the experiment reader takes them.
json zParsOf(QpxFileDevice& file) {
    json level = file.rawMetadata()["Experiment_dic"];
    while (level["eType_u32"] != 4)
        level = level["ppNextLevelEx_dic"]["i0000000000_dic"];
    return level["uLoopPars_dic"]["i0000000000_dic"];
}

// The chunks a split copies into every tile and the merge back into the merged file.
const char* const copiedChunks[] = {"CustomData|X!", "CustomData|AcqTimesCache!", "CustomDataVar|X!",
                                    "ImageMetadataSeqLV|1!"};

struct RoundTrip {
    const char* what;
    NativeGeometry g;
    ZStackLayout layout;
    Grid pieces;
    Grid padding;
};

TEST(SplitMerge, RoundTripGivesBackTheSource) {
    const RoundTrip cases[] = {
        {"gray8 raw, a Z stack", {"g8", 13, 11, 8, 8, 1}, {ZStackLayout::ZOnly, 1, 5}, {2, 3, 2}, {}},
        {"gray16 zlib, a time loop around the Z stack",
         {"g16", 13, 11, 16, 16, 1, true},
         {ZStackLayout::TimeAround, 2, 5},
         {3, 2, 2},
         {}},
        {"gray12 raw, an XY loop around the Z stack",
         {"g12", 9, 14, 12, 16, 1},
         {ZStackLayout::XYAround, 3, 6},
         {2, 2, 3},
         {}},
        {"rgb8 zlib, the Z stack around a time loop",
         {"rgb", 7, 6, 8, 8, 3, true},
         {ZStackLayout::ZAroundTime, 2, 3},
         {2, 1, 3},
         {}},
        // Tiles of width 7, 9 and 5: the last piece is short and the padding of the middle tile reaches the
        // far border.
        {"gray16 raw, padding",
         {"pad", 10, 9, 16, 16, 1},
         {ZStackLayout::TimeAround, 2, 5},
         {3, 2, 2},
         {3, 1, 1}},
        {"gray8 zlib, padding along Z around a time loop",
         {"padz", 6, 5, 8, 8, 1, true},
         {ZStackLayout::ZAroundTime, 2, 7},
         {1, 1, 3},
         {0, 0, 2}},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string source = dir.file("source.qpx"), merged = dir.file("merged.qpx");
        const std::string base = dir.file("tiles/part_");
        ZanTest::writeZStackFile(source, c.g, c.layout);
        ASSERT_TRUE(split(source, base, c.pieces, {}, c.padding).result);
        ASSERT_TRUE(merge(merged, base, c.pieces, {}, c.padding).result);

        const auto in = openForReading(source), out = openForReading(merged);
        EXPECT_EQ(out->attributes(), in->attributes());
        EXPECT_EQ(out->experiment(), in->experiment());
        EXPECT_EQ(out->textInfo(), in->textInfo());
        EXPECT_EQ(out->metadata(), in->metadata());
        EXPECT_EQ(out->frameMetadata(1, ""), in->frameMetadata(1, ""));
        EXPECT_EQ(out->allLoopIndexes(), in->allLoopIndexes());
        ASSERT_EQ(out->sequenceCount(), static_cast<unsigned>(c.layout.frames()));
        for (unsigned f = 0; f < out->sequenceCount(); ++f)
            EXPECT_EQ(framePixels(*out, f), framePixels(*in, f)) << "frame " << f;
        for (const char* chunk : copiedChunks)
            EXPECT_EQ(out->chunkedData(chunk), in->chunkedData(chunk)) << chunk;
    }
}

// Tiles of the source's frames cut to their boxes, with their own Z range and the loops around it.
TEST(SplitMerge, TilesDescribeTheirOwnBoxAndPlanes) {
    struct Case {
        const char* what;
        long stackType;
        double tileLow, tileHigh, mergedLow, mergedHigh;
    };
    // Planes at 10.0 + 2.5 k: the second Z tile holds planes 3 and 4.
    const Case cases[] = {{"upward stack", 0, 17.5, 20.0, 10.0, 20.0},
                          {"downward stack", 5, 12.5, 10.0, 20.0, 10.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const NativeGeometry g{"g", 9, 8, 16, 16, 1};
        ZStackLayout layout{ZStackLayout::TimeAround, 2, 5, c.stackType};
        const std::string source = dir.file("s.qpx"), base = dir.file("t_"), merged = dir.file("m.qpx");
        ZanTest::writeZStackFile(source, g, layout);
        ASSERT_TRUE(split(source, base, {2, 1, 2}).result);

        const auto in = openForReading(source);
        const auto tile = openForReading(base + "x1_y0_z1.qpx");
        EXPECT_EQ(tile->attributes()["widthPx"], 4);
        EXPECT_EQ(tile->attributes()["heightPx"], 8);
        EXPECT_EQ(tile->sequenceCount(), 4u);
        const json loops = tile->experiment();
        ASSERT_EQ(loops.size(), 2u);
        EXPECT_EQ(loops[0], in->experiment()[0]);
        EXPECT_EQ(loops[1]["type"], "ZStackLoop");
        EXPECT_EQ(loops[1]["count"], 2);
        EXPECT_EQ(loops[1]["parameters"]["stepUm"], 2.5);
        const json pars = zParsOf(*tile);
        EXPECT_EQ(pars["uiCount_u32"], 2);
        EXPECT_EQ(pars["dZLow_dbl"], c.tileLow);
        EXPECT_EQ(pars["dZHigh_dbl"], c.tileHigh);
        // Tile frame 1 is time point 0, plane 4 of the source: frame 4 cut to columns 5 to 8.
        const ByteVector sourceFrame = framePixels(*in, 4), tileFrame = framePixels(*tile, 1);
        ASSERT_EQ(tileFrame.size(), 8u * 8u);
        for (long y = 0; y < 8; ++y)
            EXPECT_EQ(0, std::memcmp(tileFrame.data() + y * 8, sourceFrame.data() + y * 20 + 10, 8)) << y;

        // The merged Z loop spans the tiles' planes, not the first tile's rewritten again.
        ASSERT_TRUE(merge(merged, base, {2, 1, 2}).result);
        const auto out = openForReading(merged);
        const json mergedPars = zParsOf(*out);
        EXPECT_EQ(mergedPars["uiCount_u32"], 5);
        EXPECT_EQ(mergedPars["dZLow_dbl"], c.mergedLow);
        EXPECT_EQ(mergedPars["dZHigh_dbl"], c.mergedHigh);
        EXPECT_EQ(mergedPars["dZStep_dbl"], 2.5);
        EXPECT_EQ(out->experiment(), in->experiment());
    }
}

// An overlap along an axis of one piece weights no band, so samples wider than the kernels take are split
// all the same, each tile its box of the source.
TEST(SplitMerge, WideSamplesSplitWithAnOverlapThatWeightsNothing) {
    TempDir dir;
    const NativeGeometry g{"g64", 8, 6, 64, 64, 1};
    const std::string source = dir.file("s.qpx"), base = dir.file("t_");
    ZanTest::writeZStackFile(source, g, {ZStackLayout::ZOnly, 1, 3});
    ASSERT_TRUE(split(source, base, {2, 1, 1}, {0, 4, 0}).result);

    const auto in = openForReading(source);
    const auto tile = openForReading(base + "x1_y0_z0.qpx");
    const ByteVector sourceFrame = framePixels(*in, 2), tileFrame = framePixels(*tile, 2);
    ASSERT_EQ(tileFrame.size(), 6u * 4u * 8u);
    for (long y = 0; y < 6; ++y)
        EXPECT_EQ(0, std::memcmp(tileFrame.data() + y * 32, sourceFrame.data() + y * 64 + 32, 32)) << y;
}

// Sample c of pixel (x, y) of frame f, as a double, from frames read as floats.
double sampleAt(const std::vector<float>& plane, long width, long components, long x, long y, long c) {
    return plane[static_cast<std::size_t>((y * width + x) * components + c)];
}

// Tiles covering a position along one axis: those whose box holds it.
long coveringTiles(long extent, long pieces, long overlap, long position) {
    const long piece = Zan::pieceSize(extent, pieces);
    long n = 0;
    for (long i = 0; i < pieces; ++i)
        n += position >= piece * i && position < std::min(extent, piece * (i + 1) + overlap);
    return n;
}

// Overlapping tiles summed back give the source: integers up to the truncation of each weighting (below 1
// for each of the up to three weightings of each covering tile), floats up to rounding; positions that one
// tile covers alone come back exactly.
TEST(SplitMerge, OverlapBandsBlendBackIntoTheSource) {
    const Grid pieces{2, 2, 2}, overlap{4, 3, 3};
    for (const bool toFloat : {false, true}) {
        for (const bool lossless : {false, true}) {
            SCOPED_TRACE(std::string(toFloat ? "to float" : "integers") + (lossless ? ", zlib" : ", raw"));
            TempDir dir;
            const NativeGeometry g{"g", 24, 20, 16, 16, 1, lossless};
            const ZStackLayout layout{ZStackLayout::ZOnly, 1, 8};
            const std::string source = dir.file("s.qpx"), base = dir.file("t_"), merged = dir.file("m.qpx");
            ZanTest::writeZStackFile(source, g, layout);
            ASSERT_TRUE(split(source, base, pieces, overlap, {}, toFloat).result);
            ASSERT_TRUE(merge(merged, base, pieces, overlap, {}, toFloat).result);

            const auto in = openForReading(source), out = openForReading(merged);
            EXPECT_EQ(out->attributes()["bitsPerComponentInMemory"], toFloat ? 32 : 16);
            if (toFloat) {
                // The weighted bands of the tiles keep their fractions: pixel 1 of a left band of 4 is a
                // third.
                const auto tile = openForReading(base + "x1_y0_z0.qpx");
                const std::vector<float> t = frameFloats(*tile, 0);
                const double raw = static_cast<double>(ZanTest::nativeSample(g, 0, 13, 0, 0));
                EXPECT_NEAR(t[1], raw / 3.0, 1e-3);
            }
            for (unsigned f = 0; f < out->sequenceCount(); ++f) {
                const long plane = out->loopIndexes(f)[0];
                const std::vector<float> a = frameFloats(*in, f), b = frameFloats(*out, f);
                ASSERT_EQ(a.size(), b.size());
                for (long y = 0; y < g.height; ++y)
                    for (long x = 0; x < g.width; ++x) {
                        const long covering = coveringTiles(g.width, pieces.x, overlap.x, x) *
                                              coveringTiles(g.height, pieces.y, overlap.y, y) *
                                              coveringTiles(layout.planes, pieces.z, overlap.z, plane);
                        const double want = sampleAt(a, g.width, 1, x, y, 0);
                        const double got = sampleAt(b, g.width, 1, x, y, 0);
                        if (covering == 1)
                            ASSERT_EQ(got, want) << f << " " << x << " " << y;
                        else if (toFloat)
                            ASSERT_NEAR(got, want, 1e-2) << f << " " << x << " " << y;
                        else
                            ASSERT_TRUE(got <= want && want - got < 3.0 * covering)
                                << f << " " << x << " " << y << ": " << got << " for " << want;
                    }
            }
        }
    }
}

// Tiles whose split box (padding included) holds a position along one axis.
long paddedTiles(long extent, long pieces, long overlap, long padding, long position) {
    const long piece = Zan::pieceSize(extent, pieces);
    long n = 0;
    for (long i = 0; i < pieces; ++i)
        n += position >= piece * i - padding &&
             position < std::min(extent, piece * (i + 1) + overlap + padding);
    return n;
}

// Overlap and padding together: the merge takes every grid that the split writes, gives back the
// source's extent and frames, and divides the sum of each band by the weights the split applied there.
// Integers come back up to the truncation of the weighted tiles, floats up to rounding; positions that one
// tile holds alone come back exactly.
TEST(SplitMerge, OverlapAndPaddingTogetherMergeBack) {
    struct Case {
        const char* what;
        NativeGeometry g;
        ZStackLayout layout;
        Grid pieces, overlap, padding;
    };
    const Case cases[] = {
        {"rgb16 zlib, a time loop around the Z stack",
         {"c", 23, 17, 16, 16, 3, true},
         {ZStackLayout::TimeAround, 2, 4},
         {2, 2, 1},
         {2, 2, 0},
         {1, 1, 0}},
        {"gray8 raw, bands along Z too",
         {"g", 20, 13, 8, 8, 1},
         {ZStackLayout::ZOnly, 1, 9},
         {2, 2, 3},
         {4, 3, 2},
         {1, 2, 1}},
    };
    for (const Case& c : cases)
        for (const bool toFloat : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (toFloat ? ", to float" : ""));
            TempDir dir;
            const std::string source = dir.file("s.qpx"), base = dir.file("t_"), merged = dir.file("m.qpx");
            ZanTest::writeZStackFile(source, c.g, c.layout);
            ASSERT_TRUE(split(source, base, c.pieces, c.overlap, c.padding, toFloat).result);
            const Outcome m = merge(merged, base, c.pieces, c.overlap, c.padding, toFloat);
            ASSERT_TRUE(m.result);
            EXPECT_NE(m.output, "");
            const auto in = openForReading(source), out = openForReading(merged);
            EXPECT_EQ(out->attributes()["widthPx"], c.g.width);
            EXPECT_EQ(out->attributes()["heightPx"], c.g.height);
            EXPECT_EQ(out->allLoopIndexes(), in->allLoopIndexes());
            const int zAt = Zan::experimentLoopPosition(in->experiment(), "ZStackLoop");
            for (unsigned f = 0; f < out->sequenceCount(); ++f) {
                const long plane = out->loopIndexes(f)[static_cast<std::size_t>(zAt)];
                const std::vector<float> a = frameFloats(*in, f), b = frameFloats(*out, f);
                ASSERT_EQ(a.size(), b.size());
                for (long y = 0; y < c.g.height; ++y)
                    for (long x = 0; x < c.g.width; ++x)
                        for (long k = 0; k < c.g.components; ++k) {
                            const long touched =
                                paddedTiles(c.g.width, c.pieces.x, c.overlap.x, c.padding.x, x) *
                                paddedTiles(c.g.height, c.pieces.y, c.overlap.y, c.padding.y, y) *
                                paddedTiles(c.layout.planes, c.pieces.z, c.overlap.z, c.padding.z, plane);
                            const double want = sampleAt(a, c.g.width, c.g.components, x, y, k);
                            const double got = sampleAt(b, c.g.width, c.g.components, x, y, k);
                            if (touched == 1)
                                ASSERT_EQ(got, want) << f << " " << x << " " << y;
                            else
                                ASSERT_NEAR(got, want, toFloat ? 1e-2 : 3.0 * touched + 1)
                                    << f << " " << x << " " << y;
                        }
            }
        }
}

TEST(SplitMerge, StandardOutput) {
    TempDir dir;
    const std::string source = dir.file("a.qpx"), base = dir.file("tiles/a_"), merged = dir.file("m.qpx");
    ZanTest::writeZStackFile(source, {"g", 40, 40, 8, 8, 1}, {ZStackLayout::ZOnly, 1, 1});
    const Outcome s = split(source, base, {2, 2, 1}, {16, 16, 0});
    EXPECT_TRUE(s.result);
    EXPECT_EQ(s.output, "Splitting file " + source +
                            " in 4 [2x2x1] pieces: \n"
                            "   overlap: [16x16x0]\n"
                            "   padding: [0x0x0]\n"
                            "   convert to float: false\n"
                            "\n"
                            "Creating file (01/4) " +
                            base +
                            "x0_y0_z0.qpx\n"
                            "Creating file (02/4) " +
                            base +
                            "x0_y1_z0.qpx\n"
                            "Creating file (03/4) " +
                            base +
                            "x1_y0_z0.qpx\n"
                            "Creating file (04/4) " +
                            base + "x1_y1_z0.qpx\n");
    // The stream's state is given back as the call found it.
    EXPECT_FALSE(s.boolalpha);
    EXPECT_EQ(s.fill, ' ');

    const Outcome m = merge(merged, base, {2, 2, 1}, {16, 16, 0}, {}, true);
    EXPECT_TRUE(m.result);
    EXPECT_EQ(m.output, "Merging file " + merged +
                            " from 4 [2x2x1] pieces: \n"
                            "   overlap: [16x16x0]\n"
                            "   padding: [0x0x0]\n"
                            "   convert to float: true\n"
                            "\n"
                            "Adding file (01/4) " +
                            base +
                            "x0_y0_z0.qpx\n"
                            "Adding file (02/4) " +
                            base +
                            "x0_y1_z0.qpx\n"
                            "Adding file (03/4) " +
                            base +
                            "x1_y0_z0.qpx\n"
                            "Adding file (04/4) " +
                            base + "x1_y1_z0.qpx\n");
    EXPECT_FALSE(m.boolalpha);
    EXPECT_EQ(m.fill, ' ');
}

// The progress lines of a grid, split out of a run's output.
std::vector<std::string> progressLines(const std::string& output) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(output);
    while (std::getline(in, line))
        if (line.rfind("Creating file (", 0) == 0)
            lines.push_back(line);
    return lines;
}

TEST(SplitMerge, TileNames) {
    TempDir dir;
    const std::string source = dir.file("s.qpx");
    ZanTest::writeZStackFile(source, {"g", 20, 20, 8, 8, 1}, {ZStackLayout::ZOnly, 1, 2, 0, false});

    const std::string base2 = dir.file("two/c_");
    ASSERT_TRUE(split(source, base2, {2, 2, 1}).result);
    EXPECT_EQ(filesIn(dir.path() / "two"), (std::set<std::string>{"c_x0_y0_z0.qpx", "c_x0_y1_z0.qpx",
                                                                  "c_x1_y0_z0.qpx", "c_x1_y1_z0.qpx"}));

    const std::string base = dir.file("cube/c_");
    const Outcome cube = split(source, base, {2, 2, 2});
    ASSERT_TRUE(cube.result);
    EXPECT_EQ(progressLines(cube.output), (std::vector<std::string>{
                                              "Creating file (01/8) " + base + "x0_y0_z0.qpx",
                                              "Creating file (02/8) " + base + "x0_y1_z0.qpx",
                                              "Creating file (03/8) " + base + "x1_y0_z0.qpx",
                                              "Creating file (04/8) " + base + "x1_y1_z0.qpx",
                                              "Creating file (05/8) " + base + "x0_y0_z1.qpx",
                                              "Creating file (06/8) " + base + "x0_y1_z1.qpx",
                                              "Creating file (07/8) " + base + "x1_y0_z1.qpx",
                                              "Creating file (08/8) " + base + "x1_y1_z1.qpx",
                                          }));
    EXPECT_EQ(filesIn(dir.path() / "cube").size(), 8u);

    const std::string base100 = dir.file("hundred/c_");
    const Outcome hundred = split(source, base100, {10, 10, 1});
    ASSERT_TRUE(hundred.result);
    const std::vector<std::string> lines = progressLines(hundred.output);
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines[0], "Creating file (001/100) " + base100 + "x0_y0_z0.qpx");
    EXPECT_EQ(lines[1], "Creating file (002/100) " + base100 + "x0_y1_z0.qpx");
    EXPECT_EQ(lines[10], "Creating file (011/100) " + base100 + "x1_y0_z0.qpx");
    EXPECT_EQ(lines[99], "Creating file (100/100) " + base100 + "x9_y9_z0.qpx");
    const std::set<std::string> files = filesIn(dir.path() / "hundred");
    EXPECT_EQ(files.size(), 100u);
    EXPECT_EQ(files.count("c_x9_y9_z0.qpx"), 1u);
    EXPECT_EQ(files.count("c_x10_y0_z0.qpx"), 0u);
}

// The merged extent comes back from the tiles' own extents: every tile but the last gives up its overlap
// with the tiles after it and its padding, a single piece gives its own.
TEST(MergeExtents, FromTheTilesTheSplitWrote) {
    struct Case {
        long width, pieces, overlap, padding;
        std::vector<long> tileWidths;
    };
    const Case cases[] = {
        {10, 3, 2, 0, {6, 6, 2}},
        {20, 2, 2, 1, {13, 11}},
        {10, 3, 0, 3, {7, 9, 5}}, // a short last piece whose padding the border clips
        {10, 1, 0, 0, {10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " in " << c.pieces << ", overlap " << c.overlap
                                          << ", padding " << c.padding);
        TempDir dir;
        const std::string source = dir.file("s.qpx"), base = dir.file("t_");
        ZanTest::writeZStackFile(source, {"g", c.width, 3, 8, 8, 1}, {ZStackLayout::ZOnly, 1, 1, 0, false});
        ASSERT_TRUE(split(source, base, {c.pieces, 1, 1}, {c.overlap, 0, 0}, {c.padding, 0, 0}).result);
        for (long i = 0; i < c.pieces; ++i)
            EXPECT_EQ(openForReading(Zan::partialFileName(base, {i, 0, 0}, false))->attributes()["widthPx"],
                      c.tileWidths[static_cast<std::size_t>(i)])
                << "tile " << i;
        long width = -1, height = -1;
        Zan::determineMergedParametersX(base, c.pieces, c.overlap, c.padding, width);
        Zan::determineMergedParametersY(base, 1, 0, 0, height);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, 3);
    }

    // Three Z tiles with an overlap of 2 planes, 5 frames per plane: the merged frames are 5 per plane.
    TempDir dir;
    const std::string source = dir.file("s.qpx"), base = dir.file("t_");
    ZanTest::writeZStackFile(source, {"g", 4, 3, 8, 8, 1}, {ZStackLayout::ZAroundTime, 5, 9, 0, false});
    ASSERT_TRUE(split(source, base, {1, 1, 3}, {0, 0, 2}).result);
    long planes = -1, frames = -1;
    Zan::determineMergedParametersZ(base, 3, 2, 0, planes, frames);
    EXPECT_EQ(planes, 9);
    EXPECT_EQ(frames, 45);
}

// The Z ramp of the split: with an overlap of 3 planes the tile planes that face a neighbour are
// multiplied by 0, 0.5 and 1 rising from the tile's edge; the other planes keep their samples.
TEST(SplitMerge, ZBandsAreWeightedPlaneByPlane) {
    TempDir dir;
    const NativeGeometry g{"g", 5, 3, 8, 8, 1};
    const std::string source = dir.file("s.qpx"), base = dir.file("t_");
    ZanTest::writeZStackFile(source, g, {ZStackLayout::ZOnly, 1, 9, 0, false});
    ASSERT_TRUE(split(source, base, {1, 1, 3}, {0, 0, 3}, {}, true).result);
    // Boxes of planes [0, 6), [3, 9) and [6, 9).
    const std::vector<std::vector<float>> factors = {
        {1, 1, 1, 1, 0.5f, 0}, {0, 0.5f, 1, 1, 0.5f, 0}, {0, 0.5f, 1}};
    const long starts[] = {0, 3, 6};
    const auto in = openForReading(source);
    for (long z = 0; z < 3; ++z) {
        const auto tile = openForReading(Zan::partialFileName(base, {0, 0, z}, false));
        const auto& expected = factors[static_cast<std::size_t>(z)];
        ASSERT_EQ(tile->sequenceCount(), expected.size());
        for (unsigned k = 0; k < expected.size(); ++k) {
            const std::vector<float> plane = frameFloats(*in, static_cast<unsigned>(starts[z] + k));
            std::vector<float> weighted(plane.size());
            for (std::size_t i = 0; i < plane.size(); ++i)
                weighted[i] = plane[i] * expected[k];
            EXPECT_EQ(frameFloats(*tile, k), weighted) << "tile " << z << ", plane " << k;
        }
    }
}

} // namespace

namespace {

// A frame weighted band of rows by band of rows is the frame weighted whole: bands of every size against
// the kernels run once over the whole rectangle, with the top and bottom bands in a band's middle, at its
// edge and split across two bands.
TEST(TilePixels, BandByBandIsTheWholeFrameWeighted) {
    struct Case {
        const char* what;
        NativeGeometry g;
        bool toFloat;
        Zan::Faces faces;
        long bandRows;
    };
    const Case cases[] = {
        {"gray16, one row a band", {"g16", 23, 17, 16, 16, 1}, false, {true, true, true, true}, 1},
        {"gray16, three rows a band", {"g16", 23, 17, 16, 16, 1}, false, {true, true, true, true}, 3},
        {"gray16, seven rows a band", {"g16", 23, 17, 16, 16, 1}, false, {false, true, true, false}, 7},
        {"gray16, the whole frame a band",
         {"g16", 23, 17, 16, 16, 1},
         false,
         {true, false, false, true},
         100},
        {"rgb8, five rows a band", {"rgb", 11, 16, 8, 8, 3}, false, {true, true, false, true}, 5},
        {"gray12 to float, four rows a band", {"g12", 9, 13, 12, 16, 1}, true, {true, true, true, true}, 4},
    };
    const Grid overlap{3, 4, 0};
    const std::vector<float> factors{0.5f};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string source = dir.file("s.qpx");
        ZanTest::writeZStackFile(source, c.g, {ZStackLayout::ZOnly, 1, 1, 0, false});
        const auto in = openForReading(source);
        const Zan::Rectangle rect{2, 1, c.g.width - 3, c.g.height - 2};
        const long bits = c.toFloat ? 32 : c.g.bitsStored;
        const long line = (rect.width * ZanTest::nativeSampleBytes(bits) * c.g.components + 3) / 4 * 4;

        // The whole rectangle, weighted at once.
        const auto frame = in->imageData(0);
        ASSERT_TRUE(frame->open(Zan::IoImageDataDevice::Read));
        ByteVector whole(static_cast<std::size_t>(line * rect.height), 0);
        if (c.toFloat)
            frame->packedImageRectToFloat(reinterpret_cast<float*>(whole.data()), line, rect);
        else
            frame->packedImageRect(whole.data(), line, rect);
        Zan::multipication(whole.data(), bits, line, rect.height, factors[0]);
        Zan::blendingY(whole.data(), bits, line, rect.width, rect.height, c.g.components, overlap.y,
                       c.faces.top, c.faces.bottom);
        Zan::blendingX(whole.data(), bits, line, rect.width, rect.height, c.g.components, overlap.x,
                       c.faces.left, c.faces.right);

        // Band by band into a frame of the rectangle's size.
        const std::string target = dir.file("t.qpx");
        {
            auto tile = std::make_unique<QpxFileDevice>(target);
            ASSERT_TRUE(tile->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
            json raw = in->rawMetadata();
            Zan::changeRawMetadataAttributes(raw, 1, rect.width, rect.height, c.toFloat);
            tile->setRawMetadata(raw);
            const auto to = tile->imageData(0);
            ASSERT_TRUE(to->open(Zan::IoImageDataDevice::Write));
            ByteVector buffer;
            Zan::copyWeighted(*frame, *to, buffer, rect, bits, c.toFloat, factors, overlap, c.faces,
                              c.bandRows * line);
            to->close();
            tile->close();
        }
        EXPECT_EQ(framePixels(*openForReading(target), 0), whole);
    }
}

} // namespace
