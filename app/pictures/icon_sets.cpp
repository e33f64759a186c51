#include "pictures/icon_sets.h"

#include <algorithm>
#include <cstdint>

#include "core/text_format.h"
#include "settings/settings.h"

namespace ts {

CellPos PaletteCellAt(int mx, int my) {
    // The sheet's own label never reports positions outside it; clamping keeps the naming total.
    mx = std::clamp(mx, 0, kPaletteSheetSize - 1);
    my = std::clamp(my, 0, kPaletteSheetSize - 1);
    return {mx / kPaletteCell * kPaletteCell, my / kPaletteCell * kPaletteCell};
}

std::string PaletteNameAt(int mx, int my) {
    const CellPos c = PaletteCellAt(mx, my);
    const int palette = c.x / 256 + 2 * (c.y / 256);  // 0..3 for pal2..pal5
    const int m = (c.x % 256) / kPaletteCell + 8 * ((c.y % 256) / kPaletteCell);
    return "pal" + std::to_string(palette + 2) + "/icon" + std::to_string(m) + ".png";
}

bool PaletteCellOrigin(const std::string& name, CellPos& at) {
    int32_t m = 0;
    const size_t p = name.find("/icon");
    if (p != std::string::npos) {
        const size_t from = p + 5;
        const size_t dot = name.find('.', from);
        m = StrToIntSafe(
            std::string_view(name).substr(from, dot == std::string::npos ? std::string::npos : dot - from));
    }
    if (m < 0 || m > 63) return false;
    at = {(m % 8) * kPaletteCell, (m / 8) * kPaletteCell};
    if (name.find("pal4") != std::string::npos) at.y += 256;
    else if (name.find("pal3") != std::string::npos) at.x += 256;
    else if (name.find("pal5") != std::string::npos) {
        at.x += 256;
        at.y += 256;
    }
    return true;
}

PictureSize ScaledPictureSize(int sw, int sh, int dw, int dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return {0, 0};
    if (sw <= dw && sh <= dh) return {sw, sh};
    // Compared as products so that no ratio is rounded; 64 bits hold any picture size.
    const int64_t tall = int64_t(sh) * dw, wide = int64_t(sw) * dh;
    if (tall >= wide) return {static_cast<int>(int64_t(dh) * sw / sh), dh};
    return {dw, static_cast<int>(int64_t(dw) * sh / sw)};
}

int NextIconSource(int source) {
    // Values the settings file should not hold go to the internal set too.
    return source == 0 ? 1 : 0;
}

std::string CheckRangeText(const std::string& text, double min, double max, double special, double def) {
    double v = 0;
    const std::string t = DecimalPointText(text);
    if (TryStrToFloat(t, v) && ((min <= v && v <= max) || v == special)) return t;
    return FloatKeyText(def);
}

std::string CheckRangeText(const std::string& text, const NumberKey& k, double def) {
    return CheckRangeText(text, k.lo, k.hi, k.special, def);
}

std::string BrowseStartFolder(const std::string& editText, const std::string& dialogDir, const std::string& edit1Text,
                              const std::string& mainOpenDir) {
    if (!editText.empty()) return ExtractFilePath(editText);
    if (!dialogDir.empty()) return dialogDir;
    if (!edit1Text.empty()) return ExtractFilePath(edit1Text);
    return mainOpenDir;
}

}  // namespace ts
