#include "settings/settings.h"

#include "geoid/geoid_models.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "core/text_format.h"
#include "settings/options_snapshot.h"

namespace ts {

const std::array<const char*, kCsvItemCount> kCsvItemKeys = {
    "RCR",   "Date", "Time", "Valid", "Latitude", "NS",   "Longitude", "EW",   "Height",
    "Speed", "HDOP", "Nsat", "Temp",  "Barom",    "PAlt", "Voice",     "Geoid"};

const std::array<const char*, 7> kPointNameItems = {
    "no name (None)", "Number (Num)",  "Date Time (Date)", "Time (Time)", "Latitude Longitude (LatLon)",
    "Speed (Spd)",    "Altitude (Alt)"};

namespace {

// A scale edit's text as a number; text that is not a number gives 1.0.
double StrToFloatOr1(const std::string& s) {
    double v = 0;
    return ReadDecimal(s, v) ? v : 1.0;
}

const char* const kGridSections[3] = {"EGM2008_25", "EGM2008_10", "GSI2000"};
GeoidGridParams TConversionOptions::*const kGridFields[3] = {
    &TConversionOptions::Egm2008_25, &TConversionOptions::Egm2008_10, &TConversionOptions::Gsi2000};

const char* const kIconNameKeys[8] = {"IconSp1",   "IconSp2",    "IconSp3",   "IconSp4",
                                      "IconIrest", "IconIrest2", "IconStart", "IconEnd"};
const char* const kIconDefaults[8] = {"pal4/icon57.png", "pal4/icon49.png", "pal4/icon51.png", "pal2/icon56.png",
                                      "pal4/icon46.png", "pal5/icon29.png", "pal5/icon26.png", "pal5/icon60.png"};
const char* const kVisibleKeys[8] = {"Visible1",     "Visible2",      "Visible3",     "Visible4",
                                     "VisibleIrest", "VisibleIrest2", "VisibleStart", "VisibleEnd"};
const char* const kOldIconPos[8] = {"Speed1", "Speed2", "Speed3", "Speed4", "Irest", "Irest2", "Start", "End"};

const char* const kBuiltinCsvInfo[] = {
    "Wintec=Order,Date Created,Bearing,Elevation,Distance from Start,Distance from Last",
    "V-900, VGPS-900=TAG,LATITUDE N/S,LONGITUDE E/W,VOX",
    "M-241=M-241",
    "M-241 Ver1.12=M-241 Ver1.12",
    "M-241 Ver1.13=M-241 Ver1.13",
    "GT-730FL-S=Date / Time,Altitude,Ground Speed"};
const char* const kBuiltinCsvOption[] = {"Default=0,0,0",     "Wintec=1,1,0",        "V-900, VGPS-900=0,1,1",
                                         "M-241=0,1,0",       "M-241 Ver1.12=0,1,0", "M-241 Ver1.13=0,1,0",
                                         "GPSport 245=0,1,0", "ASG-1=0,1,0",         "GT-730FL-S=0,1,0,2,0,1"};

const std::string kDefaultIconPath = TConversionOptions().IconPath;

// A failure that ends the load or the save where it stands.
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool ParseIniInt(const std::string& text, int32_t& out) {
    const std::string t = Trim(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        uint32_t v = 0;
        auto [p, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), v, 16);
        if (ec != std::errc() || p != t.data() + t.size()) return false;
        out = static_cast<int32_t>(v);
        return true;
    }
    return TryStrToInt(t, out);
}

std::string BoolText(bool b) { return b ? "1" : "0"; }

class Reader {
public:
    Reader(IniStore& ini, std::vector<std::string>& notes) : ini_(ini), notes_(notes) {}
    std::string S(const char* sec, const std::string& key, const std::string& def) {
        return ini_.ReadString(sec, key, def);
    }
    bool B(const char* sec, const std::string& key, bool def) {
        int32_t v;
        return ParseIniInt(ini_.ReadString(sec, key, ""), v) ? v != 0 : def;
    }
    // Numbers, each within the range of its entry in the key table. A stored text that cannot be
    // used gives the default, and the user is told (a missing key is no such text).
    int32_t I(const char* sec, const std::string& key, int32_t def) {
        const NumberKey& k = NumberKeyOf(sec, key);
        const std::string defText = std::to_string(def);
        const std::string v = ini_.ReadString(sec, key, defText);
        int32_t n;
        if (ParseIniInt(v, n) && NumberInRange(k, n)) return n;
        Replaced(sec, key, v, defText);
        return def;
    }
    double F(const char* sec, const std::string& key, double def) {
        const NumberKey& k = NumberKeyOf(sec, key);
        const std::string defText = FloatKeyText(def);
        const std::string v = ini_.ReadString(sec, key, defText);
        double d;
        if (ReadDecimal(v, d) && NumberInRange(k, d)) return d;
        Replaced(sec, key, v, defText);
        return def;
    }
    // A number kept as the text its edit shows: the stored text when it is a number in range,
    // else the default (hand-edited values would reach the output files as they stand). An empty
    // value gives ifEmpty where the key has a fixed text for it.
    std::string N(const char* sec, const std::string& key, const std::string& def, const char* ifEmpty = nullptr) {
        const NumberKey& k = NumberKeyOf(sec, key);
        const std::string v = DecimalPointText(ini_.ReadString(sec, key, def));
        if (v.empty() && ifEmpty) return ifEmpty;
        double d;
        return TryStrToFloat(v, d) && NumberInRange(k, d) ? v : Replaced(sec, key, v, def);
    }
    // The same for whole numbers.
    std::string W(const char* sec, const std::string& key, const std::string& def, const char* ifEmpty = nullptr) {
        const NumberKey& k = NumberKeyOf(sec, key);
        const std::string v = ini_.ReadString(sec, key, def);
        if (v.empty() && ifEmpty) return ifEmpty;
        int32_t n;
        return TryStrToInt(v, n) && NumberInRange(k, n) ? v : Replaced(sec, key, v, def);
    }
    // A stored number that is no longer written: its value, or NaN after telling the user.
    double Old(const char* sec, const std::string& key, const std::string& v) {
        double d;
        if (ReadDecimal(v, d) && NumberInRange(NumberKeyOf(sec, key), d)) return d;
        notes_.push_back(NotANumberLine(sec, key, v, "not"));
        return NAN;
    }
    void Delete(const char* sec, const std::string& key) {
        if (!ini_.DeleteKey(sec, key)) throw StoreError("cannot delete " + key);
    }
    void Erase(const char* sec) {
        if (!ini_.EraseSection(sec)) throw StoreError(std::string("cannot erase ") + sec);
    }

private:
    // A stored number that cannot be used gives way to the default, and the user is told.
    const std::string& Replaced(const char* sec, const std::string& key, const std::string& v, const std::string& def) {
        if (v != def) notes_.push_back(NotANumberLine(sec, key, v, def));
        return def;
    }
    IniStore& ini_;
    std::vector<std::string>& notes_;
};

class Writer {
public:
    explicit Writer(IniStore& ini) : ini_(ini) {}
    void S(const char* sec, const std::string& key, const std::string& v) {
        if (!ini_.WriteString(sec, key, v)) throw StoreError("cannot write " + key);
    }
    void B(const char* sec, const std::string& key, bool v) { S(sec, key, BoolText(v)); }
    void I(const char* sec, const std::string& key, int64_t v) { S(sec, key, std::to_string(v)); }
    void F(const char* sec, const std::string& key, double v) { S(sec, key, FloatKeyText(v)); }

private:
    IniStore& ini_;
};

std::string OrIfEmpty(const std::string& v, const char* def) { return v.empty() ? def : v; }

// The first character of a text, all of its UTF-8 bytes; a byte that starts no valid sequence is
// read as Windows-1252.
std::string FirstCharacter(const std::string& s) {
    if (s.empty()) return s;
    const size_t n = static_cast<unsigned char>(s[0]) < 0x80 ? 1 : Utf8SequenceLength(s, 0);
    return n > 0 ? s.substr(0, n) : ToUtf8FromLegacy(s.substr(0, 1));
}

// The record type letter goes as it is into a field of the CSV output: a letter that would end the
// field or the row, open a quoted text or carry a control character gives way to the default.
std::string TagLetter(const std::string& text, const char* def) {
    const std::string c = UpperCase(FirstCharacter(text));
    const unsigned char u0 = c.empty() ? 0 : static_cast<unsigned char>(c[0]);
    const bool c1 = c.size() == 2 && u0 == 0xC2 && static_cast<unsigned char>(c[1]) < 0xA0;  // U+0080..U+009F
    if (c.empty() || u0 < 0x20 || u0 == 0x7F || c1 || c == "," || c == "\"") return def;
    return c;
}

bool Contains(const std::string& list, const std::string& item) { return list.find(item) != std::string::npos; }

void AppendIfMissing(std::string& list, const std::string& item) {
    if (!Contains(list, item)) list += "," + item;
}

// The offset text as the time edit shows it: a sign or blank first, two-digit hours.
std::string NormalizeOffsetText(const std::string& stored) {
    std::string t = stored;
    if (Trim(t).empty()) return " 00:00:00";
    if (t[0] != ' ' && t[0] != '+' && t[0] != '-') t = " " + t;
    if (t.find(':') == 2) t.insert(1, "0");
    return t;
}

std::string FormatFixed(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, std::isfinite(v) ? v : 0.0);
    return buf;
}

