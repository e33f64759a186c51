#include "settings/settings.h"
#include "forms/front_end.h"
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QLocale>

#include <fstream>
#include <map>
#include <tuple>

#include "core/date_time.h"
#include "core/text_format.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

struct SettingsTest : testing::Test {
    std::string dir, path;
    void SetUp() override {
        dir = ScratchDir("settings");
        path = dir + "trailsmith.ini";
    }
    void Put(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static Settings Fresh() {
        Settings s;
        s.WorkArea = {0, 0, 1920, 1080};
        s.MainWidth = 600;
        s.MainHeight = 500;
        return s;
    }
    bool Load(Settings& s) {
        IniStore ini(path);
        return LoadSettings(s, ini);
    }
    Settings Loaded() {
        Settings s = Fresh();
        EXPECT_TRUE(Load(s));
        return s;
    }
    bool Save(Settings s) {
        IniStore ini(path);
        return SaveSettings(s, ini);
    }
};

using KeyMap = std::map<std::pair<std::string, std::string>, std::string>;

KeyMap AllKeys(const std::string& file) {
    IniStore ini(file);
    KeyMap m;
    for (const std::string& sec : ini.SectionNames())
        for (const auto& [k, v] : ini.ReadSection(sec)) m[{sec, k}] = v;
    return m;
}

// A value of the same type that differs from v and survives the load's checks.
std::string Changed(const std::string& sec, const std::string& key, const std::string& v) {
    static const std::map<std::string, std::string> special = {{"Version", kProgramCaption},
                                                               {"SpeedUnit", "mph"},
                                                               {"PointName", "Time (Time)"},
                                                               {"GeoidModel", "EGM2008 1'x1'"},
                                                               {"Offset", " 03:00:00"},
                                                               {"MainTop", "100"},
                                                               {"MainLeft", "120"},
                                                               {"GeoidPath", "/tmp/grids/"},
                                                               {"OpenFiltIdx", "3"},
                                                               {"IconSp1", "pal3/icon10.png"},
                                                               {"IconSp2", "pal3/icon11.png"},
                                                               {"IconSp3", "pal3/icon12.png"},
                                                               {"IconSp4", "pal3/icon13.png"},
                                                               {"IconIrest", "pal2/icon1.png"},
                                                               {"IconIrest2", "pal2/icon2.png"},
                                                               {"IconStart", "pal2/icon3.png"},
                                                               {"IconEnd", "pal2/icon63.png"}};
    if (sec == "TimeFormat" && key == "AutoFormat") return v;  // ticked, it would hide the stored format
    if (sec != "3D" || key != "Offset")
        if (auto it = special.find(key); it != special.end()) return it->second;
    if (key.find("Decimal") != std::string::npos && v == "1") return "2";  // not a Boolean
    if (v == "0") return "1";
    if (v == "1") return "0";
    int32_t n;
    if (TryStrToInt(v, n)) return std::to_string(n + 1);
    double d;
    if (TryStrToFloat(v, d)) return FloatKeyText(d + 0.5);
    return v + "x";
}

}  // namespace

TEST_F(SettingsTest, MissingFileLoadsDesignStateAndFirstStartPointName) {
    Settings s = Loaded();
    EXPECT_EQ(s.SettingsVersion, "");
    EXPECT_EQ(s.MainTop, (1080 - 500) / 2);
    EXPECT_EQ(s.MainLeft, (1920 - 600) / 2);
    EXPECT_TRUE(s.MainTopCentred && s.MainLeftCentred);  // centred again once the font has sized the window
    EXPECT_EQ(s.opt.LocalTimeOffset, SystemUtcOffsetText());
    EXPECT_EQ(s.opt.PointNameKind, 1);
    EXPECT_EQ(s.BalloonCaption, "Balloon (Num)");
    EXPECT_EQ(s.opt.HdopMax, 10000);  // the mask is off
    EXPECT_EQ(s.opt.CsvOptionList.size(), 9u);
    EXPECT_FALSE(fs::exists(path));  // loading writes nothing
}

