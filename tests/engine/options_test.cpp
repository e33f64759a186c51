#include "options.h"
#include "writer_test_util.h"

using namespace ts;

TEST(Options, TimeOffsetFromTheOffsetText) {
    TConversionOptions o;
    o.LocalTimeOffset = " 09:00:00";
    DeriveOptions(o);
    EXPECT_DOUBLE_EQ(o.TimeOffset, -0.375);
    o.LocalTimeOffset = "-05:00:00";
    DeriveOptions(o);
    EXPECT_NEAR(o.TimeOffset, 0.208333, 1e-6);
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
