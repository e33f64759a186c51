#include "output/output_stage.h"

#include <exception>
#include <filesystem>

#include "core/date_time.h"
#include "core/text_format.h"
#include "output/text_out.h"
#include "output/writers.h"

namespace ts {

void PrepareBlockSelection(EngineContext& ctx, bool outLimit, const std::string& fileName) {
    std::vector<TrackBlock>& blocks = ctx.blocks.Items();
    const std::vector<TrackBlock>& saved = ctx.SavedBlockTable.Items();
    bool restore = outLimit && fileName == ctx.LastInputName && ctx.blocks.LastBlockIndex() == ctx.LastBlockCount &&
                   blocks.size() == saved.size();
    for (size_t i = 0; restore && i < blocks.size(); ++i)
        restore = blocks[i].First == saved[i].First && blocks[i].Last == saved[i].Last;
    for (size_t i = 0; i < blocks.size(); ++i) {
        TrackBlock& b = blocks[i];
        if (restore) {
            const TrackBlock& s = saved[i];
            b.Output = s.Output;
            b.RangeFirst = s.RangeFirst;
            b.RangeLast = s.RangeLast;
            b.RangeStart = s.RangeStart;
            b.RangeEnd = s.RangeEnd;
        } else {
            b.Output = true;
            b.RangeFirst = b.First;
            b.RangeLast = b.Last;
            b.RangeStart = b.StartTime;
            b.RangeEnd = b.EndTime;
        }
    }
}

bool AnyBlockSelected(const BlockTable& blocks) {
    for (const TrackBlock& b : blocks.Items())
        if (b.Output) return true;
    return false;
}

namespace {

void ReplaceAll(std::string& s, char from, const std::string& to) {
    if (to.size() == 1 && to[0] == from) return;
    std::string r;
    r.reserve(s.size());
    for (char c : s) {
        if (c == from) r += to;
        else r += c;
    }
    s.swap(r);
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    size_t p = 0;
    while ((p = s.find(from, p)) != std::string::npos) {
        s.replace(p, from.size(), to);
        p += to.size();
    }
}

std::string ExpandFileName(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name), ec);
    if (ec) return name;
    return p.lexically_normal().string();
}

}  // namespace

std::string FormatFileTimeStamp(const EngineContext& ctx, double t) {
    const TConversionOptions& o = ctx.opt;
    const double local = ToLocalTime(t, o.TimeOffset);
    std::string s;
    if (IsDateless(t)) s = FormatDateTime("hh:nn:ss", local);
    else if (o.DateOnly) s = FormatDateTime(o.OutDateFormat, local);
    else s = FormatDateTime(o.OutDateFormat + "-hh:nn:ss", local);
    ReplaceAll(s, '-', o.DateTimeSep);
    ReplaceAll(s, ctx.locale.UserDateSep, o.DateSep);
    // The program's own date separator may be left by the date format: it must not split the path.
    ReplaceAll(s, '/', o.DateSep);
    ReplaceAll(s, ':', o.TimeSep);
    ReplaceAll(s, '/', std::string("-"));
    return s;
}

std::string MakeOutputFileName(const EngineContext& ctx, const std::string& base, const std::string& ext, double start,
                               double end) {
    std::string stamp = FormatFileTimeStamp(ctx, start);
    if (!ctx.opt.StartEndSep.empty()) stamp += ctx.opt.StartEndSep + FormatFileTimeStamp(ctx, end);
    ReplaceAll(stamp, std::string("\\s"), std::string(" "));
    return ExpandFileName(base + stamp + ext);
}

std::string BlockOutputFileName(const EngineContext& ctx, const std::string& folder, const TrackBlock& block,
                                int32_t count, double lastTime) {
    const double firstTime = count > 0 ? ctx.run.FirstTime : block.RangeStart;
    const double finalTime = count > 0 ? lastTime : block.RangeEnd;
    return MakeOutputFileName(ctx, folder, "", firstTime, finalTime);
}

std::string ClaimOutputName(EngineContext& ctx, const std::string& name, const std::string& ext) {
    std::string candidate = name;
    for (int k = 2; !ctx.outputNames.insert(candidate + ext).second; ++k)
        candidate = name + "(" + std::to_string(k) + ")";
    return candidate;
}

int32_t MakeOutputFiles(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    const TConversionOptions& o = ctx.opt;
    int32_t result = 0;
    PrepareBlockSelection(ctx, o.OutLimit, fileName);
    int32_t curBlock = 0;
    if (o.OutLimit) {
        const bool accepted = ctx.blocks.Count() == 1 ? host.SelectOutputRange(ctx.blocks, ctx.points, o, curBlock)
                                                      : host.SelectOutputBlocks(ctx.blocks, ctx.points, o, curBlock);
        if (!accepted || host.AbortRequested()) return 0;
        if (!AnyBlockSelected(ctx.blocks)) {
            host.MessageDlg(" Block has not been selected. ", MsgKind::Warning, mbOK, mbOK);
            return 0;
        }
    }

    const std::string folder = ExtractFilePath(fileName);
    const auto run = [&](auto&& writer) {
        try {
            result = writer();
        } catch (const std::exception& e) {
            // Writers end their own blocks on failure; whatever still escapes fails this writer only.
            ctx.Report(std::string("  ") + e.what());
            result = -1;
        }
        if (result < 0) ctx.writerFailed = true;
    };
    if (o.NMEAout) run([&] { return WriteNmeaFiles(ctx, folder, fileName); });
    if (o.KMZout) run([&] { return WriteKml(ctx, folder, true); });
    if (o.KMLout) run([&] { return WriteKml(ctx, folder, false); });
    if (o.GPXout) run([&] { return WriteGpx(ctx, folder); });
    if (o.CSVout) run([&] { return WriteCsv(ctx, folder, fileName); });

    ctx.LastInputName = fileName;
    ctx.LastBlockCount = ctx.blocks.LastBlockIndex();
    ctx.SavedBlockTable = ctx.blocks;
    return result;
}

void AppendDistanceText(std::string& out, const TConversionOptions& o, double metres) {
    if (o.SpeedUnit == "mph") {
        AppendFixed(out, metres / 1609.344, 3, 5);
        out.append("mi");
    } else if (o.SpeedUnit == "kt") {
        AppendFixed(out, metres / 1852, 3, 5);
        out.append("NM");
    } else {
        AppendFixed(out, metres / 1000, 3, 5);
        out.append("km");
    }
}

}  // namespace ts
