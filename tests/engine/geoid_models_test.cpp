#include "geoid_models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "geoid_test_util.h"

namespace ts {
namespace {

using testing::CustomGridBytes;
using testing::GridBytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class BrowseHost : public RecordingHost {
public:
    std::string BrowseGeoidFile(const std::string& folder, const std::string& fileName,
                                const std::string& filter) override {
        browsed.push_back(folder + "|" + fileName + "|" + filter);
        return answer;
    }
    std::string answer;  // empty: the user cancels
    std::vector<std::string> browsed;
};

struct ModelsFixture : ::testing::Test {
    TempDir dir;
    BrowseHost host;
    TConversionOptions s;
    GeoidModels models{host, s};

    void SetUp() override { s.GeoidFolder = dir.Folder(); }

    // Selects and checks that the model fell back to the fixed value.
    void ExpectFallback() {
        EXPECT_EQ(s.GeoidModel, 0);
        EXPECT_TRUE(models.GeoidLoaded());
        EXPECT_EQ(s.GeoidCaption, "Fixed value");
        EXPECT_EQ(models.View().modelText, "Fixed value");
        EXPECT_FALSE(models.View().checkVisible);
        EXPECT_FALSE(models.Grid().IsOpen());
        ASSERT_FALSE(host.lines.empty());
        EXPECT_EQ(host.lines.back(), "  Geoid grid not opened: Fixed value is used.");
    }
};

// A small stand-in for the 2.5' global grid: 2 degree steps, framed rows, PrePad 1.
void UseSmallEgm(GeoidGridParams& p, const std::string& name) {
    p.fname = name;
    p.nrows = p.nlat = 91;
    p.nlon = 180;
    p.ncols = 182;
    p.glamn = -90;
    p.glomn = 0;
    p.dgla = p.dglo = 2;
    p.PrePad = 1;
}

float EgmNode(int r, int c) { return float(r) * 0.5f - float(c) * 0.25f + 0.125f; }

TEST_F(ModelsFixture, FixedValueAndUnknownModel) {
    EXPECT_TRUE(std::isnan(models.GeoidHeight(35, 139)));  // nothing selected yet
    s.GeoidModel = 0;
    s.GeoidValue = "12.50";
    s.FixedGeoid = 12.5;
    models.SelectGeoidModel();
    EXPECT_EQ(s.GeoidCaption, "12.50 m");
    EXPECT_TRUE(models.View().fixedVisible);
    EXPECT_EQ(models.GeoidHeight(35, 139), 12.5);
    EXPECT_EQ(models.GeoidHeight(std::nan(""), 139), 12.5);
    s.SpeedUnit = "mph";
    models.SelectGeoidModel();
    EXPECT_EQ(s.GeoidCaption, "12.50 ft");

    s.GeoidModel = GeoidModelIndex("EGM2008 3'");
    EXPECT_EQ(s.GeoidModel, -1);
    models.SelectGeoidModel();
    EXPECT_EQ(s.GeoidModel, 0);
    EXPECT_EQ(s.GeoidCaption, "Fixed value");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.browsed.empty());
    EXPECT_EQ(GeoidModelIndex("GSIGEO 2000"), 3);
}

TEST_F(ModelsFixture, EgmGridFromOtherFolderAfterBrowsing) {
    TempDir other;
    UseSmallEgm(s.Egm2008_25, "egm.grd");
    WriteFile(other / "egm.grd", GridBytes(91, 180, EgmNode, true));
    host.answer = other / "egm.grd";
    s.GeoidModel = 1;
    models.SelectGeoidModel();
    ASSERT_EQ(host.browsed.size(), 1u);
    EXPECT_EQ(host.browsed[0], dir.Folder() + "|egm.grd|Geoid file|egm.grd");
    EXPECT_EQ(s.GeoidFolder, other.Folder());
    EXPECT_EQ(s.GeoidPath, other.Folder());
    EXPECT_EQ(s.GeoidModel, 1);
    EXPECT_EQ(s.GeoidCaption, "EGM2008 2.5'x2.5'");
    EXPECT_TRUE(models.View().checkVisible);
    EXPECT_TRUE(host.messages.empty());
    // Nodes: row 0 at 90 N, column 0 at 0 E.
    EXPECT_EQ(models.GeoidHeight(90 - 2 * 30, 2 * 17), EgmNode(30, 17));
    EXPECT_EQ(models.GeoidHeight(-90 + 2 * 5, -2), EgmNode(85, 179));  // west of 0 wraps
    EXPECT_NEAR(models.GeoidHeight(31, 35), (EgmNode(29, 17) + EgmNode(29, 18) + EgmNode(30, 17) + EgmNode(30, 18)) / 4,
                1e-5);  // a linear field: the spline gives the mean of the four

    models.CloseGeoid();
    EXPECT_TRUE(models.GeoidLoaded());
    EXPECT_TRUE(std::isnan(models.GeoidHeight(30, 34)));
}

TEST_F(ModelsFixture, MissingEgmGridFallsBackWithoutBlocking) {
    s.GeoidModel = 2;
    models.SelectGeoidModel();
    ASSERT_EQ(host.browsed.size(), 1u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Geoid file is not found:\r\nUnd_min1x1_egm2008_isw=82_WGS84_TideFree_SE");
    ExpectFallback();
    EXPECT_EQ(s.GeoidFolder, dir.Folder());
    EXPECT_TRUE(s.GeoidPath.empty());
}

TEST_F(ModelsFixture, MalformedEgmGridsAreRefused) {
    UseSmallEgm(s.Egm2008_25, "egm.grd");
    s.GeoidModel = 1;
    auto bytes = GridBytes(91, 180, EgmNode, true);
    bytes.pop_back();  // one byte short
    WriteFile(dir / "egm.grd", bytes);
    models.SelectGeoidModel();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Illegal geoid file: \r\n\r\n" + (dir / "egm.grd"));
    ExpectFallback();

    // Right size, rows not framed as records.
    WriteFile(dir / "egm.grd", GridBytes(91, 182, EgmNode, false));
    s.GeoidModel = 1;
    models.SelectGeoidModel();
    EXPECT_EQ(host.messages.size(), 2u);
    ExpectFallback();

    // Settings with an unusable step.
    WriteFile(dir / "egm.grd", GridBytes(91, 180, EgmNode, true));
    s.Egm2008_25.dglo = 0;
    s.GeoidModel = 1;
    models.SelectGeoidModel();
    EXPECT_EQ(host.messages.size(), 3u);
    ExpectFallback();
}

// A GSI text grid: 3 rows from 30 N, 4 columns from 130 E, steps 1' and 1.5', the south row first.
const char* kGsiHeader = "30.000000 130.000000 0.016667 0.025000 3 4 1 ver4.0\n";
float GsiValue(int southRow, int col) { return 30.0f + float(southRow) + float(col) * 0.25f; }

std::string GsiBody(const std::string& sep, const std::string& eol) {
    std::string t;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) t += (c ? sep : "") + std::to_string(GsiValue(r, c));
        t += eol;
    }
    return t;
}

