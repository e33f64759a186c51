#include "output/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "core/text_format.h"

namespace ts {

namespace {

std::string FolderOf(const std::string& name) {
    const std::string folder = ExtractFilePath(name);
    return folder.empty() ? std::string(".") : folder;
}

// Gives the unnamed file open as fd the name path.
bool LinkUnnamed(int fd, const std::string& path) {
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return false;
    // Without the right to link by descriptor, through the process's view of it.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

bool MayReplace(const std::string& name, mode_t* mode) {
    if (mode) *mode = 0;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return true;  // nothing there, or the making will tell
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return false;
    if (::geteuid() != 0 && ::access(name.c_str(), W_OK) != 0) return false;
    if (mode) *mode = st.st_mode & 07777;
    return true;
}

bool ReplacedFile(const std::string& fileName, std::string& target, mode_t* mode) {
    namespace fs = std::filesystem;
    target = fileName;
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path to = fs::canonical(fileName, ec);
        if (!ec) {
            target = to.string();
        } else {
            // A link that leads nowhere yet: its target is made, as the settings file's is, and the
            // link stays. Replacing the link instead would leave its target unmade.
            fs::path p = fileName;
            for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {
                const fs::path t = fs::read_symlink(p, ec);
                if (ec) break;
                p = t.is_absolute() ? t : p.parent_path() / t;
            }
            if (fs::is_symlink(p, ec)) {  // a loop, or a link that cannot be read
                if (mode) *mode = 0;
                return false;
            }
            target = p.string();
        }
    }
    return MayReplace(target, mode);
}

mode_t ScratchMode(mode_t replaced) {
    // Ours to read and write while it is made; the older file's bits for everyone else.
    return replaced == 0 ? 0666 : (replaced & 0777) | 0600;
}

bool ReplaceWith(const std::string& staging, const std::string& target, mode_t mode) {
    if (mode != 0 && ::chmod(staging.c_str(), mode) != 0) return false;
    return ::rename(staging.c_str(), target.c_str()) == 0;
}

bool RemoveScratch(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) return false;
    return ::unlink(name.c_str()) == 0 || errno == ENOENT;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot promise it: a link cannot replace either.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

bool OutFile::Create(EngineContext& ctx, const std::string& fileName, const std::string& status, bool temporary,
                     mode_t replaces) {
    Discard();
    target_ = fileName;
    mode_ = 0;
    struct stat st {};
    if (temporary) {
        // A stale scratch file of an earlier run goes; a folder of that name is not ours.
        if (::lstat(fileName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            ReportCantCreate(ctx, fileName);
            return false;
        }
    } else if (!ReplacedFile(fileName, target_, &mode_)) {
        ReportCantCreate(ctx, fileName);
        return false;
    }
    staging_ = temporary ? target_ : target_ + ".$$$";
    // An older file's readers get no more of the new text than they could read of the old, not
    // even for the time it is made; it takes the older file's permissions when it is complete.
    const mode_t made = ScratchMode(temporary ? replaces : mode_);
    fd_ = ::open(FolderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, made);
    unnamed_ = fd_ >= 0;
    if (!unnamed_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        ReportCantCreate(ctx, fileName);
        return false;
    }
    if (!unnamed_) {
        // No unnamed files here: the scratch name holds the text meanwhile.
        RemoveScratch(staging_);
        fd_ = ::open(staging_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, made);
        if (fd_ < 0) {
            ReportCantCreate(ctx, fileName);
            return false;
        }
        staged_ = true;
    }
    name_ = fileName;
    temporary_ = temporary;
    ctx.host.SetStatus(0, std::string(" ").append(ExtractFileName(fileName)).append("  ").append(status));
    return true;
}

void OutFile::Fail() { throw std::runtime_error("Can't write: " + name_); }

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

int OutFile::OpenForReading() const {
    if (fd_ < 0) return -1;
    if (!unnamed_) return ::open(staging_.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    return ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
}

void OutFile::Close() {
    if (fd_ < 0) return;
    // The older file's permissions, or the older file stays.
    if (!temporary_ && mode_ != 0 && ::fchmod(fd_, mode_) != 0) Fail();
    // On the disk before it replaces an older file, so that a power loss soon after leaves one of
    // them whole. The program's own scratch files replace nothing of the user's.
    if (!temporary_ && ::fsync(fd_) != 0) Fail();
    if (unnamed_) {
        RemoveScratch(staging_);  // a stale one a crash left
        if (!LinkUnnamed(fd_, staging_)) Fail();
        unnamed_ = false;
        staged_ = true;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail();
    if (!temporary_ && !ReplaceWith(staging_, target_, 0)) Fail();
    staged_ = false;
    name_.clear();
}

void OutFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (staged_) ::unlink(staging_.c_str());
    staged_ = unnamed_ = false;
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