// Older versions wrote the degree sign in the user's code page: 0x81 0x8B (Japanese) or 0xB0. The
// store reads such bytes as Windows-1252, so the Japanese one arrives as U+FFFD U+2039.
std::string DegreeSign(const std::string& stored) {
    static const std::string kJapanese = ToUtf8FromLegacy("\x81\x8B");
    if (stored == kJapanese || stored == "\x81\x8B" || stored == "\xB0") return "\xC2\xB0";
    return stored;
}

void RemoveProfile(ProfileList& list, const std::string& name) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->first == name) {
            list.erase(it);
            return;
        }
}

void Load(Settings& s, IniStore& ini) {
    Reader r(ini, s.loadNotes);
    TConversionOptions& o = s.opt;

    // Window position.
    const int top = r.I("Option", "MainTop", -50), left = r.I("Option", "MainLeft", -50);
    s.MainTop = ClampWindowTop(s.WorkArea, top, s.MainHeight);
    s.MainLeft = ClampWindowLeft(s.WorkArea, left, s.MainWidth);
    s.MainTopCentred = s.MainTop != top;
    s.MainLeftCentred = s.MainLeft != left;

    s.SettingsVersion = r.S("Option", "Version", "");
    s.versionRead = true;
    // A step runs when the stored caption sorts before the caption of its version, byte by byte:
    // an empty version runs every step, a text after every caption runs none.
    auto below = [&s](const char* version) { return s.SettingsVersion < std::string(kCaptionPrefix) + version; };

    o.GPXout = r.B("Option", "GPXout", o.GPXout);
    o.NMEAout = r.B("Option", "NMEAout", o.NMEAout);
    o.KMLout = r.B("Option", "KMLout", o.KMLout);
    o.KMZout = r.B("Option", "KMZout", o.KMZout);
    o.CSVout = r.B("Option", "CSVout", o.CSVout);
    s.NoteGroupVisible = !o.CSVout || o.KMLout || o.KMZout;
    o.ToLocaltime = r.B("Option", "ToLocaltime", o.ToLocaltime);
    o.OverSpeed2 = r.N("Option", "OverSpeed2", o.OverSpeed2, "50");
    o.OverSpeed3 = r.N("Option", "OverSpeed3", o.OverSpeed3, "100");
    o.OverSpeed4 = r.N("Option", "OverSpeed4", o.OverSpeed4, "200");
    s.DataPath = r.S("Option", "DataPath", s.programDir);
    s.OpenDir = s.DataPath;
    o.FixDataOnly = r.B("Option", "FixDataOnly", o.FixDataOnly);
    o.UseEstimated = r.B("Option", "UseEstimated", o.UseEstimated);
    o.AutoOffs = r.B("LocalTime", "AutoOffs", o.AutoOffs);

    const std::string unit = LowerCase(r.S("Option", "SpeedUnit", o.SpeedUnit));
    o.SpeedUnit = unit == "mph" ? "mph" : unit == "kt" ? "kt" : "km/h";
    // Both heights are taken in this unit from the start, so both labels name it.
    s.GeoidUnit = s.GroundLevelUnit = o.SpeedUnit == "km/h" ? "m" : "ft";
    o.SplitIT = r.N("Option", "SplitIT", o.SplitIT, "150");
    s.OpenFiltIdx = r.I("Option", "OpenFiltIdx", s.OpenFiltIdx);

    std::string* masks[9] = {&o.WBTmask,     &o.RBTmask,    &o.iBluemask, &o.WBT201mask,  &o.WBT201mask2,
                             &o.WBT201mask3, &o.WBT202mask, &o.Holuxmask, &o.TripMatemask};
    const char* maskKeys[9] = {"WBTmask",     "RBTmask",    "iBluemask", "WBT201mask",  "WBT201mask2",
                               "WBT201mask3", "WBT202mask", "Holuxmask", "TripMatemask"};
    const char* maskDefs[9] = {"*.tks", "*.txt", "*.csv", "*.tk1", "*.tk2", "*.tk3", "*.TES", "*.trl", "*.nma"};
    for (int i = 0; i < 9; ++i) *masks[i] = LowerCase(r.S("Option", maskKeys[i], maskDefs[i]));

    o.TrackOut = r.B("Option", "TrackOut", o.TrackOut);
    o.PointOut = r.B("Option", "PointOut", o.PointOut);
    o.OutLimit = r.B("Option", "OutLimit", o.OutLimit);
    o.Accel_g = r.F("Option", "Accel_g", 0.5);
    o.WPL_Prefix = r.S("Option", "WPL_Prefix", "Trailsmith_");
    o.WPV_Prefix = r.S("Option", "WPV_Prefix", "VOX");
    o.VisibleOnly = r.B("Option", "VisibleOnly", o.VisibleOnly);
    o.MaskUse = r.B("Option", "MaskUse", o.MaskUse);
    o.HdopMask = r.N("Option", "HdopMask", o.HdopMask);
    o.NsatMask = r.W("Option", "NsatMask", o.NsatMask);
    o.NoTab = r.B("Option", "NoTab", o.NoTab);
    s.HeightFromGround = r.B("Option", "HeightFromGround", false);
    o.PointName = r.S("Option", "PointName", o.PointName);
    ApplyPointName(s);
    o.DateOnly = r.B("Option", "DateOnly", false);

    o.GeoidPath = r.S("Geoid", "GeoidPath", "");
    if (!o.GeoidPath.empty()) {
        // No drive letters here: a name ending in ":" is a folder like any other.
        if (o.GeoidPath.back() != '/') o.GeoidPath += '/';
        o.GeoidFolder = o.GeoidPath;
    } else {
        o.GeoidFolder = s.programDir;
    }
    s.GeoidModelText = r.S("Geoid", "GeoidModel", "Fixed value");
    o.Digit = r.W("Geoid", "Digit", "3");
    o.PostFix = r.S("Geoid", "PostFix", "_g");

    for (int i = 0; i < 3; ++i) {
        const GeoidGridParams d = TConversionOptions().*kGridFields[i];
        GeoidGridParams& g = s.Grid(i);
        const char* sec = kGridSections[i];
        g.fname = r.S(sec, "fname", d.fname);
        g.nrows = r.I(sec, "nrows", d.nrows);
        g.ncols = r.I(sec, "ncols", d.ncols);
        g.glamn = r.F(sec, "glamn", d.glamn);
        g.glomn = r.F(sec, "glomn", d.glomn);
        g.dgla = r.F(sec, "dgla", d.dgla);
        g.dglo = r.F(sec, "dglo", d.dglo);
        g.nlat = r.I(sec, "nlat", d.nlat);
        g.nlon = r.I(sec, "nlon", d.nlon);
        g.PrePad = r.I(sec, "PrePad", d.PrePad);
    }
    o.Spline = r.B("GSI2000", "Spline", o.Spline);

    s.InterestText = OrIfEmpty(r.S("CSVtag", "Interest", "B"), "B");
    o.Interest = TagLetter(s.InterestText, "B");
    s.LabelIntHint = std::string("POI1 \"") + o.Interest + "\"";
    s.Interest2Text = OrIfEmpty(r.S("CSVtag", "Interest2", "V"), "V");
    o.Interest2 = TagLetter(s.Interest2Text, "V");
    s.LabelVoiceHint = std::string("POI1 \"") + o.Interest2 + "\"";

    o.Mode3D = r.B("3D", "3D_mode", o.Mode3D);
    o.Range = r.N("3D", "Range", o.Range);
    o.Tilt = r.N("3D", "Tilt", o.Tilt);
    o.Heading = r.N("3D", "Heading", o.Heading);
    o.AutoPos = r.B("3D", "AutoPos", o.AutoPos);
    o.Start = r.B("3D", "Start", o.Start);
    o.Half = r.B("3D", "Half", o.Half);
    o.Final = r.B("3D", "Final", o.Final);
    o.LExtrude = r.B("3D", "LExtrude", o.LExtrude);
    o.PExtrude = r.B("3D", "PExtrude", o.PExtrude);
    o.ClampToGnd = r.B("3D", "ClampToGnd", o.ClampToGnd);
    o.RelativeToGnd = r.B("3D", "RelativeToGnd", o.RelativeToGnd);
    o.Absolute = r.B("3D", "Absolute", o.Absolute);
    o.AltReplace = r.B("3D", "AltReplace", o.AltReplace);
    o.Multi = r.N("3D", "Multi", o.Multi);
    o.Offset3D = r.N("3D", "Offset", o.Offset3D);
    o.ViewLon = r.N("3D", "ViewLon", o.ViewLon);
    o.ViewLat = r.N("3D", "ViewLat", o.ViewLat);
    o.ViewAlt = r.N("3D", "ViewAlt", o.ViewAlt);
    o.TrackToGnd = r.B("3D", "TrackToGnd", o.TrackToGnd);
    o.PlaceMarkToGnd = r.B("3D", "PlaceMarkToGnd", o.PlaceMarkToGnd);
    o.AutoHeading = r.B("3D", "AutoHeading", o.AutoHeading);
    o.North = r.B("3D", "North", o.North);
    o.East = r.B("3D", "East", o.East);
    o.South = r.B("3D", "South", o.South);
    o.West = r.B("3D", "West", o.West);
    o.AutoRange = r.B("3D", "AutoRange", o.AutoRange);
    o.AutoRangeMulti = r.N("3D", "AutoRangeMulti", o.AutoRangeMulti);

    o.DateSep = SanitizeName(r.S("Separator", "DateSep", "-"), '-');
    o.TimeSep = SanitizeName(r.S("Separator", "TimeSep", "-"), '-');
    o.DateTimeSep = SanitizeName(r.S("Separator", "DateTimeSep", "_"), '_');
    o.StartEndSep = SanitizeName(r.S("Separator", "StartEndSep", ""), '_');

    ApplyMaskSettings(s);

    if (!o.AutoOffs) o.LocalTimeOffset = NormalizeOffsetText(r.S("LocalTime", "Offset", o.LocalTimeOffset));
    else o.LocalTimeOffset = SystemUtcOffsetText();

    o.DateAutoFormat = r.B("DateFormat", "AutoFormat", o.DateAutoFormat);
    if (!o.DateAutoFormat) {
        const std::string f = Trim(r.S("DateFormat", "Format", DateSepToUser(s.locale, o.OutDateFormatText)));
        o.OutDateFormatText = f.empty() ? DateSepToUser(s.locale, "YY/MM/DD") : f;
    } else {
        o.OutDateFormatText = s.locale.UserDateFormatText;
    }
    o.TimeAutoFormat = r.B("TimeFormat", "AutoFormat", o.TimeAutoFormat);
    if (!o.TimeAutoFormat) {
        const std::string f = Trim(r.S("TimeFormat", "Format", TimeSepToUser(s.locale, o.TimeFormatText)));
        o.TimeFormatText = f.empty() ? TimeSepToUser(s.locale, "hh:mm:ss") : f;
    } else {
        o.TimeFormatText = s.locale.UserTimeFormatText;
    }

    o.LineColor = static_cast<uint32_t>(r.I("Line", "Color", static_cast<int32_t>(o.LineColor)));
    o.LineAlpha = r.W("Line", "Alpha", o.LineAlpha, "200");
    o.LineWidth = r.N("Line", "Width", o.LineWidth, "3");
    o.Random = r.B("Line", "Random", o.Random);

    o.ReduseOut = r.B("Reduce", "ReduseOut", o.ReduseOut);
    const std::string oldMinutes = r.S("Reduce", "ElapsesTime", "");
    const double minutes = oldMinutes.empty() ? NAN : r.Old("Reduce", "ElapsesTime", oldMinutes);
    if (!std::isnan(minutes)) {
        o.ElapsedMin = minutes / 1440.0;
        o.ElapsesTimes = FormatFixed("%3.2f", o.ElapsedMin * 86400.0);
    } else {
        o.ElapsesTimes = r.N("Reduce", "ElapsesTimes", "10.0");
    }
    if (!oldMinutes.empty()) r.Delete("Reduce", "ElapsesTime");
    o.MovingDist = r.N("Reduce", "MovingDist", "30.0", "");  // empty: the reduction's least distance

    o.GeoidValue = r.N("Geoid", "GeoidValue", "0.0");
    o.GeoidApply = r.B("Geoid", "Apply", false);
    o.CustomGeoidFName = r.S("Custom Geoid", "fname", "");
    o.CustomGeoidExt = r.S("Custom Geoid", "Ext", ".cdat");
    o.GroundLevelValue = r.N("GroundLevel", "GroundLevelValue", "0.0");
    o.GroundLevelApply = r.B("GroundLevel", "Apply", false);
    s.LastCustomGeoidText.clear();
    s.LastGroundLevelText.clear();
    UpdateGeoidCaption(s);

    o.NoteDNum = r.B("Note", "DNum", o.NoteDNum);
    o.NoteDate = r.B("Note", "Date", o.NoteDate);
    o.NoteTime = r.B("Note", "Time", o.NoteTime);
    o.NoteLat = r.B("Note", "Lat", o.NoteLat);
    o.NoteLon = r.B("Note", "Lon", o.NoteLon);
    o.NoteSpeed = r.B("Note", "Speed", o.NoteSpeed);
    o.NoteAlt = r.B("Note", "Alt", o.NoteAlt);
    o.NoteHdop = r.B("Note", "Hdop", o.NoteHdop);
    o.NoteNsat = r.B("Note", "Nsat", o.NoteNsat);
    o.NoteTemp = r.B("Note", "Temp", o.NoteTemp);
    o.NotePressure = r.B("Note", "Pressure", o.NotePressure);
    o.NotePressureAlt = r.B("Note", "PressureAlt", o.NotePressureAlt);
    o.NoteToBalloon = r.B("Note", "NoteToBalloon", o.NoteToBalloon);
    o.NoteVoiceFile = r.B("Note", "VoiceFile", o.NoteVoiceFile);

    // Decimals load as stored: the writers repair a value out of their range and keep the repair.
    o.NoteLatLonDecimal = r.S("Note", "LatLonDecimal", "7");
    o.NoteAltDecimal = r.S("Note", "AltDecimal", "1");
    o.NoteSpeedDecimal = r.S("Note", "SpeedDecimal", "1");
    o.KmlLatLonDecimal = r.S("KMLKMZopt", "LatLonDecimal", "7");
    o.KmlAltDecimal = r.S("KMLKMZopt", "AltDecimal", "1");
    o.IconToKMZ = r.B("KMLKMZopt", "IconToKMZ", true);
    o.TimeStamp = r.B("KMLKMZopt", "TimeStamp", false);
    o.Index = r.B("CSVopt", "Index", o.Index);
    o.DateTime = r.B("CSVopt", "DateTime", o.DateTime);
    o.SNEW = r.B("CSVopt", "SNEW", o.SNEW);
    o.CsvLatLonDecimal = r.S("CSVopt", "LatLonDecimal", "7");
    o.CsvAltDecimal = r.S("CSVopt", "AltDecimal", "3");
    o.CsvSpeedDecimal = r.S("CSVopt", "SpeedDecimal", "3");
    o.CsvGeoid = r.B("CSVopt", "Geoid", o.CsvGeoid);
    o.GpxLatLonDecimal = r.S("GPXopt", "LatLonDecimal", "7");
    o.GpxAltDecimal = r.S("GPXopt", "AltDecimal", "1");
    o.NmeaLatLonDecimal = r.S("NMEAopt", "LatLonDecimal", "4");
    o.NmeaAltDecimal = r.S("NMEAopt", "AltDecimal", "1");
    o.NmeaSpeedDecimal = r.S("NMEAopt", "SpeedDecimal", "1");
    o.IgnoreSpace = r.B("NMEAopt", "IgnoreSpace", false);

    // Font. The file is UTF-8, so the degree sign is the same character in every locale.
    if (s.japaneseLocale) {
        s.UiFontCharset = r.I("Font", "Charset", 128);
        s.UiFontName = r.S("Font", "FontName", "MS PGothic");
        s.UiFontSize = r.I("Font", "FontSize", 9);
    } else {
        const bool eng = below("1.45");
        s.UiFontCharset = r.I("Font", eng ? "EngCharset" : "Charset", s.UiFontCharset);
        s.UiFontName = r.S("Font", eng ? "EngFontName" : "FontName", s.UiFontName);
        s.UiFontSize = r.I("Font", eng ? "EngFontSize" : "FontSize", s.UiFontSize);
    }
    o.DegChar = DegreeSign(r.S("Font", "DegChar", "\xC2\xB0"));

    o.IconPath = OrIfEmpty(r.S("Icon", "IconPath", kDefaultIconPath), kDefaultIconPath.c_str());
    for (int i = 0; i < 6; ++i) o.PaletteIconName[i] = LowerCase(r.S("Icon", kIconNameKeys[i], kIconDefaults[i]));
    for (int i = 0; i < 8; ++i) s.InternalIconScale[i] = r.F("Icon", std::string(kIconNameKeys[i]) + "S", 1.0);
    for (int i = 0; i < 8; ++i) s.ExternalIconScale[i] = r.F("ExtIcon", "ExtIcon" + std::to_string(i + 1) + "S", 1.0);
    o.PaletteIconName[6] = LowerCase(r.S("Icon", below("1.55") ? "IconFL" : "IconStart", kIconDefaults[6]));
    o.PaletteIconName[7] = LowerCase(r.S("Icon", "IconEnd", kIconDefaults[7]));

    std::array<std::string, 8> oldX, oldY;
    if (below("2.01")) {
        for (int i = 0; i < 8; ++i) {
            oldX[i] = r.S("Icon", std::string(kOldIconPos[i]) + "X", "");
            oldY[i] = r.S("Icon", std::string(kOldIconPos[i]) + "Y", "");
        }
        for (int i = 0; i < 8; ++i) {
            r.Delete("Icon", std::string(kOldIconPos[i]) + "X");
            r.Delete("Icon", std::string(kOldIconPos[i]) + "Y");
        }
    }
    o.IconSource = r.I("Icon", "IconSource", 0);
    if (below("2.01")) r.Delete("Icon", "IconSouce");
    for (int i = 0; i < 8; ++i) ConvertOldIconName(o.PaletteIconName[i], oldX[i], oldY[i], kIconDefaults[i]);

    for (int i = 0; i < 8; ++i) o.Visible[i] = r.B("Icon", kVisibleKeys[i], o.Visible[i]);
    s.InternalImage = r.S("Icon", "InternalImage", "");
    for (int i = 0; i < 8; ++i) o.ExtIconFile[i] = r.S("ExtIcon", "ExtIcon" + std::to_string(i + 1), "");
    o.LogoFile = r.S("ExtIcon", "LogoFile", o.LogoFile);
    o.LogoXpos = r.N("ExtIcon", "LogoXpos", o.LogoXpos);
    o.LogoYpos = r.N("ExtIcon", "LogoYpos", o.LogoYpos);
    o.LogoScale = r.N("ExtIcon", "LogoScale", o.LogoScale);

    for (int i = 0; i < kCsvItemCount; ++i) s.opt.CSVitem[i] = r.S("CSVitem", kCsvItemKeys[i], kCsvItemDefaults[i]);

    // Migration of older files, oldest step first.
    if (below("1.45")) {
        r.Delete("Font", "EngCharset");
        r.Delete("Font", "EngFontName");
        r.Delete("Font", "EngFontSize");
    }
    if (below("1.51")) {
        AppendIfMissing(s.opt.CSVitem[ciRCR], "TAG");
        AppendIfMissing(s.opt.CSVitem[ciLatitude], "LATITUDE N/S");
        AppendIfMissing(s.opt.CSVitem[ciLongitude], "LONGITUDE E/W");
    }
    if (below("1.55")) {
        r.Erase("WintecCSV");
        r.Erase("ColumbusCSV");
        r.Delete("Icon", "VisibleFL");
        r.Delete("Icon", "NewIcon");
    }
    if (below("2.00") && o.NoteDNum) {
        o.PointName = kPointNameItems[1];
        ApplyPointName(s);
    }
    if (below("2.02")) {
        AppendIfMissing(s.opt.CSVitem[ciDate], "UTC DATE");
        AppendIfMissing(s.opt.CSVitem[ciTime], "UTC TIME");
    }
    if (below("2.10")) {
        AppendIfMissing(s.opt.CSVitem[ciDate], "Date / Time");
        AppendIfMissing(s.opt.CSVitem[ciHeight], "Altitude");
        AppendIfMissing(s.opt.CSVitem[ciSpeed], "Ground Speed");
    }
    if (below("2.12")) {
        AppendIfMissing(s.opt.CSVitem[ciNS], "NS");
        AppendIfMissing(s.opt.CSVitem[ciEW], "EW");
        if (!Contains(s.opt.CSVitem[ciHeight] + ",", ",Alt,")) s.opt.CSVitem[ciHeight] += ",Alt";
    }

    ReadSpeedClassBounds(o);
    ReadReduceDialog(s);
    o.ExtensionList = BuildExtensionList(o);
    s.OpenFilter = OpenDialogFilter(o);

    s.opt.CsvInfoList = ini.ReadSection("CSV_Info");
    s.opt.CsvOptionList = ini.ReadSection("CSV_Option");
    if (below("2.05")) RemoveProfile(s.opt.CsvInfoList, "M-241");

    o.UseBarometer = r.B("PG-S1", "UseBarometer", o.UseBarometer);
    o.BarometerOffset = r.F("PG-S1", "BarometerOffset", 0.0);
    s.Fahrenheit = r.B("PG-S1", "Fahrenheit", s.Fahrenheit);

    UpdateLogoLabel(s);
    MergeDefaultCsvProfiles(s);
    ShowIconSetLabel(s);
    ShowIconScales(s);
}

