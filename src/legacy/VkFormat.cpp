#include <legacy/detail/VkFormat.h>

#include <io/StringConversions.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <sys/types.h>
#include <type_traits>

namespace ZanLegacy::detail {
namespace {

locale_t cLocale() {
    // Never freed: formatting may run from static destructors.
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

enum class Length { None, Char, Short, Long, LongLong, LongDouble, IntMax, Size, PtrDiff };

struct Directive {
    std::string flags;
    int width = -1;
    int precision = -1;
    Length length = Length::None;
    char conversion = 0;
};

template <bool Signed, class T>
using Int = std::conditional_t<Signed, T, std::make_unsigned_t<T>>;

// va_list cannot be passed on by reference portably; this wrapper can.
struct Args {
    va_list ap;
};

template <class Ch>
class Formatter {
public:
    Formatter(std::basic_string<Ch>& out, const Ch* format, Args& args)
        : m_out(out), m_p(format), m_args(args) {}

    bool run() {
        while (*m_p) {
            if (*m_p != Ch('%')) {
                m_out.push_back(*m_p++);
                continue;
            }
            ++m_p;
            if (*m_p == Ch('%')) {
                m_out.push_back(*m_p++);
                continue;
            }
            Directive directive;
            if (!parse(directive) || !convert(directive))
                return false;
        }
        return true;
    }

private:
    static bool isDigit(Ch c) { return c >= Ch('0') && c <= Ch('9'); }

    // Digits at m_p as an int; false when they overflow.
    bool number(int& value) {
        long long v = 0;
        while (isDigit(*m_p)) {
            v = v * 10 + (*m_p++ - Ch('0'));
            if (v > INT_MAX)
                return false;
        }
        value = static_cast<int>(v);
        return true;
    }

    bool parse(Directive& directive) {
        for (;;) {
            const Ch c = *m_p;
            if (c == Ch('-') || c == Ch('+') || c == Ch(' ') || c == Ch('#') || c == Ch('0') ||
                c == Ch('\'')) {
                directive.flags.push_back(static_cast<char>(c));
                ++m_p;
            } else {
                break;
            }
        }
        if (*m_p == Ch('*')) {
            ++m_p;
            const int w = va_arg(m_args.ap, int);
            if (w < 0) {
                if (w == INT_MIN)
                    return false;
                directive.flags.push_back('-');
                directive.width = -w;
            } else {
                directive.width = w;
            }
        } else if (isDigit(*m_p)) {
            if (!number(directive.width))
                return false;
            if (*m_p == Ch('$')) // positional arguments are not supported
                return false;
        }
        if (*m_p == Ch('.')) {
            ++m_p;
            if (*m_p == Ch('*')) {
                ++m_p;
                const int p = va_arg(m_args.ap, int);
                directive.precision = p < 0 ? -1 : p;
            } else {
                directive.precision = 0;
                if (!number(directive.precision))
                    return false;
            }
        }
        // Length modifiers; only h and l may be doubled.
        static constexpr struct {
            char c;
            Length once, twice;
        } kLengths[] = {
            {'h', Length::Short, Length::Char},        {'l', Length::Long, Length::LongLong},
            {'q', Length::LongLong, Length::LongLong}, {'L', Length::LongDouble, Length::LongDouble},
            {'j', Length::IntMax, Length::IntMax},     {'z', Length::Size, Length::Size},
            {'Z', Length::Size, Length::Size},         {'t', Length::PtrDiff, Length::PtrDiff}};
        for (const auto& length : kLengths) {
            if (*m_p != Ch(length.c))
                continue;
            ++m_p;
            directive.length = length.once;
            if (length.twice != length.once && *m_p == Ch(length.c)) {
                ++m_p;
                directive.length = length.twice;
            }
            break;
        }
        const Ch c = *m_p;
        if (c <= 0 || c > 0x7F)
            return false;
        directive.conversion = static_cast<char>(c);
        ++m_p;
        return true;
    }

    bool convert(const Directive& directive) {
        switch (directive.conversion) {
        case 'd':
        case 'i':
            return convertInteger<true>(directive);
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            return convertInteger<false>(directive);
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (directive.length == Length::LongDouble)
                return printNumber(directive, "L", va_arg(m_args.ap, long double));
            return printNumber(directive, "", va_arg(m_args.ap, double));
        case 'p':
            return printNumber(directive, "", va_arg(m_args.ap, void*));
        case 's':
        case 'S':
            return convertText(directive);
        case 'c':
        case 'C':
            return convertChar(directive);
        default: // %n and anything unknown
            return false;
        }
    }

    // d and i take signed arguments, o, u, x and X their unsigned counterparts.
    template <bool Signed>
    bool convertInteger(const Directive& directive) {
        // Aliases: va_arg is a macro and cannot take a template argument list with a comma.
        using I = Int<Signed, int>;
        using L = Int<Signed, long>;
        using LL = Int<Signed, long long>;
        using J = Int<Signed, std::intmax_t>;
        using Z = Int<Signed, ssize_t>;
        using T = Int<Signed, std::ptrdiff_t>;
        switch (directive.length) {
        case Length::Char:
            return printNumber(directive, "hh", va_arg(m_args.ap, I));
        case Length::Short:
            return printNumber(directive, "h", va_arg(m_args.ap, I));
        case Length::Long:
            return printNumber(directive, "l", va_arg(m_args.ap, L));
        case Length::LongLong:
            return printNumber(directive, "ll", va_arg(m_args.ap, LL));
        case Length::IntMax:
            return printNumber(directive, "j", va_arg(m_args.ap, J));
        case Length::Size:
            return printNumber(directive, "z", va_arg(m_args.ap, Z));
        case Length::PtrDiff:
            return printNumber(directive, "t", va_arg(m_args.ap, T));
        case Length::None:
            return printNumber(directive, "", va_arg(m_args.ap, I));
        default:
            return false;
        }
    }

    // Numbers and pointers go through the C library's narrow printf in the "C" locale; their text is
    // ASCII and is widened unit by unit.
    template <class T>
    bool printNumber(const Directive& directive, const char* length, T value) {
        std::string format = "%" + directive.flags;
        if (directive.width >= 0)
            format += std::to_string(directive.width);
        if (directive.precision >= 0)
            format += "." + std::to_string(directive.precision);
        format += length;
        format.push_back(directive.conversion);
        std::string text;
        {
            ScopedCLocale cLocale;
            const int n = std::snprintf(nullptr, 0, format.c_str(), value);
            if (n < 0)
                return false;
            text.resize(static_cast<std::size_t>(n) + 1);
            if (std::snprintf(text.data(), text.size(), format.c_str(), value) != n)
                return false;
            text.resize(static_cast<std::size_t>(n));
        }
        m_out.append(text.begin(), text.end());
        return true;
    }

    // True when the argument of this %s or %c is of the other width. A wide format's %S is narrow
    // text while its %C stays a wide character, as in the platform's wide printf once %s and %c have
    // been widened; in a narrow format %S and %C are both wide.
    static bool otherWidth(const Directive& directive) {
        if constexpr (sizeof(Ch) != 1)
            return directive.conversion == 'S' || directive.length == Length::Short;
        else
            return directive.conversion == 'S' || directive.conversion == 'C' ||
                   directive.length == Length::Long;
    }

    bool convertText(const Directive& directive) {
        std::basic_string<Ch> text;
        const void* argument = va_arg(m_args.ap, const void*);
        if (!argument) {
            const char* null = "(null)";
            text.assign(null, null + 6);
        } else if (!otherWidth(directive)) {
            text = static_cast<const Ch*>(argument);
        } else if (!toOwnWidth(argument, text)) {
            return false;
        }
        if (directive.precision >= 0 && static_cast<std::size_t>(directive.precision) < text.size()) {
            std::size_t keep = static_cast<std::size_t>(directive.precision);
            if constexpr (sizeof(Ch) == 1)
                keep = Utf8Prefix(text.data(), text.size(), keep);
            text.resize(keep);
        }
        pad(directive, text);
        return true;
    }

    bool convertChar(const Directive& directive) {
        std::basic_string<Ch> text;
        if (otherWidth(directive)) {
            // The other width's character arrives promoted to int or wint_t.
            using OtherCh = std::conditional_t<sizeof(Ch) == 1, wchar_t, char>;
            const OtherCh c[2] = {static_cast<OtherCh>(va_arg(m_args.ap, unsigned int)), 0};
            if (c[0] == 0)
                text.push_back(Ch(0));
            else if (!toOwnWidth(c, text))
                return false;
        } else {
            text.push_back(static_cast<Ch>(va_arg(m_args.ap, unsigned int)));
        }
        pad(directive, text);
        return true;
    }

    static bool toOwnWidth(const void* argument, std::basic_string<Ch>& text) {
        try {
            if constexpr (sizeof(Ch) == 1)
                text = Zan::StringConversions::wstring_to_utf8(static_cast<const wchar_t*>(argument));
            else
                text = Zan::StringConversions::utf8_to_wstring(static_cast<const char*>(argument));
        } catch (const std::range_error&) {
            return false;
        }
        return true;
    }

    void pad(const Directive& directive, const std::basic_string<Ch>& text) {
        const std::size_t width = directive.width < 0 ? 0 : static_cast<std::size_t>(directive.width);
        const std::size_t fill = width > text.size() ? width - text.size() : 0;
        const bool left = directive.flags.find('-') != std::string::npos;
        if (!left)
            m_out.append(fill, Ch(' '));
        m_out += text;
        if (left)
            m_out.append(fill, Ch(' '));
    }

    std::basic_string<Ch>& m_out;
    const Ch* m_p;
    Args& m_args;
};

} // namespace

ScopedCLocale::ScopedCLocale() : m_previous(uselocale(cLocale())) {}

ScopedCLocale::~ScopedCLocale() {
    uselocale(m_previous);
}

template <class Ch>
bool VkFormat(std::basic_string<Ch>& out, const Ch* format, va_list args) {
    if (!format)
        return false;
    std::basic_string<Ch> text;
    Args copy;
    va_copy(copy.ap, args);
    const bool ok = Formatter<Ch>(text, format, copy).run();
    va_end(copy.ap);
    if (ok)
        out += text;
    return ok;
}

template bool VkFormat<char>(std::string&, const char*, va_list);
template bool VkFormat<wchar_t>(std::wstring&, const wchar_t*, va_list);

std::size_t Utf8Prefix(const char* text, std::size_t n, std::size_t max) {
    if (max >= n)
        return n;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    std::size_t lead = max;
    while (lead > 0 && max - lead < 3 && (byte(lead) & 0xC0) == 0x80)
        --lead;
    if (lead == max)
        return max;
    const unsigned b = byte(lead);
    const std::size_t length = b >= 0xF0 && b < 0xF8   ? 4
                               : b >= 0xE0 && b < 0xF0 ? 3
                               : b >= 0xC0 && b < 0xE0 ? 2
                                                       : 1;
    return lead + length > max ? lead : max;
}

} // namespace ZanLegacy::detail
