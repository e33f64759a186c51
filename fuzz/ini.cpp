// The INI store over any file: list and read everything, then a write, a delete and an erase must
// do what they say, and the file written must read back as the store held it.
#include <cstring>

#include "fuzz_util.h"
#include "settings/ini_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    fuzz::WriteBytes(dir / "t.ini", data, size);
    ts::IniStore ini((dir / "t.ini").string());
    // A file holding NUL bytes is not text: it is refused whole and stays as it was.
    if (std::memchr(data, 0, size) != nullptr) {
        fuzz::Check(ini.ReadFailed() && !ini.WriteString("Fuzz", "k", "v") && ini.Flush(), "a binary file is taken");
        fuzz::Check(fuzz::ReadBytes(dir / "t.ini") == std::string(reinterpret_cast<const char*>(data), size),
                    "a binary file was changed");
        return 0;
    }
    const std::vector<std::string> sections = ini.SectionNames();
    for (size_t i = 0; i < sections.size() && i < 16; ++i)
        for (const auto& [key, value] : ini.ReadSection(sections[i])) {
            const std::string v = ini.ReadString(sections[i], key, "");
            fuzz::Check(v.size() <= ts::IniStore::kMaxValue, "value longer than a read gives");
            (void)value;
        }
    const std::string section = sections.empty() ? "Fuzz" : sections.front();
    const auto pairs = ini.ReadSection(section);
    const std::string key = pairs.empty() || pairs.front().first.empty() ? "Key" : pairs.front().first;
    fuzz::Check(ini.WriteString(section, key, "written, 1"), "write failed");
    fuzz::Check(ini.ReadString(section, key, "-") == "written, 1",
                "a written key reads back otherwise: [" + section + "] " + key);
    fuzz::Check(ini.WriteString("Fuzz New", "k", "v") && ini.ReadString("fuzz new", "K", "-") == "v",
                "a new section does not read back");
    // As with the system's INI functions, a delete takes the first key of that name only: a second
    // one in the same section answers after it.
    std::vector<std::string> same;
    for (const auto& [k, v] : ini.ReadSection("Fuzz New"))
        if (fuzz::Lower(k) == "k") same.push_back(v.substr(0, ts::IniStore::kMaxValue));
    fuzz::Check(ini.DeleteKey("Fuzz New", "k"), "delete failed");
    fuzz::Check(ini.ReadString("Fuzz New", "k", "-") == (same.size() > 1 ? same[1] : "-"), "a deleted key still reads");
    // The file written holds what the store held: read again, every section lists the same.
    fuzz::Check(ini.Flush(), "flush failed");
    const ts::IniStore again((dir / "t.ini").string());
    const std::vector<std::string> names = ini.SectionNames();
    fuzz::Check(again.SectionNames() == names, "the sections read otherwise once written");
    for (size_t i = 0; i < names.size() && i < 16; ++i)
        fuzz::Check(again.ReadSection(names[i]) == ini.ReadSection(names[i]),
                    "a section reads otherwise once written: [" + names[i] + "]");
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) files += !e.path().empty();
    fuzz::Check(files == 1, "a scratch file is left beside the settings");
    // Names match without regard to case: a second section of the same name may answer after the
    // first is erased.
    size_t sameName = 0;
    for (const std::string& n : ini.SectionNames()) sameName += fuzz::Lower(n) == fuzz::Lower(section);
    ini.EraseSection(section);
    fuzz::Check(sameName > 1 || ini.ReadString(section, key, "-") == "-", "an erased section still reads");
    return 0;
}
