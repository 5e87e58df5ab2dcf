// Reads arbitrary bytes as a binary variant buffer the way clients do: the whole walk (which inflates an
// envelope and converts an old-form root on the way), lookups by path, every getter on the items it
// reaches, its flat XML form, copies, and the editing operations that rebuild the buffer through the writer.
// A buffer that walks cleanly must walk to the same text after it is copied through the writer, plain and
// compressed. Every buffer is also read as a variant tree, which must write back and read again to the same
// tree.

#include <support/LiteVariantWalk.h>

#include <legacy/CVkAlloc.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/CVkVariant.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;

using Bytes = std::vector<std::uint8_t>;

// Whatever a reader entered, the writer writes: names and texts read from a buffer all have UTF-16 forms.
void writeTree(const ZanLegacy::CVkVariant& tree, Bytes& out) {
    CVkLiteVariantW w;
    if (w.Set(tree, nullptr) != 0)
        std::abort();
    CVkLiteVariantR r;
    if (w.Finalize(r, 0) != 0)
        std::abort();
    out.assign(r.GetData(), r.GetData() + r.GetSize());
}

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

// A plain list whose first member is a string named "__m_runType" reads back without it: the format
// takes such an item for a record type.
bool startsWithRunTypeItem(const ZanLegacy::CVkVariant& v) {
    if (v.GetCount() <= 0)
        return false;
    const ZanLegacy::CVkVariant& first = *v.IndexPtr(0);
    if (first.GetName() == L"__m_runType" && first.GetCount() < 0 &&
        first.GetRunType() == ZanLegacy::CVkVariantRunType("CVkStringW"))
        return true;
    for (int i = 0; i < v.GetCount(); ++i)
        if (startsWithRunTypeItem(*v.IndexPtr(i)))
            return true;
    return false;
}

// The tree of the item at the cursor, written back and read again: the same buffer both times.
void treeRoundTrip(CVkLiteVariantR& r) {
    ZanLegacy::CVkVariant tree;
    const int rc = r.GetCurrentValue(tree);
    if (rc != 0 && rc != -9)
        std::abort();
    if (rc != 0)
        return;
    Bytes first;
    writeTree(tree, first);
    if (startsWithRunTypeItem(tree))
        return;
    CVkLiteVariantR back;
    load(back, first.data(), first.size());
    ZanLegacy::CVkVariant again;
    Bytes second;
    if (back.GetCurrentValue(again) != 0)
        std::abort();
    writeTree(again, second);
    if (second != first)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    CVkLiteVariantR r;
    load(r, data, size);
    std::wstring first;
    const int walked = lite_walk::walkAll(r, first);
    r.Reset();
    treeRoundTrip(r);
    if (r.IsNextValue() && r.CurrentLevelBegin() == 0) {
        treeRoundTrip(r); // a tree from inside a level
        r.Reset();
    }

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
