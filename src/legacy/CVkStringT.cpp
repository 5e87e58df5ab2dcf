#include <legacy/CVkStringT.h>

#include <legacy/CVkAlloc.h>
#include <legacy/detail/VkFormat.h>

#include <io/StringConversions.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <stdexcept>
#include <strings.h>

namespace ZanLegacy {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr unsigned long kAlignment = 16;
constexpr unsigned long kMaxUnsigned = std::numeric_limits<unsigned long>::max();

template <class T>
bool negative(T v) {
    if constexpr (std::is_signed_v<T>)
        return v < 0;
    else
        return false;
}

// First position >= start where the whole needle lies in text; -1 for an empty needle or a start
// from which it cannot fit.
template <class Ch, class Position>
long findText(std::basic_string_view<Ch> text, std::basic_string_view<Ch> needle, Position start) {
    if (negative(start) || needle.empty() || static_cast<std::size_t>(start) >= text.size() ||
        needle.size() > text.size() || static_cast<std::size_t>(start) > text.size() - needle.size())
        return -1;
    const std::size_t at = text.find(needle, static_cast<std::size_t>(start));
    return at == std::basic_string_view<Ch>::npos ? -1 : static_cast<long>(at);
}

template <class Ch>
std::size_t textLength(const Ch* text) {
    return text ? std::char_traits<Ch>::length(text) : 0;
}

wchar_t foldLower(wchar_t c) {
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}
wchar_t foldUpper(wchar_t c) {
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}
char foldLower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
char foldUpper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

template <class Ch>
std::basic_string<Ch> folded(std::basic_string_view<Ch> text) {
    std::basic_string<Ch> out(text);
    for (Ch& c : out)
        c = foldLower(c);
    return out;
}

int rawCompare(const wchar_t* a, const wchar_t* b) {
    return std::wcscmp(a, b);
}
int rawCompare(const char* a, const char* b) {
    return std::strcmp(a, b);
}

// Text of the other width converted to this one; null is refused.
std::wstring toWidth(const char* text, const wchar_t*) {
    if (!text)
        throw std::logic_error("CVkStringW: null UTF-8 text cannot be converted");
    return Zan::StringConversions::utf8_to_wstring(text);
}
std::string toWidth(const wchar_t* text, const char*) {
    if (!text)
        throw std::logic_error("CVkStringA: null wide text cannot be converted");
    return Zan::StringConversions::wstring_to_utf8(text);
}

template <class Ch, class OtherCh>
std::basic_string<Ch> convert(const OtherCh* text) {
    return toWidth(text, static_cast<const Ch*>(nullptr));
}

// Copy-out of text into buf, at most size - 1 units and a terminator; UTF-8 is never cut inside a
// sequence.
template <class Ch, class Size>
Size copyOut(Ch* buf, Size size, const std::basic_string_view<Ch> text) {
    if (!buf || size <= 0)
        return 0;
    std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
    if constexpr (sizeof(Ch) == 1)
        n = detail::Utf8Prefix(text.data(), text.size(), n);
    std::char_traits<Ch>::copy(buf, text.data(), n);
    buf[n] = Ch(0);
    return static_cast<Size>(n);
}

} // namespace

// ---- buffer ----

template <class Ch>
SVkStrBuffT<Ch>::SVkStrBuffT() : length(0), capacity(0), refCount(1), data(nullptr) {}

template <class Ch>
SVkStrBuffT<Ch>::SVkStrBuffT(unsigned long reserve) : SVkStrBuffT() {
    Reserve(reserve);
}

template <class Ch>
SVkStrBuffT<Ch>::~SVkStrBuffT() {
    Free();
}

