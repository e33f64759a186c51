// The NMEA 0183 log reader (plain logs, TripMate logs and barometric-logger logs): a check pass
// decides how GGA and RMC sentences pair into fixes, a read pass builds points and blocks, then
// the output stage runs.
#pragma once

#include <string>
#include <string_view>

#include "core/context.h"

namespace ts {

// Reader contract: the output stage's result after reading points, 0 without usable data, -1 when
// the file cannot be opened, reading failed or the user aborted.
int32_t ReadNmeaFile(EngineContext& ctx, const std::string& fileName);

// When the read pass finds and converts lines on worker threads (the epochs are still put
// together in order on the calling thread): only for large files with more than one processor.
struct NmeaThreading {
    uint64_t minFileBytes = 4u << 20;
    unsigned workers = 0;  // 0: one less than the processors the program may run on, at most 8
    size_t chunkBytes = 64 * 1024;
};
// The settings in force (tests change them to take the threaded road on small logs).
NmeaThreading& NmeaReadThreading();

// Degrees, minutes and seconds with `digits` decimals of the second, e.g. 139° 30' 00.000".
// Empty for NaN.
std::string FormatDms(int digits, double value, const std::string& degChar);
// FormatDms of |value| followed by two blanks and letters[0] (value >= 0) or letters[1].
std::string FormatLatLonDms(int digits, std::string_view letters, double value, const std::string& degChar);

}  // namespace ts
