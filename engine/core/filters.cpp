#include "core/filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/date_time.h"
#include "core/geodesy.h"
#include "core/ordered_chunks.h"

namespace ts {

bool PassesHdopSatMask(const TConversionOptions& o, int32_t sats, double hdop) {
    if (hdop > o.HdopMax) return false;
    return sats >= o.NsatMin;
}

bool InOutputWindow(const TrackBlock& b, double t) { return b.RangeStart - kOneMs <= t && t <= b.RangeEnd + kOneMs; }

OutputFilter::OutputFilter(EngineContext& ctx, const TrackBlock& block)
    : ctx_(ctx), block_(block), limit_(ctx.opt.OutLimit), reduce_(ctx.opt.ReduseOut) {
    ctx_.run.TotalDistance = 0;
    ctx_.run.SegmentDistance = 0;
}

bool OutputFilter::Accept(int32_t i, const TLogData& p) {
    if (limit_ && !InOutputWindow(block_, p.Time)) return false;
    RunState& r = ctx_.run;
    return AcceptMeasured(i, p, anyPassed_ ? GeoDistanceOnly(r.PrevLat, r.PrevLon, p.Lat, p.Lon, r.LatCache) : 0.0);
}

bool OutputFilter::AcceptMeasured(int32_t i, const TLogData& p, double d) {
    RunState& r = ctx_.run;
    if (!anyPassed_) {
        anyPassed_ = true;
        r.FirstTime = p.Time;
        r.SegmentDistance = 0;
    } else {
        r.SegmentDistance = std::isfinite(d) ? d : 0.0;
        r.TotalDistance += r.SegmentDistance;
        sinceWritten_ += r.SegmentDistance;
    }
    r.PrevLat = p.Lat;
    r.PrevLon = p.Lon;
    r.PrevAlt = p.Alt;
    r.PrevTime = p.Time;

    const bool dropped = reduce_ && anyWritten_ && i != block_.Last &&
                         p.Time - lastWrittenTime_ < ctx_.opt.ElapsedMin && sinceWritten_ < ctx_.opt.MoveDistMin &&
                         (p.Flags & (InterestPoint | VoicePoint)) == 0;
    if (dropped) return false;
    anyWritten_ = true;
    sinceWritten_ = 0;
    lastWrittenTime_ = p.Time;
    return true;
}

void FilterBlock(EngineContext& ctx, const TrackBlock& block,
                 const std::function<void(int64_t, const TLogData&, bool)>& each) {
    OutputFilter filter(ctx, block);  // the distances start again, also for an empty store
    if (ctx.points.Empty()) return;
    const RecordRuns runs{block.First, block.Last, ChunkRecords(sizeof(double))};
    if (ctx.opt.ReduseOut || runs.Count() < WriterChunking().minChunksForThreads) {
        PointStream::Cursor cur = ctx.points.Seek(block.First);
        for (int64_t i = block.First; i <= block.Last; ++i, ++cur)
            each(i, *cur, filter.Accept(static_cast<int32_t>(i), *cur));
        return;
    }
    const bool limit = ctx.opt.OutLimit;
    int64_t k = 0;
    MakeChunksInOrder(
        runs.Count(),
        // The distances from each passed record to the one before it in the same chunk.
        [&](int64_t c, std::string& text) {
            const int64_t first = runs.First(c), last = runs.Last(c);
            GeoLatCache cache;
            const TLogData* prev = nullptr;
            PointStream::Cursor cur = ctx.points.Seek(static_cast<int32_t>(first));
            for (int64_t i = first; i <= last; ++i, ++cur) {
                const TLogData& p = *cur;
                if (limit && !InOutputWindow(block, p.Time)) continue;
                if (prev) {
                    const double d = GeoDistanceOnly(prev->Lat, prev->Lon, p.Lat, p.Lon, cache);
                    text.append(reinterpret_cast<const char*>(&d), sizeof d);
                }
                prev = &p;
            }
        },
        // In order: the first passed record of a chunk is measured from the chunk before by the
        // filter itself, the others take their distance from the worker's text.
        [&](std::string& text) {
            const int64_t first = runs.First(k), last = runs.Last(k);
            ++k;
            size_t at = 0;
            bool firstInChunk = true;
            PointStream::Cursor cur = ctx.points.Seek(static_cast<int32_t>(first));
            for (int64_t i = first; i <= last; ++i, ++cur) {
                const TLogData& p = *cur;
                const auto n = static_cast<int32_t>(i);
                bool passed;
                if (limit && !InOutputWindow(block, p.Time)) {
                    passed = false;
                } else if (firstInChunk) {
                    firstInChunk = false;
                    passed = filter.Accept(n, p);
                } else {
                    double d;
                    std::memcpy(&d, text.data() + at, sizeof d);
                    at += sizeof d;
                    passed = filter.AcceptMeasured(n, p, d);
                }
                each(i, p, passed);
            }
        });
}

}  // namespace ts
