// The archive engine's public face: properties, events with their default handlers, open and
// close, transactions, AddFiles, FileCount and FindFirst/FindNext.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/deflate_pipeline.h"
#include "archive/dir_items.h"
#include "archive/dir_manager.h"
#include "archive/parallel_deflate.h"
#include "crypto/secret_string.h"
#include "text/component.h"
#include "text/errors.h"
#include "text/streams.h"
#include "text/wide_files.h"
#include "text/wide_strings.h"

namespace zip {

enum TZipSpanningMode { smNone, smSpanning, smSplitting };
enum TZipStorePathMode { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZipFileShareMode { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TZipOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZipVolumeSize {
    vsAutoDetect,
    vsCustom,
    vs1_44MB,
    vs100MB,
    vs200MB,
    vs250MB,
    vs600MB,
    vs650MB,
    vs700MB,
    vs4700MB
};
enum TZip64Mode { zmDisabled, zmAuto, zmAlways };
enum TZipCryptoAlgorithm { caNoEncryption, caPkzipClassic, caAES_128, caAES_192, caAES_256 };
enum TZipProgressPhase { ppStart, ppProcess, ppEnd };
enum TZipAction { fxaRetry, fxaIgnore, fxaAbort };

// The process-wide lock held while an add collects files; an event handler of that add may
// start another add on the same thread.
std::recursive_mutex& ZipGlobalLock();

class TZipOptions {
public:
    bool Recurse = true;
    TZipStorePathMode StorePath = spRelativePath;
    TZipFileShareMode ShareMode = smShareDenyNone;
    TZipOverwriteMode OverwriteMode = omAlways;
    bool CreateDirs = true;
    bool ReplaceReadOnly = true;
    bool SetAttributes = true;
    int SearchAttr = 0x28BF;
    bool FlushBuffers = true;
    bool OEMFileNames = true;
    void Assign(const TZipOptions& source) { *this = source; }
};

class TZipSpanningOptions {
public:
    bool AdvancedNaming = false;
    std::int64_t FirstVolumeSize = 0;
    TZipVolumeSize VolumeSize = vsAutoDetect;
    std::int64_t CustomVolumeSize() const { return customVolumeSize_; }
    void SetCustomVolumeSize(std::int64_t size) { customVolumeSize_ = size < 65536 ? 65536 : size; }
    bool Internal = false;
    void Assign(const TZipSpanningOptions& source) { *this = source; }
    // Size limit of a volume; -1 when unknown (the free space of the disk decides).
    std::int64_t VolumeSizeFor(int volumeNumber) const;

private:
    std::int64_t customVolumeSize_ = 0;
};

class TZipVolumeNumberInfo {
public:
    enum State { vnsFirst = 0, vnsLast = 1, vnsNumbered = 2, vnsUndetermined = 3 };
    void Init() {
        state = vnsUndetermined;
        volumeNumber = -1;
        lastVolumeNumber = -1;
    }
    bool IsFirst() const { return volumeNumber == 0; }
    void SetFirst() {
        volumeNumber = 0;
        state = vnsFirst;
    }
    bool IsLastVolume() const { return lastVolumeNumber >= 0 ? volumeNumber == lastVolumeNumber : state == vnsLast; }
    void SetLast() {
        volumeNumber = lastVolumeNumber;
        state = vnsLast;
    }
    void SetNumber(int n) {
        state = vnsNumbered;
        volumeNumber = n;
    }
    bool Equals(const TZipVolumeNumberInfo& o) const;

