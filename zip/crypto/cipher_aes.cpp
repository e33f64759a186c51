#include "crypto/cipher_aes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "text/errors.h"

namespace zip {

bool StrictCipherKeySize = true;

void RaiseCipherException(int code, const std::string& message) { throw ECipherException(code, message); }

// ---------------------------------------------------------------------------------------------
// TCipher

TCipher::TCipher(const TCipherContext& context)
    : BufSize(context.BufSize),
      KeySize(context.KeySize),
      UserSize(context.UserSize),
      buffer_(BufSize),
      vector_(BufSize),
      feedback_(BufSize),
      user_(UserSize),
      keyStream_(BufSize),
      counter_(BufSize),
      scratch_(BufSize),
      counterPosition_(BufSize) {
    TCipher::Protect();
}

TCipher::~TCipher() {
    TCipher::Protect();
    for (auto* v : {&buffer_, &vector_, &feedback_, &user_, &keyStream_, &counter_, &scratch_})
        WipeMemory(v->data(), v->size());
}

void TCipher::SetFlag(int bit, bool value) {
    if (bit < 0 || bit >= 32) return;
    if (value) flags_ |= 1u << bit;
    else flags_ &= ~(1u << bit);
}

void TCipher::Protect() {
    SetFlag(0, false);
    SetFlag(cfInitialized, false);
    for (auto* v : {&vector_, &feedback_, &buffer_, &user_}) {
        std::fill(v->begin(), v->end(), 0xAA);
        std::fill(v->begin(), v->end(), 0x55);
    }
    std::fill(vector_.begin(), vector_.end(), 0xFF);
    std::fill(feedback_.begin(), feedback_.end(), 0xFF);
    for (auto* v : {&buffer_, &user_, &counter_, &keyStream_, &scratch_}) std::fill(v->begin(), v->end(), 0);
    // A new key starts at counter 1; no key stream of the old key may be used up after it.
    counterPosition_ = BufSize;
}

void TCipher::InitBegin(int& keyLength) {
    SetFlag(cfInitialized, false);
    Protect();
    if (keyLength < 0) keyLength = 0;
    if (static_cast<std::size_t>(keyLength) > KeySize) {
        if (StrictCipherKeySize)
            RaiseCipherException(
                ceKeyLength, ZipFormat("Length from Encryptionkey is invalid.\r\nKeysize for %s must be to %d-%d bytes",
                                       {std::u16string(ClassName(), ClassName() + std::strlen(ClassName())),
                                        std::int64_t{0}, static_cast<std::int64_t>(KeySize)}));
        keyLength = static_cast<int>(KeySize);
    }
}

void TCipher::InitEnd(std::span<const std::uint8_t> iv) {
    if (!iv.empty()) {
        std::fill(vector_.begin(), vector_.end(), 0);
        std::memcpy(vector_.data(), iv.data(), std::min(iv.size(), BufSize));
    } else {
        EncodeBlock(vector_.data());
    }
    feedback_ = vector_;
    SetFlag(cfInitialized, true);
}

void TCipher::InitKey(std::vector<std::uint8_t>& key) {
    const std::size_t length = std::min(key.size(), KeySize);
    Init(key.data(), static_cast<int>(length), {});
    std::vector<std::uint8_t> encrypted(length);
    EncodeBuffer(key.data(), encrypted.data(), length);
    WipeMemory(key.data(), key.size());
    key.swap(encrypted);
    Done();
}

void TCipher::Done() {
    if (feedback_ != vector_) {
        buffer_ = feedback_;
        feedback_ = vector_;
    }
}

void TCipher::CheckInitialized() const {
    if (!GetFlag(cfInitialized))
        RaiseCipherException(ceNotInitialized,
                             std::string(ClassName()) + " is not initialized call Init() or InitKey() before.");
}

void TCipher::InitCoding(int action) {
    CheckInitialized();
    if (action == paWipe) RndXorBuffer(RndTimeSeed(), feedback_.data(), feedback_.size());
    else if (action != paCalculate) Done();
    TCoder::InitCoding(action);
}

void TCipher::DoneCoding(int action) {
    TCoder::DoneCoding(action);
    if (action == paWipe) RndXorBuffer(RndTimeSeed(), feedback_.data(), feedback_.size());
    else if (action != paCalculate) Done();
}

void TCipher::CodeBlock(std::uint8_t* buffer, std::size_t size, int action) {
    if (action == paDecode) {
        if (HasAction(action)) DecodeBuffer(buffer, buffer, size);
        TCoder::CodeBlock(buffer, size, action);
    } else {
        TCoder::CodeBlock(buffer, size, action);
        if (HasAction(action)) EncodeBuffer(buffer, buffer, size);
    }
}

// The partial last block of the block modes: xor with the encrypted feedback.
void TCipher::EncodeTail(const std::uint8_t* s, std::uint8_t* d, std::size_t n) {
    buffer_ = feedback_;
    EncodeBlock(buffer_.data());
    for (std::size_t k = 0; k < n; ++k) d[k] = static_cast<std::uint8_t>(s[k] ^ buffer_[k]);
}

std::uint8_t TCipher::FeedbackKeyByte() {
    buffer_ = feedback_;
    EncodeBlock(buffer_.data());
    return buffer_[0];
}

void TCipher::ShiftIn(std::uint8_t value) {
    std::memmove(feedback_.data(), feedback_.data() + 1, BufSize - 1);
    feedback_[BufSize - 1] = value;
}

void TCipher::CtrBuffer(const std::uint8_t* s, std::uint8_t* d, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (counterPosition_ >= BufSize) {
            for (std::size_t k = 0; k < 8 && k < BufSize; ++k)
                if (++counter_[k] != 0) break;
            keyStream_ = counter_;
            EncodeBlock(keyStream_.data());
            counterPosition_ = 0;
        }
        d[i] = static_cast<std::uint8_t>(s[i] ^ keyStream_[counterPosition_++]);
    }
}

