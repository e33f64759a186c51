// Shared helpers of the reader tests: temporary logs, a context that keeps the point stream, and
// the peers' readings of the shared logs.
#pragma once

#include <bit>
#include <map>
#include <optional>
#include <regex>

#include "readers/csv_reader.h"
#include "readers/line_reader.h"
#include "readers/m241_reader.h"
#include "readers/nmea_reader.h"
#include "readers/rbt3000_reader.h"
#include "readers/tks_reader.h"
#include "readers/wintec_reader.h"
#include "test_temp.h"
#include "writer_test_util.h"

namespace ts::test {

// A sentence with its checksum: body is the text between "$" and "*".
inline std::string Nmea(const std::string& body) {
    unsigned x = 0;
    for (char c : body) x ^= static_cast<unsigned char>(c);
    char cs[8];
    std::snprintf(cs, sizeof cs, "*%02X", x);
    return "$" + body + cs;
}

// A log file in the process's scratch folder, removed with the object.
struct TempFile {
    explicit TempFile(const std::string& content, const std::string& ext = ".nmea") {
        static int n = 0;
        std::ofstream(path_ = ProcessTempDir() + "log" + std::to_string(++n) + ext, std::ios::binary) << content;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }
    std::string path_;
};

// A host whose calibration answer and abort behaviour tests can script.
class TestHost : public RecordingHost {
public:
    void ProcessMessages() override {
        ++pumps;
        if (abortAfterPumps > 0 && pumps >= abortAfterPumps) abortRequested = true;
    }
    void AskBarometerCalibration(const BarometerStart& s, BarometerReference& ref) override {
        ++calibrations;
        start = s;
        firstPressure = ref.pressure;
        if (answer) CalibrateBarometer(ref, answerAlt, answerTemp, false);
        else RecordingHost::AskBarometerCalibration(s, ref);
    }
    int pumps = 0;
    int abortAfterPumps = 0;
    int calibrations = 0;
    BarometerStart start;
    double firstPressure = 0;
    bool answer = false;
    std::string answerAlt = "0", answerTemp = "15";
};

struct FixedGeoid : GeoidQuery {
    double n = 0;
    explicit FixedGeoid(double v) : n(v) {}
    double GeoidHeight(double, double) override { return n; }
};

using ReaderFn = int32_t (*)(EngineContext&, const std::string&);

// Reads one log as its reader does in a conversion, keeping the points; no output type is ticked.
struct Reading {
    TestHost host;
    EngineContext ctx{host};
    int32_t result = 0;

    Reading() {
        ctx.opt.KMZout = false;
        DeriveOptions(ctx.opt);
        ctx.keepPoints = true;
    }
    // Reads a file as the given input kind (the NMEA reader) or with the given reader.
    int32_t Read(const std::string& path, int kind = ikNmea) {
        ctx.inputKind = kind;
        return Read(ReadNmeaFile, path);
    }
    int32_t Read(ReaderFn reader, const std::string& path) {
        DeriveOptions(ctx.opt);
        return result = reader(ctx, path);
    }
    int32_t ReadText(const std::string& text, int kind = ikNmea) {
        TempFile f(text);
        return Read(f.path(), kind);
    }
    int32_t ReadBytes(ReaderFn reader, const std::string& bytes, const std::string& ext) {
        TempFile f(bytes, ext);
        return Read(reader, f.path());
    }
    bool HasLine(const std::string& line) const { return testing::HasLine(host, line); }
    // Report lines that start with prefix.
    int Lines(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : host.lines) n += l.rfind(prefix, 0) == 0;
        return n;
    }
    const TLogData& P(int i) const { return ctx.points.At(i); }
    void UseGeoid(GeoidQuery* g) { ctx.geoid = g, ctx.geoidCorrection = true; }
};

// A point's time, position, height, km/h, HDOP x 10, satellites, fix quality and flags, to compare
// in one assertion.
inline std::string Describe(const TLogData& p) {
    char b[256];
    std::snprintf(b, sizeof b, "%s %.7f %.7f %.2f %.3f %d %d %d %d",
                  FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", p.Time).c_str(), p.Lat, p.Lon, p.Alt, p.Speed * 1.852,
                  p.Hdop10, p.Sats, p.FixQuality, p.Flags);
    return b;
}

// (First, Last) of each block, to compare with one assertion.
using Spans = std::vector<std::pair<int32_t, int32_t>>;
inline Spans BlockSpans(const EngineContext& ctx) {
    Spans r;
    for (int32_t i = 0; i < ctx.blocks.Count(); ++i) r.emplace_back(ctx.blocks[i].First, ctx.blocks[i].Last);
    return r;
}

