// Whole conversions of a real logger log through the per-file driver.

#include "writer_test_util.h"

namespace ts {
namespace {

using testing::KmlSchemaErrors;
using testing::Quote;
using testing::ReadFile;
using testing::RunCommand;
using testing::ScratchDir;

// The sample log as KML under several option sets: every document is valid KML 2.1 and an outside
// reader finds the one track and every point.
TEST(EndToEnd, SampleNmeaToKml) {
    const std::vector<std::pair<const char*, void (*)(TConversionOptions&)>> variants = {
        {"defaults", [](TConversionOptions&) {}},
        {"notes and balloons",
         [](TConversionOptions& o) {
             o.NoteHdop = o.NoteNsat = o.NoteTemp = o.NotePressure = o.NotePressureAlt = o.NoteVoiceFile = true;
             o.NoteToBalloon = true;
             o.PointName = "Number (Num)";
             o.PointNameKind = 1;
             o.TimeStamp = true;
         }},
        {"notes as names", [](TConversionOptions& o) { o.NoteHdop = o.TimeStamp = true, o.NoteToBalloon = false; }},
        {"3D", [](TConversionOptions& o) { o.Mode3D = true; }},
        {"every class visible", [](TConversionOptions& o) { o.Visible.fill(true); }},
    };
    for (const auto& [label, apply] : variants) {
        SCOPED_TRACE(label);
        ScratchDir dir;
        const std::filesystem::path input = dir.path / "sample.nmea";
        std::filesystem::copy_file(std::string(TS_SHARED_DIR) + "/testdata/sample.nmea", input);
        RecordingHost host;
        EngineContext ctx(host);
        ctx.opt.KMZout = false;
        ctx.opt.KMLout = true;
        apply(ctx.opt);
        ConvertFile(ctx, input.string());
        EXPECT_EQ(host.filesMade, 1);
        EXPECT_EQ(host.status[0].rfind("  *** Completed: sample.nmea", 0), 0u) << host.status[0];
        const std::vector<std::string> files = dir.Files();
        ASSERT_EQ(files.size(), 2u);
        const std::filesystem::path kml = dir.path / (files[0] == "sample.nmea" ? files[1] : files[0]);
        EXPECT_EQ(KmlSchemaErrors(kml), "");
        EXPECT_EQ(ReadFile(kml).find("nan"), std::string::npos);

        std::string out;
        ASSERT_EQ(RunCommand("ogrinfo -ro -al -so " + Quote(kml.string()), &out), 0) << out;
        const size_t track = out.find("Layer name: Track"), point = out.find("Layer name: Point");
        ASSERT_TRUE(track != std::string::npos && point != std::string::npos) << out;
        EXPECT_NE(out.find("Feature Count: 1\n", track), std::string::npos) << out;
        EXPECT_NE(out.find("Feature Count: 154\n", point), std::string::npos) << out;
    }
}

}  // namespace
}  // namespace ts