TEST_F(ModelsFixture, GsiTextGridIsConvertedOnceAndRead) {
    {
        std::ofstream f(dir / "gsi.txt", std::ios::binary);
        f << kGsiHeader << GsiBody(" ", "\n");
    }
    s.Gsi2000.fname = "gsi.txt";
    s.GeoidModel = 3;
    models.SelectGeoidModel();
    EXPECT_TRUE(host.browsed.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.status[0], " Completed.");
    ASSERT_EQ(s.GeoidModel, 3);
    EXPECT_TRUE(models.View().splineVisible);
    EXPECT_EQ(s.Gsi2000.nlat, 3);
    EXPECT_EQ(s.Gsi2000.nlon, 4);
    EXPECT_EQ(s.Gsi2000.ncols, 4);
    EXPECT_EQ(s.Gsi2000.dgla, 0.016667);

    // The cache: north row first, no header.
    const auto cache = ReadFile(dir / "gsi.txt.dat");
    ASSERT_EQ(cache.size(), 3u * 4 * 4);
    std::vector<unsigned char> expect;
    for (int r = 2; r >= 0; --r)
        for (int c = 0; c < 4; ++c) testing::PutFloat(expect, GsiValue(r, c));
    EXPECT_EQ(cache, expect);

    // Bilinear with the spline off (a grid this small is all edge for the spline anyway).
    s.Spline = false;
    EXPECT_EQ(models.GeoidHeight(30 + 1.0 / 60, 130 + 0.05), GsiValue(1, 2));
    EXPECT_NEAR(models.GeoidHeight(30 + 0.5 / 60, 130 + 0.0125), (GsiValue(0, 0) + GsiValue(1, 1)) / 2, 1e-5);
    EXPECT_TRUE(std::isnan(models.GeoidHeight(35, 139)));

    // A second selection opens the cache even when the text grid has gone.
    std::filesystem::remove(dir / "gsi.txt");
    host.status[0].clear();
    models.SelectGeoidModel();
    EXPECT_EQ(s.GeoidModel, 3);
    EXPECT_TRUE(host.status[0].empty());
    EXPECT_EQ(models.GeoidHeight(30 + 2.0 / 60, 130), GsiValue(2, 0));
}

