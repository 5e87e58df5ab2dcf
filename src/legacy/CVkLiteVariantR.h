#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkByteArray.h>
#include <legacy/CVkLiteVariantFormat.h>
#include <legacy/CVkStringW.h>

#include <cstddef>
#include <cstdint>

namespace ZanLegacy {

class CVkLiteVariantW;
class CVkVariant;
namespace LiteVariant {
struct ItemView;
}

// Reads a binary variant buffer in place. The byte array is the buffer and its current offset the
// cursor; the cursor moves from item to item, enters and leaves levels and finds children by name
// through a level's sorted index. Results: 0 success, -9 failure (no such item, wrong type, end of the
// level, bad data), -3 failed allocation; value getters return the caller's default instead.
//
// The bytes are never trusted: every item is checked to lie inside its level and the buffer before it
// is read, so damaged data reads as missing (default values, -9) and a walk stops there. Nesting is
// capped at 256 levels. A buffer beginning with the "LV0Z" envelope is inflated on the first read; an
// old-form buffer is converted in place on the first entry into or skip over its root.
//
// Pointers handed out (strings, byte arrays) point into the buffer, are valid until it changes and are
// not aligned: read UTF-16 units through memcpy. One thread at a time.
class ZAN_EXPORT CVkLiteVariantR : public virtual CVkByteArray {
public:
    CVkLiteVariantR();
    CVkLiteVariantR(const CVkLiteVariantR& other);
    CVkLiteVariantR& operator=(const CVkLiteVariantR& other);
    CVkByteArray& operator=(const CVkByteArray& other) override;
    ~CVkLiteVariantR() override;

    // Buffer. SetPointer takes ownership of data (from CVkAlloc) and resets the navigation.
    int SetPointer(void* data, std::size_t size, std::size_t allocated);
    int Clear();
    int Reset();
    // Inflates an "LV0Z" envelope in place: 0 (also when there is none), -9 when the stored size is
    // implausible or inflating fails (the buffer is then unchanged), -3 when no block could be had.
    int Decompress();
    // Converts an old-form root at offset 0 in place; -9 (nothing changed) when its tree is unsound.
    int ConvertLV31toLV32();

    // Navigation.
    bool IsNextValue();
    int FirstValue();
    int NextValue();
    int CurrentLevelBegin(std::uint32_t* count = nullptr);
    int LevelBegin(const wchar_t* name, std::uint32_t* count = nullptr);
    int LevelEnd();
    // Depth of entered levels minus one; -1 at the top of the buffer.
    int GetLevel() const { return m_level; }

    // Current item.
    std::uint8_t GetCurrentType();
    int GetCurrentName(wchar_t* buffer, unsigned len);
    CVkStringW GetCurrentName();
    int ReadCurrentValue(void* out, std::size_t size);
    bool GetCurrentValue(bool def);
    int GetCurrentValue(int def);
    unsigned int GetCurrentValue(unsigned int def);
    long GetCurrentValue(long def);
    unsigned long GetCurrentValue(unsigned long def);
    double GetCurrentValue(double def);
    void* GetCurrentValue(void* def);
    const char16_t* GetCurrentValue(const char16_t* def);
    CVkStringW& GetCurrentValueCVkStringW(CVkStringW& out, const wchar_t* def);
    int GetCurrentValueIntoBuffer(wchar_t* buffer, int len, const wchar_t* def);
    int GetCurrentValue(CVkByteArray& out);
    int GetCurrentValue(void* buffer, std::size_t size);
    void* GetCurrentValue(std::size_t* size);
    // Replaces v (name, kind, value, members, record type) with the tree of the item at the cursor; the
    // cursor stays on the item. -9, with v and the cursor unchanged, when there is no item or the item
    // or anything below it is damaged or nested deeper than the reader enters.
    int GetCurrentValue(CVkVariant& v);

    // Lookup by name; a name beginning with '\' is a path from the root. On success the cursor ends
    // after the item.
    int Find(const wchar_t* name, std::size_t& offset);
    bool IsValueSet(const wchar_t* name);
    int Read(std::uint8_t type, const wchar_t* name, void* out, std::size_t size);
    bool Get(const wchar_t* name, bool def);
    int Get(const wchar_t* name, int def);
    unsigned int Get(const wchar_t* name, unsigned int def);
    long Get(const wchar_t* name, long def);
    unsigned long Get(const wchar_t* name, unsigned long def);
    double Get(const wchar_t* name, double def);
    void* Get(const wchar_t* name, void* def);
    const char16_t* Get(const wchar_t* name, const char16_t* def);
    CVkStringW& GetCVkStringW(CVkStringW& out, const wchar_t* name, const wchar_t* def);
    int GetStringIntoBuffer(wchar_t* buffer, int len, const wchar_t* name, const wchar_t* def);
    int Get(const wchar_t* name, CVkByteArray& out);
    int Get(const wchar_t* name, void* buffer, std::size_t size);
    void* Get(const wchar_t* name, std::size_t* size);
    // The tree of the item found by name, as GetCurrentValue; the cursor stays on the item. -9 with v
    // unchanged when there is no such item (the cursor as after any failed lookup) or it is damaged.
    int Get(const wchar_t* name, CVkVariant& v);

