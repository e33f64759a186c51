#include "forms/form_icon.h"
#include "forms/form_ext_icon.h"
#include "forms/form_main.h"
#include "pictures/icon_preview.h"
#include "pictures/icon_sets.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QMouseEvent>

#include "picture_test_util.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

constexpr QImage::Format kFmt = QImage::Format_ARGB32_Premultiplied;

struct IconFormTest : MainWindowTest {
    void SetUp() override {
        MainWindowTest::SetUp();
        fs::create_directories(dir + "pics");
        // Red, 64 x 16; green, 16 x 64 (JPEG); blue, 20 x 20.
        WriteSolidPng(dir + "pics/wide.png", 64, 16, 0xFFFF0000);
        WriteSolidJpeg(dir + "pics/tall.jpg", 16, 64, 0, 255, 0);
        WriteSolidPng(dir + "pics/small.png", 20, 20, 0xFF0000FF);
        WriteBytes(dir + "pics/damaged.png", ReadBytes(dir + "pics/wide.png").substr(0, 60));
    }
    std::string Pic(const char* name) const { return dir + "pics/" + name; }
    QImage Cell(const std::string& name) const {
        CellPos c;
        EXPECT_TRUE(PaletteCellOrigin(name, c));
        return form->FormIcon->Sheet().copy(c.x, c.y, 32, 32).convertToFormat(kFmt);
    }
    static QImage Shown(const QLabel* l) { return PreviewImage(l).convertToFormat(kFmt); }
    static QColor At(const QLabel* l, int x, int y) { return PreviewImage(l).pixelColor(x, y); }
};

void SendMouse(QWidget* w, QEvent::Type type, QPoint at) {
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

}  // namespace

TEST_F(IconFormTest, PickerNamesAndDrawsTheClickedCell) {
    Start();
    TFormMain& f = *form;
    TFormIcon& picker = *f.FormIcon;
    // The start-up icons are the palette cells of the default names.
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Shown(f.Images[i]), Cell(S().opt.PaletteIconName[i])) << i;

    f.ImageSp1Click(8);  // the dialog needs a user; the slot is taken all the same
    EXPECT_EQ(f.IconSlot, 8);
    picker.show();
    for (auto t : {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        SendMouse(picker.ImageIcon1, t, {10, 500});
    EXPECT_EQ(S().opt.PaletteIconName[7], "pal4/icon56.png");
    EXPECT_EQ(Shown(f.Images[7]), Cell("pal4/icon56.png"));
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(picker.result(), QDialog::Accepted);

    // A refresh draws the named cell, here the one at (32, 480).
    S().opt.PaletteIconName[0] = "pal4/icon57.png";
    f.ShowIcons();
    EXPECT_EQ(Shown(f.Images[0]), form->FormIcon->Sheet().copy(32, 480, 32, 32).convertToFormat(kFmt));

    if (const char* shots = std::getenv("TS_SCREENSHOT_DIR")) picker.grab().save(QString(shots) + "/icon_picker.png");
}

TEST_F(IconFormTest, ExternalPreviewsScaleThePicturesOrShowTheStandIn) {
    // A real bitmap file, and a PNG under a name that makes it a bitmap.
    QImage bmp(10, 10, QImage::Format_RGB32);
    bmp.fill(QColor(255, 255, 0));
    ASSERT_TRUE(bmp.save(QString::fromStdString(Pic("yellow.bmp")), "BMP"));
    fs::copy_file(Pic("small.png"), Pic("png.gif"));
    Start();
    TFormMain& f = *form;
    S().opt.ExtIconFile = {Pic("wide.png"),    Pic("tall.jpg"),   Pic("small.png"), Pic("damaged.png"),
                           Pic("missing.png"), Pic("yellow.bmp"), Pic("png.gif"),   " "};
    S().opt.IconSource = 1;
    f.ShowIcons();

    EXPECT_EQ(At(f.Images[0], 31, 7), QColor(255, 0, 0));  // 64 x 16 drawn 32 x 8
    EXPECT_EQ(At(f.Images[0], 31, 8).alpha(), 0);
    EXPECT_GT(At(f.Images[1], 7, 31).green(), 240);  // 16 x 64 drawn 8 x 32
    EXPECT_EQ(At(f.Images[1], 8, 31).alpha(), 0);
    EXPECT_EQ(At(f.Images[2], 19, 19), QColor(0, 0, 255));  // 20 x 20 as it is
    EXPECT_EQ(At(f.Images[2], 20, 20).alpha(), 0);
    EXPECT_EQ(At(f.Images[5], 9, 9), QColor(255, 255, 0));
    for (int i : {3, 4, 6, 7}) EXPECT_EQ(Shown(f.Images[i]), Cell("pal5/icon7.png")) << i;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f.Images[i]->size(), QSize(32, 32));
}

