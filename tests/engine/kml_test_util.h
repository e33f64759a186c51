// Shared pieces of the output tests: a scratch folder, tracks built in code, and the outside
// judges of our files (xmllint with the KML 2.1 schema, ogrinfo, GeodSolve).
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "context.h"
#include "date_time.h"

namespace ts::testing {

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
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

// Empty string when the file validates against the KML 2.1 schema, else xmllint's complaint.
inline std::string KmlSchemaErrors(const std::filesystem::path& file) {
    const std::string schema = std::string(TS_SHARED_DIR) + "/schemas/kml21.xsd";
    std::string out;
    const int rc = RunCommand("xmllint --noout --schema " + Quote(schema) + " " + Quote(file.string()), &out);
    return rc == 0 ? std::string() : out.empty() ? "xmllint failed" : out;
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
    std::vector<std::string> Files() const {
        std::vector<std::string> r;
        for (const auto& e : std::filesystem::directory_iterator(path)) r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }
};

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

}  // namespace ts::testing
