// TripMate logs through the driver, written as KML and NMEA.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckNmeaReadingRoadsAgree(data, size, ".nma");
    return fuzz::RunLog(data, size, ".nma", fuzz::kKml | fuzz::kNmea, 2);
}
