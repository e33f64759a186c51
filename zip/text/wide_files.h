// The file layer of the archive component: wide (UTF-16) names inside, UTF-8 names on disk.
// Wrappers return what the system returns (-1 handles, false, error codes) and raise nothing;
// only TUniFileStream's constructor raises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "text/streams.h"

namespace zip {

// The separator of disk paths. Names inside an archive always use "/".
inline constexpr char16_t PathDelim = u'/';
// Every wrapper takes the wide road here; kept for callers that branch on it.
inline constexpr bool IsUnicodePlatform = true;

// File attribute bits (FAT/Windows meaning; mapped from the POSIX file mode).
enum : std::uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeID = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
    faNormal = 0x80,
};

// Open modes: access in bits 0-1, sharing in bits 4-7; 0xFFFF creates.
enum : std::uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFFFF,
};

std::string WideToFsName(const std::u16string& name);
std::u16string FsNameToWide(const std::string& name);

// Descriptor or -1. WideFileCreate truncates or creates; WideFileOpen opens an existing file.
// POSIX has no share modes: the sharing bits are checked (0x00..0x40) but not enforced.
int WideFileCreate(const std::u16string& name);
int WideFileOpen(const std::u16string& name, std::uint32_t mode);
void WideFileClose(int handle);
// Writes the file's data through to the disk (fsync); false, with errno set, when that fails.
bool WideFileFlush(int handle);

// Writes a folder's entries through to the disk; true where the file system cannot do that.
bool WideFolderFlush(const std::u16string& folder);

// A failing disk for tests: asked before each flush and close of a file (a TUniFileStream by its
// name; a bare handle with an empty name), each flush of a folder and each deletion of a file, it
// answers an errno value that fails the call, or 0.
enum class TFileCall { Flush, Close, Delete };
using TFileFaultHook = std::function<int(TFileCall call, const std::u16string& fileName)>;
void SetFileFaultHook(TFileFaultHook hook);

// A file stream opened by a wide name; mode 0xFFFF creates, any other value opens. Flush and
// Close raise EStreamError when the system reports that written data may not have reached the
// disk; the destructor closes a file still open without a word.
class TUniFileStream : public THandleStream {
public:
    TUniFileStream(const std::u16string& fileName, std::uint16_t mode);
    ~TUniFileStream() override;
    TUniFileStream(const TUniFileStream&) = delete;
    TUniFileStream& operator=(const TUniFileStream&) = delete;
    const std::u16string& FileName() const { return fileName_; }
    void Flush();
    void Close();

private:
    std::u16string fileName_;
};

namespace detail {
struct FindState;
}

// One entry of a directory search.
struct TWideSearchRec {
    std::int32_t Time = 0;  // DOS date (high word) and time (low word) of the last write, local
    std::int64_t Size = 0;
    std::uint32_t Attr = 0;
    std::u16string Name;
    std::uint32_t ExcludeAttr = 0;
    std::shared_ptr<detail::FindState> FindHandle;  // null when closed
};

// Path is a folder plus a name pattern ("*" and "?" wildcards, case ignored). Hidden, system and
// folder entries are skipped unless Attr asks for them. Returns 0, or an errno value (ENOENT when
// nothing (more) matches); on failure the search is closed.
int WideFindFirst(const std::u16string& path, std::uint32_t attr, TWideSearchRec& rec);
// The entry of exactly this name, as WideFindFirst would give it, without reading its folder.
int WideFindExact(const std::u16string& path, std::uint32_t attr, TWideSearchRec& rec);
int WideFindNext(TWideSearchRec& rec);
void WideFindClose(TWideSearchRec& rec);

// DOS date and time of the last write (local time), -1 for folders, missing files and dates
// a DOS stamp cannot hold.
std::int32_t WideFileAge(const std::u16string& name);
bool WideFileExists(const std::u16string& name);
bool WideDirectoryExists(const std::u16string& name);
// Attributes of the file, or -1.
std::int32_t WideFileGetAttr(const std::u16string& name);
// Only the read-only bit has a POSIX counterpart (the owner's write permission).
bool WideFileSetAttr(const std::u16string& name, std::uint32_t attr);
bool WideRenameFile(const std::u16string& oldName, const std::u16string& newName);
bool WideFileDelete(const std::u16string& name);
std::u16string WideGetCurrentDir();
// Absolute form of name, "." and ".." resolved in the text (the disk is not consulted).
std::u16string WideExpandFileName(const std::u16string& name);

