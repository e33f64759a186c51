#include "archive/deflate_pipeline.h"

#include <algorithm>
#include <array>
#include <memory>
#include <system_error>

#include <zlib.h>

#include "archive/archiver.h"
#include "archive/parallel_deflate.h"

namespace zip {

namespace {

// Table k gives the CRC of a byte followed by k zero bytes, so that eight bytes are taken a step.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    return t;
}
constexpr std::array<std::array<std::uint32_t, 256>, 8> kCrcTables = MakeCrcTables();
constexpr const std::array<std::uint32_t, 256>& kCrcTable = kCrcTables[0];

// Ends a zlib stream however the item's road ends.
struct Deflater {
    z_stream zs{};
    bool live = false;
    ~Deflater() {
        if (live) deflateEnd(&zs);
    }
};

}  // namespace

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::int64_t count) {
    if (!buffer || count < 1) return crc;
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const std::uint32_t lo = crc ^ (std::uint32_t{p[i]} | std::uint32_t{p[i + 1]} << 8 |
                                        std::uint32_t{p[i + 2]} << 16 | std::uint32_t{p[i + 3]} << 24);
        crc = kCrcTables[7][lo & 0xFF] ^ kCrcTables[6][(lo >> 8) & 0xFF] ^ kCrcTables[5][(lo >> 16) & 0xFF] ^
              kCrcTables[4][lo >> 24] ^ kCrcTables[3][p[i + 4]] ^ kCrcTables[2][p[i + 5]] ^ kCrcTables[1][p[i + 6]] ^
              kCrcTables[0][p[i + 7]];
    }
    for (; i < count; ++i) crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::int64_t GetBufferSizeByMode(int mode) {
    if (mode >= 1 && mode <= 3) return 0x80000;
    if (mode >= 7 && mode <= 9) return 0x180000;
    return 0x100000;
}

TZipCompressionLevel ModeToCompressionLevel(int mode) {
    return mode <= 0 ? clNone : mode <= 3 ? clFastest : mode <= 6 ? clNormal : clMax;
}

int CompressionLevelToMode(TZipCompressionLevel level) {
    switch (level) {
    case clNone: return 0;
    case clFastest: return 1;
    case clNormal: return 6;
    case clMax: return 9;
    }
    return 1;
}

int CheckZlibResult(int code) {
    if (code < 0) throw ECompressionError();
    return code;
}

bool TZipBaseArchiver::WriteWithRetry(TStream& stream, const void* buffer, std::int64_t count) {
    const std::int64_t pos = stream.Position();
    for (;;) {
        if (stream.Write(buffer, count) == count) return true;
        bool cancel = true;
        try {
            DoOnDiskFull(-1, FileName, cancel);
        } catch (...) {
            // A failing handler counts as a refusal.
        }
        if (cancel) {
            Cancelled = true;
            // The default answer, given with nobody to ask, is no one's choice: the commit puts
            // the old archive back and then reports the write as failed.
            const bool chosen = OnDiskFull || (Prompter && spanningMode_ == smSpanning);
            if (!chosen) {
                try {
                    Fail(46);
                } catch (const EZipException&) {
                    FailureError = std::current_exception();
                }
            }
            return false;
        }
        stream.Seek(pos, TSeekOrigin::soBeginning);
    }
}