template <class Ch>
Ch* SVkStrBuffT<Ch>::Reserve(unsigned long n) {
    if (capacity != 0 && capacity >= n)
        return data;
    // Block sizes double from 16 characters on; a size that cannot be represented fails.
    constexpr unsigned long kLargest = kMaxUnsigned / 2 / sizeof(Ch);
    unsigned long s;
    if (capacity != 0) {
        s = capacity + 1;
        do {
            if (s > kLargest)
                return nullptr;
            s *= 2;
        } while (s <= n);
    } else {
        s = 16;
        while (s <= n) {
            if (s > kLargest)
                return nullptr;
            s *= 2;
        }
    }
    Ch* block = static_cast<Ch*>(CVkAlloc::Alloc(CVkAlloc::kZeroFill, s * sizeof(Ch), kAlignment));
    if (!block)
        return nullptr;
    if (data)
        std::char_traits<Ch>::copy(block, data, length);
    block[length] = Ch(0);
    CVkAlloc::Free(data);
    data = block;
    capacity = s - 1;
    return data;
}

template <class Ch>
void SVkStrBuffT<Ch>::Free() {
    CVkAlloc::Free(data);
    data = nullptr;
    length = 0;
    capacity = 0;
}

template <class Ch>
SVkStrBuffT<Ch>* SVkStrBuffT<Ch>::CloneContent() const {
    auto* clone = new (std::nothrow) SVkStrBuffT();
    if (!clone)
        return nullptr;
    if (!clone->Reserve(capacity)) {
        delete clone;
        return nullptr;
    }
    std::char_traits<Ch>::copy(clone->data, data, length + 1);
    clone->length = length;
    clone->capacity = capacity;
    return clone;
}

template <class Ch>
std::recursive_mutex& SVkStrBuffT<Ch>::recursiveMutex() {
    static std::recursive_mutex* const mutex = new std::recursive_mutex;
    return *mutex;
}

// ---- construction, sharing, copy on write ----

template <class Ch>
typename CVkStringT<Ch>::Buffer* CVkStringT<Ch>::_sharedEmptyBuffer() {
    // The initial count belongs to no string, so no string ever sees it unshared and writes it. Never
    // destroyed, so strings that static destructors release still find it.
    static Buffer* const _buffer = new Buffer(14);
    return _buffer;
}

template <class Ch>
void CVkStringT<Ch>::attach(Buffer* buffer) {
    m_pBuffer = buffer;
    m_pData = buffer->data;
}

template <class Ch>
void CVkStringT<Ch>::shareEmpty() {
    Buffer* empty = _sharedEmptyBuffer();
    Lock buffers(Buffer::recursiveMutex());
    ++empty->refCount;
    attach(empty);
}

template <class Ch>
void CVkStringT<Ch>::init(unsigned long n) {
    auto* buffer = new (std::nothrow) Buffer();
    if (buffer && buffer->Reserve(n)) {
        attach(buffer);
        return;
    }
    delete buffer;
    shareEmpty();
}

template <class Ch>
void CVkStringT<Ch>::copy(const CVkStringT& other) {
    Lock source(other.m_mutex);
    Lock buffers(Buffer::recursiveMutex());
    ++other.m_pBuffer->refCount;
    attach(other.m_pBuffer);
}

template <class Ch>
void CVkStringT<Ch>::free_buff() {
    if (m_pBuffer) {
        Lock buffers(Buffer::recursiveMutex());
        if (--m_pBuffer->refCount < 1 && m_pBuffer != _sharedEmptyBuffer())
            delete m_pBuffer;
    }
    m_pBuffer = nullptr;
    m_pData = nullptr;
}

template <class Ch>
bool CVkStringT<Ch>::cow() {
    Lock self(m_mutex);
    Lock buffers(Buffer::recursiveMutex());
    if (m_pBuffer->refCount < 2)
        return true;
    Buffer* clone = m_pBuffer->CloneContent();
    if (!clone)
        return false;
    --m_pBuffer->refCount;
    attach(clone);
    return true;
}

template <class Ch>
CVkStringT<Ch>::CVkStringT() {
    shareEmpty();
}

template <class Ch>
CVkStringT<Ch>::CVkStringT(unsigned long capacity) {
    if (capacity == 0)
        shareEmpty();
    else
        init(capacity);
}

