// The per-file driver: classifies an input by its extension, runs the matching reader (which runs
// the output stage itself) and reports the outcome.
#pragma once

#include <string>

#include "core/context.h"

namespace ts {

// The kind of a file from its extension (case-insensitive) under the options' file masks.
int DetectInputKind(const TConversionOptions& o, const std::string& fileName);

// The reader of a kind, or null when it has none.
ReaderFn ReaderForKind(int kind);

// Returns the file's outcome: the last writer's record count (> 0), 0 for no data or nothing
// selected, below 0 for a failure.
int32_t ConvertFile(EngineContext& ctx, const std::string& fileName);

}  // namespace ts
