// Opening existing archives: archives of outside tools and of our own writer listed as Python's
// zipfile lists them, archives behind stubs and in volumes, damaged archives recovered or refused,
// and appending to an opened archive.
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "archiver.h"
#include "dir_reader.h"
#include "item_writer.h"
#include "test_util.h"
#include "wide_files.h"
#include "wide_text.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Quote;

namespace {

std::string Bytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

std::string Random(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string Hex(const std::string& s)
{
    static const char* d = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) {
        r += d[c >> 4];
        r += d[c & 15];
    }
    return r;
}

// One line per entry, "name|size|compressed|crc|local header offset", then "comment|hex".
std::string PythonListing(const fs::path& zip)
{
    static const char* script = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    print('%s|%d|%d|%08x|%d' % (i.filename, i.file_size, i.compress_size, i.CRC, i.header_offset))
print('comment|' + z.comment.hex())
)PY";
    std::string out;
    if (ziptest::Run("python3 -c " + Quote(script) + " " + Quote(zip.string()), &out) != 0)
        return "python failed: " + out;
    return out;
}

std::string Listing(TZipDirManager& dm)
{
    std::string r;
    char crc[16];
    for (int i = 0; i < dm.Items.GetCount(); ++i) {
        const TDirItem& it = dm.Items.GetItem(i);
        const TCentralHeader& h = it.Header;
        const std::uint64_t u = h.UncompressedSize == 0xFFFFFFFFu ? it.UncompressedSize64 : h.UncompressedSize;
        const std::uint64_t c = h.CompressedSize == 0xFFFFFFFFu ? it.CompressedSize64 : h.CompressedSize;
        const std::uint64_t o = h.LocalHeaderOffset == 0xFFFFFFFFu ? it.LocalHeaderOffset64 : h.LocalHeaderOffset;
        std::snprintf(crc, sizeof crc, "%08x", h.Crc32);
        r += UTF8EncodeWide(it.Name) + "|" + std::to_string(u) + "|" + std::to_string(c) + "|" + crc + "|" +
             std::to_string(o) + "\n";
    }
    return r + "comment|" + Hex(dm.ArchiveComment) + "\n";
}

std::u16string Wide(const fs::path& p) { return UTF8DecodeWide(p.string()); }

// Opens name read-only and lists it as PythonListing does.
std::string OurListing(const fs::path& zip, bool repair = true)
{
    TZipArchiver a;
    a.OpenDamaged = repair;
    a.FileName = Wide(zip);
    a.OpenArchive(fmOpenRead | fmShareDenyNone);
    return Listing(*a.DirManager());
}

int NativeOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EZipException& e) {
        return e.NativeError;
    }
    return -1;
}

// A stored archive built by hand, so that single fields can be bent.
struct RawEntry {
    RawEntry(std::string n, std::string d, std::uint16_t f = 0, std::string local = "", std::string central = "")
        : name(std::move(n)), data(std::move(d)), flags(f), localExtra(std::move(local)), centralExtra(std::move(central))
    {
    }
    std::string name;
    std::string data;
    std::uint16_t flags;
    std::string localExtra;
    std::string centralExtra;
};

void Le(std::string& s, std::uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        s += static_cast<char>(v >> (8 * i));
}

std::uint32_t Crc(const std::string& s)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

struct RawZip {
    std::string bytes;
    std::size_t directory = 0;  // where the central directory starts
    std::size_t end = 0;        // where the end record starts
};

