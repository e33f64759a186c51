// A point stream of n epochs held in memory, one block, one point a second: the reference workload
// without its reading.
#pragma once

#include <cmath>

#include "core/context.h"
#include "core/date_time.h"

namespace ts::bench {

inline void FillTrack(EngineContext& ctx, int n) {
    ctx.points.Clear();
    ctx.points.Reserve(static_cast<size_t>(n));
    const double t0 = EncodeDate(2024, 3, 16) + EncodeTime(9, 0, 0, 0);
    double lat = 35.6, lon = 139.7;
    for (int i = 0; i < n; ++i) {
        TLogData p;
        p.Time = t0 + i * kOneSecond;
        lat += 0.00005 * std::sin(i * 0.001);
        lon += 0.00005 * std::cos(i * 0.0013);
        p.Lat = lat;
        p.Lon = lon;
        p.Alt = 50 + 20 * std::sin(i * 0.01);
        p.Speed = 5 + 30 * (1 + std::sin(i * 0.0007));
        p.Hdop10 = 9;
        p.Sats = 8;
        p.FixQuality = 1;
        ctx.points.Append(p);
    }
    ctx.blocks.Clear();
    TrackBlock& b = ctx.blocks.Open(0, t0);
    b.Last = n - 1;
    b.EndTime = ctx.points.At(n - 1).Time;
    b.Output = true;
    b.RangeLast = b.Last;
    b.RangeEnd = b.EndTime;
}

}  // namespace ts::bench