TEST_F(ModelsFixture, GsiTextLayoutsGiveTheSameCache) {
    s.Gsi2000.fname = "gsi.txt";
    std::vector<unsigned char> first;
    std::string all = GsiBody(" ", " ");
    std::string one = GsiBody("\n", "\n");
    const std::string bodies[] = {GsiBody(" ", "\n"), all, one, GsiBody(", ", "\r\n"), "\n\n" + GsiBody(",", "\r\n\r\n\n")};
    for (const std::string& body : bodies) {
        {
            std::ofstream f(dir / "gsi.txt", std::ios::binary | std::ios::trunc);
            f << kGsiHeader << body;
        }
        std::filesystem::remove(dir / "gsi.txt.dat");
        ASSERT_TRUE(models.ConvertGeoidTextToBinary(dir / "gsi.txt")) << body;
        const auto cache = ReadFile(dir / "gsi.txt.dat");
        if (first.empty()) first = cache;
        EXPECT_EQ(cache, first) << body;
    }
    EXPECT_EQ(first.size(), 48u);
    // No temporary files left beside the cache.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Folder())) (void)e, ++files;
    EXPECT_EQ(files, 2);
}

TEST_F(ModelsFixture, GsiHolesBecomeNaN) {
    {
        std::ofstream f(dir / "gsi.txt", std::ios::binary);
        f << kGsiHeader << "1 2 999.0 1e39\n5 -200 7 8\n9 10 11 199.99\n";
    }
    ASSERT_TRUE(models.ConvertGeoidTextToBinary(dir / "gsi.txt"));
    const auto cache = ReadFile(dir / "gsi.txt.dat");
    ASSERT_EQ(cache.size(), 48u);
    auto at = [&](int northRow, int col) {
        uint32_t u = 0;
        for (int i = 3; i >= 0; --i) u = u << 8 | cache[size_t(northRow * 4 + col) * 4 + size_t(i)];
        return std::bit_cast<float>(u);
    };
    EXPECT_TRUE(std::isnan(at(2, 2)));
    EXPECT_TRUE(std::isnan(at(2, 3)));
    EXPECT_TRUE(std::isnan(at(1, 1)));
    EXPECT_EQ(at(0, 3), 199.99f);
    EXPECT_EQ(at(2, 0), 1.0f);
}

