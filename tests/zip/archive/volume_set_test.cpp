// Volume sets (split under both namings, or spanned over removable disks; stub or not; stored,
// deflated, encrypted, Zip64) created, changed and grown, judged by outside readers after each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include <sys/stat.h>

#include "archive/archiver.h"
#include "flaky_reads.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Random;

namespace {

enum class Naming { Z01, Numbered, Disks };
enum class Data { Stored, Deflated, Encrypted, Zip64 };

struct SetShape {
    Naming naming;
    bool stub;
    Data data;
};

const char* kPassword = "Set pass 3";

// Folders named "disk..." under the test's folder are removable disks, one volume each.
class VolumeSet {
public:
    explicit VolumeSet(SetShape shape) : shape_(shape) {
        old_ =
            SetRemovableDriveQuery([root = dir.str()](const std::string& p) { return p.rfind(root + "disk", 0) == 0; });
        fs::create_directories(dir.path() / "out");
        fs::create_directories(dir.path() / "tmp");
        dir.write("stub.bin", "MZ" + Random(1998, 4));
        SetFileFaultHook([this](TFileCall call, const std::u16string& n) { return Observe(call, WideToFsName(n)); });
    }
    ~VolumeSet() {
        SetFileFaultHook(nullptr);
        SetRemovableDriveQuery(std::move(old_));
    }

    bool Spanned() const { return shape_.naming == Naming::Disks; }
    std::string Password() const { return shape_.data == Data::Encrypted ? kPassword : ""; }
    // The volume on disk n.
    std::u16string Vol(int n) const {
        return dir.wide() + u"disk" + WideFromAscii(std::to_string(n).c_str()) + u"/t.zip";
    }
    // The highest disk that holds a volume.
    int LastDisk() const {
        int n = 1;
        while (fs::exists(dir.path() / ("disk" + std::to_string(n + 1)) / "t.zip")) ++n;
        return n;
    }

    // An archiver set up for this set, as a user would set it up each time.
    void Setup(TZipArchiver& a) {
        a.TempDir = dir.wide() + u"tmp";
        a.SetCompressionMode(shape_.data == Data::Stored ? 0 : shape_.data == Data::Encrypted ? 1 : 6);
        a.Zip64Mode = shape_.data == Data::Zip64 ? zmAlways : zmAuto;
        if (!Password().empty()) a.SetPassword(Password());
        ziptest::Split(a, 65536);
        a.SpanningOptions.AdvancedNaming = shape_.naming == Naming::Numbered;
        if (shape_.stub) a.SFXStub = dir.wide() + u"stub.bin";
        if (Spanned()) {
            a.SetSpanningMode(smSpanning);
            a.OnRequestFirstVolume = [this](TComponent*, std::u16string& name, bool&) { name = Vol(1); };
            a.OnRequestMiddleVolume = [this](TComponent*, int n, std::u16string& name, bool&) { name = Vol(n); };
            a.OnRequestLastVolume = [this](TComponent*, std::u16string& name, bool&) { name = Vol(LastDisk()); };
        }
        a.FileName = Spanned() ? Vol(1) : dir.wide() + (shape_.stub ? u"out/t.exe" : u"out/t.zip");
        a.OnRequestBlankVolume = [this](TComponent*, int n, std::u16string& name, bool& cancel) {
            if (Spanned()) name = Vol(n), fs::create_directories(fs::path(WideToFsName(name)).parent_path());
            cancel = blankHook && blankHook(n, name);
        };
        a.BaseDir = dir.wide() + u"src";
    }

    // The volumes in disk order, by the naming rules, for a set of count volumes.
    std::vector<fs::path> Named(int count) const {
        std::vector<fs::path> v;
        for (int n = 1; n <= count; ++n) {
            char name[32];
            if (Spanned()) std::snprintf(name, sizeof name, "disk%d/t.zip", n);
            else if (shape_.stub && n == 1) std::snprintf(name, sizeof name, "out/t.exe");
            else if (n == count) std::snprintf(name, sizeof name, shape_.stub ? "out/t.ZIP" : "out/t.zip");
            else if (shape_.naming == Naming::Z01) std::snprintf(name, sizeof name, "out/t.Z%02d", n);
            else std::snprintf(name, sizeof name, shape_.stub ? "out/t_%03d.exe" : "out/t_%03d.zip", n);
            v.push_back(dir.path() / name);
        }
        return v;
    }

