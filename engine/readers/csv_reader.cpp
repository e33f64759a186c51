#include "readers/csv_reader.h"

#include <cmath>
#include <stdexcept>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_stage.h"

namespace ts {

namespace {

constexpr double kOneMinute = 1.0 / 1440.0;
// Row times are whole milliseconds, but their day fractions are not exact: every limit is
// compared with half a millisecond of slack, so that a step of exactly the limit counts as the
// limit at any time of day.
constexpr double kHalfMs = 0.5 / 86400000.0;

// More than 60 s back: a wrap, or a midnight row.
bool StepsBackOverAMinute(double prevTime, double t) { return prevTime - t > kOneMinute + kHalfMs; }

std::string_view TrimView(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// 1 to maxDigits decimal digits at s[i]; advances i.
bool ReadDigits(std::string_view s, size_t& i, int minDigits, int maxDigits, int& v) {
    v = 0;
    int n = 0;
    while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i] - '0');
        ++i;
        ++n;
    }
    return n >= minDigits && !(i < s.size() && s[i] >= '0' && s[i] <= '9');
}

// "m/d/yyyy h:n:s[.f]", "m/d/yyyy" or "h:n:s[.f]", the forms loggers write, parsed without the
// heap and to the same value StrToTimeMs gives. False for any other form.
bool ParseCommonDateTime(std::string_view s, double& out) {
    size_t i = 0;
    double date = 0;
    if (s.find('/') != std::string_view::npos) {
        int m, d, y;
        if (!ReadDigits(s, i, 1, 2, m) || i >= s.size() || s[i++] != '/') return false;
        if (!ReadDigits(s, i, 1, 2, d) || i >= s.size() || s[i++] != '/') return false;
        if (!ReadDigits(s, i, 4, 4, y) || !TryEncodeDate(y, m, d, date)) return false;
        if (i == s.size()) {
            out = date;
            return true;
        }
        if (s[i++] != ' ') return false;
    }
    int h, n, sec;
    if (!ReadDigits(s, i, 1, 2, h) || i >= s.size() || s[i++] != ':') return false;
    if (!ReadDigits(s, i, 1, 2, n) || i >= s.size() || s[i++] != ':') return false;
    if (!ReadDigits(s, i, 1, 2, sec)) return false;
    double frac = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const size_t start = i;
        double scale = 0.1;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            frac += (s[i] - '0') * scale;
            scale /= 10;
            ++i;
        }
        if (i == start) return false;
    }
    if (i != s.size() || h > 23 || n > 59 || sec > 59) return false;
    const long long ms = std::llround(frac * 1000.0);
    const double base = ((h * 60.0 + n) * 60.0 + sec) * 1000.0;
    out = date + (base + static_cast<double>(ms)) / 86400000.0;
    return true;
}

// False when the text is no date-time.
bool ParseRowTime(std::string_view text, double& out) {
    const std::string_view t = TrimView(text);
    if (ParseCommonDateTime(t, out)) return true;
    try {
        out = StrToTimeMs(std::string(t));
        return std::isfinite(out);
    } catch (const std::exception&) {
        return false;
    }
}

bool IsMidnight(double t) {
    if (!std::isfinite(t)) return false;
    const long long ms = std::llround((t - std::floor(t)) * 86400000.0);
    return ms == 0 || ms == 86400000;
}

bool AllEmpty(const CsvFields& f) {
    for (int k = 0; k < f.Count; ++k)
        if (!f.f[k].empty()) return false;
    return true;
}

// A row the logger did not finish writing (power lost mid-row) or that lost half its position:
// any value taken from it may be wrong. A row without any position is a logger's way to log no
// fix and is not damage.
bool IsDamagedRow(const CsvRowSource& src, bool lineEnded) {
    const CsvFields& f = src.fields;
    const CsvColumnMap& map = src.header.map;
    const bool hasLat = !f.Field(map[ciLatitude]).empty();
    if (hasLat != !f.Field(map[ciLongitude]).empty()) return true;
    // A position whose hemisphere columns are missing; a row that stops before its position
    // columns holds no position at all (trailing empty fields left out).
    if (hasLat)
        for (const int item : {ciLatitude, ciNS, ciLongitude, ciEW})
            if (map[item] > f.Count) return true;
    // The file's last line without its line end, shorter than the row before it (or than the
    // header, for the first row): cut inside a field. Some loggers leave out trailing empty fields,
    // so a short row that has its line end is read as far as it goes.
    return !lineEnded && f.Count < (src.rowFields > 0 ? src.rowFields : src.header.columns);
}

