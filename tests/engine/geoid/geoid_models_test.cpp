#include "geoid/geoid_models.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "geoid_test_util.h"
#include "open_watch.h"

namespace ts {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteFile;
using testing::WriteText;

class BrowseHost : public RecordingHost {
public:
    std::string BrowseGeoidFile(const std::string& folder, const std::string& name,
                                const std::string& filter) override {
        browsed.push_back(folder + "|" + name + "|" + filter);
        return answer;
    }
    std::string answer;  // empty: cancelled
    std::vector<std::string> browsed;
};

struct ModelsTest : ::testing::Test {
    TempDir dir;
    BrowseHost host;
    TConversionOptions s;
    GeoidModels models{host, s};

    void SetUp() override { s.GeoidFolder = dir.Folder(); }
    void Select(int model) {
        host.messages.clear();
        s.GeoidModel = model;
        models.SelectGeoidModel();
    }
    void ExpectFallback() {
        EXPECT_EQ(s.GeoidModel, 0);
        EXPECT_TRUE(models.GeoidLoaded());
        EXPECT_EQ(s.GeoidCaption, "Fixed value");
        EXPECT_EQ(models.View().modelText, "Fixed value");
        EXPECT_FALSE(models.View().checkVisible || models.View().splineVisible || models.Grid().IsOpen());
        ASSERT_FALSE(host.lines.empty());
        EXPECT_EQ(host.lines.back(), "  Geoid grid not opened: Fixed value is used.");
    }
};

// A stand-in for the 2.5' global grid: 2 degree steps, framed rows, PrePad 1.
float EgmNode(int r, int c) { return float(r) * 0.5f - float(c) * 0.25f + 0.125f; }
void UseSmallEgm(GeoidGridParams& p) { p = {"egm.grd", 91, 182, -90, 0, 2, 2, 91, 180, 1}; }

TEST_F(ModelsTest, EgmGridMissingThenFoundInAnotherFolder) {
    Select(2);  // nothing anywhere, the host cannot answer
    ASSERT_EQ(host.browsed.size(), 1u);
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"Geoid file is not found:\r\nUnd_min1x1_egm2008_isw=82_WGS84_TideFree_SE"});
    ExpectFallback();

    TempDir other;
    UseSmallEgm(s.Egm2008_25);
    WriteFile(other / "egm.grd", testing::GridBytes(91, 180, EgmNode, true));
    host.answer = other / "egm.grd";
    Select(1);
    EXPECT_EQ(host.browsed.back(), dir.Folder() + "|egm.grd|Geoid file|egm.grd");
    EXPECT_EQ(s.GeoidFolder, other.Folder());
    EXPECT_EQ(s.GeoidPath, other.Folder());
    ASSERT_EQ(s.GeoidModel, 1);
    EXPECT_EQ(s.GeoidCaption, "EGM2008 2.5'x2.5'");
    EXPECT_TRUE(models.View().checkVisible);
    EXPECT_EQ(models.GeoidHeight(30, 34), EgmNode(30, 17));  // row 0 at 90 N, column 0 at 0 E
    EXPECT_EQ(models.GeoidHeight(-80, -2), EgmNode(85, 179));
    EXPECT_NEAR(models.GeoidHeight(31, 35), (EgmNode(29, 17) + EgmNode(30, 18)) / 2, 1e-5);

    models.CloseGeoid();
    EXPECT_TRUE(models.GeoidLoaded());
    EXPECT_TRUE(std::isnan(models.GeoidHeight(30, 34)));
}

// A GSI text grid: 3 rows from 30 N, 4 columns from 130 E, steps 1' and 1.5', south row first.
const std::string kGsiHeader = "30.000000 130.000000 0.016667 0.025000 3 4 1 ver4.0\n";
float GsiValue(int southRow, int col) { return 30.0f + float(southRow) + float(col) * 0.25f; }
std::string GsiBody(const std::string& sep, const std::string& eol) {
    std::string t;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) t += (c ? sep : "") + std::to_string(GsiValue(r, c));
        t += eol;
    }
    return t;
}

