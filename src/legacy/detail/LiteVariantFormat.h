#pragma once

// Byte layout of the binary variant format shared by its reader and writer (internal): the envelope, the
// checked parse of one item, the index order of names and the text conversions of names and strings.
// Everything here takes the bounds it may read within; nothing trusts a count or offset from the bytes.

#include <io/detail/LittleEndian.h>
#include <legacy/CVkLiteVariantFormat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ZanLegacy::LiteVariant {

using Zan::detail::loadLE16;
using Zan::detail::loadLE32;
using Zan::detail::loadLE64;
using Zan::detail::storeLE16;
using Zan::detail::storeLE32;
using Zan::detail::storeLE64;

constexpr std::size_t kEnvelopeHeader = 12;
constexpr unsigned char kEnvelopeMagic[4] = {'L', 'V', '0', 'Z'};
// An envelope may not claim more than this, nor more than deflate can produce from its stream.
constexpr std::uint64_t kMaxInflatedSize = std::uint64_t(1) << 30;
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr int kZlibLevel = 6;

// Bytes of a fixed-size value; 0 for strings, byte arrays and levels.
std::size_t FixedValueSize(std::uint8_t type);

// One item, located and checked.
struct ItemView {
    std::size_t pos = 0; // first byte
    std::uint8_t type = 0;
    std::uint8_t nameLen = 0;
    std::size_t value = 0; // first byte after the name (a level's count field)
    std::size_t end = 0;   // one past the item
    // Levels only (both forms): the count, the first child and the start of the index, all absolute.
    std::uint32_t count = 0;
    std::size_t children = 0;
    std::size_t index = 0;
};

// Parses the item at pos, which must lie wholly in [pos, limit): its name, its value (a string must end
// inside), and for a level its header, with the index after the header and inside the limit.
// False for anything else, including codes 0 and above 11.
bool ParseItem(const unsigned char* data, std::size_t pos, std::size_t limit, ItemView& out);

// Units of an item's name as a reader takes them: up to the first 0 unit among the nameLen units.
std::size_t NameUnits(const unsigned char* data, const ItemView& item);
std::u16string NameOf(const unsigned char* data, const ItemView& item);

// Index order of two stored names given by their first unit and their nameLen: -1, 0 or 1.
int CompareStoredNames(const unsigned char* a, unsigned aLen, const unsigned char* b, unsigned bLen);

// Compares a stored name with a searched one of k units (the lookup rule, which also matches a name
// stored without its 0 unit): negative when the stored name sorts before the searched one.
int CompareWithName(const unsigned char* stored, unsigned nameLen, const char16_t* name, std::size_t k);

// UTF-16LE units to wide text; a unit that does not decode (a lone surrogate) becomes U+FFFD.
std::wstring Utf16ToWide(const unsigned char* units, std::size_t count);
std::wstring Utf16ToWide(const std::u16string& text);

// A name as it is stored: converted to UTF-16 (std::range_error for text that cannot be). A name of up
// to kMaxNameLen units is kept whole (one of exactly kMaxNameLen units is stored without its 0 unit, as
// readers take it); a longer one is cut to kMaxNameUnits units without splitting a surrogate pair. Null
// gives an empty name.
std::u16string StoredName(const wchar_t* name);
std::u16string StoredName(std::u16string name);

} // namespace ZanLegacy::LiteVariant

namespace ZanLegacy {

// Converts the old-form level at pos (and the old-form levels below it) to the relative form in place.
// The whole tree is checked before the first byte changes: every level and index entry must lie inside
// its parent, no level may be reached twice and the nesting is capped. Returns 0 (also when the item at
// pos is not an old-form level) or -9 with the buffer unchanged.
int OffsetIndicesToRelative(unsigned char* data, std::size_t size, std::size_t pos);

} // namespace ZanLegacy