RawZip BuildZip(const std::vector<RawEntry>& entries, const std::string& comment = "")
{
    RawZip z;
    std::vector<std::size_t> offsets;
    for (const RawEntry& e : entries) {
        offsets.push_back(z.bytes.size());
        Le(z.bytes, 0x04034B50, 4);
        Le(z.bytes, 20, 2);
        Le(z.bytes, e.flags, 2);
        Le(z.bytes, 0, 2);
        Le(z.bytes, 0x6000, 2);
        Le(z.bytes, 0x5A21, 2);
        Le(z.bytes, Crc(e.data), 4);
        Le(z.bytes, e.data.size(), 4);
        Le(z.bytes, e.data.size(), 4);
        Le(z.bytes, e.name.size(), 2);
        Le(z.bytes, e.localExtra.size(), 2);
        z.bytes += e.name + e.localExtra + e.data;
    }
    z.directory = z.bytes.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        Le(z.bytes, 0x02014B50, 4);
        Le(z.bytes, 20, 2);
        Le(z.bytes, 20, 2);
        Le(z.bytes, e.flags, 2);
        Le(z.bytes, 0, 2);
        Le(z.bytes, 0x6000, 2);
        Le(z.bytes, 0x5A21, 2);
        Le(z.bytes, Crc(e.data), 4);
        Le(z.bytes, e.data.size(), 4);
        Le(z.bytes, e.data.size(), 4);
        Le(z.bytes, e.name.size(), 2);
        Le(z.bytes, e.centralExtra.size(), 2);
        Le(z.bytes, 0, 2);
        Le(z.bytes, 0, 2);
        Le(z.bytes, 0, 2);
        Le(z.bytes, e.name.back() == '/' ? 0x10 : 0x20, 4);
        Le(z.bytes, offsets[i], 4);
        z.bytes += e.name + e.centralExtra;
    }
    z.end = z.bytes.size();
    Le(z.bytes, 0x06054B50, 4);
    Le(z.bytes, 0, 4);
    Le(z.bytes, entries.size(), 2);
    Le(z.bytes, entries.size(), 2);
    Le(z.bytes, z.end - z.directory, 4);
    Le(z.bytes, z.directory, 4);
    Le(z.bytes, comment.size(), 2);
    z.bytes += comment;
    return z;
}

void SetLe(std::string& s, std::size_t at, std::uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::vector<std::string> Names(TZipDirManager& dm)
{
    std::vector<std::string> r;
    for (int i = 0; i < dm.Items.GetCount(); ++i)
        r.push_back(UTF8EncodeWide(dm.Items.GetItem(i).Name));
    return r;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.write("src/a.txt", std::string(2000, 'a') + "trail");
        dir.write("src/noise.bin", Random(30000, 3));
        dir.write("src/empty.txt", "");
        dir.write("src/sub/b.kml", "<kml/>\n");
        dir.write("src/Grüße 東京.txt", "utf-8 name");
    }
    fs::path P(const std::string& rel) const { return dir.path() / rel; }
    // Runs a shell command inside src/.
    void InSrc(const std::string& cmd) const
    {
        std::string out;
        ASSERT_EQ(ziptest::Run("cd " + Quote(dir.str() + "src") + " && " + cmd, &out), 0) << cmd << "\n" << out;
    }
    ziptest::TempDir dir;
};

// --- archives of outside tools -----------------------------------------------------------------------

TEST_F(ReaderTest, ArchivesOfOutsideToolsListAsZipfileListsThem)
{
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
    z.writestr(zipfile.ZipInfo('note.txt'), b'with a comment')
    z.getinfo('note.txt').comment = b'entry comment'
)PY"));
    for (const char* name : {"deflated.zip", "stored.zip", "forced64.zip", "seven.zip", "python.zip"}) {
        SCOPED_TRACE(name);
        const std::string expected = PythonListing(P(name));
        EXPECT_EQ(OurListing(P(name)), expected);
        EXPECT_EQ(OurListing(P(name), false), expected);
    }
    // 7z marks its UTF-8 names; zip stores the bytes without a mark, read as the OEM code page.
    TZipArchiver a;
    a.FileName = Wide(P("seven.zip"));
    a.OpenArchive(fmOpenRead);
    int at = -1;
    EXPECT_TRUE(a.DirManager()->Items.FindItem(u"Grüße 東京.txt", at));
    EXPECT_EQ(a.FileCount(), 5);
    EXPECT_EQ(a.DirManager()->ArchiveStart, 0);
}

