#include "ini_store.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "text_format.h"

namespace ts {

namespace {

bool SameName(const std::string& a, const std::string& b) { return LowerCase(a) == LowerCase(b); }

std::string Unquote(std::string v) {
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return v;
}

}  // namespace

IniStore::IniStore(std::string path) : path_(std::move(path)) {}

bool IniStore::Exists() const {
    std::error_code ec;
    return std::filesystem::is_regular_file(path_, ec);
}

std::vector<IniStore::Line> IniStore::Load() const {
    std::vector<Line> lines;
    std::ifstream f(path_, std::ios::binary);
    if (!f) return lines;
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
            ln.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        } else if (!t.empty() && t.front() != ';') {
            const size_t eq = t.find('=');
            if (eq != std::string::npos) {
                ln.kind = 2;
                ln.name = Trim(t.substr(0, eq));
                ln.value = Unquote(Trim(t.substr(eq + 1)));
            }
        }
        lines.push_back(std::move(ln));
    }
    return lines;
}

bool IniStore::Save(const std::vector<Line>& lines) const {
    // Write beside the file and rename over it, so a failed write never leaves half a file.
    const std::string tmp = path_ + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        for (const Line& ln : lines) f << ln.text << "\r\n";
        f.flush();
        if (!f) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path_, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    return true;
}

bool IniStore::FindSection(const std::vector<Line>& lines, const std::string& section, size_t& begin, size_t& end) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == 1 && SameName(lines[i].name, section)) {
            begin = i;
            end = i + 1;
            while (end < lines.size() && lines[end].kind != 1) ++end;
            return true;
        }
    }
    return false;
}

std::string IniStore::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    const std::vector<Line> lines = Load();
    size_t b, e;
    std::string v = def;
    if (FindSection(lines, section, b, e)) {
        for (size_t i = b + 1; i < e; ++i)
            if (lines[i].kind == 2 && SameName(lines[i].name, key)) {
                v = lines[i].value;
                break;
            }
    }
    if (v.size() > kMaxValue) v.resize(kMaxValue);
    return v;
}

bool IniStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    std::vector<Line> lines = Load();
    Line kv;
    kv.kind = 2;
    kv.name = key;
    kv.value = value;
    kv.text = key + "=" + value;
    size_t b, e;
    if (!FindSection(lines, section, b, e)) {
        if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(Line{});
        Line head;
        head.kind = 1;
        head.name = section;
        head.text = "[" + section + "]";
        lines.push_back(head);
        lines.push_back(kv);
        return Save(lines);
    }
    for (size_t i = b + 1; i < e; ++i)
        if (lines[i].kind == 2 && SameName(lines[i].name, key)) {
            kv.name = lines[i].name;
            kv.text = lines[i].name + "=" + value;
            lines[i] = kv;
            return Save(lines);
        }
    // Append after the section's last non-blank line.
    size_t at = e;
    while (at > b + 1 && Trim(lines[at - 1].text).empty()) --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), kv);
    return Save(lines);
}

bool IniStore::DeleteKey(const std::string& section, const std::string& key) {
    std::vector<Line> lines = Load();
    size_t b, e;
    if (!FindSection(lines, section, b, e)) return true;
    for (size_t i = b + 1; i < e; ++i)
        if (lines[i].kind == 2 && SameName(lines[i].name, key)) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            return Save(lines);
        }
    return true;
}

bool IniStore::EraseSection(const std::string& section) {
    std::vector<Line> lines = Load();
    size_t b, e;
    if (!FindSection(lines, section, b, e)) return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(b), lines.begin() + static_cast<std::ptrdiff_t>(e));
    return Save(lines);
}

std::vector<std::pair<std::string, std::string>> IniStore::ReadSection(const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> out;
    const std::vector<Line> lines = Load();
    size_t b, e;
    if (!FindSection(lines, section, b, e)) return out;
    for (size_t i = b + 1; i < e; ++i)
        if (lines[i].kind == 2) out.emplace_back(lines[i].name, lines[i].value);
    return out;
}

std::vector<std::string> IniStore::SectionNames() const {
    std::vector<std::string> out;
    for (const Line& ln : Load())
        if (ln.kind == 1) out.push_back(ln.name);
    return out;
}

}  // namespace ts
