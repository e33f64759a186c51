// The geoid models the user can choose (a fixed height, two global EGM2008 grids, the GSI text grid
// of Japan through its binary cache, a custom grid with a geometry trailer), the opening of their
// grid files, and the query the readers call for every point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/context.h"
#include "core/host.h"
#include "core/options.h"
#include "geoid/geoid_grid.h"

namespace ts {

inline constexpr int kGeoidModelCount = 5;
// The geoid dialog's model items; the index is the model number.
extern const char* const kGeoidModelNames[kGeoidModelCount];
// Index of a model text among the items, -1 when it is none of them.
int GeoidModelIndex(const std::string& text);

// What the geoid dialog shows after a selection; the main window's caption goes to GeoidCaption.
struct GeoidView {
    std::string modelText;       // the model box text
    bool splineVisible = false;  // "Spline interpolation" (GSI model)
    bool fixedVisible = false;   // the fixed height edit and its unit
    bool checkVisible = false;   // the check calculator
    std::string customLabel;     // file name of the custom grid
};

// Number tokens of the GSI text grid, separated by blanks, commas or line-end characters. A
// token followed by a separator must be a number (else std::invalid_argument); the last token of
// the text that is not a number gives NaN (0 for an integer). The token is removed from text.
double NextFloatToken(std::string_view& text);
int32_t NextIntToken(std::string_view& text);

// Reads the GSI header line (south latitude, west longitude, latitude step, longitude step, rows,
// columns, kind, version) into p's geometry; false when it does not parse or is not a usable grid.
bool ParseGsiGeoidHeader(std::string_view line, GeoidGridParams& p);

class GeoidModels : public GeoidQuery {
public:
    // settings: the shell's live settings, read at every query and updated by the selection
    // (model, check-box caption, grid folder, custom file name, GSI geometry). Both outlive this.
    GeoidModels(Host& host, TConversionOptions& settings) : host_(host), s_(settings) {}

    // Opens the model settings.GeoidModel names; falls back to the fixed value when it cannot.
    void SelectGeoidModel();
    // Releases the grid file; the model stays selected, its grid now answers NaN.
    void CloseGeoid() { grid_.Close(); }

    double GeoidHeight(double lat, double lon) override;

    bool GeoidLoaded() const { return loaded_; }
    const GeoidView& View() const { return view_; }
    const GeoidGrid& Grid() const { return grid_; }

    // The steps of a selection, each reporting its own failures to the user.
    // markedRowNodes: the nodes of a row when every stored row starts with a record marker that
    // counts their bytes (checked on the first row), 0 when the rows carry none.
    bool OpenGeoidGrid(const std::string& fileName, const GeoidGridGeometry& g, int32_t markedRowNodes = 0);
    bool OpenGsiGeoidBinary(const std::string& fileName);
    bool ConvertGeoidTextToBinary(const std::string& fullName);
    bool OpenCustomGeoid(const std::string& fullName);
    std::string BrowseGeoidFile(const std::string& fileName, const std::string& filter);

private:
    void ErrorBox(const std::string& text) { host_.MessageDlg(text, MsgKind::Error, mbOK, mbOK); }
    bool GsiCacheUsable(const std::string& cacheName) const;

    Host& host_;
    TConversionOptions& s_;
    GeoidGrid grid_;
    GeoidView view_;
    bool loaded_ = false;
};

}  // namespace ts
