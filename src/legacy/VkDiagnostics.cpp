#include <legacy/VkDiagnostics.h>

#include <legacy/CVkStringA.h>
#include <legacy/CVkStringUtils.h>

#include <cstdio>
#include <mutex>

namespace ZanLegacy {
namespace {

// Serialises writes to standard output. Never destroyed: diagnostics may come from static destructors.
std::mutex& sinkMutex() {
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

// The innermost capture of this thread, or null when its diagnostics go to standard output.
thread_local CVkDiagnosticCapture* innermostCapture = nullptr;

} // namespace

void VkPrintDiagnostic(const wchar_t* text) {
    if (!text)
        return;
    CVkStringA utf8;
    CVkStringUtils::WtoUTF8(text, utf8);
    if (CVkDiagnosticCapture* capture = innermostCapture) {
        std::lock_guard<std::mutex> lock(capture->m_mutex);
        capture->m_text.append(utf8.GetString(), utf8.GetLength());
        return;
    }
    std::lock_guard<std::mutex> lock(sinkMutex());
    std::fwrite(utf8.GetString(), 1, utf8.GetLength(), stdout);
}

CVkDiagnosticCapture::CVkDiagnosticCapture() : m_previous(innermostCapture) {
    innermostCapture = this;
}

CVkDiagnosticCapture::~CVkDiagnosticCapture() {
    if (innermostCapture == this)
        innermostCapture = m_previous;
}

std::string CVkDiagnosticCapture::Text() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_text;
}

void CVkDiagnosticCapture::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_text.clear();
}

} // namespace ZanLegacy
