// The outside judges of the NMEA, GPX and CSV writers' files: xmllint with the GPX 1.1 schema,
// gpsbabel reading our files back, and Python checking sentences and CSV rows on its own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kml_test_util.h"

namespace ts::testing {

// Empty string when the file validates against the GPX 1.1 schema, else xmllint's complaint.
inline std::string GpxSchemaErrors(const std::filesystem::path& file) {
    const std::string schema = std::string(TS_SHARED_DIR) + "/schemas/gpx11.xsd";
    std::string out;
    const int rc = RunCommand("xmllint --noout --schema " + Quote(schema) + " " + Quote(file.string()), &out);
    return rc == 0 ? std::string() : out.empty() ? "xmllint failed" : out;
}

struct LatLon {
    double lat, lon;
};

// The positions of gpsbabel's reading of a file (input format fmt), of the elements named tag
// ("trkpt" or "wpt") in its GPX output. complaint receives anything gpsbabel said besides.
inline std::vector<LatLon> BabelRead(const std::string& fmt, const std::filesystem::path& file, const std::string& tag,
                                     std::string* complaint = nullptr) {
    std::string out;
    std::vector<LatLon> r;
    if (RunCommand("gpsbabel -i " + fmt + " -f " + Quote(file.string()) + " -o gpx -F -", &out) != 0) {
        if (complaint) *complaint = out;
        return r;
    }
    const std::string start = "<" + tag + " lat=\"";
    for (size_t p = out.find(start); p != std::string::npos; p = out.find(start, p + 1)) {
        LatLon ll{};
        if (std::sscanf(out.c_str() + p + start.size(), "%lf\" lon=\"%lf\"", &ll.lat, &ll.lon) == 2) r.push_back(ll);
    }
    if (complaint) *complaint = out.substr(0, out.find("<?xml"));
    return r;
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

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> r;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos) e = text.size();
        std::string line = text.substr(p, e - p);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        r.push_back(line);
        p = e + 1;
    }
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