// Parses one line into src.row; true when the row is accepted. lineEnded: the line has its line
// end (only the file's last line can lack one).
bool ParseRow(EngineContext& ctx, CsvRowSource& src, std::string_view line, bool lineEnded) {
    const TConversionOptions& o = ctx.opt;
    const CsvColumnMap& map = src.header.map;
    const CsvProfileOptions& po = src.header.options;
    CsvRow& row = src.row;
    row.NewTime = 0;
    row.Lat = row.Lon = 0;
    row.Height = kNaN;
    row.RowSpeed = 0;
    row.HDOP = 0;
    row.Sats = 99;
    row.Temperature = row.Pressure = row.PressureAlt = kNaNf;
    row.Voice.clear();
    row.CsvRowGeoid = kNaN;
    row.Fix = 1;
    row.InterestTag = row.VoiceTag = false;
    if (line.empty()) return false;

    SplitCsvLine(line, src.fields);
    if (AllEmpty(src.fields)) return false;
    if (IsDamagedRow(src, lineEnded)) {
        ctx.Report("  Damaged row was disregarded: line " + std::to_string(src.lineNumber));
        ctx.host.showReportAtEnd = true;
        return false;
    }
    auto field = [&](int item) { return src.fields.Field(map[item]); };
    if (map[ciValid]) row.Fix = CsvFixTypeCode(field(ciValid), o.AcceptEstimated);
    if (map[ciRCR]) {
        const std::string_view rcr = field(ciRCR);
        row.InterestTag = !o.Interest.empty() && rcr.find(o.Interest) != std::string_view::npos;
        row.VoiceTag = !o.Interest2.empty() && rcr.find(o.Interest2) != std::string_view::npos;
    }

    if (map[ciDate] || map[ciTime]) {
        std::string& d = src.date;
        d.assign(field(ciDate));
        for (char& c : d)
            if (c == '-') c = '/';
        if (!d.empty() && d.find('/') == std::string::npos) {
            CsvDateToText(d, src.text);
            d.swap(src.text);
        }
        const std::string_view t = field(ciTime);
        if (!t.empty() && t.find(':') == std::string_view::npos) CsvTimeToText(t, src.time);
        else src.time.assign(t);
        src.text.assign(TrimView(d));
        src.text.push_back(' ');
        src.text.append(src.time);
        // Trimmed as a whole: without a date column a leading blank would hide a year-first date.
        CsvDateTimeSplit(TrimView(src.text), src.split);
        if (!ParseRowTime(src.split, row.NewTime)) return false;
        if (po.CsvAddTimeOffset) row.NewTime += o.TimeOffset;
    }

    row.Lat = CsvCoordToDegrees(field(ciLatitude));
    const std::string_view ns = field(ciNS);
    if (ns == "S" || ns == "s") row.Lat = -row.Lat;
    row.Lon = CsvCoordToDegrees(field(ciLongitude));
    const std::string_view ew = field(ciEW);
    if (ew == "W" || ew == "w") row.Lon = -row.Lon;

    if (map[ciHeight]) row.Height = CsvNumberValue(field(ciHeight));
    if (map[ciSpeed]) row.RowSpeed = CsvNumberValue(field(ciSpeed));
    if (map[ciHDOP]) row.HDOP = CsvNumberValue(field(ciHDOP));
    if (!field(ciNsat).empty()) row.Sats = CsvLeadingInteger(field(ciNsat));
    if (!field(ciTemp).empty()) row.Temperature = ToSingle(CsvNumberValue(field(ciTemp)));
    if (!field(ciBarom).empty()) row.Pressure = ToSingle(CsvNumberValue(field(ciBarom)));
    if (!field(ciPAlt).empty()) row.PressureAlt = ToSingle(CsvNumberValue(field(ciPAlt)));
    if (!field(ciVoice).empty()) row.Voice.assign(field(ciVoice));
    if (map[ciGeoid]) row.CsvRowGeoid = CsvNumberValue(field(ciGeoid));

    bool accepted = true;
    if (!row.InterestTag && !row.VoiceTag) {
        if (map[ciValid] && o.UseFixOnly && row.Fix == 0) accepted = false;
        if (!PassesHdopSatMask(o, row.Sats, row.HDOP)) accepted = false;
    }
    // 90/0 is a logger's placeholder for a missing position; 0/0 is what empty fields give.
    if (row.Lon == 0 && (row.Lat == 90 || row.Lat == 0)) accepted = false;
    if (!OnTheGlobe(row.Lat, row.Lon)) accepted = false;

    const double prevTime = ctx.run.PrevTime;
    if (po.CsvDropMidnightRows && StepsBackOverAMinute(prevTime, row.NewTime) && IsMidnight(row.NewTime)) {
        ctx.Report(
            "  Data of illegal time was disregarded: " + FormatDateTime(o.OutDateFormat, row.NewTime, o.DateSeparator) +
            " " + FormatTimeMs("hh:nn:ss.", row.NewTime));
        ctx.host.showReportAtEnd = true;
        accepted = false;
    }
    return accepted;
}