void Save(Settings& s, IniStore& ini, const std::string& caption) {
    Writer w(ini);
    TConversionOptions& o = s.opt;
    // Numbers are saved as they would be used: with ".", and the heights as Convert reads them
    // (a text that is no number there is 0). A comma that may group thousands is saved as typed,
    // for the next load to replace by name.
    NormalizeDecimalTexts(o);
    double v;
    if (!TryStrToFloat(o.GeoidValue, v) && !AmbiguousThousands(o.GeoidValue)) {
        ParseCustomGeoid(s);
        s.LastCustomGeoidText = o.GeoidValue;
    }
    if (!TryStrToFloat(o.GroundLevelValue, v) && !AmbiguousThousands(o.GroundLevelValue)) {
        ParseGroundLevel(s);
        s.LastGroundLevelText = o.GroundLevelValue;
    }

    // A file that was not fully read keeps the version it had, so its pending steps run later.
    if (s.loadComplete) w.S("Option", "Version", caption);
    else if (s.versionRead) w.S("Option", "Version", s.SettingsVersion);
    w.B("Option", "GPXout", o.GPXout);
    w.B("Option", "NMEAout", o.NMEAout);
    w.B("Option", "KMLout", o.KMLout);
    w.B("Option", "KMZout", o.KMZout);
    w.B("Option", "CSVout", o.CSVout);
    w.B("Option", "ToLocaltime", o.ToLocaltime);
    w.S("Option", "OverSpeed2", o.OverSpeed2);
    w.S("Option", "OverSpeed3", o.OverSpeed3);
    w.S("Option", "OverSpeed4", o.OverSpeed4);
    w.S("Option", "DataPath", s.DataPath);
    w.B("Option", "FixDataOnly", o.FixDataOnly);
    w.B("Option", "UseEstimated", o.UseEstimated);
    w.S("Option", "SpeedUnit", o.SpeedUnit);
    w.S("Option", "SplitIT", o.SplitIT);
    w.I("Option", "OpenFiltIdx", s.OpenFiltIdx);
    w.S("Option", "WBTmask", o.WBTmask);
    w.S("Option", "RBTmask", o.RBTmask);
    w.S("Option", "iBluemask", o.iBluemask);
    w.S("Option", "WBT201mask", o.WBT201mask);
    w.S("Option", "WBT201mask2", o.WBT201mask2);
    w.S("Option", "WBT201mask3", o.WBT201mask3);
    w.S("Option", "WBT202mask", o.WBT202mask);
    w.S("Option", "Holuxmask", o.Holuxmask);
    w.S("Option", "TripMatemask", o.TripMatemask);
    w.F("Option", "Accel_g", o.Accel_g);
    w.S("Option", "WPL_Prefix", o.WPL_Prefix);
    w.S("Option", "WPV_Prefix", o.WPV_Prefix);
    w.B("Option", "VisibleOnly", o.VisibleOnly);
    w.B("Option", "MaskUse", o.MaskUse);
    w.S("Option", "HdopMask", o.HdopMask);
    w.S("Option", "NsatMask", o.NsatMask);
    w.B("Option", "NoTab", o.NoTab);
    w.B("Option", "HeightFromGround", s.HeightFromGround);
    w.S("Option", "PointName", o.PointName);

    w.S("Geoid", "GeoidPath", o.GeoidPath);
    w.S("Geoid", "GeoidModel", s.GeoidModelText);
    w.S("Geoid", "Digit", o.Digit);
    w.S("Geoid", "PostFix", o.PostFix);
    w.S("Custom Geoid", "fname", o.CustomGeoidFName);
    w.S("Custom Geoid", "Ext", o.CustomGeoidExt);
    for (int i = 0; i < 3; ++i) {
        const GeoidGridParams& g = s.Grid(i);
        const char* sec = kGridSections[i];
        w.S(sec, "fname", g.fname);
        w.I(sec, "nrows", g.nrows);
        w.I(sec, "ncols", g.ncols);
        w.F(sec, "glamn", g.glamn);
        w.F(sec, "glomn", g.glomn);
        w.F(sec, "dgla", g.dgla);
        w.F(sec, "dglo", g.dglo);
        w.I(sec, "nlat", g.nlat);
        w.I(sec, "nlon", g.nlon);
        w.I(sec, "PrePad", g.PrePad);
    }
    w.B("GSI2000", "Spline", o.Spline);

    w.S("CSVtag", "Interest", s.InterestText);
    w.S("CSVtag", "Interest2", s.Interest2Text);
    w.B("3D", "3D_mode", o.Mode3D);
    w.S("3D", "Range", o.Range);
    w.S("3D", "Tilt", o.Tilt);
    w.S("3D", "Heading", o.Heading);
    w.B("3D", "AutoPos", o.AutoPos);
    w.B("3D", "Start", o.Start);
    w.B("3D", "Half", o.Half);
    w.B("3D", "Final", o.Final);
    w.B("3D", "LExtrude", o.LExtrude);
    w.B("3D", "PExtrude", o.PExtrude);
    w.B("3D", "ClampToGnd", o.ClampToGnd);
    w.B("3D", "RelativeToGnd", o.RelativeToGnd);
    w.B("3D", "Absolute", o.Absolute);
    w.B("3D", "AltReplace", o.AltReplace);
    w.S("3D", "Multi", o.Multi);
    w.S("3D", "Offset", o.Offset3D);
    w.S("3D", "ViewLon", o.ViewLon);
    w.S("3D", "ViewLat", o.ViewLat);
    w.S("3D", "ViewAlt", o.ViewAlt);
    w.B("3D", "TrackToGnd", o.TrackToGnd);
    w.B("3D", "PlaceMarkToGnd", o.PlaceMarkToGnd);
    w.B("3D", "AutoHeading", o.AutoHeading);
    w.B("3D", "North", o.North);
    w.B("3D", "East", o.East);
    w.B("3D", "South", o.South);
    w.B("3D", "West", o.West);
    w.B("3D", "AutoRange", o.AutoRange);
    w.S("3D", "AutoRangeMulti", o.AutoRangeMulti);
    w.B("Option", "TrackOut", o.TrackOut);
    w.B("Option", "PointOut", o.PointOut);
    w.B("Option", "OutLimit", o.OutLimit);
    w.B("Option", "DateOnly", o.DateOnly);
    w.S("Separator", "DateSep", o.DateSep);
    w.S("Separator", "TimeSep", o.TimeSep);
    w.S("Separator", "DateTimeSep", o.DateTimeSep);
    w.S("Separator", "StartEndSep", o.StartEndSep);

    w.S("LocalTime", "Offset", o.LocalTimeOffset);
    w.B("LocalTime", "AutoOffs", o.AutoOffs);
    w.S("DateFormat", "Format", DateSepToEn(s.locale, o.OutDateFormatText));
    // The time format is kept as typed: it is shown back as stored.
    w.S("TimeFormat", "Format", o.TimeFormatText);
    w.B("DateFormat", "AutoFormat", o.DateAutoFormat);
    w.B("TimeFormat", "AutoFormat", o.TimeAutoFormat);

    w.I("Line", "Color", o.LineColor);
    w.S("Line", "Alpha", o.LineAlpha);
    w.S("Line", "Width", o.LineWidth);
    w.B("Line", "Random", o.Random);
    w.B("Reduce", "ReduseOut", o.ReduseOut);
    w.S("Reduce", "ElapsesTimes", o.ElapsesTimes);
    w.S("Reduce", "MovingDist", o.MovingDist);
    w.S("Geoid", "GeoidValue", o.GeoidValue);
    w.B("Geoid", "Apply", o.GeoidApply);
    w.S("GroundLevel", "GroundLevelValue", o.GroundLevelValue);
    w.B("GroundLevel", "Apply", o.GroundLevelApply);

    w.B("Note", "DNum", o.NoteDNum);
    w.B("Note", "Date", o.NoteDate);
    w.B("Note", "Time", o.NoteTime);
    w.B("Note", "Lat", o.NoteLat);
    w.B("Note", "Lon", o.NoteLon);
    w.B("Note", "Speed", o.NoteSpeed);
    w.B("Note", "Alt", o.NoteAlt);
    w.B("Note", "Hdop", o.NoteHdop);
    w.B("Note", "Nsat", o.NoteNsat);
    w.B("Note", "Temp", o.NoteTemp);
    w.B("Note", "Pressure", o.NotePressure);
    w.B("Note", "PressureAlt", o.NotePressureAlt);
    w.B("Note", "NoteToBalloon", o.NoteToBalloon);
    w.B("Note", "VoiceFile", o.NoteVoiceFile);
    w.S("Note", "LatLonDecimal", o.NoteLatLonDecimal);
    w.S("Note", "AltDecimal", o.NoteAltDecimal);
    w.S("Note", "SpeedDecimal", o.NoteSpeedDecimal);
    w.S("KMLKMZopt", "LatLonDecimal", o.KmlLatLonDecimal);
    w.S("KMLKMZopt", "AltDecimal", o.KmlAltDecimal);
    w.B("KMLKMZopt", "IconToKMZ", o.IconToKMZ);
    w.B("KMLKMZopt", "TimeStamp", o.TimeStamp);
    w.B("CSVopt", "Index", o.Index);
    w.B("CSVopt", "DateTime", o.DateTime);
    w.B("CSVopt", "SNEW", o.SNEW);
    w.B("CSVopt", "Geoid", o.CsvGeoid);
    w.S("CSVopt", "LatLonDecimal", o.CsvLatLonDecimal);
    w.S("CSVopt", "AltDecimal", o.CsvAltDecimal);
    w.S("CSVopt", "SpeedDecimal", o.CsvSpeedDecimal);
    w.S("GPXopt", "LatLonDecimal", o.GpxLatLonDecimal);
    w.S("GPXopt", "AltDecimal", o.GpxAltDecimal);
    w.S("NMEAopt", "LatLonDecimal", o.NmeaLatLonDecimal);
    w.S("NMEAopt", "AltDecimal", o.NmeaAltDecimal);
    w.S("NMEAopt", "SpeedDecimal", o.NmeaSpeedDecimal);
    w.B("NMEAopt", "IgnoreSpace", o.IgnoreSpace);

    w.I("Font", "Charset", s.UiFontCharset);
    w.S("Font", "FontName", s.UiFontName);
    w.I("Font", "FontSize", s.UiFontSize);
    w.S("Font", "DegChar", o.DegChar);

    StoreIconScales(s);
    w.S("Icon", "IconPath", o.IconPath);
    for (int i = 0; i < 8; ++i) w.S("Icon", kIconNameKeys[i], o.PaletteIconName[i]);
    for (int i = 0; i < 8; ++i) w.F("Icon", std::string(kIconNameKeys[i]) + "S", s.InternalIconScale[i]);
    for (int i = 0; i < 8; ++i) w.B("Icon", kVisibleKeys[i], o.Visible[i]);
    w.I("Icon", "IconSource", o.IconSource);
    for (int i = 0; i < 8; ++i) w.S("ExtIcon", "ExtIcon" + std::to_string(i + 1), o.ExtIconFile[i]);
    for (int i = 0; i < 8; ++i) w.F("ExtIcon", "ExtIcon" + std::to_string(i + 1) + "S", s.ExternalIconScale[i]);
    w.S("ExtIcon", "LogoFile", o.LogoFile);
    w.S("ExtIcon", "LogoXpos", o.LogoXpos);
    w.S("ExtIcon", "LogoYpos", o.LogoYpos);
    w.S("ExtIcon", "LogoScale", o.LogoScale);

    w.I("Option", "MainTop", s.MainTop);
    w.I("Option", "MainLeft", s.MainLeft);
    for (int i = 0; i < kCsvItemCount; ++i) w.S("CSVitem", kCsvItemKeys[i], s.opt.CSVitem[i]);
    for (const auto& [name, value] : s.opt.CsvInfoList) w.S("CSV_Info", name, value);
    for (const auto& [name, value] : s.opt.CsvOptionList) w.S("CSV_Option", name, value);

    w.B("PG-S1", "UseBarometer", o.UseBarometer);
    w.F("PG-S1", "BarometerOffset", o.BarometerOffset);
    w.B("PG-S1", "Fahrenheit", s.Fahrenheit);
}

}  // namespace

