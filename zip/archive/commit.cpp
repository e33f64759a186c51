// The commit: turns the items a transaction added or replaced into a valid archive, and puts the
// old archive back when anything fails or the user cancels.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include <sys/file.h>

#include "archive/archiver.h"
#include "archive/le_fields.h"
#include "archive/rollback_record.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

namespace {

// Lets a scratch file that holds old data go under a name no later commit takes for stale.
void KeepAside(TZipScratchFiles& scratch, const std::u16string& name) {
    scratch.Release(name);
    WideRenameFile(name, name + u".kept");
}

// The first size bytes of a stream: the old data of a rollback record without its list and footer.
class TStreamFront : public TStream {
public:
    TStreamFront(TStream& stream, std::int64_t size) : stream_(stream), size_(size) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
        count = std::clamp<std::int64_t>(size_ - stream_.Position(), 0, count);
        return count > 0 ? stream_.Read(buffer, count) : 0;
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        if (origin == TSeekOrigin::soEnd) return stream_.Seek(size_ + offset, TSeekOrigin::soBeginning);
        return stream_.Seek(offset, origin);
    }
    void SetSize(std::int64_t) override {}
    std::int64_t Size() override { return size_; }

private:
    TStream& stream_;
    std::int64_t size_;
};

// The saved tail of the old archive: deleted with the object unless kept (a failed restore
// leaves the old items there rather than nowhere: a rollback record where the next open finds it,
// any other copy under a name no later commit takes).
struct TailFile {
    TZipScratchFiles& scratch;
    std::u16string name;
    std::unique_ptr<TUniFileStream> stream;
    bool keep = false;
    bool record = false;
    std::unique_ptr<TStreamFront> front;  // the old bytes of a sealed record
    TStream* Data() { return front ? static_cast<TStream*>(front.get()) : stream.get(); }
    ~TailFile() {
        front.reset();
        stream.reset();
        if (name.empty()) return;
        if (keep && record) scratch.Release(name);
        else if (keep) KeepAside(scratch, name);
        else scratch.Delete(name);
    }
};

// The volume where the directory of an existing set begins.
int DirectoryDisk(const TZipDirManager& dm) {
    if (dm.EndRecord.DirectoryDisk != 0xFFFF) return dm.EndRecord.DirectoryDisk;
    const std::uint8_t* p = dm.Zip64EndRecord.data() + 20;
    return static_cast<int>(std::min<std::uint32_t>(Get32(p), 0x7FFFFFFF));
}

// Copies count bytes from from's position to to's; false when to takes fewer (its disk is full).
// A failed read raises. crc, when given, gets the CRC-32 of the bytes.
bool CopyOut(TStream& from, TStream& to, std::int64_t count, std::uint32_t* crc = nullptr) {
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 1, 1 << 16)));
    std::uint32_t c = 0xFFFFFFFFu;
    while (count > 0) {
        const std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(buf.size()));
        from.ReadBuffer(buf.data(), n);
        if (to.Write(buf.data(), n) != n) return false;
        if (crc) c = UpdateCrc32(c, buf.data(), n);
        count -= n;
    }
    if (crc) *crc = ~c;
    return true;
}

bool DeleteSourceFile(const std::u16string& name) {
    if (WideFileDelete(name)) return true;
    WideFileSetAttr(name, 0);
    return WideFileDelete(name);
}

// Removes name by remove(); when that fails, native code (with the name) goes to the failure
// event, whose answer may retry. False when the answer was to abort.
bool RemoveOrReport(TZipBaseArchiver& a, const std::u16string& name, TZipProcessOperation operation, int code,
                    const std::function<bool()>& remove) {
    for (;;) {
        if (remove()) return true;
        const EZipException e = EZipException::CreateNativeFmt(code, &a, {name});
        TZipAction action = fxaIgnore;
        a.DoOnProcessFileFailure(name, operation, e.NativeError, e.ErrorCode, UTF8DecodeWide(e.Message), action);
        if (action != fxaRetry) return action != fxaAbort;
    }
}

}  // namespace

