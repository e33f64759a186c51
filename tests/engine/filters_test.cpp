#include "filters.h"

#include "writer_test_util.h"

using namespace ts;

namespace {

// A walker heading north at ~1.11 m/s, one fix a second.
struct WalkTest : ::testing::Test {
    RecordingHost host;
    EngineContext ctx{host};
    double t0 = EncodeDate(2026, 5, 1) + 0.5;
    void Walk(int n) {
        std::vector<TLogData> pts;
        for (int i = 0; i < n; ++i) pts.push_back(ts::testing::Pt(t0 + i * kOneSecond, 35.0 + i * 1e-5, 139.0));
        ts::testing::AddBlock(ctx, pts);
    }
    std::vector<int> Written() {
        std::vector<int> out;
        const TrackBlock& b = ctx.blocks[0];
        OutputFilter f(ctx, b);
        for (int i = b.First; i <= b.Last; ++i)
            if (f.Accept(i, ctx.points.At(i))) out.push_back(i);
        return out;
    }
};

}  // namespace

TEST_F(WalkTest, ReductionKeepsEveryTenMetresLastAndTaggedPoints) {
    Walk(36);
    ctx.points.At(15).Flags = InterestPoint;
    ctx.opt.ReduseOut = true;
    ctx.opt.MoveDistMin = 10.0;
    ctx.opt.ElapsedMin = 30.0 / 86400.0;
    const std::vector<int> w = Written();
    // The walker covers ~1.109 m a step, so 10 m are reached at every 10th step.
    EXPECT_EQ(w, (std::vector<int>{0, 10, 15, 25, 35}));
    // Without reduction every record is written and the total distance is the whole path.
    ctx.opt.ReduseOut = false;
    EXPECT_EQ(Written().size(), 36u);
    EXPECT_NEAR(ctx.run.TotalDistance, GeoDistance(35.0, 139.0, 35.00035, 139.0).distance, 1e-6);
}

TEST_F(WalkTest, OutputWindowAllowsOneMillisecond) {
    Walk(10);
    ctx.opt.OutLimit = true;
    TrackBlock& b = ctx.blocks[0];
    b.RangeStart = ctx.points.At(3).Time + 0.5 * kOneMs;
    b.RangeEnd = ctx.points.At(6).Time - 0.5 * kOneMs;
    EXPECT_EQ(Written(), (std::vector<int>{3, 4, 5, 6}));
    b.RangeStart = ctx.points.At(3).Time + 2 * kOneMs;
    EXPECT_EQ(Written(), (std::vector<int>{4, 5, 6}));
    // Skipped records take no part in the distance.
    EXPECT_NEAR(ctx.run.TotalDistance, GeoDistance(35.00004, 139.0, 35.00006, 139.0).distance, 1e-6);
}