// Every key the save writes is read back: a file where each key differs from its default
// survives load + save unchanged, and keys the program does not know stay where they are.
TEST_F(SettingsTest, RoundTripKeepsEveryKey) {
    {
        Settings s = Fresh();
        s.loadComplete = true;
        MergeDefaultCsvProfiles(s);
        IniStore ini(dir + "defaults.ini");
        ASSERT_TRUE(SaveSettings(s, ini));
    }
    KeyMap defaults = AllKeys(dir + "defaults.ini");
    ASSERT_EQ(defaults.size(), 248u);  // every key of the table, and the built-in CSV profiles
    std::string text;
    std::string section;
    for (const auto& [sk, v] : defaults) {
        if (sk.first != section) {
            section = sk.first;
            text += "[" + section + "]\r\n";
            if (section == "Option") text += "SomethingNew=kept as it is\r\n";
        }
        text += sk.second + "=" + Changed(sk.first, sk.second, v) + "\r\n";
    }
    text += "[Unknown]\r\nA=1\r\n";
    Put(text);
    const KeyMap before = AllKeys(path);

    ASSERT_TRUE(Save(Loaded()));
    const KeyMap after = AllKeys(path);
    for (const auto& [sk, v] : before) {
        auto it = after.find(sk);
        ASSERT_NE(it, after.end()) << sk.first << "/" << sk.second;
        EXPECT_EQ(it->second, v) << sk.first << "/" << sk.second;
        if (sk.second != "Version" && sk.second != "AutoFormat") {
            EXPECT_NE(v, defaults.count(sk) ? defaults.at(sk) : "") << "fixture value not changed: " << sk.second;
        }
    }
    for (const auto& [sk, v] : after) EXPECT_TRUE(before.count(sk)) << "added: " << sk.first << "/" << sk.second;

    // And a second load gives the same controls.
    Settings again = Loaded();
    EXPECT_EQ(again.opt.SpeedUnit, "mph");
    EXPECT_EQ(again.opt.PointNameKind, 3);
    EXPECT_EQ(again.opt.GeoidModel, 2);
    EXPECT_EQ(again.opt.IconSource, 1);
    EXPECT_EQ(again.opt.IconScale[0], "0");  // external scales shown for the external set
}

TEST_F(SettingsTest, ValueFormsAndFixedTexts) {
    Put("[Option]\r\nVersion=Trailsmith  Ver2.20\r\nSpeedUnit=MPH\r\nSplitIT=\r\nOverSpeed3=\r\nWBT202mask=*.TES\r\n"
        "MainTop=5000\r\nKMLout=0x1\r\nGPXout=yes\r\nAccel_g=1,5\r\nOpenFiltIdx=0X0A\r\n"
        "[Geoid]\r\nDigit=5\r\nGeoidPath=/data/grid\r\n"
        "[LocalTime]\r\nAutoOffs=0\r\nOffset=9:00:00\r\n"
        "[Separator]\r\nDateSep=\\s\r\nTimeSep=/\r\nDateTimeSep=:\r\nStartEndSep=a b1\r\n"
        "[Reduce]\r\nElapsesTime=0.5\r\n"
        "[CSVtag]\r\nInterest=x\r\nInterest2=\r\n[Line]\r\nColor=-1\r\n");
    Settings s = Fresh();
    s.japaneseLocale = true;  // font keys the file lacks take the Japanese font
    ASSERT_TRUE(Load(s));
    EXPECT_EQ(std::tie(s.UiFontCharset, s.UiFontName, s.UiFontSize),
              std::make_tuple(128, std::string("MS PGothic"), 9));
    EXPECT_EQ(s.opt.SpeedUnit, "mph");
    EXPECT_EQ(s.GeoidUnit, "ft");
    EXPECT_EQ(s.opt.SplitIT, "150");  // empty: the default
    EXPECT_EQ(s.opt.WBT202mask, "*.tes");
    EXPECT_EQ(s.MainTop, (1080 - 500) / 2);
    EXPECT_TRUE(s.MainTopCentred);
    EXPECT_TRUE(s.opt.KMLout);      // hexadecimal integer
    EXPECT_FALSE(s.opt.GPXout);     // not a number: the current state
    EXPECT_EQ(s.opt.Accel_g, 1.5);  // a decimal comma, as in every number
    EXPECT_EQ(s.OpenFiltIdx, 10);
    EXPECT_EQ(s.opt.Digit, "3");
    EXPECT_EQ(s.opt.GeoidFolder, "/data/grid/");
    EXPECT_EQ(s.opt.LocalTimeOffset, " 09:00:00");
    EXPECT_EQ(s.opt.TimeSep, "-");  // not allowed: the default
    EXPECT_EQ(s.opt.StartEndSep, "a\\sb_");
    EXPECT_EQ(s.opt.ElapsesTimes, "30.00");
    EXPECT_EQ(s.opt.Interest, "X");
    EXPECT_EQ(s.opt.Interest2, "V");
    // The unit changes the reduction's unit label.
    EXPECT_EQ(s.ReduceCaption, "Reduce (30.0ft or 30.00s)");

    IniStore ini(path);
    EXPECT_EQ(ini.ReadString("Reduce", "ElapsesTime", "gone"), "gone");
    ASSERT_TRUE(SaveSettings(s, ini));
    EXPECT_EQ(ini.ReadString("Reduce", "ElapsesTimes", ""), "30.00");
    EXPECT_EQ(ini.ReadString("Option", "Accel_g", ""), "1.5");
    EXPECT_EQ(ini.ReadString("EGM2008_25", "dgla", ""), "0.041666666666666664");
    // A colour outside 24 bits loads as the colour in use and is saved so, never as 4294967295.
    EXPECT_EQ(ini.ReadString("Line", "Color", ""), std::to_string(Fresh().opt.LineColor));
}

