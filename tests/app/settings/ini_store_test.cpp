#include "settings/ini_store.h"

#include "core/text_format.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <filesystem>
#include <fstream>

using namespace ts;

namespace {

struct IniTest : testing::Test {
    std::string path;
    void SetUp() override {
        path = ProcessTempDir() + "ini_" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
        std::filesystem::remove(path);
    }
    void Put(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string Get() const { return ReadBytes(path); }
};

}  // namespace

TEST_F(IniTest, ReadsCaseInsensitivelyFirstMatchTrimmedAndUnquoted) {
    Put("[Option]\r\nSpeedUnit = km/h \r\nspeedunit=mph\r\nName=\" a b \"\r\n; "
        "SpeedUnit=kt\r\n[option]\r\nOther=1\r\n");
    IniStore ini(path);
    EXPECT_EQ(ini.ReadString("OPTION", "speedUNIT", "x"), "km/h");
    EXPECT_EQ(ini.ReadString("Option", "Name", "x"), " a b ");
    EXPECT_EQ(ini.ReadString("Option", "Other", "def"), "def");  // the second [option] is never reached
    EXPECT_EQ(ini.ReadString("Missing", "Key", "def"), "def");
}

// Changes stay in memory until the flush, which writes once and leaves no scratch file behind.
TEST_F(IniTest, WritesInPlaceAppendsAndCreatesAtTheFlushOnly) {
    IniStore ini(path);
    EXPECT_FALSE(ini.Exists());
    ASSERT_TRUE(ini.WriteString("Option", "A", "1"));
    ASSERT_TRUE(ini.Flush());
    EXPECT_TRUE(ini.Exists());
    const std::string first = Get();
    ASSERT_TRUE(ini.WriteString("Option", "B", "2"));
    ASSERT_TRUE(ini.WriteString("Geoid", "Digit", "3"));
    ASSERT_TRUE(ini.WriteString("option", "a", "one, \"quoted\""));
    EXPECT_EQ(Get(), first);
    ASSERT_TRUE(ini.Flush());
    ASSERT_TRUE(ini.Flush());  // nothing pending: no second write
    EXPECT_EQ(ini.DiskWrites(), 2);
    EXPECT_EQ(Get(), "[Option]\r\nA=one, \"quoted\"\r\nB=2\r\n\r\n[Geoid]\r\nDigit=3\r\n");
    EXPECT_EQ(ini.ReadString("Option", "A", ""), "one, \"quoted\"");
    // A new key goes after the section's last key, before the blank separator line.
    ASSERT_TRUE(ini.WriteString("Option", "C", "3"));
    ASSERT_TRUE(ini.Flush());
    EXPECT_EQ(Get(), "[Option]\r\nA=one, \"quoted\"\r\nB=2\r\nC=3\r\n\r\n[Geoid]\r\nDigit=3\r\n");
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
        EXPECT_EQ(e.path().filename().string().find(".ini_WritesInPlace"), std::string::npos);
}

TEST_F(IniTest, DeleteEraseAndListInFileOrder) {
    Put("[CSV_Info]\nZeta=1\nAlpha=2\n[Keep]\nK=v\n");
    IniStore ini(path);
    auto s = ini.ReadSection("csv_info");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].first, "Zeta");
    EXPECT_EQ(s[1].first, "Alpha");
    ASSERT_TRUE(ini.DeleteKey("CSV_Info", "zeta"));
    EXPECT_EQ(ini.ReadSection("CSV_Info").size(), 1u);
    ASSERT_TRUE(ini.EraseSection("csv_info"));
    EXPECT_TRUE(ini.ReadSection("CSV_Info").empty());
    EXPECT_EQ(ini.ReadString("Keep", "K", ""), "v");
    EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"Keep"});
    ASSERT_TRUE(ini.Flush());
    EXPECT_EQ(Get(), "[Keep]\r\nK=v\r\n");
}

