// KMZ packing of what the NMEA reader accepts: one block, read back by the project's archive reader.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunLog(data, size, ".nmea", fuzz::kKmz, 1);
}
