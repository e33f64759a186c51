// Archives of every shape the writer makes, judged by outside readers: stored and deflated, one
// file and split into volumes, small and Zip64, in the clear and encrypted with each cipher.
#include <gtest/gtest.h>
#include <filesystem>

#include "archive/archiver.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Random;

namespace {

struct Shape {
    bool deflate;
    bool split;
    bool zip64;
    TZipCryptoAlgorithm cipher = caNoEncryption;
};

const char* kPassword = "Trail pass 7";

class ArchiveMatrix : public ::testing::TestWithParam<Shape> {};

TEST_P(ArchiveMatrix, OutsideReadersAcceptTheArchiveAndItsBytes) {
    const Shape shape = GetParam();
    const bool aes = shape.cipher >= caAES_128;
    const std::string password = shape.cipher == caNoEncryption ? "" : kPassword;
    ziptest::TempDir dir;
    // Encrypted and deflated at level 1, the text takes two read blocks of 512 KiB.
    dir.write("src/track.kml", ziptest::Kml(password.empty() ? 3000 : 12000));
    dir.write("src/noise.bin", Random(150000, 7));
    dir.write("src/empty.txt", "");
    dir.write("src/short.txt", "ab");
    dir.write("src/icons/a.png", Random(2000, 8));
    fs::create_directories(dir.path() / "src/icons/none");
    fs::create_directories(dir.path() / "out");

    TZipArchiver a;
    a.SetCompressionMode(!shape.deflate ? 0 : password.empty() ? 9 : 1);
    a.Zip64Mode = shape.zip64 ? zmAlways : zmAuto;
    if (shape.split) ziptest::Split(a, 65536);
    a.FileName = dir.wide() + u"out/set.zip";
    a.OpenArchive(fmCreate);
    a.BaseDir = dir.wide() + u"src";
    if (!password.empty()) {
        a.SetPassword(password);
        a.EncryptionMethod = shape.cipher;
    }
    a.BeginUpdate();
    a.AddFiles(u"*", 0x28BF | faDirectory, u"");
    a.EndUpdate();
    EXPECT_EQ(a.FileCount(), 5);
    a.CloseArchive();

    const std::vector<std::string> names = {"track.kml", "noise.bin", "empty.txt", "short.txt", "icons/a.png"};
    const std::vector<std::string> pairs = ziptest::SourcePairs(dir.str() + "src/", names);
    fs::path single = dir.path() / "out/set.zip";
    std::string out;
    if (shape.split) {
        std::vector<fs::path> volumes = ziptest::SetVolumes(single);
        EXPECT_GE(volumes.size(), 3u);
        for (std::size_t i = 0; i + 1 < volumes.size(); ++i) EXPECT_EQ(fs::file_size(volumes[i]), 65536u) << volumes[i];
        // 7z reads the set itself.
        EXPECT_TRUE(ziptest::SevenZip("t", single, nullptr, password));
        single = dir.path() / "joined.zip";
        ASSERT_TRUE(ziptest::JoinVolumes(volumes, single));
    }
    EXPECT_TRUE(ziptest::SevenZip("t", single, nullptr, password));
    if (shape.zip64) {
        EXPECT_EQ(ziptest::Run("zipinfo -v " + ziptest::Quote(single.string()), &out), 0);
        EXPECT_NE(out.find("minimum software version required to extract:   4.5"), std::string::npos) << out;
    }
    if (!aes) {  // Python and unzip know the traditional cipher only
        const std::string listing = ziptest::PythonCheck(single, pairs, password);
        ASSERT_FALSE(listing.empty());
        const std::string flag = password.empty() ? "0" : "1";
        EXPECT_NE(listing.find("icons/none/|"), std::string::npos) << listing;  // the directory item
        EXPECT_NE(listing.find("noise.bin|" + flag + "|" + (shape.deflate ? "8" : "0")), std::string::npos) << listing;
        EXPECT_NE(listing.find("empty.txt|" + flag + "|0|"), std::string::npos) << listing;  // empty: stored
        EXPECT_TRUE(ziptest::UnzipTest(single, nullptr, password));
    }
    if (password.empty()) return;
    EXPECT_FALSE(ziptest::SevenZip("t", single, nullptr, "Trail pass 8"));
    EXPECT_TRUE(ziptest::SevenZip("x -o" + ziptest::Quote(dir.str() + "x"), single, nullptr, password));
    for (const std::string& name : names)
        EXPECT_EQ(ziptest::Bytes(dir.path() / "x" / name), ziptest::Bytes(dir.path() / "src" / name)) << name;
    const std::string listing = ziptest::CipherListing(single);
    const std::string strength = shape.cipher == caAES_128 ? "01" : shape.cipher == caAES_192 ? "02" : "03";
    if (aes) {
        // Method 99, no CRC, and the extra naming the real method (stored for the empty file).
        EXPECT_NE(listing.find("track.kml|1|99|0|02004145" + strength + (shape.deflate ? "0800" : "0000")),
                  std::string::npos)
            << listing;
        EXPECT_NE(listing.find("empty.txt|1|99|0|02004145" + strength + "0000"), std::string::npos) << listing;
    } else {
        EXPECT_FALSE(ziptest::UnzipTest(single, nullptr, "wrong"));
        EXPECT_TRUE(ziptest::PythonCheck(single, pairs, "wrong").empty());
        EXPECT_TRUE(ziptest::CheckBytesFromCrc(single, password));
        EXPECT_NE(listing.find("empty.txt|1|0|0|\n"), std::string::npos) << listing;
    }
    EXPECT_NE(listing.find("icons/none/|0|0|0|\n"), std::string::npos) << listing;  // a folder carries no cipher
    // Read back: the cipher from the flag or the AES extra's strength, the real method.
    TZipArchiver r;
    r.FileName = UTF8DecodeWide(single.string());
    r.OpenArchive(fmOpenRead);
    int at = -1;
    ASSERT_TRUE(r.DirManager()->Items.FindItem(u"track.kml", at));
    EXPECT_EQ(r.DirManager()->Items.GetItem(at).StoredEncryption, shape.cipher);
    EXPECT_EQ(r.DirManager()->Items.GetItem(at).TargetMethod, shape.deflate ? 8 : 0);
}

std::string ShapeName(const ::testing::TestParamInfo<Shape>& i) {
    static const char* ciphers[] = {"", "Pkware", "Aes128", "Aes192", "Aes256"};
    return std::string(i.param.deflate ? "Deflated" : "Stored") + (i.param.split ? "Split" : "Plain") +
           (i.param.zip64 ? "Zip64" : "Small") + ciphers[i.param.cipher];
}

INSTANTIATE_TEST_SUITE_P(Shapes, ArchiveMatrix,
                         ::testing::Values(Shape{false, false, false}, Shape{true, false, false},
                                           Shape{false, true, false}, Shape{true, true, false},
                                           Shape{false, false, true}, Shape{true, false, true},
                                           Shape{false, true, true}, Shape{true, true, true},
                                           Shape{false, false, false, caPkzipClassic},
                                           Shape{true, false, false, caPkzipClassic},
                                           Shape{false, false, false, caAES_128}, Shape{true, false, false, caAES_128},
                                           Shape{true, false, false, caAES_192}, Shape{false, false, false, caAES_256},
                                           Shape{true, false, false, caAES_256}, Shape{true, true, true, caAES_192}),
                         ShapeName);

}  // namespace

