#include "archive/archiver.h"

#include <cerrno>
#include <stdexcept>

#include <sys/statvfs.h>

#include "archive/file_selection.h"
#include "archive/rollback_record.h"
#include "text/code_pages.h"
#include "text/mask_match.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

std::recursive_mutex& ZipGlobalLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::int64_t TZipSpanningOptions::VolumeSizeFor(int volumeNumber) const {
    if (volumeNumber == 0 && FirstVolumeSize > 0) return FirstVolumeSize;
    switch (VolumeSize) {
    case vsCustom: return customVolumeSize_;
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
    case vs4700MB: return 4928307200LL;
    case vsAutoDetect: break;
    }
    return -1;
}

bool TZipVolumeNumberInfo::Equals(const TZipVolumeNumberInfo& o) const {
    if (IsFirst() && o.IsFirst()) return true;
    if (IsLastVolume() && o.IsLastVolume()) return true;
    return volumeNumber < 0 ? state == o.state : volumeNumber == o.volumeNumber;
}

TModalResult TZipPrompter::MessageDlg(const std::string& /*text*/, unsigned buttons) {
    if (buttons & mbYes) return mrYes;
    if (buttons & mbAbort) return mrAbort;
    if (buttons & mbCancel) return mrCancel;
    return (buttons & mbOK) ? mrOk : mrNone;
}

bool TZipPrompter::InputQuery(const std::string&, const std::string&, std::string&) { return false; }

std::int64_t ZipFreeSpace(const std::u16string& name) {
    std::u16string dir = WideExtractFilePath(WideExpandFileName(name.empty() ? u"." : name));
    for (;;) {
        struct statvfs st {};
        if (!dir.empty() && ::statvfs(WideToFsName(dir).c_str(), &st) == 0)
            return static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize);
        // Walk up to the nearest existing folder.
        const std::u16string up = WideExtractFilePath(ZipExcludeTrailingBackslash(dir));
        if (up.empty() || up == dir) return -1;
        dir = up;
    }
}

namespace {

std::u16string ToDiskSeparators(std::u16string s) {
    for (auto& c : s)
        if (c == u'/') c = PathDelim;
    return s;
}

std::u16string ToArchiveSeparators(std::u16string s) {
    for (auto& c : s)
        if (c == PathDelim) c = u'/';
    return s;
}

// The mask test of archive searches: "*.*" counts as "*", a mask ending in "." matches only
// names without an extension, and a name ending in "." is matched without it.
bool ArchiveNameMatches(std::u16string name, std::u16string mask) {
    if (mask.empty()) return false;
    for (std::size_t p; (p = mask.find(u"*.*")) != std::u16string::npos;) mask.erase(p + 1, 2);  // "*.*" becomes "*"
    if (mask.back() == u'.') {
        mask.pop_back();
        const std::size_t slash = name.rfind(u'/');
        if (name.find(u'.', slash == std::u16string::npos ? 0 : slash + 1) != std::u16string::npos &&
            name.back() != u'.')
            return false;
    }
    if (!name.empty() && name.back() == u'.') name.pop_back();
    return WideMatchesMask(name, mask, true);
}

std::u16string ArchiveDirPart(const std::u16string& name) {
    const std::size_t slash = name.rfind(u'/');
    return slash == std::u16string::npos ? std::u16string() : name.substr(0, slash);
}

std::u16string ArchiveFilePart(const std::u16string& name) {
    const std::size_t slash = name.rfind(u'/');
    return slash == std::u16string::npos ? name : name.substr(slash + 1);
}

}  // namespace

// --- construction -------------------------------------------------------------------------------

TZipBaseArchiver::TZipBaseArchiver(TComponent* owner) : TComponent(owner) {
    VolumeNumberInfo.Init();
    SetCompressionLevel(clFastest);
}

TZipBaseArchiver::~TZipBaseArchiver() {
    try {
        CloseArchive();
    } catch (...) {
        // A destructor cannot report; the stream and manager are released below in any case.
    }
    dirManager_.reset();
    FreeArchiveStream();
}

TZipArchiver::TZipArchiver(TComponent* owner) : TZipBaseArchiver(owner) {
    UsePKSignatures = true;
    Zip64Mode = zmDisabled;
    UpdateCompressionMethod();  // the base constructor could not reach this class's rule
}

