// The write path of the archive component: headers as written, appends and middle changes,
// rollback after cancels and full disks, names, Zip64 and file selection.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "archive/deflate_pipeline.h"
#include "archive/file_selection.h"
#include "archive/item_writer.h"
#include "test_util.h"
#include "text/mask_match.h"
#include "text/wide_files.h"
#include "text/wide_text.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::Kml;
using ziptest::LE;
using ziptest::Random;

namespace {

int TempFilesIn(const fs::path& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().rfind("FC", 0) == 0;
    return n;
}

// Lets writes beyond limit bytes of any file fail as on a full disk.
struct FileSizeLimit {
    rlimit old{};
    explicit FileSizeLimit(std::int64_t limit) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit r = old;
        r.rlim_cur = static_cast<rlim_t>(limit);
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

// An archive in a scratch folder, its sources in src/ and its temporary files in tmp/.
struct Fixture {
    ziptest::TempDir dir;
    TZipArchiver a;
    Fixture() {
        fs::create_directories(dir.path() / "src");
        fs::create_directories(dir.path() / "tmp");
        a.SetCompressionMode(9);
        a.TempDir = dir.wide() + u"tmp";
        a.FileName = dir.wide() + u"t.zip";
        a.BaseDir = dir.wide() + u"src";
        a.OpenArchive(fmCreate);
    }
    fs::path zip() const { return dir.path() / "t.zip"; }
    void Put(const std::string& name, const std::string& data) { dir.write("src/" + name, data); }
    std::string Src(const std::string& name) const { return dir.str() + "src/" + name; }
    void Add(const std::u16string& mask) { a.AddFiles(mask, 0x28BF, u""); }
    // Python's zipfile finds the archive whole and each named member equal to its source; its
    // listing, empty on failure.
    std::string Check(const std::vector<std::string>& names) const {
        std::vector<std::string> pairs;
        for (const auto& n : names) pairs.push_back(n + "=" + Src(n));
        return ziptest::PythonCheck(zip(), pairs);
    }
    bool Intact(const std::vector<std::string>& names) const { return !Check(names).empty(); }
};

}  // namespace

TEST(DeflatePipeline, CrcMatchesZlib) {
    EXPECT_EQ(UpdateCrc32(0x1234, nullptr, 5), 0x1234u);
    const std::string r = Random(100000, 3);
    EXPECT_EQ(~UpdateCrc32(0xFFFFFFFF, r.data(), static_cast<std::int64_t>(r.size())),
              crc32(0, reinterpret_cast<const Bytef*>(r.data()), static_cast<uInt>(r.size())));
    EXPECT_THROW(CheckZlibResult(-2), ECompressionError);
}

// One KML file as the program packs it, then an append that keeps the earlier bytes and makes no
// temporary file.
TEST(ItemWriter, OneKmlFileAsTheProgramPacksItThenAnAppend) {
    Fixture f;
    const std::string kml = Kml(30).substr(0, 1000);
    f.Put("doc.kml", kml);
    f.Put("b.png", Random(5000, 1));
    f.Add(u"doc.kml");
    const std::string z = Bytes(f.zip());
    ASSERT_GT(z.size(), 100u);
    // Local header: version 2.0 with MS-DOS names, no flags, deflated, the Unicode name extra.
    const std::uint64_t csize = LE(z, 18, 4);
    const std::size_t dir = 30 + 7 + 26 + csize, end = z.size() - 22;
    const std::vector<std::array<std::uint64_t, 3>> fields = {
        {0, 4, 0x04034B50},
        {4, 2, 0x14},
        {6, 2, 0},
        {8, 2, 8},
        {22, 4, 1000},
        {26, 2, 7},
        {28, 2, 26},
        {37, 2, 0x554E},
        {39, 2, 22},
        {45, 4, 7},
        {14, 4, crc32(0, reinterpret_cast<const Bytef*>(kml.data()), 1000)},
        // One central header after the data, then the end record.
        {dir, 4, 0x02014B50},
        {end, 4, 0x06054B50},
        {end + 8, 2, 1},
        {end + 10, 2, 1},
        {end + 16, 4, dir},
        {end + 20, 2, 0}};
    for (const auto& [at, n, v] : fields) EXPECT_EQ(LE(z, at, static_cast<int>(n)), v) << "at " << at;
    EXPECT_EQ(z.substr(30, 7), "doc.kml");
    EXPECT_EQ(z.substr(41, 4), "NUCX");
    EXPECT_EQ(z.substr(49, 4), std::string("d\0o\0", 4));

    f.Add(u"b.png");
    const std::string after = Bytes(f.zip());
    EXPECT_EQ(after.substr(0, dir), z.substr(0, dir));
    EXPECT_EQ(LE(after, dir, 4), 0x04034B50u);  // the new item over the old directory
    EXPECT_EQ(TempFilesIn(f.dir.path() / "tmp"), 0);
    EXPECT_EQ(f.a.FileCount(), 2);
    EXPECT_TRUE(f.Intact({"doc.kml", "b.png"}));
}

TEST(ItemWriter, NamesOutsideTheOemCodePageAreStoredAsUtf8) {
    Fixture f;
    f.a.Options.Recurse = true;
    std::string deep;  // a long path of three-byte characters
    for (int i = 0; i < 80; ++i) deep += "\xE3\x81\x82";
    deep += "/" + deep + ".txt";
    const std::vector<std::string> names = {"plain.txt", "caf\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", deep};
    f.a.BeginUpdate();
    for (const std::string& n : names) {
        f.Put(n, n);
        f.Add(UTF8DecodeWide(n));
    }
    f.a.EndUpdate();
    f.a.CloseArchive();
    const std::string listing = f.Check(names);
    // CP437 holds "café"; the others get the UTF-8 flag.
    for (const std::string& line : {std::string("plain.txt|0|8|554e"), std::string("caf\xC3\xA9.txt|0|8|554e"),
                                    std::string("\xE6\x97\xA5\xE6\x9C\xAC.txt|2048|8|554e"), deep + "|2048|"})
        EXPECT_NE(listing.find(line), std::string::npos) << listing;
    EXPECT_NE(Bytes(f.zip()).find("caf\x82.txt"), std::string::npos);  // exactly in the OEM code page
    EXPECT_TRUE(ziptest::UnzipTest(f.zip()));
    EXPECT_TRUE(ziptest::SevenZipTest(f.zip()));
}

// The kept items are copied by their local header lengths and get the central signature, whatever
// their central copies say.
TEST(Commit, ReplacingAnItemRewritesTheTailThroughATemporaryFile) {
    Fixture f;
    for (const char* n : {"a.kml", "b.kml", "c.kml"}) f.Put(n, Kml(100) + n);
    f.a.BeginUpdate();
    f.Add(u"*.kml");
    f.a.EndUpdate();
    f.a.DirManager()->Items.GetItem(1).ExtraFields.clear();            // central extras differ from the local ones
    f.a.DirManager()->Items.GetItem(2).Header.Signature = 0x04034B50;  // as rebuilt from a local header
    f.Put("a.kml", Kml(300));
    int tempsSeen = -1, besideSeen = -1;
    ziptest::OnItemStart(f.a, [&](const std::u16string&, TZipProcessOperation op, bool&) {
        if (op != poUpdate) return;
        tempsSeen = TempFilesIn(f.dir.path() / "tmp");
        besideSeen = TempFilesIn(f.dir.path());  // the saved tail lives beside the archive
    });
    f.Add(u"a.kml");
    EXPECT_EQ(tempsSeen, 0);
    EXPECT_EQ(besideSeen, 1);
    EXPECT_EQ(TempFilesIn(f.dir.path()), 0);
    EXPECT_EQ(TempFilesIn(f.dir.path() / "tmp"), 0);
    EXPECT_EQ(f.a.FileCount(), 3);
    EXPECT_TRUE(f.Intact({"a.kml", "b.kml", "c.kml"}));
    EXPECT_TRUE(ziptest::UnzipTest(f.zip()));
}

TEST(Commit, AFullDiskRollsBackWithoutLosingEarlierItems) {
    Fixture f;
    f.a.SetCompressionMode(0);  // stored: sizes known in advance
    f.Put("a.bin", Random(1000, 1));
    f.Put("b.bin", Random(5000, 2));
    f.Put("big.bin", Random(3000, 4));
    f.Add(u"a.bin");
    const std::string one = Bytes(f.zip());
    const std::int64_t dirOffset = static_cast<std::int64_t>(LE(one, one.size() - 6, 4));

    {  // The data does not fit and no OnDiskFull handler answers: undone, and the write error said.
        FileSizeLimit limit(static_cast<std::int64_t>(one.size()) + 500);
        EXPECT_EQ(ziptest::NativeOf([&] { f.Add(u"b.bin"); }), 46);
    }
    EXPECT_EQ(Bytes(f.zip()), one);
    EXPECT_EQ(f.a.FileCount(), 1);
    {  // A prompter of the caller's is not asked for a one-file archive: still nobody's cancel.
        TZipPrompter prompter;
        f.a.Prompter = &prompter;
        FileSizeLimit limit(static_cast<std::int64_t>(one.size()) + 500);
        EXPECT_EQ(ziptest::NativeOf([&] { f.Add(u"b.bin"); }), 46);
        f.a.Prompter = nullptr;
    }
    {  // A handler that answers Cancel chose the rollback: no error, and Cancelled says so.
        int asked = 0;
        f.a.OnDiskFull = [&](TComponent*, int, const std::u16string&, bool& cancel) { cancel = ++asked > 0; };
        FileSizeLimit limit(static_cast<std::int64_t>(one.size()) + 500);
        EXPECT_EQ(ziptest::NativeOf([&] { f.Add(u"b.bin"); }), -1);
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(f.a.Cancelled);
        f.a.OnDiskFull = nullptr;
    }
    EXPECT_EQ(Bytes(f.zip()), one);
    EXPECT_EQ(f.a.FileCount(), 1);

    {  // The data fits, the new directory does not: the old one is written again.
        const std::int64_t bRecord = 30 + 5 + 22 + 5000;
        FileSizeLimit limit(dirOffset + bRecord + 40);
        try {
            f.Add(u"b.bin");
            ADD_FAILURE() << "no error";
        } catch (const EZipException& e) {
            EXPECT_EQ(e.NativeError, 46);
        }
    }
    EXPECT_EQ(Bytes(f.zip()), one);
    EXPECT_EQ(f.a.FileCount(), 1);

    f.Add(u"b.bin");
    const std::string two = Bytes(f.zip());
    {  // A change in the middle: the old tail comes back from the temporary file.
        f.Put("a.bin", Random(3000, 5));
        const std::int64_t records = (30 + 5 + 22 + 3000) + (30 + 5 + 22 + 5000);
        FileSizeLimit limit(records + 40);
        EXPECT_THROW(f.Add(u"a.bin"), EZipException);
    }
    EXPECT_EQ(Bytes(f.zip()), two);
    EXPECT_EQ(TempFilesIn(f.dir.path() / "tmp"), 0);

    // A disk-full handler that fails refuses; one that makes room and says retry gets the item.
    int calls = 0;
    f.a.OnDiskFull = [&](TComponent*, int, const std::u16string&, bool& cancel) {
        cancel = ++calls > 3;  // ends what would otherwise retry for ever
        if (!cancel) throw std::runtime_error("no disk here");
    };
    auto limit = std::make_unique<FileSizeLimit>(static_cast<std::int64_t>(two.size()) + 500);
    f.Add(u"big.bin");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Bytes(f.zip()), two);
    calls = 0;
    f.a.OnDiskFull = [&](TComponent*, int, const std::u16string&, bool& cancel) {
        ++calls;
        limit.reset();
        cancel = false;
    };
    f.Add(u"big.bin");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(f.a.FileCount(), 3);
    EXPECT_TRUE(f.Intact({"b.bin", "big.bin"}));
    EXPECT_TRUE(ziptest::UnzipTest(f.zip()));
}

