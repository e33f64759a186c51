#include "crypto/cipher_aes.h"

#include <gtest/gtest.h>

#include "crypto/text_codecs.h"
#include "test_util.h"

using namespace zip;
using ziptest::Hex;
using ziptest::RandomBytes;
using ziptest::Unhex;

namespace {

const std::string kKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string kIv = "000102030405060708090a0b0c0d0e0f";
const std::string kPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

std::unique_ptr<TCipherAES> MakeCipher(const std::string& keyHex, std::uint8_t mode, const std::string& ivHex = {}) {
    auto c = std::make_unique<TCipherAES>();
    const auto key = Unhex(keyHex);
    const auto iv = Unhex(ivHex);
    c->Init(key.data(), static_cast<int>(key.size()), iv);
    c->Mode = mode;
    return c;
}

std::string Encode(TCipher& c, const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(in.size());
    c.EncodeBuffer(in.data(), out.data(), in.size());
    return Hex(out);
}

std::string Decode(TCipher& c, const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(in.size());
    c.DecodeBuffer(in.data(), out.data(), in.size());
    return Hex(out);
}

template <class Bytes>
std::string HexOf(const Bytes& b) {
    return Hex(std::vector<std::uint8_t>(b.begin(), b.end()));
}

int CipherErrorCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const ECipherException& e) {
        return e.ErrorCode;
    }
    return 0;
}

}  // namespace

TEST(CipherAES, Sp800_38aEcbCbcCfb8) {
    const std::string cbc128 =
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
    const struct {
        std::string key;
        std::uint8_t mode;
        std::string iv, plain, coded;
    } cases[] = {
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", cmECB, "", kPlain,
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
         "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
        {kKey128, cmCBC, kIv, kPlain, cbc128},
        {kKey128, cmCFB8, kIv, "6bc1bee22e409f96e93d7e117393172aae2d", "3b79424c9c0dd436bace9e0ed4586a4f32b9"},
    };
    for (const auto& c : cases) {
        auto cipher = MakeCipher(c.key, c.mode, c.iv);
        EXPECT_EQ(Encode(*cipher, Unhex(c.plain)), c.coded) << int(c.mode);
        cipher->Done();  // back to the vector
        EXPECT_EQ(Decode(*cipher, Unhex(c.coded)), c.plain) << int(c.mode);
    }
    // CBC-MAC over whole blocks is the last CBC ciphertext block.
    const auto plain = Unhex(kPlain);
    auto mac = MakeCipher(kKey128, cmCBCMAC, kIv);
    std::vector<std::uint8_t> unused(plain.size());
    mac->EncodeBuffer(plain.data(), unused.data(), plain.size());
    EXPECT_EQ(HexOf(mac->Feedback()), cbc128.substr(96));
}

