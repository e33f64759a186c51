// The settings file and everything the shell keeps in it. `Settings` holds the state of the
// window's and the dialogs' controls as plain values (the window copies its controls in before a
// save or a snapshot and shows them again after a load), plus the program globals that hold
// settings. LoadSettings and SaveSettings walk the key table in its fixed order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/decimal_text.h"
#include "core/options.h"
#include "settings/ini_store.h"

namespace ts {

// The caption of the main window; saved as the settings file's version.
inline constexpr const char* kProgramCaption = "Trailsmith  Ver2.20";
// The caption without its version number.
inline constexpr const char* kCaptionPrefix = "Trailsmith  Ver";

struct Rect {
    int left = 0, top = 0, right = 1024, bottom = 768;
};

// The settings keys of the 17 column alias lists of the CSV reader (the lists are in the options).
extern const std::array<const char*, kCsvItemCount> kCsvItemKeys;

extern const std::array<const char*, 7> kPointNameItems;

struct Settings {
    Settings();

    // Values of controls and globals the engine reads; text fields hold what their edit shows.
    TConversionOptions opt;
    // The user's own date and time forms and the desktop, filled by the window before a load.
    LocaleFormats locale;
    bool japaneseLocale = false;
    Rect WorkArea;
    std::string programDir;  // with its trailing separator

    std::string SettingsVersion;
    int MainTop = -50, MainLeft = -50, MainWidth = 800, MainHeight = 600;
    // No usable stored place on that side: the window goes to the middle of the work area for its
    // size as finally laid out, which the user's font may still change after the load.
    bool MainTopCentred = false, MainLeftCentred = false;
    std::string DataPath;
    std::string OpenDir;  // where the input files' open dialog starts: DataPath at load, then the last pick
    int OpenFiltIdx = 1;
    std::string OpenFilter;
    bool HeightFromGround = false;
    std::string InterestText = "B", Interest2Text = "V";  // as stored
    // The grid parameters of EGM2008_25, EGM2008_10 and GSI2000, held in the options.
    GeoidGridParams& Grid(int i) { return i == 0 ? opt.Egm2008_25 : i == 1 ? opt.Egm2008_10 : opt.Gsi2000; }
    std::string GeoidModelText = "Fixed value";
    std::string GeoidUnit = "m";  // the geoid dialog's unit label
    std::string GroundLevelUnit = "m";
    // The height edits as last parsed; a Convert parses them again only when they changed.
    std::string LastCustomGeoidText, LastGroundLevelText;
    std::string UiFontName = "Arial";
    int UiFontCharset = 0, UiFontSize = 8;
    std::array<double, 8> InternalIconScale{1, 1, 1, 1, 1, 1, 1, 1};
    std::array<double, 8> ExternalIconScale{1, 1, 1, 1, 1, 1, 1, 1};
    std::string InternalImage;
    bool Fahrenheit = false;

    // Captions, hints and visibility the apply procedures derive.
    bool NoteGroupVisible = true;
    std::string MaskCaption = "Mask", ReduceCaption = "Reduce ", BalloonCaption = "Balloon";
    std::string PointNameHint, ReduceUnitLabel = "m";
    std::string LabelIntHint, LabelVoiceHint;
    std::string LogoLabel = "Logo", IconSetLabel = "Int.\r\nIcon";