struct BlockState {
    bool first = true;
    int32_t points = 0;  // points stored in the block
};

void StoreRow(EngineContext& ctx, CsvRowSource& src, BlockState& b, bool hasSpeedColumn) {
    const TConversionOptions& o = ctx.opt;
    const CsvProfileOptions& po = src.header.options;
    RunState& r = ctx.run;
    CsvRow& row = src.row;
    ++src.recordCount;
    const bool first = b.first;
    b.first = false;
    if (!first) {
        r.SegmentDistance = GeoDistanceOnly(r.PrevLat, r.PrevLon, row.Lat, row.Lon, r.LatCache);
        r.TotalDistance += r.SegmentDistance;
        if (!hasSpeedColumn)
            row.RowSpeed = SpeedFromDistance(row.NewTime, r.PrevTime, r.SegmentDistance, r.PrevSpeed, o.Accel_g);
    } else {
        r.FirstTime = row.NewTime;
        ctx.blocks.Open(src.recordCount - 1, row.NewTime);
    }

    if (po.CsvRepeatFlagsInterest && !first && row.NewTime == r.PrevTime && row.Lat == r.PrevLat &&
        row.Lon == r.PrevLon) {
        // The logger repeats a row to mark the point: tag it instead of adding one.
        ctx.points.Last().Flags |= InterestPoint;
        --src.recordCount;
    } else {
        TLogData& p = r.CurrentPoint;
        p.Flags = (row.InterestTag ? InterestPoint : 0) | (row.VoiceTag ? VoicePoint : 0);
        p.FixQuality = row.Fix;
        p.Time = row.NewTime;
        p.Lat = row.Lat;
        p.Lon = row.Lon;
        p.GeoidSep = ToSingle(row.CsvRowGeoid);
        p.Alt = kNaN;
        if (!std::isnan(row.Height)) {
            p.Alt = po.CsvHeightsInFeet ? row.Height * 0.3048 : row.Height;
            if (ctx.geoidCorrection) {
                const double N = PointGeoid(ctx, row.Lat, row.Lon);
                if (!std::isnan(N)) {
                    p.GeoidSep = ToSingle(N);
                    if (!po.CsvHeightsAboveGeoid) p.Alt -= N;
                }
            }
        }
        if (std::isnan(row.RowSpeed)) p.Speed = kNaN;
        else if (!hasSpeedColumn) p.Speed = row.RowSpeed / kKnotKmh;
        else if (po.CsvSpeedUnit == 1) p.Speed = row.RowSpeed * 0.868976241;
        else if (po.CsvSpeedUnit == 2) p.Speed = row.RowSpeed;
        else p.Speed = row.RowSpeed / kKnotKmh;
        p.Hdop10 = Hdop10FromHdop(row.HDOP);
        p.Sats = SatsFromCount(row.Sats);
        p.Temperature = row.Temperature;
        p.Pressure = row.Pressure;
        p.PressureAlt = row.PressureAlt;
        p.VoiceName = row.Voice;
        ++b.points;
        ctx.points.Append(p);
    }
    r.PrevLat = row.Lat;
    r.PrevLon = row.Lon;
    r.PrevAlt = row.Height;
    r.PrevTime = row.NewTime;
    r.PrevSpeed = row.RowSpeed;
    if (b.points % 512 == 0) ctx.PollAbort();
}

// Without a speed column: the records before the wrap now follow the last record in time, so
// their speeds are computed again along that order.
void RecomputeSpeedsBeforeWrap(EngineContext& ctx, int32_t wrapPoint) {
    RunState& r = ctx.run;
    for (int32_t s = 0; s < wrapPoint; ++s) {
        TLogData& p = ctx.points.At(s);  // the wrap point is not set yet: stored order
        r.SegmentDistance = GeoDistanceOnly(r.PrevLat, r.PrevLon, p.Lat, p.Lon, r.LatCache);
        const double v = SpeedFromDistance(p.Time, r.PrevTime, r.SegmentDistance, r.PrevSpeed, ctx.opt.Accel_g);
        p.Speed = std::isnan(v) ? kNaN : v / kKnotKmh;
        r.PrevLat = p.Lat;
        r.PrevLon = p.Lon;
        r.PrevTime = p.Time;
        r.PrevSpeed = v;
    }
}

}  // namespace

