// Opening an existing archive: finding its end records and central directory (also behind a
// stub and across the volumes of a set), and recovering the items of a damaged archive from its
// local headers. Every size, offset and count read from the file is checked against the bytes
// that are really there before it is used.
#include "archive/dir_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string_view>

#include <zlib.h>

#include "archive/archiver.h"
#include "archive/deflate_pipeline.h"
#include "archive/item_writer.h"
#include "text/code_pages.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace zip {

namespace {

constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr std::int64_t kLocalHeaderSize = 30;
constexpr std::int64_t kLocatorSize = 20;
constexpr std::int64_t kZip64EndSize = 56;
constexpr std::uint16_t kVersionBaseFamily = 0x4114;  // made by the second signature family
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint32_t kBaseCentralSignature = 0x03025C61;

std::int64_t EffectiveCompressedSize(const TDirItem& item) {
    return item.Header.CompressedSize == 0xFFFFFFFFu ? static_cast<std::int64_t>(item.CompressedSize64)
                                                     : static_cast<std::int64_t>(item.Header.CompressedSize);
}

void SetLocalOffset(TDirItem& item, std::int64_t offset) {
    item.LocalHeaderOffset64 = static_cast<std::uint64_t>(offset);
    if (offset >= 0xFFFFFFFFLL) {
        item.Header.LocalHeaderOffset = 0xFFFFFFFFu;
        item.HasZip64 = true;
    } else {
        item.Header.LocalHeaderOffset = static_cast<std::uint32_t>(offset);
    }
}

std::array<std::uint8_t, 4> SignatureBytes(std::uint32_t signature) {
    return {static_cast<std::uint8_t>(signature), static_cast<std::uint8_t>(signature >> 8),
            static_cast<std::uint8_t>(signature >> 16), static_cast<std::uint8_t>(signature >> 24)};
}

// Sets dm's archive start from where its directory was found, storedOffset bytes into the archive,
// and shifts the offsets accordingly; false when that cannot decide: an overflowed field, a
// directory found before its offset, or leading bytes with no item 0 whose local header lies where
// the difference puts it.
bool StartFromDirectory(TZipDirManager& dm, std::uint64_t storedOffset) {
    if (dm.Items.GetCount() == 0 || storedOffset == 0xFFFFFFFFu ||
        storedOffset > static_cast<std::uint64_t>(dm.DirectoryPosition))
        return false;
    const std::int64_t shift = dm.DirectoryPosition - static_cast<std::int64_t>(storedOffset);
    if (shift > 0) {
        const std::int64_t first = EffectiveLocalOffset(dm.Items.GetItem(0));
        if (first > dm.Stream->Size() - shift || !dm.CheckLocalHeader(first + shift)) return false;
        dm.ArchiveStart = shift;
        dm.ShiftOffsets();
        return true;
    }
    // The directory lies where its offset says, so the other offsets count the leading bytes too:
    // the archive starts at its first header. A damaged first item does not move the others (a
    // header elsewhere that looks like it, or an add that lets its name fit, would).
    dm.ArchiveStart = dm.DirectoryPosition;
    for (int i = 0; i < dm.Items.GetCount(); ++i) {
        const std::int64_t offset = EffectiveLocalOffset(dm.Items.GetItem(i));
        if (offset >= 0 && offset < dm.ArchiveStart) dm.ArchiveStart = offset;
    }
    return true;
}

// The number of the disk that holds the end record dm found (the Zip64 locator's count when the
// 16-bit field overflows).
std::int64_t EndRecordDisk(const TZipDirManager& dm) {
    std::int64_t disk = dm.EndRecord.ThisDisk;
    if (disk == 0xFFFF && GetLE(dm.Zip64Locator.data(), 4) == kZip64LocatorSignature)
        disk = std::max<std::int64_t>(static_cast<std::int64_t>(GetLE(dm.Zip64Locator.data() + 16, 4)) - 1, 0);
    return disk;
}

// The number in a volume's name from at on: all digits, at least least of them; -1 otherwise.
long VolumeNumberIn(const std::u16string& s, std::size_t at, std::size_t least) {
    if (at > s.size() || s.size() - at < least || s.size() - at > 9) return -1;
    long n = 0;
    for (std::size_t i = at; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') return -1;
        n = n * 10 + (s[i] - u'0');
    }
    return n;
}

// n in decimal, zero-padded to at least digits characters.
std::u16string Digits(long n, std::size_t digits) {
    std::u16string s;
    for (; n > 0 || s.empty(); n /= 10) s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
    if (s.size() < digits) s.insert(0, digits - s.size(), u'0');
    return s;
}

}  // namespace

// --- the Unicode name extra ------------------------------------------------------------------------

bool TUnicodeExtendedInfo::LoadFromBuffer(const void* data, std::size_t size) {
    TMemoryStream s;
    if (size > 0) s.WriteBuffer(data, static_cast<std::int64_t>(size));
    return LoadFromStream(s);
}

bool TUnicodeExtendedInfo::LoadFromStream(TStream& stream) {
    Name.clear();
    Signature = 0;
    stream.SetPosition(0);
    std::uint8_t b[4];
    if (stream.Read(b, 4) != 4) return false;
    Signature = static_cast<std::uint32_t>(GetLE(b, 4));
    if (Signature != kSignature || stream.Read(b, 4) != 4) return false;
    const auto length = static_cast<std::int32_t>(GetLE(b, 4));
    if (length < 0) return false;
    const std::int64_t chars = std::min<std::int64_t>(length, (stream.Size() - 8) / 2);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(chars) * 2);
    if (chars > 0 && stream.Read(raw.data(), chars * 2) != chars * 2) return false;
    Name.resize(static_cast<std::size_t>(chars));
    for (std::size_t i = 0; i < Name.size(); ++i) Name[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    return true;
}

// --- signature searches ----------------------------------------------------------------------------

