#include "archive/dir_manager.h"

#include "archive/archiver.h"

#include <algorithm>
#include <vector>

#include "archive/item_writer.h"
#include "archive/le_fields.h"
#include "text/wide_files.h"

namespace zip {

void TEndRecord::Store(std::uint8_t* out) const {
    std::uint8_t* p = out;
    Put32(p, Signature);
    Put16(p, ThisDisk);
    Put16(p, DirectoryDisk);
    Put16(p, EntriesOnDisk);
    Put16(p, TotalEntries);
    Put32(p, DirectorySize);
    Put32(p, DirectoryOffset);
    Put16(p, CommentLength);
}

TEndRecord TEndRecord::Load(const std::uint8_t* in) {
    const std::uint8_t* p = in;
    TEndRecord r;
    r.Signature = Get32(p);
    r.ThisDisk = Get16(p);
    r.DirectoryDisk = Get16(p);
    r.EntriesOnDisk = Get16(p);
    r.TotalEntries = Get16(p);
    r.DirectorySize = Get32(p);
    r.DirectoryOffset = Get32(p);
    r.CommentLength = Get16(p);
    return r;
}

bool ReadStreamAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count) {
    if (position < 0 || count < 0 || position > stream.Size() - count) return false;
    const std::int64_t here = stream.Position();
    const bool ok = stream.Seek(position, TSeekOrigin::soBeginning) == position && stream.Read(buffer, count) == count;
    stream.Seek(here, TSeekOrigin::soBeginning);
    if (!ok) throw EReadFailure();
    return true;
}

TZipDirManager::TZipDirManager(TStream* stream, TZipBaseArchiver& owner, bool isNew, bool customStream)
    : Stream(stream), IsNew(isNew), IsCustomStream(customStream), Owner(owner) {
    BackupItems.Owner = Items.Owner = &owner;
    Reset();
    if (isNew) owner.VolumeNumberInfo.SetFirst();
}

void TZipDirManager::Reset() {
    Items.SetCount(0);
    EndRecord = TEndRecord{};
    EndRecord.Signature = Owner.UsePKSignatures ? TEndRecord::kSignature : TEndRecord::kBaseSignature;
}

