#include "text/wide_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "text/mask_match.h"
#include "text/wide_text.h"

namespace zip {

namespace detail {
struct FindState {
    DIR* dir = nullptr;
    std::string folder;  // UTF-8, with a trailing "/" (empty for the current folder)
    std::u16string pattern;
    ~FindState() {
        if (dir) closedir(dir);
    }
};
}  // namespace detail

namespace {

// Attributes of an entry from its mode; bareName decides the hidden bit.
std::uint32_t AttrFromMode(mode_t mode, const std::string& bareName) {
    std::uint32_t a = 0;
    if (S_ISDIR(mode)) a |= faDirectory;
    else if (S_ISREG(mode)) a |= faArchive;
    else a |= faSysFile;
    if (!(mode & S_IWUSR)) a |= faReadOnly;
    if (bareName.size() > 1 && bareName[0] == '.' && bareName != "..") a |= faHidden;
    return a;
}

std::string BareName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool StatPath(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0;
}

std::int32_t DosDateTime(time_t t) {
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return -1;
    const int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2107) return -1;
    const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    const std::uint32_t time = static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return static_cast<std::int32_t>((date << 16) | time);
}

// Reads directory entries until one matches the pattern and passes the excluded attributes.
int FindMatching(TWideSearchRec& rec) {
    detail::FindState& fs = *rec.FindHandle;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(fs.dir);
        if (!e) return errno ? errno : ENOENT;
        const std::string bare = e->d_name;
        const std::u16string wide = FsNameToWide(bare);
        if (!WideMatchesMask(wide, fs.pattern, true)) continue;
        struct stat st {};
        const std::string full = (fs.folder.empty() ? std::string() : fs.folder) + bare;
        if (!StatPath(full.empty() ? std::string(".") : full, st)) continue;  // vanished since the read
        const std::uint32_t attr = AttrFromMode(st.st_mode, bare);
        if (attr & rec.ExcludeAttr) continue;
        rec.Name = wide;
        rec.Attr = attr;
        rec.Size = static_cast<std::int64_t>(st.st_size);
        rec.Time = DosDateTime(st.st_mtime);
        return 0;
    }
}

}  // namespace

std::string WideToFsName(const std::u16string& name) { return UTF8EncodeWide(name); }
std::u16string FsNameToWide(const std::string& name) { return UTF8DecodeWide(name); }

