#include "readers/nmea_sentence.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/date_time.h"
#include "core/filters.h"
#include "core/text_format.h"

namespace ts {

namespace {

std::string_view TrimView(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

std::string_view Cut(std::string_view s) { return s.substr(0, kNmeaFieldWidth); }

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool AllDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

int Digits2(std::string_view s) { return (s[0] - '0') * 10 + (s[1] - '0'); }

// Empty field: NaN; otherwise its number, 0 when it does not parse.
double FloatOrNaN(std::string_view s) { return s.empty() ? kNaN : StrToFloatSafe(s); }

enum SentenceId { sNone, sGga, sRmc, sWpl, sIismd, sCbdbg };

SentenceId LookUpName(std::string_view name) {
    if (name == "$GPGGA") return sGga;
    if (name == "$GPRMC") return sRmc;
    if (name == "$GPWPL") return sWpl;
    if (name == "$IISMD") return sIismd;
    return sNone;
}

uint8_t QualityFromField(std::string_view s) {
    const int32_t q = StrToIntSafe(s);
    return q >= 0 && q < 255 ? static_cast<uint8_t>(q) : 0;
}

bool IsFixDigit(std::string_view q) { return q.size() == 1 && q[0] >= '1' && q[0] <= '6'; }

}  // namespace

namespace {

// Eight bytes at a time: the high bit of each byte of the result is set where the byte of w
// equals b (exactly, no borrow between bytes).
inline uint64_t BytesEqual(uint64_t w, unsigned char b) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const uint64_t x = w ^ (0x0101010101010101ULL * b);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

inline uint64_t Load8(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Offsets of the first max commas of s, in order, a word at a time where the machine allows;
// returns how many were found.
int FindCommas(std::string_view s, uint32_t* at, int max) {
    int n = 0;
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= s.size(); i += 8) {
            for (uint64_t m = BytesEqual(Load8(s.data() + i), ','); m != 0; m &= m - 1) {
                at[n++] = static_cast<uint32_t>(i + static_cast<size_t>(__builtin_ctzll(m)) / 8);
                if (n == max) return n;
            }
        }
    }
    for (; i < s.size(); ++i)
        if (s[i] == ',') {
            at[n++] = static_cast<uint32_t>(i);
            if (n == max) return n;
        }
    return n;
}

}  // namespace

int SplitNmeaFields(NmeaFields& out, std::string_view line) {
    // Fields past the count are never read (Field() checks it), so they are not cleared.
    uint32_t commas[kNmeaMaxFields - 1];
    const int found = FindCommas(line, commas, kNmeaMaxFields - 1);
    int n = 0;
    const char* p = line.data();
    const char* const end = p + line.size();
    for (; n < found; ++n) {
        const char* a = p;
        const char* b = line.data() + commas[n];
        p = b + 1;
        while (a < b && static_cast<unsigned char>(*a) <= ' ') ++a;
        while (b > a && static_cast<unsigned char>(b[-1]) <= ' ') --b;
        out.f[n] = std::string_view(a, std::min(static_cast<size_t>(b - a), kNmeaFieldWidth));
    }
    std::string_view last = Cut(std::string_view(p, static_cast<size_t>(end - p)));
    const size_t star = last.find('*');
    if (star != std::string_view::npos) last = last.substr(0, star);
    out.f[n++] = last;
    out.count = n;
    return n;
}

namespace {

// High bit of each byte of the result set where some byte of w is below a blank or above "~"
// (the answer whether there is one is exact; which byte, not).
inline uint64_t UnprintableBytes(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
    return ((w - kOnes * 0x20) & ~w & kHigh) | (((w + kOnes) | w) & kHigh);
}

bool Printable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// The checksum test with the first "*" of the line already found at star.
bool ChecksumOkAt(std::string_view line, size_t star) {
    // XOR of the bytes between "$" and "*": eight at a time, folded into one. A byte a logger
    // does not write (a NUL leaves the XOR unchanged) means the line is not the one it summed.
    uint64_t acc = 0, bad = 0;
    size_t i = 1;
    for (; i + 8 <= star; i += 8) {
        const uint64_t w = Load8(line.data() + i);
        acc ^= w;
        bad |= UnprintableBytes(w);
    }
    if (bad != 0) return false;
    acc ^= acc >> 32;
    acc ^= acc >> 16;
    acc ^= acc >> 8;
    unsigned x = static_cast<unsigned>(acc & 0xFF);
    for (; i < star; ++i) {
        if (!Printable(static_cast<unsigned char>(line[i]))) return false;
        x ^= static_cast<unsigned char>(line[i]);
    }
    const std::string_view hex = TrimView(line.substr(star + 1, 3));
    if (hex.empty()) return false;
    unsigned v = 0;
    for (char c : hex) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else return false;
        v = v * 16 + static_cast<unsigned>(d);
    }
    return v == x;
}

}  // namespace

bool NmeaChecksumOk(std::string_view line) {
    const size_t star = line.find('*');
    return star != std::string_view::npos && ChecksumOkAt(line, star);
}

