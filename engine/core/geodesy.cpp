#include "core/geodesy.h"

#include <bit>
#include <cmath>
#include <limits>

namespace ts {

namespace {

// The one body of both entry points, so that the distance comes out of the same operations in
// the same order whichever is used. The azimuths cost two more atan2 and are left out when not
// wanted; the latitude terms of a point are taken from the cache when the point was the second
// end of the pair before.
template <bool Azimuths>
GeoResult Inverse(double lat1, double lon1, double lat2, double lon2, double h1, double h2, GeoLatCache* cache) {
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kDeg = kPi / 180.0;
    constexpr double f = kGrs80F;
    constexpr double a = kGrs80A;
    constexpr double eps = 5e-12;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (std::isnan(lat1) || std::isnan(lon1) || std::isnan(lat2) || std::isnan(lon2)) return {nan, nan, nan};

    double glat1 = lat1 * kDeg, glon1 = lon1 * kDeg;
    const double glat2 = lat2 * kDeg, glon2 = lon2 * kDeg;
    // The exact antipode has no unique geodesic: nudge it off.
    if (glat1 + glat2 == 0.0 && std::fabs(glon1 - glon2) == kPi) glat1 += 0.00001;
    if (glat1 == glat2 && (glon1 == glon2 || std::fabs(std::fabs(glon1 - glon2) - 2 * kPi) < eps))
        return {std::fabs(h1 - h2), 0.0, 180.0};

    const double r = 1 - f;
    double tu1, cu1;
    const uint64_t key1 = std::bit_cast<uint64_t>(glat1);
    if (cache && cache->valid && cache->key == key1) {
        tu1 = cache->tu;
        cu1 = cache->cu;
    } else {
        tu1 = r * std::tan(glat1);
        cu1 = 1.0 / std::sqrt(tu1 * tu1 + 1.0);
    }
    double tu2 = r * std::tan(glat2);
    const double su1 = cu1 * tu1;
    const double cu2 = 1.0 / std::sqrt(tu2 * tu2 + 1.0);
    if (cache) *cache = {true, std::bit_cast<uint64_t>(glat2), tu2, cu2};
    double s = cu1 * cu2;
    double baz = s * tu2;
    double faz = baz * tu1;
    double x = glon2 - glon1;

    double sx, cx, sy, cy, y, sa, c2a, cz, e, c, d;
    int iterations = 0;
    do {
        sx = std::sin(x);
        cx = std::cos(x);
        tu1 = cu2 * sx;
        tu2 = baz - su1 * cu2 * cx;
        sy = std::sqrt(tu1 * tu1 + tu2 * tu2);
        cy = s * cx + faz;
        y = std::atan2(sy, cy);
        sa = sy != 0.0 ? s * sx / sy : 1.0;
        c2a = -sa * sa + 1.0;
        cz = faz + faz;
        if (c2a > 0.0) cz = -cz / c2a + cy;
        e = cz * cz * 2.0 - 1.0;
        c = ((-3.0 * c2a + 4.0) * f + 4.0) * c2a * f / 16.0;
        d = x;
        x = ((e * cy * c + cz) * sy * c + y) * sa;
        x = (1.0 - c) * x * f + glon2 - glon1;
        ++iterations;
    } while (std::fabs(d - x) > eps && iterations < 21);

    double fwd = nan, back = nan;
    if constexpr (Azimuths) {
        fwd = std::atan2(tu1, tu2) / kDeg;
        if (fwd < 0) fwd += 360.0;
        back = (std::atan2(cu1 * sx, baz * cx - su1 * cu2) + kPi) / kDeg;
    }

    x = std::sqrt((1.0 / r / r - 1.0) * c2a + 1.0) + 1.0;
    x = (x - 2.0) / x;
    c = (x * x / 4.0 + 1.0) / (1.0 - x);
    d = (0.375 * x * x - 1.0) * x;
    x = e * cy;
    s = 1.0 - e - e;
    s = ((((sy * sy * 4.0 - 3.0) * s * cz * d / 6.0 - x) * d / 4.0 + cz) * sy * d + y) * c * a * r;
    return {std::sqrt(s * s + (h1 - h2) * (h1 - h2)), fwd, back};
}

}  // namespace

GeoResult GeoDistance(double lat1, double lon1, double lat2, double lon2, double h1, double h2) {
    return Inverse<true>(lat1, lon1, lat2, lon2, h1, h2, nullptr);
}

double GeoDistanceOnly(double lat1, double lon1, double lat2, double lon2, GeoLatCache& cache) {
    return Inverse<false>(lat1, lon1, lat2, lon2, 0, 0, &cache).distance;
}

double SpeedFromDistance(double t2, double t1, double dist, double prevKmh, double accelG) {
    const double dt = (t2 - t1) * 24.0 * 3600.0;
    if (!(dt > 0)) {
        if (t2 == 0.0 && t1 == 0.0) return std::numeric_limits<double>::quiet_NaN();
        return prevKmh;
    }
    double v = dist / dt * 3.6;
    if (!std::isfinite(v)) return prevKmh;
    if (dt <= 60.5 && !std::isnan(prevKmh)) {
        const double limit = 9.8 * accelG * dt * dt * 3.6;
        if (std::fabs(v - prevKmh) > limit) v = v > prevKmh ? prevKmh + limit : prevKmh - limit;
    }
    return v;
}

}  // namespace ts
