// The names a KMZ meets on this platform: deep folders, names the archive cannot hold as they are,
// a name that is a looping link, and the report's reason when the archive fails.

#include "writer_test_util.h"
#include "zip/zip_judges.h"

namespace ts {
namespace {

using namespace ts::testing;
namespace fs = std::filesystem;

struct KmzNames : WriterTest {
    void SetUp() override {
        DeriveOptions(ctx.opt);
        AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 30));
    }
    static void Put(const std::string& path, const std::string& data) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << data;
    }
    static std::string Member(const std::string& kmz, const std::string& name) {
        std::string out;
        EXPECT_EQ(ziptest::Run("unzip -p " + Quote(kmz) + " " + Quote(name), &out), 0) << name;
        return out;
    }
    static constexpr const char* kKmz = "2024-03-16_09-00-00.kmz";
};

// A path of more than 260 characters is an ordinary path here: the log's KMZ and its icon are made.
TEST_F(KmzNames, DeepFoldersAreNoObstacle) {
    std::string folder = dir.Folder();
    while (folder.size() < 700) folder += std::string(60, 'd') + "/";
    const std::string icon = folder + std::string(200, 'i') + ".png";
    Put(icon, "deep icon");
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile.fill(icon);
    ASSERT_EQ(WriteKml(ctx, folder, true), 30) << host.lines.back();
    EXPECT_EQ(ziptest::PythonCheck(folder + kKmz, {std::string(200, 'i') + ".png=" + icon}),
              "2024-03-16_09-00-00.kml|0|8|554e\n" + std::string(200, 'i') + ".png|0|8|554e\n");
    std::string out;
    EXPECT_TRUE(ziptest::UnzipTest(folder + kKmz, &out)) << out;
}

// "\" is a character of a name here, not a folder separator: such an icon or logo is packed under a
// name without it, the document refers to that name, and the other members are not lost.
TEST_F(KmzNames, ABackslashInAnIconOrLogoNameCostsNothing) {
    TConversionOptions& o = ctx.opt;
    o.IconSource = 1;
    o.Visible.fill(true);
    const std::string icon = dir / "pics/my\\icon.png", plain = dir / "pics/start.png", logo = dir / "pics/lo\\go.png";
    Put(icon, "icon");
    Put(plain, "start");
    Put(logo, "logo");
    o.ExtIconFile.fill(icon);
    o.ExtIconFile[6] = plain;
    o.LogoFile = logo;
    ASSERT_EQ(WriteKml(ctx, dir.Folder(), true), 30);
    EXPECT_EQ(host.lines.back(), std::string("  Make: ") + kKmz + "      30 records");
    EXPECT_EQ(ziptest::PythonCheck(dir / kKmz, {"my_icon.png=" + icon, "start.png=" + plain, "lo_go.png=" + logo}),
              "2024-03-16_09-00-00.kml|0|8|554e\nmy_icon.png|0|8|554e\nstart.png|0|8|554e\nlo_go.png|0|8|554e\n");
    std::string out;
    EXPECT_TRUE(ziptest::UnzipTest(dir / kKmz, &out)) << out;
    const std::string kml = Member(dir / kKmz, "2024-03-16_09-00-00.kml");
    for (const char* href : {"my_icon.png", "start.png", "lo_go.png"})
        EXPECT_NE(kml.find(std::string("<href>") + href + "</href>"), std::string::npos) << href;
    EXPECT_EQ(kml.find('\\'), std::string::npos);

    // A plain KML keeps referring to the files by their own names.
    ScratchDir other;
    const std::string plainKml = WriteValidKml(ctx, other);
    EXPECT_NE(plainKml.find("<href>my\\icon.png</href>"), std::string::npos);
    EXPECT_NE(plainKml.find("<href>lo\\go.png</href>"), std::string::npos);
}

// A KMZ that cannot be made says why, in one more line of the report.
TEST_F(KmzNames, AFailedArchiveSaysWhy) {
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile.fill(dir / "huge.png");
    std::ofstream(dir / "huge.png").close();
    fs::resize_file(dir / "huge.png", 0x100000000ULL + 1);  // sparse; too large without Zip64
    EXPECT_EQ(WriteKml(ctx, dir.Folder(), true), -1);
    ASSERT_GE(host.lines.size(), 2u);
    EXPECT_EQ(host.lines[host.lines.size() - 2], std::string("  Archive error!! : ") + kKmz + "      30 records");
    const std::string why = host.lines.back();
    EXPECT_EQ(why.rfind("   ", 0), 0u) << why;
    EXPECT_NE(why.find(dir / "huge.png"), std::string::npos) << why;
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"huge.png"});
}

// A KMZ whose name is a looping link fails before its document is written, as the other outputs do.
TEST_F(KmzNames, ALoopingLinkFailsUpFront) {
    fs::create_symlink(kKmz, dir / kKmz);
    EXPECT_EQ(WriteKml(ctx, dir.Folder(), true), -1);
    EXPECT_EQ(host.lines, std::vector<std::string>{"  Can't create: " + dir / kKmz});
    EXPECT_EQ(host.messages, std::vector<std::string>{"Can't create: " + dir / kKmz});
    EXPECT_EQ(dir.Files(), std::vector<std::string>{kKmz});
    EXPECT_TRUE(fs::is_symlink(dir / kKmz));
}

}  // namespace
}  // namespace ts