// Blocks number 1.., cover the stream in order, and carry their points' times.
inline void ExpectBlocksCoverStream(const EngineContext& ctx) {
    int32_t next = 0;
    for (int32_t i = 0; i < ctx.blocks.Count(); ++i) {
        const TrackBlock& b = ctx.blocks[i];
        ASSERT_EQ(b.Number, i + 1);
        ASSERT_EQ(b.First, next);
        ASSERT_GE(b.Last, b.First);
        ASSERT_LT(b.Last, ctx.points.Count());
        EXPECT_EQ(b.StartTime, ctx.points.At(b.First).Time);
        EXPECT_EQ(b.EndTime, ctx.points.At(b.Last).Time);
        next = b.Last + 1;
    }
    ASSERT_EQ(next, ctx.points.Count());
}

// The points (trkpt or wpt) of a peer's GPX reading: position, and the text of each named child element.
struct PeerPoint {
    double lat = 0, lon = 0;
    std::map<std::string, std::string> tag;
    double Num(const std::string& name) const { return std::stod(tag.at(name)); }
};
inline std::vector<PeerPoint> PeerTrack(const std::string& gpxPath, const std::string& elem = "trkpt") {
    const std::string gpx = testing::ReadFile(gpxPath);
    std::vector<PeerPoint> r;
    const std::regex child(R"re(<(\w+)>([^<]*)</\1>)re");
    for (size_t at = gpx.find("<" + elem + " "); at != std::string::npos; at = gpx.find("<" + elem + " ", at + 1)) {
        const std::string pt = gpx.substr(at, gpx.find("</" + elem + ">", at) - at);
        PeerPoint p;
        std::sscanf(pt.c_str() + elem.size() + 2, "lat=\"%lf\" lon=\"%lf\"", &p.lat, &p.lon);
        for (std::sregex_iterator m(pt.begin(), pt.end(), child), end; m != end; ++m) p.tag.emplace((*m)[1], (*m)[2]);
        r.push_back(p);
    }
    return r;
}

// The reading holds the peer's n points in one block: positions within tol, the same heights, and
// times that print as the peer's in UTC in the form timeForm.
inline void ExpectPeerTrack(const Reading& r, const std::vector<PeerPoint>& peer, size_t n, double tol,
                            const char* timeForm) {
    ASSERT_EQ(peer.size(), n);
    ASSERT_EQ(size_t(r.ctx.points.Count()), n);
    ASSERT_EQ(r.ctx.blocks.Count(), 1);
    ExpectBlocksCoverStream(r.ctx);
    for (size_t i = 0; i < n; ++i) {
        const TLogData& p = r.P(int32_t(i));
        EXPECT_TRUE(std::fabs(p.Lat - peer[i].lat) <= tol && std::fabs(p.Lon - peer[i].lon) <= tol) << i;
        EXPECT_NEAR(p.Alt, peer[i].Num("ele"), 1e-9) << i;
        EXPECT_EQ(FormatDateTime(timeForm, p.Time, '-'), peer[i].tag.at("time")) << i;
    }
}

