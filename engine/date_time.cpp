#include "date_time.h"

#include <cctype>
#include <cmath>
#include <ctime>

#include "text_format.h"

namespace ts {

namespace {

const char* const kShortDay[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDay[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kShortMonth[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
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

std::string Pad(int v, int width) {
    std::string s = std::to_string(v < 0 ? -v : v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    if (v < 0) s.insert(0, 1, '-');
    return s;
}

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
    if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999)
        throw ConvertError("invalid time");
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

std::string FormatDateTime(const std::string& fmt, double t, char dateSep, char timeSep) {
    DateParts p;
    if (!DecodeDateTime(t, p)) return std::string();
    const long long dayNum = static_cast<long long>(std::trunc(t)) - kEpochOffset;
    const int weekday = static_cast<int>(((dayNum % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday

    // A 12-hour clock when the pattern carries an am/pm element.
    bool twelve = false;
    for (size_t i = 0; i < fmt.size(); ++i)
        if (StartsWithNoCase(fmt, i, "am/pm") || StartsWithNoCase(fmt, i, "a/p") ||
            StartsWithNoCase(fmt, i, "ampm"))
            twelve = true;

    std::string out;
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
            out.append(fmt, i + 1, j - i - 1);
            i = j + 1;
            continue;
        }
        if (StartsWithNoCase(fmt, i, "am/pm")) {
            out += p.hour < 12 ? "am" : "pm";
            i += 5;
            continue;
        }
        if (StartsWithNoCase(fmt, i, "a/p")) {
            out += p.hour < 12 ? "a" : "p";
            i += 3;
            continue;
        }
        if (StartsWithNoCase(fmt, i, "ampm")) {
            out += p.hour < 12 ? "AM" : "PM";
            i += 4;
            continue;
        }
        switch (lc) {
        case 'y':
            out += run <= 2 ? Pad(p.year % 100, 2) : Pad(p.year, 4);
            afterHour = false;
            break;
        case 'm':
            if (afterHour) {
                out += run == 1 ? std::to_string(p.minute) : Pad(p.minute, 2);
                afterHour = false;
                run = std::min<size_t>(run, 2);
            } else if (run == 1) {
                out += std::to_string(p.month);
            } else if (run == 2) {
                out += Pad(p.month, 2);
            } else if (run == 3) {
                out += kShortMonth[p.month - 1];
            } else {
                out += kLongMonth[p.month - 1];
                run = 4;
            }
            break;
        case 'd':
            if (run == 1) out += std::to_string(p.day);
            else if (run == 2) out += Pad(p.day, 2);
            else if (run == 3) out += kShortDay[weekday];
            else {
                out += kLongDay[weekday];
                run = 4;
            }
            afterHour = false;
            break;
        case 'h': {
            int h = p.hour;
            if (twelve) {
                h %= 12;
                if (h == 0) h = 12;
            }
            run = std::min<size_t>(run, 2);
            out += run == 1 ? std::to_string(h) : Pad(h, 2);
            afterHour = true;
            break;
        }
        case 'n':
            run = std::min<size_t>(run, 2);
            out += run == 1 ? std::to_string(p.minute) : Pad(p.minute, 2);
            afterHour = false;
            break;
        case 's':
            run = std::min<size_t>(run, 2);
            out += run == 1 ? std::to_string(p.second) : Pad(p.second, 2);
            afterHour = false;
            break;
        case 'z':
            run = run >= 3 ? 3 : 1;
            out += run == 1 ? std::to_string(p.ms) : Pad(p.ms, 3);
            break;
        case '/':
            run = 1;
            out += dateSep;
            break;
        case ':':
            run = 1;
            out += timeSep;
            break;
        default:
            run = 1;
            out += c;
            break;
        }
        i += run;
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
}  // namespace ts
