// The settings file: an INI file with the private-profile rules. Section and key names match
// without regard to case and the first match wins; values are trimmed and lose one pair of
// surrounding quotes; a read gives at most 2047 characters. The file is read and parsed once, at
// the first access; writes replace a key in place or append it in memory, and Flush puts all of
// them on disk in one write. The file is written as UTF-8; bytes that are not valid UTF-8 (older
// files) are read as Windows-1252. A file without any write permission bit is read-only, whoever
// runs the program: every write to it is refused. A linked file is written through to its target.
// A file that cannot be read is never taken for an empty one: the store then refuses every change.
// So is a path that names no regular file (a pipe, a device, a folder) and a file that is not text.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace ts {

// The system calls behind the settings file (read, save, the folder probe, the per-user copy), in
// one table so that tests can make any of them fail.
struct SettingsIo {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t n);
    ssize_t (*write)(int fd, const void* buf, size_t n);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
    int (*unlink)(const char* path);
};
SettingsIo& SettingsIoCalls();

// Failures of our own beside the errno values: the path names a pipe, a device or a folder; the
// file holds bytes no text file has.
inline constexpr int kNotRegularFile = -2;
inline constexpr int kNotTextFile = -3;
// The text of an errno value or of one of ours.
std::string SettingsErrorText(int err);

// The whole content of a regular file (or of the one a link names); 0, ENOENT when there is none,
// kNotRegularFile, else the errno of the failure. Never waits for a writer.
int ReadFileBytes(const std::string& path, std::string& out);
// Makes text the content of target only once it is complete on disk: written to an unnamed file in
// the target's folder (a named scratch file where the file system has no unnamed ones), flushed,
// closed, then renamed over target. The target keeps its mode; a new one gets `mode`, or the usual
// mode when that is negative. A failure leaves target as it was and no scratch file; one left by a
// crash is removed by the next replace of the same target. 0 or the errno of the failure.
int ReplaceFileWhole(const std::string& target, const std::string& text, int mode = -1);
// Whether a file can be made in dir: 0, or the errno of the failure. Leaves nothing behind, even
// after a crash (a stale probe of an earlier run is removed).
int FolderWriteError(const std::string& dir);

class IniStore {
public:
    explicit IniStore(std::string path);

    const std::string& Path() const { return path_; }
    bool Exists() const;
    bool ReadOnly() const;
    // The file exists but could not be read: nothing was loaded, and every change is refused.
    bool ReadFailed() const;
    // Why the last read or flush failed (the system's text); empty when none did.
    const std::string& Error() const { return error_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // The changes below are refused (false) when the file is read-only or could not be read.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool DeleteKey(const std::string& section, const std::string& key);
    bool EraseSection(const std::string& section);
    // The "key=value" pairs of a section in file order (values as read).
    std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
    std::vector<std::string> SectionNames() const;

    // Writes the pending changes: beside the target, then renamed over it with the target's mode, so
    // a crash half-way leaves the old file whole. True when nothing was pending.
    bool Flush();
    // How often the file was read and written (each at most once per load or save).
    int DiskReads() const { return reads_; }
    int DiskWrites() const { return writes_; }

    static constexpr size_t kMaxValue = 2047;

private:
    struct Line {
        std::string text;   // the line as stored
        int kind = 0;       // 0 other, 1 section header, 2 key
        std::string name;   // section or key name, trimmed and lower-cased
        std::string value;  // value as read (trimmed, unquoted)
    };
    std::vector<Line>& Lines() const;
    // [begin, end) of the lines of the first section named `section`; begin is the header.
    bool FindSection(const std::string& section, size_t& begin, size_t& end) const;
    bool Changed();

    std::string path_;
    mutable std::vector<Line> lines_;
    mutable bool loaded_ = false;
    mutable bool readOnly_ = false;
    mutable bool readFailed_ = false;
    mutable std::string error_;
    mutable int reads_ = 0;
    int writes_ = 0;
    bool dirty_ = false;
};

}  // namespace ts
