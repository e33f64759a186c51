// The CSV log reader's recognition layer: finds the header line, maps its columns to the 17 items
// through the alias lists, picks the device profile whose telltale names the header holds, and
// parses single fields. Nothing here raises on bad text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/options.h"
#include "readers/line_reader.h"

namespace ts {

inline constexpr int kCsvMaxFields = 25;

// The fields of one line as views into it, trimmed of blanks and control characters.
struct CsvFields {
    std::array<std::string_view, kCsvMaxFields> f{};
    int Count = 0;
    // 1-based column; empty for column 0 and for columns the line does not reach.
    std::string_view Field(int column) const {
        return column >= 1 && column <= Count ? f[column - 1] : std::string_view();
    }
};

// Cuts at commas; after 24 fields the rest of the line, commas included, is the 25th. No quoting.
// An empty line has no fields.
void SplitCsvLine(std::string_view line, CsvFields& out);
// Up to six fields of an option line; a field may start with a quoted part. Returns the count.
int SplitCsv6(std::string_view line, std::array<std::string, 6>& fields);

// 1-based column of each item (CsvItemIndex), 0 when the header has none.
using CsvColumnMap = std::array<int32_t, kCsvItemCount>;

struct CsvProfileOptions {
    bool CsvAddTimeOffset = false;      // the log holds local time
    bool CsvHeightsAboveGeoid = false;  // heights need no geoid subtraction
    bool CsvDropMidnightRows = false;   // rows wrongly stamped 00:00:00.000 are dropped
    int32_t CsvSpeedUnit = 0;           // 1 mph, 2 knots, else km/h
    bool CsvHeightsInFeet = false;
    bool CsvRepeatFlagsInterest = false;  // a repeated row tags the previous point
};

// What the header of one file gave. The fields view into `line`, so it is not copied.
struct CsvHeader {
    CsvHeader() = default;
    CsvHeader(const CsvHeader&) = delete;
    CsvHeader& operator=(const CsvHeader&) = delete;

    CsvColumnMap map{};
    std::string line;  // the last line looked at, upper-cased, blanks around commas removed
    CsvFields fields;
    int32_t lines = 0;    // lines read up to and including the header
    int32_t columns = 0;  // header fields up to the last one with a name
    std::string CsvProfileName = "Default";
    CsvProfileOptions options;
};

// Looks at up to five lines for one with a latitude and a longitude column, then chooses and
// applies the profile from the last line looked at. On true the file stands after the header.
bool AnalyseCsvHeader(const TConversionOptions& o, LineReader& file, CsvHeader& h);
// The first CsvInfoList profile scoring 80 or more, else "Default"; its options go into `options`.
std::string ChooseCsvProfile(const TConversionOptions& o, const CsvFields& fields, CsvProfileOptions& options);
// Percentage of the profile's names (value upper-cased, comma-separated) the header fields hold.
int32_t CsvHeaderScore(const CsvFields& fields, std::string_view value);
CsvProfileOptions ApplyCsvOption(const TConversionOptions& o, const std::string& profileName);

// Field parsers.
// The characters of "+-0123456789." of the text, as a number; 0 when that does not convert.
double CsvNumberValue(std::string_view text);
// The leading run of "+-0123456789" as an integer; 0 when it does not convert.
int32_t CsvLeadingInteger(std::string_view text);
// CsvNumberValue, negative when the text holds S or W in either case.
double CsvCoordToDegrees(std::string_view text);
// "yymmdd" -> "mm/dd/yy" (eight digits give a four-digit year). Result in `out`.
void CsvDateToText(std::string_view text, std::string& out);
// "hhmmss[.ff]" -> "hh:mm:ss[.ff]". Result in `out`.
void CsvTimeToText(std::string_view text, std::string& out);
// "yyyy/mm/dd rest" -> "mm/dd/yyyy rest"; other texts unchanged. Result in `out`.
void CsvDateTimeSplit(std::string_view text, std::string& out);
// Fix quality 0..8 from a fix type text (prefix of a known type, any case) or a number.
uint8_t CsvFixTypeCode(std::string_view text, bool acceptEstimated);

}  // namespace ts
