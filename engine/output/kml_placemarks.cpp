#include "output/kml_placemarks.h"

#include <cctype>
#include <cmath>
#include <string_view>

#include "core/date_time.h"
#include "core/text_format.h"
#include "output/kml_view3d.h"
#include "output/writers.h"

namespace ts {

KmlFormats MakeKmlFormats(TConversionOptions& o) {
    KmlFormats f;
    f.coord = MakeFloatFmt(o.KmlLatLonDecimal, 4, 8);
    f.height = MakeFloatFmt(o.KmlAltDecimal, 1, 8);
    f.noteDeg = MakeFloatFmt(o.NoteLatLonDecimal, 4, 8);
    f.noteHeight = MakeFloatFmt(o.NoteAltDecimal, 1, 8);
    f.noteSpeed = MakeFloatFmt(o.NoteSpeedDecimal, 1, 8);
    f.multi = StrToFloatSafe(o.Multi);
    f.offset = StrToFloatSafe(o.Offset3D);
    return f;
}

const char* KmlNS(double v) { return std::isnan(v) ? "" : v >= 0 ? "N" : "S"; }
const char* KmlEW(double v) { return std::isnan(v) ? "" : v >= 0 ? "E" : "W"; }

std::string ScaleText(const std::string& text) {
    const std::string t = Trim(text);
    double v;
    if (!TryStrToFloat(t, v) || v == 1.0) return std::string();
    return t;
}

void AppendIconStyle(LineOut& out, const TConversionOptions& o, int k, bool kmz) {
    const std::string scale = ScaleText(o.IconScale[k]);
    if (!scale.empty()) {
        AppendXmlText(out.Begin(4).append("<scale>"), scale);
        out.Buffer().append("</scale>");
        out.End();
    }
    out.Line(4, "<Icon>");
    std::string& b = out.Begin(5).append("<href>");
    if (o.IconSource == 0) {
        AppendXmlText(b, o.IconPath);
        AppendXmlText(b, o.PaletteIconName[k]);
    } else {
        // The KMZ packs the external file at the archive root, under the name it can hold.
        AppendXmlText(b, kmz && o.IconToKMZ ? KmzMemberName(o, o.ExtIconFile[k]) : ExtractFileName(o.ExtIconFile[k]));
    }
    b.append("</href>");
    out.End();
    out.Line(4, "</Icon>");
}

void AppendCoordinates(std::string& out, const KmlFormats& f, double lon, double lat, double h3d) {
    AppendFixed(out, lon, f.coord);
    out.push_back(',');
    AppendFixed(out, lat, f.coord);
    out.push_back(',');
    if (std::isnan(h3d)) out.append("0.0");
    else AppendFixed(out, h3d, f.height);
}

namespace {

std::string_view TrimView(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

}  // namespace

KmlPlacemarks::KmlPlacemarks(const TConversionOptions& o, const KmlFormats& f, bool compact)
    : o_(o),
      f_(f),
      compact_(compact),
      balloon_(o.NoteToBalloon),
      itemSep_(balloon_ ? "<br/>" : " "),
      labelSep_(balloon_ ? "= " : "=") {}

void KmlPlacemarks::StartBlock() {
    styleUsed.fill(false);
    folderStarted_ = false;
    lastBuiltVisible_ = false;
    pending_.clear();
}

void KmlPlacemarks::AppendAltitude(std::string& out, double v, bool withUnit) {
    if (o_.GroundLevelApply) v -= o_.GroundLevel;
    if (o_.SpeedUnit == "km/h") {
        AppendFixed(out, v, f_.noteHeight);
        if (withUnit) out.push_back('m');
    } else {
        AppendFixed(out, v / 0.3048, f_.noteHeight);
        if (withUnit) out.append("ft");
    }
}

void KmlPlacemarks::BuildNote(const TLogData& p, int32_t n) {
    std::string& s = note_;
    s.clear();
    const char* E = labelSep_;
    const auto item = [&](const char* balloonLabel, const char* plainLabel) {
        if (balloon_) {
            if (balloonLabel) s.append(balloonLabel).append(E);
        } else if (plainLabel) {
            s.append(plainLabel).append(E);
        }
    };
    if (o_.NoteDNum && !(balloon_ && o_.PointNameKind == 1)) {
        s.push_back('#');
        AppendInt(s, n);
        s.append(itemSep_);
    }
    if (p.Time != 0.0 && (o_.NoteDate || o_.NoteTime)) {
        const double local = ToLocalTime(p.Time, o_.TimeOffset);
        // A time of day without a date shows no date (it would read as 1899).
        const bool showDate = o_.NoteDate && !IsDateless(p.Time);
        if (balloon_) {
            if (showDate) s.append("Date").append(E).append(FormatDateTime(o_.OutDateFormat, local)).append(itemSep_);
            if (o_.NoteTime) s.append("Time").append(E).append(FormatTimeMs(o_.TimeFmt, local)).append(itemSep_);
        } else {
            if (showDate) s.append(FormatDateTime(o_.OutDateFormatText, local));
            if (showDate && o_.NoteTime) s.push_back(' ');
            if (o_.NoteTime) s.append(FormatTimeMs(o_.TimeFmt, local));
            if (showDate || o_.NoteTime) s.append(itemSep_);
        }
    }
    if (o_.NoteLat) {
        item("Lat", nullptr);
        AppendFixed(s, std::fabs(p.Lat), f_.noteDeg);
        s.append(KmlNS(p.Lat)).append(itemSep_);
    }
    if (o_.NoteLon) {
        item("Lon", nullptr);
        AppendFixed(s, std::fabs(p.Lon), f_.noteDeg);
        s.append(KmlEW(p.Lon)).append(itemSep_);
    }
    if (o_.NoteSpeed && !std::isnan(p.Speed)) {
        item("Spd", "S");
        AppendFixed(s, p.Speed * o_.SpeedFactor, f_.noteSpeed);
        s.append(o_.SpeedUnit).append(itemSep_);
    }
    if (o_.NoteAlt && !std::isnan(p.Alt)) {
        s.append("Alt").append(E);
        AppendAltitude(s, p.Alt, true);
        s.append(itemSep_);
    }
    if (o_.NoteHdop && p.Hdop10 > 0) {
        s.append("HDOP").append(E);
        AppendFixed(s, p.Hdop10 / 10.0, 1, 3);
        s.append(itemSep_);
    }
    if (o_.NoteNsat && p.Sats >= 0 && p.Sats <= 89) {
        s.append("Nsat").append(E);
        AppendInt(s, p.Sats);
        s.append(itemSep_);
    }
    if (o_.NoteTemp && !std::isnan(p.Temperature)) {
        item("Temp", "T");
        AppendFixedTrim(s, p.Temperature, 1, 3);
        s.append("C").append(itemSep_);
    }
    if (o_.NotePressure && !std::isnan(p.Pressure)) {
        item("Barom", "P");
        AppendFixedTrim(s, p.Pressure, 1, 3);
        s.append("hPa").append(itemSep_);
    }
    if (o_.NotePressureAlt && !std::isnan(p.PressureAlt)) {
        s.append("PAlt").append(E);
        AppendAltitude(s, p.PressureAlt, true);
        s.append(itemSep_);
    }
    if (o_.NoteVoiceFile && !p.VoiceName.empty()) {
        s.append(balloon_ ? "Voice" : "V").append(E);
        // The balloon is HTML: the name must not become markup. Without balloon the whole note
        // is escaped when it is written.
        if (balloon_) AppendXmlText(s, p.VoiceName);
        else s.append(p.VoiceName);
        s.append(itemSep_);
    }
}

void KmlPlacemarks::AppendPointName(std::string& s, const TLogData& p, int32_t n) {
    const double local = ToLocalTime(p.Time, o_.TimeOffset);
    switch (o_.PointNameKind) {
    case 1:
        s.push_back('#');
        AppendInt(s, n);
        break;
    case 2:
        if (!IsDateless(p.Time)) s.append(FormatDateTime(o_.OutDateFormat, local));
        s.push_back(' ');
        s.append(FormatTimeMs(o_.TimeFmt, local));
        break;
    case 3: s.append(FormatTimeMs(o_.TimeFmt, local)); break;
    case 4:
        AppendFixed(s, std::fabs(p.Lat), f_.noteDeg);
        s.append(KmlNS(p.Lat)).push_back(' ');
        AppendFixed(s, std::fabs(p.Lon), f_.noteDeg);
        s.append(KmlEW(p.Lon));
        break;
    case 5:
        // A point without speed or altitude gets no name rather than a made-up number.
        if (!std::isnan(p.Speed)) {
            AppendFixed(s, p.Speed * o_.SpeedFactor, f_.noteSpeed);
            s.append(o_.SpeedUnit);
        }
        break;
    case 6:
        if (!std::isnan(p.Alt)) AppendAltitude(s, p.Alt, true);
        break;
    default: break;
    }
}

int KmlPlacemarks::Roles(const TLogData& p, bool start, bool end, PlacemarkRole (&roles)[4]) const {
    bool startP = start, irestP = (p.Flags & InterestPoint) != 0, voiceP = (p.Flags & VoicePoint) != 0, endP = end;
    int n = 0;
    do {
        PlacemarkRole& r = roles[n++];
        r = PlacemarkRole();
        r.used = true;
        if (startP) {
            r.cls = kcStart;
            r.visible = true;
            startP = false;
        } else if (irestP) {
            r.cls = kcIrest;
            r.visible = o_.Visible[kcIrest];
            irestP = false;
        } else if (voiceP) {
            r.cls = kcVoice;
            r.visible = o_.Visible[kcVoice];
            voiceP = false;
        } else if (endP) {
            r.cls = kcEnd;
            r.visible = true;
            endP = false;
        } else if (!std::isnan(p.Speed)) {
            const auto reaches = [&](int k) { return p.Speed >= std::fabs(o_.SpeedClassBounds[k]); };
            r.cls = reaches(4) ? kcSpeed4 : reaches(3) ? kcSpeed3 : reaches(2) ? kcSpeed2 : kcSpeed1;
            r.visible = o_.Visible[r.cls];
        } else {
            r.used = false;  // no speed: hidden speed1, which is always written anyway
        }
    } while (startP || irestP || voiceP || endP);
    return n;
}

void KmlPlacemarks::AddPoint(const TLogData& p, double h3d, int32_t n, bool start, bool end, std::string& pointText) {
    const bool noteWanted = o_.PointNoteWanted;
    if (noteWanted) {
        BuildNote(p, n);
        name_.clear();
        if (balloon_) AppendPointName(name_, p, n);
    }
    PlacemarkRole roles[4];
    const int count = Roles(p, start, end, roles);
    for (int r = 0; r < count; ++r) {
        const int cls = roles[r].cls;
        const bool visible = roles[r].visible;
        if (roles[r].used) styleUsed[cls] = true;

        pointText += pending_;
        pending_.clear();
        if (o_.VisibleOnly && !visible) continue;

        LineOut out(pending_, compact_);
        if (!folderStarted_) {
            out.Line(2, "<Folder>");
            out.Line(3, "<name>Point</name>");
            folderStarted_ = true;
        }
        out.Line(3, "<Placemark>");
        if (!noteWanted) {
            out.End();
        } else if (!balloon_) {
            AppendXmlText(out.Begin(4).append("<name>"), TrimView(note_));
            pending_.append("</name>");
            out.End();
        } else if (!name_.empty()) {
            AppendXmlText(out.Begin(4).append("<name>"), name_);
            pending_.append("</name>");
            out.End();
        }
        out.Line(4, visible ? "<visibility>1</visibility>" : "<visibility>0</visibility>");
        if (noteWanted && balloon_) {
            AppendCDataText(out.Begin(4).append("<description><![CDATA["), TrimView(note_));
            pending_.append("]]></description>");
            out.End();
        }
        if (o_.TimeStamp && !IsDateless(p.Time)) {
            std::string& b = out.Begin(4);
            const size_t mark = b.size();
            b.append("<TimeStamp><when>");
            if (AppendXmlDateTime(b, p.Time)) {
                b.append("</when></TimeStamp>");
                out.End();
            } else {
                b.resize(mark);
                // Nothing on this line: take back its indentation.
                while (!b.empty() && b.back() == '\t') b.pop_back();
            }
        }
        out.Begin(4).append("<styleUrl>#style_id_").append(kKmlClassName[cls]).append("</styleUrl>");
        out.End();
        out.Line(4, "<Point>");
        if (o_.Mode3D && !o_.PlaceMarkToGnd) {
            if (o_.PExtrude) out.Line(5, "<extrude>1</extrude>");
            out.Line(5, AltitudeModeTag(o_));
        }
        AppendCoordinates(out.Begin(5).append("<coordinates>"), f_, p.Lon, p.Lat, h3d);
        pending_.append("</coordinates>");
        out.End();
        out.Line(4, "</Point>");
        out.Line(3, "</Placemark>");
        lastBuiltVisible_ = visible;
    }
}

void KmlPlacemarks::FinishBlock(std::string& pointText) {
    FinishPiece(pointText, true);
    if (folderStarted_) LineOut(pointText, compact_).Line(2, "</Folder>");
}

void KmlPlacemarks::StartPiece(bool folderStarted) {
    StartBlock();
    folderStarted_ = folderStarted;
}

void KmlPlacemarks::FinishPiece(std::string& pointText, bool lastOfBlock) {
    if (lastOfBlock && o_.Visible[kcStart] && !lastBuiltVisible_ && !pending_.empty()) {
        static constexpr std::string_view kHidden = "<visibility>0</visibility>";
        for (size_t i = 0; i + kHidden.size() <= pending_.size(); ++i) {
            bool match = true;
            for (size_t k = 0; k < kHidden.size() && match; ++k)
                match = std::tolower(static_cast<unsigned char>(pending_[i + k])) == kHidden[k];
            if (match) {
                pending_[i + 12] = '1';
                break;
            }
        }
    }
    pointText += pending_;
    pending_.clear();
}

}  // namespace ts
