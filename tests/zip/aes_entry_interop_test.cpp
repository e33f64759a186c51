// An AES-encrypted entry made by an outside archiver is read back with our primitives, laid out
// as the entry encryption uses them: PBKDF2-HMAC-SHA1 (1000 rounds) for key, HMAC key and
// verifier, AES in counter mode, HMAC-SHA1 over the ciphertext.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "cipher_aes.h"
#include "test_util.h"
#include "sha1_hmac_pbkdf2.h"

using namespace zip;

namespace {

std::uint16_t Le16(const std::string& s, std::size_t at) { return static_cast<std::uint16_t>(ziptest::LE(s, at, 2)); }
std::uint32_t Le32(const std::string& s, std::size_t at) { return static_cast<std::uint32_t>(ziptest::LE(s, at, 4)); }

void CheckEntry(int bits)
{
    ziptest::TempDir dir;
    std::string plain;
    for (int i = 0; i < 300; ++i)
        plain += "trail " + std::to_string(i * 37) + "\n";
    dir.write("f.txt", plain);
    const std::string password = "Secret pass";
    ziptest::RunTool("cd " + dir.str() + " && 7z a -tzip -mx0 -mem=AES" + std::to_string(bits) + " '-p" + password
                     + "' x.zip f.txt >/dev/null 2>&1");
    const std::string zip = ziptest::Bytes(dir.path() / "x.zip");
    ASSERT_GT(zip.size(), 30u);
    ASSERT_EQ(Le32(zip, 0), 0x04034B50u);
    ASSERT_EQ(Le16(zip, 8), 99);  // AES method
    const std::uint32_t compressed = Le32(zip, 18);
    const std::size_t data = 30 + Le16(zip, 26) + Le16(zip, 28);
    ASSERT_LE(data + compressed, zip.size());
    ASSERT_EQ(Le16(zip, 30 + Le16(zip, 26)), 0x9901);

    const std::size_t keyLength = static_cast<std::size_t>(bits) / 8;
    const std::size_t saltLength = keyLength / 2;
    const std::string salt = zip.substr(data, saltLength);
    const std::string verifier = zip.substr(data + saltLength, 2);
    const std::size_t cipherLength = compressed - saltLength - 2 - 10;
    const std::string cipherText = zip.substr(data + saltLength + 2, cipherLength);
    const std::string authCode = zip.substr(data + saltLength + 2 + cipherLength, 10);

    std::vector<std::uint8_t> derived(2 * keyLength + 2);
    ASSERT_EQ(Pbkdf2Sha1(password.data(), password.size(), salt.data(), static_cast<std::uint16_t>(derived.size()),
                         derived.data(), 1000, static_cast<std::uint16_t>(saltLength)),
              0);
    EXPECT_EQ(std::memcmp(derived.data() + 2 * keyLength, verifier.data(), 2), 0);

    THmacContext hmac;
    HmacInit(hmac, FindHashByName("SHA1"), derived.data() + keyLength, keyLength);
    HmacUpdate(hmac, cipherText.data(), cipherText.size());
    std::uint8_t mac[20];
    HmacFinal(hmac, mac);
    EXPECT_EQ(std::memcmp(mac, authCode.data(), 10), 0);

    std::vector<std::uint8_t> aesKey(derived.begin(), derived.begin() + static_cast<std::ptrdiff_t>(keyLength));
    TCipherAES aes(aesKey);
    aes.Mode = cmCTR;
    std::string out(cipherText.size(), '\0');
    // In odd pieces: the counter carries across buffers.
    std::size_t done = 0;
    for (std::size_t step = 1; done < out.size(); step = step * 5 % 97 + 1) {
        const std::size_t n = std::min(step, out.size() - done);
        aes.DecodeBuffer(cipherText.data() + done, out.data() + done, n);
        done += n;
    }
    EXPECT_EQ(out, plain);
}

}  // namespace

TEST(AesEntryInterop, OutsideArchiverEntriesDecrypt)
{
    if (!ziptest::HaveTool("7z"))
        GTEST_SKIP() << "7z not installed";
    CheckEntry(128);
    CheckEntry(256);
}
