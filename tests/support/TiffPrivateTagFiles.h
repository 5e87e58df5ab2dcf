#pragma once

// TIFF files with this system's private tags, written with libtiff for tests and fuzz seeds: directories of
// one geometry (each with samples of its own), the plane count and the four blobs in one directory. The
// blob layouts are encoded here from their description, independently of the reader.
//
//   PrivateTiff file;
//   file.directories = 6;
//   file.compPlanes = 3.0;
//   file.data = namedBlob({{u"AcqTimesCache", doubleBytes({0.0, 250.0})}});
//   const std::vector<char> bytes = writePrivateTiff(file);

#include <support/TempDir.h>
#include <support/TiffFixtures.h>

#include <io/DefaultInitAllocator.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ZanTest {

inline void appendLE32(Zan::ByteVector& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

inline void appendName(Zan::ByteVector& out, const std::u16string& name) {
    appendLE32(out, static_cast<std::uint32_t>(name.size()));
    for (char16_t unit : name) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
}

struct NamedValue {
    std::u16string name;
    Zan::ByteVector value;
};

struct SequenceItem {
    std::uint32_t index;
    Zan::ByteVector value;
};

struct SequenceValue {
    std::u16string name;
    std::vector<SequenceItem> items;
};

// Entry count, the entries, then the values in entry order.
inline Zan::ByteVector namedBlob(const std::vector<NamedValue>& entries) {
    std::uint64_t headers = 4;
    for (const auto& e : entries)
        headers += 12 + 2 * e.name.size();
    Zan::ByteVector out;
    appendLE32(out, static_cast<std::uint32_t>(entries.size()));
    std::uint64_t offset = headers;
    for (const auto& e : entries) {
        appendName(out, e.name);
        appendLE32(out, static_cast<std::uint32_t>(e.value.size()));
        appendLE32(out, static_cast<std::uint32_t>(offset));
        offset += e.value.size();
    }
    for (const auto& e : entries)
        out.insert(out.end(), e.value.begin(), e.value.end());
    return out;
}

inline Zan::ByteVector sequenceBlob(const std::vector<SequenceValue>& entries) {
    std::uint64_t headers = 4;
    for (const auto& e : entries)
        headers += 8 + 2 * e.name.size() + 12 * e.items.size();
    Zan::ByteVector out;
    appendLE32(out, static_cast<std::uint32_t>(entries.size()));
    std::uint64_t offset = headers;
    for (const auto& e : entries) {
        appendName(out, e.name);
        appendLE32(out, static_cast<std::uint32_t>(e.items.size()));
        for (const auto& item : e.items) {
            appendLE32(out, item.index);
            appendLE32(out, static_cast<std::uint32_t>(item.value.size()));
            appendLE32(out, static_cast<std::uint32_t>(offset));
            offset += item.value.size();
        }
    }
    for (const auto& e : entries)
        for (const auto& item : e.items)
            out.insert(out.end(), item.value.begin(), item.value.end());
    return out;
}

inline Zan::ByteVector doubleBytes(const std::vector<double>& values) {
    Zan::ByteVector out(values.size() * 8);
    std::memcpy(out.data(), values.data(), out.size()); // little endian
    return out;
}

inline Zan::ByteVector textBytes(const std::string& text) {
    return Zan::ByteVector(text.begin(), text.end());
}

struct PrivateTiff {
    TiffSpec page;            // every directory's geometry; samples from pageOf
    unsigned directories = 1; //
    std::optional<double> compPlanes;
    int blobDirectory = -1; // the directory that holds the blobs and the plane count; -1 the last
    Zan::ByteVector data, dataSeq, variant, variantSeq;
    // Changes to directory d's geometry (a file whose directories differ).
    std::function<void(unsigned d, TiffSpec&)> vary;
};

// Directory d of the file: the page's geometry with samples that tell the directories apart.
inline TiffSpec pageOf(const PrivateTiff& file, unsigned d) {
    TiffSpec spec = file.page;
    if (file.vary)
        file.vary(d, spec);
    const TiffSpec base = spec;
    spec.sample = [base, d](unsigned s, std::uint32_t x, std::uint32_t y) {
        return storedSample(base, s, x, y) + 41u * d;
    };
    return spec;
}

// Writes the file with libtiff and returns its bytes. The private tags are declared on the handle for each
// directory as libtiff forgets them with every new one; blob counts are 32-bit.
inline std::vector<char> writePrivateTiff(const PrivateTiff& file) {
    static const TIFFFieldInfo tags[] = {
        {65328, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, const_cast<char*>("ZANCompPlanes")},
        {65330, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ZANData")},
        {65331, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("ZANDataSeq")},
        {65332, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("ZANVariant")},
        {65333, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("ZANVariantSeq")},
    };
    TempDir dir;
    const std::string path = dir.file("private.tif");
    TIFF* tif = createTiff(path);
    const unsigned blobs = file.blobDirectory < 0 ? file.directories - 1 : unsigned(file.blobDirectory);
    try {
        for (unsigned d = 0; d < file.directories; ++d) {
            writeTiffPage(tif, pageOf(file, d));
            if (d == blobs) {
                if (TIFFMergeFieldInfo(tif, tags, sizeof tags / sizeof tags[0]) != 0)
                    throw std::runtime_error("writePrivateTiff: tags not declared");
                if (file.compPlanes)
                    TIFFSetField(tif, 65328, *file.compPlanes);
                const std::pair<std::uint32_t, const Zan::ByteVector*> blobTags[] = {
                    {65330, &file.data},
                    {65331, &file.dataSeq},
                    {65332, &file.variant},
                    {65333, &file.variantSeq}};
                for (const auto& [tag, blob] : blobTags)
                    if (!blob->empty() &&
                        TIFFSetField(tif, tag, static_cast<std::uint32_t>(blob->size()), blob->data()) != 1)
                        throw std::runtime_error("writePrivateTiff: blob " + std::to_string(tag));
            }
            if (TIFFWriteDirectory(tif) != 1)
                throw std::runtime_error("writePrivateTiff: directory " + std::to_string(d));
        }
    } catch (...) {
        TIFFClose(tif);
        throw;
    }
    TIFFClose(tif);
    return readBytes(path);
}

} // namespace ZanTest