std::int64_t TZipDirManager::ScanForward(const std::uint8_t* pattern, int length, std::int64_t from,
                                         std::int64_t blockSize) {
    TScanBlock& block = length == 4 && GetLE(pattern, 4) == kDataDescriptorSignature ? descriptorScan_ : scan_;
    const std::int64_t size = Stream->Size();
    from = std::max<std::int64_t>(from, 0);
    for (;;) {
        if (from > size - length) return -1;
        const auto blockEnd = block.start + static_cast<std::int64_t>(block.data.size());
        if (block.stream != Stream || block.size != size || block.start < 0 || from < block.start ||
            from + length > blockEnd) {
            const std::int64_t n = std::min(blockSize, size - from);
            block.data.resize(static_cast<std::size_t>(n));
            block.start = -1;
            if (!ReadStreamAt(*Stream, from, block.data.data(), n)) return -1;
            block.stream = Stream;
            block.size = size;
            block.start = from;
            continue;
        }
        const std::uint8_t* d = block.data.data();
        const std::size_t len = block.data.size();
        for (std::size_t i = static_cast<std::size_t>(from - block.start);
             i + static_cast<std::size_t>(length) <= len;) {
            const void* hit = std::memchr(d + i, pattern[0], len - static_cast<std::size_t>(length) + 1 - i);
            if (!hit) break;
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d);
            if (std::memcmp(d + i, pattern, static_cast<std::size_t>(length)) == 0)
                return block.start + static_cast<std::int64_t>(i);
            ++i;
        }
        if (blockEnd >= size) return -1;
        // The next block overlaps this one, so that a pattern across the boundary is found.
        from = blockEnd - length + 1;
    }
}

std::int64_t TZipDirManager::FindNextLocalHeader(std::int64_t offset) {
    if (!Stream) return -1;
    const auto sig = SignatureBytes(Owner.UsePKSignatures ? kLocalHeaderSignature : kBaseLocalHeaderSignature);
    const std::int64_t found = ScanForward(sig.data(), 4, offset, 65535);
    if (found < 0 || Stream->Size() - found < kLocalHeaderSize) return -1;
    return found;
}

bool TZipDirManager::FindNextDataDescriptor(std::int64_t offset, std::array<std::uint8_t, 16>& descriptor) {
    if (!Stream) return false;
    std::int64_t found;
    // Searches move forward: an earlier answer holds for every start up to where it was found.
    const bool sameStream = descriptorStream_ == Stream && descriptorSize_ == Stream->Size();
    if (sameStream && descriptorFrom_ >= 0 && offset >= descriptorFrom_ &&
        (descriptorAt_ < 0 || offset <= descriptorAt_)) {
        found = descriptorAt_;
    } else {
        const auto sig = SignatureBytes(kDataDescriptorSignature);
        found = ScanForward(sig.data(), 4, offset, 65535);
        descriptorStream_ = Stream;
        descriptorSize_ = Stream->Size();
        descriptorFrom_ = offset;
        descriptorAt_ = found;
    }
    return found >= 0 && Stream->Size() - found >= 16 && ReadStreamAt(*Stream, found, descriptor.data(), 16);
}

bool TZipDirManager::FindSignatureForward(const void* pattern, int length, std::int64_t& offset) {
    offset = -1;
    if (!Stream || length <= 0) return false;
    offset = ScanForward(static_cast<const std::uint8_t*>(pattern), length, Stream->Position(), 10000);
    return offset >= 0;
}

// --- end records -----------------------------------------------------------------------------------

void TZipDirManager::ReadZip64Locator(std::int64_t endRecordPosition) {
    Zip64LocatorFound = false;
    Zip64Locator.fill(0);
    if (endRecordPosition < kLocatorSize) return;
    if (ReadStreamAt(*Stream, endRecordPosition - kLocatorSize, Zip64Locator.data(), kLocatorSize) &&
        GetLE(Zip64Locator.data(), 4) == kZip64LocatorSignature)
        Zip64LocatorFound = true;
    else Zip64Locator.fill(0);
}

void TZipDirManager::ReadZip64EndRecord(std::int64_t locatorPosition) {
    auto readAt = [&](std::uint64_t position) {
        if (position > static_cast<std::uint64_t>(locatorPosition - kZip64EndSize) || locatorPosition < kZip64EndSize)
            return false;
        const auto at = static_cast<std::int64_t>(position);
        if (!ReadStreamAt(*Stream, at, Zip64EndRecord.data(), kZip64EndSize) ||
            GetLE(Zip64EndRecord.data(), 4) != kZip64EndSignature)
            return false;
        Zip64EndRecordPosition = at;
        return true;
    };
    // Only where the locator says: a record elsewhere is not searched for.
    if (readAt(GetLE(Zip64Locator.data() + 8, 8))) return;
    Zip64EndRecord.fill(0);
    throw EZipException::CreateNative(40, &Owner);
}