    State state = vnsUndetermined;
    int volumeNumber = -1;
    int lastVolumeNumber = -1;
};

// What FindFirst/FindNext report, and the search state they keep.
struct TZipArchiveItem {
    std::u16string FileName;
    std::u16string StoredPath;
    std::int64_t CompressedSize = 0;
    std::int64_t UncompressedSize = 0;
    double CompressionRate = 0;  // percent
    bool Encrypted = false;
    std::uint16_t LastModFileTime = 0;
    std::uint16_t LastModFileDate = 0;
    std::uint32_t CRC = 0;
    std::uint32_t ExternalFileAttributes = 0;
    std::string Comment;
    // Search state.
    int ItemIndex = 0;
    std::u16string FileMask;
    bool Wildcards = false;
    int SearchAttr = 0;
    std::u16string ExclusionMask;
    bool UseProperties = false;  // use the archiver's FileMasks and ExclusionMasks instead
};

// What a scratch file holds: old bytes of the archive that a commit writes over (the saved tail,
// or the directory an append overwrites), a new item on its way to a set's volumes, or one of a
// set's old volumes parked aside; or the rollback record of a commit, which holds old data under
// the one name the next open looks for ("FCrecord.", the archive's name, ".old.tmp").
enum class TZipScratchKind { OldData, NewItem, ParkedVolume, Record };

// The scratch files of an archiver. Each is named "FC", six characters, a dot, the name of the
// archive or volume it concerns, a word for its kind ("old", "new", "parked") and ".tmp", so that
// what a killed run left behind (it may be the only copy of old data) can be told apart and put
// back by hand. A transaction removes only the scratch files it made itself; nothing else of that
// naming is ever deleted.
class TZipScratchFiles {
public:
    TZipScratchFiles() = default;
    TZipScratchFiles(const TZipScratchFiles&) = delete;
    TZipScratchFiles& operator=(const TZipScratchFiles&) = delete;

    // A new empty scratch file of the kind in folder (ending with "/", or empty for the current
    // folder) for the file named of (a name without folder, may be empty); empty when none can be
    // made.
    std::u16string Make(const std::u16string& folder, const std::u16string& of, TZipScratchKind kind);
    // Moves file aside under a scratch name in its own folder; the new name, empty on failure.
    std::u16string Park(const std::u16string& file);
    // Deletes a scratch file made here; false when it could not be deleted (it stays listed).
    bool Delete(const std::u16string& name);
    // Lets a scratch file go without deleting it (a parked volume that took its name back).
    void Release(const std::u16string& name);
    // Takes name as one made here (deleted by Delete, let go by Release).
    void Adopt(const std::u16string& name) { made_.push_back(name); }
    // Lets every scratch file go.
    void ReleaseAll() { made_.clear(); }
    // The scratch files made here and neither deleted nor let go.
    const std::vector<std::u16string>& Made() const { return made_; }

private:
    std::vector<std::u16string> made_;
};

// Buttons and answers of the default handlers' questions.
enum TMsgDlgBtn : unsigned {
    mbYes = 1,
    mbNo = 2,
    mbOK = 4,
    mbCancel = 8,
    mbAbort = 16,
    mbRetry = 32,
    mbIgnore = 64,
    mbNoToAll = 128,
    mbYesToAll = 256,
};
enum TModalResult { mrNone, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrYes, mrNo, mrNoToAll, mrYesToAll };

// The questions the default event handlers ask. The base answers at once without anyone: Yes
// where offered, else Abort, else Cancel, else OK, and no password; so no default loops or blocks.
class TZipPrompter {
public:
    virtual ~TZipPrompter() = default;
    virtual TModalResult MessageDlg(const std::string& text, unsigned buttons);
    virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);
};

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TZipProgressEvent = std::function<void(TComponent* sender, double progress, TZipProcessOperation operation,
                                             TZipProgressPhase phase, bool& cancel)>;
using TZipFileProgressEvent =
    std::function<void(TComponent* sender, const std::u16string& fileName, double progress,
                       TZipProcessOperation operation, TZipProgressPhase phase, bool& cancel)>;
using TZipCopyTempFileProgressEvent =
    std::function<void(TComponent* sender, double progress, TZipProgressPhase phase, bool& cancel)>;
using TZipConfirmOverwriteEvent = std::function<void(TComponent* sender, const std::u16string& sourceFileName,
                                                     std::u16string& destFileName, bool& confirm)>;
using TZipConfirmProcessFileEvent = std::function<void(TComponent* sender, const std::u16string& fileName,
                                                       TZipProcessOperation operation, bool& confirm)>;
using TZipOnPasswordEvent =
    std::function<void(TComponent* sender, const std::u16string& fileName, std::string& newPassword, bool& skipFile)>;
using TZipProcessFileFailureEvent =
    std::function<void(TComponent* sender, const std::u16string& fileName, TZipProcessOperation operation,
                       int nativeError, int errorCode, const std::u16string& errorMessage, TZipAction& action)>;
using TZipOnRequestBlankVolumeEvent =
    std::function<void(TComponent* sender, int volumeNumber, std::u16string& volumeFileName, bool& cancel)>;
using TZipOnRequestMiddleVolumeEvent = TZipOnRequestBlankVolumeEvent;
using TZipOnRequestFirstVolumeEvent =
    std::function<void(TComponent* sender, std::u16string& volumeFileName, bool& cancel)>;
using TZipOnRequestLastVolumeEvent = TZipOnRequestFirstVolumeEvent;
using TZipOnDiskFullEvent =
    std::function<void(TComponent* sender, int volumeNumber, const std::u16string& volumeFileName, bool& cancel)>;
using TZipOnStoreFileEvent = std::function<void(TComponent* sender, std::u16string& fileName, std::uint32_t& fileAttr,
                                                std::string& comment, const std::u16string& originalFileName)>;
using TZipOnExtractFileEvent = std::function<void(TComponent* sender, std::u16string& fileName, std::uint32_t& fileAttr,
                                                  const std::string& comment)>;
using TZipInternalEvent =
    std::function<void(TComponent* sender, std::uint8_t kind, std::uint32_t a, std::uint32_t b, std::uint32_t c)>;

class TZipBaseArchiver : public TComponent {
public:
    explicit TZipBaseArchiver(TComponent* owner = nullptr);
    ~TZipBaseArchiver() override;