TEST(Commit, ARetriedItemGetsItsExtrasOnce) {
    Fixture f;
    f.Put("a.kml", Kml(10));
    const std::string src = f.Src("a.kml");
    int starts = 0, failures = 0;
    ziptest::OnItemStart(f.a, [&](const std::u16string&, TZipProcessOperation, bool&) {
        if (starts++ == 0) fs::rename(src, src + ".away");  // the first attempt cannot open it
    });
    f.a.OnProcessFileFailure = [&](TComponent*, const std::u16string&, TZipProcessOperation, int native, int,
                                   const std::u16string&, TZipAction& action) {
        ++failures;
        EXPECT_EQ(native, 33);
        fs::rename(src + ".away", src);
        action = fxaRetry;
    };
    f.Add(u"a.kml");
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(failures, 1);
    const std::string listing = ziptest::PythonCheck(f.zip(), {"a.kml=" + src});
    EXPECT_EQ(listing, "a.kml|0|8|554e\n");
}

// Cancelled, ignored and aborted adds leave the archive as it was.
TEST(Commit, CancelledIgnoredAndAbortedItems) {
    Fixture f;
    f.Put("a.kml", Kml(10));
    f.Put("b.kml", Kml(20));
    f.Add(u"a.kml");
    const std::string before = Bytes(f.zip());
    f.a.OnOverallProgress = [](TComponent*, double, TZipProcessOperation, TZipProgressPhase ph, bool& cancel) {
        cancel = ph == ppStart;
    };
    auto unchanged = [&] {
        EXPECT_EQ(f.a.FileCount(), 1);
        EXPECT_EQ(Bytes(f.zip()), before);
    };
    f.Add(u"b.kml");
    unchanged();
    f.a.OnOverallProgress = nullptr;
    TZipAction answer = fxaIgnore;
    f.a.OnProcessFileFailure = [&](TComponent*, const std::u16string&, TZipProcessOperation, int, int,
                                   const std::u16string&, TZipAction& action) { action = answer; };
    ziptest::OnItemStart(f.a, [&](const std::u16string& name, TZipProcessOperation, bool&) {
        if (name.find(u"b.kml") != std::u16string::npos) fs::remove(f.Src("b.kml"));
    });
    f.Add(u"b.kml");  // ignored: the new item is dropped, the archive stays complete
    unchanged();
    f.Put("b.kml", Kml(20));
    answer = fxaAbort;
    f.Add(u"b.kml");
    unchanged();

    // A new version of a.kml that cannot be read: ignored, the old version stays whole.
    answer = fxaIgnore;
    const std::string old = Bytes(f.Src("a.kml"));
    f.dir.write("keep.kml", old);
    f.Put("a.kml", Kml(30));
    ziptest::OnItemStart(f.a, [&](const std::u16string&, TZipProcessOperation, bool&) { fs::remove(f.Src("a.kml")); });
    f.Add(u"a.kml");
    EXPECT_EQ(f.a.FileCount(), 1);
    EXPECT_FALSE(ziptest::PythonCheck(f.zip(), {"a.kml=" + f.dir.str() + "keep.kml"}).empty());
    f.a.OnFileProgress = nullptr;
    f.Put("b.kml", Kml(20));
    f.Add(u"b.kml");  // nothing of the failed adds lingers
    EXPECT_EQ(f.a.FileCount(), 2);
    EXPECT_TRUE(f.Intact({"b.kml"}));
}