bool TZipDirManager::DirectoryChecksOut(const TEndRecord& r, std::int64_t position) {
    std::uint64_t count = r.TotalEntries, dirSize = r.DirectorySize, thisDisk = r.ThisDisk, dirDisk = r.DirectoryDisk;
    std::int64_t recordsStart = position;
    std::uint8_t locator[kLocatorSize];
    if (position >= kLocatorSize && ReadStreamAt(*Stream, position - kLocatorSize, locator, kLocatorSize) &&
        GetLE(locator, 4) == kZip64LocatorSignature) {
        // Where the locator says, as the directory reader takes it.
        const std::uint64_t at = GetLE(locator + 8, 8);
        std::uint8_t e[kZip64EndSize];
        if (position < kLocatorSize + kZip64EndSize ||
            at > static_cast<std::uint64_t>(position - kLocatorSize - kZip64EndSize) ||
            !ReadStreamAt(*Stream, static_cast<std::int64_t>(at), e, kZip64EndSize) ||
            GetLE(e, 4) != kZip64EndSignature)
            return false;
        if (thisDisk == 0xFFFF) thisDisk = GetLE(e + 16, 4);
        if (dirDisk == 0xFFFF) dirDisk = GetLE(e + 20, 4);
        if (count == 0xFFFF) count = GetLE(e + 32, 8);
        if (dirSize == 0xFFFFFFFFu) dirSize = GetLE(e + 40, 8);
        recordsStart = static_cast<std::int64_t>(at);
    }
    // A directory that begins on an earlier volume cannot be checked here.
    if (thisDisk != dirDisk || count == 0 || dirSize > static_cast<std::uint64_t>(recordsStart) ||
        count > dirSize / TCentralHeader::kSize)
        return false;
    const std::uint32_t family = Owner.UsePKSignatures ? TCentralHeader::kSignature : kBaseCentralSignature;
    std::int64_t p = recordsStart - static_cast<std::int64_t>(dirSize);
    std::uint8_t h[TCentralHeader::kSize];
    for (std::uint64_t i = 0; i < count; ++i) {
        if (recordsStart - p < static_cast<std::int64_t>(TCentralHeader::kSize) ||
            !ReadStreamAt(*Stream, p, h, TCentralHeader::kSize) || GetLE(h, 4) != family)
            return false;
        p += static_cast<std::int64_t>(TCentralHeader::kSize + GetLE(h + 28, 2) + GetLE(h + 30, 2) + GetLE(h + 32, 2));
        if (p > recordsStart) return false;
    }
    if (p != recordsStart) return false;
    // An item after the records: they are an earlier archive's, inside this one's data.
    for (std::int64_t q =
             FindNextLocalHeader(position + static_cast<std::int64_t>(TEndRecord::kSize) + r.CommentLength);
         q >= 0; q = FindNextLocalHeader(q + 1))
        if (PlausibleLocalHeader(q)) return false;
    return true;
}

void TZipDirManager::SetDirectoryOffset(std::int64_t position) {
    if (position < 0xFFFFFFFFLL) {
        EndRecord.DirectoryOffset = static_cast<std::uint32_t>(position);
        return;
    }
    EndRecord.DirectoryOffset = 0xFFFFFFFFu;
    for (int i = 0; i < 8; ++i)
        Zip64EndRecord[static_cast<std::size_t>(48 + i)] =
            static_cast<std::uint8_t>(static_cast<std::uint64_t>(position) >> (8 * i));
}

void TZipDirManager::RefreshVolumeStream() {
    if (!IsCustomStream) Stream = Owner.ArchiveStream();
}

void TZipDirManager::ReadDirBytes(void* buffer, std::int64_t count) {
    auto* p = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        const std::int64_t got = Stream ? Stream->Read(p, count) : 0;
        // Short of the volume's end: the disk failed, the directory is not short.
        if (got < count && Stream && Stream->Position() < Stream->Size()) throw EReadFailure();
        p += std::max<std::int64_t>(got, 0);
        count -= std::max<std::int64_t>(got, 0);
        if (count == 0) break;
        TZipVolumeNumberInfo& v = Owner.VolumeNumberInfo;
        if (Owner.SpanningMode() == smNone || got < 0 || v.volumeNumber < 0 || v.volumeNumber >= v.lastVolumeNumber)
            throw EZipException::CreateNative(57, &Owner);
        TZipVolumeNumberInfo next = v;
        next.SetNumber(v.volumeNumber + 1);
        Owner.RequestVolume(next);
        RefreshVolumeStream();
        Stream->SetPosition(0);
    }
}

// --- items -----------------------------------------------------------------------------------------

void TZipDirManager::ReadItemTail(TDirItem& item, const std::uint8_t* data, std::size_t nameLength,
                                  std::size_t extraLength, std::size_t commentLength, bool local) {
    TCentralHeader& h = item.Header;
    item.UncompressedSize64 = h.UncompressedSize;
    item.CompressedSize64 = h.CompressedSize;
    if (!local) {
        item.LocalHeaderOffset64 = h.LocalHeaderOffset;
        item.DiskNumberStart64 = h.DiskNumberStart;
    }
    item.TargetMethod = h.Method;
    if ((h.Flags & kFlagEncrypted) && h.VersionMadeBy < kVersionBaseFamily) item.StoredEncryption = sePkzip;

    const std::string raw(reinterpret_cast<const char*>(data), nameLength);
    std::u16string name;
    if (h.Flags & kFlagUtf8Name) name = UTF8DecodeWide(raw);
    else name = StringToWideStringEx(raw, Owner.Options.OEMFileNames ? CP_OEMCP : CP_ACP);

    const std::uint8_t* e = data + nameLength;
    std::size_t left = extraLength;
    while (left >= 4) {
        TExtraField field;
        field.Tag = static_cast<std::uint16_t>(GetLE(e, 2));
        // A field that claims more than its record holds keeps what is there.
        const std::size_t size = std::min<std::size_t>(GetLE(e + 2, 2), left - 4);
        field.Data.assign(e + 4, e + 4 + size);
        e += 4 + size;
        left -= 4 + size;
        const std::uint8_t* d = field.Data.data();
        if (field.Tag == kTagZip64) {
            item.HasZip64 = true;
            std::size_t at = 0;
            auto take = [&](int bytes) -> std::uint64_t {
                const std::uint64_t v = GetLE(d + at, bytes);
                at += static_cast<std::size_t>(bytes);
                return v;
            };
            if (h.UncompressedSize == 0xFFFFFFFFu && at + 8 <= size) item.UncompressedSize64 = take(8);
            if (h.CompressedSize == 0xFFFFFFFFu && at + 8 <= size) item.CompressedSize64 = take(8);
            if (!local && h.LocalHeaderOffset == 0xFFFFFFFFu && at + 8 <= size) item.LocalHeaderOffset64 = take(8);
            if (!local && h.DiskNumberStart == 0xFFFF && at + 4 <= size)
                item.DiskNumberStart64 = static_cast<std::uint32_t>(take(4));
        } else if (field.Tag == kTagUnicodeName) {
            TUnicodeExtendedInfo info;
            // An empty name from the extra would only lose the stored one.
            if (info.LoadFromBuffer(d, size) && !info.Name.empty()) name = info.Name;
        } else if (field.Tag == kTagAes && h.VersionMadeBy < kVersionBaseFamily && size >= 7) {
            const std::uint8_t strength = d[4];
            if (strength >= 1 && strength <= 3) {
                item.StoredEncryption = static_cast<std::uint8_t>(seAes128 + strength - 1);
                item.TargetMethod = static_cast<std::uint16_t>(GetLE(d + 5, 2));
            }
        }
        item.ExtraFields.push_back(std::move(field));
    }
    item.Name = std::move(name);
    if (!local) item.Comment.assign(reinterpret_cast<const char*>(data + nameLength + extraLength), commentLength);
}

