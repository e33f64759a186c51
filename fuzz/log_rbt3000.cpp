// RBT-3000 logs (and text the driver hands on to the NMEA reader), written as CSV and NMEA.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunLog(data, size, ".txt", fuzz::kCsv | fuzz::kNmea, 2);
}
