#include "output/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "core/file_links.h"
#include "core/file_open.h"
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

// Six letters or digits that another run, or another thread of this one, is unlikely to draw.
std::string RandomPart() {
    thread_local std::mt19937_64 gen(std::random_device{}() ^
                                     static_cast<uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(6, 'x');
    for (char& c : s) c = kChars[gen() % (sizeof kChars - 1)];
    return s;
}

// Draws scratch names for name until make(candidate) succeeds or fails for another reason than a
// file of that name.
template <class Make>
bool MakeUnderScratchName(const std::string& name, std::string& scratch, Make&& make) {
    for (int tries = 0; tries < 100; ++tries) {
        scratch = ScratchNameFor(name);
        if (make(scratch)) return true;
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

}  // namespace

namespace {

// The parts of name's scratch names: folder, the part before the random one, and the extension.
struct ScratchParts {
    std::string folder, prefix, ext;
};

ScratchParts SplitScratch(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= start) dot = name.size();
    ScratchParts p{name.substr(0, start), {}, name.substr(dot)};
    // Within the system's name limit, also for a name close to it: the random part is what counts.
    const size_t tail = 1 + 6 + p.ext.size();
    const size_t room = NAME_MAX > tail ? NAME_MAX - tail : 0;
    p.prefix = name.substr(start, std::min(dot - start, room)) + ".";
    return p;
}

// Why a scratch file could not be marked as in use.
enum class Mark { Taken, NoLocks, Held, Failed };

// A lock refused for another reason than another holder: the file system keeps no locks (a network
// mount without a lock service, for one). Files there go unmarked, and no sweep removes them.
bool NoLocksHere(int err) { return err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL; }

// Takes the lock that marks the file open as fd as in use; errno tells why for Failed.
Mark MarkInUse(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Mark::Taken;
    if (errno == EWOULDBLOCK) return Mark::Held;
    return NoLocksHere(errno) ? Mark::NoLocks : Mark::Failed;
}

// True when the file stands marked as in use, as far as the file system keeps marks.
bool Marked(Mark m) { return m == Mark::Taken || m == Mark::NoLocks; }

// True when path still names the file open as fd.
bool StillNamed(int fd, const std::string& path) {
    struct stat a {
    }, b{};
    return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Marks the file open as hold as in use, for as long as hold is open (where the file system keeps
// locks). False when it cannot be marked, with errno set.
bool HoldInUse(int hold) { return Marked(MarkInUse(hold)); }

// Removes the scratch file path when no run holds it. False when it is to be looked at again: a run
// beside this one holds it, and may yet leave it behind.
bool RemoveUnlessHeld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;  // gone, a link, or not ours to open
    // A run that is alive holds its lock; a crash's went with it. Where the file system keeps no
    // locks, a live run's file cannot be told from a crash's: it stays.
    const Mark m = MarkInUse(fd);
    struct stat st {};
    if (m == Mark::Taken && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && StillNamed(fd, path))
        ::unlink(path.c_str());
    ::close(fd);
    return m != Mark::Held;
}

// Lists folder and files every name of the shape of a scratch name ("<prefix>xxxxxx<ext>", see
// ScratchNameFor) under the name it was drawn from, as SplitScratch gives it: prefix "/" ext.
void FindScratch(const std::string& folder, std::unordered_map<std::string, std::vector<std::string>>& found) {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view bare(e->d_name);
        // The extension runs from the last dot; a name drawn from one without any has none.
        for (const size_t ext : {bare.rfind('.'), bare.size()}) {
            if (ext == std::string_view::npos || ext < 7 || bare[ext - 7] != '.') continue;
            if (!std::all_of(bare.begin() + static_cast<std::ptrdiff_t>(ext - 6),
                             bare.begin() + static_cast<std::ptrdiff_t>(ext),
                             [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
                continue;
            found[std::string(bare.substr(0, ext - 6)).append("/").append(bare.substr(ext))].emplace_back(bare);
        }
    }
    ::closedir(d);
}

}  // namespace

std::string ScratchNameFor(const std::string& name) {
    const ScratchParts p = SplitScratch(name);
    return p.folder + p.prefix + RandomPart() + p.ext;
}

int CreateHeldScratch(const std::string& name, mode_t mode, std::string& scratch, int access) {
    int fd = -1;
    MakeUnderScratchName(name, scratch, [&](const std::string& candidate) {
        fd = ::open(candidate.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) return false;
        const Mark m = MarkInUse(fd);
        const int err = errno;
        struct stat st {};
        if (Marked(m) && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return true;
        // Taken for a crash's in the moment it was made, or not to be marked at all: made by this
        // run and given up, it goes at once (unless the sweep that took it removed it already).
        if (StillNamed(fd, candidate)) ::unlink(candidate.c_str());
        ::close(fd);
        fd = -1;
        errno = m == Mark::Failed ? err : EEXIST;
        return false;
    });
    return fd;
}

void RemoveCrashedScratch(EngineContext& ctx, const std::string& name) {
    const ScratchParts p = SplitScratch(name);
    const auto [folder, fresh] = ctx.scratchFound.try_emplace(p.folder);
    if (fresh) FindScratch(p.folder, folder->second);
    const auto it = folder->second.find(p.prefix + "/" + p.ext);
    if (it == folder->second.end()) return;
    std::erase_if(it->second, [&](const std::string& bare) { return RemoveUnlessHeld(p.folder + bare); });
    if (it->second.empty()) folder->second.erase(it);
}

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
        } else if (!FollowLinks(fileName, target)) {
            // A link that leads nowhere yet has its target made, as the settings file's is, and the
            // link stays (replacing the link would leave its target unmade); a loop leads nowhere.
            if (mode) *mode = 0;
            return false;
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
        // A folder under the scratch name is not ours.
        if (::lstat(fileName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            ReportCantCreate(ctx, fileName);
            return false;
        }
    } else if (!ReplacedFile(fileName, target_, &mode_)) {
        ReportCantCreate(ctx, fileName);
        return false;
    }
    staging_.clear();
    RemoveCrashedScratch(ctx, ScratchNameSource(temporary));
    // An older file's readers get no more of the new text than they could read of the old, not
    // even for the time it is made; it takes the older file's permissions when it is complete.
    const mode_t made = ScratchMode(temporary ? replaces : mode_);
    fd_ = ::open(FolderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, made);
    unnamed_ = fd_ >= 0;
    if (!unnamed_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        ReportCantCreate(ctx, fileName);
        return false;
    }
    // No unnamed files here: a scratch name of its own holds the text meanwhile, marked as in use
    // while it is, so that the next run's clean-up knows it from a crash's. An unnamed file is
    // found by no one until Close names it.
    if (!unnamed_) {
        hold_ = CreateHeldScratch(ScratchNameSource(temporary), made, staging_, O_RDONLY);
        staged_ = hold_ >= 0;
        if (staged_) fd_ = ::open(staging_.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if ((!unnamed_ && hold_ < 0) || fd_ < 0) {
        Discard();
        ReportCantCreate(ctx, fileName);
        return false;
    }
    name_ = fileName;
    temporary_ = temporary;
    ctx.host.SetStatus(0, std::string(" ").append(ExtractFileName(fileName)).append("  ").append(status));
    return true;
}

std::string OutFile::ScratchNameSource(bool temporary) const { return temporary ? target_ : target_ + ".$$$"; }

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
    return ReopenReadOnly(fd_);
}

void OutFile::Close() {
    if (fd_ < 0) return;
    // The older file's permissions, or the older file stays.
    if (!temporary_ && mode_ != 0 && ::fchmod(fd_, mode_) != 0) Fail();
    // On the disk before it replaces an older file, so that a power loss soon after leaves one of
    // them whole. The program's own scratch files replace nothing of the user's.
    if (!temporary_ && ::fsync(fd_) != 0) Fail();
    // The descriptor written through is closed without error before the text takes any name; an
    // unnamed text is kept meanwhile by a read-only one of its own.
    if (unnamed_ && (hold_ = ReopenReadOnly(fd_)) < 0) Fail();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail();
    if (unnamed_) {
        unnamed_ = false;
        if (!temporary_) {
            // Where nothing stands under the name yet, the text takes it at once.
            if (LinkUnnamed(hold_, target_)) {
                name_.clear();
                DropInUseMark();
                return;
            }
            if (errno != EEXIST) Fail();
        }
        // Else under a scratch name of its own, marked as in use until that name is given up: a
        // temporary's until the caller is done with it.
        const int hold = hold_;
        if (!HoldInUse(hold) ||
            !MakeUnderScratchName(ScratchNameSource(temporary_), staging_,
                                  [hold](const std::string& candidate) { return LinkUnnamed(hold, candidate); }))
            Fail();
        staged_ = true;
    }
    if (!temporary_ && !ReplaceWith(staging_, target_, 0)) Fail();
    staged_ = false;
    name_.clear();
    if (!temporary_) DropInUseMark();
}

void OutFile::DropInUseMark() {
    if (hold_ >= 0) ::close(hold_);
    hold_ = -1;
}

void OutFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (staged_) ::unlink(staging_.c_str());
    DropInUseMark();
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
