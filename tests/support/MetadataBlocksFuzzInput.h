#pragma once

// Input of the metadata-blocks fuzz target, shared with the test that writes its seeds: one byte whose
// lowest bit picks the form (0 binary variants, 1 XML variants), the sizes of the attributes, experiment
// and metadata blocks as 16-bit little-endian numbers, then the four blocks one after the other; the
// text-info block takes the rest. Sizes beyond the input are cut to what is left.

#include <io/DefaultInitAllocator.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace metadata_fuzz {

constexpr std::size_t kHeader = 7;

struct Input {
    bool xml = false;
    std::array<Zan::ByteVector, 4> blocks; // attributes, experiment, metadata, text info
};

inline bool decode(const std::uint8_t* data, std::size_t size, Input& out) {
    if (size < kHeader)
        return false;
    out.xml = (data[0] & 1) != 0;
    std::size_t at = kHeader;
    for (std::size_t i = 0; i < 4; ++i) {
        std::size_t n = size - at;
        if (i < 3)
            n = std::min<std::size_t>(n, data[1 + 2 * i] | std::size_t(data[2 + 2 * i]) << 8);
        out.blocks[i].assign(data + at, data + at + n);
        at += n;
    }
    return true;
}

// Blocks larger than 65535 bytes do not fit the format.
inline std::string encode(const Input& in) {
    std::string s(kHeader, '\0');
    s[0] = in.xml ? 1 : 0;
    for (std::size_t i = 0; i < 3; ++i) {
        s[1 + 2 * i] = static_cast<char>(in.blocks[i].size() & 0xFF);
        s[2 + 2 * i] = static_cast<char>(in.blocks[i].size() >> 8);
    }
    for (const Zan::ByteVector& b : in.blocks)
        s.append(b.begin(), b.end());
    return s;
}

// The input of the blocks of a document (anything with members attributes, experiment, metadata and
// textInfo, as the raw-metadata fixtures make them).
template <typename Blocks>
Input inputOf(bool xml, const Blocks& b) {
    Input in;
    in.xml = xml;
    in.blocks = {b.attributes, b.experiment, b.metadata, b.textInfo};
    return in;
}

} // namespace metadata_fuzz
