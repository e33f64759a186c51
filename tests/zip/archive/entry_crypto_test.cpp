// Encrypted entries: the AES transform written and read back, salts and passwords.
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "archive/entry_crypto.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::Random;

namespace {

TMemoryStream StreamOf(const std::vector<std::uint8_t>& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

// A header as a reader finds it: the salt given, the verifier derived from password.
std::vector<std::uint8_t> HeaderFor(std::vector<std::uint8_t> salt, const std::string& password) {
    TAESCryptoTransform t(128, 2, 0);
    t.SetMode(ctmRead);
    salt.resize(salt.size() + 2);
    TMemoryStream s = StreamOf(salt);
    t.ReadEncryptionHeader(s, 0);
    t.SetPassword(password);
    return t.GetEncryptionHeader();
}

}  // namespace

// Unknown strengths are refused; a cleared transform and a cut header stay within their buffers.
TEST(AesTransform, BadStrengthAndCutHeader) {
    EXPECT_THROW(TAESCryptoTransform(160, 2, 8), std::invalid_argument);
    TAESCryptoTransform t(128, 2, 8);
    t.SetPassword("x");
    t.ClearState();
    t.SetPassword("y");
    EXPECT_EQ(t.GetHeaderSize(), 2u);
    TAESCryptoTransform r(256, 2, 8);
    TMemoryStream cut = StreamOf({1, 2, 3});
    EXPECT_THROW(r.ReadEncryptionHeader(cut, 0), EStreamError);
    EXPECT_FALSE(r.CheckPassword("y"));
}

TEST(AesTransform, VerifierFollowsPasswordAndSalt) {
    const std::vector<std::uint8_t> a = {1, 2, 3, 4, 5, 6, 7, 8}, b = {1, 2, 3, 4, 5, 6, 7, 9};
    const auto ha = HeaderFor(a, "pw"), hb = HeaderFor(b, "pw");
    EXPECT_EQ(ha, HeaderFor(a, "pw"));
    EXPECT_NE(ha[8] * 256 + ha[9], hb[8] * 256 + hb[9]);  // the verifiers
    auto accepts = [](const std::vector<std::uint8_t>& header, const std::string& password) {
        TAESCryptoTransform r(128, 2, 0);
        r.SetMode(ctmRead);
        TMemoryStream s = StreamOf(header);
        r.ReadEncryptionHeader(s, 0);
        return r.CheckPassword(password);
    };
    EXPECT_TRUE(accepts(ha, "pw"));
    EXPECT_FALSE(accepts(ha, "pv"));
    for (std::size_t at : {8u, 9u}) {  // both verifier bytes count
        std::vector<std::uint8_t> bent = ha;
        bent[at] ^= 1;
        EXPECT_FALSE(accepts(bent, "pw")) << at;
    }
}

TEST(AesTransform, WrittenEntryReadsBackAndTamperingShows) {
    const std::string plain = Random(5000, 1);
    TAESCryptoTransform w(256, 2, 0);
    w.SetPassword("secret");
    std::vector<std::uint8_t> data(plain.begin(), plain.end());
    // Two uneven pieces: the counter and the HMAC carry across buffers.
    EXPECT_EQ(w.EncryptBuffer(data.data(), 0, data.data(), 0, 1001), 1001u);
    w.EncryptBuffer(data.data(), 1001, data.data(), 1001, data.size() - 1001);
    // The key it reports is the one the data went out under: AES in counter mode from 1.
    std::vector<std::uint8_t> key = w.GetEncryptionKey(), again(plain.size());
    TCipherAES aes(key);
    aes.Mode = cmCTR;
    aes.EncodeBuffer(plain.data(), again.data(), plain.size());
    EXPECT_EQ(again, data);
    const std::vector<std::uint8_t> header = w.GetEncryptionHeader(), code = w.GetAuthCode();
    ASSERT_EQ(code.size(), 10u);
    EXPECT_EQ(w.GetAuthCode(), code);

    auto authFails = [&](std::string& out) {
        std::vector<std::uint8_t> all = header;
        all.insert(all.end(), data.begin(), data.end());
        all.insert(all.end(), code.begin(), code.end());
        TMemoryStream s = StreamOf(all);
        TAESCryptoTransform r(256, 2, 0);
        r.SetMode(ctmRead);
        r.ReadEncryptionHeader(s, 0);
        EXPECT_TRUE(r.CheckPassword("secret"));
        r.SetPassword("secret");
        out.assign(data.size(), '\0');
        r.DecryptBuffer(data.data(), 0, reinterpret_cast<std::uint8_t*>(out.data()), 0, data.size());
        r.ReadAuthCode(s, static_cast<std::int64_t>(data.size()));
        return r.CheckAuthCode(TDirItem{}, 0);
    };
    std::string out;
    EXPECT_FALSE(authFails(out));
    EXPECT_EQ(out, plain);
    data[4321] ^= 1;
    EXPECT_TRUE(authFails(out));

    // Vendor version 1 has no code; the CRC decides.
    TAESCryptoTransform v1(128, 1, 8);
    v1.SetPassword("x");
    EXPECT_EQ(v1.GetAuthCodeSize(), 0u);
    EXPECT_TRUE(v1.GetAuthCode().empty());
    TDirItem item;
    item.Header.Crc32 = 0xCAFE;
    EXPECT_FALSE(v1.CheckAuthCode(item, 0xCAFE));
    EXPECT_TRUE(v1.CheckAuthCode(item, 0xCAFF));
}

TEST(AesTransform, SaltsAreFreshAndUseEveryByteValue) {
    std::set<std::vector<std::uint8_t>> seen;
    bool high = false;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<std::uint8_t> salt = TPBKDF2("pw", 1, 16).GetSalt();
        ASSERT_EQ(salt.size(), 16u);
        seen.insert(salt);
        for (std::uint8_t b : salt) high |= b == 0xFF;
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_TRUE(high);
}

// Fresh salts and headers each time; a password without a method still encrypts; long passwords
// count whole. The archives of every cipher are judged in the archive matrix.
TEST(EncryptedArchives, Passwords) {
    ziptest::TempDir dir;
    dir.write("src/a.kml", ziptest::Kml(50));
    const std::string src = "a.kml=" + dir.str() + "src/a.kml";
    auto make = [&](TZipCryptoAlgorithm method, const std::string& password, const std::string& name = "t.zip") {
        ziptest::MakeZip(dir.path() / name, dir.path() / "src", [&](TZipArchiver& a) {
            a.SetPassword(password);
            a.EncryptionMethod = method;
        });
        return Bytes(dir.path() / name);
    };
    for (TZipCryptoAlgorithm method : {caPkzipClassic, caAES_128})
        EXPECT_NE(make(method, "pw", "1.zip"), make(method, "pw", "2.zip")) << method;

    make(caNoEncryption, "pw");  // the method reset after the password was set
    EXPECT_NE(ziptest::CipherListing(dir.path() / "t.zip").find("a.kml|1|8|"), std::string::npos);
    EXPECT_EQ(Bytes(dir.path() / "t.zip").find("<coordinates>"), std::string::npos);
    EXPECT_FALSE(ziptest::PythonCheck(dir.path() / "t.zip", {src}, "pw").empty());

    std::string password(40000, 'p');
    password.back() = 'q';
    make(caPkzipClassic, password);
    EXPECT_TRUE(ziptest::SevenZip("t", dir.path() / "t.zip", nullptr, password));
    EXPECT_FALSE(ziptest::SevenZip("t", dir.path() / "t.zip", nullptr, password.substr(0, 32764)));
    // 7z cuts AES passwords to 99 characters, so the AES key is compared here.
    const std::vector<std::uint8_t> salt(8, 7);
    EXPECT_NE(HeaderFor(salt, password), HeaderFor(salt, password.substr(0, 32764)));
}