// Damages a log at random: flipped, zeroed or 0xFF bytes, cuts, repeated pieces, long runs of one
// character, inserted lines from extras, and a truncated end. At most maxEdits edits.
inline void Damage(std::string& s, std::mt19937& rng, const std::vector<std::string>& extras, int maxEdits,
                   size_t from = 0) {
    auto pick = [&](size_t n) { return n == 0 ? size_t(0) : std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    const int edits = 1 + static_cast<int>(pick(size_t(maxEdits)));
    for (int k = 0; k < edits && s.size() > from; ++k) {
        const size_t at = from + pick(s.size() - from), rest = s.size() - at;
        switch (pick(8)) {
        case 0: s[at] = static_cast<char>(pick(256)); break;
        case 1: s[at] = '\0'; break;
        case 2: s.erase(at, pick(80)); break;
        case 3: s.insert(at, s.substr(at, std::min<size_t>(pick(80), rest))); break;
        case 4: s.insert(at, std::string(pick(3000), "9,.*$:\n\xFF"[pick(8)])); break;
        case 5: s.replace(at, std::min<size_t>(4, rest), "\xFF\xFF\xFF\x7F"); break;
        case 6:
            if (!extras.empty()) s.insert(at, extras[pick(extras.size())]);
            break;
        default: s.resize(at); break;
        }
    }
}

// A CSV log's header of date, time and position columns, and one of its rows.
inline const std::string kCsvHead = "DATE,TIME,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT\r\n";
inline std::string CsvLine(const std::string& time, double lat = 48.1, const std::string& date = "2024/03/16",
                           double lon = 11.5) {
    char b[160];
    std::snprintf(b, sizeof b, "%s,%s,%.6f,N,%.6f,E,100\r\n", date.c_str(), time.c_str(), lat, lon);
    return b;
}

// The RBT-3000 text log's first line, and one record `sec` seconds after 2008-05-17 10:00:00.
// `more` goes after the usual fields (a repeated key overrides); without `direction` the record
// carries no time.
inline const std::string kRbtHead = "DataLogs: 12\r\n\r\n";
inline std::string RbtRec(int sec, double lat, const std::string& more = "", bool direction = true,
                          double lon = 139.5) {
    char b[512];
    std::snprintf(b, sizeof b,
                  "Record: 1\r\nEvent Type: Log\r\nYear: 2008\r\nMonth: 5\r\nDay: 17\r\nHour: %d\r\nMinute: %d\r\n"
                  "Second: %d\r\nLatitude: %.6f\r\nLongitude: %.6f\r\nAltitude: 12.5\r\nPDOP: 2.1\r\nHDOP: 1.25\r\n"
                  "Satellite No: 7\r\nSpeed(kms/hr): 36\r\n",
                  10 + sec / 3600, sec / 60 % 60, sec % 60, lat, lon);
    return b + more + (direction ? "Direction: 120\r\n" : "") + "\r\n";
}

// Binary loggers' records and headers, in their byte layouts.
inline void PutBytes(std::string& out, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

inline uint32_t Packed(int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>(s) | static_cast<uint32_t>(mi) << 6 | static_cast<uint32_t>(h) << 12 |
           static_cast<uint32_t>(d) << 17 | static_cast<uint32_t>(mo) << 22 | static_cast<uint32_t>(y - 2000) << 26;
}
// 2024-05-01 10:00:00 plus sec seconds (within the hour).
inline uint32_t PackedAt(int sec) { return Packed(2024, 5, 1, 10, sec / 60, sec % 60); }

// An M-241 record: 20 bytes when kmh is given, else 16. The check byte makes the XOR of the record
// 0 unless `damage` flips it.
inline std::string M241Rec(uint32_t t, float lat, float lon, float alt, std::optional<float> kmh = std::nullopt,
                           bool damage = false) {
    std::string s;
    PutBytes(s, t, 4);
    PutBytes(s, std::bit_cast<uint32_t>(lat), 4);
    PutBytes(s, std::bit_cast<uint32_t>(lon), 4);
    PutBytes(s, std::bit_cast<uint32_t>(alt) >> 8, 3);  // lowest byte dropped
    if (kmh) PutBytes(s, std::bit_cast<uint32_t>(*kmh), 4);
    char x = 0;
    for (char c : s) x ^= c;
    s.push_back(static_cast<char>(damage ? x ^ 0x5A : x));
    return s;
}

// A ".tks" record: latitude and longitude in 1e-7 degrees, altitude in decimetres.
inline std::string TksRec(uint32_t packed, int32_t lat7, int32_t lon7, int32_t altDm) {
    std::string r;
    PutBytes(r, packed, 4);
    PutBytes(r, static_cast<uint32_t>(lat7), 4);
    PutBytes(r, static_cast<uint32_t>(lon7), 4);
    PutBytes(r, static_cast<uint32_t>(altDm), 4);
    return r;
}
// A ".tk1"/".tk2"/".tk3"/".TES" record; altitude in metres.
inline std::string WintecRec(uint16_t flags, uint32_t packed, int32_t lat7, int32_t lon7, int16_t alt) {
    std::string r;
    PutBytes(r, flags, 2);
    PutBytes(r, packed, 4);
    PutBytes(r, static_cast<uint32_t>(lat7), 4);
    PutBytes(r, static_cast<uint32_t>(lon7), 4);
    PutBytes(r, static_cast<uint16_t>(alt), 2);
    return r;
}
// A 1024-byte header: signature, device name field and point count at the given offsets.
inline std::string WintecHeader(const std::string& sig, size_t nameAt, const std::string& name, size_t countAt,
                                uint32_t count) {
    std::string h(1024, '\0');
    h.replace(0, sig.size(), sig);
    h.replace(nameAt, name.size(), name);
    std::string c;
    PutBytes(c, count, 4);
    h.replace(countAt, 4, c);
    return h;
}
inline std::string Tk1Header(uint32_t count, const std::string& name = "WBT201") {
    return WintecHeader("WINTECLOGFORMAT", 40, name, 32, count);
}
inline std::string Tk2Header(uint32_t count, const std::string& name = "WBT201") {
    return WintecHeader("WINTECLOGTK2", 30, name, 460, count);
}
inline std::string Tk3Header(uint32_t count, const std::string& name = "WSG1000") {
    return WintecHeader("WINTECLOGTK3", 30, name, 493, count);
}

}  // namespace ts::test
