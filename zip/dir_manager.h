// The directory manager of an open archive: the archive stream, the current and backup item
// arrays and the end-record images. The commit and the central directory writer build on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dir_items.h"
#include "streams.h"

namespace zip {

class TZipBaseArchiver;

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
    // the bytes after it; fills EndRecord and ArchiveComment. offset is -1 when none is found.
    bool FindSignatureBackward(std::uint32_t signature, std::int64_t& offset);
    bool LocateEndRecord();
    // Where the directory written last begins (the Zip64 value when the end record overflows).
    std::int64_t DirectoryOffset() const;
    // Copies the SFX stub to the start of a new archive.
    void WriteSFXStub();

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
    bool ReaderFlag1 = false;  // used by the directory reader
    bool ReaderFlag2 = false;
};

}  // namespace zip
