#include "forms/form_3d.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QMessageBox>
#include <QTimer>

using namespace ts;

using Form3DTest = MainWindowTest;

TEST(ParseAngle, DecimalAndSexagesimalFormsWithSigns) {
    EXPECT_NEAR(ParseAngle("35 39 29.1572"), 35.658099, 5e-7);
    EXPECT_NEAR(ParseAngle("S 33 52"), -33.866667, 5e-7);
    EXPECT_DOUBLE_EQ(ParseAngle("-0 30"), -0.5);
    EXPECT_DOUBLE_EQ(ParseAngle("w 1 30"), -1.5);
    EXPECT_DOUBLE_EQ(ParseAngle("   "), 0.0);
    // Degree, minute and second marks are separators, the letter may stand anywhere.
    EXPECT_NEAR(ParseAngle("35\xC2\xB0"
                           "39'29.1572\"N"),
                35.658099, 5e-7);
    EXPECT_NEAR(ParseAngle("W139\xC2\xB0"
                           "44'"),
                -(139 + 44 / 60.0), 1e-12);
    // A sign after the first number separates; it does not negate.
    EXPECT_NEAR(ParseAngle("35-39-29.1572"), 35.658099, 5e-7);
    // A fourth number is ignored, even one that would not convert.
    EXPECT_DOUBLE_EQ(ParseAngle("10 30 0 1.2.3"), 10.5);
    EXPECT_DOUBLE_EQ(ParseAngle("10 ."), 0.0);
    EXPECT_DOUBLE_EQ(ParseAngle(std::string(400, '9')), 0.0);  // beyond a double: unreadable
}

TEST(Form3DLogic, OkNormalisationInOrder) {
    TConversionOptions o;
    o.Range = "0.0";
    o.Tilt = "45.50";
    o.Heading = "-0";
    o.ViewLon = "139 44 28.8759";
    o.ViewAlt = "abc";
    o.Offset3D = "";
    std::string bad;
    ASSERT_TRUE(Normalize3DFields(o, bad));
    EXPECT_EQ(o.Range, "0");
    EXPECT_EQ(o.Tilt, "45.50");  // non-zero values keep their text
    EXPECT_EQ(o.Heading, "0");
    EXPECT_EQ(o.ViewLon, "139.741354");
    EXPECT_EQ(o.ViewAlt, "0");
    EXPECT_EQ(o.Offset3D, "0");

    // An empty field is not a number either; the fields before it are normalised.
    o.Range = "";
    EXPECT_FALSE(Normalize3DFields(o, bad));
    EXPECT_EQ(bad, "");
    o.Range = "0.0";
    o.Tilt = "x";
    EXPECT_FALSE(Normalize3DFields(o, bad));
    EXPECT_EQ(bad, "x");
    EXPECT_EQ(o.Range, "0");
}

TEST(Form3DLogic, SummaryCaption) {
    TConversionOptions o;
    EXPECT_EQ(Summary3DCaption(o), "3D (T:45,R:Auto,H:N,AP(Hw),TE,PE,Abs)");
    o.AutoRange = false;
    o.Range = "500";
    o.AutoHeading = false;
    o.Heading = "120";
    o.AutoPos = false;
    o.LExtrude = false;
    o.Absolute = false;
    o.RelativeToGnd = true;
    o.AltReplace = true;
    o.Tilt = "30";
    EXPECT_EQ(Summary3DCaption(o), "3D (T:30,R:500,H:120,MP,PE,RG,Rp)");
    o.AutoHeading = o.AutoPos = true;
    o.North = false;
    o.West = true;
    o.Half = false;
    o.Final = true;
    o.RelativeToGnd = false;
    o.ClampToGnd = true;
    EXPECT_EQ(Summary3DCaption(o), "3D (T:30,R:500,H:W,AP(Fin),PE,CG,Rp)");
}

