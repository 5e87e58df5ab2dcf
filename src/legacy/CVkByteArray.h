#pragma once

#include <io/ZanExport.h>

namespace ZanLegacy {

// Growable byte buffer with a cursor. The growth policy is chosen per write, and a write that does not
// fit reports how much it copied instead of failing outright. The binary variant reader derives from
// it virtually and uses the block as its buffer and the current offset as its cursor, so the virtual
// operations and their order are part of the interface. One thread at a time.
class ZAN_EXPORT CVkByteArray {
public:
    enum EVkByteArrayModeOp {
        eOpWriteAtStart = 0, // the bytes replace the content from offset 0
        eOpAppend = 1,       // the bytes go after the current size
    };
    enum EVkByteArrayModeAlloc {
        eAllocExact = 0,     // grow the block to exactly what is needed
        eAllocNever = 1,     // never grow
        eAllocIncrement = 2, // grow in multiples of the increment
    };

    // Results of SetData and the offset setters.
    static constexpr int kOk = 0;
    static constexpr int kAllocFailed = -3;
    static constexpr int kBadArgument = -4;
    static constexpr int kPartlyCopied = -8;
    static constexpr int kNothingCopied = -9;

    CVkByteArray();
    explicit CVkByteArray(unsigned long increment);
    CVkByteArray(const void* data, unsigned long n, unsigned long increment);
    CVkByteArray(const CVkByteArray& other);

    virtual ~CVkByteArray();
    virtual CVkByteArray& operator=(const CVkByteArray& other);
    virtual bool operator==(const CVkByteArray& other) const;
    virtual bool operator!=(const CVkByteArray& other) const;
    // Writes n bytes at the start or after the content; a null data pointer only reserves room. The
    // bytes may come from this array's own block. Returns 0, -3 (growth failed while only reserving),
    // -4 (a source inside this array's block runs past its end), -8 (only part fitted) or -9 (nothing
    // fitted).
    virtual int SetData(const void* data, unsigned long n, EVkByteArrayModeOp op,
                        EVkByteArrayModeAlloc alloc);
    virtual bool FreeData();
    virtual bool SetIncrement(unsigned long increment);
    virtual int SetCurrentOffset(unsigned long offset);
    virtual int SetCurrentOffsetPtr(void* p);
    virtual unsigned long GetCurrentOffset() const;
    virtual unsigned char* GetCurrentOffsetPtr() const;
    virtual unsigned char* GetData() const;
    // Declares that the caller filled the first n bytes of the block directly (1 <= n <= allocated).
    virtual unsigned char* GetData(unsigned long n);
    virtual unsigned long GetSize() const;
    virtual void SetSize(unsigned long n);
    virtual unsigned long GetAllocated() const;

    void Init(unsigned long increment);

protected:
    unsigned char* m_pData;
    unsigned long m_CurrentOffset;
    unsigned long m_Size;
    unsigned long m_Allocated;
    unsigned long m_Increment;
};

} // namespace ZanLegacy