TEST_F(ModelsFixture, ShortOrBrokenGsiTextMakesNoCache) {
    s.Gsi2000.fname = "gsi.txt";
    s.GeoidModel = 3;
    {
        std::ofstream f(dir / "gsi.txt", std::ios::binary);
        f << kGsiHeader << "1 2 3 4\n5 6 7 8\n9 10 11\n\n";
    }
    const GeoidGridParams before = s.Gsi2000;
    models.SelectGeoidModel();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0], "Data is insufficient: " + (dir / "gsi.txt"));
    EXPECT_EQ(host.messages[1], "Can not create:\r\n" + (dir / "gsi.txt.dat"));
    EXPECT_EQ(host.status[0], " Error: Can not create: gsi.txt.dat");
    EXPECT_FALSE(std::filesystem::exists(dir / "gsi.txt.dat"));
    EXPECT_EQ(s.Gsi2000.nlat, before.nlat);  // settings keep the old geometry
    ExpectFallback();

    const char* broken[] = {
        "30 130 0.016667 0.025 3 4 1 ver4.0\n1 2 x 4 5 6 7 8 9 10 11 12\n",  // not a number mid-line
        "30 130 0 0.025 3 4 1 ver4.0\n1 2 3 4 5 6 7 8 9 10 11 12\n",       // zero step
        "30 130 0.016667 0.025 -3 4 1 ver4.0\n1 2 3 4 5 6 7 8 9 10 11 12\n",  // negative rows
        "30 130 0.016667 0.025 100000 100000 1 v\n1 2 3\n",                  // far more values than text
        "",                                                                   // empty file
    };
    for (const char* text : broken) {
        {
            std::ofstream f(dir / "gsi.txt", std::ios::binary | std::ios::trunc);
            f << text;
        }
        EXPECT_FALSE(models.ConvertGeoidTextToBinary(dir / "gsi.txt")) << text;
        EXPECT_FALSE(std::filesystem::exists(dir / "gsi.txt.dat")) << text;
    }
}

TEST_F(ModelsFixture, GsiCacheOfWrongSizeIsBuiltAgain) {
    {
        std::ofstream f(dir / "gsi.txt", std::ios::binary);
        f << kGsiHeader << GsiBody(" ", "\n");
    }
    s.Gsi2000.fname = "gsi.txt";
    s.Gsi2000.nlat = s.Gsi2000.nrows = 3;
    s.Gsi2000.nlon = s.Gsi2000.ncols = 4;
    WriteFile(dir / "gsi.txt.dat", std::vector<unsigned char>(20, 0));  // a truncated earlier cache
    s.GeoidModel = 3;
    models.SelectGeoidModel();
    EXPECT_EQ(s.GeoidModel, 3);
    EXPECT_EQ(ReadFile(dir / "gsi.txt.dat").size(), 48u);
    EXPECT_EQ(host.status[0], " Completed.");
}

TEST_F(ModelsFixture, GsiWithNeitherFile) {
    s.Gsi2000.fname = "gsi.txt";
    s.GeoidModel = 3;
    models.SelectGeoidModel();
    ASSERT_EQ(host.browsed.size(), 1u);
    EXPECT_EQ(host.browsed[0], dir.Folder() + "|gsi.txt|Geoid file|gsi.txt;gsi.txt.dat");
    EXPECT_EQ(host.status[0], " Error: Can not found: gsi.txt");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Geoid file is not found:\r\n" + (dir / "gsi.txt"));
    ExpectFallback();
    EXPECT_FALSE(models.View().splineVisible);
}

float CustomNode(int r, int c) { return float(r * 10 + c) * 0.5f; }

