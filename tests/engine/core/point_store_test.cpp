#include "core/point_store.h"
#include "writer_test_util.h"

using namespace ts;

TEST(PointStream, RingAddressingWithWrapPoint) {
    PointStream ps;
    for (int i = 0; i < 5; ++i) ps.Append(ts::testing::Pt(i, 0, 0));
    EXPECT_EQ(ps.At(0).Time, 0.0);
    ps.SetWrapPoint(3);
    // Record 0 is stored record 3; record 2 wraps to stored record 0.
    EXPECT_TRUE(ps.At(0).Time == 3.0 && ps.At(1).Time == 4.0 && ps.At(2).Time == 0.0 && ps.At(4).Time == 2.0);
    // A cursor continues with stored record 0 after the last one.
    auto c = ps.Seek(1);
    EXPECT_EQ(c->Time, 4.0);
    EXPECT_EQ((++c)->Time, 0.0);
    EXPECT_EQ((++c)->Time, 1.0);
}

TEST(FieldClamps, UncheckedLogValuesFitTheirFields) {
    for (auto [hdop, hdop10] : {std::pair{1.25, 12}, {kNaN, 0}, {1e9, 32767}, {-3.0, 0}})  // 1.25: ties to even
        EXPECT_EQ(Hdop10FromHdop(hdop), hdop10) << hdop;
    for (auto [count, sats] : {std::pair{1000.0, 99}, {-5.0, 0}, {kNaN, 99}})
        EXPECT_EQ(SatsFromCount(count), sats) << count;
}

TEST(CheckTimeGoesBack, ReportsBackwardStepsInLocalTime) {
    RecordingHost host;
    EngineContext ctx(host);
    ctx.opt.OutDateFormatText = "yy-mm-dd";
    ctx.opt.LocalTimeOffset = " 09:00:00";
    DeriveOptions(ctx.opt);
    const double d = EncodeDate(2026, 12, 6);
    ctx.run.CurrentPoint.Time = d + 0.5;
    CheckTimeGoesBack(ctx, d + 0.5, d + 0.5);
    EXPECT_TRUE(host.lines.empty());
    CheckTimeGoesBack(ctx, d + 0.6, d + 0.5);
    ctx.run.CurrentPoint.Time = EncodeTime(12, 0, 1, 0);  // times of day only: no date
    CheckTimeGoesBack(ctx, EncodeTime(12, 0, 5, 0), EncodeTime(12, 0, 1, 0));
    EXPECT_EQ(host.lines, (std::vector<std::string>{"  Time goes back: 2026-12-06 23:24:00 to 2026-12-06 21:00:00",
                                                    "  Time goes back: 21:00:05 to 21:00:01"}));
    EXPECT_TRUE(host.showReportAtEnd);
}