// The key stream of OFB8 does not depend on the data, so both directions are the same.
void TCipher::OfbBuffer(const std::uint8_t* s, std::uint8_t* d, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t k = FeedbackKeyByte();
        d[i] = static_cast<std::uint8_t>(s[i] ^ k);
        ShiftIn(k);
    }
}

void TCipher::EcbBuffer(const std::uint8_t* s, std::uint8_t* d, std::size_t size, bool decode) {
    std::size_t i = 0;
    for (; i + BufSize <= size; i += BufSize) {
        std::memmove(d + i, s + i, BufSize);
        if (decode) DecodeBlock(d + i);
        else EncodeBlock(d + i);
    }
    // A partial block is xored with the encrypted vector in both directions, so decoding undoes it.
    if (i < size) EncodeTail(s + i, d + i, size - i);
}

void TCipher::MacBuffer(const std::uint8_t* s, std::size_t size) {
    if (Mode == cmCFB8MAC) {
        for (std::size_t i = 0; i < size; ++i) ShiftIn(static_cast<std::uint8_t>(s[i] ^ FeedbackKeyByte()));
        return;
    }
    std::size_t i = 0;
    for (; i + BufSize <= size; i += BufSize) {
        XorBuffers(s + i, feedback_.data(), BufSize, buffer_.data());
        EncodeBlock(buffer_.data());
        if (Mode == cmCTSMAC) XorBuffers(buffer_.data(), feedback_.data(), BufSize, feedback_.data());
        else feedback_ = buffer_;
    }
    if (i < size) {
        buffer_ = feedback_;
        EncodeBlock(buffer_.data());
        XorBuffers(buffer_.data(), feedback_.data(), BufSize, feedback_.data());
    }
}