// --- properties ---------------------------------------------------------------------------------

void TZipBaseArchiver::SetCompressionMode(int mode) {
    if (mode < 0 || mode > 9) Fail(5);
    compressionMode_ = mode;
    compressionLevel_ = mode == 0 ? clNone : mode <= 3 ? clFastest : mode <= 6 ? clNormal : clMax;
    UpdateCompressionMethod();
}

void TZipBaseArchiver::SetCompressionLevel(TZipCompressionLevel level) {
    static const int modes[] = {0, 1, 6, 9};
    if (level < clNone || level > clMax) Fail(5);
    compressionLevel_ = level;
    compressionMode_ = modes[level];
    UpdateCompressionMethod();
}

void TZipBaseArchiver::UpdateCompressionMethod() { CompressionMethod = -1; }

void TZipArchiver::UpdateCompressionMethod() { CompressionMethod = CompressionMode() != 0 ? 8 : 0; }

void TZipBaseArchiver::SetPassword(const std::string& password) { password_ = password; }

void TZipArchiver::SetPassword(const std::string& password) {
    if (password.empty()) EncryptionMethod = caNoEncryption;
    else if (Password().empty()) EncryptionMethod = caPkzipClassic;
    TZipBaseArchiver::SetPassword(password);
}

std::u16string TZipBaseArchiver::CurrentVersion() const { return u"1.00 "; }

void TZipBaseArchiver::SetCurrentVersion(const std::u16string&) {}

void TZipBaseArchiver::SetSpanningMode(TZipSpanningMode mode) {
    if (active_) throw std::runtime_error("Cannot set spanning mode on open archive");
    spanningMode_ = mode;
}

void TZipBaseArchiver::SetInMemory(bool value) {
    if (value == inMemory_) return;
    if (active_ && inMemory_) {
        if (FileName.empty()) Fail(29);
        // Commit what is pending before the copy, so that the file gets it too.
        CommitChanges();
        if (HoldsNoArchive()) dirManager_->SaveDir(true, nullptr);
        {
            TUniFileStream file(FileName, fmCreate);
            file.CopyFrom(*archiveStream_, 0);
            file.Close();  // raises when what was written may be lost
        }
        CloseArchive();
        inMemory_ = false;
        ReopenArchive();
    } else if (active_) {
        if (spanningMode_ != smNone) Fail(51);
        CloseArchive();
        inMemory_ = true;
        ReopenArchive();
    }
    inMemory_ = value;
}

// --- helpers ------------------------------------------------------------------------------------

void TZipBaseArchiver::Fail(int nativeCode) { throw EZipException::CreateNative(nativeCode, this); }

void TZipBaseArchiver::FailFmt(int nativeCode, std::initializer_list<TZipFmtArg> args) {
    throw EZipException::CreateNativeFmt(nativeCode, this, args);
}

TZipPrompter& TZipBaseArchiver::Prompts() {
    static TZipPrompter defaults;
    return Prompter ? *Prompter : defaults;
}

void TZipBaseArchiver::SetArchiveStream(std::unique_ptr<TStream> stream) {
    FreeArchiveStream();
    archiveStream_ = stream.get();
    ownedStream_ = std::move(stream);
}

void TZipBaseArchiver::FreeArchiveStream() {
    if (!ExternalStream) ownedStream_.reset();
    else ownedStream_.release();  // the caller's: never freed here
    archiveStream_ = nullptr;
}

bool TZipBaseArchiver::HoldsNoArchive() const {
    // A new archive may hold its self-extractor stub alone: the directory follows it.
    const std::int64_t start = dirManager_ && dirManager_->IsNew ? dirManager_->ArchiveStart : 0;
    return archiveStream_ && dirManager_ && archiveStream_->Size() == start;
}

void TZipBaseArchiver::CheckOpen() {
    if (!active_) Fail(13);
}

void TZipBaseArchiver::CheckModifiable() {
    if (UpdateDepth == 0 && dirManager_ && dirManager_->Items.GetCount() > 0 && spanningMode_ != smNone) Fail(52);
}

// --- open and close -----------------------------------------------------------------------------

