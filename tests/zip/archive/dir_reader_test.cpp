// Opening existing archives: archives of outside tools and of our own writer listed as Python's
// zipfile lists them, stubs in front, volume sets, damaged archives recovered or refused, and
// appending to an opened archive.
#include <filesystem>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "archive/dir_reader.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "text/wide_text.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::Crc;
using ziptest::Le;
using ziptest::NativeOf;
using ziptest::Put;
using ziptest::Quote;
using ziptest::Random;
using ziptest::SetLe;

namespace {

std::u16string Wide(const fs::path& p) { return UTF8DecodeWide(p.string()); }

// One line per entry, "name|size|compressed|crc|local header offset", then the comment's bytes.
std::string PythonListing(const fs::path& zip) {
    static const char* script = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    print('%s|%d|%d|%08x|%d' % (i.filename, i.file_size, i.compress_size, i.CRC, i.header_offset))
print('comment|' + z.comment.hex())
)PY";
    std::string out;
    return ziptest::Python(script, {zip.string()}, &out) == 0 ? out : "failed: " + out;
}

std::string Listing(TZipDirManager& dm) {
    std::string r;
    char buf[16];
    for (int i = 0; i < dm.Items.GetCount(); ++i) {
        const TDirItem& it = dm.Items.GetItem(i);
        const TCentralHeader& h = it.Header;
        std::snprintf(buf, sizeof buf, "%08x", h.Crc32);
        r += UTF8EncodeWide(it.Name) + "|" +
             std::to_string(h.UncompressedSize == 0xFFFFFFFFu ? it.UncompressedSize64 : h.UncompressedSize) + "|" +
             std::to_string(h.CompressedSize == 0xFFFFFFFFu ? it.CompressedSize64 : h.CompressedSize) + "|" + buf +
             "|" + std::to_string(h.LocalHeaderOffset == 0xFFFFFFFFu ? it.LocalHeaderOffset64 : h.LocalHeaderOffset) +
             "\n";
    }
    r += "comment|";
    for (unsigned char c : dm.ArchiveComment) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        r += buf;
    }
    return r + "\n";
}

std::string Entries(const std::string& listing) { return listing.substr(0, listing.find("comment|")); }

std::unique_ptr<TZipBaseArchiver> Open(const fs::path& zip, bool repair = true, std::uint16_t mode = fmOpenRead,
                                       bool pk = true) {
    std::unique_ptr<TZipBaseArchiver> a = pk ? std::make_unique<TZipArchiver>() : std::make_unique<TZipBaseArchiver>();
    a->OpenDamaged = repair;
    a->FileName = Wide(zip);
    a->OpenArchive(mode);
    return a;
}

std::string OurListing(const fs::path& zip, bool repair = true) { return Listing(*Open(zip, repair)->DirManager()); }

std::vector<std::string> Names(TZipDirManager& dm) {
    std::vector<std::string> r;
    for (int i = 0; i < dm.Items.GetCount(); ++i) r.push_back(UTF8EncodeWide(dm.Items.GetItem(i).Name));
    return r;
}

// A stored archive built by hand, so that single fields can be bent.
struct RawEntry {
    std::string name, data;
    std::uint16_t flags = 0;
    std::string centralExtra = {};
};
struct RawZip {
    std::string bytes;
    std::size_t directory = 0, end = 0;  // where the central directory and the end record start
};

