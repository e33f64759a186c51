// Settings paths that name no regular text file: a pipe, a device, a binary file. A quiet run
// refuses them with a message and a failed status, converts nothing and writes nothing; a file
// whose lines end in CR alone is read as the user wrote it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "qt_test_app.h"

namespace fs = std::filesystem;

namespace {

struct SettingsPathTest : MainWindowTest {
    std::string gpx, kmz;
    void SetUp() override {
        MainWindowTest::SetUp();
        fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
        gpx = dir + "07-08-2004_03-29-08.gpx";
        kmz = dir + "07-08-2004_03-29-08.kmz";
    }
    void RunQuiet(const std::string& ini) {
        Start({ini, "/Q", dir + "a.nmea"});
        for (int i = 0; i < 20 && form->isVisible(); ++i) QCoreApplication::processEvents();
    }
    void ExpectRefused(const std::string& what) {
        EXPECT_NE(form->ExitStatus(), 0) << what;
        EXPECT_EQ(ReportCount("Cannot read : "), 1) << what;
        EXPECT_FALSE(fs::exists(gpx) || fs::exists(kmz)) << what;
    }
};

}  // namespace

TEST_F(SettingsPathTest, PipesDevicesAndBinaryFilesAreRefusedAndLeftAsTheyAre) {
    const std::string pipe = dir + "pipe.ini";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    RunQuiet(pipe);  // no writer: a blocking read would never return
    ExpectRefused("pipe");
    EXPECT_EQ(ReportCount("not a regular file"), 1);
    struct stat st {};
    EXPECT_TRUE(::lstat(pipe.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

    const std::string zero = dir + "zero.ini";
    fs::create_symlink("/dev/zero", zero);  // endless: reading it whole runs out of memory
    RunQuiet(zero);
    ExpectRefused("/dev/zero");
    EXPECT_TRUE(fs::is_symlink(zero) && fs::read_symlink(zero) == "/dev/zero");

    const std::string binary = dir + "binary.ini", bytes("[Option]\r\nGPXout=1\r\n\0\x01\x02\xFF", 25);
    WriteBytes(binary, bytes);
    RunQuiet(binary);
    ExpectRefused("NUL bytes");
    EXPECT_EQ(ReportCount("not a text file"), 1);
    EXPECT_EQ(ReadBytes(binary), bytes);
}

TEST_F(SettingsPathTest, LinesEndedByCrAloneAreRead) {
    const std::string ini = dir + "mac.ini";
    WriteBytes(ini, "[Option]\rGPXout=1\rKMZout=0\r");
    const std::string target = dir + "linked.ini";
    fs::rename(ini, target);
    fs::create_symlink(target, ini);  // a link to a regular file is the file
    RunQuiet(ini);
    EXPECT_EQ(form->ExitStatus(), 0);
    EXPECT_TRUE(fs::exists(gpx));
    EXPECT_FALSE(fs::exists(kmz));
    EXPECT_TRUE(fs::is_symlink(ini));
    const std::string saved = ReadBytes(target);
    EXPECT_NE(saved.find("GPXout=1\r\n"), std::string::npos);
    EXPECT_NE(saved.find("KMZout=0\r\n"), std::string::npos);
}
