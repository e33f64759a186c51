#include "forms/form_palt.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QTimer>

using namespace ts;

namespace {

BarometerStart SampleStart() {
    BarometerStart b;
    b.fileName = "walk.log";
    b.loggerText = "PG-S1 V1.02";
    b.altEditText = "123.4";
    return b;
}

struct FormPAltTest : testing::Test {
    Settings s;
    std::unique_ptr<TFormPAlt> d;
    void SetUp() override {
        TestApp();
        d = std::make_unique<TFormPAlt>(s);
    }
};

}  // namespace

TEST_F(FormPAltTest, PrepareFillsTheStartPointAndKeepsTypedAltitude) {
    d->Prepare(SampleStart());
    EXPECT_EQ(d->LabelVers->text(), "PG-S1 V1.02");
    EXPECT_EQ(d->LabeledEditAlt->text(), "123.4");

    // The next log keeps what the user typed.
    d->LabeledEditAlt->setText("40");
    BarometerStart next = SampleStart();
    next.altEditText = "99.9";
    next.offsetText = "Barometer offset: 1.5 hPa";
    d->Prepare(next);
    EXPECT_EQ(d->LabeledEditAlt->text(), "40");
    EXPECT_EQ(d->LabelOffset->text(), "Barometer offset: 1.5 hPa");
}

TEST_F(FormPAltTest, FahrenheitBoxConvertsTheTemperature) {
    d->Prepare(SampleStart());
    d->CheckBoxF->setChecked(true);
    EXPECT_EQ(d->LabeledEditTemp->text(), "59");
    EXPECT_EQ(d->LabelTempCaption->text(), "Temperature (F)");
    EXPECT_TRUE(s.Fahrenheit);
    d->CheckBoxF->setChecked(false);
    EXPECT_EQ(d->LabeledEditTemp->text(), "15");
    EXPECT_FALSE(s.Fahrenheit);

    // An empty edit takes the standard temperature of the new unit, not converted again.
    d->LabeledEditTemp->setText(" ");
    d->CheckBoxF->setChecked(true);
    EXPECT_EQ(d->LabeledEditTemp->text(), "59.0");
    EXPECT_EQ(ConvertTemperatureText("abc", true), "32");  // unreadable: 0 C

    // The saved unit is shown with the next log, without converting the text.
    s.Fahrenheit = false;
    d->Prepare(SampleStart());
    EXPECT_FALSE(d->CheckBoxF->isChecked());
    EXPECT_EQ(d->LabeledEditTemp->text(), "59.0");
    EXPECT_EQ(d->LabelTempCaption->text(), "Temperature (C)");
}

TEST_F(FormPAltTest, EnterClosesTheShownDialogAndCalibrates) {
    BarometerReference ref;
    ref.pressure = 1000.0;
    QTimer::singleShot(0, d.get(), [&] {
        EXPECT_TRUE(d->isVisible());
        d->LabeledEditAlt->setText(" 0 ");  // spaces are trimmed
        d->CheckBoxF->setChecked(true);
        d->LabeledEditTemp->setText("68");  // 20 C
        emit d->LabeledEditAlt->returnPressed();
    });
    d->Ask(SampleStart(), ref);
    EXPECT_FALSE(d->isVisible());
    EXPECT_DOUBLE_EQ(ref.pressure, 1000.0);
    EXPECT_NEAR(ref.temperature, 20.0, 1e-12);
}

// The dialog is centred on the main window, kept on the screen's left and top edges.
TEST(FormPAltPlace, CentredOnTheMainWindow) {
    TestApp();
    Settings s;
    s.WorkArea = {0, 0, 1920, 1080};
    for (QPoint at : {QPoint(300, 200), QPoint(-900, -900)}) {
        QWidget main;
        main.setGeometry(QRect(at, QSize(800, 600)));
        TFormPAlt d(s, &main);
        QPoint shown;
        QSize size;
        QTimer::singleShot(0, &d, [&] {
            shown = d.pos();
            size = d.frameGeometry().size();
            d.ButtonOKClick();
        });
        BarometerReference ref;
        d.Ask(SampleStart(), ref);
        if (at.x() >= 0) {
            EXPECT_LE(std::abs(shown.x() + size.width() / 2 - (at.x() + 400)), 1);
            EXPECT_LE(std::abs(shown.y() + size.height() / 2 - (at.y() + 300)), 1);
        } else {
            EXPECT_EQ(shown, QPoint(1, 1));
        }
    }
}

TEST(FormPAltHeadless, NobodyToAskTakesTheStandardReference) {
    TestApp();
    TFormMain form(ProgramIn(ScratchDir("palt")), {}, true);
    BarometerReference ref;
    ref.pressure = 1001.0;
    ref.temperature = 3.0;
    form.AskBarometerCalibration(SampleStart(), ref);
    EXPECT_DOUBLE_EQ(ref.pressure, 1013.25);
    EXPECT_DOUBLE_EQ(ref.temperature, 15.0);
    EXPECT_EQ(form.FormReport()->Lines().back(), "  Barometer calibration not asked: 1013.25 hPa and 15 C are used.");
    EXPECT_FALSE(form.FormPAlt()->isVisible());
}
