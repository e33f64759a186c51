// After a reader filled the point stream and block table: chooses the blocks to write and runs
// the writers. Also the pieces every writer shares: output file names.
#pragma once

#include <string>

#include "core/context.h"

namespace ts {

// Returns the record count of the last writer that ran, -1 when it failed, 0 when nothing was
// selected or no output type is ticked. Sets ctx.writerFailed when any writer failed.
int32_t MakeOutputFiles(EngineContext& ctx, const std::string& fileName);

// Selects every block whole, or, with output limiting on and the same file and blocks as last
// time, restores the previous selection and ranges.
void PrepareBlockSelection(EngineContext& ctx, bool outLimit, const std::string& fileName);
bool AnyBlockSelected(const BlockTable& blocks);

// The local time of t as a file-name stamp, with the user's separators. Never holds a "/".
std::string FormatFileTimeStamp(const EngineContext& ctx, double t);
// Full path of base + stamp(start)[ + StartEndSep + stamp(end)] + ext.
std::string MakeOutputFileName(const EngineContext& ctx, const std::string& base, const std::string& ext, double start,
                               double end);
// The output file name (without ext) of a block of which count points were written, the last at
// lastTime. A block without a written point is named after its own range.
std::string BlockOutputFileName(const EngineContext& ctx, const std::string& folder, const TrackBlock& block,
                                int32_t count, double lastTime);
// Claims name + ext for an output file of the current batch. When an earlier file of the batch
// (of this input or another) already took it, "(2)", "(3)", ... goes before ext. Returns the name
// without ext.
std::string ClaimOutputName(EngineContext& ctx, const std::string& name, const std::string& ext);

// Appends a distance in metres as "%5.3f" in the unit of the speed shown: "mi" for mph, "NM" for
// kt, else "km".
void AppendDistanceText(std::string& out, const TConversionOptions& o, double metres);

}  // namespace ts
