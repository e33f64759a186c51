// The options snapshot taken before each input file, and the small conversions between the
// display unit and the stored values behind the main window's edits.
#pragma once

#include "settings/settings.h"

namespace ts {

// Copies the settings into the engine's record and derives its values; texts the derivation
// corrects (split interval, unknown speed unit) are written back into the settings.
void TakeSnapshot(Settings& s, TConversionOptions& o);

// Fixed geoid height and ground level: edits in the display unit, values in metres.
void ShowCustomGeoid(Settings& s);
void ParseCustomGeoid(Settings& s);
void ShowGroundLevel(Settings& s);
void ParseGroundLevel(Settings& s);
// Bounds in knots back into the speed edits, in the current unit.
void ShowSpeedClassBounds(Settings& s);
// "km/h" -> "mph" -> "kt" -> "km/h", carrying the edits that depend on the unit.
void CycleSpeedUnit(Settings& s);

}  // namespace ts
