// Failures reported as failures: volumes asked for until they are there, errors that nobody
// answered, modes put back after a failed open, and files that cannot be flushed or closed.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "flaky_reads.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "text/wide_strings.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::NativeOf;
using ziptest::Random;

namespace {

// Opens volumes as a reader of the set would, one request at a time.
class VolumeReader : public TZipArchiver {
public:
    void Request(int volume) {
        TZipVolumeNumberInfo info;
        info.Init();
        info.lastVolumeNumber = 2;
        info.SetNumber(volume);
        if (volume == 0) info.SetFirst();
        RequestVolume(info);
    }
};

// Fails every flush or close of the file named, with EIO, while it lives.
struct FailingDisk {
    FailingDisk(TFileCall call, const fs::path& file) {
        SetFileFaultHook([call, name = UTF8DecodeWide(file.string()), this](TFileCall c, const std::u16string& n) {
            if (c != call || n != name) return 0;
            ++hits;
            return EIO;
        });
    }
    ~FailingDisk() { SetFileFaultHook(nullptr); }
    int hits = 0;
};

std::unique_ptr<TZipArchiver> OpenRw(const fs::path& zip) {
    auto a = std::make_unique<TZipArchiver>();
    a->FileName = UTF8DecodeWide(zip.string());
    a->OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    return a;
}

// A split set t.Z01, t.Z02, t.zip: a short item, then a long one over all three volumes.
void SplitSetup(TZipArchiver& a, const ziptest::TempDir& dir) {
    ziptest::Split(a, 65536);
    a.SetCompressionMode(0);
    a.TempDir = dir.wide() + u"tmp";
}

std::unique_ptr<TZipArchiver> OpenSet(const ziptest::TempDir& dir) {
    auto a = std::make_unique<TZipArchiver>();
    SplitSetup(*a, dir);
    a->FileName = dir.wide() + u"t.zip";
    a->OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    a->BaseDir = dir.wide() + u"src";
    return a;
}

void MakeSplitSet(const ziptest::TempDir& dir) {
    dir.write("src/a.txt", "first");
    dir.write("src/b.bin", Random(150000, 12));
    fs::create_directories(dir.path() / "tmp");
    TZipArchiver a;
    SplitSetup(a, dir);
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmCreate);
    a.BaseDir = dir.wide() + u"src";
    a.BeginUpdate();
    a.AddFiles(u"a.txt", 0x28BF, u"");
    a.AddFiles(u"b.bin", 0x28BF, u"");
    a.EndUpdate();
    a.CloseArchive();
}

// Adds (replaces) a.txt in one transaction, as a set must be changed; the native error, or -1.
int ReplaceFirst(TZipArchiver& a) {
    return NativeOf([&] {
        a.BeginUpdate();
        a.AddFiles(u"a.txt", 0x28BF, u"");
        a.EndUpdate();
    });
}

const char* const kSetVolumes[] = {"t.Z01", "t.Z02", "t.zip"};

std::vector<std::string> SetBytes(const ziptest::TempDir& dir) {
    std::vector<std::string> v;
    for (const char* name : kSetVolumes) v.push_back(Bytes(dir.path() / name));
    return v;
}

// The set joined holds both items equal to their sources.
bool SetIsSound(const ziptest::TempDir& dir) {
    std::vector<fs::path> volumes;
    for (const char* name : kSetVolumes) volumes.push_back(dir.path() / name);
    const fs::path joined = dir.path() / "joined.zip";
    const bool ok = ziptest::JoinVolumes(volumes, joined) &&
                    !ziptest::PythonCheck(joined, ziptest::SourcePairs(dir.str() + "src/", {"a.txt", "b.bin"})).empty();
    fs::remove(joined);
    return ok;
}

}  // namespace

