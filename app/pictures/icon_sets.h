// Placemark icon sets without widgets: palette cell naming, preview geometry, the icon-set switch
// and the texts of the external-icon dialog's checks. The forms draw with what these compute.
#pragma once

#include <string>

#include "settings/settings.h"

namespace ts {

// The palette sheet: four quadrants of 256 x 256 ("pal2" top-left, "pal3" top-right, "pal4"
// bottom-left, "pal5" bottom-right), each an 8 x 8 grid of 32 x 32 cells.
inline constexpr int kPaletteSheetSize = 512;
inline constexpr int kPaletteCell = 32;
// What a missing or unreadable external icon shows instead.
inline constexpr const char* kMissingIconName = "pal5/icon7.png";

struct CellPos {
    int x = 0, y = 0;
};

// The cell under a mouse position on the sheet (clamped to the sheet): its corner and its name
// "palN/iconM.png".
CellPos PaletteCellAt(int mx, int my);
std::string PaletteNameAt(int mx, int my);

// The corner of the cell a palette name stands for. False when the icon number lies outside 0..63:
// such a name has no cell, and its preview stays blank.
bool PaletteCellOrigin(const std::string& name, CellPos& at);

struct PictureSize {
    int width = 0, height = 0;
};

// Size at which a picture of sw x sh is drawn from the top-left corner of a dw x dh preview: as it
// is when it fits, else shrunk to the preview keeping its aspect ratio (sizes truncated).
PictureSize ScaledPictureSize(int sw, int sh, int dw, int dh);

// The icon set after a click on the set label: internal and external alternate; web goes to
// internal.
int NextIconSource(int source);

// A logo field kept inside [min, max]: the text as typed (a decimal comma written as ".") when its
// value lies inside or equals `special`, else `def` as shortest number text (also for text that is
// not a number, or whose comma may group thousands).
std::string CheckRangeText(const std::string& text, double min, double max, double special, double def);
// The same with the range of a settings key, so that OK keeps what the next load keeps.
std::string CheckRangeText(const std::string& text, const NumberKey& k, double def);

// Start folder of the browse dialog of a row: the folder of the row's text; with an empty row and
// no start folder yet, the folder of the first icon's text, else the main window's open folder.
// `dialogDir` is the browse dialog's current start folder; the result is its next one.
std::string BrowseStartFolder(const std::string& editText, const std::string& dialogDir, const std::string& edit1Text,
                              const std::string& mainOpenDir);

}  // namespace ts
