// Whole conversions of a real logger log through the per-file driver.

#include "writer_test_util.h"

namespace ts {
namespace {

using testing::CountOf;
using testing::KmlSchemaErrors;
using testing::ReadFile;
using testing::ScratchDir;

TEST(EndToEnd, SampleNmeaToKml) {
    ScratchDir dir;
    const std::filesystem::path input = dir.path / "sample.nmea";
    std::filesystem::copy_file(std::string(TS_SHARED_DIR) + "/testdata/sample.nmea", input);
    RecordingHost host;
    EngineContext ctx(host);
    ctx.opt.KMZout = false;
    ctx.opt.KMLout = true;
    ConvertFile(ctx, input.string());
    EXPECT_EQ(host.filesMade, 1);
    EXPECT_EQ(host.status[0].rfind("  *** Completed: sample.nmea", 0), 0u) << host.status[0];
    const std::vector<std::string> files = dir.Files();
    ASSERT_EQ(files.size(), 2u);
    const std::filesystem::path kml = dir.path / (files[0] == "sample.nmea" ? files[1] : files[0]);
    EXPECT_EQ(kml.extension(), ".kml");
    EXPECT_EQ(KmlSchemaErrors(kml), "");
    const std::string text = ReadFile(kml);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(CountOf(text, "<LineString>"), 1);
    EXPECT_GT(CountOf(text, "<Placemark>"), 2);
}

}  // namespace
}  // namespace ts
