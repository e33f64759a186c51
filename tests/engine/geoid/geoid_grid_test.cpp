#include "geoid/geoid_grid.h"

#include "geoid_test_util.h"

namespace ts {
namespace {

using testing::TempDir;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Regional: 0.25 degree steps, south-west node at 30 N 130 E, 20 rows x 24 columns.
GeoidGridGeometry Regional(double lonMin = 130) { return {24, 30, lonMin, 0.25, 0.25, 20, 24, 0}; }
// Global: 1 degree steps, 181 rows x 360 columns.
GeoidGridGeometry Global(double lonMin) { return {360, -90, lonMin, 1, 1, 181, 360, 0}; }

double Linear(double lat, double lon) { return 10 + 0.5 * (lat - 30) - 0.25 * (lon - 130); }
double Wavy(double lat, double lon) { return 30 + 8 * std::sin(lat * 0.35) * std::cos(lon * 0.27); }
double Smooth(double lat, double lon) {
    const double d = M_PI / 180;
    return 20 * std::cos(lat * d) * std::sin(2 * lon * d) + 5 * std::sin(3 * lat * d);
}

struct GridTest : ::testing::Test {
    TempDir dir;
    GeoidGrid grid;
    GeoidGridGeometry g;
    double Lat(int row) const { return g.LatMin + (g.NRows - 1 - row) * g.DLat; }
    double Lon(int col) const { return g.LonMin + col * g.DLon; }
    void Make(const GeoidGridGeometry& geo, double (*field)(double, double), const testing::NodeFn& hole = nullptr) {
        g = geo;
        testing::WriteFile(dir / "g.bin", testing::GridBytes(g.NRows, g.NCols, [&](int r, int c) {
                               const float h = hole ? hole(r, c) : 0;
                               return h != 0 ? h : float(field(Lat(r), Lon(c)));
                           }));
        ASSERT_TRUE(grid.Open(dir / "g.bin", g));
    }
};

TEST_F(GridTest, LinearFieldNodesAndSmoothField) {
    Make(Regional(), Linear);  // node values are multiples of 1/16: exact singles
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> lat(31, 34), lon(131, 134.5);
    for (int i = 0; i < 200; ++i) {
        const double la = lat(rng), lo = lon(rng);
        EXPECT_NEAR(grid.GeoidInterpolate(6, la, lo), Linear(la, lo), 2e-6) << la << " " << lo;
        EXPECT_NEAR(grid.GeoidInterpolate(0, la, lo), Linear(la, lo), 1e-9) << la << " " << lo;
    }
    Make(Regional(), Wavy);
    for (int r = 4; r < 15; r += 3)
        for (int c = 4; c < 19; c += 5) {
            const double stored = grid.GeoidGridNode(r, c);
            EXPECT_EQ(grid.GeoidInterpolate(6, Lat(r), Lon(c)), stored);
            EXPECT_EQ(grid.GeoidBilinear(r + 4e-6, c - 4e-6), stored);  // snapped onto the node
        }
    // A working spline is far closer to a smooth field than the bilinear rule.
    double errSpline = 0, errBilinear = 0;
    for (int i = 0; i < 300; ++i) {
        const double la = lat(rng), lo = lon(rng);
        errSpline = std::max(errSpline, std::fabs(grid.GeoidInterpolate(6, la, lo) - Wavy(la, lo)));
        errBilinear = std::max(errBilinear, std::fabs(grid.GeoidInterpolate(0, la, lo) - Wavy(la, lo)));
    }
    EXPECT_GT(errBilinear, 1e-3);
    EXPECT_LT(errSpline, errBilinear / 10);
}

TEST_F(GridTest, GlobalGridsWrapWhereverTheirWesternEdgeIs) {
    for (double lonMin : {0.0, -180.0}) {
        Make(Global(lonMin), Smooth);
        EXPECT_TRUE(grid.IsGlobal());
        EXPECT_EQ(grid.GeoidInterpolate(6, 12.3, -0.5), grid.GeoidInterpolate(6, 12.3, 359.5));
        EXPECT_EQ(grid.GeoidInterpolate(0, 12, 360), grid.GeoidInterpolate(0, 12, 0));
        for (double lon : {0.01, 359.99, 179.6, -179.6, 180.0})
            EXPECT_NEAR(grid.GeoidInterpolate(6, 12.3, lon), Smooth(12.3, lon), 0.01) << lonMin << " " << lon;
    }
    EXPECT_EQ(grid.GeoidInterpolate(6, 12, 720 + 33.3), grid.GeoidInterpolate(6, 12, 33.3));
}

TEST_F(GridTest, MissingNodesSendSplineToBilinear) {
    Make(Regional(), Smooth, [](int r, int c) {
        if (r == 8 && c == 10) return 999.0f;  // hole flag
        if (r == 12 && c == 12) return std::numeric_limits<float>::quiet_NaN();
        if (r == 18 && c == 20) return 200.0f;  // the smallest hole flag
        return r == 3 && c == 3 ? -199.5f : 0.0f;
    });
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(8, 10)));
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(18, 20)));
    EXPECT_EQ(grid.GeoidGridNode(3, 3), -199.5f);
    // Node (8, 10) lies in the 6 x 6 window of row 6.5, column 7.5 but not among its four.
    const double lat = Lat(6) - 0.125, lon = Lon(7) + 0.125;
    EXPECT_EQ(grid.GeoidInterpolate(6, lat, lon), grid.GeoidInterpolate(0, lat, lon));
    EXPECT_FALSE(std::isnan(grid.GeoidInterpolate(6, lat, lon)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, Lat(8) - 0.1, Lon(10) - 0.1)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(0, Lat(12), Lon(11) + 0.1)));  // on a row, next to NaN
}

