// A real geoid grid (EGM96, 15', from the distribution's PROJ data) converted into our custom and
// GSI text layouts; PROJ's vertical grid shift is the independent bilinear reading.

#include <charconv>

#include "geoid/geoid_models.h"
#include "geoid_test_util.h"

namespace ts {
namespace {

uint64_t Be(const std::vector<unsigned char>& b, size_t at, int n) {
    uint64_t u = 0;
    for (int i = 0; i < n; ++i) u = u << 8 | b[at + size_t(i)];
    return u;
}

// PROJ's reading at each point; empty when cct cannot run.
std::vector<double> ProjGeoid(const testing::TempDir& dir, const std::vector<std::pair<double, double>>& pts) {
    std::ostringstream in;
    in.precision(17);
    for (const auto& [lat, lon] : pts) in << lon << ' ' << lat << " 0\n";
    testing::WriteText(dir / "points.txt", in.str());
    std::string out;
    std::vector<double> r;
    const std::string cmd =
        "(cct -d 6 +proj=vgridshift +grids=egm96_15.gtx +multiplier=1 < " + testing::Quote(dir / "points.txt");
    if (testing::RunCommand(cmd + " 2>/dev/null)", &out) != 0) return r;
    std::istringstream lines(out);
    // Longitude, latitude, height, time (which may read "inf").
    for (double lon, lat, z; lines >> lon >> lat >> z; lines.ignore(1 << 20, '\n')) r.push_back(z);
    return r;
}

TEST(GeoidEgm96, BilinearAgreesWithProjAndLayoutsAgree) {
    const auto gtx = testing::ReadBytes("/usr/share/proj/egm96_15.gtx");
    if (gtx.size() < 40) GTEST_SKIP() << "no EGM96 grid";
    // Header: big-endian south-west corner, steps, rows, columns; then rows south first.
    const double latMin = std::bit_cast<double>(Be(gtx, 0, 8)), lonMin = std::bit_cast<double>(Be(gtx, 8, 8));
    const double step = std::bit_cast<double>(Be(gtx, 16, 8));
    const int rows = int(Be(gtx, 32, 4)), cols = int(Be(gtx, 36, 4));
    ASSERT_EQ(gtx.size(), 40 + size_t(rows) * size_t(cols) * 4);
    auto south = [&](int r, int c) {
        return std::bit_cast<float>(uint32_t(Be(gtx, 40 + 4 * (size_t(r) * cols + c), 4)));
    };

    testing::TempDir dir;
    testing::WriteFile(dir / "egm96.cdat",
                       testing::CustomGridBytes(rows, cols, latMin, lonMin, step, step,
                                                [&](int r, int c) { return south(rows - 1 - r, c); }));
    std::string text = "-90 -180 0.25 0.25 " + std::to_string(rows) + " " + std::to_string(cols) + " 1 egm96\n";
    char buf[32];
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            text.append(buf, std::to_chars(buf, buf + sizeof buf, south(r, c)).ptr) += c + 1 < cols ? ' ' : '\n';
    testing::WriteText(dir / "egm96.txt", text);

    RecordingHost host;
    TConversionOptions custom, gsi;
    custom.GeoidFolder = gsi.GeoidFolder = dir.Folder();
    custom.CustomGeoidFName = "egm96.cdat";
    custom.GeoidModel = 4;
    gsi.Gsi2000.fname = "egm96.txt";
    gsi.GeoidModel = 3;
    GeoidModels customModel(host, custom), gsiModel(host, gsi);
    customModel.SelectGeoidModel();
    gsiModel.SelectGeoidModel();
    ASSERT_EQ(custom.GeoidModel, 4);
    ASSERT_EQ(gsi.GeoidModel, 3);

    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> lat(-89.8, 89.8), lon(-180, 180);
    std::vector<std::pair<double, double>> pts{{35.6581, 139.7414}, {10.3, 179.93}, {-33.2, -179.96}};
    for (int i = 0; i < 300; ++i) pts.emplace_back(lat(rng), lon(rng));
    for (const auto& [la, lo] : pts) {
        const double bilinear = gsiModel.GeoidHeight(la, lo);  // spline off
        EXPECT_NEAR(bilinear, customModel.Grid().GeoidInterpolate(0, la, lo), 1e-9) << la << " " << lo;
        EXPECT_NEAR(customModel.GeoidHeight(la, lo), bilinear, 1.5) << la << " " << lo;
    }
    const std::vector<double> proj = ProjGeoid(dir, pts);
    if (proj.size() != pts.size()) GTEST_SKIP() << "PROJ's cct is not available";
    for (size_t i = 0; i < pts.size(); ++i)
        EXPECT_NEAR(gsiModel.GeoidHeight(pts[i].first, pts[i].second), proj[i], 1e-3)
            << pts[i].first << " " << pts[i].second;
}

}  // namespace
}  // namespace ts
