#include "archive/file_selection.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "archive/archiver.h"
#include "archive/item_writer.h"
#include "text/mask_match.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

namespace fs = std::filesystem;

std::u16string NameDrivePart(const std::u16string& name) {
    const bool unc = name.size() >= 2 && name[0] == PathDelim && name[1] == PathDelim;
    return unc ? WideExtractFileDrive(name) : std::u16string();
}

std::u16string MakeFullPath(const std::u16string& base, const std::u16string& name, const std::u16string& workingDir) {
    const std::u16string wd = workingDir.empty() ? WideGetCurrentDir() : workingDir;
    const std::u16string dir = ZipIncludeTrailingBackslash(base.empty() ? wd : base);
    if (!NameDrivePart(name).empty()) return name;
    if (!name.empty()) return WideExpandFileName(name[0] == PathDelim ? name : dir + name);
    if (!base.empty() && NameDrivePart(base).empty() && !WideDirectoryExists(dir)) return base;
    if (dir == std::u16string(1, PathDelim)) return ZipIncludeTrailingBackslash(WideExpandFileName(u"."));
    return WideExpandFileName(dir);
}

std::u16string MakeStoredName(const std::u16string& path, const std::u16string& base, int storePathMode,
                              const std::u16string& workingDir) {
    const std::u16string fullBase = MakeFullPath(base, std::u16string(), workingDir);
    std::u16string full = MakeFullPath(fullBase, path, workingDir);
    if (!full.empty() && (full.back() == PathDelim || full.back() == u'\\')) full.pop_back();
    if (!full.empty() && full.back() == u'.') full.pop_back();
    std::u16string stored;
    switch (storePathMode) {
    case spNoPath: stored = WideExtractFileName(full); break;
    case spRelativePath:
        stored = WideExtractRelativePath(ZipIncludeTrailingBackslash(fullBase), full);
        // A file outside the base folder keeps its full path.
        if (stored.find(u"../") != std::u16string::npos || stored.find(u"..\\") != std::u16string::npos) stored = full;
        break;
    case spFullPathWithDrive: stored = WideExpandFileName(full); break;
    default: stored = full; break;
    }
    if (storePathMode != spFullPathWithDrive) {
        stored.erase(0, NameDrivePart(stored).size());
        if (!stored.empty() && (stored[0] == PathDelim || stored[0] == u'\\')) stored.erase(0, 1);
    }
    for (auto& c : stored)
        if (c == u'\\') c = u'/';
    return stored;
}

namespace {

bool HasWildcards(const std::u16string& s) { return s.find_first_of(u"*?") != std::u16string::npos; }

// Size, attributes and DOS time of one disk entry; false when it does not exist. Looked up by
// its name: reading the whole folder for each file added costs as much as the folder holds.
bool StatEntry(const std::u16string& path, TWideSearchRec& rec) {
    const std::u16string p = ZipExcludeTrailingBackslash(path);
    if (p.empty()) return false;
    return WideFindExact(p, faReadOnly | faHidden | faSysFile | faDirectory | faArchive, rec) == 0;
}

}  // namespace

std::u16string TZipBaseArchiver::ResolveMask(const std::u16string& mask, bool& relative) {
    relative = false;
    // A path from the root or with a drive stands as it is.
    if (!mask.empty() && mask[0] == PathDelim) return mask;
    if (mask.size() >= 2 && mask[0] == u'.' && mask[1] == PathDelim)
        return ZipIncludeTrailingBackslash(WorkingDir) + mask.substr(2);
    if (mask.find(u"../") != std::u16string::npos) return mask;
    relative = true;
    return ZipIncludeTrailingBackslash(WorkingDir) + mask;
}

bool TZipBaseArchiver::PathMatchesMask(const std::u16string& path, const std::u16string& mask, bool isDirectory) {
    if (mask == u"*.*") return true;
    bool relative = false;
    const std::u16string full = ResolveMask(mask, relative);
    const std::u16string p = ZipExcludeTrailingBackslash(path);
    if (relative) {
        std::u16string rel = WideExtractRelativePath(ZipIncludeTrailingBackslash(WorkingDir), p);
        if (mask.find(PathDelim) == std::u16string::npos) rel = WideExtractFileName(p);
        if (WideMatchesMask(rel, mask, true)) return true;
        const std::u16string base = MakeFullPath(BaseDir, std::u16string(), WorkingDir);
        return WideMatchesMask(WideExtractRelativePath(ZipIncludeTrailingBackslash(base), p), mask, true);
    }
    (void)isDirectory;
    const std::u16string pathDir = ZipWideLowerCase(WideExtractFilePath(p));
    const std::u16string maskDir = ZipWideLowerCase(WideExtractFilePath(full));
    if (pathDir == maskDir) return WideMatchesMask(p, full, true);
    if (WideExtractFileName(full) == u"*.*") {
        const std::u16string prefix = ZipWideLowerCase(full.substr(0, full.size() - 3));
        return pathDir.compare(0, prefix.size(), prefix) == 0;
    }
    return false;
}

