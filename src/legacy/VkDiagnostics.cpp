#include <legacy/VkDiagnostics.h>

#include <legacy/CVkStringA.h>
#include <legacy/CVkStringUtils.h>

#include <cstdio>
#include <mutex>

namespace ZanLegacy {
namespace {

// Never destroyed: diagnostics may come from static destructors.
std::mutex& sinkMutex() {
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

CVkDiagnosticCapture*& activeCapture() {
    static CVkDiagnosticCapture* capture = nullptr;
    return capture;
}

} // namespace

void VkPrintDiagnostic(const wchar_t* text) {
    if (!text)
        return;
    CVkStringA utf8;
    CVkStringUtils::WtoUTF8(text, utf8);
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (CVkDiagnosticCapture* capture = activeCapture()) {
        capture->m_text.append(utf8.GetString(), utf8.GetLength());
        return;
    }
    std::fwrite(utf8.GetString(), 1, utf8.GetLength(), stdout);
}

CVkDiagnosticCapture::CVkDiagnosticCapture() {
    std::lock_guard<std::mutex> lock(sinkMutex());
    m_previous = activeCapture();
    activeCapture() = this;
}

CVkDiagnosticCapture::~CVkDiagnosticCapture() {
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (activeCapture() == this)
        activeCapture() = m_previous;
}

std::string CVkDiagnosticCapture::Text() const {
    std::lock_guard<std::mutex> lock(sinkMutex());
    return m_text;
}

void CVkDiagnosticCapture::Clear() {
    std::lock_guard<std::mutex> lock(sinkMutex());
    m_text.clear();
}

} // namespace ZanLegacy
