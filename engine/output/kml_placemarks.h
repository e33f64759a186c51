// The point placemarks of a KML block: one per role of a written point (start, interest, voice,
// end) or one speed-classed placemark, with the note as name or balloon, and the icon lines of
// the document's styles.
#pragma once

#include <array>
#include <string>

#include "core/context.h"
#include "output/text_out.h"

namespace ts {

enum KmlClass { kcSpeed1, kcSpeed2, kcSpeed3, kcSpeed4, kcIrest, kcVoice, kcStart, kcEnd };
inline constexpr const char* kKmlClassName[8] = {"speed1", "speed2", "speed3", "speed4",
                                                 "Irest",  "Voice",  "Start",  "End"};

// The number formats of one KML call, made once from the decimals settings.
struct KmlFormats {
    FloatFormat coord, height, noteDeg, noteHeight, noteSpeed;
    double multi = 0, offset = 0;  // 3D height from speed
};
KmlFormats MakeKmlFormats(TConversionOptions& o);

// "N" or "S" by the sign of v (0 counts as north); "" for NaN. Likewise "E" or "W".
const char* KmlNS(double v);
const char* KmlEW(double v);

// The trimmed scale text, or "" when it reads as 1.0 or is no number.
std::string ScaleText(const std::string& text);

// Appends the icon lines of style class k (0..7) inside its IconStyle: the scale when it is not
// 1, then the icon reference (in a KMZ, kmz: the name the archive holds the file by).
void AppendIconStyle(LineOut& out, const TConversionOptions& o, int k, bool kmz = false);

// Appends "lon,lat,height" with the coordinate and height formats; a NaN height is 0.0.
void AppendCoordinates(std::string& out, const KmlFormats& f, double lon, double lat, double h3d);

// One placemark a written point asks for: its style class, whether it shows, and whether its
// style is one the document uses.
struct PlacemarkRole {
    int cls = kcSpeed1;
    bool visible = false, used = false;
};

class KmlPlacemarks {
public:
    KmlPlacemarks(const TConversionOptions& o, const KmlFormats& f, bool compact);
    void StartBlock();
    // The placemarks of a written point in the order they are made (1 to 4); start and end are
    // its roles. Returns their number.
    int Roles(const TLogData& p, bool start, bool end, PlacemarkRole (&roles)[4]) const;
    // True when a placemark of this role is written at all.
    bool Built(const PlacemarkRole& r) const { return !(o_.VisibleOnly && !r.visible); }
    // One written point: n is its 1-based written count; start and end are its roles.
    void AddPoint(const TLogData& p, double h3d, int32_t n, bool start, bool end, std::string& pointText);
    // Flushes the last placemark and closes the point folder.
    void FinishBlock(std::string& pointText);
    // For a block written in pieces: a piece that follows placemarks already written starts
    // without the folder head, and the piece holding the block's last placemark ends with
    // lastOfBlock, which lets it show when the block's start point is shown.
    void StartPiece(bool folderStarted);
    void FinishPiece(std::string& pointText, bool lastOfBlock);

    std::array<bool, 8> styleUsed{};

private:
    void BuildNote(const TLogData& p, int32_t n);
    void AppendPointName(std::string& out, const TLogData& p, int32_t n);
    void AppendAltitude(std::string& out, double v, bool withUnit);

    const TConversionOptions& o_;
    const KmlFormats& f_;
    bool compact_;
    bool balloon_;
    const char* itemSep_;
    const char* labelSep_;
    bool folderStarted_ = false;
    bool lastBuiltVisible_ = false;
    std::string pending_;  // the placemark built last
    std::string note_, name_;
};

}  // namespace ts
