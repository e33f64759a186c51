#include "dir_manager.h"

#include "archiver.h"

namespace zip {

namespace {
void Put16(std::uint8_t*& p, std::uint16_t v)
{
    *p++ = static_cast<std::uint8_t>(v);
    *p++ = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t*& p, std::uint32_t v)
{
    Put16(p, static_cast<std::uint16_t>(v));
    Put16(p, static_cast<std::uint16_t>(v >> 16));
}
std::uint16_t Get16(const std::uint8_t*& p)
{
    const std::uint16_t v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    p += 2;
    return v;
}
std::uint32_t Get32(const std::uint8_t*& p)
{
    const std::uint32_t lo = Get16(p);
    return lo | (static_cast<std::uint32_t>(Get16(p)) << 16);
}
}  // namespace

void TEndRecord::Store(std::uint8_t* out) const
{
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

TEndRecord TEndRecord::Load(const std::uint8_t* in)
{
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

TZipDirManager::TZipDirManager(TStream* stream, TZipBaseArchiver& owner, bool isNew, bool customStream)
    : Stream(stream), IsNew(isNew), IsCustomStream(customStream), Owner(owner)
{
    BackupItems.Owner = Items.Owner = &owner;
    Reset();
    if (isNew)
        owner.VolumeNumberInfo.SetFirst();
}

void TZipDirManager::Reset()
{
    Items.SetCount(0);
    EndRecord = TEndRecord{};
    EndRecord.Signature = Owner.UsePKSignatures ? TEndRecord::kSignature : TEndRecord::kBaseSignature;
}

void TZipDirManager::SaveDir(bool atEnd, TStream* stream)
{
    if (stream)
        Stream = stream;
    if (!Stream || Items.GetCount() > 0)
        return;  // item directories come from the central directory writer
    if (atEnd)
        Stream->Seek(0, TSeekOrigin::soEnd);
    DirectoryPosition = Stream->Position();
    EndRecord.EntriesOnDisk = EndRecord.TotalEntries = 0;
    EndRecord.DirectorySize = 0;
    EndRecord.DirectoryOffset = DirectoryPosition >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(DirectoryPosition);
    EndRecord.CommentLength = static_cast<std::uint16_t>(std::min<std::size_t>(ArchiveComment.size(), 0xFFFF));
    std::uint8_t buf[TEndRecord::kSize];
    EndRecord.Store(buf);
    Stream->WriteBuffer(buf, TEndRecord::kSize);
    Stream->WriteBuffer(ArchiveComment.data(), EndRecord.CommentLength);
}

}  // namespace zip
