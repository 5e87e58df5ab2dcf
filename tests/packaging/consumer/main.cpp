// Uses the installed headers and library the way an outside program would.
#include <io/IoMemoryBuffer.h>
#include <io/StringConversions.h>

#include <cstdio>
#include <cstring>

int main() {
    Zan::IoMemoryBuffer buffer;
    if (!buffer.open(Zan::IoDevice::Write))
        return 1;
    const std::string text = Zan::StringConversions::wstring_to_utf8(L"z\u00e9");
    if (buffer.writeData(text.data(), text.size()) != text.size() || buffer.size() != 3)
        return 2;
    if (std::memcmp(buffer.data(), "z\xc3\xa9", 3) != 0)
        return 3;
    std::puts("consumer ok");
    return 0;
}
