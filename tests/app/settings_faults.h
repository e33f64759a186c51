// Faults in the settings file's system calls: the nth call of one kind fails with EIO, or ends the
// process there as a crash would.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/ini_store.h"

namespace faults {

enum Kind { kOpen, kRead, kWrite, kFsync, kClose, kRename, kLink, kUnlink, kKinds };
inline const char* const kKindNames[kKinds] = {"open", "read", "write", "fsync", "close", "rename", "linkat", "unlink"};

struct State {
    int kind = -1;
    int at = 0;  // 1-based number of the call that fails
    bool crash = false;
    int seen[kKinds] = {};
    bool hit = false;
};
inline State state;

// True when this call is the one to fail (errno is then EIO).
inline bool Now(Kind k) {
    if (++state.seen[k] != state.at || k != state.kind) return false;
    state.hit = true;
    if (state.crash) _exit(9);
    errno = EIO;
    return true;
}

inline int Open(const char* p, int f, mode_t m) { return Now(kOpen) ? -1 : ::open(p, f, m); }
inline ssize_t Read(int fd, void* b, size_t n) { return Now(kRead) ? -1 : ::read(fd, b, n); }
inline ssize_t Write(int fd, const void* b, size_t n) { return Now(kWrite) ? -1 : ::write(fd, b, n); }
inline int Fsync(int fd) { return Now(kFsync) ? -1 : ::fsync(fd); }
// A close that fails still releases the descriptor.
inline int Close(int fd) {
    const bool fail = Now(kClose);
    const int rc = ::close(fd);
    return fail ? (errno = EIO, -1) : rc;
}
inline int Rename(const char* a, const char* b) { return Now(kRename) ? -1 : ::rename(a, b); }
inline int Link(int d1, const char* a, int d2, const char* b, int f) {
    return Now(kLink) ? -1 : ::linkat(d1, a, d2, b, f);
}
inline int Unlink(const char* p) { return Now(kUnlink) ? -1 : ::unlink(p); }

// Installs the faulty calls for its lifetime: call `at` of `kind` fails (or crashes); kind -1 only
// counts the calls.
struct Scope {
    ts::SettingsIo saved = ts::SettingsIoCalls();
    Scope(int kind, int at, bool crash = false) {
        state = State{};
        state.kind = kind;
        state.at = at;
        state.crash = crash;
        ts::SettingsIoCalls() = ts::SettingsIo{Open, Read, Write, Fsync, Close, Rename, Link, Unlink};
    }
    ~Scope() { ts::SettingsIoCalls() = saved; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// Names in dir that our scratch files take (".NAME.xxxxxx", "$$$xxxxxx").
inline std::vector<std::string> ScratchLeft(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string n = e.path().filename().string();
        if ((n.size() > 8 && n[0] == '.') || n.rfind("$$$", 0) == 0) out.push_back(n);
    }
    return out;
}

}  // namespace faults
