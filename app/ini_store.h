// The settings file: an INI file read and written key by key. Section and key names match without
// regard to case and the first match wins; values are trimmed and lose one pair of surrounding
// quotes; a read gives at most 2047 characters. Writes go to disk at once, replacing a key in place
// or appending it, and create the file when it is missing. The file is written as UTF-8; bytes that
// are not valid UTF-8 (older files) are read as Windows-1252.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ts {

class IniStore {
public:
    explicit IniStore(std::string path);

    const std::string& Path() const { return path_; }
    bool Exists() const;

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool DeleteKey(const std::string& section, const std::string& key);
    bool EraseSection(const std::string& section);
    // The "key=value" pairs of a section in file order (values as read).
    std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
    std::vector<std::string> SectionNames() const;

    static constexpr size_t kMaxValue = 2047;

private:
    struct Line {
        std::string text;     // the line as stored
        int kind = 0;         // 0 other, 1 section header, 2 key
        std::string name;     // section or key name, trimmed
        std::string value;    // value as read (trimmed, unquoted)
    };
    std::vector<Line> Load() const;
    bool Save(const std::vector<Line>& lines) const;
    // [begin, end) of the lines of the first section named `section`; begin is the header.
    static bool FindSection(const std::vector<Line>& lines, const std::string& section, size_t& begin, size_t& end);

    std::string path_;
};

}  // namespace ts
