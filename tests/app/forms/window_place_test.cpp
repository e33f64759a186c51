// Where the main window is put and where its place is written back, off screen as in unattended
// runs: showing, laying out and re-showing the settings are not the user's moves.
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QScreen>
#include <QScrollArea>
#include <QThread>

#include <regex>

using namespace ts;

namespace {

const char kTwoRows[] =
    "DATE,TIME,LATITUDE,LONGITUDE\n2020/01/02,03:04:05,35.1,139.2\n2020/01/02,03:04:06,35.1001,139.2001\n";

struct WindowPlaceTest : MainWindowTest {
    // A quiet run of a two-row log with the given settings; returns the settings written back.
    std::string QuietRun(const std::string& settings) {
        WriteBytes(dir + "a.csv", kTwoRows);
        WriteBytes(dir + "s.ini", settings);
        Start({dir + "s.ini", "/Q", dir + "a.csv"});
        for (int i = 0; i < 500 && form->isVisible(); ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
        }
        EXPECT_FALSE(form->isVisible());
        return ReadBytes(dir + "s.ini");
    }
    static std::string Key(const std::string& ini, const std::string& key) {
        std::smatch m;
        return std::regex_search(ini, m, std::regex("(^|\n)" + key + "=([^\r\n]*)")) ? m[2].str() : "(none)";
    }
};

}  // namespace

// The loaded place comes back whether the run converts, stops at the missing output type or
// repairs a value; a repair changes that value and nothing else.
TEST_F(WindowPlaceTest, QuietRunWritesBackTheLoadedPlace) {
    const std::string place = "[Option]\r\nVersion=Trailsmith  Ver2.20\r\nMainTop=123\r\nMainLeft=45\r\n";
    const std::string gpx = "GPXout=1\r\nKMZout=0\r\nKMLout=0\r\nCSVout=0\r\nNMEAout=0\r\n";
    const std::string none = "GPXout=0\r\nKMZout=0\r\nKMLout=0\r\nCSVout=0\r\nNMEAout=0\r\n";
    const std::string repaired = QuietRun(place + gpx + "[GPXopt]\r\nLatLonDecimal=99\r\n");
    const std::string plain =
        QuietRun(place + gpx + "[GPXopt]\r\nLatLonDecimal=" + Key(repaired, "LatLonDecimal") + "\r\n");
    const std::string stopped = QuietRun(place + none);
    for (const std::string* ini : {&repaired, &plain, &stopped}) {
        EXPECT_EQ(Key(*ini, "MainTop"), "123");
        EXPECT_EQ(Key(*ini, "MainLeft"), "45");
    }
    EXPECT_NE(Key(repaired, "LatLonDecimal"), "99");
    EXPECT_EQ(repaired, plain);
}

// A first start stands centred on the work area and writes that place back.
TEST_F(WindowPlaceTest, FirstQuietRunWritesBackTheCentredPlace) {
    const std::string ini = QuietRun("[Option]\r\nGPXout=1\r\nKMZout=0\r\n");
    const QPoint centre = CentredOn(QGuiApplication::primaryScreen()->availableGeometry(), FrameRect(*form).size());
    // Within a few pixels: the controls may settle in their font after the place was saved.
    EXPECT_NEAR(std::stoi(Key(ini, "MainTop")), centre.y(), 4);
    EXPECT_NEAR(std::stoi(Key(ini, "MainLeft")), centre.x(), 4);
}

// A window laid out larger than the work area is cut to it and its controls scroll; they still
// do not cover one another.
TEST_F(WindowPlaceTest, LargeFontWindowIsNoLargerThanTheWorkArea) {
    WriteBytes(dir + "prog/trailsmith.ini", "[Font]\r\nFontName=DejaVu Sans\r\nFontSize=20\r\n");
    Start();
    const QRect wa = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(form->width(), wa.width());
    EXPECT_LE(form->height(), wa.height());
    EXPECT_EQ(form->maximumSize(), form->size());
    auto* scroll = form->findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    // Scrolled, not squeezed.
    EXPECT_GE(scroll->widget()->height(), scroll->widget()->minimumSizeHint().height());
    EXPECT_GE(scroll->widget()->width(), scroll->widget()->minimumSizeHint().width());
    ExpectNoOverlaps(scroll->widget());
}
