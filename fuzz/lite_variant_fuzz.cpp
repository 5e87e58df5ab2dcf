// Reads arbitrary bytes as a binary variant buffer the way clients do: the whole walk (which inflates an
// envelope and converts an old-form root on the way), lookups by path, every getter on the items it
// reaches, its flat XML form, copies, and the editing operations that rebuild the buffer through the writer.
// A buffer that walks cleanly must walk to the same text after it is copied through the writer, plain and
// compressed.

#include "../tests/legacy/LiteVariantWalk.h"

#include <legacy/CVkAlloc.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;

void load(CVkLiteVariantR& r, const std::uint8_t* data, std::size_t size) {
    void* p = size ? ZanLegacy::CVkAlloc::Alloc(0, size, 16) : nullptr;
    if (p)
        std::memcpy(p, data, size);
    r.SetPointer(p, size, size);
}

void getters(CVkLiteVariantR& r, const wchar_t* path) {
    ZanLegacy::CVkStringW text;
    ZanLegacy::CVkByteArray bytes;
    wchar_t buffer[16];
    unsigned char raw[16];
    std::size_t n = 0;
    r.Get(path, false);
    r.Get(path, 1);
    r.Get(path, 1u);
    r.Get(path, 1L);
    r.Get(path, 1UL);
    r.Get(path, 1.0);
    r.Get(path, static_cast<void*>(nullptr));
    r.Get(path, static_cast<const char16_t*>(nullptr));
    r.GetCVkStringW(text, path, L"");
    r.GetStringIntoBuffer(buffer, 16, path, L"");
    r.Get(path, bytes);
    r.Get(path, raw, sizeof raw);
    r.Get(path, &n);
    r.ReadCurrentValue(raw, sizeof raw);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    CVkLiteVariantR r;
    load(r, data, size);
    std::wstring first;
    const int walked = lite_walk::walkAll(r, first);

    // The flat XML form of whatever walked, scanned back.
    r.Reset();
    ZanLegacy::CVkStringW xml;
    r.LiteVariantToXML(xml);
    CVkLiteVariantR scanned;
    if (scanned.LiteVariantFromXML(xml) == 0) {
        std::wstring text;
        lite_walk::walkAll(scanned, text);
    }

    CVkLiteVariantR copy(r);
    for (const wchar_t* path : {L"\\a\\x", L"\\a", L"\\\\", L"\\a\\b\\c", L"x", L""})
        getters(copy, path);
    copy.Reset();
    if (copy.IsNextValue()) {
        copy.CurrentLevelBegin();
        copy.FirstValue();
        getters(copy, L"");
        CVkLiteVariantR part;
        if (copy.ExtractCurrent(part) == 0) {
            std::wstring text;
            lite_walk::walkAll(part, text);
        }
    }

    if (walked == 0 && r.GetSize() > 0) {
        // A clean buffer of one top-level item survives a copy through the writer, plain and compressed.
        r.Reset();
        std::wstring rest;
        CVkLiteVariantR single;
        if (r.ExtractCurrent(single) == 0 && lite_walk::walkAll(single, rest) == 0) {
            for (int mode : {0, 1}) {
                CVkLiteVariantW w;
                single.Reset();
                if (w.Append(single) != 0)
                    std::abort();
                CVkLiteVariantR back;
                if (w.Finalize(back, mode) != 0)
                    std::abort();
                std::wstring again;
                if (lite_walk::walkAll(back, again) != 0 || again != rest)
                    std::abort();
            }
        }
    }

    CVkLiteVariantR edited(r), other(r);
    edited.Merge(other);
    edited.Remove(L"\\a\\x");
    CVkLiteVariantR with;
    load(with, data, size < 64 ? size : 64);
    edited.Replace(L"\\a", with);
    std::wstring text;
    lite_walk::walkAll(edited, text);
    return 0;
}
