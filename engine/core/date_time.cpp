#include "core/date_time.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <string_view>
#include <vector>

#include "core/text_format.h"

namespace ts {

namespace {

const char* const kShortDay[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDay[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kShortMonth[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonth[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's civil algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kEpochOffset = 25569;  // 1970-01-01 as a date-time value

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int CurrentYear() {
    std::time_t now = std::time(nullptr);
    std::tm tmv{};
    gmtime_r(&now, &tmv);
    return tmv.tm_year + 1900;
}

// Reads an unsigned decimal number of at most `maxDigits` digits at s[i].
bool ReadNumber(const std::string& s, size_t& i, int& value, int& digits, int maxDigits = 9) {
    value = 0;
    digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        if (digits >= maxDigits) return false;
        value = value * 10 + (s[i] - '0');
        ++digits;
        ++i;
    }
    return digits > 0;
}

bool StartsWithNoCase(const std::string& s, size_t i, const char* w) {
    for (size_t k = 0; w[k]; ++k) {
        if (i + k >= s.size()) return false;
        if (std::tolower(static_cast<unsigned char>(s[i + k])) != w[k]) return false;
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool IsValidDate(int y, int m, int d) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    const int dim = kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
    return d <= dim;
}

bool TryEncodeDate(int y, int m, int d, double& out) {
    if (!IsValidDate(y, m, d)) return false;
    out = static_cast<double>(DaysFromCivil(y, m, d) + kEpochOffset);
    return true;
}

double EncodeDate(int y, int m, int d) {
    double t;
    if (!TryEncodeDate(y, m, d, t)) throw ConvertError("invalid date");
    return t;
}

double EncodeTime(int h, int n, int s, int ms) {
    if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) throw ConvertError("invalid time");
    return (((h * 60.0 + n) * 60.0 + s) * 1000.0 + ms) / 86400000.0;
}

bool DecodeDateTime(double t, DateParts& p) {
    if (!std::isfinite(t) || std::fabs(t) > 2958466.0) return false;  // beyond year 9999
    double days = std::trunc(t);
    long long msOfDay = std::llround(std::fabs(t - days) * 86400000.0);
    if (msOfDay >= 86400000) {
        msOfDay -= 86400000;
        days += (t < 0 ? -1 : 1);
    }
    CivilFromDays(static_cast<long long>(days) - kEpochOffset, p.year, p.month, p.day);
    p.ms = static_cast<int>(msOfDay % 1000);
    long long secs = msOfDay / 1000;
    p.second = static_cast<int>(secs % 60);
    p.minute = static_cast<int>((secs / 60) % 60);
    p.hour = static_cast<int>(secs / 3600);
    return true;
}

std::vector<DtStep> DateTimeSteps(const std::string& fmt) {
    std::vector<DtStep> steps;
    auto op = [&](DtOp o) { steps.push_back({o, std::string()}); };
    auto text = [&](std::string_view t) {
        if (steps.empty() || steps.back().op != DtOp::Text) steps.push_back({DtOp::Text, std::string()});
        steps.back().text.append(t);
    };
    bool afterHour = false;
    size_t i = 0;
    while (i < fmt.size()) {
        const char c = fmt[i];
        const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t run = 1;
        while (i + run < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + run])) == lc) ++run;
        if (c == '"' || c == '\'') {
            size_t j = fmt.find(c, i + 1);
            if (j == std::string::npos) j = fmt.size();
            text(std::string_view(fmt).substr(i + 1, j - i - 1));
            i = j + 1;
            continue;
        }
        if (StartsWithNoCase(fmt, i, "am/pm")) {
            op(DtOp::AmPm);
            i += 5;
            continue;
        }
        if (StartsWithNoCase(fmt, i, "a/p")) {
            op(DtOp::AP);
            i += 3;
            continue;
        }
        if (StartsWithNoCase(fmt, i, "ampm")) {
            op(DtOp::AMPM);
            i += 4;
            continue;
        }
        switch (lc) {
        case 'y':
            op(run <= 2 ? DtOp::Year2 : DtOp::Year4);
            afterHour = false;
            break;
        case 'm':
            if (afterHour) {
                op(run == 1 ? DtOp::Minute1 : DtOp::Minute2);
                afterHour = false;
                run = std::min<size_t>(run, 2);
            } else if (run == 1) {
                op(DtOp::Month1);
            } else if (run == 2) {
                op(DtOp::Month2);
            } else if (run == 3) {
                op(DtOp::MonthShort);
            } else {
                op(DtOp::MonthLong);
                run = 4;
            }
            break;
        case 'd':
            if (run == 1) op(DtOp::Day1);
            else if (run == 2) op(DtOp::Day2);
            else if (run == 3) op(DtOp::DayShort);
            else {
                op(DtOp::DayLong);
                run = 4;
            }
            afterHour = false;
            break;
        case 'h':
            run = std::min<size_t>(run, 2);
            op(run == 1 ? DtOp::Hour1 : DtOp::Hour2);
            afterHour = true;
            break;
        case 'n':
            run = std::min<size_t>(run, 2);
            op(run == 1 ? DtOp::Minute1 : DtOp::Minute2);
            afterHour = false;
            break;
        case 's':
            run = std::min<size_t>(run, 2);
            op(run == 1 ? DtOp::Second1 : DtOp::Second2);
            afterHour = false;
            break;
        case 'z':
            run = run >= 3 ? 3 : 1;
            op(run == 1 ? DtOp::Ms1 : DtOp::Ms3);
            break;
        case '/':
            run = 1;
            op(DtOp::DateSep);
            break;
        case ':':
            run = 1;
            op(DtOp::TimeSep);
            break;
        default:
            run = 1;
            text(std::string_view(&c, 1));
            break;
        }
        i += run;
    }
    return steps;
}

int MonthOfName(std::string_view word) {
    for (int k = 0; k < 12; ++k)
        if (EqualsNoCase(word, kLongMonth[k]) || EqualsNoCase(word, kShortMonth[k])) return k + 1;
    return 0;
}

int WeekdayOfName(std::string_view word) {
    for (int k = 0; k < 7; ++k)
        if (EqualsNoCase(word, kLongDay[k]) || EqualsNoCase(word, kShortDay[k])) return k + 1;
    return 0;
}

namespace {

// A date-time pattern read once into the steps that produce its text: the pattern is read the
// same way for every value, and the writers format one per point.
struct DtPattern {
    std::string fmt;
    bool twelve = false;  // a 12-hour clock: the pattern carries an am/pm element
    std::vector<DtStep> steps;
};

DtPattern CompilePattern(const std::string& fmt) {
    DtPattern r;
    r.fmt = fmt;
    for (size_t i = 0; i < fmt.size() && !r.twelve; ++i)
        if (StartsWithNoCase(fmt, i, "am/pm") || StartsWithNoCase(fmt, i, "a/p") || StartsWithNoCase(fmt, i, "ampm"))
            r.twelve = true;
    r.steps = DateTimeSteps(fmt);
    return r;
}

// The few patterns in use at a time, read once each.
const DtPattern& Pattern(const std::string& fmt) {
    constexpr size_t kKept = 4;
    thread_local std::vector<DtPattern> kept;
    thread_local size_t nextSlot = 0;
    for (const DtPattern& p : kept)
        if (p.fmt == fmt) return p;
    if (kept.size() < kKept) {
        kept.push_back(CompilePattern(fmt));
        return kept.back();
    }
    DtPattern& slot = kept[nextSlot];
    nextSlot = (nextSlot + 1) % kKept;
    slot = CompilePattern(fmt);
    return slot;
}

// v in decimal, with at least `width` digits (zeros in front) after a minus sign.
void AppendNumber(std::string& out, int v, int width) {
    char buf[16];
    unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) out.push_back('-');
    for (int k = n; k < width; ++k) out.push_back('0');
    while (n > 0) out.push_back(buf[--n]);
}

}  // namespace

std::string FormatDateTime(const std::string& fmt, double t, char dateSep, char timeSep) {
    DateParts p;
    if (!DecodeDateTime(t, p)) return std::string();
    const long long dayNum = static_cast<long long>(std::trunc(t)) - kEpochOffset;
    const int weekday = static_cast<int>(((dayNum % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    const DtPattern& pat = Pattern(fmt);
    int h12 = p.hour;
    if (pat.twelve) {
        h12 %= 12;
        if (h12 == 0) h12 = 12;
    }
    std::string out;
    for (const DtStep& s : pat.steps) {
        switch (s.op) {
        case DtOp::Text: out += s.text; break;
        case DtOp::AmPm: out += p.hour < 12 ? "am" : "pm"; break;
        case DtOp::AP: out += p.hour < 12 ? "a" : "p"; break;
        case DtOp::AMPM: out += p.hour < 12 ? "AM" : "PM"; break;
        case DtOp::Year2: AppendNumber(out, p.year % 100, 2); break;
        case DtOp::Year4: AppendNumber(out, p.year, 4); break;
        case DtOp::Minute1: AppendNumber(out, p.minute, 1); break;
        case DtOp::Minute2: AppendNumber(out, p.minute, 2); break;
        case DtOp::Month1: AppendNumber(out, p.month, 1); break;
        case DtOp::Month2: AppendNumber(out, p.month, 2); break;
        case DtOp::MonthShort: out += kShortMonth[p.month - 1]; break;
        case DtOp::MonthLong: out += kLongMonth[p.month - 1]; break;
        case DtOp::Day1: AppendNumber(out, p.day, 1); break;
        case DtOp::Day2: AppendNumber(out, p.day, 2); break;
        case DtOp::DayShort: out += kShortDay[weekday]; break;
        case DtOp::DayLong: out += kLongDay[weekday]; break;
        case DtOp::Hour1: AppendNumber(out, h12, 1); break;
        case DtOp::Hour2: AppendNumber(out, h12, 2); break;
        case DtOp::Second1: AppendNumber(out, p.second, 1); break;
        case DtOp::Second2: AppendNumber(out, p.second, 2); break;
        case DtOp::Ms1: AppendNumber(out, p.ms, 1); break;
        case DtOp::Ms3: AppendNumber(out, p.ms, 3); break;
        case DtOp::DateSep: out += dateSep; break;
        case DtOp::TimeSep: out += timeSep; break;
        }
    }
    return out;
}

double StrToTime(const std::string& text) {
    const std::string s = Trim(text);
    size_t i = 0;
    int h = 0, n = 0, sec = 0, digits = 0;
    double frac = 0;
    if (!ReadNumber(s, i, h, digits, 4)) throw ConvertError("not a time: " + text);
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!ReadNumber(s, i, n, digits, 4)) throw ConvertError("not a time: " + text);
        if (i < s.size() && s[i] == ':') {
            ++i;
            if (!ReadNumber(s, i, sec, digits, 4)) throw ConvertError("not a time: " + text);
            if (i < s.size() && s[i] == '.') {
                ++i;
                double scale = 0.1;
                size_t start = i;
                while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
                    frac += (s[i] - '0') * scale;
                    scale /= 10;
                    ++i;
                }
                if (i == start) throw ConvertError("not a time: " + text);
            }
        }
    } else {
        // A bare number is not a time unless an am/pm marker follows.
        size_t j = i;
        while (j < s.size() && s[j] == ' ') ++j;
        if (j == i && i == s.size()) throw ConvertError("not a time: " + text);
    }
    while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size()) {
        bool pm;
        if (StartsWithNoCase(s, i, "am")) pm = false;
        else if (StartsWithNoCase(s, i, "pm")) pm = true;
        else throw ConvertError("not a time: " + text);
        i += 2;
        if (i != s.size() || h < 1 || h > 12) throw ConvertError("not a time: " + text);
        h = h % 12 + (pm ? 12 : 0);
    }
    if (h > 23 || n > 59 || sec > 59) throw ConvertError("not a time: " + text);
    long long ms = std::llround(frac * 1000.0);
    double base = ((h * 60.0 + n) * 60.0 + sec) * 1000.0;
    return (base + static_cast<double>(ms)) / 86400000.0;
}

