// Shared pieces of the output tests: a scratch folder, tracks built in code, and the outside
// judges of our files: xmllint with the KML 2.1 and GPX 1.1 schemas, gpsbabel reading our files
// back, and Python checking NMEA sentences and CSV rows on its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/context.h"
#include "core/date_time.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_stage.h"
#include "output/writers.h"
#include "readers/convert.h"

namespace ts::testing {

// A file that cannot be opened fails the test: a missing fixture must not pass as an empty one.
inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << p;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs a command; returns its exit status and fills out with stdout and stderr.
inline int RunCommand(const std::string& cmd, std::string* out = nullptr) {
    std::FILE* f = popen((cmd + " 2>&1").c_str(), "r");
    if (!f) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const int rc = pclose(f);
    if (out) *out = text;
    return rc;
}

inline std::string Quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) {
        if (c == '\'') r += "'\\''";
        else r += c;
    }
    return r + "'";
}

// Empty string when the file validates against the schema (kml21 or gpx11), else xmllint's complaint.
inline std::string SchemaErrors(const std::filesystem::path& file, const std::string& xsd) {
    const std::string schema = std::string(TS_SHARED_DIR) + "/schemas/" + xsd + ".xsd";
    std::string out;
    const int rc = RunCommand("xmllint --noout --schema " + Quote(schema) + " " + Quote(file.string()), &out);
    return rc == 0 ? std::string() : out.empty() ? "xmllint failed" : out;
}
inline std::string KmlSchemaErrors(const std::filesystem::path& file) { return SchemaErrors(file, "kml21"); }
inline std::string GpxSchemaErrors(const std::filesystem::path& file) { return SchemaErrors(file, "gpx11"); }

inline bool HasLine(const RecordingHost& host, const std::string& line) {
    return std::find(host.lines.begin(), host.lines.end(), line) != host.lines.end();
}

inline int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
    return n;
}

// A fresh folder under the system's temporary folder, removed with the object.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        char tmpl[] = "/tmp/ts_kml_XXXXXX";
        const char* d = mkdtemp(tmpl);
        path = d ? d : "/tmp";
    }
    ~ScratchDir() {
        if (std::getenv("TS_KEEP_SCRATCH")) return;  // to look at the files by hand
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string Folder() const { return path.string() + "/"; }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::vector<std::string> Files() const {
        std::vector<std::string> r;
        for (const auto& e : std::filesystem::directory_iterator(path)) r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }
};

// Options derived and the batch's names forgotten, as before each conversion.
inline EngineContext& Fresh(EngineContext& ctx) {
    DeriveOptions(ctx.opt);
    ctx.outputNames.clear();
    return ctx;
}

// A context with a recording host, and a scratch folder for the files written.
struct WriterTest : ::testing::Test {
    RecordingHost host;
    EngineContext ctx{host};
    ScratchDir dir;
};

// Writes the KML of ctx into dir, checks it against the schema and returns the newest file's text.
inline std::string WriteValidKml(EngineContext& ctx, const ScratchDir& dir) {
    EXPECT_GT(WriteKml(Fresh(ctx), dir.Folder(), false), 0);
    const std::string name = dir.Files().back();
    EXPECT_EQ(KmlSchemaErrors(dir.path / name), "") << ReadFile(dir.path / name);
    return ReadFile(dir.path / name);
}

// A host that asks to stop at its first chance, and a copy of a track under it.
struct AbortingHost : RecordingHost {
    void ProcessMessages() override { abortRequested = true; }
};
inline void CopyTrack(EngineContext& to, const EngineContext& from) {
    to.opt = from.opt, to.points = from.points, to.blocks = from.blocks;
}

inline TLogData Pt(double t, double lat, double lon, double alt = 100, double speedKn = 10) {
    TLogData p;
    p.Time = t;
    p.Lat = lat;
    p.Lon = lon;
    p.Alt = alt;
    p.Speed = speedKn;
    p.Hdop10 = 12;
    p.Sats = 7;
    p.FixQuality = 1;
    return p;
}

// Appends points as one new block (times taken from the points).
inline TrackBlock& AddBlock(EngineContext& ctx, const std::vector<TLogData>& pts) {
    const int32_t first = ctx.points.Count();
    for (const TLogData& p : pts) ctx.points.Append(p);
    TrackBlock& b = ctx.blocks.Open(first, pts.front().Time);
    b.Last = ctx.points.Count() - 1;
    b.EndTime = pts.back().Time;
    b.Output = true;
    b.RangeFirst = b.First;
    b.RangeLast = b.Last;
    b.RangeStart = b.StartTime;
    b.RangeEnd = b.EndTime;
    return b;
}

// A straight walk north-east, one point a second from t0.
inline std::vector<TLogData> Walk(double t0, int n, double lat0 = 35.0, double lon0 = 139.0, double step = 0.0001,
                                  double speedKn = 10) {
    std::vector<TLogData> v;
    for (int i = 0; i < n; ++i)
        v.push_back(Pt(t0 + i * kOneSecond, lat0 + i * step, lon0 + i * step, 100 + i, speedKn));
    return v;
}