void TZipDirManager::LoadDir() {
    TZipBaseArchiver& a = Owner;
    ArchiveStart = 0;
    Items.Clear();
    Zip64LocatorFound = false;
    StreamSizeAtRebuild = -1;
    VolumeOfSet = false;
    CutByEnd = false;
    LeadingItemDropped = false;
    scan_ = TScanBlock{};
    descriptorScan_ = TScanBlock{};
    descriptorFrom_ = descriptorAt_ = -1;
    if (!Stream) throw EZipException::CreateNative(13, &a);

    std::int64_t endPos = -1;
    bool found = FindSignatureBackward(a.UsePKSignatures ? TEndRecord::kSignature : TEndRecord::kBaseSignature, endPos);
    if (!found && !a.UsePKSignatures) found = FindSignatureBackward(TEndRecord::kSignature, endPos);
    if (!found) {
        RebuildDirectory();
        return;
    }
    Zip64EndRecord.fill(0);
    Zip64EndRecordPosition = 0;
    ReadZip64Locator(endPos);
    if (Zip64LocatorFound) ReadZip64EndRecord(endPos - kLocatorSize);
    else if (EndRecord.TotalEntries == 0xFFFF) {
        RebuildDirectory();
        return;
    }

    const bool zip64 = Zip64LocatorFound;
    const std::uint8_t* z = Zip64EndRecord.data();
    const bool spanned = a.SpanningMode() != smNone;
    const bool repair = a.OpenDamaged;
    try {
        const std::uint64_t dirDisk = EndRecord.DirectoryDisk != 0xFFFF ? EndRecord.DirectoryDisk
                                      : zip64                           ? GetLE(z + 20, 4)
                                                                        : 0;
        std::uint64_t thisDisk = EndRecord.ThisDisk;
        if (thisDisk == 0xFFFF) {
            const std::uint64_t disks = zip64 ? GetLE(Zip64Locator.data() + 16, 4) : 0;
            thisDisk = disks > 0 ? disks - 1 : 0;
        }
        if (thisDisk >= INT_MAX || dirDisk > thisDisk) throw EZipException::CreateNative(57, &a);
        a.VolumeNumberInfo.lastVolumeNumber = static_cast<int>(thisDisk);
        a.VolumeNumberInfo.SetLast();
        if (spanned && dirDisk != thisDisk) {
            TZipVolumeNumberInfo info = a.VolumeNumberInfo;
            if (dirDisk == 0) info.SetFirst();
            else info.SetNumber(static_cast<int>(dirDisk));
            a.RequestVolume(info);
        }
        if (spanned) RefreshVolumeStream();

        const std::uint64_t dirSize = zip64 ? GetLE(z + 40, 8) : EndRecord.DirectorySize;
        const std::uint64_t count = zip64 ? GetLE(z + 32, 8) : EndRecord.TotalEntries;
        std::int64_t start;
        if (spanned) {
            const std::uint64_t offset = zip64 ? GetLE(z + 48, 8) : EndRecord.DirectoryOffset;
            if (offset > static_cast<std::uint64_t>(Stream->Size())) throw EZipException::CreateNative(57, &a);
            start = static_cast<std::int64_t>(offset);
        } else {
            // Found from where the end record lies, whatever bytes precede the archive.
            const std::int64_t base = zip64 ? Zip64EndRecordPosition : endPos;
            if (dirSize > static_cast<std::uint64_t>(base)) throw EZipException::CreateNative(57, &a);
            start = base - static_cast<std::int64_t>(dirSize);
        }
        // Every entry takes 46 bytes at least; a count beyond that is not believed.
        if (count >= INT_MAX || (!spanned && count > dirSize / TCentralHeader::kSize))
            throw EZipException::CreateNative(57, &a);
        Stream->Seek(start, TSeekOrigin::soBeginning);
        DirectoryPosition = start;

        std::vector<std::uint8_t> fixed(TCentralHeader::kSize), rest;
        for (std::uint64_t i = 0; i < count; ++i) {
            if (spanned && Stream->Size() - Stream->Position() < static_cast<std::int64_t>(TCentralHeader::kSize)) {
                TZipVolumeNumberInfo& v = a.VolumeNumberInfo;
                if (v.volumeNumber >= 0 && v.volumeNumber < v.lastVolumeNumber) {
                    TZipVolumeNumberInfo next = v;
                    next.SetNumber(v.volumeNumber + 1);
                    a.RequestVolume(next);
                    RefreshVolumeStream();
                    Stream->SetPosition(0);
                }
            }
            ReadDirBytes(fixed.data(), TCentralHeader::kSize);
            TDirItem item;
            item.Header = TCentralHeader::Load(fixed.data());
            const TCentralHeader& h = item.Header;
            // Without its signature the entry is not one: the directory is damaged.
            if (h.Signature != TCentralHeader::kSignature &&
                (a.UsePKSignatures || h.Signature != kBaseCentralSignature))
                throw EZipException::CreateNative(57, &a);
            const std::size_t tail = std::size_t{h.NameLength} + h.ExtraLength + h.CommentLength;
            rest.resize(tail);
            ReadDirBytes(rest.data(), static_cast<std::int64_t>(tail));
            ReadItemTail(item, rest.data(), h.NameLength, h.ExtraLength, h.CommentLength, false);
            const int n = Items.GetCount();
            Items.SetCount(n + 1);
            Items.SetItem(n, item);
        }
    } catch (const EReadFailure&) {
        throw;  // the directory may be sound: what failed is the disk
    } catch (const EZipException&) {
        // The repair refuses a set of volumes with its own error.
        if (!repair) throw;
        RebuildDirectory();
        return;
    } catch (const EStreamError&) {
        if (!repair) throw;
        RebuildDirectory();
        return;
    }

    if (!spanned) {
        // Items on other disks than the one file: it is a volume of a set, read on its own.
        for (int i = 0; i < Items.GetCount() && !VolumeOfSet; ++i)
            VolumeOfSet = EffectiveDiskStart(Items.GetItem(i)) != 0;
        if (!repair) CheckArchiveSize();
    }
    const std::uint64_t storedOffset = zip64 ? GetLE(z + 48, 8) : EndRecord.DirectoryOffset;
    if (a.VolumeNumberInfo.lastVolumeNumber == 0 && !StartFromDirectory(*this, storedOffset)) {
        FindArchiveStart(endPos);
        if (!OffsetsIncludeStart()) ShiftOffsets();
    }
    // A commit appends where the directory really begins, not where a stub-blind record says.
    if (!spanned) SetDirectoryOffset(DirectoryPosition);
}

