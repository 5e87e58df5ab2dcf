// The flat XML form of binary variant buffers: printed straight from the buffer and scanned back into
// a writer, without a variant tree in between.

#include <legacy/Base64Coder.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/VkDiagnostics.h>
#include <legacy/detail/LiteVariantFormat.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ZanLegacy {
namespace {

using namespace LiteVariant;

constexpr int kFail = -9;
constexpr const wchar_t* kRunTypeItem = L"__m_runType";
constexpr const wchar_t* kListRunType = L"CVkListVariant";
constexpr const wchar_t* kNoName = L"no_name";
constexpr std::wstring_view kRunTypeAttribute = L" runtype=\"";

const wchar_t* runTypeOf(std::uint8_t type) {
    static const wchar_t* const names[] = {nullptr,       L"bool",        L"vk_int32", L"vk_uint32",
                                           L"vk_int64",   L"vk_uint64",   L"double",   L"voidPtr",
                                           L"CVkStringW", L"CVkByteArray"};
    return type <= kBytes ? names[type] : nullptr;
}

// Names are read into a buffer of 255 characters, as the stored names are at most that long.
std::wstring printedName(CVkLiteVariantR& r) {
    wchar_t buffer[256];
    if (r.GetCurrentName(buffer, 255) != 0 || buffer[0] == L'\0')
        return kNoName;
    return buffer;
}

} // namespace

int CVkLiteVariantR::LiteVariantToXML(CVkStringW& out) {
    return xmlItems(out);
}

int CVkLiteVariantR::xmlItems(CVkStringW& out) {
    while (IsNextValue()) {
        Item item;
        if (!currentConverted(item))
            return kFail;
        const std::wstring name = printedName(*this);
        if (item.type == kLevel) {
            // A record-typed list names its run type in a first child "__m_runType".
            std::wstring runType = kListRunType;
            Item first;
            if (item.count > 0 && ParseItem(m_pData, item.children, item.index, first) &&
                first.type == kString &&
                Utf16ToWide(m_pData + first.pos + 2, NameUnits(m_pData, first)) == kRunTypeItem)
                runType = Utf16ToWide(m_pData + first.value, (first.end - first.value) / 2 - 1);
            if (int r = CurrentLevelBegin())
                return r;
            out.AppendFormat(L"<%s runtype=\"%s\">", name.c_str(), runType.c_str());
            const int r = xmlItems(out);
            LevelEnd();
            if (r)
                return r;
            out.AppendFormat(L"</%s>", name.c_str());
        } else if (item.type <= kBytes && name != kRunTypeItem) {
            std::wstring value;
            const unsigned char* v = m_pData + item.value;
            CVkStringW number;
            switch (item.type) {
            case kBool:
                value = *v ? L"true" : L"false";
                break;
            case kInt32:
                number.Format(L"%d", static_cast<int>(loadLE32(v)));
                break;
            case kUInt32:
                number.Format(L"%u", loadLE32(v));
                break;
            case kInt64:
                number.Format(L"%lld", static_cast<long long>(loadLE64(v)));
                break;
            case kUInt64:
                number.Format(L"%llu", static_cast<unsigned long long>(loadLE64(v)));
                break;
            case kDouble:
                number.Format(L"%.15f", std::bit_cast<double>(loadLE64(v)));
                break;
            case kPointer:
                number.Format(L"%p", reinterpret_cast<void*>(static_cast<std::uintptr_t>(loadLE64(v))));
                break;
            case kString:
                value = Utf16ToWide(v, (item.end - item.value) / 2 - 1);
                break;
            default: {
                const std::uint64_t n = loadLE64(v);
                if (n) {
                    Base64Coder coder;
                    coder.Encode(v + 8, n);
                    unsigned int length = 0;
                    const unsigned char* text = coder.EncodedBuffer(&length);
                    value.assign(text, text + length);
                }
                break;
            }
            }
            if (!number.IsEmpty())
                value = number.GetString();
            out.AppendFormat(L"<%s runtype=\"%s\" value=\"%s\"/>", name.c_str(), runTypeOf(item.type),
                             value.c_str());
        }
        if (int r = NextValue())
            return r;
    }
    return 0;
}

int CVkLiteVariantR::Trace() {
    const std::uint64_t cursor = m_CurrentOffset;
    CVkStringW text;
    const int r = LiteVariantToXML(text);
    VkPrintDiagnostic(text.GetString());
    m_CurrentOffset = cursor;
    return r;
}

namespace {

// Scans the flat XML text. Every read is bounded by the text; a malformed element, an unknown run type
// or a number that does not fit its type ends the scan with a failure.
class FlatXmlScanner {
public:
    FlatXmlScanner(std::wstring_view text, CVkLiteVariantW& w) : m_text(text), m_w(w) {}