TEST(VolumeRequests, TheCommitAsksForALaterVolumeUntilItIsThere) {
    ziptest::TempDir dir;
    MakeSplitSet(dir);
    const auto before = SetBytes(dir);
    dir.write("src/a.txt", "replaced");  // the first item: every later volume is read
    {
        auto a = OpenSet(dir);
        int asked = 0;
        a->OnRequestMiddleVolume = [&](TComponent*, int number, std::u16string& name, bool&) {
            EXPECT_EQ(number, 2);
            if (++asked == 1) name = dir.wide() + u"gone.Z02";
        };
        EXPECT_EQ(ReplaceFirst(*a), -1);
        EXPECT_EQ(asked, 2);
        a->CloseArchive();
        EXPECT_TRUE(SetIsSound(dir));
    }
    // Named where it is not, and then given up: the set stays as it was.
    for (std::size_t i = 0; i < before.size(); ++i) ziptest::Put(dir.path() / kSetVolumes[i], before[i]);
    auto a = OpenSet(dir);
    int asked = 0;
    a->OnRequestLastVolume = [&](TComponent*, std::u16string& name, bool& cancel) {
        name = dir.wide() + u"gone.zip";
        cancel = ++asked == 2;
    };
    EXPECT_EQ(ReplaceFirst(*a), 45);
    EXPECT_EQ(asked, 2);
    a->CloseArchive();
    EXPECT_EQ(SetBytes(dir), before);
}

TEST(VolumeRequests, AVolumeIsAskedForUntilItIsThereOrTheUserGivesUp) {
    ziptest::TempDir dir;
    dir.write("t.Z01", "first");
    dir.write("t.Z02", "middle");
    VolumeReader a;
    a.SetSpanningMode(smSplitting);
    a.FileName = dir.wide() + u"t.zip";
    a.OpenMode = fmOpenRead;
    std::vector<std::u16string> offered{dir.wide() + u"elsewhere.Z01", dir.wide() + u"t.Z01"};
    int asked = 0;
    a.OnRequestFirstVolume = [&](TComponent*, std::u16string& name, bool&) { name = offered[asked++ % 2]; };
    a.Request(0);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(a.CurrentVolumeName, dir.wide() + u"t.Z01");
    // A handler that names nothing there and then gives up ends the request.
    asked = 0;
    a.OnRequestMiddleVolume = [&](TComponent*, int number, std::u16string& name, bool& cancel) {
        EXPECT_EQ(number, 2);
        name = dir.wide() + u"gone.Z02";
        cancel = ++asked == 3;
    };
    EXPECT_EQ(NativeOf([&] { a.Request(1); }), 45);
    EXPECT_EQ(asked, 3);
}

TEST(Failures, AnAbortNobodyChoseIsRaisedAfterTheRollback) {
    ziptest::TempDir dir;
    dir.write("src/a.txt", "kept");
    dir.write("src/b.txt", "vanishes");
    const fs::path zip = dir.path() / "t.zip";
    ziptest::MakeZip(zip, dir.path() / "src", {}, u"a.txt");
    const std::string before = Bytes(zip);
    for (bool prompter : {false, true}) {
        SCOPED_TRACE(prompter);
        auto a = OpenRw(zip);
        TZipPrompter abort;  // a prompter of the caller's: its Abort is the user's
        if (prompter) a->Prompter = &abort;
        a->BaseDir = dir.wide() + u"src";
        ziptest::OnItemStart(
            *a, [&](const std::u16string&, TZipProcessOperation, bool&) { fs::remove(dir.path() / "src/b.txt"); });
        EXPECT_EQ(NativeOf([&] { a->AddFiles(u"b.txt", 0x28BF, u""); }), prompter ? -1 : 33);
        EXPECT_EQ(a->FileCount(), 1);
        a->CloseArchive();
        EXPECT_EQ(Bytes(zip), before);
        dir.write("src/b.txt", "vanishes");
    }
}

TEST(Failures, AFailedOpenPutsTheSpanningModeBack) {
    ziptest::TempDir dir;
    // The last volume of a set whose other volumes are missing.
    std::string end = ziptest::EmptyZip();
    ziptest::SetLe(end, 4, 1, 2);
    ziptest::Put(dir.path() / "lone.zip", end);
    TZipArchiver a;
    a.FileName = dir.wide() + u"lone.zip";
    EXPECT_NE(NativeOf([&] { a.OpenArchive(fmOpenRead); }), -1);
    EXPECT_EQ(a.SpanningMode(), smNone);
    a.FileName = dir.wide() + u"missing.zip";
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmOpenRead); }), 12);
}

