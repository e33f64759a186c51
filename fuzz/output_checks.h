// What every file the writers made must hold, whatever the log was: positions on the globe,
// finite numbers, valid sentences, and a KMZ that reads back as an archive holding its document.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "archive/dir_manager.h"
#include "fuzz_util.h"
#include "text/wide_files.h"
#include "text/wide_text.h"
#include "zip_extract.h"

namespace fuzz {

// The whole of s as a number (C locale), or false.
inline bool Number(const std::string& s, double& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}
// A field that reads as NaN or infinity, as a number or as text printed from one.
inline bool NotFinite(const std::string& s) {
    double v;
    if (Number(s, v)) return !std::isfinite(v);
    const std::string l = Lower(s);
    return l.find("nan") != std::string::npos || l.find("inf") != std::string::npos;
}
inline void CheckLatLon(double lat, double lon, const std::string& where) {
    Check(std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90 && std::fabs(lon) <= 180,
          "position off the globe in " + where + ": " + std::to_string(lat) + "," + std::to_string(lon));
}
inline void CheckFinite(const std::string& field, const std::string& where) {
    Check(!NotFinite(field), "not a finite number in " + where + ": " + field);
}

// No number printed from NaN or an infinity anywhere in an XML text: "nan" or "inf" standing as a
// value of its own (after a blank, ">", ":", "=", "," or "(", before a blank, "<", "," or ")").
inline void CheckNoNonFiniteText(const std::string& text, const std::string& where) {
    const auto sep = [](char c, const char* set) { return std::strchr(set, c) != nullptr; };
    for (size_t i = 0; i + 3 <= text.size(); ++i) {
        const std::string w = Lower(text.substr(i, 3));
        if (w != "nan" && w != "inf") continue;
        size_t b = i;
        if (b > 0 && (text[b - 1] == '-' || text[b - 1] == '+')) --b;
        const bool before = b == 0 || sep(text[b - 1], " \t\r\n>:=,(");
        size_t e = i + 3;
        if (w == "inf" && Lower(text.substr(e, 5)) == "inity") e += 5;
        const bool after = e == text.size() || sep(text[e], " \t\r\n<,)");
        Check(!(before && after), "non-finite number in " + where + ": " + text.substr(b > 20 ? b - 20 : 0, 50));
    }
}

// Texts between <tag> and </tag>.
inline std::vector<std::string> Elements(const std::string& text, const std::string& tag) {
    std::vector<std::string> r;
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    for (size_t p = text.find(open); p != std::string::npos; p = text.find(open, p + 1)) {
        const size_t b = p + open.size(), e = text.find(close, b);
        Check(e != std::string::npos, "<" + tag + "> not closed");
        r.push_back(text.substr(b, e - b));
    }
    return r;
}
inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> r(1);
    for (char c : s) {
        if (c == sep) r.emplace_back();
        else r.back() += c;
    }
    return r;
}

inline void CheckKml(const std::string& text, const std::string& name) {
    Check(text.find("</kml>") != std::string::npos, "KML not ended: " + name);
    CheckNoNonFiniteText(text, name);
    for (const std::string& coords : Elements(text, "coordinates")) {
        std::string tuple;
        for (size_t i = 0; i <= coords.size(); ++i) {
            const char c = i < coords.size() ? coords[i] : ' ';
            if (!std::isspace(static_cast<unsigned char>(c))) {
                tuple += c;
                continue;
            }
            if (tuple.empty()) continue;
            const std::vector<std::string> f = Split(tuple, ',');
            double lon = 0, lat = 0;
            Check(f.size() >= 2 && Number(f[0], lon) && Number(f[1], lat), "bad coordinates in " + name + ": " + tuple);
            CheckLatLon(lat, lon, name);
            for (const std::string& x : f) CheckFinite(x, name);
            tuple.clear();
        }
    }
    for (const char* tag : {"longitude", "latitude", "altitude", "range", "tilt", "heading"})
        for (const std::string& v : Elements(text, tag)) CheckFinite(v, name + " <" + tag + ">");
    for (const std::string& v : Elements(text, "latitude")) {
        double lat;
        Check(Number(v, lat) && std::fabs(lat) <= 90, "view latitude off the globe in " + name + ": " + v);
    }
}

