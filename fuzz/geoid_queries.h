// Query points for a loaded geoid grid: nodes, cell middles, edges and beyond, poles, the date line,
// and values no position has. Every answer must be a height or NaN, never an infinity.
#pragma once

#include <cmath>
#include <limits>
#include <vector>

#include "fuzz_util.h"
#include "geoid/geoid_grid.h"

namespace fuzz {

inline std::vector<std::pair<double, double>> GeoidQueryPoints(const ts::GeoidGrid& grid, uint64_t seed) {
    const ts::GeoidGridGeometry& g = grid.Geometry();
    Rng r(seed);
    std::vector<std::pair<double, double>> q;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (auto p : {std::pair{nan, 0.0},
                   {0.0, nan},
                   {inf, 0.0},
                   {0.0, -inf},
                   {90.0, 180.0},
                   {-90.0, -180.0},
                   {g.LatMin, g.LonMin},
                   {grid.LatMax(), grid.LonMax()},
                   {1e300, 1e300}})
        q.push_back(p);
    for (int i = 0; i < 24; ++i) {
        const double row = double(r.Next() % uint64_t(g.NRows + 2)) - 1,
                     col = double(r.Next() % uint64_t(g.NCols + 2)) - 1;
        const double frac = (r.Next() % 3) * 0.5;
        q.emplace_back(g.LatMin + (row + frac) * g.DLat, g.LonMin + (col + frac) * g.DLon);
    }
    for (int i = 0; i < 8; ++i) q.emplace_back(r.Uniform(-91, 91), r.Uniform(-400, 400));
    return q;
}

inline void CheckGeoidAnswer(double n, double lat, double lon) {
    Check(!std::isinf(n), "infinite geoid height at " + std::to_string(lat) + "," + std::to_string(lon));
}

// A host that answers nothing and says nothing: no dialog, no report.
class QuietHost : public ts::RecordingHost {
public:
    void ReportLine(const std::string&) override {}
};

}  // namespace fuzz
