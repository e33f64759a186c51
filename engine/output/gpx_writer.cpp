// One GPX 1.1 file per selected block: the interest and voice points as waypoints, then one track
// of one segment. Waypoints come first because the GPX 1.1 schema puts wpt before trk.
#include <cmath>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/ordered_chunks.h"
#include "core/text_format.h"
#include "output/kml_placemarks.h"
#include "output/output_file.h"
#include "output/output_stage.h"
#include "output/text_out.h"
#include "output/text_spool.h"
#include "output/writers.h"

namespace ts {

namespace {

const char* const kGpxCreator = "Trailsmith - https://trailsmith.example.org/";

struct GpxFormats {
    FloatFormat latLon, ele;
};

// The four lines of a track point or waypoint (tag "trkpt" or "wpt"). A time of day without a date
// has no time line: GPX times are full UTC date-times.
void AppendGpxPoint(LineOut& out, const GpxFormats& f, const char* tag, const TLogData& p) {
    std::string& b = out.Begin(1);
    b.append("<").append(tag).append(" lat=\"");
    AppendFixed(b, p.Lat, f.latLon);
    b.append("\" lon=\"");
    const size_t lon = b.size();
    AppendFixed(b, p.Lon, f.latLon);
    // GPX longitudes lie in [-180, 180): the 180th meridian, or a longitude that rounds to it,
    // is written as -180.
    if (b.compare(lon, 3, "180") == 0) b.insert(lon, 1, '-');
    b.append("\">");
    out.End();
    if (!std::isnan(p.Alt)) {
        AppendFixed(out.Begin(2).append("<ele>"), p.Alt, f.ele);
        b.append("</ele>");
        out.End();
    }
    if (!IsDateless(p.Time)) {
        const size_t mark = b.size();
        if (AppendXmlDateTime(out.Begin(2).append("<time>"), p.Time)) {
            b.append("</time>");
            out.End();
        } else {
            b.resize(mark);
        }
    }
    out.Begin(1).append("</").append(tag).append(">");
    out.End();
}

void AppendGpxHead(std::string& h, bool compact) {
    AppendLine(h, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", compact);
    AppendLine(h, "<gpx", compact);
    AppendLine(h, "version=\"1.1\"", compact);
    AppendLine(h, std::string("creator=\"") + kGpxCreator + "\"", compact);
    AppendLine(h, "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"", compact);
    AppendLine(h, "xmlns=\"http://www.topografix.com/GPX/1/1\"", compact);
    AppendLine(h,
               "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
               "http://www.topografix.com/GPX/1/1/gpx.xsd\">",
               compact);
}

void AppendTrackHead(std::string& h, bool compact, const TConversionOptions& o, const std::string& trackName,
                     int32_t count, double duration, double distance) {
    AppendLine(h, "  <trk>", compact);
    std::string line = "    <name>Track ";
    AppendXmlText(line, trackName);
    line.append("</name>");
    AppendLine(h, line, compact);
    line = "    <desc>Total points: ";
    AppendInt(line, count);
    // A span that cannot be known is left out rather than shown wrong.
    if (!std::isnan(duration)) line.append(", Total time: ").append(FormatDuration("hh:nn:ss", duration));
    line.append(", Distance: ");
    AppendDistanceText(line, o, distance);
    line.append("</desc>");
    AppendLine(h, line, compact);
    AppendLine(h, "    <trkseg>", compact);
}

}  // namespace

int32_t WriteGpx(EngineContext& ctx, const std::string& folder) {
    TConversionOptions& o = ctx.opt;
    const GpxFormats f{MakeFloatFmt(o.GpxLatLonDecimal, 4, 8), MakeFloatFmt(o.GpxAltDecimal, 1, 8)};
    const bool compact = ctx.compactOutput;
    const bool interest = o.Visible[kcIrest], voice = o.Visible[kcVoice];
    std::string head;
    TextSpool waypoints(folder);
    RecordSet accepted;
    return WriteOutputBlocks(ctx, [&](const TrackBlock& block, OutFile& out, int32_t& total) -> bool {
        head.clear();
        waypoints.Clear();
        accepted.Reset(block.First, block.Last);
        LineOut wptOut(waypoints.Text(), compact);
        // The head needs the count, the last time and the distance: the filter runs first, and
        // the track is then written straight into the file.
        int32_t count = 0;
        double lastTime = 0;
        ElapsedTime span;
        FilterBlock(ctx, block, [&](int64_t i, const TLogData& p, bool passed) {
            if (passed) {
                accepted.Add(i);
                ++count;
                span.Add(p.Time);
                if (((p.Flags & InterestPoint) && interest) || ((p.Flags & VoicePoint) && voice)) {
                    AppendGpxPoint(wptOut, f, "wpt", p);
                    waypoints.Flow();
                }
                lastTime = p.Time;
            }
            if ((i + 1) % 1024 == 0 && (!o.OutLimit || InOutputWindow(block, p.Time))) ctx.PollAbort();
        });

        const std::string fileName =
            ClaimOutputName(ctx, BlockOutputFileName(ctx, folder, block, count, lastTime), ".gpx") + ".gpx";
        if (!out.Create(ctx, fileName, "Writing GPX ...")) {
            return false;
        }
        AppendGpxHead(head, compact);
        out.Write(head);
        if (interest || voice) waypoints.WriteTo(out);
        head.clear();
        AppendTrackHead(head, compact, o, PathWithoutExt(fileName), count, span.Days(), ctx.run.TotalDistance);
        out.Write(head);

        const RecordRuns runs{block.First, block.Last, ChunkRecords(112)};
        MakeChunksInOrder(
            ctx.points.Empty() || count == 0 ? 0 : runs.Count(),
            [&](int64_t k, std::string& text) {
                LineOut lines(text, compact);
                PointStream::Cursor cur = ctx.points.Seek(static_cast<int32_t>(runs.First(k)));
                for (int64_t i = runs.First(k); i <= runs.Last(k); ++i, ++cur)
                    if (accepted.Has(i)) AppendGpxPoint(lines, f, "trkpt", *cur);
            },
            [&, k = int64_t{0}](std::string& text) mutable {
                out.Write(text);
                if (runs.PollDue(k++)) ctx.PollAbort();
            });
        head.clear();
        AppendLine(head, "    </trkseg>", compact);
        AppendLine(head, "  </trk>", compact);
        AppendLine(head, "</gpx>", compact);
        out.Write(head);
        out.Close();
        ReportMade(ctx, ExtractFileName(fileName), count, total);
        return true;
    });
}

}  // namespace ts
