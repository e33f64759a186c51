#include "core/point_store.h"

#include <cmath>

#include "core/context.h"
#include "core/date_time.h"
#include "core/geodesy.h"

namespace ts {

int16_t Hdop10FromHdop(double hdop) {
    if (!(hdop > 0)) return 0;                     // also NaN
    const double v = std::nearbyint(hdop * 10.0);  // ties to even under the default rounding mode
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(v);
}

int8_t SatsFromCount(double sats) {
    if (std::isnan(sats)) return 99;
    if (sats <= 0) return 0;
    if (sats >= 99) return 99;
    return static_cast<int8_t>(sats);
}

void CheckTimeGoesBack(EngineContext& ctx, double prevTime, double newTime) {
    if (!(prevTime > newTime)) return;
    const TConversionOptions& o = ctx.opt;
    const std::string fmt = IsDateless(ctx.run.CurrentPoint.Time) ? "hh:nn:ss" : o.OutDateFormat + " hh:nn:ss";
    auto text = [&](double t) { return FormatDateTime(fmt, ToLocalTime(t, o.TimeOffset), o.DateSeparator); };
    ctx.Report("  Time goes back: " + text(prevTime) + " to " + text(newTime));
    ctx.host.showReportAtEnd = true;
}

void StepFromPrevious(EngineContext& ctx, double lat, double lon) {
    RunState& r = ctx.run;
    r.SegmentDistance = GeoDistanceOnly(r.PrevLat, r.PrevLon, lat, lon, r.LatCache);
    r.TotalDistance += r.SegmentDistance;
    if (r.PrevTime > r.NewTime) CheckTimeGoesBack(ctx, r.PrevTime, r.NewTime);
}

double SpeedFromStep(EngineContext& ctx) {
    RunState& r = ctx.run;
    if (std::isnan(r.PrevSpeed)) r.PrevSpeed = 0;
    return SpeedFromDistance(r.NewTime, r.PrevTime, r.SegmentDistance, r.PrevSpeed * kKnotKmh, ctx.opt.Accel_g) /
           kKnotKmh;
}

void KeepAsPrevious(RunState& r, const TLogData& p) {
    r.PrevLat = p.Lat;
    r.PrevLon = p.Lon;
    r.PrevAlt = p.Alt;
    r.PrevTime = p.Time;
    r.PrevSpeed = p.Speed;
}

double PointGeoid(EngineContext& ctx, double lat, double lon) {
    const double N = ctx.GeoidHeight(lat, lon);
    if (std::isnan(N)) ++ctx.run.GeoidOutsideCount;
    return N;
}

int32_t ReportCantOpen(EngineContext& ctx, const std::string& name) {
    ctx.host.SetStatus(0, "  Can not open: " + name);
    ctx.Report("  Can not open: " + name);
    return -1;
}

int32_t ReportCantRead(EngineContext& ctx, const std::string& name, const std::string& why) {
    ctx.host.SetStatus(0, "  Can not read: " + name + " (" + why + ")");
    ctx.Report("  Can not read: " + name + " (" + why + ")");
    return -1;
}

void ReportGeoidOutside(EngineContext& ctx) {
    if (ctx.run.GeoidOutsideCount <= 0) return;
    ctx.Report("  Number of Geoid outside range = " + std::to_string(ctx.run.GeoidOutsideCount));
    ctx.host.showReportAtEnd = true;
}

}  // namespace ts
