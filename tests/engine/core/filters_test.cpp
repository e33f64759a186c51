#include "core/filters.h"

#include "writer_test_util.h"

using namespace ts;

TEST(OutputFilter, OutputWindowAllowsOneMillisecondAndReduction) {
    RecordingHost host;
    EngineContext ctx{host};
    // A walker heading north at ~1.11 m/s, one fix a second.
    std::vector<TLogData> pts;
    for (int i = 0; i < 10; ++i)
        pts.push_back(ts::testing::Pt(EncodeDate(2026, 5, 1) + 0.5 + i * kOneSecond, 35.0 + i * 1e-5, 139.0));
    TrackBlock& b = ts::testing::AddBlock(ctx, pts);
    auto written = [&] {
        std::vector<int> out;
        OutputFilter f(ctx, b);
        for (int i = b.First; i <= b.Last; ++i)
            if (f.Accept(i, ctx.points.At(i))) out.push_back(i);
        return out;
    };
    ctx.opt.OutLimit = true;
    b.RangeStart = pts[3].Time + 0.5 * kOneMs;
    b.RangeEnd = pts[6].Time - 0.5 * kOneMs;
    EXPECT_EQ(written(), (std::vector<int>{3, 4, 5, 6}));
    b.RangeStart = pts[3].Time + 2 * kOneMs;
    EXPECT_EQ(written(), (std::vector<int>{4, 5, 6}));
    // Skipped records take no part in the distance.
    EXPECT_NEAR(ctx.run.TotalDistance, GeoDistance(35.00004, 139.0, 35.00006, 139.0).distance, 1e-6);
    // The reduction keeps a record once enough time has passed, and the last.
    ctx.opt.OutLimit = false, ctx.opt.ReduseOut = true, ctx.opt.MoveDistMin = 1000,
    ctx.opt.ElapsedMin = 3.5 * kOneSecond;
    EXPECT_EQ(written(), (std::vector<int>{0, 4, 8, 9}));
}
