#include "pictures/icon_sets.h"
#include "pictures/picture_file.h"
#include "settings/settings.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "picture_test_util.h"
#include "qt_test_app.h"

using namespace ts;
namespace fs = std::filesystem;

TEST(PaletteNaming, ClicksAndNamesMeetInTheSameCell) {
    EXPECT_EQ(PaletteNameAt(300, 40), "pal3/icon9.png");
    EXPECT_EQ(PaletteNameAt(10, 500), "pal4/icon56.png");
    EXPECT_EQ(PaletteNameAt(511, 511), "pal5/icon63.png");
    EXPECT_EQ(PaletteNameAt(-5, 600), "pal4/icon56.png");  // off the sheet: its nearest edge
    for (int y = 0; y < kPaletteSheetSize; y += 16)
        for (int x = 0; x < kPaletteSheetSize; x += 16) {
            const CellPos c = PaletteCellAt(x, y);
            CellPos back;
            ASSERT_TRUE(PaletteCellOrigin(PaletteNameAt(x, y), back)) << x << "," << y;
            EXPECT_TRUE(back.x == c.x && back.y == c.y) << x << "," << y;
        }

    auto at = [](const std::string& name) {
        CellPos c;
        return PaletteCellOrigin(name, c) ? std::to_string(c.x) + "," + std::to_string(c.y) : std::string("none");
    };
    EXPECT_EQ(at("pal4/icon57.png"), "32,480");
    EXPECT_EQ(at("pal5/iconx.png"), "256,256");  // not a number: icon 0
    EXPECT_EQ(at("pal9/icon9.png"), "32,32");    // unknown palette: top-left quadrant
    EXPECT_EQ(at("foo.png"), "0,0");
    // Numbers without a cell draw nothing rather than reading beside the sheet.
    EXPECT_EQ(at("pal2/icon64.png"), "none");
    EXPECT_EQ(at("pal5/icon-1.png"), "none");
    EXPECT_EQ(at("pal2/icon2147483647.png"), "none");
}

TEST(IconSets, PreviewSizeScalesSwitchAndLogoFields) {
    auto sz = [](int sw, int sh, int dw = 32, int dh = 32) {
        const PictureSize p = ScaledPictureSize(sw, sh, dw, dh);
        return std::to_string(p.width) + "x" + std::to_string(p.height);
    };
    // Pictures of the usual sizes are checked through the previews of the main window.
    EXPECT_EQ(sz(40000, 30000), "32x24");
    EXPECT_EQ(sz(0, 10), "0x0");
    EXPECT_EQ(sz(100, 100, 96, 32), "32x32");  // a preview that is not square keeps the shape too

    EXPECT_EQ(NextIconSource(0), 1);
    EXPECT_EQ(NextIconSource(2), 0);

    // Scale edits go into the set shown; web icons keep theirs with the external set.
    Settings s;
    s.opt.IconScale = {"abc", "2", " 0.5 ", "", "1.0", "3e-1", "1,5", "nan"};
    StoreIconScales(s);
    EXPECT_EQ(s.InternalIconScale, (std::array<double, 8>{1, 2, 0.5, 1, 1, 0.3, 1.5, 1}));  // a decimal comma too
    s.opt.IconSource = 2;
    s.opt.IconScale[0] = "7";
    StoreIconScales(s);
    EXPECT_EQ(s.ExternalIconScale[0], 7);
    EXPECT_EQ(s.InternalIconScale[0], 1);

    // Logo fields: outside [0, 1] and not the allowed extra value, the default; inside, as typed.
    EXPECT_EQ(CheckRangeText("1.5", 0, 1, -1, 0.2), "0.2");
    EXPECT_EQ(CheckRangeText("abc", 0, 1, 0, 0), "0");
    EXPECT_EQ(CheckRangeText("0.50", 0, 1, -1, 0.2), "0.50");
    EXPECT_EQ(CheckRangeText("1", 0, 1, -1, 0.2), "1");

    // Browsing from an empty row the first time starts in the first icon's folder; the other
    // cases are checked through the dialog.
    EXPECT_EQ(BrowseStartFolder("", "", "/first/b.png", "/data/"), "/first/");

    EXPECT_EQ(PictureKindOf("b.jpeg"), PictureKind::Jpeg);
    EXPECT_EQ(PictureKindOf("b.Png"), PictureKind::Png);
    EXPECT_EQ(PictureKindOf("/a.png/b"), PictureKind::Bitmap);
}

