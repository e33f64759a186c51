#include "options.h"

#include <gtest/gtest.h>

using namespace ts;

TEST(Options, TimeOffsetFromTheOffsetText) {
    TConversionOptions o;
    o.LocalTimeOffset = " 09:00:00";
    DeriveOptions(o);
    EXPECT_DOUBLE_EQ(o.TimeOffset, -0.375);
    o.LocalTimeOffset = "-05:00:00";
    DeriveOptions(o);
    EXPECT_NEAR(o.TimeOffset, 0.208333, 1e-6);
    o.LocalTimeOffset = "+09:00:00";
    DeriveOptions(o);
    EXPECT_DOUBLE_EQ(o.TimeOffset, -0.375);
    o.LocalTimeOffset = "  :  :  ";
    DeriveOptions(o);
    EXPECT_EQ(o.TimeOffset, 0.0);
    o.LocalTimeOffset = " 09:00:00";
    o.ToLocaltime = false;
    DeriveOptions(o);
    EXPECT_EQ(o.TimeOffset, 0.0);
    EXPECT_EQ(FormatUtcOffset(0.375), " 09:00:00");
    EXPECT_EQ(FormatUtcOffset(-5.0 / 24), "-05:00:00");
    // Whatever the machine's zone, its offset round-trips through the offset text.
    const double sys = SystemUtcOffsetDays();
    EXPECT_NEAR(ParseTimeOffset(FormatUtcOffset(sys)), -sys, 1e-9);
}

TEST(Options, NormalizeDateFormat) {
    char sep = '/';
    EXPECT_EQ(NormalizeDateFormat("YY-MM-DD", sep), "yyyy-mm-dd");
    EXPECT_EQ(sep, '-');
    EXPECT_EQ(NormalizeDateFormat("d.m.y", sep), "d.m.yyyy");
    EXPECT_EQ(sep, '.');
    EXPECT_EQ(NormalizeDateFormat("yyyyyy/mm", sep), "yyyy/mm");
    EXPECT_EQ(sep, '/');
    sep = '#';
    EXPECT_EQ(NormalizeDateFormat("ddmmyy", sep), "ddmmyyyy");
    EXPECT_EQ(sep, '#');  // no separator in the text: the previous one stays
}

TEST(Options, SpeedClassesAndUnits) {
    TConversionOptions o;
    o.SpeedUnit = "mph";
    o.OverSpeed2 = "50";
    DeriveOptions(o);
    EXPECT_NEAR(o.SpeedClassBounds[2], 43.4488, 1e-4);
    EXPECT_EQ(o.SpeedClassBounds[1], 0.0);
    EXPECT_EQ(KnotsToDisplayText(o, o.SpeedClassBounds[2]), "50.0");
    EXPECT_DOUBLE_EQ(o.SpeedFactor, 1.150779448);
    o.SpeedUnit = "km/h";
    DeriveOptions(o);
    EXPECT_NEAR(o.SpeedClassBounds[2], 26.9978, 1e-4);
    o.SpeedUnit = "Km/h";  // not one of the three captions
    o.OverSpeed3 = "junk";
    DeriveOptions(o);
    EXPECT_EQ(o.SpeedUnit, "kt");
    EXPECT_EQ(o.SpeedFactor, 1.0);
    EXPECT_EQ(o.SpeedClassBounds[3], 0.0);
}

TEST(Options, SplitTimeAndColour) {
    TConversionOptions o;
    o.SplitIT = "0.1";
    DeriveOptions(o);
    EXPECT_EQ(o.SplitTime, 0.25);
    EXPECT_EQ(o.SplitIT, "0.25");
    o.SplitIT = "abc";
    DeriveOptions(o);
    EXPECT_EQ(o.SplitIT, "0.25");
    o.SplitIT = "30";
    DeriveOptions(o);
    EXPECT_EQ(o.SplitTime, 30.0);

    EXPECT_EQ(MakeKmlColor("200", 0x0000FFFF), "C800FFFF");
    EXPECT_EQ(MakeKmlColor("5", 0x00123456), "05123456");
    EXPECT_EQ(MakeKmlColor("x", 0x00123456), "C800FFFF");
    // Out-of-range opacity is clamped so the colour keeps eight digits.
    EXPECT_EQ(MakeKmlColor("300", 0x00123456), "FF123456");
    EXPECT_EQ(MakeKmlColor("-1", 0x00123456), "00123456");
}

TEST(Options, DerivedFlagsAndExtensionList) {
    TConversionOptions o;
    o.NoteDNum = o.NoteDate = o.NoteTime = o.NoteLat = o.NoteLon = o.NoteSpeed = o.NoteAlt = false;
    o.NoteHdop = true;
    o.FixDataOnly = false;
    o.UseEstimated = true;
    DeriveOptions(o);
    EXPECT_FALSE(o.PointNoteWanted);
    EXPECT_FALSE(o.UseFixOnly);
    EXPECT_TRUE(o.AcceptEstimated);
    EXPECT_EQ(o.ExtensionList, ".nme.nmea.log.tks.txt.csv.tk1.tk2.tk3.tes.trl.nma.");
}

TEST(Options, LocaleHelpers) {
    LocaleFormats lf;
    lf.UserDateSep = '.';
    lf.UserTimeSep = '.';
    EXPECT_EQ(DateSepToUser(lf, "12/06/26"), "12.06.26");
    EXPECT_EQ(DateSepToEn(lf, "12.06.26"), "12/06/26");
    EXPECT_EQ(TimeSepToUser(lf, "12:30"), "12.30");
    EXPECT_EQ(UserDateOrderPattern("yyyy/MM/dd", '/'), "yy/mm/dd");
    EXPECT_EQ(UserDateOrderPattern("dd.MM.yyyy", '.'), "dd.mm.yy");
    EXPECT_EQ(UserDateOrderPattern("M/d/yyyy", '/'), "mm/dd/yy");
}
