#include "text/wide_files.h"

#include <filesystem>
#include <set>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_util.h"
#include "text/wide_text.h"

using namespace zip;

TEST(WidePaths, PartsDrivesAndRelativePaths) {
    EXPECT_EQ(WideExtractFileExt(u"/data/v1.2/readme"), u"");
    EXPECT_EQ(WideExtractFileExt(u"/data/x.tar.gz"), u".gz");
    // No drive letters: a colon is part of a name wherever it stands.
    EXPECT_EQ(WideExtractFilePath(u"C:route.kml"), u"");
    EXPECT_EQ(WideExtractFileName(u"C:route.kml"), u"C:route.kml");
    EXPECT_EQ(WideExtractFilePath(u"a:b.kml"), u"");
    EXPECT_EQ(WideExtractFileDrive(u"a:/b.kml"), u"");
    // A colon inside a Linux name is no drive.
    EXPECT_EQ(WideExtractFileDrive(u"/data/a:b.kml"), u"");
    EXPECT_EQ(WideExtractFileName(u"12:30.log"), u"12:30.log");
    EXPECT_EQ(WideExtractFileDrive(u"//server/share/folder/f.txt"), u"//server/share");
    EXPECT_EQ(WideExtractFileDirNoDrive(u"//server/share/folder/f.txt"), u"/folder/");
    EXPECT_EQ(WideExtractFileDirNoDrive(u"C:/a/b.txt"), u"C:/a/");
    EXPECT_EQ(WideExtractRelativePath(u"C:/a/b/", u"C:/a/c/f.txt"), u"../c/f.txt");
    EXPECT_EQ(WideExtractRelativePath(u"C:/a/b/", u"D:/x/f.txt"), u"../../../D:/x/f.txt");
    EXPECT_EQ(WideExtractRelativePath(u"//s/a/b/", u"//t/a/x/f.txt"), u"//t/a/x/f.txt");
    EXPECT_EQ(WideExtractRelativePath(u"c:/A/b/", u"C:/a/B/f.txt"), u"f.txt");
    EXPECT_EQ(WideExpandFileName(u"/a/./b/../c.txt"), u"/a/c.txt");
    EXPECT_EQ(WideExpandFileName(u"/.."), u"/");
    EXPECT_EQ(WideExpandFileName(u"x.txt"), ZipIncludeTrailingBackslash(WideGetCurrentDir()) + u"x.txt");
    EXPECT_EQ(ZipExtractFileExt("/d/x.KMZ"), u".KMZ");
}

// A drive is removable by what the system says of the disk, never by the name; a query set in the
// system's place answers instead, also for names that do not exist yet.
TEST(WideFiles, RemovableDrives) {
    ziptest::TempDir dir;
    const bool here = SystemRemovableDrive(".");
    EXPECT_EQ(IsRemovableDrive("a:x.zip"), here);
    EXPECT_EQ(IsRemovableDrive("B:/x.zip"), here);
    EXPECT_EQ(SystemRemovableDrive(dir.str() + "missing/deeper/x.zip"), SystemRemovableDrive(dir.str()));
    EXPECT_FALSE(SystemRemovableDrive("/proc/self/status"));  // no block device behind it
    std::vector<std::string> asked;
    auto old = SetRemovableDriveQuery([&](const std::string& path) {
        asked.push_back(path);
        return path.find("/disk") != std::string::npos;
    });
    EXPECT_TRUE(IsRemovableDrive("/m/disk1/t.zip"));
    EXPECT_FALSE(IsRemovableDrive("/m/t.zip"));
    EXPECT_EQ(asked, (std::vector<std::string>{"/m/disk1/t.zip", "/m/t.zip"}));
    EXPECT_FALSE(SetRemovableDriveQuery(std::move(old)) == nullptr);
    EXPECT_EQ(IsRemovableDrive("a:x.zip"), here);
}

TEST(WideStrings, Replace) {
    EXPECT_EQ(WideStringReplace(u"a-b-c", u"-", u"+", false, 0), u"a+b-c");
    EXPECT_EQ(WideStringReplace(u"a-b-c", u"-", u"+", false, rfReplaceAll), u"a+b+c");
    // Ignoring case finds the pattern, but the copied text keeps its own letters.
    EXPECT_EQ(WideStringReplace(u"Cat cAT dog", u"cat", u"x", false, rfReplaceAll | rfIgnoreCase), u"x x dog");
    EXPECT_EQ(WideStringReplace(u"ÄBC äbc", u"äbc", u"-", false, rfReplaceAll | rfIgnoreCase), u"- -");
    // Whole words: "cat" inside "concat" stays, the search goes on behind it.
    EXPECT_EQ(WideStringReplace(u"concat cat, cats", u"cat", u"dog", true, rfReplaceAll), u"concat dog, cats");
    // The character before an occurrence at the start of the rest is the last one of the result.
    EXPECT_EQ(WideStringReplace(u"aa", u"a", u"b", true, rfReplaceAll), u"aa");
    EXPECT_EQ(WideStringReplace(u"abc", u"", u"x", false, rfReplaceAll), u"abc");
}

