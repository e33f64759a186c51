#include "crypto/sha1_hmac_pbkdf2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_util.h"

using namespace zip;
using ziptest::Hex;

namespace {

std::string Sha1Hex(const std::string& data) {
    std::uint8_t d[20];
    HashFull(FindHashByName("SHA1"), data.data(), data.size(), d);
    return Hex(d, 20);
}

std::string HmacHex(const std::vector<std::uint8_t>& key, const std::string& data) {
    THmacContext c;
    HmacInit(c, FindHashById(kSha1Id), key.data(), key.size());
    HmacUpdate(c, data.data(), data.size());
    std::uint8_t mac[20];
    HmacFinal(c, mac);
    return Hex(mac, 20);
}

std::string Pbkdf2Hex(const std::string& password, const std::string& salt, int iterations, int length) {
    std::vector<std::uint8_t> key(static_cast<std::size_t>(length));
    EXPECT_EQ(Pbkdf2Sha1(password.data(), password.size(), salt.data(), static_cast<std::uint16_t>(length), key.data(),
                         iterations, static_cast<std::uint16_t>(salt.size())),
              0);
    return Hex(key);
}

}  // namespace

TEST(Sha1, PublishedExamplesAndPiecesMatchSha1sum) {
    EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // Pieces of every size up to a few blocks, fed in odd slices, against the outside tool.
    const std::string data = ziptest::Random(1000, 7);
    for (std::size_t len : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        const std::string part = data.substr(0, len);
        THashContext c;
        Sha1Init(c);
        for (std::size_t i = 0, step = 1; i < len; i += step, step = step * 3 % 70 + 1)
            Sha1Update(c, part.data() + i, std::min(step, len - i));
        std::uint8_t d[20];
        Sha1Final(c, d);
        EXPECT_EQ(Hex(d, 20), Sha1Hex(part)) << len;
        if (len == 1000 && ziptest::HaveTool("sha1sum")) {
            ziptest::TempDir dir;
            dir.write("data.bin", part);
            EXPECT_EQ(ziptest::RunTool("sha1sum " + dir.str() + "data.bin").substr(0, 40), Hex(d, 20));
        }
    }
}

TEST(Hmac, Rfc2202Sha1) {
    EXPECT_EQ(HmacHex(std::vector<std::uint8_t>(20, 0x0b), "Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00");
    // Keys longer than a block are hashed first.
    EXPECT_EQ(HmacHex(std::vector<std::uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First"),
              "aa4ae5e15272d00e95705637ce8a3b55ed402112");
}

TEST(Pbkdf2, Rfc6070Sha1) {
    EXPECT_EQ(Pbkdf2Hex("password", "salt", 1, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
    EXPECT_EQ(Pbkdf2Hex("password", "salt", 4096, 20), "4b007901b765489abead49d926f721d065a429c1");
    EXPECT_EQ(Pbkdf2Hex("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25),
              "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
}

TEST(Pbkdf2, FailuresAndZeroIterations) {
    THmacContext c;  // an unbound context writes nothing
    HmacInit(c, nullptr, "k", 1);
    HmacUpdate(c, "data", 4);
    std::uint8_t mac[20];
    std::memset(mac, 0x77, sizeof mac);
    HmacFinal(c, mac);
    EXPECT_EQ(Hex(mac, 20), std::string(40, '7'));
    std::uint8_t key[8];
    std::memset(key, 0x77, sizeof key);
    EXPECT_EQ(Pbkdf2(nullptr, "p", 1, 8, key, 1, 1, "s"), 1);
    EXPECT_EQ(Hex(key, 8), std::string(16, '0'));
    THashDescriptor noDigest = Sha1Descriptor();
    noDigest.DigestSize = 0;
    std::memset(key, 0x77, sizeof key);
    EXPECT_EQ(Pbkdf2(&noDigest, "p", 1, 8, key, 1, 1, "s"), 2);
    EXPECT_EQ(Hex(key, 8), std::string(16, '0'));
    std::memset(key, 0x77, sizeof key);
    EXPECT_EQ(Pbkdf2(&Sha1Descriptor(), "p", 1, 8, key, 0, 1, "s"), 0);
    EXPECT_EQ(Hex(key, 8), std::string(16, '0'));
}

TEST(HashRegistry, LookUpAndRegister) {
    const THashDescriptor* sha1 = &Sha1Descriptor();
    EXPECT_EQ(FindHashByName("sha1"), sha1);  // names compare without case
    EXPECT_EQ(FindHashByName("SHA-1"), nullptr);
    EXPECT_EQ(FindHashById(kSha1Id), sha1);
    EXPECT_EQ(FindHashById(2), nullptr);
    EXPECT_EQ(FindHashById(-1), nullptr);
    // The registry keeps the pointer, so the descriptor outlives the test.
    static THashDescriptor other;
    other = Sha1Descriptor();
    other.Id = 5;
    other.Name = "A-NAME-OF-NINETEEN-AND-MORE";
    RegisterHash(6, &other);  // id differs from the slot
    EXPECT_EQ(FindHashById(6), nullptr);
    EXPECT_EQ(FindHashById(5), nullptr);
    THashDescriptor badVersion = other;
    badVersion.Version = 2;
    RegisterHash(5, &badVersion);
    EXPECT_EQ(FindHashById(5), nullptr);
    RegisterHash(5, nullptr);
    EXPECT_EQ(FindHashById(5), nullptr);

    RegisterHash(5, &other);
    EXPECT_EQ(FindHashById(5), &other);
    // Only the first 19 characters count, on both sides.
    EXPECT_EQ(FindHashByName("a-name-of-nineteen-XXXXXXX"), &other);
    EXPECT_EQ(FindHashByName("a-name-of-ninetee"), nullptr);
    // A descriptor whose magic went bad is no longer found.
    other.Magic = 0;
    EXPECT_EQ(FindHashById(5), nullptr);
    EXPECT_EQ(FindHashByName("A-NAME-OF-NINETEEN-"), nullptr);
    EXPECT_EQ(FindHashByName("SHA1"), &Sha1Descriptor());
}

TEST(Pbkdf2DeathTest, StrictErrorsStopTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            THashDescriptor broken = Sha1Descriptor();
            broken.DigestSize = 0;
            RegisterHash(kSha1Id, &broken);
            std::uint8_t key[4];
            Pbkdf2Sha1("p", 1, "s", 4, key, 1, 1);
        },
        testing::ExitedWithCode(254), "");
}
