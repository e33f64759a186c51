#include "settings/ini_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#include "core/file_links.h"
#include "core/text_format.h"

namespace fs = std::filesystem;

namespace ts {

namespace {

// The private-profile functions trim blanks and tabs only: any other control character belongs to
// the name or value, so a line of them around a section's name does not name that section.
std::string IniTrim(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
    return std::string(s.substr(a, b - a));
}

std::string Unquote(std::string v) {
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return v;
}

// The file a path finally names, following links (also one whose target does not exist yet).
std::string LinkTarget(const std::string& path) {
    std::string target;
    FollowLinks(path, target);
    return target;
}

int SysOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

// The file system cannot give an unnamed file here (or it cannot be linked in): use a named one.
constexpr int kNoUnnamed = -1;

// The errors of an unnamed-file open that mean the file system has none.
bool NoUnnamedFiles(int err) { return err == EISDIR || err == EINVAL || err == EOPNOTSUPP; }

std::string RandomSuffix() {
    static std::mt19937_64 gen(std::random_device{}() ^ (static_cast<uint64_t>(::getpid()) << 32) ^
                               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(6, 'x');
    for (char& c : s) c = kChars[gen() % (sizeof kChars - 1)];
    return s;
}

// prefix followed by six letters or digits, as our scratch files are named.
bool IsScratchName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
    for (size_t i = prefix.size(); i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

// A new file dir/prefix + six random characters, for writing; its name goes to `name`.
int OpenNamedScratch(const std::string& dir, const std::string& prefix, std::string& name) {
    SettingsIo& io = SettingsIoCalls();
    for (int tries = 0; tries < 100; ++tries) {
        name = dir + "/" + prefix + RandomSuffix();
        const int fd = io.open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Removes the scratch files dir/prefix* that an earlier run left when it crashed. A writer holds a
// lock on its scratch file until it is renamed, and a crashed one's lock went with it.
void RemoveStaleScratch(const std::string& dir, const std::string& prefix) {
    SettingsIo& io = SettingsIoCalls();
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!IsScratchName(it->path().filename().string(), prefix)) continue;
        const std::string path = it->path().string();
        const int fd = io.open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
        if (fd < 0) continue;
        struct stat a {
        }, b{};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &a) == 0 && S_ISREG(a.st_mode) &&
            ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
            io.unlink(path.c_str());
        io.close(fd);
    }
}

int WriteAll(int fd, const std::string& text) {
    SettingsIo& io = SettingsIoCalls();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = io.write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Gives the unnamed file fd a scratch name in dir.
int LinkScratch(int fd, const std::string& dir, const std::string& prefix, std::string& name) {
    SettingsIo& io = SettingsIoCalls();
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int tries = 0; tries < 100; ++tries) {
        const std::string n = dir + "/" + prefix + RandomSuffix();
        // Linking the descriptor itself needs a privilege most runs lack; its /proc link does not.
        int rc = io.linkat(fd, "", AT_FDCWD, n.c_str(), AT_EMPTY_PATH);
        if (rc != 0 && errno == ENOENT) rc = io.linkat(AT_FDCWD, self.c_str(), AT_FDCWD, n.c_str(), AT_SYMLINK_FOLLOW);
        if (rc == 0) {
            name = n;
            return 0;
        }
        if (errno != EEXIST) return errno == ENOENT ? kNoUnnamed : errno;
    }
    return EEXIST;
}

// One try of ReplaceFileWhole, with an unnamed scratch file or a named one.
int ReplaceOnce(const std::string& target, const std::string& dir, const std::string& prefix, const std::string& text,
                mode_t mode, const struct stat* old, bool unnamed) {
    SettingsIo& io = SettingsIoCalls();
    std::string tmp;  // the scratch file's name, once it has one
    int fd;
    if (unnamed) {
        fd = io.open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) return NoUnnamedFiles(errno) ? kNoUnnamed : errno;
    } else {
        fd = OpenNamedScratch(dir, prefix, tmp);
        if (fd < 0) return errno;
    }
    // The lock lives on a second descriptor, so that it outlasts the close until the rename. It
    // only reads, so that the one close that can report a lost write is the writer's own.
    int lock = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
    if (lock < 0) lock = ::dup(fd);
    ::flock(lock >= 0 ? lock : fd, LOCK_EX);
    int err = WriteAll(fd, text);
    if (!err && ::fchmod(fd, mode) != 0) err = errno;
    if (!err && old && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
        // Not allowed to give the file away: it stays ours, which is what a plain write makes too.
    }
    if (!err && io.fsync(fd) != 0) err = errno;
    if (!err && unnamed) err = LinkScratch(fd, dir, prefix, tmp);
    if (io.close(fd) != 0 && !err) err = errno;
    if (!err && io.rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err && !tmp.empty()) io.unlink(tmp.c_str());
    if (lock >= 0) ::close(lock);
    return err;
}

}  // namespace

std::string SettingsErrorText(int err) {
    if (err == kNotRegularFile) return "not a regular file";
    if (err == kNotTextFile) return "not a text file (it holds NUL bytes)";
    return std::generic_category().message(err);
}

SettingsIo& SettingsIoCalls() {
    static SettingsIo io{SysOpen, ::read, ::write, ::fsync, ::close, ::rename, ::linkat, ::unlink};
    return io;
}

int ReadFileBytes(const std::string& path, std::string& out) {
    SettingsIo& io = SettingsIoCalls();
    out.clear();
    // A pipe, a device or a folder is no settings file: a pipe would wait for a writer and a device
    // may never end. It is not opened at all when it is seen first; the descriptor is checked too,
    // as the name may have changed in between, and a non-blocking open never waits for a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return kNotRegularFile;
    const int fd = io.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) return errno == ENOTDIR ? ENOENT : errno;
    const int statErr = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : kNotRegularFile;
    if (statErr != 0) {
        io.close(fd);
        return statErr;
    }
    int err = 0;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = io.read(fd, buf.data(), buf.size());
        if (n > 0) out.append(buf.data(), static_cast<size_t>(n));
        else if (n == 0) break;
        else if (errno != EINTR) {
            err = errno;
            break;
        }
    }
    io.close(fd);  // nothing was written: its outcome changes nothing
    if (err) out.clear();
    return err;
}

