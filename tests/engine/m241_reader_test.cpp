
#include <bit>
#include <optional>

#include "m241_reader.h"
#include "reader_test_util.h"

namespace ts {
namespace {

using test::TempFile;

constexpr uint32_t kT0 = 1210000000;  // 2008-05-05 15:06:40 UTC

void PutU32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// One record in the logger's layout: 20 bytes when kmh is given, else 16. The check byte makes
// the XOR of the record 0 unless `damage` flips it.
std::string Rec(uint32_t t, float lat, float lon, float alt, std::optional<float> kmh = std::nullopt,
                bool damage = false) {
    std::string s;
    PutU32(s, t);
    PutU32(s, std::bit_cast<uint32_t>(lat));
    PutU32(s, std::bit_cast<uint32_t>(lon));
    const uint32_t a = std::bit_cast<uint32_t>(alt);
    for (int i = 1; i < 4; ++i) s.push_back(static_cast<char>(a >> (8 * i)));  // lowest byte dropped
    if (kmh) PutU32(s, std::bit_cast<uint32_t>(*kmh));
    char x = 0;
    for (char c : s) x ^= c;
    s.push_back(static_cast<char>(damage ? x ^ 0x5A : x));
    return s;
}

struct M241Reading : test::Reading {
    std::string name;  // of the file read last
    M241Reading() { ctx.inputKind = ikM241; }
    int32_t Read(const std::string& data, const std::string& ext = ".trl") {
        TempFile f(data, ext);
        name = ExtractFileName(f.path());
        return Reading::Read(ReadM241File, f.path());
    }
};

TEST(M241Reader, Reads16ByteRecords) {
    std::string log;
    // Steps of 1/8192 degree (13.6 m) are exact in the file's floats.
    for (int i = 0; i < 6; ++i) log += Rec(kT0 + i, 35.5f + i / 8192.0f, 139.5f, 100.0f + i);
    log.insert(2 * 16, Rec(kT0 + 1, 10.0f, 10.0f, 5.0f, std::nullopt, true));  // failed check: skipped
    M241Reading r;
    EXPECT_EQ(r.Read(log), 0);  // read; no output ticked
    EXPECT_TRUE(r.HasLine("  M-241:   6 records"));
    ASSERT_EQ(r.ctx.points.Count(), 6);
    ASSERT_EQ(r.ctx.blocks.Count(), 1);  // the damaged record does not end the block
    test::ExpectBlocksCoverStream(r.ctx);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", r.P(0).Time), "2008-05-05 15:06:40");
    EXPECT_DOUBLE_EQ(r.P(0).Lat, static_cast<double>(35.5f));
    EXPECT_DOUBLE_EQ(r.P(0).Lon, 139.5);
    EXPECT_DOUBLE_EQ(r.P(3).Alt, 103.0);
    EXPECT_DOUBLE_EQ(r.P(0).Speed, 0.0);
    // From 0 km/h the acceleration limit allows 17.64 km/h in the first second, then the distance.
    EXPECT_NEAR(r.P(1).Speed * 1.852, 17.64, 1e-4);
    EXPECT_NEAR(r.P(5).Speed * 1.852, GeoDistance(r.P(4).Lat, 139.5, r.P(5).Lat, 139.5).distance * 3.6, 1e-4);
}

TEST(M241Reader, TwentyByteSpeedsAndRecordsWithoutSpeed) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::string log = Rec(kT0, 35.5f, 139.5f, 100.0f, nan, true);  // no speed: the check is not applied
    log += Rec(kT0 + 1, 35.5f + 1 / 8192.0f, 139.5f, 100.0f, 18.52f);
    log += Rec(kT0 + 2, 35.5f + 2 / 8192.0f, 139.5f, 100.0f, nan, true);
    log += Rec(kT0 + 3, nan, 139.5f, 100.0f, nan, true);  // but never a position that is no number
    log += Rec(kT0 + 4, 35.5003f, 139.5f, 100.0f, 36.0f, true);  // with a speed the check holds
    M241Reading r;
    r.Read(log);
    ASSERT_EQ(r.ctx.points.Count(), 3);
    EXPECT_DOUBLE_EQ(r.P(0).Speed, 0.0);  // first of a block without speed
    EXPECT_NEAR(r.P(1).Speed, 10.0, 1e-6);
    // From the distance, limited against the previous 18.52 km/h.
    EXPECT_NEAR(r.P(2).Speed * 1.852, 18.52 + 17.64, 1e-4);
}

TEST(M241Reader, BlocksAndTimes) {
    std::string log = Rec(kT0, 35.5f, 139.5f, 100.0f);
    log += Rec(kT0 + 300, 35.5f, 139.5f, 100.0f);      // exactly the split time: same block
    log += Rec(kT0 + 601, 35.5f, 139.5f, 100.0f);      // longer: a new block
    log += Rec(kT0 + 600, 35.5f, 139.5f, 100.0f);      // time goes back, inside the block
    log += Rec(0x90000000u, 35.5f, 139.5f, 100.0f);    // after 2038
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

TEST(M241Reader, ResultsWithoutPoints) {
    M241Reading shortFile;
    EXPECT_EQ(shortFile.Read(std::string(15, '\0')), 0);
    EXPECT_TRUE(shortFile.HasLine("  Data empties : " + shortFile.name));
    EXPECT_EQ(shortFile.host.status[0], "  Data empties : " + shortFile.name);

    M241Reading missing;
    EXPECT_EQ(missing.Reading::Read(ReadM241File, "/nonexistent/dir/x.trl"), -1);
    EXPECT_EQ(missing.Reading::Read(ReadM241File, std::filesystem::temp_directory_path().string()), -1);

    M241Reading none;  // 16 bytes, none of them checks
    EXPECT_EQ(none.Read(Rec(kT0, 35.5f, 139.5f, 100.0f, std::nullopt, true), ".TRL"), 0);
    EXPECT_TRUE(none.HasLine("  M-241:   0 records"));
    EXPECT_EQ(none.ctx.blocks.Count(), 0);

    // A record cut short by the end of the file is not read from stale bytes.
    M241Reading cut;
    std::string log = Rec(kT0, 35.5f, 139.5f, 100.0f) + Rec(kT0 + 1, 35.5f, 139.5f, 100.0f);
    log += log.substr(16, 15);
    cut.Read(log);
    EXPECT_EQ(cut.ctx.points.Count(), 2);
}

// Randomly damaged logs: the reader ends normally, and its blocks cover the stream in order.
TEST(M241Reader, SurvivesDamagedLogs) {
    std::mt19937 rng(241);
    for (int iter = 0; iter < 150; ++iter) {
        std::string s;
        for (int i = 0; i < 1 + iter % 60; ++i)
            s += iter % 2 ? Rec(kT0 + i * 7, 35.5f + i * 0.001f, 139.5f, 50.0f)
                          : Rec(kT0 + i * 7, 35.5f + i * 0.001f, 139.5f, 50.0f, static_cast<float>(i));
        test::Damage(s, rng, {}, 12);
        M241Reading r;
        r.ctx.keepPoints = iter % 3 != 0;
        r.ctx.opt.SplitIT = iter % 4 == 0 ? "0.25" : "240";
        ASSERT_GE(r.Read(s), -1) << iter;
        if (!r.ctx.keepPoints) continue;
        test::ExpectBlocksCoverStream(r.ctx);
        for (int i = 0; i < r.ctx.points.Count(); ++i)
            ASSERT_TRUE(std::isfinite(r.P(i).Lat) && std::isfinite(r.P(i).Lon) && std::isfinite(r.P(i).Alt)) << iter;
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace ts
