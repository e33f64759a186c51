// The generic block cipher (key schedule, chaining state, nine modes of running over a buffer)
// and AES as its one concrete cipher. AES entries of an archive use counter mode (cmCTR).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "crypto/coder_base.h"

namespace zip {

class ECipherException : public ECoder {
public:
    ECipherException(int code, const std::string& message) : ECoder(message), ErrorCode(code) {}
    int ErrorCode;
};

enum : int { ceKeyLength = 2, ceNotInitialized = 3 };

[[noreturn]] void RaiseCipherException(int code, const std::string& message);

enum : std::uint8_t {
    cmCTS = 0,  // full blocks chained by xor of all ciphertext so far
    cmCBC = 1,
    cmCFB8 = 2,
    cmOFB8 = 3,
    cmCTR = 4,  // little-endian counter in the low 8 bytes, starting at 1
    cmECB = 5,
    cmCTSMAC = 6,  // the MAC modes write nothing; the MAC is left in the feedback
    cmCBCMAC = 7,
    cmCFB8MAC = 8,
};

// While set, a key longer than the cipher takes raises ceKeyLength; else it is cut.
extern bool StrictCipherKeySize;

struct TCipherContext {
    std::size_t BufSize;   // block size in bytes
    std::size_t KeySize;   // largest key in bytes
    std::size_t UserSize;  // key schedule area in bytes
};

enum : int { cfInitialized = 1 };

class TCipher : public TCoder {
public:
    ~TCipher() override;

    void InitCoding(int action) override;
    void DoneCoding(int action) override;
    void CodeBlock(std::uint8_t* buffer, std::size_t size, int action) override;

    bool GetFlag(int bit) const { return bit >= 0 && bit < 32 && (flags_ >> bit) & 1u; }
    virtual void SetFlag(int bit, bool value);
    // Sets the chaining start: the first BufSize bytes of iv (a shorter one is zero-padded), or
    // without iv the encrypted all-0xFF vector.
    virtual void InitEnd(std::span<const std::uint8_t> iv);
    virtual TCipherContext GetContext() const = 0;
    // The class's self-test vector: 32 bytes of published known answers of the cipher.
    virtual std::span<const std::uint8_t, 32> TestVector() const = 0;
    virtual const char* ClassName() const = 0;
    // One block of BufSize bytes in place, under the current key.
    virtual void EncodeBlock(std::uint8_t* block) = 0;
    virtual void DecodeBlock(std::uint8_t* block) = 0;
    // A negative length counts as 0; a key beyond KeySize: see StrictCipherKeySize.
    virtual void Init(const void* key, int keyLength, std::span<const std::uint8_t> iv = {}) = 0;
    // Restarts the chaining from the vector.
    virtual void Done();
    // Forgets the key and wipes all chaining and counter state.
    virtual void Protect();

    // Keys the cipher with at most KeySize bytes of key, then replaces key by those bytes
    // encrypted under the new key in the current mode, so no plain copy stays with the caller.
    void InitKey(std::vector<std::uint8_t>& key);

    // Source and dest may be the same buffer. Raise ceNotInitialized before a key is set.
    void EncodeBuffer(const void* source, void* dest, std::size_t size);
    void DecodeBuffer(const void* source, void* dest, std::size_t size);

    bool Initialized() const { return GetFlag(cfInitialized); }
    std::span<const std::uint8_t> Vector() const { return vector_; }
    std::span<const std::uint8_t> Feedback() const { return feedback_; }

    std::uint8_t Mode = cmCTS;

protected:
    explicit TCipher(const TCipherContext& context);
    // Clears the initialised flag, wipes, and checks or cuts the key length.
    void InitBegin(int& keyLength);
    std::uint8_t* User() { return user_.data(); }
    const std::uint8_t* User() const { return user_.data(); }

    const std::size_t BufSize;
    const std::size_t KeySize;
    const std::size_t UserSize;

private:
    void CheckInitialized() const;
    void EncodeTail(const std::uint8_t* s, std::uint8_t* d, std::size_t n);
    void ShiftIn(std::uint8_t value);
    std::uint8_t FeedbackKeyByte();
    void CtrBuffer(const std::uint8_t* s, std::uint8_t* d, std::size_t size);
    void OfbBuffer(const std::uint8_t* s, std::uint8_t* d, std::size_t size);
    void EcbBuffer(const std::uint8_t* s, std::uint8_t* d, std::size_t size, bool decode);
    void MacBuffer(const std::uint8_t* s, std::size_t size);

    std::vector<std::uint8_t> buffer_, vector_, feedback_, user_, keyStream_, counter_, scratch_;
    std::uint32_t flags_ = 0;
    std::size_t counterPosition_;
};

class TCipherAES : public TCipher {
public:
    TCipherAES();
    // Keys the cipher with InitKey: key holds the encrypted key afterwards.
    explicit TCipherAES(std::vector<std::uint8_t>& key);

    static TCipherContext Context() { return {16, 32, 480}; }
    TCipherContext GetContext() const override { return Context(); }
    // FIPS-197 appendix C: the block 00112233..EEFF encrypted under the key 000102..0F (C.1),
    // then under the key 000102..1F (C.3).
    static std::span<const std::uint8_t, 32> KnownAnswers();
    std::span<const std::uint8_t, 32> TestVector() const override { return KnownAnswers(); }
    const char* ClassName() const override { return "TCipherAES"; }
    void EncodeBlock(std::uint8_t* block) override;
    void DecodeBlock(std::uint8_t* block) override;
    void Init(const void* key, int keyLength, std::span<const std::uint8_t> iv = {}) override;

    int Rounds() const { return rounds_; }

private:
    int rounds_ = 10;
};

// The registered cipher classes, each with its "Name=Description" text.
struct TCipherClass {
    const char* ClassName;
    std::unique_ptr<TCipher> (*Create)();
};
struct TCipherListEntry {
    const TCipherClass* Class;
    std::string Text;
};
const TCipherClass& CipherAESClass();
// An empty name is the class name without its "T" and a leading "Cipher"; registering a class
// again replaces its text. AES is registered before first use.
void RegisterCipher(const TCipherClass& cls, const std::string& name = {}, const std::string& description = {});
std::vector<TCipherListEntry> CipherList();

}  // namespace zip
