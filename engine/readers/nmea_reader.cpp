#include "readers/nmea_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "archive/parallel_deflate.h"
#include "core/barometer.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_stage.h"
#include "readers/nmea_sentence.h"

namespace ts {

namespace {

// printf("%W.Df") without the locale.
std::string FormatFixed(int width, int decimals, double v) {
    char buf[400];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s = ec == std::errc() ? std::string(buf, end) : std::string();
    if (s.size() < static_cast<size_t>(width)) s.insert(0, width - s.size(), ' ');
    return s;
}

std::string FormatShortest(double v) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

const char* ModeText(const NmeaEpoch& e) {
    if (e.RmcOnly) return "RMC_Only";
    if (e.GgaOnly) return "GGA_Only";
    return e.GgaFirst ? "GGA First" : "RMC First";
}

void DecideMode(NmeaEpoch& e) {
    e.RmcOnly = e.GgaOnly = false;
    if (2LL * e.GgaCount < e.RmcCount) {
        e.RmcOnly = true;
        e.GgaFirst = true;
    } else if (2LL * e.RmcCount < e.GgaCount) {
        e.GgaOnly = true;
        e.GgaFirst = false;
    } else {
        e.GgaFirst = e.GgaRmcPairs > e.RmcGgaPairs;
    }
    e.pairByTime = e.GgaRmcPairs > 0 || e.RmcGgaPairs > 0;
}

// Counts sentences to decide the mode. False when the user aborted.
bool CheckPass(EngineContext& ctx, NmeaEpoch& e, LineReader& file) {
    Host& host = ctx.host;
    e.readPass = false;
    e.GgaCount = e.RmcCount = e.GgaRmcPairs = e.RmcGgaPairs = 0;
    e.ggaLat.clear();
    e.ggaLon.clear();
    e.rmcLat.clear();
    e.rmcLon.clear();
    e.DateText = e.FirstDateText = NmeaDate();
    e.firstDateMidnights = 0;
    StartNmeaPass(e);
    e.GgaFirst = true;
    e.GgaOnly = e.RmcOnly = false;
    e.measure = {};
    uint32_t lines = 0;
    std::string_view line;
    const NmeaLineRules rules = NmeaRulesOf(ctx, false);
    while (std::abs(static_cast<int64_t>(e.GgaRmcPairs) - e.RmcGgaPairs) < 100 && file.ReadLine(line)) {
        DescribeNmeaLine(rules, e.scratch, line, e.facts);
        JudgeNmeaLine(e, e.facts);
        const int32_t r = ApplyNmeaLine(ctx, e, e.facts, 0);
        if (r == 2 && e.FirstDateText.state == NmeaDate::None) {
            e.FirstDateText = e.DateText;
            e.firstDateMidnights = e.midnights;
        }
        if (++lines % 512 == 0) host.ProcessMessages();
        if (host.AbortRequested()) return false;
    }
    return true;
}

// Finds the first epoch with a pressure altitude and lets the host calibrate the reference there.
void BarometerStartPoint(EngineContext& ctx, NmeaEpoch& e, LineReader& file, const std::string& name) {
    try {
        if (!file.Rewind()) return;
        e.EndOfLog = false;
        e.measure = {};
        StartNmeaPass(e);
        e.pressureAlt = kNaN;
        NmeaFix fix;
        for (;;) {
            ReadNmeaEpoch(ctx, e, file, fix);
            if (e.EndOfLog) return;  // none: no calibration, the standard reference stays
            if (!std::isnan(e.pressureAlt)) break;
        }
        const std::string& deg = ctx.opt.DegChar;
        BarometerStart s;
        s.fileName = name;
        s.loggerText = e.LoggerText;
        s.lonText = FormatLatLonDms(3, "EW", fix.lon, deg);
        s.latText = FormatLatLonDms(3, "NS", fix.lat, deg);
        s.altText = FormatFixed(3, 1, e.pressureAlt) + " m";
        s.altEditText = FormatFixed(3, 1, e.pressureAlt);
        if (ctx.opt.BarometerOffset != 0)
            s.offsetText = "Barometer offset: " + FormatShortest(ctx.opt.BarometerOffset) + " hPa";
        e.baro.pressure = e.pressure;
        ctx.host.AskBarometerCalibration(s, e.baro);
    } catch (const std::exception&) {
        e.baro = BarometerReference();
    }
}

// Room for the points of the whole file, judged from the share of it the check pass read. Only
// what is filled takes memory, while growing the store by copying would hold it twice.
size_t ExpectedPoints(const NmeaEpoch& e, uint64_t checked, uint64_t fileSize) {
    const uint64_t epochs = static_cast<uint64_t>(std::max<int32_t>({e.GgaCount, e.RmcCount, 0}));
    if (epochs == 0 || checked == 0 || fileSize == 0) return 0;
    // No sentence with a position is shorter than this.
    const uint64_t most = fileSize / 24;
    const double guess = static_cast<double>(fileSize) / static_cast<double>(checked) * static_cast<double>(epochs);
    return static_cast<size_t>(std::min<double>(guess * 1.125 + 64, static_cast<double>(most)));
}

// Worker threads for the read pass of a file of this size; 0 keeps it on the calling thread.
unsigned ReadWorkers(uint64_t fileSize) {
    const NmeaThreading& t = NmeaReadThreading();
    if (fileSize < t.minFileBytes) return 0;
    if (t.workers > 0) return t.workers;
    const unsigned cpus = static_cast<unsigned>(zip::AvailableProcessors());
    return cpus > 1 ? std::min(cpus - 1, 8u) : 0;
}

struct ReadPassState {
    int32_t n = 0;  // points stored
    int32_t k = 0;  // points stored in the current block
    double diffSum = 0;
    int32_t diffCount = 0;
};

void StoreEpoch(EngineContext& ctx, NmeaEpoch& e, const NmeaFix& fix, ReadPassState& st) {
    if (std::isnan(fix.lat) || std::isnan(fix.lon)) return;
    RunState& r = ctx.run;
    ++st.n;
    double speed = fix.speed;
    double alt = fix.alt;
    if (st.k > 0) {
        // The step's length only serves a speed the log does not give; the writers measure the
        // track themselves.
        if (e.GgaOnly || std::isnan(speed)) {
            StepFromPrevious(ctx, fix.lat, fix.lon);
            speed = SpeedFromStep(ctx);
        } else if (r.PrevTime > r.NewTime) {
            CheckTimeGoesBack(ctx, r.PrevTime, r.NewTime);
        }
    } else {
        r.FirstTime = r.NewTime;
        if (e.GgaOnly) speed = kNaN;
        ctx.blocks.Open(st.n - 1, r.NewTime);
    }

    uint8_t flags = 0;
    if (ctx.inputKind == ikTripMate || ctx.inputKind == ikBarometer) {
        if (e.InterestTag) flags |= InterestPoint;
        e.InterestTag = false;
    } else if (std::fabs(e.WplLat - fix.lat) + std::fabs(e.WplLon - fix.lon) < 1e-8) {
        if (e.InterestTag) flags |= InterestPoint;
        if (e.VoiceTag) flags |= VoicePoint;
        e.WplLat = e.WplLon = 0;
        e.InterestTag = e.VoiceTag = false;
    }

    double geoidSep = e.OwnGeoidSep;
    if (ctx.geoidCorrection) {
        const double N = PointGeoid(ctx, fix.lat, fix.lon);
        if (!std::isnan(N)) {
            geoidSep = N;
            if (std::isnan(e.OwnGeoidSep)) {
                alt -= N;
            } else {
                // The log's altitude is above its own geoid: back to the ellipsoid, then to ours.
                alt += e.OwnGeoidSep - N;
                st.diffSum += e.OwnGeoidSep - N;
                ++st.diffCount;
            }
        }
    }

    TLogData& p = r.CurrentPoint;
    p.Time = r.NewTime;
    p.Lat = fix.lat;
    p.Lon = fix.lon;
    p.Alt = alt;
    p.Speed = speed;
    p.Hdop10 = Hdop10FromHdop(e.hdop);
    p.Sats = SatsFromCount(e.sats);
    p.GeoidSep = ToSingle(geoidSep);
    p.Pressure = ToSingle(e.pressure);
    p.Temperature = ToSingle(e.temperature);
    p.PressureAlt = ToSingle(e.pressureAlt);
    p.Flags = flags;
    p.FixQuality = e.quality;
    p.VoiceName.clear();
    ++st.k;
    ctx.points.Append(p);
    KeepAsPrevious(r, p);
    if (st.k % 512 == 0) ctx.PollAbort();
}

}  // namespace

int32_t ReadNmeaFile(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    NmeaEpoch e;
    host.ProcessMessages();
    const std::string name = ExtractFileName(fileName);

    LineReader file;
    if (!file.Open(fileName)) return ReportCantOpen(ctx, name);
    if (ctx.geoidCorrection) ctx.Report("  Geoid model: " + ctx.opt.GeoidCaption);

    ResetNmeaEpoch(ctx, e);
    host.SetStatus(0, " " + name + "  Checking NMEA file ...");
    host.ProcessMessages();
    if (!CheckPass(ctx, e, file)) return -1;
    if (file.Failed()) return ReportCantRead(ctx, name, file.FailReason());
    const size_t expected = ExpectedPoints(e, file.Consumed(), file.FileSize());
    if (e.GgaCount <= 0 && e.RmcCount <= 0) {
        ctx.Report("  NMEA: no valid data.");
        host.SetStatus(1, " no valid data.");
        return 0;
    }
    DecideMode(e);
    ctx.Report(std::string("  NMEA: ") + ModeText(e));
    host.SetStatus(1, std::string(" ") + ModeText(e));
    host.ProcessMessages();

    e.readPass = true;
    if (e.PressureSeen) BarometerStartPoint(ctx, e, file, name);

    int32_t result = -1;
    try {
        host.SetStatus(0, " " + name + "  Reading NMEA file ...");
        ctx.blocks.Clear();
        ctx.points.Clear();
        try {
            ctx.points.Reserve(expected);
        } catch (const std::exception&) {
            // Too much to set aside at once: the store grows as the points come.
        }
        // A line held or an end met by an earlier pass must not leak into this one.
        if (!file.Rewind()) throw std::runtime_error("cannot rewind");
        std::unique_ptr<NmeaDescribedLines> feed;
        if (const unsigned workers = ReadWorkers(file.FileSize())) {
            try {
                feed = std::make_unique<NmeaDescribedLines>(NmeaRulesOf(ctx, true));
                if (!feed->Start(file, workers, NmeaReadThreading().chunkBytes)) feed.reset();
            } catch (const std::system_error&) {
                feed.reset();  // no threads to be had: the calling thread reads alone
            }
        }
        const auto readEpoch = [&](NmeaFix& f) {
            return feed ? ReadNmeaEpoch(ctx, e, *feed, f) : ReadNmeaEpoch(ctx, e, file, f);
        };
        e.EndOfLog = false;
        e.measure = {};
        // Fixes before the first RMC take the log's first date, later ones the last date read; a
        // fix without its own date a day more for each midnight passed since.
        StartNmeaPass(e);
        ctx.run.GeoidOutsideCount = 0;
        e.WplLat = e.WplLon = 0;
        e.InterestTag = e.VoiceTag = false;
        ReadPassState st;
        NmeaFix fix;
        readEpoch(fix);
        while (!e.EndOfLog) {
            st.k = 0;
            ResetNmeaEpoch(ctx, e);
            do {
                StoreEpoch(ctx, e, fix, st);
            } while (readEpoch(fix));
            if (st.k > 0) ctx.blocks.Close(st.n - 1, ctx.run.PrevTime);
        }

        if (feed ? feed->Failed() : file.Failed()) throw ReadError(feed ? feed->FailReason() : file.FailReason());
        feed.reset();

        ctx.Report("  NMEA:   " + std::to_string(st.n) + " records");
        if (st.diffCount > 0)
            ctx.Report("  Difference of geoid: " + FormatFixed(6, 4, st.diffSum / st.diffCount) + "m");
        ReportGeoidOutside(ctx);
        host.SetStatus(1, host.Status(1) + "  Read:" + std::to_string(st.n) + "rec.");
        // Sentences without a single positioned fix end as an error.
        if (st.n > 0) result = MakeOutputFiles(ctx, fileName);
    } catch (const ReadError& err) {
        result = ReportCantRead(ctx, name, err.what());
    } catch (const std::exception&) {
        result = -1;
    }
    if (!ctx.keepPoints) ctx.points = PointStream();
    return result;
}

NmeaThreading& NmeaReadThreading() {
    static NmeaThreading t;
    return t;
}

std::string FormatDms(int digits, double value, const std::string& degChar) {
    if (!std::isfinite(value)) return std::string();
    if (digits < 0) digits = 0;
    if (digits > 15) digits = 15;
    double v = std::fabs(value);
    // A nudge of a tenth of half the last shown unit of the second, against representation
    // errors that would show a value one unit low.
    static const double kNudge[] = {1.388888888888889e-05, 1.388888888888889e-06, 1.388888888888889e-07,
                                    1.388888888888889e-08, 1.388888888888889e-09, 1.3888888888888888e-10};
    if (digits <= 5) v += kNudge[digits];
    if (!(v < 1e9)) return std::string();
    const double d = std::trunc(v);
    std::string D = FormatFixed(3, 0, d);
    v = (v - d) * 60.0;
    const int m = std::min(59, static_cast<int>(std::trunc(v)));
    const char M[3] = {static_cast<char>('0' + m / 10), static_cast<char>('0' + m % 10), '\0'};
    v = (v - m) * 60.0;
    const std::string body = FormatFixed(0, digits, v);
    const size_t intLen = std::min(body.find('.'), body.size());
    std::string S;
    if (intLen < 2) {
        S.push_back('0');
        S += body;
    } else if (body.compare(0, 2, "60") == 0) {
        // Rounding may carry the seconds to 60; show the largest value below instead.
        S = digits == 0 ? std::string("59") : std::string("59.9999999").substr(0, digits + 3);
    } else {
        S = body;
    }
    return D + degChar + " " + M + "' " + S + "\"";
}

std::string FormatLatLonDms(int digits, std::string_view letters, double value, const std::string& degChar) {
    if (letters.size() < 2) return std::string();
    const char letter = value >= 0 ? letters[0] : letters[1];
    std::string s = FormatDms(digits, std::fabs(value), degChar);
    if (s.empty()) return s;
    return s + "  " + letter;
}

}  // namespace ts