    // Copying and editing.
    int ExtractCurrent(CVkLiteVariantR& out);
    int Extract(const wchar_t* name, CVkLiteVariantR& out);
    int Replace(const wchar_t* path, CVkLiteVariantR& with);
    int Remove(const wchar_t* path);
    int Merge(CVkLiteVariantR& other);
    static int MergeLevelEx(CVkLiteVariantW& w, CVkLiteVariantR& src, CVkLiteVariantR& with,
                            const wchar_t* path);
    static int RemoveLevelEx(CVkLiteVariantW& w, CVkLiteVariantR& src, const wchar_t* path);
    static int MergeLevel(CVkLiteVariantW& w, CVkLiteVariantR& a, CVkLiteVariantR& b);

    // Flat XML form. LiteVariantToXML appends the items from the cursor to the end of the current level
    // (or buffer) as XML elements, leaving the cursor there; -9 when it meets a damaged item (what came
    // before it is appended). Trace prints that text through the diagnostics sink and keeps the cursor.
    // LiteVariantFromXML scans such text (optionally inside a "variant" element) and replaces the buffer
    // with the items it describes; -9, with the reader unchanged, for text that does not scan, an unknown
    // run type or a number out of its range.
    int LiteVariantToXML(CVkStringW& out);
    int Trace();
    int LiteVariantFromXML(CVkStringW& text);

protected:
    std::int32_t m_level;
    std::uint32_t m_levelCapacity;
    std::uint64_t* m_levelStack;

private:
    friend class CVkLiteVariantW;
    using Item = LiteVariant::ItemView;

    // The current item, checked against its level and the buffer; false when there is none.
    bool current(Item& item, bool inflate = true);
    bool currentConverted(Item& item);
    bool peek(Item& item) const;
    std::size_t itemLimit() const;
    void freeLevels();
    int copyStateFrom(const CVkLiteVariantR& other);
    int findIn(const std::u16string& name, std::size_t& offset);
    int writeCurrentValue(CVkLiteVariantW& w, const Item& item);
    int fillCurrent(CVkVariant& v);
    int xmlItems(CVkStringW& out);
    static int rebuildLevel(CVkLiteVariantW& w, CVkLiteVariantR& src, CVkLiteVariantR* with,
                            const wchar_t* path);
    int rebuildAt(const wchar_t* path, CVkLiteVariantR* with);
};

// A reader with a reference count (not atomic: shared readers stay on one thread).
class ZAN_EXPORT CVkRefLiteVariantR : public virtual CVkLiteVariantR {
public:
    CVkRefLiteVariantR();
    CVkRefLiteVariantR(const CVkRefLiteVariantR& other);
    explicit CVkRefLiteVariantR(const CVkLiteVariantR& other);
    CVkRefLiteVariantR& operator=(const CVkRefLiteVariantR&) = delete;

    virtual std::uint32_t AddRef();
    // Destroys the object when the count reaches 0 (or was 0 already); returns the new count.
    virtual std::uint32_t Release();
    virtual bool IsReferencedNonUniquely() const;
    ~CVkRefLiteVariantR() override;

private:
    std::uint32_t m_refCount;
};

// Shares one reference-counted reader among copies.
class ZAN_EXPORT CVkLiteVariantRHolder {
public:
    CVkLiteVariantRHolder();
    CVkLiteVariantRHolder(const CVkLiteVariantRHolder& other);
    CVkLiteVariantRHolder& operator=(const CVkLiteVariantRHolder& other);
    ~CVkLiteVariantRHolder();

    CVkRefLiteVariantR* Get() const { return m_reader; }
    bool IsNotNull() const { return m_reader != nullptr; }
    // Holds a new empty reader when null. Both return false when no reader could be made.
    bool MakeNotNull();
    // As MakeNotNull, and also replaces a reader that is shared with others by a new empty one.
    bool MakeNotNullAndUnique();

private:
    CVkRefLiteVariantR* m_reader;
};

} // namespace ZanLegacy
