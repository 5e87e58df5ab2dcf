// Raw metadata with any of its four parts missing: what a native file stores, reads back, splits and
// merges. A file lacking a part reads back without it, so every document read must be storable again.

#include "SplitMergeTestSupport.h"

#include <support/ChunkedWalk.h>
#include <support/Expect.h>

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <string>

namespace {

using namespace split_test;
using nlohmann::json;
using ZanTest::TempDir;

constexpr std::array<const char*, 4> kParts = {"Attributes_dic", "Experiment_dic", "Metadata_dic",
                                               "TextInfo_dic"};

const NativeGeometry geometry{"g16", 9, 7, 16, 16, 1};
const ZStackLayout layout{ZStackLayout::TimeAround, 2, 3, 0, false};

// The source document restricted to the parts whose bits are set in mask (bit i: kParts[i]).
json withParts(unsigned mask) {
    const json full = ZanTest::zStackRaw(geometry, layout);
    json raw = json::object();
    for (std::size_t i = 0; i < kParts.size(); ++i)
        if (mask & (1u << i))
            raw[kParts[i]] = full[kParts[i]];
    return raw;
}

std::string partsText(unsigned mask) {
    std::string text;
    for (std::size_t i = 0; i < kParts.size(); ++i)
        if (mask & (1u << i))
            text += std::string(text.empty() ? "" : " ") + kParts[i];
    return text.empty() ? "no part" : text;
}

long chunksWalked(QpxFileDevice& file) {
    return chunked_walk::walk(file.chunkedDevice()).walked;
}

// Writes raw and every frame into a new file.
void writeFile(const std::string& path, const json& raw) {
    QpxFileDevice file(path);
    ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
    ASSERT_TRUE(file.setRawMetadata(raw));
    for (long f = 0; f < layout.frames(); ++f)
        file.setImageData(ZanTest::nativePlane(geometry, f), static_cast<unsigned>(f));
    file.close();
}

// Every subset of the four parts: stored, read back as given, and (where there is a Z stack to split)
// split and merged into a file with the same documents and pixels. Without attributes a file could not be
// opened again: such a document is refused before anything is stored, with the part named.
TEST(RawMetadataParts, EverySubsetStoresReadsBackSplitsAndMerges) {
    for (unsigned mask = 0; mask < 16; ++mask) {
        SCOPED_TRACE(partsText(mask));
        const json raw = withParts(mask);
        TempDir dir;
        const std::string source = dir.file("source.qpx"), merged = dir.file("merged.qpx");
        const std::string base = dir.file("tiles/part_");
        if (!(mask & 1u)) {
            QpxFileDevice file(source);
            ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
            const long before = chunksWalked(file);
            ZAN_EXPECT_THROW_MSG(file.setRawMetadata(raw), std::invalid_argument,
                                 "size is zero: the attributes part \"Attributes_dic\" of the raw metadata "
                                 "holds nothing to store as ImageAttributesLV!");
            EXPECT_EQ(chunksWalked(file), before);
            continue;
        }
        writeFile(source, raw);
        const auto in = openForReading(source);
        const json back = in->rawMetadata();
        EXPECT_EQ(back, raw);
        // What was read is stored again as it was, into a file of its own.
        writeFile(dir.file("again.qpx"), back);
        EXPECT_EQ(openForReading(dir.file("again.qpx"))->rawMetadata(), raw);

        const bool zStack = mask & 2u;
        const Outcome splitting = split(source, base, {2, 1, 2});
        EXPECT_EQ(splitting.result, zStack);
        if (!zStack) {
            EXPECT_EQ(splitting.output, ""); // refused before anything is printed or written
            EXPECT_FALSE(std::filesystem::exists(dir.path() / "tiles"));
            continue;
        }
        ASSERT_TRUE(merge(merged, base, {2, 1, 2}).result);
        const auto out = openForReading(merged);
        const json mergedRaw = out->rawMetadata();
        for (const char* part : kParts)
            EXPECT_EQ(mergedRaw.contains(part), raw.contains(part)) << part;
        EXPECT_EQ(mergedRaw.value("Metadata_dic", json()), raw.value("Metadata_dic", json()));
        EXPECT_EQ(mergedRaw.value("TextInfo_dic", json()), raw.value("TextInfo_dic", json()));
        EXPECT_EQ(out->attributes(), in->attributes());
        EXPECT_EQ(out->experiment(), in->experiment());
        EXPECT_EQ(out->textInfo(), in->textInfo());
        EXPECT_EQ(out->metadata(), in->metadata());
        EXPECT_EQ(out->frameMetadata(1, ""), in->frameMetadata(1, ""));
        ASSERT_EQ(out->sequenceCount(), static_cast<unsigned>(layout.frames()));
        for (unsigned f = 0; f < out->sequenceCount(); ++f)
            EXPECT_EQ(framePixels(*out, f), framePixels(*in, f)) << "frame " << f;
    }
}

// In update mode an absent part replaces the part stored before: it reads back absent, not stale.
TEST(RawMetadataParts, AnAbsentPartReplacesTheStoredOneInUpdateMode) {
    TempDir dir;
    const std::string path = dir.file("file.qpx");
    writeFile(path, withParts(15));
    {
        QpxFileDevice file(path);
        ASSERT_TRUE(file.open(Zan::IoDevice::Read | Zan::IoDevice::Update, 3, nullptr));
        ASSERT_TRUE(file.setRawMetadata(withParts(1 | 2)));
        file.close();
    }
    EXPECT_EQ(openForReading(path)->rawMetadata(), withParts(1 | 2));
    EXPECT_TRUE(openForReading(path)->textInfo().is_null());
}

// Every block is built before the first is stored: a document that cannot be stored leaves the file as it
// was, whichever part fails.
TEST(RawMetadataParts, ADocumentThatCannotBeStoredStoresNothing) {
    struct Case {
        const char* what;
        const char* part;
        json value;
        const char* message; // the start of the message
    };
    const Case cases[] = {
        {"a string with a NUL in the text info",
         "TextInfo_dic",
         {{"TextInfoItem_0_str", std::string("a\0b", 3)}},
         "makeCVkLiteVariantWFromJson: \"SVkImageTextInfo/TextInfoItem_0_str\" holds a string with a NUL"},
        {"a picture-metadata part that is a number", "Metadata_dic", 5,
         "size is zero: the picture-metadata part \"Metadata_dic\" of the raw metadata holds nothing to "
         "store "
         "as ImageMetadataSeqLV|0!"},
        {"attributes without an item", "Attributes_dic", json::object(),
         "size is zero: the attributes part \"Attributes_dic\""},
        {"attributes that are null", "Attributes_dic", nullptr,
         "size is zero: the attributes part \"Attributes_dic\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.file("file.qpx");
        writeFile(path, withParts(15));
        json raw = withParts(15);
        raw[c.part] = c.value;
        QpxFileDevice file(path);
        ASSERT_TRUE(file.open(Zan::IoDevice::Read | Zan::IoDevice::Update, 3, nullptr));
        const long before = chunksWalked(file);
        try {
            file.setRawMetadata(raw);
            ADD_FAILURE() << "stored";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
        }
        EXPECT_EQ(chunksWalked(file), before);
        file.close();
        EXPECT_EQ(openForReading(path)->rawMetadata(), withParts(15));
    }
    // Raw metadata that are no object give no attributes either.
    TempDir dir;
    QpxFileDevice file(dir.file("file.qpx"));
    ASSERT_TRUE(file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr));
    ZAN_EXPECT_THROW_MSG(
        file.setRawMetadata(json::array()), std::invalid_argument,
        "size is zero: the attributes part \"Attributes_dic\" of the raw metadata holds nothing "
        "to store as ImageAttributesLV!");
}

} // namespace