int ReplaceFileWhole(const std::string& target, const std::string& text, int newMode) {
    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    mode_t mode;
    if (existed) {
        mode = st.st_mode & 07777;
    } else if (newMode >= 0) {
        mode = static_cast<mode_t>(newMode) & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const fs::path t = target;
    const std::string dir = t.parent_path().empty() ? std::string(".") : t.parent_path().string();
    // The scratch name keeps within the system's name limit for a name close to it too: the
    // settings name is cut, the six random characters are what counts.
    const std::string bare = t.filename().string();
    std::string prefix(1, '.');
    prefix.append(bare, 0, std::min<size_t>(bare.size(), NAME_MAX - 8));
    prefix += '.';
    RemoveStaleScratch(dir, prefix);
    const int err = ReplaceOnce(target, dir, prefix, text, mode, existed ? &st : nullptr, true);
    return err != kNoUnnamed ? err : ReplaceOnce(target, dir, prefix, text, mode, existed ? &st : nullptr, false);
}

int FolderWriteError(const std::string& dir) {
    SettingsIo& io = SettingsIoCalls();
    const std::string d = dir.empty() ? std::string(".") : dir;
    int fd = io.open(d.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && !NoUnnamedFiles(errno)) return errno;
    // Named probes that crashed runs left (here once, or where unnamed files were missing).
    RemoveStaleScratch(d, "$$$");
    if (fd >= 0) {
        io.close(fd);
        return 0;
    }
    std::string name;
    fd = OpenNamedScratch(d, "$$$", name);
    if (fd < 0) return errno;
    io.unlink(name.c_str());
    io.close(fd);
    return 0;
}

IniStore::IniStore(std::string path) : path_(std::move(path)) {}

bool IniStore::Exists() const {
    std::error_code ec;
    return fs::is_regular_file(path_, ec);
}

bool IniStore::ReadOnly() const {
    Lines();
    return readOnly_;
}

bool IniStore::ReadFailed() const {
    Lines();
    return readFailed_;
}

std::vector<IniStore::Line>& IniStore::Lines() const {
    if (loaded_) return lines_;
    loaded_ = true;
    struct stat st {};
    readOnly_ = ::stat(path_.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
    std::string bytes;
    int err = ReadFileBytes(path_, bytes);
    if (err == ENOENT) return lines_;
    // No text file holds a NUL byte: such a file is someone else's, and a save would replace it.
    if (!err && bytes.find('\0') != std::string::npos) err = kNotTextFile;
    if (err) {
        readFailed_ = true;
        error_ = SettingsErrorText(err);
        return lines_;
    }
    ++reads_;
    std::string all = ToUtf8FromLegacy(bytes);
    // Every leading byte-order mark goes: the file is written without one, and one kept before the
    // first line would turn that line into a section once written and read again.
    size_t bom = 0;
    while (all.compare(bom, 3, "\xEF\xBB\xBF") == 0) bom += 3;
    all.erase(0, bom);
    size_t start = 0;
    while (start < all.size()) {
        // CR LF, LF and a CR alone each end a line, as the files of every platform have them.
        size_t nl = all.find_first_of("\r\n", start);
        if (nl == std::string::npos) nl = all.size();
        std::string text = all.substr(start, nl - start);
        start = nl + (all.compare(nl, 2, "\r\n") == 0 ? 2 : 1);
        Line ln;
        ln.text = text;
        const std::string t = IniTrim(text);
        if (!t.empty() && t.front() == '[') {
            const size_t close = t.find(']');
            ln.kind = 1;
            ln.name = LowerCase(IniTrim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
        } else if (!t.empty() && t.front() != ';') {
            const size_t eq = t.find('=');
            if (eq != std::string::npos) {
                ln.kind = 2;
                ln.name = LowerCase(IniTrim(t.substr(0, eq)));
                ln.value = Unquote(IniTrim(t.substr(eq + 1)));
            }
        }
        lines_.push_back(std::move(ln));
    }
    return lines_;
}

bool IniStore::Changed() {
    if (readOnly_ || readFailed_) return false;
    dirty_ = true;
    return true;
}

bool IniStore::Flush() {
    if (!dirty_) return true;
    std::string text;
    for (const Line& ln : lines_) text.append(ln.text).append("\r\n");
    if (const int err = ReplaceFileWhole(LinkTarget(path_), text)) {
        error_ = SettingsErrorText(err);
        return false;
    }
    dirty_ = false;
    ++writes_;
    return true;
}

bool IniStore::FindSection(const std::string& section, size_t& begin, size_t& end) const {
    const std::vector<Line>& lines = Lines();
    const std::string name = LowerCase(section);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == 1 && lines[i].name == name) {
            begin = i;
            end = i + 1;
            while (end < lines.size() && lines[end].kind != 1) ++end;
            return true;
        }
    }
    return false;
}

std::string IniStore::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    size_t b, e;
    std::string v = def;
    if (FindSection(section, b, e)) {
        const std::string name = LowerCase(key);
        for (size_t i = b + 1; i < e; ++i)
            if (lines_[i].kind == 2 && lines_[i].name == name) {
                v = lines_[i].value;
                break;
            }
    }
    if (v.size() > kMaxValue) v.resize(kMaxValue);
    return v;
}

