// Geoid heights from a regular latitude/longitude grid of little-endian single-precision nodes read
// from an open file by position: a 6 x 6 natural cubic spline around the point, with a bilinear
// fallback near the poles, next to missing nodes and on request.
#pragma once

#include <cstdint>
#include <string>

namespace ts {

// Where the nodes of a grid lie in its file. Node (row i, column j), row 0 the northern-most, column
// 0 at LonMin, is the single at byte (j + Stride * i + HeaderOffset) * 4.
struct GeoidGridGeometry {
    int32_t Stride = 0;  // words from one stored row to the next
    double LatMin = 0;   // degrees, southern-most node row
    double LonMin = 0;   // degrees, western-most node column
    double DLat = 0;     // degrees between rows
    double DLon = 0;     // degrees between columns
    int32_t NRows = 0;
    int32_t NCols = 0;
    int32_t HeaderOffset = 0;  // words from the start of a stored row to its first node
};

// Grid steps per 100 degrees, to the nearest integer (ties to even): every conversion between
// degrees and grid coordinates goes through it, so 0.016667 is used as exactly 1'.
double GridStepsPer100(double step);

// pread until count bytes are in; false on a negative offset, a short read or an error.
bool ReadAt(int fd, int64_t offset, unsigned char* buf, size_t count);

// Empty when the geometry is usable: finite origin, finite positive steps that give at least one
// step per 100 degrees, positive row and column counts, rows that hold their nodes.
std::string CheckGeoidGeometry(const GeoidGridGeometry& g);

// One natural cubic spline with unit node spacing through y[0..n-1] (positions 1..n), n <= 6.
// SplineSecondDerivs fills d2 (zero at both ends); SplineEval gives the value at position t,
// continuing with straight lines at the end slopes outside 1..n.
void SplineSecondDerivs(int n, const float* y, float* d2);
double SplineEval(int n, const float* y, const float* d2, double t);

class GeoidGrid {
public:
    static constexpr int kSplineOrder = 6;

    GeoidGrid() = default;
    GeoidGrid(const GeoidGrid&) = delete;
    GeoidGrid& operator=(const GeoidGrid&) = delete;
    ~GeoidGrid() { Close(); }

    // Opens path read-only and takes the geometry; the file must hold exactly NRows stored rows of
    // Stride words (plus trailerBytes). On failure nothing is open and why tells the reason (for the log, not the
    // user). trailerBytes: bytes after the last row (a geometry trailer).
    bool Open(const std::string& path, const GeoidGridGeometry& g, std::string* why = nullptr,
              int64_t trailerBytes = 0);
    // The same on a descriptor already open for reading, which the grid takes over (closed on failure).
    bool Adopt(int fd, const GeoidGridGeometry& g, std::string* why = nullptr, int64_t trailerBytes = 0);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    const GeoidGridGeometry& Geometry() const { return g_; }
    double LatMax() const { return latMax_; }  // degrees, northern-most node row
    double LonMax() const { return lonMax_; }  // degrees, one step east of the last column
    bool IsGlobal() const { return global_; }

    // N in metres at Lat, Lon (degrees, any longitude) by the spline of order n (6), or bilinear
    // only for n <= 2. NaN for non-finite input, outside the grid or at missing nodes.
    double GeoidInterpolate(int n, double lat, double lon) const;
    // Bilinear value at fractional row y (0 at the northern row) and column x (0 at LonMin);
    // up to one step north of row 0 or west of column 0 extrapolates, NaN beyond the grid.
    double GeoidBilinear(double y, double x) const;
    // One node value; NaN when it cannot be read, is NaN, or is 200 or more in size (hole flags).
    float GeoidGridNode(int32_t row, int32_t col) const;

private:
    // Reads count nodes of one row from col on; false when any could not be read in one piece.
    bool ReadRun(int32_t row, int32_t col, int count, float* out) const;

    int fd_ = -1;
    GeoidGridGeometry g_;
    double kLat_ = 0, kLon_ = 0;  // GridStepsPer100 of the steps
    double latMax_ = 0, lonMax_ = 0;
    bool global_ = false;
};

}  // namespace ts