void TCipher::EncodeBuffer(const void* source, void* dest, std::size_t size) {
    CheckInitialized();
    const auto* s = static_cast<const std::uint8_t*>(source);
    auto* d = static_cast<std::uint8_t*>(dest);
    std::size_t i = 0;
    switch (Mode) {
    case cmCTS:
    case cmCBC:
        for (; i + BufSize <= size; i += BufSize) {
            XorBuffers(s + i, feedback_.data(), BufSize, buffer_.data());
            EncodeBlock(buffer_.data());
            std::memcpy(d + i, buffer_.data(), BufSize);
            if (Mode == cmCTS) XorBuffers(feedback_.data(), buffer_.data(), BufSize, feedback_.data());
            else feedback_ = buffer_;
        }
        if (i < size) EncodeTail(s + i, d + i, size - i);
        break;
    case cmCFB8:
        for (; i < size; ++i) {
            const auto out = static_cast<std::uint8_t>(s[i] ^ FeedbackKeyByte());
            d[i] = out;
            ShiftIn(out);
        }
        break;
    case cmOFB8: OfbBuffer(s, d, size); break;
    case cmCTR: CtrBuffer(s, d, size); break;
    case cmECB: EcbBuffer(s, d, size, false); break;
    case cmCTSMAC:
    case cmCBCMAC:
    case cmCFB8MAC: MacBuffer(s, size); break;
    default: break;
    }
}

void TCipher::DecodeBuffer(const void* source, void* dest, std::size_t size) {
    CheckInitialized();
    const auto* s = static_cast<const std::uint8_t*>(source);
    auto* d = static_cast<std::uint8_t*>(dest);
    std::size_t i = 0;
    switch (Mode) {
    case cmCTS:
    case cmCBC:
        for (; i + BufSize <= size; i += BufSize) {
            std::memcpy(scratch_.data(), s + i, BufSize);  // the ciphertext, before d overwrites it
            buffer_ = scratch_;
            DecodeBlock(buffer_.data());
            XorBuffers(buffer_.data(), feedback_.data(), BufSize, d + i);
            if (Mode == cmCTS) XorBuffers(feedback_.data(), scratch_.data(), BufSize, feedback_.data());
            else feedback_ = scratch_;
        }
        if (i < size) EncodeTail(s + i, d + i, size - i);
        break;
    case cmCFB8:
        for (; i < size; ++i) {
            const std::uint8_t in = s[i];
            d[i] = static_cast<std::uint8_t>(in ^ FeedbackKeyByte());
            ShiftIn(in);
        }
        break;
    case cmOFB8: OfbBuffer(s, d, size); break;
    case cmCTR: CtrBuffer(s, d, size); break;
    case cmECB: EcbBuffer(s, d, size, true); break;
    case cmCTSMAC:
    case cmCBCMAC:
    case cmCFB8MAC: MacBuffer(s, size); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// AES tables, built at compile time from the field arithmetic of GF(2^8).

namespace {

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    while (b) {
        if (b & 1) r = static_cast<std::uint8_t>(r ^ a);
        a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
        b = static_cast<std::uint8_t>(b >> 1);
    }
    return r;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) { return static_cast<std::uint8_t>((x << n) | (x >> (8 - n))); }

constexpr std::uint32_t Ror32(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

struct AesTables {
    std::uint8_t S[256];
    std::uint8_t Si[256];
    std::uint32_t Te[4][256];
    std::uint32_t Td[4][256];
};

constexpr AesTables MakeTables() {
    AesTables t{};
    // Walk the multiplicative group with generator 3 and its inverse 1/3 side by side.
    std::uint8_t p = 1, q = 1;
    do {
        p = static_cast<std::uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
        q = static_cast<std::uint8_t>(q ^ (q << 1));
        q = static_cast<std::uint8_t>(q ^ (q << 2));
        q = static_cast<std::uint8_t>(q ^ (q << 4));
        if (q & 0x80) q = static_cast<std::uint8_t>(q ^ 0x09);
        const auto x = static_cast<std::uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4));
        t.S[p] = static_cast<std::uint8_t>(x ^ 0x63);
    } while (p != 1);
    t.S[0] = 0x63;
    for (int i = 0; i < 256; ++i) t.Si[t.S[i]] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t s = t.S[i];
        const std::uint32_t e =
            (std::uint32_t{Mul(s, 2)} << 24) | (std::uint32_t{s} << 16) | (std::uint32_t{s} << 8) | Mul(s, 3);
        const std::uint8_t si = t.Si[i];
        const std::uint32_t d = (std::uint32_t{Mul(si, 14)} << 24) | (std::uint32_t{Mul(si, 9)} << 16) |
                                (std::uint32_t{Mul(si, 13)} << 8) | Mul(si, 11);
        for (int k = 0; k < 4; ++k) {
            t.Te[k][i] = k == 0 ? e : Ror32(e, 8 * k);
            t.Td[k][i] = k == 0 ? d : Ror32(d, 8 * k);
        }
    }
    return t;
}

