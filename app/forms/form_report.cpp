#include "forms/form_report.h"

#include "forms/dialog_buttons.h"
#include "forms/frame_placer.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace ts {

TFormReport::TFormReport(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("FormReport");
    setWindowTitle("Report");
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->move(4, 4);
    Button1 = new QPushButton("Close", this);
    Button1->setObjectName("Button1");
    connect(Button1, &QPushButton::clicked, this, &QWidget::close);
    InstallDialogKeys(this);
    resize(560, 420);
    if (QScreen* sc = QGuiApplication::primaryScreen()) {
        move(CentredOn(sc->availableGeometry(), size()));
    }
}

void TFormReport::AddLine(const QString& line) { Memo1->appendPlainText(line); }

void TFormReport::Clear() { Memo1->clear(); }

QStringList TFormReport::Lines() const {
    const QString t = Memo1->toPlainText();
    return t.isEmpty() ? QStringList() : t.split('\n');
}

void TFormReport::keyPressEvent(QKeyEvent* e) {
    // Esc closes it as it closes a dialog (the main window's hook still takes it as an abort).
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) close();
    else QWidget::keyPressEvent(e);
}

void TFormReport::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    const int left = Memo1->x();
    Memo1->resize(width() - 2 * left, height() - 40);
    Button1->move(width() - Button1->width() - left, Memo1->y() + Memo1->height() + 5);
}

}  // namespace ts
