#include "output_file.h"

#include <stdexcept>

#include "text_format.h"

namespace ts {

bool OutFile::Create(EngineContext& ctx, const std::string& fileName, const std::string& status) {
    f = std::fopen(fileName.c_str(), "wb");
    if (!f) {
        ReportCantCreate(ctx, fileName);
        return false;
    }
    name = fileName;
    ctx.host.SetStatus(0, std::string(" ").append(ExtractFileName(fileName)).append("  ").append(status));
    return true;
}

void OutFile::Write(const std::string& s) {
    if (!s.empty() && std::fwrite(s.data(), 1, s.size(), f) != s.size())
        throw std::runtime_error("Can't write: " + name);
}

void OutFile::Close() {
    std::FILE* x = f;
    f = nullptr;
    if (!x) return;
    if (std::fclose(x) != 0) throw std::runtime_error("Can't write: " + name);
    name.clear();
}

void OutFile::Discard() {
    if (f) std::fclose(f);
    f = nullptr;
    if (!name.empty()) std::remove(name.c_str());
    name.clear();
}

void ReportCantCreate(EngineContext& ctx, const std::string& fileName, const std::string& reason) {
    if (reason.empty()) {
        ctx.Report("  Can't create: " + fileName);
        ctx.host.MessageDlg("Can't create: " + fileName, MsgKind::Error, mbOK, mbOK);
    } else {
        ctx.Report("  Can't create: " + fileName + "\r\n   " + reason);
        ctx.host.MessageDlg("Can't create: " + fileName + "\r\n " + reason, MsgKind::Error, mbOK, mbOK);
    }
}

void ReportMade(EngineContext& ctx, const std::string& name, int32_t count, int32_t& total) {
    ctx.Report("  Make: " + name + "  " + IntToStr6(count) + " records");
    total += count;
    if (count > 0) ctx.host.filesMade++;
}

bool SameFileName(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

}  // namespace ts
