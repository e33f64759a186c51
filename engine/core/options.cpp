#include "core/options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/date_time.h"
#include "core/text_format.h"

namespace ts {

namespace {

std::string MaskExt(const std::string& mask) { return LowerCase(ExtractFileExt(mask)); }

std::string HexUpper(uint64_t v, int minDigits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", minDigits, static_cast<unsigned long long>(v));
    return buf;
}

}  // namespace

std::string BuildExtensionList(const TConversionOptions& o) {
    std::string list = ".nme.nmea.log";
    for (const std::string* m : {&o.WBTmask, &o.RBTmask, &o.iBluemask, &o.WBT201mask, &o.WBT201mask2, &o.WBT201mask3,
                                 &o.WBT202mask, &o.Holuxmask, &o.TripMatemask})
        list += MaskExt(*m);
    return list + ".";
}

std::string NormalizeDateFormat(const std::string& text, char& sep) {
    const std::string typed = Trim(text);
    const std::string s = LowerCase(typed);
    std::string out;
    bool yearWritten = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"' || c == '\'') {
            // Quoted text is shown as typed, so its letters are no fields and nothing in it
            // separates dates; an unclosed quote runs to the end, as the formatter reads it, and
            // is closed there so that a time put after the date is no quoted text.
            const size_t close = std::min(s.find(c, i + 1), s.size());
            out.append(typed, i, close - i + 1);
            if (close == s.size()) out += c;
            i = close;
        } else if (c == 'd' || c == 'm') {
            out += c;
        } else if (c == 'y') {
            if (!yearWritten) out += "yyyy";
            yearWritten = true;
        } else {
            out += c;
            if (!(c >= 'a' && c <= 'z')) sep = c;
        }
    }
    return out;
}

double DisplaySpeedToKnots(TConversionOptions& o, const std::string& text) {
    const double v = StrToFloatSafe(text);
    if (o.SpeedUnit == "mph") return v / 1.150779448;
    if (o.SpeedUnit == "km/h") return v / 1.852;
    o.SpeedUnit = "kt";
    return v;
}

std::string KnotsToDisplayText(TConversionOptions& o, double knots) {
    double v = knots;
    if (o.SpeedUnit == "mph") v = knots * 1.150779448;
    else if (o.SpeedUnit == "km/h") v = knots * 1.852;
    else o.SpeedUnit = "kt";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3.1f", std::isfinite(v) ? v : 0.0);
    return buf;
}

void ReadSpeedClassBounds(TConversionOptions& o) {
    o.SpeedClassBounds[1] = 0;
    o.SpeedClassBounds[2] = DisplaySpeedToKnots(o, o.OverSpeed2);
    o.SpeedClassBounds[3] = DisplaySpeedToKnots(o, o.OverSpeed3);
    o.SpeedClassBounds[4] = DisplaySpeedToKnots(o, o.OverSpeed4);
}

std::string MakeKmlColor(const std::string& alphaText, uint32_t color) {
    int32_t alpha;
    if (!TryStrToInt(alphaText, alpha)) return "C800FFFF";
    // Opacity is one byte; anything else would break the eight-digit colour.
    if (alpha < 0) alpha = 0;
    if (alpha > 255) alpha = 255;
    return HexUpper(static_cast<uint64_t>(alpha), 2) + HexUpper(color & 0xFFFFFFu, 6);
}

double ParseTimeOffset(const std::string& text) {
    try {
        const size_t minus = text.find('-');
        if (minus != std::string::npos) return StrToTime(Trim(text.substr(minus + 1)));
        std::string t = Trim(text);
        if (!t.empty() && t[0] == '+') t = Trim(t.substr(1));
        return -StrToTime(t);
    } catch (const ConvertError&) {
        return 0;
    }
}

double SystemUtcOffsetDays() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::round(static_cast<double>(local.tm_gmtoff)) / 86400.0;
}

std::string FormatUtcOffset(double d) {
    if (!std::isfinite(d)) d = 0;
    d = std::round(d * 86400.0) / 86400.0;
    if (d < 0) return FormatDateTime("-hh:nn:ss", -d);
    return FormatDateTime(" hh:nn:ss", d);
}

