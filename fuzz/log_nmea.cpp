// NMEA logs through the driver, written back as NMEA, GPX and CSV.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckNmeaReadingRoadsAgree(data, size, ".nmea");
    return fuzz::RunLog(data, size, ".nmea", fuzz::kNmea | fuzz::kGpx | fuzz::kCsv, 2);
}
