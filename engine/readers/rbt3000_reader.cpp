#include "readers/rbt3000_reader.h"

#include <cmath>
#include <stdexcept>
#include <string_view>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_stage.h"
#include "readers/line_reader.h"

namespace ts {

namespace {

// Lines searched for a "record:" or "datalogs:" line before a file is taken as no log of this kind.
// Once it is known as one, every record up to its end is read.
constexpr int kSearchLines = 30;

enum class RbtKey {
    Other,
    Year,
    Month,
    Day,
    Hour,
    Minute,
    Second,
    Latitude,
    Longitude,
    Altitude,
    Hdop,
    Satellites,
    Speed,
    Direction
};

RbtKey KeyOf(std::string_view key) {
    struct Entry {
        std::string_view text;
        RbtKey key;
    };
    // "event type" and "pdop" are known keys that nothing uses.
    static constexpr Entry kKeys[] = {{"year", RbtKey::Year},
                                      {"month", RbtKey::Month},
                                      {"day", RbtKey::Day},
                                      {"hour", RbtKey::Hour},
                                      {"minute", RbtKey::Minute},
                                      {"second", RbtKey::Second},
                                      {"latitude", RbtKey::Latitude},
                                      {"longitude", RbtKey::Longitude},
                                      {"altitude", RbtKey::Altitude},
                                      {"hdop", RbtKey::Hdop},
                                      {"satellite no", RbtKey::Satellites},
                                      {"speed(kms/hr)", RbtKey::Speed},
                                      {"direction", RbtKey::Direction}};
    for (const Entry& e : kKeys)
        if (e.text == key) return e.key;
    return RbtKey::Other;
}

std::string_view TrimView(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

bool Contains(std::string_view s, std::string_view what) { return s.find(what) != std::string_view::npos; }

// The log being read: the values of the last record read and where the file stands.
class Rbt3000Log {
public:
    Rbt3000Log(EngineContext& ctx, LineReader& file) : ctx_(ctx), file_(file) {}

    bool recognised = false;  // a "datalogs:" line was seen
    bool endOfFile = false;

    // Kept from record to record when a record lacks them.
    double lat = 0, lon = 0, alt = 0, kmh = 0;
    // Reset at every record.
    double hdop = 0;
    int32_t sats = 99;
    std::string year, month, day, hour, minute, second;

    // Back to the state of a file not yet read.
    void Restart() {
        endOfFile = false;
        lat = lon = alt = kmh = 0;
        // A record without a time must not take one from another file.
        ctx_.run.NewTime = 0;
    }

    // Reads the next accepted record. True when it continues the current block; false at the end
    // of the file (endOfFile is set), after a time gap or for a record without a time (these
    // start a new block). Throws ConvertError when the record's date does not convert.
    bool ReadRbt3000Record() {
        if (AtEnd()) return NoteEnd();
        year.clear();
        month.clear();
        day.clear();
        hour.clear();
        minute.clear();
        second.clear();
        bool writtenToEnd = false;
        for (;;) {
            std::string_view line;
            bool found = false;
            for (int i = 0; (recognised || i < kSearchLines) && !found && NextLine(line); ++i) {
                if (Contains(line, "datalogs:")) recognised = true;
                found = Contains(line, "record:");
            }
            if (!found || AtEnd()) return NoteEnd();

            hdop = 0;
            sats = 99;
            writtenToEnd = false;
            bool closed = false;  // something after the fields ended the record, not the file's end
            while (NextLine(line)) {
                // A record that follows without a blank line ends this one rather than merging into it.
                if (Contains(line, "record:")) {
                    file_.Hold();
                    closed = true;
                    break;
                }
                const size_t colon = line.find(':');
                if (colon == std::string_view::npos) {
                    // A blank line, or any line with more after it; a last line of text without
                    // a ":" is a field line cut short.
                    closed = TrimView(line).empty() || !AtEnd();
                    break;
                }
                const std::string_view value = TrimView(line.substr(colon + 1));
                switch (KeyOf(TrimView(line.substr(0, colon)))) {
                case RbtKey::Year: year.assign(value); break;
                case RbtKey::Month: month.assign(value); break;
                case RbtKey::Day: day.assign(value); break;
                case RbtKey::Hour: hour.assign(value); break;
                case RbtKey::Minute: minute.assign(value); break;
                case RbtKey::Second: second.assign(value); break;
                case RbtKey::Latitude: lat = StrToFloatSafe(value); break;
                case RbtKey::Longitude: lon = StrToFloatSafe(value); break;
                case RbtKey::Altitude: alt = StrToFloatSafe(value); break;
                case RbtKey::Hdop: hdop = StrToFloatSafe(value); break;
                case RbtKey::Satellites: sats = StrToIntSafe(value); break;
                case RbtKey::Speed: kmh = StrToFloatSafe(value); break;
                case RbtKey::Direction: writtenToEnd = true; break;
                case RbtKey::Other: break;
                }
            }
            // The logger writes "direction" last: a record that the file ends in before that line
            // was cut by a power loss, and its last value may be cut too. It gives no point.
            if (!writtenToEnd && !closed) return NoteEnd();
            if (PassesHdopSatMask(ctx_.opt, sats, hdop) && OnTheGlobe(lat, lon)) break;
            if (AtEnd()) return NoteEnd();
        }
        if (!writtenToEnd) return false;  // keeps the previous time and starts a block
        RunState& r = ctx_.run;
        r.NewTime = RbtFieldsToDateTime(year, month, day, hour, minute, second);
        // Whole seconds: the slack keeps a gap of exactly the split time in the block.
        return r.NewTime - r.PrevTime <= ctx_.opt.SplitTime / 1440.0 + kOneMs / 2;
    }

private:
    bool AtEnd() { return !file_.HasHeld() && file_.AtEnd(); }
    bool NoteEnd() {
        endOfFile = true;
        return false;
    }
    // The next line, lower-cased into our own buffer.
    bool NextLine(std::string_view& line) {
        std::string_view raw;
        if (!file_.ReadLine(raw)) return false;
        lower_.assign(raw);
        for (char& c : lower_)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        line = lower_;
        return true;
    }

    EngineContext& ctx_;
    LineReader& file_;
    std::string lower_;
};

struct StoreState {
    int32_t n = 0;  // points stored
    int32_t k = 0;  // points stored in the current block
};

void StoreRecord(EngineContext& ctx, const Rbt3000Log& log, StoreState& st) {
    RunState& r = ctx.run;
    ++st.n;
    if (st.k > 0) {
        StepFromPrevious(ctx, log.lat, log.lon);
    } else {
        r.FirstTime = r.NewTime;
        r.SegmentDistance = 0;
        ctx.blocks.Open(st.n - 1, r.NewTime);
    }

    TLogData& p = r.CurrentPoint;
    p.Flags = 0;
    p.FixQuality = 1;
    p.Time = r.NewTime;
    p.Lat = log.lat;
    p.Lon = log.lon;
    p.Alt = log.alt;
    p.GeoidSep = kNaNf;
    if (ctx.geoidCorrection) {
        const double N = PointGeoid(ctx, log.lat, log.lon);
        if (!std::isnan(N)) {
            p.Alt = log.alt - N;
            p.GeoidSep = ToSingle(N);
        }
    }
    p.Speed = log.kmh / kKnotKmh;
    p.Hdop10 = Hdop10FromHdop(log.hdop);
    p.Sats = SatsFromCount(log.sats);
    p.Pressure = p.Temperature = p.PressureAlt = kNaNf;
    p.VoiceName.clear();
    ctx.points.Append(p);
    ++st.k;
    r.PrevLat = log.lat;
    r.PrevLon = log.lon;
    r.PrevAlt = log.alt;
    r.PrevTime = r.NewTime;
    if (st.k % 512 == 0) ctx.PollAbort();
}

}  // namespace

double RbtFieldsToDateTime(const std::string& year, const std::string& month, const std::string& day,
                           const std::string& hour, const std::string& minute, const std::string& second) {
    // A date only: a blank or ":" in a part would let a time of day in.
    for (const std::string* part : {&year, &month, &day})
        if (part->find_first_of(" :") != std::string::npos) throw ConvertError("not a date");
    std::string text;
    text.reserve(month.size() + day.size() + year.size() + 2);
    text.append(month).append("/").append(day).append("/").append(year);
    const double date = StrToDateTime(text);
    const double t =
        date + ((std::trunc(StrToFloatSafe(second)) / 60 + StrToFloatSafe(minute)) / 60 + StrToFloatSafe(hour)) / 24;
    if (!std::isfinite(t)) throw ConvertError("not a date");
    return t;
}

int32_t ReadRbt3000File(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    host.ProcessMessages();
    const std::string name = ExtractFileName(fileName);

    LineReader file;
    Rbt3000Log log(ctx, file);
    bool readable = file.Open(fileName);
    if (readable) {
        try {
            log.Restart();
            log.ReadRbt3000Record();
        } catch (const std::exception&) {
            readable = false;
        }
    }
    if (!readable || file.Failed()) return ReportCantOpen(ctx, name);
    if (!log.recognised) {
        host.SetStatus(0, "  Not RBT-3000 Logfile : " + name);
        ctx.Report("  Not RBT-3000 Logfile : " + name);
        return rrNotThisFormat;
    }
    if (ctx.geoidCorrection) ctx.Report("  Geoid model: " + ctx.opt.GeoidCaption);
    host.SetStatus(0, " " + name + "  Reading RBT-3000 file ...");

    int32_t result = -1;
    try {
        ctx.points.Clear();
        ctx.blocks.Clear();
        if (!file.Rewind()) throw std::runtime_error("cannot rewind");
        log.Restart();
        ctx.run.GeoidOutsideCount = 0;
        StoreState st;
        log.ReadRbt3000Record();
        while (!log.endOfFile) {
            st.k = 0;
            ctx.run.TotalDistance = 0;
            do {
                StoreRecord(ctx, log, st);
            } while (log.ReadRbt3000Record());
            ctx.blocks.Close(st.n - 1, ctx.run.PrevTime);
        }
        if (file.Failed()) throw ReadError(file.FailReason());

        ctx.Report("  RBT-3000:   " + std::to_string(st.n) + " records");
        host.SetStatus(1, host.Status(1) + "  Read:" + std::to_string(st.n) + "rec.");
        ReportGeoidOutside(ctx);
        result = st.n > 0 ? MakeOutputFiles(ctx, fileName) : 0;
    } catch (const ReadError& err) {
        result = ReportCantRead(ctx, name, err.what());
    } catch (const std::exception&) {
        result = -1;
    }
    if (!ctx.keepPoints) ctx.points = PointStream();
    return result;
}

}  // namespace ts
