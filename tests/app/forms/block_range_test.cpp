#include "forms/block_range.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "core/date_time.h"

using namespace ts;

namespace {

const double kDay = EncodeDate(2024, 3, 16);

TConversionOptions Opts(double timeOffset = 0) {
    TConversionOptions o;
    o.OutDateFormatText = "yy/mm/dd";
    DeriveOptions(o);
    o.TimeFmt = "hh:nn:ss";
    o.TimeOffset = timeOffset;
    return o;
}

// n points `step` apart (a second) from 09:00:00 UTC, in one block starting at record `first`.
struct Track {
    PointStream ps;
    BlockTable blocks;
    Track(int n, double start = kDay + 9.0 / 24, int lead = 0, double step = kOneSecond) {
        for (int i = 0; i < lead + n; ++i) {
            TLogData p;
            p.Time = start + (i - lead) * step;
            p.Lat = 35.5;
            p.Lon = 139.25;
            p.Speed = 10;
            ps.Append(p);
        }
        TrackBlock& b = blocks.Open(lead, start);
        b.Last = lead + n - 1;
        b.EndTime = start + (n - 1) * step;
        ResetBlockRanges(blocks);
    }
    TrackBlock& B() { return blocks[0]; }
};

}  // namespace

TEST(BlockRange, ThousandsAndDegreesMinutesSeconds) {
    EXPECT_EQ(IntToStrSep(999), "999");
    EXPECT_EQ(IntToStrSep(1000), "1,000");
    EXPECT_EQ(IntToStrSep(1234567), "1,234,567");
    // A negative count keeps its sign in front of the first group.
    EXPECT_EQ(IntToStrSep(-100), "-100");
    EXPECT_EQ(IntToStrSep(-1234), "-1,234");
    const std::string deg = "\xC2\xB0";
    EXPECT_EQ(FormatRangeDms(2, 35 + 40 / 60.0 + 12.34 / 3600, deg), " 35" + deg + "40' 12.34\"");
    // The rounding nudge carries into the degrees.
    EXPECT_EQ(FormatRangeDms(4, 35.99999999999, deg), " 36" + deg + "00' 00.0000\"");
    // Seconds that round up to 60 stay below it.
    EXPECT_EQ(FormatRangeDms(4, 10 + 59 / 60.0 + 59.99996 / 3600, deg), " 10" + deg + "59' 59.9999\"");
    EXPECT_EQ(FormatRangeDms(4, 1e300, deg), "");
    EXPECT_EQ(FormatRangeDmsHemi("EW", 4, -135.5, deg), "135" + deg + "30' 00.0000\"W");
    EXPECT_EQ(FormatRangeDmsHemi("NS", 4, 0, deg), "  0" + deg + "00' 00.0000\"N");
}

TEST(BlockRange, ParsesLocalDateTimesInTheFormatsOrder) {
    EXPECT_DOUBLE_EQ(ParseLocalDateTime("24/03/16 12:00:00", "yy/mm/dd"), kDay + 0.5);
    EXPECT_DOUBLE_EQ(ParseLocalDateTime("16.03.2024 06:00:00", "dd.mm.yyyy"), kDay + 0.25);
    EXPECT_NEAR(ParseLocalDateTime("2024/03/16 00:00:01.5", "yyyy/mm/dd"), kDay + 1.5 * kOneSecond, 1e-12);
    // Nothing that does not convert reads as anything but 0.
    EXPECT_EQ(ParseLocalDateTime("2024/13/45 10:00:00", "yyyy/mm/dd"), 0.0);
    EXPECT_EQ(ParseLocalDateTime("99999999999/1/1", "yyyy/mm/dd"), 0.0);
    EXPECT_EQ(ParseLocalDateTime("2024/03/16", "yyyymmdd"), 0.0);
    // A dateless log shows the time of day alone, and it reads back as that time.
    EXPECT_DOUBLE_EQ(ParseLocalDateTime("12:00:00", "yy/mm/dd"), 0.5);
    // Shown times read back.
    const TConversionOptions o = Opts();
    const double t = kDay + EncodeTime(9, 30, 15, 250);
    const std::string text = DateTimeToText(t, o);
    EXPECT_EQ(text, "2024/03/16 09:30:15.25");
    EXPECT_NEAR(ParseLocalDateTime(text, o.OutDateFormatText), t, kOneMs / 2);
    EXPECT_EQ(DateTimeToText(0.75, o), "18:00:00");
    EXPECT_EQ(DateTimeToText(std::nan(""), o), "");
}