namespace {
double DegMinToDeg(double num) {
    const double v = num / 100.0;
    const double d = std::trunc(v);
    return d + (v - d) / 0.6;
}
}  // namespace

double NmeaDegMinToDeg(std::string_view text) {
    double num;
    return TryStrToFloat(text, num) ? DegMinToDeg(num) : kNaN;
}

double NmeaCoordToDeg(std::string_view coord, std::string_view hemisphere, double maxDeg) {
    double num;
    if (!TryStrToFloat(coord, num)) return kNaN;
    const double a = std::fabs(num);
    if (!(a - 100.0 * std::trunc(a / 100.0) < 60.0)) return kNaN;  // minutes of 60 and more
    double deg = std::fabs(DegMinToDeg(num));
    if (!(deg <= maxDeg)) return kNaN;
    const std::string_view h = TrimView(hemisphere);
    if (h.size() == 1 && (h[0] == 'S' || h[0] == 's' || h[0] == 'W' || h[0] == 'w')) deg = -deg;
    return deg;
}

bool NmeaTimeOfDay(std::string_view t, double& out) {
    if (t.empty()) return false;
    std::string_view whole, frac;
    const size_t dot = t.find('.');
    if (dot != std::string_view::npos) {
        whole = t.substr(0, dot);
        frac = t.substr(dot + 1);
    } else if (t.size() < 7) {
        whole = t;
    } else {
        whole = t.substr(0, 6);
        frac = t.substr(6);
    }
    // hh mm ss counted from the right; the hours take what is left (one to four digits).
    const size_t p = whole.size();
    if (p < 5 || p > 8 || !AllDigits(whole) || !AllDigits(frac)) return false;
    int h = 0;
    for (size_t i = 0; i + 4 < p; ++i) h = h * 10 + (whole[i] - '0');
    const int n = Digits2(whole.substr(p - 4, 2));
    const int s = Digits2(whole.substr(p - 2, 2));
    if (h > 23 || n > 59 || s > 59) return false;
    long long ms = 0;
    if (frac.size() <= 3) {
        // Up to milliseconds the digits are the count itself.
        for (char c : frac) ms = ms * 10 + (c - '0');
        for (size_t k = frac.size(); k < 3; ++k) ms *= 10;
    } else {
        double f = 0, scale = 0.1;
        for (char c : frac) {
            f += (c - '0') * scale;
            scale /= 10;
        }
        ms = std::llround(f * 1000.0);
    }
    out = (((h * 60.0 + n) * 60.0 + s) * 1000.0 + static_cast<double>(ms)) / 86400000.0;
    return true;
}

NmeaDate NmeaFieldToDate(std::string_view text) {
    NmeaDate d;
    if (text.size() < 6) return d;  // too short to hold a date: none
    d.state = NmeaDate::Invalid;
    const std::string_view day = text.substr(0, 2), month = text.substr(2, 2), year = text.substr(4, 2);
    if (!AllDigits(day) || !AllDigits(month) || !AllDigits(year)) return d;
    // Through the date parser, for its two-digit-year window.
    std::string s;
    s.reserve(8);
    s.append(month).append("/").append(day).append("/").append(year);
    try {
        d.value = StrToDateTime(s);
        d.state = NmeaDate::Valid;
    } catch (const ConvertError&) {}
    return d;
}

double NmeaDateTime(const NmeaDate& date, std::string_view timeField, bool& ok) {
    double tod;
    ok = date.state != NmeaDate::Invalid && NmeaTimeOfDay(timeField, tod);
    if (!ok) return 0.0;
    return date.state == NmeaDate::Valid ? date.value + tod : tod;
}

bool NmeaFieldMemo::Holds(std::string_view a, std::string_view b) const {
    return filled && a.size() == lenA && b.size() == lenB && a.compare(0, lenA, key.data(), lenA) == 0 &&
           b.compare(0, lenB, key.data() + lenA, lenB) == 0;
}

void NmeaFieldMemo::Keep(std::string_view a, std::string_view b, double v, bool good) {
    filled = a.size() <= kNmeaFieldWidth && b.size() <= kNmeaFieldWidth;
    if (!filled) return;
    a.copy(key.data(), a.size());
    b.copy(key.data() + a.size(), b.size());
    lenA = static_cast<uint8_t>(a.size());
    lenB = static_cast<uint8_t>(b.size());
    value = v;
    ok = good;
}