int TZipBaseArchiver::UpdateItems(const std::u16string& path, bool isDirectory, std::uint32_t attributes,
                                  std::int32_t dosTime, std::int64_t size) {
    std::u16string stored = MakeStoredName(path, BaseDir, Options.StorePath, WorkingDir);
    if (isDirectory && !stored.empty()) stored += u'/';
    std::string comment;
    DoOnStoreFile(stored, attributes, comment, path);
    if (stored.empty()) return -1;  // nothing left to name the entry by

    // A date a DOS stamp cannot hold becomes its first day.
    const std::uint32_t stamp = dosTime == -1 ? (0x0021u << 16) : static_cast<std::uint32_t>(dosTime);
    TZipDirArray& items = dirManager_->Items;
    int index = -1;
    TZipProcessOperation operation = poAdd;
    if (items.FindItem(stored, index)) {
        const TDirItem& old = items.GetItem(index);
        // Compared unsigned: from 2044 on the year's top bit is set.
        const std::uint32_t oldTime = (static_cast<std::uint32_t>(old.Header.ModDate) << 16) | old.Header.ModTime;
        bool replace = false;
        switch (Options.OverwriteMode) {
        case omPrompt: {
            std::u16string dest = stored;
            DoOnConfirmOverwrite(path, dest, replace);
            break;
        }
        case omAlways: replace = true; break;
        case omNever: replace = false; break;
        case omIfNewer: replace = stamp > oldTime; break;
        case omIfOlder: replace = stamp < oldTime; break;
        }
        if (!replace) return -1;
        operation = poUpdate;
    } else {
        index = items.GetCount();
        items.SetCount(index + 1);
    }

    TDirItem item;
    TCentralHeader& h = item.Header;
    h.Signature = UsePKSignatures ? TCentralHeader::kSignature : 0x03025C61u;
    h.VersionMadeBy = Options.OEMFileNames ? 0x0014 : 0x0B14;
    h.VersionNeeded = !UsePKSignatures ? 0x4114 : Options.OEMFileNames ? 0x0014 : 0x0B14;
    if (!Password().empty()) h.Flags = kFlagEncrypted;
    h.Method = static_cast<std::uint16_t>(CompressionMethod);
    h.ModTime = static_cast<std::uint16_t>(stamp);
    h.ModDate = static_cast<std::uint16_t>(stamp >> 16);
    h.Crc32 = 0xFFFFFFFF;
    h.ExternalAttr = attributes;
    h.CommentLength = static_cast<std::uint16_t>(std::min<std::size_t>(comment.size(), 0xFFFF));
    item.Name = stored;
    item.Comment = comment;
    item.Pending = true;
    item.Password = Password();
    item.SourceFileName = isDirectory ? ZipExcludeTrailingBackslash(path) : path;
    item.ItemCompressionMode = static_cast<std::uint8_t>(CompressionMode());
    item.TargetMethod = static_cast<std::uint16_t>(CompressionMethod);
    item.ItemOperation = operation;
    if (isDirectory) {
        h.Method = 0;
        h.Crc32 = 0;
        h.Flags = 2;
        item.ItemCompressionMode = 0;
        item.TargetMethod = 0;
    }
    (void)size;
    items.SetItem(index, item);
    return index;
}