// Texts load whole: a record-type letter beyond ASCII keeps all of its bytes (the stored text is
// saved back as stored), and a folder whose name ends in ":" is a folder like any other.
TEST_F(SettingsTest, LettersAndFoldersKeepTheirWholeText) {
    Put("[CSVtag]\r\nInterest=\xC3\xA9tape\r\nInterest2=\xE2\x82\xAC\r\n[Geoid]\r\nGeoidPath=/data/grid:\r\n");
    Settings s = Loaded();
    EXPECT_EQ(s.opt.Interest, "\xC3\xA9");
    EXPECT_EQ(s.opt.Interest2, "\xE2\x82\xAC");
    EXPECT_EQ(s.LabelIntHint, "POI1 \"\xC3\xA9\"");
    EXPECT_EQ(s.opt.GeoidFolder, "/data/grid:/");
    ASSERT_TRUE(Save(s));
    EXPECT_EQ(IniStore(path).ReadString("CSVtag", "Interest", ""), "\xC3\xA9tape");
    // A Windows-1252 byte of an older file is its character.
    Put("[CSVtag]\r\nInterest=\xE9\r\n");
    EXPECT_EQ(Loaded().opt.Interest, "\xC3\xA9");
}

// The letters go into a field of the CSV output: one that would end the field or the row, open a
// quoted text or carry a control character loads as the default letter; the stored text is kept.
// (A CR or LF cannot be stored: either ends the line.)
TEST_F(SettingsTest, RecordTypeLettersThatWouldBreakTheCsvOutputTakeTheDefault) {
    const std::pair<const char*, const char*> bad[] = {
        {",x", "\"q"}, {"\x0Bx", "\x01"}, {"\x7F", "\xC2\x85"}, {"\x1B[1m", "\x1F"}};
    for (const auto& [interest, interest2] : bad) {
        Put(std::string("[CSVtag]\r\nInterest=") + interest + "\r\nInterest2=" + interest2 + "\r\n");
        Settings s = Loaded();
        EXPECT_EQ(s.opt.Interest, "B") << interest;
        EXPECT_EQ(s.opt.Interest2, "V") << interest2;
        EXPECT_EQ(s.LabelIntHint, "POI1 \"B\"");
        ASSERT_TRUE(Save(s));
        EXPECT_EQ(IniStore(path).ReadString("CSVtag", "Interest", ""), interest);
    }
    Put("[CSVtag]\r\nInterest=;\r\nInterest2=t\r\n");
    EXPECT_EQ(Loaded().opt.Interest, ";");
    EXPECT_EQ(Loaded().opt.Interest2, "T");
}

