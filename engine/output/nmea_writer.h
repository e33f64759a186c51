// Pieces of the NMEA writer's sentences, open for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/options.h"
#include "output/text_out.h"

namespace ts {

// The four number formats and the text of a zero coordinate, made once per call.
struct NmeaFormats {
    FloatFormat minutes, alt, speed, sep;
    std::string zero;  // FormatNmeaDegMin of 0.0: "000.0000" with 4 decimals
};
NmeaFormats MakeNmeaFormats(TConversionOptions& o);

// Appends |value| as degrees (no leading zeros) and minutes (two integer digits) in the minutes
// format: 35.5 -> "3530.0000", 5.5 -> "530.0000", 0.25 -> "015.0000". Minutes that round up to 60
// are carried into the degrees. A value that is not finite appends nothing.
void FormatNmeaDegMin(std::string& out, const FloatFormat& minutes, double value);
// "" for NaN, else "N"/"S" and "E"/"W".
inline const char* NmeaNS(double lat) { return lat != lat ? "" : lat >= 0 ? "N" : "S"; }
inline const char* NmeaEW(double lon) { return lon != lon ? "" : lon >= 0 ? "E" : "W"; }
// Appends "*" and the XOR of the sentence's bytes after its "$" (the sentence starts at
// out[start]) as two upper-case hexadecimal digits.
void AddNmeaChecksum(std::string& out, size_t start);

// The fields of one written point as text.
struct NmeaFields {
    std::string time, date, lat, lon, quality, sats, hdop, alt, sep, speed, course;
    const char* ns = "";
    const char* ew = "";
};
// Each appends one sentence with its checksum and CR LF. GGA and RMC take the short no-fix form
// only when both coordinates are zero.
void MakeGga(std::string& out, const NmeaFields& f, const std::string& zero);
void MakeRmc(std::string& out, const NmeaFields& f, const std::string& zero);
void MakeWpl(std::string& out, const std::string& prefix, int32_t number, const NmeaFields& f);

}  // namespace ts
