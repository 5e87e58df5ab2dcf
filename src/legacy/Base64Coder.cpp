#include <legacy/Base64Coder.h>

#include <array>
#include <climits>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>

namespace ZanLegacy {
namespace {

constexpr unsigned char kOutside = 254;
constexpr unsigned char kPad = 255;
constexpr unsigned long kStep = 4096;

constexpr std::array<unsigned char, 256> buildDecodeTable() {
    std::array<unsigned char, 256> table{};
    for (auto& entry : table)
        entry = kOutside;
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned char i = 0; i < 64; ++i) {
        const auto c = static_cast<unsigned char>(digits[i]);
        table[c] = i;
        table[c | 128] = i;
    }
    table['='] = kPad;
    table['=' | 128] = kPad;
    return table;
}

// Releases buffer and gives it at least n zeroed bytes, rounded as the coder always did; a size that
// cannot be allocated leaves no buffer.
void grow(unsigned char*& buffer, unsigned long& capacity, unsigned long n) {
    if (n > capacity) {
        delete[] buffer;
        buffer = nullptr;
        capacity = 0;
        if (n > std::numeric_limits<unsigned long>::max() - kStep)
            return;
        const unsigned long size = (n / kStep) * kStep + kStep;
        buffer = new (std::nothrow) unsigned char[size];
        if (buffer)
            capacity = size;
    }
    if (buffer)
        std::memset(buffer, 0, capacity);
}

} // namespace

const char Base64Coder::Base64Digits[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

const std::array<unsigned char, 256> Base64Coder::m_DecodeTable = buildDecodeTable();

Base64Coder::Base64Coder()
    : m_pDBuffer(nullptr), m_pEBuffer(nullptr), m_nDBufLen(0), m_nEBufLen(0), m_nDDataLen(0), m_nEDataLen(0) {
}

Base64Coder::~Base64Coder() {
    delete[] m_pDBuffer;
    delete[] m_pEBuffer;
}

void Base64Coder::AllocEncode(unsigned long n) {
    grow(m_pEBuffer, m_nEBufLen, n);
    m_nEDataLen = 0;
}

void Base64Coder::AllocDecode(unsigned long n) {
    grow(m_pDBuffer, m_nDBufLen, n);
    m_nDDataLen = 0;
}

void Base64Coder::SetDecodeBuffer(const unsigned char* data, unsigned long n) {
    AllocDecode(n);
    if (n == 0 || !data || n > m_nDBufLen)
        return;
    std::memcpy(m_pDBuffer, data, n);
    m_nDDataLen = n;
}

void Base64Coder::SetEncodeBufferA(const unsigned char* text, unsigned long n) {
    AllocEncode(n);
    if (!text || n > m_nEBufLen)
        return;
    for (unsigned long i = 0; i < n; ++i)
        if (!_IsBadMimeChar(text[i]))
            m_pEBuffer[m_nEDataLen++] = text[i];
}

void Base64Coder::SetEncodeBufferW(const wchar_t* text, unsigned int n) {
    AllocEncode(n);
    if (!text || n > m_nEBufLen)
        return;
    for (unsigned int i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i] & 0xFF);
        if (!_IsBadMimeChar(c))
            m_pEBuffer[m_nEDataLen++] = c;
    }
}

bool Base64Coder::_IsBadMimeChar(unsigned char c) {
    return (c >= 7 && c <= 13) || c == 32;
}

void Base64Coder::_EncodeRaw(TempBucket& out, const TempBucket& in) {
    const unsigned char b0 = in.nData[0], b1 = in.nData[1], b2 = in.nData[2];
    out.nData[0] = static_cast<unsigned char>(b0 >> 2);
    out.nData[1] = static_cast<unsigned char>(((b0 << 4) | (b1 >> 4)) & 63);
    out.nData[2] = static_cast<unsigned char>(((b1 << 2) | (b2 >> 6)) & 63);
    out.nData[3] = static_cast<unsigned char>(b2 & 63);
    out.nSize = 4;
}

void Base64Coder::_EncodeToBuffer(const TempBucket& group, unsigned char* out) {
    TempBucket values;
    _EncodeRaw(values, group);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(Base64Digits[values.nData[i]]);
    if (group.nSize < 2)
        out[2] = '=';
    if (group.nSize < 3)
        out[3] = '=';
}