    // --- properties ---
    bool ExtractCorruptedFiles = false;
    TZipCompressionLevel CompressionLevel() const { return compressionLevel_; }
    void SetCompressionLevel(TZipCompressionLevel level);
    int CompressionMode() const { return compressionMode_; }
    void SetCompressionMode(int mode);
    std::u16string CurrentVersion() const;
    void SetCurrentVersion(const std::u16string& value);
    const std::string& Password() const { return password_.str(); }
    virtual void SetPassword(const std::string& password);
    std::u16string FileName;
    std::u16string BaseDir;
    std::u16string TempDir;
    TZipSpanningMode SpanningMode() const { return spanningMode_; }
    void SetSpanningMode(TZipSpanningMode mode);
    TZipSpanningOptions SpanningOptions;
    std::u16string SFXStub;
    TZipOptions Options;
    TUniStrings& FileMasks() { return fileMasks_; }
    TUniStrings& ExclusionMasks() { return exclusionMasks_; }
    TUniStrings& NoCompressionMasks() { return noCompressionMasks_; }
    void SetFileMasks(const TUniStrings& v) { fileMasks_.Assign(v); }
    void SetExclusionMasks(const TUniStrings& v) { exclusionMasks_.Assign(v); }
    void SetNoCompressionMasks(const TUniStrings& v) { noCompressionMasks_.Assign(v); }
    bool InMemory() const { return inMemory_; }
    void SetInMemory(bool value);
    // Published by TZipArchiver; kept here because the engine below reads them.
    TZip64Mode Zip64Mode = zmAuto;
    bool UnicodeFilenames = true;
    TZipCryptoAlgorithm EncryptionMethod = caNoEncryption;
    // Blocks of a file to be added, deflated by its writer as it wrote it; the commit takes them
    // for the item they fit (unencrypted, at its level and block size) instead of deflating it.
    std::shared_ptr<TDeflatedSource> Predeflated;

    // --- events ---
    TZipFileProgressEvent OnFileProgress;
    TZipProgressEvent OnOverallProgress;
    TZipCopyTempFileProgressEvent OnCopyTempFileProgress;
    TZipConfirmOverwriteEvent OnConfirmOverwrite;
    TZipConfirmProcessFileEvent OnConfirmProcessFile;
    TNotifyEvent AfterOpen;
    TZipOnPasswordEvent OnPassword;
    TZipProcessFileFailureEvent OnProcessFileFailure;
    TZipOnRequestBlankVolumeEvent OnRequestBlankVolume;
    TZipOnRequestFirstVolumeEvent OnRequestFirstVolume;
    TZipOnRequestLastVolumeEvent OnRequestLastVolume;
    TZipOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
    TZipOnDiskFullEvent OnDiskFull;
    TZipOnStoreFileEvent OnStoreFile;
    TZipOnExtractFileEvent OnExtractFile;

