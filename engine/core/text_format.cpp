#include "core/text_format.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/date_time.h"

namespace ts {

std::string Trim(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return std::string(s.substr(a, b - a));
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string PadMilliseconds(const std::string& t) {
    const size_t dot = t.find('.');
    const size_t n = dot == std::string::npos ? 0 : t.size() - dot - 1;
    if (dot == std::string::npos) return t.empty() ? t + "000" : t + ".000";
    if (n == 0) return t + "000";
    if (n == 1) return t + "00";
    if (n == 2) return t + "0";
    return t;
}

double StrToTimeMs(const std::string& s) {
    // Only the fraction of the seconds is padded; a text with a date keeps its date part.
    const std::string t = Trim(s);
    const size_t colon = t.rfind(':');
    if (colon != std::string::npos) {
        const size_t dot = t.find('.', colon);
        if (dot != std::string::npos) return StrToDateTime(PadMilliseconds(t));
    }
    return StrToDateTime(t);
}

std::string FormatDuration(const std::string& fmt, double t) {
    std::string r;
    if (std::isfinite(t) && t >= 1.0) {
        const long long d = static_cast<long long>(std::trunc(std::min(t, 1e9)));
        r = std::to_string(d) + (d == 1 ? "day " : "days ");
    }
    if (!std::isfinite(t)) return r;
    return r + FormatDateTime(fmt, t - std::trunc(t));
}

std::string FormatTimeMs(const std::string& fmt, double t, char dateSep, char timeSep) {
    const size_t L = fmt.size();
    size_t p;  // 1-based position of the "." that starts the fraction, 0 when none
    if (L > 0 && fmt.back() == '.') {
        p = L;
    } else {
        size_t f = 0;
        for (size_t i = 0; i + 1 < L; ++i)
            if (fmt[i] == '.' && (fmt[i + 1] == 'z' || fmt[i + 1] == 'Z')) {
                f = i + 1;
                break;
            }
        p = f;
    }
    if (p < 1) return FormatDateTime(fmt, t, dateSep, timeSep);
    std::string r = FormatDateTime(fmt.substr(0, p) + "zzz", t, dateSep, timeSep);
    if (r.empty()) return r;
    if (L > p) {
        const size_t k = L - p >= 3 ? 0 : 3 - (L - p);
        r.erase(r.size() - std::min(k, r.size()));
    } else {
        while (!r.empty() && r.back() == '0') r.pop_back();
        if (!r.empty() && r.back() == '.') r.pop_back();
    }
    return r;
}

std::string IntToStr6(int32_t n) {
    std::string s = std::to_string(n);
    if (s.size() < 6) s.insert(0, 6 - s.size(), ' ');
    return s;
}

std::string FormatFloatTrim(int width, int decimals, double v) {
    if (!std::isfinite(v)) return std::string();
    if (decimals < 0) decimals = 0;
    if (decimals > 20) decimals = 20;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, v);
    std::string s(buf);
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    return s;
}

namespace {

std::string_view TrimmedView(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// Plain "[sign]digits[.digits]" with at most 15 significant digits: the digits make an exact
// integer and the scale an exact power of ten, so one division rounds correctly, to the same
// double the full parser gives. False for anything else.
bool ParsePlainDecimal(std::string_view s, double& out) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    uint64_t m = 0;
    int digits = 0, scale = 0;
    bool any = false, dot = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (m == 0 && c == '0') {
                if (dot) ++scale;  // leading zeros of the fraction only scale
                continue;
            }
            if (++digits > 15) return false;
            m = m * 10 + static_cast<uint64_t>(c - '0');
            if (dot) ++scale;
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (!any || scale > 22) return false;
    const double v = static_cast<double>(m) / kPow10[scale];
    out = neg ? -v : v;
    return true;
}

}  // namespace

bool TryStrToFloat(std::string_view sv, double& out) {
    const std::string_view s = TrimmedView(sv);
    if (ParsePlainDecimal(s, out)) return true;
    size_t start = 0;
    if (!s.empty() && s[0] == '+') start = 1;
    if (start < s.size() && (s[start] == '-' || s[start] == '+') && start == 1) return false;
    // Only plain decimal and exponent forms: no "inf", "nan" or hexadecimal.
    for (size_t i = start; i < s.size(); ++i) {
        const char c = s[i];
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+'))
            return false;
    }
    if (start >= s.size()) return false;
    double v = 0;
    auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v, std::chars_format::general);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool TryStrToInt(std::string_view sv, int32_t& out) {
    const std::string_view s = TrimmedView(sv);
    size_t start = 0;
    if (!s.empty() && s[0] == '+') start = 1;
    if (start >= s.size() || s[start] == '+') return false;
    int32_t v = 0;
    auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v, 10);
    if (ec != std::errc() || ptr != s.data() + s.size()) return false;
    out = v;
    return true;
}

double StrToFloatSafe(std::string_view s) {
    double v = 0;
    return TryStrToFloat(s, v) ? v : 0.0;
}

int32_t StrToIntSafe(std::string_view s) {
    int32_t v = 0;
    return TryStrToInt(s, v) ? v : 0;
}

namespace {
// Windows-1252 0x80..0x9F; 0 where the code page has no character.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned c = b(i);
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    if (cp == 0xFFFE || cp == 0xFFFF) return 0;
    return len;
}

uint32_t Cp1252ToUnicode(unsigned char c) {
    if (c < 0x80 || c >= 0xA0) return c;
    return kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : 0xFFFD;
}

std::string ToUtf8FromLegacy(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (const size_t len = Utf8SequenceLength(s, i)) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            AppendUtf8(out, Cp1252ToUnicode(c));
            ++i;
        }
    }
    return out;
}

std::string ExtractFileName(const std::string& path) {
    const size_t p = path.find_last_of('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
    const size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileExt(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const size_t p = name.find_last_of('.');
    return p == std::string::npos ? std::string() : name.substr(p);
}

std::string PathWithoutExt(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const size_t p = name.find_last_of('.');
    return p == std::string::npos ? name : name.substr(0, p);
}

}  // namespace ts
