// The M-241 binary track log (".trl"): no header, fixed records of 16 or 20 bytes, each closed by
// an XOR check byte. The record size is found by probing the start of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/context.h"

namespace ts {

// Reader contract: the output stage's result after reading points, 0 for a file shorter than one
// record or without a taken record, -1 when the file cannot be opened, reading failed or the user
// aborted.
int32_t ReadM241File(EngineContext& ctx, const std::string& fileName);

// True when the first n bytes of the file (at most 100 are looked at) hold more 20-byte groups
// whose XOR is 0 than 16-byte groups; a tie or no data gives 16-byte records.
bool DetectM241RecordSize(const uint8_t* data, size_t n);

// Seconds since 1970-01-01 00:00 UTC as a date-time (days since 1899-12-30).
double UnixTimeToDateTime(double seconds);

}  // namespace ts