namespace {

// The time of day of a field, converted once while the field repeats.
bool MemoTimeOfDay(NmeaFieldMemo& m, std::string_view timeField, double& tod) {
    if (!m.Holds(timeField, std::string_view())) {
        tod = 0;
        const bool good = NmeaTimeOfDay(timeField, tod);
        m.Keep(timeField, std::string_view(), tod, good);
        if (!m.filled) return good;
    }
    tod = m.value;
    return m.ok;
}

// NmeaDateTime of a time of day already converted.
double DateTimeOf(const NmeaDate& date, const NmeaLineFacts& f, bool& ok) {
    ok = date.state != NmeaDate::Invalid && f.todOk;
    if (!ok) return 0.0;
    return date.state == NmeaDate::Valid ? date.value + f.tod : f.tod;
}

// NmeaCoordToDeg, converted once while the coordinate and its hemisphere repeat.
double MemoCoord(NmeaFieldMemo& m, std::string_view coord, std::string_view hemisphere, double maxDeg) {
    if (m.Holds(coord, hemisphere)) return m.value;
    const double v = NmeaCoordToDeg(coord, hemisphere, maxDeg);
    m.Keep(coord, hemisphere, v, true);
    return v;
}

// The date of an RMC; parsing is skipped while the field repeats.
NmeaDate CachedDate(NmeaLineScratch& sc, std::string_view field) {
    if (field.size() >= 6 && sc.lastDateCached && field.substr(0, 6) == std::string_view(sc.lastDateField.data(), 6))
        return sc.lastDate;
    const NmeaDate d = NmeaFieldToDate(field);
    if (field.size() >= 6) {
        field.copy(sc.lastDateField.data(), 6);
        sc.lastDate = d;
        sc.lastDateCached = true;
    }
    return d;
}

void DescribeGga(const NmeaLineRules& r, NmeaLineScratch& sc, const NmeaFields& f, NmeaLineFacts& out) {
    const std::string_view q = f.Field(7);
    if (r.useFixOnly && !IsFixDigit(q)) return;
    out.kind = NmeaLineFacts::Gga;
    out.quality = QualityFromField(q);
    out.estimated = q == "6";
    out.todOk = MemoTimeOfDay(sc.timeMemo, f.Field(2), out.tod);
    if (!r.positions) {
        sc.latText = f.Field(3);
        sc.lonText = f.Field(5);
        return;
    }
    out.sats = StrToIntSafe(f.Field(8));
    out.hdop = StrToFloatSafe(f.Field(9));
    out.lat = MemoCoord(sc.latMemo, f.Field(3), f.Field(4), 90.0);
    out.lon = MemoCoord(sc.lonMemo, f.Field(5), f.Field(6), 180.0);
    out.alt = FloatOrNaN(f.Field(10));
    const double sep = FloatOrNaN(f.Field(12));
    out.sep = std::fabs(sep) > 150.0 ? kNaN : sep;
}

void DescribeRmc(const NmeaLineRules& r, NmeaLineScratch& sc, const NmeaFields& f, NmeaLineFacts& out) {
    const std::string_view status = f.Field(3);
    if (r.useFixOnly && status != "A") return;
    out.kind = NmeaLineFacts::Rmc;
    out.quality = status == "A" ? 1 : 0;
    out.date = CachedDate(sc, f.Field(10));
    out.todOk = MemoTimeOfDay(sc.timeMemo, f.Field(2), out.tod);
    if (!r.positions) {
        sc.latText = f.Field(4);
        sc.lonText = f.Field(6);
        return;
    }
    out.lat = MemoCoord(sc.latMemo, f.Field(4), f.Field(5), 90.0);
    out.lon = MemoCoord(sc.lonMemo, f.Field(6), f.Field(7), 180.0);
    out.speed = FloatOrNaN(f.Field(8));
}

bool Hemisphere(std::string_view h, char plus, char minus) {
    h = TrimView(h);
    return h.size() == 1 && ((h[0] | 0x20) == (plus | 0x20) || (h[0] | 0x20) == (minus | 0x20));
}

// Latitude and longitude with their hemispheres from field at on: a position, or all four empty
// (no fix). A coordinate without its hemisphere is one cut short.
bool PositionReads(NmeaLineScratch& sc, const NmeaFields& f, int at) {
    if (f.count < at + 3) return false;
    const std::string_view lat = f.Field(at), ns = f.Field(at + 1), lon = f.Field(at + 2), ew = f.Field(at + 3);
    if (lat.empty() && lon.empty() && TrimView(ns).empty() && TrimView(ew).empty()) return true;
    return Hemisphere(ns, 'N', 'S') && Hemisphere(ew, 'E', 'W') && !std::isnan(MemoCoord(sc.latMemo, lat, ns, 90.0)) &&
           !std::isnan(MemoCoord(sc.lonMemo, lon, ew, 180.0));
}

bool NumberReads(std::string_view t) {
    double v;
    t = TrimView(t);
    return !t.empty() && TryStrToFloat(t, v);
}

// A sentence without checksum whose fields read as what they stand for: the time, position and
// date of a GGA or RMC, the values of a pressure line; and no byte a logger does not write (a
// file's padding after its last line aside). The fields of the line are in sc.fields.
bool ReadsWhole(SentenceId id, NmeaLineScratch& sc, std::string_view s) {
    const std::string_view text = TrimView(s);
    for (char c : text)
        if (!Printable(static_cast<unsigned char>(c))) return false;
    const NmeaFields& f = sc.fields;
    double tod;
    switch (id) {
    case sGga: return f.count >= 7 && MemoTimeOfDay(sc.timeMemo, f.Field(2), tod) && PositionReads(sc, f, 3);
    case sRmc: {
        const std::string_view date = TrimView(f.Field(10));
        return f.count >= 10 && MemoTimeOfDay(sc.timeMemo, f.Field(2), tod) && PositionReads(sc, f, 4) &&
               date.size() >= 6 && CachedDate(sc, date).state == NmeaDate::Valid;
    }
    case sIismd:
        return f.count >= 5 && NumberReads(f.Field(2)) && NumberReads(f.Field(3)) && NumberReads(f.Field(4)) &&
               NumberReads(f.Field(5));
    case sCbdbg: return NumberReads(f.Field(3));
    default: return true;
    }
}

// Nothing of an epoch's sentences so far: at its start, and when an estimated fix cancels it, so
// that the sentences that follow stand on their own. The log's geoid separation lasts from one
// GGA to the next.
void ForgetEpochValues(NmeaEpoch& e) {
    e.gga = e.rmc = NmeaValueSet();
    e.ggaInEpoch = e.rmcInEpoch = false;
    e.todInEpoch = false;
    e.sats = -1;
    e.hdop = 0.0;
    e.OwnGeoidSep = e.sepBeforeEpoch;
    ClearSensorValues(e);
    e.ggaQuality = e.rmcQuality = 255;
    e.EstimatedSeen = false;
}

// An estimated fix cancels the epoch so far.
void CancelEpoch(NmeaEpoch& e) {
    if (e.readPass) ForgetEpochValues(e);
    e.EstimatedSeen = false;
}

// Coordinate texts of a GGA and an RMC name the same place when they are equal, or when the finer
// one, cut or rounded to the decimals of the coarser, gives the coarser (loggers write the two
// sentences with different precision). Compared as whole numbers of the finer one's last digit.
bool SamePlaceText(std::string_view a, std::string_view b) {
    if (a == b) return true;
    double x, y;
    if (!TryStrToFloat(a, x) || !TryStrToFloat(b, y)) return false;
    const auto decimals = [](std::string_view t) {
        t = TrimView(t);
        const size_t dot = t.find('.');
        return dot == std::string_view::npos ? 0 : std::min(static_cast<int>(t.size() - dot - 1), 10);
    };
    const int da = decimals(a), db = decimals(b);
    const double scale = std::pow(10.0, std::max(da, db));
    return std::fabs(std::round(x * scale) - std::round(y * scale)) < std::pow(10.0, std::abs(da - db));
}

bool SamePlace(const NmeaEpoch& e) { return SamePlaceText(e.ggaLat, e.rmcLat) && SamePlaceText(e.ggaLon, e.rmcLon); }

// A time of day more than half a day before the last one read has passed midnight; a smaller step
// back is a time going back, not a new day.
void PassMidnight(NmeaEpoch& e, const NmeaLineFacts& f) {
    if (!f.todOk) return;
    if (e.lastTod >= 0 && e.lastTod - f.tod > 0.5) ++e.midnights;
    e.lastTod = f.tod;
}

int32_t ApplyGga(EngineContext& ctx, NmeaEpoch& e, const NmeaLineFacts& f, int32_t count) {
    const TConversionOptions& o = ctx.opt;
    PassMidnight(e, f);
    NmeaDate date = e.DateText;
    if (date.state == NmeaDate::Valid) date.value += static_cast<double>(e.midnights - e.midnightsAtDate);
    bool ok;
    const double time = DateTimeOf(date, f, ok);
    if (ok) ++e.GgaCount;
    int32_t result = 1;
    e.EstimatedSeen = !o.AcceptEstimated && f.estimated;
    if (!e.readPass) {
        e.ggaQuality = f.quality;
        e.gga.time = time;
        e.ggaLat.assign(e.scratch.latText);
        e.ggaLon.assign(e.scratch.lonText);
        if (e.rmc.time == e.gga.time && SamePlace(e)) ++e.RmcGgaPairs;
    } else if (!o.UseFixOnly && f.lat == 0 && f.lon == 0) {
        result = 0;  // no position: the sentence gives the epoch nothing
    } else if (!e.EstimatedSeen) {
        e.ggaQuality = f.quality;
        e.gga = NmeaValueSet{time, f.lat, f.lon, f.alt, kNaN};
        e.ggaInEpoch = true;
        e.sats = f.sats;
        e.hdop = f.hdop;
        e.OwnGeoidSep = f.sep;
    }
    if (e.EstimatedSeen && (!e.GgaFirst || e.GgaOnly)) {
        CancelEpoch(e);
        result = -count;
    } else if (e.EstimatedSeen) {
        result = 0;
    }
    return result;
}

int32_t ApplyRmc(EngineContext& ctx, NmeaEpoch& e, const NmeaLineFacts& f, int32_t count) {
    const TConversionOptions& o = ctx.opt;
    e.DateText = f.date;
    PassMidnight(e, f);
    if (f.date.state == NmeaDate::Valid) e.midnightsAtDate = e.midnights;
    bool ok;
    const double time = DateTimeOf(e.DateText, f, ok);
    if (ok) ++e.RmcCount;
    int32_t result = 2;
    if (!e.readPass) {
        e.rmcQuality = f.quality;
        e.rmc.time = time;
        // Until the first date is known the GGA times carry none: compare like with like.
        if (e.FirstDateText.state == NmeaDate::None && e.gga.time != 0) e.rmc.time = f.todOk ? f.tod : 0.0;
        e.rmcLat.assign(e.scratch.latText);
        e.rmcLon.assign(e.scratch.lonText);
        if (e.rmc.time == e.gga.time && SamePlace(e)) ++e.GgaRmcPairs;
    } else if (!o.UseFixOnly && f.lat == 0 && f.lon == 0) {
        result = 0;
    } else {
        e.rmcQuality = f.quality;
        e.rmc = NmeaValueSet{time, f.lat, f.lon, kNaN, f.speed};
        e.rmcDate = f.date;
        e.rmcInEpoch = true;
    }
    if (!o.AcceptEstimated && e.EstimatedSeen && e.GgaFirst && !e.RmcOnly) {
        CancelEpoch(e);
        result = -count;
    }
    return result;
}

// The sentence a line carries once blanks (when ignored) and anything before "$GP" are gone, by
// its name, with its fields in sc.fields and its text in s; its checksum is not tested yet. sNone
// when the line carries none of the four (not a "$" line, or a "$CUUB " one).
SentenceId NameSentence(const NmeaLineRules& r, NmeaLineScratch& sc, std::string_view line, std::string_view& s) {
    if (!StartsWith(line, "$")) return sNone;
    if (r.inputKind == ikBarometer && StartsWith(line, "$CUUB ")) return sNone;
    s = line;
    if (r.ignoreSpace && s.find(' ') != std::string_view::npos) {
        sc.compact.clear();
        for (char c : s)
            if (c != ' ') sc.compact += c;
        s = sc.compact;
    }
    const size_t gp = s.find("$GP", 1);
    if (gp != std::string_view::npos) s = s.substr(gp);
    SplitNmeaFields(sc.fields, s);
    return LookUpName(sc.fields.Field(1));
}

// Lines without "*" are taken unchecked.
bool ChecksumFails(std::string_view s) {
    const size_t star = s.find('*');
    return star != std::string_view::npos && !ChecksumOkAt(s, star);
}

// The sentence as NameSentence finds it, sNone when its checksum is wrong.
SentenceId FindSentence(const NmeaLineRules& r, NmeaLineScratch& sc, std::string_view line) {
    std::string_view s;
    const SentenceId id = NameSentence(r, sc, line, s);
    return id == sNone || ChecksumFails(s) ? sNone : id;
}

// Lines whose effect depends on the epoch so far, read from their text in file order.
void ParseOtherLine(EngineContext& ctx, NmeaEpoch& e, std::string_view line) {
    const int kind = ctx.inputKind;
    if (kind == ikTripMate && StartsWith(line, "/*")) {
        const size_t close = line.find("*/");
        if (close != std::string_view::npos && close + 2 == line.size() &&
            line.find("LOG NOW") != std::string_view::npos)
            e.InterestTag = true;
        return;
    }
    if (StartsWith(line, "$")) {
        if (kind == ikBarometer && StartsWith(line, "$CUUB ")) {
            e.LoggerText.assign(line.substr(6, 50));
            return;
        }
        switch (FindSentence(NmeaRulesOf(ctx, e.readPass), e.scratch, line)) {
        case sWpl: ParseWpl(ctx, e, e.scratch.fields); return;
        case sIismd: ParseIismd(e, e.scratch.fields); return;
        default: return;
        }
    }
    if (kind == ikBarometer) {
        if (StartsWith(line, "@LPRMC,")) e.InterestTag = true;
        else if (StartsWith(line, "@CBDBG,")) ParseCbdbg(ctx, e, line);
    }
}

}  // namespace