    // What the last load did: a save over a file that was not fully read keeps its version, so the
    // steps that did not run are run at the next load.
    bool loadComplete = false;
    bool versionRead = false;
    // The stored numbers the last load could not use and replaced, one report line each.
    std::vector<std::string> loadNotes;
};

// --- Loading and saving. Both return false when they stopped early; the keys handled before stay.
bool LoadSettings(Settings& s, IniStore& ini);
bool SaveSettings(Settings& s, IniStore& ini, const std::string& caption = kProgramCaption);

// --- Apply procedures of the small dialogs (also run by the load).
void ApplyPointName(Settings& s);
void ApplyMaskSettings(Settings& s);
void ApplyReduceSettings(Settings& s);
void ReadReduceDialog(Settings& s);
// Scale texts of the current icon set from its scales, and back.
void ShowIconScales(Settings& s);
void StoreIconScales(Settings& s);
void UpdateLogoLabel(Settings& s);
void ShowIconSetLabel(Settings& s);
void UpdateGeoidCaption(Settings& s);
// The system's offset of local time from UTC, as " hh:nn:ss" or "-hh:nn:ss".
std::string SystemUtcOffsetText();

// The user's date and time forms, from the locale's short date, short time and long time formats
// (in the pattern language of the platform's locale data): the separators, the date order pattern
// and the time format the "Auto" box shows. The time separator is the one between the hour and
// the minutes of the short time, ":" when there is none; the locale's AM/PM mark stays a mark.
LocaleFormats InitLocaleFormats(const std::string& shortDate, const std::string& shortTime,
                                const std::string& longTime);

// --- Helpers of the load.
// The number after "Ver" in a version caption; 0 when there is none.
double VersionNumber(const std::string& caption);
std::string SanitizeName(const std::string& s, char c);
void ConvertOldIconName(std::string& name, const std::string& x, const std::string& y, const std::string& def);
int ClampWindowTop(const Rect& wa, int top, int height);
int ClampWindowLeft(const Rect& wa, int left, int width);
void MergeDefaultCsvProfiles(Settings& s);
std::string OpenDialogFilter(const TConversionOptions& o);
// Every numeric text of the options (speed bounds, split time, masks, 3D values, line width,
// reduction, heights, logo place and scale, icon scales) with "." as its decimal mark: the engine
// and the output files know no other.
void NormalizeDecimalTexts(TConversionOptions& o);

// --- The numbers the settings file holds, each with the range the load accepts. The dialogs'
// OK and Convert take typed numbers by the same entries, so that what is used is what loads again.
struct NumberKey {
    enum Kind {
        Text,       // kept as the text its edit shows
        WholeText,  // the same, a whole number
        Whole,      // a whole number, decimal or hexadecimal after "0x"
        Float       // a value
    };
    const char* section;
    std::string key;
    Kind kind;
    double lo, hi;
    double special;     // one value outside [lo, hi] that is also taken; NaN when none
    const char* field;  // the caption of the edit that holds it, named when it is refused
};
const std::vector<NumberKey>& NumberKeys();
// The entry of a key the load reads; a key without one is a fault of the program (out_of_range).
const NumberKey& NumberKeyOf(std::string_view section, std::string_view key);
bool NumberInRange(const NumberKey& k, double v);

enum class NumberCheck { Used, Ambiguous, NotANumber, OutOfRange };
// A typed or stored text of k through the one rule. Used: `text` is rewritten with "." as its
// decimal mark and `value` holds the number.
NumberCheck CheckNumber(const NumberKey& k, std::string& text, double& value);
// What a dialog says when it refuses a typed number at OK, naming the field.
std::string RefusedNumberText(const NumberKey& k, const std::string& text, NumberCheck why);
// The message for the first numeric text of the settings whose comma may group thousands, naming
// its field; empty when there is none. Convert and the unit switch refuse to guess.
std::string AmbiguousNumberMessage(const Settings& s);
// The line the report has for a stored or typed number that cannot be used, and what is used.
std::string NotANumberLine(std::string_view section, std::string_view key, const std::string& text,
                           const std::string& used);
// The numbers typed into the main window (speed classes, split interval, line, icon scales) and
// the mask and reduction texts, by the rule of the load: a decimal comma is written back with
// ".", a text the load would replace gives way to the key's default, with the load's line in
// s.loadNotes. Convert runs it, so that a conversion uses what the next start would load.
void UseTypedNumbers(Settings& s);

// Shortest decimal text of a number with ".", as float keys are written.
std::string FloatKeyText(double v);
// The value of a name in a profile list; empty when absent.
std::string ProfileValue(const ProfileList& list, const std::string& name);

}  // namespace ts