// Decimals load as stored (the writers repair a value out of range and the settings keep the
// repair); an empty moving distance gives the reduction its least distance; other numbers keep
// their range checks.
TEST_F(SettingsTest, DecimalsAndAnEmptyDistanceLoadAsStored) {
    Put("[KMLKMZopt]\r\nLatLonDecimal=9\r\n[Note]\r\nAltDecimal=x\r\n[Geoid]\r\nDigit=9\r\n"
        "[Reduce]\r\nMovingDist=\r\nElapsesTimes=10.0\r\n[3D]\r\nTilt=99\r\n");
    Settings s = Loaded();
    EXPECT_EQ(s.opt.KmlLatLonDecimal, "9");
    EXPECT_EQ(s.opt.NoteAltDecimal, "x");
    EXPECT_EQ(s.opt.Digit, "3");
    EXPECT_EQ(s.opt.Tilt, Fresh().opt.Tilt);
    EXPECT_EQ(s.opt.MoveDistMin, 1.0);
    EXPECT_EQ(s.ReduceCaption, "Reduce (1.0m or 10.0s)");
    Put("[Reduce]\r\nMovingDist=abc\r\n");
    EXPECT_EQ(Loaded().opt.MovingDist, "30.0");
}

// The degree sign older versions stored in a code page (and one such file saved back by us) is
// read as the sign itself and saved as UTF-8.
TEST_F(SettingsTest, LegacyDegreeSignsLoadAsTheSign) {
    for (const char* stored : {"\x81\x8B", "\xB0", "\xEF\xBF\xBD\xE2\x80\xB9", "\xC2\xB0"}) {
        Put(std::string("[Font]\r\nDegChar=") + stored + "\r\n");
        Settings s = Loaded();
        EXPECT_EQ(s.opt.DegChar, "\xC2\xB0") << stored;
        ASSERT_TRUE(Save(s));
        EXPECT_NE(ReadBytes(path).find("DegChar=\xC2\xB0\r\n"), std::string::npos) << stored;
    }
    Put("[Font]\r\nDegChar=deg\r\n");
    EXPECT_EQ(Loaded().opt.DegChar, "deg");
}

// The date format is saved with "/" for the user's separator and shown back as stored.
TEST_F(SettingsTest, DateFormatIsSavedWithTheProgramsSeparator) {
    Settings s = Fresh();
    s.locale.UserDateSep = '.';
    s.opt.DateAutoFormat = false;
    s.opt.OutDateFormatText = "dd.mm.yy";
    ASSERT_TRUE(Save(s));
    EXPECT_EQ(IniStore(path).ReadString("DateFormat", "Format", ""), "dd/mm/yy");
    s = Fresh();
    s.locale.UserDateSep = '.';
    ASSERT_TRUE(Load(s));
    EXPECT_EQ(s.opt.OutDateFormatText, "dd/mm/yy");
}

TEST_F(SettingsTest, OffsetTextForms) {
    for (auto [stored, shown] : {std::pair{"+9:00:00", "+09:00:00"}, {"-10:00:00", "-10:00:00"}, {"", " 00:00:00"}}) {
        Put(std::string("[LocalTime]\r\nAutoOffs=0\r\nOffset=") + stored + "\r\n");
        EXPECT_EQ(Loaded().opt.LocalTimeOffset, shown) << stored;
    }
}

