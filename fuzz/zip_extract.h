// Reading the data of an archive's entries as an extractor would, from what the project's own
// directory reader found: local header, traditional decryption, stored or deflated data, CRC-32.
// The archive component itself only writes archives, so this reading lives with the harnesses.
#pragma once

#include <cstdint>
#include <string>

#include <zlib.h>

#include "archive/dir_items.h"
#include "archive/entry_crypto.h"
#include "fuzz_util.h"

namespace fuzz {

inline uint32_t Le(const std::string& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + size_t(i)]);
    return v;
}

struct Extracted {
    bool read = false;     // the data could be reached and decoded
    bool crcOk = false;    // and matched the directory's CRC-32
    bool skipped = false;  // kept for someone else: AES, another volume, an unknown method
    std::string data;
};

// Decodes item from the archive's bytes (its offsets are absolute in them). Output stops at cap.
inline Extracted ExtractItem(const std::string& bytes, const zip::TDirItem& item, const std::string& password,
                             size_t cap = 1 << 20) {
    Extracted r;
    const zip::TCentralHeader& h = item.Header;
    const uint64_t offset = h.LocalHeaderOffset == 0xFFFFFFFFu ? item.LocalHeaderOffset64 : h.LocalHeaderOffset;
    const uint64_t packed = h.CompressedSize == 0xFFFFFFFFu ? item.CompressedSize64 : h.CompressedSize;
    const uint64_t size = h.UncompressedSize == 0xFFFFFFFFu ? item.UncompressedSize64 : h.UncompressedSize;
    if ((h.Method != 0 && h.Method != 8) || h.DiskNumberStart != 0) {
        r.skipped = true;
        return r;
    }
    if (offset > bytes.size() || bytes.size() - offset < 30 || Le(bytes, size_t(offset), 4) != 0x04034B50) return r;
    const uint64_t dataStart = offset + 30 + Le(bytes, size_t(offset) + 26, 2) + Le(bytes, size_t(offset) + 28, 2);
    if (dataStart > bytes.size() || packed > bytes.size() - dataStart) return r;
    std::string raw = bytes.substr(size_t(dataStart), size_t(packed));
    if (h.Flags & 1) {
        if (raw.size() < 12) return r;
        zip::TTraditionalKeys keys;
        zip::InitKeys(password, keys);
        for (char& c : raw) {
            c = static_cast<char>(static_cast<uint8_t>(c) ^ zip::StreamByte(keys));
            zip::UpdateKeys(static_cast<uint8_t>(c), keys);
        }
        raw.erase(0, 12);
    }
    if (h.Method == 0) {
        r.data = raw.substr(0, cap);
    } else {
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) Fail("inflateInit2");
        z.next_in = reinterpret_cast<Bytef*>(raw.data());
        z.avail_in = static_cast<uInt>(raw.size());
        char buf[16384];
        int rc = Z_OK;
        while (rc == Z_OK && r.data.size() < cap) {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            rc = inflate(&z, Z_NO_FLUSH);
            r.data.append(buf, sizeof buf - z.avail_out);
            if (z.avail_out == sizeof buf && rc == Z_OK) break;  // no progress: input ended early
        }
        inflateEnd(&z);
        if (rc != Z_STREAM_END) return r;
    }
    r.read = true;
    r.crcOk = r.data.size() == size &&
              crc32(0, reinterpret_cast<const Bytef*>(r.data.data()), static_cast<uInt>(r.data.size())) == h.Crc32;
    return r;
}

}  // namespace fuzz
