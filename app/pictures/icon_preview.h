// Drawing the 32 x 32 icon and logo previews: palette cells, picture files scaled to fit.
#pragma once

#include <QImage>
#include <QLabel>

#include <string>

namespace ts {

// The preview picture a label shows (null when it shows none).
QImage PreviewImage(const QLabel* preview);

// Draws the palette cell named by `name` from the sheet; a name without a cell leaves the preview
// blank.
void DrawPaletteIcon(QLabel* image, const QImage& sheet, const std::string& name);

// Draws `src` into the preview from its top-left corner, shrunk with smoothing when it does not
// fit, over a blanked preview.
void DrawScaled(QLabel* dest, const QImage& src);

// Reads a picture file as the external icons and the logo are read: JPEG and PNG by their
// extension, anything else as a bitmap file. False with a reason ("No file" for an empty name or a
// missing file); damaged files fail here and never reach the previews.
bool ReadPictureImage(const std::string& fileName, QImage& out, std::string& error);

enum class PreviewRole { Icon, Logo };

// Loads a picture file into a preview and shows it. On failure a logo preview is hidden and an
// icon preview shows the palette's stand-in icon. Returns whether the file was shown.
bool LoadPictureFile(QLabel* dest, const std::string& fileName, const QImage& sheet, PreviewRole role);

}  // namespace ts
