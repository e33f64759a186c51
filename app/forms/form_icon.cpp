#include "forms/form_icon.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include "forms/form_main.h"
#include "pictures/icon_preview.h"
#include "pictures/icon_sets.h"
#include "pictures/palette_sheet.h"

namespace ts {

TFormIcon::TFormIcon(TFormMain& main) : QDialog(&main), main_(main) {
    setObjectName("FormIcon");
    setWindowTitle("Icon selecter");
    ImageIcon1 = new QLabel(this);
    ImageIcon1->setObjectName("ImageIcon1");
    ImageIcon1->setGeometry(0, 0, kPaletteSheetSize, kPaletteSheetSize);
    ImageIcon1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ImageIcon1->setMouseTracking(true);
    ImageIcon1->installEventFilter(this);
    setFixedSize(kPaletteSheetSize, kPaletteSheetSize);
    // The built-in sheet is drawn when it is first shown or asked for.
}

const QImage& TFormIcon::Sheet() { return sheetFile_.empty() ? builtIn_.Whole() : sheet_; }

const QImage& TFormIcon::SheetFor(const std::string& name) {
    CellPos at;
    if (!sheetFile_.empty() || !PaletteCellOrigin(name, at)) return Sheet();
    return builtIn_.WithCell(at.x, at.y);
}

void TFormIcon::showEvent(QShowEvent* e) {
    if (!sheetShown_) {
        ImageIcon1->setPixmap(QPixmap::fromImage(Sheet()));
        sheetShown_ = true;
    }
    QDialog::showEvent(e);
}

void TFormIcon::UseSheetFile(const std::string& fileName) {
    if (fileName.empty() || fileName == sheetFile_) return;
    QImage img;
    std::string error;
    if (!ReadPictureImage(fileName, img, error)) return;
    sheetFile_ = fileName;
    sheet_ = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ImageIcon1->setPixmap(QPixmap::fromImage(sheet_));
    sheetShown_ = true;
}

void TFormIcon::ImageIcon1MouseMove(int x, int y) {
    mouseX_ = x;
    mouseY_ = y;
}

void TFormIcon::ImageIcon1Click() {
    PickPaletteIcon();
    accept();
}

void TFormIcon::PickPaletteIcon() {
    const int slot = main_.IconSlot;
    if (slot < 1 || slot > 8) return;
    const CellPos at = PaletteCellAt(mouseX_, mouseY_);
    QLabel* preview = main_.Images[slot - 1];
    preview->setFixedSize(kPaletteCell, kPaletteCell);
    QImage canvas(kPaletteCell, kPaletteCell, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.drawImage(QPoint(0, 0), Sheet(), QRect(at.x, at.y, kPaletteCell, kPaletteCell));
    }
    preview->setPixmap(QPixmap::fromImage(canvas));
    main_.Front().settings.opt.PaletteIconName[slot - 1] = PaletteNameAt(mouseX_, mouseY_);
}

bool TFormIcon::eventFilter(QObject* obj, QEvent* e) {
    if (obj == ImageIcon1) {
        if (e->type() == QEvent::MouseMove || e->type() == QEvent::MouseButtonPress) {
            const QPoint p = static_cast<QMouseEvent*>(e)->position().toPoint();
            ImageIcon1MouseMove(p.x(), p.y());
        } else if (e->type() == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
            ImageIcon1Click();
            return true;
        }
    }
    return QDialog::eventFilter(obj, e);
}

}  // namespace ts
