#include "readers/m241_reader.h"

#include <sys/stat.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "core/date_time.h"
#include "core/file_open.h"
#include "core/geodesy.h"
#include "core/text_format.h"
#include "output/output_stage.h"
#include "readers/line_reader.h"

namespace ts {

namespace {

constexpr size_t kProbeBytes = 100;
constexpr size_t kMaxRecord = 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t U32At(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
double F32At(const uint8_t* p) { return std::bit_cast<float>(U32At(p)); }

// One taken record, in the units of the file.
struct M241Record {
    double time = 0;  // date-time
    double lat = 0;   // folded back into -90..90 for interest points
    double lon = 0;
    double alt = kNaN;  // metres
    double kmh = kNaN;  // 20-byte records only; NaN when none
    bool interest = false;
};

// Decodes one record of `size` bytes; false when it is not taken. A record without a speed is
// taken whatever its check byte says (the logger leaves such records unchecked), but never with a
// position or altitude that is not a number.
bool DecodeM241Record(const uint8_t* r, size_t size, M241Record& out) {
    uint8_t x = 0;
    for (size_t i = 0; i < size; ++i) x ^= r[i];
    const double kmh = size == 20 ? F32At(r + 15) : kNaN;
    const bool noSpeed = !std::isfinite(kmh);
    if (x != 0 && !(size == 20 && noSpeed)) return false;
    // The altitude is a float whose lowest byte is not stored.
    const uint8_t altBytes[4] = {0, r[12], r[13], r[14]};
    double lat = F32At(r + 4);
    const double lon = F32At(r + 8), alt = F32At(altBytes);
    if (!std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(alt)) return false;
    // Interest points are stored 100 degrees further from zero.
    out.interest = false;
    if (lat < -90) {
        lat += 100;
        out.interest = true;
    } else if (lat > 90) {
        lat -= 100;
        out.interest = true;
    }
    if (!OnTheGlobe(lat, lon)) return false;
    // Unsigned: the logger writes no time before 1970, and this keeps times after 2038.
    out.time = UnixTimeToDateTime(U32At(r));
    out.lat = lat;
    out.lon = lon;
    out.alt = alt;
    out.kmh = noSpeed ? kNaN : kmh;
    return true;
}

class M241Log {
public:
    M241Log(EngineContext& ctx, std::FILE* f, size_t size) : ctx_(ctx), f_(f), size_(size) {
        struct stat st {};
        if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode)) fileSize_ = st.st_size;
    }

    bool EndOfFile() const { return eof_; }

    // Reads the next taken record into rec. False at the end of the data (a record cut short by
    // the end of the file is not read) and when rec lies more than the split time after the
    // previous stored point: a new block begins with it.
    bool ReadM241Record(M241Record& rec) {
        uint8_t buf[kMaxRecord];
        for (;;) {
            const size_t got = std::fread(buf, 1, size_, f_);
            read_ += static_cast<int64_t>(got);
            if (got < size_) {
                if (std::ferror(f_)) throw ReadError(ReadFailReason(errno != 0 ? errno : EIO));
                // Ended before the size the file had when opened: it was cut meanwhile.
                if (read_ < fileSize_) throw ReadError(ReadFailReason(0));
                eof_ = true;
                return false;
            }
            if (DecodeM241Record(buf, size_, rec)) break;
        }
        // Times are whole seconds: the slack keeps a gap of exactly the split time in the block
        // whatever the rounding of the day fractions.
        return !(rec.time - ctx_.run.PrevTime > ctx_.opt.SplitTime / 1440.0 + kOneMs / 2);
    }

private:
    EngineContext& ctx_;
    std::FILE* f_;
    size_t size_;
    int64_t fileSize_ = 0, read_ = 0;
    bool eof_ = false;
};

struct StoreState {
    int32_t n = 0;  // points stored
    int32_t k = 0;  // points stored in the current block
};

void StoreRecord(EngineContext& ctx, const M241Record& rec, StoreState& st) {
    RunState& r = ctx.run;
    ++st.n;
    r.NewTime = rec.time;
    double speed = rec.kmh / kKnotKmh;
    if (st.k > 0) {
        StepFromPrevious(ctx, rec.lat, rec.lon);
        if (std::isnan(speed)) speed = SpeedFromStep(ctx);
    } else {
        if (std::isnan(speed)) speed = 0;
        r.FirstTime = r.NewTime;
        r.SegmentDistance = 0;
        r.TotalDistance = 0;
        ctx.blocks.Open(st.n - 1, r.NewTime);
    }

    double alt = rec.alt;
    float geoidSep = kNaNf;
    if (ctx.geoidCorrection) {
        const double N = PointGeoid(ctx, rec.lat, rec.lon);
        if (!std::isnan(N)) {
            alt -= N;
            geoidSep = ToSingle(N);
        }
    }

    TLogData& p = r.CurrentPoint;
    p.Time = r.NewTime;
    p.Lat = rec.lat;
    p.Lon = rec.lon;
    p.Alt = alt;
    p.Speed = speed;
    p.Hdop10 = 0;
    p.Sats = 99;
    p.GeoidSep = geoidSep;
    p.Pressure = p.Temperature = p.PressureAlt = kNaNf;
    p.Flags = rec.interest ? InterestPoint : 0;
    p.FixQuality = 1;
    p.VoiceName.clear();
    ctx.points.Append(p);
    ++st.k;
    KeepAsPrevious(r, p);
    if (st.k % 512 == 0) ctx.PollAbort();
}

}  // namespace