    // Every file of the set's folders (the temporary folder included), relative to the test's one.
    std::set<std::string> Files() const {
        std::set<std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            if (e.is_regular_file()) {
                const std::string rel = fs::relative(e.path(), dir.path()).string();
                if (rel.rfind("src/", 0) != 0 && rel != "stub.bin") files.insert(rel);
            }
        return files;
    }

    // The last volume, under the set's name.
    fs::path LastVolume() const {
        return Spanned() ? fs::path(WideToFsName(Vol(LastDisk())))
                         : dir.path() / "out" / (shape_.stub ? "t.ZIP" : "t.zip");
    }

    // What the file layer did while the set changed: the files (by device and inode) and the
    // folders flushed before the first old volume parked aside was deleted; and it fails flush
    // number failAt (from 1) with EIO.
    struct Watch {
        std::set<std::pair<dev_t, ino_t>> files;
        std::set<std::string> folders;
        bool oldVolumeGone = false;
        int flushes = 0;
        int failAt = 0;
    } watch;

    int Observe(TFileCall call, const std::string& name) {
        const fs::path p(name);
        const std::string file = p.filename().string();
        if (call == TFileCall::Delete && file.rfind("FC", 0) == 0 && file.ends_with(".parked.tmp"))
            watch.oldVolumeGone = true;
        if (call != TFileCall::Flush) return 0;
        if (++watch.flushes == watch.failAt) return EIO;
        if (watch.oldVolumeGone) return 0;
        struct stat st {};
        if (!name.empty() && name.back() == '/') watch.folders.insert(p.parent_path().string());
        // A volume flushed after it took the set's name is flushed under the name it had.
        else if (::stat(name.c_str(), &st) == 0 || ::stat(LastVolume().c_str(), &st) == 0)
            watch.files.emplace(st.st_dev, st.st_ino);
        return 0;
    }

    // Every volume of the set that the step wrote, and every folder that holds one, reached the
    // disk before an old volume was deleted. A volume the step left as it was (the same file with
    // the same bytes) was seen on the disk after an earlier step.
    void ExpectOnDisk(const std::vector<fs::path>& volumes) {
        std::map<std::string, std::pair<ino_t, std::string>> now;
        for (const auto& v : volumes) {
            struct stat st {};
            ASSERT_EQ(::stat(v.c_str(), &st), 0);
            now[v.string()] = {st.st_ino, ziptest::Bytes(v)};
            if (onDisk_.count(v.string()) && onDisk_[v.string()] == now[v.string()]) continue;
            EXPECT_EQ(watch.files.count({st.st_dev, st.st_ino}), 1u) << v << " not flushed";
            EXPECT_EQ(watch.folders.count(v.parent_path().string()), 1u) << v.parent_path() << " not flushed";
        }
        onDisk_ = std::move(now);
        watch = Watch{};
    }

    // The volumes the last one's end record counts (0 without one).
    int Count() const {
        const std::string bytes = ziptest::Bytes(LastVolume());
        return bytes.size() < 22 ? 0 : static_cast<int>(ziptest::LE(bytes, bytes.size() - 22 + 4, 2)) + 1;
    }

