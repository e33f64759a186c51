// The palette picker "Icon selecter": a click on the sheet picks the icon of the style slot whose
// preview opened it.
#pragma once

#include <QDialog>
#include <QImage>
#include <QLabel>

#include <string>

#include "pictures/palette_sheet.h"

namespace ts {

class TFormMain;

class TFormIcon : public QDialog {
    Q_OBJECT
public:
    explicit TFormIcon(TFormMain& main);

    QLabel* ImageIcon1;  // the palette sheet

    // The whole sheet in use.
    const QImage& Sheet();
    // The sheet in use with at least the cell of the palette icon name drawn (previews need no
    // more).
    const QImage& SheetFor(const std::string& name);
    // The sheet from a picture file (settings key InternalImage). A missing or unreadable file
    // keeps the sheet in use.
    void UseSheetFile(const std::string& fileName);

    void ImageIcon1MouseMove(int x, int y);
    // Picks the cell under the last mouse position, then closes.
    void ImageIcon1Click();
    void PickPaletteIcon();

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    TFormMain& main_;
    PaletteSheet builtIn_;
    QImage sheet_;  // from the picture file, when one is in use
    std::string sheetFile_;
    bool sheetShown_ = false;
    int mouseX_ = 0, mouseY_ = 0;
};

}  // namespace ts
