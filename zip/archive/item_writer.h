// Pieces of the item writer that the central directory writer shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zip {

enum : std::uint16_t {
    kFlagEncrypted = 0x0001,
    kFlagUtf8Name = 0x0800,  // general-purpose bit 11: name and comment are UTF-8
};
enum : std::uint16_t { kTagZip64 = 0x0001, kTagUnicodeName = 0x554E, kTagAes = 0x9901 };
enum : std::uint32_t { kLocalHeaderSignature = 0x04034B50, kBaseLocalHeaderSignature = 0x05045C61 };

// The bytes of a stored name: the OEM code page (the ANSI one without oemFileNames) when it
// holds the name exactly, else UTF-8, and then utf8 is set (the entry needs flag bit 11).
// utf8 set on entry keeps UTF-8.
std::string StoredNameBytes(const std::u16string& name, bool oemFileNames, bool& utf8);

// Whether the local header of a source of size bytes (-1 unknown) must hold its sizes in a Zip64
// extra: when either size can reach 0xFFFFFFFF, the compressed one included.
bool LocalZip64Needed(std::int64_t size, int compressionMode, int zip64Mode);

// Little-endian record building.
void PutLE(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes);
std::uint64_t GetLE(const std::uint8_t* p, int bytes);

}  // namespace zip
