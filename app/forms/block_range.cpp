#include "forms/block_range.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "core/date_time.h"
#include "core/text_format.h"

namespace ts {

std::string IntToStrSep(int64_t n) {
    // The magnitude alone is grouped, so a negative count cannot put a comma after the sign.
    const bool negative = n < 0;
    std::string digits = std::to_string(n);
    if (negative) digits.erase(0, 1);
    std::string out;
    const size_t len = digits.size();
    for (size_t i = 0; i < len; ++i) {
        if (i > 0 && (len - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

std::string FormatRangeDms(int decimals, double value, const std::string& degChar) {
    double v = std::fabs(value);
    // Beyond this the whole degrees no longer fit an integer: no text, as for NaN.
    if (!(v < 1e15)) return std::string();
    if (decimals >= 0 && decimals <= 5) v += 0.05 * std::pow(10.0, -decimals) / 3600.0;
    const int dec = std::clamp(decimals, 0, 15);
    const double deg = std::floor(v);
    const double minutes = (v - deg) * 60.0;
    const double min = std::floor(minutes);
    const double sec = (minutes - min) * 60.0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3.0f", deg);
    std::string out = buf;
    out += degChar;
    std::snprintf(buf, sizeof buf, "%02.0f", min);
    out += buf;
    out += "' ";
    std::snprintf(buf, sizeof buf, "%.*f", dec, sec);
    std::string s = buf;
    const size_t width = static_cast<size_t>(dec) + 3;
    if (s.size() < width) s.insert(s.begin(), '0');
    if (s.compare(0, 3, "60.") == 0) s = std::string("59.9999999").substr(0, width);
    out += s;
    out += '"';
    return out;
}

std::string FormatRangeDmsHemi(const std::string& hemi, int decimals, double value, const std::string& degChar) {
    std::string s = FormatRangeDms(decimals, std::fabs(value), degChar);
    const size_t k = value >= 0 ? 0 : 1;
    if (k < hemi.size()) s += hemi[k];
    return s;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// One element of a date format as the formatter reads it; `Gap` is literal text between fields.
enum class DateElem { Gap, Year, Month, MonthName, Day, DayName, Number, Letters };
struct DateStep {
    DateElem kind;
    size_t width = 0;  // the digits a field takes when another field follows it directly
    std::string text;  // the gap's text
};

// The date format's elements as the formatter reads the same pattern ("m" after "h" is minutes,
// "ddd" a weekday, quoted text literal), so every text it writes can be read back.
std::vector<DateStep> DateSteps(const std::string& fmt) {
    std::vector<DateStep> steps;
    auto gap = [&](std::string_view t) {
        if (steps.empty() || steps.back().kind != DateElem::Gap) steps.push_back({DateElem::Gap, 0, {}});
        steps.back().text.append(t);
    };
    auto field = [&](DateElem k, size_t width) { steps.push_back({k, width, {}}); };
    for (const DtStep& st : DateTimeSteps(fmt)) {
        switch (st.op) {
        case DtOp::Text: gap(st.text); break;
        case DtOp::DateSep: gap("/"); break;
        case DtOp::TimeSep: gap(":"); break;
        case DtOp::AmPm:
        case DtOp::AP:
        case DtOp::AMPM: field(DateElem::Letters, 0); break;
        case DtOp::Year2: field(DateElem::Year, 2); break;
        case DtOp::Year4: field(DateElem::Year, 4); break;
        case DtOp::Month1:
        case DtOp::Month2: field(DateElem::Month, 2); break;
        case DtOp::MonthShort:
        case DtOp::MonthLong: field(DateElem::MonthName, 2); break;
        case DtOp::Day1:
        case DtOp::Day2: field(DateElem::Day, 2); break;
        case DtOp::DayShort:
        case DtOp::DayLong: field(DateElem::DayName, 2); break;
        case DtOp::Ms1:
        case DtOp::Ms3: field(DateElem::Number, 3); break;
        default: field(DateElem::Number, 2); break;  // hours, minutes, seconds
        }
    }
    return steps;
}

}  // namespace

bool TryParseLocalDateTime(const std::string& text, const std::string& dateFormatText, double& out,
                           const DateParts* defaults) {
    try {
        const std::string t = Trim(text);
        // A dateless log shows the time of day alone; its digits are not date fields.
        const std::string firstToken = t.substr(0, t.find(' '));
        if (firstToken.find(':') != std::string::npos) {
            try {
                const double v = StrToDateTime(t);
                if (v >= 0 && v < 1.0) {
                    out = v;
                    return true;
                }
            } catch (const ConvertError&) {}
        }
        // Read with the pattern the dialogs write with (the year always in four digits).
        char sep = '/';
        const std::vector<DateStep> steps = DateSteps(NormalizeDateFormat(dateFormatText, sep));
        std::string m, d, y;
        size_t i = 0;
        for (size_t k = 0; k < steps.size(); ++k) {
            const DateStep& st = steps[k];
            if (st.kind == DateElem::Gap) {
                // The text as written, or typed with other separators.
                if (LowerCase(std::string_view(t).substr(i, st.text.size())) == LowerCase(st.text)) i += st.text.size();
                else
                    while (i < t.size() && !IsDigit(t[i]) && !IsLetter(t[i])) ++i;
                continue;
            }
            if (k == 0)
                while (i < t.size() && !IsDigit(t[i]) && !IsLetter(t[i])) ++i;
            const size_t from = i;
            if (st.kind == DateElem::MonthName || st.kind == DateElem::DayName || st.kind == DateElem::Letters) {
                while (i < t.size() && IsLetter(t[i])) ++i;
                const std::string word = t.substr(from, i - from);
                if (st.kind == DateElem::MonthName) {
                    const int month = MonthOfName(word);
                    if (month == 0) return false;
                    if (m.empty()) m = std::to_string(month);
                } else if (st.kind == DateElem::DayName && WeekdayOfName(word) == 0) {
                    return false;
                }
                continue;
            }
            // Fields written side by side have their widths; before a gap a field takes every digit.
            const bool gapNext = k + 1 == steps.size() || steps[k + 1].kind == DateElem::Gap;
            const size_t width = gapNext ? std::string::npos : st.width;
            while (i < t.size() && IsDigit(t[i]) && i - from < width) ++i;
            if (i == from) return false;
            // A field written twice (or a time in the date format) counts once, at its first place.
            std::string* target = st.kind == DateElem::Year    ? &y
                                  : st.kind == DateElem::Month ? &m
                                  : st.kind == DateElem::Day   ? &d
                                                               : nullptr;
            if (target && target->empty()) *target = t.substr(from, i - from);
        }
        if (defaults) {
            if (y.empty()) y = std::to_string(defaults->year);
            if (m.empty()) m = std::to_string(defaults->month);
            if (d.empty()) d = std::to_string(defaults->day);
        }
        if (m.empty() || d.empty() || y.empty()) return false;
        const std::string rest = Trim(t.substr(std::min(i, t.size()), 15));
        out = StrToDateTime(m + "/" + d + "/" + y + " " + rest);
        return std::isfinite(out);
    } catch (const std::exception&) {
        return false;
    }
}

double ParseLocalDateTime(const std::string& text, const std::string& dateFormatText) {
    double v = 0;
    return TryParseLocalDateTime(text, dateFormatText, v) ? v : 0.0;
}

std::string DateTimeToText(double t, const TConversionOptions& o) {
    if (t > 1.0) return FormatDateTime(o.OutDateFormat, t) + " " + FormatTimeMs("hh:nn:ss.", t);
    return FormatTimeMs(o.TimeFmt, t);
}

bool TryParseBlockTime(const std::string& text, const TrackBlock& b, const TConversionOptions& o, double& out,
                       RangeSide side, const ShownTime* shown) {
    const std::string t = Trim(text);
    if (shown && shown->Holds(t)) {
        out = shown->time;
        return true;
    }
    const double start = b.StartTime - o.TimeOffset, end = b.EndTime - o.TimeOffset;
    if (t == DateTimeToText(start, o)) {
        out = start;
        return true;
    }
    if (t == DateTimeToText(end, o)) {
        out = end;
        return true;
    }
    DateParts ends[2];
    const bool known[2] = {DecodeDateTime(start, ends[0]), DecodeDateTime(end, ends[1])};
    const int own = side == RangeSide::Start ? 0 : 1;
    double v[2] = {0, 0};
    bool read[2] = {false, false};
    for (int k : {own, 1 - own})
        read[k] = TryParseLocalDateTime(t, o.OutDateFormatText, v[k], known[k] ? &ends[k] : nullptr);
    // The edit's own end first; the other where only that lies inside the block.
    const auto inside = [&](int k) { return read[k] && v[k] >= start && v[k] <= end; };
    int pick = own;
    if (!inside(own) && (inside(1 - own) || !read[own])) pick = 1 - own;
    if (!read[pick]) return false;
    out = v[pick];
    return true;
}

void ClampRangeEdits(std::string& startText, std::string& finalText, const TrackBlock& b, const TConversionOptions& o,
                     RangeShown* shown) {
    // A text that does not convert is caught by its own failure, not by a zero sum: with a time
    // offset the sum of a failed parse is not zero.
    const double start = b.StartTime - o.TimeOffset, end = b.EndTime - o.TimeOffset;
    double p = 0;
    if (!TryParseBlockTime(startText, b, o, p, RangeSide::Start, shown ? &shown->start : nullptr) || p < start) {
        startText = DateTimeToText(start, o);
        if (shown) shown->start = {startText, start};
    }
    if (!TryParseBlockTime(finalText, b, o, p, RangeSide::Final, shown ? &shown->final : nullptr) || p > end) {
        finalText = DateTimeToText(end, o);
        if (shown) shown->final = {finalText, end};
    }
}

int32_t FindRecordByTime(const PointStream& ps, const TrackBlock& b, double t) {
    if (ps.Empty()) return b.First;
    int64_t lo = b.First, hi = b.Last, mid = lo;
    do {
        mid = (lo + hi) / 2;
        const double rt = ps.At(static_cast<int32_t>(mid)).Time;
        const bool up = t + kOneMs >= rt;
        const bool down = t - kOneMs <= rt;
        if (up) lo = mid + 1;
        if (down) hi = mid - 1;
        if (!up && !down) break;  // NaN on either side: no order to follow
    } while (lo <= hi);
    return static_cast<int32_t>(mid);
}

BlockRowTexts BlockRangeTexts(const TrackBlock& b, const TConversionOptions& o) {
    return {DateTimeToText(b.RangeStart - o.TimeOffset, o), DateTimeToText(b.RangeEnd - o.TimeOffset, o),
            IntToStrSep(static_cast<int64_t>(b.RangeLast) - b.RangeFirst + 1)};
}

void ResetBlockRanges(BlockTable& blocks) {
    for (TrackBlock& b : blocks.Items()) {
        b.RangeStart = b.StartTime;
        b.RangeEnd = b.EndTime;
        b.RangeFirst = b.First;
        b.RangeLast = b.Last;
    }
}

int RangeIconIndex(const TLogData& p, const TConversionOptions& o) {
    if ((p.Flags & InterestPoint) && o.Visible[4]) return 4;
    if ((p.Flags & VoicePoint) && o.Visible[5]) return 5;
    if (std::isnan(p.Speed)) return -1;
    if (std::fabs(o.SpeedClassBounds[4]) <= p.Speed && o.Visible[3]) return 3;
    if (std::fabs(o.SpeedClassBounds[3]) <= p.Speed && o.Visible[2]) return 2;
    if (std::fabs(o.SpeedClassBounds[2]) <= p.Speed && o.Visible[1]) return 1;
    return o.Visible[0] ? 0 : -1;
}

PointList FillPointList(const PointStream& ps, const TrackBlock& b, const TConversionOptions& o,
                        const std::string& text, RangeSide side, const ShownTime* shown) {
    PointList list;
    if (ps.Empty()) return list;
    double local = 0;
    if (!TryParseBlockTime(text, b, o, local, side, shown)) local = 0;
    const int32_t c = FindRecordByTime(ps, b, local + o.TimeOffset);
    const int32_t lo = std::max<int64_t>(static_cast<int64_t>(c) - 100, b.First);
    const int32_t hi = std::min<int64_t>(static_cast<int64_t>(c) + 100, b.Last);
    list.first = lo;
    if (hi < lo) return list;
    list.rows.reserve(static_cast<size_t>(hi - lo + 1));
    auto cur = ps.Seek(lo);
    char buf[64];
    for (int64_t i = lo; i <= hi; ++i, ++cur) {
        const TLogData& p = *cur;
        RangeRow r;
        r.icon = RangeIconIndex(p, o);
        r.point = IntToStrSep(i + 1);
        r.time = p.Time - o.TimeOffset;
        r.dateTime = DateTimeToText(r.time, o);
        r.lon = FormatRangeDmsHemi("EW", 4, p.Lon, o.DegChar);
        r.lat = FormatRangeDmsHemi("NS", 4, p.Lat, o.DegChar);
        const double speed = p.Speed * o.SpeedFactor;
        if (std::isfinite(speed)) {
            std::snprintf(buf, sizeof buf, "%3.1f", speed);
            r.speed = buf;
        }
        list.rows.push_back(std::move(r));
    }
    list.selected = c - lo;
    return list;
}

std::string RangeTitle(int32_t curBlock, const TrackBlock& b, const TConversionOptions& o) {
    return "Block:" + std::to_string(static_cast<int64_t>(curBlock) + 1) + "   " +
           DateTimeToText(b.StartTime - o.TimeOffset, o) + "  to  " + DateTimeToText(b.EndTime - o.TimeOffset, o);
}

std::string SpeedColumnTitle(const TConversionOptions& o) { return "Spd(" + o.SpeedUnit + ")"; }

RangeOkResult ApplyRangeEdits(std::string& startText, std::string& finalText, TrackBlock& b, const PointStream& ps,
                              const TConversionOptions& o, RangeShown* shown) {
    try {
        ClampRangeEdits(startText, finalText, b, o, shown);
        // What the clamp put back must itself read: a time taken as 0 would cut the block to nothing.
        double start = 0, end = 0;
        if (!TryParseBlockTime(startText, b, o, start, RangeSide::Start, shown ? &shown->start : nullptr) ||
            !TryParseBlockTime(finalText, b, o, end, RangeSide::Final, shown ? &shown->final : nullptr))
            return RangeOkResult::BadFormat;
        start += o.TimeOffset;
        end += o.TimeOffset;
        // Stored only when they make a range: a rejected pair must not outlive a later Cancel.
        if (!(start <= end)) return RangeOkResult::StartAfterEnd;
        b.RangeStart = start;
        b.RangeEnd = end;
        b.RangeFirst = FindRecordByTime(ps, b, start);
        b.RangeLast = FindRecordByTime(ps, b, end);
        return RangeOkResult::Accepted;
    } catch (const std::exception&) {
        return RangeOkResult::BadFormat;
    }
}

}  // namespace ts