TEST(ItemWriter, DatesBefore1980) {
    Fixture f;
    f.Put("old.kml", "x");
    fs::last_write_time(f.Src("old.kml"), fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 60));
    f.Add(u"old.kml");
    EXPECT_EQ(ziptest::PythonFields(f.zip(), "i.date_time"), "(1980, 1, 1, 0, 0, 0)\n");
}

namespace {
// Marks every added item as moved, as a move operation would.
class MovingArchiver : public TZipArchiver {
protected:
    void AddFilesInternal(TUniStrings& masks, int searchAttr, bool recurse, TUniStrings& exclusions) override {
        TZipArchiver::AddFilesInternal(masks, searchAttr, recurse, exclusions);
        for (int i = 0; i < DirManager()->Items.GetCount(); ++i)
            if (DirManager()->Items.GetItem(i).Pending) DirManager()->Items.GetItem(i).ItemOperation = poMove;
    }
};
}  // namespace

TEST(Commit, MovedSourcesGoOnlyAfterASuccessfulCommit) {
    ziptest::TempDir dir;
    dir.write("a.kml", Kml(10));
    MovingArchiver a;
    a.FileName = dir.wide() + u"t.zip";
    a.BaseDir = dir.wide();
    a.OpenArchive(fmCreate);
    a.OnFileProgress = [](TComponent*, const std::u16string&, double, TZipProcessOperation, TZipProgressPhase ph,
                          bool& cancel) { cancel = ph == ppProcess; };
    a.AddFiles(u"a.kml", 0x28BF, u"");
    EXPECT_TRUE(fs::exists(dir.path() / "a.kml"));
    EXPECT_EQ(a.FileCount(), 0);
    a.OnFileProgress = nullptr;
    a.AddFiles(u"a.kml", 0x28BF, u"");
    EXPECT_FALSE(fs::exists(dir.path() / "a.kml"));
    EXPECT_EQ(a.FileCount(), 1);
}