void TZipDirManager::SaveDir(bool atEnd, TStream* stream) {
    if (stream) Stream = stream;
    if (!Stream) return;
    TZipBaseArchiver& a = Owner;
    std::int64_t start = -1;
    if (!atEnd) {
        std::int64_t endAt = -1;
        bool found = false;
        if (!a.UsePKSignatures) found = FindSignatureBackward(TEndRecord::kSignature, endAt);
        if (!found) found = FindSignatureBackward(EndRecord.Signature, endAt);
        if (found) start = DirectoryOffset();
    }
    if (start < 0) start = Stream->Seek(0, TSeekOrigin::soEnd);
    Stream->Seek(start, TSeekOrigin::soBeginning);
    Stream->SetSize(start);

    int volume = std::max(a.VolumeNumberInfo.volumeNumber, 0);
    std::uint16_t dirDisk = volume >= 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(volume);
    DirectoryPosition = start;
    // Counted rather than taken from positions, which restart on every volume.
    std::int64_t dirSize = 0;
    auto write = [&](const std::vector<std::uint8_t>& bytes, bool keepTogether) {
        TStream* s = Stream;
        a.WriteExact(bytes.data(), static_cast<std::int64_t>(bytes.size()), nullptr,
                     keepTogether ? static_cast<std::int64_t>(bytes.size()) : -1, s);
        Stream = s;
    };

    const std::uint32_t centralSignature = a.UsePKSignatures ? TCentralHeader::kSignature : 0x03025C61u;
    const int count = Items.GetCount();
    std::vector<std::uint8_t> rec;
    for (int i = 0; i < count; ++i) {
        TDirItem& item = Items.GetItem(i);
        TCentralHeader h = item.Header;
        bool utf8 = (h.Flags & kFlagUtf8Name) != 0;
        const std::string name = StoredNameBytes(item.Name, a.Options.OEMFileNames, utf8);
        if (utf8) h.Flags |= kFlagUtf8Name;
        // Rebuilt items may carry another record's signature; a central entry has its own.
        h.Signature = centralSignature;
        std::vector<std::uint8_t> zip64;
        if (h.UncompressedSize == 0xFFFFFFFF) PutLE(zip64, item.UncompressedSize64, 8);
        if (h.CompressedSize == 0xFFFFFFFF) PutLE(zip64, item.CompressedSize64, 8);
        if (h.LocalHeaderOffset == 0xFFFFFFFF) PutLE(zip64, item.LocalHeaderOffset64, 8);
        if (h.DiskNumberStart == 0xFFFF) PutLE(zip64, item.DiskNumberStart64, 4);
        std::size_t extraLength = zip64.empty() ? 0 : 4 + zip64.size();
        for (const TExtraField& e : item.ExtraFields)
            if (e.Tag != kTagZip64) extraLength += 4 + e.Size();
        const std::size_t commentLength = std::min<std::size_t>(item.Comment.size(), 0xFFFF);
        if (name.size() > 0xFFFF || extraLength > 0xFFFF) throw EZipException::CreateNativeFmt(61, &a, {item.Name});
        h.NameLength = static_cast<std::uint16_t>(name.size());
        h.ExtraLength = static_cast<std::uint16_t>(extraLength);
        h.CommentLength = static_cast<std::uint16_t>(commentLength);
        item.Header.NameLength = h.NameLength;
        item.Header.ExtraLength = h.ExtraLength;
        rec.assign(TCentralHeader::kSize, 0);
        h.Store(rec.data());
        rec.insert(rec.end(), name.begin(), name.end());
        if (!zip64.empty()) {
            PutLE(rec, kTagZip64, 2);
            PutLE(rec, zip64.size(), 2);
            rec.insert(rec.end(), zip64.begin(), zip64.end());
        }
        for (const TExtraField& e : item.ExtraFields) {
            if (e.Tag == kTagZip64) continue;
            PutLE(rec, e.Tag, 2);
            PutLE(rec, e.Size(), 2);
            rec.insert(rec.end(), e.Data.begin(), e.Data.begin() + e.Size());
        }
        rec.insert(rec.end(), item.Comment.begin(), item.Comment.begin() + static_cast<std::ptrdiff_t>(commentLength));
        write(rec, true);
        dirSize += static_cast<std::int64_t>(rec.size());
        if (i == 0) {
            // The first entry may have gone to the next volume; the directory starts where it went.
            start = Stream->Position() - static_cast<std::int64_t>(rec.size());
            volume = std::max(a.VolumeNumberInfo.volumeNumber, 0);
            dirDisk = volume >= 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(volume);
            DirectoryPosition = start;
        }
    }

    const int lastVolume = std::max(a.VolumeNumberInfo.volumeNumber, 0);
    const std::uint16_t thisDisk = lastVolume >= 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(lastVolume);
    const std::int64_t position = Stream->Position();
    EndRecord.Signature = a.UsePKSignatures ? TEndRecord::kSignature : TEndRecord::kBaseSignature;
    EndRecord.ThisDisk = thisDisk;
    EndRecord.DirectoryDisk = dirDisk;
    EndRecord.EntriesOnDisk = EndRecord.TotalEntries = count >= 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(count);
    EndRecord.DirectorySize = dirSize >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(dirSize);
    EndRecord.DirectoryOffset = start >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(start);
    EndRecord.CommentLength = static_cast<std::uint16_t>(std::min<std::size_t>(ArchiveComment.size(), 0xFFFF));

    if (position >= 0xFFFFFFFFLL || start >= 0xFFFFFFFFLL || count >= 0xFFFF || lastVolume >= 0xFFFF) {
        Zip64EndRecordPosition = position;
        std::vector<std::uint8_t> z;
        PutLE(z, 0x06064B50, 4);
        PutLE(z, 44, 8);
        PutLE(z, 45, 2);
        PutLE(z, 45, 2);
        PutLE(z, static_cast<std::uint32_t>(lastVolume), 4);
        PutLE(z, static_cast<std::uint32_t>(volume), 4);
        PutLE(z, static_cast<std::uint64_t>(count), 8);
        PutLE(z, static_cast<std::uint64_t>(count), 8);
        PutLE(z, static_cast<std::uint64_t>(dirSize), 8);
        PutLE(z, static_cast<std::uint64_t>(start), 8);
        std::vector<std::uint8_t> loc;
        PutLE(loc, 0x07064B50, 4);
        PutLE(loc, static_cast<std::uint32_t>(lastVolume), 4);
        PutLE(loc, static_cast<std::uint64_t>(position), 8);
        PutLE(loc, static_cast<std::uint32_t>(lastVolume + 1), 4);
        std::vector<std::uint8_t> both = z;
        both.insert(both.end(), loc.begin(), loc.end());
        write(both, true);
        std::copy(z.begin(), z.end(), Zip64EndRecord.begin());
        std::copy(loc.begin(), loc.end(), Zip64Locator.begin());
    }
    std::vector<std::uint8_t> end(TEndRecord::kSize);
    EndRecord.Store(end.data());
    end.insert(end.end(), ArchiveComment.begin(), ArchiveComment.begin() + EndRecord.CommentLength);
    write(end, true);

    // A multi-volume set: the last volume takes the archive's own name.
    if (a.SpanningMode() != smNone && !IsCustomStream && a.CurrentVolumeName != a.FileName) {
        const std::u16string finalName = a.VolumeFileName(-1, false);
        if (finalName != a.CurrentVolumeName) {
            if (a.IsOwnVolume(finalName)) {
                // One of this set's volumes holds the final name. Volumes spanned under one name
                // each keep it on their own disk, the last one too; any other set would lose one.
                if (a.SpanningMode() != smSpanning) throw EZipException::CreateNativeFmt(19, &a, {finalName});
            } else {
                // The set was written anew, so an older file of the final name gives way.
                if (WideFileExists(finalName)) WideFileDelete(finalName);
                if (!a.RenameVolume(a.CurrentVolumeName, finalName))
                    throw EZipException::CreateNativeFmt(19, &a, {finalName});
                a.CurrentVolumeName = finalName;
            }
        }
    }
}

