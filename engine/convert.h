// The per-file driver: classifies an input by its extension, runs the matching reader (which runs
// the output stage itself) and reports the outcome.
#pragma once

#include <string>

#include "context.h"

namespace ts {

// Input kinds.
enum InputKindId : int {
    ikNone = 0, ikNmea = 1, ikTks = 2, ikRbt3000 = 3, ikCsv = 4, ikTk1 = 5, ikTk2 = 6, ikTk3 = 7,
    ikTes = 8, ikM241 = 9, ikTripMate = 10, ikBarometer = 11
};

// The kind of a file from its extension (case-insensitive) under the options' file masks.
int DetectInputKind(const TConversionOptions& o, const std::string& fileName);

// The reader of a kind, or null when it has none.
ReaderFn ReaderForKind(int kind);

// Returns the file's outcome: the last writer's record count (> 0), 0 for no data or nothing
// selected, below 0 for a failure.
int32_t ConvertFile(EngineContext& ctx, const std::string& fileName);

}  // namespace ts