TEST_F(ModelsTest, GsiTextGridIsConvertedOnceAndRead) {
    WriteText(dir / "gsi.txt", kGsiHeader + GsiBody(" ", "\n"));
    s.Gsi2000.fname = "gsi.txt";
    WriteFile(dir / "gsi.txt.dat", std::vector<unsigned char>(20, 0));  // cut short by an earlier run
    Select(3);
    EXPECT_TRUE(host.browsed.empty() && host.messages.empty());
    EXPECT_EQ(host.status[0], " Completed.");
    ASSERT_EQ(s.GeoidModel, 3);
    EXPECT_TRUE(models.View().splineVisible);
    EXPECT_EQ(s.Gsi2000.nlat, 3);
    EXPECT_EQ(s.Gsi2000.ncols, 4);
    EXPECT_EQ(s.Gsi2000.dgla, 0.016667);
    std::vector<unsigned char> expect;  // north row first, no header
    for (int r = 2; r >= 0; --r)
        for (int c = 0; c < 4; ++c) testing::PutLe(expect, GsiValue(r, c));
    EXPECT_EQ(ReadBytes(dir / "gsi.txt.dat"), expect);

    s.Spline = false;  // bilinear
    EXPECT_EQ(models.GeoidHeight(30 + 1.0 / 60, 130.05), GsiValue(1, 2));
    EXPECT_NEAR(models.GeoidHeight(30 + 0.5 / 60, 130.0125), (GsiValue(0, 0) + GsiValue(1, 1)) / 2, 1e-5);
    EXPECT_TRUE(std::isnan(models.GeoidHeight(35, 139)));

    // Later selections open the cache, also without the text grid.
    std::filesystem::remove(dir / "gsi.txt");
    host.status[0].clear();
    Select(3);
    EXPECT_EQ(s.GeoidModel, 3);
    EXPECT_TRUE(host.status[0].empty());
    EXPECT_EQ(models.GeoidHeight(30 + 2.0 / 60, 130), GsiValue(2, 0));
}

TEST_F(ModelsTest, GsiGridFollowsTheSplineSetting) {
    std::string text = "30.000000 130.000000 0.016667 0.025000 12 12 1 ver4.0\n";
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 12; ++c) text += std::to_string(30 + 5 * std::sin(r * 0.7) * std::cos(c * 0.5)) + " ";
    WriteText(dir / "gsi.txt", text);
    s.Gsi2000.fname = "gsi.txt";
    Select(3);
    ASSERT_EQ(s.GeoidModel, 3);
    const double lat = 30 + 5.5 / 60, lon = 130 + 5.5 * 0.025;
    const double spline = models.Grid().GeoidInterpolate(6, lat, lon),
                 bilinear = models.Grid().GeoidInterpolate(0, lat, lon);
    ASSERT_GT(std::fabs(spline - bilinear), 1e-3);
    s.Spline = true;
    EXPECT_EQ(models.GeoidHeight(lat, lon), spline);
    s.Spline = false;
    EXPECT_EQ(models.GeoidHeight(lat, lon), bilinear);
}

