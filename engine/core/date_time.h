// Date-time values are doubles counting days since 1899-12-30 00:00; the fraction is the time of
// day. Formatting and parsing here never follow the user's locale.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ts {

struct ConvertError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr double kOneMs = 1.0 / 86400000.0;
inline constexpr double kOneSecond = 1.0 / 86400.0;

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, ms = 0;
};

bool IsValidDate(int y, int m, int d);
// Throws ConvertError for an invalid date or time.
double EncodeDate(int y, int m, int d);
double EncodeTime(int h, int n, int s, int ms);
bool TryEncodeDate(int y, int m, int d, double& out);
// Splits a value into calendar parts, rounding to the nearest millisecond. Non-finite or
// out-of-range values give false.
bool DecodeDateTime(double t, DateParts& p);

// Formats with the patterns d dd ddd dddd m mm mmm mmmm yy yyyy h hh n nn s ss z zzz am/pm ampm,
// "/" (dateSep), ":" (timeSep) and quoted literals; "m" right after "h"/"hh" means minutes.
// A value that cannot be shown gives an empty text.
std::string FormatDateTime(const std::string& fmt, double t, char dateSep = '/', char timeSep = ':');

// One element of a date-time pattern, in the order written; Text holds literal text.
enum class DtOp : uint8_t {
    Text,
    AmPm,
    AP,
    AMPM,
    Year2,
    Year4,
    Minute1,
    Minute2,
    Month1,
    Month2,
    MonthShort,
    MonthLong,
    Day1,
    Day2,
    DayShort,
    DayLong,
    Hour1,
    Hour2,
    Second1,
    Second2,
    Ms1,
    Ms3,
    DateSep,
    TimeSep
};

struct DtStep {
    DtOp op;
    std::string text;  // for DtOp::Text
};

// The elements of a pattern as FormatDateTime reads it, so that a reader of its texts reads the
// pattern the same way.
std::vector<DtStep> DateTimeSteps(const std::string& fmt);
// The month (1-12) or weekday (1-7 from Sunday) that FormatDateTime's long or three-letter name
// gives, in any case; 0 for any other word.
int MonthOfName(std::string_view word);
int WeekdayOfName(std::string_view word);

// Parses "[date] [time]": the date in month/day/year order with "/", "-" or "." between (a
// two-digit year in the century window around the current year), the time as h[:n[:s[.fff]]] with
// an optional AM/PM. A text with only a time gives a time of day (value below 1). Throws
// ConvertError when the text does not parse.
double StrToDateTime(const std::string& s);
// Time of day only: "h:n[:s[.fff]]" -> fraction of a day. Throws ConvertError.
double StrToTime(const std::string& s);

}  // namespace ts

namespace ts {
// A time of day without a date (not later than 1900-01-01, value 2.0).
inline bool IsDateless(double t) { return t <= 2.0; }
// UTC time t as local time for display (t - timeOffset); a dateless time stays within its day.
double ToLocalTime(double t, double timeOffset);

// The time a run of points spans, their times added in order. Times of day without a date that
// step back by more than half a day have passed midnight, and each such step adds a day.
class ElapsedTime {
public:
    void Add(double t);
    // Days from the first time to the last; NaN when that cannot be known (times with and without
    // a date mixed, or a last time before the first), 0 before any time.
    double Days() const;

private:
    bool any_ = false, dated_ = false, mixed_ = false;
    double first_ = 0, last_ = 0;
    int64_t midnights_ = 0;
};
}  // namespace ts