TEST_F(IconFormTest, ExtIconDialogStoresOnOkOnlyAndChecksTheLogoFields) {
    Start();
    TFormMain& f = *form;
    TFormExtIcon& d = *f.FormExtIcon;
    S().opt.ExtIconFile[0] = Pic("wide.png");
    d.show();
    // Widening moves the buttons with the right edge; at the narrowest width the logo fields
    // still clear them.
    const int h = d.minimumHeight();
    EXPECT_EQ(d.maximumHeight(), h);
    d.resize(600, h);
    QCoreApplication::processEvents();
    const int buttonLeft = 580 - d.Buttons[0]->width() - 13;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d.Edits[i]->x() + d.Edits[i]->width(), buttonLeft - 5);
    EXPECT_EQ(d.ButtonClear->x(), buttonLeft);
    d.resize(d.minimumWidth(), h);
    QCoreApplication::processEvents();
    EXPECT_LT(d.LabeledEditLogoScale->geometry().right(), d.ButtonClear->x());

    EXPECT_EQ(d.Edits[0]->text().toStdString(), Pic("wide.png"));
    EXPECT_FALSE(d.ImageLogo->isVisibleTo(&d));  // no logo file
    d.Edits[1]->setText(QString::fromStdString(Pic("small.png")));
    d.EditLogo->setText(QString::fromStdString(Pic("small.png")));
    d.LabeledEditLogoX->setText("2");
    d.LabeledEditLogoY->setText("-0.5");
    d.LabeledEditLogoScale->setText("-1");
    auto stored = [&] {
        EXPECT_EQ(S().opt.ExtIconFile[1], Pic("small.png"));
        EXPECT_EQ(S().opt.LogoFile, Pic("small.png"));
        EXPECT_EQ(f.LabelLogo->text(), "LOGO");
    };
    d.ButtonOKClick();
    EXPECT_FALSE(d.isVisible());
    stored();
    EXPECT_EQ(S().opt.LogoXpos, "0");
    EXPECT_EQ(S().opt.LogoYpos, "1");
    EXPECT_EQ(S().opt.LogoScale, "-1");

    // Cancel stores nothing and puts the logo fields back; the next opening shows the stored
    // files. Esc and the window's close button cancel the same way.
    d.show();
    EXPECT_TRUE(d.ImageLogo->isVisibleTo(&d));
    d.Edits[1]->clear();
    d.EditLogo->setText(QString::fromStdString(Pic("missing.png")));
    d.LabeledEditLogoY->setText("0.5");
    d.reject();
    EXPECT_EQ(d.EditLogo->text().toStdString(), Pic("small.png"));
    EXPECT_EQ(d.LabeledEditLogoY->text(), "1");
    stored();

    d.show();
    EXPECT_EQ(d.Edits[1]->text().toStdString(), Pic("small.png"));
    d.ButtonClearClick();
    EXPECT_FALSE(d.ImageLogo->isVisibleTo(&d));
    d.ButtonOKClick();
    EXPECT_EQ(S().opt.LogoFile, "");
    EXPECT_EQ(f.LabelLogo->text(), "Logo");
}