    // The default handlers ask through this; null means the non-blocking default answers.
    TZipPrompter* Prompter = nullptr;

    // --- operations ---
    void OpenArchive(std::uint16_t mode);
    void CloseArchive();
    void BeginUpdate();
    void EndUpdate();
    void CancelUpdate();
    void AddFiles(const std::u16string& fileMask, int searchAttr, const std::u16string& exclusionMask);
    int FileCount();
    bool FindFirst(const std::u16string& fileMask, TZipArchiveItem& f, int searchAttr,
                   const std::u16string& exclusionMask);
    bool FindNext(TZipArchiveItem& f);
    bool Active() const { return active_; }
    void SetActive(bool active);

    // --- state the lower layers share ---
    int UpdateDepth = 0;
    bool UsePKSignatures = false;
    bool ExternalStream = false;
    std::u16string WorkingDir;
    std::u16string CurrentVolumeName;
    std::uint16_t OpenMode = 0;
    bool TransactionDone = false;
    int ItemsToProcess = 0;
    int ItemsProcessed = 0;
    std::int64_t BytesToProcess = 0;
    std::int64_t BytesProcessed = 0;
    bool Cancelled = false;
    bool OpenDamaged = true;
    int CompressionMethod = -1;
    TZipVolumeNumberInfo VolumeNumberInfo;
    TZipDirManager* DirManager() { return dirManager_.get(); }
    TStream* ArchiveStream() { return archiveStream_; }

    // --- event dispatchers (defaults apply without a handler) ---
    virtual void UpdateCompressionMethod();
    virtual void DoOnOverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase,
                                     bool& cancel);
    virtual void DoOnFileProgress(const std::u16string& fileName, double progress, TZipProcessOperation operation,
                                  TZipProgressPhase phase, bool& cancel);
    virtual void DoOnCopyTempFileProgress(double progress, TZipProgressPhase phase, bool& cancel);
    virtual void DoOnConfirmOverwrite(const std::u16string& sourceFileName, std::u16string& destFileName,
                                      bool& confirm);
    virtual void DoOnConfirmProcessFile(const std::u16string& fileName, TZipProcessOperation operation, bool& confirm);
    virtual void DoOnPassword(const std::u16string& fileName, std::string& newPassword, bool& skipFile);
    virtual void DoOnProcessFileFailure(const std::u16string& fileName, TZipProcessOperation operation, int nativeError,
                                        int errorCode, const std::u16string& errorMessage, TZipAction& action);
    virtual void DoOnRequestBlankVolume(int volumeNumber, std::u16string& volumeFileName, bool& cancel);
    virtual void DoOnRequestFirstVolume(std::u16string& volumeFileName, bool& cancel);
    virtual void DoOnRequestLastVolume(std::u16string& volumeFileName, bool& cancel);
    virtual void DoOnRequestMiddleVolume(int volumeNumber, std::u16string& volumeFileName, bool& cancel);
    virtual void DoOnDiskFull(int volumeNumber, const std::u16string& volumeFileName, bool& cancel);
    virtual void DoOnInternalEvent(std::uint8_t kind, std::uint32_t a, std::uint32_t b, std::uint32_t c);
    virtual void DoOnStoreFile(std::u16string& fileName, std::uint32_t& fileAttr, std::string& comment,
                               const std::u16string& originalFileName);
    virtual void DoOnExtractFile(std::u16string& fileName, std::uint32_t& fileAttr, const std::string& comment);

    // Name of volume n (0-based; -1 the last volume) for the current FileName and modes.
    virtual std::u16string VolumeFileName(int volumeNumber, bool forReading);

protected:
    friend class TZipDirManager;  // writes the directory through the volume writer
    // Work of the lower layers. The commit writes the pending items and the directory;
    // AddFilesInternal turns masks into items; CreateDirManager opens a new archive;
    // OpenExistingArchive reads an existing one.
    virtual void CommitChanges();
    virtual void AddFilesInternal(TUniStrings& masks, int searchAttr, bool recurse, TUniStrings& exclusions);
    virtual void CreateDirManager();
    virtual void OpenExistingArchive();

