// CSV logs through the driver, written as GPX and KML (a CSV input makes no CSV output).
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunLog(data, size, ".csv", fuzz::kGpx | fuzz::kKml, 2);
}
