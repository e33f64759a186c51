// The KML document of each selected block: head (name, camera, styles, logo, track frame with its
// summary), the track coordinates and the point placemarks. Elements are written in the order
// the KML 2.1 schema requires.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/ordered_chunks.h"
#include "core/text_format.h"
#include "output/kml_placemarks.h"
#include "output/kml_view3d.h"
#include "output/output_file.h"
#include "output/output_stage.h"
#include "output/writers.h"

namespace ts {

namespace {

bool FileExists(const std::string& name) {
    std::error_code ec;
    return !name.empty() && std::filesystem::is_regular_file(std::filesystem::path(name), ec);
}

// Index of the block's last record inside the output window, -1 when there is none.
int64_t LastIndexInWindow(const EngineContext& ctx, const TrackBlock& b) {
    if (!ctx.opt.OutLimit) return b.Last;
    for (int64_t i = b.Last; i >= b.First; --i)
        if (InOutputWindow(b, ctx.points.At(static_cast<int32_t>(i)).Time)) return i;
    return -1;
}

void AppendSummary(LineOut& out, const TConversionOptions& o, double totalDistance, double duration) {
    out.Line(4, "<description>");
    std::string& b = out.Begin(5);
    b.append("<![CDATA[");
    // A span that cannot be known is left out rather than shown wrong; so is the speed from it.
    if (!std::isnan(duration)) b.append("Total time ").append(FormatDuration("hh:nn:ss", duration)).append("<br/>");
    b.append("Distance ");
    AppendDistanceText(b, o, totalDistance);
    b.append("<br/>");
    if (totalDistance > 0 && duration > 0) {
        b.append("Speed ");
        // 44448 turns metres per day into knots.
        AppendFixed(b, totalDistance / duration / 44448 * o.SpeedFactor, 3, 5);
        b.append(o.SpeedUnit).append("<br/>");
    }
    b.append("]]>");
    out.End();
    out.Line(4, "</description>");
}

void AppendHead(EngineContext& ctx, LineOut& h, const std::string& docName, const KmlPlacemarks& marks,
                const KmlView3D& view, bool logo, double duration, bool kmz) {
    const TConversionOptions& o = ctx.opt;
    h.Line(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    h.Line(0, "<kml xmlns=\"http://earth.google.com/kml/2.1\">");
    h.Line(1, "<Document>");
    AppendXmlText(h.Begin(2).append("<name>"), docName);
    h.Buffer().append("</name>");
    h.End();
    if (o.TrackOut) h.Line(2, "<visibility>1</visibility>");
    if (o.Mode3D) view.AppendLookAt(ctx, h);
    if (o.PointOut) {
        for (int k = 0; k < 8; ++k) {
            if (k != kcSpeed1 && !marks.styleUsed[k]) continue;
            h.Begin(2).append("<Style id=\"style_id_").append(kKmlClassName[k]).append("\">");
            h.End();
            h.Line(3, "<IconStyle>");
            AppendIconStyle(h, o, k, kmz);
            h.Line(3, "</IconStyle>");
            h.Line(2, "</Style>");
        }
    }
    if (logo) {
        h.Line(2, "<ScreenOverlay>");
        h.Line(3, "<name>Logo</name>");
        // In a KMZ the logo is the archive's member.
        AppendXmlText(h.Begin(3).append("<Icon><href>"),
                      kmz && o.IconToKMZ ? KmzMemberName(o, o.LogoFile) : ExtractFileName(o.LogoFile));
        h.Buffer().append("</href></Icon>");
        h.End();
        for (const char* tag : {"<overlayXY x=\"", "<screenXY x=\""}) {
            std::string& b = h.Begin(3).append(tag);
            AppendXmlText(b, o.LogoXpos);
            AppendXmlText(b.append("\" y=\""), o.LogoYpos);
            b.append("\" xunits=\"fraction\" yunits=\"fraction\"/>");
            h.End();
        }
        AppendXmlText(h.Begin(3).append("<size x=\""), o.LogoScale);
        h.Buffer().append("\" y=\"0\" xunits=\"fraction\" yunits=\"fraction\"/>");
        h.End();
        h.Line(2, "</ScreenOverlay>");
    }
    if (o.TrackOut) {
        h.Line(2, "<Folder>");
        h.Line(3, "<name>Track</name>");
        h.Line(3, "<Placemark>");
        h.Line(4, "<name>Track information</name>");
        AppendSummary(h, o, ctx.run.TotalDistance, duration);
        h.Line(4, "<Style>");
        h.Line(5, "<LineStyle>");
        if (o.Random) {
            h.Line(6, "<colorMode>random</colorMode>");
        } else {
            AppendXmlText(h.Begin(6).append("<color>"), o.KmlColor);
            h.Buffer().append("</color>");
            h.End();
        }
        AppendXmlText(h.Begin(6).append("<width>"), o.LineWidth);
        h.Buffer().append("</width>");
        h.End();
        h.Line(5, "</LineStyle>");
        h.Line(4, "</Style>");
        h.Line(4, "<LineString>");
        if (o.Mode3D && !o.TrackToGnd) {
            if (o.LExtrude) h.Line(5, "<extrude>1</extrude>");
            h.Line(5, AltitudeModeTag(o));
        } else {
            h.Line(5, "<tessellate>1</tessellate>");
        }
        h.Line(5, "<coordinates>");
    }
}

}  // namespace

int32_t WriteKml(EngineContext& ctx, const std::string& folder, bool kmz) {
    TConversionOptions& o = ctx.opt;
    Host& host = ctx.host;
    const KmlFormats f = MakeKmlFormats(o);
    const bool compact = ctx.compactOutput;
    KmlPlacemarks marks(o, f, compact);
    KmlView3D view;
    std::string head;
    RecordSet accepted;
    std::vector<int32_t> countBefore;  // written points before each placemark chunk
    // A placemark takes about 400 bytes of text, a track line about 35.
    const int64_t markChunk = ChunkRecords(400), trackChunk = ChunkRecords(36);
    return WriteOutputBlocks(ctx, [&](const TrackBlock& block, OutFile& out, int32_t& total) -> bool {
        head.clear();
        marks.StartBlock();
        view.StartBlock();
        accepted.Reset(block.First, block.Last);
        countBefore.clear();
        const bool logo = FileExists(o.LogoFile);
        // What the head needs (name, styles, camera, summary) is gathered first; the document is
        // then written straight into the file in order.
        int32_t count = 0;
        double lastTime = 0;
        ElapsedTime span;
        int64_t firstBuilt = -1, lastBuilt = -1;  // records of the first and last placemark made
        const int64_t endIndex = o.Visible[kcEnd] && !ctx.points.Empty() ? LastIndexInWindow(ctx, block) : -1;
        const auto isEnd = [&](int64_t i) { return o.Visible[kcEnd] && (i >= block.Last || i == endIndex); };
        FilterBlock(ctx, block, [&](int64_t i, const TLogData& p, bool passed) {
            if ((i - block.First) % markChunk == 0) countBefore.push_back(count);
            if (passed) {
                accepted.Add(i);
                ++count;
                view.AddWritten(o, p, Height3D(o, f.multi, f.offset, p), count == 1);
                if (o.PointOut) {
                    // Only the last point of the range ends the block, also in a log
                    // without times.
                    PlacemarkRole roles[4];
                    const int n = marks.Roles(p, count == 1 && o.Visible[kcStart], isEnd(i), roles);
                    for (int r = 0; r < n; ++r) {
                        if (roles[r].used) marks.styleUsed[roles[r].cls] = true;
                        if (!marks.Built(roles[r])) continue;
                        if (firstBuilt < 0) firstBuilt = i;
                        lastBuilt = i;
                    }
                }
                lastTime = p.Time;
                span.Add(p.Time);
            }
            if ((i + 1) % 1024 == 0) ctx.PollAbort();
        });
        if (o.Mode3D) {
            if (!o.AutoPos) {
                view.viewLat = StrToFloatSafe(o.ViewLat);
                view.viewLon = StrToFloatSafe(o.ViewLon);
                view.viewHeight = StrToFloatSafe(o.ViewAlt);
            } else if (o.Half && count > 0) {
                view.PickHalfWayPoint(ctx, block, f.multi, f.offset);
            }
        }

        const std::string base =
            ClaimOutputName(ctx, BlockOutputFileName(ctx, folder, block, count, lastTime), kmz ? ".kmz" : ".kml");
        const std::string fileName = base + (kmz ? ".$$$" : ".kml");
        mode_t kmzMode = 0;  // the packed document is no more open than the archive it replaces
        std::string kmzTarget;
        if (kmz && !ReplacedFile(base + ".kmz", kmzTarget, &kmzMode)) {
            ReportCantCreate(ctx, base + ".kmz");
            return false;
        }
        if (!out.Create(ctx, fileName, "Writing ...", kmz, kmzMode)) {
            return false;
        }

        // The KMZ's deflate runs along with the writing, once the document outgrows one block.
        std::unique_ptr<KmzDeflate> deflate;
        bool deflateTried = !kmz;
        int64_t written = 0;
        const auto put = [&](const std::string& text) {
            out.Write(text);
            written += static_cast<int64_t>(text.size());
            if (!deflateTried && written > KmzDeflate::BlockSize()) {
                deflateTried = true;
                deflate = KmzDeflate::Start(out.OpenForReading(), folder);
            }
            if (deflate) deflate->Grown(written);
        };
        LineOut headOut(head, compact);
        AppendHead(ctx, headOut, PathWithoutExt(fileName), marks, view, logo, span.Days(), kmz);
        put(head);
        const RecordRuns trackRuns{block.First, block.Last, trackChunk}, markRuns{block.First, block.Last, markChunk};
        const auto writeChunks = [&](const RecordRuns& runs) {
            return [&, k = int64_t{0}](std::string& text) mutable {
                put(text);
                if (runs.PollDue(k++)) ctx.PollAbort();
            };
        };
        const auto chunks = [&](const RecordRuns& runs) { return ctx.points.Empty() || count == 0 ? 0 : runs.Count(); };
        if (o.TrackOut) {
            MakeChunksInOrder(
                chunks(trackRuns),
                [&](int64_t k, std::string& text) {
                    LineOut lines(text, compact);
                    PointStream::Cursor cur = ctx.points.Seek(static_cast<int32_t>(trackRuns.First(k)));
                    for (int64_t i = trackRuns.First(k); i <= trackRuns.Last(k); ++i, ++cur) {
                        if (!accepted.Has(i)) continue;
                        const TLogData& p = *cur;
                        AppendCoordinates(lines.Begin(5), f, p.Lon, p.Lat, Height3D(o, f.multi, f.offset, p));
                        lines.End();
                    }
                },
                writeChunks(trackRuns));
            head.clear();
            headOut.Line(5, "</coordinates>");
            headOut.Line(4, "</LineString>");
            headOut.Line(3, "</Placemark>");
            headOut.Line(2, "</Folder>");
            put(head);
        }
        if (o.PointOut) {
            MakeChunksInOrder(
                firstBuilt < 0 ? 0 : chunks(markRuns),
                [&](int64_t k, std::string& text) {
                    const int64_t first = markRuns.First(k), last = markRuns.Last(k);
                    KmlPlacemarks piece(o, f, compact);
                    piece.StartPiece(firstBuilt < first);
                    int32_t n = countBefore[static_cast<size_t>(k)];
                    PointStream::Cursor cur = ctx.points.Seek(static_cast<int32_t>(first));
                    for (int64_t i = first; i <= last; ++i, ++cur) {
                        if (!accepted.Has(i)) continue;
                        const TLogData& p = *cur;
                        ++n;
                        piece.AddPoint(p, Height3D(o, f.multi, f.offset, p), n, n == 1 && o.Visible[kcStart], isEnd(i),
                                       text);
                    }
                    piece.FinishPiece(text, first <= lastBuilt && lastBuilt <= last);
                },
                writeChunks(markRuns));
            head.clear();
            if (firstBuilt >= 0) headOut.Line(2, "</Folder>");
            put(head);
        }
        head.clear();
        headOut.Line(1, "</Document>");
        headOut.Line(0, "</kml>");
        put(head);
        out.Close();

        if (kmz) {
            host.SetStatus(0, std::string(" ").append(ExtractFileName(fileName)).append("  Ziping to KMZ ..."));
            KmzContents contents;
            contents.styleUsed = marks.styleUsed;
            contents.logoPresent = logo;
            contents.documentFile = out.ScratchName();
            if (deflate) contents.deflated = deflate->Finish(written, contents.documentFile);
            deflate.reset();
            std::string why;
            if (PackKmz(ctx, fileName, contents, &why) != 0) {
                host.SetStatus(0, "  *** Archive Error!! ***");
                ctx.Report("  Archive error!! : " + ExtractFileName(base + ".kmz") + "  " + IntToStr6(count) +
                           " records");
                if (!why.empty()) ctx.Report("   " + why);
                return false;
            }
        }
        ReportMade(ctx, ExtractFileName(kmz ? base + ".kmz" : fileName), count, total);
        return true;
    });
}

}  // namespace ts
