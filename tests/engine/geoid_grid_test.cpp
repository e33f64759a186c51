#include "geoid_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "geoid_test_util.h"

namespace ts {
namespace {

using testing::GridBytes;
using testing::TempDir;
using testing::WriteFile;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A regional grid: 0.25 degree steps, south-west node at 30 N 130 E, 20 rows x 24 columns.
GeoidGridGeometry Regional() {
    GeoidGridGeometry g;
    g.LatMin = 30;
    g.LonMin = 130;
    g.DLat = g.DLon = 0.25;
    g.NRows = 20;
    g.NCols = 24;
    g.Stride = 24;
    return g;
}

double LatOfRow(const GeoidGridGeometry& g, int row) { return g.LatMin + (g.NRows - 1 - row) * g.DLat; }
double LonOfCol(const GeoidGridGeometry& g, int col) { return g.LonMin + col * g.DLon; }

double Smooth(double lat, double lon) { return 30 + 8 * std::sin(lat * 0.35) * std::cos(lon * 0.27); }

struct GridFixture : ::testing::Test {
    TempDir dir;
    GeoidGrid grid;
    void Make(const GeoidGridGeometry& g, const std::function<double(double, double)>& field) {
        WriteFile(dir / "g.bin", GridBytes(g.NRows, g.NCols, [&](int r, int c) {
                      return float(field(LatOfRow(g, r), LonOfCol(g, c)));
                  }));
        ASSERT_TRUE(grid.Open(dir / "g.bin", g));
    }
};

TEST_F(GridFixture, LinearFieldIsReproducedBySplineAndBilinear) {
    const GeoidGridGeometry g = Regional();
    // Multiples of 1/16 on the nodes: stored exactly as singles.
    auto linear = [](double lat, double lon) { return 10 + 0.5 * (lat - 30) - 0.25 * (lon - 130); };
    Make(g, linear);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> lat(31, 34), lon(131, 134.5);
    for (int i = 0; i < 200; ++i) {
        const double la = lat(rng), lo = lon(rng);
        EXPECT_NEAR(grid.GeoidInterpolate(6, la, lo), linear(la, lo), 2e-6) << la << " " << lo;
        EXPECT_NEAR(grid.GeoidInterpolate(0, la, lo), linear(la, lo), 1e-9) << la << " " << lo;
    }
}

TEST_F(GridFixture, NodesAreReturnedExactlyAndSplineBeatsBilinearOnSmoothField) {
    const GeoidGridGeometry g = Regional();
    Make(g, Smooth);
    for (int r = 4; r < 15; r += 3)
        for (int c = 4; c < 19; c += 5) {
            const double stored = grid.GeoidGridNode(r, c);
            EXPECT_EQ(grid.GeoidInterpolate(6, LatOfRow(g, r), LonOfCol(g, c)), stored);
            EXPECT_EQ(grid.GeoidInterpolate(0, LatOfRow(g, r), LonOfCol(g, c)), stored);
            // Within the snapping distance of a node the node itself is answered.
            EXPECT_EQ(grid.GeoidBilinear(r + 4e-6, c - 4e-6), stored);
        }
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> lat(31, 34), lon(131, 134.5);
    double errSpline = 0, errBilinear = 0;
    for (int i = 0; i < 300; ++i) {
        const double la = lat(rng), lo = lon(rng);
        errSpline = std::max(errSpline, std::fabs(grid.GeoidInterpolate(6, la, lo) - Smooth(la, lo)));
        errBilinear = std::max(errBilinear, std::fabs(grid.GeoidInterpolate(0, la, lo) - Smooth(la, lo)));
    }
    EXPECT_GT(errBilinear, 1e-3);
    EXPECT_LT(errSpline, errBilinear / 10);
}

TEST(GeoidSpline, NaturalSplineThroughPoints) {
    // A natural spline through a single spike, solved by hand: second derivatives at positions 2..5
    // satisfy d[k-1] + 4 d[k] + d[k+1] = 6 (y[k+1] - 2 y[k] + y[k-1]).
    const float y[6] = {0, 0, 1, 0, 0, 0};
    float d2[6];
    SplineSecondDerivs(6, y, d2);
    EXPECT_EQ(d2[0], 0);
    EXPECT_EQ(d2[5], 0);
    for (int k = 1; k < 5; ++k) EXPECT_NEAR(d2[k - 1] + 4 * d2[k] + d2[k + 1], 6 * (y[k + 1] - 2 * y[k] + y[k - 1]), 1e-5);
    EXPECT_DOUBLE_EQ(SplineEval(6, y, d2, 3), 1);
    EXPECT_NEAR(SplineEval(6, y, d2, 6), 0, 1e-12);  // the last node, not past it
    // Outside 1..6 straight lines with the end slopes.
    const double slope = SplineEval(6, y, d2, 0.5) - SplineEval(6, y, d2, 0);
    EXPECT_NEAR(SplineEval(6, y, d2, -0.5) - SplineEval(6, y, d2, -1), slope, 1e-12);
    EXPECT_TRUE(std::isnan(SplineEval(6, y, d2, kNaN)));
}

// A 1 degree global grid, longitude 0 eastwards, field periodic in longitude.
GeoidGridGeometry Global1(double lonMin = 0) {
    GeoidGridGeometry g;
    g.LatMin = -90;
    g.LonMin = lonMin;
    g.DLat = g.DLon = 1;
    g.NRows = 181;
    g.NCols = 360;
    g.Stride = 360;
    return g;
}

double Periodic(double lat, double lon) {
    const double d = M_PI / 180;
    return 20 * std::cos(lat * d) * std::sin(2 * lon * d) + 5 * std::sin(lat * d);
}

TEST_F(GridFixture, GlobalGridWrapsAtZeroMeridian) {
    Make(Global1(), Periodic);
    EXPECT_EQ(grid.GeoidInterpolate(6, 12.3, -0.5), grid.GeoidInterpolate(6, 12.3, 359.5));
    EXPECT_EQ(grid.GeoidInterpolate(6, 12, 360), grid.GeoidGridNode(78, 0));
    EXPECT_EQ(grid.GeoidInterpolate(0, 12, 360), grid.GeoidGridNode(78, 0));
    // The window west of the first column wraps to the eastern end.
    for (double lon : {0.01, 0.7, 359.3, 359.99}) {
        const double v = grid.GeoidInterpolate(6, 12.3, lon);
        EXPECT_NEAR(v, Periodic(12.3, lon), 0.01) << lon;
        EXPECT_EQ(v, grid.GeoidInterpolate(6, 12.3, lon + 720)) << lon;
    }
}

TEST_F(GridFixture, GlobalGridWithWesternEdgeAtMinus180Wraps) {
    Make(Global1(-180), Periodic);
    EXPECT_TRUE(grid.IsGlobal());
    for (double lon : {179.6, -179.6, 180.0, 0.0, 95.5})
        EXPECT_NEAR(grid.GeoidInterpolate(6, -40.2, lon), Periodic(-40.2, lon), 0.01) << lon;
}

TEST_F(GridFixture, PoleZoneUsesBilinear) {
    Make(Global1(), Periodic);
    // Four steps of 1 degree from the pole: bilinear; farther: spline.
    EXPECT_EQ(grid.GeoidInterpolate(6, 86.5, 33.3), grid.GeoidInterpolate(0, 86.5, 33.3));
    EXPECT_NE(grid.GeoidInterpolate(6, 85.5, 33.3), grid.GeoidInterpolate(0, 85.5, 33.3));
    EXPECT_EQ(grid.GeoidInterpolate(6, 91, 33.3), grid.GeoidInterpolate(6, 90, 33.3));
    EXPECT_EQ(grid.GeoidInterpolate(6, -95, 33.3), grid.GeoidInterpolate(0, -90, 33.3));
    EXPECT_FALSE(std::isnan(grid.GeoidInterpolate(6, -90, 33.3)));
}

TEST_F(GridFixture, MissingNodesSendSplineToBilinear) {
    GeoidGridGeometry g = Regional();
    WriteFile(dir / "g.bin", GridBytes(g.NRows, g.NCols, [&](int r, int c) {
                  if (r == 8 && c == 10) return 999.0f;  // hole flag
                  if (r == 12 && c == 12) return std::numeric_limits<float>::quiet_NaN();
                  if (r == 3 && c == 3) return -199.5f;  // large but valid
                  return float(Smooth(LatOfRow(g, r), LonOfCol(g, c)));
              }));
    ASSERT_TRUE(grid.Open(dir / "g.bin", g));
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(8, 10)));
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(12, 12)));
    EXPECT_EQ(grid.GeoidGridNode(3, 3), -199.5f);
    // Row 6.5, column 7.5: node (8, 10) lies in the 6 x 6 window but not among the four.
    const double lat = LatOfRow(g, 6) - 0.125, lon = LonOfCol(g, 7) + 0.125;
    EXPECT_EQ(grid.GeoidInterpolate(6, lat, lon), grid.GeoidInterpolate(0, lat, lon));
    EXPECT_FALSE(std::isnan(grid.GeoidInterpolate(6, lat, lon)));
    // Next to the hole the bilinear rule itself has no value.
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, LatOfRow(g, 8) - 0.1, LonOfCol(g, 10) - 0.1)));
    // On a row between a valid node and the NaN node.
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(0, LatOfRow(g, 12), LonOfCol(g, 11) + 0.1)));
}

