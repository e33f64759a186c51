#include "readers/tks_reader.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>
#include <limits>
#include <stdexcept>

#include <sys/stat.h>

#include <cerrno>

#include "core/date_time.h"
#include "core/file_open.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_stage.h"
#include "readers/line_reader.h"

namespace ts {

double TksTimeToDateTime(uint32_t packed) {
    const int second = static_cast<int>(packed & 0x3F);
    const int minute = static_cast<int>(packed >> 6 & 0x3F);
    const int hour = static_cast<int>(packed >> 12 & 0x1F);
    const int day = static_cast<int>(packed >> 17 & 0x1F);
    const int month = static_cast<int>(packed >> 22 & 0x0F);
    const int year = 2000 + static_cast<int>(packed >> 26);
    double date;
    if (hour > 23 || minute > 59 || second > 59 || !TryEncodeDate(year, month, day, date)) return 0.0;
    return date + EncodeTime(hour, minute, second, 0);
}

bool RecordFile::Open(const std::string& path) {
    Close();
    // Only a plain file has the size the data area is measured by (not a folder, not a pipe).
    f_ = OpenRegularStream(path);
    if (!f_) return false;
    if (fseeko(f_, 0, SEEK_END) != 0 || (size_ = ftello(f_)) < 0 || fseeko(f_, 0, SEEK_SET) != 0) {
        Close();
        return false;
    }
    pos_ = end_ = 0;
    return true;
}

void RecordFile::Close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    size_ = pos_ = end_ = 0;
}

size_t RecordFile::ReadAt(int64_t offset, unsigned char* buf, size_t n) {
    if (!f_ || offset < 0 || offset >= size_) return 0;
    if (fseeko(f_, offset, SEEK_SET) != 0) throw std::runtime_error("seek failed");
    const size_t got = std::fread(buf, 1, n, f_);
    if (got < n && std::ferror(f_)) throw ReadError(ReadFailReason(errno != 0 ? errno : EIO));
    // Short before the size the file had when opened: it was cut meanwhile.
    if (got < n && offset + static_cast<int64_t>(got) < size_) throw ReadError(ReadFailReason(0));
    pos_ = offset + static_cast<int64_t>(got);
    return got;
}

void RecordFile::SetDataArea(int64_t start, int64_t end) {
    pos_ = std::max<int64_t>(start, 0);
    end_ = std::min(end, size_);
    if (f_ && pos_ < end_ && fseeko(f_, pos_, SEEK_SET) != 0) throw std::runtime_error("seek failed");
}

bool RecordFile::NextRecord(unsigned char (&rec)[kRecordSize]) {
    if (!f_ || end_ - pos_ < kRecordSize) return false;
    const size_t got = std::fread(rec, 1, kRecordSize, f_);
    if (got < kRecordSize) {
        if (std::ferror(f_)) throw ReadError(ReadFailReason(errno != 0 ? errno : EIO));
        throw ReadError(ReadFailReason(0));  // the data area lay within the file when opened
    }
    pos_ += kRecordSize;
    return true;
}

bool FoldLatitude(double& lat) {
    bool folded = false;
    while (lat < -90) {
        lat += 100;
        folded = true;
    }
    while (lat > 90) {
        lat -= 100;
        folded = true;
    }
    return folded;
}

namespace {

// The next record whose folded position lies on the globe. Others are dropped as records without
// a position; a new track that one of them began starts at the next record kept.
RecordKind NextOnTheGlobe(LoggerRecordSource& src, LoggerRecord& rec) {
    bool newTrack = false;
    for (;;) {
        const RecordKind kind = src.Next(rec);
        if (kind == RecordKind::End) return kind;
        newTrack = newTrack || kind == RecordKind::NewTrack;
        double lat = rec.lat;
        FoldLatitude(lat);
        if (OnTheGlobe(lat, rec.lon)) return newTrack ? RecordKind::NewTrack : kind;
    }
}

}  // namespace

