// Track points, the ring-addressed point stream, the block table and the running state that
// readers and writers share while they walk one input file.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/geodesy.h"

namespace ts {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();

enum PointFlags : uint8_t { TimeRecord = 1, InterestPoint = 2, VoicePoint = 4 };

struct TLogData {
    double Time = 0;            // UTC date-time (days since 1899-12-30); <= 2.0 holds a time of day only
    double Lat = 0;             // degrees, north positive
    double Lon = 0;             // degrees, east positive
    double Alt = kNaN;          // metres
    double Speed = kNaN;        // knots
    int16_t Hdop10 = 0;         // HDOP x 10; <= 0 means none
    int8_t Sats = 99;           // satellites used; 99 when not logged
    float GeoidSep = kNaNf;     // metres
    float Pressure = kNaNf;     // hPa
    float Temperature = kNaNf;  // degrees C
    float PressureAlt = kNaNf;  // metres
    uint8_t Flags = 0;
    uint8_t FixQuality = 0;  // GGA fix quality 0..8
    std::string VoiceName;
};

// HDOP x 10 into the record's 16-bit field: rounded half to even, clamped; NaN or <= 0 gives 0.
int16_t Hdop10FromHdop(double hdop);
// A logged satellite count into the record's 8-bit field: clamped to 0..99, NaN gives 99.
int8_t SatsFromCount(double sats);

// A value for the record's single-precision fields; NaN or out of range is no value.
inline float ToSingle(double v) {
    if (!(std::fabs(v) <= std::numeric_limits<float>::max())) return kNaNf;
    return static_cast<float>(v);
}

// All points of the current input in reading order, addressed as a ring: record i is the stored
// record (i + WrapPoint) mod N.
class PointStream {
public:
    void Clear() {
        recs_.clear();
        wrapPoint_ = 0;
    }
    void Reserve(size_t n) { recs_.reserve(n); }
    int32_t Count() const { return static_cast<int32_t>(recs_.size()); }
    bool Empty() const { return recs_.empty(); }
    // Appends a record; returns its stored number.
    int32_t Append(const TLogData& p) {
        recs_.push_back(p);
        return Count() - 1;
    }
    // The record appended last, for readers that merge into it.
    TLogData& Last() { return recs_.back(); }

    int32_t WrapPoint() const { return wrapPoint_; }
    void SetWrapPoint(int32_t w) { wrapPoint_ = w; }
    // Stored index of record number i.
    int32_t StoredIndex(int32_t i) const {
        const int64_t n = Count();
        if (n == 0) return 0;
        int64_t s = (static_cast<int64_t>(i) + wrapPoint_) % n;
        if (s < 0) s += n;
        return static_cast<int32_t>(s);
    }
    const TLogData& At(int32_t i) const { return recs_[StoredIndex(i)]; }
    TLogData& At(int32_t i) { return recs_[StoredIndex(i)]; }
    const TLogData& Stored(int32_t s) const { return recs_[s]; }

    // Sequential walk that continues with stored record 0 after the last one.
    class Cursor {
    public:
        Cursor(const PointStream& ps, int32_t i) : ps_(&ps), s_(ps.StoredIndex(i)) {}
        const TLogData& operator*() const { return ps_->recs_[s_]; }
        const TLogData* operator->() const { return &ps_->recs_[s_]; }
        Cursor& operator++() {
            if (++s_ >= ps_->Count()) s_ = 0;
            return *this;
        }

    private:
        const PointStream* ps_;
        int32_t s_;
    };
    Cursor Seek(int32_t i) const { return Cursor(*this, i); }

private:
    std::vector<TLogData> recs_;
    int32_t wrapPoint_ = 0;
};

struct TrackBlock {
    bool Output = false;
    int32_t Number = 0;  // 1-based
    int32_t First = 0, Last = 0;
    double StartTime = 0, EndTime = 0;
    int32_t RangeFirst = 0, RangeLast = 0;
    double RangeStart = 0, RangeEnd = 0;
    int32_t PointCount() const { return Last - First + 1; }
};

// The growable block table; LastBlockIndex() is -1 before the first block.
class BlockTable {
public:
    void Clear() { blocks_.clear(); }
    int32_t LastBlockIndex() const { return static_cast<int32_t>(blocks_.size()) - 1; }
    int32_t Count() const { return static_cast<int32_t>(blocks_.size()); }
    // Opens a block at record `first` with start time `t`; returns it.
    TrackBlock& Open(int32_t first, double t) {
        TrackBlock b;
        b.Number = Count() + 1;
        b.First = b.Last = first;
        b.StartTime = b.EndTime = t;
        blocks_.push_back(b);
        return blocks_.back();
    }
    // Ends the last block at record `last` with end time `t`.
    void Close(int32_t last, double t) {
        blocks_.back().Last = last;
        blocks_.back().EndTime = t;
    }
    TrackBlock& operator[](int32_t i) { return blocks_[i]; }
    const TrackBlock& operator[](int32_t i) const { return blocks_[i]; }
    TrackBlock& Back() { return blocks_.back(); }
    std::vector<TrackBlock>& Items() { return blocks_; }
    const std::vector<TrackBlock>& Items() const { return blocks_; }

private:
    std::vector<TrackBlock> blocks_;
};

// Shared running state of the reader and writer walking the current file.
struct RunState {
    TLogData CurrentPoint;
    double NewTime = 0;
    double PrevLat = 0, PrevLon = 0, PrevAlt = kNaN, PrevTime = 0, PrevSpeed = kNaN;
    double SegmentDistance = 0;
    double TotalDistance = 0;
    double FirstTime = 0;
    int32_t GeoidOutsideCount = 0;
    GeoLatCache LatCache;  // for the distances along the track
};

// Reader results besides a positive record count.
enum ReaderResult : int32_t { rrNoData = 0, rrError = -1, rrNotThisFormat = -2 };

}  // namespace ts