    // Archive stream and volumes. RequestVolume opens the volume info names (native 45 when the
    // user cancels); WriteToVolume moves on to the next volume when the current one is full and
    // returns the bytes written; WriteExact raises native 46 on a short write. keepTogether >= 0
    // sends a record that does not fit on this volume whole to the next one.
    void OpenVolumeFile(const std::u16string& name);
    // The file stream of a volume (or of the one file) in the given open mode.
    virtual std::unique_ptr<TUniFileStream> NewVolumeStream(const std::u16string& name, std::uint16_t mode);
    void RequestVolume(TZipVolumeNumberInfo& info);
    // Asks for the existing volume info names until it is there; native 45 when the user cancels.
    std::u16string AskForVolume(const TZipVolumeNumberInfo& info);
    std::int64_t WriteToVolume(const void* buffer, std::int64_t count, TStream* pending, std::int64_t keepTogether,
                               TStream*& stream);
    void WriteExact(const void* buffer, std::int64_t count, TStream* pending, std::int64_t keepTogether,
                    TStream*& stream);
    // Copies count bytes of source (everything up to its end when count is -1) to the volumes.
    void CopyToVolumes(TStream& source, std::int64_t count, bool progress);
    // Bytes free on the disk of name.
    virtual std::int64_t FreeSpace(const std::u16string& name);
    // A new empty scratch file with the prefix "FC" in TempDir or the system's temporary folder,
    // named after the archive (an item's temporary unless kind says otherwise); native 19 when
    // none can be made.
    std::u16string MakeTempFileName(TZipScratchKind kind = TZipScratchKind::NewItem);
    // A new empty scratch file of the kind in folder, named after the archive; empty when the
    // folder takes none.
    virtual std::u16string MakeScratchFile(const std::u16string& folder, TZipScratchKind kind);
    TZipScratchFiles Scratch;

    // Item writer: ProcessItem writes item index from its source (false when it was not written;
    // FailureAction says what the commit does next); AddFileItem copies an unchanged item from the
    // saved tail of the old archive.
    bool ProcessItem(int index);
    void AddFileItem(int index, std::int64_t tailStart, TStream* tail);

    // Deflate pipeline: compresses (and, with a cipher, encrypts) source into target and fills the
    // item's CRC, sizes, method and Zip64 state; false when the user cancelled.
    bool EncryptStream(TDirItem& item, TStream& source, TStream& target, TZipEntryCipher* cipher = nullptr);
    bool WriteWithRetry(TStream& stream, const void* buffer, std::int64_t count);
    // The cipher of an item with a password (null without one): AES for the AES methods with
    // PK signatures, else the traditional cipher. Its AES extra names the item's method.
    virtual std::unique_ptr<TZipEntryCipher> CreateEntryCipher(const TDirItem& item);

    // Disk file selection.
    void CollectFilesToAdd(const std::u16string& mask, int searchAttr, bool recurse, TUniStrings& exclusions);
    bool PathMatchesMask(const std::u16string& path, const std::u16string& mask, bool isDirectory);
    std::u16string ResolveMask(const std::u16string& mask, bool& relative);
    int UpdateItems(const std::u16string& path, bool isDirectory, std::uint32_t attributes, std::int32_t dosTime,
                    std::int64_t size);

    // Folders an add has searched, by their real paths, so that a link back up ends the search.
    std::set<std::string> SearchedFolders;
    TZipAction FailureAction = fxaIgnore;
    // The error of an abort that nobody chose (no handler, no prompter, or nothing left to retry
    // on): the commit raises it once the old archive is back.
    std::exception_ptr FailureError;
    bool CommitRunning = false;
    // A commit is appending to a set read from disk: the volumes it moves on to are new ones.
    bool ExtendingSet = false;
    // Gathers the data of a commit to removable disks in memory, written when a volume is full.
    std::unique_ptr<TMemoryStream> CommitBuffer;