int32_t BuildLoggerTrack(EngineContext& ctx, LoggerRecordSource& src) {
    RunState& r = ctx.run;
    TLogData& p = r.CurrentPoint;
    LoggerRecord rec;
    int32_t n = 0;
    double prevKmh = 0;  // the previous point's speed as computed, km/h
    RecordKind kind = NextOnTheGlobe(src, rec);
    while (kind != RecordKind::End) {
        int32_t k = 0;
        do {
            // The stream numbers its records in 32 bits.
            if (n == std::numeric_limits<int32_t>::max()) throw std::length_error("too many points");
            ++n;
            double lat = rec.lat;
            const uint8_t flags = FoldLatitude(lat) ? InterestPoint : 0;
            r.NewTime = rec.time;
            double kmh;
            if (k > 0) {
                StepFromPrevious(ctx, lat, rec.lon);
                kmh = SpeedFromDistance(rec.time, r.PrevTime, r.SegmentDistance, prevKmh, ctx.opt.Accel_g);
            } else {
                kmh = 0;
                r.FirstTime = rec.time;
                r.SegmentDistance = r.TotalDistance = 0;
                ctx.blocks.Open(n - 1, rec.time);
            }

            // The loggers store heights above the geoid already: the model's value is only noted.
            const float geoidSep = ctx.geoidCorrection ? ToSingle(ctx.GeoidHeight(lat, rec.lon)) : kNaNf;

            p.Time = rec.time;
            p.Lat = lat;
            p.Lon = rec.lon;
            p.Alt = rec.alt;
            p.Speed = kmh / kKnotKmh;
            p.Hdop10 = 0;
            p.Sats = 99;
            p.GeoidSep = geoidSep;
            p.Pressure = rec.pressure;
            p.Temperature = rec.temperature;
            p.PressureAlt = kNaNf;
            p.Flags = flags;
            p.FixQuality = 1;
            p.VoiceName.clear();
            ctx.points.Append(p);
            ++k;
            KeepAsPrevious(r, p);
            prevKmh = kmh;
            if (k % 512 == 0) ctx.PollAbort();
            kind = NextOnTheGlobe(src, rec);
        } while (kind == RecordKind::Point);
        ctx.blocks.Close(n - 1, r.PrevTime);
    }
    return n;
}

namespace {

class TksSource : public LoggerRecordSource {
public:
    explicit TksSource(RecordFile& f) : file_(f) {}
    RecordKind Next(LoggerRecord& rec) override {
        unsigned char b[RecordFile::kRecordSize];
        while (file_.NextRecord(b)) {
            if (std::all_of(std::begin(b), std::end(b), [](unsigned char c) { return c == 0; })) continue;
            rec.time = TksTimeToDateTime(GetU32(b));
            rec.lat = GetI32(b + 4) / 1e7;
            rec.lon = GetI32(b + 8) / 1e7;
            rec.alt = GetI32(b + 12) / 10.0;
            rec.temperature = rec.pressure = kNaNf;
            if (std::fabs(rec.lat) < 100) return RecordKind::Point;
            // A new track: its latitude is stored 100 degrees out; the fold brings it back and makes
            // the point an interest point.
            rec.lat += rec.lat >= 0 ? 100 : -100;
            return RecordKind::NewTrack;
        }
        return RecordKind::End;
    }

private:
    RecordFile& file_;
};

}  // namespace

// Room for the points of a data area, within reason: a huge file of blank records must not claim
// memory for points it does not hold.
void ReservePoints(EngineContext& ctx, int64_t dataBytes) {
    const int64_t records = std::max<int64_t>(dataBytes, 0) / RecordFile::kRecordSize;
    ctx.points.Reserve(static_cast<size_t>(std::min<int64_t>(records, int64_t{1} << 20)));
}

int32_t ConvertLoggerArea(EngineContext& ctx, RecordFile& file, int64_t start, int64_t end, LoggerRecordSource& src,
                          const std::string& device, const std::string& fileName) {
    ctx.points.Clear();
    ctx.blocks.Clear();
    ctx.run.GeoidOutsideCount = 0;
    file.SetDataArea(start, end);
    ReservePoints(ctx, std::min(end, file.Size()) - start);
    const int32_t n = BuildLoggerTrack(ctx, src);
    ctx.Report("  " + device + ":   " + std::to_string(n) + " records");
    Host& host = ctx.host;
    host.SetStatus(1, host.Status(1) + "  Read:" + std::to_string(n) + "rec.");
    return n > 0 ? MakeOutputFiles(ctx, fileName) : 0;
}

int32_t ReadTksFile(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    const std::string name = ExtractFileName(fileName);
    RecordFile file;
    if (!file.Open(fileName)) return ReportCantOpen(ctx, name);
    if (ctx.geoidCorrection) ctx.Report("  Geoid designation value was ignored.");
    host.SetStatus(0, " " + name + "  Reading TKS file ...");
    host.ProcessMessages();

    int32_t result = -1;
    try {
        TksSource src(file);
        result = ConvertLoggerArea(ctx, file, 0, file.Size(), src, "WBT-100,200", fileName);
    } catch (const ReadError& err) {
        result = ReportCantRead(ctx, name, err.what());
    } catch (const std::exception&) {
        result = -1;
    }
    if (!ctx.keepPoints) ctx.points = PointStream();
    return result;
}

}  // namespace ts