double StrToDateTime(const std::string& text) {
    const std::string s = Trim(text);
    if (s.empty()) throw ConvertError("empty date-time");
    std::string datePart, timePart;
    const size_t sp = s.find(' ');
    if (sp != std::string::npos) {
        datePart = s.substr(0, sp);
        timePart = Trim(s.substr(sp + 1));
        if (datePart.find(':') != std::string::npos) {  // "12:00:00 PM"
            datePart.clear();
            timePart = s;
        }
    } else if (s.find(':') != std::string::npos) {
        timePart = s;
    } else {
        datePart = s;
    }
    double result = 0;
    if (!datePart.empty()) {
        int v[3] = {0, 0, 0};
        int yDigits = 0;
        size_t i = 0;
        for (int k = 0; k < 3; ++k) {
            int digits;
            if (!ReadNumber(datePart, i, v[k], digits, 4)) throw ConvertError("not a date: " + text);
            if (k == 2) yDigits = digits;
            if (k < 2) {
                if (i >= datePart.size() || (datePart[i] != '/' && datePart[i] != '-' && datePart[i] != '.'))
                    throw ConvertError("not a date: " + text);
                ++i;
            }
        }
        if (i != datePart.size()) throw ConvertError("not a date: " + text);
        int year = v[2];
        if (yDigits <= 2) {
            const int centuryBase = CurrentYear() - 50;
            year += centuryBase / 100 * 100;
            if (year < centuryBase) year += 100;
        }
        result = EncodeDate(year, v[0], v[1]);
    }
    if (!timePart.empty()) result += StrToTime(timePart);
    return result;
}

}  // namespace ts

namespace ts {
double ToLocalTime(double t, double timeOffset) {
    const double r = t - timeOffset;
    if (!IsDateless(t) || !std::isfinite(r)) return r;
    const double wrapped = r - std::floor(r);
    return wrapped >= 1.0 ? 0.0 : wrapped;
}

void ElapsedTime::Add(double t) {
    if (!any_) {
        any_ = true;
        dated_ = !IsDateless(t);
        first_ = last_ = t;
        return;
    }
    if (IsDateless(t) == dated_) mixed_ = true;
    else if (!dated_ && last_ - t > 0.5) ++midnights_;
    last_ = t;
}

double ElapsedTime::Days() const {
    if (!any_) return 0.0;
    const double d = last_ - first_ + static_cast<double>(midnights_);
    return mixed_ || !(d >= 0) ? std::numeric_limits<double>::quiet_NaN() : d;
}
}  // namespace ts