void TZipDirManager::CheckArchiveSize() {
    const std::int64_t size = Stream->Size();
    std::int64_t sum = 0;
    for (int i = 0; i < Items.GetCount(); ++i) {
        const std::int64_t c = EffectiveCompressedSize(Items.GetItem(i));
        if (c < 0 || c > size - sum) throw EZipException::CreateNative(57, &Owner);
        sum += c;
    }
}

bool TZipDirManager::CheckLocalHeader(std::int64_t position) {
    const std::int64_t size = Stream->Size();
    if (position < 0 || size - position < kLocalHeaderSize) return false;
    std::uint8_t l[kLocalHeaderSize];
    if (!ReadStreamAt(*Stream, position, l, kLocalHeaderSize)) return false;
    if (GetLE(l, 4) != (Owner.UsePKSignatures ? kLocalHeaderSignature : kBaseLocalHeaderSignature)) return false;
    if (static_cast<std::int64_t>(GetLE(l + 26, 2)) > size - position - kLocalHeaderSize)
        return false;  // the name runs past the end
    if (position == 0) return true;
    if (Items.GetCount() == 0) return false;
    const TCentralHeader& h = Items.GetItem(0).Header;
    if (GetLE(l + 4, 2) != h.VersionNeeded || GetLE(l + 8, 2) != h.Method || GetLE(l + 10, 2) != h.ModTime ||
        GetLE(l + 12, 2) != h.ModDate)
        return false;
    // With a data descriptor the local CRC and sizes are zero; a Zip64 local size is in its extra.
    if (GetLE(l + 6, 2) & kFlagDataDescriptor) return true;
    const auto crc = GetLE(l + 14, 4), compressed = GetLE(l + 18, 4), uncompressed = GetLE(l + 22, 4);
    return crc == h.Crc32 && (compressed == 0xFFFFFFFFu || compressed == h.CompressedSize) &&
           (uncompressed == 0xFFFFFFFFu || uncompressed == h.UncompressedSize);
}

void TZipDirManager::FindArchiveStart(std::int64_t endRecordPosition) {
    if (Items.GetCount() == 0) {
        ArchiveStart = endRecordPosition;
        return;
    }
    const auto sig = SignatureBytes(Owner.UsePKSignatures ? kLocalHeaderSignature : kBaseLocalHeaderSignature);
    const std::int64_t here = Stream->Position();
    std::int64_t candidate = EffectiveLocalOffset(Items.GetItem(0));
    const std::int64_t size = Stream->Size();
    while (candidate >= 0 && candidate < size) {
        Stream->Seek(candidate, TSeekOrigin::soBeginning);
        std::int64_t p = -1;
        if (!FindSignatureForward(sig.data(), 4, p)) break;
        if (CheckLocalHeader(p)) {
            ArchiveStart = p;
            break;
        }
        candidate = p + 1;
    }
    Stream->Seek(here, TSeekOrigin::soBeginning);
}

bool TZipDirManager::OffsetsIncludeStart() {
    for (int i = 0; i < Items.GetCount(); ++i) {
        const TDirItem& item = Items.GetItem(i);
        if (EffectiveCompressedSize(item) != 0) return EffectiveLocalOffset(item) >= ArchiveStart;
    }
    return true;
}

void TZipDirManager::ShiftOffsets() {
    // Folder items too: their headers moved with the rest, and a later directory lists them.
    for (int i = 0; i < Items.GetCount(); ++i) {
        TDirItem& item = Items.GetItem(i);
        SetLocalOffset(item, EffectiveLocalOffset(item) + ArchiveStart);
    }
}

// --- recovery --------------------------------------------------------------------------------------

void TZipDirManager::RebuildDirectory() {
    Items.Clear();
    if (Owner.SpanningMode() != smNone) throw EZipException::CreateNative(44, &Owner);
    scan_ = TScanBlock{};
    descriptorScan_ = TScanBlock{};
    descriptorFrom_ = descriptorAt_ = -1;
    RebuildFromLocalHeaders();
    StreamSizeAtRebuild = Stream->Size();
    // New items go after everything there is; with nothing recovered the file's bytes stay in
    // front of the archive rather than being overwritten.
    SetDirectoryOffset(StreamSizeAtRebuild);
    if (Items.GetCount() == 0) ArchiveStart = StreamSizeAtRebuild;
}