bool TZipDirManager::FindSignatureBackward(std::uint32_t signature, std::int64_t& offset) {
    offset = -1;
    if (!Stream) return false;
    const std::int64_t size = Stream->Size();
    const std::int64_t len = std::min<std::int64_t>(size, 65600);
    if (len < static_cast<std::int64_t>(TEndRecord::kSize)) return false;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(len));
    const std::int64_t base = size - len;
    if (!ReadStreamAt(*Stream, base, buf.data(), len)) return false;
    auto take = [&](std::int64_t i, const TEndRecord& r) {
        const std::uint8_t* p = buf.data() + i;
        EndRecord = r;
        ArchiveComment.assign(reinterpret_cast<const char*>(p + TEndRecord::kSize), r.CommentLength);
        offset = base + i;
        // A Zip64 locator right before the end record holds the 64-bit values.
        if (i >= 20 && GetLE(p - 20, 4) == 0x07064B50) {
            std::copy(p - 20, p, Zip64Locator.begin());
            const std::int64_t z = static_cast<std::int64_t>(GetLE(p - 12, 8));
            if (z >= 0 && z <= size - 56 && ReadStreamAt(*Stream, z, Zip64EndRecord.data(), 56) &&
                GetLE(Zip64EndRecord.data(), 4) == 0x06064B50)
                Zip64EndRecordPosition = z;
        }
        return true;
    };
    const std::int64_t last = len - static_cast<std::int64_t>(TEndRecord::kSize);
    for (std::int64_t i = last; i >= 0; --i) {
        const std::uint8_t* p = buf.data() + i;
        if (GetLE(p, 4) != signature) continue;
        const TEndRecord r = TEndRecord::Load(p);
        if (last - i == r.CommentLength) return take(i, r);
    }
    // Bytes after the comment (padding, a signature, a copy gone long): the record still ends the
    // archive when the directory before it is whole. A few candidates at most are walked.
    int walked = 0;
    for (std::int64_t i = last; i >= 0 && walked < 8; --i) {
        const std::uint8_t* p = buf.data() + i;
        if (GetLE(p, 4) != signature) continue;
        const TEndRecord r = TEndRecord::Load(p);
        if (last - i < r.CommentLength || r.TotalEntries == 0) continue;
        ++walked;
        if (DirectoryChecksOut(r, base + i)) return take(i, r);
    }
    return false;
}

bool TZipDirManager::LocateEndRecord() {
    std::int64_t offset = -1;
    const bool found =
        FindSignatureBackward(Owner.UsePKSignatures ? TEndRecord::kSignature : TEndRecord::kBaseSignature, offset);
    return found || Owner.OpenDamaged;
}

std::int64_t TZipDirManager::DirectoryOffset() const {
    if (EndRecord.DirectoryOffset != 0xFFFFFFFFu) return EndRecord.DirectoryOffset;
    return static_cast<std::int64_t>(GetLE(Zip64EndRecord.data() + 48, 8));
}

}  // namespace zip