TEST_F(Form3DTest, DialogShowsTogglesAndOkWritesTheSettings) {
    Start();
    TForm3D& d = *form->Form3D();
    EXPECT_EQ(form->CheckBox3d->text(), "3D (T:45,R:Auto,H:N,AP(Hw),TE,PE,Abs)");
    d.show();
    QCoreApplication::processEvents();
    const QSize size = d.size();
    const QRect ok = d.ButtonOK->geometry();
    ExpectNoOverlaps(&d);
    EXPECT_TRUE(d.RadioButtonHalf->isChecked());
    // Each automatic box shows one of its two groups.
    auto manual = [](const QWidget* autoGroup, const QWidget* manualGroup) {
        EXPECT_NE(autoGroup->isHidden(), manualGroup->isHidden());
        return autoGroup->isHidden();
    };
    EXPECT_FALSE(manual(d.GroupBoxAutoPos, d.GroupBoxManualPos));
    d.CheckBoxAutoPos->setChecked(false);
    d.CheckBoxAutoRange->setChecked(false);
    d.CheckBoxAutoHeading->setChecked(false);
    EXPECT_TRUE(manual(d.GroupBoxAutoPos, d.GroupBoxManualPos));
    EXPECT_TRUE(manual(d.GroupBoxAutoRange, d.GroupBoxManualRange));
    EXPECT_TRUE(manual(d.GroupBoxAutoHeading, d.GroupBoxManualHeading));
    // One size whatever the groups show; the buttons stay where they were.
    QCoreApplication::processEvents();
    EXPECT_EQ(d.size(), size);
    EXPECT_EQ(d.ButtonOK->geometry(), ok);
    ExpectNoOverlaps(&d);

    d.EditLat->setText("35 39 29.1572");
    d.EditMult->setText("0");
    d.EditRange->setText("2500");
    d.RadioButtonHr3->setChecked(true);
    d.ButtonOK->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.EditLat->text(), "35.658099");
    EXPECT_EQ(S().opt.ViewLat, "35.658099");
    EXPECT_EQ(S().opt.Multi, "1.0");
    EXPECT_FALSE(S().opt.AutoPos);
    EXPECT_TRUE(S().opt.South && !S().opt.North && !S().opt.AutoHeading);
    EXPECT_EQ(form->CheckBox3d->text(), "3D (T:45,R:2500,H:0,MP,TE,PE,Abs)");
    // The next opening shows the settings as they stand.
    S().opt.AutoHeading = true;
    S().opt.Tilt = "60";
    S().opt.Range = "800";
    S().opt.South = false;
    S().opt.North = true;
    d.show();
    EXPECT_TRUE(d.CheckBoxAutoHeading->isChecked() && !manual(d.GroupBoxAutoHeading, d.GroupBoxManualHeading));
    EXPECT_EQ(d.EditTilt->text(), "60");
    EXPECT_EQ(d.EditRange->text(), "800");
    EXPECT_TRUE(d.RadioButtonHr1->isChecked() && !d.RadioButtonHr3->isChecked());
}

TEST_F(Form3DTest, CancelUnticksTheBoxKeepsTypedValuesAndLeavesNoAbort) {
    Start({}, false);
    TForm3D& d = *form->Form3D();
    QTimer::singleShot(0, &d, [&] {
        EXPECT_TRUE(d.isVisible());
        d.EditTilt->setText("30");
        d.ButtonCan->click();
    });
    form->CheckBox3d->setChecked(true);
    EXPECT_FALSE(d.isVisible());
    EXPECT_FALSE(form->CheckBox3d->isChecked());
    EXPECT_FALSE(form->abortRequested);
    EXPECT_EQ(S().opt.Tilt, "30");
    EXPECT_EQ(form->CheckBox3d->text(), "3D (T:30,R:Auto,H:N,AP(Hw),TE,PE,Abs)");

    // A tilt that is no number keeps the dialog open under an error box. Esc closes that box,
    // and only that box: the later OK keeps "3D".
    QTimer::singleShot(0, &d, [&] {
        d.EditTilt->setText("steep");
        d.EditMult->setText("0");
        QTimer::singleShot(0, &d, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text(), "'steep' is not a valid floating point value");
            SendKey(box, Qt::Key_Escape);
        });
        d.ButtonOK->click();
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.EditMult->text(), "0");  // fields after the bad one stay as typed
        d.EditTilt->setText("45");
        d.ButtonOK->click();
    });
    form->CheckBox3d->setChecked(true);
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(form->CheckBox3d->isChecked());
    EXPECT_FALSE(form->abortRequested);
}