namespace {

void PutBe32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}

}  // namespace

TEST(PictureTest, PngAndJpegDecodeToRgba) {
    const std::string dir = ScratchDir("pictures");
    const std::string png = dir + "a.png";
    ASSERT_TRUE(WriteTestPng(png, 3, 2,
                             [](int x, int y) { return 0x80000000u | uint32_t(x * 100) << 16 | uint32_t(y * 200); }));
    Picture pic;
    std::string err;
    ASSERT_TRUE(ReadPngPicture(png, pic, err)) << err;
    ASSERT_TRUE(pic.width == 3 && pic.height == 2 && pic.rgba.size() == 24u);
    EXPECT_EQ(std::vector<uint8_t>(pic.rgba.begin() + 20, pic.rgba.end()),
              (std::vector<uint8_t>{200, 0, 200, 0x80}));  // pixel (2, 1)

    const std::string jpg = dir + "a.jpg";
    ASSERT_TRUE(WriteSolidJpeg(jpg, 17, 9, 200, 40, 10));
    ASSERT_TRUE(ReadJpegPicture(jpg, pic, err)) << err;
    ASSERT_TRUE(pic.width == 17 && pic.height == 9);
    const uint8_t* p = &pic.rgba[(8 * 17 + 16) * 4];
    EXPECT_NEAR(p[0], 200, 6);
    EXPECT_NEAR(p[1], 40, 6);
    EXPECT_NEAR(p[2], 10, 6);
    EXPECT_EQ(p[3], 255);
}

TEST(PictureTest, DamagedAndOversizedPicturesFailCleanly) {
    const std::string dir = ScratchDir("pictures");
    Picture pic;
    std::string err;
    EXPECT_FALSE(ReadPngPicture(dir + "missing.png", pic, err));
    EXPECT_FALSE(ReadJpegPicture(dir + "missing.jpg", pic, err));

    const std::string png = dir + "good.png", jpg = dir + "good.jpg";
    ASSERT_TRUE(WriteTestPng(png, 40, 40, [](int x, int y) { return 0xFF000000u | uint32_t(x * 6 + y * 1000); }));
    ASSERT_TRUE(WriteSolidJpeg(jpg, 40, 40, 1, 2, 3));
    const std::string pngBytes = ReadBytes(png), jpgBytes = ReadBytes(jpg);

    // Cut short, garbage, empty and swapped formats: no picture, no crash.
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"cut.png", pngBytes.substr(0, pngBytes.size() / 2)},
        {"junk.png", std::string(300, 'x')},
        {"empty.png", ""},
        {"jpeg.png", jpgBytes},
        {"head.jpg", jpgBytes.substr(0, 4)},
        {"empty.jpg", ""},
        {"png.jpg", pngBytes},
    };
    for (const auto& [name, bytes] : bad) {
        WriteBytes(dir + name, bytes);
        pic.width = 99;
        const bool ok =
            name.ends_with(".png") ? ReadPngPicture(dir + name, pic, err) : ReadJpegPicture(dir + name, pic, err);
        EXPECT_FALSE(ok) << name;
        EXPECT_EQ(pic.width, 0) << name;
        EXPECT_TRUE(pic.rgba.empty()) << name;
    }

    // Headers that claim a huge picture are refused before anything is allocated.
    std::string hugePng = pngBytes;
    PutBe32(hugePng, 16, 20000);
    PutBe32(hugePng, 20, 20000);
    PutBe32(hugePng, 29, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(hugePng.data() + 12), 17)));
    WriteBytes(dir + "huge.png", hugePng);
    EXPECT_FALSE(ReadPngPicture(dir + "huge.png", pic, err));
    EXPECT_EQ(err, "picture too large");

    std::string hugeJpg = jpgBytes;
    const size_t sof = hugeJpg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    hugeJpg.replace(sof + 5, 4, "\x4E\x20\x4E\x20");  // 20000 x 20000
    WriteBytes(dir + "huge.jpg", hugeJpg);
    EXPECT_FALSE(ReadJpegPicture(dir + "huge.jpg", pic, err));
    EXPECT_EQ(err, "picture too large");
}