void TZipBaseArchiver::OpenArchive(std::uint16_t mode) {
    TransactionDone = false;
    if (!inMemory_ && WideExtractFileName(FileName).empty()) Fail(10);
    if (mode < fmCreate) {
        // A set's last volume that a killed commit renamed away comes back from its record below.
        if (!WideFileExists(FileName) && spanningMode_ != smSpanning && !IsRemovableDrive(WideToFsName(FileName)) &&
            !(OpensForWriting(mode) && WideFileExists(RollbackRecordName(RealFileName(FileName)))))
            FailFmt(12, {FileName});
        if (inMemory_) FailFmt(28, {FileName});
    }
    // Volumes are files: a set in memory would lose every volume but the last.
    if (inMemory_ && spanningMode_ != smNone) Fail(51);
    CloseArchive();
    SetVolumeIds.clear();
    ExternalStream = false;
    OpenMode = mode;
    if (OpensForWriting(mode)) {
        const std::u16string real = RealFileName(FileName);
        // A new set's last volume gets the set's name only when it is written.
        if (mode != fmCreate || spanningMode_ == smNone) LockForWriting(FileName, mode == fmCreate);
        if (mode == fmCreate) {
            // The old archive goes: so does the record of its killed commit.
            WideFileDelete(RollbackRecordName(real));
        } else {
            // What a killed commit left is put back before anything is read.
            bool busy = false;
            if (PutBackRollbackRecord(real, busy) == TRollbackOutcome::Failed) {
                ReleaseWriteLocks();
                if (busy) FailFmt(36, {FileName});
                FailFmt(33, {RollbackRecordName(real)});
            }
        }
    }
    if (mode == fmCreate || inMemory_) {
        CurrentVolumeName.clear();
        try {
            CreateDirManager();
        } catch (...) {
            // The volume just created holds nothing: it does not stay behind.
            const std::u16string made = CurrentVolumeName;
            dirManager_.reset();
            FreeArchiveStream();
            if (!inMemory_ && !made.empty()) WideFileDelete(made);
            ReleaseWriteLocks();
            throw;
        }
        active_ = true;
        if (AfterOpen) AfterOpen(this);
    } else {
        try {
            OpenExistingArchive();
        } catch (...) {
            ReleaseWriteLocks();
            throw;
        }
        active_ = true;
        if (AfterOpen) AfterOpen(this);
    }
}

void TZipBaseArchiver::ReopenArchive() {
    TransactionDone = false;
    if (!inMemory_ && WideExtractFileName(FileName).empty()) Fail(9);
    std::uint16_t mode = fmCreate;
    if (!inMemory_ && WideFileExists(FileName)) {
        const int probe = WideFileOpen(FileName, fmOpenReadWrite | fmShareDenyWrite);
        mode = probe >= 0 ? static_cast<std::uint16_t>(fmOpenReadWrite | fmShareDenyWrite)
                          : static_cast<std::uint16_t>(fmOpenRead | fmShareDenyNone);
        WideFileClose(probe);
    }
    OpenArchive(mode);
}

void TZipBaseArchiver::SetActive(bool active) {
    if (active == active_) return;
    if (active) ReopenArchive();
    else CloseArchive();
}

void TZipBaseArchiver::CloseArchive() {
    if (active_) {
        try {
            CommitChanges();
            // An empty file opened read-only stays as it is.
            const bool writable = OpenMode == fmCreate || (OpenMode & 3) != 0 || inMemory_ || ExternalStream;
            if (writable && HoldsNoArchive() && !dirManager_->VolumeOfSet) dirManager_->SaveDir(true, nullptr);
            dirManager_.reset();
            if (writable) CloseArchiveFile();
        } catch (...) {
            active_ = false;
            dirManager_.reset();
            FreeArchiveStream();
            ReleaseWriteLocks();
            throw;
        }
        active_ = false;
    }
    dirManager_.reset();
    FreeArchiveStream();
    // An error the system reports on the archive's file is a write failure, as on its stream.
    if (!ReleaseWriteLocks()) Fail(46);
}

// --- transactions -------------------------------------------------------------------------------

void TZipBaseArchiver::BeginUpdate() {
    if (spanningMode_ != smNone && TransactionDone) throw EZipException::CreateNative(62, nullptr);
    if (UpdateDepth == 0) {
        SetActive(true);
        if ((OpenMode & 3) == 0 && !ExternalStream) Fail(32);
        // One volume of a set read on its own: what is written there would break the set.
        if (dirManager_->VolumeOfSet) FailFmt(19, {FileName});
        if (dirManager_->LeadingItemDropped) Fail(57);
        TZipDirArray& items = dirManager_->Items;
        for (int i = 0; i < items.GetCount(); ++i) items.GetItem(i).Pending = false;
        dirManager_->BackupItems.Assign(items);
    }
    ++UpdateDepth;
}

