// The file behind an archive: one file, or the volumes of a spanned or split set, written through
// one volume writer that moves on to the next volume when the current one is full.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archiver.h"
#include "archive/rollback_record.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

namespace {

// The device and file number of name, or of an open descriptor; false when there is none.
bool FileIdentity(const std::u16string& name, std::pair<std::uint64_t, std::uint64_t>& id) {
    struct stat st {};
    if (name.empty() || ::stat(WideToFsName(name).c_str(), &st) != 0) return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

constexpr char kScratchPrefix[] = "FC";
constexpr char kScratchSuffix[] = ".tmp";
// Appended to a saved tail that failed to go back, so that no later commit takes it.
constexpr char kKeptSuffix[] = ".kept";

const char* KindWord(TZipScratchKind kind) {
    switch (kind) {
    case TZipScratchKind::OldData: return "old";
    case TZipScratchKind::ParkedVolume: return "parked";
    case TZipScratchKind::NewItem:
    case TZipScratchKind::Record: break;
    }
    return "new";
}

// A new empty file in folder named "FC", six characters, "." and of, "." and the kind's word,
// ".tmp" (of shortened, never the word, to keep the name and its kept form within the system's
// limit); its descriptor, or -1.
int CreateScratch(const std::string& folder, const std::string& of, TZipScratchKind kind, std::string& name) {
    std::string middle = of.empty() ? std::string() : "." + of;
    const std::string tail = std::string(".") + KindWord(kind) + kScratchSuffix;
    const std::size_t room = NAME_MAX - (sizeof kScratchPrefix - 1) - 6 - tail.size() - (sizeof kKeptSuffix - 1);
    if (middle.size() > room) {
        middle.resize(room);
        while (!middle.empty() && (static_cast<unsigned char>(middle.back()) & 0xC0) == 0x80) middle.pop_back();
        if (!middle.empty() && (static_cast<unsigned char>(middle.back()) & 0x80)) middle.pop_back();
    }
    const std::string suffix = middle + tail;
    name = folder + kScratchPrefix + "XXXXXX" + suffix;
    return ::mkstemps(name.data(), static_cast<int>(suffix.size()));
}

}  // namespace

std::u16string TZipScratchFiles::Make(const std::u16string& folder, const std::u16string& of, TZipScratchKind kind) {
    if (kind == TZipScratchKind::Record) {
        // One name per archive: a record already there is another writer's, never replaced.
        const std::u16string record = RollbackRecordName(folder + of);
        const int fd = ::open(WideToFsName(record).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) return {};
        ::close(fd);
        made_.push_back(record);
        return record;
    }
    std::string name;
    const int fd = CreateScratch(WideToFsName(folder), WideToFsName(of), kind, name);
    if (fd < 0) return {};
    ::close(fd);
    made_.push_back(FsNameToWide(name));
    return made_.back();
}

std::u16string TZipScratchFiles::Park(const std::u16string& file) {
    const std::string from = WideToFsName(file);
    std::string aside;
    const int fd = CreateScratch(WideToFsName(WideExtractFilePath(file)), WideToFsName(WideExtractFileName(file)),
                                 TZipScratchKind::ParkedVolume, aside);
    if (fd < 0) return {};
    ::close(fd);
    if (::rename(from.c_str(), aside.c_str()) != 0) {
        ::unlink(aside.c_str());
        return {};
    }
    made_.push_back(FsNameToWide(aside));
    return made_.back();
}

bool TZipScratchFiles::Delete(const std::u16string& name) {
    const auto it = std::find(made_.begin(), made_.end(), name);
    if (it == made_.end()) return false;  // not made here: never ours to delete
    if (!WideFileDelete(name) && WideFileExists(name)) return false;
    made_.erase(it);
    return true;
}

void TZipScratchFiles::Release(const std::u16string& name) {
    const auto it = std::find(made_.begin(), made_.end(), name);
    if (it != made_.end()) made_.erase(it);
}

bool IsSFXFile(const std::u16string& name) {
    return ZipWideLowerCase(WideExtractFileExt(name)).find(u".exe") != std::u16string::npos;
}

std::int64_t TZipBaseArchiver::FreeSpace(const std::u16string& name) { return ZipFreeSpace(name); }

std::u16string TZipBaseArchiver::MakeScratchFile(const std::u16string& folder, TZipScratchKind kind) {
    // Named after the archive itself, not a link to it.
    return Scratch.Make(folder, WideExtractFileName(RealFileName(FileName)), kind);
}

std::u16string TZipBaseArchiver::MakeTempFileName(TZipScratchKind kind) {
    std::u16string dir = TempDir;
    if (dir.empty()) {
        const char* env = std::getenv("TMPDIR");
        dir = FsNameToWide(env && *env ? env : "/tmp");
    }
    const std::u16string folder = ZipIncludeTrailingBackslash(dir);
    const std::u16string name = MakeScratchFile(folder, kind);
    if (name.empty()) {
        const std::u16string of = WideExtractFileName(FileName);
        FailFmt(19, {folder + u"FCXXXXXX" + (of.empty() ? u"" : u"." + of) + u"." + FsNameToWide(KindWord(kind)) +
                     u".tmp"});
    }
    return name;
}

bool TZipBaseArchiver::IsOwnVolume(const std::u16string& name) const {
    std::pair<std::uint64_t, std::uint64_t> id;
    return FileIdentity(name, id) && std::find(SetVolumeIds.begin(), SetVolumeIds.end(), id) != SetVolumeIds.end();
}

void TZipBaseArchiver::CheckVolumeNames() {
    if (spanningMode_ == smSplitting) {
        // Volume numbers run far beyond any set's size here; the names are built, not looked up.
        const std::u16string last = VolumeFileName(-1, false);
        for (int n = 0; n < 1000; ++n)
            if (VolumeFileName(n, false) == last) FailFmt(19, {last});
    } else if (spanningMode_ == smSpanning && !SpanningOptions.AdvancedNaming && !OnRequestBlankVolume &&
               !IsRemovableDrive(WideToFsName(FileName))) {
        // No disk is changed between the volumes: each would truncate the one before.
        FailFmt(19, {FileName});
    }
}

bool TZipBaseArchiver::RenameVolume(const std::u16string& from, const std::u16string& to) {
    if (!WideRenameFile(from, to)) return false;
    if (VolumeJournal.Active) {
        auto made = std::find(VolumeJournal.Created.begin(), VolumeJournal.Created.end(), from);
        if (made != VolumeJournal.Created.end()) *made = to;
        else VolumeJournal.Renamed.emplace_back(from, to);
    }
    return true;
}

std::int64_t TZipBaseArchiver::TailPosition(const TDirItem& old, std::int64_t tailStart) const {
    const std::int64_t offset = EffectiveLocalOffset(old);
    if (TailVolumeBase.empty()) return offset - tailStart;
    const std::int64_t k = EffectiveDiskStart(old) - TailFirstVolume;
    if (k < 0 || k >= static_cast<std::int64_t>(TailVolumeBase.size())) return -1;
    return TailVolumeBase[static_cast<std::size_t>(k)] + offset;
}

void TZipBaseArchiver::CreateDirManager() {
    if (inMemory_) {
        SetArchiveStream(std::make_unique<TMemoryStream>());
    } else {
        if (spanningMode_ != smNone) CheckVolumeNames();
        FreeArchiveStream();
        VolumeNumberInfo.SetFirst();
        RequestVolume(VolumeNumberInfo);
    }
    dirManager_ = std::make_unique<TZipDirManager>(archiveStream_, *this, true);
    if (!SFXStub.empty()) dirManager_->WriteSFXStub();
}

std::unique_ptr<TUniFileStream> TZipBaseArchiver::NewVolumeStream(const std::u16string& name, std::uint16_t mode) {
    return std::make_unique<TUniFileStream>(name, mode);
}

void TZipBaseArchiver::LockForWriting(const std::u16string& name, bool create) {
    const std::string path = WideToFsName(name);
    // A name given to another file between the open and the lock is tried again.
    for (int tries = 0; tries < 8; ++tries) {
        struct stat named {};
        if (::stat(path.c_str(), &named) == 0)
            for (const TWriteLock& held : WriteLocks)
                if (held.Device == named.st_dev && held.File == named.st_ino) return;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        // A file not there (yet) has nothing to lock; one that cannot be opened cannot be written.
        if (fd < 0 && errno == ENOENT && !create) return;
        if (fd < 0) FailFmt(create ? 19 : 33, {name});
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return;
        }
        for (const TWriteLock& held : WriteLocks)
            if (held.Device == st.st_dev && held.File == st.st_ino) {
                ::close(fd);
                return;
            }
        // A lock of the open file, not of the process: it holds against another archiver in this
        // process too, and leaves alone the locks that callers take on their own files.
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        int r;
        do r = ::fcntl(fd, F_OFD_SETLK, &whole);
        while (r != 0 && errno == EINTR);
        if (r != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EAGAIN || err == EACCES) FailFmt(36, {name});
            return;  // no locks on this file system (ENOLCK, EOPNOTSUPP, ENOSYS, EINVAL)
        }
        struct stat now {};
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            WriteLocks.push_back({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), fd});
            return;
        }
        ::close(fd);
    }
}

