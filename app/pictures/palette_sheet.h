// The built-in palette sheet of the icon picker, drawn by the program itself.
#pragma once

#include <QImage>

#include <bitset>

namespace ts {

// 512 x 512, transparent between the icons: four quadrants of 8 x 8 cells of 32 x 32, each cell a
// marker of its palette's colour and shape family with its icon number on it.
QImage MakePaletteSheet();

// The same sheet drawn only as far as it is asked for: the main window's previews need a cell
// each, only the picker needs them all. A cell keeps inside its square, so drawn alone it has
// the pixels it has on the whole sheet.
class PaletteSheet {
public:
    // The sheet with at least the cell whose top-left corner is (x, y) drawn.
    const QImage& WithCell(int x, int y);
    const QImage& Whole();

private:
    void Draw(int cell);
    QImage image_;
    std::bitset<256> drawn_;
};

}  // namespace ts
