#include <legacy/Base64Coder.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using ZanLegacy::Base64Coder;
using ZanLegacy::CVkStringA;

namespace {

std::string encode(const std::string& bytes) {
    Base64Coder coder;
    coder.Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned int n = 0;
    const unsigned char* text = coder.EncodedBuffer(&n);
    return n ? std::string(reinterpret_cast<const char*>(text), n) : std::string();
}

std::string decoded(const Base64Coder& coder) {
    unsigned long n = 0;
    const unsigned char* bytes = coder.DecodedBuffer(&n);
    return n ? std::string(reinterpret_cast<const char*>(bytes), n) : std::string();
}

std::string decode(const std::string& text) {
    Base64Coder coder;
    coder.DecodeA(reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<unsigned int>(text.size()));
    return decoded(coder);
}

} // namespace

TEST(Base64Coder, EncodesWithPadding) {
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode("a"), "YQ==");
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode(std::string("\x00\xFF\xFE", 3)), "AP/+");

    Base64Coder coder;
    unsigned int n = 99;
    EXPECT_EQ(coder.EncodedBuffer(&n), nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(coder.DecodedBuffer(nullptr), nullptr);

    coder.Encode(reinterpret_cast<const unsigned char*>("0123456789"), 10);
    EXPECT_EQ(decoded(coder), "0123456789"); // the input is kept in the decode buffer
    EXPECT_STREQ(reinterpret_cast<const char*>(coder.EncodedBuffer(nullptr)), "MDEyMzQ1Njc4OQ==");
}

TEST(Base64Coder, BuffersGrowInPagesAndNeverShrink) {
    struct Probe : Base64Coder {
        unsigned long encodeCapacity() const { return m_nEBufLen; }
        unsigned long decodeCapacity() const { return m_nDBufLen; }
    } coder;
    const std::vector<unsigned char> big(5000, 0x5A);
    coder.Encode(big.data(), big.size());
    EXPECT_EQ(coder.encodeCapacity(), 12288u); // 2 * 5000 rounded down to pages, plus one page
    EXPECT_EQ(coder.decodeCapacity(), 8192u);
    coder.Encode(big.data(), 1);
    EXPECT_EQ(coder.encodeCapacity(), 12288u);
    unsigned int n = 0;
    coder.EncodedBuffer(&n);
    EXPECT_EQ(n, 4u);
}

TEST(Base64Coder, DecodesLeniently) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"YWJj", "abc"},
        {"YWI=", "ab"},
        {"YQ==", "a"},
        {"YWI", "ab"}, // unpadded
        {"YQ", "a"},
        {"Y", ""},
        {"", ""},
        {"YW\r\nJj", "abc"}, // line breaks and blanks are skipped before grouping
        {"YW Jj", "abc"},
        {"\tY W\vJ\fj\n", "abc"},
        {"\xD9\xD7\xCA\xEA", "abc"}, // high bit set: read as the 7-bit character
        {"YQ==YWJj", "aabc"},        // padding shortens only its own group
        {"YWI=YQ", "aba"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode(c.text), c.bytes) << c.text;

    Base64Coder coder;
    coder.DecodeA(CVkStringA("YW Jj"));
    EXPECT_EQ(decoded(coder), "abc");
    unsigned int filtered = 0;
    EXPECT_STREQ(reinterpret_cast<const char*>(coder.EncodedBuffer(&filtered)), "YWJj");
    EXPECT_EQ(filtered, 4u);
    coder.DecodeW(L"\u0159WJj"); // only the low 8 bits count: U+0159 reads as 'Y'
    EXPECT_EQ(decoded(coder), "abc");
    coder.DecodeW(L"");
    EXPECT_EQ(decoded(coder), "");
    // Characters outside the alphabet decode to some bytes, without an error.
    EXPECT_EQ(decode("!!!!").size(), 3u);
}

TEST(Base64Coder, RoundTripsEveryByteValue) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    for (std::size_t n :
         {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(255), std::size_t(256)})
        EXPECT_EQ(decode(encode(all.substr(0, n))), all.substr(0, n)) << n;
}
