#include <legacy/CVkSerializerXMLString.h>

#include <legacy/CVkStringUtils.h>
#include <legacy/CVkVariant.h>
#include <legacy/CVkXMLAPI.h>
#include <legacy/VkDiagnostics.h>

#include <io/StringConversions.h>

#include <expat.h>

#include <climits>
#include <mutex>
#include <string>
#include <vector>

namespace ZanLegacy {
namespace {

constexpr const wchar_t kDocumentStart[] = L"<variant version=\"1.0\">";
constexpr const wchar_t kDocumentEnd[] = L"</variant>";

// The expat callbacks: they hand wide text to the element handlers and keep every C++ exception on
// this side of the parser, stopping it instead.
void XMLCALL onStartElement(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto& state = *static_cast<SVkXMLParseState*>(user);
    try {
        const std::wstring wideName = Zan::StringConversions::utf8_to_wstring(name);
        std::vector<std::wstring> texts;
        for (const XML_Char** a = attributes; *a; ++a)
            texts.push_back(Zan::StringConversions::utf8_to_wstring(*a));
        std::vector<const wchar_t*> pointers;
        pointers.reserve(texts.size() + 1);
        for (const std::wstring& text : texts)
            pointers.push_back(text.c_str());
        pointers.push_back(nullptr);
        CVkXMLAPI::StartElement(&state, wideName.c_str(), pointers.data());
    } catch (...) {
        state.Fail(SVkXMLParseState::kHandlerFailed);
    }
}

void XMLCALL onEndElement(void* user, const XML_Char* name) {
    auto& state = *static_cast<SVkXMLParseState*>(user);
    try {
        const std::wstring wideName = Zan::StringConversions::utf8_to_wstring(name);
        CVkXMLAPI::EndElement(&state, wideName.c_str());
    } catch (...) {
        state.Fail(SVkXMLParseState::kHandlerFailed);
    }
}

// Document type declarations would bring entities (and their expansion) into variant data.
void XMLCALL onDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<SVkXMLParseState*>(user)->Fail(SVkXMLParseState::kDeclarationRefused);
}

void XMLCALL onEntityDeclaration(void* user, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<SVkXMLParseState*>(user)->Fail(SVkXMLParseState::kDeclarationRefused);
}

void printFailure(int status) {
    switch (status) {
    case SVkXMLParseState::kDeclarationRefused:
        VkPrintDiagnostic(
            L"Error: document type and entity declarations are not accepted in XML variant data");
        break;
    case SVkXMLParseState::kTooDeep: {
        CVkStringW message;
        message.Format(L"Error: XML variant data nested deeper than %d elements",
                       SVkXMLParseState::kMaxDepth);
        VkPrintDiagnostic(message);
        break;
    }
    case SVkXMLParseState::kHandlerFailed:
        VkPrintDiagnostic(L"Error: XML variant element could not be processed");
        break;
    default:
        VkPrintDiagnostic(L"Error: structure of the data inside XML not valid");
    }
}

int parse(CVkVariant& out, const char* text, unsigned int length) {
    if (!text && length > 0)
        return -9;
    SVkXMLParseState state;
    state.root = &out;
    const XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser)
        return -9;
    state.parser = parser;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, onStartElement, onEndElement);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);
    XML_SetEntityDeclHandler(parser, onEntityDeclaration);

    // Texts longer than expat's int length go in pieces; the last one carries the final flag.
    bool parsed = true;
    unsigned int done = 0;
    do {
        const unsigned int piece = length - done > INT_MAX ? INT_MAX : length - done;
        const bool last = done + piece == length;
        parsed = XML_Parse(parser, text ? text + done : "", static_cast<int>(piece), last) == XML_STATUS_OK;
        done += piece;
    } while (parsed && done < length);
    XML_ParserFree(parser);

    if (state.rootEntered)
        out.EnableTypeChange(state.savedTypeChange);
    if (state.status < 0) {
        printFailure(state.status);
        return -9;
    }
    return parsed ? 0 : -9;
}

std::wstring wide(const CVkStringA& text) {
    CVkStringW out;
    CVkStringUtils::UTF8toW(text.GetString(), out);
    return std::wstring(out.GetString(), out.GetLength());
}

// The element name of v: validated here as well, since a copied or default-constructed node may carry
// a name that would not make a well-formed tag.
CVkStringW elementName(const CVkVariant& v) {
    CVkStringW name(v.GetName());
    CVkVariant::ValidateName(name);
    return name;
}

// The start tag of a list, or the whole empty element of any other node; true for a list.
bool appendStart(std::wstring& out, const CVkVariant& v) {
    const CVkStringW name = elementName(v);
    const CVkStringA& runtypeName = v.GetRunType().GetName();
    CVkStringW runtype(wide(runtypeName).c_str());
    CVkXMLAPI::ValidateXML_AttValue(runtype);

    out += L'<';
    out += name.GetString();
    out += L" runtype=\"";
    out += runtype.GetString();
    if (v.GetCount() >= 0) {
        out += L"\">";
        return true;
    }
    CVkStringW value;
    if (runtypeName == "double")
        value.Format(L"%.15g", v.GetDouble(nullptr));
    else
        v.Write(value);
    if (!(runtypeName == "CVkByteArray"))
        CVkXMLAPI::ValidateXML_AttValue(value);
    out += L"\" value=\"";
    out += value.GetString();
    out += L"\"/>";
    return false;
}

