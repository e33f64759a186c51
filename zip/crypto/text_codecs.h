// Text forms of binary data (copy, hexadecimal, MIME base 64, UU and XX), found by numeric codes.
// Each format is one shared object of its class; the registry holds pointers to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/coder_base.h"

namespace zip {

class EStringFormat : public ECoder {
public:
    using ECoder::ECoder;
};

enum : int {
    fmtCOPY = 1,
    fmtHEX = 16,
    fmtHEXL = 1016,
    fmtMIME64 = 4196,
    fmtUU = 21845,
    fmtXX = 22616,
};

inline constexpr int DefaultStringFormat = fmtMIME64;

// Copies bytes both ways.
class TStringFormat {
public:
    virtual ~TStringFormat() = default;
    virtual std::string TextToBytes(const char* text, std::size_t length) const;
    virtual std::string BytesToText(const std::uint8_t* data, std::size_t length) const;
    virtual std::string DisplayName() const { return "copy Input to Output"; }
    virtual int FormatCode() const { return fmtCOPY; }
    // toBytes: data is text to be turned into bytes.
    virtual bool IsValid(const char* data, std::size_t length, bool toBytes) const;

    static const TStringFormat& Instance();
};

// Two table characters per byte. Text may carry a "$" or "0x" prefix and separators.
class TStringFormatHex : public TStringFormat {
public:
    std::string TextToBytes(const char* text, std::size_t length) const override;
    std::string BytesToText(const std::uint8_t* data, std::size_t length) const override;
    std::string DisplayName() const override { return "Hexadecimal"; }
    int FormatCode() const override { return fmtHEX; }
    bool IsValid(const char* data, std::size_t length, bool toBytes) const override;
    virtual std::string_view CharTable() const;

    static const TStringFormatHex& Instance();
};

class TStringFormatHexLower : public TStringFormatHex {
public:
    std::string DisplayName() const override { return "Hexadecimal lowercase"; }
    int FormatCode() const override { return fmtHEXL; }
    std::string_view CharTable() const override;

    static const TStringFormatHexLower& Instance();
};

class TStringFormatBase64 : public TStringFormatHex {
public:
    std::string TextToBytes(const char* text, std::size_t length) const override;
    std::string BytesToText(const std::uint8_t* data, std::size_t length) const override;
    std::string DisplayName() const override { return "MIME Base 64"; }
    int FormatCode() const override { return fmtMIME64; }
    std::string_view CharTable() const override;

    static const TStringFormatBase64& Instance();
};

// Lines of up to 45 bytes: a length character, then 4 characters per 3 bytes; no line breaks.
class TStringFormatUU : public TStringFormat {
public:
    std::string TextToBytes(const char* text, std::size_t length) const override;
    std::string BytesToText(const std::uint8_t* data, std::size_t length) const override;
    std::string DisplayName() const override { return "UU Coding"; }
    int FormatCode() const override { return fmtUU; }
    bool IsValid(const char* data, std::size_t length, bool toBytes) const override;
    virtual std::string_view CharTable() const;

    static const TStringFormatUU& Instance();
};

class TStringFormatXX : public TStringFormatUU {
public:
    std::string DisplayName() const override { return "XX Coding"; }
    int FormatCode() const override { return fmtXX; }
    std::string_view CharTable() const override;

    static const TStringFormatXX& Instance();
};

// Registry of formats. The six formats above are registered, in that order, before first use.
// A format with the code of a registered one replaces it; code -1 is never registered.
void RegisterStringFormats(std::initializer_list<const TStringFormat*> formats);
// Code -1 means DefaultStringFormat; null when no registered format has the code.
const TStringFormat* FindStringFormat(int code);
std::vector<const TStringFormat*> RegisteredStringFormats();

// length below 0: up to the first zero byte. Raise EStringFormat for an unknown code or input
// the format rejects.
std::string BinaryToFormattedText(const void* data, std::ptrdiff_t length, int format);
std::string FormattedTextToBinary(const char* text, std::ptrdiff_t length, int format);
inline std::string BinaryToFormattedText(std::string_view bytes, int format) {
    return BinaryToFormattedText(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size()), format);
}
inline std::string FormattedTextToBinary(std::string_view text, int format) {
    return FormattedTextToBinary(text.data(), static_cast<std::ptrdiff_t>(text.size()), format);
}

}  // namespace zip