TEST_F(ReaderTest, StubInFrontWithAndWithoutAdjustedOffsets)
{
    InSrc("zip -q -r ../plain.zip .");
    const std::string stub = "MZ" + Random(998, 5);
    Put(P("cat.zip"), stub + Bytes(P("plain.zip")));
    // Its Zip64 locator points where the end record was before the stub came.
    InSrc("zip -q -fz -r ../plain64.zip .");
    Put(P("cat64.zip"), stub + Bytes(P("plain64.zip")));
    ASSERT_EQ(ziptest::Run("cp " + Quote(P("cat.zip").string()) + " " + Quote(P("adjusted.zip").string()) + " && zip -q -A " +
                  Quote(P("adjusted.zip").string())), 0);
    // Written to a pipe: data descriptors, and local headers without CRC and sizes.
    InSrc("python3 -c " + Quote("import zipfile, sys\nwith zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                "    z.write('a.txt'); z.write('noise.bin')\n") + " | cat > ../piped.zip");
    Put(P("catpiped.zip"), stub + Bytes(P("piped.zip")));
    for (const char* name : {"cat.zip", "adjusted.zip", "cat64.zip", "catpiped.zip"}) {
        SCOPED_TRACE(name);
        TZipArchiver a;
        a.FileName = Wide(P(name));
        a.OpenArchive(fmOpenRead);
        EXPECT_EQ(a.DirManager()->ArchiveStart, 1000);
        // zipfile reports offsets from the file's start either way; so do we, raised or not.
        EXPECT_EQ(Listing(*a.DirManager()), PythonListing(P(name)));
    }
    // Our own writer with a stub writes offsets that already count it.
    dir.write("stub.exe", stub);
    TZipArchiver w;
    w.SFXStub = Wide(P("stub.exe"));
    w.FileName = Wide(P("own.exe"));
    w.OpenArchive(fmCreate);
    w.BaseDir = Wide(P("src"));
    w.AddFiles(u"a.txt", 0x28BF, u"");
    w.CloseArchive();
    TZipArchiver r;
    r.FileName = Wide(P("own.exe"));
    r.OpenArchive(fmOpenRead);
    EXPECT_EQ(r.DirManager()->ArchiveStart, 1000);
    EXPECT_EQ(r.SpanningMode(), smNone);
    EXPECT_EQ(Listing(*r.DirManager()), PythonListing(P("own.exe")));
}

TEST_F(ReaderTest, ManyEntriesThroughTheZip64EndRecord)
{
    const int n = 65600;
    InSrc("python3 -c " + Quote("import zipfile\nwith zipfile.ZipFile('../many.zip', 'w') as z:\n"
                                "    for i in range(" + std::to_string(n) + "): z.writestr('e%d' % i, b'')\n"));
    {
        TZipArchiver a;
        a.OpenDamaged = false;
        a.FileName = Wide(P("many.zip"));
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        TZipDirManager& dm = *a.DirManager();
        EXPECT_TRUE(dm.Zip64LocatorFound);
        ASSERT_EQ(dm.Items.GetCount(), n);
        EXPECT_EQ(UTF8EncodeWide(dm.Items.GetItem(n - 1).Name), "e" + std::to_string(n - 1));
        a.BaseDir = Wide(P("src"));
        a.AddFiles(u"a.txt", 0x28BF, u"");
    }
    std::string out;
    EXPECT_EQ(ziptest::Run("python3 -c 'import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); print(len(z.infolist()), "
                           "z.read(\"a.txt\") == open(sys.argv[2], \"rb\").read())' " +
                           Quote(P("many.zip").string()) + " " + Quote(P("src/a.txt").string()), &out), 0);
    EXPECT_EQ(out, std::to_string(n + 1) + " True\n");
}

TEST_F(ReaderTest, SplitSetOfTheZipTool)
{
    dir.write("src/big.bin", Random(200000, 9));
    InSrc("zip -q -0 -s 64k -r ../set.zip .");
    ASSERT_TRUE(fs::exists(P("set.z01")));
    ASSERT_TRUE(fs::exists(P("set.z03")));
    TZipArchiver a;
    a.FileName = Wide(P("set.zip"));
    a.OpenArchive(fmOpenRead);
    EXPECT_EQ(a.SpanningMode(), smSplitting);
    TZipDirManager& dm = *a.DirManager();
    // Judged by the joined set, whose directory holds the same entries with file offsets.
    ASSERT_EQ(ziptest::Run("zip -q -s 0 " + Quote(P("set.zip").string()) + " --out " + Quote(P("joined.zip").string())), 0);
    const std::string joined = PythonListing(P("joined.zip"));
    std::string ours;
    for (int i = 0; i < dm.Items.GetCount(); ++i) {
        const TDirItem& it = dm.Items.GetItem(i);
        ours += UTF8EncodeWide(it.Name) + "|" + std::to_string(it.Header.UncompressedSize) + "\n";
        EXPECT_LE(it.Header.DiskNumberStart, 3);
    }
    std::string expected;
    for (std::size_t p = 0; p < joined.size();) {
        const std::size_t nl = joined.find('\n', p);
        const std::string line = joined.substr(p, nl - p);
        p = nl + 1;
        if (line.rfind("comment|", 0) == 0)
            continue;
        const std::size_t bar = line.find('|');
        expected += line.substr(0, line.find('|', bar + 1)) + "\n";
    }
    EXPECT_EQ(ours, expected);
}

TEST_F(ReaderTest, ArchivesOfOurOwnWriterReadBack)
{
    for (TZip64Mode mode : {zmDisabled, zmAlways}) {
        SCOPED_TRACE(mode);
        const fs::path z = P(mode == zmAlways ? "own64.zip" : "own.zip");
        {
            TZipArchiver w;
            w.Zip64Mode = mode;
            w.FileName = Wide(z);
            w.OpenArchive(fmCreate);
            w.BaseDir = Wide(P("src"));
            w.AddFiles(u"*", 0x28BF, u"");
            w.SetCompressionMode(0);
            w.AddFiles(u"sub", 0x28BF, u"");
        }
        // Our Zip64 entries hold their sizes only in the extra; the size check must use them.
        EXPECT_EQ(OurListing(z, false), PythonListing(z));
        TZipArchiver r;
        r.FileName = Wide(z);
        r.OpenArchive(fmOpenRead);
        int at = -1;
        EXPECT_TRUE(r.DirManager()->Items.FindItem(u"Grüße 東京.txt", at));  // from the Unicode name extra
        EXPECT_EQ(r.FileCount(), 5);
        TZipArchiveItem f;
        ASSERT_TRUE(r.FindFirst(u"noise.bin", f, 0x28BF, u""));
        EXPECT_EQ(f.UncompressedSize, 30000);
    }
}

TEST_F(ReaderTest, SplitSetOfOurOwnWriter)
{
    dir.write("src/big.bin", Random(300000, 11));
    {
        TZipArchiver w;
        w.SetSpanningMode(smSplitting);
        w.SpanningOptions.VolumeSize = vsCustom;
        w.SpanningOptions.SetCustomVolumeSize(100000);
        w.FileName = Wide(P("t.zip"));
        w.OpenArchive(fmCreate);
        w.BaseDir = Wide(P("src"));
        w.SetCompressionMode(0);
        w.AddFiles(u"*", 0x28BF, u"");
    }
    ASSERT_TRUE(fs::exists(P("t.Z01")));
    TZipArchiver r;
    r.FileName = Wide(P("t.zip"));
    r.OpenArchive(fmOpenRead);
    EXPECT_EQ(r.SpanningMode(), smSplitting);
    EXPECT_EQ(r.FileCount(), 6);
    TZipArchiveItem f;
    ASSERT_TRUE(r.FindFirst(u"big.bin", f, 0x28BF, u""));
    EXPECT_EQ(f.UncompressedSize, 300000);
}

// --- damaged archives ------------------------------------------------------------------------------

TEST_F(ReaderTest, DirectoryCutOffOrTruncatedIsRecoveredFromLocalHeaders)
{
    InSrc("zip -q -r ../z.zip a.txt empty.txt sub/b.kml");
    const std::string z = Bytes(P("z.zip"));
    const std::size_t dirAt = z.find("PK\x01\x02");
    ASSERT_NE(dirAt, std::string::npos);
    Put(P("cut.zip"), z.substr(0, dirAt + 10));  // directory cut in its first entry
    Put(P("nodir.zip"), z.substr(0, dirAt));
    // Zip64 local headers: the sizes are taken from their extra.
    InSrc("zip -q -fz -r ../z64.zip a.txt empty.txt sub/b.kml");
    const std::string z64 = Bytes(P("z64.zip"));
    Put(P("cut64.zip"), z64.substr(0, z64.find("PK\x01\x02")));
    for (const char* name : {"cut.zip", "nodir.zip", "cut64.zip"}) {
        SCOPED_TRACE(name);
        TZipArchiver a;
        a.FileName = Wide(P(name));
        a.OpenArchive(fmOpenRead);
        TZipDirManager& dm = *a.DirManager();
        EXPECT_EQ(Names(dm), (std::vector<std::string>{"a.txt", "empty.txt", "sub/b.kml"}));
        EXPECT_EQ(dm.StreamSizeAtRebuild, static_cast<std::int64_t>(fs::file_size(P(name))));
        // Sizes, CRCs and offsets as the intact directory had them.
        const std::string lines = Listing(dm);
        const std::string expected = PythonListing(P(name == std::string("cut64.zip") ? "z64.zip" : "z.zip"));
        EXPECT_EQ(lines.substr(0, lines.find("comment|")), expected.substr(0, expected.find("comment|")));
        // An empty entry without a data descriptor comes back as a folder.
        EXPECT_EQ(dm.Items.GetItem(1).Header.ExternalAttr, 0x10u);
        EXPECT_EQ(dm.Items.GetItem(0).Header.ExternalAttr, 0x20u);
        EXPECT_EQ(a.FileCount(), 2);
    }
    // Entries with data descriptors: CRC and sizes come from each one's own descriptor.
    InSrc("python3 -c " + Quote("import zipfile, sys\nwith zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                "    z.write('a.txt'); z.write('noise.bin'); z.write('sub/b.kml')\n") + " | cat > ../piped.zip");
    const std::string piped = Bytes(P("piped.zip"));
    Put(P("cutpiped.zip"), piped.substr(0, piped.find("PK\x01\x02")));
    const std::string expected = PythonListing(P("piped.zip"));
    const std::string recovered = OurListing(P("cutpiped.zip"));
    EXPECT_EQ(recovered.substr(0, recovered.find("comment|")), expected.substr(0, expected.find("comment|")));

    // Without repair: no end record is native 48, a directory that cannot be read native 57.
    EXPECT_EQ(NativeOf([&] { OurListing(P("nodir.zip"), false); }), 48);
    std::string bad = z;
    SetLe(bad, bad.rfind("PK\x05\x06") + 12, 5000, 4);  // directory size beyond the file
    Put(P("bad.zip"), bad);
    EXPECT_EQ(NativeOf([&] { OurListing(P("bad.zip"), false); }), 57);
    TZipArchiver a;
    a.FileName = Wide(P("bad.zip"));
    a.OpenArchive(fmOpenRead);
    EXPECT_EQ(Names(*a.DirManager()).size(), 3u);
}

TEST(ReaderEdges, EndRecordsBentField)
{
    ziptest::TempDir dir;
    const RawZip z = BuildZip({{"one.txt", "first"}, {"two.txt", "second"}}, "note");
    auto open = [&](const std::string& bytes, bool repair = true) {
        Put(dir.path() / "t.zip", bytes);
        auto a = std::make_unique<TZipArchiver>();
        a->OpenDamaged = repair;
        a->FileName = dir.wide() + u"t.zip";
        a->OpenArchive(fmOpenRead);
        return a;
    };
    {
        auto a = open(z.bytes);
        EXPECT_EQ(Names(*a->DirManager()), (std::vector<std::string>{"one.txt", "two.txt"}));
        EXPECT_EQ(a->DirManager()->ArchiveComment, "note");
        EXPECT_EQ(a->DirManager()->StreamSizeAtRebuild, -1);
    }
    // 0xFFFF entries without a Zip64 locator: the items come from the local headers.
    std::string b = z.bytes;
    SetLe(b, z.end + 8, 0xFFFF, 2);
    SetLe(b, z.end + 10, 0xFFFF, 2);
    {
        auto a = open(b, false);
        EXPECT_EQ(Names(*a->DirManager()), (std::vector<std::string>{"one.txt", "two.txt"}));
        EXPECT_GE(a->DirManager()->StreamSizeAtRebuild, 0);
    }
    // A locator whose Zip64 end record is nowhere: native 40.
    std::string loc;
    Le(loc, 0x07064B50, 4);
    Le(loc, 0, 4);
    Le(loc, 3, 8);
    Le(loc, 1, 4);
    b = z.bytes.substr(0, z.end) + loc + z.bytes.substr(z.end);
    EXPECT_EQ(NativeOf([&] { open(b); }), 40);
    // A count the directory cannot hold is not believed.
    b = z.bytes;
    SetLe(b, z.end + 10, 5000, 2);
    EXPECT_EQ(NativeOf([&] { open(b, false); }), 57);
    EXPECT_EQ(Names(*open(b)->DirManager()).size(), 2u);
}

TEST(ReaderEdges, Zip64ExtraTakesOnlyTheOverflowingFields)
{
    ziptest::TempDir dir;
    std::string extra;
    Le(extra, 1, 2);
    Le(extra, 8, 2);
    Le(extra, 5, 8);  // the compressed size of "first"
    RawZip z = BuildZip({{"one.txt", "first", 0, "", extra}});
    SetLe(z.bytes, z.directory + 20, 0xFFFFFFFFu, 4);  // compressed size only
    Put(dir.path() / "t.zip", z.bytes);
    TZipArchiver a;
    a.OpenDamaged = false;
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmOpenRead);
    const TDirItem& it = a.DirManager()->Items.GetItem(0);
    EXPECT_TRUE(it.HasZip64);
    EXPECT_EQ(it.CompressedSize64, 5u);
    EXPECT_EQ(it.UncompressedSize64, 5u);
    EXPECT_EQ(it.LocalHeaderOffset64, 0u);
}

TEST(ReaderEdges, RecoveryTakesHeadersFoundInsideDataAndSkipsImplausibleOnes)
{
    ziptest::TempDir dir;
    // A stored file whose data is itself a small archive: its local header is found too.
    const RawZip inner = BuildZip({{"inner.txt", "nested"}});
    RawZip z = BuildZip({{"outer.zip", inner.bytes}, {"folder/", ""}, {"last.txt", "end"}});
    std::string cut = z.bytes.substr(0, z.directory);
    // Two more headers: extra length 261, and a compressed size beyond the file.
    std::string h = BuildZip({{"x.txt", "x"}}).bytes.substr(0, 36);
    std::string wide = h;
    SetLe(wide, 28, 261, 2);
    std::string huge = h;
    SetLe(huge, 18, 1u << 30, 4);
    cut += wide + std::string(300, '.') + huge;
    Put(dir.path() / "t.zip", cut);
    TZipArchiver a;
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmOpenRead);
    TZipDirManager& dm = *a.DirManager();
    EXPECT_EQ(Names(dm), (std::vector<std::string>{"outer.zip", "inner.txt", "folder/", "last.txt"}));
    EXPECT_EQ(dm.Items.GetItem(1).Header.LocalHeaderOffset, 30u + 9u);
    EXPECT_EQ(dm.Items.GetItem(2).Header.ExternalAttr, 0x10u);
}

TEST(ReaderEdges, RecoveryReadsDataDescriptors)
{
    ziptest::TempDir dir;
    RawZip z = BuildZip({{"d.txt", "described", 8}});
    std::string b = z.bytes.substr(0, z.directory);
    for (std::size_t at : {14, 18, 22})
        SetLe(b, at, 0, 4);  // CRC and sizes only in the descriptor
    std::string d;
    Le(d, 0x08074B50, 4);
    Le(d, Crc("described"), 4);
    Le(d, 9, 4);
    Le(d, 9, 4);
    Put(dir.path() / "t.zip", b + d);
    TZipArchiver a;
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmOpenRead);
    const TCentralHeader& h = a.DirManager()->Items.GetItem(0).Header;
    EXPECT_EQ(h.Crc32, Crc("described"));
    EXPECT_EQ(h.CompressedSize, 9u);
    EXPECT_EQ(h.ExternalAttr, 0x20u);  // a descriptor entry of size 0 in its header is no folder
}

TEST(ReaderEdges, SecondSignatureFamily)
{
    ziptest::TempDir dir;
    RawZip z = BuildZip({{"a.kml", "kml"}, {"b.txt", "b"}});
    const std::size_t locals[] = {0, 30 + 5 + 3};
    for (std::size_t at : locals)
        SetLe(z.bytes, at, 0x05045C61, 4);
    SetLe(z.bytes, z.end, 0x06054141, 4);
    for (bool cut : {false, true}) {
        SCOPED_TRACE(cut);
        // Cut: the directory gone, its local headers are found by their own signature.
        Put(dir.path() / "b.za", cut ? z.bytes.substr(0, z.directory) : z.bytes);
        TZipBaseArchiver r;
        r.FileName = dir.wide() + u"b.za";
        r.OpenArchive(fmOpenRead);
        EXPECT_EQ(Names(*r.DirManager()), (std::vector<std::string>{"a.kml", "b.txt"}));
        EXPECT_EQ(r.DirManager()->StreamSizeAtRebuild >= 0, cut);
    }
    // The PK family does not take them.
    TZipArchiver pk;
    pk.FileName = dir.wide() + u"b.za";
    pk.OpenArchive(fmOpenRead);
    EXPECT_EQ(pk.DirManager()->Items.GetCount(), 0);
}

TEST(ReaderEdges, StubLargerThanTheFirstVolume)
{
    ziptest::TempDir dir;
    dir.write("stub.exe", std::string(2000, 'S'));
    TZipArchiver a;
    a.SFXStub = dir.wide() + u"stub.exe";
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions.FirstVolumeSize = 1000;
    a.FileName = dir.wide() + u"t.exe";
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmCreate); }), 47);
}

