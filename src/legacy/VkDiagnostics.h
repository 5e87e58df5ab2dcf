#pragma once

#include <io/ZanExport.h>

#include <string>

namespace ZanLegacy {

// The one sink of the legacy library's diagnostics ("Error: ..." lines). The wide text is written,
// without a line end of its own, as UTF-8 to standard output through narrow stdio, so the stream's
// orientation stays narrow and the program's own printf and std::cout output keeps appearing.
// Characters above U+10FFFF are written as '!'. Thread-safe.
ZAN_EXPORT void VkPrintDiagnostic(const wchar_t* text);

// While an object of this class lives, diagnostics of every thread are collected in it instead of
// being printed. Captures nest: the most recent one collects. Create and destroy them in
// last-in-first-out order.
class ZAN_EXPORT CVkDiagnosticCapture {
public:
    CVkDiagnosticCapture();
    ~CVkDiagnosticCapture();
    CVkDiagnosticCapture(const CVkDiagnosticCapture&) = delete;
    CVkDiagnosticCapture& operator=(const CVkDiagnosticCapture&) = delete;

    // Everything collected so far, as UTF-8.
    std::string Text() const;
    void Clear();

private:
    friend void VkPrintDiagnostic(const wchar_t* text);
    CVkDiagnosticCapture* m_previous;
    std::string m_text;
};

} // namespace ZanLegacy
