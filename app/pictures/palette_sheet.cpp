#include "pictures/palette_sheet.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cstdlib>

#include "pictures/icon_sets.h"

namespace ts {

namespace {

// One marker: the shape follows the icon number, the hue the palette, so that neighbouring cells
// stay easy to tell apart in the picker and in a 32 x 32 preview.
void DrawCell(QPainter& p, int palette, int m, const QRect& cell) {
    static const int hues[4] = {0, 215, 115, 275};
    const QColor fill = QColor::fromHsv((hues[palette] + (m % 8) * 5) % 360, 200, 230 - (m / 8) * 12);
    const QRectF r = QRectF(cell).adjusted(3, 3, -3, -3);
    p.setPen(QPen(fill.darker(170), 1.5));
    p.setBrush(fill);
    switch (m % 4) {
    case 0: p.drawEllipse(r); break;
    case 1: p.drawRoundedRect(r, 5, 5); break;
    case 2: {
        const QPointF c = r.center();
        p.drawPolygon(QPolygonF({{c.x(), r.top()}, {r.right(), c.y()}, {c.x(), r.bottom()}, {r.left(), c.y()}}));
        break;
    }
    default: {
        // A map pin: a round head over a point.
        QPainterPath pin;
        pin.moveTo(r.center().x(), r.bottom());
        pin.arcTo(QRectF(r.left() + 2, r.top(), r.width() - 4, r.width() - 4), -60, 300);
        pin.closeSubpath();
        p.drawPath(pin);
        break;
    }
    }
    QFont f = p.font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(fill.lightness() > 150 ? Qt::black : Qt::white);
    p.drawText(cell, Qt::AlignCenter, QString::number(m));
}

}  // namespace

QImage MakePaletteSheet() { return PaletteSheet().Whole(); }

void PaletteSheet::Draw(int cell) {
    if (drawn_[cell]) return;
    if (image_.isNull()) {
        // Zeroed memory is transparent already; its pages are only touched where cells are drawn.
        const size_t bytes = size_t{kPaletteSheetSize} * kPaletteSheetSize * 4;
        if (void* mem = std::calloc(bytes, 1)) {
            image_ = QImage(
                static_cast<uchar*>(mem), kPaletteSheetSize, kPaletteSheetSize, kPaletteSheetSize * 4,
                QImage::Format_ARGB32_Premultiplied, [](void* p) { std::free(p); }, mem);
        } else {
            image_ = QImage(kPaletteSheetSize, kPaletteSheetSize, QImage::Format_ARGB32_Premultiplied);
            image_.fill(Qt::transparent);
        }
    }
    const int palette = cell / 64, m = cell % 64;
    const int x = (palette % 2) * 256 + (m % 8) * kPaletteCell;
    const int y = (palette / 2) * 256 + (m / 8) * kPaletteCell;
    QPainter p(&image_);
    p.setRenderHint(QPainter::Antialiasing);
    DrawCell(p, palette, m, QRect(x, y, kPaletteCell, kPaletteCell));
    drawn_[cell] = true;
}

const QImage& PaletteSheet::WithCell(int x, int y) {
    x = std::clamp(x, 0, kPaletteSheetSize - 1);
    y = std::clamp(y, 0, kPaletteSheetSize - 1);
    const int palette = (y / 256) * 2 + x / 256;
    Draw(palette * 64 + ((x % 256) / kPaletteCell) + 8 * ((y % 256) / kPaletteCell));
    return image_;
}

const QImage& PaletteSheet::Whole() {
    if (!drawn_.all()) {
        for (int cell = 0; cell < 256; ++cell) Draw(cell);
    }
    return image_;
}

}  // namespace ts
