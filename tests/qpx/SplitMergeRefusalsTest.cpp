// What split and merge refuse, with false and before anything is printed or written; the tile geometry,
// names, chunk sorting and custom-data steps they share.

#include "SplitMergeTestSupport.h"

#include <qpx/detail/QpxTileConversions.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace split_test;
using ZanTest::TempDir;

const NativeGeometry gray{"g", 13, 11, 16, 16, 1};
const ZStackLayout stack{ZStackLayout::TimeAround, 2, 5};

struct Refusal {
    const char* what;
    std::function<Outcome(const TempDir&)> run;
};

// Each case returns false, prints nothing and leaves the directory as the case set it up.
void expectRefused(const Refusal& c, const std::function<void(const TempDir&)>& setUp) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    setUp(dir);
    const std::set<std::string> before = filesIn(dir.path());
    const Outcome run = c.run(dir);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(filesIn(dir.path()), before);
}

TEST(SplitRefusals, BadArgumentsAndSources) {
    const auto source = [](const TempDir& d) { return d.file("s.qpx"); };
    const auto base = [](const TempDir& d) { return d.file("tiles/t_"); };
    const auto splitOf = [&](Grid pieces, Grid overlap = {}, Grid padding = {}) {
        return [=](const TempDir& d) { return split(source(d), base(d), pieces, overlap, padding); };
    };
    const Refusal cases[] = {
        {"a source name that is not native",
         [&](const TempDir& d) {
             return split(d.file("s.tif"), base(d), {2, 2, 1});
         }},
        {"a source that does not exist",
         [&](const TempDir& d) {
             return split(d.file("n.qpx"), base(d), {2, 2, 1});
         }},
        {"no pieces along x", splitOf({0, 2, 1})},
        {"negative pieces along z", splitOf({1, 1, -2})},
        {"an overlap of 1", splitOf({2, 2, 1}, {1, 0, 0})},
        {"an overlap of 1 along z", splitOf({2, 2, 2}, {0, 0, 1})},
        {"a negative overlap", splitOf({2, 2, 1}, {0, -2, 0})},
        {"a negative padding", splitOf({2, 2, 1}, {}, {0, 0, -1})},
        // Width 13 in 4 pieces: the last tile is one column wide, narrower than its left band.
        {"a band wider than its tile", splitOf({4, 1, 1}, {2, 0, 0})},
        {"a Z band wider than its tile", splitOf({1, 1, 2}, {0, 0, 3})},
        // Width 13 in 8 pieces of 2: the last piece would start at column 14.
        {"pieces that start beyond the image", splitOf({8, 1, 1})},
        {"more Z pieces than planes", splitOf({1, 1, 6})},
        {"a tile named as the source",
         [&](const TempDir& d) {
             return split(d.file("s_x0_y0_z0.qpx"), d.file("s_"), {1, 1, 1});
         }},
        {"a tile named as the source by another path",
         [&](const TempDir& d) {
             return split(d.file("s_x0_y0_z0.qpx"), d.file("sub/../s_"), {1, 1, 1});
         }},
        {"a tile that is the source under another name",
         [&](const TempDir& d) {
             return split(source(d), d.file("alias_"), {1, 1, 1});
         }},
    };
    for (const Refusal& c : cases)
        expectRefused(c, [](const TempDir& d) {
            ZanTest::writeZStackFile(d.file("s.qpx"), gray, stack);
            ZanTest::writeZStackFile(d.file("s_x0_y0_z0.qpx"), gray, stack);
            std::filesystem::create_symlink(d.file("s.qpx"), d.file("alias_x0_y0_z0.qpx"));
        });
}

TEST(SplitRefusals, SourcesWithoutPlanes) {
    const Refusal noZ{"a source without a Z stack", [](const TempDir& d) {
                          return split(d.file("s.qpx"), d.file("t_"), {1, 1, 1});
                      }};
    expectRefused(noZ, [](const TempDir& d) {
        QpxFileDevice file(d.file("s.qpx"));
        ZanTest::writeNativeFile(file, gray, 2);
    });
    // A Z stack of no planes is no loop of the experiment.
    expectRefused({"a Z stack of 0 planes", noZ.run}, [](const TempDir& d) {
        QpxFileDevice file(d.file("s.qpx"));
        ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
        file.setRawMetadata(ZanTest::zStackRaw(gray, {ZStackLayout::ZOnly, 1, 0}));
        file.close();
    });
}

