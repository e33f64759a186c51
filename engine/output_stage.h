// After a reader filled the point stream and block table: chooses the blocks to write and runs
// the writers.
#pragma once

#include <string>

#include "context.h"

namespace ts {

// Returns the record count of the last writer that ran, -1 when it failed, 0 when nothing was
// selected or no output type is ticked.
int32_t MakeOutputFiles(EngineContext& ctx, const std::string& fileName);

}  // namespace ts