TEST(ArchiveShapes, SpannedSetWithNumberedVolumes) {
    ziptest::TempDir dir;
    dir.write("src/noise.bin", Random(200000, 5));
    dir.write("src/track.kml", ziptest::Kml(500));
    std::vector<int> asked;
    ziptest::MakeZip(dir.path() / "t.zip", dir.path() / "src", [&](TZipArchiver& a) {
        ziptest::Split(a, 65536);
        a.SetSpanningMode(smSpanning);
        a.SpanningOptions.AdvancedNaming = true;
        a.OnRequestBlankVolume = [&](TComponent*, int number, std::u16string&, bool& cancel) {
            asked.push_back(number);
            cancel = false;
        };
    });
    // Blank disks 1 to 4 were asked for; the last one took the archive's own name.
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 3, 4}));
    std::vector<fs::path> volumes;
    for (const char* v : {"t_001.zip", "t_002.zip", "t_003.zip", "t.zip"}) {
        ASSERT_TRUE(fs::exists(dir.path() / v)) << v;
        volumes.push_back(dir.path() / v);
    }
    EXPECT_FALSE(fs::exists(dir.path() / "t_004.zip"));
    ASSERT_TRUE(ziptest::JoinVolumes(volumes, dir.path() / "joined.zip"));
    EXPECT_FALSE(ziptest::PythonCheck(dir.path() / "joined.zip",
                                      ziptest::SourcePairs(dir.str() + "src/", {"noise.bin", "track.kml"}))
                     .empty());
    EXPECT_TRUE(ziptest::UnzipTest(dir.path() / "joined.zip"));
}