NmeaLineRules NmeaRulesOf(const EngineContext& ctx, bool positions) {
    NmeaLineRules r;
    r.inputKind = ctx.inputKind;
    r.ignoreSpace = ctx.opt.IgnoreSpace;
    r.useFixOnly = ctx.opt.UseFixOnly;
    r.positions = positions;
    return r;
}

void DescribeNmeaLine(const NmeaLineRules& r, NmeaLineScratch& sc, std::string_view line, NmeaLineFacts& out) {
    out = NmeaLineFacts();  // nothing left over from the line described here before
    // Logs joined into one keep the byte-order marks of the later ones at the start of a line.
    while (StartsWith(line, kUtf8Bom)) line.remove_prefix(kUtf8Bom.size());
    out.line = line;
    if (r.inputKind == ikTripMate && line.find("LOG NOW") != std::string_view::npos)
        out.starts = NmeaLineFacts::KeepTag;
    if (r.inputKind == ikBarometer && (StartsWith(line, "@LPRMC,") || StartsWith(line, "@CBDBG,")))
        out.starts = NmeaLineFacts::KeepTag;
    if (r.inputKind == ikTripMate && StartsWith(line, "/*")) {
        out.kind = NmeaLineFacts::Other;
        return;
    }
    if (StartsWith(line, "$")) {
        if (r.inputKind == ikBarometer && StartsWith(line, "$CUUB ")) {
            out.kind = NmeaLineFacts::Other;
            return;
        }
        // The epoch's boundaries go by the sentence the parser reads, whatever its checksum says.
        std::string_view s;
        const SentenceId id = NameSentence(r, sc, line, s);
        const size_t star = s.find('*');
        out.starred = star != std::string_view::npos;
        if (id == sGga) out.starts |= NmeaLineFacts::StartsGga;
        else if (id == sRmc) out.starts |= NmeaLineFacts::StartsRmc;
        else if (id == sWpl) out.starts |= NmeaLineFacts::StartsWpl;
        if (id == sNone || (out.starred && !ChecksumOkAt(s, star))) return;
        if (id != sWpl) {
            out.measured = static_cast<uint8_t>(id == sGga ? 1 : id == sRmc ? 2 : 3);
            out.fieldCount = static_cast<uint8_t>(sc.fields.count);
            out.readable = out.starred || ReadsWhole(id, sc, s);
            if (!out.readable) return;
        }
        switch (id) {
        case sGga: DescribeGga(r, sc, sc.fields, out); return;
        case sRmc: DescribeRmc(r, sc, sc.fields, out); return;
        default: out.kind = NmeaLineFacts::Other; return;
        }
    }
    if (r.inputKind == ikBarometer && StartsWith(line, "@CBDBG,")) {
        SplitNmeaFields(sc.fields, line);
        out.measured = 4;
        out.fieldCount = static_cast<uint8_t>(sc.fields.count);
        out.readable = ReadsWhole(sCbdbg, sc, line);
        if (out.readable) out.kind = NmeaLineFacts::Other;
    } else if (r.inputKind == ikBarometer && StartsWith(line, "@LPRMC,")) {
        out.kind = NmeaLineFacts::Other;
    }
}