template <class Ch>
CVkStringT<Ch>::CVkStringT(const Ch* text, unsigned long capacity) : CVkStringT(capacity) {
    append(text, textLength(text));
}

template <class Ch>
CVkStringT<Ch>::CVkStringT(const OtherCh* text, unsigned long capacity)
    : m_pBuffer(nullptr), m_pData(nullptr) {
    // Converted before any buffer is taken, so a refused text leaves nothing behind.
    const std::basic_string<Ch> converted = convert<Ch>(text);
    if (capacity == 0)
        shareEmpty();
    else
        init(capacity);
    append(converted.c_str(), converted.size());
}

template <class Ch>
CVkStringT<Ch>::CVkStringT(const CVkStringT& other) {
    copy(other);
}

template <class Ch>
CVkStringT<Ch>::~CVkStringT() {
    Lock self(m_mutex);
    free_buff();
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator=(const CVkStringT& other) {
    if (&other == this)
        return *this;
    // Take a reference to the source's buffer under the source's lock alone, then switch this string
    // under its own lock: two threads assigning a = b and b = a never hold both locks.
    Buffer* buffer;
    {
        Lock source(other.m_mutex);
        Lock buffers(Buffer::recursiveMutex());
        buffer = other.m_pBuffer;
        ++buffer->refCount;
    }
    Lock self(m_mutex);
    if (buffer == m_pBuffer) {
        Lock buffers(Buffer::recursiveMutex());
        --buffer->refCount;
        return *this;
    }
    free_buff();
    Lock buffers(Buffer::recursiveMutex());
    attach(buffer);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator=(const Ch* text) {
    Lock self(m_mutex);
    if (text == m_pData)
        return *this;
    const std::basic_string<Ch> copy(TextView(text)); // text may lie inside this string
    Empty();
    append(copy.data(), copy.size());
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator=(const OtherCh* text) {
    const std::basic_string<Ch> converted = convert<Ch>(text);
    Lock self(m_mutex);
    Empty();
    append(converted.data(), converted.size());
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator=(Ch c) {
    Lock self(m_mutex);
    Empty();
    append(&c, 1);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator=(OtherCh c) {
    const OtherCh text[2] = {c, OtherCh(0)};
    const std::basic_string<Ch> converted = c ? convert<Ch>(text) : std::basic_string<Ch>(1, Ch(0));
    Lock self(m_mutex);
    Empty();
    append(converted.data(), converted.size());
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator=(const std::wstring& text) requires std::is_same_v<Ch, wchar_t> {
    return *this = CVkStringT(text.c_str());
}

template <class Ch>
void CVkStringT<Ch>::Empty() {
    Lock self(m_mutex);
    if (!cow())
        return;
    m_pBuffer->length = 0;
    m_pData[0] = Ch(0);
}

template <class Ch>
void CVkStringT<Ch>::Reset() {
    Lock self(m_mutex);
    free_buff();
    init(15);
}

template <class Ch>
bool CVkStringT<Ch>::append(const Ch* text, unsigned long n) {
    if (!text || n == 0)
        return true;
    Lock self(m_mutex);
    // Growing may release the old block, so text inside it is copied out first.
    std::basic_string<Ch> inside;
    const auto address = reinterpret_cast<std::uintptr_t>(text);
    const auto block = reinterpret_cast<std::uintptr_t>(m_pData);
    if (address >= block && address <= block + m_pBuffer->capacity * sizeof(Ch)) {
        inside.assign(text, n);
        text = inside.data();
    }
    if (!cow())
        return false;
    const unsigned long length = m_pBuffer->length;
    if (n > kMaxUnsigned - length)
        return false;
    Ch* data = m_pBuffer->Reserve(length + n);
    if (!data)
        return false;
    m_pData = data;
    std::char_traits<Ch>::copy(data + length, text, n);
    m_pBuffer->length = length + n;
    data[length + n] = Ch(0);
    return true;
}

template <class Ch>
std::basic_string_view<Ch> CVkStringT<Ch>::TextView(const Ch* text) {
    return text ? std::basic_string_view<Ch>(text) : std::basic_string_view<Ch>();
}

template <class Ch>
CVkStringT<Ch> CVkStringT<Ch>::Join(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
    CVkStringT result(a.size() + b.size());
    result.append(a.data(), a.size());
    result.append(b.data(), b.size());
    return result;
}

// ---- access ----

template <class Ch>
unsigned long CVkStringT<Ch>::GetLength() const {
    Lock self(m_mutex);
    return m_pBuffer->length;
}

template <class Ch>
bool CVkStringT<Ch>::IsEmpty() const {
    return GetLength() == 0;
}

template <class Ch>
Ch CVkStringT<Ch>::GetAt(unsigned long i) const {
    Lock self(m_mutex);
    return i < m_pBuffer->length ? m_pData[i] : Ch(0);
}

template <class Ch>
Ch CVkStringT<Ch>::operator[](unsigned long i) const {
    return GetAt(i);
}

template <class Ch>
Ch CVkStringT<Ch>::GetLastChar() const {
    Lock self(m_mutex);
    return m_pBuffer->length ? m_pData[m_pBuffer->length - 1] : Ch(0);
}

template <class Ch>
unsigned long CVkStringT<Ch>::GetBufferLength() const {
    Lock self(m_mutex);
    return m_pBuffer->capacity;
}

template <class Ch>
void CVkStringT<Ch>::Preallocate(CountArg n) {
    Lock self(m_mutex);
    if (negative(n) || !cow())
        return;
    if (Ch* data = m_pBuffer->Reserve(static_cast<unsigned long>(n)))
        m_pData = data;
}

// ---- substrings ----

template <class Ch>
CVkStringT<Ch> CVkStringT<Ch>::Mid(unsigned long start, int count) const {
    Lock self(m_mutex);
    const unsigned long length = m_pBuffer->length;
    CVkStringT result;
    if (length == 0 || start >= length || count == 0)
        return result;
    unsigned long n = length - start;
    if (count > 0 && static_cast<unsigned long>(count) < n)
        n = static_cast<unsigned long>(count);
    result.append(m_pData + start, n);
    return result;
}

template <class Ch>
CVkStringT<Ch> CVkStringT<Ch>::Left(unsigned long n) const {
    Lock self(m_mutex);
    if (n >= m_pBuffer->length)
        return *this;
    return Mid(0, static_cast<int>(n));
}

template <class Ch>
CVkStringT<Ch> CVkStringT<Ch>::Right(unsigned long n) const {
    Lock self(m_mutex);
    if (n >= m_pBuffer->length)
        return *this;
    return Mid(m_pBuffer->length - n, static_cast<int>(n));
}

// ---- editing ----

template <class Ch>
int CVkStringT<Ch>::SetAt(unsigned long i, Ch c) {
    Lock self(m_mutex);
    if (i >= m_pBuffer->length)
        return -6;
    if (!cow())
        return -3;
    m_pData[i] = c;
    m_pBuffer->length = std::char_traits<Ch>::length(m_pData);
    return 0;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::foldCase(bool upper) {
    Lock self(m_mutex);
    if (cow())
        for (Ch* p = m_pData; *p; ++p)
            *p = upper ? foldUpper(*p) : foldLower(*p);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::MakeLower() {
    return foldCase(false);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::MakeUpper() {
    return foldCase(true);
}

template <class Ch>
void CVkStringT<Ch>::TruncateAt(unsigned long n) {
    Lock self(m_mutex);
    if (n >= m_pBuffer->length || !cow())
        return;
    m_pData[n] = Ch(0);
    m_pBuffer->length = n;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::Delete(unsigned long start, int count) {
    Lock self(m_mutex);
    const unsigned long length = m_pBuffer->length;
    if (start >= length) {
        Empty();
    } else if (count < 0 || start + static_cast<unsigned long>(count) >= length) {
        TruncateAt(start);
    } else if (count > 0 && cow()) {
        const unsigned long rest = length - start - static_cast<unsigned long>(count);
        std::char_traits<Ch>::move(m_pData + start, m_pData + start + count, rest + 1);
        m_pBuffer->length = length - static_cast<unsigned long>(count);
    }
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::DeleteLeft(CountArg n) {
    if constexpr (std::is_signed_v<CountArg>)
        return Delete(0, n);
    else
        return Delete(0, n > static_cast<CountArg>(INT_MAX) ? -1 : static_cast<int>(n));
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::DeleteRight(unsigned long n) {
    Lock self(m_mutex);
    if (n <= m_pBuffer->length)
        TruncateAt(m_pBuffer->length - n);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::TrimLeft(const Ch* set) {
    static const Ch space[2] = {Ch(' '), Ch(0)};
    const std::basic_string<Ch> chars(TextView(set ? set : space));
    Lock self(m_mutex);
    const std::size_t first = view().find_first_not_of(chars);
    Delete(0, first == std::basic_string_view<Ch>::npos ? -1 : static_cast<int>(first));
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::TrimRight(const Ch* set) {
    static const Ch space[2] = {Ch(' '), Ch(0)};
    const std::basic_string<Ch> chars(TextView(set ? set : space));
    Lock self(m_mutex);
    const std::size_t last = view().find_last_not_of(chars);
    TruncateAt(last == std::basic_string_view<Ch>::npos ? 0 : last + 1);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::Trim(const Ch* set) {
    const std::basic_string<Ch> chars(TextView(set)); // the set may lie inside this string
    Lock self(m_mutex);
    TrimRight(set ? chars.c_str() : nullptr);
    return TrimLeft(set ? chars.c_str() : nullptr);
}

template <class Ch>
std::uint32_t CVkStringT<Ch>::Remove(Ch c) {
    Lock self(m_mutex);
    const unsigned long length = m_pBuffer->length;
    const auto found = static_cast<std::uint32_t>(std::count(m_pData, m_pData + length, c));
    if (found == 0 || !cow())
        return 0;
    Ch* end = std::remove(m_pData, m_pData + length, c);
    *end = Ch(0);
    m_pBuffer->length = static_cast<unsigned long>(end - m_pData);
    return found;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::Insert(const Ch* text, unsigned long pos, int count) {
    Lock self(m_mutex);
    const unsigned long length = m_pBuffer->length;
    if (pos > length)
        return *this;
    std::basic_string_view<Ch> source = TextView(text);
    if (count >= 0 && static_cast<std::size_t>(count) < source.size())
        source = source.substr(0, static_cast<std::size_t>(count));
    if (pos == length) {
        append(source.data(), source.size());
        return *this;
    }
    if (source.empty())
        return *this;
    const std::basic_string<Ch> inserted(source); // text may lie inside this string
    if (!cow())
        return *this;
    const unsigned long n = inserted.size();
    Ch* data = n <= kMaxUnsigned - length ? m_pBuffer->Reserve(length + n) : nullptr;
    if (!data)
        return *this;
    m_pData = data;
    std::char_traits<Ch>::move(data + pos + n, data + pos, length - pos + 1);
    std::char_traits<Ch>::copy(data + pos, inserted.data(), n);
    m_pBuffer->length = length + n;
    return *this;
}

template <class Ch>
void CVkStringT<Ch>::ReplaceAt(PositionArg pos, PositionArg count, const Ch* text) {
    const std::basic_string<Ch> replacement(TextView(text)); // text may lie inside this string
    Lock self(m_mutex);
    if (negative(pos) || count <= 0)
        return;
    const auto start = static_cast<unsigned long>(pos);
    const auto n = static_cast<unsigned long>(count);
    if (n > m_pBuffer->length || start > m_pBuffer->length - n)
        return;
    if (replacement.size() == n) {
        if (cow())
            std::char_traits<Ch>::copy(m_pData + start, replacement.data(), n);
        return;
    }
    Delete(start, static_cast<int>(std::min<unsigned long>(n, INT_MAX)));
    Insert(replacement.c_str(), start, -1);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::EndInSlash() {
    Lock self(m_mutex);
    if (m_pBuffer->length == 0 || m_pData[m_pBuffer->length - 1] != Ch('\\')) {
        const Ch slash = Ch('\\');
        append(&slash, 1);
    }
    return *this;
}

// ---- appending ----

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddChars(const Ch* text, int n) {
    const std::basic_string_view<Ch> source = TextView(text);
    if (n < 0)
        append(source.data(), source.size());
    else
        append(source.data(), std::min<std::size_t>(source.size(), static_cast<std::size_t>(n)));
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator+=(const CVkStringT& other) {
    return AddString(other);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator+=(const Ch* text) {
    return AddString(text);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator+=(const OtherCh* text) {
    return AddString(text);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator+=(Ch c) {
    return AddChar(c);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::operator+=(OtherCh c) {
    return AddChar(c);
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddString(const CVkStringT& other) {
    const CVkStringT source(other);
    append(source.m_pData, source.m_pBuffer->length);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddString(const Ch* text) {
    append(text, textLength(text));
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddString(const OtherCh* text) {
    const std::basic_string<Ch> converted = convert<Ch>(text);
    append(converted.data(), converted.size());
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddChar(Ch c) {
    append(&c, 1);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddChar(OtherCh c) {
    const OtherCh text[2] = {c, OtherCh(0)};
    if (!c)
        return AddChar(Ch(0));
    const std::basic_string<Ch> converted = convert<Ch>(text);
    append(converted.data(), converted.size());
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddInt(int n) {
    static const Ch format[3] = {Ch('%'), Ch('d'), Ch(0)};
    AppendFormat(format, n);
    return *this;
}

template <class Ch>
CVkStringT<Ch>& CVkStringT<Ch>::AddDouble(double x, int digits) {
    static const Ch builder[7] = {Ch('%'), Ch('%'), Ch('.'), Ch('%'), Ch('d'), Ch('f'), Ch(0)};
    CVkStringT format;
    format.Format(builder, digits);
    AppendFormat(format.GetString(), x);
    return *this;
}

// ---- search ----

template <class Ch>
int CVkStringT<Ch>::findChar(Ch c, unsigned long start, bool noCase) const {
    Lock self(m_mutex);
    if (start >= m_pBuffer->length)
        return -1;
    const std::size_t at = noCase ? folded(view()).find(foldLower(c), start) : view().find(c, start);
    return at == std::basic_string_view<Ch>::npos ? -1 : static_cast<int>(at);
}

template <class Ch>
int CVkStringT<Ch>::reverseFindChar(Ch c, int start, bool noCase) const {
    Lock self(m_mutex);
    const unsigned long length = m_pBuffer->length;
    if (length == 0 || (start >= 0 && static_cast<unsigned long>(start) >= length))
        return -1;
    const std::size_t from = start < 0 ? length - 1 : static_cast<std::size_t>(start);
    const std::size_t at = noCase ? folded(view()).rfind(foldLower(c), from) : view().rfind(c, from);
    return at == std::basic_string_view<Ch>::npos ? -1 : static_cast<int>(at);
}

template <class Ch>
int CVkStringT<Ch>::Find(Ch c, unsigned long start) const {
    return findChar(c, start, false);
}

template <class Ch>
int CVkStringT<Ch>::FindNoCase(Ch c, unsigned long start) const {
    return findChar(c, start, true);
}

template <class Ch>
int CVkStringT<Ch>::ReverseFind(Ch c, int start) const {
    return reverseFindChar(c, start, false);
}

template <class Ch>
int CVkStringT<Ch>::ReverseFindNoCase(Ch c, int start) const {
    return reverseFindChar(c, start, true);
}

template <class Ch>
int CVkStringT<Ch>::FindOneOf(const Ch* set, unsigned long start) const {
    const std::basic_string<Ch> chars(TextView(set));
    Lock self(m_mutex);
    if (start >= m_pBuffer->length || chars.empty())
        return -1;
    const std::size_t at = view().find_first_of(chars, start);
    return at == std::basic_string_view<Ch>::npos ? -1 : static_cast<int>(at);
}

template <class Ch>
typename CVkStringT<Ch>::FindResult CVkStringT<Ch>::Find(const Ch* text, PositionArg start) const {
    const std::basic_string<Ch> needle(TextView(text));
    Lock self(m_mutex);
    return static_cast<FindResult>(findText(view(), std::basic_string_view<Ch>(needle), start));
}

template <class Ch>
typename CVkStringT<Ch>::FindResult CVkStringT<Ch>::FindNoCase(const Ch* text, PositionArg start) const {
    const std::basic_string<Ch> needle = folded(TextView(text));
    Lock self(m_mutex);
    const std::basic_string<Ch> haystack = folded(view());
    return static_cast<FindResult>(
        findText(std::basic_string_view<Ch>(haystack), std::basic_string_view<Ch>(needle), start));
}

template <class Ch>
int CVkStringT<Ch>::Count(wchar_t c) const requires std::is_same_v<Ch, wchar_t> {
    Lock self(m_mutex);
    return static_cast<int>(std::count(m_pData, m_pData + m_pBuffer->length, c));
}

// ---- comparison ----

template <class Ch>
int CVkStringT<Ch>::Compare(const Ch* text) const {
    static const Ch empty[1] = {Ch(0)};
    Lock self(m_mutex);
    const int r = rawCompare(m_pData, text ? text : empty);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

template <class Ch>
int CVkStringT<Ch>::CompareNoCase(const Ch* text) const {
    static const Ch empty[1] = {Ch(0)};
    Lock self(m_mutex);
    if constexpr (sizeof(Ch) == 1)
        return strcasecmp(m_pData, text ? text : empty);
    else
        return zan_wcsicmp(m_pData, text ? text : empty);
}

template <class Ch>
int CVkStringT<Ch>::compareAny(const CVkStringT& other) const {
    const CVkStringT source(other);
    return Compare(source.m_pData);
}

template <class Ch>
bool CVkStringT<Ch>::Equals(const CVkStringT& other) const {
    return compareAny(other) == 0;
}
template <class Ch>
bool CVkStringT<Ch>::Equals(const Ch* text) const {
    return Compare(text) == 0;
}
template <class Ch>
bool CVkStringT<Ch>::Equals(const OtherCh* text) const {
    return Compare(convert<Ch>(text).c_str()) == 0;
}
template <class Ch>
bool CVkStringT<Ch>::Less(const CVkStringT& other) const {
    return compareAny(other) < 0;
}
template <class Ch>
bool CVkStringT<Ch>::Less(const Ch* text) const {
    return Compare(text) < 0;
}
template <class Ch>
bool CVkStringT<Ch>::Less(const OtherCh* text) const {
    return Compare(convert<Ch>(text).c_str()) < 0;
}
template <class Ch>
bool CVkStringT<Ch>::LessEqual(const CVkStringT& other) const {
    return compareAny(other) <= 0;
}
template <class Ch>
bool CVkStringT<Ch>::LessEqual(const Ch* text) const {
    return Compare(text) <= 0;
}
template <class Ch>
bool CVkStringT<Ch>::LessEqual(const OtherCh* text) const {
    return Compare(convert<Ch>(text).c_str()) <= 0;
}

// ---- replacement ----

template <class Ch>
int CVkStringT<Ch>::replaceImpl(const Ch* oldText, const Ch* newText, bool noCase) {
    const std::basic_string<Ch> to(TextView(newText));
    const std::basic_string<Ch> from =
        noCase ? folded(TextView(oldText)) : std::basic_string<Ch>(TextView(oldText));
    Lock self(m_mutex);
    const std::basic_string<Ch> haystack = noCase ? folded(view()) : std::basic_string<Ch>(view());
    const std::basic_string_view<Ch> text(haystack), needle(from);
    long at = findText(text, needle, 0UL);
    if (at < 0)
        return 0;
    CVkStringT built(m_pBuffer->length);
    unsigned long done = 0;
    int count = 0;
    while (at >= 0) {
        built.append(m_pData + done, static_cast<unsigned long>(at) - done);
        built.append(to.data(), to.size());
        done = static_cast<unsigned long>(at) + from.size();
        ++count;
        at = findText(text, needle, done);
    }
    built.append(m_pData + done, m_pBuffer->length - done);
    *this = built;
    return count;
}

template <class Ch>
int CVkStringT<Ch>::Replace(const Ch* oldText, const Ch* newText) {
    return replaceImpl(oldText, newText, false);
}

template <class Ch>
int CVkStringT<Ch>::ReplaceNoCase(const Ch* oldText, const Ch* newText) {
    return replaceImpl(oldText, newText, true);
}

// ---- formatting and copy-out ----

template <class Ch>
int CVkStringT<Ch>::format_internal(bool emptyFirst, const Ch* format, va_list args) {
    // Formatted before the string changes, so arguments that point into it still read its old text.
    std::basic_string<Ch> text;
    const bool ok = detail::VkFormat(text, format, args);
    Lock self(m_mutex);
    if (emptyFirst)
        Empty();
    if (!ok)
        return -9;
    // The text ends at its first terminator, as a formatted C string does.
    append(text.c_str(), textLength(text.c_str()));
    return 0;
}

template <class Ch>
int CVkStringT<Ch>::Format(const Ch* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = format_internal(true, format, args);
    va_end(args);
    return r;
}

template <class Ch>
int CVkStringT<Ch>::FormatV(const Ch* format, va_list args) {
    return format_internal(true, format, args);
}

template <class Ch>
int CVkStringT<Ch>::AppendFormat(const Ch* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = format_internal(false, format, args);
    va_end(args);
    return r;
}

template <class Ch>
typename CVkStringT<Ch>::CountArg CVkStringT<Ch>::CopyToBufferW(wchar_t* buf, CountArg size) const {
    Lock self(m_mutex);
    if constexpr (sizeof(Ch) == 1)
        return copyOut(buf, size, std::wstring_view(convert<wchar_t>(m_pData)));
    else
        return copyOut(buf, size, view());
}

template <class Ch>
typename CVkStringT<Ch>::CountArg CVkStringT<Ch>::CopyToBufferA(char* buf, CountArg size) const {
    Lock self(m_mutex);
    if constexpr (sizeof(Ch) == 1)
        return copyOut(buf, size, view());
    else
        return copyOut(buf, size, std::string_view(convert<char>(m_pData)));
}

template <class Ch>
std::string CVkStringT<Ch>::GetUtf8() const requires std::is_same_v<Ch, wchar_t> {
    Lock self(m_mutex);
    // Some compilers instantiate constrained members for both widths; the body must compile for both.
    if constexpr (sizeof(Ch) == 1)
        return std::string(view());
    else
        return Zan::StringConversions::wstring_to_utf8(std::wstring(view()));
}

template <class Ch>
CVkStringT<Ch> CVkStringT<Ch>::Utf8FromUtf16(const wchar_t* text) requires std::is_same_v<Ch, char> {
    return CVkStringT(text);
}

int zan_wcsicmp(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        const wchar_t x = foldLower(*a);
        const wchar_t y = foldLower(*b);
        if (x != y)
            return static_cast<int>(x) - static_cast<int>(y);
        if (x == 0)
            return 0;
    }
}

template struct SVkStrBuffT<wchar_t>;
template struct SVkStrBuffT<char>;
template class CVkStringT<wchar_t>;
template class CVkStringT<char>;

} // namespace ZanLegacy