CsvRowResult ParseCsvDataLine(EngineContext& ctx, CsvRowSource& src) {
    src.wrapAtRow = false;
    std::string_view line;
    bool accepted = false;
    while (!accepted) {
        const uint64_t before = src.file.Consumed();
        if (!src.file.ReadLine(line)) break;
        ++src.lineNumber;
        accepted = ParseRow(ctx, src, line, src.file.Consumed() - before > line.size());
    }
    CsvRowResult res;
    if (!accepted) return res;
    src.rowFields = src.fields.Count;
    res.RowAvailable = true;
    const RunState& r = ctx.run;
    const double t = src.row.NewTime;
    if (src.wrapPoint == 0 && src.recordCount > 0 && StepsBackOverAMinute(r.PrevTime, t)) {
        src.wrapPoint = src.recordCount;
        src.wrapAtRow = true;
        CheckTimeGoesBack(ctx, r.PrevTime, t);
        res.ContinuesBlock = false;
    } else {
        res.ContinuesBlock = t - r.PrevTime <= ctx.opt.SplitTime / 1440.0 + kHalfMs;
    }
    return res;
}

int32_t ReadCsvLogFile(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    const std::string name = ExtractFileName(fileName);
    CsvRowSource src;
    if (!src.file.Open(fileName)) return ReportCantOpen(ctx, name);
    const bool known = AnalyseCsvHeader(ctx.opt, src.file, src.header);
    src.lineNumber = src.header.lines;
    if (src.file.Failed()) return ReportCantRead(ctx, name, src.file.FailReason());
    if (!known) {
        host.SetStatus(0, "  Unknown CSV log file : " + name);
        ctx.Report("  Unknown CSV log file : " + name);
        return -2;
    }
    const CsvProfileOptions& po = src.header.options;
    if (ctx.geoidCorrection) {
        ctx.Report("  Geoid model: " + ctx.opt.GeoidCaption);
        if (po.CsvHeightsAboveGeoid) ctx.Report("  Geoid designation value was ignored.");
    }
    host.SetStatus(0, " " + name + "  " + src.header.CsvProfileName + " CSV file ...");

    int32_t result = -1;
    try {
        ctx.points.Clear();
        ctx.blocks.Clear();
        ctx.run = RunState();
        ctx.run.PrevTime = 0;
        const bool hasSpeedColumn = src.header.map[ciSpeed] != 0;
        CsvRowResult rr = ParseCsvDataLine(ctx, src);
        ctx.run.GeoidOutsideCount = 0;
        int32_t preWrapLast = 0;
        double preWrapTime = 0;
        while (rr.RowAvailable) {
            BlockState b;
            ctx.run.TotalDistance = 0;
            do {
                StoreRow(ctx, src, b, hasSpeedColumn);
                rr = ParseCsvDataLine(ctx, src);
            } while (rr.RowAvailable && rr.ContinuesBlock);
            if (src.wrapAtRow) {
                // The blocks after the wrap replace those before it; the rows before it end the
                // last block.
                preWrapLast = src.recordCount - 1;
                preWrapTime = ctx.run.PrevTime;
                ctx.blocks.Clear();
            } else {
                ctx.blocks.Close(src.recordCount - 1, ctx.run.PrevTime);
            }
        }
        if (src.file.Failed()) throw ReadError(src.file.FailReason());

        const int32_t count = src.recordCount;
        if (src.wrapPoint > 0) {
            if (!hasSpeedColumn) RecomputeSpeedsBeforeWrap(ctx, src.wrapPoint);
            ctx.blocks.Close(preWrapLast, preWrapTime);
            for (TrackBlock& blk : ctx.blocks.Items()) {
                blk.First -= src.wrapPoint;
                if (blk.First < 0) blk.First += count;
                blk.Last -= src.wrapPoint;
                if (blk.Last < 0) blk.Last += count;
            }
            ctx.points.SetWrapPoint(src.wrapPoint);
        }

        ctx.Report("  " + src.header.CsvProfileName + " CSV:   " + std::to_string(count) + " records");
        if (ctx.run.GeoidOutsideCount > 0) {
            ctx.Report("  Number of Geoid outside range = " + std::to_string(ctx.run.GeoidOutsideCount));
            host.showReportAtEnd = true;
        }
        host.SetStatus(1, host.Status(1) + "  Read:" + std::to_string(count) + "rec.");
        result = count > 0 ? MakeOutputFiles(ctx, fileName) : 0;
    } catch (const ReadError& err) {
        result = ReportCantRead(ctx, name, err.what());
    } catch (const std::exception&) {
        result = -1;
    }
    if (!ctx.keepPoints) ctx.points = PointStream();
    return result;
}

}  // namespace ts
