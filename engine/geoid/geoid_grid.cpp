#include "geoid/geoid_grid.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <limits>

#include "core/file_open.h"

namespace ts {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();
// Grid coordinates beyond this are far outside any grid; checked before truncating to integers.
constexpr double kCoordLimit = 1e9;

float DecodeNode(const unsigned char* b) {
    const uint32_t u = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    const float v = std::bit_cast<float>(u);
    // Grid files flag holes with values such as 999.
    if (std::isnan(v) || std::fabs(v) >= 200.0f) return kMissing;
    return v;
}

}  // namespace

bool ReadAt(int fd, int64_t offset, unsigned char* buf, size_t count) {
    if (offset < 0) return false;
    size_t done = 0;
    while (done < count) {
        const ssize_t r = ::pread(fd, buf + done, count - done, static_cast<off_t>(offset + int64_t(done)));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

double GridStepsPer100(double step) {
    if (!std::isfinite(step) || !(step > 0)) return 0;
    const double v = 100.0 / step;
    if (!(v < kCoordLimit)) return 0;
    // Ties to even, independent of the floating-point rounding mode.
    double r = std::floor(v);
    const double frac = v - r;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
    return r;
}

std::string CheckGeoidGeometry(const GeoidGridGeometry& g) {
    if (!std::isfinite(g.LatMin) || !std::isfinite(g.LonMin)) return "grid origin is not a number";
    if (GridStepsPer100(g.DLat) < 1 || GridStepsPer100(g.DLon) < 1) return "grid step is not usable";
    if (g.NRows <= 0 || g.NCols <= 0) return "grid has no rows or columns";
    if (g.HeaderOffset < 0 || int64_t(g.Stride) < int64_t(g.NCols) + g.HeaderOffset)
        return "grid rows do not hold their nodes";
    return {};
}

bool GeoidGrid::Open(const std::string& path, const GeoidGridGeometry& g, std::string* why, int64_t trailerBytes) {
    Close();
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        if (why) *why = "cannot open";
        return false;
    }
    return Adopt(fd, g, why, trailerBytes);
}

bool GeoidGrid::Adopt(int fd, const GeoidGridGeometry& g, std::string* why, int64_t trailerBytes) {
    Close();
    fd_ = fd;
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        Close();
        return false;
    };
    if (fd_ < 0) return fail("cannot open");
    if (std::string bad = CheckGeoidGeometry(g); !bad.empty()) return fail(bad);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a regular file");
    const int64_t words = int64_t(g.NRows) * int64_t(g.Stride);  // both below 2^31: no overflow
    if (words > (int64_t(st.st_size) - trailerBytes) / 4 || words * 4 + trailerBytes != int64_t(st.st_size))
        return fail("file size does not match the grid");

    g_ = g;
    kLat_ = GridStepsPer100(g.DLat);
    kLon_ = GridStepsPer100(g.DLon);
    latMax_ = g.LatMin + (g.NRows - 1) / (kLat_ / 100.0);
    lonMax_ = g.LonMin + g.NCols / (kLon_ / 100.0);
    // The columns wrap when they span the whole circle, wherever the western edge lies.
    global_ = std::fabs((lonMax_ - g.LonMin) - 360.0) <= 1e-5;
    if (why) why->clear();
    return true;
}

void GeoidGrid::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    g_ = GeoidGridGeometry{};
    kLat_ = kLon_ = latMax_ = lonMax_ = 0;
    global_ = false;
}

float GeoidGrid::GeoidGridNode(int32_t row, int32_t col) const {
    if (fd_ < 0) return kMissing;
    int64_t c = col;
    if (global_) {
        if (c < 0) c += g_.NCols;
        else if (c >= g_.NCols) c -= g_.NCols;
    }
    if (row < 0 || row >= g_.NRows || c < 0 || c >= g_.NCols) return kMissing;
    unsigned char b[4];
    const int64_t offset = (c + int64_t(g_.Stride) * row + g_.HeaderOffset) * 4;
    if (!ReadAt(fd_, offset, b, 4)) return kMissing;
    return DecodeNode(b);
}

bool GeoidGrid::ReadRun(int32_t row, int32_t col, int count, float* out) const {
    if (fd_ < 0 || row < 0 || row >= g_.NRows || col < 0 || int64_t(col) + count > g_.NCols) return false;
    unsigned char b[4 * kSplineOrder];
    if (count > kSplineOrder) return false;
    const int64_t offset = (int64_t(col) + int64_t(g_.Stride) * row + g_.HeaderOffset) * 4;
    if (!ReadAt(fd_, offset, b, size_t(count) * 4)) return false;
    for (int i = 0; i < count; ++i) out[i] = DecodeNode(b + 4 * i);
    return true;
}

