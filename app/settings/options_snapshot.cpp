#include "settings/options_snapshot.h"

#include <cmath>
#include <cstdio>

#include "core/text_format.h"

namespace ts {

namespace {

std::string Fixed(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, std::isfinite(v) ? v : 0.0);
    return buf;
}

bool Metric(const Settings& s) { return s.opt.SpeedUnit == "km/h"; }

// A typed height as Convert uses it: a number in its key's range, else 0, and the next report
// says so (an empty edit is a plain 0).
double HeightValue(Settings& s, const char* section, const char* key, const std::string& text) {
    std::string t = text;
    double v = 0;
    if (CheckNumber(NumberKeyOf(section, key), t, v) == NumberCheck::Used) return v;
    if (!Trim(text).empty()) s.loadNotes.push_back(NotANumberLine(section, key, text, "0.00"));
    return 0.0;
}

}  // namespace

void TakeSnapshot(Settings& s, TConversionOptions& o) {
    // The edits then show the numbers as they are used, and as they will be saved and loaded.
    NormalizeDecimalTexts(s.opt);
    o = s.opt;
    DeriveOptions(o);
    s.opt.SplitIT = o.SplitIT;
    s.opt.SpeedUnit = o.SpeedUnit;
    s.opt.SpeedClassBounds = o.SpeedClassBounds;
    s.opt.KmlColor = o.KmlColor;
}

void ShowCustomGeoid(Settings& s) {
    const bool metric = Metric(s);
    s.GeoidUnit = metric ? "m" : "ft";
    s.opt.GeoidValue = Fixed("%4.2f", metric ? s.opt.FixedGeoid : s.opt.FixedGeoid / 0.3048);
    if (s.opt.GeoidModel == 0) s.opt.GeoidCaption = s.opt.GeoidValue + " " + s.GeoidUnit;
}

void ParseCustomGeoid(Settings& s) {
    s.opt.FixedGeoid = HeightValue(s, "Geoid", "GeoidValue", s.opt.GeoidValue) * (Metric(s) ? 1.0 : 0.3048);
    ShowCustomGeoid(s);
}

void ShowGroundLevel(Settings& s) {
    const bool metric = Metric(s);
    s.GroundLevelUnit = metric ? "m" : "ft";
    s.opt.GroundLevelValue = Fixed("%4.2f", metric ? s.opt.GroundLevel : s.opt.GroundLevel / 0.3048);
}

void ParseGroundLevel(Settings& s) {
    s.opt.GroundLevel =
        HeightValue(s, "GroundLevel", "GroundLevelValue", s.opt.GroundLevelValue) * (Metric(s) ? 1.0 : 0.3048);
    ShowGroundLevel(s);
}

void ShowSpeedClassBounds(Settings& s) {
    s.opt.OverSpeed2 = KnotsToDisplayText(s.opt, s.opt.SpeedClassBounds[2]);
    s.opt.OverSpeed3 = KnotsToDisplayText(s.opt, s.opt.SpeedClassBounds[3]);
    s.opt.OverSpeed4 = KnotsToDisplayText(s.opt, s.opt.SpeedClassBounds[4]);
}

void CycleSpeedUnit(Settings& s) {
    const std::string old = s.opt.SpeedUnit;
    if (s.opt.GeoidValue != s.LastCustomGeoidText) ParseCustomGeoid(s);
    if (s.opt.GroundLevelValue != s.LastGroundLevelText) ParseGroundLevel(s);
    NormalizeDecimalTexts(s.opt);
    ReadSpeedClassBounds(s.opt);
    std::string& unit = s.opt.SpeedUnit;
    if (unit == "km/h") unit = "mph";
    else if (unit == "mph") unit = "kt";
    else if (unit == "kt") unit = "km/h";
    ShowSpeedClassBounds(s);
    if (old == "km/h" && unit != "km/h") s.opt.MovingDist = Fixed("%3.1f", s.opt.MoveDistMin / 0.3048);
    else if (old != "km/h" && unit == "km/h") s.opt.MovingDist = Fixed("%3.1f", s.opt.MoveDistMin);
    ApplyReduceSettings(s);
    ShowCustomGeoid(s);
    ShowGroundLevel(s);
    s.LastCustomGeoidText = s.opt.GeoidValue;
    s.LastGroundLevelText = s.opt.GroundLevelValue;
}

}  // namespace ts
