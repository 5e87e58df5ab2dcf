// Converters between the legacy metadata forms (variant trees, binary variant readers and writers) and
// the JSON form of the raw-metadata document, and the Base64 text of byte values.

#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

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

// The JSON form of one item: its suffix and its value.
void setForm(json& value, std::string& suffix, const char* itemSuffix, json itemValue) {
    suffix = itemSuffix;
    value = std::move(itemValue);
}

// ---- Variant tree to JSON.

void makeJsonFromCVkVariant_low(json& value, const CVkVariant& node, std::string& name, std::string& suffix,
                                int depth) {
    name = utf8(node.GetName());
    suffix.clear();
    if (holds<bool>(node))
        return setForm(value, suffix, "bol", node.GetBool());
    if (holds<int>(node))
        return setForm(value, suffix, "i32", static_cast<std::int64_t>(node.GetVk_int32()));
    if (holds<unsigned int>(node))
        return setForm(value, suffix, "u32", static_cast<std::uint64_t>(node.GetVk_uint32()));
    if (holds<long>(node))
        return setForm(value, suffix, "i64", static_cast<std::int64_t>(node.GetVk_int64()));
    if (holds<unsigned long>(node))
        return setForm(value, suffix, "u64", static_cast<std::uint64_t>(node.GetVk_uint64()));
    if (holds<double>(node))
        return setForm(value, suffix, "dbl", node.GetDouble());
    if (holds<CVkStringW>(node))
        return setForm(value, suffix, "str", utf8(node.GetCVkStringW()));
    if (holds<CVkByteArray>(node)) {
        const CVkByteArray bytes = node.GetCVkByteArray();
        return setForm(value, suffix, "bar", encodeBase64(bytes.GetData(), bytes.GetSize()));
    }
    // Anything else but a list (no value, a pointer) has no JSON form: the suffix stays empty.
    if (node.GetCount() < 0)
        return;
    // Trees read from files are capped at this depth; one built deeper in code is refused rather than
    // walked into the end of the stack.
    if (depth >= CVkVariant::kMaxNestingDepth)
        throw std::runtime_error("makeJsonFromCVkVariant: tree nested deeper than " +
                                 std::to_string(CVkVariant::kMaxNestingDepth) + " levels");
    json members;
    std::string memberName, memberSuffix;
    for (int i = 0; i < node.GetCount(); ++i) {
        json member;
        makeJsonFromCVkVariant_low(member, node[i], memberName, memberSuffix, depth + 1);
        if (memberSuffix.empty())
            continue;
        if (memberName.empty() || memberName == "no_name")
            memberName = makeJsonArrayNameFromIndex(static_cast<unsigned>(i));
        members[makeJsonItemName(memberName, memberSuffix)] = std::move(member);
    }
    if (!members.is_null())
        setForm(value, suffix, "dic", std::move(members));
}

// ---- Binary reader to JSON.

