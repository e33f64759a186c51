// What the block selector and the output range dialog compute, kept apart from their widgets:
// the texts they show, the parsing of typed local times, and the search of a record by time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/options.h"
#include "core/point_store.h"

namespace ts {

// Decimal text of n with "," every three digits from the right: 1234567 -> "1,234,567".
std::string IntToStrSep(int64_t n);

// |value| in degrees as degrees, minutes and seconds with `decimals` decimals of seconds:
// "ddd<deg>mm' ss.ssss\"" (degrees blank-padded to three places). NaN, infinite or absurdly
// large values give the empty text.
std::string FormatRangeDms(int decimals, double value, const std::string& degChar);
// The same followed by hemi[0] for value >= 0, else hemi[1] ("NS" or "EW").
std::string FormatRangeDmsHemi(const std::string& hemi, int decimals, double value, const std::string& degChar);

// A local date-time in dateFormatText ("yy/mm/dd", "dd.mm.yyyy", "mmmm dd yy"...) followed by the
// time: every text the dialogs write, and typed forms of it (other separators, month names whole
// or in three letters, in any case). A text holding only a time of day (as dateless logs show) reads as that
// time. The year, month or day a format leaves out is taken from `defaults` (none when null).
// False when the text does not convert.
bool TryParseLocalDateTime(const std::string& text, const std::string& dateFormatText, double& out,
                           const DateParts* defaults = nullptr);
// As above; 0.0 when the text does not convert.
double ParseLocalDateTime(const std::string& text, const std::string& dateFormatText);

// A local time as the dialogs show it: date and time above 1.0, else the time of day alone.
std::string DateTimeToText(double t, const TConversionOptions& o);

// Which edit of the range dialog a text is in.
enum class RangeSide { Start, Final };

// A local time the range dialog wrote into an edit, with the text it wrote. Without a day or a
// month in the format one text stands for that time on any day of the block: while the edit
// still holds it, it reads as the time written.
struct ShownTime {
    std::string text;
    double time = 0;
    bool Holds(const std::string& t) const { return !text.empty() && t == text; }
};
struct RangeShown {
    ShownTime start, final;
};

// A local time typed or shown for block b. What the date format leaves out (year, month or day)
// is taken from the block's start for the start edit and from its end for the final edit, or from
// the other end where only that puts the time inside the block (a block across New Year or
// midnight). The block's own start and end as shown read as themselves, and a text the dialog
// wrote (`shown`) as the time it was written for.
bool TryParseBlockTime(const std::string& text, const TrackBlock& b, const TConversionOptions& o, double& out,
                       RangeSide side = RangeSide::Start, const ShownTime* shown = nullptr);

// Puts the range edits back into the block: a start text that does not convert or lies before
// the block's start becomes the start; likewise the final text against the block's end. A text
// put back is noted in `shown`.
void ClampRangeEdits(std::string& startText, std::string& finalText, const TrackBlock& b, const TConversionOptions& o,
                     RangeShown* shown = nullptr);

// Binary search over the block's records (in time order) for a record within 1 ms of t (UTC);
// without one, a record next to where t falls. Never more than about log2(length) + 1 reads.
int32_t FindRecordByTime(const PointStream& ps, const TrackBlock& b, double t);

// The texts of one row of the block selector.
struct BlockRowTexts {
    std::string start, final, points;
};
BlockRowTexts BlockRangeTexts(const TrackBlock& b, const TConversionOptions& o);
// Every block whole again (the selector's Reset); ticks are not touched.
void ResetBlockRanges(BlockTable& blocks);

// --- Output range dialog.

// Icon of a point in the list: 0..3 speed classes, 4 interest point, 5 voice point; -1 none.
int RangeIconIndex(const TLogData& p, const TConversionOptions& o);

struct RangeRow {
    int icon = -1;
    double time = 0;  // local, what dateTime shows
    std::string point, dateTime, lon, lat, speed;
};
struct PointList {
    int32_t first = 0;  // record index of rows[0]
    int selected = -1;  // the row of the record found for the edit's time
    std::vector<RangeRow> rows;
};
// Up to 201 records of the block around the time in `text` (local, already clamped), the text
// of the edit `side`.
PointList FillPointList(const PointStream& ps, const TrackBlock& b, const TConversionOptions& o,
                        const std::string& text, RangeSide side = RangeSide::Start, const ShownTime* shown = nullptr);
// "Block:1   <start>  to  <end>"
std::string RangeTitle(int32_t curBlock, const TrackBlock& b, const TConversionOptions& o);
// "Spd(km/h)"
std::string SpeedColumnTitle(const TConversionOptions& o);

enum class RangeOkResult { Accepted, StartAfterEnd, BadFormat };
// OK of the range dialog: clamps the edits, then stores the chosen times and their records in the
// block. A start later than the end stores nothing; so does a text that still does not convert.
RangeOkResult ApplyRangeEdits(std::string& startText, std::string& finalText, TrackBlock& b, const PointStream& ps,
                              const TConversionOptions& o, RangeShown* shown = nullptr);

}  // namespace ts