    // Counts the volumes from the last one's end record, accounts for every file, checks that the
    // set is on the disk, joins the volumes and judges the result: 7z, and Python's zipfile for the
    // names, the bytes of every member against its source and the comment of one.
    void Judge(const std::string& step, const std::string& comment = "") {
        SCOPED_TRACE(step);
        const int count = Count();
        ASSERT_GT(count, 0);
        const std::vector<fs::path> volumes = Named(count);
        std::set<std::string> want;
        for (const auto& v : volumes) want.insert(fs::relative(v, dir.path()).string());
        EXPECT_EQ(Files(), want);  // nothing lost, nothing left behind
        ExpectOnDisk(volumes);
        EXPECT_GE(count, 3);
        for (std::size_t i = 0; i + 1 < volumes.size(); ++i) EXPECT_LE(fs::file_size(volumes[i]), 65536u);
        const fs::path joined = dir.path() / "joined.zip";
        ASSERT_TRUE(ziptest::JoinVolumes(volumes, joined));
        EXPECT_TRUE(ziptest::SevenZip("t", joined, nullptr, Password()));
        static const char* script = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1]); z.setpassword(sys.argv[2].encode())
bad = z.testzip()
if bad is not None: print('BAD', bad); sys.exit(1)
want = dict(a.split('=', 1) for a in sys.argv[4:])
names = sorted(i.filename for i in z.infolist())
if names != sorted(want): print('NAMES', names); sys.exit(1)
for m, src in want.items():
    if z.read(m) != open(src, 'rb').read(): print('DIFF', m); sys.exit(1)
if sys.argv[3]:
    m, text = sys.argv[3].split(':', 1)
    if z.getinfo(m).comment.decode() != text: print('COMMENT', z.getinfo(m).comment); sys.exit(1)
)PY";
        std::vector<std::string> args = {joined.string(), Password(), comment};
        for (const auto& [member, source] : expected) args.push_back(member + "=" + dir.str() + "src/" + source);
        std::string out;
        EXPECT_EQ(ziptest::Python(script, args, &out), 0) << out;
        fs::remove(joined);
    }

    // Opens the set, lets change alter it (and the item named, if any) in one transaction, closes it.
    // With native, the commit's native error is kept there instead of raised.
    void Change(const std::u16string& item, const std::function<void(TZipArchiver&, TZipDirArray&, int)>& change,
                int* native = nullptr) {
        TZipArchiver a;
        Setup(a);
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        ASSERT_EQ(a.SpanningMode(), Spanned() ? smSpanning : smSplitting);
        a.BeginUpdate();
        int at = -1;
        if (!item.empty()) {
            ASSERT_TRUE(a.DirManager()->Items.FindItem(item, at));
        }
        change(a, a.DirManager()->Items, at);
        if (native) *native = ziptest::NativeOf([&] { a.EndUpdate(); });
        else a.EndUpdate();
        a.CloseArchive();
    }

    ziptest::TempDir dir;
    std::map<std::string, std::string> expected;  // member -> source file under src/
    // Answers the blank-volume request of disk number (1-based) in a commit: true cancels.
    std::function<bool(int, std::u16string&)> blankHook;

private:
    std::map<std::string, std::pair<ino_t, std::string>> onDisk_;  // the volumes after the last step
    SetShape shape_;
    std::function<bool(const std::string&)> old_;
};

// Builds the set of four files every case starts from.
void Create(VolumeSet& set) {
    set.dir.write("src/a.kml", ziptest::Kml(900));
    set.dir.write("src/noise.bin", Random(150000, 1));
    set.dir.write("src/empty.txt", "");
    set.dir.write("src/icons/b.png", Random(30000, 2));
    set.expected = {
        {"a.kml", "a.kml"}, {"noise.bin", "noise.bin"}, {"empty.txt", "empty.txt"}, {"icons/b.png", "icons/b.png"}};
    TZipArchiver a;
    set.Setup(a);
    a.OpenArchive(fmCreate);
    a.BeginUpdate();
    for (const char16_t* name : {u"a.kml", u"noise.bin", u"empty.txt", u"icons/b.png"}) a.AddFiles(name, 0x28BF, u"");
    a.EndUpdate();
    a.CloseArchive();
}

TDirItem& Pend(TDirItem& it, TZipProcessOperation op) {
    it.ItemOperation = op;
    it.Pending = true;
    return it;
}

class VolumeSetLife : public ::testing::TestWithParam<SetShape> {};

TEST_P(VolumeSetLife, EveryStepLeavesASoundSet) {
    VolumeSet set(GetParam());
    Create(set);
    set.Judge("create");

    set.dir.write("src/noise.bin", Random(130000, 3));  // replaced: the first item's volume on
    set.Change(u"", [](TZipArchiver& a, TZipDirArray&, int) { a.AddFiles(u"noise.bin", 0x28BF, u""); });
    set.Judge("replace");

    set.Change(u"a.kml", [](TZipArchiver&, TZipDirArray& items, int at) {
        items.RenameItem(at, u"route/a2.kml");
        Pend(items.GetItem(at), poRename).OldName = u"a.kml";
    });
    set.expected.erase("a.kml");
    set.expected["route/a2.kml"] = "a.kml";
    set.Judge("rename");

    set.Change(u"empty.txt", [](TZipArchiver&, TZipDirArray& items, int at) { items.Delete(at); });
    set.expected.erase("empty.txt");
    set.Judge("delete");

    set.Change(u"icons/b.png", [](TZipArchiver&, TZipDirArray& items, int at) {
        Pend(items.GetItem(at), poChangeComment).Comment = "blue pin";
    });
    set.Judge("comment", "icons/b.png:blue pin");

    set.dir.write("src/big.bin", Random(140000, 5));  // onto new volumes
    set.Change(u"", [](TZipArchiver& a, TZipDirArray&, int) { a.AddFiles(u"big.bin", 0x28BF, u""); });
    set.expected["big.bin"] = "big.bin";
    set.Judge("grow", "icons/b.png:blue pin");

    // Opened again, it lists what the steps left, under the new name.
    TZipArchiver r;
    set.Setup(r);
    r.OpenArchive(fmOpenRead);
    EXPECT_EQ(r.FileCount(), 4);
    int at = -1;
    EXPECT_TRUE(r.DirManager()->Items.FindItem(u"route/a2.kml", at));
    EXPECT_FALSE(r.DirManager()->Items.FindItem(u"a.kml", at));
}

