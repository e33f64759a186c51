// M-241 logs through the driver, written as GPX and KML.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunLog(data, size, ".trl", fuzz::kGpx | fuzz::kKml, 2);
}
