#include <legacy/CVkVariant.h>

#include <legacy/VkDiagnostics.h>
#include <legacy/detail/VkVariantDetail.h>

#include <string>
#include <vector>

namespace ZanLegacy {

namespace {

void emit(CVkStringW* out, bool print, const std::wstring& text) {
    if (print)
        VkPrintDiagnostic(text.c_str());
    if (out)
        out->AddChars(text.data(), static_cast<int>(text.size()));
}

std::wstring openTag(const CVkVariant& node, int level) {
    std::wstring line(static_cast<std::size_t>(level), L' ');
    line += L'<';
    line.append(node.GetName().GetString(), node.GetName().GetLength());
    line += L" runtype=\"";
    const CVkStringW rt = detail::VkWideName(node.GetRunType().GetName());
    line.append(rt.GetString(), rt.GetLength());
    line += L'"';
    return line;
}

} // namespace

void CVkVariant::TraceLow(CVkStringW* out, const CVkVariant& v, bool print, int level) {
    if (level < 0) {
        emit(out, print, L"<variant version=\"1.0\">\r\n");
        TraceLow(out, v, print, 0);
        emit(out, print, L"</variant>\r\n");
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    // Document order without recursion: each frame is a list whose opening line is out and whose
    // members up to next have been dumped.
    struct Frame {
        const CVkVariant* node;
        int level;
        int next;
    };
    std::vector<Frame> stack;
    const auto enter = [&](const CVkVariant& node, int depth) {
        if (!node.asList()) {
            const CVkStringW value = node.GetCVkStringW();
            std::wstring line = openTag(node, depth);
            line += L" value=\"";
            line.append(value.GetString(), value.GetLength());
            line += L"\"/>\r\n";
            emit(out, print, line);
            return;
        }
        emit(out, print, openTag(node, depth) + L">\r\n");
        stack.push_back({&node, depth, 0});
    };
    enter(v, level);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.node->GetCount()) {
            const CVkVariant& member = *frame.node->IndexPtr(frame.next++);
            const int depth = frame.level + 1;
            enter(member, depth);
            continue;
        }
        std::wstring line(static_cast<std::size_t>(frame.level), L' ');
        line += L"</";
        line.append(frame.node->GetName().GetString(), frame.node->GetName().GetLength());
        line += L">\r\n";
        stack.pop_back();
        emit(out, print, line);
    }
}

void CVkVariant::Trace(const CVkVariant& v) {
    TraceLow(nullptr, v, true, -1);
}

CVkStringW& CVkVariant::Trace(CVkStringW& out, const CVkVariant& v) {
    out.Empty();
    TraceLow(&out, v, false, -1);
    return out;
}

} // namespace ZanLegacy