std::string ShapeName(const ::testing::TestParamInfo<SetShape>& i) {
    static const char* namings[] = {"Z01", "Numbered", "Disks"};
    static const char* data[] = {"Stored", "Deflated", "Encrypted", "Zip64"};
    return std::string(namings[static_cast<int>(i.param.naming)]) + (i.param.stub ? "Stub" : "") +
           data[static_cast<int>(i.param.data)];
}

INSTANTIATE_TEST_SUITE_P(
    Sets, VolumeSetLife,
    ::testing::Values(SetShape{Naming::Z01, false, Data::Stored}, SetShape{Naming::Z01, true, Data::Deflated},
                      SetShape{Naming::Z01, false, Data::Zip64}, SetShape{Naming::Numbered, false, Data::Encrypted},
                      SetShape{Naming::Numbered, true, Data::Zip64}, SetShape{Naming::Disks, false, Data::Deflated},
                      SetShape{Naming::Disks, true, Data::Encrypted}, SetShape{Naming::Disks, false, Data::Zip64}),
    ShapeName);

// The bytes of every file of the set.
std::map<std::string, std::string> Snapshot(const VolumeSet& set) {
    std::map<std::string, std::string> s;
    for (const std::string& f : set.Files()) s[f] = ziptest::Bytes(set.dir.path() / f);
    return s;
}

class VolumeSetFailure : public ::testing::TestWithParam<SetShape> {};

// A change that rewrites the whole set is stopped at each volume it moves on to, by a cancel and
// by a volume that cannot be made: the set is afterwards as it was, byte for byte.
TEST_P(VolumeSetFailure, CancelOrFailureAtEachVolumeLeavesTheSet) {
    VolumeSet set(GetParam());
    Create(set);
    const auto before = Snapshot(set);
    set.dir.write("src/a.kml", ziptest::Kml(950));  // the first item: everything is written again
    int stops = 0;
    for (int stop = 2; stop < 12; ++stop) {
        for (const bool cancel : {true, false}) {
            SCOPED_TRACE("volume " + std::to_string(stop) + (cancel ? " cancelled" : " failed"));
            int reached = 0;
            set.blankHook = [&](int number, std::u16string& name) {
                if (number != stop) return false;
                reached = number;
                if (!cancel) name = set.dir.wide() + u"stub.bin/no/t.zip";  // cannot be created
                return cancel;
            };
            int native = 0;
            set.Change(
                u"", [](TZipArchiver& a, TZipDirArray&, int) { a.AddFiles(u"a.kml", 0x28BF, u""); }, &native);
            if (reached == 0) {
                EXPECT_EQ(native, -1);
                EXPECT_GE(stops, 2);
                return;
            }
            stops += cancel;
            // A cancelled volume ends the commit quietly, or with native 45 where it stops a copy.
            if (cancel) EXPECT_TRUE(native == -1 || native == 45) << native;
            else EXPECT_EQ(native, 19);
            ASSERT_EQ(Snapshot(set), before);
        }
    }
    ADD_FAILURE() << "the commit never ran through";
}

// The same change with each flush of the commit failing in turn: the set is afterwards as it was,
// byte for byte; the change runs through only once every volume, the tail and the folder had theirs.
TEST_P(VolumeSetFailure, AFailedFlushAtAnyPointLeavesTheSet) {
    VolumeSet set(GetParam());
    Create(set);
    const auto before = Snapshot(set);
    set.dir.write("src/a.kml", ziptest::Kml(950));
    for (int fail = 1; fail < 40; ++fail) {
        SCOPED_TRACE("flush " + std::to_string(fail));
        set.watch = VolumeSet::Watch{};
        set.watch.failAt = fail;
        int native = 0;
        set.Change(
            u"", [](TZipArchiver& a, TZipDirArray&, int) { a.AddFiles(u"a.kml", 0x28BF, u""); }, &native);
        if (set.watch.flushes < fail) {
            EXPECT_EQ(native, -1);
            // Each volume (at least three), the saved tail and the set's folder.
            EXPECT_GE(set.watch.flushes, 3 + 1 + 1);
            set.Judge("after the failures");
            return;
        }
        EXPECT_EQ(native, 46);
        ASSERT_EQ(Snapshot(set), before);
    }
    ADD_FAILURE() << "the commit never ran through";
}