std::u16string WideSysErrorMessage(int code);
std::u16string WideLibraryErrorMessage(const std::u16string& libName, int code);

// Path texts. The only drive is "//server/share"; a colon is part of a name.
int WideLastDelimiter(const std::u16string& delimiters, const std::u16string& s);
std::u16string WideExtractFilePath(const std::u16string& s);
std::u16string WideExtractFileName(const std::u16string& s);
std::u16string WideExtractFileExt(const std::u16string& s);
std::u16string WideExtractFileDrive(const std::u16string& s);
std::u16string WideExtractFileDirNoDrive(const std::u16string& s);
std::u16string WideExtractRelativePath(const std::u16string& baseName, const std::u16string& destName);

enum : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
std::u16string WideStringReplace(const std::u16string& s, const std::u16string& oldPattern,
                                 const std::u16string& newPattern, bool wholeWord, unsigned flags);
bool IsWordSeparator(char16_t ch);

// The buffer convention of the system calls that fill a caller's buffer; returns the count.
enum : unsigned { cwKeepLast = 1, cwEmptyOnOverflow = 2, cwTruncate = 4, cwPathParts = 8 };
std::size_t CopyWideResultToBuffer(std::span<char16_t> buf, const std::u16string& s, unsigned flags);

// The names the archive engine calls.
std::u16string ZipIncludeTrailingBackslash(const std::u16string& s);
std::u16string ZipExcludeTrailingBackslash(const std::u16string& s);
inline bool ZipDirectoryExists(const std::u16string& s) { return WideDirectoryExists(s); }
inline bool ZipFileExists(const std::u16string& s) { return WideFileExists(s); }
bool ZipMatchesMask(const std::u16string& name, const std::u16string& mask);
inline std::u16string ZipStringReplace(const std::u16string& s, const std::u16string& o, const std::u16string& n,
                                       bool wholeWord, unsigned flags) {
    return WideStringReplace(s, o, n, wholeWord, flags);
}
inline std::size_t ZipByteLength(const std::u16string& s) { return s.size() * 2; }
inline bool ZipDeleteFile(const std::u16string& s) { return WideFileDelete(s); }
inline bool ZipRenameFile(const std::u16string& a, const std::u16string& b) { return WideRenameFile(a, b); }
inline int ZipFindFirst(const std::u16string& p, std::uint32_t a, TWideSearchRec& r) { return WideFindFirst(p, a, r); }
inline int ZipFindNext(TWideSearchRec& r) { return WideFindNext(r); }
inline void ZipFindClose(TWideSearchRec& r) { WideFindClose(r); }
inline std::int32_t ZipFileGetAttr(const std::u16string& s) { return WideFileGetAttr(s); }
inline bool ZipFileSetAttr(const std::u16string& s, std::uint32_t a) { return WideFileSetAttr(s, a); }
inline std::u16string ZipExtractRelativePath(const std::u16string& b, const std::u16string& d) {
    return WideExtractRelativePath(b, d);
}
inline std::u16string ZipExtractFileName(const std::u16string& s) { return WideExtractFileName(s); }
inline std::u16string ZipExpandFileName(const std::u16string& s) { return WideExpandFileName(s); }
inline std::u16string ZipExtractFilePath(const std::u16string& s) { return WideExtractFilePath(s); }
std::u16string ZipExtractFileExt(const std::string& name);
inline std::u16string ZipGetCurrentDir() { return WideGetCurrentDir(); }
inline std::int32_t ZipFileAge(const std::u16string& s) { return WideFileAge(s); }

// Drives and folders (byte-string names, UTF-8). A path lies on a removable drive when the block
// device behind its file system (or its nearest existing folder's) says so in sysfs; everything
// else counts as fixed. IsRemovableDrive asks the query set last, or the system when none is set;
// setting one returns the previous (tests stand in removable disks with it).
bool SystemRemovableDrive(const std::string& path);
bool IsRemovableDrive(const std::string& path);
std::function<bool(const std::string&)> SetRemovableDriveQuery(std::function<bool(const std::string&)> query);
// Removes the empty folder tree under path (ending with "/"); files are left alone, so a folder
// that still holds one stays. True when path is gone afterwards.
bool RemoveDirectoryTree(const std::string& path);

}  // namespace zip
