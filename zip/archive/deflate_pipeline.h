// The road of one item's data into the archive: block-wise reading, CRC-32, raw deflate (or a
// plain copy), optional encryption, and a write that asks for room when the disk is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "archive/dir_items.h"

namespace zip {

enum TZipCompressionLevel { clNone, clFastest, clNormal, clMax };

// The standard reflected CRC-32 of ZIP (polynomial 0xEDB88320). Start with 0xFFFFFFFF and
// complement the result; a null buffer or a count below 1 leaves crc unchanged.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::int64_t count);

// Read block size of a compression mode; mode to level and level to mode.
std::int64_t GetBufferSizeByMode(int mode);
TZipCompressionLevel ModeToCompressionLevel(int mode);
int CompressionLevelToMode(TZipCompressionLevel level);

class ECompressionError : public std::runtime_error {
public:
    ECompressionError() : std::runtime_error("error") {}
};
// Returns code; a negative zlib result raises ECompressionError.
int CheckZlibResult(int code);

// Encryption of one item's data; CreateEntryCipher hands one out per item.
class TZipEntryCipher {
public:
    virtual ~TZipEntryCipher() = default;
    // Written before the data; crc is the CRC-32 of the whole source (computed in a pre-pass).
    virtual std::vector<std::uint8_t> Header(std::uint32_t crc) = 0;
    virtual void Encrypt(std::uint8_t* data, std::size_t count) = 0;
    // Written after the data (an authentication code), counted in the compressed size.
    virtual std::vector<std::uint8_t> Trailer() { return {}; }
    // The method stored for the item (99 for AES), or 0 to keep the compression method.
    virtual std::uint16_t StoredMethod() const { return 0; }
    // An extra field for the local and central headers (the AES extra), or none (tag 0).
    virtual TExtraField Extra() const { return {}; }
    // False when the headers hold 0 in place of the data's CRC-32.
    virtual bool StoresCrc() const { return true; }
};

}  // namespace zip