TEST(ReaderEdges, EmptyFileOpenedReadOnlyStaysEmpty)
{
    ziptest::TempDir dir;
    Put(dir.path() / "e.zip", "");
    for (std::uint16_t mode : {std::uint16_t{fmOpenRead}, std::uint16_t{fmOpenReadWrite | fmShareDenyWrite}}) {
        TZipArchiver a;
        a.FileName = dir.wide() + u"e.zip";
        a.OpenArchive(mode);
        EXPECT_EQ(a.FileCount(), 0);
        EXPECT_NO_THROW(a.CloseArchive());
    }
    // Read-write: closed as an empty archive, an end record alone.
    EXPECT_EQ(Bytes(dir.path() / "e.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(ReaderEdges, UnicodeNameExtra)
{
    auto extra = [](std::int32_t count, const std::u16string& name, std::uint32_t sig = 0x5843554E) {
        std::string s;
        Le(s, sig, 4);
        Le(s, static_cast<std::uint32_t>(count), 4);
        for (char16_t c : name)
            Le(s, c, 2);
        return s;
    };
    TUnicodeExtendedInfo info;
    std::string e = extra(3, u"Äbc");
    EXPECT_TRUE(info.LoadFromBuffer(e.data(), e.size()));
    EXPECT_EQ(info.Name, u"Äbc");
    e = extra(1000, u"Äbc");  // characters beyond the data are not taken
    EXPECT_TRUE(info.LoadFromBuffer(e.data(), e.size() - 1));
    EXPECT_EQ(info.Name, u"Äb");
    e = extra(-5, u"Äbc");
    EXPECT_FALSE(info.LoadFromBuffer(e.data(), e.size()));
    e = extra(3, u"Äbc", 0x58434E55);
    EXPECT_FALSE(info.LoadFromBuffer(e.data(), e.size()));
    EXPECT_FALSE(info.LoadFromBuffer(e.data(), 6));

    // In an archive: a good one renames the item, a bad or empty one leaves the stored name.
    ziptest::TempDir dir;
    auto field = [](const std::string& data) {
        std::string s;
        Le(s, 0x554E, 2);
        Le(s, data.size(), 2);
        return s + data;
    };
    const RawZip z = BuildZip({{"a.txt", "1", 0, "", field(extra(4, u"Ünï.txt"))},
                               {"b.txt", "2", 0, "", field(extra(0, u""))},
                               {"c.txt", "3", 0, "", field(extra(2, u"xy", 0x12345678))}});
    Put(dir.path() / "t.zip", z.bytes);
    TZipArchiver a;
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmOpenRead);
    EXPECT_EQ(Names(*a.DirManager()), (std::vector<std::string>{"Ünï.", "b.txt", "c.txt"}));
}

TEST(ReaderEdges, RandomDamageNeverCrashesOrHangs)
{
    ziptest::TempDir dir;
    std::string base;
    {
        dir.write("src/a.kml", std::string(3000, 'k'));
        dir.write("src/b.bin", Random(4000, 1));
        dir.write("src/c/d.txt", "d");
        TZipArchiver w;
        w.Zip64Mode = zmAlways;
        w.FileName = dir.wide() + u"base.zip";
        w.OpenArchive(fmCreate);
        w.BaseDir = dir.wide() + u"src";
        w.AddFiles(u"*", 0x28BF, u"");
        w.CloseArchive();
        base = Bytes(dir.path() / "base.zip");
    }
    std::mt19937 rng(2024);
    const fs::path t = dir.path() / "t.zip";
    int opened = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::string b = base;
        switch (round % 4) {
        case 0:  // byte flips, mostly in the directory and end records
        case 1: {
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i) {
                const std::size_t at = round % 4 == 0 ? rng() % b.size() : b.size() - 1 - rng() % std::min<std::size_t>(b.size(), 300);
                b[at] = static_cast<char>(rng());
            }
            break;
        }
        case 2:  // truncated anywhere
            b.resize(rng() % b.size());
            break;
        case 3:  // garbage in front and a flip
            b = Random(rng() % 3000, static_cast<unsigned>(round)) + b;
            b[rng() % b.size()] = static_cast<char>(rng());
            break;
        }
        Put(t, b);
        if (round % 10 == 0) {
            // Adding to whatever was read must not crash either.
            try {
                TZipArchiver a;
                a.FileName = Wide(t);
                a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
                a.BaseDir = dir.wide() + u"src";
                a.AddFiles(u"a.kml", 0x28BF, u"");
            } catch (const EZipException&) {
            } catch (const EStreamError&) {
            }
        }
        for (bool repair : {true, false}) {
            try {
                TZipArchiver a;
                a.OpenDamaged = repair;
                a.FileName = Wide(t);
                a.OpenArchive(fmOpenRead);
                // Whatever was read stays within the file.
                TZipDirManager& dm = *a.DirManager();
                EXPECT_GE(dm.ArchiveStart, 0);
                EXPECT_LE(dm.ArchiveStart, static_cast<std::int64_t>(b.size()));
                a.FileCount();
                ++opened;
            } catch (const EZipException&) {
                ++refused;
            } catch (const EStreamError&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
}

// --- appending to an existing archive ----------------------------------------------------------------

TEST_F(ReaderTest, AppendingKeepsEarlierEntriesIntact)
{
    InSrc("LANG=C.UTF-8 zip -q -r ../tool.zip a.txt sub empty.txt");
    InSrc("zip -q -fz -r ../forced64.zip a.txt sub");
    InSrc("7z a -bd -tzip ../seven.zip a.txt sub > /dev/null");
    InSrc("zip -q -r ../plain.zip a.txt sub");
    Put(P("stub.zip"), "MZ" + Random(500, 8) + Bytes(P("plain.zip")));  // offsets not counting the stub
    const std::string trackFile = P("track.kml").string();
    dir.write("track.kml", "<kml>appended</kml>\n");
    for (const char* name : {"tool.zip", "forced64.zip", "seven.zip", "stub.zip"}) {
        SCOPED_TRACE(name);
        {
            TZipArchiver a;
            a.FileName = Wide(P(name));
            a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
            a.BaseDir = dir.wide();
            a.AddFiles(u"track.kml", 0x28BF, u"");
            EXPECT_EQ(a.FileCount(), std::string(name) == "tool.zip" ? 4 : 3);
            a.CloseArchive();
        }
        std::string out;
        EXPECT_TRUE(ziptest::UnzipTest(P(name), &out) || out.find("No errors detected") != std::string::npos) << out;
        EXPECT_FALSE(ziptest::PythonCheck(P(name), {"track.kml=" + trackFile, "a.txt=" + P("src/a.txt").string(),
                                                    "sub/b.kml=" + P("src/sub/b.kml").string()}).empty());
        // Read back once more: the appended entry is there with the old ones.
        EXPECT_NE(OurListing(P(name)).find("track.kml|20|"), std::string::npos);
    }
    // A file that is no archive at all keeps its bytes in front of what is added.
    const std::string text = "not an archive\n" + Random(5000, 4);
    Put(P("text.zip"), text);
    {
        TZipArchiver a;
        a.FileName = Wide(P("text.zip"));
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_EQ(a.FileCount(), 0);
        a.BaseDir = dir.wide();
        a.AddFiles(u"track.kml", 0x28BF, u"");
    }
    EXPECT_EQ(Bytes(P("text.zip")).substr(0, text.size()), text);
    EXPECT_FALSE(ziptest::PythonCheck(P("text.zip"), {"track.kml=" + trackFile}).empty());
}

TEST_F(ReaderTest, ReplacingTheFirstEntryOfAToolArchive)
{
    InSrc("LANG=C.UTF-8 zip -q -r ../tool.zip a.txt sub noise.bin");
    dir.write("new/a.txt", "replaced");
    {
        TZipArchiver a;
        a.FileName = Wide(P("tool.zip"));
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        a.BaseDir = dir.wide() + u"new";
        a.AddFiles(u"a.txt", 0x28BF, u"");
        EXPECT_EQ(a.FileCount(), 3);
    }
    std::string out;
    EXPECT_TRUE(ziptest::UnzipTest(P("tool.zip"), &out)) << out;
    EXPECT_FALSE(ziptest::PythonCheck(P("tool.zip"), {"a.txt=" + P("new/a.txt").string(),
                                                      "noise.bin=" + P("src/noise.bin").string(),
                                                      "sub/b.kml=" + P("src/sub/b.kml").string()}).empty());
}

TEST_F(ReaderTest, AppendingToARecoveredArchive)
{
    InSrc("zip -q -r ../z.zip a.txt sub/b.kml");
    const std::string z = Bytes(P("z.zip"));
    Put(P("cut.zip"), z.substr(0, z.find("PK\x01\x02") + 20));
    dir.write("track.kml", "<kml/>");
    {
        TZipArchiver a;
        a.FileName = Wide(P("cut.zip"));
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        a.BaseDir = dir.wide();
        a.AddFiles(u"track.kml", 0x28BF, u"");
    }
    EXPECT_FALSE(ziptest::PythonCheck(P("cut.zip"), {"a.txt=" + P("src/a.txt").string(),
                                                     "sub/b.kml=" + P("src/sub/b.kml").string(),
                                                     "track.kml=" + P("track.kml").string()}).empty());
}

}  // namespace