INSTANTIATE_TEST_SUITE_P(Sets, VolumeSetFailure,
                         ::testing::Values(SetShape{Naming::Z01, false, Data::Deflated},
                                           SetShape{Naming::Numbered, true, Data::Stored},
                                           SetShape{Naming::Disks, false, Data::Encrypted}),
                         ShapeName);

// A read that fails anywhere in the open of a set is raised: the set is never taken for a damaged
// archive of one file. Named by one of its other volumes, a set is opened as that set, or read as far
// as that volume goes and not written into.
TEST_P(VolumeSetFailure, AFailedReadOrAVolumeNamedOnItsOwnLeavesTheSet) {
    VolumeSet set(GetParam());
    Create(set);
    EXPECT_GE(ziptest::SweepOpenReads([&](TZipArchiver& a) { set.Setup(a); }, [&] { return Snapshot(set); }, 4), 4);
    const auto before = Snapshot(set);
    std::vector<fs::path> volumes = set.Named(set.Count());
    ASSERT_GE(volumes.size(), 3u);
    volumes.pop_back();
    for (const fs::path& v : volumes) {
        SCOPED_TRACE(v.string());
        TZipArchiver a;
        set.Setup(a);
        a.FileName = UTF8DecodeWide(v.string());
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        if (a.SpanningMode() != smNone) {
            EXPECT_EQ(a.FileCount(), 4);  // the whole set
            continue;
        }
        EXPECT_LT(a.FileCount(), 4);
        EXPECT_EQ(ziptest::NativeOf([&] { a.AddFiles(u"a.kml", 0x28BF, u""); }), 19);
        a.CloseArchive();
        EXPECT_EQ(Snapshot(set), before);
    }
}

}  // namespace

// Steps that would write one volume of a set over another are refused before anything is lost.
TEST(VolumeSetCollisions, NoVolumeWritesOverAnother) {
    ziptest::TempDir dir;
    dir.write("src/noise.bin", Random(150000, 6));
    // Spanned when given a handler, be it empty.
    auto make = [&](const std::u16string& name, const TZipOnRequestBlankVolumeEvent* blank = nullptr) {
        TZipArchiver a;
        ziptest::Split(a, 65536);
        a.SetCompressionMode(0);
        if (blank) a.SetSpanningMode(smSpanning), a.OnRequestBlankVolume = *blank;
        a.FileName = dir.wide() + name;
        return ziptest::NativeOf([&] {
            a.OpenArchive(fmCreate);
            a.BaseDir = dir.wide() + u"src";
            a.AddFiles(u"noise.bin", 0x28BF, u"");
            a.CloseArchive();
        });
    };
    // A split set named like its first volume would end up renamed onto it; a file of that name
    // that was there before stays as it was.
    dir.write("t.Z01", "mine");
    EXPECT_EQ(make(u"t.Z01"), 19);
    EXPECT_EQ(ziptest::Bytes(dir.path() / "t.Z01"), "mine");
    EXPECT_FALSE(fs::exists(dir.path() / "t.Z02"));

    // One name on every volume of a fixed drive: each volume would truncate the one before.
    const TZipOnRequestBlankVolumeEvent none, same = [](TComponent*, int, std::u16string&, bool&) {};
    EXPECT_EQ(make(u"s.zip", &none), 19);
    EXPECT_FALSE(fs::exists(dir.path() / "s.zip"));
    // A handler that still gives the name of a volume already written is refused at that volume.
    EXPECT_EQ(make(u"h.zip", &same), 19);
    // Named apart by the handler, the volumes make a sound set.
    const TZipOnRequestBlankVolumeEvent apart = [&](TComponent*, int number, std::u16string& name, bool&) {
        if (number > 1) name = dir.wide() + u"n" + WideFromAscii(std::to_string(number).c_str());
    };
    EXPECT_EQ(make(u"n.zip", &apart), -1);
    ASSERT_TRUE(
        ziptest::JoinVolumes({dir.path() / "n.zip", dir.path() / "n2", dir.path() / "n3"}, dir.path() / "j.zip"));
    EXPECT_FALSE(ziptest::PythonCheck(dir.path() / "j.zip", {"noise.bin=" + dir.str() + "src/noise.bin"}).empty());
    EXPECT_FALSE(fs::exists(dir.path() / "n4"));
}
