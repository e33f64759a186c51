// Kills a single-file replace, append, rename and delete, and a split set's replace and append, at
// each file call they make in the archive's folder (through the preloaded fault library). The next
// open for writing finds the archive byte for byte as it was before the killed transaction, or
// whole as after it, or refuses; then the same transaction is tried again with recovery on, as the
// caller would: it refuses, or it succeeds with every item there and an archive that 7z, unzip and
// Python accept. Never a success over a broken archive or one that lost an item.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
        // another text, so that each transaction has items before and after what it changes. A
        // set's noise spans its volumes.
        Lay();
        const std::string op = GetParam();
        if (zipsweep::OnSet(op)) {
            zip::TZipArchiver a;
            zipsweep::Setup(a, op, folder_);
            a.OpenArchive(zip::fmCreate);
            a.BaseDir = zip::UTF8DecodeWide(folder_ + "src");
            a.BeginUpdate();
            for (const char16_t* name : {u"a.kml", u"b.bin", u"c.kml"}) a.AddFiles(name, 0x28BF, u"");
            a.EndUpdate();
            a.CloseArchive();
        } else {
            ziptest::MakeZip(folder_ + "t.zip", folder_ + "src", {}, u"?.kml");
            zip::TZipArchiver a;
            a.FileName = zip::UTF8DecodeWide(folder_ + "t.zip");
            a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
            a.BaseDir = zip::UTF8DecodeWide(folder_ + "src");
            a.SetCompressionMode(0);
            a.AddFiles(u"b.bin", 0x28BF, u"");
            a.CloseArchive();
        }
        original_ = Files();
        ASSERT_GE(original_.size(), zipsweep::OnSet(op) ? 3u : 1u);
    }

    // The archive's files: t.zip, and a set's numbered volumes before it, with their bytes.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(folder_)) {
            const std::string name = e.path().filename().string();
            if (name == "t.zip" || name.rfind("t.Z", 0) == 0) files[name] = ziptest::Bytes(e.path());
        }
        return files;
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
        put("b.bin", ziptest::Random(zipsweep::OnSet(GetParam()) ? 150000 : 30000, 7));
        put("c.kml", ziptest::Kml(120));
        put("d.bin", ziptest::Random(12000, 8));
        // What the archive holds of a.kml, outside the sources that the adds search.
        fs::create_directories(folder_ + "keep");
        std::ofstream(folder_ + "keep/a.kml", std::ios::binary) << ziptest::Kml(300);
        for (const auto& [name, bytes] : original_) std::ofstream(folder_ + name, std::ios::binary) << bytes;
    }

    // Whether 7z and unzip both accept the archive (a set joined into one file first), and Python
    // finds the transaction done in it with every other item there, byte for byte; the same bytes
    // are judged once.
    bool Accepted(std::string* why) {
        const std::string op = GetParam();
        std::string zip = folder_ + "t.zip";
        std::string bytes;
        if (zipsweep::OnSet(op)) {
            std::vector<fs::path> volumes;
            for (int n = 1; fs::exists(Volume(n)); ++n) volumes.push_back(Volume(n));
            volumes.push_back(zip);
            for (const auto& v : volumes) bytes += ziptest::Bytes(v) + "|";
            zip = scratch_ + "joined.zip";
            fs::remove(zip);
            if (!ziptest::JoinVolumes(volumes, zip)) return *why = "the set cannot be joined", false;
        } else {
            bytes = ziptest::Bytes(zip);
        }
        auto found = judged_.find(bytes);
        if (found != judged_.end()) return found->second.empty() || (*why = found->second, false);
        std::string a, b;
        const bool seven = ziptest::SevenZipTest(zip, &a);
        const bool unzip = ziptest::UnzipTest(zip, &b);
        std::string verdict;
        if (!seven) verdict += "7z: " + a.substr(0, 600);
        if (!unzip) verdict += " unzip: " + b.substr(0, 600);
        const std::string src = folder_ + "src/";
        std::vector<std::string> pairs = {"c.kml=" + src + "c.kml"};
        std::vector<std::string> names = {"a.kml", "c.kml"};
        const std::string base = op.substr(zipsweep::OnSet(op) ? 4 : 0);
        pairs.push_back(base == "replace" ? "a.kml=" + src + "a.kml" : "a.kml=" + folder_ + "keep/a.kml");
        if (base == "replace" || base == "append") {
            pairs.push_back("b.bin=" + src + "b.bin");
            names.push_back("b.bin");
        }
        if (base == "append") {
            pairs.push_back("d.bin=" + src + "d.bin");
            names.push_back("d.bin");
        }
        if (base == "rename") {
            pairs.push_back("route/b2.bin=" + src + "b.bin");
            names.push_back("route/b2.bin");
        }
        const std::string listing = ziptest::PythonCheck(zip, pairs);
        std::vector<std::string> listed;
        std::istringstream in(listing);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) listed.push_back(line.substr(0, line.find('|')));
        std::sort(listed.begin(), listed.end());
        std::sort(names.begin(), names.end());
        if (listed != names) verdict += " not done, or an item lost:\n" + ziptest::PythonCheck(zip);
        judged_[bytes] = verdict;
        *why = verdict;
        return verdict.empty();
    }

    std::string Volume(int n) {
        char name[16];
        std::snprintf(name, sizeof name, "t.Z%02d", n);
        return folder_ + name;
    }

    std::string scratch_, folder_;
    std::map<std::string, std::string> original_;
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
    int refused = 0, killed = 0, before = 0;
    for (const auto& [kind, n] : points) {
        SCOPED_TRACE(op + " killed at " + kind + " " + n);
        Lay();
        const Killed k = RunDriver(op, folder_, scratch_, {"FAULT_KIND=" + kind, "FAULT_AT=" + n, "FAULT_KILL=1"});
        EXPECT_TRUE(k.killed) << ziptest::Bytes(scratch_ + "out.txt");
        killed += k.killed;
        // The next open for writing: the archive as before the killed transaction, or as after it.
        bool opened = false;
        try {
            zip::TZipArchiver a;
            zipsweep::Setup(a, op, folder_);
            a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
            a.CloseArchive();
            opened = true;
        } catch (const std::exception& e) {
            EXPECT_FALSE(std::string(e.what()).empty());
        }
        if (opened) {
            std::map<std::string, std::string> now = Files();
            // A set's volumes beyond its old last one, made by the killed commit, are not the set's.
            for (auto it = now.begin(); it != now.end();)
                it = original_.count(it->first) == 0 && it->first != "t.zip" ? now.erase(it) : std::next(it);
            if (now == original_) ++before;
            else EXPECT_TRUE(Accepted(&why)) << "neither as before nor as after: " << why;
        }
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
    std::printf("%s: %zu kill points, %d killed, %d found as before, %d retries refused\n", op.c_str(), points.size(),
                killed, before, refused);
}

INSTANTIATE_TEST_SUITE_P(SingleFile, KillSweep, testing::Values("replace", "append", "rename", "delete"));
INSTANTIATE_TEST_SUITE_P(SplitSet, KillSweep, testing::Values("set-replace", "set-append"));

}  // namespace
