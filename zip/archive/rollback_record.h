// The rollback record of a commit: the old bytes a commit writes over, each stretch with the file
// it belongs in, where, and how long that file was. It lies beside the archive under one name per
// archive, so the next open for writing finds it with one look and puts the old bytes back.
//
// Layout: the stretches' bytes back to back from offset 0; then their list; then a 32-byte footer
// (signature, where and how long the list is, the list's CRC, a CRC of those 24 bytes, a state).
// The footer is written last and the whole record flushed before the archive is touched: a record
// without a whole footer was never armed, and one whose bytes do not match their CRC was flushed
// only in part, or damaged since; either way it is not put back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "text/streams.h"
#include "text/wide_files.h"

namespace zip {

struct TRollbackStretch {
    std::u16string Name;     // the file the bytes belong in
    std::u16string AltName;  // the name that file may have taken since (a full last volume), or empty
    std::int64_t Position = 0;
    std::int64_t OldLength = 0;   // of the file: the bytes run from Position to there
    std::int64_t DataOffset = 0;  // in the record
    std::uint32_t DataCrc = 0;
    std::uint32_t FrontCrc = 0;  // of the FrontLength bytes of the file before Position
    std::uint32_t FrontLength = 0;
};

// How many bytes before a stretch's position say that the file is still the one it came from.
inline constexpr std::int64_t kRollbackFrontBytes = 4096;

// The real path of name, links resolved (for a name not there yet, its folder's).
std::u16string RealFileName(const std::u16string& name);
// The record of the archive whose real path is archive: "FCrecord.", its name, ".old.tmp".
std::u16string RollbackRecordName(const std::u16string& archive);

// CRC-32 of the up to kRollbackFrontBytes bytes before position; their count goes to length.
std::uint32_t FrontCrc(TStream& stream, std::int64_t position, std::uint32_t& length);

// Arms a record whose bytes are written: appends the stretches' list and the footer, then calls
// flush. Raises the stream's error.
void SealRollbackRecord(TUniFileStream& record, const std::vector<TRollbackStretch>& stretches,
                        const std::function<void()>& flush);
// Marks an armed record as one whose commit finished (the archive holds the new state).
bool MarkRollbackRecordDone(THandleStream& record);

enum class TRollbackOutcome { None, Removed, PutBack, Failed };

// What the record of archive (real path) says, acted on: none there; one never armed or whose
// commit finished, removed; one armed, its old bytes put back in place, each file cut to its old
// length, then removed. Failed when it cannot be read, does not match the files, there is no room,
// or a write fails: nothing is changed before every check passed, and the record stays.
// busy is set when another process holds the record (a commit still running).
TRollbackOutcome PutBackRollbackRecord(const std::u16string& archive, bool& busy);

}  // namespace zip