void TZipDirManager::RebuildFromLocalHeaders() {
    const std::int64_t size = Stream->Size();
    const std::uint32_t family = Owner.UsePKSignatures ? kLocalHeaderSignature : kBaseLocalHeaderSignature;
    std::vector<std::uint8_t> rest;
    std::int64_t claimed = 0;
    std::int64_t p = FindNextLocalHeader(0);
    while (p >= 0 && Items.GetCount() < INT_MAX - 1) {
        std::int64_t next = p + 4;
        std::uint8_t l[kLocalHeaderSize];
        if (!ReadStreamAt(*Stream, p, l, kLocalHeaderSize)) break;
        const auto nameLength = static_cast<std::size_t>(GetLE(l + 26, 2));
        const auto extraLength = static_cast<std::size_t>(GetLE(l + 28, 2));
        const std::int64_t end = p + kLocalHeaderSize + static_cast<std::int64_t>(nameLength + extraLength);
        // A header cut off by the end of the file: damage, or an item going on in a set's next
        // volume; the file's name decides which.
        if (extraLength <= 260 && end > size) CutByEnd = true;
        // Readers take a file that begins with a local header for an archive from there on.
        LeadingItemDropped = LeadingItemDropped || p == 0;
        if (extraLength <= 260 && end <= size) {
            rest.resize(nameLength + extraLength);
            if (!ReadStreamAt(*Stream, p + kLocalHeaderSize, rest.data(), static_cast<std::int64_t>(rest.size())))
                break;
            TDirItem item;
            TCentralHeader& h = item.Header;
            h.Signature = family;
            h.VersionMadeBy = h.VersionNeeded = static_cast<std::uint16_t>(GetLE(l + 4, 2));
            h.Flags = static_cast<std::uint16_t>(GetLE(l + 6, 2));
            h.Method = static_cast<std::uint16_t>(GetLE(l + 8, 2));
            h.ModTime = static_cast<std::uint16_t>(GetLE(l + 10, 2));
            h.ModDate = static_cast<std::uint16_t>(GetLE(l + 12, 2));
            h.Crc32 = static_cast<std::uint32_t>(GetLE(l + 14, 4));
            h.CompressedSize = static_cast<std::uint32_t>(GetLE(l + 18, 4));
            h.UncompressedSize = static_cast<std::uint32_t>(GetLE(l + 22, 4));
            h.NameLength = static_cast<std::uint16_t>(nameLength);
            h.ExtraLength = static_cast<std::uint16_t>(extraLength);
            ReadItemTail(item, rest.data(), nameLength, extraLength, 0, true);
            // An empty file is no folder: only the name says so.
            h.ExternalAttr = !item.Name.empty() && item.Name.back() == u'/' ? faDirectory : faArchive;
            SetLocalOffset(item, p);
            // Sizes left to a descriptor that is nowhere are no sizes.
            bool sized = (h.Flags & kFlagDataDescriptor) == 0;
            if (!sized) {
                std::array<std::uint8_t, 16> d{};
                if ((sized = FindNextDataDescriptor(end, d))) {
                    h.Crc32 = static_cast<std::uint32_t>(GetLE(d.data() + 4, 4));
                    std::uint64_t compressed = GetLE(d.data() + 8, 4), uncompressed = GetLE(d.data() + 12, 4);
                    // Behind a local header with a Zip64 extra the descriptor holds 8-byte sizes.
                    std::uint8_t wide[24];
                    if (item.HasZip64 && ReadStreamAt(*Stream, descriptorAt_, wide, 24)) {
                        compressed = GetLE(wide + 8, 8);
                        uncompressed = GetLE(wide + 16, 8);
                    }
                    item.CompressedSize64 = compressed;
                    item.UncompressedSize64 = uncompressed;
                    h.CompressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(compressed, 0xFFFFFFFFu));
                    h.UncompressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(uncompressed, 0xFFFFFFFFu));
                }
            }
            // The size as the Zip64 extra gives it when the field overflows, read unsigned: a huge
            // one is no negative size. Together the items may claim no more data than the file
            // holds, as a directory listing them must when the archive is opened again.
            const std::uint64_t packed =
                h.CompressedSize == 0xFFFFFFFFu ? item.CompressedSize64 : std::uint64_t{h.CompressedSize};
            // So is data cut off by the end, whether the item is taken or not: an item larger
            // than the whole file may go on over a set's later volumes.
            if (packed > static_cast<std::uint64_t>(size - end)) CutByEnd = true;
            // Only an item whose data can be whole: a directory listing a broken one makes an
            // archive that no reader accepts.
            if (sized && packed < static_cast<std::uint64_t>(size) &&
                packed <= static_cast<std::uint64_t>(size - claimed) && RecoveredDataIsWhole(item, end, packed)) {
                claimed += static_cast<std::int64_t>(packed);
                const int n = Items.GetCount();
                Items.SetCount(n + 1);
                Items.SetItem(n, item);
                // Its name, extras and data hold no other header: a stored archive's are its data.
                next = std::max(next, end + static_cast<std::int64_t>(packed));
                if (p == 0) LeadingItemDropped = false;
            }
        }
        p = FindNextLocalHeader(next);
    }
}

bool TZipDirManager::PlausibleLocalHeader(std::int64_t position) {
    const std::int64_t size = Stream->Size();
    std::uint8_t l[kLocalHeaderSize];
    if (position < 0 || size - position < kLocalHeaderSize || !ReadStreamAt(*Stream, position, l, kLocalHeaderSize))
        return false;
    const std::int64_t end =
        position + kLocalHeaderSize + static_cast<std::int64_t>(GetLE(l + 26, 2) + GetLE(l + 28, 2));
    const auto packed = static_cast<std::int64_t>(GetLE(l + 18, 4));
    // Version needed is a small number (up to 6.3) in its low byte's half; the data ends in the file.
    return GetLE(l + 4, 1) <= 63 && GetLE(l + 28, 2) <= 260 && end <= size && packed <= size - end;
}