// An archive behind a stub: created empty it is the stub and the end record, whose offsets count
// from the file's start; opened again it takes a file.
TEST(ArchiveShapes, SelfExtractorStubInFront) {
    ziptest::TempDir dir;
    const std::string stub = "MZ" + Random(998, 6);
    dir.write("stub.exe", stub);
    dir.write("src/track.kml", ziptest::Kml(100));
    const fs::path exe = dir.path() / "t.exe";
    TZipArchiver b;
    b.SFXStub = dir.wide() + u"stub.exe";
    b.FileName = dir.wide() + u"t.exe";
    b.OpenArchive(fmCreate);
    EXPECT_EQ(b.DirManager()->ArchiveStart, 1000);
    b.CloseArchive();
    const std::string e = ziptest::Bytes(exe);
    ASSERT_EQ(e.size(), 1022u);
    EXPECT_EQ(e.substr(0, 1000), stub);
    EXPECT_EQ(e.substr(1000, 16), ziptest::EmptyZip().substr(0, 16));
    EXPECT_EQ(ziptest::LE(e, 1016, 4), 1000u);  // the directory's offset: after the stub
    EXPECT_EQ(ziptest::PythonCheck(exe), "\n");
    b.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_EQ(b.FileCount(), 0);
    b.BaseDir = dir.wide() + u"src";
    b.AddFiles(u"track.kml", 0x28BF, u"");
    b.CloseArchive();
    EXPECT_EQ(ziptest::Bytes(exe).substr(0, 1004), stub + "PK\x03\x04");
    EXPECT_FALSE(ziptest::PythonCheck(exe, {"track.kml=" + dir.str() + "src/track.kml"}).empty());
    EXPECT_TRUE(ziptest::UnzipTest(exe));
    EXPECT_TRUE(ziptest::SevenZipTest(exe));
}

// Opening a split set and adding to it in a transaction: the set grows from its last volume and
// stays whole for outside readers, old entries and new.
TEST(ArchiveShapes, AddingToASplitSet) {
    ziptest::TempDir dir;
    dir.write("src/noise.bin", Random(150000, 7));
    dir.write("src/track.kml", ziptest::Kml(300));
    dir.write("src/more.bin", Random(100000, 8));
    fs::create_directories(dir.path() / "out");
    const fs::path last = dir.path() / "out/set.zip";
    ziptest::MakeZip(
        last, dir.path() / "src",
        [](TZipArchiver& w) {
            w.SetCompressionMode(0);
            ziptest::Split(w, 65536);
        },
        u"noise.bin");
    const std::vector<fs::path> old = ziptest::SetVolumes(last);
    ASSERT_EQ(old.size(), 3u);
    auto contents = [](const std::vector<fs::path>& files) {
        std::vector<std::string> v;
        for (const auto& f : files) v.push_back(ziptest::Bytes(f));
        return v;
    };
    const std::vector<std::string> before = contents(old);
    TZipArchiver a;
    ziptest::Split(a, 65536);
    a.FileName = dir.wide() + u"out/set.zip";
    a.BaseDir = dir.wide() + u"src";
    a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    ASSERT_EQ(a.SpanningMode(), smSplitting);

    // A commit cancelled once the set has grown by a volume leaves it as it was.
    ziptest::OnItemStart(a, [](const std::u16string& name, TZipProcessOperation, bool& cancel) {
        cancel = name.find(u"track") != std::u16string::npos;
    });
    a.BeginUpdate();
    a.AddFiles(u"more.bin", 0x28BF, u"");
    a.AddFiles(u"track.kml", 0x28BF, u"");
    a.EndUpdate();
    a.OnFileProgress = nullptr;
    a.CloseArchive();
    EXPECT_EQ(ziptest::SetVolumes(last), old);
    EXPECT_EQ(contents(old), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "out"), fs::directory_iterator()), 3);

    a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    a.BeginUpdate();
    a.AddFiles(u"track.kml", 0x28BF, u"");
    a.AddFiles(u"more.bin", 0x28BF, u"");
    a.EndUpdate();
    EXPECT_EQ(a.FileCount(), 3);
    a.CloseArchive();

    const std::vector<fs::path> volumes = ziptest::SetVolumes(last);
    EXPECT_EQ(volumes.size(), 4u);
    EXPECT_TRUE(ziptest::SevenZipTest(last));
    ASSERT_TRUE(ziptest::JoinVolumes(volumes, dir.path() / "joined.zip"));
    EXPECT_FALSE(ziptest::PythonCheck(dir.path() / "joined.zip",
                                      ziptest::SourcePairs(dir.str() + "src/", {"noise.bin", "track.kml", "more.bin"}))
                     .empty());
    EXPECT_TRUE(ziptest::UnzipTest(dir.path() / "joined.zip"));

    // It opens again with all three entries; a change in its middle rewrites it from there on.
    a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_EQ(a.FileCount(), 3);
    dir.write("src/noise.bin", Random(120000, 9));
    a.BeginUpdate();
    a.AddFiles(u"noise.bin", 0x28BF, u"");
    a.EndUpdate();
    a.CloseArchive();
    EXPECT_TRUE(ziptest::SevenZipTest(last));
    ASSERT_TRUE(ziptest::JoinVolumes(ziptest::SetVolumes(last), dir.path() / "joined.zip"));
    EXPECT_FALSE(ziptest::PythonCheck(dir.path() / "joined.zip",
                                      ziptest::SourcePairs(dir.str() + "src/", {"noise.bin", "track.kml", "more.bin"}))
                     .empty());
}

