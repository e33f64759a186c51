#include "pictures/icon_preview.h"

#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <filesystem>

#include "core/text_format.h"
#include "pictures/icon_sets.h"
#include "pictures/picture_file.h"

namespace ts {

namespace {

QImage BlankPreview(const QLabel* label) {
    QImage canvas(label->width(), label->height(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    return canvas;
}

}  // namespace

QImage PreviewImage(const QLabel* preview) { return preview->pixmap().toImage(); }

void DrawPaletteIcon(QLabel* image, const QImage& sheet, const std::string& name) {
    image->setFixedSize(kPaletteCell, kPaletteCell);
    QImage canvas = BlankPreview(image);
    CellPos at;
    if (PaletteCellOrigin(name, at)) {
        QPainter p(&canvas);
        p.drawImage(QPoint(0, 0), sheet, QRect(at.x, at.y, kPaletteCell, kPaletteCell));
    }
    image->setPixmap(QPixmap::fromImage(canvas));
}

void DrawScaled(QLabel* dest, const QImage& src) {
    QImage canvas = BlankPreview(dest);
    const PictureSize size = ScaledPictureSize(src.width(), src.height(), canvas.width(), canvas.height());
    if (size.width > 0 && size.height > 0) {
        QPainter p(&canvas);
        if (size.width == src.width() && size.height == src.height()) {
            p.drawImage(QPoint(0, 0), src);
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(QPoint(0, 0),
                        src.scaled(size.width, size.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
    }
    dest->setPixmap(QPixmap::fromImage(canvas));
}

bool ReadPictureImage(const std::string& fileName, QImage& out, std::string& error) {
    out = QImage();
    std::error_code ec;
    if (Trim(fileName).empty() || !std::filesystem::is_regular_file(fileName, ec)) {
        error = "No file";
        return false;
    }
    const PictureKind kind = PictureKindOf(fileName);
    if (kind == PictureKind::Bitmap) {
        // Read as a bitmap whatever the content: a file named otherwise is not guessed at.
        QImageReader reader(QString::fromStdString(fileName), "bmp");
        reader.setDecideFormatFromContent(false);
        if (!reader.read(&out)) {
            error = reader.errorString().toStdString();
            out = QImage();
            return false;
        }
        return true;
    }
    Picture pic;
    const bool ok =
        kind == PictureKind::Png ? ReadPngPicture(fileName, pic, error) : ReadJpegPicture(fileName, pic, error);
    if (!ok) return false;
    QImage img(pic.width, pic.height, QImage::Format_RGBA8888);
    if (img.isNull()) {
        error = "out of memory";
        return false;
    }
    const size_t row = size_t(pic.width) * 4;
    for (int y = 0; y < pic.height; ++y) std::copy_n(pic.rgba.data() + y * row, row, img.scanLine(y));
    out = std::move(img);
    return true;
}

bool LoadPictureFile(QLabel* dest, const std::string& fileName, const QImage& sheet, PreviewRole role) {
    QImage holder;
    std::string error;
    if (ReadPictureImage(fileName, holder, error)) {
        DrawScaled(dest, holder);
        dest->setVisible(true);
        return true;
    }
    if (role == PreviewRole::Logo) dest->setVisible(false);
    else DrawPaletteIcon(dest, sheet, kMissingIconName);
    return false;
}

}  // namespace ts
