// Loaded into the program under test (LD_PRELOAD): counts the file calls it makes on files inside
// one folder and fails or kills it at one of them.
//
//   FAULT_DIR   the folder watched (absolute, with a trailing "/")
//   FAULT_LOG   file that gets one line per call counted: "<kind> <n> <path>", and "FAULT ..."
//               before the call chosen fails
//   FAULT_KIND  write, open (creating), rename, link, unlink, fsync, ftruncate, close, read, chmod
//               (a change of mode) or list (opening a folder to read its names)
//   FAULT_AT    the n-th call of that kind (from 1) fails with EIO ...
//   FAULT_KILL  ... or, when set, the program is killed (SIGKILL) instead of making it
//   FAULT_NOLOCK     when set, every flock on a file there fails with ENOLCK, as on a file system
//                    without a lock service
//   FAULT_NOTMPFILE  when set, unnamed files (O_TMPFILE) cannot be made there (EOPNOTSUPP)
//
// Built without sanitizers; in a sanitized program it is listed after the sanitizer's runtime,
// whose interceptors then reach these functions as the next definition.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

enum Kind { kWrite, kOpen, kRename, kLink, kUnlink, kFsync, kFtruncate, kClose, kRead, kChmod, kList, kKinds };
const char* const kKindNames[kKinds] = {"write",     "open",  "rename", "link",  "unlink", "fsync",
                                        "ftruncate", "close", "read",   "chmod", "list"};

std::atomic<long> counts[kKinds];

struct Config {
    char dir[4096] = "";
    size_t dirLen = 0;
    int log = -1;
    int kind = -1;
    long at = 0;
    bool kill = false;
    bool noLock = false;
    bool noTmpfile = false;
};

template <class F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

ssize_t RawWrite(int fd, const void* p, size_t n) {
    static auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    return real(fd, p, n);
}

const Config& Cfg() {
    static const Config c = [] {
        Config c;
        if (const char* d = getenv("FAULT_DIR")) {
            snprintf(c.dir, sizeof c.dir, "%s", d);
            c.dirLen = strlen(c.dir);
        }
        if (const char* l = getenv("FAULT_LOG")) {
            static auto realOpen = Real<int (*)(const char*, int, ...)>("open");
            c.log = realOpen(l, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        }
        if (const char* k = getenv("FAULT_KIND"))
            for (int i = 0; i < kKinds; ++i)
                if (strcmp(k, kKindNames[i]) == 0) c.kind = i;
        if (const char* a = getenv("FAULT_AT")) c.at = atol(a);
        c.kill = getenv("FAULT_KILL") != nullptr;
        c.noLock = getenv("FAULT_NOLOCK") != nullptr;
        c.noTmpfile = getenv("FAULT_NOTMPFILE") != nullptr;
        return c;
    }();
    return c;
}

bool Watched(const char* path) {
    const Config& c = Cfg();
    return c.dirLen > 0 && path && strncmp(path, c.dir, c.dirLen) == 0;
}

// The path of an open descriptor, empty when it is none of ours.
bool FdPath(int fd, char* out, size_t size) {
    if (fd < 0) return false;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, out, size - 1);
    if (n <= 0) return false;
    out[n] = '\0';
    return Watched(out);
}

bool AbsPath(const char* path, char* out, size_t size) {
    if (!path) return false;
    if (path[0] == '/') {
        snprintf(out, size, "%s", path);
    } else {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return false;
        if (snprintf(out, size, "%s/%s", cwd, path) >= static_cast<int>(size)) return false;
    }
    return Watched(out);
}

// The same for a folder, named with or without its trailing "/"; out ends in "/".
bool AbsFolder(const char* path, char* out, size_t size) {
    if (!path) return false;
    char abs[4096], cwd[4096];
    if (path[0] == '/') snprintf(abs, sizeof abs, "%s", path);
    else if (!getcwd(cwd, sizeof cwd) || snprintf(abs, sizeof abs, "%s/%s", cwd, path) >= static_cast<int>(sizeof abs))
        return false;
    const size_t n = strlen(abs);
    snprintf(out, size, "%s%s", abs, n > 0 && abs[n - 1] == '/' ? "" : "/");
    return Watched(out);
}

