// Encryption of archive entries: the PKWARE traditional stream cipher with its 12-byte header,
// and AES entries (PBKDF2-HMAC-SHA1 keys, salt, password verifier, AES in counter mode, an
// HMAC-SHA1 authentication code and the 0x9901 extra field).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "archive/dir_items.h"
#include "crypto/cipher_aes.h"
#include "crypto/secret_string.h"
#include "crypto/sha1_hmac_pbkdf2.h"
#include "text/streams.h"

namespace zip {

// Fills buffer from the operating system's random source; raises std::runtime_error when it
// cannot, rather than fall back to anything guessable.
void ZipRandomBytes(void* buffer, std::size_t count);

// --- traditional cipher ---

struct TTraditionalKeys {
    std::array<std::uint32_t, 3> Key{};
    TTraditionalKeys() = default;
    TTraditionalKeys(const TTraditionalKeys&) = default;
    TTraditionalKeys& operator=(const TTraditionalKeys&) = default;
    ~TTraditionalKeys() { WipeMemory(Key.data(), sizeof Key); }
};

std::uint32_t CrcByte(std::uint32_t crc, std::uint8_t value);
void UpdateKeys(std::uint8_t value, TTraditionalKeys& keys);
std::uint8_t StreamByte(const TTraditionalKeys& keys);
void InitKeys(std::string_view password, TTraditionalKeys& keys);
std::uint8_t TraditionalEncryptByte(std::uint8_t plain, TTraditionalKeys& keys);
// Encrypts buffer[offset .. offset + count - 1] in place.
void TraditionalEncryptBuffer(std::size_t count, std::size_t offset, std::uint8_t* buffer, TTraditionalKeys& keys);

// --- key derivation ---

class TPBKDF2 {
public:
    // A new salt of saltLength random bytes.
    TPBKDF2(std::string_view password, std::int32_t iterations, std::uint16_t saltLength);
    TPBKDF2(std::string_view password, std::int32_t iterations, std::uint16_t saltLength, const std::uint8_t* salt);
    ~TPBKDF2();
    TPBKDF2(const TPBKDF2&) = delete;
    TPBKDF2& operator=(const TPBKDF2&) = delete;

    // keyLength bytes of PBKDF2-HMAC-SHA1 over the password and salt; the caller wipes them.
    std::vector<std::uint8_t> GetKey(std::uint16_t keyLength) const;
    std::vector<std::uint8_t> GetSalt() const { return salt_; }

    const std::int32_t Iterations;

private:
    std::vector<std::uint8_t> salt_;
    TSecretString password_;
};

// --- transforms ---

enum : std::uint8_t { ctmWrite = 0, ctmRead = 1 };

class TZipCryptoTransform {
public:
    virtual ~TZipCryptoTransform() = default;

    virtual void SetPassword(std::string_view password) = 0;
    virtual bool CheckPassword(std::string_view password) = 0;
    virtual std::vector<std::uint8_t> GetEncryptionKey() const = 0;
    virtual const std::string& GetPassword() const = 0;
    virtual void SetMode(int mode) { Mode = static_cast<std::uint8_t>(mode); }
    virtual void ClearState() = 0;
    virtual std::size_t DecryptBuffer(const std::uint8_t* source, std::size_t sourceOffset, std::uint8_t* dest,
                                      std::size_t destOffset, std::size_t count) = 0;
    virtual std::size_t EncryptBuffer(const std::uint8_t* source, std::size_t sourceOffset, std::uint8_t* dest,
                                      std::size_t destOffset, std::size_t count) = 0;
    virtual std::vector<std::uint8_t> GetEncryptionHeader() const = 0;
    virtual void ReadEncryptionHeader(TStream& stream, std::int64_t offset) = 0;
    virtual std::size_t GetHeaderSize() const = 0;
    virtual std::vector<std::uint8_t> GetAuthCode() = 0;
    virtual void ReadAuthCode(TStream& stream, std::int64_t offset) = 0;
    virtual std::size_t GetAuthCodeSize() const = 0;
    // True when the entry fails its check.
    virtual bool CheckAuthCode(const TDirItem& item, std::uint32_t crc) = 0;
    virtual TExtraField WriteExtraField() const = 0;

    std::uint8_t Mode = ctmWrite;
};

inline constexpr std::int32_t kAesIterations = 1000;
inline constexpr std::uint16_t kAesVendorId = 0x4541;  // "AE"

class TAESCryptoTransform : public TZipCryptoTransform {
public:
    // keyBits 128, 192 or 256 (anything else raises std::invalid_argument); method is the
    // compression method the entry's data really has.
    TAESCryptoTransform(int keyBits, std::uint16_t vendorVersion, std::uint16_t method);
    ~TAESCryptoTransform() override;
    TAESCryptoTransform(const TAESCryptoTransform&) = delete;
    TAESCryptoTransform& operator=(const TAESCryptoTransform&) = delete;

    void SetPassword(std::string_view password) override;
    bool CheckPassword(std::string_view password) override;
    std::vector<std::uint8_t> GetEncryptionKey() const override { return aesKey_; }
    const std::string& GetPassword() const override { return password_.str(); }
    void ClearState() override;
    std::size_t DecryptBuffer(const std::uint8_t* source, std::size_t sourceOffset, std::uint8_t* dest,
                              std::size_t destOffset, std::size_t count) override;
    std::size_t EncryptBuffer(const std::uint8_t* source, std::size_t sourceOffset, std::uint8_t* dest,
                              std::size_t destOffset, std::size_t count) override;
    std::vector<std::uint8_t> GetEncryptionHeader() const override;
    void ReadEncryptionHeader(TStream& stream, std::int64_t offset) override;
    std::size_t GetHeaderSize() const override { return keyLength_ / 2 + 2; }
    std::vector<std::uint8_t> GetAuthCode() override;
    void ReadAuthCode(TStream& stream, std::int64_t offset) override;
    std::size_t GetAuthCodeSize() const override { return VendorVersion == 1 ? 0 : AuthCodeLength; }
    bool CheckAuthCode(const TDirItem& item, std::uint32_t crc) override;
    TExtraField WriteExtraField() const override;

    std::size_t KeyLength() const { return keyLength_; }
    std::vector<std::uint8_t> Salt() const { return salt_; }

    const std::uint16_t VendorVersion;
    const std::uint16_t CompressionMethod;
    const std::uint32_t AuthCodeLength = 10;

private:
    void SetupKeys();
    // Derives the AES key, the HMAC key and the verifier from password and salt.
    std::vector<std::uint8_t> Derive(std::string_view password) const;
    void FreeKeys();

    std::unique_ptr<TPBKDF2> pbkdf2_;
    THmacContext hmac_{};
    const THashDescriptor* hash_;
    std::unique_ptr<TCipherAES> cipher_;
    std::size_t keyLength_;
    std::vector<std::uint8_t> hmacKey_, aesKey_, verifier_, salt_, authCode_;
    TSecretString password_;
    bool macFinished_ = false;
};

}  // namespace zip