Settings::Settings() {
    // The design state of the forms, where it differs from the engine's own defaults.
    opt.OutDateFormatText = "yy/mm/dd";
    opt.TimeFormatText = "hh:mm:ss.";
    opt.GeoidValue = "0.00";
    opt.GroundLevelValue = "0.00";
    opt.GeoidCaption = "Not apply";
}

bool LoadSettings(Settings& s, IniStore& ini) {
    // A file that cannot be read is not an empty one: the settings in use stay as they are.
    if (ini.ReadFailed()) return false;
    s.loadComplete = false;
    s.versionRead = false;
    s.loadNotes.clear();
    try {
        Load(s, ini);
        s.loadComplete = true;
    } catch (const std::exception&) {
        // The load ends where it failed; what was not read keeps its current value.
    }
    // The keys the migration deleted; a file that keeps them is not current yet.
    if (!ini.Flush()) s.loadComplete = false;
    return s.loadComplete;
}

bool SaveSettings(Settings& s, IniStore& ini, const std::string& caption) {
    bool ok = true;
    try {
        Save(s, ini, caption);
    } catch (const std::exception&) {
        // The first key that cannot be written ends the save; the keys before it are kept.
        ok = false;
    }
    return ini.Flush() && ok;
}

void ApplyPointName(Settings& s) {
    TConversionOptions& o = s.opt;
    o.PointNameKind = 0;
    bool found = false;
    for (size_t i = 0; i < kPointNameItems.size(); ++i)
        if (o.PointName == kPointNameItems[i]) {
            o.PointNameKind = static_cast<int>(i);
            found = true;
        }
    if (!found) o.PointName = kPointNameItems[0];
    const size_t paren = o.PointName.find('(');
    s.BalloonCaption = "Balloon " + o.PointName.substr(paren == std::string::npos ? 0 : paren, 10);
    static const char* const hints[7] = {
        "Point name is blank",   "Point name is Point number",           "Point name is Date and Time",
        "Point name is Time",    "Point name is Longitude and Latitude", "Point name is Speed",
        "Point name is Altitude"};
    s.PointNameHint = hints[o.PointNameKind];
}