void JudgeNmeaLine(NmeaEpoch& e, NmeaLineFacts& f) {
    if (f.measured == 0 || !f.readable) return;
    NmeaFieldMeasure& m = e.measure[f.measured - 1];
    const uint8_t n = f.fieldCount;
    if (m.own == 0 || n == m.last) m.own = n;
    m.last = n;
    // Loggers that write checksums or not write every sentence of a kind with the same fields:
    // fewer is a line cut short (its end lost, or run into a later line's end), whose last field
    // may be cut as well.
    if (!f.starred && n < m.own) f.kind = NmeaLineFacts::Skip;
}

void ClearSensorValues(NmeaEpoch& e) { e.SensorValue1 = e.pressure = e.pressureAlt = e.temperature = kNaN; }

void StartNmeaPass(NmeaEpoch& e) {
    e.DateText = e.FirstDateText;
    e.midnights = 0;
    e.midnightsAtDate = e.firstDateMidnights;
    e.lastTod = -1;
    e.repeatPending = e.carryGga = false;
}

void ResetNmeaEpoch(EngineContext& ctx, NmeaEpoch& e) {
    // The date is not taken back: a block opened after midnight goes on with the date the last
    // RMC gave, also for fixes whose RMC is missing.
    e.EndOfLog = false;
    e.gga.time = e.rmc.time = 0;
    e.gga.alt = e.rmc.alt = kNaN;
    e.GgaCount = e.RmcCount = 0;
    ctx.run.TotalDistance = 0;
}

