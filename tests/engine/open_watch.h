// Watches what happens to one file or folder itself, as the kernel reports it (inotify): tests that
// count openings, such as the listings of a folder, without timing anything.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <string>

namespace ts::testing {

struct OpenWatch {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The events of a folder's files are watched only to keep the folder's own apart: the kernel
    // merges alike events in a row.
    explicit OpenWatch(const std::string& path) {
        ::inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_CLOSE | IN_CREATE | IN_DELETE | IN_MOVED_TO);
    }
    ~OpenWatch() { ::close(fd); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    // Since the last call, in order: "o" for an opening of the watched file or folder, "c" for a close.
    std::string Seen() {
        std::string seen;
        alignas(inotify_event) char buf[1 << 16];
        for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) > 0;)
            for (ssize_t at = 0; at < got;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->len == 0 && (e->mask & (IN_OPEN | IN_CLOSE))) seen += e->mask & IN_OPEN ? "o" : "c";
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        return seen;
    }
};

}  // namespace ts::testing