TEST_F(GridFixture, RegionalEdgesExtrapolateNorthAndWestOnly) {
    const GeoidGridGeometry g = Regional();
    auto linear = [](double lat, double lon) { return 10 + 0.5 * (lat - 30) - 0.25 * (lon - 130); };
    Make(g, linear);
    const double north = LatOfRow(g, 0), east = LonOfCol(g, g.NCols - 1);
    EXPECT_NEAR(grid.GeoidInterpolate(0, north + 0.1, 132.1), linear(north + 0.1, 132.1), 1e-9);
    EXPECT_NEAR(grid.GeoidInterpolate(6, 33.1, 129.9), linear(33.1, 129.9), 1e-9);
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, north + 0.3, 132.1)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 33.1, 129.7)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 33.1, east + 0.1)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 29.9, 132.1)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 0, 0)));
}

TEST_F(GridFixture, WesternEdgeWestOfGreenwich) {
    GeoidGridGeometry g = Regional();
    g.LonMin = -3;  // -3 .. +2.75
    auto linear = [](double lat, double lon) { return 10 + 0.5 * (lat - 30) - 0.25 * lon; };
    Make(g, linear);
    EXPECT_NEAR(grid.GeoidInterpolate(6, 33.1, -1.4), linear(33.1, -1.4), 2e-6);
    EXPECT_NEAR(grid.GeoidInterpolate(6, 33.1, 358.6), linear(33.1, -1.4), 2e-6);
    EXPECT_NEAR(grid.GeoidInterpolate(6, 33.1, 1.4), linear(33.1, 1.4), 2e-6);
}

