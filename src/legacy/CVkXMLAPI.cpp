#include <legacy/CVkXMLAPI.h>

#include <legacy/CVkStringA.h>

#include <expat.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace ZanLegacy {
namespace {

// The references that escaping writes and unescaping replaces, in the order of replacement, and the
// characters they stand for.
constexpr const wchar_t* kReferences[] = {L"&#x003C;", L"&#x0022;", L"&#x000d;", L"&#x000a;", L"&#x0026;"};
constexpr wchar_t kReferenced[] = {L'<', L'"', L'\r', L'\n', L'&'};
constexpr std::size_t kReferenceCount = sizeof(kReferenced) / sizeof(kReferenced[0]);
constexpr std::size_t kReferenceLength = 8;

// Control characters that XML cannot carry in an attribute are moved to this private-use block.
constexpr std::uint32_t kControlBase = 0xF0000;

bool beginsReference(const wchar_t* p) {
    for (const wchar_t* reference : kReferences)
        if (std::wcsncmp(p, reference, kReferenceLength) == 0)
            return true;
    return false;
}

// Code points that an XML document cannot hold at all, not even as a character reference.
bool outsideXml(std::uint32_t c) {
    return (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF;
}

bool isPlainList(const CVkVariant& node) {
    return node.GetRunType().GetName() == "CVkListVariant";
}

// A node of the kind that a runtype attribute names: a string when there is none, a node without a
// value for "unknown", a registered run type as such, anything else a plain list.
CVkVariant makeNode(const CVkStringA& runtype, const CVkStringW& name) {
    if (runtype.IsEmpty())
        return CVkVariant(CVkStringW(), name);
    if (runtype == "unknown") {
        CVkVariant none;
        none.SetName(name);
        return none;
    }
    const CVkVariantRunType type(runtype);
    if (CVkVariant::GetRunTypeIndex(type, false) != 0xFFFFFFFFu)
        return CVkVariant(type, name);
    return CVkVariant(CVkVariantDataCVkListVariant::GetOrigRunType(), name);
}

// The first of the first count elements of list that is named name, or null.
CVkVariant* findAmongFirst(CVkVariant& list, const wchar_t* name, int count) {
    for (int i = 0; i < count; ++i) {
        CVkVariant* element = list.IndexPtr(i);
        if (element && element->GetName() == name)
            return element;
    }
    return nullptr;
}

} // namespace

void SVkXMLParseState::Fail(int failure) {
    if (status == kParsing || status == kDone)
        status = failure;
    if (parser)
        XML_StopParser(static_cast<XML_Parser>(parser), XML_FALSE);
}

void CVkXMLAPI::StartElement(void* statePtr, const wchar_t* name, const wchar_t** attributes) {
    auto& state = *static_cast<SVkXMLParseState*>(statePtr);
    if (state.status != SVkXMLParseState::kParsing)
        return;
    CVkVariant& root = *state.root;

    if (state.depth == -1) {
        bool versioned = false;
        for (const wchar_t** a = attributes; a && a[0] && a[1]; a += 2)
            if (zan_wcsicmp(a[0], L"version") == 0 && zan_wcsicmp(a[1], L"1.0") == 0)
                versioned = true;
        if (zan_wcsicmp(name, L"variant") == 0 && versioned) {
            state.depth = 0;
            return;
        }
        const bool previous = root.EnableTypeChange(true);
        root.MakeNull();
        root.EnableTypeChange(previous);
        state.Fail(zan_wcsicmp(name, L"variant") == 0 ? SVkXMLParseState::kBadVersion
                                                      : SVkXMLParseState::kNotVariant);
        return;
    }
    if (state.depth >= SVkXMLParseState::kMaxDepth) {
        state.Fail(SVkXMLParseState::kTooDeep);
        return;
    }

    CVkStringA runtype;
    const wchar_t* value = nullptr;
    for (const wchar_t** a = attributes; a && a[0] && a[1]; a += 2) {
        if (zan_wcsicmp(a[0], L"runtype") == 0)
            runtype = a[1];
        else if (zan_wcsicmp(a[0], L"value") == 0)
            value = a[1];
    }
    const CVkStringW elementName(name);

    SVkXMLParseState::Entry entry{nullptr, 0, nullptr};
    if (state.depth == 0) {
        state.savedTypeChange = root.EnableTypeChange(true);
        state.rootEntered = true;
        root.MakeNull();
        root = makeNode(runtype, elementName);
        root.SetName(elementName);
        entry.node = &root;
    } else {
        CVkVariant& parent = *state.stack.back().node;
        const int parentMarker = state.stack.back().marker;
        if (!isPlainList(parent)) {
            // A record takes only its own members; a scalar or a node without a value takes nothing.
            entry.node = parent.SearchFixedOneLevel(name);
        } else {
            if (parentMarker > 0)
                entry.node = findAmongFirst(parent, name, parentMarker);
            if (!entry.node) {
                CVkVariant& added = parent.Append(makeNode(runtype, elementName));
                if (&added != &undefVariant())
                    entry.node = &added;
            }
        }
        if (!entry.node) {
            entry.owned = std::make_unique<CVkVariant>(makeNode(runtype, elementName));
            entry.node = entry.owned.get();
        }
    }
    entry.marker = entry.owned ? SVkXMLParseState::kDiscard : entry.node->GetCount();

    if (value) {
        CVkStringW text(value);
        if (entry.node->GetRunType().GetName() == "CVkStringW")
            RevalidateXML_AttValue(text);
        entry.node->Read(text);
    }
    state.stack.push_back(std::move(entry));
    ++state.depth;
}

void CVkXMLAPI::EndElement(void* statePtr, const wchar_t* /*name*/) {
    auto& state = *static_cast<SVkXMLParseState*>(statePtr);
    if (state.status != SVkXMLParseState::kParsing)
        return;
    --state.depth;
    if (state.depth >= 1) {
        state.stack.pop_back(); // destroys a discarded node with its subtree
    } else if (state.depth == 0) {
        state.root->EnableTypeChange(state.savedTypeChange);
        state.rootEntered = false;
        state.status = SVkXMLParseState::kDone;
    }
}

void CVkXMLAPI::ValidateXML_AttValue(CVkStringW& value) {
    const wchar_t* text = value.GetString();
    std::wstring out;
    out.reserve(value.GetLength());
    for (const wchar_t* p = text; *p; ++p) {
        const auto c = static_cast<std::uint32_t>(*p);
        switch (c) {
        case '<':
            out += kReferences[0];
            break;
        case '"':
            out += kReferences[1];
            break;
        case '\r':
            out += kReferences[2];
            break;
        case '\n':
            out += kReferences[3];
            break;
        case '\t':
            // A literal TAB would reach the reader as a blank (attribute value normalisation).
            out += L"&#x0009;";
            break;
        case '&':
            out += kReferences[4];
            // The parser decodes the reference, then unescaping replaces the reference texts once
            // more; an ampersand that begins such a text in the value is written so that it comes
            // out of the parser as "&#x0026;" and out of unescaping as itself.
            if (beginsReference(p))
                out += kReferences[4] + 1;
            break;
        default:
            if (c < 32)
                out += static_cast<wchar_t>(kControlBase + c);
            else if (outsideXml(c))
                out += L'\xFFFD';
            else
                out += static_cast<wchar_t>(c);
        }
    }
    value = out;
}

void CVkXMLAPI::RevalidateXML_AttValue(CVkStringW& value) {
    std::wstring text(value.GetString(), value.GetLength());
    bool changed = false;
    for (wchar_t& ch : text) {
        const auto c = static_cast<std::uint32_t>(ch);
        if (c >= kControlBase && c < kControlBase + 32) {
            const std::uint32_t control = c - kControlBase;
            if (control != '\t' && control != '\n' && control != '\r') {
                ch = static_cast<wchar_t>(control);
                changed = true;
            }
        }
    }
    if (changed)
        value = text;
    if (value.Find(L'&') < 0)
        return;
    for (std::size_t i = 0; i < kReferenceCount; ++i) {
        const wchar_t replacement[2] = {kReferenced[i], 0};
        value.Replace(kReferences[i], replacement);
    }
}

} // namespace ZanLegacy