RawZip BuildZip(const std::vector<RawEntry>& entries, const std::string& comment = "") {
    RawZip z;
    std::vector<std::size_t> offsets;
    auto common = [&](const RawEntry& e, std::size_t extra) {
        Le(z.bytes, e.flags, 2);
        Le(z.bytes, 0, 2);
        Le(z.bytes, 0x5A216000, 4);
        Le(z.bytes, Crc(e.data), 4);
        Le(z.bytes, e.data.size(), 4);
        Le(z.bytes, e.data.size(), 4);
        Le(z.bytes, e.name.size(), 2);
        Le(z.bytes, extra, 2);
    };
    for (const RawEntry& e : entries) {
        offsets.push_back(z.bytes.size());
        Le(z.bytes, 0x0014'04034B50, 6);
        common(e, 0);
        z.bytes += e.name + e.data;
    }
    z.directory = z.bytes.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        Le(z.bytes, 0x0014'0014'02014B50, 8);
        common(e, e.centralExtra.size());
        Le(z.bytes, 0, 6);
        Le(z.bytes, e.name.back() == '/' ? 0x10 : 0x20, 4);
        Le(z.bytes, offsets[i], 4);
        z.bytes += e.name + e.centralExtra;
    }
    z.end = z.bytes.size();
    Le(z.bytes, 0x06054B50, 8);
    Le(z.bytes, entries.size() * 0x10001, 4);
    Le(z.bytes, z.end - z.directory, 4);
    Le(z.bytes, z.directory, 4);
    Le(z.bytes, comment.size(), 2);
    z.bytes += comment;
    return z;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("src/a.txt", std::string(2000, 'a') + "trail");
        dir.write("src/noise.bin", Random(30000, 3));
        dir.write("src/empty.txt", "");
        dir.write("src/sub/b.kml", "<kml/>\n");
        dir.write("src/Grüße 東京.txt", "utf-8 name");
    }
    fs::path P(const std::string& rel) const { return dir.path() / rel; }
    // Runs a shell command inside src/.
    void InSrc(const std::string& cmd) const {
        std::string out;
        ASSERT_EQ(ziptest::Run("cd " + Quote(dir.str() + "src") + " && " + cmd, &out), 0) << cmd << "\n" << out;
    }
    // Python's zipfile writing to a pipe: data descriptors, local headers without CRC and sizes;
    // with zip64 a Zip64 extra in each local header and 24-byte descriptors.
    void Piped(const std::string& out, const std::string& files, bool zip64 = false) const {
        InSrc("python3 -c " +
              Quote("import zipfile, sys\nwith zipfile.ZipFile(sys.stdout.buffer, 'w', 8) as z:\n"
                    "    for f in '" +
                    files +
                    "'.split():\n"
                    "        with open(f, 'rb') as s, z.open(f, 'w', force_zip64=" +
                    (zip64 ? "True" : "False") + ") as d: d.write(s.read())\n") +
              " | cat > ../" + out);
    }
    ziptest::TempDir dir;
};

// --- intact archives -------------------------------------------------------------------------------