int WideFileCreate(const std::u16string& name) {
    if (name.empty()) return -1;
    return ::open(WideToFsName(name).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

int WideFileOpen(const std::u16string& name, std::uint32_t mode) {
    static const int access[] = {O_RDONLY, O_WRONLY, O_RDWR};
    if ((mode & 3) > 2 || (mode & 0xF0) > fmShareDenyNone || name.empty()) {
        errno = EINVAL;
        return -1;
    }
    const std::string path = WideToFsName(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    return ::open(path.c_str(), access[mode & 3] | O_CLOEXEC);
}

void WideFileClose(int handle) {
    if (handle >= 0) ::close(handle);
}

namespace {

TFileFaultHook& FaultHook() {
    static TFileFaultHook hook;
    return hook;
}

int InjectedFault(TFileCall call, const std::u16string& name) { return FaultHook() ? FaultHook()(call, name) : 0; }

// Runs the call unless the hook fails it; false with errno set on failure.
template <class F>
bool Checked(TFileCall call, const std::u16string& name, F run) {
    const int injected = InjectedFault(call, name);
    const bool ok = run() == 0;  // a close happens even when it is to fail: the handle goes
    if (injected != 0) errno = injected;
    return ok && injected == 0;
}

}  // namespace

void SetFileFaultHook(TFileFaultHook hook) { FaultHook() = std::move(hook); }

bool WideFileFlush(int handle) {
    return Checked(TFileCall::Flush, std::u16string(), [&] { return ::fsync(handle); });
}

bool WideFolderFlush(const std::u16string& folder) {
    const int fd = ::open(WideToFsName(folder.empty() ? u"." : folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = Checked(TFileCall::Flush, folder, [&] { return ::fsync(fd); });
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok || err == EINVAL || err == ENOTSUP;
}

TUniFileStream::TUniFileStream(const std::u16string& fileName, std::uint16_t mode)
    : THandleStream(mode == fmCreate ? WideFileCreate(fileName) : WideFileOpen(fileName, mode)), fileName_(fileName) {
    if (handle_ < 0) {
        const int err = errno;
        const std::string name = UTF8EncodeWide(WideExpandFileName(fileName));
        const std::string why = UTF8EncodeWide(WideSysErrorMessage(err));
        if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + name + "\". " + why);
        throw EFOpenError("Cannot open file \"" + name + "\". " + why);
    }
}

TUniFileStream::~TUniFileStream() {
    if (handle_ >= 0) ::close(handle_);
}

void TUniFileStream::Flush() {
    if (handle_ >= 0 && Checked(TFileCall::Flush, fileName_, [&] { return ::fsync(handle_); })) return;
    const int err = handle_ >= 0 ? errno : EBADF;
    throw EStreamError("Cannot flush file \"" + UTF8EncodeWide(WideExpandFileName(fileName_)) + "\". " +
                       UTF8EncodeWide(WideSysErrorMessage(err)));
}

void TUniFileStream::Close() {
    if (handle_ < 0) return;
    const int handle = handle_;
    handle_ = -1;
    // EINTR too: the handle is gone either way, and whether the data reached the disk is unknown.
    if (Checked(TFileCall::Close, fileName_, [&] { return ::close(handle); })) return;
    const int err = errno;
    throw EStreamError("Cannot close file \"" + UTF8EncodeWide(WideExpandFileName(fileName_)) + "\". " +
                       UTF8EncodeWide(WideSysErrorMessage(err)));
}

int WideFindFirst(const std::u16string& path, std::uint32_t attr, TWideSearchRec& rec) {
    WideFindClose(rec);
    rec.ExcludeAttr = ~attr & (faHidden | faSysFile | faDirectory);
    auto fs = std::make_shared<detail::FindState>();
    const std::u16string folder = WideExtractFilePath(path);
    fs->folder = WideToFsName(folder);
    fs->pattern = WideExtractFileName(path);
    fs->dir = opendir(fs->folder.empty() ? "." : fs->folder.c_str());
    if (!fs->dir) return errno ? errno : ENOENT;
    rec.FindHandle = std::move(fs);
    const int r = FindMatching(rec);
    if (r != 0) WideFindClose(rec);
    return r;
}

int WideFindExact(const std::u16string& path, std::uint32_t attr, TWideSearchRec& rec) {
    WideFindClose(rec);
    rec.ExcludeAttr = ~attr & (faHidden | faSysFile | faDirectory);
    const std::u16string bare = WideExtractFileName(path);
    if (bare.empty()) return ENOENT;
    const std::string full = WideToFsName(path);
    struct stat st {};
    if (!StatPath(full, st)) return errno ? errno : ENOENT;
    const std::uint32_t a = AttrFromMode(st.st_mode, WideToFsName(bare));
    if (a & rec.ExcludeAttr) return ENOENT;
    rec.Name = bare;
    rec.Attr = a;
    rec.Size = static_cast<std::int64_t>(st.st_size);
    rec.Time = DosDateTime(st.st_mtime);
    return 0;
}

int WideFindNext(TWideSearchRec& rec) {
    if (!rec.FindHandle) return EBADF;
    return FindMatching(rec);
}

void WideFindClose(TWideSearchRec& rec) { rec.FindHandle.reset(); }

std::int32_t WideFileAge(const std::u16string& name) {
    struct stat st {};
    if (name.empty() || ::stat(WideToFsName(name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return DosDateTime(st.st_mtime);
}

bool WideFileExists(const std::u16string& name) {
    struct stat st {};
    return !name.empty() && ::stat(WideToFsName(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool WideDirectoryExists(const std::u16string& name) {
    struct stat st {};
    return !name.empty() && ::stat(WideToFsName(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int32_t WideFileGetAttr(const std::u16string& name) {
    struct stat st {};
    const std::string path = WideToFsName(name);
    if (name.empty() || !StatPath(path, st)) return -1;
    return static_cast<std::int32_t>(AttrFromMode(st.st_mode, BareName(path)));
}

bool WideFileSetAttr(const std::u16string& name, std::uint32_t attr) {
    struct stat st {};
    const std::string path = WideToFsName(name);
    if (name.empty() || ::stat(path.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attr & faReadOnly) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else mode |= S_IWUSR;
    return ::chmod(path.c_str(), mode) == 0;
}

bool WideRenameFile(const std::u16string& oldName, const std::u16string& newName) {
    // MoveFile fails when the target exists; rename() would replace it.
    const std::string from = WideToFsName(oldName), to = WideToFsName(newName);
    struct stat st {};
    if (oldName.empty() || newName.empty() || ::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool WideFileDelete(const std::u16string& name) {
    if (name.empty()) return false;
    if (const int injected = InjectedFault(TFileCall::Delete, name)) {
        errno = injected;
        return false;
    }
    return ::unlink(WideToFsName(name).c_str()) == 0;
}

std::u16string WideGetCurrentDir() {
    std::vector<char> buf(512);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) return FsNameToWide(buf.data());
        if (errno != ERANGE || buf.size() > (1u << 20)) return {};
        buf.resize(buf.size() * 2);
    }
}

std::u16string WideExpandFileName(const std::u16string& name) {
    if (name.empty()) return {};
    std::u16string full = name;
    if (full[0] != PathDelim) {
        std::u16string cwd = WideGetCurrentDir();
        full = ZipIncludeTrailingBackslash(cwd) + full;
    }
    const bool trailing = full.back() == PathDelim;
    std::vector<std::u16string> parts;
    std::size_t i = 0;
    while (i <= full.size()) {
        std::size_t j = full.find(PathDelim, i);
        if (j == std::u16string::npos) j = full.size();
        std::u16string part = full.substr(i, j - i);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::u16string r;
    for (const auto& p : parts) r += PathDelim + p;
    if (r.empty() || trailing) r += PathDelim;
    return r;
}

std::u16string WideSysErrorMessage(int code) { return WideLibraryErrorMessage(u"system", code); }

std::u16string WideLibraryErrorMessage(const std::u16string& libName, int code) {
    char buf[256];
    const char* text = strerror_r(code, buf, sizeof buf);
    std::string t = text ? text : "";
    const auto first = t.find_first_not_of(" \t\r\n");
    const auto last = t.find_last_not_of(" \t\r\n");
    t = first == std::string::npos ? std::string() : t.substr(first, last - first + 1);
    // The C library words a code it has no text for as "Unknown error N": that is no text.
    if (!t.empty() && strerrorname_np(code) != nullptr) return FsNameToWide(t);
    return WideFromAscii(("Unspecified error (" + std::to_string(code) + ") from ").c_str()) + libName + u".";
}

int WideLastDelimiter(const std::u16string& delimiters, const std::u16string& s) {
    for (std::size_t i = s.size(); i > 0; --i)
        if (s[i - 1] != 0 && delimiters.find(s[i - 1]) != std::u16string::npos) return static_cast<int>(i);
    return 0;
}

namespace {
// Length of the folder part: up to and including the last separator (":" is part of a name).
std::size_t PathPartLength(const std::u16string& s) {
    return static_cast<std::size_t>(WideLastDelimiter(std::u16string(1, PathDelim), s));
}
}  // namespace

std::u16string WideExtractFilePath(const std::u16string& s) { return s.substr(0, PathPartLength(s)); }

std::u16string WideExtractFileName(const std::u16string& s) { return s.substr(PathPartLength(s)); }

std::u16string WideExtractFileExt(const std::u16string& s) {
    const std::size_t dot = s.rfind(u'.');
    if (dot == std::u16string::npos || dot < PathPartLength(s)) return {};
    return s.substr(dot);
}

std::u16string WideExtractFileDrive(const std::u16string& s) {
    if (s.size() >= 2 && s[0] == PathDelim && s[1] == PathDelim) {
        // "//server/share": up to, not including, the separator after the share name.
        int seps = 0;
        std::size_t i = 2;
        for (; i < s.size(); ++i) {
            if (s[i] == PathDelim && ++seps == 2) break;
        }
        return s.substr(0, i);
    }
    return {};
}

std::u16string WideExtractFileDirNoDrive(const std::u16string& s) {
    const std::u16string path = WideExtractFilePath(s);
    return path.substr(std::min(path.size(), WideExtractFileDrive(s).size()));
}

std::u16string WideExtractRelativePath(const std::u16string& baseName, const std::u16string& destName) {
    if (ZipWideUpperCase(WideExtractFileDrive(baseName)) != ZipWideUpperCase(WideExtractFileDrive(destName)))
        return destName;
    auto split = [](const std::u16string& path) {
        std::vector<std::u16string> parts;
        std::size_t i = 0;
        while (i < path.size()) {  // each part ends with a separator
            std::size_t j = path.find(PathDelim, i);
            if (j == std::u16string::npos) j = path.size();
            parts.push_back(path.substr(i, j - i));
            i = j + 1;
        }
        return parts;
    };
    const auto base = split(WideExtractFilePath(baseName));
    const auto dest = split(WideExtractFilePath(destName));
    std::size_t k = 0;
    while (k < base.size() && k < dest.size() && ZipWideUpperCase(base[k]) == ZipWideUpperCase(dest[k])) ++k;
    std::u16string r;
    for (std::size_t i = k; i < base.size(); ++i) r += std::u16string(u"..") + PathDelim;
    for (std::size_t i = k; i < dest.size(); ++i) r += dest[i] + PathDelim;
    return r + WideExtractFileName(destName);
}

bool IsWordSeparator(char16_t ch) { return ch == 0 || WideCharIsSpace(ch) || WideCharIsPunct(ch); }

std::u16string WideStringReplace(const std::u16string& s, const std::u16string& oldPattern,
                                 const std::u16string& newPattern, bool wholeWord, unsigned flags) {
    if (oldPattern.empty()) return s;
    const bool ignoreCase = flags & rfIgnoreCase;
    const std::u16string hay = ignoreCase ? ZipWideUpperCase(s) : s;
    const std::u16string needle = ignoreCase ? ZipWideUpperCase(oldPattern) : oldPattern;
    std::u16string result;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t at = hay.find(needle, pos);
        if (at == std::u16string::npos) break;
        const std::size_t end = at + needle.size();
        if (wholeWord) {
            const char16_t before = at > pos ? s[at - 1] : (result.empty() ? u'\0' : result.back());
            const char16_t after = end < s.size() ? s[end] : u'\0';
            if (!IsWordSeparator(before) || !IsWordSeparator(after)) {
                result.append(s, pos, end - pos);
                pos = end;
                continue;
            }
        }
        result.append(s, pos, at - pos);
        result += newPattern;
        pos = end;
        if (!(flags & rfReplaceAll)) break;
    }
    result.append(s, pos, std::u16string::npos);
    return result;
}

std::size_t CopyWideResultToBuffer(std::span<char16_t> buf, const std::u16string& s, unsigned flags) {
    const std::size_t len = s.size();
    const std::size_t bufLen = buf.size();
    if (bufLen > len) {
        std::copy(s.begin(), s.end(), buf.begin());
        buf[len] = 0;
        return len;
    }
    if (flags & cwTruncate) {
        std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(bufLen), buf.begin());
        return bufLen;
    }
    if ((flags & cwKeepLast) && bufLen == len && len > 0) {
        std::copy(s.begin(), s.end() - 1, buf.begin());
        buf[len - 1] = 0;
        return len + 1;
    }
    if (bufLen > 0) {
        if (flags & cwEmptyOnOverflow) {
            buf[0] = 0;
        } else if ((flags & cwPathParts) && bufLen >= 4) {
            // Leading whole parts that fit together with the terminating NUL.
            std::size_t fit = 0;
            for (std::size_t i = 0; i < len && i + 1 < bufLen; ++i)
                if (s[i] == PathDelim) fit = i;
            std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(fit), buf.begin());
            buf[fit] = 0;
        }
    }
    return len + 1;
}

std::u16string ZipIncludeTrailingBackslash(const std::u16string& s) {
    return (!s.empty() && s.back() == PathDelim) ? s : s + PathDelim;
}

std::u16string ZipExcludeTrailingBackslash(const std::u16string& s) {
    return (!s.empty() && s.back() == PathDelim) ? s.substr(0, s.size() - 1) : s;
}

bool ZipMatchesMask(const std::u16string& name, const std::u16string& mask) {
    return WideMatchesMask(name, mask, true);
}

std::u16string ZipExtractFileExt(const std::string& name) { return WideExtractFileExt(FsNameToWide(name)); }

namespace {
std::function<bool(const std::string&)>& RemovableDriveHook() {
    static std::function<bool(const std::string&)> hook;
    return hook;
}
}  // namespace

std::function<bool(const std::string&)> SetRemovableDriveQuery(std::function<bool(const std::string&)> query) {
    std::swap(RemovableDriveHook(), query);
    return query;
}

bool SystemRemovableDrive(const std::string& path) {
    // A name that does not exist yet lies on the file system of its nearest existing folder.
    std::string p = path.empty() ? std::string(".") : path;
    struct stat st {};
    while (::stat(p.c_str(), &st) != 0) {
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        const auto slash = p.rfind('/');
        if (p == "/" || p == ".") return false;
        p = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : p.substr(0, slash);
    }
    // The block device, or for a partition the disk it belongs to, tells whether it can be taken out.
    const std::string dev =
        "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    char* real = ::realpath(dev.c_str(), nullptr);
    if (!real) return false;
    const std::string device = real;
    std::free(real);
    for (const std::string& dir : {device, device + "/.."}) {
        const int fd = ::open((dir + "/removable").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char c = 0;
        const bool yes = ::read(fd, &c, 1) == 1 && c == '1';
        ::close(fd);
        return yes;
    }
    return false;
}

bool IsRemovableDrive(const std::string& path) {
    const auto& hook = RemovableDriveHook();
    return hook ? hook(path) : SystemRemovableDrive(path);
}

bool RemoveDirectoryTree(const std::string& path) {
    // A link is removed itself: what it points to lies outside the tree.
    std::string bare = path;
    while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
    struct stat link {};
    if (::lstat(bare.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return ::unlink(bare.c_str()) == 0;
    const std::u16string wide = FsNameToWide(path);
    TWideSearchRec rec;
    int r = WideFindFirst(wide + u"*", faReadOnly | faHidden | faSysFile | faDirectory | faArchive, rec);
    while (r == 0) {
        if ((rec.Attr & faDirectory) && rec.Name != u"." && rec.Name != u"..") {
            if (!RemoveDirectoryTree(WideToFsName(wide + rec.Name) + "/")) {
                WideFindClose(rec);
                return false;
            }
        }
        r = WideFindNext(rec);
    }
    WideFindClose(rec);
    if (::rmdir(path.c_str()) == 0) return true;
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace zip
