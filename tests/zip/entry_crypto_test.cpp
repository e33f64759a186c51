// Encrypted entries: the AES transform written and read back, salts, and archives of every
// cipher judged by outside readers that know the password.
#include <filesystem>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "archiver.h"
#include "test_util.h"
#include "entry_crypto.h"
#include "wide_files.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::Random;

namespace {

TMemoryStream StreamOf(const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

// A header as a reader finds it: the salt given, the verifier derived from password.
std::vector<std::uint8_t> HeaderFor(std::vector<std::uint8_t> salt, const std::string& password)
{
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
TEST(AesTransform, BadStrengthAndCutHeader)
{
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

TEST(AesTransform, VerifierFollowsPasswordAndSalt)
{
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

TEST(AesTransform, WrittenEntryReadsBackAndTamperingShows)
{
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

TEST(AesTransform, SaltsAreFreshAndUseEveryByteValue)
{
    std::set<std::vector<std::uint8_t>> seen;
    bool high = false;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<std::uint8_t> salt = TPBKDF2("pw", 1, 16).GetSalt();
        ASSERT_EQ(salt.size(), 16u);
        seen.insert(salt);
        for (std::uint8_t b : salt)
            high |= b == 0xFF;
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_TRUE(high);
}

namespace {

struct Case {
    TZipCryptoAlgorithm method;
    bool deflate;
};

const char* kPassword = "Trail pass 7";

struct EncryptedArchive {
    ziptest::TempDir dir;
    fs::path zip() const { return dir.path() / "t.zip"; }
    std::string Make(TZipCryptoAlgorithm method, int mode, const std::string& password = kPassword,
                     const std::string& name = "t.zip", const std::function<void(TZipArchiver&)>& setup = {})
    {
        TZipArchiver a;
        a.SetCompressionMode(mode);
        if (setup)
            setup(a);
        a.FileName = dir.wide() + std::u16string(name.begin(), name.end());
        a.OpenArchive(fmCreate);
        a.BaseDir = dir.wide() + u"src";
        a.SetPassword(password);
        a.EncryptionMethod = method;
        a.AddFiles(u"*", 0x28BF | faDirectory, u"");
        a.CloseArchive();
        return Bytes(dir.path() / name);
    }
};

// Per member: name|flag bit 0|method|CRC|AES extra data in hex.
std::string Listing(const fs::path& zip)
{
    static const char* script = R"PY(
import sys, zipfile, struct
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    aes, p = '', 0
    while p + 4 <= len(i.extra):
        t, n = struct.unpack('<HH', i.extra[p:p+4])
        if t == 0x9901: aes = i.extra[p+4:p+4+n].hex()
        p += 4 + n
    print('%s|%d|%d|%d|%s' % (i.filename, i.flag_bits & 1, i.compress_type, i.CRC, aes))
)PY";
    std::string out;
    return ziptest::Python(script, {zip.string()}, &out) == 0 ? out : "";
}

// Python reads every member with the password and compares it with its source.
bool PythonReads(const fs::path& zip, const std::string& srcDir, const std::string& password)
{
    static const char* script = R"PY(
import sys, zipfile, os
z = zipfile.ZipFile(sys.argv[1]); z.setpassword(sys.argv[3].encode())
for i in z.infolist():
    if i.is_dir(): continue
    if z.read(i) != open(os.path.join(sys.argv[2], i.filename), 'rb').read(): sys.exit(1)
)PY";
    return ziptest::Python(script, {zip.string(), srcDir, password}) == 0;
}

// Python decrypts each traditional header: its last two bytes are bits 16-31 of the CRC.
bool CheckBytesFromCrc(const fs::path& zip, const std::string& password)
{
    static const char* script = R"PY(
import sys, zipfile, struct
z = zipfile.ZipFile(sys.argv[1]); f = open(sys.argv[1], 'rb')
for i in z.infolist():
    if not i.flag_bits & 1: continue
    f.seek(i.header_offset); n, e = struct.unpack('<HH', f.read(30)[26:30]); f.seek(i.header_offset + 30 + n + e)
    head = zipfile._ZipDecrypter(sys.argv[2].encode())(f.read(12))
    if head[10] != (i.CRC >> 16) & 0xFF or head[11] != i.CRC >> 24: sys.exit(1)
)PY";
    return ziptest::Python(script, {zip.string(), password}) == 0;
}

bool SevenZip(const std::string& args, const fs::path& zip, const std::string& password, std::string* out)
{
    return ziptest::Run("7z " + args + " -bd " + ziptest::Quote("-p" + password) + " " + ziptest::Quote(zip.string()), out) == 0;
}

class EncryptedEntries : public ::testing::TestWithParam<Case> {};

std::string CaseName(const ::testing::TestParamInfo<Case>& i)
{
    static const char* names[] = {"None", "Pkware", "Aes128", "Aes192", "Aes256"};
    return std::string(names[i.param.method]) + (i.param.deflate ? "Deflated" : "Stored");
}

}  // namespace

TEST_P(EncryptedEntries, ReadersWithThePasswordGetTheData)
{
    const Case c = GetParam();
    EncryptedArchive f;
    // Two read blocks when deflating (mode 1 reads 512 KiB at a time).
    f.dir.write("src/track.kml", ziptest::Kml(12000));
    f.dir.write("src/noise.bin", Random(70000, 2));
    f.dir.write("src/empty.txt", "");
    f.dir.write("src/short.txt", "ab");
    fs::create_directories(f.dir.path() / "src/icons");
    f.Make(c.method, c.deflate ? 1 : 0);

    const bool aes = c.method != caPkzipClassic;
    const std::string strength = c.method == caAES_128 ? "01" : c.method == caAES_192 ? "02" : "03";
    const std::string m = c.deflate ? "8" : "0";
    const std::string listing = Listing(f.zip());
    if (aes) {
        // Method 99, no CRC, and the extra naming the real method (stored for the empty file).
        EXPECT_NE(listing.find("track.kml|1|99|0|02004145" + strength + (c.deflate ? "0800" : "0000")), std::string::npos) << listing;
        EXPECT_NE(listing.find("empty.txt|1|99|0|02004145" + strength + "0000"), std::string::npos) << listing;
    } else {
        EXPECT_NE(listing.find("track.kml|1|" + m + "|"), std::string::npos) << listing;
        EXPECT_NE(listing.find("empty.txt|1|0|0|\n"), std::string::npos) << listing;
    }
    EXPECT_NE(listing.find("icons/|0|0|0|\n"), std::string::npos) << listing;  // a folder carries no cipher
    {  // read back: the cipher from the flag or the AES extra's strength, the real method
        TZipArchiver r;
        r.FileName = f.dir.wide() + u"t.zip";
        r.OpenArchive(fmOpenRead);
        int at = -1;
        ASSERT_TRUE(r.DirManager()->Items.FindItem(u"track.kml", at));
        EXPECT_EQ(r.DirManager()->Items.GetItem(at).StoredEncryption, c.method);
        EXPECT_EQ(r.DirManager()->Items.GetItem(at).TargetMethod, c.deflate ? 8 : 0);
    }

    std::string out;
    EXPECT_TRUE(SevenZip("t", f.zip(), kPassword, &out)) << out;
    EXPECT_FALSE(SevenZip("t", f.zip(), "Trail pass 8", &out)) << out;
    EXPECT_TRUE(SevenZip("x -o" + ziptest::Quote(f.dir.str() + "x"), f.zip(), kPassword, &out)) << out;
    for (const char* name : {"track.kml", "noise.bin", "empty.txt", "short.txt"})
        EXPECT_EQ(Bytes(f.dir.path() / "x" / name), Bytes(f.dir.path() / "src" / name)) << name;
    if (!aes) {
        EXPECT_TRUE(ziptest::Run("unzip -tq -P " + ziptest::Quote(kPassword) + " " + ziptest::Quote(f.zip().string()), &out) == 0) << out;
        EXPECT_FALSE(ziptest::Run("unzip -tq -P wrong " + ziptest::Quote(f.zip().string()), &out) == 0) << out;
        EXPECT_TRUE(PythonReads(f.zip(), f.dir.str() + "src", kPassword));
        EXPECT_FALSE(PythonReads(f.zip(), f.dir.str() + "src", "wrong"));
        EXPECT_TRUE(CheckBytesFromCrc(f.zip(), kPassword));
    }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, EncryptedEntries,
                         ::testing::Values(Case{caPkzipClassic, false}, Case{caPkzipClassic, true},
                                           Case{caAES_128, false}, Case{caAES_128, true}, Case{caAES_192, true},
                                           Case{caAES_256, false}, Case{caAES_256, true}),
                         CaseName);

// Fresh salts and headers each time; a password without a method still encrypts; long passwords
// count whole.
TEST(EncryptedArchives, Passwords)
{
    EncryptedArchive f;
    f.dir.write("src/a.kml", ziptest::Kml(50));
    for (TZipCryptoAlgorithm method : {caPkzipClassic, caAES_128})
        EXPECT_NE(f.Make(method, 6, kPassword, "1.zip"), f.Make(method, 6, kPassword, "2.zip")) << method;

    f.Make(caNoEncryption, 6);  // the method reset after the password was set
    EXPECT_NE(Listing(f.zip()).find("a.kml|1|8|"), std::string::npos);
    EXPECT_EQ(Bytes(f.zip()).find("<coordinates>"), std::string::npos);
    EXPECT_TRUE(PythonReads(f.zip(), f.dir.str() + "src", kPassword));

    std::string password(40000, 'p');
    password.back() = 'q';
    f.Make(caPkzipClassic, 6, password);
    std::string out;
    EXPECT_TRUE(SevenZip("t", f.zip(), password, &out));
    EXPECT_FALSE(SevenZip("t", f.zip(), password.substr(0, 32764), &out));
    // 7z cuts AES passwords to 99 characters, so the AES key is compared here.
    const std::vector<std::uint8_t> salt(8, 7);
    EXPECT_NE(HeaderFor(salt, password), HeaderFor(salt, password.substr(0, 32764)));
}

TEST(EncryptedArchives, SplitZip64SetWithAes)
{
    // Zip64, Unicode name and AES extras together, the items written through temporary files.
    EncryptedArchive f;
    f.dir.write("src/noise.bin", Random(150000, 4));
    f.dir.write("src/track.kml", ziptest::Kml(200));
    f.Make(caAES_192, 6, kPassword, "t.zip", [](TZipArchiver& a) {
        a.Zip64Mode = zmAlways;
        ziptest::Split(a, 65536);
    });
    EXPECT_GE(ziptest::SetVolumes(f.zip()).size(), 3u);
    std::string out;
    EXPECT_TRUE(SevenZip("x -o" + ziptest::Quote(f.dir.str() + "x"), f.zip(), kPassword, &out)) << out;
    for (const char* name : {"noise.bin", "track.kml"})
        EXPECT_EQ(Bytes(f.dir.path() / "x" / name), Bytes(f.dir.path() / "src" / name)) << name;
}
