// Decodes arbitrary text, narrow and wide, and checks that encoding arbitrary bytes round-trips.
#include <legacy/Base64Coder.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    ZanLegacy::Base64Coder coder;
    coder.DecodeA(data, static_cast<unsigned int>(size));
    unsigned long decoded = 0;
    coder.DecodedBuffer(&decoded);
    if (decoded > size)
        std::abort();

    std::vector<wchar_t> wide(data, data + size);
    wide.push_back(0);
    coder.DecodeW(wide.data());

    coder.Encode(data, size);
    unsigned int encodedLength = 0;
    const unsigned char* encoded = coder.EncodedBuffer(&encodedLength);
    std::vector<unsigned char> text(encoded, encoded + encodedLength);
    ZanLegacy::Base64Coder back;
    back.DecodeA(text.data(), static_cast<unsigned int>(text.size()));
    unsigned long n = 0;
    const unsigned char* bytes = back.DecodedBuffer(&n);
    if (n != size || (size && std::memcmp(bytes, data, size) != 0))
        std::abort();
    return 0;
}
