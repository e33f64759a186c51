// Archives of every shape the writer makes, judged by outside readers: stored and deflated, one
// file and split into volumes, small and Zip64.
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "archiver.h"
#include "test_util.h"
#include "wide_files.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;

namespace {

struct Shape {
    bool deflate;
    bool split;
    bool zip64;
};

std::string Random(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string Text(std::size_t lines)
{
    std::string s;
    for (std::size_t i = 0; i < lines; ++i)
        s += "      <coordinates>" + std::to_string(139.0 + static_cast<double>(i) * 1e-5) + "," +
             std::to_string(35.0 + static_cast<double>(i % 977) * 1e-5) + ",12.5</coordinates>\n";
    return s;
}

class ArchiveMatrix : public ::testing::TestWithParam<Shape> {};

TEST_P(ArchiveMatrix, OutsideReadersAcceptTheArchiveAndItsBytes)
{
    const Shape shape = GetParam();
    ziptest::TempDir dir;
    dir.write("src/track.kml", Text(3000));
    dir.write("src/noise.bin", Random(150000, 7));
    dir.write("src/empty.txt", "");
    dir.write("src/icons/a.png", Random(2000, 8));
    fs::create_directories(dir.path() / "src/icons/none");
    fs::create_directories(dir.path() / "out");

    TZipArchiver a;
    a.SetCompressionMode(shape.deflate ? 9 : 0);
    a.Zip64Mode = shape.zip64 ? zmAlways : zmAuto;
    if (shape.split) {
        a.SetSpanningMode(smSplitting);
        a.SpanningOptions.VolumeSize = vsCustom;
        a.SpanningOptions.SetCustomVolumeSize(65536);
    }
    a.FileName = dir.wide() + u"out/set.zip";
    a.OpenArchive(fmCreate);
    a.BaseDir = dir.wide() + u"src";
    a.BeginUpdate();
    a.AddFiles(u"*", 0x28BF | faDirectory, u"");
    a.EndUpdate();
    EXPECT_EQ(a.FileCount(), 4);
    a.CloseArchive();

    const std::vector<std::string> pairs = {
        "track.kml=" + dir.str() + "src/track.kml", "noise.bin=" + dir.str() + "src/noise.bin",
        "empty.txt=" + dir.str() + "src/empty.txt", "icons/a.png=" + dir.str() + "src/icons/a.png"};
    fs::path single = dir.path() / "out/set.zip";
    std::string out;
    if (shape.split) {
        std::vector<fs::path> volumes;
        for (int n = 1; fs::exists(dir.path() / ("out/set.Z0" + std::to_string(n))); ++n)
            volumes.push_back(dir.path() / ("out/set.Z0" + std::to_string(n)));
        EXPECT_GE(volumes.size(), 2u);
        for (const auto& v : volumes)
            EXPECT_EQ(fs::file_size(v), 65536u) << v;
        // 7z reads the set itself (it wants the volume names in lower case).
        for (auto& v : volumes) {
            std::string lower = v.string();
            lower[lower.size() - 3] = 'z';
            fs::rename(v, lower);
            v = lower;
        }
        EXPECT_TRUE(ziptest::SevenZipTest(single, &out)) << out;
        EXPECT_EQ(ziptest::Run("cd " + ziptest::Quote(dir.str()) + " && 7z x -bd -ox out/set.zip >/dev/null && "
                               "cmp x/track.kml src/track.kml && cmp x/noise.bin src/noise.bin && "
                               "cmp x/icons/a.png src/icons/a.png", &out), 0) << out;
        volumes.push_back(single);
        single = dir.path() / "joined.zip";
        ASSERT_TRUE(ziptest::JoinVolumes(volumes, single));
    }
    const std::string listing = ziptest::PythonCheck(single, pairs);
    ASSERT_FALSE(listing.empty());
    EXPECT_NE(listing.find("icons/none/|"), std::string::npos) << listing;  // the directory item
    EXPECT_NE(listing.find(std::string("noise.bin|0|") + (shape.deflate ? "8" : "0")), std::string::npos) << listing;
    EXPECT_NE(listing.find("empty.txt|0|0|"), std::string::npos) << listing;  // empty: stored
    EXPECT_TRUE(ziptest::UnzipTest(single, &out)) << out;
    EXPECT_TRUE(ziptest::SevenZipTest(single, &out)) << out;
    if (shape.zip64) {
        EXPECT_EQ(ziptest::Run("zipinfo -v " + ziptest::Quote(single.string()), &out), 0);
        EXPECT_NE(out.find("minimum software version required to extract:   4.5"), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ArchiveMatrix,
                         ::testing::Values(Shape{false, false, false}, Shape{true, false, false},
                                           Shape{false, true, false}, Shape{true, true, false},
                                           Shape{false, false, true}, Shape{true, false, true},
                                           Shape{false, true, true}, Shape{true, true, true}),
                         [](const ::testing::TestParamInfo<Shape>& i) {
                             return std::string(i.param.deflate ? "Deflated" : "Stored") +
                                    (i.param.split ? "Split" : "Plain") + (i.param.zip64 ? "Zip64" : "Small");
                         });

}  // namespace