    // The files this set's volumes are (device and file number) as they were opened or made since
    // the archive was opened: no step may write a new volume over one, or rename another onto one.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> SetVolumeIds;
    bool IsOwnVolume(const std::u16string& name) const;
    // Refuses a set whose volumes would overwrite each other before anything is written: a split
    // set whose final name is one of its volume names; a spanned one that gives every volume the
    // same name on a fixed drive when no handler names each blank volume apart.
    void CheckVolumeNames();
    // Whether FileName is by its form a numbered volume of a split set whose last volume lies
    // beside it and counts more volumes than this one's number; or one whose scan met a header cut
    // by its end (unless a whole archive is numbered beside it); or, holding no archive of its
    // own, one with a volume (no end record of its own, or one naming a set) numbered beside it.
    // A number of more than three digits after "_" counts only beside a volume of its set.
    bool NamedAsVolumeOfSet();
    // Whether FileName, holding no end record of its own, is the cut last volume of a split set:
    // the first volume of its name (".Z01", ".z01" or "_001") stands beside it and is no whole
    // archive of its own. Such a file is read but never written as an archive alone.
    bool CutLastVolumeOfSet();
    // What a commit did to the volumes, so that a rollback undoes exactly that: the volumes it made
    // (under their present names) and its renames of volumes that were there before, in order.
    struct TVolumeJournal {
        bool Active = false;
        std::vector<std::u16string> Created;
        std::vector<std::pair<std::u16string, std::u16string>> Renamed;
    };
    TVolumeJournal VolumeJournal;
    bool RenameVolume(const std::u16string& from, const std::u16string& to);
    // The saved tail of a set read from disk holds the old volumes from TailFirstVolume on, back to
    // back; TailVolumeBase gives where each one's offset 0 lies in it (empty for one file).
    int TailFirstVolume = 0;
    std::vector<std::int64_t> TailVolumeBase;
    // Where the local header of an old item lies in the saved tail, -1 when outside it.
    std::int64_t TailPosition(const TDirItem& old, std::int64_t tailStart) const;

    // One writer at a time: a write transaction holds an exclusive lock on each file it may change
    // (the archive, a set's volumes it writes) from the open to the close; readers take none.
    // LockForWriting takes the lock of name (creating the file when create is set) unless this
    // archiver holds it already; native 36 when another holds it. Where the file system has no
    // locks the file is written as before.
    void LockForWriting(const std::u16string& name, bool create);
    // False when the system reported an error closing one of the archive's files.
    bool ReleaseWriteLocks();
    struct TWriteLock {
        std::uint64_t Device = 0, File = 0;
        int Handle = -1;
    };
    std::vector<TWriteLock> WriteLocks;
    // Whether the open mode lets transactions change the file.
    bool OpensForWriting(std::uint16_t mode) const { return !inMemory_ && (mode == fmCreate || (mode & 3) != 0); }

    void ReopenArchive();
    // The stream holds no archive yet (nothing, or a new archive's stub alone).
    bool HoldsNoArchive() const;
    void CheckOpen();
    void CheckModifiable();
    [[noreturn]] void Fail(int nativeCode);
    [[noreturn]] void FailFmt(int nativeCode, std::initializer_list<TZipFmtArg> args);
    TZipPrompter& Prompts();
    // Adopts a stream as the archive stream (owned unless external).
    void SetArchiveStream(std::unique_ptr<TStream> stream);
    void FreeArchiveStream();
    // Closes the archive's own file, and flushes a file stream to disk: a failure of either is a
    // write failure (native 46), as what was written may not be on the disk.
    void CloseArchiveFile();
    void FlushArchiveFile(TStream* stream);

    std::unique_ptr<TZipDirManager> dirManager_;
    TZipInternalEvent internalEvent_;

private:
    bool SearchItems(TZipArchiveItem& f);

    TZipCompressionLevel compressionLevel_ = clFastest;
    int compressionMode_ = 1;
    TSecretString password_;
    TZipSpanningMode spanningMode_ = smNone;
    TUniStringList fileMasks_;
    TUniStringList exclusionMasks_;
    TUniStringList noCompressionMasks_;
    bool inMemory_ = false;
    bool active_ = false;
    TStream* archiveStream_ = nullptr;
    std::unique_ptr<TStream> ownedStream_;
};

class TZipArchiver : public TZipBaseArchiver {
public:
    explicit TZipArchiver(TComponent* owner = nullptr);
    void SetPassword(const std::string& password) override;
    void UpdateCompressionMethod() override;
};

// Bytes free for this process on the file system that holds name (or its nearest existing folder).
std::int64_t ZipFreeSpace(const std::u16string& name);

// Whether the lower-cased extension of name holds ".exe".
bool IsSFXFile(const std::u16string& name);

}  // namespace zip