TEST(Zip64, SizesThatCanOverflow) {
    EXPECT_FALSE(LocalZip64Needed(1000, 9, zmAuto));
    EXPECT_TRUE(LocalZip64Needed(0xFFFFFFFFLL - 1000, 9, zmAuto));  // only the compressed size can
    EXPECT_TRUE(LocalZip64Needed(0xFFFFFFFFLL, 0, zmAuto));
    EXPECT_TRUE(LocalZip64Needed(-1, 0, zmAuto));
    EXPECT_TRUE(LocalZip64Needed(10, 0, zmAlways));
    EXPECT_FALSE(LocalZip64Needed(0xFFFFFFFFLL - 1000, 9, zmDisabled));  // the size check reports it

    // With Zip64 off a huge file is refused before any byte is written.
    Fixture f;
    {
        std::ofstream(f.Src("huge.bin"));
        fs::resize_file(f.Src("huge.bin"), 0x100000000ULL + 10);  // sparse
    }
    int native = 0;
    f.a.OnProcessFileFailure = [&](TComponent*, const std::u16string&, TZipProcessOperation, int n, int,
                                   const std::u16string&, TZipAction& action) {
        native = n;
        action = fxaAbort;
    };
    f.Add(u"huge.bin");
    EXPECT_EQ(native, 43);
    EXPECT_EQ(f.a.FileCount(), 0);
    f.a.CloseArchive();
    EXPECT_EQ(Bytes(f.zip()), ziptest::EmptyZip());
}