TEST_F(IniTest, LongValuesAreCutAndLegacyBytesAreRead) {
    Put("[S]\nLong=" + std::string(5000, 'x') + "\nName=Caf\xE9 \x80\n");
    IniStore ini(path);
    EXPECT_EQ(ini.ReadString("S", "Long", "").size(), 2047u);
    EXPECT_EQ(ini.ReadString("S", "Name", ""), "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(ToUtf8FromLegacy("\xC3\xA9"), "\xC3\xA9");  // valid UTF-8 stays
}

TEST_F(IniTest, UnwritableFolderReportsFailure) {
    IniStore ini("/nonexistent-folder/x.ini");
    EXPECT_TRUE(ini.WriteString("S", "K", "v"));
    EXPECT_FALSE(ini.Flush());
    EXPECT_EQ(ini.DiskWrites(), 0);
}

// No write bit: left as it is, even for a process that could write it (root).
TEST_F(IniTest, ReadOnlyFileIsLeftAsItIs) {
    namespace fs = std::filesystem;
    Put("[A]\r\nx=1\r\n[Old]\r\ny=2\r\n");
    const fs::perms readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(path, readable);
    IniStore ini(path);
    EXPECT_FALSE(ini.WriteString("A", "x", "2"));
    EXPECT_TRUE(ini.ReadOnly());
    EXPECT_FALSE(ini.DeleteKey("A", "x"));
    EXPECT_FALSE(ini.EraseSection("Old"));
    EXPECT_TRUE(ini.DeleteKey("A", "missing"));  // nothing to change
    EXPECT_TRUE(ini.Flush());
    EXPECT_EQ(ini.ReadString("A", "x", ""), "1");
    EXPECT_EQ(Get(), "[A]\r\nx=1\r\n[Old]\r\ny=2\r\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, readable);
}

// A linked settings file stays a link; its target gets the values and keeps its mode.
TEST_F(IniTest, LinkIsWrittenThroughToItsTarget) {
    namespace fs = std::filesystem;
    const std::string target = path + ".target";
    std::ofstream(target, std::ios::binary) << "[A]\r\nx=1\r\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::remove(path);
    fs::create_symlink(fs::path(target).filename(), path);  // relative, as links often are
    IniStore ini(path);
    ASSERT_TRUE(ini.WriteString("A", "x", "2"));
    ASSERT_TRUE(ini.Flush());
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(IniStore(target).ReadString("A", "x", ""), "2");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::remove(target);
}

// As the system's INI functions do, names and values lose blanks and tabs only: other control
// characters belong to the name, so a line of them around a name is a section of its own. Every
// operation takes the first match, a delete included, after which a second key of the name answers.
TEST_F(IniTest, ControlCharactersBelongToNamesAndEveryChangeTakesTheFirstMatch) {
    Put("[\x1b\x1b"
        "fuzz new\x1f\x1b]\nK =1\n[ \tTabbed\t ]\n\tkey\t=\t v \x1b\n[Dup]\nk=1\nK=2\n");
    IniStore ini(path);
    EXPECT_EQ(ini.ReadString("Fuzz New", "k", "-"), "-");
    EXPECT_EQ(ini.ReadString("\x1b\x1b"
                             "fuzz new\x1f\x1b",
                             "k", "-"),
              "1");
    EXPECT_EQ(ini.ReadString("tabbed", "KEY", "-"), "v \x1b");
    ASSERT_TRUE(ini.WriteString("Fuzz New", "k", "v"));
    ASSERT_TRUE(ini.DeleteKey("Fuzz New", "k"));
    EXPECT_EQ(ini.ReadString("Fuzz New", "k", "-"), "-");
    EXPECT_EQ(ini.ReadString("\x1b\x1b"
                             "fuzz new\x1f\x1b",
                             "k", "-"),
              "1");
    ASSERT_TRUE(ini.WriteString("Dup", "k", "one"));
    EXPECT_EQ(ini.ReadString("Dup", "k", "-"), "one");
    ASSERT_TRUE(ini.DeleteKey("Dup", "K"));
    EXPECT_EQ(ini.ReadString("Dup", "k", "-"), "2");
    ASSERT_TRUE(ini.Flush());
    EXPECT_EQ(Get(),
              "[\x1b\x1b"
              "fuzz new\x1f\x1b]\r\nK =1\r\n[ \tTabbed\t ]\r\n\tkey\t=\t v \x1b\r\n[Dup]\r\nK=2\r\n\r\n[Fuzz New]\r\n");
}

// A file that exists but cannot be read is not an empty one: nothing may be written over it.
TEST_F(IniTest, UnreadableFileRefusesEveryChange) {
    std::filesystem::create_directory(path);  // opens, but every read fails
    IniStore ini(path);
    EXPECT_TRUE(ini.ReadFailed());
    EXPECT_FALSE(ini.Error().empty());
    EXPECT_FALSE(ini.WriteString("A", "x", "1"));
    EXPECT_FALSE(ini.DeleteKey("A", "x"));
    EXPECT_FALSE(ini.EraseSection("A"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove(path);
}

// Marks the file is written without: all of them go, so the first line reads as it will once saved.
TEST_F(IniTest, EveryLeadingByteOrderMarkIsDropped) {
    Put("\xEF\xBB\xBF\xEF\xBB\xBF[A]\r\nk=1\r\n\xFF\r\n");  // not UTF-8 as a whole
    IniStore ini(path);
    EXPECT_EQ(ini.ReadString("A", "k", ""), "1");
    ASSERT_TRUE(ini.WriteString("A", "j", "2") && ini.Flush());
    EXPECT_EQ(IniStore(path).ReadSection("A").size(), 2u);
}

// CR LF, LF and CR alone each end a line; a CR LF pair is one end, not two.
TEST_F(IniTest, EveryLineEndEndsALine) {
    Put("[A]\rx=1\r\ny=2\nz=3\r\r\n[B]\rw=4");
    IniStore ini(path);
    EXPECT_EQ(ini.ReadString("A", "x", "-"), "1");
    EXPECT_EQ(ini.ReadString("A", "y", "-"), "2");
    EXPECT_EQ(ini.ReadString("A", "z", "-"), "3");
    EXPECT_EQ(ini.ReadString("B", "w", "-"), "4");
    ASSERT_TRUE(ini.WriteString("B", "v", "5") && ini.Flush());
    EXPECT_EQ(Get(), "[A]\r\nx=1\r\ny=2\r\nz=3\r\n\r\n[B]\r\nw=4\r\nv=5\r\n");
}

// A file holding a NUL byte, and a path that is no regular file, are not read, and nothing is
// written over them.
TEST_F(IniTest, NoTextNoFileIsRefused) {
    const std::string binary("[A]\r\nx=1\r\n\0\0", 12);
    Put(binary);
    IniStore ini(path);
    EXPECT_TRUE(ini.ReadFailed());
    EXPECT_EQ(ini.Error(), "not a text file (it holds NUL bytes)");
    EXPECT_EQ(ini.ReadString("A", "x", "-"), "-");
    EXPECT_FALSE(ini.WriteString("A", "x", "2"));
    EXPECT_TRUE(ini.Flush());
    EXPECT_EQ(Get(), binary);

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    IniStore folder(path);
    EXPECT_TRUE(folder.ReadFailed());
    EXPECT_EQ(folder.Error(), "not a regular file");
    std::string bytes = "x";
    EXPECT_EQ(ReadFileBytes("/dev/null", bytes), kNotRegularFile);
    EXPECT_EQ(bytes, "");
    std::filesystem::remove(path);
}

// A name up to the system's limit of 255 bytes is saved: the scratch file beside it is named
// within the limit too, and a second save finds no scratch of the first left over.
TEST_F(IniTest, NamesUpToTheLimitAreSaved) {
    const std::string dir = ProcessTempDir() + "ini_long/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    for (size_t n : {247u, 248u, 255u}) {
        const std::string name = dir + std::string(n - 4, 'n') + ".ini";
        for (const char* v : {"1", "2"}) {
            IniStore ini(name);
            EXPECT_TRUE(ini.WriteString("Option", "Key", v));
            EXPECT_TRUE(ini.Flush()) << n;
        }
        EXPECT_EQ(ReadBytes(name), "[Option]\r\nKey=2\r\n") << n;
    }
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 3u);
}
