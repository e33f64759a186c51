// Failures reported as failures: volumes asked for until they are there, errors that nobody
// answered, modes put back after a failed open, and files that cannot be flushed or closed.
#include <filesystem>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "flaky_reads.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "text/wide_strings.h"

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

}  // namespace

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
