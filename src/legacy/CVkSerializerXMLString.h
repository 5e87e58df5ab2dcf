#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringA.h>
#include <legacy/CVkStringW.h>
#include <legacy/IVkSerializer.h>

namespace ZanLegacy {

class CVkVariant;

// The XML serialisation of variant trees:
//   <?xml version="1.0" encoding="UTF-8"?><variant version="1.0"> root element </variant>
// A list is <name runtype="..."> its elements </name>, any other node <name runtype="..." value="..."/>.
// Numbers are written and read in the "C" locale whatever the process locale is. Loading fills
// record-typed lists member by member (members missing from the text keep their defaults, elements
// naming no member are skipped), refuses document type and entity declarations and documents nested
// deeper than SVkXMLParseState::kMaxDepth, and leaks nothing when it fails.
//
// Parameters, found by name anywhere in the params variant:
//   "string"        voidPtr to a CVkStringW: wide text (Load reads it, Save writes it)
//   "rawString"     voidPtr to wide characters ending with 0 (Load; needs "rawStringLen")
//   "stringUTF8"    voidPtr to a CVkStringA: UTF-8 text (Load reads it, Save writes it)
//   "rawStringUTF8" voidPtr to "rawStringLen" bytes of UTF-8 text (Load)
//   "rawStringLen"  vk_uint32
// Load takes the first of "string", "rawString", "stringUTF8", "rawStringUTF8" present; Save writes
// "string", else "stringUTF8". Both return -4 without a usable parameter.
//
// Stateless; calls on different trees may run on different threads at once.
class ZAN_EXPORT CVkSerializerXMLString : public IVkSerializer {
public:
    CVkSerializerXMLString();
    ~CVkSerializerXMLString() override;

    // 0; -9 for text that is not a variant document (the output may then be partly filled), or a
    // raw text without "rawStringLen"; -4 without a text parameter.
    int Load(CVkVariant& out, const CVkVariant& params) override;
    // 0; -4 without a target parameter. The target string is replaced.
    int Save(CVkVariant& params, const CVkVariant& in) override;

    // Parse a whole document into out: 0 or -9.
    static int VariantFromXML_UTF8(CVkVariant& out, const char* text, unsigned int length);
    static int VariantFromXML_UTF8(CVkVariant& out, const CVkStringA& text);
    // The wide text is read up to its 0 (length is not used) and parsed as UTF-8.
    static int VariantFromXML(CVkVariant& out, const wchar_t* text, unsigned int length);
    static int VariantFromXML(CVkVariant& out, const CVkStringW& text);

    // Append the element of v and its subtree to out; 0.
    static int VariantToXML_UTF8(CVkStringA& out, const CVkVariant& v);
    static int VariantToXML(CVkStringW& out, const CVkVariant& v);
};

} // namespace ZanLegacy