TEST_F(ReaderTest, ArchivesOfOutsideToolsAndOurOwnListAsZipfileListsThem) {
    InSrc("echo 'a trail comment' | LANG=C.UTF-8 zip -q -r -z ../deflated.zip .");
    InSrc("LANG=C.UTF-8 zip -q -0 -r ../stored.zip .");
    InSrc("LANG=C.UTF-8 zip -q -fz -r ../forced64.zip .");
    InSrc("7z a -bd -tzip ../seven.zip . > /dev/null");
    InSrc("python3 -c " + Quote(R"PY(
import zipfile, os
with zipfile.ZipFile('../python.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = b'made by zipfile'
    for root, dirs, files in os.walk('.'):
        for f in sorted(files):
            p = os.path.join(root, f)[2:]
            with open(p, 'rb') as src, z.open(p, 'w', force_zip64=True) as dst:
                dst.write(src.read())
    z.writestr('note.txt', b'with a comment')
    z.getinfo('note.txt').comment = b'entry comment'
)PY"));
    ziptest::MakeZip(P("own.zip"), P("src"), [](TZipArchiver& w) { w.Zip64Mode = zmDisabled; });
    ziptest::MakeZip(P("own64.zip"), P("src"), [](TZipArchiver& w) { w.Zip64Mode = zmAlways; });
    for (const char* name :
         {"deflated.zip", "stored.zip", "forced64.zip", "seven.zip", "python.zip", "own.zip", "own64.zip"}) {
        SCOPED_TRACE(name);
        const std::string expected = PythonListing(P(name));
        EXPECT_EQ(OurListing(P(name)), expected);
        // Without repair the size check runs too; our Zip64 entries hold their sizes only in the extra.
        EXPECT_EQ(OurListing(P(name), false), expected);
    }
    // 7z marks its UTF-8 names, our writer adds the Unicode name extra; zip stores the bytes
    // unmarked, read in the OEM code page as zipfile reads them.
    for (const char* name : {"seven.zip", "own.zip"}) {
        auto a = Open(P(name));
        int at = -1;
        EXPECT_TRUE(a->DirManager()->Items.FindItem(u"Grüße 東京.txt", at)) << name;
        EXPECT_EQ(a->FileCount(), 5);
        EXPECT_EQ(a->DirManager()->ArchiveStart, 0);
    }
}

TEST_F(ReaderTest, StubInFrontWithAndWithoutAdjustedOffsets) {
    InSrc("zip -q -r ../plain.zip .");
    InSrc("zip -q -fz -r ../plain64.zip .");
    Piped("piped.zip", "a.txt noise.bin");
    const std::string stub = "MZ" + Random(998, 5);
    Put(P("cat.zip"), stub + Bytes(P("plain.zip")));
    Put(P("catpiped.zip"), stub + Bytes(P("piped.zip")));
    Put(P("adjusted.zip"), Bytes(P("cat.zip")));
    ASSERT_EQ(ziptest::Run("zip -q -A " + Quote(P("adjusted.zip").string())), 0);
    for (const char* name : {"cat.zip", "catpiped.zip", "adjusted.zip"}) {
        SCOPED_TRACE(name);
        auto a = Open(P(name));
        EXPECT_EQ(a->DirManager()->ArchiveStart, 1000);
        // zipfile counts offsets from the file's start, raised or not; so do we.
        EXPECT_EQ(Listing(*a->DirManager()), PythonListing(P(name)));
    }
    // A directory offset that cannot tell: the first header agreeing with item 0 is the start,
    // not a local header signature inside the stub.
    std::string far = stub.substr(0, 100) + "PK\x03\x04" + std::string(26, '\0') + stub.substr(130);
    far += Bytes(P("plain.zip"));
    SetLe(far, far.rfind("PK\x05\x06") + 16, 0xFFFFFFFFu, 4);
    Put(P("far.zip"), far);
    auto a = Open(P("far.zip"));
    EXPECT_EQ(a->DirManager()->ArchiveStart, 1000);
    EXPECT_EQ(Entries(Listing(*a->DirManager())), Entries(PythonListing(P("cat.zip"))));
    // A Zip64 locator pointing where the Zip64 end record was before the stub came: no search.
    Put(P("cat64.zip"), stub + Bytes(P("plain64.zip")));
    EXPECT_EQ(NativeOf([&] { Open(P("cat64.zip")); }), 40);
}

TEST_F(ReaderTest, VolumeSetsOfTheZipToolAndOfOurOwn) {
    dir.write("src/big.bin", Random(200000, 9));
    InSrc("zip -q -0 -s 64k -r ../set.zip .");  // set.z01 ... set.z03, set.zip
    ASSERT_TRUE(fs::exists(P("set.z03")));
    ziptest::MakeZip(P("own.zip"), P("src"), [](TZipArchiver& w) {
        ziptest::Split(w, 70000);
        w.SpanningOptions.AdvancedNaming = true;
        w.SetCompressionMode(0);
    });
    ASSERT_TRUE(fs::exists(P("own_003.zip")));
    for (const char* name : {"set.zip", "own.zip"}) {
        SCOPED_TRACE(name);
        auto a = Open(P(name));
        EXPECT_EQ(a->SpanningMode(), smSplitting);
        EXPECT_EQ(a->SpanningOptions.AdvancedNaming, name[0] == 'o');
        EXPECT_EQ(a->FileCount(), 6);
        TZipArchiveItem f;
        ASSERT_TRUE(a->FindFirst(u"big.bin", f, 0x28BF, u""));
        EXPECT_EQ(f.UncompressedSize, 200000);
        EXPECT_EQ(f.CRC, Crc(Bytes(P("src/big.bin"))));
    }
    // One entry more than the directory holds: damaged, and a set is not repaired.
    std::string last = Bytes(P("own.zip"));
    const std::size_t end = last.rfind("PK\x05\x06");
    SetLe(last, end + 10, ziptest::LE(last, end + 10, 2) + 1, 2);
    Put(P("own.zip"), last);
    EXPECT_EQ(NativeOf([&] { Open(P("own.zip"), false); }), 57);
    EXPECT_EQ(NativeOf([&] { Open(P("own.zip")); }), 44);
}

// --- damaged archives ------------------------------------------------------------------------------

TEST_F(ReaderTest, DamagedDirectoryIsRecoveredFromLocalHeadersOrRefused) {
    InSrc("zip -q -r ../z.zip a.txt empty.txt sub/b.kml");
    InSrc("zip -q -fz -r ../z64.zip a.txt empty.txt sub/b.kml");
    Piped("piped.zip", "a.txt noise.bin sub/b.kml");
    Piped("piped64.zip", "a.txt empty.txt sub/b.kml", true);
    const std::string z = Bytes(P("z.zip"));
    const std::size_t dirAt = z.find("PK\x01\x02"), endAt = z.rfind("PK\x05\x06");
    Put(P("cut.zip"), z.substr(0, dirAt + 10));  // directory cut in its first entry
    Put(P("nodir.zip"), z.substr(0, dirAt));
    Put(P("zeroed.zip"), z.substr(0, dirAt) + std::string(endAt - dirAt, '\0') + z.substr(endAt));
    for (const char* intact : {"z64.zip", "piped.zip", "piped64.zip"}) {  // Zip64 extras, data descriptors
        const std::string b = Bytes(P(intact));
        Put(P(std::string("cut") + intact), b.substr(0, b.find("PK\x01\x02")));
    }
    for (auto [name, intact] : {std::pair{"cut.zip", "z.zip"},
                                {"nodir.zip", "z.zip"},
                                {"zeroed.zip", "z.zip"},
                                {"cutz64.zip", "z64.zip"},
                                {"cutpiped.zip", "piped.zip"},
                                {"cutpiped64.zip", "piped64.zip"}}) {
        SCOPED_TRACE(name);
        auto a = Open(P(name));
        TZipDirManager& dm = *a->DirManager();
        EXPECT_EQ(dm.StreamSizeAtRebuild, static_cast<std::int64_t>(fs::file_size(P(name))));
        // Names, sizes, CRCs and offsets as the intact directory had them; an empty file is no folder.
        EXPECT_EQ(Entries(Listing(dm)), Entries(PythonListing(P(intact))));
        EXPECT_EQ(a->FileCount(), 3);
    }
    // Without repair: no end record is native 48, a directory that cannot be there native 57.
    EXPECT_EQ(NativeOf([&] { Open(P("nodir.zip"), false); }), 48);
    EXPECT_EQ(NativeOf([&] { Open(P("zeroed.zip"), false); }), 57);
}

// A volume of a set opened on its own is read as far as it goes and never written into: named as
// a volume of the set beside it, named as a volume with an item that runs past its end, or with
// items on other disks. A cut archive of another name is one archive, repaired and written to.
TEST_F(ReaderTest, AVolumeOfASetOpenedOnItsOwnIsNotWrittenInto) {
    dir.write("src/big.bin", Random(200000, 9));
    InSrc("zip -q -0 -s 64k -r ../set.zip .");  // set.z01 ... set.z03, set.zip
    const RawZip z = BuildZip({{"a.txt", "first"}, {"b.txt", std::string(500, 'b')}});
    Put(P("cut.zip"), z.bytes.substr(0, z.directory - 20));
    Put(P("cut.z02"), z.bytes.substr(0, z.directory - 20));
    std::string disk = z.bytes;
    SetLe(disk, z.directory + 46 + 5 + 34, 1, 2);  // b.txt starts on the second disk
    Put(P("disk.zip"), disk);
    Put(P("set.z09"), z.bytes);  // beyond the set's count: an archive of its own
    dir.write("track.kml", "<kml/>\n");
    for (const char* name : {"set.z01", "set.z02", "set.z03", "cut.zip", "cut.z02", "disk.zip", "set.z09"}) {
        SCOPED_TRACE(name);
        const std::string before = Bytes(P(name));
        const bool own = name == std::string("set.z09") || name == std::string("cut.zip");
        auto a = Open(P(name), true, fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_EQ(a->SpanningMode(), smNone);
        if (name[0] != 's' || own) {
            // The cut item is not taken.
            EXPECT_EQ(a->FileCount(), name[0] == 'c' ? 1 : 2);
        }
        a->BaseDir = dir.wide();
        EXPECT_EQ(NativeOf([&] { a->AddFiles(u"track.kml", 0x28BF, u""); }), own ? -1 : 19);
        a->CloseArchive();
        if (!own) {
            EXPECT_EQ(Bytes(P(name)), before);
        }
    }
    EXPECT_EQ(Open(P("set.z09"))->FileCount(), 3);
    EXPECT_EQ(Open(P("cut.zip"))->FileCount(), 2);
}

// The same with the set's last volume moved away, of sets whose items are larger than a volume: a
// header whose data runs past the end of the file says what the file is, whether or not the item
// can be taken; a file that holds nothing of its own, its neighbours in the set beside it. Sets of
// the zip tool (lower-case ".z02") and of our own in both namings.
TEST_F(ReaderTest, AVolumeOfASetWithoutItsLastVolumeIsNotWrittenInto) {
    dir.write("src/big.bin", Random(200000, 9));
    dir.write("src/huge.bin", Random(150000, 10));
    InSrc("zip -q -0 -s 64k -r ../set.zip .");
    for (bool advanced : {false, true})
        ziptest::MakeZip(P(advanced ? "adv.zip" : "own.zip"), P("src"), [&](TZipArchiver& w) {
            ziptest::Split(w, 65536);
            w.SpanningOptions.AdvancedNaming = advanced;
            w.SetCompressionMode(0);
        });
    fs::create_directories(P("away"));
    for (const char* last : {"set.zip", "own.zip", "adv.zip"}) fs::rename(P(last), P("away") / last);
    dir.write("track.kml", "<kml/>\n");
    auto refused = [&](const fs::path& volume) {
        SCOPED_TRACE(volume);
        const std::string before = Bytes(volume);
        auto a = Open(volume, true, fmOpenReadWrite | fmShareDenyWrite);
        a->BaseDir = dir.wide();
        EXPECT_EQ(NativeOf([&] { a->AddFiles(u"track.kml", 0x28BF, u""); }), 19);
        a->CloseArchive();
        EXPECT_TRUE(Bytes(volume) == before);
    };
    int volumes = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.is_regular_file() && e.path().filename() != "track.kml") {
            refused(e.path());
            ++volumes;
        }
    EXPECT_GE(volumes, 3 * 5);
    // A first volume on its own: its large item's header alone says it.
    for (const char* first : {"set.z01", "own.Z01", "adv_001.zip"}) {
        fs::create_directories(P(first).replace_extension(".alone"));
        const fs::path alone = P(first).replace_extension(".alone") / first;
        fs::rename(P(first), alone);
        refused(alone);
    }
}

// Damage of any kind is the zip_read and zip_append fuzz harnesses' work, their finds replayed with
// the tests; here the fields whose bending must be seen.
TEST(ReaderEdges, BentFieldsOfHandMadeArchives) {
    ziptest::TempDir dir;
    const fs::path t = dir.path() / "t.zip";
    const RawZip z = BuildZip({{"one.txt", "first"}, {"two.txt", "second"}}, "note");
    Put(t, z.bytes);
    EXPECT_EQ(OurListing(t, false), PythonListing(t));

    // 0xFFFF entries without a Zip64 locator: the items come from the local headers.
    std::string b = z.bytes;
    SetLe(b, z.end + 8, 0xFFFF'FFFF, 4);
    Put(t, b);
    EXPECT_EQ(Names(*Open(t, false)->DirManager()), (std::vector<std::string>{"one.txt", "two.txt"}));
    // A count the directory cannot hold, a directory size or a compressed size beyond the file:
    // damaged, unless repair is asked for.
    for (auto [at, value, n] :
         {std::tuple{z.end + 10, 5000u, 2}, {z.end + 12, 5000u, 4}, {z.directory + 20, 1u << 30, 4}}) {
        b = z.bytes;
        SetLe(b, at, value, n);
        Put(t, b);
        EXPECT_EQ(NativeOf([&] { Open(t, false); }), 57) << at;
        EXPECT_EQ(Open(t)->DirManager()->Items.GetCount(), 2) << at;
    }

    // Zip64 extra with only the compressed size and the disk overflowing: 8 bytes, then 4.
    std::string extra;
    Le(extra, 0x000C'0001, 4);
    Le(extra, 5, 8);
    Le(extra, 0, 4);
    RawZip z64 = BuildZip({{"one.txt", "first", 0, extra}});
    SetLe(z64.bytes, z64.directory + 20, 0xFFFFFFFFu, 4);
    SetLe(z64.bytes, z64.directory + 34, 0xFFFF, 2);
    Put(t, z64.bytes);
    {
        auto a = Open(t, false);
        const TDirItem& it = a->DirManager()->Items.GetItem(0);
        EXPECT_TRUE(it.HasZip64);
        EXPECT_EQ(it.CompressedSize64, 5u);
        EXPECT_EQ(it.UncompressedSize64, 5u);
        EXPECT_EQ(it.LocalHeaderOffset64, 0u);
        EXPECT_EQ(it.DiskNumberStart64, 0u);
    }

    // The second signature family, read through its directory and through its local headers.
    RawZip base = BuildZip({{"a.kml", "kml"}, {"b.txt", "b"}});
    for (std::size_t at : {std::size_t{0}, std::size_t{30 + 5 + 3}, base.end})
        SetLe(base.bytes, at, at == base.end ? 0x06054141 : 0x05045C61, 4);
    for (bool cut : {false, true}) {
        Put(t, cut ? base.bytes.substr(0, base.directory) : base.bytes);
        auto a = Open(t, true, fmOpenRead, false);
        EXPECT_EQ(Names(*a->DirManager()), (std::vector<std::string>{"a.kml", "b.txt"})) << cut;
        EXPECT_EQ(a->DirManager()->StreamSizeAtRebuild >= 0, cut);
    }
    EXPECT_EQ(Open(t)->DirManager()->Items.GetCount(), 0);  // not for the PK family
}

TEST(ReaderEdges, RecoveryFindsHeadersInsideDataAndSkipsImplausibleOnes) {
    ziptest::TempDir dir;
    // A stored file whose data is itself a small archive: its local header lies in the whole
    // item's data and is no item of its own (two items over the same bytes are refused by unzip).
    const RawZip inner = BuildZip({{"inner.txt", "nested"}});
    const RawZip z = BuildZip({{"outer.zip", inner.bytes}, {"folder/", ""}, {"d.txt", "described", 8}});
    std::string b = z.bytes.substr(0, z.directory);
    const std::size_t d = b.rfind("PK\x03\x04");
    SetLe(b, d + 14, 0, 4);  // CRC and sizes only in the descriptor
    SetLe(b, d + 18, 0, 8);
    Le(b, 0x08074B50, 4);
    Le(b, Crc("described"), 4);
    Le(b, 0x9'0000'0009, 8);
    // Two headers more: extra length 261, and a compressed size beyond the file.
    std::string wide = BuildZip({{"x.txt", "x"}}).bytes.substr(0, 36), huge = wide;
    SetLe(wide, 28, 261, 2);
    SetLe(huge, 18, 1u << 30, 4);
    Put(dir.path() / "t.zip", b + wide + std::string(300, '.') + huge);
    auto a = Open(dir.path() / "t.zip");
    TZipDirManager& dm = *a->DirManager();
    ASSERT_EQ(Names(dm), (std::vector<std::string>{"outer.zip", "folder/", "d.txt"}));
    EXPECT_EQ(dm.Items.GetItem(1).Header.LocalHeaderOffset, 30u + 9u + inner.bytes.size());
    EXPECT_EQ(dm.Items.GetItem(1).Header.ExternalAttr, 0x10u);
    const TCentralHeader& h = dm.Items.GetItem(2).Header;
    EXPECT_EQ(h.Crc32, Crc("described"));
    EXPECT_EQ(h.CompressedSize, 9u);
    EXPECT_EQ(h.ExternalAttr, 0x20u);
}

// Items recovered without asking for recovery go into the next directory as they are: they must
// pass the checks that directory meets when the archive is opened again.
TEST(ReaderEdges, RecoveredItemsClaimNoMoreDataThanTheFileHolds) {
    ziptest::TempDir dir;
    // A Zip64 size of 2^64 - 5 in the local extra (no negative size), and a header inside the
    // stored data of "outer.bin" claiming nearly the whole file once more.
    std::string huge = BuildZip({{"huge.txt", "h"}}).bytes.substr(0, 38);
    SetLe(huge, 18, 0xFFFF'FFFF'FFFF'FFFFull, 8);
    SetLe(huge, 28, 20, 2);
    Le(huge, 0x0010'0001, 4);
    Le(huge, 1, 8);
    Le(huge, 0xFFFF'FFFF'FFFF'FFFBull, 8);
    huge += "h";
    // Without the huge item the archive is taken for one of its own and added to. With it, whose
    // data runs past the end: named as a volume of a set, the file is one, read but not written
    // into; else it begins with an item left out, which written to would be taken for the start of
    // the archive, and is refused as damaged.
    struct Case {
        std::string prefix;
        const char* name;
    };
    for (const auto& [prefix, name] : {Case{std::string(), "t.zip"}, Case{huge, "t.zip"}, Case{huge, "t.z02"}}) {
        SCOPED_TRACE(std::to_string(prefix.size()) + name);
        const bool volume = name != std::string("t.zip");
        const int refusal = volume ? 19 : prefix.empty() ? -1 : 57;
        std::string nested = BuildZip({{"nested.txt", "n"}}).bytes.substr(0, 40);
        const std::size_t fileSize = prefix.size() + 30 + 9 + 940 + 30 + 8 + 9 + 22;
        SetLe(nested, 18, fileSize - 100, 4);
        const std::string real = BuildZip({{"outer.bin", nested + Random(900, 5)}, {"real.txt", "real data"}}).bytes;
        const std::string body = prefix + real.substr(0, real.find("PK\x01\x02"));
        // An end record counting 0xFFFF entries without a Zip64 locator: the directory is rebuilt
        // without recovery being asked for.
        std::string end = ziptest::EmptyZip();
        SetLe(end, 8, 0xFFFF'FFFFull, 4);
        Put(dir.path() / name, body + end);
        ASSERT_EQ(fs::file_size(dir.path() / name), fileSize);
        {
            auto a = Open(dir.path() / name, false, fmOpenReadWrite | fmShareDenyWrite);
            EXPECT_EQ(Names(*a->DirManager()), (std::vector<std::string>{"outer.bin", "real.txt"}));
            dir.write("added.kml", "<kml>added</kml>\n");
            a->BaseDir = dir.wide();
            a->SetPassword("secret");
            EXPECT_EQ(NativeOf([&] { a->AddFiles(u"added.kml", 0x28BF, u""); }), refusal);
        }
        if (refusal != -1) {
            EXPECT_EQ(fs::file_size(dir.path() / name), fileSize);
            continue;
        }
        auto b = Open(dir.path() / name, false);
        EXPECT_EQ(Names(*b->DirManager()), (std::vector<std::string>{"outer.bin", "real.txt", "added.kml"}));
    }
}

// A directory found where its offset says keeps its offsets, however its first item looks: the
// archive must not move when an add lets a header that once ran past the end fit.
TEST(ReaderEdges, OffsetsOfADirectoryWhereItSaysStay) {
    ziptest::TempDir dir;
    const RawZip z = BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    // Leading bytes counted by the directory's offset and b's, but item 0 still says 0; a's local
    // header names more bytes than the file holds.
    std::string b = std::string(36, '\0') + z.bytes;
    SetLe(b, 36 + z.end + 16, z.directory + 36, 4);
    const std::size_t bCentral = 36 + z.directory + 46 + 5;
    SetLe(b, bCentral + 42, ziptest::LE(b, bCentral + 42, 4) + 36, 4);
    SetLe(b, 36 + 26, b.size() - 36 - 30 + 10, 2);
    Put(dir.path() / "t.zip", b);
    const std::string before = Entries(OurListing(dir.path() / "t.zip", false));
    {
        auto a = Open(dir.path() / "t.zip", false, fmOpenReadWrite | fmShareDenyWrite);
        dir.write("added.kml", "<kml>added</kml>\n");
        a->BaseDir = dir.wide();
        a->AddFiles(u"added.kml", 0x28BF, u"");
    }
    const std::string after = Entries(OurListing(dir.path() / "t.zip", false));
    EXPECT_EQ(after.substr(0, before.size()), before);
    const std::string bytes = Bytes(dir.path() / "t.zip");
    const std::size_t added = std::stoul(after.substr(after.rfind('|') + 1));
    EXPECT_EQ(bytes.substr(added, 4), "PK\x03\x04");
    EXPECT_EQ(bytes.substr(added + 30, 9), "added.kml");
}

TEST(ReaderEdges, StubLargerThanTheFirstVolumeLeavesNoFile) {
    ziptest::TempDir dir;
    dir.write("stub.exe", Random(70000, 2));
    TZipArchiver a;
    a.SFXStub = dir.wide() + u"stub.exe";
    a.FileName = dir.wide() + u"t.exe";
    ziptest::Split(a, 65536);
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmCreate); }), 47);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ReaderEdges, UnicodeNameExtra) {
    auto data = [](std::int32_t count, const std::u16string& name, std::uint32_t sig = 0x5843554E) {
        std::string s;
        Le(s, sig, 4);
        Le(s, static_cast<std::uint32_t>(count), 4);
        for (char16_t c : name) Le(s, c, 2);
        return s;
    };
    TUnicodeExtendedInfo info;
    std::string e = data(1000, u"Äbc");  // characters beyond the data are not taken
    EXPECT_TRUE(info.LoadFromBuffer(e.data(), e.size() - 1));
    EXPECT_EQ(info.Name, u"Äb");
    e = data(-5, u"Äbc");
    EXPECT_FALSE(info.LoadFromBuffer(e.data(), e.size()));
    EXPECT_FALSE(info.LoadFromBuffer(e.data(), 6));

    // In an archive: a good one renames the item; a foreign or empty one leaves the stored name.
    auto field = [](const std::string& d) {
        std::string s;
        Le(s, 0x554E, 2);
        Le(s, d.size(), 2);
        return s + d;
    };
    ziptest::TempDir dir;
    Put(dir.path() / "t.zip", BuildZip({{"a.txt", "1", 0, field(data(7, u"Ünï.txt"))},
                                        {"b.txt", "2", 0, field(data(0, u""))},
                                        {"c.txt", "3", 0, field(data(2, u"xy", 0x12345678))}})
                                  .bytes);
    EXPECT_EQ(Names(*Open(dir.path() / "t.zip")->DirManager()),
              (std::vector<std::string>{"Ünï.txt", "b.txt", "c.txt"}));
}

// --- adding to an existing archive -------------------------------------------------------------------

TEST_F(ReaderTest, AppendingKeepsEarlierEntriesIntact) {
    const char* files = "a.txt empty.txt sub/b.kml noise.bin";
    InSrc(std::string("LANG=C.UTF-8 zip -q ../tool.zip sub/ ") + files);
    InSrc(std::string("zip -q -fz ../forced64.zip ") + files);
    InSrc(std::string("7z a -bd -tzip ../seven.zip ") + files + " > /dev/null");
    Piped("piped64.zip", files, true);
    // Empty folders first, and a directory listing an empty file before the entry at offset 0.
    InSrc("python3 -c " + Quote(std::string(R"PY(
import zipfile
with zipfile.ZipFile('../folders.zip', 'w') as z:
    for d in ('folder_one/', 'folder_two/', 'folder_three/'): z.writestr(d, b'')
    for f in ')PY") + files + R"PY('.split(): z.write(f)
with zipfile.ZipFile('../reordered.zip', 'w') as z:
    for f in ('a.txt', 'sub/b.kml', 'noise.bin', 'empty.txt'): z.write(f)
    z.filelist.insert(0, z.filelist.pop())
)PY"));
    const std::string t = Bytes(P("tool.zip")), piped = Bytes(P("piped64.zip"));
    Put(P("stub.zip"), "MZ" + Random(500, 8) + t);  // offsets not counting the stub
    Put(P("stubfolders.zip"), "MZ" + Random(98, 8) + Bytes(P("folders.zip")));
    // Recovered first: a cut directory, a zeroed one, Zip64 data descriptors.
    Put(P("cut.zip"), t.substr(0, t.find("PK\x01\x02") + 20));
    const std::size_t dirAt = t.find("PK\x01\x02"), endAt = t.rfind("PK\x05\x06");
    Put(P("zeroed.zip"), t.substr(0, dirAt) + std::string(endAt - dirAt, '\0') + t.substr(endAt));
    Put(P("cutpiped64.zip"), piped.substr(0, piped.find("PK\x01\x02")));
    dir.write("track.kml", "<kml>appended</kml>\n");
    for (const char* name : {"tool.zip", "forced64.zip", "seven.zip", "stub.zip", "stubfolders.zip", "reordered.zip",
                             "cut.zip", "zeroed.zip", "cutpiped64.zip"}) {
        SCOPED_TRACE(name);
        {
            auto a = Open(P(name), true, fmOpenReadWrite | fmShareDenyWrite);
            a->BaseDir = dir.wide();
            a->AddFiles(u"track.kml", 0x28BF, u"");
            EXPECT_EQ(a->FileCount(), 5);
        }
        std::string out;
        EXPECT_TRUE(ziptest::UnzipTest(P(name)));
        EXPECT_TRUE(ziptest::SevenZipTest(P(name)));
        std::vector<std::string> pairs =
            ziptest::SourcePairs(dir.str() + "src/", {"a.txt", "empty.txt", "noise.bin", "sub/b.kml"});
        pairs.push_back("track.kml=" + P("track.kml").string());
        EXPECT_FALSE(ziptest::PythonCheck(P(name), pairs).empty());
        // Only names ending in "/" are folders.
        ziptest::Run("7z l -slt " + Quote(P(name).string()) + " | grep -B1 '^Folder = +' | grep '^Path'", &out);
        EXPECT_EQ(out.find("empty.txt"), std::string::npos) << out;
    }
    // A file that is no archive keeps its bytes in front of what is added.
    const std::string text = "not an archive\n" + Random(5000, 4);
    Put(P("text.zip"), text);
    {
        auto a = Open(P("text.zip"), true, fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_EQ(a->FileCount(), 0);
        a->BaseDir = dir.wide();
        a->AddFiles(u"track.kml", 0x28BF, u"");
    }
    EXPECT_EQ(Bytes(P("text.zip")).substr(0, text.size()), text);
    EXPECT_FALSE(ziptest::PythonCheck(P("text.zip"), {"track.kml=" + P("track.kml").string()}).empty());
    // An empty file: opened read-only it stays empty, read-write it closes as an empty archive.
    Put(P("e.zip"), "");
    Open(P("e.zip"))->CloseArchive();
    EXPECT_EQ(fs::file_size(P("e.zip")), 0u);
    Open(P("e.zip"), true, fmOpenReadWrite | fmShareDenyWrite)->CloseArchive();
    EXPECT_EQ(Bytes(P("e.zip")), ziptest::EmptyZip());
}

}  // namespace
