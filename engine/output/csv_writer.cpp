// One comma-separated file per selected block: a header line, then one row per written point. Every
// row ends with a comma after its last value; the header does not.
#include <cmath>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/text_format.h"
#include "output/output_file.h"
#include "output/output_stage.h"
#include "output/text_out.h"
#include "output/text_spool.h"
#include "output/writers.h"

namespace ts {

namespace {

const char* FixQualityText(int quality) {
    static const char* const kText[] = {
        "No fix", "SPS", "DGPS", "PPS", "RTK", "FRTK", "Estimated (dead reckoning)", "Manual input mode", "Simulator"};
    return quality >= 0 && quality <= 8 ? kText[quality] : "No fix";
}

std::string CsvHeaderLine(const TConversionOptions& o) {
    std::string h;
    if (o.Index) h.append("INDEX,");
    h.append("RCR,");
    h.append(o.DateTime ? "TIME," : "DATE,TIME,");
    h.append("VALID,LATITUDE,");
    if (o.SNEW) h.append("N/S,");
    h.append("LONGITUDE,");
    if (o.SNEW) h.append("E/W,");
    h.append("HEIGHT,SPEED,HDOP,NSAT,TEMPERATURE,BAROMETER,PRESSURE ALTITUDE");
    if (o.CsvGeoid) h.append(",GEOID");
    h.append("\r\n");
    return h;
}

struct CsvFormats {
    FloatFormat latLon, height, speed, sep;
};

void AppendTwo(std::string& out, int v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

// "2024/03/16,03:25:09.000," or, in one column, "2024/03/16 03:25:09.000,". The date always takes
// "/": the user's own separator could be the column separator. A time of day without a date has no
// date.
void AppendDateTime(std::string& out, double t, bool oneColumn) {
    DateParts d;
    if (!DecodeDateTime(t, d)) {
        out.append(oneColumn ? "," : ",,");
        return;
    }
    if (!IsDateless(t)) {
        AppendTwo(out, d.year / 100);
        AppendTwo(out, d.year % 100);
        out.push_back('/');
        AppendTwo(out, d.month);
        out.push_back('/');
        AppendTwo(out, d.day);
        if (oneColumn) out.push_back(' ');
    }
    if (!oneColumn) out.push_back(',');
    AppendTwo(out, d.hour);
    out.push_back(':');
    AppendTwo(out, d.minute);
    out.push_back(':');
    AppendTwo(out, d.second);
    out.push_back('.');
    out.push_back(static_cast<char>('0' + d.ms / 100));
    AppendTwo(out, d.ms % 100);
    out.push_back(',');
}

void AppendCoordinate(std::string& out, double v, const FloatFormat& f, bool unsignedWithSide, const char* pos,
                      const char* neg) {
    if (!unsignedWithSide) {
        AppendFixed(out, v, f);
        out.push_back(',');
        return;
    }
    AppendFixed(out, std::fabs(v), f);
    out.append(v < 0 ? neg : pos);
}

void AppendOptional(std::string& out, double v, const FloatFormat& f) {
    if (!std::isnan(v)) AppendFixed(out, v, f);
    out.push_back(',');
}

void AppendOptionalTrim(std::string& out, double v) {
    if (!std::isnan(v)) AppendFixedTrim(out, v, 1, 3);
    out.push_back(',');
}

void AppendRow(std::string& out, const TConversionOptions& o, const CsvFormats& f, int32_t index, const TLogData& p) {
    if (o.Index) {
        AppendInt(out, index);
        out.push_back(',');
    }
    if ((p.Flags & TimeRecord) || p.Flags == 0) out.push_back('T');
    if (p.Flags & InterestPoint) out.append(o.Interest);
    if (p.Flags & VoicePoint) out.append(o.Interest2);
    out.push_back(',');
    AppendDateTime(out, p.Time, o.DateTime);
    out.append(FixQualityText(p.FixQuality)).push_back(',');
    AppendCoordinate(out, p.Lat, f.latLon, o.SNEW, ",N,", ",S,");
    AppendCoordinate(out, p.Lon, f.latLon, o.SNEW, ",E,", ",W,");
    AppendOptional(out, p.Alt, f.height);
    AppendOptional(out, p.Speed * 1.852, f.speed);
    if (p.Hdop10 > 0) AppendFixed(out, p.Hdop10 / 10.0, 1, 3);
    out.push_back(',');
    if (p.Sats >= 0 && p.Sats < 99) AppendInt(out, p.Sats);
    out.push_back(',');
    AppendOptionalTrim(out, p.Temperature);
    AppendOptionalTrim(out, p.Pressure);
    AppendOptionalTrim(out, p.PressureAlt);
    if (o.CsvGeoid) AppendOptional(out, p.GeoidSep, f.sep);
    out.append("\r\n");
}

}  // namespace

int32_t WriteCsv(EngineContext& ctx, const std::string& folder, const std::string& inputName) {
    TConversionOptions& o = ctx.opt;
    const CsvFormats f{MakeFloatFmt(o.CsvLatLonDecimal, 4, 8), MakeFloatFmt(o.CsvAltDecimal, 1, 8),
                       MakeFloatFmt(o.CsvSpeedDecimal, 1, 8), MakeFloatFmt(o.Digit, 1, 4)};
    const bool csvInput = UpperCase(ExtractFileExt(inputName)) == ".CSV";
    const std::string header = CsvHeaderLine(o);
    TextSpool text(folder);
    bool refused = false;
    return WriteOutputBlocks(ctx, refused, [&](const TrackBlock& block, OutFile& out, int32_t& total) -> bool {
        text.Clear();
        text.Text() = header;
        OutputFilter filter(ctx, block);
        int32_t count = 0;
        double lastTime = 0;
        if (!ctx.points.Empty()) {
            PointStream::Cursor cur = ctx.points.Seek(block.First);
            for (int64_t i = block.First; i <= block.Last; ++i, ++cur) {
                const TLogData& p = *cur;
                if (filter.Accept(static_cast<int32_t>(i), p)) {
                    AppendRow(text.Text(), o, f, ++count, p);
                    text.Flow();
                    lastTime = p.Time;
                }
                if ((i + 1) % 1024 == 0 && (!o.OutLimit || InOutputWindow(block, p.Time))) ctx.PollAbort();
            }
        }

        const std::string name = BlockOutputFileName(ctx, folder, block, count, lastTime);
        if (csvInput) {
            // Every block would be refused alike: say it once for the file.
            ReportCantCreate(ctx, name + ".csv", "Extension name of input and output is CSV.");
            refused = true;
            return false;
        }
        const std::string fileName = ClaimOutputName(ctx, name, ".csv") + ".csv";
        if (!out.Create(ctx, fileName, "Writing CSV ...")) {
            return false;
        }
        text.WriteTo(out);
        out.Close();
        ReportMade(ctx, ExtractFileName(fileName), count, total);
        return true;
    });
}

}  // namespace ts
