// One log of a kind through the per-file driver, as a user's drop would run it, with the outputs
// the harness names; then every file made is checked.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "core/context.h"
#include "output_checks.h"
#include "readers/convert.h"

namespace fuzz {

enum Outputs : unsigned { kNmea = 1, kKmz = 2, kKml = 4, kGpx = 8, kCsv = 16 };

// Answers the block selector by keeping only the first few blocks: a log of thousands of tiny
// blocks would otherwise write thousands of files, and tell the fuzzer nothing more.
class CappedHost : public ts::RecordingHost {
public:
    explicit CappedHost(int maxBlocks) : max_(maxBlocks) {}
    void ReportLine(const std::string&) override {}
    bool SelectOutputBlocks(ts::BlockTable& blocks, const ts::PointStream&, const ts::TConversionOptions&,
                            int32_t&) override {
        int kept = 0;
        for (ts::TrackBlock& b : blocks.Items())
            if (b.Output && ++kept > max_) b.Output = false;
        return true;
    }

private:
    int max_;
};

// tune may change the options and lay files beside the log (in folders of its own); pictures are
// the bare names of those a KMZ may carry.
inline int RunLog(const uint8_t* data, size_t size, const std::string& ext, unsigned outputs, int maxBlocks = 2,
                  const std::function<void(ts::TConversionOptions&, const std::filesystem::path&)>& tune = {},
                  const std::set<std::string>& pictures = {}) {
    if (size > 64 * 1024) return 0;  // bigger logs add time, not paths
    const std::filesystem::path& dir = FreshScratch();
    const std::string inName = "in" + ext;
    WriteBytes(dir / inName, data, size);

    CappedHost host(maxBlocks);
    ts::EngineContext ctx(host);
    ctx.opt.NMEAout = outputs & kNmea;
    ctx.opt.KMZout = outputs & kKmz;
    ctx.opt.KMLout = outputs & kKml;
    ctx.opt.GPXout = outputs & kGpx;
    ctx.opt.CSVout = outputs & kCsv;
    ctx.opt.OutLimit = true;   // so that the block selector above is asked
    ctx.opt.AutoOffs = false;  // the same input converts the same way on every machine
    if (tune) tune(ctx.opt, dir);
    ts::ConvertFile(ctx, (dir / inName).string());
    CheckOutputs(dir, inName, pictures);
    return 0;
}

}  // namespace fuzz
