#include "reader_test_util.h"

namespace ts {
namespace {

using test::PackedAt;
using test::TksRec;

const int32_t kLat = 483500000, kLon = 115000000;  // 48.35 N, 11.5 E
const std::string kZero(16, '\0');

// A point i * 1e-4 degrees of latitude north of the start (about 11 m a step).
std::string Rec(int sec, int i, int32_t altDm = 5000) { return TksRec(PackedAt(sec), kLat + i * 1000, kLon, altDm); }
// A new-track record: the latitude stored 100 degrees further from zero.
std::string Start(int sec, int i) { return TksRec(PackedAt(sec), kLat + i * 1000 + 1000000000, kLon, 5000); }

TEST(TksTime, PackedFieldsAndInvalidDates) {
    for (auto [y, mo, d, h, mi, s] :
         {std::array{2009, 12, 25, 13, 52, 54}, {2063, 2, 28, 23, 59, 59}, {2024, 2, 29, 0, 0, 0}})
        EXPECT_EQ(TksTimeToDateTime(test::Packed(y, mo, d, h, mi, s)), testing::T(y, mo, d, h, mi, s)) << y;
    for (uint32_t bad : {test::Packed(2024, 13, 1, 0, 0, 0), test::Packed(2023, 2, 29, 0, 0, 0),
                         test::Packed(2024, 4, 31, 0, 0, 0), test::Packed(2024, 5, 1, 24, 0, 0), 0u, 0xFFFFFFFFu})
        EXPECT_EQ(TksTimeToDateTime(bad), 0.0) << std::hex << bad;
}

TEST(TksReader, PointsOfOneTrack) {
    test::Reading r;
    test::TempFile f(Rec(0, 0, 5015) + Rec(1, 1, -25) + Rec(2, 2), ".tks");
    EXPECT_EQ(r.Read(ReadTksFile, f.path()), 0);  // read fine; no output type is ticked
    EXPECT_TRUE(r.HasLine("  WBT-100,200:   3 records"));
    ASSERT_EQ(r.ctx.points.Count(), 3);
    ASSERT_EQ(r.ctx.blocks.Count(), 1);
    // 11.1 m a second (40 km/h) from a standing start: the acceleration limit holds it back.
    EXPECT_EQ(test::Describe(r.P(0)), "2024-05-01 10:00:00.000 48.3500000 11.5000000 501.50 0.000 0 99 1 0");
    EXPECT_EQ(test::Describe(r.P(1)), "2024-05-01 10:00:01.000 48.3501000 11.5000000 -2.50 17.640 0 99 1 0");
    EXPECT_NEAR(r.P(2).Speed * 1.852, 35.28, 1e-4);
    EXPECT_NEAR(r.ctx.run.TotalDistance, 22.26, 0.05);
    test::ExpectBlocksCoverStream(r.ctx);
}

TEST(TksReader, TrackStartsZeroRecordsAndBlocks) {
    // Start first, zero records inside a block, two starts in a row, a start as the last record; a
    // start at 35 S is stored at -135, an ordinary record stored beyond 90 folds back too.
    const std::string log = Start(0, 0) + Rec(1, 1) + kZero + kZero + Rec(2, 2) + Start(10, 3) + Start(11, 4) +
                            Rec(12, 5) + kZero + Start(20, 6) + TksRec(PackedAt(21), -1350000000, kLon, 0) +
                            TksRec(PackedAt(22), 950000000, kLon, 0);
    test::Reading r;
    r.ReadBytes(ReadTksFile, log, ".tks");
    ASSERT_EQ(r.ctx.points.Count(), 9);
    test::ExpectBlocksCoverStream(r.ctx);
    // Blocks end before each start: one point between two starts, one point for the last start.
    EXPECT_EQ(test::BlockSpans(r.ctx), (test::Spans{{0, 2}, {3, 3}, {4, 5}, {6, 6}, {7, 8}}));
    EXPECT_DOUBLE_EQ(r.P(7).Lat, -35.0);
    EXPECT_NEAR(r.P(8).Lat, -5.0, 1e-12);
    EXPECT_EQ(r.P(8).Flags, InterestPoint);
    for (int i : {0, 3, 4, 6}) {
        EXPECT_EQ(r.P(i).Flags, InterestPoint) << i;
        EXPECT_EQ(r.P(i).Speed, 0.0) << i;
        EXPECT_NEAR(r.P(i).Lat, 48.35 + i * 1e-4, 1e-12) << i;
    }
    for (int i : {1, 2, 5}) EXPECT_EQ(r.P(i).Flags, 0) << i;
}

TEST(TksReader, TimesThatStandStillGoBackOrDoNotConvert) {
    // Same time: the previous speed stays; back in time: reported, no new block; month 13: time 0.
    const std::string log =
        Rec(0, 0) + Rec(1, 2) + Rec(1, 3) + Rec(0, 4) + TksRec(test::Packed(2024, 13, 1, 0, 0, 0), kLat, kLon, 0);
    test::Reading r;
    r.ReadBytes(ReadTksFile, log, ".tks");
    ASSERT_EQ(r.ctx.points.Count(), 5);
    EXPECT_EQ(r.ctx.blocks.Count(), 1);
    EXPECT_EQ(r.P(2).Speed, r.P(1).Speed);
    EXPECT_GT(r.P(1).Speed, 0);
    EXPECT_EQ(r.P(4).Time, 0.0);
    EXPECT_TRUE(r.HasLine("  Time goes back: 2024/05/01 10:00:01 to 2024/05/01 10:00:00")) << r.host.lines[1];
    EXPECT_TRUE(r.host.showReportAtEnd);
}

TEST(TksReader, OneRecordAndAPiece) {
    // A single record, and a trailing piece shorter than a record, which is left alone.
    test::Reading one;
    one.ctx.opt.GPXout = true;  // a single point is still written
    EXPECT_EQ(one.ReadBytes(ReadTksFile, kZero + Rec(5, 0) + Rec(6, 1).substr(0, 15), ".tks"), 1);
    ASSERT_EQ(one.ctx.points.Count(), 1);
    ASSERT_EQ(test::BlockSpans(one.ctx), (test::Spans{{0, 0}}));
    EXPECT_EQ(one.ctx.blocks[0].StartTime, one.ctx.blocks[0].EndTime);
}

}  // namespace
}  // namespace ts
