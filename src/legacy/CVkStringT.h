#pragma once

#include <io/ZanExport.h>

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

namespace ZanLegacy {

// The legacy strings are one design in two widths: CVkStringW holds UTF-32 text (one wchar_t per
// character), CVkStringA holds UTF-8 bytes. Both are defined here once; CVkStringW.h and CVkStringA.h
// name them.
template <class Ch>
struct CVkStringTraits;

template <>
struct CVkStringTraits<wchar_t> {
    using Other = char;
    using Position = int;   // start of a substring search, positions of ReplaceAt
    using Count = int;      // Preallocate, DeleteLeft, copy-out buffer sizes
    using FindResult = int; // result of a substring search
};

template <>
struct CVkStringTraits<char> {
    using Other = wchar_t;
    using Position = unsigned long;
    using Count = unsigned long;
    using FindResult = long;
};

// Reference-counted character block shared by strings until one of them changes it. The count and
// the sharing decisions are guarded by recursiveMutex() of the width.
template <class Ch>
struct ZAN_EXPORT SVkStrBuffT {
    unsigned long length;   // characters in use, terminator excluded
    unsigned long capacity; // characters that fit before the terminator
    std::int32_t refCount;  // number of holders
    Ch* data;               // capacity + 1 characters from CVkAlloc, or null

    SVkStrBuffT();
    explicit SVkStrBuffT(unsigned long reserve);
    ~SVkStrBuffT();
    SVkStrBuffT(const SVkStrBuffT&) = delete;
    SVkStrBuffT& operator=(const SVkStrBuffT&) = delete;

    // Grows the block (never shrinks) so that n characters fit; returns the data pointer, or null with
    // the buffer left as it was when the block cannot be allocated.
    Ch* Reserve(unsigned long n);
    void Free();
    // A new buffer (count 1) holding a copy of this one's text in a block of the same capacity; null
    // when the block cannot be allocated.
    SVkStrBuffT* CloneContent() const;

    // Never destroyed, so that strings destroyed by other static destructors can still use it.
    static std::recursive_mutex& recursiveMutex();
};

using SVkStrBuffW = SVkStrBuffT<wchar_t>;
using SVkStrBuffA = SVkStrBuffT<char>;

// Copy-on-write string. Copies share one buffer until one of them is changed; each string object
// has its own recursive mutex that every operation holds (GetString and the pointer conversion do
// not lock, so the pointer they return is valid only while no other thread changes the string).
// Operations that take another string take a sharing copy of it first, so two objects' mutexes are
// never held together and strings may be assigned to each other from different threads.
// Positions and counts follow the legacy types of each width (see CVkStringTraits).
template <class Ch>
class ZAN_EXPORT CVkStringT {
public:
    using Traits = CVkStringTraits<Ch>;
    using OtherCh = typename Traits::Other;
    using PositionArg = typename Traits::Position;
    using CountArg = typename Traits::Count;
    using FindResult = typename Traits::FindResult;
    using Buffer = SVkStrBuffT<Ch>;

    // Construction, ownership and assignment. Text of the other width is converted (UTF-8 <-> UTF-32);
    // text that cannot be converted throws std::range_error, a null pointer std::logic_error. A null
    // pointer of the string's own width counts as empty text.
    CVkStringT();
    explicit CVkStringT(unsigned long capacity);
    CVkStringT(const Ch* text, unsigned long capacity = 0);
    CVkStringT(const OtherCh* text, unsigned long capacity = 0);
    CVkStringT(const CVkStringT& other);
    ~CVkStringT();

    CVkStringT& operator=(const CVkStringT& other);
    CVkStringT& operator=(const Ch* text);
    CVkStringT& operator=(const OtherCh* text);
    CVkStringT& operator=(Ch c);
    CVkStringT& operator=(OtherCh c);
    CVkStringT& operator=(const std::wstring& text) requires std::is_same_v<Ch, wchar_t>;

    // Empty text in a buffer of its own, capacity kept.
    void Empty();
    // Empty text in a new private buffer of capacity 15.
    void Reset();
    // Gives the string a buffer of its own; false (nothing changed) when no block could be allocated.
    bool cow();

    // Access and capacity.
    unsigned long GetLength() const;
    bool IsEmpty() const;
    Ch GetAt(unsigned long i) const;
    Ch operator[](unsigned long i) const;
    Ch GetLastChar() const;
    const Ch* GetString() const { return m_pData; }
    operator const Ch*() const { return m_pData; }
    unsigned long GetBufferLength() const;
    void Preallocate(CountArg n);

