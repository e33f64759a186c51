#include "core/options.h"
#include "writer_test_util.h"

using namespace ts;

TEST(Options, TimeOffsetFromTheOffsetText) {
    // (offset text, to local time, offset in days)
    const std::tuple<const char*, bool, double> cases[] = {
        {" 09:00:00", true, -0.375}, {"-05:00:00", true, 5.0 / 24}, {"  :  :  ", true, 0}, {" 09:00:00", false, 0}};
    for (const auto& [text, local, days] : cases) {
        TConversionOptions o;
        o.LocalTimeOffset = text, o.ToLocaltime = local;
        DeriveOptions(o);
        EXPECT_DOUBLE_EQ(o.TimeOffset, days) << text << local;
    }
    EXPECT_EQ(FormatUtcOffset(0.375), " 09:00:00");
    EXPECT_EQ(FormatUtcOffset(-5.0 / 24), "-05:00:00");
    // Whatever the machine's zone, its offset round-trips through the offset text.
    const double sys = SystemUtcOffsetDays();
    EXPECT_NEAR(ParseTimeOffset(FormatUtcOffset(sys)), -sys, 1e-9);
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

    EXPECT_EQ(MakeKmlColor("200", 0x0000FFFF), "C800FFFF");
    EXPECT_EQ(MakeKmlColor("x", 0x00123456), "C800FFFF");
    // Out-of-range opacity is clamped so the colour keeps eight digits.
    EXPECT_EQ(MakeKmlColor("300", 0x00123456), "FF123456");
    EXPECT_EQ(MakeKmlColor("-1", 0x00123456), "00123456");
}

TEST(Options, UserDateOrderFromTheShortDateFormat) {
    const std::tuple<const char*, char, const char*> cases[] = {
        {"d.M.yyyy", '.', "dd.mm.yy"},
        {"yyyy-MM-dd", '-', "yy-mm-dd"},
        {"M/d/yyyy", '/', "mm/dd/yy"},
        {"dd MMM", ' ', "mm dd yy"}};  // two elements only: the en-US order
    for (const auto& [format, sep, pattern] : cases) EXPECT_EQ(UserDateOrderPattern(format, sep), pattern) << format;
}

// The format is saved with "/" for the user's date separator and loaded back with it; quoted
// text comes back as typed (a blank separator once turned "yyyy/mm/dd 'A Walk" into "yyyy mm dd").
TEST(Options, DateSeparatorsSwappedOutsideQuotesOnly) {
    LocaleFormats lf;
    lf.UserDateSep = ' ';
    const std::string typed = "yy mm dd 'A/Walk' \"on 1\" mm 'x y";
    const std::string saved = DateSepToEn(lf, typed);
    EXPECT_EQ(saved, "yy/mm/dd/'A/Walk'/\"on 1\"/mm/'x y");
    EXPECT_EQ(DateSepToUser(lf, saved), typed);
}

TEST(Options, DateFormatNormalisedOutsideQuotes) {
    const std::tuple<const char*, const char*, char> cases[] = {
        {"YY-MM-DD", "yyyy-mm-dd", '-'},
        {"d.m.y", "d.m.yyyy", '.'},
        {"yyyyyy/mm", "yyyy/mm", '/'},
        // Quoted text stays as typed: its "y" writes no year, its blanks and dots separate nothing.
        {"yyyy\"y\"mm\"m\"dd\"d\"", "yyyy\"y\"mm\"m\"dd\"d\"", '#'},
        {"\"Day\" dd \"of\" mmmm YYYY", "\"Day\" dd \"of\" mmmm yyyy", ' '},
        {"dd.mm 'Yr. y'", "dd.mm 'Yr. y'", ' '},
        // An unclosed quote runs to the end, and is closed there.
        {"yy/mm/dd \"x-y", "yyyy/mm/dd \"x-y\"", ' '},
    };
    for (const auto& [text, fmt, sep] : cases) {
        char s = '#';
        EXPECT_EQ(NormalizeDateFormat(text, s), fmt) << text;
        EXPECT_EQ(s, sep) << text;
    }
}
