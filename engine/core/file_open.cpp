#include "core/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ts {
namespace {

int RefuseNonRegular(const struct stat& st) { return S_ISDIR(st.st_mode) ? EISDIR : ENXIO; }

}  // namespace

int OpenSameRegularFile(const std::string& name, const struct stat& seen) {
    int error = 0;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) error = errno;
    else if (!S_ISREG(st.st_mode)) error = RefuseNonRegular(st);
    else if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) error = ENXIO;
    else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
    }
    if (error == 0) return fd;
    ::close(fd);
    errno = error;
    return -1;
}

int ReopenReadOnly(int fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
}

int OpenRegularFile(const std::string& name) {
    if (name.empty()) {
        errno = ENOENT;
        return -1;
    }
    // The name is first only looked up: opening a pipe or a device, even for a moment and without
    // blocking, would let a writer waiting on the pipe go on, or wake a port. Only a regular file
    // is then opened, through what was looked up, so the file checked is the file read.
    const int path = ::open(name.c_str(), O_PATH | O_CLOEXEC);
    if (path < 0) return -1;
    struct stat st {};
    int fd = -1;
    if (::fstat(path, &st) == 0) {
        if (!S_ISREG(st.st_mode)) errno = RefuseNonRegular(st);
        else if ((fd = ReopenReadOnly(path)) < 0 && errno == ENOENT) fd = OpenSameRegularFile(name, st);
    }
    const int error = errno;
    ::close(path);
    errno = error;
    return fd;
}

std::FILE* OpenRegularStream(const std::string& name) {
    const int fd = OpenRegularFile(name);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return f;
}

}  // namespace ts
