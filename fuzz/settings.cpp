// The settings load over any settings file; what is then saved must load and save again to the
// same file.
#include <cstring>

#include "fuzz_util.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    fuzz::WriteBytes(dir / "in.ini", data, size);
    ts::IniStore in((dir / "in.ini").string()), once((dir / "once.ini").string()), twice((dir / "twice.ini").string());
    // A file holding NUL bytes is no settings file: it is not read, and nothing else is checked.
    if (in.ReadFailed()) {
        fuzz::Check(std::memchr(data, 0, size) != nullptr, "a text file was not read");
        return 0;
    }
    ts::Settings s;
    s.programDir = dir.string() + "/";
    ts::LoadSettings(s, in);
    if (!ts::SaveSettings(s, once)) return 0;
    ts::Settings s2;
    s2.programDir = s.programDir;
    fuzz::Check(ts::LoadSettings(s2, once), "a saved settings file does not load whole");
    fuzz::Check(ts::SaveSettings(s2, twice), "saving the reloaded settings failed");
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) files += !e.path().empty();
    fuzz::Check(files == 3, "a scratch file is left beside the settings");
    const std::string a = fuzz::ReadBytes(dir / "once.ini"), b = fuzz::ReadBytes(dir / "twice.ini");
    if (a != b) {
        size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
        const size_t from = a.rfind('\n', i) == std::string::npos ? 0 : a.rfind('\n', i) + 1;
        fuzz::Fail("settings change when saved, loaded and saved again: " + a.substr(from, 80) + " / " +
                   b.substr(from, 80));
    }
    return 0;
}