TEST_F(ModelsFixture, CustomGridWithTrailer) {
    WriteFile(dir / "small.cdat", CustomGridBytes(3, 4, 35, 139, 0.5, 0.25, CustomNode));
    EXPECT_EQ(ReadFile(dir / "small.cdat").size(), 88u);
    s.CustomGeoidFName = "small.cdat";
    s.GeoidModel = 4;
    models.SelectGeoidModel();
    EXPECT_TRUE(host.browsed.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(s.GeoidModel, 4);
    EXPECT_EQ(models.View().customLabel, "small.cdat");
    // Row 0 is the northern row, 36 N.
    EXPECT_EQ(models.GeoidHeight(36, 139), CustomNode(0, 0));
    EXPECT_EQ(models.GeoidHeight(35, 139.75), CustomNode(2, 3));
    EXPECT_EQ(models.GeoidHeight(35.5, 139.125), (CustomNode(1, 0) + CustomNode(1, 1)) / 2);
}

TEST_F(ModelsFixture, CustomGlobalGridWraps) {
    auto node = [](int r, int c) { return float(r) + float(c) * 0.25f; };
    WriteFile(dir / "world.cdat", CustomGridBytes(19, 36, -90, 0, 10, 10, node));
    s.CustomGeoidFName = "world.cdat";
    s.GeoidModel = 4;
    models.SelectGeoidModel();
    ASSERT_EQ(s.GeoidModel, 4);
    EXPECT_TRUE(models.Grid().IsGlobal());
    EXPECT_EQ(models.GeoidHeight(0, 360), node(9, 0));
    EXPECT_FALSE(std::isnan(models.GeoidHeight(0, 355)));
    EXPECT_EQ(models.GeoidHeight(0, 355), models.GeoidHeight(0, -5));
}

TEST_F(ModelsFixture, MalformedCustomGridsAreRefused) {
    s.GeoidModel = 4;
    auto expectIllegal = [&](const std::vector<unsigned char>& bytes) {
        WriteFile(dir / "bad.cdat", bytes);
        s.CustomGeoidFName = "bad.cdat";
        s.GeoidModel = 4;
        host.messages.clear();
        models.SelectGeoidModel();
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0], "Illegal Custom geoid file: \r\n\r\n" + (dir / "bad.cdat"));
        ExpectFallback();
    };
    auto good = CustomGridBytes(3, 4, 35, 139, 0.5, 0.25, CustomNode);
    auto longer = good;
    longer.insert(longer.begin(), 0);  // 89 bytes
    expectIllegal(longer);
    expectIllegal(std::vector<unsigned char>(good.end() - 39, good.end()));  // under 40 bytes
    expectIllegal({});
    expectIllegal(CustomGridBytes(3, 4, 35, 139, std::nan(""), 0.25, CustomNode));
    expectIllegal(CustomGridBytes(3, 4, 35, 139, 0.5, -0.25, CustomNode));
    // Rows x columns that overflow 32 bits but match the size modulo 2^32.
    auto wrapped = CustomGridBytes(1, 1, 35, 139, 0.5, 0.25, CustomNode);
    for (int i = 0; i < 4; ++i) wrapped[4 + size_t(i)] = i == 3 ? 0x40 : 0;  // 2^30 + ... rows
    wrapped[4] = 1;
    expectIllegal(wrapped);

    // A file that is not there: its own message; with no name and no answer: none.
    s.CustomGeoidFName = "gone.cdat";
    s.GeoidModel = 4;
    host.messages.clear();
    models.SelectGeoidModel();
    ASSERT_EQ(host.browsed.back(), dir.Folder() + "|gone.cdat|Custom Geoid file(*.cdat)|*.cdat");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Geoid file is not found: \r\n" + (dir / "gone.cdat"));
    s.CustomGeoidFName.clear();
    s.GeoidModel = 4;
    host.messages.clear();
    models.SelectGeoidModel();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(s.CustomGeoidFName.empty());
    ExpectFallback();
}

TEST(GeoidTokens, NumbersOffTheFront) {
    std::string_view t = " ,12.5, -3 7";
    EXPECT_EQ(NextFloatToken(t), 12.5);
    EXPECT_EQ(NextIntToken(t), -3);
    EXPECT_EQ(NextFloatToken(t), 7);
    EXPECT_TRUE(t.empty());
    t = "1 x 2";
    EXPECT_EQ(NextFloatToken(t), 1);
    EXPECT_THROW(NextFloatToken(t), std::invalid_argument);
    t = "abc";
    EXPECT_TRUE(std::isnan(NextFloatToken(t)));
    EXPECT_TRUE(t.empty());
    t = "7.5\r\n";
    EXPECT_EQ(NextFloatToken(t), 7.5);
    EXPECT_TRUE(t.empty());
    t = "";
    EXPECT_EQ(NextIntToken(t), 0);
}

}  // namespace
}  // namespace ts
