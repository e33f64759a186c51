#include "reader_test_util.h"

namespace ts {
namespace {

using test::M241Rec;
using test::TempFile;

constexpr uint32_t kT0 = 1210000000;  // 2008-05-05 15:06:40 UTC

struct M241Reading : test::Reading {
    std::string name;  // of the file read last
    M241Reading() { ctx.inputKind = ikM241; }
    int32_t Read(const std::string& data, const std::string& ext = ".trl") {
        TempFile f(data, ext);
        name = ExtractFileName(f.path());
        return Reading::Read(ReadM241File, f.path());
    }
};

TEST(M241Reader, RecordSizeProbe) {
    std::string five20, six16;
    for (int i = 0; i < 6; ++i) {
        if (i < 5) five20 += M241Rec(kT0 + i, 35.5f, 139.5f, 100.0f, 10.0f);
        six16 += M241Rec(kT0 + i, 35.5f, 139.5f, 100.0f);
    }
    // 40 zero bytes: two good groups of either size, and a tie reads 16-byte records.
    for (auto [bytes, twenty] :
         {std::pair{five20, true}, {six16, false}, {std::string(40, '\0'), false}, {std::string(), false}})
        EXPECT_EQ(DetectM241RecordSize(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), twenty)
            << bytes.size();
}

TEST(M241Reader, Reads16ByteRecords) {
    std::string log;
    // Steps of 1/8192 degree (13.6 m) are exact in the file's floats.
    for (int i = 0; i < 6; ++i) log += M241Rec(kT0 + i, 35.5f + i / 8192.0f, 139.5f, 100.0f + i);
    log.insert(2 * 16, M241Rec(kT0 + 1, 10.0f, 10.0f, 5.0f, std::nullopt, true));  // failed check: skipped
    M241Reading r;
    EXPECT_EQ(r.Read(log), 0);  // read; no output ticked
    EXPECT_TRUE(r.HasLine("  M-241:   6 records"));
    ASSERT_EQ(r.ctx.points.Count(), 6);
    ASSERT_EQ(r.ctx.blocks.Count(), 1);  // the damaged record does not end the block
    test::ExpectBlocksCoverStream(r.ctx);
    // From 0 km/h the acceleration limit allows 17.64 km/h in the first second, then the distance.
    EXPECT_EQ(test::Describe(r.P(0)), "2008-05-05 15:06:40.000 35.5000000 139.5000000 100.00 0.000 0 99 1 0");
    EXPECT_EQ(test::Describe(r.P(1)), "2008-05-05 15:06:41.000 35.5001221 139.5000000 101.00 17.640 0 99 1 0");
    EXPECT_DOUBLE_EQ(r.P(3).Alt, 103.0);
    EXPECT_NEAR(r.P(5).Speed * 1.852, GeoDistance(r.P(4).Lat, 139.5, r.P(5).Lat, 139.5).distance * 3.6, 1e-4);
}

TEST(M241Reader, TwentyByteSpeedsAndRecordsWithoutSpeed) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::string log = M241Rec(kT0, 35.5f, 139.5f, 100.0f, nan, true);  // no speed: the check is not applied
    log += M241Rec(kT0 + 1, 35.5f + 1 / 8192.0f, 139.5f, 100.0f, 18.52f);
    log += M241Rec(kT0 + 2, 35.5f + 2 / 8192.0f, 139.5f, 100.0f, nan, true);
    log += M241Rec(kT0 + 3, nan, 139.5f, 100.0f, nan, true);         // but never a position that is no number
    log += M241Rec(kT0 + 4, 35.5003f, 139.5f, 100.0f, 36.0f, true);  // with a speed the check holds
    M241Reading r;
    r.Read(log);
    ASSERT_EQ(r.ctx.points.Count(), 3);
    EXPECT_DOUBLE_EQ(r.P(0).Speed, 0.0);  // first of a block without speed
    EXPECT_NEAR(r.P(1).Speed, 10.0, 1e-6);
    // From the distance, limited against the previous 18.52 km/h.
    EXPECT_NEAR(r.P(2).Speed * 1.852, 18.52 + 17.64, 1e-4);
}

TEST(M241Reader, BlocksAndTimes) {
    std::string log = M241Rec(kT0, 35.5f, 139.5f, 100.0f);
    log += M241Rec(kT0 + 300, 35.5f, 139.5f, 100.0f);    // exactly the split time: same block
    log += M241Rec(kT0 + 601, 35.5f, 139.5f, 100.0f);    // longer: a new block
    log += M241Rec(kT0 + 600, 35.5f, 139.5f, 100.0f);    // time goes back, inside the block
    log += M241Rec(0x90000000u, 35.5f, 139.5f, 100.0f);  // after 2038
    M241Reading r;
    r.ctx.opt.SplitIT = "5";
    r.Read(log);
    ASSERT_EQ(test::BlockSpans(r.ctx), (test::Spans{{0, 1}, {2, 3}, {4, 4}}));
    EXPECT_EQ(r.ctx.blocks[2].Number, 3);
    EXPECT_EQ(r.ctx.blocks[2].StartTime, r.ctx.blocks[2].EndTime);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", r.P(4).Time), "2046-07-23");
    EXPECT_TRUE(r.HasLine("  Time goes back: 2008/05/05 15:16:41 to 2008/05/05 15:16:40"));
    EXPECT_TRUE(r.host.showReportAtEnd);
}

TEST(M241Reader, RecordCutShortIsNotRead) {
    // A record cut short by the end of the file is not read from stale bytes.
    M241Reading cut;
    std::string log = M241Rec(kT0, 35.5f, 139.5f, 100.0f) + M241Rec(kT0 + 1, 35.5f, 139.5f, 100.0f);
    log += log.substr(16, 15);
    cut.Read(log);
    EXPECT_EQ(cut.ctx.points.Count(), 2);
}

}  // namespace
}  // namespace ts
