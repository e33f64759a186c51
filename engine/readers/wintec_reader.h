// The WBT-201/WSG-1000 ".tk1"/".tk2"/".tk3" logs (a 1024-byte header, then 16-byte records) and
// the WBT-202 ".TES" log (records only). Records carry new-track and interest flags and, coded in
// the flags, temperature and pressure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/context.h"
#include "readers/tks_reader.h"

namespace ts {

// Reader contract: the output stage's result after reading points, 0 without points, -1 when the
// file cannot be opened, reading failed or the user aborted, -2 when a header is not recognised.
int32_t ReadWintecLogFile(EngineContext& ctx, const std::string& fileName);

// The same packing as the ".tks" logs.
inline double WintecTimeToDateTime(uint32_t packed) { return TksTimeToDateTime(packed); }

// The bytes up to the first zero byte (at most count of them), upper-cased.
std::string BytesToNameString(const unsigned char* bytes, size_t count);

// Reads the header: returns the point count (a stored count read as signed; 0 when the signature is
// none of the known ones or the header is cut short) and sets the device name.
int32_t CheckWintecLogHeader(RecordFile& file, std::string& deviceName);

}  // namespace ts