bool TZipBaseArchiver::ReleaseWriteLocks() {
    bool closed = true;
    for (const TWriteLock& held : WriteLocks) closed = ::close(held.Handle) == 0 && closed;
    WriteLocks.clear();
    return closed;
}

void TZipBaseArchiver::OpenVolumeFile(const std::u16string& name) {
    FreeArchiveStream();
    // Each file a transaction writes is its own until the archive is closed; the lock comes
    // before a creating open cuts the file.
    if (OpensForWriting(OpenMode)) LockForWriting(name, OpenMode == fmCreate);
    try {
        SetArchiveStream(NewVolumeStream(name, OpenMode));
    } catch (const EStreamError&) {
        FailFmt(OpenMode == fmCreate ? 19 : 33, {name});
    }
    CurrentVolumeName = name;
    std::pair<std::uint64_t, std::uint64_t> id;
    if (FileIdentity(name, id) && std::find(SetVolumeIds.begin(), SetVolumeIds.end(), id) == SetVolumeIds.end())
        SetVolumeIds.push_back(id);
}

void TZipBaseArchiver::CloseArchiveFile() {
    if (!ExternalStream)
        if (auto* f = dynamic_cast<TUniFileStream*>(ownedStream_.get())) {
            try {
                f->Close();
            } catch (const EStreamError&) {
                FreeArchiveStream();
                Fail(46);
            }
        }
    FreeArchiveStream();
}

