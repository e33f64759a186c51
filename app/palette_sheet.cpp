#include "palette_sheet.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "icon_sets.h"

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

QImage MakePaletteSheet() {
    QImage sheet(kPaletteSheetSize, kPaletteSheetSize, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::transparent);
    QPainter p(&sheet);
    p.setRenderHint(QPainter::Antialiasing);
    for (int palette = 0; palette < 4; ++palette)
        for (int m = 0; m < 64; ++m) {
            const int x = (palette % 2) * 256 + (m % 8) * kPaletteCell;
            const int y = (palette / 2) * 256 + (m / 8) * kPaletteCell;
            DrawCell(p, palette, m, QRect(x, y, kPaletteCell, kPaletteCell));
        }
    return sheet;
}

}  // namespace ts
