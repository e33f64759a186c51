// The CSV log reader (input kind 4): recognises the layout and device profile from the header, then
// turns each accepted row into a point, cutting blocks at time gaps. A log whose time runs
// backwards once in the middle is a ring: the rows after the step come first in time, and the
// stream's wrap point makes every writer read them first.
#pragma once

#include <string>

#include "core/context.h"
#include "readers/csv_profiles.h"

namespace ts {

// Reader contract: the output stage's result after reading points, 0 without accepted rows, -1
// when the file cannot be opened, on a read error or an abort, -2 for an unknown header.
int32_t ReadCsvLogFile(EngineContext& ctx, const std::string& fileName);

// The values of one data row.
struct CsvRow {
    double NewTime = 0;
    double Lat = 0, Lon = 0;
    double Height = kNaN;  // as logged (unit of the profile)
    double RowSpeed = 0;   // as logged (unit of the profile)
    double HDOP = 0;
    int32_t Sats = 99;
    float Temperature = kNaNf, Pressure = kNaNf, PressureAlt = kNaNf;
    std::string Voice;
    double CsvRowGeoid = kNaN;
    uint8_t Fix = 1;
    bool InterestTag = false, VoiceTag = false;
};

// The open file and its header, the row in hand and the buffers the rows are parsed in.
struct CsvRowSource {
    LineReader file;
    CsvHeader header;
    CsvRow row;
    int32_t recordCount = 0;  // records stored so far
    int32_t wrapPoint = 0;    // stored record that comes first in time; 0 while there is no wrap
    bool wrapAtRow = false;   // the row in hand is where the time ran back
    int32_t lineNumber = 0;   // of the line read last
    int32_t rowFields = 0;    // fields of the row accepted last; 0 before the first
    // Reused for every row, so that reading allocates nothing per row.
    CsvFields fields;
    std::string date, time, text, split;
};

struct CsvRowResult {
    bool RowAvailable = false;
    bool ContinuesBlock = false;
};

// Reads lines until one row is accepted or the file ends.
CsvRowResult ParseCsvDataLine(EngineContext& ctx, CsvRowSource& src);

}  // namespace ts
