// Every setting the engine reads, as one record taken once per input file. Text fields hold exactly
// what their edit box shows; the derived values are computed by DeriveOptions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ts {

// File name and geometry of one grid geoid model (settings sections EGM2008_25, EGM2008_10,
// GSI2000). nrows is kept with the model only; ncols is the stored row length in words.
struct GeoidGridParams {
    std::string fname;
    int32_t nrows = 0, ncols = 0;
    double glamn = 0, glomn = 0, dgla = 0, dglo = 0;
    int32_t nlat = 0, nlon = 0, PrePad = 0;
};

// The CSV log reader's column items, in the order of their settings keys, and the alias lists a
// new settings file gets.
inline constexpr int kCsvItemCount = 17;
enum CsvItemIndex {
    ciRCR,
    ciDate,
    ciTime,
    ciValid,
    ciLatitude,
    ciNS,
    ciLongitude,
    ciEW,
    ciHeight,
    ciSpeed,
    ciHDOP,
    ciNsat,
    ciTemp,
    ciBarom,
    ciPAlt,
    ciVoice,
    ciGeoid
};
inline constexpr std::array<const char*, kCsvItemCount> kCsvItemDefaults = {"RCR,TAG",
                                                                            "DATE,Date Created,UTC DATE,Date / Time",
                                                                            "TIME,UTC TIME",
                                                                            "VALID",
                                                                            "LATITUDE,Lat,LATITUDE N/S",
                                                                            "N/S,NS",
                                                                            "LONGITUDE,Lon,Long,LONGITUDE E/W",
                                                                            "E/W,EW",
                                                                            "HEIGHT,Elevation,Altitude,Alt",
                                                                            "SPEED,Ground Speed",
                                                                            "HDOP",
                                                                            "NSAT (USED/VIEW),Nsat,Used sat",
                                                                            "TEMPERATURE",
                                                                            "BAROMETER",
                                                                            "PRESSURE ALTITUDE",
                                                                            "VOX",
                                                                            "Geoid"};
std::array<std::string, kCsvItemCount> DefaultCsvItems();
// Lines name=value of a settings section, in file order.
using ProfileList = std::vector<std::pair<std::string, std::string>>;

struct TConversionOptions {
    // --- Outputs and output file names
    bool NMEAout = false, KMZout = true, KMLout = false, GPXout = false, CSVout = false;
    bool NoTab = false;
    bool OutLimit = false;
    std::string DateSep = "-", TimeSep = "-", DateTimeSep = "_", StartEndSep;
    bool DateOnly = false;

    // Logger file masks (lower case, "*.ext") and the extension list built from them.
    std::string WBTmask = "*.tks", RBTmask = "*.txt", iBluemask = "*.csv", WBT201mask = "*.tk1", WBT201mask2 = "*.tk2",
                WBT201mask3 = "*.tk3", WBT202mask = "*.tes", Holuxmask = "*.trl", TripMatemask = "*.nma";
    std::string ExtensionList;  // filled by BuildExtensionList

    // --- Time
    bool ToLocaltime = true;
    bool AutoOffs = true;
    std::string LocalTimeOffset = " 00:00:00";  // local time minus UTC, " hh:nn:ss" or "-hh:nn:ss"
    double TimeOffset = 0;                      // derived: UTC minus local time, days
    bool DateAutoFormat = true;
    std::string OutDateFormatText = "yyyy/mm/dd";
    std::string OutDateFormat = "yyyy/mm/dd";  // derived
    char DateSeparator = '/';                  // derived: the separator of OutDateFormat
    bool TimeAutoFormat = false;
    std::string TimeFormatText = "hh:nn:ss";
    std::string TimeFmt = "hh:nn:ss";  // set by the Convert command from TimeFormatText
    std::string SplitIT = "240";
    double SplitTime = 240;  // derived, minutes, never below 0.25

    // --- Speed
    std::string SpeedUnit = "km/h";
    double SpeedFactor = 1.852;  // derived
    std::string OverSpeed2 = "50", OverSpeed3 = "100", OverSpeed4 = "200";
    std::array<double, 5> SpeedClassBounds{};  // derived, knots, [1..4]; [0] unused
    double Accel_g = 0.5;