void TZipBaseArchiver::FlushArchiveFile(TStream* stream) {
    try {
        if (auto* f = dynamic_cast<TUniFileStream*>(stream)) f->Flush();
        else if (auto* h = dynamic_cast<THandleStream*>(stream); h && !WideFileFlush(h->Handle())) Fail(46);
    } catch (const EStreamError&) {
        Fail(46);
    }
}

void TZipBaseArchiver::RequestVolume(TZipVolumeNumberInfo& info) {
    if (spanningMode_ == smNone) {
        if (!archiveStream_) OpenVolumeFile(FileName);
        VolumeNumberInfo = info;
        return;
    }
    const int number = std::max(info.volumeNumber, 0);
    bool cancel = false;
    std::u16string name;
    if (OpenMode == fmCreate || ExtendingSet) {
        // The set's last volume bears the set's name; once full it takes its numbered name, and
        // the volume that ends the set gets the set's name when the directory is written.
        const std::u16string lastName = ExtendingSet ? VolumeFileName(-1, false) : std::u16string();
        if (ExtendingSet && archiveStream_ && CurrentVolumeName == lastName) {
            const std::u16string own = VolumeFileName(VolumeNumberInfo.volumeNumber, false);
            if (own != lastName) {
                if (!RenameVolume(lastName, own)) FailFmt(19, {own});
                CurrentVolumeName = own;
            }
        }
        CloseArchiveFile();
        for (;;) {
            name = FileName;
            DoOnRequestBlankVolume(number, name, cancel);
            if (cancel) break;
            const std::int64_t free = FreeSpace(name);
            const std::int64_t volumeSize = SpanningOptions.VolumeSizeFor(number);
            if (free <= 65536 || (spanningMode_ == smSpanning && volumeSize > 0 && free < volumeSize)) {
                DoOnDiskFull(number, name, cancel);
                if (cancel) break;
                continue;
            }
            break;
        }
        // A name that still holds one of this set's volumes (the same disk, or the same name on a
        // fixed drive) would be truncated by the new volume.
        if (!cancel && IsOwnVolume(name)) FailFmt(19, {name});
        if (!cancel) {
            const std::uint16_t mode = OpenMode;
            OpenMode = fmCreate;
            try {
                OpenVolumeFile(name);
            } catch (...) {
                OpenMode = mode;
                throw;
            }
            OpenMode = mode;
            if (VolumeJournal.Active) VolumeJournal.Created.push_back(name);
            // A volume label ("pkback# 001" ...) has no counterpart on this platform.
        }
    } else {
        OpenVolumeFile(AskForVolume(info));
    }
    if (cancel) Fail(45);
    if (&info != &VolumeNumberInfo) VolumeNumberInfo = info;
}