void TZipBaseArchiver::CommitChanges() {
    if (UpdateDepth < 1) return;
    UpdateDepth = 0;
    ItemsProcessed = ItemsToProcess = 0;
    Cancelled = false;
    FailureError = nullptr;
    CommitRunning = true;
    BytesToProcess = BytesProcessed = 0;
    struct Running {
        TZipBaseArchiver& a;
        ~Running() {
            a.CommitRunning = false;
            a.ExtendingSet = false;
            a.CommitBuffer.reset();
            a.VolumeJournal = TVolumeJournal{};
            a.TailVolumeBase.clear();
            a.Scratch.ReleaseAll();
        }
    } running{*this};

    TZipDirManager& dm = *dirManager_;
    TZipDirArray& items = dm.Items;
    TZipDirArray& backup = dm.BackupItems;
    TZipProcessOperation operation = poAdd;
    for (int i = 0; i < items.GetCount(); ++i) {
        const TDirItem& it = items.GetItem(i);
        if (!it.Pending) continue;
        BytesToProcess += it.HasZip64 ? static_cast<std::int64_t>(it.UncompressedSize64) : it.Header.UncompressedSize;
        if (ItemsToProcess++ == 0) operation = it.ItemOperation;
    }
    int first = std::min(items.GetCount(), backup.GetCount());
    for (int i = 0; i < items.GetCount(); ++i) {
        if (items.GetItem(i).Pending || i >= backup.GetCount() || items.GetItem(i).Name != backup.GetItem(i).Name) {
            first = i;
            break;
        }
    }

    DoOnOverallProgress(0, operation, ppStart, Cancelled);
    if (Cancelled) {
        // Nothing was written: the items of the transaction must not reach a later directory.
        items.Assign(backup);
        return;
    }

    TStream* s = archiveStream_;
    const TEndRecord oldEnd = dm.EndRecord;
    const auto oldZip64End = dm.Zip64EndRecord;
    const auto oldLocator = dm.Zip64Locator;
    TailFile tail{Scratch, {}, {}, false, false, {}};
    std::int64_t tailStart = 0, writePos = 0;
    bool cut = false;
    // A set read from disk is written again from the volume of its first changed item (of its
    // directory for an append); a new one from its first volume.
    const bool existingSet = spanningMode_ != smNone && !dm.IsNew;
    int startVolume = 0;
    std::u16string startName = CurrentVolumeName;
    std::int64_t startTail = 0;  // bytes of the start volume in the saved tail
    // The set's later volumes, parked beside themselves (name, parked name) until the commit is done.
    std::vector<std::pair<std::u16string, std::u16string>> parked;
    VolumeJournal = TVolumeJournal{};
    VolumeJournal.Active = spanningMode_ != smNone;

    // The old bytes the commit is about to write over go into tail first (fill copies them,
    // false when the scratch file's disk is full). Of an archive on disk they become its rollback
    // record, beside the archive itself (a link's target), where the next open for writing finds
    // and puts them back should this commit be killed; stretches says where they belong. In the
    // temporary folder when the archive's folder takes no file: a copy only this commit can use.
    // A set spanned over removable disks keeps them there too: its disks change during the commit.
    auto saveOld = [&](const std::u16string& beside, const std::function<bool(TStream&)>& fill,
                       const std::function<std::vector<TRollbackStretch>()>& stretches) {
        if (!beside.empty() && spanningMode_ != smSpanning) {
            const std::u16string real = RealFileName(FileName);
            tail.name = MakeScratchFile(WideExtractFilePath(real), TZipScratchKind::Record);
            // Another writer's record: a commit of another process is running.
            if (tail.name.empty() && WideFileExists(RollbackRecordName(real))) FailFmt(36, {FileName});
            if (!tail.name.empty()) {
                tail.record = true;
                tail.stream = std::make_unique<TUniFileStream>(tail.name, fmOpenReadWrite | fmShareDenyWrite);
                // Held while this commit runs: no other open puts it back meanwhile.
                ::flock(tail.stream->Handle(), LOCK_EX | LOCK_NB);
                if (fill(*tail.stream)) {
                    const std::int64_t size = tail.stream->Size();
                    SealRollbackRecord(*tail.stream, stretches(), [&] {
                        if (!Options.FlushBuffers) return;
                        FlushArchiveFile(tail.stream.get());
                        // The record's name too, or a crash of the machine may keep the cut archive
                        // without it.
                        if (!WideFolderFlush(WideExtractFilePath(real))) Fail(46);
                    });
                    tail.front = std::make_unique<TStreamFront>(*tail.stream, size);
                    return;
                }
                tail.stream.reset();
                Scratch.Delete(tail.name);
                tail.name.clear();
                tail.record = false;
            }
        }
        tail.name = MakeTempFileName(TZipScratchKind::OldData);
        tail.stream = std::make_unique<TUniFileStream>(tail.name, fmCreate);
        if (!fill(*tail.stream)) throw EStreamError("Stream write error");
    };
    // Only the old directory and end records of an append are saved: no item is copied from them.
    bool oldDirectoryOnly = false;
    // The one stretch of a single file's record: from position to the end.
    std::uint32_t tailCrc = 0;
    auto OneStretch = [&](const std::u16string& name, std::int64_t position) {
        TRollbackStretch one;
        one.Name = RealFileName(name);
        one.Position = position;
        one.OldLength = s->Size();
        one.DataCrc = tailCrc;
        one.FrontCrc = FrontCrc(*s, position, one.FrontLength);
        return std::vector<TRollbackStretch>{one};
    };

    auto rollback = [&] {
        items.Assign(backup);
        dm.EndRecord = oldEnd;
        dm.Zip64EndRecord = oldZip64End;
        dm.Zip64Locator = oldLocator;
        VolumeJournal.Active = false;
        if (spanningMode_ != smNone && cut) {
            // Undo what happened to the volumes: the new ones go, renamed ones take their names
            // back, and the start volume is opened again to be cut back.
            FreeArchiveStream();
            for (const std::u16string& made : VolumeJournal.Created) WideFileDelete(made);
            for (auto r = VolumeJournal.Renamed.rbegin(); r != VolumeJournal.Renamed.rend(); ++r)
                WideRenameFile(r->second, r->first);
        }
        for (auto p = parked.rbegin(); p != parked.rend(); ++p) {
            if (WideRenameFile(p->second, p->first)) Scratch.Release(p->second);
            else KeepAside(Scratch, p->second);
        }
        parked.clear();
        if (!cut) return;
        if (spanningMode_ != smNone) {
            const std::uint16_t mode = OpenMode;
            OpenMode = fmOpenReadWrite | fmShareDenyWrite;
            try {
                OpenVolumeFile(startName);
            } catch (...) {
                OpenMode = mode;
                throw;
            }
            OpenMode = mode;
            if (startVolume == 0) VolumeNumberInfo.SetFirst();
            else VolumeNumberInfo.SetNumber(startVolume);
            dm.Stream = archiveStream_;
        }
        s = archiveStream_;
        if (!s) return;
        if (!tail.stream) {
            s->Seek(writePos, TSeekOrigin::soBeginning);
            s->SetSize(writePos);
            dm.SaveDir(true, s);
        } else {
            tail.keep = true;  // until the old tail is back in place
            s->Seek(tailStart, TSeekOrigin::soBeginning);
            s->SetSize(tailStart);
            TStream& old = *tail.Data();
            old.SetPosition(0);
            // Of a set, the start volume's part; the later volumes are back already.
            const std::int64_t n = existingSet ? startTail : old.Size();
            if (n > 0) s->CopyFrom(old, n);
            tail.keep = false;
        }
    };

    bool aborted = false;
    try {
        if (!s) Fail(13);  // a volume request failed earlier and left no archive stream
        if (spanningMode_ != smNone) CheckVolumeNames();
        if (existingSet) {
            const int last = std::max(VolumeNumberInfo.lastVolumeNumber, 0);
            if (first < backup.GetCount()) {
                const TDirItem& changed = backup.GetItem(first);
                startVolume = static_cast<int>(std::min<std::int64_t>(EffectiveDiskStart(changed), 0x7FFFFFFF));
                tailStart = EffectiveLocalOffset(changed);
            } else {
                startVolume = backup.GetCount() == 0 ? 0 : DirectoryDisk(dm);
                tailStart = backup.GetCount() == 0 ? dm.ArchiveStart : dm.DirectoryOffset();
            }
            if (startVolume > last) Fail(35);
            if (VolumeNumberInfo.volumeNumber != startVolume) {
                TZipVolumeNumberInfo info = VolumeNumberInfo;
                if (startVolume == 0) info.SetFirst();
                else info.SetNumber(startVolume);
                RequestVolume(info);
                s = dm.Stream = archiveStream_;
            }
            startName = CurrentVolumeName;
            if (tailStart < 0 || tailStart > s->Size()) Fail(35);
            // The tail: the start volume from there on and every later volume, back to back, so
            // that the old items can be copied from it and the start volume restored from it.
            startTail = s->Size() - tailStart;
            TailFirstVolume = startVolume;
            std::vector<std::u16string> later;
            std::vector<std::uint32_t> crcs;
            std::uint32_t frontLength = 0;
            const std::uint32_t frontCrc = FrontCrc(*s, tailStart, frontLength);
            // The set's last volume, once full, takes its numbered name.
            std::u16string startAlt;
            if (startVolume == last) {
                ExtendingSet = true;
                startAlt = VolumeFileName(startVolume, false);
                ExtendingSet = false;
                if (startAlt == startName) startAlt.clear();
            }
            saveOld(
                startName,
                [&](TStream& t) {
                    TailVolumeBase.assign(1, -tailStart);
                    later.clear();
                    crcs.assign(1, 0);
                    s->Seek(tailStart, TSeekOrigin::soBeginning);
                    if (!CopyOut(*s, t, startTail, &crcs[0])) return false;
                    for (int n = startVolume + 1; n <= last; ++n) {
                        TZipVolumeNumberInfo info = VolumeNumberInfo;
                        info.lastVolumeNumber = last;
                        info.SetNumber(n);
                        const std::u16string name = AskForVolume(info);
                        std::unique_ptr<TUniFileStream> v;
                        try {
                            v = std::make_unique<TUniFileStream>(name, fmOpenRead | fmShareDenyNone);
                        } catch (const EStreamError&) {
                            FailFmt(33, {name});
                        }
                        TailVolumeBase.push_back(t.Size());
                        crcs.push_back(0);
                        if (!CopyOut(*v, t, v->Size(), &crcs.back())) return false;
                        later.push_back(name);
                    }
                    return true;
                },
                [&] {
                    std::vector<TRollbackStretch> list(1);
                    list[0].Name = RealFileName(startName);
                    list[0].AltName = startAlt.empty() ? std::u16string() : RealFileName(startAlt);
                    list[0].Position = tailStart;
                    list[0].OldLength = tailStart + startTail;
                    list[0].DataCrc = crcs[0];
                    list[0].FrontCrc = frontCrc;
                    list[0].FrontLength = frontLength;
                    for (std::size_t k = 0; k < later.size(); ++k) {
                        TRollbackStretch v;
                        v.Name = RealFileName(later[k]);
                        v.DataOffset = TailVolumeBase[k + 1];
                        const std::int64_t end =
                            k + 2 < TailVolumeBase.size() ? TailVolumeBase[k + 2] : tail.stream->Size();
                        v.OldLength = end - v.DataOffset;
                        v.DataCrc = crcs[k + 1];
                        list.push_back(v);
                    }
                    return list;
                });
            // The only copy of the start volume's old bytes once it is cut back.
            if (Options.FlushBuffers && !tail.record) FlushArchiveFile(tail.stream.get());
            // The later volumes make way for the new ones; they come back if the commit fails.
            for (const std::u16string& name : later) {
                const std::u16string aside = Scratch.Park(name);
                if (aside.empty()) FailFmt(19, {name});
                parked.emplace_back(name, aside);
            }
            writePos = tailStart;
        } else if (first < backup.GetCount()) {
            tailStart = EffectiveLocalOffset(backup.GetItem(first));
            if (tailStart < 0 || tailStart > s->Size()) Fail(35);
            auto* file = dynamic_cast<TUniFileStream*>(s);
            saveOld(
                file ? file->FileName() : std::u16string(),
                [&](TStream& t) {
                    s->Seek(tailStart, TSeekOrigin::soBeginning);
                    return CopyOut(*s, t, s->Size() - tailStart, &tailCrc);
                },
                [&] { return OneStretch(file->FileName(), tailStart); });
            // As a set's: the only copy of the items behind the cut reaches the disk before the cut.
            // Only an archive on disk needs that; one in memory dies with the process, tail and all.
            if (Options.FlushBuffers && !tail.record && dynamic_cast<THandleStream*>(s))
                FlushArchiveFile(tail.stream.get());
            writePos = tailStart;
        } else if (backup.GetCount() == 0) {
            writePos = dm.ArchiveStart;
        } else {
            writePos = dm.DirectoryOffset();
        }
        if (writePos < 0 || writePos > s->Size()) Fail(35);  // the old directory points outside the archive
        if (!existingSet && first >= backup.GetCount() && !dm.IsNew && writePos < s->Size()) {
            // An append writes over the old directory and end records, the only place of the
            // archive comment, the items' comments and attributes: they reach a scratch file
            // beside the archive, and its disk, before the cut. An archive this archiver created
            // holds no older data: a fresh one pays nothing for it.
            if (auto* file = dynamic_cast<TUniFileStream*>(s)) {
                tailStart = writePos;
                oldDirectoryOnly = true;
                saveOld(
                    file->FileName(),
                    [&](TStream& t) {
                        s->Seek(writePos, TSeekOrigin::soBeginning);
                        return CopyOut(*s, t, s->Size() - writePos, &tailCrc);
                    },
                    [&] { return OneStretch(file->FileName(), writePos); });
                if (Options.FlushBuffers && !tail.record) FlushArchiveFile(tail.stream.get());
            }
        }
        cut = true;
        s->Seek(writePos, TSeekOrigin::soBeginning);
        s->SetSize(writePos);
        if (startVolume == 0) VolumeNumberInfo.SetFirst();
        else VolumeNumberInfo.SetNumber(startVolume);
        ExtendingSet = existingSet;
        if (spanningMode_ == smSpanning && IsRemovableDrive(WideToFsName(FileName)))
            CommitBuffer = std::make_unique<TMemoryStream>();

        int i = first;
        while (i < items.GetCount() && !Cancelled) {
            bool written;
            do {
                FailureAction = fxaIgnore;
                const TDirItem& it = items.GetItem(i);
                if (!it.Pending || it.ItemOperation == poRename || it.ItemOperation == poChangeComment ||
                    it.ItemOperation == poChangeAttr) {
                    AddFileItem(i, tailStart, oldDirectoryOnly ? nullptr : tail.Data());
                    written = true;
                } else {
                    written = ProcessItem(i);
                }
            } while (!written && FailureAction == fxaRetry && !Cancelled);
            if (FailureAction == fxaAbort || Cancelled) break;
            if (!written) {
                int old = -1;
                if (backup.FindItem(items.GetItem(i).Name, old)) {
                    // It was in the archive before: its old version stays.
                    items.SetItem(i, backup.GetItem(old));
                    AddFileItem(i, tailStart, oldDirectoryOnly ? nullptr : tail.Data());
                    ++i;
                } else {
                    items.Delete(i);
                }
            } else {
                ++ItemsProcessed;
                ++i;
            }
        }
        aborted = FailureAction == fxaAbort || Cancelled;
        if (!aborted) {
            if (CommitBuffer && CommitBuffer->Size() > 0) {
                TStream* v = archiveStream_;
                CommitBuffer->SetPosition(0);
                v->CopyFrom(*CommitBuffer, CommitBuffer->Size());
                CommitBuffer->SetSize(0);
            }
            // Inside the guard: a failed directory write puts the old archive back too.
            dm.SaveDir(true, archiveStream_);
            // Before the sources of moved items go: they may be deleted only once the archive
            // that holds them is on the disk. Of a set, the full volumes went there as they were
            // left; the folders that got, lost or renamed volumes follow, before old ones go.
            if (Options.FlushBuffers && archiveStream_) FlushArchiveFile(archiveStream_);
            if (Options.FlushBuffers && spanningMode_ != smNone) {
                std::set<std::u16string> folders{WideExtractFilePath(startName)};
                for (const std::u16string& made : VolumeJournal.Created) folders.insert(WideExtractFilePath(made));
                for (const auto& [from, to] : VolumeJournal.Renamed) {
                    folders.insert(WideExtractFilePath(from));
                    folders.insert(WideExtractFilePath(to));
                }
                for (const auto& p : parked) folders.insert(WideExtractFilePath(p.first));
                for (const std::u16string& folder : folders)
                    if (!WideFolderFlush(folder)) Fail(46);
            }
            if (VolumeNumberInfo.lastVolumeNumber >= 0)
                VolumeNumberInfo.lastVolumeNumber = VolumeNumberInfo.volumeNumber;
        }
    } catch (...) {
        try {
            rollback();
        } catch (...) {
            // The first failure is the one to report; the old tail stays in its temporary file.
        }
        throw;
    }
    if (aborted) {
        rollback();
        if (FailureError) std::rethrow_exception(std::exchange(FailureError, nullptr));
        return;
    }
    VolumeJournal.Active = false;
    // The new archive is on the disk: a record found from here on is one to remove, not to put back.
    if (tail.record && tail.stream) MarkRollbackRecordDone(*tail.stream);
    if (tail.stream) {
        tail.front.reset();
        tail.stream.reset();
        tail.name.clear();  // deleted below with the other scratch files
    }
    // The new archive is whole: the parked old volumes, the saved tail and any item's temporary
    // go. What cannot be deleted now stays a success, but its name is told.
    const std::vector<std::u16string> left = Scratch.Made();
    for (const std::u16string& name : left)
        RemoveOrReport(*this, name, operation, 27, [&] { return Scratch.Delete(name); });

    // Sources of moved items go only after a commit that stored them.
    bool deleteAborted = false;
    for (int pass = 0; pass < 2 && !deleteAborted; ++pass) {
        for (int i = 0; i < items.GetCount() && !deleteAborted; ++i) {
            const TDirItem& it = items.GetItem(i);
            const bool isDir = (it.Header.ExternalAttr & faDirectory) != 0;
            if (it.ItemOperation != poMove || !it.Pending || it.SourceFileName.empty() || isDir != (pass == 1))
                continue;
            deleteAborted = !RemoveOrReport(*this, it.SourceFileName, poMove, isDir ? 60 : 27, [&] {
                return isDir ? RemoveDirectoryTree(WideToFsName(ZipIncludeTrailingBackslash(it.SourceFileName)))
                             : DeleteSourceFile(it.SourceFileName);
            });
        }
    }
    if (!deleteAborted) DoOnOverallProgress(100, operation, ppEnd, Cancelled);
}

}  // namespace zip
