// The directory manager of an open archive: the archive stream, the current and backup item
// arrays and the end-record images. The commit and the central directory writer build on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/dir_items.h"
#include "text/streams.h"

namespace zip {

class TZipBaseArchiver;

// A read that the system failed although the bytes are there. It is raised as a read failure of
// the stream, never taken for a record that is missing or damaged, so that nothing is written on
// the strength of what a failing disk did not give.
class EReadFailure : public EStreamError {
public:
    EReadFailure() : EStreamError("Stream read error") {}
};

// Reads exactly count bytes at position, leaving the stream where it was. False when the stream
// ends first; EReadFailure when the bytes are there and the read fails.
bool ReadStreamAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count);

// The end of central directory record (22 bytes on disk, then the comment).
struct TEndRecord {
    static constexpr std::size_t kSize = 22;
    static constexpr std::uint32_t kSignature = 0x06054B50;
    static constexpr std::uint32_t kBaseSignature = 0x06054141;

    std::uint32_t Signature = 0;
    std::uint16_t ThisDisk = 0;
    std::uint16_t DirectoryDisk = 0;
    std::uint16_t EntriesOnDisk = 0;
    std::uint16_t TotalEntries = 0;
    std::uint32_t DirectorySize = 0;
    std::uint32_t DirectoryOffset = 0;
    std::uint16_t CommentLength = 0;

    void Store(std::uint8_t* out) const;  // writes kSize bytes
    static TEndRecord Load(const std::uint8_t* in);
};

class TZipDirManager {
public:
    // stream: the archive stream (not owned); isNew: created for a new archive rather than read.
    TZipDirManager(TStream* stream, TZipBaseArchiver& owner, bool isNew, bool customStream = false);
    virtual ~TZipDirManager() = default;
    TZipDirManager(const TZipDirManager&) = delete;
    TZipDirManager& operator=(const TZipDirManager&) = delete;

    void Reset();
    // Writes the central directory and the end records through the volume writer: at the current
    // end of the stream when atEnd, else over the old directory found by its end record. A
    // non-null stream replaces the manager's.
    virtual void SaveDir(bool atEnd, TStream* stream);
    // Searches the last 65,600 bytes backwards for an end record whose comment length matches
    // the bytes after it, or else for one followed by more bytes whose directory checks out; fills
    // EndRecord and ArchiveComment. offset is -1 when none is found.
    bool FindSignatureBackward(std::uint32_t signature, std::int64_t& offset);
    bool LocateEndRecord();
    // Where the directory written last begins (the Zip64 value when the end record overflows).
    std::int64_t DirectoryOffset() const;
    // Copies the SFX stub to the start of a new archive.
    void WriteSFXStub();

    // Reading an existing archive: the end records and the central directory into Items, or,
    // when the directory cannot be read and the archiver allows it, the items found by a scan
    // for local headers.
    void LoadDir();
    // The 20 bytes before the end record at endRecordPosition; sets Zip64LocatorFound.
    void ReadZip64Locator(std::int64_t endRecordPosition);
    // The Zip64 end record the locator points to; native 40 when there is none.
    void ReadZip64EndRecord(std::int64_t locatorPosition);
    // The next local header signature of the archiver's family at or after offset, or -1.
    std::int64_t FindNextLocalHeader(std::int64_t offset);
    // The next data descriptor (signature, CRC-32, compressed and uncompressed size) at or after
    // offset; descriptor gets 16 bytes.
    bool FindNextDataDescriptor(std::int64_t offset, std::array<std::uint8_t, 16>& descriptor);
    // Forward search for pattern from the current stream position.
    bool FindSignatureForward(const void* pattern, int length, std::int64_t& offset);
    void FindArchiveStart(std::int64_t endRecordPosition);
    bool CheckLocalHeader(std::int64_t position);
    bool OffsetsIncludeStart();
    void ShiftOffsets();
    void CheckArchiveSize();
    void RebuildDirectory();
    void RebuildFromLocalHeaders();
    // Takes the archiver's current volume stream again (a spanned directory moves on).
    void RefreshVolumeStream();

    TStream* Stream;
    bool IsNew;
    bool IsCustomStream;
    TZipBaseArchiver& Owner;
    TZipDirArray BackupItems;
    TZipDirArray Items;
    std::string ArchiveComment;
    std::array<std::uint8_t, 20> Zip64Locator{};
    std::int64_t Zip64EndRecordPosition = 0;
    std::array<std::uint8_t, 56> Zip64EndRecord{};
    TEndRecord EndRecord;
    std::int64_t ArchiveStart = 0;
    std::int64_t DirectoryPosition = 0;
    bool Zip64LocatorFound = false;
    // The stream's size when the items last came from a scan (-1 otherwise).
    std::int64_t StreamSizeAtRebuild = -1;
    // What was read is one volume of a set opened on its own: items lie on other disks, or its name
    // says so together with a header cut by its end or the set's volumes beside it. No transaction
    // writes into it.
    bool VolumeOfSet = false;
    // The scan met a local header whose name, extras or data run past the end of the file: a cut
    // archive, or a volume whose item goes on in the next one.
    bool CutByEnd = false;
    // The scan left out the local header the file begins with: written to, the archive would begin
    // with a broken item, which readers take for its start. No transaction writes into it.
    bool LeadingItemDropped = false;

private:
    // Whether the directory that the end record r at position names lies whole right before it (or
    // before its Zip64 end record) in this file: every entry where the one before ends, as many as
    // it counts, ending where the records begin, and no item header after them.
    bool DirectoryChecksOut(const TEndRecord& r, std::int64_t position);
    // Points the directory offset of the end records at position.
    void SetDirectoryOffset(std::int64_t position);
    // Reads count directory bytes, moving on to the next volume of a spanned set; native 57
    // when the archive ends first.
    void ReadDirBytes(void* buffer, std::int64_t count);
    // Whether the data of a recovered item, packed bytes at dataStart, can be whole: sizes that
    // hold it, no placeholder header, and the CRC where it can be checked.
    bool RecoveredDataIsWhole(const TDirItem& item, std::int64_t dataStart, std::uint64_t packed);
    // Whether a local header at position looks like one an item of the file could have.
    bool PlausibleLocalHeader(std::int64_t position);
    // Fills item from the name, extra fields and comment that follow its fixed header.
    void ReadItemTail(TDirItem& item, const std::uint8_t* data, std::size_t nameLength, std::size_t extraLength,
                      std::size_t commentLength, bool local);
    // First offset at or after from where the pattern begins, or -1. Keeps the block it read, so
    // searches that move forward read each byte of the stream once.
    std::int64_t ScanForward(const std::uint8_t* pattern, int length, std::int64_t from, std::int64_t blockSize);

    struct TScanBlock {
        const TStream* stream = nullptr;
        std::int64_t size = -1;  // of the stream when the block was read
        std::int64_t start = -1;
        std::vector<std::uint8_t> data;
    };
    TScanBlock scan_;
    TScanBlock descriptorScan_;
    // The last descriptor search: in which stream, from where, and its answer.
    const TStream* descriptorStream_ = nullptr;
    std::int64_t descriptorSize_ = -1;
    std::int64_t descriptorFrom_ = -1;
    std::int64_t descriptorAt_ = -1;
};

}  // namespace zip