TEST_F(ModelsTest, GsiTextLayoutsGiveTheSameCacheAndHolesBecomeNaN) {
    std::vector<unsigned char> first;
    for (const std::string& body : {GsiBody(" ", "\n"), GsiBody(" ", " "), GsiBody("\n", "\n"), GsiBody(", ", "\r\n"),
                                    "\n\n" + GsiBody(",", "\r\n\r\n\n")}) {
        WriteText(dir / "gsi.txt", kGsiHeader + body);
        std::filesystem::remove(dir / "gsi.txt.dat");
        ASSERT_TRUE(models.ConvertGeoidTextToBinary(dir / "gsi.txt")) << body;
        if (first.empty()) first = ReadBytes(dir / "gsi.txt.dat");
        EXPECT_EQ(ReadBytes(dir / "gsi.txt.dat"), first) << body;
    }
    EXPECT_EQ(first.size(), 48u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Folder()), {}), 2);  // no temporary left

    WriteText(dir / "gsi.txt", kGsiHeader + "1 2 999.0 1e39\n5 -200 7 8\n9 10 11 199.99\n");
    ASSERT_TRUE(models.ConvertGeoidTextToBinary(dir / "gsi.txt"));
    const auto cache = ReadBytes(dir / "gsi.txt.dat");
    auto at = [&](int northRow, int col) {
        uint32_t u = 0;
        for (int i = 3; i >= 0; --i) u = u << 8 | cache.at(size_t(northRow * 4 + col) * 4 + size_t(i));
        return std::bit_cast<float>(u);
    };
    EXPECT_TRUE(std::isnan(at(2, 2)) && std::isnan(at(2, 3)) && std::isnan(at(1, 1)));
    EXPECT_EQ(at(0, 3), 199.99f);
    EXPECT_EQ(at(2, 0), 1.0f);
}

TEST_F(ModelsTest, ShortOrBrokenGsiTextMakesNoCache) {
    s.Gsi2000.fname = "gsi.txt";
    WriteText(dir / "gsi.txt", kGsiHeader + "1 2 3 4\n5 6 7 8\n9 10 11\n\n");
    Select(3);
    EXPECT_EQ(host.messages, (std::vector<std::string>{"Data is insufficient: " + (dir / "gsi.txt"),
                                                       "Can not create:\r\n" + (dir / "gsi.txt.dat")}));
    EXPECT_EQ(host.status[0], " Error: Can not create: gsi.txt.dat");
    EXPECT_FALSE(std::filesystem::exists(dir / "gsi.txt.dat"));
    EXPECT_EQ(s.Gsi2000.nlat, 1801);  // the settings keep their geometry
    ExpectFallback();

    for (const char* text : {"30 130 0.016667 0.025 3 4 1 v\n1 2 x 4 5 6 7 8 9 10 11 12\n",   // not a number
                             "30 130 0 0.025 3 4 1 v\n1 2 3 4 5 6 7 8 9 10 11 12\n",          // zero step
                             "30 130 0.016667 0.025 -3 4 1 v\n1 2 3 4 5 6 7 8 9 10 11 12\n",  // negative rows
                             "30 130 0.016667 0.025 100000 100000 1 v\n1 2 3\n",              // far too few
                             ""}) {
        WriteText(dir / "gsi.txt", text);
        EXPECT_FALSE(models.ConvertGeoidTextToBinary(dir / "gsi.txt")) << text;
        EXPECT_FALSE(std::filesystem::exists(dir / "gsi.txt.dat")) << text;
    }

    std::filesystem::remove(dir / "gsi.txt");
    Select(3);
    EXPECT_EQ(host.browsed.back(), dir.Folder() + "|gsi.txt|Geoid file|gsi.txt;gsi.txt.dat");
    EXPECT_EQ(host.status[0], " Error: Can not found: gsi.txt");
    EXPECT_EQ(host.messages, std::vector<std::string>{"Geoid file is not found:\r\n" + (dir / "gsi.txt")});
    ExpectFallback();

    // Settings that claim 2^31 - 1 rows and columns: no cache fits them, and sizing them must not
    // overflow.
    WriteFile(dir / "gsi.txt.dat", std::vector<unsigned char>(48, 0));
    s.Gsi2000.nlat = s.Gsi2000.ncols = s.Gsi2000.nlon = 2147483647;
    Select(3);
    ExpectFallback();
}