TEST(BlockRange, ReadsBackEveryDateFormatItWrites) {
    Track tr(60);
    const double t = tr.B().StartTime + 30 * kOneSecond;
    for (const char* fmt : {"mmmm dd yy", "mmm d, yyyy", "dddd dd mmmm yyyy", "ddd yyyy-mmm-dd", "yyyymmdd",
                            "dd 'de' mmmm yyyy", "d.m.yy", "mmmmyyyy dd.", "yy/mm/dd hh:nn am/pm"}) {
        TConversionOptions o = Opts();
        o.OutDateFormatText = fmt;
        DeriveOptions(o);
        const std::string text = DateTimeToText(t, o);
        EXPECT_NEAR(ParseLocalDateTime(text, o.OutDateFormatText), t, kOneMs) << fmt << ": " << text;
        // A range edit inside the block keeps its time through OK.
        std::string s = text, f = DateTimeToText(tr.B().EndTime, o);
        TrackBlock b = tr.B();
        EXPECT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted);
        EXPECT_EQ(s, text);
        EXPECT_EQ(b.RangeFirst, 30) << fmt;
    }
    TConversionOptions o = Opts();
    o.OutDateFormatText = "mmmm dd yy";
    DeriveOptions(o);
    EXPECT_EQ(DateTimeToText(t, o), "March 16 2024 09:00:30");
    // Typed forms: either length of name, any case, other separators.
    EXPECT_DOUBLE_EQ(ParseLocalDateTime("mar 16 2024 12:00", "mmmm dd yy"), kDay + 0.5);
    EXPECT_DOUBLE_EQ(ParseLocalDateTime("16-MARCH-24 12:00", "dd/mmm/yy"), kDay + 0.5);
    // A name that is no month, a weekday where a month belongs, or a format without a day does
    // not convert.
    double v = 0;
    EXPECT_FALSE(TryParseLocalDateTime("Marc 16 2024 12:00", "mmmm dd yy", v));
    EXPECT_FALSE(TryParseLocalDateTime("Saturday 16 2024", "mmmm dd yy", v));
    EXPECT_FALSE(TryParseLocalDateTime("March 16 2024", "dddd mmmm dd yy", v));
    EXPECT_FALSE(TryParseLocalDateTime("March 2024 12:00", "mmmm yy", v));
}

TEST(BlockRange, ClampPutsEditsBackIntoTheBlock) {
    Track tr(60);
    const TConversionOptions o = Opts(-9.0 / 24);  // local time 9 hours ahead of UTC
    const std::string start = "2024/03/16 18:00:00", end = "2024/03/16 18:00:59";
    ASSERT_EQ(DateTimeToText(tr.B().StartTime - o.TimeOffset, o), start);
    // Inside: kept; a second outside either end, empty or unreadable: the block's own end.
    const std::array<std::array<std::string, 4>, 3> cases = {{
        {"2024/03/16 18:00:30", "2024/03/16 18:00:59", "2024/03/16 18:00:30", "2024/03/16 18:00:59"},
        {"2024/03/16 17:59:59", "2024/03/16 18:01:00", start, end},
        {"", "junk", start, end},
    }};
    for (const auto& [s0, f0, s1, f1] : cases) {
        std::string s = s0, f = f0;
        ClampRangeEdits(s, f, tr.B(), o);
        EXPECT_EQ(s, s1) << s0;
        EXPECT_EQ(f, f1) << f0;
    }
}

TEST(BlockRange, FindRecordByTime) {
    Track tr(100, kDay + 0.375, 5);
    const TrackBlock& b = tr.B();
    EXPECT_EQ(FindRecordByTime(tr.ps, b, tr.ps.At(42).Time + 0.4 * kOneMs), 42);
    EXPECT_EQ(FindRecordByTime(tr.ps, b, tr.ps.At(42).Time - 0.4 * kOneMs), 42);
    // Between two records: one of them.
    const int32_t mid = FindRecordByTime(tr.ps, b, tr.ps.At(60).Time + 0.5 * kOneSecond);
    EXPECT_TRUE(mid == 60 || mid == 61) << mid;
    // Outside the block: its end records.
    EXPECT_LE(FindRecordByTime(tr.ps, b, 0.0), 6);
    EXPECT_GE(FindRecordByTime(tr.ps, b, kDay + 10), 103);
    // No order to follow ends the search instead of looping.
    const int32_t r = FindRecordByTime(tr.ps, b, std::nan(""));
    EXPECT_TRUE(r >= b.First && r <= b.Last);
    // Ring addressing: record i is stored at (i + WrapPoint) mod N.
    PointStream ring;
    for (int i = 0; i < 10; ++i) {
        TLogData p;
        p.Time = kDay + ((i + 7) % 10) * kOneSecond;
        ring.Append(p);
    }
    ring.SetWrapPoint(3);
    TrackBlock whole;
    whole.First = 0;
    whole.Last = 9;
    EXPECT_EQ(FindRecordByTime(ring, whole, kDay + 4 * kOneSecond), 4);
    EXPECT_EQ(FindRecordByTime(PointStream(), whole, kDay), 0);
}

