// What the block selector and the output range dialog compute, kept apart from their widgets:
// the texts they show, the parsing of typed local times, and the search of a record by time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
// time. A format without a year takes defaultYear (none when 0). False when the text does not
// convert.
bool TryParseLocalDateTime(const std::string& text, const std::string& dateFormatText, double& out,
                           int defaultYear = 0);
// As above; 0.0 when the text does not convert.
double ParseLocalDateTime(const std::string& text, const std::string& dateFormatText);

// A local time as the dialogs show it: date and time above 1.0, else the time of day alone.
std::string DateTimeToText(double t, const TConversionOptions& o);

// A local time typed or shown for block b. A date format without a year takes the block's year:
// that of its start, or of its end where the start's year would put the time before the block.
bool TryParseBlockTime(const std::string& text, const TrackBlock& b, const TConversionOptions& o, double& out);

// Puts the range edits back into the block: a start text that does not convert or lies before
// the block's start becomes the start; likewise the final text against the block's end.
void ClampRangeEdits(std::string& startText, std::string& finalText, const TrackBlock& b, const TConversionOptions& o);

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
    std::string point, dateTime, lon, lat, speed;
};
struct PointList {
    int32_t first = 0;  // record index of rows[0]
    int selected = -1;  // the row of the record found for the edit's time
    std::vector<RangeRow> rows;
};
// Up to 201 records of the block around the time in `text` (local, already clamped).
PointList FillPointList(const PointStream& ps, const TrackBlock& b, const TConversionOptions& o,
                        const std::string& text);
// "Block:1   <start>  to  <end>"
std::string RangeTitle(int32_t curBlock, const TrackBlock& b, const TConversionOptions& o);
// "Spd(km/h)"
std::string SpeedColumnTitle(const TConversionOptions& o);

enum class RangeOkResult { Accepted, StartAfterEnd, BadFormat };
// OK of the range dialog: clamps the edits, then stores the chosen times and their records in the
// block. A start later than the end stores nothing; so does a text that still does not convert
// (the block's own time in a format that cannot be read back).
RangeOkResult ApplyRangeEdits(std::string& startText, std::string& finalText, TrackBlock& b, const PointStream& ps,
                              const TConversionOptions& o);

}  // namespace ts
