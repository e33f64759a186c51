// Faults in the settings file's system calls: call number `at` of one kind fails with EIO, or ends
// the process there as a crash would.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/ini_store.h"

namespace faults {

enum Kind { kOpen, kRead, kWrite, kFsync, kClose, kRename, kLink, kUnlink, kKinds };
inline const char* const kNames[kKinds] = {"open", "read", "write", "fsync", "close", "rename", "linkat", "unlink"};
inline struct State {
    int kind = -1, at = 0, seen[kKinds] = {};
    bool crash = false, hit = false;
} state;

inline bool Now(Kind k) {
    if (++state.seen[k] != state.at || k != state.kind) return false;
    if (state.crash) _exit(9);
    state.hit = true;
    errno = EIO;
    return true;
}

// Installs the faulty calls while it lives; kind -1 only counts.
struct Scope {
    ts::SettingsIo saved = ts::SettingsIoCalls();
    Scope(int kind, int at, bool crash = false) {
        state = State{kind, at, {}, crash, false};
        ts::SettingsIoCalls() = ts::SettingsIo{
            [](const char* p, int f, mode_t m) { return Now(kOpen) ? -1 : ::open(p, f, m); },
            [](int fd, void* b, size_t n) { return Now(kRead) ? -1 : ::read(fd, b, n); },
            [](int fd, const void* b, size_t n) { return Now(kWrite) ? -1 : ::write(fd, b, n); },
            [](int fd) { return Now(kFsync) ? -1 : ::fsync(fd); },
            [](int fd) { return Now(kClose) ? (::close(fd), errno = EIO, -1) : ::close(fd); },  // still closed
            [](const char* a, const char* b) { return Now(kRename) ? -1 : ::rename(a, b); },
            [](int d1, const char* a, int d2, const char* b, int f) {
                return Now(kLink) ? -1 : ::linkat(d1, a, d2, b, f);
            },
            [](const char* p) { return Now(kUnlink) ? -1 : ::unlink(p); }};
    }
    ~Scope() { ts::SettingsIoCalls() = saved; }
};

// Names in dir that our scratch files take (".NAME.xxxxxx", "$$$xxxxxx").
inline std::vector<std::string> ScratchLeft(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if ((n.size() > 8 && n[0] == '.') || n.rfind("$$$", 0) == 0) out.push_back(n);
    }
    return out;
}

}  // namespace faults
