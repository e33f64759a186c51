// Writes one item of a commit: from its source (local header, name, extras, data, then the
// header again with the final CRC and sizes), or copied unchanged from the old archive's tail.
#include "archive/item_writer.h"

#include <algorithm>
#include <climits>

#include "archive/archiver.h"
#include "text/code_pages.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

void PutLE(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLE(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

std::string StoredNameBytes(const std::u16string& name, bool oemFileNames, bool& utf8) {
    if (!utf8) {
        const std::uint32_t cp = oemFileNames ? CP_OEMCP : CP_ACP;
        std::string bytes = WideStringToStringEx(name, cp);
        if (StringToWideStringEx(bytes, cp) == name) return bytes;
        utf8 = true;  // "?" in place of a character would break every reference to the name
    }
    return UTF8EncodeWide(name);
}

namespace {

constexpr std::int64_t kLocalHeaderSize = 30;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
// Longest stored name: its Unicode extra and Zip64 extra must fit the 16-bit extra length.
constexpr std::size_t kMaxNameChars = 32000;

// A source name beyond the system's limits: a path of PATH_MAX bytes with its end, or a name
// longer than NAME_MAX.
bool SourceNameTooLong(const std::u16string& path) {
    const std::string bytes = WideToFsName(path);
    if (bytes.size() >= PATH_MAX) return true;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('/', start);
        if (end == std::string::npos) end = bytes.size();
        if (end - start > NAME_MAX) return true;
        start = end + 1;
    }
    return false;
}

std::uint32_t ShareFlag(TZipFileShareMode mode) {
    switch (mode) {
    case smShareCompat: return fmShareCompat;
    case smShareExclusive: return fmShareExclusive;
    case smShareDenyWrite: return fmShareDenyWrite;
    case smShareDenyRead: return fmShareDenyRead;
    case smShareDenyNone: return fmShareDenyNone;
    }
    return fmShareDenyNone;
}

// Largest compressed size the pipeline can give for a source of size bytes: stored deflate
// blocks, the sync-flush markers between read blocks, and room for an encryption header.
std::int64_t WorstCompressedSize(std::int64_t size, int mode) {
    const std::int64_t blocks = size / GetBufferSizeByMode(mode) + 2;
    return size + (size / 16000 + 1) * 5 + blocks * 16 + 128;
}

}  // namespace

bool LocalZip64Needed(std::int64_t size, int compressionMode, int zip64Mode) {
    if (zip64Mode == zmAlways || size < 0 || size >= 0xFFFFFFFFLL) return true;
    // With Zip64 off the size check after the data reports an overflow (native 41) instead.
    return zip64Mode != zmDisabled && WorstCompressedSize(size, compressionMode) >= 0xFFFFFFFFLL;
}

namespace {

void SetLocalOffset(TDirItem& item, std::int64_t offset, bool always64) {
    item.LocalHeaderOffset64 = static_cast<std::uint64_t>(offset);
    if (offset < 0xFFFFFFFFLL && !always64) {
        item.Header.LocalHeaderOffset = static_cast<std::uint32_t>(offset);
    } else {
        item.HasZip64 = true;
        item.Header.LocalHeaderOffset = 0xFFFFFFFF;
    }
}

void SetDiskNumber(TDirItem& item, int volume) {
    const int v = std::max(volume, 0);
    item.DiskNumberStart64 = static_cast<std::uint32_t>(v);
    if (v < 0xFFFF) {
        item.Header.DiskNumberStart = static_cast<std::uint16_t>(v);
    } else {
        item.HasZip64 = true;
        item.Header.DiskNumberStart = 0xFFFF;
    }
}

// The Unicode name extra: "NUCX", the length in characters, the UTF-16 name.
TExtraField UnicodeNameExtra(const std::u16string& name) {
    TExtraField nu{kTagUnicodeName, {}};
    PutLE(nu.Data, 0x5843554E, 4);
    PutLE(nu.Data, name.size(), 4);
    for (char16_t c : name) PutLE(nu.Data, c, 2);
    return nu;
}

// A scratch file deleted with the object.
struct TempFile {
    TZipScratchFiles& scratch;
    std::u16string name;
    std::unique_ptr<TUniFileStream> stream;
    ~TempFile() {
        stream.reset();
        if (!name.empty()) scratch.Delete(name);
    }
};

}  // namespace

bool TZipBaseArchiver::ProcessItem(int index) {
    TZipDirArray& items = dirManager_->Items;
    UpdateCompressionMethod();
    TDirItem& item = items.GetItem(index);
    const TZipProcessOperation operation = item.ItemOperation;
    const std::u16string shown = operation == poUpdate ? item.Name : item.SourceFileName;
    DoOnFileProgress(shown, 0, operation, ppStart, Cancelled);
    if (Cancelled) return false;

    TStream* const volume = archiveStream_;
    const int startVolume = VolumeNumberInfo.volumeNumber;
    const std::int64_t startPos = volume ? volume->Position() : 0;
    const bool spanning = spanningMode_ != smNone;
    std::unique_ptr<TStream> ownedSource;
    TStream* source = nullptr;
    std::int64_t savedSourcePos = 0;
    TempFile temp{Scratch, {}, {}};
    auto closeSource = [&] {
        if (source && source == item.SourceStream.get()) {
            if (item.OwnsSourceStream) item.SourceStream.reset();
            else source->Seek(savedSourcePos, TSeekOrigin::soBeginning);
        }
        ownedSource.reset();
        source = nullptr;
    };

    try {
        // Every attempt starts from the planned item: no extras or flags of an earlier one.
        item.HasZip64 = false;
        item.ExtraFields.clear();
        item.Header.Flags &= static_cast<std::uint16_t>(~kFlagUtf8Name);
        const bool isDir = (item.Header.ExternalAttr & faDirectory) != 0;
        if (!isDir) item.Header.Method = item.TargetMethod;

        std::int64_t size = 0;
        if (item.SourceStream) {
            source = item.SourceStream.get();
            savedSourcePos = source->Position();
            source->Seek(item.SourcePosition, TSeekOrigin::soBeginning);
            size = source->Size() - item.SourcePosition;
        } else if (!isDir) {
            if (SourceNameTooLong(item.SourceFileName)) FailFmt(61, {item.SourceFileName});
            try {
                ownedSource =
                    std::make_unique<TUniFileStream>(item.SourceFileName, fmOpenRead | ShareFlag(Options.ShareMode));
            } catch (const EStreamError&) {
                FailFmt(33, {item.SourceFileName});
            }
            source = ownedSource.get();
            size = source->Size();
        }
        const bool hasSource = source != nullptr;

        if (!spanning) SetLocalOffset(item, volume->Position(), Zip64Mode == zmAlways);
        // The local Zip64 extra holds both sizes; it is reserved whenever either can overflow.
        const bool reserve64 = hasSource && LocalZip64Needed(size, item.ItemCompressionMode, Zip64Mode);
        if (reserve64) item.HasZip64 = true;
        if (item.HasZip64 && Zip64Mode == zmDisabled) FailFmt(43, {item.SourceFileName});

        // A directory item has no data to encrypt.
        std::unique_ptr<TZipEntryCipher> cipher;
        if (hasSource && !item.Password.empty()) {
            if (size == 0) item.Header.Method = 0;  // nothing to deflate; the AES extra must say so
            cipher = CreateEntryCipher(item);
        }

        const std::uint16_t version = item.HasZip64          ? (UsePKSignatures ? 0x002D : 0x412D)
                                      : !UsePKSignatures     ? 0x4114
                                      : Options.OEMFileNames ? 0x0014
                                                             : 0x0B14;
        item.Header.VersionMadeBy = item.Header.VersionNeeded = version;
        if (item.Name.size() > kMaxNameChars) FailFmt(61, {item.Name});
        bool utf8 = false;
        const std::string name = StoredNameBytes(item.Name, Options.OEMFileNames, utf8);
        if (name.size() > 0xFFFF) FailFmt(61, {item.Name});
        if (utf8) item.Header.Flags |= kFlagUtf8Name;

        std::vector<std::uint8_t> extras;
        if (reserve64) {
            PutLE(extras, kTagZip64, 2);
            PutLE(extras, 16, 2);
            PutLE(extras, 0, 8);
            PutLE(extras, 0, 8);
        }
        if (UnicodeFilenames) item.ExtraFields.push_back(UnicodeNameExtra(item.Name));
        if (cipher && UsePKSignatures && version < 0x4114) {
            TExtraField aes = cipher->Extra();
            if (aes.Tag != 0) item.ExtraFields.push_back(std::move(aes));
        }
        for (const TExtraField& e : item.ExtraFields) {
            PutLE(extras, e.Tag, 2);
            PutLE(extras, e.Size(), 2);
            extras.insert(extras.end(), e.Data.begin(), e.Data.end());
        }
        if (extras.size() > 0xFFFF) FailFmt(61, {item.Name});

        const std::uint16_t localMethod =
            cipher && cipher->StoredMethod() != 0 && UsePKSignatures ? cipher->StoredMethod() : item.Header.Method;
        auto header = [&](std::uint32_t crc, std::uint32_t csize, std::uint16_t method) {
            std::vector<std::uint8_t> h;
            PutLE(h, UsePKSignatures ? kLocalHeaderSignature : kBaseLocalHeaderSignature, 4);
            PutLE(h, version, 2);
            PutLE(h, item.Header.Flags, 2);
            PutLE(h, method, 2);
            PutLE(h, item.Header.ModTime, 2);
            PutLE(h, item.Header.ModDate, 2);
            PutLE(h, crc, 4);
            PutLE(h, csize, 4);
            PutLE(h, !hasSource ? 0u : reserve64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size), 4);
            PutLE(h, name.size(), 2);
            PutLE(h, extras.size(), 2);
            return h;
        };

        TStream* target = volume;
        std::int64_t headerAt = spanning ? 0 : startPos;
        if (spanning) {
            temp.name = MakeTempFileName();
            temp.stream = std::make_unique<TUniFileStream>(temp.name, fmCreate);
            target = temp.stream.get();
        }
        auto put = [&](const std::vector<std::uint8_t>& bytes) {
            if (spanning) {
                if (target->Write(bytes.data(), static_cast<std::int64_t>(bytes.size())) !=
                    static_cast<std::int64_t>(bytes.size()))
                    Fail(46);
            } else {
                WriteExact(bytes.data(), static_cast<std::int64_t>(bytes.size()), nullptr, -1, target);
            }
        };
        std::vector<std::uint8_t> local = header(item.Header.Crc32, 0, localMethod);
        local.insert(local.end(), name.begin(), name.end());
        local.insert(local.end(), extras.begin(), extras.end());
        put(local);
        const std::int64_t headerLength = static_cast<std::int64_t>(local.size());

        if (hasSource) {
            if (!EncryptStream(item, *source, *target, cipher.get())) {
                closeSource();
                if (!spanning && archiveStream_ == volume) {
                    volume->Seek(startPos, TSeekOrigin::soBeginning);
                    volume->SetSize(startPos);
                }
                FailureAction = fxaAbort;
                return false;
            }
            if (!reserve64 && item.Header.CompressedSize == 0xFFFFFFFF)
                FailFmt(41, {item.SourceFileName});  // never a size field without its Zip64 value
            const std::uint32_t csize = reserve64 ? 0xFFFFFFFFu : item.Header.CompressedSize;
            target->Seek(headerAt, TSeekOrigin::soBeginning);
            std::vector<std::uint8_t> final =
                header(item.Header.Crc32, csize, localMethod == 99 ? 99 : item.Header.Method);
            if (reserve64) {
                final.insert(final.end(), name.begin(), name.end());
                PutLE(final, kTagZip64, 2);
                PutLE(final, 16, 2);
                PutLE(final, item.UncompressedSize64, 8);
                PutLE(final, item.CompressedSize64, 8);
            }
            put(final);
            target->Seek(0, TSeekOrigin::soEnd);
        }
        closeSource();

        DoOnFileProgress(shown, 100, operation, ppEnd, Cancelled);
        if (Cancelled) {
            FailureAction = fxaAbort;
            return false;
        }
        if (spanning) {
            // Header and data go to the volumes; the header is never split across two.
            std::vector<std::uint8_t> head(static_cast<std::size_t>(headerLength));
            temp.stream->SetPosition(0);
            temp.stream->ReadBuffer(head.data(), headerLength);
            TStream* s = archiveStream_;
            WriteExact(head.data(), headerLength, CommitBuffer.get(), headerLength, s);
            const std::int64_t at = (CommitBuffer ? CommitBuffer->Size() + s->Size() : s->Position()) - headerLength;
            SetLocalOffset(item, at, Zip64Mode == zmAlways);
            SetDiskNumber(item, VolumeNumberInfo.volumeNumber);
            CopyToVolumes(*temp.stream, -1, false);
        }
        return true;
    } catch (const EZipException& e) {
        closeSource();
        bool clean = false;
        if (archiveStream_ && archiveStream_ == volume && VolumeNumberInfo.volumeNumber == startVolume) {
            try {
                volume->Seek(startPos, TSeekOrigin::soBeginning);
                volume->SetSize(startPos);
                clean = true;
            } catch (const std::exception&) {}
        }
        if (!archiveStream_ || !clean) {
            // Nothing to retry on: the bytes of the failed item cannot be taken back here. A volume
            // that could not be had is the commit's failure, unless the user cancelled it.
            if (!archiveStream_ && e.NativeError != 45) throw;
            FailureAction = fxaAbort;
            FailureError = std::current_exception();
            return false;
        }
        TZipAction action = fxaIgnore;
        DoOnProcessFileFailure(shown, operation, e.NativeError, e.ErrorCode, UTF8DecodeWide(e.Message), action);
        FailureAction = action;
        // The default dialog's answer, given with nobody to ask, is no one's choice.
        if (action == fxaAbort && !OnProcessFileFailure && !Prompter) FailureError = std::current_exception();
        return false;
    } catch (...) {
        closeSource();
        throw;
    }
}

