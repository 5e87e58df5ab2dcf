// Feeds arbitrary bytes to the lenient UTF-8 decoder, the strict conversions of the strings, the
// tokenizer and the UTF-8 copy-out, which must never end inside a multi-byte sequence.
#include <legacy/CVkStringA.h>
#include <legacy/CVkStringTokenizer.h>
#include <legacy/CVkStringUtils.h>
#include <legacy/CVkStringW.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16) || size == 0)
        return 0;
    const unsigned limit = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    ZanLegacy::CVkStringW wide;
    ZanLegacy::CVkStringUtils::UTF8toW(bytes.c_str(), wide);
    ZanLegacy::CVkStringUtils::UTF8toWn(bytes.c_str(), wide, limit);
    ZanLegacy::CVkStringA narrow;
    ZanLegacy::CVkStringUtils::WtoUTF8(wide.GetString(), narrow);

    ZanLegacy::CVkStringTokenizer tokenizer(wide.GetString(), L",; ");
    const int count = tokenizer.Size();
    int seen = 0;
    while (tokenizer.HasMoreTokens() && seen <= count) {
        tokenizer.GetNextToken();
        ++seen;
    }
    if (seen > count)
        std::abort();
    tokenizer.GetToken(static_cast<int>(limit % 8));

    bool valid = true;
    try {
        (void)ZanLegacy::CVkStringW(bytes.c_str());
    } catch (const std::range_error&) {
        valid = false;
    }
    if (valid) {
        // A copy-out of valid text must be valid UTF-8 itself: a cut inside a sequence would throw here.
        const ZanLegacy::CVkStringW strict(bytes.c_str());
        char buffer[64];
        const int copied = strict.CopyToBufferA(buffer, static_cast<int>(limit % sizeof(buffer)));
        if (copied > 0)
            (void)ZanLegacy::CVkStringW(std::string(buffer, static_cast<std::size_t>(copied)).c_str());
    }
    return 0;
}