TEST(BlockRange, PointListWindowAroundTheEditedTime) {
    const TConversionOptions o = Opts();
    Track small(50);
    PointList l = FillPointList(small.ps, small.B(), o, "2024/03/16 09:00:49");
    EXPECT_EQ(l.rows.size(), 50u);
    EXPECT_EQ(l.selected, 49);
    EXPECT_EQ(l.rows[0].lon,
              "139\xC2\xB0"
              "15' 00.0000\"E");
    EXPECT_EQ(l.rows[0].speed, "18.5");  // 10 kt in km/h
    small.ps.At(1).Speed = std::nan("");
    l = FillPointList(small.ps, small.B(), o, "");
    EXPECT_EQ(l.rows[1].speed, "");  // no speed logged: no number

    Track big(2000, kDay + 9.0 / 24, 3);
    l = FillPointList(big.ps, big.B(), o, "2024/03/16 09:00:05");  // near the start
    EXPECT_EQ(l.first, 3);
    EXPECT_EQ(l.selected, 5);
    EXPECT_EQ(l.rows.size(), 106u);
    l = FillPointList(big.ps, big.B(), o, DateTimeToText(big.ps.At(1003).Time, o));
    EXPECT_EQ(l.rows.size(), 201u);
    EXPECT_EQ(l.selected, 100);
    EXPECT_EQ(l.rows[100].point, "1,004");

    // Nine hours east of UTC: the list reads and shows local times.
    const TConversionOptions east = Opts(-9.0 / 24);
    l = FillPointList(small.ps, small.B(), east, DateTimeToText(small.ps.At(10).Time + 9.0 / 24, o));
    EXPECT_EQ(l.selected, 10);
    EXPECT_EQ(l.rows[10].dateTime, DateTimeToText(small.ps.At(10).Time + 9.0 / 24, o));
}

TEST(BlockRange, IconOfAPointFollowsTheVisibleClasses) {
    TConversionOptions o = Opts();
    o.Visible = {true, true, true, true, true, true, true, true};
    o.SpeedClassBounds = {0, 0, 10, 20, 30};
    TLogData p;
    p.Speed = 35;
    o.Visible[3] = false;
    EXPECT_EQ(RangeIconIndex(p, o), 2);  // falls to the next lower ticked class
    p.Speed = 5;
    EXPECT_EQ(RangeIconIndex(p, o), 0);
    o.Visible[0] = false;
    EXPECT_EQ(RangeIconIndex(p, o), -1);
    p.Flags = InterestPoint | VoicePoint;
    EXPECT_EQ(RangeIconIndex(p, o), 4);
    o.Visible[4] = false;
    EXPECT_EQ(RangeIconIndex(p, o), 5);
    o.Visible[5] = false;
    p.Speed = std::nan("");
    EXPECT_EQ(RangeIconIndex(p, o), -1);
}

TEST(BlockRange, OkStoresTheChosenRange) {
    const TConversionOptions o = Opts();
    Track tr(100);
    TrackBlock& b = tr.B();
    EXPECT_EQ(RangeTitle(0, b, o), "Block:1   2024/03/16 09:00:00  to  2024/03/16 09:01:39");

    std::string s = "2024/03/16 09:00:10", f = "2024/03/16 09:00:20";
    ASSERT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted);
    EXPECT_EQ(b.RangeFirst, 10);
    EXPECT_EQ(b.RangeLast, 20);
    EXPECT_NEAR(b.RangeStart, tr.ps.At(10).Time, kOneMs);
    EXPECT_EQ(BlockRangeTexts(b, o).points, "11");

    // Empty edits take the whole block (a start after the end is checked through the dialog).
    s.clear();
    f.clear();
    ASSERT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted);
    EXPECT_EQ(b.RangeFirst, 0);
    EXPECT_EQ(b.RangeLast, 99);
    EXPECT_EQ(s, "2024/03/16 09:00:00");
}

TEST(BlockRange, DatelessLogKeepsItsWholeRange) {
    // Without dates the edits hold times of day; OK without a change keeps the block whole.
    TConversionOptions o = Opts(-9.0 / 24);
    Track tr(30, 0.25);
    std::string s = DateTimeToText(tr.B().RangeStart - o.TimeOffset, o);
    std::string f = DateTimeToText(tr.B().RangeEnd - o.TimeOffset, o);
    EXPECT_EQ(s, "15:00:00");
    ASSERT_EQ(ApplyRangeEdits(s, f, tr.B(), tr.ps, o), RangeOkResult::Accepted);
    EXPECT_EQ(tr.B().RangeFirst, 0);
    EXPECT_EQ(tr.B().RangeLast, 29);
    EXPECT_NEAR(tr.B().RangeStart, 0.25, kOneMs);
}

