#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "core/text_format.h"
#include "settings/ini_store.h"

namespace fs = std::filesystem;

namespace ts {

namespace {

// The folder cannot be written as such (no permission, read-only, missing), as opposed to a write
// that failed this time (a full disk, an I/O error).
bool FolderIsClosed(int err) {
    return err == EACCES || err == EPERM || err == EROFS || err == ENOENT || err == ENOTDIR || err == ELOOP ||
           err == ENAMETOOLONG;
}

}  // namespace

ProgramPaths ProgramPaths::FromProcess() {
    ProgramPaths pp;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    pp.exePath = ec ? std::string("trailsmith") : exe.string();
    if (const char* a = std::getenv("APPDATA"); a && *a) pp.appData = a;
    else if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) pp.appData = x;
    else if (const char* h = std::getenv("HOME"); h && *h) pp.appData = std::string(h) + "/.config";
    return pp;
}

std::string ProgramPaths::Dir() const { return ExtractFilePath(exePath); }
std::string ProgramPaths::Name() const { return PathWithoutExt(ExtractFileName(exePath)); }

double GetFileDate(const std::string& fileName) {
    struct statx stx {};
    if (statx(AT_FDCWD, fileName.c_str(), 0, STATX_MTIME | STATX_BTIME, &stx) != 0) return 0;
    std::time_t t = static_cast<std::time_t>(stx.stx_mtime.tv_sec);
    if ((stx.stx_mask & STATX_BTIME) && stx.stx_btime.tv_sec > t) t = static_cast<std::time_t>(stx.stx_btime.tv_sec);
    std::tm local{};
    if (!localtime_r(&t, &local)) return 0;
    return (static_cast<double>(t) + static_cast<double>(local.tm_gmtoff)) / 86400.0 + 25569.0;
}

std::string MakeWritablePath(const ProgramPaths& pp, const std::string& path, int* folderError) {
    // Making a file is the only test that also sees read-only mounts and ACLs.
    const int err = FolderWriteError(ExtractFilePath(path));
    if (folderError) *folderError = err;
    return err == 0 ? path : UserSettingsCopy(pp, path);
}

std::string UserSettingsCopy(const ProgramPaths& pp, const std::string& path) {
    const std::string dir = pp.appData + "/" + pp.Name() + "/";
    std::error_code ec;
    if (pp.appData.empty() || (!fs::is_directory(dir, ec) && !fs::create_directories(dir, ec)))
        throw std::runtime_error("Cannot create : " + dir);
    const std::string newPath = dir + ExtractFileName(path);
    if (fs::is_regular_file(path, ec) && GetFileDate(newPath) < GetFileDate(path)) {
        // A copy cut short would pass for the user's own newer file at the next start.
        std::string bytes;
        struct stat st {};
        const int mode = ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
        if (ReadFileBytes(path, bytes) != 0 || ReplaceFileWhole(newPath, bytes, mode) != 0)
            throw std::runtime_error("Cannot Copy : " + newPath);
    }
    return newPath;
}

IniLocation GetIniFileName(const ProgramPaths& pp, const std::string& name) {
    std::string path;
    if (name.empty()) path = pp.Dir() + pp.Name() + ".ini";
    else if (name.find('/') == std::string::npos) path = pp.Dir() + name;
    else {
        std::error_code ec;
        const fs::path abs = fs::absolute(name, ec);
        path = ec ? name : abs.lexically_normal().string();
    }
    IniLocation loc;
    try {
        int err = 0;
        loc.path = MakeWritablePath(pp, path, &err);
        if (err != 0 && !FolderIsClosed(err))
            loc.notice = "Cannot write : " + ExtractFilePath(path) + " (" + std::generic_category().message(err) +
                         ")\r\n Settings file : " + loc.path;
    } catch (const std::exception& e) {
        // Keep a usable name: an older per-user copy when there is one, else the file itself
        // (read, and saves report their failure).
        loc.error = e.what();
        const std::string copy = pp.appData + "/" + pp.Name() + "/" + ExtractFileName(path);
        std::error_code ec;
        loc.path = !pp.appData.empty() && fs::is_regular_file(copy, ec) ? copy : path;
    }
    return loc;
}

}  // namespace ts