void ApplyMaskSettings(Settings& s) {
    TConversionOptions& o = s.opt;
    o.HdopMask = DecimalPointText(o.HdopMask);
    o.HdopMax = StrToFloatSafe(o.HdopMask);
    // A text whose comma may group thousands stays as typed, to be refused by name at Convert;
    // the mask in the meantime is the default one.
    if (!(o.HdopMax > 0)) {
        if (!AmbiguousThousands(o.HdopMask)) o.HdopMask = "1.5";
        o.HdopMax = 1.5;
    }
    o.NsatMin = StrToIntSafe(o.NsatMask);
    if (AmbiguousThousands(o.NsatMask)) {
        o.NsatMin = 3;
    } else if (o.NsatMin <= 0) {
        o.NsatMask = "3";
        o.NsatMin = 3;
    }
    s.MaskCaption = "Mask (HD<=" + Trim(o.HdopMask) + " && NS>=" + Trim(o.NsatMask) + ")";
    if (!o.MaskUse) {
        o.HdopMax = 10000;
        o.NsatMin = -100;
    }
}

void ApplyReduceSettings(Settings& s) {
    TConversionOptions& o = s.opt;
    const bool metric = o.SpeedUnit == "km/h";
    s.ReduceUnitLabel = metric ? "m" : "feet";
    const char* unitText = metric ? "m" : "ft";
    o.ElapsesTimes = DecimalPointText(o.ElapsesTimes);
    // Texts whose comma may group thousands stay as typed (see ApplyMaskSettings).
    if (!(o.MoveDistMin >= 1.0)) {
        o.MoveDistMin = 1.0;
        if (!AmbiguousThousands(o.MovingDist)) o.MovingDist = "1.0";
    }
    o.ElapsedMin = StrToFloatSafe(o.ElapsesTimes) / 86400.0;
    if (!(o.ElapsedMin >= 0.1 / 86400.0)) {
        o.ElapsedMin = 0.1 / 86400.0;
        if (!AmbiguousThousands(o.ElapsesTimes)) o.ElapsesTimes = "0.1";
    }
    o.ElapsedMin -= 0.01 / 86400.0;
    s.ReduceCaption = "Reduce (" + o.MovingDist + unitText + " or " + o.ElapsesTimes + "s)";
}