bool TZipDirManager::RecoveredDataIsWhole(const TDirItem& item, std::int64_t dataStart, std::uint64_t packed) {
    const TCentralHeader& h = item.Header;
    const std::int64_t size = Stream->Size();
    if (dataStart > size || packed > static_cast<std::uint64_t>(size - dataStart)) return false;
    const std::uint64_t unpacked =
        h.UncompressedSize == 0xFFFFFFFFu ? item.UncompressedSize64 : std::uint64_t{h.UncompressedSize};
    const bool encrypted = (h.Flags & kFlagEncrypted) != 0;
    // No data is the empty stored file's alone (CRC 0): the header the item writer puts first,
    // before any data, has CRC 0xFFFFFFFF and the source's size.
    if (packed == 0) return unpacked == 0 && h.Crc32 == 0 && h.Method == 0 && !encrypted;
    const auto dataEnd = dataStart + static_cast<std::int64_t>(packed);
    if (encrypted || (h.Method != 0 && h.Method != 8)) {
        // Nothing to check the data by: it must not run over a header that could be the next item's.
        for (std::int64_t p = FindNextLocalHeader(dataStart); p >= 0 && p < dataEnd; p = FindNextLocalHeader(p + 1))
            if (PlausibleLocalHeader(p)) return false;
        return true;
    }
    if (h.Method == 0 && packed != unpacked) return false;

    z_stream z{};
    const bool inflating = h.Method == 8;
    if (inflating && inflateInit2(&z, -15) != Z_OK) return false;
    struct End {
        z_stream* z;
        ~End() {
            if (z) inflateEnd(z);
        }
    } endInflate{inflating ? &z : nullptr};
    std::vector<std::uint8_t> in(65536), out(inflating ? 65536 : 0);
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint64_t produced = 0;
    bool ended = !inflating;
    for (std::int64_t at = dataStart; at < dataEnd;) {
        const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(in.size()), dataEnd - at);
        if (!ReadStreamAt(*Stream, at, in.data(), n)) return false;
        at += n;
        if (!inflating) {
            crc = UpdateCrc32(crc, in.data(), n);
            continue;
        }
        if (ended) return false;  // bytes after the stream's end: the size is not the data's
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
        while (z.avail_in > 0 && !ended) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END) return false;
            const std::size_t got = out.size() - z.avail_out;
            produced += got;
            if (produced > unpacked) return false;
            crc = UpdateCrc32(crc, out.data(), static_cast<std::int64_t>(got));
            ended = r == Z_STREAM_END;
        }
        if (ended && z.avail_in > 0) return false;
    }
    if (inflating) {
        // What inflate holds back until its output has room.
        while (!ended) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END) return false;
            const std::size_t got = out.size() - z.avail_out;
            if (got == 0 && r != Z_STREAM_END) return false;
            produced += got;
            if (produced > unpacked) return false;
            crc = UpdateCrc32(crc, out.data(), static_cast<std::int64_t>(got));
            ended = r == Z_STREAM_END;
        }
        if (produced != unpacked) return false;
    }
    return ~crc == h.Crc32;
}

// --- opening ---------------------------------------------------------------------------------------

void TZipBaseArchiver::OpenExistingArchive() {
    // A failed open leaves the modes as the caller set them: the next open must judge alike.
    const TZipSpanningMode mode = spanningMode_;
    const bool advanced = SpanningOptions.AdvancedNaming;
    spanningMode_ = smNone;
    VolumeNumberInfo.Init();
    const bool repair = OpenDamaged;
    struct RestoreRepair {
        bool& flag;
        bool old;
        ~RestoreRepair() { flag = old; }
    } restore{OpenDamaged, repair};
    // The search below must see whether an end record is really there.
    OpenDamaged = false;
    bool found = false;

    auto detectSpanning = [&] {
        const std::int64_t disk = EndRecordDisk(*dirManager_);
        if (found && disk == 0) {
            spanningMode_ = smNone;
            return;
        }
        spanningMode_ = smSplitting;
        // The volume before the last one (numbers on disk count from 1).
        const int probe = disk > 0 ? static_cast<int>(std::min<std::int64_t>(disk, INT_MAX)) - 1 : 0;
        bool splitExists = WideFileExists(VolumeFileName(probe, true));
        if (!splitExists) {
            SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
            splitExists = WideFileExists(VolumeFileName(probe, true));
            if (!splitExists) SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
        }
        if (splitExists && disk != 0) return;
        const bool removable = IsRemovableDrive(WideToFsName(FileName));
        spanningMode_ = splitExists || IsSFXFile(FileName) || (disk == 0 && !removable) ? smNone : smSpanning;
    };
    auto attempt = [&] {
        dirManager_.reset();
        FreeArchiveStream();
        VolumeNumberInfo.Init();
        VolumeNumberInfo.SetLast();
        if (spanningMode_ == smNone && !WideFileExists(FileName) && IsRemovableDrive(WideToFsName(FileName)))
            spanningMode_ = smSpanning;
        RequestVolume(VolumeNumberInfo);
        dirManager_ = std::make_unique<TZipDirManager>(archiveStream_, *this, false);
        found = dirManager_->LocateEndRecord();
        detectSpanning();
    };

    try {
        if (IsSFXFile(FileName)) {
            attempt();
            if (!found) {
                // The last volume of a split set behind a stub is named apart.
                spanningMode_ = smSplitting;
                const std::u16string last = VolumeFileName(-1, true);
                if (last != FileName && WideFileExists(last)) attempt();
                if (!found) spanningMode_ = smNone;
            }
        }
        while (!found) {
            attempt();
            if (spanningMode_ == smNone) break;
        }
        OpenDamaged = repair;
        if (!found && !repair) Fail(48);
        dirManager_->LoadDir();
        if (spanningMode_ == smNone && !dirManager_->VolumeOfSet)
            dirManager_->VolumeOfSet = NamedAsVolumeOfSet() || CutLastVolumeOfSet();
    } catch (...) {
        dirManager_.reset();
        FreeArchiveStream();
        spanningMode_ = mode;
        SpanningOptions.AdvancedNaming = advanced;
        throw;
    }
}

