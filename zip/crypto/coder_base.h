// The base of the component's coding objects: a TCoder transforms data block by block, can be
// chained to a second coder (its protection) and runs over a buffer, a stream, a file or a
// string. Beside it: the buffer utilities and the random scramble that wipes chaining state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "text/streams.h"

namespace zip {

// Action codes; other values are passed through untouched.
enum : int { paEncode = 0, paDecode = 1, paCalculate = 3, paWipe = 4 };

class ECoder : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TCoder;
using TCoderRef = std::shared_ptr<TCoder>;

class TCoder {
public:
    TCoder() = default;
    virtual ~TCoder() = default;
    TCoder(const TCoder&) = delete;
    TCoder& operator=(const TCoder&) = delete;

    const TCoderRef& GetProtection() const { return protection_; }
    // Raises ECoder, keeping the old chain, when value leads back to this coder.
    void SetProtection(TCoderRef value);

    // The hooks forward to the chained protection when there is one.
    virtual void InitCoding(int action);
    virtual void DoneCoding(int action);
    virtual void CodeBlock(std::uint8_t* buffer, std::size_t size, int action);
    // Without dest the data are coded in place; dataSize below 0 codes all of source from
    // position 0, otherwise dataSize bytes from its current position.
    virtual void CodeStream(TStream* source, TStream* dest, std::int64_t dataSize, int action);
    // A blank dest, or dest naming source, codes the file in place.
    virtual void CodeFile(const std::u16string& source, const std::u16string& dest, int action);
    // Decoding takes text in the format and returns bytes; the other actions take bytes and
    // return text. Format -1 is the default format.
    virtual std::string CodeString(const std::string& source, int action, int format = -1);
    virtual std::size_t CodeBuffer(void* buffer, std::size_t size, int action);

    // Action codes 0..7 this coder applies in its CodeBlock; nobody in the component fills it.
    std::uint8_t ProtectionActions = 0;
    bool HasAction(int action) const { return action >= 0 && action < 8 && (ProtectionActions >> action) & 1; }

private:
    TCoderRef protection_;
};

// Progress of stream coding: sender, position and total; (0, 0) marks the end.
using TProgressProc = std::function<void(const void* sender, std::int64_t position, std::int64_t total)>;
extern TProgressProc ProgressProc;
void DoProgress(const void* sender, std::int64_t position, std::int64_t total);

// Overwrites memory in a way the optimiser keeps.
void WipeMemory(void* p, std::size_t size);

inline std::uint32_t RotateLeft32(std::uint32_t value, unsigned shift) {
    shift &= 31;
    return shift == 0 ? value : (value << shift) | (value >> (32 - shift));
}
std::uint32_t SwapInteger(std::uint32_t value);
void SwapIntegerBuffer(const std::uint32_t* source, std::uint32_t* dest, std::size_t count);

// 0 when equal, else the first differing byte of a minus that of b.
int CompareMemDiff(const void* a, const void* b, std::size_t size);
void XorBuffers(const void* a, const void* b, std::size_t size, void* dest);
// 0-based position of the first such byte, or -1.
std::ptrdiff_t FindByteInBuffer(std::uint8_t value, const void* buffer, std::size_t size);

// Milliseconds of the current UTC day mixed with a high-resolution counter.
std::uint32_t RndTimeSeed();
// Scrambles the buffer with a linear congruential stream fed by its own bytes.
void RndXorBuffer(std::uint32_t seed, void* buffer, std::size_t size);

}  // namespace zip
