// Converters between the legacy metadata forms (variant trees, binary variant readers and writers) and
// the JSON form of the raw-metadata document, and the Base64 text of byte values.

#include <metadata/JsonBridge.h>

#include <legacy/Base64Coder.h>
#include <legacy/CVkByteArray.h>
#include <legacy/CVkLiteVariantFormat.h>
#include <legacy/CVkLiteVariantR.h>
#include <legacy/CVkLiteVariantW.h>
#include <legacy/CVkStringW.h>
#include <legacy/CVkVariant.h>
#include <legacy/CVkVariantData.h>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

namespace Zan {
namespace JsonMetadata {

namespace {

using ZanLegacy::CVkByteArray;
using ZanLegacy::CVkLiteVariantR;
using ZanLegacy::CVkLiteVariantW;
using ZanLegacy::CVkStringW;
using ZanLegacy::CVkVariant;
using ZanLegacy::CVkVariantDataT;
namespace Lite = ZanLegacy::LiteVariant;

// The legacy item kinds that have a JSON form, by suffix.
enum class Kind { None, Bool, Int32, UInt32, Int64, UInt64, Double, String, Bytes };

Kind kindOfSuffix(const std::string& suffix) {
    static const struct {
        const char* suffix;
        Kind kind;
    } kinds[] = {{"bol", Kind::Bool},   {"i32", Kind::Int32},  {"u32", Kind::UInt32}, {"i64", Kind::Int64},
                 {"u64", Kind::UInt64}, {"dbl", Kind::Double}, {"str", Kind::String}, {"bar", Kind::Bytes}};
    for (const auto& k : kinds)
        if (suffix == k.suffix)
            return k.kind;
    return Kind::None;
}

template <class T>
bool holds(const CVkVariant& node) {
    return node.GetRunType() == CVkVariantDataT<T>::GetClassRunType();
}

std::string utf8(const CVkStringW& text) {
    return text.GetUtf8();
}

// ---- Variant tree to JSON.

void treeToJson(json& value, const CVkVariant& node, std::string& name, std::string& suffix, int depth) {
    name = utf8(node.GetName());
    suffix.clear();
    if (holds<bool>(node)) {
        suffix = "bol";
        value = node.GetBool();
    } else if (holds<int>(node)) {
        suffix = "i32";
        value = static_cast<std::int64_t>(node.GetVk_int32());
    } else if (holds<unsigned int>(node)) {
        suffix = "u32";
        value = static_cast<std::uint64_t>(node.GetVk_uint32());
    } else if (holds<long>(node)) {
        suffix = "i64";
        value = static_cast<std::int64_t>(node.GetVk_int64());
    } else if (holds<unsigned long>(node)) {
        suffix = "u64";
        value = static_cast<std::uint64_t>(node.GetVk_uint64());
    } else if (holds<double>(node)) {
        suffix = "dbl";
        value = node.GetDouble();
    } else if (holds<CVkStringW>(node)) {
        suffix = "str";
        value = utf8(node.GetCVkStringW());
    } else if (holds<CVkByteArray>(node)) {
        suffix = "bar";
        const CVkByteArray bytes = node.GetCVkByteArray();
        value = encodeBase64(bytes.GetData(), bytes.GetSize());
    } else if (node.GetCount() >= 0) {
        // Trees read from files are capped at this depth; one built deeper in code is refused rather
        // than walked into the end of the stack.
        if (depth >= CVkVariant::kMaxNestingDepth)
            throw std::runtime_error("makeJsonFromCVkVariant: tree nested deeper than " +
                                     std::to_string(CVkVariant::kMaxNestingDepth) + " levels");
        json members;
        std::string memberName, memberSuffix;
        for (int i = 0; i < node.GetCount(); ++i) {
            json member;
            treeToJson(member, node[i], memberName, memberSuffix, depth + 1);
            if (memberSuffix.empty())
                continue;
            if (memberName.empty() || memberName == "no_name")
                memberName = makeJsonArrayNameFromIndex(i);
            members[makeJsonItemName(memberName, memberSuffix)] = std::move(member);
        }
        if (!members.is_null()) {
            suffix = "dic";
            value = std::move(members);
        }
    }
    // Anything else (no value, a pointer) has no JSON form: the suffix stays empty.
}

// ---- Binary reader to JSON.

void itemToJson(json& value, CVkLiteVariantR& reader, std::string& name, std::string& suffix) {
    name = utf8(reader.GetCurrentName());
    suffix.clear();
    switch (reader.GetCurrentType()) {
    case Lite::kBool:
        suffix = "bol";
        value = reader.GetCurrentValue(false);
        return;
    case Lite::kInt32:
        suffix = "i32";
        value = static_cast<std::int64_t>(reader.GetCurrentValue(0));
        return;
    case Lite::kUInt32:
        suffix = "u32";
        value = static_cast<std::uint64_t>(reader.GetCurrentValue(0u));
        return;
    case Lite::kInt64:
        suffix = "i64";
        value = static_cast<std::int64_t>(reader.GetCurrentValue(0L));
        return;
    case Lite::kUInt64:
        suffix = "u64";
        value = static_cast<std::uint64_t>(reader.GetCurrentValue(0UL));
        return;
    case Lite::kDouble:
        suffix = "dbl";
        value = reader.GetCurrentValue(0.0);
        return;
    case Lite::kString: {
        CVkStringW text;
        suffix = "str";
        value = utf8(reader.GetCurrentValueCVkStringW(text, L""));
        return;
    }
    case Lite::kBytes: {
        CVkByteArray bytes;
        if (reader.GetCurrentValue(bytes) == 0 && bytes.GetSize() != 0) {
            suffix = "bar";
            value = encodeBase64(bytes.GetData(), bytes.GetSize());
        }
        return;
    }
    case Lite::kLevelOld: // an old-form root converts on entry
    case Lite::kLevel:
        break;
    default:
        return; // pointers and unknown codes have no JSON form
    }

    // The level at the cursor is entered as it stands: its name is never taken for a path, so a level
    // named "\..." or sharing its name with an earlier sibling is read as itself.
    std::uint32_t count = 0;
    if (reader.CurrentLevelBegin(&count) != 0)
        return;
    reader.FirstValue();
    json members;
    std::string memberName, memberSuffix;
    for (std::uint32_t i = 0; i < count; ++i) {
        json member;
        itemToJson(member, reader, memberName, memberSuffix);
        if (memberName.empty())
            memberName = makeJsonArrayNameFromIndex(static_cast<int>(i));
        members[makeJsonItemName(memberName, memberSuffix)] = std::move(member);
        if (reader.NextValue() != 0)
            break;
    }
    if (!members.is_null()) {
        suffix = "dic";
        value = std::move(members);
    }
    reader.LevelEnd();
}

// ---- JSON to legacy.

// Levels of objects and arrays below value, or room + 1 when there are more than room. Looks no deeper
// than room, so that a value of any depth is measured without deep recursion.
int levelsBelow(const json& value, int room) {
    int deepest = 0;
    if (value.is_object() || value.is_array())
        for (const json& member : value)
            if (member.is_object() || member.is_array()) {
                if (room <= 0)
                    return room + 1;
                const int levels = 1 + levelsBelow(member, room - 1);
                if (levels > room)
                    return room + 1;
                deepest = std::max(deepest, levels);
            }
    return deepest;
}

// Refuses, before anything is converted, a value whose levels the legacy form would not read back (or
// that would be walked into the end of the stack).
void requireLevels(const json& in, int limit, const char* operation) {
    if (levelsBelow(in, limit) > limit)
        throw std::runtime_error(std::string(operation) + ": objects nested deeper than " +
                                 std::to_string(limit) + " levels");
}

CVkByteArray byteArrayOf(const json& text) {
    // A variant tree gives an empty byte array a null value: it writes back as an empty byte array.
    const std::vector<unsigned char> bytes =
        text.is_null() ? std::vector<unsigned char>() : decodeBase64(text);
    return CVkByteArray(bytes.data(), static_cast<unsigned long>(bytes.size()), 1024);
}

// One value of the given kind, read from its JSON value by the rules both writers share: numbers of any
// JSON kind for every numeric suffix (converted without undefined behaviour), booleans also for "i32" and
// "u32", JSON booleans only for "bol", strings for "str" and "bar".
CVkVariant variantOf(Kind kind, const json& value) {
    switch (kind) {
    case Kind::Bool:
        return CVkVariant(value.get<bool>(), CVkStringW());
    case Kind::Int32:
        return CVkVariant(static_cast<int>(jsonToInt32(value)), CVkStringW());
    case Kind::UInt32:
        return CVkVariant(static_cast<unsigned int>(jsonToUint32(value)), CVkStringW());
    case Kind::Int64:
        return CVkVariant(static_cast<long>(jsonToInt64(value)), CVkStringW());
    case Kind::UInt64:
        return CVkVariant(static_cast<unsigned long>(jsonToUint64(value)), CVkStringW());
    case Kind::Double:
        return CVkVariant(value.get<double>(), CVkStringW());
    case Kind::String:
        return CVkVariant(CVkStringW(value.get<std::string>().c_str()), CVkStringW());
    case Kind::Bytes:
        return CVkVariant(byteArrayOf(value), CVkStringW());
    case Kind::None:
        break;
    }
    return CVkVariant();
}

void jsonToTree(CVkVariant& out, const json& in) {
    if (in.is_null())
        return;
    for (auto it = in.begin(); it != in.end(); ++it) {
        std::string suffix;
        const std::string name = makeVariantItemName(it.key(), suffix);
        const CVkStringW wideName(name.c_str());
        if (it->is_object() || it->is_array()) {
            CVkVariant child;
            child.EnableTypeChange(true);
            jsonToTree(child, *it);
            out.SetOrAppend(wideName, child);
            continue;
        }
        const Kind kind = kindOfSuffix(suffix);
        if (kind == Kind::None)
            continue;
        CVkVariant child = variantOf(kind, *it);
        // The member replaced by a later key of the same name may be of another kind.
        child.EnableTypeChange(true);
        out.SetOrAppend(wideName, child);
    }
}

void jsonToWriter(CVkLiteVariantW& writer, const json& in) {
    if (in.is_null())
        return;
    for (auto it = in.begin(); it != in.end(); ++it) {
        std::string suffix;
        const std::string name = makeVariantItemName(it.key(), suffix);
        const CVkStringW wideName(name.c_str());
        if (it->is_object() || it->is_array()) {
            writer.LevelBegin(wideName);
            jsonToWriter(writer, *it);
            writer.LevelEnd();
            continue;
        }
        const Kind kind = kindOfSuffix(suffix);
        if (kind != Kind::None)
            writer.Set(variantOf(kind, *it), wideName.GetString());
    }
}

} // namespace

void makeJsonFromCVkVariant(json& out, const CVkVariant& root) {
    if (!root.GetData())
        return;
    json value;
    std::string name, suffix;
    treeToJson(value, root, name, suffix, 0);
    if (!name.empty())
        out[makeJsonItemName(name, suffix)] = std::move(value);
}

void makeCVkVariantFromJson(CVkVariant& out, const json& in) {
    requireLevels(in, CVkVariant::kMaxNestingDepth, "makeCVkVariantFromJson");
    jsonToTree(out, in);
}

void makeJsonFromCVkLiteVariantR(json& out, const CVkLiteVariantR& reader) {
    if (reader.GetSize() == 0 || !reader.GetData())
        return;
    // Reading moves the cursor, which is all that changes; it stands on the item again afterwards.
    auto& r = const_cast<CVkLiteVariantR&>(reader);
    json value;
    std::string name, suffix;
    itemToJson(value, r, name, suffix);
    out[makeJsonItemName(name, suffix)] = std::move(value);
}

void makeCVkLiteVariantWFromJson(CVkLiteVariantW& writer, const json& in) {
    // A level deeper than a reader enters would be written but never read back.
    requireLevels(in, static_cast<int>(Lite::kMaxDepth), "makeCVkLiteVariantWFromJson");
    jsonToWriter(writer, in);
}

json encodeBase64(const void* data, std::uint64_t size) {
    if (!data || size == 0)
        return nullptr;
    // The coder's text length is 32-bit.
    if (size > UINT_MAX / 4 * 3)
        throw std::length_error("encodeBase64: " + std::to_string(size) + " bytes do not fit a Base64 text");
    ZanLegacy::Base64Coder coder;
    coder.Encode(static_cast<const unsigned char*>(data), static_cast<unsigned long>(size));
    unsigned int n = 0;
    const unsigned char* text = coder.EncodedBuffer(&n);
    // The coder encodes nothing when it cannot have its buffers; an empty text would lose the bytes.
    if (!text || std::uint64_t(n) != (size + 2) / 3 * 4)
        throw std::bad_alloc();
    return std::string(reinterpret_cast<const char*>(text), n);
}

std::vector<unsigned char> decodeBase64(const json& text) {
    if (!text.is_string())
        text.get<std::string>(); // raises the library's type error 302
    const std::string& s = text.get_ref<const std::string&>();
    if (s.size() > UINT_MAX)
        throw std::length_error("decodeBase64: a text of " + std::to_string(s.size()) + " characters");
    ZanLegacy::Base64Coder coder;
    coder.DecodeA(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned int>(s.size()));
    unsigned long n = 0;
    const unsigned char* bytes = coder.DecodedBuffer(&n);
    if (!bytes || n == 0)
        return {};
    return std::vector<unsigned char>(bytes, bytes + n);
}

} // namespace JsonMetadata
} // namespace Zan