    // Substrings.
    CVkStringT Mid(unsigned long start, int count) const;
    CVkStringT Left(unsigned long n) const;
    CVkStringT Right(unsigned long n) const;

    // Editing. SetAt returns 0, or -6 when i is beyond the text.
    int SetAt(unsigned long i, Ch c);
    CVkStringT& MakeLower();
    CVkStringT& MakeUpper();
    void TruncateAt(unsigned long n);
    CVkStringT& Delete(unsigned long start, int count);
    CVkStringT& DeleteLeft(CountArg n);
    CVkStringT& DeleteRight(unsigned long n);
    // A null set means one space.
    CVkStringT& TrimLeft(const Ch* set = nullptr);
    CVkStringT& TrimRight(const Ch* set = nullptr);
    CVkStringT& Trim(const Ch* set = nullptr);
    std::uint32_t Remove(Ch c);
    CVkStringT& Insert(const Ch* text, unsigned long pos, int count = -1);
    void ReplaceAt(PositionArg pos, PositionArg count, const Ch* text);
    CVkStringT& EndInSlash();

    // Appending. Text may point into the string itself.
    CVkStringT& AddChars(const Ch* text, int n);
    CVkStringT& operator+=(const CVkStringT& other);
    CVkStringT& operator+=(const Ch* text);
    CVkStringT& operator+=(const OtherCh* text);
    CVkStringT& operator+=(Ch c);
    CVkStringT& operator+=(OtherCh c);
    CVkStringT& AddString(const CVkStringT& other);
    CVkStringT& AddString(const Ch* text);
    CVkStringT& AddString(const OtherCh* text);
    CVkStringT& AddChar(Ch c);
    CVkStringT& AddChar(OtherCh c);
    CVkStringT& AddInt(int n);
    CVkStringT& AddDouble(double x, int digits);

    // Search; -1 when nothing is found.
    int Find(Ch c, unsigned long start = 0) const;
    int FindNoCase(Ch c, unsigned long start = 0) const;
    int ReverseFind(Ch c, int start = -1) const;
    int ReverseFindNoCase(Ch c, int start = -1) const;
    int FindOneOf(const Ch* set, unsigned long start = 0) const;
    FindResult Find(const Ch* text, PositionArg start = 0) const;
    FindResult FindNoCase(const Ch* text, PositionArg start = 0) const;
    int Count(wchar_t c) const requires std::is_same_v<Ch, wchar_t>;

    // Comparison by code units. CompareNoCase returns the raw difference (wide: zan_wcsicmp, narrow:
    // strcasecmp).
    int Compare(const Ch* text) const;
    int CompareNoCase(const Ch* text) const;
    bool Equals(const CVkStringT& other) const;
    bool Equals(const Ch* text) const;
    bool Equals(const OtherCh* text) const;
    bool Less(const CVkStringT& other) const;
    bool Less(const Ch* text) const;
    bool Less(const OtherCh* text) const;
    bool LessEqual(const CVkStringT& other) const;
    bool LessEqual(const Ch* text) const;
    bool LessEqual(const OtherCh* text) const;

    // Replacement; returns the number of (non-overlapping, left to right) replacements.
    int Replace(const Ch* oldText, const Ch* newText);
    int ReplaceNoCase(const Ch* oldText, const Ch* newText);

    // printf-style formatting with locale-independent number text. In a wide format %s, %c and %C take
    // wide arguments and %S, %hs, %hc narrow (UTF-8) ones; in a narrow format %s and %c take narrow
    // arguments and %S, %ls, %C, %lc wide ones. Returns 0, or -9 with the text unchanged (after the
    // emptying of Format) when the format is invalid or an argument cannot be converted. %n is refused.
    int Format(const Ch* format, ...);
    int FormatV(const Ch* format, va_list args);
    int AppendFormat(const Ch* format, ...);

    // Copy-out: at most size - 1 characters and a terminator; nothing is written when size <= 0 or buf is
    // null. The UTF-8 copy never ends inside a multi-byte sequence. Return the characters copied.
    CountArg CopyToBufferW(wchar_t* buf, CountArg size) const;
    CountArg CopyToBufferA(char* buf, CountArg size) const;

