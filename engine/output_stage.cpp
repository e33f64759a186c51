#include "output_stage.h"

namespace ts {

int32_t MakeOutputFiles(EngineContext& ctx, const std::string& /*fileName*/) {
    // No writer exists yet: every block is selected whole and nothing is written.
    for (TrackBlock& b : ctx.blocks.Items()) {
        b.Output = true;
        b.RangeFirst = b.First;
        b.RangeLast = b.Last;
        b.RangeStart = b.StartTime;
        b.RangeEnd = b.EndTime;
    }
    return 0;
}

}  // namespace ts
