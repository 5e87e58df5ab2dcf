#pragma once

#include <io/ZanExport.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ZanLegacy {

class CVkByteArray;
class CVkLiteVariantR;
class CVkVariant;

// Builds a binary variant buffer by appending items and opening and closing levels, then hands it to a
// reader, plain or in the "LV0Z" envelope. Only one item may stand at the top, and it must be a level
// for anything to be added under it. Results: 0, -9 misuse (second top-level level, LevelEnd without an
// open level, a null string value), -4 a Write that would not read back (a type other than 1 to 9, a
// size that does not fit the type, a string not ending with its only 0 unit), -3 failed allocation;
// a failed operation leaves the writer as it was. A null or empty name writes an item without a name;
// a name or string that cannot be converted to UTF-16 throws std::range_error. One thread at a time.
class ZAN_EXPORT CVkLiteVariantW {
public:
    CVkLiteVariantW();
    CVkLiteVariantW(const CVkLiteVariantW&) = delete;
    CVkLiteVariantW& operator=(const CVkLiteVariantW&) = delete;
    virtual ~CVkLiteVariantW();

    int Reserve(std::size_t n);
    int LevelBegin(const wchar_t* name);
    int LevelEnd();
    // One value item of type 1 to 9; for type 9 the byte count size goes before the bytes, for type 8
    // value holds UTF-16 units ending with their only 0 unit.
    int Write(std::uint8_t type, const wchar_t* name, const void* value, std::size_t size);

    int Set(bool value, const wchar_t* name);
    int Set(int value, const wchar_t* name);
    int Set(unsigned int value, const wchar_t* name);
    int Set(long value, const wchar_t* name);
    int Set(unsigned long value, const wchar_t* name);
    int Set(double value, const wchar_t* name);
    int Set(void* value, const wchar_t* name);
    int Set(const wchar_t* value, const wchar_t* name);
    int Set(const CVkByteArray& value, const wchar_t* name);
    int Set(const void* data, const std::size_t& size, const wchar_t* name);
    // A whole variant tree under name (v's own name when name is null): values as value items, lists as
    // levels (a record type named in a first "__m_runType" string item), a named null variant as an
    // empty level; an unnamed null variant writes nothing. -9, with nothing written, when the tree
    // would nest deeper than a reader enters or a level cannot be opened (a second top-level item).
    int Set(const CVkVariant& v, const wchar_t* name);

    // Copies the item at the source's cursor byte for byte (a level whole, with its index).
    int Append(const CVkLiteVariantR& source);
    // Closes the open levels and hands the buffer to reader; mode 1 hands over the compressed envelope.
    // The writer is empty afterwards. On failure (-3, or -9 when compressing fails) the reader is
    // unchanged and the writer keeps its buffer with all levels closed.
    int Finalize(CVkLiteVariantR& reader, int mode);

    // Index order of two items, given as pointers to pointers at their first bytes: -1, 0 or 1.
    static int CompareItems(const void* a, const void* b);

private:
    friend class CVkLiteVariantR;

    struct SLevel {
        std::uint64_t* offsets; // children, relative to the level item, in the order written
        std::uint64_t start;    // the level item in the buffer
        std::uint32_t count;
        std::uint32_t capacity;
    };

    int levelBegin(const std::u16string& name);
    int write(std::uint8_t type, const std::u16string& name, const void* value, std::size_t size);
    // Counts the next item (starting at the current end) as a child of the open level.
    int registerChild();
    void putName(const std::u16string& name);
    void release();
    int writeTree(const CVkVariant& v, const wchar_t* name);

    // The writer's extent, to undo a partly written tree.
    struct SMark {
        std::uint64_t used;
        std::int32_t level;
        std::uint32_t count;
    };
    SMark mark() const;
    void rollBack(const SMark& m);

    unsigned char* m_buffer;
    std::uint64_t m_allocated;
    std::uint64_t m_used;
    std::int32_t m_level;
    std::uint32_t m_levelCapacity;
    SLevel* m_levels;
};

} // namespace ZanLegacy