TEST(Failures, ASplitSetBehindAStubReopensByItsName) {
    // Two volumes (the stub's and the last) and three.
    for (std::size_t size : {100000, 150000}) {
        SCOPED_TRACE(size);
        ziptest::TempDir dir;
        dir.write("src/a.bin", Random(size, 7));
        dir.write("stub.bin", "MZ" + Random(1000, 8));
        const fs::path zip = dir.path() / "t.zip";
        ziptest::MakeZip(zip, dir.path() / "src", [&](TZipArchiver& a) {
            ziptest::Split(a, 65536);
            a.SFXStub = dir.wide() + u"stub.bin";
            a.SetCompressionMode(0);
        });
        EXPECT_TRUE(fs::exists(dir.path() / "t.exe"));
        EXPECT_FALSE(fs::exists(dir.path() / "t.ZIP"));
        TZipArchiver a;
        a.FileName = UTF8DecodeWide(zip.string());
        a.OpenArchive(fmOpenRead);
        EXPECT_EQ(a.FileCount(), 1);
        EXPECT_EQ(a.SpanningMode(), smSplitting);
    }
}

TEST(FileFaults, AFlushThatFailsRollsTheCommitBack) {
    ziptest::TempDir dir;
    dir.write("src/a.txt", std::string(3000, 'a'));
    dir.write("src/b.txt", std::string(2000, 'b'));
    dir.write("src/c.txt", "new");
    const fs::path zip = dir.path() / "t.zip";
    ziptest::MakeZip(zip, dir.path() / "src", {}, u"?.txt");
    dir.write("src/a.txt", "replaced");
    const std::string before = Bytes(zip);
    // An append (cut at the directory) and a replacement (the tail saved and copied back).
    for (const char16_t* mask : {u"c.txt", u"a.txt"}) {
        SCOPED_TRACE(UTF8EncodeWide(mask));
        ziptest::Put(zip, before);
        dir.write("src/c.txt", "new");
        auto a = OpenRw(zip);
        a->BaseDir = dir.wide() + u"src";
        {
            FailingDisk disk(TFileCall::Flush, zip);
            EXPECT_EQ(NativeOf([&] { a->AddFiles(mask, 0x28BF, u""); }), 46);
            EXPECT_EQ(disk.hits, 1);
        }
        a->CloseArchive();
        EXPECT_EQ(Bytes(zip), before);
    }
}

TEST(FileFaults, AFileThatCannotBeClosedIsNotMade) {
    ziptest::TempDir dir;
    dir.write("src/a.bin", Random(150000, 9));
    const fs::path zip = dir.path() / "t.zip";
    {
        FailingDisk disk(TFileCall::Close, zip);
        TZipArchiver a;
        a.FileName = UTF8DecodeWide(zip.string());
        a.OpenArchive(fmCreate);
        a.BaseDir = dir.wide() + u"src";
        a.AddFiles(u"a.bin", 0x28BF, u"");
        EXPECT_EQ(NativeOf([&] { a.CloseArchive(); }), 46);
        EXPECT_EQ(disk.hits, 1);
        EXPECT_FALSE(a.Active());
    }
    {
        FailingDisk disk(TFileCall::Close, dir.path() / "list.txt");
        TUniStringList list;
        list.Add(u"line");
        EXPECT_THROW(list.SaveToFile(dir.wide() + u"list.txt"), EStreamError);
    }
    // A full volume of a split set that cannot be closed fails its commit.
    FailingDisk disk(TFileCall::Close, dir.path() / "v.Z01");
    TZipArchiver a;
    ziptest::Split(a, 65536);
    a.SetCompressionMode(0);
    a.FileName = dir.wide() + u"v.zip";
    a.OpenArchive(fmCreate);
    a.BaseDir = dir.wide() + u"src";
    EXPECT_EQ(NativeOf([&] { a.AddFiles(u"a.bin", 0x28BF, u""); }), 46);
    EXPECT_EQ(disk.hits, 1);
    EXPECT_FALSE(fs::exists(dir.path() / "v.Z02"));
}