std::u16string TZipBaseArchiver::AskForVolume(const TZipVolumeNumberInfo& info) {
    const int number = std::max(info.volumeNumber, 0);
    bool cancel = false;
    std::u16string name;
    // Asked for until it is there or the user gives up.
    do {
        if (info.IsFirst()) DoOnRequestFirstVolume(name, cancel);
        else if (info.IsLastVolume()) DoOnRequestLastVolume(name, cancel);
        else DoOnRequestMiddleVolume(number, name, cancel);
    } while (!cancel && !WideFileExists(name));
    if (cancel) Fail(45);
    return name;
}

std::int64_t TZipBaseArchiver::WriteToVolume(const void* buffer, std::int64_t count, TStream* pending,
                                             std::int64_t keepTogether, TStream*& stream) {
    if (count <= 0) return 0;
    if (spanningMode_ == smNone) return stream->Write(buffer, count);
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t pendingSize = pending ? pending->Size() : 0;
        std::int64_t room = FreeSpace(CurrentVolumeName) - pendingSize;
        const std::int64_t volumeSize = SpanningOptions.VolumeSizeFor(std::max(VolumeNumberInfo.volumeNumber, 0));
        const std::int64_t used = stream->Size();
        if (volumeSize != -1) room = std::min(room, volumeSize - used - pendingSize);
        if (room < 0) break;
        const std::int64_t left = count - done;
        // A record that must stay whole goes to the next volume, unless this one is still empty.
        const bool skip = keepTogether >= 0 && keepTogether + left > room && used + pendingSize > 0;
        if (!skip) {
            const std::int64_t n = std::min(room, left);
            TStream* to = pending ? pending : stream;
            const std::int64_t written = n > 0 ? to->Write(p + done, n) : 0;
            done += written;
            if (written < n) break;
        }
        if (done < count) {
            if (pending && pending->Size() > 0) {
                pending->SetPosition(0);
                stream->CopyFrom(*pending, pending->Size());
                pending->SetSize(0);
            }
            // A full volume of a commit goes to the disk now: the commit may delete old volumes
            // only once the new set is there.
            if (spanningMode_ == smSpanning || (CommitRunning && Options.FlushBuffers)) FlushArchiveFile(stream);
            TZipVolumeNumberInfo next = VolumeNumberInfo;
            next.SetNumber(VolumeNumberInfo.volumeNumber + 1);
            RequestVolume(next);
            stream = archiveStream_;
        }
    }
    return done;
}

void TZipBaseArchiver::WriteExact(const void* buffer, std::int64_t count, TStream* pending, std::int64_t keepTogether,
                                  TStream*& stream) {
    if (WriteToVolume(buffer, count, pending, keepTogether, stream) < count) Fail(46);
}

void TZipBaseArchiver::CopyToVolumes(TStream& source, std::int64_t count, bool progress) {
    if (count < 0) count = std::max<std::int64_t>(0, source.Size() - source.Position());
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 1, 1000000)));
    bool cancel = false;
    if (progress) {
        DoOnCopyTempFileProgress(0, ppStart, cancel);
        if (cancel) return;
    }
    TStream* stream = archiveStream_;
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t n = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(buf.size()));
        source.ReadBuffer(buf.data(), n);
        WriteExact(buf.data(), n, CommitBuffer.get(), -1, stream);
        done += n;
        if (progress) {
            DoOnCopyTempFileProgress(static_cast<double>(done) / static_cast<double>(count) * 100.0, ppProcess, cancel);
            if (cancel) return;
        }
    }
    if (progress) DoOnCopyTempFileProgress(100, ppEnd, cancel);
}

void TZipDirManager::WriteSFXStub() {
    TUniFileStream stub(Owner.SFXStub, fmOpenRead | fmShareDenyNone);
    const std::int64_t size = stub.Size();
    const std::int64_t first = Owner.SpanningOptions.VolumeSizeFor(0);
    if (Owner.SpanningMode() != smNone && first != -1 && size > first) throw EZipException::CreateNative(47, &Owner);
    Stream->SetSize(0);
    Stream->SetPosition(0);
    stub.SetPosition(0);
    Stream->CopyFrom(stub, size);
    ArchiveStart = size;
}

}  // namespace zip
