#include "core/host.h"

#include <iostream>

namespace ts {

void RecordingHost::ReportLine(const std::string& line) {
    size_t start = 0;
    for (;;) {
        const size_t p = line.find("\r\n", start);
        const std::string part = line.substr(start, p == std::string::npos ? std::string::npos : p - start);
        lines.push_back(part);
        if (echo_) std::cout << part << '\n';
        if (p == std::string::npos) break;
        start = p + 2;
    }
}

void RecordingHost::SetStatus(int panel, const std::string& text) {
    if (panel == 0 || panel == 1) status[panel] = text;
}

std::string RecordingHost::Status(int panel) const { return panel == 0 || panel == 1 ? status[panel] : std::string(); }

MsgButton RecordingHost::MessageDlg(const std::string& text, MsgKind, unsigned, MsgButton def) {
    messages.push_back(text);
    if (echo_) std::cout << text << '\n';
    return def;
}

}  // namespace ts