void TZipBaseArchiver::CollectFilesToAdd(const std::u16string& mask, int searchAttr, bool recurse,
                                         TUniStrings& exclusions) {
    bool relative = false;
    const std::u16string full = ResolveMask(mask, relative);
    const std::u16string folder = WideExtractFilePath(full);
    const std::u16string namePart = WideExtractFileName(full);
    {
        std::error_code ec;
        const std::string real = fs::canonical(fs::path(WideToFsName(folder.empty() ? u"." : folder)), ec).string();
        if (!ec && !SearchedFolders.insert(real).second) return;  // searched already: a link leads back here
    }

    auto offer = [&](const std::u16string& entryPath, const TWideSearchRec& rec) {
        const bool isDir = (rec.Attr & faDirectory) != 0;
        const std::u16string path = isDir ? ZipIncludeTrailingBackslash(entryPath) : entryPath;
        for (int i = 0; i < exclusions.Count(); ++i)
            if (PathMatchesMask(path, exclusions[i], isDir)) return;
        bool confirm = true;
        DoOnConfirmProcessFile(path, poAdd, confirm);
        if (!confirm) return;
        const int index = UpdateItems(path, isDir, rec.Attr, rec.Time, rec.Size);
        if (index < 0) return;
        TDirItem& item = dirManager_->Items.GetItem(index);
        for (int i = 0; i < NoCompressionMasks().Count(); ++i) {
            if (PathMatchesMask(path, NoCompressionMasks()[i], isDir)) {
                item.ItemCompressionMode = 0;
                item.TargetMethod = item.Header.Method = (CompressionMethod == 0 || CompressionMethod == 8) ? 0 : 255;
                break;
            }
        }
        if (isDir) return;
        if (rec.Size < 0xFFFFFFFFLL && Zip64Mode != zmAlways) {
            item.Header.UncompressedSize = static_cast<std::uint32_t>(rec.Size);
        } else {
            item.HasZip64 = true;
            item.Header.UncompressedSize = 0xFFFFFFFF;
        }
        item.UncompressedSize64 = static_cast<std::uint64_t>(rec.Size);
    };

    // Only the name part is a pattern; a folder may hold "?" or "*" on this platform.
    if (!HasWildcards(namePart)) {
        TWideSearchRec rec;
        if (StatEntry(full, rec)) {
            offer(ZipExcludeTrailingBackslash(full), rec);
            return;
        }
    }

    const std::uint32_t fileAttr = static_cast<std::uint32_t>(searchAttr) & ~static_cast<std::uint32_t>(faDirectory);
    TWideSearchRec rec;
    for (int r = WideFindFirst(full, fileAttr, rec); r == 0; r = WideFindNext(rec)) {
        if (rec.Attr & faDirectory) continue;
        const std::uint32_t all = faArchive | faReadOnly | faHidden | faSysFile;
        if ((rec.Attr & fileAttr) != 0 || (rec.Attr == 0 && (fileAttr & all) == all)) offer(folder + rec.Name, rec);
    }
    WideFindClose(rec);

    if (!(searchAttr & faDirectory) && !recurse) return;
    const std::uint32_t dirAttr = faDirectory | (static_cast<std::uint32_t>(searchAttr) & (faHidden | faSysFile));
    std::vector<TWideSearchRec> subfolders;
    for (int r = WideFindFirst(folder + u"*", dirAttr, rec); r == 0; r = WideFindNext(rec))
        if ((rec.Attr & faDirectory) && rec.Name != u"." && rec.Name != u"..") subfolders.push_back(rec);
    WideFindClose(rec);
    for (TWideSearchRec& sub : subfolders) {
        sub.FindHandle.reset();
        const std::u16string subPath = folder + sub.Name;
        bool excluded = false;
        for (int i = 0; i < exclusions.Count() && !excluded; ++i)
            excluded = PathMatchesMask(ZipIncludeTrailingBackslash(subPath), exclusions[i], true);
        if (excluded) continue;
        if ((searchAttr & faDirectory) && (namePart == u"*.*" || WideMatchesMask(sub.Name, namePart, true)))
            offer(subPath, sub);
        if (recurse) CollectFilesToAdd(subPath + PathDelim + namePart, searchAttr, recurse, exclusions);
    }
}

void TZipBaseArchiver::AddFilesInternal(TUniStrings& masks, int searchAttr, bool recurse, TUniStrings& exclusions) {
    std::lock_guard<std::recursive_mutex> lock(ZipGlobalLock());
    struct Restore {
        std::u16string& dir;
        std::u16string old;
        ~Restore() { dir = old; }
    } restore{WorkingDir, WorkingDir};
    WorkingDir = MakeFullPath(BaseDir, std::u16string(), WorkingDir);
    for (int i = 0; i < masks.Count(); ++i) {
        SearchedFolders.clear();
        CollectFilesToAdd(masks[i], searchAttr, recurse, exclusions);
    }
    SearchedFolders.clear();
}

}  // namespace zip