// Tiles of a 2 x 2 x 1 split with overlap 4 along x, then damaged by the case.
TEST(MergeRefusals, BadArgumentsAndTiles) {
    const Grid pieces{2, 2, 1}, overlap{4, 0, 0};
    const auto base = [](const TempDir& d) { return d.file("t_"); };
    const auto mergeOf = [&](Grid p, Grid o, Grid padding = {}) {
        return [=](const TempDir& d) { return merge(d.file("m.qpx"), base(d), p, o, padding); };
    };
    const Refusal cases[] = {
        {"a merged name that is not native",
         [&](const TempDir& d) { return merge(d.file("m.tif"), base(d), pieces, overlap); }},
        {"no pieces along y", mergeOf({2, 0, 1}, overlap)},
        {"an overlap of 1", mergeOf(pieces, {1, 0, 0})},
        {"a negative padding", mergeOf(pieces, overlap, {0, -1, 0})},
        {"padding the split did not use", mergeOf(pieces, overlap, {2, 0, 0})},
        {"more pieces than the split's", mergeOf({3, 2, 1}, overlap)},
        {"another overlap than the split's", mergeOf(pieces, {6, 0, 0})},
        {"a merged name that is a tile's",
         [&](const TempDir& d) { return merge(d.file("t_x1_y0_z0.qpx"), base(d), pieces, overlap); }},
    };
    const auto splitTiles = [&](const TempDir& d) {
        ZanTest::writeZStackFile(d.file("s.qpx"), gray, {ZStackLayout::TimeAround, 2, 1});
        ASSERT_TRUE(split(d.file("s.qpx"), base(d), pieces, overlap).result);
    };
    for (const Refusal& c : cases)
        expectRefused(c, splitTiles);

    const Refusal plain{"", mergeOf(pieces, overlap)};
    const auto damaged = [&](const char* what, const std::function<void(const TempDir&)>& damage) {
        expectRefused({what, plain.run}, [&](const TempDir& d) {
            splitTiles(d);
            damage(d);
        });
    };
    damaged("a missing tile", [](const TempDir& d) { std::filesystem::remove(d.file("t_x1_y1_z0.qpx")); });
    damaged("a tile that does not open", [](const TempDir& d) {
        std::ofstream(d.file("t_x0_y1_z0.qpx"), std::ios::binary | std::ios::trunc) << "not a native file";
    });
    damaged("a tile of another image", [](const TempDir& d) {
        ZanTest::writeZStackFile(d.file("t_x1_y0_z0.qpx"), {"g", 6, 5, 8, 8, 1}, stack);
    });
    damaged("a tile with a frame missing", [](const TempDir& d) {
        const std::string name = d.file("t_x1_y1_z0.qpx");
        const auto in = openForReading(name);
        const std::string copy = d.file("copy.qpx");
        {
            auto out = std::make_unique<QpxFileDevice>(copy);
            ASSERT_TRUE(out->open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
            out->setRawMetadata(in->rawMetadata());
            for (unsigned f = 1; f < in->sequenceCount(); ++f)
                out->setImageData(framePixels(*in, f), f);
            out->close();
        }
        std::filesystem::rename(copy, name);
    });
}

TEST(MergeRefusals, CompressedTileWithoutAFrameChunk) {
    TempDir dir;
    const NativeGeometry zlib{"z", 6, 5, 8, 8, 1, true};
    const std::string tile = dir.file("t_x0_y0_z0.qpx");
    {
        QpxFileDevice file(tile);
        ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
        file.setRawMetadata(ZanTest::zStackRaw(zlib, {ZStackLayout::ZOnly, 1, 2}));
        file.setImageData(ZanTest::nativePlane(zlib, 0), 0);
        file.close();
    }
    const Outcome run = merge(dir.file("m.qpx"), dir.file("t_"), {1, 1, 1});
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.qpx")));
}

// A tile whose frame is listed and has its size but does not open (its stream or its header damaged) is
// found before the merge prints or writes: the merged file keeps its old bytes, no temporary stays.
TEST(MergeRefusals, TileFramesThatDoNotOpen) {
    using Bytes = std::string;
    struct Case {
        const char* what;
        bool lossless;
        // Bytes of the tile to change, from the frame chunk's position and its data offset.
        std::function<void(Bytes&, long position, long data, long size)> damage;
    };
    const Case cases[] = {
        {"a damaged compressed stream", true,
         [](Bytes& b, long, long data, long size) { b[static_cast<std::size_t>(data + size / 2)] ^= 0x5A; }},
        {"a cut compressed stream", true,
         [](Bytes& b, long, long data, long) { b[static_cast<std::size_t>(data + 8)] ^= 0x01; }},
        {"a damaged raw frame header", false,
         [](Bytes& b, long position, long, long) { b[static_cast<std::size_t>(position)] ^= 0xFF; }},
        {"a raw frame header that claims fewer bytes", false,
         [](Bytes& b, long position, long, long) { b[static_cast<std::size_t>(position + 8)] = 4; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const NativeGeometry g{"g", 21, 13, 16, 16, 1, c.lossless};
        const std::string source = dir.file("s.qpx"), base = dir.file("t_"), merged = dir.file("m.qpx");
        ZanTest::writeZStackFile(source, g, stack);
        ASSERT_TRUE(split(source, base, {2, 2, 1}, {4, 0, 0}).result);
        const std::string tile = dir.file("t_x1_y0_z0.qpx");
        long position = 0, size = 0, data = 0;
        {
            const auto file = openForReading(tile);
            ASSERT_TRUE(file->chunkedDevice().hasChunkInMap("ImageDataSeq|3!", &position, &size));
            data = file->chunkedDevice().chunkDataOffset("ImageDataSeq|3!");
        }
        std::ifstream in(tile, std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        c.damage(bytes, position, data, size);
        std::ofstream(tile, std::ios::binary | std::ios::trunc) << bytes;
        std::ofstream(merged, std::ios::binary | std::ios::trunc) << "the old merged image";
        const std::set<std::string> before = filesIn(dir.path());

        const Outcome run = merge(merged, base, {2, 2, 1}, {4, 0, 0});
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(filesIn(dir.path()), before);
        std::ifstream kept(merged, std::ios::binary);
        EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()),
                  "the old merged image");
    }
}

// A split that cannot write every frame of every tile returns false and leaves no tile behind, nor
// changes tiles that an earlier split wrote under the same names.
TEST(SplitRefusals, SourceFrameWithoutPixels) {
    for (const bool lossless : {false, true}) {
        SCOPED_TRACE(lossless ? "zlib" : "raw");
        TempDir dir;
        const NativeGeometry g{"g", 13, 11, 16, 16, 1, lossless};
        const std::string source = dir.file("s.qpx"), base = dir.file("t_");
        {
            // Frames 0 to 4 of a Z stack of five, frame 3 never written.
            QpxFileDevice file(source);
            ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
            file.setRawMetadata(ZanTest::zStackRaw(g, {ZStackLayout::ZOnly, 1, 5}));
            for (unsigned f = 0; f < 5; ++f)
                if (f != 3)
                    file.setImageData(ZanTest::nativePlane(g, f), f);
            file.close();
        }
        std::ofstream(dir.file("t_x0_y0_z0.qpx"), std::ios::binary) << "an earlier tile";
        const std::set<std::string> before = filesIn(dir.path());
        const Outcome run = split(source, base, {2, 1, 1});
        EXPECT_FALSE(run.result);
        EXPECT_EQ(filesIn(dir.path()), before);
        std::ifstream kept(dir.file("t_x0_y0_z0.qpx"), std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()),
                  "an earlier tile");
    }
}

TEST(SplitRefusals, LoopsThatDeclareMoreFramesThanTheFileStores) {
    // Time 10^5 around a Z stack of 1,000 planes, two frames stored: refused before the 10^8 frames' table
    // is built, with nothing printed or written.
    TempDir dir;
    const NativeGeometry g{"g", 13, 11, 16, 16, 1};
    const std::string source = dir.file("s.qpx"), base = dir.file("t_");
    {
        QpxFileDevice file(source);
        ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
        file.setRawMetadata(ZanTest::zStackRaw(g, {ZStackLayout::TimeAround, 100000, 1000}));
        for (unsigned f = 0; f < 2; ++f)
            file.setImageData(ZanTest::nativePlane(g, f), f);
        file.close();
    }
    const std::set<std::string> before = filesIn(dir.path());
    const Outcome run = split(source, base, {2, 1, 1});
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(filesIn(dir.path()), before);
}

// ---- The shared steps.

TEST(TileGeometry, BoxesAndPieceSizes) {
    struct Case {
        long full, pieces, overlap, padding;
        std::vector<std::pair<long, long>> boxes; // start, end of each tile
    };
    const Case cases[] = {
        {10, 3, 0, 0, {{0, 4}, {4, 8}, {8, 10}}},
        {10, 3, 2, 1, {{0, 7}, {3, 10}, {7, 10}}},
        {20, 2, 2, 1, {{0, 13}, {9, 20}}},
        {10, 1, 5, 5, {{0, 10}}},
    };
    for (const Case& c : cases) {
        const long piece = Zan::pieceSize(c.full, c.pieces);
        for (long i = 0; i < c.pieces; ++i) {
            Grid start, end, size;
            Zan::dstParameters<long>({c.full, 1, 1}, {c.overlap, 0, 0}, {c.padding, 0, 0}, {piece, 1, 1},
                                     {i, 0, 0}, start, end, size);
            EXPECT_EQ(std::make_pair(start.x, end.x), c.boxes[static_cast<std::size_t>(i)])
                << c.full << " " << i;
            EXPECT_EQ(size.x, end.x - start.x);
        }
    }
    // In integers: above 2^24 a float ceiling loses the odd column.
    EXPECT_EQ(Zan::pieceSize(16777217, 2), 8388609);
    EXPECT_EQ(Zan::pieceSize(Grid{10, 3, 7}, Grid{3, 4, 7}).x, 4);
    EXPECT_EQ(Zan::pieceSize(Grid{10, 3, 7}, Grid{3, 4, 7}).y, 1);
    EXPECT_EQ(Zan::pieceSize(Grid{10, 3, 7}, Grid{3, 4, 7}).z, 1);
    EXPECT_THROW(Grid{}.interaction({}, {}), std::bad_function_call);
}

TEST(TileGeometry, PartialFileNames) {
    EXPECT_EQ(Zan::partialFileName("/data/tiles/cell_", {1, 0, 2}, false), "/data/tiles/cell_x1_y0_z2.qpx");
    EXPECT_EQ(Zan::partialFileName("cell", {12, 345, 0}, true), "cellx12_y345_z0.qpx");
    TempDir dir;
    const std::string base = dir.file("a/b/c_");
    EXPECT_EQ(Zan::partialFileName(base, {0, 0, 0}, false), base + "x0_y0_z0.qpx");
    EXPECT_FALSE(std::filesystem::exists(dir.file("a")));
    Zan::partialFileName(base, {0, 0, 0}, true);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("a/b")));
}