// Rows longer than the header counts would be read shifted: damaged like a short grid. Text after
// the values that is not a value is harmless.
TEST_F(ModelsTest, GsiTextWithMoreValuesThanItsHeaderCountsMakesNoCache) {
    s.Gsi2000.fname = "gsi.txt";
    for (const std::string& text :
         {kGsiHeader + GsiBody(" ", "\n") + "1.5\n", "30 130 0.016667 0.025 3 3 1 v\n" + GsiBody(" ", "\n")}) {
        WriteText(dir / "gsi.txt", text);
        Select(3);
        EXPECT_EQ(host.messages, (std::vector<std::string>{"Data is excessive: " + (dir / "gsi.txt"),
                                                           "Can not create:\r\n" + (dir / "gsi.txt.dat")}));
        EXPECT_FALSE(std::filesystem::exists(dir / "gsi.txt.dat"));
        ExpectFallback();
    }
    WriteText(dir / "gsi.txt", kGsiHeader + GsiBody(" ", "\n") + "\n \x1a\n");
    Select(3);
    EXPECT_EQ(s.GeoidModel, 3);
}

// A pipe under the custom grid's name: refused without waiting for a writer. The writer below is
// let go by the test's own reader once the selection is over.
TEST_F(ModelsTest, CustomGridThatIsAPipeIsRefusedAtOnce) {
    const std::string pipe = dir / "pipe.cdat";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> releasing{false}, openedByProgram{false};
    std::thread writer([&] {
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
        openedByProgram = !releasing;
        if (fd >= 0) ::close(fd);
    });
    s.CustomGeoidFName = "pipe.cdat";
    Select(4);
    releasing = true;
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    ::close(reader);
    EXPECT_FALSE(openedByProgram);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Geoid file is not found: \r\n" + pipe});
    ExpectFallback();
}

// Puts a pipe in place of the GSI text grid once its cache is being made, after the grid was
// found by name; a writer waits on the pipe to tell whether the program's open reached it.
class SwappingHost : public BrowseHost {
public:
    void ShowGeoidConverting(bool shown) override {
        if (!shown || pipe.empty() || writer.joinable()) return;
        std::filesystem::remove(pipe);
        if (::mkfifo(pipe.c_str(), 0600) != 0) return;
        writer = std::thread([this] {
            const int fd = ::open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
            openedByProgram = !releasing;
            if (fd >= 0) ::close(fd);
        });
    }
    void Release() {
        releasing = true;
        const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer.joinable()) writer.join();
        if (reader >= 0) ::close(reader);
    }
    std::string pipe;
    std::thread writer;
    std::atomic<bool> releasing{false}, openedByProgram{false};
};

// Grid files that are not regular files, also one swapped in between the check by name and the
// open: nothing waits on them, and the fixed value is used.
TEST(GeoidModelsOpen, GridsThatAreNotRegularFilesFallBackAtOnce) {
    TempDir dir;
    SwappingHost host;
    TConversionOptions s;
    s.GeoidFolder = dir.Folder();
    GeoidModels models{host, s};
    s.Gsi2000.fname = "gsi.txt";
    WriteText(dir / "gsi.txt", kGsiHeader + GsiBody(" ", "\n"));
    host.pipe = dir / "gsi.txt";
    s.GeoidModel = 3;
    models.SelectGeoidModel();
    host.Release();
    EXPECT_FALSE(host.openedByProgram);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Can not create:\r\n" + (dir / "gsi.txt.dat")});
    EXPECT_EQ(s.GeoidModel, 0);
    EXPECT_FALSE(models.Grid().IsOpen());

    UseSmallEgm(s.Egm2008_25);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "egm.grd").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zero.cdat").c_str()), 0);
    s.CustomGeoidFName = "zero.cdat";
    for (const int model : {1, 4}) {
        host.messages.clear();
        s.GeoidModel = model;
        models.SelectGeoidModel();
        EXPECT_EQ(host.messages,
                  std::vector<std::string>{model == 1 ? "Geoid file is not found:\r\negm.grd"
                                                      : "Geoid file is not found: \r\n" + (dir / "zero.cdat")});
        EXPECT_EQ(s.GeoidModel, 0);
        EXPECT_TRUE(models.GeoidLoaded());
    }
}