TEST(Zip64, ManyItemsGetTheZip64EndRecords) {
    ziptest::TempDir dir;
    TZipArchiver a;
    a.SetCompressionMode(0);
    a.UnicodeFilenames = false;
    a.FileName = dir.wide() + u"many.zip";
    a.OpenArchive(fmCreate);
    a.BeginUpdate();
    TZipDirArray& items = a.DirManager()->Items;
    const int n = 65600;
    items.SetCount(n);
    for (int i = 0; i < n; ++i) {
        TDirItem it;
        it.Header.Signature = TCentralHeader::kSignature;
        it.Header.ExternalAttr = faArchive;
        it.Header.ModDate = 0x21;
        it.Name = WideFromAscii(std::to_string(i).c_str());
        it.Pending = true;
        it.SourceStream = std::make_shared<TMemoryStream>();
        items.SetItem(i, it);
    }
    a.EndUpdate();
    a.CloseArchive();
    const std::string z = Bytes(dir.path() / "many.zip");
    const std::size_t end = z.size() - 22;
    EXPECT_EQ(LE(z, end + 8, 4), 0xFFFFFFFFu);  // both counts overflow into the Zip64 records
    EXPECT_TRUE(ziptest::UnzipTest(dir.path() / "many.zip"));
    // Read back through the Zip64 end record, without repair, and appended to.
    a.OpenDamaged = false;
    a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_TRUE(a.DirManager()->Zip64LocatorFound);
    ASSERT_EQ(a.DirManager()->Items.GetCount(), n);
    EXPECT_EQ(a.DirManager()->Items.GetItem(n - 1).Name, WideFromAscii(std::to_string(n - 1).c_str()));
    dir.write("a.txt", "appended");
    a.BaseDir = dir.wide();
    a.AddFiles(u"a.txt", 0x28BF, u"");
    a.CloseArchive();
    const std::string listing = ziptest::PythonCheck(dir.path() / "many.zip", {"a.txt=" + dir.str() + "a.txt"});
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), n + 1);
    EXPECT_EQ(listing.substr(0, 2), "0|");
}

TEST(DeflatePipeline, RatioMatchesZipAtLevelNine) {
    Fixture f;
    f.Put("big.kml", Kml(60000));  // about 3.5 MB: three read blocks of 1.5 MiB
    ASSERT_GT(fs::file_size(f.Src("big.kml")), 3u * 0x100000);
    f.Add(u"big.kml");
    f.a.CloseArchive();
    std::string out;
    ASSERT_EQ(ziptest::Run("cd " + ziptest::Quote(f.dir.str() + "src") + " && zip -q -9 ../ref.zip big.kml", &out), 0)
        << out;
    const std::string ours = ziptest::PythonFields(f.zip(), "i.compress_size");
    const std::string theirs = ziptest::PythonFields(f.dir.path() / "ref.zip", "i.compress_size");
    EXPECT_LE(std::stod(ours), std::stod(theirs) * 1.01) << ours << " vs " << theirs;
    EXPECT_TRUE(f.Intact({"big.kml"}));
}

TEST(FileSelection, StoredNamesAndFullPaths) {
    ziptest::TempDir dir;
    dir.write("data/route.kml", "x");
    const std::u16string base = dir.wide() + u"data";
    const std::u16string file = base + u"/route.kml";
    const std::u16string full = file.substr(1);  // without the leading "/"
    EXPECT_EQ(MakeStoredName(file, base, spRelativePath, u""), u"route.kml");
    EXPECT_EQ(MakeStoredName(u"route.kml", base, spRelativePath, u""), u"route.kml");
    EXPECT_EQ(MakeStoredName(file, base, spNoPath, u""), u"route.kml");
    EXPECT_EQ(MakeStoredName(file, base, spFullPath, u""), full);
    EXPECT_EQ(MakeStoredName(file, base, spFullPathWithDrive, u""), file);
    // Outside the base folder: the full path.
    EXPECT_EQ(MakeStoredName(dir.wide() + u"other.kml", base, spRelativePath, u""),
              dir.wide().substr(1) + u"other.kml");
    EXPECT_EQ(MakeStoredName(base + u"/sub/", base, spRelativePath, u""), u"sub");
    // A colon inside a name is no drive here.
    EXPECT_EQ(MakeStoredName(base + u"/a:b.kml", base, spFullPath, u""), full.substr(0, full.size() - 9) + u"a:b.kml");
    EXPECT_EQ(MakeStoredName(u"a:x.kml", base, spRelativePath, u""), u"a:x.kml");

    EXPECT_EQ(MakeFullPath(dir.wide(), u"a/../b.kml", u"/w"), dir.wide() + u"b.kml");
    EXPECT_EQ(MakeFullPath(u"", u"b.kml", u"/w/"), u"/w/b.kml");
    EXPECT_EQ(MakeFullPath(u"/ignored", u"/abs/b.kml", u"/w"), u"/abs/b.kml");
    EXPECT_EQ(MakeFullPath(u"", u"C:/x.kml", u"/w"), u"/w/C:/x.kml");
    EXPECT_EQ(MakeFullPath(u"", u"//srv/share/x.kml", u"/w"), u"//srv/share/x.kml");
    EXPECT_EQ(MakeFullPath(dir.wide(), u"", u"/w"), dir.wide());
    EXPECT_EQ(MakeFullPath(u"/no/such/dir", u"", u"/w"), u"/no/such/dir");
    EXPECT_EQ(MakeFullPath(u"", u"", u"/"), WideExpandFileName(u".") + u"/");
}

