// The settings file under failing and interrupted system calls: it is always the old file or the new
// one, whole, and no scratch file outlives the next save.
#include <sys/file.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "qt_test_app.h"
#include "settings/ini_store.h"
#include "settings/settings_file.h"
#include "settings_faults.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

struct SettingsIoTest : testing::Test {
    std::string dir, path, oldText, newText;
    void SetUp() override {
        dir = ScratchDir("settings_io") + "cfg/";
        fs::create_directories(dir);
        path = dir + "t.ini";
        // Larger than one read, with a section of the user's own.
        oldText = "[Option]\r\nKMZout=0\r\n[User]\r\n";
        for (int i = 0; i < 3000; ++i) oldText += "line" + std::to_string(i) + "=the user's own\r\n";
        WriteBytes(path, oldText);
        Save();
        newText = ReadBytes(path);
        ASSERT_NE(newText, oldText);
        WriteBytes(path, oldText);
    }
    // One save as the program makes it: read, change, flush.
    static bool SaveTo(const std::string& p, std::string* error = nullptr) {
        IniStore ini(p);
        const bool ok = ini.WriteString("Option", "KMZout", "1") && ini.Flush();
        if (error) *error = ini.Error();
        return ok;
    }
    bool Save(std::string* error = nullptr) const { return SaveTo(path, error); }
};

int NoUnnamedFiles(const char* p, int flags, mode_t mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) return errno = EOPNOTSUPP, -1;
    return ::open(p, flags, mode);
}
int NoLinks(int, const char*, int, const char*, int) { return errno = ENOENT, -1; }

}  // namespace

TEST_F(SettingsIoTest, EveryFailedCallLeavesTheOldFileOrTheNewOneAndNoScratch) {
    int faultsHit = 0;
    for (int kind = 0; kind < faults::kKinds; ++kind)
        for (int at = 1;; ++at) {
            WriteBytes(path, oldText);
            bool saved;
            std::string error;
            {
                faults::Scope f(kind, at);
                saved = Save(&error);
                if (!faults::state.hit) break;
            }
            ++faultsHit;
            const std::string what = std::string(faults::kKindNames[kind]) + " #" + std::to_string(at);
            // A failure says why; a read that failed never passes for an empty file.
            EXPECT_EQ(ReadBytes(path), saved ? newText : oldText) << what;
            EXPECT_EQ(error.empty(), saved) << what << ": " << error;
            EXPECT_EQ(faults::ScratchLeft(dir), std::vector<std::string>{}) << what;
        }
    EXPECT_GE(faultsHit, 7);  // open, read, write, fsync, link, close and rename all happen
}

// Killed at any call: the file is old or new, and the next save leaves no scratch file behind,
// the one of the crashed run included.
TEST_F(SettingsIoTest, CrashAtAnyCallIsCleanedUpByTheNextSave) {
    int crashes = 0;
    for (int kind = 0; kind < faults::kKinds; ++kind)
        for (int at = 1;; ++at) {
            WriteBytes(path, oldText);
            WriteBytes(dir + ".t.ini.Stale1", "left by an earlier crash");
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                faults::Scope f(kind, at, true);
                _exit(Save() ? 0 : 1);
            }
            int st = 0;
            ASSERT_EQ(waitpid(pid, &st, 0), pid);
            ASSERT_TRUE(WIFEXITED(st));
            if (WEXITSTATUS(st) != 9) {
                EXPECT_EQ(WEXITSTATUS(st), 0);
                break;
            }
            ++crashes;
            const std::string what = std::string(faults::kKindNames[kind]) + " #" + std::to_string(at);
            const std::string now = ReadBytes(path);
            EXPECT_TRUE(now == oldText || now == newText) << what;
            ASSERT_TRUE(Save()) << what;
            EXPECT_EQ(ReadBytes(path), newText) << what;
            EXPECT_EQ(faults::ScratchLeft(dir), std::vector<std::string>{}) << what;
        }
    EXPECT_GE(crashes, 10);
}

// Where the file system has no unnamed files (or they cannot be linked in), named scratch files
// serve; stale ones are removed, but not one a running save holds, nor the user's own files.
TEST_F(SettingsIoTest, NamedScratchFilesAndWhatTheSweepRemoves) {
    for (const bool noLinks : {false, true}) {
        WriteBytes(path, oldText);
        WriteBytes(dir + ".t.ini.Stale1", "crashed");
        WriteBytes(dir + ".t.ini.Busy22", "being written");
        WriteBytes(dir + ".t.ini.notes", "the user's");
        WriteBytes(dir + "$$$Probe1", "crashed probe");
        const int busy = ::open((dir + ".t.ini.Busy22").c_str(), O_RDONLY);
        ASSERT_EQ(flock(busy, LOCK_EX), 0);
        {
            faults::Scope f(-1, 0);
            if (noLinks) SettingsIoCalls().linkat = NoLinks;
            else SettingsIoCalls().open = NoUnnamedFiles;
            EXPECT_EQ(FolderWriteError(dir), 0);
            ASSERT_TRUE(Save());
        }
        ::close(busy);
        EXPECT_EQ(ReadBytes(path), newText);
        std::vector<std::string> left = faults::ScratchLeft(dir);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{".t.ini.Busy22", ".t.ini.notes"})) << noLinks;
        fs::remove(dir + ".t.ini.Busy22");
        fs::remove(dir + ".t.ini.notes");
    }
}

// A template copied to the per-user folder replaces an older copy only once it was read whole.
TEST_F(SettingsIoTest, UserCopyIsNeverCut) {
    ProgramPaths pp;
    pp.exePath = dir + "trailsmith";
    pp.appData = dir + "appdata";
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
    EXPECT_EQ(ReadBytes(copy), oldText);
    EXPECT_EQ(faults::ScratchLeft(dir + "appdata/trailsmith/"), std::vector<std::string>{});
}
