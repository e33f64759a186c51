// The settings file under failing and interrupted system calls: always the old file or the new one,
// whole, and no scratch file outlives the next save.
#include <sys/file.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "qt_test_app.h"
#include "settings/settings_file.h"
#include "settings_faults.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

// One save as the program makes it: read, change, flush.
bool Save(const std::string& path, std::string* error = nullptr) {
    IniStore ini(path);
    const bool ok = ini.WriteString("Option", "KMZout", "1") && ini.Flush();
    if (error) *error = ini.Error();
    return ok;
}

}  // namespace

// Each call failing, then each call killing the process (with a crashed run's scratch file
// present): a failure says why, and a read error never passes for an empty file.
TEST(SettingsIo, EveryFailedOrKilledCallLeavesOldOrNewAndNoScratch) {
    const std::string dir = ScratchDir("settings_io") + "cfg/", path = dir + "t.ini";
    fs::create_directories(dir);
    std::string oldText = "[Option]\r\nKMZout=0\r\n[User]\r\n";  // more than one read
    for (int i = 0; i < 3000; ++i) oldText += "line" + std::to_string(i) + "=the user's own\r\n";
    WriteBytes(path, oldText);
    ASSERT_TRUE(Save(path));
    const std::string newText = ReadBytes(path);
    int hits = 0;
    for (const bool crash : {false, true})
        for (int kind = 0; kind < faults::kKinds; ++kind)
            for (int at = 1;; ++at, ++hits) {
                WriteBytes(path, oldText);
                if (crash) WriteBytes(dir + ".t.ini.Stale1", "left by a crash");
                const std::string what = faults::kNames[kind] + std::string(" #") + std::to_string(at);
                std::string error;
                bool saved = false;
                if (!crash) {
                    faults::Scope f(kind, at);
                    saved = Save(path, &error);
                    if (!faults::state.hit) break;
                    EXPECT_EQ(error.empty(), saved) << what << ": " << error;
                } else if (const pid_t pid = fork(); pid == 0) {
                    faults::Scope f(kind, at, true);
                    _exit(Save(path) ? 0 : 1);
                } else {
                    int st = 0;
                    ASSERT_EQ(waitpid(pid, &st, 0), pid);
                    if (WEXITSTATUS(st) != 9) break;
                    const std::string now = ReadBytes(path);
                    EXPECT_TRUE(now == oldText || now == newText) << what;
                    ASSERT_TRUE(Save(path)) << what;  // the next run
                }
                EXPECT_EQ(ReadBytes(path), saved || crash ? newText : oldText) << what;
                EXPECT_EQ(faults::ScratchLeft(dir), std::vector<std::string>{}) << what;
            }
    EXPECT_GE(hits, 20);
}

// Where the file system has no unnamed files, or they cannot be linked in, named scratch files
// serve. The sweep removes stale ones, but not one a running save holds, nor the user's files; a
// template copied to the per-user folder replaces the older copy only when read whole.
TEST(SettingsIo, NamedScratchFilesTheSweepAndTheUserCopy) {
    const std::string dir = ScratchDir("settings_named") + "cfg/", path = dir + "t.ini";
    fs::create_directories(dir);
    for (const bool noLinks : {false, true}) {
        for (const char* n : {".t.ini.Stale1", ".t.ini.Busy22", ".t.ini.notes", "$$$Probe1"}) WriteBytes(dir + n, n);
        const int busy = ::open((dir + ".t.ini.Busy22").c_str(), O_RDONLY);
        ASSERT_EQ(flock(busy, LOCK_EX), 0);
        {
            faults::Scope f(-1, 0);
            if (noLinks)
                SettingsIoCalls().linkat = [](int, const char*, int, const char*, int) { return errno = ENOENT, -1; };
            else
                SettingsIoCalls().open = [](const char* p, int f, mode_t m) {
                    return (f & O_TMPFILE) == O_TMPFILE ? (errno = EOPNOTSUPP, -1) : ::open(p, f, m);
                };
            EXPECT_EQ(FolderWriteError(dir), 0);
            ASSERT_TRUE(Save(path));
        }
        ::close(busy);
        EXPECT_EQ(IniStore(path).ReadString("Option", "KMZout", ""), "1");
        std::vector<std::string> left = faults::ScratchLeft(dir);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{".t.ini.Busy22", ".t.ini.notes"})) << noLinks;
    }

    const ProgramPaths pp{dir + "trailsmith", dir + "appdata"};
    const std::string copy = dir + "appdata/trailsmith/t.ini";
    fs::create_directories(dir + "appdata/trailsmith");
    WriteBytes(copy, "older copy");
    fs::last_write_time(path, fs::file_time_type::clock::now() + std::chrono::hours(24));  // newer template
    for (const int kind : {faults::kRead, faults::kWrite, faults::kRename}) {
        faults::Scope f(kind, 1);
        EXPECT_THROW(UserSettingsCopy(pp, path), std::runtime_error);
        EXPECT_EQ(ReadBytes(copy), "older copy");
    }
    EXPECT_EQ(UserSettingsCopy(pp, path), copy);
    EXPECT_EQ(ReadBytes(copy), ReadBytes(path));
}