void makeJsonFromCVkLiteVariantR_low(json& value, CVkLiteVariantR& reader, std::string& name,
                                     std::string& suffix) {
    name = utf8(reader.GetCurrentName());
    suffix.clear();
    switch (reader.GetCurrentType()) {
    case Lite::kBool:
        return setForm(value, suffix, "bol", reader.GetCurrentValue(false));
    case Lite::kInt32:
        return setForm(value, suffix, "i32", static_cast<std::int64_t>(reader.GetCurrentValue(0)));
    case Lite::kUInt32:
        return setForm(value, suffix, "u32", static_cast<std::uint64_t>(reader.GetCurrentValue(0u)));
    case Lite::kInt64:
        return setForm(value, suffix, "i64", static_cast<std::int64_t>(reader.GetCurrentValue(0L)));
    case Lite::kUInt64:
        return setForm(value, suffix, "u64", static_cast<std::uint64_t>(reader.GetCurrentValue(0UL)));
    case Lite::kDouble:
        return setForm(value, suffix, "dbl", reader.GetCurrentValue(0.0));
    case Lite::kString: {
        CVkStringW text;
        return setForm(value, suffix, "str", utf8(reader.GetCurrentValueCVkStringW(text, L"")));
    }
    case Lite::kBytes: {
        CVkByteArray bytes;
        if (reader.GetCurrentValue(bytes) == 0 && bytes.GetSize() != 0)
            setForm(value, suffix, "bar", encodeBase64(bytes.GetData(), bytes.GetSize()));
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
        throw std::runtime_error("makeJsonFromCVkLiteVariantR: level \"" + name +
                                 "\" is damaged or nested too deep to be entered");
    // Left in every case, so that the cursor stands on the level again, also when the walk throws.
    struct Leave {
        CVkLiteVariantR& reader;
        ~Leave() { reader.LevelEnd(); }
    } leave{reader};
    // Its items must be exactly the count it states: the level's extent, and so where its next sibling
    // starts, follows from that count, and a damaged item would end the walk with the rest unread.
    // Anything else is refused rather than read as a shorter part.
    const auto damaged = [&name, count](const std::string& what) {
        return std::runtime_error("makeJsonFromCVkLiteVariantR: level \"" + name + "\" of " +
                                  std::to_string(count) + " items " + what);
    };
    reader.FirstValue();
    json members;
    std::string memberName, memberSuffix;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (reader.GetCurrentType() == 0)
            throw damaged("ends, or holds a damaged item, at item " + std::to_string(i));
        json member;
        makeJsonFromCVkLiteVariantR_low(member, reader, memberName, memberSuffix);
        if (memberName.empty())
            memberName = makeJsonArrayNameFromIndex(i);
        members[makeJsonItemName(memberName, memberSuffix)] = std::move(member);
        if (reader.NextValue() != 0)
            throw damaged("cannot be read past item " + std::to_string(i));
    }
    if (reader.IsNextValue())
        throw damaged("holds more items than that");
    if (!members.is_null())
        setForm(value, suffix, "dic", std::move(members));
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

// Where the walk of a JSON-to-legacy converter stands, for the messages of what it refuses: the operation,
// the keys from the converted value down to the current member, and the longest name (in UTF-16 units)
// that the target form stores, 0 for no limit.
struct WalkPath {
    const char* operation;
    std::size_t maxNameUnits;
    std::vector<const std::string*> keys;

    [[noreturn]] void refuse(const std::string& what) const {
        std::string path;
        for (const std::string* key : keys)
            path += (path.empty() ? "" : "/") + *key;
        throw std::runtime_error(std::string(operation) + ": \"" + path + "\" " + what);
    }
};

std::size_t utf16Units(const CVkStringW& text) {
    std::size_t units = 0;
    for (const wchar_t* p = text.GetString(); p && *p; ++p)
        units += static_cast<std::uint32_t>(*p) >= 0x10000 ? 2 : 1;
    return units;
}

// The name of a member as the legacy forms store it. A NUL would end it there, and a name longer than the
// form holds would be cut, so that two keys could meet in one name: both are refused.
CVkStringW storedName(const std::string& name, const WalkPath& path) {
    if (name.find('\0') != std::string::npos)
        path.refuse("has a name with a NUL character, which cannot be stored");
    CVkStringW stored(name.c_str());
    if (path.maxNameUnits != 0)
        if (const std::size_t units = utf16Units(stored); units > path.maxNameUnits)
            path.refuse("has a name of " + std::to_string(units) + " UTF-16 units; at most " +
                        std::to_string(path.maxNameUnits) + " can be stored");
    return stored;
}

// The walk both JSON-to-legacy converters share: level(name, members) for each object or array member,
// value(name, variant) for each other member whose suffix names a kind; members of other suffixes are
// skipped. Keys are split at their last "_"; iterating a value that is not an object raises the
// library's invalid-iterator error 207 at key(). A string with a NUL, which the legacy forms would end
// there, is refused.
template <class Level, class Value>
void forEachMember(const json& in, WalkPath& path, Level&& level, Value&& value) {
    if (in.is_null())
        return;
    for (auto it = in.begin(); it != in.end(); ++it) {
        const std::string& key = it.key();
        path.keys.push_back(&key);
        std::string suffix;
        const std::string itemName = makeVariantItemName(key, suffix);
        if (it->is_object() || it->is_array()) {
            level(storedName(itemName, path), *it);
        } else if (const Kind kind = kindOfSuffix(suffix); kind != Kind::None) {
            if (kind == Kind::String && it->is_string() &&
                it->get_ref<const std::string&>().find('\0') != std::string::npos)
                path.refuse("holds a string with a NUL character, which cannot be stored");
            value(storedName(itemName, path), variantOf(kind, *it));
        }
        path.keys.pop_back();
    }
}

void jsonToTree(CVkVariant& out, const json& in, WalkPath& path) {
    // Members are built with type change on: a later key of the same name may replace a member by one
    // of another kind.
    forEachMember(
        in, path,
        [&](const CVkStringW& name, const json& members) {
            CVkVariant child;
            child.EnableTypeChange(true);
            jsonToTree(child, members, path);
            out.SetOrAppend(name, child);
        },
        [&](const CVkStringW& name, CVkVariant child) {
            child.EnableTypeChange(true);
            out.SetOrAppend(name, child);
        });
}

// A writer step that failed loses what it was to write: refused with the writer's reason.
void requireWritten(int result, const WalkPath& path) {
    if (result == 0)
        return;
    path.refuse(result == -3   ? "could not be written: out of memory"
                : result == -9 ? "could not be written: the binary form holds a single level at its top"
                               : "could not be written (writer result " + std::to_string(result) + ")");
}

void makeCVkLiteVariantWFromJson_low(CVkLiteVariantW& writer, const json& in, WalkPath& path) {
    forEachMember(
        in, path,
        [&](const CVkStringW& name, const json& members) {
            requireWritten(writer.LevelBegin(name), path);
            makeCVkLiteVariantWFromJson_low(writer, members, path);
            requireWritten(writer.LevelEnd(), path);
        },
        [&](const CVkStringW& name, const CVkVariant& item) {
            requireWritten(writer.Set(item, name.GetString()), path);
        });
}

} // namespace

void makeJsonFromCVkVariant(json& out, const CVkVariant& root) {
    if (!root.GetData())
        return;
    json value;
    std::string name, suffix;
    makeJsonFromCVkVariant_low(value, root, name, suffix, 0);
    if (!name.empty())
        out[makeJsonItemName(name, suffix)] = std::move(value);
}

void makeCVkVariantFromJson(CVkVariant& out, const json& in) {
    requireLevels(in, CVkVariant::kMaxNestingDepth, "makeCVkVariantFromJson");
    WalkPath path{"makeCVkVariantFromJson", 0, {}};
    jsonToTree(out, in, path);
}

void makeJsonFromCVkLiteVariantR(json& out, const CVkLiteVariantR& reader) {
    if (reader.GetSize() == 0 || !reader.GetData())
        return;
    // Reading moves the cursor, which is all that changes; it stands on the item again afterwards.
    auto& r = const_cast<CVkLiteVariantR&>(reader);
    json value;
    std::string name, suffix;
    makeJsonFromCVkLiteVariantR_low(value, r, name, suffix);
    out[makeJsonItemName(name, suffix)] = std::move(value);
}

void makeCVkLiteVariantWFromJson(CVkLiteVariantW& writer, const json& in) {
    // A level deeper than a reader enters would be written but never read back.
    requireLevels(in, static_cast<int>(Lite::kMaxDepth), "makeCVkLiteVariantWFromJson");
    WalkPath path{"makeCVkLiteVariantWFromJson", Lite::kMaxNameLen, {}};
    makeCVkLiteVariantWFromJson_low(writer, in, path);
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