double UnixTimeToDateTime(double seconds) { return seconds / 86400.0 + 25569.0; }

bool DetectM241RecordSize(const uint8_t* data, size_t n) {
    if (n > kProbeBytes) n = kProbeBytes;
    uint8_t x16 = 0, x20 = 0;
    int good16 = 0, good20 = 0;
    for (size_t i = 1; i <= n; ++i) {
        x16 ^= data[i - 1];
        x20 ^= data[i - 1];
        if (i % 16 == 0) {
            if (x16 == 0) ++good16;
            x16 = 0;
        }
        if (i % 20 == 0) {
            if (x20 == 0) ++good20;
            x20 = 0;
        }
    }
    return good20 > good16;
}

int32_t ReadM241File(EngineContext& ctx, const std::string& fileName) {
    Host& host = ctx.host;
    const std::string name = ExtractFileName(fileName);
    FilePtr file(OpenRegularStream(fileName));
    if (!file) return ReportCantOpen(ctx, name);
    const std::string ext = ExtractFileExt(name);
    host.SetStatus(0, " " + name + "  Reading " + (ext.empty() ? ext : ext.substr(1)) + " file ...");
    host.ProcessMessages();

    uint8_t probe[kProbeBytes];
    const size_t probed = std::fread(probe, 1, sizeof probe, file.get());
    if (std::ferror(file.get())) return -1;
    if (probed < 16) {
        host.SetStatus(0, "  Data empties : " + name);
        ctx.Report("  Data empties : " + name);
        return 0;
    }
    const size_t size = DetectM241RecordSize(probe, probed) ? 20 : 16;
    if (ctx.geoidCorrection) ctx.Report("  Geoid model: " + ctx.opt.GeoidCaption);

    int32_t result = -1;
    try {
        if (std::fseek(file.get(), 0, SEEK_SET) != 0) throw std::runtime_error("cannot rewind");
        ctx.points.Clear();
        ctx.blocks.Clear();
        ctx.run.GeoidOutsideCount = 0;
        M241Log log(ctx, file.get(), size);
        StoreState st;
        M241Record rec;
        log.ReadM241Record(rec);
        while (!log.EndOfFile()) {
            st.k = 0;
            do {
                StoreRecord(ctx, rec, st);
            } while (log.ReadM241Record(rec));
            ctx.blocks.Close(st.n - 1, ctx.run.PrevTime);
        }

        ctx.Report("  M-241:   " + std::to_string(st.n) + " records");
        host.SetStatus(1, host.Status(1) + "  " + std::to_string(st.n) + "rec.");
        ReportGeoidOutside(ctx);
        result = st.n > 0 ? MakeOutputFiles(ctx, fileName) : 0;
    } catch (const ReadError& err) {
        result = ReportCantRead(ctx, name, err.what());
    } catch (const std::exception&) {
        result = -1;
    }
    if (!ctx.keepPoints) ctx.points = PointStream();
    return result;
}

}  // namespace ts
