#pragma once

// For fuzz targets that read their input as a sequence of small choices: each byte decides one, and an
// input that ends early reads as zeros from there on.

#include <cstddef>
#include <cstdint>

namespace ZanTest {

class FuzzBytes {
public:
    FuzzBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned next() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A value in [low, high].
    long range(long low, long high) { return low + static_cast<long>(next() % (high - low + 1)); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace ZanTest
