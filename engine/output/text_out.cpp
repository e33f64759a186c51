#include "output/text_out.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/date_time.h"
#include "core/text_format.h"

namespace ts {

std::string FloatFormat::Text() const {
    std::string s = "%";
    AppendInt(s, width);
    s.push_back('.');
    AppendInt(s, decimals);
    s.push_back('f');
    return s;
}

FloatFormat MakeFloatFmt(std::string& decimals, int min, int max) {
    int32_t n = StrToIntSafe(decimals);
    if (n < min || n > max) {
        n = (min + max) / 2;
        decimals = std::to_string(n);
    }
    return FloatFormat{n + 2, n};
}

std::string MakeFloatFormat(std::string& decimals, int min, int max) { return MakeFloatFmt(decimals, min, max).Text(); }

namespace {

constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
// Decimal digits of n, right-aligned in buf ending at end; returns the first digit.
char* UnsignedDigits(uint64_t n, char* end) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* p = end;
    while (n >= 100) {
        const unsigned r = static_cast<unsigned>(n % 100);
        n /= 100;
        p -= 2;
        p[0] = kPairs[2 * r];
        p[1] = kPairs[2 * r + 1];
    }
    if (n >= 10) {
        p -= 2;
        p[0] = kPairs[2 * n];
        p[1] = kPairs[2 * n + 1];
    } else {
        *--p = static_cast<char>('0' + n);
    }
    return p;
}

}  // namespace

void AppendFixed(std::string& out, double v, int decimals, int width) {
    if (!std::isfinite(v)) v = 0;
    if (decimals < 0) decimals = 0;
    if (decimals > 20) decimals = 20;
    if (decimals <= 15) {
        // The value times 10^decimals, rounded by plain arithmetic. The shortest decimal form of
        // v and v itself lie within a few units of 2^-52 of each other, so the two round alike
        // unless x lies that close to a tie; then the digits decide.
        const double x = std::fabs(v) * kPow10[decimals];
        if (x < 0x1p52) {
            const double whole = std::floor(x);
            const double frac = x - whole;
            if (std::fabs(frac - 0.5) > x * 0x1p-45) {
                const uint64_t n = static_cast<uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
                char buf[48];
                char* const end = buf + sizeof buf;
                char* p = UnsignedDigits(n, end);
                // At least one digit before the point.
                while (end - p < decimals + 1) *--p = '0';
                if (decimals > 0) {
                    // The whole part moves one place left to make room for the point: the
                    // number then goes out in one piece.
                    char* const point = end - decimals - 1;
                    for (char* q = p; q <= point; ++q) q[-1] = q[0];
                    --p;
                    *point = '.';
                }
                if (std::signbit(v) && n != 0) *--p = '-';
                const int len = static_cast<int>(end - p);
                if (width > len) out.append(static_cast<size_t>(width - len), ' ');
                out.append(p, static_cast<size_t>(len));
                return;
            }
        }
    }
    AppendFixedByDigits(out, v, decimals, width);
}

void AppendFixedByDigits(std::string& out, double v, int decimals, int width) {
    if (!std::isfinite(v)) v = 0;
    if (decimals < 0) decimals = 0;
    if (decimals > 20) decimals = 20;

    // Shortest decimal form that reads back as v: sign, digits d[0..n) and exponent.
    char sci[40];
    const auto sr = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char* p = sci;
    bool neg = false;
    if (p < sr.ptr && *p == '-') {
        neg = true;
        ++p;
    }
    char d[32];
    int n = 0;
    for (; p < sr.ptr && *p != 'e'; ++p)
        if (*p != '.' && n < static_cast<int>(sizeof d)) d[n++] = *p;
    int exp10 = 0;
    if (p < sr.ptr) {
        ++p;
        if (p < sr.ptr && *p == '+') ++p;
        std::from_chars(p, sr.ptr, exp10);
    }

    // m: the value times 10^decimals as a digit string, rounded half away from zero.
    char m[400];
    int mn = 0;
    const int keep = exp10 + 1 + decimals;  // digits of d before the rounding position
    for (int i = 0; i < keep && mn < static_cast<int>(sizeof m) - 1; ++i) m[mn++] = i < n ? d[i] : '0';
    if (keep >= 0 && keep < n && d[keep] >= '5') {
        int i = mn - 1;
        while (i >= 0 && m[i] == '9') m[i--] = '0';
        if (i >= 0) {
            ++m[i];
        } else {
            for (int j = mn; j > 0; --j) m[j] = m[j - 1];
            m[0] = '1';
            ++mn;
        }
    }
    // At least one integer digit.
    while (mn < decimals + 1) {
        for (int j = mn; j > 0; --j) m[j] = m[j - 1];
        m[0] = '0';
        ++mn;
    }
    bool zero = true;
    for (int i = 0; i < mn; ++i)
        if (m[i] != '0') zero = false;

    const int len = (neg && !zero ? 1 : 0) + mn + (decimals > 0 ? 1 : 0);
    if (width > len) out.append(static_cast<size_t>(width - len), ' ');
    if (neg && !zero) out.push_back('-');
    out.append(m, static_cast<size_t>(mn - decimals));
    if (decimals > 0) {
        out.push_back('.');
        out.append(m + (mn - decimals), static_cast<size_t>(decimals));
    }
}

