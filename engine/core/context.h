// The state of one conversion run: the options snapshot of the current file, the host, the point
// stream and block table, the running state, and the per-file switches the driver sets.
#pragma once

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/host.h"
#include "core/options.h"
#include "core/point_store.h"

namespace ts {

// Input kinds.
enum InputKindId : int {
    ikNone = 0,
    ikNmea = 1,
    ikTks = 2,
    ikRbt3000 = 3,
    ikCsv = 4,
    ikTk1 = 5,
    ikTk2 = 6,
    ikTk3 = 7,
    ikTes = 8,
    ikM241 = 9,
    ikTripMate = 10,
    ikBarometer = 11
};

// Answers the geoid height N (metres) at a position, NaN where the model has no value.
class GeoidQuery {
public:
    virtual ~GeoidQuery() = default;
    virtual double GeoidHeight(double lat, double lon) = 0;
};

// Raised by readers and writers when the user aborts; the text is the one the report shows.
struct AbortError : std::runtime_error {
    AbortError() : std::runtime_error("Abort by user") {}
};

// Raised by a reader when the log cannot be read to its end; the text says why.
struct ReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct EngineContext;
// A reader: returns the record count of the last writer (> 0), 0 for no data or an empty
// selection, -1 for a failure or abort, -2 or less when the file is not of its format.
using ReaderFn = int32_t (*)(EngineContext& ctx, const std::string& fileName);

struct EngineContext {
    explicit EngineContext(Host& h) : host(h) {}

    Host& host;
    TConversionOptions opt;  // the snapshot of the current file
    LocaleFormats locale;
    PointStream points;
    BlockTable blocks;
    RunState run;
    GeoidQuery* geoid = nullptr;  // owned by the batch loop; null: no model open

    // Set by the per-file driver.
    int inputKind = 0;
    bool geoidCorrection = false;
    bool compactOutput = false;
    // Set by the output stage when any writer of the current file failed, so that a later
    // writer's success does not hide it.
    bool writerFailed = false;
    // Replaces the reader table, for tests of the driver.
    ReaderFn (*readerLookup)(int kind) = nullptr;

    // Kept by the output stage for the whole run: the previous file's block choice, offered again
    // when the same file is converted once more.
    BlockTable SavedBlockTable;
    std::string LastInputName;
    int32_t LastBlockCount = -1;
    // Output files made in the current batch, so that no input of it overwrites a file an earlier
    // one made.
    std::unordered_set<std::string> outputNames;
    // Scratch files a crash may have left, found by the one listing of each output folder in the
    // batch and not removed yet: folder -> the name they were drawn from -> their bare names. A
    // folder is listed once a batch, not once for every file made in it.
    std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>> scratchFound;

    // Tests: the reader leaves the point stream filled when it returns, instead of freeing it.
    bool keepPoints = false;

    // A new batch may replace the files of the previous one.
    void BeginBatch() {
        outputNames.clear();
        scratchFound.clear();
    }
    void Report(const std::string& line) { host.ReportLine(line); }
    double GeoidHeight(double lat, double lon) { return geoid ? geoid->GeoidHeight(lat, lon) : kNaN; }
    // Lets the message loop run, then raises AbortError when the user asked to stop.
    void PollAbort() {
        host.ProcessMessages();
        if (host.AbortRequested()) throw AbortError();
    }
};

// Reports a backward step of the log's time ("  Time goes back: ...") and asks for the report
// window at the end of the file. Equal or later times report nothing.
void CheckTimeGoesBack(EngineContext& ctx, double prevTime, double newTime);
// The step of the reader from the previous point of the block to (lat, lon) at run.NewTime:
// segment distance and azimuths, the running total, and the report when the time goes back.
void StepFromPrevious(EngineContext& ctx, double lat, double lon);
// A speed in knots from that step, for a log that holds none; a missing previous speed counts as 0.
double SpeedFromStep(EngineContext& ctx);
// Makes the stored point p the previous point of the next step.
void KeepAsPrevious(RunState& r, const TLogData& p);
// The geoid height N at a point being stored; NaN where the model has none, which is counted in
// GeoidOutsideCount.
double PointGeoid(EngineContext& ctx, double lat, double lon);
// Reports how many points of the file lay outside the geoid grid, when any did.
void ReportGeoidOutside(EngineContext& ctx);
// Reports that the input file name cannot be opened, in status panel 0 and the report; returns -1
// for the reader to give back.
int32_t ReportCantOpen(EngineContext& ctx, const std::string& name);
// Reports that the input file name could not be read to its end, and why, in status panel 0 and
// the report; returns -1 for the reader to give back.
int32_t ReportCantRead(EngineContext& ctx, const std::string& name, const std::string& why);
}  // namespace ts
