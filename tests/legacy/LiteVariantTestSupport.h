#pragma once

// Helpers of the binary variant tests: buffers as byte vectors, readers over copies of them, and the
// old-form layout made from a buffer of our writer.

#include <support/FuzzSeeds.h>
#include <legacy/CVkAlloc.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/detail/LiteVariantFormat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace lite_test {

using Bytes = std::vector<unsigned char>;

inline Bytes bytesOf(const ZanLegacy::CVkLiteVariantR& r) {
    return r.GetData() ? Bytes(r.GetData(), r.GetData() + r.GetSize()) : Bytes();
}

// Loads a copy of the bytes into the reader, as a caller with chunk bytes does.
inline void load(ZanLegacy::CVkLiteVariantR& r, const Bytes& bytes) {
    void* p = bytes.empty() ? nullptr : ZanLegacy::CVkAlloc::Alloc(0, bytes.size(), 16);
    if (p)
        std::memcpy(p, bytes.data(), bytes.size());
    r.SetPointer(p, bytes.size(), bytes.size());
}

// What the writer hands over after fill, in the given Finalize mode.
inline Bytes written(const std::function<void(ZanLegacy::CVkLiteVariantW&)>& fill, int mode = 0) {
    ZanLegacy::CVkLiteVariantW w;
    fill(w);
    ZanLegacy::CVkLiteVariantR r;
    w.Finalize(r, mode);
    return bytesOf(r);
}

// The 36-byte document: a root level "a" holding the signed 32-bit value x = 5.
inline Bytes exampleDocument() {
    return {0x0B, 0x02, 0x61, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x1C, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x78, 0x00, 0x00, 0x00,
            0x05, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

// A root "v" holding one value of every kind, a nested level and a byte array.
inline Bytes everyKind() {
    return written([](ZanLegacy::CVkLiteVariantW& w) {
        w.LevelBegin(L"v");
        w.Set(true, L"b");
        w.Set(-2, L"i");
        w.Set(0xFFFFFFFEu, L"u");
        w.Set(-4L, L"l");
        w.Set(0xFFFFFFFFFFFFFFF0UL, L"ul");
        w.Set(0.5, L"d");
        w.Set(reinterpret_cast<void*>(std::uintptr_t(0x1234)), L"p");
        w.Set(L"h\U0001F600llo", L"s");
        w.Set("\x01\x02\x03", std::size_t(3), L"bytes");
        w.Set(nullptr, std::size_t(0), L"none");
        w.LevelBegin(L"sub");
        w.Set(9, L"leaf");
    });
}

// Rewrites the new-form level at pos, and the levels below it, in the old absolute form.
inline void toOldForm(Bytes& b, std::size_t pos = 0) {
    using namespace ZanLegacy::LiteVariant;
    ItemView level;
    if (!ParseItem(b.data(), pos, b.size(), level) || level.type != kLevel)
        return;
    b[pos] = kLevelOld;
    storeLE64(&b[level.value + 4], level.index);
    for (std::uint32_t i = 0; i < level.count; ++i) {
        unsigned char* entry = &b[level.index + 8 * i];
        const std::uint64_t child = pos + loadLE64(entry);
        storeLE64(entry, child);
        toOldForm(b, child);
    }
}

inline void put64(Bytes& b, std::size_t at, std::uint64_t v) {
    ZanLegacy::LiteVariant::storeLE64(&b[at], v);
}

inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    ZanLegacy::LiteVariant::storeLE32(&b[at], v);
}

} // namespace lite_test