    bool scan() {
        while (true) {
            skipBlanks();
            if (m_pos >= m_text.size())
                return true;
            if (m_text[m_pos] != L'<')
                return false; // text between elements
            if (startsWith(L"<?")) {
                const std::size_t end = m_text.find(L"?>", m_pos);
                if (end == std::wstring_view::npos)
                    return false;
                m_pos = end + 2;
            } else if (startsWith(L"</")) {
                m_pos += 2;
                std::wstring_view name;
                if (!until(L'>', name))
                    return false;
                ++m_pos;
                if (name == L"variant")
                    return true;
                if (m_w.LevelEnd() != 0)
                    return false;
            } else if (!element()) {
                return false;
            }
        }
    }

private:
    bool element() {
        ++m_pos;
        const std::size_t nameStart = m_pos;
        // Names are printed as they are, blanks included: in a tag of this form the name runs up to the
        // runtype attribute, so that no item is taken for foreign markup and lost.
        const std::size_t tagEnd = m_text.find(L'>', m_pos);
        if (tagEnd == std::wstring_view::npos)
            return false;
        const std::size_t typedAt = m_text.substr(m_pos, tagEnd - m_pos).find(kRunTypeAttribute);
        if (typedAt != std::wstring_view::npos && typedAt > 0)
            m_pos += typedAt;
        while (m_pos < m_text.size() && m_text[m_pos] != L' ' && m_text[m_pos] != L'>' &&
               m_text[m_pos] != L'/')
            ++m_pos;
        if (m_pos >= m_text.size() || m_pos == nameStart)
            return false;
        const std::wstring name(m_text.substr(nameStart, m_pos - nameStart));
        std::wstring_view runType, value;
        const bool typed = m_text[m_pos] == L' ' && attribute(kRunTypeAttribute, runType);
        if (!typed) {
            // Markup of others, such as an enclosing "variant" element: passed over.
            const std::size_t end = m_text.find(L'>', m_pos);
            if (end == std::wstring_view::npos)
                return false;
            m_pos = end + 1;
            return true;
        }
        if (attribute(L" value=\"", value)) {
            if (!startsWith(L"/>"))
                return false;
            m_pos += 2;
            return this->value(name, std::wstring(runType), std::wstring(value));
        }
        if (!startsWith(L">"))
            return false;
        ++m_pos;
        if (m_w.LevelBegin(name.c_str()) != 0)
            return false;
        if (!runType.empty() && runType != kListRunType)
            return m_w.Set(std::wstring(runType).c_str(), kRunTypeItem) == 0;
        return true;
    }

    bool value(const std::wstring& name, const std::wstring& runType, const std::wstring& text) {
        const wchar_t* n = name.c_str();
        if (runType == L"CVkStringW")
            return m_w.Set(text.c_str(), n) == 0;
        if (runType == L"bool")
            return m_w.Set(text == L"true", n) == 0;
        if (runType == L"CVkByteArray") {
            Base64Coder coder;
            coder.DecodeW(text.c_str());
            unsigned long length = 0;
            const unsigned char* bytes = coder.DecodedBuffer(&length);
            return m_w.Set(bytes, std::size_t(length), n) == 0;
        }
        std::string ascii;
        for (wchar_t c : text) {
            if (c <= 0 || c > 0x7F)
                return false;
            ascii.push_back(static_cast<char>(c));
        }
        if (runType == L"vk_int32")
            return number<int>(ascii, n);
        if (runType == L"vk_uint32")
            return number<unsigned int>(ascii, n);
        if (runType == L"vk_int64")
            return number<long>(ascii, n);
        if (runType == L"vk_uint64")
            return number<unsigned long>(ascii, n);
        if (runType == L"double")
            return number<double>(ascii, n);
        if (runType == L"voidPtr") {
            std::uintptr_t address = 0;
            if (ascii != "(nil)") {
                if (ascii.size() < 3 || ascii.compare(0, 2, "0x") != 0 ||
                    !parse(ascii.substr(2), address, 16))
                    return false;
            }
            return m_w.Set(reinterpret_cast<void*>(address), n) == 0;
        }
        return false; // a run type this form never prints
    }

    template <class T>
    static bool parse(const std::string& text, T& out, int base = 10) {
        const char* end = text.data() + text.size();
        std::from_chars_result r;
        if constexpr (std::is_floating_point_v<T>)
            r = std::from_chars(text.data(), end, out);
        else
            r = std::from_chars(text.data(), end, out, base);
        return r.ec == std::errc() && r.ptr == end && !text.empty();
    }

    template <class T>
    bool number(const std::string& text, const wchar_t* name) {
        T v{};
        return parse(text, v) && m_w.Set(v, name) == 0;
    }

    // The attribute starting here, given with its leading blank and opening quotation mark.
    bool attribute(std::wstring_view opening, std::wstring_view& out) {
        if (!startsWith(opening))
            return false;
        const std::size_t start = m_pos + opening.size();
        const std::size_t end = m_text.find(L'"', start);
        if (end == std::wstring_view::npos)
            return false;
        out = m_text.substr(start, end - start);
        m_pos = end + 1;
        return true;
    }

    bool until(wchar_t c, std::wstring_view& out) {
        const std::size_t end = m_text.find(c, m_pos);
        if (end == std::wstring_view::npos)
            return false;
        out = m_text.substr(m_pos, end - m_pos);
        m_pos = end;
        return true;
    }

    bool startsWith(std::wstring_view s) const { return m_text.substr(m_pos).starts_with(s); }

    void skipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == L' ' || m_text[m_pos] == L'\t' ||
                                         m_text[m_pos] == L'\r' || m_text[m_pos] == L'\n'))
            ++m_pos;
    }

    std::wstring_view m_text;
    CVkLiteVariantW& m_w;
    std::size_t m_pos = 0;
};

} // namespace

int CVkLiteVariantR::LiteVariantFromXML(CVkStringW& text) {
    CVkLiteVariantW w;
    try {
        FlatXmlScanner scanner(std::wstring_view(text.GetString(), text.GetLength()), w);
        if (!scanner.scan())
            return kFail;
    } catch (const std::range_error&) {
        return kFail; // a name or text without a UTF-16 form
    }
    return w.Finalize(*this, 0);
}

} // namespace ZanLegacy
