// Kills a single-file replace, append, rename and delete at each file call it makes in the
// archive's folder (through the preloaded fault library), then tries the same transaction again
// with recovery on, as the caller would. The retry either refuses, or it succeeds and leaves an
// archive that 7z and unzip accept: never a success over a broken archive.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_temp.h"
#include "zip/test_util.h"
#include "zip/zip_judges.h"
#include "zip_commit_ops.h"

namespace {

namespace fs = std::filesystem;

struct Killed {
    bool killed = false;
    int status = -1;
    std::vector<std::string> calls;  // "kind n mode access path", the fault library's log
};

// Runs the driver on folder with the fault library and env added.
Killed RunDriver(const std::string& op, const std::string& folder, const std::string& scratch,
                 const std::vector<std::string>& env) {
    const std::string log = scratch + "calls.txt";
    fs::remove(log);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen((scratch + "out.txt").c_str(), "w", stderr)) _exit(127);
        setenv("FAULT_LOG", log.c_str(), 1);
        setenv("FAULT_DIR", folder.c_str(), 1);
        std::string preload = TS_FAULT_PRELOAD;
        if (std::string(TS_SANITIZER_RUNTIME).size() > 0) preload = std::string(TS_SANITIZER_RUNTIME) + ":" + preload;
        setenv("LD_PRELOAD", preload.c_str(), 1);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        execl(TS_ZIP_DRIVER, TS_ZIP_DRIVER, op.c_str(), folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Killed k;
    int st = 0;
    if (waitpid(pid, &st, 0) != pid) return k;
    k.killed = WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
    k.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("FAULT ", 0) != 0) k.calls.push_back(line);
    return k;
}

class KillSweep : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        scratch_ = ProcessTempDir() + "zipkill_" + GetParam() + "/";
        folder_ = scratch_ + "work/";
        fs::create_directories(scratch_);
        // The archive every case starts from: a deflated text, a stored block of noise and
        // another text, so that each transaction has items before and after what it changes.
        Lay();
        ziptest::MakeZip(folder_ + "t.zip", folder_ + "src", {}, u"?.kml");
        {
            zip::TZipArchiver a;
            a.FileName = zip::UTF8DecodeWide(folder_ + "t.zip");
            a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
            a.BaseDir = zip::UTF8DecodeWide(folder_ + "src");
            a.SetCompressionMode(0);
            a.AddFiles(u"b.bin", 0x28BF, u"");
            a.CloseArchive();
        }
        original_ = ziptest::Bytes(folder_ + "t.zip");
    }

    // A fresh folder: the sources (a.kml changed since it was packed) and the original archive.
    void Lay() {
        fs::remove_all(folder_);
        fs::create_directories(folder_ + "tmp");
        auto put = [&](const std::string& name, const std::string& bytes) {
            fs::create_directories(fs::path(folder_ + "src/" + name).parent_path());
            std::ofstream(folder_ + "src/" + name, std::ios::binary) << bytes;
        };
        put("a.kml", ziptest::Kml(original_.empty() ? 300 : 500));
        put("b.bin", ziptest::Random(30000, 7));
        put("c.kml", ziptest::Kml(120));
        put("d.bin", ziptest::Random(12000, 8));
        if (!original_.empty()) std::ofstream(folder_ + "t.zip", std::ios::binary) << original_;
    }

    // Whether 7z and unzip both accept the archive, and Python finds the transaction done in it;
    // the same bytes are judged once.
    bool Accepted(std::string* why) {
        const std::string bytes = ziptest::Bytes(folder_ + "t.zip");
        auto found = judged_.find(bytes);
        if (found != judged_.end()) return found->second.empty() || (*why = found->second, false);
        std::string a, b;
        const bool seven = ziptest::SevenZipTest(folder_ + "t.zip", &a);
        const bool unzip = ziptest::UnzipTest(folder_ + "t.zip", &b);
        std::string verdict;
        if (!seven) verdict += "7z: " + a.substr(0, 600);
        if (!unzip) verdict += " unzip: " + b.substr(0, 600);
        // The item changed holds its new bytes; a renamed or deleted one is gone under its old
        // name. (An item the kill took away with the old tail is not the retry's to bring back.)
        const std::string op = GetParam();
        const std::string src = folder_ + "src/", zip = folder_ + "t.zip";
        const std::string listing = "\n" + ziptest::PythonCheck(zip);
        std::vector<std::string> pairs;
        if (op == "replace") pairs = {"a.kml=" + src + "a.kml"};
        if (op == "append") pairs = {"d.bin=" + src + "d.bin"};
        if (op == "rename" && listing.find("\nroute/b2.bin|") != std::string::npos)
            pairs = {"route/b2.bin=" + src + "b.bin"};
        if (listing == "\n" || ziptest::PythonCheck(zip, pairs).empty() ||
            (op != "replace" && op != "append" && listing.find("\nb.bin|") != std::string::npos))
            verdict += " not done:" + listing;
        judged_[bytes] = verdict;
        *why = verdict;
        return verdict.empty();
    }

    std::string scratch_, folder_, original_;
    std::map<std::string, std::string> judged_;
};

TEST_P(KillSweep, EveryKillPointEndsAcceptedOrRefused) {
    const std::string op = GetParam();
    Lay();
    const Killed clean = RunDriver(op, folder_, scratch_, {});
    ASSERT_EQ(clean.status, 0) << ziptest::Bytes(scratch_ + "out.txt");
    std::string why;
    ASSERT_TRUE(Accepted(&why)) << why;
    // Each call that may change what is on the disk; a read changes nothing, a kill there leaves
    // what the kill at the next call does.
    std::vector<std::pair<std::string, std::string>> points;
    for (const std::string& c : clean.calls) {
        std::istringstream in(c);
        std::string kind, n;
        in >> kind >> n;
        if (kind != "read") points.emplace_back(kind, n);
    }
    ASSERT_GE(points.size(), 5u);
    int refused = 0, killed = 0;
    for (const auto& [kind, n] : points) {
        SCOPED_TRACE(op + " killed at " + kind + " " + n);
        Lay();
        const Killed k = RunDriver(op, folder_, scratch_, {"FAULT_KIND=" + kind, "FAULT_AT=" + n, "FAULT_KILL=1"});
        EXPECT_TRUE(k.killed) << ziptest::Bytes(scratch_ + "out.txt");
        killed += k.killed;
        std::string message;
        bool failed = true;
        try {
            zipsweep::Perform(op, folder_);
            failed = false;
        } catch (const std::exception& e) {
            message = e.what();
        }
        if (failed) {
            ++refused;
            EXPECT_FALSE(message.empty());
            continue;
        }
        EXPECT_TRUE(Accepted(&why)) << why;
    }
    RecordProperty("kill_points", static_cast<int>(points.size()));
    RecordProperty("refused", refused);
    std::printf("%s: %zu kill points, %d killed, %d retries refused\n", op.c_str(), points.size(), killed, refused);
}

INSTANTIATE_TEST_SUITE_P(SingleFile, KillSweep, testing::Values("replace", "append", "rename", "delete"));

}  // namespace