namespace {
void SetYear(const std::string& path, int year) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = 5;
    t.tm_mday = 1;
    t.tm_hour = 12;
    const timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, 0), 0);
}
}  // namespace

// An item already in the archive meets a file of the same name under each overwrite mode; dates
// from 2044 on have the top bit of the DOS stamp set.
TEST(FileSelection, OverwriteModesThroughAnAdd) {
    struct Case {
        TZipOverwriteMode mode;
        int itemYear, fileYear;
        bool replaced;
    };
    const Case cases[] = {
        {omIfNewer, 2050, 2020, false}, {omIfNewer, 2020, 2050, true},  {omIfNewer, 2050, 2060, true},
        {omIfOlder, 2050, 2020, true},  {omIfOlder, 2020, 2050, false}, {omIfOlder, 2020, 2020, false},
        {omNever, 2020, 2030, false},   {omAlways, 2030, 2020, true},   {omPrompt, 2020, 2030, true},
        {omPrompt, 2020, 2030, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.itemYear << " " << c.fileYear);
        Fixture f;
        f.Put("t.kml", "old");
        SetYear(f.Src("t.kml"), c.itemYear);
        f.Add(u"t.kml");
        f.Put("t.kml", "newer");
        SetYear(f.Src("t.kml"), c.fileYear);
        f.a.Options.OverwriteMode = c.mode;
        std::vector<std::u16string> asked;
        f.a.OnConfirmOverwrite = [&](TComponent*, const std::u16string& source, std::u16string& dest, bool& confirm) {
            asked = {source, dest};
            confirm = c.replaced;
        };
        f.Add(u"t.kml");
        EXPECT_EQ(asked.empty(), c.mode != omPrompt);
        if (!asked.empty()) {
            EXPECT_EQ(asked, (std::vector<std::u16string>{UTF8DecodeWide(f.Src("t.kml")), u"t.kml"}));
        }
        TZipArchiveItem item;
        ASSERT_TRUE(f.a.FindFirst(u"t.kml", item, 0, u""));
        EXPECT_EQ(item.UncompressedSize, c.replaced ? 5 : 3);
        EXPECT_EQ((item.LastModFileDate >> 9) + 1980, c.replaced ? c.fileYear : c.itemYear);
        EXPECT_EQ(f.a.FileCount(), 1);
        EXPECT_FALSE(ziptest::PythonCheck(f.zip()).empty());
    }
}

// The two events of an add: OnConfirmProcessFile vetoes, OnStoreFile renames and sets the
// attributes and the comment.
TEST(FileSelection, StoreAndConfirmEvents) {
    Fixture f;
    for (const char* n : {"a.kml", "b.kml", "skip.kml"}) f.Put(n, n);
    std::vector<std::u16string> offered, originals;
    f.a.OnConfirmProcessFile = [&](TComponent*, const std::u16string& name, TZipProcessOperation op, bool& confirm) {
        EXPECT_EQ(op, poAdd);
        EXPECT_TRUE(confirm);
        offered.push_back(name);
        confirm = name.find(u"skip") == std::u16string::npos;
    };
    f.a.OnStoreFile = [&](TComponent*, std::u16string& name, std::uint32_t& attr, std::string& comment,
                          const std::u16string& original) {
        originals.push_back(original);
        if (name == u"a.kml") {
            name = u"sub/renamed.kml";
            attr = faReadOnly | faArchive;
            comment = "first file";
        }
    };
    f.a.BeginUpdate();
    for (const char16_t* n : {u"a.kml", u"b.kml", u"skip.kml"}) f.Add(n);
    f.a.EndUpdate();
    EXPECT_EQ(offered.size(), 3u);
    std::sort(originals.begin(), originals.end());
    EXPECT_EQ(originals, (std::vector<std::u16string>{UTF8DecodeWide(f.Src("a.kml")), UTF8DecodeWide(f.Src("b.kml"))}));
    EXPECT_FALSE(
        ziptest::PythonCheck(f.zip(), {"sub/renamed.kml=" + f.Src("a.kml"), "b.kml=" + f.Src("b.kml")}).empty());
    EXPECT_EQ(ziptest::PythonFields(f.zip(), "i.filename, i.external_attr, i.comment.decode()"),
              "sub/renamed.kml 33 first file\nb.kml 32 \n");
}

