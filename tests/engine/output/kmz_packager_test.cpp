

#include "writer_test_util.h"
#include "zip/zip_judges.h"

namespace ts {
namespace {

using namespace ts::testing;
namespace fs = std::filesystem;

struct KmzPackager : WriterTest {
    void SetUp() override { DeriveOptions(ctx.opt); }
    std::string P(const std::string& name) const { return dir.Folder() + name; }
    void Put(const std::string& name, const std::string& data) const {
        fs::create_directories(fs::path(P(name)).parent_path());
        std::ofstream(P(name), std::ios::binary) << data;
    }
    // Names of the archive's members, one "name|flags|method|extras" line each; empty on failure.
    std::string Listing(const std::string& kmz, const std::vector<std::string>& pairs = {}) const {
        return ziptest::PythonCheck(P(kmz), pairs);
    }
};

TEST_F(KmzPackager, PacksTheDocumentIconsAndLogoOnce) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 40));
    TConversionOptions& o = ctx.opt;
    o.IconSource = 1;
    o.Visible.fill(true);
    const std::string shared = P("icons/\xE3\x82\xA2\xE3\x82\xA4\xE3\x82\xB3\xE3\x83\xB3.png");  // アイコン.png
    Put("icons/\xE3\x82\xA2\xE3\x82\xA4\xE3\x82\xB3\xE3\x83\xB3.png", "shared icon");
    Put("icons/start.png", "start icon");
    Put("logo/logo.png", "logo");
    o.ExtIconFile.fill(shared);               // every class shares one file ...
    o.ExtIconFile[6] = P("icons/start.png");  // ... but Start
    o.LogoFile = P("logo/logo.png");
    ASSERT_EQ(WriteKml(ctx, dir.Folder(), true), 40);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"2024-03-16_09-00-00.kmz", "icons", "logo"}));
    EXPECT_EQ(host.lines.back(), "  Make: 2024-03-16_09-00-00.kmz      40 records");

    const std::string listing =
        Listing("2024-03-16_09-00-00.kmz", {"\xE3\x82\xA2\xE3\x82\xA4\xE3\x82\xB3\xE3\x83\xB3.png=" + shared,
                                            "start.png=" + P("icons/start.png"), "logo.png=" + P("logo/logo.png")});
    EXPECT_EQ(listing,
              "2024-03-16_09-00-00.kml|0|8|554e\n"
              "\xE3\x82\xA2\xE3\x82\xA4\xE3\x82\xB3\xE3\x83\xB3.png|2048|8|554e\n"
              "start.png|0|8|554e\n"
              "logo.png|0|8|554e\n");
    // The document refers to the members by their names.
    std::string kml;
    ASSERT_EQ(ziptest::Run("unzip -p " + Quote(P("2024-03-16_09-00-00.kmz")) + " 2024-03-16_09-00-00.kml", &kml), 0);
    for (const char* m : {"\xE3\x82\xA2\xE3\x82\xA4\xE3\x82\xB3\xE3\x83\xB3.png", "start.png", "logo.png"})
        EXPECT_NE(kml.find(std::string("<href>") + m + "</href>"), std::string::npos) << m;
    std::string out;
    EXPECT_TRUE(ziptest::UnzipTest(P("2024-03-16_09-00-00.kmz"), &out)) << out;
    EXPECT_TRUE(ziptest::SevenZipTest(P("2024-03-16_09-00-00.kmz"), &out)) << out;
    EXPECT_EQ(ziptest::Run("zipinfo -v " + Quote(P("2024-03-16_09-00-00.kmz")), &out), 0);
    EXPECT_NE(out.find("minimum software version required to extract:   2.0"), std::string::npos);
}

