// Reading what an existing archive stores: the Unicode name extra field. The directory reader
// itself is part of TZipDirManager (dir_manager.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/streams.h"

namespace zip {

// The data of the Unicode name extra (tag 0x554E): "NUCX", a signed 32-bit character count and
// the name in UTF-16LE.
class TUnicodeExtendedInfo {
public:
    static constexpr std::uint32_t kSignature = 0x5843554E;  // "NUCX"

    // True when the data starts with "NUCX" and a usable count; characters beyond the data are
    // not taken.
    bool LoadFromBuffer(const void* data, std::size_t size);
    bool LoadFromStream(TStream& stream);

    std::u16string Name;
    std::uint32_t Signature = 0;
};

}  // namespace zip