bool TZipBaseArchiver::NamedAsVolumeOfSet() {
    const std::u16string dir = WideExtractFilePath(FileName);
    const std::u16string ext = WideExtractFileExt(FileName);
    const std::u16string name = WideExtractFileName(FileName);
    std::u16string stem = name.substr(0, name.size() - ext.size());
    // "t.Z02" (".F02" in the second family, ".z02" from elsewhere) or "t_002.zip": volume 2 of the
    // set whose last volume is named "t." and any extension.
    long number = -1;
    bool longNumber = false;
    // The name of volume n of the same set, with as many digits at least.
    std::function<std::u16string(long)> numbered;
    if (ext.size() >= 4 && std::u16string_view(u"ZzFf").find(ext[1]) != std::u16string_view::npos)
        number = VolumeNumberIn(ext, 2, 2);
    if (number > 0) {
        numbered = [front = dir + stem + ext.substr(0, 2), digits = ext.size() - 2](long n) {
            return front + Digits(n, digits);
        };
    } else {
        const std::size_t mark = stem.rfind(u'_');
        number = mark == std::u16string::npos ? -1 : VolumeNumberIn(stem, mark + 1, 3);
        if (number > 0) {
            // Volumes are numbered with three digits at least; a longer number is a date or a
            // count of the user's as often, and keeps its width only when it begins with a zero.
            const std::size_t written = stem.size() - mark - 1;
            longNumber = written > 3;
            numbered = [front = dir + stem.substr(0, mark + 1), ext,
                        digits = stem[mark + 1] == u'0' ? written : std::size_t{3}](long n) {
                return front + Digits(n, digits) + ext;
            };
            stem.resize(mark);
        }
    }
    if (number <= 0) return false;
    // The files numbered before and after it: one without an end record, or with one that names a
    // set, is a volume; one with an end record of its own is a whole archive, and says that the
    // numbers are the user's, not a set's.
    bool volumeBeside = false, archiveBeside = false;
    for (const long n : {number - 1, number + 1}) {
        if (n < 1 || !WideFileExists(numbered(n))) continue;
        std::unique_ptr<TUniFileStream> beside;
        try {
            beside = NewVolumeStream(numbered(n), fmOpenRead | fmShareDenyNone);
        } catch (const EStreamError&) {
            continue;  // unreadable: it tells nothing
        }
        TZipDirManager dm(beside.get(), *this, false);
        std::int64_t at = -1;
        bool found = dm.FindSignatureBackward(dm.EndRecord.Signature, at);
        if (!found && !UsePKSignatures) found = dm.FindSignatureBackward(TEndRecord::kSignature, at);
        (found && EndRecordDisk(dm) == 0 ? archiveBeside : volumeBeside) = true;
    }
    // Such a name is a volume's only beside another volume of its set.
    if (longNumber && !volumeBeside) return false;
    if (dirManager_) {
        // A header or its data cut by the end: an item going on in the next volume.
        if (dirManager_->CutByEnd && !archiveBeside) return true;
        // A file that holds no archive of its own (its items, if any, came from a scan) beside a
        // volume of its set: one whose set's last volume is elsewhere, perhaps all data.
        if (dirManager_->StreamSizeAtRebuild >= 0 && volumeBeside) return true;
    }
    const std::u16string prefix = stem + u".";
    bool volume = false;
    TWideSearchRec rec;
    for (int r = WideFindFirst(dir + prefix + u"*", 0, rec); r == 0 && !volume; r = WideFindNext(rec)) {
        if (rec.Name.compare(0, prefix.size(), prefix) != 0 || dir + rec.Name == FileName) continue;
        std::unique_ptr<TUniFileStream> last;
        try {
            last = NewVolumeStream(dir + rec.Name, fmOpenRead | fmShareDenyNone);
        } catch (const EStreamError&) {
            continue;  // not ours to read: no set's last volume we could use either
        }
        TZipDirManager dm(last.get(), *this, false);
        std::int64_t at = -1;
        volume = dm.FindSignatureBackward(dm.EndRecord.Signature, at) && number <= EndRecordDisk(dm);
    }
    WideFindClose(rec);
    return volume;
}

bool TZipBaseArchiver::CutLastVolumeOfSet() {
    // Only a file that holds no end record of its own (its items came from a scan) is in doubt: a
    // whole one names its disk itself.
    if (!dirManager_ || dirManager_->StreamSizeAtRebuild < 0 || spanningMode_ != smNone) return false;
    const std::u16string ext = WideExtractFileExt(FileName);
    const std::u16string stem = FileName.substr(0, FileName.size() - ext.size());
    // Every set of more than one volume has a first one; a later one alone is no set to keep.
    std::vector<std::u16string> names = {stem + u".Z01", stem + u".z01", stem + u"_001" + ext};
    if (!UsePKSignatures) names.insert(names.end(), {stem + u".F01", stem + u".f01"});
    for (const std::u16string& name : names) {
        if (name == FileName || !WideFileExists(name)) continue;
        std::unique_ptr<TUniFileStream> volume;
        try {
            volume = NewVolumeStream(name, fmOpenRead | fmShareDenyNone);
        } catch (const EStreamError&) {
            return true;  // there, though unreadable: the set may be whole again once it can be read
        }
        TZipDirManager dm(volume.get(), *this, false);
        std::int64_t at = -1;
        bool found = dm.FindSignatureBackward(dm.EndRecord.Signature, at);
        if (!found && !UsePKSignatures) found = dm.FindSignatureBackward(TEndRecord::kSignature, at);
        // One with an end record of its own is a whole archive numbered by the user.
        if (!found || EndRecordDisk(dm) != 0) return true;
    }
    return false;
}

}  // namespace zip
