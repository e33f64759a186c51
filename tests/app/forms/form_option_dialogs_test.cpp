// The reduction, mask and point-name dialogs driven offscreen through the main window: their
// edits, OK and Cancel, and what reaches the settings and the box captions.
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QLineEdit>

using namespace ts;

using OptionDialogsTest = StartedWindowTest;

TEST_F(OptionDialogsTest, ReductionOkFloorsAndCaptionsCancelUnticks) {
    TFormMain& f = *form;
    TFormReduce& d = *f.FormReduce;
    f.CheckBoxReduce->setChecked(true);
    // Opened with the values in force.
    EXPECT_EQ(d.EditMd->text(), "30.0");
    EXPECT_EQ(d.EditEt->text(), "10.0");
    EXPECT_EQ(d.LabelMdu->text(), "m");

    d.EditMd->setText("0.5");
    d.EditEt->setText("0");
    d.ButtonOK->click();
    EXPECT_TRUE(f.CheckBoxReduce->isChecked());
    EXPECT_EQ(f.CheckBoxReduce->text(), "Reduce (1.0m or 0.1s)");
    EXPECT_EQ(d.EditMd->text(), "1.0");
    EXPECT_EQ(d.EditEt->text(), "0.1");
    EXPECT_DOUBLE_EQ(S().opt.MoveDistMin, 1.0);
    EXPECT_NEAR(S().opt.ElapsedMin * 86400, 0.09, 1e-9);

    // In feet the typed distance shows in the caption and is kept in metres.
    emit f.LabelSpd->clicked();
    ASSERT_EQ(f.LabelUnit->text(), "mph");
    d.EditMd->setText("100");
    d.ButtonOK->click();
    EXPECT_EQ(f.CheckBoxReduce->text(), "Reduce (100ft or 0.1s)");
    EXPECT_EQ(d.LabelMdu->text(), "feet");
    EXPECT_NEAR(S().opt.MoveDistMin, 30.48, 1e-9);

    // Cancel unticks the box and drops what was typed; the values in force stay.
    d.EditMd->setText("5000");
    d.ButtonCan->click();
    EXPECT_FALSE(f.CheckBoxReduce->isChecked());
    EXPECT_NEAR(S().opt.MoveDistMin, 30.48, 1e-9);
    f.CheckBoxReduce->setChecked(true);
    EXPECT_EQ(d.EditMd->text(), "100");
}

TEST_F(OptionDialogsTest, MaskOkRepairsCancelClearsTheMask) {
    TFormMain& f = *form;
    TFormLimit& d = *f.FormLimit;
    f.CheckBoxMask->setChecked(true);
    EXPECT_EQ(S().opt.HdopMax, 3.0);  // ticking applies the values in force
    EXPECT_EQ(d.EditHdopMask->text(), "3.0");
    EXPECT_EQ(d.EditNsatMask->text(), "4");
    d.EditHdopMask->setText("abc");
    d.EditNsatMask->setText("0");
    d.ButtonOK->click();
    EXPECT_EQ(d.EditHdopMask->text(), "1.5");
    EXPECT_EQ(d.EditNsatMask->text(), "3");
    EXPECT_EQ(f.CheckBoxMask->text(), "Mask (HD<=1.5 && NS>=3)");
    EXPECT_EQ(S().opt.HdopMax, 1.5);
    EXPECT_EQ(S().opt.NsatMin, 3);

    d.ButtonCan->click();
    EXPECT_FALSE(f.CheckBoxMask->isChecked());
    EXPECT_EQ(S().opt.HdopMax, 10000);
    EXPECT_EQ(S().opt.NsatMin, -100);
    EXPECT_EQ(f.CheckBoxMask->text(), "Mask (HD<=1.5 && NS>=3)");  // the caption keeps the values
}

TEST_F(OptionDialogsTest, PointNameFollowsTheComboCancelRestores) {
    TFormMain& f = *form;
    TFormPointName& d = *f.FormPointName;
    QComboBox* c = d.ComboBoxPointName;
    ASSERT_EQ(c->count(), 7);
    f.CheckBoxBalloon->setChecked(false);
    f.CheckBoxBalloon->setChecked(true);
    EXPECT_EQ(c->currentText(), "Number (Num)");  // first start: numbered points
    d.show();                                     // keeps the choice in force for Cancel
    ExpectNoOverlaps(&d);

    c->setCurrentIndex(4);  // every change applies at once
    EXPECT_EQ(f.CheckBoxBalloon->text(), "Balloon (LatLon)");
    EXPECT_EQ(S().opt.PointNameKind, 4);
    EXPECT_EQ(c->toolTip(), "Point name is Longitude and Latitude");

    // Typed key by key, the text stays as typed; an item once complete applies.
    c->clearEditText();
    QString typed;
    for (QChar ch : QString("Speed (Spd)")) {
        SendKey(c->lineEdit(), 0, QString(ch));
        typed += ch;
        ASSERT_EQ(c->currentText(), typed);
        EXPECT_EQ(S().opt.PointNameKind, typed == "Speed (Spd)" ? 5 : 0) << typed.toStdString();
    }
    EXPECT_EQ(f.CheckBoxBalloon->text(), "Balloon (Spd)");
    c->setEditText("Speed");  // not an item: OK puts the first item in
    EXPECT_EQ(c->currentText(), "Speed");
    EXPECT_EQ(f.CheckBoxBalloon->text(), "Balloon (None)");
    d.ButtonOK->click();
    EXPECT_EQ(c->currentText(), "no name (None)");
    EXPECT_EQ(S().opt.PointName, "no name (None)");

    c->setCurrentIndex(1);
    d.FormShow();
    c->setEditText("Alt");
    d.ButtonCan->click();
    EXPECT_EQ(c->currentText(), "Number (Num)");
    EXPECT_EQ(S().opt.PointNameKind, 1);
    EXPECT_EQ(f.CheckBoxBalloon->text(), "Balloon (Num)");
    EXPECT_TRUE(f.CheckBoxBalloon->isChecked());  // Cancel keeps the box ticked

    c->setCurrentIndex(6);
    d.ButtonOK->click();
    EXPECT_EQ(S().opt.PointName, "Altitude (Alt)");
    EXPECT_EQ(f.CheckBoxBalloon->text(), "Balloon (Alt)");
}
