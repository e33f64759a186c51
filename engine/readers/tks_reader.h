// The WBT-100/200 ".tks" log reader, and the pieces the later Wintec logs share with it: the packed
// date-time, the 16-byte record file and the building of points and blocks from records that
// carry their own track breaks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/context.h"

namespace ts {

// Reader contract: the output stage's result after reading points, 0 without points, -1 when the
// file cannot be opened, reading failed or the user aborted.
int32_t ReadTksFile(EngineContext& ctx, const std::string& fileName);

// Packed UTC date and time: bits 0-5 second, 6-11 minute, 12-16 hour, 17-21 day, 22-25 month,
// 26-31 year - 2000. Fields that make no valid date-time give 0.0.
double TksTimeToDateTime(uint32_t packed);

// Little-endian fields of a record.
inline uint16_t GetU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t GetU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t GetI32(const unsigned char* p) { return static_cast<int32_t>(GetU32(p)); }
inline int16_t GetI16(const unsigned char* p) { return static_cast<int16_t>(GetU16(p)); }

// A binary log read in 16-byte records up to a data end. A trailing piece shorter than a record is
// not read; a read error raises, so that the reader ends with -1.
class RecordFile {
public:
    static constexpr int kRecordSize = 16;

    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile() { Close(); }

    bool Open(const std::string& path);
    void Close();
    int64_t Size() const { return size_; }
    int64_t Position() const { return pos_; }
    // Reads up to n bytes at offset into buf; returns the count read (short at the end of the file).
    size_t ReadAt(int64_t offset, unsigned char* buf, size_t n);
    // Records are read from `start` on and not beyond `end` (nor the end of the file).
    void SetDataArea(int64_t start, int64_t end);
    // The next whole record of the data area; false when none is left.
    bool NextRecord(unsigned char (&rec)[kRecordSize]);

private:
    std::FILE* f_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    int64_t end_ = 0;
};

// One record as the builder takes it: the latitude may still be moved 100 degrees away from zero
// to mark an interest point, as the loggers store it.
struct LoggerRecord {
    double time = 0;
    double lat = 0, lon = 0, alt = 0;
    float temperature = kNaNf, pressure = kNaNf;
};

enum class RecordKind { End, Point, NewTrack };

class LoggerRecordSource {
public:
    virtual ~LoggerRecordSource() = default;
    // The next record that is not blank: Point, NewTrack for the first record of a new track,
    // End when the data is used up (rec is then unchanged).
    virtual RecordKind Next(LoggerRecord& rec) = 0;
};

// Brings a latitude stored 100 degrees away from zero back into range; true when it had to.
bool FoldLatitude(double& lat);

// Makes room in the point stream for the records of a data area of that many bytes (capped).
void ReservePoints(EngineContext& ctx, int64_t dataBytes);

// Builds points and blocks of the context from the records: a new block at every NewTrack record,
// distances and speeds from the previous point of the block, the geoid height noted when the
// correction is on (the altitude stays as logged). Returns the number of points stored. Raises
// AbortError when the user aborts.
int32_t BuildLoggerTrack(EngineContext& ctx, LoggerRecordSource& src);

// The common run of the logger readers: fresh points and blocks from the records of the data area
// start..end through src, the record count reported under the device name, then the output files.
// Returns what MakeOutputFiles returns, 0 when there are no records.
int32_t ConvertLoggerArea(EngineContext& ctx, RecordFile& file, int64_t start, int64_t end, LoggerRecordSource& src,
                          const std::string& device, const std::string& fileName);

}  // namespace ts
