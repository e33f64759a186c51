// One NMEA 0183 file per selected block: GGA and RMC for every written point, preceded by a WPL
// waypoint for an interest or voice point.
#include "output/nmea_writer.h"

#include <cmath>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_file.h"
#include "output/output_stage.h"
#include "output/text_spool.h"
#include "output/writers.h"

namespace ts {

NmeaFormats MakeNmeaFormats(TConversionOptions& o) {
    NmeaFormats f;
    f.minutes = MakeFloatFmt(o.NmeaLatLonDecimal, 4, 8);
    f.alt = MakeFloatFmt(o.NmeaAltDecimal, 1, 8);
    f.speed = MakeFloatFmt(o.NmeaSpeedDecimal, 1, 8);
    f.sep = MakeFloatFmt(o.Digit, 1, 4);
    FormatNmeaDegMin(f.zero, f.minutes, 0.0);
    return f;
}

void FormatNmeaDegMin(std::string& out, const FloatFormat& minutes, double value) {
    if (!std::isfinite(value)) return;
    const double v = std::fabs(value);
    double d = std::trunc(v);
    std::string m;  // at most 11 characters: no heap
    AppendFixed(m, (v - d) * 60, minutes.decimals);
    if (m.compare(0, 2, "60") == 0) {
        d += 1;
        m.clear();
        AppendFixed(m, 0.0, minutes.decimals);
    }
    AppendFixed(out, d, 0);
    if (m.find('.') == 1 || m.size() == 1) out.push_back('0');  // two digits of whole minutes
    out.append(m);
}

void AddNmeaChecksum(std::string& out, size_t start) {
    unsigned x = 0;
    for (size_t i = start + 1; i < out.size(); ++i) x ^= static_cast<unsigned char>(out[i]);
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('*');
    out.push_back(kHex[(x >> 4) & 15]);
    out.push_back(kHex[x & 15]);
}

namespace {

// The no-fix forms stand for a point at 0/0 only: one zero coordinate is a real position.
bool NoFix(const NmeaFields& f, const std::string& zero) { return f.lat == zero && f.lon == zero; }

void Field(std::string& out, const std::string& s) {
    out.append(s);
    out.push_back(',');
}

void Field(std::string& out, const char* s) {
    out.append(s);
    out.push_back(',');
}

void EndSentence(std::string& out, size_t start) {
    AddNmeaChecksum(out, start);
    out.append("\r\n");
}

}  // namespace

void MakeGga(std::string& out, const NmeaFields& f, const std::string& zero) {
    const size_t start = out.size();
    out.append("$GPGGA,");
    Field(out, f.time);
    Field(out, f.lat);
    Field(out, f.ns);
    Field(out, f.lon);
    Field(out, f.ew);
    if (NoFix(f, zero)) {
        out.append("0,1,,,,,,,");
    } else {
        Field(out, f.quality);
        Field(out, f.sats);
        Field(out, f.hdop);
        Field(out, f.alt);
        Field(out, "M");
        Field(out, f.sep);
        out.append("M,,");
    }
    EndSentence(out, start);
}

void MakeRmc(std::string& out, const NmeaFields& f, const std::string& zero) {
    const size_t start = out.size();
    out.append("$GPRMC,");
    Field(out, f.time);
    const bool noFix = NoFix(f, zero);
    // Fix qualities 1 to 6 are valid fixes.
    const bool valid = f.quality.size() == 1 && f.quality[0] >= '1' && f.quality[0] <= '6';
    Field(out, !noFix && valid ? "A" : "V");
    Field(out, f.lat);
    Field(out, f.ns);
    Field(out, f.lon);
    Field(out, f.ew);
    if (noFix) {
        out.append(",,");
    } else {
        Field(out, f.speed);
        Field(out, f.course);
    }
    Field(out, f.date);
    out.push_back(',');
    EndSentence(out, start);
}

void MakeWpl(std::string& out, const std::string& prefix, int32_t number, const NmeaFields& f) {
    const size_t start = out.size();
    out.append("$GPWPL,");
    Field(out, f.lat);
    Field(out, f.ns);
    Field(out, f.lon);
    Field(out, f.ew);
    out.append(prefix);
    AppendInt(out, number);
    EndSentence(out, start);
}

namespace {

void AppendTwo(std::string& out, int v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

// Time 0 has neither time nor date; a time of day without a date has no date.
void SetTimeTexts(NmeaFields& f, double t) {
    f.time.clear();
    f.date.clear();
    DateParts d;
    if (t == 0.0 || !DecodeDateTime(t, d)) return;
    AppendTwo(f.time, d.hour);
    AppendTwo(f.time, d.minute);
    AppendTwo(f.time, d.second);
    if (d.ms != 0) {
        f.time.push_back('.');
        f.time.push_back(static_cast<char>('0' + d.ms / 100));
        AppendTwo(f.time, d.ms % 100);
    }
    if (IsDateless(t)) return;
    AppendTwo(f.date, d.day);
    AppendTwo(f.date, d.month);
    AppendTwo(f.date, d.year % 100);
}

// A waypoint name goes into a field of its own: characters that would end the field or the
// sentence are left out.
std::string WaypointPrefix(const std::string& prefix) {
    std::string r;
    for (char c : prefix) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == ',' || c == '*' || c == '$' || c == '!') continue;
        r.push_back(c);
    }
    return r;
}

struct NmeaPointWriter {
    const NmeaFormats& fmt;
    const std::string interestPrefix, voicePrefix;
    NmeaFields f;
    int32_t waypoints = 0, voices = 0;

