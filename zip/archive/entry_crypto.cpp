#include "archive/entry_crypto.h"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "archive/archiver.h"
#include "archive/deflate_pipeline.h"
#include "archive/item_writer.h"

namespace zip {

void ZipRandomBytes(void* buffer, std::size_t count) {
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = getrandom(p + done, count - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    if (done == count) return;
    // Kernels without getrandom still have the device.
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    while (fd >= 0 && done < count) {
        const ssize_t n = read(fd, p + done, count - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (!(n < 0 && errno == EINTR)) break;
    }
    if (fd >= 0) close(fd);
    if (done != count) throw std::runtime_error("No random source for encryption");
}

// --- traditional cipher ---

std::uint32_t CrcByte(std::uint32_t crc, std::uint8_t value) { return UpdateCrc32(crc, &value, 1); }

void UpdateKeys(std::uint8_t value, TTraditionalKeys& keys) {
    keys.Key[0] = CrcByte(keys.Key[0], value);
    keys.Key[1] = (keys.Key[1] + (keys.Key[0] & 0xFF)) * 134775813u + 1;
    keys.Key[2] = CrcByte(keys.Key[2], static_cast<std::uint8_t>(keys.Key[1] >> 24));
}

std::uint8_t StreamByte(const TTraditionalKeys& keys) {
    const std::uint32_t t = (keys.Key[2] | 2) & 0xFFFF;
    return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void InitKeys(std::string_view password, TTraditionalKeys& keys) {
    keys.Key = {0x12345678u, 0x23456789u, 0x34567890u};
    for (char c : password) UpdateKeys(static_cast<std::uint8_t>(c), keys);
}

std::uint8_t TraditionalEncryptByte(std::uint8_t plain, TTraditionalKeys& keys) {
    const std::uint8_t c = StreamByte(keys) ^ plain;
    UpdateKeys(plain, keys);
    return c;
}

void TraditionalEncryptBuffer(std::size_t count, std::size_t offset, std::uint8_t* buffer, TTraditionalKeys& keys) {
    for (std::size_t i = offset; i < offset + count; ++i) buffer[i] = TraditionalEncryptByte(buffer[i], keys);
}

// --- key derivation ---

TPBKDF2::TPBKDF2(std::string_view password, std::int32_t iterations, std::uint16_t saltLength)
    : Iterations(iterations), salt_(saltLength), password_(password) {
    ZipRandomBytes(salt_.data(), salt_.size());
}

TPBKDF2::TPBKDF2(std::string_view password, std::int32_t iterations, std::uint16_t saltLength, const std::uint8_t* salt)
    : Iterations(iterations), salt_(salt, salt + (salt ? saltLength : 0)), password_(password) {}

TPBKDF2::~TPBKDF2() { WipeMemory(salt_.data(), salt_.size()); }

std::vector<std::uint8_t> TPBKDF2::GetKey(std::uint16_t keyLength) const {
    std::vector<std::uint8_t> key(keyLength);
    Pbkdf2Sha1(password_.data(), password_.size(), salt_.data(), keyLength, key.data(), Iterations,
               static_cast<std::uint16_t>(salt_.size()));
    return key;
}

// --- AES transform ---

namespace {

void Wipe(std::vector<std::uint8_t>& v) {
    WipeMemory(v.data(), v.size());
    v.clear();
}

}  // namespace

TAESCryptoTransform::TAESCryptoTransform(int keyBits, std::uint16_t vendorVersion, std::uint16_t method)
    : VendorVersion(vendorVersion),
      CompressionMethod(method),
      hash_(FindHashByName("SHA1")),
      keyLength_(static_cast<std::size_t>(keyBits / 8)) {
    if (keyBits != 128 && keyBits != 192 && keyBits != 256)
        throw std::invalid_argument("AES key of " + std::to_string(keyBits) + " bits");
}

TAESCryptoTransform::~TAESCryptoTransform() {
    FreeKeys();
    WipeMemory(&hmac_, sizeof hmac_);
}

void TAESCryptoTransform::FreeKeys() {
    pbkdf2_.reset();
    cipher_.reset();
    Wipe(hmacKey_);
    Wipe(aesKey_);
    Wipe(verifier_);
    Wipe(salt_);
    Wipe(authCode_);
    WipeMemory(&hmac_, sizeof hmac_);
    macFinished_ = false;
}

void TAESCryptoTransform::ClearState() {
    FreeKeys();
    password_.Wipe();
    keyLength_ = 0;
}

std::vector<std::uint8_t> TAESCryptoTransform::Derive(std::string_view password) const {
    TPBKDF2 kdf(password, kAesIterations, static_cast<std::uint16_t>(salt_.size()), salt_.data());
    return kdf.GetKey(static_cast<std::uint16_t>(2 * keyLength_ + 2));
}

void TAESCryptoTransform::SetPassword(std::string_view password) {
    password_ = TSecretString(password);
    const auto saltLength = static_cast<std::uint16_t>(keyLength_ / 2);
    if (Mode == ctmRead && !salt_.empty())
        pbkdf2_ = std::make_unique<TPBKDF2>(password, kAesIterations, saltLength, salt_.data());
    else pbkdf2_ = std::make_unique<TPBKDF2>(password, kAesIterations, saltLength);
    salt_ = pbkdf2_->GetSalt();
    SetupKeys();
}

void TAESCryptoTransform::SetupKeys() {
    std::vector<std::uint8_t> salt = salt_;
    FreeKeys();
    salt_ = std::move(salt);
    pbkdf2_ = std::make_unique<TPBKDF2>(password_.str(), kAesIterations, static_cast<std::uint16_t>(salt_.size()),
                                        salt_.data());
    std::vector<std::uint8_t> derived = pbkdf2_->GetKey(static_cast<std::uint16_t>(2 * keyLength_ + 2));
    const auto k = static_cast<std::ptrdiff_t>(keyLength_);
    aesKey_.assign(derived.begin(), derived.begin() + k);
    hmacKey_.assign(derived.begin() + k, derived.begin() + 2 * k);
    verifier_.assign(derived.begin() + 2 * k, derived.end());
    Wipe(derived);
    HmacInit(hmac_, hash_, hmacKey_.data(), hmacKey_.size());
    // The cipher replaces the key it is given by an encrypted copy: hand it a copy.
    std::vector<std::uint8_t> key = aesKey_;
    cipher_ = std::make_unique<TCipherAES>(key);
    Wipe(key);
    cipher_->Mode = cmCTR;
}

bool TAESCryptoTransform::CheckPassword(std::string_view password) {
    if (verifier_.size() != 2) return false;
    std::vector<std::uint8_t> derived = Derive(password);
    const bool match = derived[2 * keyLength_] == verifier_[0] && derived[2 * keyLength_ + 1] == verifier_[1];
    Wipe(derived);
    return match;
}

std::size_t TAESCryptoTransform::DecryptBuffer(const std::uint8_t* source, std::size_t sourceOffset, std::uint8_t* dest,
                                               std::size_t destOffset, std::size_t count) {
    if (!cipher_ || count == 0) return 0;
    HmacUpdate(hmac_, source + sourceOffset, count);
    cipher_->DecodeBuffer(source + sourceOffset, dest + destOffset, count);
    return count;
}

std::size_t TAESCryptoTransform::EncryptBuffer(const std::uint8_t* source, std::size_t sourceOffset, std::uint8_t* dest,
                                               std::size_t destOffset, std::size_t count) {
    if (!cipher_ || count == 0) return 0;
    cipher_->EncodeBuffer(source + sourceOffset, dest + destOffset, count);
    HmacUpdate(hmac_, dest + destOffset, count);
    return count;
}

std::vector<std::uint8_t> TAESCryptoTransform::GetEncryptionHeader() const {
    std::vector<std::uint8_t> header = salt_;
    header.insert(header.end(), verifier_.begin(), verifier_.end());
    return header;
}

void TAESCryptoTransform::ReadEncryptionHeader(TStream& stream, std::int64_t offset) {
    stream.Seek(offset, TSeekOrigin::soCurrent);
    salt_.assign(keyLength_ / 2, 0);
    stream.ReadBuffer(salt_.data(), static_cast<std::int64_t>(salt_.size()));
    SetupKeys();
    verifier_.assign(2, 0);
    stream.ReadBuffer(verifier_.data(), 2);
}

std::vector<std::uint8_t> TAESCryptoTransform::GetAuthCode() {
    if (VendorVersion == 1) return {};
    if (!macFinished_) {
        std::uint8_t mac[kHashMaxDigest] = {};
        HmacFinal(hmac_, mac);
        authCode_.assign(mac, mac + AuthCodeLength);
        WipeMemory(mac, sizeof mac);
        macFinished_ = true;
    }
    return authCode_;
}

void TAESCryptoTransform::ReadAuthCode(TStream& stream, std::int64_t offset) {
    if (VendorVersion == 1) return;
    stream.Seek(offset, TSeekOrigin::soCurrent);
    authCode_.assign(AuthCodeLength, 0);
    stream.ReadBuffer(authCode_.data(), AuthCodeLength);
}

bool TAESCryptoTransform::CheckAuthCode(const TDirItem& item, std::uint32_t crc) {
    if (VendorVersion == 1) return item.Header.Crc32 != crc;
    if (authCode_.size() != AuthCodeLength || macFinished_)
        return true;  // nothing read to compare with, or the code was already used
    std::uint8_t mac[kHashMaxDigest] = {};
    HmacFinal(hmac_, mac);
    macFinished_ = true;
    std::uint8_t diff = 0;  // every byte compared, whatever the first difference
    for (std::size_t i = 0; i < AuthCodeLength; ++i) diff |= static_cast<std::uint8_t>(mac[i] ^ authCode_[i]);
    WipeMemory(mac, sizeof mac);
    return diff != 0;
}

TExtraField TAESCryptoTransform::WriteExtraField() const {
    TExtraField e{kTagAes, {}};
    PutLE(e.Data, VendorVersion, 2);
    PutLE(e.Data, kAesVendorId, 2);
    PutLE(e.Data, keyLength_ == 16 ? 1 : keyLength_ == 24 ? 2 : 3, 1);
    PutLE(e.Data, CompressionMethod, 2);
    return e;
}

// --- the item writer's ciphers ---

namespace {

class TTraditionalEntryCipher : public TZipEntryCipher {
public:
    explicit TTraditionalEntryCipher(const TSecretString& password) { InitKeys(password.str(), keys_); }
    std::vector<std::uint8_t> Header(std::uint32_t crc) override {
        std::vector<std::uint8_t> h(12);
        ZipRandomBytes(h.data(), 10);
        // Readers check the last byte (older ones both) against the CRC's high bytes.
        h[10] = static_cast<std::uint8_t>(crc >> 16);
        h[11] = static_cast<std::uint8_t>(crc >> 24);
        TraditionalEncryptBuffer(h.size(), 0, h.data(), keys_);
        return h;
    }
    void Encrypt(std::uint8_t* data, std::size_t count) override { TraditionalEncryptBuffer(count, 0, data, keys_); }

private:
    TTraditionalKeys keys_;
};

class TAesEntryCipher : public TZipEntryCipher {
public:
    TAesEntryCipher(int keyBits, std::uint16_t method, const TSecretString& password) : transform_(keyBits, 2, method) {
        transform_.SetMode(ctmWrite);
        transform_.SetPassword(password.str());
    }
    std::vector<std::uint8_t> Header(std::uint32_t) override { return transform_.GetEncryptionHeader(); }
    void Encrypt(std::uint8_t* data, std::size_t count) override { transform_.EncryptBuffer(data, 0, data, 0, count); }
    std::vector<std::uint8_t> Trailer() override { return transform_.GetAuthCode(); }
    std::uint16_t StoredMethod() const override { return 99; }
    TExtraField Extra() const override { return transform_.WriteExtraField(); }
    // The authentication code checks the data; a CRC of the plain text would only leak it.
    bool StoresCrc() const override { return transform_.VendorVersion == 1; }

private:
    TAESCryptoTransform transform_;
};

}  // namespace

std::unique_ptr<TZipEntryCipher> TZipBaseArchiver::CreateEntryCipher(const TDirItem& item) {
    if (item.Password.empty()) return nullptr;
    if (UsePKSignatures) {
        switch (EncryptionMethod) {
        case caAES_128: return std::make_unique<TAesEntryCipher>(128, item.Header.Method, item.Password);
        case caAES_192: return std::make_unique<TAesEntryCipher>(192, item.Header.Method, item.Password);
        case caAES_256: return std::make_unique<TAesEntryCipher>(256, item.Header.Method, item.Password);
        case caNoEncryption:  // an item with a password is never stored in the clear
        case caPkzipClassic: break;
        }
    }
    return std::make_unique<TTraditionalEntryCipher>(item.Password);
}

}  // namespace zip
