// NMEA 0183 sentences into epochs: field split and checksum, coordinate, time and date fields, the
// GGA, RMC, WPL and logger-specific lines, and the epoch reader that collects the lines of one fix.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/barometer.h"
#include "core/context.h"
#include "readers/line_reader.h"

namespace ts {

inline constexpr int kNmeaMaxFields = 25;
inline constexpr size_t kNmeaFieldWidth = 20;

// The fields of one sentence as views into its line; Field(1) is the sentence name.
struct NmeaFields {
    std::array<std::string_view, kNmeaMaxFields> f{};
    int count = 0;
    std::string_view Field(int k) const { return k >= 1 && k <= count ? f[k - 1] : std::string_view(); }
};

// Splits at commas into at most 25 fields, each trimmed and cut to 20 characters; the last field
// keeps the rest of the line untrimmed and loses its checksum from the "*" on. Returns the count.
int SplitNmeaFields(NmeaFields& out, std::string_view line);
// True when the line has a "*" followed by the hexadecimal XOR of the bytes between "$" and "*",
// and those are printable ASCII (a NUL leaves the XOR as it was).
bool NmeaChecksumOk(std::string_view line);
// "dddmm.mmmm" to degrees; NaN when empty or not a number.
double NmeaDegMinToDeg(std::string_view text);
// A coordinate field with its hemisphere ("S" and "W" negative). NaN when the text is not a
// number, its minutes reach 60 or the degrees exceed maxDeg (90 for latitudes, 180 for longitudes).
double NmeaCoordToDeg(std::string_view coord, std::string_view hemisphere, double maxDeg);
// Time of day (days) of an "hhmmss[.sss]" field; also reads "hmmss" and "hhmmssf" (a fraction
// without its "."). False for an empty field, one with fewer than five digits before the fraction,
// or values out of range.
bool NmeaTimeOfDay(std::string_view text, double& out);

// The date of the last RMC: none, a valid date, or a date field that does not make a date (every
// time read with it then fails).
struct NmeaDate {
    enum State : uint8_t { None, Valid, Invalid };
    State state = None;
    double value = 0;
    bool operator==(const NmeaDate&) const = default;
};
// A "ddmmyy" field (two-digit years in the century window). Fewer than six characters: no date.
NmeaDate NmeaFieldToDate(std::string_view text);
// Date and time of day, 0.0 when the time (or a present date) does not convert; ok tells which.
double NmeaDateTime(const NmeaDate& date, std::string_view timeField, bool& ok);

// Position, altitude and speed that one kind of sentence gave.
struct NmeaValueSet {
    double time = 0;
    double lat = kNaN, lon = kNaN;
    double alt = kNaN;
    double speed = kNaN;  // knots
};

// The last result of a field conversion kept with the field texts it came from: a GGA and the RMC
// of the same epoch mostly carry the same time and position.
struct NmeaFieldMemo {
    std::array<char, 2 * kNmeaFieldWidth> key{};
    uint8_t lenA = 0, lenB = 0;
    bool filled = false, ok = false;
    double value = 0;
    bool Holds(std::string_view a, std::string_view b) const;
    void Keep(std::string_view a, std::string_view b, double v, bool good);
};

// Scratch space and conversion memos of whoever describes lines: the reader itself, or one worker
// thread each on the threaded read pass.
struct NmeaLineScratch {
    NmeaFields fields;
    std::string compact;
    std::array<char, 6> lastDateField{};
    NmeaDate lastDate;
    bool lastDateCached = false;
    NmeaFieldMemo timeMemo, latMemo, lonMemo;
    // Check pass only: the coordinate texts that pair a GGA with an RMC, of the line described last.
    std::string_view latText, lonText;
};

// The options and input kind a line's description depends on, copied so that worker threads
// read nothing the calling thread may touch.
struct NmeaLineRules {
    int inputKind = 0;
    bool ignoreSpace = false, useFixOnly = false;
    // The read pass needs positions, altitudes, speeds; the check pass times and field texts only.
    bool positions = false;
};

// The field count a log writes a kind of sentence with: a count met on two sentences of the kind
// in a row becomes the log's own (a log joined from two loggers changes it), the first one stands
// until then.
struct NmeaFieldMeasure {
    uint8_t own = 0, last = 0;
};
inline constexpr int kNmeaMeasuredKinds = 4;

// What one line says on its own, whatever came before it. ApplyNmeaLine then adds it to the
// epoch in file order.
struct NmeaLineFacts {
    // Skip: changes nothing. Other: applied from its text (tags, waypoints, sensor lines).
    enum Kind : uint8_t { Skip, Gga, Rmc, Other };
    // What the epoch reader's boundaries look at: the sentence the parser reads, and tag lines.
    enum Start : uint8_t { StartsGga = 1, StartsRmc = 2, StartsWpl = 4, KeepTag = 8 };
    std::string_view line;
    Kind kind = Skip;
    uint8_t starts = 0;
    uint8_t quality = 0;     // GGA: the quality field; RMC: 1 for status "A", else 0
    bool estimated = false;  // GGA quality "6"
    bool starred = false;    // it carries a "*"
    // Sentences whose field count is measured against the log's own (0: not measured): GGA, RMC
    // and the pressure lines, unless a checksum proves them wrong.
    uint8_t measured = 0;
    uint8_t fieldCount = 0;
    // Without a checksum: its time, date, position or values read as such (a line cut short or run
    // into another mostly does not). A line with a good checksum always does.
    bool readable = false;
    bool todOk = false;
    NmeaDate date;  // RMC
    int32_t sats = 0;
    double tod = 0;
    double lat = kNaN, lon = kNaN;
    double alt = kNaN;    // GGA
    double speed = kNaN;  // RMC, knots
    double sep = kNaN, hdop = 0;
};

NmeaLineRules NmeaRulesOf(const EngineContext& ctx, bool positions);
void DescribeNmeaLine(const NmeaLineRules& rules, NmeaLineScratch& scratch, std::string_view line, NmeaLineFacts& out);

// The working record of one NMEA reader call, shared by the check pass and the read pass.
struct NmeaEpoch {
    bool readPass = false;
    // Mode decided by the check pass.
    bool GgaFirst = true, GgaOnly = false, RmcOnly = false;
    // Sentences of the same time of day join one epoch whatever the mode; only when the check
    // pass found GGA and RMC of one fix written with the same time.
    bool pairByTime = false;
    // Field counts of each measured kind of sentence so far, in file order on both roads; reset
    // at the start of every pass.
    std::array<NmeaFieldMeasure, kNmeaMeasuredKinds> measure{};
    // Check-pass counters, and the coordinate texts of the last GGA and RMC that pair them.
    int32_t GgaCount = 0, RmcCount = 0, GgaRmcPairs = 0, RmcGgaPairs = 0;
    std::string ggaLat, ggaLon, rmcLat, rmcLon;
    NmeaDate DateText, FirstDateText;
    // A GGA carries no date: it takes the last RMC's, a day later for each midnight passed since.
    // Midnights counted over the pass, the count at the last dated RMC, and in the check pass the
    // count at the log's first date (fixes before it count back from there).
    int64_t midnights = 0, midnightsAtDate = 0, firstDateMidnights = 0;
    double lastTod = -1;  // of the last GGA or RMC read; -1: none yet

