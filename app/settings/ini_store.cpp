#include "settings/ini_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/text_format.h"

namespace fs = std::filesystem;

namespace ts {

namespace {

std::string Unquote(std::string v) {
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return v;
}

// The file a path finally names, following links (also one whose target does not exist yet).
std::string LinkTarget(const std::string& path) {
    fs::path p = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {
        const fs::path t = fs::read_symlink(p, ec);
        if (ec) break;
        p = t.is_absolute() ? t : p.parent_path() / t;
    }
    return p.string();
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes text as the new content of target: into a scratch file beside it, which then replaces it.
// The target keeps its mode (and owner, where allowed); a new file gets the usual mode.
bool ReplaceFile(const std::string& target, const std::string& text) {
    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    mode_t mode;
    if (existed) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const fs::path t = target;
    std::string tmp =
        (t.parent_path().empty() ? fs::path(".") : t.parent_path()).string() + "/." + t.filename().string() + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0;
    if (ok && existed && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not allowed to give the file away: it stays ours, which is what a plain write makes too.
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace

IniStore::IniStore(std::string path) : path_(std::move(path)) {}

bool IniStore::Exists() const {
    std::error_code ec;
    return fs::is_regular_file(path_, ec);
}

bool IniStore::ReadOnly() const {
    Lines();
    return readOnly_;
}

std::vector<IniStore::Line>& IniStore::Lines() const {
    if (loaded_) return lines_;
    loaded_ = true;
    struct stat st {};
    readOnly_ = ::stat(path_.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
    std::ifstream f(path_, std::ios::binary);
    if (!f) return lines_;
    ++reads_;
    std::stringstream ss;
    ss << f.rdbuf();
    std::string all = ToUtf8FromLegacy(ss.str());
    if (all.size() >= 3 && all.compare(0, 3, "\xEF\xBB\xBF") == 0) all.erase(0, 3);
    size_t start = 0;
    while (start < all.size()) {
        size_t nl = all.find('\n', start);
        if (nl == std::string::npos) nl = all.size();
        std::string text = all.substr(start, nl - start);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        start = nl + 1;
        Line ln;
        ln.text = text;
        const std::string t = Trim(text);
        if (!t.empty() && t.front() == '[') {
            const size_t close = t.find(']');
            ln.kind = 1;
            ln.name = LowerCase(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
        } else if (!t.empty() && t.front() != ';') {
            const size_t eq = t.find('=');
            if (eq != std::string::npos) {
                ln.kind = 2;
                ln.name = LowerCase(Trim(t.substr(0, eq)));
                ln.value = Unquote(Trim(t.substr(eq + 1)));
            }
        }
        lines_.push_back(std::move(ln));
    }
    return lines_;
}

bool IniStore::Changed() {
    if (readOnly_) return false;
    dirty_ = true;
    return true;
}

bool IniStore::Flush() {
    if (!dirty_) return true;
    std::string text;
    for (const Line& ln : lines_) text.append(ln.text).append("\r\n");
    if (!ReplaceFile(LinkTarget(path_), text)) return false;
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
    if (readOnly_) return false;
    Line kv;
    kv.kind = 2;
    kv.name = LowerCase(key);
    kv.value = value;
    kv.text = key + "=" + value;
    size_t b, e;
    if (!FindSection(section, b, e)) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(Line{});
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
            const std::string t = Trim(lines_[i].text);
            kv.text = Trim(t.substr(0, t.find('='))) + "=" + value;
            lines_[i] = kv;
            return Changed();
        }
    // Append after the section's last non-blank line.
    size_t at = e;
    while (at > b + 1 && Trim(lines_[at - 1].text).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), kv);
    return Changed();
}

bool IniStore::DeleteKey(const std::string& section, const std::string& key) {
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
            const std::string t = Trim(lines_[i].text);
            out.emplace_back(Trim(t.substr(0, t.find('='))), lines_[i].value);
        }
    return out;
}

std::vector<std::string> IniStore::SectionNames() const {
    std::vector<std::string> out;
    for (const Line& ln : Lines())
        if (ln.kind == 1) {
            const std::string t = Trim(ln.text);
            const size_t close = t.find(']');
            out.push_back(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
        }
    return out;
}

}  // namespace ts