namespace {
std::string ReplaceChar(std::string s, char from, char to) {
    for (char& c : s)
        if (c == from) c = to;
    return s;
}
}  // namespace

std::string TimeSepToUser(const LocaleFormats& lf, std::string s) {
    return ReplaceChar(std::move(s), lf.FileTimeSep, lf.UserTimeSep);
}
// Quoted text of a date format is the user's own: a blank or "/" in it is not a date separator.
namespace {
std::string ReplaceDateSep(std::string s, char from, char to) {
    char quote = 0;
    for (char& c : s) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == from) {
            c = to;
        }
    }
    return s;
}
}  // namespace

std::string DateSepToUser(const LocaleFormats& lf, std::string s) {
    return ReplaceDateSep(std::move(s), lf.FileDateSep, lf.UserDateSep);
}
std::string DateSepToEn(const LocaleFormats& lf, std::string s) {
    return ReplaceDateSep(std::move(s), lf.UserDateSep, lf.FileDateSep);
}

std::string UserDateOrderPattern(const std::string& shortDateFormat, char sep) {
    std::string rest = LowerCase(shortDateFormat);
    std::string out;
    int used = 0;
    for (int k = 0; k < 3; ++k) {
        // Skip anything that is not an element letter (quoted literals, era marks).
        size_t i = rest.find_first_of("dmy");
        if (i == std::string::npos) break;
        const char e = rest[i];
        if (!out.empty()) out += sep;
        out += std::string(2, e);
        ++used;
        const size_t s = rest.find(sep, i);
        if (s == std::string::npos) break;
        rest = rest.substr(s + 1);
    }
    // An unusual pattern falls back to the en-US order rather than a partial one.
    if (used != 3) return std::string("mm") + sep + "dd" + sep + "yy";
    return out;
}

void DeriveOptions(TConversionOptions& o) {
    o.ExtensionList = BuildExtensionList(o);
    o.KmlColor = MakeKmlColor(o.LineAlpha, o.LineColor);
    o.TimeOffset = o.ToLocaltime ? ParseTimeOffset(o.LocalTimeOffset) : 0.0;
    o.DateSeparator = '/';
    o.OutDateFormat = NormalizeDateFormat(o.OutDateFormatText, o.DateSeparator);
    o.UseFixOnly = o.FixDataOnly;
    o.AcceptEstimated = o.UseEstimated;
    o.PointNoteWanted = o.NoteDNum || o.NoteDate || o.NoteTime || o.NoteLat || o.NoteLon || o.NoteSpeed || o.NoteAlt;
    ReadSpeedClassBounds(o);
    o.SpeedFactor = o.SpeedUnit == "km/h" ? 1.852 : o.SpeedUnit == "mph" ? 1.150779448 : 1.0;
    o.SplitTime = StrToFloatSafe(o.SplitIT);
    if (!(o.SplitTime >= 0.25)) {
        o.SplitTime = 0.25;
        o.SplitIT = "0.25";
    }
}

bool KeepRepairedDecimals(const TConversionOptions& used, TConversionOptions& settings) {
    using O = TConversionOptions;
    static constexpr std::string O::*kDecimals[] = {&O::Digit,
                                                    &O::KmlLatLonDecimal,
                                                    &O::KmlAltDecimal,
                                                    &O::NoteLatLonDecimal,
                                                    &O::NoteAltDecimal,
                                                    &O::NoteSpeedDecimal,
                                                    &O::GpxLatLonDecimal,
                                                    &O::GpxAltDecimal,
                                                    &O::NmeaLatLonDecimal,
                                                    &O::NmeaAltDecimal,
                                                    &O::NmeaSpeedDecimal,
                                                    &O::CsvLatLonDecimal,
                                                    &O::CsvAltDecimal,
                                                    &O::CsvSpeedDecimal};
    bool changed = false;
    for (std::string O::*m : kDecimals) {
        if (settings.*m == used.*m) continue;
        settings.*m = used.*m;
        changed = true;
    }
    return changed;
}

}  // namespace ts

namespace ts {
std::array<std::string, kCsvItemCount> DefaultCsvItems() {
    std::array<std::string, kCsvItemCount> items;
    for (int i = 0; i < kCsvItemCount; ++i) items[i] = kCsvItemDefaults[i];
    return items;
}
}  // namespace ts