inline double T(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
    return EncodeDate(y, m, d) + EncodeTime(h, n, s, ms);
}

struct LatLon {
    double lat, lon;
};

// The positions of the elements named tag ("trkpt" or "wpt") of a GPX text, in order.
inline std::vector<LatLon> GpxPositions(const std::string& gpx, const std::string& tag) {
    std::vector<LatLon> r;
    const std::string start = "<" + tag + " lat=\"";
    for (size_t p = gpx.find(start); p != std::string::npos; p = gpx.find(start, p + 1)) {
        LatLon ll{};
        if (std::sscanf(gpx.c_str() + p + start.size(), "%lf\" lon=\"%lf\"", &ll.lat, &ll.lon) == 2) r.push_back(ll);
    }
    return r;
}

// Positions read back agree with the reference ones within tolerance.
inline void ExpectSamePositions(const std::vector<LatLon>& back, const std::vector<LatLon>& ref, double tolerance,
                                const char* what = "") {
    ASSERT_EQ(back.size(), ref.size()) << what;
    for (size_t i = 0; i < ref.size(); ++i) {
        EXPECT_NEAR(back[i].lat, ref[i].lat, tolerance) << what << " " << i;
        EXPECT_NEAR(back[i].lon, ref[i].lon, tolerance) << what << " " << i;
    }
}
inline std::vector<LatLon> Positions(const std::vector<TLogData>& pts) {
    std::vector<LatLon> r;
    for (const TLogData& p : pts) r.push_back({p.Lat, p.Lon});
    return r;
}

// gpsbabel's reading of a file (input format fmt): the positions of tag in its GPX output.
// complaint receives anything gpsbabel said besides.
inline std::vector<LatLon> BabelRead(const std::string& fmt, const std::filesystem::path& file, const std::string& tag,
                                     std::string* complaint = nullptr) {
    std::string out;
    const bool ok = RunCommand("gpsbabel -i " + fmt + " -f " + Quote(file.string()) + " -o gpx -F -", &out) == 0;
    if (complaint) *complaint = ok ? out.substr(0, out.find("<?xml")) : out;
    return ok ? GpxPositions(out, tag) : std::vector<LatLon>{};
}

// Python checks every line of an NMEA file on its own: CR LF endings, "$", the checksum, and the
// field count of each sentence type (GGA 15, RMC 12, WPL 6). Prints "GGA n RMC n WPL n", or the
// first bad line and fails.
inline int CheckNmeaSentences(const std::filesystem::path& file, std::string* out) {
    static const char* const kScript = R"PY(
import sys
data = open(sys.argv[1], 'rb').read()
if data and not data.endswith(b'\r\n'):
    sys.exit('no CR LF at the end')
counts = {'GPGGA': 0, 'GPRMC': 0, 'GPWPL': 0}
fields = {'GPGGA': 15, 'GPRMC': 12, 'GPWPL': 6}
for line in data.split(b'\r\n')[:-1]:
    s = line.decode('ascii')
    if not s.startswith('$') or len(s) < 4 or s[-3] != '*':
        sys.exit('bad sentence: ' + s)
    body, cs = s[1:-3], s[-2:]
    x = 0
    for c in body.encode('ascii'):
        x ^= c
    if '%02X' % x != cs:
        sys.exit('bad checksum: ' + s)
    parts = body.split(',')
    if parts[0] not in fields or len(parts) != fields[parts[0]]:
        sys.exit('bad field count: ' + s)
    counts[parts[0]] += 1
print('GGA %d RMC %d WPL %d' % (counts['GPGGA'], counts['GPRMC'], counts['GPWPL']))
)PY";
    return RunCommand("python3 -c " + Quote(kScript) + " " + Quote(file.string()), out);
}

// Python's csv module reads the file: every row must have one field more than the header (the
// trailing comma) with that field empty. Prints the rows, fields joined by "|", one a line.
inline int ReadCsvWithPython(const std::filesystem::path& file, std::string* out) {
    static const char* const kScript = R"PY(
import csv, sys
with open(sys.argv[1], newline='', encoding='ascii') as f:
    rows = list(csv.reader(f))
header = rows[0]
for r in rows[1:]:
    if len(r) != len(header) + 1 or r[-1] != '':
        sys.exit('row of %d fields under a header of %d: %r' % (len(r), len(header), r))
for r in rows:
    print('|'.join(r))
)PY";
    return RunCommand("python3 -c " + Quote(kScript) + " " + Quote(file.string()), out);
}

// The lines of text, without their CR LF or LF.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> r;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        r.push_back(!l.empty() && l.back() == '\r' ? l.substr(0, l.size() - 1) : l);
    return r;
}

// Files of the scratch folder with the extension ext, sorted.
inline std::vector<std::string> FilesWithExt(const ScratchDir& dir, const std::string& ext) {
    std::vector<std::string> r;
    for (const std::string& f : dir.Files())
        if (f.size() > ext.size() && f.compare(f.size() - ext.size(), ext.size(), ext) == 0) r.push_back(f);
    return r;
}

}  // namespace ts::testing
