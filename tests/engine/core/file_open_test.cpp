#include "core/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

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

// Where /proc is missing the name is opened again: kept only when it is still the regular file
// looked at, so a file swapped in meanwhile, a pipe or a device is refused, and nothing waits.
TEST(OpenRegularFile, OpenedAgainByNameOnlyWhenStillTheFileLookedAt) {
    const std::string dir = ProcessTempDir() + "open_again/";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "log.nmea", std::ios::binary) << "x\n";
    std::ofstream(dir + "other.nmea", std::ios::binary) << "y\n";
    ASSERT_EQ(::mkfifo((dir + "pipe.nmea").c_str(), 0600), 0);
    struct stat log {
    }, other{}, pipe{}, zero{}, folder{};
    ASSERT_EQ(::stat((dir + "log.nmea").c_str(), &log), 0);
    ASSERT_EQ(::stat((dir + "other.nmea").c_str(), &other), 0);
    ASSERT_EQ(::stat((dir + "pipe.nmea").c_str(), &pipe), 0);
    ASSERT_EQ(::stat("/dev/zero", &zero), 0);
    ASSERT_EQ(::stat(dir.c_str(), &folder), 0);

    const int fd = OpenSameRegularFile(dir + "log.nmea", log);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_RDONLY);
    ::close(fd);
    const std::pair<std::string, const struct stat*> refused[] = {
        {dir + "log.nmea", &other}, {dir + "pipe.nmea", &pipe}, {"/dev/zero", &zero}, {dir, &folder}};
    for (const auto& [name, seen] : refused) {
        errno = 0;
        EXPECT_EQ(OpenSameRegularFile(name, *seen), -1) << name;
        EXPECT_EQ(errno, name == dir ? EISDIR : ENXIO) << name;
    }
    errno = 0;
    EXPECT_EQ(OpenSameRegularFile(dir + "missing.nmea", log), -1);
    EXPECT_EQ(errno, ENOENT);
}

// True once the thread is waiting inside an open call.
bool WaitingInOpen(long tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long call = -1;
    return in >> call && call == SYS_openat;
}

// A writer already waiting on a pipe is not let go when the pipe is refused: it is never opened.
TEST(OpenRegularFile, AWriterWaitingOnAPipeIsNotLetGo) {
    const std::string dir = ProcessTempDir() + "open_waiting/";
    std::filesystem::create_directories(dir);
    const std::string pipe = dir + "pipe.nmea";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("pipe.nmea", (dir + "link.nmea").c_str()), 0);
    std::atomic<long> tid{0};
    std::atomic<bool> releasing{false}, letGo{false};
    std::thread writer([&] {
        tid = ::syscall(SYS_gettid);
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
        letGo = !releasing;
        if (fd >= 0) ::close(fd);
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((tid == 0 || !WaitingInOpen(tid)) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (const std::string& name : {pipe, dir + "link.nmea"}) {
        errno = 0;
        EXPECT_EQ(OpenRegularFile(name), -1) << name;
        EXPECT_EQ(errno, ENXIO) << name;
        EXPECT_EQ(OpenRegularStream(name), nullptr) << name;
    }
    // A writer let go would leave its open at once; give it the time to.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    releasing = true;
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    if (reader >= 0) ::close(reader);
    EXPECT_FALSE(letGo);
}

}  // namespace
}  // namespace ts