// A ":" is part of a name here: no drive is cut off, and no two files become one entry.
TEST(FileSelection, ColonsAreOrdinaryCharacters) {
    Fixture f;
    f.Put("a:x.kml", "first");
    f.Put("b:x.kml", "second");
    f.Put("c:d:e.kml", "third");
    f.a.BeginUpdate();
    f.Add(u"a:x.kml");
    f.Add(u"b:x.kml");
    f.Add(u"c:*.kml");
    f.a.EndUpdate();
    EXPECT_EQ(f.a.FileCount(), 3);
    EXPECT_EQ(f.Check({"a:x.kml", "b:x.kml", "c:d:e.kml"}), "a:x.kml|0|8|554e\nb:x.kml|0|8|554e\nc:d:e.kml|0|8|554e\n");
    TZipArchiveItem item;
    EXPECT_TRUE(f.a.FindFirst(u"b:x.kml", item, 0, u""));
    EXPECT_EQ(item.UncompressedSize, 6);
}

// An event handler of one add may run another add on the same thread.
TEST(FileSelection, AnAddFromAnEventHandler) {
    Fixture f;
    f.Put("a.kml", "a");
    f.Put("log.txt", "log");
    ziptest::TempDir other;
    TZipArchiver log;
    log.FileName = other.wide() + u"log.zip";
    log.BaseDir = f.dir.wide() + u"src";
    log.OpenArchive(fmCreate);
    f.a.OnStoreFile = [&](TComponent*, std::u16string&, std::uint32_t&, std::string&, const std::u16string&) {
        log.AddFiles(u"log.txt", 0x28BF, u"");
    };
    std::promise<void> done;
    std::thread([&] {
        f.Add(u"a.kml");
        done.set_value();
    }).detach();
    if (done.get_future().wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // A lock taken twice never returns, and every later add would wait on it too.
        ADD_FAILURE() << "the add from the event handler never returned";
        std::_Exit(1);
    }
    log.CloseArchive();
    EXPECT_FALSE(ziptest::PythonCheck(other.path() / "log.zip", {"log.txt=" + f.Src("log.txt")}).empty());
    EXPECT_TRUE(f.Intact({"a.kml"}));
}