void appendElement(std::wstring& out, const CVkVariant& root) {
    // Document order with a stack of open lists instead of recursion: trees built in code may be
    // nested deeper than the stack would allow.
    struct Open {
        const CVkVariant* list;
        int next;
    };
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    std::vector<Open> open;
    if (appendStart(out, root))
        open.push_back({&root, 0});
    while (!open.empty()) {
        Open& top = open.back();
        if (const CVkVariant* element =
                top.next < top.list->GetCount() ? top.list->IndexPtr(top.next++) : nullptr) {
            if (appendStart(out, *element))
                open.push_back({element, 0});
            continue;
        }
        out += L"</";
        out += elementName(*top.list).GetString();
        out += L'>';
        open.pop_back();
    }
}

std::wstring element(const CVkVariant& v) {
    std::wstring out;
    appendElement(out, v);
    return out;
}

// The node of a parameter, or null.
const CVkVariant* parameter(const CVkVariant& params, const wchar_t* name) {
    return params.Search(name, static_cast<const wchar_t*>(nullptr));
}

// The pointer a parameter holds; null when it is not a voidPtr.
void* pointer(const CVkVariant& node) {
    if (!(node.GetRunType().GetName() == "voidPtr"))
        return nullptr;
    return node.GetVoidPtr(nullptr);
}

} // namespace

IVkSerializer::~IVkSerializer() = default;

CVkSerializerXMLString::CVkSerializerXMLString() = default;
CVkSerializerXMLString::~CVkSerializerXMLString() = default;

int CVkSerializerXMLString::Load(CVkVariant& out, const CVkVariant& params) {
    const CVkVariant* length = parameter(params, L"rawStringLen");
    if (const CVkVariant* p = parameter(params, L"string")) {
        const auto* text = static_cast<const CVkStringW*>(pointer(*p));
        return text ? VariantFromXML(out, *text) : -4;
    }
    if (const CVkVariant* p = parameter(params, L"rawString")) {
        if (!length)
            return -9;
        const auto* text = static_cast<const wchar_t*>(pointer(*p));
        return text ? VariantFromXML(out, text, length->GetVk_uint32(nullptr)) : -4;
    }
    if (const CVkVariant* p = parameter(params, L"stringUTF8")) {
        const auto* text = static_cast<const CVkStringA*>(pointer(*p));
        return text ? VariantFromXML_UTF8(out, *text) : -4;
    }
    if (const CVkVariant* p = parameter(params, L"rawStringUTF8")) {
        if (!length)
            return -9;
        const auto* text = static_cast<const char*>(pointer(*p));
        return text ? VariantFromXML_UTF8(out, text, length->GetVk_uint32(nullptr)) : -4;
    }
    return -4;
}

int CVkSerializerXMLString::Save(CVkVariant& params, const CVkVariant& in) {
    if (const CVkVariant* p = parameter(params, L"string")) {
        auto* target = static_cast<CVkStringW*>(pointer(*p));
        if (!target)
            return -4;
        CVkStringW document(L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
        document += kDocumentStart;
        VariantToXML(document, in);
        document += kDocumentEnd;
        *target = document;
        return 0;
    }
    if (const CVkVariant* p = parameter(params, L"stringUTF8")) {
        auto* target = static_cast<CVkStringA*>(pointer(*p));
        if (!target)
            return -4;
        CVkStringA document("<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">");
        VariantToXML_UTF8(document, in);
        document += "</variant>";
        *target = document;
        return 0;
    }
    return -4;
}

int CVkSerializerXMLString::VariantFromXML_UTF8(CVkVariant& out, const char* text, unsigned int length) {
    return parse(out, text, length);
}

int CVkSerializerXMLString::VariantFromXML_UTF8(CVkVariant& out, const CVkStringA& text) {
    const CVkStringA copy(text);
    return parse(out, copy.GetString(), static_cast<unsigned int>(copy.GetLength()));
}

int CVkSerializerXMLString::VariantFromXML(CVkVariant& out, const wchar_t* text, unsigned int /*length*/) {
    if (!text)
        return -9;
    CVkStringA utf8;
    CVkStringUtils::WtoUTF8(text, utf8);
    return parse(out, utf8.GetString(), static_cast<unsigned int>(utf8.GetLength()));
}

int CVkSerializerXMLString::VariantFromXML(CVkVariant& out, const CVkStringW& text) {
    const CVkStringW copy(text);
    return VariantFromXML(out, copy.GetString(), static_cast<unsigned int>(copy.GetLength()));
}

int CVkSerializerXMLString::VariantToXML_UTF8(CVkStringA& out, const CVkVariant& v) {
    CVkStringA utf8;
    CVkStringUtils::WtoUTF8(element(v).c_str(), utf8);
    out += utf8;
    return 0;
}

int CVkSerializerXMLString::VariantToXML(CVkStringW& out, const CVkVariant& v) {
    out += element(v).c_str();
    return 0;
}

} // namespace ZanLegacy
