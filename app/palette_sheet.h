// The built-in palette sheet of the icon picker, drawn by the program itself.
#pragma once

#include <QImage>

namespace ts {

// 512 x 512, transparent between the icons: four quadrants of 8 x 8 cells of 32 x 32, each cell a
// marker of its palette's colour and shape family with its icon number on it.
QImage MakePaletteSheet();

}  // namespace ts
