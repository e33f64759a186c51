#include "output/kml_view3d.h"

#include <cmath>

#include "core/filters.h"
#include "core/geodesy.h"
#include "core/text_format.h"

namespace ts {

double Height3D(const TConversionOptions& o, double multi, double offset, const TLogData& p) {
    if (o.Mode3D && o.AltReplace) return std::isnan(p.Speed) ? 0.0 : p.Speed * 1.852 * multi + offset;
    return p.Alt;
}

const char* AltitudeModeTag(const TConversionOptions& o) {
    if (o.ClampToGnd) return "<altitudeMode>clampToGround</altitudeMode>";
    if (o.RelativeToGnd) return "<altitudeMode>relativeToGround</altitudeMode>";
    return "<altitudeMode>absolute</altitudeMode>";
}

void KmlView3D::StartBlock() {
    BoxWest = 180;
    BoxEast = -180;
    BoxSouth = 90;
    BoxNorth = -90;
    sumLonLat = sumLon = sumLon2 = sumLat = 0;
    written = 0;
}

void KmlView3D::AddWritten(const TConversionOptions& o, const TLogData& p, double h3d, bool first) {
    if (first) {
        BoxWest = BoxEast = p.Lon;
        BoxSouth = BoxNorth = p.Lat;
        if (o.Start) {
            viewLat = p.Lat;
            viewLon = p.Lon;
            viewHeight = h3d;
        }
    }
    ++written;
    GrowBounds(p.Lat, p.Lon);
    if (o.AutoPos && o.Final) {
        viewLat = p.Lat;
        viewLon = p.Lon;
        viewHeight = h3d;
    }
    // Gathered only with the automatic position: without it the heading is 90 or -90.
    if (!o.AutoPos) return;
    sumLonLat += p.Lon * p.Lat;
    sumLon += p.Lon;
    sumLon2 += p.Lon * p.Lon;
    sumLat += p.Lat;
}

void KmlView3D::GrowBounds(double lat, double lon) {
    if (BoxWest <= BoxEast) {
        if (BoxWest > 90 && lon < -90) BoxEast = lon;
        else if (BoxEast < -90 && lon > 90) BoxWest = lon;
    }
    if (BoxEast < BoxWest) {
        if (lon > 0 && lon < BoxWest) BoxWest = lon;
        if (lon < 0 && lon > BoxEast) BoxEast = lon;
    } else {
        BoxWest = std::min(BoxWest, lon);
        BoxEast = std::max(BoxEast, lon);
    }
    BoxSouth = std::min(BoxSouth, lat);
    BoxNorth = std::max(BoxNorth, lat);
}

double KmlView3D::CentreLon() const {
    if (!CrossesMeridian()) return (BoxEast + BoxWest) / 2;
    const double c = (BoxWest + BoxEast + 360) / 2;
    return c > 180 ? c - 360 : c;
}

namespace {
// Longitude difference a - b; across the meridian taken the short way round.
double LonDiff(double a, double b, bool crossing) {
    double d = a - b;
    if (crossing) {
        if (d > 180) d -= 360;
        else if (d < -180) d += 360;
    }
    return d;
}
}  // namespace

void KmlView3D::PickHalfWayPoint(EngineContext& ctx, const TrackBlock& block, double multi, double offset) {
    const double cLat = CentreLat();
    const double cLon = CentreLon();
    const bool crossing = CrossesMeridian();
    const double c = std::cos(cLat * M_PI / 180);
    double best = 1000000;
    // The pass must not disturb the first pass's sums that the summary shows.
    const RunState saved = ctx.run;
    OutputFilter filter(ctx, block);
    PointStream::Cursor cur = ctx.points.Seek(block.First);
    for (int64_t i = block.First; i <= block.Last; ++i, ++cur) {
        const TLogData& p = *cur;
        if (filter.Accept(static_cast<int32_t>(i), p)) {
            const double sw =
                (BoxSouth - p.Lat) * (BoxSouth - p.Lat) + std::pow(c * LonDiff(BoxWest, p.Lon, crossing), 2);
            const double ne =
                (BoxNorth - p.Lat) * (BoxNorth - p.Lat) + std::pow(c * LonDiff(BoxEast, p.Lon, crossing), 2);
            const double score =
                std::fabs(sw - ne) + (cLat - p.Lat) * (cLat - p.Lat) + std::pow(c * LonDiff(cLon, p.Lon, crossing), 2);
            if (score < best) {
                best = score;
                viewLat = p.Lat;
                viewLon = p.Lon;
                viewHeight = Height3D(ctx.opt, multi, offset, p);
            }
        }
        if ((i + 1) % 1024 == 0) ctx.PollAbort();
    }
    ctx.run = saved;
}

std::string KmlView3D::HeadingText(EngineContext& ctx) const {
    const TConversionOptions& o = ctx.opt;
    if (!o.AutoHeading) return o.Heading;
    double fa = 0, ba = -180;
    const double n = written;
    if (n > 0) {
        const double b = (sumLonLat - sumLon * sumLat / n) / (sumLon2 - sumLon * sumLon / n);
        const double a = (sumLat - b * sumLon) / n;
        const double lat1 = b * BoxWest + a, lat2 = b * BoxEast + a;
        if (std::isfinite(b) && std::isfinite(a) && std::fabs(BoxWest - BoxEast) > 1.0 / 3600 &&
            std::fabs(lat1) <= 90 && std::fabs(lat2) <= 90) {
            const GeoResult g = GeoDistance(lat1, BoxWest, lat2, BoxEast, 0, 0);
            if (std::isfinite(g.forwardAzimuth) && std::isfinite(g.backAzimuth)) {
                fa = g.forwardAzimuth;
                ba = g.backAzimuth;
            }
        }
    }
    double h = (fa + ba + 180) / 2 + 90;
    if (h > 180) h -= 360;
    const double back = h < 0 ? h + 180 : h - 180;
    double v;
    if (o.East) v = (h >= 0 && h <= 180) ? h : back;
    // The southern half only: a heading of exactly 90 looks east, not south.
    else if (o.South) v = (std::fabs(h) > 90 && h <= 180) ? h : back;
    else if (o.West) v = (h >= -180 && h <= 0) ? h : back;
    else v = (h >= -90 && h <= 90) ? h : back;
    return FormatFixed(v, 1, 3);
}

void KmlView3D::AppendLookAt(EngineContext& ctx, LineOut& out) const {
    const TConversionOptions& o = ctx.opt;
    out.Line(2, "<LookAt>");
    AppendFixed(out.Begin(3).append("<longitude>"), viewLon, 7, 8);
    out.Buffer().append("</longitude>");
    out.End();
    AppendFixed(out.Begin(3).append("<latitude>"), viewLat, 7, 8);
    out.Buffer().append("</latitude>");
    out.End();
    AppendFixed(out.Begin(3).append("<altitude>"), std::isnan(viewHeight) ? 0.0 : viewHeight, 1, 3);
    out.Buffer().append("</altitude>");
    out.End();
    std::string& r = out.Begin(3).append("<range>");
    if (!o.AutoRange) {
        AppendXmlText(r, o.Range);
    } else {
        double x = StrToFloatSafe(o.AutoRangeMulti);
        if (x <= 0) x = 1.2;
        double d = GeoDistance(BoxNorth, BoxEast, BoxSouth, BoxWest, 0, 0).distance * x;
        if (!(d > 50)) d = 50;
        AppendFixed(r, d, 1, 3);
    }
    r.append("</range>");
    out.End();
    AppendXmlText(out.Begin(3).append("<tilt>"), o.Tilt);
    out.Buffer().append("</tilt>");
    out.End();
    AppendXmlText(out.Begin(3).append("<heading>"), HeadingText(ctx));
    out.Buffer().append("</heading>");
    out.End();
    out.Line(3, AltitudeModeTag(o));
    out.Line(2, "</LookAt>");
}

}  // namespace ts
