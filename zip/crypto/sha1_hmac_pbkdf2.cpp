#include "crypto/sha1_hmac_pbkdf2.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "crypto/coder_base.h"

namespace zip {

bool StrictKdfErrors = true;

namespace {

std::uint32_t Rol(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

std::uint32_t LoadBE32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void StoreBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void Sha1Compress(std::uint32_t state[5], const std::uint8_t* block) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = LoadBE32(block + 4 * i);
    for (int i = 16; i < 80; ++i) w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    auto step = [&](std::uint32_t f, std::uint32_t k, std::uint32_t wi) {
        const std::uint32_t t = Rol(a, 5) + f + e + k + wi;
        e = d;
        d = c;
        c = Rol(b, 30);
        b = a;
        a = t;
    };
    for (int i = 0; i < 20; ++i) step((b & c) | (~b & d), 0x5A827999, w[i]);
    for (int i = 20; i < 40; ++i) step(b ^ c ^ d, 0x6ED9EBA1, w[i]);
    for (int i = 40; i < 60; ++i) step((b & c) | (b & d) | (c & d), 0x8F1BBCDC, w[i]);
    for (int i = 60; i < 80; ++i) step(b ^ c ^ d, 0xCA62C1D6, w[i]);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    WipeMemory(w, sizeof w);
}

constexpr std::uint32_t kSha1Oid[6] = {1, 3, 14, 3, 2, 26};

const THashDescriptor kSha1 = {
    kHashMagic,
    kHashDescriptorSize,
    kHashVersion,
    64,
    20,
    Sha1Init,
    Sha1Final,
    Sha1Update,
    kSha1Id,
    "SHA1",
    std::span<const std::uint32_t>(kSha1Oid),
};

std::array<std::atomic<const THashDescriptor*>, kHashSlots>& Registry() {
    // Cleared, then SHA-1 in its slot, before first use.
    static std::array<std::atomic<const THashDescriptor*>, kHashSlots> slots{nullptr, nullptr, nullptr, &kSha1, nullptr,
                                                                             nullptr, nullptr, nullptr, nullptr};
    return slots;
}

// A descriptor whose sizes fit our fixed buffers and whose routines are there.
bool Usable(const THashDescriptor* d) {
    return d && d->Magic == kHashMagic && d->Init && d->Update && d->Final && d->BlockSize > 0 &&
           d->BlockSize <= kHashMaxBlock && d->DigestSize <= kHashMaxDigest;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameUpper(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

}  // namespace

void Sha1Init(THashContext& context) {
    TSha1Context& c = context.Sha1;
    c.State[0] = 0x67452301;
    c.State[1] = 0xEFCDAB89;
    c.State[2] = 0x98BADCFE;
    c.State[3] = 0x10325476;
    c.State[4] = 0xC3D2E1F0;
    c.BitCount = 0;
    c.Fill = 0;
    std::memset(c.Block, 0, sizeof c.Block);
}

void Sha1Update(THashContext& context, const void* data, std::size_t count) {
    TSha1Context& c = context.Sha1;
    const auto* p = static_cast<const std::uint8_t*>(data);
    // Unsigned wrap-around keeps the bit length exact modulo 2^64.
    c.BitCount += static_cast<std::uint64_t>(count) * 8u;
    while (count > 0) {
        const std::size_t n = std::min<std::size_t>(count, 64 - c.Fill);
        std::memcpy(c.Block + c.Fill, p, n);
        c.Fill += static_cast<std::uint32_t>(n);
        p += n;
        count -= n;
        if (c.Fill == 64) {
            Sha1Compress(c.State, c.Block);
            c.Fill = 0;
        }
    }
}

void Sha1Final(THashContext& context, std::uint8_t* digest) {
    TSha1Context& c = context.Sha1;
    const std::uint64_t bits = c.BitCount;
    c.Block[c.Fill++] = 0x80;
    if (c.Fill > 56) {
        std::memset(c.Block + c.Fill, 0, 64 - c.Fill);
        Sha1Compress(c.State, c.Block);
        c.Fill = 0;
    }
    std::memset(c.Block + c.Fill, 0, 56 - c.Fill);
    StoreBE32(c.Block + 56, static_cast<std::uint32_t>(bits >> 32));
    StoreBE32(c.Block + 60, static_cast<std::uint32_t>(bits));
    Sha1Compress(c.State, c.Block);
    for (int i = 0; i < 5; ++i) StoreBE32(digest + 4 * i, c.State[i]);
    WipeMemory(&c, sizeof c);
}

const THashDescriptor& Sha1Descriptor() { return kSha1; }

void RegisterHash(int id, const THashDescriptor* descriptor) {
    if (id < 0 || id >= kHashSlots || !descriptor || descriptor->Id != id || descriptor->Magic != kHashMagic ||
        descriptor->Version != kHashVersion || descriptor->DescriptorSize != kHashDescriptorSize)
        return;
    Registry()[static_cast<std::size_t>(id)].store(descriptor);
}

const THashDescriptor* FindHashById(int id) {
    if (id < 0 || id >= kHashSlots) return nullptr;
    const THashDescriptor* d = Registry()[static_cast<std::size_t>(id)].load();
    return d && d->Magic == kHashMagic && d->Id == id ? d : nullptr;
}

const THashDescriptor* FindHashByName(std::string_view name) {
    name = name.substr(0, 19);
    for (int id = 0; id < kHashSlots; ++id) {
        const THashDescriptor* d = Registry()[static_cast<std::size_t>(id)].load();
        if (d && d->Magic == kHashMagic && d->Id == id && SameUpper(d->Name.substr(0, 19), name)) return d;
    }
    return nullptr;
}

void HashFull(const THashDescriptor* descriptor, const void* data, std::size_t count, std::uint8_t* digest) {
    if (!Usable(descriptor)) return;
    THashContext c;
    descriptor->Init(c);
    descriptor->Update(c, data, count);
    descriptor->Final(c, digest);
    WipeMemory(&c, sizeof c);
}

void HmacInit(THmacContext& context, const THashDescriptor* descriptor, const void* key, std::size_t keyLength) {
    WipeMemory(&context, sizeof context);
    context.Descriptor = nullptr;
    if (!Usable(descriptor)) return;
    context.Descriptor = descriptor;
    if (keyLength <= descriptor->BlockSize) {
        if (keyLength > 0) std::memcpy(context.KeyBlock, key, keyLength);
    } else {
        HashFull(descriptor, key, keyLength, context.KeyBlock);
    }
    for (std::size_t i = 0; i < descriptor->BlockSize; ++i) context.KeyBlock[i] ^= 0x36;
    descriptor->Init(context.Hash);
    descriptor->Update(context.Hash, context.KeyBlock, descriptor->BlockSize);
}

void HmacUpdate(THmacContext& context, const void* data, std::size_t count) {
    if (context.Descriptor && count > 0) context.Descriptor->Update(context.Hash, data, count);
}

void HmacFinal(THmacContext& context, std::uint8_t* mac) {
    const THashDescriptor* d = context.Descriptor;
    if (!d) return;
    std::uint8_t inner[kHashMaxDigest];
    d->Final(context.Hash, inner);
    for (std::size_t i = 0; i < d->BlockSize; ++i) context.KeyBlock[i] ^= 0x36 ^ 0x5C;
    d->Init(context.Hash);
    d->Update(context.Hash, context.KeyBlock, d->BlockSize);
    d->Update(context.Hash, inner, d->DigestSize);
    d->Final(context.Hash, mac);
    WipeMemory(inner, sizeof inner);
    WipeMemory(&context, sizeof context);
    context.Descriptor = nullptr;
}

int Pbkdf2(const THashDescriptor* descriptor, const void* password, std::size_t passwordLength, std::uint16_t keyLength,
           std::uint8_t* key, std::int32_t iterations, std::uint16_t saltLength, const void* salt) {
    if (!descriptor) {
        if (keyLength > 0) std::memset(key, 0, keyLength);
        return 1;
    }
    if (descriptor->DigestSize == 0 || !Usable(descriptor)) {
        if (keyLength > 0) std::memset(key, 0, keyLength);
        return 2;
    }
    const std::size_t digestSize = descriptor->DigestSize;
    std::uint8_t counter[4] = {0, 0, 0, 0};
    std::uint8_t u[kHashMaxDigest];
    std::uint8_t block[kHashMaxDigest];
    // The keyed start state is made once and copied: a long password is hashed only once.
    THmacContext keyed;
    HmacInit(keyed, descriptor, password, passwordLength);
    THmacContext hmac;
    std::size_t done = 0;
    while (done < keyLength) {
        // Block index, big-endian, starting at 1.
        for (int i = 3; i >= 0 && ++counter[i] == 0; --i) {}
        std::memset(block, 0, digestSize);
        for (std::int32_t it = 0; it < iterations; ++it) {
            hmac = keyed;
            if (it == 0) {
                HmacUpdate(hmac, salt, saltLength);
                HmacUpdate(hmac, counter, sizeof counter);
            } else {
                HmacUpdate(hmac, u, digestSize);
            }
            HmacFinal(hmac, u);
            for (std::size_t i = 0; i < digestSize; ++i) block[i] ^= u[i];
        }
        const std::size_t n = std::min<std::size_t>(digestSize, keyLength - done);
        std::memcpy(key + done, block, n);
        done += n;
    }
    WipeMemory(u, sizeof u);
    WipeMemory(block, sizeof block);
    WipeMemory(&keyed, sizeof keyed);
    return 0;
}

int Pbkdf2Sha1(const void* password, std::size_t passwordLength, const void* salt, std::uint16_t keyLength,
               std::uint8_t* key, std::int32_t iterations, std::uint16_t saltLength) {
    const int result =
        Pbkdf2(FindHashById(kSha1Id), password, passwordLength, keyLength, key, iterations, saltLength, salt);
    if (result != 0 && StrictKdfErrors) std::_Exit(254);
    return result;
}

}  // namespace zip