bool IniStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    Lines();
    if (readOnly_ || readFailed_) return false;
    Line kv;
    kv.kind = 2;
    kv.name = LowerCase(key);
    kv.value = value;
    kv.text = key + "=" + value;
    size_t b, e;
    if (!FindSection(section, b, e)) {
        if (!lines_.empty() && !IniTrim(lines_.back().text).empty()) lines_.push_back(Line{});
        Line head;
        head.kind = 1;
        head.name = LowerCase(section);
        head.text = "[" + section + "]";
        lines_.push_back(head);
        lines_.push_back(kv);
        return Changed();
    }
    for (size_t i = b + 1; i < e; ++i)
        if (lines_[i].kind == 2 && lines_[i].name == kv.name) {
            // Keep the key's spelling as the file has it.
            const std::string t = IniTrim(lines_[i].text);
            kv.text = IniTrim(t.substr(0, t.find('='))) + "=" + value;
            lines_[i] = kv;
            return Changed();
        }
    // Append after the section's last non-blank line.
    size_t at = e;
    while (at > b + 1 && IniTrim(lines_[at - 1].text).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), kv);
    return Changed();
}

bool IniStore::DeleteKey(const std::string& section, const std::string& key) {
    if (ReadFailed()) return false;
    size_t b, e;
    if (!FindSection(section, b, e)) return true;
    const std::string name = LowerCase(key);
    for (size_t i = b + 1; i < e; ++i)
        if (lines_[i].kind == 2 && lines_[i].name == name) {
            if (readOnly_) return false;
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            return Changed();
        }
    return true;
}

bool IniStore::EraseSection(const std::string& section) {
    if (ReadFailed()) return false;
    size_t b, e;
    if (!FindSection(section, b, e)) return true;
    if (readOnly_) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(b), lines_.begin() + static_cast<std::ptrdiff_t>(e));
    return Changed();
}

std::vector<std::pair<std::string, std::string>> IniStore::ReadSection(const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> out;
    size_t b, e;
    if (!FindSection(section, b, e)) return out;
    for (size_t i = b + 1; i < e; ++i)
        if (lines_[i].kind == 2) {
            const std::string t = IniTrim(lines_[i].text);
            out.emplace_back(IniTrim(t.substr(0, t.find('='))), lines_[i].value);
        }
    return out;
}

std::vector<std::string> IniStore::SectionNames() const {
    std::vector<std::string> out;
    for (const Line& ln : Lines())
        if (ln.kind == 1) {
            const std::string t = IniTrim(ln.text);
            const size_t close = t.find(']');
            out.push_back(IniTrim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
        }
    return out;
}

}  // namespace ts