void ReadReduceDialog(Settings& s) {
    TConversionOptions& o = s.opt;
    o.MovingDist = DecimalPointText(o.MovingDist);
    o.MoveDistMin = StrToFloatSafe(o.MovingDist);
    if (o.SpeedUnit != "km/h") o.MoveDistMin *= 0.3048;
    ApplyReduceSettings(s);
}

void ShowIconScales(Settings& s) {
    if (s.opt.IconSource != 0 && s.opt.IconSource != 1) return;
    const auto& scales = s.opt.IconSource == 0 ? s.InternalIconScale : s.ExternalIconScale;
    for (int i = 0; i < 8; ++i) s.opt.IconScale[i] = FloatKeyText(scales[i]);
}

void StoreIconScales(Settings& s) {
    auto& scales = s.opt.IconSource == 0 ? s.InternalIconScale : s.ExternalIconScale;
    // A scale whose comma may group thousands is not guessed: the one before stays.
    for (int i = 0; i < 8; ++i)
        if (!AmbiguousThousands(s.opt.IconScale[i])) scales[i] = StrToFloatOr1(s.opt.IconScale[i]);
}

void UpdateLogoLabel(Settings& s) {
    std::error_code ec;
    const bool exists = !s.opt.LogoFile.empty() && std::filesystem::is_regular_file(s.opt.LogoFile, ec);
    s.LogoLabel = exists ? "LOGO" : "Logo";
}

void ShowIconSetLabel(Settings& s) {
    switch (s.opt.IconSource) {
    case 0: s.IconSetLabel = "Int.\r\nIcon"; break;
    case 1: s.IconSetLabel = "Ext.\r\nIcon"; break;
    case 2: s.IconSetLabel = "Web\r\nIcon"; break;
    default: break;
    }
}

void UpdateGeoidCaption(Settings& s) {
    s.opt.GeoidModel = GeoidModelIndex(s.GeoidModelText);
    s.opt.GeoidCaption = s.opt.GeoidModel == 0 ? s.opt.GeoidValue + " " + s.GeoidUnit : s.GeoidModelText;
}

std::string SystemUtcOffsetText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatUtcOffset(static_cast<double>(local.tm_gmtoff) / 86400.0);
}

LocaleFormats InitLocaleFormats(const std::string& shortDate, const std::string& shortTime,
                                const std::string& longTime) {
    auto isAsciiLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    LocaleFormats lf;
    // The first plain character between the date's elements (letters of other scripts are words).
    for (char c : shortDate)
        if (static_cast<unsigned char>(c) < 0x80 && !isAsciiLetter(c) && c != '\'') {
            lf.UserDateSep = c;
            break;
        }
    lf.UserDateFormatText = UserDateOrderPattern(shortDate, lf.UserDateSep);

    const size_t h = shortTime.find_first_of("hH");
    if (h != std::string::npos) {
        const size_t after = shortTime.find_first_not_of("hH", h);
        const char c = after == std::string::npos ? '\0' : shortTime[after];
        if (c > ' ' && static_cast<unsigned char>(c) < 0x80 && !isAsciiLetter(c) && c != '\'') lf.UserTimeSep = c;
    }

    // Time zone names have no place in a time format of ours; the AM/PM mark ("AP", "ap", "A" or
    // "a") becomes ours, which writes the program's AM and PM texts.
    std::string tf;
    for (size_t i = 0; i < longTime.size();) {
        const char c = longTime[i];
        if (c == '\'') {
            size_t j = longTime.find('\'', i + 1);
            j = j == std::string::npos ? longTime.size() : j + 1;
            tf.append(longTime, i, j - i);
            i = j;
        } else if (c == 't') {
            ++i;
        } else if (c == 'a' || c == 'A') {
            tf += c == 'A' ? "ampm" : "am/pm";
            i += i + 1 < longTime.size() && (longTime[i + 1] == 'p' || longTime[i + 1] == 'P') ? 2 : 1;
        } else {
            tf += c;
            ++i;
        }
    }
    tf = Trim(tf);
    // A final "." of ours asks for milliseconds: the locale's own stays a plain dot.
    if (!tf.empty() && tf.back() == '.') tf.replace(tf.size() - 1, 1, "'.'");
    lf.UserTimeFormatText = tf;
    return lf;
}

double VersionNumber(const std::string& caption) {
    const size_t p = caption.rfind("Ver");
    if (p == std::string::npos) return 0;
    const std::string rest = Trim(caption.substr(p + 3));
    double v = 0;
    auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), v, std::chars_format::fixed);
    (void)ptr;
    return ec == std::errc() && std::isfinite(v) ? v : 0;
}