// Counts one call of kind on path; true when it is the one to fail (or the program dies here).
bool Hit(Kind kind, const char* path, int fd = -1, unsigned openMode = 0) {
    const Config& c = Cfg();
    const long n = ++counts[kind];
    char line[8400];
    const bool chosen = c.kind == kind && c.at == n;
    // The mode tells the program's scratch files (0600) from the files it makes.
    struct stat st {};
    const unsigned mode = fd >= 0 && fstat(fd, &st) == 0 ? st.st_mode & 0777 : openMode & 0777;
    const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    const char* access = flags < 0 ? "-" : (flags & O_ACCMODE) == O_RDONLY ? "r" : "w";
    const int len = snprintf(line, sizeof line, "%s%s %ld %o %s %s\n", chosen ? "FAULT " : "", kKindNames[kind], n,
                             mode, access, path);
    if (c.log >= 0 && len > 0) {
        const int saved = errno;
        RawWrite(c.log, line, static_cast<size_t>(len < static_cast<int>(sizeof line) ? len : sizeof line - 1));
        errno = saved;
    }
    if (chosen && c.kill) kill(getpid(), SIGKILL);
    return chosen;
}

bool HitFd(Kind kind, int fd) {
    char p[4096];
    return FdPath(fd, p, sizeof p) && Hit(kind, p, fd);
}

bool HitPath(Kind kind, const char* path, unsigned openMode = 0) {
    char p[4096];
    return AbsPath(path, p, sizeof p) && Hit(kind, p, -1, openMode);
}

template <class T>
T Fail(T value) {
    errno = EIO;
    return value;
}

bool Creating(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

// An unnamed file in a watched folder where FAULT_NOTMPFILE refuses them.
bool TmpfileRefused(const char* path, int flags) {
    char p[4096];
    return Cfg().noTmpfile && (flags & O_TMPFILE) == O_TMPFILE && AbsFolder(path, p, sizeof p);
}

bool CreatingMode(const char* mode) { return mode && (strchr(mode, 'w') || strchr(mode, 'a')); }

}  // namespace