    // --- Point filters
    bool FixDataOnly = true;
    bool UseFixOnly = true;  // derived
    bool UseEstimated = false;
    bool AcceptEstimated = false;  // derived
    bool MaskUse = false;
    std::string HdopMask = "3.0", NsatMask = "4";
    double HdopMax = 10000, NsatMin = -100;
    bool ReduseOut = false;
    std::string MovingDist = "30.0", ElapsesTimes = "10.0";
    double MoveDistMin = 30.0, ElapsedMin = 10.0 / 86400.0;

    // --- Geoid, heights and barometer
    bool GeoidApply = false;
    std::string GeoidCaption;  // caption of the geoid check box: names the model in reports
    int GeoidModel = 0;
    std::string GeoidValue = "0.0";
    double FixedGeoid = 0;
    bool Spline = false;
    std::string GeoidPath, GeoidFolder;
    std::string PostFix = "_g";
    std::string Digit = "3";
    std::string CustomGeoidFName, CustomGeoidExt = ".cdat";
    GeoidGridParams Egm2008_25{
        "Und_min2.5x2.5_egm2008_isw=82_WGS84_TideFree_SE", 4321, 8642, -90.0, 0.0, 2.5 / 60, 2.5 / 60, 4321, 8640, 1};
    GeoidGridParams Egm2008_10{
        "Und_min1x1_egm2008_isw=82_WGS84_TideFree_SE", 10801, 21602, -90.0, 0.0, 1.0 / 60, 1.0 / 60, 10801, 21600, 1};
    GeoidGridParams Gsi2000{"gsigeome.ver4", 1801, 1201, 20.0, 120.0, 1.0 / 60, 0.025, 1801, 1201, 0};
    bool GroundLevelApply = false;
    std::string GroundLevelValue = "0.0";
    double GroundLevel = 0;
    bool UseBarometer = true;
    double BarometerOffset = 0;

    // --- KML track, placemarks and view
    bool TrackOut = true, PointOut = true, VisibleOnly = false, TimeStamp = false, NoteToBalloon = true;
    uint32_t LineColor = 0x0000FFFF;
    std::string LineAlpha = "200", LineWidth = "3";
    bool Random = false;
    std::string KmlColor = "C800FFFF";  // derived
    std::string KmlLatLonDecimal = "7", KmlAltDecimal = "1";
    bool IconToKMZ = true;
    std::string PointName = "no name (None)";
    int PointNameKind = 0;
    bool NoteDNum = true, NoteDate = true, NoteTime = true, NoteLat = true, NoteLon = true, NoteSpeed = true,
         NoteAlt = true;
    bool NoteHdop = false, NoteNsat = false, NoteTemp = false, NotePressure = false, NotePressureAlt = false,
         NoteVoiceFile = false;
    bool PointNoteWanted = true;  // derived
    std::string NoteLatLonDecimal = "7", NoteAltDecimal = "1", NoteSpeedDecimal = "1";
    int IconSource = 0;
    std::string IconPath = "http://maps.google.com/mapfiles/kml/";
    std::array<std::string, 8> PaletteIconName{"pal4/icon57.png", "pal4/icon49.png", "pal4/icon51.png",
                                               "pal2/icon56.png", "pal4/icon46.png", "pal5/icon29.png",
                                               "pal5/icon26.png", "pal5/icon60.png"};
    std::array<std::string, 8> ExtIconFile{};
    std::array<std::string, 8> IconScale{"1.0", "1.0", "1.0", "1.0", "1.0", "1.0", "1.0", "1.0"};
    std::array<bool, 8> Visible{false, false, true, true, true, true, true, true};
    std::string LogoFile, LogoXpos = "0", LogoYpos = "1", LogoScale = "0.2";
    bool Mode3D = false;  // settings key 3D_mode
    std::string Range = "1000", Tilt = "45", Heading = "0", Multi = "1.0", Offset3D = "0", ViewLon = "0", ViewLat = "0",
                ViewAlt = "0", AutoRangeMulti = "1.2";
    bool AutoPos = true, Start = false, Half = true, Final = false, LExtrude = true, PExtrude = true,
         ClampToGnd = false, RelativeToGnd = false, Absolute = true, AltReplace = false, TrackToGnd = false,
         PlaceMarkToGnd = false, AutoHeading = true, North = true, East = false, South = false, West = false,
         AutoRange = true;