TEST(TileChunks, SortedIntoCustomKeysAndCopies) {
    std::vector<std::string> keys{"kept"}, others;
    Zan::sortChunks({"ImageAttributesLV!", "CustomData|X!", "CustomData|AcqTimesCache!", "CustomDataVar|X!",
                     "ImageMetadataSeqLV|1!", "ImageDataSeq|12!", "ImageMetadataLV!", "CustomData|Z2!",
                     "ImageMetadataSeqLV|0!", "CustomData|Y", "CustomData|!"},
                    Zan::tileSkipList(), keys, others);
    EXPECT_EQ(keys, (std::vector<std::string>{"kept", "X", "Z2", "Y"}));
    EXPECT_EQ(others, (std::vector<std::string>{"CustomData|AcqTimesCache!", "CustomDataVar|X!",
                                                "ImageMetadataSeqLV|1!", "CustomData|!"}));
}

TEST(TileChunks, CustomDataStaysInsideItsBuffers) {
    const std::vector<std::string> keys{"X", "Y"};
    const std::vector<ByteVector> alloc = Zan::allocCustomMetadata(keys, 3, 8);
    ASSERT_EQ(alloc.size(), 2u);
    EXPECT_EQ(alloc[0], ByteVector(24, 0));
    EXPECT_TRUE(Zan::allocCustomMetadata(keys, 0, 8)[1].empty());
    EXPECT_THROW(Zan::allocCustomMetadata(keys, -1, 8), std::invalid_argument);
    EXPECT_THROW(Zan::allocCustomMetadata(keys, 1L << 62, 8), std::invalid_argument);

    // Key X holds two frames, key Y only half of one: Y's frames are left as they were.
    const std::vector<ByteVector> source{ZanTest::patternBytes(16, 1), ZanTest::patternBytes(4, 2)};
    std::vector<ByteVector> target = Zan::allocCustomMetadata(keys, 3, 8);
    Zan::synchronizeCustomMetadata(source, 1, target, 2, 8);
    Zan::synchronizeCustomMetadata(source, 2, target, 0, 8);  // beyond the source
    Zan::synchronizeCustomMetadata(source, 0, target, 3, 8);  // beyond the target
    Zan::synchronizeCustomMetadata(source, -1, target, 0, 8); // before both
    ByteVector x(24, 0);
    std::copy(source[0].begin() + 8, source[0].end(), x.begin() + 16);
    EXPECT_EQ(target[0], x);
    EXPECT_EQ(target[1], ByteVector(24, 0));
}

} // namespace