void TZipBaseArchiver::EndUpdate() {
    if (UpdateDepth == 0) return;
    if (UpdateDepth > 1) {
        --UpdateDepth;
        return;
    }
    TransactionDone = true;
    CommitChanges();
    if (spanningMode_ != smNone && OpenMode == fmCreate) OpenMode = fmOpenReadWrite | fmShareDenyWrite;
}

void TZipBaseArchiver::CancelUpdate() {
    // Items a failed add had inserted (pending, never written) must not reach a later directory.
    if (UpdateDepth > 0 && dirManager_) dirManager_->Items.Assign(dirManager_->BackupItems);
    UpdateDepth = 0;
}

// --- adding and searching -----------------------------------------------------------------------

void TZipBaseArchiver::AddFiles(const std::u16string& fileMask, int searchAttr, const std::u16string& exclusionMask) {
    CheckOpen();
    CheckModifiable();
    TUniStringList masks;
    TUniStringList exclusions;
    masks.Add(fileMask);
    if (!exclusionMask.empty()) exclusions.Add(exclusionMask);
    // The archive never packs itself.
    if (!FileName.empty()) exclusions.Add(MakeFullPath(std::u16string(), FileName, WorkingDir));
    if (!CurrentVolumeName.empty() && CurrentVolumeName != FileName)
        exclusions.Add(MakeFullPath(std::u16string(), CurrentVolumeName, WorkingDir));
    try {
        BeginUpdate();
        AddFilesInternal(masks, searchAttr, Options.Recurse, exclusions);
        EndUpdate();
    } catch (...) {
        CancelUpdate();
        throw;
    }
}

int TZipBaseArchiver::FileCount() {
    CheckOpen();
    struct RecurseGuard {
        bool& flag;
        bool old;
        ~RecurseGuard() { flag = old; }
    } guard{Options.Recurse, Options.Recurse};
    Options.Recurse = true;
    int folders = 0;
    TZipArchiveItem f;
    for (bool found = FindFirst(u"*.*", f, faDirectory, std::u16string()); found; found = FindNext(f))
        if (f.ExternalFileAttributes & faDirectory) ++folders;
    return dirManager_->Items.GetCount() - folders;
}

bool TZipBaseArchiver::FindFirst(const std::u16string& fileMask, TZipArchiveItem& f, int searchAttr,
                                 const std::u16string& exclusionMask) {
    CheckOpen();
    std::u16string mask = fileMask;
    const std::u16string drive = NameDrivePart(mask);
    if (!drive.empty() && Options.StorePath != spFullPathWithDrive) mask.erase(0, drive.size());
    f.FileMask = ToArchiveSeparators(mask);
    f.ExclusionMask = exclusionMask;
    f.UseProperties = false;
    f.Wildcards = mask.find_first_of(u"*?") != std::u16string::npos;
    f.SearchAttr = searchAttr;
    f.ItemIndex = 0;
    return SearchItems(f);
}

bool TZipBaseArchiver::FindNext(TZipArchiveItem& f) {
    CheckOpen();
    const int old = f.ItemIndex;
    ++f.ItemIndex;
    if (SearchItems(f)) return true;
    f.ItemIndex = old;
    return false;
}