    // --- GPX, NMEA and CSV
    std::string GpxLatLonDecimal = "7", GpxAltDecimal = "1";
    std::string NmeaLatLonDecimal = "4", NmeaAltDecimal = "1", NmeaSpeedDecimal = "1";
    bool IgnoreSpace = false;
    std::string WPL_Prefix = "Trailsmith_", WPV_Prefix = "VOX";
    bool Index = false, DateTime = true, SNEW = false, CsvGeoid = false;
    std::string CsvLatLonDecimal = "7", CsvAltDecimal = "3", CsvSpeedDecimal = "3";
    // One character each, UTF-8: the record-type letters of interest and voice points.
    std::string Interest = "B", Interest2 = "V";
    std::string DegChar = "\xC2\xB0";  // the degree sign, UTF-8

    // --- CSV log reader: column alias lists (by CsvItemIndex) and device profiles (CSV_Info,
    // CSV_Option); the shell completes the profiles with the built-in ones.
    std::array<std::string, kCsvItemCount> CSVitem = DefaultCsvItems();
    ProfileList CsvInfoList, CsvOptionList;
};

// The user's own locale forms, held aside for texts the user sees and types; the program's own
// texts use the en-US forms ("/" and ":").
struct LocaleFormats {
    char UserDateSep = '/';
    char UserTimeSep = ':';
    std::string UserDateFormatText = "mm/dd/yy";
    std::string UserTimeFormatText = "h:nn:ss AMPM";
    char FileDateSep = '/';
    char FileTimeSep = ':';
};

// Builds the ".nme.nmea.log...." list from the nine logger masks.
std::string BuildExtensionList(const TConversionOptions& o);

// "yy/MM/DD" -> "yyyy/mm/dd"; sep receives the last non-letter character, if any.
std::string NormalizeDateFormat(const std::string& text, char& sep);

// The derived values of one snapshot. May correct the texts SplitIT and SpeedUnit the way the
// window's controls are corrected ("0.25", "kt"); the window writes them back.
void DeriveOptions(TConversionOptions& o);

// The writers repair an out-of-range decimals setting in the snapshot of the file they write;
// this copies such repairs from that snapshot back into the settings. True when any changed.
bool KeepRepairedDecimals(const TConversionOptions& used, TConversionOptions& settings);

// Display unit <-> knots, following the caption in o.SpeedUnit (a caption other than the three
// units becomes "kt").
double DisplaySpeedToKnots(TConversionOptions& o, const std::string& text);
std::string KnotsToDisplayText(TConversionOptions& o, double knots);
void ReadSpeedClassBounds(TConversionOptions& o);
std::string MakeKmlColor(const std::string& alphaText, uint32_t color);
// Parses the local-time offset text into UTC minus local time, days; 0 when it does not parse.
double ParseTimeOffset(const std::string& text);
// The system's current local time minus UTC, days, rounded to whole seconds.
double SystemUtcOffsetDays();
// " hh:nn:ss" or "-hh:nn:ss" for an offset of local time minus UTC in days.
std::string FormatUtcOffset(double localMinusUtcDays);
std::string TimeSepToUser(const LocaleFormats& lf, std::string s);
std::string DateSepToUser(const LocaleFormats& lf, std::string s);
std::string DateSepToEn(const LocaleFormats& lf, std::string s);
// Builds the element order pattern ("dd.mm.yy") from a short date format such as "dd.MM.yyyy".
std::string UserDateOrderPattern(const std::string& shortDateFormat, char sep);

}  // namespace ts