// The value of attr="..." at or after p.
inline bool Attribute(const std::string& text, size_t p, const std::string& attr, std::string& v) {
    const size_t end = text.find('>', p);
    const size_t a = text.find(" " + attr + "=\"", p);
    if (a == std::string::npos || a > end) return false;
    const size_t b = a + attr.size() + 3;
    v = text.substr(b, text.find('"', b) - b);
    return true;
}

inline void CheckGpx(const std::string& text, const std::string& name) {
    Check(text.find("</gpx>") != std::string::npos, "GPX not ended: " + name);
    CheckNoNonFiniteText(text, name);
    for (const char* tag : {"<trkpt ", "<wpt "})
        for (size_t p = text.find(tag); p != std::string::npos; p = text.find(tag, p + 1)) {
            std::string a, o;
            double lat = 0, lon = 0;
            Check(Attribute(text, p, "lat", a) && Attribute(text, p, "lon", o) && Number(a, lat) && Number(o, lon),
                  "bad point in " + name + " at " + std::to_string(p));
            CheckLatLon(lat, lon, name);
        }
    for (const char* tag : {"ele", "speed", "course", "hdop", "sat", "geoidheight"})
        for (const std::string& v : Elements(text, tag)) CheckFinite(v, name + " <" + tag + ">");
}

// "ddmm.mmmm" with hemisphere: degrees within limit, minutes below 60.
inline void CheckNmeaAngle(const std::string& v, const std::string& hemi, double limit, const std::string& line) {
    if (v.empty()) return;
    double x;
    Check(Number(v, x) && std::isfinite(x) && x >= 0, "bad angle in NMEA: " + line);
    const double deg = std::floor(x / 100), min = x - deg * 100;
    Check(min < 60 && deg + min / 60 <= limit, "angle off the globe in NMEA: " + line);
    Check(hemi.size() == 1 && std::string(limit == 90 ? "NS" : "EW").find(hemi) != std::string::npos,
          "bad hemisphere in NMEA: " + line);
}

inline void CheckNmea(const std::string& text, const std::string& name) {
    size_t p = 0;
    while (p < text.size()) {
        const size_t e = text.find("\r\n", p);
        Check(e != std::string::npos, "NMEA line without CR LF in " + name);
        const std::string line = text.substr(p, e - p);
        p = e + 2;
        Check(line.size() >= 4 && line[0] == '$' && line[line.size() - 3] == '*', "bad sentence: " + line);
        unsigned x = 0;
        for (size_t i = 1; i + 3 < line.size(); ++i) x ^= static_cast<unsigned char>(line[i]);
        char cs[3];
        std::snprintf(cs, sizeof cs, "%02X", x);
        Check(line.compare(line.size() - 2, 2, cs) == 0, "bad checksum: " + line);
        const std::vector<std::string> f = Split(line.substr(1, line.size() - 4), ',');
        if (f[0] == "GPGGA" && f.size() >= 10) {
            CheckNmeaAngle(f[2], f[3], 90, line);
            CheckNmeaAngle(f[4], f[5], 180, line);
            for (size_t i : {6, 7, 8, 9}) CheckFinite(f[i], line);
        } else if (f[0] == "GPRMC" && f.size() >= 9) {
            CheckNmeaAngle(f[3], f[4], 90, line);
            CheckNmeaAngle(f[5], f[6], 180, line);
            CheckFinite(f[7], line);
            CheckFinite(f[8], line);
        } else if (f[0] == "GPWPL" && f.size() >= 5) {
            CheckNmeaAngle(f[1], f[2], 90, line);
            CheckNmeaAngle(f[3], f[4], 180, line);
        }
    }
}

