// Files dropped on the main window, delivered through its native window as a desktop delivers
// them, so that the drop reaches whichever control stands under the pointer.
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QMimeData>
#include <QUrl>
#include <QWindow>

using namespace ts;

namespace {

using InputDropTest = MainWindowTest;

// Drags urls over the window to the centre of `over` and drops them there.
void DropOn(TFormMain& f, QWidget* over, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    // File managers offer the addresses as plain text too, which an edit would take.
    QStringList texts;
    for (const QUrl& u : urls) texts << u.toString();
    data.setText(texts.join('\n'));
    const QPoint at = over->mapTo(&f, over->rect().center());
    QWindow* w = f.windowHandle();
    ASSERT_NE(w, nullptr);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &drop);
}

}  // namespace

TEST_F(InputDropTest, FileDroppedOnTheInputBoxIsConvertedAsOnTheWindow) {
    Start();
    TFormMain& f = *form;
    ASSERT_TRUE(f.acceptDrops());
    for (QWidget* target : {static_cast<QWidget*>(f.EditFn), static_cast<QWidget*>(f.ButtonExec)}) {
        f.EditFn->setText(QString::fromStdString(dir + "earlier.nmea"));
        f.EditFn->setCursorPosition(3);
        const std::string name = target->objectName().toStdString() + ".nmea";
        DropOn(f, target, {QUrl::fromLocalFile(QString::fromStdString(dir + name))});
        // The dropped file is the input, whole, and it was converted.
        EXPECT_EQ(f.EditFn->text().toStdString(), dir + name);
        EXPECT_EQ(ReportCount(QString::fromStdString("File: " + name)), 1) << name;
    }
}