void TZipBaseArchiver::AddFileItem(int index, std::int64_t tailStart, TStream* tail) {
    TZipDirArray& items = dirManager_->Items;
    TZipDirArray& backup = dirManager_->BackupItems;
    int old = -1;
    {
        const TDirItem& item = items.GetItem(index);
        const bool found = item.ItemOperation == poRename
                               ? backup.FindItem(item.OldName, old) || backup.FindItem(item.Name, old)
                               : backup.FindItem(item.Name, old);
        if (!found || !tail) Fail(7);
        if (item.ItemOperation == poUpdate) items.SetItem(index, backup.GetItem(old));
    }
    TDirItem& item = items.GetItem(index);
    const TDirItem& oldItem = backup.GetItem(old);
    const std::int64_t pos = TailPosition(oldItem, tailStart);
    std::uint8_t h[kLocalHeaderSize];
    if (pos < 0 || pos > tail->Size() - kLocalHeaderSize) Fail(35);
    tail->Seek(pos, TSeekOrigin::soBeginning);
    if (tail->Read(h, kLocalHeaderSize) != kLocalHeaderSize ||
        (GetLE(h, 4) != kLocalHeaderSignature && GetLE(h, 4) != kBaseLocalHeaderSignature))
        Fail(35);
    // The record's own lengths: the central extras often differ from the local ones.
    const std::int64_t nameLength = static_cast<std::int64_t>(GetLE(h + 26, 2));
    const std::int64_t extraLength = static_cast<std::int64_t>(GetLE(h + 28, 2));
    std::int64_t dataLength = oldItem.Header.CompressedSize == 0xFFFFFFFFu
                                  ? static_cast<std::int64_t>(oldItem.CompressedSize64)
                                  : oldItem.Header.CompressedSize;
    const std::int64_t available = tail->Size() - (pos + kLocalHeaderSize + nameLength + extraLength);
    if (dataLength < 0 || dataLength > available) Fail(35);
    if (GetLE(h + 6, 2) & 0x0008) {
        // A data descriptor follows the data: with its signature 16 bytes (24 with Zip64), else 12.
        std::uint8_t sig[4] = {};
        tail->Seek(pos + kLocalHeaderSize + nameLength + extraLength + dataLength, TSeekOrigin::soBeginning);
        const bool signed_ = tail->Read(sig, 4) == 4 && GetLE(sig, 4) == kDataDescriptorSignature;
        dataLength += signed_ ? (oldItem.HasZip64 ? 24 : 16) : 12;
    }
    if (dataLength > available) Fail(35);

    std::vector<std::uint8_t> head;
    if (item.ItemOperation == poRename) {
        bool utf8 = (item.Header.Flags & kFlagUtf8Name) != 0;
        const std::string name = StoredNameBytes(item.Name, Options.OEMFileNames, utf8);
        // A reader takes the name from the Unicode extra before the stored one: it is renamed too.
        for (TExtraField& e : item.ExtraFields)
            if (e.Tag == kTagUnicodeName) e = UnicodeNameExtra(item.Name);
        const bool zip64 = item.Header.CompressedSize == 0xFFFFFFFFu || item.Header.UncompressedSize == 0xFFFFFFFFu;
        std::vector<std::uint8_t> extras;
        if (zip64) {
            PutLE(extras, kTagZip64, 2);
            PutLE(extras, 16, 2);
            PutLE(extras, item.UncompressedSize64, 8);
            PutLE(extras, item.CompressedSize64, 8);
        }
        for (const TExtraField& e : item.ExtraFields) {
            if (e.Tag == kTagZip64) continue;
            PutLE(extras, e.Tag, 2);
            PutLE(extras, e.Size(), 2);
            extras.insert(extras.end(), e.Data.begin(), e.Data.end());
        }
        if (name.size() > 0xFFFF || extras.size() > 0xFFFF) FailFmt(61, {item.Name});
        head.assign(h, h + kLocalHeaderSize);
        std::uint16_t flags = static_cast<std::uint16_t>(GetLE(h + 6, 2) & ~kFlagUtf8Name);
        if (utf8) flags |= kFlagUtf8Name;
        head[6] = static_cast<std::uint8_t>(flags);
        head[7] = static_cast<std::uint8_t>(flags >> 8);
        head[26] = static_cast<std::uint8_t>(name.size());
        head[27] = static_cast<std::uint8_t>(name.size() >> 8);
        head[28] = static_cast<std::uint8_t>(extras.size());
        head[29] = static_cast<std::uint8_t>(extras.size() >> 8);
        head.insert(head.end(), name.begin(), name.end());
        head.insert(head.end(), extras.begin(), extras.end());
        item.Header.Flags = flags;
    } else {
        head.resize(static_cast<std::size_t>(kLocalHeaderSize + nameLength + extraLength));
        tail->Seek(pos, TSeekOrigin::soBeginning);
        tail->ReadBuffer(head.data(), static_cast<std::int64_t>(head.size()));
    }
    TStream* s = archiveStream_;
    const std::int64_t headLength = static_cast<std::int64_t>(head.size());
    WriteExact(head.data(), headLength, CommitBuffer.get(), headLength, s);
    const std::int64_t at = (CommitBuffer ? CommitBuffer->Size() + s->Size() : s->Position()) - headLength;
    SetLocalOffset(item, at, false);
    if (spanningMode_ != smNone) SetDiskNumber(item, VolumeNumberInfo.volumeNumber);
    tail->Seek(pos + kLocalHeaderSize + nameLength + extraLength, TSeekOrigin::soBeginning);
    CopyToVolumes(*tail, dataLength, false);
}

}  // namespace zip
