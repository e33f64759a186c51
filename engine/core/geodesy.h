// Distances on the GRS80 ellipsoid and the speed plausibility limiter.
#pragma once

#include <cstdint>

namespace ts {

inline constexpr double kGrs80A = 6378137.0;            // semi-major axis, metres
inline constexpr double kGrs80F = 1.0 / 298.257222101;  // flattening
inline constexpr double kKnotKmh = 1.852;               // km/h per knot

struct GeoResult {
    double distance;        // metres
    double forwardAzimuth;  // degrees [0, 360), at point 1 towards point 2
    double backAzimuth;     // degrees [0, 360]
};

// Vincenty's inverse formula (1975 iteration form) on GRS80.
// Inputs: latitudes in [-90, 90] and longitudes in degrees, heights in metres. Returns the slope
// distance sqrt(s^2 + (h1-h2)^2) in metres, accurate to well under 0.1 mm where the iteration
// converges (everywhere except near-antipodal pairs, where it stops after 21 rounds and keeps the
// last estimate). NaN in any coordinate gives a NaN distance.
GeoResult GeoDistance(double lat1, double lon1, double lat2, double lon2, double h1 = 0, double h2 = 0);

// The reduced-latitude terms of the last second end of a pair. A walk along a track passes the
// same cache each time: the previous point's terms are then not computed again.
struct GeoLatCache {
    bool valid = false;
    uint64_t key = 0;  // bits of the latitude in radians
    double tu = 0, cu = 0;
};

// GeoDistance(lat1, lon1, lat2, lon2).distance to the last bit, without the azimuths.
double GeoDistanceOnly(double lat1, double lon1, double lat2, double lon2, GeoLatCache& cache);

// True for a latitude in [-90, 90] and a longitude in [-180, 180]; false for NaN. Readers drop
// records outside, as records without a position: no output could hold them.
inline bool OnTheGlobe(double lat, double lon) { return lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180; }

// Speed in km/h between two fixes (times as date-time days, distance in metres), limited to an
// acceleration of accelG g against prevKmh for steps up to 60.5 s. Both times 0 give NaN; a
// non-positive or NaN step gives prevKmh.
double SpeedFromDistance(double t2, double t1, double dist, double prevKmh, double accelG);

}  // namespace ts