    // Conversions between the widths.
    std::string GetUtf8() const requires std::is_same_v<Ch, wchar_t>;
    static CVkStringT Utf8FromUtf16(const wchar_t* text) requires std::is_same_v<Ch, char>;

    friend bool operator==(const CVkStringT& a, const CVkStringT& b) { return a.Equals(b); }
    friend bool operator==(const CVkStringT& a, const Ch* b) { return a.Equals(b); }
    friend bool operator==(const CVkStringT& a, const OtherCh* b) { return a.Equals(b); }
    friend bool operator<(const CVkStringT& a, const CVkStringT& b) { return a.Less(b); }
    friend bool operator<(const CVkStringT& a, const Ch* b) { return a.Less(b); }
    friend bool operator<(const Ch* a, const CVkStringT& b) { return !b.LessEqual(a); }
    friend bool operator<=(const CVkStringT& a, const CVkStringT& b) { return a.LessEqual(b); }
    friend bool operator<=(const CVkStringT& a, const Ch* b) { return a.LessEqual(b); }
    friend bool operator<=(const Ch* a, const CVkStringT& b) { return !b.Less(a); }
    friend bool operator>(const CVkStringT& a, const CVkStringT& b) { return !a.LessEqual(b); }
    friend bool operator>(const CVkStringT& a, const Ch* b) { return !a.LessEqual(b); }
    friend bool operator>(const Ch* a, const CVkStringT& b) { return b.Less(a); }
    friend bool operator>=(const CVkStringT& a, const CVkStringT& b) { return !a.Less(b); }
    friend bool operator>=(const CVkStringT& a, const Ch* b) { return !a.Less(b); }
    friend bool operator>=(const Ch* a, const CVkStringT& b) { return b.LessEqual(a); }

    friend CVkStringT operator+(const CVkStringT& a, const CVkStringT& b) {
        const CVkStringT x(a), y(b);
        return Join(x.view(), y.view());
    }
    friend CVkStringT operator+(const CVkStringT& a, const Ch* b) {
        const CVkStringT x(a);
        return Join(x.view(), TextView(b));
    }
    friend CVkStringT operator+(const Ch* a, const CVkStringT& b) {
        const CVkStringT y(b);
        return Join(TextView(a), y.view());
    }
    friend CVkStringT operator+(const CVkStringT& a, Ch c) {
        const CVkStringT x(a);
        return Join(x.view(), std::basic_string_view<Ch>(&c, 1));
    }
    friend CVkStringT operator+(Ch c, const CVkStringT& a) {
        const CVkStringT y(a);
        return Join(std::basic_string_view<Ch>(&c, 1), y.view());
    }

protected:
    // Shares other's buffer without releasing the current one.
    void copy(const CVkStringT& other);
    // Releases the buffer reference and clears both pointers.
    void free_buff();
    // Attaches a new private buffer reserved for n characters (the shared empty one if that fails).
    void init(unsigned long n);

private:
    static Buffer* _sharedEmptyBuffer();
    // The single path through which text is added; text may lie inside the string's own block.
    bool append(const Ch* text, unsigned long n);
    void attach(Buffer* buffer);
    void shareEmpty();
    int compareAny(const CVkStringT& other) const;
    CVkStringT& foldCase(bool upper);
    int findChar(Ch c, unsigned long start, bool noCase) const;
    int reverseFindChar(Ch c, int start, bool noCase) const;
    int replaceImpl(const Ch* oldText, const Ch* newText, bool noCase);
    int format_internal(bool emptyFirst, const Ch* format, va_list args);
    // A new string reserved for both parts, holding a then b.
    static CVkStringT Join(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b);
    // Null-safe view of a terminated text.
    static std::basic_string_view<Ch> TextView(const Ch* text);
    // The text, without locking: for strings no other thread can reach.
    std::basic_string_view<Ch> view() const { return {m_pData, m_pBuffer->length}; }

    Buffer* m_pBuffer;
    Ch* m_pData;
    mutable std::recursive_mutex m_mutex;
};

// Case-insensitive wide comparison folding with towlower; the difference of the first differing pair.
ZAN_EXPORT int zan_wcsicmp(const wchar_t* a, const wchar_t* b);

extern template struct SVkStrBuffT<wchar_t>;
extern template struct SVkStrBuffT<char>;
extern template class CVkStringT<wchar_t>;
extern template class CVkStringT<char>;

} // namespace ZanLegacy
