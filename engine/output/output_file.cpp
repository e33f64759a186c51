#include "output/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "core/text_format.h"

namespace ts {

bool OutFile::Create(EngineContext& ctx, const std::string& fileName, const std::string& status) {
    Discard();
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        ReportCantCreate(ctx, fileName);
        return false;
    }
    name_ = fileName;
    ctx.host.SetStatus(0, std::string(" ").append(ExtractFileName(fileName)).append("  ").append(status));
    return true;
}

void OutFile::Fail() const { throw std::runtime_error("Can't write: " + name_); }

void OutFile::Write(std::string_view s) {
    if (fd_ < 0 && !s.empty()) Fail();
    while (!s.empty()) {
        const ssize_t n = ::write(fd_, s.data(), s.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail();
        s.remove_prefix(static_cast<size_t>(n));
    }
}

void OutFile::CopyFrom(int fd, uint64_t length) {
    if (length == 0) return;
    if (fd_ < 0) Fail();
    loff_t in = 0;
    // In the kernel where it can; else through a bounded buffer.
    while (in < static_cast<loff_t>(length)) {
        const ssize_t n = ::copy_file_range(fd, &in, fd_, nullptr, static_cast<size_t>(length - in), 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) Fail();
        break;
    }
    std::string buf;
    while (in < static_cast<loff_t>(length)) {
        buf.resize(static_cast<size_t>(std::min<uint64_t>(length - in, 1 << 20)));
        const ssize_t n = ::pread(fd, buf.data(), buf.size(), in);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail();
        Write(std::string_view(buf.data(), static_cast<size_t>(n)));
        in += n;
    }
}

void OutFile::Close() {
    const int fd = fd_;
    fd_ = -1;
    if (fd < 0) return;
    if (::close(fd) != 0) Fail();  // the name stays, for Discard
    name_.clear();
}

void OutFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!name_.empty()) std::remove(name_.c_str());
    name_.clear();
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
