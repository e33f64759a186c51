// TKS logs through the driver, written as KML and GPX.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunLog(data, size, ".tks", fuzz::kKml | fuzz::kGpx, 2);
}
