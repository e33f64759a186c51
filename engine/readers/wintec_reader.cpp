#include "readers/wintec_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/text_format.h"
#include "output/output_stage.h"

namespace ts {

namespace {

constexpr int64_t kHeaderSize = 1024;

class WintecSource : public LoggerRecordSource {
public:
    explicit WintecSource(RecordFile& f) : file_(f) {}
    RecordKind Next(LoggerRecord& rec) override {
        unsigned char b[RecordFile::kRecordSize];
        while (file_.NextRecord(b)) {
            const uint16_t flags = GetU16(b);
            const uint32_t packed = GetU32(b + 2);
            const int32_t lat = GetI32(b + 6), lon = GetI32(b + 10);
            const int16_t alt = GetI16(b + 14);
            if (packed == 0 && lat == 0 && lon == 0 && alt == 0) continue;  // blank, whatever its flags
            rec.time = WintecTimeToDateTime(packed);
            rec.lat = lat / 1e7;
            rec.lon = lon / 1e7;
            rec.alt = alt;
            rec.temperature = rec.pressure = kNaNf;
            // An interest point: moved 100 degrees out for the fold, which marks it.
            if (flags & 2) rec.lat += rec.lat >= 0 ? 100 : -100;
            if (flags >= 4) {
                rec.temperature = static_cast<float>((flags >> 2 & 0x1F) * 2 - 10);
                rec.pressure = static_cast<float>((flags >> 7) + 589);
            }
            return flags & 1 ? RecordKind::NewTrack : RecordKind::Point;
        }
        return RecordKind::End;
    }

private:
    RecordFile& file_;
};

struct HeaderLayout {
    const char* signature;
    int nameOffset;
    int countOffset;
};
constexpr HeaderLayout kLayouts[] = {
    {"WINTECLOGFORMAT", 40, 32},
    {"WINTECLOGTK2", 30, 460},
    {"WINTECLOGTK3", 30, 493},
};

}  // namespace

std::string BytesToNameString(const unsigned char* bytes, size_t count) {
    const unsigned char* end = std::find(bytes, bytes + count, 0);
    return UpperCase(std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes)));
}

int32_t CheckWintecLogHeader(RecordFile& file, std::string& deviceName) {
    unsigned char h[kHeaderSize];
    const size_t got = file.ReadAt(0, h, sizeof h);
    // The signature must end with a zero byte within its 16 bytes.
    const size_t sigLen = std::min<size_t>(got, 16);
    if (std::find(h, h + sigLen, 0) == h + sigLen) return 0;
    const std::string sig = BytesToNameString(h, sigLen);
    for (const HeaderLayout& l : kLayouts) {
        if (sig != l.signature) continue;
        const size_t nameAt = static_cast<size_t>(l.nameOffset);
        const std::string dev =
            got > nameAt ? BytesToNameString(h + nameAt, std::min<size_t>(8, got - nameAt)) : std::string();
        if (dev == "WBT201") deviceName = "WBT-201";
        else if (dev == "WSG1000") deviceName = "WSG-1000";
        else if (Trim(dev).empty()) deviceName = "Unknown";
        else deviceName = dev;
        const size_t countAt = static_cast<size_t>(l.countOffset);
        if (got < countAt + 4) return 0;
        return GetI32(h + countAt);
    }
    return 0;
}

int32_t ReadWintecLogFile(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    const std::string name = ExtractFileName(fileName);
    RecordFile file;
    if (!file.Open(fileName)) return ReportCantOpen(ctx, name);
    const std::string ext = ExtractFileExt(fileName);
    const std::string extText = ext.empty() ? ext : ext.substr(1);
    host.SetStatus(0, " " + name + "  Reading " + extText + " file ...");
    host.ProcessMessages();

    int32_t result = -1;
    try {
        std::string device;
        int64_t start = 0, end = 0;
        if (UpperCase(extText) == "TES") {
            device = "WBT-202";
            end = file.Size() / RecordFile::kRecordSize * RecordFile::kRecordSize;
        } else {
            const int32_t count = CheckWintecLogHeader(file, device);
            if (count < 1) {
                host.SetStatus(0, "  Not WBT-201, WSG-100 Logfile : " + name);
                ctx.Report("  Not WBT-201, WSG-100 Logfile : " + name);
                return -2;
            }
            start = kHeaderSize;
            end = kHeaderSize + int64_t{RecordFile::kRecordSize} * count;
        }
        if (ctx.geoidCorrection && ctx.opt.GeoidApply) ctx.Report("  Geoid designation value was ignored.");

        WintecSource src(file);
        result = ConvertLoggerArea(ctx, file, start, end, src, device, fileName);
    } catch (const ReadError& err) {
        result = ReportCantRead(ctx, name, err.what());
    } catch (const std::exception&) {
        result = -1;
    }
    if (!ctx.keepPoints) ctx.points = PointStream();
    return result;
}

}  // namespace ts
