#include "readers/convert.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "core/text_format.h"
#include "readers/csv_reader.h"
#include "readers/m241_reader.h"
#include "readers/nmea_reader.h"
#include "readers/rbt3000_reader.h"
#include "readers/tks_reader.h"
#include "readers/wintec_reader.h"

namespace ts {

int DetectInputKind(const TConversionOptions& o, const std::string& fileName) {
    const std::string ext = LowerCase(ExtractFileExt(fileName));
    if (ext.size() < 2) return ikNone;  // no extension, or a bare "."
    // Each mask maps to its own kind, so an empty mask leaves the others where they are; the first
    // entry naming an extension wins.
    const std::pair<const std::string*, int> masks[] = {
        {&o.WBTmask, ikTks},    {&o.RBTmask, ikRbt3000}, {&o.iBluemask, ikCsv},
        {&o.WBT201mask, ikTk1}, {&o.WBT201mask2, ikTk2}, {&o.WBT201mask3, ikTk3},
        {&o.WBT202mask, ikTes}, {&o.Holuxmask, ikM241},  {&o.TripMatemask, ikTripMate}};
    if (ext == ".nme" || ext == ".nmea") return ikNmea;
    if (ext == ".log") return o.UseBarometer ? ikBarometer : ikNmea;
    for (const auto& [mask, kind] : masks)
        if (LowerCase(ExtractFileExt(*mask)) == ext) return kind;
    return ikNone;
}

ReaderFn ReaderForKind(int kind) {
    switch (kind) {
    case ikNmea:
    case ikTripMate:
    case ikBarometer: return ReadNmeaFile;
    case ikTks: return ReadTksFile;
    case ikTk1:
    case ikTk2:
    case ikTk3:
    case ikTes: return ReadWintecLogFile;
    case ikRbt3000: return ReadRbt3000File;
    case ikM241: return ReadM241File;
    case ikCsv: return ReadCsvLogFile;
    default: return nullptr;
    }
}

namespace {

std::string ExpandFileName(const std::string& name) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name), ec);
    if (ec) return name;
    return p.lexically_normal().string();
}

int32_t RunReader(EngineContext& ctx, const std::string& fileName) {
    const int kind = DetectInputKind(ctx.opt, fileName);
    ctx.inputKind = kind;
    auto lookup = ctx.readerLookup ? ctx.readerLookup : ReaderForKind;
    ReaderFn reader = lookup(kind);
    if (!reader) return 0;
    int32_t result = reader(ctx, fileName);
    if (kind == ikRbt3000 && result < -1 && LowerCase(ExtractFileExt(ctx.opt.RBTmask)) == ".txt") {
        ctx.Report("Try NMEA mode :");
        if (ReaderFn nmea = lookup(ikNmea)) result = nmea(ctx, fileName);
        else result = 0;
    }
    return result;
}

}  // namespace

int32_t ConvertFile(EngineContext& ctx, const std::string& fileNameIn) {
    Host& host = ctx.host;
    ctx.compactOutput = ctx.opt.NoTab;
    host.showReportAtEnd = false;
    host.SetStatus(0, "");
    host.SetStatus(1, "");

    const bool blank = Trim(fileNameIn).empty();
    const std::string fileName = blank ? fileNameIn : ExpandFileName(fileNameIn);
    const std::string shortName = ExtractFileName(fileName);
    ctx.Report("Path: " + ExtractFilePath(fileName) + "\r\nFile: " + shortName);

    host.ReadConversionOptions(ctx.opt);
    ctx.compactOutput = ctx.opt.NoTab;
    if (blank || host.AbortRequested()) return 0;

    host.SetBusyCursor(true);
    ctx.points.Clear();
    ctx.writerFailed = false;
    int32_t result = 0;

    ctx.geoidCorrection = ctx.opt.GeoidApply;
    const std::string& postFix = ctx.opt.PostFix;
    const std::string stem = PathWithoutExt(fileName);
    if (!postFix.empty() && stem.size() >= postFix.size() &&
        stem.compare(stem.size() - postFix.size(), postFix.size(), postFix) == 0)
        ctx.geoidCorrection = false;

    try {
        result = RunReader(ctx, fileName);
    } catch (const std::exception& e) {
        // Readers handle their own failures; anything that still escapes ends this file only.
        ctx.Report(std::string("  ") + e.what());
        result = -1;
    }
    host.SetBusyCursor(false);

    if (result > 0 && ctx.writerFailed) result = -1;
    if (result > 0) {
        std::string s = "  *** Completed: " + shortName + "  " + std::to_string(result) + " records ***  " +
                        std::to_string(host.filesMade) + " file";
        if (host.filesMade > 1) s += "s";
        host.SetStatus(0, s);
    } else if (result == 0) {
        ctx.Report("  *** No data ***");
        host.SetStatus(0, " " + shortName + "  *** No data ***");
    } else {
        ctx.Report("  *** Error!! ***");
        host.SetStatus(0, " <<Error!!>> " + host.Status(0));
    }
    ctx.Report("");
    if (host.showReportAtEnd && !host.AbortRequested()) host.ShowReport();
    return result;
}

}  // namespace ts