TEST_F(GridFixture, NonFiniteAndHugeInputsGiveNaN) {
    Make(Regional(), Smooth);
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {kNaN, inf, -inf}) {
        EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, bad, 132))) << bad;
        EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 33, bad))) << bad;
        EXPECT_TRUE(std::isnan(grid.GeoidBilinear(bad, 3))) << bad;
    }
    EXPECT_TRUE(std::isnan(grid.GeoidBilinear(-3e9, 3e9)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 1e300, 132)));
    EXPECT_NEAR(grid.GeoidInterpolate(6, 33, 132 + 360.0 * 1e6), Smooth(33, 132), 1e-3);
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(-1, 0)));
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(0, 1 << 30)));
}

TEST(GeoidGridOpen, RefusesUnusableGeometryAndSizes) {
    TempDir dir;
    GeoidGridGeometry g = Regional();
    WriteFile(dir / "g.bin", GridBytes(g.NRows, g.NCols, [](int, int) { return 1.0f; }));
    GeoidGrid grid;
    ASSERT_TRUE(grid.Open(dir / "g.bin", g));
    auto refused = [&](GeoidGridGeometry bad) {
        const bool ok = grid.Open(dir / "g.bin", bad);
        return !ok && !grid.IsOpen() && std::isnan(grid.GeoidInterpolate(6, 33, 132));
    };
    for (double step : {0.0, -0.25, kNaN, std::numeric_limits<double>::infinity(), 300.0, 1e-12}) {
        GeoidGridGeometry b = g;
        b.DLat = step;
        EXPECT_TRUE(refused(b)) << step;
        b = g;
        b.DLon = step;
        EXPECT_TRUE(refused(b)) << step;
    }
    GeoidGridGeometry b = g;
    b.NRows = 0;
    EXPECT_TRUE(refused(b));
    b = g;
    b.NCols = -24;
    EXPECT_TRUE(refused(b));
    b = g;
    b.Stride = 23;  // a row shorter than its nodes
    b.NRows = 20 * 24 / 23;
    EXPECT_TRUE(refused(b));
    b = g;
    b.NRows = 19;  // file longer than the grid
    EXPECT_TRUE(refused(b));
    b = g;
    b.LatMin = kNaN;
    EXPECT_TRUE(refused(b));
    b = g;
    b.NRows = b.NCols = b.Stride = std::numeric_limits<int32_t>::max();  // size needs 64 bits
    EXPECT_TRUE(refused(b));
    EXPECT_FALSE(grid.Open(dir / "missing.bin", g));
    EXPECT_FALSE(grid.Open(dir.Folder(), g));
}

TEST(GeoidGridSteps, StepsPer100DegreesRoundToNearestEven) {
    EXPECT_EQ(GridStepsPer100(2.5 / 60), 2400);
    EXPECT_EQ(GridStepsPer100(1.0 / 60), 6000);
    EXPECT_EQ(GridStepsPer100(0.016667), 6000);
    EXPECT_EQ(GridStepsPer100(0.025), 4000);
    EXPECT_EQ(GridStepsPer100(100.0 / 2.5), 2);   // 2.5 steps: tie to even
    EXPECT_EQ(GridStepsPer100(100.0 / 3.5), 4);
    EXPECT_EQ(GridStepsPer100(200), 0);  // half a step per 100 degrees: unusable
}

}  // namespace
}  // namespace ts