    // What the GGA and the RMC of the epoch in hand gave (read pass); a set is only the epoch's
    // own when a sentence of its kind counted in it.
    NmeaValueSet gga, rmc;
    NmeaDate rmcDate;
    bool ggaInEpoch = false, rmcInEpoch = false;
    // A GGA that repeats the epoch's (GGA leading) is the next day's when an RMC of its time with
    // another date follows: it then leads that RMC's fix.
    NmeaLineFacts repeatedGga;
    bool repeatPending = false, carryGga = false;
    // Time of day of the first GGA or RMC that counted in the epoch, in milliseconds.
    bool todInEpoch = false;
    int64_t epochMs = 0;
    int32_t sats = -1;
    double hdop = 0;
    uint8_t ggaQuality = 255, rmcQuality = 255;  // 255: not seen
    bool EstimatedSeen = false;
    double SensorValue1 = kNaN, pressure = kNaN, pressureAlt = kNaN, temperature = kNaN;
    bool InterestTag = false, VoiceTag = false;
    double WplLat = 0, WplLon = 0;
    std::string LoggerText;
    bool PressureSeen = false;
    double OwnGeoidSep = kNaN;
    double sepBeforeEpoch = kNaN;  // OwnGeoidSep as the epoch in hand found it
    bool EndOfLog = false;
    BarometerReference baro;

