// The main window's fixed-width edits show the texts they are made for whole, in the user's font
// at every size the settings may give it (the default face, whichever the machine's fonts make
// of it).
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// The room the edit gives its text as it paints it: its contents less the text margins and the
// two pixels it keeps on either side.
int TextRoom(const QLineEdit& e) {
    QStyleOptionFrame opt;
    opt.initFrom(&e);
    opt.lineWidth = e.hasFrame() ? e.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, &e) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    const QRect r = e.style()->subElementRect(QStyle::SE_LineEditContents, &opt, &e).marginsRemoved(e.textMargins());
    return r.width() - 2 * 2;
}

}  // namespace

TEST_F(MainWindowTest, FixedWidthEditsHoldTheirTextsAtEveryFontSize) {
    const std::vector<std::pair<const char*, std::vector<const char*>>> holds = {
        {"MaskEditTimeDiff", {" 09:00:00", "-10:30:00", "+12:45:00"}},
        {"EditDF", {"yyyy/mm/dd", "dd mmm yyyy", "yy/mm/dd"}},
        {"EditTF", {"hh:mm:ss.", "hh:mm:ss.zzz"}},
        {"EditST", {"1440", "0.25"}},
        {"EditAlpha", {"255"}},
        {"EditLineW", {"2.5"}},
        {"EditSp2", {"1000.0"}},
        {"EditSp3", {"1000.0"}},
        {"EditSp4", {"1000.0"}},
        {"EditGroundLevel", {"-100.00", "1000.00"}},
        {"EditSc1", {"0.75"}}};
    for (int size : {8, 13, 16, 20}) {
        SCOPED_TRACE(size);
        if (form) form->close();
        dir = ScratchDir("editwidth" + std::to_string(size));
        std::ofstream(dir + "prog/trailsmith.ini")
            << "[Option]\r\nVersion=Trailsmith  Ver2.20\r\n[Font]\r\nFontSize=" << size << "\r\n";
        Start({}, false);
        for (const auto& [name, texts] : holds) {
            const auto* e = form->findChild<QLineEdit*>(name);
            ASSERT_NE(e, nullptr) << name;
            EXPECT_EQ(e->font().pointSize(), size) << name;
            const QFontMetrics fm(e->font());
            for (const char* t : texts)
                EXPECT_LE(fm.horizontalAdvance(QString(t)) + 1, TextRoom(*e))  // + the caret after it
                    << name << " \"" << t << "\" in " << e->font().family().toStdString();
        }
    }
}
