#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringW.h>
#include <legacy/CVkVariant.h>

#include <memory>
#include <vector>

namespace ZanLegacy {

// State that the element handlers of one parse share (the expat user data). One parse, one thread.
struct ZAN_EXPORT SVkXMLParseState {
    struct Entry {
        CVkVariant* node; // the node the element fills
        // The node's element count when it was entered (-1 for a non-list), or kDiscard for a node
        // made for an element that has no place in the tree; that node is owned here.
        int marker;
        std::unique_ptr<CVkVariant> owned;
    };
    static constexpr int kDiscard = -2;

    // Values of status.
    static constexpr int kParsing = 0;
    static constexpr int kDone = 100;                // the root element has ended
    static constexpr int kNotVariant = -100;         // the document element is not "variant"
    static constexpr int kBadVersion = -101;         // the document element lacks version "1.0"
    static constexpr int kDeclarationRefused = -102; // a document type or entity declaration
    static constexpr int kTooDeep = -103;            // elements nested deeper than kMaxDepth
    static constexpr int kHandlerFailed = -104;      // a handler could not complete (out of memory)

    // Elements nested below "variant", the root element included, that a document may hold.
    static constexpr int kMaxDepth = CVkVariant::kMaxNestingDepth;

    std::vector<Entry> stack;
    CVkVariant* root = nullptr;
    int depth = -1; // -1 before the "variant" element
    int status = kParsing;
    bool savedTypeChange = false; // the root's type-change flag before parsing
    bool rootEntered = false;     // the root's flag is changed and must be given back
    void* parser = nullptr;       // the expat parser, stopped when the parse cannot go on

    // Sets a failing status and stops the parser, so no further handler runs.
    void Fail(int failure);
};

// The element handlers of the XML variant reader and the escaping of attribute values. Names and
// values reach the handlers as wide text. The handlers keep all their state in the state object they
// are given; they throw what allocation throws, which the parser's callbacks catch.
class ZAN_EXPORT CVkXMLAPI {
public:
    // state points to an SVkXMLParseState.
    static void StartElement(void* state, const wchar_t* name, const wchar_t** attributes);
    static void EndElement(void* state, const wchar_t* name);

    // Escapes a value in place so that it can stand between the quotation marks of an attribute and
    // comes back unchanged from the XML parser and RevalidateXML_AttValue.
    static void ValidateXML_AttValue(CVkStringW& value);
    // Undoes what the parser's own reference decoding leaves of ValidateXML_AttValue, in place.
    static void RevalidateXML_AttValue(CVkStringW& value);
};

} // namespace ZanLegacy
