#pragma once

// The file-name test of the image-file devices (internal): the text from the last "." of a name, folded to
// lower case character by character, against a device kind's extensions.

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>

namespace Zan::detail {

// A name without any "." has no extension and is refused. Only ASCII letters fold, whatever the locale: a
// wide character is never handed to the single-byte tolower.
template <typename Char>
bool hasExtension(const std::basic_string<Char>& name, std::initializer_list<std::string_view> extensions) {
    const auto dot = name.rfind(Char('.'));
    if (dot == std::basic_string<Char>::npos)
        return false;
    std::basic_string<Char> rest = name.substr(dot);
    for (Char& c : rest)
        if (c >= Char('A') && c <= Char('Z'))
            c = static_cast<Char>(c - Char('A') + Char('a'));
    return std::any_of(extensions.begin(), extensions.end(), [&](std::string_view extension) {
        return std::equal(rest.begin(), rest.end(), extension.begin(), extension.end(), [](Char a, char b) {
            return a == static_cast<Char>(static_cast<unsigned char>(b));
        });
    });
}

} // namespace Zan::detail