extern "C" {

// Each wrapper counts its call and fails it when chosen; the real call is the next definition.
#define FAULT_CALL(ret, name, hit, params, types, args) \
    ret name params {                                   \
        static auto real = Real<ret(*) types>(#name);   \
        if (hit) return Fail<ret>(-1);                  \
        return real args;                               \
    }

// Opening counts only when it may create the file.
#define FAULT_OPEN(name, params, types, atCwd, args)                    \
    int name params {                                                   \
        static auto real = Real<int(*) types>(#name);                   \
        mode_t mode = 0;                                                \
        if (Creating(flags)) {                                          \
            va_list ap;                                                 \
            va_start(ap, flags);                                        \
            mode = static_cast<mode_t>(va_arg(ap, int));                \
            va_end(ap);                                                 \
            if ((atCwd) && HitPath(kOpen, path, mode)) return Fail(-1); \
            if ((atCwd) && TmpfileRefused(path, flags)) {               \
                errno = EOPNOTSUPP;                                     \
                return -1;                                              \
            }                                                           \
        }                                                               \
        return real args;                                               \
    }
FAULT_OPEN(open, (const char* path, int flags, ...), (const char*, int, ...), true, (path, flags, mode))
FAULT_OPEN(open64, (const char* path, int flags, ...), (const char*, int, ...), true, (path, flags, mode))
FAULT_OPEN(openat, (int dirfd, const char* path, int flags, ...), (int, const char*, int, ...), dirfd == AT_FDCWD,
           (dirfd, path, flags, mode))
FAULT_OPEN(openat64, (int dirfd, const char* path, int flags, ...), (int, const char*, int, ...), dirfd == AT_FDCWD,
           (dirfd, path, flags, mode))

#define FAULT_FOPEN(name)                                                            \
    FILE* name(const char* path, const char* mode) {                                 \
        static auto real = Real<FILE* (*)(const char*, const char*)>(#name);         \
        if (CreatingMode(mode) && HitPath(kOpen, path)) return Fail<FILE*>(nullptr); \
        return real(path, mode);                                                     \
    }
FAULT_FOPEN(fopen)
FAULT_FOPEN(fopen64)

FAULT_CALL(int, mkstemp, HitPath(kOpen, tmpl), (char* tmpl), (char*), (tmpl))
FAULT_CALL(int, mkstemp64, HitPath(kOpen, tmpl), (char* tmpl), (char*), (tmpl))
FAULT_CALL(int, mkostemp, HitPath(kOpen, tmpl), (char* tmpl, int flags), (char*, int), (tmpl, flags))
FAULT_CALL(int, mkostemp64, HitPath(kOpen, tmpl), (char* tmpl, int flags), (char*, int), (tmpl, flags))

FAULT_CALL(ssize_t, write, HitFd(kWrite, fd), (int fd, const void* p, size_t n), (int, const void*, size_t), (fd, p, n))
FAULT_CALL(ssize_t, pwrite, HitFd(kWrite, fd), (int fd, const void* p, size_t n, off_t off),
           (int, const void*, size_t, off_t), (fd, p, n, off))
FAULT_CALL(ssize_t, pwrite64, HitFd(kWrite, fd), (int fd, const void* p, size_t n, off_t off),
           (int, const void*, size_t, off_t), (fd, p, n, off))
FAULT_CALL(ssize_t, writev, HitFd(kWrite, fd), (int fd, const struct iovec* v, int n), (int, const struct iovec*, int),
           (fd, v, n))
FAULT_CALL(ssize_t, copy_file_range, HitFd(kWrite, out),
           (int in, loff_t* inOff, int out, loff_t* outOff, size_t n, unsigned flags),
           (int, loff_t*, int, loff_t*, size_t, unsigned), (in, inOff, out, outOff, n, flags))
FAULT_CALL(ssize_t, read, HitFd(kRead, fd), (int fd, void* p, size_t n), (int, void*, size_t), (fd, p, n))
FAULT_CALL(ssize_t, pread, HitFd(kRead, fd), (int fd, void* p, size_t n, off_t off), (int, void*, size_t, off_t),
           (fd, p, n, off))
FAULT_CALL(ssize_t, pread64, HitFd(kRead, fd), (int fd, void* p, size_t n, off_t off), (int, void*, size_t, off_t),
           (fd, p, n, off))
FAULT_CALL(ssize_t, readv, HitFd(kRead, fd), (int fd, const struct iovec* v, int n), (int, const struct iovec*, int),
           (fd, v, n))

// Stdio: a failed call also sets the stream's error indicator.
size_t fwrite(const void* p, size_t size, size_t n, FILE* f) {
    static auto real = Real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    if (HitFd(kWrite, fileno(f))) return f->_flags |= 0x20, Fail<size_t>(0);
    return real(p, size, n, f);
}

size_t fread(void* p, size_t size, size_t n, FILE* f) {
    static auto real = Real<size_t (*)(void*, size_t, size_t, FILE*)>("fread");
    if (f && n > 0 && size > 0 && HitFd(kRead, fileno(f))) return f->_flags |= 0x20, Fail<size_t>(0);
    return real(p, size, n, f);
}

// A failed close still closes.
int close(int fd) {
    static auto real = Real<int (*)(int)>("close");
    const bool fail = HitFd(kClose, fd);
    const int r = real(fd);
    return fail ? Fail(-1) : r;
}

int fclose(FILE* f) {
    static auto real = Real<int (*)(FILE*)>("fclose");
    const bool fail = f && HitFd(kClose, fileno(f));
    const int r = real(f);
    return fail ? Fail(EOF) : r;
}

// A change of mode; fchmod logs the mode the file had before it.
FAULT_CALL(int, chmod, HitPath(kChmod, path), (const char* path, mode_t mode), (const char*, mode_t), (path, mode))
FAULT_CALL(int, fchmod, HitFd(kChmod, fd), (int fd, mode_t mode), (int, mode_t), (fd, mode))
FAULT_CALL(int, fchmodat, dir == AT_FDCWD && HitPath(kChmod, path), (int dir, const char* path, mode_t mode, int flags),
           (int, const char*, mode_t, int), (dir, path, mode, flags))

FAULT_CALL(int, fsync, HitFd(kFsync, fd), (int fd), (int), (fd))
FAULT_CALL(int, fdatasync, HitFd(kFsync, fd), (int fd), (int), (fd))
FAULT_CALL(int, ftruncate, HitFd(kFtruncate, fd), (int fd, off_t len), (int, off_t), (fd, len))
FAULT_CALL(int, ftruncate64, HitFd(kFtruncate, fd), (int fd, off_t len), (int, off_t), (fd, len))

// Calls naming a path count the file made or removed; those relative to a folder only at the cwd.
FAULT_CALL(int, rename, HitPath(kRename, to), (const char* from, const char* to), (const char*, const char*),
           (from, to))
FAULT_CALL(int, renameat, toDir == AT_FDCWD && HitPath(kRename, to),
           (int fromDir, const char* from, int toDir, const char* to), (int, const char*, int, const char*),
           (fromDir, from, toDir, to))
FAULT_CALL(int, renameat2, toDir == AT_FDCWD && HitPath(kRename, to),
           (int fromDir, const char* from, int toDir, const char* to, unsigned flags),
           (int, const char*, int, const char*, unsigned), (fromDir, from, toDir, to, flags))
FAULT_CALL(int, link, HitPath(kLink, to), (const char* from, const char* to), (const char*, const char*), (from, to))
FAULT_CALL(int, linkat, toDir == AT_FDCWD && HitPath(kLink, to),
           (int fromDir, const char* from, int toDir, const char* to, int flags),
           (int, const char*, int, const char*, int), (fromDir, from, toDir, to, flags))
FAULT_CALL(int, unlink, HitPath(kUnlink, path), (const char* path), (const char*), (path))
FAULT_CALL(int, unlinkat, dir == AT_FDCWD && HitPath(kUnlink, path), (int dir, const char* path, int flags),
           (int, const char*, int), (dir, path, flags))
FAULT_CALL(int, remove, HitPath(kUnlink, path), (const char* path), (const char*), (path))

// A file system without a lock service.
int flock(int fd, int op) {
    static auto real = Real<int (*)(int, int)>("flock");
    char p[4096];
    if (Cfg().noLock && FdPath(fd, p, sizeof p)) {
        errno = ENOLCK;
        return -1;
    }
    return real(fd, op);
}

// Listing a folder: its names are read through a descriptor of the folder itself.
DIR* opendir(const char* path) {
    static auto real = Real<DIR* (*)(const char*)>("opendir");
    char p[4096];
    if (AbsFolder(path, p, sizeof p) && Hit(kList, p)) return Fail<DIR*>(nullptr);
    return real(path);
}

DIR* fdopendir(int fd) {
    static auto real = Real<DIR* (*)(int)>("fdopendir");
    char link[64], p[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, p, sizeof p - 2);
    if (n > 0) {
        p[n] = '\0';
        if (AbsFolder(p, p, sizeof p) && Hit(kList, p)) return Fail<DIR*>(nullptr);
    }
    return real(fd);
}

}  // extern "C"