void ParseWpl(EngineContext& ctx, NmeaEpoch& e, const NmeaFields& f) {
    const std::string_view name = f.Field(6);
    const std::string& wpl = ctx.opt.WPL_Prefix;
    const std::string& wpv = ctx.opt.WPV_Prefix;
    if (!wpl.empty() && StartsWith(name, wpl)) e.InterestTag = true;
    if (!wpv.empty() && StartsWith(name, wpv)) e.VoiceTag = true;
    if (!e.InterestTag && !e.VoiceTag) {
        e.WplLat = e.WplLon = 0;
    } else {
        e.WplLat = NmeaCoordToDeg(f.Field(2), f.Field(3), 90.0);
        e.WplLon = NmeaCoordToDeg(f.Field(4), f.Field(5), 180.0);
    }
}

void ParseIismd(NmeaEpoch& e, const NmeaFields& f) {
    e.SensorValue1 = StrToFloatSafe(f.Field(2));
    e.pressure = StrToFloatSafe(f.Field(3));
    e.pressureAlt = StrToFloatSafe(f.Field(4));
    e.temperature = StrToFloatSafe(f.Field(5));
}

void ParseCbdbg(EngineContext& ctx, NmeaEpoch& e, std::string_view line) {
    NmeaFields& f = e.scratch.fields;
    SplitNmeaFields(f, line);
    const double h = StrToFloatSafe(f.Field(3));
    e.pressure = PressureFromHeight(h, ctx.opt.BarometerOffset);
    e.pressureAlt = PressureAltitude(e.pressure, e.baro);
    e.PressureSeen = true;
}