double GeoidGrid::GeoidBilinear(double y, double x) const {
    if (!(std::fabs(y) < kCoordLimit) || !(std::fabs(x) < kCoordLimit)) return kMissing;
    const int64_t r = int64_t(std::trunc(y));
    const int64_t c = int64_t(std::trunc(x));
    const double fy = y - double(r), fx = x - double(c);
    if (r < 0 || r > g_.NRows || c < 0 || c > g_.NCols) return kMissing;
    // r <= NRows and c <= NCols, so r + 1 and c + 1 still fit the node reader's arguments once
    // they are known to lie inside the grid; anything past it is missing.
    auto node = [&](int64_t rr, int64_t cc) -> double {
        if (rr > std::numeric_limits<int32_t>::max() || cc > std::numeric_limits<int32_t>::max()) return kMissing;
        return GeoidGridNode(int32_t(rr), int32_t(cc));
    };
    int64_t onCol = -1, onRow = -1;
    if (std::fabs(fx) < 1e-5) onCol = c;
    else if (std::fabs(1 - fx) < 1e-5) onCol = c + 1;
    if (std::fabs(fy) < 1e-5) onRow = r;
    else if (std::fabs(1 - fy) < 1e-5) onRow = r + 1;

    // NaN nodes make every form below NaN, as a missing node should.
    if (onRow >= 0 && onCol >= 0) return node(onRow, onCol);
    if (onRow >= 0) return node(onRow, c) * (1 - fx) + node(onRow, c + 1) * fx;
    if (onCol >= 0) return node(r, onCol) * (1 - fy) + node(r + 1, onCol) * fy;
    const double v00 = node(r, c), v01 = node(r, c + 1), v10 = node(r + 1, c), v11 = node(r + 1, c + 1);
    return v00 * (1 - fx) * (1 - fy) + v10 * fy * (1 - fx) + v01 * fx * (1 - fy) + v11 * fx * fy;
}

void SplineSecondDerivs(int n, const float* y, float* d2) {
    float u[GeoidGrid::kSplineOrder];
    if (n <= 0) return;
    // Index k here is position k + 1; the ends keep zero curvature.
    u[0] = d2[0] = 0;
    for (int k = 1; k < n - 1; ++k) {
        const double p = double(u[k - 1]) / 2 + 2;
        u[k] = float(-0.5 / p);
        d2[k] = float((3.0 * (double(y[k + 1]) - 2.0 * y[k] + y[k - 1]) - double(d2[k - 1]) / 2) / p);
    }
    d2[n - 1] = 0;
    for (int k = n - 2; k >= 1; --k) d2[k] = float(double(u[k]) * d2[k + 1] + d2[k]);
}

double SplineEval(int n, const float* y, const float* d2, double t) {
    if (n < 2 || std::isnan(t)) return n == 1 ? y[0] : kMissing;
    if (t < 1) return y[0] + (t - 1) * ((double(y[1]) - y[0]) - double(d2[1]) / 6);
    if (t > n) return y[n - 1] + (t - n) * ((double(y[n - 1]) - y[n - 2]) + double(d2[n - 2]) / 6);
    // t == n falls into the last interval rather than past the last node.
    int k = int(std::floor(t));
    if (k > n - 1) k = n - 1;
    const double f = t - k;
    const double yk = y[k - 1], yk1 = y[k], dk = d2[k - 1], dk1 = d2[k];
    return yk + f * ((yk1 - yk) - dk / 3 - dk1 / 6) + f * f * dk / 2 + f * f * f * (dk1 - dk) / 6;
}

double GeoidGrid::GeoidInterpolate(int n, double lat, double lon) const {
    if (fd_ < 0 || !std::isfinite(lat) || !std::isfinite(lon)) return kMissing;
    if (n > kSplineOrder) n = kSplineOrder;

    // Longitude relative to the western edge, so grids west of 0 degrees answer too.
    double l = g_.LonMin + std::fmod(lon - g_.LonMin, 360.0);
    if (l < g_.LonMin) l += 360;
    if (l >= g_.LonMin + 360) l -= 360;
    // A regional grid: a point just west of the grid extrapolates instead of falling off the east.
    if (!global_ && l >= lonMax_ && g_.LonMin - (l - 360) < l - lonMax_) l -= 360;

    if (lat > 90) lat = 90;
    else if (lat < -90.00001) lat = -90;

    const double x = kLon_ * (l - g_.LonMin) / 100;
    const double y = kLat_ * (latMax_ - lat) / 100;
    if (n <= 2) return GeoidBilinear(y, x);
    if ((n / 2.0 + 1) * g_.DLat >= 90 - std::fabs(lat)) return GeoidBilinear(y, x);
    if (!(std::fabs(y) < kCoordLimit) || !(std::fabs(x) < kCoordLimit)) return kMissing;

    const int64_t c0 = int64_t(std::trunc(x - n / 2.0));
    const int64_t r0 = int64_t(std::trunc(y - n / 2.0));
    // |x|, |y| < 1e9, so every window index below fits 32 bits.
    float cols[kSplineOrder], row[kSplineOrder], d2[kSplineOrder];
    for (int i = 1; i <= n; ++i) {
        const int32_t r = int32_t(r0 + i);
        if (!ReadRun(r, int32_t(c0 + 1), n, row))
            for (int j = 1; j <= n; ++j) row[j - 1] = GeoidGridNode(r, int32_t(c0 + j));
        for (int j = 0; j < n; ++j)
            if (std::isnan(row[j])) return GeoidBilinear(y, x);
        SplineSecondDerivs(n, row, d2);
        cols[i - 1] = float(SplineEval(n, row, d2, x - double(c0)));
    }
    SplineSecondDerivs(n, cols, d2);
    return SplineEval(n, cols, d2, y - double(r0));
}

}  // namespace ts