// The old volumes parked aside, the saved tail and the item's temporary cannot be deleted after a
// commit that succeeded: the commit stays a success, each name goes to the failure event, and they
// stay, named after what they hold; no later commit takes them, nor anything else of their naming.
TEST(FileFaults, AScratchFileLeftBehindIsNamedAndStays) {
    ziptest::TempDir dir;
    MakeSplitSet(dir);
    dir.write("src/a.txt", "replaced");
    std::vector<std::u16string> named;
    auto report = [&](TComponent*, const std::u16string& name, TZipProcessOperation, int native, int,
                      const std::u16string& message, TZipAction& action) {
        EXPECT_EQ(native, 27);
        EXPECT_NE(message.find(name), std::u16string::npos);
        named.push_back(name);
        action = fxaIgnore;
    };
    {
        SetFileFaultHook([](TFileCall c, const std::u16string& n) {
            return c == TFileCall::Delete && WideExtractFileName(n).rfind(u"FC", 0) == 0 ? EIO : 0;
        });
        auto a = OpenSet(dir);
        a->OnProcessFileFailure = report;
        EXPECT_EQ(ReplaceFirst(*a), -1);
        SetFileFaultHook(nullptr);
        a->CloseArchive();
    }
    EXPECT_TRUE(SetIsSound(dir));
    // Two parked volumes and the tail beside the set; the item's temporary in tmp/. Each says
    // what it holds: an old volume, the old bytes, the new item.
    ASSERT_EQ(named.size(), 4u);
    std::set<std::string> leftovers;
    for (const std::u16string& n : named) {
        EXPECT_TRUE(fs::exists(WideToFsName(n)));
        const std::string rel = fs::relative(WideToFsName(n), dir.path()).string();
        leftovers.insert(rel);
        leftovers.insert(rel.substr(0, rel.find("FC") + 2) + "*" + rel.substr(rel.find("FC") + 8));
    }
    EXPECT_EQ(leftovers.size(), 8u);
    for (const char* pattern :
         {"FC*.t.Z02.parked.tmp", "FC*.t.zip.parked.tmp", "FC*.t.zip.old.tmp", "tmp/FC*.t.zip.new.tmp"})
        EXPECT_EQ(leftovers.count(pattern), 1u) << pattern;

    dir.write("tmp/FCheld00.tmp", "held by a commit under way");
    const int held = ::open((dir.str() + "tmp/FCheld00.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    dir.write("tmp/FCold000", "another naming");
    fs::create_directories(dir.path() / "tmp/FCdir000.tmp");
    dir.write("src/a.txt", "again");
    {
        auto a = OpenSet(dir);
        a->OnProcessFileFailure = report;
        EXPECT_EQ(ReplaceFirst(*a), -1);
        a->CloseArchive();
    }
    ::close(held);
    EXPECT_EQ(named.size(), 4u);
    EXPECT_TRUE(SetIsSound(dir));
    std::set<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.path().parent_path() != dir.path() / "src") left.insert(fs::relative(e.path(), dir.path()).string());
    std::set<std::string> want{
        "src", "tmp", "t.Z01", "t.Z02", "t.zip", "tmp/FCheld00.tmp", "tmp/FCold000", "tmp/FCdir000.tmp"};
    // The rollback record of the commit that finished is known for one by the next open, and goes.
    for (const std::string& l : leftovers)
        if (l.find('*') == std::string::npos && l.rfind("FCrecord.", 0) != 0) want.insert(l);
    EXPECT_EQ(left, want);
}

// With FlushBuffers an append to or a replacement in one file puts the old bytes it writes over (the
// directory, the saved tail) on the disk beside the archive before the archive is cut back: one
// flush more. A new archive, as the program makes its KMZ, pays none.
TEST(FileFaults, TheSavedTailOfOneFileIsOnTheDiskBeforeTheCut) {
    ziptest::TempDir dir;
    dir.write("src/a.txt", std::string(3000, 'a'));
    dir.write("src/b.txt", std::string(2000, 'b'));
    fs::create_directories(dir.path() / "tmp");
    const fs::path zip = dir.path() / "t.zip";
    std::vector<std::pair<fs::path, std::uintmax_t>> flushes;  // the file, and the archive's size then
    SetFileFaultHook([&](TFileCall c, const std::u16string& n) {
        std::error_code ec;
        if (c == TFileCall::Flush) flushes.emplace_back(WideToFsName(n), fs::file_size(zip, ec));
        return 0;
    });
    auto step = [&](std::uint16_t mode, const char16_t* mask) {
        flushes.clear();
        TZipArchiver a;
        a.TempDir = dir.wide() + u"tmp";
        a.FileName = UTF8DecodeWide(zip.string());
        a.OpenArchive(mode);
        a.BaseDir = dir.wide() + u"src";
        a.AddFiles(mask, 0x28BF, u"");
        a.CloseArchive();
    };
    step(fmCreate, u"a.txt");
    EXPECT_EQ(flushes.size(), 1u);
    std::uintmax_t before = fs::file_size(zip);
    step(fmOpenReadWrite | fmShareDenyWrite, u"b.txt");
    ASSERT_EQ(flushes.size(), 3u);
    EXPECT_EQ(flushes[0].first.parent_path(), dir.path());
    EXPECT_EQ(flushes[0].second, before);
    // The record's name reaches the disk before the cut too.
    EXPECT_TRUE(fs::equivalent(flushes[1].first, dir.path()));
    EXPECT_EQ(flushes[1].second, before);
    EXPECT_EQ(flushes[2].first, zip);
    before = fs::file_size(zip);
    step(fmOpenReadWrite | fmShareDenyWrite, u"a.txt");
    SetFileFaultHook(nullptr);
    ASSERT_EQ(flushes.size(), 3u);
    EXPECT_EQ(flushes[0].first.parent_path(), dir.path());
    EXPECT_EQ(flushes[0].second, before);
    // The record's name reaches the disk before the cut too.
    EXPECT_TRUE(fs::equivalent(flushes[1].first, dir.path()));
    EXPECT_EQ(flushes[1].second, before);
    EXPECT_EQ(flushes[2].first, zip);
}

namespace {

// Runs body in a child process that is killed when a commit takes up its first item, after the
// archive was cut back; true when it was killed there.
bool KilledInCommit(const std::function<void(const std::function<void(TZipArchiver&)>& arm)>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        body([](TZipArchiver& a) {
            ziptest::OnItemStart(
                a, [](const std::u16string&, TZipProcessOperation, bool&) { ::kill(::getpid(), SIGKILL); });
        });
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// The files under dir whose name matches pattern and whose bytes hold old.
std::vector<fs::path> Holding(const ziptest::TempDir& dir, const std::string& pattern, const std::string& old) {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.is_regular_file() && ::fnmatch(pattern.c_str(), e.path().filename().c_str(), 0) == 0 &&
            Bytes(e.path()).find(old) != std::string::npos)
            found.push_back(e.path());
    return found;
}

}  // namespace

// A commit killed after the cut leaves the old data in its scratch files alone, named after the
// archive or volume each holds. Later transactions in the same folders (another set rewritten,
// another archive replaced with the same temporary folder, the caller's own retry of the add on
// the recovered archive) delete none of it, nor a user's own file of the same form.
TEST(FileFaults, AKilledCommitsOldDataOutlivesLaterTransactions) {
    ziptest::TempDir dir;
    MakeSplitSet(dir);
    const std::vector<std::string> oldSet = SetBytes(dir);
    dir.write("src/c.txt", "third");
    dir.write("src/d.bin", Random(20000, 13));
    const fs::path one = dir.path() / "one.zip";
    auto single = [&](TZipArchiver& a) {
        a.TempDir = dir.wide() + u"tmp";
        a.FileName = UTF8DecodeWide(one.string());
    };
    {
        TZipArchiver a;
        single(a);
        a.OpenArchive(fmCreate);
        a.BaseDir = dir.wide() + u"src";
        for (const char16_t* name : {u"a.txt", u"c.txt", u"d.bin"}) a.AddFiles(name, 0x28BF, u"");
        a.CloseArchive();
    }
    const std::string oldOne = Bytes(one);
    dir.write("tmp/FCBackup.tmp", "the user's own");
    dir.write("src/a.txt", "replaced");

    EXPECT_TRUE(KilledInCommit([&](const auto& arm) {
        auto a = OpenSet(dir);
        arm(*a);
        ReplaceFirst(*a);
    }));
    EXPECT_TRUE(KilledInCommit([&](const auto& arm) {
        TZipArchiver a;
        single(a);
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        a.BaseDir = dir.wide() + u"src";
        arm(a);
        a.AddFiles(u"a.txt", 0x28BF, u"");
    }));
    EXPECT_LT(fs::file_size(dir.path() / "t.Z01"), oldSet[0].size());
    EXPECT_LT(fs::file_size(one), oldOne.size());

    // Another set in the same folder rewritten, and the killed add tried again on one file.
    ziptest::MakeZip(dir.path() / "u.zip", dir.path() / "src", [&](TZipArchiver& w) { SplitSetup(w, dir); });
    for (const char16_t* name : {u"u.zip", u"one.zip"}) {
        TZipArchiver a;
        if (name[0] == u'u') SplitSetup(a, dir);
        a.TempDir = dir.wide() + u"tmp";
        a.FileName = dir.wide() + name;
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        a.BaseDir = dir.wide() + u"src";
        EXPECT_EQ(ReplaceFirst(a), -1);
        a.CloseArchive();
    }

    EXPECT_EQ(Holding(dir, "FC??????.t.zip.old.tmp", oldSet[0]).size(), 1u);  // the tail, from t.Z01 on
    EXPECT_EQ(Holding(dir, "FC??????.t.Z02.parked.tmp", oldSet[1]).size(), 1u);
    EXPECT_EQ(Holding(dir, "FC??????.t.zip.parked.tmp", oldSet[2]).size(), 1u);
    EXPECT_EQ(Holding(dir, "FC??????.t.zip.old.tmp", oldSet[2]).size(), 1u);  // and in the tail
    // The killed add on one file: its retry's open put the old bytes back from the record, which
    // then went; every old item is there beside the new one.
    EXPECT_TRUE(Holding(dir, "FC??????.one.zip.old.tmp", "").empty());
    EXPECT_FALSE(
        ziptest::PythonCheck(one, ziptest::SourcePairs(dir.str() + "src/", {"a.txt", "c.txt", "d.bin"})).empty());
    EXPECT_EQ(Bytes(dir.path() / "tmp/FCBackup.tmp"), "the user's own");
}

// A read that fails while an archive of one file is opened is raised wherever it falls: in the
// search for the end record, the Zip64 records, the directory, the search for the archive's start
// behind leading bytes, or the recovery's scan for local headers.
TEST(ReadFailures, EveryFailedReadOfAnOpenIsRaised) {
    ziptest::TempDir dir;
    dir.write("src/a.kml", ziptest::Kml(400));
    dir.write("src/b.bin", Random(70000, 11));
    const fs::path plain = dir.path() / "plain.zip";
    ziptest::MakeZip(plain, dir.path() / "src");
    ziptest::MakeZip(dir.path() / "zip64.zip", dir.path() / "src", [](TZipArchiver& a) { a.Zip64Mode = zmAlways; });
    const std::string bytes = Bytes(plain);
    ziptest::Put(dir.path() / "behind.zip", "MZ" + Random(500, 12) + bytes);
    ziptest::Put(dir.path() / "cut.zip", bytes.substr(0, ziptest::LE(bytes, bytes.size() - 6, 4)));
    for (const char* name : {"plain.zip", "zip64.zip", "behind.zip", "cut.zip"}) {
        SCOPED_TRACE(name);
        const fs::path zip = dir.path() / name;
        const int reads = ziptest::SweepOpenReads([&](TZipArchiver& a) { a.FileName = UTF8DecodeWide(zip.string()); },
                                                  [&] {
                                                      return std::map<std::string, std::string>{{name, Bytes(zip)}};
                                                  },
                                                  2);
        EXPECT_GE(reads, 2);
    }
}
