#include "core/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ts {

int OpenRegularFile(const std::string& name) {
    if (name.empty()) {
        errno = ENOENT;
        return -1;
    }
    // Not blocking: opening a pipe would otherwise wait for a writer before the check below.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0) error = errno;
    else if (!S_ISREG(st.st_mode)) error = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
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