std::string SanitizeName(const std::string& in, char c) {
    std::string s;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 1 < in.size() && (in[i + 1] == 's' || in[i + 1] == 'S')) {
            s += ' ';
            ++i;
        } else {
            s += in[i];
        }
    }
    std::string out;
    for (char ch : s) {
        if (std::string_view("\\/,;:*?\"<>|").find(ch) != std::string_view::npos || (ch >= '0' && ch <= '9')) out += c;
        else if (ch == ' ') out += "\\s";
        else out += ch;
    }
    return out;
}

void ConvertOldIconName(std::string& name, const std::string& x, const std::string& y, const std::string& def) {
    // Old palette pictures, located by pixel position.
    if (name.rfind("palette-", 0) == 0 && name.size() >= 13 && name.compare(9, 4, ".png") == 0 && name[8] >= '2' &&
        name[8] <= '5') {
        const int32_t n = (StrToIntSafe(x) / 32 + 56) - StrToIntSafe(y) / 4;
        name = std::string("pal") + name[8] + "/icon" + std::to_string(n) + ".png";
        return;
    }
    for (size_t at : {size_t(10), size_t(11)}) {
        if (name.size() >= at + 4 && name.compare(at, 4, ".png") == 0 && name.rfind("pal", 0) == 0 && name[3] >= '2' &&
            name[3] <= '5' && name.compare(4, 5, "/icon") == 0) {
            int32_t n;
            if (TryStrToInt(name.substr(9, at - 9), n) && n >= 0 && n <= 63 &&
                std::isdigit(static_cast<unsigned char>(name[9])))
                return;
        }
    }
    name = def;
}

int ClampWindowTop(const Rect& wa, int top, int height) {
    if (wa.top - 10 <= top && top <= wa.bottom - 100) return top;
    return (wa.bottom - wa.top - height) / 2;
}

int ClampWindowLeft(const Rect& wa, int left, int width) {
    if (wa.left - 10 <= left && left <= wa.right - 100) return left;
    return (wa.right - wa.left - width) / 2;
}

std::string ProfileValue(const ProfileList& list, const std::string& name) {
    for (const auto& [n, v] : list)
        if (n == name) return v;
    return "";
}

void MergeDefaultCsvProfiles(Settings& s) {
    auto merge = [](ProfileList& list, const char* const* lines, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const std::string line = lines[i];
            const size_t eq = line.find('=');
            const std::string name = line.substr(0, eq);
            if (ProfileValue(list, name).empty()) list.emplace_back(name, line.substr(eq + 1));
        }
    };
    merge(s.opt.CsvInfoList, kBuiltinCsvInfo, std::size(kBuiltinCsvInfo));
    merge(s.opt.CsvOptionList, kBuiltinCsvOption, std::size(kBuiltinCsvOption));
}

std::string OpenDialogFilter(const TConversionOptions& o) {
    const std::string &m1 = o.WBTmask, &m2 = o.RBTmask, &m3 = o.iBluemask, &m4 = o.WBT201mask, &m5 = o.WBT201mask2,
                      &m6 = o.WBT201mask3, &m7 = o.WBT202mask, &m8 = o.Holuxmask, &m9 = o.TripMatemask;
    return "NMEA file (*.nmea, *.nme, log)|*.nmea;*.nme;*.log|WBT-100, 200 Log file (" + m1 + ")|" + m1 +
           "|RBT-3000 Log file (" + m2 + ")|" + m2 + "|i-Blue747, BT-Q1000 Log file (" + m3 + ")|" + m3 +
           "|WBT-201 Log file (" + m4 + "," + m5 + "," + m6 + ")|" + m4 + ";" + m5 + ";" + m6 + "|WBT-202 Log file (" +
           m7 + ")|" + m7 + "|M-241 Log file (" + m8 + ")|" + m8 + "|TripMate Log file (" + m9 + ")|" + m9 +
           "|All Log file (*.nmea, *.nme, *.log " + m1 + ", " + m2 + ", " + m3 + ", " + m4 + ", " + m7 + ", " + m5 +
           ", " + m6 + ", " + m8 + ", " + m9 + ")|*.nmea;*.nme;*.log;" + m1 + ";" + m2 + ";" + m3 + ";" + m4 + ";" +
           m7 + ";" + m5 + ";" + m6 + ";" + m8 + ";" + m9 + "|All file (*.*)|*.*";
}

const std::vector<NumberKey>& NumberKeys() {
    static const std::vector<NumberKey> keys = [] {
        using K = NumberKey;
        const double none = NAN;
        std::vector<NumberKey> t = {
            {"Option", "MainTop", K::Whole, INT32_MIN, INT32_MAX, none, nullptr},
            {"Option", "MainLeft", K::Whole, INT32_MIN, INT32_MAX, none, nullptr},
            {"Option", "OverSpeed2", K::Text, 0, 1e6, none, "Speed 2"},
            {"Option", "OverSpeed3", K::Text, 0, 1e6, none, "Speed 3"},
            {"Option", "OverSpeed4", K::Text, 0, 1e6, none, "Speed 4"},
            {"Option", "SplitIT", K::Text, 0, 1e7, none, "Split interval time"},
            {"Option", "OpenFiltIdx", K::Whole, 1, 10, none, nullptr},
            {"Option", "Accel_g", K::Float, 0.001, 1000, none, nullptr},
            {"Option", "HdopMask", K::Text, 0, 1e6, none, "HDOP"},
            {"Option", "NsatMask", K::WholeText, 0, 1000, none, "Satellites"},
            {"Geoid", "Digit", K::WholeText, 1, 4, none, nullptr},
        };
        for (const char* sec : kGridSections) {
            for (const char* key : {"nrows", "ncols", "nlat", "nlon"})
                t.push_back({sec, key, K::Whole, 1, 1e6, none, nullptr});
            t.push_back({sec, "PrePad", K::Whole, 0, 16, none, nullptr});
            t.push_back({sec, "glamn", K::Float, -90, 90, none, nullptr});
            t.push_back({sec, "glomn", K::Float, -360, 360, none, nullptr});
            t.push_back({sec, "dgla", K::Float, 1e-9, 180, none, nullptr});
            t.push_back({sec, "dglo", K::Float, 1e-9, 360, none, nullptr});
        }
        const std::vector<NumberKey> more = {
            {"3D", "Range", K::Text, 0, 1e9, none, "Range"},
            {"3D", "Tilt", K::Text, 0, 90, none, "Tilt"},
            {"3D", "Heading", K::Text, -360, 360, none, "Heading"},
            {"3D", "Multi", K::Text, -1e9, 1e9, none, "Coefficient"},
            {"3D", "Offset", K::Text, -1e9, 1e9, none, "Offset"},
            {"3D", "ViewLon", K::Text, -180, 180, none, "Longitude"},
            {"3D", "ViewLat", K::Text, -90, 90, none, "Latitude"},
            {"3D", "ViewAlt", K::Text, -1e9, 1e9, none, "Altitude(m)"},
            {"3D", "AutoRangeMulti", K::Text, 0, 1e6, none, "Auto range"},
            {"Line", "Color", K::Whole, 0, 0xFFFFFF, none, nullptr},
            {"Line", "Alpha", K::WholeText, 0, 255, none, "Alpha"},
            {"Line", "Width", K::Text, 0, 1000, none, "Width"},
            {"Reduce", "ElapsesTime", K::Text, 0, 1e7, none, nullptr},  // minutes, of older files
            {"Reduce", "ElapsesTimes", K::Text, 0, 1e9, none, "Elapsed time"},
            {"Reduce", "MovingDist", K::Text, 0, 1e9, none, "Moving distance"},
            {"Geoid", "GeoidValue", K::Text, -1e5, 1e5, none, "Geoid height"},
            {"GroundLevel", "GroundLevelValue", K::Text, -1e6, 1e6, none, "Ground level"},
            {"Font", "Charset", K::Whole, 0, 255, none, nullptr},
            {"Font", "FontSize", K::Whole, 1, 100, none, nullptr},
            {"Font", "EngCharset", K::Whole, 0, 255, none, nullptr},
            {"Font", "EngFontSize", K::Whole, 1, 100, none, nullptr},
            {"Icon", "IconSource", K::Whole, 0, 2, none, nullptr},
            {"ExtIcon", "LogoXpos", K::Text, 0, 1, none, "X pos"},
            {"ExtIcon", "LogoYpos", K::Text, 0, 1, none, "Y pos"},
            // -1 shows the logo at its own size.
            {"ExtIcon", "LogoScale", K::Text, 0, 1, -1, "Scale"},
            {"PG-S1", "BarometerOffset", K::Float, -10000, 10000, none, nullptr},
        };
        t.insert(t.end(), more.begin(), more.end());
        static const char* const kScaleFields[8] = {"Scale Speed 1", "Scale Speed 2", "Scale Speed 3", "Scale Speed 4",
                                                    "Scale POI1",    "Scale POI2",    "Scale Start",   "Scale End"};
        for (int i = 0; i < 8; ++i) {
            t.push_back({"Icon", std::string(kIconNameKeys[i]) + "S", K::Float, 0, 100, none, kScaleFields[i]});
            t.push_back({"ExtIcon", "ExtIcon" + std::to_string(i + 1) + "S", K::Float, 0, 100, none, kScaleFields[i]});
        }
        return t;
    }();
    return keys;
}

