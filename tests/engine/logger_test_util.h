// Records and headers in the binary loggers' byte layouts.
#pragma once

#include <cstdint>
#include <string>

#include "date_time.h"
#include "nmea_test_util.h"
#include "tks_reader.h"
#include "wintec_reader.h"

namespace ts::test {

inline void PutBytes(std::string& out, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

inline uint32_t Packed(int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>(s) | static_cast<uint32_t>(mi) << 6 | static_cast<uint32_t>(h) << 12 |
           static_cast<uint32_t>(d) << 17 | static_cast<uint32_t>(mo) << 22 | static_cast<uint32_t>(y - 2000) << 26;
}
// 2024-05-01 10:00:00 plus sec seconds (within the hour).
inline uint32_t PackedAt(int sec) { return Packed(2024, 5, 1, 10, sec / 60, sec % 60); }
inline double TimeAt(int sec) { return EncodeDate(2024, 5, 1) + EncodeTime(10, sec / 60, sec % 60, 0); }

// A ".tks" record: latitude and longitude in 1e-7 degrees, altitude in decimetres.
inline std::string TksRec(uint32_t packed, int32_t lat7, int32_t lon7, int32_t altDm) {
    std::string r;
    PutBytes(r, packed, 4);
    PutBytes(r, static_cast<uint32_t>(lat7), 4);
    PutBytes(r, static_cast<uint32_t>(lon7), 4);
    PutBytes(r, static_cast<uint32_t>(altDm), 4);
    return r;
}
// A ".tk1"/".tk2"/".tk3"/".TES" record; altitude in metres.
inline std::string WintecRec(uint16_t flags, uint32_t packed, int32_t lat7, int32_t lon7, int16_t alt) {
    std::string r;
    PutBytes(r, flags, 2);
    PutBytes(r, packed, 4);
    PutBytes(r, static_cast<uint32_t>(lat7), 4);
    PutBytes(r, static_cast<uint32_t>(lon7), 4);
    PutBytes(r, static_cast<uint16_t>(alt), 2);
    return r;
}
// A 1024-byte header: signature, device name field and point count at the given offsets.
inline std::string WintecHeader(const std::string& sig, size_t nameAt, const std::string& name, size_t countAt,
                                uint32_t count) {
    std::string h(1024, '\0');
    h.replace(0, sig.size(), sig);
    h.replace(nameAt, name.size(), name);
    std::string c;
    PutBytes(c, count, 4);
    h.replace(countAt, 4, c);
    return h;
}
inline std::string Tk1Header(uint32_t count, const std::string& name = "WBT201") {
    return WintecHeader("WINTECLOGFORMAT", 40, name, 32, count);
}
inline std::string Tk2Header(uint32_t count, const std::string& name = "WBT201") {
    return WintecHeader("WINTECLOGTK2", 30, name, 460, count);
}
inline std::string Tk3Header(uint32_t count, const std::string& name = "WSG1000") {
    return WintecHeader("WINTECLOGTK3", 30, name, 493, count);
}

using LogReading = Reading;

}  // namespace ts::test