TEST_F(SettingsTest, MigrationFromOldFile) {
    Put("[Option]\r\nVersion=Trailsmith  Ver1.40\r\n"
        "[Font]\r\nEngFontName=Tahoma\r\nEngFontSize=10\r\nFontName=Ignored\r\n"
        "[Icon]\r\nIconFL=PAL3/ICON7.PNG\r\nIconStart=pal2/"
        "icon1.png\r\nIconSp1=palette-4.png\r\nSpeed1X=64\r\nSpeed1Y=32\r\n"
        "IconSp2=pal4/icon64.png\r\nIconSp3=pal1/icon5.png\r\nIconSouce=1\r\nVisibleFL=1\r\nNewIcon=1\r\n"
        "[CSVitem]\r\nRCR=RCR\r\nDate=DATE\r\nTime=TIME\r\nHeight=HEIGHT,Altitude\r\nNS=N/S\r\nEW=E/W\r\n"
        "[Note]\r\nDNum=1\r\n"
        "[WintecCSV]\r\nx=1\r\n[ColumbusCSV]\r\ny=2\r\n"
        "[CSV_Info]\r\nM-241=old\r\nMine=A,B\r\n"
        "[CSV_Option]\r\nWintec=0,0,0\r\n");
    Settings s = Loaded();
    EXPECT_EQ(s.UiFontName, "Tahoma");
    EXPECT_EQ(s.opt.PaletteIconName[6], "pal3/icon7.png");
    EXPECT_EQ(s.opt.PaletteIconName[0], "pal4/icon50.png");
    EXPECT_EQ(s.opt.PaletteIconName[1], "pal4/icon49.png");  // out of range: default
    EXPECT_EQ(s.opt.PaletteIconName[2], "pal4/icon51.png");  // palette 1: default
    EXPECT_EQ(s.opt.CSVitem[ciRCR], "RCR,TAG");
    EXPECT_EQ(s.opt.CSVitem[ciDate], "DATE,UTC DATE,Date / Time");
    EXPECT_EQ(s.opt.PointName, "Number (Num)");
    EXPECT_EQ(ProfileValue(s.opt.CsvInfoList, "M-241"), "M-241");
    EXPECT_EQ(s.opt.CsvInfoList.front().first, "Mine");
    EXPECT_EQ(ProfileValue(s.opt.CsvOptionList, "Wintec"), "0,0,0");
    EXPECT_EQ(ProfileValue(s.opt.CsvOptionList, "ASG-1"), "0,1,0");

    const std::string text = ReadBytes(path);
    for (const char* gone :
         {"EngFontName", "Speed1X", "Speed1Y", "IconSouce", "VisibleFL", "NewIcon", "WintecCSV", "ColumbusCSV"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;

    IniStore ini(path);
    ASSERT_TRUE(SaveSettings(s, ini));
    EXPECT_EQ(ini.ReadString("Option", "Version", ""), kProgramCaption);
    EXPECT_EQ(ini.ReadString("Font", "FontName", ""), "Tahoma");
    EXPECT_EQ(ini.ReadString("CSV_Info", "M-241", ""), "M-241");
}

TEST_F(SettingsTest, MigrationStepsFollowTheVersionNumber) {
    const std::string lists = "[CSVitem]\r\nDate=DATE\r\nHeight=HEIGHT\r\nNS=N/S\r\n[CSV_Info]\r\nM-241=old\r\n";
    // 2.05 runs the 2.10 and 2.12 steps only.
    for (const char* version : {"Trailsmith  Ver2.05"}) {
        Put(std::string("[Option]\r\nVersion=") + version + "\r\nPointName=Time (Time)\r\n" + lists);
        Settings s = Loaded();
        EXPECT_EQ(s.opt.CSVitem[ciDate], "DATE,Date / Time") << version;
        EXPECT_EQ(s.opt.CSVitem[ciHeight], "HEIGHT,Altitude,Alt") << version;
        EXPECT_EQ(s.opt.CSVitem[ciNS], "N/S,NS") << version;
        EXPECT_EQ(s.opt.PointName, "Time (Time)") << version;
        EXPECT_EQ(ProfileValue(s.opt.CsvInfoList, "M-241"), "old") << version;
    }
    Put(std::string("[Option]\r\nVersion=") + kProgramCaption + "\r\n" + lists);
    Settings s = Loaded();
    EXPECT_EQ(s.opt.CSVitem[ciDate], "DATE");
    EXPECT_EQ(s.opt.CSVitem[ciHeight], "HEIGHT");
}

// The version is compared with the captions as text, byte by byte: another program's caption
// sorts before ours and runs every step; a text after every caption runs none and leaves the
// file's keys alone.
TEST_F(SettingsTest, MigrationComparesTheVersionAsText) {
    const std::string rest =
        "\r\n[Font]\r\nEngCharset=1\r\n[WintecCSV]\r\nx=1\r\n[CSVitem]\r\nDate=DATE\r\n[CSV_Info]\r\nM-241=old\r\n";
    for (auto [version, runs] : {std::pair{"Other Program  Ver2.05", true}, {"", true}, {"Zzz", false}}) {
        SCOPED_TRACE(version);
        Put(std::string("[Option]\r\nVersion=") + version + rest);
        Settings s = Loaded();
        EXPECT_EQ(s.opt.CSVitem[ciDate] == "DATE", !runs);
        EXPECT_EQ(ProfileValue(s.opt.CsvInfoList, "M-241") == "old", !runs);
        IniStore ini(path);
        EXPECT_EQ(ini.ReadSection("WintecCSV").empty(), runs);
        EXPECT_EQ(ini.ReadString("Font", "EngCharset", "gone"), runs ? "gone" : "1");
    }
}

// A load that stopped in the middle of a migration must not stamp the file as current.
TEST_F(SettingsTest, IncompleteLoadKeepsTheOldVersionOnSave) {
    Put("[Option]\r\nVersion=Trailsmith  Ver1.50\r\n[WintecCSV]\r\nx=1\r\n");
    fs::permissions(path, fs::perms::owner_read);  // every change of the store is now refused
    Settings s = Fresh();
    EXPECT_FALSE(Load(s));
    EXPECT_FALSE(s.loadComplete);
    {
        IniStore ini(path);
        EXPECT_FALSE(SaveSettings(s, ini));  // a failed save is seen by the caller
    }
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    IniStore ini(path);
    ASSERT_TRUE(SaveSettings(s, ini));
    EXPECT_EQ(ini.ReadString("Option", "Version", ""), "Trailsmith  Ver1.50");

    // The next load completes it. A load reads the file once and a save writes it once, however
    // many keys they touch.
    IniStore load(path);
    ASSERT_TRUE(LoadSettings(s, load));
    EXPECT_EQ(load.DiskReads(), 1);
    EXPECT_EQ(load.DiskWrites(), 1);  // the migration's deletions
    EXPECT_TRUE(IniStore(path).ReadSection("WintecCSV").empty());
    IniStore save(path);
    ASSERT_TRUE(SaveSettings(s, save));
    EXPECT_EQ(save.ReadString("Option", "Version", ""), kProgramCaption);
    EXPECT_EQ(save.DiskReads(), 1);
    EXPECT_EQ(save.DiskWrites(), 1);
}

TEST(SettingsHelpers, NamesIconsClampsAndVersions) {
    EXPECT_EQ(SanitizeName("a/b 1", '-'), "a-b\\s-");
    EXPECT_EQ(SanitizeName("\\S", '_'), "\\s");
    std::string n = "palette-4.png";
    ConvertOldIconName(n, "0", "0", "d");
    EXPECT_EQ(n, "pal4/icon56.png");
    for (const char* bad :
         {"pal4/icon64.png", "pal1/icon5.png", "pal4/icon-1.png", "pal4/icon.png", "", "pal4/icon5"}) {
        n = bad;
        ConvertOldIconName(n, "", "", "def");
        EXPECT_EQ(n, "def") << bad;
    }
    for (const char* good : {"pal2/icon0.png", "pal5/icon63.png"}) {
        n = good;
        ConvertOldIconName(n, "", "", "def");
        EXPECT_EQ(n, good);
    }
    const Rect wa{0, 0, 1920, 1080};
    EXPECT_EQ(ClampWindowTop(wa, -10, 500), -10);
    EXPECT_EQ(ClampWindowTop(wa, -11, 500), 290);
    EXPECT_EQ(ClampWindowTop(wa, 980, 500), 980);
    EXPECT_EQ(ClampWindowTop(wa, 5000, 501), 289);
    EXPECT_EQ(ClampWindowLeft(wa, -50, 600), 660);
    EXPECT_DOUBLE_EQ(VersionNumber("x Ver"), 0);
    EXPECT_EQ(FloatKeyText(-90.0), "-90");
}

// The user's forms from the platform's own locale data: separators, date order and a time format
// whose AM/PM mark survives into what the output shows.
TEST(LocaleFormatsTest, FromTheLocalesOwnFormats) {
    const struct {
        const char* name;
        char dateSep, timeSep;
        const char *datePattern, *shown;
    } cases[] = {{"en_US", '/', ':', "mm/dd/yy", "3:29:08 PM"}, {"de_DE", '.', ':', "dd.mm.yy", "15:29:08"},
                 {"fi_FI", '.', '.', "dd.mm.yy", "15.29.08"},   {"ja_JP", '/', ':', "yy/mm/dd", "15時29分08秒"},
                 {"zh_CN", '/', ':', "yy/mm/dd", "15:29:08"},   {"ko_KR", '.', ':', "yy.mm.dd", "PM 3시 29분 8초"},
                 {"bg_BG", '.', ':', "dd.mm.yy", "15:29:08 ч."}};
    for (const auto& c : cases) {
        const QLocale loc(c.name);
        const LocaleFormats lf = InitLocaleFormats(loc.dateFormat(QLocale::ShortFormat).toStdString(),
                                                   loc.timeFormat(QLocale::ShortFormat).toStdString(),
                                                   loc.timeFormat(QLocale::LongFormat).toStdString());
        EXPECT_EQ(lf.UserDateSep, c.dateSep) << c.name;
        EXPECT_EQ(lf.UserTimeSep, c.timeSep) << c.name;
        EXPECT_EQ(lf.UserDateFormatText, c.datePattern) << c.name;
        EXPECT_EQ(FormatTimeMs(TimeFormatForOutput(lf.UserTimeFormatText), EncodeTime(15, 29, 8, 379)), c.shown)
            << c.name << " " << lf.UserTimeFormatText;
    }
    // No separator after the hour: ":"; lower-case marks stay marks; typed formats as before.
    EXPECT_EQ(InitLocaleFormats("d/M/y", "H'h'mm", "h:mm a").UserTimeSep, ':');
    EXPECT_EQ(FormatTimeMs(TimeFormatForOutput(InitLocaleFormats("", "", "h:mm:ss ap").UserTimeFormatText), 0.75),
              "6:00:00 pm");
    EXPECT_EQ(TimeFormatForOutput("HH:MM:SS 'm' AMPM"), "hh:nn:ss 'm' ampm");
    // A date format without three elements falls back to the en-US order.
    EXPECT_EQ(UserDateOrderPattern("yyyy-MM", '-'), "mm-dd-yy");
    EXPECT_EQ(UserDateOrderPattern("'Day' d.M.yyyy", '.'), "dd.mm.yy");
}

// The settings beside a program whose folder cannot be written are a template: the user's copy is
// refreshed when the template is newer and kept when it is newer itself.
TEST(SettingsFile, UserCopyFollowsANewerTemplateOnly) {
    const std::string base = ScratchDir("usercopy");
    const ProgramPaths pp = ProgramIn(base);
    const std::string tmpl = base + "prog/trailsmith.ini", copy = base + "appdata/trailsmith/trailsmith.ini";
    std::ofstream(tmpl) << "template 1";
    EXPECT_EQ(UserSettingsCopy(pp, tmpl), copy);
    EXPECT_EQ(ReadBytes(copy), "template 1");

    const auto now = fs::file_time_type::clock::now();
    std::ofstream(tmpl) << "template 2";
    fs::last_write_time(tmpl, now + std::chrono::hours(24));
    EXPECT_EQ(UserSettingsCopy(pp, tmpl), copy);
    EXPECT_EQ(ReadBytes(copy), "template 2");  // the template is newer

    std::ofstream(copy) << "user's own";
    fs::last_write_time(copy, now + std::chrono::hours(48));
    EXPECT_EQ(UserSettingsCopy(pp, tmpl), copy);
    EXPECT_EQ(ReadBytes(copy), "user's own");  // the copy is newer
}

TEST(SettingsFile, LocationOfTheSettingsFile) {
    const std::string base = ScratchDir("location");
    ProgramPaths pp = ProgramIn(base);

    IniLocation a = GetIniFileName(pp, "");
    EXPECT_EQ(a.path, base + "prog/trailsmith.ini");
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(GetIniFileName(pp, "my.ini").path, base + "prog/my.ini");
    EXPECT_FALSE(fs::exists(pp.appData));  // writable program folder: nothing made elsewhere
    const std::string cwd = fs::current_path().string();
    fs::current_path(base + "prog");
    EXPECT_EQ(GetIniFileName(pp, "../x.ini").path, base + "x.ini");
    fs::current_path(cwd);

    // A folder that cannot be written (here: missing) sends the file to the per-user folder.
    pp.exePath = base + "missing/trailsmith";
    IniLocation b = GetIniFileName(pp, "");
    EXPECT_EQ(b.path, base + "appdata/trailsmith/trailsmith.ini");
    EXPECT_TRUE(fs::is_directory(base + "appdata/trailsmith"));
    // A per-user folder that cannot be made is checked through the front end.
}
