// A real geoid grid (EGM96, 15', from the distribution's PROJ data) converted into our custom and
// GSI text layouts; PROJ's vertical grid shift is the independent bilinear reading.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "geoid_models.h"
#include "geoid_test_util.h"

namespace ts {
namespace {

using testing::TempDir;

constexpr const char* kGtx = "/usr/share/proj/egm96_15.gtx";

struct Gtx {
    double latMin = 0, lonMin = 0, dLat = 0, dLon = 0;
    int rows = 0, cols = 0;
    std::vector<float> south;  // rows south first, as stored
};

uint64_t Be(const unsigned char* b, int n) {
    uint64_t u = 0;
    for (int i = 0; i < n; ++i) u = u << 8 | b[i];
    return u;
}

bool LoadGtx(Gtx& g) {
    const auto bytes = testing::ReadFile(kGtx);
    if (bytes.size() < 40) return false;
    g.latMin = std::bit_cast<double>(Be(&bytes[0], 8));
    g.lonMin = std::bit_cast<double>(Be(&bytes[8], 8));
    g.dLat = std::bit_cast<double>(Be(&bytes[16], 8));
    g.dLon = std::bit_cast<double>(Be(&bytes[24], 8));
    g.rows = int(uint32_t(Be(&bytes[32], 4)));
    g.cols = int(uint32_t(Be(&bytes[36], 4)));
    if (g.rows <= 0 || g.cols <= 0 || bytes.size() != 40 + size_t(g.rows) * size_t(g.cols) * 4) return false;
    g.south.resize(size_t(g.rows) * size_t(g.cols));
    for (size_t i = 0; i < g.south.size(); ++i) g.south[i] = std::bit_cast<float>(uint32_t(Be(&bytes[40 + 4 * i], 4)));
    return true;
}

// Runs PROJ's vertical grid shift on lon/lat pairs; empty when it is not available.
std::vector<double> ProjGeoid(const TempDir& dir, const std::vector<std::pair<double, double>>& latLon) {
    {
        std::ofstream in(dir / "points.txt");
        char buf[64];
        for (const auto& [lat, lon] : latLon) {
            auto end = std::to_chars(buf, buf + 30, lon).ptr;
            *end++ = ' ';
            end = std::to_chars(end, buf + 62, lat).ptr;
            in << std::string(buf, end) << " 0\n";
        }
    }
    const std::string cmd = "cct -d 6 +proj=vgridshift +grids=egm96_15.gtx +multiplier=1 < '" + (dir / "points.txt") +
                            "' 2>/dev/null";
    std::vector<double> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char line[256];
    while (std::fgets(line, sizeof line, p)) {
        std::istringstream ss(line);
        ss.imbue(std::locale::classic());
        double x, y, z;
        if (ss >> x >> y >> z) out.push_back(z);
    }
    if (pclose(p) != 0) out.clear();
    return out;
}

TEST(GeoidEgm96, BilinearAgreesWithProjAndLayoutsAgree) {
    Gtx gtx;
    if (!LoadGtx(gtx)) GTEST_SKIP() << "no " << kGtx;
    TempDir dir;

    // Custom layout: north row first, then the trailer.
    auto node = [&](int northRow, int col) { return gtx.south[size_t(gtx.rows - 1 - northRow) * size_t(gtx.cols) + size_t(col)]; };
    testing::WriteFile(dir / "egm96.cdat",
                       testing::CustomGridBytes(gtx.rows, gtx.cols, gtx.latMin, gtx.lonMin, gtx.dLat, gtx.dLon, node));
    // GSI text layout: header, then the rows south first, shortest exact texts.
    {
        std::ofstream t(dir / "egm96.txt", std::ios::binary);
        t << "-90 -180 0.25 0.25 " << gtx.rows << " " << gtx.cols << " 1 egm96\n";
        char buf[32];
        for (int r = 0; r < gtx.rows; ++r) {
            std::string line;
            for (int c = 0; c < gtx.cols; ++c) {
                line.append(buf, std::to_chars(buf, buf + sizeof buf, gtx.south[size_t(r) * size_t(gtx.cols) + size_t(c)]).ptr);
                line += c + 1 < gtx.cols ? ' ' : '\n';
            }
            t << line;
        }
    }

    RecordingHost host;
    TConversionOptions custom, gsi;
    custom.GeoidFolder = gsi.GeoidFolder = dir.Folder();
    custom.GeoidModel = 4;
    custom.CustomGeoidFName = "egm96.cdat";
    gsi.GeoidModel = 3;
    gsi.Gsi2000.fname = "egm96.txt";
    gsi.Spline = false;
    GeoidModels customModel(host, custom), gsiModel(host, gsi);
    customModel.SelectGeoidModel();
    gsiModel.SelectGeoidModel();
    ASSERT_EQ(custom.GeoidModel, 4);
    ASSERT_EQ(gsi.GeoidModel, 3);
    EXPECT_TRUE(host.messages.empty());

    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> lat(-89.8, 89.8), lon(-180, 180);
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < 300; ++i) pts.emplace_back(lat(rng), lon(rng));
    pts.emplace_back(35.6581, 139.7414);
    pts.emplace_back(10.3, 179.93);   // between the last column and the wrapped first one
    pts.emplace_back(-33.2, -179.96);

    for (const auto& [la, lo] : pts) {
        const double bilinear = gsiModel.GeoidHeight(la, lo);
        EXPECT_NEAR(bilinear, customModel.Grid().GeoidInterpolate(0, la, lo), 1e-9) << la << " " << lo;
        // The spline stays close to the bilinear value on a smooth 15' field.
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
