// The KML 3D view: heights made from speed, the altitude-mode tags, the block's bounding box and
// the camera (LookAt) placed at the start, half-way or final point or at typed values.
#pragma once

#include <string>

#include "core/context.h"
#include "output/text_out.h"

namespace ts {

// The 3D height of a point in metres: with 3D mode and AltReplace the speed in km/h times
// multi plus offset (0 for a point without speed), else the altitude (NaN when missing).
double Height3D(const TConversionOptions& o, double multi, double offset, const TLogData& p);

// "<altitudeMode>clampToGround</altitudeMode>", "...relativeToGround..." or "...absolute...".
const char* AltitudeModeTag(const TConversionOptions& o);

// Per-block view state of the KML writer.
struct KmlView3D {
    double BoxWest = 180, BoxEast = -180, BoxSouth = 90, BoxNorth = -90;
    // The view point survives from block to block (a block without a written point keeps it).
    double viewLat = 0, viewLon = 0, viewHeight = 0;
    // Regression sums over the written points, for the automatic heading.
    double sumLonLat = 0, sumLon = 0, sumLon2 = 0, sumLat = 0;
    int32_t written = 0;

    void StartBlock();
    // Every written point in order; first is true for the block's first one.
    void AddWritten(const TConversionOptions& o, const TLogData& p, double h3d, bool first);
    // Widens the box by one point; a box that crosses the 180 degree meridian has BoxEast < BoxWest.
    void GrowBounds(double lat, double lon);
    bool CrossesMeridian() const { return BoxEast < BoxWest; }
    // Centre of the box; across the meridian the centre lies on the box's side of the globe.
    double CentreLon() const;
    double CentreLat() const { return (BoxNorth + BoxSouth) / 2; }
    // Half-way view: the written point of the block nearest the box centre and equally far from
    // its two corners. Walks the block again with the writers' filters.
    void PickHalfWayPoint(EngineContext& ctx, const TrackBlock& block, double multi, double offset);
    // The heading text of the LookAt: typed, or across the track's main direction.
    std::string HeadingText(EngineContext& ctx) const;
    // Appends the LookAt element, one line each.
    void AppendLookAt(EngineContext& ctx, LineOut& out) const;
};

}  // namespace ts
