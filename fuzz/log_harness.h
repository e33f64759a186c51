// One log of a kind through the per-file driver, as a user's drop would run it, with the outputs
// the harness names; then every file made is checked.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "core/context.h"
#include "core/ordered_chunks.h"
#include "output_checks.h"
#include "readers/convert.h"
#include "readers/nmea_reader.h"

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

    ts::TConversionOptions opt;
    opt.NMEAout = outputs & kNmea;
    opt.KMZout = outputs & kKmz;
    opt.KMLout = outputs & kKml;
    opt.GPXout = outputs & kGpx;
    opt.CSVout = outputs & kCsv;
    opt.OutLimit = true;   // so that the block selector above is asked
    opt.AutoOffs = false;  // the same input converts the same way on every machine
    if (tune) tune(opt, dir);
    auto convert = [&] {
        CappedHost host(maxBlocks);
        ts::EngineContext ctx(host);
        ctx.opt = opt;
        ts::ConvertFile(ctx, (dir / inName).string());
    };
    convert();
    CheckOutputs(dir, inName, pictures);

    // The writers' threaded road (tiny chunks on two threads) must make the same files. A KMZ
    // holds the time it was made, so only the other outputs are compared.
    std::map<std::string, std::string> made;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n == inName || e.is_directory()) continue;
        if (e.path().extension() != ".kmz") made[n] = ReadBytes(e.path());
        std::filesystem::remove(e.path());
    }
    const ts::ChunkSettings saved = ts::WriterChunking();
    ts::WriterChunking() = ts::ChunkSettings{static_cast<int64_t>(1 + size % 700), 2, 1};
    convert();
    ts::WriterChunking() = saved;
    std::map<std::string, std::string> again;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n != inName && !e.is_directory() && e.path().extension() != ".kmz") again[n] = ReadBytes(e.path());
    }
    if (again != made) Fail("the writers' threaded road made other files than the single road");
    return 0;
}

// Every field of a point, bit for bit.
inline bool SameBits(const ts::TLogData& a, const ts::TLogData& b) {
    auto d = [](double x) { return std::bit_cast<uint64_t>(x); };
    auto f = [](float x) { return std::bit_cast<uint32_t>(x); };
    return d(a.Time) == d(b.Time) && d(a.Lat) == d(b.Lat) && d(a.Lon) == d(b.Lon) && d(a.Alt) == d(b.Alt) &&
           d(a.Speed) == d(b.Speed) && a.Hdop10 == b.Hdop10 && a.Sats == b.Sats && f(a.GeoidSep) == f(b.GeoidSep) &&
           f(a.Pressure) == f(b.Pressure) && f(a.Temperature) == f(b.Temperature) &&
           f(a.PressureAlt) == f(b.PressureAlt) && a.Flags == b.Flags && a.FixQuality == b.FixQuality &&
           a.VoiceName == b.VoiceName;
}

// An NMEA log read on the threaded road (two workers, the file cut into small chunks) must give what
// the single road gives: result, report, messages, blocks and every point.
inline void CheckNmeaReadingRoadsAgree(const uint8_t* data, size_t size, const std::string& ext) {
    if (size > 64 * 1024) return;
    const std::filesystem::path& dir = FreshScratch();
    const std::string name = (dir / ("in" + ext)).string();
    WriteBytes(name, data, size);
    struct Run {
        ts::RecordingHost host;
        ts::EngineContext ctx{host};
        int32_t result = 0;
    } runs[2];
    const ts::NmeaThreading saved = ts::NmeaReadThreading();
    for (int road = 0; road < 2; ++road) {
        Run& r = runs[road];
        r.ctx.opt.NMEAout = r.ctx.opt.KMZout = r.ctx.opt.KMLout = r.ctx.opt.GPXout = r.ctx.opt.CSVout = false;
        r.ctx.opt.AutoOffs = false;
        ts::NmeaReadThreading() = road == 0 ? ts::NmeaThreading{} : ts::NmeaThreading{0, 2, 1 + size % 509};
        r.result = ts::ConvertFile(r.ctx, name);
    }
    ts::NmeaReadThreading() = saved;
    const Run &a = runs[0], &b = runs[1];
    bool same = a.result == b.result && a.host.lines == b.host.lines && a.host.messages == b.host.messages &&
                a.ctx.points.Count() == b.ctx.points.Count() &&
                a.ctx.blocks.Items().size() == b.ctx.blocks.Items().size();
    for (size_t i = 0; same && i < a.ctx.blocks.Items().size(); ++i)
        same = a.ctx.blocks.Items()[i].First == b.ctx.blocks.Items()[i].First &&
               a.ctx.blocks.Items()[i].Last == b.ctx.blocks.Items()[i].Last;
    for (int32_t i = 0; same && i < a.ctx.points.Count(); ++i) same = SameBits(a.ctx.points.At(i), b.ctx.points.At(i));
    if (!same) {
        std::fprintf(stderr, "the threaded NMEA reading differs from the single road\n");
        std::abort();
    }
}

}  // namespace fuzz