TEST_F(KmzPackager, AnExistingKmlSurvivesSuccessAndFailure) {
    Put("x.kml", "mine");
    Put("x.$$$", "<kml/>");
    KmzContents contents;
    EXPECT_EQ(PackKmz(ctx, P("x.$$$"), contents), 0);
    EXPECT_EQ(ReadFile(P("x.kml")), "mine");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"x.kml", "x.kmz"}));
    EXPECT_EQ(Listing("x.kmz", {"x.kml=" + P("x.kml")}), "");  // the member is the document, not mine
    std::string doc;
    ASSERT_EQ(ziptest::Run("unzip -p " + Quote(P("x.kmz")) + " x.kml", &doc), 0);
    EXPECT_EQ(doc, "<kml/>");

    // The archive cannot be created where a folder of its name stands.
    fs::remove(P("x.kmz"));
    Put("x.kmz/keep", "");
    Put("x.$$$", "<kml/>");
    EXPECT_EQ(PackKmz(ctx, P("x.$$$"), contents), -1);
    EXPECT_EQ(ReadFile(P("x.kml")), "mine");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"x.kml", "x.kmz"}));
    fs::remove_all(P("x.kmz"));

    // An icon that cannot be packed (too large without Zip64): the add fails and says so.
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile[0] = P("huge.png");
    std::ofstream(P("huge.png")).close();
    fs::resize_file(P("huge.png"), 0x100000000ULL + 1);  // sparse
    contents.styleUsed[0] = true;
    Put("x.$$$", "<kml/>");
    EXPECT_EQ(PackKmz(ctx, P("x.$$$"), contents), -1);
    EXPECT_EQ(ReadFile(P("x.kml")), "mine");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"huge.png", "x.kml"}));

    // The document is not there: no archive, and the ".kml" of its name is left alone.
    EXPECT_EQ(PackKmz(ctx, P("gone.$$$"), contents), -1);
    Put("gone.kml", "theirs");
    EXPECT_EQ(PackKmz(ctx, P("gone.$$$"), contents), -1);
    EXPECT_EQ(ReadFile(P("gone.kml")), "theirs");
    EXPECT_FALSE(fs::exists(P("gone._$$")));
    EXPECT_FALSE(fs::exists(P("gone.kmz")));
    EXPECT_FALSE(fs::exists(P("gone.kmz.$$$")));
}

// A "._$$" an earlier run left is the user's ".kml": it goes back, never away.
TEST_F(KmzPackager, StaleBackupMissingIconsAndIconSettings) {
    Put("y._$$", "stale");
    Put("y.$$$", "<kml/>");
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile[2] = ctx.opt.ExtIconFile[3] = P("missing.png");
    ctx.opt.LogoFile = P("nologo.png");
    KmzContents contents;
    contents.styleUsed[2] = contents.styleUsed[3] = true;
    contents.logoPresent = true;
    EXPECT_EQ(PackKmz(ctx, P("y.$$$"), contents), 0);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"y.kml", "y.kmz"}));
    EXPECT_EQ(ReadFile(P("y.kml")), "stale");
    EXPECT_EQ(host.lines, (std::vector<std::string>{"  Restored an earlier run's file: " + P("y.kml"),
                                                    "  File not exist: " + P("missing.png"),
                                                    "  File not exist: " + P("nologo.png")}));
    EXPECT_TRUE(host.showReportAtEnd);
    EXPECT_EQ(Listing("y.kmz"), "y.kml|0|8|554e\n");
}