TEST(WideStrings, CopyResultToBuffer) {
    const std::u16string s = u"/abc/def";
    std::u16string buf(20, u'#');
    EXPECT_EQ(CopyWideResultToBuffer(std::span(buf.data(), 20), s, 0), s.size());
    EXPECT_EQ(buf.substr(0, 9), s + u'\0');
    // Exactly Length(S) characters with flag 2: the size needed, and an empty buffer.
    std::u16string exact(s.size(), u'#');
    EXPECT_EQ(CopyWideResultToBuffer(std::span(exact.data(), exact.size()), s, cwEmptyOnOverflow), s.size() + 1);
    EXPECT_EQ(exact[0], u'\0');
    std::u16string trunc(3, u'#');
    EXPECT_EQ(CopyWideResultToBuffer(std::span(trunc.data(), 3), s, cwTruncate), 3u);
    EXPECT_EQ(trunc, u"/ab");
    std::u16string keep(s.size(), u'#');
    EXPECT_EQ(CopyWideResultToBuffer(std::span(keep.data(), keep.size()), s, cwKeepLast), s.size() + 1);
    EXPECT_EQ(keep, u"/abc/de" + std::u16string(1, u'\0'));
    std::u16string parts(7, u'#');
    EXPECT_EQ(CopyWideResultToBuffer(std::span(parts.data(), 7), s, cwPathParts), s.size() + 1);
    EXPECT_EQ(parts.substr(0, 5), std::u16string(u"/abc") + u'\0');
    EXPECT_EQ(CopyWideResultToBuffer(std::span<char16_t>(), s, cwEmptyOnOverflow), s.size() + 1);
}

TEST(WideFiles, StreamCreateOpenAndErrors) {
    ziptest::TempDir dir;
    const std::u16string name = dir.wide() + u"Ünï€.bin";
    {
        TUniFileStream f(name, fmCreate);
        f.WriteBuffer("hello", 5);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "Ünï€.bin"));
    {
        TUniFileStream f(name, fmOpenRead | fmShareDenyWrite);
        char buf[8] = {};
        EXPECT_EQ(f.Read(buf, 8), 5);
        EXPECT_EQ(std::string(buf), "hello");
        EXPECT_EQ(f.Write("x", 1), 0);  // opened for reading only
    }
    EXPECT_THROW(TUniFileStream(dir.wide() + u"missing.bin", fmOpenRead), EFOpenError);
    EXPECT_THROW(TUniFileStream(dir.wide() + u"no/such/dir.bin", fmCreate), EFCreateError);
    // Share values above deny-none are refused.
    EXPECT_EQ(WideFileOpen(name, 0x50), -1);
}

TEST(WideFiles, FindFirstSkipsExcludedEntries) {
    ziptest::TempDir dir;
    dir.write("a.kml", "1");
    dir.write(".hidden.kml", "22");
    dir.write("sub/x.txt", "3");
    auto collect = [&](const std::u16string& mask, std::uint32_t attr) {
        std::set<std::u16string> names;
        TWideSearchRec rec;
        for (int r = WideFindFirst(dir.wide() + mask, attr, rec); r == 0; r = WideFindNext(rec)) names.insert(rec.Name);
        WideFindClose(rec);
        return names;
    };
    EXPECT_EQ(collect(u"*", 0), (std::set<std::u16string>{u"a.kml"}));
    EXPECT_EQ(collect(u"*", faDirectory), (std::set<std::u16string>{u"a.kml", u"sub", u".", u".."}));
    EXPECT_EQ(collect(u"*.KML", faHidden), (std::set<std::u16string>{u"a.kml", u".hidden.kml"}));
    TWideSearchRec rec;
    EXPECT_EQ(WideFindFirst(dir.wide() + u"*.none", 0, rec), ENOENT);
    EXPECT_EQ(rec.FindHandle, nullptr);
    ASSERT_EQ(WideFindFirst(dir.wide() + u"a.kml", 0, rec), 0);
    EXPECT_EQ(rec.Size, 1);
    EXPECT_EQ(rec.Attr, faArchive);
    EXPECT_EQ(rec.Time, WideFileAge(dir.wide() + u"a.kml"));
    WideFindClose(rec);
    EXPECT_EQ(WideFindNext(rec), EBADF);
}