constexpr AesTables kAes = MakeTables();

std::uint32_t LoadBE(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void StoreBE(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Round key words live in the byte area User: encryption keys at word 0, decryption at 60.
constexpr std::size_t kDecKeys = 60;

std::uint32_t Word(const std::uint8_t* user, std::size_t index) {
    std::uint32_t w;
    std::memcpy(&w, user + 4 * index, 4);
    return w;
}

void SetWord(std::uint8_t* user, std::size_t index, std::uint32_t w) { std::memcpy(user + 4 * index, &w, 4); }

std::uint32_t SubWord(std::uint32_t w) {
    return (std::uint32_t{kAes.S[w >> 24]} << 24) | (std::uint32_t{kAes.S[(w >> 16) & 255]} << 16) |
           (std::uint32_t{kAes.S[(w >> 8) & 255]} << 8) | kAes.S[w & 255];
}

std::uint32_t InvMixColumn(std::uint32_t w) {
    return kAes.Td[0][kAes.S[w >> 24]] ^ kAes.Td[1][kAes.S[(w >> 16) & 255]] ^ kAes.Td[2][kAes.S[(w >> 8) & 255]] ^
           kAes.Td[3][kAes.S[w & 255]];
}

// The rounds of one block with the round keys at u. Decoding runs the same rounds with the inverse
// tables; its row shift takes the columns in the other direction.
void CryptBlock(std::uint8_t* block, const std::uint8_t* u, int rounds, const std::uint32_t (&T)[4][256],
                const std::uint8_t (&S)[256], bool inverse) {
    const std::size_t step = inverse ? 3 : 1;
    auto col = [step](std::size_t j, std::size_t i) { return (j + i * step) & 3; };
    std::uint32_t s[4], t[4];
    for (std::size_t j = 0; j < 4; ++j) s[j] = LoadBE(block + 4 * j) ^ Word(u, j);
    std::size_t k = 4;
    for (int r = 1; r < rounds; ++r, k += 4) {
        for (std::size_t j = 0; j < 4; ++j)
            t[j] = T[0][s[j] >> 24] ^ T[1][(s[col(j, 1)] >> 16) & 255] ^ T[2][(s[col(j, 2)] >> 8) & 255] ^
                   T[3][s[col(j, 3)] & 255] ^ Word(u, k + j);
        std::memcpy(s, t, sizeof s);
    }
    for (std::size_t j = 0; j < 4; ++j) {
        const std::uint32_t w = (std::uint32_t{S[s[j] >> 24]} << 24) |
                                (std::uint32_t{S[(s[col(j, 1)] >> 16) & 255]} << 16) |
                                (std::uint32_t{S[(s[col(j, 2)] >> 8) & 255]} << 8) | S[s[col(j, 3)] & 255];
        StoreBE(block + 4 * j, w ^ Word(u, k + j));
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TCipherAES

TCipherAES::TCipherAES() : TCipher(Context()) {}

TCipherAES::TCipherAES(std::vector<std::uint8_t>& key) : TCipher(Context()) { InitKey(key); }

std::span<const std::uint8_t, 32> TCipherAES::KnownAnswers() {
    static constexpr std::uint8_t kVector[32] = {
        0x69, 0xC4, 0xE0, 0xD8, 0x6A, 0x7B, 0x04, 0x30, 0xD8, 0xCD, 0xB7, 0x80, 0x70, 0xB4, 0xC5, 0x5A,  // AES-128
        0x8E, 0xA2, 0xB7, 0xCA, 0x51, 0x67, 0x45, 0xBF, 0xEA, 0xFC, 0x49, 0x90, 0x4B, 0x49, 0x60, 0x89,  // AES-256
    };
    return std::span<const std::uint8_t, 32>(kVector);
}

void TCipherAES::Init(const void* key, int keyLength, std::span<const std::uint8_t> iv) {
    if (!key) keyLength = 0;
    InitBegin(keyLength);
    rounds_ = keyLength <= 16 ? 10 : keyLength <= 24 ? 12 : 14;
    const std::size_t nk = static_cast<std::size_t>(rounds_ - 6);
    std::uint8_t padded[32] = {};
    if (keyLength > 0) std::memcpy(padded, key, static_cast<std::size_t>(keyLength));
    std::uint8_t* u = User();
    const std::size_t words = 4 * static_cast<std::size_t>(rounds_ + 1);
    for (std::size_t i = 0; i < nk; ++i) SetWord(u, i, LoadBE(padded + 4 * i));
    std::uint32_t rcon = 1;
    for (std::size_t i = nk; i < words; ++i) {
        std::uint32_t t = Word(u, i - 1);
        if (i % nk == 0) {
            t = SubWord((t << 8) | (t >> 24)) ^ (rcon << 24);
            rcon = Mul(static_cast<std::uint8_t>(rcon), 2);
        } else if (nk > 6 && i % nk == 4) {
            t = SubWord(t);
        }
        SetWord(u, i, Word(u, i - nk) ^ t);
    }
    // Equivalent inverse cipher: round keys in reverse order, inner ones through InvMixColumns.
    const std::size_t nr = static_cast<std::size_t>(rounds_);
    for (std::size_t r = 0; r <= nr; ++r)
        for (std::size_t c = 0; c < 4; ++c) {
            const std::uint32_t w = Word(u, 4 * (nr - r) + c);
            SetWord(u, kDecKeys + 4 * r + c, r == 0 || r == nr ? w : InvMixColumn(w));
        }
    WipeMemory(padded, sizeof padded);
    InitEnd(iv);
}

void TCipherAES::EncodeBlock(std::uint8_t* block) { CryptBlock(block, User(), rounds_, kAes.Te, kAes.S, false); }

void TCipherAES::DecodeBlock(std::uint8_t* block) {
    CryptBlock(block, User() + 4 * kDecKeys, rounds_, kAes.Td, kAes.Si, true);
}

// ---------------------------------------------------------------------------------------------
// Cipher registry

namespace {

std::unique_ptr<TCipher> CreateAES() { return std::make_unique<TCipherAES>(); }

const TCipherClass kAESClass = {"TCipherAES", CreateAES};

std::string DefaultCipherName(const std::string& className) {
    std::string n = className;
    if (!n.empty() && n[0] == 'T') n.erase(0, 1);
    if (n.rfind("Cipher", 0) == 0) n.erase(0, 6);
    return n;
}

struct CipherRegistry {
    std::mutex Lock;
    std::vector<TCipherListEntry> Entries;
};

CipherRegistry& Ciphers() {
    static CipherRegistry r{{}, {{&kAESClass, DefaultCipherName(kAESClass.ClassName) + "="}}};
    return r;
}

}  // namespace

const TCipherClass& CipherAESClass() { return kAESClass; }

void RegisterCipher(const TCipherClass& cls, const std::string& name, const std::string& description) {
    const std::string text = (name.empty() ? DefaultCipherName(cls.ClassName) : name) + "=" + description;
    CipherRegistry& r = Ciphers();
    std::lock_guard<std::mutex> hold(r.Lock);
    for (TCipherListEntry& e : r.Entries)
        if (e.Class == &cls) {
            e.Text = text;
            return;
        }
    r.Entries.push_back({&cls, text});
}

std::vector<TCipherListEntry> CipherList() {
    CipherRegistry& r = Ciphers();
    std::lock_guard<std::mutex> hold(r.Lock);
    return r.Entries;
}

}  // namespace zip