TEST(BlockRange, ShownTextsOfEveryFormatReadBackThroughOk) {
    // No year in the format: the block's year. Quoted text, with a "y" in it, is no field.
    Track tr(100);
    for (const char* fmt : {"dd mmmm", "yyyy\"y\"mm\"m\"dd\"d\"", "\"Day\" dd \"of\" mmmm yyyy", "'yr' yy.mm.dd"}) {
        TConversionOptions o = Opts(-9.0 / 24);
        o.OutDateFormatText = fmt;
        DeriveOptions(o);
        TrackBlock b = tr.B();
        std::string s = DateTimeToText(b.RangeStart - o.TimeOffset, o);
        std::string f = DateTimeToText(b.RangeEnd - o.TimeOffset, o);
        const std::string shown = s;
        // OK at once keeps the whole block.
        ASSERT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted) << fmt << ": " << shown;
        EXPECT_EQ(s, shown);
        EXPECT_EQ(b.RangeFirst, 0) << fmt;
        EXPECT_EQ(b.RangeLast, 99) << fmt;
        // A time inside is kept.
        s = DateTimeToText(tr.ps.At(40).Time - o.TimeOffset, o);
        ASSERT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted) << fmt;
        EXPECT_EQ(b.RangeFirst, 40) << fmt << ": " << s;
    }
    TConversionOptions o = Opts();
    o.OutDateFormatText = "\"Day\" dd \"of\" mmmm yyyy";
    DeriveOptions(o);
    EXPECT_EQ(DateTimeToText(kDay + 0.5, o), "Day 16 of March 2024 12:00:00");

    // A block across New Year: a day of January reads in the year the block ends in.
    const double eve = EncodeDate(2023, 12, 31) + 23.0 / 24;
    Track ny(7200, eve);
    o.OutDateFormatText = "dd mmmm";
    DeriveOptions(o);
    double v = 0;
    ASSERT_TRUE(TryParseBlockTime("01 January 00:30:00", ny.B(), o, v));
    EXPECT_DOUBLE_EQ(v, EncodeDate(2024, 1, 1) + 0.5 / 24);
    ASSERT_TRUE(TryParseBlockTime("31 December 23:30:00", ny.B(), o, v));
    EXPECT_DOUBLE_EQ(v, eve + 0.5 / 24);

    // A format without a day takes it from the block: OK with the shown texts keeps the block whole.
    o.OutDateFormatText = "mmmm yy";
    DeriveOptions(o);
    TrackBlock b = tr.B();
    b.RangeFirst = 5;
    std::string s = DateTimeToText(b.StartTime, o), f = DateTimeToText(b.EndTime, o);
    EXPECT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted);
    EXPECT_EQ(b.RangeFirst, 0);
    EXPECT_EQ(b.RangeStart, tr.B().StartTime);
}

TEST(BlockRange, FormatsWithoutDayOrMonthTakeThemFromTheBlock) {
    // Local times from 2023-12-31 23:00:00 to 2024-01-01 00:59:59: day, month and year all change.
    Track tr(7200, EncodeDate(2024, 1, 1));
    for (const char* fmt : {"mmmm yyyy", "mm/yy", "yyyy", "dd", "d", "mmmm"}) {
        TConversionOptions o = Opts(1.0 / 24);
        o.OutDateFormatText = fmt;
        DeriveOptions(o);
        const auto text = [&](int i) { return DateTimeToText(tr.ps.At(i).Time - o.TimeOffset, o); };
        // Typed times either side of midnight read back in either edit, and the block's own ends.
        TrackBlock b = tr.B();
        for (const auto& [first, last] : {std::pair{0, 7199}, {1800, 5400}}) {
            std::string s = text(first), f = text(last);
            ASSERT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::Accepted) << fmt << ": " << s;
            EXPECT_EQ(s, text(first)) << fmt;
            EXPECT_EQ(b.RangeFirst, first) << fmt;
            EXPECT_EQ(b.RangeLast, last) << fmt;
        }
        std::string s = text(5400), f = text(1800);
        EXPECT_EQ(ApplyRangeEdits(s, f, b, tr.ps, o), RangeOkResult::StartAfterEnd) << fmt;
    }
    // Where one text stands for several days, a typed one takes the day of its edit's end.
    Track days(432, kDay, 0, 10.0 / 1440);
    TConversionOptions o = Opts();
    o.OutDateFormatText = "yyyy";
    DeriveOptions(o);
    double v = 0;
    ASSERT_TRUE(TryParseBlockTime("2024 10:00:00", days.B(), o, v, RangeSide::Start));
    EXPECT_DOUBLE_EQ(v, kDay + 10.0 / 24);
    ASSERT_TRUE(TryParseBlockTime("2024 10:00:00", days.B(), o, v, RangeSide::Final));
    EXPECT_DOUBLE_EQ(v, kDay + 2 + 10.0 / 24);
}
