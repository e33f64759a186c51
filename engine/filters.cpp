#include "filters.h"

#include <cmath>

#include "date_time.h"
#include "geodesy.h"

namespace ts {

bool PassesHdopSatMask(const TConversionOptions& o, int32_t sats, double hdop) {
    if (hdop > o.HdopMax) return false;
    return sats >= o.NsatMin;
}

bool InOutputWindow(const TrackBlock& b, double t) {
    return b.RangeStart - kOneMs <= t && t <= b.RangeEnd + kOneMs;
}

OutputFilter::OutputFilter(EngineContext& ctx, const TrackBlock& block)
    : ctx_(ctx), block_(block), limit_(ctx.opt.OutLimit), reduce_(ctx.opt.ReduseOut) {
    ctx_.run.TotalDistance = 0;
    ctx_.run.SegmentDistance = 0;
}

bool OutputFilter::Accept(int32_t i, const TLogData& p) {
    RunState& r = ctx_.run;
    if (limit_ && !InOutputWindow(block_, p.Time)) return false;
    if (!anyPassed_) {
        anyPassed_ = true;
        r.FirstTime = p.Time;
        r.SegmentDistance = 0;
    } else {
        const double d = GeoDistanceOnly(r.PrevLat, r.PrevLon, p.Lat, p.Lon, r.LatCache);
        r.SegmentDistance = std::isfinite(d) ? d : 0.0;
        r.TotalDistance += r.SegmentDistance;
        sinceWritten_ += r.SegmentDistance;
    }
    r.PrevLat = p.Lat;
    r.PrevLon = p.Lon;
    r.PrevAlt = p.Alt;
    r.PrevTime = p.Time;

    const bool dropped = reduce_ && anyWritten_ && i != block_.Last &&
                         p.Time - lastWrittenTime_ < ctx_.opt.ElapsedMin &&
                         sinceWritten_ < ctx_.opt.MoveDistMin &&
                         (p.Flags & (InterestPoint | VoicePoint)) == 0;
    if (dropped) return false;
    anyWritten_ = true;
    sinceWritten_ = 0;
    lastWrittenTime_ = p.Time;
    return true;
}

}  // namespace ts