bool TZipBaseArchiver::SearchItems(TZipArchiveItem& f) {
    TZipDirArray& items = dirManager_->Items;
    const std::u16string maskDir = ArchiveDirPart(f.FileMask);
    auto anyMatches = [](const TUniStrings& masks, const std::u16string& a, const std::u16string& b) {
        for (int i = 0; i < masks.Count(); ++i) {
            const std::u16string m = ToArchiveSeparators(masks[i]);
            if (ArchiveNameMatches(a, m) || ArchiveNameMatches(b, m)) return true;
        }
        return false;
    };
    for (int i = std::max(f.ItemIndex, 0); i < items.GetCount(); ++i) {
        const TDirItem& item = items.GetItem(i);
        std::u16string name = item.Name;
        if (!name.empty() && (name.back() == u'/' || name.back() == u'\\')) name.pop_back();
        if (!Options.Recurse && ZipWideLowerCase(ArchiveDirPart(name)) != ZipWideLowerCase(maskDir)) continue;
        const std::u16string bare = ArchiveFilePart(name);
        bool match;
        if (f.UseProperties) {
            match = anyMatches(fileMasks_, name, bare) && !anyMatches(exclusionMasks_, name, bare);
        } else {
            match = ArchiveNameMatches(name, f.FileMask) || ArchiveNameMatches(bare, f.FileMask);
            if (match && !f.ExclusionMask.empty()) {
                const std::u16string ex = ToArchiveSeparators(f.ExclusionMask);
                match = !ArchiveNameMatches(name, ex) && !ArchiveNameMatches(bare, ex);
            }
        }
        if (!match) continue;
        const std::uint32_t attr = item.Header.ExternalAttr;
        if ((attr & ~static_cast<std::uint32_t>(f.SearchAttr) & 30u) != 0) continue;

        f.ItemIndex = i;
        f.FileName = ToDiskSeparators(ArchiveFilePart(item.Name));
        const std::size_t slash = item.Name.rfind(u'/');
        f.StoredPath =
            ToDiskSeparators(slash == std::u16string::npos ? std::u16string() : item.Name.substr(0, slash + 1));
        const TCentralHeader& h = item.Header;
        f.CompressedSize = h.CompressedSize == 0xFFFFFFFFu ? static_cast<std::int64_t>(item.CompressedSize64)
                                                           : static_cast<std::int64_t>(h.CompressedSize);
        f.UncompressedSize = h.UncompressedSize == 0xFFFFFFFFu ? static_cast<std::int64_t>(item.UncompressedSize64)
                                                               : static_cast<std::int64_t>(h.UncompressedSize);
        if (f.UncompressedSize == 0) f.CompressionRate = 100;
        else
            f.CompressionRate = std::max(
                0.0, (1.0 - static_cast<double>(f.CompressedSize) / static_cast<double>(f.UncompressedSize)) * 100.0);
        f.Encrypted = (h.Flags & 1) != 0;
        f.LastModFileTime = h.ModTime;
        f.LastModFileDate = h.ModDate;
        f.CRC = h.Crc32;
        f.ExternalFileAttributes = h.ExternalAttr;
        f.Comment = item.Comment;
        return true;
    }
    return false;
}

// --- event dispatchers --------------------------------------------------------------------------

void TZipBaseArchiver::DoOnOverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase,
                                           bool& cancel) {
    if (OnOverallProgress) OnOverallProgress(this, progress, operation, phase, cancel);
    else cancel = false;
}

void TZipBaseArchiver::DoOnFileProgress(const std::u16string& fileName, double progress, TZipProcessOperation operation,
                                        TZipProgressPhase phase, bool& cancel) {
    if (OnFileProgress) OnFileProgress(this, ToDiskSeparators(fileName), progress, operation, phase, cancel);
    else cancel = false;
}

void TZipBaseArchiver::DoOnCopyTempFileProgress(double progress, TZipProgressPhase phase, bool& cancel) {
    cancel = false;
    if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, progress, phase, cancel);
}

void TZipBaseArchiver::DoOnConfirmOverwrite(const std::u16string& sourceFileName, std::u16string& destFileName,
                                            bool& confirm) {
    if (OnConfirmOverwrite) {
        OnConfirmOverwrite(this, sourceFileName, destFileName, confirm);
        return;
    }
    const std::string text = ZipFormat(ZipPromptText(TZipPrompt::OverwriteFile), {destFileName, sourceFileName});
    switch (Prompts().MessageDlg(text, mbYes | mbNo | mbNoToAll | mbYesToAll)) {
    case mrYes: confirm = true; break;
    case mrNoToAll:
        confirm = false;
        Options.OverwriteMode = omNever;
        break;
    case mrYesToAll:
        confirm = true;
        Options.OverwriteMode = omAlways;
        break;
    default: confirm = false; break;
    }
}

void TZipBaseArchiver::DoOnConfirmProcessFile(const std::u16string& fileName, TZipProcessOperation operation,
                                              bool& confirm) {
    confirm = true;
    if (OnConfirmProcessFile) OnConfirmProcessFile(this, fileName, operation, confirm);
}

