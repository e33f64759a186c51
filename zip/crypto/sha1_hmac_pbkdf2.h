// SHA-1, HMAC and PBKDF2 behind a small registry of hash descriptors (found by id or by name).
// The AES entry encryption derives its keys with PBKDF2-HMAC-SHA1 and signs the ciphertext with
// HMAC-SHA1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zip {

struct TSha1Context {
    std::uint32_t State[5];
    std::uint64_t BitCount;  // message length in bits, modulo 2^64
    std::uint8_t Block[64];
    std::uint32_t Fill;  // bytes waiting in Block
};

// Room for the running state of any registered hash.
union THashContext {
    TSha1Context Sha1;
};

inline constexpr std::uint16_t kHashMagic = 0x3D7A;
inline constexpr std::uint16_t kHashDescriptorSize = 80;
inline constexpr std::uint32_t kHashVersion = 0x00010003;
inline constexpr int kHashSlots = 9;
inline constexpr std::size_t kHashMaxBlock = 128;  // largest BlockSize an HMAC key block holds
inline constexpr std::size_t kHashMaxDigest = 64;  // largest DigestSize PBKDF2 and HMAC handle
inline constexpr std::uint8_t kSha1Id = 3;

struct THashDescriptor {
    std::uint16_t Magic;
    std::uint16_t DescriptorSize;
    std::uint32_t Version;
    std::uint16_t BlockSize;
    std::uint16_t DigestSize;
    void (*Init)(THashContext& context);
    void (*Final)(THashContext& context, std::uint8_t* digest);  // DigestSize bytes
    void (*Update)(THashContext& context, const void* data, std::size_t count);
    std::uint8_t Id;
    std::string_view Name;  // at most 19 characters
    std::span<const std::uint32_t> Oid;
};

// SHA-1 as published; Final writes 20 bytes and wipes the context.
void Sha1Init(THashContext& context);
void Sha1Update(THashContext& context, const void* data, std::size_t count);
void Sha1Final(THashContext& context, std::uint8_t* digest);
const THashDescriptor& Sha1Descriptor();

// Slot Id takes the descriptor only when it is well formed and carries that Id.
void RegisterHash(int id, const THashDescriptor* descriptor);
const THashDescriptor* FindHashById(int id);
// Letter case is ignored; only the first 19 characters count.
const THashDescriptor* FindHashByName(std::string_view name);
// Nothing happens for a null or malformed descriptor.
void HashFull(const THashDescriptor* descriptor, const void* data, std::size_t count, std::uint8_t* digest);

struct THmacContext {
    THashContext Hash;
    std::uint8_t KeyBlock[kHashMaxBlock];
    const THashDescriptor* Descriptor;  // null when the context is unusable
};

// A descriptor that is null, malformed or larger than the context leaves the context unbound:
// updates then do nothing and the final writes nothing.
void HmacInit(THmacContext& context, const THashDescriptor* descriptor, const void* key, std::size_t keyLength);
void HmacUpdate(THmacContext& context, const void* data, std::size_t count);
// Writes DigestSize bytes and wipes the context.
void HmacFinal(THmacContext& context, std::uint8_t* mac);

// PBKDF2 over the descriptor's HMAC: 0 on success, 1 for a null descriptor, 2 for one without a
// digest (or a malformed one). On failure the key is zeroed.
int Pbkdf2(const THashDescriptor* descriptor, const void* password, std::size_t passwordLength, std::uint16_t keyLength,
           std::uint8_t* key, std::int32_t iterations, std::uint16_t saltLength, const void* salt);

// While set, a failed derivation stops the program with exit status 254: a key that silently
// came out as zeros would encrypt with a known key.
extern bool StrictKdfErrors;

// PBKDF2-HMAC-SHA1 through the registered id 3; returns Pbkdf2's result.
int Pbkdf2Sha1(const void* password, std::size_t passwordLength, const void* salt, std::uint16_t keyLength,
               std::uint8_t* key, std::int32_t iterations, std::uint16_t saltLength);

}  // namespace zip