inline void CheckCsv(const std::string& text, const std::string& name) {
    std::vector<std::string> lines = Split(text, '\n');
    Check(!lines.empty(), "empty CSV " + name);
    const std::vector<std::string> header = Split(lines[0].substr(0, lines[0].find('\r')), ',');
    int lat = -1, lon = -1;
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i] == "LATITUDE") lat = int(i);
        if (header[i] == "LONGITUDE") lon = int(i);
    }
    Check(lat >= 0 && lon >= 0, "CSV header without position: " + lines[0]);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string l = lines[i];
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (l.empty()) continue;
        const std::vector<std::string> f = Split(l, ',');
        Check(f.size() > size_t(std::max(lat, lon)), "short CSV row in " + name + ": " + l);
        double a = 0, o = 0;
        Check(Number(f[size_t(lat)], a) && Number(f[size_t(lon)], o), "bad CSV position in " + name + ": " + l);
        CheckLatLon(a, o, name);
        for (size_t k = 0; k < f.size() && k < header.size(); ++k)
            if (header[k] != "TIME" && header[k] != "DATE" && header[k] != "RCR" && header[k] != "VALID")
                CheckFinite(f[k], name + " " + header[k]);
    }
}

// The KMZ opens with the project's own reader, holds "<stem>.kml" first and otherwise only the
// pictures it may carry, each once, and every entry reads back whole with its CRC; the documents
// inside pass the KML checks.
inline void CheckKmz(const std::filesystem::path& file, const std::set<std::string>& pictures) {
    const std::string name = file.filename().string();
    const std::string bytes = ReadBytes(file);
    zip::TZipArchiver a;
    a.FileName = zip::UTF8DecodeWide(file.string());
    try {
        a.OpenArchive(zip::fmOpenRead);
    } catch (const std::exception& e) {
        Fail("KMZ does not open: " + name + ": " + e.what());
    }
    zip::TZipDirManager& dm = *a.DirManager();
    Check(dm.Items.GetCount() >= 1, "KMZ without entries: " + name);
    const std::string doc = file.stem().string() + ".kml";
    Check(zip::UTF8EncodeWide(dm.Items.GetItem(0).Name) == doc,
          "KMZ's first entry is " + zip::UTF8EncodeWide(dm.Items.GetItem(0).Name) + ", not " + doc);
    std::set<std::string> seen;
    for (int i = 0; i < dm.Items.GetCount(); ++i) {
        const zip::TDirItem& it = dm.Items.GetItem(i);
        const std::string entry = zip::UTF8EncodeWide(it.Name);
        if (std::getenv("FUZZ_VERBOSE")) std::fprintf(stderr, "    entry %s\n", entry.c_str());
        Check(seen.insert(entry).second, "KMZ holds " + entry + " twice: " + name);
        Check(i == 0 || pictures.count(entry), "KMZ holds a file it should not: " + name + ": " + entry);
        const Extracted x = ExtractItem(bytes, it, "", size_t(1) << 30);
        Check(x.read && x.crcOk, "KMZ entry does not read back: " + name + ": " + entry);
        if (entry.size() > 4 && entry.compare(entry.size() - 4, 4, ".kml") == 0) CheckKml(x.data, name + ":" + entry);
    }
}

// Checks every file in dir but skip by its extension; pictures are the bare names a KMZ may carry.
inline void CheckOutputs(const std::filesystem::path& dir, const std::string& skip,
                         const std::set<std::string>& pictures = {}) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n == skip || e.is_directory()) continue;
        if (std::getenv("FUZZ_VERBOSE")) std::fprintf(stderr, "  made %s\n", n.c_str());
        const std::string ext = Lower(e.path().extension().string());
        if (ext == ".kmz") CheckKmz(e.path(), pictures);
        else if (ext == ".kml") CheckKml(ReadBytes(e.path()), n);
        else if (ext == ".gpx") CheckGpx(ReadBytes(e.path()), n);
        else if (ext == ".nmea") CheckNmea(ReadBytes(e.path()), n);
        else if (ext == ".csv") CheckCsv(ReadBytes(e.path()), n);
        else Fail("unexpected file left behind: " + n);
    }
}

}  // namespace fuzz
