#pragma once

// Little-endian field access for the fixed-size records of the archive directory.

#include <cstdint>

namespace zip {

inline void Put16(std::uint8_t*& p, std::uint16_t v) {
    *p++ = static_cast<std::uint8_t>(v);
    *p++ = static_cast<std::uint8_t>(v >> 8);
}

inline void Put32(std::uint8_t*& p, std::uint32_t v) {
    Put16(p, static_cast<std::uint16_t>(v));
    Put16(p, static_cast<std::uint16_t>(v >> 16));
}

inline std::uint16_t Get16(const std::uint8_t*& p) {
    const std::uint16_t v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    p += 2;
    return v;
}

inline std::uint32_t Get32(const std::uint8_t*& p) {
    const std::uint32_t lo = Get16(p);
    return lo | (static_cast<std::uint32_t>(Get16(p)) << 16);
}

}  // namespace zip