TEST_F(GridTest, RegionalEdgesAndWesternEdgeWestOfGreenwich) {
    Make(Regional(), Linear);
    const double north = Lat(0), east = Lon(g.NCols - 1);
    // Less than a step north or west: linear extrapolation; east or south: nothing.
    EXPECT_NEAR(grid.GeoidInterpolate(0, north + 0.1, 132.1), Linear(north + 0.1, 132.1), 1e-9);
    EXPECT_NEAR(grid.GeoidInterpolate(6, 33.1, 129.9), Linear(33.1, 129.9), 1e-9);
    for (auto [la, lo] : {std::pair{north + 0.3, 132.1}, {33.1, 129.7}, {33.1, east + 0.1}, {29.9, 132.1}, {0.0, 0.0}})
        EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, la, lo))) << la << " " << lo;

    Make(Regional(-3), Linear);  // -3 .. +2.75
    for (double lon : {-1.4, 358.6, 1.4})
        EXPECT_NEAR(grid.GeoidInterpolate(6, 33.1, lon), Linear(33.1, lon > 180 ? lon - 360 : lon), 2e-6) << lon;
}

TEST_F(GridTest, NonFiniteAndHugeInputsGiveNaN) {
    Make(Regional(), Smooth);
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {kNaN, inf, -inf}) {
        EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, bad, 132)));
        EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 33, bad)));
        EXPECT_TRUE(std::isnan(grid.GeoidBilinear(bad, 3)));
    }
    EXPECT_TRUE(std::isnan(grid.GeoidBilinear(-3e9, 3e9)));
    EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 1e300, 132)));
    EXPECT_TRUE(std::isnan(grid.GeoidGridNode(0, 1 << 30)));
}

TEST(GeoidGridOpen, RefusesUnusableGeometryAndSizes) {
    TempDir dir;
    const GeoidGridGeometry g = Regional();
    testing::WriteFile(dir / "g.bin", testing::GridBytes(g.NRows, g.NCols, [](int, int) { return 1.0f; }));
    GeoidGrid grid;
    ASSERT_TRUE(grid.Open(dir / "g.bin", g));
    std::vector<GeoidGridGeometry> bad;
    for (double step : {0.0, -0.25, kNaN, std::numeric_limits<double>::infinity(), 300.0, 1e-12}) {
        bad.push_back(g), bad.back().DLat = step;
        bad.push_back(g), bad.back().DLon = step;
    }
    bad.push_back(g), bad.back().NRows = 0;
    bad.push_back(g), bad.back().NCols = -24;
    bad.push_back(g), bad.back().NRows = 19;                                   // file longer than the grid
    bad.push_back({23, 30, 130, 0.25, 0.25, 20 * 24 / 23, 24, 0});             // rows shorter than their nodes
    bad.push_back({INT32_MAX, 30, 130, 0.25, 0.25, INT32_MAX, INT32_MAX, 0});  // size needs 64 bits
    bad.push_back(g), bad.back().LatMin = kNaN;
    for (const auto& b : bad) {
        EXPECT_FALSE(grid.Open(dir / "g.bin", b));
        EXPECT_TRUE(std::isnan(grid.GeoidInterpolate(6, 33, 132)));
    }
    EXPECT_FALSE(grid.Open(dir / "missing.bin", g));
    EXPECT_FALSE(grid.Open(dir.Folder(), g));
    // Steps per 100 degrees: nearest integer, ties to even.
    EXPECT_EQ(GridStepsPer100(0.016667), 6000);
    EXPECT_EQ(GridStepsPer100(100.0 / 2.5), 2);
    EXPECT_EQ(GridStepsPer100(100.0 / 3.5), 4);
}

}  // namespace
}  // namespace ts
