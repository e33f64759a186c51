#include "core/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "test_temp.h"

namespace ts {
namespace {

// Only a regular file opens, also through a link, and it opens blocking and close-on-exec. A pipe
// without a writer, a device, a folder and links to them are refused at once.
TEST(OpenRegularFile, OnlyRegularFilesOpenAndNothingWaits) {
    const std::string dir = ProcessTempDir() + "open_regular/";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "log.nmea", std::ios::binary) << "x\n";
    ASSERT_EQ(::mkfifo((dir + "pipe.nmea").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir + "zero.nmea").c_str()), 0);
    ASSERT_EQ(::symlink("log.nmea", (dir + "link.nmea").c_str()), 0);
    ASSERT_EQ(::symlink("pipe.nmea", (dir + "pipelink.nmea").c_str()), 0);

    for (const char* name : {"log.nmea", "link.nmea"}) {
        const int fd = OpenRegularFile(dir + name);
        ASSERT_GE(fd, 0) << name;
        EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_RDONLY) << name;
        EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << name;
        ::close(fd);
    }
    for (const std::string& name : {dir + "pipe.nmea", dir + "pipelink.nmea", dir + "zero.nmea",
                                    std::string("/dev/zero"), dir, dir + "missing.nmea", std::string()}) {
        errno = 0;
        EXPECT_EQ(OpenRegularFile(name), -1) << name;
        EXPECT_NE(errno, 0) << name;
        EXPECT_EQ(OpenRegularStream(name), nullptr) << name;
    }
    std::FILE* f = OpenRegularStream(dir + "link.nmea");
    ASSERT_NE(f, nullptr);
    char b[4] = {};
    EXPECT_EQ(std::fread(b, 1, sizeof b, f), 2u);
    EXPECT_STREQ(b, "x\n");
    std::fclose(f);
}

}  // namespace
}  // namespace ts