// Browsing starts in the open folder and shows the choice; Enter trims a row and reloads it.
// Neither closes the dialog or stores anything.
TEST_F(IconFormTest, BrowseAndEnterReloadRowsWithoutClosing) {
    Start();
    TFormExtIcon& d = *form->FormExtIcon;
    S().DataPath = dir + "data/";
    std::vector<std::string> starts;
    std::string answer = Pic("wide.png");
    d.ChooseFile = [&](const std::string& start, std::string& chosen) {
        starts.push_back(start);
        chosen = answer;
        return !answer.empty();
    };
    d.show();
    d.BrowseIconFile(1);  // every edit empty: the main window's open folder
    EXPECT_EQ(d.Edits[0]->text().toStdString(), Pic("wide.png"));
    EXPECT_EQ(At(d.Images[0], 0, 0), QColor(255, 0, 0));
    answer = Pic("small.png");
    d.BrowseIconFile(2);  // an empty row keeps the dialog's folder
    d.BrowseIconFile(1);  // a filled row starts in its own folder
    answer = Pic("tall.jpg");
    d.BrowseIconFile(9);
    EXPECT_EQ(starts, (std::vector<std::string>{dir + "data/", dir + "data/", dir + "pics/", dir + "pics/"}));
    EXPECT_EQ(d.Edits[0]->text().toStdString(), Pic("small.png"));
    EXPECT_EQ(d.EditLogo->text().toStdString(), Pic("tall.jpg"));
    EXPECT_TRUE(d.ImageLogo->isVisibleTo(&d));

    answer.clear();  // cancelled: nothing changes
    d.BrowseIconFile(3);
    EXPECT_EQ(d.Edits[2]->text(), "");

    d.Edits[2]->setText(QString::fromStdString("  " + Pic("wide.png") + "  "));
    SendKey(d.Edits[2], Qt::Key_Return);
    EXPECT_EQ(d.Edits[2]->text().toStdString(), Pic("wide.png"));
    EXPECT_EQ(At(d.Images[2], 0, 0), QColor(255, 0, 0));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(S().opt.ExtIconFile[2], "");  // shown, not stored

    d.EditLogo->setText(QString::fromStdString(Pic("small.png") + " "));
    SendKey(d.EditLogo, Qt::Key_Enter);
    EXPECT_TRUE(d.ImageLogo->isVisibleTo(&d));
    EXPECT_EQ(At(d.ImageLogo, 0, 0), QColor(0, 0, 255));
    d.EditLogo->setText(QString::fromStdString(Pic("damaged.png")));
    SendKey(d.EditLogo, Qt::Key_Return);
    EXPECT_FALSE(d.ImageLogo->isVisibleTo(&d));
    EXPECT_TRUE(d.isVisible());

    if (const char* shots = std::getenv("TS_SCREENSHOT_DIR")) d.grab().save(QString(shots) + "/ext_icon.png");
    d.ButtonCanClick();
}

TEST_F(IconFormTest, OkRefreshesExternalPreviewsAndKeepsTypedScales) {
    Start();
    TFormMain& f = *form;
    S().opt.IconSource = 1;
    f.ShowIcons();
    f.ScaleEdits[0]->setText("2.5");
    f.LabelLogoClick();  // nobody answers: nothing changes
    f.FormExtIcon->show();
    f.FormExtIcon->Edits[0]->setText(QString::fromStdString(Pic("small.png")));
    f.FormExtIcon->ButtonOKClick();
    EXPECT_EQ(At(f.Images[0], 0, 0), QColor(0, 0, 255));
    EXPECT_EQ(f.ScaleEdits[0]->text(), "2.5");
    EXPECT_EQ(Shown(f.Images[1]), Cell("pal5/icon7.png"));

    // With the internal set active the previews stay palette icons.
    f.LabelIconSClick();
    EXPECT_EQ(f.LabelIconS->text(), "Int.\nIcon");
    EXPECT_EQ(f.ScaleEdits[0]->text(), "1");  // each set keeps its own scales
    f.FormExtIcon->show();
    f.FormExtIcon->Edits[1]->setText(QString::fromStdString(Pic("small.png")));
    f.FormExtIcon->ButtonOKClick();
    EXPECT_EQ(S().opt.ExtIconFile[1], Pic("small.png"));
    EXPECT_EQ(Shown(f.Images[1]), Cell(S().opt.PaletteIconName[1]));
    EXPECT_EQ(S().ExternalIconScale[0], 2.5);
}

TEST_F(IconFormTest, LoadedSettingsShowTheirIconsLogoAndPaletteFile) {
    WriteSolidPng(Pic("sheet.png"), 512, 512, 0xFF00FF00);
    const std::string ini = dir + "icons.ini";
    {
        std::ofstream out(ini);
        out << "[Option]\nVersion=Trailsmith  Ver2.20\n[Icon]\nIconSource=1\nInternalImage=" << Pic("sheet.png")
            << "\n[ExtIcon]\nExtIcon1=" << Pic("wide.png") << "\nExtIcon1S=1.5\nLogoFile=" << Pic("small.png") << "\n";
    }
    Start({ini});
    TFormMain& f = *form;
    EXPECT_EQ(f.LabelIconS->text(), "Ext.\nIcon");
    EXPECT_EQ(f.LabelLogo->text(), "LOGO");
    EXPECT_EQ(f.ScaleEdits[0]->text(), "1.5");
    EXPECT_EQ(At(f.Images[0], 0, 0), QColor(255, 0, 0));
    // The palette picture of the file stands in for the missing icons.
    EXPECT_EQ(At(f.Images[1], 16, 16), QColor(0, 255, 0));
    EXPECT_EQ(f.FormIcon->Sheet().pixelColor(300, 300), QColor(0, 255, 0));

    // A palette file that cannot be read keeps the sheet in use.
    WriteBytes(Pic("bad.png"), "not a picture");
    S().InternalImage = Pic("bad.png");
    f.ShowIcons();
    EXPECT_EQ(f.FormIcon->Sheet().pixelColor(300, 300), QColor(0, 255, 0));
}
