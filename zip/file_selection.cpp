#include "file_selection.h"

#include <stdexcept>

#include "archiver.h"
#include "wide_files.h"

namespace zip {

std::u16string MakeFullPath(const std::u16string& base, const std::u16string& name, const std::u16string& workingDir)
{
    const std::u16string wd = workingDir.empty() ? WideGetCurrentDir() : workingDir;
    const std::u16string dir = ZipIncludeTrailingBackslash(base.empty() ? wd : base);
    const bool uncName = name.size() >= 2 && name[0] == PathDelim && name[1] == PathDelim;
    if (!WideExtractFileDrive(name).empty() && !uncName)
        return name;  // "X:" names
    if (uncName)
        return name;
    if (!name.empty())
        return WideExpandFileName(name[0] == PathDelim ? name : dir + name);
    if (!base.empty() && WideExtractFileDrive(base).empty() && !WideDirectoryExists(dir))
        return base;
    if (dir == std::u16string(1, PathDelim))
        return ZipIncludeTrailingBackslash(WideExpandFileName(u"."));
    return WideExpandFileName(dir);
}

void TZipBaseArchiver::AddFilesInternal(TUniStrings& /*masks*/, int /*searchAttr*/, bool /*recurse*/,
                                        TUniStrings& /*exclusions*/)
{
    std::lock_guard<std::mutex> lock(ZipGlobalLock());
    const std::u16string saved = WorkingDir;
    WorkingDir = MakeFullPath(BaseDir, std::u16string(), WorkingDir);
    WorkingDir = saved;
    // Say so rather than leave an archive without the files the caller asked for.
    throw std::logic_error("Adding files to an archive is not built yet");
}

}  // namespace zip