// The class's self-test vector is what the cipher makes of the published inputs, in ECB over the
// whole block, for the shortest and the longest key; the registered class gives the same.
TEST(CipherAES, TestVectorIsReproduced) {
    EXPECT_EQ(HexOf(TCipherAES::KnownAnswers()),
              "69c4e0d86a7b0430d8cdb78070b4c55a"
              "8ea2b7ca516745bfeafc49904b496089");
    const auto plain = Unhex("00112233445566778899aabbccddeeff");
    std::string made;
    for (const char* key :
         {"000102030405060708090a0b0c0d0e0f", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"}) {
        auto cipher = MakeCipher(key, cmECB);
        made += Encode(*cipher, plain);
    }
    const std::unique_ptr<TCipher> registered = CipherAESClass().Create();
    EXPECT_EQ(HexOf(registered->TestVector()), made);
}

// The counter block holds a little-endian count from 1; each key stream block is that block
// encrypted, checked against the outside tool's plain AES.
TEST(CipherAES, CounterModeBlocksOneAndTwo) {
    const auto plain = RandomBytes(17, 4);
    auto ctr = MakeCipher(kKey128, cmCTR);
    std::vector<std::uint8_t> coded(plain.size());
    ctr->EncodeBuffer(plain.data(), coded.data(), plain.size());

    auto ecb = MakeCipher(kKey128, cmECB);
    std::vector<std::uint8_t> counters = Unhex(
        "01000000000000000000000000000000"
        "02000000000000000000000000000000");
    std::vector<std::uint8_t> stream(32);
    ecb->EncodeBuffer(counters.data(), stream.data(), 32);
    if (ziptest::HaveTool("openssl") && ziptest::HaveTool("xxd")) {
        EXPECT_EQ(ziptest::RunTool("echo " + Hex(counters) + " | xxd -r -p | openssl enc -aes-128-ecb -nopad -K " +
                                   kKey128 + " | xxd -p -c 64 | tr -d '\\n'"),
                  Hex(stream));
    }
    for (std::size_t i = 0; i < plain.size(); ++i) EXPECT_EQ(coded[i], plain[i] ^ stream[i]) << i;

    // A fresh cipher with the same key restores the input; Done leaves the counter running.
    auto again = MakeCipher(kKey128, cmCTR);
    std::vector<std::uint8_t> back(coded.size());
    again->Done();
    again->EncodeBuffer(coded.data(), back.data(), 10);
    again->DecodeBuffer(coded.data() + 10, back.data() + 10, 7);
    EXPECT_EQ(back, plain);
    // Keying again starts over at counter 1, whatever was used of the old stream.
    const auto other = Unhex("000102030405060708090a0b0c0d0e0f");
    again->Init(other.data(), 16);
    EXPECT_EQ(Encode(*again, plain), Encode(*MakeCipher(Hex(other), cmCTR), plain));
}

TEST(CipherAES, EveryModeRoundTripsInPiecesAndInPlace) {
    const auto plain = RandomBytes(75, 5);  // four blocks and a partial one
    for (std::uint8_t mode : {cmCTS, cmCBC, cmCFB8, cmOFB8, cmCTR, cmECB}) {
        auto whole = MakeCipher(kKey128, mode, kIv);
        const std::string once = Encode(*whole, plain);
        EXPECT_NE(once, Hex(plain)) << int(mode);

        // The chaining state carries over from call to call.
        auto pieces = MakeCipher(kKey128, mode, kIv);
        std::vector<std::uint8_t> buf = plain;
        pieces->EncodeBuffer(buf.data(), buf.data(), 32);
        pieces->EncodeBuffer(buf.data() + 32, buf.data() + 32, 43);
        EXPECT_EQ(Hex(buf), once) << int(mode);

        auto dec = MakeCipher(kKey128, mode, kIv);
        dec->DecodeBuffer(buf.data(), buf.data(), buf.size());
        EXPECT_EQ(buf, plain) << int(mode);
    }
}

TEST(CipherAES, MacModesWriteNothingAndDependOnEveryFullBlock) {
    const auto plain = RandomBytes(40, 6);
    auto changed = plain;
    changed[5] ^= 1;
    // The MAC of data coded in one direction; the output buffer must stay zero.
    auto mac = [](std::uint8_t mode, const std::vector<std::uint8_t>& in, bool decode) {
        auto c = MakeCipher(kKey128, mode, kIv);
        std::vector<std::uint8_t> out(in.size(), 0);
        decode ? c->DecodeBuffer(in.data(), out.data(), in.size()) : c->EncodeBuffer(in.data(), out.data(), in.size());
        EXPECT_EQ(out, std::vector<std::uint8_t>(in.size(), 0)) << int(mode);
        return HexOf(c->Feedback());
    };
    for (std::uint8_t mode : {cmCTSMAC, cmCBCMAC, cmCFB8MAC}) {
        EXPECT_EQ(mac(mode, plain, true), mac(mode, plain, false)) << int(mode);
        EXPECT_NE(mac(mode, changed, false), mac(mode, plain, false)) << int(mode);
    }
    mac(9, plain, false);  // an unknown mode writes nothing either
}

TEST(CipherAES, KeyAndVectorLengths) {
    // 20 bytes run 12 rounds with the key zero-padded to 24.
    const std::string key20 = "000102030405060708090a0b0c0d0e0f10111213";
    auto c20 = MakeCipher(key20, cmECB);
    auto c24 = MakeCipher(key20 + "00000000", cmECB);
    EXPECT_EQ(c20->Rounds(), 12);
    const auto block = Unhex("00112233445566778899aabbccddeeff");
    const std::string coded = Encode(*c20, block);
    EXPECT_EQ(coded, Encode(*c24, block));
    if (ziptest::HaveTool("openssl") && ziptest::HaveTool("xxd")) {
        EXPECT_EQ(ziptest::RunTool("echo " + Hex(block) + " | xxd -r -p | openssl enc -aes-192-ecb -nopad -K " + key20 +
                                   "00000000 | xxd -p | tr -d '\\n'"),
                  coded);
    }
    EXPECT_EQ(MakeCipher("00", cmECB)->Rounds(), 10);
    EXPECT_EQ(MakeCipher(std::string(50, '0'), cmECB)->Rounds(), 14);

    TCipherAES aes;
    const std::vector<std::uint8_t> key33(33, 1);
    EXPECT_EQ(CipherErrorCode([&] { aes.Init(key33.data(), 33); }), ceKeyLength);
    EXPECT_FALSE(aes.Initialized());
    StrictCipherKeySize = false;
    aes.Init(key33.data(), 33);
    StrictCipherKeySize = true;
    EXPECT_TRUE(aes.Initialized());
    aes.Mode = cmECB;
    EXPECT_EQ(Encode(aes, block), Encode(*MakeCipher(Hex(key33).substr(0, 64), cmECB), block));
    // A negative length counts as an empty key.
    aes.Init(key33.data(), -5);
    EXPECT_EQ(Encode(aes, block), Encode(*MakeCipher("", cmECB), block));

    // A short vector is zero-padded to a block, never read past its end.
    const auto plain = RandomBytes(32, 12);
    auto shortIv = MakeCipher(kKey128, cmCBC, "0102030405060708");
    EXPECT_EQ(Encode(*shortIv, plain), Encode(*MakeCipher(kKey128, cmCBC, "01020304050607080000000000000000"), plain));
    TCipherAES noKey;
    noKey.Init(nullptr, 16);
    EXPECT_EQ(noKey.Rounds(), 10);
    // Without a vector the chaining starts from the all-ones block encrypted under the key.
    auto noIv = MakeCipher(kKey128, cmCBC);
    EXPECT_EQ(HexOf(noIv->Vector()), Encode(*MakeCipher(kKey128, cmECB), std::vector<std::uint8_t>(16, 0xFF)));
}

TEST(CipherAES, KeyingUseBeforeKeyAndWipe) {
    TCipherAES aes;
    std::uint8_t b[16] = {};
    EXPECT_EQ(CipherErrorCode([&] { aes.EncodeBuffer(b, b, 16); }), ceNotInitialized);
    EXPECT_EQ(CipherErrorCode([&] { aes.DecodeBuffer(b, b, 16); }), ceNotInitialized);
    EXPECT_EQ(CipherErrorCode([&] { aes.CodeBuffer(b, 16, paEncode); }), ceNotInitialized);

    auto c = MakeCipher(kKey128, cmCBC, kIv);
    c->Protect();
    EXPECT_FALSE(c->Initialized());
    EXPECT_EQ(HexOf(c->Vector()), std::string(32, 'f'));
    EXPECT_EQ(CipherErrorCode([&] { c->EncodeBuffer(b, b, 16); }), ceNotInitialized);

    // The constructor keys the cipher and leaves the caller's key encrypted; a new cipher starts
    // at counter 1 with the real key, as AES entries need.
    std::vector<std::uint8_t> key = Unhex(kKey128);
    TCipherAES keyed(key);
    EXPECT_TRUE(keyed.Initialized());
    EXPECT_EQ(key.size(), 16u);
    EXPECT_NE(Hex(key), kKey128);
    keyed.Mode = cmCTR;
    const auto plain = RandomBytes(33, 8);
    EXPECT_EQ(Encode(keyed, plain), Encode(*MakeCipher(kKey128, cmCTR), plain));

    std::vector<std::uint8_t> longKey(40, 3);
    TCipherAES cut(longKey);  // cut to 32 bytes, no error
    EXPECT_EQ(longKey.size(), 32u);
    EXPECT_EQ(cut.Rounds(), 14);
}

TEST(CipherAES, CoderHooksFollowTheActionSet) {
    const auto plain = RandomBytes(48, 10);
    auto c = MakeCipher(kKey128, cmCBC, kIv);
    std::vector<std::uint8_t> buf = plain;
    EXPECT_EQ(c->CodeBuffer(buf.data(), buf.size(), paEncode), buf.size());
    EXPECT_EQ(buf, plain);  // nothing in the action set

    c->ProtectionActions = (1 << paEncode) | (1 << paDecode);
    c->CodeBuffer(buf.data(), buf.size(), paEncode);
    EXPECT_EQ(Hex(buf), Encode(*MakeCipher(kKey128, cmCBC, kIv), plain));
    // Each run restarts the chaining from the vector.
    c->CodeBuffer(buf.data(), buf.size(), paDecode);
    EXPECT_EQ(buf, plain);

    // The wipe action scrambles the feedback and leaves the vector alone.
    c->InitCoding(paWipe);
    EXPECT_NE(HexOf(c->Feedback()), kIv);
    EXPECT_EQ(HexOf(c->Vector()), kIv);
}
