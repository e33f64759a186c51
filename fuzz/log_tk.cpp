// TK1, TK2, TK3 and TES logs through the driver (the first byte picks the kind), written as CSV
// and NMEA.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kExt[] = {".tk1", ".tk2", ".tk3", ".tes"};
    return fuzz::RunLog(data + 1, size - 1, kExt[data[0] % 4], fuzz::kCsv | fuzz::kNmea, 2);
}