void Base64Coder::_DecodeRaw(TempBucket& out, const TempBucket& in) {
    const unsigned d0 = in.nData[0], d1 = in.nData[1], d2 = in.nData[2], d3 = in.nData[3];
    out.nData[0] = static_cast<unsigned char>((d0 << 2) | ((d1 >> 4) & 3));
    out.nData[1] = static_cast<unsigned char>((d1 << 4) | ((d2 >> 2) & 15));
    out.nData[2] = static_cast<unsigned char>((d2 << 6) | (d3 & 63));
    out.nData[3] = 0;
    out.nSize = 3;
}

unsigned long Base64Coder::_DecodeToBuffer(const TempBucket& group, unsigned char* out) {
    TempBucket bytes;
    _DecodeRaw(bytes, group);
    for (int i = 0; i < 3; ++i)
        out[i] = bytes.nData[i];
    return 3;
}

void Base64Coder::Encode(const unsigned char* data, unsigned long n) {
    SetDecodeBuffer(data, n);
    // The encoded length is 32-bit; a block whose text would not fit is not encoded.
    const unsigned long groups = n / 3 + (n % 3 ? 1 : 0);
    if (n == 0 || groups > UINT_MAX / 4 || m_nDDataLen != n) {
        AllocEncode(0);
        return;
    }
    AllocEncode(2 * n);
    if (m_nEBufLen < groups * 4 + 1)
        return;
    for (unsigned long i = 0; i < n; i += 3) {
        TempBucket group{{0, 0, 0, 0}, static_cast<unsigned char>(n - i < 3 ? n - i : 3)};
        std::memcpy(group.nData, m_pDBuffer + i, group.nSize);
        _EncodeToBuffer(group, m_pEBuffer + m_nEDataLen);
        m_nEDataLen += 4;
    }
}

void Base64Coder::decodeFiltered(unsigned long n) {
    AllocDecode(n);
    const unsigned long m = m_nEDataLen;
    if (m == 0 || m_nDBufLen < m)
        return;
    unsigned long i = 0;
    for (; i + 4 <= m; i += 4) {
        TempBucket group{{m_DecodeTable[m_pEBuffer[i]], m_DecodeTable[m_pEBuffer[i + 1]],
                          m_DecodeTable[m_pEBuffer[i + 2]], m_DecodeTable[m_pEBuffer[i + 3]]},
                         4};
        // Padding shortens the group it is in (so padded groups may also be followed by others).
        unsigned long padding = 0;
        if (group.nData[2] == kPad) {
            group.nData[2] = group.nData[3] = 0;
            padding = 2;
        } else if (group.nData[3] == kPad) {
            group.nData[3] = 0;
            padding = 1;
        }
        m_nDDataLen += _DecodeToBuffer(group, m_pDBuffer + m_nDDataLen) - padding;
    }
    const unsigned long rest = m - i;
    if (rest > 0) {
        TempBucket group{{0, 0, 0, 0}, static_cast<unsigned char>(rest)};
        for (unsigned long k = 0; k < rest; ++k) {
            const unsigned char value = m_DecodeTable[m_pEBuffer[i + k]];
            group.nData[k] = value == kPad ? 0 : value;
        }
        unsigned char bytes[3];
        _DecodeToBuffer(group, bytes);
        std::memcpy(m_pDBuffer + m_nDDataLen, bytes, rest - 1);
        m_nDDataLen += rest - 1;
    }
}

void Base64Coder::_DecodeA(const unsigned char* text, unsigned long n) {
    SetEncodeBufferA(text, n);
    decodeFiltered(n);
}

void Base64Coder::_DecodeW(const wchar_t* text, unsigned int n) {
    SetEncodeBufferW(text, n);
    decodeFiltered(n);
}

void Base64Coder::DecodeA(const CVkStringA& text) {
    const CVkStringA copy(text);
    _DecodeA(reinterpret_cast<const unsigned char*>(copy.GetString()), copy.GetLength());
}

void Base64Coder::DecodeA(const unsigned char* text, unsigned int n) {
    _DecodeA(text, n);
}

void Base64Coder::DecodeW(const wchar_t* text) {
    const std::size_t n = text ? std::wcslen(text) : 0;
    _DecodeW(text, n > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(n));
}

const unsigned char* Base64Coder::DecodedBuffer(unsigned long* n) const {
    if (n)
        *n = m_nDDataLen;
    return m_pDBuffer;
}

const unsigned char* Base64Coder::EncodedBuffer(unsigned int* n) const {
    if (n)
        *n = m_nEDataLen;
    return m_pEBuffer;
}

} // namespace ZanLegacy