TEST(WideFiles, AttributesAgeRenameDelete) {
    ziptest::TempDir dir;
    dir.write("f.txt", "x");
    const std::u16string f = dir.wide() + u"f.txt";
    EXPECT_FALSE(WideFileExists(dir.wide()));
    EXPECT_EQ(WideFileAge(dir.wide() + u"sub"), -1);
    EXPECT_EQ(WideFileAge(dir.wide()), -1);  // a folder has no age

    // 2026-07-04 13:45:58 local time -> DOS date and time.
    struct tm tm {};
    tm.tm_year = 126;
    tm.tm_mon = 6;
    tm.tm_mday = 4;
    tm.tm_hour = 13;
    tm.tm_min = 45;
    tm.tm_sec = 58;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    const std::filesystem::file_time_type ft =
        std::filesystem::file_time_type::clock::now() +
        (std::chrono::system_clock::from_time_t(t) - std::chrono::system_clock::now());
    std::filesystem::last_write_time(dir.path() / "f.txt", ft);
    EXPECT_EQ(static_cast<std::uint32_t>(WideFileAge(f)),
              (46u << 25 | 7u << 21 | 4u << 16 | 13u << 11 | 45u << 5 | 29u));
    // Before 1980 a DOS stamp cannot hold the date.
    std::filesystem::last_write_time(dir.path() / "f.txt", ft - std::chrono::hours(24 * 365 * 50));
    EXPECT_EQ(WideFileAge(f), -1);

    EXPECT_EQ(WideFileGetAttr(f), static_cast<std::int32_t>(faArchive));
    EXPECT_EQ(WideFileGetAttr(dir.wide()), static_cast<std::int32_t>(faDirectory));
    EXPECT_TRUE(WideFileSetAttr(f, faReadOnly | faArchive));
    EXPECT_EQ(WideFileGetAttr(f), static_cast<std::int32_t>(faReadOnly | faArchive));
    EXPECT_TRUE(WideFileSetAttr(f, faArchive));
    EXPECT_EQ(WideFileGetAttr(dir.wide() + u"none"), -1);

    dir.write("g.txt", "y");
    EXPECT_FALSE(WideRenameFile(f, dir.wide() + u"g.txt"));  // the target exists
    EXPECT_TRUE(WideRenameFile(f, dir.wide() + u"h.txt"));
    EXPECT_FALSE(WideFileExists(f));
    EXPECT_TRUE(WideFileDelete(dir.wide() + u"h.txt"));
    EXPECT_FALSE(WideFileDelete(dir.wide() + u"h.txt"));
}

TEST(WideFiles, RemoveDirectoryTree) {
    ziptest::TempDir dir;
    std::filesystem::create_directories(dir.path() / "t/a1/deep");
    std::filesystem::create_directories(dir.path() / "t/b2");
    dir.write("t/b2/keep.txt", "x");
    EXPECT_FALSE(RemoveDirectoryTree(dir.str() + "t/"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "t/b2/keep.txt"));
    std::filesystem::remove(dir.path() / "t/b2/keep.txt");
    EXPECT_TRUE(RemoveDirectoryTree(dir.str() + "t/"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "t"));
    EXPECT_TRUE(RemoveDirectoryTree(dir.str() + "t/"));  // already gone
    // Links go, inside the tree or as the tree; what they point to stays.
    std::filesystem::create_directories(dir.path() / "out/sub");
    std::filesystem::create_directories(dir.path() / "t");
    std::filesystem::create_directory_symlink(dir.path() / "out", dir.path() / "t/link");
    std::filesystem::create_directory_symlink(dir.path() / "out", dir.path() / "l");
    EXPECT_TRUE(RemoveDirectoryTree(dir.str() + "t/"));
    EXPECT_TRUE(RemoveDirectoryTree(dir.str() + "l/"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.path() / "l")));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "t"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/sub"));
}

TEST(WideText, Utf8RoundTripAndCase) {
    const std::u16string w = u"A\u00e9\u65e5\U0001F600";
    EXPECT_EQ(UTF8EncodeWide(w), "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
    EXPECT_EQ(UTF8DecodeWide(UTF8EncodeWide(w)), w);
    EXPECT_EQ(UTF8DecodeWide("a\xFF"
                             "b\xE6\x97"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(UTF8EncodeWide(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(ZipWideLowerCase(u"DOC.KML ÄÖ Σ"), u"doc.kml äö σ");
    EXPECT_EQ(ZipWideUpperCase(u"straße"), u"STRAßE");  // one-to-one mapping keeps the length
}