float CustomNode(int r, int c) { return float(r * 10 + c) * 0.5f; }

// Grids whose size or geometry does not fit: refused with a message, and the fixed value is used.
TEST_F(ModelsTest, MalformedGridsAreRefused) {
    UseSmallEgm(s.Egm2008_25);
    auto shortEgm = testing::GridBytes(91, 180, EgmNode, true);
    shortEgm.pop_back();
    const auto good = testing::CustomGridBytes(3, 4, 35, 139, 0.5, 0.25, CustomNode);
    auto longer = good;
    longer.push_back(0);  // 89 bytes
    // Rows x columns x 4 + 40 that equals the size only modulo 2^32.
    auto wrapped = testing::CustomGridBytes(1, 1, 35, 139, 0.5, 0.25, CustomNode);
    wrapped[7] = 0x40;  // 2^30 + 1 rows
    // 2^31 - 1 rows and columns: their size does not fit 64 bits.
    auto huge = wrapped;
    for (size_t i = 4; i < 12; ++i) huge[i] = i == 7 || i == 11 ? 0x7F : 0xFF;
    const std::pair<int, std::vector<unsigned char>> files[] = {
        {1, shortEgm},
        {1, testing::GridBytes(91, 182, EgmNode)},  // no record marks
        {4, longer},
        {4, {good.end() - 39, good.end()}},
        {4, {}},
        {4, wrapped},
        {4, huge},
        {4, testing::CustomGridBytes(3, 4, 35, 139, std::nan(""), 0.25, CustomNode)},
        {4, testing::CustomGridBytes(3, 4, 35, 139, 0.5, -0.25, CustomNode)}};
    s.CustomGeoidFName = "bad.cdat";
    for (const auto& [model, bytes] : files) {
        const std::string name = dir / (model == 1 ? "egm.grd" : "bad.cdat");
        WriteFile(name, bytes);
        Select(model);
        EXPECT_EQ(host.messages,
                  std::vector<std::string>{(model == 1 ? "Illegal geoid file: " : "Illegal Custom geoid file: ") +
                                           std::string("\r\n\r\n") + name});
        ExpectFallback();
    }
    WriteFile(dir / "egm.grd", testing::GridBytes(91, 180, EgmNode, true));
    s.Egm2008_25.dglo = 0;
    Select(1);
    EXPECT_EQ(host.messages.size(), 1u);
    ExpectFallback();

    s.CustomGeoidFName = "gone.cdat";
    Select(4);
    EXPECT_EQ(host.browsed.back(), dir.Folder() + "|gone.cdat|Custom Geoid file(*.cdat)|*.cdat");
    EXPECT_EQ(host.messages, std::vector<std::string>{"Geoid file is not found: \r\n" + (dir / "gone.cdat")});
    ExpectFallback();
    s.CustomGeoidFName.clear();  // no name and no answer: no message
    Select(4);
    EXPECT_TRUE(host.messages.empty());
    ExpectFallback();
}

// The framed grid is opened once: its record marker is checked on the file the grid reads.
TEST_F(ModelsTest, EgmGridIsOpenedOnceForItsMarkerAndItsNodes) {
    UseSmallEgm(s.Egm2008_25);
    WriteFile(dir / "egm.grd", testing::GridBytes(91, 180, EgmNode, true));
    testing::OpenWatch watch(dir / "egm.grd");
    Select(1);
    ASSERT_EQ(s.GeoidModel, 1);
    EXPECT_EQ(models.GeoidHeight(30, 34), EgmNode(30, 17));
    EXPECT_EQ(watch.Seen(), "o");
    models.CloseGeoid();
    EXPECT_EQ(watch.Seen(), "c");
}

}  // namespace
}  // namespace ts
