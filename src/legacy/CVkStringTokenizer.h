#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringW.h>

namespace ZanLegacy {

// Splits a wide text at any of a set of delimiter characters. Adjacent delimiters give empty tokens;
// GetNextToken ends after a trailing delimiter without an empty last token, while Size and GetToken
// count that token. One thread at a time.
class ZAN_EXPORT CVkStringTokenizer {
public:
    CVkStringTokenizer(const wchar_t* text, const wchar_t* delimiters);

    bool HasMoreTokens() const;
    CVkStringW GetNextToken();
    unsigned long GetPosition() const;
    // 0 for an empty text, else 1 + the number of delimiter characters in it.
    int Size() const;
    // Token n of the whole text, independent of the position; empty when n is out of range.
    CVkStringW GetToken(int n) const;

private:
    CVkStringW m_text;
    CVkStringW m_delimiters;
    unsigned long m_position;
};

} // namespace ZanLegacy
