#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringA.h>

#include <array>

namespace ZanLegacy {

// Base64 (RFC 4648 alphabet, '=' padding, no line breaks) of byte blocks. Decoding is lenient: it
// skips line-break and space characters, reads characters with the high bit set as their 7-bit
// counterparts, and reports no errors. A coder keeps the results of its last operation: after Encode
// the encode buffer holds the text and the decode buffer the input; after a decode the decode buffer
// holds the bytes and the encode buffer the filtered text. The steps are virtual so that a derived
// coder can replace any of them. One thread at a time per coder.
class ZAN_EXPORT Base64Coder {
public:
    // One group carried between the steps: up to 4 bytes or 6-bit values and their count.
    struct TempBucket {
        unsigned char nData[4];
        unsigned char nSize;
    };

    static const char Base64Digits[65];

    Base64Coder();
    Base64Coder(const Base64Coder&) = delete;
    Base64Coder& operator=(const Base64Coder&) = delete;

    virtual ~Base64Coder();
    virtual void Encode(const unsigned char* data, unsigned long n);
    virtual void DecodeA(const CVkStringA& text);
    virtual void DecodeA(const unsigned char* text, unsigned int n);
    virtual void DecodeW(const wchar_t* text);
    virtual const unsigned char* DecodedBuffer(unsigned long* n) const;
    virtual const unsigned char* EncodedBuffer(unsigned int* n) const;
    // Make sure the buffer holds at least n bytes, zero it whole and set its length to 0.
    virtual void AllocEncode(unsigned long n);
    virtual void AllocDecode(unsigned long n);
    virtual void SetEncodeBufferA(const unsigned char* text, unsigned long n);
    virtual void SetEncodeBufferW(const wchar_t* text, unsigned int n);
    virtual void SetDecodeBuffer(const unsigned char* data, unsigned long n);

protected:
    virtual void _DecodeA(const unsigned char* text, unsigned long n);
    virtual void _DecodeW(const wchar_t* text, unsigned int n);
    virtual void _EncodeToBuffer(const TempBucket& group, unsigned char* out);
    virtual unsigned long _DecodeToBuffer(const TempBucket& group, unsigned char* out);
    virtual void _EncodeRaw(TempBucket& out, const TempBucket& in);
    virtual void _DecodeRaw(TempBucket& out, const TempBucket& in);
    virtual bool _IsBadMimeChar(unsigned char c);

    // Character code to 6-bit value; 254 outside the alphabet, 255 for '='. Built at compile time.
    static const std::array<unsigned char, 256> m_DecodeTable;

    unsigned char* m_pDBuffer;
    unsigned char* m_pEBuffer;
    unsigned long m_nDBufLen;
    unsigned long m_nEBufLen;
    unsigned long m_nDDataLen;
    unsigned int m_nEDataLen;

private:
    // Decodes the filtered text now in the encode buffer.
    void decodeFiltered(unsigned long n);
};

} // namespace ZanLegacy
