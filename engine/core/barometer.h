// Barometric heights: the standard-atmosphere pressure of a logged height, pressure altitude
// against a reference, and the calibration of that reference at a log's start point. The
// calibration dialog and unattended runs share these.
#pragma once

#include <string_view>

namespace ts {

inline constexpr double kStdPressure = 1013.25;  // hPa
inline constexpr double kStdTemperature = 15.0;  // degrees C

// The pressure at which pressure altitude is 0, and the temperature term of the scale.
struct BarometerReference {
    double pressure = kStdPressure;        // hPa
    double temperature = kStdTemperature;  // degrees C at the reference
};

// Pressure (hPa) of height h (metres) in the standard atmosphere, plus offset (hPa). NaN when h is
// NaN or above the model's top (about 44.3 km), where the base of the power turns negative.
double PressureFromHeight(double h, double offset);

// Pressure altitude (metres) of pressure p (hPa) against ref. NaN when p or the reference is
// missing, when p / ref.pressure is not positive, or when the temperature term is not positive
// (reference temperatures of 303.15 degrees C and more): no value rather than an infinity.
double PressureAltitude(double p, const BarometerReference& ref);

// Rescales ref from the actual altitude (metres) and temperature at the start point, given as the
// texts the user typed (a decimal comma is read as the decimal mark, a comma that may group
// thousands makes no number); Fahrenheit when fahrenheit is set. ref.pressure holds the log's first
// pressure on entry. Returns false when the input cannot be used: ref.pressure then becomes the
// standard 1013.25 hPa (the temperature keeps what the steps before the failure set).
bool CalibrateBarometer(BarometerReference& ref, std::string_view altitudeText, std::string_view temperatureText,
                        bool fahrenheit);

}  // namespace ts
