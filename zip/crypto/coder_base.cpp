#include "crypto/coder_base.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "crypto/text_codecs.h"
#include "text/wide_files.h"

namespace zip {

TProgressProc ProgressProc;

void DoProgress(const void* sender, std::int64_t position, std::int64_t total) {
    if (ProgressProc) ProgressProc(sender, position, total);
}

void WipeMemory(void* p, std::size_t size) {
    if (size == 0) return;
    std::memset(p, 0, size);
    // The barrier makes the stores observable, so they are not dropped as dead before a free.
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

void TCoder::SetProtection(TCoderRef value) {
    if (value == protection_) return;
    for (const TCoder* c = value.get(); c; c = c->protection_.get())
        if (c == this) throw ECoder("Circular Protection detected, Protection Object is invalid.");
    protection_ = std::move(value);
}

void TCoder::InitCoding(int action) {
    if (protection_) protection_->InitCoding(action);
}

void TCoder::DoneCoding(int action) {
    if (protection_) protection_->DoneCoding(action);
}

void TCoder::CodeBlock(std::uint8_t* buffer, std::size_t size, int action) {
    if (protection_) protection_->CodeBlock(buffer, size, action);
}

std::size_t TCoder::CodeBuffer(void* buffer, std::size_t size, int action) {
    InitCoding(action);
    CodeBlock(static_cast<std::uint8_t*>(buffer), size, action);
    DoneCoding(action);
    return size;
}

void TCoder::CodeStream(TStream* source, TStream* dest, std::int64_t dataSize, int action) {
    if (!source) return;
    if (dataSize < 0) {
        source->SetPosition(0);
        dataSize = source->Size();
    }
    // In-place coding reads and writes the same stream, so each side keeps its own position.
    std::int64_t readPos = source->Position();
    TStream* out = dest ? dest : source;
    std::int64_t writePos = dest ? dest->Position() : readPos;
    InitCoding(action);
    DoProgress(this, 0, dataSize);
    std::vector<std::uint8_t> buf(4096);
    std::int64_t done = 0;
    while (done < dataSize) {
        source->SetPosition(readPos);
        const std::int64_t want = std::min<std::int64_t>(dataSize - done, static_cast<std::int64_t>(buf.size()));
        const std::int64_t got = source->Read(buf.data(), want);
        if (got <= 0) break;
        readPos += got;
        CodeBlock(buf.data(), static_cast<std::size_t>(got), action);
        if (action != paCalculate) {
            out->SetPosition(writePos);
            out->WriteBuffer(buf.data(), got);
            writePos += got;
        }
        done += got;
        DoProgress(this, done, dataSize);
    }
    DoProgress(this, 0, 0);
    WipeMemory(buf.data(), buf.size());
    DoneCoding(action);
}

void TCoder::CodeFile(const std::u16string& source, const std::u16string& dest, int action) {
    const bool blank = std::all_of(dest.begin(), dest.end(), [](char16_t c) { return c <= u' '; });
    // Compare the expanded names so that "./a" and "a" count as one file and are never
    // truncated by the create below.
    const bool same = !blank && WideExpandFileName(source) == WideExpandFileName(dest);
    if ((!blank && !same) || action == paCalculate) {
        TUniFileStream in(source, fmOpenRead | fmShareDenyNone);
        if (action == paCalculate) {
            CodeStream(&in, nullptr, -1, action);
            return;
        }
        TUniFileStream out(dest, fmCreate);
        CodeStream(&in, &out, -1, action);
        out.SetSize(out.Position());
        out.Close();  // a close that fails may have lost what was written
    } else {
        TUniFileStream io(source, fmOpenReadWrite);
        CodeStream(&io, nullptr, -1, action);
        io.Close();
    }
}

std::string TCoder::CodeString(const std::string& source, int action, int format) {
    if (source.empty()) return {};
    const std::string bytes = action == paDecode ? FormattedTextToBinary(source, format) : source;
    TMemoryStream ms;
    ms.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    ms.SetPosition(0);
    CodeStream(&ms, nullptr, static_cast<std::int64_t>(bytes.size()), action);
    const std::vector<std::uint8_t>& coded = ms.Data();
    if (action == paDecode) return std::string(coded.begin(), coded.end());
    return BinaryToFormattedText(coded.data(), static_cast<std::ptrdiff_t>(coded.size()), format);
}

std::uint32_t SwapInteger(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

void SwapIntegerBuffer(const std::uint32_t* source, std::uint32_t* dest, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) dest[i] = SwapInteger(source[i]);
}

int CompareMemDiff(const void* a, const void* b, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(a);
    const auto* q = static_cast<const std::uint8_t*>(b);
    for (std::size_t i = 0; i < size; ++i)
        if (p[i] != q[i]) return int{p[i]} - int{q[i]};
    return 0;
}

void XorBuffers(const void* a, const void* b, std::size_t size, void* dest) {
    const auto* p = static_cast<const std::uint8_t*>(a);
    const auto* q = static_cast<const std::uint8_t*>(b);
    auto* d = static_cast<std::uint8_t*>(dest);
    for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<std::uint8_t>(p[i] ^ q[i]);
}

std::ptrdiff_t FindByteInBuffer(std::uint8_t value, const void* buffer, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < size; ++i)
        if (p[i] == value) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::uint32_t RndTimeSeed() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::uint32_t msOfDay = static_cast<std::uint32_t>((now.tv_sec % 86400) * 1000 + now.tv_nsec / 1000000);
    timespec tick{};
    clock_gettime(CLOCK_MONOTONIC, &tick);
    const std::uint64_t counter =
        static_cast<std::uint64_t>(tick.tv_sec) * 1000000000u + static_cast<std::uint64_t>(tick.tv_nsec);
    return msOfDay ^ static_cast<std::uint32_t>(counter) ^ static_cast<std::uint32_t>(counter >> 32);
}

void RndXorBuffer(std::uint32_t seed, void* buffer, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < size; ++i) {
        seed = (seed ^ p[i]) * 134775813u + 1u;
        p[i] = static_cast<std::uint8_t>(seed >> 24);
    }
}

}  // namespace zip
