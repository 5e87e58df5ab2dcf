#include <legacy/CVkStringTokenizer.h>

namespace ZanLegacy {

CVkStringTokenizer::CVkStringTokenizer(const wchar_t* text, const wchar_t* delimiters)
    : m_text(text), m_delimiters(delimiters), m_position(0) {}

bool CVkStringTokenizer::HasMoreTokens() const {
    return m_position < m_text.GetLength();
}

CVkStringW CVkStringTokenizer::GetNextToken() {
    const int d = m_text.FindOneOf(m_delimiters.GetString(), m_position);
    const unsigned long start = m_position;
    if (d < 0) {
        m_position = m_text.GetLength();
        return m_text.Mid(start, -1);
    }
    m_position = static_cast<unsigned long>(d) + 1;
    return m_text.Mid(start, d - static_cast<int>(start));
}

unsigned long CVkStringTokenizer::GetPosition() const {
    return m_position;
}

int CVkStringTokenizer::Size() const {
    if (m_text.IsEmpty())
        return 0;
    int count = 1;
    for (int d = m_text.FindOneOf(m_delimiters.GetString(), 0); d >= 0;
         d = m_text.FindOneOf(m_delimiters.GetString(), static_cast<unsigned long>(d) + 1))
        ++count;
    return count;
}

CVkStringW CVkStringTokenizer::GetToken(int n) const {
    if (n < 0 || n >= Size())
        return CVkStringW();
    unsigned long start = 0;
    for (int k = 0; k < n; ++k)
        start = static_cast<unsigned long>(m_text.FindOneOf(m_delimiters.GetString(), start)) + 1;
    const int end = m_text.FindOneOf(m_delimiters.GetString(), start);
    return m_text.Mid(start, end < 0 ? -1 : end - static_cast<int>(start));
}

} // namespace ZanLegacy