bool TZipBaseArchiver::EncryptStream(TDirItem& item, TStream& source, TStream& target, TZipEntryCipher* cipher) {
    TCentralHeader h = item.Header;
    const std::int64_t start = std::max<std::int64_t>(0, source.Position());
    const std::int64_t size = std::max<std::int64_t>(0, source.Size() - start);
    std::uint32_t crc = 0xFFFFFFFF;
    std::int64_t bytesRead = 0, compressed = 0;

    if (cipher && UsePKSignatures && cipher->StoredMethod() != 0) h.Method = cipher->StoredMethod();

    if (UsePKSignatures) {
        const std::int64_t block =
            std::max<std::int64_t>(1, std::min(GetBufferSizeByMode(item.ItemCompressionMode), size));
        // Left uninitialised: the pages of a buffer that the road in use never needs stay untouched.
        const std::size_t outSize =
            static_cast<std::size_t>(std::max<std::int64_t>(256, (block / 10 + block + 267) & ~std::int64_t{255}));
        const std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[static_cast<std::size_t>(block)]);
        const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[outSize]);
        Deflater d;
        const bool deflating = item.TargetMethod != 0;
        const int level = std::clamp<int>(item.ItemCompressionMode, 0, 9);
        if (deflating) {
            // Raw deflate: the same bytes as a zlib stream without its header and trailer.
            CheckZlibResult(deflateInit2(&d.zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY));
            d.live = true;
        }
        bool ok = true;
        if (cipher) {
            // The header of the traditional cipher carries the CRC, so it is computed first.
            while (bytesRead < size) {
                const std::int64_t n = source.Read(in.get(), std::min(block, size - bytesRead));
                if (n <= 0) break;
                crc = UpdateCrc32(crc, in.get(), n);
                bytesRead += n;
            }
            source.Seek(start, TSeekOrigin::soBeginning);
            const std::vector<std::uint8_t> header = cipher->Header(~crc);
            ok = WriteWithRetry(target, header.data(), static_cast<std::int64_t>(header.size()));
            compressed += static_cast<std::int64_t>(header.size());
            bytesRead = 0;
        }
        // Data of more than one block is deflated on every processor, the blocks in order.
        std::unique_ptr<TParallelDeflate> parallel;
        const int processors = AvailableProcessors();
        TDeflatedSource* prepared = nullptr;
        if (deflating && ok && !cipher && start == 0 && size > block && processors > 1 && Predeflated &&
            Predeflated->Fits(item.SourceFileName, size, block, level))
            prepared = Predeflated.get();
        if (!prepared && deflating && ok && size > block && processors > 1) {
            try {
                parallel = std::make_unique<TParallelDeflate>(source, start, size, block, level, processors);
            } catch (const std::system_error&) {
                // No thread to be had: one stream on this thread, as below.
            }
        }
        bool complete = true;
        const std::u16string shown = item.SourceFileName.empty() ? item.Name : item.SourceFileName;
        while (ok && bytesRead < size) {
            if (CommitRunning) {
                DoOnFileProgress(shown, static_cast<double>(bytesRead) / static_cast<double>(size) * 100.0,
                                 item.ItemOperation, ppProcess, Cancelled);
                if (Cancelled) break;
                const double overall = BytesToProcess == 0 ? 50.0
                                                           : static_cast<double>(BytesProcessed + bytesRead) /
                                                                 static_cast<double>(BytesToProcess) * 100.0;
                DoOnOverallProgress(overall, item.ItemOperation, ppProcess, Cancelled);
                if (Cancelled) break;
            }
            const std::int64_t want = std::min(block, size - bytesRead);
            if (parallel || prepared) {
                TDeflatedBlock b = prepared ? prepared->Next() : parallel->Next();
                bytesRead += b.read;
                if (b.read < want) {
                    complete = false;
                    break;
                }
                if (!cipher)
                    crc = ~static_cast<std::uint32_t>(crc32_combine(~crc, b.crc, static_cast<z_off_t>(b.read)));
                if (!b.data.empty()) {
                    if (cipher) cipher->Encrypt(b.data.data(), b.data.size());
                    if (!WriteWithRetry(target, b.data.data(), static_cast<std::int64_t>(b.data.size()))) {
                        ok = false;
                        break;
                    }
                    compressed += static_cast<std::int64_t>(b.data.size());
                }
                continue;
            }
            const std::int64_t n = source.Read(in.get(), want);
            if (n > 0) bytesRead += n;
            if (n < want) {
                complete = false;  // a short read: the size check below reports it
                break;
            }
            if (!cipher) crc = UpdateCrc32(crc, in.get(), n);
            const bool last = bytesRead == size;
            auto emit = [&](std::uint8_t* data, std::int64_t len) {
                if (len <= 0) return true;
                if (cipher) cipher->Encrypt(data, static_cast<std::size_t>(len));
                if (!WriteWithRetry(target, data, len)) return false;
                compressed += len;
                return true;
            };
            if (!deflating) {
                ok = emit(in.get(), n);
                continue;
            }
            d.zs.next_in = in.get();
            d.zs.avail_in = static_cast<uInt>(n);
            const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
            for (;;) {
                d.zs.next_out = out.get();
                d.zs.avail_out = static_cast<uInt>(outSize);
                const int r = CheckZlibResult(deflate(&d.zs, flush));
                if (!emit(out.get(), static_cast<std::int64_t>(outSize - d.zs.avail_out))) {
                    ok = false;
                    break;
                }
                if (flush == Z_FINISH ? r == Z_STREAM_END : d.zs.avail_out != 0) break;
            }
        }
        if (parallel || prepared) {
            parallel.reset();  // no worker reads the source any more
            source.Seek(start + bytesRead, TSeekOrigin::soBeginning);
        }
        if (ok && !Cancelled && cipher) {
            const std::vector<std::uint8_t> trailer = cipher->Trailer();
            ok = WriteWithRetry(target, trailer.data(), static_cast<std::int64_t>(trailer.size()));
            compressed += static_cast<std::int64_t>(trailer.size());
        }
        BytesProcessed += bytesRead;
        if (d.live) {
            d.live = false;
            const int r = deflateEnd(&d.zs);
            // An unfinished stream ends with Z_DATA_ERROR; only a finished one is checked.
            if (!Cancelled && ok && complete && bytesRead == size) CheckZlibResult(r);
        }
    }

    if (size != bytesRead) {
        if (!Cancelled) FailFmt(34, {size, bytesRead});
        return false;
    }
    if (Cancelled) return false;
    item.CompressedSize64 = static_cast<std::uint64_t>(compressed);
    item.UncompressedSize64 = static_cast<std::uint64_t>(size);
    if (compressed < 0xFFFFFFFFLL && Zip64Mode != zmAlways) {
        h.CompressedSize = static_cast<std::uint32_t>(compressed);
    } else {
        item.HasZip64 = true;
        h.CompressedSize = 0xFFFFFFFF;
    }
    if (size < 0xFFFFFFFFLL && Zip64Mode != zmAlways) {
        h.UncompressedSize = static_cast<std::uint32_t>(size);
    } else {
        item.HasZip64 = true;
        h.UncompressedSize = 0xFFFFFFFF;
    }
    h.Crc32 = cipher && !cipher->StoresCrc() ? 0 : ~crc;
    if (item.HasZip64 && Zip64Mode == zmDisabled) FailFmt(41, {item.SourceFileName});
    // An empty AES entry keeps method 99: its extra field names the real method.
    if (size == 0 && UsePKSignatures && !(cipher && cipher->StoredMethod() != 0)) h.Method = 0;
    item.Header = h;
    return true;
}

}  // namespace zip