    // Values of the epoch ReadNmeaEpoch returned last.
    uint8_t quality = 255;

    NmeaLineScratch scratch;
    NmeaLineFacts facts;
};

void ClearSensorValues(NmeaEpoch& e);
// At the start of every pass over the log: fixes before the first RMC take the log's first date
// (none yet in the check pass), counted back across the midnights before it; nothing held back.
void StartNmeaPass(NmeaEpoch& e);
// At the start of the check pass and of every block of the read pass.
void ResetNmeaEpoch(EngineContext& ctx, NmeaEpoch& e);
// Takes a described line into the log's field measure, in file order, once per line. A line
// without checksum that is shorter than the log's own count of its kind, or does not read, then
// gives nothing (its facts say Skip); it still ends an epoch as its name says.
void JudgeNmeaLine(NmeaEpoch& e, NmeaLineFacts& f);
// The amount to add to the epoch's sentence count: GGA 1, RMC 2, others 0, negative to cancel.
int32_t ParseNmeaLine(EngineContext& ctx, NmeaEpoch& e, std::string_view line, int32_t count);
// The same for a line already described (with rules of the same pass).
int32_t ApplyNmeaLine(EngineContext& ctx, NmeaEpoch& e, const NmeaLineFacts& f, int32_t count);

void ParseWpl(EngineContext& ctx, NmeaEpoch& e, const NmeaFields& f);
void ParseIismd(NmeaEpoch& e, const NmeaFields& f);
void ParseCbdbg(EngineContext& ctx, NmeaEpoch& e, std::string_view line);

struct NmeaFix {
    double lat = kNaN, lon = kNaN, alt = kNaN, speed = kNaN;
};

// Reads the lines of one fix (read pass). True: the fix continues the current block; false: it
// opens a new block, or the log is exhausted when e.EndOfLog is set. Sets ctx.run.NewTime.
bool ReadNmeaEpoch(EngineContext& ctx, NmeaEpoch& e, LineReader& file, NmeaFix& fix);

// The lines of a file described on worker threads, taken in file order as from a LineReader
// (the threaded read pass).
class NmeaDescribedLines {
public:
    explicit NmeaDescribedLines(const NmeaLineRules& rules) : rules_(rules) {}
    // Reads the file the reader has open. False when it cannot be.
    bool Start(const LineReader& file, unsigned workers, size_t chunkBytes);
    bool Failed() const { return feed_.Failed(); }
    std::string FailReason() const { return feed_.FailReason(); }

    bool AtEnd() { return !(cur_ && next_ < cur_->size()) && !NextChunk(); }
    // The next line's facts, valid until the next call of Next or AtEnd; nullptr at the end.
    NmeaLineFacts* Next() {
        if (held_) {
            held_ = false;
            return last_;
        }
        if (AtEnd()) return nullptr;
        return last_ = &(*cur_)[next_++];
    }
    // Next returns the line it returned last once more.
    void Hold() { held_ = true; }
    bool HasHeld() const { return held_; }

private:
    // False at the end of the file.
    bool NextChunk();

    NmeaLineRules rules_;
    std::vector<NmeaLineScratch> scratch_;           // one per thread
    std::vector<std::vector<NmeaLineFacts>> facts_;  // one per slot of the feed
    std::vector<NmeaLineFacts>* cur_ = nullptr;      // the chunk being read
    size_t next_ = 0;
    NmeaLineFacts* last_ = nullptr;
    bool held_ = false, done_ = false;
    ChunkedLineFeed feed_;  // last: its threads stop before the rest goes
};
bool ReadNmeaEpoch(EngineContext& ctx, NmeaEpoch& e, NmeaDescribedLines& src, NmeaFix& fix);

}  // namespace ts
