#include "core/barometer.h"

#include <cmath>

#include "core/decimal_text.h"

namespace ts {

namespace {
constexpr double kT0Kelvin = 288.15;
constexpr double kLapse = 0.0065;             // K per metre
constexpr double kExpPressure = 5.255876113;  // g M / (R L)
constexpr double kExpAltitude = 0.190263236;  // its inverse
constexpr double kScaleHeight = 44330.76923;  // T0 / L, metres
constexpr double kTempTerm = 1.052056221;     // 303.15 / 288.15
}  // namespace

double PressureFromHeight(double h, double offset) {
    const double base = (kT0Kelvin - kLapse * h) / kT0Kelvin;
    if (!(base > 0)) return NAN;
    const double p = kStdPressure * std::pow(base, kExpPressure) + offset;
    return std::isfinite(p) ? p : NAN;
}

double PressureAltitude(double p, const BarometerReference& ref) {
    const double ratio = p / ref.pressure;
    const double term = kTempTerm - ref.temperature / kT0Kelvin;
    if (!(ratio > 0) || !std::isfinite(ratio) || !(term > 0) || !std::isfinite(term)) return NAN;
    const double alt = (1.0 - std::pow(ratio, kExpAltitude)) * kScaleHeight / term;
    return std::isfinite(alt) ? alt : NAN;
}

bool CalibrateBarometer(BarometerReference& ref, std::string_view altitudeText, std::string_view temperatureText,
                        bool fahrenheit) {
    double h, tc;
    // Typed numbers: a decimal comma is the user's decimal mark ("200,5" m).
    if (!ReadDecimal(altitudeText, h) || !ReadDecimal(temperatureText, tc)) {
        ref.pressure = kStdPressure;
        return false;
    }
    if (fahrenheit) tc = (tc - 32.0) * 5.0 / 9.0;
    ref.temperature = tc + kLapse * h;
    const double x = (kTempTerm - ref.temperature / kT0Kelvin) * h;
    const double base = 1.0 - x / kScaleHeight;
    const double p = base > 0 ? ref.pressure / std::exp(std::log(base) / kExpAltitude) : NAN;
    if (!(p > 0) || !std::isfinite(p)) {
        ref.pressure = kStdPressure;
        return false;
    }
    ref.pressure = p;
    return true;
}

}  // namespace ts
