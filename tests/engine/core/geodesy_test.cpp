#include <array>
#include <cstring>

#include "test_temp.h"
#include "writer_test_util.h"

using namespace ts;

TEST(GeoDistance, AntipodesStayFiniteAndNaNGivesNaN) {
    EXPECT_GT(GeoDistance(0, 0, 0, 180).distance, 19.9e6);
    // Nearly antipodal: the iteration is capped, the result still finite and near half the meridian.
    const double near = GeoDistance(0.5, 0, -0.5, 179.7).distance;
    EXPECT_TRUE(near > 19.8e6 && near < 20.1e6) << near;
    EXPECT_TRUE(std::isnan(GeoDistance(NAN, 0, 1, 1).distance));
    EXPECT_TRUE(std::isnan(GeoDistance(0, 0, 1, NAN).distance));
}

// The distance-only road along a track gives the full computation's distance to the last bit,
// whatever the cache last held: a walk, repeated and antipodal points, NaN, a jump elsewhere.
TEST(GeoDistance, DistanceOnlyAlongATrackIsBitIdentical) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> step(-1e-3, 1e-3), ulat(-89.0, 89.0), ulon(-180.0, 180.0);
    std::vector<std::array<double, 2>> track{{48.1, 11.5}};
    for (int i = 0; i < 3000; ++i) {
        const auto& b = track.back();
        if (i % 500 == 7) track.push_back(b);                          // the same point again
        else if (i % 500 == 11) track.push_back({-b[0], b[1] + 180});  // its antipode
        else if (i % 500 == 13) track.push_back({NAN, b[1]});
        else if (i % 500 == 17) track.push_back({ulat(rng), ulon(rng)});  // far away
        else track.push_back({std::clamp(b[0] + step(rng), -90.0, 90.0), b[1] + step(rng)});
    }
    GeoLatCache cache;
    for (size_t i = 1; i < track.size(); ++i) {
        const auto& a = track[i - 1];
        const auto& b = track[i];
        const double full = GeoDistance(a[0], a[1], b[0], b[1]).distance;
        const double only = GeoDistanceOnly(a[0], a[1], b[0], b[1], cache);
        ASSERT_EQ(std::memcmp(&full, &only, sizeof full), 0) << i << ": " << full << " " << only;
        // A cache left by another pair must not be taken for this one's first end.
        const double again = GeoDistanceOnly(a[0], a[1], b[0], b[1], cache);
        ASSERT_EQ(std::memcmp(&full, &again, sizeof full), 0) << i;
    }
}

// Compares with an independent geodesic solver on random pairs, short and long.
TEST(GeoDistance, AgreesWithIndependentSolver) {
    if (std::system("command -v GeodSolve >/dev/null 2>&1") != 0) GTEST_SKIP() << "GeodSolve not installed";
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> ulat(-89.0, 89.0), ulon(-180.0, 180.0), small(-0.05, 0.05);
    std::vector<std::array<double, 4>> pairs;
    while (pairs.size() < 1200) {
        const double lat1 = ulat(rng), lon1 = ulon(rng);
        if (pairs.size() % 2 == 0) {
            const double lat2 = std::clamp(lat1 + small(rng), -89.9, 89.9);
            pairs.push_back({lat1, lon1, lat2, lon1 + small(rng)});
            continue;
        }
        const double lat2 = ulat(rng), lon2 = ulon(rng);
        // Keep clear of nearly antipodal pairs, where the method is known not to converge.
        if (std::fabs(lat1 + lat2) >= 2.0 || std::fabs(std::fabs(std::remainder(lon1 - lon2, 360.0)) - 180.0) >= 10.0)
            pairs.push_back({lat1, lon1, lat2, lon2});
    }
    const std::string in = ProcessTempDir() + "geod_in.txt";
    {
        std::ofstream f(in);
        f.precision(17);
        for (const auto& p : pairs) f << p[0] << ' ' << p[1] << ' ' << p[2] << ' ' << p[3] << '\n';
    }
    std::string out;
    ASSERT_EQ(ts::testing::RunCommand("GeodSolve -i -e 6378137 1/298.257222101 -p 9 < " + in, &out), 0) << out;
    std::istringstream f(out);
    double worstDist = 0, worstAz = 0;
    int azWithin1e6 = 0;
    auto angleDiff = [](double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); };
    for (const auto& p : pairs) {
        double azi1, azi2, s12;
        ASSERT_TRUE(f >> azi1 >> azi2 >> s12);
        const GeoResult g = GeoDistance(p[0], p[1], p[2], p[3]);
        worstDist = std::max(worstDist, std::fabs(g.distance - s12));
        // The back azimuth points from point 2 back to point 1.
        const double az = std::max(angleDiff(g.forwardAzimuth, azi1), angleDiff(g.backAzimuth, azi2 + 180.0));
        worstAz = std::max(worstAz, az);
        azWithin1e6 += az < 1e-6;
    }
    EXPECT_LT(worstDist, 1e-4) << "metres";
    // The method's truncated longitude series leaves azimuth errors of order f^3 rad (about 2e-6
    // degrees) on some lines, independent of the arithmetic's precision.
    EXPECT_LT(worstAz, 2.5e-6) << "degrees";
    EXPECT_GE(azWithin1e6, static_cast<int>(pairs.size() * 97 / 100));
}

TEST(SpeedFromDistance, LimitBoundaryAndSpecialSteps) {
    const double sec = 1.0 / 86400.0;
    // At 60.5 s the limit still applies (and is huge); at 61 s nothing limits.
    const double big = 1e9;
    EXPECT_LT(SpeedFromDistance(60.5 * sec, 0, big, 0.0, 0.5), big / 60.5 * 3.6);
    EXPECT_DOUBLE_EQ(SpeedFromDistance(61 * sec, 0, big, 0.0, 0.5), big / 61 * 3.6);
    // No previous speed: no limit.
    EXPECT_DOUBLE_EQ(SpeedFromDistance(1 * sec, 0, 100.0, NAN, 0.5), 360.0);
    // Equal times keep the previous speed; both times 0 give no speed.
    EXPECT_EQ(SpeedFromDistance(5.0, 5.0, 10.0, 42.0, 0.5), 42.0);
    EXPECT_TRUE(std::isnan(SpeedFromDistance(0, 0, 10.0, 42.0, 0.5)));
    EXPECT_EQ(SpeedFromDistance(NAN, 1.0, 10.0, 42.0, 0.5), 42.0);
    EXPECT_EQ(SpeedFromDistance(1.0 + sec, 1.0, NAN, 42.0, 0.5), 42.0);
}