int32_t ApplyNmeaLine(EngineContext& ctx, NmeaEpoch& e, const NmeaLineFacts& f, int32_t count) {
    switch (f.kind) {
    case NmeaLineFacts::Gga: return ApplyGga(ctx, e, f, count);
    case NmeaLineFacts::Rmc: return ApplyRmc(ctx, e, f, count);
    case NmeaLineFacts::Other: ParseOtherLine(ctx, e, f.line); return 0;
    case NmeaLineFacts::Skip: return 0;
    }
    return 0;
}

bool NmeaDescribedLines::Start(const LineReader& file, unsigned workers, size_t chunkBytes) {
    scratch_.assign(workers + 1, NmeaLineScratch());  // the calling thread helps
    facts_.assign(ChunkedLineFeed::SlotsFor(workers), std::vector<NmeaLineFacts>());
    return feed_.Start(file, workers, chunkBytes, [this](ChunkedLineFeed::Chunk& c, unsigned w) {
        std::vector<NmeaLineFacts>& out = facts_[c.slot];
        out.resize(c.lines.size());
        for (size_t i = 0; i < c.lines.size(); ++i) DescribeNmeaLine(rules_, scratch_[w], c.lines[i], out[i]);
    });
}

bool NmeaDescribedLines::NextChunk() {
    while (!done_) {
        const ChunkedLineFeed::Chunk* c = feed_.Next();
        if (!c) break;
        cur_ = &facts_[c->slot];
        next_ = 0;
        if (!cur_->empty()) return true;
    }
    done_ = true;
    cur_ = nullptr;
    return false;
}

int32_t ParseNmeaLine(EngineContext& ctx, NmeaEpoch& e, std::string_view line, int32_t count) {
    DescribeNmeaLine(NmeaRulesOf(ctx, e.readPass), e.scratch, line, e.facts);
    JudgeNmeaLine(e, e.facts);
    return ApplyNmeaLine(ctx, e, e.facts, count);
}