const NumberKey& NumberKeyOf(std::string_view section, std::string_view key) {
    for (const NumberKey& k : NumberKeys())
        if (section == k.section && key == k.key) return k;
    throw std::out_of_range("no number key " + std::string(section) + "/" + std::string(key));
}

bool NumberInRange(const NumberKey& k, double v) { return (k.lo <= v && v <= k.hi) || v == k.special; }

NumberCheck CheckNumber(const NumberKey& k, std::string& text, double& value) {
    if (AmbiguousThousands(text)) return NumberCheck::Ambiguous;
    int32_t n = 0;
    bool ok;
    std::string t = text;
    switch (k.kind) {
    case NumberKey::Whole: ok = ParseIniInt(t, n); break;
    case NumberKey::WholeText: ok = TryStrToInt(t, n); break;
    default:
        t = DecimalPointText(t);
        ok = TryStrToFloat(t, value);
        break;
    }
    if (!ok) return NumberCheck::NotANumber;
    if (k.kind == NumberKey::Whole || k.kind == NumberKey::WholeText) value = n;
    if (!NumberInRange(k, value)) return NumberCheck::OutOfRange;
    text = t;
    return NumberCheck::Used;
}

std::string RefusedNumberText(const NumberKey& k, const std::string& text, NumberCheck why) {
    const std::string field = k.field ? k.field : k.key;
    const std::string t = Trim(text);
    switch (why) {
    case NumberCheck::Ambiguous: {
        std::string whole = t, point = t;
        whole.erase(whole.find(','), 1);
        point[point.find(',')] = '.';
        return field + " : \"" + t + "\" is ambiguous. Type " + whole + " or " + point + ".";
    }
    case NumberCheck::OutOfRange: {
        auto plain = [](double v) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.15g", v);
            return std::string(buf);
        };
        std::string range = plain(k.lo) + " to " + plain(k.hi);
        if (!std::isnan(k.special)) range += " or " + plain(k.special);
        return field + " : " + t + " is out of range (" + range + ").";
    }
    default: return "'" + t + "' is not a valid floating point value";
    }
}

std::string AmbiguousNumberMessage(const Settings& s) {
    const TConversionOptions& o = s.opt;
    const std::pair<const std::string*, const char*> fields[] = {{&o.OverSpeed2, "Option/OverSpeed2"},
                                                                 {&o.OverSpeed3, "Option/OverSpeed3"},
                                                                 {&o.OverSpeed4, "Option/OverSpeed4"},
                                                                 {&o.SplitIT, "Option/SplitIT"},
                                                                 {&o.HdopMask, "Option/HdopMask"},
                                                                 {&o.NsatMask, "Option/NsatMask"},
                                                                 {&o.Range, "3D/Range"},
                                                                 {&o.Tilt, "3D/Tilt"},
                                                                 {&o.Heading, "3D/Heading"},
                                                                 {&o.Multi, "3D/Multi"},
                                                                 {&o.Offset3D, "3D/Offset"},
                                                                 {&o.ViewLon, "3D/ViewLon"},
                                                                 {&o.ViewLat, "3D/ViewLat"},
                                                                 {&o.ViewAlt, "3D/ViewAlt"},
                                                                 {&o.AutoRangeMulti, "3D/AutoRangeMulti"},
                                                                 {&o.LineAlpha, "Line/Alpha"},
                                                                 {&o.LineWidth, "Line/Width"},
                                                                 {&o.ElapsesTimes, "Reduce/ElapsesTimes"},
                                                                 {&o.MovingDist, "Reduce/MovingDist"},
                                                                 {&o.GeoidValue, "Geoid/GeoidValue"},
                                                                 {&o.GroundLevelValue, "GroundLevel/GroundLevelValue"},
                                                                 {&o.LogoXpos, "ExtIcon/LogoXpos"},
                                                                 {&o.LogoYpos, "ExtIcon/LogoYpos"},
                                                                 {&o.LogoScale, "ExtIcon/LogoScale"}};
    auto message = [](const std::string& text, std::string_view sec, std::string_view key) {
        return RefusedNumberText(NumberKeyOf(sec, key), text, NumberCheck::Ambiguous);
    };
    for (const auto& [text, name] : fields) {
        if (!AmbiguousThousands(*text)) continue;
        const std::string_view n(name);
        const size_t slash = n.find('/');
        return message(*text, n.substr(0, slash), n.substr(slash + 1));
    }
    for (int i = 0; i < 8; ++i) {
        if (!AmbiguousThousands(o.IconScale[i])) continue;
        const bool ext = o.IconSource == 1;
        return message(o.IconScale[i], ext ? "ExtIcon" : "Icon",
                       ext ? "ExtIcon" + std::to_string(i + 1) + "S" : std::string(kIconNameKeys[i]) + "S");
    }
    return {};
}

std::string NotANumberLine(std::string_view section, std::string_view key, const std::string& text,
                           const std::string& used) {
    return "  Not a number in range : [" + std::string(section) + "] " + std::string(key) + "=" + text + " (" + used +
           " used)";
}

void UseTypedNumbers(Settings& s) {
    using O = TConversionOptions;
    struct Edit {
        const char* section;
        const char* key;
        std::string O::*text;
    };
    static constexpr Edit kEdits[] = {
        {"Option", "OverSpeed2", &O::OverSpeed2}, {"Option", "OverSpeed3", &O::OverSpeed3},
        {"Option", "OverSpeed4", &O::OverSpeed4}, {"Option", "SplitIT", &O::SplitIT},
        {"Line", "Alpha", &O::LineAlpha},         {"Line", "Width", &O::LineWidth}};
    static constexpr Edit kMask[] = {{"Option", "HdopMask", &O::HdopMask}, {"Option", "NsatMask", &O::NsatMask}};
    static constexpr Edit kReduce[] = {{"Reduce", "MovingDist", &O::MovingDist},
                                       {"Reduce", "ElapsesTimes", &O::ElapsesTimes}};
    const Settings defaults;
    // True when the text gave way to the default.
    auto use = [&s](const char* sec, const std::string& key, std::string& text, const std::string& def) {
        std::string t = text;
        double v;
        if (CheckNumber(NumberKeyOf(sec, key), t, v) == NumberCheck::Used) {
            text = t;
            return false;
        }
        s.loadNotes.push_back(NotANumberLine(sec, key, text, def));
        text = def;
        return true;
    };
    auto useAll = [&](const auto& edits) {
        bool replaced = false;
        for (const Edit& e : edits) replaced |= use(e.section, e.key, s.opt.*e.text, defaults.opt.*e.text);
        return replaced;
    };
    useAll(kEdits);
    // The dialogs' derived values follow a replaced text.
    if (useAll(kMask)) ApplyMaskSettings(s);
    if (useAll(kReduce)) ReadReduceDialog(s);
    const bool ext = s.opt.IconSource == 1;
    for (int i = 0; i < 8; ++i) {
        const std::string key = ext ? "ExtIcon" + std::to_string(i + 1) + "S" : std::string(kIconNameKeys[i]) + "S";
        use(ext ? "ExtIcon" : "Icon", key, s.opt.IconScale[i],
            FloatKeyText(ext ? defaults.ExternalIconScale[i] : defaults.InternalIconScale[i]));
    }
}

void NormalizeDecimalTexts(TConversionOptions& o) {
    for (std::string* t : {&o.OverSpeed2,
                           &o.OverSpeed3,
                           &o.OverSpeed4,
                           &o.SplitIT,
                           &o.HdopMask,
                           &o.Range,
                           &o.Tilt,
                           &o.Heading,
                           &o.Multi,
                           &o.Offset3D,
                           &o.ViewLon,
                           &o.ViewLat,
                           &o.ViewAlt,
                           &o.AutoRangeMulti,
                           &o.LineWidth,
                           &o.ElapsesTimes,
                           &o.MovingDist,
                           &o.GeoidValue,
                           &o.GroundLevelValue,
                           &o.LogoXpos,
                           &o.LogoYpos,
                           &o.LogoScale})
        *t = DecimalPointText(*t);
    for (std::string& t : o.IconScale) t = DecimalPointText(t);
}

std::string FloatKeyText(double v) {
    if (!std::isfinite(v)) v = 0;
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, p);
}

}  // namespace ts