TEST(FileSelection, MasksRecursionExclusionsAndTheArchiveItself) {
    Fixture f;
    // A folder whose name looks like a pattern is only a folder.
    f.Put("what?/doc.kml", "1");
    f.Put("what?/sub/doc.kml", "2");
    f.a.BaseDir = f.dir.wide() + u"src/what?";
    f.a.AddFiles(u"doc.kml", 0x28BF, u"");
    EXPECT_EQ(f.a.FileCount(), 1);
    f.a.BaseDir = f.dir.wide() + u"src";
    f.a.CloseArchive();
    f.Put("a.kml", "1");
    f.Put("skip.bak", "2");
    f.Put("pic.png", Random(3000, 9));
    f.Put("sub/b.kml", "3");
    f.Put("sub/deeper/c.kml", "4");
    f.Put("sub/deeper/d.txt", "5");
    fs::create_directory_symlink("../..", f.dir.path() / "src/sub/deeper/up");  // a loop
    f.a.FileName = f.dir.wide() + u"src/self.zip";                              // the archive lies among its sources
    f.a.OpenArchive(fmCreate);
    f.a.NoCompressionMasks().Add(u"*.png");
    f.a.BeginUpdate();
    f.a.AddFiles(u"*.kml", 0x28BF, u"");
    f.a.AddFiles(u"*", 0x28BF, u"*.bak");
    f.a.EndUpdate();
    f.a.CloseArchive();
    const std::string listing = ziptest::PythonCheck(f.dir.path() / "src/self.zip");
    for (const char* name : {"a.kml|", "sub/b.kml|", "sub/deeper/c.kml|", "sub/deeper/d.txt|", "pic.png|0|0|"})
        EXPECT_NE(listing.find(name), std::string::npos) << name << "\n" << listing;
    EXPECT_EQ(listing.find("skip.bak"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("self.zip"), std::string::npos) << listing;
    EXPECT_TRUE(WideMatchesMask(u"track.KML", u"*.kml", true));
    EXPECT_TRUE(WideMatchesMask(u"abc", u"a?c", true));
    EXPECT_FALSE(WideMatchesMask(u"ac", u"a?c", true));
}

namespace {
// Reaches the volume writer directly, on a disk of a chosen free space.
class VolumeArchiver : public TZipArchiver {
public:
    explicit VolumeArchiver(const ziptest::TempDir& dir) {
        SetSpanningMode(smSplitting);
        SpanningOptions.VolumeSize = vsCustom;
        SpanningOptions.SetCustomVolumeSize(65536);
        FileName = dir.wide() + u"v.zip";
    }
    std::int64_t free = 1LL << 40;
    std::int64_t Write(const std::string& data, std::int64_t keep) {
        TStream* s = ArchiveStream();
        return WriteToVolume(data.data(), static_cast<std::int64_t>(data.size()), nullptr, keep, s);
    }
    void NextVolume() {
        TZipVolumeNumberInfo next = VolumeNumberInfo;
        next.SetNumber(next.volumeNumber + 1);
        RequestVolume(next);
    }
    std::int64_t FreeSpace(const std::u16string&) override { return free; }
    void Copy(TStream& source) { CopyToVolumes(source, -1, true); }
};
}  // namespace

// Copies to the volumes go in pieces of at most 1,000,000 bytes, with progress after each.
TEST(Volumes, CopyPieces) {
    ziptest::TempDir dir;
    VolumeArchiver a(dir);
    a.SpanningOptions.SetCustomVolumeSize(3000000);
    a.OpenArchive(fmCreate);
    std::vector<double> progress;
    a.OnCopyTempFileProgress = [&](TComponent*, double p, TZipProgressPhase ph, bool&) {
        if (ph == ppProcess) progress.push_back(p);
    };
    TMemoryStream source;
    const std::string data = Random(2000001, 4);
    source.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    source.SetPosition(0);
    a.Copy(source);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_DOUBLE_EQ(progress[0], 1e6 / 2000001 * 100);
    EXPECT_DOUBLE_EQ(progress[2], 100);
    EXPECT_EQ(a.ArchiveStream()->Size(), 2000001);
}

TEST(Volumes, KeepTogetherAndFullDisks) {
    ziptest::TempDir dir;
    VolumeArchiver a(dir);
    a.OpenArchive(fmCreate);
    EXPECT_EQ(a.CurrentVolumeName, dir.wide() + u"v.Z01");
    EXPECT_EQ(a.Write(std::string(65536 - 60, 'a'), -1), 65536 - 60);
    EXPECT_EQ(a.Write(std::string(46, 'h'), 46), 46);  // would split: goes whole to the next volume
    EXPECT_EQ(a.CurrentVolumeName, dir.wide() + u"v.Z02");
    EXPECT_EQ(fs::file_size(dir.path() / "v.Z01"), 65536u - 60);
    EXPECT_EQ(a.Write(std::string(70000, 'b'), -1), 70000);  // split across volumes
    EXPECT_EQ(fs::file_size(dir.path() / "v.Z02"), 65536u);
    EXPECT_EQ(a.CurrentVolumeName, dir.wide() + u"v.Z03");

    int diskFull = 0;
    a.OnDiskFull = [&](TComponent*, int, const std::u16string&, bool& cancel) { cancel = ++diskFull == 2; };
    a.free = 60000;
    try {
        a.NextVolume();
        ADD_FAILURE() << "no error";
    } catch (const EZipException& e) {
        EXPECT_EQ(e.NativeError, 45);
    }
    EXPECT_EQ(diskFull, 2);
}

TEST(Volumes, AFailedSplitCommitLeavesNoStrayVolumes) {
    ziptest::TempDir dir;
    dir.write("src/a.bin", Random(100000, 11));
    VolumeArchiver a(dir);
    a.SetCompressionMode(0);
    a.BaseDir = dir.wide() + u"src";
    a.OpenArchive(fmCreate);
    // The disk fills up once the first volume is under way; nobody answers, so the add ends and
    // says why.
    ziptest::OnItemStart(a, [&](const std::u16string&, TZipProcessOperation, bool&) { a.free = 60000; });
    EXPECT_EQ(ziptest::NativeOf([&] { a.AddFiles(u"a.bin", 0x28BF, u""); }), 45);
    EXPECT_EQ(a.FileCount(), 0);
    a.CloseArchive();
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.path())) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"src", "v.zip"}));
    EXPECT_EQ(Bytes(dir.path() / "v.zip"), ziptest::EmptyZip());
}