    // The lines of one written point; course is the azimuth to the next record, hasNext false for
    // the block's last record.
    void Add(std::string& out, const TLogData& p, bool hasNext, double course) {
        f.lat.clear();
        f.lon.clear();
        FormatNmeaDegMin(f.lat, fmt.minutes, p.Lat);
        FormatNmeaDegMin(f.lon, fmt.minutes, p.Lon);
        f.ns = NmeaNS(p.Lat);
        f.ew = NmeaEW(p.Lon);
        SetTimeTexts(f, p.Time);
        f.hdop.clear();
        if (p.Hdop10 > 0) AppendFixed(f.hdop, p.Hdop10 / 10.0, 1, 3);
        else f.hdop.append("1.5");
        f.sats.clear();
        if (p.Sats >= 0 && p.Sats < 99) AppendInt(f.sats, p.Sats);
        else f.sats.push_back('4');
        if (p.Flags & InterestPoint) MakeWpl(out, interestPrefix, ++waypoints, f);
        if (p.Flags & VoicePoint) MakeWpl(out, voicePrefix, ++voices, f);
        f.quality.clear();
        AppendInt(f.quality, p.FixQuality);
        f.sep.clear();
        if (!std::isnan(p.GeoidSep)) AppendFixed(f.sep, p.GeoidSep, fmt.sep);
        f.alt.clear();
        if (!std::isnan(p.Alt)) AppendFixed(f.alt, p.Alt, fmt.alt);
        MakeGga(out, f, fmt.zero);
        f.speed.clear();
        f.course.clear();
        if (hasNext && !std::isnan(p.Speed)) {
            AppendFixed(f.speed, p.Speed, fmt.speed);
            // A course that rounds up to 360.00 is due north.
            if (!(course >= 0 && course < 359.995)) course = 0;
            AppendFixed(f.course, course, 2, 4);
        }
        MakeRmc(out, f, fmt.zero);
    }
};

}  // namespace

int32_t WriteNmeaFiles(EngineContext& ctx, const std::string& folder, const std::string& inputName) {
    TConversionOptions& o = ctx.opt;
    const NmeaFormats fmt = MakeNmeaFormats(o);
    NmeaPointWriter pw{fmt, WaypointPrefix(o.WPL_Prefix), WaypointPrefix(o.WPV_Prefix), {}};
    TextSpool text(folder);
    return WriteOutputBlocks(ctx, [&](const TrackBlock& block, OutFile& out, int32_t& total) -> bool {
        text.Clear();
        pw.waypoints = pw.voices = 0;
        int32_t count = 0;
        double firstTime = block.StartTime, lastTime = block.StartTime, sinceWritten = 0;
        if (!ctx.points.Empty()) {
            PointStream::Cursor cur = ctx.points.Seek(block.First);
            firstTime = lastTime = cur->Time;
            for (int64_t k = block.First; k <= block.Last; ++k) {
                const TLogData& p = *cur;
                const bool hasNext = k < block.Last;
                if (hasNext) ++cur;
                if (o.OutLimit && !InOutputWindow(block, p.Time)) continue;
                // This writer sums the segment to the next record before it decides on a point.
                double course = 0;
                if (hasNext) {
                    const GeoResult g = GeoDistance(p.Lat, p.Lon, cur->Lat, cur->Lon, 0, 0);
                    if (std::isfinite(g.distance)) sinceWritten += g.distance;
                    course = g.forwardAzimuth;
                }
                const bool write = !o.ReduseOut || count == 0 || !hasNext || p.Time - lastTime >= o.ElapsedMin ||
                                   sinceWritten >= o.MoveDistMin || (p.Flags & (InterestPoint | VoicePoint)) != 0;
                if (write) {
                    pw.Add(text.Text(), p, hasNext, course);
                    text.Flow();
                    ++count;
                    sinceWritten = 0;
                    lastTime = p.Time;
                }
                if ((k + 1) % 1024 == 0) ctx.PollAbort();
            }
        }

        const std::string name = MakeOutputFileName(ctx, folder, "", firstTime, lastTime);
        if (SameFileName(name + ".nmea", inputName)) {
            ReportCantCreate(ctx, name + ".nmea", "Input and output file name is same.");
            return false;
        }
        const std::string fileName = ClaimOutputName(ctx, name, ".nmea") + ".nmea";
        if (SameFileName(fileName, inputName)) {
            ReportCantCreate(ctx, fileName, "Input and output file name is same.");
            return false;
        }
        if (!out.Create(ctx, fileName, "Writing NMEA ...")) {
            return false;
        }
        text.WriteTo(out);
        out.Close();
        ReportMade(ctx, ExtractFileName(fileName), count, total);
        return true;
    });
}

}  // namespace ts
