// Where the settings file lives: beside the program, or in a per-user copy when the program's
// folder cannot be written.
#pragma once

#include <string>

namespace ts {

struct ProgramPaths {
    std::string exePath;  // the running program, full path
    std::string appData;  // the per-user settings root ($APPDATA, $XDG_CONFIG_HOME or ~/.config)
    // From the running process and its environment.
    static ProgramPaths FromProcess();
    std::string Dir() const;   // with its trailing separator
    std::string Name() const;  // file name without folder and extension
};

struct IniLocation {
    std::string path;   // never empty
    std::string error;  // "Cannot create : ..." or "Cannot Copy : ..." when the per-user copy failed
    // Says where the settings went when the folder could be written but its probe failed (a full
    // disk, an I/O error): the per-user copy serves, and the user should know.
    std::string notice;
};

// The settings file for a command-line or dropped name; empty means the program's own.
IniLocation GetIniFileName(const ProgramPaths& pp, const std::string& name);
// The path itself when its folder is writable, else the per-user copy. Throws std::runtime_error
// with "Cannot create : " or "Cannot Copy : ". folderError: why the folder could not be written, 0
// when it could.
std::string MakeWritablePath(const ProgramPaths& pp, const std::string& path, int* folderError = nullptr);
// The per-user copy of path (made when missing), refreshed from path when path is newer; a copy
// newer than path is kept; the copy replaces the older one only once it is complete. Throws as
// MakeWritablePath does.
std::string UserSettingsCopy(const ProgramPaths& pp, const std::string& path);
// The later of the file's creation and last-write times as a local date-time; 0 when unreadable.
double GetFileDate(const std::string& fileName);

}  // namespace ts