// A parked file beside a ".kml" of its name: both stay, and the report says where the parked one
// is. The archive is still made, and it replaces an older one only when complete; a scratch file
// it did not make stays.
TEST_F(KmzPackager, ParkedFilesStayAndOlderArchivesAreReplacedWhole) {
    Put("y._$$", "parked");
    Put("y.kml", "newer");
    Put("y.kmz", "older archive");
    Put("y.kmz.$$$", "a crash's");
    Put("y.$$$", "<kml/>");
    KmzContents contents;
    EXPECT_EQ(PackKmz(ctx, P("y.$$$"), contents), 0);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"y._$$", "y.kml", "y.kmz", "y.kmz.$$$"}));
    EXPECT_EQ(ReadFile(P("y.kmz.$$$")), "a crash's");
    EXPECT_EQ(ReadFile(P("y._$$")), "parked");
    EXPECT_EQ(ReadFile(P("y.kml")), "newer");
    EXPECT_EQ(host.lines, std::vector<std::string>{"  An earlier run's file is kept as: " + P("y._$$")});
    EXPECT_EQ(Listing("y.kmz"), "y.kml|0|8|554e\n");

    // A failed archive leaves the older one; a folder under the parked name is not a parked file.
    fs::remove(P("y._$$"));
    fs::create_directory(P("y._$$"));
    Put("y.kmz", "older archive");
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile[0] = P("huge.png");
    std::ofstream(P("huge.png")).close();
    fs::resize_file(P("huge.png"), 0x100000000ULL + 1);  // sparse
    contents.styleUsed[0] = true;
    Put("y.$$$", "<kml/>");
    host.lines.clear();
    EXPECT_EQ(PackKmz(ctx, P("y.$$$"), contents), -1);
    EXPECT_EQ(ReadFile(P("y.kmz")), "older archive");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"huge.png", "y._$$", "y.kml", "y.kmz", "y.kmz.$$$"}));
    EXPECT_TRUE(host.lines.empty());
}

// An older archive is replaced by the rules of the other outputs: a link of its name is written
// through to the file it leads to, and the older file's permissions stay.
TEST_F(KmzPackager, LinksAndPermissionsOfAnOlderArchiveStay) {
    Put("real/y.kmz", "older archive");
    fs::create_symlink("real/y.kmz", P("y.kmz"));
    Put("p.kmz", "private archive");
    ::chmod(P("p.kmz").c_str(), 0600);
    fs::create_symlink("real/d.kmz", P("d.kmz"));  // leads nowhere yet
    KmzContents contents;
    for (const char* stem : {"y", "p", "d"}) {
        Put(std::string(stem) + ".$$$", "<kml/>");
        EXPECT_EQ(PackKmz(ctx, P(std::string(stem) + ".$$$"), contents), 0) << stem;
    }
    EXPECT_TRUE(fs::is_symlink(P("y.kmz")));
    EXPECT_EQ(Listing("real/y.kmz"), "y.kml|0|8|554e\n");
    EXPECT_EQ(fs::status(P("p.kmz")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Listing("p.kmz"), "p.kml|0|8|554e\n");
    EXPECT_TRUE(fs::is_symlink(P("d.kmz")));
    EXPECT_EQ(Listing("real/d.kmz"), "d.kml|0|8|554e\n");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"d.kmz", "p.kmz", "real", "y.kmz"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(P("real")), {}), 2);  // no scratch file left
}

// "*" and "?" are legal in names here (a date format "dd?mm?yyyy" makes them): each file is packed
// by its own name, never as a mask, and no subfolder is searched.
TEST_F(KmzPackager, NamesAreTakenLiterally) {
    Put("16?03?2024.$$$", "<kml/>");
    Put("16x03x2024.kml", "private");
    Put("old/16x03x2024.kml", "private too");
    for (const char* n : {"ic*.png", "ic1.png", "ic2.png", "sub/ic3.png"}) Put(n, n);
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile[0] = P("ic*.png");
    KmzContents contents;
    contents.styleUsed[0] = true;
    EXPECT_EQ(PackKmz(ctx, P("16?03?2024.$$$"), contents), 0);
    EXPECT_EQ(Listing("16?03?2024.kmz", {"ic*.png=" + P("ic*.png")}), "16?03?2024.kml|0|8|554e\nic*.png|0|8|554e\n");
    EXPECT_EQ(ReadFile(P("16x03x2024.kml")), "private");
}

}  // namespace
}  // namespace ts