std::string FormatFixed(double v, int decimals, int width) {
    std::string s;
    AppendFixed(s, v, decimals, width);
    return s;
}

void AppendFixedTrim(std::string& out, double v, int decimals, int width) {
    const size_t start = out.size();
    AppendFixed(out, v, decimals, width);
    if (out.find('.', start) == std::string::npos) return;
    while (out.size() > start && out.back() == '0') out.pop_back();
    if (out.size() > start && out.back() == '.') out.pop_back();
}

void AppendInt(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendLine(std::string& buffer, std::string_view line, bool compact) {
    if (!compact) {
        buffer.append(line);
        buffer.append("\r\n");
        return;
    }
    size_t i = 0;
    while (i < line.size() && line[i] == '\t') ++i;
    while (i < line.size() && line[i] == ' ') ++i;
    for (; i < line.size(); ++i) {
        buffer.push_back(line[i]);
        if (line[i] == '\n' && i > 0 && line[i - 1] == '\r')
            while (i + 1 < line.size() && line[i + 1] == '\t') ++i;
    }
    buffer.append("\r\n");
}

namespace {

// Copies text as valid UTF-8 without the characters XML forbids; escapes markup when asked.
void AppendCleanText(std::string& out, std::string_view s, bool escape) {
    for (size_t i = 0; i < s.size();) {
        // Plain printable ASCII goes over in one piece.
        size_t j = i;
        while (j < s.size()) {
            const unsigned char b = static_cast<unsigned char>(s[j]);
            if (b < 0x20 || b >= 0x80 || (escape && (b == '&' || b == '<' || b == '>' || b == '"' || b == '\''))) break;
            ++j;
        }
        if (j > i) {
            out.append(s.data() + i, j - i);
            i = j;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
            if (escape) {
                switch (c) {
                case '&': out.append("&amp;"); continue;
                case '<': out.append("&lt;"); continue;
                case '>': out.append("&gt;"); continue;
                case '"': out.append("&quot;"); continue;
                case '\'': out.append("&apos;"); continue;
                default: break;
                }
            }
            out.push_back(static_cast<char>(c));
            continue;
        }
        const size_t len = Utf8SequenceLength(s, i);
        if (len > 0) {
            out.append(s.substr(i, len));
            i += len;
            continue;
        }
        // A stray byte: the older files were Windows-1252.
        AppendUtf8(out, Cp1252ToUnicode(c));
        ++i;
    }
}

}  // namespace

void AppendXmlText(std::string& out, std::string_view text) { AppendCleanText(out, text, true); }

std::string XmlText(std::string_view text) {
    std::string s;
    AppendXmlText(s, text);
    return s;
}

void AppendCDataText(std::string& out, std::string_view text) {
    const size_t start = out.size();
    AppendCleanText(out, text, false);
    // "]]>" would end the section early: close it after "]]" and open a new one before ">".
    size_t p = start;
    while ((p = out.find("]]>", p)) != std::string::npos) {
        out.replace(p, 3, "]]]]><![CDATA[>");
        p += 15;
    }
}

// "2024-03-16T09:00:00.5Z": UTC, the fraction of the second only as far as it is not zero.
bool AppendXmlDateTime(std::string& out, double t) {
    DateParts d;
    if (!DecodeDateTime(t, d) || d.year < 1 || d.year > 9999) return false;
    // Built in place and appended once: the writers call this for every point.
    char buf[24];
    char* q = buf;
    const auto two = [&q](int v) {
        *q++ = static_cast<char>('0' + v / 10);
        *q++ = static_cast<char>('0' + v % 10);
    };
    two(d.year / 100);
    two(d.year % 100);
    *q++ = '-';
    two(d.month);
    *q++ = '-';
    two(d.day);
    *q++ = 'T';
    two(d.hour);
    *q++ = ':';
    two(d.minute);
    *q++ = ':';
    two(d.second);
    if (d.ms > 0) {
        *q++ = '.';
        *q++ = static_cast<char>('0' + d.ms / 100);
        if (d.ms % 100) *q++ = static_cast<char>('0' + d.ms / 10 % 10);
        if (d.ms % 10) *q++ = static_cast<char>('0' + d.ms % 10);
    }
    *q++ = 'Z';
    out.append(buf, static_cast<size_t>(q - buf));
    return true;
}

}  // namespace ts