// A set whose directory begins on the volume before the last: the append starts there.
TEST(ArchiveShapes, AddingToASplitSetWhoseDirectorySpansTwoVolumes) {
    ziptest::TempDir dir;
    for (int i = 0; i < 30; ++i) dir.write("src/f" + std::to_string(i) + ".txt", std::to_string(i));
    dir.write("src/big.bin", Random(62200, 1));
    dir.write("add/new.bin", Random(70000, 2));
    TZipArchiver a;
    a.SetCompressionMode(0);
    ziptest::Split(a, 65536);
    a.FileName = dir.wide() + u"set.zip";
    a.OpenArchive(fmCreate);
    a.BaseDir = dir.wide() + u"src";
    a.BeginUpdate();
    a.AddFiles(u"*.txt", 0x28BF, u"");
    a.AddFiles(u"big.bin", 0x28BF, u"");
    a.EndUpdate();
    a.CloseArchive();
    const std::string z = ziptest::Bytes(dir.path() / "set.zip");
    const std::size_t end = z.size() - 22;
    ASSERT_EQ(ziptest::LE(z, end + 4, 2), 1u);  // the end record's disk
    ASSERT_EQ(ziptest::LE(z, end + 6, 2), 0u);  // the directory's first disk
    a.BaseDir = dir.wide() + u"add";
    a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    a.BeginUpdate();
    a.AddFiles(u"new.bin", 0x28BF, u"");
    a.EndUpdate();
    a.CloseArchive();
    EXPECT_EQ(ziptest::SetVolumes(dir.path() / "set.zip").size(), 3u);
    std::string out;
    EXPECT_TRUE(ziptest::SevenZipTest(dir.path() / "set.zip", &out));
    EXPECT_NE(out.find("Files: 32"), std::string::npos) << out;
}

TEST(ArchiveShapes, EndRecordSearch) {
    ziptest::TempDir dir;
    dir.write("src/a.kml", ziptest::Kml(10));
    TZipArchiver a;
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmCreate);
    a.BaseDir = dir.wide() + u"src";
    a.AddFiles(u"a.kml", 0x28BF, u"");
    TZipDirManager& dm = *a.DirManager();
    std::int64_t at = -1;
    // Found where every open finds it; after stray bytes it still counts while the directory
    // before it checks out, and no longer once it does not.
    ASSERT_TRUE(dm.FindSignatureBackward(0x06054B50, at));
    const std::int64_t end = at;
    a.ArchiveStream()->Seek(0, TSeekOrigin::soEnd);
    a.ArchiveStream()->WriteBuffer("junk", 4);
    EXPECT_TRUE(dm.FindSignatureBackward(0x06054B50, at));
    EXPECT_EQ(at, end);
    a.ArchiveStream()->Seek(dm.DirectoryOffset() + 1, TSeekOrigin::soBeginning);
    a.ArchiveStream()->WriteBuffer("X", 1);
    EXPECT_FALSE(dm.FindSignatureBackward(0x06054B50, at));
    EXPECT_EQ(at, -1);
}

TEST(ArchiveShapes, FolderMaskWithRecursion) {
    ziptest::TempDir dir;
    dir.write("src/top.kml", "0");
    dir.write("src/sub/b.kml", "1");
    dir.write("src/sub/deeper/c.kml", "2");
    dir.write("src/sub/deeper/d.txt", "3");
    ziptest::MakeZip(dir.path() / "t.zip", dir.path() / "src", {}, u"sub/*.kml");
    EXPECT_EQ(ziptest::PythonCheck(dir.path() / "t.zip"), "sub/b.kml|0|8|554e\nsub/deeper/c.kml|0|8|554e\n");
}
