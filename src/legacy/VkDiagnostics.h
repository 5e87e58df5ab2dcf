#pragma once

#include <io/ZanExport.h>

#include <mutex>
#include <string>

namespace ZanLegacy {

// The one sink of the legacy library's diagnostics ("Error: ..." lines). The wide text is written,
// without a line end of its own, as UTF-8 to standard output through narrow stdio, so the stream's
// orientation stays narrow and the program's own printf and std::cout output keeps appearing.
// Characters above U+10FFFF are written as '!'. Thread-safe: lines of two threads are never mixed.
ZAN_EXPORT void VkPrintDiagnostic(const wchar_t* text);

// While an object of this class lives, the diagnostics that its own thread prints are collected in it
// instead of being printed; other threads print as before, or into captures of their own. Captures nest
// per thread: the innermost capture of a thread collects, and each one links to the one that was
// innermost on its thread before it. Create and destroy them on one thread, in last-in-first-out order
// (as objects on the stack are). Text and Clear may be called from any thread.
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
    mutable std::mutex m_mutex;
    std::string m_text;
};

} // namespace ZanLegacy