void TZipBaseArchiver::DoOnPassword(const std::u16string& fileName, std::string& newPassword, bool& skipFile) {
    if (OnPassword) {
        OnPassword(this, fileName, newPassword, skipFile);
        return;
    }
    const std::string caption = ZipFormat(ZipPromptText(TZipPrompt::PasswordFor), {fileName});
    skipFile = !Prompts().InputQuery(caption, ZipPromptText(TZipPrompt::EnterPassword), newPassword);
}

void TZipBaseArchiver::DoOnProcessFileFailure(const std::u16string& fileName, TZipProcessOperation operation,
                                              int nativeError, int errorCode, const std::u16string& errorMessage,
                                              TZipAction& action) {
    action = fxaIgnore;
    if (OnProcessFileFailure) {
        OnProcessFileFailure(this, fileName, operation, nativeError, errorCode, errorMessage, action);
        return;
    }
    if (nativeError == 45) {
        action = fxaAbort;
        return;
    }
    TModalResult r;
    if (nativeError == 61) r = Prompts().MessageDlg(UTF8EncodeWide(errorMessage), mbAbort | mbIgnore);
    else
        r = Prompts().MessageDlg(ZipFormat(ZipPromptText(TZipPrompt::ProcessingError), {errorMessage}),
                                 mbAbort | mbRetry | mbIgnore);
    action = r == mrRetry ? fxaRetry : r == mrIgnore ? fxaIgnore : fxaAbort;
}

