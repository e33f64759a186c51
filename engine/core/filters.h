// Which fixes become points (the mask) and which stored points of a block go into an output file
// (output window and track reduction).
#pragma once

#include <functional>

#include "core/context.h"

namespace ts {

// hdop is the plain HDOP (not times ten); a NaN HDOP passes the HDOP half of the test.
bool PassesHdopSatMask(const TConversionOptions& o, int32_t sats, double hdop);

// True when t lies in the block's chosen range, widened by 1 ms on both sides.
bool InOutputWindow(const TrackBlock& b, double t);

// Walks the records of one selected block in order and decides which ones a writer writes. It keeps
// the distances in the run state (SegmentDistance, TotalDistance, FirstTime) for the
// writer to use.
class OutputFilter {
public:
    OutputFilter(EngineContext& ctx, const TrackBlock& block);
    // Record number i of the stream with its point; true when it is to be written. Records outside
    // the window return false and take no part in distances.
    bool Accept(int32_t i, const TLogData& p);
    // Accept for a record known to lie in the window, d being its distance from the record that
    // passed before it (measured elsewhere; unused for the first).
    bool AcceptMeasured(int32_t i, const TLogData& p, double d);
    bool AnyPassed() const { return anyPassed_; }

private:
    EngineContext& ctx_;
    const TrackBlock& block_;
    bool limit_, reduce_;
    bool anyPassed_ = false, anyWritten_ = false;
    double sinceWritten_ = 0;
    double lastWrittenTime_ = 0;
};

// The OutputFilter's walk over a whole block: each(i, p, accepted) for every record in order on the
// calling thread, leaving the run state as Accept does. Without the track reduction a record's
// passing does not hang on distances, so on a long block these are measured on worker threads.
void FilterBlock(EngineContext& ctx, const TrackBlock& block,
                 const std::function<void(int64_t, const TLogData&, bool)>& each);

}  // namespace ts