namespace {

// bRepeat: a sentence the epoch already holds, written again; it is not read twice.
enum BoundaryKind { bNone, bFix, bKeep, bRepeat };

int64_t TodMs(double tod) { return std::llround(tod * 86400000.0); }

bool SameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// A line that starts the next epoch. bKeep lines (waypoints and tags) end the epoch before them
// whatever the mask says.
BoundaryKind Boundary(const NmeaEpoch& e, const NmeaLineFacts& f) {
    const uint8_t starts = f.starts;
    if (e.todInEpoch && f.todOk && (f.kind == NmeaLineFacts::Gga || f.kind == NmeaLineFacts::Rmc)) {
        const bool sameTime = TodMs(f.tod) == e.epochMs;
        const bool gga = f.kind == NmeaLineFacts::Gga;
        // One point per time: the same sentence again (same kind, time and place) adds nothing. One
        // with another place is a fix of its own that the logger stamped with the same time.
        if (sameTime && (gga ? e.ggaInEpoch : e.rmcInEpoch)) {
            // The same time on another date is another fix (a logger standing still reports once
            // a day).
            if (!gga && f.date.state == NmeaDate::Valid && e.rmcDate.state == NmeaDate::Valid &&
                f.date.value != e.rmcDate.value)
                return bFix;
            const NmeaValueSet& had = gga ? e.gga : e.rmc;
            if (SameValue(had.lat, f.lat) && SameValue(had.lon, f.lon)) return bRepeat;
        }
        // Where GGA and RMC of a fix carry its time, the time says which fix a sentence belongs
        // to: a missing sentence or one kind written less often does not merge or split fixes.
        if (e.pairByTime) {
            if (!sameTime) return bFix;
            if (!(gga ? e.ggaInEpoch : e.rmcInEpoch)) return bNone;
        }
    }
    if ((starts & NmeaLineFacts::StartsGga) && (e.GgaFirst || e.GgaOnly)) return bFix;
    if ((starts & NmeaLineFacts::StartsRmc) && (!e.GgaFirst || e.RmcOnly)) return bFix;
    if (starts & (NmeaLineFacts::StartsWpl | NmeaLineFacts::KeepTag)) return bKeep;
    return bNone;
}

// The lines of a file, read and described one at a time. A held line keeps its description.
struct TextLines {
    LineReader& file;
    NmeaEpoch& e;
    NmeaLineRules rules;
    bool HasHeld() const { return file.HasHeld(); }
    bool AtEnd() { return file.AtEnd(); }
    void Hold() { file.Hold(); }
    bool Take(const NmeaLineFacts*& f) {
        const bool again = file.HasHeld();
        std::string_view line;
        if (!file.ReadLine(line)) return false;
        if (!again) {
            DescribeNmeaLine(rules, e.scratch, line, e.facts);
            JudgeNmeaLine(e, e.facts);
        }
        f = &e.facts;
        return true;
    }
};

// Lines described ahead, judged here in file order.
struct DescribedLines {
    NmeaDescribedLines& src;
    NmeaEpoch& e;
    bool HasHeld() const { return src.HasHeld(); }
    bool AtEnd() { return src.AtEnd(); }
    void Hold() { src.Hold(); }
    bool Take(const NmeaLineFacts*& f) {
        const bool again = src.HasHeld();
        NmeaLineFacts* next = src.Next();
        if (!next) return false;
        if (!again) JudgeNmeaLine(e, *next);
        f = next;
        return true;
    }
};

void StartEpoch(NmeaEpoch& e, int32_t& n) {
    e.sepBeforeEpoch = e.OwnGeoidSep;
    ForgetEpochValues(e);
    e.repeatPending = false;
    n = 0;
}

template <class Lines>
bool ReadEpoch(EngineContext& ctx, NmeaEpoch& e, Lines file, NmeaFix& fix) {
    if (!file.HasHeld() && file.AtEnd()) {
        e.EndOfLog = true;
        return false;
    }
    int32_t n;
    StartEpoch(e, n);
    const auto apply = [&](const NmeaLineFacts& line) {
        const int32_t added = ApplyNmeaLine(ctx, e, line, n);
        n += added;
        if (added > 0 && !e.todInEpoch && line.todOk &&
            (line.kind == NmeaLineFacts::Gga || line.kind == NmeaLineFacts::Rmc)) {
            e.todInEpoch = true;
            e.epochMs = TodMs(line.tod);
        }
    };
    // A boundary line held in this call ends the epoch; one held by the previous call is this
    // epoch's first line and is taken exactly once.
    BoundaryKind held = bNone;
    for (;;) {
        if (held != bNone) {
            if (held == bKeep || PassesHdopSatMask(ctx.opt, e.sats, e.hdop)) break;
            // The epoch fails the mask: drop it and start the next with the held line.
            StartEpoch(e, n);
            held = bNone;
        }
        if (!file.HasHeld() && file.AtEnd()) break;
        const NmeaLineFacts* line;
        if (!file.Take(line)) break;
        if (n == 0 && e.carryGga) {
            // The GGA taken for a repeat leads the fix of the RMC that showed it a day later.
            e.carryGga = false;
            apply(e.repeatedGga);
        }
        if (n > 0) {
            held = Boundary(e, *line);
            if (held == bRepeat) {
                PassMidnight(e, *line);
                e.repeatPending = line->kind == NmeaLineFacts::Gga && e.GgaFirst && !e.RmcOnly;
                if (e.repeatPending) e.repeatedGga = *line;
                held = bNone;
                continue;
            }
            if (held != bNone || line->kind != NmeaLineFacts::Skip) {
                e.carryGga = e.repeatPending && held == bFix && line->kind == NmeaLineFacts::Rmc && line->todOk &&
                             TodMs(line->tod) == e.epochMs;
                e.repeatPending = false;
            }
            if (held != bNone) {
                file.Hold();
                continue;
            }
        }
        apply(*line);
    }
    if (n <= 0 || (held == bNone && !PassesHdopSatMask(ctx.opt, e.sats, e.hdop))) {
        // Only the end of the log ends an epoch without a fix.
        e.EndOfLog = true;
        return false;
    }

    // The fix is made of the epoch's own sentences only. With both, the mode says whose time and
    // position lead: the RMC's when the GGA comes first, the GGA's when the RMC does.
    const NmeaValueSet& v = e.ggaInEpoch && !(e.rmcInEpoch && e.GgaFirst) ? e.gga : e.rmc;
    fix.lat = v.lat;
    fix.lon = v.lon;
    fix.alt = e.gga.alt;
    fix.speed = e.rmc.speed;
    RunState& r = ctx.run;
    r.NewTime = v.time;
    if (e.sats == -1) e.sats = 99;
    e.quality = e.ggaQuality != 255 ? e.ggaQuality : e.rmcQuality;
    // A fix without an RMC takes its speed from the track, and one without a GGA has no height to
    // lack, so neither keeps the fix from opening a block; but in a log of RMCs (nearly) only, a
    // fix without a GGA opens none.
    const bool speedKnown = !std::isnan(fix.speed) || !e.rmcInEpoch;
    const bool altKnown = !std::isnan(fix.alt) || (!e.ggaInEpoch && !e.RmcOnly);
    // Half a millisecond for the rounding of date-times: a gap of exactly the split time is none.
    const bool gap = r.NewTime - r.PrevTime > ctx.opt.SplitTime / 1440.0 + kOneMs / 2;
    return !(gap && !std::isnan(fix.lat) && !std::isnan(fix.lon) && altKnown && speedKnown && r.NewTime != 0);
}

}  // namespace

bool ReadNmeaEpoch(EngineContext& ctx, NmeaEpoch& e, LineReader& file, NmeaFix& fix) {
    return ReadEpoch(ctx, e, TextLines{file, e, NmeaRulesOf(ctx, e.readPass)}, fix);
}

bool ReadNmeaEpoch(EngineContext& ctx, NmeaEpoch& e, NmeaDescribedLines& src, NmeaFix& fix) {
    return ReadEpoch(ctx, e, DescribedLines{src, e}, fix);
}

}  // namespace ts