void TZipBaseArchiver::DoOnRequestBlankVolume(int volumeNumber, std::u16string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeFileName(volumeNumber, false);
    cancel = false;
    if (OnRequestBlankVolume) {
        OnRequestBlankVolume(this, volumeNumber + 1, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        const std::string text =
            ZipFormat(ZipPromptText(TZipPrompt::InsertBlankDisk), {std::int64_t{volumeNumber} + 1});
        cancel = Prompts().MessageDlg(text, mbOK | mbCancel) != mrOk;
    }
}

void TZipBaseArchiver::DoOnRequestFirstVolume(std::u16string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeFileName(0, true);
    cancel = false;
    if (OnRequestFirstVolume) {
        OnRequestFirstVolume(this, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        cancel = Prompts().MessageDlg(ZipPromptText(TZipPrompt::InsertFirstDisk), mbOK | mbCancel) != mrOk;
        volumeFileName = VolumeFileName(0, true);
    } else {
        cancel = !WideFileExists(volumeFileName) && OpenMode < fmCreate;
    }
}

void TZipBaseArchiver::DoOnRequestLastVolume(std::u16string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeFileName(-1, true);
    cancel = false;
    if (OnRequestLastVolume) {
        OnRequestLastVolume(this, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        TModalResult r = Prompts().MessageDlg(ZipPromptText(TZipPrompt::InsertLastDisk), mbOK | mbCancel);
        while (r == mrOk && !WideFileExists(volumeFileName))
            r = Prompts().MessageDlg(ZipFormat(ZipPromptText(TZipPrompt::FileNotOnDisk), {volumeFileName}),
                                     mbOK | mbCancel);
        cancel = r != mrOk;
    } else {
        cancel = !WideFileExists(volumeFileName);
    }
}

void TZipBaseArchiver::DoOnRequestMiddleVolume(int volumeNumber, std::u16string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeFileName(volumeNumber, true);
    cancel = false;
    if (OnRequestMiddleVolume) {
        OnRequestMiddleVolume(this, volumeNumber + 1, volumeFileName, cancel);
        return;
    }
    if (spanningMode_ == smSpanning) {
        const std::string text = ZipFormat(ZipPromptText(TZipPrompt::InsertDisk), {std::int64_t{volumeNumber} + 1});
        cancel = Prompts().MessageDlg(text, mbOK | mbCancel) != mrOk;
    } else {
        cancel = !WideFileExists(volumeFileName);
    }
    volumeFileName = VolumeFileName(volumeNumber, true);
}

void TZipBaseArchiver::DoOnDiskFull(int volumeNumber, const std::u16string& volumeFileName, bool& cancel) {
    cancel = false;
    if (OnDiskFull) {
        try {
            OnDiskFull(this, volumeNumber + 1, volumeFileName, cancel);
        } catch (...) {
            cancel = true;  // a handler that fails refuses; the caller must not try again
            throw;
        }
    } else if (spanningMode_ == smSpanning) {
        const std::string text = ZipFormat(ZipPromptText(TZipPrompt::DiskFull),
                                           {SpanningOptions.VolumeSizeFor(volumeNumber), ZipFreeSpace(volumeFileName)});
        cancel = Prompts().MessageDlg(text, mbOK | mbCancel) != mrOk;
    } else {
        cancel = true;
    }
}

void TZipBaseArchiver::DoOnInternalEvent(std::uint8_t kind, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    if (internalEvent_) internalEvent_(this, kind, a, b, c);
}

void TZipBaseArchiver::DoOnStoreFile(std::u16string& fileName, std::uint32_t& fileAttr, std::string& comment,
                                     const std::u16string& originalFileName) {
    fileName = ToDiskSeparators(fileName);
    if (OnStoreFile) OnStoreFile(this, fileName, fileAttr, comment, originalFileName);
    fileName = ToArchiveSeparators(fileName);
}

void TZipBaseArchiver::DoOnExtractFile(std::u16string& fileName, std::uint32_t& fileAttr, const std::string& comment) {
    fileName = ToDiskSeparators(fileName);
    if (OnExtractFile) OnExtractFile(this, fileName, fileAttr, comment);
}

// --- volume names ---------------------------------------------------------------------------------

std::u16string TZipBaseArchiver::VolumeFileName(int volumeNumber, bool forReading) {
    const std::u16string dir = WideExtractFilePath(FileName);
    const std::u16string ext = WideExtractFileExt(FileName);
    const std::u16string base =
        WideExtractFileName(FileName).substr(0, WideExtractFileName(FileName).size() - ext.size());
    const bool hasStub = (dirManager_ && dirManager_->ArchiveStart != 0) || !SFXStub.empty() ||
                         ZipWideLowerCase(ext).find(u".exe") != std::u16string::npos;
    auto number = [](const char* fmt, int n) { return FsNameToWide(ZipFormat(fmt, {std::int64_t{n}})); };
    auto build = [&](bool advanced, int n) -> std::u16string {
        if (n < 0) {  // the last volume
            // Behind a stub only a name of the stub's own needs another one for the last volume;
            // any other keeps its name, so that the set reopens by it.
            if (spanningMode_ == smSplitting && hasStub && IsSFXFile(FileName))
                return dir + base + (UsePKSignatures ? u".ZIP" : u".ZA");
            return FileName;
        }
        if (spanningMode_ == smSpanning)
            return advanced ? dir + base + u"_" + number("%.3u", n + 1) + (hasStub ? u".exe" : ext) : FileName;
        if (spanningMode_ == smSplitting) {
            if (n == 0 && hasStub) return dir + base + u".exe";
            if (advanced) return dir + base + u"_" + number("%.3u", n + 1) + ext;
            const bool baseMethod = static_cast<std::uint16_t>(CompressionMethod) >= 252;
            return dir + base + (baseMethod ? u".F" : u".Z") + number("%.2d", n + 1);
        }
        return FileName;
    };
    std::u16string name = build(SpanningOptions.AdvancedNaming, volumeNumber);
    if (forReading && spanningMode_ == smSpanning && !WideFileExists(name)) {
        const std::u16string other = build(!SpanningOptions.AdvancedNaming, volumeNumber);
        if (WideFileExists(other)) name = other;
    }
    // Sets made elsewhere often name their volumes ".z01" rather than ".Z01".
    auto lowerExt = [](const std::u16string& n) {
        return n.substr(0, n.size() - WideExtractFileExt(n).size()) + ZipWideLowerCase(WideExtractFileExt(n));
    };
    if (forReading && !WideFileExists(name)) {
        if (WideFileExists(lowerExt(name))) name = lowerExt(name);
        // A split set behind a stub begins with the stub's extension, whatever its own name.
        else if (spanningMode_ == smSplitting && volumeNumber == 0 && WideFileExists(dir + base + u".exe"))
            name = dir + base + u".exe";
    } else if (!forReading && ExtendingSet && volumeNumber >= 0) {
        // New volumes of such a set are named alike.
        const std::u16string first = build(SpanningOptions.AdvancedNaming, 0);
        if (!WideFileExists(first) && WideFileExists(lowerExt(first))) name = lowerExt(name);
    }
    return name;
}

}  // namespace zip
